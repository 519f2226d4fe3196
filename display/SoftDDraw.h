// The DirectDraw layer as a software compositor: off-screen surfaces are 32-bit raster bitmaps
// in memory, the primary surface is the host's window surface (borrowed for each access), the
// clipper is the window's rectangle, blits are copies with an optional source colour key and
// nearest-pixel scaling. What it reports: no hardware acceleration, rendering in a window, colour
// keyed blits, the machine's available memory as free video memory, every surface in "System"
// memory, and the window's client rectangle at (0, 0) as both of its rectangles. It is what
// makes overlays visible on any machine.
#pragma once

#include <memory>

#include "display/DDrawLayer.h"

namespace display {

std::unique_ptr<ddraw::IDriver> CreateSoftDDrawDriver();

} // namespace display
