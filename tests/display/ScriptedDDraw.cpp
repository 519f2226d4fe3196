#include "ScriptedDDraw.h"

#include <algorithm>
#include <cstring>

#include "raster/Gdi.h"

namespace displaytest {

using namespace display::ddraw;
using display::HWND;

SDDrawWorld::SDDrawWorld()
{
    caps.dwCaps = DDCAPS_BLT | DDCAPS_COLORKEY;
    caps.dwCaps2 = DDCAPS2_CANRENDERWINDOWED;
    caps.dwCKeyCaps = DDCKEYCAPS_SRCBLT;
    caps.dwVidMemFree = 1u << 20;
}

namespace {

using World = std::shared_ptr<SDDrawWorld>;

class CSurface final : public IDirectDrawSurface {
public:
    CSurface(World world, std::string name, uint32_t width, uint32_t height, uint32_t caps)
        : m_world(std::move(world)), m_name(std::move(name)), m_dwCaps(caps), m_dwSerial(m_world->nextSerial++)
    {
        ++m_world->nLive;
        raster::BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = static_cast<int32_t>(width);
        info.bmiHeader.biHeight = -static_cast<int32_t>(height);
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = static_cast<uint16_t>(m_world->dwBitCount);
        void* bits = nullptr;
        m_hBitmap = raster::CreateDIBSection(nullptr, &info, raster::DIB_RGB_COLORS, &bits);
        m_hDC = raster::CreateCompatibleDC(nullptr);
        m_hOld = raster::SelectObject(m_hDC, m_hBitmap);
        memset(m_hBitmap->Bits(), 0xAB, static_cast<size_t>(m_hBitmap->Stride()) * height);
    }

    HRESULT Release() override
    {
        m_world->Call("Release", m_name);
        --m_world->nLive;
        delete this;
        return DD_OK;
    }
    HRESULT GetDC(raster::HDC* hdc) override
    {
        const HRESULT hr = m_world->Call("GetDC", m_name);
        if (!FAILED(hr))
            *hdc = m_hDC;
        return hr;
    }
    HRESULT ReleaseDC(raster::HDC) override { return m_world->Call("ReleaseDC", m_name); }

    HRESULT Blt(const raster::RECT* targetRect, IDirectDrawSurface* source, const raster::RECT* sourceRect,
                uint32_t flags, const DDBLTFX* fx) override
    {
        auto* from = static_cast<CSurface*>(source);
        std::string arguments = m_name + "<-" + (from ? from->m_name : "fill");
        if (flags & DDBLT_KEYSRC)
            arguments += ",key";
        for (const raster::RECT* r : {targetRect, sourceRect}) {
            if (r)
                arguments += "," + std::to_string(r->left) + " " + std::to_string(r->top) + " " +
                             std::to_string(r->right) + " " + std::to_string(r->bottom);
        }
        const HRESULT hr = m_world->Call("Blt", arguments);
        if (FAILED(hr))
            return hr;
        const int bytes = m_hBitmap->BytesPerPixel();
        if (flags & DDBLT_COLORFILL) {
            for (int32_t y = 0; y < m_hBitmap->Height(); ++y)
                for (int32_t x = 0; x < m_hBitmap->Width(); ++x)
                    memcpy(m_hBitmap->Pixel(x, y), &fx->dwFillColor, static_cast<size_t>(bytes));
            return DD_OK;
        }
        // Unscaled copies of the overlapping part; the key compares whole pixel values.
        const raster::RECT to = targetRect ? *targetRect : raster::RECT{0, 0, m_hBitmap->Width(), m_hBitmap->Height()};
        const raster::RECT in = sourceRect ? *sourceRect : raster::RECT{0, 0, from->m_hBitmap->Width(), from->m_hBitmap->Height()};
        for (int32_t y = 0; y < std::min(to.bottom - to.top, in.bottom - in.top); ++y) {
            for (int32_t x = 0; x < std::min(to.right - to.left, in.right - in.left); ++x) {
                if (!m_hBitmap->Contains(to.left + x, to.top + y) || !from->m_hBitmap->Contains(in.left + x, in.top + y))
                    continue;
                uint32_t value = 0;
                memcpy(&value, from->m_hBitmap->Pixel(in.left + x, in.top + y), static_cast<size_t>(bytes));
                if ((flags & DDBLT_KEYSRC) && value == from->m_dwKey)
                    continue;
                memcpy(m_hBitmap->Pixel(to.left + x, to.top + y), &value, static_cast<size_t>(bytes));
            }
        }
        return DD_OK;
    }

    HRESULT SetColorKey(uint32_t, const DDCOLORKEY* key) override
    {
        m_world->colorKeys[m_name] = key->dwColorSpaceLowValue;
        m_dwKey = key->dwColorSpaceLowValue;
        return m_world->Call("SetColorKey", m_name);
    }
    HRESULT IsLost() override
    {
        const HRESULT hr = m_world->Call("IsLost", m_name);
        return m_dwSerial < m_world->lostBefore ? DDERR_SURFACELOST : hr;
    }
    HRESULT Lock(const raster::RECT*, DDSURFACEDESC* description, uint32_t) override
    {
        const HRESULT hr = m_world->Call("Lock", m_name);
        if (FAILED(hr))
            return hr;
        GetSurfaceDesc(description);
        description->lpSurface = m_hBitmap->Bits();
        description->lPitch = m_hBitmap->Stride();
        return DD_OK;
    }
    HRESULT Unlock(void*) override { return m_world->Call("Unlock", m_name); }
    HRESULT GetSurfaceDesc(DDSURFACEDESC* description) override
    {
        *description = DDSURFACEDESC{};
        description->dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
        description->dwWidth = static_cast<uint32_t>(m_hBitmap->Width());
        description->dwHeight = static_cast<uint32_t>(m_hBitmap->Height());
        description->ddpfPixelFormat.dwFlags = DDPF_RGB;
        description->ddpfPixelFormat.dwRGBBitCount = m_world->dwBitCount;
        description->ddsCaps.dwCaps = m_dwCaps;
        return m_world->Call("GetSurfaceDesc", m_name);
    }
    HRESULT SetClipper(IDirectDrawClipper* clipper) override
    {
        return m_world->Call("SetClipper", m_name + (clipper ? ",clipper" : ",none"));
    }

private:
    ~CSurface() override
    {
        raster::SelectObject(m_hDC, m_hOld);
        raster::DeleteObject(m_hBitmap);
        raster::DeleteDC(m_hDC);
    }

    World m_world;
    std::string m_name;
    uint32_t m_dwCaps;
    uint32_t m_dwSerial;
    uint32_t m_dwKey = 0xFFFFFFFF;
    raster::HBITMAP m_hBitmap = nullptr;
    raster::HDC m_hDC = nullptr;
    raster::HGDIOBJ m_hOld = nullptr;
};

class CClipper final : public IDirectDrawClipper {
public:
    explicit CClipper(World world) : m_world(std::move(world)) { ++m_world->nLive; }
    HRESULT Release() override
    {
        m_world->Call("Release", "clipper");
        --m_world->nLive;
        delete this;
        return DD_OK;
    }
    HRESULT SetHWnd(uint32_t, HWND) override { return m_world->Call("SetHWnd"); }

private:
    ~CClipper() override = default;
    World m_world;
};

class CDirectDraw7 final : public IDirectDraw7 {
public:
    explicit CDirectDraw7(World world) : m_world(std::move(world)) { ++m_world->nLive; }
    HRESULT Release() override
    {
        --m_world->nLive;
        delete this;
        return DD_OK;
    }
    HRESULT GetAvailableVidMem(const DDSCAPS2* caps, uint32_t* total, uint32_t* free) override
    {
        const bool local = caps->dwCaps & DDSCAPS_LOCALVIDMEM;
        HRESULT hr = m_world->Call("GetAvailableVidMem", local ? "local" : "nonlocal");
        if (!m_world->bVidMemQuery)
            hr = DDERR_UNSUPPORTED;
        *total = 0;
        *free = local ? m_world->dwFreeLocal : 12345;
        return hr;
    }

private:
    ~CDirectDraw7() override = default;
    World m_world;
};

class CDirectDraw final : public IDirectDraw {
public:
    explicit CDirectDraw(World world) : m_world(std::move(world)) { ++m_world->nLive; }
    HRESULT Release() override
    {
        m_world->Call("Release", "directdraw");
        --m_world->nLive;
        delete this;
        return DD_OK;
    }
    HRESULT GetCaps(DDCAPS* driver, DDCAPS* emulation) override
    {
        *driver = m_world->caps;
        *emulation = DDCAPS{};
        return m_world->Call("GetCaps");
    }
    HRESULT GetDisplayMode(DDSURFACEDESC* description) override
    {
        *description = DDSURFACEDESC{};
        description->ddpfPixelFormat.dwRGBBitCount = m_world->dwBitCount;
        return m_world->Call("GetDisplayMode");
    }
    HRESULT QueryDirectDraw7(IDirectDraw7** directDraw7) override
    {
        const HRESULT hr = m_world->Call("QueryDirectDraw7");
        *directDraw7 = FAILED(hr) ? nullptr : new CDirectDraw7(m_world);
        return hr;
    }
    HRESULT SetCooperativeLevel(HWND, uint32_t flags) override
    {
        return m_world->Call("SetCooperativeLevel", std::to_string(flags));
    }
    HRESULT CreateSurface(DDSURFACEDESC* description, IDirectDrawSurface** surface) override
    {
        const bool primary = description->ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE;
        static const char* const kOffscreen[] = {"back", "simple", "video"};
        const std::string name = primary ? "primary" : kOffscreen[m_world->offscreenSincePrimary % 3];
        const HRESULT hr = m_world->Call("CreateSurface", name + "," + std::to_string(description->ddsCaps.dwCaps));
        if (FAILED(hr))
            return hr;
        if (primary) {
            m_world->offscreenSincePrimary = 0;
            const raster::RECT& c = m_world->clientRect;
            *surface = new CSurface(m_world, name, static_cast<uint32_t>(c.right - c.left),
                                    static_cast<uint32_t>(c.bottom - c.top), description->ddsCaps.dwCaps);
        } else {
            ++m_world->offscreenSincePrimary;
            *surface = new CSurface(m_world, name, description->dwWidth, description->dwHeight,
                                    description->ddsCaps.dwCaps);
        }
        return DD_OK;
    }
    HRESULT CreateClipper(uint32_t, IDirectDrawClipper** clipper) override
    {
        const HRESULT hr = m_world->Call("CreateClipper");
        if (!FAILED(hr))
            *clipper = new CClipper(m_world);
        return hr;
    }
    HRESULT WaitForVerticalBlank(uint32_t flags) override
    {
        return m_world->Call("WaitForVerticalBlank", std::to_string(flags));
    }

private:
    ~CDirectDraw() override = default;
    World m_world;
};

class CDriver final : public IDriver {
public:
    explicit CDriver(World world) : m_world(std::move(world)) {}
    bool LoadModule() override
    {
        m_world->Call("LoadModule");
        m_world->nModules += m_world->bLoadModule;
        return m_world->bLoadModule;
    }
    void FreeModule() override
    {
        m_world->Call("FreeModule");
        --m_world->nModules;
    }
    bool FindCreateFunction() override
    {
        m_world->Call("FindCreateFunction");
        return m_world->bFindCreate;
    }
    HRESULT DirectDrawCreate(IDirectDraw** directDraw) override
    {
        m_world->Call("DirectDrawCreate");
        *directDraw = m_world->bCreate ? new CDirectDraw(m_world) : nullptr;
        return m_world->bCreate ? DD_OK : m_world->createResult;
    }
    void GetWindowRects(HWND, raster::RECT* windowRect, raster::RECT* clientRect) override
    {
        *windowRect = m_world->windowRect;
        *clientRect = m_world->clientRect;
    }

private:
    World m_world;
};

} // namespace

std::unique_ptr<IDriver> CreateScriptedDDraw(std::shared_ptr<SDDrawWorld> world)
{
    return std::make_unique<CDriver>(std::move(world));
}

} // namespace displaytest
