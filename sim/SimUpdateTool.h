// The camera's update side in the simulator: its message server and its update tool.
//
// The tool is started through the web service (the start-program identifier with
// "Restorix.exe ..."). It stops the camera's agent processes, waits for the host on the message
// server, checks the files that the host copied into the RAM files folder, sends its stage lines
// with percentages, announces the reboot ("REBOOT pending", then, once the host left its order
// file, "REBOOT Automatic") and ends with "********" and its status; after a successful update the
// camera reboots and its store reports the package's versions.
//
// Who owns what, and which thread runs where: CSimUpdateTool belongs to the web service and owns
// the listening socket with its accept thread ("SimMsgSrv"), the accepted connections (the tool
// writes to the newest) and the tool's thread ("SimTool"). m_lock guards the connections and the
// tool's state; no lock is held while sending. m_threadLock orders the tool thread's start and
// join. Stop() wakes both threads and joins them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "sim/SimWebConfig.h"

namespace pxsim {

class CSimWebService;

// One line of the tool as it goes on the wire: the text, two blanks, zeros up to 256 bytes, so
// that each read of the host takes exactly one line.
std::vector<uint8_t> SimToolBlock(const std::string& text);

// The store values that a package's "version.ini" gives a camera once installed.
std::map<uint32_t, SimStoreValue> SimVersionsOfPackage(const std::string& versionIni);

// An update package of the simulator's making, written into folder.
struct SimPackage {
    std::string strOs = "4.1";     // operating system version; the default camera has 4.0
    int32_t lOsBuild = 10;
    int32_t lQfe = 2;
    std::string strQvl = "9.2.0";  // the imaging library's build
    bool bFlowsmith = true;        // the Flowsmith agent's versions
    bool bNk = true;               // an operating system image
    bool bExPackages = true;       // "filepackEx.bin"/"filepackUserEx.bin", else the older names
    uint32_t dwNkBytes = 3u << 20, dwPackBytes = 1u << 20, dwUserBytes = 512u << 10;
};
int WriteSimPackage(const std::string& folder, const SimPackage& package);

class CSimUpdateTool {
public:
    explicit CSimUpdateTool(CSimWebService& web);
    ~CSimUpdateTool();
    CSimUpdateTool(const CSimUpdateTool&) = delete;
    CSimUpdateTool& operator=(const CSimUpdateTool&) = delete;

    // Opens the message server. 0 or errno.
    int Start(const SimUpdateConfig& config, uint32_t bindAddress);
    void Stop();
    uint16_t Port() const { return m_usPort; }
    const std::string& RamFiles() const { return m_config.strRamFiles; }

    SimUpdateFaults Faults() const;
    void SetFaults(const SimUpdateFaults& faults);
    // Starts the tool; false when it does not start (the fault) or runs already.
    bool Launch();
    bool Running() const;
    // The lines the tool sent in its last run, and the connections the server accepted.
    std::vector<std::string> Lines() const;
    uint32_t Accepted() const;

private:
    void AcceptLoop();
    void Run();
    // False when the tool is to stop (the simulator stops, or the host went away).
    bool Send(const std::string& text);
    bool Pause(uint32_t ms);
    bool WaitForHost();
    bool WaitForOrderFile();
    std::string RamPath(const std::string& name) const { return m_config.strRamFiles + "/" + name; }

    CSimWebService& m_web;
    SimUpdateConfig m_config;
    uint16_t m_usPort = 0;
    px::SocketHandle m_listen = px::kInvalidSocket;
    px::Event m_stopAccept{true, false};
    px::Thread m_acceptThread, m_toolThread;

    // Orders a launch (on a web handler's thread) against Stop(): the tool's thread object is
    // started and joined under it. The tool's own thread never takes it.
    std::mutex m_threadLock;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bStopping = false;
    bool m_bRunning = false;
    SimUpdateFaults m_faults;
    std::vector<px::SocketHandle> m_clients;
    uint32_t m_dwAccepted = 0;
    std::vector<std::string> m_lines;
};

} // namespace pxsim
