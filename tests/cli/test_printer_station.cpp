// The printer station without a folder, as the window's printer server builds it, over real
// sockets: each job the server finishes is counted and reported by the station's recorder and kept
// with its bytes, newest first, within the kept bounds; a job the recorder's full queue refuses is
// kept once, when the recorder takes it.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/printer_station.h"
#include "support/server_clients.h"

namespace pellory::app::cli {
namespace {

constexpr int kWaitMs = 20000;  // a watchdog only

// A station on 127.0.0.1 (a port the system picks) whose reports a test may hold at a gate.
struct ServedStation {
    ServedStation(StationOptions::Kept kept, size_t maxQueuedJobs, unsigned writers)
        : station(Options(kept, maxQueuedJobs, writers), [this](const jobs::RecordedJob& r) { reported(r); }, {}) {
        std::string why;
        started = station.open(&why) && station.start(&why);
        EXPECT_TRUE(started) << why;
    }
    ~ServedStation() {
        setGate(true);
        station.stop();
    }
    static StationOptions Options(StationOptions::Kept kept, size_t maxQueuedJobs, unsigned writers) {
        StationOptions o;
        o.server.model = vprinter::Model::Orva58;
        o.server.listen = {vprinter::ListenAddress{"127.0.0.1", 0}};
        o.recording.maxQueuedJobs = maxQueuedJobs;
        o.recording.writers = writers;
        o.kept = kept;
        return o;
    }
    // Prints bytes as one job: connect, send, close.
    void print(const std::string& text) {
        test::PeerSocket client("127.0.0.1", station.server().boundAddresses().front().port);
        ASSERT_TRUE(client.ok());
        ASSERT_TRUE(client.send(test::Bytes(text.begin(), text.end())));
        client.close();
    }
    void reported(const jobs::RecordedJob& r) {
        std::unique_lock<std::mutex> lock(mutex);
        ++held;
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
        --held;
        numbers.push_back(r.number);
        changed.notify_all();
    }
    void setGate(bool o) {
        std::lock_guard<std::mutex> lock(mutex);
        open = o;
        changed.notify_all();
    }
    bool waitFor(size_t reports, size_t holding = 0) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                                [&] { return numbers.size() >= reports && held >= holding; });
    }
    std::vector<uint64_t> keptNumbers() const {
        std::vector<uint64_t> out;
        for (const auto& job : station.keptJobs()) out.push_back(job->number);
        return out;
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;               // guarded by mutex
    size_t held = 0;                // reports waiting at the gate; guarded by mutex
    std::vector<uint64_t> numbers;  // reported, in order; guarded by mutex
    PrinterStation station;
    bool started = false;
};

// Job n of a test: ten bytes, "job 01...\n".
std::string JobText(int n) { return "job 0" + std::to_string(n) + "...\n"; }

TEST(PrinterStation, JobsAreReportedAndTheNewestKeptWithTheirBytesWithinTheBounds) {
    const struct {
        const char* name;
        StationOptions::Kept kept;
        std::vector<uint64_t> keptNumbers;  // newest first
    } cases[] = {
        {"none kept", {0, 0}, {}},
        {"all kept", {10, 1000}, {4, 3, 2, 1}},
        {"the newest by count", {2, 1000}, {4, 3}},
        {"the newest by bytes", {10, 25}, {4, 3}},
        {"the newest whatever its size", {10, 5}, {4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServedStation s(c.kept, 256, 2);
        ASSERT_TRUE(s.started);
        for (int n = 1; n <= 4; ++n) {
            s.print(JobText(n));
            ASSERT_TRUE(s.waitFor(static_cast<size_t>(n)));  // one job after the other, in order
            // A job is kept by the server's thread once the recorder took it: a writer may report
            // it first.
            if (c.kept.jobs > 0) {
                ASSERT_TRUE(test::WaitUntil([&] { return s.station.jobsKept() >= uint64_t(n); }, kWaitMs));
            }
        }
        EXPECT_EQ(s.numbers, (std::vector<uint64_t>{1, 2, 3, 4}));
        EXPECT_EQ(s.keptNumbers(), c.keptNumbers);
        EXPECT_EQ(s.station.jobsKept(), c.kept.jobs == 0 ? 0u : 4u);
        for (const auto& job : s.station.keptJobs()) {
            const std::string text = JobText(static_cast<int>(job->number));
            ASSERT_TRUE(job->kept);
            EXPECT_EQ(*job->kept, test::Bytes(text.begin(), text.end()));
            EXPECT_EQ(job->received, text.size());
            EXPECT_EQ(job->ended, "closed");
            EXPECT_EQ(job->source.rfind("tcp:127.0.0.1:", 0), 0u) << job->source;
        }
    }
}

TEST(PrinterStation, AJobTheFullQueueRefusesIsKeptOnceWhenTaken) {
    // One writer, held at its report: job 1 is held there, job 2 fills the queue, job 3 is refused
    // and waits in the server until the writer is let go.
    ServedStation s({10, 1000}, 1, 1);
    ASSERT_TRUE(s.started);
    s.setGate(false);
    s.print(JobText(1));
    ASSERT_TRUE(s.waitFor(0, 1));
    s.print(JobText(2));
    ASSERT_TRUE(test::WaitUntil([&] { return s.station.jobsKept() == 2; }, kWaitMs));
    s.print(JobText(3));
    // The server offers job 3 once its connection closes and keeps it while it is refused: it is
    // not kept in the list.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(s.keptNumbers(), (std::vector<uint64_t>{2, 1}));
    s.setGate(true);
    ASSERT_TRUE(s.waitFor(3));
    EXPECT_EQ(s.numbers, (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_EQ(s.keptNumbers(), (std::vector<uint64_t>{3, 2, 1}));
    EXPECT_EQ(s.station.jobsKept(), 3u);
}

}  // namespace
}  // namespace pellory::app::cli
