// The program's own virtual printer as both front ends start it (OwnVirtualPrinter): the COM
// number it gets, the line that says where it is, what the number maps to afterwards, the wait
// for its reply, the refusal when no number is free, and the size of a stored symbol it answers.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/own_printer.h"
#include "link/open_and_probe.h"
#include "link/orva_lib.h"
#include "link/port_settings.h"
#include "platform/port_map.h"
#include "support/empty_ports.h"
#include "support/server_clients.h"
#include "support/support.h"

namespace pellory::app {
namespace {

using Transport = vprinter::VirtualPrinter::Transport;

constexpr const char* kBefore = "/dev/null";  // what a number maps to before the printer comes

class OwnVirtualPrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        link::ResetPortSettings();
        platform::PortMap::instance().clearOverrides();
    }
    void TearDown() override {
        platform::PortMap::instance().clearOverrides();
        link::ResetPortSettings();
    }

    static std::optional<std::string> PathOf(int n) {
        const std::optional<platform::PortEntry> e = platform::PortMap::instance().resolve(n);
        if (!e) return std::nullopt;
        return e->path;
    }
};

struct StartCase {
    const char* name;
    Transport transport;
    int given;         // Request::portNumber
    int heldBefore;    // a number an override holds before the start (0: none)
    int expected;      // the number the printer gets
    const char* line;  // the line on err, with NUMBER and PATH standing for the printer's
};

std::string Expand(std::string text, int number, const std::string& path) {
    for (size_t at; (at = text.find("NUMBER")) != std::string::npos;) text.replace(at, 6, std::to_string(number));
    for (size_t at; (at = text.find("PATH")) != std::string::npos;) text.replace(at, 4, path);
    return text;
}

TEST_F(OwnVirtualPrinterTest, NumberLineAndWhatTheNumberMapsToAfterwards) {
    const std::vector<StartCase> cases = {
        {"window, pseudo-terminal: the lowest free number, always announced", Transport::PseudoTerminal, 0, 1, 2,
         "Pellory: virtual printer on COMNUMBER (PATH)\n"},
        {"window, network", Transport::Tcp, 0, 0, 1, "Pellory: virtual printer on COMNUMBER (PATH)\n"},
        {"command line, pseudo-terminal: the given number, nothing said", Transport::PseudoTerminal, 7, 7, 7, ""},
        {"command line, network: the address is news", Transport::Tcp, 7, 0, 7,
         "pellory-cli: virtual printer on PATH (COMNUMBER)\n"},
    };
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.name);
        platform::PortMap& ports = platform::PortMap::instance();
        if (c.heldBefore) ports.setOverride(c.heldBefore, kBefore, "before");
        std::ostringstream err;
        std::string path;
        {
            OwnVirtualPrinter own;
            OwnVirtualPrinter::Request request;
            request.transport = c.transport;
            request.portNumber = c.given;
            request.program = c.given ? "pellory-cli" : "pellory";
            ASSERT_TRUE(own.Start(request, err)) << err.str();
            path = own.Printer().slavePath();
            EXPECT_TRUE(own.Printer().running());
            EXPECT_EQ(path.rfind("tcp://127.0.0.1:", 0) == 0, c.transport == Transport::Tcp) << path;
            EXPECT_EQ(own.PortNumber(), c.expected);
            EXPECT_EQ(PathOf(c.expected), path);
            EXPECT_EQ(err.str(), Expand(c.line, c.expected, path));
        }
        // The number goes back to what it was: the override it had, or nothing.
        EXPECT_EQ(PathOf(c.expected), c.heldBefore == c.expected ? std::optional<std::string>(kBefore) : std::nullopt);
        if (c.heldBefore) {
            EXPECT_EQ(PathOf(c.heldBefore), kBefore);
        }
        ports.clearOverrides();
    }
}

// Once it has answered a status request, the printer holds its reader thread longer than the
// fixed wait for a reply, as a busy machine may: the next probe through its number still
// succeeds while the object lives, as the program's own printer is waited for.
TEST_F(OwnVirtualPrinterTest, AProbeOnItsNumberWaitsForItsReply) {
    const auto probe = [](int n) {
        link::PortSettings.portNumber = n;
        test::ScriptedPrompt prompt;
        link::CORVA_LIB link;
        link::OpenAndProbe(link, {}, {&prompt, nullptr}, {});
        const bool opened = link.IsOpen();
        link.Close(link::kLinkStopTimeoutMs);
        return opened && prompt.Texts().empty();
    };
    for (const int given : {0, 9}) {
        SCOPED_TRACE(given);
        std::ostringstream err;
        OwnVirtualPrinter own;
        OwnVirtualPrinter::Request request;
        request.portNumber = given;
        request.program = "pellory";
        ASSERT_TRUE(own.Start(request, err)) << err.str();
        own.Printer().setObserver([](const uint8_t* bytes, size_t n) {
            for (size_t i = 0; i + 1 < n; ++i) {
                if (bytes[i] == 0x10 && bytes[i + 1] == 0x04) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(400));
                    return;
                }
            }
        });
        EXPECT_TRUE(probe(own.PortNumber()));
        EXPECT_TRUE(probe(own.PortNumber()));  // its request waits for the reader
        EXPECT_EQ(own.Printer().answeredRequests(), 2u);
        own.Printer().setObserver({});
    }
}

TEST_F(OwnVirtualPrinterTest, NoFreeNumberIsRefusedWithItsMessage) {
    platform::PortMap& ports = platform::PortMap::instance();
    for (int n = platform::kMinPortNumber; n <= platform::kMaxPortNumber; ++n) ports.setOverride(n, kBefore);
    std::ostringstream err;
    OwnVirtualPrinter own;
    OwnVirtualPrinter::Request request;
    request.program = "pellory";
    EXPECT_FALSE(own.Start(request, err));
    EXPECT_EQ(err.str(), "pellory: no free COM number for the virtual printer\n");
    EXPECT_EQ(own.PortNumber(), 0);
    for (const platform::PortEntry& e : ports.entries()) EXPECT_EQ(e.path, kBefore) << e.number;
}

// GS ( k fn 82: the size the renderer draws the stored QR code at, as serve answers it (version 1,
// 21 modules of 4 dots: "84" by "84", printable).
TEST_F(OwnVirtualPrinterTest, ItAnswersTheSizeOfAStoredSymbol) {
    std::ostringstream err;
    OwnVirtualPrinter own;
    OwnVirtualPrinter::Request request;
    request.transport = Transport::Tcp;
    request.program = "pellory";
    ASSERT_TRUE(own.Start(request, err)) << err.str();
    const std::string path = own.Printer().slavePath();
    test::PeerSocket client("127.0.0.1", static_cast<uint16_t>(std::stoi(path.substr(path.rfind(':') + 1))));
    ASSERT_TRUE(client.ok());
    ASSERT_TRUE(
        client.send(test::HexBytes("1D 28 6B 03 00 31 43 04  1D 28 6B 0A 00 31 50 30 50 65 6C 6C 6F 72 79 "
                                   "1D 28 6B 03 00 31 52 30")));
    EXPECT_EQ(test::HexText(client.read(12)), "37 36 38 34 1F 38 34 1F 31 1F 30 00");
}

}  // namespace
}  // namespace pellory::app
