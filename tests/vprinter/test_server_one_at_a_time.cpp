// The printer server's options for the program's own printer on the network, with jobs kept so
// that what was read, and in which order, shows: TCP connections served one at a time in the
// order they came, a waiting connection's hang-up, the idle clock of a waiting connection, unasked
// bytes to the connection served, and the model a connection gets when its turn comes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/server_clients.h"
#include "vprinter/printer_server.h"

namespace pellory::vprinter {
namespace {

using test::HexBytes;
using test::HexText;
using test::ServedPrinter;
using test::WaitUntil;

constexpr int kQuietMs = 250;

struct Step {
    enum class Do { Connect, Send, Close, Read, Quiet, Wait, Unasked, OpenCount, Model, Jobs } action;
    int client = 0;         // 0, 1, 2: the connections A, B, C
    const char* hex = "";   // Send, Read, Unasked: bytes. Jobs: each job's bytes in order, '|' between
    int number = 0;         // Wait: ms. OpenCount: connections. Unasked: 1 when it must be sent
};

struct Case {
    const char* name;
    int idleTimeoutMs;
    std::vector<Step> steps;
};

using D = Step::Do;

// DLE EOT 1 and its answer while ready; GS I 67 and the model names.
const Case kCases[] = {
    {"a second connection is not read until the first closes", 60000,
     {{D::Connect, 0}, {D::Send, 0, "41 10 04 01"}, {D::Read, 0, "12"},
      {D::Connect, 1}, {D::Send, 1, "42 10 04 01"}, {D::Quiet, 1}, {D::Jobs, 0, ""},
      {D::Send, 0, "10 04 01"}, {D::Read, 0, "12"},
      {D::Close, 0}, {D::Read, 1, "12"}, {D::Close, 1},
      {D::Jobs, 0, "41 10 04 01 10 04 01|42 10 04 01"}}},
    {"a waiting connection that closes without a byte is dropped at once", 60000,
     {{D::Connect, 0}, {D::Connect, 1}, {D::OpenCount, 0, "", 2}, {D::Close, 1}, {D::OpenCount, 0, "", 1},
      {D::Connect, 2}, {D::Send, 2, "43"}, {D::Close, 0}, {D::Close, 2}, {D::Jobs, 0, "43"}}},
    {"a waiting connection that sent bytes and closed keeps its place", 60000,
     {{D::Connect, 0}, {D::Send, 0, "41"}, {D::Connect, 1}, {D::Send, 1, "42"}, {D::Close, 1},
      {D::Connect, 2}, {D::Send, 2, "43"}, {D::Wait, 0, "", 200}, {D::OpenCount, 0, "", 3},
      {D::Close, 0}, {D::Close, 2}, {D::Jobs, 0, "41|42|43"}}},
    {"a waiting connection is not timed out: its silence counts from its turn", 500,
     {{D::Connect, 0}, {D::Send, 0, "41"}, {D::Connect, 1}, {D::Send, 1, "42"},
      {D::Wait, 0, "", 300}, {D::Send, 0, "41"}, {D::Wait, 0, "", 300}, {D::Send, 0, "41"},
      {D::Close, 0}, {D::Read, 1, ""}, {D::Jobs, 0, "41 41 41|42"}}},
    {"an idle timeout of 0 never closes", 0,
     {{D::Connect, 0}, {D::Wait, 0, "", 200}, {D::Send, 0, "41 10 04 01"}, {D::Read, 0, "12"},
      {D::Close, 0}, {D::Jobs, 0, "41 10 04 01"}}},
    {"unasked bytes go to the connection served", 60000,
     {{D::Unasked, 0, "55", 0}, {D::Connect, 0}, {D::Send, 0, "10 04 01"}, {D::Read, 0, "12"},
      {D::Connect, 1}, {D::OpenCount, 0, "", 2}, {D::Unasked, 0, "55 56", 1},
      {D::Read, 0, "55 56"}, {D::Quiet, 1}, {D::Close, 0}, {D::Send, 1, "10 04 01"}, {D::Read, 1, "12"},
      {D::Unasked, 0, "66", 1}, {D::Read, 1, "66"}}},
    {"a connection reports the model set while it waited", 60000,
     {{D::Connect, 0}, {D::Connect, 1}, {D::OpenCount, 0, "", 2}, {D::Model}, {D::Send, 0, "1D 49 43"},
      {D::Read, 0, "5F 4F 52 56 41 38 30 00"}, {D::Close, 0}, {D::Send, 1, "1D 49 43"},
      {D::Read, 1, "5F 4F 52 56 41 35 38 00"}}},
};

// "41|42" -> {"41", "42"}; "" -> none.
std::vector<std::string> JobTexts(const std::string& list) {
    std::vector<std::string> out;
    for (size_t at = 0; !list.empty() && at <= list.size();) {
        const size_t bar = std::min(list.find('|', at), list.size());
        out.push_back(list.substr(at, bar - at));
        at = bar + 1;
    }
    return out;
}

TEST(ServerOneAtATime, ServesInTurn) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ServerOptions o;
        o.model = Model::Orva80;
        o.oneAtATime = true;
        o.maxConnections = 8;
        o.idleTimeout = std::chrono::milliseconds(c.idleTimeoutMs);
        ServedPrinter p(o);
        ASSERT_TRUE(p.started) << p.error;
        std::array<std::unique_ptr<test::PeerSocket>, 3> clients;
        for (size_t i = 0; i < std::size(c.steps); ++i) {
            const Step& s = c.steps[i];
            SCOPED_TRACE("step " + std::to_string(i));
            auto& client = clients.at(static_cast<size_t>(s.client));
            const std::string hex = s.hex;
            switch (s.action) {
            case D::Connect:
                client = p.connect();
                ASSERT_TRUE(client->ok());
                break;
            case D::Send: ASSERT_TRUE(client->send(HexBytes(hex))); break;
            case D::Close: client->close(); break;
            case D::Read:
                if (hex.empty()) {
                    EXPECT_TRUE(client->closedByServer(5000)) << "closed once idle";
                } else {
                    EXPECT_EQ(HexText(client->read(HexBytes(hex).size(), 5000)), hex);
                }
                break;
            case D::Quiet: EXPECT_EQ(HexText(client->readQuiet(kQuietMs)), "") << "not served yet"; break;
            case D::Wait: std::this_thread::sleep_for(std::chrono::milliseconds(s.number)); break;
            case D::Unasked: {
                const test::Bytes b = HexBytes(hex);
                EXPECT_EQ(p.server.sendUnsolicited(b.data(), b.size()), s.number == 1);
                break;
            }
            case D::OpenCount:
                EXPECT_TRUE(WaitUntil([&] { return p.server.openConnections() == static_cast<size_t>(s.number); }, 5000))
                    << p.server.openConnections();
                break;
            case D::Model: p.server.setModel(Model::Orva58); break;
            case D::Jobs: {
                const std::vector<std::string> want = JobTexts(hex);
                if (want.empty()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(kQuietMs));
                } else {
                    EXPECT_TRUE(p.collector.waitFor(want.size(), 5000)) << p.collector.count();
                }
                std::vector<std::string> got;
                for (const FinishedJob& j : p.collector.jobs()) got.push_back(HexText(j.bytes));
                EXPECT_EQ(got, want);
                break;
            }
            }
        }
    }
}

}  // namespace
}  // namespace pellory::vprinter
