// The bytes of the Wine COM port test, shared by its two sides: the Windows probe
// (wine_com_probe.cpp) and the Linux test at the other end of the pseudo-terminal
// (test_wine_com.cpp). Each holds bytes a terminal in cooked mode or a flow-controlled line would
// change: NUL, XON and XOFF, CR and LF, bytes with the top bit set.
#pragma once

#include <cstddef>
#include <string>

namespace pellory::test {

// The bytes of a literal, its NULs included (without the literal's own end).
template <size_t N>
std::string LiteralBytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// What the probe writes first.
inline const std::string kProbeBytes = LiteralBytes("\x1b@PELLORY\x00\x11\x13\xff\r\n");
// What the Linux side answers with once it has all of kProbeBytes.
inline const std::string kAnswerBytes = LiteralBytes(
    "\x10\x04\x01"
    "ANSWER\x00\xfe\r\n\x13\x11");
// What the Linux side sends right behind the answer, in the same write, for the probe to purge.
inline const std::string kPurgedBytes = LiteralBytes("JUNK\x00\xaa");
// What the probe writes last, through the overlapped-style queue.
inline const std::string kTailBytes = LiteralBytes("TAIL\x00\x01\x80\x7f");

}  // namespace pellory::test
