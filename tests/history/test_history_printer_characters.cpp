// The "Tips" reading with "Printer characters" chosen: bytes 0x80-0xFF show as the characters of
// the last "Print Setup" choices (two-byte codes in Kanji Mode), "\xHH" where there is none, and
// as bytes again when the choice is back to "Bytes (Latin-1)".
#include <gtest/gtest.h>

#include "charset/printer_record.h"
#include "history/history_reading.h"

using namespace pellory;

namespace {

class TipsCharactersTest : public ::testing::Test {
protected:
    void SetUp() override { charset::ResetPrinterRecord(); }
    void TearDown() override { charset::ResetPrinterRecord(); }
};

TEST_F(TipsCharactersTest, HighBytesShowAsThePrinterCharactersOnlyWhenChosen) {
    const std::string reading = app::HistoryReading("63 61 66 82 ");
    EXPECT_EQ(app::DisplayReading(reading), "caf\\x82");
    charset::ShowPrinterCharacters(true);
    EXPECT_EQ(app::DisplayReading(reading), "caf\u00E9");
    charset::RecordCodeTable(charset::CodeTable::PC858);
    EXPECT_EQ(app::DisplayReading(app::HistoryReading("D5 35 ")), "\u20AC5");
    // The lower half and the control bytes (\xHH) are as before; Page 255 has no characters.
    charset::RecordCodeTable(charset::CodeTable::Page255);
    EXPECT_EQ(app::DisplayReading(std::string("\x1B" "A\xD5", 3)), "\\x1B" "A\\xD5");
    charset::ShowPrinterCharacters(false);
    charset::RecordCodeTable(charset::CodeTable::PC437);
    EXPECT_EQ(app::DisplayReading(reading), "caf\\x82");
}

TEST_F(TipsCharactersTest, KanjiModeTakesTheTrailByte) {
    charset::ShowPrinterCharacters(true);
    charset::RecordKanji(true);
    EXPECT_EQ(app::DisplayReading(app::HistoryReading("41 D6 D0 42 ")), "A\u4E2D" "B");
    // A lead byte with no trail after it, and a byte that cannot lead.
    EXPECT_EQ(app::DisplayReading(std::string("A\xD6", 2)), "A\\xD6");
    EXPECT_EQ(app::DisplayReading(std::string("\x80" "A", 2)), "\\x80" "A");
}

}  // namespace
