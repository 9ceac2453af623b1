// Bytes a page's link received before a connection probe (a reply to an earlier status request,
// a byte the printer sent unasked) are not taken for the probe's answer: a printer gone silent is
// reported as not answering, and "Text Print" shows such bytes in its receive view first instead
// of losing them or taking one as the answer. What comes with the answer, behind its status byte,
// is shown after it.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <memory>
#include <string>
#include <vector>

#include "link/port_settings.h"
#include "page_test_support.h"
#include "pages/core/print_setup_actions.h"
#include "pages/text_print_page.h"
#include "platform/port_map.h"
#include "platform/threads.h"
#include "support/net_peers.h"
#include "support/support.h"
#include "widgets/qt_test_app.h"

using namespace pellory;
using test::Hex;
using vprinter::VirtualPrinter;

namespace {

constexpr int kCom = 64;
const std::string kNoAnswer = "Communicate Error:Printer No Answer.";

// Waits (a watchdog bound only) until the link's reader has buffered n bytes. No events are run
// meanwhile, so a page has not shown them yet.
bool WaitForBuffered(link::CSerialEngine& link, size_t n) {
    for (int i = 0; i < 2000; ++i) {
        if (link.ReceiveBuffer().Count() >= n) return true;
        platform::SleepMs(5);
    }
    return false;
}

class EarlierBytesTest : public ::testing::Test {
protected:
    void SetUp() override {
        link::PortSettings.portNumber = kCom;
        pages::ReadyFlag = true;
    }
    test::ScriptedPrompt prompt;
    test::RecordingHistory history;
};

}  // namespace

// Two "Double High" clicks leave two status replies behind; once the link has been let go and
// the printer has gone silent, the next actions must not count those replies as answers.
TEST_F(EarlierBytesTest, RepliesLeftByDoubleHighDoNotMakeASilentPrinterAnswer) {
    test::MappedPrinter p(kCom);
    pages::PrintSetupActions page;
    page.SetPrompt(&prompt);
    page.SetMainWindow(&history);
    page.Start();
    pages::StyleBoxes boxes;
    boxes.doubleHigh = true;
    ASSERT_EQ(page.ClickStyle(protocol::kModeDoubleHeight, boxes), pages::ActionOutcome::Sent);
    boxes.doubleHigh = false;
    ASSERT_EQ(page.ClickStyle(protocol::kModeDoubleHeight, boxes), pages::ActionOutcome::Sent);
    ASSERT_TRUE(WaitForBuffered(page, 2));
    page.CloseLink();  // a tab change
    p->setAnswerMode(VirtualPrinter::AnswerMode::Silent);
    p->clearReceived();
    history.rows.clear();

    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(page.Reset(), pages::ActionOutcome::LinkClosed);
        EXPECT_FALSE(page.IsOpen());
    }
    EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{kNoAnswer, kNoAnswer}));
    // Only the two probes went out; the reset command never did.
    EXPECT_EQ(history.rows, (std::vector<std::string>{"10 04 05 ", "10 04 05 "}));
    EXPECT_TRUE(p->waitForBytes(6, 5000));
    p->waitForQuiet(30, 1000);
    EXPECT_EQ(p->received(), Hex("10 04 05 10 04 05"));
}

// "Text Print" shows what arrived and was not shown yet before the probe goes out; the probe's
// own answer is not shown, and nothing is shown twice.
TEST_F(EarlierBytesTest, TextPrintShowsBytesNotShownYetBeforeTheProbe) {
    test::MappedPrinter p(kCom);
    pages::CDialogTprint page;
    page.SetPrompt(&prompt);
    page.SetMainWindow(&history);
    page.MakeSelfNotifyWindow();
    page.SetReceiveHex(true);
    page.echoSwitch = true;
    ASSERT_TRUE(page.Feed());

    ASSERT_TRUE(p->sendUnsolicited(Hex("41 42")));
    ASSERT_TRUE(WaitForBuffered(page, 2));
    page.CloseLink();  // a tab change before the page had its turn to show them
    ASSERT_TRUE(page.Feed());
    EXPECT_EQ(page.ReceiveText(), QStringLiteral("41 42 ")) << "shown before the probe's request";
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(page.ReceiveText(), QStringLiteral("41 42 "));
    EXPECT_TRUE(prompt.messages.empty());

    // A byte left before a probe that the printer no longer answers: shown, not taken as the answer.
    ASSERT_TRUE(p->sendUnsolicited(Hex("00")));
    ASSERT_TRUE(WaitForBuffered(page, 1));
    page.CloseLink();
    p->setAnswerMode(VirtualPrinter::AnswerMode::Silent);
    EXPECT_FALSE(page.Feed());
    EXPECT_FALSE(page.IsOpen());
    EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{kNoAnswer}));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(page.ReceiveText(), QStringLiteral("41 42 00 "));
}

// A printer that sends an automatic status back together with its answer to the probe: the answer
// keeps the link open and is not shown; the four bytes behind it are.
TEST_F(EarlierBytesTest, TextPrintShowsWhatCameBehindTheProbesAnswer) {
    test::NetworkPrinterPeer::Options o;
    o.reply = Hex("00 14 00 00 0F");
    test::NetworkPrinterPeer peer(o);
    platform::PortMap::instance().setOverride(kCom, peer.entry());
    pages::CDialogTprint page;
    page.SetPrompt(&prompt);
    page.SetMainWindow(&history);
    page.MakeSelfNotifyWindow();
    page.SetReceiveHex(true);
    ASSERT_TRUE(page.Feed());
    EXPECT_TRUE(prompt.messages.empty());
    for (int i = 0; i < 400 && page.ReceiveText().size() < 12; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        platform::SleepMs(5);
    }
    EXPECT_EQ(page.ReceiveText(), QStringLiteral("14 00 00 0F "));
    page.CloseLink();
    platform::PortMap::instance().clearOverride(kCom);
}
