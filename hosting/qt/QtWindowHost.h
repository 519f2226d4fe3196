// The Qt widget's side of the viewer control: the host core (hosting/HostCore.h) over a QWidget,
// with the one control the widget owns. What is Qt's is here: the GUI thread as the window
// thread, woken through Qt's event loop, QTimers, painting on the widget, and the menu, dialogs,
// message box and clipboard (QtDialogs.h).
//
// Who owns what, and which thread runs where (the core's rules hold; this adds):
//   - PellixView owns this object (a child QObject living on the widget's thread, the GUI thread,
//     which is the core's window thread) and through it the control: made in the constructor,
//     destroyed by DestroyControl.
//   - The queue is the core's and not Qt's, so that every hand-over between a worker and the GUI
//     thread goes through a lock the thread checkers see; Qt's event queue only carries a wake-up
//     (one at a time, its flag under the core's lock) to drain it.
//   - The QTimers are the GUI thread's only.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>

#include "hosting/HostCore.h"
#include "pellix/pellix_control.h"

class QPainter;
class QTimer;
class QWidget;

namespace pxqt {

// Called on the GUI thread for each event of the control, with the control's arguments (valid
// during the call only).
using EventSink = std::function<void(int32_t dispid, const PXVariant* args, uint32_t argc)>;

class CQtWindowHost : public QObject, public pxhost::CHostCore {
    Q_OBJECT

public:
    CQtWindowHost(QWidget* widget, EventSink events);
    ~CQtWindowHost() override;

    using CHostCore::Control;
    // Stops the control if its window still exists and frees it; the control calls nothing after.
    void DestroyControl();

    // --- the window (GUI thread) ---------------------------------------------------------------
    // The window appears: the control gets PX_WM_CREATE (its automatic start). Once only.
    void CreateWindow();
    // The window goes: sends are released, the control gets PX_WM_DESTROY, queued messages and
    // timers are dropped.
    void DestroyWindow() { CloseWindow(); }
    // The widget's new size: the surface follows and, with a window, the control gets PX_WM_SIZE.
    void Resize(int32_t width, int32_t height) { ResizeWindow(width, height); }
    // Hands a message of the window to the control; 1 when it consumed it.
    int WindowMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    // Has the control paint its picture into the surface and draws the surface at (0, 0).
    void Paint(QPainter& painter);

    // --- what tests watch ---------------------------------------------------------------------
    // Blocks the calling thread (without running its event loop) until some send is waiting, or
    // the time-out passes: a GUI thread that does not process its messages, on purpose.
    bool WaitForWaitingSend(uint32_t timeoutMs);

protected:
    bool event(QEvent* e) override;

private:
    void Drain();
    void KillAllTimers();

    void WakeLocked() override;
    void OnWindowGone() override { KillAllTimers(); }
    uint32_t OnSetTimer(uint32_t id, uint32_t periodMs) override;
    void OnKillTimer(uint32_t id) override;
    void OnInvalidate() override;
    int32_t OnMessageBox(const char* text, const char* caption, uint32_t flags) override;
    void OnEvent(int32_t dispid, const PXVariant* args, uint32_t argc) override;
    uint32_t OnTrackMenu(const PXMenuItem* items, uint32_t count, int32_t x, int32_t y) override;
    int OnSaveFileDialog(const char* const* filters, uint32_t filterCount, const char* title,
                         const char* initialName, const char* defaultExt, char* path, uint32_t pathSize,
                         uint32_t* chosenFilter) override;
    int OnTextDialog(const char* title, const char* prompt, char* text, uint32_t textSize) override;
    int OnSetClipboardBitmap(const PXSurface* bitmap) override;
    void OnScreenOrigin(int32_t* x, int32_t* y) override;

    QWidget* const m_pWidget;
    const EventSink m_events;
    bool m_bCreated = false;                // GUI thread only
    std::map<uint32_t, QTimer*> m_timers;   // GUI thread only
    bool m_bWakePosted = false;             // under m_lock
};

} // namespace pxqt
