// The real back-ends draw: Direct3D 9 on OpenGL ES (Mesa's software renderer here, allowed by
// "AllowSoftwareGL") and DirectDraw on the software compositor, driven as the viewer drives them
// and checked pixel by pixel in the host's window surface. And the automatic choice among them
// on this machine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <thread>

#include "BackEndTestUtil.h"
#include "TestWindow.h"
#include "display/DX7Display.h"
#include "display/DX9Display.h"
#include "display/GlesContext.h"
#include "display/GlesD3D9.h"
#include "display/SoftDDraw.h"
#include "platform/Event.h"

using namespace display;
using namespace displaytest;
using raster::COLORREF;

namespace {

constexpr COLORREF kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kGrey = 0x808080;
constexpr COLORREF kMagenta = 0xFF00FF;

// llvmpipe renders on the calling thread, so that the sanitizers see every access to our memory.
const bool kSingleThreadedGl = setenv("LP_NUM_THREADS", "0", 0) == 0;

// A 64 x 32 image in four quadrants: red, green / blue, grey.
void PaintQuadrants(CPicture& image)
{
    image.Fill(0, 0, 32, 16, kRed);
    image.Fill(32, 0, 64, 16, kGreen);
    image.Fill(0, 16, 32, 32, kBlue);
    image.Fill(32, 16, 64, 32, kGrey);
}

enum class Kind { Gl, Soft };

std::string Name(const testing::TestParamInfo<Kind>& info)
{
    return info.param == Kind::Gl ? "Direct3D9OnGles" : "DirectDrawSoftware";
}

// A back-end of the kind, probed for the image, attached to the window, surfaces made.
class BackEndPicture : public testing::TestWithParam<Kind> {
protected:
    static constexpr int32_t kWidth = 128, kHeight = 64;

    void SetUp() override
    {
        ASSERT_TRUE(kSingleThreadedGl);
        if (GetParam() == Kind::Gl)
            m_backEnd = std::make_unique<CDX9Display>(CreateGlesDriver());
        else
            m_backEnd = std::make_unique<CDX7Display>(&m_window, CreateSoftDDrawDriver());
        ASSERT_EQ(m_backEnd->Validate(64, 32), 1);
        m_backEnd->InitDD(&m_window);
        m_backEnd->InitSurfaces(kWidth, kHeight, 64, 32);
        PaintQuadrants(m_image);
    }

    void ExpectQuadrants(const char* when)
    {
        EXPECT_EQ(m_window.Pixel(16, 8), kRed) << when;
        EXPECT_EQ(m_window.Pixel(112, 8), kGreen) << when;
        EXPECT_EQ(m_window.Pixel(16, 56), kBlue) << when;
        EXPECT_EQ(m_window.Pixel(112, 56), kGrey) << when;
    }

    CScopedConfig m_config{"AllowSoftwareGL=1\n"};
    CTestWindow m_window{kWidth, kHeight};
    CPicture m_image{64, 32};
    std::unique_ptr<CDXDisplay> m_backEnd;
};

} // namespace

TEST_P(BackEndPicture, ShowsTheImageStretchedWithTheOverlayKeyedOverIt)
{
    EXPECT_EQ(RenderFrame(*m_backEnd, m_image, kWidth, kHeight), 1);
    RedrawOverlay(*m_backEnd, [](raster::HDC dc) {
        FillOn(dc, 40, 20, 60, 30, 0x00123456);
        raster::SetPixel(dc, 10, 4, kMagenta);   // exactly the transparent colour
        raster::SetPixel(dc, 12, 4, 0x00FE00FF); // one step of blue away
        raster::SetPixel(dc, 14, 4, 0x00FF01FF); // one step of green away
        raster::SetPixel(dc, 16, 4, 0x00FF00FE); // one step of red away
    });
    m_backEnd->Present(1);
    ExpectQuadrants("with the overlay");
    EXPECT_EQ(m_window.Pixel(10, 4), kRed);
    EXPECT_EQ(m_window.Pixel(12, 4), 0x00FE00FFu);
    EXPECT_EQ(m_window.Pixel(14, 4), 0x00FF01FFu);
    EXPECT_EQ(m_window.Pixel(16, 4), 0x00FF00FEu);
    EXPECT_EQ(m_window.Pixel(40, 20), 0x00123456u);
    EXPECT_EQ(m_window.Pixel(59, 29), 0x00123456u);
    EXPECT_EQ(m_window.Pixel(60, 30), kRed);
    EXPECT_EQ(m_window.Pixel(39, 20), kRed);

    // Without the flag the overlay stays away; a new frame replaces the picture.
    m_backEnd->Present(0);
    ExpectQuadrants("without the overlay");
    EXPECT_EQ(m_window.Pixel(12, 4), kRed);
    EXPECT_EQ(m_window.Pixel(40, 20), kRed);
    m_image.Fill(0, 0, 64, 32, kGrey);
    RenderFrame(*m_backEnd, m_image, kWidth, kHeight);
    m_backEnd->Present(1);
    EXPECT_EQ(m_window.Pixel(16, 8), kGrey);
    EXPECT_EQ(m_window.Pixel(12, 4), 0x00FE00FFu);

    EXPECT_TRUE(m_window.PaddingIntact());
    EXPECT_EQ(m_window.Gets(), m_window.Releases());
    EXPECT_EQ(m_backEnd->IsValid(), 1);
}

TEST_P(BackEndPicture, FrameRateTextLandsOnTheStretchedPicture)
{
    RenderFrame(*m_backEnd, m_image, kWidth, kHeight);
    raster::HDC dc = nullptr;
    m_backEnd->GetIntermediateDC(&dc);
    ASSERT_NE(dc, nullptr);
    FillOn(dc, 100, 50, 110, 60, 0x00345678); // where the text box would be
    m_backEnd->ReleaseIntermediateDC(dc);
    m_backEnd->Present(0);
    EXPECT_EQ(m_window.Pixel(105, 55), 0x00345678u);
    ExpectQuadrants("around the text");
}

TEST_P(BackEndPicture, ARedTransparentColourFollowsEachBackEndsColourMatching)
{
    m_backEnd->SetTransparentColor(kRed);
    EXPECT_EQ(m_backEnd->GetTransparentColor(), kRed);
    RenderFrame(*m_backEnd, m_image, kWidth, kHeight);
    RedrawOverlay(*m_backEnd, [](raster::HDC dc) {
        FillOn(dc, 80, 0, 100, 10, kRed);   // over green
        FillOn(dc, 80, 40, 100, 60, kBlue); // over grey
    });
    m_backEnd->Present(1);
    ExpectQuadrants("the cleared overlay is transparent");
    if (GetParam() == Kind::Gl) {
        // The key texel holds the COLORREF bits: GDI's red (0x00FF0000 in memory) differs from
        // them, GDI's blue (0x000000FF) is them.
        EXPECT_EQ(m_window.Pixel(90, 5), kRed);
        EXPECT_EQ(m_window.Pixel(90, 50), kGrey);
    } else {
        // The key is matched through the surface: red drawing is the key, blue is not.
        EXPECT_EQ(m_window.Pixel(90, 5), kGreen);
        EXPECT_EQ(m_window.Pixel(90, 50), kBlue);
    }
}

INSTANTIATE_TEST_SUITE_P(Real, BackEndPicture, testing::Values(Kind::Gl, Kind::Soft), Name);

TEST(BackEndChoice, SoftwareGlIsNoAccelerationUnlessAllowed)
{
    ASSERT_TRUE(kSingleThreadedGl);
    std::shared_ptr<CGlesContext> context = CGlesContext::Create();
    ASSERT_NE(context, nullptr) << "EGL gives no OpenGL ES 3 context";
    if (!context->IsSoftware())
        GTEST_SKIP() << "a hardware renderer: " << context->Renderer();
    CTestWindow window(64, 48);
    {
        CScopedConfig config("# nothing allowed\n");
        CGraphicLog log;
        int32_t selector = DISPLAY_AUTO;
        std::unique_ptr<CDXDisplay> chosen(GetDXInstance(640, 480, &selector, &window));
        EXPECT_EQ(selector, DISPLAY_DX7);
        EXPECT_NE(chosen, nullptr);
        EXPECT_EQ(log.Lines(), (std::vector<std::string>{"MSG GetDXInstance", "MSG DX10: Not implemented",
                                                         "ERROR DX9: No Direct3D driver",
                                                         "WARN DX7: No hardware acceleration", "MSG Using DirectX 7"}));
        CDX9Display direct3D(CreateGlesDriver());
        EXPECT_EQ(direct3D.Validate(640, 480), 0);
        EXPECT_EQ(direct3D.GetErrorCode(), 9u);
        selector = DISPLAY_DX9;
        EXPECT_EQ(GetDXInstance(640, 480, &selector, &window), nullptr);
        EXPECT_EQ(selector, DISPLAY_GDI);
    }
    CScopedConfig config("AllowSoftwareGL=1\n");
    CGraphicLog log;
    int32_t selector = DISPLAY_AUTO;
    std::unique_ptr<CDXDisplay> chosen(GetDXInstance(640, 480, &selector, &window));
    EXPECT_EQ(selector, DISPLAY_DX9);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"MSG GetDXInstance", "MSG DX10: Not implemented",
                                                     "MSG DX9: Using pixel shader -64768:3",
                                                     "MSG DX9: Using Linear interpolation", "MSG Using DirectX 9"}));
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->CanStretch(), 1);
    EXPECT_EQ(chosen->GetTransparentColor(), kMagenta);
}

TEST(BackEndChoice, TheSoftwareCompositorDescribesItsSurfacesAsSystemMemory)
{
    CTestWindow window(320, 200);
    CGraphicLog log;
    CDX7Display soft(&window, CreateSoftDDrawDriver());
    EXPECT_EQ(soft.Validate(1920, 1080), 1);
    EXPECT_EQ(soft.GetErrorCode(), 3u) << "no hardware acceleration, and nothing worse";
    soft.InitDD(&window);
    soft.InitSurfaces(320, 200, 1920, 1080);
    EXPECT_EQ(soft.GetTransparentColor(), kMagenta);
    const std::vector<std::string> lines = log.Lines();
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "WARN DX7: No hardware acceleration",
                         "MSG DX7: [CreatePrimarySurface->m_pDDSPrimary[32 bits(320,200) System]-] No error",
                         "MSG DX7: [CreateBackSurface->m_pDDSBack[32 bits(320,200) System]-] No error",
                         "MSG DX7: [CreateSimpleSurface->m_pDDSSimple[32 bits(320,200) System]-] No error",
                         "MSG DX7: [CreateVideoSurface->m_pDDSVideo[32 bits(320,200) System]-] No error",
                         "MSG DX7: Surfaces created Overlay(320 200) Video(1920 1080)"}));
}

// DirectDraw locks a surface while its DC is out: a presentation on the window thread waits for
// the update thread's drawing and never shows a frame half drawn. Each round the painter draws
// the top half, lets the presenter go, and only then draws the bottom half, over and over, ending
// in the top's colour.
TEST(BackEndThreads, ASoftwarePresentationNeverShowsAHalfDrawnFrame)
{
    CTestWindow window(64, 32);
    CDX7Display soft(&window, CreateSoftDDrawDriver());
    ASSERT_EQ(soft.Validate(64, 32), 1);
    soft.InitDD(&window);
    soft.InitSurfaces(64, 32, 64, 32);
    constexpr int kRounds = 20;
    px::Event halfDrawn(false, false, px::EventKind::Local), presented(false, false, px::EventKind::Local);
    std::thread painter([&] {
        for (int round = 0; round < kRounds; ++round) {
            const COLORREF colour = round % 2 ? kRed : kBlue;
            raster::HDC dc = nullptr;
            soft.GetVideoDC(&dc);
            FillOn(dc, 0, 0, 64, 16, colour);
            halfDrawn.Set();
            for (int k = 200; k >= 0; --k)
                FillOn(dc, 0, 16, 64, 32, k % 2 ? kGreen : colour);
            soft.ReleaseVideoDC(dc);
            presented.Wait();
        }
    });
    int torn = 0;
    for (int round = 0; round < kRounds; ++round) {
        halfDrawn.Wait();
        soft.Present(0);
        torn += window.Pixel(0, 0) != window.Pixel(0, 31);
        presented.Set();
    }
    painter.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(soft.GetErrorCode(), 3u) << "no failure besides the missing hardware";
}
