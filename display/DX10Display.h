// The Direct3D 10 back-end as the component has it: a stub whose probe always fails, so that the
// automatic choice moves on to Direct3D 9 and below.
#pragma once

#include "display/DXDisplay.h"

namespace display {

class CDX10Display : public CDXDisplay {
public:
    CDX10Display() { m_dwLastError = 3; }

    void InitDD(HWND) override {}
    void InitSurfaces(int32_t, int32_t, int32_t, int32_t) override {}
    int32_t IsValid() override { return Validate(0, 0); }
    // Logs "DX10: Not implemented" and answers 0.
    int32_t Validate(uint32_t width, uint32_t height) override;
    // The DC operations leave the out argument as it was.
    void GetVideoDC(HDC*) override {}
    void ReleaseVideoDC(HDC) override {}
    void PresentVideo() override {}
    void GetIntermediateDC(HDC*) override {}
    void ReleaseIntermediateDC(HDC) override {}
    void GetOverlayDC(HDC*) override {}
    void ReleaseOverlayDC(HDC) override {}
    void ClearOverlay() override {}
    void Present(int32_t) override {}
    void SetTransparentColor(COLORREF) override {}
    COLORREF GetTransparentColor() override { return 0; }
    int32_t CanStretch() override { return 1; }
    void ReleaseAll() override {}
    uint32_t GetErrorCode() override { return m_dwLastError; }
};

} // namespace display
