// The printer server over real sockets: jobs byte for byte from many clients at once, every
// answer, automatic status back, holding and release, the limits, and a client that misbehaves.
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

#include "support/server_clients.h"
#include "vprinter/printer_server.h"

namespace pellory::vprinter {
namespace {

using test::Bytes;
using test::HexBytes;
using test::PeerSocket;
using test::ServedPrinter;
using test::WaitUntil;

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(PELLORY_ESCPOS_CORPUS)) {
        if (e.is_regular_file() && e.path().extension() == ".bin") files.push_back(e.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string SourceOf(const PeerSocket& s) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&a), &len);
    return "tcp:127.0.0.1:" + std::to_string(ntohs(a.sin_port));
}

size_t OpenDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// Every corpus stream on a connection of its own, all at once (more clients than the server
// serves at once: the rest wait in the listen queue): each job holds exactly its stream's bytes.
TEST(PrinterServer, ConcurrentCorpusStreamsGiveTheirJobsByteForByte) {
    const std::vector<std::string> files = CorpusFiles();
    ASSERT_GE(files.size(), 20u) << PELLORY_ESCPOS_CORPUS;
    ServerOptions o;
    o.maxConnections = 8;
    ServedPrinter p(o);
    ASSERT_TRUE(p.started) << p.error;
    std::mutex m;
    std::map<std::string, Bytes> sent;  // by source
    std::vector<std::thread> clients;
    std::atomic<int> failures{0};
    for (const std::string& file : files) {
        clients.emplace_back([&, file] {
            const Bytes stream = ReadFile(file);
            PeerSocket s("127.0.0.1", p.port());
            if (!s.ok() || !s.send(stream)) {
                ++failures;
                return;
            }
            {
                std::lock_guard<std::mutex> lock(m);
                sent[SourceOf(s)] = stream;
            }
            s.shutdownWrite();
            s.closedByServer(100);  // the answers it got are not read
        });
    }
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_TRUE(p.collector.waitFor(files.size()));
    std::vector<uint64_t> numbers;
    for (const FinishedJob& job : p.collector.jobs()) {
        SCOPED_TRACE(job.source);
        ASSERT_EQ(sent.count(job.source), 1u);
        EXPECT_TRUE(job.bytes == sent[job.source]) << job.bytes.size() << " of " << sent[job.source].size();
        EXPECT_EQ(job.receivedBytes, job.bytes.size());
        EXPECT_EQ(job.end, JobEnd::Closed);
        numbers.push_back(job.number);
    }
    std::sort(numbers.begin(), numbers.end());
    for (size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], i + 1);
}

struct Exchange {
    const char* states;
    const char* request;  // hex, as a client sends it
    const char* answer;   // hex, what it reads back
};

const Exchange kExchanges[] = {
    // The handshake common drivers send before printing: initialise, select the printer, status.
    {"", "1B 40 1B 3D 01 10 04 01", "12"},
    {"paper-end", "10 04 01 10 04 02 10 04 03 10 04 04 10 04 05", "1A 32 12 72 04"},
    {"cover-open,cutter-error", "10 04 02 10 04 03 10 04 05", "56 1A 22"},
    {"paper-near-end,drawer-open", "1D 72 01 1D 72 02 1D 72 31 1D 72 32", "03 01 03 01"},
    {"", "1D 49 01 1D 49 02 1D 49 43", "20 02 5F 4F 52 56 41 38 30 00"},
    {"offline", "1D 61 02", "18 00 00 00"},
    {"", "1D 28 48 06 00 30 30 00 00 00 01 0A", "37 22 00 00 00 01 00"},
    {"", "10 14 08 01 03 14 01 06 02 08", "37 25 00"},
    // Inside a raster image's data the bytes of a request are data, not a request.
    {"", "1D 76 30 00 01 00 03 00 10 04 01 10 04 05", "00"},
    {"silent", "10 04 01 1D 49 43 1D 61 0F 10 04 05", ""},
};

TEST(PrinterServer, EveryAnswerByteExact) {
    for (const Exchange& x : kExchanges) {
        SCOPED_TRACE(std::string(x.request) + " in " + x.states);
        ServerOptions o;
        if (*x.states) o.states = ParseStates(x.states).value();
        ServedPrinter p(o);
        ASSERT_TRUE(p.started) << p.error;
        auto s = p.connect();
        ASSERT_TRUE(s->send(HexBytes(x.request)));
        const Bytes want = HexBytes(x.answer);
        EXPECT_EQ(test::HexText(s->read(want.size())), x.answer);
        EXPECT_TRUE(s->readQuiet(150).empty());  // nothing more
        s->close();
        ASSERT_TRUE(p.collector.waitFor(1));
        Bytes recorded;
        const std::vector<FinishedJob> jobs = p.collector.jobs();
        for (const SentAnswer& a : jobs.at(0).answers) recorded.insert(recorded.end(), a.bytes.begin(), a.bytes.end());
        EXPECT_EQ(test::HexText(recorded), x.answer);
    }
}

TEST(PrinterServer, AutomaticStatusBackOnEachChangeToThoseWhoAsked) {
    ServedPrinter p;
    ASSERT_TRUE(p.started) << p.error;
    auto asked = p.connect();
    auto other = p.connect();
    ASSERT_TRUE(asked->send(HexBytes("1D 61 0F")));
    ASSERT_TRUE(other->send(HexBytes("0A")));
    EXPECT_EQ(test::HexText(asked->read(4)), "10 00 00 00");
    p.server.set(kCoverOpen);
    EXPECT_EQ(test::HexText(asked->read(4)), "38 00 00 00");
    p.server.set(kDrawerOpen);
    EXPECT_EQ(test::HexText(asked->read(4)), "3C 00 00 00");
    p.server.setStates(0);
    EXPECT_EQ(test::HexText(asked->read(4)), "10 00 00 00");
    // A drawer pulse from another connection changes the shared state: the one that asked hears.
    ASSERT_TRUE(other->send(HexBytes("1B 70 00 19 FA")));
    EXPECT_EQ(test::HexText(asked->read(4)), "14 00 00 00");
    EXPECT_EQ(p.server.states(), kDrawerOpen);
    EXPECT_TRUE(other->readQuiet(150).empty());
}

// While the cover is open nothing prints, the bytes wait and the status requests are answered;
// once the hold buffer is full the sender's writes wait too; closing the cover prints all, in
// order, with the GS ( H answer after the bytes before it.
TEST(PrinterServer, HoldsWhileStoppedAndPrintsAllOnRelease) {
    ServerOptions o;
    o.states = kCoverOpen;
    o.holdBytes = 64 * 1024;
    o.maxJobBytes = 64u << 20;
    ServedPrinter p(o);
    std::mutex m;
    Bytes printed;
    p.server.stop();
    p.server.setPrintObserver([&](uint64_t, const uint8_t* b, size_t n) {
        std::lock_guard<std::mutex> lock(m);
        printed.insert(printed.end(), b, b + n);
    });
    ASSERT_TRUE(p.server.start(&p.error)) << p.error;
    auto s = p.connect();
    const Bytes head = HexBytes("41 42 10 04 02 1D 28 48 06 00 30 30 31 32 33 34");
    ASSERT_TRUE(s->send(head));
    EXPECT_EQ(test::HexText(s->read(1)), "16");
    EXPECT_TRUE(s->readQuiet(200).empty());  // GS ( H waits for printing
    // 32 MiB more: far past the hold buffer and what the sockets buffer.
    Bytes bulk(32u << 20, 'x');
    std::atomic<bool> sentAll{false};
    std::thread sender([&] { sentAll = s->send(bulk, 60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_FALSE(sentAll.load());
    {
        std::lock_guard<std::mutex> lock(m);
        EXPECT_TRUE(printed.empty());
    }
    p.server.clear(kCoverOpen);
    EXPECT_EQ(test::HexText(s->read(7)), "37 22 31 32 33 34 00");
    sender.join();
    EXPECT_TRUE(sentAll.load());
    s->close();
    ASSERT_TRUE(p.collector.waitFor(1));
    Bytes all = head;
    all.insert(all.end(), bulk.begin(), bulk.end());
    EXPECT_TRUE(p.collector.jobs().at(0).bytes == all);
    std::lock_guard<std::mutex> lock(m);
    EXPECT_TRUE(printed == all) << printed.size();
}

TEST(PrinterServer, JobOverTheLimitIsCutAndItsConnectionClosed) {
    ServerOptions o;
    o.maxJobBytes = 100000;
    ServedPrinter p(o);
    ASSERT_TRUE(p.started) << p.error;
    auto s = p.connect();
    Bytes stream(1u << 20);
    for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<uint8_t>('A' + i % 26);
    s->send(stream, 5000);  // ends early: the server closes
    EXPECT_TRUE(s->closedByServer(10000));
    ASSERT_TRUE(p.collector.waitFor(1));
    const FinishedJob job = p.collector.jobs().at(0);
    EXPECT_EQ(job.end, JobEnd::OverLimit);
    EXPECT_TRUE(job.bytes == Bytes(stream.begin(), stream.begin() + 100000));
    EXPECT_GT(job.receivedBytes, 100000u);
}

TEST(PrinterServer, SilentConnectionsCloseAndOnlyThoseThatSentLeaveAJob) {
    ServerOptions o;
    o.idleTimeout = std::chrono::milliseconds(300);
    const auto clock = std::make_shared<platform::ManualClock>();
    o.clock = clock;
    ServedPrinter p(o);
    ASSERT_TRUE(p.started) << p.error;
    auto talker = p.connect();
    auto mute = p.connect();
    ASSERT_TRUE(talker->send(HexBytes("41 42")));
    test::SettleAndAdvance(*clock, std::chrono::milliseconds(299));
    EXPECT_FALSE(mute->closedByServer(200)) << "closed before the idle time-out";
    clock->advance(std::chrono::milliseconds(1));
    EXPECT_TRUE(talker->closedByServer(10000));
    EXPECT_TRUE(mute->closedByServer(10000));
    ASSERT_TRUE(p.collector.waitFor(1));
    test::SettleAndAdvance(*clock, std::chrono::milliseconds(300));
    ASSERT_EQ(p.collector.count(), 1u);
    EXPECT_EQ(p.collector.jobs().at(0).end, JobEnd::Idle);
    EXPECT_EQ(test::HexText(p.collector.jobs().at(0).bytes), "41 42");
}

// A client that sends requests and never reads the answers stops only itself: the others are
// served meanwhile; it is closed once it has been silent for the idle time-out, however much of
// its answers waits.
TEST(PrinterServer, ClientThatNeverReadsDoesNotStallOthers) {
    ServerOptions o;
    o.idleTimeout = std::chrono::milliseconds(2000);
    const auto clock = std::make_shared<platform::ManualClock>();
    o.clock = clock;
    ServedPrinter p(o);
    ASSERT_TRUE(p.started) << p.error;
    auto deaf = p.connect(4096);
    Bytes requests;
    for (int i = 0; i < 100000; ++i) {
        const Bytes r = HexBytes("1D 49 42");  // 9 bytes of answer for 3 of request
        requests.insert(requests.end(), r.begin(), r.end());
    }
    std::atomic<bool> done{false};
    std::atomic<bool> blocked{false};
    std::thread flood([&] {
        while (!done.load()) {
            // Ends early once its answers fill the buffers and the server no longer reads it.
            if (!deaf->send(requests, 200)) blocked = true;
        }
    });
    EXPECT_TRUE(WaitUntil([&] { return blocked.load(); }, 20000));
    const Bytes receipt = HexBytes("1B 40 48 65 6C 6C 6F 0A 1D 56 00");
    for (int i = 0; i < 3; ++i) {
        auto s = p.connect();
        ASSERT_TRUE(s->send(receipt, 5000));
        ASSERT_TRUE(s->send(HexBytes("10 04 01"), 5000));
        EXPECT_EQ(test::HexText(s->read(1, 5000)), "12");
    }
    done = true;
    flood.join();
    EXPECT_TRUE(
        test::AdvanceUntil(*clock, std::chrono::milliseconds(500), [&] { return p.server.openConnections() == 0; }));
    ASSERT_TRUE(p.collector.waitFor(4));
    EXPECT_EQ(p.collector.jobs().back().end, JobEnd::Idle);
    deaf->close();
}

// Connections opened and dropped (a port scanner, a health check) leave no job and nothing open.
TEST(PrinterServer, ManyConnectionsOpenedAndDroppedLeaveNothing) {
    ServedPrinter p;
    ASSERT_TRUE(p.started) << p.error;
    const size_t before = OpenDescriptors();
    for (int i = 0; i < 200; ++i) {
        PeerSocket s("127.0.0.1", p.port());
        ASSERT_TRUE(s.ok());
        if (i % 2) {
            linger l{1, 0};  // closed with a reset
            ::setsockopt(s.fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
    }
    EXPECT_TRUE(WaitUntil([&] { return p.server.openConnections() == 0; }));
    EXPECT_TRUE(WaitUntil([&] { return OpenDescriptors() <= before; })) << OpenDescriptors() << " " << before;
    EXPECT_EQ(p.collector.count(), 0u);
    EXPECT_EQ(p.server.jobsFinished(), 0u);
}

// Past maxConnections a client waits in the listen queue; it is served once one ends.
TEST(PrinterServer, MoreThanMaxConnectionsWaitTheirTurn) {
    ServerOptions o;
    o.maxConnections = 2;
    ServedPrinter p(o);
    ASSERT_TRUE(p.started) << p.error;
    auto a = p.connect();
    auto b = p.connect();
    ASSERT_TRUE(WaitUntil([&] { return p.server.openConnections() == 2; }));
    auto c = p.connect();
    ASSERT_TRUE(c->send(HexBytes("10 04 01")));
    EXPECT_TRUE(c->readQuiet(300).empty());
    EXPECT_EQ(p.server.openConnections(), 2u);
    a->close();
    EXPECT_EQ(test::HexText(c->read(1)), "12");
}

TEST(PrinterServer, PortInUseNamesTheAddress) {
    ServedPrinter first;
    ASSERT_TRUE(first.started) << first.error;
    ServerOptions o;
    o.listen.push_back({"127.0.0.1", first.port()});
    PrinterServer second(o);
    std::string error;
    EXPECT_FALSE(second.start(&error));
    EXPECT_EQ(error, "127.0.0.1:" + std::to_string(first.port()) + ": Address already in use");
    EXPECT_TRUE(second.boundAddresses().empty());
}

TEST(PrinterServer, EveryAddressServesIPv4AndIPv6) {
    ServerOptions o;
    o.listen.push_back({"", 0});
    ServedPrinter p(o, false);
    ASSERT_TRUE(p.started) << p.error;
    PeerSocket v4("127.0.0.1", p.port());
    ASSERT_TRUE(v4.ok());
    ASSERT_TRUE(v4.send(HexBytes("10 04 01")));
    EXPECT_EQ(test::HexText(v4.read(1)), "12");
    // Whether this machine has an IPv6 loopback at all, asked without the server.
    const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_addr = in6addr_loopback;
    const bool v6Here = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
    if (probe >= 0) ::close(probe);
    if (!v6Here) GTEST_SKIP() << "no IPv6 loopback here";
    PeerSocket v6("::1", p.port());
    ASSERT_TRUE(v6.ok());
    ASSERT_TRUE(v6.send(HexBytes("10 04 05")));
    EXPECT_EQ(test::HexText(v6.read(1)), "00");
    v6.close();
    ASSERT_TRUE(p.collector.waitFor(1));
    EXPECT_EQ(p.collector.jobs().at(0).source.rfind("tcp:[::1]:", 0), 0u) << p.collector.jobs().at(0).source;
}

TEST(PrinterServer, StopEndsJobsInProgressAsIncomplete) {
    ServedPrinter p;
    ASSERT_TRUE(p.started) << p.error;
    auto s = p.connect();
    ASSERT_TRUE(s->send(HexBytes("41 42 43")));
    ASSERT_TRUE(WaitUntil([&] { return p.server.openConnections() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    p.server.stop();
    ASSERT_EQ(p.collector.count(), 1u);
    EXPECT_EQ(p.collector.jobs().at(0).end, JobEnd::Incomplete);
    EXPECT_EQ(test::HexText(p.collector.jobs().at(0).bytes), "41 42 43");
    EXPECT_TRUE(s->closedByServer(5000));
}

struct AddressCase {
    const char* text;
    bool ok;
    const char* host;
    uint16_t port;
    bool loopback;
};

const AddressCase kAddresses[] = {
    {"127.0.0.1:9100", true, "127.0.0.1", 9100, true},
    {"[::1]:9100", true, "::1", 9100, true},
    {"0.0.0.0:9100", true, "0.0.0.0", 9100, false},
    {":9100", true, "", 9100, false},
    {"localhost:0", true, "localhost", 0, true},
    {"127.1.2.3:65535", true, "127.1.2.3", 65535, true},
    {"192.0.2.7:9100", true, "192.0.2.7", 9100, false},
    {"::1:9100", false, "", 0, false},
    {"127.0.0.1", false, "", 0, false},
    {"127.0.0.1:65536", false, "", 0, false},
    {"127.0.0.1:", false, "", 0, false},
    {"[::1]9100", false, "", 0, false},
};

TEST(ListenAddresses, ParsedPrintedAndJudged) {
    for (const AddressCase& c : kAddresses) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto a = ParseListenAddress(c.text, &error);
        ASSERT_EQ(a.has_value(), c.ok) << error;
        if (!a) {
            EXPECT_EQ(error.rfind(std::string(c.text) + ": ", 0), 0u) << error;
            continue;
        }
        EXPECT_EQ(a->host, c.host);
        EXPECT_EQ(a->port, c.port);
        EXPECT_EQ(IsLoopback(*a), c.loopback);
        EXPECT_EQ(ListenAddressText(*a), c.text);
    }
}

}  // namespace
}  // namespace pellory::vprinter
