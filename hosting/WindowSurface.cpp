#include "hosting/WindowSurface.h"

#include <algorithm>

namespace pxhost {

CWindowSurface::CWindowSurface(int32_t width, int32_t height, uint8_t fill) : m_fill(fill)
{
    m_width = std::max(0, width);
    m_height = std::max(0, height);
    m_pixels.assign(static_cast<size_t>(m_width) * m_height * 4, m_fill);
}

bool CWindowSurface::Acquire(PXSurface* s)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (s == nullptr || m_pixels.empty())
        return false;
    ++m_dwUsers;
    s->pixels = m_pixels.data();
    s->width = m_width;
    s->height = m_height;
    s->stride = m_width * 4;
    return true;
}

void CWindowSurface::Release()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_dwUsers > 0)
        --m_dwUsers;
    m_free.notify_all();
}

void CWindowSurface::WaitForNoUser(std::unique_lock<std::mutex>& lock) const
{
    ++m_dwWaiting;
    m_free.wait(lock, [&] { return m_dwUsers == 0; });
    --m_dwWaiting;
}

uint32_t CWindowSurface::Waiting() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwWaiting;
}

PXRect CWindowSurface::Rect() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return PXRect{0, 0, m_width, m_height};
}

bool CWindowSurface::Resize(int32_t width, int32_t height)
{
    width = std::max(0, width);
    height = std::max(0, height);
    std::unique_lock<std::mutex> lock(m_lock);
    WaitForNoUser(lock);
    if (width == m_width && height == m_height)
        return false;
    m_width = width;
    m_height = height;
    m_pixels.assign(static_cast<size_t>(width) * height * 4, m_fill);
    return true;
}

void CWindowSurface::Read(const std::function<void(const PXSurface&)>& read) const
{
    std::unique_lock<std::mutex> lock(m_lock);
    WaitForNoUser(lock);
    PXSurface s{const_cast<uint8_t*>(m_pixels.data()), m_width, m_height, m_width * 4};
    read(s);
}

} // namespace pxhost
