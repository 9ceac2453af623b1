#include "pages/core/barcode_actions.h"

#include <string_view>

#include "protocol/control_bytes.h"

namespace pellory::pages {

namespace {

constexpr bool MFollowsIndex() {
    for (size_t i = 0; i < kSymbologies.size(); ++i) {
        if (kSymbologies[i].m != 0x41 + i) return false;
    }
    return true;
}
static_assert(MFollowsIndex(), "GS k takes m = 0x41 + the symbology's position");

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsCodabarEnd(uint8_t c) { return (c >= 'A' && c <= 'D') || (c >= 'a' && c <= 'd'); }

}  // namespace

bool BarcodeCharAllowed(BarcodeCharset charset, uint8_t c) {
    switch (charset) {
        case BarcodeCharset::Digits:
            return IsDigit(c);
        case BarcodeCharset::Code39:
            return IsDigit(c) || (c >= 'A' && c <= 'Z') || std::string_view(" $%+-./").find(static_cast<char>(c)) !=
                                                                std::string_view::npos;
        case BarcodeCharset::Codabar:
            return IsDigit(c) || std::string_view("$+-./:").find(static_cast<char>(c)) != std::string_view::npos;
        case BarcodeCharset::Ascii:
            return c < 0x80 || (c >= 0xC1 && c <= 0xC4);
    }
    return false;
}

bool BarcodeDataValid(int index, std::string_view data) {
    if (index < 0 || static_cast<size_t>(index) >= kSymbologies.size()) return false;
    const Symbology& s = kSymbologies[static_cast<size_t>(index)];
    const size_t n = data.size();
    if (n < s.minLength || n > s.maxLength) return false;
    if (s.evenLength && n % 2 != 0) return false;
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<uint8_t>(data[i]);
        if (s.charset == BarcodeCharset::Codabar && (i == 0 || i == n - 1)) {
            // The start and stop characters (one character is both).
            if (!IsCodabarEnd(c)) return false;
        } else if (!BarcodeCharAllowed(s.charset, c)) {
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> HriCommand(uint8_t n) { return {protocol::kGs, 'H', n}; }
std::vector<uint8_t> WidthCommand(uint8_t w) { return {protocol::kGs, 'w', w}; }
std::vector<uint8_t> HeightCommand(uint8_t h) { return {protocol::kGs, 'h', h}; }

std::vector<uint8_t> BarcodeHeader(int index, size_t n) {
    return {protocol::kGs, 'k', kSymbologies[static_cast<size_t>(index)].m, static_cast<uint8_t>(n)};
}

BarcodeActions::BarcodeActions() : PageLink({link::kOpenErrorText, true}) {}

BarcodeActions::~BarcodeActions() = default;

void BarcodeActions::Start() { echoSwitch = true; }

bool BarcodeActions::OpenForAction() {
    OpenAndProbe();
    // The link stays closed: its message has been shown; nothing is handed to the link.
    return IsOpen();
}

ActionOutcome BarcodeActions::HriStep(int position) {
    if (!ReadyFlag) return ActionOutcome::NotReady;
    if (position < 0 || static_cast<size_t>(position) >= kHriEntries.size()) return ActionOutcome::Refused;
    if (!OpenForAction()) return ActionOutcome::LinkClosed;
    SendBytes(HriCommand(static_cast<uint8_t>(position)));
    HandOver();
    return ActionOutcome::Sent;
}

ActionOutcome BarcodeActions::ChangeDimension(std::string_view text, int32_t low, int32_t high,
                                              std::vector<uint8_t> (*command)(uint8_t), const char* message) {
    if (!ReadyFlag) return ActionOutcome::NotReady;
    if (!OpenForAction()) return ActionOutcome::LinkClosed;
    const int32_t value = ReadFieldNumber(text);
    if (value < low || value > high) {
        ShowMessage(message);
        return ActionOutcome::Refused;
    }
    SendBytes(command(static_cast<uint8_t>(value)));
    HandOver();
    return ActionOutcome::Sent;
}

ActionOutcome BarcodeActions::ChangeWidth(std::string_view text) {
    return ChangeDimension(text, kMinBarWidth, kMaxBarWidth, WidthCommand, kWidthMessage);
}

ActionOutcome BarcodeActions::ChangeHeight(std::string_view text) {
    return ChangeDimension(text, kMinBarHeight, kMaxBarHeight, HeightCommand, kHeightMessage);
}

ActionOutcome BarcodeActions::PrintBarcode(int symbology, int hriPosition, std::string_view data) {
    // GS H n goes before every barcode, before the data are checked.
    const ActionOutcome hri = HriStep(hriPosition);
    if (hri == ActionOutcome::LinkClosed || hri == ActionOutcome::Refused) return hri;
    // Nothing more when the HRI step opened the link; opens it when the step did not run.
    if (!OpenForAction()) return ActionOutcome::LinkClosed;
    if (!BarcodeDataValid(symbology, data)) {
        ShowMessage(kDataMessage);
        return ActionOutcome::Refused;
    }
    SendBytes(BarcodeHeader(symbology, data.size()));
    Send(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    HandOver();
    return ActionOutcome::Sent;
}

}  // namespace pellory::pages
