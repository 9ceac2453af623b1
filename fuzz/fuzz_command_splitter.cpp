// libFuzzer target for the command splitter. The input stream is fed in pieces
// whose sizes the fuzzer chooses as well: the commands handed out, followed by the bytes still
// held back, are the input again; every non-text command is as long as CommandLength says of the
// stream where it starts; and the pieces give the same commands as the whole stream split at once
// (text runs merged). The piece form, fed the same way, hands out every byte it does not hold at
// once, holds no more than a command's head, and its pieces make the same commands.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "protocol/command_splitter.h"

namespace vp = pellory::protocol;
using pellory::fuzz::Check;

namespace {

// Consecutive text commands merged into one, as a receiver that wants whole runs does.
std::vector<vp::Command> MergeText(const std::vector<vp::Command>& in) {
    std::vector<vp::Command> out;
    for (const vp::Command& c : in) {
        if (c.kind == vp::Command::Kind::Text && !out.empty() && out.back().kind == vp::Command::Kind::Text) {
            out.back().bytes.insert(out.back().bytes.end(), c.bytes.begin(), c.bytes.end());
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    // Piece sizes first (up to 16 of them, reused in turn), then the stream itself.
    std::vector<std::size_t> pieces;
    const std::size_t pieceCount = provider.ConsumeIntegralInRange<std::size_t>(1, 16);
    for (std::size_t i = 0; i < pieceCount; ++i) pieces.push_back(provider.ConsumeIntegralInRange<std::size_t>(1, 300));
    const std::vector<std::uint8_t> stream = provider.ConsumeRemainingBytes<std::uint8_t>();

    vp::CommandSplitter splitter;
    std::vector<vp::Command> handed;
    vp::Bytes joined;
    const vp::CommandSplitter::Sink sink = [&](vp::Command::Kind kind, const std::uint8_t* bytes, std::size_t length) {
        Check(length > 0);
        Check(kind == vp::CommandKindOf(bytes[0]));
        // A command is as long as the whole stream says from where it starts (alone, a lone DLE
        // could not tell that it is complete). Text runs may be cut where a piece ends.
        const std::size_t at = joined.size();
        Check(std::equal(bytes, bytes + length, stream.begin() + static_cast<std::ptrdiff_t>(at)));
        if (kind != vp::Command::Kind::Text) Check(vp::CommandLength(stream.data() + at, stream.size() - at) == length);
        joined.insert(joined.end(), bytes, bytes + length);
        handed.push_back({kind, vp::Bytes(bytes, bytes + length)});
    };
    std::size_t at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
        const std::size_t n = std::min(pieces[i % pieces.size()], stream.size() - at);
        splitter.feed(stream.data() + at, n, sink);
        at += n;
        // What was handed out so far, and what is held back, is exactly what was fed.
        Check(joined.size() + splitter.pendingSize() == at);
    }
    Check(joined.size() + splitter.pendingSize() == stream.size());
    Check(std::equal(joined.begin(), joined.end(), stream.begin()));

    // The same commands as splitting the whole stream at once.
    const vp::SplitResult whole = vp::SplitCommands(stream);
    Check(whole.consumed == joined.size());
    const std::vector<vp::Command> a = MergeText(handed);
    const std::vector<vp::Command> b = MergeText(whole.commands);
    Check(a.size() == b.size());
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) Check(a[i].kind == b[i].kind && a[i].bytes == b[i].bytes);

    vp::PieceSplitter pieceSplitter;
    std::vector<vp::Command> built;
    vp::Command current;
    bool open = false;
    std::size_t piecesHanded = 0;
    const vp::PieceSplitter::Sink pieceSink = [&](const vp::PieceSplitter::Piece& p) {
        Check(p.length > 0);
        Check(p.first == !open);
        Check(std::equal(p.bytes, p.bytes + p.length, stream.begin() + static_cast<std::ptrdiff_t>(piecesHanded)));
        if (p.first) current = vp::Command{p.kind, {}};
        Check(p.kind == current.kind);
        current.bytes.insert(current.bytes.end(), p.bytes, p.bytes + p.length);
        piecesHanded += p.length;
        open = !p.last;
        if (p.last) built.push_back(current);
    };
    at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
        const std::size_t n = std::min(pieces[i % pieces.size()], stream.size() - at);
        pieceSplitter.feed(stream.data() + at, n, pieceSink);
        at += n;
        Check(pieceSplitter.held() <= vp::PieceSplitter::kMaxHeld);
        // What it does not hold went out, unless it is the head of a command still open.
        Check(piecesHanded + pieceSplitter.held() >= at);
    }
    const std::vector<vp::Command> c = MergeText(built);
    Check(c.size() == b.size());
    for (std::size_t i = 0; i < c.size() && i < b.size(); ++i) Check(c[i].kind == b[i].kind && c[i].bytes == b[i].bytes);
    return 0;
}
