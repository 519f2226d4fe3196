// The waits of the client and the channel, with a second thread: infinite time-outs ended by a
// frame, by EndTransfers or by a forced transfer, and the time-out rules with and without an agent
// channel and its watchdog. Every wait is on an event or a count; time only bounds from below.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

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
    ~BackgroundRead() { Join(); }
    void Join()
    {
        if (thread.joinable())
            thread.join();
    }
};

} // namespace

TEST(ClientWaits, InfiniteWaitEndsWithTheNextFrameOrWithEndTransfers)
{
    CTestCamera camera;
    camera.Start();
    auto client = camera.Client("IMG0", px::kInfinite);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    {
        BackgroundRead read(*client, 0);
        ASSERT_TRUE(camera.sim.WaitForWaitingRequests(1, 5000));
        EXPECT_EQ(read.done.Wait(0), px::WaitResult::Timeout);
        camera.sim.ProduceFrame();
        read.Join();
        EXPECT_EQ(read.result, PX_OK);
        EXPECT_EQ(read.received, 1u);
    }
    BackgroundRead read(*client, 0);
    ASSERT_TRUE(camera.sim.WaitForWaitingRequests(1, 5000));
    EXPECT_EQ(client->EndTransfers(), PX_OK);
    read.Join();
    EXPECT_EQ(read.result, PX_END_OF_TRANSFERS);
    EXPECT_EQ(read.received, 0u);
    // From now on nothing is sent and every transfer ends at once; it is not a broken connection.
    camera.sim.ProduceFrame();
    uint32_t count = 0;
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 1, read.image.data(), nullptr, &count), PX_END_OF_TRANSFERS);
    EXPECT_EQ(client->SendInput("IMG0", 1, "x"), PX_END_OF_TRANSFERS);
    EXPECT_EQ(client->GetNumberOfClient("IMG0", &count), PX_END_OF_TRANSFERS);
    EXPECT_EQ(client->StickyError(), PX_OK);
    EXPECT_TRUE(camera.sim.Inputs("IMG0").empty());
}

TEST(ClientWaits, ForcedTransferReleasesAWaitingRead)
{
    CTestCamera camera;
    camera.Start();
    auto client = camera.Client("IMG0", 20000);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    EXPECT_EQ(client->ForceTransferInProgress("IMG0"), PX_OK);   // nothing waits: nothing is sent
    EXPECT_EQ(camera.Count("CMD_FORCE_TRANSFER"), 0u);
    // One force as soon as the camera holds the request releases the read, however early it comes
    // in the reader's way from its send to its receive; repeated to give that window a chance.
    for (uint32_t round = 1; round <= 20; ++round) {
        BackgroundRead read(*client, 0);
        ASSERT_TRUE(camera.sim.WaitForWaitingRequests(1, 5000));
        EXPECT_EQ(client->ForceTransferInProgress("IMG0"), PX_OK);
        ASSERT_EQ(read.done.Wait(20000), px::WaitResult::Signaled) << "round " << round << ": the force was lost";
        read.Join();
        EXPECT_EQ(read.result, PX_OK);
        EXPECT_EQ(read.received, 1u);
        EXPECT_EQ(camera.Count("CMD_FORCE_TRANSFER"), round);
    }
    EXPECT_EQ(camera.sim.Serial("IMG0"), 0u);   // released without a new frame
    uint32_t count = 0;
    EXPECT_EQ(client->GetNumberOfClient("IMG0", &count), PX_OK);   // the stream is still in step
    EXPECT_EQ(count, 1u);
}

TEST(ClientWaits, TimeoutWithoutAgentChannelIsACommunicationErrorForGood)
{
    CTestCamera camera;
    camera.Start();
    CBoxCatcher boxes;
    auto client = camera.Client("IMG0", 200, nullptr, true);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    std::vector<uint8_t> image(640 * 480);
    uint32_t received = 0;
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 0, image.data(), nullptr, &received), PX_COMM_ERROR);
    EXPECT_FALSE(client->Connected());
    // Kept: the next request does not reach the camera, and nothing lands in the image later.
    camera.sim.ProduceFrame();
    const size_t requests = camera.Count("CMD_GET_TRANSFER_BUFFER_DATA");
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 1, image.data(), nullptr, &received), PX_COMM_ERROR);
    EXPECT_EQ(camera.Count("CMD_GET_TRANSFER_BUFFER_DATA"), requests);
    EXPECT_EQ(std::count(image.begin(), image.end(), 0), 640 * 480);
    EXPECT_TRUE(boxes.Boxes().empty());   // no channel, no watchdog verdict, no box
}

TEST(ClientWaits, TimeoutWithoutWatchdogGives3020ForGood)
{
    CTestCamera camera;
    camera.Start();
    CBoxCatcher boxes;
    auto channel = camera.Channel(0, 0, 2000, 3);
    auto client = camera.Client("IMG0", 150, channel.get(), true);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    std::vector<uint8_t> image(640 * 480);
    uint32_t received = 0;
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 0, image.data(), nullptr, &received), PX_NO_WATCHDOG);
    EXPECT_EQ(client->StickyError(), PX_NO_WATCHDOG);
    EXPECT_EQ(client->SendInput("IMG0", 1, "x"), PX_NO_WATCHDOG);
    EXPECT_EQ(boxes.Count("Pellix Error", "WaitForMultipleObjects timeout in CClient::ReceiveBuffer.\n"), 1u);
}

TEST(ClientWaits, LiveWatchdogEarnsRetries)
{
    CTestCamera camera;
    camera.Start();
    auto channel = camera.Channel(50, 2000, 2000, 4);
    ASSERT_TRUE(channel->HasWatchDog());
    CBoxCatcher boxes;
    auto client = camera.Client("IMG0", 100, channel.get(), true);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    // While the watchdog says the camera lives, the wait is repeated up to the retry count; a
    // camera that stays silent throughout is a communication error.
    const uint64_t start = px::TickCount64();
    std::vector<uint8_t> image(640 * 480);
    uint32_t received = 0;
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 0, image.data(), nullptr, &received), PX_COMM_ERROR);
    EXPECT_GE(px::TickCount64() - start, 4u * 100u);
    EXPECT_EQ(boxes.Count("Pellix Error", "WaitForMultipleObjects timeout in CClient::ReceiveBuffer.\n"), 4u);
    EXPECT_EQ(client->StickyError(), PX_COMM_ERROR);
    // The subscription carried the channel's watchdog identity.
    EXPECT_NE(channel->WatchDogIdentity(), 0u);
    EXPECT_EQ(camera.sim.LastSubscription("IMG0").dwWatchdogId, channel->WatchDogIdentity());
}

// The lost-camera verdict of the two connections: the exchange-buffer client keeps 3010 as its
// error, the channel returns it once and keeps 3000.
TEST(ClientWaits, ALostWatchdogIsKeptByTheClientAndReturnedByTheChannel)
{
    pxsim::SimConfig config = TestConfig();
    config.faults.dwWatchdogStopAfterMs = 100;
    CTestCamera camera;
    camera.Start(config);
    CBoxCatcher boxes;
    auto channel = camera.Channel(20, 200, 150, 5);
    ASSERT_TRUE(channel->HasWatchDog());
    auto client = camera.Client("IMG0", 150, channel.get(), true);
    ASSERT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    ASSERT_TRUE(channel->WaitWatchDogLost(5000));

    std::vector<uint8_t> image(640 * 480);
    uint32_t received = 0;
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 0, image.data(), nullptr, &received), PX_WATCHDOG_LOST);
    EXPECT_EQ(client->StickyError(), PX_WATCHDOG_LOST);
    const size_t requests = camera.Count("CMD_GET_TRANSFER_BUFFER_DATA");
    EXPECT_EQ(client->GetTransferBufferData("IMG0", 1, image.data(), nullptr, &received), PX_WATCHDOG_LOST);
    EXPECT_EQ(client->ForceTransferInProgress("IMG0"), PX_WATCHDOG_LOST);
    EXPECT_EQ(camera.Count("CMD_GET_TRANSFER_BUFFER_DATA"), requests);
    EXPECT_EQ(boxes.Count("Pellix Error", "WaitForMultipleObjects timeout in CClient::ReceiveBuffer.\n"), 1u);

    pxsim::SimFaults faults = config.faults;
    faults.dwReplyDelayMs = 1000;
    camera.sim.SetFaults(faults);
    uint32_t count = 0;
    const PXBufferListEntry* list = nullptr;
    EXPECT_EQ(channel->GetBufferList(&count, &list), PX_WATCHDOG_LOST);
    EXPECT_EQ(channel->StickyError(), PX_COMM_ERROR);
    EXPECT_EQ(channel->GetBufferList(&count, &list), PX_COMM_ERROR);
    EXPECT_EQ(boxes.Count("PellixAgent Error", "WaitForSingleObject error.\n"), 1u);
}
