// The data rules of the ten symbologies, their list entries and range texts, the commands of
// the "Barcode Print" page, and the reading of its number fields.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "page_test_support.h"
#include "pages/core/barcode_actions.h"

using namespace pellory;
using pages::BarcodeDataValid;
using test::Digits;

namespace {

enum Index { kUpcA, kUpcB, kEan13, kEan8, kCode39, kItf25, kCodabar, kCoda93, kCoda128, kEan128 };

std::string Byte(unsigned v) { return std::string(1, static_cast<char>(v)); }

}  // namespace

// --- the table as the page shows it ---

TEST(BarcodeTable, EntriesCommandsAndRangeTextsOfTheTenSymbologies) {
    struct Row {
        const char* item;
        unsigned m;
        const char* characters;
        const char* number;
    };
    const Row want[] = {
        {"UPC-A", 0x41, "0 ~ 9", "11"},
        {"UPC-B", 0x42, "0 ~ 9", "6"},
        {"EAN13", 0x43, "0 ~ 9", "12"},
        {"EAN8", 0x44, "0 ~ 9", "7"},
        {"CODE39", 0x45, "0 ~ 9   A ~ Z   SP $ % + - . /", "1 ~ 255"},
        {"ITF25", 0x46, "0 ~ 9", "2 ~ 255, Even"},
        {"CODABAR", 0x47, "0 ~ 9   $ + - . / :",
         "1 ~ 255, Insert A or a before code data, Insert D or d after code data"},
        {"CODA93", 0x48, "ASCII: NULL(0) ~ SP(127)", "1 ~ 255"},
        {"CODA128", 0x49, "ASCII: NULL(0) ~ SP(127)", "2 ~ 255"},
        {"EAN128", 0x4A, "ASCII: NULL(0) ~ SP(127)", "2 ~ 255"},
    };
    ASSERT_EQ(pages::kSymbologies.size(), std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        const pages::Symbology& s = pages::kSymbologies[i];
        EXPECT_STREQ(s.item, want[i].item) << i;
        EXPECT_EQ(s.m, want[i].m) << i;
        EXPECT_STREQ(s.characterRange, want[i].characters) << i;
        EXPECT_STREQ(s.numberRange, want[i].number) << i;
        EXPECT_EQ(pages::BarcodeHeader(static_cast<int>(i), 5),
                  (std::vector<uint8_t>{0x1D, 0x6B, static_cast<uint8_t>(want[i].m), 5}));
    }
    EXPECT_EQ(pages::BarcodeHeader(kCode39, 255).back(), 0xFF);
}

TEST(BarcodeTable, HriWidthAndHeightCommands) {
    EXPECT_EQ(pages::HriCommand(3), (std::vector<uint8_t>{0x1D, 0x48, 0x03}));
    EXPECT_EQ(pages::WidthCommand(6), (std::vector<uint8_t>{0x1D, 0x77, 0x06}));
    EXPECT_EQ(pages::HeightCommand(255), (std::vector<uint8_t>{0x1D, 0x68, 0xFF}));
}

// --- fixed-length digit symbologies ---

TEST(BarcodeRules, FixedLengthSymbologiesTakeExactlyTheirNumberOfDigits) {
    struct Case {
        int index;
        size_t length;
    };
    for (const Case c : {Case{kUpcA, 11}, Case{kUpcB, 6}, Case{kEan13, 12}, Case{kEan8, 7}}) {
        const std::string good = Digits(c.length);
        EXPECT_TRUE(BarcodeDataValid(c.index, good)) << c.index;
        EXPECT_FALSE(BarcodeDataValid(c.index, Digits(c.length - 1))) << c.index;
        EXPECT_FALSE(BarcodeDataValid(c.index, Digits(c.length + 1))) << c.index;
        EXPECT_FALSE(BarcodeDataValid(c.index, "")) << c.index;
        // One character that is not a digit, at the start, inside or at the end.
        for (size_t at : {size_t{0}, c.length / 2, c.length - 1}) {
            for (char bad : {'A', ' ', '/', ':', '\0'}) {
                std::string s = good;
                s[at] = bad;
                EXPECT_FALSE(BarcodeDataValid(c.index, s)) << c.index << " " << at << " " << int(bad);
            }
        }
    }
    EXPECT_TRUE(BarcodeDataValid(kUpcA, "01234567890"));
    EXPECT_TRUE(BarcodeDataValid(kEan13, "123456789012"));
    EXPECT_FALSE(BarcodeDataValid(kEan13, "1234567890123"));
}

TEST(BarcodeRules, Itf25TakesAnEvenNumberOfDigitsFromTwoTo254) {
    EXPECT_TRUE(BarcodeDataValid(kItf25, Digits(254)));
    EXPECT_TRUE(BarcodeDataValid(kItf25, Digits(2)));
    EXPECT_TRUE(BarcodeDataValid(kItf25, "0099"));
    EXPECT_FALSE(BarcodeDataValid(kItf25, Digits(255)));
    EXPECT_FALSE(BarcodeDataValid(kItf25, Digits(256)));
    EXPECT_FALSE(BarcodeDataValid(kItf25, Digits(3)));
    EXPECT_FALSE(BarcodeDataValid(kItf25, Digits(1)));
    EXPECT_FALSE(BarcodeDataValid(kItf25, ""));
    EXPECT_FALSE(BarcodeDataValid(kItf25, "12A4"));
}

// --- CODE39 ---

TEST(BarcodeRules, Code39TakesDigitsUpperCaseSpaceAndSixSigns) {
    EXPECT_TRUE(BarcodeDataValid(kCode39, "CODE-39 $1.00"));
    EXPECT_TRUE(BarcodeDataValid(kCode39, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%+-./"));
    EXPECT_TRUE(BarcodeDataValid(kCode39, "Z"));
    EXPECT_FALSE(BarcodeDataValid(kCode39, "abc"));
    EXPECT_FALSE(BarcodeDataValid(kCode39, "ABc"));
    for (const char* bad : {"*", "A:B", "A_B", "#", "A\tB", "@", "[", "`"}) {
        EXPECT_FALSE(BarcodeDataValid(kCode39, bad)) << bad;
    }
    EXPECT_FALSE(BarcodeDataValid(kCode39, "AB" + Byte(0xC1)));
    EXPECT_FALSE(BarcodeDataValid(kCode39, ""));
    EXPECT_TRUE(BarcodeDataValid(kCode39, std::string(255, 'A')));
    EXPECT_FALSE(BarcodeDataValid(kCode39, std::string(256, 'A')));
}

// --- CODABAR ---

TEST(BarcodeRules, CodabarNeedsStartAndStopLettersAroundDigitsAndSigns) {
    EXPECT_TRUE(BarcodeDataValid(kCodabar, "A1234B"));
    EXPECT_TRUE(BarcodeDataValid(kCodabar, "a40156d"));
    EXPECT_TRUE(BarcodeDataValid(kCodabar, "C$+-./:D"));
    EXPECT_TRUE(BarcodeDataValid(kCodabar, "AB"));
    EXPECT_FALSE(BarcodeDataValid(kCodabar, "1234"));
    EXPECT_FALSE(BarcodeDataValid(kCodabar, "A1234"));
    EXPECT_FALSE(BarcodeDataValid(kCodabar, "1234D"));
    EXPECT_FALSE(BarcodeDataValid(kCodabar, "E1234D"));
    EXPECT_FALSE(BarcodeDataValid(kCodabar, "A1234e"));
    // Start and stop letters are not allowed between them.
    EXPECT_FALSE(BarcodeDataValid(kCodabar, "A12B34D"));
    EXPECT_FALSE(BarcodeDataValid(kCodabar, "A12 34D"));
    EXPECT_FALSE(BarcodeDataValid(kCodabar, "A12%34D"));
    // One character is both first and last.
    for (const char* one : {"A", "B", "C", "D", "a", "b", "c", "d"}) EXPECT_TRUE(BarcodeDataValid(kCodabar, one)) << one;
    for (const char* one : {"1", "E", "$", "e"}) EXPECT_FALSE(BarcodeDataValid(kCodabar, one)) << one;
    EXPECT_FALSE(BarcodeDataValid(kCodabar, ""));
    // Built by appending: GCC 12 at -O3 takes "A" + std::string for an overlapping copy
    // (-Wrestrict, a false positive).
    auto framed = [](size_t digits) {
        std::string data(1, 'A');
        data += Digits(digits);
        data += 'D';
        return data;
    };
    EXPECT_TRUE(BarcodeDataValid(kCodabar, framed(253)));
    EXPECT_FALSE(BarcodeDataValid(kCodabar, framed(254)));
}

// --- CODE93, CODE128, EAN128 ---

TEST(BarcodeRules, AsciiSymbologiesTakeSevenBitValuesAndC1ToC4) {
    for (int index : {kCoda93, kCoda128, kEan128}) {
        const std::string pad = index == kCoda93 ? "" : "x";
        for (unsigned v : {0x00u, 0x01u, 0x20u, 0x41u, 0x7Fu, 0xC1u, 0xC2u, 0xC3u, 0xC4u}) {
            EXPECT_TRUE(BarcodeDataValid(index, pad + Byte(v))) << index << " " << v;
        }
        for (unsigned v : {0x80u, 0xA0u, 0xC0u, 0xC5u, 0xFFu}) {
            EXPECT_FALSE(BarcodeDataValid(index, pad + Byte(v))) << index << " " << v;
            EXPECT_FALSE(BarcodeDataValid(index, Byte(v) + "ab")) << index << " " << v;
        }
        EXPECT_TRUE(BarcodeDataValid(index, std::string(255, 'a'))) << index;
        EXPECT_FALSE(BarcodeDataValid(index, std::string(256, 'a'))) << index;
        EXPECT_FALSE(BarcodeDataValid(index, "")) << index;
    }
    // One character is enough for CODE93 only.
    EXPECT_TRUE(BarcodeDataValid(kCoda93, "a"));
    EXPECT_FALSE(BarcodeDataValid(kCoda128, "a"));
    EXPECT_TRUE(BarcodeDataValid(kCoda128, "ab"));
    EXPECT_FALSE(BarcodeDataValid(kEan128, "a"));
    EXPECT_TRUE(BarcodeDataValid(kEan128, "ab"));
    // A NUL inside the data counts as a character like any other.
    EXPECT_TRUE(BarcodeDataValid(kCoda128, std::string("\0\0", 2)));
}

TEST(BarcodeRules, AnIndexOutsideTheTableAcceptsNothing) {
    EXPECT_FALSE(BarcodeDataValid(-1, "01234567890"));
    EXPECT_FALSE(BarcodeDataValid(10, "ab"));
    EXPECT_FALSE(BarcodeDataValid(std::numeric_limits<int>::max(), "ab"));
}

// --- number fields ---

TEST(FieldNumber, WholeNumbersReadAsSignedAnythingElseAsZero) {
    using pages::ReadFieldNumber;
    EXPECT_EQ(ReadFieldNumber("64"), 64);
    EXPECT_EQ(ReadFieldNumber("007"), 7);
    EXPECT_EQ(ReadFieldNumber("-5"), -5);
    EXPECT_EQ(ReadFieldNumber("+12"), 12);
    EXPECT_EQ(ReadFieldNumber("  8 "), 8);
    EXPECT_EQ(ReadFieldNumber("\t-3"), -3);
    for (const char* zero : {"", " ", "-", "+", "abc", "12a", "a12", "1.5", "1 2", "--1", "0x10", "- 1"}) {
        EXPECT_EQ(ReadFieldNumber(zero), 0) << zero;
    }
    // Past the 32-bit range: saturated, so that a range check refuses it.
    EXPECT_EQ(ReadFieldNumber("2147483647"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ReadFieldNumber("2147483648"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ReadFieldNumber("99999999999999999999999"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ReadFieldNumber("-2147483648"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ReadFieldNumber("-99999999999999999999999"), std::numeric_limits<int32_t>::min());
    // 2^32 + 5 must not wrap to 5.
    EXPECT_EQ(ReadFieldNumber("4294967301"), std::numeric_limits<int32_t>::max());
}
