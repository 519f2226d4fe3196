// The display back-ends of the viewer and the choice among them.
//
// The viewer composes each frame into the off-screen surfaces of a back-end through raster DCs
// and has the back-end present the picture, with the overlay graphics keyed over it, into its
// window. CDXDisplay is that back-end as the control sees it: eighteen operations, called in the
// order its frame rendering and painting give them. GetDXInstance picks a back-end for the
// requested kind by asking each candidate to probe itself (Validate with the image size).
//
// Ownership and threads. GetDXInstance hands its result to the caller (the control), which
// calls ReleaseAll and deletes it at Stop. The control calls a back-end from its update thread
// (frames, under its redraw and data locks) and from the window thread (paint, resize and the
// overlay, under its display lock); each back-end's own lock is always the innermost one and a
// back-end never calls back into the control. Where a back-end locks in GetVideoDC it unlocks in
// ReleaseVideoDC, so the two calls must always be paired. Failures are logged in section 4 of the
// diagnostic log and kept as a small error code; nothing is thrown.
//
// The candidates come from a registry of factories, one per selector value: the process's own,
// which the control uses, holds the built-in back-ends (the Direct3D 10 stub, Direct3D 9 on
// OpenGL ES through EGL, DirectDraw as a software compositor); tests fill one with back-ends of
// their own.
#pragma once

#include <cstdint>
#include <functional>

#include "display/DisplayWindow.h"
#include "platform/CriticalSection.h"
#include "raster/Gdi.h"

namespace display {

using raster::COLORREF;
using raster::HDC;

// The host's window a back-end presents into (DisplayWindow.h); the host implements it.
using HWND = DisplayWindow*;

class CDXDisplay {
public:
    CDXDisplay() = default;
    CDXDisplay(const CDXDisplay&) = delete;
    CDXDisplay& operator=(const CDXDisplay&) = delete;

    // Attaches to the control window and creates the graphics API's root object.
    virtual void InitDD(HWND hWnd) = 0;
    // (Re)creates all surfaces: the overlay of the window's client size, the video surface for
    // the image.
    virtual void InitSurfaces(int32_t overlayWidth, int32_t overlayHeight, int32_t videoWidth,
                              int32_t videoHeight) = 0;
    // Validate(0, 0): 1 valid, 10 recreated after a loss (redraw the overlay), 0 not usable.
    virtual int32_t IsValid() = 0;
    // With a size: can this back-end run for images of that size (1 yes, 0 no); everything
    // created for the probe is released again. With 0, 0: as IsValid.
    virtual int32_t Validate(uint32_t width, uint32_t height) = 0;
    virtual void GetVideoDC(HDC* hdc) = 0;
    virtual void ReleaseVideoDC(HDC hdc) = 0;
    // Moves the video surface into the intermediate surface (stretching) where there is one.
    virtual void PresentVideo() = 0;
    // The surface shown under the overlay, for the frame-rate text.
    virtual void GetIntermediateDC(HDC* hdc) = 0;
    virtual void ReleaseIntermediateDC(HDC hdc) = 0;
    virtual void GetOverlayDC(HDC* hdc) = 0;
    virtual void ReleaseOverlayDC(HDC hdc) = 0;
    // Fills the whole overlay with the transparent colour.
    virtual void ClearOverlay() = 0;
    // Composes the picture into the window; the overlay only when withOverlay is not 0.
    virtual void Present(int32_t withOverlay) = 0;
    virtual void SetTransparentColor(COLORREF color) = 0;
    virtual COLORREF GetTransparentColor() = 0;
    // 1: the back-end scales the video surface (which has the image's size) to the window;
    // 0: the caller draws the image already scaled to the window into the video surface.
    virtual int32_t CanStretch() = 0;
    // Releases every interface, surface and loaded module; the object can be initialised again.
    virtual void ReleaseAll() = 0;
    virtual uint32_t GetErrorCode() = 0;
    virtual ~CDXDisplay() = default;

protected:
    uint32_t m_dwLastError = 0; // set by each back-end from its own table, never cleared
    px::CriticalSection m_cs;   // guards surface creation and the copies between surfaces
};

// Values of the control's display selector.
enum : int32_t {
    DISPLAY_GDI = 0,
    DISPLAY_AUTO = 1,
    DISPLAY_DX7 = 7,
    DISPLAY_DX9 = 9,
    DISPLAY_DX10 = 10,
};

// Makes a back-end for the window, or null when it cannot be made.
using DisplayFactory = std::function<CDXDisplay*(HWND)>;

class CDisplayRegistry {
public:
    // The built-in back-ends.
    CDisplayRegistry();
    // Only DISPLAY_DX10, DISPLAY_DX9 and DISPLAY_DX7 have a place; an empty factory clears it.
    // False for any other selector.
    bool SetFactory(int32_t selector, DisplayFactory factory);
    DisplayFactory Factory(int32_t selector) const;
    // The registry the control selects from.
    static CDisplayRegistry& Process();

private:
    static int Slot(int32_t selector);

    mutable px::CriticalSection m_cs;
    DisplayFactory m_factories[3] PX_GUARDED_BY(m_cs);
};

// Tries, in the order Direct3D 10, Direct3D 9, DirectDraw, each back-end the selector asks for
// (1: all of them) and returns the first whose Validate(fullWidth, fullHeight) answers exactly 1;
// *selector then names it (10, 9 or 7). A candidate that fails is released and destroyed. With
// no back-end *selector becomes 0 and the result is null: the control draws with plain GDI.
CDXDisplay* GetDXInstance(uint32_t fullWidth, uint32_t fullHeight, int32_t* selector, HWND hWnd,
                          const CDisplayRegistry& registry = CDisplayRegistry::Process());

// Whether desktop composition is on. A Linux desktop gives no such switch to ask, which is the
// case of a system without the composition service: true.
bool IsCompositionEnabled();

} // namespace display
