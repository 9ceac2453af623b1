// The drawing's byte- and word-wise inner loops against the same work done dot by dot, and the
// kept 2-D symbols against symbols made anew: the same dots either way.
#include <gtest/gtest.h>

#include <random>

#include "receipt/bit_rows.h"
#include "receipt/picture_memory.h"
#include "receipt_test_support.h"

namespace pellory::receipt::test {
namespace {

bool Dot(const uint8_t* row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
void SetDot(uint8_t* row, int x) { row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7)); }

Bytes Noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
    return b;
}

// Rows [from, to) of a paper.
Bytes Rows(const Paper& p, int64_t from, int64_t to) {
    Bytes out;
    for (int64_t y = from; y < to; ++y) out.insert(out.end(), p.row(y), p.row(y) + p.stride());
    return out;
}

struct OrCase {
    const char* name;
    int limit, x, count;
};

TEST(FastDrawing, OrDotsDrawsWhatDotByDotDraws) {
    const std::vector<OrCase> cases = {
        {"aligned, whole bytes", 384, 16, 64},
        {"aligned, a part byte at the end", 384, 8, 61},
        {"shifted by 1", 384, 9, 64},
        {"shifted by 7, a part byte", 384, 23, 45},
        {"cut at the right edge, shifted", 100, 91, 40},
        {"cut at the right edge, aligned", 96, 88, 24},
        {"ends on the edge exactly", 384, 379, 5},
        {"off the left by whole bytes", 384, -16, 40},
        {"off the left by part of a byte", 384, -5, 30},
        {"wholly past the edge", 384, 384, 16},
        {"wider than the row", 48, 3, 200},
        {"one dot", 384, 200, 1},
        {"shifted by 3, words and a part byte", 384, 3, 203},
        {"shifted by 5 to the row's last dot", 384, 5, 379},
    };
    for (const OrCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Source dots past count are set too: they must not be drawn.
        const Bytes src = Noise(static_cast<size_t>(c.count + 7) / 8 + 2, static_cast<unsigned>(c.x + 1000));
        const size_t bytes = static_cast<size_t>(c.limit + 7) / 8;
        Bytes fast = Noise(bytes, 5), slow = fast;  // drawn over earlier ink, which stays
        OrDots(fast.data(), c.limit, c.x, src.data(), c.count);
        for (int i = 0; i < c.count; ++i) {
            const int d = c.x + i;
            if (d >= 0 && d < c.limit && Dot(src.data(), i)) SetDot(slow.data(), d);
        }
        EXPECT_EQ(fast, slow);
    }
}

TEST(FastDrawing, DoubleDotsDoublesEachDot) {
    for (int count : {1, 3, 7, 8, 9, 15, 16, 17, 61, 384}) {
        SCOPED_TRACE(count);
        const Bytes src = Noise(static_cast<size_t>(count + 7) / 8, static_cast<unsigned>(count));
        const size_t out = static_cast<size_t>(2 * count + 7) / 8;
        Bytes fast(out + 1, 0xEE), slow(out, 0);  // one guard byte past the doubled dots
        DoubleDots(fast.data(), src.data(), count);
        for (int i = 0; i < count; ++i) {
            if (!Dot(src.data(), i)) continue;
            SetDot(slow.data(), 2 * i);
            SetDot(slow.data(), 2 * i + 1);
        }
        EXPECT_EQ(Bytes(fast.begin(), fast.begin() + static_cast<std::ptrdiff_t>(out)), slow);
        EXPECT_EQ(fast[out], 0xEE) << "wrote past the doubled dots";
    }
}

struct ColumnCase {
    const char* name;
    int columns, columnBytes, rows;
};

TEST(FastDrawing, ColumnsToRowsTurnsEveryColumnIntoItsRows) {
    const std::vector<ColumnCase> cases = {
        {"8-dot, whole groups", 64, 1, 8},        {"24-dot, a part group", 45, 3, 24},
        {"24-dot, rows cut", 19, 3, 13},          {"one column", 1, 3, 24},
        {"tall, 2 groups and a part", 21, 8, 64}, {"ESC * stripe of 360", 360, 3, 24},
    };
    for (const ColumnCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes data = Noise(static_cast<size_t>(c.columns * c.columnBytes), static_cast<unsigned>(c.columns));
        const size_t stride = static_cast<size_t>(c.columns + 7) / 8 + 1;  // wider than needed
        const size_t size = stride * static_cast<size_t>(c.rows);
        Bytes fast = Noise(size, 9);           // what was there goes
        fast.resize(size + 8 * stride, 0xA5);  // rows past the last: untouched
        Bytes slow(size, 0);
        ColumnsToRows(fast.data(), stride, c.rows, data.data(), c.columns, c.columnBytes);
        EXPECT_EQ(Bytes(fast.begin() + static_cast<std::ptrdiff_t>(size), fast.end()), Bytes(8 * stride, 0xA5));
        fast.resize(size);
        for (int col = 0; col < c.columns; ++col) {
            for (int y = 0; y < c.rows; ++y) {
                const uint8_t v = data[static_cast<size_t>(col * c.columnBytes + y / 8)];
                if ((v >> (7 - y % 8)) & 1) SetDot(slow.data() + static_cast<size_t>(y) * stride, col);
            }
        }
        EXPECT_EQ(fast, slow);
    }
}

TEST(FastDrawing, ScaledPictureRepeatsEachDot) {
    Bitmap b(13, 5);
    const Bytes bits = Noise(b.bits.size(), 3);
    for (int y = 0; y < b.height; ++y) {
        for (int x = 0; x < b.width; ++x) {
            if (Dot(bits.data() + static_cast<size_t>(y * b.stride), x)) b.set(x, y);
        }
    }
    for (auto [sx, sy] : {std::pair{1, 2}, {2, 1}, {2, 2}, {3, 2}}) {
        SCOPED_TRACE(std::to_string(sx) + " x " + std::to_string(sy));
        const Bitmap s = ScaledPicture(b, sx, sy);
        ASSERT_EQ(s.width, b.width * sx);
        ASSERT_EQ(s.height, b.height * sy);
        for (int y = 0; y < s.height; ++y) {
            for (int x = 0; x < s.width; ++x) ASSERT_EQ(s.get(x, y), b.get(x / sx, y / sy)) << x << "," << y;
        }
    }
}

// ESC * m with the columns' bytes (nL nH from their count).
Bytes BitImage(int m, const Bytes& data) {
    const int columns = static_cast<int>(data.size()) / (m >= 32 ? 3 : 1);
    return Cat({B({0x1B, 0x2A, m, columns & 0xFF, columns >> 8}), data});
}

// A bit image sent again is drawn from the rows made the first time: each line of the stream
// draws what an interpreter that never saw the first draws.
TEST(FastDrawing, ABitImageSentAgainDrawsWhatItsBytesSay) {
    const Bytes stripe = Noise(3 * 40, 11);
    struct Case {
        const char* name;
        Bytes first, second;
    };
    const std::vector<Case> cases = {
        {"the same 24-dot stripe", BitImage(33, stripe), BitImage(33, stripe)},
        {"the same bytes, single density", BitImage(33, stripe), BitImage(32, stripe)},
        {"the same bytes, 8-dot", BitImage(1, Bytes(stripe.begin(), stripe.begin() + 40)),
         BitImage(0, Bytes(stripe.begin(), stripe.begin() + 40))},
        {"one byte other", BitImage(33, stripe),
         BitImage(33,
                  [&] {
                      Bytes b = stripe;
                      b[61] ^= 0x10;
                      return b;
                  }())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Interpreter printer;
        printer.feed(Cat({c.first, T("\n")}));
        const int64_t from = printer.position();
        printer.feed(Cat({c.second, T("\n")}));
        const Paper fresh = Render(Cat({c.second, T("\n")}));
        EXPECT_EQ(Rows(printer.paper(), from, printer.paper().endRow()), Rows(fresh, 0, fresh.endRow()));
    }
}

// More different bit images in one line than are kept: each is drawn where and as its bytes say.
TEST(FastDrawing, ALineOfMoreBitImagesThanAreKeptDrawsEachOne) {
    Bytes stream;
    std::vector<Bytes> images;
    for (int i = 0; i < 75; ++i) {                                        // 5 columns each, 8 dots tall, side by side
        images.push_back(Noise(5, static_cast<unsigned>(100 + i % 70)));  // 70 different, 5 again
        stream = Cat({stream, BitImage(1, images.back())});
    }
    const Paper p = Render(Cat({stream, T("\n"), stream, T("\n")}));
    for (int64_t line : {int64_t{0}, int64_t{33}}) {
        for (int i = 0; i < 75; ++i) {
            for (int col = 0; col < 5; ++col) {
                for (int bit = 0; bit < 8; ++bit) {
                    const bool ink = (images[static_cast<size_t>(i)][static_cast<size_t>(col)] >> (7 - bit)) & 1;
                    // The line is as tall as the images; the next starts a line spacing (33) below.
                    ASSERT_EQ(p.dot(i * 5 + col, line + bit), ink) << "image " << i << " column " << col;
                }
            }
        }
    }
}

// GS ( k pL pH cn fn params...
Bytes Fn2D(int cn, int fn, const Bytes& params = {}) {
    const size_t size = params.size() + 2;
    return Cat({B({0x1D, 0x28, 0x6B, static_cast<int>(size & 0xFF), static_cast<int>(size >> 8), cn, fn}), params});
}
Bytes Store(int cn, const std::string& data) { return Fn2D(cn, 80, Cat({B({48}), T(data)})); }
Bytes Print(int cn) { return Fn2D(cn, 81, B({48})); }

struct KeptCase {
    const char* name;
    Bytes setUp;   // before the first print
    Bytes change;  // between the first print and the second (empty: none)
};

// A symbol printed a second time is the one its data and settings then make: what an interpreter
// that never made a symbol before draws for the same data and settings.
TEST(FastDrawing, AKeptSymbolIsTheOneItsDataAndSettingsMake) {
    const std::vector<KeptCase> cases = {
        {"QR, the same again", Store(49, "Pellory 0042"), {}},
        {"QR, other data", Store(49, "Pellory 0042"), Store(49, "Pellory 0043")},
        {"QR, module size", Store(49, "Pellory 0042"), Fn2D(49, 67, B({5}))},
        {"QR, error level", Store(49, "Pellory 0042"), Fn2D(49, 69, B({51}))},
        {"QR, model", Store(49, "Pellory 0042"), Fn2D(49, 65, B({51, 0}))},
        {"PDF417, columns", Store(48, "Pellory PDF417"), Fn2D(48, 65, B({3}))},
        {"PDF417, truncated", Store(48, "Pellory PDF417"), Fn2D(48, 70, B({1}))},
        {"DataMatrix, module size", Store(54, "Pellory DM"), Fn2D(54, 67, B({4}))},
        {"Aztec, layers", Store(53, "Pellory Aztec"), Fn2D(53, 50, B({0, 6}))},
        {"MaxiCode, mode", Fn2D(50, 80, Cat({B({48}), T("Pellory MaxiCode 42")})), Fn2D(50, 65, B({52}))},
        {"GS1 DataBar, module width", Fn2D(51, 80, Cat({B({48, 72}), T("0001234567890")})), Fn2D(51, 67, B({3}))},
        {"GS1 DataBar Expanded Stacked, the print area",
         Fn2D(51, 80, Cat({B({48, 76}), T("(01)00012345678905(10)LOT42ABCDEF")})), B({0x1D, 0x4C, 150, 0})},
    };
    for (const KeptCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int cn = c.setUp[5];
        Interpreter printer;
        printer.feed(Cat({c.setUp, Print(cn)}));
        const int64_t from = printer.position();
        printer.feed(Cat({c.change, Print(cn)}));
        printer.finish();
        const Paper fresh = Render(Cat({c.setUp, c.change, Print(cn)}));
        ASSERT_GT(fresh.inkDots(), 0u);
        const Bytes second = Rows(printer.paper(), from, printer.paper().endRow());
        EXPECT_EQ(second, Rows(fresh, 0, fresh.endRow()));
        // Each change makes another symbol (else the case could not tell a stale one).
        if (!c.change.empty()) {
            EXPECT_NE(second, Rows(printer.paper(), 0, from));
        }
    }
}

}  // namespace
}  // namespace pellory::receipt::test
