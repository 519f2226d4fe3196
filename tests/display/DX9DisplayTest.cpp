// The Direct3D 9 back-end's logic against the scripted layer: the probe's decisions and messages,
// the texture arithmetic, the surfaces and their order, the colour key, the lock of the video DC,
// presentation, failures with their codes, a lost device and a composition switch.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "BackEndTestUtil.h"
#include "LockProbe.h"
#include "ScriptedD3D9.h"
#include "display/DX9Display.h"

using namespace display;
using namespace display::d3d9;
using namespace displaytest;

namespace {

using Lines = std::vector<std::string>;

HWND const kWindow = reinterpret_cast<HWND>(0x5678);

class DX9Display : public testing::Test {
protected:
    // Probed for a 640 x 480 image and attached to the window, as GetDXInstance and Start leave it.
    void Attach()
    {
        ASSERT_EQ(m_backEnd.Validate(640, 480), 1);
        m_backEnd.InitDD(kWindow);
    }
    void Ready(int32_t overlayWidth, int32_t overlayHeight, int32_t videoWidth = 640, int32_t videoHeight = 480)
    {
        Attach();
        m_backEnd.InitSurfaces(overlayWidth, overlayHeight, videoWidth, videoHeight);
    }
    std::vector<SQuadVertex> Quad() const
    {
        std::vector<SQuadVertex> quad(4);
        EXPECT_EQ(m_world->vertices.size(), sizeof(SQuadVertex) * 4);
        memcpy(quad.data(), m_world->vertices.data(), std::min(m_world->vertices.size(), sizeof(SQuadVertex) * 4));
        return quad;
    }

    CGraphicLog m_log;
    std::shared_ptr<SD3D9World> m_world = std::make_shared<SD3D9World>();
    CLockProbe<CDX9Display> m_backEnd{CreateScriptedD3D9(m_world)};
};

} // namespace

TEST_F(DX9Display, ProbeDecisionsAndMessages)
{
    struct SCase {
        const char* name;
        std::function<void(SD3D9World&)> script;
        int32_t result;
        uint32_t code;
        Lines lines;
    };
    const SCase cases[] = {
        {"a good card", [](SD3D9World&) {}, 1, 0,
         {"MSG DX9: Using pixel shader -64768:3", "MSG DX9: Using Linear interpolation"}},
        {"pixel shader 1.4", [](SD3D9World& w) { w.caps.PixelShaderVersion = D3DPS_VERSION(1, 4); }, 1, 0,
         {"MSG DX9: Using pixel shader -65276:1", "MSG DX9: Using Linear interpolation"}},
        {"pixel shader 1.3", [](SD3D9World& w) { w.caps.PixelShaderVersion = D3DPS_VERSION(1, 3); }, 0, 0,
         {"ERROR DX9: No valid pixel shader available ", "MSG DX9: Using Linear interpolation"}},
        {"point stretching",
         [](SD3D9World& w) { w.caps.StretchRectFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT; }, 1,
         0, {"MSG DX9: Using pixel shader -64768:3", "MSG DX9: Using nearest interpolation"}},
        {"no stretch filter", [](SD3D9World& w) { w.caps.StretchRectFilterCaps = D3DPTFILTERCAPS_MINFLINEAR; }, 1, 0,
         {"MSG DX9: Using pixel shader -64768:3", "WARN DX9: No interpolation"}},
        {"inverted blending",
         [](SD3D9World& w) {
             w.caps.SrcBlendCaps = D3DPBLENDCAPS_INVSRCALPHA;
             w.caps.DestBlendCaps = D3DPBLENDCAPS_SRCALPHA;
         },
         1, 0, {"MSG DX9: Using pixel shader -64768:3", "WARN DX9: Alpha INVERTED", "MSG DX9: Using Linear interpolation"}},
        {"no blending", [](SD3D9World& w) { w.caps.DestBlendCaps = 0; }, 0, 25,
         {"MSG DX9: Using pixel shader -64768:3", "ERROR DX9: No Alpha blending", "MSG DX9: Using Linear interpolation"}},
        {"no dynamic texture", [](SD3D9World& w) { w.Fail("CheckDeviceFormat", D3DERR_NOTAVAILABLE); }, 0, 23,
         {"ERROR DX9: No alpha blending possible", "MSG DX9: Using pixel shader -64768:3",
          "MSG DX9: Using Linear interpolation"}},
        {"no windowed device", [](SD3D9World& w) { w.Fail("CheckDeviceType", D3DERR_NOTAVAILABLE); }, 0, 22,
         {"ERROR DX9: Cannot run in window mode", "MSG DX9: Using pixel shader -64768:3",
          "MSG DX9: Using Linear interpolation"}},
        {"no driver", [](SD3D9World& w) { w.bLoadDriver = false; }, 0, 9, {"ERROR DX9: No Direct3D driver"}},
        {"no root object", [](SD3D9World& w) { w.bCreateRoot = false; }, 0, 3, {"ERROR DX9: Cannot Create DD9"}},
        {"mode unreadable", [](SD3D9World& w) { w.Fail("GetAdapterDisplayMode", E_FAIL); }, 0, 0,
         {"ERROR DX9: [ValidateDeviceFormat->GetAdapterDisplayMode] Unknow error",
          "MSG DX9: Using pixel shader -64768:3", "MSG DX9: Using Linear interpolation"}},
    };
    for (const SCase& c : cases) {
        const size_t mark = m_log.Size();
        auto world = std::make_shared<SD3D9World>();
        c.script(*world);
        CDX9Display backEnd(CreateScriptedD3D9(world));
        EXPECT_EQ(backEnd.Validate(640, 480), c.result) << c.name;
        EXPECT_EQ(backEnd.GetErrorCode(), c.code) << c.name;
        EXPECT_EQ(m_log.Lines(mark), c.lines) << c.name;
        EXPECT_EQ(world->nLive, 0) << c.name << ": the probe releases what it made";
    }
}

TEST_F(DX9Display, AutomaticSelectionLogsTheProbeBetweenTheStubAndTheChoice)
{
    CDisplayRegistry registry;
    registry.SetFactory(DISPLAY_DX9, [this](HWND) -> CDXDisplay* { return new CDX9Display(CreateScriptedD3D9(m_world)); });
    int32_t selector = DISPLAY_AUTO;
    std::unique_ptr<CDXDisplay> chosen(GetDXInstance(1280, 1024, &selector, kWindow, registry));
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(selector, DISPLAY_DX9);
    EXPECT_EQ(m_log.Lines(), (Lines{"MSG GetDXInstance", "MSG DX10: Not implemented",
                                    "MSG DX9: Using pixel shader -64768:3", "MSG DX9: Using Linear interpolation",
                                    "MSG Using DirectX 9"}));
    EXPECT_EQ(chosen->CanStretch(), 1);
    EXPECT_EQ(chosen->GetTransparentColor(), 0x00FF00FFu);
}

TEST_F(DX9Display, TextureSidesFollowTheCardAndStayStrictlyBelowItsMaximum)
{
    struct SCase {
        uint32_t textureCaps;
        int32_t width, height;
        uint32_t textureWidth, textureHeight;
        float u, v;
    };
    const SCase cases[] = {
        {D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_SQUAREONLY, 640, 480, 1024, 1024, 0.625f, 0.46875f},
        {0, 800, 600, 800, 600, 1.0f, 1.0f},
        {D3DPTEXTURECAPS_POW2, 640, 480, 1024, 512, 0.625f, 0.9375f},
        {D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_NONPOW2CONDITIONAL, 640, 480, 640, 480, 1.0f, 1.0f},
        {D3DPTEXTURECAPS_SQUAREONLY, 640, 480, 640, 640, 1.0f, 0.75f},
    };
    for (const SCase& c : cases) {
        auto world = std::make_shared<SD3D9World>();
        world->caps.TextureCaps = c.textureCaps;
        CDX9Display backEnd(CreateScriptedD3D9(world));
        ASSERT_EQ(backEnd.Validate(640, 480), 1);
        backEnd.InitDD(kWindow);
        backEnd.InitSurfaces(c.width, c.height, 320, 240);
        ASSERT_EQ(world->textures.size(), 2u);
        EXPECT_EQ(world->textures[0]->width, c.textureWidth) << c.width;
        EXPECT_EQ(world->textures[0]->height, c.textureHeight) << c.width;
        EXPECT_EQ(world->textures[1]->width, 1u);
        std::vector<SQuadVertex> quad(4);
        memcpy(quad.data(), world->vertices.data(), 96);
        const float w = static_cast<float>(c.width) - 0.5f, h = static_cast<float>(c.height) - 0.5f;
        const float expected[4][6] = {
            {-0.5f, -0.5f, 0, 1, 0, 0}, {w, -0.5f, 0, 1, c.u, 0}, {-0.5f, h, 0, 1, 0, c.v}, {w, h, 0, 1, c.u, c.v}};
        for (int i = 0; i < 4; ++i) {
            const float got[6] = {quad[i].x, quad[i].y, quad[i].z, quad[i].rhw, quad[i].u, quad[i].v};
            for (int j = 0; j < 6; ++j)
                EXPECT_FLOAT_EQ(got[j], expected[i][j]) << "vertex " << i << " value " << j << " for " << c.width;
        }
    }

    // The probe rounds the full image size the same way and compares strictly.
    m_world->caps.MaxTextureWidth = 2048;
    EXPECT_EQ(m_backEnd.Validate(2048, 100), 0);
    EXPECT_EQ(m_backEnd.GetErrorCode(), 24u);
    EXPECT_TRUE(m_log.Contains("ERROR DX9: Invalid texture size"));
    EXPECT_EQ(m_backEnd.Validate(2047, 100), 1);
    m_world->caps.TextureCaps = D3DPTEXTURECAPS_POW2;
    EXPECT_EQ(m_backEnd.Validate(1100, 100), 0);
    EXPECT_TRUE(m_log.Contains("WARN DX9: Texture need to be POW2"));
    m_world->caps.TextureCaps = D3DPTEXTURECAPS_SQUAREONLY;
    m_world->caps.MaxTextureHeight = 1000;
    EXPECT_EQ(m_backEnd.Validate(1200, 100), 0) << "a square of the longer side";
    EXPECT_TRUE(m_log.Contains("WARN DX9: Texture need to be SQUARE"));
}

TEST_F(DX9Display, DesktopConversionIsAskedOnlyBeforeVersion6)
{
    struct SCase {
        uint32_t os;
        D3DFORMAT desktop;
        const char* failing; // a check that fails
        const char* line;    // what it logs, or null
        D3DFORMAT targets;   // the render targets' format
    };
    const SCase cases[] = {
        {6, D3DFMT_R5G6B5, nullptr, nullptr, D3DFMT_R5G6B5},
        {5, D3DFMT_X8R8G8B8, nullptr, "MSG DX9: No convertion needed", D3DFMT_X8R8G8B8},
        {5, D3DFMT_A8R8G8B8, nullptr, "MSG DX9: No convertion needed", D3DFMT_A8R8G8B8},
        {5, D3DFMT_R5G6B5, nullptr, "MSG DX9: Convertion ENABLED", D3DFMT_X8R8G8B8},
        {5, D3DFMT_R5G6B5, "CheckDeviceFormatConversion", "WARN DX9: Cannot convert to 32 bit", D3DFMT_R5G6B5},
        {5, D3DFMT_R5G6B5, "CheckDeviceType", "WARN DX9: Back buffer cannot be in 32 bit", D3DFMT_R5G6B5},
    };
    for (const SCase& c : cases) {
        const size_t mark = m_log.Size();
        auto world = std::make_shared<SD3D9World>();
        world->dwOsMajor = c.os;
        world->displayFormat = c.desktop;
        if (c.failing && strcmp(c.failing, "CheckDeviceType") == 0)
            world->failures["CheckDeviceType"] = {D3D_OK, D3DERR_NOTAVAILABLE}; // the window check passes
        else if (c.failing)
            world->Fail(c.failing, D3DERR_NOTAVAILABLE);
        CDX9Display backEnd(CreateScriptedD3D9(world));
        EXPECT_EQ(backEnd.Validate(640, 480), 1) << c.line;
        Lines conversion;
        for (const std::string& l : m_log.Lines(mark)) {
            if (l.find("onvert") != std::string::npos || l.find("32 bit") != std::string::npos)
                conversion.push_back(l);
        }
        EXPECT_EQ(conversion, c.line ? Lines{c.line} : Lines{}) << c.os;
        if (c.os >= 6) {
            EXPECT_EQ(world->Count("CheckDeviceFormatConversion"), 0);
        }
        backEnd.InitDD(kWindow);
        backEnd.InitSurfaces(640, 480, 320, 240);
        const std::string target = "CreateRenderTarget(320,240," + std::to_string(c.targets) + ",1)";
        EXPECT_NE(std::find(world->calls.begin(), world->calls.end(), target), world->calls.end()) << target;
    }
}

TEST_F(DX9Display, EqualSizesUseTheVideoSurfaceUnderItsLockForTheText)
{
    Ready(640, 480);
    EXPECT_EQ(m_world->Count("CreateRenderTarget"), 1) << "no intermediate surface";
    EXPECT_TRUE(m_log.Contains("MSG DX9: Surfaces created Overlay(640 480) Video(640 480)"));
    const size_t before = m_world->calls.size();
    m_backEnd.PresentVideo();
    HDC dc = nullptr;
    m_backEnd.GetIntermediateDC(&dc);
    ASSERT_NE(dc, nullptr);
    EXPECT_FALSE(m_backEnd.LockFreeElsewhere()) << "the frame-rate text lands in the video surface, locked";
    m_backEnd.ReleaseIntermediateDC(dc);
    EXPECT_TRUE(m_backEnd.LockFreeElsewhere());
    EXPECT_EQ(m_world->Names(before), (Lines{"GetDC", "ReleaseDC"})) << "PresentVideo has nothing to move";

    // Different sizes: the stretch goes to the intermediate surface, whose DC takes no lock.
    m_backEnd.InitSurfaces(800, 600, 640, 480);
    EXPECT_EQ(m_world->Count("CreateRenderTarget"), 3);
    const size_t second = m_world->calls.size();
    m_backEnd.PresentVideo();
    m_backEnd.GetIntermediateDC(&dc);
    EXPECT_TRUE(m_backEnd.LockFreeElsewhere());
    m_backEnd.ReleaseIntermediateDC(dc);
    EXPECT_EQ(m_world->calls[second], "StretchRect(2)");
}

TEST_F(DX9Display, TheVideoDCHoldsTheLockOnEveryPath)
{
    HDC dc = reinterpret_cast<HDC>(0x1);
    m_backEnd.GetVideoDC(&dc);
    EXPECT_EQ(dc, nullptr);
    EXPECT_FALSE(m_backEnd.LockFreeElsewhere()) << "also without a surface";
    m_backEnd.ReleaseVideoDC(dc);
    EXPECT_TRUE(m_backEnd.LockFreeElsewhere());
    EXPECT_EQ(m_log.Lines(), (Lines{"ERROR DX9: GetVideoDC NULL surface", "ERROR DX9: ReleaseVideoDC NULL surface"}));

    Ready(320, 240);
    m_world->Fail("GetDC", D3DERR_INVALIDCALL);
    m_backEnd.GetVideoDC(&dc);
    EXPECT_EQ(dc, nullptr);
    EXPECT_FALSE(m_backEnd.LockFreeElsewhere()) << "also when the call fails";
    m_backEnd.ReleaseVideoDC(dc);
    EXPECT_TRUE(m_backEnd.LockFreeElsewhere());
    EXPECT_TRUE(m_log.Contains("ERROR DX9: [GetVideoDC->GetDC] Invalid call"));
}

TEST_F(DX9Display, TheKeyTexelAndTheClearedOverlayHoldTheColourRefBits)
{
    Ready(5, 3, 4, 2);
    ASSERT_EQ(m_world->textures.size(), 2u);
    const SD3D9Memory& overlay = *m_world->textures[0];
    const SD3D9Memory& key = *m_world->textures[1];
    auto overlayIs = [&](uint32_t value) {
        for (uint32_t y = 0; y < overlay.height; ++y) {
            for (uint32_t x = 0; x < overlay.width; ++x) {
                if (overlay.Texel(x, y) != value)
                    return false;
            }
            if (overlay.Texel(overlay.width, y) != 0xABABABABu) // the pitch's padding
                return false;
        }
        return true;
    };
    EXPECT_TRUE(overlayIs(0x00FF00FF));
    EXPECT_EQ(key.Texel(0, 0), 0x00FF00FFu);

    m_backEnd.SetTransparentColor(0x000000FF);
    EXPECT_EQ(m_backEnd.GetTransparentColor(), 0x000000FFu);
    EXPECT_EQ(key.Texel(0, 0), 0x000000FFu);
    EXPECT_TRUE(overlayIs(0x00FF00FF)) << "setting the colour does not clear";
    m_backEnd.ClearOverlay();
    EXPECT_TRUE(overlayIs(0x000000FF));

    // GDI drawing writes 0x00RRGGBB through the level's DC, which is given back.
    HDC dc = nullptr;
    m_backEnd.GetOverlayDC(&dc);
    ASSERT_NE(dc, nullptr);
    raster::SetPixel(dc, 1, 1, 0x000000FF);
    m_backEnd.ReleaseOverlayDC(dc);
    EXPECT_EQ(overlay.Texel(1, 1), 0x00FF0000u);
    EXPECT_EQ(m_world->calls.back(), "Release(level)");
    m_backEnd.ReleaseOverlayDC(dc);
    EXPECT_TRUE(m_log.Contains("ERROR DX9: ReleaseOverlayDC NULL surface"));

    m_world->Fail("LockRect", D3DERR_WASSTILLDRAWING);
    m_backEnd.SetTransparentColor(0x00123456);
    EXPECT_EQ(m_backEnd.GetErrorCode(), 16u);
    m_world->Fail("LockRect", D3DERR_WASSTILLDRAWING);
    m_backEnd.ClearOverlay();
    EXPECT_EQ(m_backEnd.GetErrorCode(), 11u);
    EXPECT_TRUE(m_log.Contains("ERROR DX9: [ClearOverlay->LockRect] Still drawing"));

    // The colour survives a resize; ReleaseAll brings magenta back.
    m_backEnd.InitSurfaces(6, 4, 4, 2);
    EXPECT_EQ(m_world->textures[3]->Texel(0, 0), 0x00123456u);
    m_backEnd.ReleaseAll();
    EXPECT_EQ(m_backEnd.GetTransparentColor(), 0x00FF00FFu);
    EXPECT_EQ(m_world->nLive, 0);
}

TEST_F(DX9Display, ShaderConstantsAndBlendingFollowTheAlphaOrder)
{
    Ready(320, 240);
    EXPECT_EQ(m_world->Count("CreatePixelShader"), 1);
    EXPECT_NE(std::find(m_world->calls.begin(), m_world->calls.end(), "CreatePixelShader(ps30)"), m_world->calls.end());
    const float normal[2][4] = {{0, 0, 0, 0}, {1, 1, 1, 1}};
    EXPECT_EQ(memcmp(m_world->aConstants, normal, sizeof normal), 0);
    EXPECT_EQ(m_world->renderStates[D3DRS_SRCBLEND], uint32_t{D3DBLEND_SRCALPHA});
    EXPECT_EQ(m_world->renderStates[D3DRS_DESTBLEND], uint32_t{D3DBLEND_INVSRCALPHA});
    EXPECT_EQ(m_world->renderStates[D3DRS_ALPHABLENDENABLE], 1u);
    EXPECT_EQ(m_world->dwLastBehavior, uint32_t{D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED});
    EXPECT_EQ(m_world->lastParameters.BackBufferFormat, D3DFMT_UNKNOWN);
    EXPECT_EQ(m_world->lastParameters.Windowed, 1);

    auto world = std::make_shared<SD3D9World>();
    world->caps.SrcBlendCaps = D3DPBLENDCAPS_INVSRCALPHA;
    world->caps.DestBlendCaps = D3DPBLENDCAPS_SRCALPHA;
    world->caps.PixelShaderVersion = D3DPS_VERSION(2, 0);
    CDX9Display inverted(CreateScriptedD3D9(world));
    ASSERT_EQ(inverted.Validate(640, 480), 1);
    inverted.InitDD(kWindow);
    inverted.InitSurfaces(320, 240, 640, 480);
    const float swapped[2][4] = {{0, 0, 0, 1}, {1, 1, 1, 0}};
    EXPECT_EQ(memcmp(world->aConstants, swapped, sizeof swapped), 0);
    EXPECT_EQ(world->renderStates[D3DRS_SRCBLEND], uint32_t{D3DBLEND_INVSRCALPHA});
    EXPECT_EQ(world->renderStates[D3DRS_DESTBLEND], uint32_t{D3DBLEND_SRCALPHA});
    EXPECT_NE(std::find(world->calls.begin(), world->calls.end(), "CreatePixelShader(ps20)"), world->calls.end());
}

TEST_F(DX9Display, CreationFailuresSetTheirCodesAndLeaveACleanState)
{
    struct SCase {
        const char* name;
        std::function<void(SD3D9World&)> script;
        uint32_t code;
        Lines errors; // in order, the first ones
    };
    const SCase cases[] = {
        {"device", [](SD3D9World& w) { w.failures["CreateDevice"] = {E_FAIL, D3DERR_INVALIDCALL}; }, 4,
         {"ERROR DX9: [CreateDevice->CreateDevice] Invalid call", "ERROR DX9: CreateSimpleSurface NULL device",
          "ERROR DX9: CreateVideoSurface NULL device", "ERROR DX9: CreatePixelShader NULL Device",
          "ERROR DX9: CreateIntermediateSurface NULL device", "ERROR DX9: Cannot create device"}},
        {"overlay texture", [](SD3D9World& w) { w.Fail("CreateTexture", E_OUTOFMEMORY); }, 8,
         {"ERROR DX9: [CreateSimpleSurface->CreateTexture(m_pDDTSimple)] Not enough memory to complet the call",
          "ERROR DX9: CreateVideoSurface NULL device", "ERROR DX9: CreatePixelShader NULL Device",
          "ERROR DX9: CreateIntermediateSurface NULL device", "ERROR DX9: Cannot create pixel shader"}},
        {"key texture", [](SD3D9World& w) { w.failures["CreateTexture"] = {D3D_OK, D3DERR_OUTOFVIDEOMEMORY}; }, 8,
         {"ERROR DX9: [CreateSimpleSurface->CreateTexture(m_pDDTColorKey)] Not enough display memory"}},
        {"vertex buffer", [](SD3D9World& w) { w.Fail("CreateVertexBuffer", E_FAIL); }, 8,
         {"ERROR DX9: [CreateSimpleSurface->CreateVertexBuffer] Unknow error"}},
        {"vertex lock", [](SD3D9World& w) { w.Fail("Lock", E_FAIL); }, 8, {"ERROR DX9: [CreateSimpleSurface->Lock] Unknow error"}},
        {"no shader code", [](SD3D9World& w) { w.aShaders[3] = false; }, 8,
         {"ERROR DX9: Cannot get pixel shader code 3", "ERROR DX9: CreateIntermediateSurface NULL device",
          "ERROR DX9: Cannot create pixel shader"}},
        {"shader", [](SD3D9World& w) { w.Fail("CreatePixelShader", E_FAIL); }, 8,
         {"ERROR DX9: [CreatePixelShader->CreatePixelShader] Unknow error",
          "ERROR DX9: CreateIntermediateSurface NULL device", "ERROR DX9: Cannot create pixel shader"}},
        {"shader set", [](SD3D9World& w) { w.Fail("SetPixelShader", E_FAIL); }, 8,
         {"ERROR DX9: [CreatePixelShader->SetPixelShader] Unknow error",
          "ERROR DX9: CreateIntermediateSurface NULL device", "ERROR DX9: Cannot create pixel shader"}},
        {"video surface", [](SD3D9World& w) { w.Fail("CreateRenderTarget", E_OUTOFMEMORY); }, 8,
         {"ERROR DX9: [CreateVideoSurface->CreateRenderTarget] Not enough memory to complet the call",
          "ERROR DX9: CreatePixelShader NULL Device"}},
        {"intermediate surface", [](SD3D9World& w) { w.failures["CreateRenderTarget"] = {D3D_OK, E_FAIL}; }, 7,
         {"ERROR DX9: [CreateVideoSurface->CreateIntermediateSurface] Unknow error",
          "ERROR DX9: Cannot create intermediate surface"}},
    };
    for (const SCase& c : cases) {
        const size_t mark = m_log.Size();
        auto world = std::make_shared<SD3D9World>();
        CDX9Display backEnd(CreateScriptedD3D9(world));
        ASSERT_EQ(backEnd.Validate(640, 480), 1);
        backEnd.InitDD(kWindow);
        c.script(*world);
        backEnd.InitSurfaces(800, 600, 640, 480);
        EXPECT_EQ(backEnd.GetErrorCode(), c.code) << c.name;
        Lines errors;
        for (const std::string& l : m_log.Lines(mark)) {
            if (l.rfind("ERROR", 0) == 0 && errors.size() < c.errors.size())
                errors.push_back(l);
        }
        EXPECT_EQ(errors, c.errors) << c.name;
        EXPECT_EQ(backEnd.IsValid(), 0) << c.name;
        // What failed released everything: a new start needs InitDD.
        backEnd.InitSurfaces(800, 600, 640, 480);
        EXPECT_TRUE(m_log.Contains("ERROR DX9: InitSurfaces NULL D3D object", mark)) << c.name;
        EXPECT_EQ(world->nLive, 0) << c.name;
    }

    // A hardware device refused, a software one taken; failing render states do not stop it.
    m_world->Fail("CreateDevice", E_FAIL);
    m_world->Fail("SetRenderState", 0x88760821);
    Ready(320, 240);
    EXPECT_EQ(m_world->dwLastBehavior, uint32_t{D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED});
    EXPECT_TRUE(m_log.Contains("WARN DX9: Cannot create hardware vertex processing device! Try Software."));
    EXPECT_TRUE(m_log.Contains("ERROR DX9: [CreateDevice->SetRenderState(D3DRS_CULLMODE)] Conflicting render state "));
    EXPECT_TRUE(m_log.Contains("MSG DX9: Surfaces created Overlay(320 240) Video(640 480)"));
    EXPECT_EQ(m_backEnd.IsValid(), 1);
    m_backEnd.InitSurfaces(0, 240, 640, 480);
    EXPECT_EQ(m_backEnd.GetErrorCode(), 10u);
    EXPECT_TRUE(m_log.Contains("ERROR DX9: Invalid surface size"));
}

TEST_F(DX9Display, PresentDrawsTheQuadOverTheStretchedPicture)
{
    m_backEnd.Present(1);
    EXPECT_EQ(m_log.Lines(), (Lines{"ERROR DX9: Present NULL surface"}));
    Ready(800, 600);
    size_t from = m_world->calls.size();
    m_backEnd.Present(1);
    EXPECT_EQ(m_world->Names(from), (Lines{"BeginScene", "GetBackBuffer", "StretchRect", "Release", "SetTexture",
                                           "SetTexture", "SetStreamSource", "SetFVF", "DrawPrimitive", "EndScene",
                                           "Present"}));
    EXPECT_EQ(m_world->calls[from + 6], "SetStreamSource(0,0,24)");
    EXPECT_EQ(m_world->calls[from + 7], "SetFVF(260)");
    EXPECT_EQ(m_world->calls[from + 8], "DrawPrimitive(5,0,2)");
    from = m_world->calls.size();
    m_backEnd.Present(0);
    EXPECT_EQ(m_world->Names(from), (Lines{"BeginScene", "GetBackBuffer", "StretchRect", "Release", "EndScene", "Present"}));

    struct SCase {
        const char* failing;
        int nth;
        uint32_t code;
        const char* line;
    };
    const SCase cases[] = {
        {"GetBackBuffer", 1, 12, "ERROR DX9: [Present->GetBackBuffer] Invalid call"},
        {"SetTexture", 1, 13, "ERROR DX9: [Present->SetTexture(0)] Invalid call"},
        {"SetTexture", 2, 14, "ERROR DX9: [Present->SetTexture(1)] Invalid call"},
        {"SetStreamSource", 1, 14, "ERROR DX9: [Present->SetStreamSource] Invalid call"},
        {"SetFVF", 1, 14, "ERROR DX9: [Present->SetFVF] Invalid call"},
        {"DrawPrimitive", 1, 15, "ERROR DX9: [Present->DrawPrimitive] Invalid call"},
    };
    for (const SCase& c : cases) {
        for (int i = 1; i < c.nth; ++i)
            m_world->Fail(c.failing, D3D_OK);
        m_world->Fail(c.failing, D3DERR_INVALIDCALL);
        from = m_world->calls.size();
        m_backEnd.Present(1);
        EXPECT_EQ(m_backEnd.GetErrorCode(), c.code) << c.line;
        EXPECT_TRUE(m_log.Contains(c.line)) << c.line;
        const Lines names = m_world->Names(from);
        EXPECT_EQ(names.back(), "Present") << "the scene still ends: " << c.line;
        // A failing step ends the overlay's steps; a missing back buffer only skips the picture.
        EXPECT_EQ(std::count(names.begin(), names.end(), "DrawPrimitive"), c.code == 13 || c.code == 14 ? 0 : 1)
            << c.line;
    }
    m_world->Fail("BeginScene", D3DERR_INVALIDCALL);
    from = m_world->calls.size();
    m_backEnd.Present(1);
    EXPECT_EQ(m_world->Names(from), (Lines{"BeginScene"}));
}

TEST_F(DX9Display, ALostDeviceWaitsThenIsRebuiltOnce)
{
    EXPECT_EQ(m_backEnd.IsValid(), 0);
    EXPECT_TRUE(m_log.Contains("ERROR DX9: Validate NULL pointer"));
    Ready(800, 600);
    EXPECT_EQ(m_backEnd.IsValid(), 1);
    const size_t lines = m_log.Lines().size();
    m_world->cooperative = {D3DERR_DEVICELOST, D3DERR_DEVICELOST};
    EXPECT_EQ(m_backEnd.IsValid(), 0);
    EXPECT_EQ(m_backEnd.IsValid(), 0);
    EXPECT_EQ(m_log.Lines().size(), lines) << "a lost device is waited for silently";

    m_world->cooperative = {D3DERR_DEVICENOTRESET};
    const size_t textures = m_world->textures.size();
    EXPECT_EQ(m_backEnd.IsValid(), 10);
    EXPECT_EQ(m_world->Count("Reset"), 1);
    EXPECT_EQ(m_world->textures.size(), textures + 2) << "the overlay and the key made again";
    EXPECT_EQ(m_world->textures.back()->Texel(0, 0), 0x00FF00FFu);
    EXPECT_EQ(m_log.Lines().back(), "WARN DX9: Need to redraw overlay");
    EXPECT_EQ(m_backEnd.IsValid(), 1);

    // Composition switched off on a 32-bit desktop: a 16-bit back buffer, and again 10 once.
    m_world->bComposition = false;
    EXPECT_EQ(m_backEnd.IsValid(), 10);
    EXPECT_EQ(m_world->lastParameters.BackBufferFormat, D3DFMT_R5G6B5);
    EXPECT_EQ(m_backEnd.IsValid(), 1);

    m_world->cooperative = {D3DERR_DEVICENOTRESET};
    m_world->Fail("Reset", D3DERR_INVALIDCALL);
    EXPECT_EQ(m_backEnd.IsValid(), 0);
    EXPECT_TRUE(m_log.Contains("ERROR DX9: [Validate->Reset] Invalid call"));
    m_world->cooperative = {E_FAIL};
    EXPECT_EQ(m_backEnd.IsValid(), 0);
    EXPECT_TRUE(m_log.Contains("ERROR DX9: [Validate->TestCooperativeLevel] Unknow error"));
    m_world->cooperative = {0x12345678 | 0x80000000};
    m_backEnd.IsValid();
    EXPECT_EQ(m_log.Lines().back(), "ERROR DX9: [Validate->TestCooperativeLevel] Invalid error code");
}
