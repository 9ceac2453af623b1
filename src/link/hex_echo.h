// The echo of bytes sent: the bytes themselves, and their echo form, two upper-case hexadecimal
// digits and a space per byte ("1B 40 "), which the command history shows, saves and reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pellory::link {

// Appends the echo form of n bytes to out.
void AppendHexEcho(std::string& out, const uint8_t* data, size_t n);

inline std::string HexEcho(const uint8_t* data, size_t n) {
    std::string s;
    AppendHexEcho(s, data, n);
    return s;
}

// The bytes of one hand-over of echo (one history row). It keeps the bytes once, shared by its
// copies and never changed, so that handing a record on or keeping it in several places costs
// no copy; the echo form (three characters per byte) is made only when asked for.
class EchoRecord {
public:
    EchoRecord() = default;
    explicit EchoRecord(std::vector<uint8_t> bytes);
    EchoRecord(const uint8_t* data, size_t n);
    // From an echo form ("1B 40 "): pairs of hexadecimal digits (either case), each followed by a
    // space or by the end of the text. Where a record stands for an echo text, the text converts
    // on its own. Any other text throws std::invalid_argument: it is no echo.
    EchoRecord(std::string_view echoText);
    EchoRecord(const std::string& echoText) : EchoRecord(std::string_view(echoText)) {}
    EchoRecord(const char* echoText) : EchoRecord(std::string_view(echoText)) {}

    bool empty() const { return size() == 0; }
    // The number of bytes.
    size_t size() const { return bytes_ ? bytes_->size() : 0; }
    std::span<const uint8_t> bytes() const;
    const uint8_t* data() const { return bytes().data(); }

    // The echo form of all bytes, made on each call.
    std::string hex() const;
    // Its length: three characters per byte.
    size_t hexSize() const { return 3 * size(); }
    // Appends the echo form of count bytes from byte `first` on (as many as there are).
    void AppendHex(std::string& out, size_t first = 0, size_t count = SIZE_MAX) const;
    // Writes the echo form to a stream in pieces, never holding all of it.
    void WriteHex(std::ostream& out) const;

    friend bool operator==(const EchoRecord& a, const EchoRecord& b);
    // Compares with an echo form, character by character, without making the whole form.
    friend bool operator==(const EchoRecord& a, std::string_view echoText);
    friend bool operator==(const EchoRecord& a, const std::string& echoText) {
        return a == std::string_view(echoText);
    }
    friend bool operator==(const EchoRecord& a, const char* echoText) { return a == std::string_view(echoText); }

private:
    std::shared_ptr<const std::vector<uint8_t>> bytes_;  // none while empty
};

// Prints the echo form (test failure messages).
std::ostream& operator<<(std::ostream& out, const EchoRecord& record);

}  // namespace pellory::link
