// Drawing a stream offline: the whole roll as one picture, or a picture per receipt (from cut to
// cut, the printed rest last), one receipt held at a time, and the bound on a picture's height.
#include <gtest/gtest.h>

#include <functional>

#include "receipt/offline_roll.h"
#include "receipt_test_support.h"

namespace pellory::receipt::test {
namespace {

const Bytes kCut = B({0x1D, 0x56, 0x42, 0x00});  // GS V 66 0: cut where the paper is

Bytes Lines(const std::string& text, int count) {
    Bytes out;
    for (int i = 0; i < count; ++i) out = Cat({out, T(text + " " + std::to_string(i) + "\n")});
    return out;
}

struct Picture {
    int64_t from = 0, to = 0;
    size_t ink = 0;
    int64_t firstKept = 0;  // the oldest row the paper still held when it was handed out
    int64_t endKept = 0;
};

struct Drawn {
    std::vector<Picture> pictures;
    bool fed = true, finished = true, tooTall = false;
};

// piece: the stream is fed in pieces of this many bytes.
Drawn Draw(const Bytes& stream, OfflineRoll::Pieces pieces, int64_t maxRows = OfflineRoll::kMaxPictureRows,
           size_t refuseAfter = SIZE_MAX, int64_t continueAfter = 0, size_t piece = 1000,
           std::function<bool()> watch = {}, bool* watched = nullptr) {
    Drawn d;
    OfflineRoll roll(kOrva58Dots, pieces, [&](const Paper& p, int64_t from, int64_t to) {
        Picture pic{from, to, 0, p.firstRow(), p.endRow()};
        for (int64_t y = from; y < to; ++y)
            for (int x = 0; x < p.width(); ++x) pic.ink += p.dot(x, y);
        d.pictures.push_back(pic);
        return d.pictures.size() < refuseAfter;
    }, maxRows, continueAfter);
    roll.setWatch(std::move(watch));
    for (size_t at = 0; at < stream.size() && d.fed; at += piece) {
        d.fed = roll.feed(stream.data() + at, std::min<size_t>(piece, stream.size() - at));
    }
    d.finished = roll.finish();
    d.tooTall = roll.tooTall();
    if (watched) *watched = roll.watched();
    EXPECT_EQ(roll.pictures(), d.pictures.size());
    return d;
}

TEST(OfflineRoll, EachReceiptIsThePaperFromCutToCutAndThePrintedRestComesLast) {
    const std::vector<Bytes> receipts = {Lines("first", 3), Lines("second", 5), Lines("third", 1)};
    const Bytes rest = Lines("rest", 2);
    const Drawn d = Draw(Cat({receipts[0], kCut, receipts[1], kCut, receipts[2], kCut, rest}), OfflineRoll::Pieces::EachReceipt);
    ASSERT_TRUE(d.finished);
    ASSERT_EQ(d.pictures.size(), 4u);
    int64_t top = 0;
    for (size_t i = 0; i < 4; ++i) {
        const Bytes& alone = i < 3 ? receipts[i] : rest;
        const Paper paper = Render(alone);
        const Picture& pic = d.pictures[i];
        EXPECT_EQ(pic.from, top) << "receipt " << i;
        EXPECT_EQ(pic.to - pic.from, paper.endRow()) << "receipt " << i;
        EXPECT_EQ(pic.ink, paper.inkDots()) << "receipt " << i;
        // The receipts before it were let go: the paper holds this one (and the cut's row) only.
        EXPECT_EQ(pic.firstKept, pic.from) << "receipt " << i;
        EXPECT_LE(pic.endKept, pic.to + 1) << "receipt " << i;
        top = pic.to + 1;  // past the cut's row
    }
}

TEST(OfflineRoll, NothingIsAPictureOfNoPaperOrOfAnUnprintedRest) {
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<int64_t> heights;
    };
    const std::vector<Case> cases = {
        {"two cuts in a row", Cat({Lines("a", 1), kCut, kCut, Lines("b", 1), kCut}), {33, 33}},
        {"blank paper fed after the last cut", Cat({Lines("a", 2), kCut, B({0x1B, 0x4A, 200})}), {66}},
        {"blank paper cut off between receipts", Cat({Lines("a", 1), kCut, B({0x1B, 0x4A, 100}), kCut}), {33, 100}},
        {"nothing at all", Bytes{}, {}},
    };
    for (const Case& c : cases) {
        const Drawn d = Draw(c.stream, OfflineRoll::Pieces::EachReceipt);
        std::vector<int64_t> heights;
        for (const Picture& p : d.pictures) heights.push_back(p.to - p.from);
        EXPECT_EQ(heights, c.heights) << c.name;
    }
}

TEST(OfflineRoll, TheWholeRollKeepsEveryRowPastTheLiveViewsTwoMetres) {
    Bytes stream;
    for (int r = 0; r < 40; ++r) stream = Cat({stream, Lines("item", 20), kCut});
    const Drawn d = Draw(stream, OfflineRoll::Pieces::WholeRoll);
    ASSERT_EQ(d.pictures.size(), 1u);
    const Picture& pic = d.pictures[0];
    EXPECT_EQ(pic.from, 0);
    EXPECT_EQ(pic.to, 40 * (20 * 33 + 1));
    EXPECT_GT(pic.to, Paper::kMaxRows);
    EXPECT_EQ(pic.ink, 40 * Render(Lines("item", 20)).inkDots());
}

TEST(OfflineRoll, APictureTallerThanTheBoundStopsTheDrawingWithNothingOfIt) {
    struct Case {
        const char* name;
        OfflineRoll::Pieces pieces;
        Bytes stream;
        size_t pictures;  // handed out before the drawing stopped
    };
    Bytes tall;
    for (int i = 0; i < 6; ++i) tall = Cat({tall, B({0x1B, 0x4A, 250})});  // 1,500 rows
    const Bytes shortReceipt = Cat({Lines("short", 10), kCut});            // 331 rows
    const std::vector<Case> cases = {
        {"the whole roll", OfflineRoll::Pieces::WholeRoll, Cat({shortReceipt, shortReceipt, shortReceipt, shortReceipt}), 0},
        {"a receipt after two that fit", OfflineRoll::Pieces::EachReceipt, Cat({shortReceipt, shortReceipt, T("x\n"), tall, kCut}), 2},
        {"the rest after the last cut", OfflineRoll::Pieces::EachReceipt, Cat({shortReceipt, T("x\n"), tall}), 1},
    };
    for (const Case& c : cases) {
        const Drawn d = Draw(c.stream, c.pieces, 1000);
        EXPECT_TRUE(d.tooTall) << c.name;
        EXPECT_FALSE(d.finished) << c.name;
        EXPECT_EQ(d.pictures.size(), c.pictures) << c.name;
    }
    // Up to the bound itself, it is drawn.
    const Drawn fits = Draw(Cat({shortReceipt, shortReceipt, shortReceipt}), OfflineRoll::Pieces::WholeRoll, 3 * 331);
    EXPECT_FALSE(fits.tooTall);
    ASSERT_EQ(fits.pictures.size(), 1u);
    EXPECT_EQ(fits.pictures[0].to, 3 * 331);
}

// A receipt taller than the height given continues in further pictures of that height: every row
// and every dot is in exactly one picture, in order, none taller, and a cut still ends a receipt.
TEST(OfflineRoll, AReceiptTallerThanTheGivenHeightContinuesInFurtherPictures) {
    struct Case {
        const char* name;
        Bytes stream;
        int64_t continueAfter;
        std::vector<int64_t> heights;
    };
    Bytes blankFeed;
    for (int i = 0; i < 8; ++i) blankFeed = Cat({blankFeed, B({0x1B, 0x4A, 250})});  // 2,000 rows in a few bytes
    const std::vector<Case> cases = {
        {"ten lines, then a cut", Cat({Lines("tall", 10), kCut}), 100, {100, 100, 100, 30}},
        {"exactly the height", Cat({Lines("x", 3), kCut, Lines("y", 1), kCut}), 99, {99, 33}},
        {"tall receipt, then a short one and a rest", Cat({Lines("a", 7), kCut, Lines("b", 2), kCut, Lines("c", 4)}), 100,
         {100, 100, 31, 66, 100, 32}},
        {"long blank feeds between lines", Cat({T("top\n"), blankFeed, T("bottom\n"), kCut}), 500,
         {500, 500, 500, 500, 66}},
    };
    for (const Case& c : cases) {
        const Drawn d = Draw(c.stream, OfflineRoll::Pieces::EachReceipt, 1000, SIZE_MAX, c.continueAfter);
        EXPECT_TRUE(d.finished) << c.name;
        EXPECT_FALSE(d.tooTall) << c.name;
        std::vector<int64_t> heights;
        size_t ink = 0;
        for (const Picture& p : d.pictures) {
            heights.push_back(p.to - p.from);
            ink += p.ink;
        }
        EXPECT_EQ(heights, c.heights) << c.name;
        // Nothing lost: the pieces hold the ink of the whole roll.
        EXPECT_EQ(ink, Draw(c.stream, OfflineRoll::Pieces::WholeRoll, 100000).pictures.at(0).ink) << c.name;
    }
}

// A take that refuses (a picture that could not be written) ends the drawing there: nothing after
// it is drawn, so what follows cannot make a picture too tall either (a second, false reason).
TEST(OfflineRoll, ATakeThatRefusesStopsTheDrawing) {
    struct Case {
        const char* name;
        Bytes stream;
        size_t refuseAfter;
    };
    Bytes receipts;
    for (int r = 0; r < 5; ++r) receipts = Cat({receipts, Lines("r", 2), kCut});
    const std::vector<Case> cases = {
        {"receipts after the one refused", receipts, 2},
        {"more lines than the bound after it", Cat({Lines("r", 2), kCut, Lines("l", 100)}), 1},
    };
    for (const Case& c : cases) {
        const Drawn d = Draw(c.stream, OfflineRoll::Pieces::EachReceipt, 1000, c.refuseAfter);
        EXPECT_EQ(d.pictures.size(), c.refuseAfter) << c.name;
        EXPECT_FALSE(d.fed) << c.name;
        EXPECT_FALSE(d.finished) << c.name;
        EXPECT_FALSE(d.tooTall) << c.name;
    }
}

// GS ! 0x77 and 4,000 characters without a line feed, in one piece: one text run of 999 lines of
// 192 dots (four characters of 96 dots a line; the last line stays unprinted).
Bytes LargeTextWithoutLineFeed() { return Cat({B({0x1D, 0x21, 0x77}), T(std::string(4000, 'W'))}); }

// A run of text longer than the picture's bound continues in further pictures as its lines print,
// as lines of their own do: none is lost, and the picture is never too tall.
TEST(OfflineRoll, ALongRunOfTextContinuesAsItsLinesPrint) {
    const Bytes stream = LargeTextWithoutLineFeed();
    const Drawn d = Draw(stream, OfflineRoll::Pieces::EachReceipt, OfflineRoll::kMaxPictureRows, SIZE_MAX,
                         Paper::kMaxRows, stream.size());
    EXPECT_FALSE(d.tooTall);
    EXPECT_TRUE(d.finished);
    std::vector<int64_t> heights;
    size_t ink = 0;
    for (const Picture& p : d.pictures) {
        heights.push_back(p.to - p.from);
        ink += p.ink;
    }
    std::vector<int64_t> expected(11, Paper::kMaxRows);
    expected.push_back(999 * 192 - 11 * Paper::kMaxRows);
    EXPECT_EQ(heights, expected);
    EXPECT_EQ(ink, Draw(stream, OfflineRoll::Pieces::WholeRoll, 200000).pictures.at(0).ink);
}

// The watch is asked inside a single command (after the lines it prints), and once it says stop
// nothing more is drawn or handed out, nor is it asked again.
TEST(OfflineRoll, AWatchThatSaysStopEndsTheDrawingThereEvenInsideOneCommand) {
    const Bytes stream = LargeTextWithoutLineFeed();
    const size_t whole = Draw(stream, OfflineRoll::Pieces::EachReceipt, OfflineRoll::kMaxPictureRows, SIZE_MAX,
                              Paper::kMaxRows, stream.size())
                             .pictures.size();
    for (const int stopAt : {1, 5, 40}) {
        int asked = 0;
        bool watched = false;
        const Drawn d = Draw(
            stream, OfflineRoll::Pieces::EachReceipt, OfflineRoll::kMaxPictureRows, SIZE_MAX, Paper::kMaxRows,
            stream.size(), [&] { return ++asked < stopAt; }, &watched);
        EXPECT_EQ(asked, stopAt) << stopAt;
        EXPECT_TRUE(watched) << stopAt;
        EXPECT_FALSE(d.fed) << stopAt;
        EXPECT_FALSE(d.finished) << stopAt;
        EXPECT_FALSE(d.tooTall) << stopAt;
        EXPECT_LT(d.pictures.size(), whole) << stopAt;
    }
}

// Tearing rows off keeps the rows after them as they were, on a scrolling roll (wrapped or not)
// and on a stopping one, whose room then serves the rows to come.
TEST(PaperBound, TearingOffKeepsTheRowsAfterAsTheyWere) {
    struct Case {
        const char* name;
        Paper::AtBound atBound;
        int64_t reach;    // rows reached before the tear
        int64_t tearAt;
    };
    for (const Case c : {Case{"scrolled past its bound", Paper::AtBound::Scroll, 25, 20},
                         Case{"within its bound", Paper::AtBound::Scroll, 8, 5},
                         Case{"stopping", Paper::AtBound::Stop, 10, 7}}) {
        Paper p(64, 10, c.atBound);
        p.extendTo(c.reach);
        for (int64_t y = p.firstRow(); y < p.endRow(); ++y) p.fill(y, static_cast<int>(y % 60), static_cast<int>(y % 60) + 3, 4);
        p.addCut(c.reach - 1);
        p.tearOff(c.tearAt);
        EXPECT_EQ(p.firstRow(), c.tearAt) << c.name;
        EXPECT_EQ(p.endRow(), c.reach) << c.name;
        EXPECT_EQ(p.cuts().size(), 1u) << c.name;
        // Room for ten rows again: the new ones are white, the kept ones keep their dots.
        p.extendTo(c.tearAt + 10);
        EXPECT_FALSE(p.overflowed()) << c.name;
        EXPECT_EQ(p.endRow(), c.tearAt + 10) << c.name;
        for (int64_t y = c.tearAt; y < p.endRow(); ++y) {
            for (int x = 0; x < 64; ++x) {
                const bool inked = y < c.reach && x >= y % 60 && x < y % 60 + 3;
                ASSERT_EQ(p.dot(x, y), inked) << c.name << " at " << x << "," << y;
            }
        }
        // A stopping paper goes no further than its bound; a scrolling one lets the oldest go.
        p.extendTo(c.tearAt + 11);
        EXPECT_EQ(p.overflowed(), c.atBound == Paper::AtBound::Stop) << c.name;
        EXPECT_EQ(p.endRow(), c.atBound == Paper::AtBound::Stop ? c.tearAt + 10 : c.tearAt + 11) << c.name;
    }
}

}  // namespace
}  // namespace pellory::receipt::test
