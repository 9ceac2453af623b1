// What the decoding writes for the symbol commands: GS ( k by its symbol and function, GS k by its
// symbology and data (decoding.cpp puts them in the line).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pellory::receipt {

struct SymbolMeaning {
    std::string meaning;  // empty: the entry's meaning alone
    size_t shown = 0;     // parameter bytes the mnemonic shows (0: as for any command)
    bool known = true;
};

// GS ( k: "PDF417: columns 4", "DataMatrix: store 12 data bytes", ...; empty for a cn the printer
// does not have.
SymbolMeaning Symbol2DMeaning(const uint8_t* p, size_t n);

// GS k after "barcode": " CODE128: "ORDER-7731"" (the data as a reader reads them), and why
// nothing prints where the data break the rules (" (prints nothing: ...)").
SymbolMeaning BarcodeMeaning(const uint8_t* p, size_t n);

}  // namespace pellory::receipt
