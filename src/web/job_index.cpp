#include "web/job_index.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace pellory::web {

namespace fs = std::filesystem;

namespace {

// A record's job.json is one line of well under a kilobyte, more with many answers: a file far
// larger is not one.
constexpr std::uintmax_t kMaxRecordBytes = 16u << 20;

std::string Text(const QJsonObject& o, const char* key) {
    return o.value(QString::fromLatin1(key)).toString().toStdString();
}
uint64_t Count(const QJsonObject& o, const char* key) {
    const double v = o.value(QString::fromLatin1(key)).toDouble(0);
    return v > 0 ? static_cast<uint64_t>(v) : 0;
}

}  // namespace

std::shared_ptr<const ListedJob> ListedFromRecord(const std::string& record, const std::string& folder) {
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(record.data(), static_cast<qsizetype>(record.size())));
    if (!doc.isObject()) return nullptr;
    const QJsonObject o = doc.object();
    if (!o.value(QStringLiteral("number")).isDouble()) return nullptr;
    auto job = std::make_shared<ListedJob>();
    job->number = Count(o, "number");
    if (job->number == 0) return nullptr;
    job->folder = o.value(QStringLiteral("folder")).isNull() ? std::string() : folder;
    job->record = record;
    while (!job->record.empty() && (job->record.back() == '\n' || job->record.back() == '\r')) job->record.pop_back();
    job->source = Text(o, "source");
    job->end = Text(o, "end");
    job->bytes = Count(o, "bytes");
    job->receipts = Count(o, "receipts");
    job->ended = Text(o, "ended");
    job->reason = Text(o, "reason");
    return job;
}

size_t JobIndex::load(const std::string& dir) {
    size_t listed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::optional<uint64_t> number = ReadNumber(name);
        if (!number) continue;
        const fs::path file = it->path() / "job.json";
        std::error_code sizeError;
        const std::uintmax_t size = fs::file_size(file, sizeError);
        if (sizeError || size > kMaxRecordBytes) continue;
        std::ifstream in(file, std::ios::binary);
        const std::string record((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::shared_ptr<const ListedJob> job = ListedFromRecord(record, it->path().string());
        if (!job || job->number != *number) continue;
        put(std::move(job));
        ++listed;
    }
    return listed;
}

void JobIndex::add(const jobs::RecordedJob& r) {
    if (std::shared_ptr<const ListedJob> job = ListedFromRecord(r.json, r.folder)) put(std::move(job));
}

void JobIndex::put(std::shared_ptr<const ListedJob> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t n = job->number;
    jobs_[n] = std::move(job);
}

std::vector<std::shared_ptr<const ListedJob>> JobIndex::page(const PageQuery& q) const {
    std::vector<std::shared_ptr<const ListedJob>> out;
    std::lock_guard<std::mutex> lock(mutex_);
    if (q.after) {
        for (auto it = jobs_.upper_bound(*q.after); it != jobs_.end() && out.size() < q.limit; ++it)
            out.push_back(it->second);
        return out;
    }
    auto it = q.before ? jobs_.lower_bound(*q.before) : jobs_.end();
    while (it != jobs_.begin() && out.size() < q.limit) out.push_back((--it)->second);
    return out;
}

std::shared_ptr<const ListedJob> JobIndex::find(uint64_t number) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = jobs_.find(number);
    return it == jobs_.end() ? nullptr : it->second;
}

size_t JobIndex::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size();
}

uint64_t JobIndex::newest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.empty() ? 0 : jobs_.rbegin()->first;
}

}  // namespace pellory::web
