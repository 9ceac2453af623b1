#include "pages/core/print_setup_actions.h"

#include <algorithm>
#include <limits>

#include "charset/printer_record.h"
#include "protocol/control_bytes.h"

namespace pellory::pages {

namespace {

using protocol::kEsc;
using protocol::kFs;

template <size_t N>
std::vector<std::string> ToStrings(const std::array<const char*, N>& entries) {
    return {entries.begin(), entries.end()};
}

}  // namespace

// --- lists ---

std::vector<std::string> ListEntries(SetupList list) {
    switch (list) {
        case SetupList::Alignment:
            return ToStrings(kAlignmentEntries);
        case SetupList::Density:
            return ToStrings(kDensityEntries);
        case SetupList::Speed:
            return ToStrings(kSpeedEntries);
        case SetupList::Font:
            return ToStrings(kFontEntries);
        case SetupList::CharacterSet:
            return ToStrings(kCharacterSetEntries);
        case SetupList::CodeTable: {
            std::vector<std::string> out;
            for (const CodeTableEntry& e : kCodeTableEntries) out.emplace_back(e.text);
            return out;
        }
    }
    return {};
}

int DefaultEntry(SetupList list) {
    // "4" is the fourth density entry; every other list starts at its first entry.
    return list == SetupList::Density ? 3 : 0;
}

std::optional<uint8_t> ListParameter(SetupList list, int index) {
    if (index < 0 || static_cast<size_t>(index) >= ListEntries(list).size()) return std::nullopt;
    switch (list) {
        case SetupList::Density:
            return static_cast<uint8_t>(index + 1);
        case SetupList::CodeTable:
            return kCodeTableEntries[static_cast<size_t>(index)].n;
        default:
            return static_cast<uint8_t>(index);
    }
}

std::vector<uint8_t> ListCommand(SetupList list, uint8_t n) {
    switch (list) {
        case SetupList::Alignment:
            return {kEsc, 'a', n};
        case SetupList::Density:
            return {kEsc, 'm', n};
        case SetupList::Speed:
            return {kFs, 's', n};
        case SetupList::Font:
            return {kEsc, 'M', n};
        case SetupList::CharacterSet:
            return {kEsc, 'R', n};
        case SetupList::CodeTable:
            return {kEsc, 't', n};
    }
    return {};
}

// --- number fields ---

std::optional<uint8_t> AcceptedLineSpace(int32_t value) {
    if (value < 0 || value > kMaxLineSpace) return std::nullopt;
    return static_cast<uint8_t>(value);
}

bool MarginsAccepted(int32_t left, int32_t right) {
    if (left < 0 || right < 0) return false;
    return static_cast<int64_t>(left) + right <= kMaxMarginSum;
}

std::vector<uint8_t> LineSpaceCommand(uint8_t n) { return {kEsc, '3', n}; }
std::vector<uint8_t> LeftMarginCommand(uint8_t n) { return {kEsc, 'l', n}; }
std::vector<uint8_t> RightMarginCommand(uint8_t n) { return {kEsc, 'Q', n}; }

// --- style and Kanji ---

uint8_t StyleByte(const StyleBoxes& b) {
    unsigned s = 0;
    if (b.italic) s |= protocol::kModeItalic;
    if (b.border) s |= protocol::kModeBorder;
    if (b.emphasized) s |= protocol::kModeEmphasized;
    if (b.doubleHigh) s |= protocol::kModeDoubleHeight;
    if (b.doubleWidth) s |= protocol::kModeDoubleWidth;
    if (b.highlight) s |= protocol::kModeHighlight;
    if (b.underline) s |= protocol::kModeUnderline;
    return static_cast<uint8_t>(s);
}

std::vector<uint8_t> StyleCommand(uint8_t style) { return {kEsc, '!', style}; }
std::vector<uint8_t> KanjiCommand(bool on) { return {kFs, static_cast<uint8_t>(on ? '&' : '.')}; }
std::vector<uint8_t> ResetCommand() { return {kEsc, '@'}; }

// --- the actions ---

PrintSetupActions::PrintSetupActions() : PageLink({link::kOpenErrorText, false}) {}

PrintSetupActions::~PrintSetupActions() = default;

void PrintSetupActions::Start() { echoSwitch = true; }

bool PrintSetupActions::OpenForAction() {
    OpenAndProbe();
    return IsOpen();
}

ActionOutcome PrintSetupActions::ChangeLineSpace(std::string_view text) {
    if (!ReadyFlag) return ActionOutcome::NotReady;
    if (!OpenForAction()) return ActionOutcome::LinkClosed;
    const std::optional<uint8_t> n = AcceptedLineSpace(ReadFieldNumber(text));
    if (!n) {
        ShowMessage(kLineSpaceMessage);
        return ActionOutcome::Refused;
    }
    SendBytes(LineSpaceCommand(*n));
    HandOver();
    return ActionOutcome::Sent;
}

ActionOutcome PrintSetupActions::ChangeLeftMargin(std::string_view left, std::string_view right) {
    return ChangeMargin(true, left, right);
}

ActionOutcome PrintSetupActions::ChangeRightMargin(std::string_view left, std::string_view right) {
    return ChangeMargin(false, left, right);
}

ActionOutcome PrintSetupActions::ChangeMargin(bool leftChanged, std::string_view left, std::string_view right) {
    if (!ReadyFlag) return ActionOutcome::NotReady;
    if (!OpenForAction()) return ActionOutcome::LinkClosed;
    const int32_t l = ReadFieldNumber(left);
    const int32_t r = ReadFieldNumber(right);
    if (!MarginsAccepted(l, r)) {
        ShowMessage(kMarginMessage);
        return ActionOutcome::Refused;
    }
    // Both sides lie in 0..48 now; only the changed one is sent.
    SendBytes(leftChanged ? LeftMarginCommand(static_cast<uint8_t>(l)) : RightMarginCommand(static_cast<uint8_t>(r)));
    HandOver();
    return ActionOutcome::Sent;
}

namespace {

// The character choices go into the run's record as the controls show them, whether or not the
// command reached the printer (the control keeps the user's choice either way).
void RecordCharacterChoice(SetupList list, uint8_t n) {
    if (list == SetupList::CharacterSet) charset::RecordInternationalSet(n);
    if (list == SetupList::CodeTable) {
        if (const std::optional<charset::CodeTable> t = charset::CodeTableOfN(n)) charset::RecordCodeTable(*t);
    }
}

}  // namespace

ActionOutcome PrintSetupActions::SelectEntry(SetupList list, int index) {
    const std::optional<uint8_t> n = ListParameter(list, index);
    if (!n) return ActionOutcome::Refused;
    RecordCharacterChoice(list, *n);
    if (!OpenForAction()) return ActionOutcome::LinkClosed;
    SendBytes(ListCommand(list, *n));
    HandOver();
    return ActionOutcome::Sent;
}

ActionOutcome PrintSetupActions::ClickStyle(StyleBit clicked, const StyleBoxes& boxes) {
    if (!OpenForAction()) return ActionOutcome::LinkClosed;
    SendBytes(StyleCommand(StyleByte(boxes)));
    if (clicked == protocol::kModeDoubleHeight) {
        SendBytes({link::kProbeRequest[0], link::kProbeRequest[1], link::kProbeRequest[2]});
    }
    HandOver();
    return ActionOutcome::Sent;
}

ActionOutcome PrintSetupActions::ClickKanji(bool checked) {
    charset::RecordKanji(checked);
    if (!OpenForAction()) return ActionOutcome::LinkClosed;
    SendBytes(KanjiCommand(checked));
    HandOver();
    return ActionOutcome::Sent;
}

ActionOutcome PrintSetupActions::Reset(const std::function<void()>& restoreControls) {
    if (!OpenForAction()) return ActionOutcome::LinkClosed;
    SendBytes(ResetCommand());
    HandOver();
    // The number fields act on every change of their text while the flag is set: with it clear
    // the defaults written back send nothing.
    ReadyFlag = false;
    if (restoreControls) restoreControls();
    ReadyFlag = true;
    return ActionOutcome::Sent;
}

}  // namespace pellory::pages
