// What the "Print Setup" page does without its widgets: the entries of its lists, the commands
// of its controls, the checks of its three number fields and the reset of the printer. Every
// change sends its one command at once; there is no separate "apply" step and no copy of the
// printer's settings. The command line uses the same class, so both send the same bytes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pages/core/field_reader.h"
#include "pages/core/page_link.h"
#include "protocol/functions.h"

namespace pellory::pages {

// What became of an action of the "Print Setup" or "Barcode Print" page.
enum class ActionOutcome {
    NotReady,    // the ready flag was clear: nothing done at all
    LinkClosed,  // the link could not be opened or the printer did not answer: nothing sent
    Refused,     // a value was out of range: its message was shown, nothing sent
    Sent,        // the command was sent and its echo handed over
};

// --- the entries of the page's lists, in their order ---
inline constexpr std::array<const char*, 3> kAlignmentEntries = {"Left", "Center", "Right"};
inline constexpr std::array<const char*, 8> kDensityEntries = {"1", "2", "3", "4", "5", "6", "7", "8"};
inline constexpr std::array<const char*, 3> kSpeedEntries = {"High", "Normal", "Low"};
inline constexpr std::array<const char*, 3> kFontEntries = {"Font1", "Font2", "Font3"};
// International character sets; the position is the n of ESC R.
inline constexpr std::array<const char*, 16> kCharacterSetEntries = {
    "U.S.A.", "France",      "Germany",     "U.K.",          "Denmark I", "Sweden",
    "Italy",  "Spain",       "Japan",       "Norway",        "Denmark II", "Spain II",
    "Latin America", "Korean", "Slovenia / Croatia", "Chinese"};

struct CodeTableEntry {
    const char* text;
    uint8_t n;  // the n of ESC t
};
inline constexpr std::array<CodeTableEntry, 11> kCodeTableEntries = {{
    {"PC437(U.S.A)", 0x00},
    {"Katakana", 0x01},
    {"PC850(Multilingual)", 0x02},
    {"PC860(Portuguese)", 0x03},
    {"PC863(Canadian-French)", 0x04},
    {"PC865(Nordic)", 0x05},
    {"WPC1252", 0x10},
    {"PC866(Cyrillic #2)", 0x11},
    {"PC852(Latin 2)", 0x12},
    {"PC858(Euro)", 0x13},
    {"Page 255", 0xFF},
}};

// The page's six lists.
enum class SetupList { Alignment, Density, Speed, Font, CharacterSet, CodeTable };

// The entries of a list, in order.
std::vector<std::string> ListEntries(SetupList list);
// The entry selected at start-up (and, for the first four lists, after "Reset").
int DefaultEntry(SetupList list);
// The n sent for the entry at position index: the index itself, index + 1 for "Print Density",
// the code-table value for "Code Table". Nothing for a position the list does not have.
std::optional<uint8_t> ListParameter(SetupList list, int index);
// The list's whole command with parameter n: ESC a, ESC m, FS s, ESC M, ESC R or ESC t.
std::vector<uint8_t> ListCommand(SetupList list, uint8_t n);

// --- number fields ---
inline constexpr const char* kDefaultLineSpaceText = "33";
inline constexpr const char* kDefaultMarginText = "0";
constexpr int32_t kMaxLineSpace = 255;
constexpr int32_t kMaxMarginSum = 48;
inline constexpr const char* kLineSpaceMessage = "The Linspace shoud not larger than 255!";
inline constexpr const char* kMarginMessage = "The left margin and right margin should be less than 48";

// The line space to send, or nothing when it is refused. Accepted: 0 to 255. A negative value
// (the field takes only digits when typed, but its text can be pasted or written by a program)
// is refused like one above 255, so no value is ever cut down to a byte.
std::optional<uint8_t> AcceptedLineSpace(int32_t value);
// Whether a left and right margin pass the check: L + R at most 48, and neither negative (a
// negative side would let the other one exceed 48, and neither fits the one byte it is sent in).
bool MarginsAccepted(int32_t left, int32_t right);

std::vector<uint8_t> LineSpaceCommand(uint8_t n);    // ESC 3 n
std::vector<uint8_t> LeftMarginCommand(uint8_t n);   // ESC l n
std::vector<uint8_t> RightMarginCommand(uint8_t n);  // ESC Q n

// --- the style boxes and "Kanji Mode" ---
// Bits of the style byte: the print mode bits of ESC ! (0x01 is never set).
using StyleBit = protocol::PrintModeBit;

// The state of the seven style boxes.
struct StyleBoxes {
    bool doubleHigh = false;
    bool doubleWidth = false;
    bool emphasized = false;
    bool italic = false;
    bool border = false;
    bool underline = false;
    bool highlight = false;
};

uint8_t StyleByte(const StyleBoxes& boxes);
std::vector<uint8_t> StyleCommand(uint8_t style);  // ESC ! n
// FS & (checked) or FS . (unchecked).
std::vector<uint8_t> KanjiCommand(bool on);
// ESC @.
std::vector<uint8_t> ResetCommand();

class PrintSetupActions : public PageLink {
public:
    PrintSetupActions();
    ~PrintSetupActions() override;

    // Start-up: switches the link's echo record on. Sends nothing.
    void Start();

    // The number fields, with their texts as they read now. Each does nothing while the ready
    // flag is clear; otherwise it opens and probes the link, stops when the link stays closed,
    // checks the value (message and nothing sent when refused) and sends one command.
    ActionOutcome ChangeLineSpace(std::string_view text);
    // "Left Margin" changed: checks both sides and sends ESC l with the left one.
    ActionOutcome ChangeLeftMargin(std::string_view left, std::string_view right);
    // "Right Margin" changed: checks both sides and sends ESC Q with the right one.
    ActionOutcome ChangeRightMargin(std::string_view left, std::string_view right);

    // A list's entry chosen by the user. Refused (without a message) for a position the list
    // does not have. A "Character" or "Code Table" choice, like a "Kanji Mode" click, is kept in
    // the run's printer-character record (charset/printer_record.h) even when the link stays
    // closed, since the control keeps it.
    ActionOutcome SelectEntry(SetupList list, int index);

    // One of the seven style boxes clicked, with the state of all seven afterwards. After a
    // click on "Double High" the status request 10 04 05 follows as a second send in the same
    // history row; its answer is not read.
    ActionOutcome ClickStyle(StyleBit clicked, const StyleBoxes& boxes);
    // "Kanji Mode" clicked, with its new state.
    ActionOutcome ClickKanji(bool checked);

    // "Reset": sends ESC @; then, with the ready flag clear, restoreControls puts the page's
    // controls back to their defaults, and the ready flag is set. When the link stays closed
    // nothing is sent and restoreControls is not called.
    ActionOutcome Reset(const std::function<void()>& restoreControls = {});

private:
    // Opens and probes; true when the link is open afterwards.
    bool OpenForAction();
    ActionOutcome ChangeMargin(bool leftChanged, std::string_view left, std::string_view right);
};

}  // namespace pellory::pages
