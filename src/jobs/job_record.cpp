#include "jobs/job_record.h"

#include <chrono>

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

std::string JobJson(const FinishedJob& job, const RecordedJob& r) {
    std::string answers = "[";
    for (const vprinter::SentAnswer& a : job.answers) {
        if (answers.size() > 1) answers += ',';
        answers += JsonObject()
                       .add("offset", a.offset)
                       .add("request", a.request)
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
    return o.add("start", IsoTime(Milliseconds(job.started)))
        .add("end", IsoTime(Milliseconds(job.ended)))
        .add("source", r.source)
        .add("bytes", r.bytes)
        .add("received", r.received)
        .add("receipts", static_cast<uint64_t>(r.receipts))
        .add("commands", static_cast<uint64_t>(r.commands))
        .add("unknown_commands", static_cast<uint64_t>(r.unknownCommands))
        .addRaw("answers", answers)
        .add("ended", vprinter::JobEndName(r.end))
        .add("reason", r.reason)
        .add("cut_short", r.cutShort)
        .add("pictures_pending", r.picturesPending)
        .text();
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
