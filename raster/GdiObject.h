// The objects a device context draws with: the common base that counts selections, pens and
// brushes, and the stock objects shared by the whole process.
#pragma once

#include <atomic>
#include <cstdint>

#include "raster/GdiTypes.h"

namespace raster {

enum class GdiKind { Bitmap, Pen, Brush, Font };

// Owned by whoever created it until DeleteObject; a selected object cannot be deleted. Stock
// objects live as long as the process, are never deleted and are never counted, so that any
// thread may select them at any time.
class CGdiObject {
public:
    virtual ~CGdiObject() = default;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    GdiKind Kind() const { return m_kind; }
    bool IsStock() const { return m_bStock; }
    bool IsSelected() const { return m_nSelections.load(std::memory_order_acquire) > 0; }

    void AddSelection()
    {
        if (!m_bStock)
            m_nSelections.fetch_add(1, std::memory_order_acq_rel);
    }
    void RemoveSelection()
    {
        if (!m_bStock)
            m_nSelections.fetch_sub(1, std::memory_order_acq_rel);
    }
    void MakeStock() { m_bStock = true; }

protected:
    explicit CGdiObject(GdiKind kind) : m_kind(kind) {}

private:
    const GdiKind m_kind;
    bool m_bStock = false;
    std::atomic<int32_t> m_nSelections{0};
};

class CPen : public CGdiObject {
public:
    // Width 0 (and any width below 1) draws one pixel wide, as a cosmetic pen does.
    CPen(int style, int32_t width, COLORREF color)
        : CGdiObject(GdiKind::Pen), m_nStyle(style), m_nWidth(width < 1 ? 1 : width), m_crColor(color)
    {
    }
    bool IsNull() const { return m_nStyle == PS_NULL; }
    int32_t Width() const { return m_nWidth; }
    COLORREF Color() const { return m_crColor; }

private:
    int m_nStyle;
    int32_t m_nWidth;
    COLORREF m_crColor;
};

class CBrush : public CGdiObject {
public:
    explicit CBrush(COLORREF color, bool hollow = false)
        : CGdiObject(GdiKind::Brush), m_crColor(color), m_bHollow(hollow)
    {
    }
    bool IsHollow() const { return m_bHollow; }
    COLORREF Color() const { return m_crColor; }

private:
    COLORREF m_crColor;
    bool m_bHollow;
};

class CBitmap;
class CFont;
class CDeviceContext;

using HGDIOBJ = CGdiObject*;
using HPEN = CPen*;
using HBRUSH = CBrush*;
using HBITMAP = CBitmap*;
using HFONT = CFont*;
using HDC = CDeviceContext*;

// The 1 x 1 bitmap a new memory DC holds until another is selected.
CBitmap* StockBitmap();

} // namespace raster
