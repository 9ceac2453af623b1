// Internals of pellory-cli shared by its source files: text helpers, the message seam and the
// history of the command line, one run's session, argument rules, and the command table.
#pragma once

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "charset/printer_text.h"
#include "cli/cli.h"
#include "history/history_reading.h"
#include "link/open_and_probe.h"
#include "link/ui_seam.h"
#include "pages/core/page_link.h"
#include "pages/core/print_setup_actions.h"
#include "pages/core/quick_test_actions.h"
#include "pages/core/setup_actions.h"
#include "platform/decimal_text.h"
#include "platform/serial_device.h"
#include "platform/stop_request.h"
#include "protocol/model_profile.h"
#include "vprinter/virtual_printer.h"

namespace pellory::receipt {
class Interpreter;
}

namespace pellory::app::cli {

using pages::ActionOutcome;

// ---------------------------------------------------------------------------------------------
// Small text helpers

inline std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

inline bool SameText(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

// An optional sign and at least one decimal digit, nothing else. Only the shape is checked, of
// any length, on purpose: the text goes on to the page action, which reads it as the page reads
// its field (pages/core/field_reader.h), so a number out of range gets the page's own message.
// (Counts and list positions are read by platform::ReadDigits.)
inline bool IsInteger(std::string_view s) {
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) s.remove_prefix(1);
    return platform::AllDigits(s);
}

template <size_t N>
std::optional<int> EntryIndex(const std::array<const char*, N>& entries, std::string_view value) {
    for (size_t i = 0; i < N; ++i) {
        if (SameText(entries[i], value)) return static_cast<int>(i);
    }
    return std::nullopt;
}

template <size_t N>
std::string JoinEntries(const std::array<const char*, N>& entries, const char* separator) {
    std::string out;
    for (size_t i = 0; i < N; ++i) {
        if (i) out += separator;
        out += entries[i];
    }
    return out;
}


// Replaces the content of the file at path in one step: the text goes to a new file in the same
// folder, which then takes path's place (a link at path: its target's place), so that a reader
// sees the old content or the new one, never a part, and a failure leaves the old file as it
// was. An existing file keeps its permission bits; a device or a pipe at path is written in
// place. False with why set when it failed.
bool ReplaceFileContent(const std::string& path, const std::string& content, std::string& why);
// The same with the content written piece by piece to a stream.
bool ReplaceFileContent(const std::string& path, const std::function<void(std::ostream&)>& write, std::string& why);

// ---------------------------------------------------------------------------------------------
// The message seam and the command history of the command line

class CliPrompt : public link::UserPrompt {
public:
    explicit CliPrompt(std::ostream& err) : err_(err) {}

    void ShowMessage(const std::string& text, const std::string& caption, const std::string& informative) override {
        err_ << text << '\n';
        if (!informative.empty()) err_ << informative << '\n';
        err_.flush();
        shown_.push_back({text, caption});
    }
    // Every file dialog is answered with the path of the command line (cancelled without one).
    std::optional<std::string> AskOpenFile(const std::string&) override { return file_; }
    std::optional<std::string> AskSaveFile(const std::string&) override { return file_; }

    void SetFile(std::string path) { file_ = std::move(path); }

    bool Shown(std::string_view text) const {
        return std::any_of(shown_.begin(), shown_.end(), [&](const Shown_& m) { return m.text == text; });
    }
    // The exit status a failed connection ends with, from the last message that tells why:
    // the port did not open, went away or holds no printer (2), or the printer did not answer
    // (1). Nothing when no such message was shown.
    std::optional<int> LinkFailure() const {
        for (auto it = shown_.rbegin(); it != shown_.rend(); ++it) {
            if (it->text == link::kOpenErrorText || it->text == link::kOpenErrorTextTestPage ||
                it->text == link::kRemovedText || it->text == link::kDeviceFullText ||
                it->text == link::kNotAPrinterText) {
                return kCliOpenFailed;
            }
            if (it->text == link::kNoAnswerText || it->text == pages::kConnectedFailText) return kCliNoAnswer;
        }
        return std::nullopt;
    }

private:
    struct Shown_ {
        std::string text, caption;
    };
    std::ostream& err_;
    std::optional<std::string> file_;
    std::vector<Shown_> shown_;
};

class CliHistory : public link::HistorySink {
public:
    // keepRows: whether the rows are kept for Rows() (--history); without it a row is only
    // printed (with echo) and then let go.
    CliHistory(std::ostream& out, bool echo, bool keepRows = true) : out_(out), echo_(echo), keepRows_(keepRows) {}

    void AddHistoryRow(const link::EchoRecord& echo) override {
        if (echo.empty()) return;
        bytesHandedOver_ += echo.size();
        if (keepRows_) rows_.push_back(echo);
        if (echo_) {
            echo.WriteHex(out_);
            out_ << '\t' << EscapeReading(HistoryReading(echo.bytes())) << '\n';
            out_.flush();
        }
    }
    const std::vector<link::EchoRecord>& Rows() const { return rows_; }
    // The bytes of every row handed over, kept or not.
    size_t BytesHandedOver() const { return bytesHandedOver_; }

private:
    std::ostream& out_;
    bool echo_;
    bool keepRows_;
    size_t bytesHandedOver_ = 0;
    std::vector<link::EchoRecord> rows_;
};

// ---------------------------------------------------------------------------------------------
// One run: the seams, the settings of "COM Setup", and the end of every command

class Session {
public:
    // keepRows: whether history.Rows() is wanted afterwards.
    Session(std::ostream& output, std::ostream& errors, bool echo, bool keepRows = true)
        : out(output), err(errors), prompt(errors), history(output, echo, keepRows) {}

    template <class Page>
    void Attach(Page& page) {
        page.SetPrompt(&prompt);
        page.SetMainWindow(&history);
    }

    int LinkFailure() const { return prompt.LinkFailure().value_or(kCliNoAnswer); }

    int CodeFor(ActionOutcome outcome) const {
        switch (outcome) {
            case ActionOutcome::Sent:
                return kCliDone;
            case ActionOutcome::LinkClosed:
                return LinkFailure();
            case ActionOutcome::Refused:
            case ActionOutcome::NotReady:
                break;
        }
        return kCliRefused;
    }

    // The end of a command: every queued byte written to the port (as long as it takes them,
    // the transmitter included where the driver tells), then the link closed as a tab change
    // closes it. When a stop is requested, the queued bytes are dropped instead.
    int Finish(pages::PageLink& page, int code) {
        if (page.IsOpen() && !page.DeviceRemoved()) {
            if (Stopping()) {
                DropQueued(page);
            } else if (!page.WaitUntilSent(pages::PageLink::kCloseStallMs) && !page.DeviceRemoved()) {
                if (!Stopping()) {
                    err << kCliProgram << ": the port took no data for " << pages::PageLink::kCloseStallMs / 1000
                        << " s; the bytes still queued were dropped.\n";
                    if (code == kCliDone) code = kCliNoAnswer;
                }
                DropQueued(page);
            }
        }
        // A device that went away ends every command with the open-failure status.
        if (page.DeviceRemoved()) {
            link::ReportRemoval(page, &prompt);
            code = kCliOpenFailed;
        }
        page.CloseLink();
        return code;
    }

    // Whether the program was asked to stop (a signal): commands then send nothing more.
    static bool Stopping() { return platform::StopRequested(); }

    // For the waits of a page action that take a hook (a file sent in pieces): on a stop
    // request the link is closed there and then, which ends the wait.
    static std::function<void()> StopHook(pages::PageLink& page) {
        return [&page] {
            if (!Stopping() || !page.IsOpen()) return;
            DropQueued(page);
            page.Close(link::kLinkStopTimeoutMs);
        };
    }

    // Drops what is still queued for the port: the send buffer and the driver's output queue.
    static void DropQueued(pages::PageLink& page) {
        page.SendBuffer().ClearLocked();
        page.Purge(platform::kPurgeTxAbort | platform::kPurgeTxClear);
    }

    std::ostream& out;
    std::ostream& err;
    CliPrompt prompt;
    CliHistory history;
    // --encoding and --charset: the printer's character state text arguments are encoded in;
    // nothing for "bytes" (the arguments' bytes as given).
    std::optional<charset::PrinterState> encoding;
    pages::SetupActions setup;  // the "COM Setup" page: settings, set-up commands, scan, probe
};

using Action = std::function<int(Session&)>;

// ---------------------------------------------------------------------------------------------
// Arguments of a command

struct ArgRules {
    std::vector<std::string> valued;  // options followed by a value ("--type NAME" or "--type=NAME")
    std::vector<std::string> flags;   // options on their own ("--hex")
};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;           // the last value of each option
    std::map<std::string, std::vector<std::string>> all;  // every value, in order (repeatable options)
    std::set<std::string> flags;
    bool help = false;

    std::optional<std::string> Value(const std::string& name) const {
        const auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    std::vector<std::string> Values(const std::string& name) const {
        const auto it = all.find(name);
        return it == all.end() ? std::vector<std::string>{} : it->second;
    }
    bool Flag(const std::string& name) const { return flags.count(name) != 0; }
};

// "--" ends the options; "-h"/"--help" ask for the usage; any other argument that starts with
// "--" must be one of the command's options. Other arguments (also "-5") are positional.
bool ParseArgs(const std::vector<std::string>& args, const ArgRules& rules, ParsedArgs& out, std::string& error);
bool PositionalCount(const ParsedArgs& a, size_t n, const char* what, std::string& error);

// ---------------------------------------------------------------------------------------------
// The commands

using Prepare = std::function<std::optional<Action>(const ParsedArgs&, std::string& error)>;

struct Command {
    const char* name;
    const char* synopsis;  // after "pellory-cli [options] "
    const char* summary;
    std::string details;   // further lines of "COMMAND --help"
    ArgRules rules;
    Prepare prepare;
};

// Every command, in the order of the usage text.
const std::vector<Command>& Commands();
const Command* FindCommand(std::string_view name);

// --encoding NAME with --charset N (-1: not given): the state text arguments are encoded in, or
// nothing for "bytes". False (with error) for an unknown name or set, or --charset with "bytes".
bool ResolveEncoding(std::string_view name, int charsetN, std::optional<charset::PrinterState>& state,
                     std::string& error);
// The names --encoding takes, separated by ", ".
std::string EncodingNames();
// --kanji NAME: the Kanji code system of the model (gb18030, shift-jis, jis, big5, euc-kr), or
// nothing for another name; KanjiModelNames lists them, separated by ", ".
std::optional<charset::KanjiSystem> KanjiModelOf(std::string_view name);
std::string KanjiModelNames();
// A text argument (UTF-8) as the bytes to send (one char per byte): unchanged without an
// encoding; otherwise its printer bytes, or nothing with the refusal on the error stream.
std::optional<std::string> EncodeArgument(Session& s, const std::string& utf8);
// A command's own --model (ORVA58 or ORVA80, in any case): the model, or nothing when the option is
// not given. False, with the message in error, for another name.
bool ReadModelOption(const ParsedArgs& a, std::optional<protocol::Model>& model, std::string& error);
// The receipt commands (cli_receipt.cpp).
std::optional<Action> PrepareRender(const ParsedArgs& a, std::string& error);
std::optional<Action> PrepareDecode(const ParsedArgs& a, std::string& error);
// Renders a byte stream on paper of widthDots and writes it in one step: a PNG of the whole roll,
// or for a .pdf name a PDF with a page per receipt. A failure leaves no file (the reason on err,
// status kCliFileUnreadable).
int WriteReceipt(const std::vector<uint8_t>& stream, int widthDots, const std::string& path, std::ostream& err);
// Whether a command works on files alone, with no port ("render", "decode").
bool IsOfflineCommand(std::string_view name);
// "serve", the printer server (cli_serve.cpp): a stop request (a signal) is the end it runs until,
// so it ends with status 0.
Command ServeCommand();
// "status" (cli_status.cpp): the status query; with --states, then the standard real-time status requests.
Command StatusCommand();
inline bool RunsUntilStopped(std::string_view name) { return name == "serve"; }

// --receipt: what the program's own virtual printer prints, drawn on a thread of its own as the
// bytes arrive (as WriteReceipt draws a stream), so that nothing of the stream is kept but the
// paper. The printer must outlive it.
class ReceiptDrawing {
public:
    ReceiptDrawing(vprinter::VirtualPrinter& printer, int widthDots, std::string path);
    ~ReceiptDrawing();
    ReceiptDrawing(const ReceiptDrawing&) = delete;
    ReceiptDrawing& operator=(const ReceiptDrawing&) = delete;

    // Once the printer has every byte the command handed over (bounded by a watchdog, so a
    // printer that stopped taking bytes still gives what it has), ends the drawing and writes the
    // picture in one step; WriteReceipt's status, its messages on err.
    int write(size_t sent, std::ostream& err);

private:
    struct Handover;
    int finish(size_t sent, uint32_t arrivalWatchdogMs);

    vprinter::VirtualPrinter& printer_;
    std::unique_ptr<Handover> handover_;
    std::ostringstream messages_;  // the drawing thread's, passed on by write()
    int code_ = 0;
    std::thread drawer_;
};
// The paper width of the model of a "Device Name" position (the global --model).
int ReceiptWidthForModel(int device);

inline constexpr std::array<const char*, 4> kHandshakeNames = {"none", "cts", "dtr", "xon"};
inline constexpr std::array<const char*, 3> kParityNames = {"none", "odd", "even"};
// A "Handshake" position from "none|cts|dtr|xon" or from the list's own entries ("CTS/RTS").
std::optional<int> HandshakePosition(std::string_view value);

}  // namespace pellory::app::cli
