// The one way Pellory writes a command's name: the decoding's lines, the requests a job lists in
// job.json and the server's answers all name a command so:
//
//   DLE 04 01        ESC ! 08        GS ( k 03 00 31 52 30        GS v 0 00 30 00 ...
//
// the name of its first byte, its function byte as its character where it is a visible ASCII
// character and else in hexadecimal, the byte after it as a character too where it names the
// function (GS ( k, GS v 0), then its parameter bytes in hexadecimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pellory::protocol {

// The name of the command bytes[0, n) (n > 0) and at most `shown` of its parameter bytes; with
// `ellipsis`, " ..." where more follow.
std::string WriteMnemonic(const uint8_t* bytes, size_t n, size_t shown = 6, bool ellipsis = true);

}  // namespace pellory::protocol
