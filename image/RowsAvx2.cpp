// AVX2 rows: 32 pixels a step, the rest of a row through the reference row. This file alone is
// compiled for AVX2; its rows are called only when the processor has it.
#include <immintrin.h>

#include "image/RowsInternal.h"

namespace pximage {

namespace {

inline __m256i Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void Store(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

// Byte shuffles inside each 32-bit pair of 16-bit values: the low value twice, the high one twice.
inline __m256i DupLow()
{
    return _mm256_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13, //
                            0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13);
}
inline __m256i DupHigh()
{
    return _mm256_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15, //
                            2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15);
}

// Blue, green and red of 16 pixels (32 bytes of Y0 U Y1 V) as unclamped 16-bit values.
inline void YuvChannels(__m256i s, __m256i* b, __m256i* g, __m256i* r)
{
    const __m256i y = _mm256_and_si256(s, _mm256_set1_epi16(0x00FF));
    const __m256i d = _mm256_sub_epi16(_mm256_srli_epi16(s, 8), _mm256_set1_epi16(128));
    const __m256i a = _mm256_abs_epi16(d);
    const __m256i blueRed = _mm256_sign_epi16(
        _mm256_add_epi16(_mm256_mulhi_epu16(a, _mm256_set1_epi32(static_cast<int>(kBlueRedFractions))), a), d);
    const __m256i greens =
        _mm256_sign_epi16(_mm256_mulhi_epu16(a, _mm256_set1_epi32(static_cast<int>(kGreenFractions))), d);
    const __m256i green = _mm256_madd_epi16(greens, _mm256_set1_epi16(1));
    *b = _mm256_add_epi16(y, _mm256_shuffle_epi8(blueRed, DupLow()));
    *r = _mm256_add_epi16(y, _mm256_shuffle_epi8(blueRed, DupHigh()));
    *g = _mm256_sub_epi16(y, _mm256_shuffle_epi8(green, DupLow()));
}

// Blue, green and red bytes (clamped) of 32 pixels from 64 source bytes. The packing works per
// 128-bit lane: lane 0 holds pixels 0-7 and 16-23, lane 1 pixels 8-15 and 24-31.
inline void YuvBytes(const uint8_t* src, __m256i* b, __m256i* g, __m256i* r)
{
    __m256i b0, g0, r0, b1, g1, r1;
    YuvChannels(Load(src), &b0, &g0, &r0);
    YuvChannels(Load(src + 32), &b1, &g1, &r1);
    *b = _mm256_packus_epi16(b0, b1);
    *g = _mm256_packus_epi16(g0, g1);
    *r = _mm256_packus_epi16(r0, r1);
}

// 32 pixels as blue, green, red, 0 in four registers, in pixel order.
inline void Interleave32(__m256i b, __m256i g, __m256i r, __m256i q[4])
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bgLow = _mm256_unpacklo_epi8(b, g), bgHigh = _mm256_unpackhi_epi8(b, g);
    const __m256i r0Low = _mm256_unpacklo_epi8(r, zero), r0High = _mm256_unpackhi_epi8(r, zero);
    // Pixels {0-3 | 8-11}, {4-7 | 12-15}, {16-19 | 24-27}, {20-23 | 28-31}.
    const __m256i p0 = _mm256_unpacklo_epi16(bgLow, r0Low), p1 = _mm256_unpackhi_epi16(bgLow, r0Low);
    const __m256i p2 = _mm256_unpacklo_epi16(bgHigh, r0High), p3 = _mm256_unpackhi_epi16(bgHigh, r0High);
    q[0] = _mm256_permute2x128_si256(p0, p1, 0x20);
    q[1] = _mm256_permute2x128_si256(p0, p1, 0x31);
    q[2] = _mm256_permute2x128_si256(p2, p3, 0x20);
    q[3] = _mm256_permute2x128_si256(p2, p3, 0x31);
}

// Writes 8 pixels of blue, green, red, x as 24 bytes, and 8 bytes beyond them that the next store
// (or the row's end, at least 3 pixels away) covers.
inline void Store8As24(uint8_t* dst, __m256i q)
{
    const __m256i dropFourth = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, //
                                                0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i together = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    Store(dst, _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(q, dropFourth), together));
}

// 32 pixels as RGB16 words: the top 5 bits of each clamped component.
inline void Store32As555(uint8_t* dst, __m256i b, __m256i g, __m256i r)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i top5 = _mm256_set1_epi16(0xF8);
    // Per lane the low half is pixels 0-7 (or 8-15), the high half 16-23 (or 24-31).
    __m256i w[2];
    for (int half = 0; half < 2; ++half) {
        const __m256i b16 = half == 0 ? _mm256_unpacklo_epi8(b, zero) : _mm256_unpackhi_epi8(b, zero);
        const __m256i g16 = half == 0 ? _mm256_unpacklo_epi8(g, zero) : _mm256_unpackhi_epi8(g, zero);
        const __m256i r16 = half == 0 ? _mm256_unpacklo_epi8(r, zero) : _mm256_unpackhi_epi8(r, zero);
        w[half] = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(r16, top5), 7),
                                                  _mm256_slli_epi16(_mm256_and_si256(g16, top5), 2)),
                                  _mm256_srli_epi16(b16, 3));
    }
    // w[0] = {0-7 | 8-15}, w[1] = {16-23 | 24-31}.
    Store(dst, w[0]);
    Store(dst + 32, w[1]);
}

inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// 8 pixels of RGB24 (24 bytes, read as two 16-byte loads that end 4 bytes past them) as blue,
// green, red, 0.
inline __m256i Expand8(const uint8_t* src)
{
    const __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(Load16(src)), Load16(src + 12), 1);
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, //
                                            0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    return _mm256_shuffle_epi8(v, spread);
}

// 8 pixels of blue, green, red, x as RGB16 values in 32-bit lanes.
inline __m256i Pack555x8(__m256i p)
{
    const __m256i r = _mm256_and_si256(_mm256_srli_epi32(p, 9), _mm256_set1_epi32(0x7C00));
    const __m256i g = _mm256_and_si256(_mm256_srli_epi32(p, 6), _mm256_set1_epi32(0x03E0));
    const __m256i b = _mm256_and_si256(_mm256_srli_epi32(p, 3), _mm256_set1_epi32(0x001F));
    return _mm256_or_si256(_mm256_or_si256(r, g), b);
}

// 16 pixels of RGB16 from two registers of 8 values each.
inline void Store16As555(uint8_t* dst, __m256i a, __m256i b)
{
    // The pack works per lane: {a 0-3, b 0-3 | a 4-7, b 4-7}, put back in order.
    Store(dst, _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8));
}

// A YUV row: kStep pixels a step while kSpare more pixels follow them, put storing each step's
// blue, green and red bytes; the rest through the reference row.
template <uint32_t kStep, uint32_t kSpare, uint32_t kTargetBytes, typename Put>
inline void YuvRow(const uint8_t* src, uint8_t* dst, uint32_t width, RowFn rest, Put put)
{
    uint32_t x = 0;
    for (; x + kStep + kSpare <= width; x += kStep) {
        __m256i b, g, r;
        YuvBytes(src + size_t{x} * 2, &b, &g, &r);
        put(dst + size_t{x} * kTargetBytes, b, g, r);
    }
    rest(src + size_t{x} * 2, dst + size_t{x} * kTargetBytes, width - x);
}

} // namespace

void Grey8ToRgb32Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, -1, 1, 1, 1, -1, 2, 2, 2, -1, 3, 3, 3, -1, //
                                            4, 4, 4, -1, 5, 5, 5, -1, 6, 6, 6, -1, 7, 7, 7, -1);
    uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        int64_t eight;
        __builtin_memcpy(&eight, src + x, 8);
        Store(dst + size_t{x} * 4, _mm256_shuffle_epi8(_mm256_set1_epi64x(eight), spread));
    }
    Grey8ToRgb32Row_C(src + x, dst + size_t{x} * 4, width - x);
}

void Grey8ToRgb24Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    const __m128i first = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i second = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i third = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i g = Load16(src + x);
        uint8_t* d = dst + size_t{x} * 3;
        Store16(d, _mm_shuffle_epi8(g, first));
        Store16(d + 16, _mm_shuffle_epi8(g, second));
        Store16(d + 32, _mm_shuffle_epi8(g, third));
    }
    Grey8ToRgb24Row_C(src + x, dst + size_t{x} * 3, width - x);
}

void Grey8ToRgb16Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    const __m256i spread = _mm256_set1_epi16(0x0421); // one 5-bit value into all three fields
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m256i g = _mm256_cvtepu8_epi16(Load16(src + x));
        Store(dst + size_t{x} * 2, _mm256_mullo_epi16(_mm256_srli_epi16(g, 3), spread));
    }
    Grey8ToRgb16Row_C(src + x, dst + size_t{x} * 2, width - x);
}

void Rgb24ToRgb32Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 34 <= width; x += 32) {
        const uint8_t* s = src + size_t{x} * 3;
        uint8_t* d = dst + size_t{x} * 4;
        Store(d, Expand8(s));
        Store(d + 32, Expand8(s + 24));
        Store(d + 64, Expand8(s + 48));
        Store(d + 96, Expand8(s + 72));
    }
    for (; x + 10 <= width; x += 8)
        Store(dst + size_t{x} * 4, Expand8(src + size_t{x} * 3));
    Rgb24ToRgb32Row_C(src + size_t{x} * 3, dst + size_t{x} * 4, width - x);
}

void Rgb32ToRgb24Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 11 <= width; x += 8)
        Store8As24(dst + size_t{x} * 3, Load(src + size_t{x} * 4));
    Rgb32ToRgb24Row_C(src + size_t{x} * 4, dst + size_t{x} * 3, width - x);
}

void Rgb32ToRgb16Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t* s = src + size_t{x} * 4;
        Store16As555(dst + size_t{x} * 2, Pack555x8(Load(s)), Pack555x8(Load(s + 32)));
    }
    Rgb32ToRgb16Row_C(src + size_t{x} * 4, dst + size_t{x} * 2, width - x);
}

void Rgb24ToRgb16Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 18 <= width; x += 16) {
        const uint8_t* s = src + size_t{x} * 3;
        Store16As555(dst + size_t{x} * 2, Pack555x8(Expand8(s)), Pack555x8(Expand8(s + 24)));
    }
    Rgb24ToRgb16Row_C(src + size_t{x} * 3, dst + size_t{x} * 2, width - x);
}

void Yuv16ToRgb24Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    YuvRow<32, 3, 3>(src, dst, width, Yuv16ToRgb24Row_C, [](uint8_t* d, __m256i b, __m256i g, __m256i r) {
        __m256i q[4];
        Interleave32(b, g, r, q);
        for (int i = 0; i < 4; ++i)
            Store8As24(d + 24 * i, q[i]);
    });
}

void Yuv16ToRgb32Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    YuvRow<32, 0, 4>(src, dst, width, Yuv16ToRgb32Row_C, [](uint8_t* d, __m256i b, __m256i g, __m256i r) {
        __m256i q[4];
        Interleave32(b, g, r, q);
        for (int i = 0; i < 4; ++i)
            Store(d + 32 * i, q[i]);
    });
}

void Yuv16ToRgb16Row_AVX2(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    YuvRow<32, 0, 2>(src, dst, width, Yuv16ToRgb16Row_C, Store32As555);
}

} // namespace pximage
