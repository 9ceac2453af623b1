// The interpreter's symbols: the print of GS ( k of every cn and other makers' ESC Z (see
// interpreter.h); the symbols are made from the modes by the SymbolMaker. A print whose data the
// symbol cannot hold, or whose symbol is wider than the print area, prints nothing.
#include "protocol/functions.h"
#include "receipt/interpreter.h"

namespace pellory::receipt {

void Interpreter::symbol2D(const uint8_t* p, size_t n) {
    if (n < 7 || p[6] != protocol::symbol2d::kPrint) return;  // the settings and data are the modes'
    // A symbol wider than the print area prints nothing, as on the printer.
    const int area = areaRight() - areaLeft();
    const std::optional<Bitmap> symbol = symbols_.symbol2D(p[5], modes_, area, nullptr);
    if (symbol && SymbolMaker::InkWidth(*symbol) <= area) printBlock(*symbol, Block::Turned);
}

void Interpreter::dialectSymbol(const uint8_t* p, size_t n) {
    // A symbol wider than the print area prints nothing, as GS ( k's do.
    const std::optional<Bitmap> symbol = SymbolMaker::dialectSymbol(p, n, modes_.dialectKind, nullptr);
    if (symbol && SymbolMaker::InkWidth(*symbol) <= areaRight() - areaLeft()) printBlock(*symbol, Block::Turned);
}

}  // namespace pellory::receipt
