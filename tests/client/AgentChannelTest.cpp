// The agent channel against the simulated camera: the buffer list, the resource check, the
// message link and the watchdog, for the agent generations that differ, and their failures.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/Clock.h"
#include "tests/client/ClientTestUtil.h"

using namespace clienttest;

TEST(AgentChannel, NewAgentListsBuffersChecksResourcesAndRunsTheWatchdog)
{
    CTestCamera camera;
    camera.Start();
    CBoxCatcher boxes;
    auto channel = camera.Channel(50, 1000);
    ASSERT_TRUE(channel->Connected());
    EXPECT_EQ(channel->AgentVersion(), 0x0400012Cu);
    EXPECT_EQ(channel->WatchDogStatus(), PX_OK);
    EXPECT_EQ(channel->WatchDogIdentity(), 0x4B454C56u);

    uint32_t count = 0;
    const PXBufferListEntry* records = nullptr;
    ASSERT_EQ(channel->GetBufferList(&count, &records), PX_OK);
    ASSERT_EQ(count, 5u);
    const PXBufferListEntry first = records[0];
    EXPECT_EQ(first.port, camera.sim.BufferPort(std::string(first.id, 4).c_str()));
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
    camera.sim.SetFaults(faults);
    EXPECT_EQ(channel->VerifyResources(first.port, &answer), PX_OK);
    EXPECT_EQ(answer, 0u);

    // The message link reports a new buffer list.
    ASSERT_NE(channel->ListChangedEvent(), nullptr);
    pxsim::SimBufferConfig extra;
    extra.id = BufferId::FromText("NEW1");
    ASSERT_EQ(camera.sim.AddBuffer(extra, nullptr), 0);
    EXPECT_EQ(channel->ListChangedEvent()->Wait(5000), px::WaitResult::Signaled);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(AgentChannel, OlderAgentsGetTheFormsTheyKnow)
{
    {
        CTestCamera camera;
        camera.Start(TestConfig(0x0300012C));   // 3.0.300: no resource check, no identity
        auto channel = camera.Channel(50, 1000);
        uint32_t answer = 99;
        EXPECT_EQ(channel->VerifyResources(3100, &answer), PX_NOT_SUPPORTED);
        EXPECT_EQ(answer, 0u);
        EXPECT_EQ(camera.Count("CMD_VERIFY_RESOURCES"), 0u);
        EXPECT_EQ(channel->WatchDogIdentity(), 0u);
        EXPECT_EQ(channel->WatchDogStatus(), PX_OK);
    }
    CTestCamera camera;
    camera.Start(TestConfig(0x02010000));   // 2.1.0: no envelopes
    auto channel = camera.Channel(0, 0);
    EXPECT_EQ(channel->AgentVersion(), 0x02010000u);
    uint32_t count = 0;
    const PXBufferListEntry* records = nullptr;
    ASSERT_EQ(channel->GetBufferList(&count, &records), PX_OK);
    EXPECT_EQ(count, 5u);
    EXPECT_FALSE(channel->HasWatchDog());
    EXPECT_EQ(channel->WatchDogStatus(), PX_NO_WATCHDOG);
}

TEST(AgentChannel, FailuresOfThePublishPortAreKept)
{
    struct Case {
        const char* name;
        void (*set)(pxsim::SimFaults*);
    } cases[] = {
        {"refused", [](pxsim::SimFaults* f) { f->bRefusePublish = true; }},
        {"list of 2^31 records", [](pxsim::SimFaults* f) { f->bHostileListCount = true; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pxsim::SimConfig config = TestConfig();
        c.set(&config.faults);
        CTestCamera camera;
        camera.Start(config);
        auto channel = camera.Channel(0, 0);
        uint32_t count = 7;
        const PXBufferListEntry* records = reinterpret_cast<const PXBufferListEntry*>(&count);
        EXPECT_EQ(channel->GetBufferList(&count, &records), PX_COMM_ERROR);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(records, nullptr);
        EXPECT_EQ(channel->StickyError(), PX_COMM_ERROR);
        EXPECT_FALSE(channel->Connected());
    }
}

TEST(AgentChannel, WatchdogThatIsNotAnsweredOrStopsSignalling)
{
    pxsim::SimConfig config = TestConfig();
    config.faults.bWatchdogNoCheckReply = true;
    {
        CTestCamera camera;
        camera.Start(config);
        CBoxCatcher boxes;
        auto channel = camera.Channel(50, 1000);
        EXPECT_TRUE(channel->Connected());
        EXPECT_FALSE(channel->HasWatchDog());   // dropped without a word
        EXPECT_EQ(channel->WatchDogStatus(), PX_NO_WATCHDOG);
        EXPECT_TRUE(boxes.Boxes().empty());
    }
    config.faults.bWatchdogNoCheckReply = false;
    config.faults.dwWatchdogStopAfterMs = 200;
    CTestCamera camera;
    camera.Start(config);
    auto channel = camera.Channel(20, 150);
    ASSERT_TRUE(channel->HasWatchDog());
    ASSERT_TRUE(channel->WaitWatchDogLost(5000));
    EXPECT_EQ(channel->WatchDogStatus(), PX_WATCHDOG_LOST);
    EXPECT_TRUE(channel->Connected());   // the camera's connection is not judged by it
}

TEST(AgentChannel, EndingAChannelDoesNotWaitForTheNextSignal)
{
    CTestCamera camera;
    camera.Start();
    auto channel = camera.Channel(60000, 120000);   // the agent would signal once a minute
    ASSERT_TRUE(channel->HasWatchDog());
    const uint64_t start = px::TickCount64();
    channel.reset();
    EXPECT_LT(px::TickCount64() - start, 30000u);
}
