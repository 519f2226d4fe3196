// Fonts of the raster layer: a LOGFONTA description resolved through fontconfig to a FreeType
// face that cairo draws with, at a pixel size and with line metrics computed the way a Windows
// font reports them (from the face's Windows ascent and descent), so that text boxes measured
// with DrawTextA come out as the drawing code expects.
//
// Face names go through fontconfig's substitution rules: with the metric-compatible Liberation
// fonts installed, "Arial", "Times New Roman" and "Courier New" give faces of the same advance
// widths; an empty name gives the default sans-serif face.
#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/GdiObject.h"
#include "raster/GdiTypes.h"

typedef struct _cairo_scaled_font cairo_scaled_font_t;

namespace raster {

struct SFaceEntry;

class CFont : public CGdiObject {
public:
    // Null when no face can be found or memory is short.
    static CFont* Create(const LOGFONTA& description);
    ~CFont() override;

    const LOGFONTA& Description() const { return m_lf; }
    cairo_scaled_font_t* ScaledFont() const { return m_pScaledFont; }
    // The family fontconfig chose, such as "Liberation Sans".
    const char* FamilyName() const;
    double EmSize() const { return m_dEm; }

    int32_t Ascent() const { return m_nAscent; }
    int32_t LineHeight() const { return m_nLineHeight; }
    // Decoration lines as pixel rows relative to the baseline (positive downwards) and heights.
    int32_t UnderlineTop() const { return m_nUnderlineTop; }
    int32_t UnderlineHeight() const { return m_nUnderlineHeight; }
    int32_t StrikeTop() const { return m_nStrikeTop; }
    int32_t StrikeHeight() const { return m_nStrikeHeight; }

private:
    CFont() : CGdiObject(GdiKind::Font) {}

    LOGFONTA m_lf{};
    const SFaceEntry* m_pFace = nullptr; // owned by the process-wide face cache
    cairo_scaled_font_t* m_pScaledFont = nullptr;
    double m_dEm = 0;
    int32_t m_nAscent = 0;
    int32_t m_nLineHeight = 0;
    int32_t m_nUnderlineTop = 0;
    int32_t m_nUnderlineHeight = 1;
    int32_t m_nStrikeTop = 0;
    int32_t m_nStrikeHeight = 1;
};

} // namespace raster
