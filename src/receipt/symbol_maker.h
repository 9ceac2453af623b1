// Making the symbols the printer prints (the bars of GS k, the 2-D symbols of GS ( k, other makers'
// ESC Z) from the modes, and saying why a print prints nothing: for the interpreter, which draws
// them, and for the decoding, which has no paper. The last 2-D symbol made of each kind is kept
// with what it was made from: printed again from the same data and settings (a receipt printed
// many times, and its decoding), it is not made anew. Not thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "receipt/glyphs.h"
#include "receipt/printer_modes.h"
#include "receipt/symbols.h"

namespace pellory::receipt {

// The print area a symbol is judged against: its width in dots while drawing; for the decoding,
// which knows no paper, a 2-D symbol is made for `dots` and judged against the widest paper,
// `widest` dots.
struct SymbolArea {
    int dots = 0;
    bool paperKnown = true;
    int widest = 0;
};

class SymbolMaker {
public:
    // The bars of GS k at the module width and height set, or nothing where the printer prints
    // nothing: data the symbology refuses, or bars wider than `area` dots (*wide then says how
    // wide; `paperUnknown`: the area is the widest paper's).
    std::optional<LinearSymbol> barcode(const uint8_t* p, size_t n, const PrinterModes& modes, int area,
                                        std::string* wide, bool paperUnknown = false) const;
    // The symbol of cn as its stored data and settings make it for a print area `area` dots wide,
    // or nothing and why (its width against the area is the caller's to check).
    std::optional<Bitmap> symbol2D(uint8_t cn, const PrinterModes& modes, int area, std::string* error) const;
    // The symbol ESC Z makes in the kind GS Z chose, or nothing and why.
    static std::optional<Bitmap> dialectSymbol(const uint8_t* p, size_t n, uint8_t kind, std::string* error);
    // Why the print of a symbol (GS k, GS ( k fn 81) prints nothing, where the decoding's meaning
    // of the command alone cannot tell: the stored data of a 2-D symbol, and its width against
    // the print area; empty when it prints or the meaning says why.
    std::string printFault(const uint8_t* p, size_t n, const PrinterModes& modes, SymbolArea area) const;
    // What the decoding adds to the family name of other makers' GS Z and ESC Z (see
    // dialect_symbols.cpp), their symbol judged against `area` dots.
    static void DialectMeaning(protocol::CommandId id, const uint8_t* p, size_t n, uint8_t kind, int area,
                               std::string& family);
    // The dots from a symbol's first inked column to its last (its quiet zones left out).
    static int InkWidth(const Bitmap& b);

private:
    std::optional<Bitmap> build2D(uint8_t cn, const Symbols2D& s, int area, std::string* error) const;
    struct MadeSymbol {
        bool valid = false;
        Symbols2D inputs;
        int area = 0;
        std::optional<Bitmap> symbol;
        std::string error;
    };
    mutable std::array<MadeSymbol, 7> made_;  // cn 48 to 54
};

}  // namespace pellory::receipt
