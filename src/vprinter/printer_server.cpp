// The printer server: its addresses and lines, opened at start() and closed at stop(). The loop
// that serves them is in server_loop.cpp.
#include "vprinter/printer_server.h"

#include <algorithm>

#include "platform/decimal_text.h"
#include "platform/sockets.h"
#include "vprinter/server_impl.h"

namespace pellory::vprinter {

namespace {

constexpr int kListenBacklog = 128;

// The line settings of an endpoint, in the platform's record.
platform::LineSettings SettingsOf(const LineEndpoint& e, platform::LineSettings s) {
    s.baudRate = e.baud;
    s.byteSize = e.dataBits;
    s.parity = e.parity == 'E' ? platform::kParityEven : e.parity == 'O' ? platform::kParityOdd : platform::kParityNone;
    s.stopBits = e.stopBits == 2 ? platform::kTwoStopBits : platform::kOneStopBit;
    s.flags = (s.flags & ~platform::kFlowControlBits) | platform::kFlagBinary;
    if (e.handshake == 'H') {
        s.flags |= platform::kFlagOutxCtsFlow | (2u << platform::kRtsControlShift);
    } else if (e.handshake == 'X') {
        s.flags |= platform::kFlagOutX | platform::kFlagInX;
        s.xonChar = 0x11;
        s.xoffChar = 0x13;
    }
    return s;
}

}  // namespace

bool OpenSerialLine(const LineEndpoint& e, Line& line, std::string* error) {
    line.device = std::make_unique<platform::SerialDevice>();
    const platform::SerialResult r = line.device->open(e.path, false);
    if (r != platform::SerialResult::Ok) {
        const std::string& why = line.device->openFailureReason();
        if (error) *error = e.path + ": " + (why.empty() ? platform::DescribeResult(r) : why);
        return false;
    }
    platform::LineSettings s;
    line.device->getLineSettings(s);
    const platform::SerialResult set = line.device->setLineSettings(SettingsOf(e, s));
    if (set != platform::SerialResult::Ok) {
        if (error) *error = e.path + ": line settings refused: " + platform::DescribeResult(set);
        return false;
    }
    return true;
}

std::string_view JobEndName(JobEnd e) {
    switch (e) {
        case JobEnd::Closed:
            return "closed";
        case JobEnd::Idle:
            return "idle";
        case JobEnd::OverLimit:
            return "over-limit";
        case JobEnd::Incomplete:
            return "incomplete";
        case JobEnd::Failed:
            return "failed";
        case JobEnd::Recovered:
            return "recovered";
    }
    return "failed";
}

std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<ListenAddress> {
        if (error) *error = std::string(text) + ": " + why;
        return std::nullopt;
    };
    ListenAddress a;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return fail("expected [IPv6-ADDRESS]:PORT");
        }
        a.host = std::string(text.substr(1, close - 1));
        if (a.host.empty()) return fail("no address between the brackets");
        port = text.substr(close + 2);
    } else {
        const size_t colon = text.rfind(':');
        if (colon == std::string_view::npos) return fail("expected HOST:PORT");
        a.host = std::string(text.substr(0, colon));
        if (a.host.find(':') != std::string::npos) return fail("an IPv6 address goes in brackets: [::1]:9100");
        port = text.substr(colon + 1);
    }
    if (a.host.find_first_of(" \t[]") != std::string::npos) return fail("not a host name or address");
    const auto value = platform::ReadDigits(port, 5);
    if (!value || *value > 65535) return fail("the port is a number from 0 to 65535");
    a.port = static_cast<uint16_t>(*value);
    return a;
}

std::string ListenAddressText(const ListenAddress& a) {
    const std::string port = std::to_string(a.port);
    if (a.host.find(':') != std::string::npos) return "[" + a.host + "]:" + port;
    return a.host + ":" + port;
}

bool IsLoopback(const ListenAddress& a) {
    if (a.host == "localhost") return true;
    const std::string bytes = platform::NumericAddress(a.host);
    if (bytes.size() == 4) return bytes[0] == 127;
    if (bytes.size() != 16) return false;
    if (bytes == std::string(15, '\0') + '\1') return true;  // ::1
    // An IPv4 address mapped into IPv6: ::ffff:127.x.y.z.
    return bytes.compare(0, 12, std::string(10, '\0') + "\xff\xff") == 0 && bytes[12] == 127;
}

std::string NotLoopbackWarning(const ListenAddress& a) {
    if (IsLoopback(a)) return {};
    return "warning: " + ListenAddressText(a) +
           " is not a loopback address: anyone who can reach it can print and read the printer's status";
}

// --- opening and closing ---

bool ServerCore::openListeners(std::string* error) {
    for (size_t i = 0; i < options.listen.size(); ++i) {
        const ListenAddress& address = options.listen[i];
        std::vector<platform::ListeningSocket> opened;
        uint16_t port = address.port;
        std::string why;
        if (!platform::ListenOn(address.host, address.port, kListenBacklog, &opened, &port, &why)) {
            if (error) *error = ListenAddressText(address) + ": " + why;
            return false;
        }
        for (const platform::ListeningSocket& l : opened) listeners.push_back(Listener{l.handle, i});
        bound.push_back(ListenAddress{address.host, port});
    }
    return true;
}

void ServerCore::closeAll() {
    for (Connection& c : connections) {
        if (c.kind == Connection::Kind::Tcp) platform::CloseSocket(c.fd);
    }
    connections.clear();
    openCount = 0;
    for (Listener& l : listeners) platform::CloseSocket(l.fd);
    listeners.clear();
    {
        platform::MutexLock linesLock(linesMutex);
        closeLines();
    }
    platform::MutexLock wakeLock(wakeMutex);
    waker.close();
    wakeHandle = platform::kNoSocket;
}

void ServerCore::wake() {
    platform::MutexLock lock(wakeMutex);
    waker.wake();
}

void ServerCore::hand(FinishedJob&& job) {
    platform::MutexLock lock(sinkMutex);
    if (sink) sink(job, HandOver::Always);
    ++finished;
}

void ServerCore::dropUnsent() {
    {
        platform::MutexLock lock(sendMutex);
        for (const auto& u : toSend) u->done = true;
        toSend.clear();
    }
    sent.notify_all();
}

// --- the interface ---

struct PrinterServer::Impl : ServerCore {
    using ServerCore::ServerCore;
};

PrinterServer::PrinterServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

PrinterServer::~PrinterServer() { stop(); }

void PrinterServer::setJobSink(JobSink sink) {
    platform::MutexLock lock(impl_->sinkMutex);
    impl_->sink = std::move(sink);
}

void PrinterServer::jobRoom() { impl_->wake(); }

void PrinterServer::setPrintObserver(PrintObserver o) { impl_->observer = std::move(o); }

void PrinterServer::setMessageSink(MessageSink sink) { impl_->messages = std::move(sink); }

bool PrinterServer::start(std::string* error) {
    Impl& d = *impl_;
    if (d.running) {
        if (error) *error = "the printer server runs already";
        return false;
    }
    d.stopFlag = false;
    d.bound.clear();
    {
        platform::MutexLock lock(d.wakeMutex);
        std::string why;
        if (!d.waker.open(&why)) {
            if (error) *error = "pipe: " + why;
            return false;
        }
        d.wakeHandle = d.waker.handle();
    }
    if (!d.openListeners(error) || !d.openLines(error)) {
        d.closeAll();
        d.bound.clear();
        return false;
    }
    d.clockWatch = d.options.clock->watch([&d] { d.wake(); });
    try {
        d.loopThread = std::thread([&d] { d.run(); });
    } catch (const std::system_error& e) {
        if (error) *error = std::string("thread: ") + e.what();
        d.clockWatch.reset();
        d.closeAll();
        d.bound.clear();
        return false;
    }
    d.running = true;
    return true;
}

void PrinterServer::stop() {
    Impl& d = *impl_;
    if (!d.running) return;
    d.stopFlag = true;
    d.wake();
    if (d.loopThread.joinable()) d.loopThread.join();
    d.clockWatch.reset();
    d.dropUnsent();
    // The jobs that wait for the sink first, as they ended; then those still in progress end
    // here: incomplete while their connection was open.
    for (FinishedJob& job : d.waitingJobs) d.hand(std::move(job));
    d.waitingJobs.clear();
    d.waitingBytes = 0;
    for (Connection& c : d.connections) {
        if (!c.intake.hasJob() || !d.options.keepJobs) continue;
        d.hand(EndJob(c, c.fd != platform::kNoSocket ? JobEnd::Incomplete : JobEnd::Closed, {}));
    }
    d.closeAll();
    d.running = false;
}

bool PrinterServer::stopping() const { return impl_->stopFlag.load(); }

std::vector<ListenAddress> PrinterServer::boundAddresses() const { return impl_->bound; }

std::vector<std::string> PrinterServer::ptyPaths() const {
    std::vector<std::string> paths;
    for (const Line& line : impl_->lines) {
        if (line.endpoint.kind == LineEndpoint::Kind::Pty) paths.push_back(line.slavePath);
    }
    return paths;
}

std::optional<uint32_t> PrinterServer::ptyHostRate(size_t i) const {
    platform::MutexLock lock(impl_->linesMutex);
    for (const Line& line : impl_->lines) {
        if (line.endpoint.kind != LineEndpoint::Kind::Pty) continue;
        if (i-- > 0) continue;
        return impl_->hostRate(line);
    }
    return std::nullopt;
}

void PrinterServer::setModel(Model m) { impl_->model = m; }

bool PrinterServer::sendUnsolicited(const uint8_t* bytes, size_t n) {
    Impl& d = *impl_;
    if (!d.running) return false;
    auto u = std::make_shared<Unsolicited>();
    u->bytes.assign(bytes, bytes + n);
    platform::MutexLock lock(d.sendMutex);
    // Checked under the lock that stop() takes to drop what is left once the loop ended: a request
    // queued before that is seen there.
    if (d.stopFlag.load()) return false;
    d.toSend.push_back(u);
    lock.unlock();
    d.wake();
    lock.lock();
    if (!d.sent.wait_for(lock.native(), std::chrono::seconds(1), [&u] { return u->done; })) {
        const auto it = std::find(d.toSend.begin(), d.toSend.end(), u);
        if (it != d.toSend.end()) d.toSend.erase(it);
        return false;
    }
    return u->sent;
}

States PrinterServer::states() const {
    platform::MutexLock lock(impl_->stateMutex);
    return impl_->states;
}

void PrinterServer::setStates(States s) {
    {
        platform::MutexLock lock(impl_->stateMutex);
        if (impl_->states == s) return;
        impl_->states = s;
        ++impl_->stateVersion;
    }
    impl_->wake();
}

size_t PrinterServer::openConnections() const { return impl_->openCount.load(); }

uint64_t PrinterServer::jobsFinished() const { return impl_->finished.load(); }

uint64_t PrinterServer::loopRounds() const { return impl_->rounds.load(); }

}  // namespace pellory::vprinter
