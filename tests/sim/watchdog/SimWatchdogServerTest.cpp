// The simulator's watchdog port, driven over loopback by a plain socket client.
#include <gtest/gtest.h>

#include "SimServicePeer.h"
#include "sim/SimWatchdogServer.h"

using namespace px::agent;
using namespace simtest;
using pxsim::CSimWatchdogServer;

namespace {

class SimWatchdog : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_server.SetLog(m_log.Function());
        m_server.SetIdentity(0x4B454C56);
        ASSERT_EQ(m_server.Start(0), 0);
        ASSERT_NE(m_server.Port(), 0);
    }
    void Connect(CPeer& peer) { ASSERT_EQ(peer.Connect(m_server.Port()), 0); }
    // Sends a message and expects the reply (value, same code) within a second.
    void Ask(CPeer& peer, uint32_t code, uint32_t expectedValue)
    {
        ASSERT_TRUE(peer.Send(0, code));
        AgentMessage m;
        ASSERT_TRUE(peer.Receive(&m, 1000)) << AgentMessageName(code);
        EXPECT_EQ(m.dwCode, code);
        EXPECT_EQ(m.dwValue, expectedValue);
    }

    CLogWatch m_log;
    CSimWatchdogServer m_server;
};

} // namespace

TEST_F(SimWatchdog, AnswersCheckAndIdentityAndSignalsAtTheSetPeriod)
{
    CPeer peer;
    Connect(peer);
    Ask(peer, WD_CHECK, 1);
    Ask(peer, WD_GET_ID, 0x4B454C56u);
    m_server.SetIdentity(7);  // read afresh at each request
    Ask(peer, WD_GET_ID, 7);

    AgentMessage m;
    ASSERT_TRUE(peer.Send(20, WD_SET_DELAY));
    EXPECT_FALSE(peer.Receive(&m, 100));  // nothing before WD_START
    ASSERT_TRUE(peer.Send(0, WD_START));
    const uint64_t start = px::TickCount64();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(peer.Receive(&m, 1000)) << i;
        EXPECT_EQ(m.dwCode, uint32_t{WD_SIGNAL});
    }
    EXPECT_GE(px::TickCount64() - start, 4 * 20u);  // at the period, not in a burst
    // A check in between is still answered (signals may come before the reply).
    ASSERT_TRUE(peer.Send(0, WD_CHECK));
    do {
        ASSERT_TRUE(peer.Receive(&m, 1000));
    } while (m.dwCode == WD_SIGNAL);
    EXPECT_EQ(m.dwCode, uint32_t{WD_CHECK});
    EXPECT_EQ(m.dwValue, 1u);

    EXPECT_TRUE(m_log.WaitFor("watchdog 1: connected"));
    EXPECT_TRUE(m_log.WaitFor("WD_SET_DELAY 20 ms"));
    EXPECT_TRUE(m_log.WaitFor("WD_START, signalling"));
}

TEST_F(SimWatchdog, EachConnectionHasItsOwnSignals)
{
    CPeer fast, idle, slow;
    Connect(fast);
    Connect(idle);
    Connect(slow);
    ASSERT_TRUE(m_log.WaitFor("connected", 3));
    EXPECT_EQ(m_server.ConnectionCount(), 3u);
    ASSERT_TRUE(fast.Send(10, WD_SET_DELAY));
    ASSERT_TRUE(fast.Send(0, WD_START));
    ASSERT_TRUE(slow.Send(0, WD_SET_DELAY));  // period 0: started, but no signals
    ASSERT_TRUE(slow.Send(0, WD_START));
    AgentMessage m;
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(fast.Receive(&m, 1000));
    EXPECT_FALSE(idle.Receive(&m, 50));
    EXPECT_FALSE(slow.Receive(&m, 50));
    EXPECT_TRUE(m_log.WaitFor("period 0, no signals"));

    // A client that leaves does not disturb the others.
    idle.Close();
    ASSERT_TRUE(m_log.WaitFor("connection closed (by the client)"));
    Ask(slow, WD_CHECK, 1);
}

TEST_F(SimWatchdog, UnansweredCheckAndDelayedReplies)
{
    CPeer peer;
    Connect(peer);
    m_server.SetNoCheckReply(true);
    ASSERT_TRUE(peer.Send(0, WD_CHECK));
    // The identity reply comes first: the check before it went unanswered.
    Ask(peer, WD_GET_ID, 0x4B454C56u);
    EXPECT_TRUE(m_log.WaitFor("WD_CHECK left unanswered"));
    m_server.SetNoCheckReply(false);
    Ask(peer, WD_CHECK, 1);

    m_server.SetReplyDelay(150);
    const uint64_t start = px::TickCount64();
    Ask(peer, WD_CHECK, 1);
    EXPECT_GE(px::TickCount64() - start, 145u);
    EXPECT_TRUE(m_log.WaitFor("answering in 150 ms"));
}

TEST_F(SimWatchdog, StopEndsEveryThreadPromptly)
{
    CPeer signalling, halfMessage, waiting;
    Connect(signalling);
    Connect(halfMessage);
    Connect(waiting);
    ASSERT_TRUE(signalling.Send(5, WD_SET_DELAY));
    ASSERT_TRUE(signalling.Send(0, WD_START));
    const uint8_t half[4] = {1, 0, 0, 0};
    ASSERT_TRUE(halfMessage.SendRaw(half, sizeof half));
    m_server.SetReplyDelay(60000);
    ASSERT_TRUE(waiting.Send(0, WD_CHECK));
    ASSERT_TRUE(m_log.WaitFor("answering in 60000 ms"));
    ASSERT_TRUE(m_log.WaitFor("WD_START, signalling"));

    const uint64_t start = px::TickCount64();
    m_server.Stop();
    EXPECT_LT(px::TickCount64() - start, 5000u);   // not the minute the delayed reply would take
    EXPECT_TRUE(halfMessage.Ended(1000));
    EXPECT_TRUE(waiting.Ended(1000));
    CPeer late;
    EXPECT_EQ(late.Connect(m_server.Port()), ECONNREFUSED);

    // Started again, it serves again; the destructor stops it with a client still connected.
    m_server.SetReplyDelay(0);
    ASSERT_EQ(m_server.Start(0), 0);
    EXPECT_EQ(m_server.Start(0), EBUSY);
    CPeer again;
    Connect(again);
    Ask(again, WD_CHECK, 1);
    CSimWatchdogServer second;
    EXPECT_EQ(second.Start(m_server.Port()), EADDRINUSE);
}
