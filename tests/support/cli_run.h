// Runs the built pellory-cli as a program of its own for tests of what only a process shows:
// signals, a standard input that stays open, files that cannot grow. Standard output and error go
// to files in a folder; standard input is a pipe the test writes to and closes when it wants.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pellory::test {

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct CliRunOptions {
    bool pipedInput = false;                 // standard input a pipe of the test's (else /dev/null)
    std::optional<rlim_t> fileSizeLimit;     // RLIMIT_FSIZE of the program (SIGXFSZ ignored)
};

class CliRun {
public:
    // binary: the program; folder: where out.txt and err.txt go.
    CliRun(const std::string& binary, const std::vector<std::string>& args, const std::string& folder,
           CliRunOptions options = {})
        : outFile_(folder + "/out.txt"), errFile_(folder + "/err.txt") {
        std::vector<std::string> all = {binary};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int input[2] = {-1, -1};
        if (options.pipedInput && ::pipe2(input, O_CLOEXEC) != 0) return;
        const int in = options.pipedInput ? input[0] : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const int out = ::open(outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int err = ::open(errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in, 0);
            ::dup2(out, 1);
            ::dup2(err, 2);
            if (options.fileSizeLimit) {
                ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
                const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in);
        ::close(out);
        ::close(err);
        input_ = input[1];
    }
    ~CliRun() {
        CloseInput();
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
        }
    }
    CliRun(const CliRun&) = delete;
    CliRun& operator=(const CliRun&) = delete;

    bool Started() const { return pid_ > 0; }

    // Writes bytes to the program's standard input.
    bool Write(const std::string& bytes) {
        return input_ >= 0 && ::write(input_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    void CloseInput() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
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

    void Signal(int s) const { ::kill(pid_, s); }

    // The exit status (-signal when a signal ended it); a run that outlives the watchdog is
    // killed, and reads as -SIGKILL.
    int Code(std::chrono::seconds watchdog = std::chrono::seconds(60)) {
        if (!reaped_) {
            const auto until = std::chrono::steady_clock::now() + watchdog;
            while (::waitpid(pid_, &status_, WNOHANG) != pid_) {
                if (std::chrono::steady_clock::now() >= until) {
                    ::kill(pid_, SIGKILL);
                    ::waitpid(pid_, &status_, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            reaped_ = true;
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -WTERMSIG(status_);
    }

    std::string Out() const { return ReadWholeFile(outFile_); }
    std::string Err() const { return ReadWholeFile(errFile_); }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    std::string outFile_, errFile_;
};

}  // namespace pellory::test
