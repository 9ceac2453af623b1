// The printer emulator: a front over the printer server (printer_server.h), which serves its one
// pseudo-terminal (no symbolic link; the server holds the slave open, so that the terminal stays
// open while the host closes and reopens the port) or its one loopback address (one connection
// at a time), with no job kept and no state holding printing back. What the program's own printer
// adds, it adds through the server's connection hooks (Hooks below): its status byte, silence and
// rate match, the set-up command, the counts and the recording. Its states live here (the status
// byte, and the states it has no bit for); every change is given to the server, whose loop sends
// the automatic status back.
#include "vprinter/virtual_printer.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/decimal_text.h"
#include "platform/serial_device.h"
#include "protocol/command_splitter.h"
#include "protocol/command_table.h"
#include "protocol/functions.h"
#include "protocol/mnemonic.h"
#include "vprinter/connection_hooks.h"
#include "vprinter/printer_answers.h"
#include "vprinter/printer_server.h"
#include "vprinter/receive_log.h"

namespace pellory::vprinter {

namespace {

using protocol::CommandId;
using protocol::PieceSplitter;

// Network: the connections that may wait their turn while one is served; past them the rest wait
// in the listen backlog.
constexpr size_t kMaxWaiting = 128;

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

struct VirtualPrinter::Impl {
    struct Hooks;

    std::string path;
    std::atomic<bool> network{false};
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
    SymbolMeasure symbolMeasure;  // set before start(), read there
    // The states the status byte has no bit for (paper near end, an open drawer).
    std::atomic<States> otherStates{0};
    // Serialises a change of the states with handing the result to the server, so that the server
    // ends in the latest.
    std::mutex stateMutex;

    ReceiveLog log;
    std::mutex observerMutex;
    VirtualPrinter::Observer observer;  // guarded by observerMutex

    // The server of the run (kept after stop() until the next start(), for callers on other
    // threads), guarded by serverMutex, never held while the server stops.
    mutable std::mutex serverMutex;
    std::shared_ptr<PrinterServer> server;

    std::shared_ptr<PrinterServer> current() const {
        std::lock_guard<std::mutex> lock(serverMutex);
        return server;
    }
    States states() const;
    bool answering() const;
    std::optional<uint32_t> hostRate() const;
    // Applies a change (under stateMutex) and gives the server the states that result.
    template <typename Change>
    void changeState(Change change, PrinterServer* to = nullptr);
    void shutdown();
};

// What the printer adds to the server's answers and intake, for the host served.
struct VirtualPrinter::Impl::Hooks final : ConnectionHooks {
    explicit Hooks(Impl& d) : d_(d) {}
    PrinterServer* server = nullptr;  // set before the server starts

    // A new host: a command the one before had begun is not listed.
    void served() override { d_.log.dropPending(); }
    uint64_t arriving(const uint8_t* bytes, size_t n) override { return d_.log.take(bytes, n); }
    // Counted once the observer has had them: a wait for n bytes then knows it saw them too.
    void taken(size_t n, uint64_t token) override { d_.log.counted(n, token); }
    void command(const PieceSplitter::Piece& piece) override;
    void review(const uint8_t* bytes, size_t n, States s, Reaction& r) override;
    bool changeStates(States set, States clear) override;

    Impl& d_;
};

// The states behind the status byte's bits, those it has no bit for, and silence.
States VirtualPrinter::Impl::states() const {
    States s = static_cast<States>(StatesOfPelloryStatusByte(status.load()) | otherStates.load());
    if (static_cast<AnswerMode>(mode.load()) == AnswerMode::Silent) s |= kSilent;
    return s;
}

std::optional<uint32_t> VirtualPrinter::Impl::hostRate() const {
    if (!running.load() || network) return std::nullopt;
    const auto s = current();
    return s ? s->ptyHostRate(0) : std::nullopt;
}

// Not silent, and at the host's rate where it must match.
bool VirtualPrinter::Impl::answering() const {
    if (static_cast<AnswerMode>(mode.load()) == AnswerMode::Silent) return false;
    if (!requireBaud.load()) return true;
    const auto host = hostRate();
    return !host || *host == baud.load();
}

template <typename Change>
void VirtualPrinter::Impl::changeState(Change change, PrinterServer* to) {
    std::lock_guard<std::mutex> lock(stateMutex);
    change();
    if (to) {
        to->setStates(states());
        return;
    }
    if (const auto s = current()) s->setStates(states());
}

void VirtualPrinter::Impl::shutdown() {
    stopFlag = true;
    if (const auto s = current()) s->stop();
    running = false;
}

void VirtualPrinter::Impl::Hooks::command(const PieceSplitter::Piece& piece) {
    if (piece.first && piece.last) {
        // The set-up command GS ( E changes the rate and flow control it expects.
        if (piece.entry && piece.entry->id == CommandId::PrinterSetup) {
            const SetupChange change = ReadSetupCommand(piece.bytes, piece.length);
            if (change.baud) d_.baud = *change.baud;
            if (change.flow) d_.flow = *change.flow;
        }
    }
    d_.log.piece(piece);
}

// DLE EOT 5 gets the status byte (any bits, or a fixed byte whatever the request); nothing is
// answered while silent or, where the rate must match, at another rate than the host's.
void VirtualPrinter::Impl::Hooks::review(const uint8_t* bytes, size_t n, States, Reaction& r) {
    const auto answerMode = static_cast<VirtualPrinter::AnswerMode>(d_.mode.load());
    const protocol::CommandEntry* entry = protocol::FindCommand(bytes, n);
    if (entry && entry->id == CommandId::RealTimeStatus && n == 3) {
        if (answerMode == VirtualPrinter::AnswerMode::FixedByte) {
            r.when = Reaction::When::AtOnce;
            r.request = protocol::WriteMnemonic(bytes, n);
            r.answer = {d_.fixedByte.load()};
        } else if (bytes[2] == 5) {
            r.answer = {d_.status.load()};
        }
    }
    if (r.answer.empty()) return;
    if (!d_.answering()) {
        r.answer.clear();
        return;
    }
    d_.log.answered();
}

// A drawer pulse or a recovery: the states with a status bit change in the status byte.
bool VirtualPrinter::Impl::Hooks::changeStates(States set, States clear) {
    d_.changeState(
        [&] {
            d_.status.fetch_and(static_cast<uint8_t>(~PelloryStatusByte(clear)));
            d_.status.fetch_or(PelloryStatusByte(set));
            const States mapped = StatesOfPelloryStatusByte(0xFF);
            d_.otherStates.fetch_and(static_cast<States>(~clear));
            d_.otherStates.fetch_or(static_cast<States>(set & ~mapped & ~kSilent));
        },
        server);
    return true;
}

VirtualPrinter::VirtualPrinter() : impl_(new Impl) {}

VirtualPrinter::~VirtualPrinter() {
    stop();
    delete impl_;
}

bool VirtualPrinter::start(std::string* error) { return start(Transport::PseudoTerminal, error); }

bool VirtualPrinter::start(Transport transport, std::string* error) {
    Impl& d = *impl_;
    if (d.running) {
        if (error) *error = "the virtual printer runs already";
        return false;
    }
    d.stopFlag = false;
    d.network = transport == Transport::Tcp;
    ServerOptions o;
    o.model = d.model.load();
    o.keepJobs = false;
    o.holdWhileStopped = false;
    o.idleTimeout = std::chrono::milliseconds(0);
    o.symbolMeasure = d.symbolMeasure;
    if (d.network) {
        // The loopback interface only, on a port the system picks, one connection at a time.
        o.listen.push_back(ListenAddress{"127.0.0.1", 0});
        o.oneAtATime = true;
        o.maxConnections = 1 + kMaxWaiting;
    } else {
        LineEndpoint line;
        line.kind = LineEndpoint::Kind::Pty;
        line.baud = d.baud.load();
        o.lines.push_back(line);
    }
    auto hooks = std::make_shared<Impl::Hooks>(d);
    o.hooks = hooks;
    {
        std::lock_guard<std::mutex> lock(d.stateMutex);
        o.states = d.states();
    }
    auto server = std::make_shared<PrinterServer>(std::move(o));
    hooks->server = server.get();
    server->setPrintObserver([&d](uint64_t, const uint8_t* bytes, size_t n) {
        std::lock_guard<std::mutex> lock(d.observerMutex);
        if (d.observer) d.observer(bytes, n);
    });
    d.log.startOver();
    std::string why;
    if (!server->start(&why)) {
        if (error) *error = why;
        return false;
    }
    d.path = d.network ? "tcp://127.0.0.1:" + std::to_string(server->boundAddresses().at(0).port)
                       : server->ptyPaths().at(0);
    {
        std::lock_guard<std::mutex> lock(d.serverMutex);
        d.server = server;
    }
    d.running = true;
    // A state set while it started.
    d.changeState([] {});
    return true;
}

void VirtualPrinter::stop() {
    if (!impl_->path.empty()) platform::ClearEmulatedModemLines(impl_->path);
    impl_->shutdown();
}

void VirtualPrinter::vanish() { impl_->shutdown(); }

bool VirtualPrinter::running() const { return impl_->running.load(); }

const std::string& VirtualPrinter::slavePath() const { return impl_->path; }

void VirtualPrinter::setStatusByte(uint8_t s) {
    impl_->changeState([&] { impl_->status = s; });
}

uint8_t VirtualPrinter::statusByte() const { return impl_->status.load(); }

void VirtualPrinter::setAnswerMode(AnswerMode m, uint8_t byte) {
    impl_->changeState([&] {
        impl_->fixedByte = byte;
        impl_->mode = static_cast<int>(m);
    });
}

VirtualPrinter::AnswerMode VirtualPrinter::answerMode() const { return static_cast<AnswerMode>(impl_->mode.load()); }

bool VirtualPrinter::answersNow() const { return running() && impl_->answering(); }

void VirtualPrinter::setSymbolMeasure(SymbolMeasure measure) { impl_->symbolMeasure = std::move(measure); }

void VirtualPrinter::setModel(Model model) {
    impl_->model = model;
    if (const auto s = impl_->current()) s->setModel(model);
}

Model VirtualPrinter::model() const { return impl_->model.load(); }

void VirtualPrinter::setBaudRate(uint32_t baud) { impl_->baud = baud; }

uint32_t VirtualPrinter::baudRate() const { return impl_->baud.load(); }

void VirtualPrinter::setRequireMatchingBaud(bool on) { impl_->requireBaud = on; }

bool VirtualPrinter::requireMatchingBaud() const { return impl_->requireBaud.load(); }

std::optional<uint32_t> VirtualPrinter::hostBaudRate() const { return impl_->hostRate(); }

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
    if (!running()) return false;
    const auto s = impl_->current();
    return s && s->sendUnsolicited(bytes.data(), bytes.size());
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
