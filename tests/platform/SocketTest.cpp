#include "platform/Socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/Clock.h"
#include "tests/platform/SilentPort.h"

using namespace px;

TEST(Socket, LoopbackStreamRoundTripAndErrorsAsErrno)
{
    SocketHandle server = kInvalidSocket;
    ASSERT_EQ(SocketOpen(SocketType::Stream, &server), 0);
    ASSERT_EQ(SocketBind(server, kLoopbackAddress, 0), 0);
    ASSERT_EQ(SocketListen(server), 0);
    uint16_t port = 0;
    ASSERT_EQ(SocketLocalPort(server, &port), 0);
    ASSERT_NE(port, 0);

    SocketHandle client = kInvalidSocket;
    ASSERT_EQ(SocketOpen(SocketType::Stream, &client), 0);
    ASSERT_EQ(SocketConnect(client, kLoopbackAddress, port), 0);
    SocketHandle peer = kInvalidSocket;
    ASSERT_EQ(SocketAccept(server, &peer), 0);

    ASSERT_EQ(SocketSendAll(client, "hello", 5), 0);
    char buf[5];
    ASSERT_EQ(SocketRecvAll(peer, buf, 5), 0);
    EXPECT_EQ(std::string(buf, 5), "hello");

    bool readable = true;
    ASSERT_EQ(SocketWaitReadable(peer, 0, &readable), 0);
    EXPECT_FALSE(readable);
    ASSERT_EQ(SocketClose(client), 0);
    ASSERT_EQ(SocketWaitReadable(peer, 1000, &readable), 0);
    EXPECT_TRUE(readable);
    EXPECT_EQ(SocketRecvAll(peer, buf, 1), ECONNRESET); // closed before the byte came

    // Nobody listens any more on the closed server's port once it is gone.
    ASSERT_EQ(SocketClose(server), 0);
    SocketHandle late = kInvalidSocket;
    ASSERT_EQ(SocketOpen(SocketType::Stream, &late), 0);
    EXPECT_EQ(SocketConnect(late, kLoopbackAddress, port), ECONNREFUSED);
    SocketClose(late);
    SocketClose(peer);
}

TEST(Socket, ResolvesNamesAndDottedAddresses)
{
    std::vector<uint32_t> addrs;
    ASSERT_EQ(ResolveHostName("127.0.0.1", &addrs), 0);
    ASSERT_EQ(addrs.size(), 1u);
    EXPECT_EQ(addrs[0], kLoopbackAddress);
    EXPECT_NE(ResolveHostName("no-such-host.invalid", &addrs), 0);
    EXPECT_TRUE(addrs.empty());
    char name[65];
    ASSERT_EQ(LocalHostName(name, sizeof name), 0);
    EXPECT_GT(strlen(name), 0u);
    const uint8_t bytes[4] = {192, 168, 1, 2};
    EXPECT_EQ(Ipv4FromBytes(bytes), 0xC0A80102u);
}

TEST(Socket, DatagramTruncationIsReported)
{
    SocketHandle a = kInvalidSocket, b = kInvalidSocket;
    ASSERT_EQ(SocketOpen(SocketType::Datagram, &a), 0);
    ASSERT_EQ(SocketOpen(SocketType::Datagram, &b), 0);
    ASSERT_EQ(SocketBind(a, kLoopbackAddress, 0), 0);
    uint16_t port = 0;
    ASSERT_EQ(SocketLocalPort(a, &port), 0);
    ASSERT_EQ(SocketConnect(b, kLoopbackAddress, port), 0);
    size_t sent = 0;
    ASSERT_EQ(SocketSend(b, "0123456789", 10, &sent), 0);
    char buf[4];
    size_t got = 0;
    EXPECT_EQ(SocketRecvDatagram(a, buf, sizeof buf, &got), EMSGSIZE);
    EXPECT_EQ(got, 4u);
    uint32_t max = 0;
    ASSERT_EQ(SocketMaxDatagramSize(a, &max), 0);
    EXPECT_EQ(max, 65507u);
    SocketClose(a);
    SocketClose(b);
}

// A bounded connect gives up on a peer that never answers, and otherwise behaves like a plain one:
// refusals come back as they are, and the socket it connects still blocks.
TEST(Socket, BoundedConnectGivesUpOnASilentPeer)
{
    platformtest::CSilentPort silent;
    ASSERT_TRUE(silent.Silent());
    SocketHandle s = kInvalidSocket;
    ASSERT_EQ(SocketOpen(SocketType::Stream, &s), 0);
    const uint64_t start = TickCount64();
    EXPECT_EQ(SocketConnect(s, kLoopbackAddress, silent.Port(), 300), ETIMEDOUT);
    const uint64_t waited = TickCount64() - start;
    EXPECT_GE(waited, 300u);
    EXPECT_LT(waited, 20000u);
    SocketClose(s);

    SocketHandle server = kInvalidSocket;
    uint16_t port = 0;
    ASSERT_EQ(SocketOpenServer(kLoopbackAddress, 0, true, &server, &port), 0);
    ASSERT_EQ(SocketOpen(SocketType::Stream, &s), 0);
    ASSERT_EQ(SocketConnect(s, kLoopbackAddress, port, 5000), 0);
    SocketHandle peer = kInvalidSocket;
    ASSERT_EQ(SocketAccept(server, &peer), 0);
    std::thread closer([peer] { SocketClose(peer); });
    char byte = 0;
    size_t got = 1;
    EXPECT_EQ(SocketRecv(s, &byte, 1, &got), 0);   // waits for the close: no EAGAIN
    EXPECT_EQ(got, 0u);
    closer.join();
    SocketClose(s);

    SocketClose(server);
    ASSERT_EQ(SocketOpen(SocketType::Stream, &s), 0);
    EXPECT_EQ(SocketConnect(s, kLoopbackAddress, port, 5000), ECONNREFUSED);
    SocketClose(s);
}
