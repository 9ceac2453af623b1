// pellory-cli run in-process on ports that are not what they should be: a malformed network
// address, a folder, a regular file, a full device, a network peer that accepts and closes, and
// one that answers the probe as no printer does. What each says, and its exit status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "support/cli_run.h"
#include "link/open_and_probe.h"
#include "link/port_settings.h"
#include "pages/page_settings_guard.h"
#include "support/empty_ports.h"
#include "support/net_peers.h"
#include "support/scratch_folder.h"
#include "support/support.h"

using namespace pellory;

namespace {

using test::CliRun;
CliRun Cli(const std::vector<std::string>& args) { return test::RunCliInProcess(args); }

class CliTest : public test::ScratchFolderTest {
protected:
    CliTest() : ScratchFolderTest("pellory_cli_ports") {}
    std::string Write(const std::string& name, const std::string& content) { return scratch.Write(name, content); }
};

}  // namespace

// Something on the printer's address that answers the probe as no printer does (a web server):
// "probe" ("Comm. Test") and "text" say the device is not a printer and end with 2, and nothing
// goes to it after the probe.
TEST_F(CliTest, AWebServerOnThePrintersAddressIsNoPrinterAndExits2) {
    const std::string http = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
    for (const std::vector<std::string>& command : {std::vector<std::string>{"probe"}, {"text", "Hello"}}) {
        SCOPED_TRACE(command[0]);
        test::NetworkPrinterPeer::Options o;
        o.reply.assign(http.begin(), http.end());
        test::NetworkPrinterPeer server(o);
        std::vector<std::string> args = {"--port", server.entry()};
        args.insert(args.end(), command.begin(), command.end());
        const CliRun r = Cli(args);
        EXPECT_EQ(r.code, app::kCliOpenFailed) << r.err;
        EXPECT_EQ(r.err, std::string(link::kNotAPrinterText) + "\n" + server.entry() +
                             " answered the status request with 47 bytes (\"HTTP/1.1 400 Bad Request\\x0D\\x0AContent-Length"
                             "...\"), where a printer answers with one byte: is this the printer's port?\n");
        EXPECT_TRUE(server.WaitForEnd(5000));
        EXPECT_EQ(server.received(), 3u) << "only the probe";
    }
}

// What a port given on the command line turns out to be, said once and as it happened: a
// malformed network address is a bad argument (3); a folder, a regular file, a full device and a
// network peer that accepts and closes at once each give one message naming the port as typed
// (2). Control bytes and bytes that are not UTF-8 never reach the terminal raw.
TEST_F(CliTest, PortMessagesSayWhatHappenedOnceAndNameThePortAsTyped) {
    const std::string folder = Folder();
    const std::string file = Write("capture.bin", "\x1b@");
    const std::string usage = "Run \"pellory-cli --help\" for the options and commands.\n";
    const std::string full = std::string("The device is full") +
                             "\n/dev/full has no room for more data (no space left on the device); nothing more was "
                             "sent to it.\n";
    const struct {
        std::vector<std::string> args;
        int code;
        std::string err;
    } rows[] = {
        {{"--port", "tcp://", "feed"}, app::kCliRefused, "pellory-cli: --port: \"tcp://\": the host is missing\n" + usage},
        {{"--port", "tcp://:9100", "feed"}, app::kCliRefused,
         "pellory-cli: --port: \"tcp://:9100\": the host is missing\n" + usage},
        {{"--port", "tcp://printer:0", "feed"}, app::kCliRefused,
         "pellory-cli: --port: \"tcp://printer:0\": the port is not 1 .. 65535\n" + usage},
        {{"--port", "tcp://printer:99999", "feed"}, app::kCliRefused,
         "pellory-cli: --port: \"tcp://printer:99999\": the port is not 1 .. 65535\n" + usage},
        {{"--port", "tcp://printer:abc", "feed"}, app::kCliRefused,
         "pellory-cli: --port: \"tcp://printer:abc\": the port is not 1 .. 65535\n" + usage},
        {{"--port", "tcp://a\x1b[2Jb\xff", "feed"}, app::kCliRefused,
         "pellory-cli: --port: \"tcp://a\\x1B[2Jb\\xFF\": the host has a character no host has\n" + usage},
        {{"--port", "COM\x1b[2J", "feed"}, app::kCliRefused,
         "pellory-cli: --port: \"COM\\x1B[2J\" is not COM1 .. COM1024\n" + usage},
        {{"--port", folder, "feed"}, app::kCliOpenFailed, "COM Open Error!\n" + folder + ": a folder, not a device.\n"},
        {{"--port", file, "feed"}, app::kCliOpenFailed,
         "COM Open Error!\n" + file + ": a regular file, not a device.\n"},
        {{"--port", "/dev/full", "feed"}, app::kCliOpenFailed, full},
        {{"--no-status", "--port", "/dev/full", "text", "Hi"}, app::kCliOpenFailed, full},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[1] == "--port" ? row.args[2] : row.args[1]);
        if (std::find(row.args.begin(), row.args.end(), "/dev/full") != row.args.end() && ::access("/dev/full", W_OK) != 0) {
            continue;  // no /dev/full here
        }
        const CliRun r = Cli(row.args);
        EXPECT_EQ(r.code, row.code) << r.err;
        EXPECT_EQ(r.err, row.err);
    }

    // A host name with a byte that is not UTF-8 is looked up (and not found), and said escaped.
    const CliRun latin1 = Cli({"--port", "tcp://caf\xe9.invalid", "feed"});
    EXPECT_EQ(latin1.code, app::kCliOpenFailed) << latin1.err;
    EXPECT_EQ(latin1.err.rfind("COM Open Error!\ntcp://caf\\xE9.invalid: ", 0), 0u) << latin1.err;
    EXPECT_EQ(latin1.err.find('\xe9'), std::string::npos) << latin1.err;

    // A peer that accepts and closes at once: one fault, one message, whatever the command.
    for (const char* command : {"probe", "feed", "status"}) {
        SCOPED_TRACE(command);
        test::NetworkPrinterPeer::Options o;
        o.closeAtOnce = true;
        test::NetworkPrinterPeer peer(o);
        const CliRun r = Cli({"--port", peer.entry(), command});
        EXPECT_EQ(r.code, app::kCliOpenFailed) << r.err;
        EXPECT_EQ(r.err, std::string(link::kRemovedText) + "\n" + peer.entry() +
                             " went away while in use. Connect it again, then repeat the action.\n");
    }
}
