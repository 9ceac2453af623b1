#include "web/web_server.h"

#include <httplib.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "jobs/job_folder.h"
#include "jobs/json_text.h"
#include "web/web_pages.h"
#include "web/web_request.h"
#include "web_assets.h"

namespace pellory::web {

namespace fs = std::filesystem;

namespace {

// Every answer of the pages: only this server's own style sheet, script and pictures.
constexpr const char* kPagePolicy =
    "default-src 'none'; img-src 'self'; style-src 'self'; script-src 'self'; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// The bounds of one request: a client that stops sending or reading is dropped after these.
constexpr time_t kReadTimeoutSeconds = 5;
constexpr time_t kWriteTimeoutSeconds = 5;
constexpr time_t kKeepAliveSeconds = 2;
constexpr size_t kKeepAliveRequests = 100;
constexpr int kStartWaitMs = 5000;

void Json(httplib::Response& res, int status, const std::string& json) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(json, "application/json");
}

void Fail(httplib::Response& res, int status, const std::string& why) {
    Json(res, status, "{\"error\":" + jobs::JsonString(why) + "}");
}

void Page(httplib::Response& res, const std::string& html) {
    res.set_header("Content-Security-Policy", kPagePolicy);
    res.set_header("Cache-Control", "no-store");
    res.set_content(html, "text/html; charset=utf-8");
}

// A whole file, or nothing when it cannot be read.
std::optional<std::string> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return content;
}

std::optional<std::string> Param(const httplib::Request& req, const char* name) {
    if (!req.has_param(name)) return std::nullopt;
    return req.get_param_value(name);
}

}  // namespace

struct WebServer::Impl {
    WebOptions options;
    vprinter::PrinterServer& printer;
    const JobIndex& jobs;
    httplib::Server http;
    std::thread thread;
    vprinter::ListenAddress bound;

    Impl(WebOptions o, vprinter::PrinterServer& p, const JobIndex& j) : options(std::move(o)), printer(p), jobs(j) {}

    PageContext context() const {
        PageContext c;
        c.states = printer.states();
        c.control = options.control;
        c.widthDots = vprinter::PaperDots(options.model);
        c.modelName = std::string(vprinter::ModelName(options.model));
        return c;
    }

    // The job of the path's first number; nothing (and 404) for a number that names none.
    std::shared_ptr<const ListedJob> job(const httplib::Request& req, httplib::Response& res) const {
        const std::optional<uint64_t> n = ReadNumber(req.matches[1].str());
        std::shared_ptr<const ListedJob> found = n ? jobs.find(*n) : nullptr;
        if (!found) Fail(res, 404, "no such job");
        return found;
    }

    void routes() {
        // On a loopback address, a request that names another host is another site's (DNS
        // rebinding): refused before any route.
        http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            if (!vprinter::IsLoopback(bound) || IsLoopbackHost(req.get_header_value("Host")))
                return httplib::Server::HandlerResponse::Unhandled;
            Fail(res, 403, "another host: ask for this server by a loopback address");
            return httplib::Server::HandlerResponse::Handled;
        });
        http.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
            std::string why;
            std::optional<PageQuery> q = ReadPageQuery(std::nullopt, Param(req, "before"), std::nullopt, &why);
            if (!q) return Fail(res, 400, why);
            ++q->limit;  // one more than shown: whether older jobs exist
            std::vector<std::shared_ptr<const ListedJob>> shown = jobs.page(*q);
            JobsPageSpan span{.first = !q->before, .older = shown.size() == q->limit};
            if (span.older) shown.pop_back();
            Page(res, JobsPage(shown, jobs.newest(), context(), span));
        });
        http.Get("/style.css", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(kWebStyle), "text/css; charset=utf-8");
        });
        http.Get("/live.js", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(kWebScript), "text/javascript; charset=utf-8");
        });
        http.Get(R"(/jobs/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
            const std::shared_ptr<const ListedJob> j = job(req, res);
            if (!j) return;
            ShownDecoding decoding;
            if (!j->folder.empty()) {
                if (const std::optional<std::string> bytes = ReadFile(fs::path(j->folder) / "bytes.bin")) {
                    decoding = DecodeForPage(std::vector<uint8_t>(bytes->begin(), bytes->end()));
                }
            }
            Page(res, JobPage(*j, decoding, context()));
        });
        http.Get("/api/jobs", [this](const httplib::Request& req, httplib::Response& res) {
            std::string why;
            const std::optional<PageQuery> q =
                ReadPageQuery(Param(req, "after"), Param(req, "before"), Param(req, "limit"), &why);
            if (!q) return Fail(res, 400, why);
            Json(res, 200, JobsJson(jobs.page(*q)));
        });
        http.Get(R"(/api/jobs/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
            if (const std::shared_ptr<const ListedJob> j = job(req, res)) Json(res, 200, j->record);
        });
        http.Get(R"(/api/jobs/(\d+)/bytes)", [this](const httplib::Request& req, httplib::Response& res) {
            const std::shared_ptr<const ListedJob> j = job(req, res);
            if (!j) return;
            const std::optional<std::string> bytes = j->folder.empty() ? std::nullopt
                                                                       : ReadFile(fs::path(j->folder) / "bytes.bin");
            if (!bytes) return Fail(res, 404, "the job's bytes were not saved");
            res.set_header("Content-Disposition",
                           "attachment; filename=\"job-" + jobs::JobFolderName(j->number) + ".bin\"");
            res.set_content(*bytes, "application/octet-stream");
        });
        http.Get(R"(/api/jobs/(\d+)/receipts/(\d+)\.png)", [this](const httplib::Request& req, httplib::Response& res) {
            const std::shared_ptr<const ListedJob> j = job(req, res);
            if (!j) return;
            const std::optional<uint64_t> k = ReadNumber(req.matches[2].str());
            std::optional<std::string> png;
            if (k && *k >= 1 && *k <= j->receipts && !j->folder.empty()) {
                png = ReadFile(fs::path(j->folder) / jobs::ReceiptFileName(*k));
            }
            if (!png) return Fail(res, 404, "no such receipt");
            res.set_content(*png, "image/png");
        });
        http.Get("/api/status", [this](const httplib::Request&, httplib::Response& res) {
            Json(res, 200, StatusJson(printer.states(), options.control));
        });
        http.Put("/api/status", [this](const httplib::Request& req, httplib::Response& res) {
            if (!options.control) return Fail(res, 403, "the state is shown only: serve with --http-control");
            const std::optional<std::string> origin =
                req.has_header("Origin") ? std::optional<std::string>(req.get_header_value("Origin")) : std::nullopt;
            if (!IsOwnOrigin(origin, req.get_header_value("Host"))) return Fail(res, 403, "another origin");
            if (!IsJsonContentType(req.get_header_value("Content-Type")))
                return Fail(res, 415, "the body must be application/json");
            std::string why;
            const std::optional<vprinter::States> states = ReadStateChange(req.body, printer.states(), &why);
            if (!states) return Fail(res, 400, why);
            printer.setStates(*states);
            Json(res, 200, StatusJson(printer.states(), options.control));
        });
        // What no route answered (404, 405, 413 from the library): a JSON reason.
        http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) return;
            Fail(res, res.status,
                 res.status == 413   ? "the body is over 4 KiB"
                 : res.status == 404 ? "not found"
                                     : "refused");
        });
    }
};

WebServer::WebServer(WebOptions options, vprinter::PrinterServer& printer, const JobIndex& jobs)
    : impl_(std::make_unique<Impl>(std::move(options), printer, jobs)) {}

WebServer::~WebServer() { stop(); }

bool WebServer::start(std::string* why) {
    Impl& m = *impl_;
    const unsigned threads = std::max(1u, m.options.threads);
    m.http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    m.http.set_payload_max_length(kMaxBodyBytes);
    m.http.set_read_timeout(kReadTimeoutSeconds, 0);
    m.http.set_write_timeout(kWriteTimeoutSeconds, 0);
    m.http.set_keep_alive_timeout(kKeepAliveSeconds);
    m.http.set_keep_alive_max_count(kKeepAliveRequests);
    m.routes();
    const std::string host = m.options.address.host.empty() ? "0.0.0.0" : m.options.address.host;
    errno = 0;
    int port = m.options.address.port;
    bool bound = false;
    if (port == 0) {
        port = m.http.bind_to_any_port(host);
        bound = port > 0;
    } else {
        bound = m.http.bind_to_port(host, port);
    }
    if (!bound) {
        const int error = errno;
        if (why) {
            *why = vprinter::ListenAddressText(m.options.address) + ": " +
                   (error != 0 ? std::string(std::strerror(error)) : std::string("cannot listen there"));
        }
        return false;
    }
    m.bound = m.options.address;
    m.bound.port = static_cast<uint16_t>(port);
    m.thread = std::thread([&m] { m.http.listen_after_bind(); });
    // stop() stops a server that is listening only: wait (bounded) until it is.
    for (int waited = 0; !m.http.is_running() && waited < kStartWaitMs; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void WebServer::stop() {
    Impl& m = *impl_;
    if (!m.thread.joinable()) return;
    m.http.stop();
    m.thread.join();
}

vprinter::ListenAddress WebServer::boundAddress() const { return impl_->bound; }

}  // namespace pellory::web
