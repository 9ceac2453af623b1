#include "charset/code_tables.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace pellory::charset {

namespace {

constexpr std::array<CodeTableInfo, 11> kTables = {{
    {CodeTable::PC437, "PC437(U.S.A)", "cp437"},
    {CodeTable::Katakana, "Katakana", "katakana"},
    {CodeTable::PC850, "PC850(Multilingual)", "cp850"},
    {CodeTable::PC860, "PC860(Portuguese)", "cp860"},
    {CodeTable::PC863, "PC863(Canadian-French)", "cp863"},
    {CodeTable::PC865, "PC865(Nordic)", "cp865"},
    {CodeTable::WPC1252, "WPC1252", "cp1252"},
    {CodeTable::PC866, "PC866(Cyrillic #2)", "cp866"},
    {CodeTable::PC852, "PC852(Latin 2)", "cp852"},
    {CodeTable::PC858, "PC858(Euro)", "cp858"},
    {CodeTable::Page255, "Page 255", "page255"},
}};

// The converter each table's upper half is read from. Katakana: Shift_JIS, whose single bytes
// A1-DF are the half-width katakana of JIS X 0201 (its other upper bytes start two-byte codes and
// have no character of their own). Page 255 has none.
const char* ConverterOf(CodeTable t) {
    switch (t) {
        case CodeTable::PC437: return "CP437";
        case CodeTable::Katakana: return "SHIFT_JIS";
        case CodeTable::PC850: return "CP850";
        case CodeTable::PC860: return "CP860";
        case CodeTable::PC863: return "CP863";
        case CodeTable::PC865: return "CP865";
        case CodeTable::WPC1252: return "CP1252";
        case CodeTable::PC866: return "CP866";
        case CodeTable::PC852: return "CP852";
        case CodeTable::PC858: return "CP858";
        case CodeTable::Page255: return nullptr;
    }
    return nullptr;
}

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

std::mutex gProblemMutex;
std::string gProblem;

void NoteMissing(const char* converter) {
    std::lock_guard lock(gProblemMutex);
    if (gProblem.empty()) gProblem = std::string("the system has no ") + converter + " converter (iconv)";
}

// Shift_JIS puts the yen sign and the overline at 5C and 7E; the printer's lower half is ASCII
// (the international set "Japan" gives the yen sign), so only A1-DF are read from the converter.
bool ReadsUpperOnly(CodeTable t, int byte) { return t == CodeTable::Katakana && (byte < 0xA1 || byte > 0xDF); }

struct TwoByteTables {
    // Lead 81-FE by trail 40-FE (a 7F trail never has a character).
    std::vector<char32_t> chars = std::vector<char32_t>(126 * 191, kNoCharacter);
    std::unordered_map<char32_t, uint16_t> codes;
};

const TwoByteTables& TwoBytes() {
    static const TwoByteTables tables = [] {
        TwoByteTables t;
        Decoder d("GB18030");
        if (!d.ok()) {
            NoteMissing("GB18030");
            return t;
        }
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (trail == 0x7F) continue;
                const uint8_t code[2] = {static_cast<uint8_t>(lead), static_cast<uint8_t>(trail)};
                const char32_t c = d.One(code, 2);
                t.chars[static_cast<size_t>((lead - 0x81) * 191 + (trail - 0x40))] = c;
                if (c != kNoCharacter) t.codes.emplace(c, static_cast<uint16_t>(lead << 8 | trail));
            }
        }
        return t;
    }();
    return tables;
}

}  // namespace

std::span<const CodeTableInfo> CodeTables() { return kTables; }

std::optional<CodeTable> CodeTableOfN(uint8_t n) {
    for (const CodeTableInfo& i : kTables) {
        if (static_cast<uint8_t>(i.table) == n) return i.table;
    }
    return std::nullopt;
}

const CodeTableInfo& InfoOf(CodeTable table) {
    for (const CodeTableInfo& i : kTables) {
        if (i.table == table) return i;
    }
    return kTables[0];
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

    static ByteTable Build(CodeTable t) {
        ByteTable table;
        for (int b = 0; b < 0x80; ++b) table.chars_[static_cast<size_t>(b)] = static_cast<char32_t>(b);
        for (int b = 0x80; b < 256; ++b) table.chars_[static_cast<size_t>(b)] = kNoCharacter;
        const char* converter = ConverterOf(t);
        if (!converter) {
            Index(table);
            return table;
        }
        Decoder d(converter);
        if (!d.ok()) {
            NoteMissing(converter);
            Index(table);
            return table;
        }
        for (int b = 0; b < 256; ++b) {
            if (ReadsUpperOnly(t, b)) continue;
            const uint8_t byte = static_cast<uint8_t>(b);
            table.chars_[byte] = d.One(&byte, 1);
        }
        Index(table);
        return table;
    }
};

const ByteTable& TableOf(CodeTable table) {
    static const std::array<ByteTable, kTables.size()> tables = [] {
        std::array<ByteTable, kTables.size()> all;
        for (size_t i = 0; i < kTables.size(); ++i) all[i] = TableBuilder::Build(kTables[i].table);
        return all;
    }();
    for (size_t i = 0; i < kTables.size(); ++i) {
        if (kTables[i].table == table) return tables[i];
    }
    return tables[0];
}

std::string ConverterProblem() {
    for (const CodeTableInfo& i : kTables) (void)TableOf(i.table);
    (void)TwoBytes();
    std::lock_guard lock(gProblemMutex);
    return gProblem;
}

char32_t TwoByteChar(uint8_t lead, uint8_t trail) {
    if (!IsLeadByte(lead) || !IsTrailByte(trail)) return kNoCharacter;
    return TwoBytes().chars[static_cast<size_t>((lead - 0x81) * 191 + (trail - 0x40))];
}

std::optional<uint16_t> TwoByteCode(char32_t c) {
    const auto& codes = TwoBytes().codes;
    const auto it = codes.find(c);
    if (it == codes.end()) return std::nullopt;
    return it->second;
}

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
