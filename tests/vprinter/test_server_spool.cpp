// The printer server with a spool (ServerOptions::spool), over real sockets and a pseudo-terminal:
// every byte of a job goes to its spool before the server acts on it, the job keeps no copy, and a
// spool that fails fails its job, not its connection.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/raw_host.h"
#include "support/server_clients.h"
#include "vprinter/printer_server.h"

namespace pellory::vprinter {
namespace {

using test::Bytes;
using test::HexBytes;
using test::HexText;
using test::MemorySpool;
using test::ServedPrinter;

struct SpoolCase {
    const char* what;
    size_t maxJobBytes;
    size_t failPast;     // the spool fails past this many bytes of the job
    const char* sent;    // hex, in one write; then the host closes
    const char* answer;  // what it reads back
    JobEnd end;
    const char* reason;
    const char* spooled;  // hex: what the spool holds
};

const SpoolCase kSpoolCases[] = {
    {"kept in the spool", 16u << 20, SIZE_MAX, "1B 40 41 10 04 01 42 0A", "12", JobEnd::Closed, "",
     "1B 40 41 10 04 01 42 0A"},
    {"the spool fails", 16u << 20, 4, "41 42 43 44 45 46 10 04 01 47", "12", JobEnd::Failed, "No space left on device",
     "41 42 43 44"},
    {"over the limit", 6, SIZE_MAX, "41 42 43 10 04 01 44 45 46", "12", JobEnd::OverLimit, "more than 6 bytes",
     "41 42 43 10 04 01"},
};

// The job's bytes are in its spool, not in the job; answers, counts and limits are as without one.
TEST(ServerSpool, EveryByteOfTheJobGoesToItsSpool) {
    for (const SpoolCase& c : kSpoolCases) {
        SCOPED_TRACE(c.what);
        auto spool = std::make_shared<MemorySpool>();
        spool->failPast(c.failPast);
        ServerOptions o;
        o.spool = spool;
        o.maxJobBytes = c.maxJobBytes;
        ServedPrinter p(o);
        ASSERT_TRUE(p.started) << p.error;
        auto s = p.connect();
        const Bytes sent = HexBytes(c.sent);
        ASSERT_TRUE(s->send(sent));
        EXPECT_EQ(HexText(s->read(HexBytes(c.answer).size())), c.answer);
        s->shutdownWrite();
        EXPECT_TRUE(s->closedByServer(10000));
        ASSERT_TRUE(p.collector.waitFor(1));
        const FinishedJob job = p.collector.jobs().at(0);
        EXPECT_EQ(job.end, c.end);
        EXPECT_EQ(job.reason, c.reason);
        EXPECT_TRUE(job.bytes.empty());
        EXPECT_EQ(job.receivedBytes, sent.size());
        ASSERT_EQ(job.answers.size(), 1u);
        EXPECT_EQ(job.answers[0].request, "DLE 04 01");
        const auto spooled = spool->jobs();
        ASSERT_EQ(spooled.size(), 1u);
        EXPECT_EQ(spooled.begin()->first, job.number);
        EXPECT_EQ(spooled.begin()->second.source, job.source);
        EXPECT_TRUE(spooled.begin()->second.started == job.started);
        EXPECT_EQ(HexText(spooled.begin()->second.bytes), c.spooled);
        ASSERT_NE(job.spool, nullptr);
        EXPECT_EQ(job.spool->failure(), c.end == JobEnd::Failed ? c.reason : "");
    }
}

// An answer is sent only once every byte before its request is in the spool: with a spool that
// takes its time, the bytes are there when the answer arrives.
TEST(ServerSpool, AnAnswerLeavesOnlyOnceTheBytesBeforeItAreSpooled) {
    auto spool = std::make_shared<MemorySpool>();
    spool->slowAppends(std::chrono::milliseconds(300));
    ServerOptions o;
    o.spool = spool;
    ServedPrinter p(o);
    ASSERT_TRUE(p.started) << p.error;
    auto s = p.connect();
    ASSERT_TRUE(s->send(HexBytes("41 42 10 04 01")));
    EXPECT_EQ(HexText(s->read(1)), "12");
    EXPECT_EQ(HexText(spool->bytesOf(1)), "41 42 10 04 01");
    ASSERT_TRUE(s->send(HexBytes("43 1D 49 43")));
    EXPECT_EQ(HexText(s->read(8)), "5F 4F 52 56 41 38 30 00");
    EXPECT_EQ(HexText(spool->bytesOf(1)), "41 42 10 04 01 43 1D 49 43");
}

// A pseudo-terminal's job is spooled the same way, up to the silence that ends it.
TEST(ServerSpool, ALinesJobIsSpooled) {
    auto spool = std::make_shared<MemorySpool>();
    ServerOptions o;
    o.spool = spool;
    o.idleEnd = std::chrono::milliseconds(200);
    o.lines.push_back(LineEndpoint{LineEndpoint::Kind::Pty, ""});
    ServedPrinter p(o, false);
    ASSERT_TRUE(p.started) << p.error;
    test::RawHost host(p.server.ptyPaths().at(0));
    ASSERT_TRUE(host.open());
    ASSERT_TRUE(host.write(HexBytes("1B 40 41 10 04 01")));
    EXPECT_EQ(HexText(host.read(3000)), "12");
    ASSERT_TRUE(p.collector.waitFor(1));
    const FinishedJob job = p.collector.jobs().at(0);
    EXPECT_EQ(job.end, JobEnd::Idle);
    EXPECT_TRUE(job.bytes.empty());
    EXPECT_EQ(job.receivedBytes, 6u);
    EXPECT_EQ(job.source, "pty:" + p.server.ptyPaths().at(0));
    EXPECT_EQ(HexText(spool->bytesOf(job.number)), "1B 40 41 10 04 01");
}

}  // namespace
}  // namespace pellory::vprinter
