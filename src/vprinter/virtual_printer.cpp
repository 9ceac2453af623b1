// The printer emulator on a pseudo-terminal.
//
// File descriptors it holds while running:
//  - the master side, read by the reader thread and written with answers and unsolicited bytes;
//  - a slave descriptor of its own (opened O_NOCTTY at start, never read), so that the terminal
//    stays open while the host closes and reopens the port between actions: without it the
//    master would see a hang-up each time the host closes;
//  - a wake-up pipe, so that stop() and vanish() end the reader's wait at once;
//  - on the network instead of the terminal: the listening socket, the connection being served
//    (in place of the master), and the connections accepted meanwhile that wait their turn;
//  - an inotify watch on the slave path (opens and closes), used for one thing: a host that
//    opened the port exclusively (TIOCEXCL) leaves the terminal marked exclusive when it closes,
//    because the printer's own descriptor keeps the terminal from its last close, which is where
//    the kernel would clear the mark. When the last host descriptor closes, the printer clears it
//    (TIOCNXCL), as a last close would, so the host can open the port again.
#include "vprinter/virtual_printer.h"

#include "platform/serial_device.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <optional>
#include <string>

#include "platform/decimal_text.h"
#include "platform/serial_device.h"
#include "protocol/command_splitter.h"
#include "protocol/command_table.h"
#include "protocol/functions.h"
#include "vprinter/line_rate.h"
#include "vprinter/printer_answers.h"
#include "vprinter/printer_intake.h"
#include "vprinter/receive_log.h"

namespace pellory::vprinter {

namespace {

using Clock = std::chrono::steady_clock;
using protocol::CommandId;
using protocol::PieceSplitter;

constexpr int kPollSliceMs = 50;
constexpr size_t kReadChunk = 64 * 1024;
constexpr int kWriteWaitMs = 1000;  // how long a write to the master waits for room in total
// Network: connections waiting their turn while one is served. Those the printer holds are
// watched, so that one closed while it waits (a port scanner's) is dropped at once; past
// kMaxWaiting the rest wait in the listen backlog. Accepts per round are bounded, so that a flood
// of connects never keeps the printer from the host it serves.
constexpr int kListenBacklog = 128;
constexpr size_t kMaxWaiting = 128;
constexpr int kAcceptsPerRound = 32;

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Writes all bytes to a non-blocking descriptor (the master or the host's connection), waiting
// for room at most kWriteWaitMs in all.
bool WriteAll(int fd, const uint8_t* data, size_t n, bool socket) {
    if (fd < 0) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteWaitMs);
    while (n > 0) {
        // A host that went away must not raise SIGPIPE in the printer.
        const ssize_t w = socket ? ::send(fd, data, n, MSG_NOSIGNAL) : ::write(fd, data, n);
        if (w > 0) {
            data += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(std::min<long long>(left, kPollSliceMs)));
    }
    return true;
}

// The set-up command GS ( E, function 11: the printer's serial interface settings.
// Data bytes after pL pH: 0B a ...; a = 1: baud rate as ASCII decimal digits, a = 3: flow control.
struct SetupChange {
    std::optional<uint32_t> baud;
    std::optional<uint8_t> flow;
};

// p[0, len) is a GS ( E command.
SetupChange ReadSetupCommand(const uint8_t* p, size_t len) {
    SetupChange change;
    if (len < 7 || p[5] != protocol::setup::kSerial) return change;
    const uint8_t a = p[6];
    const uint8_t* arg = p + 7;
    const size_t argLen = len - 7;
    if (a == protocol::setup::kBaudRate) {
        const auto value = platform::ReadDigits(std::string_view(reinterpret_cast<const char*>(arg), argLen), 8);
        if (value && *value > 0) change.baud = static_cast<uint32_t>(*value);
    } else if (a == protocol::setup::kFlowControl && argLen >= 1) {
        change.flow = arg[0];
    }
    return change;
}

}  // namespace

// The printer's state and answers are those of the printer server: each host's bytes go through a
// PrinterIntake, which splits them, answers the requests (printer_answers.h) and prints. The
// printer is the intake's Host: it writes the answers to the host, hands the printed bytes to the
// observer, and counts and records the commands. What it adds to the server's answers: DLE EOT 5
// gets its own status byte (any bits, or a fixed byte whatever the request), nothing is answered
// while silent or, where the rate must match, at another rate than the host's; and its states
// never hold printing back.
struct VirtualPrinter::Impl final : PrinterIntake::Host {
    // Descriptors: set by start(), closed by shutdown() after the reader has ended.
    int master = -1;    // the pseudo-terminal's master, or the host's connection
    int slave = -1;
    int listener = -1;  // network mode: the listening socket on the loopback interface
    bool network = false;
    int wakeRead = -1;
    int wakeWrite = -1;
    int notify = -1;
    std::string path;
    std::thread reader;
    std::atomic<bool> stopFlag{false};
    std::atomic<bool> running{false};

    // Behaviour, changed from any thread.
    std::atomic<uint8_t> status{0};
    std::atomic<int> mode{static_cast<int>(AnswerMode::Status)};
    std::atomic<uint8_t> fixedByte{0};
    std::atomic<uint32_t> baud{9600};
    std::atomic<bool> requireBaud{false};
    std::atomic<uint8_t> flow{0};
    std::atomic<bool> holdCts{false};
    std::atomic<Model> model{Model::Orva58};
    // The states the status byte has no bit for (paper near end, an open drawer).
    std::atomic<States> otherStates{0};

    // Serialises writes to the master (answers and unsolicited bytes) and guards the closing of
    // master and slave against callers on other threads.
    std::mutex writeMutex;

    ReceiveLog log;
    std::mutex observerMutex;
    VirtualPrinter::Observer observer;  // guarded by observerMutex

    // Reader thread only.
    std::optional<PrinterIntake> intake;  // of the host served now (a new one per connection)
    States seenStates = 0;                // the states the intake last heard of
    int hostOpeners = 0;
    // Network: connections accepted while another was served, in the order they came. One that
    // sent bytes and closed (`ended`) keeps its place for them, no longer watched.
    struct Waiting {
        int fd;
        bool ended;
    };
    std::deque<Waiting> waiting;

    // PrinterIntake::Host
    void send(const uint8_t* bytes, size_t n) override;
    void print(const uint8_t* bytes, size_t n) override;
    void changeStates(States set, States clear) override;
    void command(const PieceSplitter::Piece& piece) override;
    void review(const uint8_t* bytes, size_t n, States s, Reaction& r) override;

    States states() const;
    bool answering() const;
    void serve(int fd);
    void followStates();
    void readerLoop();
    void acceptHosts();
    void sweepWaiting(const std::vector<pollfd>& fds, size_t at, const std::vector<size_t>& watched);
    void dropHost();
    void takeBytes(const uint8_t* data, size_t n);
    void handleNotify();
    void shutdown();
};

// The states behind the status byte's bits, those it has no bit for, and silence.
States VirtualPrinter::Impl::states() const {
    States s = static_cast<States>(StatesOfPelloryStatusByte(status.load()) | otherStates.load());
    if (static_cast<AnswerMode>(mode.load()) == AnswerMode::Silent) s |= kSilent;
    return s;
}

// Not silent, and at the host's rate where it must match.
bool VirtualPrinter::Impl::answering() const {
    if (static_cast<AnswerMode>(mode.load()) == AnswerMode::Silent) return false;
    if (!requireBaud.load()) return true;
    const auto host = ReadLineRate(slave);
    return !host || *host == baud.load();
}

// The host on fd (the master, or a connection) is served from now on, with an intake of its own.
void VirtualPrinter::Impl::serve(int fd) {
    {
        std::lock_guard<std::mutex> lock(writeMutex);
        master = fd;
    }
    if (fd < 0) {
        intake.reset();
        return;
    }
    intake.emplace(model.load(), PrinterIntake::Limits{0, 0, false, false});
    seenStates = states();
    log.dropPending();
}

// A state changed since the intake last heard: automatic status back where the host asked for it.
void VirtualPrinter::Impl::followStates() {
    if (!intake) return;
    const States now = states();
    if (now == seenStates) return;
    intake->stateChanged(seenStates, now, *this);
    seenStates = now;
}

void VirtualPrinter::Impl::send(const uint8_t* bytes, size_t n) {
    std::lock_guard<std::mutex> lock(writeMutex);
    WriteAll(master, bytes, n, network);
}

void VirtualPrinter::Impl::print(const uint8_t* bytes, size_t n) {
    std::lock_guard<std::mutex> lock(observerMutex);
    if (observer) observer(bytes, n);
}

// A drawer pulse or a recovery: the states with a status bit change in the status byte.
void VirtualPrinter::Impl::changeStates(States set, States clear) {
    status.fetch_and(static_cast<uint8_t>(~PelloryStatusByte(clear)));
    status.fetch_or(PelloryStatusByte(set));
    const States mapped = StatesOfPelloryStatusByte(0xFF);
    otherStates.fetch_and(static_cast<States>(~clear));
    otherStates.fetch_or(static_cast<States>(set & ~mapped & ~kSilent));
}

void VirtualPrinter::Impl::review(const uint8_t* bytes, size_t n, States, Reaction& r) {
    const auto answerMode = static_cast<AnswerMode>(mode.load());
    const protocol::CommandEntry* entry = protocol::FindCommand(bytes, n);
    if (entry && entry->id == CommandId::RealTimeStatus && n == 3) {
        if (answerMode == AnswerMode::FixedByte) {
            r.when = Reaction::When::AtOnce;
            r.request = "DLE EOT " + std::to_string(bytes[2]);
            r.answer = {fixedByte.load()};
        } else if (bytes[2] == 5) {
            r.answer = {status.load()};
        }
    }
    if (r.answer.empty()) return;
    if (!answering()) {
        r.answer.clear();
        return;
    }
    log.answered();
}

void VirtualPrinter::Impl::command(const PieceSplitter::Piece& piece) {
    if (piece.first && piece.last) {
        // The set-up command GS ( E changes the rate and flow control it expects.
        const protocol::CommandEntry* entry = protocol::FindCommand(piece.bytes, piece.length);
        if (entry && entry->id == CommandId::PrinterSetup) {
            const SetupChange change = ReadSetupCommand(piece.bytes, piece.length);
            if (change.baud) baud = *change.baud;
            if (change.flow) flow = *change.flow;
        }
    }
    log.piece(piece);
}

void VirtualPrinter::Impl::takeBytes(const uint8_t* data, size_t n) {
    const uint64_t token = log.take(data, n);
    // The intake answers the requests among them before the observer sees the bytes, whatever it
    // does with them.
    if (intake) intake->feed(data, n, states(), *this);
    // Counted once the observer has had them: a wait for n bytes then knows it saw them too.
    log.counted(n, token);
}

void VirtualPrinter::Impl::handleNotify() {
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(notify, buf, sizeof buf);
        if (n <= 0) return;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
            if (ev->mask & IN_OPEN) ++hostOpeners;
            if (ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                if (hostOpeners > 0) --hostOpeners;
                if (hostOpeners == 0) {
#ifdef TIOCNXCL
                    ::ioctl(slave, TIOCNXCL);
#endif
                }
            }
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
}

void VirtualPrinter::Impl::acceptHosts() {
    for (int i = 0; i < kAcceptsPerRound && waiting.size() < kMaxWaiting; ++i) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == ECONNABORTED || errno == EINTR) continue;
            return;  // none left (or out of descriptors: the rest wait in the backlog)
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        // One host at a time, as a printer's raw port serves: a new connection waits its turn.
        if (master >= 0) {
            waiting.push_back({fd, false});
            continue;
        }
        serve(fd);
    }
}

// Drops the waiting connections that closed without a byte (a port scanner's connect and close,
// or a reset); one that sent bytes before it closed keeps its place. watched[j] is the index in
// waiting of fds[at + j].
void VirtualPrinter::Impl::sweepWaiting(const std::vector<pollfd>& fds, size_t at, const std::vector<size_t>& watched) {
    for (size_t j = watched.size(); j-- > 0;) {
        const short ev = fds[at + j].revents;
        if (!(ev & (POLLRDHUP | POLLHUP | POLLERR))) continue;
        Waiting& w = waiting[watched[j]];
        int unread = 0;
        if (!(ev & POLLERR) && ::ioctl(w.fd, FIONREAD, &unread) == 0 && unread > 0) {
            w.ended = true;
            continue;
        }
        ::close(w.fd);
        waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(watched[j]));
    }
}

// The host's connection ended: the next one waiting is served.
void VirtualPrinter::Impl::dropHost() {
    {
        std::lock_guard<std::mutex> lock(writeMutex);
        CloseFd(master);
    }
    int next = -1;
    if (!waiting.empty()) {
        next = waiting.front().fd;
        waiting.pop_front();
    }
    serve(next);
}

void VirtualPrinter::Impl::readerLoop() {
    std::vector<uint8_t> buf(kReadChunk);
    std::vector<pollfd> fds;
    std::vector<size_t> watched;
    while (!stopFlag.load()) {
        followStates();
        // Only this thread changes master, listener and waiting, so it reads them without the lock.
        fds.clear();
        fds.push_back({wakeRead, POLLIN, 0});
        const size_t hostAt = master >= 0 ? fds.size() : 0;
        if (hostAt) fds.push_back({master, POLLIN, 0});
        const size_t notifyAt = notify >= 0 ? fds.size() : 0;
        if (notifyAt) fds.push_back({notify, POLLIN, 0});
        const size_t listenAt = listener >= 0 && waiting.size() < kMaxWaiting ? fds.size() : 0;
        if (listenAt) fds.push_back({listener, POLLIN, 0});
        const size_t waitingAt = fds.size();
        watched.clear();
        for (size_t i = 0; i < waiting.size(); ++i) {
            if (waiting[i].ended) continue;
            fds.push_back({waiting[i].fd, POLLRDHUP, 0});
            watched.push_back(i);
        }
        const int r = ::poll(fds.data(), fds.size(), kPollSliceMs);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (stopFlag.load()) break;
        if (notifyAt && (fds[notifyAt].revents & POLLIN)) handleNotify();
        if (!watched.empty()) sweepWaiting(fds, waitingAt, watched);
        if (listenAt && (fds[listenAt].revents & POLLIN)) acceptHosts();
        if (!hostAt) continue;
        const short host = fds[hostAt].revents;
        if (host & POLLIN) {
            // Drain what is there, a bounded number of chunks per round so the stop flag is seen.
            for (int round = 0; round < 64 && !stopFlag.load(); ++round) {
                const ssize_t n = ::read(master, buf.data(), buf.size());
                if (n > 0) {
                    takeBytes(buf.data(), static_cast<size_t>(n));
                    continue;
                }
                // A host that closed its connection (end of file) or broke it is gone.
                if (network && (n == 0 || (errno != EAGAIN && errno != EINTR))) dropHost();
                break;  // EAGAIN, EIO (no slave open) or end of file
            }
        } else if (host & (POLLHUP | POLLERR)) {
            if (network) {
                dropHost();
                continue;
            }
            // No slave side open (cannot happen while our own descriptor is held): do not spin.
            pollfd w{wakeRead, POLLIN, 0};
            ::poll(&w, 1, 10);
        }
    }
}

void VirtualPrinter::Impl::shutdown() {
    stopFlag = true;
    if (wakeWrite >= 0) {
        const uint8_t b = 1;
        [[maybe_unused]] const ssize_t w = ::write(wakeWrite, &b, 1);
    }
    if (reader.joinable()) reader.join();
    intake.reset();
    {
        std::lock_guard<std::mutex> lock(writeMutex);
        CloseFd(master);
        CloseFd(slave);
        CloseFd(listener);
        for (const Waiting& w : waiting) ::close(w.fd);
        waiting.clear();
    }
    CloseFd(notify);
    CloseFd(wakeRead);
    CloseFd(wakeWrite);
    running = false;
}

VirtualPrinter::VirtualPrinter() : impl_(new Impl) {}

VirtualPrinter::~VirtualPrinter() {
    stop();
    delete impl_;
}

bool VirtualPrinter::start(std::string* error) { return start(Transport::PseudoTerminal, error); }

bool VirtualPrinter::start(Transport transport, std::string* error) {
    Impl& d = *impl_;
    auto fail = [&](const std::string& what) {
        if (error) *error = what + ": " + std::strerror(errno);
        d.shutdown();
        return false;
    };
    if (d.running) {
        if (error) *error = "the virtual printer runs already";
        return false;
    }
    d.stopFlag = false;
    d.network = transport == Transport::Tcp;
    if (d.network) {
        // The loopback interface only, on a port the system picks.
        d.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (d.listener < 0) return fail("socket");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        if (::bind(d.listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return fail("bind");
        if (::listen(d.listener, kListenBacklog) != 0) return fail("listen");
        if (::getsockname(d.listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return fail("getsockname");
        d.path = "tcp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    } else {
        d.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (d.master < 0) return fail("posix_openpt");
        if (::grantpt(d.master) != 0) return fail("grantpt");
        if (::unlockpt(d.master) != 0) return fail("unlockpt");
        char name[128];
        if (::ptsname_r(d.master, name, sizeof name) != 0) return fail("ptsname_r");
        d.path = name;
        d.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (d.slave < 0) return fail("open " + d.path);
        if (!MakeRawLine(d.slave, d.baud.load())) return fail("tcsetattr " + d.path);
        const int flags = ::fcntl(d.master, F_GETFL);
        if (flags < 0 || ::fcntl(d.master, F_SETFL, flags | O_NONBLOCK) != 0) return fail("fcntl");
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe2");
    d.wakeRead = pipeFds[0];
    d.wakeWrite = pipeFds[1];
    // Without the watch the printer still works; only the exclusive mark of a closed host stays.
    if (!d.network) {
        d.notify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (d.notify >= 0 &&
            ::inotify_add_watch(d.notify, d.path.c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
            CloseFd(d.notify);
        }
    }
    d.hostOpeners = 0;
    d.log.startOver();
    // On the terminal the one host is served from the start; on the network each as it comes.
    d.serve(d.network ? -1 : d.master);
    try {
        d.reader = std::thread([&d] { d.readerLoop(); });
    } catch (const std::system_error&) {
        return fail("thread");
    }
    d.running = true;
    return true;
}

void VirtualPrinter::stop() {
    if (!impl_->path.empty()) platform::ClearEmulatedModemLines(impl_->path);
    impl_->shutdown();
}

void VirtualPrinter::vanish() { impl_->shutdown(); }

bool VirtualPrinter::running() const { return impl_->running.load(); }

const std::string& VirtualPrinter::slavePath() const { return impl_->path; }

void VirtualPrinter::setStatusByte(uint8_t s) { impl_->status = s; }

uint8_t VirtualPrinter::statusByte() const { return impl_->status.load(); }

void VirtualPrinter::setAnswerMode(AnswerMode m, uint8_t byte) {
    impl_->fixedByte = byte;
    impl_->mode = static_cast<int>(m);
}

VirtualPrinter::AnswerMode VirtualPrinter::answerMode() const { return static_cast<AnswerMode>(impl_->mode.load()); }

bool VirtualPrinter::answersNow() const { return running() && impl_->answering(); }

void VirtualPrinter::setModel(Model model) { impl_->model = model; }

Model VirtualPrinter::model() const { return impl_->model.load(); }

void VirtualPrinter::setBaudRate(uint32_t baud) { impl_->baud = baud; }

uint32_t VirtualPrinter::baudRate() const { return impl_->baud.load(); }

void VirtualPrinter::setRequireMatchingBaud(bool on) { impl_->requireBaud = on; }

bool VirtualPrinter::requireMatchingBaud() const { return impl_->requireBaud.load(); }

std::optional<uint32_t> VirtualPrinter::hostBaudRate() const {
    std::lock_guard<std::mutex> lock(impl_->writeMutex);
    if (impl_->slave < 0) return std::nullopt;
    return ReadLineRate(impl_->slave);
}

uint8_t VirtualPrinter::flowControl() const { return impl_->flow.load(); }

void VirtualPrinter::setHoldCts(bool hold) {
    impl_->holdCts = hold;
    // A pseudo-terminal has no modem lines: the platform stands in for the host's CTS line.
    if (impl_->path.empty()) return;
    if (hold) {
        platform::SetEmulatedModemLines(impl_->path, platform::kModemDsr);
    } else {
        platform::ClearEmulatedModemLines(impl_->path);
    }
}

bool VirtualPrinter::holdCts() const { return impl_->holdCts.load(); }

bool VirtualPrinter::sendUnsolicited(const Bytes& bytes) {
    std::lock_guard<std::mutex> lock(impl_->writeMutex);
    if (impl_->master < 0) return false;
    return WriteAll(impl_->master, bytes.data(), bytes.size(), impl_->network);
}

bool VirtualPrinter::stopping() const { return impl_->stopFlag.load(); }

void VirtualPrinter::setRecording(bool on) { impl_->log.setRecording(on); }

bool VirtualPrinter::recording() const { return impl_->log.recording(); }

void VirtualPrinter::setObserver(Observer observer) {
    std::lock_guard<std::mutex> lock(impl_->observerMutex);
    impl_->observer = std::move(observer);
}

Bytes VirtualPrinter::received() const { return impl_->log.received(); }

size_t VirtualPrinter::receivedCount() const { return impl_->log.receivedCount(); }

std::vector<Command> VirtualPrinter::commands() const { return impl_->log.commands(); }

size_t VirtualPrinter::commandCount() const { return impl_->log.commandCount(); }

void VirtualPrinter::clearReceived() { impl_->log.clear(); }

bool VirtualPrinter::waitForBytes(size_t n, uint32_t timeoutMs) const { return impl_->log.waitForBytes(n, timeoutMs); }

bool VirtualPrinter::waitForQuiet(uint32_t quietMs, uint32_t timeoutMs) const {
    return impl_->log.waitForQuiet(quietMs, timeoutMs);
}

size_t VirtualPrinter::answeredRequests() const { return impl_->log.answeredCount(); }

}  // namespace pellory::vprinter
