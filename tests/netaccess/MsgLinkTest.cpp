#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "NetTestPeer.h"
#include "netaccess/MsgLink.h"
#include "netaccess/WatchDog.h"
#include "platform/Clock.h"

using namespace nettest;
using namespace px::agent;

namespace {

// Plays the agent's side of one 8-byte-message connection: each message received is handed to
// answer(), which may send replies on the socket.
struct MessagePeer {
    TcpServer server;
    px::SocketHandle peer = px::kInvalidSocket;
    px::Event connected{true, false};
    std::thread thread;

    explicit MessagePeer(std::function<void(px::SocketHandle, const AgentMessage&)> answer)
    {
        thread = std::thread([this, answer] {
            peer = server.Accept();
            connected.Set();
            uint8_t bytes[8];
            AgentMessage m;
            while (px::SocketRecvAll(peer, bytes, 8) == 0 && AgentDecodeMessage(bytes, 8, &m) == AGENT_OK)
                answer(peer, m);
        });
    }
    ~MessagePeer()
    {
        connected.Wait(5000);
        px::SocketShutdown(peer, px::ShutdownHow::Both);
        thread.join();
        px::SocketClose(peer);
    }
    static void Send(px::SocketHandle s, uint32_t value, uint32_t code)
    {
        auto b = AgentEncodeMessage(AgentMessage{value, code});
        px::SocketSendAll(s, b.data(), b.size());
    }
};

} // namespace

TEST(WatchDog, SetUpSequenceAgainstACooperativeAgent)
{
    uint32_t delaySeen = 0;
    px::Event started(false, false);
    MessagePeer agent([&](px::SocketHandle s, const AgentMessage& m) {
        switch (m.dwCode) {
        case WD_CHECK: MessagePeer::Send(s, 1, WD_CHECK); break;
        case WD_GET_ID: MessagePeer::Send(s, 0xC0FFEE, WD_GET_ID); break;
        case WD_SET_DELAY: delaySeen = m.dwValue; break;
        case WD_START:
            MessagePeer::Send(s, 0, WD_SIGNAL);
            started.Set();
            break;
        }
    });
    CWatchDog wd(500);
    NetResult r{};
    ASSERT_TRUE(wd.Create(NetAddress::Of(nullptr, kLoopback), agent.server.port, px::kInfinite, &r));
    EXPECT_TRUE(wd.Check());
    EXPECT_TRUE(wd.GetIdentity());
    EXPECT_EQ(wd.Identity(), 0xC0FFEEu);
    EXPECT_TRUE(wd.SetDelay(250));
    EXPECT_TRUE(wd.Start());
    ASSERT_EQ(started.Wait(5000), px::WaitResult::Signaled);
    EXPECT_TRUE(wd.WaitForSignal(5000));
    EXPECT_EQ(delaySeen, 250u);
    // No further signal: the wait times out, and a later wait still finds the pending receive.
    EXPECT_FALSE(wd.WaitForSignal(50));
    EXPECT_FALSE(wd.WaitForSignal(50));
}

TEST(WatchDog, CheckFailsOnWrongValueSilenceOrClosedPort)
{
    MessagePeer wrongValue([](px::SocketHandle s, const AgentMessage&) { MessagePeer::Send(s, 0, WD_CHECK); });
    CWatchDog a(500);
    ASSERT_TRUE(a.Create(NetAddress::Of(nullptr, kLoopback), wrongValue.server.port, px::kInfinite, nullptr));
    EXPECT_FALSE(a.Check());

    MessagePeer silent([](px::SocketHandle, const AgentMessage&) {});
    CWatchDog b(100);
    ASSERT_TRUE(b.Create(NetAddress::Of(nullptr, kLoopback), silent.server.port, px::kInfinite, nullptr));
    uint64_t start = px::TickCount64();
    EXPECT_FALSE(b.Check());
    EXPECT_LT(px::TickCount64() - start, 2000u);
    b.Destroy(); // frees the link under the pending receive

    TcpServer closed;
    uint16_t port = closed.port;
    px::SocketClose(closed.listening);
    closed.listening = px::kInvalidSocket;
    CWatchDog c;
    NetResult r{};
    EXPECT_FALSE(c.Create(NetAddress::Of(nullptr, kLoopback), port, px::kInfinite, &r));
    EXPECT_EQ(r.code, NET_CONNECT_ERROR);
    EXPECT_FALSE(c.Check()); // not ready: nothing is sent
}

TEST(AsyncMsgLink, SignalsListChangesAndStopsPromptly)
{
    MessagePeer agent([](px::SocketHandle, const AgentMessage&) {});
    CAsyncMsgLink link(20);
    ASSERT_TRUE(link.Create(NetAddress::Of(nullptr, kLoopback), agent.server.port, px::kInfinite, nullptr));
    ASSERT_EQ(agent.connected.Wait(5000), px::WaitResult::Signaled);
    EXPECT_EQ(link.ListChangedEvent()->Wait(0), px::WaitResult::Timeout);
    MessagePeer::Send(agent.peer, 0, WD_SIGNAL);  // other codes are ignored
    MessagePeer::Send(agent.peer, 7, MSG_BUFFER_LIST_CHANGED);
    EXPECT_EQ(link.ListChangedEvent()->Wait(5000), px::WaitResult::Signaled);
    EXPECT_EQ(link.ListChangedEvent()->Wait(0), px::WaitResult::Timeout); // auto-reset
    EXPECT_TRUE(link.ThreadRunning());

    uint64_t start = px::TickCount64();
    link.Destroy();
    EXPECT_LT(px::TickCount64() - start, 1000u);
    EXPECT_FALSE(link.ThreadRunning());
}

TEST(AsyncMsgLink, ThreadEndsWhenTheAgentCloses)
{
    CAsyncMsgLink link(20);
    {
        MessagePeer agent([](px::SocketHandle, const AgentMessage&) {});
        ASSERT_TRUE(link.Create(NetAddress::Of(nullptr, kLoopback), agent.server.port, px::kInfinite, nullptr));
        ASSERT_EQ(agent.connected.Wait(5000), px::WaitResult::Signaled);
    }
    // The agent is gone: the message thread's receive fails and the thread ends on its own.
    EXPECT_TRUE(link.WaitThreadEnded(5000));
    EXPECT_FALSE(link.ThreadRunning());
}
