// The printer server's lines on Windows. A COM line cannot be waited on with the sockets, so each
// line has a thread of its own (its pump) that owns the device: it reads it in bounded steps and
// hands the bytes over a loopback socket pair to the loop, which waits on its end of the pair as
// on a connection, and writes to the device what the loop writes to the pair. Closing the loop's
// end ends the pump. Windows has no pseudo-terminal.
#include <algorithm>
#include <cstring>
#include <vector>

#include "vprinter/server_impl.h"

namespace pellory::vprinter {

namespace {

// The pump's read waits at most this long for a first byte before it looks at the loop's side
// again (the answers to send, a closed pair); a write at most kWriteWaitMs.
constexpr uint32_t kReadStepMs = 20;
constexpr uint32_t kWriteWaitMs = 200;
constexpr int kPairWaitMs = 100;
constexpr size_t kPumpChunk = 4096;

// Hands bytes to the loop's end of the pair; false when the loop closed it.
bool HandOver(platform::SocketHandle end, const uint8_t* bytes, size_t n) {
    while (n > 0) {
        const long long w = platform::SendSome(end, bytes, n);
        if (w == platform::kSocketFailed) return false;
        if (w == platform::kSocketWouldBlock) {
            // The loop reads this line no more for now (its intake is full): so waits the device.
            platform::WaitSocket(end, platform::kWaitWrite, kPairWaitMs);
            continue;
        }
        bytes += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

void Pump(platform::SerialDevice* device, platform::SocketHandle end) {
    std::vector<uint8_t> in(kPumpChunk);
    std::vector<uint8_t> out;
    for (;;) {
        if (out.empty()) {
            out.resize(kPumpChunk);
            const long long r = platform::ReceiveSome(end, out.data(), out.size());
            if (r == 0 || r == platform::kSocketFailed) break;  // the loop closed its end
            out.resize(r > 0 ? static_cast<size_t>(r) : 0);
        }
        if (!out.empty()) {
            size_t written = 0;
            const platform::SerialResult w = device->write(out.data(), out.size(), written);
            out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(std::min(written, out.size())));
            if (w == platform::SerialResult::Removed) break;
        }
        size_t got = 0;
        const platform::SerialResult r = device->read(in.data(), in.size(), got);
        if (got > 0 && !HandOver(end, in.data(), got)) break;
        if (r != platform::SerialResult::Ok && r != platform::SerialResult::Timeout &&
            r != platform::SerialResult::Interrupted) {
            break;  // the adapter went away: the loop reads the end of the line
        }
    }
    platform::CloseSocket(end);
}

}  // namespace

bool ServerCore::openLines(std::string* error) {
    for (const LineEndpoint& e : options.lines) {
        if (e.kind == LineEndpoint::Kind::Pty) {
            if (error) *error = "pseudo-terminals are not available on Windows: serve a COM line or a TCP address";
            return false;
        }
        lines.emplace_back();
        Line& line = lines.back();
        line.endpoint = e;
        if (!OpenSerialLine(e, line, error)) return false;
        // A read returns what is queued at once, or the first byte within kReadStepMs.
        platform::Timeouts t;
        t.readInterval = platform::kMaxDword;
        t.readMultiplier = platform::kMaxDword;
        t.readConstant = kReadStepMs;
        t.writeConstant = kWriteWaitMs;
        if (line.device->setTimeouts(t) != platform::SerialResult::Ok) {
            if (error) *error = e.path + ": time-outs refused";
            return false;
        }
        platform::SocketHandle ends[2];
        std::string why;
        if (!platform::SocketPair(ends, &why)) {
            if (error) *error = e.path + ": " + why;
            return false;
        }
        line.fd = ends[0];
        try {
            line.pump = std::thread(Pump, line.device.get(), ends[1]);
        } catch (const std::system_error& failure) {
            platform::CloseSocket(ends[1]);
            if (error) *error = e.path + ": thread: " + failure.what();
            return false;
        }
    }
    return true;
}

void ServerCore::closeLines() {
    for (Line& line : lines) {
        platform::CloseSocket(line.fd);
        if (line.device) line.device->interrupt();
        if (line.pump.joinable()) line.pump.join();
        if (line.device) line.device->close();
    }
    lines.clear();
}

long long ServerCore::readLine(Line& line, uint8_t* buffer, size_t n, int* code) {
    return platform::ReceiveSome(line.fd, buffer, n, code);
}

long long ServerCore::writeLine(Line& line, const uint8_t* bytes, size_t n, int* code) {
    return platform::SendSome(line.fd, bytes, n, code);
}

void ServerCore::watchOpens(Line&) {}

std::optional<uint32_t> ServerCore::hostRate(const Line&) const { return std::nullopt; }

}  // namespace pellory::vprinter
