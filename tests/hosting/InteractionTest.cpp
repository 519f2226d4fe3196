// Mouse, zoom, the region of interest, the popup menu, saving and copying, end to end: the
// headless host hands the control mouse messages and scripted menu and dialog answers, and the
// camera (kelvo-sim) sends the window of the image the control asked for.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>

#include "tests/image/ImageReaders.h"
#include "tests/platform/Scratch.h"
#include "ControlTestUtil.h"

namespace {

using namespace pxtest;

// The camera's window as the control reads it back: offset X, offset Y, size X, size Y, mode.
std::vector<int64_t> NewWindow(CHeadlessHost& host)
{
    return {CallInt(host, "GetNewBufferOffsetX"), CallInt(host, "GetNewBufferOffsetY"),
            CallInt(host, "GetNewBufferSizeX"), CallInt(host, "GetNewBufferSizeY"), CallInt(host, "GetNewSubsection")};
}

// The bitmap file of a converted image: the file header, the header with the height made positive,
// the colour table, then the rows (already padded to 4 bytes) from the last.
std::vector<uint8_t> BitmapFile(const CapturedImage& image)
{
    const uint32_t rows = static_cast<uint32_t>(-image.height), table = 4 * image.dwClrUsed;
    const uint32_t offset = 14 + 40 + table;
    std::vector<uint8_t> file = {'B', 'M'};
    for (uint32_t v : {offset + image.dwSizeImage, 0u, offset})
        for (int i = 0; i < 4; ++i)
            file.push_back(static_cast<uint8_t>(v >> (8 * i)));
    file.insert(file.end(), image.header.begin(), image.header.begin() + 40 + table);
    for (int i = 0; i < 4; ++i)
        file[14 + 8 + i] = static_cast<uint8_t>(rows >> (8 * i));
    const size_t stride = image.data.size() / rows;
    for (size_t r = rows; r-- > 0;)
        file.insert(file.end(), image.data.begin() + r * stride, image.data.begin() + (r + 1) * stride);
    return file;
}

// Waits until the last image handed out has this width (a camera's new window has arrived).
bool WaitForWidth(CHeadlessHost& host, CImageRecorder& recorder, int32_t width)
{
    return host.WaitFor(
        [&] {
            std::vector<CapturedImage> images = recorder.Images();
            return !images.empty() && images.back().width == width;
        },
        kWait);
}

// A camera that makes frames on its own, for the tests that change its window while it streams.
pxsim::SimConfig StreamingCamera(uint32_t width, uint32_t height, uint32_t format)
{
    pxsim::SimConfig config = ImageCamera(width, height, format);
    config.dwFrameIntervalMs = 20;
    return config;
}

TEST(ControlMouse, WindowPointsBecomeImagePointsAndEventsOrZoom)
{
    CSimCamera camera(ImageCamera(640, 480, PX_FORMAT_MONO8));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(32, 24));
    // A 32 x 24 window of the image at (100, 50), shown 1:1: window point (10, 10) is (110, 60).
    for (const auto& [name, value] : {std::pair{"BufferSizeX", 32}, {"BufferSizeY", 24}, {"BufferOffsetX", 100},
                                      {"BufferOffsetY", 50}, {"Subsection", 1}, {"PopupMenuInteraction", 0x80}})
        ASSERT_EQ(host.Put(name, HostValue::I4(value)), PX_S_OK);
    ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));

    const uint32_t kShift = PX_MK_SHIFT, kControl = PX_MK_CONTROL;
    const struct {
        uint32_t msg, keys;
        bool special;
        int32_t event;                 // 0: none
        std::vector<int64_t> args;
    } cases[] = {
        {PX_WM_MOUSEMOVE, 0, false, PXEVENT_OnMouseMove, {110, 60}},
        {PX_WM_LBUTTONDOWN, 0, false, PXEVENT_OnMouseDown, {110, 60, 1}},
        {PX_WM_LBUTTONUP, kShift, false, PXEVENT_OnMouseUp, {110, 60, 1}},   // no zoom without special
        {PX_WM_RBUTTONDOWN, kShift, true, PXEVENT_OnMouseDown, {110, 60, 2}},
        {PX_WM_RBUTTONUP, 0, false, PXEVENT_OnMouseUp, {110, 60, 2}},        // 0x80 alone: no menu
        {PX_WM_RBUTTONUP, kControl, true, 0, {}},
        {PX_WM_MBUTTONDOWN, 0, true, PXEVENT_OnMouseDown, {110, 60, 4}},
        {PX_WM_MBUTTONUP, 0, true, PXEVENT_OnMouseUp, {110, 60, 4}},
        {PX_WM_MBUTTONUP, kShift, true, 0, {}},
        {PX_WM_MBUTTONUP, kControl, false, PXEVENT_OnMouseUp, {110, 60, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "message 0x" << std::hex << c.msg << " keys " << c.keys);
        ASSERT_EQ(host.Put("SpecialMouseInteraction", HostValue::I4(c.special ? 1 : 0)), PX_S_OK);
        host.ClearRecords();
        EXPECT_EQ(host.WindowMessage(c.msg, c.keys, PX_MOUSE_LPARAM(10, 10)), 0) << "never consumed";
        std::vector<pxhost::RecordedEvent> events = host.Events();
        ASSERT_EQ(events.size(), c.event != 0 ? 1u : 0u);
        if (c.event == 0)
            continue;
        EXPECT_EQ(events[0].dispid, c.event);
        std::vector<int64_t> args;
        for (const HostValue& a : events[0].args)
            args.push_back(a.Int());
        EXPECT_EQ(args, c.args);
    }
    EXPECT_TRUE(host.Menus().empty());
    EXPECT_EQ(NewWindow(host), (std::vector<int64_t>{100, 50, 32, 24, 1})) << "nothing zoomed";
}

// Zoom in on the whole image asks for the window around the point at twice the scale, again for
// four times; the camera's next frames have that window; zooming out shows the image scaled down.
TEST(ControlZoom, ZoomAsksTheCameraForAWindowAroundThePoint)
{
    CSimCamera camera(StreamingCamera(640, 480, PX_FORMAT_MONO8));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(640, 480));
    CImageRecorder recorder(host);
    ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));
    const std::vector<HostValue> centre = {HostValue::I4(320), HostValue::I4(240)};
    auto zoom = [&](int32_t x, int32_t y, double scale, int32_t options) {
        host.ClearRecords();
        HostValue result;
        EXPECT_EQ(host.Call("ZoomOnPoint", {HostValue::I4(x), HostValue::I4(y), HostValue::R8(scale), HostValue::I4(options)},
                            &result),
                  PX_S_OK);
        EXPECT_EQ(result.Int(), 0);
        return NewWindow(host);
    };
    auto scaleEvent = [&]() {
        std::vector<pxhost::RecordedEvent> events = host.Events();
        for (const auto& e : events)
            if (e.dispid == PXEVENT_OnScaleChange && e.args.size() == 2)
                return std::vector<double>{e.args[0].Real(), e.args[1].Real()};
        return std::vector<double>{};
    };

    EXPECT_EQ(zoom(320, 240, 2.0, 0), (std::vector<int64_t>{160, 120, 320, 240, 1}));
    EXPECT_EQ(scaleEvent(), (std::vector<double>{2.0, 2.0}));
    EXPECT_EQ(zoom(320, 240, 2.0, 0), (std::vector<int64_t>{240, 180, 160, 120, 1}));
    ASSERT_TRUE(WaitForWidth(host, recorder, 160)) << "the camera sends the new window";
    EXPECT_EQ(host.Get("BufferOffsetX").Int(), 240);

    // Near a corner the window stays inside the image.
    EXPECT_EQ(zoom(10, 470, 1.0, 0), (std::vector<int64_t>{0, 360, 160, 120, 1}));
    // Back to the whole image, then scaled down: the whole image at half size.
    EXPECT_EQ(zoom(0, 0, 1.0, 1), (std::vector<int64_t>{0, 0, 640, 480, 1}));
    EXPECT_EQ(zoom(0, 0, 0.5, 0), (std::vector<int64_t>{0, 0, 320, 240, 0}));
    EXPECT_EQ(scaleEvent(), (std::vector<double>{0.5, 0.5}));

    // With bit 0 of DisplayOptions the zoom repeats until the image fits the window's width; a
    // scale that cannot shrink it ends after a pass that changed nothing.
    host.Resize(160, 120);
    ASSERT_EQ(host.Put("DisplayOptions", HostValue::I4(1)), PX_S_OK);
    EXPECT_EQ(zoom(0, 0, 1.0, 1), (std::vector<int64_t>{0, 0, 640, 480, 1}));
    EXPECT_EQ(zoom(0, 0, 0.5, 0), (std::vector<int64_t>{0, 0, 160, 120, 0})) << "two passes";

    // Shift and a left click with special interaction zoom at the image point (the whole image
    // shown 1:1 once it has arrived).
    ASSERT_EQ(host.Put("DisplayOptions", HostValue::I4(0)), PX_S_OK);
    ASSERT_EQ(host.Put("SpecialMouseInteraction", HostValue::I4(1)), PX_S_OK);
    host.Resize(640, 480);
    ASSERT_TRUE(WaitForWidth(host, recorder, 160));
    EXPECT_EQ(zoom(0, 0, 1.0, 1), (std::vector<int64_t>{0, 0, 640, 480, 1}));
    ASSERT_TRUE(WaitForWidth(host, recorder, 640));
    EXPECT_EQ(host.WindowMessage(PX_WM_LBUTTONUP, PX_MK_SHIFT, PX_MOUSE_LPARAM(600, 400)), 0);
    EXPECT_EQ(NewWindow(host), (std::vector<int64_t>{320, 240, 320, 240, 1}));

    // A stopped control asks nothing and only repaints.
    ASSERT_EQ(host.Call("Stop"), PX_S_OK);
    const uint64_t invalidations = host.Invalidations();
    EXPECT_EQ(zoom(1, 1, 2.0, 0), (std::vector<int64_t>{0, 0, 0, 0, 0}));
    EXPECT_GT(host.Invalidations(), invalidations);
}

// The menu's items follow PopupMenuInteraction; its commands act; the region of interest is
// dragged with the mouse and fitted to the image's aspect.
TEST(ControlMenu, ItemsFollowTheBitsAndTheirCommandsAct)
{
    CSimCamera camera(StreamingCamera(640, 480, PX_FORMAT_MONO8));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(640, 480));
    CImageRecorder recorder(host);
    ASSERT_EQ(host.Put("PopupMenuInteraction", HostValue::I4(0xFF)), PX_S_OK);
    ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));
    auto menu = [&](uint32_t answer, int32_t x = 5, int32_t y = 6) {
        host.ScriptMenuAnswer(answer);
        EXPECT_EQ(host.WindowMessage(PX_WM_RBUTTONUP, 0, PX_MOUSE_LPARAM(x, y)), 0);
        std::vector<pxhost::MenuRecord> menus = host.Menus();
        return menus.empty() ? pxhost::MenuRecord() : menus.back();
    };
    auto texts = [](const std::vector<pxhost::MenuItemRecord>& items) {
        std::string all;
        for (const auto& i : items)
            all += (i.dwFlags & PX_MENU_SEPARATOR ? std::string("-") : i.strText) +
                   (i.dwFlags & PX_MENU_CHECKED ? "*" : "") + (i.children.empty() ? "" : "(" + std::to_string(i.children.size()) + ")") + "|";
        return all;
    };

    // Without an accelerated back-end there is no overlay submenu.
    pxhost::MenuRecord m = menu(0);
    EXPECT_EQ(texts(m.items), "Select new ROI|-|Zoom(2)|-|Center Image|-|Enable Special Mouse Interaction|"
                              "Framerate Display(6)|-|Save Image|-|Copy Image|");
    EXPECT_EQ(m.x, 205);
    EXPECT_EQ(m.y, 106);
    EXPECT_EQ(texts(m.items[2].children), "In|Out|");
    EXPECT_EQ(m.items[2].children[0].id, 0xF00u);
    EXPECT_EQ(texts(m.items[7].children),
              "Disable Framerate Display|-|Upper-Left Corner|Upper-Right Corner|Lower-Left Corner|Lower-Right Corner|");

    menu(0x400);
    EXPECT_EQ(host.Get("SpecialMouseInteraction").Int(), 1);
    menu(0x603);
    EXPECT_EQ(host.Get("FPSCorner").Int(), 3);
    menu(0x300);
    EXPECT_EQ(host.Get("ShowFPS").Int(), 0);
    EXPECT_EQ(texts(menu(0).items), "Select new ROI|-|Zoom(2)|-|Center Image|-|Disable Special Mouse Interaction|"
                                    "Enable Framerate Display|-|Save Image|-|Copy Image|");
    menu(0xF00, 320, 240);
    EXPECT_EQ(NewWindow(host), (std::vector<int64_t>{160, 120, 320, 240, 1})) << "Zoom In at the point";
    ASSERT_TRUE(WaitForWidth(host, recorder, 320));
    menu(0x1000, 320, 240);
    EXPECT_EQ(NewWindow(host), (std::vector<int64_t>{0, 0, 640, 480, 1})) << "Zoom Out";
    ASSERT_TRUE(WaitForWidth(host, recorder, 640));

    // "Select new ROI" and a drag, fitted to the image's aspect and placed leftwards or upwards
    // from the start when dragged that way; the whole image is asked for again between drags.
    ASSERT_EQ(host.Put("SpecialMouseInteraction", HostValue::I4(0)), PX_S_OK);
    const struct {
        int32_t x0, y0, x1, y1;
        std::vector<int64_t> window;
    } drags[] = {{200, 100, 100, 90, {100, 25, 100, 75, 1}},     // 100 x 10
                 {200, 100, 301, 110, {200, 100, 104, 78, 1}},   // 101 x 10
                 {300, 300, 310, 200, {300, 198, 136, 102, 1}}}; // 10 x 100
    for (const auto& d : drags) {
        menu(0xE00);
        host.ClearRecords();
        EXPECT_EQ(host.WindowMessage(PX_WM_LBUTTONDOWN, 0, PX_MOUSE_LPARAM(d.x0, d.y0)), 0);
        EXPECT_EQ(host.WindowMessage(PX_WM_MOUSEMOVE, PX_MK_LBUTTON, PX_MOUSE_LPARAM((d.x0 + d.x1) / 2, d.y1)), 0);
        EXPECT_EQ(host.WindowMessage(PX_WM_LBUTTONUP, 0, PX_MOUSE_LPARAM(d.x1, d.y1)), 0);
        EXPECT_EQ(NewWindow(host), d.window);
        EXPECT_EQ(host.CountEvents(PXEVENT_OnMouseDown) + host.CountEvents(PXEVENT_OnMouseMove) +
                      host.CountEvents(PXEVENT_OnMouseUp),
                  0u)
            << "a trace fires no mouse events";
        ASSERT_TRUE(WaitForWidth(host, recorder, int32_t(d.window[2]))) << "the camera sends the region";
        EXPECT_EQ(CallInt(host, "ZoomOnPoint", {HostValue::I4(0), HostValue::I4(0), HostValue::R8(1.0), HostValue::I4(1)}), 0);
        ASSERT_TRUE(WaitForWidth(host, recorder, 640));
    }
    // The trace ended: the next click is the host's again.
    EXPECT_EQ(host.WindowMessage(PX_WM_LBUTTONDOWN, 0, PX_MOUSE_LPARAM(1, 1)), 0);
    EXPECT_EQ(host.CountEvents(PXEVENT_OnMouseDown), 1u);
}

// With a display back-end (DirectDraw's software compositor here) the menu has the overlay
// submenu; its check marks follow the drawing settings, and an attribute toggles.
TEST(ControlMenu, TheOverlaySubmenuComesWithABackEnd)
{
    CSimCamera camera(ImageCamera(64, 48, PX_FORMAT_MONO8), "UseDDraw=7\n");
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(64, 48));
    ASSERT_EQ(host.Put("PopupMenuInteraction", HostValue::I4(0x20)), PX_S_OK);
    ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));
    auto menu = [&](uint32_t answer) {
        host.ScriptMenuAnswer(answer);
        EXPECT_EQ(host.WindowMessage(PX_WM_RBUTTONUP, 0, PX_MOUSE_LPARAM(1, 1)), 0);
        std::vector<pxhost::MenuRecord> menus = host.Menus();
        return menus.empty() ? std::vector<pxhost::MenuItemRecord>() : menus.back().items;
    };
    // The checked entries of a submenu.
    auto checked = [](const pxhost::MenuItemRecord& submenu) {
        std::string texts;
        for (const auto& i : submenu.children)
            texts += i.dwFlags & PX_MENU_CHECKED ? i.strText + "|" : "";
        return texts;
    };
    std::vector<pxhost::MenuItemRecord> items = menu(0x1302);
    ASSERT_EQ(items.size(), 1u);
    ASSERT_EQ(items[0].strText, "Overlays");
    const std::vector<pxhost::MenuItemRecord>& overlays = items[0].children;
    ASSERT_EQ(overlays.size(), 14u);
    EXPECT_EQ(checked(overlays[0]), "None|");
    EXPECT_EQ(checked(overlays[1]), "Red|");
    EXPECT_EQ(checked(overlays[2]), "2|");
    EXPECT_EQ(overlays[3].children.size(), 5u);
    EXPECT_EQ(checked(overlays[3].children[0]), "Normal|");
    EXPECT_EQ(checked(overlays[3].children[1]), "");
    EXPECT_EQ(checked(overlays[3].children[2]), "Arial|");
    EXPECT_EQ(overlays[3].children[3].children.size(), 15u);
    EXPECT_EQ(overlays[5].strText, "Trace Rectangle");
    EXPECT_EQ(overlays[5].id, 0xA02u);
    EXPECT_EQ(overlays[13].strText, "Show Overlays");

    // Italic chosen once is checked; chosen again it is off. The border "Transparent" takes the
    // back-end's colour, and the entry is checked by it.
    EXPECT_EQ(checked(menu(0x1302)[0].children[3].children[1]), "Italic|");
    EXPECT_EQ(checked(menu(0xC01)[0].children[3].children[1]), "");
    EXPECT_EQ(checked(menu(0)[0].children[1]), "Transparent|");
}

// SaveImage by type: the bitmap file byte for byte, the encoders' files read back with their
// libraries, raw bytes as they are, and nothing for the types without a format; the dialog offers
// the requested type's entry (all four for type 0) and the chosen entry decides.
TEST(ControlSave, FilesByTypeAndThroughTheDialog)
{
    CSimCamera camera(ImageCamera(5, 3, PX_FORMAT_RGB24));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(5, 3));
    CImageRecorder recorder(host);
    ASSERT_EQ(host.Put("PopupMenuInteraction", HostValue::I4(0xC0)), PX_S_OK);
    ASSERT_TRUE(StreamFirstImage(host, camera, recorder));
    const CapturedImage image = recorder.Images().back();
    ASSERT_EQ(image.data.size(), 48u) << "rows of 15 bytes padded to 16";
    const platformtest::CScratch scratch;
    const std::string& dir = scratch.Path();
    ASSERT_FALSE(dir.empty());

    const std::vector<uint8_t> bitmap = BitmapFile(image);
    std::vector<uint8_t> rgb;   // red, green, blue, top-down
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x)
            for (int i = 2; i >= 0; --i)
                rgb.push_back(image.data[y * 16 + x * 3 + i]);

    const struct {
        uint32_t type;
        const char* name;
        std::vector<uint8_t> start;   // the file's first bytes; empty: no file
    } cases[] = {
        {0, "a.png", {'B', 'M'}},   // type 0 with a name: a bitmap whatever the extension
        {1, "b.bmp", {'B', 'M'}},
        {2, "c.jpg", {0xFF, 0xD8, 0xFF}},
        {4, "d.png", {0x89, 'P', 'N', 'G'}},
        {5, "e.tif", {'I', 'I', 42, 0}},
        {7, "f.raw", image.data},
        {3, "g", {}},
        {6, "h", {}},
        {8, "i", {}},
    };
    for (const auto& c : cases) {
        const std::string path = dir + "/" + c.name;
        EXPECT_EQ(CallInt(host, "SaveImage", {HostValue::I4(c.type), HostValue::Text(path)}), c.start.empty() ? 0 : 1)
            << c.type;
        const std::vector<uint8_t> bytes = ReadBytes(path);
        EXPECT_EQ(access(path.c_str(), F_OK) == 0, !c.start.empty()) << c.type;
        if (c.start.empty())
            continue;
        ASSERT_GE(bytes.size(), c.start.size()) << c.type;
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + c.start.size()), c.start) << c.type;
        if (c.type <= 1) {
            EXPECT_EQ(bytes, bitmap) << c.type;
        } else if (c.type == 7) {
            EXPECT_EQ(bytes, image.data);
        } else {
            // Read back with the encoders' own libraries: exact but for the lossy JPEG.
            DecodedImage decoded;
            const bool read = c.type == 2   ? ReadJpegFile(path, &decoded)
                              : c.type == 4 ? ReadPngFile(path, false, &decoded)
                                            : ReadTiffFile(path, &decoded);
            ASSERT_TRUE(read) << c.type;
            ASSERT_EQ(decoded.pixels.size(), rgb.size()) << c.type;
            double error = 0;
            for (size_t i = 0; i < rgb.size(); ++i)
                error += std::abs(int(decoded.pixels[i]) - int(rgb[i]));
            EXPECT_LE(error / rgb.size(), c.type == 2 ? 12.0 : 0.0) << c.type;
        }
        unlink(path.c_str());
    }

    // The dialog.
    host.ScriptSaveDialog({true, dir + "/chosen", 2});
    EXPECT_EQ(CallInt(host, "SaveImage", {HostValue::I4(0), HostValue::Text("")}), 1);
    EXPECT_EQ(ReadBytes(dir + "/chosen").at(1), 'P') << "the third entry: PNG";
    host.ScriptSaveDialog({true, dir + "/jpeg", 0});
    EXPECT_EQ(CallInt(host, "SaveImage", {HostValue::I4(2), HostValue::Text("")}), 1);
    EXPECT_EQ(ReadBytes(dir + "/jpeg").at(0), 0xFF);
    host.ScriptSaveDialog({false, "", 0});
    EXPECT_EQ(CallInt(host, "SaveImage", {HostValue::I4(1), HostValue::Text("")}), 0) << "cancelled";
    std::vector<pxhost::SaveDialogRecord> dialogs = host.SaveDialogs();
    ASSERT_EQ(dialogs.size(), 3u);
    using Filters = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(dialogs[0].filters, (Filters{{"Bitmap Files", "*.BMP"}, {"Jpeg Files", "*.JPG"}, {"PNG Files", "*.PNG"},
                                           {"Tiff Files", "*.TIFF"}}));
    EXPECT_EQ(dialogs[0].strDefaultExt, "BMP");
    EXPECT_EQ(dialogs[0].strTitle, "Save Dravik KELVO Image");
    EXPECT_EQ(dialogs[0].strInitialName, "IMAGE000");
    EXPECT_EQ(dialogs[1].filters, (Filters{{"Jpeg Files", "*.JPG"}}));
    EXPECT_EQ(dialogs[1].strDefaultExt, "JPG");
    EXPECT_EQ(dialogs[2].filters, (Filters{{"Bitmap Files", "*.BMP"}}));

    // The menu's "Save Image" is SaveImage(0, ""); its "Copy Image" puts the converted image on
    // the clipboard as a 32-bit bitmap.
    host.ScriptSaveDialog({true, dir + "/menu", 3});
    host.ScriptMenuAnswer(0x100);
    EXPECT_EQ(host.WindowMessage(PX_WM_RBUTTONUP, 0, PX_MOUSE_LPARAM(1, 1)), 0);
    EXPECT_EQ(ReadBytes(dir + "/menu").at(0), 'I') << "the fourth entry: TIFF";
    host.ScriptMenuAnswer(0x1700);
    EXPECT_EQ(host.WindowMessage(PX_WM_RBUTTONUP, 0, PX_MOUSE_LPARAM(1, 1)), 0);
    std::vector<pxhost::HostBitmap> clipboard = host.Clipboard();
    ASSERT_EQ(clipboard.size(), 1u);
    ASSERT_EQ(clipboard[0].width, 5);
    ASSERT_EQ(clipboard[0].height, 3);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 5; ++x) {
            const uint8_t* p = image.data.data() + y * 16 + x * 3;
            EXPECT_EQ(clipboard[0].Pixel(x, y), (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0]) << x << "," << y;
        }
    }

}

// A bitmap file of the other depths (24 bits above): rows of 4 x width bytes for 32 bits, 8 bits
// with the 256 colours and the pixels at 1078; a stopped control writes no type.
TEST(ControlSave, BitmapFilesOfEachDepthAndNothingOnceStopped)
{
    const struct {
        uint32_t format;
        size_t rowBytes, pixelOffset;
    } depths[] = {{PX_FORMAT_RGB32, 20, 54}, {PX_FORMAT_MONO8, 8, 1078}};
    const platformtest::CScratch scratch;
    const std::string path = scratch.In("image.bmp");
    for (const auto& d : depths) {
        SCOPED_TRACE(d.format);
        CSimCamera camera(ImageCamera(5, 3, d.format));
        ASSERT_TRUE(camera.Started());
        CHeadlessHost host(Window(5, 3));
        CImageRecorder recorder(host);
        ASSERT_TRUE(StreamFirstImage(host, camera, recorder));
        const CapturedImage image = recorder.Images().back();
        ASSERT_EQ(image.data.size(), 3 * d.rowBytes);
        EXPECT_EQ(CallInt(host, "SaveImage", {HostValue::I4(1), HostValue::Text(path)}), 1);
        const std::vector<uint8_t> bytes = ReadBytes(path);
        ASSERT_GE(bytes.size(), 14u);
        EXPECT_EQ(bytes[10] | (bytes[11] << 8), static_cast<int>(d.pixelOffset));
        EXPECT_EQ(bytes, BitmapFile(image));
        unlink(path.c_str());

        ASSERT_EQ(host.Call("Stop"), PX_S_OK);
        for (int32_t type = 0; type <= 8; ++type) {
            EXPECT_EQ(CallInt(host, "SaveImage", {HostValue::I4(type), HostValue::Text(path)}), 0) << type;
            EXPECT_NE(access(path.c_str(), F_OK), 0) << type;
        }
    }
}

} // namespace
