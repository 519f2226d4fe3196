// The C library end to end, through its exported functions only, against the simulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "pellix/pellix.h"
#include "platform/Event.h"
#include "tests/library/LibraryFixture.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

} // namespace

TEST_F(LibraryTest, ClientInitChecksComeFirst)
{
    PXHANDLE h = 0;
    EXPECT_EQ(PXClientInit(nullptr, kLoopback, "x", &h, 1000, 0, 100, 50, 0), PX_INVALID_PARAMETER);
    EXPECT_EQ(PXClientInit(nullptr, kLoopback, "x", &h, 1000, 0, 100, 200, 0), PX_INVALID_PARAMETER);
    EXPECT_EQ(PXClientInit(nullptr, kLoopback, "x", &h, 1000, 1, 100, 200, 0), PX_INVALID_PARAMETER);
    EXPECT_EQ(PXClientInit(nullptr, kLoopback, "x", &h, 1000, 1, 0, 200, 1), PX_INVALID_PARAMETER);
    EXPECT_EQ(PXClientInit(nullptr, kLoopback, "x", &h, 1000, 1, 300, 200, 1), PX_INVALID_PARAMETER);
    EXPECT_EQ(h, 0u);
    // Without agent channel, a signal time-out alone is valid.
    ASSERT_EQ(PXClientInit(nullptr, kLoopback, "x", &h, 1000, 0, 0, 5000, 0), PX_OK);
    PXHANDLE h2 = 0;
    ASSERT_EQ(PXClientInit("localhost", nullptr, "y", &h2, 1000, 0, 0, 0, 0), PX_OK);
    EXPECT_NE(h, 0u);
    EXPECT_NE(h, h2);

    // No exchange buffer yet: the timeout place stays as it was; setting changes nothing.
    uint32_t timeout = 12345;
    EXPECT_EQ(PXGetTimeout(h, &timeout), PX_OK);
    EXPECT_EQ(timeout, 12345u);
    EXPECT_EQ(PXSetTimeout(h, 1), PX_OK);
    uint32_t value = 0;
    EXPECT_EQ(PXGetExchangeBufferInfo(h, "IMG0", PX_INFO_SIZE_X, &value), PX_ERROR);
    EXPECT_EQ(PXGetBufferList(h, &value, nullptr), PX_ERROR);      // no agent channel
    EXPECT_EQ(PXGetWatchDogStatus(h, &value), PX_ERROR);
    EXPECT_EQ(PXGetRefreshListEvent(h), 0);
    EXPECT_EQ(PXClientTerminate(h), PX_OK);
    EXPECT_EQ(PXClientTerminate(h), PX_INVALID_HANDLE);
    EXPECT_EQ(PXClientTerminate(h2), PX_OK);
}

TEST_F(LibraryTest, HandleZeroIsNeverALiveClient)
{
    uint32_t v = 0;
    uint8_t buf[4];
    const PXBufferListEntry* list = nullptr;
    PXBufferInfo info;
    EXPECT_EQ(PXClientTerminate(0), PX_INVALID_HANDLE);
    EXPECT_EQ(PXSetExchangeBuffer(0, 3100, "IMG0", 0, 0), PX_INVALID_HANDLE);
    EXPECT_EQ(PXSetExchangeBufferInfoStruct(0, "IMG0", &info), PX_INVALID_HANDLE);
    EXPECT_EQ(PXSetExchangeBufferInfo(0, "IMG0", PX_INFO_SIZE_X, &v), PX_INVALID_HANDLE);
    EXPECT_EQ(PXGetExchangeBufferInfoStruct(0, "IMG0", &info), PX_INVALID_HANDLE);
    EXPECT_EQ(PXGetExchangeBufferInfo(0, "IMG0", PX_INFO_SIZE_X, &v), PX_INVALID_HANDLE);
    EXPECT_EQ(PXGetExchangeBufferData(0, "IMG0", 1, buf, nullptr, &v), PX_INVALID_HANDLE);
    EXPECT_EQ(PXGetExchangeBufferDataDesc(0, "IMG0", PX_DESC_SERIAL, &v), PX_INVALID_HANDLE);
    EXPECT_EQ(PXGetBufferList(0, &v, &list), PX_INVALID_HANDLE);
    EXPECT_EQ(PXSendInput(0, "INP0", 4, buf), PX_INVALID_HANDLE);
    EXPECT_EQ(PXGetNumberOfClient(0, "IMG0", &v), PX_INVALID_HANDLE);
    EXPECT_EQ(PXForceTransferInProgress(0, "IMG0"), PX_INVALID_HANDLE);
    EXPECT_EQ(PXCancelTransfers(0), PX_INVALID_HANDLE);
    EXPECT_EQ(PXGetTimeout(0, &v), PX_INVALID_HANDLE);
    EXPECT_EQ(PXSetTimeout(0, 1), PX_INVALID_HANDLE);
    EXPECT_EQ(PXGetWatchDogStatus(0, &v), PX_INVALID_HANDLE);
    EXPECT_EQ(PXVerifyResources(0, 3100, &v), PX_INVALID_HANDLE);
    EXPECT_EQ(PXGetRefreshListEvent(0), 0);
    EXPECT_STREQ(PXClientGetVersion(), "4.0.352.1");
    EXPECT_EQ(PXClientGetDWORDVersion(), 0x04000160u);
}

TEST_F(LibraryTest, ListSubscribeReadChangeAndTerminate)
{
    StartSim();
    PXHANDLE h = InitWithChannel();
    uint32_t status = 99;
    EXPECT_EQ(PXGetWatchDogStatus(h, &status), PX_OK);
    EXPECT_EQ(status, PX_OK);

    uint32_t count = 0;
    const PXBufferListEntry* list = nullptr;
    ASSERT_EQ(PXGetBufferList(h, &count, &list), PX_OK);
    ASSERT_EQ(count, 5u);
    const PXBufferListEntry* image = nullptr;
    const PXBufferListEntry* input = nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        if (std::memcmp(list[i].id, "IMG0", 4) == 0)
            image = &list[i];
        if (std::memcmp(list[i].id, "INP0", 4) == 0)
            input = &list[i];
    }
    ASSERT_NE(image, nullptr);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(image->type, PX_BUFTYPE_IMAGE);
    EXPECT_EQ(image->port, m_sim.BufferPort("IMG0"));
    EXPECT_STREQ(image->processName, "kelvo-agent");
    EXPECT_STREQ(image->text, "VGA test pattern");
    const uint16_t imagePort = image->port, inputPort = input->port;

    ASSERT_EQ(PXSetExchangeBuffer(h, imagePort, "IMG0", 0, h), PX_OK);
    // The subscription has no reply; the next request, which has one, orders it.
    uint32_t clients = 0;
    EXPECT_EQ(PXGetNumberOfClient(h, "IMG0", &clients), PX_OK);
    EXPECT_EQ(clients, 1u);
    EXPECT_EQ(m_sim.LastSubscription("IMG0").strClientName, "library-test");
    PXBufferInfo info;
    std::memset(&info, 0, sizeof info);
    ASSERT_EQ(PXGetExchangeBufferInfoStruct(h, "IMG0", &info), PX_OK);
    EXPECT_EQ(info.image.fullSizeX, 640u);
    EXPECT_EQ(info.image.sizeY, 480u);
    EXPECT_EQ(info.image.dataSize, 640u * 480u);

    std::vector<uint8_t> frame(info.image.dataSize);
    uint32_t received = 0;
    ASSERT_EQ(PXGetExchangeBufferData(h, "IMG0", 1, frame.data(), &info, &received), PX_OK);
    EXPECT_EQ(received, 1u);
    uint32_t serial[2] = {0, 0};
    EXPECT_EQ(PXGetExchangeBufferDataDesc(h, "IMG0", PX_DESC_SERIAL, serial), PX_OK);

    // A smaller window: the record comes back with the new data size.
    uint32_t width = 320;
    ASSERT_EQ(PXSetExchangeBufferInfo(h, "IMG0", PX_INFO_SIZE_X, &width), PX_OK);
    uint32_t dataSize = 0;
    ASSERT_EQ(PXGetExchangeBufferInfo(h, "IMG0", PX_INFO_DATA_SIZE, &dataSize), PX_OK);
    EXPECT_EQ(dataSize, 320u * 480u);
    ASSERT_EQ(PXGetExchangeBufferData(h, "IMG0", 1, frame.data(), nullptr, &received), PX_OK);
    EXPECT_EQ(received, 1u);
    // Input goes to its own buffer on a second subscription of the same handle.
    ASSERT_EQ(PXSetExchangeBuffer(h, inputPort, "INP0", 0, h), PX_OK);
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(PXSendInput(h, "INP0", sizeof bytes, bytes), PX_OK);
    // The simulator records the input once it has read it; a following request orders that.
    EXPECT_EQ(PXGetNumberOfClient(h, "INP0", &clients), PX_OK);
    auto inputs = m_sim.Inputs("INP0");
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(inputs[0], std::vector<uint8_t>(bytes, bytes + 5));

    EXPECT_EQ(PXClientTerminate(h), PX_OK);
    EXPECT_EQ(PXGetTimeout(h, &dataSize), PX_INVALID_HANDLE);
}

TEST_F(LibraryTest, CancelFromAnotherThreadEndsAWaitingRead)
{
    StartSim();
    PXHANDLE h = InitWithChannel(PX_INFINITE);
    ASSERT_EQ(PXSetExchangeBuffer(h, m_sim.BufferPort("IMG0"), "IMG0", 0, h), PX_OK);
    std::vector<uint8_t> frame(640 * 480);
    std::atomic<uint32_t> result{0};
    std::thread reader([&] {
        uint32_t received = 0;
        result = PXGetExchangeBufferData(h, "IMG0", 0, frame.data(), nullptr, &received);
    });
    ASSERT_TRUE(m_sim.WaitForWaitingRequests(1, 5000)); // no frames are made: the read waits
    EXPECT_EQ(PXCancelTransfers(h), PX_OK);
    reader.join();
    EXPECT_EQ(result.load(), PX_END_OF_TRANSFERS);
    uint32_t received = 0;
    EXPECT_EQ(PXGetExchangeBufferData(h, "IMG0", 1, frame.data(), nullptr, &received), PX_END_OF_TRANSFERS);
    EXPECT_EQ(PXClientTerminate(h), PX_OK);
}

TEST_F(LibraryTest, FiniteTimeoutWithoutAgentHandleSubscribesButAnswers2070)
{
    StartSim();
    PXHANDLE h = 0;
    ASSERT_EQ(PXClientInit(nullptr, kLoopback, "no-agent", &h, 1000, 0, 0, 0, 0), PX_OK);
    EXPECT_EQ(PXSetExchangeBuffer(h, m_sim.BufferPort("IMG0"), "IMG0", 0, 0), PX_INVALID_PARAMETER);
    uint32_t clients = 0;
    EXPECT_EQ(PXGetNumberOfClient(h, "IMG0", &clients), PX_OK); // subscribed all the same
    EXPECT_EQ(clients, 1u);
    uint32_t timeout = 0;
    EXPECT_EQ(PXGetTimeout(h, &timeout), PX_OK);
    EXPECT_EQ(timeout, 1000u);
    // An agent handle that is not a live client.
    EXPECT_EQ(PXSetExchangeBuffer(h, m_sim.BufferPort("IMG0"), "IMG0", 0, h + 1000), PX_INVALID_HANDLE);
    EXPECT_EQ(PXClientTerminate(h), PX_OK);
}

TEST_F(LibraryTest, RefreshEventOnlyForAgentsThatSendIt)
{
    StartSim(0x04000096); // 4.0.150
    PXHANDLE old = InitWithChannel();
    EXPECT_EQ(PXGetRefreshListEvent(old), 0);
    uint32_t answer = 0;
    EXPECT_EQ(PXVerifyResources(old, m_sim.BufferPort("IMG0"), &answer), PX_OK);
    EXPECT_EQ(answer, 1u);
    EXPECT_EQ(PXClientTerminate(old), PX_OK);
    m_sim.Stop();

    StartSim(0x0400012C);
    PXHANDLE h = InitWithChannel();
    int fd = PXGetRefreshListEvent(h);
    ASSERT_GT(fd, 0);
    pxsim::SimBufferConfig extra;
    extra.id = px::agent::BufferId::FromText("NEW1");
    ASSERT_EQ(m_sim.AddBuffer(extra, nullptr), 0);
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 5000), 1);
    EXPECT_EQ(PXClientTerminate(h), PX_OK);
}

TEST_F(LibraryTest, TracesGoToTheLogInTheirFormat)
{
    StartSim();
    const std::string logPath = m_config + ".log";
    unlink(logPath.c_str());
    PXInitLogger(logPath.c_str());
    PXHANDLE h = InitWithChannel();
    ASSERT_EQ(PXSetExchangeBuffer(h, m_sim.BufferPort("IMG0"), "IMG0", 1, h), PX_OK);
    uint32_t v = 0;
    PXGetExchangeBufferInfo(h, "IMG0", PX_INFO_SIZE_X, &v);
    PXClientTerminate(h);
    PXCloseLibrary(); // closes the log
    PXInitLibrary();

    const std::string log = ReadFile(logPath);
    char expect[128];
    std::snprintf(expect, sizeof expect, "<DATA>FFFFFFFE - PXSetExchangeBuffer(%08X,%d,'IMG0',1)\n</DATA>", h,
                  m_sim.BufferPort("IMG0"));
    EXPECT_NE(log.find(expect), std::string::npos) << log;
    std::snprintf(expect, sizeof expect, "<DATA>FFFFFFFE - PXClientTerminate(%08X)\n</DATA>", h);
    EXPECT_NE(log.find(expect), std::string::npos);
    EXPECT_NE(log.find("<SECTION>Pellix</SECTION><DATA>FFFFFFFE - PXClientInit((null),"), std::string::npos);
    EXPECT_NE(log.find("PXGetExchangeBufferInfo(" + std::string(expect + 35, 8) + ",'IMG0',000003EA,"),
              std::string::npos);
    // The client's own traces land in section 2.
    EXPECT_NE(log.find("<SECTION>Client</SECTION><DATA>SetTransferBuffer(): strBufId: IMG0"), std::string::npos);
    unlink(logPath.c_str());
}

TEST_F(LibraryTest, TwoHandlesOnTwoThreads)
{
    StartSim();
    PXHANDLE a = InitWithChannel(), b = InitWithChannel();
    std::atomic<int> failures{0};
    auto work = [&](PXHANDLE h) {
        if (PXSetExchangeBuffer(h, m_sim.BufferPort("IMG0"), "IMG0", 0, h) != PX_OK)
            ++failures;
        std::vector<uint8_t> frame(640 * 480);
        for (int i = 0; i < 20; ++i) {
            uint32_t received = 0;
            if (PXGetExchangeBufferData(h, "IMG0", 1, frame.data(), nullptr, &received) != PX_OK || received != 1)
                ++failures;
        }
    };
    std::thread ta(work, a), tb(work, b);
    ta.join();
    tb.join();
    EXPECT_EQ(failures.load(), 0);
    uint32_t clients = 0;
    EXPECT_EQ(PXGetNumberOfClient(a, "IMG0", &clients), PX_OK);
    EXPECT_EQ(clients, 2u);
    EXPECT_EQ(PXClientTerminate(a), PX_OK);
    EXPECT_EQ(PXClientTerminate(b), PX_OK);
}

// An identifier the camera does not know is answered with type 0: nothing to subscribe to, but no
// broken reply either. The subscription goes through, single items of the unknown type are 2000,
// and the connection keeps working.
TEST_F(LibraryTest, UnknownIdentifierLeavesAWorkingConnection)
{
    StartSim();
    PXHANDLE h = InitWithChannel();
    const uint16_t port = m_sim.BufferPort("IMG0");
    ASSERT_EQ(PXSetExchangeBuffer(h, port, "NOPE", 0, h), PX_OK);
    uint32_t value = 77;
    EXPECT_EQ(PXGetExchangeBufferInfo(h, "NOPE", PX_INFO_SIZE_X, &value), PX_ERROR);
    EXPECT_EQ(PXGetExchangeBufferInfo(h, "NOPE", PX_INFO_BUFFER_TYPE, &value), PX_ERROR);
    EXPECT_EQ(value, 77u);
    PXBufferInfo info;
    std::memset(&info, 0x33, sizeof info);
    EXPECT_EQ(PXGetExchangeBufferInfoStruct(h, "NOPE", &info), PX_OK);
    EXPECT_EQ(info.words[0], 0x33333333u);
    uint32_t clients = 0;
    EXPECT_EQ(PXGetNumberOfClient(h, "NOPE", &clients), PX_OK);
    // The right identifier on the same handle works as ever.
    ASSERT_EQ(PXSetExchangeBuffer(h, port, "IMG0", 0, h), PX_OK);
    std::vector<uint8_t> frame(640 * 480);
    uint32_t received = 0;
    EXPECT_EQ(PXGetExchangeBufferData(h, "IMG0", 1, frame.data(), nullptr, &received), PX_OK);
    EXPECT_EQ(received, 1u);
    EXPECT_EQ(PXClientTerminate(h), PX_OK);
}

TEST_F(LibraryTest, VerifyResourcesClearsTheAnswerFirst)
{
    uint32_t answer = 99;
    EXPECT_EQ(PXVerifyResources(0, 3100, &answer), PX_INVALID_HANDLE);
    EXPECT_EQ(answer, 0u);
    PXHANDLE plain = 0;
    ASSERT_EQ(PXClientInit(nullptr, kLoopback, "plain", &plain, 1000, 0, 0, 0, 0), PX_OK);
    answer = 99;
    EXPECT_EQ(PXVerifyResources(plain, 3100, &answer), PX_ERROR);   // no agent channel
    EXPECT_EQ(answer, 0u);
    EXPECT_EQ(PXClientTerminate(plain), PX_OK);
}

// A name and an address together: the address wins for every connection of the handle.
TEST_F(LibraryTest, AddressWinsOverAHostNameEverywhere)
{
    StartSim();
    PXHANDLE h = 0;
    ASSERT_EQ(PXClientInit("no-such-host.invalid", kLoopback, "both", &h, 2000, 1, 50, 1000, 2), PX_OK);
    uint32_t count = 0, status = 99;
    const PXBufferListEntry* list = nullptr;
    EXPECT_EQ(PXGetBufferList(h, &count, &list), PX_OK);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(PXGetWatchDogStatus(h, &status), PX_OK);
    EXPECT_EQ(status, PX_OK);
    EXPECT_GT(PXGetRefreshListEvent(h), 0);
    EXPECT_EQ(PXSetExchangeBuffer(h, m_sim.BufferPort("IMG0"), "IMG0", 0, h), PX_OK);
    EXPECT_EQ(PXClientTerminate(h), PX_OK);
}

// Calls on one handle are serialised by the library; the list a caller got stays valid only until
// the next call, so each thread looks at its result and count only.
TEST_F(LibraryTest, BufferListFromTwoThreadsOnOneHandle)
{
    StartSim();
    PXHANDLE h = InitWithChannel();
    std::atomic<int> failures{0};
    auto lister = [&] {
        for (int i = 0; i < 50; ++i) {
            uint32_t count = 0;
            const PXBufferListEntry* list = nullptr;
            if (PXGetBufferList(h, &count, &list) != PX_OK || count != 5 || list == nullptr)
                ++failures;
        }
    };
    std::thread a(lister), b(lister);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(PXClientTerminate(h), PX_OK);
}

// Another client widens the window: the next read of the first finds more data than its
// destination holds. Nothing is written past it; the reply is drained, the record read anew, and
// the host is told to reallocate; the read after that succeeds.
TEST_F(LibraryTest, LargerFrameAfterAWindowChangeIsReportedOnce)
{
    StartSim();
    PXHANDLE reader = InitWithChannel(), other = InitWithChannel();
    const uint16_t port = m_sim.BufferPort("IMG0");
    ASSERT_EQ(PXSetExchangeBuffer(reader, port, "IMG0", 0, reader), PX_OK);
    ASSERT_EQ(PXSetExchangeBuffer(other, port, "IMG0", 0, other), PX_OK);
    const uint32_t quarter = 320;
    ASSERT_EQ(PXSetExchangeBufferInfo(reader, "IMG0", PX_INFO_SIZE_X, &quarter), PX_OK);
    uint32_t size = 0;
    ASSERT_EQ(PXGetExchangeBufferInfo(reader, "IMG0", PX_INFO_DATA_SIZE, &size), PX_OK);
    ASSERT_EQ(size, 320u * 480u);

    const uint32_t whole = 640, rgb32 = PX_FORMAT_RGB32;
    ASSERT_EQ(PXSetExchangeBufferInfo(other, "IMG0", PX_INFO_SIZE_X, &whole), PX_OK);
    ASSERT_EQ(PXSetExchangeBufferInfo(other, "IMG0", PX_INFO_IMAGE_FORMAT, &rgb32), PX_OK);
    std::vector<uint8_t> small(size, 0x5C);
    uint32_t received = 9;
    EXPECT_EQ(PXGetExchangeBufferData(reader, "IMG0", 1, small.data(), nullptr, &received), PX_BUFFER_CHANGED);
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(std::count(small.begin(), small.end(), 0x5C), static_cast<long>(small.size()));
    ASSERT_EQ(PXGetExchangeBufferInfo(reader, "IMG0", PX_INFO_DATA_SIZE, &size), PX_OK);
    EXPECT_EQ(size, 640u * 480u * 4u);
    std::vector<uint8_t> frame(size);
    EXPECT_EQ(PXGetExchangeBufferData(reader, "IMG0", 1, frame.data(), nullptr, &received), PX_OK);
    EXPECT_EQ(received, 1u);
    EXPECT_EQ(PXClientTerminate(reader), PX_OK);
    EXPECT_EQ(PXClientTerminate(other), PX_OK);
}
