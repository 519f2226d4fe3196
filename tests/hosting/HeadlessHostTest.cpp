// The headless host on its own, against a scripted control (ScriptedControl.cpp): the window
// thread and its queue, sent messages and their time-outs, timers, invalidation and painting, the
// surface shared with worker threads, the event record and the scripted answers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "ScriptedControl.h"
#include "hosting/HeadlessHost.h"
#include "platform/Event.h"

namespace {

using pxhost::CHeadlessHost;
using pxhost::HeadlessHostOptions;
using pxhost::HostValue;

constexpr uint32_t kWait = 20000;   // ms; only reached when something is broken
constexpr uint32_t kDataMessage = 0xC001;

std::vector<scripted::Message> ScriptedMessages()
{
    std::lock_guard<std::mutex> lock(scripted::Last().lock);
    return scripted::Last().messages;
}

size_t CountMessages(uint32_t msg)
{
    size_t n = 0;
    for (const auto& m : ScriptedMessages())
        n += m.msg == msg ? 1 : 0;
    return n;
}

void SetOnMessage(std::function<int(uint32_t)> answer)
{
    std::lock_guard<std::mutex> lock(scripted::Last().lock);
    scripted::Last().onMessage = std::move(answer);
}

PXControlHost Table()
{
    std::lock_guard<std::mutex> lock(scripted::Last().lock);
    return scripted::Last().host;
}

// The host's functions as the control's worker threads call them.
int Deliver(uint32_t msg, int send, uint32_t timeoutMs)
{
    PXControlHost t = Table();
    return t.deliverMessage(t.data, msg, 0, 0, send, timeoutMs);
}

TEST(HeadlessHost, MessagesReachTheControlOnTheWindowThreadInOrder)
{
    CHeadlessHost host;
    ASSERT_TRUE(host.HasControl());
    EXPECT_FALSE(host.PostMessage(kDataMessage, 0, 0)) << "no window yet";
    PXControlHost t = Table();
    EXPECT_EQ(t.hasWindow(t.data), 0);
    PXRect r{1, 1, 1, 1};
    t.getClientRect(t.data, &r);
    EXPECT_EQ(r.right, 0);

    host.CreateWindow();
    EXPECT_EQ(t.hasWindow(t.data), 1);
    t.getClientRect(t.data, &r);
    EXPECT_EQ(r.right, 320);
    EXPECT_EQ(r.bottom, 240);
    std::thread worker([] {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Deliver(kDataMessage + i, 0, 0), 1);
    });
    worker.join();
    ASSERT_TRUE(host.PostMouse(PX_WM_LBUTTONDOWN, -3, 470, PX_MK_SHIFT));
    ASSERT_TRUE(host.Flush(kWait));

    std::vector<scripted::Message> got = ScriptedMessages();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].msg, PX_WM_CREATE);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(got[1 + i].msg, kDataMessage + i);
    EXPECT_EQ(got[4].wParam, PX_MK_SHIFT);
    EXPECT_EQ(static_cast<int16_t>(got[4].lParam & 0xFFFF), -3);
    EXPECT_EQ(static_cast<int16_t>((got[4].lParam >> 16) & 0xFFFF), 470);
    std::thread::id window = got[0].thread;
    for (const auto& m : got)
        EXPECT_EQ(m.thread, window);
    EXPECT_NE(window, std::this_thread::get_id());

    host.DestroyWindow();
    EXPECT_EQ(ScriptedMessages().back().msg, PX_WM_DESTROY);
    EXPECT_EQ(t.hasWindow(t.data), 0);
    EXPECT_FALSE(host.PostMessage(kDataMessage, 0, 0));
}

TEST(HeadlessHost, RecordsKeepTheirNewestEntriesWithinTheLimit)
{
    HeadlessHostOptions options;
    options.nRecordLimit = 4;
    CHeadlessHost host(options);
    host.CreateWindow();
    for (uint32_t i = 0; i < 10; ++i)
        ASSERT_TRUE(host.PostMessage(kDataMessage + i, 0, 0));
    ASSERT_TRUE(host.Flush(kWait));
    std::vector<pxhost::RecordedMessage> kept = host.Messages();
    ASSERT_LE(kept.size(), 4u);
    ASSERT_GE(kept.size(), 2u);
    EXPECT_EQ(kept.back().msg, kDataMessage + 9);
    EXPECT_EQ(kept[kept.size() - 2].msg, kDataMessage + 8);
    EXPECT_EQ(CountMessages(kDataMessage + 9), 1u) << "the control saw them all";
    EXPECT_EQ(CountMessages(kDataMessage), 1u);
}

TEST(HeadlessHost, SendsWaitForProcessingAndGiveUpWithoutDuplicates)
{
    HeadlessHostOptions options;
    options.dwSendTimeoutCapMs = 100;
    CHeadlessHost host(options);
    host.CreateWindow();

    // Processed: the sender returns only after the control has handled the message.
    std::atomic<bool> handled{false};
    SetOnMessage([&](uint32_t msg) {
        if (msg == kDataMessage)
            handled = true;
        return 1;
    });
    EXPECT_EQ(Deliver(kDataMessage, 1, 5000), 1);
    EXPECT_TRUE(handled.load());
    EXPECT_EQ(host.SendsDelivered(), 1u);

    // Held: the send gives up after the cap, not the control's 5000 ms, and is withdrawn, so
    // releasing the queue hands over only the posted message.
    host.HoldMessages(true);
    EXPECT_EQ(Deliver(kDataMessage + 1, 1, 5000), 0);
    EXPECT_EQ(host.SendsGivenUp(), 1u);
    EXPECT_EQ(Deliver(kDataMessage + 2, 0, 0), 1);
    host.HoldMessages(false);
    ASSERT_TRUE(host.Flush(kWait));
    EXPECT_EQ(CountMessages(kDataMessage + 1), 0u);
    EXPECT_EQ(CountMessages(kDataMessage + 2), 1u);
    EXPECT_EQ(host.SendsWaiting(), 0u);
}

TEST(HeadlessHost, DestroyingTheWindowReleasesAWaitingSendAtOnce)
{
    CHeadlessHost host;   // no cap: only the window's end can release the sender
    host.CreateWindow();
    host.HoldMessages(true);
    std::atomic<int> answer{-1};
    std::thread worker([&] { answer = Deliver(kDataMessage, 1, 0xFFFFFFFFu); });
    ASSERT_TRUE(host.WaitFor([&] { return host.SendsWaiting() == 1; }, kWait));

    // WM_DESTROY is handled while the sender still waits: the control sees the window going.
    std::atomic<int> waitingDuringDestroy{-1};
    SetOnMessage([&](uint32_t msg) {
        if (msg == PX_WM_DESTROY) {
            PXControlHost t = Table();
            waitingDuringDestroy = t.hasWindow(t.data);
        }
        return 1;
    });
    host.DestroyWindow();
    worker.join();
    EXPECT_EQ(answer.load(), 0);
    EXPECT_EQ(waitingDuringDestroy.load(), 1);
    EXPECT_EQ(CountMessages(kDataMessage), 0u);
    EXPECT_EQ(Deliver(kDataMessage, 1, 0xFFFFFFFFu), 0) << "a send after the window's end";
}

TEST(HeadlessHost, TimersFireOnTheWindowThreadUntilKilled)
{
    {
        HeadlessHostOptions manual;
        manual.bManualTimers = true;
        CHeadlessHost host(manual);
        PXControlHost t = Table();
        EXPECT_EQ(t.setTimer(t.data, 123, 2000), 0u) << "no window";
        host.CreateWindow();
        EXPECT_EQ(t.setTimer(t.data, 123, 2000), 123u);
        uint32_t period = 0;
        EXPECT_TRUE(host.TimerSet(123, &period));
        EXPECT_EQ(period, 2000u);
        EXPECT_FALSE(host.FireTimer(7));
        host.HoldMessages(true);
        EXPECT_TRUE(host.FireTimer(123));
        t.killTimer(t.data, 123);   // the queued tick goes with the timer
        host.HoldMessages(false);
        ASSERT_TRUE(host.Flush(kWait));
        EXPECT_EQ(CountMessages(PX_WM_TIMER), 0u);
        EXPECT_TRUE(host.FireTimer(123) == false);
        ASSERT_EQ(host.TimerCalls().size(), 3u);
        EXPECT_FALSE(host.TimerCalls()[2].bSet);
    }
    CHeadlessHost host;
    host.CreateWindow();
    PXControlHost t = Table();
    ASSERT_EQ(t.setTimer(t.data, 9, 1), 9u);
    ASSERT_TRUE(host.WaitFor([] { return CountMessages(PX_WM_TIMER) >= 3; }, kWait));
    t.killTimer(t.data, 9);
    ASSERT_TRUE(host.Flush(kWait));
    size_t ticks = CountMessages(PX_WM_TIMER);
    ASSERT_TRUE(host.Flush(kWait));
    EXPECT_EQ(CountMessages(PX_WM_TIMER), ticks);
    for (const auto& m : ScriptedMessages()) {
        if (m.msg == PX_WM_TIMER) {
            EXPECT_EQ(m.wParam, 9u);
        }
    }
}

TEST(HeadlessHost, InvalidationPaintsTheControlsPictureIntoTheWindow)
{
    CHeadlessHost host;
    host.CreateWindow();
    PXControlHost t = Table();
    uint64_t paints = host.Paints();
    std::thread worker([&] { t.invalidate(t.data); });
    worker.join();
    ASSERT_TRUE(host.WaitFor([&] { return host.Paints() > paints; }, kWait));
    EXPECT_EQ(host.Invalidations(), 1u);
    pxhost::HostBitmap w = host.Window();
    EXPECT_EQ(w.Pixel(0, 0), 0x336699u);
    EXPECT_EQ(w.Pixel(319, 239), 0x336699u);

    // Held messages hold painting too.
    host.HoldMessages(true);
    paints = host.Paints();
    t.invalidate(t.data);
    ASSERT_TRUE(host.WaitFor([&] { return host.Invalidations() == 2; }, kWait));
    EXPECT_EQ(host.Paints(), paints);
    host.HoldMessages(false);
    ASSERT_TRUE(host.WaitFor([&] { return host.Paints() > paints; }, kWait));

    // A surface the control holds keeps the host's reads out until it is released; the host's
    // paint holds it alongside, as a second painter.
    PXSurface s{};
    ASSERT_EQ(t.getWindowSurface(t.data, &s), 1);
    ASSERT_EQ(s.width, 320);
    ASSERT_EQ(s.stride, 320 * 4);
    {
        std::lock_guard<std::mutex> lock(scripted::Last().lock);
        scripted::Last().dwPaintColour = 0x00FF0000;
    }
    host.Paint();
    std::atomic<bool> read{false};
    pxhost::HostBitmap seen;
    std::thread reader([&] {
        seen = host.Window();
        read = true;
    });
    memset(s.pixels + 4, 0x11, 4);   // the control's own write, while it holds the surface
    EXPECT_FALSE(read.load());
    t.releaseWindowSurface(t.data, &s);
    reader.join();
    EXPECT_EQ(seen.Pixel(0, 0), 0xFF0000u);
    EXPECT_EQ(seen.Pixel(1, 0), 0x111111u);

    host.Resize(100, 50);
    const auto m = ScriptedMessages().back();
    EXPECT_EQ(m.msg, PX_WM_SIZE);
    EXPECT_EQ(m.lParam, (50 << 16) | 100);
    PXRect r{};
    t.getClientRect(t.data, &r);
    EXPECT_EQ(r.right, 100);
    EXPECT_EQ(host.Window().width, 100);
    host.DestroyWindow();
    EXPECT_EQ(t.getWindowSurface(t.data, &s), 0);
}

TEST(HeadlessHost, EventsAreRecordedWithCopiesOfTheirArgumentsAndHandledOnTheWindowThread)
{
    CHeadlessHost host;
    host.CreateWindow();
    std::thread::id handlerThread;
    std::string portInHandler;
    host.SetEventHandler([&](int32_t dispid, const PXVariant* args, uint32_t argc) {
        handlerThread = std::this_thread::get_id();
        ASSERT_EQ(argc, 2u);
        EXPECT_EQ(dispid, PXEVENT_OnError);
        EXPECT_STREQ(args[1].v.str, "Unknown error");
        host.Put("Port", HostValue::I4(3100));   // members from inside an event
        portInHandler = host.Get("Port").Describe();
    });
    // The control fires its events from a window message.
    SetOnMessage([&](uint32_t msg) {
        if (msg != kDataMessage)
            return 0;
        char text[] = "Unknown error";
        PXVariant item{};
        item.vt = PX_VT_I2;
        item.v.iVal = -2;
        PXVariant args[2]{};
        args[0].vt = PX_VT_I4;
        args[0].v.lVal = 2000;
        args[1].vt = PX_VT_BSTR;
        args[1].v.str = text;
        PXControlHost t = Table();
        t.fireEvent(t.data, PXEVENT_OnError, args, 2);
        text[0] = 'X';   // the record holds a copy
        PXVariant array{};
        array.vt = PX_VT_ARRAY | PX_VT_VARIANT;
        array.v.array.items = &item;
        array.v.array.count = 1;
        host.SetEventHandler(nullptr);
        t.fireEvent(t.data, PXEVENT_OnArrayReceived, &array, 1);
        return 1;
    });
    ASSERT_TRUE(host.PostMessage(kDataMessage, 0, 0));
    ASSERT_TRUE(host.WaitForEvents(PXEVENT_OnArrayReceived, 1, kWait));
    std::vector<pxhost::RecordedEvent> events = host.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].args[0].Int(), 2000);
    EXPECT_EQ(events[0].args[1].strText, "Unknown error");
    EXPECT_EQ(events[1].args[0].Describe(), "ARRAY[I2 -2]");
    EXPECT_EQ(handlerThread, ScriptedMessages().front().thread);
    EXPECT_EQ(portInHandler, "I4 3100");
}

TEST(HeadlessHost, ScriptedAnswersAndWhatTheControlAsked)
{
    HeadlessHostOptions options;
    options.screenX = 40;
    options.screenY = 30;
    CHeadlessHost host(options);
    host.CreateWindow();
    PXControlHost t = Table();

    PXMenuItem zoom[] = {{0xF00, "In", 0, nullptr, 0}, {0x1000, "Out", PX_MENU_CHECKED, nullptr, 0}};
    PXMenuItem menu[] = {{0xE00, "Select new ROI", 0, nullptr, 0},
                         {0, nullptr, PX_MENU_SEPARATOR, nullptr, 0},
                         {0, "Zoom", PX_MENU_SUBMENU, zoom, 2}};
    host.ScriptMenuAnswer(0x1000);
    EXPECT_EQ(t.trackMenu(t.data, menu, 3, 50, 60), 0x1000u);
    EXPECT_EQ(t.trackMenu(t.data, menu, 3, 50, 60), 0u) << "unscripted: dismissed";
    ASSERT_EQ(host.Menus().size(), 2u);
    const pxhost::MenuRecord shown = host.Menus()[0];
    EXPECT_EQ(shown.x, 50);
    ASSERT_EQ(shown.items.size(), 3u);
    EXPECT_EQ(shown.items[2].children[1].strText, "Out");
    EXPECT_EQ(shown.items[2].children[1].dwFlags, PX_MENU_CHECKED);

    const char* filters[] = {"Bitmap Files", "*.BMP", "Jpeg Files", "*.JPG"};
    char path[8];
    uint32_t chosen = 99;
    host.ScriptSaveDialog({true, "/tmp/a-long-name.jpg", 1});
    EXPECT_EQ(t.saveFileDialog(t.data, filters, 2, "Save Dravik KELVO Image", "IMAGE000", "BMP", path, sizeof path,
                               &chosen),
              1);
    EXPECT_STREQ(path, "/tmp/a-");   // cut to the buffer, terminated
    EXPECT_EQ(chosen, 1u);
    EXPECT_EQ(t.saveFileDialog(t.data, filters, 2, "t", "i", "BMP", path, sizeof path, &chosen), 0);
    ASSERT_EQ(host.SaveDialogs().size(), 2u);
    EXPECT_EQ(host.SaveDialogs()[0].filters[1].second, "*.JPG");
    EXPECT_EQ(host.SaveDialogs()[0].strInitialName, "IMAGE000");

    char text[80] = "kept";
    host.ScriptTextDialog({false, "ignored"});
    host.ScriptTextDialog({true, "Hello"});
    EXPECT_EQ(t.textDialog(t.data, "Set Overlay String", "Enter the string to write", text, sizeof text), 0);
    EXPECT_STREQ(text, "kept");
    EXPECT_EQ(t.textDialog(t.data, "Set Overlay String", "Enter the string to write", text, sizeof text), 1);
    EXPECT_STREQ(text, "Hello");
    EXPECT_EQ(host.TextDialogs()[1].strPrompt, "Enter the string to write");

    uint8_t pixels[2 * 12] = {};   // 2 x 2 with a padded stride of 12
    pixels[12 + 4] = 0xAA;
    PXSurface bitmap{pixels, 2, 2, 12};
    EXPECT_EQ(t.setClipboardBitmap(t.data, &bitmap), 1);
    host.SetClipboardAccepts(false);
    EXPECT_EQ(t.setClipboardBitmap(t.data, &bitmap), 0);
    ASSERT_EQ(host.Clipboard().size(), 1u);
    EXPECT_EQ(host.Clipboard()[0].Pixel(1, 1), 0xAAu);

    EXPECT_EQ(t.messageBox(t.data, "m_usPort = 0", "Vistel ActiveX", PX_MB_OK), PX_IDOK);
    EXPECT_EQ(host.MessageBoxes()[0].strCaption, "Vistel ActiveX");
    int32_t x = 0, y = 0;
    t.screenOrigin(t.data, &x, &y);
    EXPECT_EQ(x, 40);
    EXPECT_EQ(y, 30);
}

TEST(HeadlessHost, MembersAndPersistenceGoThroughTheWindowThread)
{
    CHeadlessHost host;
    EXPECT_EQ(host.Put("ClientName", HostValue::Text("viewer")), PX_S_OK);
    EXPECT_EQ(host.Put("ClientName", HostValue::I4(1)), PX_DISP_E_TYPEMISMATCH);
    EXPECT_EQ(host.Put("Port", HostValue::I4(3100)), PX_S_OK);
    EXPECT_EQ(host.Get("ClientName").strText, "viewer");
    EXPECT_EQ(host.Call("NoSuchMember"), PX_DISP_E_MEMBERNOTFOUND);

    pxhost::PropertyBag bag;
    ASSERT_EQ(host.SaveProperties(&bag), PX_S_OK);
    ASSERT_EQ(bag.size(), 2u);
    EXPECT_EQ(bag[0].first, "Port");
    EXPECT_EQ(bag[1].second.strText, "viewer");

    CHeadlessHost second;
    bag[1].second = HostValue::Text("restored");
    ASSERT_EQ(second.LoadProperties(bag), PX_S_OK);
    EXPECT_EQ(second.Get("ClientName").strText, "restored");
    EXPECT_EQ(second.Get("Port").Int(), 3100);
}

} // namespace
