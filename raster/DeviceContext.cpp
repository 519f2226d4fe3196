#include "raster/DeviceContext.h"

#include <new>

#include "raster/Bitmap.h"
#include "raster/Font.h"
#include "raster/Gdi.h"

namespace raster {

CDeviceContext::CDeviceContext(Kind kind) : m_kind(kind)
{
    m_pPen = static_cast<CPen*>(GetStockObject(BLACK_PEN));
    m_pBrush = static_cast<CBrush*>(GetStockObject(WHITE_BRUSH));
    m_pFont = static_cast<CFont*>(GetStockObject(SYSTEM_FONT));
}

CDeviceContext* CDeviceContext::CreateMemory()
{
    CDeviceContext* dc = new (std::nothrow) CDeviceContext(Kind::Memory);
    if (dc)
        dc->m_pBitmap = StockBitmap();
    return dc;
}

CDeviceContext* CDeviceContext::CreateSurface(void* bits, int32_t width, int32_t height, int32_t stride)
{
    CBitmap* view = CBitmap::CreateView(bits, width, height, stride, 32, false, nullptr, 0);
    if (!view)
        return nullptr;
    CDeviceContext* dc = new (std::nothrow) CDeviceContext(Kind::Surface);
    if (!dc) {
        delete view;
        return nullptr;
    }
    dc->m_pBitmap = view;
    view->SetSelectedInto(dc);
    return dc;
}

CDeviceContext::~CDeviceContext()
{
    if (m_kind == Kind::Surface) {
        delete m_pBitmap;
    } else if (m_pBitmap && !m_pBitmap->IsStock()) {
        m_pBitmap->SetSelectedInto(nullptr);
        m_pBitmap->RemoveSelection();
    }
    if (m_pPen)
        m_pPen->RemoveSelection();
    if (m_pBrush)
        m_pBrush->RemoveSelection();
    if (m_pFont)
        m_pFont->RemoveSelection();
}

namespace {

template <typename T>
CGdiObject* Swap(T*& slot, CGdiObject* object)
{
    T* previous = slot;
    object->AddSelection();
    slot = static_cast<T*>(object);
    if (previous)
        previous->RemoveSelection();
    return previous;
}

} // namespace

CGdiObject* CDeviceContext::Select(CGdiObject* object)
{
    switch (object->Kind()) {
    case GdiKind::Bitmap: {
        CBitmap* bitmap = static_cast<CBitmap*>(object);
        if (m_kind != Kind::Memory)
            return nullptr;
        if (bitmap == m_pBitmap)
            return bitmap;
        // The stock bitmap may sit in any number of DCs; any other in one at most.
        if (!bitmap->IsStock() && bitmap->SelectedInto())
            return nullptr;
        CBitmap* previous = m_pBitmap;
        if (!bitmap->IsStock())
            bitmap->SetSelectedInto(this);
        bitmap->AddSelection();
        m_pBitmap = bitmap;
        if (previous && !previous->IsStock())
            previous->SetSelectedInto(nullptr);
        if (previous)
            previous->RemoveSelection();
        return previous;
    }
    case GdiKind::Pen:
        return Swap(m_pPen, object);
    case GdiKind::Brush:
        return Swap(m_pBrush, object);
    case GdiKind::Font:
        return Swap(m_pFont, object);
    }
    return nullptr;
}

} // namespace raster
