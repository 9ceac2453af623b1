// The web interface of the printer server: every route answers what the job folder holds, pages
// of /api/jobs, 404 for every path that is not a job's number (traversal attempts included), the
// state changed by PUT only with control, JSON, the page's own origin and a small body, every job
// text escaped in the pages, and the printer serving its connections in full while the web side
// is flooded.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/web_served.h"
#include "vprinter/printer_state.h"

namespace pellory::test {
namespace {

constexpr const char* kReceipt = "\x1b@Pellory\nTotal 12.50\n\x1dV\x00";
constexpr const char* kHostile = "\x1b@<script>alert(1)</script>\n\x1dV\x00";

// The job numbers of a page of /api/jobs, in its order.
std::vector<int64_t> Numbers(const std::string& json) {
    std::vector<int64_t> numbers;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    EXPECT_TRUE(doc.isObject()) << json;
    for (const QJsonValue v : doc.object().value(QStringLiteral("jobs")).toArray()) {
        numbers.push_back(static_cast<int64_t>(v.toObject().value(QStringLiteral("number")).toDouble(-1)));
    }
    return numbers;
}

QJsonObject Object(const std::string& json) {
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    EXPECT_TRUE(doc.isObject()) << json;
    return doc.object();
}

// Every route against two printed jobs: its status, its type and its body as the job folder holds it.
TEST(WebServer, EveryRouteAnswersWhatTheJobFolderHolds) {
    ServedWeb served;
    ASSERT_EQ(served.print(kReceipt), 1u);
    ASSERT_EQ(served.print(std::string(kReceipt) + kReceipt), 2u);
    const JobFolder one = served.job(1), two = served.job(2);
    ASSERT_EQ(two.Receipts().size(), 2u);
    struct Case {
        std::string path;
        const char* type;
        std::string body;       // the whole body; empty: see part
        std::string part = {};  // a part the body holds
    };
    const Case cases[] = {
        {"/api/jobs/1", "application/json", one.Read("job.json").substr(0, one.Read("job.json").size() - 1)},
        {"/api/jobs/2/receipts/2.png", "image/png", two.Read("receipt-02.png")},
        {"/api/jobs/1/receipts/1.png", "image/png", one.Read("receipt-01.png")},
        {"/api/jobs/2/bytes", "application/octet-stream", std::string(kReceipt) + kReceipt},
        {"/api/jobs", "application/json", "", "{\"jobs\":[{\"number\":2,"},
        {"/api/status", "application/json",
         "{\"state\":\"ready\",\"paper-near-end\":false,\"paper-end\":false,\"cover-open\":false,\"offline\":false,"
         "\"drawer-open\":false,\"cutter-error\":false,\"overheat\":false,\"error\":false,\"silent\":false,"
         "\"control\":false}"},
        {"/", "text/html; charset=utf-8", "", "<a href=\"/jobs/2\">Job 000002</a>"},
        {"/", "text/html; charset=utf-8", "", "<img src=\"/api/jobs/2/receipts/2.png\""},
        {"/jobs/2", "text/html; charset=utf-8", "", "<td>0000</td><td>1B 40</td><td>ESC @</td>"},
        {"/jobs/2", "text/html; charset=utf-8", "", "<a href=\"/api/jobs/2/bytes\" download=\"job-000002.bin\">"},
        {"/style.css", "text/css; charset=utf-8", "", ".p58 img { width: 48mm; }"},
        {"/live.js", "text/javascript; charset=utf-8", "", "/api/jobs?after="},
    };
    auto client = served.client();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const httplib::Result r = client->Get(c.path.c_str());
        ASSERT_TRUE(r) << httplib::to_string(r.error());
        EXPECT_EQ(r->status, 200);
        EXPECT_EQ(r->get_header_value("Content-Type"), c.type);
        if (!c.body.empty()) {
            EXPECT_EQ(r->body, c.body);
        }
        if (!c.part.empty()) {
            EXPECT_NE(r->body.find(c.part), std::string::npos) << r->body.substr(0, 2000);
        }
    }
    // The page lists the newest job first.
    const std::string page = client->Get("/")->body;
    EXPECT_LT(page.find("id=\"job-2\""), page.find("id=\"job-1\""));
}

// Pages of /api/jobs over seven jobs; a query that is not numbers, or asks for nothing, is refused.
TEST(WebServer, JobsComeInPages) {
    ServedWeb served(WebSetup{.earlierJobs = 7});
    ASSERT_EQ(served.index.size(), 7u);
    struct Case {
        const char* query;
        int status;
        std::vector<int64_t> numbers;
    };
    const Case cases[] = {
        {"", 200, {7, 6, 5, 4, 3, 2, 1}},
        {"?limit=3", 200, {7, 6, 5}},
        {"?before=5&limit=2", 200, {4, 3}},
        {"?before=1", 200, {}},
        {"?after=5", 200, {6, 7}},
        {"?after=0&limit=2", 200, {1, 2}},
        {"?after=7", 200, {}},
        {"?limit=1000", 200, {7, 6, 5, 4, 3, 2, 1}},
        {"?limit=0", 400, {}},
        {"?limit=1001", 400, {}},
        {"?after=x", 400, {}},
        {"?after=-1", 400, {}},
        {"?before=1e3", 400, {}},
        {"?after=1&before=3", 400, {}},
        {"?after=%2e%2e", 400, {}},
    };
    auto client = served.client();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const httplib::Result r = client->Get((std::string("/api/jobs") + c.query).c_str());
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.status) << r->body;
        if (c.status == 200) {
            EXPECT_EQ(Numbers(r->body), c.numbers) << r->body;
        }
    }
}

// The page "/" shows the newest 50 jobs and links to the older ones; an older page shows the next
// ones, links back and takes no new jobs.
TEST(WebServer, TheJobsPageLinksToOlderJobs) {
    ServedWeb served(WebSetup{.earlierJobs = 53});
    struct Case {
        const char* path;
        int status;
        int newestShown, oldestShown;              // job numbers; 0: none
        std::vector<std::string> holds, holdsNot;  // parts of the page
    };
    const Case cases[] = {
        {"/", 200, 53, 4, {"<a href=\"/?before=4\">Older jobs</a>"}, {"Newest jobs", "data-live"}},
        {"/?before=4", 200, 3, 1, {"<a href=\"/\">Newest jobs</a>", "data-live=\"0\""}, {"Older jobs"}},
        {"/?before=52", 200, 51, 2, {"Newest jobs", "<a href=\"/?before=2\">Older jobs</a>"}, {}},
        {"/?before=1", 200, 0, 0, {"Newest jobs"}, {"Older jobs", "id=\"job-"}},
        {"/?before=x", 400, 0, 0, {}, {}},
    };
    auto client = served.client();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const httplib::Result r = client->Get(c.path);
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, c.status) << r->body;
        for (const std::string& part : c.holds) EXPECT_NE(r->body.find(part), std::string::npos) << part;
        for (const std::string& part : c.holdsNot) EXPECT_EQ(r->body.find(part), std::string::npos) << part;
        if (c.newestShown == 0) continue;
        const std::string first = "id=\"job-" + std::to_string(c.newestShown) + "\"";
        const std::string last = "id=\"job-" + std::to_string(c.oldestShown) + "\"";
        EXPECT_NE(r->body.find(first), std::string::npos);
        EXPECT_NE(r->body.find(last), std::string::npos);
        EXPECT_EQ(r->body.find("id=\"job-" + std::to_string(c.newestShown + 1) + "\""), std::string::npos);
        EXPECT_EQ(r->body.find("id=\"job-" + std::to_string(c.oldestShown - 1) + "\""), std::string::npos);
    }
}

// Only a job's number (and a receipt's) reaches a file; every other path is 404 and shows nothing
// of the machine's files, however it is written.
TEST(WebServer, EveryOtherPathIsNotFound) {
    ServedWeb served;
    ASSERT_EQ(served.print(kReceipt), 1u);
    const char* paths[] = {
        "/api/jobs/../../etc/passwd",
        "/api/jobs/%2e%2e/%2e%2e/etc/passwd",
        "/api/jobs/%2E%2E%2F%2E%2E%2Fetc%2Fpasswd",
        "/api/jobs/1/../../../../etc/passwd",
        "/api/jobs/1/receipts/..%2f..%2f..%2fetc%2fpasswd",
        "/api/jobs/1/receipts/%2e%2e%2fbytes.bin",
        "/api/jobs/1/receipts/decoding.txt",
        "/api/jobs/1/receipts/..%2f..%2f..%2f..%2f..%2f..%2f..%2f..%2f..%2f..%2f..%2f..%2f..%2f..%2fetc%2fpasswd",
        "/jobs/..%2f..%2fetc%2fpasswd",
        "/etc/passwd",
        "/api/jobs/2",
        "/api/jobs/0",
        "/api/jobs/1x",
        "/api/jobs/-1",
        "/api/jobs/1/receipts/0.png",
        "/api/jobs/1/receipts/2.png",
        "/api/jobs/1/receipts/1.PNG",
        "/api/jobs/1/receipts/1",
        "/api/jobs/1/decoding.txt",
        "/api/jobs/1/job.json",
        "/jobs/1234567890123456789",
        "/jobs/000001.tmp",
        "/style.css/../live.js",
    };
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        std::string answer;
        EXPECT_EQ(served.rawGet(path, &answer), 404) << answer;
        EXPECT_EQ(answer.find("root:"), std::string::npos);
        EXPECT_EQ(answer.find("Pellory"), std::string::npos) << "a job's bytes were sent";
    }
}

// PUT /api/status changes the state only with control, from the page's own origin (or none), as
// JSON, within 4 KiB, and only with true or false for state names.
TEST(WebServer, StateChangesOnlyAsAllowed) {
    struct Case {
        const char* what;
        bool control;
        const char* contentType;  // null: none
        const char* origin;       // null: none; "own": the server's own
        std::string body;
        int status;
        vprinter::States after;
    };
    const std::string big = "{\"paper-end\":true" + std::string(4100, ' ') + "}";
    const Case cases[] = {
        {"no control", false, "application/json", nullptr, "{\"paper-end\":true}", 403, 0},
        {"set", true, "application/json", nullptr, "{\"paper-end\":true}", 200, vprinter::kPaperEnd},
        {"several", true, "application/json; charset=utf-8", nullptr, "{\"offline\":true,\"cover-open\":true}", 200,
         vprinter::kOffline | vprinter::kCoverOpen},
        {"own origin", true, "application/json", "own", "{\"silent\":true}", 200, vprinter::kSilent},
        {"another origin", true, "application/json", "http://evil.example", "{\"paper-end\":true}", 403, 0},
        {"null origin", true, "application/json", "null", "{\"paper-end\":true}", 403, 0},
        {"text", true, "text/plain", nullptr, "{\"paper-end\":true}", 415, 0},
        {"form", true, "application/x-www-form-urlencoded", nullptr, "{\"paper-end\":true}", 415, 0},
        {"no type", true, nullptr, nullptr, "{\"paper-end\":true}", 415, 0},
        {"over 4 KiB", true, "application/json", nullptr, big, 413, 0},
        {"not a state", true, "application/json", nullptr, "{\"paper-out\":true}", 400, 0},
        {"not a boolean", true, "application/json", nullptr, "{\"paper-end\":1}", 400, 0},
        {"not an object", true, "application/json", nullptr, "[\"paper-end\"]", 400, 0},
        {"not JSON", true, "application/json", nullptr, "paper-end", 400, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServedWeb served(WebSetup{.control = c.control});
        auto client = served.client();
        httplib::Headers headers;
        const std::string own = "http://127.0.0.1:" + std::to_string(served.webPort());
        if (c.origin) headers.emplace("Origin", std::string(c.origin) == "own" ? own : c.origin);
        if (c.contentType) headers.emplace("Content-Type", c.contentType);
        // The body and its type as given (the client adds no type of its own to a raw request).
        std::string request = "PUT /api/status HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(served.webPort()) +
                              "\r\nConnection: close\r\nContent-Length: " + std::to_string(c.body.size()) + "\r\n";
        for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
        const std::string answer = served.raw(request + "\r\n" + c.body);
        EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 " + std::to_string(c.status)) << answer;
        EXPECT_EQ(served.printer->states(), c.after);
        const httplib::Result status = client->Get("/api/status");
        ASSERT_TRUE(status);
        EXPECT_EQ(Object(status->body).value(QStringLiteral("state")).toString().toStdString(),
                  vprinter::StatesText(c.after));
    }
}

// On a loopback address only requests that name a loopback host are answered: a page of another
// site whose name points at 127.0.0.1 (DNS rebinding) reads nothing and changes nothing, even
// with an Origin that matches its Host.
TEST(WebServer, RequestsNamingAnotherHostAreRefused) {
    ServedWeb served(WebSetup{.control = true});
    const std::string port = std::to_string(served.webPort());
    struct Case {
        std::string host;  // empty: no Host header
        int status;
    };
    const Case cases[] = {
        {"127.0.0.1:" + port, 200},
        {"127.0.0.1", 200},
        {"localhost:" + port, 200},
        {"LocalHost", 200},
        {"[::1]:" + port, 200},
        {"127.9.8.7:" + port, 200},
        {"evil.example:" + port, 403},
        {"127.0.0.1.evil.example", 403},
        {"10.0.0.1:" + port, 403},
        {"127.0.0.1:x", 403},
        {"[::1", 403},
        {"", 400},  // no Host header: "a Host header is needed"
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        const std::string host = c.host.empty() ? "" : "Host: " + c.host + "\r\n";
        const std::string get = served.raw("GET /api/jobs HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n");
        EXPECT_EQ(get.substr(0, 12), "HTTP/1.1 " + std::to_string(c.status)) << get;
        const std::string body = "{\"paper-end\":true}";
        const std::string put = served.raw("PUT /api/status HTTP/1.1\r\n" + host + "Origin: http://" + c.host +
                                           "\r\nContent-Type: application/json\r\nConnection: close\r\n"
                                           "Content-Length: " +
                                           std::to_string(body.size()) + "\r\n\r\n" + body);
        EXPECT_EQ(put.substr(0, 12), "HTTP/1.1 " + std::to_string(c.status)) << put;
        EXPECT_EQ(served.printer->states(), c.status == 200 ? vprinter::kPaperEnd : 0);
        served.printer->setStates(0);
    }
}

// A job's text, and a source from an earlier run's record, are shown as text in every page and
// record, never as markup.
TEST(WebServer, JobTextIsEscapedEverywhere) {
    const std::string source = "tcp:<img src=x onerror=alert(2)>";
    ServedWeb served(WebSetup{.earlierJobs = 1, .earlierSource = source});
    ASSERT_EQ(served.print(kHostile), 2u);
    auto client = served.client();
    for (const char* path : {"/", "/jobs/1", "/jobs/2"}) {
        SCOPED_TRACE(path);
        const std::string body = client->Get(path)->body;
        EXPECT_EQ(body.find("<script>alert"), std::string::npos);
        EXPECT_EQ(body.find("<img src=x"), std::string::npos);
    }
    EXPECT_NE(client->Get("/jobs/2")->body.find("&quot;&lt;script&gt;alert(1)&lt;/script&gt;&quot;"),
              std::string::npos);
    EXPECT_NE(client->Get("/")->body.find("tcp:&lt;img src=x onerror=alert(2)&gt;"), std::string::npos);
    const QJsonObject record = Object(client->Get("/api/jobs/1")->body);
    EXPECT_EQ(record.value(QStringLiteral("source")).toString().toStdString(), source);
}

// 1,000 requests from four clients while 16 connections print: every request answered, every job
// complete, its bytes as sent, and the status requests inside each job answered.
TEST(WebServer, PrintersAreServedInFullWhileTheWebIsFlooded) {
    ServedWeb served(WebSetup{.earlierJobs = 60});
    constexpr int kPrinters = 16;
    constexpr int kRequests = 1000;
    constexpr int kClients = 4;
    std::vector<std::string> streams;
    for (int i = 0; i < kPrinters; ++i) {
        std::string s = "\x1b@";
        for (int line = 0; line < 400; ++line)
            s += "printer " + std::to_string(i) + " line " + std::to_string(line) + "\n";
        streams.push_back(s + "\x1dV\x00");
    }
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            auto client = served.client();
            const char* paths[] = {"/",       "/api/jobs?limit=50",        "/api/status", "/api/jobs/3",
                                   "/jobs/5", "/api/jobs/7/receipts/1.png"};
            for (int i = 0; i < kRequests / kClients; ++i) {
                const httplib::Result r = client->Get(paths[(i + c) % std::size(paths)]);
                if (r && r->status == 200) ++answered;
            }
        });
    }
    std::vector<std::thread> printers;
    std::atomic<int> statusAnswers{0};
    for (int i = 0; i < kPrinters; ++i) {
        printers.emplace_back([&, i] {
            PeerSocket peer("127.0.0.1", served.printerPort());
            const std::string& s = streams[static_cast<size_t>(i)];
            const std::string half = s.substr(0, s.size() / 2), rest = s.substr(s.size() / 2);
            if (!peer.send(Bytes(half.begin(), half.end()))) return;
            if (!peer.send(HexBytes("10 04 01"))) return;
            if (peer.read(1, 10000).size() == 1) ++statusAnswers;
            peer.send(Bytes(rest.begin(), rest.end()));
        });
    }
    for (std::thread& t : printers) t.join();
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(answered.load(), kRequests);
    EXPECT_EQ(statusAnswers.load(), kPrinters);
    ASSERT_TRUE(WaitUntil([&] { return served.index.size() == 60u + kPrinters; }, 60000)) << served.index.size();
    std::vector<std::string> kept;
    for (uint64_t n = 61; n <= 60 + kPrinters; ++n) {
        const JobFolder job = served.job(n);
        EXPECT_EQ(Text(job.Record(), "ended"), "closed") << n;
        std::string bytes = job.Read("bytes.bin");
        const size_t status = bytes.find("\x10\x04\x01");
        ASSERT_NE(status, std::string::npos) << n;
        kept.push_back(bytes.erase(status, 3));
    }
    std::sort(kept.begin(), kept.end());
    std::vector<std::string> sent = streams;
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(kept, sent);
}

}  // namespace
}  // namespace pellory::test
