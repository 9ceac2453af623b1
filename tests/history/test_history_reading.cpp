// The "Tips" reading of history rows and its display and escape forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "history/history_reading.h"

namespace pellory::app {
namespace {

// The echo text of some bytes: two upper-case digits and a space each.
std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
        out += ' ';
    }
    return out;
}

struct Example {
    std::vector<uint8_t> bytes;
    std::string reading;
};

TEST(HistoryReading, ReadsEveryRowOfTheExampleTable) {
    const std::vector<Example> examples = {
        {{0x1B, 0x61, 0x01}, "ESC a 01 "},
        {{0x0A}, "LF "},
        {{0x10, 0x04, 0x05}, "DLE EOT 05 "},
        {{0x1B, 0x21, 0x08}, "ESC ! 08 "},
        {{0x1D, 0x76, 0x30, 0x00, 0x28, 0x00, 0xE2, 0x00}, "GS v 0 00 28 00 E2 00 "},
        {{0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x43, 0x05}, "GS ( k 03 00 31 43 05 "},
        {{0x1C, 0x56, 0x05}, "FS V 05 "},
        {{0x48, 0x69, 0x0A}, "Hi\n"},
    };
    for (const Example& e : examples) {
        EXPECT_EQ(HistoryReading(Hex(e.bytes)), e.reading) << Hex(e.bytes);
    }
}

TEST(HistoryReading, ShortCommands) {
    EXPECT_EQ(HistoryReading(""), "");
    EXPECT_EQ(HistoryReading(Hex({0x1B, 0x61})), "ESC a ");      // two bytes: no third one
    EXPECT_EQ(HistoryReading(Hex({0x1D, 0x76})), "GS v ");       // even for a listed pair
    EXPECT_EQ(HistoryReading(Hex({0x10, 0x04})), "DLE EOT ");
    EXPECT_EQ(HistoryReading(Hex({0x00})), "NULL ");
    EXPECT_EQ(HistoryReading(Hex({0x1F})), "US ");
    EXPECT_EQ(HistoryReading("1B"), "ESC ");                      // without the trailing space
}

TEST(HistoryReading, ThirdByteIsACharacterOnlyForTheListedCommands) {
    const std::vector<std::pair<uint8_t, char>> listed = {
        {0x1B, 'c'}, {0x1B, '('}, {0x1C, 'g'}, {0x1C, '('}, {0x1D, '('}, {0x1D, 'C'},
        {0x1D, '8'}, {0x1D, 'Q'}, {0x1D, 'g'}, {0x1D, 'v'}, {0x1D, 'z'}};
    for (const auto& [first, second] : listed) {
        const std::string name(ControlByteName(first));
        EXPECT_EQ(HistoryReading(Hex({first, uint8_t(second), 0x41, 0x02})),
                  name + " " + second + " A 02 ");
    }
    // The same letters after another leading byte, and other letters, keep the third byte hex.
    EXPECT_EQ(HistoryReading(Hex({0x1B, 'v', 0x41, 0x02})), "ESC v 41 02 ");
    EXPECT_EQ(HistoryReading(Hex({0x1C, 'c', 0x41})), "FS c 41 ");
    EXPECT_EQ(HistoryReading(Hex({0x10, '(', 0x41})), "DLE ( 41 ");
    EXPECT_EQ(HistoryReading(Hex({0x1D, 'k', 0x43, 0x30})), "GS k 43 30 ");
    EXPECT_EQ(HistoryReading(Hex({0x1D, 'G', 0x41})), "GS G 41 ");  // case matters
}

TEST(HistoryReading, TextRowsGiveTheirBytesBack) {
    EXPECT_EQ(HistoryReading(Hex({' ', 'A', 0x0D, 0x0A})), " A\r\n");
    EXPECT_EQ(HistoryReading(Hex({0x41, 0x00, 0x1B, 0xE2, 0x7F})), std::string("A\0\x1B\xE2\x7F", 5));
    // Spaces, CR, LF and backspaces in the echo text itself are skipped, not read as digits.
    EXPECT_EQ(HistoryReading("48\r\n69\b  0A"), "Hi\n");
    EXPECT_EQ(HistoryReading("4869"), "Hi");
    EXPECT_EQ(HistoryReading("48 6"), "H\x06");  // a lone last digit is one byte
    EXPECT_EQ(HistoryReading("48 6a"), "Hj");    // lower-case digits are read too
}

TEST(HistoryReading, JunkIsReadWithoutGoingPastTheEnd) {
    EXPECT_EQ(HistoryReading("1B 6"), "ESC ACK ");  // second byte from a single digit
    EXPECT_EQ(HistoryReading("1B 61 0"), "ESC a 0");
    EXPECT_EQ(HistoryReading("1D 76 3"), "GS v \x03 ");
    EXPECT_EQ(HistoryReading("ZZ 41"), "NULL A ");  // no digit reads as 0
    EXPECT_EQ(HistoryReading("1G"), "SOH ");        // digits up to the first non-digit
    EXPECT_EQ(HistoryReading("1B"), "ESC ");

    // Random bytes of every small length: the bounded reading agrees with the full one.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::string alphabet = "0123456789ABCDEFabcdef \r\n\bXZ(";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (int round = 0; round < 3000; ++round) {
        std::string echo;
        const int length = round % 24;
        for (int i = 0; i < length; ++i) {
            echo += round % 2 ? static_cast<char>(byte(random)) : alphabet[pick(random)];
        }
        const std::string full = HistoryReading(echo);
        for (std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{4}, std::size_t{9}}) {
            bool cut = false;
            EXPECT_EQ(HistoryReadingPrefix(echo, limit, &cut), full.substr(0, limit)) << echo;
            EXPECT_EQ(cut, full.size() > limit) << echo;
        }
    }
}

TEST(HistoryReading, PrefixOfAHugeRowIsBounded) {
    // The row is made at its full size and then given its header: growing a short vector makes
    // GCC 12 at -O3 warn about the copy inside the vector (-Warray-bounds, a false positive).
    std::vector<uint8_t> image(200000, 0xAA);
    const uint8_t header[] = {0x1D, 0x76, 0x30, 0x00, 0x30, 0x00, 0x20, 0x00};
    std::copy(std::begin(header), std::end(header), image.begin());
    const std::string echo = Hex(image);
    ASSERT_EQ(echo.size(), 600000u);
    const std::string full = HistoryReading(echo);
    EXPECT_EQ(full.size(), echo.size() - 9 + 7);  // "GS v 0 " and the rest from character 9

    bool cut = false;
    const std::string head = HistoryReadingPrefix(echo, 512, &cut);
    EXPECT_TRUE(cut);
    EXPECT_EQ(head, full.substr(0, 512));
    EXPECT_EQ(HistoryReadingPrefix(echo, full.size(), &cut), full);
    EXPECT_FALSE(cut);
}

// The reading worked out from the bytes is the reading of their echo text, whole and cut at any
// limit: commands of every leading control byte, the listed third-byte commands, text rows, and
// rows long enough to be cut.
TEST(HistoryReading, ReadingTheBytesEqualsReadingTheirEchoText) {
    std::vector<std::vector<uint8_t>> rows = {{}, {0x1B}, {0x41}, {0x1D, 0x76}, {0x1B, 0x0A}};
    for (int b0 = 0; b0 < 0x20; ++b0) {
        for (const int b1 : {0x00, 0x0A, 0x1F, 0x20, int{'('}, int{'c'}, int{'g'}, int{'v'}, int{'z'}, int{'C'}, int{'8'}, int{'Q'}, 0x7F, 0xFF}) {
            rows.push_back({static_cast<uint8_t>(b0), static_cast<uint8_t>(b1)});
            rows.push_back({static_cast<uint8_t>(b0), static_cast<uint8_t>(b1), 0x30});
            rows.push_back({static_cast<uint8_t>(b0), static_cast<uint8_t>(b1), 0x41, 0x00, 0xE2});
        }
    }
    std::mt19937 rng(7u);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> length(0, 700);
    for (int i = 0; i < 400; ++i) {
        std::vector<uint8_t> row(length(rng));
        for (uint8_t& b : row) b = static_cast<uint8_t>(byte(rng));
        if (i % 2 == 0 && !row.empty()) row[0] = static_cast<uint8_t>(row[0] % 0x20);  // a command
        rows.push_back(std::move(row));
    }
    for (const std::vector<uint8_t>& row : rows) {
        const std::string echo = Hex(row);
        ASSERT_EQ(HistoryReading(std::span<const uint8_t>(row)), HistoryReading(echo)) << echo;
        for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{5}, std::size_t{9},
                                        std::size_t{200}, std::size_t{512}, std::string::npos}) {
            bool cutBytes = true, cutEcho = false;
            ASSERT_EQ(HistoryReadingPrefix(std::span<const uint8_t>(row), limit, &cutBytes),
                      HistoryReadingPrefix(echo, limit, &cutEcho))
                << echo << " limit " << limit;
            ASSERT_EQ(cutBytes, cutEcho) << echo << " limit " << limit;
        }
    }
}

TEST(HistoryReading, DisplayFormShowsEveryByte) {
    EXPECT_EQ(DisplayReading("ESC a 01 "), "ESC a 01 ");
    // Control bytes show one way, as \xHH like the bytes without a character (no font boxes).
    EXPECT_EQ(DisplayReading("Hi\r\n"), "Hi\\x0D\\x0A");
    EXPECT_EQ(DisplayReading(std::string("\0\x1B\x1F", 3)), "\\x00\\x1B\\x1F");
    EXPECT_EQ(DisplayReading("\x7F"), "\\x7F");
    EXPECT_EQ(DisplayReading("\x80\xE2\xFF~"), "\\x80\\xE2\\xFF~");
}

TEST(HistoryReading, EscapedFormIsPlainAsciiAndUnambiguous) {
    EXPECT_EQ(EscapeReading("Hi\n"), "Hi\\x0A");
    EXPECT_EQ(EscapeReading(std::string("\0\x7F\xE2", 3)), "\\x00\\x7F\\xE2");
    EXPECT_EQ(EscapeReading("a\\x0A"), "a\\\\x0A");  // a typed backslash stays distinguishable
    EXPECT_EQ(EscapeReading("GS ( k 03 "), "GS ( k 03 ");
}

}  // namespace
}  // namespace pellory::app
