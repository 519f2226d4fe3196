// Painting: Redraw composes the current picture (on the update thread after each buffer, and on
// the window's thread after a resize) into the memory bitmap or the back-end's surfaces;
// OnDraw, on the window's thread, only copies that bitmap to the window or has the back-end
// present. The order of the locks is m_csRedraw, m_csData, m_csDisplay, then the back-end's.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "control/PellixControl.h"
#include "image/Conversion.h"

namespace pxcontrol {

namespace {

using raster::HDC;
using raster::RECT;

int32_t Width(const RECT& rc) { return rc.right - rc.left; }
int32_t Height(const RECT& rc) { return rc.bottom - rc.top; }

// The frame-rate box in its corner, 65 x 20 pixels, 5 from both edges.
RECT FrameRateBox(const RECT& rc, uint16_t corner)
{
    switch (corner) {
    case 1: return {rc.right - 70, rc.top + 5, rc.right - 5, rc.top + 25};
    case 2: return {rc.left + 5, rc.bottom - 25, rc.left + 70, rc.bottom - 5};
    case 3: return {rc.right - 70, rc.bottom - 25, rc.right - 5, rc.bottom - 5};
    default: return {rc.left + 5, rc.top + 5, rc.left + 70, rc.top + 25};
    }
}

// The largest header with its colour table: 40 bytes and 256 entries.
constexpr size_t kMaxHeaderBytes = 1064;

// The histogram: its bins, the smallest client area it is drawn in, and the bars' colour.
constexpr uint32_t kHistogramBins = 256;
constexpr uint32_t kHistogramMinWidth = 356, kHistogramMinHeight = 200;
constexpr raster::COLORREF kHistogramBarColour = 0x0000BE2D;

} // namespace

CPellixControl::SViewGeometry CPellixControl::ViewGeometry()
{
    SViewGeometry view;
    view.offsetX = m_dwOffsetX;
    view.offsetY = m_dwOffsetY;
    view.sizeX = m_dwSizeX;
    view.sizeY = m_dwSizeY;
    view.subsection = m_dwSubsection;
    return view;
}

void CPellixControl::Redraw()
{
    px::CsLock redraw(m_csRedraw);
    RECT rc;
    {
        px::CsLock display(m_csDisplay);
        rc = m_rcClient;
    }
    if (IsStreaming()) {
        if (m_dwBufferType == PX_BUFTYPE_IMAGE)
            RenderImage(rc);
        else if (m_dwBufferType == PX_BUFTYPE_HISTOGRAM)
            RenderHistogram(rc);
    } else {
        char text[kErrorTextSize] = "No buffer selected";
        if (m_bConnected)
            ErrorMessageText(text, sizeof text); // 199 characters at most
        DrawMessage(rc, text);
    }
    m_pWrapper->Invalidate();
}

void CPellixControl::DrawMessage(const RECT& rc, const char* text)
{
    const int32_t width = Width(rc), height = Height(rc);
    if (width <= 0 || height <= 0)
        return;
    HDC window = m_pWrapper->GetWindowDC();
    HDC dc = raster::CreateCompatibleDC(window);
    raster::HBITMAP bitmap = raster::CreateCompatibleBitmap(window, width, height);
    m_pWrapper->ReleaseDC(window);
    raster::HGDIOBJ old = raster::SelectObject(dc, bitmap);
    const RECT all = {0, 0, width, height};
    raster::FillRect(dc, &all, static_cast<raster::HBRUSH>(raster::GetStockObject(raster::WHITE_BRUSH)));
    RECT inset = {rc.left + 5, rc.top + 5, rc.right - 5, rc.bottom - 5};
    raster::DrawTextA(dc, text, -1, &inset, 0);
    CopyToMemoryBitmap(dc, old, bitmap);
}

void CPellixControl::CopyToMemoryBitmap(HDC dc, raster::HGDIOBJ old, raster::HBITMAP bitmap)
{
    {
        px::CsLock display(m_csDisplay);
        if (m_hMemDC != nullptr)
            raster::BitBlt(m_hMemDC, m_rcClient.left, m_rcClient.top, Width(m_rcClient), Height(m_rcClient), dc, 0, 0,
                           raster::SRCCOPY);
    }
    raster::SelectObject(dc, old);
    raster::DeleteObject(bitmap);
    raster::DeleteDC(dc);
}

bool CPellixControl::FrameSurfaces(const uint8_t* header, size_t headerBytes, int32_t width, int32_t height)
{
    SFrameSurfaces& f = m_frame;
    if (f.hPictureBitmap != nullptr && f.hImageBitmap != nullptr && f.nWidth == width && f.nHeight == height &&
        f.headerBytes == headerBytes && memcmp(f.header, header, headerBytes) == 0)
        return true;
    ReleaseFrameSurfaces();
    HDC window = m_pWrapper->GetWindowDC();
    f.hPicture = raster::CreateCompatibleDC(window);
    f.hImage = raster::CreateCompatibleDC(window);
    m_pWrapper->ReleaseDC(window);
    // The picture: the image's header at the window's size, bottom-up.
    uint8_t pictureHeader[kMaxHeaderBytes];
    memcpy(pictureHeader, header, headerBytes);
    auto* copy = reinterpret_cast<raster::BITMAPINFOHEADER*>(pictureHeader);
    copy->biWidth = width;
    copy->biHeight = height;
    copy->biSizeImage = static_cast<uint32_t>(int64_t{copy->biBitCount} * copy->biHeight * copy->biWidth / 8);
    void* pictureBits = nullptr;
    f.hPictureBitmap = raster::CreateDIBSection(f.hPicture, reinterpret_cast<const raster::BITMAPINFO*>(pictureHeader),
                                                raster::DIB_RGB_COLORS, &pictureBits);
    f.hImageBitmap = raster::CreateDIBSection(f.hImage, reinterpret_cast<const raster::BITMAPINFO*>(header),
                                              raster::DIB_RGB_COLORS, &f.pImageBits);
    f.hOldPicture = raster::SelectObject(f.hPicture, f.hPictureBitmap);
    f.hOldImage = raster::SelectObject(f.hImage, f.hImageBitmap);
    memcpy(f.header, header, headerBytes);
    f.headerBytes = headerBytes;
    f.nWidth = width;
    f.nHeight = height;
    return f.hPictureBitmap != nullptr && f.hImageBitmap != nullptr;
}

void CPellixControl::ReleaseFrameSurfaces()
{
    SFrameSurfaces& f = m_frame;
    if (f.hPicture != nullptr)
        raster::SelectObject(f.hPicture, f.hOldPicture);
    if (f.hImage != nullptr)
        raster::SelectObject(f.hImage, f.hOldImage);
    raster::DeleteObject(f.hPictureBitmap);
    raster::DeleteObject(f.hImageBitmap);
    raster::DeleteDC(f.hPicture);
    raster::DeleteDC(f.hImage);
    f = SFrameSurfaces{};
}

void CPellixControl::RenderImage(const raster::RECT& rc)
{
    const RECT fpsBox = FrameRateBox(rc, m_usFPSCorner);
    if (!IsStreaming())
        return;
    display::CDXDisplay* backEnd = nullptr;
    bool gdi = true;
    {
        px::CsLock data(m_csData);
        if (m_pData == nullptr || m_pDIBHeader == nullptr)
            return;
        const auto* header = reinterpret_cast<const raster::BITMAPINFOHEADER*>(m_pDIBHeader);
        if (header->biSizeImage == 0)
            return;
        const size_t headerBytes = header->biBitCount == 8 ? kMaxHeaderBytes : sizeof(raster::BITMAPINFOHEADER) + 4;
        const bool made = FrameSurfaces(m_pDIBHeader, headerBytes, Width(rc), Height(rc));
        HDC picture = m_frame.hPicture, image = m_frame.hImage;
        if (made && m_frame.pImageBits != nullptr)
            memcpy(m_frame.pImageBits, m_pData, m_dwImageSize);

        const int32_t imageWidth = header->biWidth, imageHeight = -header->biHeight;
        char fps[32] = "";
        if (m_bShowFPS == 1 && float(m_fDisplayRate) != 0.0f)
            snprintf(fps, sizeof fps, "%3.1f FPS", static_cast<double>(float(m_fDisplayRate)));
        char mode[32] = "";
        if (m_dwForceErrorMsg == 1)
            snprintf(mode, sizeof mode, "Using DX:%d", static_cast<int>(m_nDisplayMode));
        RECT modeBox = {0, 30, static_cast<int32_t>(m_dwSizeX), static_cast<int32_t>(m_dwSizeY)};

        backEnd = m_nDisplayMode >= 1 ? m_pDisplay : nullptr;
        if (backEnd != nullptr) {
            const int32_t valid = backEnd->IsValid();
            if (valid == 10) {
                const SViewGeometry view = ViewGeometry();
                px::CsLock display(m_csDisplay);
                RedrawOverlay(view);
            }
            gdi = valid != 1 && valid != 10;
        }
        if (gdi) {
            // The stretch covers the whole picture: no fill needed first.
            raster::SetStretchBltMode(picture, raster::COLORONCOLOR);
            raster::StretchBlt(picture, rc.left, rc.top, Width(rc), Height(rc), image, 0, 0, imageWidth, imageHeight,
                               raster::SRCCOPY);
            if (fps[0] != '\0') {
                RECT box = fpsBox;
                raster::DrawTextA(picture, fps, -1, &box, 0);
            }
            if (mode[0] != '\0')
                raster::DrawTextA(picture, mode, -1, &modeBox, 0);
        } else {
            // The picture reaches the memory bitmap only when the back-end fails before the copy below.
            raster::FillRect(picture, &rc, static_cast<raster::HBRUSH>(raster::GetStockObject(raster::DKGRAY_BRUSH)));
            HDC video = nullptr;
            backEnd->GetVideoDC(&video);
            if (backEnd->CanStretch() == 0) {
                raster::SetStretchBltMode(video, raster::COLORONCOLOR);
                raster::StretchBlt(video, rc.left, rc.top, Width(rc), Height(rc), image, 0, 0, imageWidth,
                                   imageHeight, raster::SRCCOPY);
            } else {
                raster::BitBlt(video, 0, 0, imageWidth, imageHeight, image, 0, 0, raster::SRCCOPY);
            }
            backEnd->ReleaseVideoDC(video);
            backEnd->PresentVideo();
            auto drawOnIntermediate = [&](const char* text, RECT box) {
                HDC dc = nullptr;
                backEnd->GetIntermediateDC(&dc);
                raster::DrawTextA(dc, text, -1, &box, 0);
                backEnd->ReleaseIntermediateDC(dc);
            };
            if (fps[0] != '\0')
                drawOnIntermediate(fps, fpsBox);
            if (mode[0] != '\0')
                drawOnIntermediate(mode, modeBox);
        }
    }
    px::CsLock display(m_csDisplay);
    if (m_hMemDC != nullptr && (backEnd == nullptr || backEnd->IsValid() != 1))
        raster::BitBlt(m_hMemDC, m_rcClient.left, m_rcClient.top, Width(m_rcClient), Height(m_rcClient),
                       m_frame.hPicture, 0, 0, raster::SRCCOPY);
}

void CPellixControl::RenderHistogram(const RECT& rc)
{
    if (!IsStreaming())
        return;
    {
        px::CsLock data(m_csData);
        if (m_pData == nullptr)
            return;
    }
    const int32_t width = Width(rc), height = Height(rc);
    char text[kErrorTextSize];
    if (static_cast<uint32_t>(width) < kHistogramMinWidth || static_cast<uint32_t>(height) < kHistogramMinHeight) {
        snprintf(text, sizeof text, "Client area is too small (Min width %d, Min height %d)",
                 static_cast<int>(kHistogramMinWidth), static_cast<int>(kHistogramMinHeight));
        DrawMessage(rc, text);
        return;
    }
    if (m_dwSizeX != kHistogramBins) {
        snprintf(text, sizeof text, "Only %d entries histogram are supported", static_cast<int>(kHistogramBins));
        DrawMessage(rc, text);
        return;
    }
    HDC window = m_pWrapper->GetWindowDC();
    HDC dc = raster::CreateCompatibleDC(window);
    m_pWrapper->ReleaseDC(window);
    raster::BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(raster::BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biSizeImage = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 4;
    void* bits = nullptr;
    raster::HBITMAP bitmap = raster::CreateDIBSection(dc, &info, raster::DIB_RGB_COLORS, &bits);
    raster::HGDIOBJ old = raster::SelectObject(dc, bitmap);
    const RECT all = {0, 0, width, height};
    raster::FillRect(dc, &all, static_cast<raster::HBRUSH>(raster::GetStockObject(raster::WHITE_BRUSH)));

    const int32_t binWidth = (width - 40) / 256 > 0 ? (width - 40) / 256 : 1;
    const double plotHeight = height - 60;
    const int32_t axisEnd = 30 + 256 * binWidth;
    for (int32_t i = 0; i <= 10; ++i) {
        const int32_t y = rc.bottom - static_cast<int32_t>(i * plotHeight / 10) - 30;
        raster::MoveToEx(dc, 30, y, nullptr);
        raster::LineTo(dc, axisEnd, y);
    }
    for (int32_t i = 0; i <= 256; i += 32) {
        const int32_t x = 30 + i * binWidth;
        raster::MoveToEx(dc, x, rc.bottom - 30, nullptr);
        raster::LineTo(dc, x, rc.bottom - static_cast<int32_t>(plotHeight) - 30);
        RECT label = {x, rc.bottom - 25, x + 50, rc.bottom - 5};
        snprintf(text, sizeof text, "%d", static_cast<int>(i));
        raster::DrawTextA(dc, text, -1, &label, 0);
    }
    uint32_t largest = 0;
    {
        px::CsLock data(m_csData);
        uint32_t bins[kHistogramBins] = {};
        if (m_pData != nullptr && m_dwBufferSize >= sizeof bins)
            memcpy(bins, m_pData, sizeof bins);
        for (uint32_t v : bins)
            largest = v > largest ? v : largest;
        const bool logScale = m_bLOGScale != 0;
        for (int32_t i = 0; i < 256; ++i) {
            const uint32_t v = bins[i];
            if (v == 0)
                continue;
            // With the log scale a largest count of 1 would divide 0 by 0: no bar.
            int32_t h = 0;
            if (!logScale)
                h = static_cast<int32_t>(v * plotHeight / largest);
            else if (largest > 1)
                h = static_cast<int32_t>(std::log(static_cast<double>(v)) * plotHeight / std::log(static_cast<double>(largest)));
            const RECT bar = {30 + i * binWidth, rc.bottom - 30 - h, 30 + (i + 1) * binWidth, rc.bottom - 30};
            raster::HBRUSH brush = raster::CreateSolidBrush(kHistogramBarColour);
            raster::FillRect(dc, &bar, brush);
            raster::DeleteObject(brush);
        }
    }
    RECT maximum = {25, 10, 175, 30};
    snprintf(text, sizeof text, "%u", largest);
    raster::DrawTextA(dc, text, -1, &maximum, 0);
    CopyToMemoryBitmap(dc, old, bitmap);
}

void CPellixControl::OnDraw(HDC hdc)
{
    const uint32_t type = m_dwBufferType;
    const bool drawn = type == PX_BUFTYPE_IMAGE || type == PX_BUFTYPE_HISTOGRAM || type == PX_BUFTYPE_ARRAY;
    bool painted = false;
    if (m_bStarted && !m_bAgent && drawn) {
        SViewGeometry view;
        {
            px::CsLock data(m_csData);
            view = ViewGeometry();
        }
        m_csDisplay.Enter();
        if (m_hBitmap != nullptr) {
            painted = true;
            display::CDXDisplay* backEnd = m_nDisplayMode >= 1 ? m_pDisplay : nullptr;
            const int32_t valid = type == PX_BUFTYPE_IMAGE && backEnd != nullptr ? backEnd->IsValid() : 0;
            if (valid == 10) {
                RedrawOverlay(view);
                m_csDisplay.Leave();
                Redraw();
                m_csDisplay.Enter();
            }
            if (valid == 1 || valid == 10)
                m_pDisplay->Present(m_OverlayList.Count() > 0);
            else
                raster::BitBlt(hdc, m_rcClient.left, m_rcClient.top, Width(m_rcClient), Height(m_rcClient), m_hMemDC, 0,
                               0, raster::SRCCOPY);
        }
        m_csDisplay.Leave();
    }
    if (!painted) {
        RECT client = {0, 0, 0, 0};
        m_pWrapper->GetClientRect(&client);
        raster::FillRect(hdc, &client, static_cast<raster::HBRUSH>(raster::GetStockObject(raster::WHITE_BRUSH)));
    }
}

void CPellixControl::RecreateBackBuffer()
{
    SViewGeometry view;
    {
        px::CsLock data(m_csData);
        view = ViewGeometry();
    }
    {
        px::CsLock display(m_csDisplay);
        m_pWrapper->GetClientRect(&m_rcClient);
        if (m_hMemDC == nullptr)
            return; // not started: the size is kept for the first picture
        if (m_hBitmap != nullptr) {
            raster::SelectObject(m_hMemDC, m_hOldBitmap);
            raster::DeleteObject(m_hBitmap);
        }
        const int32_t width = Width(m_rcClient), height = Height(m_rcClient);
        HDC window = m_pWrapper->GetWindowDC();
        m_hBitmap = raster::CreateCompatibleBitmap(window, width, height);
        m_pWrapper->ReleaseDC(window);
        m_hOldBitmap = raster::SelectObject(m_hMemDC, m_hBitmap);
        const RECT all = {0, 0, width, height};
        raster::FillRect(m_hMemDC, &all, static_cast<raster::HBRUSH>(raster::GetStockObject(raster::WHITE_BRUSH)));
        if (m_dwBufferType == PX_BUFTYPE_IMAGE && width > 0 && m_nDisplayMode >= 1 && m_pDisplay != nullptr) {
            m_pDisplay->InitSurfaces(width, height, static_cast<int32_t>(view.sizeX), static_cast<int32_t>(view.sizeY));
            RedrawOverlay(view);
        }
    }
    Redraw();
}

void CPellixControl::ReleaseBackBuffer()
{
    {
        px::CsLock redraw(m_csRedraw);
        ReleaseFrameSurfaces();
    }
    px::CsLock display(m_csDisplay);
    if (m_hBitmap != nullptr) {
        raster::SelectObject(m_hMemDC, m_hOldBitmap);
        raster::DeleteObject(m_hBitmap);
    }
    raster::DeleteDC(m_hMemDC);
    m_hBitmap = nullptr;
    m_hOldBitmap = nullptr;
    m_hMemDC = nullptr;
}

void CPellixControl::RedrawOverlay(const SViewGeometry& view)
{
    if (m_nDisplayMode < 1 || m_pDisplay == nullptr || m_pDisplay->IsValid() == 0)
        return;
    m_pDisplay->ClearOverlay();
    HDC overlay = nullptr;
    m_pDisplay->GetOverlayDC(&overlay);
    m_OverlayList.Draw(static_cast<int32_t>(view.offsetX), static_cast<int32_t>(view.offsetY), Width(m_rcClient),
                       Height(m_rcClient), static_cast<int32_t>(view.sizeX), static_cast<int32_t>(view.sizeY),
                       view.subsection, overlay);
    m_pDisplay->ReleaseOverlayDC(overlay);
}

} // namespace pxcontrol
