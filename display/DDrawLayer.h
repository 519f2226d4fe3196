// The graphics interface the DirectDraw back-end is written against: a thin layer with the
// objects, calls, values and result codes of DirectDraw that the back-end uses, and nothing more.
// Two implementations stand behind it: the software compositor (SoftDDraw.h), which draws into
// raster bitmaps and the host's window surface, and a scripted one in the tests.
//
// Objects work as the originals do: each creating call hands out an object that its receiver
// releases once with Release (which destroys it). Every call answers a result code (DD_OK or one
// of the codes below); nothing throws.
#pragma once

#include <cstdint>

#include "display/DisplayWindow.h"
#include "raster/Gdi.h"

namespace display {

using HWND = DisplayWindow*;

namespace ddraw {

using HRESULT = uint32_t;

constexpr bool FAILED(HRESULT hr) { return (hr & 0x80000000u) != 0; }

enum : HRESULT {
    DD_OK = 0,
    DDERR_UNSUPPORTED = 0x80004001,
    DDERR_GENERIC = 0x80004005,
    DDERR_OUTOFMEMORY = 0x8007000E,
    DDERR_INVALIDPARAMS = 0x80070057,
    DDERR_INVALIDOBJECT = 0x88760082,
    DDERR_INVALIDRECT = 0x88760096,
    DDERR_NOCOOPERATIVELEVELSET = 0x887600D4,
    DDERR_OUTOFVIDEOMEMORY = 0x8876017C,
    DDERR_SURFACEBUSY = 0x887601AE,
    DDERR_SURFACELOST = 0x887601C2,
    DDERR_WASSTILLDRAWING = 0x8876021C,
    DDERR_NOCLIPPERATTACHED = 0x88760238,
    DDERR_NOTLOCKED = 0x88760248,
    DDERR_CANTCREATEDC = 0x88760249,
    DDERR_DCALREADYCREATED = 0x8876026C,
};

// Capability words of the driver (DDCAPS).
enum : uint32_t {
    DDCAPS_BLT = 0x00000040,
    DDCAPS_COLORKEY = 0x00400000,
    DDCAPS_NOHARDWARE = 0x02000000,
};
enum : uint32_t { DDCAPS2_CANRENDERWINDOWED = 0x00080000 };
enum : uint32_t { DDCKEYCAPS_SRCBLT = 0x00000200 };

struct DDCAPS {
    uint32_t dwCaps = 0;      // video to video
    uint32_t dwCaps2 = 0;
    uint32_t dwCKeyCaps = 0;  // video to video
    uint32_t dwVidMemTotal = 0;
    uint32_t dwVidMemFree = 0;
    uint32_t dwSVBCaps = 0;   // system to video
    uint32_t dwSVBCKeyCaps = 0;
    uint32_t dwNLVBCaps = 0;  // non-local to video
    uint32_t dwNLVBCKeyCaps = 0;
};

// Surface capabilities (DDSCAPS).
enum : uint32_t {
    DDSCAPS_OFFSCREENPLAIN = 0x00000040,
    DDSCAPS_PRIMARYSURFACE = 0x00000200,
    DDSCAPS_SYSTEMMEMORY = 0x00000800,
    DDSCAPS_VIDEOMEMORY = 0x00004000,
    DDSCAPS_LOCALVIDMEM = 0x10000000,
    DDSCAPS_NONLOCALVIDMEM = 0x20000000,
};

struct DDSCAPS2 {
    uint32_t dwCaps = 0;
};

// Which fields of a surface description count.
enum : uint32_t {
    DDSD_CAPS = 0x00000001,
    DDSD_HEIGHT = 0x00000002,
    DDSD_WIDTH = 0x00000004,
    DDSD_PITCH = 0x00000008,
    DDSD_PIXELFORMAT = 0x00001000,
};

enum : uint32_t { DDPF_RGB = 0x00000040 };

struct DDPIXELFORMAT {
    uint32_t dwFlags = 0;
    uint32_t dwRGBBitCount = 0;
    uint32_t dwRBitMask = 0;
    uint32_t dwGBitMask = 0;
    uint32_t dwBBitMask = 0;
};

struct DDSURFACEDESC {
    uint32_t dwFlags = 0;
    uint32_t dwHeight = 0;
    uint32_t dwWidth = 0;
    int32_t lPitch = 0;
    void* lpSurface = nullptr;
    DDPIXELFORMAT ddpfPixelFormat;
    DDSCAPS2 ddsCaps;
};

enum : uint32_t { DDSCL_NORMAL = 0x00000008 };
enum : uint32_t { DDWAITVB_BLOCKBEGIN = 0x00000001 };

// Blt flags; a colour fill writes dwFillColor, a value in the surface's own pixel format.
enum : uint32_t {
    DDBLT_COLORFILL = 0x00000400,
    DDBLT_KEYSRC = 0x00008000,
    DDBLT_WAIT = 0x01000000,
};

struct DDBLTFX {
    uint32_t dwFillColor = 0;
};

enum : uint32_t { DDCKEY_SRCBLT = 0x00000008 };

// Pixel values from low to high, inclusive, in the surface's format.
struct DDCOLORKEY {
    uint32_t dwColorSpaceLowValue = 0;
    uint32_t dwColorSpaceHighValue = 0;
};

class IObject {
public:
    // Gives the object up; it is destroyed.
    virtual HRESULT Release() = 0;

protected:
    virtual ~IObject() = default;
};

class IDirectDrawClipper : public IObject {
public:
    virtual HRESULT SetHWnd(uint32_t flags, HWND window) = 0;
};

class IDirectDrawSurface : public IObject {
public:
    // A raster DC over the surface, valid until ReleaseDC.
    virtual HRESULT GetDC(raster::HDC* hdc) = 0;
    virtual HRESULT ReleaseDC(raster::HDC hdc) = 0;
    // Copies source's sourceRect (whole when null) into targetRect (whole when null) of this
    // surface, scaling when the sizes differ; with DDBLT_COLORFILL fills targetRect instead.
    virtual HRESULT Blt(const raster::RECT* targetRect, IDirectDrawSurface* source, const raster::RECT* sourceRect,
                        uint32_t flags, const DDBLTFX* fx) = 0;
    virtual HRESULT SetColorKey(uint32_t flags, const DDCOLORKEY* key) = 0;
    // DD_OK, or DDERR_SURFACELOST when the surface's memory is gone.
    virtual HRESULT IsLost() = 0;
    // The whole surface; fills lpSurface, lPitch and the format into description.
    virtual HRESULT Lock(const raster::RECT* rect, DDSURFACEDESC* description, uint32_t flags) = 0;
    virtual HRESULT Unlock(void* bits) = 0;
    virtual HRESULT GetSurfaceDesc(DDSURFACEDESC* description) = 0;
    virtual HRESULT SetClipper(IDirectDrawClipper* clipper) = 0;
};

// The seventh interface's memory query.
class IDirectDraw7 : public IObject {
public:
    virtual HRESULT GetAvailableVidMem(const DDSCAPS2* caps, uint32_t* total, uint32_t* free) = 0;
};

class IDirectDraw : public IObject {
public:
    virtual HRESULT GetCaps(DDCAPS* driver, DDCAPS* emulation) = 0;
    virtual HRESULT GetDisplayMode(DDSURFACEDESC* description) = 0;
    // QueryInterface for IID_IDirectDraw7.
    virtual HRESULT QueryDirectDraw7(IDirectDraw7** directDraw7) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, uint32_t flags) = 0;
    virtual HRESULT CreateSurface(DDSURFACEDESC* description, IDirectDrawSurface** surface) = 0;
    virtual HRESULT CreateClipper(uint32_t flags, IDirectDrawClipper** clipper) = 0;
    virtual HRESULT WaitForVerticalBlank(uint32_t flags) = 0;
};

// What the operating system gives around the interface: the module, its creation function and
// the window's rectangles.
class IDriver {
public:
    virtual ~IDriver() = default;
    // Loads "DDraw.dll"; false when it is missing. Each successful load is given back with
    // FreeModule.
    virtual bool LoadModule() = 0;
    virtual void FreeModule() = 0;
    // Finds "DirectDrawCreate" in the loaded module.
    virtual bool FindCreateFunction() = 0;
    // DirectDrawCreate for the default device; *directDraw stays null on failure.
    virtual HRESULT DirectDrawCreate(IDirectDraw** directDraw) = 0;
    // The window's rectangle in screen coordinates and its client rectangle.
    virtual void GetWindowRects(HWND window, raster::RECT* windowRect, raster::RECT* clientRect) = 0;
};

} // namespace ddraw
} // namespace display
