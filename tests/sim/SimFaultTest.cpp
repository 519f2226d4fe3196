// The simulator's fault switches, and its own robustness against a hostile client.
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/sim/SimTestClient.h"

using namespace simtest;
using pxsim::CKelvoSim;

using SimFault = SimTest;

TEST_F(SimFault, RefusedPortsTurnClientsAway)
{
    pxsim::SimFaults f;
    f.bRefusePublish = true;
    StartWith(f);
    CSimTestClient refused, before, after;
    EXPECT_FALSE(refused.Open(sim.PublishPort()));
    EXPECT_EQ(refused.Failure(), (NetResult{NET_CONNECT_ERROR, ECONNREFUSED}));

    // Switched on while running: new connections end before the greeting, old ones go on.
    Open(before);
    f.bRefuseBuffers = true;
    sim.SetFaults(f);
    EXPECT_FALSE(after.Open(sim.BufferPort("IMG0")));
    Reply r;
    EXPECT_TRUE(before.GetData("IMG0", 1, &r));
}

TEST_F(SimFault, HostileSizes)
{
    pxsim::SimFaults f;
    f.bHostilePartC = true;
    StartWith(f);
    CSimTestClient client;
    Open(client);
    Reply r;
    ASSERT_TRUE(client.GetData("IMG0", 1, &r));
    EXPECT_GT(r.partC.size(), 640u * 480);   // more than the buffer holds, and sent

    f.bHostilePartC = false;
    f.bHostileRegion = true;
    f.bHostileListCount = true;
    sim.SetFaults(f);
    ASSERT_TRUE(client.GetData("IMG0", 1, &r));
    ASSERT_EQ(r.PartB(DATADESC_IS_REGION), 1u);
    DataDesc desc;
    for (size_t i = 0; i < kAgentDataDescWords; ++i)
        desc.dwWords[i] = r.PartB(i);
    std::vector<uint8_t> image(640 * 480);
    EXPECT_EQ(AgentPlaceRegion(AgentRegionOf(desc), 1, 640, r.partC.data(), r.partC.size(), image.data(), image.size()),
              AGENT_OUT_OF_BOUNDS);

    // The list claims 2^31 records in its envelope and in part B word 0.
    CSimTestClient publish;
    ASSERT_TRUE(publish.Open(sim.PublishPort()));
    ASSERT_TRUE(publish.Command(AgentMakeGetBufferList()));
    std::vector<uint8_t> head(kAgentReplyEnvelopeSize + 8 + 4);
    ASSERT_TRUE(publish.Receive(head.data(), head.size()));
    EXPECT_EQ(Word(head, 4), 0x80000000u);
    EXPECT_EQ(Word(head, 16), 0x80000000u);
}

TEST_F(SimFault, HostileClientsDoNotHurtTheSimulator)
{
    StartWith({});
    const uint16_t port = sim.BufferPort("IMG0");
    {
        CSimTestClient garbage;   // an envelope of the wrong size
        ASSERT_TRUE(garbage.Open(port));
        uint8_t bad[56] = {125, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
        ASSERT_TRUE(garbage.Send(bad, sizeof bad));
        EXPECT_TRUE(garbage.PeerClosed());
    }
    {
        CSimTestClient huge;      // 2 GiB of input announced
        ASSERT_TRUE(huge.Open(port));
        ASSERT_TRUE(huge.Command(AgentMakeSendInput(BufferId::FromText("IMG0"), 0x7FFFFFF0u)));
        EXPECT_TRUE(huge.PeerClosed());
    }
    {
        CSimTestClient absurd;    // a geometry far outside the image is corrected, not obeyed
        ASSERT_TRUE(absurd.Open(port));
        Reply params;
        ASSERT_TRUE(absurd.GetParams("IMG0", &params));
        std::vector<uint8_t> info = params.partC;
        SetWord(&info, IMAGE_SIZE_X, 0xFFFFFFFF);
        SetWord(&info, IMAGE_SIZE_Y, 3);
        SetWord(&info, IMAGE_OFFSET_X, 0xFFFFFFF0);
        SetWord(&info, IMAGE_OFFSET_Y, 0xFFFFFFF0);
        SetWord(&info, IMAGE_SUBSECTION, 9);
        SetWord(&info, IMAGE_FORMAT, 12345);
        ASSERT_TRUE(absurd.SetParams("IMG0", info));
        Reply r;
        ASSERT_TRUE(absurd.GetData("IMG0", 1, &r));
        EXPECT_EQ(r.partC.size(), 640u * 3);
        ASSERT_TRUE(absurd.GetParams("IMG0", &params));
        EXPECT_EQ(Word(params.partC, IMAGE_OFFSET_Y), 477u);
        EXPECT_EQ(Word(params.partC, IMAGE_SUBSECTION), 1u);
        EXPECT_EQ(Word(params.partC, IMAGE_FORMAT), 1u);
    }
    CSimTestClient fine;
    ASSERT_TRUE(fine.Open(port));
    Reply r;
    EXPECT_TRUE(fine.GetParams("IMG0", &r));
}
