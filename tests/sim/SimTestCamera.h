// The simulated camera of the tests above the simulator: kelvo-sim in the test's process on
// ephemeral ports, frames only when a test makes them, and VISTEL_CONFIG pointing the library at
// it (publish, watchdog and message ports) for as long as it lives.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>

#include "sim/KelvoSim.h"

namespace simtest {

// The default camera (IMG0, HIST, TEXT, ARR0, INP0) of an agent version, on ephemeral ports.
inline pxsim::SimConfig TestConfig(uint32_t version = 0x0400012C)
{
    pxsim::SimConfig c = pxsim::DefaultSimConfig();
    c.dwAgentVersion = version;
    c.usPublishPort = c.usWatchdogPort = c.usMessagePort = c.usFirstBufferPort = 0;
    c.dwFrameIntervalMs = 0;
    return c;
}

class CSimCamera {
public:
    ~CSimCamera()
    {
        sim.Stop();
        unlink(m_path.c_str());
    }
    void Start(const pxsim::SimConfig& config = TestConfig())
    {
        ASSERT_EQ(sim.Start(config), 0);
        std::ofstream(m_path) << sim.ClientConfigText();
        setenv("VISTEL_CONFIG", m_path.c_str(), 1);
    }
    const std::string& ConfigPath() const { return m_path; }

    pxsim::CKelvoSim sim;

private:
    static inline std::atomic<int> s_made{0};
    std::string m_path = "/tmp/pellix-camera-" + std::to_string(getpid()) + "-" + std::to_string(s_made++) + ".conf";
};

} // namespace simtest
