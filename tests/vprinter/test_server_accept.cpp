// The printer server when it cannot accept a connection for want of file descriptors: it leaves
// its listeners alone for a growing while instead of spinning, says so once, and serves the
// connection once descriptors free up. Run in a child process of its own, whose descriptors it
// uses up.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/server_clients.h"
#include "vprinter/printer_server.h"

namespace pellory::vprinter {
namespace {

using test::WaitUntil;

constexpr uint64_t kFewRounds = 50;

// In the child: the server's messages, whether its loop turned only a few times in a second
// without descriptors, and the answer to DLE EOT 1 once descriptors freed up; one a line.
std::string Run() {
    std::mutex m;
    std::string said;
    PrinterServer server(test::LoopbackOptions());
    server.setMessageSink([&](const std::string& message) {
        std::lock_guard<std::mutex> lock(m);
        said += "said: " + message + "\n";
    });
    const auto saidLines = [&] {
        std::lock_guard<std::mutex> lock(m);
        return std::count(said.begin(), said.end(), '\n');
    };
    if (!server.start()) return "no server\n";
    // The client's socket first; then every descriptor left is used up, and the client connects
    // (into the listen queue: the server cannot accept it).
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 128);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    std::vector<int> spent;
    for (int fd = ::dup(client); fd >= 0; fd = ::dup(client)) spent.push_back(fd);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(server.boundAddresses().at(0).port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const uint8_t request[] = {0x10, 0x04, 0x01};
    if (::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        ::send(client, request, sizeof request, MSG_NOSIGNAL) != 3) {
        return "no client\n";
    }
    WaitUntil([&] { return saidLines() >= 1; });
    const uint64_t before = server.loopRounds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const uint64_t rounds = server.loopRounds() - before;
    std::string out = rounds < kFewRounds ? "few rounds\n" : "rounds: " + std::to_string(rounds) + "\n";
    for (int fd : spent) ::close(fd);
    pollfd p{client, POLLIN, 0};
    uint8_t answer = 0;
    if (::poll(&p, 1, 10000) == 1 && ::recv(client, &answer, 1, 0) == 1)
        out += "answer: " + test::HexText(&answer, 1) + "\n";
    WaitUntil([&] { return saidLines() >= 2; });
    server.stop();
    std::lock_guard<std::mutex> lock(m);
    return out + said;
}

// Runs Run() in a child process and returns what it wrote (a child that hangs is killed).
std::string RunInChild() {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        const std::string text = Run();
        [[maybe_unused]] const ssize_t w = ::write(report[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    char buf[512];
    for (ssize_t r = 1; r != 0 && std::chrono::steady_clock::now() < deadline;) {
        pollfd p{report[0], POLLIN, 0};
        if (::poll(&p, 1, 100) != 1) continue;
        r = ::read(report[0], buf, sizeof buf);
        if (r > 0) text.append(buf, static_cast<size_t>(r));
    }
    ::close(report[0]);
    if (child < 0) return "no child";
    ::kill(child, SIGKILL);  // gone by now unless it hung
    ::waitpid(child, nullptr, 0);
    return text;
}

// Polling listeners that stay readable turns the loop hundreds of thousands of times a second;
// backing off, up to a second at a time, it turns a handful of times.
TEST(ServerAccept, OutOfDescriptorsItBacksOffSaysSoOnceAndRecovers) {
    EXPECT_EQ(RunInChild(),
              "few rounds\n"
              "answer: 12\n"
              "said: cannot accept connections: Too many open files; retrying\n"
              "said: accepting connections again\n");
}

}  // namespace
}  // namespace pellory::vprinter
