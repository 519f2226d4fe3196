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

#include "client/LibraryInternal.h"
#include "pellix/pellix.h"
#include "sim/KelvoSim.h"

namespace {

const uint8_t kLoopback[4] = {127, 0, 0, 1};

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

class SoakTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LibraryTiming timing;
        timing.client.dwGoodbyeSleepMs = 0;
        timing.channel = AgentChannelTiming{2000, 20};
        PellixSetTimingForTests(timing);
    }
    void TearDown() override { unlink(m_config.c_str()); }

    // A camera on new ports, each time, and the library pointed at it.
    void StartCamera()
    {
        pxsim::SimConfig config = pxsim::DefaultSimConfig();
        config.usPublishPort = config.usWatchdogPort = config.usMessagePort = config.usFirstBufferPort = 0;
        config.dwFrameIntervalMs = 0;
        ASSERT_EQ(m_sim.Start(config), 0);
        std::ofstream(m_config) << m_sim.ClientConfigText();
        setenv("VISTEL_CONFIG", m_config.c_str(), 1);
    }

    // One client's life: list, subscribe, read a frame, end.
    void UseAndTerminate()
    {
        PXHANDLE h = 0;
        ASSERT_EQ(PXClientInit(nullptr, kLoopback, "soak", &h, 2000, 1, 50, 1000, 2), PX_OK);
        uint32_t count = 0;
        const PXBufferListEntry* list = nullptr;
        EXPECT_EQ(PXGetBufferList(h, &count, &list), PX_OK);
        EXPECT_EQ(PXSetExchangeBuffer(h, m_sim.BufferPort("IMG0"), "IMG0", 0, h), PX_OK);
        uint32_t received = 0;
        EXPECT_EQ(PXGetExchangeBufferData(h, "IMG0", 1, m_frame.data(), nullptr, &received), PX_OK);
        EXPECT_EQ(PXClientTerminate(h), PX_OK);
    }

    // A client whose camera refuses its publish, watchdog and message ports and its buffer.
    void TurnedAway()
    {
        pxsim::SimFaults refuse;
        refuse.bRefusePublish = refuse.bRefuseWatchdog = refuse.bRefuseMessage = refuse.bRefuseBuffers = true;
        m_sim.SetFaults(refuse);
        PXHANDLE h = 0;
        ASSERT_EQ(PXClientInit(nullptr, kLoopback, "soak", &h, 2000, 1, 50, 1000, 2), PX_OK);
        uint32_t count = 0;
        const PXBufferListEntry* list = nullptr;
        EXPECT_EQ(PXGetBufferList(h, &count, &list), PX_COMM_ERROR);
        EXPECT_NE(PXSetExchangeBuffer(h, m_sim.BufferPort("IMG0"), "IMG0", 0, h), PX_OK);
        EXPECT_EQ(PXClientTerminate(h), PX_OK);
        m_sim.SetFaults(pxsim::SimFaults());
    }

    // Cycles against one camera, which is stopped afterwards (with everything it served).
    void Batch(int cycles)
    {
        StartCamera();
        for (int i = 0; i < cycles && !HasFailure(); ++i) {
            if (i % 5 == 4)
                TurnedAway();
            else
                UseAndTerminate();
        }
        m_sim.Stop();
    }

    std::string m_config = "/tmp/pellix-soak-" + std::to_string(getpid()) + ".conf";
    std::vector<uint8_t> m_frame = std::vector<uint8_t>(640 * 480);
    pxsim::CKelvoSim m_sim;
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
