// CODE128 as GS k sends it: the data's own code sets, shifts and function characters turned into
// the symbol characters the printer draws (start, data, check, stop), with no choice of our own.
// The data name their first code set ({A, {B or {C); "{" and one character are the special
// characters: {A {B {C change the code set, {S (SHIFT) takes the next character from the other of
// code sets A and B, {1 to {4 are FNC1 to FNC4 and {{ is a "{". Code set A takes bytes 0 to 95,
// B 32 to 127, C 0 to 99 (each byte a pair of digits).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "receipt/glyphs.h"

namespace pellory::receipt {

struct Code128Symbol {
    // The symbol characters (0..106) in the order drawn: the start character, the data and code
    // changes as the data ask, the modulo-103 check character, the stop character.
    std::vector<uint8_t> values;
    // What a reader reads: code changes and SHIFT read as nothing, FNC1 to FNC3 too, FNC4 adds 128
    // to the next character (twice in a row: to every character until the next pair).
    std::string content;
    // The human-readable text the printer prints: no code change or SHIFT, a space for each
    // function character and control character (0 to 31, 127).
    std::string hri;
};

// The symbol the data ask for; nothing when the printer refuses the data (error tells why, with
// the position, counted from 1, of the byte at fault).
std::optional<Code128Symbol> EncodeCode128(const std::string& data, std::string* error = nullptr);

// The widths in modules of symbol characters, bar first: six for each character (eleven modules),
// seven for the stop character (thirteen modules).
std::vector<uint8_t> Code128Widths(const std::vector<uint8_t>& values);

// The bars of a symbol: `moduleWidth` dots per module, `height` dots tall, from the first bar to
// the last (the printer adds no quiet zone).
Bitmap Code128Bars(const Code128Symbol& symbol, int moduleWidth, int height);

// What a reader reads from a CODE128 symbol of GS k data ("{BNo.{C" 12 34 reads "No.1234");
// nothing when the data break the rules (error tells why).
std::optional<std::string> Code128Content(const std::string& data, std::string* error = nullptr);

}  // namespace pellory::receipt
