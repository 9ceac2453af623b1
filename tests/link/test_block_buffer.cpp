// The link's chained byte buffer: block sizing, retention of emptied blocks, order.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

#include "link/serial_engine.h"

using pellory::link::CSerialEngine;
using Buffer = CSerialEngine::BlockBuffer;

namespace {
std::vector<uint8_t> Seq(size_t n, uint8_t start = 0) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), start);
    return v;
}
std::vector<size_t> Capacities(const Buffer& b) {
    std::vector<size_t> out;
    for (const auto& info : b.Blocks()) out.push_back(info.capacity);
    return out;
}
}  // namespace

TEST(BlockBuffer, BlocksAreSizedByTheWholeAppendAndFillTheTailFirst) {
    Buffer b;
    const auto ten = Seq(10);
    EXPECT_EQ(b.Append(ten.data(), 10), 10u);
    EXPECT_EQ(Capacities(b), (std::vector<size_t>{1024}));

    // Leave 24 bytes free in the tail, then append 2000: 24 go into the tail, a block of 2000
    // (the whole append, not the remainder) takes the other 1976.
    const auto fill = Seq(1024 - 10 - 24);
    b.Append(fill.data(), fill.size());
    const auto big = Seq(2000, 7);
    b.Append(big.data(), big.size());
    const auto blocks = b.Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].writePos, 1024u);
    EXPECT_EQ(blocks[1].capacity, 2000u);
    EXPECT_EQ(blocks[1].writePos, 1976u);
    EXPECT_EQ(b.Count(), 10u + fill.size() + 2000u);

    // Everything comes back in the order written.
    std::vector<uint8_t> out(b.Count());
    EXPECT_EQ(b.Take(out.data(), out.size()), out.size());
    std::vector<uint8_t> expected = ten;
    expected.insert(expected.end(), fill.begin(), fill.end());
    expected.insert(expected.end(), big.begin(), big.end());
    EXPECT_EQ(out, expected);
}

TEST(BlockBuffer, EmptiedLastBlockIsKeptUpToFourBlockSizes) {
    Buffer small;
    const auto data = Seq(4096);
    small.Append(data.data(), data.size());
    std::vector<uint8_t> out(4096);
    EXPECT_EQ(small.Take(out.data(), 4096), 4096u);
    auto blocks = small.Blocks();
    ASSERT_EQ(blocks.size(), 1u);  // kept for reuse, both positions 0
    EXPECT_EQ(blocks[0].readPos, 0u);
    EXPECT_EQ(blocks[0].writePos, 0u);
    EXPECT_EQ(small.Count(), 0u);

    Buffer large;
    const auto more = Seq(5000);
    large.Append(more.data(), more.size());
    std::vector<uint8_t> out2(5000);
    EXPECT_EQ(large.Take(out2.data(), 5000), 5000u);
    EXPECT_TRUE(large.Blocks().empty());  // larger than 4096: freed
    // A freed buffer takes new bytes as an empty one does.
    large.Append(more.data(), 3);
    EXPECT_EQ(Capacities(large), (std::vector<size_t>{1024}));
}

TEST(BlockBuffer, TakeWithoutDestinationDiscardsAndClearEmpties) {
    Buffer b;
    const auto data = Seq(300);
    b.Append(data.data(), data.size());
    EXPECT_EQ(b.Take(nullptr, 100), 100u);
    EXPECT_EQ(b.Count(), 200u);
    uint8_t first = 0;
    EXPECT_EQ(b.Take(&first, 1), 1u);
    EXPECT_EQ(first, 100);  // the discarded bytes are really gone

    b.ClearLocked();
    EXPECT_EQ(b.Count(), 0u);
    EXPECT_EQ(b.Take(&first, 1), 0u);
    EXPECT_EQ(b.Take(nullptr, 10), 0u);
}

TEST(BlockBuffer, PartialTakesAcrossBlocksKeepOrderUnderRandomUse) {
    Buffer b;
    std::mt19937 rng(42);
    std::vector<uint8_t> model;  // what should be in the buffer
    size_t modelHead = 0;
    uint8_t next = 0;
    for (int step = 0; step < 5000; ++step) {
        if (rng() % 2) {
            std::vector<uint8_t> chunk(rng() % 3000);
            for (auto& c : chunk) c = next++;
            b.Append(chunk.data(), chunk.size());
            model.insert(model.end(), chunk.begin(), chunk.end());
        } else {
            const size_t want = rng() % 2500;
            std::vector<uint8_t> out(want);
            const size_t got = b.Take(out.data(), want);
            ASSERT_EQ(got, std::min(want, model.size() - modelHead));
            ASSERT_TRUE(std::equal(out.begin(), out.begin() + static_cast<long>(got), model.begin() + static_cast<long>(modelHead)));
            modelHead += got;
        }
        ASSERT_EQ(b.Count(), model.size() - modelHead);
        size_t sum = 0;
        for (const auto& info : b.Blocks()) {
            ASSERT_LE(info.readPos, info.writePos);
            ASSERT_LE(info.writePos, info.capacity);
            sum += info.writePos - info.readPos;
        }
        ASSERT_EQ(sum, b.Count());
    }
}

TEST(BlockBuffer, PeekCopiesWithoutTaking) {
    Buffer b;
    const auto a = Seq(1000);
    const auto c = Seq(2000, 50);
    b.Append(a.data(), a.size());
    b.Append(c.data(), c.size());
    std::vector<uint8_t> out(1500);
    EXPECT_EQ(b.Peek(out.data(), out.size()), 1500u);
    EXPECT_EQ(b.Count(), 3000u);
    EXPECT_EQ(out[999], a[999]);
    EXPECT_EQ(out[1000], c[0]);
    const uint64_t g = b.Generation();
    b.Clear();
    EXPECT_NE(b.Generation(), g);
}
