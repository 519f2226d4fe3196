#include "platform/Clock.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

using namespace px;

TEST(Thread, RunsBodyUnderItsNameAndJoins)
{
    Thread t;
    uint32_t tid = 0;
    std::string comm;
    ASSERT_EQ(t.Start("px-test-name-long", [&] {
        tid = CurrentThreadId();
        std::ifstream f("/proc/thread-self/comm");
        std::getline(f, comm);
    }), 0);
    EXPECT_TRUE(t.Running());
    EXPECT_EQ(t.Start("again", [] {}), EBUSY);
    t.Join();
    EXPECT_FALSE(t.Running());
    EXPECT_NE(tid, 0u);
    EXPECT_NE(tid, CurrentThreadId());
    EXPECT_EQ(comm, "px-test-name-lo"); // the system keeps 15 characters
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads)
{
    CriticalSection cs;
    cs.Enter();
    cs.Enter(); // the owner may take it again
    bool otherGotIt = true;
    std::thread probe([&] { otherGotIt = cs.TryEnter(); });
    probe.join();
    EXPECT_FALSE(otherGotIt);
    cs.Leave();
    cs.Leave();
    std::thread probe2([&] { otherGotIt = cs.TryEnter(); if (otherGotIt) cs.Leave(); });
    probe2.join();
    EXPECT_TRUE(otherGotIt);
}

TEST(Clock, TickCountIsMonotonicAndSleepSleeps)
{
    uint64_t a = TickCount64();
    SleepMs(20);
    uint64_t b = TickCount64();
    EXPECT_GE(b - a, 19u);
    EXPECT_LE(TickCount() - static_cast<uint32_t>(b), 1000u); // one clock, 32-bit view
    TimeOfDay t{};
    ASSERT_TRUE(LocalTimeOfDay(&t));
    EXPECT_LT(t.hour, 24u);
    EXPECT_LT(t.minute, 60u);
    EXPECT_LT(t.millisecond, 1000u);
}
