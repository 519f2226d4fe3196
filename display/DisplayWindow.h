// The host's window as a display back-end sees it: a client rectangle and, for a presentation,
// the window's pixels. The viewer's host implements it (the headless host over its own buffer,
// the Qt widget over its backing image); a back-end only borrows the pixels between
// GetWindowSurface and ReleaseWindowSurface, on the thread that presents.
#pragma once

#include <cstdint>

#include "raster/GdiTypes.h"

namespace display {

// 32-bit pixels in the order blue, green, red, unused; rows top-down, stride bytes apart.
struct SWindowSurface {
    uint8_t* pPixels = nullptr;
    int32_t nWidth = 0;
    int32_t nHeight = 0;
    int32_t nStride = 0;
};

struct DisplayWindow {
    // The window's pixels for one presentation; false when the window has none now.
    virtual bool GetWindowSurface(SWindowSurface* surface) = 0;
    // The pixels changed; the host shows them.
    virtual void ReleaseWindowSurface(const SWindowSurface& surface) = 0;
    // The client rectangle, {0, 0, 0, 0} without a window.
    virtual void GetClientRect(raster::RECT* rect) = 0;

protected:
    virtual ~DisplayWindow() = default;
};

} // namespace display
