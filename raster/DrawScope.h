// cairo over a region of a DC's bitmap, whatever the bitmap's format and row order.
//
// The region is read into a 32-bit cairo surface placed at its position in DC coordinates, cairo
// draws there without smoothing, and the destructor writes back only the pixels whose colour the
// drawing changed. So shapes and text follow the same pixel rules on every bitmap, an 8-bit
// bitmap gets the nearest colours of its table, and the pixels around a shape keep their bytes.
#pragma once

#include <cstdint>

#include "raster/GdiObject.h"
#include "raster/GdiTypes.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace raster {

class CDrawScope {
public:
    // bounds in DC coordinates; it is clipped to the bitmap.
    CDrawScope(HDC hdc, const RECT& bounds);
    ~CDrawScope();
    CDrawScope(const CDrawScope&) = delete;
    CDrawScope& operator=(const CDrawScope&) = delete;

    // Null when the region is empty or cairo could not be set up (see Failed).
    cairo_t* Cairo() const { return m_pCairo; }
    bool Failed() const { return m_bFailed; }
    // The outcome a drawing operation reports: 1 unless setting up failed.
    int Result() const { return m_bFailed ? 0 : 1; }

    // Sets the source colour from a COLORREF.
    void SetColor(COLORREF color) const;

private:
    CBitmap* m_pBitmap = nullptr;
    RECT m_rcRegion{};
    cairo_surface_t* m_pSurface = nullptr;
    cairo_t* m_pCairo = nullptr;
    uint32_t* m_pOriginal = nullptr;
    bool m_bFailed = false;
};

// COLORREF 0x00BBGGRR to the word 0x00RRGGBB of a 32-bit pixel.
inline uint32_t ColorToRgb(COLORREF c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }
inline COLORREF RgbToColor(uint32_t rgb) { return ColorToRgb(rgb); }

// The part of rect inside a bitmap of width x height; false when nothing is left.
bool ClipToBitmap(RECT* rect, int32_t width, int32_t height);

} // namespace raster
