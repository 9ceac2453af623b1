// The code tables compiled into the program rather than read from a converter: every byte of each
// against its chart in tools/code_page_charts/, and against the C library's own converter for the
// same table where the system has one; every character back to its byte through the text
// functions; the euro sign at D5 of PC857.
#include <gtest/gtest.h>

#include <string>

#include "charset/code_tables.h"
#include "charset/printer_text.h"
#include "converter_answers.h"

namespace pellory::charset {
namespace {

using test::IconvByte;
using test::SystemHas;

struct Compiled {
    CodeTable table;
    const char* chart;      // its file in tools/code_page_charts/
    const char* converter;  // glibc's converter of the same table, nullptr where glibc has none
};

constexpr Compiled kCompiled[] = {
    {CodeTable::PC853, "pc853.txt", nullptr},
    {CodeTable::PC857, "pc857.txt", "CP857"},       // but for the euro sign at D5
    {CodeTable::Tcvn3, "tcvn3.txt", "TCVN5712-1"},  // the part of TCVN 5712 that is TCVN-3
    {CodeTable::Tcvn3Capitals, "tcvn3-capitals.txt", nullptr},
    {CodeTable::PC720, "pc720.txt", nullptr},
    {CodeTable::PC1098, "pc1098.txt", nullptr},
    {CodeTable::PC1118, "pc1118.txt", "CP774"},
    {CodeTable::PC1119, "pc1119.txt", "CP772"},
    {CodeTable::PC1125, "pc1125.txt", "CP1125"},
};

std::string ChartPath(const char* name) { return std::string(PELLORY_SOURCE_DIR) + "/tools/code_page_charts/" + name; }

TEST(CompiledCodeTables, EveryByteIsTheChartsCharacter) {
    for (const Compiled& c : kCompiled) {
        const char* caption = InfoOf(c.table).caption;
        std::string problem;
        const auto chart = test::ReadChart(ChartPath(c.chart), problem);
        ASSERT_TRUE(chart) << problem;
        const ByteTable& table = TableOf(c.table);
        for (int b = 0; b < 0x80; ++b) EXPECT_EQ(table.CharOf(static_cast<uint8_t>(b)), char32_t(b)) << caption;
        for (int b = 0x80; b < 0x100; ++b) {
            EXPECT_EQ(table.CharOf(static_cast<uint8_t>(b)), (*chart)[static_cast<size_t>(b - 0x80)])
                << caption << " byte " << std::hex << b;
        }
        // Compiled in: no converter to miss, whatever the system has.
        EXPECT_EQ(InfoOf(c.table).converter, nullptr) << caption;
        EXPECT_EQ(ConverterProblem(c.table), "") << caption;
    }
}

// Where glibc has a converter for the same table, it agrees on every byte it has a character for
// (TCVN-3 leaves out the capitals with tone marks and the combining marks of TCVN 5712; PC857's
// D5 is the printers' euro sign, which glibc's CP857 lacks).
TEST(CompiledCodeTables, EveryByteAsTheSystemsConverterReadsIt) {
    int compared = 0;
    for (const Compiled& c : kCompiled) {
        if (!c.converter || !SystemHas(c.converter)) continue;
        const char* caption = InfoOf(c.table).caption;
        const ByteTable& table = TableOf(c.table);
        for (int b = 0x80; b < 0x100; ++b) {
            const auto byte = static_cast<uint8_t>(b);
            const char32_t ours = table.CharOf(byte);
            if (c.table == CodeTable::PC857 && byte == 0xD5) {
                EXPECT_EQ(ours, U'\u20AC');
                EXPECT_EQ(IconvByte(c.converter, byte), kNoCharacter);
            } else if (c.table == CodeTable::Tcvn3 && ours == kNoCharacter) {
                continue;
            } else {
                EXPECT_EQ(ours, IconvByte(c.converter, byte)) << caption << " byte " << std::hex << b;
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 0) << "the system has none of the converters";
}

// Every character of a compiled table goes out as its byte (the first, where the table has it
// twice) and comes back as the same character.
TEST(CompiledCodeTables, EveryCharacterGoesOutAsItsByte) {
    for (const Compiled& c : kCompiled) {
        const char* caption = InfoOf(c.table).caption;
        const ByteTable& table = TableOf(c.table);
        const PrinterState state{c.table, 0, false};
        int characters = 0;
        for (int b = 0x80; b < 0x100; ++b) {
            const auto byte = static_cast<uint8_t>(b);
            const char32_t ch = table.CharOf(byte);
            if (ch == kNoCharacter) continue;
            ++characters;
            int first = b;
            for (int e = 0x80; e < b; ++e) {
                if (table.CharOf(static_cast<uint8_t>(e)) == ch) {
                    first = e;
                    break;
                }
            }
            const EncodeResult e = Encode(std::u32string(1, ch), state);
            ASSERT_TRUE(e.ok()) << caption << " byte " << std::hex << b;
            EXPECT_EQ(e.bytes, std::vector<uint8_t>{static_cast<uint8_t>(first)})
                << caption << " byte " << std::hex << b;
            const DecodeResult d = Decode(std::string(1, static_cast<char>(byte)), state);
            ASSERT_TRUE(d.ok()) << caption << " byte " << std::hex << b;
            EXPECT_EQ(d.text, std::u32string(1, ch)) << caption << " byte " << std::hex << b;
        }
        EXPECT_GT(characters, 64) << caption;
    }
}

// Client libraries choose PC857 for the euro sign at D5, as PC858 has it.
TEST(CompiledCodeTables, EuroSignOfPC857AtD5) {
    const PrinterState pc857{CodeTable::PC857, 0, false};
    const EncodeResult e = EncodeUtf8("\u20AC 5", pc857);
    ASSERT_TRUE(e.ok());
    EXPECT_EQ(e.bytes, (std::vector<uint8_t>{0xD5, 0x20, 0x35}));
    EXPECT_EQ(e.bytes, EncodeUtf8("\u20AC 5", PrinterState{CodeTable::PC858, 0, false}).bytes);
    // PC853 has no euro sign: refused, not replaced.
    EXPECT_FALSE(EncodeUtf8("\u20AC", PrinterState{CodeTable::PC853, 0, false}).ok());
}

}  // namespace
}  // namespace pellory::charset
