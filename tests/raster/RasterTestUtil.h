// Memory DCs with a bitmap for the raster tests, and ways to look at what was drawn.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "raster/Gdi.h"

// Found by argument lookup for the assertions on rectangles.
namespace raster {
inline bool operator==(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline std::ostream& operator<<(std::ostream& os, const RECT& r)
{
    return os << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}
} // namespace raster

namespace rastertest {

using namespace raster;

// A memory DC holding a compatible bitmap of the given size, filled with one colour.
class Canvas {
public:
    Canvas(int32_t width, int32_t height, COLORREF background = 0xFFFFFF)
        : m_width(width), m_height(height), m_dc(CreateCompatibleDC(nullptr)),
          m_bitmap(CreateCompatibleBitmap(nullptr, width, height))
    {
        EXPECT_TRUE(m_dc && m_bitmap);
        m_old = SelectObject(m_dc, m_bitmap);
        Fill(background);
    }
    // A DIB section of any format instead of a compatible bitmap.
    Canvas(const BITMAPINFO* info, COLORREF background)
        : m_width(info->bmiHeader.biWidth),
          m_height(info->bmiHeader.biHeight < 0 ? -info->bmiHeader.biHeight : info->bmiHeader.biHeight),
          m_dc(CreateCompatibleDC(nullptr)), m_bitmap(CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &m_bits))
    {
        EXPECT_TRUE(m_dc && m_bitmap && m_bits);
        m_old = SelectObject(m_dc, m_bitmap);
        Fill(background);
    }
    ~Canvas()
    {
        SelectObject(m_dc, m_old);
        EXPECT_EQ(DeleteObject(m_bitmap), 1);
        DeleteDC(m_dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return m_dc; }
    HBITMAP Bitmap() const { return m_bitmap; }
    void* Bits() const { return m_bits; }
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }

    void Fill(COLORREF color) const
    {
        HBRUSH brush = CreateSolidBrush(color);
        const RECT all{0, 0, m_width, m_height};
        FillRect(m_dc, &all, brush);
        DeleteObject(brush);
    }
    COLORREF At(int32_t x, int32_t y) const { return GetPixel(m_dc, x, y); }

    // The pixels of colour inside r, as {left, top, right, bottom} of their bounding box; an
    // empty box (0, 0, 0, 0) when there are none.
    RECT BoxOf(COLORREF color) const
    {
        RECT box{m_width, m_height, 0, 0};
        for (int32_t y = 0; y < m_height; ++y)
            for (int32_t x = 0; x < m_width; ++x)
                if (At(x, y) == color) {
                    box.left = std::min(box.left, x);
                    box.top = std::min(box.top, y);
                    box.right = std::max(box.right, x + 1);
                    box.bottom = std::max(box.bottom, y + 1);
                }
        return box.right ? box : RECT{0, 0, 0, 0};
    }
    int Count(COLORREF color) const
    {
        int n = 0;
        for (int32_t y = 0; y < m_height; ++y)
            for (int32_t x = 0; x < m_width; ++x)
                n += At(x, y) == color;
        return n;
    }
    std::set<COLORREF> Colors() const
    {
        std::set<COLORREF> colors;
        for (int32_t y = 0; y < m_height; ++y)
            for (int32_t x = 0; x < m_width; ++x)
                colors.insert(At(x, y));
        return colors;
    }
    // One character a pixel ('#' for color, '.' for anything else), for failure messages.
    std::string Picture(COLORREF color) const
    {
        std::string s = "\n";
        for (int32_t y = 0; y < m_height; ++y) {
            for (int32_t x = 0; x < m_width; ++x)
                s += At(x, y) == color ? '#' : '.';
            s += '\n';
        }
        return s;
    }

private:
    int32_t m_width, m_height;
    HDC m_dc;
    void* m_bits = nullptr;
    HBITMAP m_bitmap;
    HGDIOBJ m_old = nullptr;
};

// A DIB header with room for a full colour table; 8-bit ones get the grey table.
struct DibInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];

    DibInfo(int32_t width, int32_t height, uint16_t bitCount) : header{}, colors{}
    {
        header.biSize = sizeof(BITMAPINFOHEADER);
        header.biWidth = width;
        header.biHeight = height;
        header.biPlanes = 1;
        header.biBitCount = bitCount;
        for (int i = 0; i < 256; ++i)
            colors[i] = RGBQUAD{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
    }
    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(this); }
};

} // namespace rastertest
