#include "charset/code_tables.h"

#include <algorithm>
#include <array>

#include "charset/code_page_data.h"
#include "charset/code_table_data.h"
#include "charset/code_table_list.h"

namespace pellory::charset {

namespace {

using list::kAllTables;
using list::kListTables;

// The graphics of the Katakana table, which no converter has, as Unicode characters: bytes 80-9F
// and E0-FF, following the Katakana page of the public ESC/POS reference's character code tables
// (block elements, light box drawing with arcs, double lines, triangles, card suits, circles,
// diagonals, the characters of dates and addresses). FF prints blank: no character.
// clang-format off
constexpr std::array<char32_t, 32> kKatakanaGraphics80 = {
    U'\u2581', U'\u2582', U'\u2583', U'\u2584', U'\u2585', U'\u2586', U'\u2587', U'\u2588',  // lower 1/8 .. full block
    U'\u258F', U'\u258E', U'\u258D', U'\u258C', U'\u258B', U'\u258A', U'\u2589', U'\u253C',  // left 1/8 .. 7/8, cross
    U'\u2534', U'\u252C', U'\u2524', U'\u251C', U'\u2594', U'\u2500', U'\u2502', U'\u2595',  // tees, upper 1/8, lines
    U'\u250C', U'\u2510', U'\u2514', U'\u2518', U'\u256D', U'\u256E', U'\u2570', U'\u256F',  // corners, arcs
};
constexpr std::array<char32_t, 32> kKatakanaGraphicsE0 = {
    U'\u2550', U'\u255E', U'\u256A', U'\u2561', U'\u25E2', U'\u25E3', U'\u25E5', U'\u25E4',  // double lines, triangles
    U'\u2660', U'\u2665', U'\u2666', U'\u2663', U'\u25CF', U'\u25CB', U'\u2571', U'\u2572',  // suits, circles, diagonals
    U'\u2573', U'\u5186', U'\u5E74', U'\u6708', U'\u65E5', U'\u6642', U'\u5206', U'\u79D2',  // cross, yen .. second
    U'\u3012', U'\u5E02', U'\u533A', U'\u753A', U'\u6751', U'\u4EBA', U'\u2592', kNoCharacter,  // postal mark .. shade
};
// clang-format on

// --- the Kanji code systems ----------------------------------------------------------------------

const generated::KanjiTables& Tables(KanjiSystem system) { return generated::KanjiTablesOf(system); }

}  // namespace

std::span<const CodeTableInfo> CodeTables() { return kListTables; }
std::span<const CodeTableInfo> AllCodeTables() { return kAllTables; }

std::optional<CodeTable> CodeTableOfN(uint8_t n) {
    for (const CodeTableInfo& i : kAllTables) {
        if (static_cast<uint8_t>(i.table) == n) return i.table;
    }
    return std::nullopt;
}

const CodeTableInfo& InfoOf(CodeTable table) {
    for (const CodeTableInfo& i : kAllTables) {
        if (i.table == table) return i;
    }
    return kAllTables[0];
}

std::optional<uint8_t> ByteTable::ByteOf(char32_t c) const {
    if (c == kNoCharacter) return std::nullopt;
    if (c < 0x80 && chars_[c] == c) return static_cast<uint8_t>(c);
    const auto it = std::lower_bound(upper_.begin(), upper_.end(), std::pair<char32_t, uint8_t>{c, 0});
    if (it == upper_.end() || it->first != c) return std::nullopt;
    return it->second;
}

struct TableBuilder {
    // The reverse index of the upper half (positions without a character sort last).
    static void Index(ByteTable& table) {
        for (int b = 0x80; b < 256; ++b) {
            table.upper_[static_cast<size_t>(b - 0x80)] = {table.chars_[static_cast<size_t>(b)],
                                                           static_cast<uint8_t>(b)};
        }
        std::sort(table.upper_.begin(), table.upper_.end());
    }

    // The lower half is ASCII in every table (a converter that puts other characters there, as
    // CP864 does at 25, was read from 80 up only); the upper half is compiled in.
    static ByteTable Build(const CodeTableInfo& info) {
        ByteTable table;
        for (int b = 0; b < 0x80; ++b) table.chars_[static_cast<size_t>(b)] = static_cast<char32_t>(b);
        for (int b = 0x80; b < 256; ++b) table.chars_[static_cast<size_t>(b)] = kNoCharacter;
        const UpperHalf* data = UpperHalfData(info.table);
        if (!data) data = generated::ConverterUpperHalf(info.table);
        if (data) std::copy(data->begin(), data->end(), table.chars_.begin() + 0x80);
        if (info.table == CodeTable::Katakana) {
            for (size_t i = 0; i < 32; ++i) {
                table.chars_[0x80 + i] = kKatakanaGraphics80[i];
                table.chars_[0xE0 + i] = kKatakanaGraphicsE0[i];
            }
        }
        Index(table);
        return table;
    }
};

const ByteTable& TableOf(CodeTable table) {
    // Every table, and where each n's table lies among them (0, PC437's, for an n without one).
    struct All {
        std::array<ByteTable, kAllTables.size()> tables;
        std::array<uint8_t, 256> slot{};
    };
    static const All all = [] {
        All a;
        for (size_t i = 0; i < kAllTables.size(); ++i) {
            a.tables[i] = TableBuilder::Build(kAllTables[i]);
            a.slot[static_cast<uint8_t>(kAllTables[i].table)] = static_cast<uint8_t>(i);
        }
        return a;
    }();
    return all.tables[all.slot[static_cast<uint8_t>(table)]];
}

std::string ConverterProblem(CodeTable) { return {}; }

std::string ConverterProblem() { return {}; }

// --- the Kanji mode ------------------------------------------------------------------------------

const char* KanjiSystemName(KanjiSystem system) { return list::InfoOf(system).name; }

bool IsLeadByte(uint8_t b, KanjiSystem system) {
    const list::SystemInfo& i = list::InfoOf(system);
    return list::InRange(b, i.leadFrom, i.leadTo, i.leadGapFrom, i.leadGapTo);
}

char32_t TwoByteChar(uint8_t lead, uint8_t trail, KanjiSystem system) {
    if (lead < generated::kFirstLead || lead > 0xFE) return kNoCharacter;
    const generated::KanjiTables& t = Tables(system);
    const generated::LeadRow& row = t.rows[static_cast<size_t>(lead - generated::kFirstLead)];
    if (trail < row.from || trail > row.to) return kNoCharacter;
    const char16_t c = t.chars[row.at + static_cast<uint32_t>(trail - row.from)];
    if (c == 0) return kNoCharacter;
    if (c != generated::kBeyondPlane) return c;
    const uint16_t code = static_cast<uint16_t>(lead << 8 | trail);
    for (const generated::CodeOfWideChar& w : t.wide) {
        if (w.code == code) return w.c;
    }
    return kNoCharacter;
}

char32_t SingleByteKanjiChar(uint8_t b, KanjiSystem system) {
    const UpperHalf* singles = Tables(system).singles;
    if (b < 0x80 || !singles) return kNoCharacter;
    return (*singles)[static_cast<size_t>(b - 0x80)];
}

std::optional<uint16_t> KanjiCode(char32_t c, KanjiSystem system) {
    const generated::KanjiTables& t = Tables(system);
    if (c > 0xFFFF) {
        for (const generated::CodeOfWideChar& w : t.wide) {
            if (w.c == c) return w.code;
        }
        return std::nullopt;
    }
    const auto it = std::lower_bound(t.codes.begin(), t.codes.end(), c,
                                     [](const generated::CodeOfChar& e, char32_t k) { return e.c < k; });
    if (it == t.codes.end() || it->c != c) return std::nullopt;
    return it->code;
}

char32_t TwoByteChar(uint8_t lead, uint8_t trail) {
    if (!IsLeadByte(lead) || !IsTrailByte(trail)) return kNoCharacter;
    return TwoByteChar(lead, trail, KanjiSystem::Gb18030);
}

std::optional<uint16_t> TwoByteCode(char32_t c) { return KanjiCode(c, KanjiSystem::Gb18030); }

char32_t InternationalChar(uint8_t set, uint8_t byte) {
    // Per set, the characters at 23 24 40 5B 5C 5D 5E 60 7B 7C 7D 7E.
    static constexpr std::array<std::array<char32_t, 12>, kInternationalSetCount> kSets = {{
        {U'#', U'$', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},  // U.S.A.
        {U'#', U'$', U'\u00E0', U'\u00B0', U'\u00E7', U'\u00A7', U'^', U'`', U'\u00E9', U'\u00F9', U'\u00E8',
         U'\u00A8'},  // France
        {U'#', U'$', U'\u00A7', U'\u00C4', U'\u00D6', U'\u00DC', U'^', U'`', U'\u00E4', U'\u00F6', U'\u00FC',
         U'\u00DF'},                                                                     // Germany
        {U'\u00A3', U'$', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},  // U.K.
        {U'#', U'$', U'@', U'\u00C6', U'\u00D8', U'\u00C5', U'^', U'`', U'\u00E6', U'\u00F8', U'\u00E5',
         U'~'},  // Denmark I
        {U'#', U'\u00A4', U'\u00C9', U'\u00C4', U'\u00D6', U'\u00C5', U'\u00DC', U'\u00E9', U'\u00E4', U'\u00F6',
         U'\u00E5', U'\u00FC'},  // Sweden
        {U'#', U'$', U'@', U'\u00B0', U'\\', U'\u00E9', U'^', U'\u00F9', U'\u00E0', U'\u00F2', U'\u00E8',
         U'\u00EC'},  // Italy
        {U'\u20A7', U'$', U'@', U'\u00A1', U'\u00D1', U'\u00BF', U'^', U'`', U'\u00A8', U'\u00F1', U'}',
         U'~'},                                                                         // Spain
        {U'#', U'$', U'@', U'[', U'\u00A5', U']', U'^', U'`', U'{', U'|', U'}', U'~'},  // Japan
        {U'#', U'\u00A4', U'\u00C9', U'\u00C6', U'\u00D8', U'\u00C5', U'\u00DC', U'\u00E9', U'\u00E6', U'\u00F8',
         U'\u00E5', U'\u00FC'},  // Norway
        {U'#', U'$', U'\u00C9', U'\u00C6', U'\u00D8', U'\u00C5', U'\u00DC', U'\u00E9', U'\u00E6', U'\u00F8', U'\u00E5',
         U'\u00FC'},  // Denmark II
        {U'#', U'$', U'\u00E1', U'\u00A1', U'\u00D1', U'\u00BF', U'\u00E9', U'`', U'\u00ED', U'\u00F1', U'\u00F3',
         U'\u00FA'},  // Spain II
        {U'#', U'$', U'\u00E1', U'\u00A1', U'\u00D1', U'\u00BF', U'\u00E9', U'\u00FC', U'\u00ED', U'\u00F1', U'\u00F3',
         U'\u00FA'},                                                                    // Latin America
        {U'#', U'$', U'@', U'[', U'\u20A9', U']', U'^', U'`', U'{', U'|', U'}', U'~'},  // Korean
        {U'#', U'$', U'\u017D', U'\u0160', U'\u0110', U'\u0106', U'\u010C', U'\u017E', U'\u0161', U'\u0111', U'\u0107',
         U'\u010D'},                                                                     // Slovenia / Croatia
        {U'#', U'\u00A5', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},  // Chinese
    }};
    if (byte >= 0x80) return kNoCharacter;
    if (set >= kInternationalSetCount) set = 0;
    for (size_t i = 0; i < kInternationalPositions.size(); ++i) {
        if (kInternationalPositions[i] == byte) return kSets[set][i];
    }
    return byte;
}

}  // namespace pellory::charset
