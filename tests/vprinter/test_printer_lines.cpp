// The printer server on a pseudo-terminal, as software on the same machine that opens a serial
// device path uses it: the link, answers, a job per burst ended by silence, the limit on a line.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/raw_host.h"
#include "support/scratch_folder.h"
#include "support/server_clients.h"
#include "vprinter/printer_server.h"

namespace pellory::vprinter {
namespace {

using test::Bytes;
using test::HexBytes;
using test::HexText;

std::string LinkTarget(const std::string& path) {
    char buf[256];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// A pty printer's silences end its jobs on the test's clock, which moves only when advanced.
constexpr auto kIdleEnd = std::chrono::milliseconds(250);

struct PtyPrinter {
    explicit PtyPrinter(size_t maxJobBytes = 16u << 20) {
        // A link left behind by an earlier run is replaced.
        std::filesystem::create_symlink("/nonexistent/pts", link);
        ServerOptions o;
        o.lines.push_back(LineEndpoint{LineEndpoint::Kind::Pty, link});
        o.idleEnd = kIdleEnd;
        o.clock = clock;
        o.states = kPaperNearEnd;
        o.maxJobBytes = maxJobBytes;
        served = std::make_unique<test::ServedPrinter>(o, false);
    }
    // Jobs the silence ended, once the clock passed it (each advance a whole idle end).
    bool jobsEnded(size_t n) {
        return test::AdvanceUntil(*clock, kIdleEnd, [&] { return served->collector.count() >= n; });
    }
    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
    test::ScratchFolder folder{"pty_printer"};
    std::string link = (folder.path() / "printer").string();
    std::unique_ptr<test::ServedPrinter> served;
};

TEST(PrinterLines, PtyAnswersAndEndsAJobAtEachSilence) {
    PtyPrinter p;
    ASSERT_TRUE(p.served->started) << p.served->error;
    ASSERT_EQ(p.served->server.ptyPaths().size(), 1u);
    EXPECT_EQ(LinkTarget(p.link), p.served->server.ptyPaths()[0]);
    test::RawHost host(p.link);
    ASSERT_TRUE(host.open());
    const Bytes first = HexBytes("1B 40 10 04 04 41 42 0A 1D 49 43");
    ASSERT_TRUE(host.write(first));
    EXPECT_EQ(HexText(host.read(2000)), "1E 5F 4F 52 56 41 38 30 00");
    ASSERT_TRUE(p.jobsEnded(1));
    const Bytes second = HexBytes("43 0A");
    ASSERT_TRUE(host.write(second));
    ASSERT_TRUE(p.jobsEnded(2));
    const auto jobs = p.served->collector.jobs();
    EXPECT_EQ(jobs[0].bytes, first);
    EXPECT_EQ(jobs[1].bytes, second);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(jobs[i].number, i + 1);
        EXPECT_EQ(jobs[i].end, JobEnd::Idle);
        EXPECT_EQ(jobs[i].source, "pty:" + p.link);
    }
    ASSERT_EQ(jobs[0].answers.size(), 2u);
    EXPECT_EQ(jobs[0].answers[0].request, "DLE 04 04");
    EXPECT_EQ(jobs[0].answers[0].offset, first.size());
    p.served->server.stop();
    EXPECT_FALSE(std::filesystem::is_symlink(p.link));
}

// Past the limit a line's job ends; the rest of that burst is dropped, the next burst is a job.
TEST(PrinterLines, OverTheLimitOnALineDropsTheRestOfTheBurst) {
    PtyPrinter p(1000);
    ASSERT_TRUE(p.served->started) << p.served->error;
    test::RawHost host(p.link);
    ASSERT_TRUE(host.open());
    ASSERT_TRUE(host.write(Bytes(100000, 'x')));
    ASSERT_TRUE(p.served->collector.waitFor(1));
    // The burst's silence, counted from the loop's first look after the burst (a line kept from
    // sending counts its silence from then): what follows is a job.
    test::SettleAndAdvance(*p.clock, 2 * kIdleEnd);
    test::SettleAndAdvance(*p.clock, 2 * kIdleEnd);
    ASSERT_TRUE(host.write(HexBytes("41")));
    ASSERT_TRUE(p.jobsEnded(2));
    const auto jobs = p.served->collector.jobs();
    EXPECT_EQ(jobs[0].end, JobEnd::OverLimit);
    EXPECT_EQ(jobs[0].bytes, Bytes(1000, 'x'));
    EXPECT_EQ(HexText(jobs[1].bytes), "41");
    EXPECT_EQ(jobs[1].end, JobEnd::Idle);
}

// A serial line: the server opens the device with its line settings as the program opens its
// ports; a pseudo-terminal's slave stands for the device, its master for the terminal at the
// other end of the cable.
TEST(PrinterLines, SerialLineAnswersAndEndsJobs) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    char name[128];
    ASSERT_EQ(::ptsname_r(master, name, sizeof name), 0);
    ServerOptions o;
    LineEndpoint line{LineEndpoint::Kind::Serial, name};
    line.baud = 19200;
    o.lines.push_back(line);
    o.idleEnd = std::chrono::milliseconds(250);
    o.states = kOffline;
    test::ServedPrinter p(o, false);
    ASSERT_TRUE(p.started) << p.error;
    termios t{};
    ASSERT_EQ(::tcgetattr(master, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B19200));  // the line's settings were put on the device
    const Bytes job = HexBytes("1B 40 10 04 01 10 04 05 41 0A");
    ASSERT_EQ(::write(master, job.data(), job.size()), static_cast<ssize_t>(job.size()));
    Bytes answers;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (answers.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        uint8_t b[16];
        pollfd pf{master, POLLIN, 0};
        if (::poll(&pf, 1, 100) == 1) {
            const ssize_t n = ::read(master, b, sizeof b);
            if (n > 0) answers.insert(answers.end(), b, b + n);
        }
    }
    EXPECT_EQ(HexText(answers), "1A 40");
    ASSERT_TRUE(p.collector.waitFor(1));
    EXPECT_EQ(p.collector.jobs().at(0).bytes, job);
    EXPECT_EQ(p.collector.jobs().at(0).source, std::string("serial:") + name);
    EXPECT_EQ(p.collector.jobs().at(0).end, JobEnd::Idle);
    p.server.stop();
    ::close(master);
}

TEST(PrinterLines, APathThatIsNoLinkIsLeftAlone) {
    test::ScratchFolder folder("pty_printer");
    const std::string path = (folder.path() / "file").string();
    test::WriteWholeFile(path, "mine");
    ServerOptions o;
    o.lines.push_back(LineEndpoint{LineEndpoint::Kind::Pty, path});
    PrinterServer server(o);
    std::string error;
    EXPECT_FALSE(server.start(&error));
    EXPECT_EQ(error, path + ": exists and is not a symbolic link");
    ASSERT_FALSE(std::filesystem::is_symlink(path));  // (reading a link to a terminal would wait)
    EXPECT_EQ(test::ReadWholeFile(path), "mine");
}

}  // namespace
}  // namespace pellory::vprinter
