// The adaptive read size, chunk by chunk.
#include <gtest/gtest.h>

#include "net/read_size.h"

namespace {

struct Chunk {
    uint64_t bytes;
    uint32_t elapsedMs;
    int32_t sizeAfter;
};

TEST(AdaptiveReadSize, GrowsByOneStepOnEveryNewSpeedHigh) {
    const struct {
        const char* name;
        int32_t start;
        std::vector<Chunk> chunks;
    } cases[] = {
        {"first chunk sets the first high", 0x10000, {{0x10000, 10, 0x11000}}},
        {"zero time counts as one millisecond", 0x10000, {{100, 0, 0x11000}, {99, 0, 0x11000}}},
        {"equal speed is no new high", 0x10000, {{1000, 10, 0x11000}, {2000, 20, 0x11000}, {3001, 10, 0x12000}}},
        {"slower chunk keeps the size", 0x10000, {{5000, 10, 0x11000}, {100, 10, 0x11000}, {6000, 10, 0x12000}}},
        {"stops exactly at 2 MiB", 0x200000 - 0x1000, {{10, 1, 0x200000}, {20, 1, 0x200000}}},
        {"odd start passes 2 MiB by less than a step", 0x200000 - 1, {{10, 1, 0x200000 + 0xFFF}, {20, 1, 0x200000 + 0xFFF}}},
        {"no start size means 64 KiB", 0, {{10, 1, 0x11000}}},
        {"empty chunk is no high", 0x10000, {{0, 5, 0x10000}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AdaptiveReadSize size(c.start);
        for (const Chunk& chunk : c.chunks) {
            size.OnChunk(chunk.bytes, chunk.elapsedMs);
            EXPECT_EQ(size.size(), chunk.sizeAfter);
        }
    }
}

TEST(AdaptiveReadSize, ClimbsFromTheDefaultToExactlyTwoMebibytes) {
    AdaptiveReadSize size(0x10000);
    int steps = 0;
    for (uint64_t speed = 1; speed < 2000; ++speed) steps += size.OnChunk(speed, 1);
    EXPECT_EQ(size.size(), 0x200000);
    EXPECT_EQ(steps, (0x200000 - 0x10000) / 0x1000);
}

}  // namespace
