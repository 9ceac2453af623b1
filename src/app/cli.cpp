#include "app/cli.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "app/history_export.h"
#include "app/history_reading.h"
#include "imaging/image_print_actions.h"
#include "link/open_and_probe.h"
#include "link/port_settings.h"
#include "link/ui_seam.h"
#include "pages/core/barcode_actions.h"
#include "pages/core/hex_text.h"
#include "pages/core/page_link.h"
#include "pages/core/print_setup_actions.h"
#include "pages/core/quick_test_actions.h"
#include "pages/core/samples.h"
#include "pages/core/setup_actions.h"
#include "pages/core/text_print_actions.h"
#include "platform/port_map.h"
#include "platform/serial_device.h"
#include "platform/threads.h"
#include "vprinter/virtual_printer.h"

namespace pellory::app {

namespace {

using pages::ActionOutcome;

// ---------------------------------------------------------------------------------------------
// Small text helpers

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool SameText(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

// An optional sign and at least one decimal digit, nothing else.
bool IsInteger(std::string_view s) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

// Decimal digits only, at most nine of them (so the value fits an int32_t).
std::optional<int32_t> SmallNumber(std::string_view s) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    int32_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
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
    // the port did not open (2) or the printer did not answer (1). Nothing when no such
    // message was shown.
    std::optional<int> LinkFailure() const {
        for (auto it = shown_.rbegin(); it != shown_.rend(); ++it) {
            if (it->text == link::kOpenErrorText || it->text == link::kOpenErrorTextTestPage) return kCliOpenFailed;
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
    CliHistory(std::ostream& out, bool echo) : out_(out), echo_(echo) {}

    void AddHistoryRow(const std::string& echo) override {
        if (echo.empty()) return;
        rows_.push_back(echo);
        if (echo_) {
            out_ << echo << '\t' << EscapeReading(HistoryReading(echo)) << '\n';
            out_.flush();
        }
    }
    const std::vector<std::string>& Rows() const { return rows_; }

private:
    std::ostream& out_;
    bool echo_;
    std::vector<std::string> rows_;
};

// ---------------------------------------------------------------------------------------------
// One run: the seams, the settings of "COM Setup", and the end of every command

class Session {
public:
    Session(std::ostream& output, std::ostream& errors, bool echo)
        : out(output), err(errors), prompt(errors), history(output, echo) {}

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
    // closes it.
    int Finish(pages::PageLink& page, int code) {
        if (page.IsOpen()) {
            if (!page.WaitUntilSent(pages::PageLink::kCloseStallMs)) {
                err << kCliProgram << ": the port took no data for " << pages::PageLink::kCloseStallMs / 1000
                    << " s; the bytes still queued were dropped.\n";
                page.SendBuffer().ClearLocked();
                page.Purge(platform::kPurgeTxAbort | platform::kPurgeTxClear);
                if (code == kCliDone) code = kCliNoAnswer;
            }
        }
        page.CloseLink();
        return code;
    }

    std::ostream& out;
    std::ostream& err;
    CliPrompt prompt;
    CliHistory history;
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
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    bool help = false;

    std::optional<std::string> Value(const std::string& name) const {
        const auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    bool Flag(const std::string& name) const { return flags.count(name) != 0; }
};

// "--" ends the options; "-h"/"--help" ask for the usage; any other argument that starts with
// "--" must be one of the command's options. Other arguments (also "-5") are positional.
bool ParseArgs(const std::vector<std::string>& args, const ArgRules& rules, ParsedArgs& out, std::string& error) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded) {
            out.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "-h" || a == "--help") {
            out.help = true;
            continue;
        }
        if (a.size() <= 2 || a.compare(0, 2, "--") != 0) {
            out.positional.push_back(a);
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const bool valued = std::find(rules.valued.begin(), rules.valued.end(), name) != rules.valued.end();
        const bool flag = std::find(rules.flags.begin(), rules.flags.end(), name) != rules.flags.end();
        if (valued) {
            if (eq != std::string::npos) {
                out.values[name] = a.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                out.values[name] = args[++i];
            } else {
                error = name + " needs a value";
                return false;
            }
        } else if (flag && eq == std::string::npos) {
            out.flags.insert(name);
        } else if (flag) {
            error = name + " takes no value";
            return false;
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    return true;
}

bool PositionalCount(const ParsedArgs& a, size_t n, const char* what, std::string& error) {
    if (a.positional.size() == n) return true;
    if (a.positional.size() < n) {
        error = std::string("missing ") + what;
    } else {
        error = "unexpected argument " + a.positional[n];
    }
    return false;
}

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

// Short names of the twelve samples, in the order of the page's buttons.
constexpr std::array<const char*, samples::kSampleCount> kSampleNames = {
    "font", "feed", "margins", "position", "density", "htab", "vtab", "image", "align", "barcode", "qr", "cut"};

constexpr std::array<const char*, 4> kHandshakeNames = {"none", "cts", "dtr", "xon"};
constexpr std::array<const char*, 3> kParityNames = {"none", "odd", "even"};

// A "Handshake" position from "none|cts|dtr|xon" or from the list's own entries ("CTS/RTS").
std::optional<int> HandshakePosition(std::string_view value) {
    if (auto i = EntryIndex(kHandshakeNames, value)) return i;
    return EntryIndex(pages::kHandshakeEntries, value);
}

struct StyleName {
    const char* name;
    pages::StyleBit bit;
    bool pages::StyleBoxes::*box;
};
constexpr std::array<StyleName, 7> kStyleNames = {{
    {"double-high", pages::kStyleDoubleHigh, &pages::StyleBoxes::doubleHigh},
    {"double-width", pages::kStyleDoubleWidth, &pages::StyleBoxes::doubleWidth},
    {"emphasized", pages::kStyleEmphasized, &pages::StyleBoxes::emphasized},
    {"italic", pages::kStyleItalic, &pages::StyleBoxes::italic},
    {"border", pages::kStyleBorder, &pages::StyleBoxes::border},
    {"underline", pages::kStyleUnderline, &pages::StyleBoxes::underline},
    {"highlight", pages::kStyleHighlight, &pages::StyleBoxes::highlight},
}};

// The position of a "Print Setup" list's entry: the entry's text (any letter case); for "Font"
// also 1..3, for "International Character Set" and "Code Table" also the position itself.
std::optional<int> SetupListIndex(pages::SetupList list, std::string_view value) {
    const std::vector<std::string> entries = pages::ListEntries(list);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (SameText(entries[i], value)) return static_cast<int>(i);
    }
    if (list == pages::SetupList::Font) {
        for (size_t i = 0; i < entries.size(); ++i) {
            if (SameText(entries[i], "Font" + std::string(value))) return static_cast<int>(i);
        }
    }
    if (list == pages::SetupList::CharacterSet || list == pages::SetupList::CodeTable) {
        const std::optional<int32_t> n = SmallNumber(value);
        if (n && *n < static_cast<int32_t>(entries.size())) return *n;
    }
    return std::nullopt;
}

// A "Print Setup" action on its page object.
Action OnPrintSetup(std::function<ActionOutcome(pages::PrintSetupActions&)> act) {
    return [act = std::move(act)](Session& s) {
        pages::PrintSetupActions page;
        s.Attach(page);
        page.Start();
        const ActionOutcome outcome = act(page);
        return s.Finish(page, s.CodeFor(outcome));
    };
}

std::optional<Action> PrepareSet(const ParsedArgs& a, std::string& error) {
    using pages::SetupList;
    if (a.positional.empty()) {
        error = "missing KEY";
        return std::nullopt;
    }
    const std::string key = a.positional[0];
    const bool margin = key == "left-margin" || key == "right-margin";
    if (!margin && (a.Value("--left") || a.Value("--right"))) {
        error = "--left and --right go with left-margin and right-margin only";
        return std::nullopt;
    }
    if (key == "reset") {
        if (!PositionalCount(a, 1, "", error)) return std::nullopt;
        return OnPrintSetup([](pages::PrintSetupActions& p) { return p.Reset(); });
    }
    if (!PositionalCount(a, 2, "VALUE", error)) return std::nullopt;
    const std::string value = a.positional[1];
    auto badValue = [&](const std::string& expected) {
        error = "set " + key + ": \"" + value + "\" is not " + expected;
        return std::nullopt;
    };

    if (key == "line-space") {
        if (!IsInteger(value)) return badValue("a number");
        return OnPrintSetup([value](pages::PrintSetupActions& p) { return p.ChangeLineSpace(value); });
    }
    if (margin) {
        const bool left = key == "left-margin";
        const std::string otherOption = left ? "--right" : "--left";
        if (a.Value(left ? "--left" : "--right")) {
            error = "set " + key + " takes the other side's margin only (" + otherOption + " N)";
            return std::nullopt;
        }
        if (!IsInteger(value)) return badValue("a number");
        const std::string other = a.Value(otherOption).value_or(pages::kDefaultMarginText);
        if (!IsInteger(other)) {
            error = otherOption + ": \"" + other + "\" is not a number";
            return std::nullopt;
        }
        if (left) return OnPrintSetup([value, other](pages::PrintSetupActions& p) { return p.ChangeLeftMargin(value, other); });
        return OnPrintSetup([value, other](pages::PrintSetupActions& p) { return p.ChangeRightMargin(other, value); });
    }
    struct ListKey {
        const char* key;
        SetupList list;
        const char* expected;
    };
    static const ListKey kLists[] = {
        {"align", SetupList::Alignment, "left, center or right"},
        {"density", SetupList::Density, "a density from 1 to 8"},
        {"speed", SetupList::Speed, "high, normal or low"},
        {"font", SetupList::Font, "1, 2 or 3"},
        {"charset", SetupList::CharacterSet, "a character set from 0 to 15"},
        {"codetable", SetupList::CodeTable, "a code table index from 0 to 10"},
    };
    for (const ListKey& l : kLists) {
        if (key != l.key) continue;
        const std::optional<int> index = SetupListIndex(l.list, value);
        if (!index) return badValue(l.expected);
        const SetupList list = l.list;
        return OnPrintSetup([list, i = *index](pages::PrintSetupActions& p) { return p.SelectEntry(list, i); });
    }
    if (key == "style") {
        pages::StyleBoxes boxes;
        // No box named: the style byte 00, as after unchecking the last checked box that is
        // not "Double High".
        auto clicked = static_cast<pages::StyleBit>(0);
        if (!value.empty() && !SameText(value, "none")) {
            size_t start = 0;
            while (start <= value.size()) {
                const size_t comma = value.find(',', start);
                const std::string name =
                    Lower(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
                const auto it = std::find_if(kStyleNames.begin(), kStyleNames.end(),
                                             [&](const StyleName& s) { return name == s.name; });
                if (it == kStyleNames.end()) {
                    error = "set style: unknown box \"" + name + "\"";
                    return std::nullopt;
                }
                boxes.*(it->box) = true;
                clicked = it->bit;
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        }
        return OnPrintSetup([clicked, boxes](pages::PrintSetupActions& p) { return p.ClickStyle(clicked, boxes); });
    }
    if (key == "kanji") {
        if (!SameText(value, "on") && !SameText(value, "off")) return badValue("on or off");
        const bool on = SameText(value, "on");
        return OnPrintSetup([on](pages::PrintSetupActions& p) { return p.ClickKanji(on); });
    }
    error = "unknown key \"" + key + "\"";
    return std::nullopt;
}

std::optional<size_t> SampleIndex(std::string_view name) {
    for (size_t i = 0; i < kSampleNames.size(); ++i) {
        if (SameText(kSampleNames[i], name)) return i;
    }
    return samples::FindSample(name);
}

// The outcome of a "Text Print" action that returned false: the link stayed closed, or there
// was nothing to send (which the window passes over silently).
int TextOutcome(Session& s, pages::TextPrintActions& page, bool sent) {
    if (sent || page.IsOpen()) return kCliDone;
    return s.LinkFailure();
}

Action OnTextPrint(std::function<int(Session&, pages::TextPrintActions&)> act) {
    return [act = std::move(act)](Session& s) {
        pages::TextPrintActions page;
        s.Attach(page);
        page.echoSwitch = true;
        const int code = act(s, page);
        return s.Finish(page, code);
    };
}

std::optional<Action> PrepareListen(const ParsedArgs& a, std::string& error) {
    if (!PositionalCount(a, 0, "", error)) return std::nullopt;
    const bool hex = a.Flag("--hex");
    uint32_t ms = 10000;
    if (const auto text = a.Value("--seconds")) {
        // Whole or decimal seconds.
        double seconds = -1;
        size_t used = 0;
        const bool digitsOnly = !text->empty() && text->find_first_not_of("0123456789.") == std::string::npos;
        if (digitsOnly) {
            try {
                seconds = std::stod(*text, &used);
            } catch (...) {
                seconds = -1;
            }
        }
        constexpr double kMaxSeconds = 2000000.0;  // some three weeks
        if (!digitsOnly || used != text->size() || !(seconds >= 0) || seconds > kMaxSeconds) {
            error = "--seconds: \"" + *text + "\" is not a number of seconds";
            return std::nullopt;
        }
        ms = static_cast<uint32_t>(std::llround(seconds * 1000.0));
    }
    return OnTextPrint([hex, ms](Session& s, pages::TextPrintActions& page) -> int {
        page.OpenAndProbe();
        if (!page.IsOpen()) return s.LinkFailure();
        bool shown = false;
        const uint32_t start = platform::TickCount();
        for (;;) {
            const uint32_t elapsed = platform::TickCount() - start;
            const bool last = elapsed >= ms || !page.IsOpen();
            const std::vector<uint8_t> bytes = page.TakeReceived();
            if (!bytes.empty()) {
                s.out << pages::ReceiveAppendText(bytes.data(), bytes.size(), hex);
                s.out.flush();
                page.FeedDecoder(bytes);
                shown = true;
            }
            if (last) break;
            platform::SleepMs(std::min<uint32_t>(20, ms - elapsed));
        }
        if (hex && shown) s.out << '\n';
        return page.IsOpen() ? kCliDone : kCliNoAnswer;
    });
}

std::optional<Action> PrepareBarcode(const ParsedArgs& a, std::string& error) {
    if (!PositionalCount(a, 0, "", error)) return std::nullopt;
    const std::optional<std::string> type = a.Value("--type");
    const std::optional<std::string> data = a.Value("--data");
    if (!type || !data) {
        error = !type ? "missing --type NAME" : "missing --data DATA";
        return std::nullopt;
    }
    int symbology = -1;
    for (size_t i = 0; i < pages::kSymbologies.size(); ++i) {
        if (SameText(pages::kSymbologies[i].item, *type)) symbology = static_cast<int>(i);
    }
    if (symbology < 0) {
        std::string names;
        for (const pages::Symbology& s : pages::kSymbologies) names += std::string(names.empty() ? "" : ", ") + s.item;
        error = "--type: \"" + *type + "\" is not one of " + names;
        return std::nullopt;
    }
    int hri = pages::kDefaultHri;
    if (const auto h = a.Value("--hri")) {
        const std::optional<int> i = EntryIndex(pages::kHriEntries, *h);
        if (!i) {
            error = "--hri: \"" + *h + "\" is not none, above, below or both";
            return std::nullopt;
        }
        hri = *i;
    }
    const std::optional<std::string> width = a.Value("--width");
    const std::optional<std::string> height = a.Value("--height");
    for (const auto& [name, v] : {std::pair{"--width", width}, std::pair{"--height", height}}) {
        if (v && !IsInteger(*v)) {
            error = std::string(name) + ": \"" + *v + "\" is not a number";
            return std::nullopt;
        }
    }
    return [=](Session& s) {
        pages::BarcodeActions page;
        s.Attach(page);
        page.Start();
        // Each given field as if its text had been set to the value: one command each.
        if (width) {
            const ActionOutcome r = page.ChangeWidth(*width);
            if (r != ActionOutcome::Sent) return s.Finish(page, s.CodeFor(r));
        }
        if (height) {
            const ActionOutcome r = page.ChangeHeight(*height);
            if (r != ActionOutcome::Sent) return s.Finish(page, s.CodeFor(r));
        }
        return s.Finish(page, s.CodeFor(page.PrintBarcode(symbology, hri, *data)));
    };
}

std::optional<Action> PrepareImage(const ParsedArgs& a, std::string& error) {
    if (!PositionalCount(a, 1, "PATH", error)) return std::nullopt;
    const std::string path = a.positional[0];
    const std::optional<std::string> vertical = a.Value("--vertical");
    const std::optional<std::string> horizontal = a.Value("--horizontal");
    if (vertical && horizontal) {
        error = "give --vertical MODE or --horizontal MODE, not both";
        return std::nullopt;
    }
    const pages::ByteOrientation orientation =
        horizontal ? pages::ByteOrientation::Horizontal : pages::ByteOrientation::Vertical;
    int mode = pages::DefaultMode(orientation);
    if (const std::optional<std::string> m = vertical ? vertical : horizontal) {
        const std::optional<int32_t> n = SmallNumber(*m);
        const auto count = static_cast<int32_t>(pages::ModeEntries(orientation).size());
        if (!n || *n >= count) {
            error = std::string(vertical ? "--vertical" : "--horizontal") + ": \"" + *m + "\" is not a mode from 0 to " +
                    std::to_string(count - 1);
            return std::nullopt;
        }
        mode = *n;
    }
    const std::string threshold = a.Value("--threshold").value_or(pages::kDefaultThresholdText);
    if (!IsInteger(threshold)) {
        error = "--threshold: \"" + threshold + "\" is not a number";
        return std::nullopt;
    }
    return [=](Session& s) {
        pages::ImagePrintActions page;
        s.Attach(page);
        page.Start();
        s.prompt.SetFile(path);
        switch (page.LoadPicture(threshold)) {
            case pages::LoadOutcome::Loaded:
                break;
            case pages::LoadOutcome::ThresholdRefused:
                return s.Finish(page, kCliRefused);
            case pages::LoadOutcome::PictureRefused:
            case pages::LoadOutcome::Cancelled:
                return s.Finish(page, kCliFileUnreadable);
        }
        page.PrintPicture(orientation, mode);
        // The print goes on over a closed link, as the window's does; the status says so.
        return s.Finish(page, page.IsOpen() ? kCliDone : s.LinkFailure());
    };
}

const std::vector<Command>& Commands() {
    static const std::vector<Command> all = [] {
        std::vector<Command> v;
        auto noArgs = [](Action action) {
            return [action = std::move(action)](const ParsedArgs& a, std::string& error) -> std::optional<Action> {
                if (!PositionalCount(a, 0, "", error)) return std::nullopt;
                return action;
            };
        };

        v.push_back({"probe", "probe", "The connection test of \"Comm. Test\" on the port.", "", {},
                     noArgs([](Session& s) {
                         switch (s.setup.CommTest()) {
                             case pages::SetupActions::CommResult::Answered:
                                 return s.Finish(s.setup, kCliDone);
                             case pages::SetupActions::CommResult::NoAnswer:
                                 return s.Finish(s.setup, kCliNoAnswer);
                             case pages::SetupActions::CommResult::OpenFailed:
                                 break;
                         }
                         return s.Finish(s.setup, kCliOpenFailed);
                     })});

        v.push_back({"status", "status", "The status query of \"Printer States\".",
                     "Prints the status byte in hex (\"Status: 0C\") and the lit lamps\n"
                     "(\"Lamps: Over Heat, Paper Error\", or \"Lamps: none\").\n",
                     {}, noArgs([](Session& s) {
                         pages::QuickTestActions page;
                         s.Attach(page);
                         page.StartEcho();
                         const pages::StatusResult r = page.QueryStatus();
                         if (!r.linkOpen) return s.Finish(page, s.LinkFailure());
                         static const char* const kDigits = "0123456789ABCDEF";
                         s.out << "Status: " << kDigits[r.status >> 4] << kDigits[r.status & 0x0F] << '\n';
                         std::string lit;
                         for (size_t i = 0; i < pages::kLampCount; ++i) {
                             if (!r.lamps[i]) continue;
                             if (!lit.empty()) lit += ", ";
                             lit += pages::kLamps[i].name;
                         }
                         s.out << "Lamps: " << (lit.empty() ? "none" : lit) << '\n';
                         return s.Finish(page, kCliDone);
                     })});

        v.push_back({"scan", "scan", "The \"Auto Connect\" search: prints the COM port found (\"COM3\").",
                     "Tries COM1 to COM254 in turn; exits with 1 when no printer answered.\n", {},
                     noArgs([](Session& s) {
                         const int found = s.setup.AutoConnect();
                         if (found > 0) s.out << pages::PortEntryText(found) << '\n';
                         return s.Finish(s.setup, found > 0 ? kCliDone : kCliNoAnswer);
                     })});

        std::string sampleDetails = "NAME is one of";
        for (size_t i = 0; i < kSampleNames.size(); ++i) {
            sampleDetails += std::string(i ? ", " : " ") + kSampleNames[i];
        }
        sampleDetails += "\n(the twelve \"Printer Test\" samples, in the order of the buttons).\n";
        v.push_back({"sample", "sample NAME", "One of the \"Printer Test\" samples.", sampleDetails, {},
                     [](const ParsedArgs& a, std::string& error) -> std::optional<Action> {
                         if (!PositionalCount(a, 1, "NAME", error)) return std::nullopt;
                         const std::optional<size_t> index = SampleIndex(a.positional[0]);
                         if (!index) {
                             error = "unknown sample \"" + a.positional[0] + "\"";
                             return std::nullopt;
                         }
                         return [i = *index](Session& s) {
                             pages::QuickTestActions page;
                             s.Attach(page);
                             page.StartEcho();
                             const bool sent = page.RunSample(i);
                             return s.Finish(page, sent ? kCliDone : s.LinkFailure());
                         };
                     }});

        v.push_back({"set", "set KEY VALUE", "A \"Print Setup\" action.",
                     "KEY VALUE is one of:\n"
                     "  line-space N\n"
                     "  left-margin N [--right N]   (the other margin is 0 unless given)\n"
                     "  right-margin N [--left N]\n"
                     "  align left|center|right\n"
                     "  density 1..8\n"
                     "  speed high|normal|low\n"
                     "  font 1|2|3\n"
                     "  charset N                   (0..15, the list position)\n"
                     "  codetable INDEX             (0..10, the list position)\n"
                     "  style LIST                  (comma-separated: double-high, double-width,\n"
                     "                               emphasized, italic, border, underline, highlight;\n"
                     "                               empty or none for none; the last one named is\n"
                     "                               the box clicked)\n"
                     "  kanji on|off\n"
                     "  reset                       (no VALUE)\n",
                     {{"--left", "--right"}, {}}, PrepareSet});

        v.push_back({"printer-baud", "printer-baud N", "The \"COM Setup\" baud-rate set-up command.",
                     "N is one of " + JoinEntries(pages::kBaudEntries, ", ") +
                         ". Nothing is sent when N is the rate\nthe port is opened with (--baud).\n",
                     {}, [](const ParsedArgs& a, std::string& error) -> std::optional<Action> {
                         if (!PositionalCount(a, 1, "N", error)) return std::nullopt;
                         if (!EntryIndex(pages::kBaudEntries, a.positional[0])) {
                             error = "\"" + a.positional[0] + "\" is not one of " + JoinEntries(pages::kBaudEntries, ", ");
                             return std::nullopt;
                         }
                         const int32_t rate = pages::ReadEntryNumber(a.positional[0]);
                         return [rate](Session& s) {
                             s.setup.ChangeBaudRate(rate);
                             return s.Finish(s.setup, s.prompt.LinkFailure().value_or(kCliDone));
                         };
                     }});

        v.push_back({"printer-handshake", "printer-handshake none|cts|dtr|xon",
                     "The \"COM Setup\" flow-control set-up command.",
                     "Later links open with that flow control as well.\n", {},
                     [](const ParsedArgs& a, std::string& error) -> std::optional<Action> {
                         if (!PositionalCount(a, 1, "none|cts|dtr|xon", error)) return std::nullopt;
                         const std::optional<int> position = HandshakePosition(a.positional[0]);
                         if (!position) {
                             error = "\"" + a.positional[0] + "\" is not none, cts, dtr or xon";
                             return std::nullopt;
                         }
                         return [p = *position](Session& s) {
                             s.setup.ChangeHandshake(p);
                             return s.Finish(s.setup, s.prompt.LinkFailure().value_or(kCliDone));
                         };
                     }});

        auto printCommand = [](bool hexMode) {
            return [hexMode](const ParsedArgs& a, std::string& error) -> std::optional<Action> {
                if (!PositionalCount(a, 1, hexMode ? "HEXTEXT" : "STRING", error)) return std::nullopt;
                return OnTextPrint([hexMode, text = a.positional[0]](Session& s, pages::TextPrintActions& page) {
                    return TextOutcome(s, page, page.Print(text, hexMode));
                });
            };
        };
        v.push_back({"text", "text STRING", "\"Text Print\" Print in text mode: STRING, then 0A.",
                     "The bytes of STRING are sent as they are; a line break goes as CR LF.\n"
                     "Use \"--\" before a STRING that starts with \"--\".\n",
                     {}, printCommand(false)});
        v.push_back({"hex", "hex HEXTEXT", "\"Text Print\" Print in hex mode: the bytes of HEXTEXT, then 0A.",
                     "HEXTEXT is hex command text such as \"1B 40 1D 56 42 00\".\n", {}, printCommand(true)});
        v.push_back({"feed", "feed", "\"Text Print\" Feed: one 0A.", "", {},
                     noArgs(OnTextPrint([](Session& s, pages::TextPrintActions& page) {
                         return TextOutcome(s, page, page.Feed());
                     }))});
        v.push_back({"send-file", "send-file PATH", "\"Text Print\" Open...: the bytes of the file, unchanged.", "",
                     {}, [](const ParsedArgs& a, std::string& error) -> std::optional<Action> {
                         if (!PositionalCount(a, 1, "PATH", error)) return std::nullopt;
                         return OnTextPrint([path = a.positional[0]](Session& s, pages::TextPrintActions& page) {
                             s.prompt.SetFile(path);
                             using R = pages::TextPrintActions::SendFileResult;
                             switch (page.SendFile({}, {})) {
                                 case R::Sent:
                                     return int{kCliDone};
                                 case R::LinkClosed:
                                     return s.LinkFailure();
                                 case R::Stopped:
                                     return int{kCliNoAnswer};
                                 case R::Cancelled:
                                 case R::CannotRead:
                                     break;
                             }
                             return int{kCliFileUnreadable};
                         });
                     }});
        v.push_back({"hex-file", "hex-file PATH", "\"Text Print\" Load..., then Print in hex mode.",
                     "The file follows the hex command file rules (hex pairs, \"//\" comments).\n", {},
                     [](const ParsedArgs& a, std::string& error) -> std::optional<Action> {
                         if (!PositionalCount(a, 1, "PATH", error)) return std::nullopt;
                         return OnTextPrint([path = a.positional[0]](Session& s, pages::TextPrintActions& page) {
                             s.prompt.SetFile(path);
                             const std::optional<std::string> content = page.Load();
                             if (!content) {
                                 return s.prompt.Shown(hextext::kFileRejectedMessage) ? int{kCliRefused}
                                                                                      : int{kCliFileUnreadable};
                             }
                             // The field shows the content with its line breaks; Print reads it back.
                             return TextOutcome(s, page, page.Print(pages::ContentForField(*content), true));
                         });
                     }});

        v.push_back({"barcode", "barcode --type NAME --data DATA [--hri none|above|below|both] [--width N] [--height N]",
                     "A \"Barcode Print\" print.",
                     [] {
                         std::string names;
                         for (const pages::Symbology& s : pages::kSymbologies) {
                             names += std::string(names.empty() ? "" : ", ") + s.item;
                         }
                         return "NAME is one of " + names +
                                ".\nA given width (1..6) and height (1..255) are sent first, as their fields send\n"
                                "them; then the HRI position (default none) and the barcode.\n";
                     }(),
                     {{"--type", "--data", "--hri", "--width", "--height"}, {}}, PrepareBarcode});

        v.push_back({"image", "image PATH [--vertical MODE | --horizontal MODE] [--threshold N]",
                     "An \"Image Print\" print of a BMP or JPEG picture.",
                     "MODE is the position in the mode list, 0..3. Vertical (column stripes):\n"
                     "0 8-dot single, 1 8-dot double, 2 24-dot single, 3 24-dot double density.\n"
                     "Horizontal (raster): 0 normal, 1 double width, 2 double height, 3 quadruple.\n"
                     "Default: vertical 3, threshold 128.\n",
                     {{"--vertical", "--horizontal", "--threshold"}, {}}, PrepareImage});

        v.push_back({"listen", "listen [--hex] [--seconds N]", "Shows what the printer sends, as the receive field does.",
                     "Opens and probes the port, then prints the received bytes as characters (up to\n"
                     "the first zero byte of each batch) or, with --hex, as hex pairs, for N seconds\n"
                     "(default 10).\n",
                     {{"--seconds"}, {"--hex"}}, PrepareListen});
        return v;
    }();
    return all;
}

const Command* FindCommand(std::string_view name) {
    for (const Command& c : Commands()) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

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

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    GlobalOptions options;
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

    int portNumber = 0;
    if (!ParsePort(options.port, portNumber, error)) return BadArguments(err, error, nullptr);
    if (portNumber == 0 && options.virtualPrinter) {
        return BadArguments(err, "--virtual-printer takes a COM port, not a device path", nullptr);
    }

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
        options.selection.portNumber = portNumber;
        session.setup.Start(options.selection);
        pages::ReadyFlag = true;

        code = (*action)(session);
        rows = session.history.Rows();
    }
    if (options.historyFile && !WriteHistoryFile(*options.historyFile, rows, err) && code == kCliDone) {
        code = kCliFileUnreadable;
    }
    out.flush();
    return code;
}

}  // namespace pellory::app
