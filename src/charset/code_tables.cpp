#include "charset/code_tables.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <unordered_map>
#include <vector>

#include "charset/code_page_data.h"

namespace pellory::charset {

namespace {

// The eleven of the "Code Table" list, in its order, then the others by n. Katakana reads A1-DF
// from Shift_JIS, whose single bytes there are the half-width katakana of JIS X 0201 (its other
// upper bytes start two-byte codes; the graphics come from kKatakanaGraphics). The Thai pages all
// read as TIS-620. Page 255 has no converter; the tables without one in the list below (PC853,
// PC857, TCVN-3, PC720, PC1098, PC1118, PC1119, PC1125) are compiled in (code_page_data.h).
constexpr CodeTableInfo kPC437 = {CodeTable::PC437, "PC437(U.S.A)", "cp437", "CP437"};
constexpr CodeTableInfo kKatakana = {CodeTable::Katakana, "Katakana", "katakana", "SHIFT_JIS"};
constexpr CodeTableInfo kPC850 = {CodeTable::PC850, "PC850(Multilingual)", "cp850", "CP850"};
constexpr CodeTableInfo kPC860 = {CodeTable::PC860, "PC860(Portuguese)", "cp860", "CP860"};
constexpr CodeTableInfo kPC863 = {CodeTable::PC863, "PC863(Canadian-French)", "cp863", "CP863"};
constexpr CodeTableInfo kPC865 = {CodeTable::PC865, "PC865(Nordic)", "cp865", "CP865"};
constexpr CodeTableInfo kWPC1252 = {CodeTable::WPC1252, "WPC1252", "cp1252", "CP1252"};
constexpr CodeTableInfo kPC866 = {CodeTable::PC866, "PC866(Cyrillic #2)", "cp866", "CP866"};
constexpr CodeTableInfo kPC852 = {CodeTable::PC852, "PC852(Latin 2)", "cp852", "CP852"};
constexpr CodeTableInfo kPC858 = {CodeTable::PC858, "PC858(Euro)", "cp858", "CP858"};
constexpr CodeTableInfo kPage255 = {CodeTable::Page255, "Page 255", "page255", nullptr};

constexpr std::array<CodeTableInfo, 11> kListTables = {kPC437,   kKatakana, kPC850, kPC860, kPC863,  kPC865,
                                                       kWPC1252, kPC866,    kPC852, kPC858, kPage255};

constexpr auto kAllTables = std::to_array<CodeTableInfo>({
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

// One converter to UTF-32LE, closed with the object.
class Decoder {
public:
    explicit Decoder(const char* from) : cd_(iconv_open("UTF-32LE", from)) {}
    ~Decoder() {
        if (ok()) iconv_close(cd_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // The one character the bytes make, or kNoCharacter (an invalid or incomplete code, or one
    // that makes more than one character).
    char32_t One(const uint8_t* bytes, size_t n) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // fresh shift state
        char in[4];
        for (size_t i = 0; i < n; ++i) in[i] = static_cast<char>(bytes[i]);
        unsigned char out[8];
        char* inp = in;
        size_t inLeft = n;
        char* outp = reinterpret_cast<char*>(out);
        size_t outLeft = sizeof out;
        const size_t r = iconv(cd_, &inp, &inLeft, &outp, &outLeft);
        if (r == static_cast<size_t>(-1) || inLeft != 0) return kNoCharacter;
        // Flush: a code still pending in the converter is incomplete.
        if (iconv(cd_, nullptr, nullptr, &outp, &outLeft) == static_cast<size_t>(-1)) return kNoCharacter;
        if (sizeof out - outLeft != 4) return kNoCharacter;
        return static_cast<char32_t>(out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<uint32_t>(out[3]) << 24));
    }

private:
    iconv_t cd_;
};

bool Opens(const char* converter) {
    const iconv_t cd = iconv_open("UTF-32LE", converter);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

std::string Missing(const char* converter) {
    return std::string("the system has no ") + converter + " converter (iconv)";
}

// --- the Kanji code systems ----------------------------------------------------------------------

constexpr size_t kSystemCount = 5;

// Where a system's two-byte codes lie, and the converter they are read from. JIS codes are read
// as EUC-JP with the high bit set on both bytes.
struct SystemInfo {
    const char* name;
    const char* converter;
    uint8_t leadFrom, leadTo;        // lead bytes, with the gap below
    uint8_t leadGapFrom, leadGapTo;  // (0, 0: none)
    uint8_t trailFrom, trailTo;
    uint8_t trailGapFrom, trailGapTo;
};

constexpr std::array<SystemInfo, kSystemCount> kSystems = {{
    {"GB18030", "GB18030", 0x81, 0xFE, 0, 0, 0x40, 0xFE, 0x7F, 0x7F},
    {"Shift_JIS", "SHIFT_JIS", 0x81, 0xFC, 0xA0, 0xDF, 0x40, 0xFC, 0x7F, 0x7F},
    {"JIS", "EUC-JP", 0x21, 0x7E, 0, 0, 0x21, 0x7E, 0, 0},
    {"Big5", "BIG5", 0x81, 0xFE, 0, 0, 0x40, 0xFE, 0x7F, 0xA0},
    {"KS C 5601", "EUC-KR", 0xA1, 0xFE, 0, 0, 0xA1, 0xFE, 0, 0},
}};

const SystemInfo& InfoOf(KanjiSystem s) { return kSystems[static_cast<size_t>(s)]; }

bool InRange(uint8_t b, uint8_t from, uint8_t to, uint8_t gapFrom, uint8_t gapTo) {
    return b >= from && b <= to && !(gapTo != 0 && b >= gapFrom && b <= gapTo);
}

// A system's codes: lead and trail 21-FE each, a grid of 222 x 222.
constexpr int kGridFrom = 0x21;
constexpr int kGridSide = 0xFE - kGridFrom + 1;

struct TwoByteTables {
    std::vector<char32_t> chars = std::vector<char32_t>(static_cast<size_t>(kGridSide * kGridSide), kNoCharacter);
    std::array<char32_t, 128> singles{};  // 80-FF standing alone
    std::unordered_map<char32_t, uint16_t> codes;
};

TwoByteTables BuildSystem(KanjiSystem system) {
    TwoByteTables t;
    t.singles.fill(kNoCharacter);
    const SystemInfo& info = InfoOf(system);
    Decoder d(info.converter);
    if (!d.ok()) return t;
    const bool jis = system == KanjiSystem::Jis;
    for (int lead = info.leadFrom; lead <= info.leadTo; ++lead) {
        if (!InRange(static_cast<uint8_t>(lead), info.leadFrom, info.leadTo, info.leadGapFrom, info.leadGapTo))
            continue;
        for (int trail = info.trailFrom; trail <= info.trailTo; ++trail) {
            if (!InRange(static_cast<uint8_t>(trail), info.trailFrom, info.trailTo, info.trailGapFrom,
                         info.trailGapTo)) {
                continue;
            }
            const uint8_t code[2] = {static_cast<uint8_t>(jis ? lead | 0x80 : lead),
                                     static_cast<uint8_t>(jis ? trail | 0x80 : trail)};
            const char32_t c = d.One(code, 2);
            t.chars[static_cast<size_t>((lead - kGridFrom) * kGridSide + (trail - kGridFrom))] = c;
            if (c != kNoCharacter) t.codes.emplace(c, static_cast<uint16_t>(lead << 8 | trail));
        }
    }
    if (system == KanjiSystem::ShiftJis) {
        for (int b = 0xA1; b <= 0xDF; ++b) {
            const auto byte = static_cast<uint8_t>(b);
            const char32_t c = d.One(&byte, 1);
            t.singles[static_cast<size_t>(b - 0x80)] = c;
            if (c != kNoCharacter) t.codes.emplace(c, static_cast<uint16_t>(b));
        }
    }
    return t;
}

// Built on first use of each system (thread-safe) and kept for the run.
template <KanjiSystem S>
const TwoByteTables& TablesOf() {
    static const TwoByteTables tables = BuildSystem(S);
    return tables;
}

const TwoByteTables& TwoBytes(KanjiSystem system) {
    switch (system) {
        case KanjiSystem::Gb18030: return TablesOf<KanjiSystem::Gb18030>();
        case KanjiSystem::ShiftJis: return TablesOf<KanjiSystem::ShiftJis>();
        case KanjiSystem::Jis: return TablesOf<KanjiSystem::Jis>();
        case KanjiSystem::Big5: return TablesOf<KanjiSystem::Big5>();
        case KanjiSystem::Ksc5601: return TablesOf<KanjiSystem::Ksc5601>();
    }
    return TablesOf<KanjiSystem::Gb18030>();
}

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
            table.upper_[static_cast<size_t>(b - 0x80)] = {table.chars_[static_cast<size_t>(b)], static_cast<uint8_t>(b)};
        }
        std::sort(table.upper_.begin(), table.upper_.end());
    }

    // The lower half is ASCII in every table (a converter that puts other characters there, as
    // CP864 does at 25, is read from 80 up only).
    static ByteTable Build(const CodeTableInfo& info) {
        ByteTable table;
        for (int b = 0; b < 0x80; ++b) table.chars_[static_cast<size_t>(b)] = static_cast<char32_t>(b);
        for (int b = 0x80; b < 256; ++b) table.chars_[static_cast<size_t>(b)] = kNoCharacter;
        if (const UpperHalf* data = UpperHalfData(info.table)) {
            std::copy(data->begin(), data->end(), table.chars_.begin() + 0x80);
        } else if (info.converter) {
            Decoder d(info.converter);
            for (int b = 0x80; b < 256 && d.ok(); ++b) {
                const auto byte = static_cast<uint8_t>(b);
                if (info.table == CodeTable::Katakana && (b < 0xA1 || b > 0xDF)) continue;
                table.chars_[byte] = d.One(&byte, 1);
            }
        }
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

std::string ConverterProblem(CodeTable table) {
    const CodeTableInfo& info = InfoOf(table);
    if (!info.converter || Opens(info.converter)) return {};
    return Missing(info.converter);
}

std::string ConverterProblem() {
    for (const CodeTableInfo& i : kListTables) {
        if (std::string problem = ConverterProblem(i.table); !problem.empty()) return problem;
    }
    for (const SystemInfo& s : kSystems) {
        if (!Opens(s.converter)) return Missing(s.converter);
    }
    return {};
}

// --- the Kanji mode ------------------------------------------------------------------------------

const char* KanjiSystemName(KanjiSystem system) { return InfoOf(system).name; }

bool IsLeadByte(uint8_t b, KanjiSystem system) {
    const SystemInfo& i = InfoOf(system);
    return InRange(b, i.leadFrom, i.leadTo, i.leadGapFrom, i.leadGapTo);
}

char32_t TwoByteChar(uint8_t lead, uint8_t trail, KanjiSystem system) {
    if (lead < kGridFrom || lead > 0xFE || trail < kGridFrom || trail > 0xFE) return kNoCharacter;
    return TwoBytes(system).chars[static_cast<size_t>((lead - kGridFrom) * kGridSide + (trail - kGridFrom))];
}

char32_t SingleByteKanjiChar(uint8_t b, KanjiSystem system) {
    if (b < 0x80 || system != KanjiSystem::ShiftJis) return kNoCharacter;
    return TwoBytes(system).singles[static_cast<size_t>(b - 0x80)];
}

std::optional<uint16_t> KanjiCode(char32_t c, KanjiSystem system) {
    const auto& codes = TwoBytes(system).codes;
    const auto it = codes.find(c);
    if (it == codes.end()) return std::nullopt;
    return it->second;
}

char32_t TwoByteChar(uint8_t lead, uint8_t trail) {
    if (!IsLeadByte(lead) || !IsTrailByte(trail)) return kNoCharacter;
    return TwoByteChar(lead, trail, KanjiSystem::Gb18030);
}

std::optional<uint16_t> TwoByteCode(char32_t c) { return KanjiCode(c, KanjiSystem::Gb18030); }

char32_t InternationalChar(uint8_t set, uint8_t byte) {
    // Per set, the characters at 23 24 40 5B 5C 5D 5E 60 7B 7C 7D 7E.
    static constexpr std::array<std::array<char32_t, 12>, kInternationalSetCount> kSets = {{
        {U'#', U'$', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},                 // U.S.A.
        {U'#', U'$', U'\u00E0', U'\u00B0', U'\u00E7', U'\u00A7', U'^', U'`', U'\u00E9', U'\u00F9', U'\u00E8', U'\u00A8'},  // France
        {U'#', U'$', U'\u00A7', U'\u00C4', U'\u00D6', U'\u00DC', U'^', U'`', U'\u00E4', U'\u00F6', U'\u00FC', U'\u00DF'},  // Germany
        {U'\u00A3', U'$', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},            // U.K.
        {U'#', U'$', U'@', U'\u00C6', U'\u00D8', U'\u00C5', U'^', U'`', U'\u00E6', U'\u00F8', U'\u00E5', U'~'},      // Denmark I
        {U'#', U'\u00A4', U'\u00C9', U'\u00C4', U'\u00D6', U'\u00C5', U'\u00DC', U'\u00E9', U'\u00E4', U'\u00F6', U'\u00E5', U'\u00FC'},  // Sweden
        {U'#', U'$', U'@', U'\u00B0', U'\\', U'\u00E9', U'^', U'\u00F9', U'\u00E0', U'\u00F2', U'\u00E8', U'\u00EC'},  // Italy
        {U'\u20A7', U'$', U'@', U'\u00A1', U'\u00D1', U'\u00BF', U'^', U'`', U'\u00A8', U'\u00F1', U'}', U'~'},      // Spain
        {U'#', U'$', U'@', U'[', U'\u00A5', U']', U'^', U'`', U'{', U'|', U'}', U'~'},               // Japan
        {U'#', U'\u00A4', U'\u00C9', U'\u00C6', U'\u00D8', U'\u00C5', U'\u00DC', U'\u00E9', U'\u00E6', U'\u00F8', U'\u00E5', U'\u00FC'},  // Norway
        {U'#', U'$', U'\u00C9', U'\u00C6', U'\u00D8', U'\u00C5', U'\u00DC', U'\u00E9', U'\u00E6', U'\u00F8', U'\u00E5', U'\u00FC'},  // Denmark II
        {U'#', U'$', U'\u00E1', U'\u00A1', U'\u00D1', U'\u00BF', U'\u00E9', U'`', U'\u00ED', U'\u00F1', U'\u00F3', U'\u00FA'},  // Spain II
        {U'#', U'$', U'\u00E1', U'\u00A1', U'\u00D1', U'\u00BF', U'\u00E9', U'\u00FC', U'\u00ED', U'\u00F1', U'\u00F3', U'\u00FA'},  // Latin America
        {U'#', U'$', U'@', U'[', U'\u20A9', U']', U'^', U'`', U'{', U'|', U'}', U'~'},               // Korean
        {U'#', U'$', U'\u017D', U'\u0160', U'\u0110', U'\u0106', U'\u010C', U'\u017E', U'\u0161', U'\u0111', U'\u0107', U'\u010D'},  // Slovenia / Croatia
        {U'#', U'\u00A5', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},            // Chinese
    }};
    if (byte >= 0x80) return kNoCharacter;
    if (set >= kInternationalSetCount) set = 0;
    for (size_t i = 0; i < kInternationalPositions.size(); ++i) {
        if (kInternationalPositions[i] == byte) return kSets[set][i];
    }
    return byte;
}

}  // namespace pellory::charset
