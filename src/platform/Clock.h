#pragma once
#include <cstdint>

// Milliseconds from the monotonic clock that is never slewed (CLOCK_MONOTONIC_RAW), wrapping
// at 2^32 like Windows tick counters. It is the clock Wine's timeGetTime and GetTickCount
// read, so a time stamp taken here is on a Windows game client's time base; the adjusted
// CLOCK_MONOTONIC drifts away from it by seconds a day on a machine kept on time by NTP.
std::uint32_t TickCount();
