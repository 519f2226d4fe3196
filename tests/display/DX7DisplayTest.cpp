// The DirectDraw back-end's logic against the scripted layer: the probe with its memory check and
// self-test, the module's life, the surfaces, their descriptions and their order, colour matching
// on 32- and 16-bit desktops, presentation order, loss and recreation.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "BackEndTestUtil.h"
#include "ScriptedDDraw.h"
#include "display/DX7Display.h"

using namespace display;
using namespace display::ddraw;
using namespace displaytest;

namespace {

using Lines = std::vector<std::string>;

HWND const kWindow = reinterpret_cast<HWND>(0x9ABC);

class DX7Display : public testing::Test {
protected:
    void Ready(int32_t width = 320, int32_t height = 240)
    {
        ASSERT_EQ(m_backEnd.Validate(640, 480), 1);
        m_backEnd.InitDD(kWindow);
        m_backEnd.InitSurfaces(width, height, 640, 480);
    }
    // The probe of a fresh back-end over a world the script prepares; its result.
    int32_t Probe(const std::function<void(SDDrawWorld&)>& script, uint32_t* code, size_t* mark,
                  std::shared_ptr<SDDrawWorld>* world = nullptr)
    {
        auto w = std::make_shared<SDDrawWorld>();
        script(*w);
        *mark = m_log.Size();
        CDX7Display backEnd(kWindow, CreateScriptedDDraw(w));
        const int32_t result = backEnd.Validate(640, 480);
        *code = backEnd.GetErrorCode();
        EXPECT_EQ(w->nModules, 0) << "no module stays loaded by the probe";
        EXPECT_EQ(w->nLive, 0) << "the probe releases what it made";
        if (world)
            *world = w;
        return result;
    }

    CGraphicLog m_log;
    std::shared_ptr<SDDrawWorld> m_world = std::make_shared<SDDrawWorld>();
    CDX7Display m_backEnd{kWindow, CreateScriptedDDraw(m_world)};
};

} // namespace

TEST_F(DX7Display, ProbeDecidesOnWindowedRenderingAndMemoryOnly)
{
    struct SCase {
        const char* name;
        std::function<void(SDDrawWorld&)> script;
        int32_t result;
        uint32_t code;
        Lines lines;
    };
    const SCase cases[] = {
        {"a good driver", [](SDDrawWorld&) {}, 1, 0, {}},
        {"no hardware", [](SDDrawWorld& w) { w.caps.dwCaps |= DDCAPS_NOHARDWARE; }, 1, 3,
         {"WARN DX7: No hardware acceleration"}},
        {"no colour key anywhere",
         [](SDDrawWorld& w) {
             w.caps.dwCKeyCaps = 0;
             w.dwFreeLocal = 0; // the self-test decides, and its keyed copy works
         },
         1, 6, {"ERROR DX7: No color keying"}},
        {"keyed blits from system memory only",
         [](SDDrawWorld& w) {
             w.caps.dwCKeyCaps = 0;
             w.caps.dwSVBCaps = DDCAPS_BLT | DDCAPS_COLORKEY;
             w.caps.dwSVBCKeyCaps = DDCKEYCAPS_SRCBLT;
         },
         0, 5, {"WARN DX7: Not enough memory"}},
        {"not windowed, plenty of memory", [](SDDrawWorld& w) { w.caps.dwCaps2 = 0; }, 0, 4,
         {"ERROR DX7: Cannot display in window mode"}},
        {"no module", [](SDDrawWorld& w) { w.bLoadModule = false; }, 0, 11, {"ERROR DX7: No driver"}},
        {"no create function", [](SDDrawWorld& w) { w.bFindCreate = false; }, 0, 12,
         {"ERROR DX7: No create function"}},
        {"no object",
         [](SDDrawWorld& w) {
             w.bCreate = false;
             w.createResult = 0x88760168;
         },
         0, 13, {"ERROR DX7: [Validate->DirectDrawCreate] Hardware not available"}},
        {"no seventh interface", [](SDDrawWorld& w) { w.Fail("QueryDirectDraw7", 0x80004002); }, 0, 5,
         {"ERROR DX7: Error on m_pDD->QueryInterface(IID_IDirectDraw7, (LPVOID*)&lpDD)", "WARN DX7: Not enough memory"}},
    };
    for (const SCase& c : cases) {
        uint32_t code = 0;
        size_t mark = 0;
        EXPECT_EQ(Probe(c.script, &code, &mark), c.result) << c.name;
        EXPECT_EQ(code, c.code) << c.name;
        Lines lines = m_log.Lines(mark);
        // The self-test's surface descriptions are not the probe's verdict.
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [](const std::string& l) { return l.find("No error") != std::string::npos; }),
                    lines.end());
        EXPECT_EQ(lines, c.lines) << c.name;
    }
}

TEST_F(DX7Display, MemoryCheckAsksForThreeFramesAndFallsBackToTheSelfTest)
{
    // 640 x 480 at 32 bits needs 1228800 bytes; more than three times that passes at once.
    uint32_t code = 0;
    size_t mark = 0;
    std::shared_ptr<SDDrawWorld> world;
    EXPECT_EQ(Probe([](SDDrawWorld& w) { w.dwFreeLocal = 3686401; }, &code, &mark, &world), 1);
    EXPECT_EQ(world->Count("CreateSurface"), 0);
    EXPECT_EQ(world->Count("GetAvailableVidMem"), 2) << "local, and non-local asked and not used";

    EXPECT_EQ(Probe([](SDDrawWorld& w) { w.dwFreeLocal = 3686400; }, &code, &mark, &world), 1);
    EXPECT_EQ(world->Count("CreateSurface"), 4) << "the self-test made the four surfaces";
    const Lines selfTest = world->Since(std::find(world->calls.begin(), world->calls.end(), "SetCooperativeLevel(8)") -
                                       world->calls.begin());
    auto has = [&](const std::string& call) { return std::find(selfTest.begin(), selfTest.end(), call) != selfTest.end(); };
    EXPECT_TRUE(has("Blt(back<-video,0 0 640 480,0 0 640 480)"));
    EXPECT_TRUE(has("Blt(primary<-back,0 0 640 480,0 0 640 480)"));
    EXPECT_TRUE(has("Blt(simple<-fill)"));
    EXPECT_TRUE(has("Blt(back<-simple,key)"));

    // Without the memory query the capability record's free memory counts; a failing self-test
    // reports both numbers.
    EXPECT_EQ(Probe(
                  [](SDDrawWorld& w) {
                      w.bVidMemQuery = false;
                      w.caps.dwVidMemFree = 5000000;
                  },
                  &code, &mark),
              1);
    EXPECT_EQ(Probe(
                  [](SDDrawWorld& w) {
                      w.dwFreeLocal = 1000;
                      for (int i = 0; i < 10; ++i)
                          w.Fail("Blt", 0x8876017C);
                  },
                  &code, &mark),
              0);
    EXPECT_EQ(code, 5u);
    EXPECT_TRUE(m_log.Contains("ERROR DX7: Not enough video memory Available:1000 Needed:3686400", mark));
}

TEST_F(DX7Display, SurfacesAreMadeInOrderAndDescribed)
{
    m_world->caps.dwCaps |= DDCAPS_NOHARDWARE;
    Ready();
    EXPECT_EQ(m_backEnd.GetErrorCode(), 3u);
    EXPECT_EQ(m_backEnd.CanStretch(), 0);
    Lines creations;
    for (const std::string& call : m_world->calls) {
        if (call.rfind("CreateSurface", 0) == 0 || call.rfind("CreateClipper", 0) == 0 || call.rfind("SetHWnd", 0) == 0 ||
            call.rfind("SetClipper", 0) == 0)
            creations.push_back(call);
    }
    EXPECT_EQ(creations, (Lines{"CreateSurface(primary,512)", "CreateClipper()", "SetHWnd()", "SetClipper(primary,clipper)",
                                "CreateSurface(back,268451904)", "CreateSurface(simple,16448)", "CreateSurface(video,16448)"}));
    EXPECT_EQ(m_log.Lines(), (Lines{"WARN DX7: No hardware acceleration",
                                    "MSG DX7: [CreatePrimarySurface->m_pDDSPrimary[32 bits(320,240) ]-] No error",
                                    "MSG DX7: [CreateBackSurface->m_pDDSBack[32 bits(320,240) Video]-] No error",
                                    "MSG DX7: [CreateSimpleSurface->m_pDDSSimple[32 bits(320,240) ]-] No error",
                                    "MSG DX7: [CreateVideoSurface->m_pDDSVideo[32 bits(320,240) ]-] No error",
                                    "MSG DX7: Surfaces created Overlay(320 240) Video(640 480)"}));
    EXPECT_EQ(m_backEnd.IsValid(), 1);

    // The second capability set when the first is refused; a refused primary stops the rest.
    m_world->Fail("CreateSurface", DD_OK);
    m_world->Fail("CreateSurface", 0x8876017C);
    size_t mark = m_log.Size();
    m_backEnd.InitSurfaces(320, 240, 640, 480);
    EXPECT_TRUE(m_log.Contains("ERROR DX7: [CreateBackSurface->CreateSurface] Not enough video memory", mark));
    EXPECT_TRUE(m_log.Contains("MSG DX7: [CreateBackSurface->m_pDDSBack[32 bits(320,240) System]-] No error", mark));
    m_world->Fail("CreateSurface", 0x80070057);
    mark = m_log.Size();
    m_backEnd.InitSurfaces(320, 240, 640, 480);
    EXPECT_EQ(m_backEnd.GetErrorCode(), 7u);
    EXPECT_TRUE(m_log.Contains("ERROR DX7: CreateBackSurface NULL surface", mark));
    EXPECT_EQ(m_log.Lines().back(), "ERROR DX7: Cannot Create Primary surface Overlay(320 240) Video(640 480)");
    EXPECT_EQ(m_backEnd.IsValid(), 0);
    EXPECT_EQ(m_backEnd.GetErrorCode(), 1u);
    EXPECT_EQ(m_log.Lines().back(), "ERROR DX7: Validate NULL surface");

    m_backEnd.InitSurfaces(320, 0, 640, 480);
    EXPECT_EQ(m_backEnd.GetErrorCode(), 14u);
    EXPECT_EQ(m_log.Lines().back(), "ERROR DX7: Invalid surface size Overlay(320 0) Video(640 480)");
    m_backEnd.ReleaseAll();
    EXPECT_EQ(m_world->nLive, 0);
    EXPECT_EQ(m_world->nModules, 0);
}

TEST_F(DX7Display, TransparentColourIsMatchedThroughTheSurface)
{
    EXPECT_EQ(m_backEnd.GetTransparentColor(), 0u);
    Ready();
    EXPECT_EQ(m_backEnd.GetTransparentColor(), 0x00FF00FFu);
    EXPECT_EQ(m_world->colorKeys["simple"], 0x00FF00FFu) << "GDI's magenta as the 32-bit surface holds it";
    m_backEnd.SetTransparentColor(0x000000FF);
    EXPECT_EQ(m_world->colorKeys["simple"], 0x00FF0000u) << "GDI's red";

    // The overlay is cleared to the key; pixel (0, 0), borrowed for the match, is put back.
    HDC dc = nullptr;
    m_backEnd.GetOverlayDC(&dc);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(raster::GetPixel(dc, 0, 0), 0x000000FFu);
    EXPECT_EQ(raster::GetPixel(dc, 319, 239), 0x000000FFu);
    raster::SetPixel(dc, 0, 0, 0x00123456);
    m_backEnd.ReleaseOverlayDC(dc);
    m_world->Fail("Lock", 0x8876021C);
    m_world->Fail("Lock", 0x8876021C);
    m_backEnd.SetTransparentColor(0x0000FF00);
    EXPECT_EQ(m_world->colorKeys["simple"], 0x0000FF00u) << "still drawing is waited out";
    m_backEnd.GetOverlayDC(&dc);
    EXPECT_EQ(raster::GetPixel(dc, 5, 5), 0x0000FF00u);
    m_backEnd.ReleaseOverlayDC(dc);

    // The colour set before a resize is lost at the resize: the overlay comes back magenta.
    m_backEnd.InitSurfaces(400, 300, 640, 480);
    EXPECT_EQ(m_backEnd.GetTransparentColor(), 0x00FF00FFu);
    EXPECT_EQ(m_world->colorKeys["simple"], 0x00FF00FFu);

    m_world->Fail("Lock", 0x887601B3);
    m_backEnd.SetTransparentColor(0x00FF0000);
    EXPECT_EQ(m_world->colorKeys["simple"], 0xFFFFFFFFu) << "a surface that cannot be locked matches nothing";
}

TEST_F(DX7Display, ASixteenBitDesktopKeepsTheLowSixteenBits)
{
    m_world->dwBitCount = 16;
    Ready();
    // Magenta in 5-5-5 is 0x7C1F; the word read also holds pixel (1, 0) in its high half.
    EXPECT_EQ(m_world->colorKeys["simple"], 0x7C1Fu);
    m_backEnd.SetTransparentColor(0x0000FF00);
    EXPECT_EQ(m_world->colorKeys["simple"], 0x03E0u);
    EXPECT_TRUE(m_log.Contains("MSG DX7: [CreateVideoSurface->m_pDDSVideo[16 bits(320,240) ]-] No error"));
}

TEST_F(DX7Display, PresentComposesBackThenPrimaryAtTheWindowRectangle)
{
    Ready();
    size_t from = m_world->calls.size();
    m_backEnd.Present(1);
    Lines blits;
    for (const std::string& call : m_world->Since(from)) {
        if (call.rfind("Blt", 0) == 0 || call.rfind("WaitForVerticalBlank", 0) == 0)
            blits.push_back(call);
    }
    EXPECT_EQ(blits, (Lines{"WaitForVerticalBlank(1)", "Blt(back<-video)", "Blt(back<-simple,key)",
                            "Blt(primary<-back,100 50 420 290,0 0 320 240)"}));
    from = m_world->calls.size();
    m_backEnd.Present(0);
    blits.clear();
    for (const std::string& call : m_world->Since(from)) {
        if (call.rfind("Blt", 0) == 0)
            blits.push_back(call);
    }
    EXPECT_EQ(blits, (Lines{"Blt(primary<-video,100 50 420 290,0 0 320 240)"}));

    m_world->Fail("Blt", 0x887601C2);
    const int before = m_world->Count("Blt");
    m_backEnd.Present(1);
    EXPECT_TRUE(m_log.Contains("ERROR DX7: [Present->m_pDDSInterm->m_pDDSBack] Surface lost"));
    EXPECT_EQ(m_world->Count("Blt"), before + 3) << "the other copies still run";
    m_world->Fail("Blt", 0x887601AE);
    m_backEnd.Present(0);
    EXPECT_TRUE(m_log.Contains("ERROR DX7: [Present->m_pDDSInterm->m_pDDSPrimary] Busy surface"));

    // Video and frame-rate text share the video surface's DC; no lock is involved.
    HDC video = nullptr, text = nullptr;
    m_backEnd.GetVideoDC(&video);
    m_backEnd.ReleaseVideoDC(video);
    m_backEnd.GetIntermediateDC(&text);
    EXPECT_EQ(video, text);
    m_backEnd.ReleaseIntermediateDC(text);
    EXPECT_EQ(m_world->Count("GetDC"), m_world->Count("ReleaseDC"));
}

TEST_F(DX7Display, LostSurfacesAreRecreatedOnceWithMagenta)
{
    HDC dc = reinterpret_cast<HDC>(0x1);
    m_backEnd.GetVideoDC(&dc);
    EXPECT_EQ(dc, nullptr);
    m_backEnd.Present(1);
    EXPECT_EQ(m_log.Lines(), (Lines{"ERROR DX7: GetVideoDC NULL surface", "ERROR DX7: Validate NULL surface"}));

    Ready();
    m_backEnd.SetTransparentColor(0x0000FF00);
    const int surfaces = m_world->Count("CreateSurface");
    m_world->LoseSurfaces();
    const size_t from = m_world->calls.size();
    m_backEnd.Present(1);
    const Lines calls = m_world->Since(from);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Blt(back<-video)"), 0) << "a recreation skips this presentation";
    EXPECT_EQ(m_world->Count("CreateSurface"), surfaces + 4);
    EXPECT_EQ(m_log.Lines().back(), "WARN DX7: Need to redraw");
    Lines asked;
    for (const std::string& call : m_world->Since(from)) {
        if (call.rfind("IsLost", 0) == 0)
            asked.push_back(call);
    }
    EXPECT_EQ(asked, (Lines{"IsLost(video)", "IsLost(simple)", "IsLost(primary)", "IsLost(back)"}));
    EXPECT_EQ(m_backEnd.GetTransparentColor(), 0x00FF00FFu) << "the new overlay is magenta again";
    EXPECT_EQ(m_backEnd.IsValid(), 1);

    m_world->LoseSurfaces();
    m_world->Fail("CreateSurface", DD_OK);
    m_world->Fail("CreateSurface", DD_OK);
    m_world->Fail("CreateSurface", DD_OK);
    m_world->Fail("CreateSurface", 0x8876017C);
    m_world->Fail("CreateSurface", 0x8876017C);
    EXPECT_EQ(m_backEnd.IsValid(), 0);
    EXPECT_EQ(m_backEnd.GetErrorCode(), 9u);
    EXPECT_EQ(m_log.Lines().back(), "ERROR DX7: Cannot Create Video surface");
}

TEST_F(DX7Display, InitDDAndReleaseAllKeepTheModuleBalanced)
{
    Ready();
    EXPECT_EQ(m_world->nModules, 1);
    EXPECT_EQ(m_world->Count("SetCooperativeLevel"), 1);
    m_backEnd.InitDD(kWindow);
    EXPECT_EQ(m_world->nModules, 1) << "a second InitDD loads nothing more";
    m_backEnd.ReleaseAll();
    EXPECT_EQ(m_world->nModules, 0);
    EXPECT_EQ(m_world->nLive, 0);
    EXPECT_EQ(m_backEnd.GetTransparentColor(), 0u);

    auto world = std::make_shared<SDDrawWorld>();
    world->bFindCreate = false;
    CDX7Display backEnd(kWindow, CreateScriptedDDraw(world));
    backEnd.InitDD(kWindow);
    EXPECT_EQ(backEnd.GetErrorCode(), 12u);
    EXPECT_EQ(m_log.Lines().back(), "ERROR DX7: No create fonction");
    world->bFindCreate = true;
    world->bCreate = false;
    world->createResult = 0x80004005;
    backEnd.InitDD(kWindow);
    EXPECT_EQ(backEnd.GetErrorCode(), 13u);
    EXPECT_EQ(m_log.Lines().back(), "ERROR DX7: [InitDD->DirectDrawCreate] Unknow error");
    world->bCreate = true;
    world->Fail("SetCooperativeLevel", 0x88760245);
    backEnd.InitDD(kWindow);
    EXPECT_EQ(m_log.Lines().back(), "ERROR DX7: [InitDD->SetCooperativeLevel] Exclusive mode already set");
    world->bLoadModule = false;
    backEnd.ReleaseAll();
    backEnd.InitDD(kWindow);
    EXPECT_EQ(backEnd.GetErrorCode(), 11u);
    EXPECT_EQ(m_log.Lines().back(), "ERROR DX7: No DX7 driver");
}
