// The frame of the C library's tests: short waits inside the library, and a simulated camera on
// ephemeral ports that the configuration file points the library at.
#pragma once

#include <gtest/gtest.h>

#include "client/LibraryInternal.h"
#include "pellix/pellix.h"
#include "tests/sim/SimTestCamera.h"

inline const uint8_t kLoopback[4] = {127, 0, 0, 1};

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LibraryTiming timing;
        timing.client.dwGoodbyeSleepMs = 0;
        timing.channel = AgentChannelTiming{2000, 20};
        PellixSetTimingForTests(timing);
    }

    // A camera on new ports (each call), and the library pointed at it.
    void StartSim(uint32_t version = 0x0400012C) { m_camera.Start(simtest::TestConfig(version)); }
    // A client with an agent channel and a watchdog.
    PXHANDLE InitWithChannel(uint32_t timeout = 2000)
    {
        PXHANDLE h = 0;
        EXPECT_EQ(PXClientInit(nullptr, kLoopback, "library-test", &h, timeout, 1, 50, 1000, 2), PX_OK);
        EXPECT_NE(h, 0u);
        return h;
    }

    simtest::CSimCamera m_camera;
    pxsim::CKelvoSim& m_sim = m_camera.sim;
    const std::string& m_config = m_camera.ConfigPath();
};
