// CORVA_LIB: the link class of the program. A CSerialEngine with the printer's multi-part
// commands and a decoder of the bytes the printer sends back unasked.
//
// Every command goes through Send, so every byte is echoed; the grouping of the Send calls is
// part of each command (it decides how the command history shows it).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "link/serial_engine.h"

namespace pellory::link {

// Notifications of the decoder, posted to the owner window with wParam 0 and lParam 0.
enum : uint32_t {
    MSG_PRN_BIT0_SET = 1724,
    MSG_PRN_BIT0_CLEAR = 1725,
    MSG_PRN_BIT1_SET = 1726,
    MSG_PRN_BIT1_CLEAR = 1727,
    MSG_PRN_BIT2_SET = 1728,
    MSG_PRN_BIT2_CLEAR = 1729,
    MSG_PRN_BIT3_SET = 1730,
    MSG_PRN_BIT3_CLEAR = 1731,
    MSG_PRN_BIT5_SET = 1732,
    MSG_PRN_BIT5_CLEAR = 1733,
    MSG_PRN_TEXT = 1734,
};

// The sample text whose first 28 characters the QR sample stores.
inline constexpr const char* kQrSampleText = "Westhaven PELLRY Development Co., Ltd.";
constexpr size_t kQrSampleLength = 28;

// Flow-control values of the printer's handshake set-up command.
constexpr uint8_t kPrinterFlowNone = 0x00;
constexpr uint8_t kPrinterFlowHardware = 0x30;
constexpr uint8_t kPrinterFlowXonXoff = 0x31;

class CORVA_LIB : public CSerialEngine {
public:
    // One cell of a table row: a position byte, a second byte, and length bytes of text.
    struct TableCell {
        uint8_t first = 0;
        uint8_t second = 0;
        uint8_t length = 0;
        const char* text = nullptr;
    };

    CORVA_LIB();
    ~CORVA_LIB() override;

    // GS v 0: the 8-byte header, then (xL + 256 xH) * (yL + 256 yH) bytes of data; two sends.
    void SendRasterImage(const uint8_t* data, uint8_t m, uint8_t xL, uint8_t xH, uint8_t yL, uint8_t yH);
    // FS V 5 table row: reads exactly 5 position bytes and 4 cells.
    void SendTableRow(const uint8_t* positions, const TableCell* cells);

    // QR code (GS ( k, function group 49), one fixed sequence each.
    void QrSelectModel();
    void QrSetModuleSize();
    void QrSetErrorLevel();
    void QrStoreSample();
    void QrPrint();

    // GS ( E function 11: the printer's serial interface set-up.
    void SetPrinterBaud();  // requestedBaudRate of PortSettings, as decimal digits
    void SetPrinterHandshake(uint8_t v);

    // Feeds one received byte to the decoder.
    void ParseReceivedByte(uint8_t byte);

    void SetOwnerWindow(NotifyTargetPtr owner) { owner_ = std::move(owner); }
    const NotifyTargetPtr& OwnerWindow() const { return owner_; }

    // Decoder state.
    bool StatusMemory(uint8_t bit) const;  // bit is one of 0x01, 0x02, 0x04, 0x08, 0x20
    bool Collecting() const { return collecting_; }
    uint32_t CollectedLength() const { return collectedLength_; }
    const std::array<uint8_t, 256>& TextArea() const { return textArea_; }

private:
    void PostToOwner(uint32_t message);

    NotifyTargetPtr owner_;
    // Memories for the status bits 0x01, 0x02, 0x08, 0x04, 0x20, in that order.
    bool memories_[5] = {false, false, false, false, false};
    bool collecting_ = false;
    uint32_t collectedLength_ = 0;
    std::array<uint8_t, 256> textArea_{};
};

}  // namespace pellory::link
