#include "receipt/decoding.h"

#include <cstdio>

#include "receipt/interpreter.h"
#include "protocol/command_splitter.h"

namespace pellory::receipt {

namespace {

constexpr const char* kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                           "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

std::string Hex2(uint8_t b) {
    char s[3];
    std::snprintf(s, sizeof s, "%02X", b);
    return s;
}

size_t Word(const uint8_t* p) { return static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8; }

// The command's name: "ESC !" and its parameter bytes (at most `shown` of them).
std::string Mnemonic(const uint8_t* p, size_t n, size_t shown = 6, bool ellipsis = true) {
    std::string m = kControlNames[p[0] & 0x1F];
    if (n < 2) return m;
    const uint8_t f = p[1];
    m += ' ';
    if (f > 0x20 && f < 0x7F) {
        m += static_cast<char>(f);
    } else {
        m += Hex2(f);
    }
    size_t first = 2;
    // GS ( k, GS v 0 and the like: the third byte names the function, shown as its character.
    if (n > 2 && (f == '(' || (p[0] == 0x1D && f == 'v')) && p[2] > 0x20 && p[2] < 0x7F) {
        m += ' ';
        m += static_cast<char>(p[2]);
        first = 3;
    }
    const size_t params = n - first;
    for (size_t i = 0; i < params && i < shown; ++i) m += ' ' + Hex2(p[first + i]);
    if (params > shown && ellipsis) m += " ...";
    return m;
}

std::string Num(size_t v) { return std::to_string(v); }

std::string PrintMode(uint8_t n) {
    static const char* const kBits[8] = {"bit 0", "italic", "border", "emphasized",
                                         "double height", "double width", "highlight", "underline"};
    if (n == 0) return "print mode: normal";
    std::string s = "print mode:";
    bool first = true;
    for (int b = 0; b < 8; ++b) {
        if (!(n & (1 << b))) continue;
        s += first ? " " : ", ";
        s += kBits[b];
        first = false;
    }
    return s;
}

const char* OnOff(uint8_t n) { return (n & 1) ? "on" : "off"; }

std::string FontName(uint8_t n) {
    if (n >= 48) n = static_cast<uint8_t>(n - 48);
    return n <= 2 ? "Font" + Num(n + 1u) : "font " + Num(n);
}

CommandInfo Esc(const uint8_t* p, size_t n) {
    CommandInfo c{Mnemonic(p, n), "", true};
    const uint8_t a = n > 2 ? p[2] : 0;
    switch (p[1]) {
        case 0x20: c.meaning = "character spacing: " + Num(a) + " dots"; break;
        case 0x21: c.meaning = PrintMode(a); break;
        case 0x24: c.meaning = "absolute position: " + Num(Word(p + 2)) + " dots"; break;
        case 0x25: c.meaning = std::string("user-defined characters ") + OnOff(a); break;
        case 0x26: c.meaning = "define user-defined characters"; break;
        case 0x2A: {
            c.mnemonic = Mnemonic(p, n, 3, false);
            const size_t cols = Word(p + 3);
            const char* mode = a == 0 ? "8-dot single-density" : a == 1 ? "8-dot double-density"
                             : a == 32 ? "24-dot single-density" : a == 33 ? "24-dot double-density" : "unknown mode";
            c.meaning = std::string("bit image, ") + mode + ": " + Num(cols) + " columns";
            break;
        }
        case 0x2D: c.meaning = "underline: " + Num(a >= 48 ? a - 48u : a) + " dots"; break;
        case 0x32: c.meaning = "default line spacing"; break;
        case 0x33: c.meaning = "line spacing: " + Num(a) + " dots"; break;
        case 0x3D: c.meaning = "select device"; break;
        case 0x3F: c.meaning = "cancel user-defined character"; break;
        case 0x40: c.meaning = "initialise printer"; break;
        case 0x44: {
            c.meaning = "tab positions:";
            if (n <= 3) c.meaning += " none";
            for (size_t i = 2; i < n && p[i] != 0; ++i) c.meaning += ' ' + Num(p[i]);
            break;
        }
        case 0x45: c.meaning = std::string("emphasized ") + OnOff(a); break;
        case 0x47: c.meaning = std::string("double-strike ") + OnOff(a); break;
        case 0x4A: c.meaning = "print and feed " + Num(a) + " dots"; break;
        case 0x4D: c.meaning = "font: " + FontName(a); break;
        case 0x51: c.meaning = "right margin: " + Num(a) + " (" + Num(a * 8u) + " dots)"; break;
        case 0x52: c.meaning = "international character set " + Num(a); break;
        case 0x56: c.meaning = std::string("90-degree rotation ") + OnOff(a) + " (not drawn)"; break;
        case 0x5C: c.meaning = "relative position: " + Num(Word(p + 2)) + " dots"; break;
        case 0x61: c.meaning = std::string("alignment: ") + ((a % 48) == 0 ? "left" : (a % 48) == 1 ? "center" : "right"); break;
        case 0x63: c.meaning = "paper sensors"; break;
        case 0x64: c.meaning = "print and feed " + Num(a) + " lines"; break;
        case 0x69: c.meaning = "partial cut"; break;
        case 0x6C: c.meaning = "left margin: " + Num(a) + " (" + Num(a * 8u) + " dots)"; break;
        case 0x6D: c.meaning = "print density: level " + Num(a); break;
        case 0x70: c.meaning = "drawer pulse"; break;
        case 0x74: c.meaning = "code table " + Num(a); break;
        case 0x7B: c.meaning = std::string("upside-down ") + OnOff(a) + " (not drawn)"; break;
        default: c.known = false; break;
    }
    return c;
}

CommandInfo Fs(const uint8_t* p, size_t n) {
    CommandInfo c{Mnemonic(p, n), "", true};
    const uint8_t a = n > 2 ? p[2] : 0;
    switch (p[1]) {
        case 0x21: c.meaning = "Kanji print mode " + Hex2(a); break;
        case 0x26: c.meaning = "Kanji mode on"; break;
        case 0x2D: c.meaning = std::string("Kanji underline ") + OnOff(a); break;
        case 0x2E: c.meaning = "Kanji mode off"; break;
        case 0x43: c.meaning = "Kanji code system " + Num(a); break;
        case 0x53: c.meaning = "Kanji spacing"; break;
        case 0x56: c.meaning = "table row: " + Num(n > 3u + a ? p[3u + a] : 0u) + " cells"; break;
        case 0x70: c.meaning = "print stored image " + Num(a); break;
        case 0x71: c.meaning = "store images: " + Num(a); break;
        case 0x73: c.meaning = std::string("print speed: ") + (a == 0 ? "high" : a == 1 ? "normal" : a == 2 ? "low" : "unknown"); break;
        default: c.known = false; break;
    }
    return c;
}

CommandInfo QrFunction(const uint8_t* p, size_t n, CommandInfo c) {
    if (n < 7 || p[5] != 0x31) {
        c.meaning = "2D symbol function";
        return c;
    }
    const uint8_t fn = p[6];
    const uint8_t a = n > 7 ? p[7] : 0;
    switch (fn) {
        case 0x41: c.meaning = "QR code: model " + Num(a >= 49 ? a - 48u : a); break;
        case 0x43: c.meaning = "QR code: module size " + Num(a) + " dots"; break;
        case 0x45: {
            static const char* const kLevels = "LMQH";
            c.meaning = std::string("QR code: error correction ") + (a >= 48 && a <= 51 ? kLevels[a - 48] : '?');
            break;
        }
        case 0x50: c.mnemonic = Mnemonic(p, n, 5, false); c.meaning = "QR code: store " + Num(n > 8 ? n - 8 : 0) + " data bytes"; break;
        case 0x51: c.meaning = "QR code: print"; break;
        case 0x52: c.meaning = "QR code: send size"; break;
        default: c.meaning = "QR code: function " + Hex2(fn); break;
    }
    return c;
}

CommandInfo Gs(const uint8_t* p, size_t n) {
    CommandInfo c{Mnemonic(p, n), "", true};
    const uint8_t a = n > 2 ? p[2] : 0;
    switch (p[1]) {
        case 0x21: c.meaning = "character size: width x" + Num((a >> 4) + 1u) + ", height x" + Num((a & 15) + 1u); break;
        case 0x28:
            if (n > 2 && a == 0x6B) return QrFunction(p, n, c);
            if (n > 2 && a == 0x45) {
                c.meaning = "printer set-up";
                break;
            }
            c.known = false;
            break;
        case 0x2A: c.meaning = "define downloaded image"; break;
        case 0x2F: c.meaning = "print downloaded image"; break;
        case 0x42: c.meaning = std::string("reverse printing ") + OnOff(a); break;
        case 0x48: {
            static const char* const kPos[4] = {"none", "above", "below", "above and below"};
            c.meaning = std::string("barcode text: ") + kPos[a & 3];
            break;
        }
        case 0x4C: c.meaning = "left margin: " + Num(Word(p + 2)) + " dots"; break;
        case 0x56: c.meaning = (a == 0 || a == 48 || a == 65 || a == 97) ? "full cut" : "partial cut";
            if (n > 3) c.meaning += " after feeding " + Num(p[3]) + " dots";
            break;
        case 0x57: c.meaning = "print area width: " + Num(Word(p + 2)) + " dots"; break;
        case 0x61: c.meaning = "automatic status back"; break;
        case 0x66: c.meaning = "barcode text: " + FontName(a); break;
        case 0x68: c.meaning = "barcode height: " + Num(a) + " dots"; break;
        case 0x6B: {
            static const char* const kNames[10] = {"UPC-A", "UPC-E", "EAN13", "EAN8", "CODE39",
                                                   "ITF", "CODABAR", "CODE93", "CODE128", "GS1-128"};
            c.mnemonic = Mnemonic(p, n, a >= 65 ? 2 : 1, false);
            const int index = a >= 65 ? a - 65 : a;
            const size_t count = a >= 65 ? (n > 3 ? p[3] : 0u) : (n > 3 ? n - 4 : 0u);
            const size_t from = a >= 65 ? 4 : 3;
            std::string data;
            for (size_t i = from; i < from + count && i < n; ++i) data += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '.';
            if (index >= 0 && index < 10) {
                c.meaning = std::string("barcode ") + kNames[index] + ": \"" + data + "\"";
            } else {
                c.meaning = "barcode of unknown system " + Num(a);
                c.known = false;
            }
            break;
        }
        case 0x72: c.meaning = "status request " + Num(a); break;
        case 0x76: {
            if (n < 8) {
                c.known = false;
                break;
            }
            static const char* const kModes[4] = {"normal", "double width", "double height", "quadruple"};
            c.mnemonic = Mnemonic(p, n, 5, false);  // the header; the meaning tells the size
            c.meaning = std::string("raster image, ") + kModes[p[3] & 3] + ": " + Num(Word(p + 4) * 8) + " x " +
                        Num(Word(p + 6)) + " dots";
            break;
        }
        case 0x77: c.meaning = "barcode module width: " + Num(a) + " dots"; break;
        default: c.known = false; break;
    }
    return c;
}

CommandInfo Dle(const uint8_t* p, size_t n) {
    CommandInfo c{Mnemonic(p, n), "", true};
    if (n < 2) {
        c.known = false;
        return c;
    }
    switch (p[1]) {
        case 0x04: c.meaning = "status request " + Num(n > 2 ? p[2] : 0u); break;
        case 0x05: c.meaning = "real-time request " + Num(n > 2 ? p[2] : 0u); break;
        case 0x14: c.meaning = "real-time function " + Num(n > 2 ? p[2] : 0u); break;
        default: c.known = false; break;
    }
    return c;
}

}  // namespace

std::string HexBytes(const uint8_t* bytes, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        if (i) s += ' ';
        s += Hex2(bytes[i]);
    }
    return s;
}

CommandInfo DescribeCommand(const uint8_t* p, size_t n) {
    if (n == 0) return {"", "", false};
    if (p[0] < 0x20 && protocol::CommandLength(p, n) != n) {
        // Cut short (the end of a stream): only its name, no parameters are read.
        return {Mnemonic(p, std::min<size_t>(n, 2), 0, false), "incomplete", false};
    }
    return DescribeCommandStart(p, n);
}

CommandInfo DescribeCommandStart(const uint8_t* p, size_t n) {
    if (n == 0) return {"", "", false};
    switch (p[0]) {
        case 0x1B: return n >= 2 ? Esc(p, n) : CommandInfo{"ESC", "", false};
        case 0x1C: return n >= 2 ? Fs(p, n) : CommandInfo{"FS", "", false};
        case 0x1D: return n >= 2 ? Gs(p, n) : CommandInfo{"GS", "", false};
        case 0x10: return Dle(p, n);
        case 0x09: return {"HT", "next tab position", true};
        case 0x0A: return {"LF", "print and feed one line", true};
        case 0x0C: return {"FF", "print and feed one line", true};
        case 0x0D: return {"CR", "carriage return (no feed)", true};
        case 0x18: return {"CAN", "cancel (nothing to cancel)", true};
        default: break;
    }
    if (p[0] < 0x20) return {kControlNames[p[0]], "", false};
    return {"", "", false};
}

std::string FormatDecoded(const DecodedCommand& c) {
    char offset[24];
    std::snprintf(offset, sizeof offset, "%04zX", c.offset);
    constexpr size_t kShownBytes = 12;
    std::string bytes = HexBytes(c.bytes.data(), std::min(c.bytes.size(), kShownBytes));
    if (StreamLength(c) > kShownBytes) bytes += " ... (" + std::to_string(StreamLength(c)) + " bytes)";
    std::string line = std::string(offset) + "  " + bytes + "  ";
    if (c.text) return line + c.meaning;
    line += c.mnemonic;
    if (!c.known) return line + "  unknown";
    return line + "  " + c.meaning;
}

std::vector<DecodedCommand> DecodeCommands(const uint8_t* data, size_t n) {
    std::vector<DecodedCommand> out;
    Interpreter interpreter(384, Interpreter::Drawing::Off);
    interpreter.setDecodeSink([&](const DecodedCommand& c) { out.push_back(c); });
    interpreter.feed(data, n);
    interpreter.finish();
    return out;
}

std::string DecodeStream(const uint8_t* data, size_t n, size_t maxLines) {
    std::string text;
    size_t lines = 0, rest = 0;
    Interpreter interpreter(384, Interpreter::Drawing::Off);
    interpreter.setDecodeSink([&](const DecodedCommand& c) {
        if (maxLines && lines >= maxLines) {
            ++rest;
            return;
        }
        text += FormatDecoded(c) + '\n';
        ++lines;
    });
    interpreter.feed(data, n);
    interpreter.finish();
    if (rest) text += "... and " + std::to_string(rest) + " more commands\n";
    return text;
}

}  // namespace pellory::receipt
