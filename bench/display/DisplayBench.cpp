// The per-frame cost of showing a 1920x1080 RGB32 image in a 1280x720 window through each display
// back-end, with an overlay of a few shapes, against the GDI path's own cost in the same run: a
// COLORONCOLOR StretchBlt of the image into the window's surface (that path never draws
// overlays). A frame through a back-end is what the viewer does per image: IsValid, the image into
// the video surface, PresentVideo, then IsValid and Present with the overlay. The overlay is drawn
// once, as the viewer redraws it only when it changes. "ratio" is back-end / GDI path.
// "ratio_viewer_gdi" compares with what the viewer's GDI path costs in all per frame: the stretch
// into a picture of the window's size, its copy into the memory bitmap and the paint's copy of
// that into the window.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "display/DX7Display.h"
#include "display/DX9Display.h"
#include "display/GlesD3D9.h"
#include "display/SoftDDraw.h"
#include "raster/Gdi.h"

namespace {

using namespace raster;
using Clock = std::chrono::steady_clock;

constexpr int32_t kImageWidth = 1920, kImageHeight = 1080, kWindowWidth = 1280, kWindowHeight = 720;

class CWindow final : public display::DisplayWindow {
public:
    CWindow() : m_pixels(static_cast<size_t>(kWindowWidth) * kWindowHeight * 4) {}
    bool AcquirePixels(display::WindowPixels* s) override
    {
        *s = {m_pixels.data(), kWindowWidth, kWindowHeight, kWindowWidth * 4};
        return true;
    }
    void ReleasePixels(const display::WindowPixels&) override {}
    void GetClientRect(RECT* r) override { *r = {0, 0, kWindowWidth, kWindowHeight}; }
    uint8_t* Pixels() { return m_pixels.data(); }

private:
    std::vector<uint8_t> m_pixels;
};

struct Image {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(nullptr, kImageWidth, kImageHeight);
    HGDIOBJ old = SelectObject(dc, bitmap);
    Image()
    {
        BITMAP b{};
        GetObjectA(bitmap, sizeof b, &b);
        auto* bits = static_cast<uint8_t*>(b.bmBits);
        for (size_t i = 0; i < static_cast<size_t>(b.bmWidthBytes) * kImageHeight; ++i)
            bits[i] = static_cast<uint8_t>(i * 7 + i / 4093);
    }
    ~Image()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
};

void DrawShapes(HDC dc)
{
    HBRUSH brush = CreateSolidBrush(0x0000C000);
    HPEN pen = CreatePen(PS_SOLID, 3, 0x000000FF);
    HGDIOBJ oldBrush = SelectObject(dc, brush), oldPen = SelectObject(dc, pen);
    Rectangle(dc, 100, 100, 400, 300);
    Ellipse(dc, 600, 200, 900, 500);
    MoveToEx(dc, 50, 650, nullptr);
    LineTo(dc, 1200, 60);
    SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
    Rectangle(dc, 20, 20, 1260, 700);
    RECT text = {500, 600, 800, 640};
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, 0x00FFFF00);
    DrawTextA(dc, "Pellix overlay", -1, &text, DT_SINGLELINE);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(brush);
    DeleteObject(pen);
}

// The GL back-end on a software renderer needs the configuration's permission.
void AllowSoftwareGl()
{
    static const bool done = [] {
        char path[] = "/tmp/pellix-bench-conf-XXXXXX";
        const int fd = mkstemp(path);
        if (fd >= 0) {
            const char line[] = "AllowSoftwareGL=1\n";
            const bool written = write(fd, line, sizeof line - 1) == static_cast<ssize_t>(sizeof line - 1);
            close(fd);
            if (written)
                setenv("VISTEL_CONFIG", path, 1);
        }
        return true;
    }();
    (void)done;
}

std::unique_ptr<display::CDXDisplay> MakeBackEnd(int kind, CWindow* window)
{
    std::unique_ptr<display::CDXDisplay> backEnd;
    if (kind == 9) {
        AllowSoftwareGl();
        backEnd = std::make_unique<display::CDX9Display>(display::CreateGlesDriver());
    } else {
        backEnd = std::make_unique<display::CDX7Display>(window, display::CreateSoftDDrawDriver());
    }
    if (backEnd->Validate(kImageWidth, kImageHeight) != 1)
        return nullptr;
    backEnd->InitDD(window);
    backEnd->InitSurfaces(kWindowWidth, kWindowHeight, kImageWidth, kImageHeight);
    if (backEnd->IsValid() != 1)
        return nullptr;
    backEnd->ClearOverlay();
    HDC overlay = nullptr;
    backEnd->GetOverlayDC(&overlay);
    if (overlay)
        DrawShapes(overlay);
    backEnd->ReleaseOverlayDC(overlay);
    return backEnd;
}

void Frame(display::CDXDisplay& backEnd, const Image& image)
{
    backEnd.IsValid();
    HDC video = nullptr;
    backEnd.GetVideoDC(&video);
    if (backEnd.CanStretch()) {
        BitBlt(video, 0, 0, kImageWidth, kImageHeight, image.dc, 0, 0, SRCCOPY);
    } else {
        SetStretchBltMode(video, COLORONCOLOR);
        StretchBlt(video, 0, 0, kWindowWidth, kWindowHeight, image.dc, 0, 0, kImageWidth, kImageHeight, SRCCOPY);
    }
    backEnd.ReleaseVideoDC(video);
    backEnd.PresentVideo();
    backEnd.IsValid();
    backEnd.Present(1);
}

void BM_PresentVersusGdiPath(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    Image image;
    CWindow window, gdiWindow;
    std::unique_ptr<display::CDXDisplay> backEnd = MakeBackEnd(kind, &window);
    if (!backEnd) {
        state.SkipWithError("the back-end cannot run here");
        return;
    }
    HDC gdi = CreateSurfaceDC(gdiWindow.Pixels(), kWindowWidth, kWindowHeight, kWindowWidth * 4);
    SetStretchBltMode(gdi, COLORONCOLOR);
    CWindow picture, memory;
    HDC pictureDC = CreateSurfaceDC(picture.Pixels(), kWindowWidth, kWindowHeight, kWindowWidth * 4);
    HDC memoryDC = CreateSurfaceDC(memory.Pixels(), kWindowWidth, kWindowHeight, kWindowWidth * 4);
    double ours = 0, baseline = 0, viewer = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        Frame(*backEnd, image);
        const auto t1 = Clock::now();
        StretchBlt(gdi, 0, 0, kWindowWidth, kWindowHeight, image.dc, 0, 0, kImageWidth, kImageHeight, SRCCOPY);
        const auto t2 = Clock::now();
        StretchBlt(pictureDC, 0, 0, kWindowWidth, kWindowHeight, image.dc, 0, 0, kImageWidth, kImageHeight, SRCCOPY);
        BitBlt(memoryDC, 0, 0, kWindowWidth, kWindowHeight, pictureDC, 0, 0, SRCCOPY);
        BitBlt(gdi, 0, 0, kWindowWidth, kWindowHeight, memoryDC, 0, 0, SRCCOPY);
        const auto t3 = Clock::now();
        benchmark::DoNotOptimize(window.Pixels());
        benchmark::DoNotOptimize(gdiWindow.Pixels());
        ours += std::chrono::duration<double>(t1 - t0).count();
        baseline += std::chrono::duration<double>(t2 - t1).count();
        viewer += std::chrono::duration<double>(t3 - t2).count();
    }
    DeleteDC(gdi);
    DeleteDC(pictureDC);
    DeleteDC(memoryDC);
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = ours / n * 1e3;
    state.counters["gdi_ms"] = baseline / n * 1e3;
    state.counters["ratio"] = ours / baseline;
    state.counters["ratio_viewer_gdi"] = ours / viewer;
    state.SetLabel(kind == 9 ? "Direct3D 9 on OpenGL ES" : "DirectDraw software compositor");
}
BENCHMARK(BM_PresentVersusGdiPath)->Arg(7)->Arg(9)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
