// The overlay shapes by their pixels in a memory DC, scaled as the viewer draws them, and the
// overlay path through a back-end: cleared, drawn, keyed over the picture.
#include "../raster/RasterTestUtil.h"
#include "TestDisplay.h"
#include "display/SimpleGList.h"

using namespace display;
using namespace rastertest;

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255), kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0);

// Draws one graphic made for a 100 x 100 image into a canvas of the given size (mode 0, whole
// image in the buffer), and checks that the DC comes back as it was given.
void DrawAt(CSimpleGraphic* graphic, const Canvas& canvas)
{
    HGDIOBJ pen = GetStockObject(BLACK_PEN), brush = GetStockObject(WHITE_BRUSH), font = GetStockObject(SYSTEM_FONT);
    SetTextColor(canvas.Dc(), RGB(1, 2, 3));
    SetBkColor(canvas.Dc(), RGB(4, 5, 6));
    SetBkMode(canvas.Dc(), OPAQUE);
    MoveToEx(canvas.Dc(), 7, 8, nullptr);
    CSimpleGList list;
    list.Add(graphic);
    list.Draw(0, 0, canvas.Width(), canvas.Height(), 100, 100, 0, canvas.Dc());
    EXPECT_EQ(SelectObject(canvas.Dc(), pen), pen);
    EXPECT_EQ(SelectObject(canvas.Dc(), brush), brush);
    EXPECT_EQ(SelectObject(canvas.Dc(), font), font);
    EXPECT_EQ(GetTextColor(canvas.Dc()), RGB(1, 2, 3));
    EXPECT_EQ(GetBkColor(canvas.Dc()), RGB(4, 5, 6));
    EXPECT_EQ(GetBkMode(canvas.Dc()), OPAQUE);
    POINT position{};
    MoveToEx(canvas.Dc(), 0, 0, &position);
    EXPECT_EQ(position.x, 7);
    EXPECT_EQ(position.y, 8);
}

int RunOf(const Canvas& canvas, int32_t y, COLORREF color)
{
    int32_t x = 0;
    while (x < canvas.Width() && canvas.At(x, y) != color)
        ++x;
    int n = 0;
    while (x + n < canvas.Width() && canvas.At(x + n, y) == color)
        ++n;
    return n;
}

} // namespace

TEST(OverlayShapes, FilledWithoutBorderGetsAnOutlineOfTheFill)
{
    for (bool ellipse : {false, true}) {
        Canvas canvas(50, 50);
        CSimpleGraphic* g = ellipse ? static_cast<CSimpleGraphic*>(new CSGEllipse(1, 10, 20, 50, 60, 100, 100, 0, kGreen, kRed, 0))
                                    : new CSGRectangle(1, 10, 20, 50, 60, 100, 100, 0, kGreen, kRed, 0);
        DrawAt(g, canvas);
        // Half size: the box {5, 10, 25, 30}, all green, no red border (its width is 0).
        EXPECT_EQ(canvas.BoxOf(kGreen), (RECT{5, 10, 25, 30})) << canvas.Picture(kGreen);
        EXPECT_EQ(canvas.Count(kRed), 0);
        if (!ellipse) {
            EXPECT_EQ(canvas.Count(kGreen), 400);
        }
    }
}

TEST(OverlayShapes, HollowFrameWidthScalesWithTheWindow)
{
    for (int32_t side : {100, 200}) {
        Canvas canvas(side, side);
        DrawAt(new CSGRectangle(1, 20, 20, 80, 80, 100, 100, 0, kNoColor, kRed, 2), canvas);
        const int32_t middle = side / 2, width = 2 * side / 100;
        EXPECT_EQ(RunOf(canvas, middle, kRed), width) << side << canvas.Picture(kRed);
        EXPECT_EQ(canvas.At(middle, middle), kWhite) << "hollow";
    }
}

TEST(OverlayShapes, NothingWithoutColourOrWidth)
{
    CSimpleGraphic* invisible[] = {
        new CSGRectangle(1, 10, 10, 90, 90, 100, 100, 0, kNoColor, kRed, 0),
        new CSGEllipse(1, 10, 10, 90, 90, 100, 100, 0, kNoColor, kNoColor, 3),
        new CSGLine(1, 10, 10, 90, 90, 100, 100, 0, kRed, 0),
        new CSGLine(1, 10, 10, 90, 90, 100, 100, 0, kNoColor, 3),
        new CSGPixel(1, 50, 50, 100, 100, 0, kNoColor),
        CSGString::Create(1, 10, 10, 0, 0, 100, 100, 0, kRed, kRed, 0, 4, 0, 0, 0, "Arial", "size 0"),
        CSGString::Create(1, 10, 10, 0, 0, 100, 100, 0, kNoColor, kNoColor, 12, 4, 0, 0, 0, "Arial", "no colour"),
    };
    for (CSimpleGraphic* g : invisible) {
        Canvas canvas(100, 100);
        DrawAt(g, canvas);
        EXPECT_EQ(canvas.Count(kWhite), 100 * 100);
    }
}

TEST(OverlayShapes, LinesAndPixelsLandWhereTheMappingSays)
{
    Canvas canvas(200, 200);
    DrawAt(new CSGLine(1, 10, 30, 60, 30, 100, 100, 0, kRed, 3), canvas);
    // Doubled: from (20, 60) to (120, 60), six pixels wide, centred on row 60.
    const RECT box = canvas.BoxOf(kRed);
    EXPECT_EQ(box.top, 57);
    EXPECT_EQ(box.bottom, 63);
    EXPECT_EQ(RunOf(canvas, 60, kRed) >= 100, true);

    canvas.Fill(kWhite);
    DrawAt(new CSGPixel(1, 33, 44, 100, 100, 0, kGreen), canvas);
    EXPECT_EQ(canvas.BoxOf(kGreen), (RECT{66, 88, 67, 89}));
    EXPECT_EQ(canvas.Count(kGreen), 1);

    // Mode 0 with a graphic made when the full image was 400 x 400, now held as 100 x 100 and
    // shown at 200 x 200: positions and the width both shrink by 400 / 100 and grow by 2.
    Canvas shrunk(200, 200);
    CSimpleGList scaled;
    scaled.Add(new CSGLine(1, 40, 160, 360, 160, 400, 400, 0, kRed, 6));
    scaled.Draw(0, 0, 200, 200, 100, 100, 0, shrunk.Dc());
    const RECT line = shrunk.BoxOf(kRed);
    EXPECT_EQ(line.top, 79);
    EXPECT_EQ(line.bottom, 82);
    EXPECT_EQ(shrunk.At(20, 80), kRed);
    EXPECT_EQ(shrunk.At(180, 80), kRed);

    // Mode 1: a 50 x 50 part of the image at (25, 25) fills the canvas; the reference size
    // plays no part.
    Canvas part(100, 100);
    CSimpleGList list;
    list.Add(new CSGPixel(1, 30, 40, 7, 7, 0, kGreen));
    list.Draw(25, 25, 100, 100, 50, 50, 1, part.Dc());
    EXPECT_EQ(part.BoxOf(kGreen), (RECT{10, 30, 11, 31}));
}

TEST(OverlayShapes, TextSizesInPointsAndOptions)
{
    // Size 12 at scale 1 on a 96-dpi DC: a font of height -16, whose cell is 18 pixels.
    auto textBox = [](uint16_t size, uint16_t weight, const char* font) {
        Canvas canvas(300, 100);
        DrawAt(CSGString::Create(1, 10, 20, 0, 0, 100, 100, 0, kGreen, kRed, size, weight, 0, 0, 0, font, "Overlay"),
               canvas);
        EXPECT_EQ(canvas.Colors(), (std::set<COLORREF>{kWhite, kGreen, kRed}));
        return canvas.BoxOf(kGreen);
    };
    // Drawn in 300 x 100 from a 100 x 100 image: x scales by 3, y by 1, sizes by the mean, 2.
    const RECT box = textBox(6, 4, "Arial");
    EXPECT_EQ(box.left, 30);
    EXPECT_EQ(box.top, 20);
    EXPECT_EQ(box.bottom - box.top, 18);
    {
        Canvas reference(300, 100);
        LOGFONTA lf{};
        lf.lfHeight = -16;
        strcpy(lf.lfFaceName, "Arial");
        HFONT font = CreateFontIndirectA(&lf);
        HGDIOBJ old = SelectObject(reference.Dc(), font);
        RECT measured{0, 0, 0, 0};
        DrawTextA(reference.Dc(), "Overlay", -1, &measured, DT_CALCRECT | DT_SINGLELINE);
        EXPECT_EQ(box.right - box.left, measured.right) << "the text's own width";
        SelectObject(reference.Dc(), old);
        DeleteObject(font);
    }
    Canvas square(100, 100);
    DrawAt(CSGString::Create(1, 10, 20, 0, 0, 100, 100, 0, kGreen, kRed, 12, 4, 0, 0, 0, "Arial", "Overlay"), square);
    EXPECT_EQ(square.BoxOf(kGreen), (RECT{10, 20, 10 + box.right - box.left, 38})) << "size 12 at scale 1: -16 too";
    // Size 9, mapped to 18 points: height -24, a cell of 26.8 rounded to 27.
    const RECT larger = textBox(9, 4, "Arial");
    EXPECT_EQ(larger.bottom - larger.top, 27);
    EXPECT_GT(textBox(6, 7, "Arial").right, box.right) << "weight 700 is bold";
    // 32 characters do not fit the face name: the default face, not the one the first 31 name
    // (fontconfig ignores the blanks).
    const std::string longName = "Courier New" + std::string(21, ' ');
    const RECT fallback = textBox(6, 4, longName.c_str());
    EXPECT_EQ(fallback, textBox(6, 4, "")) << "a face name too long for the description";
    EXPECT_NE(fallback.right, textBox(6, 4, "Courier New").right);

    // No background colour: transparent, only the glyphs.
    Canvas canvas(300, 100);
    DrawAt(CSGString::Create(1, 10, 20, 0, 0, 100, 100, 0, kNoColor, kRed, 6, 4, 1, 0, 0, "Arial", "Overlay"), canvas);
    EXPECT_EQ(canvas.Colors(), (std::set<COLORREF>{kWhite, kRed}));

    // Texts longer than 1999 bytes are cut.
    const std::string huge(3000, 'a');
    CSGString* cut = CSGString::Create(1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 1, 0, 0, 0, huge.c_str(), huge.c_str());
    EXPECT_EQ(strlen(cut->m_szText.get()), 1999u);
    EXPECT_EQ(strlen(cut->m_szFontName.get()), 1999u);
    delete cut;
}

TEST(OverlayShapes, HigherIdsDrawOverLowerOnesThroughABackEnd)
{
    displaytest::CCallJournal journal;
    displaytest::CTestDisplay backEnd("test", &journal, displaytest::STestDisplayScript{}, nullptr);
    backEnd.InitSurfaces(80, 60, 40, 30);
    // The picture: the video surface in grey, stretched to the window.
    HDC video = nullptr;
    backEnd.GetVideoDC(&video);
    ASSERT_NE(video, nullptr);
    const RECT all{0, 0, 40, 30};
    FillRect(video, &all, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    backEnd.ReleaseVideoDC(video);
    backEnd.PresentVideo();

    CSimpleGList list;
    list.Add(new CSGRectangle(9, 10, 10, 30, 30, 40, 30, 0, kRed, kNoColor, 0));
    list.Add(new CSGRectangle(3, 0, 0, 20, 20, 40, 30, 0, kGreen, kNoColor, 0));
    backEnd.ClearOverlay();
    HDC overlay = nullptr;
    backEnd.GetOverlayDC(&overlay);
    list.Draw(0, 0, 80, 60, 40, 30, 0, overlay);
    backEnd.ReleaseOverlayDC(overlay);

    backEnd.Present(list.Count() > 0);
    EXPECT_EQ(backEnd.WindowPixel(5, 5), kGreen);
    EXPECT_EQ(backEnd.WindowPixel(30, 30), kRed) << "id 9 over id 3 where they overlap";
    EXPECT_EQ(backEnd.WindowPixel(70, 50), RGB(128, 128, 128)) << "the transparent colour shows the picture";
    backEnd.Present(0);
    EXPECT_EQ(backEnd.WindowPixel(30, 30), RGB(128, 128, 128));
    EXPECT_TRUE(backEnd.Violations().empty());
    EXPECT_EQ(journal.Calls().front(), "test.constructed");
}
