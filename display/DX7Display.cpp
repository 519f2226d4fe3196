#include "display/DX7Display.h"

#include <cstdio>

#include "display/GraphicLog.h"

namespace display {

using namespace ddraw;

namespace {

constexpr SErrorText kDDrawErrors[] = {
    {0, "No error"},
    {0x80004001, "Unsupported operation"},
    {0x80004005, "Unknow error"},
    {0x8007000E, "Not enough memory"},
    {0x80070057, "Invalid function parameter"},
    {0x88760028, "No support is currently available"},
    {0x8876005A, "Height of the rectangle not a multiple of the required alignment"},
    {0x8876005F, "Incompatible primary surface"},
    {0x88760064, "Invalid capability bit"},
    {0x8876006E, "Invalid clip list"},
    {0x88760078, "Display mode not supported"},
    {0x88760082, "Invalid object"},
    {0x88760091, "Invalid pixel format"},
    {0x88760096, "Invalid rectangle"},
    {0x887600A0, "Locked surface"},
    {0x887600B4, "No hardware alpha blending"},
    {0x887600CD, "No clip list"},
    {0x887600D2, "No hardware color convertion"},
    {0x887600D4, "Cooperative level not set"},
    {0x887600DC, "No hardware color keying"},
    {0x887600E6, "No hardware support for visual surface flipping"},
    {0x887600FF, "Item not found"},
    {0x88760104, "No hardware DD overlay"},
    {0x8876010E, "Overlapping rectangle"},
    {0x88760118, "No hardware raster operation"},
    {0x88760136, "No hardware stretching"},
    {0x8876014F, "No hardware VSynch"},
    {0x8876015E, "No hardware Z DD overlay"},
    {0x88760168, "Hardware not available"},
    {0x8876017C, "Not enough video memory"},
    {0x88760183, "Palette busy"},
    {0x88760190, "No color key specified for this operation"},
    {0x887601AE, "Busy surface"},
    {0x887601B3, "Cannot lock surface"},
    {0x887601C2, "Surface lost"},
    {0x887601D6, "Requested surface height too big"},
    {0x887601E0, "Requested surface size too big"},
    {0x887601EA, "Requested surface width too big"},
    {0x887601FE, "Unsupported pixel format"},
    {0x88760219, "Vertical blank in progress"},
    {0x8876021C, "Still drawing"},
    {0x88760232, "Direct Draw object already allocated"},
    {0x88760234, "Primary surface already created"},
    {0x88760236, "Region too small"},
    {0x88760237, "Clip list already set to a window"},
    {0x88760238, "No clipper object attached to the surface"},
    {0x8876023C, "No palette attached to this surface"},
    {0x8876023D, "No hardware palette"},
    {0x8876023F, "No hardware Blit"},
    {0x88760241, "DD overlay not visible"},
    {0x88760242, "No position set for this DD overlay"},
    {0x88760243, "DD Overlay not at a valid position"},
    {0x88760244, "Not an DD overlay surface"},
    {0x88760245, "Exclusive mode already set"},
    {0x88760246, "Surface not flippable"},
    {0x88760248, "Surface not locked"},
    {0x88760249, "Cannot create DC"},
    {0x8876024A, "No DC created for this surface"},
    {0x8876024B, "This surface cannot be restored because it was created in a different mode"},
    {0x8876024C, "The surface cannot be restored because it is an implicitly created surface"},
    {0x8876024D, "Surface not palettized"},
    {0x8876026C, "DC already created"},
    {0x887602B2, "More data then the buffer size"},
    {0x887602B7, "Video port not active"},
    {0x887602BB, "Surface created with another device"},
};

constexpr COLORREF kRed = 0x000000FF;
constexpr COLORREF kMagenta = 0x00FF00FF;
constexpr COLORREF kNoColor = 0xFFFFFFFF;

template <typename T>
void SafeRelease(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

void Error(const char* text) { LogGraphic(LOG_LEVEL_ERROR, text); }

bool BlitAndKey(uint32_t caps, uint32_t keyCaps)
{
    return (caps & DDCAPS_BLT) && (caps & DDCAPS_COLORKEY) && (keyCaps & DDCKEYCAPS_SRCBLT);
}

} // namespace

CDX7Display::CDX7Display(HWND hWnd, std::unique_ptr<IDriver> driver) : m_pDriver(std::move(driver)), m_hWnd(hWnd) {}

CDX7Display::~CDX7Display()
{
    ReleaseAll();
}

void CDX7Display::LogDDrawError(const void*, HRESULT hr, const char* tag)
{
    PX_LOG_FORMAT(LOG_SECTION_GRAPHIC, hr == DD_OK ? LOG_LEVEL_MSG : LOG_LEVEL_ERROR, "DX7: [%s] %s", tag,
                  ErrorText(kDDrawErrors, std::size(kDDrawErrors), hr));
}

// ---- probe -------------------------------------------------------------------------------------

int32_t CDX7Display::Validate(uint32_t width, uint32_t height)
{
    if (width == 0 && height == 0)
        return Revalidate();
    return Probe(width, height);
}

bool CDX7Display::LoadDriver(const char* noModule, const char* noFunction)
{
    if (!m_bModuleLoaded) {
        if (!m_pDriver->LoadModule()) {
            m_dwLastError = 11;
            Error(noModule);
            return false;
        }
        m_bModuleLoaded = true;
    }
    m_bCreateFunction = m_pDriver->FindCreateFunction();
    if (!m_bCreateFunction) {
        m_dwLastError = 12;
        Error(noFunction);
        return false;
    }
    return true;
}

int32_t CDX7Display::Probe(uint32_t width, uint32_t height)
{
    px::CsLock lock(m_cs);
    if (!LoadDriver("DX7: No driver", "DX7: No create function")) {
        ReleaseAll();
        return 0;
    }
    SafeRelease(m_pDD);
    HRESULT hr = m_pDriver->DirectDrawCreate(&m_pDD);
    if (!m_pDD) {
        m_dwLastError = 13;
        if (FAILED(hr))
            LogDDrawError(nullptr, hr, "Validate->DirectDrawCreate");
        ReleaseAll();
        return 0;
    }
    const int32_t hardware = HasHardware();
    const int32_t windowed = CanRenderWindowed();
    const int32_t memory = CheckVideoMemory(width, height);
    const int32_t colorKey = HasColorKeyBlit();
    if (!hardware) {
        m_dwLastError = 3;
        LogGraphic(LOG_LEVEL_WARN, "DX7: No hardware acceleration");
    }
    if (!windowed) {
        m_dwLastError = 4;
        Error("DX7: Cannot display in window mode");
    }
    if (!memory) {
        m_dwLastError = 5;
        LogGraphic(LOG_LEVEL_WARN, "DX7: Not enough memory");
    }
    if (!colorKey) {
        m_dwLastError = 6;
        Error("DX7: No color keying");
    }
    ReleaseAll();
    return windowed && memory ? 1 : 0;
}

bool CDX7Display::GetDriverCaps(DDCAPS* caps, const char* tag)
{
    DDCAPS emulation;
    HRESULT hr = m_pDD->GetCaps(caps, &emulation);
    if (FAILED(hr)) {
        LogDDrawError(m_pDD, hr, tag);
        return false;
    }
    return true;
}

int32_t CDX7Display::HasHardware()
{
    DDCAPS driver;
    return GetDriverCaps(&driver, "HasHardware->GetCaps") && !(driver.dwCaps & DDCAPS_NOHARDWARE) ? 1 : 0;
}

int32_t CDX7Display::CanRenderWindowed()
{
    DDCAPS driver;
    return GetDriverCaps(&driver, "CanRenderWindowed->GetCaps") && (driver.dwCaps2 & DDCAPS2_CANRENDERWINDOWED) ? 1 : 0;
}

int32_t CDX7Display::HasColorKeyBlit()
{
    DDCAPS driver;
    if (!GetDriverCaps(&driver, "HasColorKeyBlit->GetCaps"))
        return 0;
    return BlitAndKey(driver.dwCaps, driver.dwCKeyCaps) || BlitAndKey(driver.dwSVBCaps, driver.dwSVBCKeyCaps) ||
                   BlitAndKey(driver.dwNLVBCaps, driver.dwNLVBCKeyCaps)
               ? 1
               : 0;
}

int32_t CDX7Display::CheckVideoMemory(uint32_t width, uint32_t height)
{
    DDSURFACEDESC mode;
    HRESULT hr = m_pDD->GetDisplayMode(&mode);
    if (FAILED(hr)) {
        LogDDrawError(m_pDD, hr, "CheckVideoMemory->GetDisplayMode");
        return 0;
    }
    const uint64_t needed = static_cast<uint64_t>(mode.ddpfPixelFormat.dwRGBBitCount / 8) * width * height;
    IDirectDraw7* directDraw7 = nullptr;
    if (FAILED(m_pDD->QueryDirectDraw7(&directDraw7)) || !directDraw7) {
        Error("DX7: Error on m_pDD->QueryInterface(IID_IDirectDraw7, (LPVOID*)&lpDD)");
        return 0;
    }
    DDCAPS driver, emulation;
    const bool capsKnown = !FAILED(m_pDD->GetCaps(&driver, &emulation));
    uint32_t total = 0, freeLocal = 0, freeNonLocal = 0;
    DDSCAPS2 local;
    local.dwCaps = DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM;
    if (FAILED(directDraw7->GetAvailableVidMem(&local, &total, &freeLocal)))
        freeLocal = capsKnown ? driver.dwVidMemFree : 0;
    DDSCAPS2 nonLocal;
    nonLocal.dwCaps = DDSCAPS_VIDEOMEMORY | DDSCAPS_NONLOCALVIDMEM;
    directDraw7->GetAvailableVidMem(&nonLocal, &total, &freeNonLocal); // asked, not used
    directDraw7->Release();
    if (freeLocal > 3 * needed)
        return capsKnown && BlitAndKey(driver.dwCaps, driver.dwCKeyCaps) ? 1 : 0;
    if (SelfTestSurfaces(width, height))
        return 1;
    PX_LOG_FORMAT(LOG_SECTION_GRAPHIC, LOG_LEVEL_ERROR, "DX7: Not enough video memory Available:%llu Needed:%llu",
                  static_cast<unsigned long long>(freeLocal), static_cast<unsigned long long>(3 * needed));
    return 0;
}

bool CDX7Display::DrawsRed(IDirectDrawSurface* surface, uint32_t width, uint32_t height)
{
    HDC dc = nullptr;
    if (FAILED(surface->GetDC(&dc)) || !dc)
        return false;
    raster::HBRUSH brush = raster::CreateSolidBrush(kRed);
    raster::HPEN pen = raster::CreatePen(raster::PS_SOLID, 1, kRed);
    raster::HGDIOBJ oldBrush = raster::SelectObject(dc, brush);
    raster::HGDIOBJ oldPen = raster::SelectObject(dc, pen);
    raster::Rectangle(dc, 0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height));
    const bool red = raster::GetPixel(dc, 0, 0) == kRed;
    raster::SelectObject(dc, oldBrush);
    raster::SelectObject(dc, oldPen);
    raster::DeleteObject(brush);
    raster::DeleteObject(pen);
    surface->ReleaseDC(dc);
    return red;
}

int32_t CDX7Display::SelfTestSurfaces(uint32_t width, uint32_t height)
{
    m_dwOverlayWidth = m_dwVideoWidth = width;
    m_dwOverlayHeight = m_dwVideoHeight = height;
    if (FAILED(m_pDD->SetCooperativeLevel(m_hWnd, DDSCL_NORMAL)))
        return 0;
    if (!CreatePrimarySurface() || !CreateBackSurface() || !CreateSimpleSurface() || !CreateVideoSurface())
        return 0;
    const raster::RECT all = {0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
    if (FAILED(m_pDDSBack->Blt(&all, m_pDDSVideo, &all, DDBLT_WAIT, nullptr)) ||
        FAILED(m_pDDSPrimary->Blt(&all, m_pDDSBack, &all, DDBLT_WAIT, nullptr)))
        return 0;
    for (IDirectDrawSurface* surface : {m_pDDSVideo, m_pDDSSimple, m_pDDSBack}) {
        if (!DrawsRed(surface, width, height))
            return 0;
    }
    DDBLTFX fx;
    fx.dwFillColor = MatchSurfaceColor(m_pDDSSimple, m_crTransparent);
    if (FAILED(m_pDDSSimple->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx)))
        return 0;
    HDC dc = nullptr;
    if (FAILED(m_pDDSSimple->GetDC(&dc)) || !dc)
        return 0;
    const bool keyed = raster::GetPixel(dc, 0, 0) == m_crTransparent;
    m_pDDSSimple->ReleaseDC(dc);
    if (!keyed || FAILED(m_pDDSBack->Blt(nullptr, m_pDDSSimple, nullptr, DDBLT_KEYSRC | DDBLT_WAIT, nullptr)))
        return 0;
    if (FAILED(m_pDDSBack->GetDC(&dc)) || !dc)
        return 0;
    const bool stillRed = raster::GetPixel(dc, 0, 0) == kRed;
    m_pDDSBack->ReleaseDC(dc);
    if (!stillRed)
        return 0;
    ReleaseSurfaces();
    m_dwOverlayWidth = m_dwOverlayHeight = m_dwVideoWidth = m_dwVideoHeight = 0;
    return 1;
}

// ---- colours -----------------------------------------------------------------------------------

uint32_t CDX7Display::MatchSurfaceColor(IDirectDrawSurface* surface, COLORREF color)
{
    COLORREF saved = kNoColor;
    HDC dc = nullptr;
    if (color != kNoColor && !FAILED(surface->GetDC(&dc)) && dc) {
        saved = raster::GetPixel(dc, 0, 0);
        raster::SetPixel(dc, 0, 0, color);
        surface->ReleaseDC(dc);
    }
    DDSURFACEDESC description;
    HRESULT hr;
    while ((hr = surface->Lock(nullptr, &description, 0)) == DDERR_WASSTILLDRAWING) {
    }
    uint32_t value = kNoColor;
    if (hr == DD_OK) {
        value = *static_cast<const uint32_t*>(description.lpSurface);
        const uint32_t bits = description.ddpfPixelFormat.dwRGBBitCount;
        if (bits < 32)
            value &= (1u << bits) - 1;
        surface->Unlock(nullptr);
    }
    if (color != kNoColor && saved != kNoColor && !FAILED(surface->GetDC(&dc)) && dc) {
        raster::SetPixel(dc, 0, 0, saved);
        surface->ReleaseDC(dc);
    }
    return value;
}

void CDX7Display::DescribeSurface(IDirectDrawSurface* surface, char text[100])
{
    DDSURFACEDESC description;
    if (FAILED(surface->GetSurfaceDesc(&description))) {
        text[0] = '\0';
        return;
    }
    const uint32_t caps = description.ddsCaps.dwCaps;
    const char* memory = "";
    if (caps & DDSCAPS_LOCALVIDMEM)
        memory = "Video";
    if (caps & DDSCAPS_NONLOCALVIDMEM)
        memory = "Non-Local Video";
    if (caps & DDSCAPS_SYSTEMMEMORY)
        memory = "System";
    snprintf(text, 100, "%d bits(%d,%d) %s", static_cast<int32_t>(description.ddpfPixelFormat.dwRGBBitCount),
             static_cast<int32_t>(description.dwWidth), static_cast<int32_t>(description.dwHeight), memory);
}

void CDX7Display::LogDescription(IDirectDrawSurface* surface, const char* tagFormat)
{
    char text[100];
    DescribeSurface(surface, text);
    char tag[256];
    snprintf(tag, sizeof tag, tagFormat, text);
    LogDDrawError(surface, DD_OK, tag);
}

// ---- surfaces ----------------------------------------------------------------------------------

void CDX7Display::InitDD(HWND hWnd)
{
    m_hWnd = hWnd;
    if (!LoadDriver("DX7: No DX7 driver", "DX7: No create fonction"))
        return;
    SafeRelease(m_pDD);
    HRESULT hr = m_pDriver->DirectDrawCreate(&m_pDD);
    if (!m_pDD) {
        m_dwLastError = 13;
        LogDDrawError(nullptr, hr, "InitDD->DirectDrawCreate");
        return;
    }
    hr = m_pDD->SetCooperativeLevel(hWnd, DDSCL_NORMAL);
    if (FAILED(hr))
        LogDDrawError(m_pDD, hr, "InitDD->SetCooperativeLevel");
}

void CDX7Display::InitSurfaces(int32_t overlayWidth, int32_t overlayHeight, int32_t videoWidth, int32_t videoHeight)
{
    m_dwOverlayWidth = static_cast<uint32_t>(overlayWidth);
    m_dwOverlayHeight = static_cast<uint32_t>(overlayHeight);
    m_dwVideoWidth = static_cast<uint32_t>(videoWidth);
    m_dwVideoHeight = static_cast<uint32_t>(videoHeight);
    char sizes[96];
    snprintf(sizes, sizeof sizes, " Overlay(%d %d) Video(%d %d)", overlayWidth, overlayHeight, videoWidth, videoHeight);
    if (overlayWidth == 0 || overlayHeight == 0 || videoWidth == 0 || videoHeight == 0) {
        m_dwLastError = 14;
        PX_LOG_FORMAT(LOG_SECTION_GRAPHIC, LOG_LEVEL_ERROR, "DX7: Invalid surface size%s", sizes);
        return;
    }
    if (CreateSurfaceSet(sizes))
        PX_LOG_FORMAT(LOG_SECTION_GRAPHIC, LOG_LEVEL_MSG, "DX7: Surfaces created%s", sizes);
}

bool CDX7Display::CreateSurfaceSet(const char* sizes)
{
    int32_t primary, back, simple, video;
    {
        px::CsLock lock(m_cs);
        primary = CreatePrimarySurface();
        back = CreateBackSurface();
        simple = CreateSimpleSurface();
        video = CreateVideoSurface();
    }
    const SCreation steps[] = {
        {primary, 7, "DX7: Cannot Create Primary surface"},
        {simple, 8, "DX7: Cannot Create Overlay surface"},
        {video, 9, "DX7: Cannot Create Video surface"},
        {back, 10, "DX7: Cannot Create Back surface"},
    };
    return ReportFirstFailure(steps, sizes, &m_dwLastError);
}

int32_t CDX7Display::CreatePrimarySurface()
{
    if (!m_pDD) {
        Error("DX7: CreatePrimarySurface NULL surface");
        return 0;
    }
    if (m_pDDSPrimary)
        m_pDDSPrimary->SetClipper(nullptr);
    SafeRelease(m_pDDSPrimary);
    SafeRelease(m_pClipper);
    DDSURFACEDESC description;
    description.dwFlags = DDSD_CAPS;
    description.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    HRESULT hr = m_pDD->CreateSurface(&description, &m_pDDSPrimary);
    if (FAILED(hr)) {
        m_pDDSPrimary = nullptr;
        LogDDrawError(m_pDD, hr, "CreatePrimarySurface->CreateSurface");
        return 0;
    }
    hr = m_pDD->CreateClipper(0, &m_pClipper);
    if (FAILED(hr)) {
        m_pClipper = nullptr;
        LogDDrawError(m_pDD, hr, "CreatePrimarySurface->CreateClipper");
        return 0;
    }
    hr = m_pClipper->SetHWnd(0, m_hWnd);
    if (FAILED(hr)) {
        LogDDrawError(m_pClipper, hr, "CreatePrimarySurface->SetHWnd");
        return 0;
    }
    hr = m_pDDSPrimary->SetClipper(m_pClipper);
    if (FAILED(hr)) {
        LogDDrawError(m_pDDSPrimary, hr, "CreatePrimarySurface->SetClipper");
        return 0;
    }
    LogDescription(m_pDDSPrimary, "CreatePrimarySurface->m_pDDSPrimary[%s]-");
    return 1;
}

int32_t CDX7Display::CreateOffscreenSurface(IDirectDrawSurface** surface, uint32_t firstCaps, uint32_t secondCaps,
                                            const char* nullSurface, const char* tag, const char* describeTag)
{
    if (!m_pDD || !m_pDDSPrimary) {
        Error(nullSurface);
        return 0;
    }
    SafeRelease(*surface);
    DDSURFACEDESC description;
    HRESULT hr = m_pDDSPrimary->GetSurfaceDesc(&description);
    if (FAILED(hr)) {
        LogDDrawError(m_pDDSPrimary, hr, tag);
        return 0;
    }
    description.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
    description.dwHeight = m_dwOverlayHeight;
    description.dwWidth = m_dwOverlayWidth;
    description.lPitch = 0;
    description.lpSurface = nullptr;
    for (uint32_t caps : {firstCaps, secondCaps}) {
        description.ddsCaps.dwCaps = caps;
        hr = m_pDD->CreateSurface(&description, surface);
        if (!FAILED(hr)) {
            LogDescription(*surface, describeTag);
            return 1;
        }
        *surface = nullptr;
        LogDDrawError(m_pDD, hr, tag);
    }
    return 0;
}

int32_t CDX7Display::CreateBackSurface()
{
    return CreateOffscreenSurface(&m_pDDSBack, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM,
                                  DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, "DX7: CreateBackSurface NULL surface",
                                  "CreateBackSurface->CreateSurface", "CreateBackSurface->m_pDDSBack[%s]-");
}

int32_t CDX7Display::CreateSimpleSurface()
{
    const int32_t created = CreateOffscreenSurface(
        &m_pDDSSimple, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY, DDSCAPS_OFFSCREENPLAIN,
        "DX7: CreateSimpleSurface NULL surface", "CreateSimpleSurface->CreateSurface",
        "CreateSimpleSurface->m_pDDSSimple[%s]-");
    SetTransparentColor(kMagenta);
    ClearOverlay();
    return created;
}

int32_t CDX7Display::CreateVideoSurface()
{
    return CreateOffscreenSurface(&m_pDDSVideo, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY, DDSCAPS_OFFSCREENPLAIN,
                                  "DX7: CreateVideoSurface NULL surface", "CreateVideoSurface->CreateSurface",
                                  "CreateVideoSurface->m_pDDSVideo[%s]-");
}

// ---- revalidation ------------------------------------------------------------------------------

int32_t CDX7Display::Revalidate()
{
    if (!m_pDDSVideo || !m_pDDSSimple || !m_pDDSPrimary || !m_pDDSBack) {
        m_dwLastError = 1;
        Error("DX7: Validate NULL surface");
        return 0;
    }
    px::CsLock lock(m_cs);
    bool lost = false;
    for (IDirectDrawSurface* surface : {m_pDDSVideo, m_pDDSSimple, m_pDDSPrimary, m_pDDSBack})
        lost = surface->IsLost() == DDERR_SURFACELOST || lost;
    if (!lost)
        return 1;
    if (!CreateSurfaceSet(""))
        return 0;
    LogGraphic(LOG_LEVEL_WARN, "DX7: Need to redraw");
    return 10;
}

// ---- device contexts ---------------------------------------------------------------------------

bool CDX7Display::GetDC(IDirectDrawSurface* surface, HDC* hdc, const char* nullText, const char* tag)
{
    if (!surface) {
        *hdc = nullptr;
        Error(nullText);
        return false;
    }
    HRESULT hr = surface->GetDC(hdc);
    if (FAILED(hr)) {
        *hdc = nullptr;
        LogDDrawError(surface, hr, tag);
        return false;
    }
    return true;
}

void CDX7Display::ReleaseDC(IDirectDrawSurface* surface, HDC hdc, const char* nullText, const char* tag)
{
    if (!surface) {
        Error(nullText);
        return;
    }
    HRESULT hr = surface->ReleaseDC(hdc);
    if (FAILED(hr))
        LogDDrawError(surface, hr, tag);
}

void CDX7Display::GetVideoDC(HDC* hdc)
{
    GetDC(m_pDDSVideo, hdc, "DX7: GetVideoDC NULL surface", "GetVideoDC->GetDC");
}

void CDX7Display::ReleaseVideoDC(HDC hdc)
{
    ReleaseDC(m_pDDSVideo, hdc, "DX7: ReleaseVideoDC NULL surface", "ReleaseVideoDC->ReleaseDC");
}

void CDX7Display::GetOverlayDC(HDC* hdc)
{
    GetDC(m_pDDSSimple, hdc, "DX7: GetOverlayDC NULL surface", "GetOverlayDC->GetDC");
}

void CDX7Display::ReleaseOverlayDC(HDC hdc)
{
    ReleaseDC(m_pDDSSimple, hdc, "DX7: ReleaseOverlayDC NULL surface", "ReleaseOverlayDC->ReleaseDC");
}

// ---- drawing -----------------------------------------------------------------------------------

void CDX7Display::ClearOverlay()
{
    if (!m_pDDSSimple) {
        Error("DX7: ClearOverlay NULL surface");
        return;
    }
    px::CsLock lock(m_cs);
    DDBLTFX fx;
    fx.dwFillColor = MatchSurfaceColor(m_pDDSSimple, m_crTransparent);
    HRESULT hr = m_pDDSSimple->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
    if (FAILED(hr))
        LogDDrawError(m_pDDSSimple, hr, "ClearOverlay->m_pDDSSimple->Blt");
}

void CDX7Display::SetTransparentColor(COLORREF color)
{
    m_crTransparent = color;
    if (!m_pDDSSimple) {
        Error("DX7: SetTransparentColor NULL surface");
        return;
    }
    DDCOLORKEY key;
    key.dwColorSpaceLowValue = key.dwColorSpaceHighValue = MatchSurfaceColor(m_pDDSSimple, color);
    HRESULT hr = m_pDDSSimple->SetColorKey(DDCKEY_SRCBLT, &key);
    if (FAILED(hr))
        LogDDrawError(m_pDDSSimple, hr, "SetTransparentColor->SetColorKey");
    ClearOverlay();
}

void CDX7Display::Present(int32_t withOverlay)
{
    if (IsValid() != 1)
        return;
    m_pDD->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN);
    raster::RECT window{}, client{};
    m_pDriver->GetWindowRects(m_hWnd, &window, &client);
    px::CsLock lock(m_cs);
    HRESULT hr;
    if (withOverlay) {
        hr = m_pDDSBack->Blt(nullptr, m_pDDSVideo, nullptr, DDBLT_WAIT, nullptr);
        if (FAILED(hr))
            LogDDrawError(m_pDDSBack, hr, "Present->m_pDDSInterm->m_pDDSBack");
        hr = m_pDDSBack->Blt(nullptr, m_pDDSSimple, nullptr, DDBLT_KEYSRC | DDBLT_WAIT, nullptr);
        if (FAILED(hr))
            LogDDrawError(m_pDDSBack, hr, "Present->m_pDDSSimple->m_pDDSBack");
        hr = m_pDDSPrimary->Blt(&window, m_pDDSBack, &client, DDBLT_WAIT, nullptr);
        if (FAILED(hr))
            LogDDrawError(m_pDDSPrimary, hr, "Present->m_pDDSBack->m_pDDSPrimary");
    } else {
        hr = m_pDDSPrimary->Blt(&window, m_pDDSVideo, &client, DDBLT_WAIT, nullptr);
        if (FAILED(hr))
            LogDDrawError(m_pDDSPrimary, hr, "Present->m_pDDSInterm->m_pDDSPrimary");
    }
}

// ---- release -----------------------------------------------------------------------------------

void CDX7Display::ReleaseSurfaces()
{
    if (m_pDDSPrimary && m_pClipper)
        m_pDDSPrimary->SetClipper(nullptr);
    SafeRelease(m_pDDSPrimary);
    SafeRelease(m_pClipper);
    SafeRelease(m_pDDSVideo);
    SafeRelease(m_pDDSSimple);
    SafeRelease(m_pDDSBack);
}

void CDX7Display::ReleaseAll()
{
    px::CsLock lock(m_cs);
    ReleaseSurfaces();
    SafeRelease(m_pDD);
    if (m_bModuleLoaded)
        m_pDriver->FreeModule();
    m_bModuleLoaded = false;
    m_bCreateFunction = false;
    m_crTransparent = 0;
    m_hWnd = nullptr;
    m_dwOverlayWidth = 0;
    m_dwOverlayHeight = 0;
}

} // namespace display
