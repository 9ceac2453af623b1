// Hexadecimal digits and hex text: the written forms and the four readers.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "protocol/hex.h"

namespace pellory::protocol::hex {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Hex, WrittenForms) {
    const Bytes b = {0x00, 0x1B, 0xA0, 0xFF};
    std::string echo;
    AppendEcho(echo, b.data(), b.size());
    EXPECT_EQ(echo, "00 1B A0 FF ");
    EXPECT_TRUE(IsEchoOf(echo, b.data(), b.size()));
    EXPECT_FALSE(IsEchoOf("00 1b A0 FF ", b.data(), b.size()));  // written in upper case only
    EXPECT_FALSE(IsEchoOf("00 1B A0 FF", b.data(), b.size()));
    EXPECT_EQ(Spaced(b.data(), b.size()), "00 1B A0 FF");
    EXPECT_EQ(Spaced(b.data(), 0), "");
    EXPECT_EQ(Byte(0x0C), "0C");
    std::string escape;
    AppendEscape(escape, 0x7F);
    EXPECT_EQ(escape, "\\x7F");
    for (unsigned v = 0; v < 16; ++v) EXPECT_EQ(DigitValue(Digit(v)), static_cast<int>(v));
    EXPECT_EQ(DigitValue('f'), 15);
    EXPECT_EQ(DigitValue('g'), -1);
    EXPECT_EQ(DigitValue('\xC6'), -1);
}

struct ReadRow {
    std::string text;
    std::optional<Bytes> echo;  // ParseEcho
    Bytes hexText;              // ParseHexText
    Bytes pairs;                // DigitPairs
};

TEST(Hex, TheReadersEachByTheirRules) {
    const std::vector<ReadRow> rows = {
        {"", Bytes{}, {}, {}},
        {"1B 40 ", Bytes{0x1B, 0x40}, {0x1B, 0x40}, {0x1B, 0x40}},
        {"1b 40", Bytes{0x1B, 0x40}, {0x1B, 0x40}, {0x1B, 0x40}},
        {"1B40", std::nullopt, {0x1B, 0x40}, {0x1B, 0x40}},
        {"123", std::nullopt, {0x12, 0x03}, {0x12}},
        {"1 B", std::nullopt, {0x01, 0x0B}, {}},
        {"A", std::nullopt, {0x0A}, {}},
        {"1B,40", std::nullopt, {0x1B, 0x00}, {0x1B, 0x40}},
        {"1B\t40", std::nullopt, {0x1B, 0x00}, {0x1B, 0x40}},  // "\t4" is no pair
        {"1B\r\n40\b", std::nullopt, {0x1B, 0x40}, {0x1B, 0x40}},
        {"1B  40", std::nullopt, {0x1B, 0x40}, {0x1B, 0x40}},
    };
    for (const ReadRow& row : rows) {
        EXPECT_EQ(ParseEcho(row.text), row.echo) << '"' << row.text << '"';
        EXPECT_EQ(ParseHexText(row.text), row.hexText) << '"' << row.text << '"';
        EXPECT_EQ(DigitPairs(row.text), row.pairs) << '"' << row.text << '"';
    }
}

TEST(Hex, LeadingByteReadsAtMostTwoDigitsAtItsPosition) {
    const std::string echo = "1B 4 x7 F";
    EXPECT_EQ(LeadingByte(echo, 0), 0x1B);
    EXPECT_EQ(LeadingByte(echo, 3), 0x04);  // one digit, then a space
    EXPECT_EQ(LeadingByte(echo, 5), 0x00);  // no digit
    EXPECT_EQ(LeadingByte(echo, 6), 0x07);
    EXPECT_EQ(LeadingByte(echo, 8), 0x0F);  // one character left
    EXPECT_EQ(LeadingByte(echo, 9), 0x00);  // past the end
    EXPECT_EQ(LeadingByte("F", 0), 0x0F);
    EXPECT_EQ(LeadingByte("AB", 5), 0x00);
}

}  // namespace
}  // namespace pellory::protocol::hex
