#include "web/guarded_server.h"

#include <algorithm>
#include <cstring>

#include "jobs/json_text.h"
#include "platform/sockets.h"

namespace pellory::web {

namespace {

using Clock = std::chrono::steady_clock;

// The longest one wait lasts before it looks at the stop flag again.
constexpr int kStepMs = 100;
// What the guard takes from the socket at once.
constexpr size_t kReadBuffer = 4096;
// A connection closed before its request was read to the end: after the answer, what the client
// still sends is read and dropped (at most this much, for at most this long), so that the close
// does not reset the connection before the client has read the answer. A connection refused at
// once (one address's connections over the bound) is given less, since many may come.
constexpr size_t kDrainBytes = 256u << 10;
constexpr auto kDrainTime = std::chrono::milliseconds(1000);
constexpr auto kRefusedDrainTime = std::chrono::milliseconds(200);

// Why the guard ended a request.
enum class Cut { None, Head, Body, Deadline };

// A whole answer of the guard's own, the connection closed after it: the status, and the reason as
// {"error": ...}, as the routes answer theirs.
std::string Refusal(int status, const std::string& why) {
    const char* phrase = status == 408   ? "Request Timeout"
                         : status == 413 ? "Payload Too Large"
                         : status == 431 ? "Request Header Fields Too Large"
                                         : "Service Unavailable";
    const std::string body = "{\"error\":" + jobs::JsonString(why) + "}";
    return "HTTP/1.1 " + std::to_string(status) + " " + phrase +
           "\r\nContent-Type: application/json\r\nCache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The numeric address and port of one end of a socket; empty and 0 when it has none.
void SocketEnd(platform::SocketHandle fd, bool peer, std::string& ip, int& port) {
    const std::optional<platform::SocketEnd> end = peer ? platform::PeerEnd(fd) : platform::LocalEnd(fd);
    ip = end ? end->address : std::string();
    port = end ? end->port : 0;
}

// One connection as the library sees it: its reads bounded in bytes and time, its writes bounded
// in time, both watching the stop flag. Owns the socket.
class ConnectionGuard final : public httplib::Stream {
public:
    ConnectionGuard(platform::SocketHandle fd, const ConnectionBounds& bounds, const std::atomic<bool>& stopping)
        : fd_(fd), bounds_(bounds), stopping_(stopping) {
        // Every read and write below is made when the wait says it can be, and never waits itself.
        platform::MakeNonBlocking(fd);
        SocketEnd(fd, true, remoteIp_, remotePort_);
        SocketEnd(fd, false, localIp_, localPort_);
    }
    ~ConnectionGuard() override {
        platform::SocketHandle fd = fd_;
        platform::CloseSocket(fd);
    }
    ConnectionGuard(const ConnectionGuard&) = delete;
    ConnectionGuard& operator=(const ConnectionGuard&) = delete;

    bool is_readable() const override { return start_ < end_ || wait(platform::kWaitRead, deadline_); }
    bool is_writable() const override { return wait(platform::kWaitWrite, Clock::now() + bounds_.writeWait); }

    ssize_t read(char* ptr, size_t size) override {
        if (cut_ != Cut::None) return -1;
        const size_t bound = headRead_ ? bounds_.maxBodyBytes : bounds_.maxHeadBytes;
        if (taken_ >= bound) {
            cut_ = headRead_ ? Cut::Body : Cut::Head;
            return -1;
        }
        if (start_ == end_) {
            const ssize_t filled = fill();
            if (filled <= 0) return filled;
        }
        const size_t n = std::min({size, end_ - start_, bound - taken_});
        std::memcpy(ptr, buffer_ + start_, n);
        start_ += n;
        taken_ += n;
        return static_cast<ssize_t>(n);
    }

    // The library's answer to a request the guard has cut is dropped: the guard answers it.
    ssize_t write(const char* ptr, size_t size) override {
        if (cut_ != Cut::None) return static_cast<ssize_t>(size);
        return send(ptr, size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = remoteIp_;
        port = remotePort_;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = localIp_;
        port = localPort_;
    }
    socket_t socket() const override { return static_cast<socket_t>(fd_); }

    // Waits, at most the idle wait, until the next request begins (or the client closes).
    bool waitForRequest() const { return start_ < end_ || wait(platform::kWaitRead, Clock::now() + bounds_.idleWait); }
    // A request begins: its deadline runs and the head's bound applies.
    void beginRequest() {
        deadline_ = Clock::now() + bounds_.requestDeadline;
        headRead_ = false;
        taken_ = 0;
    }
    // The request's line and headers are read: the body's bound applies from here on.
    void headRead() {
        headRead_ = true;
        taken_ = 0;
    }
    Cut cut() const { return cut_; }
    void closeAfterAnswer() { closeAfter_ = true; }
    bool closingAfterAnswer() const { return closeAfter_; }

    // Writes the whole of text, each part within the write wait. False when the client does not take it.
    bool sendAll(const std::string& text) {
        for (size_t at = 0; at < text.size();) {
            const ssize_t n = send(text.data() + at, text.size() - at);
            if (n <= 0) return false;
            at += static_cast<size_t>(n);
        }
        return true;
    }

    // Ends the sending, then reads and drops what the client still sends for at most drain (and
    // kDrainBytes).
    void finish(std::chrono::milliseconds drain) {
        platform::ShutdownSending(fd_);
        const auto until = Clock::now() + drain;
        for (size_t dropped = 0; dropped < kDrainBytes && wait(platform::kWaitRead, until);) {
            char sink[kReadBuffer];
            const long long n = platform::ReceiveSome(fd_, sink, sizeof sink);
            if (n == 0 || n == platform::kSocketFailed) return;
            if (n > 0) dropped += static_cast<size_t>(n);
        }
    }

private:
    // Whether the socket is ready for events before until, in steps that watch the stop flag.
    bool wait(uint8_t events, Clock::time_point until) const {
        for (;;) {
            if (stopping_) return false;
            // Rounded up: a wait that ends for lack of time ends at or after until.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0) return false;
            std::vector<platform::SocketWait> one{{fd_, events, 0}};
            const int ready = platform::WaitSockets(one, static_cast<int>(std::min<long long>(left, kStepMs)));
            if (ready > 0) return true;
            if (ready < 0) return false;
        }
    }

    // Takes what the socket holds into the buffer, waiting until the request's deadline: the bytes
    // taken, 0 at the end of the stream, -1 on an error or once the deadline passed.
    ssize_t fill() {
        for (;;) {
            if (!wait(platform::kWaitRead, deadline_)) {
                if (!stopping_ && Clock::now() >= deadline_) cut_ = Cut::Deadline;
                return -1;
            }
            const long long n = platform::ReceiveSome(fd_, buffer_, sizeof buffer_);
            if (n >= 0) {
                start_ = 0;
                end_ = static_cast<size_t>(n);
                return static_cast<ssize_t>(n);
            }
            if (n == platform::kSocketFailed) return -1;
        }
    }

    ssize_t send(const char* ptr, size_t size) {
        for (;;) {
            if (!wait(platform::kWaitWrite, Clock::now() + bounds_.writeWait)) return -1;
            const long long n = platform::SendSome(fd_, ptr, size);
            if (n >= 0) return static_cast<ssize_t>(n);
            if (n == platform::kSocketFailed) return -1;
        }
    }

    const platform::SocketHandle fd_;
    const ConnectionBounds& bounds_;
    const std::atomic<bool>& stopping_;
    std::string remoteIp_, localIp_;
    int remotePort_ = 0, localPort_ = 0;
    char buffer_[kReadBuffer];
    size_t start_ = 0, end_ = 0;  // the bytes of buffer_ not yet taken
    Clock::time_point deadline_ = Clock::now();
    bool headRead_ = false;
    size_t taken_ = 0;  // by the library, of the request's head or of its body
    Cut cut_ = Cut::None;
    bool closeAfter_ = false;
};

// The connection whose request this thread is answering; null between requests.
thread_local ConnectionGuard* tCurrent = nullptr;

std::string Kibibytes(size_t bytes) { return std::to_string(bytes >> 10) + " KiB"; }
std::string Duration(std::chrono::milliseconds t) {
    return t.count() % 1000 == 0 ? std::to_string(t.count() / 1000) + " s" : std::to_string(t.count()) + " ms";
}

}  // namespace

GuardedServer::GuardedServer(ConnectionBounds bounds) : bounds_(bounds) {
    const unsigned threads = std::max(1u, bounds_.threads);
    new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    const auto check = [this](const httplib::Request& req, httplib::Response& res) {
        if (tCurrent) tCurrent->headRead();
        if (!check_ || check_(req, res) == HandlerResponse::Unhandled) return HandlerResponse::Unhandled;
        CloseAfterAnswer();
        return HandlerResponse::Handled;
    };
    set_pre_routing_handler(check);
    // A client that asks before it sends its body (Expect: 100-continue) hears the refusal instead.
    set_expect_100_continue_handler([check](const httplib::Request& req, httplib::Response& res) {
        return check(req, res) == HandlerResponse::Handled ? res.status : 100;
    });
}

void GuardedServer::CloseAfterAnswer() {
    if (tCurrent) tCurrent->closeAfterAnswer();
}

bool GuardedServer::admit(const std::string& address) {
    platform::MutexLock lock(addressesMutex_);
    unsigned& open = addresses_[address];
    if (open >= bounds_.maxPerAddress) return false;
    ++open;
    return true;
}

void GuardedServer::leave(const std::string& address) {
    platform::MutexLock lock(addressesMutex_);
    const auto it = addresses_.find(address);
    if (it != addresses_.end() && --it->second == 0) addresses_.erase(it);
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
    ConnectionGuard connection(static_cast<platform::SocketHandle>(sock), bounds_, stopping_);
    std::string address;
    int port = 0;
    connection.get_remote_ip_and_port(address, port);
    if (!admit(address)) {
        connection.sendAll(Refusal(503, "too many connections from " + address + " (at most " +
                                            std::to_string(bounds_.maxPerAddress) + " at once)"));
        connection.finish(kRefusedDrainTime);
        return true;
    }
    bool drain = false;
    for (size_t left = bounds_.requestsPerConnection; left > 0 && !stopping_; --left) {
        if (!connection.waitForRequest()) break;
        connection.beginRequest();
        bool closed = false;
        tCurrent = &connection;
        const bool answered = process_request(connection, left == 1, closed, nullptr);
        tCurrent = nullptr;
        drain = connection.cut() != Cut::None || connection.closingAfterAnswer();
        switch (connection.cut()) {
            case Cut::None:
                break;
            case Cut::Head:
                connection.sendAll(
                    Refusal(431, "the request line and headers are over " + Kibibytes(bounds_.maxHeadBytes)));
                break;
            case Cut::Body:
                connection.sendAll(Refusal(413, "the body is over " + Kibibytes(bounds_.maxBodyBytes) + " as sent"));
                break;
            case Cut::Deadline:
                connection.sendAll(
                    Refusal(408, "the request did not come within " + Duration(bounds_.requestDeadline)));
                break;
        }
        if (drain || !answered || closed) break;
    }
    leave(address);
    connection.finish(drain ? kDrainTime : std::chrono::milliseconds(0));
    return true;
}

}  // namespace pellory::web
