#include "raster/Font.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <cmath>
#include <cstring>
#include <new>

#include "platform/CriticalSection.h"

namespace raster {

// One resolved face with the metrics every size derives from, in font units. Entries are made
// once per (name, weight, italic) and kept for the life of the process: matching through
// fontconfig costs far more than drawing a short text, and the overlay creates its font anew on
// every redraw.
struct SFaceEntry {
    char szName[LF_FACESIZE];
    int32_t nWeight;
    bool bItalic;
    cairo_font_face_t* pFace;
    char szFamily[128];
    double dUnitsPerEm;
    double dWinAscent;
    double dWinDescent;
    double dUnderlinePosition; // above the baseline, usually negative
    double dUnderlineThickness;
    double dStrikePosition; // above the baseline
    double dStrikeThickness;
    SFaceEntry* pNext;
};

namespace {

px::CriticalSection g_csFaces;
SFaceEntry* g_pFaces PX_GUARDED_BY(g_csFaces) = nullptr;

cairo_font_options_t* CreateOptions()
{
    cairo_font_options_t* options = cairo_font_options_create();
    // Shapes and text are laid over keyed overlays: no smoothing, whole-pixel advances.
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    return options;
}

cairo_scaled_font_t* CreateScaled(cairo_font_face_t* face, double em)
{
    cairo_matrix_t fontMatrix, ctm;
    cairo_matrix_init_scale(&fontMatrix, em, em);
    cairo_matrix_init_identity(&ctm);
    cairo_font_options_t* options = CreateOptions();
    cairo_scaled_font_t* scaled = cairo_scaled_font_create(face, &fontMatrix, &ctm, options);
    cairo_font_options_destroy(options);
    if (cairo_scaled_font_status(scaled) != CAIRO_STATUS_SUCCESS) {
        cairo_scaled_font_destroy(scaled);
        return nullptr;
    }
    return scaled;
}

// Reads the face's units from FreeType through a scaled font of any size.
bool ReadFaceMetrics(SFaceEntry* entry)
{
    cairo_scaled_font_t* probe = CreateScaled(entry->pFace, 16);
    if (!probe)
        return false;
    FT_Face ft = cairo_ft_scaled_font_lock_face(probe);
    bool ok = ft && ft->units_per_EM > 0;
    if (ok) {
        entry->dUnitsPerEm = ft->units_per_EM;
        const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
        if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
            entry->dWinAscent = os2->usWinAscent;
            entry->dWinDescent = os2->usWinDescent;
        } else {
            entry->dWinAscent = ft->ascender;
            entry->dWinDescent = -ft->descender;
        }
        if (entry->dWinAscent + entry->dWinDescent <= 0) {
            entry->dWinAscent = ft->units_per_EM;
            entry->dWinDescent = 0;
        }
        entry->dUnderlinePosition = ft->underline_position != 0 ? ft->underline_position : -ft->units_per_EM / 10.0;
        entry->dUnderlineThickness = ft->underline_thickness > 0 ? ft->underline_thickness : ft->units_per_EM / 20.0;
        if (os2 && os2->yStrikeoutSize > 0) {
            entry->dStrikePosition = os2->yStrikeoutPosition;
            entry->dStrikeThickness = os2->yStrikeoutSize;
        } else {
            entry->dStrikePosition = entry->dWinAscent / 3;
            entry->dStrikeThickness = entry->dUnderlineThickness;
        }
    }
    if (ft)
        cairo_ft_scaled_font_unlock_face(probe);
    cairo_scaled_font_destroy(probe);
    return ok;
}

SFaceEntry* ResolveFace(const char* name, int32_t weight, bool italic)
{
    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        return nullptr;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name[0] ? name : "sans-serif"));
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match)
        return nullptr;

    SFaceEntry* entry = new (std::nothrow) SFaceEntry{};
    if (!entry) {
        FcPatternDestroy(match);
        return nullptr;
    }
    FcChar8* family = nullptr;
    if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch && family)
        snprintf(entry->szFamily, sizeof entry->szFamily, "%s", reinterpret_cast<const char*>(family));
    entry->pFace = cairo_ft_font_face_create_for_pattern(match);
    FcPatternDestroy(match); // the face keeps its own reference
    if (cairo_font_face_status(entry->pFace) != CAIRO_STATUS_SUCCESS || !ReadFaceMetrics(entry)) {
        cairo_font_face_destroy(entry->pFace);
        delete entry;
        return nullptr;
    }
    snprintf(entry->szName, sizeof entry->szName, "%s", name);
    entry->nWeight = weight;
    entry->bItalic = italic;
    return entry;
}

const SFaceEntry* FindFace(const char* name, int32_t weight, bool italic)
{
    px::CsLock lock(g_csFaces);
    for (SFaceEntry* e = g_pFaces; e; e = e->pNext) {
        if (e->nWeight == weight && e->bItalic == italic && strcasecmp(e->szName, name) == 0)
            return e;
    }
    SFaceEntry* entry = ResolveFace(name, weight, italic);
    if (entry) {
        entry->pNext = g_pFaces;
        g_pFaces = entry;
    }
    return entry;
}

// Rounds a decoration to whole pixel rows, at least one row high.
void PlaceLine(double top, double thickness, int32_t* row, int32_t* height)
{
    const int32_t rows = static_cast<int32_t>(std::lround(thickness));
    *height = rows < 1 ? 1 : rows;
    *row = static_cast<int32_t>(std::lround(top));
}

} // namespace

CFont* CFont::Create(const LOGFONTA& description)
{
    CFont* font = new (std::nothrow) CFont;
    if (!font)
        return nullptr;
    font->m_lf = description;
    font->m_lf.lfFaceName[LF_FACESIZE - 1] = '\0';
    const int32_t weight = description.lfWeight <= 0 ? FW_NORMAL : (description.lfWeight > 1000 ? 1000 : description.lfWeight);
    font->m_pFace = FindFace(font->m_lf.lfFaceName, weight, description.lfItalic != 0);
    if (!font->m_pFace) {
        delete font;
        return nullptr;
    }
    const SFaceEntry& face = *font->m_pFace;
    const double cellUnits = face.dWinAscent + face.dWinDescent;
    // Negative: the character height (the em); positive: the cell height, ascent plus descent.
    int64_t height = description.lfHeight;
    if (height == 0)
        height = 16;
    if (height > 0)
        font->m_dEm = static_cast<double>(height) * face.dUnitsPerEm / cellUnits;
    else
        font->m_dEm = -static_cast<double>(height);
    if (font->m_dEm > 4096)
        font->m_dEm = 4096;
    const double scale = font->m_dEm / face.dUnitsPerEm;
    font->m_nAscent = static_cast<int32_t>(std::ceil(face.dWinAscent * scale - 1e-9));
    font->m_nLineHeight = static_cast<int32_t>(std::lround(cellUnits * scale));
    if (font->m_nLineHeight < font->m_nAscent)
        font->m_nLineHeight = font->m_nAscent;
    PlaceLine(-face.dUnderlinePosition * scale, face.dUnderlineThickness * scale, &font->m_nUnderlineTop,
              &font->m_nUnderlineHeight);
    PlaceLine(-face.dStrikePosition * scale - face.dStrikeThickness * scale / 2, face.dStrikeThickness * scale,
              &font->m_nStrikeTop, &font->m_nStrikeHeight);
    font->m_pScaledFont = CreateScaled(face.pFace, font->m_dEm);
    if (!font->m_pScaledFont) {
        delete font;
        return nullptr;
    }
    return font;
}

CFont::~CFont()
{
    if (m_pScaledFont)
        cairo_scaled_font_destroy(m_pScaledFont);
}

const char* CFont::FamilyName() const { return m_pFace->szFamily; }

} // namespace raster
