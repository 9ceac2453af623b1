// The command table: its lookups, its names, and the lengths the splitter reads from it.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "protocol/command_splitter.h"
#include "protocol/command_table.h"

namespace pellory::protocol {
namespace {

using Status = CommandMatch::Status;

struct LookupRow {
    Bytes bytes;
    Status status;
    CommandId id;  // Found
};

TEST(CommandTable, FindsTheEntryOfTheLongestIntroducer) {
    const std::vector<LookupRow> rows = {
        {{}, Status::NeedMore, {}},
        {{'A'}, Status::Text, {}},
        {{0x80}, Status::Text, {}},
        {{kLf}, Status::Found, CommandId::LineFeed},
        {{0x07}, Status::Unknown, {}},  // BEL: no entry
        {{kEsc}, Status::NeedMore, {}},
        {{kEsc, '!', 0x08}, Status::Found, CommandId::PrintMode},
        {{kEsc, 0x99}, Status::Unknown, {}},
        {{kEsc, kFf}, Status::Found, CommandId::PageModePrint},
        {{kDle, kEot, 5}, Status::Found, CommandId::RealTimeStatus},
        {{kDle, kDc4}, Status::Found, CommandId::RealTimeFunction},
        {{kDle, 'x'}, Status::Unknown, {}},
        {{kFs, 'q', 1}, Status::Found, CommandId::StoreImages},
        // GS ( and GS v: the byte after the function byte picks the entry, so it must be there.
        {{kGs, '('}, Status::NeedMore, {}},
        {{kGs, '(', 'k'}, Status::Found, CommandId::Symbol2D},
        {{kGs, '(', 'E'}, Status::Found, CommandId::PrinterSetup},
        {{kGs, '(', 'L'}, Status::Found, CommandId::Graphics},
        {{kGs, '(', 'A'}, Status::Found, CommandId::TestPrint},
        {{kGs, '(', 'M'}, Status::Found, CommandId::GsFunction},
        {{kEsc, '('}, Status::NeedMore, {}},
        {{kEsc, '(', 'A'}, Status::Found, CommandId::Beeper},
        {{kEsc, '(', 'Y'}, Status::Found, CommandId::EscFunction},
        {{kGs, 0xF9, '5'}, Status::Found, CommandId::CommandSetBematech},
        {{kGs, 0xF9, '1'}, Status::Unknown, {}},
        {{kGs, 'v'}, Status::NeedMore, {}},
        {{kGs, 'v', '0'}, Status::Found, CommandId::RasterImage},
        {{kGs, 'v', '1'}, Status::Found, CommandId::RasterFunction},
        {{kGs, 'k', 67, 12}, Status::Found, CommandId::Barcode},
    };
    for (const LookupRow& row : rows) {
        const CommandMatch m = MatchCommand(row.bytes.data(), row.bytes.size());
        EXPECT_EQ(m.status, row.status) << ::testing::PrintToString(row.bytes);
        if (row.status == Status::Found && m.status == Status::Found) {
            EXPECT_EQ(m.entry->id, row.id) << m.entry->mnemonic;
        }
    }
}

// The name an introducer's bytes spell: control bytes by their names, bytes past ASCII in hex
// (another family's GS F9), others as characters.
std::string Spelled(const Introducer& in) {
    std::string s;
    for (size_t i = 0; i < in.size; ++i) {
        if (i) s += ' ';
        const uint8_t b = in.bytes[i];
        static const char kHex[] = "0123456789ABCDEF";
        if (b < 0x20) s += ControlName(b);
        else if (b == 0x20) s += "SP";
        else if (b >= 0x7F) s += std::string{kHex[b >> 4], kHex[b & 15]};
        else s += static_cast<char>(b);
    }
    return s;
}

TEST(CommandTable, EveryEntryIsFoundByItsIntroducerAndNamedAfterIt) {
    std::set<std::string> meanings;
    size_t index = 0;
    for (const CommandEntry& e : CommandTable()) {
        SCOPED_TRACE(std::string(e.mnemonic));
        EXPECT_EQ(static_cast<size_t>(e.id), index++);
        EXPECT_EQ(&EntryOf(e.id), &e);
        EXPECT_EQ(e.mnemonic, Spelled(e.introducer));
        EXPECT_FALSE(e.meaning.empty());
        // The introducer and a byte that begins no longer one (GS ( needs it to tell it from GS ( k).
        Bytes intro(e.introducer.bytes.begin(), e.introducer.bytes.begin() + e.introducer.size);
        intro.push_back(0x01);
        const CommandMatch m = MatchCommand(intro.data(), intro.size());
        ASSERT_EQ(m.status, Status::Found);
        EXPECT_EQ(m.entry, &e);
        // The head holds the introducer (a one-byte command is its introducer).
        EXPECT_GE(e.length.head, e.introducer.size);
    }
    EXPECT_EQ(index, kCommandCount);
}

TEST(CommandTable, FunctionBytesAreThoseTheTipsReadingShowsAsCharacters) {
    // The commands whose third byte the history's "Tips" has always shown as a character.
    const std::set<std::pair<uint8_t, uint8_t>> tips = {
        {kEsc, 'c'}, {kEsc, '('}, {kFs, 'g'}, {kFs, '('}, {kGs, '('}, {kGs, 'C'},
        {kGs, '8'},  {kGs, 'Q'},  {kGs, 'g'}, {kGs, 'v'}, {kGs, 'z'},
    };
    for (const uint8_t first : {kEsc, kFs, kGs, kDle, kLf, uint8_t{'A'}}) {
        for (unsigned f = 0; f < 256; ++f) {
            const auto function = static_cast<uint8_t>(f);
            EXPECT_EQ(HasFunctionByte(first, function), tips.count({first, function}) == 1)
                << ControlName(first) << " " << f;
        }
    }
}

struct LengthRow {
    const char* what;
    Bytes bytes;
    size_t length;  // CommandLength of the bytes; 0: incomplete
};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(CommandTable, TheSplitterReadsEachRuleOfTheTable) {
    const std::vector<LengthRow> rows = {
        {"Fixed", {kEsc, 'p', 0, 25, 250, 'x'}, 5},
        {"Fixed, the head cut", {kEsc, 'p', 0, 25}, 0},
        {"ZeroTerminated", {kEsc, 'D', 8, 16, 0, 'x'}, 5},
        {"Prefix16", {kGs, '(', 'k', 3, 0, 49, 81, 48, 'x'}, 8},
        {"Prefix16 of a function no entry names", {kGs, '(', 'M', 2, 0, 49, 50, 'x'}, 7},
        {"Prefix16 of FS (", {kFs, '(', 'A', 2, 0, 48, 49, 'x'}, 7},
        {"Prefix32", Cat({{kGs, '8', 'L', 3, 0, 0, 0}, {1, 2, 3, 'x'}}), 10},
        {"BitImage, 24-dot", Cat({{kEsc, '*', 33, 2, 0}, Bytes(6, 0xFF), {'x'}}), 11},
        {"BitImage, 8-dot", Cat({{kEsc, '*', 1, 2, 0}, Bytes(2, 0xFF), {'x'}}), 7},
        {"BitImage, a mode of no name with bit 5 and not 4: 24-dot", Cat({{kEsc, '*', 109, 2, 0}, Bytes(6, 0xFF), {'x'}}), 11},
        {"BitImage, a mode of no name with bits 5 and 4: 8-dot", Cat({{kEsc, '*', 48, 2, 0}, Bytes(2, 0xFF), {'x'}}), 7},
        {"PageArea", {kEsc, 'W', 1, 7, 0, 0, 0x40, 2, 0, 3, 'x'}, 10},
        {"PageArea, xL of no ESC W n", {kEsc, 'W', 2, 200, 0, 0, 0x40, 2, 0, 3, 'x'}, 10},
        {"PageArea of the Star and ESC/P printers: ESC W n", {kEsc, 'W', 49, kEsc, 'd', 1}, 3},
        {"PageArea, the byte after n still to come", {kEsc, 'W', 1}, 0},
        {"DownloadedImage", Cat({{kGs, '*', 1, 2}, Bytes(16, 0xAA), {'x'}}), 20},
        {"RasterImage", Cat({{kGs, 'v', '0', 0, 2, 0, 3, 0}, Bytes(6, 0x55), {'x'}}), 14},
        {"StoredImages", Cat({{kFs, 'q', 2, 1, 0, 1, 0}, Bytes(8, 1), {1, 0, 1, 0}, Bytes(8, 2), {'x'}}), 3 + 12 + 12},
        {"UserCharacters", Cat({{kEsc, '&', 3, 'A', 'B', 1}, Bytes(3, 7), {2}, Bytes(6, 7), {'x'}}), 5 + 4 + 7},
        {"TableRow", Cat({{kFs, 'V', 1, 4, 2, 0, 8, 2}, {'a', 'b', 0, 1, 0}, {'x'}}), 8 + 3 + 2},
        {"Cut without n", {kGs, 'V', 1, 'x'}, 3},
        {"Cut with n", {kGs, 'V', 104, 40, 'x'}, 4},
        {"Barcode up to its zero", {kGs, 'k', 2, '1', '2', 0, 'x'}, 6},
        {"Barcode counted", {kGs, 'k', 73, 2, '1', '2', 'x'}, 6},
        {"RealTimeFunction 1", {kDle, kDc4, 1, 0, 1, 'x'}, 5},
        {"RealTimeFunction 3", {kDle, kDc4, 3, 1, 2, 1, 5, 5, 'x'}, 8},
        {"RealTimeFunction 7", {kDle, kDc4, 7, 1, 'x'}, 4},
        {"RealTimeFunction 8", Cat({{kDle, kDc4, 8}, Bytes(7, 1), {'x'}}), 10},
        {"RealTimeFunction of no length", {kDle, kDc4, 9, 1}, 3},
        {"Unsized: its introducer", {kGs, 'z', '0', 1, 2}, 2},
        {"Unsized GS v of another function", {kGs, 'v', '1', 0, 1, 0}, 2},
        {"Unknown ESC", {kEsc, 0x99, 1}, 2},
        {"Unknown DLE", {kDle, 'x', 1}, 1},
    };
    for (const LengthRow& row : rows) {
        EXPECT_EQ(CommandLength(row.bytes.data(), row.bytes.size()), row.length) << row.what;
    }
}

}  // namespace
}  // namespace pellory::protocol
