#include "link/hex_echo.h"

#include <algorithm>
#include <ostream>
#include <stdexcept>

#include "protocol/hex.h"

namespace pellory::link {
namespace {

std::shared_ptr<const std::vector<uint8_t>> Shared(std::vector<uint8_t> bytes) {
    if (bytes.empty()) return nullptr;
    // A buffer grown piece by piece may hold far more room than bytes; a kept record holds
    // about its bytes only.
    if (bytes.capacity() - bytes.size() > bytes.size() / 8) bytes.shrink_to_fit();
    return std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
}

}  // namespace

void AppendHexEcho(std::string& out, const uint8_t* data, size_t n) { protocol::hex::AppendEcho(out, data, n); }

EchoRecord::EchoRecord(std::vector<uint8_t> bytes) : bytes_(Shared(std::move(bytes))) {}

EchoRecord::EchoRecord(const uint8_t* data, size_t n)
    : bytes_(n == 0 ? nullptr : std::make_shared<const std::vector<uint8_t>>(data, data + n)) {}

EchoRecord::EchoRecord(std::string_view echoText) {
    std::optional<std::vector<uint8_t>> bytes = protocol::hex::ParseEcho(echoText);
    if (!bytes) throw std::invalid_argument("not an echo text: \"" + std::string(echoText.substr(0, 64)) + "\"");
    bytes_ = Shared(std::move(*bytes));
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
    const std::span<const uint8_t> all = a.bytes();
    return protocol::hex::IsEchoOf(echoText, all.data(), all.size());
}

std::ostream& operator<<(std::ostream& out, const EchoRecord& record) {
    record.WriteHex(out);
    return out;
}

}  // namespace pellory::link
