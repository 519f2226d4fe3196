#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "client/AgentChannel.h"
#include "netaccess/protocol/AgentProtocol.h"
#include "pellix/pellix.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "sim/KelvoSim.h"

using namespace px::agent;

namespace {

const uint8_t kLoopback[4] = {127, 0, 0, 1};
constexpr AgentChannelTiming kFast{2000, 20};  // generous for a loaded machine

// A simulator on free ports, with the configuration file pointing the channel at its watchdog and
// message ports, and every message box and command of the run recorded.
class ChannelTest : public ::testing::Test {
protected:
    void StartSim(uint32_t version, const pxsim::SimFaults& faults = {})
    {
        pxsim::SimConfig config = pxsim::DefaultSimConfig();
        config.dwAgentVersion = version;
        config.usPublishPort = config.usWatchdogPort = config.usMessagePort = config.usFirstBufferPort = 0;
        config.dwFrameIntervalMs = 0;
        config.faults = faults;
        m_sim.SetLog([this](uint32_t, const char* line) {
            std::lock_guard<std::mutex> g(m_lock);
            m_log.emplace_back(line);
        }, 2);
        ASSERT_EQ(m_sim.Start(config), 0);
        std::ofstream(m_config) << m_sim.ClientConfigText();
        setenv("VISTEL_CONFIG", m_config.c_str(), 1);
        px::SetMessageBoxHandler([](const char* text, const char* caption, void* user) {
            auto* self = static_cast<ChannelTest*>(user);
            std::lock_guard<std::mutex> g(self->m_lock);
            self->m_boxes.push_back(std::string(caption) + ": " + text);
        }, this);
    }
    void TearDown() override
    {
        px::SetMessageBoxHandler(nullptr, nullptr);
        unlink(m_config.c_str());
    }
    std::unique_ptr<CAgentChannel> Open(uint32_t delay, uint32_t signalTimeout, uint32_t timeout = 2000,
                                        uint32_t retries = 1)
    {
        return std::make_unique<CAgentChannel>(NetAddress::Of(nullptr, kLoopback), m_sim.PublishPort(), "channel-test", timeout, true,
                                               delay, signalTimeout, retries, kFast);
    }
    size_t LogLines(const char* word)
    {
        std::lock_guard<std::mutex> g(m_lock);
        size_t n = 0;
        for (const auto& l : m_log)
            n += l.find(word) != std::string::npos;
        return n;
    }
    std::vector<std::string> Boxes()
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_boxes;
    }

    std::string m_config = "/tmp/pellix-channel-" + std::to_string(getpid()) + ".conf";
    std::mutex m_lock;
    std::vector<std::string> m_log, m_boxes;
    pxsim::CKelvoSim m_sim;  // last: it stops, and stops logging, before the records above go
};

} // namespace

TEST_F(ChannelTest, NewAgentListsBuffersChecksResourcesAndRunsTheWatchdog)
{
    StartSim(0x0400012C);
    auto channel = Open(50, 1000);
    ASSERT_TRUE(channel->Connected());
    EXPECT_EQ(channel->AgentVersion(), 0x0400012Cu);
    EXPECT_TRUE(channel->HasWatchDog());
    EXPECT_EQ(channel->WatchDogStatus(), PX_OK);
    EXPECT_EQ(channel->WatchDogIdentity(), 0x4B454C56u);

    uint32_t count = 0;
    const PXBufferListEntry* records = nullptr;
    ASSERT_EQ(channel->GetBufferList(&count, &records), PX_OK);
    ASSERT_EQ(count, m_sim.Buffers().size());
    const PXBufferListEntry first = records[0];
    EXPECT_EQ(first.port, m_sim.BufferPort(std::string(first.id, 4).c_str()));
    EXPECT_STREQ(first.processName, "kelvo-agent");

    // A second request replaces the array (the first is released: ASan sees any later use).
    const PXBufferListEntry* again = nullptr;
    ASSERT_EQ(channel->GetBufferList(&count, &again), PX_OK);
    EXPECT_EQ(std::memcmp(again[0].id, first.id, 4), 0);

    uint32_t answer = 99;
    EXPECT_EQ(channel->VerifyResources(first.port, &answer), PX_OK);
    EXPECT_EQ(answer, 1u);
    pxsim::SimFaults faults;
    faults.bResourceCheckZero = true;
    m_sim.SetFaults(faults);
    EXPECT_EQ(channel->VerifyResources(first.port, &answer), PX_OK);
    EXPECT_EQ(answer, 0u);

    // The message link reports a new buffer list.
    ASSERT_NE(channel->ListChangedEvent(), nullptr);
    pxsim::SimBufferConfig extra;
    extra.id = px::agent::BufferId::FromText("NEW1");
    ASSERT_EQ(m_sim.AddBuffer(extra, nullptr), 0);
    EXPECT_EQ(channel->ListChangedEvent()->Wait(5000), px::WaitResult::Signaled);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ChannelTest, OlderAgentsGetTheFormsTheyKnow)
{
    StartSim(0x0300012C); // 3.0.300: no resource check, no list event, no identity
    auto channel = Open(50, 1000);
    uint32_t answer = 99;
    EXPECT_EQ(channel->VerifyResources(3100, &answer), PX_NOT_SUPPORTED);
    EXPECT_EQ(answer, 0u);
    EXPECT_EQ(LogLines("CMD_VERIFY_RESOURCES"), 0u);
    EXPECT_EQ(channel->WatchDogIdentity(), 0u);
    EXPECT_EQ(channel->WatchDogStatus(), PX_OK);
    uint32_t count = 0;
    const PXBufferListEntry* records = nullptr;
    EXPECT_EQ(channel->GetBufferList(&count, &records), PX_OK);
    EXPECT_GT(count, 0u);
}

TEST_F(ChannelTest, OldAgentWithoutEnvelopes)
{
    StartSim(0x02010000); // 2.1.0
    auto channel = Open(0, 0);
    EXPECT_EQ(channel->AgentVersion(), 0x02010000u);
    uint32_t count = 0;
    const PXBufferListEntry* records = nullptr;
    ASSERT_EQ(channel->GetBufferList(&count, &records), PX_OK);
    EXPECT_EQ(count, m_sim.Buffers().size());
    EXPECT_FALSE(channel->HasWatchDog());
    EXPECT_EQ(channel->WatchDogStatus(), PX_NO_WATCHDOG);
}

TEST_F(ChannelTest, RefusedPublishPortKeepsCommError)
{
    pxsim::SimFaults faults;
    faults.bRefusePublish = true;
    StartSim(0x0400012C, faults);
    auto channel = Open(0, 0);
    EXPECT_FALSE(channel->Connected());
    uint32_t count = 7;
    const PXBufferListEntry* records = reinterpret_cast<const PXBufferListEntry*>(&count);
    EXPECT_EQ(channel->GetBufferList(&count, &records), PX_COMM_ERROR);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(records, nullptr);
    EXPECT_EQ(channel->StickyError(), PX_COMM_ERROR);
}

TEST_F(ChannelTest, WatchdogThatStopsSignallingIsLostForGood)
{
    pxsim::SimFaults faults;
    faults.dwWatchdogStopAfterMs = 200;
    StartSim(0x0400012C, faults);
    auto channel = Open(20, 150, 100, 3);
    ASSERT_TRUE(channel->HasWatchDog());
    ASSERT_TRUE(channel->WaitWatchDogLost(5000));
    EXPECT_EQ(channel->WatchDogStatus(), PX_WATCHDOG_LOST);

    // A request that now times out reports the lost watchdog, and the failure sticks.
    faults.dwReplyDelayMs = 1000;
    m_sim.SetFaults(faults);
    uint32_t count = 0;
    const PXBufferListEntry* records = nullptr;
    EXPECT_EQ(channel->GetBufferList(&count, &records), PX_WATCHDOG_LOST);
    EXPECT_EQ(channel->StickyError(), PX_COMM_ERROR);
    EXPECT_EQ(channel->GetBufferList(&count, &records), PX_COMM_ERROR);
    EXPECT_EQ(channel->WatchDogStatus(), PX_WATCHDOG_LOST);
    auto boxes = Boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), "PellixAgent Error: WaitForSingleObject error.\n");
}

TEST_F(ChannelTest, UnansweredCheckLeavesNoWatchdogAndNoMessage)
{
    pxsim::SimFaults faults;
    faults.bWatchdogNoCheckReply = true;
    StartSim(0x0400012C, faults);
    auto channel = Open(50, 1000);
    EXPECT_TRUE(channel->Connected());
    EXPECT_FALSE(channel->HasWatchDog());
    EXPECT_EQ(channel->WatchDogStatus(), PX_NO_WATCHDOG);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ChannelTest, HostileListCountIsRefusedWithoutAllocating)
{
    pxsim::SimFaults faults;
    faults.bHostileListCount = true;
    StartSim(0x0400012C, faults);
    auto channel = Open(0, 0);
    uint32_t count = 5;
    const PXBufferListEntry* records = nullptr;
    EXPECT_EQ(channel->GetBufferList(&count, &records), PX_COMM_ERROR);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(channel->StickyError(), PX_COMM_ERROR);
}

TEST_F(ChannelTest, EndingAChannelDoesNotWaitForTheNextSignal)
{
    StartSim(0x0400012C);
    auto channel = Open(60000, 120000); // the agent would signal once a minute
    ASSERT_TRUE(channel->HasWatchDog());
    uint64_t start = px::TickCount64();
    channel.reset();
    EXPECT_LT(px::TickCount64() - start, 2000u);
}
