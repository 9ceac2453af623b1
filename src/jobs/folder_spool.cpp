#include "jobs/folder_spool.h"

#include "jobs/job_folder.h"

namespace pellory::jobs {

namespace {

// The most write calls one append makes: a regular file takes all bytes in one unless a limit is
// reached, and then the next call fails.
constexpr int kMaxWrites = 8;

int64_t Milliseconds(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

// The value of "key " at the start of text, up to its line end; text then starts after it.
std::optional<std::string> TakeLine(std::string_view& text, std::string_view key) {
    if (text.substr(0, key.size()) != key) return std::nullopt;
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    std::string value(text.substr(key.size(), end - key.size()));
    text.remove_prefix(end + 1);
    return value;
}

std::optional<int64_t> ReadInteger(const std::string& s) {
    const bool negative = !s.empty() && s[0] == '-';
    const std::string digits = negative ? s.substr(1) : s;
    if (digits.empty() || digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int64_t v = std::stoll(digits);
    return negative ? -v : v;
}

}  // namespace

std::string StartRecordText(const StartRecord& r) {
    return "number " + std::to_string(r.number) + "\nstart " + std::to_string(Milliseconds(r.started)) + "\nsource " +
           r.source;
}

std::optional<StartRecord> ReadStartRecord(const std::string& text) {
    std::string_view rest(text);
    const std::optional<std::string> number = TakeLine(rest, "number ");
    const std::optional<std::string> start = number ? TakeLine(rest, "start ") : std::nullopt;
    if (!start || rest.substr(0, 7) != "source ") return std::nullopt;
    const std::optional<int64_t> n = ReadInteger(*number);
    const std::optional<int64_t> ms = ReadInteger(*start);
    if (!n || *n < 0 || !ms) return std::nullopt;
    StartRecord r;
    r.number = static_cast<uint64_t>(*n);
    r.started = std::chrono::system_clock::time_point(std::chrono::milliseconds(*ms));
    r.source = std::string(rest.substr(7));
    return r;
}

FolderSpooledJob::~FolderSpooledJob() { close(); }

bool FolderSpooledJob::open(const StartRecord& start) {
    const std::string work = dir_ + "/" + JobWorkName(number_);
    std::string why;
    if (!WriteFileInOneStep(work + "/" + kStartRecordName, StartRecordText(start), &why)) {
        fail(kStartRecordName, why);
        return false;
    }
    int error = 0;
    if (!file_.open(work + "/bytes.bin", platform::File::Access::NewForAppend, &error)) {
        fail("bytes.bin", platform::ErrorText(error));
        return false;
    }
    return true;
}

bool FolderSpooledJob::append(const uint8_t* bytes, size_t n) {
    if (!failure_.empty() || !file_.isOpen()) return false;
    int error = 0;
    if (!file_.write(bytes, n, kMaxWrites, &size_, &error)) {
        fail("bytes.bin", platform::ErrorText(error));
        return false;
    }
    return true;
}

void FolderSpooledJob::fail(const std::string& what, const std::string& why) {
    if (failure_.empty()) {
        failedFile_ = what;
        failure_ = why.empty() ? "unknown error" : why;
    }
    close();
}

void FolderSpooledJob::close() { file_.close(); }

std::unique_ptr<vprinter::SpooledJob> FolderSpool::begin(uint64_t, std::chrono::system_clock::time_point started,
                                                         const std::string& source) {
    std::string why;
    const std::optional<uint64_t> number = numbers_->take(&why);
    auto job = std::make_unique<FolderSpooledJob>(numbers_->dir(), number.value_or(0));
    if (!number) {
        job->fail("the job's folder", why);
    } else {
        job->open({*number, started, source});
    }
    return job;
}

}  // namespace pellory::jobs
