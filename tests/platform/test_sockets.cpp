// The sockets contract: listening, accepting, the wait over many sockets, its wake-up and its
// time-out, a peer that closed. Only the contract is used, so that the same test runs on every OS.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets.h"

namespace pellory::platform {
namespace {

// Generous: the machine is shared; nothing here asserts how fast a wait ends.
constexpr int kLongMs = 5000;

// A loopback listener, a client connected to it and the server's end of that connection; every
// socket closed at the end.
struct Loopback {
    std::vector<ListeningSocket> listening;
    uint16_t port = 0;
    SocketHandle client = kNoSocket;
    SocketHandle server = kNoSocket;

    Loopback() {
        std::string error;
        EXPECT_TRUE(ListenOn("127.0.0.1", 0, 8, &listening, &port, &error)) << error;
    }
    ~Loopback() {
        CloseSocket(client);
        CloseSocket(server);
        for (ListeningSocket& l : listening) CloseSocket(l.handle);
    }
    SocketHandle listener() const { return listening.empty() ? kNoSocket : listening.front().handle; }
    // Connects the client and accepts its connection.
    bool connect() {
        std::string error;
        client = ConnectTo("127.0.0.1", port, kLongMs, &error);
        EXPECT_NE(client, kNoSocket) << error;
        if (client == kNoSocket || !WaitSocket(listener(), kWaitRead, kLongMs)) return false;
        int code = 0;
        return AcceptConnection(listener(), &server, &code) == AcceptResult::Accepted;
    }
    void send(SocketHandle s, const std::string& text) {
        ASSERT_EQ(SendSome(s, text.data(), text.size()), static_cast<long long>(text.size()));
    }
};

// What a socket is ready for after a wait of at most ms.
uint8_t ReadyAfter(SocketHandle s, uint8_t events, int ms) {
    std::vector<SocketWait> waits{SocketWait{s, events, 0}};
    EXPECT_GE(WaitSockets(waits, ms), 0);
    return waits.front().ready;
}

struct WaitCase {
    const char* name;
    std::function<SocketHandle(Loopback&)> arrange;  // the socket waited on
    uint8_t events;
    int ms;
    uint8_t expected;  // the ready bits among kReadyRead, kReadyWrite, kReadyHangUp
};

TEST(Sockets, WaitReportsWhatEachSocketIsReadyFor){
    const WaitCase cases[] = {
        {"a connection waits to be accepted",
         [](Loopback& l) {
             l.client = ConnectTo("127.0.0.1", l.port, kLongMs, nullptr);
             return l.listener();
         },
         kWaitRead, kLongMs, kReadyRead},
        {"an idle listener times out", [](Loopback& l) { return l.listener(); }, kWaitRead, 50, 0},
        {"the peer's bytes are readable",
         [](Loopback& l) {
             l.connect();
             l.send(l.client, "abc");
             return l.server;
         },
         kWaitRead, kLongMs, kReadyRead},
        {"a quiet connection times out",
         [](Loopback& l) {
             l.connect();
             return l.server;
         },
         kWaitRead, 50, 0},
        {"a connection has room to write",
         [](Loopback& l) {
             l.connect();
             return l.server;
         },
         kWaitWrite, kLongMs, kReadyWrite},
        {"the peer's bytes are no hang-up",
         [](Loopback& l) {
             l.connect();
             l.send(l.client, "abc");
             return l.server;
         },
         kWaitHangUp, 50, 0},
        {"a peer that closed is a hang-up",
         [](Loopback& l) {
             l.connect();
             CloseSocket(l.client);
             return l.server;
         },
         kWaitHangUp, kLongMs, kReadyHangUp},
        {"a peer that sent and closed is a hang-up",
         [](Loopback& l) {
             l.connect();
             l.send(l.client, "abc");
             CloseSocket(l.client);
             return l.server;
         },
#ifdef _WIN32
         // Windows cannot see the end behind unread bytes: the socket is passed by.
         kWaitHangUp, 50, 0},
#else
         kWaitHangUp, kLongMs, kReadyHangUp},
#endif
    };
for (const WaitCase& c : cases) {
    SCOPED_TRACE(c.name);
    Loopback l;
    const SocketHandle s = c.arrange(l);
    ASSERT_NE(s, kNoSocket);
    EXPECT_EQ(ReadyAfter(s, c.events, c.ms) & (kReadyRead | kReadyWrite | kReadyHangUp), c.expected);
}
}  // namespace

TEST(Sockets, WaitTellsEachSocketApartAndPassesByOnesWithoutEvents) {
    Loopback l;
    ASSERT_TRUE(l.connect());
    l.send(l.client, "x");
    std::vector<SocketWait> waits{{l.listener(), kWaitRead, 0}, {l.client, 0, 0}, {l.server, kWaitRead, 0}};
    EXPECT_EQ(WaitSockets(waits, kLongMs), 1);
    EXPECT_EQ(waits[0].ready, 0);
    EXPECT_EQ(waits[1].ready, 0);
    EXPECT_EQ(waits[2].ready, kReadyRead);
}

TEST(Sockets, AcceptTakesTheConnectionAndSaysWhenNoneWaits) {
    Loopback l;
    SocketHandle none = kNoSocket;
    int code = 0;
    EXPECT_EQ(AcceptConnection(l.listener(), &none, &code), AcceptResult::None);
    EXPECT_EQ(none, kNoSocket);
    ASSERT_TRUE(l.connect());
    const auto peer = PeerEnd(l.server);
    const auto client = LocalEnd(l.client);
    ASSERT_TRUE(peer && client);
    EXPECT_EQ(peer->address, "127.0.0.1");
    EXPECT_EQ(peer->port, client->port);
    EXPECT_EQ(LocalEnd(l.server)->port, l.port);
    // Accepted sockets do not wait: a read with nothing there says so at once.
    char b = 0;
    EXPECT_EQ(ReceiveSome(l.server, &b, 1), kSocketWouldBlock);
}

TEST(Sockets, ListenRefusesAPortInUseAndANameThatDoesNotResolve) {
    Loopback first;
    struct Case {
        const char* host;
        uint16_t port;
    };
    for (const Case& c : {Case{"127.0.0.1", first.port}, Case{"name.that.does.not.resolve.invalid", 0}}) {
        SCOPED_TRACE(c.host);
        std::vector<ListeningSocket> out;
        std::string error;
        EXPECT_FALSE(ListenOn(c.host, c.port, 8, &out, nullptr, &error));
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(error.empty());
    }
}

TEST(Sockets, EveryAddressTakesLoopbackConnections) {
    std::vector<ListeningSocket> out;
    uint16_t port = 0;
    std::string error;
    ASSERT_TRUE(ListenOn("", 0, 8, &out, &port, &error)) << error;
    EXPECT_NE(port, 0);
    SocketHandle client = ConnectTo("127.0.0.1", port, kLongMs, &error);
    EXPECT_NE(client, kNoSocket) << error;
    bool accepted = false;
    for (ListeningSocket& l : out) {
        SocketHandle s = kNoSocket;
        int code = 0;
        if (!l.ipv6 && WaitSocket(l.handle, kWaitRead, kLongMs) &&
            AcceptConnection(l.handle, &s, &code) == AcceptResult::Accepted) {
            accepted = true;
        }
        CloseSocket(s);
        CloseSocket(l.handle);
    }
    CloseSocket(client);
    EXPECT_TRUE(accepted);
}

TEST(Sockets, ConnectToAClosedPortFails) {
    uint16_t port = 0;
    {
        Loopback gone;
        port = gone.port;
    }
    std::string error;
    EXPECT_EQ(ConnectTo("127.0.0.1", port, kLongMs, &error), kNoSocket);
    EXPECT_FALSE(error.empty());
}

TEST(Sockets, WritingToAClosedPeerFailsWithoutEndingTheProgram) {
    Loopback l;
    ASSERT_TRUE(l.connect());
    CloseSocket(l.server);
    const std::string bytes(4096, 'x');
    long long last = 0;
    // The first writes may still be taken; once the peer's reset is back, a write fails.
    for (int i = 0; i < 200 && last != kSocketFailed; ++i) {
        last = SendSome(l.client, bytes.data(), bytes.size());
        if (last != kSocketFailed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(last, kSocketFailed);
}

TEST(Sockets, PairCarriesBytesBothWays) {
    SocketHandle ends[2] = {kNoSocket, kNoSocket};
    std::string error;
    ASSERT_TRUE(SocketPair(ends, &error)) << error;
    for (int from : {0, 1}) {
        const std::string text = from == 0 ? "ping" : "pong";
        ASSERT_EQ(SendSome(ends[from], text.data(), text.size()), 4);
        ASSERT_TRUE(WaitSocket(ends[1 - from], kWaitRead, kLongMs));
        char got[8] = {};
        EXPECT_EQ(ReceiveSome(ends[1 - from], got, sizeof got), 4);
        EXPECT_EQ(std::string(got, 4), text);
    }
    CloseSocket(ends[0]);
    ASSERT_TRUE(WaitSocket(ends[1], kWaitRead, kLongMs));
    char b = 0;
    EXPECT_EQ(ReceiveSome(ends[1], &b, 1), 0) << "the closed end is the end of the stream";
    CloseSocket(ends[1]);
}

TEST(SocketWaker, WakeEndsAWaitFromAnotherThreadUntilDrained) {
    SocketWaker waker;
    std::string error;
    ASSERT_TRUE(waker.open(&error)) << error;
    EXPECT_EQ(ReadyAfter(waker.handle(), kWaitRead, 50), 0) << "awake before any wake()";
    std::thread other([&waker] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        waker.wake();
    });
    // Ten times as long as the test may take at most: only the wake-up ends this wait in time.
    EXPECT_EQ(ReadyAfter(waker.handle(), kWaitRead, 10 * kLongMs), kReadyRead);
    other.join();
    waker.wake();
    waker.wake();
    waker.drain();
    EXPECT_EQ(ReadyAfter(waker.handle(), kWaitRead, 50), 0) << "a wake-up left after drain()";
    waker.close();
    EXPECT_FALSE(waker.isOpen());
}

}  // namespace pellory::platform
}  // namespace pellory::platform
