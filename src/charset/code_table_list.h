// The printer's code tables and Kanji code systems as a list: each table's n, names and the C
// library's converter its upper half was generated from; each Kanji system's lead and trail bytes
// and its converter. Shared by the character module and tools/make_code_tables.cpp, which reads
// the converters once and writes code_table_data.cpp; nothing here opens a converter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "charset/code_tables.h"

namespace pellory::charset::list {

// The eleven of the "Code Table" list, in its order, then the others by n. Katakana takes A1-DF
// from Shift_JIS, whose single bytes there are the half-width katakana of JIS X 0201 (its other
// upper bytes start two-byte codes; the graphics are typed in, in code_tables.cpp). The Thai pages
// all read as TIS-620. Page 255 has no characters; the tables without a converter in the list
// below (PC853, PC857, TCVN-3, PC720, PC1098, PC1118, PC1119, PC1125) come from code_page_data.cpp.
inline constexpr CodeTableInfo kPC437 = {CodeTable::PC437, "PC437(U.S.A)", "cp437", "CP437"};
inline constexpr CodeTableInfo kKatakana = {CodeTable::Katakana, "Katakana", "katakana", "SHIFT_JIS"};
inline constexpr CodeTableInfo kPC850 = {CodeTable::PC850, "PC850(Multilingual)", "cp850", "CP850"};
inline constexpr CodeTableInfo kPC860 = {CodeTable::PC860, "PC860(Portuguese)", "cp860", "CP860"};
inline constexpr CodeTableInfo kPC863 = {CodeTable::PC863, "PC863(Canadian-French)", "cp863", "CP863"};
inline constexpr CodeTableInfo kPC865 = {CodeTable::PC865, "PC865(Nordic)", "cp865", "CP865"};
inline constexpr CodeTableInfo kWPC1252 = {CodeTable::WPC1252, "WPC1252", "cp1252", "CP1252"};
inline constexpr CodeTableInfo kPC866 = {CodeTable::PC866, "PC866(Cyrillic #2)", "cp866", "CP866"};
inline constexpr CodeTableInfo kPC852 = {CodeTable::PC852, "PC852(Latin 2)", "cp852", "CP852"};
inline constexpr CodeTableInfo kPC858 = {CodeTable::PC858, "PC858(Euro)", "cp858", "CP858"};
inline constexpr CodeTableInfo kPage255 = {CodeTable::Page255, "Page 255", "page255", nullptr};

inline constexpr std::array<CodeTableInfo, 11> kListTables = {kPC437,   kKatakana, kPC850, kPC860, kPC863,  kPC865,
                                                              kWPC1252, kPC866,    kPC852, kPC858, kPage255};

inline constexpr auto kAllTables = std::to_array<CodeTableInfo>({
    kPC437,
    kKatakana,
    kPC850,
    kPC860,
    kPC863,
    kPC865,
    kWPC1252,
    kPC866,
    kPC852,
    kPC858,
    kPage255,
    {CodeTable::PC851, "PC851(Greek)", "cp851", "IBM851"},
    {CodeTable::PC853, "PC853(Turkish)", "cp853", nullptr},
    {CodeTable::PC857, "PC857(Turkish)", "cp857", nullptr},
    {CodeTable::PC737, "PC737(Greek)", "cp737", "CP737"},
    {CodeTable::ISO8859_7, "ISO8859-7(Greek)", "iso8859-7", "ISO-8859-7"},
    {CodeTable::Thai42, "Thai Character Code 42", "thai42", "TIS-620"},
    {CodeTable::Thai11, "Thai Character Code 11", "thai11", "TIS-620"},
    {CodeTable::Thai13, "Thai Character Code 13", "thai13", "TIS-620"},
    {CodeTable::Thai14, "Thai Character Code 14", "thai14", "TIS-620"},
    {CodeTable::Thai16, "Thai Character Code 16", "thai16", "TIS-620"},
    {CodeTable::Thai17, "Thai Character Code 17", "thai17", "TIS-620"},
    {CodeTable::Thai18, "Thai Character Code 18", "thai18", "TIS-620"},
    {CodeTable::Tcvn3, "TCVN-3(Vietnamese)", "tcvn3", nullptr},
    {CodeTable::Tcvn3Capitals, "TCVN-3(Vietnamese capitals)", "tcvn3-capitals", nullptr},
    {CodeTable::PC720, "PC720(Arabic)", "cp720", nullptr},
    {CodeTable::PC775, "PC775(Baltic Rim)", "cp775", "CP775"},
    {CodeTable::PC855, "PC855(Cyrillic)", "cp855", "CP855"},
    {CodeTable::PC861, "PC861(Icelandic)", "cp861", "CP861"},
    {CodeTable::PC862, "PC862(Hebrew)", "cp862", "CP862"},
    {CodeTable::PC864, "PC864(Arabic)", "cp864", "CP864"},
    {CodeTable::PC869, "PC869(Greek)", "cp869", "CP869"},
    {CodeTable::ISO8859_2, "ISO8859-2(Latin 2)", "iso8859-2", "ISO-8859-2"},
    {CodeTable::ISO8859_15, "ISO8859-15(Latin 9)", "iso8859-15", "ISO-8859-15"},
    {CodeTable::PC1098, "PC1098(Farsi)", "cp1098", nullptr},
    {CodeTable::PC1118, "PC1118(Lithuanian)", "cp1118", nullptr},
    {CodeTable::PC1119, "PC1119(Lithuanian)", "cp1119", nullptr},
    {CodeTable::PC1125, "PC1125(Ukrainian)", "cp1125", nullptr},
    {CodeTable::WPC1250, "WPC1250(Latin 2)", "cp1250", "CP1250"},
    {CodeTable::WPC1251, "WPC1251(Cyrillic)", "cp1251", "CP1251"},
    {CodeTable::WPC1253, "WPC1253(Greek)", "cp1253", "CP1253"},
    {CodeTable::WPC1254, "WPC1254(Turkish)", "cp1254", "CP1254"},
    {CodeTable::WPC1255, "WPC1255(Hebrew)", "cp1255", "CP1255"},
    {CodeTable::WPC1256, "WPC1256(Arabic)", "cp1256", "CP1256"},
    {CodeTable::WPC1257, "WPC1257(Baltic Rim)", "cp1257", "CP1257"},
    {CodeTable::WPC1258, "WPC1258(Vietnamese)", "cp1258", "CP1258"},
    {CodeTable::KZ1048, "KZ-1048(Kazakhstan)", "kz1048", "RK1048"},
});

// --- the Kanji code systems ----------------------------------------------------------------------

inline constexpr size_t kSystemCount = 5;

// Where a system's two-byte codes lie, and the converter they were read from. JIS codes are read
// as EUC-JP with the high bit set on both bytes.
struct SystemInfo {
    const char* name;
    const char* converter;
    uint8_t leadFrom, leadTo;        // lead bytes, with the gap below
    uint8_t leadGapFrom, leadGapTo;  // (0, 0: none)
    uint8_t trailFrom, trailTo;
    uint8_t trailGapFrom, trailGapTo;
};

inline constexpr std::array<SystemInfo, kSystemCount> kSystems = {{
    {"GB18030", "GB18030", 0x81, 0xFE, 0, 0, 0x40, 0xFE, 0x7F, 0x7F},
    {"Shift_JIS", "SHIFT_JIS", 0x81, 0xFC, 0xA0, 0xDF, 0x40, 0xFC, 0x7F, 0x7F},
    {"JIS", "EUC-JP", 0x21, 0x7E, 0, 0, 0x21, 0x7E, 0, 0},
    {"Big5", "BIG5", 0x81, 0xFE, 0, 0, 0x40, 0xFE, 0x7F, 0xA0},
    {"KS C 5601", "EUC-KR", 0xA1, 0xFE, 0, 0, 0xA1, 0xFE, 0, 0},
}};

inline constexpr const SystemInfo& InfoOf(KanjiSystem s) { return kSystems[static_cast<size_t>(s)]; }

// Whether b lies from `from` to `to` and outside the gap gapFrom-gapTo (gapTo 0: no gap).
inline constexpr bool InRange(uint8_t b, uint8_t from, uint8_t to, uint8_t gapFrom, uint8_t gapTo) {
    return b >= from && b <= to && !(gapTo != 0 && b >= gapFrom && b <= gapTo);
}

}  // namespace pellory::charset::list
