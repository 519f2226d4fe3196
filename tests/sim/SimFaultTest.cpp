// The simulator's fault switches, and its own robustness against a hostile client.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/Clock.h"
#include "tests/sim/SimTestClient.h"

using namespace simtest;
using pxsim::CKelvoSim;

namespace {

class SimFault : public ::testing::Test {
protected:
    void StartWith(const pxsim::SimFaults& f)
    {
        pxsim::SimConfig c = TestConfig();
        c.faults = f;
        ASSERT_EQ(sim.Start(c), 0);
    }
    void Open(CSimTestClient& client, const char* id = "IMG0")
    {
        ASSERT_TRUE(client.ConnectAndGreet(sim.BufferPort(id)));
        ASSERT_TRUE(client.Subscribe(id));
    }
    CKelvoSim sim;
};

} // namespace

TEST_F(SimFault, RefusedPortsTurnClientsAway)
{
    pxsim::SimFaults f;
    f.bRefusePublish = true;
    StartWith(f);
    CSimTestClient a;
    const NetResult r = a.Connect(sim.PublishPort());
    EXPECT_EQ(r.code, uint32_t{NET_CONNECT_ERROR});
    EXPECT_EQ(r.detail, uint32_t{ECONNREFUSED});

    // Switched on while running: the connection is reset before the greeting.
    CSimTestClient before;
    Open(before);
    f.bRefuseBuffers = true;
    sim.SetFaults(f);
    CSimTestClient b;
    if (b.Connect(sim.BufferPort("IMG0")).code == 0) {
        EXPECT_FALSE(b.Greet());
    }
    // A connection made before keeps working.
    Reply r2;
    EXPECT_TRUE(before.GetData("IMG0", 1, &r2));
}

TEST_F(SimFault, ConnectionDroppedAfterRequests)
{
    pxsim::SimFaults f;
    f.dwDropAfterRequests = 3;   // subscription and two data requests
    StartWith(f);
    CSimTestClient client;
    Open(client);
    Reply r;
    ASSERT_TRUE(client.GetData("IMG0", 1, &r));
    ASSERT_TRUE(client.GetData("IMG0", 1, &r));
    EXPECT_TRUE(client.PeerClosed());
}

TEST_F(SimFault, ConnectionDroppedInTheMiddleOfAReply)
{
    pxsim::SimFaults f;
    f.bDropMidReply = true;
    StartWith(f);
    CSimTestClient client;
    Open(client);
    ASSERT_TRUE(client.SendCommand(AgentMakeGetData(BufferId::FromText("IMG0"), 1)));
    Reply r;
    EXPECT_EQ(client.ReadReply(CMD_GET_TRANSFER_BUFFER_DATA, &r), Rx::Failed);
    // Other replies are whole.
    CSimTestClient publish;
    ASSERT_TRUE(publish.ConnectAndGreet(sim.PublishPort()));
    EXPECT_TRUE(publish.List(&r));
}

TEST_F(SimFault, RepliesDelayed)
{
    pxsim::SimFaults f;
    f.dwReplyDelayMs = 150;
    StartWith(f);
    CSimTestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(sim.PublishPort()));
    const uint64_t start = px::TickCount64();
    Reply r;
    ASSERT_TRUE(client.List(&r));
    EXPECT_GE(px::TickCount64() - start, 150u);
}

TEST_F(SimFault, ResourceCheckAnsweredWithZero)
{
    pxsim::SimFaults f;
    f.bResourceCheckZero = true;
    StartWith(f);
    CSimTestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(sim.PublishPort()));
    uint32_t answer = 1;
    ASSERT_TRUE(client.VerifyResources(sim.BufferPort("IMG0"), &answer));
    EXPECT_EQ(answer, 0u);
}

TEST_F(SimFault, ShortReplyLeavesTheClientWaiting)
{
    pxsim::SimFaults f;
    f.bShortReply = true;
    StartWith(f);
    CSimTestClient client;
    Open(client);
    ASSERT_TRUE(client.SendCommand(AgentMakeGetData(BufferId::FromText("IMG0"), 1)));
    Reply r;
    EXPECT_EQ(client.ReadReply(CMD_GET_TRANSFER_BUFFER_DATA, &r, 300), Rx::Timeout);
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
    EXPECT_GT(r.parts.dwPartCSize, 640u * 480);   // more than the buffer holds
    EXPECT_EQ(r.envelope.dwPartCSize, r.parts.dwPartCSize);

    f.bHostilePartC = false;
    f.bHostileRegion = true;
    f.bHostileListCount = true;
    sim.SetFaults(f);
    ASSERT_TRUE(client.GetData("IMG0", 1, &r));
    ASSERT_EQ(r.PartB(DATADESC_IS_REGION), 1u);
    DataDesc desc;
    for (size_t i = 0; i < kAgentDataDescWords; ++i)
        desc.dwWords[i] = r.PartB(i);
    const AgentRegion region = AgentRegionOf(desc);
    EXPECT_GT(region.dwX + region.dwWidth, 640u);
    std::vector<uint8_t> image(640 * 480);
    EXPECT_EQ(AgentPlaceRegion(region, 1, 640, r.partC.data(), r.partC.size(), image.data(), image.size()),
              AGENT_OUT_OF_BOUNDS);

    // The list claims 2^31 records: envelope word 4 and part B word 0.
    CSimTestClient publish;
    ASSERT_TRUE(publish.ConnectAndGreet(sim.PublishPort()));
    ASSERT_TRUE(publish.SendCommand(AgentMakeGetBufferList()));
    std::vector<uint8_t> head(kAgentReplyEnvelopeSize + 8 + 4);
    ASSERT_EQ(publish.Recv(head.data(), head.size()), Rx::Ok);
    EXPECT_EQ(Word(head, 4), 0x80000000u);
    EXPECT_EQ(Word(head, 16), 0x80000000u);
}

TEST_F(SimFault, HostileClientsDoNotHurtTheSimulator)
{
    StartWith({});
    const uint16_t port = sim.BufferPort("IMG0");
    {
        CSimTestClient garbage;   // an envelope of the wrong size
        ASSERT_TRUE(garbage.ConnectAndGreet(port));
        uint8_t bad[56] = {125, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
        ASSERT_TRUE(garbage.Send(bad, sizeof bad));
        EXPECT_TRUE(garbage.PeerClosed());
    }
    {
        CSimTestClient huge;      // 2 GiB of input announced
        ASSERT_TRUE(huge.ConnectAndGreet(port));
        AgentCommand c = AgentMakeSendInput(BufferId::FromText("IMG0"), 0x7FFFFFF0u);
        ASSERT_TRUE(huge.SendCommand(c));
        EXPECT_TRUE(huge.PeerClosed());
    }
    {
        CSimTestClient silent;    // no greeting at all, then gone
        ASSERT_EQ(silent.Connect(port).code, 0u);
    }
    {
        CSimTestClient absurd;    // a geometry far outside the image is corrected, not obeyed
        ASSERT_TRUE(absurd.ConnectAndGreet(port));
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
    ASSERT_TRUE(fine.ConnectAndGreet(port));
    Reply r;
    EXPECT_TRUE(fine.GetParams("IMG0", &r));
}

TEST_F(SimFault, WatchdogFaultsReachTheWatchdogPort)
{
    StartWith({});
    CSimTestClient wd;
    ASSERT_EQ(wd.Connect(sim.WatchdogPort()).code, 0u);
    const auto check = AgentEncodeMessage(AgentMessage{0, WD_CHECK});
    ASSERT_TRUE(wd.Send(check.data(), check.size()));
    uint8_t reply[8];
    ASSERT_EQ(wd.Recv(reply, sizeof reply), Rx::Ok);
    AgentMessage m;
    ASSERT_EQ(AgentDecodeMessage(reply, sizeof reply, &m), AGENT_OK);
    EXPECT_EQ(m.dwValue, 1u);

    pxsim::SimFaults f;
    f.bWatchdogNoCheckReply = true;
    f.dwWatchdogStopAfterMs = 100;
    sim.SetFaults(f);
    ASSERT_TRUE(wd.Send(check.data(), check.size()));
    EXPECT_EQ(wd.Recv(reply, sizeof reply, 300), Rx::Timeout);

    // Signals every 10 ms, ending 100 ms after the start.
    CSimTestClient signals;
    ASSERT_EQ(signals.Connect(sim.WatchdogPort()).code, 0u);
    const auto delay = AgentEncodeMessage(AgentMessage{10, WD_SET_DELAY});
    const auto start = AgentEncodeMessage(AgentMessage{0, WD_START});
    ASSERT_TRUE(signals.Send(delay.data(), delay.size()));
    ASSERT_TRUE(signals.Send(start.data(), start.size()));
    int received = 0;
    while (signals.Recv(reply, sizeof reply, 500) == Rx::Ok) {
        ASSERT_EQ(AgentDecodeMessage(reply, sizeof reply, &m), AGENT_OK);
        EXPECT_EQ(m.dwCode, uint32_t{WD_SIGNAL});
        ASSERT_LT(++received, 100);
    }
    EXPECT_GT(received, 0);
}

TEST_F(SimFault, BufferListChangesAreAnnounced)
{
    StartWith({});
    uint8_t bytes[8];   // before the client: a receive may still be pending into it at the end
    CSimTestClient msg;
    ASSERT_EQ(msg.Connect(sim.MessagePort()).code, 0u);
    pxsim::SimBufferConfig b;
    b.id = BufferId::FromText("NEW1");
    // The message server may not have taken the connection yet when the first change comes;
    // each round changes the list again and waits for the message.
    bool announced = false;
    for (int round = 0; round < 50 && !announced; ++round) {
        ASSERT_EQ(sim.AddBuffer(b, nullptr), 0);
        ASSERT_EQ(sim.RemoveBuffer("NEW1"), 0);
        announced = (round == 0 ? msg.Recv(bytes, sizeof bytes, 100, true) : msg.WaitMore(100, true)) == Rx::Ok;
    }
    ASSERT_TRUE(announced);
    AgentMessage m;
    ASSERT_EQ(AgentDecodeMessage(bytes, sizeof bytes, &m), AGENT_OK);
    EXPECT_EQ(m.dwCode, uint32_t{MSG_BUFFER_LIST_CHANGED});
}
