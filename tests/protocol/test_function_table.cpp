// The function table against the command table and the splitter, the encoder's bytes, and the
// views and counts the splitters hand out.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "protocol/command_splitter.h"
#include "protocol/command_table.h"
#include "protocol/command_view.h"
#include "protocol/encode.h"
#include "protocol/function_table.h"
#include "protocol/hex.h"

namespace {

using namespace pellory::protocol;
using Id = CommandId;

std::string Hex(const std::vector<uint8_t>& b) { return hex::Spaced(b.data(), b.size()); }

// Whether the command counts its length in length bytes (else its length is fixed).
bool Counted(const FunctionEntry& f) {
    const Rule r = EntryOf(f.command).length.rule;
    return r == Rule::Prefix16 || r == Rule::Prefix32;
}

// The function's parameters at the low end of their ranges, as many as a command of fixed length
// asks for, else as many as it has ranges.
std::vector<uint8_t> LowParameters(const FunctionEntry& f) {
    std::vector<uint8_t> p;
    for (size_t i = 0; i < f.ranges; ++i) p.push_back(f.range[i].low);
    const size_t whole = f.length != 0 ? f.length : EntryOf(f.command).length.head;
    if (!Counted(f)) p.resize(whole - LayoutOf(f.command)->fnAt - 1u, 1);
    return p;
}

TEST(FunctionTable, EachFunctionEncodesToOneWholeCommandThatNamesIt) {
    for (const FunctionLayout& l : FunctionLayouts()) {
        const CommandEntry& e = EntryOf(l.command);
        EXPECT_TRUE(e.understood()) << e.mnemonic << ": functions of a command the interpreter does not know";
    }
    for (const FunctionEntry& f : FunctionTable()) {
        SCOPED_TRACE(std::string(EntryOf(f.command).mnemonic) + " " + std::to_string(f.cn) + " " +
                     std::to_string(f.fn));
        const std::vector<uint8_t> data = {'A', 'B'};
        const std::vector<uint8_t> b = EncodeFunction(f, LowParameters(f), Counted(f) ? data : std::vector<uint8_t>{});
        EXPECT_EQ(CommandLength(b.data(), b.size()), b.size()) << Hex(b);
        const CommandView v = ViewOf(CommandKindOf(b[0]), b.data(), b.size());
        EXPECT_TRUE(v.is(f.command)) << Hex(b);
        EXPECT_EQ(v.function, &f) << Hex(b);
        // The parameters follow fn and m.
        const FunctionLayout& l = *LayoutOf(f.command);
        const size_t first = std::max<size_t>(l.fnAt, f.m ? l.mAt : 0) + 1;
        for (size_t i = 0; i < f.ranges; ++i) EXPECT_EQ(v.at(first + i), f.range[i].low) << Hex(b);
    }
}

TEST(FunctionTable, EncodedBytesAreThePrintersOwn) {
    struct Row {
        Id command;
        uint8_t cn, fn;
        std::vector<uint8_t> parameters, data;
        const char* bytes;
    };
    const Row rows[] = {
        {Id::Symbol2D, 49, 65, {0x32, 0x00}, {}, "1D 28 6B 04 00 31 41 32 00"},
        {Id::Symbol2D, 49, 80, {}, {'h', 'i'}, "1D 28 6B 05 00 31 50 30 68 69"},
        {Id::Symbol2D, 48, 82, {}, {}, "1D 28 6B 03 00 30 52 30"},
        {Id::PrinterSetup, 0, 11, {1}, {'9', '6', '0', '0'}, "1D 28 45 06 00 0B 01 39 36 30 30"},
        {Id::ProcessId, 0, 48, {1, 2, 3, 4}, {}, "1D 28 48 06 00 30 30 01 02 03 04"},
        {Id::Graphics, 0, 50, {}, {}, "1D 28 4C 02 00 30 32"},
        {Id::LargeGraphics, 0, 112, {48, 1, 1, 49}, {0xFF}, "1D 38 4C 07 00 00 00 30 70 30 01 01 31 FF"},
        {Id::RealTimeFunction, 0, 8, {1, 3, 20, 1, 6, 2, 8}, {}, "10 14 08 01 03 14 01 06 02 08"},
        {Id::PaperSensors, 0, '5', {1}, {}, "1B 63 35 01"},
    };
    for (const Row& r : rows) {
        const FunctionEntry* f = FindFunction(r.command, r.cn, r.fn);
        ASSERT_NE(f, nullptr) << r.bytes;
        EXPECT_EQ(Hex(EncodeFunction(*f, r.parameters, r.data)), r.bytes);
    }
    EXPECT_EQ(Hex(EncodeWithLength(Id::TestPrint, std::vector<uint8_t>{0, 2})), "1D 28 41 02 00 00 02");
}

// The same stream fed whole and in pieces of every size up to 9 bytes.
TEST(SplitterViews, EachCommandComesOnceWithItsEntryAndFunction) {
    const std::vector<uint8_t> stream = {0x1B, '@',  'H',  'i',  0x0A, 0x1D, '(', 'k', 3,  0, 49,   81,   48,
                                         0x10, 0x04, 1,    0x10, 0x14, 8,    1,   3,   20, 1, 6,    2,    8,
                                         0x1B, 0x99, 0x1D, 'v',  '0',  0,    1,   0,   2,  0, 0xAA, 0x55, 0x0A};
    for (size_t piece = 1; piece <= 9; ++piece) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        const uint64_t before = SplitBytes();
        CommandSplitter whole;
        std::vector<std::string> seen;
        uint64_t calls = 0;
        for (size_t at = 0; at < stream.size(); at += piece) {
            whole.feed(stream.data() + at, std::min(piece, stream.size() - at),
                       CommandSplitter::ViewSink([&](const CommandView& v) {
                           EXPECT_EQ(v.entry, v.kind == Command::Kind::Text ? nullptr : FindCommand(v.bytes, v.length));
                           ++calls;
                           std::string s = v.entry ? std::string(v.entry->mnemonic) : "?";
                           if (v.function) s += ":" + std::string(v.function->name);
                           seen.push_back(s);
                       }));
        }
        PieceSplitter pieces;
        std::vector<std::string> firsts;
        uint64_t firstPieces = 0;
        for (size_t at = 0; at < stream.size(); at += piece) {
            pieces.feed(stream.data() + at, std::min(piece, stream.size() - at), [&](const PieceSplitter::Piece& p) {
                if (!p.first) return;
                ++firstPieces;
                firsts.push_back(p.entry ? std::string(p.entry->mnemonic) : "?");
                if (p.function) firsts.back() += ":" + std::string(p.function->name);
            });
        }
        // Text comes in parts where a piece cuts it; the commands are the same.
        std::erase(seen, "?");
        std::erase(firsts, "?");
        const std::vector<std::string> expected = {
            "ESC @", "LF", "GS ( k:QR code: print", "DLE EOT", "DLE DC4:clear the buffers", "GS v 0", "LF"};
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(firsts, expected);
        EXPECT_EQ(SplitBytes() - before, 2 * stream.size()) << "each splitter hands every byte out once";
        EXPECT_EQ(whole.handed(), calls);
        EXPECT_EQ(pieces.started(), firstPieces);
    }
}

}  // namespace
