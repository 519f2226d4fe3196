// The camera's pixel formats, by the PX_FORMAT_ codes of the public header: the one enumeration of
// pixel formats that the library, the simulator, the tools and the viewer share.
#pragma once

#include <cstdint>

#include "pellix/pellix.h"

namespace pximage {

// Bytes per pixel of a format, 0 for a code outside the table.
uint32_t BytesPerPixel(uint32_t format);
// "mono8", "syscolor8", "RGB24", "RGB32", "YUV16", "RGB16"; null for a code outside the table.
const char* FormatName(uint32_t format);
// Mono8 and the 8-bit index with system colours.
inline bool IsEightBit(uint32_t format) { return format == PX_FORMAT_MONO8 || format == PX_FORMAT_SYSCOLOR8; }

} // namespace pximage
