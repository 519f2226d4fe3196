// The version inquiry: the comparison table, the package files' reading rules, and
// PXInquireUpdate end to end against the simulator's web service.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/update/UpdateTestUtil.h"
#include "update/IniFile.h"
#include "update/VersionInquiry.h"

using namespace updatetest;
using pxsim::SimStoreValue;

namespace {

// "os.minor.build qfe | qvl | sp | hotfix | fpga | boot.minor.build | fs.minor.build.rev"
VersionValues V(int osMajor, int osMinor, int osBuild)
{
    VersionValues v;
    v.osMajor = osMajor, v.osMinor = osMinor, v.osBuild = osBuild;
    v.osQfe = 2;
    v.qvlBuild[0] = 9, v.qvlBuild[1] = 2;
    v.qvlSpRevision[0] = 9, v.qvlSpRevision[1] = 2, v.qvlSpRevision[2] = 1;
    v.qvlHotFix = 3;
    v.fpgaRevision = 0x12A;
    v.bootRomVersion = 0x20005, v.bootRomBuild = 17;
    v.fsVersion[0] = 2, v.fsVersion[1] = 1, v.fsBuild = 45, v.fsRevision = 3;
    return v;
}

TEST(VersionCompare, TheCasesOfTheComparisonTable)
{
    EXPECT_EQ(CompareVersions(V(4, 0, 300), V(4, 0, 300)), kUpdateInstalled);
    EXPECT_EQ(CompareVersions(V(4, 1, 10), V(4, 0, 300)), kUpdateCompleteUpgrade);
    EXPECT_EQ(CompareVersions(V(4, 0, 100), V(4, 1, 5)), kUpdateCompleteDowngrade);
    EXPECT_EQ(CompareVersions(V(4, 0, 100), V(4, 0, 300)), kUpdateInstalled);   // an older build is no downgrade

    VersionValues p = V(4, 0, 300);
    p.osQfe = 3;
    EXPECT_EQ(CompareVersions(p, V(4, 0, 300)), kUpdatePartialUpgrade);
    p = V(4, 0, 300);
    p.qvlBuild[1] = 1;
    EXPECT_EQ(CompareVersions(p, V(4, 0, 300)), kUpdatePartialDowngrade);
    p.qvlHotFix = 4;   // a newer part wins over an older one
    EXPECT_EQ(CompareVersions(p, V(4, 0, 300)), kUpdatePartialUpgrade);

    p = V(4, 0, 300);
    p.fsVersion[0] = p.fsVersion[1] = p.fsBuild = p.fsRevision = 0;
    EXPECT_EQ(CompareVersions(p, V(4, 0, 300)), kUpdateNotComparable);
    EXPECT_EQ(CompareVersions(V(4, 0, 300), p), kUpdateNotComparable);
    p = V(4, 0, 300);
    p.fsRevision = 2;
    EXPECT_EQ(CompareVersions(p, V(4, 0, 300)), kUpdatePartialDowngrade);
}

TEST(VersionCompare, ComponentsThePackageLacksAreNotComparedAndPackingKeepsItsWidths)
{
    VersionValues p = V(4, 0, 300), c = V(4, 0, 300);
    p.osQfe = 0, c.osQfe = 9;
    p.qvlHotFix = 0, c.qvlHotFix = 9;
    p.fpgaRevision = 0, c.fpgaRevision = 0x7FFF;
    p.bootRomVersion = p.bootRomBuild = 0, c.bootRomBuild = 99;
    EXPECT_EQ(CompareVersions(p, c), kUpdateInstalled);

    // An older boot ROM build of the same version is not a downgrade; only the low eight bits of
    // the boot ROM version count, so 3.5 against 2.5 compares equal.
    p = V(4, 0, 300);
    p.bootRomBuild = 16;
    EXPECT_EQ(CompareVersions(p, V(4, 0, 300)), kUpdateInstalled);
    p.bootRomVersion = 0x30005;
    EXPECT_EQ(CompareVersions(p, V(4, 0, 300)), kUpdateInstalled);
    p.bootRomVersion = 0x20006;
    EXPECT_EQ(CompareVersions(p, V(4, 0, 300)), kUpdatePartialUpgrade);

    // The minor version is a signed 32-bit term: 4.200 packs below 4.1.
    EXPECT_EQ(CompareVersions(V(4, 200, 0), V(4, 1, 0)), kUpdateCompleteDowngrade);
}

TEST(VersionText, ScanningAsTheFormatsDo)
{
    int32_t v[3] = {7, 7, 7};
    EXPECT_EQ(ScanDottedDecimals("4.1", v, 2), 2);
    EXPECT_EQ(v[0], 4);
    EXPECT_EQ(v[1], 1);
    int32_t w[3] = {0, 0, 0};
    EXPECT_EQ(ScanDottedDecimals(" 9. 2x.5", w, 3), 2);
    EXPECT_EQ(w[1], 2);
    EXPECT_EQ(w[2], 0);
    EXPECT_EQ(ScanDottedDecimals("-3", w, 1), 1);
    EXPECT_EQ(w[0], -3);
    EXPECT_EQ(ScanDottedDecimals("v4", w, 1), 0);

    int32_t h = 0;
    EXPECT_TRUE(ScanHex8("0000012A", &h));
    EXPECT_EQ(h, 0x12A);
    EXPECT_TRUE(ScanHex8("123456789", &h));
    EXPECT_EQ(h, 0x12345678);
    EXPECT_TRUE(ScanHex8("0x1f", &h));
    EXPECT_EQ(h, 0x1F);
    EXPECT_FALSE(ScanHex8("", &h));
}

TEST(IniFile, SectionsAndKeysWithoutCaseQuotedKeysAndValues)
{
    CIniFile ini;
    ini.Parse("\xEF\xBB\xBF; comment\r\nVALUE=ignored\r\n[Reg_OS_Version_ID]\r\n  value = 4.0  \r\n"
              "Value=second\r\n[CCDList]\n\"01000001\"=x:OV9650\n[Text]\nq=\"quoted ; kept\"\nlong=" +
              std::string(300, 'a') + "\n[Reg_OS_Version_ID]\nother=1\n");
    EXPECT_EQ(ini.Get("REG_OS_VERSION_ID", "VALUE"), "4.0");
    EXPECT_EQ(ini.Get("ccdlist", "\"01000001\""), "x:OV9650");
    EXPECT_EQ(ini.Get("CCDList", "01000001"), "");
    EXPECT_EQ(ini.Get("Text", "q"), "quoted ; kept");
    EXPECT_EQ(ini.Get("Text", "long").size(), 255u);
    EXPECT_EQ(ini.Get("Text", "missing"), "");
    EXPECT_EQ(ini.Get("REG_OS_VERSION_ID", "other"), "1");
}

TEST(UpdateErrors, TextsOfTheCodes)
{
    char text[256] = "untouched";
    EXPECT_EQ(PXGetKelvoUpdateError(0x801, text), 1);
    EXPECT_STREQ(text, "Error: connecting to Kelvo");
    std::strcpy(text, "untouched");
    EXPECT_EQ(PXGetKelvoUpdateError(0x80C, text), 0);
    EXPECT_EQ(PXGetKelvoUpdateError(0, text), 0);
    EXPECT_STREQ(text, "untouched");
}

// A package with the simulated camera's own versions.
void WriteInstalledPackage(const CScratch& folder)
{
    folder.Write("version.ini", "[REG_OS_VERSION_ID]\nVALUE=4.0\n[REG_OS_BUILD_NUMBER_ID]\nVALUE=300\n"
                                "[REG_OS_QFE_NUMBER_ID]\nVALUE=2\n[REG_QVL_BUILD_NUMBER_ID]\nVALUE=9.2.0\n"
                                "[REG_QVL_SERVICE_PACK_ID]\nVALUE=SP1\n[REG_QVL_SERVICE_PACK_REVISION_ID]\nVALUE=9.2.1\n"
                                "[REG_QVL_HOT_FIX_ID]\nVALUE=HF_3\n[ROMIF_BOOTROM_VERSION_ID]\nVALUE=2.5\n"
                                "[ROMIF_BOOTROM_BUILDNUMBER_ID]\nVALUE=17\n[REG_FS_VERSION_ID]\nVALUE=2.1\n"
                                "[REG_FS_BUILD_NUMBER_ID]\nVALUE=45\n[REG_FS_REVISION_NUMBER_ID]\nVALUE=3\n");
    folder.Write("FpgaRomInfo.txt", "[CCDList]\n\"01000001\"=1:OV9650\n\"00000001\"=2:IMX\n"
                                    "[Revision]\nOV9650=rev:0000012a\nIMX=rev:00000200\n");
}

std::string Value(const char* camera, const char* package, uint32_t inquiry, uint32_t* ok)
{
    char text[256] = "untouched";
    *ok = PXInquireUpdate(camera, package, inquiry, text);
    return text;
}

TEST(InquireUpdate, ValuesOfTheCameraInTheirTextForms)
{
    CWebCamera camera({}, {{0x240039, SimStoreValue::Integer(-1)}});
    ASSERT_TRUE(camera.Started());
    uint32_t ok = 0;
    EXPECT_EQ(Value("127.0.0.1", nullptr, PX_INQUIRE_BOOTROM, &ok), "2.5");
    EXPECT_EQ(ok, 1u);
    EXPECT_EQ(Value("127.0.0.1", nullptr, PX_INQUIRE_SENSOR, &ok), "\"01000001\"");
    EXPECT_EQ(Value("127.0.0.1", nullptr, PX_INQUIRE_OS, &ok), "4.0");
    EXPECT_EQ(Value("127.0.0.1", nullptr, PX_INQUIRE_OS_BUILD, &ok), "300");
    EXPECT_EQ(Value("127.0.0.1", nullptr, PX_INQUIRE_BOOTROM_BUILD, &ok), "17");
    // -1 is no FPGA revision: nothing is written.
    EXPECT_EQ(Value("127.0.0.1", nullptr, PX_INQUIRE_FPGA, &ok), "untouched");
    EXPECT_EQ(ok, 0u);
    camera.Web().SetValue(0x240039, SimStoreValue::Integer(0x12A));
    EXPECT_EQ(Value("127.0.0.1", nullptr, PX_INQUIRE_FPGA, &ok), "0000012a");
    EXPECT_EQ(Value("127.0.0.1", nullptr, 0x123456, &ok), "untouched");
    EXPECT_EQ(ok, 0u);
}

TEST(InquireUpdate, ValuesOfThePackageAndTheFpgaBySensor)
{
    CWebCamera camera;
    ASSERT_TRUE(camera.Started());
    CScratch package;
    WriteInstalledPackage(package);
    uint32_t ok = 0;
    const std::string slash = package.Path() + "/";
    EXPECT_EQ(Value(nullptr, package.Path().c_str(), PX_INQUIRE_QVL_BUILD, &ok), "9.2.0");
    EXPECT_EQ(Value(nullptr, slash.c_str(), PX_INQUIRE_BOOTROM, &ok), "2.5");
    EXPECT_EQ(Value(nullptr, slash.c_str(), PX_INQUIRE_QVL_HOTFIX, &ok), "HF_3");
    EXPECT_EQ(ok, 1u);
    EXPECT_TRUE(camera.Seen().empty());
    // The sensor byte is always the camera's.
    EXPECT_EQ(Value(nullptr, slash.c_str(), PX_INQUIRE_SENSOR, &ok), "untouched");
    EXPECT_EQ(Value("127.0.0.1", slash.c_str(), PX_INQUIRE_SENSOR, &ok), "\"01000001\"");

    camera.Web().SetValue(0x80007, SimStoreValue::Integer(0x101));   // low byte 00000001
    EXPECT_EQ(Value("127.0.0.1", slash.c_str(), PX_INQUIRE_FPGA, &ok), "00000200");
    camera.Web().SetValue(0x80007, SimStoreValue::Integer(0x80));    // not listed: the camera's own
    EXPECT_EQ(Value("127.0.0.1", slash.c_str(), PX_INQUIRE_FPGA, &ok), "0000012a");
    package.Write("FpgaRomInfo.txt", "[CCDList]\n\"10000000\"=no colon\n");
    EXPECT_EQ(Value("127.0.0.1", slash.c_str(), PX_INQUIRE_FPGA, &ok), "0000012a");
}

TEST(InquireUpdate, MissingFilesAndUnreachableCameras)
{
    CWebCamera camera;
    ASSERT_TRUE(camera.Started());
    CScratch empty;
    uint32_t ok = 1;
    EXPECT_EQ(Value("127.0.0.1", empty.Path().c_str(), PX_INQUIRE_OS, &ok), "Missing File");
    EXPECT_EQ(ok, 0u);
    uint32_t code = 0;
    EXPECT_EQ(PXInquireUpdate("127.0.0.1", empty.Path().c_str(), 0, &code), 0u);
    EXPECT_EQ(code, 0x809u);
    EXPECT_TRUE(camera.Seen().empty());   // no camera contact without a package

    camera.PointConfigAt(1);
    EXPECT_EQ(Value("127.0.0.1", nullptr, PX_INQUIRE_OS, &ok), "Unreachable Camera");
    CScratch package;
    WriteInstalledPackage(package);
    EXPECT_EQ(PXInquireUpdate("127.0.0.1", package.Path().c_str(), 0, &code), 0u);
    EXPECT_EQ(code, 0x801u);
}

TEST(InquireUpdate, ComparisonOfAPackageWithTheCamera)
{
    CWebCamera camera;
    ASSERT_TRUE(camera.Started());
    CScratch package;
    WriteInstalledPackage(package);
    uint32_t code = 77;
    ASSERT_EQ(PXInquireUpdate("127.0.0.1", package.Path().c_str(), 0, &code), 1u);
    EXPECT_EQ(code, PX_UPDATE_ALREADY_INSTALLED);

    camera.Web().SetValue(0x140011, SimStoreValue::Integer(1));
    ASSERT_EQ(PXInquireUpdate("127.0.0.1", package.Path().c_str(), 0, &code), 1u);
    EXPECT_EQ(code, PX_UPDATE_PARTIAL_UPGRADE);
    camera.Web().SetValue(0x14000E, SimStoreValue::Text("3.9"));
    ASSERT_EQ(PXInquireUpdate("127.0.0.1", package.Path().c_str(), 0, &code), 1u);
    EXPECT_EQ(code, PX_UPDATE_COMPLETE_UPGRADE);
    camera.Web().SetValue(0x14000E, SimStoreValue::Text("4.0"));

    // The camera's FPGA differs, but the package maps the sensor to the camera's revision.
    camera.Web().SetValue(0x240039, SimStoreValue::Integer(0x12B));
    ASSERT_EQ(PXInquireUpdate("127.0.0.1", package.Path().c_str(), 0, &code), 1u);
    EXPECT_EQ(code, PX_UPDATE_PARTIAL_UPGRADE);   // only the QFE

    // A camera that does not report an essential value: failure with the code 0.
    camera.Web().EraseValue(0x10000E);
    code = 77;
    EXPECT_EQ(PXInquireUpdate("127.0.0.1", package.Path().c_str(), 0, &code), 0u);
    EXPECT_EQ(code, 0u);
    // The comparison needs both sides.
    code = 77;
    EXPECT_EQ(PXInquireUpdate(nullptr, package.Path().c_str(), 0, &code), 0u);
    EXPECT_EQ(code, 77u);
}

TEST(InquireUpdate, PackageWithoutAgentValuesCannotBeCompared)
{
    CWebCamera camera;
    ASSERT_TRUE(camera.Started());
    CScratch package;
    package.Write("version.ini", "[REG_OS_VERSION_ID]\nVALUE=4.0\n[REG_OS_BUILD_NUMBER_ID]\nVALUE=300\n");
    uint32_t code = 77;
    ASSERT_EQ(PXInquireUpdate("127.0.0.1", package.Path().c_str(), 0, &code), 1u);
    EXPECT_EQ(code, PX_UPDATE_NOT_COMPARABLE);
    package.Write("version.ini", "[REG_OS_VERSION_ID]\nVALUE=4.0\n[REG_FS_VERSION_ID]\nVALUE=2.1\n");
    ASSERT_EQ(PXInquireUpdate("127.0.0.1", package.Path().c_str(), 0, &code), 1u);
    EXPECT_EQ(code, PX_UPDATE_PARTIAL_DOWNGRADE);   // the agent's build and revision are older
}

} // namespace
