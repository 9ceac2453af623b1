#include "link/hex_echo.h"

#include <algorithm>
#include <ostream>
#include <stdexcept>

namespace pellory::link {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::shared_ptr<const std::vector<uint8_t>> Shared(std::vector<uint8_t> bytes) {
    if (bytes.empty()) return nullptr;
    // A buffer grown piece by piece may hold far more room than bytes; a kept record holds
    // about its bytes only.
    if (bytes.capacity() - bytes.size() > bytes.size() / 8) bytes.shrink_to_fit();
    return std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
}

}  // namespace

void AppendHexEcho(std::string& out, const uint8_t* data, size_t n) {
    if (n == 0) return;
    const size_t start = out.size();
    out.resize(start + 3 * n);
    char* p = out.data() + start;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = data[i];
        p[0] = kDigits[b >> 4];
        p[1] = kDigits[b & 0x0F];
        p[2] = ' ';
        p += 3;
    }
}

EchoRecord::EchoRecord(std::vector<uint8_t> bytes) : bytes_(Shared(std::move(bytes))) {}

EchoRecord::EchoRecord(const uint8_t* data, size_t n)
    : bytes_(n == 0 ? nullptr : std::make_shared<const std::vector<uint8_t>>(data, data + n)) {}

EchoRecord::EchoRecord(std::string_view echoText) {
    std::vector<uint8_t> bytes;
    bytes.reserve(echoText.size() / 3 + 1);
    size_t pos = 0;
    while (pos < echoText.size()) {
        const int high = DigitValue(echoText[pos]);
        const int low = pos + 1 < echoText.size() ? DigitValue(echoText[pos + 1]) : -1;
        if (high < 0 || low < 0 || (pos + 2 < echoText.size() && echoText[pos + 2] != ' ')) {
            throw std::invalid_argument("not an echo text: \"" + std::string(echoText.substr(0, 64)) + "\"");
        }
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        pos += 3;
    }
    bytes_ = Shared(std::move(bytes));
}

std::span<const uint8_t> EchoRecord::bytes() const {
    if (!bytes_) return {};
    return {bytes_->data(), bytes_->size()};
}

std::string EchoRecord::hex() const {
    std::string out;
    AppendHex(out);
    return out;
}

void EchoRecord::AppendHex(std::string& out, size_t first, size_t count) const {
    const std::span<const uint8_t> all = bytes();
    if (first >= all.size()) return;
    AppendHexEcho(out, all.data() + first, std::min(count, all.size() - first));
}

void EchoRecord::WriteHex(std::ostream& out) const {
    constexpr size_t kPiece = 16 * 1024;
    std::string piece;
    piece.reserve(3 * kPiece);
    for (size_t first = 0; first < size() && out; first += kPiece) {
        piece.clear();
        AppendHex(piece, first, kPiece);
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    }
}

bool operator==(const EchoRecord& a, const EchoRecord& b) {
    const std::span<const uint8_t> x = a.bytes(), y = b.bytes();
    return std::equal(x.begin(), x.end(), y.begin(), y.end());
}

bool operator==(const EchoRecord& a, std::string_view echoText) {
    if (echoText.size() != a.hexSize()) return false;
    const std::span<const uint8_t> all = a.bytes();
    for (size_t i = 0; i < all.size(); ++i) {
        const uint8_t b = all[i];
        if (echoText[3 * i] != kDigits[b >> 4] || echoText[3 * i + 1] != kDigits[b & 0x0F] ||
            echoText[3 * i + 2] != ' ') {
            return false;
        }
    }
    return true;
}

std::ostream& operator<<(std::ostream& out, const EchoRecord& record) {
    record.WriteHex(out);
    return out;
}

}  // namespace pellory::link
