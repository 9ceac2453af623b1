#include "cli/cli_support.h"

#include <functional>
#include <ostream>
#include <streambuf>
#include <utility>
#include <vector>

#include <filesystem>
#include <limits>

#include "platform/file_in_one_step.h"
#include "platform/files.h"

namespace pellory::app::cli {

namespace {

// A stream onto a sink (an open file, a file written in one step), in pieces of 64 KiB; a
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

// Runs write on a stream over file and flushes it; false with the code in error when a write failed.
bool WriteThrough(platform::File& file, const std::function<void(std::ostream&)>& write, int& error) {
    SinkStreamBuf buffer([&file, &error](const uint8_t* data, size_t n) {
        // A pipe may take a part at a time: as many calls as it takes.
        return file.write(data, n, std::numeric_limits<int>::max(), nullptr, &error);
    });
    std::ostream out(&buffer);
    write(out);
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace

bool ReplaceFileContent(const std::string& path, const std::string& content, std::string& why) {
    return ReplaceFileContent(
        path,
        [&content](std::ostream& out) { out.write(content.data(), static_cast<std::streamsize>(content.size())); },
        why);
}

bool ReplaceFileContent(const std::string& path, const std::function<void(std::ostream&)>& write, std::string& why) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_type type = fs::status(platform::PathOf(path), ec).type();  // of the link's target, for a link
    const bool exists = !ec && type != fs::file_type::not_found;
    if (exists && type == fs::file_type::directory) {
        why = "it is a folder";
        return false;
    }
    if (exists && type != fs::file_type::regular) {
        // A device or a pipe (/dev/stdout) is written as it is; nothing may take its place.
        platform::File file;
        int error = 0;
        bool ok = file.open(path, platform::File::Access::WriteExisting, &error) && WriteThrough(file, write, error);
        const int closing = file.close();
        if (ok && closing != 0) {
            ok = false;
            error = closing;
        }
        if (!ok) why = platform::ErrorText(error != 0 ? error : platform::IoErrorCode());
        return ok;
    }
    fs::path target = platform::PathOf(path);
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
        platform::TextOf(target),
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
