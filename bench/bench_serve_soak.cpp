// A soak of "pellory-cli serve" run as a program of its own (the pellory-cli of this build, or
// PELLORY_CLI_BINARY when set), with its jobs folder in a scratch folder and its web page on:
// for SOAK_SECONDS seconds, on the loopback network,
//
//   - 64 fast clients, each job a receipt of text, a CODE128 barcode and a raster picture, ended by
//     DLE EOT 1, whose answer the client waits for before it closes (the server has then read every
//     byte), one job after another;
//   - 8 slow senders, each job some 130 bytes sent 1 to 4 bytes at a time, 150 to 400 ms apart;
//   - 4 heavy senders, each job 12 receipts of a 576 x 240 dot picture of noise (some 210 KB), so
//     that the job writers fall behind;
//   - a status poller: every 50 ms a new connection sends DLE EOT 1 and times the answer (from the
//     connect to the byte).
//
// Halfway through, the server is killed (SIGKILL) and started again on the same jobs folder and
// port; the clients reconnect. Once the load is over and the server has finished writing (for 5 s
// no job reported and no job folder begun or completed), it is stopped with SIGTERM and the jobs
// folder is checked: every job a client saw answered must have a folder whose bytes.bin is what
// was sent (a job is known by the id printed as text at its start, "SOAK F 123"; its bytes are
// made again from the id, only a hash is kept), a job cut short by the kill may have a folder
// holding a start of its bytes, and every answered status poll a folder of its three bytes.
// Printed: the jobs answered and written, "LOST n jobs", bytes that differ, the status answer
// times (p50, p99, max, and the polls refused or unanswered around the restart), the writers'
// backlog, and each run's peak resident size (VmHWM).
//
// Problems of the server are reported, never a reason to stop: the exit status is 0 unless the
// soak could not run (no program, no scratch folder, a server that does not start).
//
// It skips itself unless SOAK_SECONDS is set, so that "make bench" stays short: SOAK_SECONDS=60
// runs it for a minute (an empty value means the same). SOAK_KEEP=1 keeps the scratch folder.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/server_clients.h"

extern char** environ;

namespace {

using namespace pellory;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr int kFastClients = 64;
constexpr int kSlowSenders = 8;
constexpr int kHeavySenders = 4;
constexpr int kPollMs = 50;
constexpr int kMaxConnections = 128;  // every client at once, so that none waits in the listen queue
constexpr int kAnswerWaitMs = 30000;  // a job's answer; longer is a stall, and the job counts as cut
constexpr int kPollAnswerWaitMs = 5000;
constexpr int kQuietMs = 5000;  // no new job folder for this long: the server has finished writing

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// ---------------------------------------------------------------------------------------------
// The jobs: their bytes made from kind and id alone, so that any of them can be made again.

enum class Kind : char { Fast = 'F', Slow = 'S', Heavy = 'H' };

class Noise {
public:
    explicit Noise(uint64_t seed) : x_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t next() {
        x_ ^= x_ << 13;
        x_ ^= x_ >> 7;
        x_ ^= x_ << 17;
        return static_cast<uint32_t>(x_ >> 32);
    }

private:
    uint64_t x_;
};

void Put(Bytes& b, std::initializer_list<int> v) {
    for (int x : v) b.push_back(static_cast<uint8_t>(x));
}
void Put(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }

// A raster picture GS v 0 of widthBytes x rows bytes: noise, or stripes that compress well.
void Picture(Bytes& b, int widthBytes, int rows, Noise& n, bool noise) {
    Put(b, {0x1D, 0x76, 0x30, 0x00, widthBytes & 0xFF, widthBytes >> 8, rows & 0xFF, rows >> 8});
    for (int i = 0; i < widthBytes * rows; ++i) {
        b.push_back(static_cast<uint8_t>(noise ? n.next() >> 24 : ((i / widthBytes) % 8 < 4 ? 0xF0 : 0x0F)));
    }
}

Bytes JobBytes(Kind kind, uint64_t id) {
    Bytes b;
    Noise n(id);
    Put(b, {0x1B, 0x40});
    Put(b, "SOAK " + std::string(1, static_cast<char>(kind)) + " " + std::to_string(id) + "\n");
    const std::string cut = "\x1D\x56\x42";
    switch (kind) {
        case Kind::Fast: {
            for (int i = 0; i < 4; ++i)
                Put(b, "Item " + std::to_string(i) + "   qty 1   " + std::to_string(n.next() % 1000) + ".00\n");
            const std::string data = "{BS" + std::to_string(id);
            Put(b, {0x1D, 0x68, 0x40, 0x1D, 0x6B, 73, static_cast<int>(data.size())});
            Put(b, data);
            Picture(b, 24, 48, n, false);
            Put(b, cut);
            b.push_back(0);
            break;
        }
        case Kind::Slow:
            for (int i = 0; i < 3; ++i) Put(b, "Line " + std::to_string(i) + " of a slow sender\n");
            Put(b, cut);
            b.push_back(0);
            break;
        case Kind::Heavy:
            for (int r = 0; r < 12; ++r) {
                Put(b, "Receipt " + std::to_string(r + 1) + " of 12\n");
                Picture(b, 72, 240, n, true);
                Put(b, cut);
                b.push_back(0);
            }
            break;
    }
    Put(b, {0x10, 0x04, 0x01});
    return b;
}

uint64_t Hash(const uint8_t* p, size_t size) {
    uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a
    for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
    return h;
}

// The id a job's bytes begin with, and its kind; nothing for other bytes.
std::optional<std::pair<Kind, uint64_t>> IdOf(const std::string& bytes) {
    if (bytes.size() < 10 || bytes.compare(0, 7, "\x1B@SOAK ") != 0 || bytes[8] != ' ') return std::nullopt;
    const char k = bytes[7];
    if (k != 'F' && k != 'S' && k != 'H') return std::nullopt;
    uint64_t id = 0;
    size_t i = 9;
    for (; i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9'; ++i) id = id * 10 + uint64_t(bytes[i] - '0');
    if (i == 9 || i >= bytes.size() || bytes[i] != '\n') return std::nullopt;
    return std::pair{static_cast<Kind>(k), id};
}

// ---------------------------------------------------------------------------------------------
// The server, a process of its own

struct ServerRun {
    pid_t pid = -1;
    uint16_t port = 0;
    std::string out, err;  // its standard output and error, files
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Starts "serve" on 127.0.0.1:port (0: a port the system picks) and waits until it listens. False
// with why when it ended or said nothing within 30 s.
bool StartServer(const std::string& cli, const std::string& folder, const std::string& jobs, uint16_t port,
                 const std::string& name, ServerRun& run, std::string& why) {
    run = {};
    run.out = folder + "/" + name + ".out";
    run.err = folder + "/" + name + ".err";
    std::vector<std::string> args = {
        cli,      "serve",       "--listen",          "127.0.0.1:" + std::to_string(port), "--jobs", jobs,
        "--http", "127.0.0.1:0", "--max-connections", std::to_string(kMaxConnections)};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, run.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, run.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = posix_spawn(&run.pid, cli.c_str(), &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (e != 0) {
        why = cli + ": " + std::strerror(e);
        run.pid = -1;
        return false;
    }
    const std::string said = "listening on 127.0.0.1:";
    const auto until = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < until) {
        const std::string err = ReadFile(run.err);
        const size_t at = err.find(said);
        if (at != std::string::npos && err.find('\n', at) != std::string::npos) {
            run.port = static_cast<uint16_t>(std::stoi(err.substr(at + said.size())));
            return true;
        }
        int status = 0;
        if (::waitpid(run.pid, &status, WNOHANG) == run.pid) {
            why = "it ended with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ": " + err;
            run.pid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    why = "it did not say where it listens within 30 s";
    ::kill(run.pid, SIGKILL);
    ::waitpid(run.pid, nullptr, 0);
    run.pid = -1;
    return false;
}

// The peak resident size of a running process in MB (1,000,000 bytes), -1 when unknown.
double PeakMegabytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return double(std::atol(line.c_str() + 6)) * 1024 / 1e6;
    }
    return -1;
}

// Waits up to ms for the process to end; its exit status, -signal, or nothing while it runs.
std::optional<int> WaitEnd(pid_t pid, int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        if (Clock::now() >= until) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The lines of a file that grows (a server's standard output, a line per job written), read on
// from where the last count stopped.
class LineCount {
public:
    size_t operator()(const std::string& path) {
        if (path != path_) *this = {};
        path_ = path;
        std::ifstream in(path, std::ios::binary);
        in.seekg(std::streamoff(read_));
        char buffer[65536];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            read_ += size_t(in.gcount());
            lines_ += size_t(std::count(buffer, buffer + in.gcount(), '\n'));
        }
        return lines_;
    }

private:
    std::string path_;
    size_t read_ = 0, lines_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The clients

struct Record {
    Kind kind;
    uint64_t id;
    bool answered;  // the client read the answer to its DLE EOT 1: the server had every byte
    size_t size;
    uint64_t hash;
};

constexpr double kRefused = -1;     // a poll's connection was refused (the server was away)
constexpr double kUnanswered = -2;  // a poll got no answer within kPollAnswerWaitMs

struct Poll {
    double atS;  // since the start of the load
    double ms;   // from the connect to the answer, or kRefused, kUnanswered
};

struct Load {
    Clock::time_point start;
    std::atomic<uint16_t> port{0};
    std::atomic<bool> on{true};
    std::atomic<uint64_t> nextId{1};
    std::atomic<uint64_t> answered{0};  // jobs and polls answered
    std::atomic<uint64_t> bytesSent{0};
    std::mutex m;
    std::vector<Record> records;
    std::vector<Poll> polls;
};

// One job: connect (again and again while the server is away), send, wait for the answer, close.
void RunJob(Load& load, Kind kind) {
    std::unique_ptr<test::PeerSocket> s;
    while (load.on) {
        s = std::make_unique<test::PeerSocket>("127.0.0.1", load.port.load());
        if (s->ok()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!s || !s->ok()) return;
    const uint64_t id = load.nextId++;
    const Bytes bytes = JobBytes(kind, id);
    bool sent = true;
    if (kind == Kind::Slow) {
        Noise n(id ^ 0x51);
        for (size_t at = 0; sent && at < bytes.size();) {
            // Once the load is over, the rest goes at once.
            const size_t k = load.on ? std::min<size_t>(1 + n.next() % 4, bytes.size() - at) : bytes.size() - at;
            sent = s->send(Bytes(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + k)));
            at += k;
            if (load.on && at < bytes.size())
                std::this_thread::sleep_for(std::chrono::milliseconds(150 + n.next() % 251));
        }
    } else {
        sent = s->send(bytes, kAnswerWaitMs);
    }
    const bool answered = sent && s->read(1, kAnswerWaitMs).size() == 1;
    s->close();
    if (answered) {
        ++load.answered;
        load.bytesSent += bytes.size();
    }
    std::lock_guard<std::mutex> lock(load.m);
    load.records.push_back({kind, id, answered, bytes.size(), Hash(bytes.data(), bytes.size())});
}

void Poller(Load& load) {
    const Bytes request = {0x10, 0x04, 0x01};
    auto tick = Clock::now();
    while (load.on) {
        const auto t0 = Clock::now();
        double ms = kRefused;
        test::PeerSocket s("127.0.0.1", load.port.load());
        if (s.ok()) {
            const bool answered = s.send(request, kPollAnswerWaitMs) && s.read(1, kPollAnswerWaitMs).size() == 1;
            ms = answered ? Ms(Clock::now() - t0) : kUnanswered;
        }
        s.close();
        if (ms >= 0) ++load.answered;
        {
            std::lock_guard<std::mutex> lock(load.m);
            load.polls.push_back({std::chrono::duration<double>(t0 - load.start).count(), ms});
        }
        tick = std::max(tick + std::chrono::milliseconds(kPollMs), Clock::now());
        std::this_thread::sleep_until(tick);
    }
}

double Quantile(std::vector<double> v, double q) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * double(v.size() - 1))];
}

// ---------------------------------------------------------------------------------------------
// The check of the jobs folder

struct Folder {
    std::string name;
    std::string bytes;
    std::string ended;  // of job.json
};

bool IsHalfMade(const std::string& name) { return name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0; }

// Job folders still being made ("000123.tmp").
size_t HalfMade(const std::string& jobs) {
    size_t n = 0;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(jobs, ec)) n += IsHalfMade(e.path().filename().string());
    return n;
}

// Every file under the folder, in MB (1,000,000 bytes).
double FolderMegabytes(const std::string& folder) {
    uintmax_t total = 0;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder, ec)) {
        if (e.is_regular_file(ec)) total += e.file_size(ec);
    }
    return double(total) / 1e6;
}

std::vector<Folder> ReadJobs(const std::string& jobs, size_t& halfMade) {
    std::vector<Folder> out;
    halfMade = 0;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(jobs, ec)) {
        const std::string name = e.path().filename().string();
        halfMade += IsHalfMade(name);
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        Folder f{name, ReadFile((e.path() / "bytes.bin").string()), ""};
        const std::string record = ReadFile((e.path() / "job.json").string());
        const size_t at = record.find("\"ended\":\"");
        f.ended = at == std::string::npos ? "(no record)" : record.substr(at + 9, record.find('"', at + 9) - at - 9);
        out.push_back(std::move(f));
    }
    return out;
}

int Soak(double seconds, const std::string& cli, const std::string& folder) {
    const std::string jobs = folder + "/jobs";
    ServerRun first, second;
    std::string why;
    if (!StartServer(cli, folder, jobs, 0, "serve-1", first, why)) {
        std::fprintf(stderr, "bench_serve_soak: the server does not start: %s\n", why.c_str());
        return 1;
    }
    std::printf(
        "bench_serve_soak: %.0f s of load on pellory-cli serve --max-connections %d (127.0.0.1:%u), "
        "SIGKILL at %.1f s, then the same jobs folder and port again\n",
        seconds, kMaxConnections, first.port, seconds / 2);
    std::printf("clients: %d fast, %d slow, %d heavy, a status poller every %d ms\n", kFastClients, kSlowSenders,
                kHeavySenders, kPollMs);
    std::fflush(stdout);

    Load load;
    load.port = first.port;
    load.start = Clock::now();
    std::vector<std::thread> clients;
    const auto loop = [&load](Kind k) {
        return [&load, k] {
            while (load.on) RunJob(load, k);
        };
    };
    for (int i = 0; i < kFastClients; ++i) clients.emplace_back(loop(Kind::Fast));
    for (int i = 0; i < kSlowSenders; ++i) clients.emplace_back(loop(Kind::Slow));
    for (int i = 0; i < kHeavySenders; ++i) clients.emplace_back(loop(Kind::Heavy));
    clients.emplace_back([&load] { Poller(load); });

    // The writers' backlog: jobs and polls answered, less the jobs the server said it wrote.
    LineCount countLines;
    size_t backlogMax = 0, backlogAtKill = 0, backlogAtEnd = 0, writtenByFirst = 0;
    const auto backlog = [&](const ServerRun* current) {
        const size_t written = writtenByFirst + (current ? countLines(current->out) : 0);
        const size_t b = load.answered > written ? size_t(load.answered - written) : 0;
        backlogMax = std::max(backlogMax, b);
        return b;
    };
    const auto killAt = load.start +
                        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds / 2));
    const auto endAt = load.start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (Clock::now() < killAt) {
        backlog(&first);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    backlogAtKill = backlog(&first);
    const double firstPeak = PeakMegabytes(first.pid);
    const auto killed = Clock::now();
    ::kill(first.pid, SIGKILL);
    WaitEnd(first.pid, 10000);
    writtenByFirst = countLines(first.out);
    bool restarted = false;
    for (int attempt = 0; attempt < 20 && !restarted; ++attempt) {
        restarted = StartServer(cli, folder, jobs, attempt < 19 ? first.port : 0, "serve-2", second, why);
        if (!restarted) std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    if (!restarted) {
        load.on = false;
        for (std::thread& t : clients) t.join();
        std::fprintf(stderr, "bench_serve_soak: the server does not start again: %s\n", why.c_str());
        return 1;
    }
    const double restartMs = Ms(Clock::now() - killed);
    load.port = second.port;
    while (Clock::now() < endAt) {
        backlog(&second);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    backlogAtEnd = backlog(&second);
    load.on = false;
    for (std::thread& t : clients) t.join();
    const auto loadOver = Clock::now();

    // Finished: for kQuietMs no new job line and no folder begun or completed (one left half made
    // by the kill stays as it is), within a bound.
    const int finishBoundMs = std::max(120000, int(seconds * 2000));
    size_t lines = countLines(second.out), halfMade = HalfMade(jobs);
    auto quietSince = Clock::now();
    bool finished = false;
    while (Ms(Clock::now() - loadOver) < finishBoundMs) {
        backlog(&second);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const size_t nowLines = countLines(second.out), nowHalfMade = HalfMade(jobs);
        if (nowLines != lines || nowHalfMade != halfMade) {
            lines = nowLines;
            halfMade = nowHalfMade;
            quietSince = Clock::now();
        } else if (Ms(Clock::now() - quietSince) >= kQuietMs) {
            finished = true;
            break;
        }
    }
    const double finishS = std::chrono::duration<double>(quietSince - loadOver).count();
    const double secondPeak = PeakMegabytes(second.pid);
    const auto stopAsked = Clock::now();
    ::kill(second.pid, SIGTERM);
    const std::optional<int> stopped = WaitEnd(second.pid, 300000);
    const double stopS = std::chrono::duration<double>(Clock::now() - stopAsked).count();
    if (!stopped) {
        ::kill(second.pid, SIGKILL);
        WaitEnd(second.pid, 10000);
    }

    // The check.
    const auto checkStart = Clock::now();
    const std::vector<Folder> folders = ReadJobs(jobs, halfMade);
    std::map<uint64_t, std::vector<const Folder*>> byId;
    std::map<std::string, size_t> ended;
    size_t pollFolders = 0, unknown = 0, noBytes = 0;
    for (const Folder& f : folders) {
        ++ended[f.ended];
        if (f.bytes == std::string("\x10\x04\x01", 3)) {
            ++pollFolders;
        } else if (const auto id = IdOf(f.bytes)) {
            byId[id->second].push_back(&f);
        } else if (f.bytes.empty()) {
            ++noBytes;
        } else {
            ++unknown;
        }
    }
    std::map<Kind, size_t> answeredOf, lostOf;
    size_t differ = 0, cut = 0, cutKept = 0, cutNotAPrefix = 0, duplicates = 0;
    std::vector<std::string> lostIds;
    for (const Record& r : load.records) {
        const auto it = byId.find(r.id);
        if (it != byId.end() && it->second.size() > 1) ++duplicates;
        const Folder* f = it == byId.end() ? nullptr : it->second.front();
        if (r.answered) {
            ++answeredOf[r.kind];
            if (!f) {
                ++lostOf[r.kind];
                if (lostIds.size() < 8) lostIds.push_back(std::string(1, char(r.kind)) + std::to_string(r.id));
            } else if (f->bytes.size() != r.size ||
                       Hash(reinterpret_cast<const uint8_t*>(f->bytes.data()), f->bytes.size()) != r.hash) {
                ++differ;
            }
            continue;
        }
        ++cut;
        if (!f) continue;
        const Bytes sent = JobBytes(r.kind, r.id);
        const bool prefix = f->bytes.size() <= sent.size() &&
                            std::equal(f->bytes.begin(), f->bytes.end(), sent.begin(),
                                       [](char kept, uint8_t was) { return static_cast<uint8_t>(kept) == was; });
        ++(prefix ? cutKept : cutNotAPrefix);
    }
    std::vector<double> times;
    size_t refused = 0, unanswered = 0;
    const Poll* worst = nullptr;
    for (const Poll& p : load.polls) {
        if (p.ms == kRefused) ++refused;
        if (p.ms == kUnanswered) ++unanswered;
        if (p.ms < 0) continue;
        times.push_back(p.ms);
        if (!worst || p.ms > worst->ms) worst = &p;
    }
    const size_t polls = times.size();
    const size_t lostPolls = polls > pollFolders ? polls - pollFolders : 0;
    size_t lost = lostPolls;
    for (const auto& [k, n] : lostOf) lost += n;

    std::printf("jobs answered: %zu fast, %zu slow, %zu heavy, %zu status polls (%.0f a second), %.1f MB sent\n",
                answeredOf[Kind::Fast], answeredOf[Kind::Slow], answeredOf[Kind::Heavy], polls,
                double(load.answered) / seconds, double(load.bytesSent) / 1e6);
    std::printf(
        "jobs cut short (the kill, or no answer within %d s): %zu; of these %zu left a folder holding a "
        "start of their bytes, %zu a folder holding other bytes\n",
        kAnswerWaitMs / 1000, cut, cutKept, cutNotAPrefix);
    std::printf(
        "writers' backlog (answered, not yet reported written): at most %zu, %zu at the kill, %zu when the "
        "load ended\n",
        backlogMax, backlogAtKill, backlogAtEnd);
    std::printf(
        "restart: listening again %.0f ms after the kill; %s %.1f s after the load ended; %s %.1f s after "
        "SIGTERM\n",
        restartMs, finished ? "finished writing" : "NOT FINISHED writing within the bound; last job written", finishS,
        stopped ? "stopped" : "NOT STOPPED, killed", stopS);
    std::printf(
        "status answers: %zu, p50 %.1f ms, p99 %.1f ms (target < 100), max %.1f ms (at %.1f s); refused %zu, "
        "unanswered within %d s %zu\n",
        polls, Quantile(times, 0.5), Quantile(times, 0.99), worst ? worst->ms : -1.0, worst ? worst->atS : -1.0,
        refused, kPollAnswerWaitMs / 1000, unanswered);
    std::printf("peak resident size (VmHWM): %.1f MB before the kill, %.1f MB in the second run\n", firstPeak,
                secondPeak);
    std::string endings;
    for (const auto& [name, n] : ended) endings += (endings.empty() ? "" : ", ") + name + " " + std::to_string(n);
    std::printf("job folders: %zu (%s), %.0f MB; half made: %zu; without bytes.bin: %zu; of no client: %zu\n",
                folders.size(), endings.c_str(), FolderMegabytes(jobs), halfMade, noBytes, unknown);
    std::printf("the jobs folder read and checked in %.1f s\n",
                std::chrono::duration<double>(Clock::now() - checkStart).count());
    if (lost == 0) {
        std::printf("no job lost\n");
    } else {
        std::string ids;
        for (const std::string& id : lostIds) ids += " " + id;
        std::printf("LOST %zu jobs (fast %zu, slow %zu, heavy %zu, status polls %zu; first ids:%s)\n", lost,
                    lostOf[Kind::Fast], lostOf[Kind::Slow], lostOf[Kind::Heavy], lostPolls, ids.c_str());
    }
    std::printf("%s%zu bytes.bin differing from what was sent; %zu jobs written twice\n", differ ? "DIFFERING: " : "",
                differ, duplicates);
    return 0;
}

}  // namespace

int main() {
    const char* text = std::getenv("SOAK_SECONDS");
    if (!text) {
        std::printf("bench_serve_soak: skipped; SOAK_SECONDS=60 runs it for a minute\n");
        return 0;
    }
    double seconds = 60;
    if (*text) {
        char* end = nullptr;
        seconds = std::strtod(text, &end);
        if (*end || !(seconds >= 2) || seconds > 86400) {
            std::fprintf(stderr, "bench_serve_soak: SOAK_SECONDS=\"%s\" is not a number of seconds from 2\n", text);
            return 1;
        }
    }
    const std::string cli = std::getenv("PELLORY_CLI_BINARY") ? std::getenv("PELLORY_CLI_BINARY") : PELLORY_CLI_PATH;
    if (::access(cli.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "bench_serve_soak: %s cannot be run\n", cli.c_str());
        return 1;
    }
    std::string pattern = (fs::temp_directory_path() / "pellory_soak_XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::fprintf(stderr, "bench_serve_soak: no scratch folder under %s\n", fs::temp_directory_path().c_str());
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);
    const int code = Soak(seconds, cli, pattern);
    if (std::getenv("SOAK_KEEP")) {
        std::printf("kept: %s\n", pattern.c_str());
    } else {
        const auto start = Clock::now();
        std::error_code ec;
        fs::remove_all(pattern, ec);
        std::printf("scratch folder removed in %.1f s\n", std::chrono::duration<double>(Clock::now() - start).count());
    }
    return code;
}
