#include "net/read_size.h"

AdaptiveReadSize::AdaptiveReadSize(int32_t initial) : m_size(initial > 0 ? initial : 0x10000) {}

bool AdaptiveReadSize::OnChunk(uint64_t bytes, uint32_t elapsedMs) {
    if (elapsedMs == 0) elapsedMs = 1;
    const double perMs = static_cast<double>(bytes) / static_cast<double>(elapsedMs);
    const uint32_t speed = perMs >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(perMs);
    if (speed <= m_bestSpeed) return false;
    m_bestSpeed = speed;
    if (m_size >= kBound) return false;
    m_size += kStep;
    return true;
}
