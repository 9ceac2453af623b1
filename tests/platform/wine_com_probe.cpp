// A Windows program for the Wine COM port test (test_wine_com.cpp): it opens the COM port named
// on its command line through the platform layer, at 9600 8N1, and goes through the exchange
// that the Linux side of the test answers at the other end of the port's pseudo-terminal:
//
//   1. it writes kProbeBytes;
//   2. it waits for the line event of arriving input, waits until the queue count says the whole
//      of kAnswerBytes and kPurgedBytes is there, reads the answer and purges the rest;
//   3. it looks at the overlapped-style reads with nothing queued, and interrupts a read that
//      waits without a limit from another thread;
//   4. it writes kTailBytes through the overlapped-style queue, flushes it and waits for the
//      line event of the output gone.
//
// Every step prints one line: "ok NAME", "FAIL NAME: what was seen" or "skip NAME: why" (where
// Wine does not behave as Windows does); the exit code is the number of failed steps. The bytes
// of both sides are in wine_com_exchange.h, which the Linux side includes too.
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

#include "platform/serial_device.h"
#include "wine_com_exchange.h"

namespace {

using namespace pellory::platform;
using pellory::test::kAnswerBytes;
using pellory::test::kProbeBytes;
using pellory::test::kPurgedBytes;
using pellory::test::kTailBytes;

int gFailures = 0;

void Report(const char* step, bool ok, const std::string& seen = {}) {
    if (ok) {
        std::printf("ok %s\n", step);
    } else {
        std::printf("FAIL %s: %s\n", step, seen.c_str());
        ++gFailures;
    }
    std::fflush(stdout);
}

void Skip(const char* step, const char* why) {
    std::printf("skip %s: %s\n", step, why);
    std::fflush(stdout);
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02x ", c);
        out += b;
    }
    return out;
}

std::string Result(SerialResult r) { return DescribeResult(r); }

// Wine answers wine_get_version from its ntdll; Windows has no such export.
bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: wine_com_probe COMn\n");
        return 100;
    }
    const std::string port = argv[1];
    const bool wine = UnderWine();
    SerialDevice dev;
    const SerialResult opened = dev.open(port, true);
    Report("open", opened == SerialResult::Ok, Result(opened) + " " + dev.openFailureReason());
    if (opened != SerialResult::Ok) return 100;

    LineSettings line;
    line.baudRate = 9600;
    line.byteSize = 8;
    line.parity = kParityNone;
    line.stopBits = kOneStopBit;
    line.flags = kFlagBinary | (1u << kDtrControlShift) | (1u << kRtsControlShift);
    line.xonChar = 0x11;
    line.xoffChar = 0x13;
    const SerialResult set = dev.setLineSettings(line);
    LineSettings back;
    const SerialResult got = dev.getLineSettings(back);
    Report("line-9600-8N1",
           set == SerialResult::Ok && got == SerialResult::Ok && back.baudRate == 9600 && back.byteSize == 8 &&
               back.parity == kParityNone && back.stopBits == kOneStopBit,
           Result(set) + ", read back " + std::to_string(back.baudRate) + " " + std::to_string(back.byteSize) + " " +
               std::to_string(back.parity) + " " + std::to_string(back.stopBits));

    Timeouts limits;
    limits.readConstant = 20000;  // only catches a hang: every read ends on its bytes first
    limits.writeConstant = 20000;
    Report("timeouts", dev.setTimeouts(limits) == SerialResult::Ok);

    // 1. The probe's bytes go out unchanged (the Linux side checks what arrives).
    size_t moved = 0;
    const SerialResult wrote = dev.write(kProbeBytes.data(), kProbeBytes.size(), moved);
    Report("write", wrote == SerialResult::Ok && moved == kProbeBytes.size(),
           Result(wrote) + ", " + std::to_string(moved) + " bytes");

    // 2. The answer: its line event, its queue count, its bytes.
    Report("event-mask", dev.setEventMask(kEvRxChar) == SerialResult::Ok);
    uint32_t events = 0;
    const SerialResult waited = dev.waitEvent(events, 20000);
    Report("event-rxchar", waited == SerialResult::Ok && (events & kEvRxChar) != 0,
           Result(waited) + ", events " + std::to_string(events));
    CommStatus status;
    const DWORD until = ::GetTickCount() + 20000;
    const size_t arriving = kAnswerBytes.size() + kPurgedBytes.size();
    while (dev.clearError(&status) == SerialResult::Ok &&
           status.inQueue<arriving&& static_cast<int32_t>(until - ::GetTickCount())> 0) {
        ::Sleep(10);
    }
    Report("queue-count", status.inQueue == arriving && status.errors == 0,
           std::to_string(status.inQueue) + " queued, errors " + std::to_string(status.errors));
    std::string answer(kAnswerBytes.size(), '\0');
    const SerialResult read = dev.read(answer.data(), answer.size(), moved);
    answer.resize(moved);
    Report("read-answer", read == SerialResult::Ok && answer == kAnswerBytes, Result(read) + ", read " + Hex(answer));
    CommStatus left;
    dev.clearError(&left);
    const SerialResult purged = dev.purge(kPurgeRxClear);
    CommStatus cleared;
    dev.clearError(&cleared);
    Report(
        "purge-rx", left.inQueue == kPurgedBytes.size() && purged == SerialResult::Ok && cleared.inQueue == 0,
        std::to_string(left.inQueue) + " left, " + Result(purged) + ", " + std::to_string(cleared.inQueue) + " after");

    // 3. Nothing queued: the overlapped-style read is pending, a bounded wait times out, and a
    // read without a limit ends when another thread interrupts it.
    char one = 0;
    const SerialResult async = dev.readAsync(&one, 1, moved);
    Report("read-async-pending", async == SerialResult::Pending && moved == 0, Result(async));
    const SerialResult readable = dev.waitReadable(200);
    Report("wait-readable-timeout", readable == SerialResult::Timeout, Result(readable));
    Timeouts shortWait;
    shortWait.readConstant = 200;
    Report("short-limit", dev.setTimeouts(shortWait) == SerialResult::Ok);
    const SerialResult timedOut = dev.read(&one, 1, moved);
    Report("read-times-out-empty", timedOut == SerialResult::Ok && moved == 0,
           Result(timedOut) + ", " + std::to_string(moved) + " bytes");
    Report("no-limit", dev.setTimeouts(Timeouts{}) == SerialResult::Ok);
    std::thread stopper([&dev] {
        ::Sleep(300);
        dev.interrupt();
    });
    const DWORD before = ::GetTickCount();
    const SerialResult interrupted = dev.read(&one, 1, moved);
    const DWORD took = ::GetTickCount() - before;
    stopper.join();
    dev.clearInterrupt();
    Report("interrupt-read", interrupted == SerialResult::Interrupted && moved == 0,
           Result(interrupted) + " after " + std::to_string(took) + " ms");

    // 4. The overlapped-style queue delivers its bytes, in order, by the pump or the flush.
    Report("event-mask-txempty", dev.setEventMask(kEvTxEmpty) == SerialResult::Ok);
    const SerialResult queued = dev.writeAsync(kTailBytes.data(), kTailBytes.size(), moved);
    const SerialResult pumped = dev.pumpPendingWrites(20000);
    const SerialResult flushed = dev.flush(20000);
    Report("write-async-flush",
           (queued == SerialResult::Ok || queued == SerialResult::Pending) && pumped == SerialResult::Ok &&
               flushed == SerialResult::Ok && dev.pendingWriteBytes() == 0,
           Result(queued) + ", " + Result(pumped) + ", " + Result(flushed));
    const SerialResult gone = dev.waitEvent(events, 20000);
    Report("event-txempty", gone == SerialResult::Ok && events == kEvTxEmpty,
           Result(gone) + ", events " + std::to_string(events));

    // What Wine does differently on a pseudo-terminal's port.
    uint32_t modem = 0;
    const SerialResult lines = dev.modemStatus(modem);
    if (wine) {
        Skip("modem-lines", "Wine's GetCommModemStatus fails with error 50 on a pseudo-terminal");
    } else {
        Report("modem-lines", lines == SerialResult::Ok, Result(lines));
    }
    SerialDevice second;
    const SerialResult again = second.open(port, true);
    if (wine) {
        Skip("second-open-busy", "Wine allows a second exclusive open of a COM port");
    } else {
        Report("second-open-busy", again == SerialResult::Busy, Result(again));
    }
    second.close();
    // Seven data bits with even parity are the port's own, read back as set.
    LineSettings sevenEven = line;
    sevenEven.byteSize = 7;
    sevenEven.parity = kParityEven;
    const SerialResult setSeven = dev.setLineSettings(sevenEven);
    LineSettings sevenBack;
    dev.getLineSettings(sevenBack);
    if (wine) {
        Skip("line-7E1", "Wine reads 7E1 back as 8N1 on a pseudo-terminal");
    } else {
        Report("line-7E1", setSeven == SerialResult::Ok && sevenBack.byteSize == 7 && sevenBack.parity == kParityEven,
               Result(setSeven) + ", read back " + std::to_string(sevenBack.byteSize) + " bits, parity " +
                   std::to_string(sevenBack.parity));
    }
    dev.close();
    std::printf("done %d\n", gFailures);
    return gFailures;
}
