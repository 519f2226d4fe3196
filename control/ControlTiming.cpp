#include "control/ControlTiming.h"

#include <mutex>

namespace pxcontrol {

namespace {

std::mutex g_timingLock;
ControlTiming g_timing;

} // namespace

void SetControlTimingForTests(const ControlTiming& timing)
{
    std::lock_guard<std::mutex> lock(g_timingLock);
    g_timing = timing;
}

ControlTiming CurrentControlTiming()
{
    std::lock_guard<std::mutex> lock(g_timingLock);
    return g_timing;
}

} // namespace pxcontrol
