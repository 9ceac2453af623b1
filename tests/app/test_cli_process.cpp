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

#include "support/net_peers.h"

#ifndef TIOCGEXCL
#define TIOCGEXCL _IOR('T', 0x40, int)
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Upper bounds that only catch a hang; every wait ends on its event long before.
constexpr auto kWatchdog = std::chrono::seconds(90);

std::string CliBinary() {
    if (const char* p = std::getenv("PELLORY_CLI_BINARY")) return p;
    return PELLORY_CLI_PATH;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void CloseOnExec(int fd) { ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC); }

// Where a standard stream of the program goes.
enum class Stream { File, Pipe, DevFull, Closed };

struct RunOptions {
    Stream out = Stream::File;
    Stream err = Stream::File;
    std::optional<uid_t> uid;  // run as this user, with gid as its only group
    gid_t gid = 0;
};

RunOptions Streams(Stream out, Stream err = Stream::File) {
    RunOptions o;
    o.out = out;
    o.err = err;
    return o;
}

RunOptions AsUser(const passwd& user) {
    RunOptions o;
    o.uid = user.pw_uid;
    o.gid = user.pw_gid;
    return o;
}

// One run of pellory-cli. Standard output goes to a file, a pipe the test reads, /dev/full, or
// nowhere (closed); standard error likewise.
class Child {
public:
    Child(const std::vector<std::string>& args, const std::string& folder, RunOptions o = {})
        : outFile_(folder + "/out.txt"), errFile_(folder + "/err.txt") {
        std::vector<std::string> all = {CliBinary()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int pipeFds[2] = {-1, -1};
        if (o.out == Stream::Pipe && ::pipe2(pipeFds, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe";
        // Everything the child needs is opened here: after fork it only redirects and execs.
        auto open = [](Stream s, const std::string& file) {
            switch (s) {
                case Stream::File:
                    return ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                case Stream::DevFull:
                    return ::open("/dev/full", O_WRONLY | O_CLOEXEC);
                default:
                    return -1;
            }
        };
        const int outFd = o.out == Stream::Pipe ? pipeFds[1] : open(o.out, outFile_);
        const int errFd = open(o.err, errFile_);
        pid_ = ::fork();
        if (pid_ == 0) {
            if (o.out == Stream::Closed) {
                ::close(1);
            } else {
                ::dup2(outFd, 1);
            }
            if (o.err == Stream::Closed) {
                ::close(2);
            } else {
                ::dup2(errFd, 2);
            }
            if (o.uid) {
                if (::setgroups(0, nullptr) != 0 || ::setgid(o.gid) != 0 || ::setuid(*o.uid) != 0) ::_exit(126);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (outFd >= 0) ::close(outFd);
        if (errFd >= 0) ::close(errFd);
        outPipe_ = pipeFds[0];
        EXPECT_GT(pid_, 0);
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
        }
        if (outPipe_ >= 0) ::close(outPipe_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Reads the output pipe until it holds text. False when the program ended or the watchdog
    // ran out first.
    bool WaitForOutput(const std::string& text) {
        const auto until = Clock::now() + kWatchdog;
        while (piped_.find(text) == std::string::npos) {
            if (Clock::now() >= until) return false;
            pollfd p{outPipe_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buf[65536];
            const ssize_t n = ::read(outPipe_, buf, sizeof buf);
            if (n <= 0) return false;
            piped_.append(buf, static_cast<size_t>(n));
        }
        return true;
    }

    void Signal(int s) const { ::kill(pid_, s); }

    // Waits for the end and returns the wait status; a run that hangs is killed.
    int Wait() {
        if (reaped_) return status_;
        const auto until = Clock::now() + kWatchdog;
        for (;;) {
            // Keep a pipe drained, so that the program never blocks writing to it.
            if (outPipe_ >= 0) {
                pollfd p{outPipe_, POLLIN, 0};
                if (::poll(&p, 1, 0) > 0) {
                    char buf[65536];
                    const ssize_t n = ::read(outPipe_, buf, sizeof buf);
                    if (n > 0) piped_.append(buf, static_cast<size_t>(n));
                }
            }
            const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
            if (r == pid_) break;
            if (Clock::now() >= until) {
                ADD_FAILURE() << "pellory-cli did not end; killed";
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status_, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        reaped_ = true;
        return status_;
    }
    // The exit status; -signal when a signal ended the program.
    int Code() {
        const int s = Wait();
        return WIFEXITED(s) ? WEXITSTATUS(s) : -WTERMSIG(s);
    }

    std::string Out() const { return piped_.empty() ? ReadFile(outFile_) : piped_; }
    std::string Err() const { return ReadFile(errFile_); }

private:
    pid_t pid_ = -1;
    int outPipe_ = -1;
    std::string piped_;
    std::string outFile_, errFile_;
    bool reaped_ = false;
    int status_ = 0;
};

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

class CliProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("pellory_cli_process_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        ::chmod(dir_.c_str(), 0755);  // the runs as "nobody" write their output here
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Folder() const { return dir_.string(); }

    // The terminal after a run: no longer in exclusive mode, its line as it was found.
    static void ExpectReleased(const Peer& peer, const termios& found) {
        int exclusive = -1;
        ASSERT_EQ(::ioctl(peer.device(), TIOCGEXCL, &exclusive), 0) << std::strerror(errno);
        EXPECT_EQ(exclusive, 0) << "the terminal was left in exclusive mode";
        termios now{};
        ASSERT_EQ(::tcgetattr(peer.device(), &now), 0);
        EXPECT_TRUE(SameLine(now, found)) << "the line settings were not put back";
    }

    fs::path dir_;
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
        Child run({"--port", peer.path(), "--echo", "send-file", file}, Folder(), Streams(Stream::Pipe));
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
        Child next({"--port", peer.path(), "probe"}, Folder(), AsUser(*nobody));
        EXPECT_EQ(next.Code(), 0) << next.Err();
        ExpectReleased(peer, found);
    }
}

TEST_F(CliProcessTest, SigtermDuringListenAndSighupWhileQueuedBytesDrainEndWith143And129) {
    Peer peer(2, 4096, 100);
    const termios found = peer.SetDistinctLine();
    {
        Child listen({"--port", peer.path(), "--echo", "listen", "--seconds", "600"}, Folder(), Streams(Stream::Pipe));
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
        Child print({"--port", peer.path(), "hex-file", file}, Folder());
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
        Child scan({"--echo", "scan"}, Folder(), Streams(Stream::Pipe));
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

// --- network printers ---

// The line the program ends with when a signal stops it, and nothing else.
std::string StoppedLine(const char* signal) {
    return std::string("pellory-cli: stopped by ") + signal + "; nothing more was sent, and the port was closed.\n";
}

// send-file from a FIFO that never gives a byte, with no writer at all or with one that never
// writes: SIGINT and SIGTERM still end the command within a second, with the signal's line alone.
TEST_F(CliProcessTest, ASignalEndsSendFileFromAFifoThatNeverWrites) {
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
        Child run({"--virtual-printer", "--echo", "send-file", fifo}, Folder(), Streams(Stream::Pipe));
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
TEST_F(CliProcessTest, ASignalWhileConnectingStopsAtOnceWithOnlyItsLine) {
    pellory::test::Blackhole silent;
    ASSERT_TRUE(silent.ok());
    const struct {
        int number;
        const char* name;
    } signals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
    for (const auto& s : signals) {
        SCOPED_TRACE(s.name);
        Child run({"--port", silent.entry(), "probe"}, Folder());
        const auto until = Clock::now() + kWatchdog;
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
TEST_F(CliProcessTest, NothingQueuedReachesANetworkPrinterAfterTheProgramStopped) {
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
        Child run(args, Folder());
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

// --- output, replies, the history file, port names ---

TEST_F(CliProcessTest, AWriteErrorOnStandardOutputOrErrorIsAFailure) {
    const std::vector<std::string> status = {"--virtual-printer", "status"};
    {
        Child ok(status, Folder());
        EXPECT_EQ(ok.Code(), 0) << ok.Err();
        EXPECT_EQ(ok.Out(), "Status: 00\nLamps: Online\n");
    }
    {
        Child full(status, Folder(), Streams(Stream::DevFull));
        EXPECT_EQ(full.Code(), 5);
        EXPECT_NE(full.Err().find("standard output could not be written"), std::string::npos) << full.Err();
    }
    {
        Child closed(status, Folder(), Streams(Stream::Closed));
        EXPECT_EQ(closed.Code(), 5) << closed.Err();
    }
    {
        // "Communicate Success." goes to standard error.
        Child errFull({"--virtual-printer", "probe"}, Folder(), Streams(Stream::File, Stream::DevFull));
        EXPECT_EQ(errFull.Code(), 5);
    }
    {
        Child help({"--help"}, Folder(), Streams(Stream::DevFull));
        EXPECT_EQ(help.Code(), 5);
    }
}

TEST_F(CliProcessTest, AStatusQueryWithoutAReplyExits1) {
    Peer peer(1, 4096);  // answers the connection probe only
    Child run({"--port", peer.path(), "--echo", "status"}, Folder());
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
        Child fail({"--port", Path("no-such-tty"), "--history", history, "feed"}, Folder());
        EXPECT_EQ(fail.Code(), 2) << fail.Err();
    }
    EXPECT_EQ(ReadFile(history), "10 04 05 \r\n");

    // A run that made rows replaces it, keeps its permissions, and leaves no other file behind.
    {
        Child ok({"--virtual-printer", "--history", history, "feed"}, Folder());
        EXPECT_EQ(ok.Code(), 0) << ok.Err();
    }
    EXPECT_EQ(ReadFile(history), "10 04 05 \r\n0A \r\n");
    struct stat st {};
    ASSERT_EQ(::stat(history.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"err.txt", "history.txt", "out.txt"}));

    // Through a link: the link stays, its target gets the rows. A pipe is written in place.
    const std::string link = Path("link.txt");
    fs::create_symlink(history, link);
    {
        Child viaLink({"--virtual-printer", "--history", link, "text", "A"}, Folder());
        EXPECT_EQ(viaLink.Code(), 0) << viaLink.Err();
    }
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(history), "10 04 05 \r\n41 \r\n0A \r\n");
    {
        Child toPipe({"--virtual-printer", "--history", "/dev/stdout", "feed"}, Folder(), Streams(Stream::Pipe));
        EXPECT_EQ(toPipe.Code(), 0) << toPipe.Err();
        EXPECT_EQ(toPipe.Out(), "10 04 05 \r\n0A \r\n");
    }
}

TEST_F(CliProcessTest, APortGivenAsAPathIsNamedByThatPath) {
    const std::string missing = Path("no-such-tty");
    {
        Child run({"--port", missing, "probe"}, Folder());
        EXPECT_EQ(run.Code(), 2);
        EXPECT_NE(run.Err().find("COM Open Error!\n" + missing + " is not present.\n"), std::string::npos) << run.Err();
        EXPECT_EQ(run.Err().find("COM1024"), std::string::npos) << run.Err();
    }
    Peer peer(0);
    const int held = ::open(peer.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);  // as another program holding the port
    {
        Child run({"--port", peer.path(), "feed"}, Folder());
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
    const RunOptions asNobody = AsUser(*nobody);
    auto probe = [&](uid_t owner, gid_t group, mode_t mode) {
        EXPECT_EQ(::chown(peer.path().c_str(), owner, group), 0);
        EXPECT_EQ(::chmod(peer.path().c_str(), mode), 0);
        Child run({"--port", peer.path(), "probe"}, Folder(), asNobody);
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
