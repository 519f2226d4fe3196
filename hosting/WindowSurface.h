// The window surface a host shares with the control: BGRX pixels of the client size, and the count
// of their users. The control's workers present into it between getWindowSurface and
// releaseWindowSurface, the host's paint hands it to PXControlPaint the same way; users write the
// pixels as a window's painters do, ordered by the control's own locks. What the host does to the
// pixels itself (read them for the screen or a test, reallocate them for a new size) waits until
// there is no user. The control never waits for the window thread while it holds the surface, so
// these waits end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "pellix/pellix_control.h"

namespace pxhost {

class CWindowSurface {
public:
    // Pixels of the size, every byte the fill.
    CWindowSurface(int32_t width, int32_t height, uint8_t fill);

    // One user more, with the pixels in s; false (and no user) when the surface is empty.
    bool Acquire(PXSurface* s);
    void Release();
    // (0, 0, width, height).
    PXRect Rect() const;
    // Waits until there is no user, then takes the size with new pixels of the fill; false when
    // it had the size already (the pixels stay).
    bool Resize(int32_t width, int32_t height);
    // Waits until there is no user and hands the pixels to read; no user comes meanwhile.
    void Read(const std::function<void(const PXSurface&)>& read) const;
    // Threads in Read or Resize waiting for the users to go (what tests watch).
    uint32_t Waiting() const;

private:
    void WaitForNoUser(std::unique_lock<std::mutex>& lock) const;

    const uint8_t m_fill;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_free;
    int32_t m_width = 0, m_height = 0;
    std::vector<uint8_t> m_pixels;
    uint32_t m_dwUsers = 0;
    mutable uint32_t m_dwWaiting = 0;
};

} // namespace pxhost
