#pragma once
#include <cstdint>

// Milliseconds from a monotonic clock, wrapping at 2^32 like the platform tick counters
// the design's timing rules were written for.
std::uint32_t TickCount();
