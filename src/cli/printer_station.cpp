#include "cli/printer_station.h"

#include <utility>

#include "cli/symbol_measure.h"

namespace pellory::app::cli {

namespace {

// What the kept list holds of a job the recorder is offered: its bytes copied, the recorder keeps
// the job's own.
std::shared_ptr<const ListedJob> KeptCopy(const vprinter::FinishedJob& job) {
    vprinter::FinishedJob copy;
    copy.number = job.number;
    copy.started = job.started;
    copy.ended = job.ended;
    copy.source = job.source;
    copy.bytes = job.bytes;
    copy.receivedBytes = job.receivedBytes;
    copy.end = job.end;
    return ListedFromFinished(std::move(copy));
}

}  // namespace

PrinterStation::PrinterStation(StationOptions options, Report report, Message message)
    : options_(std::move(options)),
      report_(std::move(report)),
      message_(std::move(message)),
      recorder_(
          options_.recording,
          [this](const jobs::RecordedJob& r) {
              if (options_.web) index_.add(r);  // on the web before its report is out
              if (report_) report_(r);
          },
          [this](const std::string& line) {
              if (message_) message_(line);
          }) {
    // Its record again once its pictures are written: the page shows them from then on.
    if (options_.web) recorder_.setPicturesWritten([this](const jobs::RecordedJob& r) { index_.add(r); });
}

PrinterStation::~PrinterStation() { stop(); }

bool PrinterStation::open(std::string* why) {
    if (!recorder_.open(why)) return false;
    vprinter::ServerOptions o = options_.server;
    o.spool = recorder_.spool();            // none without a folder
    o.symbolMeasure = MeasureStoredSymbol;  // the size answer of GS ( k fn 82
    server_ = std::make_unique<vprinter::PrinterServer>(o);
    server_->setJobSink([this](vprinter::FinishedJob& job, vprinter::HandOver how) { return take(job, how); });
    recorder_.setRoom([this] { server_->jobRoom(); });
    if (message_) server_->setMessageSink([this](const std::string& m) { message_(m); });
    return true;
}

bool PrinterStation::start(std::string* why) { return server_->start(why); }

bool PrinterStation::startWeb(std::string* why) {
    // The jobs of earlier runs, read while the printer is served already (a large folder takes a
    // while).
    if (!options_.recording.folder.empty()) index_.load(options_.recording.folder);
    page_.emplace(*options_.web, *server_, index_);
    if (page_->start(why)) return true;
    page_.reset();
    return false;
}

void PrinterStation::stop() {
    if (stopped_) return;
    stopped_ = true;
    if (page_) page_->stop();
    if (server_) server_->stop();
    recorder_.finish();
    // The recorder no longer calls on the server, which may go from here on.
    recorder_.setRoom({});
}

bool PrinterStation::take(vprinter::FinishedJob& job, vprinter::HandOver how) {
    std::shared_ptr<const ListedJob> listed = options_.kept.jobs > 0 ? KeptCopy(job) : nullptr;
    if (!recorder_.offer(job, how)) return false;
    if (listed) keep(std::move(listed));
    return true;
}

void PrinterStation::keep(std::shared_ptr<const ListedJob> job) {
    std::lock_guard<std::mutex> lock(keptMutex_);
    keptBytes_ += job->bytes;
    kept_.push_front(std::move(job));
    ++keptCount_;
    while (kept_.size() > 1 && (kept_.size() > options_.kept.jobs || keptBytes_ > options_.kept.bytes)) {
        keptBytes_ -= kept_.back()->bytes;
        kept_.pop_back();
    }
}

std::vector<std::shared_ptr<const ListedJob>> PrinterStation::keptJobs() const {
    std::lock_guard<std::mutex> lock(keptMutex_);
    return {kept_.begin(), kept_.end()};
}

uint64_t PrinterStation::jobsKept() const {
    std::lock_guard<std::mutex> lock(keptMutex_);
    return keptCount_;
}

}  // namespace pellory::app::cli
