#include "raster/Bitmap.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace raster {

namespace {

uint32_t QuadToRgb(const RGBQUAD& q)
{
    return (static_cast<uint32_t>(q.rgbRed) << 16) | (static_cast<uint32_t>(q.rgbGreen) << 8) | q.rgbBlue;
}

// 5 bits to 8 by repeating the top bits, so that full scale stays full scale.
uint32_t Expand5(uint32_t v) { return (v << 3) | (v >> 2); }

bool SupportedBitCount(uint16_t bitCount)
{
    return bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

} // namespace

CBitmap* CBitmap::Allocate(int32_t width, int32_t height, uint16_t bitCount, bool bottomUp)
{
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || !SupportedBitCount(bitCount))
        return nullptr;
    const int64_t stride = DibStride(width, bitCount);
    if (stride * height > kMaxBytes)
        return nullptr;
    CBitmap* bitmap = new (std::nothrow) CBitmap;
    if (!bitmap)
        return nullptr;
    bitmap->m_pBits = static_cast<uint8_t*>(calloc(static_cast<size_t>(height), static_cast<size_t>(stride)));
    if (!bitmap->m_pBits) {
        delete bitmap;
        return nullptr;
    }
    bitmap->m_bOwnsBits = true;
    bitmap->m_nWidth = width;
    bitmap->m_nHeight = height;
    bitmap->m_wBitCount = bitCount;
    bitmap->m_nStride = static_cast<int32_t>(stride);
    bitmap->m_bBottomUp = bottomUp;
    return bitmap;
}

CBitmap* CBitmap::CreateCompatible(int32_t width, int32_t height)
{
    return Allocate(width, height, 32, false);
}

bool CBitmap::ReadHeader(const BITMAPINFO* info, int32_t* width, int32_t* height, bool* bottomUp,
                         uint32_t* paletteSize)
{
    if (!info)
        return false;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1 || h.biCompression != BI_RGB ||
        !SupportedBitCount(h.biBitCount) || h.biWidth < 1 || h.biHeight == 0 || h.biHeight == INT32_MIN)
        return false;
    *width = h.biWidth;
    *bottomUp = h.biHeight > 0;
    *height = h.biHeight > 0 ? h.biHeight : -h.biHeight;
    *paletteSize = 0;
    if (h.biBitCount == 8)
        *paletteSize = (h.biClrUsed == 0 || h.biClrUsed > 256) ? 256 : h.biClrUsed;
    return true;
}

CBitmap* CBitmap::CreateDib(const BITMAPINFO* info)
{
    int32_t width, height;
    bool bottomUp;
    uint32_t paletteSize;
    if (!ReadHeader(info, &width, &height, &bottomUp, &paletteSize))
        return nullptr;
    CBitmap* bitmap = Allocate(width, height, info->bmiHeader.biBitCount, bottomUp);
    if (bitmap)
        bitmap->SetPalette(info->bmiColors, paletteSize);
    return bitmap;
}

CBitmap* CBitmap::CreateView(void* bits, int32_t width, int32_t height, int32_t stride, uint16_t bitCount,
                             bool bottomUp, const RGBQUAD* palette, uint32_t paletteSize)
{
    // Rows and pixels are read as whole words: the memory must be aligned as a DIB's is.
    if (!bits || reinterpret_cast<uintptr_t>(bits) % 4 != 0 || stride % 4 != 0 || width < 1 || height < 1 ||
        width > kMaxSide || height > kMaxSide || !SupportedBitCount(bitCount) ||
        stride < (static_cast<int64_t>(width) * bitCount + 7) / 8)
        return nullptr;
    CBitmap* bitmap = new (std::nothrow) CBitmap;
    if (!bitmap)
        return nullptr;
    bitmap->m_pBits = static_cast<uint8_t*>(bits);
    bitmap->m_nWidth = width;
    bitmap->m_nHeight = height;
    bitmap->m_wBitCount = bitCount;
    bitmap->m_nStride = stride;
    bitmap->m_bBottomUp = bottomUp;
    bitmap->SetPalette(palette, palette ? paletteSize : 0);
    return bitmap;
}

CBitmap* CBitmap::CreateDibView(const BITMAPINFO* info, const void* bits, int32_t rows)
{
    int32_t width, height;
    bool bottomUp;
    uint32_t paletteSize;
    if (!ReadHeader(info, &width, &height, &bottomUp, &paletteSize) || rows < 1 || rows > height)
        return nullptr;
    height = rows;
    const int64_t stride = DibStride(width, info->bmiHeader.biBitCount);
    if (stride * height > kMaxBytes)
        return nullptr;
    // Read only: the view is a source and nothing writes through it.
    return CreateView(const_cast<void*>(bits), width, height, static_cast<int32_t>(stride),
                      info->bmiHeader.biBitCount, bottomUp, info->bmiColors, paletteSize);
}

CBitmap* CBitmap::Duplicate() const
{
    CBitmap* copy = Allocate(m_nWidth, m_nHeight, m_wBitCount, m_bBottomUp);
    if (!copy)
        return nullptr;
    const size_t rowBytes = static_cast<size_t>(m_nWidth) * BytesPerPixel();
    for (int32_t y = 0; y < m_nHeight; ++y)
        memcpy(copy->Row(y), Row(y), rowBytes);
    copy->m_dwPaletteSize = m_dwPaletteSize;
    memcpy(copy->m_aPalette, m_aPalette, sizeof m_aPalette);
    return copy;
}

CBitmap::~CBitmap()
{
    if (m_bOwnsBits)
        free(m_pBits);
}

void CBitmap::SetPalette(const RGBQUAD* palette, uint32_t size)
{
    m_dwPaletteSize = size > 256 ? 256 : size;
    for (uint32_t i = 0; i < m_dwPaletteSize; ++i)
        m_aPalette[i] = QuadToRgb(palette[i]);
}

bool CBitmap::SameFormat(const CBitmap& other) const
{
    if (m_wBitCount != other.m_wBitCount)
        return false;
    if (m_wBitCount != 8)
        return true;
    return m_dwPaletteSize == other.m_dwPaletteSize &&
           memcmp(m_aPalette, other.m_aPalette, m_dwPaletteSize * sizeof(uint32_t)) == 0;
}

uint8_t CBitmap::NearestIndex(uint32_t rgb) const
{
    const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    uint32_t best = 0;
    int bestDistance = INT32_MAX;
    for (uint32_t i = 0; i < m_dwPaletteSize && bestDistance != 0; ++i) {
        const uint32_t p = m_aPalette[i];
        const int dr = static_cast<int>((p >> 16) & 0xFF) - r;
        const int dg = static_cast<int>((p >> 8) & 0xFF) - g;
        const int db = static_cast<int>(p & 0xFF) - b;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return static_cast<uint8_t>(best);
}

void CBitmap::ToRgb(const uint8_t* p, int32_t count, uint32_t* out) const
{
    switch (m_wBitCount) {
    case 32:
        for (int32_t i = 0; i < count; ++i) {
            uint32_t v;
            memcpy(&v, p + 4 * i, 4);
            out[i] = v & 0x00FFFFFF;
        }
        break;
    case 24:
        for (int32_t i = 0; i < count; ++i, p += 3)
            out[i] = p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
        break;
    case 16:
        for (int32_t i = 0; i < count; ++i, p += 2) {
            const uint32_t w = p[0] | (static_cast<uint32_t>(p[1]) << 8);
            out[i] = (Expand5((w >> 10) & 31) << 16) | (Expand5((w >> 5) & 31) << 8) | Expand5(w & 31);
        }
        break;
    default:
        for (int32_t i = 0; i < count; ++i)
            out[i] = p[i] < m_dwPaletteSize ? m_aPalette[p[i]] : 0;
        break;
    }
}

void CBitmap::FromRgb(const uint32_t* in, int32_t count, uint8_t* p) const
{
    switch (m_wBitCount) {
    case 32:
        for (int32_t i = 0; i < count; ++i) {
            const uint32_t v = in[i] & 0x00FFFFFF;
            memcpy(p + 4 * i, &v, 4);
        }
        break;
    case 24:
        for (int32_t i = 0; i < count; ++i, p += 3) {
            p[0] = static_cast<uint8_t>(in[i]);
            p[1] = static_cast<uint8_t>(in[i] >> 8);
            p[2] = static_cast<uint8_t>(in[i] >> 16);
        }
        break;
    case 16:
        for (int32_t i = 0; i < count; ++i, p += 2) {
            const uint32_t v = in[i];
            const uint32_t w = ((v >> 9) & 0x7C00) | ((v >> 6) & 0x03E0) | ((v >> 3) & 0x001F);
            p[0] = static_cast<uint8_t>(w);
            p[1] = static_cast<uint8_t>(w >> 8);
        }
        break;
    default: {
        // Drawn pixels come in runs of few colours: remember the last match.
        uint32_t last = 0xFFFFFFFF;
        uint8_t lastIndex = 0;
        for (int32_t i = 0; i < count; ++i) {
            const uint32_t v = in[i] & 0x00FFFFFF;
            if (v != last) {
                last = v;
                lastIndex = NearestIndex(v);
            }
            p[i] = lastIndex;
        }
        break;
    }
    }
}

void CBitmap::FillRgb(uint32_t rgb, int32_t count, uint8_t* p) const
{
    if (count <= 0)
        return;
    FromRgb(&rgb, 1, p);
    const int bytes = BytesPerPixel();
    if (bytes == 1) {
        memset(p + 1, p[0], static_cast<size_t>(count - 1));
        return;
    }
    if (bytes == 4) {
        uint32_t v;
        memcpy(&v, p, 4);
        uint32_t* words = reinterpret_cast<uint32_t*>(p);
        for (int32_t i = 1; i < count; ++i)
            words[i] = v;
        return;
    }
    // Doubling copies: the filled part is the pattern for the rest.
    size_t done = static_cast<size_t>(bytes);
    const size_t total = static_cast<size_t>(count) * static_cast<size_t>(bytes);
    while (done < total) {
        const size_t n = done < total - done ? done : total - done;
        memcpy(p + done, p, n);
        done += n;
    }
}

} // namespace raster
