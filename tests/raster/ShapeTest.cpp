// Rectangles, ellipses and lines by their pixels: GDI's edges, pen placement and no smoothing.
#include "RasterTestUtil.h"

using namespace rastertest;

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255), kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0);

// Selects a pen and a brush for one test and deletes them afterwards.
class Tools {
public:
    Tools(HDC dc, int32_t penWidth, COLORREF pen, HBRUSH brush) : m_dc(dc)
    {
        m_pen = penWidth < 0 ? static_cast<HPEN>(GetStockObject(NULL_PEN)) : CreatePen(PS_SOLID, penWidth, pen);
        m_oldPen = SelectObject(dc, m_pen);
        m_oldBrush = SelectObject(dc, brush);
    }
    ~Tools()
    {
        HGDIOBJ brush = SelectObject(m_dc, m_oldBrush);
        SelectObject(m_dc, m_oldPen);
        DeleteObject(m_pen);
        DeleteObject(brush);
    }

private:
    HDC m_dc;
    HPEN m_pen;
    HGDIOBJ m_oldPen, m_oldBrush;
};

} // namespace

TEST(RasterShapes, RectanglePenInsideTheBoxOrCentredWhenWide)
{
    struct Case {
        int32_t penWidth;
        RECT border, fill;
    };
    // Box {2, 2, 12, 10}: one pixel wide inside it; wider pens centred on that ring, an even
    // width's extra pixel outside; without a pen the fill loses its last column and row.
    const Case cases[] = {
        {1, {2, 2, 12, 10}, {3, 3, 11, 9}},
        {2, {1, 1, 13, 11}, {3, 3, 11, 9}},
        {3, {1, 1, 13, 11}, {4, 4, 10, 8}},
        {-1, {0, 0, 0, 0}, {2, 2, 11, 9}},
    };
    for (const Case& c : cases) {
        Canvas canvas(16, 14);
        Tools tools(canvas.Dc(), c.penWidth, kRed, CreateSolidBrush(kGreen));
        EXPECT_EQ(Rectangle(canvas.Dc(), 12, 10, 2, 2), 1) << "corners in any order";
        EXPECT_EQ(canvas.BoxOf(kRed), c.border) << "pen " << c.penWidth << canvas.Picture(kRed);
        EXPECT_EQ(canvas.BoxOf(kGreen), c.fill) << "pen " << c.penWidth << canvas.Picture(kGreen);
        const RECT& f = c.fill;
        EXPECT_EQ(canvas.Count(kGreen), (f.right - f.left) * (f.bottom - f.top)) << "the fill is solid";
        EXPECT_EQ(canvas.Colors().size(), c.penWidth < 0 ? 2u : 3u);
    }
}

TEST(RasterShapes, HollowBrushAndDegenerateBoxes)
{
    Canvas canvas(10, 10);
    Tools tools(canvas.Dc(), 1, kRed, static_cast<HBRUSH>(GetStockObject(HOLLOW_BRUSH)));
    Rectangle(canvas.Dc(), 1, 1, 9, 9);
    EXPECT_EQ(canvas.Count(kRed), 28);
    EXPECT_EQ(canvas.At(4, 4), kWhite);
    canvas.Fill(kWhite);
    Rectangle(canvas.Dc(), 3, 3, 3, 8);
    EXPECT_EQ(canvas.Count(kRed), 0) << "a box without width";
    Rectangle(canvas.Dc(), 3, 2, 4, 7);
    EXPECT_EQ(canvas.BoxOf(kRed), (RECT{3, 2, 4, 7})) << "a box one pixel wide is a line" << canvas.Picture(kRed);
    EXPECT_EQ(canvas.Count(kRed), 5);
    EXPECT_EQ(Rectangle(nullptr, 0, 0, 1, 1), 0);
}

TEST(RasterShapes, EllipseStaysInItsBoxAndTouchesEachSide)
{
    for (int32_t penWidth : {1, 3}) {
        Canvas canvas(20, 16);
        Tools tools(canvas.Dc(), penWidth, kRed, CreateSolidBrush(kGreen));
        Ellipse(canvas.Dc(), 3, 2, 16, 13);
        const int32_t out = penWidth / 2;
        EXPECT_EQ(canvas.BoxOf(kRed), (RECT{3 - out, 2 - out, 16 + out, 13 + out})) << canvas.Picture(kRed);
        EXPECT_EQ(canvas.At(3, 2), kWhite) << "the box's corners lie outside the ellipse";
        EXPECT_EQ(canvas.At(15, 12), kWhite);
        EXPECT_EQ(canvas.At(9, 7), kGreen);
        // Symmetric about both axes of the box.
        for (int32_t y = 0; y <= 14; ++y)
            for (int32_t x = 0; x <= 18; ++x) {
                ASSERT_EQ(canvas.At(x, y), canvas.At(18 - x, y)) << x << "," << y << canvas.Picture(kRed);
                ASSERT_EQ(canvas.At(x, y), canvas.At(x, 14 - y)) << x << "," << y << canvas.Picture(kRed);
            }
        EXPECT_EQ(canvas.Colors().size(), 3u) << "nothing smoothed";
    }
}

TEST(RasterShapes, LineToLeavesOutItsLastPixelAndMovesThePosition)
{
    struct Case {
        POINT from, to;
        std::vector<POINT> pixels;
    };
    const Case cases[] = {
        {{2, 3}, {7, 3}, {{2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}}},
        {{5, 6}, {5, 2}, {{5, 6}, {5, 5}, {5, 4}, {5, 3}}},
        {{1, 1}, {5, 5}, {{1, 1}, {2, 2}, {3, 3}, {4, 4}}},
        {{6, 1}, {2, 5}, {{6, 1}, {5, 2}, {4, 3}, {3, 4}}},
        {{4, 4}, {4, 4}, {}},
    };
    for (const Case& c : cases) {
        Canvas canvas(10, 10);
        Tools tools(canvas.Dc(), 1, kRed, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        POINT previous{};
        MoveToEx(canvas.Dc(), c.from.x, c.from.y, &previous);
        EXPECT_EQ(LineTo(canvas.Dc(), c.to.x, c.to.y), 1);
        EXPECT_EQ(canvas.Count(kRed), static_cast<int>(c.pixels.size())) << canvas.Picture(kRed);
        for (POINT p : c.pixels)
            EXPECT_EQ(canvas.At(p.x, p.y), kRed) << p.x << "," << p.y << canvas.Picture(kRed);
        MoveToEx(canvas.Dc(), 0, 0, &previous);
        EXPECT_EQ(previous.x, c.to.x);
        EXPECT_EQ(previous.y, c.to.y);
    }

    // A wide pen is centred on the line: three rows for width 3.
    Canvas canvas(12, 10);
    Tools tools(canvas.Dc(), 3, kRed, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    MoveToEx(canvas.Dc(), 3, 5, nullptr);
    LineTo(canvas.Dc(), 8, 5);
    const RECT box = canvas.BoxOf(kRed);
    EXPECT_EQ(box.top, 4);
    EXPECT_EQ(box.bottom, 7);
    EXPECT_EQ(canvas.At(5, 4), kRed);
    EXPECT_EQ(canvas.At(5, 6), kRed);
    EXPECT_EQ(canvas.Colors().size(), 2u);
}

TEST(RasterShapes, EveryFormatGetsTheSamePicture)
{
    // White, red and green are in the 8-bit table, so every format can hold the picture exactly.
    auto draw = [](HDC dc) {
        Tools tools(dc, 2, kRed, CreateSolidBrush(kGreen));
        Ellipse(dc, 2, 3, 15, 12);
        Rectangle(dc, 9, 1, 19, 7);
        MoveToEx(dc, 0, 13, nullptr);
        LineTo(dc, 19, 4);
    };
    Canvas reference(20, 14);
    draw(reference.Dc());
    for (uint16_t bits : {8, 16, 24}) {
        for (int32_t height : {-14, 14}) {
            DibInfo info(20, height, bits);
            info.colors[1] = RGBQUAD{0, 0, 255, 0};
            info.colors[2] = RGBQUAD{0, 255, 0, 0};
            Canvas canvas(info.Info(), kWhite);
            draw(canvas.Dc());
            for (int32_t y = 0; y < 14; ++y)
                for (int32_t x = 0; x < 20; ++x)
                    ASSERT_EQ(canvas.At(x, y), reference.At(x, y))
                        << bits << " bits, height " << height << " at " << x << "," << y << canvas.Picture(kRed);
        }
    }
}
