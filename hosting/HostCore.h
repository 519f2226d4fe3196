// The core of every host of the viewer control (the headless host, the Qt widget's window host):
// the control's window services of pellix/pellix_control.h that no toolkit changes. It fills the
// PXControlHost table, owns the control, keeps the window's message queue with its posted and
// sent messages, the window's flags and its surface; a host adds how its window thread is woken
// and runs, and the services that show something (timers, painting on the screen, events, the
// menu, the dialogs, the clipboard) through the virtual functions below.
//
// Who owns what, and which thread runs where:
//   - The host names one window thread (SetWindowThread): the headless host's own thread, the Qt
//     widget's GUI thread. The control is made, called and destroyed there only; every protected
//     member that runs the control (CreateControl, DestroyControl, OpenWindow, CloseWindow,
//     ResizeWindow, Dispatch, DispatchNextLocked, PaintControl) is called on it, and so is every
//     virtual function but OnInvalidate and WakeLocked.
//   - The control's worker threads call getWindowSurface, getClientRect, releaseWindowSurface,
//     invalidate, hasWindow and deliverMessage; the rest of the table comes on the window thread.
//   - m_lock guards the message queue, the window's flags, the invalid flag and the counters of
//     sent messages; a host keeps its own shared state under it too, so that one condition,
//     m_changed with its count of changes, tells every waiter (a sender, the headless window
//     thread, a test's WaitFor) about any change. It is never held while the control runs.
//     WakeLocked, called with it held whenever something was queued or the window invalidated,
//     is how a host's window thread learns of it.
//   - The window surface (CWindowSurface) has its own lock and counts its users; no lock of the
//     core is held while the control runs, so the control's locks always come first.
//   - A sent message waits for its processing or its time-out; a send that times out while still
//     queued is withdrawn, so the control's repeated sends never pile up. From CloseWindow on,
//     every waiting and later send returns 0 at once: a host being destroyed never deadlocks with
//     a control that is stopping. A send on the window thread itself is a direct call.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "hosting/WindowSurface.h"
#include "pellix/pellix_control.h"

namespace pxhost {

class CHostCore {
public:
    CHostCore(const CHostCore&) = delete;
    CHostCore& operator=(const CHostCore&) = delete;

    bool WindowExists() const;
    bool OnWindowThread() const;
    uint32_t SendsWaiting() const;
    uint32_t SendsDelivered() const;
    uint32_t SendsGivenUp() const;
    // Waits until condition() holds, re-testing it after every change (a message handled, a send's
    // end, and whatever the host counts as one); false on time-out. The condition may call
    // members: their calls are not changes.
    bool WaitFor(const std::function<bool()>& condition, uint32_t timeoutMs);

protected:
    // A surface of the size (bytes of the fill); a send waits at most sendCapMs.
    CHostCore(int32_t width, int32_t height, uint8_t fill, uint32_t sendCapMs);
    // The host has destroyed the control by then.
    virtual ~CHostCore();

    // --- the window thread's side ------------------------------------------------------------
    // The calling thread is the window thread.
    void SetWindowThread();
    PXControl* Control() const { return m_pControl; }
    void CreateControl();
    void DestroyControl();
    // The window appears and the control gets PX_WM_CREATE; false when it existed.
    bool OpenWindow();
    // The window goes: sends are released, the control gets PX_WM_DESTROY, OnWindowGone runs,
    // queued messages are dropped (Flush's marks counted as reached).
    void CloseWindow();
    // The surface takes the size; when it changed and there is a window, the control gets
    // PX_WM_SIZE.
    void ResizeWindow(int32_t width, int32_t height);
    // Hands a message to the control, then to OnDispatched; the control's answer.
    int Dispatch(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    // The next queued message handed over, m_lock left meanwhile (withdrawn sends skipped, a
    // flush mark reached); false when the queue was empty.
    bool DispatchNextLocked(std::unique_lock<std::mutex>& lock);
    // The control paints into the surface as one more user of it (nothing without a window).
    void PaintControl();
    CWindowSurface& Surface() { return m_surface; }
    const CWindowSurface& Surface() const { return m_surface; }

    // --- any thread --------------------------------------------------------------------------
    // Queues a message; false when there is no window or it is going.
    bool Post(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    // Waits until every message queued before the call was handed over; false on time-out or on
    // the window thread, which cannot wait for itself.
    bool Flush(uint32_t timeoutMs);

    // With m_lock held.
    void ChangedLocked()
    {
        ++m_qwChanges;
        m_changed.notify_all();
    }
    uint64_t ChangesLocked() const { return m_qwChanges; }
    bool WindowLocked() const { return m_bWindow; }
    bool WindowThreadKnownLocked() const { return m_windowThread != std::thread::id(); }
    bool OnWindowThreadLocked() const { return std::this_thread::get_id() == m_windowThread; }
    bool QueueEmptyLocked() const { return m_messages.empty(); }
    // Drops a posted message still queued (a killed timer's tick).
    void WithdrawPostedLocked(uint32_t msg, uintptr_t wParam);
    // The window needs painting: the flag is set and the window thread woken (nothing when the
    // window is gone or going).
    void InvalidateLocked();
    // The invalid flag, cleared.
    bool TakeInvalidLocked();

    mutable std::mutex m_lock;
    std::condition_variable m_changed;

    // --- what a host adds --------------------------------------------------------------------
    // Something was queued or invalidated (m_lock held): the window thread should look.
    virtual void WakeLocked() {}
    // After the control handled a message that Dispatch handed over.
    virtual void OnDispatched(uint32_t, uintptr_t, intptr_t, int /*consumed*/) {}
    // After PX_WM_DESTROY, before the queue is dropped: timers end.
    virtual void OnWindowGone() {}
    // The table's slots that are the host's own.
    virtual uint32_t OnSetTimer(uint32_t id, uint32_t periodMs) = 0;
    virtual void OnKillTimer(uint32_t id) = 0;
    virtual void OnInvalidate() = 0;   // any thread
    virtual int32_t OnMessageBox(const char* text, const char* caption, uint32_t flags) = 0;
    virtual void OnEvent(int32_t dispid, const PXVariant* args, uint32_t argc) = 0;
    virtual uint32_t OnTrackMenu(const PXMenuItem* items, uint32_t count, int32_t x, int32_t y) = 0;
    virtual int OnSaveFileDialog(const char* const* filters, uint32_t filterCount, const char* title,
                                 const char* initialName, const char* defaultExt, char* path, uint32_t pathSize,
                                 uint32_t* chosenFilter) = 0;
    virtual int OnTextDialog(const char* title, const char* prompt, char* text, uint32_t textSize) = 0;
    virtual int OnSetClipboardBitmap(const PXSurface* bitmap) = 0;
    virtual void OnScreenOrigin(int32_t* x, int32_t* y) = 0;   // either may be null

private:
    struct SendState {
        enum { Queued, Running, Done, Withdrawn } state = Queued;
    };
    struct QueuedMessage {
        uint32_t msg = 0;
        uintptr_t wParam = 0;
        intptr_t lParam = 0;
        std::shared_ptr<SendState> pSend;   // a sent message
        std::shared_ptr<bool> pFlushMark;   // Flush's mark, set when reached
    };

    // The table's slots that are the core's.
    int GetWindowSurface(PXSurface* s);
    void GetClientRect(PXRect* r);
    void ReleaseWindowSurface(const PXSurface* s);
    int HasWindow();
    int Deliver(uint32_t msg, uintptr_t wParam, intptr_t lParam, int send, uint32_t timeoutMs);

    const uint32_t m_dwSendCapMs;
    PXControlHost m_table{};
    PXControl* m_pControl = nullptr;   // window thread
    CWindowSurface m_surface;

    // Under m_lock.
    std::thread::id m_windowThread;
    uint64_t m_qwChanges = 0;
    bool m_bWindow = false;        // between OpenWindow and the end of CloseWindow
    bool m_bWindowGoing = false;   // from the start of CloseWindow: posts and sends refused
    bool m_bInvalid = false;
    std::deque<QueuedMessage> m_messages;
    uint32_t m_dwSendsWaiting = 0, m_dwSendsDelivered = 0, m_dwSendsGivenUp = 0;
};

} // namespace pxhost
