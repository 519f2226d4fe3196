// The overlay members: graphics in full-image coordinates added to the overlay list, which only
// an accelerated back-end shows (its overlay surface is laid over the image).
#include <cstring>
#include <new>

#include "control/PellixControl.h"

namespace pxcontrol {

namespace {

// The dispatch interface hands font names and texts over in at most 199 characters.
constexpr size_t kOverlayTextChars = 199;

void CutText(const char* text, char (&out)[kOverlayTextChars + 1])
{
    out[0] = '\0';
    if (text != nullptr)
        strncat(out, text, kOverlayTextChars);
}

} // namespace

void CPellixControl::AddOverlayObject(display::CSimpleGraphic* graphic, int32_t* retId)
{
    const int32_t id = graphic != nullptr ? m_OverlayList.Add(graphic) : -1;
    if (retId != nullptr)
        *retId = id;
}

HRESULT CPellixControl::AddOverlayRect(int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t width,
                                       uint32_t color, uint32_t bColor, uint32_t attribute, int32_t* retId)
{
    px::CsLock data(m_csData);
    AddOverlayObject(new (std::nothrow) display::CSGRectangle(static_cast<uint16_t>(id), x1, y1, x2, y2,
                                                              static_cast<uint16_t>(m_dwFullSizeX),
                                                              static_cast<uint16_t>(m_dwFullSizeY), attribute, color,
                                                              bColor, width),
                     retId);
    return S_OK;
}

HRESULT CPellixControl::AddOverlayEllipse(int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t width,
                                          uint32_t color, uint32_t bColor, uint32_t attribute, int32_t* retId)
{
    px::CsLock data(m_csData);
    AddOverlayObject(new (std::nothrow) display::CSGEllipse(static_cast<uint16_t>(id), x1, y1, x2, y2,
                                                            static_cast<uint16_t>(m_dwFullSizeX),
                                                            static_cast<uint16_t>(m_dwFullSizeY), attribute, color,
                                                            bColor, width),
                     retId);
    return S_OK;
}

HRESULT CPellixControl::AddOverlayLine(int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t width,
                                       uint32_t color, uint32_t attribute, int32_t* retId)
{
    px::CsLock data(m_csData);
    AddOverlayObject(new (std::nothrow) display::CSGLine(static_cast<uint16_t>(id), x1, y1, x2, y2,
                                                         static_cast<uint16_t>(m_dwFullSizeX),
                                                         static_cast<uint16_t>(m_dwFullSizeY), attribute, color, width),
                     retId);
    return S_OK;
}

HRESULT CPellixControl::AddOverlayPixel(int32_t id, int32_t x, int32_t y, uint32_t color, uint32_t attribute,
                                        int32_t* retId)
{
    px::CsLock data(m_csData);
    AddOverlayObject(new (std::nothrow) display::CSGPixel(static_cast<uint16_t>(id), x, y,
                                                          static_cast<uint16_t>(m_dwFullSizeX),
                                                          static_cast<uint16_t>(m_dwFullSizeY), attribute, color),
                     retId);
    return S_OK;
}

HRESULT CPellixControl::AddOverlayText(int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color,
                                       uint32_t bkColor, uint16_t size, int32_t style, const char* font,
                                       const char* text, uint32_t attribute, int32_t* retId)
{
    char fontName[kOverlayTextChars + 1], textString[kOverlayTextChars + 1];
    CutText(font, fontName);
    CutText(text, textString);
    px::CsLock data(m_csData);
    AddOverlayObject(display::CSGString::Create(static_cast<uint16_t>(id), x1, y1, x2, y2,
                                                static_cast<uint16_t>(m_dwFullSizeX),
                                                static_cast<uint16_t>(m_dwFullSizeY), attribute, bkColor, color, size,
                                                static_cast<uint16_t>(style >> 3), style & 1, (style >> 1) & 1,
                                                (style >> 2) & 1, fontName, textString),
                     retId);
    return S_OK;
}

HRESULT CPellixControl::RemoveOverlayObject(int32_t id)
{
    m_OverlayList.Remove(id);
    return S_OK;
}

HRESULT CPellixControl::ClearOverlay()
{
    if (m_nDisplayMode < 1)
        return S_OK;
    px::CsLock display(m_csDisplay);
    m_OverlayList.Clear();
    if (m_pDisplay != nullptr)
        m_pDisplay->ClearOverlay();
    return S_OK;
}

HRESULT CPellixControl::DrawOverlay()
{
    SViewGeometry view;
    {
        px::CsLock data(m_csData);
        view = ViewGeometry();
    }
    {
        px::CsLock display(m_csDisplay);
        RedrawOverlay(view);
    }
    m_pWrapper->Invalidate();
    return S_OK;
}

HRESULT CPellixControl::GetOverlayTransparentColor()
{
    px::CsLock display(m_csDisplay);
    if (m_nDisplayMode < 1 || m_pDisplay == nullptr)
        return 0;
    return static_cast<HRESULT>(m_pDisplay->GetTransparentColor());
}

HRESULT CPellixControl::SetOverlayTransparentColor(uint32_t ck)
{
    px::CsLock display(m_csDisplay);
    if (m_pDisplay != nullptr)
        m_pDisplay->SetTransparentColor(ck);
    return S_OK;
}

} // namespace pxcontrol
