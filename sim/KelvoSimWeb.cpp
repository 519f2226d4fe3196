// CKelvoSim's part in the camera's web service: started after the agent's ports, stopped before
// them (see sim/SimWebService.h for the service).
#include <cstring>

#include "sim/KelvoSim.h"
#include "sim/SimUpdateTool.h"
#include "sim/SimWebService.h"

namespace pxsim {

int CKelvoSim::StartWebService(const SimWebConfig& web)
{
    if (!web.bEnabled)
        return 0;
    auto service = std::make_unique<CSimWebService>();
    service->SetLog([this](uint32_t level, const std::string& line) { Log(level, "%s", line.c_str()); });
    const int e = service->Start(web, m_config.dwBindAddress);
    if (e == 0) {
        m_pWeb = std::move(service);
        return 0;
    }
    // The default port 80 needs root; a user without it still gets the agent's ports.
    if (web.bOptional) {
        Log(1, "web service left out: port %u: %s (--web-port N chooses another)", web.usPort, std::strerror(e));
        return 0;
    }
    return e;
}

void CKelvoSim::StopWebService()
{
    if (m_pWeb)
        m_pWeb->Stop();
    m_pWeb.reset();
}

uint16_t CKelvoSim::WebPort() const { return m_pWeb ? m_pWeb->Port() : 0; }

std::string CKelvoSim::UpdateConfigText() const
{
    CSimUpdateTool* tool = m_pWeb ? m_pWeb->UpdateTool() : nullptr;
    if (tool == nullptr)
        return {};
    return "MessageServerPort=" + std::to_string(tool->Port()) + "\nRamFilesPath=" + tool->RamFiles() + "\n";
}

} // namespace pxsim
