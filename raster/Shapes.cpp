// Fills, shapes, lines and single pixels.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "raster/DrawScope.h"
#include "raster/Gdi.h"

namespace raster {

namespace {

// The path of a pen's centre line sits on pixel centres for odd widths and on the pixel edges
// outside them for even widths, so that both edges of the stroke fall between pixels.
double PenInset(int32_t width) { return (width % 2) ? 0.5 : 0.0; }

// cairo keeps coordinates in 24.8 fixed point: shapes are pulled in to well inside that range,
// which is still far outside any bitmap.
constexpr int32_t kFar = 1 << 22;

int32_t Pull(int64_t v) { return static_cast<int32_t>(v < -kFar ? -kFar : (v > kFar ? kFar : v)); }

RECT Widened(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t margin)
{
    return RECT{Pull(static_cast<int64_t>(left) - margin), Pull(static_cast<int64_t>(top) - margin),
                Pull(static_cast<int64_t>(right) + margin), Pull(static_cast<int64_t>(bottom) + margin)};
}

// Cuts the segment to the square of side 2 kFar around the origin, keeping its direction;
// false when it lies outside.
bool PullSegment(double* x0, double* y0, double* x1, double* y1)
{
    double t0 = 0, t1 = 1;
    const double dx = *x1 - *x0, dy = *y1 - *y0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {*x0 + kFar, kFar - *x0, *y0 + kFar, kFar - *y0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
    }
    if (t0 > t1)
        return false;
    const double ax = *x0, ay = *y0;
    *x0 = ax + t0 * dx;
    *y0 = ay + t0 * dy;
    *x1 = ax + t1 * dx;
    *y1 = ay + t1 * dy;
    return true;
}

// Orders the corners of a shape's box; false when the box has no area.
bool Normalize(int32_t* left, int32_t* top, int32_t* right, int32_t* bottom)
{
    if (*left > *right)
        std::swap(*left, *right);
    if (*top > *bottom)
        std::swap(*top, *bottom);
    return *left < *right && *top < *bottom;
}

void EllipsePath(cairo_t* cr, double left, double top, double right, double bottom)
{
    const double rx = (right - left) / 2, ry = (bottom - top) / 2;
    if (rx <= 0 || ry <= 0)
        return; // no inside to fill; cairo cannot scale by zero
    cairo_save(cr);
    cairo_translate(cr, left + rx, top + ry);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(cr);
}

enum class Shape { Rectangle, Ellipse };

int DrawShape(HDC hdc, Shape shape, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    if (!hdc || !hdc->Bitmap())
        return 0;
    if (!Normalize(&left, &top, &right, &bottom))
        return 1;
    left = Pull(left);
    top = Pull(top);
    right = Pull(right);
    bottom = Pull(bottom);
    const CPen* pen = hdc->Pen();
    const CBrush* brush = hdc->Brush();
    const bool stroke = pen && !pen->IsNull();
    const bool fill = brush && !brush->IsHollow();
    if (!stroke && !fill)
        return 1;
    const int32_t penWidth = stroke ? pen->Width() : 0;
    CDrawScope scope(hdc, Widened(left, top, right, bottom, penWidth / 2 + 1));
    cairo_t* cr = scope.Cairo();
    if (!cr)
        return scope.Result();

    // Without a pen the filled area loses its right column and bottom row, as in GDI.
    const double inset = stroke ? PenInset(penWidth) : 0;
    const double l = left + inset, t = top + inset;
    const double r = stroke ? right - inset : right - 1, b = stroke ? bottom - inset : bottom - 1;
    if (stroke && (r <= l || b <= t)) {
        // A box one pixel across: the pen's path has no inside and the shape is all pen.
        scope.SetColor(pen->Color());
        const double half = penWidth / 2.0;
        cairo_rectangle(cr, l - half, t - half, r - l + penWidth, b - t + penWidth);
        cairo_fill(cr);
        return 1;
    }
    if (fill) {
        scope.SetColor(brush->Color());
        if (shape == Shape::Rectangle)
            cairo_rectangle(cr, left, top, r - left + inset, b - top + inset);
        else
            EllipsePath(cr, l, t, r, b);
        cairo_fill(cr);
    }
    if (stroke) {
        scope.SetColor(pen->Color());
        if (shape == Shape::Rectangle)
            cairo_rectangle(cr, l, t, r - l, b - t);
        else
            EllipsePath(cr, l, t, r, b);
        cairo_set_line_width(cr, penWidth);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
        cairo_stroke(cr);
    }
    return 1;
}

} // namespace

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush)
{
    if (!hdc || !hdc->Bitmap() || !rect || !brush)
        return 0;
    if (brush->IsHollow())
        return 1;
    CBitmap* bitmap = hdc->Bitmap();
    RECT area = *rect;
    if (!ClipToBitmap(&area, bitmap->Width(), bitmap->Height()))
        return 1;
    const uint32_t rgb = ColorToRgb(brush->Color());
    for (int32_t y = area.top; y < area.bottom; ++y)
        bitmap->FillRgb(rgb, area.right - area.left, bitmap->Pixel(area.left, y));
    return 1;
}

int Rectangle(HDC hdc, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    return DrawShape(hdc, Shape::Rectangle, left, top, right, bottom);
}

int Ellipse(HDC hdc, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    return DrawShape(hdc, Shape::Ellipse, left, top, right, bottom);
}

int MoveToEx(HDC hdc, int32_t x, int32_t y, POINT* previous)
{
    if (!hdc)
        return 0;
    if (previous)
        *previous = hdc->m_ptCurrent;
    hdc->m_ptCurrent = POINT{x, y};
    return 1;
}

int LineTo(HDC hdc, int32_t x, int32_t y)
{
    if (!hdc || !hdc->Bitmap())
        return 0;
    const POINT from = hdc->m_ptCurrent;
    hdc->m_ptCurrent = POINT{x, y};
    const CPen* pen = hdc->Pen();
    if (!pen || pen->IsNull() || (from.x == x && from.y == y))
        return 1;
    const int32_t width = pen->Width();
    const double dx = static_cast<double>(x) - from.x, dy = static_cast<double>(y) - from.y;
    const double inset = PenInset(width);
    double x0 = from.x + inset, y0 = from.y + inset, x1 = x + inset, y1 = y + inset;
    if (width == 1) {
        // Both ends move back half a step along the major axis: the first pixel's centre lies
        // inside the stroke, the last one's just beyond its flat end.
        const double major = std::max(std::fabs(dx), std::fabs(dy));
        x0 -= 0.5 * dx / major;
        x1 -= 0.5 * dx / major;
        y0 -= 0.5 * dy / major;
        y1 -= 0.5 * dy / major;
    }
    if (!PullSegment(&x0, &y0, &x1, &y1))
        return 1;
    const RECT box = Widened(static_cast<int32_t>(std::floor(std::min(x0, x1))),
                             static_cast<int32_t>(std::floor(std::min(y0, y1))),
                             static_cast<int32_t>(std::ceil(std::max(x0, x1))),
                             static_cast<int32_t>(std::ceil(std::max(y0, y1))), width / 2 + 2);
    CDrawScope scope(hdc, box);
    cairo_t* cr = scope.Cairo();
    if (!cr)
        return scope.Result();
    scope.SetColor(pen->Color());
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, width == 1 ? CAIRO_LINE_CAP_BUTT : CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_stroke(cr);
    return 1;
}

COLORREF SetPixel(HDC hdc, int32_t x, int32_t y, COLORREF color)
{
    if (!hdc || !hdc->Bitmap() || !hdc->Bitmap()->Contains(x, y))
        return CLR_INVALID;
    const CBitmap* bitmap = hdc->Bitmap();
    const uint32_t rgb = ColorToRgb(color);
    uint8_t* pixel = bitmap->Pixel(x, y);
    bitmap->FromRgb(&rgb, 1, pixel);
    uint32_t stored;
    bitmap->ToRgb(pixel, 1, &stored);
    return RgbToColor(stored);
}

COLORREF GetPixel(HDC hdc, int32_t x, int32_t y)
{
    if (!hdc || !hdc->Bitmap() || !hdc->Bitmap()->Contains(x, y))
        return CLR_INVALID;
    const CBitmap* bitmap = hdc->Bitmap();
    uint32_t rgb;
    bitmap->ToRgb(bitmap->Pixel(x, y), 1, &rgb);
    return RgbToColor(rgb);
}

} // namespace raster
