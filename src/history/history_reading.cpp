#include "history/history_reading.h"

#include <algorithm>
#include <array>
#include <utility>

#include "charset/printer_record.h"
#include "protocol/command_table.h"
#include "protocol/hex.h"

namespace pellory::app {
namespace {

namespace hex = protocol::hex;

// The byte written at position pos: the leading hexadecimal digits of the (at most two)
// characters there; 0 without any digit or past the end.
unsigned char ByteAt(std::string_view text, std::size_t pos) { return hex::LeadingByte(text, pos); }

// Whether the third byte of a command is shown as a character too: the commands whose third
// byte is a function letter or a mode digit rather than a parameter (their entries in the command
// table carry a function byte).
bool ThirdByteIsCharacter(unsigned char b0, unsigned char b1) { return protocol::HasFunctionByte(b0, b1); }

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
            hex::WriteEcho(piece.data(), bytes.data() + i, n);
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
    if (b1 < protocol::kFirstText) {
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
    if (b1 < protocol::kFirstText) {
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
        if (bytes[0] < protocol::kFirstText) {
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
        if (ByteAt(echo, 0) < protocol::kFirstText) {
            ReadCommand(echo, out);
        } else {
            ReadText(echo, out);
        }
    }
    if (cut) *cut = out.Cut();
    return out.Take();
}

void AppendHexEscape(std::string& out, unsigned char byte) { hex::AppendEscape(out, byte); }

}  // namespace

std::string_view ControlByteName(unsigned char byte) {
    // The history has always written NUL as "NULL"; every other name is the table's.
    return byte == protocol::kNul ? std::string_view("NULL") : protocol::ControlName(byte);
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
