// One printer station: the printer server (vprinter::PrinterServer), the job recorder that takes
// every job it finishes (jobs::JobRecorder; without a folder it only counts and reports them), the
// job index a web page lists (web::JobIndex), the web server when asked for, and when asked for the
// newest jobs kept in memory with their bytes (the window's job list). "pellory-cli serve" is one
// station, the window's printer server (app/window_server.h) another, built from one set of options.
//
// Threads: the server's loop thread hands each finished job to the recorder (and to the kept list),
// the recorder's writer threads report them (to the index, then to the report callback), the
// owner's thread opens, starts and stops the station and reads the kept list. Bounded as its parts
// are; the kept list holds at most Kept::jobs jobs and Kept::bytes of their bytes (the oldest go
// first, but the newest job stays whatever its size).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/listed_job.h"
#include "jobs/job_recorder.h"
#include "vprinter/printer_server.h"
#include "web/job_index.h"
#include "web/web_server.h"

namespace pellory::app::cli {

struct StationOptions {
    vprinter::ServerOptions server;        // its spool and symbolMeasure are the station's own
    jobs::JobRecorder::Options recording;  // folder empty: nothing is saved
    std::optional<web::WebOptions> web;    // the web page, with the index filled from the reports
    // The newest jobs kept in memory with their bytes, newest first; none when jobs is 0.
    struct Kept {
        size_t jobs = 0;
        size_t bytes = 0;
    } kept;
};

class PrinterStation {
public:
    using Report = jobs::JobRecorder::Report;
    using Message = std::function<void(const std::string&)>;

    // report: each job as the recorder reports it (once the index lists it, with a web page);
    // message: the recorder's error lines and the server's messages. Either may be empty.
    PrinterStation(StationOptions options, Report report, Message message);
    ~PrinterStation();  // stop()
    PrinterStation(const PrinterStation&) = delete;
    PrinterStation& operator=(const PrinterStation&) = delete;

    // Opens the recorder (its folder, when it has one) and makes the server over its spool. False
    // with the reason when the folder cannot be written or is in use (folderInUse()); always true
    // without a folder.
    bool open(std::string* why);
    bool folderInUse() const { return recorder_.folderInUse(); }
    // Starts the server (after open()). False with the reason; nothing is left listening then.
    bool start(std::string* why);
    // Lists the jobs of earlier runs in the folder, then binds and starts the web page (after
    // start(), with StationOptions::web). False with the reason when it cannot be bound.
    bool startWeb(std::string* why);
    // Stops the page (no request answered from here on), the server (every job in progress handed
    // to the recorder) and the recorder (every job written, within its bounds). Bounded; only the
    // first call does anything.
    void stop();

    vprinter::PrinterServer& server() { return *server_; }  // after open()
    const vprinter::PrinterServer& server() const { return *server_; }
    const jobs::JobRecorder& recorder() const { return recorder_; }
    const web::WebServer* web() const { return page_ ? &*page_ : nullptr; }  // once startWeb() succeeded

    // The jobs kept, newest first, and a count that grows with every job kept (to see a change).
    std::vector<std::shared_ptr<const ListedJob>> keptJobs() const;
    uint64_t jobsKept() const;

private:
    bool take(vprinter::FinishedJob& job, vprinter::HandOver how);
    void keep(std::shared_ptr<const ListedJob> job);

    StationOptions options_;
    Report report_;
    Message message_;
    web::JobIndex index_;         // outlives the recorder, which reports to it
    jobs::JobRecorder recorder_;  // outlives the server, which hands it jobs
    std::unique_ptr<vprinter::PrinterServer> server_;
    std::optional<web::WebServer> page_;
    bool stopped_ = false;

    mutable std::mutex keptMutex_;
    std::deque<std::shared_ptr<const ListedJob>> kept_;  // newest first; guarded by keptMutex_
    size_t keptBytes_ = 0;                               // guarded by keptMutex_
    uint64_t keptCount_ = 0;                             // guarded by keptMutex_
};

}  // namespace pellory::app::cli
