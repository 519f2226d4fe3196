#include "log/OsDescription.h"

#include "platform/Messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void Collect(const char* piece, void* user) { static_cast<std::vector<std::string>*>(user)->push_back(piece); }

struct Described {
    std::string text;
    int result;
};

Described Describe(const COsVersion* v)
{
    std::vector<std::string> pieces;
    int result = DescribeOperatingSystem(v, Collect, &pieces);
    std::string text;
    for (const std::string& p : pieces)
        text += p;
    return {text, result};
}

COsVersion Nt(uint32_t major, uint32_t minor, uint32_t product, uint32_t suite, const char* csd, uint32_t build)
{
    COsVersion v;
    v.dwPlatformId = OS_PLATFORM_NT;
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    v.dwProductType = product;
    v.dwSuiteMask = suite;
    v.pszCSDVersion = csd;
    v.dwBuildNumber = build;
    return v;
}

COsVersion Win9x(uint32_t minor, const char* csd)
{
    COsVersion v;
    v.dwPlatformId = OS_PLATFORM_WIN9X;
    v.dwMajorVersion = 4;
    v.dwMinorVersion = minor;
    v.pszCSDVersion = csd;
    v.dwBuildNumber = 0x04000000u | 950u;
    return v;
}

COsVersion Hotfix(COsVersion v)
{
    v.bHotfixQ246009 = true;
    return v;
}

// Without extended information the edition comes from the stored product type (nullptr: unread).
COsVersion Stored(COsVersion v, const char* productType)
{
    v.bExtended = false;
    v.pszProductType = productType;
    return v;
}

struct Row {
    COsVersion version;
    const char* text;
    int result;
};

} // namespace

TEST(OsDescription, EveryKnownSystem)
{
    const uint32_t W = OS_PRODUCT_WORKSTATION, S = OS_PRODUCT_SERVER, DC = OS_PRODUCT_DOMAIN_CONTROLLER;
    COsVersion win32s;
    win32s.dwPlatformId = OS_PLATFORM_WIN32S;
    const Row rows[] = {
        {win32s, "Microsoft Win32s\n", 0},
        {Win9x(0, " C"), "Microsoft Windows 95 OSR2 ", 0},
        {Win9x(0, " B"), "Microsoft Windows 95 OSR2 ", 0},
        {Win9x(0, " A"), "Microsoft Windows 95 ", 0},
        {Win9x(0, ""), "Microsoft Windows 95 ", 0},
        {Win9x(10, " A"), "Microsoft Windows 98 SE ", 0},
        {Win9x(10, " C"), "Microsoft Windows 98 ", 0},
        {Win9x(90, " A"), "Microsoft Windows Millennium Edition\n", 0},
        {Win9x(3, ""), "", 0},
        // The build number keeps its low 16 bits.
        {Nt(6, 0, W, OS_SUITE_PERSONAL, "Service Pack 1", 0x06001771u),
         "Microsoft Windows Vista family, Home Edition Service Pack 1 (Build 6001)\n", 1},
        {Nt(6, 0, W, 0, "", 6000), "Microsoft Windows Vista family, Professional  (Build 6000)\n", 1},
        {Nt(6, 0, S, 0, "", 6001), "Microsoft Windows Vista family, Server 4.0  (Build 6001)\n", 1},
        {Nt(5, 2, S, OS_SUITE_DATACENTER | OS_SUITE_ENTERPRISE, "Service Pack 2", 3790),
         "Microsoft Windows Server 2003 family, Datacenter Edition Service Pack 2 (Build 3790)\n", 1},
        {Nt(5, 2, DC, OS_SUITE_ENTERPRISE, "", 3790),
         "Microsoft Windows Server 2003 family, Enterprise Edition  (Build 3790)\n", 1},
        {Nt(5, 2, S, OS_SUITE_BLADE, "", 3790), "Microsoft Windows Server 2003 family,  Web Edition  (Build 3790)\n", 1},
        {Nt(5, 2, S, OS_SUITE_BLADE | 0x10, "", 3790),
         "Microsoft Windows Server 2003 family, Standard Edition  (Build 3790)\n", 1},
        {Nt(5, 1, W, 0, "Service Pack 3", 2600), "Microsoft Windows XP, Professional Service Pack 3 (Build 2600)\n", 1},
        {Nt(5, 1, W, OS_SUITE_PERSONAL, "", 2600), "Microsoft Windows XP, Home Edition  (Build 2600)\n", 1},
        {Nt(5, 0, S, OS_SUITE_DATACENTER, "Service Pack 4", 2195),
         "Microsoft Windows 2000, Datacenter Server Service Pack 4 (Build 2195)\n", 1},
        {Nt(5, 0, DC, OS_SUITE_ENTERPRISE, "", 2195), "Microsoft Windows 2000, Advanced Server  (Build 2195)\n", 1},
        {Nt(5, 0, S, 0, "", 2195), "Microsoft Windows 2000, Server  (Build 2195)\n", 1},
        {Nt(5, 0, W, 0, "", 2195), "Microsoft Windows 2000, Professional  (Build 2195)\n", 1},
        {Nt(4, 0, W, 0, "Service Pack 5", 1381), "Microsoft Windows NT, Workstation 4.0 Service Pack 5 (Build 1381)\n", 0},
        {Nt(4, 0, S, OS_SUITE_ENTERPRISE, "", 1381), "Microsoft Windows NT, Server 4.0, Enterprise Edition  (Build 1381)\n", 0},
        {Nt(4, 0, S, 0, "Service Pack 6", 1381), "Microsoft Windows NT, Server 4.0 Service Pack 6 (Build 1381)\n", 0},
        {Nt(3, 51, 0, 0, "", 1057), "Microsoft Windows NT,  (Build 1057)\n", 0},
        // Service Pack 6a is Service Pack 6 with the hotfix, on NT 4.0 only.
        {Hotfix(Nt(4, 0, W, 0, "Service Pack 6", 1381)),
         "Microsoft Windows NT, Workstation 4.0 Service Pack 6a (Build 1381)\n", 0},
        {Hotfix(Nt(5, 0, W, 0, "Service Pack 6", 1381)),
         "Microsoft Windows 2000, Professional Service Pack 6 (Build 1381)\n", 1},
        {Stored(Nt(4, 0, 0, 0, "Service Pack 3", 1381), "WINNT"),
         "Microsoft Windows NT, Workstation 4.0 Service Pack 3 (Build 1381)\n", 0},
        {Stored(Nt(4, 0, 0, 0, "Service Pack 3", 1381), "lanmanNT"),
         "Microsoft Windows NT, Server 4.0 Service Pack 3 (Build 1381)\n", 0},
        {Stored(Nt(4, 0, 0, 0, "Service Pack 3", 1381), "ServerNT"),
         "Microsoft Windows NT, Advanced Server 4.0 Service Pack 3 (Build 1381)\n", 0},
        {Stored(Nt(4, 0, 0, 0, "Service Pack 3", 1381), "Other"),
         "Microsoft Windows NT, 4.0 Service Pack 3 (Build 1381)\n", 0},
        // The value cannot be read: the answer is 0 even for a supported version.
        {Stored(Nt(5, 0, 0, 0, "", 2195), nullptr), "Microsoft Windows 2000, ", 0},
        // Later systems than the ones it knows are not named and not supported.
        {Nt(6, 1, W, 0, "", 7600), "Professional  (Build 7600)\n", 0},
        {Nt(10, 0, S, 0, "", 19045), "Server 4.0  (Build 19045)\n", 0},
    };
    for (const Row& row : rows) {
        Described d = Describe(&row.version);
        EXPECT_EQ(d.text, row.text);
        EXPECT_EQ(d.result, row.result) << row.text;
    }

    COsVersion unknown;
    unknown.dwPlatformId = 3;
    EXPECT_EQ(Describe(&unknown).text, "");
    EXPECT_EQ(Describe(&unknown).result, 0);
    EXPECT_EQ(Describe(nullptr).text, "");
    EXPECT_EQ(Describe(nullptr).result, 0);
    const COsVersion stored = Stored(Nt(5, 0, 0, 0, "", 2195), "WINNT");
    EXPECT_EQ(Describe(&stored).result, 1);
}

TEST(OsDescription, TheRunningSystemIsDescribedToTheDebugOutput)
{
    std::string out;
    px::SetDebugOutputSink([](const char* text, void* user) { *static_cast<std::string*>(user) += text; }, &out);
    EXPECT_EQ(DescribeRunningSystem(), 1);
    px::SetDebugOutputSink(nullptr, nullptr);
    EXPECT_EQ(out.rfind("Linux ", 0), 0u) << out;
    EXPECT_EQ(out.back(), '\n');
}
