#include "platform/Event.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>

using namespace px;

// Auto-reset events are consumed by one wait and repeated sets collapse; manual-reset ones stay
// signalled until reset. Both kinds alike, with or without a descriptor.
TEST(Event, AutoAndManualResetOfBothKinds)
{
    for (EventKind kind : {EventKind::Pollable, EventKind::Local}) {
        Event e(false, false, kind);
        ASSERT_TRUE(e.Valid());
        EXPECT_EQ(e.Wait(0), WaitResult::Timeout);
        e.Set();
        e.Set(); // a second set of a signalled event changes nothing
        EXPECT_EQ(e.Wait(0), WaitResult::Signaled);
        EXPECT_EQ(e.Wait(0), WaitResult::Timeout);

        Event initially(false, true, kind);
        EXPECT_TRUE(initially.TryConsume());
        EXPECT_FALSE(initially.TryConsume());

        Event manual(true, false, kind);
        manual.Set();
        EXPECT_EQ(manual.Wait(0), WaitResult::Signaled);
        EXPECT_EQ(manual.Wait(0), WaitResult::Signaled);
        manual.Reset();
        EXPECT_EQ(manual.Wait(0), WaitResult::Timeout);
        manual.Reset(); // resetting a clear event is harmless
        EXPECT_FALSE(manual.TryConsume());
    }
}

TEST(Event, TimeoutWaitsAtLeastItsTime)
{
    for (EventKind kind : {EventKind::Pollable, EventKind::Local}) {
        Event e(false, false, kind);
        uint64_t start = TickCount64();
        EXPECT_EQ(e.Wait(30), WaitResult::Timeout);
        EXPECT_GE(TickCount64() - start, 29u);
    }
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

TEST(Event, LocalEventsHaveNoDescriptorToPoll)
{
    Event autoReset(false, false, EventKind::Local), manual(true, true, EventKind::Local);
    EXPECT_EQ(autoReset.Fd(), -1);
    std::thread setter([&] { autoReset.Set(); });
    EXPECT_EQ(autoReset.Wait(), WaitResult::Signaled);
    setter.join();
    Event* both[] = {&manual, &autoReset};
    EXPECT_EQ(Event::WaitAny(both, 2, 0), kWaitFailed);   // nothing to poll
}
