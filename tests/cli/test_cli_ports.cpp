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
                             " answered the status request with 47 bytes of text (\"HTTP/1.1 400 Bad "
                             "Request\\x0D\\x0AContent-Length...\"), where a printer answers with a status byte: is "
                             "this the printer's port?\n");
        EXPECT_TRUE(server.WaitForEnd(5000));
        EXPECT_EQ(server.received(), 3u) << "only the probe";
    }
}

// The probe's reply is judged by its start. A status byte with bytes behind it (an automatic
// status back, text sent unasked) is a printer's answer, and "listen" shows those bytes; a reply
// that begins as text (a secure shell's greeting, a mail server's) is no printer: exit 2, and only
// the probe was sent.
TEST_F(CliTest, TheProbesReplyIsJudgedByItsStartAndListenShowsWhatCameBehindTheByte) {
    const auto notAPrinter = [](const std::string& entry, const std::string& shown, size_t n) {
        return std::string(link::kNotAPrinterText) + "\n" + entry + " answered the status request with " +
               std::to_string(n) + " bytes of text (\"" + shown +
               "\"), where a printer answers with a status byte: is this the printer's port?\n";
    };
    const struct {
        const char* name;
        std::string reply;
        int code;
        std::string out;
        std::string shown;  // of a reply that is no printer's, as the message shows it
    } rows[] = {
        {"a status byte and an automatic status back", std::string("\x00\x14\x00\x00\x0F", 5), app::kCliDone,
         "14 00 00 0F \n", ""},
        {"a status byte and text sent unasked", "\x08OK!", app::kCliDone, "4F 4B 21 \n", ""},
        {"a secure shell", "SSH-2.0-OpenSSH_9.2\r\n", app::kCliOpenFailed, "", "SSH-2.0-OpenSSH_9.2\\x0D\\x0A"},
        {"a mail server", "220 mail ESMTP\r\n", app::kCliOpenFailed, "", "220 mail ESMTP\\x0D\\x0A"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::NetworkPrinterPeer::Options o;
        o.reply.assign(row.reply.begin(), row.reply.end());
        test::NetworkPrinterPeer peer(o);
        const CliRun r = Cli({"--port", peer.entry(), "listen", "--hex", "--seconds", "0.3"});
        EXPECT_EQ(r.code, row.code) << r.err;
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.err, row.shown.empty() ? "" : notAPrinter(peer.entry(), row.shown, row.reply.size()));
        if (row.code != app::kCliDone) {
            EXPECT_TRUE(peer.WaitForEnd(5000));
            EXPECT_EQ(peer.received(), 3u) << "only the probe";
        }
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
