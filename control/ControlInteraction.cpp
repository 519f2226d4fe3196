// Mouse, zoom, the region of interest, the popup menu and saving. The control reaches each of
// them through the dispatch interface and its window messages already; what they do is built
// with the mouse tools and the image files.
#include "control/PellixControl.h"

namespace pxcontrol {

void CPellixControl::OnMouseMessage(uint32_t, uintptr_t, intptr_t)
{
    // Mouse actions are not built yet: no event, no zoom, no menu.
}

HRESULT CPellixControl::ZoomOnPoint(uint32_t, uint32_t, float, uint32_t, uint32_t* pVal)
{
    // Zoom is not built yet: the result is the control's result code, unchanged.
    if (pVal != nullptr)
        *pVal = m_dwError;
    return S_OK;
}

HRESULT CPellixControl::SetImageParams(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t* pVal)
{
    // A new window of the image is not asked for yet: the result is the control's result code.
    if (pVal != nullptr)
        *pVal = m_dwError;
    return S_OK;
}

HRESULT CPellixControl::SaveImage(uint32_t, const char*, uint32_t* pVal)
{
    // Saving is not built yet: no file is written.
    if (pVal != nullptr)
        *pVal = 0;
    return S_OK;
}

} // namespace pxcontrol
