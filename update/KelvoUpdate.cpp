#include "update/KelvoUpdate.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/Clock.h"
#include "platform/Config.h"
#include "platform/File.h"
#include "update/MessageSocket.h"
#include "update/RamShare.h"
#include "update/VersionInquiry.h"
#include "update/WServClient.h"

namespace {

constexpr uint32_t kPollCounterLimit = 10000;   // ten polls of the application and process checks
constexpr uint64_t kRamFilesReserve = 0x300000;
constexpr uint64_t kFreeRamReserve = 0x400000;
constexpr uint16_t kMessageServerPort = 3074;
constexpr int kToolLineSize = 256;
constexpr const char* kCouldNotStart = "Restorix operation could not start";

bool Contains(const std::string& text, const char* what) { return text.find(what) != std::string::npos; }

bool ContainsNoCase(const std::string& text, const char* what)
{
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find(what) != std::string::npos;
}

// "%X" at the start of text (blanks first, an optional sign, an optional 0x).
bool ScanHexAtStart(const std::string& text, uint32_t* out, size_t maxDigits = 8)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0)
        i += 2;
    uint32_t v = 0;
    size_t digits = 0;
    for (; i < text.size() && digits < maxDigits && std::isxdigit(static_cast<unsigned char>(text[i])); ++i, ++digits)
        v = v * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(text[i]))
                                               ? text[i] - '0'
                                               : std::tolower(static_cast<unsigned char>(text[i])) - 'a' + 10);
    if (digits == 0)
        return false;
    *out = v;
    return true;
}

bool IsOne(const SoapValue& v)
{
    int32_t n = 0;
    return v.ToInteger(&n) && n == 1;
}

int KiB(uint64_t bytes) { return static_cast<int>(bytes / 1024); }

// A file directly in the package folder (subfolders are not part of the package's sizes).
std::vector<px::FolderEntry> PackageFiles(const std::string& folder, int* error)
{
    std::vector<px::FolderEntry> all, files;
    *error = px::FolderList(folder.c_str(), &all);
    for (px::FolderEntry& e : all)
        if (e.bRegular)
            files.push_back(std::move(e));
    return files;
}

} // namespace

ToolLine ParseToolLine(const char* bytes, size_t count)
{
    ToolLine line;
    std::string text(bytes, strnlen(bytes, count));
    const size_t cut = text.find("  ");
    if (cut != std::string::npos)
        text.resize(cut);
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    const size_t sep = text.find("::");
    if (sep != std::string::npos) {
        line.bStage = ScanHexAtStart(text, &line.dwStage);
        line.strDetail = text.substr(sep + 2);
    } else {
        line.strDetail = text;
    }
    if (!line.strDetail.empty()) {
        if (std::isdigit(static_cast<unsigned char>(line.strDetail[0]))) {
            int32_t v = 0;
            ScanDottedDecimals(line.strDetail, &v, 1);
            line.bPercent = true;
            line.lPercent = v;
        } else if (Contains(text, "Completed")) {
            line.bPercent = true;
            line.lPercent = 100;
        }
    }
    if (Contains(text, "REBOOT")) {
        line.bRebootPending = Contains(text, "pending");
        line.bRebootAutomatic = Contains(text, "Automatic");
    }
    const size_t stars = text.find("********");
    uint32_t status = 0;
    if (stars != std::string::npos && ScanHexAtStart(text.substr(stars + 8), &status, 2)) {
        line.bFinal = true;
        line.lStatus = static_cast<int32_t>(status);
    }
    return line;
}

const char* StageName(uint32_t stage)
{
    switch (stage) {
    case 0: return "Rebooting";
    case 2: return "BootRom Update";
    case 3: return "Formating partitions";
    case 5: return "OS Update";
    case 6: return "CeDisk Update";
    case 7: return "FPGA Update";
    case 8: return "UserDisk Update";
    default: return nullptr;
    }
}

// The file packages found in the package's "Package" folder, and the sizes they make.
struct CKelvoUpdate::Sizes {
    uint64_t qwFiles = 0;       // the files of the package folder that are copied
    uint64_t qwNk = 0;          // the operating system image (complete updates)
    std::string strFirst, strUser;       // the file packages found ("" when none)
    uint64_t qwFirst = 0, qwUser = 0;
    bool bFirstEx = false, bUserEx = false;
    uint64_t qwRamFilesNeeded = 0, qwFreeRamNeeded = 0;
};

CKelvoUpdate::CKelvoUpdate(const char* camera, const char* packageFolder, int complete, PXUpdateCallback callback)
    : m_strCamera(camera != nullptr ? camera : ""),
      m_strPackage(packageFolder != nullptr ? packageFolder : ""),
      m_bComplete(complete != 0),
      m_callback(callback),
      m_waits(CurrentUpdateWaits())
{
    while (m_strPackage.size() > 1 && (m_strPackage.back() == '/' || m_strPackage.back() == '\\'))
        m_strPackage.pop_back();
}

CKelvoUpdate::~CKelvoUpdate() = default;

void CKelvoUpdate::Report(int kind, const char* format, ...)
{
    if (m_callback == nullptr)
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    m_callback(kind, text);
}

void CKelvoUpdate::ReportPercent(int32_t percent)
{
    if (m_callback != nullptr)
        m_callback(PX_UPDATE_PERCENT, &percent);
}

int CKelvoUpdate::Fail(int code, const char* heading, const char* explanation)
{
    Report(PX_UPDATE_HEADING, "%s", heading);
    Report(PX_UPDATE_DETAIL, "%s", explanation);
    return code;
}

void CKelvoUpdate::Sleep(uint32_t ms) const
{
    if (ms != 0)
        px::SleepMs(ms);
}

bool CKelvoUpdate::ReadInteger(uint32_t id, int32_t* value)
{
    const SoapValue v = m_pClient->GetStoreApiDataOLE(id);
    if (v.IsEmpty())
        return false;
    if (!v.ToInteger(value))
        *value = 0;   // an answer that is no number counts as none of it
    return true;
}

int CKelvoUpdate::Run()
{
    bool proceed = false;
    int r = Decide(&proceed);
    if (r != 0 || !proceed)
        return Finish(r);
    if ((r = Connect()) != 0 || (r = WaitForImagingApplications()) != 0)
        return r;
    Sizes sizes;
    MeasurePackage(&sizes);
    if ((r = MakeRoom(sizes)) != 0 || (r = Reconnect()) != 0 || (r = CleanRamFiles()) != 0 ||
        (r = Resize(sizes)) != 0 || (r = CopyPackage(sizes)) != 0 || (r = StartTool()) != 0)
        return Finish(r);
    return Finish(FollowTool());
}

int CKelvoUpdate::Decide(bool* proceed)
{
    uint32_t code = 0;
    if (InquireUpdate(m_strCamera.c_str(), m_strPackage.c_str(), 0, &code) == 0)
        return Fail(0x808, "Error at execution of Inquire Version", "Version inquire failed to retrieve information");
    const bool forced = m_bComplete;
    const char* start = nullptr;
    switch (code) {
    case kUpdateInstalled:
        if (!forced) {
            Report(PX_UPDATE_HEADING, "Required version already installed on %s", m_strCamera.c_str());
            return 0;
        }
        start = "Starting complete upgrade";
        break;
    case kUpdatePartialDowngrade:
        start = forced ? "Starting complete downgrade" : "Starting partial downgrade";
        break;
    case kUpdatePartialUpgrade:
        start = forced ? "Starting complete upgrade" : "Starting partial upgrade";
        break;
    case kUpdateCompleteDowngrade:
        start = "Starting complete downgrade";
        m_bComplete = true;
        break;
    case kUpdateCompleteUpgrade:
        start = "Starting complete upgrade";
        m_bComplete = true;
        break;
    case kUpdateNotComparable:
        if (!forced) {
            Report(PX_UPDATE_HEADING, "Can't install this version on current hardware");
            return 0x80B;
        }
        start = "Starting complete reinstall";
        break;
    default:
        return Fail(0x808, "Error at execution of Inquire Version", "Information retrieved is not supported");
    }
    Report(PX_UPDATE_HEADING, "%s", start);
    *proceed = true;
    return 0;
}

int CKelvoUpdate::Connect()
{
    m_pClient = std::make_unique<CWServClient>(m_strCamera.c_str(), nullptr, nullptr);
    if (!m_pClient->Connected()) {
        Report(PX_UPDATE_HEADING, "Error at execution of Connection to KELVO");
        Report(PX_UPDATE_DETAIL, "Cannot connect to %s", m_strCamera.c_str());
        return 0x801;
    }
    Report(PX_UPDATE_HEADING, "Initial connection established");
    Report(PX_UPDATE_HEADING, "Stopping FlowsmithAgent application");
    m_pClient->SetStoreApiData(kStoreStopAgent, 0);
    int32_t os[2] = {0, 0}, build = 0;
    ScanDottedDecimals(m_pClient->GetStoreApiDataOLE(kStoreOsVersion).ToText(), os, 2);
    ScanDottedDecimals(m_pClient->GetStoreApiDataOLE(kStoreOsBuild).ToText(), &build, 1);
    m_dwOs = ((static_cast<uint32_t>(os[0]) * 256 + static_cast<uint32_t>(os[1])) << 16) + static_cast<uint32_t>(build);
    return 0;
}

int CKelvoUpdate::WaitForImagingApplications()
{
    m_dwElapsed = 0;
    for (;;) {
        int32_t running = 0;
        if (!ReadInteger(kStoreQvlRunning, &running))
            return 0x801;
        Sleep(m_waits.dwPollMs);
        m_dwElapsed += 1000;
        if (running != 1)
            return 0;
        if (m_dwElapsed >= kPollCounterLimit) {
            Report(PX_UPDATE_HEADING, "Error, No rescue can be done while one QVL application is running");
            return 0x80A;
        }
    }
}

void CKelvoUpdate::MeasurePackage(Sizes* s) const
{
    int error = 0;
    for (const px::FolderEntry& f : PackageFiles(m_strPackage, &error)) {
        const bool nk = ContainsNoCase(f.name, "nk.bin");
        if (nk && !m_bComplete)
            continue;
        s->qwFiles += f.size;
        if (m_bComplete && strcasecmp(f.name.c_str(), "NK.bin") == 0)
            s->qwNk = f.size;
    }
    const std::string folder = m_strPackage + "/Package/";
    auto find = [&](const char* name, std::string* found, uint64_t* size) {
        px::FolderEntry e;
        if (px::FileAttributes((folder + name).c_str(), &e) != 0 || !e.bRegular)
            return false;
        *found = name;
        *size = e.size;
        return true;
    };
    if (m_dwOs == 0 || m_dwOs >= kExPackagesOs) {
        s->bFirstEx = find("filepackEx.bin", &s->strFirst, &s->qwFirst);
        s->bUserEx = find("filepackUserEx.bin", &s->strUser, &s->qwUser);
        if (!s->bFirstEx)
            find("filepack.bin", &s->strFirst, &s->qwFirst);
    } else {
        find("filepack.bin", &s->strFirst, &s->qwFirst);
    }
    if (!s->bUserEx)
        find("filepackUser.bin", &s->strUser, &s->qwUser);
    s->qwRamFilesNeeded = s->qwFiles + s->qwFirst + s->qwUser + kRamFilesReserve;
    s->qwFreeRamNeeded = std::max({m_bComplete ? s->qwNk : 0, s->qwFirst, s->qwUser}) + kFreeRamReserve;
}

int CKelvoUpdate::MakeRoom(const Sizes& s)
{
    int32_t freeRam = 0, ramFiles = 0;
    if (!ReadInteger(kStoreFreeRam, &freeRam))
        return 0x801;
    Report(PX_UPDATE_DETAIL, "%d kB of free RAM needed. Reporting %d kB of Free Ram", KiB(s.qwFreeRamNeeded),
           KiB(static_cast<uint32_t>(freeRam)));
    if (!ReadInteger(kStoreRamFilesSize, &ramFiles))
        return 0x801;
    Report(PX_UPDATE_DETAIL, "%d kB of Ram file system space needed. Reporting a ram file system size of %d kB",
           KiB(s.qwRamFilesNeeded), KiB(static_cast<uint32_t>(ramFiles)));
    const uint64_t have = uint64_t{static_cast<uint32_t>(freeRam)} + static_cast<uint32_t>(ramFiles);
    const uint64_t need = s.qwRamFilesNeeded + s.qwFreeRamNeeded;
    if (have <= need) {
        m_pClient->SetStoreApiData(kStoreSafeMode, 1);
        m_pClient->SetStoreApiData(kStoreReboot, 1);
        m_pClient.reset();
        Report(PX_UPDATE_DETAIL, "Rebooting in safe mode. Total ram needed: %d kB", KiB(need));
        m_bSafeModeReboot = true;
        Sleep(m_waits.dwSafeModeRebootMs);
    } else {
        m_pClient.reset();
    }
    return 0;
}

int CKelvoUpdate::Reconnect()
{
    const uint64_t start = px::TickCount64();
    for (;;) {
        m_pClient = std::make_unique<CWServClient>(m_strCamera.c_str(), nullptr, nullptr);
        if (m_pClient->Connected()) {
            Report(PX_UPDATE_DETAIL, "Connection successful");
            return 0;
        }
        Sleep(m_waits.dwPollMs);
        m_pClient.reset();
        if (px::TickCount64() - start >= m_waits.dwReconnectLimitMs)
            return Fail(0x802, "Error at execution of Reboot - Timeout", "Time out during \"Safe-Mode\" reboot");
    }
}

int CKelvoUpdate::CleanRamFiles()
{
    Report(PX_UPDATE_HEADING, "Cleaning files from RamFiles");
    m_pShare = OpenRamShare(m_strCamera);
    std::vector<RamEntry> entries;
    int e = m_pShare->ListAll("", &entries);
    if (e != 0 && m_pShare->NameGone(e)) {
        Sleep(m_waits.dwShareRetryMs);
        entries.clear();
        e = m_pShare->ListAll("", &entries);
    }
    for (size_t i = 0; e == 0 && i < entries.size(); ++i)
        e = m_pShare->SetNormal(entries[i].strPath);
    if (e != 0) {
        Report(PX_UPDATE_HEADING, "Error at execution of file attributes change");
        Report(PX_UPDATE_DETAIL, "Cannot change file attributes on existing files");
        Report(PX_UPDATE_DETAIL, "Error %d", e);
        return 0x803;
    }
    if (m_pShare->DeleteAll() != 0)
        return Fail(0x803, "Error at execution of files delete", "File deletion not completed properly");
    Report(PX_UPDATE_DETAIL, "Files deleted on RamFiles partition");
    return 0;
}

int CKelvoUpdate::Resize(const Sizes& s)
{
    Report(PX_UPDATE_HEADING, "Copying necessary files to RamFiles");
    int32_t freeRam = 0, ramFiles = 0;
    if (!ReadInteger(kStoreFreeRam, &freeRam) || !ReadInteger(kStoreRamFilesSize, &ramFiles))
        return 0x801;
    if (m_bSafeModeReboot) {
        Report(PX_UPDATE_DETAIL, "We need %d kB of free RAM. Actuallly %d kB of free RAM", KiB(s.qwFreeRamNeeded),
               KiB(static_cast<uint32_t>(freeRam)));
        Report(PX_UPDATE_DETAIL, "%d kB of Ram file system space needed. Actual ram file system size %d kB",
               KiB(s.qwRamFilesNeeded), KiB(static_cast<uint32_t>(ramFiles)));
    }
    // The store takes a 32-bit size: a package that needs more cannot fit a camera's RAM anyway.
    const int32_t bytes = static_cast<int32_t>(std::min<uint64_t>(s.qwRamFilesNeeded, 0x7FFFFFFF));
    if (m_pClient->SetStoreApiData(kStoreRamFilesSize, bytes) != 0) {
        Report(PX_UPDATE_HEADING, "Error at execution of RamFiles size adjustment");
        Report(PX_UPDATE_DETAIL, "Cannot adjust RamFiles partition size to %d (Free RAM %d) kB", KiB(s.qwRamFilesNeeded),
               KiB(static_cast<uint32_t>(freeRam)));
        return 0x804;
    }
    Report(PX_UPDATE_DETAIL, "RamFiles size adjusted successfully!");
    return 0;
}

int CKelvoUpdate::CopyPackage(const Sizes& s)
{
    Report(PX_UPDATE_DETAIL, "Copying files");
    m_dwElapsed = 0;
    constexpr const char* kCopyFailed = "File copy not completed properly";
    int error = 0;
    for (const px::FolderEntry& f : PackageFiles(m_strPackage, &error)) {
        if (!m_bComplete && ContainsNoCase(f.name, "nk.bin"))
            continue;
        if (m_pShare->CopyIn(m_strPackage + "/" + f.name, f.name) != 0)
            return Fail(0x805, "Error at execution of files copy", kCopyFailed);
    }
    if (m_pShare->CreateFolder("Package") != 0)
        return Fail(0x805, "Error at execution of Package folder creation",
                    "Package folder creation not completed properly");
    const std::string from = m_strPackage + "/Package/";
    auto copy = [&](const std::string& name, const char* heading) {
        return m_pShare->CopyIn(from + name, "Package/" + name) == 0 ? 0 : Fail(0x805, heading, kCopyFailed);
    };
    int r = 0;
    if (s.bFirstEx && m_bComplete && (r = copy(s.strFirst, "Error at execution of filepackex copy")) != 0)
        return r;
    if (s.bUserEx) {
        if ((r = copy(s.strUser, "Error at execution of filepackuserex copy")) != 0)
            return r;
        // A partial update installs the user package under its older name.
        if (!m_bComplete && m_pShare->Rename("Package/" + s.strUser, "Package/filepackUser.bin") != 0)
            m_result = Fail(0x805, "Error at execution of filepackuserex copy", "File renaming not completed properly");
    }
    if (!s.bFirstEx && !s.strFirst.empty() && (r = copy(s.strFirst, "Error at execution of filepack copy")) != 0)
        return r;
    if (!s.bUserEx && !s.strUser.empty() && (r = copy(s.strUser, "Error at execution of filepackuser copy")) != 0)
        return r;
    Report(PX_UPDATE_DETAIL, "Files copied to %s\\RAMFiles", m_strCamera.c_str());
    return 0;
}

int CKelvoUpdate::StartTool()
{
    const SoapValue started = m_pClient->SetAndGetStoreApiDataOLE(kStoreStartProgram, kToolCommandLine);
    int32_t n = 0;
    if (started.IsEmpty() || (started.ToInteger(&n) && n == 0))
        return Fail(0x806, "Error at execution of RestoRix launch", kCouldNotStart);

    m_pMessages = std::make_unique<ClientTCP>();
    m_pMessages->SetHost(m_strCamera.c_str());
    m_pMessages->SetPort(px::ConfigGetNumber("MessageServerPort", kMessageServerPort));
    const uint64_t start = px::TickCount64();
    bool connected = m_pMessages->connect();
    int attempts = 1;
    Report(PX_UPDATE_DETAIL, "Connecting to Message Server. Attempt %d...", attempts);
    while (!connected && px::TickCount64() - start < m_waits.dwMessageServerMs) {
        Sleep(m_waits.dwPollMs);
        ++attempts;
        Report(PX_UPDATE_DETAIL, "Connecting to Message Server. Attempt %d...", attempts);
        connected = m_pMessages->connect();
    }
    if (m_callback != nullptr) {
        const SoapValue tool = m_pClient->SetAndGetStoreApiDataOLE(kStoreProcessRunning, "Restorix.exe");
        if (tool.IsEmpty() || (tool.ToInteger(&n) && n == 0))
            return Fail(0x806, "Error at execution of RestoRix (not running)", kCouldNotStart);
        int r = WaitWhileRunning("hostlet.exe", "Error at execution of Hostlet stop");
        if (r == 0)
            r = WaitWhileRunning("flowsmithagent.exe", "Error at execution of FlowsmithAgent stop");
        if (r != 0)
            return r;
    }
    if (!connected) {
        Report(PX_UPDATE_HEADING, "Error at connection to message server on the KELVO. Tried %d times.", attempts);
        Report(PX_UPDATE_DETAIL, "%s", kCouldNotStart);
        return 0x806;
    }
    return 0;
}

int CKelvoUpdate::WaitWhileRunning(const char* process, const char* heading)
{
    bool running = false;
    do {
        running = IsOne(m_pClient->SetAndGetStoreApiDataOLE(kStoreProcessRunning, process));
        Sleep(m_waits.dwPollMs);
        m_dwElapsed += 1000;
    } while (running && m_dwElapsed < kPollCounterLimit);
    return running ? Fail(0x806, heading, kCouldNotStart) : 0;
}

int CKelvoUpdate::FollowTool()
{
    bool haveStage = false;
    uint32_t stage = 0;
    for (;;) {
        char bytes[kToolLineSize];
        const int n = m_pMessages->receive(bytes, sizeof bytes, m_waits.dwToolSilenceS, false);
        if (n < 0)
            return Fail(0x807, "Error at execution of Restorix log read",
                        "Socket error on Restorix. Note: The update operation may have been completed successfully.");
        if (n == 0)
            return Fail(0x807, "Error at execution of Restorix log read",
                        "Timeout error on Restorix. No information has been received from the camera for awhile. "
                        "Please check the connection and try again. Note: The update operation may have been "
                        "completed successfully.");
        const ToolLine line = ParseToolLine(bytes, static_cast<size_t>(n));
        if (line.bStage && (!haveStage || line.dwStage != stage)) {
            haveStage = true;
            stage = line.dwStage;
            if (const char* name = StageName(stage))
                Report(PX_UPDATE_HEADING, "%s", name);
        }
        if (line.bPercent)
            ReportPercent(line.lPercent);
        else if (!line.strDetail.empty())
            Report(PX_UPDATE_DETAIL, "%s", line.strDetail.c_str());
        if (line.bRebootPending)
            m_pShare->CreateEmpty(kRebootOrderFile);   // the tool looks for it; it has no answer to give
        if (line.bRebootAutomatic)
            return WaitForReboot();
        if (line.bFinal)
            return line.lStatus;
    }
}

int CKelvoUpdate::WaitForReboot()
{
    Sleep(m_waits.dwRebootSettleMs);
    const uint64_t start = px::TickCount64();
    Report(PX_UPDATE_HEADING, "Wait for first boot procedure completion (may take several minutes)");
    m_pClient.reset();
    for (;;) {
        const uint64_t elapsed = (px::TickCount64() - start) / 1000;
        Report(PX_UPDATE_DETAIL, "Please wait for Kelvo unit to be ready... (%2d min, %2d s)\r",
               static_cast<int>(elapsed / 60), static_cast<int>(elapsed % 60));
        m_pClient = std::make_unique<CWServClient>(m_strCamera.c_str(), nullptr, nullptr);
        if (m_pClient->Connected()) {
            const uint64_t took = (px::TickCount64() - start) / 1000;
            Report(PX_UPDATE_DETAIL, "Unit %s has successfully rebooted after %2d min, %2d s", m_strCamera.c_str(),
                   static_cast<int>(took / 60), static_cast<int>(took % 60));
            return m_result;
        }
        Sleep(m_waits.dwPollMs);
        m_pClient.reset();
        if (px::TickCount64() - start >= m_waits.dwRebootLimitMs)
            break;
    }
    Report(PX_UPDATE_HEADING, "Error at execution of Kelvo reconnection");
    Report(PX_UPDATE_DETAIL,
           "Cannot verify proper reboot of the Kelvo camera %s.\nThe update operation may have been completed "
           "successfully.\nMaybe the Kelvo camera was given a different IP address after reboot.",
           m_strCamera.c_str());
    return 0x802;
}

int CKelvoUpdate::Finish(int result)
{
    m_pMessages.reset();
    if (result == 0)
        Report(PX_UPDATE_HEADING, "KelvoUpdate successfully completed!");
    return result;
}
