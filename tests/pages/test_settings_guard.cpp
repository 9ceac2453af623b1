// The tests' guard of the process-wide settings (support/settings_guard.h, page_settings_guard.h):
// whatever one test leaves in them, the next starts from the program's start-up values. The same
// test runs twice; each run finds the start-up values and leaves others behind, so whichever
// runs second fails when nothing put them back.
#include <gtest/gtest.h>

#include "charset/printer_record.h"
#include "link/port_settings.h"
#include "page_settings_guard.h"
#include "pages/core/page_link.h"
#include "platform/stop_request.h"

using namespace pellory;

namespace {

class SettingsGuardTest : public ::testing::TestWithParam<int> {};

TEST_P(SettingsGuardTest, EachTestStartsFromTheStartUpValues) {
    const link::PortSettingsRecord start{};
    EXPECT_EQ(link::PortSettings.portNumber, start.portNumber);
    EXPECT_EQ(link::PortSettings.baudRate, start.baudRate);
    EXPECT_EQ(link::PortSettings.requestedBaudRate, start.requestedBaudRate);
    EXPECT_EQ(link::PortSettings.dataBits, start.dataBits);
    EXPECT_EQ(link::PortSettings.parity, start.parity);
    EXPECT_EQ(link::PortSettings.stopBits, start.stopBits);
    EXPECT_EQ(link::PortSettings.handshake, start.handshake);
    EXPECT_EQ(link::PortSettings.answersStatus, start.answersStatus);
    EXPECT_EQ(link::PrintableWidth, link::kPrintableWidthOrva58);
    EXPECT_FALSE(platform::StopRequested());
    EXPECT_FALSE(pages::ReadyFlag);
    EXPECT_EQ(charset::LastPrinterState(), charset::PrinterState{});
    EXPECT_FALSE(charset::PrinterCharactersShown());

    // What a test may leave behind.
    link::PortSettings = {7, 4800, 19200, 7, 1, 2, 3, false};
    link::PrintableWidth = link::kPrintableWidthOrva80;
    platform::RequestStop(2);
    pages::ReadyFlag = true;
    charset::RecordCodeTable(charset::CodeTable::PC858);
    charset::RecordInternationalSet(8);
    charset::RecordKanji(true);
    charset::ShowPrinterCharacters(true);
}

INSTANTIATE_TEST_SUITE_P(Twice, SettingsGuardTest, ::testing::Range(0, 2));

}  // namespace
