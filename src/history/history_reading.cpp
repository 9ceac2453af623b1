#include "history/history_reading.h"

#include <algorithm>
#include <array>
#include <utility>

#include "charset/printer_record.h"

namespace pellory::app {
namespace {

constexpr std::array<std::string_view, 32> kControlNames = {
    "NULL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",   "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN",  "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kFs = 0x1C;
constexpr unsigned char kGs = 0x1D;

constexpr char kUpperHex[] = "0123456789ABCDEF";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte written at position pos: the leading hexadecimal digits of the (at most two)
// characters there; 0 without any digit or past the end.
unsigned char ByteAt(std::string_view text, std::size_t pos) {
    unsigned value = 0;
    for (std::size_t i = pos; i < text.size() && i < pos + 2; ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0) break;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<unsigned char>(value);
}

// Whether the third byte of a command is shown as a character too: the commands whose third
// byte is a function letter or a mode digit rather than a parameter.
bool ThirdByteIsCharacter(unsigned char b0, unsigned char b1) {
    switch (b0) {
        case kEsc:
            return b1 == 'c' || b1 == '(';
        case kFs:
            return b1 == 'g' || b1 == '(';
        case kGs:
            return b1 == '(' || b1 == 'C' || b1 == '8' || b1 == 'Q' || b1 == 'g' || b1 == 'v' ||
                   b1 == 'z';
        default:
            return false;
    }
}

// Collects the reading up to a limit: everything past `limit` characters is dropped and noted.
class Bounded {
public:
    explicit Bounded(std::size_t limit) : limit_(limit) {}

    // Whether something had to be dropped; nothing more is taken after that.
    bool Cut() const { return cut_; }

    void Append(std::string_view part) {
        if (cut_) return;
        const std::size_t room = limit_ - out_.size();
        if (part.size() > room) {
            out_.append(part.substr(0, room));
            cut_ = true;
        } else {
            out_.append(part);
        }
    }
    void Append(char c) { Append(std::string_view(&c, 1)); }
    // The rest of the echo from position pos on (nothing when pos is past its end).
    void AppendFrom(std::string_view echo, std::size_t pos) {
        if (pos < echo.size()) Append(echo.substr(pos));
    }
    // The echo form of the bytes from index first on, made piece by piece as far as there is
    // room for it.
    void AppendEchoFrom(std::span<const std::uint8_t> bytes, std::size_t first) {
        constexpr std::size_t kPiece = 4096;
        std::string piece;
        for (std::size_t i = first; i < bytes.size() && !cut_; i += kPiece) {
            const std::size_t n = std::min(kPiece, bytes.size() - i);
            piece.resize(3 * n);
            for (std::size_t k = 0; k < n; ++k) {
                const std::uint8_t b = bytes[i + k];
                piece[3 * k] = kUpperHex[b >> 4];
                piece[3 * k + 1] = kUpperHex[b & 0x0F];
                piece[3 * k + 2] = ' ';
            }
            Append(piece);
        }
    }

    std::string Take() { return std::move(out_); }

private:
    std::size_t limit_;
    std::string out_;
    bool cut_ = false;
};

void ReadCommand(std::string_view echo, Bounded& out) {
    const unsigned char b0 = ByteAt(echo, 0);
    out.Append(ControlByteName(b0));
    out.Append(' ');
    if (echo.size() <= 3) return;  // one byte only

    const unsigned char b1 = ByteAt(echo, 3);
    if (b1 < 0x20) {
        out.Append(ControlByteName(b1));
        out.Append(' ');
        out.AppendFrom(echo, 6);
        return;
    }
    out.Append(static_cast<char>(b1));
    out.Append(' ');
    if (echo.size() <= 6) return;  // two bytes: no third one

    if (ThirdByteIsCharacter(b0, b1)) {
        out.Append(static_cast<char>(ByteAt(echo, 6)));
        out.Append(' ');
        out.AppendFrom(echo, 9);
    } else {
        out.AppendFrom(echo, 6);
    }
}

void ReadText(std::string_view echo, Bounded& out) {
    std::size_t pos = 0;
    while (pos < echo.size() && !out.Cut()) {
        const char c = echo[pos];
        if (c == ' ' || c == '\r' || c == '\n' || c == '\b') {
            ++pos;
            continue;
        }
        out.Append(static_cast<char>(ByteAt(echo, pos)));
        pos += 2;
    }
}

// ReadCommand over the bytes: byte i stands at position 3 i of the echo form.
void ReadCommand(std::span<const std::uint8_t> bytes, Bounded& out) {
    const std::uint8_t b0 = bytes[0];
    out.Append(ControlByteName(b0));
    out.Append(' ');
    if (bytes.size() <= 1) return;

    const std::uint8_t b1 = bytes[1];
    if (b1 < 0x20) {
        out.Append(ControlByteName(b1));
        out.Append(' ');
        out.AppendEchoFrom(bytes, 2);
        return;
    }
    out.Append(static_cast<char>(b1));
    out.Append(' ');
    if (bytes.size() <= 2) return;

    if (ThirdByteIsCharacter(b0, b1)) {
        out.Append(static_cast<char>(bytes[2]));
        out.Append(' ');
        out.AppendEchoFrom(bytes, 3);
    } else {
        out.AppendEchoFrom(bytes, 2);
    }
}

std::string Read(std::span<const std::uint8_t> bytes, std::size_t limit, bool* cut) {
    Bounded out(limit);
    if (!bytes.empty()) {
        if (bytes[0] < 0x20) {
            ReadCommand(bytes, out);
        } else {
            // Text data reads as its own bytes.
            out.Append(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        }
    }
    if (cut) *cut = out.Cut();
    return out.Take();
}

std::string Read(std::string_view echo, std::size_t limit, bool* cut) {
    Bounded out(limit);
    if (!echo.empty()) {
        if (ByteAt(echo, 0) < 0x20) {
            ReadCommand(echo, out);
        } else {
            ReadText(echo, out);
        }
    }
    if (cut) *cut = out.Cut();
    return out.Take();
}

void AppendHexEscape(std::string& out, unsigned char byte) {
    out += "\\x";
    out += kUpperHex[byte >> 4];
    out += kUpperHex[byte & 0x0F];
}

}  // namespace

std::string_view ControlByteName(unsigned char byte) {
    return byte < kControlNames.size() ? kControlNames[byte] : std::string_view();
}

std::string HistoryReading(std::string_view echo) {
    return Read(echo, std::string::npos, nullptr);
}

std::string HistoryReadingPrefix(std::string_view echo, std::size_t limit, bool* cut) {
    if (limit == std::string::npos) {
        if (cut) *cut = false;
        return HistoryReading(echo);
    }
    // One character beyond the limit tells a reading of exactly `limit` characters from a longer
    // one.
    std::string reading = Read(echo, limit + 1, nullptr);
    const bool over = reading.size() > limit;
    if (over) reading.resize(limit);
    if (cut) *cut = over;
    return reading;
}

std::string HistoryReading(std::span<const std::uint8_t> bytes) {
    return Read(bytes, std::string::npos, nullptr);
}

std::string HistoryReadingPrefix(std::span<const std::uint8_t> bytes, std::size_t limit, bool* cut) {
    if (limit == std::string::npos) {
        if (cut) *cut = false;
        return HistoryReading(bytes);
    }
    std::string reading = Read(bytes, limit + 1, nullptr);
    const bool over = reading.size() > limit;
    if (over) reading.resize(limit);
    if (cut) *cut = over;
    return reading;
}

std::string DisplayReading(std::string_view reading) {
    std::string out;
    out.reserve(reading.size());
    for (std::size_t i = 0; i < reading.size(); ++i) {
        const char c = reading[i];
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            // As \xHH, like the bytes above 0x7F that have no character: most fonts have no
            // picture for a control character and would show an empty box.
            AppendHexEscape(out, byte);
        } else if (byte >= 0x80) {
            // The printer's character where "Printer characters" is chosen (a two-byte code
            // takes its trail byte as well), else the byte.
            const std::size_t taken = charset::AppendShownHighCharacter(reading, i, out);
            if (taken == 0) AppendHexEscape(out, byte);
            if (taken > 1) i += taken - 1;
        } else {
            out += c;
        }
    }
    return out;
}

std::string EscapeReading(std::string_view reading) {
    std::string out;
    out.reserve(reading.size());
    for (const char c : reading) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7F) {
            AppendHexEscape(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace pellory::app
