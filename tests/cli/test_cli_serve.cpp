// "pellory-cli serve" run as a program of its own, against plain sockets and a pseudo-terminal:
// a corpus stream printed to it is written to the jobs folder as sent (bytes, pictures, record),
// "pellory-cli status --states" reads each state set on its standard input, quit and the signals write the
// jobs still open (as incomplete) and end with status 0, an address in use ends it with status 2
// naming the address, a jobs folder that cannot be written with 4, bad options with 3.
//
// The program under test is the pellory-cli of this build, or PELLORY_CLI_BINARY when set.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jobs/job_recorder.h"
#include "platform/threads.h"
#include "support/child_process.h"
#include "support/job_folders.h"
#include "support/job_recording.h"
#include "support/net_peers.h"
#include "support/server_clients.h"
#include "vprinter/printer_state.h"

namespace pellory::test {
namespace {

namespace fs = std::filesystem;

// A plain TCP client of the server, as point-of-sale software is.
class Client {
public:
    explicit Client(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Client() { Close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    bool ok() const { return fd_ >= 0; }
    bool Send(const std::string& bytes) {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    // Up to n bytes, waiting at most a few seconds for them.
    std::string Receive(size_t n) {
        std::string got;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (got.size() < n && std::chrono::steady_clock::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buffer[256];
            const ssize_t r = ::recv(fd_, buffer, std::min(sizeof buffer, n - got.size()), 0);
            if (r <= 0) break;
            got.append(buffer, static_cast<size_t>(r));
        }
        return got;
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

class ServeTest : public ScratchFolderTest {
protected:
    ServeTest() : ScratchFolderTest("pellory_serve") {}

    std::string Jobs() const { return Path("jobs"); }

    // Starts "serve" with args (after "serve"), its input a pipe, its output a pipe; waits until it
    // has said where it listens (when it listens) and keeps the port.
    CliChild& Start(std::vector<std::string> args, bool listens = true, std::optional<rlim_t> fileSizeLimit = {}) {
        args.insert(args.begin(), "serve");
        ChildOptions o = Streams(Stream::Pipe);
        o.pipedInput = true;
        o.fileSizeLimit = fileSizeLimit;
        server_.emplace(args, Folder(), o);
        AwaitStart(*server_, listens);
        return *server_;
    }
    // The same, started by prlimit(1) with a limit ("--fsize=20000": a file size limit, SIGXFSZ left
    // as the system sets it, so that the server alone decides what the signal does).
    ChildProcess& StartLimited(std::vector<std::string> args, const std::string& limit) {
        args.insert(args.begin(), {limit, CliBinary(), "serve"});
        ChildOptions o = Streams(Stream::Pipe);
        o.pipedInput = true;
        limited_.emplace("/usr/bin/prlimit", args, Folder(), o);
        AwaitStart(*limited_, true);
        return *limited_;
    }
    void AwaitStart(ChildProcess& server, bool listens) {
        std::string line;
        if (listens) {
            EXPECT_TRUE(server.WaitForError("listening on 127.0.0.1:", &line)) << server.Err();
            port_ = static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
        }
        EXPECT_TRUE(server.WaitForError("model ")) << server.Err();
    }
    uint16_t port() const { return port_; }

    // Runs "pellory-cli --port PORT status --states" against the server; its output.
    std::string Status(const std::string& port, int* code = nullptr) {
        const std::string run = Path("status-run");
        fs::create_directories(run);
        CliChild status({"--port", port, "status", "--states"}, run);
        const int c = status.Code();
        if (code) *code = c;
        return status.Out() + status.Err();
    }
    JobFolder Job(uint64_t n) const {
        char name[32];
        std::snprintf(name, sizeof name, "%06llu", static_cast<unsigned long long>(n));
        return {fs::path(Jobs()) / name};
    }

    std::optional<CliChild> server_;
    std::optional<ChildProcess> limited_;
    uint16_t port_ = 0;
};

TEST_F(ServeTest, CorpusStreamsPrintedOverSocketsAreWrittenAsSent) {
    const std::vector<fs::path> corpus = CorpusStreams();
    ASSERT_GE(corpus.size(), 4u) << PELLORY_ESCPOS_CORPUS << " (the shared streams) is missing";
    const std::vector<fs::path> streams = {corpus[0], corpus[corpus.size() / 3], corpus[corpus.size() / 2],
                                           corpus.back()};
    CliChild& server = Start({"--listen", "127.0.0.1:0", "--jobs", Jobs()});
    // All connected at once, sent and closed one after another.
    std::vector<std::unique_ptr<Client>> clients;
    for (size_t i = 0; i < streams.size(); ++i) clients.push_back(std::make_unique<Client>(port()));
    for (size_t i = 0; i < streams.size(); ++i) {
        ASSERT_TRUE(clients[i]->ok());
        ASSERT_TRUE(clients[i]->Send(ReadWholeFile(streams[i].string())));
        clients[i]->Close();
        ASSERT_TRUE(server.WaitForOutput("job " + Job(i + 1).path.filename().string())) << server.Out() << server.Err();
    }
    ASSERT_TRUE(server.Write("quit\n"));
    EXPECT_EQ(server.Code(), 0) << server.Err();
    std::vector<std::string> seen;
    for (size_t i = 0; i < streams.size(); ++i) {
        const JobFolder job = Job(i + 1);
        const std::string bytes = job.Read("bytes.bin");
        // Jobs are numbered in the order they started (connected); find which stream this is.
        size_t which = streams.size();
        for (size_t k = 0; k < streams.size(); ++k) {
            if (ReadWholeFile(streams[k].string()) == bytes) which = k;
        }
        ASSERT_LT(which, streams.size()) << job.path << " holds none of the streams sent";
        seen.push_back(streams[which].string());
        const QJsonObject record = job.Record();
        EXPECT_EQ(Number(record, "bytes"), static_cast<int64_t>(bytes.size()));
        EXPECT_EQ(Text(record, "ended"), "closed");
        EXPECT_EQ(Text(record, "source").rfind("tcp:127.0.0.1:", 0), 0u) << Text(record, "source");
        EXPECT_EQ(Number(record, "receipts"), static_cast<int64_t>(job.Receipts().size()));
        EXPECT_GE(job.Receipts().size(), 1u) << streams[which];
        for (const std::string& png : job.Receipts()) EXPECT_GT(PngHeight(job.Read(png)), 0) << png;
        EXPECT_FALSE(job.Read("decoding.txt").empty());
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end()) << "a stream was written twice";
    EXPECT_NE(server.Out().find("job 000004"), std::string::npos) << server.Out();
}

// Each state set on standard input is what "pellory-cli status --states" reads: Pellory's own status
// query its byte and lamps, the standard requests DLE EOT 1 to 4 the state by name (silent
// answers nothing, not even the connection probe); clearing it gives the ready printer back.
TEST_F(ServeTest, StatusReadsEachStateSetOnStandardInput) {
    struct Case {
        const char* state;
        const char* output;  // standard output and error of the status run
        int code;
    };
    const Case cases[] = {
        {"paper-near-end", "Status: 00\nLamps: Online\nStates: paper-near-end\n", 0},
        {"paper-end", "Status: 04\nLamps: Paper Error\nStates: paper-end\n", 0},
        {"cover-open", "Status: 02\nLamps: Platen Open\nStates: cover-open\n", 0},
        {"offline", "Status: 40\nLamps: none\nStates: offline\n", 0},
        {"drawer-open", "Status: 00\nLamps: Online\nStates: drawer-open\n", 0},
        {"cutter-error", "Status: 20\nLamps: Cutter Error\nStates: cutter-error\n", 0},
        {"overheat", "Status: 08\nLamps: Over Heat\nStates: overheat\n", 0},
        {"error", "Status: 01\nLamps: Over Voltage\nStates: error\n", 0},
        {"silent", "Communicate Error:Printer No Answer.\n", 1},
    };
    static_assert(std::size(cases) == vprinter::kStateNames.size());
    const std::string ready = "Status: 00\nLamps: Online\nStates: ready\n";
    CliChild& server = Start({"--listen", "127.0.0.1:0", "--no-save"});
    const std::string port = "tcp://127.0.0.1:" + std::to_string(this->port());
    size_t readyLines = 0;  // "state: ready" said so far: each clear and status below says it
    for (const Case& c : cases) {
        ASSERT_TRUE(server.Write(std::string("set ") + c.state + "\n"));
        ASSERT_TRUE(server.WaitForOutput(std::string("state: ") + c.state + "\n")) << server.Out();
        int code = -1;
        EXPECT_EQ(Status(port, &code), c.output) << c.state;
        EXPECT_EQ(code, c.code) << c.state;
        ASSERT_TRUE(server.Write(std::string("clear ") + c.state + "\nstatus\n"));
        readyLines += 2;
        ASSERT_TRUE(server.WaitForOutput("state: ready\n", readyLines)) << server.Out();
        EXPECT_EQ(Status(port, &code), ready) << c.state;
        EXPECT_EQ(code, 0) << c.state;
    }
    // Two at once, each with its name.
    ASSERT_TRUE(server.Write("set paper-near-end\nset drawer-open\n"));
    ASSERT_TRUE(server.WaitForOutput("state: paper-near-end,drawer-open\n")) << server.Out();
    EXPECT_EQ(Status(port), "Status: 00\nLamps: Online\nStates: paper-near-end, drawer-open\n");
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Code(), 0) << server.Err();
}

// A client on the pseudo-terminal's link gets the same: its status, and its bytes as a job once
// the line has been silent for --idle-end, drawn on the paper of the model given.
TEST_F(ServeTest, APseudoTerminalClientIsServedAsANetworkOneIs) {
    const std::string link = Path("printer");
    CliChild& server = Start(
        {"--pty", link, "--jobs", Jobs(), "--idle-end", "0.3", "--status", "paper-end", "--model", "orva58"}, false);
    ASSERT_TRUE(server.WaitForError("on the pseudo-terminal")) << server.Err();
    EXPECT_EQ(Status(link), "Status: 04\nLamps: Paper Error\nStates: paper-end\n");
    // The status run's bytes are a job of their own, once the line has been silent.
    ASSERT_TRUE(server.WaitForOutput("job 000001")) << server.Out();
    EXPECT_EQ(Text(Job(1).Record(), "source"), "pty:" + link);
    ASSERT_TRUE(server.Write("clear paper-end\n"));
    ASSERT_TRUE(server.WaitForOutput("state: ready\n"));
    const std::string stream = "\x1b@Pty receipt\n\x1d\x56\x42" + std::string(1, '\0');
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    ASSERT_EQ(::write(fd, stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
    ASSERT_TRUE(server.WaitForOutput("job 000002")) << server.Out();
    ::close(fd);
    EXPECT_EQ(Job(2).Read("bytes.bin"), stream);
    EXPECT_EQ(Text(Job(2).Record(), "ended"), "idle");
    ASSERT_EQ(Job(2).Receipts().size(), 1u);
    EXPECT_EQ(PngWidth(Job(2).Read(Job(2).Receipts()[0])), 384);  // the ORVA58's paper
    server.Signal(SIGINT);
    EXPECT_EQ(server.Code(), 0) << server.Err();
}

// quit, SIGINT and SIGTERM each stop accepting and write the jobs still open as incomplete; the
// status is 0.
TEST_F(ServeTest, EachWayOfStoppingWritesTheOpenJobsAndEndsWithZero) {
    for (const std::string how : {"quit", "SIGINT", "SIGTERM"}) {
        const ScratchFolder jobs("pellory_serve_stop");
        CliChild& server = Start({"--listen", "127.0.0.1:0", "--jobs", jobs.Folder()});
        Client client(port());
        ASSERT_TRUE(client.ok());
        ASSERT_TRUE(client.Send("still printing\n"));
        // The server has the bytes once it answers a status request sent after them.
        ASSERT_TRUE(client.Send("\x10\x04\x01"));
        EXPECT_EQ(client.Receive(1).size(), 1u) << how;
        if (how == "quit") {
            ASSERT_TRUE(server.Write("quit\n"));
        } else {
            ASSERT_TRUE(server.WaitUntilSignalsWatched());
            server.Signal(how == "SIGINT" ? SIGINT : SIGTERM);
        }
        EXPECT_EQ(server.Code(), 0) << how << ": " << server.Err();
        const JobFolder job{fs::path(jobs.Folder()) / "000001"};
        EXPECT_EQ(job.Read("bytes.bin"), std::string("still printing\n\x10\x04\x01")) << how;
        EXPECT_EQ(Text(job.Record(), "ended"), "incomplete") << how;
        server_.reset();
    }
}

// The limits given on the command line hold: a job past --max-job-bytes is kept up to there and
// its connection closed; a connection silent for --idle-timeout is closed.
TEST_F(ServeTest, TheLimitsOfTheCommandLineHold) {
    CliChild& server =
        Start({"--listen", "127.0.0.1:0", "--jobs", Jobs(), "--max-job-bytes", "1000", "--idle-timeout", "0.5"});
    const std::string lines = [] {
        std::string l;
        for (int i = 0; l.size() < 5000; ++i) l += "line " + std::to_string(i) + "\n";
        return l;
    }();
    {
        Client big(port());
        ASSERT_TRUE(big.ok());
        big.Send(lines);  // the server may close it before all is sent
        ASSERT_TRUE(server.WaitForOutput("job 000001")) << server.Out();
    }
    Client silent(port());
    ASSERT_TRUE(silent.Send("hello\n"));
    ASSERT_TRUE(server.WaitForOutput("job 000002")) << server.Out();  // closed by the server, not the client
    EXPECT_TRUE(silent.Receive(1).empty());                           // the server's end: nothing more comes
    ASSERT_TRUE(server.Write("quit\n"));
    EXPECT_EQ(server.Code(), 0) << server.Err();

    EXPECT_EQ(Job(1).Read("bytes.bin"), lines.substr(0, 1000));
    const QJsonObject overLimit = Job(1).Record();
    EXPECT_EQ(Text(overLimit, "ended"), "over-limit");
    EXPECT_GE(Number(overLimit, "received"), 1000);
    EXPECT_EQ(Job(2).Read("bytes.bin"), "hello\n");
    EXPECT_EQ(Text(Job(2).Record(), "ended"), "idle");
}

// --serial with --baud: the server is the printer at the far end of a line (here the slave side of
// a pseudo-terminal pair, the test holding the master as the point-of-sale terminal would).
TEST_F(ServeTest, ASerialLineIsServedWithTheSettingsGiven) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    CliChild& server = Start({"--serial", name, "--baud", "19200", "--jobs", Jobs(), "--idle-end", "0.3"}, false);
    ASSERT_TRUE(server.WaitForError("on the serial line")) << server.Err();
    termios seen{};
    ::tcgetattr(slave, &seen);
    EXPECT_EQ(::cfgetospeed(&seen), static_cast<speed_t>(B19200));
    const std::string stream = "\x1b@serial receipt\n\x10\x04\x01";
    ASSERT_EQ(::write(master, stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
    char answer = 0;
    pollfd p{master, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    EXPECT_EQ(::read(master, &answer, 1), 1);  // DLE EOT 1 answered on the line
    ASSERT_TRUE(server.WaitForOutput("job 000001")) << server.Out();
    EXPECT_EQ(Job(1).Read("bytes.bin"), stream);
    const QJsonObject record = Job(1).Record();
    EXPECT_EQ(Text(record, "source"), std::string("serial:") + name);
    EXPECT_EQ(record.value("answers").toArray().size(), 1);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Code(), 0) << server.Err();
    ::close(slave);
    ::close(master);
}

// A job file that cannot be written (here: past the file size the program may write, as on a full
// disk) gives an error line and a job marked failed; the server goes on and writes the next job.
// A file size limit does not end the server, whether whoever started it ignores SIGXFSZ or not.
TEST_F(ServeTest, AJobThatCannotBeWrittenIsMarkedFailedAndTheServerGoesOn) {
    // Started by a starter that ignores SIGXFSZ, or by prlimit (SIGXFSZ as the system sets it).
    for (const bool prlimit : {false, true}) {
        const std::string name = prlimit ? "through prlimit" : "SIGXFSZ ignored by the starter";
        const ScratchFolder jobs("pellory_serve_fsize");
        const std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--jobs", jobs.Folder()};
        ChildProcess& server = prlimit ? StartLimited(args, "--fsize=20000")
                                       : static_cast<ChildProcess&>(Start(args, true, 20000));
        {
            Client big(port());
            ASSERT_TRUE(big.Send("big\n" + std::string(30000, '\0'))) << name;
        }
        ASSERT_TRUE(server.WaitForOutput("job 000001")) << name << ": " << server.Out() << server.Err();
        {
            Client small(port());
            ASSERT_TRUE(small.Send("small\n")) << name;
        }
        ASSERT_TRUE(server.WaitForOutput("job 000002")) << name << ": " << server.Out();
        ASSERT_TRUE(server.Write("quit\n"));
        EXPECT_EQ(server.Code(), 0) << name << ": " << server.Err();
        EXPECT_NE(server.Err().find("pellory-cli: job 000001: cannot write bytes.bin: File too large"),
                  std::string::npos)
            << name << ": " << server.Err();
        EXPECT_NE(server.Out().find("failed (cannot write bytes.bin: File too large)"), std::string::npos)
            << name << ": " << server.Out();
        const JobFolder failed{fs::path(jobs.Folder()) / "000001"};
        const JobFolder next{fs::path(jobs.Folder()) / "000002"};
        EXPECT_EQ(Text(failed.Record(), "ended"), "failed") << name;
        EXPECT_EQ(next.Read("bytes.bin"), "small\n") << name;
        EXPECT_EQ(Text(next.Record(), "ended"), "closed") << name;
        server_.reset();
        limited_.reset();
    }
}

TEST_F(ServeTest, FaultsAtStartEndWithTheirStatusAndSayWhy) {
    LoopbackListener taken;
    ASSERT_TRUE(taken.ok());
    const std::string inUse = "127.0.0.1:" + std::to_string(taken.port());
    const std::string file = scratch.Write("a-file", "x");
    // A jobs folder this process holds, as another server would.
    const std::string held = Path("held-jobs");
    jobs::JobRecorder holder({held}, {}, {});
    std::string why;
    ASSERT_TRUE(holder.open(&why)) << why;
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int code;
        std::string message;
        std::vector<std::string> before = {};  // options before the command
    };
    const std::vector<Case> cases = {
        {"the port in use", {"--listen", inUse, "--no-save"}, 2, inUse},
        {"a jobs folder below a file", {"--listen", "127.0.0.1:0", "--jobs", file + "/jobs"}, 4, "Not a directory"},
        {"a jobs folder another server uses",
         {"--listen", "127.0.0.1:0", "--jobs", held},
         4,
         "pellory-cli: the jobs folder " + held + " is in use by process " + std::to_string(::getpid()) + "\n"},
        {"a listen address without a port", {"--listen", "127.0.0.1"}, 3, "--listen"},
        {"an unknown state", {"--status", "paper-end,jammed"}, 3, "jammed"},
        {"no connections", {"--max-connections", "0"}, 3, "--max-connections"},
        {"both --jobs and --no-save", {"--jobs", "x", "--no-save"}, 3, "not both"},
        {"a handshake the server has not", {"--pty", "p", "--handshake", "dtr"}, 3, "dtr"},
        {"an unknown model", {"--model", "ORVA99"}, 3, "ORVA99"},
        {"line settings before the command", {"--pty", "p"}, 3, "--baud before \"serve\"", {"--baud", "19200"}},
        {"the web page's port in use",
         {"--listen", "127.0.0.1:0", "--no-save", "--http", inUse},
         2,
         "cannot serve the web page: " + inUse + ": Address already in use"},
        {"a web address that is not one", {"--http", "nowhere"}, 3, "--http: nowhere"},
        {"control without a web page", {"--http-control"}, 3, "--http-control needs --http HOST:PORT"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "serve");
        args.insert(args.begin(), c.before.begin(), c.before.end());
        CliChild child(args, Folder());
        EXPECT_EQ(child.Code(), c.code) << c.name << ": " << child.Err();
        EXPECT_NE(child.Err().find(c.message), std::string::npos) << c.name << ": " << child.Err();
    }
}

// GS ( k pL pH cn fn and its parameters.
std::string SymbolCommand(int cn, int fn, const std::string& rest = "") {
    const size_t n = 2 + rest.size();
    std::string head = "\x1D(k";
    for (const size_t b : {n & 0xFF, n >> 8, static_cast<size_t>(cn), static_cast<size_t>(fn)})
        head += static_cast<char>(b);
    return head + rest;
}

// GS ( k fn 82 against serve: the size of the stored symbol as the renderer draws it, its quiet
// zone left out (modules times their dots), and whether the ORVA80's 576 dots hold it.
TEST_F(ServeTest, TheSizeOfAStoredSymbolIsAnsweredAsItPrints) {
    struct Case {
        const char* name;
        std::string stream;
        const char* answer;  // hex
    };
    const Case cases[] = {
        // Version 1: 21 modules of 4 dots.
        {"QR code, level L, 7 bytes",
         SymbolCommand(49, 67, "\x04") + SymbolCommand(49, 69, "0") + SymbolCommand(49, 80, "0Pellory"),
         "37 36 38 34 1F 38 34 1F 31 1F 30 00"},
        // 30 bytes at level H need version 4: 33 modules of 3 dots.
        {"QR code, level H, 30 bytes",
         SymbolCommand(49, 67, "\x03") + SymbolCommand(49, 69, "3") +
             SymbolCommand(49, 80, "0https://pellory.example/r/1234"),
         "37 36 39 39 1F 39 39 1F 31 1F 30 00"},
        // Start 17, two indicators of 17, 2 columns of 17, stop 18: 103 modules of 2 dots; 5 rows
        // of 3 module widths.
        {"PDF417 of 2 columns and 5 rows",
         SymbolCommand(48, 65, "\x02") + SymbolCommand(48, 66, "\x05") + SymbolCommand(48, 67, "\x02") +
             SymbolCommand(48, 68, "\x03") + SymbolCommand(48, 69, "00") + SymbolCommand(48, 80, "0AB"),
         "37 2F 32 30 36 1F 33 30 1F 31 1F 30 00"},
        // 30 columns: 579 modules of 8 dots, wider than the paper.
        {"PDF417 wider than the paper",
         SymbolCommand(48, 65, "\x1E") + SymbolCommand(48, 66, "\x03") + SymbolCommand(48, 67, "\x08") +
             SymbolCommand(48, 68, "\x03") + SymbolCommand(48, 69, "00") + SymbolCommand(48, 80, "0AB"),
         "37 2F 34 36 33 32 1F 37 32 1F 31 1F 31 00"},
        // 3,000 bytes are more than a QR code holds (2,953 at most).
        {"QR code of data it cannot hold", SymbolCommand(49, 80, "0" + std::string(3000, 'a')),
         "37 36 30 1F 30 1F 31 1F 31 00"},
        {"nothing stored", "", "37 2F 30 1F 30 1F 31 1F 31 00"},
    };
    CliChild& server = Start({"--listen", "127.0.0.1:0", "--no-save"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Client printer(port());
        ASSERT_TRUE(printer.ok());
        const test::Bytes answer = test::HexBytes(c.answer);
        const int cn = answer[1] == 0x36 ? 49 : 48;
        ASSERT_TRUE(printer.Send(c.stream + SymbolCommand(cn, 82, "0")));
        const std::string got = printer.Receive(answer.size());
        EXPECT_EQ(test::HexText(reinterpret_cast<const uint8_t*>(got.data()), got.size()), c.answer);
    }
    ASSERT_TRUE(server.Write("quit\n"));
    EXPECT_EQ(server.Code(), 0) << server.Err();
}

// A port alone is 127.0.0.1, for the printer's address as for the web page's: no warning, and
// the printer answers there.
TEST_F(ServeTest, APortAloneIsTheLoopbackAddressForListenAndHttp) {
    CliChild& server = Start({"--listen", "0", "--no-save", "--http", "0"});
    ASSERT_TRUE(server.WaitForError("web page on http://127.0.0.1:")) << server.Err();
    EXPECT_EQ(server.Err().find("warning"), std::string::npos) << server.Err();
    Client printer(port());
    ASSERT_TRUE(printer.ok());
    ASSERT_TRUE(printer.Send("\x10\x04\x01"));
    EXPECT_EQ(printer.Receive(1), "\x12");
    ASSERT_TRUE(server.Write("quit\n"));
    EXPECT_EQ(server.Code(), 0) << server.Err();
}

// --http: the web page's address is said at start (with the warning of --listen when others can
// reach it); a job printed is its record under /api/jobs/N as in the jobs folder, and with
// --http-control a PUT of /api/status sets the state that "pellory-cli status" reads.
TEST_F(ServeTest, TheWebInterfaceShowsTheJobsAndSetsTheState) {
    CliChild& server = Start({"--listen", "127.0.0.1:0", "--jobs", Jobs(), "--http", "0.0.0.0:0", "--http-control"});
    std::string line;
    ASSERT_TRUE(server.WaitForError("web page on http://0.0.0.0:", &line)) << server.Err();
    const std::string address =
        line.substr(line.find("0.0.0.0:"), line.find('/', line.find("0.0.0.0:")) - line.find("0.0.0.0:"));
    EXPECT_TRUE(server.WaitForError("warning: " + address +
                                    " is not a loopback address: anyone who can reach it can print and read the "
                                    "printer's status"))
        << server.Err();
    const uint16_t web = static_cast<uint16_t>(std::stoi(address.substr(address.find(':') + 1)));
    const auto ask = [web](const std::string& request) {
        Client c(web);
        EXPECT_TRUE(c.ok());
        EXPECT_TRUE(c.Send(request));
        return c.Receive(1 << 16);
    };
    {
        Client printer(port());
        ASSERT_TRUE(printer.Send("Hello\n\x1dV\x00"));
    }
    ASSERT_TRUE(server.WaitForOutput("job 000001"));
    const std::string record = Job(1).Read("job.json");
    const std::string answer = ask("GET /api/jobs/1 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer.substr(answer.find("\r\n\r\n") + 4), record.substr(0, record.size() - 1)) << answer;
    const std::string body = "{\"paper-end\":true}";
    const std::string put =
        ask("PUT /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: "
            "application/json\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(put.rfind("HTTP/1.1 200", 0), 0u) << put;
    EXPECT_EQ(Status("tcp://127.0.0.1:" + std::to_string(port())),
              "Status: 04\nLamps: Paper Error\nStates: paper-end\n");
    ASSERT_TRUE(server.Write("quit\n"));
    EXPECT_EQ(server.Code(), 0) << server.Err();
}

// --json: every line of the standard output is one JSON object, a job's record, its receipts
// counted though none is saved. The server goes on after its standard input ends.
TEST_F(ServeTest, JsonLinesAreTheJobsRecords) {
    CliChild& server = Start({"--listen", "127.0.0.1:0", "--no-save", "--json", "--listen", "0.0.0.0:0"});
    EXPECT_TRUE(server.WaitForError("is not a loopback address: anyone who can reach it can print")) << server.Err();
    server.CloseInput();  // the end of standard input does not stop the server
    for (int i = 0; i < 3; ++i) {
        Client client(port());
        ASSERT_TRUE(client.Send("line " + std::to_string(i) + "\n"));
    }
    ASSERT_TRUE(server.WaitForOutput("\"number\":3"));
    ASSERT_TRUE(server.WaitUntilSignalsWatched());
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Code(), 0);
    std::string out = server.Out();
    size_t lines = 0;
    for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1, ++lines) {
        const std::string line = out.substr(at, end - at);
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size())));
        ASSERT_TRUE(doc.isObject()) << line;
        EXPECT_EQ(Number(doc.object(), "bytes"), 7) << line;
        EXPECT_EQ(Number(doc.object(), "receipts"), 1) << line;  // drawn and counted, though not saved
        EXPECT_TRUE(doc.object().value("folder").isNull()) << line;
    }
    EXPECT_EQ(lines, 3u) << out;
}

// Out of descriptors, the server says so once and takes no connection for a while, serves those it
// has, and takes new ones again once descriptors are free.
TEST_F(ServeTest, OutOfDescriptorsTheServerSaysSoOnceAndRecovers) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // UBSan's check of a virtual call makes a pipe to read memory with; without a descriptor to
    // spare it reports the call (and ends the server), whatever the server does.
    GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own";
#endif
    ChildProcess& server =
        StartLimited({"--listen", "127.0.0.1:0", "--no-save", "--max-connections", "200"}, "--nofile=24");
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 40; ++i) clients.push_back(std::make_unique<Client>(port()));
    const std::string out = "cannot accept connections: Too many open files; retrying";
    ASSERT_TRUE(server.WaitForError(out)) << server.Err();
    ASSERT_TRUE(clients.front()->Send("\x10\x04\x01"));
    EXPECT_EQ(clients.front()->Receive(1), "\x12");  // one it holds is served as ever
    platform::SleepMs(300);                          // accept() tried again meanwhile, and failed
    const auto said = [&](const std::string& what) {
        const std::string err = server.Err();
        size_t n = 0;
        for (size_t at = err.find(what); at != std::string::npos; at = err.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(said(out), 1u) << "said once while it lasts: " << server.Err();
    clients.clear();
    ASSERT_TRUE(server.WaitForError("accepting connections again")) << server.Err();
    Client after(port());
    ASSERT_TRUE(after.Send("\x10\x04\x01"));
    EXPECT_EQ(after.Receive(1), "\x12");
    ASSERT_TRUE(server.Write("quit\n"));
    EXPECT_EQ(server.Code(), 0) << server.Err();
    // The connections left in the listen queue may run it out once more: each time said once.
    EXPECT_EQ(said(out), said("accepting connections again")) << server.Err();
}

// SIGTERM with many slow jobs still to be drawn: the server ends within some seconds, not once
// every picture is drawn, and every job is in its folder with the bytes sent and a record; those
// it had no time for say so.
TEST_F(ServeTest, SigtermEndsSoonWhateverIsQueuedAndEveryJobKeepsItsBytesAndRecord) {
    constexpr int kJobs = 60;
    // Drawing them all takes far longer than this; the stop itself some 5 s.
    constexpr std::chrono::seconds kBound(15);
    CliChild& server = Start({"--listen", "127.0.0.1:0", "--jobs", Jobs()});
    std::vector<std::string> streams;
    for (int i = 0; i < kJobs; ++i) {
        // Some 600 m of paper, a letter every 32 mm (so that no run of it is blank paper drawn
        // short): hundreds of pictures to draw.
        std::string stream = "job " + std::to_string(i) + "\n";
        for (int k = 0; k < 20000; ++k) stream += "x\x1bJ\xff";
        streams.push_back(stream + "\x10\x04\x01");
        Client client(port());
        ASSERT_TRUE(client.ok());
        ASSERT_TRUE(client.Send(streams.back()));
        ASSERT_EQ(client.Receive(1).size(), 1u) << i;  // answered once every byte before it is in
    }
    ASSERT_TRUE(server.WaitUntilSignalsWatched());
    const auto signalled = std::chrono::steady_clock::now();
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Code(), 0) << server.Err();
    const auto took = std::chrono::steady_clock::now() - signalled;
    EXPECT_LT(took, kBound) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    int withoutPictures = 0;
    for (int n = 1; n <= kJobs; ++n) {
        const JobFolder job = Job(static_cast<uint64_t>(n));
        const std::string bytes = job.Read("bytes.bin");
        const auto sent = std::find(streams.begin(), streams.end(), bytes);
        EXPECT_NE(sent, streams.end()) << job.path << " holds " << bytes.size() << " bytes, none of the streams";
        const QJsonObject record = job.Record();
        EXPECT_EQ(Number(record, "number"), n);
        EXPECT_EQ(Number(record, "bytes"), static_cast<int64_t>(bytes.size()));
        if (Text(record, "cut_short") == "the server stopped before its pictures and decoding were made") {
            ++withoutPictures;
            EXPECT_EQ(Number(record, "receipts"), 0) << job.path;
        }
    }
    EXPECT_GT(withoutPictures, 0);
    EXPECT_EQ(FolderEntries(fs::path(Jobs())).size(), static_cast<size_t>(kJobs));
}

}  // namespace
}  // namespace pellory::test
