#include "link/serial_engine.h"

#include <algorithm>
#include <cstdio>

#include "link/hex_echo.h"
#include "link/port_settings.h"
#include "platform/port_map.h"

namespace pellory::link {

using platform::SerialResult;

namespace {
constexpr uint32_t kPollMs = 50;
constexpr size_t kChunk = 1024;
// What the writer takes at once for a port without a line: a network printer or a printer device
// file takes far more than a serial line at a time, and writing it kilobyte by kilobyte would
// cost a system call (and on the network a packet) per kilobyte.
constexpr size_t kBulkChunk = 64 * 1024;
// From this size on a send may go to a port without a line straight from the caller.
constexpr size_t kDirectSendMinimum = 4096;
constexpr uint32_t kQueueSize = 4096;
constexpr uint32_t kAllOnes = 0xFFFFFFFFu;
// A thread that has not ended within the stop time-out gets this much longer before StopThreads
// reports failure. Workers never block longer than one poll period, so this is never reached
// by a healthy worker.
constexpr uint32_t kStopGraceMs = 2000;
// Draining the send buffer before a stop gives up when no byte left it for this long.
constexpr uint32_t kDrainStallMs = 2000;

bool ValidQueueCount(uint32_t q) { return q != 0 && q != kAllOnes; }
}  // namespace

CSerialEngine::CSerialEngine() {
    Init();
    echoSwitch = false;
    SetFlags(LINK_MONITOR_THREAD | LINK_OVERLAPPED);
}

CSerialEngine::~CSerialEngine() {
    if (device_.isOpen()) {
        StopThreads(kLinkStopTimeoutMs);
        CloseDevice();
    }
    Destroy();
}

void CSerialEngine::CloseDevice() {
    if (Flags() & (LINK_FLUSH_ON_CLOSE | LINK_DRAIN_ON_STOP)) device_.flush();
    device_.purge(platform::kPurgeTxAbort | platform::kPurgeRxAbort | platform::kPurgeTxClear |
                  platform::kPurgeRxClear);
    device_.close();
}

// --- slots ---

void CSerialEngine::Close(uint32_t timeoutMs) {
    if (!device_.isOpen()) return;
    if (AnyThread() && !StopThreads(timeoutMs)) {
        // A worker still runs on the device; closing it under the worker would be unsafe.
        return;
    }
    CloseDevice();
}

void CSerialEngine::Init() {
    SetFlags(LINK_MONITOR_THREAD | LINK_OVERLAPPED);
    portNumber_ = -1;
    std::fill(std::begin(portDeviceName_), std::end(portDeviceName_), '\0');
    {
        std::lock_guard<std::mutex> lock(lineMutex_);
        line_ = platform::LineSettings{};
        line_.length = sizeof(platform::LineSettings);
    }
    timeouts_ = platform::Timeouts{};
    run_ = false;
    eventMask_ = kDefaultEventMask;
    threshold_ = 0;
    for (auto& e : wake_) e.reset();
    for (auto& e : overlappedEvents_) e.reset();
}

void CSerialEngine::Destroy() {
    // The events are plain objects that live with the link; nothing to release early.
    for (auto& e : wake_) e.reset();
    for (auto& e : overlappedEvents_) e.reset();
}

bool CSerialEngine::OpenPort() {
    if (device_.isOpen()) Close(kLinkStopTimeoutMs);
    auto entry = platform::PortMap::instance().portToOpen(portNumber_);
    if (!entry) {
        lastDevicePath_.clear();
        lastOpenError_ = SerialResult::NotFound;
        return false;
    }
    lastDevicePath_ = entry->path;
    lastOpenError_ = device_.open(entry->path, (Flags() & LINK_OVERLAPPED) != 0);
    if (lastOpenError_ != SerialResult::Ok) return false;
    removed_ = false;
    removalError_ = 0;
    removalReported_ = false;
    return true;
}

bool CSerialEngine::SetupPort() {
    if (device_.setQueueSizes(kQueueSize, kQueueSize) != SerialResult::Ok) return false;
    platform::Timeouts t;
    if (device_.getTimeouts(t) != SerialResult::Ok) return false;
    const bool overlapped = Flags() & LINK_OVERLAPPED;
    t.readInterval = 100;
    t.readMultiplier = 0;
    t.readConstant = overlapped ? 500 : 250;
    t.writeMultiplier = overlapped ? 1 : 0;
    t.writeConstant = overlapped ? 10000 : 250;
    if (!ApplyTimeouts(t)) return false;
    return Purge(platform::kPurgeTxAbort | platform::kPurgeRxAbort | platform::kPurgeTxClear |
                 platform::kPurgeRxClear);
}

void CSerialEngine::Notify(uint32_t message, intptr_t lParam, bool post) {
    NotifyTargetPtr window;
    ThreadTargetPtr thread;
    {
        std::lock_guard<std::mutex> lock(targetMutex_);
        window = notifyTarget_;
        thread = threadTarget_;
    }
    const auto wParam = static_cast<uintptr_t>(portNumber_);
    if (window && window->IsLive()) {
        if (post) {
            window->Post(message, wParam, lParam);
        } else {
            window->Send(message, wParam, lParam);
        }
    }
    if (thread) thread->PostToThread(message, wParam, lParam);
}

void CSerialEngine::OnReceive() { CSerialEngine::Notify(MSG_LINK_RECEIVE, 0, true); }
void CSerialEngine::OnDSR() { CSerialEngine::Notify(MSG_LINK_DSR, ModemState(platform::kModemDsr), true); }
void CSerialEngine::OnCTS() { CSerialEngine::Notify(MSG_LINK_CTS, ModemState(platform::kModemCts), true); }
void CSerialEngine::OnBreak() {
    if (IsOpen()) device_.clearBreak();
    CSerialEngine::Notify(MSG_LINK_BREAK, 0, true);
}
void CSerialEngine::OnTXEmpty() { CSerialEngine::Notify(MSG_LINK_TXEMPTY, 0, true); }
void CSerialEngine::OnError() {
    platform::CommStatus st;
    intptr_t bits = 0;
    if (IsOpen() && device_.clearError(&st) == SerialResult::Ok) bits = static_cast<intptr_t>(st.errors);
    CSerialEngine::Notify(MSG_LINK_ERROR, bits, true);
}
void CSerialEngine::OnRing() { CSerialEngine::Notify(MSG_LINK_RING, ModemState(platform::kModemRing), true); }
void CSerialEngine::OnRLSD() { CSerialEngine::Notify(MSG_LINK_RLSD, ModemState(platform::kModemRlsd), true); }
void CSerialEngine::OnRXFlag() { CSerialEngine::Notify(MSG_LINK_RXFLAG, 0, true); }
void CSerialEngine::NotifySpare1() { CSerialEngine::Notify(MSG_LINK_SPARE1, 0, true); }
void CSerialEngine::NotifySpare2() { CSerialEngine::Notify(MSG_LINK_SPARE2, 0, true); }
void CSerialEngine::NotifySpare3() { CSerialEngine::Notify(MSG_LINK_SPARE3, 0, true); }
void CSerialEngine::NotifySpare4() { CSerialEngine::Notify(MSG_LINK_SPARE4, 0, true); }
void CSerialEngine::NotifySpare5() { CSerialEngine::Notify(MSG_LINK_SPARE5, 0, true); }
void CSerialEngine::OnRemoved() { CSerialEngine::Notify(MSG_LINK_REMOVED, 0, true); }

void CSerialEngine::DeviceGone() {
    // The workers leave at their next look at the run flag (threads restarted on the dead
    // device leave again at once); the owner's Close joins them.
    run_ = false;
    for (auto& e : wake_) e.set();
    if (removed_.load()) return;
    removalError_ = device_.lossError();
    if (!removed_.exchange(true)) CSerialEngine::OnRemoved();
}

bool CSerialEngine::Gone(SerialResult r) {
    if (r != SerialResult::Removed) return false;
    DeviceGone();
    return true;
}

uint32_t CSerialEngine::ModemState(uint32_t bit) {
    uint32_t status = 0;
    if (!IsOpen() || device_.modemStatus(status) != SerialResult::Ok) return 0;
    return (status & bit) ? 1 : 0;
}

void CSerialEngine::HandleEvent(uint32_t events) {
    const uint32_t flags = Flags();
    if ((events & platform::kEvRxChar) && !(flags & LINK_READ_THREAD) && IsOpen()) {
        platform::CommStatus st;
        if (device_.clearError(&st) == SerialResult::Ok && ValidQueueCount(st.inQueue)) {
            if (flags & LINK_RX_BUFFER) {
                FillReceiveBuffer(2 * static_cast<size_t>(st.inQueue) + 64);
                if (receive_.Count() >= ReceiveThreshold()) CSerialEngine::OnReceive();
            } else if (st.inQueue >= ReceiveThreshold()) {
                CSerialEngine::OnReceive();
            }
        }
    }
    if (events & platform::kEvTxEmpty) {
        if ((flags & LINK_TX_BUFFER) && !(flags & LINK_WRITE_THREAD) && send_.Count() > 0) DrainSendBuffer(kChunk);
        CSerialEngine::OnTXEmpty();
    }
    if (events & platform::kEvRxFlag) CSerialEngine::OnRXFlag();
    if (events & platform::kEvCts) CSerialEngine::OnCTS();
    if (events & platform::kEvDsr) CSerialEngine::OnDSR();
    if (events & platform::kEvRing) CSerialEngine::OnRing();
    if (events & platform::kEvRlsd) CSerialEngine::OnRLSD();
    if (events & platform::kEvBreak) CSerialEngine::OnBreak();
    if (events & platform::kEvErr) CSerialEngine::OnError();
}

uint32_t CSerialEngine::MonitorOverlapped() {
    if (!IsOpen() || device_.setEventMask(EventMask()) != SerialResult::Ok) return 1;
    while (run_ && IsOpen()) {
        uint32_t events = 0;
        platform::CommStatus st;
        bool take = false;
        const SerialResult polled = device_.clearError(&st);
        if (Gone(polled)) break;
        if (polled == SerialResult::Ok && st.inQueue != kAllOnes) {
            platform::CommStatus again;
            if (device_.clearError(&again) != SerialResult::Ok || ValidQueueCount(again.inQueue)) take = true;
        }
        if (take) {
            platform::SleepMs(10);
            events = platform::kEvRxChar;
        } else {
            const SerialResult r = device_.waitEvent(events, kPollMs);
            if (Gone(r)) break;
            if (r == SerialResult::Interrupted) continue;
            if (r == SerialResult::Timeout) {
                // A send that re-armed the mask between two waits did not end a wait: treat a
                // quiet period like the empty event set, so queued bytes never wait for ever.
                events = 0;
            } else if (r != SerialResult::Ok) {
                // A failing device: wait a poll period rather than spin on it.
                platform::SleepMs(kPollMs);
                continue;
            }
        }
        if (!run_) break;
        if (events) {
            CSerialEngine::HandleEvent(events);
        } else {
            const uint32_t flags = Flags();
            if ((flags & LINK_TX_BUFFER) && !(flags & LINK_WRITE_THREAD) && send_.Count() > 0) DrainSendBuffer(kChunk);
        }
    }
    return 0;
}

uint32_t CSerialEngine::MonitorPolling() {
    if (!IsOpen()) return 1;
    while (run_ && IsOpen()) {
        const bool signalled = wake_[0].wait(kPollMs);
        if (!run_) break;
        const uint32_t flags = Flags();
        if (signalled) {
            wake_[0].reset();
            if (flags & LINK_TX_BUFFER) DrainWithFlowControl();
            continue;
        }
        platform::CommStatus st;
        const SerialResult r = device_.clearError(&st);
        if (Gone(r)) break;
        if (r == SerialResult::Ok && ValidQueueCount(st.inQueue)) {
            size_t n = st.inQueue;
            if (flags & LINK_RX_BUFFER) {
                FillReceiveBuffer(st.inQueue);
                n = receive_.Count();
            }
            if (n >= ReceiveThreshold()) CSerialEngine::OnReceive();
        }
        if ((flags & LINK_TX_BUFFER) && send_.Count() > 0) DrainSendBuffer(kChunk);
    }
    return 0;
}

uint32_t CSerialEngine::ReaderLoop() {
    while (run_) {
        // Woken early by WaitForReceived when the port has input for a waiting reply.
        if (wake_[1].wait(kPollMs)) wake_[1].reset();
        if (!run_) break;
        if (!IsOpen()) continue;
        platform::CommStatus st;
        const SerialResult r = device_.clearError(&st);
        if (Gone(r)) break;
        if (r != SerialResult::Ok || !ValidQueueCount(st.inQueue)) continue;
        size_t n = st.inQueue;
        if (Flags() & LINK_RX_BUFFER) {
            FillReceiveBuffer(st.inQueue);
            n = receive_.Count();
        }
        if (n >= ReceiveThreshold()) CSerialEngine::OnReceive();
    }
    return 0;
}

uint32_t CSerialEngine::WriterLoop() {
    while (run_) {
        const bool signalled = wake_[2].wait(kPollMs);
        // Reset before draining, so that a send arriving during the drain wakes the next pass.
        if (signalled) wake_[2].reset();
        if (!run_) break;
        if (Flags() & LINK_TX_BUFFER) DrainWithFlowControl();
    }
    return 0;
}

// Writes the send buffer out chunk by chunk, waiting while CTS is off when the stored line
// settings ask for CTS output flow control. Leaves when the run flag is cleared or a write
// moves nothing (a failing device), so a dead port costs one attempt per poll period.
void CSerialEngine::DrainWithFlowControl() {
    while (run_ && send_.Count() > 0) {
        if (StoredLineSettings().flags & platform::kFlagOutxCtsFlow) {
            bool leave = false;
            while (true) {
                uint32_t status = 0;
                const SerialResult r = device_.modemStatus(status);
                if (Gone(r)) return;
                if (r == SerialResult::Ok && (status & platform::kModemCts)) break;
                platform::SleepMs(kPollMs);
                if (!run_) {
                    leave = true;
                    break;
                }
            }
            if (leave) return;
        }
        if (DrainSendBuffer(1) == 0) return;
    }
}

// --- opening and closing ---

bool CSerialEngine::Open(int32_t portNumber, int32_t dataBits, int32_t stopBits, int32_t parity) {
    lastOpenPort_ = portNumber;
    if (portNumber < platform::kMinPortNumber || portNumber > platform::kMaxPortNumber) {
        lastOpenError_ = SerialResult::NotFound;
        lastDevicePath_.clear();
        return false;
    }
    portNumber_ = portNumber;
    std::snprintf(portDeviceName_, sizeof portDeviceName_, "COM%d", static_cast<int>(portNumber));
    if (!OpenPort()) return false;

    platform::LineSettings s;
    if (device_.getLineSettings(s) != SerialResult::Ok) {
        lastOpenError_ = SerialResult::IoError;
        Close(kLinkStopTimeoutMs);
        return false;
    }
    s.baudRate = static_cast<uint32_t>(PortSettings.baudRate);
    s.byteSize = static_cast<uint8_t>(dataBits);
    s.parity = static_cast<uint8_t>(parity);
    s.stopBits = static_cast<uint8_t>(stopBits);
    if (parity != 0) {
        s.flags |= platform::kFlagParity;
    } else {
        s.flags &= ~platform::kFlagParity;
    }
    SetStoredLineSettings(s);
    if (const SerialResult r = device_.setLineSettings(s); r != SerialResult::Ok) {
        lastOpenError_ = r;
        Close(kLinkStopTimeoutMs);
        return false;
    }
    if (!SetupPort()) {
        lastOpenError_ = SerialResult::IoError;
        Close(kLinkStopTimeoutMs);
        return false;
    }
    if (Flags() & (LINK_MONITOR_THREAD | LINK_READ_THREAD | LINK_WRITE_THREAD)) {
        if (!StartThreads()) {
            lastOpenError_ = SerialResult::IoError;
            Close(kLinkStopTimeoutMs);
            return false;
        }
    }
    lastOpenError_ = SerialResult::Ok;
    return true;
}

bool CSerialEngine::AnyThread() const {
    return std::any_of(std::begin(threads_), std::end(threads_), [](const platform::Thread& t) { return t.running(); });
}

int CSerialEngine::RunningThreadCount() const {
    return static_cast<int>(
        std::count_if(std::begin(threads_), std::end(threads_), [](const platform::Thread& t) { return t.running(); }));
}

bool CSerialEngine::StartThreads() {
    // Workers on a device that went away would have nothing to do: only a new Open helps.
    if (AnyThread() || removed_) return false;
    const uint32_t flags = Flags();
    const bool held = flags & LINK_THREADS_SUSPENDED;
    for (auto& e : wake_) e.reset();
    device_.clearInterrupt();
    run_ = true;

    const bool want[3] = {(flags & LINK_MONITOR_THREAD) != 0, (flags & LINK_READ_THREAD) != 0,
                          (flags & LINK_WRITE_THREAD) != 0};
    bool created[3] = {false, false, false};
    if (want[0]) {
        created[0] = threads_[0].start(
            [this] { return (Flags() & LINK_OVERLAPPED) ? CSerialEngine::MonitorOverlapped() : CSerialEngine::MonitorPolling(); }, held);
    }
    if (want[1]) created[1] = threads_[1].start([this] { return CSerialEngine::ReaderLoop(); }, held);
    if (want[2]) created[2] = threads_[2].start([this] { return CSerialEngine::WriterLoop(); }, held);
    for (int i = 0; i < 3; ++i) {
        if (!want[i]) continue;
        if (!created[i]) {
            StopThreads(kLinkStopTimeoutMs);
            return false;
        }
        if (flags & LINK_THREAD_PRIORITY_HIGH) threads_[i].setPriority(platform::ThreadPriority::AboveNormal);
    }
    return true;
}

void CSerialEngine::ResumeThreads() {
    for (auto& t : threads_) t.resume();
}

bool CSerialEngine::StopThreads(uint32_t timeoutMs) {
    if (!AnyThread()) return false;
    const uint32_t flags = Flags();
    if ((flags & LINK_DRAIN_ON_STOP) && (flags & LINK_TX_BUFFER)) {
        // Let the writer empty the send buffer, but not for ever on a port that takes nothing.
        size_t last = send_.Count();
        uint32_t since = platform::TickCount();
        while (last > 0 && !removed_) {
            platform::SleepMs(kPollMs);
            const size_t now = send_.Count();
            if (now < last) {
                last = now;
                since = platform::TickCount();
            } else if (platform::TickCount() - since >= kDrainStallMs) {
                break;
            }
        }
    }
    run_ = false;
    if (flags & LINK_OVERLAPPED) device_.setEventMask(0);
    // Ends any read, write or event wait in progress at once.
    device_.interrupt();
    bool ok = true;
    for (int i = 0; i < 3 && ok; ++i) {
        if (!threads_[i].running()) continue;
        wake_[i].set();
        if (!threads_[i].join(timeoutMs) && !threads_[i].join(kStopGraceMs)) ok = false;
    }
    device_.clearInterrupt();
    return ok;
}

// --- sending and reading ---

size_t CSerialEngine::Send(const uint8_t* data, size_t n) {
    if (echoSwitch && n > 0) echo_.insert(echo_.end(), data, data + n);
    const uint32_t flags = Flags();
    if (n == 0 || !(flags & LINK_TX_BUFFER)) return WriteToPort(data, n);
    SerialResult direct = SerialResult::Ok;
    {
        std::lock_guard<std::mutex> lock(send_.Mutex());
        // A port without a line (a network printer, a printer device file) takes what it can
        // at once straight from the caller while nothing is queued before these bytes and the
        // writer runs: no copy, no hand-over. An empty buffer under its lock also means the
        // writer has no bytes of its own on the way (it takes them out only once written).
        // The attempt never waits; the rest is queued for the writer as always. Small sends
        // are left to the writer, which joins them into larger writes.
        if (n >= kDirectSendMinimum && (flags & LINK_WRITE_THREAD) && !(flags & LINK_OVERLAPPED) && run_ && IsOpen() &&
            device_.kind() != platform::DeviceKind::Terminal && send_.UnlockedCount() == 0) {
            size_t written = 0;
            direct = device_.writeNow(data, n, written);
            if (direct == SerialResult::Ok) {
                data += written;
                n -= written;
            }
        }
        if (n > 0 && direct != SerialResult::Removed) {
            send_.Append(data, n);
            if (flags & LINK_WRITE_THREAD) {
                wake_[2].set();
            } else if (flags & LINK_OVERLAPPED) {
                if (IsOpen()) device_.setEventMask(EventMask());
            } else {
                wake_[0].set();
            }
        }
    }
    Gone(direct);
    return 0;
}

size_t CSerialEngine::WriteToPort(const uint8_t* data, size_t n) {
    if (!IsOpen() || n == 0) return 0;
    uint32_t errors = 0;
    if (device_.takeLineErrors(errors) == SerialResult::Ok && errors) device_.purge(platform::kPurgeTxAbort);
    size_t written = 0;
    if (!(Flags() & LINK_OVERLAPPED)) {
        Gone(device_.write(data, n, written));
        return written;
    }
    const SerialResult r = device_.writeAsync(data, n, written);
    if (Gone(r)) return 0;
    if (r != SerialResult::Ok && r != SerialResult::Pending) return 0;
    return written;
}

size_t CSerialEngine::DrainSendBuffer(size_t count) {
    if (!(Flags() & LINK_OVERLAPPED)) {
        // Copy a chunk under the lock, write it without the lock (a slow port never blocks a
        // send), then discard what was written. Bytes a write could not take stay at the head
        // of the buffer, in order, for the next pass. A serial line gets up to 1024 bytes at a
        // time; other kinds larger chunks, from an area each writing thread keeps.
        uint8_t small[kChunk];
        uint8_t* chunk = small;
        size_t most = kChunk;
        if (device_.kind() != platform::DeviceKind::Terminal) {
            thread_local std::vector<uint8_t> bulk;
            bulk.resize(kBulkChunk);
            chunk = bulk.data();
            most = kBulkChunk;
        }
        size_t k;
        uint64_t generation;
        {
            std::lock_guard<std::mutex> lock(send_.Mutex());
            k = send_.Peek(chunk, most);
            generation = send_.Generation();
        }
        size_t done = 0;
        while (done < k) {
            const size_t w = WriteToPort(chunk + done, k - done);
            if (w == 0) break;  // closed, failing or interrupted: keep the rest queued
            done += w;
        }
        if (done) {
            std::lock_guard<std::mutex> lock(send_.Mutex());
            if (send_.Generation() == generation) send_.Take(nullptr, done);
        }
        return done;
    }
    std::lock_guard<std::mutex> lock(send_.Mutex());
    if (send_.UnlockedCount() == 0) return 0;
    const size_t k = std::min(count, send_.HeadUnread());
    WriteToPort(send_.HeadData(), k);
    return send_.Take(nullptr, k);
}

size_t CSerialEngine::Read(uint8_t* buffer, size_t n, uint32_t timeoutMs) {
    if (!IsOpen() || n == 0) return 0;
    platform::CommStatus st;
    if (device_.clearError(&st) == SerialResult::Ok && st.errors) device_.purge(platform::kPurgeRxAbort);
    size_t got = 0;
    if (!(Flags() & LINK_OVERLAPPED) || timeoutMs == kNoTimeLimit) {
        // Plain reads, and overlapped reads without a limit, end by the port's time-outs.
        Gone(device_.read(buffer, n, got));
        return got;
    }
    const uint32_t start = platform::TickCount();
    const size_t first = std::min<size_t>(n, st.inQueue == kAllOnes ? 0 : st.inQueue);
    if (first) device_.readAsync(buffer, first, got);
    uint32_t remaining = timeoutMs;
    while (got < n) {
        size_t one = 0;
        SerialResult r = device_.readAsync(buffer + got, 1, one);
        if (Gone(r)) break;
        if (r == SerialResult::Ok) {
            if (one == 0) break;
            got += one;
            continue;
        }
        if (r != SerialResult::Pending || remaining <= 5) break;
        r = device_.waitReadable(remaining);
        if (Gone(r) || r != SerialResult::Ok) break;
        if (device_.readAsync(buffer + got, 1, one) != SerialResult::Ok || one == 0) break;
        got += one;
        const uint32_t elapsed = platform::TickCount() - start;
        remaining = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
    }
    return got;
}

size_t CSerialEngine::ReadByte(uint8_t* destination) {
    if (Flags() & LINK_RX_BUFFER) {
        std::lock_guard<std::mutex> lock(receive_.Mutex());
        return receive_.Take(destination, 1);
    }
    return Read(destination, 1, 100);
}

size_t CSerialEngine::FillReceiveBuffer(size_t n) {
    std::lock_guard<std::mutex> lock(receive_.Mutex());
    if (n == 0) return 0;
    size_t capacity = 0;
    uint8_t* dest = receive_.TailSpace(n, capacity);
    const size_t got = Read(dest, n, kNoTimeLimit);
    if (got > capacity) return 0;
    receive_.Commit(got);
    return got;
}

EchoRecord CSerialEngine::TakeEcho() {
    lastEcho_ = EchoRecord(std::move(echo_));
    echo_ = {};
    return lastEcho_;
}

// --- settings ---

void CSerialEngine::SetEventMask(uint32_t mask) {
    eventMask_ = mask;
    if (IsOpen()) device_.setEventMask(mask);
}

platform::LineSettings CSerialEngine::StoredLineSettings() const {
    std::lock_guard<std::mutex> lock(lineMutex_);
    return line_;
}

void CSerialEngine::SetStoredLineSettings(const platform::LineSettings& s) {
    std::lock_guard<std::mutex> lock(lineMutex_);
    line_ = s;
}

bool CSerialEngine::ApplyLineSettings() {
    return IsOpen() && device_.setLineSettings(StoredLineSettings()) == SerialResult::Ok;
}

bool CSerialEngine::ApplyTimeouts(const platform::Timeouts& t) {
    timeouts_ = t;
    return IsOpen() && device_.setTimeouts(t) == SerialResult::Ok;
}

bool CSerialEngine::Purge(uint32_t flags) { return IsOpen() && device_.purge(flags) == SerialResult::Ok; }

void CSerialEngine::SetNotifyTarget(NotifyTargetPtr target) {
    std::lock_guard<std::mutex> lock(targetMutex_);
    notifyTarget_ = std::move(target);
}

NotifyTargetPtr CSerialEngine::GetNotifyTarget() const {
    std::lock_guard<std::mutex> lock(targetMutex_);
    return notifyTarget_;
}

void CSerialEngine::SetThreadTarget(ThreadTargetPtr target) {
    std::lock_guard<std::mutex> lock(targetMutex_);
    threadTarget_ = std::move(target);
}

}  // namespace pellory::link
