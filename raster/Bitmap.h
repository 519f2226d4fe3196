// Pixel memory of the raster layer: compatible bitmaps (32 bits, top-down), DIB sections of 8
// (with a colour table), 16 (5-5-5), 24 and 32 bits in either row order, and views over memory a
// host owns (its window surface, a back-end's surface, the bits handed to SetDIBits).
//
// Everything above this file addresses pixels by picture row, 0 at the top; Row() hides whether
// the memory runs top-down or bottom-up. Conversions go through 0x00RRGGBB words, the layout of a
// 32-bit pixel in memory (blue, green, red, a fourth byte written as 0).
#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/GdiObject.h"
#include "raster/GdiTypes.h"

namespace raster {

class CBitmap : public CGdiObject {
public:
    static constexpr int32_t kMaxSide = 32767;     // either side, in pixels
    static constexpr int64_t kMaxBytes = 1LL << 30; // one bitmap's pixel memory

    // A zero-filled top-down 32-bit bitmap; null when the size is out of range or memory is short.
    static CBitmap* CreateCompatible(int32_t width, int32_t height);
    // A zero-filled bitmap laid out as the header says; null for a header this layer cannot hold
    // (other bit counts, compression, planes other than 1, sizes out of range).
    static CBitmap* CreateDib(const BITMAPINFO* info);
    // A bitmap over memory the caller keeps alive and frees; stride in bytes, at least one row.
    static CBitmap* CreateView(void* bits, int32_t width, int32_t height, int32_t stride, uint16_t bitCount,
                               bool bottomUp, const RGBQUAD* palette, uint32_t paletteSize);
    // A read-only view of the first rows stored rows of a DIB described by a header and its
    // colour table, as SetDIBits receives them.
    static CBitmap* CreateDibView(const BITMAPINFO* info, const void* bits, int32_t rows);
    // An owned copy of the pixels and colour table; null when memory is short.
    CBitmap* Duplicate() const;
    ~CBitmap() override;

    int32_t Width() const { return m_nWidth; }
    int32_t Height() const { return m_nHeight; }
    uint16_t BitCount() const { return m_wBitCount; }
    int32_t Stride() const { return m_nStride; }
    bool IsBottomUp() const { return m_bBottomUp; }
    uint8_t* Bits() const { return m_pBits; }
    int BytesPerPixel() const { return m_wBitCount / 8; }

    uint8_t* Row(int32_t y) const
    {
        return m_pBits + static_cast<ptrdiff_t>(m_bBottomUp ? m_nHeight - 1 - y : y) * m_nStride;
    }
    uint8_t* Pixel(int32_t x, int32_t y) const { return Row(y) + static_cast<ptrdiff_t>(x) * BytesPerPixel(); }
    bool Contains(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < m_nWidth && y < m_nHeight; }

    // True when a raw copy of pixel memory between the two keeps every colour.
    bool SameFormat(const CBitmap& other) const;

    // count pixels at p (this bitmap's format) to 0x00RRGGBB words.
    void ToRgb(const uint8_t* p, int32_t count, uint32_t* out) const;
    // count words (their top byte ignored) into this bitmap's format at p; an 8-bit bitmap takes
    // the nearest colour of its table.
    void FromRgb(const uint32_t* in, int32_t count, uint8_t* p) const;
    // Fills count pixels at p with one colour.
    void FillRgb(uint32_t rgb, int32_t count, uint8_t* p) const;

    // For DC bookkeeping: a bitmap is selected into one DC at most.
    CDeviceContext* SelectedInto() const { return m_pSelectedInto; }
    void SetSelectedInto(CDeviceContext* dc) { m_pSelectedInto = dc; }

private:
    CBitmap() : CGdiObject(GdiKind::Bitmap) {}
    static CBitmap* Allocate(int32_t width, int32_t height, uint16_t bitCount, bool bottomUp);
    static bool ReadHeader(const BITMAPINFO* info, int32_t* width, int32_t* height, bool* bottomUp,
                           uint32_t* paletteSize);
    void SetPalette(const RGBQUAD* palette, uint32_t size);
    uint8_t NearestIndex(uint32_t rgb) const;

    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    uint16_t m_wBitCount = 32;
    int32_t m_nStride = 0;
    bool m_bBottomUp = false;
    bool m_bOwnsBits = false;
    uint8_t* m_pBits = nullptr;
    uint32_t m_aPalette[256] = {}; // 0x00RRGGBB; indices past the table read black
    uint32_t m_dwPaletteSize = 0;
    CDeviceContext* m_pSelectedInto = nullptr;
};

// Bytes of one row of a DIB: the bits rounded up to a multiple of 32.
inline int64_t DibStride(int64_t width, int bitCount) { return ((width * bitCount + 31) / 32) * 4; }

} // namespace raster
