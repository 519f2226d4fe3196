// The client's waits, with a second thread: infinite time-outs ended by a frame or by
// EndTransfers, a forced transfer releasing a waiting read, and the time-out rules with and
// without an agent channel and its watchdog.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "platform/Clock.h"
#include "tests/client/ClientTestUtil.h"

using namespace clienttest;

namespace {

// One read on its own thread; done is set when it returned.
struct BackgroundRead {
    CClient& client;
    std::vector<uint8_t> image = std::vector<uint8_t>(640 * 480);
    uint32_t result = 0xFFFF, received = 0;
    px::Event done{true, false};
    std::thread thread;
    BackgroundRead(CClient& c, uint32_t force) : client(c)
    {
        thread = std::thread([this, force] {
            result = client.GetTransferBufferData("IMG0", force, image.data(), nullptr, &received);
            done.Set();
        });
    }
    ~BackgroundRead()
    {
        if (thread.joinable())
            thread.join();
    }
    void Join() { thread.join(); }
};

// Points the agent channel at the simulator's watchdog and message ports.
class CSimConfigFile {
public:
    explicit CSimConfigFile(const pxsim::CKelvoSim& sim)
    {
        std::ofstream(m_path) << sim.ClientConfigText();
        setenv("VISTEL_CONFIG", m_path.c_str(), 1);
    }
    ~CSimConfigFile() { unlink(m_path.c_str()); }

private:
    std::string m_path = "/tmp/pellix-client-" + std::to_string(getpid()) + ".conf";
};

} // namespace

TEST(ClientWaits, InfiniteTimeoutWaitsForTheNextFrame)
{
    pxsim::CKelvoSim sim;
    ASSERT_EQ(sim.Start(SimConfigFor()), 0);
    auto client = OpenClient(sim, "IMG0", px::kInfinite);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    BackgroundRead read(*client, 0);
    ASSERT_TRUE(sim.WaitForWaitingRequests(1, 5000));
    EXPECT_EQ(read.done.Wait(0), px::WaitResult::Timeout);
    sim.ProduceFrame();
    read.Join();
    EXPECT_EQ(read.result, PX_OK);
    EXPECT_EQ(read.received, 1u);
    uint32_t serial[2] = {};
    client->GetTransferBufferDataDesc("IMG0", 2009, serial);
    EXPECT_EQ(serial[0], 1u);
}

TEST(ClientWaits, EndTransfersFromAnotherThreadEndsEveryTransfer)
{
    pxsim::CKelvoSim sim;
    ASSERT_EQ(sim.Start(SimConfigFor()), 0);
    auto client = OpenClient(sim, "IMG0", px::kInfinite);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    BackgroundRead read(*client, 0);
    ASSERT_TRUE(sim.WaitForWaitingRequests(1, 5000));
    EXPECT_EQ(client->EndTransfers(), PX_OK);
    read.Join();
    EXPECT_EQ(read.result, PX_END_OF_TRANSFERS);
    EXPECT_EQ(read.received, 0u);
    // From now on nothing is sent and every transfer ends at once; it is not a broken connection.
    sim.ProduceFrame();
    uint32_t count = 0;
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 1, read.image.data(), nullptr, &count), PX_END_OF_TRANSFERS);
    EXPECT_EQ(client->SendInput("IMG0", 1, "x"), PX_END_OF_TRANSFERS);
    EXPECT_EQ(client->GetNumberOfClient("IMG0", &count), PX_END_OF_TRANSFERS);
    EXPECT_EQ(client->StickyError(), PX_OK);
    EXPECT_TRUE(sim.Inputs("IMG0").empty());
}

TEST(ClientWaits, ForcedTransferReleasesAWaitingRead)
{
    pxsim::CKelvoSim sim;
    ASSERT_EQ(sim.Start(SimConfigFor()), 0);
    auto client = OpenClient(sim, "IMG0", 20000);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    // Nothing waits: nothing is sent.
    EXPECT_EQ(client->ForceTransferInProgress("IMG0"), PX_OK);
    BackgroundRead read(*client, 0);
    ASSERT_TRUE(sim.WaitForWaitingRequests(1, 5000));
    // The reader may not be in its wait yet when the first force comes; each force is sent only
    // while it is, and a force the camera gets with nothing waiting is ignored.
    int forces = 0;
    do {
        EXPECT_EQ(client->ForceTransferInProgress("IMG0"), PX_OK);
        ASSERT_LT(++forces, 500);
    } while (read.done.Wait(10) != px::WaitResult::Signaled);
    read.Join();
    EXPECT_EQ(read.result, PX_OK);
    EXPECT_EQ(read.received, 1u);
    EXPECT_EQ(sim.Serial("IMG0"), 0u);   // released without a new frame
    // The connection is still in step.
    uint32_t count = 0;
    EXPECT_EQ(client->GetNumberOfClient("IMG0", &count), PX_OK);
    EXPECT_EQ(count, 1u);
}

TEST(ClientWaits, TimeoutWithoutAgentChannelIsACommunicationError)
{
    pxsim::CKelvoSim sim;
    ASSERT_EQ(sim.Start(SimConfigFor()), 0);
    CBoxCatcher boxes;
    auto client = OpenClient(sim, "IMG0", 200, nullptr, true);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    std::vector<uint8_t> image(640 * 480);
    uint32_t received = 0;
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 0, image.data(), nullptr, &received), PX_COMM_ERROR);
    EXPECT_FALSE(client->Connected());
    // The abandoned receive completes later into the client's own buffer, not into image.
    sim.ProduceFrame();
    const uint32_t start = px::TickCount();
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 1, image.data(), nullptr, &received), PX_COMM_ERROR);
    EXPECT_LT(px::TickCount() - start, 150u);
    EXPECT_EQ(std::count(image.begin(), image.end(), 0), 640 * 480);
    EXPECT_TRUE(boxes.Boxes().empty());   // no channel, no watchdog verdict, no box
}

TEST(ClientWaits, TimeoutWithoutWatchdogGives3020ForGood)
{
    pxsim::CKelvoSim sim;
    ASSERT_EQ(sim.Start(SimConfigFor()), 0);
    CSimConfigFile config(sim);
    CBoxCatcher boxes;
    CAgentChannel channel(NetAddress::Of(nullptr, kLoopback), sim.PublishPort(), "client-test", 2000, false, 0, 0, 3);
    auto client = OpenClient(sim, "IMG0", 150, &channel, true);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    std::vector<uint8_t> image(640 * 480);
    uint32_t received = 0;
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 0, image.data(), nullptr, &received), PX_NO_WATCHDOG);
    EXPECT_EQ(client->StickyError(), PX_NO_WATCHDOG);
    EXPECT_EQ(client->SendInput("IMG0", 1, "x"), PX_NO_WATCHDOG);
    EXPECT_TRUE(boxes.Saw("WaitForMultipleObjects timeout in CClient::ReceiveBuffer.\n", "Pellix Error"));
}

TEST(ClientWaits, LiveWatchdogEarnsRetries)
{
    pxsim::CKelvoSim sim;
    ASSERT_EQ(sim.Start(SimConfigFor()), 0);
    CSimConfigFile config(sim);
    CAgentChannel channel(NetAddress::Of(nullptr, kLoopback), sim.PublishPort(), "client-test", 2000, false, 50, 2000, 4);
    ASSERT_TRUE(channel.HasWatchDog());
    CBoxCatcher boxes;
    auto client = OpenClient(sim, "IMG0", 100, &channel, true);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    // While the watchdog says the camera lives, the wait is repeated up to the retry count; a
    // camera that stays silent throughout is a communication error.
    const uint32_t start = px::TickCount();
    std::vector<uint8_t> image(640 * 480);
    uint32_t received = 0;
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 0, image.data(), nullptr, &received), PX_COMM_ERROR);
    EXPECT_GE(px::TickCount() - start, 4u * 100u - 10u);
    EXPECT_EQ(boxes.Boxes().size(), 4u);
    EXPECT_TRUE(boxes.Saw("WaitForMultipleObjects timeout in CClient::ReceiveBuffer.\n", "Pellix Error"));
    EXPECT_EQ(client->StickyError(), PX_COMM_ERROR);
    // The subscription carried the channel's watchdog identity.
    EXPECT_NE(channel.WatchDogIdentity(), 0u);
    EXPECT_EQ(sim.LastSubscription("IMG0").dwWatchdogId, channel.WatchDogIdentity());
}

TEST(ClientWaits, TimeoutWithALostWatchdogGives3010ForGood)
{
    pxsim::SimConfig simConfig = SimConfigFor();
    simConfig.faults.dwWatchdogStopAfterMs = 100;
    pxsim::CKelvoSim sim;
    ASSERT_EQ(sim.Start(simConfig), 0);
    CSimConfigFile config(sim);
    CAgentChannel channel(NetAddress::Of(nullptr, kLoopback), sim.PublishPort(), "client-test", 2000, false, 20, 200, 5);
    ASSERT_TRUE(channel.HasWatchDog());
    auto client = OpenClient(sim, "IMG0", 150, &channel);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    // Signals stop after 100 ms; once the channel has seen the miss, a time-out gets the verdict.
    ASSERT_TRUE(channel.WaitWatchDogLost(5000));
    std::vector<uint8_t> image(640 * 480);
    uint32_t received = 0;
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 0, image.data(), nullptr, &received), PX_WATCHDOG_LOST);
    EXPECT_EQ(channel.WatchDogStatus(), PX_WATCHDOG_LOST);
    const uint32_t start = px::TickCount();
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 1, image.data(), nullptr, &received), PX_WATCHDOG_LOST);
    EXPECT_EQ(client->ForceTransferInProgress("IMG0"), PX_WATCHDOG_LOST);
    EXPECT_LT(px::TickCount() - start, 100u);
}
