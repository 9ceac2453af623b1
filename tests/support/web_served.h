// What the tests of the web interface share: a printer server on 127.0.0.1 whose jobs a job
// recorder writes into a scratch folder and a JobIndex lists, the web interface on 127.0.0.1 (or
// another address) in front of them (both on ports the system picks), jobs printed over plain
// sockets, and requests made with cpp-httplib's client or, where the request must reach the
// server exactly as written, as raw bytes over a socket (WebPeer: from any loopback address, sent
// while the server reads, its answer read as it comes). The including test links pellory_web, Qt
// Core and cpp-httplib.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/job_folder.h"
#include "jobs/job_recorder.h"
#include "support/job_folders.h"
#include "support/scratch_folder.h"
#include "support/server_clients.h"
#include "vprinter/printer_server.h"
#include "web/job_index.h"
#include "web/web_server.h"

namespace pellory::test {

struct WebSetup {
    bool control = false;    // --http-control
    size_t earlierJobs = 0;  // jobs written into the folder before the server starts (made up)
    std::string earlierSource = "tcp:127.0.0.1:50000";
    unsigned webThreads = 4;
    std::string webHost = "127.0.0.1";    // the web server's address ("0.0.0.0": every one)
    std::vector<std::string> hosts = {};  // --http-host
    web::ConnectionBounds connections = {};
    bool save = true;  // false: --no-save
};

// The status of an answer's first line ("HTTP/1.1 413 ..." -> 413); -1 for none.
inline int AnswerStatus(const std::string& answer) {
    if (answer.compare(0, 9, "HTTP/1.1 ") != 0 || answer.size() < 12) return -1;
    return std::stoi(answer.substr(9, 3));
}
// The body of a whole answer (after its head).
inline std::string AnswerBody(const std::string& answer) {
    const size_t at = answer.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : answer.substr(at + 4);
}

// A connection to the web server for requests written by hand, from a loopback address of the
// test's choosing (a client address of its own), every wait bounded.
class WebPeer {
public:
    // sendBuffer: SO_SNDBUF (0: the system's), so that the bytes the system holds for the server
    // stay few.
    explicit WebPeer(uint16_t port, const std::string& from = "127.0.0.1", int sendBuffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ >= 0 && sendBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, from.c_str(), &a.sin_addr);
        const bool bound = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        if (!bound || ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = -1;
            return;
        }
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~WebPeer() {
        if (fd_ >= 0) ::close(fd_);
    }
    WebPeer(const WebPeer&) = delete;
    WebPeer& operator=(const WebPeer&) = delete;
    bool ok() const { return fd_ >= 0; }

    // Sends text while the server reads it: true once all of it is sent; false as soon as the
    // server answers (what it sent is kept for answer()) or closes, or nothing moves for waitMs.
    bool send(std::string_view text, int waitMs = 10000) {
        for (size_t at = 0; at < text.size();) {
            pollfd p{fd_, POLLIN | POLLOUT, 0};
            if (fd_ < 0 || ::poll(&p, 1, waitMs) <= 0) return false;
            if (p.revents & (POLLIN | POLLERR | POLLHUP)) {
                take();
                return false;
            }
            const ssize_t n = ::send(fd_, text.data() + at, text.size() - at, MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (n > 0) {
                at += static_cast<size_t>(n);
                sent_ += static_cast<uint64_t>(n);
            }
        }
        return true;
    }
    uint64_t sent() const { return sent_; }

    // What the server sent until it closed the connection, or quietMs passed without a byte.
    std::string answer(int quietMs = 5000) {
        pollfd p{fd_, POLLIN, 0};
        while (fd_ >= 0 && !closed_ && ::poll(&p, 1, quietMs) > 0) take();
        return received_;
    }
    // What the server sent, once it holds part (or waitMs passed).
    std::string waitFor(std::string_view part, int waitMs = 10000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (fd_ >= 0 && !closed_ && received_.find(part) == std::string::npos &&
               std::chrono::steady_clock::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) take();
        }
        return received_;
    }
    // Whether the server has closed the connection (an end of file or a reset) by now, what it
    // sent before kept for answer().
    bool closedByServer() {
        take();
        return closed_;
    }

private:
    // Whatever has come; notes the end of the connection.
    void take() {
        for (;;) {
            char buffer[65536];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n > 0) {
                received_.append(buffer, static_cast<size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) closed_ = true;
            return;
        }
    }

    int fd_ = -1;
    uint64_t sent_ = 0;
    std::string received_;
    bool closed_ = false;
};

class ServedWeb {
public:
    explicit ServedWeb(WebSetup setup = {}) : setup_(setup) {
        if (setup.earlierJobs > 0) WriteEarlierJobs(setup.earlierJobs, setup.earlierSource);
        jobs::JobRecorder::Options o;
        if (setup.save) o.folder = jobsFolder();
        recorder_ = std::make_unique<jobs::JobRecorder>(
            o, [this](const jobs::RecordedJob& r) { index.add(r); }, [](const std::string&) {});
        std::string why;
        EXPECT_TRUE(recorder_->open(&why)) << why;
        if (setup.save) index.load(jobsFolder());
        vprinter::ServerOptions options = LoopbackOptions();
        printer = std::make_unique<vprinter::PrinterServer>(options);
        printer->setJobSink([this](vprinter::FinishedJob& job, vprinter::HandOver) {
            recorder_->take(std::move(job));
            return true;
        });
        EXPECT_TRUE(printer->start(&why)) << why;
        web::WebOptions w;
        w.address = {setup.webHost, 0};
        w.control = setup.control;
        w.threads = setup.webThreads;
        w.hosts = setup.hosts;
        w.connections = setup.connections;
        web_ = std::make_unique<web::WebServer>(w, *printer, index);
        EXPECT_TRUE(web_->start(&why)) << why;
    }
    ~ServedWeb() {
        web_->stop();
        printer->stop();
        recorder_->finish();
    }

    std::string jobsFolder() const { return folder_.Path("jobs"); }
    uint16_t webPort() const { return web_->boundAddress().port; }
    uint16_t printerPort() const { return printer->boundAddresses().at(0).port; }
    JobFolder job(uint64_t n) const { return {std::filesystem::path(jobsFolder()) / jobs::JobFolderName(n)}; }

    // Prints bytes over a connection of their own and waits until the web lists the job; its number.
    uint64_t print(const std::string& bytes) {
        const size_t before = index.size();
        {
            PeerSocket peer("127.0.0.1", printerPort());
            EXPECT_TRUE(peer.ok());
            EXPECT_TRUE(peer.send(Bytes(bytes.begin(), bytes.end())));
        }
        EXPECT_TRUE(WaitUntil([&] { return index.size() > before; }, 20000));
        return index.newest();
    }
    // A job handed to the recorder as the server would, with a source of the test's choosing.
    void take(uint64_t serverNumber, const std::string& bytes, const std::string& source) {
        recorder_->take(MadeUpJob(serverNumber, bytes, source));
    }
    // A job made up whole (its answers too), handed over as the server would; waits until it is listed.
    void take(vprinter::FinishedJob job) {
        const size_t before = index.size();
        recorder_->take(std::move(job));
        EXPECT_TRUE(WaitUntil([&] { return index.size() > before; }, 20000));
    }

    std::unique_ptr<httplib::Client> client() const {
        auto c = std::make_unique<httplib::Client>("127.0.0.1", webPort());
        c->set_read_timeout(10, 0);
        c->set_connection_timeout(5, 0);
        return c;
    }

    // The whole answer to a request sent as these bytes (the server closes after it).
    std::string raw(const std::string& request) const {
        PeerSocket peer("127.0.0.1", webPort());
        EXPECT_TRUE(peer.ok());
        EXPECT_TRUE(peer.send(Bytes(request.begin(), request.end())));
        const Bytes answer = peer.readQuiet(5000);  // until the server closes (Connection: close)
        return std::string(answer.begin(), answer.end());
    }
    // GET path as written (no client rewrites it): the status of the answer's first line, and the answer.
    int rawGet(const std::string& path, std::string* answer = nullptr) const {
        const std::string a = raw("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        if (answer) *answer = a;
        return AnswerStatus(a);
    }

    web::JobIndex index;
    std::unique_ptr<vprinter::PrinterServer> printer;

private:
    // Job folders as an earlier run left them: numbers 1 to n, written by a recorder of their own.
    void WriteEarlierJobs(size_t n, const std::string& source) {
        jobs::JobRecorder::Options o;
        o.folder = jobsFolder();
        jobs::JobRecorder earlier(o, {}, {});
        std::string why;
        ASSERT_TRUE(earlier.open(&why)) << why;
        for (size_t i = 1; i <= n; ++i) earlier.take(MadeUpJob(i, "job " + std::to_string(i) + "\n\x1dV\x00", source));
        earlier.finish();
    }

    WebSetup setup_;
    ScratchFolder folder_{"pellory_web"};
    std::unique_ptr<jobs::JobRecorder> recorder_;
    std::unique_ptr<web::WebServer> web_;
};

}  // namespace pellory::test
