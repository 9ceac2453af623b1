// The printer's symbol storage area as far as the size request needs it: for PDF417 (GS ( k cn 48)
// and the QR code (cn 49), the settings their functions leave and the data stored last (fn 80),
// taken from whole commands in the order the printer processes them. GS ( k fn 82 asks for the
// size of the stored symbol; the server answers it through a SymbolMeasure, since encoding the
// symbol is the receipt renderer's (a module the server may not use): the layer that starts the
// server hands one in (ServerOptions::symbolMeasure).
//
// Each setting is taken as the receipt renderer's interpreter takes it, so that the size answered
// is the size printed: a PDF417 setting out of its range is ignored (the one before stays), a QR
// model or error correction level out of range is the default one and its module size is brought
// into 1..16. ESC @ returns everything to the defaults and forgets the data. Bounded: each
// symbol's data is at most one command's (65532 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "vprinter/printer_answers.h"

namespace pellory::vprinter {

// One stored symbol: its kind, its settings and its data, with the defaults of a printer at start.
struct StoredSymbol {
    enum class Kind : uint8_t { Pdf417 = 48, Qr = 49 };  // the cn of GS ( k
    Kind kind = Kind::Qr;
    bool stored = false;        // fn 80 stored data since the start (or ESC @)
    std::vector<uint8_t> data;  // the data of the last fn 80 (after m)

    // PDF417 (fn 65 to 70).
    int columns = 0;           // data columns 1..30; 0: as the data need
    int rows = 0;              // rows 3..90; 0: as the data need
    int moduleWidth = 3;       // dots, 2..8
    int rowHeight = 3;         // module widths, 2..8
    bool errorByRatio = true;  // error correction by ratio (n x 10 %), else by level
    int errorValue = 1;        // the ratio 1..40, or the level 0..8
    bool truncated = false;    // truncated PDF417

    // QR code (fn 65, 67, 69).
    int model = 2;       // 1, 2, or 3 (Micro QR)
    int moduleSize = 3;  // dots per module, 1..16
    int errorLevel = 0;  // 0 L, 1 M, 2 Q, 3 H

    // A symbol of that kind as the printer starts.
    static StoredSymbol Of(Kind k) {
        StoredSymbol s;
        s.kind = k;
        return s;
    }
};

// The size of a symbol as the printer prints it, in dots, its quiet zone left out.
struct SymbolSize {
    int width = 0;
    int height = 0;
};

// Encodes a stored symbol: its size, or nothing when its data cannot be encoded with its settings
// (none stored counts as such too). Called on the server's thread; it must not wait on anything.
using SymbolMeasure = std::function<std::optional<SymbolSize>(const StoredSymbol&)>;

class SymbolStorage {
public:
    // Takes one whole command: a GS ( k of cn 48 or 49 changes its symbol, ESC @ resets both;
    // anything else changes nothing.
    void take(const uint8_t* bytes, size_t n);
    const StoredSymbol& symbol(StoredSymbol::Kind kind) const { return kind == StoredSymbol::Kind::Qr ? qr_ : pdf417_; }
    // Bytes of its data held by both symbols.
    size_t held() const { return qr_.data.size() + pdf417_.data.size(); }

    // Whether bytes[0, n) is the size request GS ( k 03 00 cn 82 48 of cn 48 or 49; its kind.
    static std::optional<StoredSymbol::Kind> SizeRequest(const uint8_t* bytes, size_t n);

private:
    StoredSymbol pdf417_ = StoredSymbol::Of(StoredSymbol::Kind::Pdf417);
    StoredSymbol qr_ = StoredSymbol::Of(StoredSymbol::Kind::Qr);
};

// The answer to GS ( k fn 82 for a symbol of `kind` whose size is `size` (nothing: it cannot be
// printed), as the public reference lays it out: header 37, the identifier (2F PDF417, 36 QR
// code), the width in dots as decimal digits, 1F, the height likewise, 1F, the fixed 31, 1F, 30
// when it can be printed or 31 when not, and NUL. One that cannot be encoded (nothing stored, data
// it cannot hold) has the size 0 x 0; one wider than the paper (`paperDots`) its own size, and 31.
AnswerBytes SymbolSizeAnswer(StoredSymbol::Kind kind, std::optional<SymbolSize> size, int paperDots);

}  // namespace pellory::vprinter
