// libFuzzer target for the command line's argument reading: the input is split at zero bytes into
// arguments and read exactly as pellory-cli reads them, without opening a port or reading a file.
// Arguments are either refused (status 3, one message naming the program, a pointer to --help)
// or accepted; a usage text is shown only for a help request.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "fuzz_support.h"
#include "pellory_version.h"

namespace app = pellory::app;
using pellory::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size && args.size() <= 64; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    if (size == 0) args.clear();

    std::ostringstream out, err;
    const int code = app::CheckCliArguments(args, out, err);
    if (code == app::kCliRefused) {
        const std::string message = err.str();
        Check(message.rfind(std::string(app::kCliProgram) + ": ", 0) == 0);
        Check(message.find("--help\" for") != std::string::npos);
        Check(out.str().empty());
    } else {
        Check(code == app::kCliDone);
        Check(err.str().empty());
        // Output only for a help request ("--help", "-h", "help" or a command's "--help") or for
        // --version.
        if (!out.str().empty()) {
            Check(out.str().rfind("Usage: ", 0) == 0 ||
                  out.str() == std::string(app::kCliProgram) + " " + pellory::kProgramVersion + "\n");
        }
    }
    return 0;
}
