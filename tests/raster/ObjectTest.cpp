// Objects and their selection into DCs, and what kinds of bitmaps can be made.
#include <cstddef>

#include "RasterTestUtil.h"

using namespace rastertest;

TEST(RasterObjects, SelectAnswersThePreviousObjectOfTheSameKind)
{
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HPEN blue = CreatePen(PS_SOLID, 3, RGB(0, 0, 255));
    HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 4, 4);

    // A new DC holds the black pen, the white brush and the 1 x 1 stock bitmap.
    HGDIOBJ firstPen = SelectObject(dc, red);
    EXPECT_EQ(firstPen, GetStockObject(BLACK_PEN));
    EXPECT_EQ(SelectObject(dc, blue), red);
    EXPECT_EQ(SelectObject(dc, green), GetStockObject(WHITE_BRUSH));
    HGDIOBJ stockBitmap = SelectObject(dc, bitmap);
    ASSERT_NE(stockBitmap, nullptr);
    EXPECT_EQ(static_cast<HBITMAP>(stockBitmap)->Width(), 1);
    EXPECT_EQ(SelectObject(dc, bitmap), bitmap) << "selecting the selected bitmap again";

    // Selected objects cannot be deleted; deselected ones can. Stock objects never go away.
    EXPECT_EQ(DeleteObject(blue), 0);
    EXPECT_EQ(DeleteObject(green), 0);
    EXPECT_EQ(DeleteObject(bitmap), 0);
    EXPECT_EQ(DeleteObject(red), 1);
    EXPECT_EQ(SelectObject(dc, firstPen), blue);
    EXPECT_EQ(DeleteObject(blue), 1);
    EXPECT_EQ(DeleteObject(GetStockObject(WHITE_BRUSH)), 1);
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), GetStockObject(WHITE_BRUSH));

    // Deleting the DC gives its selections back.
    EXPECT_EQ(DeleteDC(dc), 1);
    EXPECT_EQ(DeleteObject(green), 1);
    EXPECT_EQ(DeleteObject(bitmap), 1);
    EXPECT_EQ(SelectObject(nullptr, GetStockObject(BLACK_PEN)), nullptr);
    EXPECT_EQ(DeleteObject(nullptr), 0);
}

TEST(RasterObjects, ABitmapLivesInOneDcAndNeverInASurfaceDc)
{
    HDC first = CreateCompatibleDC(nullptr), second = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(first, 8, 8);
    HGDIOBJ old = SelectObject(first, bitmap);
    EXPECT_EQ(SelectObject(second, bitmap), nullptr);
    SelectObject(first, old);
    HGDIOBJ secondOld = SelectObject(second, bitmap);
    EXPECT_NE(secondOld, nullptr) << "free again once the first DC let it go";
    SelectObject(second, secondOld);

    alignas(4) uint32_t window[16 * 4] = {};
    HDC surface = CreateSurfaceDC(window, 16, 4, 64);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(SelectObject(surface, bitmap), nullptr);
    EXPECT_EQ(CreateSurfaceDC(window, 16, 4, 60), nullptr) << "a row shorter than its pixels";
    EXPECT_EQ(CreateSurfaceDC(reinterpret_cast<uint8_t*>(window) + 1, 8, 4, 64), nullptr);
    EXPECT_EQ(GetDeviceCaps(surface, LOGPIXELSY), 96);
    DeleteDC(surface);
    EXPECT_EQ(DeleteObject(bitmap), 1);
    DeleteDC(first);
    DeleteDC(second);
}

TEST(RasterObjects, DibSectionsTakeTheFourFormatsAndRefuseTheRest)
{
    static_assert(sizeof(BITMAPINFOHEADER) == 40);
    static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14 && offsetof(BITMAPINFOHEADER, biSizeImage) == 20);
    static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == 36);

    for (uint16_t bits : {8, 16, 24, 32}) {
        DibInfo info(5, -3, bits);
        void* pixels = nullptr;
        HBITMAP dib = CreateDIBSection(nullptr, info.Info(), DIB_RGB_COLORS, &pixels);
        ASSERT_NE(dib, nullptr) << bits;
        BITMAP described{};
        EXPECT_EQ(GetObjectA(dib, sizeof described, &described), static_cast<int>(sizeof described));
        EXPECT_EQ(described.bmWidthBytes, ((5 * bits + 31) / 32) * 4) << "rows padded to 4 bytes";
        EXPECT_EQ(described.bmBitsPixel, bits);
        EXPECT_EQ(described.bmBits, pixels);
        DeleteObject(dib);
    }
    auto refused = [](DibInfo info) {
        void* pixels = reinterpret_cast<void*>(1);
        HBITMAP dib = CreateDIBSection(nullptr, info.Info(), DIB_RGB_COLORS, &pixels);
        return dib == nullptr && pixels == nullptr;
    };
    EXPECT_TRUE(refused(DibInfo(4, 4, 4)));
    EXPECT_TRUE(refused(DibInfo(0, 4, 32)));
    EXPECT_TRUE(refused(DibInfo(4, 0, 32)));
    EXPECT_TRUE(refused(DibInfo(40000, 4, 32)));
    DibInfo compressed(4, 4, 32);
    compressed.header.biCompression = 3;
    EXPECT_TRUE(refused(compressed));
    DibInfo twoPlanes(4, 4, 32);
    twoPlanes.header.biPlanes = 2;
    EXPECT_TRUE(refused(twoPlanes));

    HBITMAP tiny = CreateCompatibleBitmap(nullptr, 0, 7);
    ASSERT_NE(tiny, nullptr);
    EXPECT_EQ(tiny->Width(), 1);
    EXPECT_EQ(tiny->Height(), 1);
    DeleteObject(tiny);
    EXPECT_EQ(CreateCompatibleBitmap(nullptr, -2, 7), nullptr);
    EXPECT_EQ(CreatePen(2, 1, 0), nullptr) << "only solid and null pens";
}
