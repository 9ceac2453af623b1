// The printer server's loop: one thread that accepts, reads every connection and line, answers,
// prints and ends jobs. Every wait is a poll() bounded by the next deadline (at most
// kMaxPollMs) that the wake-up pipe ends at once (stop, a state change).
//
// Nothing waits on one host: a connection is read only while its answers leave (fewer than
// kOutHigh bytes wait to be written) and while its intake has room (printing stopped: the hold
// buffer), so a host that never reads its answers, or one whose job waits, only stops itself.
//
// Nor on the sink: a finished job is offered (HandOver::IfRoom), and one it refuses waits in the
// server with every job that ends after it, offered again when jobRoom() wakes the loop and at
// least every kOfferEveryMs. While jobs wait, printing pauses on every connection (their bytes
// wait in the hold, as while a state stops printing) and, past the bound of the waiting jobs, no
// new connection is accepted.
//
// When accept() fails for want of descriptors or memory, the listeners are left alone for a
// while that doubles up to kMaxAcceptBackoff, and the message sink hears it once.
//
// One at a time (the program's own printer on the network): only the first TCP connection in
// the order they came is read; the others are watched for a hang-up only (kWaitHangUp), so that a
// port scanner's connect and close costs a place in the line no longer than it lasts.
#include <algorithm>

#include "platform/sockets.h"
#include "vprinter/server_impl.h"

namespace pellory::vprinter {

namespace {

constexpr size_t kReadChunk = 16 * 1024;
constexpr size_t kOutHigh = 64 * 1024;
constexpr int kMaxPollMs = 1000;
constexpr int kAcceptsPerRound = 32;
constexpr int kOfferEveryMs = 50;
constexpr std::chrono::milliseconds kFirstAcceptBackoff{10};
constexpr std::chrono::milliseconds kMaxAcceptBackoff{1000};

using platform::kNoSocket;

std::string PeerText(platform::SocketHandle fd) {
    const std::optional<platform::SocketEnd> end = platform::PeerEnd(fd);
    if (!end) return "tcp:?";
    if (!end->ipv6) return "tcp:" + end->address + ":" + std::to_string(end->port);
    // The address alone, without a link-local address's zone.
    return "tcp:[" + end->address.substr(0, end->address.find('%')) + "]:" + std::to_string(end->port);
}

// Writes what waits in c.out, as much as the socket or line takes now.
void Flush(ServerCore& d, Connection& c) {
    size_t done = 0;
    while (done < c.out.size() && c.fd != kNoSocket) {
        const long long w = c.kind == Connection::Kind::Tcp
                                ? platform::SendSome(c.fd, c.out.data() + done, c.out.size() - done)
                                : d.writeLine(d.lines[c.line], c.out.data() + done, c.out.size() - done, nullptr);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w == platform::kSocketWouldBlock) break;
        done = c.out.size();  // the host went away: its answers go nowhere
    }
    c.out.erase(c.out.begin(), c.out.begin() + static_cast<std::ptrdiff_t>(done));
}

}  // namespace

FinishedJob EndJob(Connection& c, JobEnd end, std::string reason) {
    FinishedJob job = c.intake.takeJob();
    job.number = c.jobNumber;
    job.started = c.started;
    job.ended = std::chrono::system_clock::now();
    job.source = c.source;
    job.end = end;
    job.reason = std::move(reason);
    if (c.spool) {
        std::string failure = c.spool->failure();
        if (c.spoolFailed || !failure.empty()) {
            job.end = JobEnd::Failed;
            job.reason = failure.empty() ? std::string("the spool failed") : std::move(failure);
        }
        job.spool = std::move(c.spool);
    }
    c.spool.reset();
    c.spoolFailed = false;
    return job;
}

namespace {

// What a connection's intake acts on.
class ConnectionHost final : public PrinterIntake::Host {
public:
    ConnectionHost(ServerCore& d, Connection& c) : d_(d), c_(c) {}
    void send(const uint8_t* bytes, size_t n) override {
        if (c_.fd == kNoSocket) return;
        c_.out.insert(c_.out.end(), bytes, bytes + n);
        Flush(d_, c_);
    }
    void print(const uint8_t* bytes, size_t n) override {
        if (d_.observer) d_.observer(c_.jobNumber, bytes, n);
    }
    void command(const protocol::PieceSplitter::Piece& piece) override {
        if (d_.options.hooks) d_.options.hooks->command(piece);
    }
    void review(const uint8_t* bytes, size_t n, States s, Reaction& r) override {
        if (d_.options.hooks) d_.options.hooks->review(bytes, n, s, r);
    }
    void changeStates(States set, States clear) override {
        if (d_.options.hooks && d_.options.hooks->changeStates(set, clear)) return;
        platform::MutexLock lock(d_.stateMutex);
        const States next = static_cast<States>((d_.states | set) & ~clear);
        if (next == d_.states) return;
        d_.states = next;
        ++d_.stateVersion;
    }

private:
    ServerCore& d_;
    Connection& c_;
};

struct Loop {
    explicit Loop(ServerCore& core) : d(core), buf(kReadChunk) {}

    ServerCore& d;
    std::vector<uint8_t> buf;
    std::vector<platform::SocketWait> fds;
    std::vector<Connection*> polled;  // the connection of fds[i] from firstConnection on
    size_t tcpCount = 0;
    States seen = 0;
    uint64_t seenVersion = 0;
    // accept() is failing for want of resources: the listeners are polled again from
    // acceptResume on, after a wait that doubles with each failure.
    bool acceptFailing = false;
    std::chrono::milliseconds acceptBackoff{0};
    SteadyClock::time_point acceptResume;

    States snapshot(uint64_t* version) const {
        platform::MutexLock lock(d.stateMutex);
        if (version) *version = d.stateVersion;
        return d.states;
    }
    bool canRead(const Connection& c, States s) const { return c.out.size() < kOutHigh && c.intake.room(s) > 0; }
    // Whether its silence counts now: not while the printer itself keeps it from sending (a TCP
    // connection: printing is stopped, by a state or while jobs wait for the sink; a line, whose
    // silence ends its job: the hold is full); once that ends, its silence counts from then. A
    // host that does not read its answers is silent all the same.
    bool silenceCounts(Connection& c, States s, SteadyClock::time_point now) {
        const bool kept = c.kind == Connection::Kind::Tcp ? !c.intake.printing(s) : c.intake.room(s) == 0;
        if (kept) {
            c.heldBack = true;
            return false;
        }
        if (c.heldBack) {
            c.heldBack = false;
            c.lastByte = now;
        }
        return true;
    }
    void say(const std::string& message) {
        if (d.messages) d.messages(message);
    }

    bool oneAtATime() const { return d.options.oneAtATime; }
    bool idleCloses() const { return d.options.idleTimeout.count() > 0; }
    // The connection whose turn it is, one at a time: the first TCP connection, in the order
    // they came (one whose bytes still wait to be printed after it closed included).
    Connection* servedTcp() {
        for (Connection& c : d.connections) {
            if (c.kind == Connection::Kind::Tcp) return &c;
        }
        return nullptr;
    }
    // The host that unasked bytes go to: the first line, or the TCP connection served.
    Connection* hostServed() {
        for (Connection& c : d.connections) {
            if (c.kind == Connection::Kind::Line && c.fd != kNoSocket) return &c;
        }
        Connection* c = oneAtATime() ? servedTcp() : nullptr;
        return c && c->turn && c->fd != kNoSocket ? c : nullptr;
    }
    // c is served from now on: with a fresh intake where it waited its turn (the model may have
    // changed meanwhile), its silence counted from now.
    void beginTurn(Connection& c, bool fresh) {
        c.turn = true;
        if (fresh) {
            c.intake = PrinterIntake(d.model.load(), d.limits());
            pauseIfBehind(c);
        }
        c.lastByte = d.now();
        if (d.options.hooks) d.options.hooks->served();
    }
    // A connection waiting its turn hung up: one that sent nothing (or reset) is dropped at once,
    // one that sent bytes keeps its place for them.
    void hungUpWhileWaiting(Connection& c, uint8_t ready) {
        if (!(ready & platform::kReadyError) && platform::BytesWaiting(c.fd) > 0) {
            c.ended = true;
            return;
        }
        closeTcp(c, JobEnd::Closed);
    }
    // Unasked bytes from other threads go to the host served, behind its waiting answers.
    void sendAsked() {
        std::deque<std::shared_ptr<Unsolicited>> asked;
        {
            platform::MutexLock lock(d.sendMutex);
            if (d.toSend.empty()) return;
            asked.swap(d.toSend);
        }
        Connection* c = hostServed();
        for (const auto& u : asked) {
            if (c == nullptr || c->fd == kNoSocket) continue;
            c->out.insert(c->out.end(), u->bytes.begin(), u->bytes.end());
            Flush(d, *c);
            u->sent = c->fd != kNoSocket;
        }
        {
            platform::MutexLock lock(d.sendMutex);
            for (const auto& u : asked) u->done = true;
        }
        d.sent.notify_all();
    }
    // --- handing jobs to the sink ---
    bool writersBehind() const { return !d.waitingJobs.empty(); }
    // Whether the waiting jobs reached their bound: no new connection is accepted.
    bool waitingFull() const {
        return writersBehind() &&
               (d.waitingJobs.size() >= d.options.maxWaitingJobs || d.waitingBytes >= d.options.maxWaitingBytes);
    }
    // True when the sink took the job.
    bool offer(FinishedJob& job) {
        platform::MutexLock lock(d.sinkMutex);
        if (d.sink && !d.sink(job, HandOver::IfRoom)) return false;
        ++d.finished;
        return true;
    }
    // Printing pauses on every connection while jobs wait for the sink, and goes on after. Not
    // on a closed one: it reads nothing more, and what it holds prints (a state permitting) so
    // that it goes and leaves its place to a new connection.
    void pauseAll(bool on) {
        for (Connection& c : d.connections) {
            if (on && c.fd == kNoSocket) continue;
            ConnectionHost host(d, c);
            c.intake.pause(on, seen, host);
        }
    }
    void pauseIfBehind(Connection& c) {
        if (!writersBehind()) return;
        ConnectionHost host(d, c);
        c.intake.pause(true, seen, host);
    }
    // A job ended: to the sink, or behind the jobs that wait for it.
    void handOver(FinishedJob&& job) {
        if (!writersBehind() && offer(job)) return;
        d.waitingBytes += job.bytes.size();
        d.waitingJobs.push_back(std::move(job));
        if (d.waitingJobs.size() == 1) pauseAll(true);
    }
    // The waiting jobs, oldest first, as long as the sink takes them.
    void offerWaiting() {
        if (!writersBehind()) return;
        while (!d.waitingJobs.empty()) {
            const size_t bytes = d.waitingJobs.front().bytes.size();
            if (!offer(d.waitingJobs.front())) return;
            d.waitingBytes -= bytes;
            d.waitingJobs.pop_front();
        }
        pauseAll(false);
    }

    void endJob(Connection& c, JobEnd end, std::string reason = {}) {
        if (c.intake.hasJob() && d.options.keepJobs) handOver(EndJob(c, end, std::move(reason)));
    }
    void closeTcp(Connection& c, JobEnd end, std::string reason = {}) {
        endJob(c, end, std::move(reason));
        platform::CloseSocket(c.fd);
        c.out.clear();
        if (c.intake.paused()) {
            ConnectionHost host(d, c);
            c.intake.pause(false, seen, host);
        }
    }
    void takeBytes(Connection& c, size_t n, States s) {
        c.lastByte = d.now();
        if (c.discarding) return;
        if (!c.intake.hasJob()) {
            c.jobNumber = ++d.nextJob;
            c.started = std::chrono::system_clock::now();
            if (d.spooling()) c.spool = d.options.spool->begin(c.jobNumber, c.started, c.source);
        }
        // In the spool before the intake acts on them: whatever it answers, the bytes before the
        // request are stored. A failed spool takes nothing more; the host is served as ever.
        if (c.spool && !c.spoolFailed) {
            const size_t keep = c.intake.keeps(n);
            if (keep > 0 && !c.spool->append(buf.data(), keep)) c.spoolFailed = true;
        }
        ConnectionHost host(d, c);
        const auto& hooks = d.options.hooks;
        const uint64_t token = hooks ? hooks->arriving(buf.data(), n) : 0;
        const PrinterIntake::Fed fed = c.intake.feed(buf.data(), n, s, host);
        if (hooks) hooks->taken(n, token);
        if (fed == PrinterIntake::Fed::Ok) return;
        const std::string reason = "more than " + std::to_string(d.options.maxJobBytes) + " bytes";
        if (c.kind == Connection::Kind::Tcp) {
            closeTcp(c, JobEnd::OverLimit, reason);
        } else {
            endJob(c, JobEnd::OverLimit, reason);
            c.discarding = true;  // until the line falls silent
        }
    }
    void readFrom(Connection& c, States s) {
        const size_t want = std::min(kReadChunk, c.intake.room(s));
        if (want == 0) return;
        int code = 0;
        const long long r = c.kind == Connection::Kind::Tcp ? platform::ReceiveSome(c.fd, buf.data(), want, &code)
                                                            : d.readLine(d.lines[c.line], buf.data(), want, &code);
        if (r > 0) {
            takeBytes(c, static_cast<size_t>(r), s);
            return;
        }
        if (r == platform::kSocketWouldBlock) return;
        if (c.kind == Connection::Kind::Tcp) {
            closeTcp(c, JobEnd::Closed);
            return;
        }
        // A line that failed (a serial adapter unplugged): its job ends, the line is no longer read.
        const std::string reason = r == 0 ? std::string("end of file") : platform::SocketErrorText(code);
        endJob(c, JobEnd::Failed, reason);
        c.fd = kNoSocket;
    }
    // Whether the listeners are polled: room for connections, for their jobs, and no back-off.
    bool accepting(SteadyClock::time_point now) const {
        return tcpCount < d.options.maxConnections && !waitingFull() && (!acceptFailing || now >= acceptResume);
    }
    void acceptFailed(int code) {
        acceptBackoff = std::clamp(acceptBackoff * 2, kFirstAcceptBackoff, kMaxAcceptBackoff);
        acceptResume = d.now() + acceptBackoff;
        if (acceptFailing) return;
        acceptFailing = true;
        say("cannot accept connections: " + platform::SocketErrorText(code) + "; retrying");
    }
    void accept(platform::SocketHandle listener) {
        for (int i = 0; i < kAcceptsPerRound && tcpCount < d.options.maxConnections; ++i) {
            platform::SocketHandle fd = kNoSocket;
            int code = 0;
            const platform::AcceptResult accepted = platform::AcceptConnection(listener, &fd, &code);
            if (accepted == platform::AcceptResult::Retry) continue;
            if (accepted == platform::AcceptResult::OutOfRoom) acceptFailed(code);
            if (accepted != platform::AcceptResult::Accepted) return;
            if (acceptFailing) {
                acceptFailing = false;
                acceptBackoff = std::chrono::milliseconds(0);
                say("accepting connections again");
            }
            d.connections.emplace_back(d.model.load(), d.limits());
            Connection& c = d.connections.back();
            c.kind = Connection::Kind::Tcp;
            c.fd = fd;
            c.source = PeerText(fd);
            c.lastByte = d.now();
            pauseIfBehind(c);
            ++tcpCount;
            // One at a time, it waits its turn until those before it are gone (run()).
            if (!oneAtATime() || servedTcp() == &c) beginTurn(c, false);
        }
    }
    // Deadlines: idle TCP connections close, silent lines end their job.
    void expire(States s) {
        const auto now = d.now();
        for (Connection& c : d.connections) {
            if (c.fd == kNoSocket || !c.turn || !silenceCounts(c, s, now)) continue;
            if (c.kind == Connection::Kind::Tcp) {
                if (idleCloses() && now - c.lastByte >= d.options.idleTimeout) closeTcp(c, JobEnd::Idle);
            } else if ((c.intake.hasJob() || c.discarding) && now - c.lastByte >= d.options.idleEnd) {
                endJob(c, JobEnd::Idle);
                c.discarding = false;
            }
        }
    }
    int pollTimeout(States s) {
        const auto now = d.now();
        auto next = now + std::chrono::milliseconds(writersBehind() ? kOfferEveryMs : kMaxPollMs);
        if (acceptFailing && acceptResume > now) next = std::min(next, acceptResume);
        for (Connection& c : d.connections) {
            if (c.fd == kNoSocket || !c.turn || !silenceCounts(c, s, now)) continue;
            if (c.kind == Connection::Kind::Tcp) {
                if (idleCloses()) next = std::min(next, c.lastByte + d.options.idleTimeout);
            } else if (c.intake.hasJob() || c.discarding) {
                next = std::min(next, c.lastByte + d.options.idleEnd);
            }
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
        return static_cast<int>(std::clamp<long long>(ms + 1, 0, kMaxPollMs));
    }
    void broadcast(States now) {
        for (Connection& c : d.connections) {
            ConnectionHost host(d, c);
            c.intake.stateChanged(seen, now, host);
        }
        seen = now;
    }
    void sweep() {
        for (auto it = d.connections.begin(); it != d.connections.end();) {
            if (it->kind == Connection::Kind::Tcp && it->fd == kNoSocket && it->intake.held() == 0 &&
                it->intake.waitingAnswers() == 0) {
                it = d.connections.erase(it);
                --tcpCount;
            } else {
                ++it;
            }
        }
        d.openCount = tcpCount;
    }
    void run();
};

void Loop::run() {
    for (size_t i = 0; i < d.lines.size(); ++i) {
        const Line& line = d.lines[i];
        d.connections.emplace_back(d.model.load(), d.limits());
        Connection& c = d.connections.back();
        c.kind = Connection::Kind::Line;
        c.fd = line.fd;
        c.line = i;
        const bool pty = line.endpoint.kind == LineEndpoint::Kind::Pty;
        c.source = (pty ? "pty:" : "serial:") +
                   (pty && line.endpoint.path.empty() ? line.slavePath : line.endpoint.path);
        beginTurn(c, false);
    }
    seen = snapshot(&seenVersion);
    while (!d.stopFlag.load()) {
        ++d.rounds;
        uint64_t version = 0;
        States s = snapshot(&version);
        if (version != seenVersion) {
            seenVersion = version;
            broadcast(s);
        }
        offerWaiting();
        sweep();
        if (oneAtATime()) {
            Connection* next = servedTcp();
            if (next && !next->turn) beginTurn(*next, true);
        }
        fds.clear();
        polled.clear();
        fds.push_back({d.wakeHandle, platform::kWaitRead, 0});
        const size_t firstWatch = fds.size();
        for (const Line& line : d.lines) {
            if (line.notify >= 0)
                fds.push_back({static_cast<platform::SocketHandle>(line.notify), platform::kWaitRead, 0});
        }
        const size_t firstListener = fds.size();
        if (accepting(d.now())) {
            for (const Listener& l : d.listeners) fds.push_back({l.fd, platform::kWaitRead, 0});
        }
        const size_t firstConnection = fds.size();
        for (Connection& c : d.connections) {
            if (c.fd == kNoSocket) continue;
            if (!c.turn) {
                // Waiting its turn: only a hang-up is watched, until it sent bytes and closed.
                if (!c.ended) {
                    fds.push_back({c.fd, platform::kWaitHangUp, 0});
                    polled.push_back(&c);
                }
                continue;
            }
            uint8_t events = 0;
            if (canRead(c, s)) events |= platform::kWaitRead;
            if (!c.out.empty()) events |= platform::kWaitWrite;
            if (events == 0) continue;  // waits for room: a hang-up is seen once it is read again
            fds.push_back({c.fd, events, 0});
            polled.push_back(&c);
        }
        const int r = platform::WaitSockets(fds, pollTimeout(s));
        if (d.stopFlag.load()) break;
        if (r < 0) break;
        // A state set while the loop waited holds for the bytes that arrived meanwhile: a request
        // sent after the change is answered in the new state.
        s = snapshot(&version);
        if (version != seenVersion) {
            seenVersion = version;
            broadcast(s);
        }
        if (r > 0) {
            if (fds[0].ready & platform::kReadyRead) {
                platform::MutexLock lock(d.wakeMutex);
                d.waker.drain();
            }
            for (size_t i = firstWatch, l = 0; i < firstListener; ++l) {
                if (d.lines[l].notify < 0) continue;
                if (fds[i++].ready & platform::kReadyRead) d.watchOpens(d.lines[l]);
            }
            for (size_t i = firstListener; i < firstConnection; ++i) {
                if (fds[i].ready & platform::kReadyRead) accept(fds[i].handle);
            }
        }
        // Before what the hosts sent now: bytes asked for before they sent it go first.
        sendAsked();
        if (r > 0) {
            for (size_t i = firstConnection; i < fds.size(); ++i) {
                Connection& c = *polled[i - firstConnection];
                const uint8_t ev = fds[i].ready;
                if (!c.turn) {
                    if (ev & (platform::kReadyHangUp | platform::kReadyError)) hungUpWhileWaiting(c, ev);
                    continue;
                }
                if (ev & platform::kReadyWrite) Flush(d, c);
                if (c.fd != kNoSocket &&
                    (ev & (platform::kReadyRead | platform::kReadyHangUp | platform::kReadyError))) {
                    readFrom(c, s);
                }
            }
        }
        expire(s);
    }
}

}  // namespace

void ServerCore::run() {
    Loop serving(*this);
    serving.run();
}

}  // namespace pellory::vprinter
