// The DirectDraw back-end: four surfaces of the window's client size, the primary (the window,
// clipped to it), a back surface for composition, the video surface into which the viewer draws
// the image already scaled to the window (CanStretch is 0), and the overlay (the simple surface)
// into which the overlay graphics are drawn. Presentation copies the video surface into the back
// surface, lays the overlay over it with a source colour key and copies the result to the window.
// A probe checks the driver's capabilities and its free memory, with a self-test of the surfaces
// when the memory reported is short.
//
// It is written against the thin layer of DDrawLayer.h, which it owns: the software compositor
// in the product, a scripted layer in the tests.
//
// Threads and locks. The DC operations take no lock; the lock guards surface creation and
// recreation, the colour fill of ClearOverlay and the copies of Present.
#pragma once

#include <memory>

#include "display/DDrawLayer.h"
#include "display/DXDisplay.h"

namespace display {

class CDX7Display : public CDXDisplay {
public:
    CDX7Display(HWND hWnd, std::unique_ptr<ddraw::IDriver> driver);
    ~CDX7Display() override;

    void InitDD(HWND hWnd) override;
    void InitSurfaces(int32_t overlayWidth, int32_t overlayHeight, int32_t videoWidth, int32_t videoHeight) override;
    int32_t IsValid() override { return Validate(0, 0); }
    int32_t Validate(uint32_t width, uint32_t height) override;
    void GetVideoDC(HDC* hdc) override;
    void ReleaseVideoDC(HDC hdc) override;
    void PresentVideo() override {}
    void GetIntermediateDC(HDC* hdc) override { GetVideoDC(hdc); }
    void ReleaseIntermediateDC(HDC hdc) override { ReleaseVideoDC(hdc); }
    void GetOverlayDC(HDC* hdc) override;
    void ReleaseOverlayDC(HDC hdc) override;
    void ClearOverlay() override;
    void Present(int32_t withOverlay) override;
    void SetTransparentColor(COLORREF color) override;
    COLORREF GetTransparentColor() override { return m_crTransparent; }
    int32_t CanStretch() override { return 0; }
    void ReleaseAll() override;
    uint32_t GetErrorCode() override { return m_dwLastError; }

private:
    int32_t Probe(uint32_t width, uint32_t height);
    int32_t Revalidate();
    bool LoadDriver(const char* noModule, const char* noFunction);
    // The driver's capabilities; a failure is logged with tag.
    bool GetDriverCaps(ddraw::DDCAPS* caps, const char* tag);
    int32_t HasHardware();
    int32_t CanRenderWindowed();
    int32_t HasColorKeyBlit();
    int32_t CheckVideoMemory(uint32_t width, uint32_t height);
    int32_t SelfTestSurfaces(uint32_t width, uint32_t height);
    // Draws a red rectangle over the whole surface through its DC; true when pixel (0, 0) is red.
    bool DrawsRed(ddraw::IDirectDrawSurface* surface, uint32_t width, uint32_t height);
    int32_t CreatePrimarySurface();
    int32_t CreateBackSurface();
    int32_t CreateSimpleSurface();
    int32_t CreateVideoSurface();
    // An off-screen surface of the overlay size in the primary's format, with the first of the two
    // capability sets that works.
    int32_t CreateOffscreenSurface(ddraw::IDirectDrawSurface** surface, uint32_t firstCaps, uint32_t secondCaps,
                                   const char* nullSurface, const char* tag, const char* describeTag);
    // All four surfaces again, reported with the codes 7 to 10; sizes, when given, go into the
    // texts. True when all four exist.
    bool CreateSurfaceSet(const char* sizes);
    void ReleaseSurfaces();
    uint32_t MatchSurfaceColor(ddraw::IDirectDrawSurface* surface, COLORREF color);
    void DescribeSurface(ddraw::IDirectDrawSurface* surface, char text[100]);
    void LogDescription(ddraw::IDirectDrawSurface* surface, const char* tagFormat);
    bool GetDC(ddraw::IDirectDrawSurface* surface, HDC* hdc, const char* nullText, const char* tag);
    void ReleaseDC(ddraw::IDirectDrawSurface* surface, HDC hdc, const char* nullText, const char* tag);
    void LogDDrawError(const void* object, ddraw::HRESULT hr, const char* tag);

    std::unique_ptr<ddraw::IDriver> m_pDriver;

    HWND m_hWnd;
    uint32_t m_dwOverlayWidth = 0;
    uint32_t m_dwOverlayHeight = 0;
    uint32_t m_dwVideoWidth = 0;
    uint32_t m_dwVideoHeight = 0;
    COLORREF m_crTransparent = 0;
    bool m_bModuleLoaded = false; // the module handle: "none" while false
    bool m_bCreateFunction = false;
    ddraw::IDirectDraw* m_pDD = nullptr;
    ddraw::IDirectDrawSurface* m_pDDSPrimary = nullptr;
    ddraw::IDirectDrawSurface* m_pDDSVideo = nullptr;
    ddraw::IDirectDrawSurface* m_pDDSBack = nullptr;
    ddraw::IDirectDrawSurface* m_pDDSSimple = nullptr;
    ddraw::IDirectDrawClipper* m_pClipper = nullptr;
};

} // namespace display
