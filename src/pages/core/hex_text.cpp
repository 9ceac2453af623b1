#include "pages/core/hex_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "protocol/hex.h"

namespace pellory::hextext {
namespace {

namespace hex = protocol::hex;

inline bool IsFileLineChar(char c) noexcept {
  return hex::IsDigit(c) || c == ' ' || c == '\r' || c == '\n';
}

}  // namespace

bool IsHexDigit(char c) noexcept { return hex::IsDigit(c); }

bool IsSeparator(char c) noexcept { return hex::IsSeparator(c); }

std::string FormatBytes(const std::uint8_t* data, std::size_t size) {
  std::string out;
  AppendFormattedBytes(out, data, size);
  return out;
}

std::string FormatBytes(std::string_view text) {
  return FormatBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void AppendFormattedBytes(std::string& out, const std::uint8_t* data, std::size_t size) {
  hex::AppendEcho(out, data, size);
}

std::vector<std::uint8_t> ParseHex(std::string_view text) { return hex::ParseHexText(text); }

std::string BytesToCharacters(const std::uint8_t* data, std::size_t size) {
  const void* zero = size ? std::memchr(data, 0, size) : nullptr;
  const std::size_t len =
      zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - data) : size;
  return std::string(reinterpret_cast<const char*>(data), len);
}

std::string HexToCharacters(std::string_view text) {
  const std::vector<std::uint8_t> bytes = ParseHex(text);
  return BytesToCharacters(bytes.data(), bytes.size());
}

std::string TextToWireBytes(std::string_view fieldText) {
  std::string out;
  out.reserve(fieldText.size() + fieldText.size() / 16 + 2);
  char prev = '\0';
  for (const char c : fieldText) {
    if (c == '\n' && prev != '\r') out.push_back('\r');
    out.push_back(c);
    prev = c;
  }
  return out;
}

std::string FieldTextToHex(std::string_view fieldText) {
  return FormatBytes(TextToWireBytes(fieldText));
}

namespace {

// Applies the file rules to one line (line ends removed): appends a kept line to the content,
// false when the line breaks the rules.
bool TakeHexCommandLine(std::string_view line, std::string& content) {
  const std::size_t comment = line.find("//");
  const std::string_view body = line.substr(0, comment == std::string_view::npos ? line.size() : comment);
  if (body.empty()) return true;
  bool allSpaces = true;
  for (const char c : body) {
    if (!IsFileLineChar(c)) return false;
    if (c != ' ') allSpaces = false;
  }
  if (allSpaces) return true;
  content.append(body);
  content.append("\r\n");
  return true;
}

}  // namespace

HexFileResult ReadHexCommandLines(const std::vector<std::string>& lines) {
  HexFileResult result;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!TakeHexCommandLine(lines[i], result.content)) {
      return HexFileResult{HexFileStatus::Rejected, std::string(), i + 1};
    }
  }
  return result;
}

HexFileResult ReadHexCommandText(std::string_view fileBytes) {
  // SplitTextLines line by line, without a list of the lines.
  HexFileResult result;
  std::size_t start = 0;
  std::size_t number = 0;
  while (start < fileBytes.size()) {
    ++number;
    const std::size_t lf = fileBytes.find('\n', start);
    std::size_t end = lf == std::string_view::npos ? fileBytes.size() : lf;
    if (lf != std::string_view::npos && end > start && fileBytes[end - 1] == '\r') --end;
    if (!TakeHexCommandLine(fileBytes.substr(start, end - start), result.content)) {
      return HexFileResult{HexFileStatus::Rejected, std::string(), number};
    }
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  return result;
}

std::vector<std::string> SplitTextLines(std::string_view fileBytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < fileBytes.size()) {
    const std::size_t lf = fileBytes.find('\n', start);
    if (lf == std::string_view::npos) {
      lines.emplace_back(fileBytes.substr(start));
      break;
    }
    std::size_t end = lf;
    if (end > start && fileBytes[end - 1] == '\r') --end;
    lines.emplace_back(fileBytes.substr(start, end - start));
    start = lf + 1;
  }
  return lines;
}

HexFileResult ReadHexCommandFile(const std::filesystem::path& path) {
  struct Closer {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
  };
#ifdef _WIN32
  std::unique_ptr<std::FILE, Closer> file(_wfopen(path.c_str(), L"rb"));  // the path's own UTF-16
#else
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
#endif
  if (!file) return HexFileResult{HexFileStatus::CannotOpen, std::string(), 0};
  std::string data;
  std::error_code sizeError;
  const std::uintmax_t size = std::filesystem::file_size(path, sizeError);
  if (!sizeError) data.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(size, kHexFileSizeLimit + 1)));
  // Read in pieces up to one byte past the limit, so that an endless or huge file (a device, a
  // pipe) is never read further than that.
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    const std::size_t want = std::min(buffer.size(), kHexFileSizeLimit + 1 - data.size());
    const std::size_t got = std::fread(buffer.data(), 1, want, file.get());
    data.append(buffer.data(), got);
    if (data.size() > kHexFileSizeLimit) return HexFileResult{HexFileStatus::TooLarge, std::string(), 0};
    if (got < want) break;
  }
  // A directory opens on some systems but cannot be read.
  if (std::ferror(file.get())) return HexFileResult{HexFileStatus::CannotOpen, std::string(), 0};
  file.reset();
  return ReadHexCommandText(data);
}

bool IsHexModeInputAllowed(char32_t code) noexcept {
  switch (code) {
    case 0x20:  // space
    case 0x08:  // backspace
    case 0x0A:  // line feed (Ctrl+Enter)
    case 0x0D:  // carriage return (Enter)
    case 0x03:  // Ctrl+C
    case 0x16:  // Ctrl+V
    case 0x18:  // Ctrl+X
    case 0x1A:  // Ctrl+Z
    case 0x19:  // Ctrl+Y
      return true;
    default:
      return code < 0x80 && hex::IsDigit(static_cast<char>(code));
  }
}

}  // namespace pellory::hextext
