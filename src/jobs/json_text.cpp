#include "jobs/json_text.h"

#include <chrono>
#include <cstdio>

#include "protocol/hex.h"

namespace pellory::jobs {

namespace {

// The length of the UTF-8 sequence at s[i] when it is a whole and valid one (no overlong forms, no
// surrogates, at most U+10FFFF); 0 otherwise.
size_t Utf8Length(std::string_view s, size_t i) {
    const auto at = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t b = at(i);
    size_t n = 0;
    uint32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        cp = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        cp = b & 0x0Fu;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        cp = b & 0x07u;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (at(i + k) & 0x3Fu);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return n;
}

void AppendUnicodeEscape(std::string& out, uint8_t b) {
    out += "\\u00";
    protocol::hex::AppendByte(out, b);
}

}  // namespace

std::string JsonString(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    out += '"';
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<uint8_t>(s[i]);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
        } else if (b < 0x20 || b == 0x7F) {
            AppendUnicodeEscape(out, b);
        } else if (b >= 0x80) {
            const size_t n = Utf8Length(s, i);
            if (n == 0) {
                // A byte that is no part of a character: its Latin-1 character, so nothing is lost.
                AppendUnicodeEscape(out, b);
            } else {
                out.append(s.substr(i, n));
                i += n;
                continue;
            }
        } else {
            out += static_cast<char>(b);
        }
        ++i;
    }
    out += '"';
    return out;
}

std::string AsUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<uint8_t>(s[i]);
        const size_t n = b >= 0x80 ? Utf8Length(s, i) : 1;
        if (n == 0) {
            out += static_cast<char>(0xC0 | b >> 6);
            out += static_cast<char>(0x80 | (b & 0x3F));
            ++i;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

void JsonObject::key(std::string_view k) {
    if (text_.size() > 1) text_ += ',';
    text_ += JsonString(k);
    text_ += ':';
}

JsonObject& JsonObject::add(std::string_view k, std::string_view text) {
    key(k);
    text_ += JsonString(text);
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, uint64_t number) {
    key(k);
    text_ += std::to_string(number);
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, bool value) {
    key(k);
    text_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::addRaw(std::string_view k, std::string_view json) {
    key(k);
    text_ += json;
    return *this;
}

std::string IsoTime(int64_t ms) {
    const int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    const auto milli = static_cast<int>(ms - seconds * 1000);
    // The calendar of std::chrono, the same on every system (no gmtime_r on Windows).
    namespace ch = std::chrono;
    const ch::sys_seconds t{ch::seconds(seconds)};
    const ch::sys_days day = ch::floor<ch::days>(t);
    const ch::year_month_day date(day);
    const ch::hh_mm_ss<ch::seconds> time(t - day);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<int>(static_cast<unsigned>(date.month())),
                  static_cast<int>(static_cast<unsigned>(date.day())), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()), milli);
    return text;
}

}  // namespace pellory::jobs
