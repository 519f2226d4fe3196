// The back-end path of painting end to end: the control streams from kelvo-sim into a 640 x 480
// window through the tests' display back-end (registered in the Direct3D 9 place), whose answers
// to IsValid and CanStretch are scripted. The presented picture is compared pixel for pixel with
// the camera's image stretched to the window, the texts with their boxes, and the back-end's calls
// of one frame and one paint with the order of its DC pairs.
#include <gtest/gtest.h>

#include "ControlTestUtil.h"
#include "TestDisplay.h"

namespace {

using namespace pxtest;

constexpr int32_t kW = 640, kH = 480;       // the window
constexpr int32_t kImageW = 320, kImageH = 240;

struct BackEndCase {
    const char* name;
    int32_t isValid, canStretch;
    // The back-end's calls of one frame and one paint, IsValid left out.
    const char* calls;
};

// One frame drawn through the back-end: the image, then each text between its own pair.
#define PX_FRAME "GetVideoDC|ReleaseVideoDC|PresentVideo|GetIntermediateDC|ReleaseIntermediateDC|" \
                 "GetIntermediateDC|ReleaseIntermediateDC|"
#define PX_OVERLAY "ClearOverlay|GetOverlayDC|ReleaseOverlayDC|"

const BackEndCase kCases[] = {
    {"StretchedByTheBackEnd", 1, 1, PX_FRAME "Present(1)|"},
    {"StretchedByTheControl", 1, 0, PX_FRAME "Present(1)|"},
    // 10: the surfaces were made anew: the overlay is drawn again before the frame, and the paint
    // draws it and the picture again before presenting.
    {"SurfacesMadeAnew", 10, 1, PX_OVERLAY PX_FRAME PX_OVERLAY PX_OVERLAY PX_FRAME "Present(1)|"},
    // Anything else: the memory bitmap, as without a back-end.
    {"Unusable", 3, 1, ""},
};

void PrintTo(const BackEndCase& c, std::ostream* os) { *os << c.name; }

// The tests' back-end in the control's registry for one test, and the one the control made.
class CRegisteredTestDisplay {
public:
    CRegisteredTestDisplay(const displaytest::STestDisplayScript& script)
        : m_saved(display::CDisplayRegistry::Process().Factory(display::DISPLAY_DX9))
    {
        display::CDisplayRegistry::Process().SetFactory(display::DISPLAY_DX9, [this, script](display::HWND w) {
            m_pMade = new displaytest::CTestDisplay("test", &m_journal, script, w);
            return m_pMade;
        });
    }
    ~CRegisteredTestDisplay() { display::CDisplayRegistry::Process().SetFactory(display::DISPLAY_DX9, m_saved); }

    displaytest::CTestDisplay* Made() const { return m_pMade; }
    // The calls from the index'th on, IsValid left out, as "Name|Name|".
    std::string CallsFrom(size_t index) const
    {
        std::string calls;
        const std::vector<std::string> all = m_journal.Calls();
        for (size_t i = index; i < all.size(); ++i) {
            const std::string call = all[i].substr(all[i].find('.') + 1);
            if (call != "IsValid")
                calls += call + "|";
        }
        return calls;
    }
    size_t CallCount() const { return m_journal.Calls().size(); }

private:
    display::DisplayFactory m_saved;
    displaytest::CCallJournal m_journal;
    displaytest::CTestDisplay* m_pMade = nullptr;
};

class BackEndPainting : public ::testing::TestWithParam<BackEndCase> {};

TEST_P(BackEndPainting, ThePresentedPictureIsTheImageWithItsTextsAndOverlay)
{
    const BackEndCase& c = GetParam();
    CRegisteredTestDisplay registered({1, c.isValid, c.canStretch, 0x00FF00FF});
    CSimCamera camera(ImageCamera(kImageW, kImageH, PX_FORMAT_RGB32), "UseDDraw=9\nForceErrorMsg=1\n");
    ASSERT_TRUE(camera.Started());
    pxhost::HeadlessHostOptions options = Window(kW, kH);
    options.bAutoPaint = false;   // one paint, the test's
    CHeadlessHost host(options);
    CImageRecorder recorder(host);
    ASSERT_EQ(host.Put("FPSCorner", HostValue::I4(3)), PX_S_OK);
    ASSERT_TRUE(StreamFirstImage(host, camera, recorder));
    ASSERT_NE(registered.Made(), nullptr);

    // A yellow square over the image at (100, 100)-(150, 150), (200, 200)-(300, 300) in the window.
    ASSERT_EQ(host.Call("AddOverlayRect", {HostValue::I4(-1), HostValue::I4(100), HostValue::I4(100),
                                           HostValue::I4(150), HostValue::I4(150), HostValue::I4(1),
                                           HostValue::I4(0x0000FFFF), HostValue::I4(-1), HostValue::I4(0)}),
              PX_S_OK);
    ASSERT_EQ(host.Call("DrawOverlay"), PX_S_OK);
    // Two ticks of the frame-rate timer with a frame between them: a rate to show.
    auto frame = [&] {
        const size_t count = recorder.Images().size();
        return camera.FrameForWaitingReader() && recorder.WaitForImages(count + 1) &&
               camera.sim.WaitForWaitingRequests(1, kWait);
    };
    ASSERT_TRUE(host.FireTimer(PX_FPS_TIMER_ID) && host.Flush(kWait));
    ASSERT_TRUE(frame());
    ASSERT_TRUE(host.FireTimer(PX_FPS_TIMER_ID) && host.Flush(kWait));

    const size_t before = registered.CallCount();
    ASSERT_TRUE(frame());
    host.Paint();
    EXPECT_EQ(registered.CallsFrom(before), c.calls);
    EXPECT_TRUE(registered.Made()->Violations().empty());

    Picture p;
    const bool presented = c.isValid == 1 || c.isValid == 10;
    if (presented) {
        p.width = kW;
        p.height = kH;
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) {
                const uint32_t bgr = registered.Made()->WindowPixel(x, y);
                p.rgb.push_back(((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF));
            }
    } else {
        p = FromWindow(host.Window());
    }
    const Picture want = Stretch(CameraPicture(kImageW, kImageH, PX_FORMAT_RGB32, recorder.Images().back().qwSerial),
                                 kW, kH);
    const struct {
        const char* what;
        int32_t left, top, right, bottom;
    } boxes[] = {{"the frame rate", 570, 455, 635, 475}, {"Using DX:9", 0, 30, 130, 50}, {"the overlay", 195, 195, 305, 305}};
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            bool boxed = false;
            for (const auto& b : boxes)
                boxed = boxed || (x >= b.left && x < b.right && y >= b.top && y < b.bottom);
            if (!boxed) {
                ASSERT_EQ(p.At(x, y), want.At(x, y)) << "(" << x << ", " << y << ")";
            }
        }
    EXPECT_GT(CountColour(p, 0x000000, 570, 455, 635, 475), 0u) << boxes[0].what;
    EXPECT_GT(CountColour(p, 0x000000, 0, 30, 130, 50), 0u) << boxes[1].what;
    if (presented) {
        EXPECT_EQ(CountColour(p, 0xFFFF00, 202, 202, 298, 298), 96u * 96u) << "the overlay's fill";
    } else {
        EXPECT_EQ(FirstDifference(p, want, 195, 195, 305, 305), "") << "no overlay without the back-end";
    }
}

INSTANTIATE_TEST_SUITE_P(EachAnswer, BackEndPainting, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<BackEndCase>& info) { return info.param.name; });

} // namespace
