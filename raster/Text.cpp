// DrawTextA: lines, mnemonic prefixes, measuring and drawing with the DC's font and colours.
#include <cairo.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "raster/DrawScope.h"
#include "raster/Gdi.h"

namespace raster {

namespace {

// Windows-1252 code points of the bytes 0x80 to 0x9F; the five unassigned bytes keep their value.
const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Appends the UTF-8 form of one Windows-1252 byte; out has room for 3 bytes.
size_t AppendUtf8(uint8_t byte, char* out)
{
    const uint32_t cp = (byte >= 0x80 && byte < 0xA0) ? kCp1252High[byte - 0x80] : byte;
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
}

constexpr int64_t kFar = 1 << 22;

int32_t Clamp(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// One line ready to draw: UTF-8 text, its advance, and the span a mnemonic underlines.
struct SLine {
    char* pUtf8;
    size_t nLength;
    int32_t nWidth;
    int32_t nMnemonicX; // -1: none
    int32_t nMnemonicWidth;
};

int32_t Advance(cairo_scaled_font_t* font, const char* utf8, size_t length)
{
    if (length == 0)
        return 0;
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    if (cairo_scaled_font_text_to_glyphs(font, 0, 0, utf8, static_cast<int>(length), &glyphs, &count, nullptr,
                                         nullptr, nullptr) != CAIRO_STATUS_SUCCESS)
        return 0;
    cairo_text_extents_t extents;
    cairo_scaled_font_glyph_extents(font, glyphs, count, &extents);
    cairo_glyph_free(glyphs);
    return static_cast<int32_t>(extents.x_advance + 0.5);
}

// Turns the bytes of one line into UTF-8 in out (room for 3 bytes a byte), dropping the prefix
// characters unless noPrefix; the last "&x" of the line names the mnemonic.
void BuildLine(const char* text, size_t length, bool noPrefix, cairo_scaled_font_t* font, char* out, SLine* line)
{
    size_t used = 0, mnemonicStart = 0, mnemonicEnd = 0;
    bool mnemonic = false;
    for (size_t i = 0; i < length; ++i) {
        uint8_t byte = static_cast<uint8_t>(text[i]);
        if (byte == '&' && !noPrefix) {
            if (++i == length)
                break;
            byte = static_cast<uint8_t>(text[i]);
            if (byte != '&') {
                mnemonic = true;
                mnemonicStart = used;
                mnemonicEnd = used + AppendUtf8(byte, out + used);
                used = mnemonicEnd;
                continue;
            }
        }
        used += AppendUtf8(byte, out + used);
    }
    line->pUtf8 = out;
    line->nLength = used;
    line->nWidth = Advance(font, out, used);
    line->nMnemonicX = -1;
    line->nMnemonicWidth = 0;
    if (mnemonic) {
        line->nMnemonicX = Advance(font, out, mnemonicStart);
        line->nMnemonicWidth = Advance(font, out, mnemonicEnd) - line->nMnemonicX;
    }
}

void FillBand(cairo_t* cr, int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return;
    cairo_rectangle(cr, x, y, width, height);
    cairo_fill(cr);
}

void DrawLine(const CDrawScope& scope, HDC hdc, const SLine& line, int32_t x, int32_t y)
{
    cairo_t* cr = scope.Cairo();
    const CFont* font = hdc->Font();
    const int32_t baseline = y + font->Ascent();
    if (hdc->m_nBackgroundMode == OPAQUE) {
        scope.SetColor(hdc->m_crBackground);
        FillBand(cr, x, y, line.nWidth, font->LineHeight());
    }
    scope.SetColor(hdc->m_crText);
    if (line.nLength > 0) {
        cairo_glyph_t* glyphs = nullptr;
        int count = 0;
        if (cairo_scaled_font_text_to_glyphs(font->ScaledFont(), x, baseline, line.pUtf8,
                                             static_cast<int>(line.nLength), &glyphs, &count, nullptr, nullptr,
                                             nullptr) == CAIRO_STATUS_SUCCESS) {
            cairo_set_scaled_font(cr, font->ScaledFont());
            cairo_show_glyphs(cr, glyphs, count);
            cairo_glyph_free(glyphs);
        }
    }
    const LOGFONTA& lf = font->Description();
    if (lf.lfUnderline)
        FillBand(cr, x, baseline + font->UnderlineTop(), line.nWidth, font->UnderlineHeight());
    if (lf.lfStrikeOut)
        FillBand(cr, x, baseline + font->StrikeTop(), line.nWidth, font->StrikeHeight());
    if (line.nMnemonicX >= 0 && !lf.lfUnderline)
        FillBand(cr, x + line.nMnemonicX, baseline + font->UnderlineTop(), line.nMnemonicWidth,
                 font->UnderlineHeight());
}

} // namespace

int DrawTextA(HDC hdc, const char* text, int count, RECT* rect, uint32_t format)
{
    if (!hdc || !text || !rect || !hdc->Font())
        return 0;
    const CFont* font = hdc->Font();
    size_t length = count < 0 ? strlen(text) : static_cast<size_t>(count);
    if (const void* nul = memchr(text, 0, length))
        length = static_cast<size_t>(static_cast<const char*>(nul) - text);
    const bool singleLine = (format & DT_SINGLELINE) != 0;

    // Lines, each into its own part of one UTF-8 buffer.
    size_t lineCount = 1;
    if (!singleLine) {
        for (size_t i = 0; i < length; ++i) {
            if (text[i] == '\n' || (text[i] == '\r' && !(i + 1 < length && text[i + 1] == '\n')))
                ++lineCount;
        }
    }
    char* utf8 = static_cast<char*>(malloc(3 * length + 1));
    SLine* lines = static_cast<SLine*>(malloc(lineCount * sizeof(SLine)));
    if (!utf8 || !lines) {
        free(utf8);
        free(lines);
        return 0;
    }
    size_t start = 0, used = 0, line = 0;
    int32_t widest = 0;
    for (size_t i = 0; i <= length; ++i) {
        const bool end = i == length;
        if (!end && (singleLine || (text[i] != '\n' && text[i] != '\r')))
            continue;
        BuildLine(text + start, i - start, (format & DT_NOPREFIX) != 0, font->ScaledFont(), utf8 + used, &lines[line]);
        used += lines[line].nLength;
        widest = std::max(widest, lines[line].nWidth);
        ++line;
        if (!end && text[i] == '\r' && i + 1 < length && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    const int32_t lineHeight = font->LineHeight();
    const int32_t height = static_cast<int32_t>(lineCount) * lineHeight;

    if (format & DT_CALCRECT) {
        rect->right = Clamp(static_cast<int64_t>(rect->left) + widest);
        rect->bottom = Clamp(static_cast<int64_t>(rect->top) + height);
    } else {
        const int64_t left = rect->left, right = rect->right;
        int64_t top = rect->top;
        if (singleLine && (format & DT_VCENTER))
            top = rect->top + (static_cast<int64_t>(rect->bottom) - rect->top - lineHeight) / 2;
        else if (singleLine && (format & DT_BOTTOM))
            top = static_cast<int64_t>(rect->bottom) - lineHeight;
        // Glyphs may reach out of their advance (italics): the region is a line height wider.
        int64_t bl = std::min(left, right - widest) - lineHeight, br = std::max(right, left + widest) + lineHeight;
        int64_t bt = top, bb = top + height;
        if (!(format & DT_NOCLIP)) {
            bl = std::max(bl, left);
            bt = std::max(bt, static_cast<int64_t>(rect->top));
            br = std::min(br, right);
            bb = std::min(bb, static_cast<int64_t>(rect->bottom));
        }
        const RECT bounds{Clamp(bl), Clamp(bt), Clamp(br), Clamp(bb)};
        if (bounds.left < bounds.right && bounds.top < bounds.bottom) {
            CDrawScope scope(hdc, bounds);
            if (scope.Cairo()) {
                cairo_rectangle(scope.Cairo(), bounds.left, bounds.top, bounds.right - bounds.left,
                                bounds.bottom - bounds.top);
                cairo_clip(scope.Cairo());
                for (size_t i = 0; i < lineCount; ++i) {
                    int64_t x = left;
                    if (format & DT_CENTER)
                        x = left + (right - left - lines[i].nWidth) / 2;
                    else if (format & DT_RIGHT)
                        x = right - lines[i].nWidth;
                    const int64_t y = top + static_cast<int64_t>(i) * lineHeight;
                    // A line that far out cannot reach any bitmap; cairo's coordinates end there.
                    if (x < -kFar || x > kFar || y < -kFar || y > kFar)
                        continue;
                    DrawLine(scope, hdc, lines[i], static_cast<int32_t>(x), static_cast<int32_t>(y));
                }
            } else if (scope.Failed()) {
                free(utf8);
                free(lines);
                return 0;
            }
        }
    }
    free(utf8);
    free(lines);
    return height;
}

} // namespace raster
