#include "hosting/HostCore.h"

#include <algorithm>
#include <chrono>

namespace pxhost {

namespace {

// A table slot that calls a member function of the host core behind data.
template <typename Member>
struct SlotOf;
template <typename R, typename... A>
struct SlotOf<R (CHostCore::*)(A...)> {
    template <R (CHostCore::*M)(A...)>
    static R Call(void* data, A... args)
    {
        return (static_cast<CHostCore*>(data)->*M)(args...);
    }
};

} // namespace

CHostCore::CHostCore(int32_t width, int32_t height, uint8_t fill, uint32_t sendCapMs)
    : m_dwSendCapMs(sendCapMs), m_surface(width, height, fill)
{
    // The slots a host adds are called only while the control exists, inside the host's lifetime.
#define PX_SLOT(member) &SlotOf<decltype(&CHostCore::member)>::Call<&CHostCore::member>
    m_table.size = sizeof(PXControlHost);
    m_table.data = this;
    m_table.getWindowSurface = PX_SLOT(GetWindowSurface);
    m_table.getClientRect = PX_SLOT(GetClientRect);
    m_table.releaseWindowSurface = PX_SLOT(ReleaseWindowSurface);
    m_table.setTimer = PX_SLOT(OnSetTimer);
    m_table.killTimer = PX_SLOT(OnKillTimer);
    m_table.invalidate = PX_SLOT(OnInvalidate);
    m_table.hasWindow = PX_SLOT(HasWindow);
    m_table.deliverMessage = PX_SLOT(Deliver);
    m_table.messageBox = PX_SLOT(OnMessageBox);
    m_table.fireEvent = PX_SLOT(OnEvent);
    m_table.trackMenu = PX_SLOT(OnTrackMenu);
    m_table.saveFileDialog = PX_SLOT(OnSaveFileDialog);
    m_table.textDialog = PX_SLOT(OnTextDialog);
    m_table.setClipboardBitmap = PX_SLOT(OnSetClipboardBitmap);
    m_table.screenOrigin = PX_SLOT(OnScreenOrigin);
#undef PX_SLOT
}

CHostCore::~CHostCore() = default;

int CHostCore::GetWindowSurface(PXSurface* s) { return s != nullptr && WindowExists() && m_surface.Acquire(s) ? 1 : 0; }

void CHostCore::GetClientRect(PXRect* r)
{
    if (r != nullptr)
        *r = WindowExists() ? m_surface.Rect() : PXRect{0, 0, 0, 0};
}

void CHostCore::ReleaseWindowSurface(const PXSurface* s)
{
    if (s != nullptr)
        m_surface.Release();
}

int CHostCore::HasWindow() { return WindowExists() ? 1 : 0; }

// ---- any thread ----------------------------------------------------------------------------------

bool CHostCore::WindowExists() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bWindow;
}

bool CHostCore::OnWindowThread() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return OnWindowThreadLocked();
}

uint32_t CHostCore::SendsWaiting() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwSendsWaiting;
}

uint32_t CHostCore::SendsDelivered() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwSendsDelivered;
}

uint32_t CHostCore::SendsGivenUp() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwSendsGivenUp;
}

bool CHostCore::WaitFor(const std::function<bool()>& condition, uint32_t timeoutMs)
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

bool CHostCore::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_bWindow || m_bWindowGoing)
        return false;
    m_messages.push_back(QueuedMessage{msg, wParam, lParam, nullptr, nullptr});
    ChangedLocked();
    WakeLocked();
    return true;
}

bool CHostCore::Flush(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    if (OnWindowThreadLocked())
        return false;
    auto mark = std::make_shared<bool>(false);
    m_messages.push_back(QueuedMessage{0, 0, 0, nullptr, mark});
    ChangedLocked();
    WakeLocked();
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return *mark; });
}

int CHostCore::Deliver(uint32_t msg, uintptr_t wParam, intptr_t lParam, int send, uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_bWindow || m_bWindowGoing) {
        if (send != 0) {
            ++m_dwSendsGivenUp;
            ChangedLocked();
        }
        return 0;
    }
    QueuedMessage m{msg, wParam, lParam, nullptr, nullptr};
    if (send == 0) {
        m_messages.push_back(std::move(m));
        ChangedLocked();
        WakeLocked();
        return 1;
    }
    if (OnWindowThreadLocked()) {
        // A send on the window's own thread is a direct call, as on any window system.
        lock.unlock();
        Dispatch(msg, wParam, lParam);
        lock.lock();
        ++m_dwSendsDelivered;
        ChangedLocked();
        return 1;
    }
    auto state = std::make_shared<SendState>();
    m.pSend = state;
    m_messages.push_back(std::move(m));
    ++m_dwSendsWaiting;
    ChangedLocked();
    WakeLocked();
    m_changed.wait_for(lock, std::chrono::milliseconds(std::min(timeoutMs, m_dwSendCapMs)),
                       [&] { return state->state == SendState::Done || m_bWindowGoing; });
    --m_dwSendsWaiting;
    const int delivered = state->state == SendState::Done ? 1 : 0;
    if (delivered != 0) {
        ++m_dwSendsDelivered;
    } else {
        // Still queued: withdrawn, so that the control's next attempt does not make it twice.
        // Already running: it ends on the window thread, without its sender.
        if (state->state == SendState::Queued)
            state->state = SendState::Withdrawn;
        ++m_dwSendsGivenUp;
    }
    ChangedLocked();
    return delivered;
}

void CHostCore::WithdrawPostedLocked(uint32_t msg, uintptr_t wParam)
{
    m_messages.erase(std::remove_if(m_messages.begin(), m_messages.end(),
                                    [&](const QueuedMessage& m) {
                                        return m.msg == msg && m.wParam == wParam && !m.pSend && !m.pFlushMark;
                                    }),
                     m_messages.end());
    ChangedLocked();
}

void CHostCore::InvalidateLocked()
{
    if (!m_bWindow || m_bWindowGoing)
        return;
    m_bInvalid = true;
    ChangedLocked();
    WakeLocked();
}

bool CHostCore::TakeInvalidLocked()
{
    const bool invalid = m_bInvalid;
    m_bInvalid = false;
    return invalid;
}

// ---- the window thread -----------------------------------------------------------------------

void CHostCore::SetWindowThread()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_windowThread = std::this_thread::get_id();
    ChangedLocked();
}

void CHostCore::CreateControl() { m_pControl = PXControlCreate(&m_table); }

void CHostCore::DestroyControl()
{
    PXControlDestroy(m_pControl);
    m_pControl = nullptr;
}

bool CHostCore::OpenWindow()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bWindow)
            return false;
        m_bWindow = true;
        m_bWindowGoing = false;
        ChangedLocked();
    }
    Dispatch(PX_WM_CREATE, 0, 0);
    return true;
}

void CHostCore::CloseWindow()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_bWindow)
            return;
        m_bWindowGoing = true;   // every waiting send returns now
        ChangedLocked();
    }
    Dispatch(PX_WM_DESTROY, 0, 0);
    OnWindowGone();
    std::lock_guard<std::mutex> lock(m_lock);
    m_bWindow = false;
    for (QueuedMessage& queued : m_messages) {
        if (queued.pFlushMark)
            *queued.pFlushMark = true;
    }
    m_messages.clear();
    m_bInvalid = false;
    ChangedLocked();
}

void CHostCore::ResizeWindow(int32_t width, int32_t height)
{
    if (!m_surface.Resize(width, height) || !WindowExists())
        return;
    const PXRect r = m_surface.Rect();
    Dispatch(PX_WM_SIZE, 0,
             static_cast<intptr_t>((static_cast<uint32_t>(r.bottom) & 0xFFFFu) << 16 |
                                   (static_cast<uint32_t>(r.right) & 0xFFFFu)));
}

int CHostCore::Dispatch(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    const int consumed = m_pControl != nullptr ? PXControlWindowMessage(m_pControl, msg, wParam, lParam) : 0;
    OnDispatched(msg, wParam, lParam, consumed);
    return consumed;
}

bool CHostCore::DispatchNextLocked(std::unique_lock<std::mutex>& lock)
{
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
        Dispatch(m.msg, m.wParam, m.lParam);
        lock.lock();
        if (m.pSend) {
            m.pSend->state = SendState::Done;
            ChangedLocked();
        }
        return true;
    }
    return false;
}

void CHostCore::PaintControl()
{
    PXSurface target{};
    if (m_pControl == nullptr || !WindowExists() || !m_surface.Acquire(&target))
        return;
    PXControlPaint(m_pControl, &target);
    m_surface.Release();
}

} // namespace pxhost
