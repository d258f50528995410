// The downloader's adaptive read size: starts at the requested size and grows
// in 4 KiB steps while the measured throughput of single chunks keeps setting
// new highs, up to 2 MiB. It never shrinks.
#pragma once

#include <cstdint>

class AdaptiveReadSize {
public:
    static constexpr int32_t kStep = 4096;
    static constexpr int32_t kBound = 0x200000;  // 2 MiB

    // `initial` is the first read size in bytes; values below 1 give 65536.
    explicit AdaptiveReadSize(int32_t initial);

    // The size of the next read in bytes.
    int32_t size() const { return m_size; }

    // Records one chunk: `bytes` written in `elapsedMs` milliseconds (0 counts
    // as 1). When the chunk's speed (bytes per millisecond, truncated) beats
    // every earlier one and the size is below 2 MiB, the size grows by 4 KiB.
    // Returns true when the size grew.
    bool OnChunk(uint64_t bytes, uint32_t elapsedMs);

private:
    int32_t m_size;
    uint32_t m_bestSpeed = 0;
};
