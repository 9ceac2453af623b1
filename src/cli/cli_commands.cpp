// The commands of pellory-cli: their arguments, usage texts and actions over the pages' actions
// classes.
#include <array>
#include <cmath>
#include <limits>

#include "charset/code_tables.h"
#include "cli/cli_support.h"
#include "link/port_settings.h"
#include "pages/core/barcode_actions.h"
#include "pages/core/hex_text.h"
#include "pages/core/image_print_actions.h"
#include "pages/core/print_setup_actions.h"
#include "pages/core/samples.h"
#include "pages/core/text_print_actions.h"
#include "platform/threads.h"
#include "protocol/model_profile.h"
#include "receipt/offline_roll.h"

namespace pellory::app::cli {

namespace {


// Short names of the twelve samples, in the order of the page's buttons.
constexpr std::array<const char*, samples::kSampleCount> kSampleNames = {
    "font", "feed", "margins", "position", "density", "htab", "vtab", "image", "align", "barcode", "qr", "cut"};


}  // namespace

// --- --encoding and --charset -------------------------------------------------------------------

namespace {

constexpr const char* kBytesEncoding = "bytes";

// The Kanji code systems by the names of --encoding and --kanji, with the model that reads them.
struct KanjiName {
    const char* name;
    charset::KanjiSystem system;
    const char* model;
    bool encoding;  // an --encoding name too (JIS is a model's setting only)
};
constexpr std::array<KanjiName, 5> kKanjiNames = {{
    {"gb18030", charset::KanjiSystem::Gb18030, "a Simplified Chinese model", true},
    {"shift-jis", charset::KanjiSystem::ShiftJis, "a Japanese model, FS C 1", true},
    {"jis", charset::KanjiSystem::Jis, "a Japanese model, FS C 0", false},
    {"big5", charset::KanjiSystem::Big5, "a Traditional Chinese model", true},
    {"euc-kr", charset::KanjiSystem::Ksc5601, "a Korean model", true},
}};

// The code tables --encoding names (every table of ESC t but "Page 255", which has no characters
// above ASCII).
bool EncodableTable(const charset::CodeTableInfo& t) { return t.table != charset::CodeTable::Page255; }

}  // namespace

std::string EncodingNames() {
    std::string names = kBytesEncoding;
    for (const charset::CodeTableInfo& t : charset::AllCodeTables()) {
        if (EncodableTable(t)) names += std::string(", ") + t.name;
    }
    for (const KanjiName& k : kKanjiNames) {
        if (k.encoding) names += std::string(", ") + k.name;
    }
    return names;
}

std::string KanjiModelNames() {
    std::string names;
    for (const KanjiName& k : kKanjiNames) names += (names.empty() ? "" : ", ") + std::string(k.name);
    return names;
}

std::optional<charset::KanjiSystem> KanjiModelOf(std::string_view name) {
    for (const KanjiName& k : kKanjiNames) {
        if (SameText(name, k.name)) return k.system;
    }
    return std::nullopt;
}

bool ResolveEncoding(std::string_view name, int charsetN, std::optional<charset::PrinterState>& state,
                     std::string& error) {
    state.reset();
    if (SameText(name, kBytesEncoding)) {
        if (charsetN >= 0) {
            error = "--charset needs an --encoding other than bytes";
            return false;
        }
        return true;
    }
    charset::PrinterState s;
    s.internationalSet = static_cast<uint8_t>(charsetN >= 0 ? charsetN : 0);
    for (const KanjiName& k : kKanjiNames) {
        if (k.encoding && SameText(name, k.name)) {
            s.kanji = true;
            s.kanjiSystem = k.system;
            state = s;
            return true;
        }
    }
    for (const charset::CodeTableInfo& t : charset::AllCodeTables()) {
        if (EncodableTable(t) && SameText(name, t.name)) {
            // A table whose converter the system lacks has no characters to encode into.
            if (const std::string problem = charset::ConverterProblem(t.table); !problem.empty()) {
                error = "--encoding: " + std::string(t.name) + ": " + problem;
                return false;
            }
            s.table = t.table;
            state = s;
            return true;
        }
    }
    error = "--encoding: \"" + std::string(name) + "\" is not one of " + EncodingNames();
    return false;
}

std::optional<std::string> EncodeArgument(Session& s, const std::string& utf8) {
    if (!s.encoding) return utf8;
    const charset::EncodeResult encoded = charset::EncodeUtf8(utf8, *s.encoding);
    if (!encoded.ok()) {
        s.err << kCliProgram << ": " << encoded.refusal->message << " Nothing was sent.\n";
        return std::nullopt;
    }
    return std::string(encoded.bytes.begin(), encoded.bytes.end());
}

std::optional<int> HandshakePosition(std::string_view value) {
    if (auto i = EntryIndex(kHandshakeNames, value)) return i;
    return EntryIndex(pages::kHandshakeEntries, value);
}

namespace {

struct StyleName {
    const char* name;
    pages::StyleBit bit;
    bool pages::StyleBoxes::*box;
};
constexpr std::array<StyleName, 7> kStyleNames = {{
    {"double-high", protocol::kModeDoubleHeight, &pages::StyleBoxes::doubleHigh},
    {"double-width", protocol::kModeDoubleWidth, &pages::StyleBoxes::doubleWidth},
    {"emphasized", protocol::kModeEmphasized, &pages::StyleBoxes::emphasized},
    {"italic", protocol::kModeItalic, &pages::StyleBoxes::italic},
    {"border", protocol::kModeBorder, &pages::StyleBoxes::border},
    {"underline", protocol::kModeUnderline, &pages::StyleBoxes::underline},
    {"highlight", protocol::kModeHighlight, &pages::StyleBoxes::highlight},
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
        const std::optional<int32_t> n = platform::ReadDigits(value);
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
            // A stop request or an output that can no longer be written ends it early.
            const bool last = elapsed >= ms || !page.IsOpen() || Session::Stopping() || !s.out;
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
        return page.IsOpen() || Session::Stopping() ? kCliDone : kCliNoAnswer;
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
        if (s.encoding && !EncodeArgument(s, *data)) return int{kCliRefused};  // before anything is sent
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
        // Under --encoding the data is taken as text: "¥" under --charset 8 is the byte 5C, which
        // the ASCII symbologies take; the page's data rules then apply to the bytes.
        const std::optional<std::string> bytes = EncodeArgument(s, *data);
        if (!bytes) return s.Finish(page, int{kCliRefused});
        return s.Finish(page, s.CodeFor(page.PrintBarcode(symbology, hri, *bytes)));
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
        const std::optional<int32_t> n = platform::ReadDigits(*m);
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
    pages::PictureOptions options;
    options.fit = a.Flag("--fit");
    if (const std::optional<std::string> d = a.Value("--dither")) {
        constexpr std::array<const char*, 4> kDitherNames = {"none", "floyd-steinberg", "atkinson", "ordered"};
        static_assert(kDitherNames.size() == pages::kDitherMethods.size());
        const std::optional<int> i = EntryIndex(kDitherNames, *d);
        if (!i) {
            error = "--dither: \"" + *d + "\" is not one of none, floyd-steinberg, atkinson, ordered";
            return std::nullopt;
        }
        options.dither = pages::kDitherMethods[static_cast<size_t>(*i)];
    }
    return [=](Session& s) {
        pages::ImagePrintActions page;
        s.Attach(page);
        page.Start();
        s.prompt.SetFile(path);
        switch (page.LoadPicture(threshold, options)) {
            case pages::LoadOutcome::Loaded:
                break;
            case pages::LoadOutcome::ThresholdRefused:
                return s.Finish(page, kCliRefused);
            case pages::LoadOutcome::PictureRefused:
            case pages::LoadOutcome::Cancelled:
                return s.Finish(page, kCliFileUnreadable);
        }
        // Over a link that stays closed nothing is printed; the status says why.
        page.PrintPicture(orientation, mode);
        return s.Finish(page, page.IsOpen() ? kCliDone : s.LinkFailure());
    };
}

}  // namespace

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
                             case pages::SetupActions::CommResult::NotAPrinter:
                                 break;
                         }
                         return s.Finish(s.setup, kCliOpenFailed);
                     })});

        v.push_back(StatusCommand());

        v.push_back({"scan", "scan", "The \"Auto Connect\" search: prints the COM port found (\"COM3\").",
                     "Tries COM1 to COM254 in turn; exits with 1 when no printer answered.\n", {},
                     noArgs([](Session& s) {
                         const int found = s.setup.ScanForPrinter();
                         // A scan cut short by a stop request found nothing yet: no verdict.
                         if (Session::Stopping()) return s.Finish(s.setup, kCliNoAnswer);
                         s.setup.FinishAutoConnect(found);
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
                    // Text under --encoding is refused before the port is opened: nothing is sent.
                    const std::optional<std::string> bytes = hexMode ? text : EncodeArgument(s, text);
                    if (!bytes) return int{kCliRefused};
                    return TextOutcome(s, page, page.Print(*bytes, hexMode));
                });
            };
        };
        v.push_back({"text", "text STRING", "\"Text Print\" Print in text mode: STRING, then 0A.",
                     "The bytes of STRING are sent as they are (with --encoding: STRING as UTF-8 text\n"
                     "in the printer's characters; a character they lack is refused with status 3);\n"
                     "a line break goes as CR LF.\n"
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
                             switch (page.SendFile({}, Session::StopHook(page))) {
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

        v.push_back({"image",
                     "image PATH [--vertical MODE | --horizontal MODE] [--threshold N] [--fit] [--dither METHOD]",
                     "An \"Image Print\" print of a BMP or JPEG picture.",
                     "MODE is the position in the mode list, 0..3. Vertical (column stripes):\n"
                     "0 8-dot single, 1 8-dot double, 2 24-dot single, 3 24-dot double density.\n"
                     "Horizontal (raster): 0 normal, 1 double width, 2 double height, 3 quadruple.\n"
                     "--fit scales a picture wider than the printable width down to it (\"Fit to\n"
                     "paper\"). METHOD is none, floyd-steinberg, atkinson or ordered (8x8); with one,\n"
                     "the threshold is the grey level that prints half the dots black.\n"
                     "Default: vertical 3, threshold 128, no fitting, no dithering.\n",
                     {{"--vertical", "--horizontal", "--threshold", "--dither"}, {"--fit"}}, PrepareImage});

        v.push_back({"listen", "listen [--hex] [--seconds N]", "Shows what the printer sends, as the receive field does.",
                     "Opens and probes the port, then prints the received bytes as characters (up to\n"
                     "the first zero byte of each batch) or, with --hex, as hex pairs, for N seconds\n"
                     "(default 10).\n",
                     {{"--seconds"}, {"--hex"}}, PrepareListen});

        v.push_back({"encodings", "encodings", "Lists the names of --encoding and the sets of --charset.", "", {},
                     noArgs([](Session& s) {
                         const auto line = [&s](std::string name, const std::string& what) {
                             name.resize(std::max<size_t>(name.size() + 1, 10), ' ');
                             s.out << name << what << '\n';
                         };
                         line(kBytesEncoding, "the argument's bytes as given (the default)");
                         for (const charset::CodeTableInfo& t : charset::AllCodeTables()) {
                             if (!EncodableTable(t)) continue;
                             const std::string problem = charset::ConverterProblem(t.table);
                             line(t.name, std::string(t.caption) + " (ESC t " +
                                              std::to_string(static_cast<uint8_t>(t.table)) + ")" +
                                              (problem.empty() ? "" : "; not available: " + problem));
                         }
                         for (const KanjiName& k : kKanjiNames) {
                             if (!k.encoding) continue;
                             line(k.name, std::string("Kanji Mode, two-byte ") + charset::KanjiSystemName(k.system) +
                                              " codes (FS &; " + k.model + ", --kanji " + k.name + ")");
                         }
                         s.out << "--charset N (ESC R n):";
                         for (uint8_t n = 0; n < charset::kInternationalSetCount; ++n) {
                             s.out << (n ? ", " : " ") << int(n) << ' ' << charset::InternationalSetName(n);
                         }
                         s.out << '\n';
                         return int{kCliDone};
                     })});
        v.push_back({"render",
                     "render INPUT (-o OUTPUT.png|OUTPUT.pdf | --receipts DIR) [--model ORVA58|ORVA80]",
                     "Draws a captured byte stream as the printer prints it; no port is used.",
                     "INPUT is a file, or - for standard input. The picture is the print head's width\n"
                     "(" +
                         std::to_string(protocol::ProfileOf(protocol::Model::Orva58).paperDots) + " dots for ORVA58, " +
                         std::to_string(protocol::ProfileOf(protocol::Model::Orva80).paperDots) +
                         " for ORVA80), one pixel per dot: printed dots black, all\n"
                         "else white, cuts a dashed grey line. -o OUTPUT.png draws the whole stream on one\n"
                         "picture, at most " +
                         std::to_string(receipt::OfflineRoll::kMaxPictureRows) +
                         " dots tall (longer streams stop with status 4); a name\n"
                         "ending in .pdf writes a PDF with a page per receipt. --receipts DIR writes one\n"
                         "PNG per receipt into DIR (receipt-0001.png, ...): the paper from cut to cut, and\n"
                         "the printed rest after the last cut.\n",
                     {{"--model", "--output", "--receipts"}, {}},
                     PrepareRender});
        v.push_back({"decode",
                     "decode INPUT [--model ORVA58|ORVA80]",
                     "Names each command of a captured byte stream; no port is used.",
                     "One line per command: offset (hex), bytes, mnemonic and meaning. INPUT is a file,\n"
                     "or - for standard input. The stream is decoded as printed on the paper of --model\n"
                     "(without it here, of the global --model).\n",
                     {{"--model"}, {}},
                     PrepareDecode});
        v.push_back(ServeCommand());
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

}  // namespace pellory::app::cli
