// The optimised rows behind RowsAt, and the fixed-point form of the YUV tables they share.
#pragma once

#include <cstdint>

#include "image/Rows.h"

namespace pximage {

// The tables as multiplications: for d = c - 128, each entry is sign(d) * (i * |d| + ((|d| * f) >> 16))
// with the integer part i and the 16-bit fraction f below. Truncation toward zero is odd, so the
// magnitude is computed on |d| (0..128) and the sign put back; for every |d| the product's
// fraction stays clear of the next integer by more than the error of f, which the tests prove
// over every byte value. In a vector of U, V pairs (U in the even 16-bit lanes) one constant
// serves blue and red, the other both greens.
constexpr uint16_t kBlueUFraction = 50593;  // 1.772 = 1 + 50593 / 65536 (within the error)
constexpr uint16_t kRedVFraction = 26345;   // 1.402 = 1 + 26345 / 65536
constexpr uint16_t kGreenUFraction = 22553; // 0.34414
constexpr uint16_t kGreenVFraction = 46801; // 0.71414
constexpr uint32_t kBlueRedFractions = (uint32_t{kRedVFraction} << 16) | kBlueUFraction;
constexpr uint32_t kGreenFractions = (uint32_t{kGreenVFraction} << 16) | kGreenUFraction;

void Yuv16ToRgb24Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Yuv16ToRgb32Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Yuv16ToRgb16Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width);

void Yuv16ToRgb24Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Yuv16ToRgb32Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Yuv16ToRgb16Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width);

void Grey8ToRgb32Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Grey8ToRgb24Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Grey8ToRgb16Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb24ToRgb32Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb32ToRgb24Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb32ToRgb16Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb24ToRgb16Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width);

void Grey8ToRgb32Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Grey8ToRgb24Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Grey8ToRgb16Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb24ToRgb32Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb32ToRgb24Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb32ToRgb16Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb24ToRgb16Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width);

} // namespace pximage
