#include "update/UpdateTiming.h"

#include <mutex>

namespace {

std::mutex g_lock;
UpdateTiming g_timing;

} // namespace

UpdateTiming CurrentUpdateTiming()
{
    std::lock_guard<std::mutex> lock(g_lock);
    return g_timing;
}

void SetUpdateTimingForTests(const UpdateTiming& timing)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_timing = timing;
}
