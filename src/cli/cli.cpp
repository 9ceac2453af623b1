#include "cli/cli.h"

#include <csignal>
#include <memory>
#include <optional>

#include "charset/printer_record.h"
#include "cli/cli_support.h"
#include "cli/own_printer.h"
#include "history/history_export.h"
#include "link/port_messages.h"
#include "link/port_settings.h"
#include "pages/core/print_setup_actions.h"
#include "pellory_version.h"
#include "platform/device_kind.h"
#include "platform/port_map.h"
#include "platform/stop_request.h"
#include "receipt/characters.h"
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
    std::optional<std::string> receiptFile;
    bool echo = false;
    bool virtualPrinter = false;
    bool virtualPrinterOnNetwork = false;  // --virtual-printer=tcp
    bool answersStatus = true;             // --no-status turns it off
    bool help = false;
    std::string encoding = "bytes";
    int charsetN = -1;  // --charset N, -1 when not given
    charset::KanjiSystem kanji = charset::ModelKanjiSystem(protocol::kStartModel);  // --kanji
    bool version = false;
};

bool ParseGlobal(const std::vector<std::string>& args, size_t& i, GlobalOptions& o, std::string& error) {
    static const std::vector<std::string> kValued = {"--port", "--baud",  "--parity", "--stop",
                                                     "--handshake", "--model", "--history", "--encoding",
                                                     "--charset", "--receipt", "--kanji"};
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            o.help = true;
            continue;
        }
        if (a == "--version") {
            o.version = true;
            continue;
        }
        if (a == "--echo") {
            o.echo = true;
            continue;
        }
        if (a == "--virtual-printer" || a == "--virtual-printer=pty" || a == "--virtual-printer=tcp") {
            o.virtualPrinter = true;
            o.virtualPrinterOnNetwork = a == "--virtual-printer=tcp";
            continue;
        }
        if (a == "--no-status") {
            o.answersStatus = false;
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
            error = name + ": \"" + platform::PrintableText(value) + "\" is not " + expected;
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
        } else if (name == "--encoding") {
            std::optional<charset::PrinterState> unused;
            std::string why;
            if (!ResolveEncoding(value, -1, unused, why)) {
                // A name of a table whose converter the system lacks says so; any other, the names.
                if (why.find(" is not one of ") != std::string::npos) return bad("one of " + EncodingNames());
                error = why;
                return false;
            }
            o.encoding = value;
        } else if (name == "--kanji") {
            const std::optional<charset::KanjiSystem> system = KanjiModelOf(value);
            if (!system) return bad("one of " + KanjiModelNames());
            o.kanji = *system;
        } else if (name == "--charset") {
            const std::optional<int32_t> n = platform::ReadDigits(value);
            if (!n || *n > 15) return bad("a character set 0 .. 15");
            o.charsetN = *n;
        } else if (name == "--receipt") {
            if (value.empty()) return bad("a file name");
            o.receiptFile = value;
        } else {
            if (value.empty()) return bad("a file name");
            o.historyFile = value;
        }
    }
    return true;
}

// "COM3", "com3" and "3" name COM3 (set in number); any other text without a "COM" prefix is a
// device path (number stays 0). False for a number outside 1..1024, "COM" without a number, or a
// network address that is not of the form tcp://HOST[:PORT].
bool ParsePort(const std::string& text, int& number, std::string& error) {
    number = 0;
    if (platform::IsNetworkEntry(text)) {
        std::string why;
        if (platform::ParseNetworkEntry(text, &why)) return true;
        error = "--port: " + why;
        return false;
    }
    std::string_view digits = text;
    const bool com = text.size() >= 3 && SameText(text.substr(0, 3), "COM");
    if (com) digits.remove_prefix(3);
    if (!platform::AllDigits(digits)) {
        if (!com) return true;  // a device path
        error = "--port: \"" + platform::PrintableText(text) + "\" is not COM1 .. COM" +
                std::to_string(platform::kMaxPortNumber);
        return false;
    }
    const std::optional<int32_t> n = platform::ReadDigits(digits);
    if (!n || *n < platform::kMinPortNumber || *n > platform::kMaxPortNumber) {
        error = "--port: \"" + platform::PrintableText(text) + "\" is not COM1 .. COM" +
                std::to_string(platform::kMaxPortNumber);
        return false;
    }
    number = *n;
    return true;
}

// Puts the process-wide settings back when a run ends.
class SettingsGuard {
public:
    SettingsGuard()
        : settings_(link::PortSettings), width_(link::PrintableWidth), ready_(pages::ReadyFlag),
          characters_(charset::LastPrinterState()), kanjiModel_(receipt::CurrentKanjiModel()) {}
    ~SettingsGuard() {
        receipt::SetKanjiModel(kanjiModel_);
        link::PortSettings = settings_;
        link::PrintableWidth = width_;
        pages::ReadyFlag = ready_;
        // "set codetable", "set charset" and "set kanji" record the printer's characters.
        charset::RecordCodeTable(characters_.table);
        charset::RecordInternationalSet(characters_.internationalSet);
        charset::RecordKanji(characters_.kanji);
    }
    SettingsGuard(const SettingsGuard&) = delete;
    SettingsGuard& operator=(const SettingsGuard&) = delete;

private:
    link::PortSettingsRecord settings_;
    int32_t width_;
    bool ready_;
    charset::PrinterState characters_;
    charset::KanjiSystem kanjiModel_;
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

// Written once, whole or not at all: a failure leaves an existing file as it was. The rows' hex
// text is made piece by piece as it goes to the file.
bool WriteHistoryFile(const std::string& path, const std::vector<link::EchoRecord>& rows, std::ostream& err) {
    std::string why;
    if (ReplaceFileContent(path, [&rows](std::ostream& out) { WriteHistoryRows(out, rows); }, why)) return true;
    err << kOperationFailedText << '\n' << "Cannot write the history to " << path << ": " << why << ".\n";
    return false;
}

#ifdef _WIN32
// Closing the console stops as SIGHUP does on POSIX systems (cli_process_win.cpp).
constexpr int kHangUpSignal = 1;
#else
constexpr int kHangUpSignal = SIGHUP;
#endif

const char* SignalName(int number) {
    switch (number) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case kHangUpSignal:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

// The output is flushed and checked: a result that could not be written is a failure.
int FinishOutput(std::ostream& out, std::ostream& err, int code) {
    out.flush();
    if (!out) {
        err << kCliProgram << ": the standard output could not be written (a full disk or a closed "
                              "output?); the command's result is lost.\n";
        if (code == kCliDone) code = kCliOutputFailed;
    }
    err.flush();
    if (!err && code == kCliDone) code = kCliOutputFailed;
    return code;
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
                       "  --port P           COMn (or n) through the port map, a serial terminal path, a\n"
                       "                     printer device file (/dev/usb/lp0) or tcp://HOST[:PORT] (default COM1)\n"
                       "  --baud N           2400, 4800, 9600, 19200, 38400, 57600 or 115200 (default 9600)\n"
                       "  --parity P         none, odd or even (default none)\n"
                       "  --stop N           1 or 2 stop bits (default 1)\n"
                       "  --handshake H      none, cts, dtr or xon (default cts)\n"
                       "  --model M          ORVA58 or ORVA80 (default ORVA58; sets the printable width)\n"
                       "  --history FILE     afterwards write the command's history rows to FILE, as \"Save...\"\n"
                       "                     (in one step; a command that fails before its first row\n"
                       "                     leaves FILE alone)\n"
                       "  --echo             print each history row as it is made: hex, a tab, its reading\n"
                       "  --virtual-printer  run against a built-in virtual printer on the port;\n"
                       "                     =tcp: on the loopback network (127.0.0.1), its address printed\n"
                       "  --no-status        the printer does not answer status requests: no connection\n"
                       "                     probe, and status gives none\n"
                       "  --encoding NAME    how text and barcode data arguments (UTF-8) become bytes:\n"
                       "                     bytes (as given, default), a code table or Kanji mode's codes\n"
                       "                     (\"encodings\" lists them)\n"
                       "  --charset N        with --encoding: the international character set 0 .. 15\n"
                       "  --kanji SYSTEM     the model's Kanji code system, how receipts read two-byte text\n"
                       "                     in Kanji mode: gb18030 (default), shift-jis, jis, big5, euc-kr\n"
                       "  --receipt FILE     with --virtual-printer: afterwards draw what it printed (PNG;\n"
                       "                     PDF, a page per receipt, when FILE ends in .pdf)\n"
                       "  -h, --help         show this text\n"
                       "  --version          show the version\n"
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
            "Messages go to standard error. Exit status:\n"
            "  0    done\n"
            "  1    the printer did not answer (the probe or a status query), or took no data\n"
            "  2    the port could not be opened, the device was removed or is full, or what\n"
            "       answered the connection probe is not a printer\n"
            "  3    bad arguments (a malformed tcp:// address among them), or data refused\n"
            "  4    a file could not be read (or is too large), or the history file or a\n"
            "       picture not written (or too tall)\n"
            "  5    the standard output or error could not be written\n"
            "  129  stopped by SIGHUP, 130 by SIGINT, 143 by SIGTERM (128 + the signal's number):\n"
            "       nothing more is sent and the port is closed as always\n";
    return text;
}

namespace {

// What the arguments ask for, once they have been read and found sound.
struct PlannedRun {
    GlobalOptions options;
    Action action;
    int portNumber = 0;
    std::optional<charset::PrinterState> encoding;  // of text arguments; nothing for "bytes"
    bool offline = false;                           // a command that uses no port
    bool runsUntilStopped = false;                  // a stop request is its normal end (serve)
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
            return FinishOutput(out, err, kCliDone);
        }
        return BadArguments(err, error, nullptr);
    }
    if (options.help) {
        out << CliUsage();
        return FinishOutput(out, err, kCliDone);
    }
    if (options.version) {
        out << kCliProgram << ' ' << kProgramVersion << '\n';
        return FinishOutput(out, err, kCliDone);
    }
    if (i >= args.size()) return BadArguments(err, "no command given", nullptr);

    const size_t commandAt = i;
    std::string commandName = args[i++];
    std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    if (commandName == "help") {
        if (rest.empty()) {
            out << CliUsage();
            return FinishOutput(out, err, kCliDone);
        }
        const std::optional<std::string> usage = CliCommandUsage(rest[0]);
        if (!usage || rest.size() > 1) return BadArguments(err, "unknown command \"" + rest[0] + "\"", nullptr);
        out << *usage;
        return FinishOutput(out, err, kCliDone);
    }
    const Command* command = FindCommand(commandName);
    if (!command) return BadArguments(err, "unknown command \"" + commandName + "\"", nullptr);

    ParsedArgs parsed;
    const bool argsOk = ParseArgs(rest, command->rules, parsed, error);
    if (parsed.help) {
        out << CommandUsageText(*command);
        return FinishOutput(out, err, kCliDone);
    }
    if (!argsOk) return BadArguments(err, error, command->name);
    std::optional<Action> action = command->prepare(parsed, error);
    if (!action) return BadArguments(err, error, command->name);
    plan.action = std::move(*action);
    plan.offline = IsOfflineCommand(command->name);
    plan.runsUntilStopped = RunsUntilStopped(command->name);
    // The server is the printer, not a host of one: the host's options before the command would
    // go unused, so they are refused rather than ignored (its line settings come after it).
    if (plan.runsUntilStopped) {
        for (size_t k = 0; k < commandAt; ++k) {
            const std::string name = args[k].substr(0, args[k].find('='));
            if (name.rfind("--", 0) == 0) {
                return BadArguments(err, name + " before \"" + commandName + "\" has no effect; give it after the command",
                                    command->name);
            }
        }
    }

    if (!ResolveEncoding(options.encoding, options.charsetN, plan.encoding, error)) {
        return BadArguments(err, error, nullptr);
    }
    if (!ParsePort(options.port, plan.portNumber, error)) return BadArguments(err, error, nullptr);
    if (options.receiptFile && !options.virtualPrinter) {
        return BadArguments(err, "--receipt needs --virtual-printer", nullptr);
    }
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

    SettingsGuard settingsGuard;
    receipt::SetKanjiModel(options.kanji);  // every receipt this run draws or decodes
    // Declared before the binding and the session: the printer outlives every link that may
    // have it open, and its number is unmapped before it stops.
    OwnVirtualPrinter printer;
    PortBinding binding;
    std::optional<ReceiptDrawing> receipt;
    if (options.virtualPrinter) {
        OwnVirtualPrinter::Request request;
        request.transport = options.virtualPrinterOnNetwork ? vprinter::VirtualPrinter::Transport::Tcp
                                                            : vprinter::kLocalTransport;
        request.portNumber = portNumber;
        request.program = kCliProgram;
        if (!printer.Start(request, err)) return kCliOpenFailed;
        if (options.receiptFile) {
            receipt.emplace(printer.Printer(), ReceiptWidthForModel(options.selection.device), *options.receiptFile);
        }
    } else if (portNumber == 0) {
        portNumber = PortBinding::FreeNumber();
        if (portNumber == 0) {
            err << kCliProgram << ": no free COM number for " << platform::PrintableText(options.port) << '\n';
            return kCliOpenFailed;
        }
        binding.Bind(portNumber, options.port, "set by --port", true);
    }

    int code = kCliDone;
    std::vector<link::EchoRecord> rows;
    size_t bytesSent = 0;
    {
        Session session(out, err, options.echo, options.historyFile.has_value());
        session.encoding = plan.encoding;
        session.setup.SetPrompt(&session.prompt);
        session.setup.SetMainWindow(&session.history);
        // What the window's start-up does: "COM Setup" writes the settings, then the ready flag.
        pages::SetupSelection selection = options.selection;
        selection.portNumber = portNumber;
        session.setup.Start(selection);
        link::PortSettings.answersStatus = options.answersStatus;
        pages::ReadyFlag = true;

        // A stop requested before the command began: nothing is opened or sent.
        if (!Session::Stopping()) code = plan.action(session);
        rows = session.history.Rows();
        bytesSent = session.history.BytesHandedOver();
    }
    if (const int stopSignal = platform::StopReason(); stopSignal > 0 && !plan.runsUntilStopped) {
        err << kCliProgram << ": stopped by " << SignalName(stopSignal)
            << (plan.offline ? "; nothing more was written.\n" : "; nothing more was sent, and the port was closed.\n");
        code = kCliStoppedBase + stopSignal;
    }
    // A command that failed before it made any row leaves an existing history file alone.
    if (options.historyFile && (code == kCliDone || !rows.empty()) &&
        !WriteHistoryFile(*options.historyFile, rows, err) && code == kCliDone) {
        code = kCliFileUnreadable;
    }
    if (receipt) {
        const int written = receipt->write(bytesSent, err);
        if (code == kCliDone) code = written;
    }
    return FinishOutput(out, err, code);
}

}  // namespace pellory::app
