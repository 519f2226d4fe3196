// SSE2 rows: 16 pixels a step, the rest of a row through the reference row. Compiled for plain
// x86-64, so these run on every processor the component runs on.
#include <emmintrin.h>

#include "image/RowsInternal.h"

namespace pximage {

namespace {

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline void Store8(uint8_t* p, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v); }

// x where sign is 0, -x where sign is all ones.
inline __m128i ApplySign(__m128i x, __m128i sign) { return _mm_sub_epi16(_mm_xor_si128(x, sign), sign); }

// Blue, green and red of 8 pixels (16 bytes of Y0 U Y1 V) as unclamped 16-bit values.
inline void YuvChannels(__m128i s, __m128i* b, __m128i* g, __m128i* r)
{
    const __m128i low = _mm_set1_epi32(0xFFFF);
    const __m128i y = _mm_and_si128(s, _mm_set1_epi16(0x00FF));
    const __m128i d = _mm_sub_epi16(_mm_srli_epi16(s, 8), _mm_set1_epi16(128));
    const __m128i sign = _mm_srai_epi16(d, 15);
    const __m128i a = ApplySign(d, sign);
    const __m128i blueRed = ApplySign(
        _mm_add_epi16(_mm_mulhi_epu16(a, _mm_set1_epi32(static_cast<int>(kBlueRedFractions))), a), sign);
    const __m128i greens = ApplySign(_mm_mulhi_epu16(a, _mm_set1_epi32(static_cast<int>(kGreenFractions))), sign);
    // greenU + greenV of each pair, in the pair's low 16 bits.
    const __m128i green = _mm_madd_epi16(greens, _mm_set1_epi16(1));
    // Each pair's value for both of its pixels.
    *b = _mm_add_epi16(y, _mm_or_si128(_mm_and_si128(blueRed, low), _mm_slli_epi32(blueRed, 16)));
    *r = _mm_add_epi16(y, _mm_or_si128(_mm_srli_epi32(blueRed, 16), _mm_andnot_si128(low, blueRed)));
    *g = _mm_sub_epi16(y, _mm_or_si128(_mm_and_si128(green, low), _mm_slli_epi32(green, 16)));
}

// Blue, green and red bytes (clamped) of 16 pixels from 32 source bytes.
inline void YuvBytes(const uint8_t* src, __m128i* b, __m128i* g, __m128i* r)
{
    __m128i b0, g0, r0, b1, g1, r1;
    YuvChannels(Load(src), &b0, &g0, &r0);
    YuvChannels(Load(src + 16), &b1, &g1, &r1);
    *b = _mm_packus_epi16(b0, b1);
    *g = _mm_packus_epi16(g0, g1);
    *r = _mm_packus_epi16(r0, r1);
}

// 16 pixels as blue, green, red, 0 in four registers, in pixel order.
inline void Interleave32(__m128i b, __m128i g, __m128i r, __m128i q[4])
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i bgLow = _mm_unpacklo_epi8(b, g), bgHigh = _mm_unpackhi_epi8(b, g);
    const __m128i r0Low = _mm_unpacklo_epi8(r, zero), r0High = _mm_unpackhi_epi8(r, zero);
    q[0] = _mm_unpacklo_epi16(bgLow, r0Low);
    q[1] = _mm_unpackhi_epi16(bgLow, r0Low);
    q[2] = _mm_unpacklo_epi16(bgHigh, r0High);
    q[3] = _mm_unpackhi_epi16(bgHigh, r0High);
}

// Writes 4 pixels of blue, green, red, x as 12 bytes, and 2 bytes beyond them that the next
// store (or the row's end, at least one pixel away) covers: each 64-bit half drops its pixels'
// fourth bytes and is stored 8 bytes wide at a 6-byte step.
inline void Store4As24(uint8_t* dst, __m128i q)
{
    const __m128i packed = _mm_or_si128(_mm_and_si128(q, _mm_set1_epi64x(0x0000000000FFFFFF)),
                                        _mm_and_si128(_mm_srli_epi64(q, 8), _mm_set1_epi64x(0x0000FFFFFF000000)));
    Store8(dst, packed);
    Store8(dst + 6, _mm_unpackhi_epi64(packed, packed));
}

// 16 pixels as RGB16 words: the top 5 bits of each clamped component.
inline void Store16As555(uint8_t* dst, __m128i b, __m128i g, __m128i r)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i top5 = _mm_set1_epi16(0xF8);
    for (int half = 0; half < 2; ++half) {
        const __m128i b16 = half == 0 ? _mm_unpacklo_epi8(b, zero) : _mm_unpackhi_epi8(b, zero);
        const __m128i g16 = half == 0 ? _mm_unpacklo_epi8(g, zero) : _mm_unpackhi_epi8(g, zero);
        const __m128i r16 = half == 0 ? _mm_unpacklo_epi8(r, zero) : _mm_unpackhi_epi8(r, zero);
        const __m128i w = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(r16, top5), 7),
                                                    _mm_slli_epi16(_mm_and_si128(g16, top5), 2)),
                                       _mm_srli_epi16(b16, 3));
        Store(dst + half * 16, w);
    }
}

// 16 grey pixels as blue = green = red = the byte, 0, in pixel order.
inline void GreyToBgrx(__m128i g, __m128i q[4]) { Interleave32(g, g, g, q); }

// 4 pixels of RGB24 (the low 12 of 16 loaded bytes) as blue, green, red, 0.
inline __m128i Expand4(__m128i v)
{
    const __m128i p01 = _mm_unpacklo_epi32(v, _mm_srli_si128(v, 3));
    const __m128i p23 = _mm_unpacklo_epi32(_mm_srli_si128(v, 6), _mm_srli_si128(v, 9));
    return _mm_and_si128(_mm_unpacklo_epi64(p01, p23), _mm_set1_epi32(0x00FFFFFF));
}

// 4 pixels of blue, green, red, x as RGB16 values in 32-bit lanes.
inline __m128i Pack555x4(__m128i p)
{
    const __m128i r = _mm_and_si128(_mm_srli_epi32(p, 9), _mm_set1_epi32(0x7C00));
    const __m128i g = _mm_and_si128(_mm_srli_epi32(p, 6), _mm_set1_epi32(0x03E0));
    const __m128i b = _mm_and_si128(_mm_srli_epi32(p, 3), _mm_set1_epi32(0x001F));
    return _mm_or_si128(_mm_or_si128(r, g), b);
}

// A YUV row: kStep pixels a step while kSpare more pixels follow them, put storing each step's
// blue, green and red bytes; the rest through the reference row.
template <uint32_t kStep, uint32_t kSpare, uint32_t kTargetBytes, typename Put>
inline void YuvRow(const uint8_t* src, uint8_t* dst, uint32_t width, RowFn rest, Put put)
{
    uint32_t x = 0;
    for (; x + kStep + kSpare <= width; x += kStep) {
        __m128i b, g, r;
        YuvBytes(src + size_t{x} * 2, &b, &g, &r);
        put(dst + size_t{x} * kTargetBytes, b, g, r);
    }
    rest(src + size_t{x} * 2, dst + size_t{x} * kTargetBytes, width - x);
}

} // namespace

void Grey8ToRgb32Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i q[4];
        GreyToBgrx(Load(src + x), q);
        for (int i = 0; i < 4; ++i)
            Store(dst + size_t{x} * 4 + 16 * i, q[i]);
    }
    Grey8ToRgb32Row_C(src + x, dst + size_t{x} * 4, width - x);
}

void Grey8ToRgb24Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 17 <= width; x += 16) {
        __m128i q[4];
        GreyToBgrx(Load(src + x), q);
        for (int i = 0; i < 4; ++i)
            Store4As24(dst + size_t{x} * 3 + 12 * i, q[i]);
    }
    Grey8ToRgb24Row_C(src + x, dst + size_t{x} * 3, width - x);
}

void Grey8ToRgb16Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i spread = _mm_set1_epi16(0x0421); // one 5-bit value into all three fields
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i g = Load(src + x);
        Store(dst + size_t{x} * 2, _mm_mullo_epi16(_mm_srli_epi16(_mm_unpacklo_epi8(g, zero), 3), spread));
        Store(dst + size_t{x} * 2 + 16, _mm_mullo_epi16(_mm_srli_epi16(_mm_unpackhi_epi8(g, zero), 3), spread));
    }
    Grey8ToRgb16Row_C(src + x, dst + size_t{x} * 2, width - x);
}

void Rgb24ToRgb32Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    uint32_t x = 0;
    // Each load takes 16 bytes for 12: the last one must end inside the row.
    for (; x + 18 <= width; x += 16) {
        const uint8_t* s = src + size_t{x} * 3;
        for (int i = 0; i < 4; ++i)
            Store(dst + size_t{x} * 4 + 16 * i, Expand4(Load(s + 12 * i)));
    }
    Rgb24ToRgb32Row_C(src + size_t{x} * 3, dst + size_t{x} * 4, width - x);
}

void Rgb32ToRgb24Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 17 <= width; x += 16) {
        for (int i = 0; i < 4; ++i)
            Store4As24(dst + size_t{x} * 3 + 12 * i, Load(src + size_t{x} * 4 + 16 * i));
    }
    Rgb32ToRgb24Row_C(src + size_t{x} * 4, dst + size_t{x} * 3, width - x);
}

void Rgb32ToRgb16Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i a = Pack555x4(Load(src + size_t{x} * 4)), b = Pack555x4(Load(src + size_t{x} * 4 + 16));
        Store(dst + size_t{x} * 2, _mm_packs_epi32(a, b));
    }
    Rgb32ToRgb16Row_C(src + size_t{x} * 4, dst + size_t{x} * 2, width - x);
}

void Rgb24ToRgb16Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 10 <= width; x += 8) {
        const uint8_t* s = src + size_t{x} * 3;
        const __m128i a = Pack555x4(Expand4(Load(s))), b = Pack555x4(Expand4(Load(s + 12)));
        Store(dst + size_t{x} * 2, _mm_packs_epi32(a, b));
    }
    Rgb24ToRgb16Row_C(src + size_t{x} * 3, dst + size_t{x} * 2, width - x);
}

void Yuv16ToRgb24Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    // The last step's spare 2 bytes land on the next pixel, which must exist.
    YuvRow<16, 1, 3>(src, dst, width, Yuv16ToRgb24Row_C, [](uint8_t* d, __m128i b, __m128i g, __m128i r) {
        __m128i q[4];
        Interleave32(b, g, r, q);
        for (int i = 0; i < 4; ++i)
            Store4As24(d + 12 * i, q[i]);
    });
}

void Yuv16ToRgb32Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    YuvRow<16, 0, 4>(src, dst, width, Yuv16ToRgb32Row_C, [](uint8_t* d, __m128i b, __m128i g, __m128i r) {
        __m128i q[4];
        Interleave32(b, g, r, q);
        for (int i = 0; i < 4; ++i)
            Store(d + 16 * i, q[i]);
    });
}

void Yuv16ToRgb16Row_SSE2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    YuvRow<16, 0, 2>(src, dst, width, Yuv16ToRgb16Row_C, Store16As555);
}

} // namespace pximage
