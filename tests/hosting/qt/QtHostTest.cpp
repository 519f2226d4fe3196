// The widget's window host against a scripted control, in what is Qt's (the core's own rules are
// tested once, in HostCoreTest.cpp): the messages the widget hands over (its creation, sizes,
// mouse, destruction), worker messages brought to the GUI thread through Qt's event loop, QTimers
// and painting on the widget.
#include <QTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "QtTestUtil.h"
#include "ScriptedControl.h"
#include "pellix/PellixView.h"

namespace pxtest {
namespace {

using scripted::Messages;
using scripted::MessagesOf;

TEST(QtHost, TheWidgetsLifeAndInputBecomeTheControlsWindowMessages)
{
    auto view = std::make_unique<PellixView>();
    view->resize(200, 100);
    EXPECT_TRUE(Messages().empty());   // no window before the widget is shown
    const PXControlHost host = scripted::Host();
    EXPECT_EQ(host.hasWindow(host.data), 0);

    view->show();
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages().front().msg, PX_WM_CREATE);
    EXPECT_EQ(host.hasWindow(host.data), 1);
    PXRect rect{};
    host.getClientRect(host.data, &rect);
    EXPECT_EQ(rect.right, 200);
    EXPECT_EQ(rect.bottom, 100);

    view->resize(300, 150);
    ASSERT_EQ(MessagesOf(PX_WM_SIZE).size(), 1u);
    EXPECT_EQ(MessagesOf(PX_WM_SIZE)[0].lParam, (150 << 16) | 300);
    host.getClientRect(host.data, &rect);
    EXPECT_EQ(rect.right, 300);

    const struct {
        Qt::MouseButton button;
        Qt::KeyboardModifiers keys;
        QPoint at;
        uint32_t down, up;
        uintptr_t downKeys, upKeys;   // the button is up by the up message
    } clicks[] = {
        {Qt::LeftButton, Qt::ShiftModifier, {10, 20}, PX_WM_LBUTTONDOWN, PX_WM_LBUTTONUP, PX_MK_LBUTTON | PX_MK_SHIFT,
         PX_MK_SHIFT},
        {Qt::RightButton, Qt::ControlModifier, {30, 40}, PX_WM_RBUTTONDOWN, PX_WM_RBUTTONUP,
         PX_MK_RBUTTON | PX_MK_CONTROL, PX_MK_CONTROL},
        {Qt::MiddleButton, {}, {299, 149}, PX_WM_MBUTTONDOWN, PX_WM_MBUTTONUP, PX_MK_MBUTTON, 0},
    };
    for (const auto& c : clicks) {
        QTest::mouseClick(view.get(), c.button, c.keys, c.at);
        const auto down = MessagesOf(c.down), up = MessagesOf(c.up);
        ASSERT_EQ(down.size(), 1u) << c.down;
        ASSERT_EQ(up.size(), 1u) << c.up;
        EXPECT_EQ(down[0].wParam, c.downKeys) << c.down;
        EXPECT_EQ(up[0].wParam, c.upKeys) << c.up;
        EXPECT_EQ(down[0].lParam, PX_MOUSE_LPARAM(c.at.x(), c.at.y())) << c.down;
        EXPECT_EQ(up[0].lParam, PX_MOUSE_LPARAM(c.at.x(), c.at.y())) << c.up;
    }
    QTest::mouseMove(view.get(), QPoint(5, 6));
    ASSERT_FALSE(MessagesOf(PX_WM_MOUSEMOVE).empty());
    EXPECT_EQ(MessagesOf(PX_WM_MOUSEMOVE).back().lParam, PX_MOUSE_LPARAM(5, 6));

    // Shown again: the window is still the same one.
    view->hide();
    view->show();
    EXPECT_EQ(MessagesOf(PX_WM_CREATE).size(), 1u);

    view.reset();
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages().back().msg, PX_WM_DESTROY);
    EXPECT_TRUE(scripted::Last().bDestroyed);
    for (const scripted::Message& m : Messages())
        EXPECT_EQ(m.thread, std::this_thread::get_id()) << "message " << m.msg;
}

TEST(QtHost, WorkerMessagesAndInvalidationsReachTheGuiThreadThroughItsEventLoop)
{
    auto view = std::make_unique<PellixView>();
    view->resize(64, 32);
    view->show();
    const PXControlHost host = scripted::Host();

    std::atomic<int> sent{-1};
    std::thread worker([&] {
        for (uint32_t i = 0; i < 3; ++i)
            host.deliverMessage(host.data, PX_WM_REGISTERED_FIRST + i, i, -intptr_t(i), 0, 0);
        sent = host.deliverMessage(host.data, PX_WM_REGISTERED_FIRST + 3, 0, 0, 1, 60000);
    });
    ASSERT_TRUE(WaitUntil([&] { return sent.load() != -1; }));
    worker.join();
    EXPECT_EQ(sent.load(), 1);
    std::vector<uint32_t> order;
    for (const scripted::Message& m : Messages()) {
        if (m.msg >= PX_WM_REGISTERED_FIRST) {
            order.push_back(m.msg - PX_WM_REGISTERED_FIRST);
            EXPECT_EQ(m.thread, std::this_thread::get_id());
        }
    }
    EXPECT_EQ(order, (std::vector<uint32_t>{0, 1, 2, 3}));

    // An invalidation from a worker gets the widget painted with what the control paints.
    {
        std::lock_guard<std::mutex> lock(scripted::Last().lock);
        scripted::Last().dwPaintColour = 0x00204060;
    }
    std::thread painter([&] { host.invalidate(host.data); });
    painter.join();
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(scripted::Last().lock);
        return scripted::Last().dwPaints > 0;
    }));
    const Picture shown = Shown(*view);
    EXPECT_EQ(std::count(shown.rgb.begin(), shown.rgb.end(), 0x204060u), 64 * 32);
}

TEST(QtHost, TimersHandTheirIdToTheControlUntilKilled)
{
    auto view = std::make_unique<PellixView>();
    const PXControlHost host = scripted::Host();
    EXPECT_EQ(host.setTimer(host.data, 123, 10), 0u);   // no window yet
    view->show();
    EXPECT_EQ(host.setTimer(host.data, 123, 10), 123u);
    EXPECT_EQ(host.setTimer(host.data, 7, 10), 7u);
    ASSERT_TRUE(WaitUntil([&] { return MessagesOf(PX_WM_TIMER).size() >= 4; }));
    host.killTimer(host.data, 7);
    size_t seven = 0;
    for (const scripted::Message& m : MessagesOf(PX_WM_TIMER))
        seven += m.wParam == 7 ? 1 : 0;
    EXPECT_GE(seven, 1u);
    // 123 goes on: once it has ticked twice more, 7 has not ticked again.
    const size_t before = MessagesOf(PX_WM_TIMER).size();
    ASSERT_TRUE(WaitUntil([&] { return MessagesOf(PX_WM_TIMER).size() >= before + 2; }));
    size_t sevenAfter = 0;
    for (const scripted::Message& m : MessagesOf(PX_WM_TIMER))
        sevenAfter += m.wParam == 7 ? 1 : 0;
    EXPECT_EQ(sevenAfter, seven);
    for (const scripted::Message& m : MessagesOf(PX_WM_TIMER))
        EXPECT_TRUE(m.wParam == 7 || m.wParam == 123);
}

} // namespace
} // namespace pxtest
