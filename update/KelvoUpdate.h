// The camera update procedure behind PXKelvoUpdateEx: compare the package with the camera, stop
// the camera's agent, make room (through a safe-mode reboot when its memory is short), copy the
// package into the camera's RAM files, start the camera's update tool, follow its lines on the
// message server and wait for the camera to come back.
//
// Who owns what: one CKelvoUpdate per call, on the caller's thread; it owns one web-service
// client at a time (a new one after each reboot), the RAM share from the cleaning step on, and
// the message-server client from the tool's start to the end. Every wait is a sleep of the
// UpdateWaits in force (scaled by "UpdateTimeScale"); nothing is shared with other calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pellix/pellix.h"
#include "update/UpdateTiming.h"

class CWServClient;
class IRamShare;
class ClientTCP;

// The camera's store identifiers that the update uses.
enum : uint32_t {
    kStoreStopAgent = 0x240087,
    kStoreOsVersion = 0x14000E,
    kStoreOsBuild = 0x140010,
    kStoreQvlRunning = 0x240038,
    kStoreFreeRam = 0x240005,
    kStoreRamFilesSize = 0x240026,
    kStoreSafeMode = 0x240037,
    kStoreReboot = 0x240008,
    kStoreStartProgram = 0x240089,
    kStoreProcessRunning = 0x240085,
};

// The command line that starts the camera's update tool on its RAM files.
constexpr const char* kToolCommandLine = "Restorix.exe RAMFILES NETWORKMESSAGES";
// The file the host leaves in the RAM files when the tool announces a pending reboot.
constexpr const char* kRebootOrderFile = "RX_REBOOT_ORDER.tmp";
// The first operating system that takes the "Ex" file packages: 4.0 build 246.
constexpr uint32_t kExPackagesOs = 0x040000F6;

// What one line of the update tool means to the procedure.
struct ToolLine {
    bool bStage = false;          // the line carries a stage ("%X::")
    uint32_t dwStage = 0;
    std::string strDetail;        // after "::", or the whole text
    bool bPercent = false;        // a percentage (a detail that begins with a digit, or "Completed")
    int32_t lPercent = 0;
    bool bRebootPending = false, bRebootAutomatic = false;
    bool bFinal = false;          // "********" and the tool's final status
    int32_t lStatus = 0;
};
// Reads count received bytes the way the procedure takes them (text up to a NUL, cut at the first
// "  ", line ends made blanks).
ToolLine ParseToolLine(const char* bytes, size_t count);
// The name of a stage, null for those without one.
const char* StageName(uint32_t stage);

class CKelvoUpdate {
public:
    CKelvoUpdate(const char* camera, const char* packageFolder, int complete, PXUpdateCallback callback);
    ~CKelvoUpdate();
    CKelvoUpdate(const CKelvoUpdate&) = delete;
    CKelvoUpdate& operator=(const CKelvoUpdate&) = delete;

    int Run();

private:
    struct Sizes;

    int Decide(bool* proceed);
    int Connect();
    int WaitForImagingApplications();
    void MeasurePackage(Sizes* sizes) const;
    int MakeRoom(const Sizes& sizes);
    int Reconnect();
    int CleanRamFiles();
    int Resize(const Sizes& sizes);
    int CopyPackage(const Sizes& sizes);
    int StartTool();
    int WaitWhileRunning(const char* process, const char* heading);
    int FollowTool();
    int WaitForReboot();
    int Finish(int result);

    bool ReadInteger(uint32_t id, int32_t* value);
    void Report(int kind, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void ReportPercent(int32_t percent);
    int Fail(int code, const char* heading, const char* explanation);
    void Sleep(uint32_t ms) const;

    std::string m_strCamera, m_strPackage;
    bool m_bComplete = false;   // forced by the caller, then by the decision
    PXUpdateCallback m_callback;
    UpdateWaits m_waits;
    std::unique_ptr<CWServClient> m_pClient;
    std::unique_ptr<IRamShare> m_pShare;
    std::unique_ptr<ClientTCP> m_pMessages;
    uint32_t m_dwOs = 0;           // ((major * 256 + minor) * 65536 + build)
    uint32_t m_dwElapsed = 0;      // the poll counter of the application and process checks
    bool m_bSafeModeReboot = false;
    int m_result = 0;
};
