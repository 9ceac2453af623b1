// A program run as a process of its own, for the tests of what only a process shows: signals,
// write errors on its standard streams, a standard input that stays open, files that cannot
// grow, a run as another user. Its standard output and error go to files in a folder, a pipe the
// test reads, /dev/full or nowhere; its standard input is /dev/null or a pipe the test writes to;
// its end is waited for, and a run that hangs is killed once a watchdog runs out.
//
// CliChild runs the pellory-cli of this build (PELLORY_CLI_PATH, which the including test
// defines), or PELLORY_CLI_BINARY when set.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/scratch_folder.h"

namespace pellory::test {

// An upper bound that only catches a hang; every wait ends on its event long before.
inline constexpr std::chrono::seconds kChildWatchdog(90);

inline void CloseOnExec(int fd) { ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC); }

// Where a standard stream of the program goes.
enum class Stream { File, Pipe, DevFull, Closed };

struct ChildOptions {
    Stream out = Stream::File;   // a pipe: read with WaitForOutput
    Stream err = Stream::File;   // File or DevFull or Closed
    bool pipedInput = false;     // standard input a pipe of the test's (else /dev/null)
    std::optional<uid_t> uid;    // run as this user, with gid as its only group
    gid_t gid = 0;
    std::optional<rlim_t> fileSizeLimit;  // RLIMIT_FSIZE of the program (SIGXFSZ ignored)
};

inline ChildOptions Streams(Stream out, Stream err = Stream::File) {
    ChildOptions o;
    o.out = out;
    o.err = err;
    return o;
}

inline ChildOptions AsUser(const passwd& user) {
    ChildOptions o;
    o.uid = user.pw_uid;
    o.gid = user.pw_gid;
    return o;
}

class ChildProcess {
public:
    // binary: the program; folder: where out.txt and err.txt go.
    ChildProcess(const std::string& binary, const std::vector<std::string>& args, const std::string& folder,
                 ChildOptions o = {})
        : outFile_(folder + "/out.txt"), errFile_(folder + "/err.txt") {
        std::vector<std::string> all = {binary};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int inputFds[2] = {-1, -1};
        if (o.pipedInput && ::pipe2(inputFds, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "input pipe";
            return;
        }
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
        const int inFd = o.pipedInput ? inputFds[0] : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const int outFd = o.out == Stream::Pipe ? pipeFds[1] : open(o.out, outFile_);
        const int errFd = open(o.err, errFile_);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(inFd, 0);
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
            if (o.fileSizeLimit) {
                ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
                const rlimit limit{*o.fileSizeLimit, *o.fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (o.uid) {
                if (::setgroups(0, nullptr) != 0 || ::setgid(o.gid) != 0 || ::setuid(*o.uid) != 0) ::_exit(126);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        for (int fd : {inFd, outFd, errFd}) {
            if (fd >= 0) ::close(fd);
        }
        input_ = inputFds[1];
        outPipe_ = pipeFds[0];
        EXPECT_GT(pid_, 0);
    }
    ~ChildProcess() {
        CloseInput();
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
        }
        if (outPipe_ >= 0) ::close(outPipe_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }

    // Writes bytes to the program's standard input (a piped one).
    bool Write(const std::string& bytes) {
        return input_ >= 0 && ::write(input_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    void CloseInput() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
    }

    // Reads the output pipe until it holds text (at least times times, not overlapping). False
    // when the program ended or the watchdog ran out first.
    bool WaitForOutput(const std::string& text, size_t times = 1) {
        const auto until = std::chrono::steady_clock::now() + kChildWatchdog;
        const auto seen = [&] {
            size_t count = 0;
            for (size_t at = piped_.find(text); at != std::string::npos && count < times;
                 at = piped_.find(text, at + std::max<size_t>(text.size(), 1))) {
                ++count;
            }
            return count >= times;
        };
        while (!seen()) {
            if (std::chrono::steady_clock::now() >= until) return false;
            pollfd p{outPipe_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buf[65536];
            const ssize_t n = ::read(outPipe_, buf, sizeof buf);
            if (n <= 0) return false;
            piped_.append(buf, static_cast<size_t>(n));
        }
        return true;
    }

    // Reads the error file until it holds text; the text from there to the end of its line in
    // *line. False when the program ended or the watchdog ran out first.
    bool WaitForError(const std::string& text, std::string* line = nullptr) {
        const auto until = std::chrono::steady_clock::now() + kChildWatchdog;
        for (;;) {
            const std::string err = Err();
            const size_t at = err.find(text);
            if (at != std::string::npos && err.find('\n', at) != std::string::npos) {
                if (line) *line = err.substr(at, err.find('\n', at) - at);
                return true;
            }
            siginfo_t ended{};
            const bool gone = ::waitid(P_PID, static_cast<id_t>(pid_), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                              ended.si_pid == pid_;
            if (gone || std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Waits until the program blocks SIGINT, SIGTERM and SIGHUP (its watcher of signals is in
    // place, so a signal now asks it to stop), or the watchdog runs out.
    bool WaitUntilSignalsWatched(std::chrono::seconds watchdog = std::chrono::seconds(60)) const {
        const unsigned long long wanted = (1ull << (SIGINT - 1)) | (1ull << (SIGTERM - 1)) | (1ull << (SIGHUP - 1));
        const auto until = std::chrono::steady_clock::now() + watchdog;
        while (std::chrono::steady_clock::now() < until) {
            std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
            std::string line;
            while (std::getline(status, line)) {
                if (line.rfind("SigBlk:", 0) != 0) continue;
                const unsigned long long blocked = std::strtoull(line.c_str() + 7, nullptr, 16);
                if ((blocked & wanted) == wanted) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Waits until the program catches SIGTERM (a handler of its own is in place); false once it
    // ended, or the watchdog ran out.
    bool WaitUntilTermCaught(std::chrono::seconds watchdog = std::chrono::seconds(60)) const {
        const auto until = std::chrono::steady_clock::now() + watchdog;
        while (std::chrono::steady_clock::now() < until) {
            std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
            std::string line;
            while (std::getline(status, line)) {
                if (line.rfind("State:", 0) == 0 && line.find('Z') != std::string::npos) return false;
                if (line.rfind("SigCgt:", 0) != 0) continue;
                const unsigned long long caught = std::strtoull(line.c_str() + 7, nullptr, 16);
                if (caught & (1ull << (SIGTERM - 1))) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    void Signal(int s) const { ::kill(pid_, s); }

    // Waits for the end and returns the wait status; a run that outlives the watchdog is a
    // failure, and is killed.
    int Wait(std::chrono::seconds watchdog = kChildWatchdog) {
        if (reaped_) return status_;
        const auto until = std::chrono::steady_clock::now() + watchdog;
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
            if (std::chrono::steady_clock::now() >= until) {
                ADD_FAILURE() << "the program did not end; killed";
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status_, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        reaped_ = true;
        return status_;
    }
    // The exit status; -signal when a signal ended the program (-SIGKILL after a hang).
    int Code(std::chrono::seconds watchdog = kChildWatchdog) {
        const int s = Wait(watchdog);
        return WIFEXITED(s) ? WEXITSTATUS(s) : -WTERMSIG(s);
    }

    std::string Out() const { return piped_.empty() ? ReadWholeFile(outFile_) : piped_; }
    std::string Err() const { return ReadWholeFile(errFile_); }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int outPipe_ = -1;
    std::string piped_;
    std::string outFile_, errFile_;
    bool reaped_ = false;
    int status_ = 0;
};

#ifdef PELLORY_CLI_PATH
inline std::string CliBinary() {
    if (const char* p = std::getenv("PELLORY_CLI_BINARY")) return p;
    return PELLORY_CLI_PATH;
}

// One run of the pellory-cli under test.
class CliChild : public ChildProcess {
public:
    CliChild(const std::vector<std::string>& args, const std::string& folder, ChildOptions o = {})
        : ChildProcess(CliBinary(), args, folder, std::move(o)) {}
};
#endif

}  // namespace pellory::test
