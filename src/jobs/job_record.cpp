#include "jobs/job_record.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "jobs/job_folder.h"
#include "jobs/json_text.h"
#include "protocol/hex.h"

namespace pellory::jobs {

using vprinter::FinishedJob;

namespace {

int64_t Milliseconds(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

}  // namespace

namespace {

// The record; listed: as a reader gets it back, its answers bounded, answers_more and status_check.
std::string RecordJson(const FinishedJob& job, const RecordedJob& r, bool listed, size_t maxAnswers) {
    const auto text = [listed](const std::string& s) { return listed ? AsUtf8(s) : s; };
    const size_t shown = std::min(job.answers.size(), maxAnswers);
    std::string answers = "[";
    for (size_t i = 0; i < shown; ++i) {
        const vprinter::SentAnswer& a = job.answers[i];
        if (answers.size() > 1) answers += ',';
        answers += JsonObject()
                       .add("offset", a.offset)
                       .add("request", text(a.request))
                       .add("bytes", protocol::hex::Spaced(a.bytes.data(), a.bytes.size()))
                       .text();
    }
    answers += ']';
    JsonObject o;
    o.add("number", r.number);
    if (r.folder.empty()) {
        o.addRaw("folder", "null");
    } else {
        o.add("folder", JobFolderName(r.number));
    }
    o.add("start", IsoTime(Milliseconds(job.started)))
        .add("end", IsoTime(Milliseconds(job.ended)))
        .add("source", text(r.source))
        .add("bytes", r.bytes)
        .add("received", r.received)
        .add("receipts", static_cast<uint64_t>(r.receipts))
        .add("commands", static_cast<uint64_t>(r.commands))
        .add("unknown_commands", static_cast<uint64_t>(r.unknownCommands))
        .addRaw("answers", answers);
    if (listed) o.add("answers_more", static_cast<uint64_t>(job.answers.size() - shown));
    o.add("ended", vprinter::JobEndName(r.end))
        .add("reason", text(r.reason))
        .add("cut_short", text(r.cutShort))
        .add("pictures_pending", r.picturesPending);
    if (listed) o.add("status_check", r.statusCheck);
    return o.text();
}

}  // namespace

std::string JobJson(const FinishedJob& job, const RecordedJob& r) { return RecordJson(job, r, false, SIZE_MAX); }

std::string ListedJobJson(const FinishedJob& job, const RecordedJob& r, size_t maxAnswers) {
    return RecordJson(job, r, true, maxAnswers);
}

std::string RecordWithPictures(const std::string& json, size_t receipts, const std::string& cutShort) {
    // Within strings every quote is escaped: these names with their quotes are members of the record.
    const std::string pendingTail = ",\"pictures_pending\":true}";
    const size_t cut = json.rfind(",\"cut_short\":");
    const size_t count = json.find(",\"receipts\":");
    if (json.size() < pendingTail.size() ||
        json.compare(json.size() - pendingTail.size(), std::string::npos, pendingTail) != 0 ||
        cut == std::string::npos || count == std::string::npos || count > cut) {
        return {};
    }
    const size_t countEnd = json.find(',', count + 1);
    if (countEnd == std::string::npos || countEnd > cut) return {};
    const std::string tail =
        JsonObject().add("cut_short", cutShort).add("pictures_pending", false).text();  // {"cut_short":...}
    return json.substr(0, count) + ",\"receipts\":" + std::to_string(receipts) + json.substr(countEnd, cut - countEnd) +
           "," + tail.substr(1);
}

std::string JobLine(const RecordedJob& r) {
    std::string line = "job " + JobFolderName(r.number) + "  " + r.source + "  " + std::to_string(r.bytes) +
                       (r.bytes == 1 ? " byte" : " bytes");
    line += "  " + std::to_string(r.receipts) + (r.receipts == 1 ? " receipt" : " receipts");
    line += "  " + std::to_string(r.commands) + (r.commands == 1 ? " command" : " commands");
    line += "  " + std::string(vprinter::JobEndName(r.end));
    if (!r.reason.empty()) line += " (" + r.reason + ")";
    if (!r.folder.empty()) line += "  " + r.folder;
    return line;
}

}  // namespace pellory::jobs
