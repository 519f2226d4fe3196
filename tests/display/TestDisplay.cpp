#include "TestDisplay.h"

#include <cstdio>

namespace displaytest {

using namespace raster;

void CCallJournal::Record(const std::string& call)
{
    px::CsLock lock(m_cs);
    m_calls.push_back(call);
}

std::vector<std::string> CCallJournal::Calls() const
{
    px::CsLock lock(m_cs);
    return m_calls;
}

CTestDisplay::CTestDisplay(const char* name, CCallJournal* journal, const STestDisplayScript& script, HWND hWnd)
    : m_name(name), m_pJournal(journal), m_script(script), m_hWnd(hWnd), m_crTransparent(script.crTransparent)
{
    Record("constructed");
}

CTestDisplay::~CTestDisplay()
{
    if (m_hVideoOut || m_hIntermediateOut || m_hOverlayOut)
        Breach("destroyed with a DC out");
    FreeSurfaces();
    Record("destroyed");
}

void CTestDisplay::Record(const std::string& call)
{
    if (m_pJournal)
        m_pJournal->Record(m_name + "." + call);
}

void CTestDisplay::Breach(const std::string& what)
{
    Record("Breach(" + what + ")");
    px::CsLock lock(m_csViolations);
    m_violations.push_back(what);
}

std::vector<std::string> CTestDisplay::Violations() const
{
    px::CsLock lock(m_csViolations);
    return m_violations;
}

bool CTestDisplay::Create(SSurface* surface, int32_t width, int32_t height)
{
    surface->hdc = CreateCompatibleDC(nullptr);
    surface->hBitmap = CreateCompatibleBitmap(nullptr, width, height);
    if (!surface->hdc || !surface->hBitmap)
        return false;
    surface->hOld = SelectObject(surface->hdc, surface->hBitmap);
    return true;
}

void CTestDisplay::Destroy(SSurface* surface)
{
    if (surface->hdc && surface->hOld)
        SelectObject(surface->hdc, surface->hOld);
    DeleteObject(surface->hBitmap);
    DeleteDC(surface->hdc);
    *surface = SSurface{};
}

void CTestDisplay::InitDD(HWND hWnd)
{
    Record("InitDD");
    m_hWnd = hWnd;
}

void CTestDisplay::InitSurfaces(int32_t overlayWidth, int32_t overlayHeight, int32_t videoWidth, int32_t videoHeight)
{
    char call[96];
    snprintf(call, sizeof call, "InitSurfaces(%d,%d,%d,%d)", overlayWidth, overlayHeight, videoWidth, videoHeight);
    Record(call);
    FreeSurfaces();
    px::CsLock lock(m_cs);
    // Without stretching the caller draws the picture already at the window's size.
    const bool stretch = m_script.nCanStretch == 1;
    if (!Create(&m_video, stretch ? videoWidth : overlayWidth, stretch ? videoHeight : overlayHeight) ||
        !Create(&m_intermediate, overlayWidth, overlayHeight) || !Create(&m_overlay, overlayWidth, overlayHeight) ||
        !Create(&m_window, overlayWidth, overlayHeight))
        m_dwLastError = 1;
}

int32_t CTestDisplay::IsValid()
{
    Record("IsValid");
    return m_script.nIsValid;
}

int32_t CTestDisplay::Validate(uint32_t width, uint32_t height)
{
    Record("Validate(" + std::to_string(width) + "," + std::to_string(height) + ")");
    return width == 0 && height == 0 ? m_script.nIsValid : m_script.nValidate;
}

void CTestDisplay::Get(SSurface& surface, HDC* out, HDC* handedOut, const char* call)
{
    Record(call);
    if (*handedOut)
        Breach(std::string(call) + " while its DC is out");
    *handedOut = surface.hdc;
    if (out)
        *out = surface.hdc;
}

bool CTestDisplay::Release(HDC hdc, HDC* handedOut, const char* call)
{
    Record(call);
    if (!*handedOut) {
        Breach(std::string(call) + " without a get");
        return false;
    }
    if (hdc != *handedOut)
        Breach(std::string(call) + " of another DC");
    *handedOut = nullptr;
    return true;
}

void CTestDisplay::GetVideoDC(HDC* hdc)
{
    m_cs.Enter();
    Get(m_video, hdc, &m_hVideoOut, "GetVideoDC");
}

void CTestDisplay::ReleaseVideoDC(HDC hdc)
{
    // A stray release leaves the lock alone: it is not this caller's to leave.
    if (Release(hdc, &m_hVideoOut, "ReleaseVideoDC"))
        m_cs.Leave();
}

void CTestDisplay::PresentVideo()
{
    Record("PresentVideo");
    px::CsLock lock(m_cs);
    if (!m_video.hdc)
        return;
    SetStretchBltMode(m_intermediate.hdc, COLORONCOLOR);
    StretchBlt(m_intermediate.hdc, 0, 0, m_intermediate.hBitmap->Width(), m_intermediate.hBitmap->Height(),
               m_video.hdc, 0, 0, m_video.hBitmap->Width(), m_video.hBitmap->Height(), SRCCOPY);
}

void CTestDisplay::GetIntermediateDC(HDC* hdc)
{
    m_cs.Enter();
    Get(m_intermediate, hdc, &m_hIntermediateOut, "GetIntermediateDC");
}

void CTestDisplay::ReleaseIntermediateDC(HDC hdc)
{
    if (Release(hdc, &m_hIntermediateOut, "ReleaseIntermediateDC"))
        m_cs.Leave();
}

void CTestDisplay::GetOverlayDC(HDC* hdc)
{
    Get(m_overlay, hdc, &m_hOverlayOut, "GetOverlayDC");
}

void CTestDisplay::ReleaseOverlayDC(HDC hdc)
{
    Release(hdc, &m_hOverlayOut, "ReleaseOverlayDC");
}

void CTestDisplay::ClearOverlay()
{
    Record("ClearOverlay");
    if (!m_overlay.hdc)
        return;
    HBRUSH key = CreateSolidBrush(m_crTransparent);
    const RECT all{0, 0, m_overlay.hBitmap->Width(), m_overlay.hBitmap->Height()};
    FillRect(m_overlay.hdc, &all, key);
    DeleteObject(key);
}

void CTestDisplay::Present(int32_t withOverlay)
{
    Record("Present(" + std::to_string(withOverlay) + ")");
    px::CsLock lock(m_cs);
    if (!m_window.hdc)
        return;
    const int32_t width = m_window.hBitmap->Width(), height = m_window.hBitmap->Height();
    BitBlt(m_window.hdc, 0, 0, width, height, m_intermediate.hdc, 0, 0, SRCCOPY);
    if (!withOverlay)
        return;
    // Overlay pixels of the transparent colour let the picture through.
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const COLORREF c = GetPixel(m_overlay.hdc, x, y);
            if (c != (m_crTransparent & 0x00FFFFFF))
                SetPixel(m_window.hdc, x, y, c);
        }
}

void CTestDisplay::SetTransparentColor(COLORREF color)
{
    Record("SetTransparentColor");
    m_crTransparent = color;
}

COLORREF CTestDisplay::GetTransparentColor() { return m_crTransparent; }

int32_t CTestDisplay::CanStretch() { return m_script.nCanStretch; }

void CTestDisplay::ReleaseAll()
{
    Record("ReleaseAll");
    FreeSurfaces();
}

void CTestDisplay::FreeSurfaces()
{
    px::CsLock lock(m_cs);
    Destroy(&m_video);
    Destroy(&m_intermediate);
    Destroy(&m_overlay);
    Destroy(&m_window);
}

uint32_t CTestDisplay::GetErrorCode() { return m_dwLastError; }

COLORREF CTestDisplay::WindowPixel(int32_t x, int32_t y) const
{
    return m_window.hdc ? GetPixel(m_window.hdc, x, y) : CLR_INVALID;
}

bool CTestDisplay::LockFree()
{
    if (!m_cs.TryEnter())
        return false;
    m_cs.Leave();
    return true;
}

display::DisplayFactory TestFactory(const char* name, CCallJournal* journal, const STestDisplayScript& script)
{
    return [name, journal, script](HWND hWnd) -> display::CDXDisplay* {
        return new CTestDisplay(name, journal, script, hWnd);
    };
}

} // namespace displaytest
