// The choice of a back-end: the order of the candidates, what is logged, and the stub.
#include <gtest/gtest.h>

#include "../log/LogTestUtil.h"
#include "TestDisplay.h"
#include "display/DX10Display.h"
#include "log/PellixLogger.h"
#include "log/XmlLogger.h"
#include "platform/Thread.h"

using namespace display;
using namespace displaytest;

namespace {

// The process log on a temporary file for one test; its section-4 texts in order.
class GraphicLog {
public:
    GraphicLog() { PXInitLogger(m_file.CPath()); }
    ~GraphicLog() { DestroyXmlLogger(); }
    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        for (const LogRecord& r : ParseRecords(m_file.Read())) {
            EXPECT_EQ(r.section, "Graphic");
            EXPECT_EQ(r.type, "MSG");
            lines.push_back(r.data);
        }
        return lines;
    }

private:
    TempLogFile m_file;
};

using Lines = std::vector<std::string>;

HWND const kWindow = reinterpret_cast<HWND>(0x1234);

} // namespace

TEST(DisplaySelection, BuiltInBackEndsEndInGdi)
{
    // The Direct3D 10 stub's probe always fails. (The other built-in back-ends have their own
    // tests: what they answer depends on the machine's GL.)
    {
        GraphicLog log;
        int32_t selector = DISPLAY_DX10;
        EXPECT_EQ(GetDXInstance(640, 480, &selector, kWindow), nullptr);
        EXPECT_EQ(selector, DISPLAY_GDI);
        EXPECT_EQ(log.Lines(), (Lines{"GetDXInstance", "DX10: Not implemented", "Using GDI"}));
    }
    for (int32_t requested : {0, 2, -1}) {
        GraphicLog log;
        int32_t selector = requested;
        EXPECT_EQ(GetDXInstance(640, 480, &selector, kWindow), nullptr);
        EXPECT_EQ(selector, DISPLAY_GDI);
        EXPECT_EQ(log.Lines(), (Lines{"GetDXInstance", "Using GDI"})) << requested;
    }
    EXPECT_TRUE(IsCompositionEnabled());
}

TEST(DisplaySelection, CandidatesInOrderUntilOneProbesExactlyOne)
{
    CCallJournal journal;
    CDisplayRegistry registry;
    STestDisplayScript fails, recreated, works;
    fails.nValidate = 0;
    recreated.nValidate = 10; // anything but exactly 1 is a failed probe
    ASSERT_TRUE(registry.SetFactory(DISPLAY_DX10, TestFactory("dx10", &journal, fails)));
    ASSERT_TRUE(registry.SetFactory(DISPLAY_DX9, TestFactory("dx9", &journal, recreated)));
    ASSERT_TRUE(registry.SetFactory(DISPLAY_DX7, TestFactory("dx7", &journal, works)));
    EXPECT_FALSE(registry.SetFactory(8, TestFactory("dx8", &journal, works)));

    GraphicLog log;
    int32_t selector = DISPLAY_AUTO;
    CDXDisplay* chosen = GetDXInstance(1280, 1024, &selector, kWindow, registry);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(selector, DISPLAY_DX7);
    EXPECT_EQ(static_cast<CTestDisplay*>(chosen)->Window(), kWindow);
    EXPECT_EQ(journal.Calls(), (Lines{"dx10.constructed", "dx10.Validate(1280,1024)", "dx10.ReleaseAll",
                                      "dx10.destroyed", "dx9.constructed", "dx9.Validate(1280,1024)",
                                      "dx9.ReleaseAll", "dx9.destroyed", "dx7.constructed",
                                      "dx7.Validate(1280,1024)"}));
    EXPECT_EQ(log.Lines(), (Lines{"GetDXInstance", "Using DirectX 7"}));
    delete chosen;
}

TEST(DisplaySelection, ASingleKindTriesOnlyThatOne)
{
    CCallJournal journal;
    CDisplayRegistry registry;
    STestDisplayScript works;
    registry.SetFactory(DISPLAY_DX9, TestFactory("dx9", &journal, works));
    registry.SetFactory(DISPLAY_DX7, TestFactory("dx7", &journal, works));

    GraphicLog log;
    int32_t selector = DISPLAY_DX7;
    CDXDisplay* chosen = GetDXInstance(64, 48, &selector, kWindow, registry);
    EXPECT_EQ(selector, DISPLAY_DX7);
    EXPECT_EQ(journal.Calls(), (Lines{"dx7.constructed", "dx7.Validate(64,48)"}));
    delete chosen;

    // Automatic: the stub of the registry's defaults fails, Direct3D 9 is taken, DirectDraw never
    // made.
    selector = DISPLAY_AUTO;
    chosen = GetDXInstance(64, 48, &selector, kWindow, registry);
    EXPECT_EQ(selector, DISPLAY_DX9);
    EXPECT_EQ(log.Lines(), (Lines{"GetDXInstance", "Using DirectX 7", "GetDXInstance", "DX10: Not implemented",
                                  "Using DirectX 9"}));
    delete chosen;

    // A factory that cannot make its back-end is passed over.
    registry.SetFactory(DISPLAY_DX9, [](HWND) -> CDXDisplay* { return nullptr; });
    selector = DISPLAY_DX9;
    EXPECT_EQ(GetDXInstance(64, 48, &selector, kWindow, registry), nullptr);
    EXPECT_EQ(selector, DISPLAY_GDI);
}

TEST(DisplaySelection, TheDirect3D10StubDoesNothingAndFailsItsProbe)
{
    GraphicLog log;
    CDX10Display stub;
    EXPECT_EQ(stub.GetErrorCode(), 3u);
    EXPECT_EQ(stub.CanStretch(), 1);
    EXPECT_EQ(stub.GetTransparentColor(), 0u);
    stub.SetTransparentColor(0x00FF00FF);
    EXPECT_EQ(stub.GetTransparentColor(), 0u);
    EXPECT_EQ(stub.IsValid(), 0);
    EXPECT_EQ(stub.Validate(640, 480), 0);
    HDC untouched = reinterpret_cast<HDC>(0x42);
    stub.GetVideoDC(&untouched);
    stub.GetIntermediateDC(&untouched);
    stub.GetOverlayDC(&untouched);
    EXPECT_EQ(untouched, reinterpret_cast<HDC>(0x42));
    EXPECT_EQ(log.Lines(), (Lines{"DX10: Not implemented", "DX10: Not implemented"}));

    // The process registry holds the stub and the two real back-ends.
    EXPECT_TRUE(CDisplayRegistry::Process().Factory(DISPLAY_DX10));
    EXPECT_TRUE(CDisplayRegistry::Process().Factory(DISPLAY_DX9));
    EXPECT_TRUE(CDisplayRegistry::Process().Factory(DISPLAY_DX7));
}

TEST(DisplaySelection, TheTestBackEndHoldsItsLockBetweenPairsAndNotesBreaches)
{
    // The checks later tests of the viewer rely on: a caller that breaks the pairing is seen.
    CCallJournal journal;
    auto* backEnd = new CTestDisplay("test", &journal, STestDisplayScript{}, kWindow);
    backEnd->InitSurfaces(8, 6, 4, 3);
    auto lockFreeElsewhere = [&] {
        bool free = false;
        px::Thread other;
        EXPECT_EQ(other.Start("px-lock-probe", [&] { free = backEnd->LockFree(); }), 0);
        other.Join();
        return free;
    };
    HDC video = nullptr;
    backEnd->GetVideoDC(&video);
    EXPECT_NE(video, nullptr);
    EXPECT_FALSE(lockFreeElsewhere());
    backEnd->ReleaseVideoDC(video);
    EXPECT_TRUE(lockFreeElsewhere());
    EXPECT_TRUE(backEnd->Violations().empty());

    backEnd->ReleaseIntermediateDC(nullptr);
    EXPECT_TRUE(lockFreeElsewhere()) << "a stray release leaves the lock alone";
    HDC overlay = nullptr;
    backEnd->GetOverlayDC(&overlay);
    backEnd->GetOverlayDC(&overlay);
    backEnd->ReleaseOverlayDC(video);
    backEnd->GetOverlayDC(&overlay);
    EXPECT_EQ(backEnd->Violations(), (Lines{"ReleaseIntermediateDC without a get", "GetOverlayDC while its DC is out",
                                            "ReleaseOverlayDC of another DC"}));
    delete backEnd; // with the overlay DC still out
    const Lines calls = journal.Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], "test.Breach(destroyed with a DC out)");
    EXPECT_EQ(calls.back(), "test.destroyed");
}
