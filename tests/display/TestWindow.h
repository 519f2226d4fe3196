// A host window for back-end tests: BGRX pixels in memory (rows padded, so that a stride other
// than four times the width is exercised), a client rectangle at (0, 0), and counts of the
// surface's hand-outs that tests compare.
#pragma once

#include <atomic>
#include <cstring>
#include <vector>

#include "display/DisplayWindow.h"

namespace displaytest {

class CTestWindow final : public display::DisplayWindow {
public:
    CTestWindow(int32_t width, int32_t height) { Resize(width, height); }

    void Resize(int32_t width, int32_t height)
    {
        m_nWidth = width;
        m_nHeight = height;
        m_nStride = width * 4 + 16;
        m_pixels.assign(static_cast<size_t>(m_nStride) * height, 0xEE);
    }

    bool AcquirePixels(display::WindowPixels* surface) override
    {
        ++m_nGets;
        surface->pixels = m_pixels.data();
        surface->width = m_nWidth;
        surface->height = m_nHeight;
        surface->stride = m_nStride;
        return true;
    }
    void ReleasePixels(const display::WindowPixels&) override { ++m_nReleases; }
    void GetClientRect(raster::RECT* rect) override { *rect = {0, 0, m_nWidth, m_nHeight}; }

    // The pixel as a COLORREF (0x00BBGGRR); the unused fourth byte is left out.
    raster::COLORREF Pixel(int32_t x, int32_t y) const
    {
        const uint8_t* p = m_pixels.data() + static_cast<size_t>(y) * m_nStride + static_cast<size_t>(x) * 4;
        return raster::RGB(p[2], p[1], p[0]);
    }
    // Whether the padding behind each row is as it was made.
    bool PaddingIntact() const
    {
        for (int32_t y = 0; y < m_nHeight; ++y) {
            for (int32_t i = m_nWidth * 4; i < m_nStride; ++i) {
                if (m_pixels[static_cast<size_t>(y) * m_nStride + i] != 0xEE)
                    return false;
            }
        }
        return true;
    }
    int Gets() const { return m_nGets; }
    int Releases() const { return m_nReleases; }

private:
    int32_t m_nWidth = 0, m_nHeight = 0, m_nStride = 0;
    std::vector<uint8_t> m_pixels;
    std::atomic<int> m_nGets{0}, m_nReleases{0};
};

} // namespace displaytest
