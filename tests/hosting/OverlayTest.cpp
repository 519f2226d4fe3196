// Overlay graphics end to end: shapes and a text put up through the dispatch members, shown in
// the window's pixels by each display back-end (the Direct3D 9 one on Mesa's software renderer,
// which AllowSoftwareGL admits, and the software compositor), and not at all on the GDI path.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ControlTestUtil.h"

namespace {

using namespace pxtest;

// llvmpipe renders on the calling thread, where the sanitizers see its accesses to our memory.
const bool kSingleThreadedGl = setenv("LP_NUM_THREADS", "0", 0) == 0;

struct DisplayCase {
    const char* name;
    const char* config;
    bool bOverlay; // shown through a back-end
};

const DisplayCase kDisplays[] = {
    {"Direct3D9OnGles", "UseDDraw=9\nAllowSoftwareGL=1\nForceErrorMsg=1\n", true},
    {"DirectDrawSoftware", "UseDDraw=7\nForceErrorMsg=1\n", true},
    {"Gdi", "UseDDraw=0\n", false},
};

class OverlayDisplay : public ::testing::TestWithParam<DisplayCase> {};

HostValue I4(int32_t v) { return HostValue::I4(v); }

TEST_P(OverlayDisplay, ShapesAndTextThroughTheMembersLandOverTheImage)
{
    ASSERT_TRUE(kSingleThreadedGl);
    const DisplayCase& c = GetParam();
    // The window has the image's size, so that both back-ends show the image pixel for pixel.
    constexpr int32_t kW = 320, kH = 240;
    CSimCamera camera(ImageCamera(kW, kH, PX_FORMAT_RGB32), c.config);
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(kW, kH));
    CImageRecorder recorder(host);
    ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));
    ASSERT_TRUE(recorder.WaitForImages(1));
    ASSERT_TRUE(camera.sim.WaitForWaitingRequests(1, kWait));

    // (id, x1, y1, x2, y2, width, color, bColor, attribute); colours are COLORREF 0x00BBGGRR.
    ASSERT_EQ(host.Call("AddOverlayRect", {I4(-1), I4(20), I4(20), I4(120), I4(80), I4(1), I4(0x0000FFFF), I4(-1),
                                           I4(0)}),
              PX_S_OK);
    ASSERT_EQ(host.Call("AddOverlayEllipse", {I4(-1), I4(160), I4(40), I4(300), I4(180), I4(2), I4(0x00FFFFFF),
                                              I4(0x00FF0000), I4(0)}),
              PX_S_OK);
    ASSERT_EQ(host.Call("AddOverlayLine", {I4(-1), I4(0), I4(200), I4(kW - 1), I4(200), I4(1), I4(0x0000FF00), I4(0)}),
              PX_S_OK);
    for (int32_t i = 0; i < 10; ++i)
        ASSERT_EQ(host.Call("AddOverlayPixel", {I4(-1), I4(20 + 4 * i), I4(100), I4(0x000000FF), I4(0)}), PX_S_OK);
    // A pixel of exactly the transparent colour (magenta) lets the image through.
    ASSERT_EQ(host.Call("AddOverlayPixel", {I4(-1), I4(5), I4(5), I4(0x00FF00FF), I4(0)}), PX_S_OK);
    // One step of red away from the key: opaque.
    ASSERT_EQ(host.Call("AddOverlayText", {I4(-1), I4(20), I4(140), I4(0), I4(0), I4(0x00FF00FE), I4(-1), I4(16),
                                           I4(0), HostValue::Text("DejaVu Sans"), HostValue::Text("Overlay 123"),
                                           I4(0)}),
              PX_S_OK);
    ASSERT_EQ(host.Call("DrawOverlay"), PX_S_OK);
    host.Paint();

    const Picture image = CameraPicture(kW, kH, PX_FORMAT_RGB32, 0);
    const Picture p = FromWindow(host.Window());
    EXPECT_EQ(FirstDifference(p, image, 0, 0, kW, 15), "") << "above every shape, the magenta pixel included";
    EXPECT_EQ(FirstDifference(p, image, 0, 210, kW, kH), "") << "below every shape";
    if (!c.bOverlay) {
        EXPECT_EQ(FirstDifference(p, image, 0, 15, kW, 210), "") << "the GDI path draws no overlay";
        return;
    }
    EXPECT_EQ(CountColour(p, 0xFFFF00, 21, 21, 119, 79), 98u * 58u) << "the rectangle's yellow fill";
    EXPECT_EQ(p.At(230, 110), 0xFFFFFFu) << "the ellipse's white fill";
    EXPECT_GT(CountColour(p, 0x0000FF, 155, 35, 305, 185), 300u) << "the ellipse's blue border";
    EXPECT_EQ(CountColour(p, 0x00FF00, 0, 195, kW, 205), static_cast<size_t>(kW - 1)) << "the line, to its end point";
    EXPECT_EQ(CountColour(p, 0xFF0000, 15, 95, 65, 105), 10u) << "the pixels";
    EXPECT_GT(CountColour(p, 0xFE00FF, 15, 135, 200, 170), 50u) << "the text";
    EXPECT_GT(CountColour(p, 0x000000, 0, 30, kW, 50), 0u) << "ForceErrorMsg's \"Using DX\" text";
}

INSTANTIATE_TEST_SUITE_P(EachDisplay, OverlayDisplay, ::testing::ValuesIn(kDisplays),
                         [](const ::testing::TestParamInfo<DisplayCase>& info) { return info.param.name; });

} // namespace
