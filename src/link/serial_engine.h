// CSerialEngine: one serial link. It opens a numbered COM port (through the port map), applies
// the line settings and time-outs, runs up to three worker threads that move bytes between the
// port and two byte buffers, records every byte sent for the echo (the command history), and notifies a
// window (or a thread) of line events and received bytes.
//
// Threads: the monitor (thread 1, polling or overlapped-style), the reader (thread 2) and the
// writer (thread 3). Every blocking step of a worker is bounded (at most 50 ms at a time) and
// watches the run flag, and stopping also interrupts the device's pending I/O, so StopThreads
// always ends them; no thread is ever killed.
//
// The slots are virtual for callers, but the worker threads dispatch to this class's own slots
// directly: a link is destroyed while its workers still run (the destructor stops them), and a
// worker must not look up the object's dynamic type while a derived part is being torn down.
// Classes built on the engine override only the destructor.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "link/hex_echo.h"
#include "link/notify.h"
#include "platform/serial_device.h"
#include "platform/threads.h"

namespace pellory::link {

// Option flags.
enum : uint32_t {
    LINK_MONITOR_THREAD = 0x01,
    LINK_OVERLAPPED = 0x02,
    LINK_RX_BUFFER = 0x04,
    LINK_TX_BUFFER = 0x08,
    LINK_READ_THREAD = 0x10,
    LINK_WRITE_THREAD = 0x20,
    LINK_THREADS_SUSPENDED = 0x40,
    LINK_THREAD_PRIORITY_HIGH = 0x80,
    LINK_FLUSH_ON_CLOSE = 0x100,
    LINK_DRAIN_ON_STOP = 0x200,
};
// The mode every page runs its link in: both buffers, reader and writer, non-overlapped.
constexpr uint32_t kPageLinkFlags = LINK_RX_BUFFER | LINK_TX_BUFFER | LINK_READ_THREAD | LINK_WRITE_THREAD;

// Notification messages; wParam is always the link's port number.
enum : uint32_t {
    MSG_LINK_RECEIVE = 1642,
    MSG_LINK_CTS = 1643,
    MSG_LINK_DSR = 1644,
    MSG_LINK_RING = 1645,
    MSG_LINK_RLSD = 1646,
    MSG_LINK_BREAK = 1647,
    MSG_LINK_TXEMPTY = 1648,
    MSG_LINK_ERROR = 1649,
    MSG_LINK_RXFLAG = 1650,
    MSG_LINK_SPARE1 = 1651,
    MSG_LINK_SPARE3 = 1652,
    MSG_LINK_SPARE4 = 1653,
    MSG_LINK_SPARE2 = 1654,
    MSG_LINK_SPARE5 = 1655,
    // The device went away (unplugged, hung up, the far end closed): the workers have stopped.
    // Posted once per opening; lParam is 0.
    MSG_LINK_REMOVED = 1656,
};

constexpr uint32_t kNoTimeLimit = 0xFFFFFFFFu;
constexpr uint32_t kDefaultEventMask = 0x1FD;
constexpr uint32_t kLinkStopTimeoutMs = 500;

class CSerialEngine {
public:
    // A chained byte buffer with its own lock. Append, Take and Clear expect the caller to hold
    // the lock (Mutex()); ClearLocked and Count take it themselves.
    class BlockBuffer {
    public:
        explicit BlockBuffer(uint32_t blockSize = 1024);
        ~BlockBuffer();
        BlockBuffer(const BlockBuffer&) = delete;
        BlockBuffer& operator=(const BlockBuffer&) = delete;

        size_t Append(const uint8_t* source, size_t n);
        // Takes up to n bytes into destination (or discards them when destination is null).
        size_t Take(uint8_t* destination, size_t n);
        // Copies up to n unread bytes without taking them.
        size_t Peek(uint8_t* destination, size_t n) const;
        void Clear();
        void ClearLocked();
        size_t Count();
        std::mutex& Mutex() { return mutex_; }

        // Changes with every Clear; lets a reader that copied bytes without the lock see
        // whether they are still the ones in the buffer.
        uint64_t Generation() const { return generation_; }

        // The tail block's free space of more than n bytes, or a new block of max(n, block size)
        // linked at the tail; Commit(k) then counts k bytes written there.
        uint8_t* TailSpace(size_t n, size_t& capacity);
        void Commit(size_t k);
        // Unread bytes of the head block (for the overlapped drain).
        size_t HeadUnread() const;
        const uint8_t* HeadData() const;

        struct BlockInfo {
            size_t readPos, writePos, capacity;
        };
        std::vector<BlockInfo> Blocks() const;  // for tests; caller holds the lock
        size_t UnlockedCount() const { return count_; }
        uint32_t BlockSize() const { return blockSize_; }

    private:
        struct Block;
        Block* NewBlock(size_t capacity);
        void FreeAll();

        uint32_t blockSize_;
        Block* head_ = nullptr;
        Block* tail_ = nullptr;
        size_t count_ = 0;
        uint64_t generation_ = 0;
        mutable std::mutex mutex_;
    };

    CSerialEngine();
    virtual ~CSerialEngine();
    CSerialEngine(const CSerialEngine&) = delete;
    CSerialEngine& operator=(const CSerialEngine&) = delete;

    // --- virtual operations, in slot order ---
    virtual void Close(uint32_t timeoutMs);
    virtual void Init();
    virtual void Destroy();
    virtual bool OpenPort();
    virtual bool SetupPort();
    virtual void Notify(uint32_t message, intptr_t lParam, bool post);
    virtual void OnReceive();
    virtual void OnDSR();
    virtual void OnCTS();
    virtual void OnBreak();
    virtual void OnTXEmpty();
    virtual void OnError();
    virtual void OnRing();
    virtual void OnRLSD();
    virtual void OnRXFlag();
    virtual void NotifySpare1();
    virtual void NotifySpare2();
    virtual void NotifySpare3();
    virtual void NotifySpare4();
    virtual void NotifySpare5();
    virtual void HandleEvent(uint32_t events);
    virtual uint32_t MonitorOverlapped();
    virtual uint32_t MonitorPolling();
    virtual uint32_t ReaderLoop();
    virtual uint32_t WriterLoop();
    // The device went away: posts MSG_LINK_REMOVED.
    virtual void OnRemoved();

    // --- opening and closing ---
    // Opens COM<portNumber> with the baud rate of PortSettings and the given codes.
    bool Open(int32_t portNumber, int32_t dataBits, int32_t stopBits, int32_t parity);
    bool StartThreads();
    bool StopThreads(uint32_t timeoutMs);
    void ResumeThreads();  // for threads started held (LINK_THREADS_SUSPENDED)
    // A link whose device went away counts as closed at once (its workers have stopped; Close
    // or the next Open releases the device).
    bool IsOpen() const { return device_.isOpen() && !removed_.load(); }
    // Whether the device went away while this link had it open. Stays set until the next Open.
    bool DeviceRemoved() const { return removed_.load(); }
    // True once per removal: for whoever tells the user, so that it is told once.
    bool TakeRemovalReport() { return removed_.load() && !removalReported_.exchange(true); }
    // Why the device counts as gone when a read or write failed with an error (ENOSPC: it is
    // full); 0 when it went away (hung up, unplugged, the peer closed). Kept until the next Open.
    int RemovalError() const { return removalError_.load(); }
    // Waits until the send buffer and the driver's output queue are empty, as long as bytes keep
    // leaving: gives up (false) after stallMs without progress, or at once when the link is
    // closed or has no writer, or when a stop of the program is requested (platform/stop_request.h).
    // Closing after it loses nothing that the port could still take.
    bool WaitUntilSent(uint32_t stallMs);

    // Waits at most timeoutMs until the receive buffer holds at least count bytes, and returns
    // what it holds then. Input the port has is handed to the reader at once rather than at its
    // next poll, so a reply counts the moment it arrives. Without a reader thread it returns when
    // the port itself holds input (what it holds is then not counted: 0).
    size_t WaitForReceived(size_t count, uint32_t timeoutMs);

    // --- sending and reading ---
    size_t Send(const uint8_t* data, size_t n);
    size_t Send(const std::vector<uint8_t>& bytes) { return Send(bytes.data(), bytes.size()); }
    size_t WriteToPort(const uint8_t* data, size_t n);
    size_t DrainSendBuffer(size_t count);
    size_t Read(uint8_t* buffer, size_t n, uint32_t timeoutMs);
    size_t ReadByte(uint8_t* destination);
    size_t FillReceiveBuffer(size_t n);
    // Hands over the bytes recorded since the last call (an empty record when none were).
    EchoRecord TakeEcho();

    // Every byte sent is recorded while this is on.
    bool echoSwitch = false;

    // --- accessors ---
    uint32_t Flags() const { return flags_.load(std::memory_order_relaxed); }
    // Changes the option flags; only while the threads are stopped.
    void SetFlags(uint32_t flags) { flags_.store(flags, std::memory_order_relaxed); }
    uint32_t ReceiveThreshold() const { return threshold_.load(std::memory_order_relaxed); }
    void SetReceiveThreshold(uint32_t n) { threshold_.store(n, std::memory_order_relaxed); }
    uint32_t EventMask() const { return eventMask_.load(std::memory_order_relaxed); }
    void SetEventMask(uint32_t mask);
    int32_t PortNumber() const { return portNumber_; }
    const char* PortDeviceName() const { return portDeviceName_; }
    // The echo form of the bytes recorded and not yet taken.
    std::string EchoText() const { return HexEcho(echo_.data(), echo_.size()); }
    const EchoRecord& LastTakenEcho() const { return lastEcho_; }

    // The stored line settings (guarded: the writer thread reads the CTS flag while the window
    // thread may change them).
    platform::LineSettings StoredLineSettings() const;
    void SetStoredLineSettings(const platform::LineSettings& s);
    // Writes the stored line settings to the port.
    bool ApplyLineSettings();
    platform::Timeouts StoredTimeouts() const { return timeouts_; }
    bool ApplyTimeouts(const platform::Timeouts& t);
    bool Purge(uint32_t flags);

    // Why the last Open failed (Ok after a successful one) and the device it tried.
    platform::SerialResult LastOpenError() const { return lastOpenError_; }
    // The port number the last Open was asked for (also when it was out of range).
    int32_t LastOpenPort() const { return lastOpenPort_; }
    const std::string& LastDevicePath() const { return lastDevicePath_; }
    // What the device said about the last failed Open beyond its result (a network printer's
    // "connection refused by ADDRESS"); empty when the result says it all.
    const std::string& LastOpenReason() const { return device_.openFailureReason(); }

    void SetNotifyTarget(NotifyTargetPtr target);
    NotifyTargetPtr GetNotifyTarget() const;
    void SetThreadTarget(ThreadTargetPtr target);

    BlockBuffer& ReceiveBuffer() { return receive_; }
    BlockBuffer& SendBuffer() { return send_; }
    platform::SerialDevice& Device() { return device_; }

    // Threads running now (for tests and diagnostics).
    int RunningThreadCount() const;
    bool RunFlag() const { return run_.load(); }

private:
    bool AnyThread() const;
    void DrainWithFlowControl();
    uint32_t ModemState(uint32_t bit);
    void CloseDevice();
    // A device call reported Removed: stops the workers and notifies, once per opening.
    void DeviceGone();
    // Checks a device result; true (after DeviceGone) when it says the device went away.
    bool Gone(platform::SerialResult r);

    std::vector<uint8_t> echo_;
    EchoRecord lastEcho_;
    std::atomic<uint32_t> flags_{0};
    platform::SerialDevice device_;
    int32_t portNumber_ = -1;
    char portDeviceName_[64] = {};
    mutable std::mutex lineMutex_;
    platform::LineSettings line_{};
    platform::Timeouts timeouts_{};
    BlockBuffer receive_;
    BlockBuffer send_;
    std::atomic<bool> run_{false};
    std::atomic<bool> removed_{false};
    std::atomic<bool> removalReported_{false};
    std::atomic<int> removalError_{0};
    std::atomic<uint32_t> eventMask_{kDefaultEventMask};
    platform::Thread threads_[3];
    platform::ManualResetEvent wake_[3];
    platform::ManualResetEvent overlappedEvents_[3];  // read, write, event wait
    mutable std::mutex targetMutex_;
    NotifyTargetPtr notifyTarget_;
    ThreadTargetPtr threadTarget_;
    std::atomic<uint32_t> threshold_{0};
    platform::SerialResult lastOpenError_ = platform::SerialResult::Ok;
    int32_t lastOpenPort_ = -1;
    std::string lastDevicePath_;
};

}  // namespace pellory::link
