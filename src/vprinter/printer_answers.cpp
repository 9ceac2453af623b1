// The printer's replies. Bit layouts as the public ESC/POS command reference gives them for DLE EOT
// n (real-time status), GS r n (transmit status), GS I n (printer ID), GS a n (automatic status
// back), GS ( H fn 48 (process ID response) and DLE DC4 fn 8 (clear buffers); they are the ones
// that common point-of-sale drivers read. Pellory's own printers report an open cash drawer as
// "drawer kick-out connector pin 3 high".
#include "vprinter/printer_answers.h"

#include <algorithm>

#include "protocol/command_table.h"
#include "protocol/function_table.h"
#include "protocol/mnemonic.h"
#include "protocol/model_profile.h"
#include "protocol/replies.h"

namespace pellory::vprinter {

namespace {

using protocol::CommandId;

// DLE EOT n: bits 1 and 4 are on in every reply (bit 0 and 7 off).
constexpr uint8_t kRealTimeFixed = protocol::kRealTimeStatusFixedBits;
// n = 1, printer status.
constexpr uint8_t kDrawerPinHigh = 0x04;
constexpr uint8_t kOfflineBit = 0x08;
// n = 2, offline cause.
constexpr uint8_t kCoverOpenBit = 0x04;
constexpr uint8_t kStoppedByPaperEnd = 0x20;
constexpr uint8_t kErrorOccurred = 0x40;
// n = 3, error cause.
constexpr uint8_t kMechanicalError = 0x04;  // never sent here; read from other printers
constexpr uint8_t kAutocutterError = 0x08;
constexpr uint8_t kUnrecoverableError = 0x20;
constexpr uint8_t kAutoRecoverableError = 0x40;  // a head too hot: printing waits until it cools
// n = 4, paper roll sensor.
constexpr uint8_t kRollNearEnd = 0x0C;
constexpr uint8_t kRollEnd = 0x60;
// GS r 1, paper sensor; GS r 2, drawer.
constexpr uint8_t kSensorNearEnd = 0x03;
constexpr uint8_t kSensorEnd = 0x0C;
constexpr uint8_t kDrawerPin = 0x01;
// Automatic status back, first byte: bit 4 on.
constexpr uint8_t kAsbFirstFixed = 0x10;
constexpr uint8_t kAsbCoverOpen = 0x20;

// The header of a GS I text reply ("_"), and the one of the GS ( H and DLE DC4 8 replies.
constexpr uint8_t kTextHeader = 0x5F;
constexpr uint8_t kBlockHeader = 0x37;
constexpr uint8_t kProcessIdIdentifier = 0x22;
constexpr uint8_t kBufferClearIdentifier = 0x25;

constexpr States kErrors = kCutterError | kOverheat | kError;

// The bytes DLE DC4 8 carries after fn, as the reference fixes them.
constexpr uint8_t kClearBuffersKey[7] = {1, 3, 20, 1, 6, 2, 8};

// A request is named as the decoding names its command.
std::string Request(const uint8_t* p, size_t n) { return protocol::WriteMnemonic(p, n); }

}  // namespace

std::optional<uint8_t> RealTimeStatus(uint8_t n, States s) {
    uint8_t b = kRealTimeFixed;
    switch (n) {
    case 1:
        if (s & kDrawerOpen) b |= kDrawerPinHigh;
        if (StopsPrinting(s)) b |= kOfflineBit;
        return b;
    case 2:
        if (s & kCoverOpen) b |= kCoverOpenBit;
        if (s & kPaperEnd) b |= kStoppedByPaperEnd;
        if (s & kErrors) b |= kErrorOccurred;
        return b;
    case 3:
        if (s & kCutterError) b |= kAutocutterError;
        if (s & kError) b |= kUnrecoverableError;
        if (s & kOverheat) b |= kAutoRecoverableError;
        return b;
    case 4:
        if (s & kPaperNearEnd) b |= kRollNearEnd;
        if (s & kPaperEnd) b |= kRollEnd;
        return b;
    case 5:
        return PelloryStatusByte(s);
    default:
        return std::nullopt;
    }
}

States StatesOfRealTimeStatus(std::span<const uint8_t> answers) {
    const auto read = static_cast<size_t>(
        std::find_if_not(answers.begin(), answers.end(), protocol::IsRealTimeStatusAnswer) - answers.begin());
    // Whether the answer to DLE EOT n was read and has any of the bits.
    const auto has = [&](size_t n, uint8_t bits) { return n <= read && (answers[n - 1] & bits) != 0; };
    States s = 0;
    if (has(1, kDrawerPinHigh)) s |= kDrawerOpen;
    if (has(2, kCoverOpenBit)) s |= kCoverOpen;
    if (has(2, kStoppedByPaperEnd) || has(4, kRollEnd)) s |= kPaperEnd;
    if (has(3, kAutocutterError)) s |= kCutterError;
    if (has(3, kAutoRecoverableError)) s |= kOverheat;
    if (has(3, kUnrecoverableError | kMechanicalError)) s |= kError;
    if (has(2, kErrorOccurred) && !(s & kErrors)) s |= kError;
    if (has(4, kRollNearEnd)) s |= kPaperNearEnd;
    if (has(1, kOfflineBit) && !StopsPrinting(s)) s |= kOffline;
    return s;
}

std::optional<uint8_t> TransmitStatus(uint8_t n, States s) {
    uint8_t b = 0;
    switch (n) {
    case 1:
    case 49:
        if (s & kPaperNearEnd) b |= kSensorNearEnd;
        if (s & kPaperEnd) b |= kSensorEnd;
        return b;
    case 2:
    case 50:
        if (s & kDrawerOpen) b |= kDrawerPin;
        return b;
    default:
        return std::nullopt;
    }
}

std::optional<AnswerBytes> PrinterIdAnswer(uint8_t n, Model m) {
    const protocol::ModelProfile& profile = protocol::ProfileOf(m);
    std::string_view text;
    switch (n) {
    case 1:
    case 49: return AnswerBytes{profile.modelId};
    case 2:
    case 50: return AnswerBytes{profile.typeId};
    case 3:
    case 51: return AnswerBytes{profile.firmwareId};
    case 65: text = profile.firmware; break;
    case 66: text = profile.maker; break;
    case 67: text = profile.name; break;
    case 68: text = profile.serialNumber; break;
    case 69: text = profile.fonts; break;
    default: return std::nullopt;
    }
    AnswerBytes a{kTextHeader};
    a.insert(a.end(), text.begin(), text.end());
    a.push_back(0);
    return a;
}

std::array<uint8_t, 4> AutomaticStatus(States s) {
    std::array<uint8_t, 4> a{kAsbFirstFixed, 0, 0, 0};
    if (s & kDrawerOpen) a[0] |= kDrawerPinHigh;
    if (StopsPrinting(s)) a[0] |= kOfflineBit;
    if (s & kCoverOpen) a[0] |= kAsbCoverOpen;
    if (s & kCutterError) a[1] |= kAutocutterError;
    if (s & kError) a[1] |= kUnrecoverableError;
    if (s & kOverheat) a[1] |= kAutoRecoverableError;
    if (s & kPaperNearEnd) a[2] |= kSensorNearEnd;
    if (s & kPaperEnd) a[2] |= kSensorEnd;
    return a;
}

AnswerBytes ProcessIdAnswer(const uint8_t d[4]) {
    return AnswerBytes{kBlockHeader, kProcessIdIdentifier, d[0], d[1], d[2], d[3], 0};
}

AnswerBytes BufferClearAnswer() { return AnswerBytes{kBlockHeader, kBufferClearIdentifier, 0}; }

Reaction ReactTo(const uint8_t* p, size_t n, States s, Model m) {
    Reaction r;
    const protocol::CommandEntry* entry = protocol::FindCommand(p, n);
    if (entry == nullptr) return r;
    auto atOnce = [&](std::string request) {
        r.when = Reaction::When::AtOnce;
        r.request = std::move(request);
    };
    switch (entry->id) {
    case CommandId::RealTimeStatus:
        if (n == 3) {
            if (const auto b = RealTimeStatus(p[2], s)) {
                atOnce(Request(p, n));
                r.answer = {*b};
            }
        }
        break;
    case CommandId::RealTimeRequest:
        // Recovery from a recoverable error (the cutter's); n = 2 clears the buffers first.
        if (n == 3 && (p[2] == 1 || p[2] == 2)) {
            atOnce(Request(p, n));
            r.clear = kCutterError;
            r.clearBuffers = p[2] == 2;
        }
        break;
    case CommandId::RealTimeFunction:
        if (n == 5 && p[2] == protocol::realtime::kDrawerPulse) {
            atOnce(Request(p, n));
            r.set = kDrawerOpen;
        } else if (n == 10 && p[2] == protocol::realtime::kClearBuffers &&
                   std::equal(p + 3, p + 10, kClearBuffersKey)) {
            atOnce(Request(p, n));
            r.clearBuffers = true;
            r.answer = BufferClearAnswer();
        }
        break;
    case CommandId::DrawerPulse:
        if (n == 5) {
            atOnce(Request(p, n));
            r.set = kDrawerOpen;
        }
        break;
    case CommandId::StatusRequest:
        if (n == 3) {
            if (const auto b = TransmitStatus(p[2], s)) {
                r.when = Reaction::When::InOrder;
                r.request = Request(p, n);
                r.answer = {*b};
            }
        }
        break;
    case CommandId::PrinterId:
        if (n == 3) {
            if (auto a = PrinterIdAnswer(p[2], m)) {
                atOnce(Request(p, n));
                r.answer = std::move(*a);
            }
        }
        break;
    case CommandId::AutomaticStatus:
        if (n == 3) {
            atOnce(Request(p, n));
            r.automaticStatus = p[2];
            if (p[2] & kAutomaticStatusItems) {
                const auto a = AutomaticStatus(s);
                r.answer.assign(a.begin(), a.end());
            }
        }
        break;
    case CommandId::ProcessId:
        // GS ( H pL pH fn m d1 d2 d3 d4 with pL pH = 6, fn = m = 48.
        if (n == 11 && p[3] == 6 && p[4] == 0 && p[5] == protocol::processid::kResponse &&
            p[6] == protocol::processid::kResponse) {
            r.when = Reaction::When::AfterPrint;
            r.request = Request(p, n);
            r.answer = ProcessIdAnswer(p + 7);
        }
        break;
    default:
        break;
    }
    if (s & kSilent) r.answer.clear();
    return r;
}

}  // namespace pellory::vprinter
