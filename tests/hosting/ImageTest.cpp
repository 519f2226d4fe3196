// Images end to end: kelvo-sim in this process streams every pixel format to a control in the
// headless host; the bitmap handed out during OnImageReceived is checked byte for byte against the
// conversion tables, and the painted window pixel for pixel; then the frame-rate text, the
// back-end text and the window's size changes as the control paints them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ControlTestUtil.h"
#include "raster/Gdi.h"

namespace {

using namespace pxtest;

struct FormatCase {
    const char* name;
    uint32_t cameraFormat;
    uint32_t width, height;          // of the image
    int32_t windowWidth, windowHeight;
    uint32_t displayOptions;         // before Start
    uint32_t forceCopyFormat;        // configuration value
    uint32_t wantCopyFormat;
    uint16_t wantBits;
};

const FormatCase kFormats[] = {
    {"Mono8", PX_FORMAT_MONO8, 62, 40, 62, 40, 0, 0, PX_FORMAT_MONO8, 8},
    {"Mono8FiveWide", PX_FORMAT_MONO8, 5, 3, 5, 3, 0, 0, PX_FORMAT_MONO8, 8},
    {"SystemColours", PX_FORMAT_SYSCOLOR8, 62, 40, 62, 40, 0, 0, PX_FORMAT_SYSCOLOR8, 8},
    {"Rgb24", PX_FORMAT_RGB24, 62, 40, 62, 40, 0, 0, PX_FORMAT_RGB24, 24},
    {"Rgb32", PX_FORMAT_RGB32, 62, 40, 62, 40, 0, 0, PX_FORMAT_RGB32, 32},
    {"Yuv16", PX_FORMAT_YUV16, 62, 40, 62, 40, 0, 0, PX_FORMAT_RGB24, 24},
    {"Yuv16SixWide", PX_FORMAT_YUV16, 6, 4, 6, 4, 0, 0, PX_FORMAT_RGB24, 24},
    {"Rgb16", PX_FORMAT_RGB16, 62, 40, 62, 40, 0, 0, PX_FORMAT_RGB16, 16},
    {"Mono8As32", PX_FORMAT_MONO8, 62, 40, 62, 40, 2, 0, PX_FORMAT_RGB32, 32},
    {"SystemColoursAs32", PX_FORMAT_SYSCOLOR8, 30, 20, 30, 20, 2, 0, PX_FORMAT_RGB32, 32},
    {"Rgb24As32", PX_FORMAT_RGB24, 62, 40, 62, 40, 2, 0, PX_FORMAT_RGB32, 32},
    {"Yuv16As32", PX_FORMAT_YUV16, 62, 40, 62, 40, 2, 0, PX_FORMAT_RGB32, 32},
    {"Rgb16As32IsBlack", PX_FORMAT_RGB16, 62, 40, 62, 40, 2, 0, PX_FORMAT_RGB32, 32},
    {"Rgb16ForcedTo24IsBlack", PX_FORMAT_RGB16, 62, 40, 62, 40, 0, PX_FORMAT_RGB24, PX_FORMAT_RGB24, 24},
    {"Rgb32ForcedTo16", PX_FORMAT_RGB32, 62, 40, 62, 40, 0, PX_FORMAT_RGB16, PX_FORMAT_RGB16, 16},
    {"Yuv16ForcedTo16", PX_FORMAT_YUV16, 62, 40, 62, 40, 0, PX_FORMAT_RGB16, PX_FORMAT_RGB16, 16},
    {"Mono8ForcedTo24", PX_FORMAT_MONO8, 62, 40, 62, 40, 0, PX_FORMAT_RGB24, PX_FORMAT_RGB24, 24},
    {"Rgb24ForcedTo8IsBlack", PX_FORMAT_RGB24, 62, 40, 62, 40, 0, PX_FORMAT_MONO8, PX_FORMAT_MONO8, 8},
    {"Mono8Stretched", PX_FORMAT_MONO8, 62, 40, 124, 20, 0, 0, PX_FORMAT_MONO8, 8},
    {"Rgb24Stretched", PX_FORMAT_RGB24, 62, 40, 31, 81, 0, 0, PX_FORMAT_RGB24, 24},
    {"Yuv16Stretched", PX_FORMAT_YUV16, 62, 40, 100, 100, 0, 0, PX_FORMAT_RGB24, 24},
};

// The case's name in the test list, not its bytes.
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class ImageFormats : public ::testing::TestWithParam<FormatCase> {};

// The header and the bytes the control converted, and the window it painted.
TEST_P(ImageFormats, ConvertedAndPaintedPixelsFollowTheTables)
{
    const FormatCase& c = GetParam();
    std::string config = "UseDDraw=0\n";
    if (c.forceCopyFormat != 0)
        config += "ForceCopyFormat=" + std::to_string(c.forceCopyFormat) + "\n";
    CSimCamera camera(ImageCamera(c.width, c.height, c.cameraFormat), config);
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(c.windowWidth, c.windowHeight));
    CImageRecorder recorder(host);
    ASSERT_EQ(host.Put("DisplayOptions", HostValue::I4(static_cast<int32_t>(c.displayOptions))), PX_S_OK);
    ASSERT_TRUE(StreamFirstImage(host, camera, recorder));

    const CapturedImage image = recorder.Images().front();
    const uint32_t stride = DisplayStride(c.wantCopyFormat, c.width);
    EXPECT_EQ(host.Call("GetBufferAttribute", {}, nullptr), PX_S_OK);
    HostValue attribute;
    host.Call("GetBufferAttribute", {}, &attribute);
    EXPECT_EQ(attribute.Int(), c.wantCopyFormat);
    EXPECT_EQ(image.dwHeaderSize, 40u);
    EXPECT_EQ(image.width, static_cast<int32_t>(c.width));
    EXPECT_EQ(image.height, -static_cast<int32_t>(c.height)) << "top-down rows";
    EXPECT_EQ(image.bitCount, c.wantBits);
    EXPECT_EQ(image.dwSizeImage, stride * c.height);
    if (c.wantBits == 8) {
        EXPECT_EQ(image.dwClrUsed, 256u);
        ASSERT_EQ(image.header.size(), 1064u);
        const bool system = c.cameraFormat == PX_FORMAT_SYSCOLOR8;
        // Entry 9 is (166, 202, 240) in the system colours, grey otherwise; entry 200 is grey in both.
        const uint8_t* entry9 = &image.header[40 + 4 * 9];
        EXPECT_EQ(entry9[2], system ? 166 : 9);
        EXPECT_EQ(entry9[1], system ? 202 : 9);
        EXPECT_EQ(entry9[0], system ? 240 : 9);
        EXPECT_EQ(image.header[40 + 4 * 200], 200);
    } else {
        ASSERT_EQ(image.header.size(), 44u);
        EXPECT_EQ(image.header[40] | image.header[41] | image.header[42] | image.header[43], 0);
    }

    const std::vector<uint8_t> source =
        CameraBytes(WholeImage(c.width, c.height, c.cameraFormat), image.qwSerial);
    const std::vector<uint8_t> want = Convert(source.data(), c.cameraFormat, c.width, c.height, c.wantCopyFormat);
    ASSERT_EQ(image.data.size(), want.size());
    const size_t rowBytes = c.width * (c.wantBits / 8u);
    for (size_t i = 0; i < want.size(); ++i) {
        // RGB24 into RGB32: the fourth byte means nothing but in a row's last pixel, where it is 0.
        // The padding of a row is not looked at either.
        const size_t column = i % stride;
        const bool free = c.wantCopyFormat == PX_FORMAT_RGB32 && c.cameraFormat == PX_FORMAT_RGB24 &&
                          column % 4 == 3 && column != rowBytes - 1;
        if (free || column >= rowBytes)
            continue;
        ASSERT_EQ(image.data[i], want[i]) << "byte " << i << " (row " << i / stride << ", column " << column << ")";
    }

    host.Paint();
    const Picture painted = FromWindow(host.Window());
    const Picture expected = Stretch(Look(want, c.wantCopyFormat, c.cameraFormat, c.width, c.height),
                                     c.windowWidth, c.windowHeight);
    EXPECT_EQ(FirstDifference(painted, expected), "");
}

INSTANTIATE_TEST_SUITE_P(EveryPixelFormat, ImageFormats, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

// A stream of frames: each image event follows its data event, the serial counter follows the
// camera, and the window shows the last frame.
TEST(ImageStream, EveryFrameFiresDataThenImageAndIsPainted)
{
    CSimCamera camera(ImageCamera(64, 48, PX_FORMAT_RGB24));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(64, 48));
    CImageRecorder recorder(host);
    ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));
    // One frame at a time: a frame made before the last one was taken would replace it.
    ASSERT_TRUE(recorder.WaitForImages(1));
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(camera.FrameForWaitingReader());
        ASSERT_TRUE(recorder.WaitForImages(i + 2));
    }
    ASSERT_TRUE(camera.sim.WaitForWaitingRequests(1, kWait));

    std::vector<pxhost::RecordedEvent> events = host.Events();
    ASSERT_EQ(events.size(), 10u);
    const std::string name = "0100007F:Unknown:" + std::to_string(camera.Port("IMG0")) + ":IMG0:1";
    for (size_t i = 0; i < events.size(); i += 2) {
        EXPECT_EQ(events[i].dispid, PXEVENT_OnDataReceive);
        ASSERT_EQ(events[i].args.size(), 1u);
        EXPECT_EQ(events[i].args[0].strText, name);
        EXPECT_EQ(events[i + 1].dispid, PXEVENT_OnImageReceived);
    }
    std::vector<CapturedImage> images = recorder.Images();
    for (size_t i = 0; i < images.size(); ++i) {
        EXPECT_EQ(images[i].qwSerial, i) << "frames on demand: one image per frame";
        const std::vector<uint8_t> bytes = CameraBytes(WholeImage(64, 48, PX_FORMAT_RGB24), i);
        EXPECT_EQ(images[i].data, Convert(bytes.data(), PX_FORMAT_RGB24, 64, 48, PX_FORMAT_RGB24)) << i;
    }
    EXPECT_EQ(camera.sim.Serial("IMG0"), 4u);
    EXPECT_GE(host.Invalidations(), 5u) << "every frame is drawn and invalidates the window";

    host.Paint();
    EXPECT_EQ(FirstDifference(FromWindow(host.Window()), CameraPicture(64, 48, PX_FORMAT_RGB24, 4)), "");

    // Streaming getters while the image comes (not GetNumberOfClient: it waits for the read in
    // progress, which waits for a frame that this camera makes only on demand).
    const struct {
        const char* member;
        int64_t want;
    } getters[] = {{"GetFullSizeX", 64}, {"GetFullSizeY", 48}, {"GetBufferType", 1}, {"GetBufferSize", 64 * 48 * 3},
                   {"GetConnected", 1}, {"GetNewBufferSizeX", 64}, {"GetNewBufferSizeY", 48},
                   {"GetNewSubsection", 1}, {"GetFullSizeBand", 3}};
    for (const auto& getter : getters) {
        HostValue v;
        EXPECT_EQ(host.Call(getter.member, {}, &v), PX_S_OK);
        EXPECT_EQ(v.Int(), getter.want) << getter.member;
    }
    EXPECT_EQ(host.Get("BufferSizeX").Int(), 64);
    EXPECT_EQ(host.Get("width").Int(), 64);
    EXPECT_EQ(host.Get("height").Int(), 48);
    EXPECT_EQ(host.Get("SerialCounter").Int(), 4);
    EXPECT_NE(host.Get("MaxTimeout").Int(), 0);
}

// The frame-rate text in its box at each corner, only once a rate was measured; the rest of the
// window is the image.
TEST(ImagePainting, FrameRateTextSitsInTheChosenCornerOnlyWithARate)
{
    constexpr int32_t kW = 200, kH = 100;
    CSimCamera camera(ImageCamera(100, 50, PX_FORMAT_MONO8));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(kW, kH));
    CImageRecorder recorder(host);
    ASSERT_EQ(host.Put("FPSRefreshDelay", HostValue::I4(700)), PX_S_OK);
    ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));
    uint32_t period = 0;
    ASSERT_TRUE(host.TimerSet(PX_FPS_TIMER_ID, &period));
    EXPECT_EQ(period, 700u);

    size_t images = 1;
    auto paintFrame = [&]() -> Picture {
        EXPECT_TRUE(camera.FrameForWaitingReader());
        EXPECT_TRUE(recorder.WaitForImages(++images));
        EXPECT_TRUE(camera.sim.WaitForWaitingRequests(1, kWait));
        host.Paint();
        return FromWindow(host.Window());
    };
    auto imageOf = [&](uint64_t serial) { return Stretch(CameraPicture(100, 50, PX_FORMAT_MONO8, serial), kW, kH); };

    // First tick: no earlier tick, the rate stays 0.0 and no text is drawn.
    ASSERT_TRUE(host.FireTimer(PX_FPS_TIMER_ID));
    ASSERT_TRUE(host.Flush(kWait));
    Picture p = paintFrame();
    EXPECT_EQ(FirstDifference(p, imageOf(recorder.Images().back().qwSerial)), "");
    HostValue rate;
    host.Call("GetDisplayRate", {}, &rate);
    EXPECT_EQ(rate.vt, PX_VT_R4);
    EXPECT_EQ(rate.Real(), 0.0);

    // Frames, then the second tick: a rate.
    for (int i = 0; i < 3; ++i)
        paintFrame();
    ASSERT_TRUE(host.FireTimer(PX_FPS_TIMER_ID));
    ASSERT_TRUE(host.Flush(kWait));
    host.Call("GetDisplayRate", {}, &rate);
    EXPECT_GT(rate.Real(), 0.0);
    EXPECT_TRUE(std::isfinite(rate.Real()));

    const struct {
        int corner;
        int32_t left, top, right, bottom;
    } boxes[] = {{0, 5, 5, 70, 25}, {1, kW - 70, 5, kW - 5, 25}, {2, 5, kH - 25, 70, kH - 5},
                 {3, kW - 70, kH - 25, kW - 5, kH - 5}};
    for (const auto& b : boxes) {
        ASSERT_EQ(host.Put("FPSCorner", HostValue::I4(b.corner)), PX_S_OK);
        p = paintFrame();
        Picture want = imageOf(recorder.Images().back().qwSerial);
        // Outside the box: the image; inside: text drawn over it.
        for (int32_t y = 0; y < kH; ++y) {
            for (int32_t x = 0; x < kW; ++x) {
                if (x >= b.left && x < b.right && y >= b.top && y < b.bottom)
                    continue;
                ASSERT_EQ(p.At(x, y), want.At(x, y)) << "corner " << b.corner << " at (" << x << ", " << y << ")";
            }
        }
        EXPECT_NE(FirstDifference(p, want, b.left, b.top, b.right, b.bottom), "") << "corner " << b.corner;
        EXPECT_GT(CountColour(p, 0x000000, b.left, b.top, b.right, b.bottom), 0u) << "black text";
    }
    ASSERT_EQ(host.Put("ShowFPS", HostValue::I4(0)), PX_S_OK);
    p = paintFrame();
    EXPECT_EQ(FirstDifference(p, imageOf(recorder.Images().back().qwSerial)), "");

    // Stop kills the timer; the window, no longer showing data, is painted white.
    HostValue result;
    ASSERT_EQ(host.Call("Stop", {}, &result), PX_S_OK);
    EXPECT_FALSE(host.TimerSet(PX_FPS_TIMER_ID));
    host.Paint();
    p = FromWindow(host.Window());
    EXPECT_EQ(CountColour(p, 0xFFFFFF, 0, 0, kW, kH), static_cast<size_t>(kW * kH));
}

// ForceErrorMsg 1 writes "Using DX:0" from (0, 30) in the image's box.
TEST(ImagePainting, BackEndTextSitsUnderTheImagesTop)
{
    CSimCamera camera(ImageCamera(120, 80, PX_FORMAT_RGB32), "UseDDraw=0\nForceErrorMsg=1\n");
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(120, 80));
    CImageRecorder recorder(host);
    ASSERT_TRUE(StreamFirstImage(host, camera, recorder));
    host.Paint();
    const Picture image = CameraPicture(120, 80, PX_FORMAT_RGB32, 0);
    Picture p = FromWindow(host.Window());
    EXPECT_EQ(FirstDifference(p, image, 0, 0, 120, 30), "") << "above the box";
    EXPECT_NE(FirstDifference(p, image, 0, 30, 120, 50), "") << "the text";
    EXPECT_GT(CountColour(p, 0x000000, 0, 30, 120, 50), 0u);
    EXPECT_EQ(FirstDifference(p, image, 0, 80, 120, 80), "");
}

// The control keeps its drawing surfaces from frame to frame while the geometry holds: each frame
// is painted whole, and so is the next after the window's size changes (recomposed at once) and
// after the camera changes its window of the image and its pixel format (set by another client;
// each record larger than the last, which is what a client sees as a change).
TEST(ImagePainting, EveryFrameIsWholeAcrossWindowAndImageChanges)
{
    CSimCamera camera(ImageCamera(120, 80, PX_FORMAT_MONO8));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(120, 80));
    CImageRecorder recorder(host);
    for (const auto& [name, value] : {std::pair{"ShowFPS", 0}, {"BufferSizeX", 60}, {"BufferSizeY", 40}})
        ASSERT_EQ(host.Put(name, HostValue::I4(value)), PX_S_OK);
    ASSERT_TRUE(StreamFirstImage(host, camera, recorder));
    const uint8_t loopback[4] = {127, 0, 0, 1};
    PXHANDLE other = 0;
    ASSERT_EQ(PXClientInit(nullptr, loopback, "other", &other, PX_INFINITE, 0, 0, 0, 1), PX_OK);
    ASSERT_EQ(PXSetExchangeBuffer(other, camera.Port("IMG0"), "IMG0", 1, 0), PX_OK);

    pxsim::SimGeometry g = WholeImage(120, 80, PX_FORMAT_MONO8);
    g.dwSizeX = 60;
    g.dwSizeY = 40;
    const struct {
        const char* step;
        int32_t width, height;                          // of the host's window
        uint32_t offsetX, offsetY, sizeX, sizeY, format; // the camera's window; size 0: unchanged
    } steps[] = {
        {"first", 120, 80, 0, 0, 0, 0, 0},
        {"next", 120, 80, 0, 0, 0, 0, 0},
        {"a narrower, taller window", 60, 160, 0, 0, 0, 0, 0},
        {"another image size and format", 60, 160, 10, 5, 100, 70, PX_FORMAT_RGB24},
        {"its next frame", 60, 160, 0, 0, 0, 0, 0},
        {"a larger window", 130, 90, 0, 0, 0, 0, 0},
        {"the whole image in 32 bits", 130, 90, 0, 0, 120, 80, PX_FORMAT_RGB32},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const auto& s = steps[i];
        SCOPED_TRACE(s.step);
        if (s.sizeX != 0) {
            PXBufferInfo info;
            ASSERT_EQ(PXGetExchangeBufferInfoStruct(other, "IMG0", &info), PX_OK);
            g.dwOffsetX = info.image.offsetX = s.offsetX;
            g.dwOffsetY = info.image.offsetY = s.offsetY;
            g.dwSizeX = info.image.sizeX = s.sizeX;
            g.dwSizeY = info.image.sizeY = s.sizeY;
            g.dwPixelFormat = info.image.format = s.format;
            info.image.dataSize = s.sizeX * s.sizeY * (s.format == PX_FORMAT_RGB24 ? 3 : 4);
            ASSERT_EQ(PXSetExchangeBufferInfoStruct(other, "IMG0", &info), PX_OK);
        }
        if (s.width != host.Window().width || s.height != host.Window().height) {
            host.Resize(s.width, s.height);
        } else if (i > 0) {
            const size_t count = recorder.Images().size();
            ASSERT_TRUE(camera.FrameForWaitingReader());
            ASSERT_TRUE(recorder.WaitForImages(count + 1));
            ASSERT_TRUE(camera.sim.WaitForWaitingRequests(1, kWait));
        }
        const CapturedImage last = recorder.Images().back();
        ASSERT_EQ(last.width, int32_t(g.dwSizeX));
        host.Paint();
        const uint32_t display = DisplayFormat(g.dwPixelFormat, 0, 0);
        const std::vector<uint8_t> bytes = CameraBytes(g, last.qwSerial);
        const Picture look = Look(Convert(bytes.data(), g.dwPixelFormat, g.dwSizeX, g.dwSizeY, display), display,
                                  g.dwPixelFormat, g.dwSizeX, g.dwSizeY);
        EXPECT_EQ(FirstDifference(FromWindow(host.Window()), Stretch(look, s.width, s.height)), "");
    }
    EXPECT_EQ(PXClientTerminate(other), PX_OK);
}

// The default display setting asks for an accelerated back-end; whatever the control gets, the
// image reaches the window.
TEST(ImagePainting, TheDefaultDisplaySettingShowsTheImage)
{
    CSimCamera camera(ImageCamera(64, 32, PX_FORMAT_RGB24), "");
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(64, 32));
    CImageRecorder recorder(host);
    ASSERT_TRUE(StreamFirstImage(host, camera, recorder));
    host.Paint();
    EXPECT_EQ(FirstDifference(FromWindow(host.Window()), CameraPicture(64, 32, PX_FORMAT_RGB24, 0)), "");
}

// The bins of a histogram buffer as the control holds them.
std::vector<uint32_t> HeldBins(CHeadlessHost& host)
{
    host.Call("LockDataPtr");
    HostValue address;
    host.Call("GetBufferDataPtr", {}, &address);
    std::vector<uint32_t> bins(256);
    if (address.ullVal != 0)
        memcpy(bins.data(), reinterpret_cast<const void*>(static_cast<uintptr_t>(address.ullVal)), 1024);
    host.Call("UnlockDataPtr");
    return bins;
}

// A histogram of the camera's image drawn as bars (linear and logarithmic) over the grid, with the
// axis ending at 30 + 256 bin widths (286 with bins 1 wide, 2 at a width of 552); a window below
// 356 x 200 shows only the message.
TEST(HistogramPainting, BarsFollowTheBinsAndTheWindowsWidth)
{
    pxsim::SimConfig config = ImageCamera(64, 48, PX_FORMAT_MONO8);
    pxsim::SimBufferConfig hist = BufferOf("HIST", PX_BUFTYPE_HISTOGRAM);
    hist.strSource = "IMG0";
    config.buffers.push_back(hist);
    CSimCamera camera(config);
    ASSERT_TRUE(camera.Started());
    const uint32_t kBar = 0x2DBE00;
    const struct {
        int32_t width, height, binWidth;
        bool log;
    } cases[] = {{552, 300, 2, false}, {400, 200, 1, true}};   // a width of 295 is below the minimum
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        CHeadlessHost host(Window(c.width, c.height));
        ASSERT_EQ(host.Put("LOGScale", HostValue::I4(c.log ? 1 : 0)), PX_S_OK);
        ASSERT_TRUE(StartStreaming(host, camera, "HIST"));
        ASSERT_TRUE(camera.sim.WaitForWaitingRequests(1, kWait));   // drawn, waiting for the next
        host.Paint();
        if (camera.sim.Serial("IMG0") == 0) {
            // Before the camera's first image every bin is 0: the axes and "0", no bar.
            const Picture empty = FromWindow(host.Window());
            EXPECT_EQ(CountColour(empty, kBar, 0, 0, c.width, c.height), 0u);
            EXPECT_EQ(empty.At(30, c.height - 30), 0x000000u);
            EXPECT_GT(CountColour(empty, 0x000000, 25, 10, 175, 30), 0u);
        }
        ASSERT_TRUE(camera.FrameForWaitingReader());
        ASSERT_TRUE(host.WaitForEvents(PXEVENT_OnDataReceive, 2, kWait));
        ASSERT_TRUE(camera.sim.WaitForWaitingRequests(1, kWait));
        host.Paint();
        const Picture p = FromWindow(host.Window());
        const std::vector<uint32_t> bins = HeldBins(host);
        const uint32_t largest = *std::max_element(bins.begin(), bins.end());
        ASSERT_GT(largest, 1u);
        const double plot = c.height - 60;
        const int32_t base = c.height - 30;
        size_t bars = 0, ones = 0;
        for (int32_t i = 0; i < 256; ++i) {
            const uint32_t v = bins[i];
            int32_t h = 0;
            if (v != 0)
                h = c.log ? static_cast<int32_t>(std::log(double(v)) * plot / std::log(double(largest)))
                          : static_cast<int32_t>(v * plot / largest);
            const int32_t x = 30 + i * c.binWidth;
            EXPECT_EQ(CountColour(p, kBar, x, base - h, x + c.binWidth, base), static_cast<size_t>(h * c.binWidth)) << i;
            EXPECT_NE(p.At(x, base - h - 1), kBar) << i;
            bars += h > 0 ? 1 : 0;
            ones += v == 1 ? 1 : 0;
        }
        EXPECT_GT(bars, 0u);
        EXPECT_GT(ones, 0u) << "bins of 1, no bar on the log scale";
        const int32_t axisEnd = 30 + 256 * c.binWidth;
        EXPECT_EQ(p.At(axisEnd, base), 0x000000u) << "the axis and the last vertical line";
        EXPECT_EQ(p.At(axisEnd + 1, base), 0xFFFFFFu);
        EXPECT_GT(CountColour(p, 0x000000, 25, 10, 175, 30), 0u) << "the largest count";
    }

    // Too small a window: the message, filled in with the minimum size, as DrawTextA draws it.
    CHeadlessHost host(Window(355, 400));
    ASSERT_TRUE(StartStreaming(host, camera, "HIST"));
    ASSERT_TRUE(camera.sim.WaitForWaitingRequests(1, kWait));
    host.Paint();
    std::vector<uint8_t> pixels(355 * 400 * 4);
    raster::HDC dc = raster::CreateSurfaceDC(pixels.data(), 355, 400, 355 * 4);
    const raster::RECT all = {0, 0, 355, 400};
    raster::FillRect(dc, &all, static_cast<raster::HBRUSH>(raster::GetStockObject(raster::WHITE_BRUSH)));
    raster::RECT inset = {5, 5, 350, 395};
    raster::DrawTextA(dc, "Client area is too small (Min width 356, Min height 200)", -1, &inset, 0);
    raster::DeleteDC(dc);
    pxhost::HostBitmap want;
    want.width = 355;
    want.height = 400;
    want.pixels = pixels;
    EXPECT_EQ(FirstDifference(FromWindow(host.Window()), FromWindow(want)), "");
}

} // namespace
