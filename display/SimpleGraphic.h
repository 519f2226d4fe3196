// The overlay graphics a host lays over the live image: rectangles, ellipses, lines, pixels and
// texts, given in full-image coordinates and drawn through raster DCs onto a back-end's overlay
// surface, scaled to the window.
//
// Each graphic keeps the full image size of its creation (m_refWidth, m_refHeight), so that in
// mode 0 a later change of the full size rescales it. Drawing leaves the DC as it found it:
// every object selected is put back, every setting restored, everything created deleted.
#pragma once

#include <cstdint>
#include <memory>

#include "raster/Gdi.h"

namespace display {

using raster::COLORREF;
using raster::HDC;

// An overlay colour that means "none".
constexpr COLORREF kNoColor = 0xFFFFFFFF;

// Maps a full-image coordinate to the window in single precision. Mode 0: the buffer holds the
// whole image scaled (the value is divided by ref / src); mode 1: the buffer holds a window of
// the image at offset; any other mode: the value as it is. The result is the value times
// dst / src, truncated; a source of 0 gives the value unchanged. A reference of 0 in mode 0
// divides by zero: the result saturates at the int32 range (0 for 0 / 0).
int32_t ScaleCoordinate(int32_t value, int32_t offset, int32_t dst, int32_t src, int32_t ref, uint32_t mode);

class CSimpleGraphic {
public:
    virtual void Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
                      int32_t srcHeight, uint32_t mode, HDC hdc) = 0;
    virtual ~CSimpleGraphic() = default;
    CSimpleGraphic(const CSimpleGraphic&) = delete;
    CSimpleGraphic& operator=(const CSimpleGraphic&) = delete;

    uint16_t m_id;      // compared as a signed 16-bit number; 65535 asks the list for a new one
    int32_t m_x1, m_y1; // start of a line, one corner, or the pixel
    int32_t m_x2, m_y2;
    uint16_t m_refWidth, m_refHeight; // read as signed
    uint32_t m_attribute;             // kept for the host; no effect on drawing

protected:
    CSimpleGraphic(uint16_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t refWidth,
                   uint16_t refHeight, uint32_t attribute)
        : m_id(id), m_x1(x1), m_y1(y1), m_x2(x2), m_y2(y2), m_refWidth(refWidth), m_refHeight(refHeight),
          m_attribute(attribute)
    {
    }

    // The mapping of one argument set: corners by axis, widths and sizes through the means of the
    // two axes.
    struct SMapping {
        int32_t offsetX, offsetY, dstWidth, dstHeight, srcWidth, srcHeight;
        uint32_t mode;
        int16_t refWidth, refHeight;

        int32_t X(int32_t x) const { return ScaleCoordinate(x, offsetX, dstWidth, srcWidth, refWidth, mode); }
        int32_t Y(int32_t y) const { return ScaleCoordinate(y, offsetY, dstHeight, srcHeight, refHeight, mode); }
        int32_t Size(uint16_t value) const;
    };
    SMapping Mapping(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
                     int32_t srcHeight, uint32_t mode) const;
};

// Drawn with Rectangle or Ellipse: the fill with a solid brush (the hollow brush for none), the
// border with a pen of the border colour and the scaled width; without a border the pen takes the
// fill colour, one pixel wide. Nothing at all without border and fill.
class CSGBox : public CSimpleGraphic {
public:
    COLORREF m_crFill;
    COLORREF m_crBorder;
    uint16_t m_usBorderWidth;

    CSGBox(uint16_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t refWidth, uint16_t refHeight,
           uint32_t attribute, COLORREF fill, COLORREF border, uint16_t borderWidth)
        : CSimpleGraphic(id, x1, y1, x2, y2, refWidth, refHeight, attribute), m_crFill(fill), m_crBorder(border),
          m_usBorderWidth(borderWidth)
    {
    }

protected:
    void DrawBox(const SMapping& map, HDC hdc, int (*shape)(HDC, int32_t, int32_t, int32_t, int32_t)) const;
};

class CSGRectangle : public CSGBox {
public:
    using CSGBox::CSGBox;
    void Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
              int32_t srcHeight, uint32_t mode, HDC hdc) override;
};

class CSGEllipse : public CSGBox {
public:
    using CSGBox::CSGBox;
    void Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
              int32_t srcHeight, uint32_t mode, HDC hdc) override;
};

// MoveToEx to the first corner, LineTo the second, with a pen of the colour and scaled width;
// nothing for width 0 or no colour.
class CSGLine : public CSimpleGraphic {
public:
    CSGLine(uint16_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t refWidth, uint16_t refHeight,
            uint32_t attribute, COLORREF color, uint16_t width)
        : CSimpleGraphic(id, x1, y1, x2, y2, refWidth, refHeight, attribute), m_crColor(color), m_usWidth(width)
    {
    }
    void Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
              int32_t srcHeight, uint32_t mode, HDC hdc) override;

    COLORREF m_crColor;
    uint16_t m_usWidth;
};

// SetPixel at the first corner; nothing for no colour.
class CSGPixel : public CSimpleGraphic {
public:
    CSGPixel(uint16_t id, int32_t x, int32_t y, uint16_t refWidth, uint16_t refHeight, uint32_t attribute,
             COLORREF color)
        : CSimpleGraphic(id, x, y, x, y, refWidth, refHeight, attribute), m_crColor(color)
    {
    }
    void Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
              int32_t srcHeight, uint32_t mode, HDC hdc) override;

    COLORREF m_crColor;
};

// One line of text whose box starts at the first corner (the second is not used), measured with
// DT_CALCRECT and drawn with DT_SINGLELINE. The font size is in points on the DC's vertical
// resolution; a face name of 32 characters or more does not fit a font description and gives
// the default face.
class CSGString : public CSimpleGraphic {
public:
    static constexpr size_t kMaxText = 2000; // bytes kept of the font name and of the text, with the NUL

    // Null when memory is short. Texts longer than kMaxText - 1 bytes are cut.
    static CSGString* Create(uint16_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t refWidth,
                             uint16_t refHeight, uint32_t attribute, COLORREF background, COLORREF text,
                             uint16_t size, uint16_t weight, uint32_t underline, uint32_t italic, uint32_t strikeOut,
                             const char* fontName, const char* textString);
    void Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
              int32_t srcHeight, uint32_t mode, HDC hdc) override;

    COLORREF m_crBackground;
    COLORREF m_crText;
    uint16_t m_usSize;   // points
    uint16_t m_usWeight; // hundreds
    uint32_t m_bUnderline, m_bItalic, m_bStrikeOut;
    std::unique_ptr<char[]> m_szFontName;
    std::unique_ptr<char[]> m_szText;

private:
    CSGString(uint16_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t refWidth, uint16_t refHeight,
              uint32_t attribute)
        : CSimpleGraphic(id, x1, y1, x2, y2, refWidth, refHeight, attribute)
    {
    }
};

} // namespace display
