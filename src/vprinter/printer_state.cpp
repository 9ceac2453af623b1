#include "vprinter/printer_state.h"

#include "protocol/replies.h"

namespace pellory::vprinter {

std::optional<StateBit> StateByName(std::string_view name) {
    for (const StateName& s : kStateNames) {
        if (s.name == name) return s.bit;
    }
    return std::nullopt;
}

std::optional<States> ParseStates(std::string_view list, std::string* error) {
    States states = 0;
    size_t from = 0;
    for (;;) {
        const size_t comma = list.find(',', from);
        const std::string_view name = list.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from);
        const auto bit = StateByName(name);
        if (!bit) {
            if (error) *error = std::string(name);
            return std::nullopt;
        }
        states |= *bit;
        if (comma == std::string_view::npos) return states;
        from = comma + 1;
    }
}

std::string StatesText(States s, std::string_view separator) {
    std::string text;
    for (const StateName& n : kStateNames) {
        if (!(s & n.bit)) continue;
        if (!text.empty()) text += separator;
        text += n.name;
    }
    return text.empty() ? "ready" : text;
}

namespace {

// The state behind each bit of Pellory's own status byte.
struct PelloryBit {
    uint8_t bit;
    StateBit state;
};
constexpr PelloryBit kPelloryBits[] = {
    {protocol::kStatusOverVoltage, kError},     {protocol::kStatusPlatenOpen, kCoverOpen},
    {protocol::kStatusPaperError, kPaperEnd},   {protocol::kStatusOverHeat, kOverheat},
    {protocol::kStatusCutterError, kCutterError}, {kPelloryNotOnline, kOffline},
};

}  // namespace

uint8_t PelloryStatusByte(States s) {
    uint8_t byte = 0;
    for (const PelloryBit& b : kPelloryBits) {
        if (s & b.state) byte |= b.bit;
    }
    return byte;
}

States StatesOfPelloryStatusByte(uint8_t byte) {
    States s = 0;
    for (const PelloryBit& b : kPelloryBits) {
        if (byte & b.bit) s |= b.state;
    }
    return s;
}

}  // namespace pellory::vprinter
