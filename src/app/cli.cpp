#include "app/cli.h"

#include <fstream>
#include <memory>

#include "app/cli_support.h"
#include "app/history_export.h"
#include "link/port_settings.h"
#include "pages/core/print_setup_actions.h"
#include "platform/port_map.h"
#include "vprinter/virtual_printer.h"

namespace pellory::app {

namespace {

using namespace cli;

// ---------------------------------------------------------------------------------------------
// Options before the command

struct GlobalOptions {
    std::string port = "COM1";
    pages::SetupSelection selection;
    std::optional<std::string> historyFile;
    bool echo = false;
    bool virtualPrinter = false;
    bool help = false;
};

bool ParseGlobal(const std::vector<std::string>& args, size_t& i, GlobalOptions& o, std::string& error) {
    static const std::vector<std::string> kValued = {"--port", "--baud",  "--parity", "--stop",
                                                     "--handshake", "--model", "--history"};
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            o.help = true;
            continue;
        }
        if (a == "--echo") {
            o.echo = true;
            continue;
        }
        if (a == "--virtual-printer") {
            o.virtualPrinter = true;
            continue;
        }
        if (a.empty() || a[0] != '-') return true;  // the command
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        if (std::find(kValued.begin(), kValued.end(), name) == kValued.end()) {
            error = "unknown option " + name;
            return false;
        }
        std::string value;
        if (eq != std::string::npos) {
            value = a.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = name + " needs a value";
            return false;
        }
        auto bad = [&](const std::string& expected) {
            error = name + ": \"" + value + "\" is not " + expected;
            return false;
        };
        if (name == "--port") {
            if (value.empty()) return bad("a port");
            o.port = value;
        } else if (name == "--baud") {
            if (!EntryIndex(pages::kBaudEntries, value)) return bad("one of " + JoinEntries(pages::kBaudEntries, ", "));
            o.selection.baudRate = pages::ReadEntryNumber(value);
        } else if (name == "--parity") {
            const std::optional<int> p = EntryIndex(kParityNames, value);
            if (!p) return bad("none, odd or even");
            o.selection.parity = *p;
        } else if (name == "--stop") {
            const std::optional<int32_t> code = pages::StopBitCode(value);
            if (!code) return bad("1 or 2");
            o.selection.stopBits = *code;
        } else if (name == "--handshake") {
            const std::optional<int> p = HandshakePosition(value);
            if (!p) return bad("none, cts, dtr or xon");
            o.selection.handshake = *p;
        } else if (name == "--model") {
            const std::optional<int> d = EntryIndex(pages::kDeviceEntries, value);
            if (!d) return bad("ORVA58 or ORVA80");
            o.selection.device = *d;
        } else {
            if (value.empty()) return bad("a file name");
            o.historyFile = value;
        }
    }
    return true;
}

// "COM3", "com3" and "3" name COM3 (set in number); any other text without a "COM" prefix is a
// device path (number stays 0). False for a number outside 1..1024 or "COM" without a number.
bool ParsePort(const std::string& text, int& number, std::string& error) {
    number = 0;
    std::string_view digits = text;
    const bool com = text.size() >= 3 && SameText(text.substr(0, 3), "COM");
    if (com) digits.remove_prefix(3);
    const bool allDigits = !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos;
    if (!allDigits) {
        if (!com) return true;  // a device path
        error = "--port: \"" + text + "\" is not COM1 .. COM" + std::to_string(platform::kMaxPortNumber);
        return false;
    }
    const std::optional<int32_t> n = SmallNumber(digits);
    if (!n || *n < platform::kMinPortNumber || *n > platform::kMaxPortNumber) {
        error = "--port: \"" + text + "\" is not COM1 .. COM" + std::to_string(platform::kMaxPortNumber);
        return false;
    }
    number = *n;
    return true;
}

// Maps one COM number to a path for the length of a run and puts back what was there before.
class PortBinding {
public:
    PortBinding() = default;
    PortBinding(const PortBinding&) = delete;
    PortBinding& operator=(const PortBinding&) = delete;
    ~PortBinding() {
        if (number_ == 0) return;
        platform::PortMap& ports = platform::PortMap::instance();
        ports.clearOverride(number_);
        if (previous_) ports.setOverride(number_, previous_->path, previous_->description);
    }

    void Bind(int n, const std::string& path, const std::string& description) {
        platform::PortMap& ports = platform::PortMap::instance();
        const std::optional<platform::PortEntry> before = ports.resolve(n);
        if (before && before->source == platform::PortEntry::Source::Override) previous_ = before;
        ports.setOverride(n, path, description);
        number_ = n;
    }

    // The highest COM number that nothing maps now (0 when every one is taken).
    static int FreeNumber() {
        platform::PortMap& ports = platform::PortMap::instance();
        for (int n = platform::kMaxPortNumber; n >= platform::kMinPortNumber; --n) {
            if (!ports.resolve(n)) return n;
        }
        return 0;
    }

private:
    int number_ = 0;
    std::optional<platform::PortEntry> previous_;
};

// Puts the process-wide settings back when a run ends.
class SettingsGuard {
public:
    SettingsGuard() : settings_(link::PortSettings), width_(link::PrintableWidth), ready_(pages::ReadyFlag) {}
    ~SettingsGuard() {
        link::PortSettings = settings_;
        link::PrintableWidth = width_;
        pages::ReadyFlag = ready_;
    }
    SettingsGuard(const SettingsGuard&) = delete;
    SettingsGuard& operator=(const SettingsGuard&) = delete;

private:
    link::PortSettingsRecord settings_;
    int32_t width_;
    bool ready_;
};

std::string CommandUsageText(const Command& c) {
    std::string text = std::string("Usage: ") + kCliProgram + " [options] " + c.synopsis + "\n" + c.summary + "\n";
    if (!c.details.empty()) text += "\n" + c.details;
    return text;
}

int BadArguments(std::ostream& err, const std::string& error, const char* command) {
    err << kCliProgram << ": " << error << '\n';
    if (command) {
        err << "Run \"" << kCliProgram << ' ' << command << " --help\" for its arguments.\n";
    } else {
        err << "Run \"" << kCliProgram << " --help\" for the options and commands.\n";
    }
    return kCliRefused;
}

bool WriteHistoryFile(const std::string& path, const std::vector<std::string>& rows, std::ostream& err) {
    const std::string content = HistoryFileContent(rows);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) file.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (file) file.close();
    if (file) return true;
    err << kOperationFailedText << '\n' << "Cannot write the history to " << path << ".\n";
    return false;
}

}  // namespace


std::vector<std::string> CliCommands() {
    std::vector<std::string> names;
    for (const Command& c : Commands()) names.emplace_back(c.name);
    return names;
}

std::optional<std::string> CliCommandUsage(std::string_view command) {
    const Command* c = FindCommand(command);
    if (!c) return std::nullopt;
    return CommandUsageText(*c);
}

std::string CliUsage() {
    std::string text = std::string("Usage: ") + kCliProgram +
                       " [options] COMMAND [ARGS]\n"
                       "Runs one Pellory action on a serial receipt printer (ORVA58, ORVA80): the same bytes\n"
                       "and history rows as the same action in the window.\n"
                       "\n"
                       "Options:\n"
                       "  --port P           COMn (or n) through the port map, or a device path (default COM1)\n"
                       "  --baud N           2400, 4800, 9600, 19200, 38400, 57600 or 115200 (default 9600)\n"
                       "  --parity P         none, odd or even (default none)\n"
                       "  --stop N           1 or 2 stop bits (default 1)\n"
                       "  --handshake H      none, cts, dtr or xon (default cts)\n"
                       "  --model M          ORVA58 or ORVA80 (default ORVA58; sets the printable width)\n"
                       "  --history FILE     afterwards write the command's history rows to FILE, as \"Save...\"\n"
                       "  --echo             print each history row as it is made: hex, a tab, its reading\n"
                       "  --virtual-printer  run against a built-in virtual printer on the port\n"
                       "  -h, --help         show this text\n"
                       "\n"
                       "Commands:\n";
    for (const Command& c : Commands()) {
        std::string line = std::string("  ") + c.name;
        line.resize(std::max<size_t>(line.size() + 1, 21), ' ');
        text += line + c.summary + "\n";
    }
    text += std::string("\"") + kCliProgram +
            " COMMAND --help\" shows a command's arguments.\n"
            "\n"
            "Messages go to standard error. Exit status: 0 done, 1 the printer did not answer,\n"
            "2 the port could not be opened, 3 bad arguments or data refused, 4 a file could not\n"
            "be read.\n";
    return text;
}

namespace {

// What the arguments ask for, once they have been read and found sound.
struct PlannedRun {
    GlobalOptions options;
    Action action;
    int portNumber = 0;
};

// Reads the arguments without opening or reading anything. Returns the exit status when the run
// ends here (a usage text shown, or the arguments refused with their message); otherwise fills
// plan and returns nothing.
std::optional<int> PlanRun(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                           PlannedRun& plan) {
    GlobalOptions& options = plan.options;
    size_t i = 0;
    std::string error;
    if (!ParseGlobal(args, i, options, error)) {
        if (options.help) {
            out << CliUsage();
            return kCliDone;
        }
        return BadArguments(err, error, nullptr);
    }
    if (options.help) {
        out << CliUsage();
        return kCliDone;
    }
    if (i >= args.size()) return BadArguments(err, "no command given", nullptr);

    std::string commandName = args[i++];
    std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    if (commandName == "help") {
        if (rest.empty()) {
            out << CliUsage();
            return kCliDone;
        }
        const std::optional<std::string> usage = CliCommandUsage(rest[0]);
        if (!usage || rest.size() > 1) return BadArguments(err, "unknown command \"" + rest[0] + "\"", nullptr);
        out << *usage;
        return kCliDone;
    }
    const Command* command = FindCommand(commandName);
    if (!command) return BadArguments(err, "unknown command \"" + commandName + "\"", nullptr);

    ParsedArgs parsed;
    const bool argsOk = ParseArgs(rest, command->rules, parsed, error);
    if (parsed.help) {
        out << CommandUsageText(*command);
        return kCliDone;
    }
    if (!argsOk) return BadArguments(err, error, command->name);
    std::optional<Action> action = command->prepare(parsed, error);
    if (!action) return BadArguments(err, error, command->name);
    plan.action = std::move(*action);

    if (!ParsePort(options.port, plan.portNumber, error)) return BadArguments(err, error, nullptr);
    if (plan.portNumber == 0 && options.virtualPrinter) {
        return BadArguments(err, "--virtual-printer takes a COM port, not a device path", nullptr);
    }
    return std::nullopt;
}

}  // namespace

int CheckCliArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    PlannedRun plan;
    return PlanRun(args, out, err, plan).value_or(kCliDone);
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    PlannedRun plan;
    if (const std::optional<int> code = PlanRun(args, out, err, plan)) return *code;
    const GlobalOptions& options = plan.options;
    int portNumber = plan.portNumber;
    std::string error;

    SettingsGuard settingsGuard;
    // Declared before the binding and the session: the printer outlives every link that may
    // have it open, and its number is unmapped before it stops.
    vprinter::VirtualPrinter printer;
    PortBinding binding;
    if (options.virtualPrinter) {
        if (!printer.start(&error)) {
            err << kCliProgram << ": the virtual printer cannot start: " << error << '\n';
            return kCliOpenFailed;
        }
        binding.Bind(portNumber, printer.slavePath(), "Pellory virtual printer");
    } else if (portNumber == 0) {
        portNumber = PortBinding::FreeNumber();
        if (portNumber == 0) {
            err << kCliProgram << ": no free COM number for " << options.port << '\n';
            return kCliOpenFailed;
        }
        binding.Bind(portNumber, options.port, "set by --port");
    }

    int code = kCliDone;
    std::vector<std::string> rows;
    {
        Session session(out, err, options.echo);
        session.setup.SetPrompt(&session.prompt);
        session.setup.SetMainWindow(&session.history);
        // What the window's start-up does: "COM Setup" writes the settings, then the ready flag.
        pages::SetupSelection selection = options.selection;
        selection.portNumber = portNumber;
        session.setup.Start(selection);
        pages::ReadyFlag = true;

        code = plan.action(session);
        rows = session.history.Rows();
    }
    if (options.historyFile && !WriteHistoryFile(*options.historyFile, rows, err) && code == kCliDone) {
        code = kCliFileUnreadable;
    }
    out.flush();
    return code;
}

}  // namespace pellory::app
