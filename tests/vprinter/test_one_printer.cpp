// The program's own printer (VirtualPrinter) answers as the printer server does, on the same
// intake and answers, while keeping what Pellory's pages rely on: its status byte for DLE EOT 5,
// silence, the rate match, and printing that no status holds back.
#include <gtest/gtest.h>
#include <termios.h>

#include <mutex>
#include <string>
#include <vector>

#include "support/raw_host.h"
#include "support/server_clients.h"
#include "vprinter/printer_server.h"
#include "vprinter/virtual_printer.h"

namespace pellory::vprinter {
namespace {

using test::Bytes;
using test::HexBytes;
using test::HexText;

// Every request the server answers at once whatever it prints, in one write.
constexpr const char* kRequests =
    "10 04 01 10 04 02 10 04 03 10 04 04 10 04 05 "
    "1D 49 01 1D 49 02 1D 49 03 1D 49 41 1D 49 42 1D 49 43 1D 49 44 1D 49 45 "
    "10 14 08 01 03 14 01 06 02 08";

// How long a read waits for the first answer byte (the rest follow within RawHost's pause).
constexpr int kAnswerWaitMs = 3000;
constexpr int kSilenceMs = 250;

// The program's own printer on its pseudo-terminal, started, with what it prints collected.
struct OwnPrinter {
    explicit OwnPrinter(uint8_t statusByte = 0) {
        printer.setStatusByte(statusByte);
        printer.setObserver([this](const uint8_t* b, size_t n) {
            std::lock_guard<std::mutex> lock(m);
            printed.insert(printed.end(), b, b + n);
        });
        started = printer.start(&error);
    }
    Bytes printedSoFar() {
        std::lock_guard<std::mutex> lock(m);
        return printed;
    }
    std::mutex m;
    Bytes printed;
    VirtualPrinter printer;  // after what its observer writes: it stops first
    bool started = false;
    std::string error;
};

// The printer server on one pseudo-terminal, in the states a status byte stands for.
ServerOptions PtyServerOptions(uint8_t statusByte) {
    ServerOptions o;
    o.model = Model::Orva58;
    o.lines.push_back(LineEndpoint{LineEndpoint::Kind::Pty, ""});
    o.states = StatesOfPelloryStatusByte(statusByte);
    return o;
}

Bytes AnswersTo(const std::string& path, const Bytes& requests) {
    test::RawHost host(path);
    if (!host.open() || !host.write(requests)) return {};
    return host.read(kAnswerWaitMs);
}

struct StatusCase {
    uint8_t statusByte;
    const char* extra;  // requests only this state answers at once (GS r and GS ( H wait while held)
};

TEST(OnePrinter, AnswersEveryRequestAsThePrinterServerDoes) {
    const StatusCase cases[] = {{0x00, " 1D 72 01 1D 72 02 1D 72 31 1D 72 32 1D 28 48 06 00 30 30 31 32 33 34"},
                                {0x0C, ""},   // paper error, over heat
                                {0x02, ""},   // platen open
                                {0x40, ""},   // not online
                                {0x21, ""}};  // cutter error, over voltage
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(HexText(&c.statusByte, 1));
        const Bytes requests = HexBytes(std::string(kRequests) + c.extra);
        OwnPrinter own(c.statusByte);
        ASSERT_TRUE(own.started) << own.error;
        test::ServedPrinter server(PtyServerOptions(c.statusByte), false);
        ASSERT_TRUE(server.started) << server.error;

        const Bytes fromOwn = AnswersTo(own.printer.slavePath(), requests);
        const Bytes fromServer = AnswersTo(server.server.ptyPaths().at(0), requests);
        EXPECT_EQ(HexText(fromOwn), HexText(fromServer));
        ASSERT_GE(fromOwn.size(), 5u);
        EXPECT_EQ(fromOwn[4], c.statusByte) << "DLE EOT 5 reads the status byte";
    }
}

// What the host sends or the window changes, and the bytes the host gets back.
struct Step {
    enum class Do { Send, SetStatusByte, Silence } action;
    const char* hex;  // Send: the bytes; SetStatusByte: the byte
    const char* answer;
};

TEST(OnePrinter, AutomaticStatusBackFollowsTheStatusByteAndTheDrawer) {
    const Step steps[] = {
        {Step::Do::Send, "1D 61 0F", "10 00 00 00"},
        {Step::Do::SetStatusByte, "02", "38 00 00 00"},     // platen open: offline, cover open
        {Step::Do::Send, "1B 70 00 19 FA", "3C 00 00 00"},  // a drawer pulse opens the drawer
        {Step::Do::Send, "10 04 01", "1E"},
        {Step::Do::SetStatusByte, "00", "14 00 00 00"},
        {Step::Do::Send, "10 04 05 10 04 01", "00 16"},
        {Step::Do::Silence, "", ""},
        {Step::Do::Send, "10 04 01 1D 49 43", ""},
    };
    OwnPrinter own;
    ASSERT_TRUE(own.started) << own.error;
    test::RawHost host(own.printer.slavePath());
    ASSERT_TRUE(host.open());
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.hex) + " -> " + s.answer);
        switch (s.action) {
        case Step::Do::Send: ASSERT_TRUE(host.write(HexBytes(s.hex))); break;
        case Step::Do::SetStatusByte: own.printer.setStatusByte(HexBytes(s.hex).at(0)); break;
        case Step::Do::Silence: own.printer.setAnswerMode(VirtualPrinter::AnswerMode::Silent); break;
        }
        const std::string expected = s.answer;
        EXPECT_EQ(HexText(host.read(expected.empty() ? kSilenceMs : kAnswerWaitMs)), expected);
    }
}

// A status that stops a printer server's printing only sets the lamps of the program's own.
TEST(OnePrinter, NoStatusHoldsPrintingBack) {
    OwnPrinter own(0x04);  // paper error
    ASSERT_TRUE(own.started) << own.error;
    test::RawHost host(own.printer.slavePath());
    ASSERT_TRUE(host.open());
    const Bytes job = HexBytes("41 42 0A 1D 28 48 06 00 30 30 31 32 33 34 43");
    ASSERT_TRUE(host.write(job));
    EXPECT_EQ(HexText(host.read(kAnswerWaitMs)), "37 22 31 32 33 34 00") << "GS ( H once printed";
    ASSERT_TRUE(own.printer.waitForBytes(job.size(), 5000));
    EXPECT_EQ(HexText(own.printedSoFar()), HexText(job));
}

// Where the rate must match, a host at another rate gets no answer to any request.
TEST(OnePrinter, AtAnotherRateNothingIsAnswered) {
    OwnPrinter own;
    own.printer.setBaudRate(19200);
    own.printer.setRequireMatchingBaud(true);
    ASSERT_TRUE(own.started) << own.error;
    test::RawHost host(own.printer.slavePath());
    ASSERT_TRUE(host.open());
    ASSERT_TRUE(host.setSpeed(B9600));
    const Bytes requests = HexBytes("1D 49 43 10 04 01 1D 72 01 10 04 05");
    ASSERT_TRUE(host.write(requests));
    EXPECT_EQ(HexText(host.read(kSilenceMs)), "") << "the host's line is at 9600";
    ASSERT_TRUE(host.setSpeed(B19200));
    ASSERT_TRUE(host.write(requests));
    EXPECT_EQ(HexText(host.read(kAnswerWaitMs)), "5F 4F 52 56 41 35 38 00 12 00 00");
    EXPECT_EQ(own.printer.answeredRequests(), 4u);
}

// On the network each connection is a host of its own, as on the printer server: one that ended
// inside a command, or asked for automatic status back, leaves nothing of it to the next.
TEST(OnePrinter, EachConnectionStartsAfresh) {
    VirtualPrinter printer;
    std::string error;
    ASSERT_TRUE(printer.start(VirtualPrinter::Transport::Tcp, &error)) << error;
    const std::string& path = printer.slavePath();
    const auto port = static_cast<uint16_t>(std::stoi(path.substr(path.rfind(':') + 1)));
    {
        test::PeerSocket first("127.0.0.1", port);
        ASSERT_TRUE(first.ok());
        // Automatic status back on, then the head of a raster image whose data never come.
        ASSERT_TRUE(first.send(HexBytes("1D 61 0F 1D 76 30 00 10 00 10 00 41")));
        EXPECT_EQ(HexText(first.read(4)), "10 00 00 00");
    }
    test::PeerSocket second("127.0.0.1", port);
    ASSERT_TRUE(second.ok());
    ASSERT_TRUE(second.send(HexBytes("10 04 05")));
    EXPECT_EQ(HexText(second.read(1)), "00") << "not taken for the image's data";
    printer.setStatusByte(0x02);
    EXPECT_EQ(HexText(second.readQuiet(kSilenceMs)), "") << "automatic status back was the first's";
}

}  // namespace
}  // namespace pellory::vprinter
