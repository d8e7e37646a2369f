// The lock-free ring between the audio callback and the recorder's writer: everything pushed
// comes out once, in order, whatever the two threads' timing; a push that does not fit leaves
// nothing behind.
#include "core/SpscRing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

using namespace varko;

TEST(SpscRing, APushThatDoesNotFitTakesNothing) {
    TSpscRing<int> ring(5); // rounded up to 8
    ASSERT_EQ(ring.Capacity(), 8u);
    const int six[] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(ring.Push(six, 6));
    EXPECT_FALSE(ring.Push(six, 3)); // two places left: all or nothing
    EXPECT_EQ(ring.Size(), 6u);
    int out[8] = {};
    EXPECT_EQ(ring.Pop(out, 8), 6u);
    EXPECT_EQ(out[5], 6);
    // Around the end of the storage.
    ASSERT_TRUE(ring.Push(six, 6));
    EXPECT_EQ(ring.Free(), 2u);
    EXPECT_EQ(ring.Pop(out, 8), 6u);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[5], 6);
}

TEST(SpscRing, BlocksCrossThreadsWholeAndInOrder) {
    // Blocks of varying length, as a callback pushes them, against a reader taking odd amounts.
    TSpscRing<uint32_t> ring(1024);
    constexpr uint32_t Total = 400000;
    std::thread producer([&] {
        uint32_t next = 0;
        std::vector<uint32_t> block;
        for (uint32_t n = 1; next < Total; n = n % 300 + 7) {
            block.clear();
            for (uint32_t i = 0; i < n && next + i < Total; ++i) {
                block.push_back(next + i);
            }
            while (!ring.Push(block.data(), block.size())) {
                std::this_thread::yield();
            }
            next += static_cast<uint32_t>(block.size());
        }
    });
    uint32_t expected = 0;
    uint32_t wrong = 0;
    std::vector<uint32_t> out(97);
    while (expected < Total) {
        const size_t got = ring.Pop(out.data(), out.size());
        for (size_t i = 0; i < got; ++i) {
            wrong += out[i] != expected++ ? 1 : 0;
        }
        if (got == 0) {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(ring.Size(), 0u);
}
