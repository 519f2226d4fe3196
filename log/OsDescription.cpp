#include "log/OsDescription.h"

#include <cstdio>
#include <cstring>
#include <strings.h>
#include <sys/utsname.h>

#include "platform/Messages.h"

namespace {

void Emit(OsTextSink sink, void* user, const char* piece)
{
    if (sink != nullptr)
        sink(piece, user);
}

void EmitEdition(const COsVersion& v, OsTextSink sink, void* user)
{
    const uint32_t suite = v.dwSuiteMask;
    if (v.dwProductType == OS_PRODUCT_WORKSTATION) {
        if (v.dwMajorVersion == 4)
            Emit(sink, user, "Workstation 4.0 ");
        else if (suite & OS_SUITE_PERSONAL)
            Emit(sink, user, "Home Edition ");
        else
            Emit(sink, user, "Professional ");
    } else if (v.dwProductType == OS_PRODUCT_SERVER || v.dwProductType == OS_PRODUCT_DOMAIN_CONTROLLER) {
        if (v.dwMajorVersion == 5 && v.dwMinorVersion == 2) {
            if (suite & OS_SUITE_DATACENTER)
                Emit(sink, user, "Datacenter Edition ");
            else if (suite & OS_SUITE_ENTERPRISE)
                Emit(sink, user, "Enterprise Edition ");
            else if (suite == OS_SUITE_BLADE)
                Emit(sink, user, " Web Edition ");
            else
                Emit(sink, user, "Standard Edition ");
        } else if (v.dwMajorVersion == 5 && v.dwMinorVersion == 0) {
            if (suite & OS_SUITE_DATACENTER)
                Emit(sink, user, "Datacenter Server ");
            else if (suite & OS_SUITE_ENTERPRISE)
                Emit(sink, user, "Advanced Server ");
            else
                Emit(sink, user, "Server ");
        } else if (suite & OS_SUITE_ENTERPRISE) {
            Emit(sink, user, "Server 4.0, Enterprise Edition ");
        } else {
            Emit(sink, user, "Server 4.0 ");
        }
    }
}

// The edition from the stored product type, for systems without extended information; false when
// that value could not be read.
bool EmitStoredEdition(const COsVersion& v, OsTextSink sink, void* user)
{
    if (v.pszProductType == nullptr)
        return false;
    if (strcasecmp(v.pszProductType, "WINNT") == 0)
        Emit(sink, user, "Workstation ");
    if (strcasecmp(v.pszProductType, "LANMANNT") == 0)
        Emit(sink, user, "Server ");
    if (strcasecmp(v.pszProductType, "SERVERNT") == 0)
        Emit(sink, user, "Advanced Server ");
    char text[32];
    snprintf(text, sizeof text, "%u.%u ", v.dwMajorVersion, v.dwMinorVersion);
    Emit(sink, user, text);
    return true;
}

} // namespace

int DescribeOperatingSystem(const COsVersion* version, OsTextSink sink, void* user)
{
    if (version == nullptr)
        return 0;
    const COsVersion& v = *version;
    const char* csd = v.pszCSDVersion != nullptr ? v.pszCSDVersion : "";
    const uint32_t major = v.dwMajorVersion, minor = v.dwMinorVersion;

    if (v.dwPlatformId == OS_PLATFORM_WIN32S) {
        Emit(sink, user, "Microsoft Win32s\n");
        return 0;
    }
    if (v.dwPlatformId == OS_PLATFORM_WIN9X) {
        // The second character of the service-pack text tells the second editions apart.
        const char mark = csd[0] != '\0' ? csd[1] : '\0';
        if (major == 4 && minor == 0) {
            Emit(sink, user, "Microsoft Windows 95 ");
            if (mark == 'C' || mark == 'B')
                Emit(sink, user, "OSR2 ");
        } else if (major == 4 && minor == 10) {
            Emit(sink, user, "Microsoft Windows 98 ");
            if (mark == 'A')
                Emit(sink, user, "SE ");
        } else if (major == 4 && minor == 90) {
            Emit(sink, user, "Microsoft Windows Millennium Edition\n");
        }
        return 0;
    }
    if (v.dwPlatformId != OS_PLATFORM_NT)
        return 0;

    int supported = 0;
    if (major == 6 && minor == 0) {
        Emit(sink, user, "Microsoft Windows Vista family, ");
        supported = 1;
    } else if (major == 5 && minor == 2) {
        Emit(sink, user, "Microsoft Windows Server 2003 family, ");
        supported = 1;
    } else if (major == 5 && minor == 1) {
        Emit(sink, user, "Microsoft Windows XP, ");
        supported = 1;
    } else if (major == 5 && minor == 0) {
        Emit(sink, user, "Microsoft Windows 2000, ");
        supported = 1;
    } else if (major <= 4) {
        Emit(sink, user, "Microsoft Windows NT, ");
    }

    if (v.bExtended)
        EmitEdition(v, sink, user);
    else if (!EmitStoredEdition(v, sink, user))
        return 0;

    char text[192];
    const unsigned build = v.dwBuildNumber & 0xFFFFu;
    if (major == 4 && strcmp(csd, "Service Pack 6") == 0 && v.bHotfixQ246009)
        snprintf(text, sizeof text, "Service Pack 6a (Build %u)\n", build);
    else
        snprintf(text, sizeof text, "%.128s (Build %u)\n", csd, build);
    Emit(sink, user, text);
    return supported;
}

int DescribeRunningSystem()
{
    utsname name{};
    if (uname(&name) != 0)
        return 0;
    char text[sizeof name.sysname + sizeof name.release + sizeof name.machine + sizeof name.version + 8];
    snprintf(text, sizeof text, "%s %s %s (%s)\n", name.sysname, name.release, name.machine, name.version);
    px::DebugOutput(text);
    return 1;
}
