// libFuzzer target for the hex command text functions: every input is taken as field text, as
// raw bytes and as a hex command file. Any crash, sanitizer report or broken invariant aborts.
#include "pages/core/hex_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace ht = pellory::hextext;

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // Written form read back gives the same bytes.
  const std::string formatted = ht::FormatBytes(data, size);
  Check(formatted.size() == 3 * size);
  Check(ht::ParseHex(formatted) == std::vector<std::uint8_t>(data, data + size));

  // Reading arbitrary text: bounded, and stable through the written form.
  const std::vector<std::uint8_t> bytes = ht::ParseHex(text);
  Check(bytes.size() <= (size + 1) / 2);
  Check(ht::ParseHex(ht::FormatBytes(bytes.data(), bytes.size())) == bytes);
  const std::string chars = ht::HexToCharacters(text);
  Check(chars.size() <= bytes.size());
  Check(chars.find('\0') == std::string::npos);

  // Wire form: no lone line feed, idempotent.
  const std::string wire = ht::TextToWireBytes(text);
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (wire[i] == '\n') Check(i > 0 && wire[i - 1] == '\r');
  }
  Check(ht::TextToWireBytes(wire) == wire);

  // File rules: loaded content loads again unchanged; a rejection names a line.
  const ht::HexFileResult file = ht::ReadHexCommandLines(ht::SplitTextLines(text));
  if (file.status == ht::HexFileStatus::Loaded) {
    const ht::HexFileResult again = ht::ReadHexCommandLines(ht::SplitTextLines(file.content));
    Check(again.status == ht::HexFileStatus::Loaded && again.content == file.content);
  } else {
    Check(file.status == ht::HexFileStatus::Rejected && file.rejectedLine > 0 && file.content.empty());
  }

  // Save names always end in a txt extension and keep the chosen path as their start.
  const std::string name = ht::AppendTxtExtension(text);
  Check(name.compare(0, size, text) == 0);
  Check(name.size() == size || name.size() == size + 4);

  // The input filter lets through printable characters only when the reader can use them.
  for (std::size_t i = 0; i < size && i < 8; ++i) {
    const char c = static_cast<char>(data[i]);
    if (data[i] >= 0x20 && ht::IsHexModeInputAllowed(data[i])) Check(ht::IsHexDigit(c) || c == ' ');
  }
  return 0;
}
