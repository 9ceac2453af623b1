// Splitting the printer's input into commands by their real lengths.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "protocol/command_splitter.h"

using pellory::protocol::Bytes;
using pellory::protocol::Command;
using pellory::protocol::CommandLength;
using pellory::protocol::CommandSplitter;
using pellory::protocol::PieceSplitter;
using pellory::protocol::SplitCommands;
using Kind = pellory::protocol::Command::Kind;

namespace {

Bytes B(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<uint8_t>(x));
    return b;
}
Bytes T(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The commands as (kind, length) pairs, the easiest form to compare.
std::vector<std::pair<Kind, size_t>> Shape(const std::vector<Command>& cs) {
    std::vector<std::pair<Kind, size_t>> out;
    for (const auto& c : cs) out.emplace_back(c.kind, c.bytes.size());
    return out;
}

// The vertical-tab table row the printer test sends.
Bytes TableRow() {
    return Cat({B({0x1C, 0x56, 0x05, 0x00, 0x08, 0x10, 0x18, 0x20, 0x04, 0x02, 0x0A, 0x12, 0x1A}),
                B({0x02}), T("  Option "), B({0x00}), B({0x01}), T("  Data1"), B({0x00}),
                B({0x01}), T("  Data2"), B({0x00}), B({0x01}), T("  Data3"), B({0x00})});
}

TEST(CommandSplitter, ImageDataHoldingAStatusRequestIsData) {
    // GS v 0, 4 bytes wide, 2 rows: 8 data bytes, among them 10 04 05 and ESC @.
    const Bytes image = Cat({B({0x1D, 0x76, 0x30, 0x00, 0x04, 0x00, 0x02, 0x00}),
                             B({0x10, 0x04, 0x05, 0xFF, 0x1B, 0x40, 0x00, 0x0A})});
    const Bytes stream = Cat({image, B({0x10, 0x04, 0x05}), B({0x1B, 0x4A, 0x30})});
    const auto r = SplitCommands(stream);
    ASSERT_EQ(r.commands.size(), 3u);
    EXPECT_EQ(r.commands[0].kind, Kind::Gs);
    EXPECT_EQ(r.commands[0].bytes, image);
    EXPECT_EQ(r.commands[1].kind, Kind::Dle);
    EXPECT_EQ(r.commands[1].bytes, B({0x10, 0x04, 0x05}));
    EXPECT_EQ(r.commands[2].bytes, B({0x1B, 0x4A, 0x30}));
    EXPECT_EQ(r.consumed, stream.size());

    // The image command of the printer test: 40 x 226 = 9040 data bytes after the 8-byte header.
    Bytes big = B({0x1D, 0x76, 0x30, 0x00, 0x28, 0x00, 0xE2, 0x00});
    big.resize(8 + 9040, 0x10);
    EXPECT_EQ(CommandLength(big.data(), big.size()), 9048u);
    EXPECT_EQ(CommandLength(big.data(), big.size() - 1), 0u);
}

TEST(CommandSplitter, BitImageColumnsByMode) {
    // 24-dot double density: 2 columns of 3 bytes each.
    const Bytes dots24 = Cat({B({0x1B, 0x2A, 0x21, 0x02, 0x00}), B({0x1B, 0x40, 0x0A, 0x10, 0x04, 0x05})});
    // 8-dot single density: 3 columns of 1 byte.
    const Bytes dots8 = Cat({B({0x1B, 0x2A, 0x00, 0x03, 0x00}), B({0x0A, 0x0A, 0x1D})});
    const auto r = SplitCommands(Cat({dots24, B({0x1B, 0x4A, 0x18}), dots8, B({0x1B, 0x4A, 0x18})}));
    EXPECT_EQ(Shape(r.commands),
              (std::vector<std::pair<Kind, size_t>>{{Kind::Esc, 11}, {Kind::Esc, 3}, {Kind::Esc, 8}, {Kind::Esc, 3}}));
    EXPECT_EQ(r.commands[0].bytes, dots24);
    // 384 columns in a 24-dot mode: nL nH = 80 01, 1152 data bytes.
    Bytes wide = B({0x1B, 0x2A, 0x20, 0x80, 0x01});
    wide.resize(5 + 1152, 0x00);
    EXPECT_EQ(CommandLength(wide.data(), wide.size()), 1157u);
}

TEST(CommandSplitter, TableRowTabsAndText) {
    const Bytes row = TableRow();
    ASSERT_EQ(row.size(), 51u);
    const Bytes tabs = B({0x1B, 0x44, 0x0C, 0x18, 0x00});
    const auto r = SplitCommands(Cat({row, row, tabs, T("Option A"), B({0x09}), T("Option B"), B({0x0A})}));
    EXPECT_EQ(Shape(r.commands), (std::vector<std::pair<Kind, size_t>>{{Kind::Fs, 51},
                                                                        {Kind::Fs, 51},
                                                                        {Kind::Esc, 5},
                                                                        {Kind::Text, 8},
                                                                        {Kind::Control, 1},
                                                                        {Kind::Text, 8},
                                                                        {Kind::Control, 1}}));
    EXPECT_EQ(r.commands[0].bytes, row);
    // Cut anywhere inside the row, nothing of it is returned.
    for (size_t cut = 1; cut < row.size(); ++cut) {
        const auto part = SplitCommands(Bytes(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(cut)));
        EXPECT_TRUE(part.commands.empty()) << cut;
        EXPECT_EQ(part.consumed, 0u);
    }
}

TEST(CommandSplitter, QrAndBarcodeCommands) {
    const Bytes store = Cat({B({0x1D, 0x28, 0x6B, 0x1F, 0x00, 0x31, 0x50, 0x30}), T("Westhaven PELLRY Development")});
    ASSERT_EQ(store.size(), 36u);
    const Bytes print = B({0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x51, 0x30});
    // GS k form 2 (m = 67, n = 12), its data may hold any byte; CODE128 with a NUL in its data.
    const Bytes ean13 = Cat({B({0x1D, 0x6B, 0x43, 0x0C}), T("012345678900")});
    const Bytes code128 = B({0x1D, 0x6B, 0x49, 0x04, 0x7B, 0x42, 0x00, 0x41});
    // GS k form 1 (m = 2): digits up to a NUL.
    const Bytes form1 = Cat({B({0x1D, 0x6B, 0x02}), T("4006381333931"), B({0x00})});
    const Bytes cut = B({0x1D, 0x56, 0x42, 0x78});
    const Bytes fullCut = B({0x1D, 0x56, 0x00});
    const auto r = SplitCommands(Cat({store, print, ean13, code128, form1, cut, fullCut, T("A")}));
    ASSERT_EQ(r.commands.size(), 8u);
    EXPECT_EQ(r.commands[0].bytes, store);
    EXPECT_EQ(r.commands[1].bytes, print);
    EXPECT_EQ(r.commands[2].bytes, ean13);
    EXPECT_EQ(r.commands[3].bytes, code128);
    EXPECT_EQ(r.commands[4].bytes, form1);
    EXPECT_EQ(r.commands[5].bytes, cut);
    EXPECT_EQ(r.commands[6].bytes, fullCut);
    EXPECT_EQ(r.commands[7].bytes, T("A"));
}

TEST(CommandSplitter, TextRunsAreMergedAndControlsStandAlone) {
    Bytes font;
    for (int b = 0x20; b <= 0xFF; ++b) font.push_back(static_cast<uint8_t>(b));
    const auto r = SplitCommands(Cat({T("Font"), font, B({0x0A, 0x0D}), T("x"), B({0x1B, 0x21, 0x08}), T("yz")}));
    EXPECT_EQ(Shape(r.commands), (std::vector<std::pair<Kind, size_t>>{{Kind::Text, 228},
                                                                        {Kind::Control, 1},
                                                                        {Kind::Control, 1},
                                                                        {Kind::Text, 1},
                                                                        {Kind::Esc, 3},
                                                                        {Kind::Text, 2}}));
    EXPECT_EQ(r.commands[0].bytes, Cat({T("Font"), font}));
}

TEST(CommandSplitter, IncompleteTailIsNotReturned) {
    const Bytes init = B({0x1B, 0x40});
    const std::vector<Bytes> tails = {
        B({0x1B}),
        B({0x10, 0x04}),
        B({0x1B, 0x2A, 0x21, 0x02, 0x00, 0x01}),
        B({0x1D, 0x76, 0x30, 0x00, 0x28, 0x00}),
        Cat({B({0x1D, 0x76, 0x30, 0x00, 0x28, 0x00, 0xE2, 0x00}), Bytes(100, 0xAA)}),
        B({0x1D, 0x28, 0x45, 0x08, 0x00, 0x0B, 0x01, 0x31}),
        Cat({B({0x1D, 0x6B, 0x04}), T("CODE")}),
        B({0x1B, 0x44, 0x0C}),
    };
    for (const auto& tail : tails) {
        const auto r = SplitCommands(Cat({init, tail}));
        ASSERT_EQ(r.commands.size(), 1u);
        EXPECT_EQ(r.commands[0].bytes, init);
        EXPECT_EQ(r.consumed, 2u);
    }
}

TEST(CommandSplitter, UnknownAndBoundedSequences) {
    // A DLE not starting a real-time command stands alone, so DLE DLE EOT n still holds one.
    auto r = SplitCommands(B({0x10, 0x10, 0x04, 0x05}));
    EXPECT_EQ(Shape(r.commands), (std::vector<std::pair<Kind, size_t>>{{Kind::Dle, 1}, {Kind::Dle, 3}}));
    // An unknown ESC function takes its two bytes only.
    r = SplitCommands(B({0x1B, 0x99, 0x41}));
    EXPECT_EQ(Shape(r.commands), (std::vector<std::pair<Kind, size_t>>{{Kind::Esc, 2}, {Kind::Text, 1}}));
    // ESC D with 33 positions and no NUL: the first 32 are the list, the rest is text.
    Bytes tabs = B({0x1B, 0x44});
    for (int i = 0; i < 33; ++i) tabs.push_back(static_cast<uint8_t>(0x21 + i));
    r = SplitCommands(tabs);
    EXPECT_EQ(Shape(r.commands), (std::vector<std::pair<Kind, size_t>>{{Kind::Esc, 34}, {Kind::Text, 1}}));
    // ... and 32 positions with their NUL are one command.
    tabs.resize(34);
    tabs.push_back(0x00);
    r = SplitCommands(tabs);
    EXPECT_EQ(Shape(r.commands), (std::vector<std::pair<Kind, size_t>>{{Kind::Esc, 35}}));
    // The baud-rate set-up command with its digits.
    r = SplitCommands(Cat({B({0x1D, 0x28, 0x45, 0x08, 0x00, 0x0B, 0x01}), T("115200"), T("ok")}));
    EXPECT_EQ(Shape(r.commands), (std::vector<std::pair<Kind, size_t>>{{Kind::Gs, 13}, {Kind::Text, 2}}));
}

// Fed in pieces of any size, the streaming splitter gives the same commands as one pass.
TEST(CommandSplitter, StreamingMatchesWholeStream) {
    Bytes image = B({0x1D, 0x76, 0x30, 0x00, 0x03, 0x00, 0x05, 0x00});
    for (int i = 0; i < 15; ++i) image.push_back(static_cast<uint8_t>(i % 3 == 0 ? 0x10 : i % 3 == 1 ? 0x04 : 0x05));
    const Bytes stream = Cat({B({0x10, 0x04, 0x05, 0x0A, 0x1B, 0x21, 0x08}), T("Vertial Tab"), B({0x0A}), TableRow(),
                              TableRow(), image, B({0x1B, 0x2A, 0x21, 0x01, 0x00, 0x00, 0x1C, 0x56}),
                              Cat({B({0x1D, 0x6B, 0x43, 0x0C}), T("012345678900")}), T("Haft-cut"),
                              B({0x1D, 0x56, 0x42, 0x78, 0x1C, 0x73, 0x02, 0x1C, 0x26, 0x1C, 0x2E})});
    const auto whole = SplitCommands(stream);
    ASSERT_EQ(whole.consumed, stream.size());
    std::mt19937 rng(7);
    for (int trial = 0; trial < 200; ++trial) {
        CommandSplitter s;
        std::vector<Command> got;
        size_t pos = 0;
        while (pos < stream.size()) {
            const size_t n = std::min<size_t>(stream.size() - pos, 1 + rng() % 9);
            s.feed(stream.data() + pos, n, [&](Kind kind, const uint8_t* bytes, size_t length) {
                if (kind == Kind::Text && !got.empty() && got.back().kind == Kind::Text) {
                    got.back().bytes.insert(got.back().bytes.end(), bytes, bytes + length);
                } else {
                    got.push_back(Command{kind, Bytes(bytes, bytes + length)});
                }
            });
            pos += n;
        }
        EXPECT_EQ(s.pendingSize(), 0u);
        ASSERT_EQ(got.size(), whole.commands.size()) << trial;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].kind, whole.commands[i].kind);
            EXPECT_EQ(got[i].bytes, whole.commands[i].bytes);
        }
    }
}

// --- the piece form ---

// Commands put together from the pieces of a PieceSplitter fed in pieces of the given sizes (in
// turn), text runs merged; checks that every piece goes with the command it belongs to.
struct PieceRun {
    std::vector<Command> commands;
    size_t maxHeld = 0;
    size_t handed = 0;
};
PieceRun SplitInPieces(const Bytes& stream, const std::vector<size_t>& sizes) {
    PieceRun run;
    PieceSplitter s;
    bool open = false;  // between a first piece and its last
    Command current;
    const PieceSplitter::Sink sink = [&](const PieceSplitter::Piece& p) {
        EXPECT_GT(p.length, 0u);
        EXPECT_EQ(p.first, !open) << "at " << run.handed;
        if (p.first) current = Command{p.kind, {}};
        EXPECT_EQ(p.kind, current.kind);
        current.bytes.insert(current.bytes.end(), p.bytes, p.bytes + p.length);
        run.handed += p.length;
        open = !p.last;
        if (!p.last) return;
        if (current.kind == Kind::Text && !run.commands.empty() && run.commands.back().kind == Kind::Text) {
            run.commands.back().bytes.insert(run.commands.back().bytes.end(), current.bytes.begin(), current.bytes.end());
        } else {
            run.commands.push_back(current);
        }
    };
    size_t pos = 0;
    for (size_t i = 0; pos < stream.size(); ++i) {
        const size_t n = std::min(sizes[i % sizes.size()], stream.size() - pos);
        s.feed(stream.data() + pos, n, sink);
        pos += n;
        run.maxHeld = std::max(run.maxHeld, s.held());
    }
    EXPECT_FALSE(open);
    EXPECT_FALSE(s.inCommand());
    return run;
}

// Every command that carries data, and the ones that surround them, whatever the piece sizes.
TEST(PieceSplitter, PiecesMakeTheCommandsOfTheWholeStream) {
    Bytes raster = B({0x1D, 0x76, 0x30, 0x00, 0x03, 0x00, 0x05, 0x00});
    for (int i = 0; i < 15; ++i) raster.push_back(static_cast<uint8_t>(i % 3 == 0 ? 0x10 : i % 3 == 1 ? 0x04 : 0x05));
    // FS q: two images, 1 x 1 (8 bytes) and 0 x 2 (none), then 2 x 1 (16 bytes).
    Bytes nv = B({0x1C, 0x71, 0x03, 0x01, 0x00, 0x01, 0x00});
    nv.insert(nv.end(), 8, 0x1B);
    nv.insert(nv.end(), {0x00, 0x00, 0x02, 0x00, 0x02, 0x00, 0x01, 0x00});
    nv.insert(nv.end(), 16, 0x0A);
    // ESC & y = 3, characters 0x41..0x43: x = 2 (6 bytes), x = 0, x = 1 (3 bytes).
    Bytes chars = B({0x1B, 0x26, 0x03, 0x41, 0x43, 0x02});
    chars.insert(chars.end(), 6, 0x10);
    chars.push_back(0x00);
    chars.push_back(0x01);
    chars.insert(chars.end(), 3, 0x1D);
    const Bytes gs8 = B({0x1D, 0x38, 0x4C, 0x03, 0x00, 0x00, 0x00, 0x30, 0x45, 0x20});
    const Bytes gsStar = Cat({B({0x1D, 0x2A, 0x01, 0x01}), Bytes(8, 0x1C)});
    const Bytes empty = B({0x1D, 0x76, 0x30, 0x00, 0x00, 0x00, 0x05, 0x00});
    const Bytes stream = Cat({B({0x10, 0x04, 0x05}), T("Vertial Tab"), B({0x0A}), TableRow(), raster,
                              B({0x1B, 0x2A, 0x21, 0x01, 0x00, 0x00, 0x1C, 0x56}), nv, T("x"), chars, gs8,
                              empty, gsStar, B({0x1D, 0x28, 0x45, 0x08, 0x00, 0x0B, 0x01}), T("115200"),
                              B({0x1B, 0x44, 0x01, 0x02, 0x00}), Cat({B({0x1D, 0x6B, 0x43, 0x0C}), T("012345678900")}),
                              T("end"), B({0x10})});
    const auto whole = SplitCommands(stream);
    ASSERT_EQ(whole.consumed, stream.size() - 1) << "a DLE at the end waits for the next byte";
    const Bytes complete(stream.begin(), stream.end() - 1);

    const std::vector<std::vector<size_t>> sizes = {{1}, {2}, {3}, {7}, {1, 64}, {4096}, {stream.size()}};
    for (const auto& pieces : sizes) {
        SCOPED_TRACE(testing::Message() << "pieces of " << pieces[0] << (pieces.size() > 1 ? "..." : ""));
        const PieceRun run = SplitInPieces(complete, pieces);
        EXPECT_EQ(run.handed, complete.size());
        ASSERT_EQ(run.commands.size(), whole.commands.size());
        for (size_t i = 0; i < run.commands.size(); ++i) {
            EXPECT_EQ(run.commands[i].kind, whole.commands[i].kind) << i;
            EXPECT_EQ(run.commands[i].bytes, whole.commands[i].bytes) << i;
        }
    }
}

// ESC & is bounded by its ranges (y 1-3, codes 32-126, x 0-12): the largest is 95 characters of
// 12 x 3 bytes, and a command that says more ends with its first value out of range (its data
// are print data then, as on the printer, not an image to pass through).
TEST(CommandSplitter, UserCharactersAreBoundedByTheirRanges) {
    Bytes largest = B({0x1B, 0x26, 3, 32, 126});
    for (int c = 32; c <= 126; ++c) {
        largest.push_back(12);
        largest.insert(largest.end(), 36, 0xFF);
    }
    const Bytes after(64 * 1024, 0xFF);
    const auto lengthOf = [&](Bytes command) {
        command.insert(command.end(), after.begin(), after.end());
        return CommandLength(command.data(), command.size());
    };
    EXPECT_EQ(lengthOf(largest), 5u + 95 * 37);
    // 256 characters of 255 x 255 bytes, as a stream might say: y is out of range.
    EXPECT_EQ(lengthOf(B({0x1B, 0x26, 0xFF, 0x00, 0xFF, 0xFF})), 5u);
    EXPECT_EQ(lengthOf(B({0x1B, 0x26, 3, 31, 40})), 5u);
    EXPECT_EQ(lengthOf(B({0x1B, 0x26, 3, 40, 127})), 5u);
    Bytes wide(largest.begin(), largest.begin() + 5 + 2 * 37);
    wide.push_back(13);  // the third character's x
    EXPECT_EQ(lengthOf(wide), 5u + 2 * 37 + 1);
}

// The data of an image, however large it says it is, pass through: only the head is held, and
// every byte fed is handed out at once.
TEST(PieceSplitter, DataOfLargeCommandsAreNotHeld) {
    struct Case {
        const char* name;
        Bytes head;
        size_t maxHeld;
        size_t pieces;  // of data fed, fewer than it declares
    };
    const std::vector<Case> cases = {
        {"GS v 0, 65535 x 65535", B({0x1D, 0x76, 0x30, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}), 8, 100},
        {"GS 8 L, 4 GiB", B({0x1D, 0x38, 0x4C, 0xFF, 0xFF, 0xFF, 0xFF}), 7, 100},
        {"FS q, 255 images", B({0x1C, 0x71, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), 7, 100},
        {"ESC *, 65535 columns", B({0x1B, 0x2A, 0x21, 0xFF, 0xFF}), 5, 2},
        {"GS *, 255 x 255", B({0x1D, 0x2A, 0xFF, 0xFF}), 4, 7},
    };
    constexpr size_t kPiece = 64 * 1024;
    const Bytes data(kPiece, 0xFF);
    for (const Case& c : cases) {
        PieceSplitter s;
        size_t handed = 0;
        const PieceSplitter::Sink sink = [&](const PieceSplitter::Piece& p) {
            EXPECT_FALSE(p.last) << c.name;
            handed += p.length;
        };
        s.feed(c.head.data(), c.head.size(), sink);
        EXPECT_EQ(handed, c.head.size()) << c.name;
        size_t fed = c.head.size();
        size_t maxHeld = s.held();
        for (size_t i = 0; i < c.pieces; ++i) {
            s.feed(data.data(), data.size(), sink);
            fed += data.size();
            ASSERT_EQ(handed, fed) << c.name << ": piece " << i;
            maxHeld = std::max(maxHeld, s.held());
        }
        EXPECT_LE(maxHeld, c.maxHeld) << c.name;
        EXPECT_TRUE(s.inCommand()) << c.name;
    }
}

}  // namespace
