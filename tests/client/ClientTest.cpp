// The exchange-buffer client end to end against the simulated camera: subscriptions and data of
// every buffer type, old and new agents, window changes, the
// replies of a hostile camera, and the trace lines in a real log file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "log/PellixLogger.h"
#include "log/XmlLogger.h"
#include "sim/SimPattern.h"
#include "netaccess/protocol/AgentBytes.h"
#include "tests/client/ClientTestUtil.h"

using namespace clienttest;

namespace {

uint64_t SerialOf(CClient& client)
{
    uint32_t serial[2] = {};
    EXPECT_EQ(client.GetTransferBufferDataDesc("IMG0", 2009, serial), PX_OK);
    return serial[0] | (uint64_t{serial[1]} << 32);
}

uint32_t Item(CClient& client, const char* id, uint32_t item)
{
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(client.GetTransferBufferInfo(id, item, &value), PX_OK);
    return value;
}

pxsim::SimGeometry GeometryOf(CClient& client, const char* id)
{
    pxsim::SimGeometry g;
    g.dwFullSizeX = Item(client, id, 1004);
    g.dwFullSizeY = Item(client, id, 1005);
    g.dwSizeX = Item(client, id, 1002);
    g.dwSizeY = Item(client, id, 1003);
    g.dwOffsetX = Item(client, id, 1006);
    g.dwOffsetY = Item(client, id, 1007);
    g.dwSubsection = Item(client, id, 1012);
    g.dwPixelFormat = Item(client, id, 1011);
    return g;
}

// Reads one image at once and compares it with the simulator's pattern for its geometry.
void ExpectPattern(CClient& client, pxsim::CKelvoSim& sim, const char* id)
{
    const uint32_t size = Item(client, id, 1001);
    std::vector<uint8_t> image(size);
    uint32_t received = 0;
    uint32_t record[15] = {};
    ASSERT_EQ(client.GetTransferBufferData(id, 1, image.data(), record, &received), PX_OK);
    ASSERT_EQ(received, 1u);
    EXPECT_EQ(record[6], size);
    const pxsim::SimGeometry g = GeometryOf(client, id);
    ASSERT_EQ(pxsim::SimImageBytes(g), size);
    std::vector<uint8_t> expected(size);
    // Old agents send the first 8 words of the description only: no serial counter.
    const uint64_t serial = sim.Serial(id);
    EXPECT_EQ(SerialOf(client), AgentUsesEnvelopes(client.AgentVersion()) ? serial : 0);
    pxsim::SimRenderImage(g, serial, expected.data());
    EXPECT_TRUE(image == expected) << "format " << g.dwPixelFormat;
}

} // namespace

// Every pixel format read through the client is PellixSrcTest.CapsAndPixelsOfEveryFormatFromThePool.
TEST(ClientEndToEnd, ReadsEveryBufferType)
{
    pxsim::SimConfig config = TestConfig();
    for (uint32_t type : {2u, 3u, 4u, 7u, 8u, 9u, 10u}) {
        pxsim::SimBufferConfig b;
        char id[8];
        std::snprintf(id, sizeof id, "T%03u", type);
        b.id = px::agent::BufferId::FromText(id);
        b.dwType = type;
        config.buffers.push_back(b);
    }
    pxsim::CKelvoSim sim;
    ASSERT_EQ(sim.Start(config), 0);
    sim.ProduceFrame();

    for (const pxsim::SimBufferConfig& b : config.buffers) {
        const std::string id(b.id.ToText().c_str());
        SCOPED_TRACE(id);
        auto client = OpenClient(sim, id.c_str());
        ASSERT_EQ(client->SetTransferBuffer(id.c_str(), 0), PX_OK);
        EXPECT_EQ(client->BufferType(), b.dwType);
        EXPECT_EQ(Item(*client, id.c_str(), 1010), b.dwType);
        if (b.dwType == 1) {
            ExpectPattern(*client, sim, id.c_str());
            continue;
        }
        const uint32_t size = b.dwType == 101 ? 0 : Item(*client, id.c_str(), 1001);
        std::vector<uint8_t> data(size + 1);
        uint32_t received = 7;
        ASSERT_EQ(client->GetTransferBufferData(id.c_str(), 1, data.data(), nullptr, &received), PX_OK);
        data.resize(size);
        uint32_t serial[2] = {};
        client->GetTransferBufferDataDesc(id.c_str(), 2009, serial);
        std::vector<uint8_t> expected(size);
        switch (b.dwType) {
        case 5: pxsim::SimRenderText(b.id, serial[0], b.dwTextChars, expected.data()); break;
        case 11: pxsim::SimRenderArray(b.dwArrayType, b.dwArrayCount, serial[0], expected.data()); break;
        case 101: break;
        case 6: {
            // A histogram counts every pixel of the 640 x 480 image once.
            uint64_t total = 0;
            for (uint32_t bin = 0; bin < 256; ++bin)
                total += GetLe32(data.data() + 4 * bin);
            EXPECT_EQ(total, 640u * 480u);
            expected = data;
            break;
        }
        default: pxsim::SimRenderWords(serial[0], size, expected.data()); break;
        }
        EXPECT_EQ(received, b.dwType == 101 ? 0u : 1u);
        EXPECT_TRUE(data == expected);
    }
}

TEST(ClientEndToEnd, OldAndNewAgents)
{
    struct Case {
        uint32_t version;
        bool withWatchdogId;
        uint32_t clientsResult;
    } cases[] = {{0x01010000, false, PX_NOT_SUPPORTED}, {0x02010000, false, PX_NOT_SUPPORTED},
                 {0x02020000, false, PX_OK}, {0x040000C8, false, PX_OK}, {0x0400012C, true, PX_OK},
                 {0, true, PX_OK}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        pxsim::CKelvoSim sim;
        ASSERT_EQ(sim.Start(TestConfig(c.version)), 0);
        sim.ProduceFrame();
        auto client = OpenClient(sim, "IMG0");
        EXPECT_EQ(client->AgentVersion(), c.version);
        ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
        ExpectPattern(*client, sim, "IMG0");
        const pxsim::SimSubscription s = sim.LastSubscription("IMG0");
        EXPECT_EQ(s.strClientName, "client-test");
        EXPECT_EQ(s.dwWaitForUpdate, 1u);
        EXPECT_EQ(s.bWithWatchdogId, c.withWatchdogId);
        EXPECT_EQ(s.dwWatchdogId, 0u);   // no agent channel
        uint32_t count = 99;
        EXPECT_EQ(client->GetNumberOfClient("IMG0", &count), c.clientsResult);
        EXPECT_EQ(count, c.clientsResult == PX_OK ? 1u : 99u);
        // Input reaches the agent in one piece, for old and new agents alike.
        const uint8_t input[5] = {1, 2, 3, 4, 5};
        EXPECT_EQ(client->SendInput("INP0", sizeof input, input), PX_OK);
        EXPECT_EQ(client->GetTransferBufferData("IMG0", 1, std::vector<uint8_t>(640 * 480).data(), nullptr, &count),
                  PX_OK);  // the input has been handled before this reply
        ASSERT_EQ(sim.Inputs("IMG0").size(), 1u);
        EXPECT_EQ(sim.Inputs("IMG0")[0], std::vector<uint8_t>(input, input + 5));
    }
}

TEST(ClientEndToEnd, WindowChangesThroughTheInfoRecord)
{
    pxsim::CKelvoSim sim;
    ASSERT_EQ(sim.Start(TestConfig()), 0);
    auto client = OpenClient(sim, "IMG0");
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 0), PX_OK);
    const uint32_t w = 320, h = 200, x = 100, y = 50, rgb32 = PX_FORMAT_RGB32;
    EXPECT_EQ(client->SetTransferBufferInfo("IMG0", 1002, &w), PX_OK);
    EXPECT_EQ(client->SetTransferBufferInfo("IMG0", 1003, &h), PX_OK);
    EXPECT_EQ(client->SetTransferBufferInfo("IMG0", 1006, &x), PX_OK);
    EXPECT_EQ(client->SetTransferBufferInfo("IMG0", 1007, &y), PX_OK);
    EXPECT_EQ(client->SetTransferBufferInfo("IMG0", 1011, &rgb32), PX_OK);
    // The info record is read anew after each change: the camera's corrected values.
    EXPECT_EQ(Item(*client, "IMG0", 1002), w);
    EXPECT_EQ(Item(*client, "IMG0", 1007), y);
    EXPECT_EQ(Item(*client, "IMG0", 1011), rgb32);
    EXPECT_EQ(Item(*client, "IMG0", 1001), w * h * 4);
    ExpectPattern(*client, sim, "IMG0");

    // The whole record at once; an offset beyond the image is corrected by the camera.
    uint32_t record[15] = {};
    ASSERT_EQ(client->GetTransferBufferInfo("IMG0", record), PX_OK);
    record[10] = 64;
    record[11] = 48;
    record[8] = 700;
    record[14] = PX_FORMAT_MONO8;
    EXPECT_EQ(client->SetTransferBufferInfo("IMG0", record), PX_OK);
    EXPECT_EQ(Item(*client, "IMG0", 1006), 640u - 64u);
    ExpectPattern(*client, sim, "IMG0");
    // A type without a window cannot be changed by parameter.
    auto hist = OpenClient(sim, "HIST");
    ASSERT_EQ(hist->SetTransferBuffer("HIST", 0), PX_OK);
    EXPECT_EQ(hist->SetTransferBufferInfo("HIST", 1002, &w), PX_WRONG_BUFFER);
}

TEST(ClientEndToEnd, HostileCameraRepliesAreRefusedAndKept)
{
    struct Case {
        const char* name;
        void (*set)(pxsim::SimFaults*);
        bool fromTheStart;
        bool refusedBeforeData;  // else part of the data may have landed in the image
    } cases[] = {
        {"part C larger than the image", [](pxsim::SimFaults* f) { f->bHostilePartC = true; }, false, true},
        {"connection dropped mid-reply", [](pxsim::SimFaults* f) { f->bDropMidReply = true; }, false, false},
        {"reply cut short", [](pxsim::SimFaults* f) { f->bShortReply = true; }, false, false},
        {"connection dropped after the subscription", [](pxsim::SimFaults* f) { f->dwDropAfterRequests = 2; }, true,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pxsim::SimFaults faults;
        c.set(&faults);
        pxsim::SimConfig config = TestConfig();
        if (c.fromTheStart)
            config.faults = faults;
        pxsim::CKelvoSim sim;
        ASSERT_EQ(sim.Start(config), 0);
        auto client = OpenClient(sim, "IMG0", 300);
        ASSERT_EQ(client->SetTransferBuffer("IMG0", 0), PX_OK);
        sim.SetFaults(faults);
        // Exactly the image: any byte written past it is an address-sanitizer report.
        std::vector<uint8_t> image(640 * 480, 0x11);
        uint32_t received = 5;
        EXPECT_EQ(client->GetTransferBufferData("IMG0", 1, image.data(), nullptr, &received), PX_COMM_ERROR);
        EXPECT_EQ(received, 0u);
        EXPECT_FALSE(client->Connected());
        EXPECT_EQ(client->StickyError(), PX_COMM_ERROR);
        if (c.refusedBeforeData) {
            EXPECT_EQ(std::count(image.begin(), image.end(), 0x11), 640 * 480);
        }
        // Kept: the next requests fail at once, whatever the camera does now.
        sim.SetFaults(pxsim::SimFaults());
        EXPECT_EQ(client->GetTransferBufferData("IMG0", 1, image.data(), nullptr, &received), PX_COMM_ERROR);
        EXPECT_EQ(client->SendInput("IMG0", 1, "x"), PX_COMM_ERROR);
        uint32_t count = 0;
        EXPECT_EQ(client->GetNumberOfClient("IMG0", &count), PX_COMM_ERROR);
        EXPECT_EQ(client->ForceTransferInProgress("IMG0"), PX_COMM_ERROR);
    }
}

TEST(ClientEndToEnd, RefusedConnectionShowsItsBoxAndKeepsTheError)
{
    pxsim::SimConfig config = TestConfig();
    config.faults.bRefuseBuffers = true;
    pxsim::CKelvoSim sim;
    ASSERT_EQ(sim.Start(config), 0);
    CBoxCatcher boxes;
    auto client = OpenClient(sim, "IMG0", 1000, nullptr, true);
    EXPECT_FALSE(client->Connected());
    EXPECT_EQ(client->SetTransferBuffer("IMG0", 0), PX_COMM_ERROR);
    EXPECT_EQ(client->BufferType(), 0u);
    ASSERT_FALSE(boxes.Boxes().empty());
    EXPECT_EQ(boxes.Boxes()[0].rfind("Pellix Error: NetAllocLink: NetAccess CONNECT_ERROR (", 0), 0u) << boxes.Boxes()[0];
}

TEST(ClientEndToEnd, TracesGoToTheLogWhenItExists)
{
    char path[] = "/tmp/pellix-client-log-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    // An image large enough to go through the link's worker thread, whose hook traces too.
    pxsim::SimConfig config = TestConfig();
    config.buffers[0].dwFullSizeX = 1280;
    config.buffers[0].dwFullSizeY = 1024;
    pxsim::CKelvoSim sim;
    ASSERT_EQ(sim.Start(config), 0);
    {
        // No log yet: nothing is written anywhere.
        auto quiet = OpenClient(sim, "TEXT");
        EXPECT_EQ(quiet->SetTransferBuffer("TEXT", 0), PX_OK);
    }
    PXInitLogger(path);
    {
        auto client = OpenClient(sim, "IMG0");
        EXPECT_EQ(client->SetTransferBuffer("IMG0", 0), PX_OK);
        std::vector<uint8_t> image(1280 * 1024);
        uint32_t received = 0, value = 0, record[15];
        EXPECT_EQ(client->GetTransferBufferData("IMG0", 1, image.data(), record, &received), PX_OK);
        EXPECT_EQ(client->GetTransferBufferInfo("IMG0", 1002, &value), PX_OK);
        EXPECT_EQ(client->GetNumberOfClient("IMG0", &value), PX_OK);
        EXPECT_EQ(client->EndTransfers(), PX_OK);
    }
    DestroyXmlLogger();
    std::ifstream file(path, std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    unlink(path);
    for (const char* line :
         {"CClient(): strClientName: client-test", "SetTransferBuffer(): strBufId: IMG0 WaitForUpdate:0",
          "AllocAndGetBufParams(): strBufId: IMG0", "AllocBufParams(): dwBufType: 1",
          "GetTransferBufferData(): strBufId: IMG0 bForceTransfer:1", "ReceiveBuffer(): iBufferSize: 1310720",
          "RcvStopEventHook(): NumBytes: 1310720", "SendBuffer(): iBufferSize: 72",
          "GetTransferBufferInfo(): strBufId: IMG0 dwParam:1002", "GetNumberOfClient(): strBufId: IMG0 dwNumberOfClient:1",
          "FillBufParams(): dwBufType: 1", "EndTransfers()", "~CClient()", "FreeBufParams(): dwBufType: 1"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_EQ(log.find("TEXT"), std::string::npos);
}
