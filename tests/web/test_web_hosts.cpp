// Which requests the web server answers by their Host header and their query: one Host header, of
// a name of this machine or of --http-host, with a port that can exist, also where others can
// reach the server and the page may change the state; a query of the names its route knows only,
// each once.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "support/web_served.h"
#include "vprinter/printer_state.h"

namespace pellory::test {
namespace {

// An IPv4 address of this machine's interfaces that is not loopback, if it has one.
std::optional<std::string> OutwardAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return std::nullopt;
    std::optional<std::string> found;
    for (const ifaddrs* i = list; i && !found; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        const in_addr a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr;
        if ((ntohl(a.s_addr) >> 24) == 127) continue;
        char text[INET_ADDRSTRLEN];
        if (::inet_ntop(AF_INET, &a, text, sizeof text)) found = text;
    }
    ::freeifaddrs(list);
    return found;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A request with these Host headers (none, one or several) and the rest of its head.
std::string Request(const std::string& line, const std::vector<std::string>& hosts, const std::string& rest = "") {
    std::string request = line + "\r\n";
    for (const std::string& host : hosts) request += "Host: " + host + "\r\n";
    return request + "Connection: close\r\n" + rest + "\r\n";
}

// Listening on every address with --http-control: a request is answered, and may change the
// state, only when its Host names this machine (a loopback name, its host name or an address of
// it) or a name of --http-host, with a port from 1 to 65535 if any. A page of another site whose
// name was made to point here (DNS rebinding) sends its own name as Host and as Origin: 403, and
// the state stays.
TEST(WebHosts, OnlyThisMachinesNamesAreAnswered) {
    ServedWeb served(WebSetup{.control = true, .webHost = "0.0.0.0", .hosts = {"printer.example"}});
    char name[256] = {};
    ASSERT_EQ(::gethostname(name, sizeof name - 1), 0);
    const std::string port = ":" + std::to_string(served.webPort());
    struct Case {
        std::string host;
        int status;
    };
    std::vector<Case> cases = {
        {"127.0.0.1" + port, 200},
        {"localhost", 200},
        {"[::1]" + port, 200},
        {name, 200},
        {Upper(name) + port, 200},
        {"printer.example" + port, 200},
        {"PRINTER.example.", 200},
        {"printer.example:65535", 200},
        {"evil.example" + port, 403},
        {"printer.example.evil.example" + port, 403},
        {"192.0.2.1" + port, 403},
        {"", 400},  // an empty Host header is none
        {"127.0.0.1:0", 403},
        {"127.0.0.1:65536", 403},
        {"localhost:", 403},
        {"localhost:http", 403},
        {"[::1]x", 403},
    };
    if (const std::optional<std::string> outward = OutwardAddress()) cases.push_back({*outward + port, 200});
    const std::string body = "{\"paper-end\":true}";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        const std::string get = served.raw(Request("GET /api/status HTTP/1.1", {c.host}));
        EXPECT_EQ(AnswerStatus(get), c.status) << get;
        const std::string put =
            served.raw(Request("PUT /api/status HTTP/1.1", {c.host},
                               "Origin: http://" + c.host + "\r\nContent-Type: application/json\r\nContent-Length: " +
                                   std::to_string(body.size()) + "\r\n") +
                       body);
        EXPECT_EQ(AnswerStatus(put), c.status) << put;
        EXPECT_EQ(served.printer->states(), c.status == 200 ? vprinter::kPaperEnd : 0);
        served.printer->setStates(0);
    }
}

// A request needs one Host header (HTTP/1.0 too): without one, or with two, it is 400, and says so.
TEST(WebHosts, AHostHeaderIsNeededOnce) {
    ServedWeb served;
    struct Case {
        std::string request;
        int status;
        std::string body;  // part of it
    };
    const Case cases[] = {
        {"GET /api/status HTTP/1.0\r\n\r\n", 400, "{\"error\":\"a Host header is needed\"}"},
        {Request("GET /api/status HTTP/1.1", {}), 400, "{\"error\":\"a Host header is needed\"}"},
        {Request("GET /api/status HTTP/1.1", {"127.0.0.1", "evil.example"}), 400,
         "{\"error\":\"more than one Host header\"}"},
        {Request("GET /api/status HTTP/1.1", {"127.0.0.1", "127.0.0.1"}), 400,
         "{\"error\":\"more than one Host header\"}"},
        {"GET /api/status HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", 200, "{\"state\":\"ready\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        const std::string answer = served.raw(c.request);
        EXPECT_EQ(AnswerStatus(answer), c.status) << answer;
        EXPECT_NE(AnswerBody(answer).find(c.body), std::string::npos) << answer;
    }
}

// A query holds only the names its route knows, each once: anything else is 400 with the reason.
TEST(WebHosts, AQueryHoldsOnlyTheNamesItsRouteKnows) {
    ServedWeb served(WebSetup{.control = true});
    ASSERT_EQ(served.print("\x1b@query\n\x1dV\x00"), 1u);
    struct Case {
        const char* path;
        int status;
        const char* why = "";
    };
    const Case cases[] = {
        {"/api/jobs?limit=5", 200},
        {"/api/jobs?after=0&limit=2", 200},
        {"/?before=3", 200},
        {"/api/jobs?foo=1", 400, "unknown query parameter \\\"foo\\\""},
        {"/api/jobs?limit=5&limit=6", 400, "\\\"limit\\\" is given twice"},
        {"/?after=1", 400, "unknown query parameter \\\"after\\\""},
        {"/api/status?x", 400, "unknown query parameter \\\"x\\\""},
        {"/jobs/1?raw=1", 400, "unknown query parameter \\\"raw\\\""},
        {"/api/jobs/1/receipts/1.png?size=2", 400, "unknown query parameter \\\"size\\\""},
        {"/style.css?v=2", 400, "unknown query parameter \\\"v\\\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string answer;
        EXPECT_EQ(served.rawGet(c.path, &answer), c.status) << answer;
        EXPECT_NE(AnswerBody(answer).find(c.why), std::string::npos) << answer;
    }
    const std::string body = "{\"paper-end\":true}";
    const std::string put = served.raw(
        Request("PUT /api/status?now=1 HTTP/1.1", {"127.0.0.1"},
                "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n") +
        body);
    EXPECT_EQ(AnswerStatus(put), 400) << put;
    EXPECT_EQ(served.printer->states(), 0);
}

}  // namespace
}  // namespace pellory::test
