// Fonts through the pinned fontconfig, text boxes measured with DT_CALCRECT, and drawn text by
// its pixels.
#include <cstring>

#include "RasterTestUtil.h"

using namespace rastertest;

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255), kBlack = 0, kBlue = RGB(0, 0, 255);

HFONT MakeFont(const char* face, int32_t height, int32_t weight = FW_NORMAL, bool underline = false)
{
    LOGFONTA lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfUnderline = underline;
    lf.lfQuality = NONANTIALIASED_QUALITY;
    strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    HFONT font = CreateFontIndirectA(&lf);
    EXPECT_NE(font, nullptr) << face;
    return font;
}

// A canvas with a font selected.
class TextCanvas : public Canvas {
public:
    TextCanvas(int32_t width, int32_t height, HFONT font) : Canvas(width, height), m_font(font)
    {
        m_old = SelectObject(Dc(), font);
    }
    ~TextCanvas()
    {
        SelectObject(Dc(), m_old);
        EXPECT_EQ(DeleteObject(m_font), 1);
    }
    RECT Measure(const char* text, uint32_t format = DT_SINGLELINE) const
    {
        RECT r{10, 20, 10, 20};
        const int height = DrawTextA(Dc(), text, -1, &r, format | DT_CALCRECT);
        EXPECT_EQ(height, r.bottom - r.top) << text;
        return r;
    }
    int32_t Width(const char* text, uint32_t format = DT_SINGLELINE) const
    {
        const RECT r = Measure(text, format);
        return r.right - r.left;
    }

private:
    HFONT m_font;
    HGDIOBJ m_old;
};

} // namespace

TEST(RasterText, FaceNamesResolveToThePinnedFonts)
{
    const std::pair<const char*, const char*> faces[] = {
        {"Arial", "Liberation Sans"},
        {"Times New Roman", "Liberation Serif"},
        {"Courier New", "Liberation Mono"},
        {"", "DejaVu Sans"},
        {"Tahoma", "DejaVu Sans"},
    };
    for (const auto& [face, family] : faces) {
        HFONT font = MakeFont(face, -16);
        ASSERT_NE(font, nullptr);
        EXPECT_STREQ(font->FamilyName(), family) << face;
        DeleteObject(font);
    }
}

TEST(RasterText, BoxesMeasureByTheFontsWindowsAscentAndDescent)
{
    // Arial's cell is (1854 + 434) / 2048 of the em: 17.875 rounds to 18 pixels at 16, 22.34 to
    // 22 at 20.
    EXPECT_EQ(TextCanvas(10, 10, MakeFont("Arial", -20)).Measure("x").bottom - 20, 22);
    TextCanvas arial(10, 10, MakeFont("Arial", -16));
    const RECT box = arial.Measure("Hello World");
    EXPECT_EQ(box.left, 10);
    EXPECT_EQ(box.top, 20);
    EXPECT_EQ(box.bottom, 38);
    EXPECT_GT(box.right, 10 + 11 * 5);
    EXPECT_EQ(arial.Width("Hel"), arial.Width("H") + arial.Width("e") + arial.Width("l")) << "whole-pixel advances";
    EXPECT_EQ(arial.Measure("two\nlines", 0).bottom, 20 + 36);
    EXPECT_EQ(arial.Width("two\nlines", 0), arial.Width("lines")) << "the widest line";
    EXPECT_EQ(arial.Measure("two\r\nlines\rthree", 0).bottom, 20 + 54);
    EXPECT_EQ(arial.Measure("two\nlines").bottom, 38) << "one line with DT_SINGLELINE";
    EXPECT_EQ(arial.Width("a&&b"), arial.Width("a&b", DT_SINGLELINE | DT_NOPREFIX));
    EXPECT_EQ(arial.Width("&ab"), arial.Width("ab"));
    EXPECT_GT(arial.Width("&ab", DT_SINGLELINE | DT_NOPREFIX), arial.Width("ab"));
    const RECT empty = arial.Measure("");
    EXPECT_EQ(empty.right - empty.left, 0);
    EXPECT_EQ(empty.bottom - empty.top, 18);

    TextCanvas bold(10, 10, MakeFont("Arial", -16, FW_BOLD));
    EXPECT_GT(bold.Width("Hello World"), box.right - box.left);
    TextCanvas mono(10, 10, MakeFont("Courier New", -16));
    EXPECT_EQ(mono.Width("MMMM"), 4 * mono.Width("M"));
    EXPECT_EQ(mono.Width("iiii"), mono.Width("MMMM"));
    // A positive height is the cell, ascent and descent together.
    TextCanvas cell(10, 10, MakeFont("Arial", 30));
    EXPECT_EQ(cell.Measure("x").bottom - 20, 30);
    EXPECT_LT(cell.Width("Hello World"), TextCanvas(10, 10, MakeFont("Arial", -30)).Width("Hello World"));
}

TEST(RasterText, DrawnTextKeepsToItsBoxAndColours)
{
    TextCanvas canvas(120, 40, MakeFont("Arial", -16));
    RECT box = canvas.Measure("Ready");
    box = RECT{4, 6, 4 + box.right - box.left, 6 + box.bottom - box.top};

    // Transparent: only glyph pixels, all inside the box.
    SetTextColor(canvas.Dc(), kBlue);
    SetBkMode(canvas.Dc(), TRANSPARENT);
    RECT r = box;
    EXPECT_EQ(DrawTextA(canvas.Dc(), "Ready", -1, &r, DT_SINGLELINE), 18);
    const RECT glyphs = canvas.BoxOf(kBlue);
    EXPECT_GE(glyphs.left, box.left);
    EXPECT_GE(glyphs.top, box.top);
    EXPECT_LE(glyphs.right, box.right);
    EXPECT_LE(glyphs.bottom, box.bottom);
    EXPECT_GT(canvas.Count(kBlue), 40);
    EXPECT_EQ(canvas.Colors(), (std::set<COLORREF>{kWhite, kBlue})) << "nothing smoothed";
    const int glyphPixels = canvas.Count(kBlue);

    // Opaque: the box filled with the background colour behind the same glyphs.
    canvas.Fill(kWhite);
    SetBkMode(canvas.Dc(), OPAQUE);
    SetBkColor(canvas.Dc(), kBlack);
    DrawTextA(canvas.Dc(), "Ready", -1, &r, DT_SINGLELINE);
    EXPECT_EQ(canvas.Count(kBlue), glyphPixels);
    EXPECT_EQ(canvas.Count(kBlack) + glyphPixels, (box.right - box.left) * (box.bottom - box.top));
    EXPECT_EQ(canvas.BoxOf(kBlack), box);

    // A narrower rectangle clips; DT_NOCLIP does not.
    canvas.Fill(kWhite);
    RECT narrow{box.left, box.top, box.left + 10, box.bottom};
    DrawTextA(canvas.Dc(), "Ready", -1, &narrow, DT_SINGLELINE);
    EXPECT_EQ(canvas.BoxOf(kBlack).right, box.left + 10);
    DrawTextA(canvas.Dc(), "Ready", -1, &narrow, DT_SINGLELINE | DT_NOCLIP);
    EXPECT_EQ(canvas.BoxOf(kBlack).right, box.right);

    // Right alignment puts the line's box against the rectangle's right edge.
    canvas.Fill(kWhite);
    RECT wide{0, 0, 110, 30};
    DrawTextA(canvas.Dc(), "Ready", -1, &wide, DT_SINGLELINE | DT_RIGHT);
    EXPECT_EQ(canvas.BoxOf(kBlack), (RECT{110 - (box.right - box.left), 0, 110, 18}));
}

TEST(RasterText, UnderlineAndMnemonicRows)
{
    auto underlinedRow = [](const Canvas& canvas, const RECT& box) {
        for (int32_t y = box.top; y < box.bottom; ++y) {
            int n = 0;
            for (int32_t x = box.left; x < box.right; ++x)
                n += canvas.At(x, y) == kBlue;
            if (n == box.right - box.left)
                return y;
        }
        return -1;
    };
    TextCanvas underlined(100, 30, MakeFont("Arial", -16, FW_NORMAL, true));
    SetTextColor(underlined.Dc(), kBlue);
    RECT box = underlined.Measure("mm");
    box = RECT{2, 2, 2 + box.right - box.left, 20};
    RECT r = box;
    DrawTextA(underlined.Dc(), "mm", -1, &r, DT_SINGLELINE);
    const int32_t row = underlinedRow(underlined, box);
    EXPECT_GT(row, 2 + 12) << "below the baseline" << underlined.Picture(kBlue);

    // "&m" underlines its m where the underline would go.
    TextCanvas plain(100, 30, MakeFont("Arial", -16));
    SetTextColor(plain.Dc(), kBlue);
    r = box;
    DrawTextA(plain.Dc(), "m&m", -1, &r, DT_SINGLELINE);
    const int32_t half = (box.right - box.left) / 2;
    EXPECT_EQ(underlinedRow(plain, RECT{box.left + half, box.top, box.right, box.bottom}), row) << plain.Picture(kBlue);
    EXPECT_EQ(underlinedRow(plain, RECT{box.left, box.top, box.left + half, box.bottom}), -1);
}
