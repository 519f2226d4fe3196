#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

#include "NetTestPeer.h"
#include "netaccess/NetAccess.h"
#include "netaccess/NetClientLink.h"
#include "platform/Clock.h"
#include "tests/platform/SilentPort.h"

using namespace nettest;

namespace {

NetResult Context(uint32_t protocol, uint32_t role, const char* host, const uint8_t* ip, const uint8_t* group,
                  NetContext** out)
{
    return NetAllocContext(protocol, role, 0, 3072, host, ip, group, 0, out);
}

std::string Text(NetResult r)
{
    char buf[256];
    NetErrorText(r, buf, sizeof buf);
    return buf;
}

} // namespace

TEST(NetContext, ValidationResults)
{
    NetContext* c = nullptr;
    const uint8_t multicastIp[4] = {230, 1, 2, 3};
    const uint8_t privateGroup[4] = {192, 168, 0, 1};
    const uint8_t group[4] = {239, 1, 2, 3};
    EXPECT_EQ(Context(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, nullptr, nullptr, nullptr, &c), (NetResult{22, 5003}));
    EXPECT_EQ(Context(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, "", nullptr, nullptr, &c), (NetResult{22, 5003}));
    EXPECT_EQ(Context(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, nullptr, multicastIp, nullptr, &c), (NetResult{22, 5001}));
    EXPECT_EQ(Context(NET_PROTOCOL_UDP, NET_ROLE_RECEIVER, nullptr, kLoopback, privateGroup, &c), (NetResult{22, 5000}));
    EXPECT_EQ(Context(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, nullptr, kLoopback, group, &c), (NetResult{22, 5002}));
    EXPECT_EQ(c, nullptr); // no failure stores a context
    // A multicast sender needs no remote address: the group is its peer.
    ASSERT_EQ(Context(NET_PROTOCOL_UDP, NET_ROLE_SENDER, nullptr, nullptr, group, &c), (NetResult{0, 2}));
    EXPECT_EQ(c->multicast, 1u);
    EXPECT_EQ(NetFreeContext(c, 0), (NetResult{0, 2}));
}

TEST(NetContext, AnAddressEmptiesTheHostNameAndFlagsAreKept)
{
    NetContext* c = nullptr;
    ASSERT_EQ(NetAllocContext(NET_PROTOCOL_UDP, NET_ROLE_CLIENT, 5, 6, "camera", kLoopback, nullptr, NET_FLAG_RAW, &c).code, 0u);
    EXPECT_STREQ(c->hostName, "");
    EXPECT_EQ(c->ipv4[0], 127);
    EXPECT_EQ(c->raw, 1u);
    EXPECT_EQ(c->multicast, 0u);
    NetFreeContext(c, 0);

    std::string longName(300, 'h');
    ASSERT_EQ(Context(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, longName.c_str(), nullptr, nullptr, &c).code, 0u);
    EXPECT_EQ(std::string(c->hostName), longName.substr(0, 255));
    NetFreeContext(c, 0);
}

TEST(NetContext, ErrorTexts)
{
    EXPECT_EQ(Text({7, 10061}), "NetAccess CONNECT_ERROR (10061)");
    EXPECT_EQ(Text({42, 0}), "NetAccess Unknown error code: 42");
    EXPECT_EQ(Text({24, 3}), "NetAccess Unknown error code: 24");
    EXPECT_EQ(Text({0, 2}), "NetAccess SUCCESS_CODE");
    EXPECT_EQ(Text({19, 11}), "NetAccess CREATETHREAD_ERROR:11");
    EXPECT_EQ(Text({22, 5003}), "NetAccess INVALID_INPUT_PARAMETERS: 5003");
    EXPECT_EQ(Text({23, 6000}), "NetAccess WRONG_MULTICAST_TRANSFER: 6000");
    char small[10] = "unchanged";
    NetErrorText({13, 104}, small, sizeof small);
    EXPECT_STREQ(small, "NetAccess");
    NetErrorText({13, 104}, nullptr, 256); // does nothing, does not crash
}

TEST(NetLink, ConnectFailuresAreReportedWithTheirErrno)
{
    TcpServer closed;
    uint16_t port = closed.port;
    px::SocketClose(closed.listening);
    closed.listening = px::kInvalidSocket;

    NetContext* c = nullptr;
    NetLink* l = nullptr;
    ASSERT_EQ(NetAllocContext(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, 0, port, nullptr, kLoopback, nullptr, 0, &c).code, 0u);
    EXPECT_EQ(NetAllocLink(c, 0, &l), (NetResult{NET_CONNECT_ERROR, ECONNREFUSED}));
    EXPECT_EQ(l, nullptr);
    {
        px::CsLock guard(c->listLock);
        EXPECT_EQ(c->links, nullptr);   // nothing half-made stays in the context
    }
    NetFreeContext(c, 0);

    ASSERT_EQ(Context(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, "no-such-camera.invalid", nullptr, nullptr, &c).code, 0u);
    EXPECT_EQ(NetAllocLink(c, 0, &l).code, NET_GETHOSTBYNAME_ERROR);
    NetFreeContext(c, 0);
}

TEST(NetLink, HookKindsAndHalfCloseOnNullLinks)
{
    TcpServer server;
    NetContext* c = nullptr;
    NetLink* l = nullptr;
    ASSERT_EQ(NetAllocContext(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, 0, server.port, nullptr, kLoopback, nullptr, 0, &c).code, 0u);
    ASSERT_EQ(NetAllocLink(c, 0, &l).code, 0u);
    HookRecord rec;
    EXPECT_EQ(NetLinkHookFunction(l, 4, &HookRecord::Hook, &rec, 0), (NetResult{21, 2}));
    for (uint32_t kind = 0; kind < 4; ++kind)
        EXPECT_EQ(NetLinkHookFunction(l, kind, &HookRecord::Hook, &rec, 0), (NetResult{0, 2}));
    EXPECT_EQ(NetRecvDisconnect(nullptr), (NetResult{24, 3}));
    EXPECT_EQ(NetSendDisconnect(nullptr), (NetResult{25, 3}));
    EXPECT_EQ(NetFreeContext(c, 0), (NetResult{0, 2})); // frees the link too
}

TEST(NetContext, ServerRoleReportsAndAcceptsConnections)
{
    NetContext* server = nullptr;
    ASSERT_EQ(NetAllocContext(NET_PROTOCOL_TCP, NET_ROLE_SERVER, 0, 0, nullptr, nullptr, nullptr, 0, &server),
              (NetResult{0, 2}));
    struct Seen {
        px::Event event{false, false};
        NetResult result{99, 99};
    } seen;
    NetSetAcceptHook(server, [](NetResult r, void* user) {
        auto* s = static_cast<Seen*>(user);
        s->result = r;
        s->event.Set();
    }, &seen);
    uint16_t port = 0;
    ASSERT_EQ(NetGetListeningPort(server, &port).code, 0u);
    ASSERT_NE(port, 0);

    // The server binds to its host name's address: reach it by that name.
    char host[65];
    ASSERT_EQ(px::LocalHostName(host, sizeof host), 0);
    NetContext* client = nullptr;
    NetLink* clientLink = nullptr;
    ASSERT_EQ(NetAllocContext(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, 0, port, host, nullptr, nullptr, 0, &client).code, 0u);
    ASSERT_EQ(NetAllocLink(client, 0, &clientLink).code, 0u);
    ASSERT_EQ(seen.event.Wait(5000), px::WaitResult::Signaled);
    EXPECT_EQ(seen.result, (NetResult{0, 2}));

    NetLink* accepted = nullptr;
    ASSERT_EQ(NetAllocLink(server, 0, &accepted), (NetResult{0, 2}));
    char hello[6] = "hello";
    uint32_t count = 0;
    EXPECT_EQ(NetTransferBuffer(clientLink, hello, 5, NET_DIRECTION_SEND, 0, 0, &count, 0), (NetResult{0, 2}));
    EXPECT_EQ(count, 5u);
    char got[6] = {};
    EXPECT_EQ(NetTransferBuffer(accepted, got, 5, NET_DIRECTION_RECEIVE, 0, 0, &count, 0), (NetResult{0, 2}));
    EXPECT_STREQ(got, "hello");

    EXPECT_EQ(NetFreeContext(client, 0), (NetResult{0, 2}));
    EXPECT_EQ(NetFreeContext(server, 0), (NetResult{0, 2})); // accepted link, then the listening link
}

// The link every connection of the component opens: an address given with a name wins, the four
// hooks are registered, and a failure names its step and leaves nothing behind.
TEST(NetClientLink, OpensWithTheAddressAndReportsTheFailingStep)
{
    TcpServer server;
    HookRecord received;
    NetContext* c = nullptr;
    NetLink* l = nullptr;
    NetOpenStep step = NetOpenStep::Hooks;
    const NetLinkHooks hooks{&HookRecord::Hook, &HookRecord::Hook, &HookRecord::Hook, &HookRecord::Hook, &received};
    ASSERT_EQ(NetOpenClientLink(NetAddress::Of("no-such-camera.invalid", kLoopback), server.port, px::kInfinite, hooks,
                                &c, &l, &step),
              (NetResult{0, 2}));
    EXPECT_STREQ(c->hostName, "");
    px::SocketHandle peer = server.Accept();
    char byte = 0;
    ASSERT_EQ(NetTransferBuffer(l, &byte, 1, NET_DIRECTION_RECEIVE, 1, 0, nullptr, 0), (NetResult{0, 2}));
    ASSERT_EQ(px::SocketSendAll(peer, "x", 1), 0);
    ASSERT_EQ(received.done.Wait(5000), px::WaitResult::Signaled);   // the stop hook is in place
    EXPECT_EQ(byte, 'x');
    px::SocketClose(peer);
    EXPECT_EQ(NetFreeContext(c, 0), (NetResult{0, 2}));

    EXPECT_EQ(NetOpenClientLink(NetAddress::Of(nullptr, nullptr), 1, px::kInfinite, hooks, &c, &l, &step),
              (NetResult{22, 5003}));
    EXPECT_EQ(step, NetOpenStep::Context);
    EXPECT_EQ(NetOpenClientLink(NetAddress::Of("no-such-camera.invalid", nullptr), 1, px::kInfinite, hooks, &c, &l, &step).code,
              NET_GETHOSTBYNAME_ERROR);
    EXPECT_EQ(step, NetOpenStep::Link);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(l, nullptr);
}

// A camera that never answers costs a connect its bound, not the kernel's minutes of SYN retries:
// the connection's time-out, or "ConnectTimeout" when that is infinite.
TEST(NetClientLink, AConnectThatIsNeverAnsweredEndsAtItsBound)
{
    platformtest::CSilentPort silent;
    ASSERT_TRUE(silent.Silent());
    HookRecord received;
    const NetLinkHooks hooks{&HookRecord::Hook, &HookRecord::Hook, &HookRecord::Hook, &HookRecord::Hook, &received};
    NetContext* c = nullptr;
    NetLink* l = nullptr;
    NetOpenStep step = NetOpenStep::Hooks;
    uint64_t start = px::TickCount64();
    EXPECT_EQ(NetOpenClientLink(NetAddress::Of(nullptr, kLoopback), silent.Port(), 300, hooks, &c, &l, &step),
              (NetResult{NET_CONNECT_ERROR, ETIMEDOUT}));
    EXPECT_LT(px::TickCount64() - start, 20000u);
    EXPECT_EQ(step, NetOpenStep::Link);
    EXPECT_EQ(c, nullptr);

    const std::string config = "/tmp/pellix-connect-" + std::to_string(getpid()) + ".conf";
    setenv("VISTEL_CONFIG", config.c_str(), 1);
    EXPECT_EQ(NetConnectBound(px::kInfinite), kNetDefaultConnectTimeoutMs);   // no file: the default
    std::ofstream(config) << "ConnectTimeout=200\n";
    start = px::TickCount64();
    EXPECT_EQ(NetOpenClientLink(NetAddress::Of(nullptr, kLoopback), silent.Port(), px::kInfinite, hooks, &c, &l, &step),
              (NetResult{NET_CONNECT_ERROR, ETIMEDOUT}));
    EXPECT_LT(px::TickCount64() - start, 20000u);
    // A time-out of 0 cannot bound a connect; ConnectTimeout=0 leaves it to the system.
    EXPECT_EQ(NetConnectBound(0), 200u);
    EXPECT_EQ(NetConnectBound(700), 700u);
    std::ofstream(config) << "ConnectTimeout=0\n";
    EXPECT_EQ(NetConnectBound(px::kInfinite), px::kInfinite);
    EXPECT_EQ(NetConnectBound(0), px::kInfinite);
    unlink(config.c_str());
    unsetenv("VISTEL_CONFIG");
}
