#include "hosting/HeadlessHost.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/Clock.h"

namespace pxhost {

// The state of one sent message, shared by the sender and the window thread.
struct CHeadlessHost::SendState {
    enum { Queued, Running, Done, Withdrawn } state = Queued;
};

namespace {

// Pixel rows of a surface copied into a packed bitmap.
HostBitmap CopyRows(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride)
{
    HostBitmap b;
    if (pixels == nullptr || width <= 0 || height <= 0 || stride < width * 4)
        return b;
    b.width = width;
    b.height = height;
    b.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    for (int32_t y = 0; y < height; ++y)
        memcpy(&b.pixels[static_cast<size_t>(y) * width * 4], pixels + static_cast<size_t>(y) * stride,
               static_cast<size_t>(width) * 4);
    return b;
}

std::vector<MenuItemRecord> CopyMenu(const PXMenuItem* items, uint32_t count, int depth)
{
    std::vector<MenuItemRecord> out;
    for (uint32_t i = 0; items != nullptr && i < count; ++i) {
        MenuItemRecord r;
        r.id = items[i].id;
        r.strText = items[i].text != nullptr ? items[i].text : "";
        r.dwFlags = items[i].flags;
        if ((items[i].flags & PX_MENU_SUBMENU) != 0 && depth < 8)
            r.children = CopyMenu(items[i].children, items[i].count, depth + 1);
        out.push_back(std::move(r));
    }
    return out;
}

void CopyText(const std::string& text, char* out, uint32_t size)
{
    if (out == nullptr || size == 0)
        return;
    size_t n = std::min<size_t>(text.size(), size - 1);
    memcpy(out, text.data(), n);
    out[n] = '\0';
}

CHeadlessHost* Of(void* data) { return static_cast<CHeadlessHost*>(data); }

// The message and event records grow with every frame: past the limit the older half goes, so
// that a host left running keeps bounded memory.
template <typename T>
void Record(std::vector<T>& record, T item, size_t limit)
{
    if (record.size() >= std::max<size_t>(limit, 2))
        record.erase(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(record.size() / 2));
    record.push_back(std::move(item));
}

} // namespace

uint32_t HostBitmap::Pixel(int32_t x, int32_t y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return 0;
    const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
    return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

CHeadlessHost::CHeadlessHost(const HeadlessHostOptions& options) : m_options(options)
{
    m_window.width = std::max(0, options.width);
    m_window.height = std::max(0, options.height);
    m_window.pixels.assign(static_cast<size_t>(m_window.width) * m_window.height * 4, 0);

    m_table.size = sizeof(PXControlHost);
    m_table.data = this;
    m_table.getWindowSurface = HostGetWindowSurface;
    m_table.getClientRect = HostGetClientRect;
    m_table.releaseWindowSurface = HostReleaseWindowSurface;
    m_table.setTimer = HostSetTimer;
    m_table.killTimer = HostKillTimer;
    m_table.invalidate = HostInvalidate;
    m_table.hasWindow = HostHasWindow;
    m_table.deliverMessage = HostDeliverMessage;
    m_table.messageBox = HostMessageBox;
    m_table.fireEvent = HostFireEvent;
    m_table.trackMenu = HostTrackMenu;
    m_table.saveFileDialog = HostSaveFileDialog;
    m_table.textDialog = HostTextDialog;
    m_table.setClipboardBitmap = HostSetClipboardBitmap;
    m_table.screenOrigin = HostScreenOrigin;

    m_thread.Start("HostWindow", [this] { WindowLoop(); });
    RunOnWindowThread([this](PXControl*) { m_pControl = PXControlCreate(&m_table); });
}

CHeadlessHost::~CHeadlessHost()
{
    DestroyWindow();
    RunOnWindowThread([this](PXControl* control) {
        PXControlDestroy(control);
        m_pControl = nullptr;
    });
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bQuit = true;
        ChangedLocked();
    }
    m_thread.Join();
}

// ---- the window thread ---------------------------------------------------------------------------

void CHeadlessHost::WindowLoop()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_windowThreadId = std::this_thread::get_id();
    ChangedLocked();
    for (;;) {
        if (Step(lock))
            continue;
        if (m_bQuit)
            break;
        uint64_t wait = 60000;
        if (!m_bHeld && m_bWindow && !m_options.bManualTimers && !m_timers.empty()) {
            uint64_t now = px::TickCount64();
            for (const auto& entry : m_timers)
                wait = std::min(wait, entry.second.qwDue > now ? entry.second.qwDue - now : 0);
        }
        uint64_t seen = m_qwChanges;
        m_changed.wait_for(lock, std::chrono::milliseconds(wait), [&] {
            return m_qwChanges != seen || m_bQuit || !m_tasks.empty() || (!m_bHeld && !m_messages.empty());
        });
    }
}

bool CHeadlessHost::Step(std::unique_lock<std::mutex>& lock)
{
    if (!m_tasks.empty()) {
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        task();
        lock.lock();
        return true;
    }
    if (m_bHeld)
        return false;
    while (!m_messages.empty()) {
        QueuedMessage m = std::move(m_messages.front());
        m_messages.pop_front();
        if (m.pFlushMark) {
            *m.pFlushMark = true;
            m_changed.notify_all();
            return true;
        }
        if (m.pSend) {
            if (m.pSend->state == SendState::Withdrawn)
                continue;
            m.pSend->state = SendState::Running;
        }
        lock.unlock();
        Dispatch(m);
        lock.lock();
        if (m.pSend) {
            m.pSend->state = SendState::Done;
            ChangedLocked();
        }
        return true;
    }
    // Timers and painting come when the queue is empty, as a window system makes them.
    if (m_bWindow && !m_options.bManualTimers) {
        uint64_t now = px::TickCount64();
        for (auto& entry : m_timers) {
            if (entry.second.qwDue > now)
                continue;
            entry.second.qwDue = now + std::max<uint32_t>(entry.second.dwPeriodMs, 1);
            QueuedMessage m;
            m.msg = PX_WM_TIMER;
            m.wParam = entry.first;
            lock.unlock();
            Dispatch(m);
            lock.lock();
            return true;
        }
    }
    if (m_bWindow && m_bInvalid && m_options.bAutoPaint) {
        m_bInvalid = false;
        lock.unlock();
        PaintOnWindowThread();
        lock.lock();
        return true;
    }
    return false;
}

void CHeadlessHost::Dispatch(const QueuedMessage& m)
{
    int consumed = m_pControl != nullptr ? PXControlWindowMessage(m_pControl, m.msg, m.wParam, m.lParam) : 0;
    std::lock_guard<std::mutex> lock(m_lock);
    Record(m_recordedMessages, RecordedMessage{m.msg, m.wParam, m.lParam, consumed != 0}, m_options.nRecordLimit);
    ChangedLocked();
}

void CHeadlessHost::Changed()
{
    std::lock_guard<std::mutex> lock(m_lock);
    ChangedLocked();
}

void CHeadlessHost::RunOnWindowThread(const std::function<void(PXControl*)>& fn)
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [&] { return m_windowThreadId != std::thread::id(); });
    if (std::this_thread::get_id() == m_windowThreadId) {
        lock.unlock();
        fn(m_pControl);
        return;
    }
    auto done = std::make_shared<bool>(false);
    m_tasks.push_back([this, &fn, done] {
        fn(m_pControl);
        std::lock_guard<std::mutex> taskLock(m_lock);
        *done = true;
        m_changed.notify_all();   // not a change: a condition that invokes members must not spin
    });
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return *done; });
}

bool CHeadlessHost::OnWindowThread() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return std::this_thread::get_id() == m_windowThreadId;
}

// ---- the window ------------------------------------------------------------------------------

void CHeadlessHost::CreateWindow()
{
    RunOnWindowThread([this](PXControl*) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_bWindow)
                return;
            m_bWindow = true;
            m_bWindowGoing = false;
            ChangedLocked();
        }
        QueuedMessage m;
        m.msg = PX_WM_CREATE;
        Dispatch(m);
    });
}

void CHeadlessHost::DestroyWindow()
{
    RunOnWindowThread([this](PXControl*) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_bWindow)
                return;
            m_bWindowGoing = true;   // every waiting send returns now
            ChangedLocked();
        }
        QueuedMessage m;
        m.msg = PX_WM_DESTROY;
        Dispatch(m);
        std::lock_guard<std::mutex> lock(m_lock);
        m_bWindow = false;
        for (QueuedMessage& queued : m_messages) {
            if (queued.pFlushMark)
                *queued.pFlushMark = true;
        }
        m_messages.clear();
        m_timers.clear();
        m_bInvalid = false;
        ChangedLocked();
    });
}

bool CHeadlessHost::WindowExists() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bWindow;
}

void CHeadlessHost::Resize(int32_t width, int32_t height)
{
    RunOnWindowThread([this, width, height](PXControl*) {
        {
            std::unique_lock<std::mutex> lock(m_surfaceLock);
            m_surfaceFree.wait(lock, [&] { return m_dwSurfaceUsers == 0; });
            m_window.width = std::max(0, width);
            m_window.height = std::max(0, height);
            m_window.pixels.assign(static_cast<size_t>(m_window.width) * m_window.height * 4, 0);
        }
        if (!WindowExists())
            return;
        QueuedMessage m;
        m.msg = PX_WM_SIZE;
        m.lParam = static_cast<intptr_t>((static_cast<uint32_t>(height) & 0xFFFFu) << 16 |
                                         (static_cast<uint32_t>(width) & 0xFFFFu));
        Dispatch(m);
    });
}

// ---- calls into the control ------------------------------------------------------------------

int32_t CHeadlessHost::Invoke(int32_t dispid, uint32_t kind, const std::vector<HostValue>& args, HostValue* result)
{
    int32_t hr = PX_E_POINTER;
    RunOnWindowThread([&](PXControl* control) {
        CArgList list(args);
        PXVariant out{};
        hr = PXControlInvoke(control, dispid, kind, list.Data(), list.Count(), result != nullptr ? &out : nullptr);
        if (result != nullptr) {
            *result = HostValue::From(out);
            PXVariantClear(&out);
        }
    });
    return hr;
}

int32_t CHeadlessHost::Call(const char* member, const std::vector<HostValue>& args, HostValue* result)
{
    return Invoke(PXControlDispIdOfName(member), PX_INVOKE_METHOD, args, result);
}

HostValue CHeadlessHost::Get(const char* property)
{
    HostValue value;
    if (Invoke(PXControlDispIdOfName(property), PX_INVOKE_PROPERTYGET, {}, &value) < 0)
        return HostValue();
    return value;
}

int32_t CHeadlessHost::Put(const char* property, const HostValue& value)
{
    return Invoke(PXControlDispIdOfName(property), PX_INVOKE_PROPERTYPUT, {value}, nullptr);
}

int CHeadlessHost::WindowMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    int consumed = 0;
    RunOnWindowThread([&](PXControl* control) {
        consumed = control != nullptr ? PXControlWindowMessage(control, msg, wParam, lParam) : 0;
    });
    return consumed;
}

int32_t CHeadlessHost::SaveProperties(PropertyBag* bag)
{
    int32_t hr = PX_E_POINTER;
    RunOnWindowThread([&](PXControl* control) {
        hr = PXControlSaveProperties(
            control,
            [](void* ctx, const char* name, const PXVariant* v) {
                static_cast<PropertyBag*>(ctx)->emplace_back(name != nullptr ? name : "",
                                                             v != nullptr ? HostValue::From(*v) : HostValue());
            },
            bag);
    });
    return hr;
}

int32_t CHeadlessHost::LoadProperties(const PropertyBag& bag)
{
    struct Reader {
        const PropertyBag* pBag;
        std::unique_ptr<CArgList> pLast;   // the value handed out last, alive until the next
    } reader{&bag, nullptr};
    int32_t hr = PX_E_POINTER;
    RunOnWindowThread([&](PXControl* control) {
        hr = PXControlLoadProperties(
            control,
            [](void* ctx, const char* name, PXVariant* v) -> int {
                Reader* r = static_cast<Reader*>(ctx);
                for (const auto& [key, value] : *r->pBag) {
                    if (name == nullptr || v == nullptr || key != name)
                        continue;
                    r->pLast = std::make_unique<CArgList>(std::vector<HostValue>{value});
                    *v = r->pLast->Data()[0];
                    return 1;
                }
                return 0;
            },
            &reader);
    });
    return hr;
}

// ---- the message queue -----------------------------------------------------------------------

bool CHeadlessHost::PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_bWindow || m_bWindowGoing)
        return false;
    QueuedMessage m;
    m.msg = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    m_messages.push_back(std::move(m));
    ChangedLocked();
    return true;
}

bool CHeadlessHost::PostMouse(uint32_t msg, int32_t x, int32_t y, uint32_t keys)
{
    return PostMessage(msg, keys, PX_MOUSE_LPARAM(x, y));
}

void CHeadlessHost::HoldMessages(bool hold)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_bHeld = hold;
    ChangedLocked();
}

bool CHeadlessHost::Flush(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_bHeld)
        return false;
    if (std::this_thread::get_id() == m_windowThreadId)
        return false;   // the window thread cannot wait for itself
    auto mark = std::make_shared<bool>(false);
    QueuedMessage m;
    m.pFlushMark = mark;
    m_messages.push_back(std::move(m));
    m_changed.notify_all();
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return *mark; });
}

uint32_t CHeadlessHost::SendsWaiting() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwSendsWaiting;
}

uint32_t CHeadlessHost::SendsDelivered() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwSendsDelivered;
}

uint32_t CHeadlessHost::SendsGivenUp() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwSendsGivenUp;
}

std::vector<RecordedMessage> CHeadlessHost::Messages() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_recordedMessages;
}

// ---- timers ----------------------------------------------------------------------------------

bool CHeadlessHost::FireTimer(uint32_t id)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_bWindow || m_timers.count(id) == 0)
        return false;
    QueuedMessage m;
    m.msg = PX_WM_TIMER;
    m.wParam = id;
    m_messages.push_back(std::move(m));
    ChangedLocked();
    return true;
}

bool CHeadlessHost::TimerSet(uint32_t id, uint32_t* periodMs) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_timers.find(id);
    if (it == m_timers.end())
        return false;
    if (periodMs != nullptr)
        *periodMs = it->second.dwPeriodMs;
    return true;
}

std::vector<TimerCall> CHeadlessHost::TimerCalls() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_timerCalls;
}

// ---- painting --------------------------------------------------------------------------------

uint64_t CHeadlessHost::Invalidations() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_qwInvalidations;
}

uint64_t CHeadlessHost::Paints() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_qwPaints;
}

void CHeadlessHost::Paint()
{
    RunOnWindowThread([this](PXControl*) { PaintOnWindowThread(); });
}

// The control paints straight into the window surface, holding it as its workers do: the
// control's own locks order its painting against a back-end that presents from the update thread.
void CHeadlessHost::PaintOnWindowThread()
{
    PXSurface target{};
    if (HostGetWindowSurface(this, &target) != 0) {
        if (m_pControl != nullptr)
            PXControlPaint(m_pControl, &target);
        HostReleaseWindowSurface(this, &target);
    }
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_qwPaints;
    ChangedLocked();
}

HostBitmap CHeadlessHost::Window() const
{
    std::unique_lock<std::mutex> lock(m_surfaceLock);
    m_surfaceFree.wait(lock, [&] { return m_dwSurfaceUsers == 0; });
    return CopyRows(m_window.pixels.data(), m_window.width, m_window.height, m_window.width * 4);
}

// ---- events and scripts ----------------------------------------------------------------------

std::vector<RecordedEvent> CHeadlessHost::Events() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events;
}

size_t CHeadlessHost::CountEvents(int32_t dispid) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<size_t>(std::count_if(m_events.begin(), m_events.end(),
                                             [&](const RecordedEvent& e) { return e.dispid == dispid; }));
}

void CHeadlessHost::ClearRecords()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.clear();
    m_recordedMessages.clear();
    m_timerCalls.clear();
    m_messageBoxes.clear();
    m_menus.clear();
    m_saveDialogs.clear();
    m_textDialogs.clear();
    m_clipboard.clear();
    ChangedLocked();
}

void CHeadlessHost::SetEventHandler(EventHandler handler)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_eventHandler = std::move(handler);
}

void CHeadlessHost::SetMessageBoxAnswer(int32_t answer)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_lMessageBoxAnswer = answer;
}

void CHeadlessHost::ScriptMenuAnswer(uint32_t id)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_menuAnswers.push_back(id);
}

void CHeadlessHost::ScriptSaveDialog(const SaveDialogAnswer& answer)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_saveAnswers.push_back(answer);
}

void CHeadlessHost::ScriptTextDialog(const TextDialogAnswer& answer)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_textAnswers.push_back(answer);
}

void CHeadlessHost::SetClipboardAccepts(bool accepts)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_bClipboardAccepts = accepts;
}

std::vector<MessageBoxRecord> CHeadlessHost::MessageBoxes() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_messageBoxes;
}

std::vector<MenuRecord> CHeadlessHost::Menus() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_menus;
}

std::vector<SaveDialogRecord> CHeadlessHost::SaveDialogs() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_saveDialogs;
}

std::vector<TextDialogRecord> CHeadlessHost::TextDialogs() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_textDialogs;
}

std::vector<HostBitmap> CHeadlessHost::Clipboard() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_clipboard;
}

bool CHeadlessHost::WaitFor(const std::function<bool()>& condition, uint32_t timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            seen = m_qwChanges;
        }
        if (condition())
            return true;
        std::unique_lock<std::mutex> lock(m_lock);
        if (!m_changed.wait_until(lock, deadline, [&] { return m_qwChanges != seen; })) {
            lock.unlock();
            return condition();
        }
    }
}

bool CHeadlessHost::WaitForEvents(int32_t dispid, size_t count, uint32_t timeoutMs)
{
    return WaitFor([&] { return CountEvents(dispid) >= count; }, timeoutMs);
}

// ---- the table's functions -------------------------------------------------------------------

int CHeadlessHost::HostGetWindowSurface(void* data, PXSurface* s)
{
    CHeadlessHost* h = Of(data);
    if (s == nullptr || !h->WindowExists())
        return 0;
    std::unique_lock<std::mutex> lock(h->m_surfaceLock);
    if (h->m_window.pixels.empty())
        return 0;
    ++h->m_dwSurfaceUsers;
    s->pixels = h->m_window.pixels.data();
    s->width = h->m_window.width;
    s->height = h->m_window.height;
    s->stride = h->m_window.width * 4;
    return 1;
}

void CHeadlessHost::HostGetClientRect(void* data, PXRect* r)
{
    CHeadlessHost* h = Of(data);
    if (r == nullptr)
        return;
    *r = PXRect{0, 0, 0, 0};
    if (!h->WindowExists())
        return;
    std::lock_guard<std::mutex> lock(h->m_surfaceLock);
    r->right = h->m_window.width;
    r->bottom = h->m_window.height;
}

void CHeadlessHost::HostReleaseWindowSurface(void* data, const PXSurface* s)
{
    CHeadlessHost* h = Of(data);
    if (s == nullptr)
        return;
    std::lock_guard<std::mutex> lock(h->m_surfaceLock);
    if (h->m_dwSurfaceUsers > 0)
        --h->m_dwSurfaceUsers;
    h->m_surfaceFree.notify_all();
}

uint32_t CHeadlessHost::HostSetTimer(void* data, uint32_t id, uint32_t periodMs)
{
    CHeadlessHost* h = Of(data);
    std::lock_guard<std::mutex> lock(h->m_lock);
    h->m_timerCalls.push_back(TimerCall{id, periodMs, true});
    h->ChangedLocked();
    if (!h->m_bWindow || id == 0)
        return 0;
    h->m_timers[id] = Timer{periodMs, px::TickCount64() + periodMs};
    return id;
}

void CHeadlessHost::HostKillTimer(void* data, uint32_t id)
{
    CHeadlessHost* h = Of(data);
    std::lock_guard<std::mutex> lock(h->m_lock);
    h->m_timerCalls.push_back(TimerCall{id, 0, false});
    h->m_timers.erase(id);
    // A timer message already queued is not handed over after the kill.
    h->m_messages.erase(std::remove_if(h->m_messages.begin(), h->m_messages.end(),
                                       [&](const QueuedMessage& m) {
                                           return m.msg == PX_WM_TIMER && m.wParam == id && !m.pSend &&
                                                  !m.pFlushMark;
                                       }),
                        h->m_messages.end());
    h->ChangedLocked();
}

void CHeadlessHost::HostInvalidate(void* data)
{
    CHeadlessHost* h = Of(data);
    std::lock_guard<std::mutex> lock(h->m_lock);
    ++h->m_qwInvalidations;
    h->m_bInvalid = true;
    h->ChangedLocked();
}

int CHeadlessHost::HostHasWindow(void* data) { return Of(data)->WindowExists() ? 1 : 0; }

int CHeadlessHost::HostDeliverMessage(void* data, uint32_t msg, uintptr_t wParam, intptr_t lParam, int send,
                                      uint32_t timeoutMs)
{
    CHeadlessHost* h = Of(data);
    std::unique_lock<std::mutex> lock(h->m_lock);
    if (!h->m_bWindow || h->m_bWindowGoing) {
        if (send != 0) {
            ++h->m_dwSendsGivenUp;
            h->ChangedLocked();
        }
        return 0;
    }
    QueuedMessage m;
    m.msg = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    if (send == 0) {
        h->m_messages.push_back(std::move(m));
        h->ChangedLocked();
        return 1;
    }
    if (std::this_thread::get_id() == h->m_windowThreadId) {
        // A send on the window's own thread is a direct call, as on any window system.
        lock.unlock();
        h->Dispatch(m);
        lock.lock();
        ++h->m_dwSendsDelivered;
        h->ChangedLocked();
        return 1;
    }
    auto state = std::make_shared<SendState>();
    m.pSend = state;
    h->m_messages.push_back(std::move(m));
    ++h->m_dwSendsWaiting;
    h->ChangedLocked();
    uint32_t wait = std::min(timeoutMs, h->m_options.dwSendTimeoutCapMs);
    h->m_changed.wait_for(lock, std::chrono::milliseconds(wait), [&] {
        return state->state == SendState::Done || h->m_bWindowGoing || h->m_bQuit;
    });
    --h->m_dwSendsWaiting;
    int delivered = state->state == SendState::Done ? 1 : 0;
    if (delivered != 0) {
        ++h->m_dwSendsDelivered;
    } else {
        // Still queued: withdrawn, so that the control's next attempt does not make it twice.
        // Already running: it ends on the window thread, without its sender.
        if (state->state == SendState::Queued)
            state->state = SendState::Withdrawn;
        ++h->m_dwSendsGivenUp;
    }
    h->ChangedLocked();
    return delivered;
}

int32_t CHeadlessHost::HostMessageBox(void* data, const char* text, const char* caption, uint32_t flags)
{
    CHeadlessHost* h = Of(data);
    std::lock_guard<std::mutex> lock(h->m_lock);
    h->m_messageBoxes.push_back(
        MessageBoxRecord{text != nullptr ? text : "", caption != nullptr ? caption : "", flags});
    h->ChangedLocked();
    return h->m_lMessageBoxAnswer;
}

void CHeadlessHost::HostFireEvent(void* data, int32_t dispid, const PXVariant* args, uint32_t argc)
{
    CHeadlessHost* h = Of(data);
    RecordedEvent e;
    e.dispid = dispid;
    for (uint32_t i = 0; args != nullptr && i < argc; ++i)
        e.args.push_back(HostValue::From(args[i]));
    EventHandler handler;
    {
        std::lock_guard<std::mutex> lock(h->m_lock);
        Record(h->m_events, std::move(e), h->m_options.nRecordLimit);
        h->ChangedLocked();
        handler = h->m_eventHandler;
    }
    if (handler)
        handler(dispid, args, argc);
}

uint32_t CHeadlessHost::HostTrackMenu(void* data, const PXMenuItem* items, uint32_t count, int32_t x, int32_t y)
{
    CHeadlessHost* h = Of(data);
    MenuRecord r;
    r.items = CopyMenu(items, count, 0);
    r.x = x;
    r.y = y;
    std::lock_guard<std::mutex> lock(h->m_lock);
    h->m_menus.push_back(std::move(r));
    h->ChangedLocked();
    if (h->m_menuAnswers.empty())
        return 0;
    uint32_t id = h->m_menuAnswers.front();
    h->m_menuAnswers.pop_front();
    return id;
}

int CHeadlessHost::HostSaveFileDialog(void* data, const char* const* filters, uint32_t filterCount,
                                      const char* title, const char* initialName, const char* defaultExt,
                                      char* path, uint32_t pathSize, uint32_t* chosenFilter)
{
    CHeadlessHost* h = Of(data);
    SaveDialogRecord r;
    for (uint32_t i = 0; filters != nullptr && i < filterCount; ++i) {
        const char* description = filters[2 * i];
        const char* pattern = filters[2 * i + 1];
        r.filters.emplace_back(description != nullptr ? description : "", pattern != nullptr ? pattern : "");
    }
    r.strTitle = title != nullptr ? title : "";
    r.strInitialName = initialName != nullptr ? initialName : "";
    r.strDefaultExt = defaultExt != nullptr ? defaultExt : "";
    std::lock_guard<std::mutex> lock(h->m_lock);
    h->m_saveDialogs.push_back(std::move(r));
    h->ChangedLocked();
    if (h->m_saveAnswers.empty())
        return 0;
    SaveDialogAnswer answer = h->m_saveAnswers.front();
    h->m_saveAnswers.pop_front();
    if (!answer.bChosen || path == nullptr || pathSize == 0)
        return 0;
    CopyText(answer.strPath, path, pathSize);
    if (chosenFilter != nullptr)
        *chosenFilter = answer.dwFilter;
    return 1;
}

int CHeadlessHost::HostTextDialog(void* data, const char* title, const char* prompt, char* text, uint32_t textSize)
{
    CHeadlessHost* h = Of(data);
    std::lock_guard<std::mutex> lock(h->m_lock);
    h->m_textDialogs.push_back(TextDialogRecord{title != nullptr ? title : "", prompt != nullptr ? prompt : ""});
    h->ChangedLocked();
    if (h->m_textAnswers.empty())
        return 0;
    TextDialogAnswer answer = h->m_textAnswers.front();
    h->m_textAnswers.pop_front();
    if (!answer.bOk)
        return 0;
    CopyText(answer.strText, text, textSize);
    return 1;
}

int CHeadlessHost::HostSetClipboardBitmap(void* data, const PXSurface* bitmap)
{
    CHeadlessHost* h = Of(data);
    if (bitmap == nullptr)
        return 0;
    HostBitmap copy = CopyRows(bitmap->pixels, bitmap->width, bitmap->height, bitmap->stride);
    std::lock_guard<std::mutex> lock(h->m_lock);
    if (!h->m_bClipboardAccepts)
        return 0;
    h->m_clipboard.push_back(std::move(copy));
    h->ChangedLocked();
    return 1;
}

void CHeadlessHost::HostScreenOrigin(void* data, int32_t* x, int32_t* y)
{
    CHeadlessHost* h = Of(data);
    if (x != nullptr)
        *x = h->m_options.screenX;
    if (y != nullptr)
        *y = h->m_options.screenY;
}

} // namespace pxhost
