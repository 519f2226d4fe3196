// The plain data of the raster layer: colours, rectangles, the bitmap and font descriptions and
// the constants of its operations, with the names and values the drawing code of the viewer was
// written against. Fixed-width fields throughout, so that a header built in memory has the exact
// byte layout a bitmap file or a host expects.
#pragma once

#include <cstdint>

namespace raster {

// 0x00BBGGRR. The top byte carries no colour: the layer draws with the low 24 bits only.
using COLORREF = uint32_t;

constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr uint8_t GetRValue(COLORREF c) { return static_cast<uint8_t>(c); }
constexpr uint8_t GetGValue(COLORREF c) { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t GetBValue(COLORREF c) { return static_cast<uint8_t>(c >> 16); }

// What GetPixel and SetPixel answer for a point outside the bitmap or a DC without one.
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// Right and bottom edges are exclusive.
struct RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

struct POINT {
    int32_t x;
    int32_t y;
};

// Describes the pixels of a device-independent bitmap: a negative height means top-down rows,
// a positive one bottom-up rows; rows are padded to 4 bytes.
struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "the header is 40 bytes on every platform");

struct RGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

// The header followed by its colour table (256 entries for 8 bits per pixel, read only then).
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

// What GetObjectA tells about a bitmap; bmBits is the top of the pixel memory as allocated (the
// last row of the picture for a bottom-up DIB section).
struct BITMAP {
    int32_t bmType;
    int32_t bmWidth;
    int32_t bmHeight;
    int32_t bmWidthBytes;
    uint16_t bmPlanes;
    uint16_t bmBitsPixel;
    void* bmBits;
};

constexpr int LF_FACESIZE = 32;

struct LOGFONTA {
    int32_t lfHeight; // negative: character height in pixels; positive: cell height; 0: default
    int32_t lfWidth;
    int32_t lfEscapement;
    int32_t lfOrientation;
    int32_t lfWeight; // 100 to 900, 0 for the default (400)
    uint8_t lfItalic;
    uint8_t lfUnderline;
    uint8_t lfStrikeOut;
    uint8_t lfCharSet;
    uint8_t lfOutPrecision;
    uint8_t lfClipPrecision;
    uint8_t lfQuality;
    uint8_t lfPitchAndFamily;
    char lfFaceName[LF_FACESIZE];
};

enum : uint32_t { BI_RGB = 0 };
enum : uint32_t { DIB_RGB_COLORS = 0 };

// Raster operation of BitBlt and StretchBlt: only the plain copy is offered.
enum : uint32_t { SRCCOPY = 0x00CC0020 };

// Stretch modes. Every mode samples the nearest source pixel; COLORONCOLOR is the one the viewer
// sets, the others are kept only so that a DC reports back what it was given.
enum : int { BLACKONWHITE = 1, WHITEONBLACK = 2, COLORONCOLOR = 3, HALFTONE = 4 };

// Background modes.
enum : int { TRANSPARENT = 1, OPAQUE = 2 };

// Pen styles.
enum : int { PS_SOLID = 0, PS_NULL = 5 };

// Stock objects.
enum : int {
    WHITE_BRUSH = 0,
    LTGRAY_BRUSH = 1,
    GRAY_BRUSH = 2,
    DKGRAY_BRUSH = 3,
    BLACK_BRUSH = 4,
    NULL_BRUSH = 5,
    HOLLOW_BRUSH = NULL_BRUSH,
    WHITE_PEN = 6,
    BLACK_PEN = 7,
    NULL_PEN = 8,
    SYSTEM_FONT = 13,
    DEFAULT_GUI_FONT = 17,
};

// DrawTextA formats.
enum : uint32_t {
    DT_TOP = 0x0000,
    DT_LEFT = 0x0000,
    DT_CENTER = 0x0001,
    DT_RIGHT = 0x0002,
    DT_VCENTER = 0x0004,
    DT_BOTTOM = 0x0008,
    DT_SINGLELINE = 0x0020,
    DT_NOCLIP = 0x0100,
    DT_CALCRECT = 0x0400,
    DT_NOPREFIX = 0x0800,
};

// GetDeviceCaps indices.
enum : int { BITSPIXEL = 12, LOGPIXELSX = 88, LOGPIXELSY = 90 };

// Font description values.
enum : int32_t {
    FW_DONTCARE = 0,
    FW_THIN = 100,
    FW_NORMAL = 400,
    FW_BOLD = 700,
    FW_HEAVY = 900,
};
enum : uint8_t { DEFAULT_CHARSET = 1 };
enum : uint8_t { DEFAULT_QUALITY = 0, NONANTIALIASED_QUALITY = 3 };

} // namespace raster
