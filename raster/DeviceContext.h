// A device context: the bitmap drawn into and the drawing state of GDI (pen, brush, font, text
// and background colours, background mode, stretch mode, current position).
//
// Two kinds: a memory DC, which holds the stock 1 x 1 bitmap until the caller selects one of its
// own, and a surface DC over 32-bit memory that a host or a display back-end owns (its window or
// surface), whose bitmap is fixed. A DC is used by one thread at a time; the caller's locks see
// to that, as they would for a GDI DC.
#pragma once

#include <cstdint>

#include "raster/GdiObject.h"
#include "raster/GdiTypes.h"

namespace raster {

class CDeviceContext {
public:
    enum class Kind { Memory, Surface };

    // Null when memory is short.
    static CDeviceContext* CreateMemory();
    static CDeviceContext* CreateSurface(void* bits, int32_t width, int32_t height, int32_t stride);
    // Gives back every selection; a surface DC also drops its view of the host's memory.
    ~CDeviceContext();
    CDeviceContext(const CDeviceContext&) = delete;
    CDeviceContext& operator=(const CDeviceContext&) = delete;

    Kind GetKind() const { return m_kind; }
    CBitmap* Bitmap() const { return m_pBitmap; }
    CPen* Pen() const { return m_pPen; }
    CBrush* Brush() const { return m_pBrush; }
    CFont* Font() const { return m_pFont; }

    // Puts object in the slot of its kind and returns what was there, or null when the object
    // cannot go into this DC (a bitmap into a surface DC, or one selected into another DC).
    CGdiObject* Select(CGdiObject* object);

    COLORREF m_crText = 0x000000;
    COLORREF m_crBackground = 0xFFFFFF;
    int m_nBackgroundMode = OPAQUE;
    int m_nStretchMode = BLACKONWHITE;
    POINT m_ptCurrent = {0, 0};

private:
    explicit CDeviceContext(Kind kind);

    Kind m_kind;
    CBitmap* m_pBitmap = nullptr;
    CPen* m_pPen = nullptr;
    CBrush* m_pBrush = nullptr;
    CFont* m_pFont = nullptr;
};

} // namespace raster
