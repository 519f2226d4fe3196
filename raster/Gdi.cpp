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
    // Made together on first use and never deleted; C++ makes that happen once across threads.
    struct SStock {
        HGDIOBJ table[DEFAULT_GUI_FONT + 1] = {};
        SStock()
        {
            table[WHITE_BRUSH] = Stock(new (std::nothrow) CBrush(0xFFFFFF));
            table[LTGRAY_BRUSH] = Stock(new (std::nothrow) CBrush(0xC0C0C0));
            table[GRAY_BRUSH] = Stock(new (std::nothrow) CBrush(0x808080));
            table[DKGRAY_BRUSH] = Stock(new (std::nothrow) CBrush(0x404040));
            table[BLACK_BRUSH] = Stock(new (std::nothrow) CBrush(0x000000));
            table[NULL_BRUSH] = Stock(new (std::nothrow) CBrush(0, true));
            table[WHITE_PEN] = Stock(new (std::nothrow) CPen(PS_SOLID, 1, 0xFFFFFF));
            table[BLACK_PEN] = Stock(new (std::nothrow) CPen(PS_SOLID, 1, 0x000000));
            table[NULL_PEN] = Stock(new (std::nothrow) CPen(PS_NULL, 1, 0));
            table[SYSTEM_FONT] = CreateSystemFont(16);
            table[DEFAULT_GUI_FONT] = CreateSystemFont(-11);
        }
    };
    static const SStock stock;
    return index >= 0 && index <= DEFAULT_GUI_FONT ? stock.table[index] : nullptr;
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

namespace {

// Puts value into a setting of the DC and answers what was there, or failure without a DC.
template <typename T>
T Exchange(HDC hdc, T CDeviceContext::*setting, T value, T failure)
{
    if (!hdc)
        return failure;
    const T previous = hdc->*setting;
    hdc->*setting = value;
    return previous;
}

} // namespace

COLORREF SetTextColor(HDC hdc, COLORREF color) { return Exchange(hdc, &CDeviceContext::m_crText, color, CLR_INVALID); }
COLORREF GetTextColor(HDC hdc) { return hdc ? hdc->m_crText : CLR_INVALID; }

COLORREF SetBkColor(HDC hdc, COLORREF color)
{
    return Exchange(hdc, &CDeviceContext::m_crBackground, color, CLR_INVALID);
}
COLORREF GetBkColor(HDC hdc) { return hdc ? hdc->m_crBackground : CLR_INVALID; }

int SetBkMode(HDC hdc, int mode)
{
    if (mode != TRANSPARENT && mode != OPAQUE)
        return 0;
    return Exchange(hdc, &CDeviceContext::m_nBackgroundMode, mode, 0);
}
int GetBkMode(HDC hdc) { return hdc ? hdc->m_nBackgroundMode : 0; }

int SetStretchBltMode(HDC hdc, int mode)
{
    if (mode < BLACKONWHITE || mode > HALFTONE)
        return 0;
    return Exchange(hdc, &CDeviceContext::m_nStretchMode, mode, 0);
}
int GetStretchBltMode(HDC hdc) { return hdc ? hdc->m_nStretchMode : 0; }

} // namespace raster
