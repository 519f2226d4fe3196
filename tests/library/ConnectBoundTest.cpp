// A camera that never answers, as the library's host meets it: PXClientInit returns within its
// connects' bounds and still makes the record, the failure is kept (3000) with its boxes, and an
// infinite time-out is bounded by "ConnectTimeout".
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "LibraryFixture.h"
#include "platform/Clock.h"
#include "tests/platform/BoxCatcher.h"
#include "tests/platform/SilentPort.h"

namespace {

class ConnectBoundTest : public LibraryTest {
protected:
    // Every port of the camera is the silent one.
    void PointAtSilentCamera(const std::string& extra)
    {
        const std::string port = std::to_string(m_silent.Port());
        std::ofstream(m_config) << "PublishPort=" << port << "\nWatchDogPort=" << port << "\nAsyncMsgPort=" << port
                                << "\nShowDebugMessage=1\n"
                                << extra;
        setenv("VISTEL_CONFIG", m_config.c_str(), 1);
    }
    platformtest::CSilentPort m_silent;
};

} // namespace

TEST_F(ConnectBoundTest, ClientInitReturnsWithinItsBoundsAndKeepsTheFailure)
{
    ASSERT_TRUE(m_silent.Silent());
    PointAtSilentCamera("");
    platformtest::CBoxCatcher boxes;
    PXHANDLE h = 0;
    const uint64_t start = px::TickCount64();
    // Three connects (message link, publish port, watchdog) of at most 500 ms each.
    ASSERT_EQ(PXClientInit(nullptr, kLoopback, "silent", &h, 500, 1, 100, 1000, 2), PX_OK);
    EXPECT_LT(px::TickCount64() - start, 30000u);
    ASSERT_NE(h, 0u);
    uint32_t count = 7;
    const PXBufferListEntry* list = nullptr;
    EXPECT_EQ(PXGetBufferList(h, &count, &list), PX_COMM_ERROR);
    EXPECT_EQ(count, 0u);
    uint32_t status = 0;
    ASSERT_EQ(PXGetWatchDogStatus(h, &status), PX_OK);
    EXPECT_EQ(status, PX_NO_WATCHDOG);
    EXPECT_EQ(PXGetRefreshListEvent(h), 0);
    const std::string timedOut = std::to_string(ETIMEDOUT);
    EXPECT_GE(boxes.Count("PellixAgent Error", "NetAllocLink: NetAccess CONNECT_ERROR (" + timedOut + ") (" + timedOut +
                                                   ")\n"),
              1u)
        << ::testing::PrintToString(boxes.Boxes());
    EXPECT_EQ(boxes.Count("WatchDog Error", "Can't allocate WatchDog. Error 7." + timedOut + "\n"), 1u)
        << ::testing::PrintToString(boxes.Boxes());
    EXPECT_EQ(PXClientTerminate(h), PX_OK);
}

TEST_F(ConnectBoundTest, AnInfiniteTimeoutConnectsWithinConnectTimeout)
{
    ASSERT_TRUE(m_silent.Silent());
    PointAtSilentCamera("ConnectTimeout=300\n");
    platformtest::CBoxCatcher boxes;
    PXHANDLE h = 0;
    ASSERT_EQ(PXClientInit(nullptr, kLoopback, "silent", &h, PX_INFINITE, 0, 0, 0, 0), PX_OK);
    const uint64_t start = px::TickCount64();
    EXPECT_EQ(PXSetExchangeBuffer(h, m_silent.Port(), "IMG0", 0, 0), PX_COMM_ERROR);
    EXPECT_LT(px::TickCount64() - start, 30000u);
    uint32_t received = 1;
    uint8_t byte = 0;
    EXPECT_EQ(PXGetExchangeBufferData(h, "IMG0", 1, &byte, nullptr, &received), PX_COMM_ERROR);   // kept
    EXPECT_EQ(received, 0u);
    const std::string timedOut = std::to_string(ETIMEDOUT);
    EXPECT_EQ(boxes.Count("Pellix Error", "NetAllocLink: NetAccess CONNECT_ERROR (" + timedOut + ") (" + timedOut + ")\n"),
              1u)
        << ::testing::PrintToString(boxes.Boxes());
    EXPECT_EQ(PXClientTerminate(h), PX_OK);
}
