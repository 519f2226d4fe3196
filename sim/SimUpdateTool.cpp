#include "sim/SimUpdateTool.h"

#include <strings.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/File.h"
#include "sim/SimWebService.h"

namespace pxsim {

namespace {

constexpr size_t kBlockSize = 256;
constexpr const char* kOrderFile = "RX_REBOOT_ORDER.tmp";

bool Exists(const std::string& path)
{
    px::FolderEntry e;
    return px::FileAttributes(path.c_str(), &e) == 0 && e.bRegular;
}

std::string Trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r\"");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t\r\"") - b + 1);
}

// The sections of an INI text with their "VALUE" keys.
std::map<std::string, std::string> IniValues(const std::string& text)
{
    std::map<std::string, std::string> out;
    std::string section;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trim(text.substr(at, end - at));
        at = end + 1;
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            for (char& c : section)
                c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        } else if (const size_t eq = line.find('='); eq != std::string::npos && !section.empty() &&
                                                     strcasecmp(Trim(line.substr(0, eq)).c_str(), "VALUE") == 0) {
            out[section] = Trim(line.substr(eq + 1));
        }
    }
    return out;
}

} // namespace

std::vector<uint8_t> SimToolBlock(const std::string& text)
{
    std::vector<uint8_t> block(kBlockSize, 0);
    const std::string line = text.substr(0, kBlockSize - 3) + "  ";
    std::memcpy(block.data(), line.data(), line.size());
    return block;
}

std::map<uint32_t, SimStoreValue> SimVersionsOfPackage(const std::string& versionIni)
{
    static const struct {
        const char* section;
        uint32_t id;
        bool text;
    } kValues[] = {
        {"REG_OS_VERSION_ID", 0x14000E, true},         {"REG_OS_BUILD_NUMBER_ID", 0x140010, false},
        {"REG_OS_QFE_NUMBER_ID", 0x140011, false},     {"REG_QVL_BUILD_NUMBER_ID", 0x140014, true},
        {"REG_QVL_SERVICE_PACK_ID", 0x1400B7, true},   {"REG_QVL_SERVICE_PACK_REVISION_ID", 0x1400B8, true},
        {"REG_QVL_HOT_FIX_ID", 0x1400BB, true},        {"REG_FS_VERSION_ID", 0x1400C2, true},
        {"REG_FS_BUILD_NUMBER_ID", 0x1400C3, false},   {"REG_FS_REVISION_NUMBER_ID", 0x1400C4, false},
        {"ROMIF_BOOTROM_BUILDNUMBER_ID", 0x10000E, false},
    };
    const std::map<std::string, std::string> ini = IniValues(versionIni);
    std::map<uint32_t, SimStoreValue> out;
    for (const auto& v : kValues) {
        const auto it = ini.find(v.section);
        if (it == ini.end())
            continue;
        out[v.id] = v.text ? SimStoreValue::Text(it->second) : SimStoreValue::Integer(std::atoi(it->second.c_str()));
    }
    if (const auto it = ini.find("ROMIF_BOOTROM_VERSION_ID"); it != ini.end()) {
        int major = 0, minor = 0;
        if (std::sscanf(it->second.c_str(), "%d.%d", &major, &minor) == 2)
            out[0x10000D] = SimStoreValue::Integer(static_cast<int32_t>((major << 16) | (minor & 0xFFFF)));
    }
    return out;
}

int WriteSimPackage(const std::string& folder, const SimPackage& p)
{
    // The default camera's other versions, so that only the operating system differs.
    const std::string ini = "[REG_OS_VERSION_ID]\nVALUE=" + p.strOs + "\n[REG_OS_BUILD_NUMBER_ID]\nVALUE=" +
                            std::to_string(p.lOsBuild) +
                            "\n[REG_OS_QFE_NUMBER_ID]\nVALUE=" + std::to_string(p.lQfe) +
                            "\n"
                            "[REG_QVL_BUILD_NUMBER_ID]\nVALUE=" + p.strQvl + "\n[REG_QVL_SERVICE_PACK_ID]\nVALUE=SP1\n"
                            "[REG_QVL_SERVICE_PACK_REVISION_ID]\nVALUE=9.2.1\n[REG_QVL_HOT_FIX_ID]\nVALUE=HF_3\n"
                            "[ROMIF_BOOTROM_VERSION_ID]\nVALUE=2.5\n[ROMIF_BOOTROM_BUILDNUMBER_ID]\nVALUE=17\n" +
                            std::string(p.bFlowsmith ? "[REG_FS_VERSION_ID]\nVALUE=2.1\n[REG_FS_BUILD_NUMBER_ID]\nVALUE=45\n"
                                                       "[REG_FS_REVISION_NUMBER_ID]\nVALUE=3\n"
                                                     : "");
    auto write = [&](const std::string& name, size_t bytes, const std::string& text = {}) {
        std::string data = text;
        data.resize(std::max(bytes, text.size()), 'K');
        return px::FileWriteAll((folder + "/" + name).c_str(), data.data(), data.size());
    };
    int e = px::FolderCreatePath((folder + "/Package").c_str());
    if (e == 0)
        e = write("version.ini", 0, ini);
    if (e == 0 && p.bNk)
        e = write("NK.bin", p.dwNkBytes);
    if (e == 0)
        e = write(p.bExPackages ? "Package/filepackEx.bin" : "Package/filepack.bin", p.dwPackBytes);
    if (e == 0)
        e = write(p.bExPackages ? "Package/filepackUserEx.bin" : "Package/filepackUser.bin", p.dwUserBytes);
    return e;
}

CSimUpdateTool::CSimUpdateTool(CSimWebService& web) : m_web(web) {}

CSimUpdateTool::~CSimUpdateTool() { Stop(); }

int CSimUpdateTool::Start(const SimUpdateConfig& config, uint32_t bindAddress)
{
    m_config = config;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_faults = config.faults;
        m_bStopping = false;
    }
    if (const int e = px::FolderCreatePath(config.strRamFiles.c_str()))
        return e;
    if (const int e = px::SocketOpenServer(bindAddress, config.usMessagePort, true, &m_listen, &m_usPort))
        return e;
    if (const int e = m_acceptThread.Start("SimMsgSrv", [this] { AcceptLoop(); })) {
        px::SocketClose(m_listen);
        m_listen = px::kInvalidSocket;
        return e;
    }
    return 0;
}

void CSimUpdateTool::Stop()
{
    std::lock_guard<std::mutex> starting(m_threadLock);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bStopping = true;
        for (px::SocketHandle s : m_clients)
            px::SocketShutdown(s, px::ShutdownHow::Both);
    }
    m_changed.notify_all();
    m_stopAccept.Set();
    m_acceptThread.Join();
    m_toolThread.Join();
    std::lock_guard<std::mutex> lock(m_lock);
    for (px::SocketHandle s : m_clients)
        px::SocketClose(s);
    m_clients.clear();
    if (m_listen != px::kInvalidSocket)
        px::SocketClose(m_listen);
    m_listen = px::kInvalidSocket;
}

void CSimUpdateTool::AcceptLoop()
{
    for (;;) {
        bool readable = false, woken = false;
        if (px::SocketWaitReadableOrWake(m_listen, m_stopAccept.Fd(), -1, &readable, &woken) != 0 || woken)
            return;
        px::SocketHandle s = px::kInvalidSocket;
        if (!readable || px::SocketAccept(m_listen, &s) != 0)
            continue;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_bStopping) {
                m_clients.push_back(s);
                ++m_dwAccepted;
                s = px::kInvalidSocket;
            }
        }
        if (s != px::kInvalidSocket)
            px::SocketClose(s);
        m_changed.notify_all();
    }
}

SimUpdateFaults CSimUpdateTool::Faults() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_faults;
}

void CSimUpdateTool::SetFaults(const SimUpdateFaults& faults)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_faults = faults;
}

bool CSimUpdateTool::Running() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bRunning;
}

std::vector<std::string> CSimUpdateTool::Lines() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_lines;
}

uint32_t CSimUpdateTool::Accepted() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwAccepted;
}

bool CSimUpdateTool::Launch()
{
    std::lock_guard<std::mutex> starting(m_threadLock);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_faults.bToolNoStart || m_bRunning || m_bStopping)
            return false;
        m_bRunning = true;
        m_lines.clear();
        // The hosts of earlier runs have gone: the tool talks to the one that connects now.
        for (px::SocketHandle s : m_clients) {
            px::SocketShutdown(s, px::ShutdownHow::Both);
            px::SocketClose(s);
        }
        m_clients.clear();
    }
    m_toolThread.Join();   // the previous run's, which has ended
    if (m_toolThread.Start("SimTool", [this] { Run(); }) != 0) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bRunning = false;
        return false;
    }
    return true;
}

bool CSimUpdateTool::Pause(uint32_t ms)
{
    std::unique_lock<std::mutex> lock(m_lock);
    return !m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_bStopping; });
}

bool CSimUpdateTool::WaitForHost()
{
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(m_config.dwClientWaitMs),
                              [this] { return m_bStopping || !m_clients.empty(); }) &&
           !m_bStopping;
}

bool CSimUpdateTool::WaitForOrderFile()
{
    for (uint32_t waited = 0; waited < m_config.dwClientWaitMs; waited += 10) {
        if (Exists(RamPath(kOrderFile)))
            return true;
        if (!Pause(10))
            return false;
    }
    return true;   // the tool reboots the camera all the same
}

bool CSimUpdateTool::Send(const std::string& text)
{
    px::SocketHandle s = px::kInvalidSocket;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bStopping || m_clients.empty())
            return false;
        s = m_clients.back();
        m_lines.push_back(text);
    }
    const std::vector<uint8_t> block = SimToolBlock(text);
    if (px::SocketSendAll(s, block.data(), block.size()) != 0)
        return false;
    return Pause(m_config.dwLineMs);
}

void CSimUpdateTool::Run()
{
    const SimUpdateFaults faults = Faults();
    if (!faults.bAgentStays)
        m_web.SetProcessRunning("hostlet.exe", false);
    m_web.SetProcessRunning("flowsmithagent.exe", false);
    bool ok = WaitForHost();
    if (ok && faults.bToolSilent) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [this] { return m_bStopping; });
        ok = false;
    }
    std::string versionIni;
    const bool complete = Exists(RamPath("NK.bin"));
    const bool first = Exists(RamPath("Package/filepackEx.bin")) || Exists(RamPath("Package/filepack.bin"));
    const bool user = Exists(RamPath("Package/filepackUser.bin")) || Exists(RamPath("Package/filepackUserEx.bin"));
    int32_t status = faults.lFinalStatus;
    auto stage = [&](int n, const char* what) {
        char line[64];
        std::snprintf(line, sizeof line, "%X::%s", n, what);
        ok = ok && Send(line);
        for (int percent = 0; percent < 100; percent += 25) {
            std::snprintf(line, sizeof line, "%X::%d", n, percent);
            ok = ok && Send(line);
        }
        std::snprintf(line, sizeof line, "%X::Completed", n);
        ok = ok && Send(line);
    };
    ok = ok && Send("1::Checking the files in RAMFILES");
    if (px::FileReadAll(RamPath("version.ini").c_str(), 1u << 20, &versionIni) != 0) {
        ok = ok && Send("1::Missing version.ini");
        status = 0xA0;
    } else if (!user || (complete && !first)) {
        ok = ok && Send("1::Missing file package");
        status = 0xB0;
    } else {
        if (complete) {
            stage(2, "Burning the boot ROM");
            stage(3, "Formatting the partitions");
            stage(5, "Writing the operating system image");
        }
        if (first)
            stage(6, "Writing the system files");
        if (Exists(RamPath("FpgaRomInfo.txt")))
            stage(7, "Burning the FPGA");
        stage(8, "Writing the user files");
    }
    if (ok && status == 0) {
        // The camera is down before the host hears of the reboot, so that no host finds the old one.
        ok = Send("0::REBOOT pending") && WaitForOrderFile();
        if (ok) {
            m_web.InstallVersions(SimVersionsOfPackage(versionIni));
            ok = Send("0::REBOOT Automatic") && Send("********00");
        }
    } else if (ok) {
        char line[16];
        std::snprintf(line, sizeof line, "********%02X", static_cast<unsigned>(status) & 0xFF);
        Send(line);
    }
    m_web.SetProcessRunning("Restorix.exe", false);
    std::lock_guard<std::mutex> lock(m_lock);
    m_bRunning = false;
}

} // namespace pxsim
