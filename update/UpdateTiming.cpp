#include "update/UpdateTiming.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/Config.h"

namespace {

std::mutex g_lock;
UpdateTiming g_timing;

uint32_t Scaled(uint32_t ms, double scale)
{
    const double v = std::ceil(static_cast<double>(ms) * scale);
    return v >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

} // namespace

UpdateWaits ScaledWaits(double scale)
{
    UpdateWaits w;
    w.dwPollMs = Scaled(w.dwPollMs, scale);
    w.dwSafeModeRebootMs = Scaled(w.dwSafeModeRebootMs, scale);
    w.dwReconnectLimitMs = Scaled(w.dwReconnectLimitMs, scale);
    w.dwShareRetryMs = Scaled(w.dwShareRetryMs, scale);
    w.dwMessageServerMs = Scaled(w.dwMessageServerMs, scale);
    w.dwToolSilenceS = std::max<uint32_t>(1, Scaled(w.dwToolSilenceS * 1000, scale) / 1000);
    w.dwRebootSettleMs = Scaled(w.dwRebootSettleMs, scale);
    w.dwRebootLimitMs = Scaled(w.dwRebootLimitMs, scale);
    return w;
}

UpdateTiming CurrentUpdateTiming()
{
    std::lock_guard<std::mutex> lock(g_lock);
    return g_timing;
}

UpdateWaits CurrentUpdateWaits()
{
    const double scale = CurrentUpdateTiming().dTimeScale;
    if (scale > 0)
        return ScaledWaits(scale);
    return ScaledWaits(px::ConfigGetNumber("UpdateTimeScale", 100) / 100.0);
}

void SetUpdateTimingForTests(const UpdateTiming& timing)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_timing = timing;
}
