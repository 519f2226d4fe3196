// The tools' configuration layer (the in-process simulator's ports and pellix-view's display laid
// over the user's file) and pellix-view's overlay script.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Config.h"
#include "platform/File.h"
#include "tests/platform/Scratch.h"
#include "tools/OverlayScript.h"
#include "tools/ToolSupport.h"

namespace {

using pxtool::CConfigLayer;
using pxtool::OverlayCall;

std::string ConfigInForce()
{
    const char* v = std::getenv("VISTEL_CONFIG");
    return v != nullptr ? v : "(unset)";
}

bool Exists(const std::string& path)
{
    px::FolderEntry e;
    return px::FileAttributes(path.c_str(), &e) == 0;
}

// VISTEL_CONFIG naming a user's file in a scratch folder for the test's life.
class ConfigLayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_user = m_scratch.Path() + "/vistel.conf";
        // No newline at the end: the layer's first line must not join the user's last one.
        m_scratch.Write("vistel.conf", "UseDDraw=7\nAllowSoftwareGL=1\nPublishPort=5000");
        setenv("VISTEL_CONFIG", m_user.c_str(), 1);
    }
    void TearDown() override { unsetenv("VISTEL_CONFIG"); }
    platformtest::CScratch m_scratch;
    std::string m_user;
};

TEST_F(ConfigLayerTest, ToolLinesWinTheUsersOtherValuesHoldAndLayersStackAndUnwind)
{
    std::string error, pathA, pathB;
    {
        CConfigLayer a;
        ASSERT_TRUE(a.Put("PublishPort=6000\n", &error)) << error;
        pathA = a.Path();
        EXPECT_EQ(ConfigInForce(), pathA);
        EXPECT_EQ(px::ConfigGetNumber("PublishPort", 0), 6000u);
        EXPECT_EQ(px::ConfigGetNumber("UseDDraw", 1), 7u);
        EXPECT_EQ(px::ConfigGetNumber("AllowSoftwareGL", 0), 1u);
        // A second Put replaces the first's lines over the same user text.
        ASSERT_TRUE(a.Put("WatchDogPort=6001\n", &error)) << error;
        EXPECT_EQ(px::ConfigGetNumber("PublishPort", 0), 5000u);
        EXPECT_EQ(px::ConfigGetNumber("WatchDogPort", 0), 6001u);
        {
            CConfigLayer b;
            ASSERT_TRUE(b.Put("UseDDraw=9\n", &error)) << error;
            pathB = b.Path();
            EXPECT_NE(pathB, pathA);
            EXPECT_EQ(px::ConfigGetNumber("UseDDraw", 1), 9u);
            EXPECT_EQ(px::ConfigGetNumber("WatchDogPort", 0), 6001u);
            EXPECT_EQ(px::ConfigGetNumber("AllowSoftwareGL", 0), 1u);
        }
        EXPECT_EQ(ConfigInForce(), pathA);
        EXPECT_FALSE(Exists(pathB));
        EXPECT_EQ(px::ConfigGetNumber("UseDDraw", 1), 7u);
    }
    EXPECT_EQ(ConfigInForce(), m_user);
    EXPECT_FALSE(Exists(pathA));
    EXPECT_TRUE(Exists(m_user));
}

TEST_F(ConfigLayerTest, NoFileUnderneathIsEmptyAnUnreadableOneIsAnError)
{
    std::string error;
    unsetenv("VISTEL_CONFIG");
    setenv("VISTEL_CONFIG", (m_scratch.Path() + "/missing.conf").c_str(), 1);
    {
        CConfigLayer layer;
        ASSERT_TRUE(layer.Put("UseDDraw=0\n", &error)) << error;
        EXPECT_EQ(px::ConfigGetNumber("UseDDraw", 1), 0u);
        EXPECT_EQ(px::ConfigGetNumber("AllowSoftwareGL", 5), 5u);
    }
    EXPECT_EQ(ConfigInForce(), m_scratch.Path() + "/missing.conf");
    unsetenv("VISTEL_CONFIG");
    {
        CConfigLayer layer;
        ASSERT_TRUE(layer.Put("UseDDraw=0\n", &error)) << error;
    }
    EXPECT_EQ(ConfigInForce(), "(unset)");
    setenv("VISTEL_CONFIG", m_scratch.Path().c_str(), 1);   // a folder: it cannot be read
    {
        CConfigLayer layer;
        EXPECT_FALSE(layer.Put("UseDDraw=0\n", &error));
        EXPECT_NE(error.find("cannot read the configuration file " + m_scratch.Path()), std::string::npos) << error;
        EXPECT_TRUE(layer.Path().empty());
    }
    EXPECT_EQ(ConfigInForce(), m_scratch.Path());   // a layer that wrote nothing changes nothing
}

TEST_F(ConfigLayerTest, InProcessSimulatorKeepsTheUsersValuesBesideItsPorts)
{
    {
        pxtool::CToolCamera camera;
        std::string error;
        ASSERT_TRUE(camera.Start(&error)) << error;
        EXPECT_EQ(ConfigInForce(), camera.ConfigFile());
        EXPECT_EQ(px::ConfigGetNumber("UseDDraw", 1), 7u);
        EXPECT_EQ(px::ConfigGetNumber("AllowSoftwareGL", 0), 1u);
        // Its own publish port, not the user's 5000: a client reaches it.
        EXPECT_NE(px::ConfigGetNumber("PublishPort", 5000), 5000u);
        PXHANDLE h = 0;
        ASSERT_EQ(pxtool::OpenCameraClient(camera.Address(), "config-layer", pxtool::kDefaultTimeoutMs, &h), PX_OK);
        PXClientTerminate(h);
    }
    EXPECT_EQ(ConfigInForce(), m_user);
}

std::vector<OverlayCall> Parsed(const std::string& text)
{
    std::vector<OverlayCall> calls;
    std::string error;
    EXPECT_TRUE(pxtool::ParseOverlayScript(text, &calls, &error)) << error;
    return calls;
}

std::vector<int32_t> Numbers(const OverlayCall& call)
{
    std::vector<int32_t> v;
    for (const pxtool::OverlayArgument& a : call.arguments)
        v.push_back(a.bText ? 0 : a.value);
    return v;
}

TEST(OverlayScript, EveryMemberWithItsNumbersColoursAndTexts)
{
    const std::vector<OverlayCall> calls = Parsed("# shapes\n"
                                                  "\n"
                                                  "AddOverlayRect -1 20 +20 120 80 1 #FFFF00 none 0\r\n"
                                                  "  AddOverlayEllipse\t7 0 0 -5 0x10 2 0x00FF0000 4294967295 3\n"
                                                  "AddOverlayLine 8 0 200 319 200 1 #123456 -2147483648\n"
                                                  "AddOverlayPixel -1 5 5 16711935 0\n"
                                                  "AddOverlayText -1 20 140 0 0 #FF00FE none 16 56 \"DejaVu Sans\" "
                                                  "\"say \\\"hi\\\" \\\\ \\n\" 0\n"
                                                  "AddOverlayText 3 0 0 0 0 0 -1 8 0 Courier Word 0\n"
                                                  "RemoveOverlayObject 7\n"
                                                  "SetOverlayTransparentColor #00FF00\n"
                                                  "ClearOverlay\n"
                                                  "DrawOverlay");
    ASSERT_EQ(calls.size(), 10u);
    EXPECT_EQ(calls[0].line, 3);
    EXPECT_EQ(calls[0].member, "AddOverlayRect");
    // #RRGGBB turns into COLORREF 0x00BBGGRR, none into 0xFFFFFFFF.
    EXPECT_EQ(Numbers(calls[0]), (std::vector<int32_t>{-1, 20, 20, 120, 80, 1, 0x0000FFFF, -1, 0}));
    EXPECT_EQ(Numbers(calls[1]), (std::vector<int32_t>{7, 0, 0, -5, 16, 2, 0x00FF0000, -1, 3}));
    EXPECT_EQ(Numbers(calls[2]), (std::vector<int32_t>{8, 0, 200, 319, 200, 1, 0x00563412, INT32_MIN}));
    EXPECT_EQ(Numbers(calls[3]), (std::vector<int32_t>{-1, 5, 5, 0x00FF00FF, 0}));
    ASSERT_EQ(calls[4].arguments.size(), 12u);
    EXPECT_EQ(calls[4].arguments[6].value, -1);
    EXPECT_EQ(calls[4].arguments[8].value, 56);
    EXPECT_TRUE(calls[4].arguments[9].bText);
    EXPECT_EQ(calls[4].arguments[9].text, "DejaVu Sans");
    // Only \" and \\ are escapes; any other backslash stays.
    EXPECT_EQ(calls[4].arguments[10].text, "say \"hi\" \\ \\n");
    EXPECT_EQ(calls[5].arguments[9].text, "Courier");
    EXPECT_EQ(calls[5].arguments[10].text, "Word");
    EXPECT_EQ(calls[5].line, 8);
    EXPECT_EQ(Numbers(calls[6]), std::vector<int32_t>{7});
    EXPECT_EQ(Numbers(calls[7]), std::vector<int32_t>{0x0000FF00});
    EXPECT_TRUE(calls[8].arguments.empty());
    EXPECT_EQ(calls[9].member, "DrawOverlay");
    EXPECT_EQ(calls[9].line, 12);
    EXPECT_TRUE(Parsed("").empty());
    EXPECT_TRUE(Parsed("# nothing\n\n   \n").empty());
}

TEST(OverlayScript, ErrorsNameTheLineAndWhatIsWrong)
{
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"\nAddOverlayBox 1 2\n",
         "line 2: \"AddOverlayBox\" is not an overlay member (AddOverlayRect, AddOverlayEllipse, AddOverlayLine, "
         "AddOverlayPixel, AddOverlayText, RemoveOverlayObject, SetOverlayTransparentColor, ClearOverlay, "
         "DrawOverlay)"},
        {"addoverlayrect -1 0 0 1 1 1 0 0 0", "line 1: \"addoverlayrect\" is not an overlay member"},
        {"AddOverlayRect -1 20 20 120 80 1 #FFFF00 none",
         "line 1: AddOverlayRect takes 9 arguments (AddOverlayRect id x1 y1 x2 y2 width color bColor attribute), "
         "not 8"},
        {"ClearOverlay now", "line 1: ClearOverlay takes 0 arguments (ClearOverlay), not 1"},
        {"RemoveOverlayObject", "line 1: RemoveOverlayObject takes 1 argument (RemoveOverlayObject id), not 0"},
        {"# a\nAddOverlayPixel -1 12a 5 #FF0000 0",
         "line 2: AddOverlayPixel's x is \"12a\", not a number (decimal, or 0x and at most eight hex digits)"},
        {"AddOverlayPixel -1 4294967296 5 0 0", "line 1: AddOverlayPixel's x is \"4294967296\", not a number"},
        {"AddOverlayPixel -1 -2147483649 5 0 0", "line 1: AddOverlayPixel's x is \"-2147483649\", not a number"},
        {"AddOverlayPixel 0x123456789 1 5 0 0", "line 1: AddOverlayPixel's id is \"0x123456789\", not a number"},
        {"AddOverlayPixel -1 - 5 0 0", "line 1: AddOverlayPixel's x is \"-\", not a number"},
        {"AddOverlayPixel -1 \"5\" 5 0 0", "line 1: AddOverlayPixel's x is the text \"5\", not a number"},
        {"AddOverlayLine -1 0 0 9 9 1 purple 0",
         "line 1: AddOverlayLine's color is \"purple\", not a colour (#RRGGBB, none or a number)"},
        {"AddOverlayLine -1 0 0 9 9 1 #FFFF0 0", "line 1: AddOverlayLine's color is \"#FFFF0\", not a colour"},
        {"AddOverlayLine -1 0 0 9 9 1 #GGFF00 0", "line 1: AddOverlayLine's color is \"#GGFF00\", not a colour"},
        {"DrawOverlay\nAddOverlayText -1 0 0 0 0 0 -1 8 0 \"Sans 0 Hello 0",
         "line 2: the text that starts in column 36 has no closing quote"},
        {"AddOverlayText -1 0 0 0 0 0 -1 8 0 \"Sans\"x Hello 0",
         "line 1: a blank must follow the closing quote in column 41"},
    };
    for (const auto& c : cases) {
        std::vector<OverlayCall> calls(1);
        std::string error;
        EXPECT_FALSE(pxtool::ParseOverlayScript(c.text, &calls, &error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << "\n  gave: " << error;
        EXPECT_EQ(calls.size(), 1u) << "a failed parse leaves the calls alone: " << c.text;
    }
}

TEST(OverlayScript, FilesGiveTheirNameWithTheLine)
{
    platformtest::CScratch scratch;
    scratch.Write("ok.txt", "AddOverlayPixel -1 1 2 #FF0000 0\n");
    scratch.Write("bad.txt", "# two lines\nDrawOverlay\nDrawOverlay 1\n");
    std::vector<OverlayCall> calls;
    std::string error;
    ASSERT_TRUE(pxtool::ReadOverlayScript(scratch.Path() + "/ok.txt", &calls, &error)) << error;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].arguments[3].value, 0xFF);
    EXPECT_FALSE(pxtool::ReadOverlayScript(scratch.Path() + "/bad.txt", &calls, &error));
    EXPECT_EQ(error, scratch.Path() + "/bad.txt:3: DrawOverlay takes 0 arguments (DrawOverlay), not 1");
    EXPECT_FALSE(pxtool::ReadOverlayScript(scratch.Path() + "/none.txt", &calls, &error));
    EXPECT_EQ(error, "cannot read " + scratch.Path() + "/none.txt: No such file or directory");
}

} // namespace
