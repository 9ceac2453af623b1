// The web interface of the printer server ("serve --http"): a page of the jobs as they arrive,
// a page per job, and a JSON interface to the jobs and the printer's state. It runs on threads of
// its own (the HTTP library's pool, std::thread), never on the printer server's: it reads the
// state through the server's calls, the jobs from a JobIndex and the job folders.
//
// Routes (GET unless said): / the jobs, newest first (?before=N); /jobs/N one job; /api/jobs
// (?after=N, ?before=N, &limit=M); /api/jobs/N; /api/jobs/N/receipts/K.png; /api/jobs/N/bytes;
// /api/jobs/N/decoding; /api/status, and PUT /api/status with a JSON object of states (403
// without control, or from another origin; 415 without Content-Type: application/json; 413 for a
// body over 4 KiB; 400 for a body that is not a state change). N and K are numbers only: any other
// path is 404; a query name a route does not know, or one given twice, is 400.
//
// Before any route: the Host header must name this machine (host_names.h: 400 without one or
// with two, 403 for another name or a port that cannot exist), a body may not be announced over
// 4 KiB (413). Each connection is held to the bounds of guarded_server.h (the request's deadline,
// its head and body, the connections of one address); answers are built by at most `threads`
// requests at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vprinter/printer_server.h"
#include "web/connection_bounds.h"
#include "web/job_index.h"

namespace pellory::web {

struct WebOptions {
    vprinter::ListenAddress address{"127.0.0.1", 8080};  // host empty: every IPv4 address
    bool control = false;                                // PUT /api/status changes the state
    vprinter::Model model = vprinter::Model::Orva80;
    std::vector<std::string> hosts;  // --http-host: more names a request's Host header may give
    // Requests whose answers are built at once; another waits until one is done.
    unsigned threads = 4;
    ConnectionBounds connections;
};

class WebServer {
public:
    // printer and jobs must outlive the web server (stop() before they go).
    WebServer(WebOptions options, vprinter::PrinterServer& printer, const JobIndex& jobs);
    ~WebServer();  // stop()
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds the address and starts answering. False with the reason when it cannot be bound.
    bool start(std::string* why);
    // Stops answering: no request is read from here on, answers being sent end within the write
    // wait. Bounded.
    void stop();
    // The address as bound (the system's port where 0 was asked for).
    vprinter::ListenAddress boundAddress() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pellory::web
