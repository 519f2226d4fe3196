// Monotonic time and sleeping.
#pragma once

#include <cstdint>

namespace px {

// "Wait without limit", as the waits of the camera protocol call it.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Milliseconds since an arbitrary start, monotonic; wraps like a 32-bit tick count.
uint32_t TickCount();
// Same clock, without the wrap.
uint64_t TickCount64();
void SleepMs(uint32_t ms);

struct TimeOfDay {
    uint32_t hour, minute, second, millisecond;
};
// Local wall-clock time of day; false when the system cannot tell it.
bool LocalTimeOfDay(TimeOfDay* out);

} // namespace px
