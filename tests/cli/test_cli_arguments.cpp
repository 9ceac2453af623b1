// Reading pellory-cli's arguments without running the command (what the argument fuzzer drives):
// the same statuses and messages as a full run for arguments that are refused or ask for a usage
// text, and no port opened, no virtual printer started, no file read for arguments that are sound.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/port_map.h"
#include "support/empty_ports.h"

using namespace pellory;
using Args = std::vector<std::string>;

namespace {

struct Outcome {
    int code;
    std::string out, err;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

Outcome ReadOnly(const Args& args) {
    std::ostringstream out, err;
    const int code = app::CheckCliArguments(args, out, err);
    return {code, out.str(), err.str()};
}

Outcome FullRun(const Args& args) {
    std::ostringstream out, err;
    const int code = app::RunCli(args, out, err);
    return {code, out.str(), err.str()};
}

}  // namespace

TEST(CliArguments, RefusalsAndUsageTextsAreThoseOfAFullRun) {
    const std::vector<Args> cases = {
        {},
        {"--help"},
        {"-h", "--bogus"},
        {"--bogus", "probe"},
        {"--baud", "1234", "probe"},
        {"--port"},
        {"--port", "COM0", "probe"},
        {"--port", "COM99999", "status"},
        {"--virtual-printer", "--port", "/dev/null", "probe"},
        {"frobnicate"},
        {"help"},
        {"help", "image"},
        {"help", "nothing"},
        {"sample"},
        {"sample", "nothing"},
        {"sample", "cut", "--help"},
        {"set", "density", "9"},
        {"barcode", "--type", "EAN13"},
        {"image", "a.bmp", "--vertical", "1", "--horizontal", "1"},
        {"listen", "--seconds", "x"},
        {"printer-baud", "1234"},
    };
    for (const Args& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const Outcome checked = ReadOnly(args);
        EXPECT_TRUE(checked.code == app::kCliRefused || checked.code == app::kCliDone) << checked.code;
        EXPECT_EQ(checked, FullRun(args));
    }
}

TEST(CliArguments, SoundArgumentsOpenNothing) {
    const std::string missing = "/nonexistent/pellory/ttyX";
    // A full run tries the port and fails; reading the arguments only accepts them.
    const Args probe = {"--port", missing, "probe"};
    EXPECT_EQ(FullRun(probe).code, app::kCliOpenFailed);
    EXPECT_EQ(ReadOnly(probe), (Outcome{app::kCliDone, "", ""}));

    // Neither the file nor the port is touched, and no COM number gets mapped.
    for (const Args& args : {Args{"--port", missing, "hex-file", "/nonexistent/commands.txt"},
                             Args{"--port", missing, "image", "/nonexistent/picture.bmp", "--threshold", "10"},
                             Args{"--virtual-printer", "--port", "COM7", "sample", "cut"},
                             Args{"--port", "COM3", "--baud", "19200", "set", "align", "center"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(ReadOnly(args), (Outcome{app::kCliDone, "", ""}));
    }
    EXPECT_FALSE(platform::PortMap::instance().resolve(7).has_value());
}
