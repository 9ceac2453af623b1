// The web server's bounds on what a client sends and how long it takes: a request's head and body
// are cut at their bound whatever their coding (431, 413), never read to their end; a request must
// come whole within its deadline (408); slow clients hold neither the page nor the interface; one
// client address holds a bounded number of connections; and the web address is the server's alone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/web_served.h"

namespace pellory::test {
namespace {

constexpr uint64_t kFlood = 64u << 20;  // far more than any bound, and than the sockets' buffers
constexpr int kSmallSendBuffer = 64 << 10;

// Sends text a byte at a time, gap apart: true when all of it went, false once the server answered
// or closed.
bool Trickle(WebPeer& peer, const std::string& text, std::chrono::milliseconds gap) {
    for (const char c : text) {
        if (!peer.send(std::string(1, c))) return false;
        std::this_thread::sleep_for(gap);
    }
    return true;
}

// A request whose head or body never ends (sent while the server reads) is answered at its bound
// and its connection closed: the sender cannot send the rest. On the view-only page, as ever.
TEST(WebBounds, RequestsOverTheirBoundAreCutThere) {
    ServedWeb served;
    const std::string host = "Host: 127.0.0.1\r\n";
    const std::string chunk = "1000\r\n" + std::string(4096, 'x') + "\r\n";
    struct Case {
        const char* what;
        std::string head;   // sent first
        std::string piece;  // then again and again, up to kFlood bytes
        int status;
        const char* says;  // part of the answer's reason
    };
    const Case cases[] = {
        {"a chunked PUT body",
         "PUT /api/status HTTP/1.1\r\n" + host + "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n",
         chunk, 413, "the body is over 4 KiB"},
        {"a chunked body on another route", "POST /api/jobs HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n",
         chunk, 413, "the body is over 8 KiB as sent"},
        {"a body announced over the bound",
         "PUT /api/status HTTP/1.1\r\n" + host +
             "Content-Type: application/json\r\nContent-Length: 10000000000\r\n\r\n",
         std::string(65536, '{'), 413, "the body is over 4 KiB"},
        {"headers without end", "GET /api/status HTTP/1.1\r\n" + host, "X-Fill: " + std::string(4000, 'h') + "\r\n",
         431, "the request line and headers are over 16 KiB"},
        {"a request line without end", "GET /", std::string(65536, 'a'), 431,
         "the request line and headers are over 16 KiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WebPeer peer(served.webPort(), "127.0.0.1", kSmallSendBuffer);
        ASSERT_TRUE(peer.ok());
        bool going = peer.send(c.head);
        while (going && peer.sent() < kFlood) going = peer.send(c.piece);
        EXPECT_LT(peer.sent(), kFlood) << "the server read it all";
        const std::string answer = peer.answer();
        EXPECT_EQ(AnswerStatus(answer), c.status) << answer.substr(0, 300);
        EXPECT_NE(AnswerBody(answer).find(c.says), std::string::npos) << answer.substr(0, 300);
        EXPECT_TRUE(peer.closedByServer());
    }
    EXPECT_EQ(served.rawGet("/api/status"), 200);
}

// A request that does not come whole within its deadline is answered 408 and its connection
// closed, however steadily its bytes come (here one every 100 ms, the deadline 1 s).
TEST(WebBounds, ARequestMustComeWithinItsDeadline) {
    WebSetup setup;
    setup.connections.requestDeadline = std::chrono::milliseconds(1000);
    ServedWeb served(setup);
    const std::string body = "{\"paper-end\":true}";
    struct Case {
        const char* what;
        std::string head;     // sent at once
        std::string trickle;  // then a byte every 100 ms
    };
    const Case cases[] = {
        {"its line and headers", "", "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"},
        {"its body",
         "PUT /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nConnection: close\r\n"
         "Content-Length: " +
             std::to_string(body.size()) + "\r\n\r\n",
         body},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WebPeer peer(served.webPort());
        ASSERT_TRUE(peer.ok());
        ASSERT_TRUE(peer.send(c.head));
        EXPECT_FALSE(Trickle(peer, c.trickle, std::chrono::milliseconds(100))) << "the whole request was read";
        const std::string answer = peer.answer();
        EXPECT_EQ(AnswerStatus(answer), 408) << answer;
        EXPECT_EQ(AnswerBody(answer), "{\"error\":\"the request did not come within 1 s\"}");
        EXPECT_TRUE(peer.closedByServer());
    }
    EXPECT_EQ(served.printer->states(), 0);
}

// Eight clients that send a byte every 300 ms hold threads of their own: the page, the jobs and the
// status are answered while every one of them is still being read (none cut by its deadline yet).
TEST(WebBounds, SlowClientsHoldNeitherThePageNorTheInterface) {
    ServedWeb served;
    ASSERT_EQ(served.print("\x1b@slow\n"), 1u);
    constexpr int kSlow = 8;
    std::atomic<int> begun{0};
    std::atomic<bool> answered{false}, done{false};
    std::atomic<int> cutBeforeAnswers{0};
    std::vector<std::thread> slow;
    for (int i = 0; i < kSlow; ++i) {
        slow.emplace_back([&] {
            WebPeer peer(served.webPort());
            const std::string request =
                "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(200, 's') + "\r\n\r\n";
            for (size_t k = 0; k < request.size() && !done; ++k) {
                if (!peer.send(request.substr(k, 1))) {
                    if (!answered) ++cutBeforeAnswers;
                    return;
                }
                if (k == 1) ++begun;
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
        });
    }
    EXPECT_TRUE(WaitUntil([&] { return begun == kSlow; }, 20000));
    auto client = served.client();
    std::vector<int> statuses;
    for (const char* path : {"/api/status", "/", "/api/jobs", "/jobs/1"}) {
        const httplib::Result r = client->Get(path);
        statuses.push_back(r ? r->status : -1);
    }
    answered = true;
    done = true;
    for (std::thread& t : slow) t.join();
    EXPECT_EQ(statuses, (std::vector<int>{200, 200, 200, 200}));
    EXPECT_EQ(cutBeforeAnswers.load(), 0);
}

// One client address holds at most maxPerAddress connections at once (here 2): its third is
// refused with 503 while another address is answered; once one closes, it is answered again.
TEST(WebBounds, OneAddressHoldsABoundedNumberOfConnections) {
    WebSetup setup;
    setup.connections.maxPerAddress = 2;
    setup.connections.idleWait = std::chrono::milliseconds(30000);  // kept alive through the test
    ServedWeb served(setup);
    const std::string request = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const std::string end = "\"control\":false}";
    auto first = std::make_unique<WebPeer>(served.webPort(), "127.0.0.2");
    WebPeer second(served.webPort(), "127.0.0.2");
    for (WebPeer* held : {first.get(), &second}) {
        ASSERT_TRUE(held->send(request));
        ASSERT_EQ(AnswerStatus(held->waitFor(end)), 200);
    }
    struct Case {
        const char* from;
        int status;
    };
    for (const Case& c : {Case{"127.0.0.2", 503}, Case{"127.0.0.3", 200}}) {
        SCOPED_TRACE(c.from);
        WebPeer peer(served.webPort(), c.from);
        peer.send(request);  // the refusal may come before
        const std::string answer = peer.waitFor(c.status == 503 ? "}" : end);
        EXPECT_EQ(AnswerStatus(answer), c.status) << answer;
        if (c.status == 503) {
            EXPECT_EQ(AnswerBody(answer), "{\"error\":\"too many connections from 127.0.0.2 (at most 2 at once)\"}");
        }
    }
    first.reset();
    EXPECT_TRUE(WaitUntil(
        [&] {
            WebPeer again(served.webPort(), "127.0.0.2");
            return again.send(request) && AnswerStatus(again.waitFor(end, 2000)) == 200;
        },
        10000));
}

// A second web server cannot take the address of the first (as a second printer server cannot
// take a --listen address): it fails with the system's reason.
TEST(WebBounds, TheWebAddressIsTheServersAlone) {
    ServedWeb served;
    web::WebOptions options;
    options.address = {"127.0.0.1", served.webPort()};
    web::WebServer second(options, *served.printer, served.index);
    std::string why;
    EXPECT_FALSE(second.start(&why));
    EXPECT_EQ(why, "127.0.0.1:" + std::to_string(served.webPort()) + ": Address already in use");
    EXPECT_EQ(served.rawGet("/api/status"), 200);
}

}  // namespace
}  // namespace pellory::test
