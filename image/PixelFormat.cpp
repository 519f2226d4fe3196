#include "image/PixelFormat.h"

namespace pximage {

uint32_t BytesPerPixel(uint32_t format)
{
    switch (format) {
    case PX_FORMAT_MONO8:
    case PX_FORMAT_SYSCOLOR8: return 1;
    case PX_FORMAT_RGB24: return 3;
    case PX_FORMAT_RGB32: return 4;
    case PX_FORMAT_YUV16:
    case PX_FORMAT_RGB16: return 2;
    default: return 0;
    }
}

const char* FormatName(uint32_t format)
{
    switch (format) {
    case PX_FORMAT_MONO8: return "mono8";
    case PX_FORMAT_SYSCOLOR8: return "syscolor8";
    case PX_FORMAT_RGB24: return "RGB24";
    case PX_FORMAT_RGB32: return "RGB32";
    case PX_FORMAT_YUV16: return "YUV16";
    case PX_FORMAT_RGB16: return "RGB16";
    default: return nullptr;
    }
}

} // namespace pximage
