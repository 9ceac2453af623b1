// Writing JSON, small and strict: strings escaped in full (quote, backslash, every control byte as
// \u00XX, bytes that are not UTF-8 as the Latin-1 character of that number), numbers as integers,
// and objects built a member at a time. Only writing: nothing in Pellory reads JSON by hand.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pellory::jobs {

// s as a JSON string, quotes included.
std::string JsonString(std::string_view s);

// s as a reader of JsonString(s) gets it back: every byte that is no part of a UTF-8 character as
// its Latin-1 character, in UTF-8.
std::string AsUtf8(std::string_view s);

// One JSON object, members in the order added: {"a":1,"b":"x"}.
class JsonObject {
public:
    JsonObject& add(std::string_view key, std::string_view text);  // a string
    JsonObject& add(std::string_view key, const char* text) { return add(key, std::string_view(text)); }
    JsonObject& add(std::string_view key, uint64_t number);
    JsonObject& add(std::string_view key, bool value);
    // A value written already (an array or an object).
    JsonObject& addRaw(std::string_view key, std::string_view json);
    std::string text() const { return text_ + "}"; }

private:
    void key(std::string_view k);
    std::string text_ = "{";
};

// An instant as ISO 8601 UTC with milliseconds: "2026-12-07T20:57:29.123Z".
std::string IsoTime(int64_t millisecondsSinceEpoch);

}  // namespace pellory::jobs
