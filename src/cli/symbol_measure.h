// The size of a 2-D symbol stored in the printer server's symbol storage area, as the receipt
// renderer encodes and draws it: what the server answers GS ( k fn 82 with. The server (vprinter)
// may not use the renderer, so the programs that start one hand it this function
// (vprinter::ServerOptions::symbolMeasure).
#pragma once

#include <optional>

#include "vprinter/symbol_storage.h"

namespace pellory::app {

// The symbol's width and height in dots from its first inked dot to its last (the quiet zone left
// out), at its module size; nothing when nothing is stored or its data do not fit its settings.
std::optional<vprinter::SymbolSize> MeasureStoredSymbol(const vprinter::StoredSymbol& symbol);

}  // namespace pellory::app
