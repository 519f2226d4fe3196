// pellix-grab, pellix-ls and pellix-update as a user runs them: as programs, against the simulator
// they start in their own process (their failures: ToolMessagesTest.cpp). Plus the tools' shared
// helpers.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <png.h>

#include "tests/update/UpdateTestUtil.h"
#include "tools/ToolSupport.h"
#include "ToolTestUtil.h"

namespace {

using tooltest::Outcome;
using tooltest::RunCommand;

bool PngSize(const std::string& path, uint32_t* width, uint32_t* height)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    *width = image.width;
    *height = image.height;
    std::string pixels(PNG_IMAGE_SIZE(image), '\0');
    return png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;  // every row decodes
}

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

class ToolsTest : public ::testing::Test {
protected:
    updatetest::CScratch m_scratch;
    const std::string& m_dir = m_scratch.Path();
};

} // namespace

TEST_F(ToolsTest, GrabSavesFramesFromTheInProcessSimulator)
{
    const std::string out = m_dir + "/frames";  // made by the tool
    Outcome o = RunCommand(std::string(PELLIX_GRAB_PATH) + " -n 3 -o " + out);
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_NE(o.output.find("fps"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("MB/s"), std::string::npos) << o.output;
    for (int i = 1; i <= 3; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/IMG0-%04d.png", i);
        uint32_t w = 0, h = 0;
        ASSERT_TRUE(PngSize(out + name, &w, &h)) << name;
        EXPECT_EQ(w, 640u);
        EXPECT_EQ(h, 480u);
    }
    EXPECT_FALSE(Exists(out + "/IMG0-0004.png"));

    // A window through PXSetExchangeBufferInfo, saved as PGM.
    o = RunCommand(std::string(PELLIX_GRAB_PATH) + " -n 1 --roi 32,16,200,100 --format pgm -o " + m_dir);
    ASSERT_EQ(o.status, 0) << o.output;
    std::ifstream pgm(m_dir + "/IMG0-0001.pgm", std::ios::binary);
    std::string magic;
    uint32_t w = 0, h = 0, maxValue = 0;
    pgm >> magic >> w >> h >> maxValue;
    EXPECT_EQ(magic, "P5");
    EXPECT_EQ(w, 200u);
    EXPECT_EQ(h, 100u);
    EXPECT_EQ(maxValue, 255u);

    // Records that are not images are saved as they came.
    o = RunCommand(std::string(PELLIX_GRAB_PATH) + " -b HIST -n 2 --force -o " + m_dir);
    ASSERT_EQ(o.status, 0) << o.output;
    struct stat st;
    ASSERT_EQ(stat((m_dir + "/HIST-0002.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 1024);
}

TEST_F(ToolsTest, LsListsTheSimulatorsBuffers)
{
    const Outcome o = RunCommand(PELLIX_LS_PATH);
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_NE(o.output.find("IMG0  image"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("\"VGA test pattern\""), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("640x480 at 0,0 of 640x480, mono8, 1 band, 307200 bytes"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("INP0  input"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("watchdog: receiving signals"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("1 client (this listing included)"), std::string::npos) << o.output;
}

TEST(ToolSupportTest, CameraArguments)
{
    pxtool::CameraAddress a;
    std::string error;
    ASSERT_TRUE(pxtool::ParseCameraArgument("192.168.0.25", &a, &error));
    EXPECT_FALSE(a.bSimulator);
    EXPECT_TRUE(a.bIsAddress);
    EXPECT_EQ(a.byAddress[0], 192);
    EXPECT_EQ(a.byAddress[3], 25);
    ASSERT_TRUE(pxtool::ParseCameraArgument("kelvo-7.lab", &a, &error));
    EXPECT_FALSE(a.bIsAddress);
    EXPECT_EQ(a.strHost, "kelvo-7.lab");
    ASSERT_TRUE(pxtool::ParseCameraArgument("1.2.3.4.5", &a, &error));  // a name, not an address
    EXPECT_FALSE(a.bIsAddress);
    EXPECT_FALSE(pxtool::ParseCameraArgument("cam era", &a, &error));
    EXPECT_NE(error.find("cam era"), std::string::npos);
    ASSERT_TRUE(pxtool::ParseCameraArgument("", &a, &error));
    EXPECT_TRUE(a.bSimulator);

    const char id[4] = {'I', 'M', 'G', '0'};
    EXPECT_EQ(pxtool::BufferIdText(id), "IMG0");
    EXPECT_EQ(pxtool::BufferTypeName(PX_BUFTYPE_HISTOGRAM), "histogram");
    EXPECT_EQ(pxtool::BufferTypeName(7), "type 7");
}

// pellix-update against the simulator's web service in this process (the tool finds its port
// through VISTEL_CONFIG, which the child inherits).
TEST_F(ToolsTest, UpdateInquiryPrintsBothSidesAndTheVerdict)
{
    updatetest::CWebCamera camera;
    ASSERT_TRUE(camera.Started());
    updatetest::CScratch package;
    package.Write("version.ini", "[REG_OS_VERSION_ID]\nVALUE=4.0\n[REG_OS_BUILD_NUMBER_ID]\nVALUE=300\n"
                                 "[REG_OS_QFE_NUMBER_ID]\nVALUE=3\n[REG_FS_VERSION_ID]\nVALUE=2.1\n"
                                 "[REG_FS_BUILD_NUMBER_ID]\nVALUE=45\n[REG_FS_REVISION_NUMBER_ID]\nVALUE=3\n");
    const std::string tool = std::string(PELLIX_UPDATE_PATH) + " 127.0.0.1 ";
    Outcome o = RunCommand(tool + package.Path() + " --inquire");
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_NE(o.output.find("operating system QFE                   3                2\n"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("imaging library build                  -                9.2.0\n"), std::string::npos);
    EXPECT_NE(o.output.find("sensor configuration                   -                \"01000001\"\n"), std::string::npos);
    EXPECT_NE(o.output.find("verdict: partial upgrade"), std::string::npos) << o.output;

    o = RunCommand(tool + m_dir + " --inquire");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.output.find("Error: Files not found in directory"), std::string::npos) << o.output;
    camera.PointConfigAt(1);
    o = RunCommand(tool + package.Path() + " --inquire");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.output.find("Error: connecting to Kelvo"), std::string::npos) << o.output;
    o = RunCommand(tool + package.Path() + " --inquiry");
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.output.find("Usage: pellix-update"), std::string::npos) << o.output;
}

TEST_F(ToolsTest, UpdateRunsAWholeUpdateOnTheSimulatedCamera)
{
    const std::string tool = std::string(PELLIX_UPDATE_PATH);
    Outcome o = RunCommand(tool + " --simulate");
    ASSERT_EQ(o.status, 0) << o.output;
    // Headings as lines, percentages as plain lines when the output is no terminal, details indented.
    for (const char* line : {"\nStarting complete upgrade\n", "\n    Files copied to 127.0.0.1\\RAMFiles\n",
                             "\nOS Update\n    Writing the operating system image\n      0%\n     25%\n",
                             "\n    100%\nUserDisk Update\n", "successfully rebooted after",
                             "\nKelvoUpdate successfully completed!\nUpdate completed.\n"})
        EXPECT_NE(o.output.find(line), std::string::npos) << line << "\n" << o.output;

    o = RunCommand(tool + " --simulate " + m_dir + "/none");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.output.find("Version inquire failed to retrieve information"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("pellix-update: Error: impossible to get version (2056)"), std::string::npos) << o.output;
}
