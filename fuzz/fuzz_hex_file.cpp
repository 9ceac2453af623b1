// libFuzzer target for hex command files: the input is a file's bytes. Reading it from disk gives
// exactly what the rules give for its lines, and a loaded file's content loads again unchanged
// and parses to whole bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "pages/core/hex_text.h"

namespace ht = pellory::hextext;
using pellory::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ht::HexFileResult expected = ht::ReadHexCommandLines(ht::SplitTextLines(bytes));

    const pellory::fuzz::MemoryFile file(data, size);
    const ht::HexFileResult read = ht::ReadHexCommandFile(file.path());
    Check(read.status == expected.status);
    Check(read.content == expected.content);
    Check(read.rejectedLine == expected.rejectedLine);

    if (read.status == ht::HexFileStatus::Loaded) {
        // Only hex digits, spaces and line ends are left.
        for (const char c : read.content) Check(ht::IsHexDigit(c) || c == ' ' || c == '\r' || c == '\n');
        const ht::HexFileResult again = ht::ReadHexCommandLines(ht::SplitTextLines(read.content));
        Check(again.status == ht::HexFileStatus::Loaded && again.content == read.content);
        Check(ht::ParseHex(read.content).size() <= read.content.size() / 2 + 1);
    } else {
        Check(read.status == ht::HexFileStatus::Rejected && read.rejectedLine > 0 && read.content.empty());
    }
    return 0;
}
