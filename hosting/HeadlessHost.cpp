#include "hosting/HeadlessHost.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/Clock.h"

namespace pxhost {

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

CHeadlessHost::CHeadlessHost(const HeadlessHostOptions& options)
    : CHostCore(options.width, options.height, 0, options.dwSendTimeoutCapMs), m_options(options)
{
    m_thread.Start("HostWindow", [this] { WindowLoop(); });
    RunOnWindowThread([this](PXControl*) { CreateControl(); });
}

CHeadlessHost::~CHeadlessHost()
{
    DestroyWindow();
    RunOnWindowThread([this](PXControl*) { DestroyControl(); });
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
    SetWindowThread();
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        if (Step(lock))
            continue;
        if (m_bQuit)
            break;
        uint64_t wait = 60000;
        if (!m_bHeld && WindowLocked() && !m_options.bManualTimers && !m_timers.empty()) {
            uint64_t now = px::TickCount64();
            for (const auto& entry : m_timers)
                wait = std::min(wait, entry.second.qwDue > now ? entry.second.qwDue - now : 0);
        }
        uint64_t seen = ChangesLocked();
        m_changed.wait_for(lock, std::chrono::milliseconds(wait), [&] {
            return ChangesLocked() != seen || m_bQuit || !m_tasks.empty() || (!m_bHeld && !QueueEmptyLocked());
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
    if (DispatchNextLocked(lock))
        return true;
    // Timers and painting come when the queue is empty, as a window system makes them.
    if (WindowLocked() && !m_options.bManualTimers) {
        uint64_t now = px::TickCount64();
        for (auto& entry : m_timers) {
            if (entry.second.qwDue > now)
                continue;
            entry.second.qwDue = now + std::max<uint32_t>(entry.second.dwPeriodMs, 1);
            const uint32_t id = entry.first;
            lock.unlock();
            Dispatch(PX_WM_TIMER, id, 0);
            lock.lock();
            return true;
        }
    }
    if (WindowLocked() && m_options.bAutoPaint && TakeInvalidLocked()) {
        lock.unlock();
        PaintOnWindowThread();
        lock.lock();
        return true;
    }
    return false;
}

void CHeadlessHost::OnDispatched(uint32_t msg, uintptr_t wParam, intptr_t lParam, int consumed)
{
    std::lock_guard<std::mutex> lock(m_lock);
    Record(m_recordedMessages, RecordedMessage{msg, wParam, lParam, consumed != 0}, m_options.nRecordLimit);
    ChangedLocked();
}

void CHeadlessHost::RunOnWindowThread(const std::function<void(PXControl*)>& fn)
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [&] { return WindowThreadKnownLocked(); });
    if (OnWindowThreadLocked()) {
        lock.unlock();
        fn(Control());
        return;
    }
    auto done = std::make_shared<bool>(false);
    m_tasks.push_back([this, &fn, done] {
        fn(Control());
        std::lock_guard<std::mutex> taskLock(m_lock);
        *done = true;
        m_changed.notify_all();   // not a change: a condition that invokes members must not spin
    });
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return *done; });
}

// ---- the window ------------------------------------------------------------------------------

void CHeadlessHost::CreateWindow()
{
    RunOnWindowThread([this](PXControl*) { OpenWindow(); });
}

void CHeadlessHost::DestroyWindow()
{
    RunOnWindowThread([this](PXControl*) { CloseWindow(); });
}

void CHeadlessHost::OnWindowGone()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_timers.clear();
}

void CHeadlessHost::Resize(int32_t width, int32_t height)
{
    RunOnWindowThread([this, width, height](PXControl*) { ResizeWindow(width, height); });
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
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bHeld)
            return false;
    }
    return CHostCore::Flush(timeoutMs);
}

std::vector<RecordedMessage> CHeadlessHost::Messages() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_recordedMessages;
}

// ---- timers ----------------------------------------------------------------------------------

bool CHeadlessHost::FireTimer(uint32_t id)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_timers.count(id) == 0)
            return false;
    }
    return PostMessage(PX_WM_TIMER, id, 0);
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

uint32_t CHeadlessHost::OnSetTimer(uint32_t id, uint32_t periodMs)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_timerCalls.push_back(TimerCall{id, periodMs, true});
    ChangedLocked();
    if (!WindowLocked() || id == 0)
        return 0;
    m_timers[id] = Timer{periodMs, px::TickCount64() + periodMs};
    return id;
}

void CHeadlessHost::OnKillTimer(uint32_t id)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_timerCalls.push_back(TimerCall{id, 0, false});
    m_timers.erase(id);
    // A timer message already queued is not handed over after the kill.
    WithdrawPostedLocked(PX_WM_TIMER, id);
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

void CHeadlessHost::PaintOnWindowThread()
{
    PaintControl();
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_qwPaints;
    ChangedLocked();
}

void CHeadlessHost::OnInvalidate()
{
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_qwInvalidations;
    InvalidateLocked();
    ChangedLocked();
}

HostBitmap CHeadlessHost::Window() const
{
    HostBitmap copy;
    Surface().Read([&](const PXSurface& s) { copy = CopyRows(s.pixels, s.width, s.height, s.stride); });
    return copy;
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

bool CHeadlessHost::WaitForEvents(int32_t dispid, size_t count, uint32_t timeoutMs)
{
    return WaitFor([&] { return CountEvents(dispid) >= count; }, timeoutMs);
}

// ---- the window-thread services --------------------------------------------------------------

int32_t CHeadlessHost::OnMessageBox(const char* text, const char* caption, uint32_t flags)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_messageBoxes.push_back(MessageBoxRecord{text != nullptr ? text : "", caption != nullptr ? caption : "", flags});
    ChangedLocked();
    return m_lMessageBoxAnswer;
}

void CHeadlessHost::OnEvent(int32_t dispid, const PXVariant* args, uint32_t argc)
{
    RecordedEvent e;
    e.dispid = dispid;
    for (uint32_t i = 0; args != nullptr && i < argc; ++i)
        e.args.push_back(HostValue::From(args[i]));
    EventHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        Record(m_events, std::move(e), m_options.nRecordLimit);
        ChangedLocked();
        handler = m_eventHandler;
    }
    if (handler)
        handler(dispid, args, argc);
}

uint32_t CHeadlessHost::OnTrackMenu(const PXMenuItem* items, uint32_t count, int32_t x, int32_t y)
{
    MenuRecord r;
    r.items = CopyMenu(items, count, 0);
    r.x = x;
    r.y = y;
    std::lock_guard<std::mutex> lock(m_lock);
    m_menus.push_back(std::move(r));
    ChangedLocked();
    if (m_menuAnswers.empty())
        return 0;
    uint32_t id = m_menuAnswers.front();
    m_menuAnswers.pop_front();
    return id;
}

int CHeadlessHost::OnSaveFileDialog(const char* const* filters, uint32_t filterCount, const char* title,
                                    const char* initialName, const char* defaultExt, char* path, uint32_t pathSize,
                                    uint32_t* chosenFilter)
{
    SaveDialogRecord r;
    for (uint32_t i = 0; filters != nullptr && i < filterCount; ++i) {
        const char* description = filters[2 * i];
        const char* pattern = filters[2 * i + 1];
        r.filters.emplace_back(description != nullptr ? description : "", pattern != nullptr ? pattern : "");
    }
    r.strTitle = title != nullptr ? title : "";
    r.strInitialName = initialName != nullptr ? initialName : "";
    r.strDefaultExt = defaultExt != nullptr ? defaultExt : "";
    std::lock_guard<std::mutex> lock(m_lock);
    m_saveDialogs.push_back(std::move(r));
    ChangedLocked();
    if (m_saveAnswers.empty())
        return 0;
    SaveDialogAnswer answer = m_saveAnswers.front();
    m_saveAnswers.pop_front();
    if (!answer.bChosen || path == nullptr || pathSize == 0)
        return 0;
    CopyText(answer.strPath, path, pathSize);
    if (chosenFilter != nullptr)
        *chosenFilter = answer.dwFilter;
    return 1;
}

int CHeadlessHost::OnTextDialog(const char* title, const char* prompt, char* text, uint32_t textSize)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_textDialogs.push_back(TextDialogRecord{title != nullptr ? title : "", prompt != nullptr ? prompt : ""});
    ChangedLocked();
    if (m_textAnswers.empty())
        return 0;
    TextDialogAnswer answer = m_textAnswers.front();
    m_textAnswers.pop_front();
    if (!answer.bOk)
        return 0;
    CopyText(answer.strText, text, textSize);
    return 1;
}

int CHeadlessHost::OnSetClipboardBitmap(const PXSurface* bitmap)
{
    if (bitmap == nullptr)
        return 0;
    HostBitmap copy = CopyRows(bitmap->pixels, bitmap->width, bitmap->height, bitmap->stride);
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_bClipboardAccepts)
        return 0;
    m_clipboard.push_back(std::move(copy));
    ChangedLocked();
    return 1;
}

void CHeadlessHost::OnScreenOrigin(int32_t* x, int32_t* y)
{
    if (x != nullptr)
        *x = m_options.screenX;
    if (y != nullptr)
        *y = m_options.screenY;
}

} // namespace pxhost
