#include "image/Planes.h"

namespace pximage {

void ConvertPlane(RowFn row, const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, uint32_t width,
                  uint32_t height)
{
    for (uint32_t y = 0; y < height; ++y, src += srcStride, dst += dstStride)
        row(src, dst, width);
}

void Yuv16ToRgb24(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, uint32_t width,
                  uint32_t height)
{
    ConvertPlane(Rows().yuv16ToRgb24, src, srcStride, dst, dstStride, width, height);
}

void Yuv16ToRgb32(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, uint32_t width,
                  uint32_t height)
{
    ConvertPlane(Rows().yuv16ToRgb32, src, srcStride, dst, dstStride, width, height);
}

void Rgb16ToRgb24(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, uint32_t width,
                  uint32_t height)
{
    ConvertPlane(Rgb16ToRgb24Row_C, src, srcStride, dst, dstStride, width, height);
}

} // namespace pximage
