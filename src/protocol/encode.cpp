#include "protocol/encode.h"

#include <algorithm>

namespace pellory::protocol {

namespace {

// The bytes between the introducer and the length field: GS 8 carries graphics as GS 8 L.
uint8_t Selector(CommandId command) { return command == CommandId::LargeGraphics ? 'L' : 0; }

// The length field's size: 2 (pL pH), 4 (p1..p4), or 0 for a command without one.
size_t LengthBytes(const CommandEntry& e) {
    switch (e.length.rule) {
        case Rule::Prefix16:
            return 2;
        case Rule::Prefix32:
            return 4;
        default:
            return 0;
    }
}

}  // namespace

std::vector<uint8_t> EncodeWithLength(CommandId command, std::span<const uint8_t> body) {
    const CommandEntry& e = EntryOf(command);
    std::vector<uint8_t> out(e.introducer.bytes.begin(), e.introducer.bytes.begin() + e.introducer.size);
    if (const uint8_t s = Selector(command)) out.push_back(s);
    const size_t size = body.size();
    for (size_t i = 0; i < LengthBytes(e); ++i) out.push_back(static_cast<uint8_t>(size >> (8 * i)));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> EncodeFunction(const FunctionEntry& f, std::span<const uint8_t> parameters,
                                    std::span<const uint8_t> data) {
    const CommandEntry& e = EntryOf(f.command);
    const FunctionLayout& l = *LayoutOf(f.command);
    // The head: the bytes before the function's own (the introducer, the length field).
    const size_t head = e.introducer.size + (Selector(f.command) ? 1 : 0) + LengthBytes(e);
    const size_t last = std::max({size_t{l.fnAt}, size_t{l.cnAt}, f.m ? size_t{l.mAt} : size_t{0}});
    std::vector<uint8_t> body(last + 1 - head, 0);
    body[l.fnAt - head] = f.fn;
    if (l.cnAt) body[l.cnAt - head] = f.cn;
    if (f.m) body[l.mAt - head] = f.m;
    body.insert(body.end(), parameters.begin(), parameters.end());
    body.insert(body.end(), data.begin(), data.end());
    if (LengthBytes(e) > 0) return EncodeWithLength(f.command, body);
    std::vector<uint8_t> out(e.introducer.bytes.begin(), e.introducer.bytes.begin() + e.introducer.size);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace pellory::protocol
