#include "hosting/qt/QtWindowHost.h"

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>

#include "hosting/qt/QtDialogs.h"

namespace pxqt {

namespace {

// The one event Qt carries for us: "drain the queue".
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

CQtWindowHost* Of(void* data) { return static_cast<CQtWindowHost*>(data); }

} // namespace

CQtWindowHost::CQtWindowHost(QWidget* widget, EventSink events)
    : QObject(widget), m_pWidget(widget), m_events(std::move(events)), m_guiThread(std::this_thread::get_id())
{
    setObjectName(QStringLiteral("PellixWindowHost"));
    m_surfaceWidth = std::max(0, widget->width());
    m_surfaceHeight = std::max(0, widget->height());
    m_surface.assign(static_cast<size_t>(m_surfaceWidth) * m_surfaceHeight * 4, 0xFF);

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
    m_pControl = PXControlCreate(&m_table);
}

CQtWindowHost::~CQtWindowHost() { DestroyControl(); }

void CQtWindowHost::DestroyControl()
{
    DestroyWindow();
    PXControlDestroy(m_pControl);
    m_pControl = nullptr;
    KillAllTimers();
}

// ---- the window ------------------------------------------------------------------------------

void CQtWindowHost::CreateWindow()
{
    if (WindowExists())
        return;
    ResizeSurface(m_pWidget->width(), m_pWidget->height());
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bWindowGoing)
            return;
        m_bWindow = true;
        m_changed.notify_all();
    }
    Dispatch(QueuedMessage{PX_WM_CREATE, 0, 0, nullptr});
}

void CQtWindowHost::DestroyWindow()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_bWindow)
            return;
        m_bWindowGoing = true;   // every waiting send returns now
        m_changed.notify_all();
    }
    Dispatch(QueuedMessage{PX_WM_DESTROY, 0, 0, nullptr});
    KillAllTimers();
    std::lock_guard<std::mutex> lock(m_lock);
    m_bWindow = false;
    m_messages.clear();
    m_bInvalid = false;
    m_changed.notify_all();
}

bool CQtWindowHost::WindowExists() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bWindow;
}

bool CQtWindowHost::ResizeSurface(int32_t width, int32_t height)
{
    std::unique_lock<std::mutex> lock(m_surfaceLock);
    m_surfaceFree.wait(lock, [&] { return m_dwSurfaceUsers == 0; });
    if (width == m_surfaceWidth && height == m_surfaceHeight)
        return false;
    m_surfaceWidth = width;
    m_surfaceHeight = height;
    m_surface.assign(static_cast<size_t>(width) * height * 4, 0xFF);
    return true;
}

void CQtWindowHost::Resize(int32_t width, int32_t height)
{
    width = std::max(0, width);
    height = std::max(0, height);
    if (!ResizeSurface(width, height) || !WindowExists())
        return;
    const intptr_t size = static_cast<intptr_t>((static_cast<uint32_t>(height) & 0xFFFFu) << 16 |
                                                (static_cast<uint32_t>(width) & 0xFFFFu));
    Dispatch(QueuedMessage{PX_WM_SIZE, 0, size, nullptr});
}

int CQtWindowHost::WindowMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (m_pControl == nullptr || !WindowExists())
        return 0;
    return PXControlWindowMessage(m_pControl, msg, wParam, lParam);
}

// The control paints straight into the window surface as one more user of it, so that what a
// back-end presented there from the update thread stays; the screen then gets the surface.
void CQtWindowHost::Paint(QPainter& painter)
{
    PXSurface target{};
    if (m_pControl != nullptr && WindowExists() && AcquireSurface(&target)) {
        PXControlPaint(m_pControl, &target);
        ReleaseSurface();
    }
    std::unique_lock<std::mutex> lock(m_surfaceLock);
    m_surfaceFree.wait(lock, [&] { return m_dwSurfaceUsers == 0; });
    if (m_surface.empty())
        return;
    const QImage view(m_surface.data(), m_surfaceWidth, m_surfaceHeight, m_surfaceWidth * 4, QImage::Format_RGB32);
    painter.drawImage(0, 0, view);
}

// ---- the message queue -----------------------------------------------------------------------

void CQtWindowHost::WakeLocked()
{
    if (m_bWakePosted)
        return;
    m_bWakePosted = true;
    QCoreApplication::postEvent(this, new QEvent(kWakeEvent));
}

bool CQtWindowHost::event(QEvent* e)
{
    bool wake = false;
    {
        // A worker made the wake event under m_lock: taking it orders that before this read, as
        // the thread checkers see it (Qt's own hand-over is invisible to them).
        std::lock_guard<std::mutex> lock(m_lock);
        wake = e->type() == kWakeEvent;
    }
    if (!wake)
        return QObject::event(e);
    Drain();
    return true;
}

// One message at a time, the lock left while the control runs: a handler that runs a nested
// event loop (a modal dialog in a slot) drains the rest of the queue from there, in order.
void CQtWindowHost::Drain()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_bWakePosted = false;
    while (!m_messages.empty()) {
        QueuedMessage m = std::move(m_messages.front());
        m_messages.pop_front();
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
            m_changed.notify_all();
        }
    }
    const bool invalid = m_bInvalid;
    m_bInvalid = false;
    lock.unlock();
    if (invalid)
        m_pWidget->update();
}

void CQtWindowHost::Dispatch(const QueuedMessage& m)
{
    if (m_pControl != nullptr)
        PXControlWindowMessage(m_pControl, m.msg, m.wParam, m.lParam);
}

uint32_t CQtWindowHost::SendsWaiting() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwSendsWaiting;
}

uint32_t CQtWindowHost::SendsDelivered() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwSendsDelivered;
}

uint32_t CQtWindowHost::SendsGivenUp() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwSendsGivenUp;
}

bool CQtWindowHost::WaitForWaitingSend(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_dwSendsWaiting > 0; });
}

// ---- the surface ---------------------------------------------------------------------------

bool CQtWindowHost::AcquireSurface(PXSurface* s)
{
    std::lock_guard<std::mutex> lock(m_surfaceLock);
    if (m_surface.empty())
        return false;
    ++m_dwSurfaceUsers;
    s->pixels = m_surface.data();
    s->width = m_surfaceWidth;
    s->height = m_surfaceHeight;
    s->stride = m_surfaceWidth * 4;
    return true;
}

void CQtWindowHost::ReleaseSurface()
{
    std::lock_guard<std::mutex> lock(m_surfaceLock);
    if (m_dwSurfaceUsers > 0)
        --m_dwSurfaceUsers;
    m_surfaceFree.notify_all();
}

void CQtWindowHost::KillAllTimers()
{
    for (auto& entry : m_timers)
        delete entry.second;
    m_timers.clear();
}

// ---- the table's functions -------------------------------------------------------------------

int CQtWindowHost::HostGetWindowSurface(void* data, PXSurface* s)
{
    CQtWindowHost* h = Of(data);
    if (s == nullptr || !h->WindowExists())
        return 0;
    return h->AcquireSurface(s) ? 1 : 0;
}

void CQtWindowHost::HostGetClientRect(void* data, PXRect* r)
{
    CQtWindowHost* h = Of(data);
    if (r == nullptr)
        return;
    *r = PXRect{0, 0, 0, 0};
    if (!h->WindowExists())
        return;
    std::lock_guard<std::mutex> lock(h->m_surfaceLock);
    r->right = h->m_surfaceWidth;
    r->bottom = h->m_surfaceHeight;
}

void CQtWindowHost::HostReleaseWindowSurface(void* data, const PXSurface* s)
{
    if (s != nullptr)
        Of(data)->ReleaseSurface();
}

uint32_t CQtWindowHost::HostSetTimer(void* data, uint32_t id, uint32_t periodMs)
{
    CQtWindowHost* h = Of(data);
    if (id == 0 || !h->WindowExists())
        return 0;
    QTimer*& timer = h->m_timers[id];
    if (timer == nullptr) {
        timer = new QTimer(h);
        QObject::connect(timer, &QTimer::timeout, h, [h, id] { h->WindowMessage(PX_WM_TIMER, id, 0); });
    }
    timer->start(static_cast<int>(std::min<uint32_t>(periodMs, 0x7FFFFFFF)));
    return id;
}

void CQtWindowHost::HostKillTimer(void* data, uint32_t id)
{
    CQtWindowHost* h = Of(data);
    auto it = h->m_timers.find(id);
    if (it == h->m_timers.end())
        return;
    delete it->second;   // no timeout of it follows
    h->m_timers.erase(it);
}

void CQtWindowHost::HostInvalidate(void* data)
{
    CQtWindowHost* h = Of(data);
    if (h->OnGuiThread()) {
        h->m_pWidget->update();
        return;
    }
    std::lock_guard<std::mutex> lock(h->m_lock);
    if (!h->m_bWindow || h->m_bWindowGoing)
        return;
    h->m_bInvalid = true;
    h->WakeLocked();
}

int CQtWindowHost::HostHasWindow(void* data) { return Of(data)->WindowExists() ? 1 : 0; }

int CQtWindowHost::HostDeliverMessage(void* data, uint32_t msg, uintptr_t wParam, intptr_t lParam, int send,
                                      uint32_t timeoutMs)
{
    CQtWindowHost* h = Of(data);
    std::unique_lock<std::mutex> lock(h->m_lock);
    if (!h->m_bWindow || h->m_bWindowGoing) {
        if (send != 0) {
            ++h->m_dwSendsGivenUp;
            h->m_changed.notify_all();
        }
        return 0;
    }
    QueuedMessage m{msg, wParam, lParam, nullptr};
    if (send == 0) {
        h->m_messages.push_back(std::move(m));
        h->WakeLocked();
        return 1;
    }
    if (h->OnGuiThread()) {
        // A send on the window's own thread is a direct call, as on any window system.
        lock.unlock();
        h->Dispatch(m);
        lock.lock();
        ++h->m_dwSendsDelivered;
        return 1;
    }
    auto state = std::make_shared<SendState>();
    m.pSend = state;
    h->m_messages.push_back(std::move(m));
    h->WakeLocked();
    ++h->m_dwSendsWaiting;
    h->m_changed.notify_all();
    h->m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return state->state == SendState::Done || h->m_bWindowGoing; });
    --h->m_dwSendsWaiting;
    const int delivered = state->state == SendState::Done ? 1 : 0;
    if (delivered != 0) {
        ++h->m_dwSendsDelivered;
    } else {
        // Still queued: withdrawn, so that the control's next attempt does not make it twice.
        // Already running: it ends on the GUI thread, without its sender.
        if (state->state == SendState::Queued)
            state->state = SendState::Withdrawn;
        ++h->m_dwSendsGivenUp;
    }
    h->m_changed.notify_all();
    return delivered;
}

int32_t CQtWindowHost::HostMessageBox(void* data, const char* text, const char* caption, uint32_t)
{
    return MessageBox(Of(data)->m_pWidget, text, caption);
}

void CQtWindowHost::HostFireEvent(void* data, int32_t dispid, const PXVariant* args, uint32_t argc)
{
    CQtWindowHost* h = Of(data);
    if (h->m_events)
        h->m_events(dispid, args, argc);
}

uint32_t CQtWindowHost::HostTrackMenu(void* data, const PXMenuItem* items, uint32_t count, int32_t x, int32_t y)
{
    return TrackMenu(Of(data)->m_pWidget, items, count, x, y);
}

int CQtWindowHost::HostSaveFileDialog(void*, const char* const* filters, uint32_t filterCount, const char* title,
                                      const char* initialName, const char* defaultExt, char* path, uint32_t pathSize,
                                      uint32_t* chosenFilter)
{
    return SaveFileDialog(filters, filterCount, title, initialName, defaultExt, path, pathSize, chosenFilter);
}

int CQtWindowHost::HostTextDialog(void* data, const char* title, const char* prompt, char* text, uint32_t textSize)
{
    return TextDialog(Of(data)->m_pWidget, title, prompt, text, textSize);
}

int CQtWindowHost::HostSetClipboardBitmap(void*, const PXSurface* bitmap)
{
    return bitmap != nullptr ? SetClipboardBitmap(*bitmap) : 0;
}

void CQtWindowHost::HostScreenOrigin(void* data, int32_t* x, int32_t* y)
{
    const QPoint origin = Of(data)->m_pWidget->mapToGlobal(QPoint(0, 0));
    if (x != nullptr)
        *x = origin.x();
    if (y != nullptr)
        *y = origin.y();
}

} // namespace pxqt
