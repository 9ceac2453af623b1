// pellory-cli run as a program of its own, for the tests that need a process: its standard
// streams to a file, a pipe the test reads, /dev/full or nowhere; signals sent to it; its end
// waited for (a run that hangs is killed once a watchdog runs out).
//
// The program is the pellory-cli of this build (PELLORY_CLI_PATH, which the including test
// defines), or PELLORY_CLI_BINARY when set.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pellory::test::cli_child {

using Clock = std::chrono::steady_clock;

// Upper bounds that only catch a hang; every wait ends on its event long before.
inline constexpr auto kWatchdog = std::chrono::seconds(90);

inline std::string CliBinary() {
    if (const char* p = std::getenv("PELLORY_CLI_BINARY")) return p;
    return PELLORY_CLI_PATH;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void CloseOnExec(int fd) { ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC); }

// Where a standard stream of the program goes.
enum class Stream { File, Pipe, DevFull, Closed };

struct RunOptions {
    Stream out = Stream::File;
    Stream err = Stream::File;
    std::optional<uid_t> uid;  // run as this user, with gid as its only group
    gid_t gid = 0;
};

inline RunOptions Streams(Stream out, Stream err = Stream::File) {
    RunOptions o;
    o.out = out;
    o.err = err;
    return o;
}

inline RunOptions AsUser(const passwd& user) {
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

}  // namespace pellory::test::cli_child
