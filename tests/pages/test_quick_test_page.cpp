// The "Printer Test" page against virtual printers: its controls, every sample's history rows and
// the bytes the printer receives, the probe row only on the first action after the link was
// closed, the status query with its lamps (replies, no reply, a reply left over from an earlier
// query is dropped), a port held by another program and a printer that does not answer.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <memory>

#include "link/port_settings.h"
#include "page_test_support.h"
#include "pages/quick_test_page.h"
#include "platform/serial_device.h"
#include "platform/threads.h"
#include "sample_expectations.h"
#include "support/captions.h"
#include "support/support.h"
#include "widgets/dialog_layout.h"
#include "widgets/qt_test_app.h"
#include "widgets/shade_button.h"

using namespace pellory;
using link::PortSettings;
using pages::CDialogQuickTest;
using test::Hex;
using vprinter::VirtualPrinter;
namespace expect = test::expect;

namespace {

constexpr int kCom = 61;
constexpr uint32_t kByteWaitMs = 30000;  // a watchdog: the bytes normally arrive at once

const std::string kNoAnswer = "Communicate Error:Printer No Answer.";
const std::string kOpenError = "COM Open Error.";
using Rows = std::vector<std::string>;

// Lamp ids with their captions, in the order the page sets them up.
struct LampId {
    int id;
    const char* caption;
};
constexpr LampId kLampIds[] = {{1014, "Over Heat"},    {1017, "Paper Error"},  {1018, "Platen Open"},
                               {1015, "Over Voltage"}, {1019, "Cutter Error"}, {1016, "Online"}};

class QuickTestPageTest : public test::PageTest<CDialogQuickTest> {
protected:
    QuickTestPageTest() : PageTest(kCom) {}
    void InitPage(CDialogQuickTest& p) override { p.InitTestPage(); }

    template <typename T = QPushButton>
    T* Control(int id) {
        // dynamic_cast: the lamp class has no meta-object of its own.
        T* w = dynamic_cast<T*>(widgets::FindControl(page.get(), id));
        EXPECT_NE(w, nullptr) << id;
        return w;
    }
    void Click(int id) {
        if (auto* b = Control<QAbstractButton>(id)) b->click();
    }
    void QueryStates() { Click(pages::kIdPrinterStatesButton); }
    // Captions of the lit lamps, in set-up order.
    std::vector<std::string> Lit() {
        std::vector<std::string> out;
        for (const LampId& l : kLampIds) {
            auto* lamp = Control<widgets::CShadeButton>(l.id);
            if (lamp && lamp->IsLit()) out.push_back(lamp->text().toStdString());
        }
        return out;
    }
    // Waits until the printer got n bytes and then fell quiet; returns what it got.
    static vprinter::Bytes Received(test::MappedPrinter& p, size_t n) {
        return test::ReceivedWhenQuiet(p, n, kByteWaitMs, 30, 1000);
    }
    // Waits until the page's receive buffer holds n bytes (30 s only as a watchdog).
    bool WaitForBuffered(size_t n) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (page->ReceiveBuffer().Count() < n) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            platform::SleepMs(5);
        }
        return true;
    }
};

// The same page actions with the printer on a pseudo-terminal and on the loopback network: the
// same rows, bytes and lamps.
using Transport = vprinter::VirtualPrinter::Transport;
class QuickTestPageOnEveryPort : public QuickTestPageTest, public ::testing::WithParamInterface<Transport> {};

vprinter::Bytes Concat(const vprinter::Bytes& a, const vprinter::Bytes& b) {
    vprinter::Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Ports, QuickTestPageOnEveryPort, ::testing::Values(Transport::PseudoTerminal, Transport::Tcp),
                         [](const ::testing::TestParamInfo<Transport>& param) {
                             return std::string(test::TransportName(param.param));
                         });

// --- the controls ---

TEST_F(QuickTestPageTest, GroupsSampleButtonsQueryButtonAndDarkLamps) {
    QStringList titles;
    for (auto* g : page->findChildren<QGroupBox*>()) titles << g->title();
    EXPECT_EQ(titles, (QStringList{"Test", "Printer States"}));

    for (const auto& e : expect::SampleExpectations()) {
        auto* b = Control<QPushButton>(e.controlId);
        ASSERT_NE(b, nullptr) << e.button;
        EXPECT_EQ(test::CaptionText(b), e.button);
        EXPECT_FALSE(b->objectName().isEmpty());
    }
    // Buttons in order: reading order of the sample buttons follows the samples.
    for (size_t i = 0; i < expect::SampleExpectations().size(); ++i) {
        EXPECT_EQ(widgets::ControlId(page->SampleButton(i)), expect::SampleExpectations()[i].controlId);
    }
    EXPECT_EQ(page->SampleButton(expect::SampleExpectations().size()), nullptr);
    EXPECT_EQ(test::Caption(Control<QPushButton>(1013)), "Printer States");
    for (const LampId& l : kLampIds) {
        auto* lamp = Control<widgets::CShadeButton>(l.id);
        ASSERT_NE(lamp, nullptr);
        EXPECT_EQ(lamp->text().toStdString(), l.caption);
        EXPECT_FALSE(lamp->IsLit());
    }
    EXPECT_EQ(page->LampButton(pages::Lamp::Online), Control<widgets::CShadeButton>(1016));
    EXPECT_EQ(page->LampButton(pages::Lamp::OverHeat), Control<widgets::CShadeButton>(1014));
    EXPECT_TRUE(page->echoSwitch);
    EXPECT_FALSE(page->IsOpen());
    EXPECT_TRUE(history.rows.empty());
}

TEST_F(QuickTestPageTest, LampClicksDoNothingAndInitTestPageDarkensEveryLamp) {
    test::MappedPrinter p(kCom);
    for (const LampId& l : kLampIds) Click(l.id);
    EXPECT_FALSE(page->IsOpen());
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(prompt.messages.empty());

    for (const LampId& l : kLampIds) Control<widgets::CShadeButton>(l.id)->SetLamp(true);
    page->echoSwitch = false;
    page->InitTestPage();
    EXPECT_TRUE(Lit().empty());
    EXPECT_TRUE(page->echoSwitch);
    platform::SleepMs(50);
    EXPECT_TRUE(p->received().empty());
}

// --- the samples ---

TEST_P(QuickTestPageOnEveryPort, ProbeRowOnlyOnTheFirstTestAfterTheLinkWasClosed) {
    test::MappedPrinter p(kCom, GetParam());
    const auto& cut = expect::SampleExpectations().back();
    ASSERT_STREQ(cut.button, "Cut");
    const Rows cutRows = expect::EchoRows(cut);
    ASSERT_EQ(cutRows.size(), 9u);

    Click(cut.controlId);
    Rows want = {expect::kRequestRow};
    want.insert(want.end(), cutRows.begin(), cutRows.end());
    EXPECT_EQ(history.rows, want);
    EXPECT_TRUE(page->IsOpen());
    const vprinter::Bytes once = Concat(Hex("10 04 05"), expect::AllBytes(cut));
    EXPECT_EQ(Received(p, once.size()), once);

    // Second test: no probe.
    Click(cut.controlId);
    want.insert(want.end(), cutRows.begin(), cutRows.end());
    EXPECT_EQ(history.rows, want);
    const vprinter::Bytes twice = Concat(once, expect::AllBytes(cut));
    EXPECT_EQ(Received(p, twice.size()), twice);

    // A tab change closes the link: the next test probes again.
    page->CloseLink();
    EXPECT_FALSE(page->IsOpen());
    history.rows.clear();
    Click(cut.controlId);
    ASSERT_EQ(history.rows.size(), 10u);
    EXPECT_EQ(history.rows.front(), expect::kRequestRow);
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_P(QuickTestPageOnEveryPort, EverySampleAddsItsRowsAndThePrinterGetsItsBytesInOrder) {
    test::MappedPrinter p(kCom, GetParam());
    bool first = true;
    for (const auto& e : expect::SampleExpectations()) {
        SCOPED_TRACE(e.button);
        history.rows.clear();
        p->clearReceived();
        const auto start = std::chrono::steady_clock::now();
        Click(e.controlId);
        const auto took = std::chrono::steady_clock::now() - start;

        Rows want = expect::EchoRows(e);
        vprinter::Bytes bytes = expect::AllBytes(e);
        if (first) {
            want.insert(want.begin(), expect::kRequestRow);
            bytes = Concat(Hex("10 04 05"), bytes);
            first = false;
        }
        EXPECT_EQ(history.rows, want);
        EXPECT_EQ(Received(p, bytes.size()), bytes);
        if (e.waitMs) {
            EXPECT_GE(took, std::chrono::milliseconds(e.waitMs));
        }
    }
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(page->IsOpen());
}

TEST_P(QuickTestPageOnEveryPort, GroupedAndLongRowsReachTheHistoryAsOneRowEach) {
    test::MappedPrinter p(kCom, GetParam());
    page->OpenAndProbe();
    ASSERT_TRUE(page->IsOpen());
    auto rowsOf = [&](int id) {
        history.rows.clear();
        Click(id);
        return history.rows;
    };
    const Rows htab = rowsOf(1006);
    EXPECT_NE(std::find(htab.begin(), htab.end(), "1B 44 0C 18 00 "), htab.end());
    const Rows barcode = rowsOf(1010);
    EXPECT_NE(std::find(barcode.begin(), barcode.end(), "1D 6B 43 0C 30 31 32 33 34 35 36 37 38 39 30 30 "),
              barcode.end());
    const Rows vtab = rowsOf(1007);
    const std::string prefix = "1C 56 05 00 08 10 18 20 04 02 0A 12 1A 02 20 20 4F 70 74 69 6F 6E 20 00 ";
    size_t tableRows = 0;
    for (const std::string& r : vtab) {
        if (r.rfind(prefix, 0) == 0) {
            ++tableRows;
            EXPECT_EQ(r, vtab[5]);
        }
    }
    EXPECT_EQ(tableRows, 4u);
    const Rows image = rowsOf(1008);
    ASSERT_EQ(image.size(), 7u);
    EXPECT_EQ(Hex(image[5]).size(), 8u + 9040u);
    EXPECT_EQ(Hex(image[5]), Concat(Hex("1D 76 30 00 28 00 E2 00"), samples::SamplePicture()));
}

TEST_P(QuickTestPageOnEveryPort, SilentPrinterStopsTheTestAfterTheProbe) {
    test::MappedPrinter p(kCom, GetParam());
    p->setAnswerMode(VirtualPrinter::AnswerMode::Silent);
    Click(1012);
    EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{kNoAnswer}));
    EXPECT_EQ(prompt.messages[0].caption, "");
    EXPECT_EQ(history.rows, (Rows{expect::kRequestRow}));
    EXPECT_FALSE(page->IsOpen());
    EXPECT_EQ(Received(p, 3), Hex("10 04 05"));
    EXPECT_FALSE(page->RunSample(11));
}

TEST_F(QuickTestPageTest, PortHeldByAnotherProgramSendsNothing) {
    test::MappedPrinter p(kCom);
    platform::SerialDevice other;
    ASSERT_EQ(other.open(p.path(), false), platform::SerialResult::Ok);
    Click(1008);
    EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{kOpenError}));
    EXPECT_EQ(prompt.messages[0].caption, "");
    EXPECT_TRUE(history.rows.empty());
    EXPECT_FALSE(page->IsOpen());
    p->waitForQuiet(50, 500);
    EXPECT_TRUE(p->received().empty());
}

TEST_F(QuickTestPageTest, RunSampleRejectsAnIndexBeyondTheSamples) {
    test::MappedPrinter p(kCom);
    EXPECT_FALSE(page->RunSample(samples::kSampleCount));
    EXPECT_FALSE(page->IsOpen());
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(page->RunSample(11));  // "Cut"
    EXPECT_EQ(history.rows.size(), 1u + 9u);
}

// --- the status query ---

TEST_P(QuickTestPageOnEveryPort, LampsShowEachReply) {
    test::MappedPrinter p(kCom, GetParam());
    size_t rows = 0;
    for (const auto& e : expect::LampExpectations()) {
        if (e.status == 0x10) continue;  // reads as no reply
        SCOPED_TRACE(int(e.status));
        p->setStatusByte(e.status);
        QueryStates();
        EXPECT_EQ(Lit(), e.lit);
        rows += rows == 0 ? 2 : 1;
        EXPECT_EQ(history.rows.size(), rows);
    }
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(page->IsOpen());
}

TEST_P(QuickTestPageOnEveryPort, QueryOnAClosedLinkAddsProbeAndRequestRows) {
    test::MappedPrinter p(kCom, GetParam());
    QueryStates();
    EXPECT_EQ(history.rows, (Rows{expect::kRequestRow, expect::kRequestRow}));
    EXPECT_EQ(Lit(), (std::vector<std::string>{"Online"}));
    EXPECT_TRUE(page->IsOpen());
    QueryStates();
    EXPECT_EQ(history.rows, (Rows{expect::kRequestRow, expect::kRequestRow, expect::kRequestRow}));
    EXPECT_EQ(Received(p, 9), Hex("10 04 05 10 04 05 10 04 05"));
    EXPECT_EQ(p->answeredRequests(), 3u);
    // The flow control of the handshake is back in the stored settings; nothing stays queued.
    EXPECT_NE(page->StoredLineSettings().flags & platform::kFlagOutxCtsFlow, 0u);
    EXPECT_EQ(page->SendBuffer().Count(), 0u);
    // The link stays open: a test now sends no probe.
    history.rows.clear();
    Click(1012);
    EXPECT_EQ(history.rows.size(), 9u);
}

TEST_P(QuickTestPageOnEveryPort, NoReplyOnAnOpenLinkDarkensAllLampsAndKeepsTheLink) {
    test::MappedPrinter p(kCom, GetParam());
    p->setStatusByte(0x2F);
    QueryStates();
    EXPECT_EQ(Lit().size(), 5u);
    p->setAnswerMode(VirtualPrinter::AnswerMode::Silent);
    history.rows.clear();
    const pages::StatusResult r = page->QueryStatus();
    EXPECT_TRUE(r.linkOpen);
    EXPECT_EQ(r.status, 0x10);
    EXPECT_EQ(r.lamps, pages::LampStates{});
    p->setAnswerMode(VirtualPrinter::AnswerMode::Status);
    p->setStatusByte(0x0C);
    QueryStates();
    EXPECT_EQ(Lit(), (std::vector<std::string>{"Over Heat", "Paper Error"}));
    p->setAnswerMode(VirtualPrinter::AnswerMode::Silent);
    QueryStates();
    EXPECT_TRUE(Lit().empty());
    EXPECT_EQ(history.rows, (Rows{expect::kRequestRow, expect::kRequestRow, expect::kRequestRow}));
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(page->IsOpen());
}

TEST_F(QuickTestPageTest, ABytePresentBeforeTheQueryIsDroppedAndTheLampsShowThisReply) {
    test::MappedPrinter p(kCom);
    QueryStates();
    ASSERT_EQ(Lit(), (std::vector<std::string>{"Online"}));
    ASSERT_EQ(page->ReceiveBuffer().Count(), 0u);

    // The printer sends a byte unasked; the query drops it and shows its own reply.
    ASSERT_TRUE(p->sendUnsolicited({0x0C}));
    ASSERT_TRUE(WaitForBuffered(1));
    p->setStatusByte(0x21);
    QueryStates();
    EXPECT_EQ(Lit(), (std::vector<std::string>{"Over Voltage", "Cutter Error"}));

    // Two bytes unasked: neither lags into the next lamps.
    ASSERT_TRUE(p->sendUnsolicited({0x08, 0x04}));
    ASSERT_TRUE(WaitForBuffered(2));
    p->setStatusByte(0x12);
    QueryStates();
    EXPECT_EQ(Lit(), (std::vector<std::string>{"Platen Open"}));
    QueryStates();
    EXPECT_EQ(Lit(), (std::vector<std::string>{"Platen Open"}));

    // A printer gone silent reads as no reply, whatever came before.
    ASSERT_TRUE(p->sendUnsolicited({0x00}));
    ASSERT_TRUE(WaitForBuffered(1));
    p->setAnswerMode(VirtualPrinter::AnswerMode::Silent);
    const pages::StatusResult r = page->QueryStatus();
    EXPECT_EQ(r.status, 0x10);
    EXPECT_EQ(r.lamps, pages::LampStates{});
}

TEST_F(QuickTestPageTest, QueryWithThePortHeldResetsTheLampsWithoutARow) {
    test::MappedPrinter p(kCom);
    p->setStatusByte(0x21);
    QueryStates();
    ASSERT_EQ(Lit().size(), 2u);
    page->CloseLink();  // the user went to another tab and back
    EXPECT_EQ(Lit().size(), 2u);

    platform::SerialDevice other;
    ASSERT_EQ(other.open(p.path(), false), platform::SerialResult::Ok);
    history.rows.clear();
    page->echoSwitch = false;
    QueryStates();
    EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{kOpenError}));
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(Lit().empty());
    EXPECT_TRUE(page->echoSwitch);
    EXPECT_FALSE(page->IsOpen());
}

TEST_P(QuickTestPageOnEveryPort, QueryWithASilentPrinterShowsTheMessageAndOnlyTheProbeRow) {
    test::MappedPrinter p(kCom, GetParam());
    p->setStatusByte(0x0C);
    QueryStates();
    ASSERT_EQ(Lit().size(), 2u);
    page->CloseLink();
    p->setAnswerMode(VirtualPrinter::AnswerMode::Silent);
    history.rows.clear();
    p->clearReceived();
    QueryStates();
    EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{kNoAnswer}));
    EXPECT_EQ(history.rows, (Rows{expect::kRequestRow}));
    EXPECT_TRUE(Lit().empty());
    EXPECT_FALSE(page->IsOpen());
    EXPECT_EQ(Received(p, 3), Hex("10 04 05"));
}
