// Commands too long to hold whole (a raster image, stored graphics, stored images of many MB)
// are taken piece by piece: named by their header and length as a whole command is, drawn row by
// row, and the interpreter's memory does not grow with their length, nor with a line that never
// ends. (This program counts its heap: see support/live_heap.h.)
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "receipt/command_decoder.h"
#include "receipt/decoding.h"
#include "receipt_test_support.h"
#include "support/live_heap.h"

namespace pellory::receipt::test {
namespace {

using pellory::test::LiveHeapBytes;

constexpr size_t kPiece = 64 * 1024;
// What the interpreter may hold at most while it takes a command of 16 MB.
constexpr long long kHeapBound = 2 << 20;

// A stream made of parts: given bytes, or a run of one byte value, fed in pieces as it is made,
// so that the test itself never holds it whole.
struct Part {
    Bytes bytes;
    size_t run = 0;  // when bytes is empty: this many 0x5A
};

struct Feeding {
    std::vector<std::string> lines;  // the decoding, when decoded
    long long peakGrowth = 0;        // the heap's largest growth over the feeding
};

template <typename Reader>  // an Interpreter or a CommandDecoder
Feeding FeedInPieces(Reader& interpreter, const std::vector<Part>& parts, bool decode) {
    Feeding result;
    if (decode) interpreter.setDecodeSink([&](const DecodedCommand& c) { result.lines.push_back(FormatDecoded(c)); });
    const Bytes run(kPiece, 0x5A);
    const long long before = LiveHeapBytes();
    auto feed = [&](const uint8_t* p, size_t n) {
        interpreter.feed(p, n);
        result.peakGrowth = std::max(result.peakGrowth, LiveHeapBytes() - before);
    };
    for (const Part& part : parts) {
        if (!part.bytes.empty()) feed(part.bytes.data(), part.bytes.size());
        for (size_t left = part.run; left > 0;) {
            const size_t n = std::min(left, run.size());
            feed(run.data(), n);
            left -= n;
        }
    }
    interpreter.finish();
    result.peakGrowth = std::max(result.peakGrowth, LiveHeapBytes() - before);
    return result;
}

struct LongCase {
    const char* name;
    std::vector<Part> parts;  // the command; "AB" LF follows it
    std::string line;         // its line of the decoding
    const char* next;         // the offset of "AB"
};

std::vector<LongCase> LongCases() {
    return {
        {"raster image of 65535 x 256 bytes",
         {{B({0x1D, 0x76, 0x30, 0x00, 0xFF, 0xFF, 0x00, 0x01})}, {{}, 65535u * 256}},
         "0000  1D 76 30 00 FF FF 00 01 5A 5A 5A 5A ... (16776968 bytes)  GS v 0 00 FF FF 00 01  "
         "raster image, normal: 524280 x 256 dots",
         "FFFF08"},
        {"graphics of another function, 16 MiB",
         {{B({0x1D, 0x38, 0x4C, 0x00, 0x00, 0x00, 0x01})}, {{}, 1u << 24}},
         "0000  1D 38 4C 00 00 00 01 5A 5A 5A 5A 5A ... (16777223 bytes)  GS 8 4C 00 00 00 01 5A ...  "
         "graphics (32-bit length): function 90 (not drawn)",
         "1000007"},
        {"print-buffer graphics of 4000 x 33554 dots",
         {{B({0x1D, 0x38, 0x4C, 0x32, 0xFF, 0xFF, 0x00, 0x30, 0x70, 0x30, 0x01, 0x01, 0x31, 0xA0, 0x0F, 0x12, 0x83})},
          {{}, 500u * 33554}},
         "0000  1D 38 4C 32 FF FF 00 30 70 30 01 01 ... (16777017 bytes)  GS 8 4C 32 FF FF 00 30 ...  "
         "graphics (32-bit length): store in the print buffer, raster, 4000 x 33554 dots, x1 y1, colour 1",
         "FFFF39"},
        {"two stored images of 8 MiB",
         {{B({0x1C, 0x71, 0x02, 0x00, 0x04, 0x00, 0x04})}, {{}, 8u << 20}, {B({0x00, 0x04, 0x00, 0x04})}, {{}, 8u << 20}},
         "0000  1C 71 02 00 04 00 04 5A 5A 5A 5A 5A ... (16777227 bytes)  FS q 02 00 04 00 04 5A ...  store images: 2",
         "100000B"},
    };
}

TEST(ReceiptLongCommands, AreNamedAsAWholeCommandAndHeldInBoundedMemory) {
    for (const LongCase& c : LongCases()) {
        std::vector<Part> parts = c.parts;
        parts.push_back({T("AB\n")});
        {
            CommandDecoder decoder;
            const Feeding decoded = FeedInPieces(decoder, parts, true);
            ASSERT_EQ(decoded.lines.size(), 3u) << c.name;
            EXPECT_EQ(decoded.lines[0], c.line) << c.name;
            EXPECT_EQ(decoded.lines[1], std::string(c.next) + "  41 42  \"AB\"") << c.name;
            EXPECT_LE(decoded.peakGrowth, kHeapBound) << c.name << ", decoding";
        }
        Interpreter printer;
        const Feeding drawn = FeedInPieces(printer, parts, false);
        EXPECT_LE(drawn.peakGrowth, kHeapBound) << c.name << ", drawing";
        EXPECT_GT(printer.paper().inkDots(), 0u) << c.name << ": the text after it is drawn";
    }
}

TEST(ReceiptLongCommands, CutShortTheyAreNamedWithHowMuchCame) {
    struct Case {
        Bytes stream;
        std::string line;
    };
    const Bytes data(1000, 0x5A);
    const std::vector<Case> cases = {
        {Cat({B({0x1D, 0x76, 0x30, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}), data}),
         "0000  1D 76 30 00 FF FF FF FF 5A 5A 5A 5A ... (1008 bytes)  GS v 0 00 FF FF FF FF  raster image, normal: "
         "524280 x 65535 dots; incomplete: the stream ends after 1008 of 4294836233 bytes"},
        // The second image's header never came: the whole length is not known.
        {Cat({B({0x1C, 0x71, 0x02, 0x00, 0x01, 0x00, 0x01}), data}),
         "0000  1C 71 02 00 01 00 01 5A 5A 5A 5A 5A ... (1007 bytes)  FS q 02 00 01 00 01 5A ...  store images: 2; "
         "incomplete: the stream ends after 1007 bytes"},
        // A header cut short names the command by its introducer only, as before.
        {B({0x1D, 0x76, 0x30, 0x00, 0x10}), "0000  1D 76 30 00 10  GS v  unknown"},
    };
    for (const Case& c : cases) {
        const std::vector<DecodedCommand> decoded = DecodeCommands(c.stream.data(), c.stream.size());
        ASSERT_EQ(decoded.size(), 1u);
        EXPECT_EQ(FormatDecoded(decoded[0]), c.line);
    }
}

TEST(ReceiptLongCommands, ALongRasterImageDrawsEveryDotWhateverThePieces) {
    // 48 x 1500 bytes: more than is ever held whole, in each of the four modes.
    const size_t xBytes = 48, rows = 1500;
    std::mt19937 rng(11);
    Bytes data(xBytes * rows);
    for (uint8_t& v : data) v = static_cast<uint8_t>(rng());
    for (int m = 0; m < 4; ++m) {
        const int sx = (m & 1) ? 2 : 1, sy = (m & 2) ? 2 : 1;
        const Bytes stream = Cat({B({0x1D, 0x76, 0x30, m, static_cast<int>(xBytes), 0, static_cast<int>(rows & 0xFF),
                                     static_cast<int>(rows >> 8)}),
                                  data, T("X\n")});
        for (const size_t piece : {size_t{1} << 20, size_t{777}, kPiece + 3}) {
            Interpreter i;
            for (size_t at = 0; at < stream.size(); at += piece) i.feed(stream.data() + at, std::min(piece, stream.size() - at));
            const Paper& p = i.paper();
            ASSERT_EQ(i.position(), static_cast<int64_t>(rows) * sy + 33) << "mode " << m << ", pieces of " << piece;
            for (int64_t y = 0; y < static_cast<int64_t>(rows) * sy; ++y) {
                for (int x = 0; x < 384; ++x) {
                    const int64_t sxp = x / sx, syp = y / sy;
                    const bool bit = (data[static_cast<size_t>(syp) * xBytes + static_cast<size_t>(sxp / 8)] >> (7 - sxp % 8)) & 1;
                    ASSERT_EQ(p.dot(x, y), bit) << "mode " << m << ", pieces of " << piece << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(ReceiptLongCommands, ALineThatNeverEndsHoldsBoundedMemory) {
    struct Case {
        const char* name;
        Bytes command;  // repeated without a line feed
    };
    const std::vector<Case> cases = {
        {"bit images past the right edge", B({0x1B, 0x2A, 0x00, 0x01, 0x00, 0xFF})},
        {"bit images without columns", B({0x1B, 0x2A, 0x21, 0x00, 0x00})},
        {"characters at one absolute position", B({0x1B, 0x24, 0x10, 0x00, 0x41})},
    };
    for (const Case& c : cases) {
        Bytes piece;
        while (piece.size() + c.command.size() <= kPiece) piece.insert(piece.end(), c.command.begin(), c.command.end());
        Interpreter printer;
        std::vector<Part> parts(100, Part{piece});  // 6.5 MB
        const Feeding fed = FeedInPieces(printer, parts, false);
        EXPECT_LE(fed.peakGrowth, kHeapBound) << c.name;
    }
}

}  // namespace
}  // namespace pellory::receipt::test
