#include "update/VersionInquiry.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/File.h"
#include "update/IniFile.h"
#include "update/WServClient.h"

namespace {

// Package files are a few hundred bytes; anything beyond this is no package file.
constexpr size_t kMaxPackageFile = 1u << 20;
constexpr size_t kResultTextSize = 256;

enum : uint32_t {
    kInquireOs = 0x14000E,
    kInquireOsBuild = 0x140010,
    kInquireOsQfe = 0x140011,
    kInquireQvlBuild = 0x140014,
    kInquireQvlSp = 0x1400B7,
    kInquireQvlSpRevision = 0x1400B8,
    kInquireQvlHotFix = 0x1400BB,
    kInquireFs = 0x1400C2,
    kInquireFsBuild = 0x1400C3,
    kInquireFsRevision = 0x1400C4,
    kInquireBootRom = 0x10000D,
    kInquireBootRomBuild = 0x10000E,
    kInquireSensor = 0x80007,
    kInquireFpga = 0x240039,
};

const struct {
    uint32_t id;
    const char* section;
} kInquiries[] = {
    {kInquireOs, "REG_OS_VERSION_ID"},
    {kInquireOsBuild, "REG_OS_BUILD_NUMBER_ID"},
    {kInquireOsQfe, "REG_OS_QFE_NUMBER_ID"},
    {kInquireQvlBuild, "REG_QVL_BUILD_NUMBER_ID"},
    {kInquireQvlSp, "REG_QVL_SERVICE_PACK_ID"},
    {kInquireQvlSpRevision, "REG_QVL_SERVICE_PACK_REVISION_ID"},
    {kInquireQvlHotFix, "REG_QVL_HOT_FIX_ID"},
    {kInquireFs, "REG_FS_VERSION_ID"},
    {kInquireFsBuild, "REG_FS_BUILD_NUMBER_ID"},
    {kInquireFsRevision, "REG_FS_REVISION_NUMBER_ID"},
    {kInquireBootRom, "ROMIF_BOOTROM_VERSION_ID"},
    {kInquireBootRomBuild, "ROMIF_BOOTROM_BUILDNUMBER_ID"},
    {kInquireSensor, nullptr},
    {kInquireFpga, nullptr},
};

uint64_t U(int32_t v) { return static_cast<uint64_t>(static_cast<int64_t>(v)); }

// major * 2^48 + minor * 2^24 + build, the last two terms as signed 32-bit numbers; with
// withBuild false, major and minor only.
int64_t PackTriple(const int32_t v[3], bool withBuild)
{
    const int32_t minorTerm = static_cast<int32_t>(static_cast<uint32_t>(v[1]) << 24);
    return static_cast<int64_t>((U(v[0]) << 48) + U(minorTerm) + (withBuild ? U(v[2]) : 0));
}

// (version * 2^24 + build) in 32 bits: only the low eight bits of the version count.
int64_t PackBootRom(int32_t version, int32_t build, bool withBuild)
{
    return static_cast<int32_t>((static_cast<uint32_t>(version) << 24) + (withBuild ? static_cast<uint32_t>(build) : 0));
}

int64_t PackFs(const VersionValues& v)
{
    return static_cast<int64_t>((((U(v.fsVersion[0]) << 16) + U(v.fsVersion[1])) << 32) + (U(v.fsBuild) << 16) +
                                U(v.fsRevision));
}

struct Packed {
    int64_t os, osStripped, qfe, qvl, qvlStripped, sp, spStripped, hotFix, fpga, bootRom, bootRomStripped, fs;
};

Packed Pack(const VersionValues& v)
{
    const int32_t os[3] = {v.osMajor, v.osMinor, v.osBuild};
    Packed p;
    p.os = PackTriple(os, true);
    p.osStripped = PackTriple(os, false);
    p.qfe = v.osQfe;
    p.qvl = PackTriple(v.qvlBuild, true);
    p.qvlStripped = PackTriple(v.qvlBuild, false);
    p.sp = PackTriple(v.qvlSpRevision, true);
    p.spStripped = PackTriple(v.qvlSpRevision, false);
    p.hotFix = v.qvlHotFix;
    p.fpga = v.fpgaRevision;
    p.bootRom = PackBootRom(v.bootRomVersion, v.bootRomBuild, true);
    p.bootRomStripped = PackBootRom(v.bootRomVersion, v.bootRomBuild, false);
    p.fs = PackFs(v);
    return p;
}

std::string Trimmed(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

// The text after the first ':', or empty.
std::string AfterColon(const std::string& s)
{
    const size_t colon = s.find(':');
    return colon == std::string::npos ? std::string() : Trimmed(s.substr(colon + 1));
}

// One value of the camera as its text form.
std::string CameraText(CWServClient* client, uint32_t id)
{
    if (client == nullptr)
        return {};
    const SoapValue v = client->GetStoreApiDataOLE(id);
    int32_t n = 0;
    char text[40];
    switch (id) {
    case kInquireBootRom:
        if (!v.ToInteger(&n))
            return {};
        std::snprintf(text, sizeof text, "%u.%u", static_cast<uint32_t>(n) / 65536, static_cast<uint32_t>(n) % 65536);
        return text;
    case kInquireBootRomBuild:
        return v.ToInteger(&n) ? std::to_string(n) : std::string();
    case kInquireSensor:
        if (!v.ToInteger(&n) || n == -1)
            return {};
        text[0] = '"';
        for (int bit = 7; bit >= 0; --bit)
            text[8 - bit] = ((n >> bit) & 1) ? '1' : '0';
        text[9] = '"';
        text[10] = '\0';
        return text;
    case kInquireFpga:
        if (!v.ToInteger(&n) || n == -1)
            return {};
        std::snprintf(text, sizeof text, "%08x", static_cast<uint32_t>(n));
        return text;
    default:
        return v.ToText();
    }
}

// The package's FPGA revision for the camera's sensor; the camera's own when the package has none.
std::string PackageFpga(CWServClient* client, const CIniFile& fpgaInfo)
{
    const std::string sensor = CameraText(client, kInquireSensor);
    const std::string name = sensor.empty() ? std::string() : AfterColon(fpgaInfo.Get("CCDList", sensor));
    const std::string revision = name.empty() ? std::string() : AfterColon(fpgaInfo.Get("Revision", name));
    return revision.empty() ? CameraText(client, kInquireFpga) : revision;
}

void ScanFrom(const std::string& text, size_t from, int32_t* out)
{
    if (text.size() > from)
        ScanDottedDecimals(text.substr(from), out, 1);
}

VersionValues PackageValues(const CIniFile& version, const std::string& fpga)
{
    VersionValues v;
    auto get = [&](uint32_t id) { return version.Get(VersionSection(id), "VALUE"); };
    int32_t os[2] = {};
    ScanDottedDecimals(get(kInquireOs), os, 2);
    v.osMajor = os[0], v.osMinor = os[1];
    ScanDottedDecimals(get(kInquireOsBuild), &v.osBuild, 1);
    ScanDottedDecimals(get(kInquireOsQfe), &v.osQfe, 1);
    ScanDottedDecimals(get(kInquireQvlBuild), v.qvlBuild, 3);
    ScanDottedDecimals(get(kInquireQvlSpRevision), v.qvlSpRevision, 3);
    ScanFrom(get(kInquireQvlHotFix), 3, &v.qvlHotFix);
    ScanHex8(fpga, &v.fpgaRevision);
    int32_t boot[2] = {};
    ScanDottedDecimals(get(kInquireBootRom), boot, 2);
    v.bootRomVersion = static_cast<int32_t>(static_cast<uint32_t>(boot[0]) * 65536u + static_cast<uint32_t>(boot[1]));
    ScanDottedDecimals(get(kInquireBootRomBuild), &v.bootRomBuild, 1);
    ScanDottedDecimals(get(kInquireFs), v.fsVersion, 2);
    ScanDottedDecimals(get(kInquireFsBuild), &v.fsBuild, 1);
    ScanDottedDecimals(get(kInquireFsRevision), &v.fsRevision, 1);
    return v;
}

// False when one of the values every camera reports is missing.
bool CameraValues(CWServClient* client, VersionValues* v)
{
    bool complete = true;
    auto get = [&](uint32_t id, bool essential) {
        SoapValue value = client->GetStoreApiDataOLE(id);
        if (essential && value.IsEmpty())
            complete = false;
        return value;
    };
    int32_t os[2] = {};
    ScanDottedDecimals(get(kInquireOs, true).ToText(), os, 2);
    v->osMajor = os[0], v->osMinor = os[1];
    ScanDottedDecimals(get(kInquireOsBuild, true).ToText(), &v->osBuild, 1);
    ScanDottedDecimals(get(kInquireOsQfe, true).ToText(), &v->osQfe, 1);
    ScanDottedDecimals(get(kInquireQvlBuild, true).ToText(), v->qvlBuild, 3);
    ScanDottedDecimals(get(kInquireQvlSpRevision, true).ToText(), v->qvlSpRevision, 3);
    ScanFrom(get(kInquireQvlHotFix, true).ToText(), 3, &v->qvlHotFix);
    ScanHex8(CameraText(client, kInquireFpga), &v->fpgaRevision);
    get(kInquireBootRom, true).ToInteger(&v->bootRomVersion);
    get(kInquireBootRomBuild, true).ToInteger(&v->bootRomBuild);
    ScanDottedDecimals(get(kInquireFs, false).ToText(), v->fsVersion, 2);
    ScanDottedDecimals(get(kInquireFsBuild, false).ToText(), &v->fsBuild, 1);
    ScanDottedDecimals(get(kInquireFsRevision, false).ToText(), &v->fsRevision, 1);
    return complete;
}

void WriteCode(void* result, uint32_t code)
{
    if (result != nullptr)
        std::memcpy(result, &code, sizeof code);
}

void WriteText(void* result, const std::string& text)
{
    if (result != nullptr)
        std::snprintf(static_cast<char*>(result), kResultTextSize, "%s", text.c_str());
}

} // namespace

const char* VersionSection(uint32_t inquiry)
{
    for (const auto& q : kInquiries)
        if (q.id == inquiry)
            return q.section;
    return nullptr;
}

bool IsVersionInquiry(uint32_t inquiry)
{
    for (const auto& q : kInquiries)
        if (q.id == inquiry)
            return true;
    return false;
}

int ScanDottedDecimals(const std::string& text, int32_t* out, int count)
{
    const char* p = text.c_str();
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            if (*p != '.')
                return i;
            ++p;
        }
        while (std::isspace(static_cast<unsigned char>(*p)))
            ++p;
        const bool negative = *p == '-';
        if (*p == '-' || *p == '+')
            ++p;
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return i;
        uint32_t v = 0;
        while (std::isdigit(static_cast<unsigned char>(*p)))
            v = v * 10u + static_cast<uint32_t>(*p++ - '0');
        out[i] = static_cast<int32_t>(negative ? 0u - v : v);
    }
    return count;
}

bool ScanHex8(const std::string& text, int32_t* out)
{
    const char* p = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    int width = 8;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && std::isxdigit(static_cast<unsigned char>(p[2]))) {
        p += 2;
        width -= 2;
    }
    uint32_t v = 0;
    int digits = 0;
    for (; digits < width && std::isxdigit(static_cast<unsigned char>(*p)); ++digits, ++p) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
        v = v * 16u + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    if (digits == 0)
        return false;
    *out = static_cast<int32_t>(v);
    return true;
}

uint32_t CompareVersions(const VersionValues& package, VersionValues camera)
{
    const Packed p = Pack(package);
    Packed c = Pack(camera);
    // A component the package does not carry is never compared.
    auto unless = [](int64_t packageValue, int64_t* cameraValue, int64_t* cameraStripped) {
        if (packageValue == 0) {
            *cameraValue = 0;
            if (cameraStripped != nullptr)
                *cameraStripped = 0;
        }
    };
    unless(p.os, &c.os, &c.osStripped);
    unless(p.qvl, &c.qvl, &c.qvlStripped);
    unless(p.sp, &c.sp, &c.spStripped);
    unless(p.bootRom, &c.bootRom, &c.bootRomStripped);
    unless(p.qfe, &c.qfe, nullptr);
    unless(p.hotFix, &c.hotFix, nullptr);
    unless(p.fpga, &c.fpga, nullptr);

    if ((p.fs != 0) != (c.fs != 0))
        return kUpdateNotComparable;
    if (p.os > c.os)
        return kUpdateCompleteUpgrade;
    if (p.osStripped < c.osStripped)
        return kUpdateCompleteDowngrade;
    if (p.qfe > c.qfe || p.hotFix > c.hotFix || p.fpga > c.fpga || p.qvl > c.qvl || p.sp > c.sp ||
        p.bootRom > c.bootRom || p.fs > c.fs)
        return kUpdatePartialUpgrade;
    if (p.qvlStripped >= c.qvlStripped && p.spStripped >= c.spStripped && p.bootRomStripped >= c.bootRomStripped &&
        p.fs >= c.fs)
        return kUpdateInstalled;
    return kUpdatePartialDowngrade;
}

uint32_t InquireUpdate(const char* camera, const char* packageFolder, uint32_t inquiry, void* result)
{
    CIniFile version, fpgaInfo;
    if (packageFolder != nullptr) {
        std::string folder = packageFolder;
        if (folder.empty() || folder.back() != '/')
            folder += '/';
        std::string text;
        if (px::FileReadAll((folder + "version.ini").c_str(), kMaxPackageFile, &text) != 0) {
            if (inquiry == 0)
                WriteCode(result, kUpdateErrorNoFiles);
            else
                WriteText(result, "Missing File");
            return 0;
        }
        version.Parse(text);
        // A package without it takes the camera's own FPGA revision.
        if (px::FileReadAll((folder + "FpgaRomInfo.txt").c_str(), kMaxPackageFile, &text) == 0)
            fpgaInfo.Parse(text);
    }
    std::unique_ptr<CWServClient> client;
    if (camera != nullptr) {
        client = std::make_unique<CWServClient>(camera, nullptr, nullptr);
        if (!client->Connected()) {
            if (inquiry == 0)
                WriteCode(result, kUpdateErrorConnect);
            else
                WriteText(result, "Unreachable Camera");
            return 0;
        }
    }

    if (inquiry != 0) {
        if (!IsVersionInquiry(inquiry))
            return 0;
        std::string text;
        if (inquiry == kInquireSensor)
            text = CameraText(client.get(), inquiry);
        else if (inquiry == kInquireFpga && packageFolder != nullptr)
            text = PackageFpga(client.get(), fpgaInfo);
        else if (packageFolder != nullptr)
            text = version.Get(VersionSection(inquiry), "VALUE");
        else
            text = CameraText(client.get(), inquiry);
        if (text.empty())
            return 0;
        WriteText(result, text);
        return 1;
    }

    if (camera == nullptr || packageFolder == nullptr)
        return 0;
    const VersionValues package = PackageValues(version, PackageFpga(client.get(), fpgaInfo));
    VersionValues cameraValues;
    if (!CameraValues(client.get(), &cameraValues)) {
        WriteCode(result, 0);
        return 0;
    }
    WriteCode(result, CompareVersions(package, cameraValues));
    return 1;
}
