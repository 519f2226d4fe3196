#include "raster/Gdi.h"

#include <cstring>
#include <new>

namespace raster {

namespace {

template <typename T>
T* Stock(T* object)
{
    if (object)
        object->MakeStock();
    return object;
}

// The default font of a new DC: the sans-serif face in a 16-pixel cell.
CFont* CreateSystemFont(int32_t height)
{
    LOGFONTA lf{};
    lf.lfHeight = height;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = NONANTIALIASED_QUALITY;
    return Stock(CFont::Create(lf));
}

} // namespace

CBitmap* StockBitmap()
{
    static CBitmap* const bitmap = Stock(CBitmap::CreateCompatible(1, 1));
    return bitmap;
}

HGDIOBJ GetStockObject(int index)
{
    // Made on first use, never deleted; C++ makes each initialisation happen once across threads.
    switch (index) {
    case WHITE_BRUSH: {
        static CBrush* const brush = Stock(new (std::nothrow) CBrush(0xFFFFFF));
        return brush;
    }
    case LTGRAY_BRUSH: {
        static CBrush* const brush = Stock(new (std::nothrow) CBrush(0xC0C0C0));
        return brush;
    }
    case GRAY_BRUSH: {
        static CBrush* const brush = Stock(new (std::nothrow) CBrush(0x808080));
        return brush;
    }
    case DKGRAY_BRUSH: {
        static CBrush* const brush = Stock(new (std::nothrow) CBrush(0x404040));
        return brush;
    }
    case BLACK_BRUSH: {
        static CBrush* const brush = Stock(new (std::nothrow) CBrush(0x000000));
        return brush;
    }
    case NULL_BRUSH: {
        static CBrush* const brush = Stock(new (std::nothrow) CBrush(0, true));
        return brush;
    }
    case WHITE_PEN: {
        static CPen* const pen = Stock(new (std::nothrow) CPen(PS_SOLID, 1, 0xFFFFFF));
        return pen;
    }
    case BLACK_PEN: {
        static CPen* const pen = Stock(new (std::nothrow) CPen(PS_SOLID, 1, 0x000000));
        return pen;
    }
    case NULL_PEN: {
        static CPen* const pen = Stock(new (std::nothrow) CPen(PS_NULL, 1, 0));
        return pen;
    }
    case SYSTEM_FONT: {
        static CFont* const font = CreateSystemFont(16);
        return font;
    }
    case DEFAULT_GUI_FONT: {
        static CFont* const font = CreateSystemFont(-11);
        return font;
    }
    default:
        return nullptr;
    }
}

HDC CreateCompatibleDC(HDC)
{
    return CDeviceContext::CreateMemory();
}

HDC CreateSurfaceDC(void* bits, int32_t width, int32_t height, int32_t stride)
{
    return CDeviceContext::CreateSurface(bits, width, height, stride);
}

int DeleteDC(HDC hdc)
{
    if (!hdc)
        return 0;
    delete hdc;
    return 1;
}

int GetDeviceCaps(HDC hdc, int index)
{
    if (!hdc)
        return 0;
    switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
        return 96;
    case BITSPIXEL:
        return 32;
    default:
        return 0;
    }
}

HBITMAP CreateCompatibleBitmap(HDC, int32_t width, int32_t height)
{
    if (width == 0 || height == 0)
        return CBitmap::CreateCompatible(1, 1);
    return CBitmap::CreateCompatible(width, height);
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, uint32_t usage, void** bits)
{
    if (bits)
        *bits = nullptr;
    if (usage != DIB_RGB_COLORS)
        return nullptr;
    CBitmap* bitmap = CBitmap::CreateDib(info);
    if (bitmap && bits)
        *bits = bitmap->Bits();
    return bitmap;
}

HPEN CreatePen(int style, int32_t width, COLORREF color)
{
    if (style != PS_SOLID && style != PS_NULL)
        return nullptr;
    return new (std::nothrow) CPen(style, width, color);
}

HBRUSH CreateSolidBrush(COLORREF color)
{
    return new (std::nothrow) CBrush(color);
}

HFONT CreateFontIndirectA(const LOGFONTA* description)
{
    return description ? CFont::Create(*description) : nullptr;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object)
{
    if (!hdc || !object)
        return nullptr;
    return hdc->Select(object);
}

int DeleteObject(HGDIOBJ object)
{
    if (!object)
        return 0;
    if (object->IsStock())
        return 1;
    if (object->IsSelected())
        return 0;
    delete object;
    return 1;
}

int GetObjectA(HGDIOBJ object, int size, void* out)
{
    if (!object || object->Kind() != GdiKind::Bitmap || !out || size < static_cast<int>(sizeof(BITMAP)))
        return 0;
    const CBitmap* bitmap = static_cast<const CBitmap*>(object);
    BITMAP description{};
    description.bmWidth = bitmap->Width();
    description.bmHeight = bitmap->Height();
    description.bmWidthBytes = bitmap->Stride();
    description.bmPlanes = 1;
    description.bmBitsPixel = bitmap->BitCount();
    description.bmBits = bitmap->Bits();
    memcpy(out, &description, sizeof description);
    return sizeof description;
}

COLORREF SetTextColor(HDC hdc, COLORREF color)
{
    if (!hdc)
        return CLR_INVALID;
    const COLORREF previous = hdc->m_crText;
    hdc->m_crText = color;
    return previous;
}

COLORREF GetTextColor(HDC hdc) { return hdc ? hdc->m_crText : CLR_INVALID; }

COLORREF SetBkColor(HDC hdc, COLORREF color)
{
    if (!hdc)
        return CLR_INVALID;
    const COLORREF previous = hdc->m_crBackground;
    hdc->m_crBackground = color;
    return previous;
}

COLORREF GetBkColor(HDC hdc) { return hdc ? hdc->m_crBackground : CLR_INVALID; }

int SetBkMode(HDC hdc, int mode)
{
    if (!hdc || (mode != TRANSPARENT && mode != OPAQUE))
        return 0;
    const int previous = hdc->m_nBackgroundMode;
    hdc->m_nBackgroundMode = mode;
    return previous;
}

int GetBkMode(HDC hdc) { return hdc ? hdc->m_nBackgroundMode : 0; }

int SetStretchBltMode(HDC hdc, int mode)
{
    if (!hdc || mode < BLACKONWHITE || mode > HALFTONE)
        return 0;
    const int previous = hdc->m_nStretchMode;
    hdc->m_nStretchMode = mode;
    return previous;
}

int GetStretchBltMode(HDC hdc) { return hdc ? hdc->m_nStretchMode : 0; }

} // namespace raster
