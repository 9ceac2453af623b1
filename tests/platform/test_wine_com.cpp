// The Windows serial device on a COM port, under Wine, from the Linux side: a pseudo-terminal is
// mapped to COM7 of a Wine prefix of the test's own, the Windows probe (wine_com_probe.cpp) runs
// under wine64 and opens COM7 at 9600 8N1, and this side checks the line settings the probe
// gave the terminal and the exact bytes both ways, then the probe's own report of every step.
//
// It needs the Windows build's probe and wine64: PELLORY_WINDOWS_BUILD names the Windows build
// folder (the probe is its bin/wine_com_probe.exe), PELLORY_WINE64 the wine64 program; without
// either the test is skipped with the reason. PELLORY_WINE_PREFIX may name the prefix (made
// when missing); else it is made in the test's own folder and kept for the next run.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/wine_com_exchange.h"
#include "support/child_process.h"
#include "support/scratch_folder.h"

namespace pellory::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kComName = "COM7";
constexpr const char* kDosDevice = "com7";
// Generous bounds that only catch a hang: Wine's first start in a new prefix takes a while.
constexpr auto kFirstBytesWait = std::chrono::seconds(120);
constexpr auto kBytesWait = std::chrono::seconds(60);
constexpr auto kPrefixWatchdog = std::chrono::seconds(240);

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// A pseudo-terminal whose far end stands for the COM port: the test holds both ends, so that
// the line never hangs up while the probe opens and closes it.
class PtyLine {
public:
    PtyLine() {
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
        name_ = name;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        CloseOnExec(master_);
        CloseOnExec(slave_);
    }
    ~PtyLine() {
        if (master_ >= 0) ::close(master_);
        if (slave_ >= 0) ::close(slave_);
    }
    bool ok() const { return master_ >= 0; }
    const std::string& name() const { return name_; }
    int slave() const { return slave_; }

    // Reads until n bytes came or the time passed.
    std::string Read(size_t n, std::chrono::seconds within) {
        std::string got;
        const auto until = std::chrono::steady_clock::now() + within;
        while (got.size() < n && std::chrono::steady_clock::now() < until) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buf[256];
            const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
            if (r > 0) got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }
    // What is there now, without waiting.
    std::string Drain() {
        std::string got;
        char buf[256];
        ssize_t r;
        while ((r = ::read(master_, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(r));
        return got;
    }
    bool Write(const std::string& bytes) {
        return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string name_;
};

std::string Hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02x ", c);
        out += b;
    }
    return out;
}

class WineComTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string build = Env("PELLORY_WINDOWS_BUILD");
        wine_ = Env("PELLORY_WINE64");
        if (build.empty()) GTEST_SKIP() << "no Windows build folder given (PELLORY_WINDOWS_BUILD)";
        probe_ = build + "/bin/wine_com_probe.exe";
        if (!fs::exists(probe_)) GTEST_SKIP() << "the Windows build has no " << probe_;
        if (wine_.empty() || ::access(wine_.c_str(), X_OK) != 0) {
            GTEST_SKIP() << "no wine64 given (PELLORY_WINE64)";
        }
        prefix_ = Env("PELLORY_WINE_PREFIX");
        if (prefix_.empty()) {
            const std::string root = Env("PELLORY_TEST_ROOT");
            prefix_ = (root.empty() ? fs::temp_directory_path().string() : root) + "/wine-prefix";
        }
        ::setenv("WINEPREFIX", prefix_.c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 1);
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        ::unsetenv("DISPLAY");
        if (!fs::exists(prefix_ + "/dosdevices")) {
            ChildProcess boot(wine_, {"wineboot", "--init"}, scratch_.path().string());
            ASSERT_EQ(boot.Code(std::chrono::duration_cast<std::chrono::seconds>(kPrefixWatchdog)), 0) << boot.Err();
        }
        ASSERT_TRUE(line_.ok());
        const std::string link = prefix_ + "/dosdevices/" + kDosDevice;
        std::error_code ec;
        fs::remove(link, ec);
        fs::create_symlink(line_.name(), link);
    }

    std::string wine_, probe_, prefix_;
    ScratchFolder scratch_;
    PtyLine line_;
};

// The probe's steps, in its order; where Wine does not behave as Windows does on a
// pseudo-terminal's port, the probe skips the step with the reason.
struct Step {
    const char* name;
    bool wineSkips;
};
constexpr Step kSteps[] = {
    {"open", false},
    {"line-9600-8N1", false},
    {"timeouts", false},
    {"write", false},
    {"event-mask", false},
    {"event-rxchar", false},
    {"queue-count", false},
    {"read-answer", false},
    {"purge-rx", false},
    {"read-async-pending", false},
    {"wait-readable-timeout", false},
    {"short-limit", false},
    {"read-times-out-empty", false},
    {"no-limit", false},
    {"interrupt-read", false},
    {"event-mask-txempty", false},
    {"write-async-flush", false},
    {"event-txempty", false},
    {"modem-lines", true},
    {"second-open-busy", true},
    {"line-7E1", true},
};

TEST_F(WineComTest, ProbeExchangesExactBytesAt9600EightNoneOne) {
    ChildProcess probe(wine_, {probe_, kComName}, scratch_.path().string());
    ASSERT_TRUE(probe.Started());

    // The probe's bytes arrive unchanged, on a line it set to 9600 8N1 without flow control.
    EXPECT_EQ(Hex(line_.Read(kProbeBytes.size(), kFirstBytesWait)), Hex(kProbeBytes)) << probe.Out();
    termios t{};
    ASSERT_EQ(::tcgetattr(line_.slave(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);

    // The answer with bytes for the probe to purge; then the probe's last bytes, through its
    // overlapped-style queue.
    ASSERT_TRUE(line_.Write(kAnswerBytes + kPurgedBytes));
    EXPECT_EQ(Hex(line_.Read(kTailBytes.size(), kBytesWait)), Hex(kTailBytes)) << probe.Out();

    const int code = probe.Code();
    EXPECT_EQ(Hex(line_.Drain()), "") << "bytes beyond the exchange";
    // The probe's standard output is a Windows text stream: its lines end in CR LF.
    std::string report = probe.Out();
    report.erase(std::remove(report.begin(), report.end(), '\r'), report.end());
    EXPECT_EQ(code, 0) << report << probe.Err();
    for (const Step& step : kSteps) {
        const std::string ok = std::string("ok ") + step.name + "\n";
        const std::string skipped = std::string("skip ") + step.name + ": ";
        const bool reported = report.find(ok) != std::string::npos ||
                              (step.wineSkips && report.find(skipped) != std::string::npos);
        EXPECT_TRUE(reported) << step.name << " in:\n" << report;
    }
    // What was skipped, and why, goes into the test's log.
    for (size_t at = report.find("skip "); at != std::string::npos; at = report.find("skip ", at + 1)) {
        std::cout << report.substr(at, report.find('\n', at) - at) << "\n";
    }
}

}  // namespace
}  // namespace pellory::test
