// BitBlt, StretchBlt and SetDIBits pixel for pixel: the centre-sampling rule, mirroring,
// clipping, overlapping copies and conversions between formats.
#include <cstring>

#include "RasterTestUtil.h"

using namespace rastertest;

namespace {

// A colour that tells a source pixel's coordinates.
COLORREF Tag(int32_t x, int32_t y) { return RGB(static_cast<uint8_t>(x), static_cast<uint8_t>(y), 0x5A); }

void Paint(const Canvas& canvas)
{
    for (int32_t y = 0; y < canvas.Height(); ++y)
        for (int32_t x = 0; x < canvas.Width(); ++x)
            SetPixel(canvas.Dc(), x, y, Tag(x, y));
}

// The source pixel under destination pixel i's centre, for extents in and out.
int32_t Sample(int32_t i, int32_t in, int32_t out) { return static_cast<int32_t>((2LL * i + 1) * in / (2LL * out)); }

} // namespace

TEST(RasterBlit, StretchSamplesPixelCentres)
{
    struct Size {
        int32_t w, h;
    };
    const std::pair<Size, Size> cases[] = {
        {{16, 12}, {10, 7}},  // shrink by odd ratios
        {{5, 4}, {23, 17}},   // enlarge
        {{64, 48}, {40, 30}}, // 1.6: many samples fall exactly on pixel edges
        {{7, 9}, {7, 9}},     // 1:1
    };
    for (const auto& [in, out] : cases) {
        Canvas source(in.w, in.h), target(out.w + 4, out.h + 4, RGB(1, 1, 1));
        Paint(source);
        SetStretchBltMode(target.Dc(), COLORONCOLOR);
        ASSERT_EQ(StretchBlt(target.Dc(), 2, 2, out.w, out.h, source.Dc(), 0, 0, in.w, in.h, SRCCOPY), 1);
        for (int32_t y = 0; y < target.Height(); ++y)
            for (int32_t x = 0; x < target.Width(); ++x) {
                const bool inside = x >= 2 && y >= 2 && x < out.w + 2 && y < out.h + 2;
                const COLORREF expected =
                    inside ? Tag(Sample(x - 2, in.w, out.w), Sample(y - 2, in.h, out.h)) : RGB(1, 1, 1);
                ASSERT_EQ(target.At(x, y), expected) << in.w << "x" << in.h << " to " << out.w << "x" << out.h
                                                      << " at " << x << "," << y;
            }
    }
}

TEST(RasterBlit, NegativeExtentsMirrorAndOutsidePixelsStay)
{
    Canvas source(6, 4), target(6, 4, RGB(1, 1, 1));
    Paint(source);
    // Source extent -4 at y 4 spans rows 0 to 3 upside down.
    StretchBlt(target.Dc(), 0, 0, 6, 4, source.Dc(), 0, 4, 6, -4, SRCCOPY);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x)
            ASSERT_EQ(target.At(x, y), Tag(x, 3 - y)) << x << "," << y;
    // Both extents negative: no mirror.
    StretchBlt(target.Dc(), 6, 4, -6, -4, source.Dc(), 6, 4, -6, -4, SRCCOPY);
    EXPECT_EQ(target.At(1, 2), Tag(1, 2));
    StretchBlt(target.Dc(), 6, 0, -6, 4, source.Dc(), 0, 0, 6, 4, SRCCOPY);
    EXPECT_EQ(target.At(0, 1), Tag(5, 1));

    // A source reaching past its bitmap leaves those destination pixels alone; so do
    // destination pixels past the target.
    target.Fill(RGB(1, 1, 1));
    EXPECT_EQ(BitBlt(target.Dc(), -1, 1, 6, 4, source.Dc(), 2, -1, SRCCOPY), 1);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x) {
            const int32_t sx = x + 3, sy = y - 2;
            const bool copied = sx < 6 && sy >= 0;
            ASSERT_EQ(target.At(x, y), copied ? Tag(sx, sy) : RGB(1, 1, 1)) << x << "," << y;
        }
    EXPECT_EQ(BitBlt(target.Dc(), 0, 0, 6, 4, source.Dc(), 0, 0, 0x00EE0086), 0) << "only SRCCOPY";
    EXPECT_EQ(BitBlt(target.Dc(), 0, 0, 6, 4, nullptr, 0, 0, SRCCOPY), 0);
}

TEST(RasterBlit, OverlappingCopyWithinOneBitmap)
{
    Canvas canvas(8, 6);
    Paint(canvas);
    BitBlt(canvas.Dc(), 1, 1, 7, 5, canvas.Dc(), 0, 0, SRCCOPY);
    for (int32_t y = 1; y < 6; ++y)
        for (int32_t x = 1; x < 8; ++x)
            ASSERT_EQ(canvas.At(x, y), Tag(x - 1, y - 1)) << x << "," << y;
    EXPECT_EQ(canvas.At(5, 0), Tag(5, 0));
}

TEST(RasterBlit, FormatsConvertBothWays)
{
    // Every format's picture into 32 bits and back into another format, through a bottom-up
    // 8-bit DIB whose table holds the colours used.
    DibInfo paletted(4, 3, 8);
    for (int i = 0; i < 12; ++i)
        paletted.colors[i] = RGBQUAD{static_cast<uint8_t>(i * 20), static_cast<uint8_t>(i), 0x5A, 0};
    Canvas indexed(paletted.Info(), 0);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x)
            static_cast<uint8_t*>(indexed.Bits())[(2 - y) * 4 + x] = static_cast<uint8_t>(y * 4 + x);
    auto colorOf = [](int32_t x, int32_t y) { return RGB(0x5A, static_cast<uint8_t>(y * 4 + x), static_cast<uint8_t>((y * 4 + x) * 20)); };

    for (uint16_t bits : {32, 24}) {
        DibInfo info(4, -3, bits);
        Canvas target(info.Info(), 0);
        BitBlt(target.Dc(), 0, 0, 4, 3, indexed.Dc(), 0, 0, SRCCOPY);
        Canvas back(paletted.Info(), 0);
        StretchBlt(back.Dc(), 0, 0, 4, 3, target.Dc(), 0, 0, 4, 3, SRCCOPY);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 4; ++x) {
                ASSERT_EQ(target.At(x, y), colorOf(x, y)) << bits << " at " << x << "," << y;
                ASSERT_EQ(static_cast<uint8_t*>(back.Bits())[(2 - y) * 4 + x], y * 4 + x) << bits;
            }
    }
    DibInfo wordInfo(4, -3, 16);
    Canvas words(wordInfo.Info(), 0);
    BitBlt(words.Dc(), 0, 0, 4, 3, indexed.Dc(), 0, 0, SRCCOPY);
    const uint16_t stored = static_cast<uint16_t*>(words.Bits())[1 * 4 + 3]; // rows of 8 bytes: row 1, x 3
    EXPECT_EQ(stored, ((0x5A >> 3) << 10) | ((7 >> 3) << 5) | (140 >> 3));
}

TEST(RasterBlit, SetDIBitsCountsScanLinesFromTheFirstStoredRow)
{
    // A bottom-up 24-bit DIB of 3 x 4: stored row k is picture row 3 - k.
    const int32_t stride = 12;
    uint8_t bits[4 * stride] = {};
    for (int32_t k = 0; k < 4; ++k)
        for (int32_t x = 0; x < 3; ++x) {
            bits[k * stride + 3 * x + 0] = static_cast<uint8_t>(k);
            bits[k * stride + 3 * x + 1] = static_cast<uint8_t>(x);
            bits[k * stride + 3 * x + 2] = 0x77;
        }
    DibInfo info(3, 4, 24);
    Canvas canvas(3, 4, RGB(1, 1, 1));
    // Scan lines 1 and 2, given from the second stored row on.
    EXPECT_EQ(SetDIBits(canvas.Dc(), canvas.Bitmap(), 1, 2, bits + stride, info.Info(), DIB_RGB_COLORS), 2);
    for (int32_t y = 0; y < 4; ++y) {
        const bool set = y == 1 || y == 2;
        EXPECT_EQ(canvas.At(2, y), set ? RGB(0x77, 2, static_cast<uint8_t>(3 - y)) : RGB(1, 1, 1)) << y;
    }
    // Top-down: all lines at once, as the viewer copies its image.
    DibInfo topDown(3, -4, 24);
    EXPECT_EQ(SetDIBits(nullptr, canvas.Bitmap(), 0, 4, bits, topDown.Info(), DIB_RGB_COLORS), 4);
    EXPECT_EQ(canvas.At(1, 3), RGB(0x77, 1, 3));
    EXPECT_EQ(SetDIBits(nullptr, canvas.Bitmap(), 4, 1, bits, topDown.Info(), DIB_RGB_COLORS), 0);
    EXPECT_EQ(SetDIBits(nullptr, canvas.Bitmap(), 2, 9, bits, topDown.Info(), DIB_RGB_COLORS), 2) << "cut at the end";
}
