#include "hosting/qt/QtWindowHost.h"

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <algorithm>

#include "hosting/qt/QtDialogs.h"

namespace pxqt {

namespace {

// The one event Qt carries for us: "drain the queue".
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

} // namespace

CQtWindowHost::CQtWindowHost(QWidget* widget, EventSink events)
    : QObject(widget), CHostCore(widget->width(), widget->height(), 0xFF, 0xFFFFFFFFu), m_pWidget(widget),
      m_events(std::move(events))
{
    setObjectName(QStringLiteral("PellixWindowHost"));
    SetWindowThread();
    CreateControl();
}

CQtWindowHost::~CQtWindowHost() { DestroyControl(); }

void CQtWindowHost::DestroyControl()
{
    // Once the control is gone, no window can come back for it.
    m_bCreated = true;
    CloseWindow();
    CHostCore::DestroyControl();
    KillAllTimers();
}

// ---- the window ------------------------------------------------------------------------------

void CQtWindowHost::CreateWindow()
{
    if (m_bCreated)
        return;
    m_bCreated = true;
    Surface().Resize(m_pWidget->width(), m_pWidget->height());
    OpenWindow();
}

int CQtWindowHost::WindowMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (Control() == nullptr || !WindowExists())
        return 0;
    return Dispatch(msg, wParam, lParam);
}

// The control paints straight into the window surface as one more user of it, so that what a
// back-end presented there from the update thread stays; the screen then gets the surface.
void CQtWindowHost::Paint(QPainter& painter)
{
    PaintControl();
    Surface().Read([&](const PXSurface& s) {
        if (s.width > 0 && s.height > 0)
            painter.drawImage(0, 0, QImage(s.pixels, s.width, s.height, s.stride, QImage::Format_RGB32));
    });
}

bool CQtWindowHost::WaitForWaitingSend(uint32_t timeoutMs)
{
    return WaitFor([this] { return SendsWaiting() > 0; }, timeoutMs);
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
    while (DispatchNextLocked(lock)) {
    }
    const bool invalid = TakeInvalidLocked();
    lock.unlock();
    if (invalid)
        m_pWidget->update();
}

void CQtWindowHost::OnInvalidate()
{
    if (OnWindowThread()) {
        m_pWidget->update();
        return;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    InvalidateLocked();
}

// ---- timers ----------------------------------------------------------------------------------

uint32_t CQtWindowHost::OnSetTimer(uint32_t id, uint32_t periodMs)
{
    if (id == 0 || !WindowExists())
        return 0;
    QTimer*& timer = m_timers[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        QObject::connect(timer, &QTimer::timeout, this, [this, id] { WindowMessage(PX_WM_TIMER, id, 0); });
    }
    timer->start(static_cast<int>(std::min<uint32_t>(periodMs, 0x7FFFFFFF)));
    return id;
}

void CQtWindowHost::OnKillTimer(uint32_t id)
{
    auto it = m_timers.find(id);
    if (it == m_timers.end())
        return;
    delete it->second;   // no timeout of it follows
    m_timers.erase(it);
}

void CQtWindowHost::KillAllTimers()
{
    for (auto& entry : m_timers)
        delete entry.second;
    m_timers.clear();
}

// ---- what the user sees ----------------------------------------------------------------------

int32_t CQtWindowHost::OnMessageBox(const char* text, const char* caption, uint32_t)
{
    return MessageBox(m_pWidget, text, caption);
}

void CQtWindowHost::OnEvent(int32_t dispid, const PXVariant* args, uint32_t argc)
{
    if (m_events)
        m_events(dispid, args, argc);
}

uint32_t CQtWindowHost::OnTrackMenu(const PXMenuItem* items, uint32_t count, int32_t x, int32_t y)
{
    return TrackMenu(m_pWidget, items, count, x, y);
}

int CQtWindowHost::OnSaveFileDialog(const char* const* filters, uint32_t filterCount, const char* title,
                                    const char* initialName, const char* defaultExt, char* path, uint32_t pathSize,
                                    uint32_t* chosenFilter)
{
    return SaveFileDialog(filters, filterCount, title, initialName, defaultExt, path, pathSize, chosenFilter);
}

int CQtWindowHost::OnTextDialog(const char* title, const char* prompt, char* text, uint32_t textSize)
{
    return TextDialog(m_pWidget, title, prompt, text, textSize);
}

int CQtWindowHost::OnSetClipboardBitmap(const PXSurface* bitmap)
{
    return bitmap != nullptr ? SetClipboardBitmap(*bitmap) : 0;
}

void CQtWindowHost::OnScreenOrigin(int32_t* x, int32_t* y)
{
    const QPoint origin = m_pWidget->mapToGlobal(QPoint(0, 0));
    if (x != nullptr)
        *x = origin.x();
    if (y != nullptr)
        *y = origin.y();
}

} // namespace pxqt
