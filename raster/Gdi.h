// The raster layer: the GDI operations the viewer control and the display back-ends draw with,
// over 32-bit pixel buffers, so that their drawing code reads as it would on Windows and runs the
// same in a window, in a headless host and in tests.
//
// Ownership. Every object made by a Create function belongs to its caller until DeleteObject or
// DeleteDC; DeleteObject refuses (returns 0) while the object is selected into a DC, and ignores
// stock objects, which live as long as the process. A surface DC draws into memory its host keeps
// (the window's BGRX pixels, a back-end's surface); deleting the DC leaves that memory alone.
//
// Threads. Nothing here starts a thread or keeps a lock while drawing. A DC and the bitmap
// selected into it are used by one thread at a time: the viewer's redraw, data and display locks
// see to that. Stock objects and fonts may be used from any thread at once.
//
// Pixels. Shapes, lines and text are rasterised by cairo (pixman below it) and text comes from
// FreeType faces chosen by fontconfig; nothing is smoothed, so every pixel has exactly the colour
// asked for, as GDI draws. GDI's own rules hold: a rectangle's right and bottom edges are
// exclusive; LineTo leaves out its last pixel; a pen of width 1 draws inside the shape's box and
// a wider pen is centred on the outline (the extra pixel of an even width falls outwards). Blits
// and stretches are our own loops: StretchBlt gives destination pixel (x, y) the source pixel
// (floor((x + 1/2) * srcW / dstW), floor((y + 1/2) * srcH / dstH)) counted from the rectangles'
// corners, mirrored on an axis where the two extents differ in sign. Colours are COLORREF values
// 0x00BBGGRR; a 32-bit pixel in memory is blue, green, red and a fourth byte written as 0.
//
// Functions answer 0 (or null, or CLR_INVALID) on failure, never throw, and check every handle
// for null.
#pragma once

#include <cstdint>

#include "raster/Bitmap.h"
#include "raster/DeviceContext.h"
#include "raster/Font.h"
#include "raster/GdiObject.h"
#include "raster/GdiTypes.h"

namespace raster {

// Device contexts.
HDC CreateCompatibleDC(HDC reference);
// A DC over 32-bit top-down memory of width x height pixels, rows stride bytes apart (a multiple
// of 4, at least 4 x width); the memory must outlive the DC.
HDC CreateSurfaceDC(void* bits, int32_t width, int32_t height, int32_t stride);
int DeleteDC(HDC hdc);
int GetDeviceCaps(HDC hdc, int index);

// Objects.
HBITMAP CreateCompatibleBitmap(HDC hdc, int32_t width, int32_t height);
// 8 (with the header's colour table), 16 (5-5-5), 24 or 32 bits, uncompressed; *bits receives
// the pixel memory (null on failure).
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, uint32_t usage, void** bits);
HPEN CreatePen(int style, int32_t width, COLORREF color);
HBRUSH CreateSolidBrush(COLORREF color);
HFONT CreateFontIndirectA(const LOGFONTA* description);
HGDIOBJ GetStockObject(int index);
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);
int DeleteObject(HGDIOBJ object);
// Describes a bitmap (size BITMAP); answers the bytes written, 0 for anything else.
int GetObjectA(HGDIOBJ object, int size, void* out);

// State.
COLORREF SetTextColor(HDC hdc, COLORREF color);
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF color);
COLORREF GetBkColor(HDC hdc);
int SetBkMode(HDC hdc, int mode);
int GetBkMode(HDC hdc);
int SetStretchBltMode(HDC hdc, int mode);
int GetStretchBltMode(HDC hdc);

// Drawing.
int FillRect(HDC hdc, const RECT* rect, HBRUSH brush);
int Rectangle(HDC hdc, int32_t left, int32_t top, int32_t right, int32_t bottom);
int Ellipse(HDC hdc, int32_t left, int32_t top, int32_t right, int32_t bottom);
int MoveToEx(HDC hdc, int32_t x, int32_t y, POINT* previous);
int LineTo(HDC hdc, int32_t x, int32_t y);
// Answers the colour the pixel got (the nearest of an 8-bit bitmap's table), CLR_INVALID outside.
COLORREF SetPixel(HDC hdc, int32_t x, int32_t y, COLORREF color);
COLORREF GetPixel(HDC hdc, int32_t x, int32_t y);
// Text in the Windows-1252 code page; count -1 for a NUL-terminated text. Formats: alignment
// (DT_LEFT, DT_CENTER, DT_RIGHT; DT_TOP, and with DT_SINGLELINE DT_VCENTER, DT_BOTTOM),
// DT_SINGLELINE (otherwise line breaks start new lines), DT_CALCRECT (measure only: the rectangle
// gets the text's width and height), DT_NOCLIP, DT_NOPREFIX (otherwise "&x" underlines x and
// "&&" draws "&"). Answers the text's height, 0 on failure.
int DrawTextA(HDC hdc, const char* text, int count, RECT* rect, uint32_t format);

// Blits (rop SRCCOPY only). Pixels outside either bitmap are left alone.
int BitBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height, HDC source, int32_t sourceX,
           int32_t sourceY, uint32_t rop);
int StretchBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height, HDC source, int32_t sourceX,
               int32_t sourceY, int32_t sourceWidth, int32_t sourceHeight, uint32_t rop);
// Converts lines scan lines of a DIB (counted from the DIB's first stored row, which is the
// bottom row of a bottom-up DIB) into bitmap; answers the lines set.
int SetDIBits(HDC hdc, HBITMAP bitmap, uint32_t start, uint32_t lines, const void* bits, const BITMAPINFO* info,
              uint32_t usage);

} // namespace raster
