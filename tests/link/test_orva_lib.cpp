// The printer command library: exact bytes and send grouping of every command, and the decoder
// of unsolicited printer bytes.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "link/orva_lib.h"
#include "link/port_settings.h"
#include "support/support.h"

using namespace pellory;
using link::CORVA_LIB;
using test::Echo;
using test::Hex;

namespace {

// A closed link in the pages' mode records each Send as it happens: the echo text grows by one
// group per Send call, so cutting it after every call shows the grouping.
class GroupingLink : public CORVA_LIB {
public:
    GroupingLink() {
        SetFlags(link::kPageLinkFlags);
        echoSwitch = true;
    }
};

class PostLog : public link::NotifyTarget {
public:
    bool IsLive() const override { return live; }
    void Post(uint32_t message, uintptr_t, intptr_t) override { messages.push_back(message); }
    void Send(uint32_t message, uintptr_t, intptr_t) override { messages.push_back(message); }
    bool live = true;
    std::vector<uint32_t> messages;
};

}  // namespace

TEST(CommandLibrary, RasterImageSendsHeaderThenExactlyTheImageBytes) {
    GroupingLink l;
    std::vector<uint8_t> image(9040);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
    image.resize(9040 + 16, 0xEE);  // bytes beyond the image must not be sent
    l.SendRasterImage(image.data(), 0, 40, 0, 226, 0);
    const std::string echo = l.TakeEcho().hex();
    ASSERT_EQ(echo.size(), 3u * (8 + 9040));
    EXPECT_EQ(echo.substr(0, 24), "1D 76 30 00 28 00 E2 00 ");
    EXPECT_EQ(echo.substr(24), Echo(std::vector<uint8_t>(image.begin(), image.begin() + 9040)));
    EXPECT_EQ(l.SendBuffer().Count(), 8u + 9040u);
    // xH and yH count 256 each.
    std::vector<uint8_t> wide(2 * 256 * 1, 0xAA);
    l.SendRasterImage(wide.data(), 3, 0, 2, 1, 0);
    EXPECT_EQ(l.TakeEcho().size(), 8u + 512u);
}

TEST(CommandLibrary, TableRowSendsPositionsCellsAndTexts) {
    GroupingLink l;
    const uint8_t positions[5] = {0x00, 0x08, 0x10, 0x18, 0x20};
    const CORVA_LIB::TableCell cells[4] = {
        {0x02, 0x02, 9, "  Option A  "}, {0x0A, 0x01, 7, "  Data1"}, {0x12, 0x01, 7, "  Data2"}, {0x1A, 0x01, 7, "  Data3"}};
    l.SendTableRow(positions, cells);
    std::vector<uint8_t> expected = Hex("1C 56 05 00 08 10 18 20 04 02 0A 12 1A 02");
    const std::string option = "  Option ";
    expected.insert(expected.end(), option.begin(), option.end());
    expected.push_back(0);
    for (const char* data : {"  Data1", "  Data2", "  Data3"}) {
        expected.push_back(0x01);
        expected.insert(expected.end(), data, data + 7);
        expected.push_back(0);
    }
    EXPECT_EQ(l.TakeEcho(), Echo(expected));
}

TEST(CommandLibrary, QrSequences) {
    GroupingLink l;
    l.QrSelectModel();
    EXPECT_EQ(l.TakeEcho(), "1D 28 6B 04 00 31 41 32 00 ");
    l.QrSetModuleSize();
    EXPECT_EQ(l.TakeEcho(), "1D 28 6B 03 00 31 43 05 ");
    l.QrSetErrorLevel();
    EXPECT_EQ(l.TakeEcho(), "1D 28 6B 03 00 31 45 30 ");
    l.QrStoreSample();
    EXPECT_EQ(l.TakeEcho(), "1D 28 6B 1F 00 31 50 30 " + Echo(std::string("Westhaven PELLRY Development")));
    l.QrPrint();
    EXPECT_EQ(l.TakeEcho(), "1D 28 6B 03 00 31 51 30 ");
}

TEST(CommandLibrary, BaudSetupSendsTheRequestedRateAsDigits) {
    GroupingLink l;
    struct Case {
        int32_t rate;
        const char* echo;
    };
    for (const Case& c : {Case{9600, "1D 28 45 06 00 0B 01 39 36 30 30 "},
                          Case{115200, "1D 28 45 08 00 0B 01 31 31 35 32 30 30 "},
                          Case{19200, "1D 28 45 07 00 0B 01 31 39 32 30 30 "},
                          Case{0, ""},
                          // Only eight digits are kept.
                          Case{123456789, "1D 28 45 0A 00 0B 01 32 33 34 35 36 37 38 39 "}}) {
        link::PortSettings.requestedBaudRate = c.rate;
        l.SetPrinterBaud();
        EXPECT_EQ(l.TakeEcho(), c.echo) << c.rate;
    }
}

TEST(CommandLibrary, HandshakeSetup) {
    GroupingLink l;
    l.SetPrinterHandshake(link::kPrinterFlowXonXoff);
    EXPECT_EQ(l.TakeEcho(), "1D 28 45 03 00 0B 03 31 ");
    l.SetPrinterHandshake(link::kPrinterFlowNone);
    EXPECT_EQ(l.TakeEcho(), "1D 28 45 03 00 0B 03 00 ");
}

TEST(CommandLibrary, CommandsReachThePrinterOnAnOpenLink) {
    test::MappedPrinter p(44);
    CORVA_LIB l;
    l.SetFlags(link::kPageLinkFlags);
    ASSERT_TRUE(l.Open(44, 8, 0, 0));
    l.QrStoreSample();
    link::PortSettings.requestedBaudRate = 38400;
    l.SetPrinterBaud();
    std::vector<uint8_t> expected = Hex("1D 28 6B 1F 00 31 50 30");
    const std::string qr = "Westhaven PELLRY Development";
    expected.insert(expected.end(), qr.begin(), qr.end());
    const auto baud = Hex("1D 28 45 07 00 0B 01 33 38 34 30 30");
    expected.insert(expected.end(), baud.begin(), baud.end());
    ASSERT_TRUE(p->waitForBytes(expected.size(), 3000));
    EXPECT_EQ(p->received(), expected);
    platform::SleepMs(100);
    EXPECT_EQ(p->baudRate(), 38400u);  // the printer took the set-up command
}

TEST(Decoder, StatusBitsPostSetAndClearMessages) {
    CORVA_LIB l;
    auto log = std::make_shared<PostLog>();
    l.SetOwnerWindow(log);
    for (int b : {0x01, 0x01, 0x00, 0x00}) l.ParseReceivedByte(static_cast<uint8_t>(b));
    EXPECT_EQ(log->messages, (std::vector<uint32_t>{link::MSG_PRN_BIT0_SET, link::MSG_PRN_BIT0_SET, link::MSG_PRN_BIT0_CLEAR}));

    log->messages.clear();
    l.ParseReceivedByte(0x1F);  // bit 0x10 set: not a status byte
    l.ParseReceivedByte(0x3F);
    EXPECT_TRUE(log->messages.empty());
    // 2F has bit 0x10 clear (0x20 + 0x0F): it is a status byte like any other.
    l.ParseReceivedByte(0x2F);
    EXPECT_EQ(log->messages.size(), 5u);
    l.ParseReceivedByte(0x00);
    log->messages.clear();
    l.ParseReceivedByte(0x2E);  // 0x02, 0x04, 0x08, 0x20; handled in the order 01 02 08 04 20
    EXPECT_EQ(log->messages, (std::vector<uint32_t>{link::MSG_PRN_BIT1_SET, link::MSG_PRN_BIT3_SET,
                                                    link::MSG_PRN_BIT2_SET, link::MSG_PRN_BIT5_SET}));
    log->messages.clear();
    l.ParseReceivedByte(0xC0);  // 0x40 and 0x80 mean nothing; the others clear
    EXPECT_EQ(log->messages, (std::vector<uint32_t>{link::MSG_PRN_BIT1_CLEAR, link::MSG_PRN_BIT3_CLEAR,
                                                    link::MSG_PRN_BIT2_CLEAR, link::MSG_PRN_BIT5_CLEAR}));
}

TEST(Decoder, TextRepliesAreCollectedAndStatusBytesInsideThemAreText) {
    CORVA_LIB l;
    auto log = std::make_shared<PostLog>();
    l.SetOwnerWindow(log);
    for (int b : {0x37, 0x41, 0x01, 0x42, 0x00}) l.ParseReceivedByte(static_cast<uint8_t>(b));
    EXPECT_EQ(log->messages, (std::vector<uint32_t>{link::MSG_PRN_TEXT}));
    EXPECT_FALSE(l.StatusMemory(0x01));
    EXPECT_FALSE(l.Collecting());
    EXPECT_EQ(l.CollectedLength(), 5u);
    const auto& area = l.TextArea();
    EXPECT_EQ(std::vector<uint8_t>(area.begin(), area.begin() + 5), Hex("37 41 01 42 00"));
    // 30 and 31 have bit 0x10 set and are not 37: nothing happens.
    log->messages.clear();
    l.ParseReceivedByte(0x30);
    l.ParseReceivedByte(0x31);
    EXPECT_FALSE(l.Collecting());
    EXPECT_TRUE(log->messages.empty());
}

TEST(Decoder, OverlongTextIsCountedNotStoredAndStateChangesWithoutAWindow) {
    CORVA_LIB l;  // no owner window: nothing is posted, the state still changes
    l.ParseReceivedByte(0x37);
    for (int i = 0; i < 300; ++i) l.ParseReceivedByte(0x41);
    EXPECT_TRUE(l.Collecting());
    EXPECT_EQ(l.CollectedLength(), 301u);
    l.ParseReceivedByte(0x00);
    EXPECT_FALSE(l.Collecting());
    EXPECT_EQ(l.CollectedLength(), 302u);
    EXPECT_EQ(l.TextArea()[255], 0x41);
    l.ParseReceivedByte(0x08);
    EXPECT_TRUE(l.StatusMemory(0x08));

    auto log = std::make_shared<PostLog>();
    log->live = false;  // a window that no longer exists gets nothing
    l.SetOwnerWindow(log);
    l.ParseReceivedByte(0x00);
    EXPECT_FALSE(l.StatusMemory(0x08));
    EXPECT_TRUE(log->messages.empty());
}
