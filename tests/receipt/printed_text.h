// Reads text back from a receipt by Pellory's own glyphs: the expected text is drawn on a paper of
// its own with the plainest commands that give its look (ESC t or FS & for its characters, ESC M,
// ESC E, ESC -, GS B, GS ! and ESC a, after ESC @), and that drawing, cut to its ink, is looked
// for dot for dot on the receipt. A line reads back when every dot of its cells is where the
// reference has it; a wrong code table, size, style or font leaves it unfound. Tests only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "charset/code_tables.h"
#include "receipt/interpreter.h"
#include "receipt_test_support.h"

namespace pellory::receipt::test {

// How a run of text looks as printed.
struct TextLook {
    char font = 'A';    // 'A' or 'B'
    int width = 1;      // 1 to 8
    int height = 1;     // 1 to 8
    bool bold = false;  // emphasized
    int underline = 0;  // 0, 1 or 2 dots
    bool invert = false;
    bool condensed = false;  // the condensed mode of another printer language (ESC SI)
};

enum class LineAlign { Any, Left, Center, Right };

// The code tables a reference line takes its characters from, in the order tried.
inline const std::vector<charset::CodeTable>& ReferenceTables() {
    using charset::CodeTable;
    static const std::vector<CodeTable> tables = {CodeTable::PC437,   CodeTable::PC858, CodeTable::PC857,
                                                  CodeTable::PC866,   CodeTable::PC850, CodeTable::WPC1252,
                                                  CodeTable::Katakana};
    return tables;
}

// The bytes that print `text` (UTF-8) under ESC @ defaults: each character from the first table of
// ReferenceTables that has it, else in Kanji mode. A Shift_JIS model takes its lead bytes as Kanji
// even outside Kanji mode, so there the reference selects JIS first (FS C 0) and writes its Kanji
// in JIS. Empty, with *missing set, when a character is in none.
inline Bytes ReferenceBytes(const std::u32string& text, char32_t* missing,
                            charset::KanjiSystem model = charset::KanjiSystem::Gb18030) {
    const bool shiftJis = model == charset::KanjiSystem::ShiftJis;
    const charset::KanjiSystem system = shiftJis ? charset::KanjiSystem::Jis : model;
    Bytes out = shiftJis ? Bytes{0x1C, 0x43, 0x00} : Bytes{};
    int table = 0;  // ESC t after ESC @
    bool kanji = false;
    for (char32_t c : text) {
        if (c < 0x80) {
            if (kanji) out.insert(out.end(), {0x1C, 0x2E});
            kanji = false;
            out.push_back(static_cast<uint8_t>(c));
            continue;
        }
        bool done = false;
        // Ideographs and full-width kana print in Kanji mode, though the Katakana table has a few
        // (年 月 日 as single bytes).
        const bool wide = c >= 0x3000 && c < 0xFF00;
        for (charset::CodeTable t : wide ? std::vector<charset::CodeTable>{} : ReferenceTables()) {
            const std::optional<uint8_t> b = charset::TableOf(t).ByteOf(c);
            if (!b) continue;
            if (kanji) out.insert(out.end(), {0x1C, 0x2E});
            kanji = false;
            if (static_cast<int>(t) != table) out.insert(out.end(), {0x1B, 0x74, static_cast<uint8_t>(t)});
            table = static_cast<int>(t);
            out.push_back(*b);
            done = true;
            break;
        }
        if (done) continue;
        const std::optional<uint16_t> code = charset::KanjiCode(c, system);
        if (!code || *code < 0x100) {
            *missing = c;
            return {};
        }
        if (!kanji) out.insert(out.end(), {0x1C, 0x26});
        kanji = true;
        out.push_back(static_cast<uint8_t>(*code >> 8));
        out.push_back(static_cast<uint8_t>(*code & 0xFF));
    }
    return out;
}

// The text drawn alone, as the look and alignment ask, on a paper `width` dots wide.
inline Paper DrawReference(const Bytes& textBytes, const TextLook& look, LineAlign align, int width,
                           charset::KanjiSystem model = charset::KanjiSystem::Gb18030) {
    const int a = align == LineAlign::Center ? 1 : align == LineAlign::Right ? 2 : 0;
    const Bytes modes = B({0x1B,
                           0x40,
                           0x1B,
                           0x4D,
                           look.font == 'B' ? 1 : 0,
                           0x1B,
                           0x45,
                           look.bold ? 1 : 0,
                           0x1B,
                           0x2D,
                           look.underline,
                           0x1D,
                           0x42,
                           look.invert ? 1 : 0,
                           0x1D,
                           0x21,
                           (look.width - 1) << 4 | (look.height - 1),
                           0x1B,
                           0x61,
                           a});
    // The model's Kanji glyphs are its own: the reference is drawn on the same model.
    Interpreter printer(width);
    printer.setKanjiModel(model);
    printer.feed(Cat({modes, look.condensed ? B({0x1B, 0x0F}) : Bytes{}, textBytes, B({0x0A})}));
    printer.finish();
    return printer.paper();
}

// A picture cut out of a paper: its dots, row after row.
struct Stencil {
    int x0 = 0;  // where it was on its paper
    int width = 0, height = 0;
    std::vector<uint8_t> dots;  // width * height, 0 or 1
    bool at(int x, int y) const { return dots[static_cast<size_t>(y) * static_cast<size_t>(width) + x] != 0; }
};

inline Stencil CutToInk(const Paper& p) {
    const Box box = InkBox(p, p.firstRow(), p.endRow());
    Stencil s;
    if (box.empty()) return s;
    s.x0 = box.x0;
    s.width = box.width();
    s.height = static_cast<int>(box.height());
    s.dots.resize(static_cast<size_t>(s.width) * static_cast<size_t>(s.height));
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            s.dots[static_cast<size_t>(y) * static_cast<size_t>(s.width) + x] = p.dot(box.x0 + x, box.y0 + y);
        }
    }
    return s;
}

struct Place {
    int x = 0;
    int64_t y = 0;
};

// The first place, from row `fromRow` down, where the receipt holds the stencil dot for dot.
inline std::optional<Place> FindStencil(const Paper& p, const Stencil& s, int64_t fromRow) {
    if (s.width == 0 || s.width > p.width()) return std::nullopt;
    int anchor = 0;  // the first ink of the stencil's top row: a place must have ink there
    while (!s.at(anchor, 0)) ++anchor;
    for (int64_t y = std::max(fromRow, p.firstRow()); y + s.height <= p.endRow(); ++y) {
        for (int x = 0; x + s.width <= p.width(); ++x) {
            if (!p.dot(x + anchor, y)) continue;
            bool same = true;
            for (int r = 0; r < s.height && same; ++r) {
                for (int c = 0; c < s.width; ++c) {
                    if (p.dot(x + c, y + r) != s.at(c, r)) {
                        same = false;
                        break;
                    }
                }
            }
            if (same) return Place{x, y};
        }
    }
    return std::nullopt;
}

}  // namespace pellory::receipt::test
