// The program's text (UTF-8) as the UTF-16 the Win32 calls take, and back. Windows only.
#pragma once

#include <string>

namespace pellory::platform {

// Invalid UTF-8 becomes U+FFFD; an empty text stays empty.
std::wstring WideText(const std::string& utf8);
std::string Utf8Text(const std::wstring& wide);

}  // namespace pellory::platform
