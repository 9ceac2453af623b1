// pellory-cli stopped by a signal while it waits on something outside it, run as a program of
// its own: a FIFO that gives no byte, a network printer's connect that gets no answer, and a
// network printer that reads slowly (what reaches it after the program has said it stopped).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/net_peers.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace pellory::test;

class CliStopTest : public ScratchFolderTest {
protected:
    CliStopTest() : ScratchFolderTest("pellory_cli_stops") {}
};

// The line the program ends with when a signal stops it, and nothing else.
std::string StoppedLine(const char* signal) {
    return std::string("pellory-cli: stopped by ") + signal + "; nothing more was sent, and the port was closed.\n";
}

}  // namespace

// send-file from a FIFO that never gives a byte, with no writer at all or with one that never
// writes: SIGINT and SIGTERM still end the command within a second, with the signal's line alone.
TEST_F(CliStopTest, ASignalEndsSendFileFromAFifoThatNeverWrites) {
    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        bool writer;
        int number;
        const char* name;
    } rows[] = {{false, SIGINT, "SIGINT"}, {false, SIGTERM, "SIGTERM"}, {true, SIGINT, "SIGINT"}, {true, SIGTERM, "SIGTERM"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + (row.writer ? ", a writer that never writes" : ", no writer"));
        // Both ends in one descriptor: a writer for the program's read, which never writes.
        const int held = row.writer ? ::open(fifo.c_str(), O_RDWR | O_CLOEXEC) : -1;
        CliChild run({"--virtual-printer", "--echo", "send-file", fifo}, Folder(), Streams(Stream::Pipe));
        ASSERT_TRUE(run.WaitForOutput("10 04 05 \t")) << run.Err();  // probed; the file is next
        const auto signalled = Clock::now();
        run.Signal(row.number);
        EXPECT_EQ(run.Code(), 128 + row.number) << run.Err();
        EXPECT_LT(Clock::now() - signalled, std::chrono::seconds(1));
        EXPECT_EQ(run.Err(), StoppedLine(row.name));
        if (held >= 0) ::close(held);
    }
}

// SIGINT, SIGTERM or SIGHUP while the connection to a network printer waits for an answer: the
// program stops at once with the signal's line alone (no "no answer" after the 3 s limit).
TEST_F(CliStopTest, ASignalWhileConnectingStopsAtOnceWithOnlyItsLine) {
    pellory::test::Blackhole silent;
    ASSERT_TRUE(silent.ok());
    const struct {
        int number;
        const char* name;
    } signals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
    for (const auto& s : signals) {
        SCOPED_TRACE(s.name);
        CliChild run({"--port", silent.entry(), "probe"}, Folder());
        const auto until = Clock::now() + kChildWatchdog;
        while (!pellory::test::ConnectingTo(silent.port()) && Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const auto signalled = Clock::now();
        run.Signal(s.number);
        EXPECT_EQ(run.Code(), 128 + s.number);
        EXPECT_LT(Clock::now() - signalled, std::chrono::milliseconds(1500)) << "well under the 3 s connect limit";
        EXPECT_EQ(run.Err(), StoppedLine(s.name));
    }
}

// A send to a network printer that a signal stops, or that ends because the printer stalled:
// once the program has said it stopped, only a small bounded amount more reaches the printer
// (what was already on its way), and the connection ends by a reset, not by an orderly close
// that goes on delivering what was queued. The printer reads 1.6 MB a second.
TEST_F(CliStopTest, NothingQueuedReachesANetworkPrinterAfterTheProgramStopped) {
    constexpr size_t kBound = 256 * 1024;
    const size_t size = size_t{16} << 20;
    const std::string bin = Path("big.bin");
    std::ofstream(bin, std::ios::binary) << std::string(size, 'A');
    const std::string hex = Path("big.txt");
    {
        std::ofstream out(hex, std::ios::binary);
        std::string row;
        for (int i = 0; i < 1024; ++i) row += "42 ";
        for (int i = 0; i < 2048; ++i) out << row << '\n';  // 2 MiB of bytes
    }
    const struct {
        const char* name;
        std::vector<std::string> command;
        bool stall;  // the printer stops reading, instead of the program getting SIGTERM
        int code;
    } rows[] = {
        {"SIGTERM during send-file", {"send-file", bin}, false, 143},
        {"the printer stalls during hex-file", {"hex-file", hex}, true, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        pellory::test::NetworkPrinterPeer::Options o;
        o.readPerTick = 16 * 1024;
        o.receiveBuffer = 16 * 1024;
        pellory::test::NetworkPrinterPeer printer(o);
        std::vector<std::string> args = {"--port", printer.entry()};
        args.insert(args.end(), row.command.begin(), row.command.end());
        CliChild run(args, Folder());
        ASSERT_TRUE(printer.WaitForBytes(512 * 1024)) << run.Err();
        if (row.stall) {
            printer.Pause();
        } else {
            run.Signal(SIGTERM);
        }
        EXPECT_EQ(run.Code(), row.code) << run.Err();
        const size_t atExit = printer.received();
        printer.ReadFreely();
        EXPECT_TRUE(printer.WaitForEnd());
        const size_t after = printer.received() - atExit;
        EXPECT_LE(after, kBound) << "bytes that reached the printer after the program ended";
        EXPECT_TRUE(printer.EndedByReset());
        EXPECT_LT(printer.received(), size / 2);
    }
}

