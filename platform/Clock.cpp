#include "platform/Clock.h"

#include <ctime>
#include <cerrno>
#include <sys/time.h>

namespace px {

uint64_t TickCount64()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t TickCount() { return static_cast<uint32_t>(TickCount64()); }

void SleepMs(uint32_t ms)
{
    timespec req{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
}

bool LocalTimeOfDay(TimeOfDay* out)
{
    timeval tv{};
    if (gettimeofday(&tv, nullptr) != 0)
        return false;
    tm parts{};
    time_t secs = tv.tv_sec;
    if (localtime_r(&secs, &parts) == nullptr)
        return false;
    out->hour = static_cast<uint32_t>(parts.tm_hour);
    out->minute = static_cast<uint32_t>(parts.tm_min);
    out->second = static_cast<uint32_t>(parts.tm_sec);
    out->millisecond = static_cast<uint32_t>(tv.tv_usec / 1000);
    return true;
}

} // namespace px
