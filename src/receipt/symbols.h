// Barcodes and 2-D codes as the printer draws them, made with the zint library: a module matrix
// turned into dots at the printer's geometry (module width and bar height in dots). The printer
// adds no quiet zone: each bitmap starts with the symbol's first module and ends with its last
// (the white around it is the application's to leave). GS k draws the linear ones (MakeLinear);
// GS ( k the 2-D ones, each from its settings and the data stored for it (MakeQr, MakePdf417,
// MakeMaxiCode, MakeStackedDataBar, MakeComposite, MakeAztec, MakeDataMatrix).
// CODE128 alone is drawn by our own encoder (code128.h), as the data ask.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "receipt/code128.h"
#include "receipt/glyphs.h"

namespace pellory::receipt {

// The one-dimensional symbologies of GS k, by their m of the two-byte-count form (0x41..0x4E);
// the zero-terminated form's m 0..9 names the first ten in the same order.
enum class Symbology : uint8_t {
    UpcA = 0,
    UpcE = 1,
    Ean13 = 2,
    Ean8 = 3,
    Code39 = 4,
    Itf = 5,
    Codabar = 6,
    Code93 = 7,
    Code128 = 8,
    Gs1_128 = 9,
    DataBarOmni = 10,       // GS1 DataBar Omnidirectional
    DataBarTruncated = 11,  // GS1 DataBar Truncated
    DataBarLimited = 12,    // GS1 DataBar Limited
    DataBarExpanded = 13,   // GS1 DataBar Expanded
};
inline constexpr int kSymbologyCount = 14;
inline constexpr int kZeroTerminatedSymbologies = 10;  // m 0..9 of the zero-terminated form
const char* SymbologyName(Symbology s);

struct LinearSymbol {
    Bitmap bars;              // module width x height dots, from the first bar to the last
    std::string text;         // the human-readable text (check digits included)
};

// The bars of a barcode: `moduleWidth` dots per module, `height` dots tall. Nothing when the
// data do not fit the symbology (the printer then prints nothing); error tells why.
std::optional<LinearSymbol> MakeLinear(Symbology s, const std::string& data, int moduleWidth, int height,
                                       std::string* error = nullptr);

// The checks the printer makes on the data of GS k before it draws (lengths, characters, CODE128's
// code sets and special characters, GS1 application identifiers): why it prints nothing, or
// empty when the data pass. Cheap: no symbol is made.
std::string LinearDataFault(Symbology s, const std::string& data);

struct QrSettings {
    int model = 2;        // 1, 2, or 3 (Micro QR)
    int moduleSize = 3;   // dots per module, 1..16
    int errorLevel = 0;   // 0 L, 1 M, 2 Q, 3 H

    bool operator==(const QrSettings&) const = default;
};

// A QR code of the data, each module moduleSize x moduleSize dots. Nothing when the data do not fit.
std::optional<Bitmap> MakeQr(const QrSettings& settings, const std::vector<uint8_t>& data, std::string* error = nullptr);

struct Pdf417Settings {
    int columns = 0;          // data columns, 1..30; 0: as the data need
    int rows = 0;             // rows, 3..90; 0: as the data need
    int moduleWidth = 3;      // dots, 2..8
    int rowHeight = 3;        // module widths, 2..8
    bool byRatio = true;      // error correction by ratio (n x 10 % of the data codewords), else by level
    int errorValue = 1;       // the ratio 1..40, or the level 0..8
    bool truncated = false;   // truncated PDF417 (no right row indicator, a one-module stop)

    bool operator==(const Pdf417Settings&) const = default;
};
// A PDF417 symbol, `moduleWidth` dots per module, rowHeight x moduleWidth dots per row. Nothing when the data do not fit the columns and rows set.
std::optional<Bitmap> MakePdf417(const Pdf417Settings& settings, const std::vector<uint8_t>& data,
                                 std::string* error = nullptr);
// The error correction level a ratio gives for that many data codewords (the printer's table).
int Pdf417LevelForRatio(int dataCodewords, int ratio);

// A MaxiCode symbol of mode 2 to 6 at the printer's fixed size (about 27 x 26 mm: modules 7 dots
// apart, rows 6 dots apart, the finder rings in the middle). Modes 2 and 3 take the structured
// carrier message: postal code, country code and class of service separated by GS (1D), after an
// optional "[)>" RS "01" GS yy header, then the rest of the message.
std::optional<Bitmap> MakeMaxiCode(int mode, const std::vector<uint8_t>& data, std::string* error = nullptr);
inline constexpr int kMaxiModulePitch = 7;  // dots between module centres in a row
inline constexpr int kMaxiRowPitch = 6;     // dots between rows

// GS1 DataBar of GS ( k (cn 51): the stacked forms, by the printer's type byte.
enum class StackedDataBar : uint8_t { Stacked = 72, StackedOmni = 73, ExpandedStacked = 76 };
struct DataBarSettings {
    int moduleWidth = 2;  // dots, 2..8
    int maxWidth = 0;     // dots the expanded stacked form may take; 0: the print area

    bool operator==(const DataBarSettings&) const = default;
};
// GS1 DataBar Stacked and Stacked Omnidirectional take 13 digits (the item number without its
// check digit), Expanded Stacked the application identifiers in parentheses.
std::optional<Bitmap> MakeStackedDataBar(StackedDataBar type, const DataBarSettings& settings, int areaWidth,
                                         const std::vector<uint8_t>& data, std::string* error = nullptr);

struct AztecSettings {
    bool compact = false;   // compact symbol, else full range
    int layers = 0;         // 1..4 compact, 1..32 full range; 0: as the data need
    int moduleSize = 3;     // dots, 2..16
    int errorPercent = 23;  // 5..95: error correction share of the symbol

    bool operator==(const AztecSettings&) const = default;
};
std::optional<Bitmap> MakeAztec(const AztecSettings& settings, const std::vector<uint8_t>& data,
                                std::string* error = nullptr);

struct DataMatrixSettings {
    bool rectangle = false;  // rectangular symbol, else square
    int columns = 0;         // modules across, 0: as the data need (square: 10..144; rectangle 18..48)
    int rows = 0;            // rectangle: 8, 12 or 16 modules; 0: as the data need
    int moduleSize = 3;      // dots, 2..16

    bool operator==(const DataMatrixSettings&) const = default;
};
std::optional<Bitmap> MakeDataMatrix(const DataMatrixSettings& settings, const std::vector<uint8_t>& data,
                                     std::string* error = nullptr);

// The 2-D symbols of GS ( k (cn 48 to 54): the settings and the data stored for each, as the
// commands leave them (ESC @ returns them to these defaults).
struct Symbols2D {
    QrSettings qr;
    Pdf417Settings pdf417;
    int maxiMode = 2;
    DataBarSettings dataBar;   // cn 51
    DataBarSettings composite; // cn 52: the module width of both parts
    AztecSettings aztec;
    DataMatrixSettings dataMatrix;
    std::vector<uint8_t> pdf417Data, qrData, maxiData, dataBarData, aztecData, dataMatrixData;
    uint8_t dataBarType = 0;   // the type byte stored with the GS1 DataBar data
    // Composite (cn 52): the linear part (its type byte and data) and the 2-D part's data.
    uint8_t compositeLinearType = 0;
    std::vector<uint8_t> compositeLinear, compositeData;
    bool operator==(const Symbols2D&) const = default;
};

// A composite symbol of GS ( k cn 52: its linear part of the printer's type byte (65 EAN-8,
// 66 EAN-13, 67 UPC-A, 68 and 69 UPC-E, 70 to 76 the GS1 DataBar forms, 77 GS1-128) over a 2-D
// part of the GS1 data given.
std::optional<Bitmap> MakeComposite(uint8_t linearType, const std::vector<uint8_t>& linear, const DataBarSettings& settings,
                                    int areaWidth, const std::vector<uint8_t>& data, std::string* error = nullptr);

}  // namespace pellory::receipt
