#include "display/SimpleGraphic.h"

#include <cmath>
#include <cstring>
#include <new>

namespace display {

using namespace raster;

namespace {

// Float to int32 by truncation, saturating where a division by zero ran off the range.
int32_t Truncate(float value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483648.0f)
        return INT32_MAX;
    if (value <= -2147483648.0f)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// Saves what a graphic changes in a DC and puts it back when the graphic is done.
class CDcState {
public:
    explicit CDcState(HDC hdc) : m_hdc(hdc) {}
    ~CDcState()
    {
        for (int i = m_nSaved - 1; i >= 0; --i)
            SelectObject(m_hdc, m_aSaved[i]);
        for (int i = 0; i < m_nCreated; ++i)
            DeleteObject(m_aCreated[i]);
        if (m_bText) {
            SetTextColor(m_hdc, m_crText);
            SetBkMode(m_hdc, m_nBkMode);
            SetBkColor(m_hdc, m_crBk);
        }
    }
    // Selects object (owned by this state when created is set); false when it could not be made.
    bool Use(HGDIOBJ object, bool created)
    {
        if (!object)
            return false;
        if (created)
            m_aCreated[m_nCreated++] = object;
        HGDIOBJ previous = SelectObject(m_hdc, object);
        if (!previous)
            return false;
        m_aSaved[m_nSaved++] = previous;
        return true;
    }
    void SaveText()
    {
        m_bText = true;
        m_crText = GetTextColor(m_hdc);
        m_nBkMode = GetBkMode(m_hdc);
        m_crBk = GetBkColor(m_hdc);
    }

private:
    HDC m_hdc;
    HGDIOBJ m_aSaved[2] = {};
    HGDIOBJ m_aCreated[2] = {};
    int m_nSaved = 0;
    int m_nCreated = 0;
    bool m_bText = false;
    COLORREF m_crText = 0, m_crBk = 0;
    int m_nBkMode = 0;
};

char* CopyText(const char* text)
{
    const char* source = text ? text : "";
    const size_t length = strnlen(source, CSGString::kMaxText - 1);
    char* copy = new (std::nothrow) char[length + 1];
    if (copy) {
        memcpy(copy, source, length);
        copy[length] = '\0';
    }
    return copy;
}

} // namespace

int32_t ScaleCoordinate(int32_t value, int32_t offset, int32_t dst, int32_t src, int32_t ref, uint32_t mode)
{
    float v = static_cast<float>(value);
    if (src == 0)
        return value;
    if (mode == 0)
        v = v / (static_cast<float>(ref) / static_cast<float>(src));
    else if (mode == 1)
        v = v - static_cast<float>(offset);
    return Truncate(static_cast<float>(dst) / static_cast<float>(src) * v);
}

int32_t CSimpleGraphic::SMapping::Size(uint16_t value) const
{
    const int32_t dst = static_cast<int32_t>((static_cast<int64_t>(dstWidth) + dstHeight) / 2);
    const int32_t src = static_cast<int32_t>((static_cast<int64_t>(srcWidth) + srcHeight) / 2);
    const int32_t ref = (refWidth + refHeight) / 2;
    return ScaleCoordinate(static_cast<int16_t>(value), 0, dst, src, ref, mode);
}

CSimpleGraphic::SMapping CSimpleGraphic::Mapping(int32_t offsetX, int32_t offsetY, int32_t dstWidth,
                                                 int32_t dstHeight, int32_t srcWidth, int32_t srcHeight,
                                                 uint32_t mode) const
{
    return SMapping{offsetX, offsetY, dstWidth, dstHeight, srcWidth, srcHeight, mode,
                    static_cast<int16_t>(m_refWidth), static_cast<int16_t>(m_refHeight)};
}

void CSGBox::DrawBox(const SMapping& map, HDC hdc, int (*shape)(HDC, int32_t, int32_t, int32_t, int32_t)) const
{
    const bool border = m_usBorderWidth != 0 && m_crBorder != kNoColor;
    if (!border && m_crFill == kNoColor)
        return;
    CDcState state(hdc);
    const bool brushMade = m_crFill != kNoColor;
    if (!state.Use(brushMade ? CreateSolidBrush(m_crFill) : GetStockObject(HOLLOW_BRUSH), brushMade))
        return;
    HPEN pen = border ? CreatePen(PS_SOLID, map.Size(m_usBorderWidth), m_crBorder) : CreatePen(PS_SOLID, 1, m_crFill);
    if (!state.Use(pen, true))
        return;
    shape(hdc, map.X(m_x1), map.Y(m_y1), map.X(m_x2), map.Y(m_y2));
}

void CSGRectangle::Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
                        int32_t srcHeight, uint32_t mode, HDC hdc)
{
    DrawBox(Mapping(offsetX, offsetY, dstWidth, dstHeight, srcWidth, srcHeight, mode), hdc, &raster::Rectangle);
}

void CSGEllipse::Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
                      int32_t srcHeight, uint32_t mode, HDC hdc)
{
    DrawBox(Mapping(offsetX, offsetY, dstWidth, dstHeight, srcWidth, srcHeight, mode), hdc, &raster::Ellipse);
}

void CSGLine::Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
                   int32_t srcHeight, uint32_t mode, HDC hdc)
{
    if (m_usWidth == 0 || m_crColor == kNoColor)
        return;
    const SMapping map = Mapping(offsetX, offsetY, dstWidth, dstHeight, srcWidth, srcHeight, mode);
    CDcState state(hdc);
    if (!state.Use(CreatePen(PS_SOLID, map.Size(m_usWidth), m_crColor), true))
        return;
    POINT previous;
    MoveToEx(hdc, map.X(m_x1), map.Y(m_y1), &previous);
    LineTo(hdc, map.X(m_x2), map.Y(m_y2));
    MoveToEx(hdc, previous.x, previous.y, nullptr);
}

void CSGPixel::Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
                    int32_t srcHeight, uint32_t mode, HDC hdc)
{
    if (m_crColor == kNoColor)
        return;
    const SMapping map = Mapping(offsetX, offsetY, dstWidth, dstHeight, srcWidth, srcHeight, mode);
    SetPixel(hdc, map.X(m_x1), map.Y(m_y1), m_crColor);
}

CSGString* CSGString::Create(uint16_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t refWidth,
                             uint16_t refHeight, uint32_t attribute, COLORREF background, COLORREF text,
                             uint16_t size, uint16_t weight, uint32_t underline, uint32_t italic,
                             uint32_t strikeOut, const char* fontName, const char* textString)
{
    CSGString* graphic = new (std::nothrow) CSGString(id, x1, y1, x2, y2, refWidth, refHeight, attribute);
    if (!graphic)
        return nullptr;
    graphic->m_crBackground = background;
    graphic->m_crText = text;
    graphic->m_usSize = size;
    graphic->m_usWeight = weight;
    graphic->m_bUnderline = underline;
    graphic->m_bItalic = italic;
    graphic->m_bStrikeOut = strikeOut;
    graphic->m_szFontName.reset(CopyText(fontName));
    graphic->m_szText.reset(CopyText(textString));
    if (!graphic->m_szFontName || !graphic->m_szText) {
        delete graphic;
        return nullptr;
    }
    return graphic;
}

void CSGString::Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
                     int32_t srcHeight, uint32_t mode, HDC hdc)
{
    if (m_usSize == 0 || (m_crText == kNoColor && m_crBackground == kNoColor))
        return;
    const SMapping map = Mapping(offsetX, offsetY, dstWidth, dstHeight, srcWidth, srcHeight, mode);
    CDcState state(hdc);
    state.SaveText();
    SetTextColor(hdc, m_crText);
    SetBkMode(hdc, m_crBackground == kNoColor ? TRANSPARENT : OPAQUE);
    SetBkColor(hdc, m_crBackground);

    LOGFONTA lf{};
    const int64_t height = static_cast<int64_t>(GetDeviceCaps(hdc, LOGPIXELSY)) * map.Size(m_usSize) / -72;
    lf.lfHeight = height < 0 ? static_cast<int32_t>(height < INT32_MIN ? INT32_MIN : height) : 1;
    lf.lfWeight = static_cast<int16_t>(m_usWeight) * 100;
    lf.lfItalic = m_bItalic != 0;
    lf.lfUnderline = m_bUnderline != 0;
    lf.lfStrikeOut = m_bStrikeOut != 0;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = NONANTIALIASED_QUALITY;
    if (strlen(m_szFontName.get()) < LF_FACESIZE)
        strcpy(lf.lfFaceName, m_szFontName.get());
    if (!state.Use(CreateFontIndirectA(&lf), true))
        return;
    RECT box{map.X(m_x1), map.Y(m_y1), 0, 0};
    DrawTextA(hdc, m_szText.get(), -1, &box, DT_CALCRECT | DT_SINGLELINE);
    DrawTextA(hdc, m_szText.get(), -1, &box, DT_SINGLELINE);
}

} // namespace display
