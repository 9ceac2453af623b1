// Long blank paper in the printer server's pictures: a run of blank paper longer than the bound
// (the 2 m roll) is drawn short, with a mark that says how long it was; runs within the bound, and every run where
// the pictures are not shortened (render), stay as long as they are.
#include <gtest/gtest.h>

#include "receipt/blank_run_mark.h"
#include "receipt/offline_roll.h"
#include "receipt_test_support.h"

namespace pellory::receipt::test {
namespace {

constexpr int kWidth = kOrva58Dots;
constexpr size_t kStride = kWidth / 8;
constexpr int64_t kLong = OfflineRoll::kLongBlankRun;
constexpr int64_t kDrawn = OfflineRoll::kShortenedBlankRun;

using Row = std::vector<uint8_t>;
using Picture = std::vector<Row>;

const Bytes kCut = B({0x1D, 0x56, 0x42, 0x00});  // GS V 66 0

// GS v 0: an image the paper's width and `rows` tall, every dot black (or white).
Bytes Image(int rows, bool black = true) {
    Bytes b = B({0x1D, 0x76, 0x30, 0x00, static_cast<int>(kStride), 0, rows & 0xFF, rows >> 8});
    b.insert(b.end(), kStride * static_cast<size_t>(rows), black ? 0xFF : 0x00);
    return b;
}
const Bytes kBar = Image(8);

// ESC J n as many times as it takes to feed `dots` (at most 255 each).
Bytes Feed(int dots) {
    Bytes b;
    for (; dots > 0; dots -= 255) b = Cat({b, B({0x1B, 0x4A, std::min(dots, 255)})});
    return b;
}

// The pictures of a stream as the printer server draws them (or render, unshortened), row by row.
std::vector<Picture> Pictures(const Bytes& stream, bool shortened) {
    std::vector<Picture> pictures;
    OfflineRoll roll(
        kWidth, OfflineRoll::Pieces::EachReceipt,
        [&](const Paper& paper, int64_t from, int64_t to) {
            Picture p;
            for (int64_t y = from; y < to; ++y) p.emplace_back(paper.row(y), paper.row(y) + kStride);
            pictures.push_back(std::move(p));
            return true;
        },
        OfflineRoll::kMaxPictureRows, Paper::kMaxRows);
    if (shortened) roll.shortenBlankRuns();
    EXPECT_TRUE(roll.feed(stream.data(), stream.size()));
    EXPECT_TRUE(roll.finish());
    return pictures;
}

// What a picture is made of, top to bottom: a black bar of 8 rows, a blank run shortened (its mark
// in the middle of the rows drawn), or blank rows as they are.
struct Part {
    enum Kind { Bar, ShortRun, Blank } kind;
    int64_t rows = 0;  // of a run: its length on paper
};

Picture Expected(const std::vector<Part>& parts) {
    Picture p;
    for (const Part& part : parts) {
        if (part.kind == Part::Bar) p.insert(p.end(), 8, Row(kStride, 0xFF));
        if (part.kind == Part::Blank) p.insert(p.end(), static_cast<size_t>(part.rows), Row(kStride, 0));
        if (part.kind != Part::ShortRun) continue;
        const size_t top = p.size();
        p.insert(p.end(), static_cast<size_t>(kDrawn), Row(kStride, 0));
        const Bitmap mark = BlankRunMark(kWidth, part.rows);
        const size_t at = top + static_cast<size_t>((kDrawn - kBlankRunMarkRows) / 2);
        for (int r = 0; r < mark.height; ++r) p[at + static_cast<size_t>(r)].assign(mark.row(r), mark.row(r) + kStride);
    }
    return p;
}

TEST(BlankRuns, ALongRunIsDrawnShortWithItsLengthAndAShortOneAsItIs) {
    struct Case {
        const char* name;
        Bytes stream;
        bool shortened;
        std::vector<std::vector<Part>> pictures;
    };
    Bytes dLines;  // 150 kB of ESC d 255: 50,000 feeds of 255 lines of 33 dots
    for (int i = 0; i < 50000; ++i) dLines = Cat({dLines, B({0x1B, 0x64, 0xFF})});
    Bytes lineFeeds = B({0x1B, 0x33, 0xFF});  // a line spacing of 255 dots, 70 line feeds
    for (int i = 0; i < 70; ++i) lineFeeds.push_back(0x0A);
    const std::vector<Case> cases = {
        {"a feed within the bound (the receipt continues past the roll)",
         Cat({kBar, Feed(kLong), kBar, kCut}),
         true,
         {{{Part::Bar}, {Part::Blank, kLong - 8}}, {{Part::Blank, 8}, {Part::Bar}}}},
        {"a feed just past it",
         Cat({kBar, Feed(kLong + 1), kBar, kCut}),
         true,
         {{{Part::Bar}, {Part::ShortRun, kLong + 1}, {Part::Bar}}}},
        {"many feeds in a row",
         Cat({kBar, Feed(50000), kBar, kCut}),
         true,
         {{{Part::Bar}, {Part::ShortRun, 50000}, {Part::Bar}}}},
        {"line feeds of a long line spacing",
         Cat({kBar, lineFeeds, kBar, kCut}),
         true,
         {{{Part::Bar}, {Part::ShortRun, 70 * 255}, {Part::Bar}}}},
        {"a blank image",
         Cat({kBar, Image(kLong + 1, false), kBar, kCut}),
         true,
         {{{Part::Bar}, {Part::ShortRun, kLong + 1}, {Part::Bar}}}},
        {"a run ended by a cut, and the next receipt",
         Cat({kBar, Feed(kLong + 3000), kCut, kBar, kCut}),
         true,
         {{{Part::Bar}, {Part::ShortRun, kLong + 3000}}, {{Part::Bar}}}},
        {"two runs, two marks",
         Cat({kBar, Feed(kLong + 1), kBar, Feed(90000), kBar, kCut}),
         true,
         // The roll's 2 m are reached inside the second run: its first rows end the first picture,
         // and its mark, in the next, gives the whole run.
         {{{Part::Bar}, {Part::ShortRun, kLong + 1}, {Part::Bar}, {Part::Blank, kLong - 8 - kDrawn - 8}},
          {{Part::ShortRun, 90000}, {Part::Bar}}}},
        {"150 kB of ESC d 255 and nothing else", dLines, true, {{{Part::ShortRun, int64_t{50000} * 255 * 33}}}},
        {"not shortened (render)",
         Cat({kBar, Feed(kLong + 1), kBar, kCut}),
         false,
         {{{Part::Bar}, {Part::Blank, kLong - 8}}, {{Part::Blank, 9}, {Part::Bar}}}},
    };
    for (const Case& c : cases) {
        const std::vector<Picture> got = Pictures(c.stream, c.shortened);
        ASSERT_EQ(got.size(), c.pictures.size()) << c.name;
        for (size_t i = 0; i < got.size(); ++i) {
            const Picture expected = Expected(c.pictures[i]);
            ASSERT_EQ(got[i].size(), expected.size()) << c.name << ", picture " << i;
            for (size_t y = 0; y < expected.size(); ++y) ASSERT_EQ(got[i][y], expected[y]) << c.name << ", row " << y;
        }
    }
}

TEST(BlankRuns, TheMarkSaysTheLengthInMillimetresBelowAMetreAndInMetresFromThere) {
    const std::vector<std::pair<int64_t, std::string>> cases = {
        {801, "100 mm of blank paper"},
        {7995, "999 mm of blank paper"},
        {7996, "1.0 m of blank paper"},
        {8000 * 25 + 400, "25.1 m of blank paper"},
        {int64_t{50000} * 255 * 33, "52,593.8 m of blank paper"},
    };
    for (const auto& [rows, text] : cases) EXPECT_EQ(BlankRunText(rows), text) << rows;
}

}  // namespace
}  // namespace pellory::receipt::test
