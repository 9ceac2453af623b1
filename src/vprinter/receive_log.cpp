#include "vprinter/receive_log.h"

#include <algorithm>

namespace pellory::vprinter {

void ReceiveLog::setRecording(bool on) {
    std::lock_guard<std::mutex> lock(m_);
    recording_ = on;
    if (on) return;
    received_ = Bytes();
    commands_ = std::vector<Command>();
    current_ = Command();
    keepingCurrent_ = false;
}

bool ReceiveLog::recording() const {
    std::lock_guard<std::mutex> lock(m_);
    return recording_;
}

uint64_t ReceiveLog::take(const uint8_t* bytes, size_t n) {
    std::lock_guard<std::mutex> lock(m_);
    if (recording_) received_.insert(received_.end(), bytes, bytes + n);
    return clears_;
}

// A complete command goes into the list: a text run right after another joins it.
void ReceiveLog::list(Command::Kind kind, const uint8_t* bytes, size_t n) {
    if (kind == Command::Kind::Text && !commands_.empty() && commands_.back().kind == Command::Kind::Text) {
        auto& b = commands_.back().bytes;
        b.insert(b.end(), bytes, bytes + n);
        return;
    }
    commands_.push_back(Command{kind, Bytes(bytes, bytes + n)});
}

void ReceiveLog::piece(const protocol::PieceSplitter::Piece& piece) {
    std::lock_guard<std::mutex> lock(m_);
    if (piece.last) {
        if (!(piece.kind == Command::Kind::Text && lastWasText_)) ++commandTotal_;
        lastWasText_ = piece.kind == Command::Kind::Text;
    }
    if (piece.first && piece.last) {
        if (recording_) list(piece.kind, piece.bytes, piece.length);
        return;
    }
    // A command with data, piece by piece: gathered only for the list. One that began before
    // the recording did is left out.
    if (piece.first) {
        keepingCurrent_ = recording_;
        current_.kind = piece.kind;
        current_.bytes.clear();
    }
    if (!keepingCurrent_) return;
    current_.bytes.insert(current_.bytes.end(), piece.bytes, piece.bytes + piece.length);
    if (!piece.last) return;
    if (recording_) list(current_.kind, current_.bytes.data(), current_.bytes.size());
    current_.bytes = Bytes();
    keepingCurrent_ = false;
}

void ReceiveLog::counted(size_t n, uint64_t token) {
    {
        std::lock_guard<std::mutex> lock(m_);
        if (clears_ == token) receivedTotal_ += n;
        lastByte_ = Clock::now();
    }
    cv_.notify_all();
}

void ReceiveLog::answered() {
    std::lock_guard<std::mutex> lock(m_);
    ++answered_;
}

void ReceiveLog::dropPending() {
    std::lock_guard<std::mutex> lock(m_);
    current_ = Command();
    keepingCurrent_ = false;
}

void ReceiveLog::clear() {
    std::lock_guard<std::mutex> lock(m_);
    received_ = Bytes();
    commands_ = std::vector<Command>();
    receivedTotal_ = 0;
    commandTotal_ = 0;
    lastWasText_ = false;
    ++clears_;
}

void ReceiveLog::startOver() {
    clear();
    dropPending();
    std::lock_guard<std::mutex> lock(m_);
    lastByte_ = Clock::now();
}

ReceiveLog::Bytes ReceiveLog::received() const {
    std::lock_guard<std::mutex> lock(m_);
    return received_;
}

size_t ReceiveLog::receivedCount() const {
    std::lock_guard<std::mutex> lock(m_);
    return receivedTotal_;
}

std::vector<ReceiveLog::Command> ReceiveLog::commands() const {
    std::lock_guard<std::mutex> lock(m_);
    return commands_;
}

size_t ReceiveLog::commandCount() const {
    std::lock_guard<std::mutex> lock(m_);
    return commandTotal_;
}

size_t ReceiveLog::answeredCount() const {
    std::lock_guard<std::mutex> lock(m_);
    return answered_;
}

bool ReceiveLog::waitForBytes(size_t n, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return receivedTotal_ >= n; });
}

bool ReceiveLog::waitForQuiet(uint32_t quietMs, uint32_t timeoutMs) const {
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    const auto quiet = std::chrono::milliseconds(quietMs);
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
        const auto quietSince = std::max(lastByte_, start);
        const auto now = Clock::now();
        if (now - quietSince >= quiet) return true;
        if (now >= deadline) return false;
        cv_.wait_until(lock, std::min(quietSince + quiet, deadline));
    }
}

}  // namespace pellory::vprinter
