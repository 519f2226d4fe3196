#include "TestWindow.h"

#include <chrono>
#include <cstring>

namespace controltest {

CTestWindow::CTestWindow(int32_t width, int32_t height)
    : m_width(width), m_height(height), m_windowPixels(static_cast<size_t>(width) * height * 4, 0xFF)
{
}

CTestWindow::~CTestWindow() { Close(); }

void CTestWindow::Changed()
{
    ++m_changes;
    m_changed.notify_all();
}

bool CTestWindow::PumpUntil(const std::function<bool()>& pred, uint32_t timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (pred())
            return true;
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_queue.empty()) {
            const uint64_t seen = m_changes;
            if (!m_changed.wait_until(lock, deadline, [&] { return !m_queue.empty() || m_changes != seen; })) {
                lock.unlock();
                return pred();
            }
            continue;
        }
        const SMessage m = m_queue.front();
        m_queue.pop_front();
        lock.unlock();
        m_pControl->OnWindowMessage(m.msg, m.wParam, m.lParam);
        if (m.ticket != 0) {
            std::lock_guard<std::mutex> done(m_lock);
            m_doneTicket = m.ticket;
            Changed();
        }
    }
}

void CTestWindow::RefuseSends(bool refuse)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_bRefuseSends = refuse;
}

void CTestWindow::Close()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_bClosed = true;
    Changed();
}

std::vector<SEvent> CTestWindow::Events() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events;
}

size_t CTestWindow::CountEvents(int32_t dispid) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    size_t n = 0;
    for (const SEvent& e : m_events)
        n += e.dispid == dispid;
    return n;
}

std::vector<std::string> CTestWindow::Boxes() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_boxes;
}

uint32_t CTestWindow::SendAttempts() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwSendAttempts;
}

uint32_t CTestWindow::Invalidations() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwInvalidations;
}

std::vector<std::pair<uint32_t, uint32_t>> CTestWindow::Timers() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_timers;
}

std::vector<uint32_t> CTestWindow::KilledTimers() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_killed;
}

std::vector<uint64_t> CTestWindow::PointersDuringImageEvents() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pointersInEvents;
}

std::vector<uint8_t> CTestWindow::Paint()
{
    std::vector<uint8_t> pixels(static_cast<size_t>(m_width) * m_height * 4, 0xFF);
    raster::HDC dc = raster::CreateSurfaceDC(pixels.data(), m_width, m_height, m_width * 4);
    m_pControl->OnDraw(dc);
    raster::DeleteDC(dc);
    return pixels;
}

// ---- The window's services ------------------------------------------------------------------------------

raster::HDC CTestWindow::GetWindowDC()
{
    return raster::CreateSurfaceDC(m_windowPixels.data(), m_width, m_height, m_width * 4);
}

void CTestWindow::GetClientRect(raster::RECT* rect) { *rect = raster::RECT{0, 0, m_width, m_height}; }

void CTestWindow::ReleaseDC(raster::HDC hdc) { raster::DeleteDC(hdc); }

uint32_t CTestWindow::SetTimer(uint32_t id, uint32_t periodMs)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_timers.emplace_back(id, periodMs);
    return id;
}

void CTestWindow::KillTimer(uint32_t id)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_killed.push_back(id);
}

void CTestWindow::Invalidate()
{
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_dwInvalidations;
    Changed();
}

display::HWND CTestWindow::GetWindowHandle()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bClosed ? nullptr : static_cast<display::DisplayWindow*>(this);
}

bool CTestWindow::AcquirePixels(display::WindowPixels* out)
{
    *out = display::WindowPixels{m_windowPixels.data(), m_width, m_height, m_width * 4};
    return true;
}

bool CTestWindow::DeliverMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool send, uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_bClosed)
        return false;
    if (!send) {
        m_queue.push_back({msg, wParam, lParam, 0});
        Changed();
        return true;
    }
    ++m_dwSendAttempts;
    Changed();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (m_bRefuseSends) {
        m_changed.wait_until(lock, deadline, [&] { return m_bClosed; });
        return false;
    }
    const uint64_t ticket = m_nextTicket++;
    m_queue.push_back({msg, wParam, lParam, ticket});
    Changed();
    if (m_changed.wait_until(lock, deadline, [&] { return m_doneTicket >= ticket || m_bClosed; }) && !m_bClosed)
        return true;
    // Not handed over in time: taken back, as a timed-out send is never processed.
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
        if (it->ticket == ticket) {
            m_queue.erase(it);
            break;
        }
    }
    return m_doneTicket >= ticket;
}

int32_t CTestWindow::MessageBox(const char* text, const char* caption, uint32_t)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_boxes.push_back(std::string(caption) + ": " + text);
    return 1;
}

// ---- Events ---------------------------------------------------------------------------------------------------

void CTestWindow::Record(SEvent event)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.push_back(std::move(event));
    Changed();
}

void CTestWindow::FireOnTextReceived(const char* text) { Record({PXEVENT_OnTextReceived, {}, text, 0}); }

void CTestWindow::FireOnArrayReceived(const PXVariant& array)
{
    SEvent e{PXEVENT_OnArrayReceived, {}, "", array.vt};
    if (array.vt == PX_VT_BSTR)
        e.text = array.v.str;
    for (uint32_t i = 0; (array.vt & PX_VT_ARRAY) && i < array.v.array.count; ++i) {
        const PXVariant& item = array.v.array.items[i];
        e.elementType = item.vt;
        switch (item.vt) {
        case PX_VT_I1: e.numbers.push_back(item.v.cVal); break;
        case PX_VT_UI1: e.numbers.push_back(item.v.bVal); break;
        case PX_VT_I2: e.numbers.push_back(item.v.iVal); break;
        case PX_VT_UI2: e.numbers.push_back(item.v.uiVal); break;
        case PX_VT_I4:
        case PX_VT_INT: e.numbers.push_back(item.v.lVal); break;
        case PX_VT_UI4:
        case PX_VT_UINT: e.numbers.push_back(item.v.ulVal); break;
        case PX_VT_R4: e.numbers.push_back(item.v.fltVal); break;
        case PX_VT_R8: e.numbers.push_back(item.v.dblVal); break;
        default: break;
        }
    }
    Record(e);
}

void CTestWindow::FireOnListUpdate(const char* text) { Record({PXEVENT_OnListUpdate, {}, text, 0}); }

void CTestWindow::FireOnMouseDown(int32_t x, int32_t y, int32_t button)
{
    Record({PXEVENT_OnMouseDown, {double(x), double(y), double(button)}, "", 0});
}

void CTestWindow::FireOnMouseUp(int32_t x, int32_t y, int32_t button)
{
    Record({PXEVENT_OnMouseUp, {double(x), double(y), double(button)}, "", 0});
}

void CTestWindow::FireOnMouseMove(int32_t x, int32_t y) { Record({PXEVENT_OnMouseMove, {double(x), double(y)}, "", 0}); }

void CTestWindow::FireOnHistogramReceived(const PXVariant&) { Record({PXEVENT_OnHistogramReceived, {}, "", 0}); }

void CTestWindow::FireOnImageReceived(uint64_t pDIBHeader, uint64_t pDIB)
{
    // The host may read the bitmap now: the control answers the addresses while the event runs.
    uint64_t data = 0, header = 0;
    m_pControl->GetBufferDataPtr(&data);
    m_pControl->GetBufferDIBHeaderPtr(&header);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pointersInEvents.push_back(data == pDIB && header == pDIBHeader ? data : 0);
    }
    Record({PXEVENT_OnImageReceived, {double(pDIBHeader), double(pDIB)}, "", 0});
}

void CTestWindow::FireOnDataReceive(const char* text) { Record({PXEVENT_OnDataReceive, {}, text, 0}); }

void CTestWindow::FireOnScaleChange(float fScaleX, float fScaleY)
{
    Record({PXEVENT_OnScaleChange, {fScaleX, fScaleY}, "", 0});
}

void CTestWindow::FireOnError(uint32_t ulError, const char* errorMessage)
{
    Record({PXEVENT_OnError, {double(ulError)}, errorMessage, 0});
}

} // namespace controltest
