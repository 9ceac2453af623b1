// make_code_tables: writes src/charset/code_table_data.cpp, the code tables and Kanji code systems
// as the C library's converters (glibc iconv) read them, for the character module to compile in.
// It asks each converter of code_table_list.h for every byte of a table's upper half and every
// two-byte code of a Kanji system, one code at a time from a fresh state, as the module once did at
// run time.
//
//     make_code_tables FILE            (re)write FILE
//     make_code_tables --check FILE    exit 1, naming the first line that differs, when FILE is not
//                                      what the converters give today
//
// Exit status 2 when a converter is missing or reads a code in a way the data cannot hold (as
// U+0000 or U+FFFF in a Kanji system).
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "charset/code_table_data.h"
#include "charset/code_table_list.h"

namespace {

using pellory::charset::CodeTableInfo;
using pellory::charset::kNoCharacter;
namespace list = pellory::charset::list;

// One converter to UTF-32LE, closed with the object.
class Decoder {
public:
    explicit Decoder(const char* from) : cd_(iconv_open("UTF-32LE", from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error(std::string("no converter ") + from);
    }
    ~Decoder() { iconv_close(cd_); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // The one character the bytes make, or kNoCharacter (an invalid or incomplete code, or one that
    // makes more than one character).
    char32_t One(const uint8_t* bytes, size_t n) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // fresh shift state
        char in[4];
        for (size_t i = 0; i < n; ++i) in[i] = static_cast<char>(bytes[i]);
        unsigned char out[8];
        char* inp = in;
        size_t inLeft = n;
        char* outp = reinterpret_cast<char*>(out);
        size_t outLeft = sizeof out;
        if (iconv(cd_, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return kNoCharacter;
        // Flush: a code still pending in the converter is incomplete.
        if (iconv(cd_, nullptr, nullptr, &outp, &outLeft) == static_cast<size_t>(-1)) return kNoCharacter;
        if (sizeof out - outLeft != 4) return kNoCharacter;
        return static_cast<char32_t>(out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<uint32_t>(out[3]) << 24));
    }

private:
    iconv_t cd_;
};

std::string Hex(uint32_t v, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%0*X", digits, v);
    return buffer;
}

// A name for C++ made of the letters and digits of `name`.
std::string Identifier(const char* name) {
    std::string id;
    for (const char* p = name; *p; ++p) {
        if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9')) id += *p;
    }
    return id;
}

using Upper = std::vector<char32_t>;  // 128 characters, of bytes 80-FF

Upper ReadUpperHalf(const char* converter) {
    Decoder d(converter);
    Upper upper;
    for (int b = 0x80; b < 0x100; ++b) {
        const auto byte = static_cast<uint8_t>(b);
        upper.push_back(d.One(&byte, 1));
    }
    return upper;
}

void WriteUpperHalf(std::ostream& out, const std::string& name, const Upper& upper) {
    out << "constexpr UpperHalf " << name << " = {\n";
    for (size_t row = 0; row < 128; row += 8) {
        out << "    ";
        for (size_t i = row; i < row + 8; ++i) out << (upper[i] == kNoCharacter ? "kNone" : Hex(upper[i], 4)) << ", ";
        out << " // " << Hex(static_cast<uint32_t>(0x80 + row), 2).substr(2) << "\n";
    }
    out << "};\n";
}

struct System {
    std::string id;
    std::vector<std::pair<uint8_t, uint8_t>> rows;  // per lead, first and last trail with a character
    std::vector<uint32_t> at;
    std::vector<char16_t> chars;
    std::map<char32_t, uint16_t> codes;  // each character's first code
    std::string singles;                 // the name of the upper half of its single bytes, or empty
};

// The character as the rows hold it.
char16_t Narrow(char32_t c, const char* converter) {
    using pellory::charset::generated::kBeyondPlane;
    if (c == 0 || c == kBeyondPlane)
        throw std::runtime_error(std::string(converter) + " reads a code as U+0000 or U+FFFF");
    return c > 0xFFFF ? kBeyondPlane : static_cast<char16_t>(c);
}

System ReadSystem(const list::SystemInfo& info) {
    System s;
    s.id = "k" + Identifier(info.name);
    Decoder d(info.converter);
    const bool jis = std::string(info.converter) == "EUC-JP";
    for (int lead = pellory::charset::generated::kFirstLead; lead <= 0xFE; ++lead) {
        std::vector<char16_t> row(256, 0);
        int first = 0x100, last = -1;
        if (list::InRange(static_cast<uint8_t>(lead), info.leadFrom, info.leadTo, info.leadGapFrom, info.leadGapTo)) {
            for (int trail = info.trailFrom; trail <= info.trailTo; ++trail) {
                if (!list::InRange(static_cast<uint8_t>(trail), info.trailFrom, info.trailTo, info.trailGapFrom,
                                   info.trailGapTo)) {
                    continue;
                }
                const uint8_t code[2] = {static_cast<uint8_t>(jis ? lead | 0x80 : lead),
                                         static_cast<uint8_t>(jis ? trail | 0x80 : trail)};
                const char32_t c = d.One(code, 2);
                if (c == kNoCharacter) continue;
                row[static_cast<size_t>(trail)] = Narrow(c, info.converter);
                first = std::min(first, trail);
                last = std::max(last, trail);
                s.codes.emplace(c, static_cast<uint16_t>(lead << 8 | trail));  // the first code counts
            }
        }
        s.at.push_back(static_cast<uint32_t>(s.chars.size()));
        if (last < first) {
            s.rows.emplace_back(1, 0);
            continue;
        }
        s.rows.emplace_back(static_cast<uint8_t>(first), static_cast<uint8_t>(last));
        s.chars.insert(s.chars.end(), row.begin() + first, row.begin() + last + 1);
    }
    return s;
}

bool HasWide(const System& s) { return !s.codes.empty() && s.codes.rbegin()->first > 0xFFFF; }

void WriteSystem(std::ostream& out, const list::SystemInfo& info, const System& s) {
    out << "// " << info.name << ": " << s.codes.size() << " characters, read from " << info.converter
        << (std::string(info.converter) == "EUC-JP" ? " (both bytes of a JIS code with the high bit set)" : "")
        << ".\n";
    out << "constexpr LeadRow " << s.id << "Rows[kLeadCount] = {\n";
    for (size_t i = 0; i < s.rows.size(); i += 4) {
        out << "   ";
        for (size_t j = i; j < std::min(i + 4, s.rows.size()); ++j) {
            out << " {" << s.at[j] << ", " << Hex(s.rows[j].first, 2) << ", " << Hex(s.rows[j].second, 2) << "},";
        }
        out << "  // " << Hex(static_cast<uint32_t>(pellory::charset::generated::kFirstLead + i), 2).substr(2) << "\n";
    }
    out << "};\n";
    out << "constexpr char16_t " << s.id << "Chars[] = {\n";
    for (size_t i = 0; i < s.chars.size(); i += 12) {
        out << "   ";
        for (size_t j = i; j < std::min(i + 12, s.chars.size()); ++j) out << " " << Hex(s.chars[j], 4) << ",";
        out << "\n";
    }
    out << "};\n";
    // The characters of the plane first, then those past it (the map holds them in that order).
    for (const bool wide : {false, true}) {
        if (wide && !HasWide(s)) continue;  // (an array cannot be empty)
        out << "constexpr " << (wide ? "CodeOfWideChar " : "CodeOfChar ") << s.id << (wide ? "Wide" : "Codes")
            << "[] = {\n";
        int n = 0;
        for (const auto& [c, code] : s.codes) {
            if ((c > 0xFFFF) != wide) continue;
            if (n % 6 == 0) out << "   ";
            out << " {" << Hex(c, wide ? 5 : 4) << ", " << Hex(code, code < 0x100 ? 2 : 4) << "},";
            if (++n % 6 == 0) out << "\n";
        }
        if (n % 6 != 0) out << "\n";
        out << "};\n";
    }
}

std::string Generate() {
    std::ostringstream out;
    out << "// Generated by tools/make_code_tables.cpp from the C library's converters (glibc iconv): build\n"
           "// and run the target \"code_tables\" to write it again; never edit it by hand.\n"
           "// clang-format off\n"
           "#include \"charset/code_table_data.h\"\n\n"
           "namespace pellory::charset::generated {\n\n"
           "namespace {\n\n"
           "constexpr char32_t kNone = kNoCharacter;\n\n";

    // The single-byte tables, each converter once (the Thai pages share TIS-620's).
    std::map<std::string, std::string> nameOfConverter;
    std::vector<std::pair<uint8_t, std::string>> tables;  // n, the name of its upper half
    for (const CodeTableInfo& info : list::kAllTables) {
        if (!info.converter) continue;
        auto [it, added] = nameOfConverter.emplace(info.converter, "kTable" + Identifier(info.converter));
        if (added) {
            std::string users;
            for (const CodeTableInfo& other : list::kAllTables) {
                if (other.converter && std::string(other.converter) == info.converter) {
                    users += (users.empty() ? "" : ", ") + std::string(other.caption) + " (" +
                             std::to_string(static_cast<int>(other.table)) + ")";
                }
            }
            out << "// " << users << ": " << info.converter << ".\n";
            WriteUpperHalf(out, it->second, ReadUpperHalf(info.converter));
        }
        tables.emplace_back(static_cast<uint8_t>(info.table), it->second);
    }

    // The Kanji code systems. Shift_JIS's single bytes are the upper half its converter reads,
    // which the Katakana table has already.
    std::vector<System> systems;
    for (const list::SystemInfo& info : list::kSystems) {
        out << "\n";
        System s = ReadSystem(info);
        if (std::string(info.name) == "Shift_JIS") {
            auto it = nameOfConverter.find(info.converter);
            if (it == nameOfConverter.end()) throw std::runtime_error("no single-byte table of SHIFT_JIS");
            s.singles = it->second;
            Decoder d(info.converter);
            for (int b = 0x80; b < 0x100; ++b) {
                const auto byte = static_cast<uint8_t>(b);
                const char32_t c = d.One(&byte, 1);
                if (c != kNoCharacter) s.codes.emplace(c, static_cast<uint16_t>(b));
            }
        }
        WriteSystem(out, info, s);
        systems.push_back(std::move(s));
    }
    out << "\nconstexpr KanjiTables kKanji[] = {\n";
    for (const System& s : systems) {
        out << "    {" << s.id << "Rows, " << s.id << "Chars, " << s.id << "Codes, "
            << (HasWide(s) ? s.id + "Wide" : "{}") << ", " << (s.singles.empty() ? "nullptr" : "&" + s.singles)
            << "},\n";
    }
    out << "};\n\n"
           "}  // namespace\n\n"
           "const UpperHalf* ConverterUpperHalf(CodeTable table) {\n"
           "    switch (static_cast<uint8_t>(table)) {\n";
    for (const auto& [n, name] : tables) out << "        case " << int(n) << ": return &" << name << ";\n";
    out << "        default: return nullptr;\n"
           "    }\n"
           "}\n\n"
           "const KanjiTables& KanjiTablesOf(KanjiSystem system) { return kKanji[static_cast<size_t>(system)]; }\n\n"
           "}  // namespace pellory::charset::generated\n"
           "// clang-format on\n";
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    const bool check = argc == 3 && std::string(argv[1]) == "--check";
    if (argc != 2 && !check) {
        std::fprintf(stderr, "usage: make_code_tables [--check] FILE\n");
        return 2;
    }
    const std::string path = argv[argc - 1];
    std::string text;
    try {
        text = Generate();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_code_tables: %s\n", e.what());
        return 2;
    }
    if (check) {
        std::ifstream in(path, std::ios::binary);
        const std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (old == text) return 0;
        std::istringstream a(old), b(text);
        std::string la, lb;
        int line = 1;
        while (std::getline(a, la) && std::getline(b, lb) && la == lb) ++line;
        std::fprintf(stderr, "make_code_tables: %s differs from the converters' tables at line %d\n", path.c_str(),
                     line);
        return 1;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_code_tables: cannot write %s\n", path.c_str());
        return 2;
    }
    return 0;
}
