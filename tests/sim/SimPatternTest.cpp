// The test pattern makes client mistakes visible, and the kelvo-sim command line.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim/SimOptions.h"
#include "image/PixelFormat.h"
#include "sim/SimPattern.h"

using namespace pxsim;

namespace {

std::vector<uint8_t> Render(const SimGeometry& g, uint64_t frame)
{
    std::vector<uint8_t> out(SimImageBytes(g));
    SimRenderImage(g, frame, out.data());
    return out;
}

SimGeometry Full(uint32_t format, uint32_t x = 320, uint32_t y = 240)
{
    return SimGeometry{x, y, x, y, 0, 0, 1, format};
}

const uint32_t kFormats[] = {1, 2, 16, 256, 4096, 8192};

} // namespace

TEST(SimPattern, WindowIsTheSameCutOfTheFullImageInEveryFormat)
{
    for (uint32_t format : kFormats) {
        const SimGeometry full = Full(format);
        const std::vector<uint8_t> whole = Render(full, 42);
        SimGeometry w = full;
        w.dwOffsetX = 3, w.dwOffsetY = 5, w.dwSizeX = 77, w.dwSizeY = 31;
        const std::vector<uint8_t> cut = Render(w, 42);
        const uint32_t bpp = pximage::BytesPerPixel(format);
        for (uint32_t y = 0; y < w.dwSizeY; ++y) {
            if (format == 4096) {
                // Pairs start anew in the window, so only the brightness bytes line up.
                for (uint32_t x = 0; x < 77; ++x)
                    ASSERT_EQ(cut[(y * 77 + x) * 2], whole[((5 + y) * 320 + 3 + x) * 2]) << y << " " << x;
                continue;
            }
            ASSERT_EQ(0, memcmp(cut.data() + y * 77 * bpp, whole.data() + ((5 + y) * 320 + 3) * bpp, 77 * bpp))
                << format << " row " << y;
        }
    }
}

TEST(SimPattern, MistakesShowUp)
{
    // A lost row: no two neighbouring rows are alike, in grey or in colour.
    for (uint32_t format : {1u, 256u}) {
        const std::vector<uint8_t> img = Render(Full(format), 9);
        const uint32_t pitch = 320 * pximage::BytesPerPixel(format);
        for (uint32_t y = 0; y + 1 < 240; ++y)
            ASSERT_NE(0, memcmp(img.data() + y * pitch, img.data() + (y + 1) * pitch, pitch)) << format << " " << y;
    }
    // A wrong offset: the window at (1, 0) differs from the one at (0, 0).
    SimGeometry a = Full(1), b = Full(1);
    a.dwSizeX = b.dwSizeX = 100;
    b.dwOffsetX = 1;
    EXPECT_NE(Render(a, 3), Render(b, 3));
    // Swapped colour channels: blue and red never agree over a row away from the label and bar.
    const std::vector<uint8_t> rgb = Render(Full(16), 0);
    size_t differ = 0;
    for (uint32_t x = 0; x < 320; ++x)
        differ += rgb[(100 * 320 + x) * 3] != rgb[(100 * 320 + x) * 3 + 2];
    EXPECT_GT(differ, 300u);
    // The frame number: the label's corner changes with the frame, and so does the picture.
    EXPECT_NE(Render(Full(1), 1), Render(Full(1), 2));
    SimGeometry label = Full(1);
    label.dwSizeX = 40, label.dwSizeY = 20;
    EXPECT_NE(Render(label, 1), Render(label, 7));
}

TEST(SimPattern, PixelLayouts)
{
    // RGB16: bit 15 clear; RGB32: fourth byte 0; YUV: Y U Y V with Y the brightness of the pixel.
    const std::vector<uint8_t> r16 = Render(Full(8192), 5);
    for (size_t i = 1; i < r16.size(); i += 2)
        ASSERT_EQ(r16[i] & 0x80, 0);
    const std::vector<uint8_t> r32 = Render(Full(256), 5);
    for (size_t i = 3; i < r32.size(); i += 4)
        ASSERT_EQ(r32[i], 0);
    const std::vector<uint8_t> rgb = Render(Full(16), 5), yuv = Render(Full(4096), 5);
    const size_t p = 200 * 320 + 150;   // even column
    const SimRgb c{rgb[p * 3 + 2], rgb[p * 3 + 1], rgb[p * 3]};
    EXPECT_EQ(yuv[p * 2], static_cast<uint8_t>((c.r * 77 + c.g * 150 + c.b * 29) >> 8));
    EXPECT_EQ(yuv[p * 2 + 1], c.b);
    EXPECT_EQ(yuv[p * 2 + 3], rgb[(p + 1) * 3 + 2]);
}

TEST(SimPattern, HistogramTextAndArrays)
{
    const SimGeometry g = Full(256, 64, 32);
    const std::vector<uint8_t> img = Render(g, 2);
    uint32_t bins[256];
    SimHistogram(g, img.data(), bins);
    uint64_t total = 0;
    for (uint32_t b : bins)
        total += b;
    EXPECT_EQ(total, 64u * 32);
    EXPECT_GT(bins[255], 0u);   // the label's white digits

    uint8_t text[12];
    SimRenderText(px::agent::BufferId::FromText("TXT0"), 12345, 6, text);
    EXPECT_EQ(0, memcmp(text, "K\0e\0l\0v\0o\0\0\0", 12));   // cut, still terminated

    uint8_t arr[8 + 3 * 8];
    SimRenderArray(SIM_VT_R8, 3, 10, arr);
    double second;
    memcpy(&second, arr + 16, 8);
    EXPECT_EQ(arr[0], 5);
    EXPECT_EQ(arr[4], 3);
    EXPECT_DOUBLE_EQ(second, 11.5);
    EXPECT_EQ(SimArrayElementSize(SIM_VT_UI2 | 0x2000), 2u);
    EXPECT_EQ(SimArrayElementSize(8), 0u);   // VT_BSTR is not a packed element type
}

TEST(SimOptions, BufferOptionsAndProgramOptions)
{
    SimBufferConfig b;
    std::string error;
    ASSERT_TRUE(ParseBufferOption("CAM1:image:size=1920x1080:format=rgb32:window=10,20,300,200:mode=0:sync:region", &b,
                                &error))
        << error;
    EXPECT_EQ(b.id, px::agent::BufferId::FromText("CAM1"));
    EXPECT_EQ(b.dwFullSizeX, 1920u);
    EXPECT_EQ(b.dwPixelFormat, 256u);
    EXPECT_EQ(b.dwOffsetY, 20u);
    EXPECT_EQ(b.dwSizeX, 300u);
    EXPECT_EQ(b.dwSubsection, 0u);
    EXPECT_TRUE(b.bSyncDelivery && b.bRegionReplies);
    ASSERT_TRUE(ParseBufferOption("A:7:elements=9", &b, &error));
    EXPECT_EQ(b.dwType, 7u);
    EXPECT_EQ(b.id.Wire(), uint32_t{'A'});
    EXPECT_FALSE(ParseBufferOption("TOOLONG:image", &b, &error));
    EXPECT_FALSE(ParseBufferOption("X:12", &b, &error));
    EXPECT_FALSE(ParseBufferOption("X:image:format=3", &b, &error));
    EXPECT_FALSE(ParseBufferOption("X:array:vt=8", &b, &error));
    EXPECT_FALSE(ParseBufferOption("X:image:size=10", &b, &error));

    uint32_t v = 0;
    ASSERT_TRUE(ParseVersion("4.0.300", &v));
    EXPECT_EQ(v, 0x0400012Cu);
    ASSERT_TRUE(ParseVersion("0", &v));
    EXPECT_EQ(v, 0u);
    EXPECT_FALSE(ParseVersion("4.256.1", &v));

    SimOptions o;
    ASSERT_TRUE(ParseSimOptions({"--ephemeral", "--agent-version", "1.1.0", "--buffer", "IMG0:image", "--hostile",
                                 "region", "--refuse", "watchdog", "--drop-after", "4", "-v", "--fps", "50"},
                                &o, &error))
        << error;
    EXPECT_EQ(o.config.usPublishPort, 0);
    EXPECT_EQ(o.config.dwAgentVersion, 0x01010000u);
    EXPECT_EQ(o.config.buffers.size(), 1u);
    EXPECT_TRUE(o.config.faults.bHostileRegion && o.config.faults.bRefuseWatchdog);
    EXPECT_EQ(o.config.faults.dwDropAfterRequests, 4u);
    EXPECT_EQ(o.config.dwFrameIntervalMs, 20u);
    EXPECT_EQ(o.dwVerbosity, 2u);
    EXPECT_FALSE(ParseSimOptions({"--publish-port", "70000"}, &o, &error));
    EXPECT_FALSE(ParseSimOptions({"--delay"}, &o, &error));
    EXPECT_FALSE(ParseSimOptions({"--hostile", "everything"}, &o, &error));
    EXPECT_FALSE(ParseSimOptions({"--frobnicate"}, &o, &error));
}
