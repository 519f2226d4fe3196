// Fills and single pixels in every bitmap format, and where the rows of each lie in memory.
#include <cstring>

#include "RasterTestUtil.h"

using namespace rastertest;

TEST(RasterPixels, FillRectLeavesTheRightColumnAndBottomRowAlone)
{
    Canvas canvas(10, 8);
    HBRUSH brush = CreateSolidBrush(RGB(10, 20, 30));
    const RECT r{2, 1, 6, 4};
    EXPECT_EQ(FillRect(canvas.Dc(), &r, brush), 1);
    EXPECT_EQ(canvas.BoxOf(RGB(10, 20, 30)), (RECT{2, 1, 6, 4}));
    EXPECT_EQ(canvas.Count(RGB(10, 20, 30)), 12);

    const RECT outside{-5, -5, 3, 2};
    FillRect(canvas.Dc(), &outside, brush);
    EXPECT_EQ(canvas.At(0, 0), RGB(10, 20, 30));
    EXPECT_EQ(FillRect(canvas.Dc(), &r, static_cast<HBRUSH>(GetStockObject(HOLLOW_BRUSH))), 1);
    EXPECT_EQ(FillRect(canvas.Dc(), &r, nullptr), 0);
    DeleteObject(brush);

    // 32-bit pixels in memory: blue, green, red and a fourth byte of 0.
    BITMAP described{};
    GetObjectA(canvas.Bitmap(), sizeof described, &described);
    uint8_t pixel[4];
    memcpy(pixel, static_cast<uint8_t*>(described.bmBits) + 1 * described.bmWidthBytes + 2 * 4, 4);
    EXPECT_EQ(pixel[0], 30);
    EXPECT_EQ(pixel[1], 20);
    EXPECT_EQ(pixel[2], 10);
    EXPECT_EQ(pixel[3], 0);
}

TEST(RasterPixels, EachFormatStoresItsOwnWayAndReadsBack)
{
    const COLORREF color = RGB(200, 100, 50);
    struct Case {
        uint16_t bits;
        COLORREF readBack;
        std::vector<uint8_t> stored;
    };
    const uint16_t packed = ((200 >> 3) << 10) | ((100 >> 3) << 5) | (50 >> 3);
    const Case cases[] = {
        {32, color, {50, 100, 200, 0}},
        {24, color, {50, 100, 200}},
        // 5 bits a colour; reading repeats the top bits into the low ones.
        {16, RGB(206, 99, 49), {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8)}},
        // The nearest grey of the table: (200 - g)^2 + (100 - g)^2 + (50 - g)^2 is least at 117.
        {8, RGB(117, 117, 117), {117}},
    };
    for (const Case& c : cases) {
        for (int32_t height : {-4, 4}) {
            DibInfo info(3, height, c.bits);
            Canvas canvas(info.Info(), 0);
            EXPECT_EQ(SetPixel(canvas.Dc(), 1, 0, color), c.readBack) << c.bits;
            EXPECT_EQ(canvas.At(1, 0), c.readBack) << c.bits;
            // Row 0 of the picture is the first row in memory when top-down, the last when not.
            const int32_t stride = static_cast<int32_t>(DibStride(3, c.bits));
            const uint8_t* row = static_cast<uint8_t*>(canvas.Bits()) + (height < 0 ? 0 : 3 * stride);
            const std::vector<uint8_t> stored(row + c.bits / 8, row + 2 * (c.bits / 8));
            EXPECT_EQ(stored, c.stored) << c.bits << " bits, height " << height;
            EXPECT_EQ(canvas.Count(c.readBack), 1);
        }
    }
}

TEST(RasterPixels, PointsOutsideAndMissingDcsAreInvalid)
{
    Canvas canvas(4, 4);
    for (POINT p : {POINT{-1, 0}, POINT{0, -1}, POINT{4, 0}, POINT{0, 4}}) {
        EXPECT_EQ(SetPixel(canvas.Dc(), p.x, p.y, 0), CLR_INVALID);
        EXPECT_EQ(GetPixel(canvas.Dc(), p.x, p.y), CLR_INVALID);
    }
    EXPECT_EQ(GetPixel(nullptr, 0, 0), CLR_INVALID);
    EXPECT_EQ(canvas.Count(0xFFFFFF), 16);

    // The DC's settings answer what they held before.
    EXPECT_EQ(SetTextColor(canvas.Dc(), RGB(1, 2, 3)), 0x000000u);
    EXPECT_EQ(GetTextColor(canvas.Dc()), RGB(1, 2, 3));
    EXPECT_EQ(SetBkColor(canvas.Dc(), 0), 0xFFFFFFu);
    EXPECT_EQ(SetBkMode(canvas.Dc(), TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetBkMode(canvas.Dc(), 7), 0);
    EXPECT_EQ(GetBkMode(canvas.Dc()), TRANSPARENT);
    EXPECT_EQ(SetStretchBltMode(canvas.Dc(), COLORONCOLOR), BLACKONWHITE);
    EXPECT_EQ(GetStretchBltMode(canvas.Dc()), COLORONCOLOR);
}
