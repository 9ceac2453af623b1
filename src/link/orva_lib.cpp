#include "link/orva_lib.h"

#include <span>
#include <vector>

#include "link/port_settings.h"
#include "protocol/control_bytes.h"
#include "protocol/encode.h"
#include "protocol/function_table.h"
#include "protocol/functions.h"
#include "protocol/replies.h"

namespace pellory::link {

namespace {

using protocol::kFs;
using protocol::kGs;
namespace qr = protocol::qr;
namespace setup = protocol::setup;

// GS ( k of the QR code's function fn, with its parameters and data.
std::vector<uint8_t> Qr(uint8_t fn, std::vector<uint8_t> parameters, std::span<const uint8_t> data = {}) {
    return protocol::EncodeFunction(*protocol::FindFunction(protocol::CommandId::Symbol2D, qr::kSymbol, fn), parameters,
                                    data);
}

// GS ( E fn 11 (the serial interface) with a and the data.
std::vector<uint8_t> SerialSetup(uint8_t a, std::span<const uint8_t> data) {
    const uint8_t parameters[1] = {a};
    return protocol::EncodeFunction(*protocol::FindFunction(protocol::CommandId::PrinterSetup, 0, setup::kSerial),
                                    parameters, data);
}

struct StatusBit {
    uint8_t mask;
    uint32_t setMessage;
    uint32_t clearMessage;
};
// Handled in this order; the index is the memory's index.
constexpr StatusBit kStatusBits[5] = {
    {protocol::kStatusOverVoltage, MSG_PRN_BIT0_SET, MSG_PRN_BIT0_CLEAR},
    {protocol::kStatusPlatenOpen, MSG_PRN_BIT1_SET, MSG_PRN_BIT1_CLEAR},
    {protocol::kStatusOverHeat, MSG_PRN_BIT3_SET, MSG_PRN_BIT3_CLEAR},
    {protocol::kStatusPaperError, MSG_PRN_BIT2_SET, MSG_PRN_BIT2_CLEAR},
    {protocol::kStatusCutterError, MSG_PRN_BIT5_SET, MSG_PRN_BIT5_CLEAR},
};
}  // namespace

CORVA_LIB::CORVA_LIB() = default;
CORVA_LIB::~CORVA_LIB() = default;

void CORVA_LIB::SendRasterImage(const uint8_t* data, uint8_t m, uint8_t xL, uint8_t xH, uint8_t yL, uint8_t yH) {
    const uint8_t header[8] = {kGs, 'v', '0', m, xL, xH, yL, yH};
    Send(header, sizeof header);
    const size_t size = (static_cast<size_t>(xL) + 256u * xH) * (static_cast<size_t>(yL) + 256u * yH);
    Send(data, size);
}

void CORVA_LIB::SendTableRow(const uint8_t* positions, const TableCell* cells) {
    static constexpr uint8_t kHead[3] = {kFs, 'V', 5};
    static constexpr uint8_t kCellCount = 4;
    static constexpr uint8_t kZero = 0;
    Send(kHead, sizeof kHead);
    Send(positions, 5);
    Send(&kCellCount, 1);
    for (int i = 0; i < 4; ++i) Send(&cells[i].first, 1);
    for (int i = 0; i < 4; ++i) {
        Send(&cells[i].second, 1);
        Send(reinterpret_cast<const uint8_t*>(cells[i].text), cells[i].length);
        Send(&kZero, 1);
    }
}

void CORVA_LIB::QrSelectModel() {
    const std::vector<uint8_t> k = Qr(qr::kModel, {0x32, 0x00});  // model 2
    Send(k.data(), k.size());
}

void CORVA_LIB::QrSetModuleSize() {
    const std::vector<uint8_t> k = Qr(qr::kModuleSize, {0x05});
    Send(k.data(), k.size());
}

void CORVA_LIB::QrSetErrorLevel() {
    const std::vector<uint8_t> k = Qr(qr::kErrorLevel, {0x30});  // L
    Send(k.data(), k.size());
}

void CORVA_LIB::QrStoreSample() {
    // The head and the data, sent one after the other.
    const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(kQrSampleText), kQrSampleLength);
    const std::vector<uint8_t> k = Qr(qr::kStore, {}, data);
    Send(k.data(), k.size() - data.size());
    Send(data.data(), data.size());
}

void CORVA_LIB::QrPrint() {
    const std::vector<uint8_t> k = Qr(qr::kPrint, {});
    Send(k.data(), k.size());
}

void CORVA_LIB::SetPrinterBaud() {
    // Up to eight decimal digits, least significant found first.
    uint32_t value = static_cast<uint32_t>(PortSettings.requestedBaudRate);
    uint8_t digits[8];
    int n = 0;
    for (int i = 0; i < 8; ++i) {
        digits[i] = static_cast<uint8_t>(value % 10);
        value /= 10;
        if (digits[i] != 0) n = i + 1;
    }
    if (n == 0) return;
    // The head, then the digits one at a time, most significant first.
    uint8_t text[8];
    for (int i = 0; i < n; ++i) text[i] = static_cast<uint8_t>(digits[n - 1 - i] | 0x30);
    const size_t count = static_cast<size_t>(n);
    const std::vector<uint8_t> k = SerialSetup(setup::kBaudRate, std::span<const uint8_t>(text, count));
    Send(k.data(), k.size() - count);
    for (size_t i = k.size() - count; i < k.size(); ++i) Send(&k[i], 1);
}

void CORVA_LIB::SetPrinterHandshake(uint8_t v) {
    const uint8_t value[1] = {v};
    const std::vector<uint8_t> k = SerialSetup(setup::kFlowControl, value);
    Send(k.data(), k.size());
}

void CORVA_LIB::PostToOwner(uint32_t message) {
    if (owner_ && owner_->IsLive()) owner_->Post(message, 0, 0);
}

void CORVA_LIB::ParseReceivedByte(uint8_t byte) {
    if (collecting_) {
        if (collectedLength_ < textArea_.size()) textArea_[collectedLength_] = byte;
        ++collectedLength_;
        if (byte == protocol::kTextBlockEnd) {
            collecting_ = false;
            PostToOwner(MSG_PRN_TEXT);
        }
        return;
    }
    if (byte & protocol::kNotStatusBit) {
        if (byte == protocol::kTextBlockStart) {
            collecting_ = true;
            textArea_[0] = byte;
            collectedLength_ = 1;
        }
        return;
    }
    for (int i = 0; i < 5; ++i) {
        const StatusBit& bit = kStatusBits[i];
        if (byte & bit.mask) {
            memories_[i] = true;
            PostToOwner(bit.setMessage);
        } else if (memories_[i]) {
            memories_[i] = false;
            PostToOwner(bit.clearMessage);
        }
    }
}

bool CORVA_LIB::StatusMemory(uint8_t bit) const {
    for (int i = 0; i < 5; ++i) {
        if (kStatusBits[i].mask == bit) return memories_[i];
    }
    return false;
}

}  // namespace pellory::link
