// The connection procedure against virtual printers: answered, silent, 0x10, absent, busy; and
// against network printer stand-ins: late replies, and replies no printer gives.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "link/open_and_probe.h"
#include "link/port_settings.h"
#include "platform/port_map.h"
#include "platform/serial_device.h"
#include "support/net_peers.h"
#include "support/support.h"

using namespace pellory;
using link::CORVA_LIB;
using test::Hex;
using vprinter::VirtualPrinter;

namespace {

constexpr int kCom = 51;

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        link::PortSettings.portNumber = kCom;
        link.echoSwitch = true;
    }
    void Probe(const link::ProbeOptions& options = {}) {
        link::OpenAndProbe(link, options, {&prompt, &history});
    }
    CORVA_LIB link;
    test::ScriptedPrompt prompt;
    test::RecordingHistory history;
};

}  // namespace

TEST_F(ProbeTest, AnsweredProbeKeepsTheLinkOpenWithOneHistoryRow) {
    test::MappedPrinter p(kCom);
    Probe();
    EXPECT_TRUE(link.IsOpen());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(history.rows, (std::vector<std::string>{"10 04 05 "}));
    EXPECT_EQ(p->received(), Hex("10 04 05"));
    EXPECT_EQ(link.Flags(), 0x3Cu);
    EXPECT_EQ(link.ReceiveThreshold(), 1u);
    EXPECT_EQ(link.StoredTimeouts(), (platform::Timeouts{10, 0, 100, 0, 65535}));

    // Already open: nothing more is sent, no row.
    Probe();
    EXPECT_EQ(history.rows.size(), 1u);
    platform::SleepMs(100);
    EXPECT_EQ(p->received(), Hex("10 04 05"));
}

TEST_F(ProbeTest, SilentPrinterOrAnAnswerOf10ClosesTheLink) {
    for (auto mode : {VirtualPrinter::AnswerMode::Silent, VirtualPrinter::AnswerMode::FixedByte}) {
        test::MappedPrinter p(kCom);
        p->setAnswerMode(mode, 0x10);
        prompt.messages.clear();
        history.rows.clear();
        Probe();
        EXPECT_FALSE(link.IsOpen());
        EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{"Communicate Error:Printer No Answer."}));
        EXPECT_EQ(prompt.messages[0].caption, "");  // the program's default caption
        EXPECT_EQ(history.rows, (std::vector<std::string>{"10 04 05 "}));
        EXPECT_EQ(link.SendBuffer().Count(), 0u);
        EXPECT_EQ(link.RunningThreadCount(), 0);
    }
}

TEST_F(ProbeTest, AnyOtherReplyByteCountsAsAnAnswer) {
    test::MappedPrinter p(kCom);
    p->setAnswerMode(VirtualPrinter::AnswerMode::FixedByte, 0x12);
    Probe();
    EXPECT_TRUE(link.IsOpen());
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(ProbeTest, NoPortChosenFailsAtOnceWithoutARow) {
    link::PortSettings.portNumber = 0;
    Probe({link::kOpenErrorTextTestPage, false});
    EXPECT_FALSE(link.IsOpen());
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, "COM Open Error.");
    EXPECT_EQ(prompt.messages[0].informative, "No port is chosen.");
    EXPECT_TRUE(history.rows.empty());
}

TEST_F(ProbeTest, TheReasonNamesThePortOfThisAttempt) {
    link::PortSettings.portNumber = 977;
    Probe();
    EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{"COM Open Error!"}));
    EXPECT_EQ(prompt.messages[0].informative, "Nothing is attached as COM977.");
    EXPECT_TRUE(history.rows.empty());
    // After a failed search no port is chosen; the reason must not name the last one tried.
    link::PortSettings.portNumber = 0;
    Probe();
    ASSERT_EQ(prompt.messages.size(), 2u);
    EXPECT_EQ(prompt.messages[1].informative, "No port is chosen.");
    EXPECT_EQ(link.PortNumber(), 977);  // an out-of-range number leaves the port number alone
}

TEST_F(ProbeTest, APortHeldByAnotherProgramIsAnOpenFailureWithTheReason) {
    test::MappedPrinter p(kCom);
    platform::SerialDevice other;
    ASSERT_EQ(other.open(p.path(), false), platform::SerialResult::Ok);
    Probe();
    EXPECT_FALSE(link.IsOpen());
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, "COM Open Error!");
    EXPECT_NE(prompt.messages[0].informative.find("in use by another program"), std::string::npos)
        << prompt.messages[0].informative;
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(p->received().empty());
}

TEST_F(ProbeTest, BytesReceivedBeforeTheProbeAreNotTakenForItsAnswer) {
    test::MappedPrinter p(kCom);
    Probe();
    ASSERT_TRUE(link.IsOpen());
    // The printer says 10 on its own; the link is closed without reading it.
    p->sendUnsolicited(Hex("10"));
    for (int i = 0; i < 100 && link.ReceiveBuffer().Count() == 0; ++i) platform::SleepMs(10);
    ASSERT_EQ(link.ReceiveBuffer().Count(), 1u);
    link.Close(500);
    // The older 10 is dropped before the request goes out: the answer 00 counts.
    Probe();
    EXPECT_TRUE(link.IsOpen());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(p->answeredRequests(), 2u);
    EXPECT_EQ(link.ReceiveBuffer().Count(), 0u);

    // A byte left over from an earlier answer does not make a silent printer look alive, and
    // bytes still waiting in the port count as received before the request too.
    link.Close(500);
    p->sendUnsolicited(Hex("00 00"));
    p->setAnswerMode(vprinter::VirtualPrinter::AnswerMode::Silent);
    Probe();
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{"Communicate Error:Printer No Answer."}));
}

TEST(DropEarlierInput, KeepsTheBytesInOrderForWhoeverAsksAndEmptiesTheLink) {
    test::MappedPrinter p(kCom);
    link::CSerialEngine engine;
    link::SetPageLinkMode(engine, false);
    ASSERT_TRUE(engine.Open(kCom, 8, 0, 0));
    p->sendUnsolicited(Hex("41 42 43"));
    for (int i = 0; i < 200 && engine.ReceiveBuffer().Count() < 3; ++i) platform::SleepMs(10);
    ASSERT_EQ(engine.ReceiveBuffer().Count(), 3u);
    ASSERT_TRUE(engine.StopThreads(link::kLinkStopTimeoutMs));
    // With the reader stopped, these stay in the port until the drop takes them.
    p->sendUnsolicited(Hex("44 45"));
    p->waitForQuiet(30, 1000);
    std::vector<std::vector<uint8_t>> kept;
    for (int i = 0; i < 200; ++i) {
        platform::CommStatus st;
        if (engine.Device().clearError(&st) == platform::SerialResult::Ok && st.inQueue >= 2) break;
        platform::SleepMs(10);
    }
    link::DropEarlierInput(engine, [&](const std::vector<uint8_t>& bytes) { kept.push_back(bytes); });
    EXPECT_EQ(kept, (std::vector<std::vector<uint8_t>>{Hex("41 42 43 44 45")}));
    EXPECT_EQ(engine.ReceiveBuffer().Count(), 0u);

    // Without a keeper they are gone all the same; with nothing received the keeper is not called.
    p->sendUnsolicited(Hex("46"));
    for (int i = 0; i < 200; ++i) {
        platform::CommStatus st;
        if (engine.Device().clearError(&st) == platform::SerialResult::Ok && st.inQueue >= 1) break;
        platform::SleepMs(10);
    }
    link::DropEarlierInput(engine);
    kept.clear();
    link::DropEarlierInput(engine, [&](const std::vector<uint8_t>& bytes) { kept.push_back(bytes); });
    EXPECT_TRUE(kept.empty());
    engine.Close(link::kLinkStopTimeoutMs);
}

TEST_F(ProbeTest, HandshakeMappingsReachTheStoredSettingsAndThePort) {
    struct Case {
        int handshake;
        uint32_t set, clear;
    };
    for (const Case& c : {Case{0, 0, 0x333C}, Case{1, 0x0004, 0x3338}, Case{2, 0x0008, 0x3334}, Case{3, 0x0100, 0x323C}}) {
        test::MappedPrinter p(kCom);
        link::PortSettings.handshake = c.handshake;
        Probe();
        ASSERT_TRUE(link.IsOpen()) << c.handshake;
        const auto stored = link.StoredLineSettings();
        EXPECT_EQ(stored.flags & c.set, c.set) << c.handshake;
        EXPECT_EQ(stored.flags & c.clear, 0u) << c.handshake;
        platform::LineSettings onPort;
        ASSERT_EQ(link.Device().getLineSettings(onPort), platform::SerialResult::Ok);
        EXPECT_EQ(onPort.flags & platform::kFlowControlBits, stored.flags & platform::kFlowControlBits);
        if (c.handshake == 3) {
            EXPECT_EQ(stored.xonChar, 0x11);
            EXPECT_EQ(stored.xoffChar, 0x13);
        }
        link.Close(500);
    }
}

TEST_F(ProbeTest, BytesQueuedWhileClosedAreDroppedAtTheNextOpening) {
    test::MappedPrinter p(kCom);
    const auto stale = Hex("1D 28 45 03 00 0B 03 31");
    link.SetFlags(link::kPageLinkFlags);
    link.Send(stale);
    link.TakeEcho();
    Probe();
    ASSERT_TRUE(link.IsOpen());
    platform::SleepMs(150);
    EXPECT_EQ(p->received(), Hex("10 04 05"));
}

TEST_F(ProbeTest, CtsFlowControlIsIgnoredDuringTheProbeAndHonouredAfterIt) {
    test::MappedPrinter p(kCom);
    link::PortSettings.handshake = 1;  // CTS/RTS
    p->setHoldCts(true);
    Probe();
    // The probe went out although CTS is off, and the printer's answer kept the link open.
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(p->received(), Hex("10 04 05"));
    EXPECT_TRUE(link.StoredLineSettings().flags & platform::kFlagOutxCtsFlow);

    // From now on the writer waits for CTS.
    link.Send(Hex("1B 40"));
    platform::SleepMs(300);
    EXPECT_EQ(p->received(), Hex("10 04 05"));
    p->setHoldCts(false);
    ASSERT_TRUE(p->waitForBytes(5, 2000));
    EXPECT_EQ(p->received(), Hex("10 04 05 1B 40"));
}

TEST_F(ProbeTest, WithoutFlowControlAHeldCtsDoesNotStopTheWriter) {
    test::MappedPrinter p(kCom);
    link::PortSettings.handshake = 0;
    p->setHoldCts(true);
    Probe();
    ASSERT_TRUE(link.IsOpen());
    link.Send(Hex("1B 40"));
    ASSERT_TRUE(p->waitForBytes(5, 2000));
    EXPECT_EQ(p->received(), Hex("10 04 05 1B 40"));
}

// A network printer's reply to the probe is waited for up to a second and taken the moment it
// comes. Its first byte, of any value but 0x10, is the printer's status, and what came with it
// stays in the link's receive buffer for the receive view; a reply that begins as text (a web
// server's "HTTP/1.1 400 ...", a secure shell's greeting) is no printer's answer: the link closes
// with a message that says so.
TEST_F(ProbeTest, ANetworkPrintersReplyIsWaitedForAndJudgedByItsStart) {
    const auto bytes = [](const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); };
    const std::string http = "HTTP/1.1 400 Bad Request\r\n\r\n";
    const struct {
        const char* name;
        std::vector<uint8_t> reply;
        uint32_t delayMs;
        const char* message;        // nullptr: the link stays open, nothing shown
        std::vector<uint8_t> kept;  // left in the receive buffer behind the status byte
        std::string shown = {};     // of a reply that is no printer's: its start, as the message shows it
    } rows[] = {
        {"00 at once", {0x00}, 0, nullptr, {}},
        {"00 after 300 ms", {0x00}, 300, nullptr, {}},
        {"12 after 700 ms", {0x12}, 700, nullptr, {}},
        {"48 ('H')", {0x48}, 0, nullptr, {}},
        {"0A", {0x0A}, 0, nullptr, {}},
        {"FF", {0xFF}, 0, nullptr, {}},
        {"00 00", {0x00, 0x00}, 0, nullptr, {0x00}},
        {"00 and an automatic status back", {0x00, 0x14, 0x00, 0x00, 0x0F}, 0, nullptr, {0x14, 0x00, 0x00, 0x0F}},
        {"08 and text sent unasked", {0x08, 'O', 'K', '!', '\n'}, 0, nullptr, bytes("OK!\n")},
        {"two printable bytes", bytes("HT"), 0, nullptr, {'T'}},
        {"printable, then a control byte", bytes("HT\x0D\x0A"), 0, nullptr, bytes("T\r\n")},
        {"nothing", {}, 0, link::kNoAnswerText, {}},
        {"10", {0x10}, 0, link::kNoAnswerText, {}},
        {"a web server", bytes(http), 0, link::kNotAPrinterText, {}, "HTTP/1.1 400 Bad Request\\x0D\\x0A\\x0D\\x0A"},
        {"a secure shell", bytes("SSH-2.0-sshd\r\n"), 0, link::kNotAPrinterText, {}, "SSH-2.0-sshd\\x0D\\x0A"},
        {"a mail server", bytes("220 mail ESMTP\r\n"), 0, link::kNotAPrinterText, {}, "220 mail ESMTP\\x0D\\x0A"},
        {"three printable bytes", bytes("abc"), 0, link::kNotAPrinterText, {}, "abc"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::NetworkPrinterPeer::Options o;
        o.reply = row.reply;
        o.replyDelayMs = row.delayMs;
        test::NetworkPrinterPeer peer(o);
        platform::PortMap::instance().setOverride(kCom, peer.entry());
        prompt.messages.clear();
        history.rows.clear();
        const auto start = std::chrono::steady_clock::now();
        Probe();
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(link.IsOpen(), row.message == nullptr);
        EXPECT_EQ(prompt.Texts(), row.message ? std::vector<std::string>{row.message} : std::vector<std::string>{});
        EXPECT_EQ(history.rows, (std::vector<std::string>{"10 04 05 "}));
        if (row.delayMs == 0 && row.message == nullptr) {
            EXPECT_LT(took, std::chrono::milliseconds(link::kLinelessReplyWaitMs) * 7 / 10) << "taken when it came";
        }
        if (row.message == nullptr) {
            // The rest of the reply reaches the buffer with the status byte or just after it.
            for (int i = 0; i < 200 && link.ReceiveBuffer().Count() < row.kept.size(); ++i) platform::SleepMs(5);
            std::vector<uint8_t> kept(link.ReceiveBuffer().Count());
            {
                std::lock_guard<std::mutex> lock(link.ReceiveBuffer().Mutex());
                kept.resize(link.ReceiveBuffer().Take(kept.data(), kept.size()));
            }
            EXPECT_EQ(kept, row.kept);
        }
        if (row.message == link::kNotAPrinterText) {
            ASSERT_EQ(prompt.messages.size(), 1u);
            EXPECT_EQ(prompt.messages[0].informative,
                      "COM" + std::to_string(kCom) + " (" + peer.entry() + ") answered the status request with " +
                          std::to_string(row.reply.size()) + " bytes of text (\"" + row.shown +
                          "\"), where a printer answers with a status byte: is this the printer's port?");
        }
        link.Close(link::kLinkStopTimeoutMs);
        platform::PortMap::instance().clearOverride(kCom);
    }
}

// A serial line keeps its fixed wait: a silent one is "No Answer" long before a second.
TEST_F(ProbeTest, ASerialLineKeepsItsShortReplyWait) {
    test::SilentPort silent(kCom);
    const auto start = std::chrono::steady_clock::now();
    Probe();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(link::kLinelessReplyWaitMs) * 7 / 10);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{link::kNoAnswerText}));
}
