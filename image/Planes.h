// Whole images in the manner of the rows: (source, source stride, target, target stride, width,
// height), each row converted by the best row of this processor. Strides are in bytes and may
// hold padding; only width pixels of each row are read and written.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/Rows.h"

namespace pximage {

// Runs row over height rows.
void ConvertPlane(RowFn row, const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, uint32_t width,
                  uint32_t height);

void Yuv16ToRgb24(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, uint32_t width,
                  uint32_t height);
void Yuv16ToRgb32(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, uint32_t width,
                  uint32_t height);
void Rgb16ToRgb24(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, uint32_t width,
                  uint32_t height);

} // namespace pximage
