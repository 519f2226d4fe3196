// The host's window as a display back-end sees it (the HWND of CDXDisplay): its client size and,
// for the time of one present, its pixels. The viewer's host object makes one per control window
// over the host's own window services; a back-end only borrows it.
#pragma once

#include <cstdint>

#include "raster/GdiTypes.h"

namespace display {

// 32-bit pixels, blue, green, red and a fourth byte, rows top-down stride bytes apart.
struct WindowPixels {
    uint8_t* pixels = nullptr;
    int32_t width = 0, height = 0, stride = 0;
};

struct DisplayWindow {
    virtual ~DisplayWindow() = default;
    virtual void GetClientRect(raster::RECT* rect) = 0;
    // The window's pixels until ReleasePixels; false (nothing to release) when there is no window.
    virtual bool AcquirePixels(WindowPixels* out) = 0;
    virtual void ReleasePixels(const WindowPixels& pixels) = 0;
};

} // namespace display
