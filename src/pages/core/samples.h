// The twelve printer samples of the "Printer Test" page, as data.
//
// Each sample is a title and a list of rows. A row is what the command history shows as one
// line: one or more steps whose echo is handed over together once the row is sent. A step is a
// plain send of bytes, the vertical-tab table row, the sample picture as a raster image, or one of
// the five QR-code commands. Every sample begins with the same five title rows around its title
// (LF, ESC ! 8, the title, LF, ESC ! 0); Rows() includes them.
//
// The window and the command line run the samples through the same functions, so both send the
// same bytes in the same grouping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/orva_lib.h"

namespace pellory::samples {

// The QR-code commands of the link, in the order the "QR Code" sample sends them.
enum class QrCommand { SelectModel, SetModuleSize, SetErrorLevel, StoreSample, Print };

struct Step {
    enum class Kind {
        Bytes,        // one Send of bytes
        TableRow,     // SendTableRow with the vertical-tab layout (kTablePositions, kTableCells)
        RasterImage,  // SendRasterImage with the sample picture, m 0, 40 bytes x 226 rows
        Qr,           // one of the QR-code commands
    };
    Kind kind = Kind::Bytes;
    std::vector<uint8_t> bytes;  // Kind::Bytes
    QrCommand qr = QrCommand::SelectModel;  // Kind::Qr
};

using Row = std::vector<Step>;

struct Sample {
    std::string button;       // caption of the page's button, e.g. "Font Sample"
    int controlId = 0;        // id of that button
    std::string title;        // printed emphasized at the top, e.g. "Font"
    std::vector<Row> rows;    // the title rows first, then the sample's own rows
    uint32_t waitAfterMs = 0; // the window waits this long after queuing all rows
};

constexpr size_t kSampleCount = 12;
constexpr size_t kTitleRowCount = 5;

// Layout of the vertical-tab table row: five position bytes and four cells.
inline constexpr uint8_t kTablePositions[5] = {0x00, 0x08, 0x10, 0x18, 0x20};
inline constexpr link::CORVA_LIB::TableCell kTableCells[4] = {
    {0x02, 0x02, 9, "  Option A  "},
    {0x0A, 0x01, 7, "  Data1"},
    {0x12, 0x01, 7, "  Data2"},
    {0x1A, 0x01, 7, "  Data3"},
};

// The twelve samples in the order of the page's buttons. Built on the first call (thread-safe).
const std::vector<Sample>& Samples();

// The sample whose button caption (or title) matches name, ignoring case, spaces, '-' and '_'
// ("font-sample", "Vert tab", "vertial tab" and "QRCode" all find theirs).
std::optional<size_t> FindSample(std::string_view name);

// The five title rows around a title.
std::vector<Row> TitleRows(const std::string& title);

// Sends one step over the link (queued like every Send; echoed when the echo is on).
void SendStep(link::CORVA_LIB& link, const Step& step);
// Sends every step of a row.
void SendRow(link::CORVA_LIB& link, const Row& row);

// The bytes a row sends, in order.
std::vector<uint8_t> RowBytes(const Row& row);
// The echo text of each row of a sample ("1B 21 08 " form), as the command history would show
// it; nothing is sent anywhere.
std::vector<std::string> SampleEchoRows(const Sample& sample);

}  // namespace pellory::samples
