// The Qt widget's side of the viewer control: the window services of pellix/pellix_control.h
// (PXControlHost) over a QWidget, and the one control the widget owns.
//
// Who owns what, and which thread runs where:
//   - PellixView owns this object (a child QObject living on the widget's thread, the GUI thread)
//     and through it the control: made in the constructor, destroyed by DestroyControl. Every
//     call into the control runs on the GUI thread, as the C interface requires.
//   - The control's worker threads call getWindowSurface, getClientRect, releaseWindowSurface,
//     invalidate, hasWindow and deliverMessage; everything else comes on the GUI thread.
//   - m_lock guards the message queue, the window's flags and the counters of sent messages, and
//     m_changed tells a waiting sender (or a test) about any change. It is never held while the
//     control runs. The queue is ours and not Qt's so that every hand-over between a worker and
//     the GUI thread goes through a lock the thread checkers see; Qt's event queue only carries a
//     wake-up (one at a time) to drain it.
//   - m_surfaceLock guards the window surface (BGRX pixels of the widget's size) and counts its
//     users: the control between getWindowSurface and releaseWindowSurface (from any thread), and
//     the paint, which hands the surface to PXControlPaint the same way. Presenting it on the
//     screen and reallocating it on a resize wait until there is no user. The control never waits
//     for the GUI thread while it holds the surface, so these waits end.
//   - A sent message waits for its processing or its time-out; one that times out while still
//     queued is withdrawn, so the control's repeated sends never pile up. From DestroyWindow on,
//     every waiting and later send returns 0 at once: the widget's destruction never waits for a
//     worker that waits for the widget.
#pragma once

#include <QObject>
#include <QPoint>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "pellix/pellix_control.h"

class QPainter;
class QTimer;
class QWidget;

namespace pxqt {

// Called on the GUI thread for each event of the control, with the control's arguments (valid
// during the call only).
using EventSink = std::function<void(int32_t dispid, const PXVariant* args, uint32_t argc)>;

class CQtWindowHost : public QObject {
    Q_OBJECT

public:
    CQtWindowHost(QWidget* widget, EventSink events);
    ~CQtWindowHost() override;

    PXControl* Control() const { return m_pControl; }
    // Stops the control if its window still exists and frees it; the control calls nothing after.
    void DestroyControl();

    // --- the window (GUI thread) ---------------------------------------------------------------
    // The window appears: the control gets PX_WM_CREATE (its automatic start). Once only.
    void CreateWindow();
    // The window goes: sends are released, the control gets PX_WM_DESTROY, queued messages and
    // timers are dropped.
    void DestroyWindow();
    bool WindowExists() const;
    // The widget's new size: the surface follows and, with a window, the control gets PX_WM_SIZE.
    void Resize(int32_t width, int32_t height);
    // Hands a message of the window to the control; 1 when it consumed it.
    int WindowMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    // Has the control paint its picture into the surface and draws the surface at (0, 0).
    void Paint(QPainter& painter);

    // --- what tests watch ---------------------------------------------------------------------
    uint32_t SendsWaiting() const;
    uint32_t SendsDelivered() const;
    uint32_t SendsGivenUp() const;
    // Blocks the calling thread (without running its event loop) until some send is waiting, or
    // the time-out passes: a GUI thread that does not process its messages, on purpose.
    bool WaitForWaitingSend(uint32_t timeoutMs);

protected:
    bool event(QEvent* e) override;

private:
    struct SendState {
        enum { Queued, Running, Done, Withdrawn } state = Queued;
    };
    struct QueuedMessage {
        uint32_t msg = 0;
        uintptr_t wParam = 0;
        intptr_t lParam = 0;
        std::shared_ptr<SendState> pSend;   // a sent message
    };

    bool OnGuiThread() const { return std::this_thread::get_id() == m_guiThread; }
    // With m_lock held: asks the GUI thread to drain the queue, once until it does.
    void WakeLocked();
    void Drain();
    void Dispatch(const QueuedMessage& m);
    // Waits until the surface has no user and gives it the size; false when it had it already.
    bool ResizeSurface(int32_t width, int32_t height);
    bool AcquireSurface(PXSurface* s);
    void ReleaseSurface();
    void KillAllTimers();

    // The table's functions.
    static int HostGetWindowSurface(void* data, PXSurface* s);
    static void HostGetClientRect(void* data, PXRect* r);
    static void HostReleaseWindowSurface(void* data, const PXSurface* s);
    static uint32_t HostSetTimer(void* data, uint32_t id, uint32_t periodMs);
    static void HostKillTimer(void* data, uint32_t id);
    static void HostInvalidate(void* data);
    static int HostHasWindow(void* data);
    static int HostDeliverMessage(void* data, uint32_t msg, uintptr_t wParam, intptr_t lParam, int send,
                                  uint32_t timeoutMs);
    static int32_t HostMessageBox(void* data, const char* text, const char* caption, uint32_t flags);
    static void HostFireEvent(void* data, int32_t dispid, const PXVariant* args, uint32_t argc);
    static uint32_t HostTrackMenu(void* data, const PXMenuItem* items, uint32_t count, int32_t x, int32_t y);
    static int HostSaveFileDialog(void* data, const char* const* filters, uint32_t filterCount, const char* title,
                                  const char* initialName, const char* defaultExt, char* path, uint32_t pathSize,
                                  uint32_t* chosenFilter);
    static int HostTextDialog(void* data, const char* title, const char* prompt, char* text, uint32_t textSize);
    static int HostSetClipboardBitmap(void* data, const PXSurface* bitmap);
    static void HostScreenOrigin(void* data, int32_t* x, int32_t* y);

    QWidget* const m_pWidget;
    const EventSink m_events;
    const std::thread::id m_guiThread;
    PXControlHost m_table{};
    PXControl* m_pControl = nullptr;
    std::map<uint32_t, QTimer*> m_timers;   // GUI thread only

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bWindow = false;        // between CreateWindow and the end of DestroyWindow
    bool m_bWindowGoing = false;   // from the start of DestroyWindow: posts and sends refused
    bool m_bWakePosted = false;
    bool m_bInvalid = false;
    std::deque<QueuedMessage> m_messages;
    uint32_t m_dwSendsWaiting = 0, m_dwSendsDelivered = 0, m_dwSendsGivenUp = 0;

    mutable std::mutex m_surfaceLock;
    std::condition_variable m_surfaceFree;
    int32_t m_surfaceWidth = 0, m_surfaceHeight = 0;
    std::vector<uint8_t> m_surface;
    uint32_t m_dwSurfaceUsers = 0;
};

} // namespace pxqt
