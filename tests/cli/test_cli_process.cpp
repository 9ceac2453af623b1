// pellory-cli run as a program of its own, against printer stand-ins on pseudo-terminals that
// the test drives: SIGINT, SIGTERM and SIGHUP in the middle of a command (the exit status, and
// the port released as a normal close releases it), write errors on the standard streams, a
// status query without a reply, the history file when a command fails, how a port given as a
// path is named, and the permission hint for a port the user may not open (run as "nobody").
//
// The program under test is the pellory-cli of this build, or PELLORY_CLI_BINARY when set.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

#ifndef TIOCGEXCL
#define TIOCGEXCL _IOR('T', 0x40, int)
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using namespace pellory::test;
constexpr auto kWatchdog = kChildWatchdog;

// A printer stand-in on a pseudo-terminal. It answers the first `answers` status requests
// (10 04 05) with 00 at once; once it has answered one, it reads only `trickle` bytes every
// `pauseMs`, so that what the program sends backs up in its queue. The test holds the terminal's
// device side open throughout, so the terminal and its state outlive each run.
class Peer {
public:
    explicit Peer(size_t answers, size_t trickle = 64, int pauseMs = 20)
        : answers_(answers), trickle_(trickle), pauseMs_(pauseMs) {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty: " << std::strerror(errno);
            return;
        }
        CloseOnExec(master_);
        CloseOnExec(slave_);
        path_ = name;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        Resume();
    }
    ~Peer() {
        Stop();
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    const std::string& path() const { return path_; }
    int device() const { return slave_; }
    size_t requests() const { return requests_.load(); }
    // Waits until at least n bytes arrived in all; false when the watchdog ran out first.
    bool WaitForBytes(size_t n) const {
        const auto until = Clock::now() + kWatchdog;
        while (received_.load() < n) {
            if (Clock::now() >= until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    // Stops reading, then takes every byte still queued in the terminal. Returns the bytes
    // received in all.
    size_t StopAndCount() {
        Stop();
        uint8_t buf[65536];
        for (;;) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            Consume(buf, static_cast<size_t>(n), false);
        }
        return received_;
    }
    // Reads (and answers) again after StopAndCount.
    void Resume() {
        if (reader_.joinable()) return;
        run_ = true;
        reader_ = std::thread([this] { Run(); });
    }

    // A line setting that no run of pellory-cli would choose: 4800 baud, 7 data bits with even
    // parity, a canonical line with echo.
    termios SetDistinctLine() const {
        termios t{};
        ::tcgetattr(slave_, &t);
        ::cfsetispeed(&t, B4800);
        ::cfsetospeed(&t, B4800);
        t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB;
        t.c_lflag |= ICANON | ECHO;
        ::tcsetattr(slave_, TCSANOW, &t);
        termios now{};
        ::tcgetattr(slave_, &now);
        return now;
    }

private:
    void Stop() {
        run_ = false;
        if (reader_.joinable()) reader_.join();
    }
    void Run() {
        while (run_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            uint8_t buf[4096];
            const size_t want = answered_ == 0 ? sizeof buf : std::min(trickle_, sizeof buf);
            const ssize_t n = ::read(master_, buf, want);
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            Consume(buf, static_cast<size_t>(n), true);
            if (answered_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs_));
        }
    }
    void Consume(const uint8_t* buf, size_t n, bool answer) {
        received_ += n;
        for (size_t i = 0; i < n; ++i) {
            last_[0] = last_[1];
            last_[1] = last_[2];
            last_[2] = buf[i];
            if (last_[0] != 0x10 || last_[1] != 0x04 || last_[2] != 0x05) continue;
            ++requests_;
            last_[2] = 0;
            if (answer && answered_ < answers_) {
                ++answered_;
                const uint8_t online = 0x00;
                if (::write(master_, &online, 1) != 1) ADD_FAILURE() << "peer answer";
            }
        }
    }

    int master_ = -1, slave_ = -1;
    std::string path_;
    const size_t answers_;
    const size_t trickle_;
    const int pauseMs_;
    size_t answered_ = 0;
    std::atomic<size_t> received_{0};
    uint8_t last_[3] = {};
    std::atomic<size_t> requests_{0};
    std::atomic<bool> run_{false};
    std::thread reader_;
};

bool SameLine(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b);
}

std::optional<passwd> Nobody() {
    passwd* p = ::getpwnam("nobody");
    if (::geteuid() != 0 || p == nullptr || p->pw_uid == 0) return std::nullopt;
    return *p;
}

class CliProcessTest : public pellory::test::ScratchFolderTest {
protected:
    CliProcessTest() : ScratchFolderTest("pellory_cli_process") {
        scratch.OpenToOthers();  // the runs as "nobody" write their output here
    }

    // The terminal after a run: no longer in exclusive mode, its line as it was found.
    static void ExpectReleased(const Peer& peer, const termios& found) {
        int exclusive = -1;
        ASSERT_EQ(::ioctl(peer.device(), TIOCGEXCL, &exclusive), 0) << std::strerror(errno);
        EXPECT_EQ(exclusive, 0) << "the terminal was left in exclusive mode";
        termios now{};
        ASSERT_EQ(::tcgetattr(peer.device(), &now), 0);
        EXPECT_TRUE(SameLine(now, found)) << "the line settings were not put back";
    }
};

}  // namespace

// --- signals ---

TEST_F(CliProcessTest, SigintDuringSendFileStopsSendingReleasesThePortAndExits130) {
    Peer peer(2);
    const termios found = peer.SetDistinctLine();
    const size_t fileSize = size_t{4} << 20;
    const std::string file = Path("big.bin");
    std::ofstream(file, std::ios::binary) << std::string(fileSize, 'A');

    size_t received = 0;
    {
        CliChild run({"--port", peer.path(), "--echo", "send-file", file}, Folder(), Streams(Stream::Pipe));
        // The first piece is handed to the link once its echo row appears.
        ASSERT_TRUE(run.WaitForOutput("\n41 41 41 ")) << run.Err();
        run.Signal(SIGINT);
        EXPECT_EQ(run.Code(), 130) << run.Err();
        EXPECT_NE(run.Err().find("pellory-cli: stopped by SIGINT"), std::string::npos) << run.Err();
    }
    ExpectReleased(peer, found);
    // Nothing more was sent: what reached the terminal is far from the whole file.
    received = peer.StopAndCount();
    EXPECT_LT(received, fileSize / 2);

    // The next run, by a user without privileges, opens the port at once.
    if (const std::optional<passwd> nobody = Nobody()) {
        peer.Resume();
        ASSERT_EQ(::chmod(peer.path().c_str(), 0666), 0);
        CliChild next({"--port", peer.path(), "probe"}, Folder(), AsUser(*nobody));
        EXPECT_EQ(next.Code(), 0) << next.Err();
        ExpectReleased(peer, found);
    }
}

TEST_F(CliProcessTest, SigtermDuringListenAndSighupWhileQueuedBytesDrainEndWith143And129) {
    Peer peer(2, 4096, 100);
    const termios found = peer.SetDistinctLine();
    {
        CliChild listen({"--port", peer.path(), "--echo", "listen", "--seconds", "600"}, Folder(), Streams(Stream::Pipe));
        ASSERT_TRUE(listen.WaitForOutput("10 04 05 \t")) << listen.Err();
        listen.Signal(SIGTERM);
        EXPECT_EQ(listen.Code(), 143) << listen.Err();
    }
    ExpectReleased(peer, found);

    // 300,000 bytes at 40 KB a second, far more than the terminal buffers: the command waits
    // at its end for them to leave, and is well into that wait once 20,000 have arrived.
    const size_t size = 300000;
    std::string hex;
    for (size_t i = 0; i < size; ++i) hex += "42 ";
    const std::string file = Path("bytes.txt");
    std::ofstream(file, std::ios::binary) << hex;
    {
        CliChild print({"--port", peer.path(), "hex-file", file}, Folder());
        ASSERT_TRUE(peer.WaitForBytes(20000));
        print.Signal(SIGHUP);
        EXPECT_EQ(print.Code(), 129) << print.Err();
        EXPECT_NE(print.Err().find("stopped by SIGHUP"), std::string::npos) << print.Err();
    }
    ExpectReleased(peer, found);
    EXPECT_LT(peer.StopAndCount(), size);
}

TEST_F(CliProcessTest, SigintEndsAScanBeforeItTriesEveryPort) {
    // Silent printers on COM1..COM20: each try waits for its probe's answer.
    constexpr int kPorts = 20;
    std::vector<std::unique_ptr<Peer>> peers;
    std::string env;
    for (int n = 1; n <= kPorts; ++n) {
        peers.push_back(std::make_unique<Peer>(0, 4096));
        ::setenv(("PELLORY_COM" + std::to_string(n)).c_str(), peers.back()->path().c_str(), 1);
    }
    {
        CliChild scan({"--echo", "scan"}, Folder(), Streams(Stream::Pipe));
        ASSERT_TRUE(scan.WaitForOutput("10 04 05 \t")) << scan.Err();
        scan.Signal(SIGINT);
        EXPECT_EQ(scan.Code(), 130) << scan.Err();
        // No verdict on a scan that was cut short.
        EXPECT_EQ(scan.Err().find("Connected Fail"), std::string::npos) << scan.Err();
    }
    for (int n = 1; n <= kPorts; ++n) ::unsetenv(("PELLORY_COM" + std::to_string(n)).c_str());
    size_t tried = 0;
    for (const auto& p : peers) tried += p->requests() > 0 ? 1 : 0;
    EXPECT_LT(tried, static_cast<size_t>(kPorts));
}

// --- output, replies, the history file, port names ---

TEST_F(CliProcessTest, AWriteErrorOnStandardOutputOrErrorIsAFailure) {
    const std::vector<std::string> status = {"--virtual-printer", "status"};
    {
        CliChild ok(status, Folder());
        EXPECT_EQ(ok.Code(), 0) << ok.Err();
        EXPECT_EQ(ok.Out(), "Status: 00\nLamps: Online\n");
    }
    {
        CliChild full(status, Folder(), Streams(Stream::DevFull));
        EXPECT_EQ(full.Code(), 5);
        EXPECT_NE(full.Err().find("standard output could not be written"), std::string::npos) << full.Err();
    }
    {
        CliChild closed(status, Folder(), Streams(Stream::Closed));
        EXPECT_EQ(closed.Code(), 5) << closed.Err();
    }
    {
        // "Communicate Success." goes to standard error.
        CliChild errFull({"--virtual-printer", "probe"}, Folder(), Streams(Stream::File, Stream::DevFull));
        EXPECT_EQ(errFull.Code(), 5);
    }
    {
        CliChild help({"--help"}, Folder(), Streams(Stream::DevFull));
        EXPECT_EQ(help.Code(), 5);
    }
}

TEST_F(CliProcessTest, AStatusQueryWithoutAReplyExits1) {
    Peer peer(1, 4096);  // answers the connection probe only
    CliChild run({"--port", peer.path(), "--echo", "status"}, Folder());
    EXPECT_EQ(run.Code(), 1);
    EXPECT_EQ(run.Out().find("Status:"), std::string::npos) << run.Out();
    EXPECT_NE(run.Out().find("10 04 05 \t"), std::string::npos) << run.Out();
    EXPECT_NE(run.Err().find("Communicate Error:Printer No Answer."), std::string::npos) << run.Err();
    peer.StopAndCount();
    EXPECT_EQ(peer.requests(), 2u);  // the probe, answered, and the status query
}

TEST_F(CliProcessTest, TheHistoryFileIsWrittenInOneStepAndKeptWhenTheCommandFailsFirst) {
    const std::string history = Path("history.txt");
    std::ofstream(history, std::ios::binary) << "10 04 05 \r\n";
    ASSERT_EQ(::chmod(history.c_str(), 0640), 0);

    // The port does not open: no row, so the file stays as it was.
    {
        CliChild fail({"--port", Path("no-such-tty"), "--history", history, "feed"}, Folder());
        EXPECT_EQ(fail.Code(), 2) << fail.Err();
    }
    EXPECT_EQ(ReadWholeFile(history), "10 04 05 \r\n");

    // A run that made rows replaces it, keeps its permissions, and leaves no other file behind.
    {
        CliChild ok({"--virtual-printer", "--history", history, "feed"}, Folder());
        EXPECT_EQ(ok.Code(), 0) << ok.Err();
    }
    EXPECT_EQ(ReadWholeFile(history), "10 04 05 \r\n0A \r\n");
    struct stat st {};
    ASSERT_EQ(::stat(history.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(scratch.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"err.txt", "history.txt", "out.txt"}));

    // Through a link: the link stays, its target gets the rows. A pipe is written in place.
    const std::string link = Path("link.txt");
    fs::create_symlink(history, link);
    {
        CliChild viaLink({"--virtual-printer", "--history", link, "text", "A"}, Folder());
        EXPECT_EQ(viaLink.Code(), 0) << viaLink.Err();
    }
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadWholeFile(history), "10 04 05 \r\n41 \r\n0A \r\n");
    {
        CliChild toPipe({"--virtual-printer", "--history", "/dev/stdout", "feed"}, Folder(), Streams(Stream::Pipe));
        EXPECT_EQ(toPipe.Code(), 0) << toPipe.Err();
        EXPECT_EQ(toPipe.Out(), "10 04 05 \r\n0A \r\n");
    }
}

TEST_F(CliProcessTest, APortGivenAsAPathIsNamedByThatPath) {
    const std::string missing = Path("no-such-tty");
    {
        CliChild run({"--port", missing, "probe"}, Folder());
        EXPECT_EQ(run.Code(), 2);
        EXPECT_NE(run.Err().find("COM Open Error!\n" + missing + " is not present.\n"), std::string::npos) << run.Err();
        EXPECT_EQ(run.Err().find("COM1024"), std::string::npos) << run.Err();
    }
    Peer peer(0);
    const int held = ::open(peer.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);  // as another program holding the port
    {
        CliChild run({"--port", peer.path(), "feed"}, Folder());
        EXPECT_EQ(run.Code(), 2);
        EXPECT_NE(run.Err().find("COM Open Error!\n" + peer.path() + " is in use by another program.\n"),
                  std::string::npos)
            << run.Err();
    }
    ::close(held);
}

// --- the permission hint ---

TEST_F(CliProcessTest, ThePermissionHintNamesAGroupOnlyWhenJoiningItWouldHelp) {
    const std::optional<passwd> nobody = Nobody();
    if (!nobody) GTEST_SKIP() << "needs root and a user \"nobody\"";
    Peer peer(0);
    const ChildOptions asNobody = AsUser(*nobody);
    auto probe = [&](uid_t owner, gid_t group, mode_t mode) {
        EXPECT_EQ(::chown(peer.path().c_str(), owner, group), 0);
        EXPECT_EQ(::chmod(peer.path().c_str(), mode), 0);
        CliChild run({"--port", peer.path(), "probe"}, Folder(), asNobody);
        EXPECT_EQ(run.Code(), 2) << run.Err();
        return run.Err();
    };
    const std::string refused = "COM Open Error!\nPermission denied on " + peer.path() + ".";

    for (const mode_t mode : {mode_t{0600}, mode_t{0}}) {
        const std::string err = probe(0, 0, mode);
        EXPECT_NE(err.find(refused), std::string::npos) << err;
        EXPECT_NE(err.find("permissions"), std::string::npos) << err;
        EXPECT_NE(err.find("do not allow access"), std::string::npos) << err;
        EXPECT_EQ(err.find("usermod"), std::string::npos) << err;
        EXPECT_EQ(err.find("'root'"), std::string::npos) << err;
    }
    // The root group may read and write: joining root is no advice.
    EXPECT_EQ(probe(0, 0, 0660).find("usermod"), std::string::npos);

    // A group other than root that may read and write, which "nobody" is not in.
    const group* dialout = ::getgrnam("dialout");
    if (dialout == nullptr || dialout->gr_gid == nobody->pw_gid) GTEST_SKIP() << "no group \"dialout\"";
    const gid_t gid = dialout->gr_gid;
    const std::string join = probe(0, gid, 0660);
    EXPECT_NE(join.find(refused + " Join the group 'dialout' (sudo usermod -aG dialout $USER) and log in again."),
              std::string::npos)
        << join;
    // The same group with read access only: joining it would not help.
    const std::string readOnly = probe(0, gid, 0640);
    EXPECT_EQ(readOnly.find("usermod"), std::string::npos) << readOnly;
    EXPECT_NE(readOnly.find("do not allow access"), std::string::npos) << readOnly;
}
