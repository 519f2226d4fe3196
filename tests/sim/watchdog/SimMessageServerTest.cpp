// The simulator's message port, driven over loopback by plain socket clients.
#include <gtest/gtest.h>

#include "SimServicePeer.h"
#include "sim/SimMessageServer.h"

using namespace px::agent;
using namespace simtest;
using pxsim::CSimMessageServer;

namespace {

class SimMessages : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_server.SetLog(m_log.Function());
        ASSERT_EQ(m_server.Start(0), 0);
    }
    void Connect(CPeer& peer, size_t nth)
    {
        ASSERT_EQ(peer.Connect(m_server.Port()), 0);
        ASSERT_TRUE(m_log.WaitFor(": connected", nth));  // in the server's list from here on
    }
    static void ExpectListChanged(CPeer& peer)
    {
        AgentMessage m;
        ASSERT_TRUE(peer.Receive(&m, 1000));
        EXPECT_EQ(m.dwCode, uint32_t{MSG_BUFFER_LIST_CHANGED});
    }

    CLogWatch m_log;
    CSimMessageServer m_server;
};

} // namespace

TEST_F(SimMessages, EveryConnectedClientIsNotified)
{
    EXPECT_EQ(m_server.NotifyBufferListChanged(), 0u);
    CPeer a, b, c;
    Connect(a, 1);
    Connect(b, 2);
    Connect(c, 3);
    EXPECT_EQ(m_server.ConnectionCount(), 3u);
    EXPECT_EQ(m_server.NotifyBufferListChanged(), 3u);
    EXPECT_EQ(m_server.NotifyBufferListChanged(), 3u);
    for (CPeer* p : {&a, &b, &c}) {
        ExpectListChanged(*p);
        ExpectListChanged(*p);
    }
    EXPECT_EQ(m_log.Count("MSG_BUFFER_LIST_CHANGED sent"), 6u);

    // A client that left is dropped; what a client sends is ignored.
    b.Close();
    const uint8_t junk[3] = {1, 2, 3};
    ASSERT_TRUE(c.SendRaw(junk, sizeof junk));
    EXPECT_EQ(m_server.NotifyBufferListChanged(), 2u);
    EXPECT_EQ(m_server.ConnectionCount(), 2u);
    EXPECT_EQ(m_log.Count("messages 2: connection closed"), 1u);
    ExpectListChanged(a);
    ExpectListChanged(c);
}

TEST_F(SimMessages, RefusedConnectionsAndStop)
{
    CPeer kept;
    Connect(kept, 1);
    m_server.SetRefuseConnections(true);
    CPeer refused;
    ASSERT_EQ(refused.Connect(m_server.Port()), 0);
    EXPECT_TRUE(refused.Ended(1000));
    EXPECT_TRUE(m_log.WaitFor("messages 2: connection refused"));
    EXPECT_EQ(m_server.NotifyBufferListChanged(), 1u);
    ExpectListChanged(kept);

    m_server.Stop();
    EXPECT_TRUE(kept.Ended(1000));
    CPeer late;
    EXPECT_EQ(late.Connect(m_server.Port()), ECONNREFUSED);
    EXPECT_EQ(m_server.NotifyBufferListChanged(), 0u);
    m_server.SetRefuseConnections(false);
    ASSERT_EQ(m_server.Start(0), 0);
    CPeer again;
    Connect(again, 2);
    EXPECT_EQ(m_server.NotifyBufferListChanged(), 1u);
    ExpectListChanged(again);
}
