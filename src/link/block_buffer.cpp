// The chained byte buffer of a link: blocks of at least the block size, first in first out.
#include <algorithm>
#include <cstring>
#include <new>

#include "link/serial_engine.h"

namespace pellory::link {

struct CSerialEngine::BlockBuffer::Block {
    size_t readPos = 0;
    size_t writePos = 0;
    size_t capacity = 0;
    Block* next = nullptr;
    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
};

namespace {
// An emptied last block up to this many times the block size stays for reuse.
constexpr size_t kRetainFactor = 4;
}  // namespace

CSerialEngine::BlockBuffer::BlockBuffer(uint32_t blockSize) : blockSize_(blockSize) {}

CSerialEngine::BlockBuffer::~BlockBuffer() { FreeAll(); }

CSerialEngine::BlockBuffer::Block* CSerialEngine::BlockBuffer::NewBlock(size_t capacity) {
    // One allocation: the header followed by its data area.
    void* memory = ::operator new(sizeof(Block) + capacity);
    Block* block = new (memory) Block;
    block->capacity = capacity;
    return block;
}

void CSerialEngine::BlockBuffer::FreeAll() {
    Block* b = head_;
    while (b) {
        Block* next = b->next;
        b->~Block();
        ::operator delete(b);
        b = next;
    }
    head_ = tail_ = nullptr;
    count_ = 0;
}

size_t CSerialEngine::BlockBuffer::Append(const uint8_t* source, size_t n) {
    size_t done = 0;
    if (tail_) {
        const size_t room = tail_->capacity - tail_->writePos;
        const size_t k = std::min(room, n);
        if (k) {
            std::memcpy(tail_->data() + tail_->writePos, source, k);
            tail_->writePos += k;
            done = k;
        }
    }
    if (done < n) {
        // The new block is sized by the whole call, not by the remainder.
        Block* block = NewBlock(std::max<size_t>(n, blockSize_));
        std::memcpy(block->data(), source + done, n - done);
        block->writePos = n - done;
        if (tail_) {
            tail_->next = block;
        } else {
            head_ = block;
        }
        tail_ = block;
    }
    count_ += n;
    return n;
}

size_t CSerialEngine::BlockBuffer::Take(uint8_t* destination, size_t n) {
    size_t taken = 0;
    while (taken < n && head_) {
        Block* b = head_;
        const size_t k = std::min(n - taken, b->writePos - b->readPos);
        if (destination && k) std::memcpy(destination + taken, b->data() + b->readPos, k);
        taken += k;
        count_ -= k;
        if (b->readPos + k < b->writePos) {
            b->readPos += k;
            continue;  // taken == n now
        }
        if (b->next || b->capacity > kRetainFactor * blockSize_) {
            head_ = b->next;
            if (!head_) tail_ = nullptr;
            b->~Block();
            ::operator delete(b);
        } else {
            // The last block, not larger than the retention limit: kept empty for reuse.
            b->readPos = b->writePos = 0;
            break;
        }
    }
    return taken;
}

size_t CSerialEngine::BlockBuffer::Peek(uint8_t* destination, size_t n) const {
    size_t copied = 0;
    for (const Block* b = head_; b && copied < n; b = b->next) {
        const size_t k = std::min(n - copied, b->writePos - b->readPos);
        std::memcpy(destination + copied, b->data() + b->readPos, k);
        copied += k;
    }
    return copied;
}

void CSerialEngine::BlockBuffer::Clear() {
    ++generation_;
    // Keep one small emptied block for reuse, free the rest.
    Block* keep = nullptr;
    if (head_ && head_->capacity <= kRetainFactor * blockSize_) {
        keep = head_;
        head_ = head_->next;
    }
    FreeAll();
    if (keep) {
        keep->readPos = keep->writePos = 0;
        keep->next = nullptr;
        head_ = tail_ = keep;
    }
}

void CSerialEngine::BlockBuffer::ClearLocked() {
    std::lock_guard<std::mutex> lock(mutex_);
    Clear();
}

size_t CSerialEngine::BlockBuffer::Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

uint8_t* CSerialEngine::BlockBuffer::TailSpace(size_t n, size_t& capacity) {
    if (tail_ && tail_->capacity - tail_->writePos > n) {
        capacity = tail_->capacity - tail_->writePos;
        return tail_->data() + tail_->writePos;
    }
    Block* block = NewBlock(std::max<size_t>(n, blockSize_));
    if (tail_) {
        tail_->next = block;
    } else {
        head_ = block;
    }
    tail_ = block;
    capacity = block->capacity;
    return block->data();
}

void CSerialEngine::BlockBuffer::Commit(size_t k) {
    tail_->writePos += k;
    count_ += k;
}

size_t CSerialEngine::BlockBuffer::HeadUnread() const { return head_ ? head_->writePos - head_->readPos : 0; }

const uint8_t* CSerialEngine::BlockBuffer::HeadData() const { return head_ ? head_->data() + head_->readPos : nullptr; }

std::vector<CSerialEngine::BlockBuffer::BlockInfo> CSerialEngine::BlockBuffer::Blocks() const {
    std::vector<BlockInfo> out;
    for (const Block* b = head_; b; b = b->next) out.push_back({b->readPos, b->writePos, b->capacity});
    return out;
}

}  // namespace pellory::link
