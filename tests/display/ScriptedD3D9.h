// A Direct3D 9 layer for the back-end's tests: it answers with the capabilities, formats and
// system values a test sets, fails any call a test names, reports a lost device on request, and
// records every call. Surfaces and textures hold real memory (texture rows padded beyond their
// width), so that what the back-end writes through locks and DCs can be read back.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CallJournal.h"
#include "display/D3D9Layer.h"

namespace displaytest {

struct SD3D9Memory {
    uint32_t width = 0, height = 0;
    int32_t pitch = 0;
    std::vector<uint8_t> bytes;
    uint32_t Texel(uint32_t x, uint32_t y) const;
};

// What the scripted layer answers and what it saw; shared by the test and the layer.
struct SD3D9World : SCallJournal {
    SD3D9World();

    // The script.
    bool bLoadDriver = true;
    bool bCreateRoot = true;
    uint32_t dwOsMajor = 6;
    bool bComposition = true;
    display::d3d9::D3DFORMAT displayFormat = display::d3d9::D3DFMT_X8R8G8B8;
    display::d3d9::D3DCAPS9 caps;
    bool aShaders[4] = {false, true, true, true}; // by pixel-shader major version
    std::deque<display::d3d9::HRESULT> cooperative;  // next answers of TestCooperativeLevel, then D3D_OK
    // What happened (besides the calls): objects alive, memory made.
    int nLive = 0;
    std::vector<std::shared_ptr<SD3D9Memory>> textures; // in creation order
    std::vector<uint8_t> vertices;                      // the last vertex buffer unlocked
    float aConstants[2][4] = {};
    std::map<display::d3d9::D3DRENDERSTATETYPE, uint32_t> renderStates;
    display::d3d9::D3DPRESENT_PARAMETERS lastParameters;
    uint32_t dwLastBehavior = 0;

    // The recorded calls from index on, names only.
    std::vector<std::string> Names(size_t from = 0) const;
};

std::unique_ptr<display::d3d9::IDriver> CreateScriptedD3D9(std::shared_ptr<SD3D9World> world);

} // namespace displaytest
