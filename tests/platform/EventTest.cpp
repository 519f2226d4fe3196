#include "platform/Event.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>

using namespace px;

TEST(Event, AutoResetIsConsumedByOneWaitAndSetsCollapse)
{
    Event e(false, false);
    ASSERT_TRUE(e.Valid());
    EXPECT_EQ(e.Wait(0), WaitResult::Timeout);
    e.Set();
    e.Set(); // a second set of a signalled event changes nothing
    EXPECT_EQ(e.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(e.Wait(0), WaitResult::Timeout);

    Event initially(false, true);
    EXPECT_EQ(initially.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(initially.Wait(0), WaitResult::Timeout);
}

TEST(Event, ManualResetStaysSignalledUntilReset)
{
    Event e(true, false);
    e.Set();
    EXPECT_EQ(e.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(e.Wait(0), WaitResult::Signaled);
    e.Reset();
    EXPECT_EQ(e.Wait(0), WaitResult::Timeout);
    e.Reset(); // resetting a clear event is harmless
    EXPECT_EQ(e.Wait(0), WaitResult::Timeout);
}

TEST(Event, TimeoutWaitsAtLeastItsTime)
{
    Event e(false, false);
    uint64_t start = TickCount64();
    EXPECT_EQ(e.Wait(30), WaitResult::Timeout);
    EXPECT_GE(TickCount64() - start, 29u);
}

TEST(Event, SetFromAnotherThreadWakesAnUnlimitedWait)
{
    Event go(false, false), done(false, false);
    std::thread t([&] {
        go.Wait();
        done.Set();
    });
    go.Set();
    EXPECT_EQ(done.Wait(), WaitResult::Signaled);
    t.join();
}

TEST(Event, WaitAnyReportsLowestSignalledAndConsumesOnlyIt)
{
    Event a(false, false), b(false, false), c(true, false);
    Event* all[] = {&a, &b, &c};
    EXPECT_EQ(Event::WaitAny(all, 3, 0), kWaitTimeout);
    c.Set();
    b.Set();
    EXPECT_EQ(Event::WaitAny(all, 3, 0), 1);
    EXPECT_EQ(Event::WaitAny(all, 3, 0), 2);
    EXPECT_EQ(Event::WaitAny(all, 3, 0), 2); // manual reset stays
    EXPECT_EQ(Event::WaitAny(all, 0, 0), kWaitFailed);
}

TEST(Event, OneAutoSignalReleasesExactlyOneOfManyWaiters)
{
    Event e(false, false), woke(false, false);
    std::atomic<int> count{0};
    std::thread w1([&] { if (e.Wait(500) == WaitResult::Signaled) { ++count; woke.Set(); } });
    std::thread w2([&] { if (e.Wait(500) == WaitResult::Signaled) { ++count; woke.Set(); } });
    e.Set();
    ASSERT_EQ(woke.Wait(), WaitResult::Signaled);
    w1.join();
    w2.join();
    EXPECT_EQ(count.load(), 1);
}

TEST(Event, DescriptorIsPollableByAHost)
{
    Event e(true, false);
    pollfd p{e.Fd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
    e.Set();
    EXPECT_EQ(poll(&p, 1, 0), 1);
}

TEST(Event, LocalEventsBehaveAlikeWithoutADescriptor)
{
    Event autoReset(false, true, EventKind::Local), manual(true, false, EventKind::Local);
    EXPECT_EQ(autoReset.Fd(), -1);
    EXPECT_TRUE(autoReset.Valid());
    EXPECT_TRUE(autoReset.TryConsume());   // created set, taken once
    EXPECT_FALSE(autoReset.TryConsume());
    EXPECT_EQ(autoReset.Wait(10), WaitResult::Timeout);
    std::thread setter([&] { autoReset.Set(); });
    EXPECT_EQ(autoReset.Wait(), WaitResult::Signaled);
    setter.join();
    manual.Set();
    EXPECT_EQ(manual.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(manual.Wait(0), WaitResult::Signaled);   // stays until reset
    manual.Reset();
    EXPECT_FALSE(manual.TryConsume());
    Event* both[] = {&manual, &autoReset};
    EXPECT_EQ(Event::WaitAny(both, 2, 0), kWaitFailed);   // nothing to poll
}
