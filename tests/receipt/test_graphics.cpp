// Graphics and stored pictures: GS ( L and GS 8 L (print buffer, NV and downloaded graphics), FS q /
// FS p and GS * / GS /. Dots exactly where the bits say, the same picture through every form,
// stored pictures kept across receipts until deleted, capacities that bound memory, and the logos
// of the shared streams (../shared/escpos-corpus/, read where they lie). (This program counts its
// heap: see support/live_heap.h.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>

#include "receipt/decoding.h"
#include "picture_forms.h"
#include "receipt_test_support.h"
#include "support/live_heap.h"

#ifndef PELLORY_ESCPOS_CORPUS
#error "PELLORY_ESCPOS_CORPUS names the folder of the streams"
#endif

namespace pellory::receipt::test {
namespace {

// The paper holds the picture, scaled, at its top left corner and no other ink.
::testing::AssertionResult HoldsPicture(const Paper& paper, const Picture& p, int sx, int sy, int x0 = 0,
                                        int64_t y0 = 0) {
    if (paper.firstRow() > y0 || paper.endRow() < y0 + static_cast<int64_t>(p.h) * sy) {
        return ::testing::AssertionFailure() << "the paper ends at row " << paper.endRow();
    }
    for (int64_t y = paper.firstRow(); y < paper.endRow(); ++y) {
        for (int x = 0; x < paper.width(); ++x) {
            const int px = (x - x0) / sx;
            const int64_t py = (y - y0) / sy;
            const bool inside = x >= x0 && y >= y0 && px < p.w && py < p.h;
            const bool want = inside && p.at(px, static_cast<int>(py));
            if (paper.dot(x, y) != want)
                return ::testing::AssertionFailure() << "dot " << x << "," << y << " is " << paper.dot(x, y);
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(ReceiptGraphics, EveryFormDrawsTheSameDotsWhereTheBitsSay) {
    // A small picture every form can carry, one past 64 KiB for the forms with a long length (and
    // wider than the paper: cut at its edge), one of a width that is no whole byte.
    const std::vector<Picture> pictures = {RandomPicture(24, 24, 1), RandomPicture(1024, 520, 2),
                                           RandomPicture(21, 13, 3)};
    int checked = 0;
    for (const Form& form : Forms()) {
        for (const Picture& picture : pictures) {
            for (const auto& [sx, sy] : {std::pair{1, 1}, {2, 1}, {1, 2}, {2, 2}}) {
                const std::optional<Bytes> stream = form.encode(picture, sx, sy);
                if (!stream) continue;
                SCOPED_TRACE(std::string(form.name) + ", " + std::to_string(picture.w) + " x " +
                             std::to_string(picture.h) + " dots, x" + std::to_string(sx) + " y" + std::to_string(sy));
                EXPECT_TRUE(HoldsPicture(Render(*stream), picture, sx, sy));
                // In pieces of 1000 bytes (the long forms taken over as they come) the dots are the same.
                if (stream->size() > 64 * 1024) {
                    Interpreter i;
                    for (size_t at = 0; at < stream->size(); at += 1000)
                        i.feed(stream->data() + at, std::min<size_t>(1000, stream->size() - at));
                    i.finish();
                    EXPECT_TRUE(HoldsPicture(i.paper(), picture, sx, sy));
                }
                ++checked;
            }
        }
    }
    EXPECT_GE(checked, 40);
}

TEST(ReceiptGraphics, ThePrintBufferTakesEachColourOnceAndPrintsThemTogether) {
    const Picture a = RandomPicture(40, 16, 4), b = RandomPicture(40, 16, 5);
    Picture both = a, none{40, 16, std::vector<bool>(40 * 16)}, aOverB = a;
    for (size_t i = 0; i < both.dots.size(); ++i) both.dots[i] = a.dots[i] || b.dots[i];
    aOverB.h = 32;
    aOverB.dots.insert(aOverB.dots.end(), b.dots.begin(), b.dots.end());
    struct Case {
        const char* name;
        Bytes stream;
        const Picture& expected;
    };
    const std::vector<Case> cases = {
        {"a second picture of colour 1 is ignored",
         Cat({GsL(BufferBody(true, a, 1, 1)), GsL(BufferBody(true, b, 1, 1)), kPrintBuffer}), a},
        {"colours 1 and 2 print as one picture",
         Cat({GsL(BufferBody(true, a, 1, 1)), GsL(BufferBody(false, b, 1, 1, 50)), kPrintBuffer}), both},
        {"the print empties the buffer",
         Cat({GsL(BufferBody(true, a, 1, 1)), kPrintBuffer, kPrintBuffer, GsL(BufferBody(true, b, 1, 1)),
              kPrintBuffer}),
         aOverB},
        {"nothing prints without a print", Cat({GsL(BufferBody(true, a, 1, 1)), B({0x1B, 0x4A, 16})}), none},
        {"an unknown colour is ignored", Cat({GsL(BufferBody(true, a, 1, 1, 53)), kPrintBuffer, B({0x1B, 0x4A, 16})}),
         none},
    };
    for (const Case& c : cases) {
        Interpreter i;
        i.feed(c.stream);
        EXPECT_TRUE(HoldsPicture(i.paper(), c.expected, 1, 1)) << c.name;
    }
}

TEST(ReceiptGraphics, StoredPicturesOutliveReceiptsUntilDeleted) {
    const Picture logo = RandomPicture(48, 16, 6);
    const Bytes defineAll =
        Cat({GsL(DefineBody(67, "L1", logo)), GsL(DefineBody(68, "L2", logo)), GsL(DefineBody(83, "D1", logo)),
             B({0x1C, 0x71, 1, 6, 0, 2, 0}), ColumnData(logo), B({0x1D, 0x2A, 6, 2}), ColumnData(logo)});
    const Bytes receiptEnd = Cat({T("thank you\n"), B({0x1D, 0x56, 0x42, 0x10, 0x1B, 0x40})});  // a cut, then ESC @
    struct Case {
        const char* name;
        Bytes after;   // after the definitions and a whole receipt
        bool printed;  // the picture prints
    };
    const std::vector<Case> cases = {
        {"NV graphics", PrintKey(69, "L1"), true},
        {"NV graphics, column", PrintKey(69, "L2"), true},
        {"downloaded graphics", PrintKey(85, "D1"), true},
        {"NV bit image", B({0x1C, 0x70, 1, 0}), true},
        {"NV graphics deleted", Cat({GsL(B({0x30, 66, 'L', '1'})), PrintKey(69, "L1")}), false},
        {"another key deleted", Cat({GsL(B({0x30, 66, 'L', '2'})), PrintKey(69, "L1")}), true},
        {"all NV graphics deleted", Cat({GsL(B({0x30, 65, 'C', 'L', 'R'})), PrintKey(69, "L2")}), false},
        {"downloaded graphics deleted", Cat({GsL(B({0x30, 82, 'D', '1'})), PrintKey(85, "D1")}), false},
        {"NV bit images replaced by FS q", Cat({B({0x1C, 0x71, 1, 1, 0, 1, 0}), Bytes(8, 0), B({0x1C, 0x70, 1, 0})}),
         false},
        {"an NV bit image past the number stored", B({0x1C, 0x70, 2, 0}), false},
        {"the downloaded bit image (ESC @ clears it)", B({0x1D, 0x2F, 0}), false},
    };
    for (const Case& c : cases) {
        Interpreter i;
        i.feed(Cat({defineAll, receiptEnd}));
        i.clearPaper();  // a new receipt on a new paper, the same printer
        i.feed(c.after);
        if (c.printed) {
            EXPECT_TRUE(HoldsPicture(i.paper(), logo, 1, 1)) << c.name;
        } else {
            EXPECT_EQ(i.paper().inkDots(), 0u) << c.name;
        }
    }
    // GS * / GS / without ESC @ between: the downloaded bit image prints.
    Interpreter i;
    i.feed(Cat({defineAll, T("thank you\n"), B({0x1D, 0x56, 0x42, 0x10})}));
    i.clearPaper();
    i.feed(B({0x1D, 0x2F, 0}));
    EXPECT_TRUE(HoldsPicture(i.paper(), logo, 1, 1)) << "downloaded bit image";
}

TEST(ReceiptGraphics, CapacitiesBoundTheStoredPictures) {
    // Pictures of 4000 x 120 dots (60,000 bytes each): four fit the 256 KiB of NV graphics, the fifth
    // does not (and changes nothing); replacing a key's picture takes its room.
    const Picture big = RandomPicture(4000, 120, 7);
    const Bytes first = GsL(DefineBody(67, "K1", big));
    Interpreter i;
    for (const char* key : {"K1", "K2", "K3", "K4", "K5"}) i.feed(GsL(DefineBody(67, key, big)));
    i.feed(GsL(DefineBody(67, "K1", big)));  // replaced in place: still fits
    const Picture small = RandomPicture(24, 8, 8);
    struct Case {
        const char* name;
        Bytes stream;
        bool printed;
    };
    const std::vector<Case> cases = {
        {"the first", PrintKey(69, "K1"), true},
        {"the fourth", PrintKey(69, "K4"), true},
        {"the fifth, past the capacity", PrintKey(69, "K5"), false},
    };
    for (const Case& c : cases) {
        i.clearPaper();
        i.feed(c.stream);
        EXPECT_EQ(i.paper().inkDots() > 0, c.printed) << c.name;
    }
    // Deleting one makes room for another.
    i.feed(Cat({GsL(B({0x30, 66, 'K', '2'})), GsL(DefineBody(67, "K5", small))}));
    i.clearPaper();
    i.feed(PrintKey(69, "K5"));
    EXPECT_TRUE(HoldsPicture(i.paper(), small, 1, 1));

    // Definitions longer than 64 KiB (GS 8 L, FS q) are kept when they fit, and not past the
    // capacity, whether they come whole or in pieces.
    const Picture longer = RandomPicture(4000, 140, 9), longest = RandomPicture(4000, 540, 10);
    const Picture image = RandomPicture(384, 1400, 11);
    struct Long {
        const char* name;
        Bytes stream;
        const Picture* printed;
    };
    const std::vector<Long> longs = {
        {"NV graphics of 70,000 bytes", Cat({Gs8L(DefineBody(67, "L1", longer)), PrintKey(69, "L1")}), &longer},
        {"downloaded graphics of 70,000 bytes", Cat({Gs8L(DefineBody(83, "L1", longer)), PrintKey(85, "L1")}), &longer},
        {"NV graphics past the capacity", Cat({Gs8L(DefineBody(67, "L1", longest)), PrintKey(69, "L1")}), nullptr},
        {"an NV bit image of 67,200 bytes",
         Cat({B({0x1C, 0x71, 1, 48, 0, 175, 0}), ColumnData(image), B({0x1C, 0x70, 1, 0})}), &image},
    };
    for (const Long& c : longs) {
        for (const size_t piece : {c.stream.size(), size_t{1000}, size_t{40000}}) {
            Interpreter fresh;
            for (size_t at = 0; at < c.stream.size(); at += piece)
                fresh.feed(c.stream.data() + at, std::min(piece, c.stream.size() - at));
            if (c.printed) {
                EXPECT_TRUE(HoldsPicture(fresh.paper(), *c.printed, 1, 1)) << c.name << ", pieces of " << piece;
            } else {
                EXPECT_EQ(fresh.paper().inkDots(), 0u) << c.name << ", pieces of " << piece;
            }
        }
    }

    // However many pictures a stream defines, the memory stays within the capacities.
    Interpreter printer;
    const long long before = pellory::test::LiveHeapBytes();
    long long peak = 0;
    for (int k = 0; k < 300; ++k) {
        const std::string key = {static_cast<char>(33 + k % 90), static_cast<char>(33 + k / 90)};
        printer.feed(GsL(DefineBody(k % 2 ? 67 : 83, key, big)));
        peak = std::max(peak, pellory::test::LiveHeapBytes() - before);
    }
    EXPECT_LT(peak, 2 * 256 * 1024 + 512 * 1024) << "bytes held after 18 MB of definitions";

    // A print buffer of a very wide and a very tall picture prints no more than the paper's width.
    const Picture wide = RandomPicture(60000, 1, 10), tall = RandomPicture(8, 800, 11);
    Interpreter buffer;
    const Bytes stream = Cat({GsL(BufferBody(true, wide, 2, 2)), GsL(BufferBody(true, tall, 2, 2, 50)), kPrintBuffer});
    pellory::test::ResetPeakHeap();
    const long long start = pellory::test::LiveHeapBytes();
    buffer.feed(stream);
    EXPECT_LT(pellory::test::PeakHeapBytes() - start, 4 << 20) << "bytes held to print 9 KB of graphics";
    EXPECT_GT(buffer.paper().inkDots(), 0u);
}

TEST(ReceiptGraphics, DecodingNamesEachCommandAndKeepsTheStreamInStep) {
    const Picture p = RandomPicture(16, 8, 9);
    struct Case {
        Bytes command;
        std::string meaning;
    };
    const std::vector<Case> cases = {
        {GsL(BufferBody(true, p, 2, 1)), "graphics: store in the print buffer, raster, 16 x 8 dots, x2 y1, colour 1"},
        {GsL(BufferBody(false, p, 1, 2, 50)),
         "graphics: store in the print buffer, column, 16 x 8 dots, x1 y2, colour 2"},
        {kPrintBuffer, "graphics: print the print buffer's graphics"},
        {GsL(B({0x30, 0x02})), "graphics: print the print buffer's graphics"},
        {GsL(B({0x30, 49, 50, 51})), "graphics: reference dot density 180 x 360 dpi"},
        {GsL(B({0x30, 48})), "graphics: send the NV graphics capacity (no answer here)"},
        {GsL(DefineBody(67, "A1", p)), "graphics: define NV graphics \"A1\", raster, 16 x 8 dots, 1 colour"},
        {GsL(DefineBody(84, "B2", p)), "graphics: define downloaded graphics \"B2\", column, 16 x 8 dots, 1 colour"},
        {PrintKey(69, "A1", 2, 2), "graphics: print NV graphics \"A1\", x2 y2"},
        {GsL(B({0x30, 66, 'A', '1'})), "graphics: delete NV graphics \"A1\""},
        {GsL(B({0x30, 65, 'C', 'L', 'R'})), "graphics: delete all NV graphics"},
        {GsL(B({0x30, 64, 'K', 'C'})), "graphics: send the NV graphics keys (no answer here)"},
        {Gs8L(BufferBody(true, p, 1, 1)),
         "graphics (32-bit length): store in the print buffer, raster, 16 x 8 dots, x1 y1, colour 1"},
        {Cat({B({0x1C, 0x71, 1, 2, 0, 1, 0}), ColumnData(p)}), "store images: 1"},
        {B({0x1C, 0x70, 1, 51}), "print stored image 1, quadruple"},
        {Cat({B({0x1D, 0x2A, 2, 1}), ColumnData(p)}), "define downloaded image: 16 x 8 dots"},
        {B({0x1D, 0x2F, 1}), "print downloaded image, double width"},
    };
    for (const Case& c : cases) {
        const Bytes stream = Cat({c.command, T("AB\n")});
        const std::vector<DecodedCommand> d = DecodeCommands(stream.data(), stream.size());
        ASSERT_EQ(d.size(), 3u) << c.meaning;
        EXPECT_TRUE(d[0].known) << c.meaning;
        EXPECT_EQ(d[0].meaning, c.meaning);
        EXPECT_EQ(d[1].offset, c.command.size()) << c.meaning;
        EXPECT_EQ(d[1].meaning, "\"AB\"") << c.meaning;
    }
}

// Every shared stream with print-buffer graphics prints each picture it stores: the rows of each
// print hold the picture (at the stream's alignment) and nothing else.
TEST(ReceiptGraphics, EveryCorpusLogoIsDrawn) {
    namespace fs = std::filesystem;
    int logos = 0;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(PELLORY_ESCPOS_CORPUS)) {
        if (!e.is_regular_file() || e.path().filename() == "README.md") continue;
        std::ifstream in(e.path(), std::ios::binary);
        const Bytes stream{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        SCOPED_TRACE(e.path().string());
        std::optional<DecodedCommand> stored;
        for (const DecodedCommand& c : DecodeCommands(stream.data(), stream.size())) {
            const Bytes& b = c.bytes;
            const bool gsL = b.size() >= 7 && b[0] == 0x1D && b[1] == 0x28 && b[2] == 0x4C;
            if (gsL && b[6] == 112 && b.size() > 15) stored = c;
            if (!gsL || !stored || (b[6] != 50 && b[6] != 2)) continue;
            // Store, print: the picture of the store, scaled.
            const Bytes& s = stored->bytes;
            Picture p{static_cast<int>(s[11] | s[12] << 8), static_cast<int>(s[13] | s[14] << 8), {}};
            const int stride = (p.w + 7) / 8, sx = s[8], sy = s[9];
            for (int y = 0; y < p.h; ++y)
                for (int x = 0; x < p.w; ++x)
                    p.dots.push_back((s[15 + static_cast<size_t>(y * stride + x / 8)] >> (7 - x % 8)) & 1);
            Interpreter i;
            i.feed(stream.data(), c.offset + c.bytes.size());
            const int64_t top = i.position() - static_cast<int64_t>(p.h) * sy;
            bool found = false;
            // (a picture wider than the paper is cut at its right edge)
            for (int x0 = 0; x0 <= std::max(0, i.paper().width() - p.w * sx) && !found; ++x0) {
                found = true;
                for (int64_t y = 0; y < static_cast<int64_t>(p.h) * sy && found; ++y)
                    for (int x = 0; x < i.paper().width() && found; ++x) {
                        const bool inside = x >= x0 && x < x0 + p.w * sx;
                        found = i.paper().dot(x, top + y) == (inside && p.at((x - x0) / sx, static_cast<int>(y / sy)));
                    }
            }
            EXPECT_TRUE(found) << "the picture stored at " << stored->offset << " and printed at " << c.offset;
            stored.reset();
            ++logos;
        }
    }
    EXPECT_GE(logos, 9);  // graphics.bin 4, demo.bin 4, receipt-with-logo.bin 1
}

}  // namespace
}  // namespace pellory::receipt::test
