// The camera behind the web service's store, as an update sees it: the agent's stop, the RAM file
// system's resize, the safe mode and the reboot, the processes, and the versions an update installs.
#include <strings.h>

#include "platform/File.h"
#include "sim/SimUpdateTool.h"
#include "sim/SimWebService.h"

namespace pxsim {

using namespace simstore;

int32_t CSimWebService::Store(uint32_t id, const SimStoreValue& value)
{
    const SimUpdateFaults faults = m_pTool ? m_pTool->Faults() : SimUpdateFaults{};
    bool reboot = false, stopAgent = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (id == kStoreRamFilesSize && !value.bText) {
            // The RAM file system grows from the free RAM, as far as that goes.
            const int64_t freeRam = m_store[kStoreFreeRam].lValue, size = m_store[kStoreRamFilesSize].lValue;
            if (faults.bResizeFails || value.lValue < 0 || value.lValue > freeRam + size)
                return 1;
            m_store[kStoreFreeRam] = SimStoreValue::Integer(static_cast<int32_t>(freeRam + size - value.lValue));
        }
        m_store[id] = value;
        if (id == kStoreProcessName)
            m_strProcessName = value.bText ? value.strText : std::to_string(value.lValue);
        reboot = id == kStoreReboot && !value.bText && value.lValue == 1;
        stopAgent = id == kStoreStopAgent;
    }
    if (id == kStoreCommandLine && value.bText)
        StartProgram(value.strText);
    if (stopAgent)
        SetProcessRunning("flowsmithagent.exe", false);
    if (reboot)
        Reboot();
    if (id == kStoreRamFilesSize && faults.bShareFull && m_pTool) {
        // A full RAM disk: the file every package brings cannot be written (the device answers
        // every write with ENOSPC, also to root, whom no permission stops).
        const std::string target = m_pTool->RamFiles() + "/version.ini";
        px::FileDelete(target.c_str());
        px::FileSymlink("/dev/full", target.c_str());
    }
    return 0;
}

void CSimWebService::Reboot()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const bool safeMode = m_store[kStoreSafeMode].lValue == 1 && !m_store[kStoreSafeMode].bText;
        m_store[kStoreSafeMode] = SimStoreValue::Integer(0);
        const int32_t size = m_store[kStoreRamFilesSize].lValue;
        const int32_t freeRam = safeMode ? m_update.lSafeModeFreeRam : m_lNormalFreeRam;
        m_store[kStoreFreeRam] = SimStoreValue::Integer(freeRam);
        m_store[kStoreRamFilesSize] = SimStoreValue::Integer(size);
        m_processes.clear();
        if (!safeMode)
            m_processes = {"hostlet.exe", "flowsmithagent.exe"};
        m_downUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_update.dwRebootMs);
        m_bDownForever = m_pTool && m_pTool->Faults().bNeverBack;
    }
    if (m_log)
        m_log(1, "web camera reboots");
}

bool CSimWebService::Down() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bDownForever || std::chrono::steady_clock::now() < m_downUntil;
}

void CSimWebService::SetProcessRunning(const std::string& name, bool running)
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto it = m_processes.begin(); it != m_processes.end();) {
        if (strcasecmp(it->c_str(), name.c_str()) == 0)
            it = m_processes.erase(it);
        else
            ++it;
    }
    if (running)
        m_processes.push_back(name);
}

void CSimWebService::InstallVersions(const std::map<uint32_t, SimStoreValue>& values)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const auto& [id, value] : values)
            m_store[id] = value;
    }
    Reboot();
}

} // namespace pxsim
