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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/server_clients.h"
#include "vprinter/printer_server.h"

namespace pellory::vprinter {
namespace {

using test::WaitUntil;

// What the child saw, one "name: value" a line.
struct Seen {
    std::vector<std::string> said;  // the server's messages
    uint64_t roundsWhileOut = 0;    // the loop's rounds in a second without descriptors
    std::string answer;             // to DLE EOT 1, once descriptors freed up
    std::string trouble;            // a step of the child that failed
};

std::string Run() {
    std::mutex m;
    std::vector<std::string> said;
    PrinterServer server(test::LoopbackOptions());
    server.setMessageSink([&](const std::string& message) {
        std::lock_guard<std::mutex> lock(m);
        said.push_back(message);
    });
    std::string error;
    if (!server.start(&error)) return "trouble: start: " + error + "\n";
    const auto saidCount = [&] {
        std::lock_guard<std::mutex> lock(m);
        return said.size();
    };
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
    std::ostringstream out;
    if (client < 0 || ::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) out << "trouble: connect\n";
    const uint8_t request[] = {0x10, 0x04, 0x01};
    if (::send(client, request, sizeof request, MSG_NOSIGNAL) != 3) out << "trouble: send\n";
    WaitUntil([&] { return saidCount() >= 1; });
    const uint64_t before = server.loopRounds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    out << "rounds: " << server.loopRounds() - before << "\n";
    for (int fd : spent) ::close(fd);
    pollfd p{client, POLLIN, 0};
    uint8_t answer = 0;
    if (::poll(&p, 1, 10000) == 1 && ::recv(client, &answer, 1, 0) == 1)
        out << "answer: " << test::HexText(&answer, 1) << "\n";
    WaitUntil([&] { return saidCount() >= 2; });
    ::close(client);
    server.stop();
    std::lock_guard<std::mutex> lock(m);
    for (const std::string& s : said) out << "said: " << s << "\n";
    return out.str();
}

// Runs Run() in a child process and reads what it saw (bounded: a child that hangs is killed).
Seen RunInChild() {
    Seen seen;
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        seen.trouble = "pipe";
        return seen;
    }
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
    for (;;) {
        pollfd p{report[0], POLLIN, 0};
        if (std::chrono::steady_clock::now() >= deadline || ::poll(&p, 1, 100) < 0) break;
        char buf[512];
        const ssize_t r = ::read(report[0], buf, sizeof buf);
        if (r == 0) break;
        if (r > 0) text.append(buf, static_cast<size_t>(r));
    }
    ::close(report[0]);
    if (child > 0) {
        ::kill(child, SIGKILL);  // gone by now unless it hung
        ::waitpid(child, nullptr, 0);
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        const std::string name = line.substr(0, colon);
        const std::string value = line.substr(colon + 2);
        if (name == "said") seen.said.push_back(value);
        if (name == "rounds") seen.roundsWhileOut = std::stoull(value);
        if (name == "answer") seen.answer = value;
        if (name == "trouble") seen.trouble += value + "; ";
    }
    if (child < 0) seen.trouble = "fork";
    return seen;
}

TEST(ServerAccept, OutOfDescriptorsItBacksOffSaysSoOnceAndRecovers) {
    const Seen seen = RunInChild();
    EXPECT_EQ(seen.trouble, "");
    // Polling listeners that stay readable would turn the loop thousands of times a second; backing
    // off, up to a second at a time, it turns a handful of times.
    EXPECT_LT(seen.roundsWhileOut, 50u);
    EXPECT_EQ(seen.answer, "12");
    const std::vector<std::string> said = {"cannot accept connections: Too many open files; retrying",
                                           "accepting connections again"};
    EXPECT_EQ(seen.said, said);
}

}  // namespace
}  // namespace pellory::vprinter
