// A display back-end for tests: it records every call in a journal shared with the test, keeps
// its surfaces in plain raster bitmaps, and presents into a window bitmap the test reads. Its
// answers to the probe, to IsValid and to CanStretch are scripted.
//
// It holds its lock from GetVideoDC to ReleaseVideoDC and from GetIntermediateDC to
// ReleaseIntermediateDC, as the Direct3D 9 back-end does, and notes every breach of the pairing
// (a release without a get, a second get while a DC is out, a DC given back that is not the one
// handed out, destruction with a DC out) in Violations() and in the journal, so that tests of the
// callers can assert the discipline.
#pragma once

#include <string>
#include <vector>

#include "display/DXDisplay.h"
#include "platform/CriticalSection.h"

namespace displaytest {

using display::HWND;
using raster::COLORREF;
using raster::HDC;

// Calls of every back-end made in one test, in order, as "name.Call(arguments)".
class CCallJournal {
public:
    void Record(const std::string& call);
    std::vector<std::string> Calls() const;

private:
    mutable px::CriticalSection m_cs;
    std::vector<std::string> m_calls;
};

struct STestDisplayScript {
    int32_t nValidate = 1;  // Validate with a size
    int32_t nIsValid = 1;   // IsValid and Validate(0, 0)
    int32_t nCanStretch = 1;
    COLORREF crTransparent = 0x00FF00FF;
};

class CTestDisplay : public display::CDXDisplay {
public:
    CTestDisplay(const char* name, CCallJournal* journal, const STestDisplayScript& script, HWND hWnd);
    ~CTestDisplay() override;

    void InitDD(HWND hWnd) override;
    void InitSurfaces(int32_t overlayWidth, int32_t overlayHeight, int32_t videoWidth, int32_t videoHeight) override;
    int32_t IsValid() override;
    int32_t Validate(uint32_t width, uint32_t height) override;
    // These hold the lock from one call to the other, which the lock annotations cannot follow.
    void GetVideoDC(HDC* hdc) PX_NO_THREAD_SAFETY_ANALYSIS override;
    void ReleaseVideoDC(HDC hdc) PX_NO_THREAD_SAFETY_ANALYSIS override;
    void PresentVideo() override;
    void GetIntermediateDC(HDC* hdc) PX_NO_THREAD_SAFETY_ANALYSIS override;
    void ReleaseIntermediateDC(HDC hdc) PX_NO_THREAD_SAFETY_ANALYSIS override;
    void GetOverlayDC(HDC* hdc) override;
    void ReleaseOverlayDC(HDC hdc) override;
    void ClearOverlay() override;
    void Present(int32_t withOverlay) override;
    void SetTransparentColor(COLORREF color) override;
    COLORREF GetTransparentColor() override;
    int32_t CanStretch() override;
    void ReleaseAll() override;
    uint32_t GetErrorCode() override;

    HWND Window() const { return m_hWnd; }
    // The picture the last Present made, of the overlay's size; CLR_INVALID outside or before.
    COLORREF WindowPixel(int32_t x, int32_t y) const;
    // Whether the back-end's lock is free (asked from a thread that does not hold it).
    bool LockFree() PX_NO_THREAD_SAFETY_ANALYSIS;
    // Breaches of the DC pairing seen so far.
    std::vector<std::string> Violations() const;

private:
    struct SSurface {
        HDC hdc = nullptr;
        raster::HBITMAP hBitmap = nullptr;
        raster::HGDIOBJ hOld = nullptr;
    };
    static bool Create(SSurface* surface, int32_t width, int32_t height);
    static void Destroy(SSurface* surface);
    void FreeSurfaces();
    void Record(const std::string& call);
    void Breach(const std::string& what);
    void Get(SSurface& surface, HDC* out, HDC* handedOut, const char* call);
    // False when no DC was out.
    bool Release(HDC hdc, HDC* handedOut, const char* call);

    std::string m_name;
    CCallJournal* m_pJournal;
    STestDisplayScript m_script;
    HWND m_hWnd;
    COLORREF m_crTransparent;
    SSurface m_video, m_intermediate, m_overlay, m_window;
    HDC m_hVideoOut = nullptr, m_hIntermediateOut = nullptr, m_hOverlayOut = nullptr;
    mutable px::CriticalSection m_csViolations;
    std::vector<std::string> m_violations;
};

// A factory for a registry that makes CTestDisplay objects named name with script.
display::DisplayFactory TestFactory(const char* name, CCallJournal* journal, const STestDisplayScript& script);

} // namespace displaytest
