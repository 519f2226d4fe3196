// The back-end path of painting end to end: the control streams from kelvo-sim into a 640 x 480
// window through the tests' display back-end (registered in the Direct3D 9 place), whose answers
// to IsValid and CanStretch are scripted. The presented picture is compared pixel for pixel with
// the camera's image stretched to the window, the texts with their boxes, and the back-end's calls
// of one frame and one paint with the order of its DC pairs; then the overlay shapes traced with
// the mouse and the text dialog's kept text, as they show in the presented picture.
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

// The picture the back-end's last Present made, 0x00RRGGBB.
Picture Presented(displaytest::CTestDisplay* display, int32_t width, int32_t height)
{
    Picture p;
    p.width = width;
    p.height = height;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t bgr = display->WindowPixel(x, y);
            p.rgb.push_back(((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF));
        }
    return p;
}

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

    const bool presented = c.isValid == 1 || c.isValid == 10;
    const Picture p = presented ? Presented(registered.Made(), kW, kH) : FromWindow(host.Window());
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

// Each shape chosen in the menu and dragged with the mouse is one overlay object, shows in the
// border colour (red) within the box of its drag, the image untouched around it, and fires no
// mouse event. The traced text
// is the dialog's: a first dialog closed without OK leaves it empty, a text given with OK stays
// for the dialogs after it however they are closed. (The dialog's text is the process's: this is
// the only test of this program that answers it with OK.)
TEST(TracedShapes, EachShapeShowsWhereItWasDraggedAndTheTextIsTheDialogs)
{
    CRegisteredTestDisplay registered({1, 1, 1, 0x00FF00FF});
    CSimCamera camera(ImageCamera(kImageW, kImageH, PX_FORMAT_RGB32), "UseDDraw=9\n");
    ASSERT_TRUE(camera.Started());
    pxhost::HeadlessHostOptions options = Window(kImageW, kImageH);
    options.bAutoPaint = false;
    CHeadlessHost host(options);
    CImageRecorder recorder(host);
    ASSERT_EQ(host.Put("PopupMenuInteraction", HostValue::I4(0x20)), PX_S_OK);
    ASSERT_TRUE(StreamFirstImage(host, camera, recorder));
    const Picture image = CameraPicture(kImageW, kImageH, PX_FORMAT_RGB32, recorder.Images().back().qwSerial);
    auto menu = [&](uint32_t command) {
        host.ScriptMenuAnswer(command);
        EXPECT_EQ(host.WindowMessage(PX_WM_RBUTTONUP, 0, PX_MOUSE_LPARAM(1, 1)), 0);
    };
    // Clears the overlays, chooses the shape, drags it and paints.
    auto trace = [&](uint32_t command, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        menu(0x700);
        menu(command);
        host.ClearRecords();
        EXPECT_EQ(host.WindowMessage(PX_WM_LBUTTONDOWN, 0, PX_MOUSE_LPARAM(x0, y0)), 0);
        EXPECT_EQ(host.WindowMessage(PX_WM_MOUSEMOVE, PX_MK_LBUTTON, PX_MOUSE_LPARAM((x0 + x1) / 2, (y0 + y1) / 2)), 0);
        EXPECT_EQ(host.WindowMessage(PX_WM_LBUTTONUP, 0, PX_MOUSE_LPARAM(x1, y1)), 0);
        EXPECT_TRUE(host.Events().empty()) << "a trace fires no mouse event";
        host.Paint();
        const Picture p = Presented(registered.Made(), kImageW, kImageH);
        // One object for the whole drag (id 1 in the cleared list): the next new id is 2.
        EXPECT_EQ(CallInt(host, "AddOverlayPixel", {HostValue::I4(-1), HostValue::I4(0), HostValue::I4(0),
                                                    HostValue::I4(0), HostValue::I4(0)}),
                  2);
        return p;
    };
    constexpr uint32_t kRed = 0xFF0000;
    const struct {
        const char* shape;
        uint32_t command;
        int32_t x0, y0, x1, y1;
        int32_t left, top, right, bottom;   // where it may draw
    } shapes[] = {
        {"rectangle", 0xA02, 100, 80, 40, 30, 38, 28, 103, 83},
        {"ellipse", 0xA03, 40, 120, 140, 200, 38, 118, 143, 203},
        {"line", 0xA05, 20, 220, 300, 180, 18, 178, 303, 223},
        {"pixel", 0xA04, 50, 50, 200, 60, 200, 60, 201, 61},
        {"text", 0xA06, 150, 20, 300, 60, 150, 20, 310, 60},
    };
    Picture kelvo;
    for (const auto& s : shapes) {
        SCOPED_TRACE(s.shape);
        const Picture p = trace(s.command, s.x0, s.y0, s.x1, s.y1);
        EXPECT_GT(CountColour(p, kRed, s.left, s.top, s.right, s.bottom),
                  CountColour(image, kRed, s.left, s.top, s.right, s.bottom));
        for (int32_t y = 0; y < kImageH; ++y)
            for (int32_t x = 0; x < kImageW; ++x) {
                if (x < s.left || x >= s.right || y < s.top || y >= s.bottom) {
                    ASSERT_EQ(p.At(x, y), image.At(x, y)) << "(" << x << ", " << y << ")";
                }
            }
        kelvo = p;
    }
    EXPECT_EQ(host.CountEvents(PXEVENT_OnMouseDown), 0u);
    EXPECT_EQ(host.WindowMessage(PX_WM_LBUTTONDOWN, 0, PX_MOUSE_LPARAM(1, 1)), 0);
    EXPECT_EQ(host.CountEvents(PXEVENT_OnMouseDown), 1u) << "the trace ended: the next click is the host's";

    const struct {
        bool ok;
        const char* typed;
    } dialogs[] = {{false, "not taken"}, {true, "hello"}, {false, "not taken"}};
    std::vector<Picture> texts;
    for (const auto& d : dialogs) {
        host.ScriptTextDialog({d.ok, d.typed});
        host.ClearRecords();
        menu(0x1600);
        const std::vector<pxhost::TextDialogRecord> asked = host.TextDialogs();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].strTitle, "Set Overlay String");
        EXPECT_EQ(asked[0].strPrompt, "Enter the string to write");
        texts.push_back(trace(0xA06, 150, 20, 300, 60));
    }
    EXPECT_EQ(FirstDifference(texts[0], image), "") << "an empty text: nothing drawn";
    EXPECT_NE(FirstDifference(texts[1], image), "");
    EXPECT_NE(FirstDifference(texts[1], kelvo), "") << "\"hello\", not the first text";
    EXPECT_EQ(FirstDifference(texts[2], texts[1]), "") << "\"hello\" kept";
}

} // namespace
