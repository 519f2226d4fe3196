// The headless host: a host of the viewer control of our own, over the control's C interface
// (pellix/pellix_control.h) only, with a window that is a BGRX pixel surface in memory.
//
// It is what tests and off-screen programs use: the host core (HostCore.h) run on a window thread
// of its own, with timers, invalidation and painting, scripted answers for the message box, the
// popup menu, the dialogs and the clipboard, and a record of every event with its arguments.
//
// Who owns what, and which thread runs where (the core's rules hold; this adds):
//   - CHeadlessHost owns the window thread ("HostWindow"), the control (made and destroyed on that
//     thread), and everything recorded. Every call into the control runs on the window thread:
//     Invoke and the other calls below marshal themselves there and wait for the result when made
//     from another thread, and run at once when made on it (from an event handler, say).
//   - The core's m_lock also guards the window thread's tasks, the timers, the records, the
//     scripts and the held flag; every change to them is a change WaitFor sees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "hosting/HostCore.h"
#include "hosting/HostValue.h"
#include "pellix/pellix_control.h"
#include "platform/Thread.h"

namespace pxhost {

struct HeadlessHostOptions {
    int32_t width = 320, height = 240;          // client area and window surface
    int32_t screenX = 200, screenY = 100;       // screen position of the client area
    bool bManualTimers = false;                 // timers fire only through FireTimer
    bool bAutoPaint = true;                     // paint when invalidated and the queue is empty
    uint32_t dwSendTimeoutCapMs = 0xFFFFFFFFu;  // a send waits at most this long (tests shorten it)
    size_t nRecordLimit = 100000;               // messages and events kept; past it the older half goes
};

// A BGRX picture, rows packed (4 bytes a pixel).
struct HostBitmap {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
    // 0x00RRGGBB of a pixel.
    uint32_t Pixel(int32_t x, int32_t y) const;
};

struct RecordedEvent {
    int32_t dispid = 0;
    std::vector<HostValue> args;
};

struct RecordedMessage {
    uint32_t msg = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    bool bConsumed = false;
};

struct MessageBoxRecord {
    std::string strText, strCaption;
    uint32_t dwFlags = 0;
};

struct MenuItemRecord {
    uint32_t id = 0;
    std::string strText;
    uint32_t dwFlags = 0;
    std::vector<MenuItemRecord> children;
};

struct MenuRecord {
    std::vector<MenuItemRecord> items;
    int32_t x = 0, y = 0;
};

struct SaveDialogRecord {
    std::vector<std::pair<std::string, std::string>> filters;   // description, pattern
    std::string strTitle, strInitialName, strDefaultExt;
};

struct SaveDialogAnswer {
    bool bChosen = false;
    std::string strPath;
    uint32_t dwFilter = 0;
};

struct TextDialogRecord {
    std::string strTitle, strPrompt;
};

struct TextDialogAnswer {
    bool bOk = false;
    std::string strText;
};

struct TimerCall {
    uint32_t id = 0;
    uint32_t dwPeriodMs = 0;   // 0 for a kill
    bool bSet = false;
};

// Called on the window thread for each event, after it was recorded; the arguments are the
// control's (addresses valid during the call only). It may call the host's members.
using EventHandler = std::function<void(int32_t dispid, const PXVariant* args, uint32_t argc)>;

// Persisted values in the order the control gave them.
using PropertyBag = std::vector<std::pair<std::string, HostValue>>;

class CHeadlessHost : public CHostCore {
public:
    explicit CHeadlessHost(const HeadlessHostOptions& options = HeadlessHostOptions());
    // Destroys the window if it still exists, then the control, then ends the window thread.
    ~CHeadlessHost() override;

    // False when PXControlCreate gave no control.
    bool HasControl() const { return Control() != nullptr; }

    // --- the window --------------------------------------------------------------------------
    // The window appears and the control gets PX_WM_CREATE (its automatic start).
    void CreateWindow();
    // The window goes: sends are released, the control gets PX_WM_DESTROY, queued messages and
    // timers are dropped.
    void DestroyWindow();
    // A new client size: the surface follows and the control gets PX_WM_SIZE.
    void Resize(int32_t width, int32_t height);

    // --- calls into the control, on the window thread ----------------------------------------
    int32_t Invoke(int32_t dispid, uint32_t kind, const std::vector<HostValue>& args, HostValue* result);
    // Members by name: a method, a property read (its value, EMPTY when the read failed) and a
    // property write.
    int32_t Call(const char* member, const std::vector<HostValue>& args = {}, HostValue* result = nullptr);
    HostValue Get(const char* property);
    int32_t Put(const char* property, const HostValue& value);
    // Hands a message straight to the control; its answer (1 consumed).
    int WindowMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    int32_t SaveProperties(PropertyBag* bag);
    int32_t LoadProperties(const PropertyBag& bag);
    // Runs fn with the control on the window thread and waits for it.
    void RunOnWindowThread(const std::function<void(PXControl*)>& fn);

    // --- the message queue -------------------------------------------------------------------
    // Queues a message as the system would (any thread); false when there is no window.
    bool PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) { return Post(msg, wParam, lParam); }
    // A mouse message at client (x, y) with the keys held (PX_MK_...).
    bool PostMouse(uint32_t msg, int32_t x, int32_t y, uint32_t keys);
    // A window thread that stops processing its messages (posted, sent, timers, paint) while
    // held; calls into the control still run.
    void HoldMessages(bool hold);
    // Waits until every message queued before the call was processed (false on time-out, or
    // when messages are held).
    bool Flush(uint32_t timeoutMs);
    std::vector<RecordedMessage> Messages() const;

    // --- timers ------------------------------------------------------------------------------
    // Queues PX_WM_TIMER for a timer the control set; false when it is not set.
    bool FireTimer(uint32_t id);
    bool TimerSet(uint32_t id, uint32_t* periodMs = nullptr) const;
    std::vector<TimerCall> TimerCalls() const;

    // --- painting ----------------------------------------------------------------------------
    uint64_t Invalidations() const;
    uint64_t Paints() const;
    // Paints now, on the window thread, whether invalidated or not (nothing without a window).
    void Paint();
    // A copy of the window surface.
    HostBitmap Window() const;

    // --- events ------------------------------------------------------------------------------
    std::vector<RecordedEvent> Events() const;
    size_t CountEvents(int32_t dispid) const;
    void ClearRecords();
    void SetEventHandler(EventHandler handler);

    // --- scripted answers and what the control asked -----------------------------------------
    void SetMessageBoxAnswer(int32_t answer);
    void ScriptMenuAnswer(uint32_t id);
    void ScriptSaveDialog(const SaveDialogAnswer& answer);
    void ScriptTextDialog(const TextDialogAnswer& answer);
    void SetClipboardAccepts(bool accepts);
    std::vector<MessageBoxRecord> MessageBoxes() const;
    std::vector<MenuRecord> Menus() const;
    std::vector<SaveDialogRecord> SaveDialogs() const;
    std::vector<TextDialogRecord> TextDialogs() const;
    std::vector<HostBitmap> Clipboard() const;

    // --- waiting (WaitFor: an event, a message handled, a paint, an invalidation, a timer call
    // and a send's end are changes) -------------------------------------------------------------
    bool WaitForEvents(int32_t dispid, size_t count, uint32_t timeoutMs);

private:
    struct Timer {
        uint32_t dwPeriodMs = 0;
        uint64_t qwDue = 0;
    };

    void WindowLoop();
    // One step of the loop with m_lock held: a task, a message, a timer, a paint; false when
    // there was nothing to do.
    bool Step(std::unique_lock<std::mutex>& lock);
    void PaintOnWindowThread();

    void OnDispatched(uint32_t msg, uintptr_t wParam, intptr_t lParam, int consumed) override;
    void OnWindowGone() override;
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

    const HeadlessHostOptions m_options;
    px::Thread m_thread;

    // Under m_lock.
    bool m_bQuit = false;
    bool m_bHeld = false;
    std::deque<std::function<void()>> m_tasks;
    std::map<uint32_t, Timer> m_timers;
    uint64_t m_qwInvalidations = 0, m_qwPaints = 0;
    std::vector<RecordedMessage> m_recordedMessages;
    std::vector<RecordedEvent> m_events;
    std::vector<TimerCall> m_timerCalls;
    EventHandler m_eventHandler;
    int32_t m_lMessageBoxAnswer = PX_IDOK;
    std::deque<uint32_t> m_menuAnswers;
    std::deque<SaveDialogAnswer> m_saveAnswers;
    std::deque<TextDialogAnswer> m_textAnswers;
    bool m_bClipboardAccepts = true;
    std::vector<MessageBoxRecord> m_messageBoxes;
    std::vector<MenuRecord> m_menus;
    std::vector<SaveDialogRecord> m_saveDialogs;
    std::vector<TextDialogRecord> m_textDialogs;
    std::vector<HostBitmap> m_clipboard;
};

} // namespace pxhost
