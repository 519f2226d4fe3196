// The Direct3D 9 back-end: the image is drawn into a lockable render target of the image's size
// (the video surface), stretched by the device to the window's size into an intermediate render
// target when the sizes differ (so that the frame-rate text lands on the stretched picture) and
// into the back buffer at presentation; the overlay is a dynamic texture of the window's size
// (rounded as the device needs) drawn over the picture as a screen-space quad, with a pixel
// shader that makes every texel of the transparent colour (kept in a 1 x 1 texture) transparent.
//
// It is written against the thin layer of D3D9Layer.h, which it owns: OpenGL ES through EGL in
// the product, a scripted layer in the tests.
//
// Threads and locks. The update thread draws into the video surface between GetVideoDC and
// ReleaseVideoDC, which hold the back-end's lock from one call to the other (also when the
// surface is missing), and calls PresentVideo; the window thread presents, clears and draws the
// overlay. The lock guards device and surface creation, the stretch copies and the video DC.
#pragma once

#include <memory>

#include "display/D3D9Layer.h"
#include "display/DXDisplay.h"

namespace display {

class CDX9Display : public CDXDisplay {
public:
    explicit CDX9Display(std::unique_ptr<d3d9::IDriver> driver);
    ~CDX9Display() override;

    void InitDD(HWND hWnd) override;
    void InitSurfaces(int32_t overlayWidth, int32_t overlayHeight, int32_t videoWidth, int32_t videoHeight) override;
    int32_t IsValid() override;
    int32_t Validate(uint32_t width, uint32_t height) override;
    // The lock is held from GetVideoDC to ReleaseVideoDC, which the lock annotations cannot follow.
    void GetVideoDC(HDC* hdc) override PX_NO_THREAD_SAFETY_ANALYSIS;
    void ReleaseVideoDC(HDC hdc) override PX_NO_THREAD_SAFETY_ANALYSIS;
    void PresentVideo() override;
    void GetIntermediateDC(HDC* hdc) override PX_NO_THREAD_SAFETY_ANALYSIS;
    void ReleaseIntermediateDC(HDC hdc) override PX_NO_THREAD_SAFETY_ANALYSIS;
    void GetOverlayDC(HDC* hdc) override;
    void ReleaseOverlayDC(HDC hdc) override;
    void ClearOverlay() override;
    void Present(int32_t withOverlay) override;
    void SetTransparentColor(COLORREF color) override;
    COLORREF GetTransparentColor() override { return m_crTransparent; }
    int32_t CanStretch() override { return 1; }
    void ReleaseAll() override;
    uint32_t GetErrorCode() override { return m_dwLastError; }

private:
    int32_t Probe(uint32_t width, uint32_t height);
    int32_t Revalidate();
    int32_t ValidateDeviceFormat();
    int32_t ValidateConvertion();
    int32_t ValidatePSVersion();
    int32_t ValidateTextureFormat(uint32_t width, uint32_t height);
    int32_t ValidateAlphaBlending();
    int32_t ValidateStretchInterpolation();
    int32_t ComputeTextureSize();
    void AdjustTextureSize(uint32_t* width, uint32_t* height) const;
    // The presentation parameters of the device for the display mode; notes the composition state.
    void BuildPresentParameters(const d3d9::D3DDISPLAYMODE& mode, d3d9::D3DPRESENT_PARAMETERS* parameters);
    int32_t CreateDevice();
    int32_t CreateSimpleSurface();
    int32_t CreateVideoSurface();
    int32_t CreateIntermediateSurface();
    int32_t CreateRenderTarget(uint32_t width, uint32_t height, d3d9::ISurface** surface, const char* nullDevice,
                               uint32_t errorCode, const char* tag);
    int32_t CreatePixelShader();
    // The surface set of InitSurfaces and of a reset, reported with its codes; true when complete.
    bool CreateSurfaceSet();
    void ReleaseSurfaces();
    void LogD3DError(const void* object, d3d9::HRESULT hr, const char* tag);

    std::unique_ptr<d3d9::IDriver> m_pDriver;

    uint32_t m_bConvertion = 0;
    uint32_t m_bAlphaInverted = 0;
    uint32_t m_bSquareTexture = 0;
    uint32_t m_bPow2Texture = 0;
    uint32_t m_dwPSVersion = 0;
    uint32_t m_dwTextureWidth = 0;
    uint32_t m_dwTextureHeight = 0;
    float m_fTexU = 0;
    float m_fTexV = 0;
    HWND m_hWnd = nullptr;
    uint32_t m_dwOverlayWidth = 0;
    uint32_t m_dwOverlayHeight = 0;
    uint32_t m_dwVideoWidth = 0;
    uint32_t m_dwVideoHeight = 0;
    COLORREF m_crTransparent = 0x00FF00FF;
    uint32_t m_bIntermediate = 0;
    uint32_t m_bComposition = 0;
    d3d9::IDirect3D* m_pD3D = nullptr;
    d3d9::IDevice* m_pD3DDevice = nullptr;
    d3d9::IVertexBuffer* m_pVertexBuffer = nullptr;
    d3d9::IPixelShader* m_pPixelShader = nullptr;
    const void* m_pShaderCode = nullptr;
    d3d9::ISurface* m_pVideoSurface = nullptr;
    d3d9::ISurface* m_pIntermediateSurface = nullptr;
    d3d9::ITexture* m_pDDTSimple = nullptr;
    d3d9::ISurface* m_pOverlayLevel = nullptr;
    d3d9::ITexture* m_pDDTColorKey = nullptr;
    uint32_t m_dwStretchFilter = 0;
    uint32_t m_bIntermediateDC = 0;
};

} // namespace display
