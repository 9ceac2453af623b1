// "pellory-cli serve": the printer server as a program of its own. It is the virtual printer on TCP
// addresses, serial lines and a pseudo-terminal at once, writes each job it receives to the jobs
// folder (jobs/job_recorder.h), prints a line per job, and takes the printer's state from standard
// input, until SIGINT, SIGTERM or "quit" end it: it stops accepting, writes every job received so
// far and ends with status 0.
#include <chrono>
#include <cmath>
#include <csignal>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/bounded_input.h"
#include "cli/cli_support.h"
#include "cli/printer_station.h"
#include "jobs/job_folder.h"
#include "jobs/job_recorder.h"
#include "pages/core/setup_actions.h"
#include "platform/device_kind.h"
#include "platform/threads.h"
#include "protocol/model_profile.h"
#include "vprinter/printer_server.h"
#include "vprinter/printer_state.h"
#include "web/host_names.h"
#include "web/web_server.h"

namespace pellory::app::cli {

namespace {

constexpr const char* kDefaultListen = "127.0.0.1:9100";
constexpr const char* kDefaultJobs = "pellory-jobs";
// The longest a read of standard input waits before it looks at the stop request again.
constexpr int kInputWaitMs = 100;
// A command line on standard input longer than this is not a command; it is passed over.
constexpr size_t kMaxInputLine = 4096;
// The jobs the recorder's queue holds at most with the spool (each a record without its bytes).
constexpr size_t kSpooledQueuedJobs = 4096;

struct ServePlan {
    vprinter::ServerOptions server;
    std::optional<std::string> jobs;  // nothing: --no-save
    bool json = false;
    std::optional<web::WebOptions> web;  // --http
    jobs::JobBounds bounds = jobs::kDefaultJobBounds;  // --max-pictures, --max-output-bytes, --max-write-seconds
};

// Whole or decimal seconds, at most some three weeks.
std::optional<std::chrono::milliseconds> ReadSeconds(const std::string& text) {
    const bool digitsOnly = !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
    if (!digitsOnly) return std::nullopt;
    size_t used = 0;
    double seconds = -1;
    try {
        seconds = std::stod(text, &used);
    } catch (...) {
        return std::nullopt;
    }
    if (used != text.size() || !(seconds >= 0) || seconds > 2000000.0) return std::nullopt;
    return std::chrono::milliseconds(std::llround(seconds * 1000.0));
}

std::optional<uint64_t> ReadCount(const std::string& text, uint64_t least, uint64_t most) {
    if (text.empty() || text.size() > 18 || !platform::AllDigits(text)) return std::nullopt;
    const uint64_t n = std::stoull(text);
    if (n < least || n > most) return std::nullopt;
    return n;
}

// The address of --listen and --http (option): HOST:PORT, or a port alone for the loopback address.
std::optional<vprinter::ListenAddress> ReadServeAddress(const char* option, const std::string& text,
                                                        std::string& error) {
    if (!text.empty() && text.size() <= 5 && platform::AllDigits(text)) {
        const std::optional<uint64_t> port = ReadCount(text, 0, 65535);
        if (port) return vprinter::ListenAddress{"127.0.0.1", static_cast<uint16_t>(*port)};
    }
    std::string why;
    const std::optional<vprinter::ListenAddress> address = vprinter::ParseListenAddress(text, &why);
    if (!address) {
        error = std::string(option) + ": " + platform::PrintableText(why.empty() ? text + ": not HOST:PORT" : why);
    }
    return address;
}

std::string StateNames() {
    std::string names;
    for (const vprinter::StateName& s : vprinter::kStateNames)
        names += (names.empty() ? "" : ", ") + std::string(s.name);
    return names;
}

// The line settings of --serial: as the other commands read them (after "serve"); handshake none
// unless given.
bool ReadLine(const ParsedArgs& a, vprinter::LineEndpoint& line, std::string& error) {
    if (const auto v = a.Value("--baud")) {
        if (!EntryIndex(pages::kBaudEntries, *v)) {
            error = "--baud: \"" + *v + "\" is not one of " + JoinEntries(pages::kBaudEntries, ", ");
            return false;
        }
        line.baud = static_cast<uint32_t>(pages::ReadEntryNumber(*v));
    }
    if (const auto v = a.Value("--parity")) {
        const std::optional<int> p = EntryIndex(kParityNames, *v);
        if (!p) {
            error = "--parity: \"" + *v + "\" is not none, odd or even";
            return false;
        }
        line.parity = "NOE"[*p];
    }
    if (const auto v = a.Value("--stop")) {
        if (*v != "1" && *v != "2") {
            error = "--stop: \"" + *v + "\" is not 1 or 2";
            return false;
        }
        line.stopBits = static_cast<uint8_t>((*v)[0] - '0');
    }
    if (const auto v = a.Value("--handshake")) {
        const std::optional<int> h = HandshakePosition(*v);
        if (!h || *h == 2) {
            error = "--handshake: \"" + *v + "\" is not none, cts or xon (the server does not take dtr)";
            return false;
        }
        line.handshake = "NH?X"[*h];
    }
    return true;
}

std::optional<ServePlan> ReadServe(const ParsedArgs& a, std::string& error) {
    if (!PositionalCount(a, 0, "", error)) return std::nullopt;
    ServePlan plan;
    vprinter::ServerOptions& o = plan.server;
    std::optional<protocol::Model> model;
    if (!ReadModelOption(a, model, error)) return std::nullopt;
    if (model) o.model = *model;
    for (const std::string& text : a.Values("--listen")) {
        const std::optional<vprinter::ListenAddress> address = ReadServeAddress("--listen", text, error);
        if (!address) return std::nullopt;
        o.listen.push_back(*address);
    }
    vprinter::LineEndpoint settings;
    if (!ReadLine(a, settings, error)) return std::nullopt;
    for (const std::string& path : a.Values("--serial")) {
        if (path.empty()) {
            error = "--serial needs a device path";
            return std::nullopt;
        }
        vprinter::LineEndpoint line = settings;
        line.path = path;
        o.lines.push_back(line);
    }
#ifdef _WIN32
    if (!a.Values("--pty").empty()) {
        error = "--pty: Windows has no pseudo-terminals: serve a COM line (--serial COM3) or a TCP address (--listen)";
        return std::nullopt;
    }
#endif
    for (const std::string& link : a.Values("--pty")) {
        vprinter::LineEndpoint line = settings;
        line.kind = vprinter::LineEndpoint::Kind::Pty;
        line.path = link;
        o.lines.push_back(line);
    }
    if (o.listen.empty() && o.lines.empty()) o.listen.push_back(*vprinter::ParseListenAddress(kDefaultListen));
    if (const auto v = a.Value("--status")) {
        std::string unknown;
        const std::optional<vprinter::States> s = vprinter::ParseStates(*v, &unknown);
        if (!s) {
            error = "--status: \"" + unknown + "\" is not one of " + StateNames();
            return std::nullopt;
        }
        o.states = *s;
    }
    struct Count {
        const char* name;
        uint64_t least, most;
        size_t* into;
    };
    for (const Count& c : {Count{"--max-connections", 1, 4096, &o.maxConnections},
                           Count{"--max-job-bytes", 1, uint64_t{1} << 40, &o.maxJobBytes},
                           Count{"--max-pictures", 0, 1000000, &plan.bounds.maxPictures}}) {
        if (const auto v = a.Value(c.name)) {
            const std::optional<uint64_t> n = ReadCount(*v, c.least, c.most);
            if (!n) {
                error = std::string(c.name) + ": \"" + *v + "\" is not a number from " + std::to_string(c.least) +
                        " to " + std::to_string(c.most);
                return std::nullopt;
            }
            *c.into = static_cast<size_t>(*n);
        }
    }
    for (const auto& [name, into] :
         {std::pair{"--idle-end", &o.idleEnd}, std::pair{"--idle-timeout", &o.idleTimeout}}) {
        if (const auto v = a.Value(name)) {
            const std::optional<std::chrono::milliseconds> ms = ReadSeconds(*v);
            if (!ms || ms->count() == 0) {
                error = std::string(name) + ": \"" + *v + "\" is not a number of seconds above 0";
                return std::nullopt;
            }
            *into = *ms;
        }
    }
    if (const auto v = a.Value("--max-output-bytes")) {
        constexpr uint64_t kLeast = 65536, kMost = uint64_t{1} << 40;
        const std::optional<uint64_t> n = ReadCount(*v, 0, kMost);
        if (!n || (*n != 0 && *n < kLeast)) {
            error = "--max-output-bytes: \"" + *v + "\" is not 0 or a number from " + std::to_string(kLeast) + " to " +
                    std::to_string(kMost);
            return std::nullopt;
        }
        plan.bounds.maxOutputBytes = *n;
    }
    if (const auto v = a.Value("--max-write-seconds")) {
        const std::optional<std::chrono::milliseconds> ms = ReadSeconds(*v);
        if (!ms) {
            error = "--max-write-seconds: \"" + *v + "\" is not a number of seconds (0: no bound)";
            return std::nullopt;
        }
        plan.bounds.maxWriterTime = *ms;
    }
    if (a.Flag("--no-save") && a.Value("--jobs")) {
        error = "give --jobs DIR or --no-save, not both";
        return std::nullopt;
    }
    if (!a.Flag("--no-save")) {
        plan.jobs = a.Value("--jobs").value_or(kDefaultJobs);
        if (plan.jobs->empty()) {
            error = "--jobs needs a folder";
            return std::nullopt;
        }
    }
    plan.json = a.Flag("--json");
    if (const auto v = a.Value("--http")) {
        const std::optional<vprinter::ListenAddress> address = ReadServeAddress("--http", *v, error);
        if (!address) return std::nullopt;
        web::WebOptions w;
        w.address = *address;
        w.control = a.Flag("--http-control");
        w.model = o.model;
        for (const std::string& name : a.Values("--http-host")) {
            if (!web::IsHostName(name)) {
                error = "--http-host: \"" + platform::PrintableText(name) +
                        "\" is not a host name (letters, digits, '-' and '.', or an IPv6 address in brackets)";
                return std::nullopt;
            }
            w.hosts.push_back(name);
        }
        plan.web = w;
    } else if (a.Flag("--http-control") || !a.Values("--http-host").empty()) {
        error = std::string(a.Flag("--http-control") ? "--http-control" : "--http-host") + " needs --http HOST:PORT";
        return std::nullopt;
    }
    return plan;
}

// Standard input, a line at a time, read in bounded waits that watch the stop request. The end of
// the input stops the reading, not the server.
class InputLines {
public:
    // The next line (without its end), or nothing when none came within one wait.
    std::optional<std::string> next() {
        if (const std::optional<std::string> line = take()) return line;
        if (ended_) return std::nullopt;
        if (!opened_) opened_ = input_.open("-");
        char buffer[4096];
        const long long n = opened_ ? input_.read(buffer, sizeof buffer, kInputWaitMs) : BoundedInput::kFailed;
        if (n == BoundedInput::kNothingYet) return std::nullopt;
        if (n <= 0) {
            ended_ = true;
            if (!pending_.empty() && !overlong_) return std::exchange(pending_, {});
            return std::nullopt;
        }
        pending_.append(buffer, static_cast<size_t>(n));
        return take();
    }
    bool ended() const { return ended_; }

private:
    BoundedInput input_;
    bool opened_ = false;

    std::optional<std::string> take() {
        for (;;) {
            const size_t end = pending_.find('\n');
            if (end == std::string::npos) {
                if (pending_.size() > kMaxInputLine) {
                    pending_.clear();
                    overlong_ = true;
                }
                return std::nullopt;
            }
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            const bool skip = overlong_;
            overlong_ = false;
            if (!skip) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
        }
    }
    std::string pending_;
    bool ended_ = false;
    bool overlong_ = false;  // the line being read is too long; it is passed over
};

// The output of the run: job lines and state answers on the standard output, messages on the
// standard error, from the writer thread and the main thread alike.
class ServeOutput {
public:
    ServeOutput(Session& s, bool json) : s_(s), json_(json) {}

    void job(const jobs::RecordedJob& r) { line(json_ ? r.json : jobs::JobLine(r)); }
    void state(vprinter::States states) {
        const std::string text = vprinter::StatesText(states);
        line(json_ ? "{\"state\":\"" + text + "\"}" : "state: " + text);
    }
    void message(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        s_.err << kCliProgram << ": " << text << '\n';
        s_.err.flush();
    }

private:
    void line(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        s_.out << text << '\n';
        s_.out.flush();
    }
    Session& s_;
    bool json_;
    std::mutex mutex_;
};

// One command of standard input. False for "quit".
bool Obey(const std::string& line, vprinter::PrinterServer& server, ServeOutput& output) {
    std::string command = line;
    command.erase(0, command.find_first_not_of(" \t"));
    command.erase(command.find_last_not_of(" \t") + 1);
    if (command.empty()) return true;
    if (command == "quit") return false;
    if (command == "status") {
        output.state(server.states());
        return true;
    }
    const size_t space = command.find(' ');
    const std::string verb = command.substr(0, space);
    const std::string name = space == std::string::npos ? "" : command.substr(command.find_first_not_of(' ', space));
    if (verb != "set" && verb != "clear") {
        output.message("unknown command \"" + platform::PrintableText(command) +
                       "\" (set STATE, clear STATE, status or quit)");
        return true;
    }
    const std::optional<vprinter::StateBit> bit = vprinter::StateByName(name);
    if (!bit) {
        output.message(verb + ": \"" + platform::PrintableText(name) + "\" is not one of " + StateNames());
        return true;
    }
    if (verb == "set") {
        server.set(*bit);
    } else {
        server.clear(*bit);
    }
    output.state(server.states());
    return true;
}

int Serve(Session& s, const ServePlan& plan) {
    // A file size limit (a service manager's) makes a write past it fail with EFBIG, which fails
    // that job alone, instead of ending the server.
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    ServeOutput output(s, plan.json);
    StationOptions station;
    station.server = plan.server;
    station.web = plan.web;
    jobs::JobRecorder::Options& recording = station.recording;
    recording.folder = plan.jobs.value_or("");
    recording.widthDots = protocol::ProfileOf(plan.server.model).paperDots;
    recording.bounds = plan.bounds;
    // Spooled jobs are queued without their bytes: many may wait.
    if (plan.jobs) recording.maxQueuedJobs = kSpooledQueuedJobs;
    // While other jobs wait, a job is on disk and reported with its bytes, decoding and record,
    // its pictures following.
    recording.pictures = jobs::JobRecorder::Options::Pictures::AfterRecordWhileJobsWait;
    PrinterStation printer(
        std::move(station), [&output](const jobs::RecordedJob& r) { output.job(r); },
        [&output](const std::string& line) { output.message(line); });
    std::string why;
    if (!printer.open(&why)) {
        const std::string folder = platform::PrintableText(plan.jobs.value_or(""));
        output.message(printer.folderInUse() ? "the jobs folder " + folder + " is " + why
                                             : "cannot write the jobs folder " + folder + ": " + why);
        return kCliFileUnreadable;
    }
    vprinter::PrinterServer& server = printer.server();
    if (!printer.start(&why)) {
        output.message("cannot start the printer server: " + why);
        return kCliOpenFailed;
    }
    for (const vprinter::ListenAddress& a : server.boundAddresses()) {
        output.message("listening on " + vprinter::ListenAddressText(a));
        if (const std::string warning = vprinter::NotLoopbackWarning(a); !warning.empty()) output.message(warning);
    }
    if (plan.web) {
        if (!printer.startWeb(&why)) {
            output.message("cannot serve the web page: " + why);
            return kCliOpenFailed;
        }
        const vprinter::ListenAddress bound = printer.web()->boundAddress();
        output.message("web page on http://" + vprinter::ListenAddressText(bound) + "/" +
                       (plan.web->control ? " (its boxes change the state)" : ""));
        if (const std::string warning = vprinter::NotLoopbackWarning(bound); !warning.empty()) output.message(warning);
    }
    const std::vector<std::string> ptys = server.ptyPaths();
    size_t pty = 0;
    for (const vprinter::LineEndpoint& line : plan.server.lines) {
        if (line.kind == vprinter::LineEndpoint::Kind::Serial) {
            output.message("on the serial line " + platform::PrintableText(line.path));
        } else if (pty < ptys.size()) {
            output.message("on the pseudo-terminal " + ptys[pty++] +
                           (line.path.empty() ? "" : " (link " + platform::PrintableText(line.path) + ")"));
        }
    }
    output.message(std::string("model ") + protocol::ProfileOf(plan.server.model).name + ", state " +
                   vprinter::StatesText(server.states()) + "; " +
                   (plan.jobs ? "jobs written to " + platform::PrintableText(*plan.jobs) + " from " +
                                    jobs::JobFolderName(printer.recorder().firstNumber())
                              : std::string("jobs not saved")));

    InputLines input;
    bool quit = false;
    while (!quit && !Session::Stopping()) {
        if (input.ended()) {
            platform::SleepMs(kInputWaitMs);
            continue;
        }
        if (const std::optional<std::string> line = input.next()) quit = !Obey(*line, server, output);
    }
    // No request answered from here on, every job in progress handed to the recorder and written,
    // within its time for pictures.
    printer.stop();
    const uint64_t written = printer.recorder().written();
    output.message("stopped; " + std::to_string(written) + (written == 1 ? " job" : " jobs") + " received");
    return kCliDone;
}

}  // namespace

Command ServeCommand() {
    return {
        "serve",
        "serve [--listen HOST:PORT]... [--serial PATH]... [--pty LINK] [--model ORVA58|ORVA80] "
        "[--jobs DIR | --no-save] [--json] [--status STATE[,STATE...]] "
        "[--http HOST:PORT [--http-control] [--http-host NAME]...] "
        "[LIMITS]",
        "Stands in for a printer that other software prints to, until stopped.",
        "A virtual printer on TCP addresses, serial lines and a pseudo-terminal at once: it\n"
        "answers the status requests drivers make and writes each job it receives to DIR.\n"
        "  --listen HOST:PORT   an address to listen on (repeatable; default 127.0.0.1:9100;\n"
        "                       [::1]:9100, 0.0.0.0:9100, :9100 for every address; a port\n"
        "                       alone: 127.0.0.1)\n"
        "  --serial PATH        be the printer on a serial line (repeatable), with --baud,\n"
        "                       --parity, --stop and --handshake none|cts|xon (default none)\n"
        "  --pty LINK           a pseudo-terminal, with a symbolic link LINK to it\n"
        "  --model M            ORVA58 or ORVA80 (default ORVA80): paper width, model name\n"
        "  --jobs DIR           where jobs are written (default pellory-jobs); --no-save: nowhere\n"
        "  --json               a JSON object per job on standard output, not a readable line\n"
        "  --status STATES      the state at start: " +
            StateNames() +
            "\n"
            "  --http HOST:PORT     a web page of the jobs and the state, and their JSON under /api/\n"
            "                       (a port alone: 127.0.0.1); --http-control: the page and PUT\n"
            "                       /api/status may change the state; --http-host NAME: a name\n"
            "                       the page may be asked for by besides this machine's (repeatable)\n"
            "LIMITS: --max-connections N (default 16), --max-job-bytes N (default 16777216),\n"
            "--idle-end SECONDS (default 2: silence on a line that ends a job), --idle-timeout\n"
            "SECONDS (default 60: a silent connection is closed). What one job makes at most, past\n"
            "which it is cut short: --max-pictures N (default 500), --max-output-bytes N (pictures\n"
            "and decoding; default 67108864), --max-write-seconds SECONDS (default 30); 0: no bound.\n"
            "Standard input takes set STATE, clear STATE, status and quit, one a line. SIGINT,\n"
            "SIGTERM and quit stop it within some 5 s: every job received is written (pictures\n"
            "while time allows), and the status is 0. Status 2: an address or line could not be\n"
            "opened; 4: the jobs folder cannot be written, or another server uses it.\n",
        {{"--listen", "--serial", "--pty", "--baud", "--parity", "--stop", "--handshake", "--model", "--jobs",
          "--status", "--max-connections", "--max-job-bytes", "--idle-end", "--idle-timeout", "--http", "--http-host",
          "--max-pictures", "--max-output-bytes", "--max-write-seconds"},
         {"--no-save", "--json", "--http-control"}},
        [](const ParsedArgs& a, std::string& error) -> std::optional<Action> {
            std::optional<ServePlan> plan = ReadServe(a, error);
            if (!plan) return std::nullopt;
            return [plan = std::move(*plan)](Session& s) { return Serve(s, plan); };
        }};
}

}  // namespace pellory::app::cli
