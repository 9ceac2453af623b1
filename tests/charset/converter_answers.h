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
