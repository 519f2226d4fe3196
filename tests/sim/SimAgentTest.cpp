// The simulator as a camera agent, driven over loopback through the shared agent records.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <thread>
#include <vector>

#include "sim/SimPattern.h"
#include "tests/sim/SimTestClient.h"

using namespace simtest;
using pxsim::CKelvoSim;

namespace {

class SimAgent : public ::testing::Test {
protected:
    void StartSim(const pxsim::SimConfig& c) { ASSERT_EQ(sim.Start(c), 0); }
    void StartSim() { StartSim(TestConfig()); }
    void Open(CSimTestClient& client, const char* id)
    {
        ASSERT_TRUE(client.ConnectAndGreet(sim.BufferPort(id)));
        ASSERT_TRUE(client.Subscribe(id));
    }
    CKelvoSim sim;
};

uint64_t SerialOf(const Reply& r)
{
    return r.PartB(DATADESC_SERIAL_LOW) | (uint64_t{r.PartB(DATADESC_SERIAL_HIGH)} << 32);
}

} // namespace

TEST_F(SimAgent, GreetingFollowsTheConfiguredAgentVersion)
{
    struct Case {
        uint32_t version;
        bool extended;
        uint32_t seen;
    } cases[] = {{0x0400012C, true, 0x0400012C}, {0x040000C8, true, 0x040000C8}, {0x0300012C, true, 0x0300012C},
                 {0, true, 0}, {0x02010000, true, 0x02010000}, {0x01010000, false, kAgentDefaultVersion}};
    for (const Case& c : cases) {
        CKelvoSim s;
        ASSERT_EQ(s.Start(TestConfig(c.version)), 0);
        CSimTestClient client;
        ASSERT_TRUE(client.ConnectAndGreet(s.PublishPort())) << std::hex << c.version;
        EXPECT_EQ(client.Hello().bExtended, c.extended) << std::hex << c.version;
        EXPECT_EQ(client.Version(), c.seen);
        // The conversation then goes on in the form of that version.
        Reply list;
        ASSERT_TRUE(client.List(&list)) << std::hex << c.version;
        EXPECT_EQ(list.parts.dwRecordCount, 5u);
    }
}

TEST_F(SimAgent, OldAgentRepliesHaveTheFixedSizes)
{
    StartSim(TestConfig(0x02010000));
    CSimTestClient client;
    Open(client, "IMG0");
    // Raw bytes: part A (8), the 32-byte description, then word 1 of part A minus 40 data bytes.
    ASSERT_TRUE(client.SendCommand(AgentMakeGetData(BufferId::FromText("IMG0"), 1)));
    uint8_t head[40];
    ASSERT_EQ(client.Recv(head, sizeof head), Rx::Ok);
    std::vector<uint8_t> h(head, head + 40);
    EXPECT_EQ(Word(h, 0), uint32_t{CMD_GET_TRANSFER_BUFFER_DATA});
    EXPECT_EQ(Word(h, 1), 40u + 640 * 480);
    EXPECT_EQ(Word(h, 2 + DATADESC_REGION_WIDTH), 640u);
    std::vector<uint8_t> data(640 * 480);
    EXPECT_EQ(client.Recv(data.data(), data.size()), Rx::Ok);

    Reply params;
    ASSERT_TRUE(client.GetParams("IMG0", &params));
    EXPECT_EQ(params.parts.dwPartBSize, 12u);
    EXPECT_EQ(params.PartB(2), 1u);
    EXPECT_EQ(params.partC.size(), 60u);
}

TEST_F(SimAgent, BufferListNamesEveryBufferWithItsPort)
{
    pxsim::SimConfig c = TestConfig();
    c.dwListRecordSize = 600;
    c.buffers[0].strOwner = "vision-app";
    c.buffers[0].strComment = "left camera";
    StartSim(c);
    CSimTestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(sim.PublishPort()));
    Reply list;
    ASSERT_TRUE(client.List(&list));
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
        EXPECT_NE(e.usPort, 0);
        if (i == 0) {
            EXPECT_STREQ(e.szProcessName, "vision-app");
            EXPECT_STREQ(e.szText, "left camera");
        }
    }
}

TEST_F(SimAgent, InfoRecordsHaveTheSizesOfTheirTypes)
{
    pxsim::SimConfig c = TestConfig();
    c.buffers.clear();
    const uint32_t sizes[12] = {0, 60, 12, 16, 16, 16, 8, 12, 12, 12, 8, 16};
    for (uint32_t t = 1; t <= 11; ++t) {
        pxsim::SimBufferConfig b;
        char id[5];
        snprintf(id, sizeof id, "T%02ux", t);
        b.id = BufferId::FromText(id);
        b.dwType = t;
        c.buffers.push_back(b);
    }
    StartSim(c);
    CSimTestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(sim.PublishPort()));
    for (uint32_t t = 1; t <= 11; ++t) {
        char id[5];
        snprintf(id, sizeof id, "T%02ux", t);
        Reply r;
        ASSERT_TRUE(client.GetParams(id, &r)) << t;
        EXPECT_EQ(r.PartB(2), t);
        EXPECT_EQ(r.partC.size(), sizes[t]) << t;
    }
    Reply image;
    ASSERT_TRUE(client.GetParams("T01x", &image));
    EXPECT_EQ(Word(image.partC, IMAGE_FULL_SIZE_X), 640u);
    EXPECT_EQ(Word(image.partC, IMAGE_FULL_SIZE_Y), 480u);
    EXPECT_EQ(Word(image.partC, IMAGE_DATA_SIZE), 640u * 480);
    EXPECT_EQ(Word(image.partC, IMAGE_NUM_BANDS), 1u);
    EXPECT_EQ(Word(image.partC, IMAGE_SUBSECTION), 1u);
}

TEST_F(SimAgent, SubscriptionsAreCountedAndCarryTheirFields)
{
    StartSim();
    CSimTestClient a, b;
    ASSERT_TRUE(a.ConnectAndGreet(sim.BufferPort("IMG0")));
    ASSERT_TRUE(a.Subscribe("IMG0", "first", 0x1234));
    Open(b, "IMG0");
    uint32_t count = 0;
    ASSERT_TRUE(b.NumberOfClients(&count));
    EXPECT_EQ(count, 2u);
    const pxsim::SimSubscription s = sim.LastSubscription("IMG0");
    EXPECT_EQ(s.strClientName, "simtest");

    ASSERT_TRUE(a.SendCommand(AgentMakeBye()));
    EXPECT_TRUE(a.PeerClosed());
    ASSERT_TRUE(b.NumberOfClients(&count));
    EXPECT_EQ(count, 1u);

    // A 4.0.200 agent takes the 272-byte form, a newer one the identity.
    CKelvoSim old;
    ASSERT_EQ(old.Start(TestConfig(0x040000C8)), 0);
    CSimTestClient c;
    ASSERT_TRUE(c.ConnectAndGreet(old.BufferPort("IMG0")));
    ASSERT_TRUE(c.Subscribe("IMG0", "old", 0x55));
    ASSERT_TRUE(c.NumberOfClients(&count));
    EXPECT_FALSE(old.LastSubscription("IMG0").bWithWatchdogId);
    CSimTestClient d;
    ASSERT_TRUE(d.ConnectAndGreet(sim.BufferPort("IMG0")));
    ASSERT_TRUE(d.Subscribe("IMG0", "new", 0x55));
    ASSERT_TRUE(d.NumberOfClients(&count));
    EXPECT_TRUE(sim.LastSubscription("IMG0").bWithWatchdogId);
    EXPECT_EQ(sim.LastSubscription("IMG0").dwWatchdogId, 0x55u);
}

TEST_F(SimAgent, ForcedRequestAnswersAtOnceAndUnforcedWaitsForTheNextFrame)
{
    StartSim();
    CSimTestClient client;
    Open(client, "IMG0");
    Reply now;
    ASSERT_TRUE(client.GetData("IMG0", 1, &now));
    EXPECT_EQ(now.partC.size(), 640u * 480);
    const uint64_t serial = SerialOf(now);

    ASSERT_TRUE(client.SendCommand(AgentMakeGetData(BufferId::FromText("IMG0"), 0)));
    ASSERT_TRUE(sim.WaitForWaitingRequests(1, kWait));
    sim.ProduceFrame();
    Reply next;
    ASSERT_EQ(client.ReadReply(CMD_GET_TRANSFER_BUFFER_DATA, &next), Rx::Ok);
    EXPECT_EQ(SerialOf(next), serial + 1);
    EXPECT_NE(next.partC, now.partC);   // the pattern moved

    // CMD_FORCE_TRANSFER answers a waiting request with the frame there is.
    ASSERT_TRUE(client.SendCommand(AgentMakeGetData(BufferId::FromText("IMG0"), 0)));
    ASSERT_TRUE(sim.WaitForWaitingRequests(1, kWait));
    ASSERT_TRUE(client.SendCommand(AgentMakeForceTransfer(BufferId::FromText("IMG0"))));
    Reply forced;
    ASSERT_EQ(client.ReadReply(CMD_GET_TRANSFER_BUFFER_DATA, &forced), Rx::Ok);
    EXPECT_EQ(SerialOf(forced), serial + 1);
    EXPECT_TRUE(sim.WaitForWaitingRequests(0, kWait));
}

TEST_F(SimAgent, FramesComeAtTheConfiguredRateWithRisingSerials)
{
    pxsim::SimConfig c = TestConfig();
    c.dwFrameIntervalMs = 5;
    c.buffers[0].bSyncDelivery = true;
    StartSim(c);
    CSimTestClient client;
    Open(client, "IMG0");
    uint64_t last = 0;
    for (int i = 0; i < 3; ++i) {
        Reply r;
        ASSERT_TRUE(client.GetData("IMG0", 0, &r));
        EXPECT_GT(SerialOf(r), last);
        EXPECT_EQ(r.PartB(DATADESC_SYNC_DELIVERY), 1u);
        EXPECT_EQ(r.PartB(DATADESC_RESULT), 0u);
        last = SerialOf(r);
    }
}

TEST_F(SimAgent, NewWindowChangesTheNextFramesAndTheDataSize)
{
    pxsim::SimConfig c = TestConfig();
    c.buffers[0].dwPixelFormat = PX_FORMAT_RGB24;
    StartSim(c);
    CSimTestClient client;
    Open(client, "IMG0");
    Reply full, params;
    ASSERT_TRUE(client.GetData("IMG0", 1, &full));
    ASSERT_TRUE(client.GetParams("IMG0", &params));

    // Mode 1: the window at the offset, cut from the same frame.
    std::vector<uint8_t> info = params.partC;
    SetWord(&info, IMAGE_SIZE_X, 100);
    SetWord(&info, IMAGE_SIZE_Y, 50);
    SetWord(&info, IMAGE_OFFSET_X, 30);
    SetWord(&info, IMAGE_OFFSET_Y, 40);
    SetWord(&info, IMAGE_SUBSECTION, 1);
    ASSERT_TRUE(client.SetParams("IMG0", info));
    Reply window;
    ASSERT_TRUE(client.GetParams("IMG0", &params));
    EXPECT_EQ(Word(params.partC, IMAGE_DATA_SIZE), 100u * 50 * 3);
    ASSERT_TRUE(client.GetData("IMG0", 1, &window));
    ASSERT_EQ(window.partC.size(), 100u * 50 * 3);
    EXPECT_EQ(SerialOf(window), SerialOf(full));
    EXPECT_EQ(window.PartB(DATADESC_REGION_WIDTH), 100u);
    for (uint32_t y = 0; y < 50; ++y)
        ASSERT_EQ(0, memcmp(window.partC.data() + y * 300, full.partC.data() + ((40 + y) * 640 + 30) * 3, 300)) << y;

    // Mode 0: the whole image scaled to the size; a window sticking out is moved back in.
    SetWord(&info, IMAGE_SIZE_X, 320);
    SetWord(&info, IMAGE_SIZE_Y, 240);
    SetWord(&info, IMAGE_SUBSECTION, 0);
    ASSERT_TRUE(client.SetParams("IMG0", info));
    Reply scaled;
    ASSERT_TRUE(client.GetData("IMG0", 1, &scaled));
    ASSERT_EQ(scaled.partC.size(), 320u * 240 * 3);
    for (uint32_t y = 0; y < 240; y += 7)
        for (uint32_t x = 0; x < 320; x += 5)
            ASSERT_EQ(0, memcmp(scaled.partC.data() + (y * 320 + x) * 3, full.partC.data() + (2 * y * 640 + 2 * x) * 3,
                                3));
    SetWord(&info, IMAGE_SIZE_X, 200);
    SetWord(&info, IMAGE_OFFSET_X, 600);
    SetWord(&info, IMAGE_SUBSECTION, 1);
    ASSERT_TRUE(client.SetParams("IMG0", info));
    ASSERT_TRUE(client.GetParams("IMG0", &params));
    EXPECT_EQ(Word(params.partC, IMAGE_OFFSET_X), 440u);
}

TEST_F(SimAgent, RegionRepliesPlaceIntoTheFullImage)
{
    pxsim::SimConfig c = TestConfig();
    c.buffers[0].bRegionReplies = true;
    c.buffers[0].dwRegionX = 10;
    c.buffers[0].dwRegionY = 20;
    c.buffers[0].dwRegionW = 100;
    c.buffers[0].dwRegionH = 2;
    StartSim(c);
    CSimTestClient client;
    Open(client, "IMG0");
    Reply r;
    ASSERT_TRUE(client.GetData("IMG0", 1, &r));
    EXPECT_EQ(r.PartB(DATADESC_IS_REGION), 1u);
    ASSERT_EQ(r.partC.size(), 200u);
    std::vector<uint8_t> image(640 * 480, 0), expected(640 * 480);
    DataDesc desc;
    std::copy(std::begin(r.parts.dwPartB), std::end(r.parts.dwPartB), desc.dwWords);
    ASSERT_EQ(AgentPlaceRegion(AgentRegionOf(desc), 1, 640,
                               r.partC.data(), r.partC.size(), image.data(), image.size()),
              AGENT_OK);
    pxsim::SimGeometry g{640, 480, 640, 480, 0, 0, 1, 1};
    pxsim::SimRenderImage(g, SerialOf(r), expected.data());
    EXPECT_EQ(0, memcmp(image.data() + 12810, expected.data() + 12810, 100));
    EXPECT_EQ(0, memcmp(image.data() + 13450, expected.data() + 13450, 100));
    EXPECT_EQ(image[12809], 0);
}

TEST_F(SimAgent, HistogramTextArrayAndInputPayloads)
{
    StartSim();
    sim.ProduceFrame();
    CSimTestClient img, hist, text, arr, inp;
    Open(img, "IMG0");
    Open(hist, "HIST");
    Open(text, "TEXT");
    Open(arr, "ARR0");
    Open(inp, "INP0");

    Reply i, h;
    ASSERT_TRUE(img.GetData("IMG0", 1, &i));
    ASSERT_TRUE(hist.GetData("HIST", 1, &h));
    ASSERT_EQ(h.partC.size(), 1024u);
    EXPECT_EQ(SerialOf(h), SerialOf(i));
    uint32_t counted[256] = {};
    for (uint8_t v : i.partC)
        ++counted[v];
    for (int b = 0; b < 256; ++b)
        ASSERT_EQ(Word(h.partC, b), counted[b]) << b;

    Reply t;
    ASSERT_TRUE(text.GetData("TEXT", 1, &t));
    ASSERT_EQ(t.partC.size(), 128u);
    std::string decoded;
    for (size_t k = 0; k + 1 < t.partC.size() && (t.partC[k] || t.partC[k + 1]); k += 2) {
        EXPECT_EQ(t.partC[k + 1], 0);
        decoded += static_cast<char>(t.partC[k]);
    }
    EXPECT_EQ(decoded, "Kelvo TEXT frame " + std::to_string(SerialOf(t)));

    Reply a;
    ASSERT_TRUE(arr.GetData("ARR0", 1, &a));
    ASSERT_EQ(a.partC.size(), 8u + 16 * 4);
    EXPECT_EQ(Word(a.partC, 0), 3u);   // VT_I4
    EXPECT_EQ(Word(a.partC, 1), 16u);
    EXPECT_EQ(Word(a.partC, 2 + 5), SerialOf(a) + 5);

    const char typed[] = "hello camera";
    ASSERT_TRUE(inp.SendCommand(AgentMakeSendInput(BufferId::FromText("INP0"), sizeof typed), typed, sizeof typed));
    uint32_t count = 0;
    ASSERT_TRUE(inp.NumberOfClients(&count));   // an answered command after the input: it was handled
    const auto inputs = sim.Inputs("INP0");
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(inputs[0].data()), inputs[0].size()),
              std::string(typed, sizeof typed));
}

TEST_F(SimAgent, ResourceCheckAnswersForPublishedPortsOnly)
{
    StartSim();
    CSimTestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(sim.PublishPort()));
    uint32_t answer = 7;
    ASSERT_TRUE(client.VerifyResources(sim.BufferPort("IMG0"), &answer));
    EXPECT_EQ(answer, 1u);
    ASSERT_TRUE(client.VerifyResources(static_cast<uint16_t>(sim.PublishPort()), &answer));
    EXPECT_EQ(answer, 0u);
}

TEST_F(SimAgent, BuffersComeAndGoWhileRunning)
{
    StartSim();
    pxsim::SimBufferConfig extra;
    extra.id = BufferId::FromText("CAM2");
    extra.dwFullSizeX = 64;
    extra.dwFullSizeY = 48;
    uint16_t port = 0;
    ASSERT_EQ(sim.AddBuffer(extra, &port), 0);
    EXPECT_EQ(sim.AddBuffer(extra, &port), EEXIST);
    CSimTestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(sim.PublishPort()));
    Reply list;
    ASSERT_TRUE(client.List(&list));
    ASSERT_EQ(list.parts.dwRecordCount, 6u);
    BufferListEntry e;
    ASSERT_EQ(AgentDecodeBufferListEntry(list.partC.data() + 5 * 540, 540, &e), AGENT_OK);
    EXPECT_EQ(e.bufferId, BufferId::FromText("CAM2"));
    EXPECT_EQ(e.usPort, port);

    CSimTestClient cam;
    Open(cam, "CAM2");
    ASSERT_EQ(sim.RemoveBuffer("CAM2"), 0);
    EXPECT_EQ(sim.RemoveBuffer("CAM2"), ENOENT);
    EXPECT_TRUE(cam.PeerClosed());
    ASSERT_TRUE(client.List(&list));
    EXPECT_EQ(list.parts.dwRecordCount, 5u);
    CSimTestClient late;
    EXPECT_NE(late.Connect(port).code, 0u);
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
    c.buffers[0].dwFullSizeX = 100000;
    c.buffers[0].dwFullSizeY = 100000;
    EXPECT_EQ(sim.Start(c), EINVAL);
    // A port in use is reported as such.
    CKelvoSim first;
    ASSERT_EQ(first.Start(TestConfig()), 0);
    c = TestConfig();
    c.usPublishPort = first.PublishPort();
    EXPECT_EQ(sim.Start(c), EADDRINUSE);
    StartSim();
    EXPECT_EQ(sim.Start(TestConfig()), EALREADY);
}

TEST_F(SimAgent, ManyClientsShareTheFrames)
{
    pxsim::SimConfig c = TestConfig();
    c.dwFrameIntervalMs = 2;
    StartSim(c);
    constexpr int kClients = 4, kFrames = 20;
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < kClients; ++t) {
        threads.emplace_back([&, t] {
            CSimTestClient client;
            const char* id = t % 2 ? "IMG0" : "HIST";
            if (!client.ConnectAndGreet(sim.BufferPort(id)) || !client.Subscribe(id))
                return;
            uint64_t last = 0;
            for (int i = 0; i < kFrames; ++i) {
                Reply r;
                if (!client.GetData(id, 0, &r) || SerialOf(r) <= last)
                    return;
                last = SerialOf(r);
            }
            ++good;
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(good.load(), kClients);
}
