// The zint library as the symbol makers use it: one call that encodes, and the module matrix it
// gives turned into dots. Inside the receipt module only (symbols.cpp, symbols_2d.cpp,
// dialect_symbols.cpp).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "receipt/glyphs.h"

struct zint_symbol;

namespace pellory::receipt::zint {

struct SymbolDeleter {
    void operator()(zint_symbol* s) const;
};
using SymbolPtr = std::unique_ptr<zint_symbol, SymbolDeleter>;

struct Options {
    int option1 = -1;
    int option2 = 0;
    int option3 = 0;
    std::string primary;  // the primary message (MaxiCode) or linear part (composites)
    bool readerInit = false;  // reader initialisation (CODE128: FNC3 after the start character)
};

// Encodes `data` as symbology `type` (a BARCODE_ constant) in `inputMode`; on failure fills error
// with the library's reason and returns null.
SymbolPtr Encode(int type, int inputMode, const std::string& data, std::string* error, const Options& options = {});

bool ModuleSet(const zint_symbol* s, int row, int column);
int Rows(const zint_symbol* s);
int Columns(const zint_symbol* s);
// The text under a linear symbol.
std::string Text(const zint_symbol* s);

// The height the library gives a row, in modules (0: not given).
int RowHeight(const zint_symbol* s, int row);

// GS1 data in the printer's form (application identifiers in parentheses, "{" special characters)
// as the library takes them (identifiers in square brackets). Nothing when they break the rules.
std::optional<std::string> Gs1Brackets(const std::string& data, std::string* error);

// The matrix, each module moduleWidth x moduleHeight dots (a row rowHeights[r] dots tall where
// given). No quiet zone: the first module's column and row are the bitmap's first, as the
// printer starts a symbol where it is placed.
Bitmap Matrix(const zint_symbol* s, int moduleWidth, int moduleHeight, const std::vector<int>& rowHeights = {});

}  // namespace pellory::receipt::zint
