#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "NetTestPeer.h"
#include "netaccess/NetAccess.h"
#include "platform/Clock.h"

using namespace nettest;

namespace {

// A link connected to a plain TCP peer on loopback.
struct TcpPair {
    TcpServer server;
    NetContext* context = nullptr;
    NetLink* link = nullptr;
    px::SocketHandle peer = px::kInvalidSocket;
    HookRecord sent, received;

    TcpPair()
    {
        EXPECT_EQ(NetAllocContext(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, 0, server.port, nullptr, kLoopback, nullptr, 0,
                                  &context).code, 0u);
        EXPECT_EQ(NetAllocLink(context, 0, &link).code, 0u);
        peer = server.Accept();
        NetLinkHookFunction(link, NET_HOOK_SEND_STOP, &HookRecord::Hook, &sent, 0);
        NetLinkHookFunction(link, NET_HOOK_RCV_STOP, &HookRecord::Hook, &received, 0);
    }
    ~TcpPair()
    {
        if (context != nullptr)
            NetFreeContext(context, 0);
        if (peer != px::kInvalidSocket)
            px::SocketClose(peer);
    }
    NetResult ReceiveAsync(void* buffer, uint32_t length, uint32_t flags = 0)
    {
        return NetTransferBuffer(link, buffer, length, NET_DIRECTION_RECEIVE, 1, 0, nullptr, flags);
    }
};

} // namespace

TEST(NetTransfer, TcpReceiveCompletesAcrossSeveralSegments)
{
    for (uint32_t flags : {0u, uint32_t{NET_TRANSFER_COPY}}) {
        TcpPair p;
        char buf[13] = {};
        ASSERT_EQ(p.ReceiveAsync(buf, 12, flags), (NetResult{0, 2}));
        ASSERT_EQ(px::SocketSendAll(p.peer, "hello", 5), 0);
        ASSERT_EQ(p.received.done.Wait(100), px::WaitResult::Timeout); // 5 of 12: still waiting
        ASSERT_EQ(px::SocketSendAll(p.peer, ", world", 7), 0);
        ASSERT_EQ(p.received.done.Wait(5000), px::WaitResult::Signaled);
        EXPECT_EQ(p.received.result, (NetResult{0, 2}));
        EXPECT_EQ(p.received.count, 12u);
        EXPECT_STREQ(buf, "hello, world");
    }
}

TEST(NetTransfer, PeerClosingEarlyGivesReceiveError)
{
    TcpPair p;
    char buf[12];
    ASSERT_EQ(p.ReceiveAsync(buf, 12), (NetResult{0, 2}));
    ASSERT_EQ(px::SocketSendAll(p.peer, "hello", 5), 0);
    px::SocketClose(p.peer);
    p.peer = px::kInvalidSocket;
    ASSERT_EQ(p.received.done.Wait(5000), px::WaitResult::Signaled);
    EXPECT_EQ(p.received.result.code, NET_RECEIVE_ERROR);

    // A synchronous receive on the same link fails the same way, and one of 0 bytes succeeds.
    uint32_t count = 99;
    EXPECT_EQ(NetTransferBuffer(p.link, buf, 1, NET_DIRECTION_RECEIVE, 0, 0, &count, 0).code, NET_RECEIVE_ERROR);
    EXPECT_EQ(NetTransferBuffer(p.link, buf, 0, NET_DIRECTION_RECEIVE, 0, 0, &count, 0), (NetResult{0, 2}));
    EXPECT_EQ(count, 0u);
}

TEST(NetTransfer, SecondAsyncReceiveWaitsUntilTheFirstHookRan)
{
    TcpPair p;
    char first[4], second[4];
    ASSERT_EQ(p.ReceiveAsync(first, 4), (NetResult{0, 2}));
    px::Event issued(false, false);
    uint32_t hooksBeforeReturn = 99;
    std::thread t([&] {
        p.ReceiveAsync(second, 4);
        hooksBeforeReturn = p.received.calls.load();
        issued.Set();
    });
    EXPECT_EQ(issued.Wait(100), px::WaitResult::Timeout);
    ASSERT_EQ(px::SocketSendAll(p.peer, "abcdefgh", 8), 0);
    ASSERT_EQ(issued.Wait(5000), px::WaitResult::Signaled);
    t.join();
    EXPECT_GE(hooksBeforeReturn, 1u); // the first hook ran before the second request was taken
    ASSERT_EQ(p.received.done.Wait(5000), px::WaitResult::Signaled);
    while (p.received.calls.load() < 2)
        ASSERT_EQ(p.received.done.Wait(5000), px::WaitResult::Signaled);
    EXPECT_EQ(std::memcmp(first, "abcd", 4), 0);
    EXPECT_EQ(std::memcmp(second, "efgh", 4), 0);
}

TEST(NetTransfer, SendsAndHalfCloses)
{
    TcpPair p;
    std::vector<uint8_t> data(256 * 1024);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(NetTransferBuffer(p.link, data.data(), static_cast<uint32_t>(data.size()), NET_DIRECTION_SEND, 1, 0,
                                nullptr, 0), (NetResult{0, 2}));
    std::vector<uint8_t> got(data.size());
    std::thread reader([&] { px::SocketRecvAll(p.peer, got.data(), got.size()); });
    ASSERT_EQ(p.sent.done.Wait(5000), px::WaitResult::Signaled);
    reader.join();
    EXPECT_EQ(p.sent.result, (NetResult{0, 2}));
    EXPECT_EQ(p.sent.count, data.size()); // loopback takes it whole; callers compare anyway
    EXPECT_EQ(got, data);

    EXPECT_EQ(NetSendDisconnect(p.link), (NetResult{0, 2}));
    char byte;
    size_t n = 99;
    EXPECT_EQ(px::SocketRecv(p.peer, &byte, 1, &n), 0);
    EXPECT_EQ(n, 0u); // the peer sees the end of the stream
    EXPECT_EQ(NetRecvDisconnect(p.link), (NetResult{0, 2}));
}

TEST(NetTransfer, FreeingALinkEndsBlockedWorkersPromptly)
{
    // One link blocked in recv, one blocked in send towards a peer that never reads.
    TcpPair reading, writing;
    char buf[16];
    ASSERT_EQ(reading.ReceiveAsync(buf, sizeof buf), (NetResult{0, 2}));
    std::vector<uint8_t> big(64 * 1024 * 1024);
    ASSERT_EQ(NetTransferBuffer(writing.link, big.data(), static_cast<uint32_t>(big.size()), NET_DIRECTION_SEND, 1, 0,
                                nullptr, 0), (NetResult{0, 2}));
    for (TcpPair* p : {&reading, &writing}) {
        uint64_t start = px::TickCount64();
        EXPECT_EQ(NetFreeContext(p->context, 0), (NetResult{0, 2}));
        p->context = nullptr;
        EXPECT_LT(px::TickCount64() - start, 1000u);
    }
    EXPECT_EQ(reading.received.result.code, NET_RECEIVE_ERROR);
    EXPECT_EQ(writing.sent.calls.load(), 1u);
    EXPECT_TRUE(writing.sent.result.code == NET_SEND_ERROR || writing.sent.count < big.size());
}

TEST(NetTransfer, FreeingFromItsOwnHookIsRefusedNotDeadlocked)
{
    TcpPair p;
    struct FromHook {
        NetLink* link;
        NetResult result{99, 99};
        px::Event done{false, false};
    } ctx{p.link};
    NetLinkHookFunction(p.link, NET_HOOK_RCV_STOP, [](uint32_t, uint32_t, uint32_t, void* user) -> uint32_t {
        auto* c = static_cast<FromHook*>(user);
        c->result = NetFreeLink(c->link, 0);
        c->done.Set();
        return 0;
    }, &ctx, 0);
    char b;
    ASSERT_EQ(p.ReceiveAsync(&b, 1), (NetResult{0, 2}));
    ASSERT_EQ(px::SocketSendAll(p.peer, "x", 1), 0);
    ASSERT_EQ(ctx.done.Wait(5000), px::WaitResult::Signaled);
    EXPECT_EQ(ctx.result, (NetResult{NET_ERROR_CODE, EDEADLK}));
}

TEST(NetTransfer, FramedUdpSkipsStrayDatagramsAndOverlongFrames)
{
    UdpPeer peer;
    uint16_t linkPort = FreeUdpPort();
    NetContext* c = nullptr;
    NetLink* l = nullptr;
    ASSERT_EQ(NetAllocContext(NET_PROTOCOL_UDP, NET_ROLE_CLIENT, linkPort, peer.port, nullptr, kLoopback, nullptr, 0,
                              &c).code, 0u);
    ASSERT_EQ(NetAllocLink(c, 0, &l).code, 0u);
    ASSERT_EQ(px::SocketConnect(peer.socket, px::kLoopbackAddress, linkPort), 0);

    auto word = [&](uint32_t v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        size_t n;
        px::SocketSend(peer.socket, b, 4, &n);
    };
    auto bytes = [&](const char* s) {
        size_t n;
        px::SocketSend(peer.socket, s, strlen(s), &n);
    };
    bytes("stray");
    word(0x12345678);
    word(kNetFrameStart);
    word(100); // more than the 10 asked for: skipped
    bytes("0123456789");
    word(kNetFrameEnd);
    word(kNetFrameStart);
    word(10);
    bytes("abcd");
    bytes("efghij");
    word(kNetFrameEnd);

    char buf[11] = {};
    uint32_t count = 0;
    EXPECT_EQ(NetTransferBuffer(l, buf, 10, NET_DIRECTION_RECEIVE, 0, 0, &count, 0), (NetResult{0, 2}));
    EXPECT_EQ(count, 10u);
    EXPECT_STREQ(buf, "abcdefghij");

    // Sending frames a payload larger than one datagram into pieces.
    std::vector<uint8_t> payload(100000, 0x5A);
    ASSERT_EQ(NetTransferBuffer(l, payload.data(), static_cast<uint32_t>(payload.size()), NET_DIRECTION_SEND, 0, 0,
                                &count, 0), (NetResult{0, 2}));
    EXPECT_EQ(count, payload.size());
    std::vector<size_t> sizes;
    std::vector<uint8_t> dgram(70000);
    for (int i = 0; i < 5; ++i) {
        size_t n = 0;
        ASSERT_EQ(px::SocketRecvDatagram(peer.socket, dgram.data(), dgram.size(), &n), 0);
        sizes.push_back(n);
        uint32_t first = dgram[0] | dgram[1] << 8 | dgram[2] << 16 | uint32_t(dgram[3]) << 24;
        if (i == 0) {
            EXPECT_EQ(first, kNetFrameStart);
        } else if (i == 4) {
            EXPECT_EQ(first, kNetFrameEnd);
        }
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{4, 4, 65507, 100000 - 65507, 4}));
    NetFreeContext(c, 0);
}

TEST(NetTransfer, MulticastDirectionsAreChecked)
{
    const uint8_t group[4] = {239, 255, 10, 20};
    NetContext* sender = nullptr;
    NetLink* senderLink = nullptr;
    ASSERT_EQ(NetAllocContext(NET_PROTOCOL_UDP, NET_ROLE_SENDER, 0, 45000, nullptr, nullptr, group, 0, &sender).code, 0u);
    NetResult made = NetAllocLink(sender, 0, &senderLink);
    if (made.code != 0)
        GTEST_SKIP() << "no multicast route on this host: " << made.code << "/" << made.detail;
    char b[4] = {};
    uint32_t count = 0;
    EXPECT_EQ(NetTransferBuffer(senderLink, b, 4, NET_DIRECTION_RECEIVE, 0, 0, &count, 0), (NetResult{23, 6001}));

    NetContext* receiver = nullptr;
    NetLink* receiverLink = nullptr;
    ASSERT_EQ(NetAllocContext(NET_PROTOCOL_UDP, NET_ROLE_RECEIVER, 0, 45001, nullptr, kLoopback, group, 0,
                              &receiver).code, 0u);
    ASSERT_EQ(NetAllocLink(receiver, 0, &receiverLink), (NetResult{0, 2}));
    EXPECT_EQ(NetTransferBuffer(receiverLink, b, 4, NET_DIRECTION_SEND, 0, 0, &count, 0), (NetResult{23, 6000}));
    NetFreeContext(receiver, 0);
    NetFreeContext(sender, 0);
}

TEST(NetTransfer, TryNowEndsOnTheCallersThreadWhenTheBytesAreThere)
{
    TcpPair p;
    ASSERT_EQ(px::SocketSendAll(p.peer, "0123456789ab", 12), 0);
    char buf[13] = {};
    // One send on loopback arrives as one segment: once readable, all 12 bytes are there.
    bool readable = false;
    ASSERT_EQ(px::SocketWaitReadable(p.link->socket, 5000, &readable), 0);
    ASSERT_EQ(p.ReceiveAsync(buf, 12, NET_TRANSFER_TRY_NOW), (NetResult{0, 2}));
    EXPECT_EQ(p.received.calls.load(), 1u); // the hook ran before the call returned
    EXPECT_EQ(p.received.count, 12u);
    EXPECT_STREQ(buf, "0123456789ab");

    // Part now, the rest on the worker thread: the hook reports the whole count.
    char more[9] = {};
    ASSERT_EQ(px::SocketSendAll(p.peer, "abc", 3), 0);
    ASSERT_EQ(px::SocketWaitReadable(p.link->socket, 5000, &readable), 0);
    ASSERT_EQ(p.ReceiveAsync(more, 8, NET_TRANSFER_TRY_NOW), (NetResult{0, 2}));
    ASSERT_EQ(px::SocketSendAll(p.peer, "defgh", 5), 0);
    ASSERT_EQ(p.received.done.Wait(5000), px::WaitResult::Signaled);
    while (p.received.calls.load() < 2)
        ASSERT_EQ(p.received.done.Wait(5000), px::WaitResult::Signaled);
    EXPECT_EQ(p.received.result, (NetResult{0, 2}));
    EXPECT_EQ(p.received.count, 8u);
    EXPECT_STREQ(more, "abcdefgh");

    // A send that the socket takes whole ends at once too; a closed peer fails at once.
    ASSERT_EQ(NetTransferBuffer(p.link, more, 8, NET_DIRECTION_SEND, 1, 0, nullptr, NET_TRANSFER_TRY_NOW),
              (NetResult{0, 2}));
    EXPECT_EQ(p.sent.calls.load(), 1u);
    EXPECT_EQ(p.sent.count, 8u);
    px::SocketClose(p.peer);
    p.peer = px::kInvalidSocket;
    ASSERT_EQ(px::SocketWaitReadable(p.link->socket, 5000, &readable), 0);
    ASSERT_EQ(p.ReceiveAsync(buf, 4, NET_TRANSFER_TRY_NOW), (NetResult{0, 2}));
    EXPECT_EQ(p.received.calls.load(), 3u);
    EXPECT_EQ(p.received.result.code, NET_RECEIVE_ERROR);
}

// The waiting synchronous transfer: it runs on the caller's thread, gives up after its time-out
// with the bytes it moved (the rest can be asked for again), ends when its event is signalled, and
// leaves the other direction free while it waits.
TEST(NetTransferWait, TimeoutResumeWakeAndTheOtherDirection)
{
    TcpPair p;
    char buf[13] = {};
    uint32_t count = 99;
    ASSERT_EQ(px::SocketSendAll(p.peer, "hello", 5), 0);
    EXPECT_EQ(NetTransferBufferWait(p.link, buf, 12, NET_DIRECTION_RECEIVE, 50, nullptr, &count),
              (NetResult{NET_RECEIVE_ERROR, NET_DETAIL_WAIT_TIMEOUT}));
    EXPECT_EQ(count, 5u);
    ASSERT_EQ(px::SocketSendAll(p.peer, ", world", 7), 0);
    EXPECT_EQ(NetTransferBufferWait(p.link, buf + 5, 7, NET_DIRECTION_RECEIVE, px::kInfinite, nullptr, &count),
              (NetResult{0, 2}));
    EXPECT_EQ(count, 7u);
    EXPECT_STREQ(buf, "hello, world");
    EXPECT_EQ(p.received.calls.load(), 0u);   // no hook: nothing went through a worker thread

    // A receive that waits without limit; meanwhile a send goes out on the same link, and then
    // the event ends the wait.
    px::Event wake(true, false);
    NetResult waited{99, 99};
    std::thread reader([&] {
        uint32_t n = 0;
        waited = NetTransferBufferWait(p.link, buf, 4, NET_DIRECTION_RECEIVE, px::kInfinite, &wake, &n);
    });
    uint32_t sent = 0;
    EXPECT_EQ(NetTransferBufferWait(p.link, buf, 3, NET_DIRECTION_SEND, 5000, nullptr, &sent), (NetResult{0, 2}));
    EXPECT_EQ(sent, 3u);
    char got[3];
    ASSERT_EQ(px::SocketRecvAll(p.peer, got, 3), 0);
    wake.Set();
    reader.join();
    EXPECT_EQ(waited, (NetResult{NET_RECEIVE_ERROR, NET_DETAIL_WAIT_ABANDONED}));

    // A peer that closes ends it with the receive error; UDP links are not for it.
    px::SocketClose(p.peer);
    p.peer = px::kInvalidSocket;
    EXPECT_EQ(NetTransferBufferWait(p.link, buf, 4, NET_DIRECTION_RECEIVE, 5000, nullptr, &count).code,
              NET_RECEIVE_ERROR);
}
