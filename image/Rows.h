// Pixel rows: one row of width pixels from one layout into another.
//
// Each conversion has a plain reference row (the _C functions below, a loop anyone can check
// against the colour rules) and optimised rows for SSE2 and AVX2 that must give the same bytes.
// A row reads exactly the source bytes of its width and writes exactly the target bytes of its
// width: nothing before, nothing after, so rows may end at the last byte of a mapping. Pointers
// need no alignment. Rows keep no state and are safe on any thread.
//
// Byte orders are the camera's: RGB24 is blue, green, red; RGB32 is blue, green, red and a fourth
// byte (written 0); RGB16 is a little-endian word with bit 15 zero, red in bits 14-10, green 9-5,
// blue 4-0; YUV16 is pairs of pixels as Y0, U, Y1, V.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pximage {

// The YUV tables: the products 1.402 (V - 128) for red, 0.34414 (U - 128) and 0.71414 (V - 128)
// taken from green, 1.772 (U - 128) for blue, each truncated toward zero, indexed by the byte.
struct YuvTables {
    int16_t redV[256], greenU[256], greenV[256], blueU[256];
};
const YuvTables& GetYuvTables();

using RowFn = void (*)(const uint8_t* src, uint8_t* dst, uint32_t width);
// Rows through a 256-entry colour table (8-bit index to a target pixel).
using TableRowFn32 = void (*)(const uint8_t* src, uint8_t* dst, uint32_t width, const uint32_t* table);
using TableRowFn16 = void (*)(const uint8_t* src, uint8_t* dst, uint32_t width, const uint16_t* table);

// ---- Reference rows -----------------------------------------------------------------------------

// YUV16 into RGB: red = Y + redV[V], green = Y - greenU[U] - greenV[V], blue = Y + blueU[U], each
// clamped to 0..255, the pair's U and V serving both pixels. An odd last pixel has its Y and U but
// no V byte in the row and is converted with V = 128.
void Yuv16ToRgb24Row_C(const uint8_t* src, uint8_t* dst, uint32_t width);
void Yuv16ToRgb32Row_C(const uint8_t* src, uint8_t* dst, uint32_t width);
void Yuv16ToRgb16Row_C(const uint8_t* src, uint8_t* dst, uint32_t width);

// Grey bytes (the grey table: blue = green = red = the byte) into RGB32, RGB24 and RGB16.
void Grey8ToRgb32Row_C(const uint8_t* src, uint8_t* dst, uint32_t width);
void Grey8ToRgb24Row_C(const uint8_t* src, uint8_t* dst, uint32_t width);
void Grey8ToRgb16Row_C(const uint8_t* src, uint8_t* dst, uint32_t width);
// Index bytes through a colour table: entries of blue, green, red, 0 (as a little-endian word)
// for RGB32 and RGB24, RGB16 words for RGB16.
void Index8ToRgb32Row_C(const uint8_t* src, uint8_t* dst, uint32_t width, const uint32_t* table);
void Index8ToRgb24Row_C(const uint8_t* src, uint8_t* dst, uint32_t width, const uint32_t* table);
void Index8ToRgb16Row_C(const uint8_t* src, uint8_t* dst, uint32_t width, const uint16_t* table);
// Between the colour layouts: RGB24 gains a fourth byte 0, RGB32 loses its fourth byte, and RGB16
// keeps the top 5 bits of each component.
void Rgb24ToRgb32Row_C(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb32ToRgb24Row_C(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb32ToRgb16Row_C(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb24ToRgb16Row_C(const uint8_t* src, uint8_t* dst, uint32_t width);

// RGB16 (5 bits a component) widened to RGB24 by repeating each component's top bits (31 gives
// 255), for files that take 8 bits a component.
void Rgb16ToRgb24Row_C(const uint8_t* src, uint8_t* dst, uint32_t width);
// Blue, green, red (or blue, green, red, x) to red, green, blue, for files that take that order.
void Rgb24ToRgbOrderRow_C(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb32ToRgbOrderRow_C(const uint8_t* src, uint8_t* dst, uint32_t width);

// ---- Row sets -----------------------------------------------------------------------------------

enum class SimdLevel : uint32_t { C, Sse2, Avx2 };

// The rows of one instruction-set level; a level without its own row for a conversion carries the
// row of the level below.
struct RowSet {
    SimdLevel level;
    const char* name;
    RowFn yuv16ToRgb24;
    RowFn yuv16ToRgb32;
    RowFn yuv16ToRgb16;
    RowFn grey8ToRgb32;
    RowFn grey8ToRgb24;
    RowFn grey8ToRgb16;
    RowFn rgb24ToRgb32;
    RowFn rgb32ToRgb24;
    RowFn rgb32ToRgb16;
    RowFn rgb24ToRgb16;
};

// The best level this processor runs, found once.
SimdLevel DetectedSimdLevel();
// The rows of a level; a level above the detected one gives the detected level's rows.
const RowSet& RowsAt(SimdLevel level);
// The rows of the detected level.
inline const RowSet& Rows() { return RowsAt(DetectedSimdLevel()); }

} // namespace pximage
