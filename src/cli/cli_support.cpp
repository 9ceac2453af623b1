#include "cli/cli_support.h"

#include <functional>
#include <ostream>
#include <streambuf>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/file_in_one_step.h"

namespace pellory::app::cli {

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A stream onto a sink (a file descriptor, a file written in one step), in pieces of 64 KiB; a
// refused piece sets the stream's bad bit.
class SinkStreamBuf : public std::streambuf {
public:
    explicit SinkStreamBuf(platform::FileSink sink) : sink_(std::move(sink)), buffer_(64 * 1024) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }

protected:
    int_type overflow(int_type c) override {
        if (sync() != 0) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override {
        const size_t n = static_cast<size_t>(pptr() - pbase());
        if (n > 0 && !sink_(reinterpret_cast<const uint8_t*>(pbase()), n)) return -1;
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return 0;
    }

private:
    platform::FileSink sink_;
    std::vector<char> buffer_;
};

// Runs write on a stream over fd and flushes it; false when a write failed.
bool WriteThrough(int fd, const std::function<void(std::ostream&)>& write) {
    SinkStreamBuf buffer(
        [fd](const uint8_t* data, size_t n) { return WriteAll(fd, reinterpret_cast<const char*>(data), n); });
    std::ostream out(&buffer);
    write(out);
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace

bool ReplaceFileContent(const std::string& path, const std::string& content, std::string& why) {
    return ReplaceFileContent(path, [&content](std::ostream& out) { out.write(content.data(), static_cast<std::streamsize>(content.size())); }, why);
}

bool ReplaceFileContent(const std::string& path, const std::function<void(std::ostream&)>& write, std::string& why) {
    namespace fs = std::filesystem;
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;  // of the link's target, for a link
    if (exists && S_ISDIR(st.st_mode)) {
        why = "it is a folder";
        return false;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a pipe (/dev/stdout) is written as it is; nothing may take its place.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        bool ok = fd >= 0 && WriteThrough(fd, write);
        int error = ok ? 0 : errno;
        if (fd >= 0 && ::close(fd) != 0 && ok) {
            ok = false;
            error = errno;
        }
        if (!ok) why = std::strerror(error != 0 ? error : EIO);
        return ok;
    }
    std::error_code ec;
    fs::path target(path);
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec) target = resolved;
    }
    // The new content in one step, synced: a file the user asked for survives a power cut whole.
    platform::OneStepFile how;
    how.durability = platform::Durability::Synced;
    how.mode = 0666;
    how.keepMode = exists;
    std::string failure;
    const bool ok = platform::WriteFileInOneStep(
        target.string(),
        [&write](const platform::FileSink& sink) {
            SinkStreamBuf buffer(sink);
            std::ostream out(&buffer);
            write(out);
            out.flush();
            return static_cast<bool>(out);
        },
        how, &failure);
    if (!ok) why = failure;
    return ok;
}

bool ParseArgs(const std::vector<std::string>& args, const ArgRules& rules, ParsedArgs& out, std::string& error) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded) {
            out.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "-h" || a == "--help") {
            out.help = true;
            continue;
        }
        if (a.size() <= 2 || a.compare(0, 2, "--") != 0) {
            out.positional.push_back(a);
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const bool valued = std::find(rules.valued.begin(), rules.valued.end(), name) != rules.valued.end();
        const bool flag = std::find(rules.flags.begin(), rules.flags.end(), name) != rules.flags.end();
        if (valued) {
            if (eq != std::string::npos) {
                out.values[name] = a.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                out.values[name] = args[++i];
            } else {
                error = name + " needs a value";
                return false;
            }
            out.all[name].push_back(out.values[name]);
        } else if (flag && eq == std::string::npos) {
            out.flags.insert(name);
        } else if (flag) {
            error = name + " takes no value";
            return false;
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    return true;
}

bool PositionalCount(const ParsedArgs& a, size_t n, const char* what, std::string& error) {
    if (a.positional.size() == n) return true;
    if (a.positional.size() < n) {
        error = std::string("missing ") + what;
    } else {
        error = "unexpected argument " + a.positional[n];
    }
    return false;
}

}  // namespace pellory::app::cli
