#include "web/web_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "jobs/job_folder.h"
#include "jobs/json_text.h"
#include "platform/sockets.h"
#include "platform/thread_annotations.h"
#include "web/guarded_server.h"
#include "web/host_names.h"
#include "web/job_files.h"
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

constexpr int kStartWaitMs = 5000;
// A file answered is read in pieces of this size as the client takes them.
constexpr size_t kFilePiece = 64u << 10;
// The longest an answer waits for its turn to be built before it looks at the stop flag again.
constexpr auto kGateStep = std::chrono::milliseconds(100);

void Json(httplib::Response& res, int status, const std::string& json) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(json, "application/json");
}

void Fail(httplib::Response& res, int status, const std::string& why) {
    Json(res, status, "{\"error\":" + jobs::JsonString(why) + "}");
}

// A refusal of a request whose body is not read: its connection closes after the answer.
void Refuse(httplib::Response& res, int status, const std::string& why) {
    GuardedServer::CloseAfterAnswer();
    Fail(res, status, why);
}

void Page(httplib::Response& res, const std::string& html) {
    res.set_header("Content-Security-Policy", kPagePolicy);
    res.set_header("Cache-Control", "no-store");
    res.set_content(html, "text/html; charset=utf-8");
}

// Answers a file, read in pieces as the client takes them (never whole in memory); false when it
// cannot be opened.
bool SendFile(httplib::Response& res, const fs::path& path, const char* type) {
    auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error || !*in) return false;
    res.set_content_provider(static_cast<size_t>(size), type,
                             [in](size_t offset, size_t length, httplib::DataSink& sink) {
                                 std::vector<char> piece(std::min(length, kFilePiece));
                                 in->clear();
                                 in->seekg(static_cast<std::streamoff>(offset));
                                 in->read(piece.data(), static_cast<std::streamsize>(piece.size()));
                                 const std::streamsize n = in->gcount();
                                 return n > 0 && sink.write(piece.data(), static_cast<size_t>(n));
                             });
    return true;
}

std::optional<std::string> Param(const httplib::Request& req, const char* name) {
    if (!req.has_param(name)) return std::nullopt;
    return req.get_param_value(name);
}

// Lets at most n answers be built at once.
class AnswerGate {
public:
    explicit AnswerGate(unsigned n) : free_(std::max(1u, n)) {}
    // Waits for a turn, in bounded steps; false once stopping is set.
    bool enter(const std::atomic<bool>& stopping) {
        platform::MutexLock lock(mutex_);
        while (free_ == 0) {
            if (stopping) return false;
            freed_.wait_for(lock.native(), kGateStep);
        }
        --free_;
        return true;
    }
    void leave() {
        {
            platform::MutexLock lock(mutex_);
            ++free_;
        }
        freed_.notify_one();
    }

private:
    platform::Mutex mutex_;
    std::condition_variable freed_;
    unsigned free_ GUARDED_BY(mutex_);
};

}  // namespace

struct WebServer::Impl {
    WebOptions options;
    vprinter::PrinterServer& printer;
    const JobIndex& jobs;
    GuardedServer http;
    HostNames hosts;
    AnswerGate gate;
    std::atomic<bool> stopping{false};
    std::thread thread;
    vprinter::ListenAddress bound;

    Impl(WebOptions o, vprinter::PrinterServer& p, const JobIndex& j)
        : options(std::move(o)),
          printer(p),
          jobs(j),
          http(options.connections),
          hosts(options.address, options.hosts),
          gate(options.threads) {}

    PageContext context() const {
        PageContext c;
        c.states = printer.states();
        c.control = options.control;
        c.model = options.model;
        return c;
    }

    // The job of the path's first number; nothing (and 404) for a number that names none.
    std::shared_ptr<const ListedJob> job(const httplib::Request& req, httplib::Response& res) const {
        const std::optional<uint64_t> n = ReadNumber(req.matches[1].str());
        std::shared_ptr<const ListedJob> found = n ? jobs.find(*n) : nullptr;
        if (!found) Fail(res, 404, "no such job");
        return found;
    }

    // A handler run in its turn (see AnswerGate), after its query is checked.
    httplib::Server::Handler answer(std::vector<std::string_view> known,
                                    std::function<void(const httplib::Request&, httplib::Response&)> build) {
        return [this, known = std::move(known), build = std::move(build)](const httplib::Request& req,
                                                                          httplib::Response& res) {
            std::vector<std::string> names;
            for (const auto& [name, value] : req.params) names.push_back(name);
            std::string why;
            if (!QueryNamesKnown(names, known, &why)) return Fail(res, 400, why);
            if (!gate.enter(stopping)) return Fail(res, 503, "the server is stopping");
            struct Turn {
                AnswerGate& gate;
                ~Turn() { gate.leave(); }
            } turn{gate};
            build(req, res);
        };
    }

    // Before any route: the Host header, and a body announced over the bound.
    httplib::Server::HandlerResponse check(const httplib::Request& req, httplib::Response& res) const {
        std::vector<std::string> names;
        for (size_t i = 0, n = req.get_header_value_count("Host"); i < n; ++i)
            names.push_back(req.get_header_value("Host", i));
        if (const std::optional<HostRefusal> refusal = hosts.refusal(names)) {
            Fail(res, refusal->status, refusal->why);
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.has_header("Content-Length")) {
            const std::optional<uint64_t> length = ReadNumber(req.get_header_value("Content-Length"));
            if (!length || *length > kMaxBodyBytes) {
                Fail(res, length ? 413 : 400, length ? "the body is over 4 KiB" : "Content-Length is not a number");
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        return httplib::Server::HandlerResponse::Unhandled;
    }

    // PUT /api/status: its body is read first (within the bound, whatever the options), then judged.
    void putStatus(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& read) {
        std::string body;
        bool over = false;
        if (req.has_header("Content-Length") || req.has_header("Transfer-Encoding")) {
            const bool whole = read([&](const char* data, size_t n) {
                over = body.size() + n > kMaxBodyBytes;
                if (!over) body.append(data, n);
                return !over;
            });
            if (over) return Refuse(res, 413, "the body is over 4 KiB");
            if (!whole) return Refuse(res, 400, "the body could not be read");
        }
        std::vector<std::string> names;
        for (const auto& [name, value] : req.params) names.push_back(name);
        std::string why;
        if (!QueryNamesKnown(names, {}, &why)) return Fail(res, 400, why);
        if (!options.control) return Fail(res, 403, "the state is shown only: serve with --http-control");
        const std::optional<std::string> origin =
            req.has_header("Origin") ? std::optional<std::string>(req.get_header_value("Origin")) : std::nullopt;
        if (!IsOwnOrigin(origin, req.get_header_value("Host"))) return Fail(res, 403, "another origin");
        if (!IsJsonContentType(req.get_header_value("Content-Type")))
            return Fail(res, 415, "the body must be application/json");
        if (!gate.enter(stopping)) return Fail(res, 503, "the server is stopping");
        const std::optional<vprinter::States> states = ReadStateChange(body, printer.states(), &why);
        if (states) printer.setStates(*states);
        gate.leave();
        if (!states) return Fail(res, 400, why);
        Json(res, 200, StatusJson(printer.states(), options.control));
    }

    void routes() {
        http.setRequestCheck([this](const httplib::Request& req, httplib::Response& res) { return check(req, res); });
        http.Get("/", answer({"before"}, [this](const httplib::Request& req, httplib::Response& res) {
                     std::string why;
                     std::optional<PageQuery> q = ReadPageQuery(std::nullopt, Param(req, "before"), std::nullopt, &why);
                     if (!q) return Fail(res, 400, why);
                     ++q->limit;  // one more than shown: whether older jobs exist
                     std::vector<std::shared_ptr<const ListedJob>> shown = jobs.page(*q);
                     JobsPageSpan span{.first = !q->before, .older = shown.size() == q->limit};
                     if (span.older) shown.pop_back();
                     Page(res, JobsPage(shown, jobs.newest(), context(), span));
                 }));
        http.Get("/style.css", answer({}, [](const httplib::Request&, httplib::Response& res) {
                     res.set_content(std::string(kWebStyle), "text/css; charset=utf-8");
                 }));
        http.Get("/live.js", answer({}, [](const httplib::Request&, httplib::Response& res) {
                     res.set_content(std::string(kWebScript), "text/javascript; charset=utf-8");
                 }));
        http.Get(R"(/jobs/(\d+))", answer({}, [this](const httplib::Request& req, httplib::Response& res) {
                     if (const std::shared_ptr<const ListedJob> j = job(req, res))
                         Page(res, JobPage(*j, ReadDecoding(j->folder), context()));
                 }));
        http.Get("/api/jobs",
                 answer({"after", "before", "limit"}, [this](const httplib::Request& req, httplib::Response& res) {
                     std::string why;
                     const std::optional<PageQuery> q =
                         ReadPageQuery(Param(req, "after"), Param(req, "before"), Param(req, "limit"), &why);
                     if (!q) return Fail(res, 400, why);
                     Json(res, 200, JobsJson(jobs.page(*q)));
                 }));
        http.Get(R"(/api/jobs/(\d+))", answer({}, [this](const httplib::Request& req, httplib::Response& res) {
                     if (const std::shared_ptr<const ListedJob> j = job(req, res)) Json(res, 200, WholeRecord(*j));
                 }));
        http.Get(
            R"(/api/jobs/(\d+)/bytes)", answer({}, [this](const httplib::Request& req, httplib::Response& res) {
                const std::shared_ptr<const ListedJob> j = job(req, res);
                if (!j) return;
                if (j->folder.empty() || !SendFile(res, fs::path(j->folder) / "bytes.bin", "application/octet-stream"))
                    return Fail(res, 404, "the job's bytes were not saved");
                res.set_header("Content-Disposition",
                               "attachment; filename=\"job-" + jobs::JobFolderName(j->number) + ".bin\"");
            }));
        http.Get(R"(/api/jobs/(\d+)/decoding)", answer({}, [this](const httplib::Request& req, httplib::Response& res) {
                     const std::shared_ptr<const ListedJob> j = job(req, res);
                     if (!j) return;
                     if (j->folder.empty() ||
                         !SendFile(res, fs::path(j->folder) / "decoding.txt", "text/plain; charset=utf-8"))
                         return Fail(res, 404, "the job's decoding was not saved");
                 }));
        http.Get(R"(/api/jobs/(\d+)/receipts/(\d+)\.png)",
                 answer({}, [this](const httplib::Request& req, httplib::Response& res) {
                     const std::shared_ptr<const ListedJob> j = job(req, res);
                     if (!j) return;
                     const std::optional<uint64_t> k = ReadNumber(req.matches[2].str());
                     if (!k || *k < 1 || *k > j->receipts || j->folder.empty() ||
                         !SendFile(res, fs::path(j->folder) / jobs::ReceiptFileName(*k), "image/png"))
                         return Fail(res, 404, "no such receipt");
                 }));
        http.Get("/api/status", answer({}, [this](const httplib::Request&, httplib::Response& res) {
                     Json(res, 200, StatusJson(printer.states(), options.control));
                 }));
        http.Put("/api/status", [this](const httplib::Request& req, httplib::Response& res,
                                       const httplib::ContentReader& read) { putStatus(req, res, read); });
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
    m.http.set_payload_max_length(kMaxBodyBytes);
    // The address is this server's alone (platform::KeepAddressOwn), never SO_REUSEPORT, which
    // would let a second server share it.
    m.http.set_socket_options(
        [](socket_t sock) { platform::KeepAddressOwn(static_cast<platform::SocketHandle>(sock)); });
    m.routes();
    const std::string host = m.options.address.host.empty() ? "0.0.0.0" : m.options.address.host;
    platform::ClearSocketError();
    int port = m.options.address.port;
    bool bound = false;
    if (port == 0) {
        port = m.http.bind_to_any_port(host);
        bound = port > 0;
    } else {
        bound = m.http.bind_to_port(host, port);
    }
    if (!bound) {
        const int error = platform::LastSocketError();
        if (why) {
            *why = vprinter::ListenAddressText(m.options.address) + ": " +
                   (error != 0 ? platform::SocketErrorText(error) : std::string("cannot listen there"));
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
    m.stopping = true;
    m.http.beginStop();
    m.http.stop();
    m.thread.join();
}

vprinter::ListenAddress WebServer::boundAddress() const { return impl_->bound; }

}  // namespace pellory::web
