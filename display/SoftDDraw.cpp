#include "display/SoftDDraw.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/CriticalSection.h"
#include "platform/SystemMemory.h"

namespace display {

using namespace ddraw;

namespace {

// An object nobody else holds: Release destroys it.
template <typename Interface>
class COwnedObject : public Interface {
public:
    HRESULT Release() override
    {
        delete this;
        return DD_OK;
    }
};

enum : HRESULT {
    DDERR_INVALIDPIXELFORMAT = 0x88760091,
    DDERR_NOCOLORKEY = 0x88760190,
    DDERR_DEVICEDOESNTOWNSURFACE = 0x887602BB,
};

// The colour bits of a 32-bit pixel; the fourth byte is unused.
constexpr uint32_t kColorMask = 0x00FFFFFF;

struct SPixels {
    uint8_t* bits = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;

    uint32_t* Row(int32_t y) const { return reinterpret_cast<uint32_t*>(bits + static_cast<ptrdiff_t>(y) * stride); }
};

void Describe32(DDSURFACEDESC* description, uint32_t width, uint32_t height, uint32_t caps)
{
    *description = DDSURFACEDESC{};
    description->dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
    description->dwWidth = width;
    description->dwHeight = height;
    description->ddpfPixelFormat.dwFlags = DDPF_RGB;
    description->ddpfPixelFormat.dwRGBBitCount = 32;
    description->ddpfPixelFormat.dwRBitMask = 0x00FF0000;
    description->ddpfPixelFormat.dwGBitMask = 0x0000FF00;
    description->ddpfPixelFormat.dwBBitMask = 0x000000FF;
    description->ddsCaps.dwCaps = caps;
}

// Copies one row of count pixels, leaving those whose colour equals key.
void CopyKeyed(uint32_t* target, const uint32_t* source, int32_t count, uint32_t key)
{
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t s = source[i];
        target[i] = (s & kColorMask) == key ? target[i] : s;
    }
}

void CopyKeyedRange(uint32_t* target, const uint32_t* source, int32_t count, uint32_t low, uint32_t high)
{
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t c = source[i] & kColorMask;
        if (c < low || c > high)
            target[i] = source[i];
    }
}

// One axis of a blit: destination start and length, source start and length (both inside their
// surfaces after clipping is applied per pixel).
int64_t SourceAt(int64_t dstOffset, int64_t dstLength, int64_t srcLength)
{
    return dstLength == srcLength ? dstOffset : (2 * dstOffset + 1) * srcLength / (2 * dstLength);
}

// Where a surface's pixels are not of the key's colours: runs of columns, row by row. An
// overlay of a few shapes is mostly key, so a keyed copy through the runs touches only the
// shapes.
struct SKeyRuns {
    struct SRun {
        int32_t first, end;
    };
    std::vector<size_t> rowStart; // runs of row y are [rowStart[y], rowStart[y + 1])
    std::vector<SRun> runs;
};

class CSoftSurface : public COwnedObject<IDirectDrawSurface> {
public:
    HRESULT Blt(const raster::RECT* targetRect, IDirectDrawSurface* source, const raster::RECT* sourceRect,
                uint32_t flags, const DDBLTFX* fx) override;

    HRESULT SetColorKey(uint32_t flags, const DDCOLORKEY* key) override
    {
        if (!(flags & DDCKEY_SRCBLT))
            return DDERR_UNSUPPORTED;
        px::CsLock lock(*m_pPixelLock);
        m_bKey = key != nullptr;
        if (key)
            m_key = *key;
        return DD_OK;
    }

    HRESULT IsLost() override { return DD_OK; }

    HRESULT Lock(const raster::RECT* rect, DDSURFACEDESC* description, uint32_t) override PX_NO_THREAD_SAFETY_ANALYSIS
    {
        if (rect || !description)
            return DDERR_INVALIDPARAMS;
        m_pPixelLock->Enter();
        SPixels pixels;
        if (m_bLocked || !Acquire(&pixels)) {
            const HRESULT hr = m_bLocked ? DDERR_SURFACEBUSY : DDERR_SURFACELOST;
            m_pPixelLock->Leave();
            return hr;
        }
        GetSurfaceDesc(description);
        description->dwFlags |= DDSD_PITCH;
        description->lPitch = pixels.stride;
        description->lpSurface = pixels.bits;
        m_bLocked = true;
        return DD_OK;
    }

    HRESULT Unlock(void*) override PX_NO_THREAD_SAFETY_ANALYSIS
    {
        if (!m_bLocked)
            return DDERR_NOTLOCKED;
        m_bLocked = false;
        Changed();
        Unacquire();
        m_pPixelLock->Leave();
        return DD_OK;
    }

    // Every blit is clipped to the surface, which for the primary is the window itself.
    HRESULT SetClipper(IDirectDrawClipper*) override { return DD_OK; }

    // The pixels for one access, given back with Unacquire.
    virtual bool Acquire(SPixels* pixels) = 0;
    virtual void Unacquire() = 0;
    // The runs of the surface's pixels outside [low, high], or null where none are kept.
    virtual const SKeyRuns* KeyRuns(uint32_t, uint32_t) { return nullptr; }

protected:
    explicit CSoftSurface(std::shared_ptr<px::CriticalSection> pixelLock) : m_pPixelLock(std::move(pixelLock)) {}
    ~CSoftSurface() override = default;
    // The pixels may have changed: what was derived from them is stale.
    void Changed() { ++m_dwGeneration; }
    bool CopyThroughRuns(const SPixels& target, const raster::RECT& to, CSoftSurface* from, const SPixels& source,
                         const raster::RECT& in);

    // The pixels of every surface of one DirectDraw object. A DC or a lock holds it until it is given
    // back, as DirectDraw locks a surface with a DC out, so that a blit on another thread waits for
    // the drawing to end instead of copying half of it; a blit holds it while it copies.
    const std::shared_ptr<px::CriticalSection> m_pPixelLock;
    uint32_t m_dwGeneration = 0;

    bool m_bKey = false;
    DDCOLORKEY m_key;
    bool m_bLocked = false;
};

HRESULT Fill(const SPixels& target, const raster::RECT& rect, uint32_t value)
{
    const int32_t left = std::max(rect.left, 0), right = std::min(rect.right, target.width);
    const int32_t top = std::max(rect.top, 0), bottom = std::min(rect.bottom, target.height);
    for (int32_t y = top; y < bottom; ++y) {
        uint32_t* row = target.Row(y);
        std::fill(row + left, row + std::max(left, right), value);
    }
    return DD_OK;
}

// Copies source's rectangle into target's, scaling by the nearest pixel, leaving out pixels
// outside either surface and, with a key, pixels of the key's colours.
void Copy(const SPixels& target, const raster::RECT& to, const SPixels& source, const raster::RECT& from,
          const DDCOLORKEY* key)
{
    const int64_t dw = to.right - to.left, dh = to.bottom - to.top;
    const int64_t sw = from.right - from.left, sh = from.bottom - from.top;
    const int64_t x0 = std::max<int64_t>(0, -static_cast<int64_t>(to.left));
    const int64_t x1 = std::min<int64_t>(dw, static_cast<int64_t>(target.width) - to.left);
    if (x0 >= x1)
        return;
    const uint32_t low = key ? key->dwColorSpaceLowValue & kColorMask : 0;
    const uint32_t high = key ? key->dwColorSpaceHighValue & kColorMask : 0;
    // Columns of the source for each target column, -1 outside the source.
    std::vector<int32_t> columns;
    bool straight = sw == dw;
    if (!straight) {
        columns.resize(static_cast<size_t>(x1 - x0));
        for (int64_t x = x0; x < x1; ++x) {
            const int64_t sx = from.left + SourceAt(x, dw, sw);
            columns[static_cast<size_t>(x - x0)] = sx >= 0 && sx < source.width ? static_cast<int32_t>(sx) : -1;
        }
    } else if (from.left + x0 < 0 || from.left + x1 > source.width) {
        // Straight copies need the whole run inside the source: narrow it.
        const int64_t a = std::max<int64_t>(x0, -static_cast<int64_t>(from.left));
        const int64_t b = std::min<int64_t>(x1, static_cast<int64_t>(source.width) - from.left);
        if (a >= b)
            return;
        Copy(target, {static_cast<int32_t>(to.left + a), to.top, static_cast<int32_t>(to.left + b), to.bottom}, source,
             {static_cast<int32_t>(from.left + a), from.top, static_cast<int32_t>(from.left + b), from.bottom}, key);
        return;
    }
    for (int64_t y = 0; y < dh; ++y) {
        const int64_t ty = to.top + y, sy = from.top + SourceAt(y, dh, sh);
        if (ty < 0 || ty >= target.height || sy < 0 || sy >= source.height)
            continue;
        uint32_t* out = target.Row(static_cast<int32_t>(ty)) + to.left + x0;
        const uint32_t* in = source.Row(static_cast<int32_t>(sy));
        const int32_t count = static_cast<int32_t>(x1 - x0);
        if (straight) {
            in += from.left + x0;
            if (!key)
                memcpy(out, in, static_cast<size_t>(count) * 4);
            else if (low == high)
                CopyKeyed(out, in, count, low);
            else
                CopyKeyedRange(out, in, count, low, high);
            continue;
        }
        for (int32_t i = 0; i < count; ++i) {
            const int32_t sx = columns[static_cast<size_t>(i)];
            if (sx < 0)
                continue;
            const uint32_t s = in[sx];
            if (!key || (s & kColorMask) < low || (s & kColorMask) > high)
                out[i] = s;
        }
    }
}

HRESULT CSoftSurface::Blt(const raster::RECT* targetRect, IDirectDrawSurface* source, const raster::RECT* sourceRect,
                          uint32_t flags, const DDBLTFX* fx)
{
    px::CsLock lock(*m_pPixelLock);
    if (m_bLocked)
        return DDERR_SURFACEBUSY;
    SPixels target;
    if (flags & DDBLT_COLORFILL) {
        if (!fx)
            return DDERR_INVALIDPARAMS;
        if (!Acquire(&target))
            return DDERR_SURFACELOST;
        const raster::RECT whole = {0, 0, target.width, target.height};
        Fill(target, targetRect ? *targetRect : whole, fx->dwFillColor);
        Changed();
        Unacquire();
        return DD_OK;
    }
    if (!source || source == this)
        return DDERR_INVALIDPARAMS;
    CSoftSurface* from = static_cast<CSoftSurface*>(source);
    if (from->m_pPixelLock != m_pPixelLock)
        return DDERR_DEVICEDOESNTOWNSURFACE;
    if ((flags & DDBLT_KEYSRC) && !from->m_bKey)
        return DDERR_NOCOLORKEY;
    if (from->m_bLocked)
        return DDERR_SURFACEBUSY;
    SPixels pixels;
    if (!Acquire(&target))
        return DDERR_SURFACELOST;
    if (!from->Acquire(&pixels)) {
        Unacquire();
        return DDERR_SURFACELOST;
    }
    const raster::RECT to = targetRect ? *targetRect : raster::RECT{0, 0, target.width, target.height};
    const raster::RECT in = sourceRect ? *sourceRect : raster::RECT{0, 0, pixels.width, pixels.height};
    HRESULT hr = DD_OK;
    if (to.right < to.left || to.bottom < to.top || in.right < in.left || in.bottom < in.top)
        hr = DDERR_INVALIDRECT;
    else if (to.right > to.left && to.bottom > to.top && in.right > in.left && in.bottom > in.top &&
             !((flags & DDBLT_KEYSRC) && CopyThroughRuns(target, to, from, pixels, in)))
        Copy(target, to, pixels, in, (flags & DDBLT_KEYSRC) ? &from->m_key : nullptr);
    Changed();
    from->Unacquire();
    Unacquire();
    return hr;
}

bool CSoftSurface::CopyThroughRuns(const SPixels& target, const raster::RECT& to, CSoftSurface* from,
                                   const SPixels& source, const raster::RECT& in)
{
    const int32_t width = to.right - to.left, height = to.bottom - to.top;
    if (width != in.right - in.left || height != in.bottom - in.top || to.left < 0 || to.top < 0 ||
        to.right > target.width || to.bottom > target.height || in.left < 0 || in.top < 0 ||
        in.right > source.width || in.bottom > source.height)
        return false;
    const SKeyRuns* keyRuns = from->KeyRuns(from->m_key.dwColorSpaceLowValue & kColorMask,
                                            from->m_key.dwColorSpaceHighValue & kColorMask);
    if (!keyRuns)
        return false;
    for (int32_t y = 0; y < height; ++y) {
        const int32_t sy = in.top + y;
        const uint32_t* sourceRow = source.Row(sy);
        uint32_t* targetRow = target.Row(to.top + y) + to.left - in.left;
        for (size_t r = keyRuns->rowStart[sy]; r < keyRuns->rowStart[sy + 1]; ++r) {
            const int32_t first = std::max(keyRuns->runs[r].first, in.left);
            const int32_t end = std::min(keyRuns->runs[r].end, in.right);
            if (first < end)
                memcpy(targetRow + first, sourceRow + first, static_cast<size_t>(end - first) * 4);
        }
    }
    return true;
}

class COffscreenSurface final : public CSoftSurface {
public:
    static COffscreenSurface* Create(uint32_t width, uint32_t height, uint32_t caps,
                                     const std::shared_ptr<px::CriticalSection>& pixelLock)
    {
        if (width == 0 || height == 0 || width > static_cast<uint32_t>(raster::CBitmap::kMaxSide) ||
            height > static_cast<uint32_t>(raster::CBitmap::kMaxSide))
            return nullptr;
        COffscreenSurface* surface = new (std::nothrow) COffscreenSurface(caps, pixelLock);
        if (!surface)
            return nullptr;
        surface->m_hBitmap = raster::CreateCompatibleBitmap(nullptr, static_cast<int32_t>(width), static_cast<int32_t>(height));
        surface->m_hDC = raster::CreateCompatibleDC(nullptr);
        if (!surface->m_hBitmap || !surface->m_hDC) {
            surface->Release();
            return nullptr;
        }
        surface->m_hOld = raster::SelectObject(surface->m_hDC, surface->m_hBitmap);
        return surface;
    }

    HRESULT GetDC(raster::HDC* hdc) override PX_NO_THREAD_SAFETY_ANALYSIS
    {
        if (!hdc)
            return DDERR_INVALIDPARAMS;
        m_pPixelLock->Enter();
        if (m_bDCOut) {
            m_pPixelLock->Leave();
            return DDERR_DCALREADYCREATED;
        }
        m_bDCOut = true;
        *hdc = m_hDC;
        return DD_OK;
    }

    HRESULT ReleaseDC(raster::HDC hdc) override PX_NO_THREAD_SAFETY_ANALYSIS
    {
        if (!m_bDCOut || hdc != m_hDC)
            return DDERR_INVALIDPARAMS;
        m_bDCOut = false;
        Changed();
        m_pPixelLock->Leave();
        return DD_OK;
    }

    HRESULT GetSurfaceDesc(DDSURFACEDESC* description) override
    {
        if (!description)
            return DDERR_INVALIDPARAMS;
        Describe32(description, static_cast<uint32_t>(m_hBitmap->Width()), static_cast<uint32_t>(m_hBitmap->Height()),
                   m_dwCaps);
        return DD_OK;
    }

    bool Acquire(SPixels* pixels) override
    {
        *pixels = SPixels{m_hBitmap->Bits(), m_hBitmap->Width(), m_hBitmap->Height(), m_hBitmap->Stride()};
        return true;
    }
    void Unacquire() override {}

    const SKeyRuns* KeyRuns(uint32_t low, uint32_t high) override
    {
        if (m_bRunsKnown && m_dwRunsGeneration == m_dwGeneration && m_dwRunsLow == low && m_dwRunsHigh == high)
            return &m_runs;
        m_bRunsKnown = false;
        try {
            m_runs.rowStart.assign(static_cast<size_t>(m_hBitmap->Height()) + 1, 0);
            m_runs.runs.clear();
            const int32_t width = m_hBitmap->Width();
            for (int32_t y = 0; y < m_hBitmap->Height(); ++y) {
                const uint32_t* row = reinterpret_cast<const uint32_t*>(m_hBitmap->Row(y));
                for (int32_t x = 0; x < width;) {
                    auto keyed = [&](int32_t i) {
                        const uint32_t c = row[i] & kColorMask;
                        return c >= low && c <= high;
                    };
                    while (x < width && keyed(x))
                        ++x;
                    const int32_t first = x;
                    while (x < width && !keyed(x))
                        ++x;
                    if (first < x)
                        m_runs.runs.push_back({first, x});
                }
                m_runs.rowStart[static_cast<size_t>(y) + 1] = m_runs.runs.size();
            }
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        m_bRunsKnown = true;
        m_dwRunsGeneration = m_dwGeneration;
        m_dwRunsLow = low;
        m_dwRunsHigh = high;
        return &m_runs;
    }

private:
    // Whatever memory was asked for, the surface lives in the process's memory.
    COffscreenSurface(uint32_t caps, const std::shared_ptr<px::CriticalSection>& pixelLock)
        : CSoftSurface(pixelLock), m_dwCaps((caps & ~(DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM | DDSCAPS_NONLOCALVIDMEM)) | DDSCAPS_SYSTEMMEMORY)
    {
    }
    ~COffscreenSurface() override
    {
        if (m_hDC && m_hOld)
            raster::SelectObject(m_hDC, m_hOld);
        raster::DeleteObject(m_hBitmap);
        raster::DeleteDC(m_hDC);
    }

    uint32_t m_dwCaps;
    raster::HBITMAP m_hBitmap = nullptr;
    raster::HDC m_hDC = nullptr;
    raster::HGDIOBJ m_hOld = nullptr;
    bool m_bDCOut = false;
    SKeyRuns m_runs;
    bool m_bRunsKnown = false;
    uint32_t m_dwRunsGeneration = 0, m_dwRunsLow = 0, m_dwRunsHigh = 0;
};

class CPrimarySurface final : public CSoftSurface {
public:
    CPrimarySurface(HWND window, const std::shared_ptr<px::CriticalSection>& pixelLock)
        : CSoftSurface(pixelLock), m_hWindow(window)
    {
    }

    HRESULT GetDC(raster::HDC* hdc) override PX_NO_THREAD_SAFETY_ANALYSIS
    {
        if (!hdc)
            return DDERR_INVALIDPARAMS;
        m_pPixelLock->Enter();
        HRESULT hr = DD_OK;
        SPixels pixels;
        if (m_hDC) {
            hr = DDERR_DCALREADYCREATED;
        } else if (!Acquire(&pixels)) {
            hr = DDERR_SURFACELOST;
        } else {
            m_hDC = raster::CreateSurfaceDC(pixels.bits, pixels.width, pixels.height, pixels.stride);
            if (!m_hDC) {
                Unacquire();
                hr = DDERR_CANTCREATEDC;
            }
        }
        if (FAILED(hr)) {
            m_pPixelLock->Leave();
            return hr;
        }
        *hdc = m_hDC;
        return DD_OK;
    }

    HRESULT ReleaseDC(raster::HDC hdc) override PX_NO_THREAD_SAFETY_ANALYSIS
    {
        if (!m_hDC || hdc != m_hDC)
            return DDERR_INVALIDPARAMS;
        raster::DeleteDC(m_hDC);
        m_hDC = nullptr;
        Unacquire();
        m_pPixelLock->Leave();
        return DD_OK;
    }

    HRESULT GetSurfaceDesc(DDSURFACEDESC* description) override
    {
        if (!description)
            return DDERR_INVALIDPARAMS;
        raster::RECT client{};
        m_hWindow->GetClientRect(&client);
        Describe32(description, static_cast<uint32_t>(std::max(0, client.right - client.left)),
                   static_cast<uint32_t>(std::max(0, client.bottom - client.top)),
                   DDSCAPS_PRIMARYSURFACE | DDSCAPS_SYSTEMMEMORY);
        return DD_OK;
    }

    bool Acquire(SPixels* pixels) override
    {
        if (m_nAcquired > 0) {
            *pixels = m_pixels;
            ++m_nAcquired;
            return true;
        }
        WindowPixels surface;
        if (!m_hWindow->AcquirePixels(&surface))
            return false;
        if (!surface.pixels || surface.width <= 0 || surface.height <= 0 || surface.stride < surface.width * 4) {
            m_hWindow->ReleasePixels(surface);
            return false;
        }
        m_surface = surface;
        m_pixels = SPixels{surface.pixels, surface.width, surface.height, surface.stride};
        *pixels = m_pixels;
        m_nAcquired = 1;
        return true;
    }

    void Unacquire() override
    {
        if (m_nAcquired > 0 && --m_nAcquired == 0)
            m_hWindow->ReleasePixels(m_surface);
    }

private:
    ~CPrimarySurface() override
    {
        if (m_hDC) {
            raster::DeleteDC(m_hDC);
            Unacquire();
        }
    }

    HWND m_hWindow;
    raster::HDC m_hDC = nullptr;
    int m_nAcquired = 0;
    WindowPixels m_surface;
    SPixels m_pixels;
};

class CSoftClipper final : public COwnedObject<IDirectDrawClipper> {
public:
    // The window is the primary surface itself: nothing to clip beyond its edges.
    HRESULT SetHWnd(uint32_t, HWND) override { return DD_OK; }

private:
    ~CSoftClipper() override = default;
};

uint32_t Clamp32(uint64_t value)
{
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

class CSoftDirectDraw7 final : public COwnedObject<IDirectDraw7> {
public:
    HRESULT GetAvailableVidMem(const DDSCAPS2* caps, uint32_t* total, uint32_t* free) override
    {
        if (!caps || !total || !free)
            return DDERR_INVALIDPARAMS;
        *total = Clamp32(px::PhysicalMemory());
        *free = Clamp32(px::AvailableMemory());
        return DD_OK;
    }

private:
    ~CSoftDirectDraw7() override = default;
};

class CSoftDirectDraw final : public COwnedObject<IDirectDraw> {
public:
    explicit CSoftDirectDraw(std::shared_ptr<px::CriticalSection> pixelLock) : m_pPixelLock(std::move(pixelLock)) {}

    HRESULT GetCaps(DDCAPS* driver, DDCAPS* emulation) override
    {
        DDCAPS caps;
        caps.dwCaps = DDCAPS_NOHARDWARE | DDCAPS_BLT | DDCAPS_COLORKEY;
        caps.dwCaps2 = DDCAPS2_CANRENDERWINDOWED;
        caps.dwCKeyCaps = DDCKEYCAPS_SRCBLT;
        caps.dwSVBCaps = caps.dwNLVBCaps = caps.dwCaps;
        caps.dwSVBCKeyCaps = caps.dwNLVBCKeyCaps = caps.dwCKeyCaps;
        caps.dwVidMemTotal = Clamp32(px::PhysicalMemory());
        caps.dwVidMemFree = Clamp32(px::AvailableMemory());
        if (driver)
            *driver = caps;
        if (emulation)
            *emulation = caps;
        return driver || emulation ? DD_OK : DDERR_INVALIDPARAMS;
    }

    HRESULT GetDisplayMode(DDSURFACEDESC* description) override
    {
        if (!description)
            return DDERR_INVALIDPARAMS;
        raster::RECT client{};
        if (m_hWindow)
            m_hWindow->GetClientRect(&client);
        Describe32(description, static_cast<uint32_t>(std::max(0, client.right - client.left)),
                   static_cast<uint32_t>(std::max(0, client.bottom - client.top)), 0);
        return DD_OK;
    }

    HRESULT QueryDirectDraw7(IDirectDraw7** directDraw7) override
    {
        if (!directDraw7)
            return DDERR_INVALIDPARAMS;
        *directDraw7 = new (std::nothrow) CSoftDirectDraw7;
        return *directDraw7 ? DD_OK : DDERR_OUTOFMEMORY;
    }

    HRESULT SetCooperativeLevel(HWND window, uint32_t) override
    {
        m_hWindow = window;
        return DD_OK;
    }

    HRESULT CreateSurface(DDSURFACEDESC* description, IDirectDrawSurface** surface) override
    {
        if (!description || !surface || !(description->dwFlags & DDSD_CAPS))
            return DDERR_INVALIDPARAMS;
        if (description->ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE) {
            if (!m_hWindow)
                return DDERR_NOCOOPERATIVELEVELSET;
            *surface = new (std::nothrow) CPrimarySurface(m_hWindow, m_pPixelLock);
            return *surface ? DD_OK : DDERR_OUTOFMEMORY;
        }
        if ((description->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT))
            return DDERR_INVALIDPARAMS;
        if ((description->dwFlags & DDSD_PIXELFORMAT) && description->ddpfPixelFormat.dwRGBBitCount != 32)
            return DDERR_INVALIDPIXELFORMAT;
        *surface = COffscreenSurface::Create(description->dwWidth, description->dwHeight, description->ddsCaps.dwCaps,
                                             m_pPixelLock);
        return *surface ? DD_OK : DDERR_OUTOFMEMORY;
    }

    HRESULT CreateClipper(uint32_t, IDirectDrawClipper** clipper) override
    {
        if (!clipper)
            return DDERR_INVALIDPARAMS;
        *clipper = new (std::nothrow) CSoftClipper;
        return *clipper ? DD_OK : DDERR_OUTOFMEMORY;
    }

    // No screen to wait for: the host shows the window's pixels when it paints.
    HRESULT WaitForVerticalBlank(uint32_t) override { return DD_OK; }

private:
    ~CSoftDirectDraw() override = default;
    const std::shared_ptr<px::CriticalSection> m_pPixelLock; // of all its surfaces
    HWND m_hWindow = nullptr;
};

class CSoftDriver final : public IDriver {
public:
    bool LoadModule() override { return true; }
    void FreeModule() override {}
    bool FindCreateFunction() override { return true; }

    HRESULT DirectDrawCreate(IDirectDraw** directDraw) override
    {
        if (!directDraw)
            return DDERR_INVALIDPARAMS;
        std::shared_ptr<px::CriticalSection> pixelLock(new (std::nothrow) px::CriticalSection);
        *directDraw = pixelLock ? new (std::nothrow) CSoftDirectDraw(std::move(pixelLock)) : nullptr;
        return *directDraw ? DD_OK : DDERR_OUTOFMEMORY;
    }

    // The primary is the window's own surface: both rectangles are its client area at (0, 0).
    void GetWindowRects(HWND window, raster::RECT* windowRect, raster::RECT* clientRect) override
    {
        raster::RECT client{};
        if (window)
            window->GetClientRect(&client);
        const raster::RECT area = {0, 0, client.right - client.left, client.bottom - client.top};
        *windowRect = area;
        *clientRect = area;
    }
};

} // namespace

std::unique_ptr<IDriver> CreateSoftDDrawDriver()
{
    return std::unique_ptr<IDriver>(new (std::nothrow) CSoftDriver);
}

} // namespace display
