// Reference rows: plain loops over the tables, the measure every optimised row is held to.
#include "image/Rows.h"

#include "image/RowsInternal.h"

namespace pximage {

namespace {

constexpr YuvTables MakeYuvTables()
{
    // Integer division truncates toward zero, as the tables' products are, and the constants are
    // exact decimal fractions.
    YuvTables t{};
    for (int c = 0; c < 256; ++c) {
        t.redV[c] = static_cast<int16_t>((c - 128) * 1402 / 1000);
        t.greenU[c] = static_cast<int16_t>((c - 128) * 34414 / 100000);
        t.greenV[c] = static_cast<int16_t>((c - 128) * 71414 / 100000);
        t.blueU[c] = static_cast<int16_t>((c - 128) * 1772 / 1000);
    }
    return t;
}

constexpr YuvTables kYuvTables = MakeYuvTables();

inline uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Blue, green, red of one pixel.
struct Bgr {
    uint8_t b, g, r;
};

inline Bgr YuvPixel(int y, int u, int v)
{
    const YuvTables& t = kYuvTables;
    return Bgr{Clamp255(y + t.blueU[u]), Clamp255(y - t.greenU[u] - t.greenV[v]), Clamp255(y + t.redV[v])};
}

inline uint16_t Pack555(uint8_t b, uint8_t g, uint8_t r)
{
    return static_cast<uint16_t>(((r & 0xF8) << 7) | ((g & 0xF8) << 2) | (b >> 3));
}

// Calls put(pixel index, colour) for every pixel of a YUV16 row.
template <typename Put>
inline void ForEachYuvPixel(const uint8_t* src, uint32_t width, Put put)
{
    uint32_t x = 0;
    for (; x + 1 < width; x += 2, src += 4) {
        put(x, YuvPixel(src[0], src[1], src[3]));
        put(x + 1, YuvPixel(src[2], src[1], src[3]));
    }
    if (x < width)
        put(x, YuvPixel(src[0], src[1], 128));
}

inline uint8_t Widen5(uint32_t v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }

} // namespace

const YuvTables& GetYuvTables() { return kYuvTables; }

void Yuv16ToRgb24Row_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    ForEachYuvPixel(src, width, [dst](uint32_t x, Bgr p) {
        uint8_t* d = dst + size_t{x} * 3;
        d[0] = p.b, d[1] = p.g, d[2] = p.r;
    });
}

void Yuv16ToRgb32Row_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    ForEachYuvPixel(src, width, [dst](uint32_t x, Bgr p) {
        uint8_t* d = dst + size_t{x} * 4;
        d[0] = p.b, d[1] = p.g, d[2] = p.r, d[3] = 0;
    });
}

void Yuv16ToRgb16Row_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    ForEachYuvPixel(src, width, [dst](uint32_t x, Bgr p) {
        const uint16_t w = Pack555(p.b, p.g, p.r);
        dst[size_t{x} * 2] = static_cast<uint8_t>(w);
        dst[size_t{x} * 2 + 1] = static_cast<uint8_t>(w >> 8);
    });
}

void Grey8ToRgb32Row_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x, dst += 4)
        dst[0] = dst[1] = dst[2] = src[x], dst[3] = 0;
}

void Grey8ToRgb24Row_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x, dst += 3)
        dst[0] = dst[1] = dst[2] = src[x];
}

void Grey8ToRgb16Row_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x, dst += 2) {
        const uint16_t w = Pack555(src[x], src[x], src[x]);
        dst[0] = static_cast<uint8_t>(w), dst[1] = static_cast<uint8_t>(w >> 8);
    }
}

void Index8ToRgb32Row_C(const uint8_t* src, uint8_t* dst, uint32_t width, const uint32_t* table)
{
    for (uint32_t x = 0; x < width; ++x, dst += 4) {
        const uint32_t c = table[src[x]];
        dst[0] = static_cast<uint8_t>(c), dst[1] = static_cast<uint8_t>(c >> 8);
        dst[2] = static_cast<uint8_t>(c >> 16), dst[3] = static_cast<uint8_t>(c >> 24);
    }
}

void Index8ToRgb24Row_C(const uint8_t* src, uint8_t* dst, uint32_t width, const uint32_t* table)
{
    for (uint32_t x = 0; x < width; ++x, dst += 3) {
        const uint32_t c = table[src[x]];
        dst[0] = static_cast<uint8_t>(c), dst[1] = static_cast<uint8_t>(c >> 8), dst[2] = static_cast<uint8_t>(c >> 16);
    }
}

void Index8ToRgb16Row_C(const uint8_t* src, uint8_t* dst, uint32_t width, const uint16_t* table)
{
    for (uint32_t x = 0; x < width; ++x, dst += 2) {
        const uint16_t w = table[src[x]];
        dst[0] = static_cast<uint8_t>(w), dst[1] = static_cast<uint8_t>(w >> 8);
    }
}

void Rgb24ToRgb32Row_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x, src += 3, dst += 4)
        dst[0] = src[0], dst[1] = src[1], dst[2] = src[2], dst[3] = 0;
}

void Rgb32ToRgb24Row_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3)
        dst[0] = src[0], dst[1] = src[1], dst[2] = src[2];
}

void Rgb32ToRgb16Row_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x, src += 4, dst += 2) {
        const uint16_t w = Pack555(src[0], src[1], src[2]);
        dst[0] = static_cast<uint8_t>(w), dst[1] = static_cast<uint8_t>(w >> 8);
    }
}

void Rgb24ToRgb16Row_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x, src += 3, dst += 2) {
        const uint16_t w = Pack555(src[0], src[1], src[2]);
        dst[0] = static_cast<uint8_t>(w), dst[1] = static_cast<uint8_t>(w >> 8);
    }
}

void Rgb16ToRgb24Row_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x, src += 2, dst += 3) {
        const uint32_t w = uint32_t{src[0]} | (uint32_t{src[1]} << 8);
        dst[0] = Widen5(w & 0x1F);
        dst[1] = Widen5((w >> 5) & 0x1F);
        dst[2] = Widen5((w >> 10) & 0x1F);
    }
}

void Rgb24ToRgbOrderRow_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x, src += 3, dst += 3)
        dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
}

void Rgb32ToRgbOrderRow_C(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3)
        dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
}

} // namespace pximage
