// The simulator as a camera agent, driven over loopback through the library's agent connection.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/sim/SimTestClient.h"

using namespace simtest;
using pxsim::CKelvoSim;

using SimAgent = SimTest;

TEST_F(SimAgent, BufferListAndResourceCheck)
{
    pxsim::SimConfig c = TestConfig();
    c.dwListRecordSize = 600;
    c.buffers[0].strOwner = "vision-app";
    c.buffers[0].strComment = "left camera";
    StartSim(c);
    CSimTestClient client;
    ASSERT_TRUE(client.Open(sim.PublishPort()));
    Reply list;
    ASSERT_TRUE(client.Exchange(AgentMakeGetBufferList(), &list));
    ASSERT_EQ(list.parts.dwRecordCount, 5u);
    ASSERT_EQ(list.parts.dwRecordSize, 600u);
    const char* ids[] = {"IMG0", "HIST", "TEXT", "ARR0", "INP0"};
    const uint32_t types[] = {1, 6, 5, 11, 101};
    for (size_t i = 0; i < 5; ++i) {
        BufferListEntry e;
        ASSERT_EQ(AgentDecodeBufferListEntry(list.partC.data() + i * 600, 600, &e), AGENT_OK);
        EXPECT_EQ(e.bufferId, BufferId::FromText(ids[i]));
        EXPECT_EQ(e.dwType, types[i]);
        EXPECT_EQ(e.usPort, sim.BufferPort(ids[i]));
    }
    BufferListEntry first;
    ASSERT_EQ(AgentDecodeBufferListEntry(list.partC.data(), 600, &first), AGENT_OK);
    EXPECT_STREQ(first.szProcessName, "vision-app");
    EXPECT_STREQ(first.szText, "left camera");

    // Published ports are available, others are not.
    Reply answer;
    ASSERT_TRUE(client.Exchange(AgentMakeVerifyResources(sim.BufferPort("HIST")), &answer));
    EXPECT_EQ(answer.PartB(1), 1u);
    ASSERT_TRUE(client.Exchange(AgentMakeVerifyResources(sim.PublishPort()), &answer));
    EXPECT_EQ(answer.PartB(1), 0u);
}

// Windows cut at their offset are checked through the client (ClientEndToEnd); here what only the
// wire shows: mode 0 scales the whole image, and a format change is told once, in the next frame.
TEST_F(SimAgent, ScaledWindowAndFormatChange)
{
    pxsim::SimConfig c = TestConfig();
    c.buffers[0].dwPixelFormat = PX_FORMAT_RGB24;
    StartSim(c);
    CSimTestClient client;
    Open(client, "IMG0");
    Reply full, params, scaled;
    ASSERT_TRUE(client.GetData("IMG0", 1, &full));
    ASSERT_TRUE(client.GetParams("IMG0", &params));
    std::vector<uint8_t> info = params.partC;
    SetWord(&info, IMAGE_SIZE_X, 320);
    SetWord(&info, IMAGE_SIZE_Y, 240);
    SetWord(&info, IMAGE_SUBSECTION, 0);
    ASSERT_TRUE(client.SetParams("IMG0", info));
    ASSERT_TRUE(client.GetData("IMG0", 1, &scaled));
    ASSERT_EQ(scaled.partC.size(), 320u * 240 * 3);
    EXPECT_EQ(scaled.Serial(), full.Serial());   // the same frame, made again at once
    for (uint32_t y = 0; y < 240; y += 7)
        for (uint32_t x = 0; x < 320; x += 5)
            ASSERT_EQ(0, memcmp(scaled.partC.data() + (y * 320 + x) * 3, full.partC.data() + (2 * y * 640 + 2 * x) * 3,
                                3));
    SetWord(&info, IMAGE_FORMAT, PX_FORMAT_RGB32);
    ASSERT_TRUE(client.SetParams("IMG0", info));
    ASSERT_TRUE(client.GetParams("IMG0", &params));   // the change has no reply: this one orders it
    sim.ProduceFrame();
    Reply told, after;
    ASSERT_TRUE(client.GetData("IMG0", 1, &told));
    EXPECT_EQ(told.PartB(DATADESC_NEW_FORMAT), uint32_t{PX_FORMAT_RGB32});
    EXPECT_EQ(told.partC.size(), 320u * 240 * 4);
    sim.ProduceFrame();
    ASSERT_TRUE(client.GetData("IMG0", 1, &after));
    EXPECT_EQ(after.PartB(DATADESC_NEW_FORMAT), 0u);
}

TEST_F(SimAgent, BuffersComeAndGoWhileRunning)
{
    StartSim();
    pxsim::SimBufferConfig extra;
    extra.id = BufferId::FromText("CAM2");
    uint16_t port = 0;
    ASSERT_EQ(sim.AddBuffer(extra, &port), 0);
    EXPECT_EQ(sim.AddBuffer(extra, &port), EEXIST);
    CSimTestClient client, cam;
    ASSERT_TRUE(client.Open(sim.PublishPort()));
    Reply list;
    ASSERT_TRUE(client.Exchange(AgentMakeGetBufferList(), &list));
    ASSERT_EQ(list.parts.dwRecordCount, 6u);
    BufferListEntry e;
    ASSERT_EQ(AgentDecodeBufferListEntry(list.partC.data() + 5 * 540, 540, &e), AGENT_OK);
    EXPECT_EQ(e.bufferId, BufferId::FromText("CAM2"));
    EXPECT_EQ(e.usPort, port);

    Open(cam, "CAM2");
    ASSERT_EQ(sim.RemoveBuffer("CAM2"), 0);
    EXPECT_EQ(sim.RemoveBuffer("CAM2"), ENOENT);
    EXPECT_TRUE(cam.PeerClosed());
    ASSERT_TRUE(client.Exchange(AgentMakeGetBufferList(), &list));
    EXPECT_EQ(list.parts.dwRecordCount, 5u);
    CSimTestClient late;
    EXPECT_FALSE(late.Open(port));
}

TEST_F(SimAgent, BadSettingsAreRefusedAndLeaveNothingRunning)
{
    pxsim::SimConfig c = TestConfig();
    c.buffers.push_back(c.buffers[0]);   // IMG0 twice
    EXPECT_EQ(sim.Start(c), EEXIST);
    EXPECT_FALSE(sim.Running());
    c = TestConfig();
    c.buffers[0].dwPixelFormat = 3;
    EXPECT_EQ(sim.Start(c), EINVAL);
    c = TestConfig();
    c.buffers[0].dwFullSizeX = c.buffers[0].dwFullSizeY = 100000;
    EXPECT_EQ(sim.Start(c), EINVAL);
    CKelvoSim first;
    ASSERT_EQ(first.Start(TestConfig()), 0);
    c = TestConfig();
    c.usPublishPort = first.PublishPort();
    EXPECT_EQ(sim.Start(c), EADDRINUSE);
    EXPECT_EQ(sim.StartFailure(), "publish port " + std::to_string(first.PublishPort()));
    c = TestConfig();
    c.buffers[0].usPort = first.BufferPort("IMG0");
    EXPECT_EQ(sim.Start(c), EADDRINUSE);
    EXPECT_EQ(sim.StartFailure(), "port " + std::to_string(c.buffers[0].usPort) + " of buffer IMG0");
    StartSim();
    EXPECT_EQ(sim.Start(TestConfig()), EALREADY);
}
