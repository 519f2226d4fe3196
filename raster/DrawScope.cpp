#include "raster/DrawScope.h"

#include <cairo.h>

#include <cstdlib>
#include <cstring>

#include "raster/Bitmap.h"
#include "raster/DeviceContext.h"

namespace raster {

bool ClipToBitmap(RECT* rect, int32_t width, int32_t height)
{
    if (rect->left < 0)
        rect->left = 0;
    if (rect->top < 0)
        rect->top = 0;
    if (rect->right > width)
        rect->right = width;
    if (rect->bottom > height)
        rect->bottom = height;
    return rect->left < rect->right && rect->top < rect->bottom;
}

CDrawScope::CDrawScope(HDC hdc, const RECT& bounds)
{
    if (!hdc || !hdc->Bitmap()) {
        m_bFailed = true;
        return;
    }
    m_pBitmap = hdc->Bitmap();
    m_rcRegion = bounds;
    if (!ClipToBitmap(&m_rcRegion, m_pBitmap->Width(), m_pBitmap->Height()))
        return;
    const int32_t width = m_rcRegion.right - m_rcRegion.left;
    const int32_t height = m_rcRegion.bottom - m_rcRegion.top;
    m_pOriginal = static_cast<uint32_t*>(malloc(static_cast<size_t>(width) * static_cast<size_t>(height) * 4));
    m_pSurface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (!m_pOriginal || cairo_surface_status(m_pSurface) != CAIRO_STATUS_SUCCESS) {
        m_bFailed = true;
        return;
    }
    uint8_t* data = cairo_image_surface_get_data(m_pSurface);
    const int stride = cairo_image_surface_get_stride(m_pSurface);
    for (int32_t y = 0; y < height; ++y) {
        uint32_t* original = m_pOriginal + static_cast<size_t>(y) * width;
        m_pBitmap->ToRgb(m_pBitmap->Pixel(m_rcRegion.left, m_rcRegion.top + y), width, original);
        memcpy(data + static_cast<size_t>(y) * stride, original, static_cast<size_t>(width) * 4);
    }
    cairo_surface_mark_dirty(m_pSurface);
    cairo_surface_set_device_offset(m_pSurface, -m_rcRegion.left, -m_rcRegion.top);
    m_pCairo = cairo_create(m_pSurface);
    if (cairo_status(m_pCairo) != CAIRO_STATUS_SUCCESS) {
        m_bFailed = true;
        return;
    }
    cairo_set_antialias(m_pCairo, CAIRO_ANTIALIAS_NONE);
    cairo_set_operator(m_pCairo, CAIRO_OPERATOR_SOURCE);
}

CDrawScope::~CDrawScope()
{
    if (m_pCairo) {
        const bool drawn = !m_bFailed && cairo_status(m_pCairo) == CAIRO_STATUS_SUCCESS;
        cairo_destroy(m_pCairo);
        if (drawn) {
            cairo_surface_flush(m_pSurface);
            const uint8_t* data = cairo_image_surface_get_data(m_pSurface);
            const int stride = cairo_image_surface_get_stride(m_pSurface);
            const int32_t width = m_rcRegion.right - m_rcRegion.left;
            for (int32_t y = 0; y < m_rcRegion.bottom - m_rcRegion.top; ++y) {
                const uint32_t* drawnRow = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
                const uint32_t* original = m_pOriginal + static_cast<size_t>(y) * width;
                uint8_t* target = m_pBitmap->Pixel(m_rcRegion.left, m_rcRegion.top + y);
                // Runs of changed pixels, converted and written as one.
                int32_t x = 0;
                while (x < width) {
                    if (((drawnRow[x] ^ original[x]) & 0x00FFFFFF) == 0) {
                        ++x;
                        continue;
                    }
                    const int32_t start = x;
                    while (x < width && ((drawnRow[x] ^ original[x]) & 0x00FFFFFF) != 0)
                        ++x;
                    m_pBitmap->FromRgb(drawnRow + start, x - start,
                                       target + static_cast<ptrdiff_t>(start) * m_pBitmap->BytesPerPixel());
                }
            }
        }
    }
    if (m_pSurface)
        cairo_surface_destroy(m_pSurface);
    free(m_pOriginal);
}

void CDrawScope::SetColor(COLORREF color) const
{
    cairo_set_source_rgb(m_pCairo, (color & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0,
                         ((color >> 16) & 0xFF) / 255.0);
}

} // namespace raster
