// A DirectDraw layer for the back-end's tests: capabilities, free memory, the desktop's depth,
// window rectangles and lost surfaces as a test sets them, any call failing on request, every
// call recorded. Surfaces are raster bitmaps of the desktop's depth (32 bits, or 16 bits in 5-5-5)
// whose blits, fills and colour keys work, so that the back-end's self-test and colour matching
// run for real. Surfaces are named by their place: the primary, then the back, simple and video
// surfaces in the order the back-end creates them.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CallJournal.h"
#include "display/DDrawLayer.h"

namespace displaytest {

struct SDDrawWorld : SCallJournal {
    SDDrawWorld();

    // The script.
    bool bLoadModule = true;
    bool bFindCreate = true;
    bool bCreate = true;
    display::ddraw::HRESULT createResult = display::ddraw::DD_OK; // DirectDrawCreate's answer when it makes nothing
    display::ddraw::DDCAPS caps;
    uint32_t dwBitCount = 32;
    uint32_t dwFreeLocal = 64u << 20;
    bool bVidMemQuery = true; // GetAvailableVidMem answers; else it fails
    raster::RECT windowRect = {100, 50, 420, 290};
    raster::RECT clientRect = {0, 0, 320, 240};
    // Every surface made so far answers "surface lost" from now on.
    void LoseSurfaces() { lostBefore = nextSerial; }

    // What happened (besides the calls).
    int nLive = 0;
    int nModules = 0; // loaded and not freed
    std::map<std::string, uint32_t> colorKeys; // by surface name

    std::vector<std::string> Since(size_t from) const { return {calls.begin() + static_cast<long>(from), calls.end()}; }

    uint32_t nextSerial = 0, lostBefore = 0;
    int offscreenSincePrimary = 0;
};

std::unique_ptr<display::ddraw::IDriver> CreateScriptedDDraw(std::shared_ptr<SDDrawWorld> world);

} // namespace displaytest
