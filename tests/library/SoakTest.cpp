// Hundreds of clients opened, used and terminated, and clients whose camera turns them away, while
// the camera itself is stopped and started again: nothing the process holds may grow with them.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/library/LibraryFixture.h"

namespace {

// What the process holds: open descriptors, threads, and heap in use (0 where the allocator of a
// sanitizer build does not tell).
struct Holdings {
    size_t fds = 0, threads = 0, heap = 0;
};

Holdings Measure()
{
    namespace fs = std::filesystem;
    Holdings h;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd"))
        ++h.fds;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/task"))
        ++h.threads;
    h.heap = mallinfo2().uordblks;
    return h;
}

class SoakTest : public LibraryTest {
protected:
    // One client's life: list, subscribe, read a frame, end. Turned away, its camera refuses the
    // publish, watchdog and message ports and the buffer.
    void Cycle(bool turnedAway)
    {
        pxsim::SimFaults faults;
        faults.bRefusePublish = faults.bRefuseWatchdog = faults.bRefuseMessage = faults.bRefuseBuffers = turnedAway;
        m_sim.SetFaults(faults);
        const PXHANDLE h = InitWithChannel();
        uint32_t count = 0;
        const PXBufferListEntry* list = nullptr;
        EXPECT_EQ(PXGetBufferList(h, &count, &list), turnedAway ? PX_COMM_ERROR : PX_OK);
        const uint32_t subscribed = PXSetExchangeBuffer(h, m_sim.BufferPort("IMG0"), "IMG0", 0, h);
        uint32_t received = 0;
        if (turnedAway) {
            EXPECT_NE(subscribed, PX_OK);
        } else {
            EXPECT_EQ(subscribed, PX_OK);
            EXPECT_EQ(PXGetExchangeBufferData(h, "IMG0", 1, m_frame.data(), nullptr, &received), PX_OK);
        }
        EXPECT_EQ(PXClientTerminate(h), PX_OK);
    }

    // Cycles against one camera, which is stopped afterwards (with everything it served).
    void Batch(int cycles)
    {
        StartSim();
        for (int i = 0; i < cycles && !HasFailure(); ++i)
            Cycle(i % 5 == 4);
        m_sim.Stop();
    }

    std::vector<uint8_t> m_frame = std::vector<uint8_t>(640 * 480);
};

} // namespace

TEST_F(SoakTest, CyclesOfClientsLeaveNothingBehind)
{
    Batch(20);   // the first clients set up what a process keeps anyway (allocator arenas, ...)
    const Holdings before = Measure();
    constexpr int kBatches = 6, kCycles = 40;
    for (int b = 0; b < kBatches && !HasFailure(); ++b)
        Batch(kCycles);
    const Holdings after = Measure();
    std::printf("after %d cycles: descriptors %zu -> %zu, threads %zu -> %zu, heap %zu -> %zu bytes\n",
                kBatches * kCycles, before.fds, after.fds, before.threads, after.threads, before.heap, after.heap);
    EXPECT_EQ(after.fds, before.fds);
    EXPECT_EQ(after.threads, before.threads);
    // A few hundred bytes a cycle, as was once seen over an hour, would be some 100 kB here.
    if (before.heap != 0) {
        EXPECT_LT(after.heap, before.heap + 16 * 1024);
    }
}
