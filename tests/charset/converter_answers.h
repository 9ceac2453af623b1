// What the C library's converters themselves make of single bytes, asked directly (not through
// the character module), and the charts of tools/code_page_charts/ as the tests read them.
#pragma once

#include <iconv.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "charset/code_tables.h"
#include "charset/printer_text.h"

namespace pellory::charset::test {

// What iconv itself makes of one byte of `converter` (kNoCharacter: nothing, or no converter).
inline char32_t IconvByte(const char* converter, uint8_t byte) {
    const iconv_t cd = iconv_open("UTF-32LE", converter);
    if (cd == reinterpret_cast<iconv_t>(-1)) return kNoCharacter;
    char in = static_cast<char>(byte);
    unsigned char out[8];
    char* inp = &in;
    char* outp = reinterpret_cast<char*>(out);
    size_t inLeft = 1, outLeft = sizeof out;
    const bool ok = iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) &&
                    iconv(cd, nullptr, nullptr, &outp, &outLeft) != static_cast<size_t>(-1) &&
                    sizeof out - outLeft == 4;
    iconv_close(cd);
    return ok ? static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 | static_cast<uint32_t>(out[3]) << 24)
              : kNoCharacter;
}

inline bool SystemHas(const char* converter) {
    const iconv_t cd = iconv_open("UTF-32LE", converter);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

// One of the C library's converters, asked both ways: codes to characters (from a fresh state,
// as one code alone) and characters to codes. Open() says whether the system has it.
class Converter {
public:
    explicit Converter(const char* name)
        : toUnicode_(iconv_open("UTF-32LE", name)), fromUnicode_(iconv_open(name, "UTF-32LE")) {}
    ~Converter() {
        if (toUnicode_ != kFailed) iconv_close(toUnicode_);
        if (fromUnicode_ != kFailed) iconv_close(fromUnicode_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Open() const { return toUnicode_ != kFailed && fromUnicode_ != kFailed; }

    // The one character the bytes make, or kNoCharacter (nothing, an incomplete code, more than
    // one character).
    char32_t CharOf(std::string_view bytes) {
        std::string out = Run(toUnicode_, std::string(bytes));
        if (out.size() != 4) return kNoCharacter;
        const auto u = [&out](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(out[i])); };
        return static_cast<char32_t>(u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24);
    }
    // The bytes the converter writes for c; empty when it has no code for it.
    std::string BytesOf(char32_t c) {
        std::string in(4, '\0');
        for (size_t i = 0; i < 4; ++i) in[i] = static_cast<char>((c >> (8 * i)) & 0xFF);
        return Run(fromUnicode_, in);
    }

private:
    static inline const iconv_t kFailed = reinterpret_cast<iconv_t>(-1);

    // The whole of `in` converted and the state flushed, or empty on any failure.
    static std::string Run(iconv_t cd, std::string in) {
        if (cd == kFailed) return {};
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char out[16];
        char* inp = in.data();
        char* outp = out;
        size_t inLeft = in.size(), outLeft = sizeof out;
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return {};
        if (iconv(cd, nullptr, nullptr, &outp, &outLeft) == static_cast<size_t>(-1)) return {};
        return std::string(out, sizeof out - outLeft);
    }

    iconv_t toUnicode_;
    iconv_t fromUnicode_;
};

// The 128 characters of bytes 80-FF of a chart file: rows "8x: c c ... c" of 16 cells each, "--"
// for a byte without a character, SHY and NBSP for the soft hyphen and the no-break space, lines
// starting with "#" ignored. Nothing when the file is missing or not of that form; `problem` says
// why.
inline std::optional<std::array<char32_t, 128>> ReadChart(const std::string& path, std::string& problem) {
    std::ifstream in(path);
    if (!in) {
        problem = "cannot read " + path;
        return std::nullopt;
    }
    std::array<char32_t, 128> chart{};
    size_t n = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream cells(line);
        std::string cell;
        cells >> cell;  // the row's "8x:"
        while (cells >> cell) {
            if (n == chart.size()) {
                problem = path + ": more than 128 cells";
                return std::nullopt;
            }
            if (cell == "--") {
                chart[n++] = kNoCharacter;
            } else if (cell == "SHY") {
                chart[n++] = U'\u00AD';
            } else if (cell == "NBSP") {
                chart[n++] = U'\u00A0';
            } else {
                const std::optional<std::u32string> c = FromUtf8(cell);
                if (!c || c->size() != 1) {
                    problem = path + ": \"" + cell + "\" is not one character";
                    return std::nullopt;
                }
                chart[n++] = (*c)[0];
            }
        }
    }
    if (n != chart.size()) {
        problem = path + ": " + std::to_string(n) + " cells, not 128";
        return std::nullopt;
    }
    return chart;
}

}  // namespace pellory::charset::test
