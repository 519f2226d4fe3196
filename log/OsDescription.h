// The operating-system description that the viewer control writes to the debug output when it
// starts; its answer tells whether an accelerated display back-end may be used.
//
// DescribeOperatingSystem is the rule itself, over a version record of the kind the camera
// software's original host systems report (platform, version, service pack, product type and
// suite flags), so that every system it knows can be checked. DescribeRunningSystem is what runs
// here: it describes the Linux system from uname and allows acceleration.
#pragma once

#include <cstdint>

// Platform identifiers of the version record.
enum : uint32_t {
    OS_PLATFORM_WIN32S = 0,
    OS_PLATFORM_WIN9X = 1,
    OS_PLATFORM_NT = 2,
};

// Product types and suite flags of the extended version information.
enum : uint32_t {
    OS_PRODUCT_WORKSTATION = 1,
    OS_PRODUCT_DOMAIN_CONTROLLER = 2,
    OS_PRODUCT_SERVER = 3,
};
enum : uint32_t {
    OS_SUITE_ENTERPRISE = 0x0002,
    OS_SUITE_DATACENTER = 0x0080,
    OS_SUITE_PERSONAL = 0x0200,
    OS_SUITE_BLADE = 0x0400, // the web edition
};

struct COsVersion {
    uint32_t dwPlatformId = OS_PLATFORM_NT;
    uint32_t dwMajorVersion = 0;
    uint32_t dwMinorVersion = 0;
    uint32_t dwBuildNumber = 0;
    const char* pszCSDVersion = ""; // service-pack text
    // Extended information (product type and suite mask) was available.
    bool bExtended = true;
    uint32_t dwProductType = 0;
    uint32_t dwSuiteMask = 0;
    // Without extended information: the stored product type ("WINNT", "LANMANNT", "SERVERNT"),
    // null when it could not be read.
    const char* pszProductType = nullptr;
    // The hotfix that turns service pack 6 of version 4 into 6a is installed.
    bool bHotfixQ246009 = false;
};

using OsTextSink = void (*)(const char* piece, void* user);

// Writes the description piece by piece to sink and returns 1 for a supported system, else 0.
// A null version (no version information at all) writes nothing and gives 0.
int DescribeOperatingSystem(const COsVersion* version, OsTextSink sink, void* user);

// Writes "<system> <release> <machine> (<version>)\n" to the debug output and returns 1: every Linux
// display path may be accelerated. Returns 0 when uname fails.
int DescribeRunningSystem();
