// The host core's own rules, against a scripted control (ScriptedControl.cpp) with the test's
// thread as the window thread, so that messages are handed over only when the test pumps them:
// the queue's order, sends that wait, time out and are withdrawn or are released by the window's
// end, and the window surface shared with its users. Then what the headless host's window thread
// adds: timers, painting when invalid, bounded records.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "ScriptedControl.h"
#include "hosting/HeadlessHost.h"

namespace {

using pxhost::CHeadlessHost;
using pxhost::CHostCore;
using scripted::Messages;
using scripted::MessagesOf;

constexpr uint32_t kWait = 30000;   // ms; only reached when something is broken
constexpr uint32_t kData = PX_WM_REGISTERED_FIRST;

class CTestHost : public CHostCore {
public:
    explicit CTestHost(uint32_t sendCapMs = 0xFFFFFFFFu) : CHostCore(8, 4, 0, sendCapMs)
    {
        SetWindowThread();
        CreateControl();
    }
    ~CTestHost() override
    {
        CloseWindow();
        DestroyControl();
    }
    using CHostCore::CloseWindow;
    using CHostCore::OpenWindow;
    using CHostCore::PaintControl;
    using CHostCore::Post;
    using CHostCore::ResizeWindow;
    using CHostCore::Surface;

    // Hands every queued message over; how many.
    int Pump()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        int n = 0;
        while (DispatchNextLocked(lock))
            ++n;
        return n;
    }

private:
    uint32_t OnSetTimer(uint32_t, uint32_t) override { return 0; }
    void OnKillTimer(uint32_t) override {}
    void OnInvalidate() override {}
    int32_t OnMessageBox(const char*, const char*, uint32_t) override { return PX_IDOK; }
    void OnEvent(int32_t, const PXVariant*, uint32_t) override {}
    uint32_t OnTrackMenu(const PXMenuItem*, uint32_t, int32_t, int32_t) override { return 0; }
    int OnSaveFileDialog(const char* const*, uint32_t, const char*, const char*, const char*, char*, uint32_t,
                         uint32_t*) override
    {
        return 0;
    }
    int OnTextDialog(const char*, const char*, char*, uint32_t) override { return 0; }
    int OnSetClipboardBitmap(const PXSurface*) override { return 0; }
    void OnScreenOrigin(int32_t*, int32_t*) override {}
};

// The host's deliverMessage as the control's worker threads call it.
int Deliver(uint32_t msg, int send, uint32_t timeoutMs)
{
    const PXControlHost t = scripted::Host();
    return t.deliverMessage(t.data, msg, 0, 0, send, timeoutMs);
}

TEST(HostCore, MessagesFromWorkersReachTheControlInOrderOnTheWindowThread)
{
    CTestHost host;
    const PXControlHost t = scripted::Host();
    PXRect r{1, 1, 1, 1};
    t.getClientRect(t.data, &r);
    EXPECT_EQ(r.right, 0) << "no window yet";
    EXPECT_EQ(t.hasWindow(t.data), 0);
    EXPECT_EQ(Deliver(kData, 0, 0), 0);
    EXPECT_FALSE(host.Post(kData, 0, 0));

    ASSERT_TRUE(host.OpenWindow());
    EXPECT_FALSE(host.OpenWindow()) << "once";
    EXPECT_EQ(t.hasWindow(t.data), 1);
    t.getClientRect(t.data, &r);
    EXPECT_EQ(r.right, 8);
    EXPECT_EQ(r.bottom, 4);
    std::atomic<int> sent{-1};
    std::thread worker([&] {
        for (uint32_t i = 1; i <= 3; ++i)
            EXPECT_EQ(Deliver(kData + i, 0, 0), 1);
        sent = Deliver(kData + 4, 1, 0xFFFFFFFFu);
    });
    ASSERT_TRUE(host.WaitFor([&] { return host.SendsWaiting() == 1; }, kWait));
    EXPECT_EQ(host.Pump(), 4);
    worker.join();
    EXPECT_EQ(sent.load(), 1);
    EXPECT_EQ(Deliver(kData + 5, 1, 0), 1) << "a send on the window thread is a call";

    const std::vector<scripted::Message> got = Messages();
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].msg, PX_WM_CREATE);
    for (uint32_t i = 1; i < 6; ++i) {
        EXPECT_EQ(got[i].msg, kData + i);
        EXPECT_EQ(got[i].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(host.SendsDelivered(), 2u);
}

TEST(HostCore, ASendThatTimesOutIsWithdrawnAndTheWindowsEndReleasesTheOthers)
{
    CTestHost host(100);   // a send waits 100 ms at the most, whatever the control asks
    ASSERT_TRUE(host.OpenWindow());
    std::atomic<int> sent{-1};
    std::thread late([&] { sent = Deliver(kData + 1, 1, 0xFFFFFFFFu); });
    ASSERT_TRUE(host.WaitFor([&] { return host.SendsGivenUp() == 1; }, kWait));
    late.join();
    EXPECT_EQ(sent.load(), 0);
    ASSERT_TRUE(host.Post(kData + 2, 0, 0));
    EXPECT_EQ(host.Pump(), 1) << "the withdrawn send is not handed over";
    EXPECT_TRUE(MessagesOf(kData + 1).empty());
    EXPECT_EQ(MessagesOf(kData + 2).size(), 1u);

    CTestHost uncapped;
    ASSERT_TRUE(uncapped.OpenWindow());
    std::thread waiting([&] { sent = Deliver(kData + 3, 1, 0xFFFFFFFFu); });
    ASSERT_TRUE(uncapped.WaitFor([&] { return uncapped.SendsWaiting() == 1; }, kWait));
    // PX_WM_DESTROY comes while the sender still waits: the control still sees its window.
    std::atomic<int> windowAtDestroy{-1};
    {
        std::lock_guard<std::mutex> lock(scripted::Last().lock);
        scripted::Last().onMessage = [&](uint32_t msg) {
            if (msg == PX_WM_DESTROY)
                windowAtDestroy = scripted::Host().hasWindow(scripted::Host().data);
            return 1;
        };
    }
    uncapped.CloseWindow();
    ASSERT_TRUE(uncapped.WaitFor([&] { return uncapped.SendsWaiting() == 0; }, kWait));
    waiting.join();
    {
        std::lock_guard<std::mutex> lock(scripted::Last().lock);
        scripted::Last().onMessage = nullptr;
    }
    EXPECT_EQ(sent.load(), 0);
    EXPECT_EQ(windowAtDestroy.load(), 1);
    EXPECT_EQ(Messages().back().msg, PX_WM_DESTROY);
    EXPECT_TRUE(MessagesOf(kData + 3).empty());
    EXPECT_EQ(Deliver(kData + 4, 1, 0xFFFFFFFFu), 0) << "a send after the window's end";
    EXPECT_FALSE(uncapped.Post(kData + 4, 0, 0));
    EXPECT_EQ(uncapped.SendsGivenUp(), 2u);
}

TEST(HostCore, TheSurfaceWaitsForItsUsersAndFollowsTheWindow)
{
    CTestHost host;
    const PXControlHost t = scripted::Host();
    PXSurface s{};
    EXPECT_EQ(t.getWindowSurface(t.data, &s), 0) << "no window";
    ASSERT_TRUE(host.OpenWindow());
    ASSERT_EQ(t.getWindowSurface(t.data, &s), 1);
    ASSERT_EQ(s.stride, 8 * 4);
    // The host's paint is a second user beside the control's worker. A read and a reallocation
    // wait while the worker holds the surface (each seen waiting, or done too early).
    host.PaintControl();
    std::atomic<bool> read{false}, resized{false};
    uint32_t pixels[2] = {};
    std::thread reader([&] {
        host.Surface().Read([&](const PXSurface& r) { memcpy(pixels, r.pixels, sizeof pixels); });
        read = true;
    });
    while (!read && host.Surface().Waiting() == 0)
        std::this_thread::yield();
    EXPECT_FALSE(read.load());
    memset(s.pixels + 4, 0x11, 4);   // the worker's own write while it holds the surface
    t.releaseWindowSurface(t.data, &s);
    reader.join();
    EXPECT_EQ(pixels[0] & 0xFFFFFF, 0x336699u);
    EXPECT_EQ(pixels[1], 0x11111111u);
    ASSERT_EQ(t.getWindowSurface(t.data, &s), 1);
    std::thread resizer([&] {
        host.Surface().Resize(16, 4);
        resized = true;
    });
    while (!resized && host.Surface().Waiting() == 0)
        std::this_thread::yield();
    EXPECT_FALSE(resized.load());
    memset(s.pixels, 0x22, 8 * 4 * 4);   // the held pixels are still the surface's
    t.releaseWindowSurface(t.data, &s);
    resizer.join();
    EXPECT_EQ(host.Surface().Rect().right, 16);

    host.ResizeWindow(16, 4);
    EXPECT_TRUE(MessagesOf(PX_WM_SIZE).empty()) << "the same size";
    host.ResizeWindow(100, 50);
    ASSERT_EQ(MessagesOf(PX_WM_SIZE).size(), 1u);
    EXPECT_EQ(MessagesOf(PX_WM_SIZE)[0].lParam, (50 << 16) | 100);
    PXRect r{};
    t.getClientRect(t.data, &r);
    EXPECT_EQ(r.right, 100);
    host.CloseWindow();
    EXPECT_EQ(t.getWindowSurface(t.data, &s), 0);
}

// The headless host's window thread: timers tick until killed (a tick already queued goes with
// its timer), an invalid window is painted unless messages are held, records keep their newest.
TEST(HeadlessHost, ItsWindowThreadTicksTimersPaintsAndKeepsRecordsBounded)
{
    {
        pxhost::HeadlessHostOptions manual;
        manual.bManualTimers = true;
        manual.nRecordLimit = 4;
        CHeadlessHost host(manual);
        const PXControlHost t = scripted::Host();
        EXPECT_EQ(t.setTimer(t.data, 123, 2000), 0u) << "no window";
        host.CreateWindow();
        EXPECT_EQ(t.setTimer(t.data, 123, 2000), 123u);
        EXPECT_FALSE(host.FireTimer(7));
        host.HoldMessages(true);
        EXPECT_TRUE(host.FireTimer(123));
        t.killTimer(t.data, 123);
        for (uint32_t i = 0; i < 10; ++i)
            ASSERT_TRUE(host.PostMessage(kData + i, 0, 0));
        host.HoldMessages(false);
        ASSERT_TRUE(host.Flush(kWait));
        EXPECT_TRUE(MessagesOf(PX_WM_TIMER).empty());
        const std::vector<pxhost::RecordedMessage> kept = host.Messages();
        ASSERT_LE(kept.size(), 4u);
        ASSERT_GE(kept.size(), 2u);
        EXPECT_EQ(kept.back().msg, kData + 9);
        EXPECT_EQ(kept[kept.size() - 2].msg, kData + 8);
    }
    CHeadlessHost host;
    host.CreateWindow();
    const PXControlHost t = scripted::Host();
    ASSERT_EQ(t.setTimer(t.data, 9, 1), 9u);
    ASSERT_TRUE(host.WaitFor([] { return MessagesOf(PX_WM_TIMER).size() >= 3; }, kWait));
    t.killTimer(t.data, 9);
    ASSERT_TRUE(host.Flush(kWait));
    const size_t ticks = MessagesOf(PX_WM_TIMER).size();
    for (const scripted::Message& m : MessagesOf(PX_WM_TIMER))
        EXPECT_EQ(m.thread, Messages().front().thread);

    host.HoldMessages(true);
    std::thread worker([&] { t.invalidate(t.data); });
    worker.join();
    ASSERT_TRUE(host.WaitFor([&] { return host.Invalidations() == 1; }, kWait));
    EXPECT_EQ(host.Paints(), 0u) << "held";
    host.HoldMessages(false);
    ASSERT_TRUE(host.WaitFor([&] { return host.Paints() == 1; }, kWait));
    EXPECT_EQ(host.Window().Pixel(319, 239), 0x336699u);
    ASSERT_TRUE(host.Flush(kWait));
    EXPECT_EQ(MessagesOf(PX_WM_TIMER).size(), ticks) << "killed";
}

} // namespace
