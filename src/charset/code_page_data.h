// The code tables of ESC t that are kept as data rather than read from the C library's converters:
// the ones it has no converter for (PC853, PC720, PC1098, TCVN-3 and its capitals), the ones whose
// converter differs from the printers' table (PC857, where the printers put the euro sign at D5),
// and the ones it has under other names or may not have everywhere (PC1118, PC1119, PC1125). Each
// is its upper half, bytes 80-FF, written into code_page_data.cpp by tools/make_code_page_data.py
// from the source named there; below 0x80 every table is ASCII. Everything here is compiled in,
// as the tables read from the converters are (code_table_data.h): no file is read at run time.
#pragma once

#include <array>

#include "charset/code_tables.h"

namespace pellory::charset {

// The characters of bytes 80-FF, kNoCharacter where the table has none.
using UpperHalf = std::array<char32_t, 128>;

// The upper half of a table kept as data here; nullptr for a table read from a converter
// (code_table_data.h) or without characters.
const UpperHalf* UpperHalfData(CodeTable table);

}  // namespace pellory::charset
