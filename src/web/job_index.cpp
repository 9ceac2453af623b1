#include "web/job_index.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <span>
#include <string_view>

#include "jobs/json_text.h"
#include "web/job_files.h"

namespace pellory::web {

namespace fs = std::filesystem;

namespace {

// The members of a record, and of an answer in it, in the order job.json writes them; others
// follow by name.
constexpr std::string_view kRecordOrder[] = {"number",  "folder",   "start",    "end",       "source",
                                             "bytes",   "received", "receipts", "commands",  "unknown_commands",
                                             "answers", "ended",    "reason",   "cut_short", "pictures_pending"};
constexpr std::string_view kAnswerOrder[] = {"offset", "request", "bytes"};
// Members the listed form writes itself.
constexpr std::string_view kAnswersMore = "answers_more";
constexpr std::string_view kStatusCheck = "status_check";

std::string Text(const QJsonObject& o, const char* key) {
    return o.value(QString::fromLatin1(key)).toString().toStdString();
}
uint64_t Count(const QJsonObject& o, const char* key) {
    const double v = o.value(QString::fromLatin1(key)).toDouble(0);
    return v > 0 ? static_cast<uint64_t>(v) : 0;
}

// The keys of o: those of order first, in its order, then the others by name.
std::vector<QString> Keys(const QJsonObject& o, std::span<const std::string_view> order) {
    std::vector<QString> keys;
    for (const std::string_view k : order) {
        const QString key = QString::fromLatin1(k.data(), static_cast<qsizetype>(k.size()));
        if (o.contains(key)) keys.push_back(key);
    }
    for (const QString& key : o.keys()) {
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
    }
    return keys;
}

std::string ValueText(const QJsonValue& v);

std::string ObjectText(const QJsonObject& o, std::span<const std::string_view> order) {
    jobs::JsonObject out;
    for (const QString& key : Keys(o, order)) out.addRaw(key.toStdString(), ValueText(o.value(key)));
    return out.text();
}

// A value as JSON text again: integers as integers, objects with an answer's members first.
std::string ValueText(const QJsonValue& v) {
    switch (v.type()) {
        case QJsonValue::Bool:
            return v.toBool() ? "true" : "false";
        case QJsonValue::Double: {
            const double d = v.toDouble();
            constexpr double kExact = 9007199254740992.0;  // 2^53: every integer below is a double
            if (d == std::floor(d) && std::fabs(d) < kExact) return std::to_string(static_cast<int64_t>(d));
            return QByteArray::number(d, 'g', 17).toStdString();
        }
        case QJsonValue::String:
            return jobs::JsonString(v.toString().toStdString());
        case QJsonValue::Array: {
            std::string text = "[";
            for (const QJsonValue e : v.toArray()) text += (text.size() > 1 ? "," : "") + ValueText(e);
            return text + "]";
        }
        case QJsonValue::Object:
            return ObjectText(v.toObject(), kAnswerOrder);
        default:
            return "null";
    }
}

// The record as lists give it (ListedJob::listed).
std::string ListedText(const QJsonObject& record, bool statusCheck) {
    jobs::JsonObject out;
    for (const QString& key : Keys(record, kRecordOrder)) {
        const std::string name = key.toStdString();
        if (name == kAnswersMore || name == kStatusCheck) continue;
        const QJsonValue value = record.value(key);
        if (name != "answers" || !value.isArray()) {
            out.addRaw(name, ValueText(value));
            continue;
        }
        const QJsonArray answers = value.toArray();
        const qsizetype listed = std::min<qsizetype>(answers.size(), static_cast<qsizetype>(kListedAnswers));
        std::string text = "[";
        for (qsizetype i = 0; i < listed; ++i) text += (i > 0 ? "," : "") + ValueText(answers.at(i));
        out.addRaw(name, text + "]");
        out.add(kAnswersMore, static_cast<uint64_t>(answers.size() - listed));
    }
    return out.add(kStatusCheck, statusCheck).text();
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
    job->source = Text(o, "source");
    job->end = Text(o, "end");
    job->bytes = Count(o, "bytes");
    job->received = Count(o, "received");
    job->receipts = Count(o, "receipts");
    job->ended = Text(o, "ended");
    job->reason = Text(o, "reason");
    job->picturesPending = o.value(QStringLiteral("pictures_pending")).toBool(false);
    if (job->receipts == 0) job->statusCheck = job->folder.empty() ? job->bytes == 0 : !DecodingHasText(job->folder);
    job->listed = ListedText(o, job->statusCheck);
    return job;
}

std::shared_ptr<const ListedJob> ListedFromFinished(vprinter::FinishedJob&& job) {
    auto listed = std::make_shared<ListedJob>();
    listed->number = job.number;
    listed->source = std::move(job.source);
    listed->startedAt = job.started;
    listed->endedAt = job.ended;
    listed->end =
        jobs::IsoTime(std::chrono::duration_cast<std::chrono::milliseconds>(job.ended.time_since_epoch()).count());
    listed->bytes = job.bytes.size();
    listed->received = job.receivedBytes;
    listed->ended = std::string(vprinter::JobEndName(job.end));
    listed->kept = std::make_shared<const std::vector<uint8_t>>(std::move(job.bytes));
    return listed;
}

std::string ListedRecord(const ListedJob& job) {
    if (job.folder.empty() || !job.listed.empty()) return job.listed;
    if (const std::optional<std::string> record = ReadRecord(job.folder)) {
        const QJsonDocument doc =
            QJsonDocument::fromJson(QByteArray(record->data(), static_cast<qsizetype>(record->size())));
        if (doc.isObject()) return ListedText(doc.object(), job.statusCheck);
    }
    // Its job.json is gone or spoilt since it was listed: what the summary holds.
    return jobs::JsonObject()
        .add("number", job.number)
        .add("folder", fs::path(job.folder).filename().string())
        .add("end", job.end)
        .add("source", job.source)
        .add("bytes", job.bytes)
        .add("receipts", job.receipts)
        .add("ended", job.ended)
        .add("reason", job.reason)
        .add(kStatusCheck, job.statusCheck)
        .text();
}

std::string WholeRecord(const ListedJob& job) {
    if (std::optional<std::string> record = ReadRecord(job.folder)) return std::move(*record);
    return ListedRecord(job);
}

size_t JobIndex::load(const std::string& dir) {
    size_t listed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::optional<uint64_t> number = ReadNumber(name);
        if (!number) continue;
        const std::optional<std::string> record = ReadRecord(it->path().string());
        if (!record) continue;
        std::shared_ptr<const ListedJob> job = ListedFromRecord(*record, it->path().string());
        if (!job || job->number != *number) continue;
        put(std::move(job));
        ++listed;
    }
    return listed;
}

void JobIndex::add(const jobs::RecordedJob& r) {
    if (r.listed.empty()) {
        if (std::shared_ptr<const ListedJob> job = ListedFromRecord(r.json, r.folder)) put(std::move(job));
        return;
    }
    auto job = std::make_shared<ListedJob>();
    job->number = r.number;
    job->folder = r.folder;
    job->listed = r.listed;
    job->source = jobs::AsUtf8(r.source);
    job->end = r.endTime;
    job->bytes = r.bytes;
    job->received = r.received;
    job->receipts = r.receipts;
    job->ended = std::string(vprinter::JobEndName(r.end));
    job->reason = jobs::AsUtf8(r.reason);
    job->picturesPending = r.picturesPending;
    job->statusCheck = r.statusCheck;
    put(std::move(job));
}

void JobIndex::put(std::shared_ptr<const ListedJob> job) {
    platform::MutexLock lock(mutex_);
    const uint64_t n = job->number;
    const bool saved = !job->folder.empty();
    jobs_[n] = std::move(job);
    if (!saved) {
        unsaved_.push_back(n);
        if (unsaved_.size() > kMaxUnsavedListed) {
            jobs_.erase(unsaved_.front());
            unsaved_.pop_front();
        }
        return;
    }
    recent_.insert(n);
    if (recent_.size() <= kRecentListed) return;
    // The oldest of the recent ones keeps its summary only.
    const auto oldest = jobs_.find(*recent_.begin());
    recent_.erase(recent_.begin());
    if (oldest == jobs_.end() || oldest->second->listed.empty()) return;
    auto summary = std::make_shared<ListedJob>(*oldest->second);
    summary->listed = std::string();
    oldest->second = std::move(summary);
}

std::vector<std::shared_ptr<const ListedJob>> JobIndex::page(const PageQuery& q) const {
    std::vector<std::shared_ptr<const ListedJob>> out;
    platform::MutexLock lock(mutex_);
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
    platform::MutexLock lock(mutex_);
    const auto it = jobs_.find(number);
    return it == jobs_.end() ? nullptr : it->second;
}

size_t JobIndex::size() const {
    platform::MutexLock lock(mutex_);
    return jobs_.size();
}

uint64_t JobIndex::newest() const {
    platform::MutexLock lock(mutex_);
    return jobs_.empty() ? 0 : jobs_.rbegin()->first;
}

}  // namespace pellory::web
