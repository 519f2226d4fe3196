// Construction of the control and the members of its dispatch interface that only read or store
// its state. The lifecycle is in ControlLifecycle.cpp, events and input in ControlEvents.cpp,
// painting in ControlPaint.cpp, the overlay members in ControlOverlay.cpp, mouse, menu and
// saving in ControlInteraction.cpp.
#include "control/PellixControl.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "control/ControlLog.h"
#include "control/ControlText.h"
#include "log/OsDescription.h"
#include "log/XmlLogger.h"
#include "platform/Config.h"

namespace pxcontrol {

namespace {

// Writes value to pVal when there is one.
template <class T>
HRESULT Give(T* pVal, T value)
{
    if (pVal != nullptr)
        *pVal = value;
    return S_OK;
}

HRESULT GiveText(BSTR* pVal, const char* text)
{
    if (pVal == nullptr)
        return S_OK;
    *pVal = AllocText(text);
    return *pVal != nullptr ? S_OK : E_OUTOFMEMORY;
}

uint16_t AsFlag(uint16_t value) { return value != 0 ? 1 : 0; }

} // namespace

CPellixControl::CPellixControl(CWrapperInterface* wrapper) : m_pWrapper(wrapper), m_timing(CurrentControlTiming())
{
    // The two registered messages are fixed numbers here (ControlTypes.h). The configuration
    // store is read on every call; a missing value keeps its default.
    m_nDisplayMode = static_cast<int32_t>(px::ConfigGetNumber("UseDDraw", 1));
    InitControlLogger();
    m_dwForceCopyFormat = px::ConfigGetNumber("ForceCopyFormat", 0);
    m_dwForceErrorMsg = px::ConfigGetNumber("ForceErrorMsg", 0);
    ControlTrace("CPellixControl()\n");
    if (DescribeRunningSystem() == 0) {
        if (m_nDisplayMode > 1)
            PX_LOG_FORMAT(LOG_SECTION_GRAPHIC, LOG_LEVEL_WARN, "Cannot set DirectX %d OS not supported",
                          static_cast<int32_t>(m_nDisplayMode));
        m_nDisplayMode = 0;
    }
}

CPellixControl::~CPellixControl()
{
    ControlTrace("~CPellixControl()\n");
    // A host that forgot Stop must not leave threads running on a freed control.
    if (m_bStarted)
        StopConnection();
    free(m_pszServerName);
    free(m_byServerIP);
    px::CsLock lock(m_csBufferList);
    free(m_pBufferListText);
    m_pBufferListText = nullptr;
}

bool CPellixControl::IsStreaming() const
{
    return m_bClientOk && m_bConnected && !m_bAgent && m_dwError == PX_OK;
}

void CPellixControl::ErrorMessageText(char* out, size_t size) const
{
    if (size == 0)
        return;
    out[0] = '\0';
    AppendBounded(out, size, ErrorMessageOf(m_dwError));
}

// ---- 1 to 29 ----------------------------------------------------------------------------------------

HRESULT CPellixControl::DisplayVariables()
{
    if (m_bAgent) {
        // The library's list lasts until the next call on the handle, which the buffer-list
        // thread may make: it is copied under the list lock, and the boxes shown after.
        std::vector<PXBufferListEntry> entries;
        uint32_t count = 0;
        {
            px::CsLock list(m_csBufferList);
            const PXBufferListEntry* listed = nullptr;
            PXGetBufferList(m_hClient, &count, &listed);
            try {
                if (listed != nullptr)
                    entries.assign(listed, listed + count);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
        }
        char text[512];
        snprintf(text, sizeof text, "There are %d buffers available", static_cast<int>(count));
        m_pWrapper->MessageBox(text, "Vistel ActiveX", 0);
        for (uint32_t i = 0; i < entries.size(); ++i) {
            const PXBufferListEntry& e = entries[i];
            snprintf(text, sizeof text, "Buffer %d : Name: %.4s , Type: %d , ProcessName: %.255s , Port: %d",
                     static_cast<int>(i), e.id, static_cast<int>(e.type), e.processName, e.port);
            m_pWrapper->MessageBox(text, "Vistel ActiveX", 0);
        }
        return S_OK;
    }
    if (!m_bConnected)
        return S_OK;
    const uint8_t* ip = m_byServerIP;
    const uint8_t none[4] = {0, 0, 0, 0};
    if (ip == nullptr)
        ip = none;
    // Formatted in full, then cut to 250 characters.
    char text[1024];
    {
        px::CsLock lock(m_csData);
        snprintf(text, sizeof text,
                 "m_byServerIP = %d.%d.%d.%d\nm_usPort = %d\nm_strClientName = %s\nm_strBufferId = %4.4s\n"
                 "m_dwBufferType = %d\nm_bVisible = %d\nm_dwFullSizeX = %d\nm_dwFullSizeY = %d\nm_dwSizeX = %d\n"
                 "m_dwSizeY = %d\nm_dwNumBands = %d\nm_dwOffsetX = %d\nm_dwOffsetY = %d\n",
                 ip[0], ip[1], ip[2], ip[3], m_usPort, m_strClientName, m_strBufferId,
                 static_cast<int>(m_dwBufferType), m_bVisible, static_cast<int>(m_dwFullSizeX),
                 static_cast<int>(m_dwFullSizeY), static_cast<int>(m_dwSizeX), static_cast<int>(m_dwSizeY),
                 static_cast<int>(m_dwNumBands), static_cast<int>(m_dwOffsetX), static_cast<int>(m_dwOffsetY));
    }
    text[250] = '\0';
    m_pWrapper->MessageBox(text, "Vistel ActiveX", 0);
    return S_OK;
}

HRESULT CPellixControl::GetFullSizeX(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, IsStreamingImage() ? m_dwFullSizeX : 0u);
}

HRESULT CPellixControl::GetFullSizeY(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, IsStreamingImage() ? m_dwFullSizeY : 0u);
}

HRESULT CPellixControl::RegisterDataCallback() { return E_NOTIMPL; }

HRESULT CPellixControl::get_ServerAddress(BSTR* pVal)
{
    char text[16] = "0.0.0.0";
    if (m_byServerIP != nullptr)
        snprintf(text, sizeof text, "%d.%d.%d.%d", m_byServerIP[0], m_byServerIP[1], m_byServerIP[2],
                 m_byServerIP[3]);
    return GiveText(pVal, text);
}

HRESULT CPellixControl::put_ServerAddress(const char* text)
{
    SServerAddress address;
    ParseServerAddress(text, &address);
    free(m_pszServerName);
    free(m_byServerIP);
    m_pszServerName = nullptr;
    m_byServerIP = nullptr;
    if (address.bIsName) {
        m_pszServerName = static_cast<char*>(malloc(kServerNameSize));
        if (m_pszServerName == nullptr)
            return E_OUTOFMEMORY;
        memcpy(m_pszServerName, address.szName, kServerNameSize);
    } else {
        m_byServerIP = static_cast<uint8_t*>(malloc(4));
        if (m_byServerIP == nullptr)
            return E_OUTOFMEMORY;
        memcpy(m_byServerIP, address.byIP, 4);
    }
    return S_OK;
}

HRESULT CPellixControl::get_Agent(uint16_t* pVal) { return Give(pVal, AsFlag(m_bAgent)); }
HRESULT CPellixControl::put_Agent(uint16_t value)
{
    m_bAgent = AsFlag(value);
    return S_OK;
}

HRESULT CPellixControl::get_Port(uint16_t* pVal) { return Give(pVal, m_usPort); }
HRESULT CPellixControl::put_Port(uint16_t value)
{
    m_usPort = value;
    return S_OK;
}

HRESULT CPellixControl::get_ClientName(BSTR* pVal)
{
    if (pVal == nullptr)
        return E_POINTER;
    return GiveText(pVal, m_strClientName);
}

HRESULT CPellixControl::put_ClientName(const char* text)
{
    m_strClientName[0] = '\0';
    AppendBounded(m_strClientName, sizeof m_strClientName, text ? text : "");
    return S_OK;
}

HRESULT CPellixControl::get_Visible(uint16_t* pVal) { return Give(pVal, uint16_t(IsStreaming() ? AsFlag(m_bVisible) : 0)); }
HRESULT CPellixControl::put_Visible(uint16_t value)
{
    if (IsStreaming())
        m_bVisible = AsFlag(value);
    return S_OK;
}

HRESULT CPellixControl::get_ShowFPS(uint16_t* pVal) { return Give(pVal, uint16_t(m_bShowFPS)); }
HRESULT CPellixControl::put_ShowFPS(uint16_t value)
{
    m_bShowFPS = AsFlag(value);
    return S_OK;
}

HRESULT CPellixControl::get_BufferId(BSTR* pVal) { return GiveText(pVal, m_strBufferId); }
HRESULT CPellixControl::put_BufferId(const char* text)
{
    memset(m_strBufferId, 0, sizeof m_strBufferId);
    if (text != nullptr)
        strncpy(m_strBufferId, text, 4);
    return S_OK;
}

HRESULT CPellixControl::get_BufferSizeX(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    const uint32_t type = m_dwBufferType;
    return Give(pVal, IsStreaming() && type >= 1 && type <= 11 ? m_dwSizeX : 0u);
}

HRESULT CPellixControl::put_BufferSizeX(uint32_t value)
{
    px::CsLock lock(m_csData);
    m_dwSizeX = value;
    return S_OK;
}

HRESULT CPellixControl::get_BufferSizeY(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    const uint32_t type = m_dwBufferType;
    const bool twoDimensional = type == 1 || type == 3 || type == 4 || type == 5 || type == 11;
    return Give(pVal, IsStreaming() && twoDimensional ? m_dwSizeY : 0u);
}

HRESULT CPellixControl::put_BufferSizeY(uint32_t value)
{
    px::CsLock lock(m_csData);
    m_dwSizeY = value;
    return S_OK;
}

HRESULT CPellixControl::get_BufferOffsetX(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, IsStreamingImage() ? m_dwOffsetX : 0u);
}

HRESULT CPellixControl::put_BufferOffsetX(uint32_t value)
{
    px::CsLock lock(m_csData);
    m_dwOffsetX = value;
    return S_OK;
}

HRESULT CPellixControl::get_BufferOffsetY(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, IsStreamingImage() ? m_dwOffsetY : 0u);
}

HRESULT CPellixControl::put_BufferOffsetY(uint32_t value)
{
    px::CsLock lock(m_csData);
    m_dwOffsetY = value;
    return S_OK;
}

HRESULT CPellixControl::GetFullSizeBand(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, m_dwNumBands);
}

// ---- 30 to 54 -------------------------------------------------------------------------------------------

HRESULT CPellixControl::get_Subsection(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, IsStreamingImage() ? m_dwSubsection : 0u);
}

HRESULT CPellixControl::put_Subsection(uint32_t value)
{
    px::CsLock lock(m_csData);
    m_dwSubsection = value;
    return S_OK;
}

HRESULT CPellixControl::get_MaxTimeout(uint32_t* pVal)
{
    uint32_t timeout = 0;
    if (PXGetTimeout(m_hClient, &timeout) != PX_OK)
        timeout = 0;
    return Give(pVal, timeout);
}

HRESULT CPellixControl::put_MaxTimeout(uint32_t value)
{
    PXSetTimeout(m_hClient, value);
    return S_OK;
}

HRESULT CPellixControl::Start(uint32_t* pVal) { return Give(pVal, StartConnection()); }
HRESULT CPellixControl::Stop(uint32_t* pVal) { return Give(pVal, StopConnection()); }

HRESULT CPellixControl::GetDisplayRate(float* pVal) { return Give(pVal, IsStreamingImage() ? float(m_fDisplayRate) : 0.0f); }

HRESULT CPellixControl::GetNewBufferSizeX(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, IsStreamingImage() ? m_dwNewSizeX : 0u);
}

HRESULT CPellixControl::GetNewBufferSizeY(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, IsStreamingImage() ? m_dwNewSizeY : 0u);
}

HRESULT CPellixControl::GetNewBufferOffsetX(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, IsStreamingImage() ? m_dwNewOffsetX : 0u);
}

HRESULT CPellixControl::GetNewBufferOffsetY(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, IsStreamingImage() ? m_dwNewOffsetY : 0u);
}

HRESULT CPellixControl::GetNewSubsection(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, IsStreamingImage() ? m_dwNewSubsection : 0u);
}

HRESULT CPellixControl::RegisterListUpdateCallback() { return E_NOTIMPL; }

HRESULT CPellixControl::get_LOGScale(uint16_t* pVal) { return Give(pVal, uint16_t(m_bLOGScale)); }
HRESULT CPellixControl::put_LOGScale(uint16_t value)
{
    m_bLOGScale = AsFlag(value);
    return S_OK;
}

HRESULT CPellixControl::get_ManualStart(uint16_t* pVal) { return Give(pVal, m_bManualStart); }
HRESULT CPellixControl::put_ManualStart(uint16_t value)
{
    m_bManualStart = AsFlag(value);
    return S_OK;
}

HRESULT CPellixControl::GetErrorMessage(BSTR* pVal)
{
    char text[kErrorTextSize] = "";
    if (m_bConnected)
        ErrorMessageText(text, sizeof text);
    return GiveText(pVal, text);
}

HRESULT CPellixControl::GetBufferType(uint32_t* pVal) { return Give(pVal, IsStreaming() ? uint32_t(m_dwBufferType) : 0u); }

HRESULT CPellixControl::GetBufferAttribute(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, IsStreaming() ? m_dwCopyFormat : 0u);
}

HRESULT CPellixControl::GetBufferSize(uint32_t* pVal)
{
    px::CsLock lock(m_csData);
    return Give(pVal, IsStreaming() ? m_dwBufferSize : 0u);
}

HRESULT CPellixControl::GetBufferDataPtr(uint64_t* pVal)
{
    px::CsLock lock(m_csData);
    const bool locked = IsStreaming() && m_bDataLocked;
    return Give(pVal, locked ? static_cast<uint64_t>(reinterpret_cast<uintptr_t>(m_pData)) : uint64_t{0});
}

HRESULT CPellixControl::GetConnected(uint32_t* pVal) { return Give(pVal, m_bConnected == 1 ? 1u : 0u); }

HRESULT CPellixControl::get_FPSRefreshDelay(uint32_t* pVal) { return Give(pVal, uint32_t(m_dwFPSRefreshDelay)); }
HRESULT CPellixControl::put_FPSRefreshDelay(uint32_t value)
{
    m_dwFPSRefreshDelay = value;
    return S_OK;
}

HRESULT CPellixControl::get_BufferListUpdatePeriod(uint32_t* pVal)
{
    return Give(pVal, uint32_t(m_dwBufferListUpdatePeriod));
}

HRESULT CPellixControl::put_BufferListUpdatePeriod(uint32_t value)
{
    m_dwBufferListUpdatePeriod = value;
    return S_OK;
}

// ---- 65 to 81 -------------------------------------------------------------------------------------------

HRESULT CPellixControl::GetVersion(BSTR* pVal) { return GiveText(pVal, "4.0.352.1"); }

// The host holds the data lock from one call to the other, which the analysis cannot follow.
HRESULT CPellixControl::LockDataPtr() PX_NO_THREAD_SAFETY_ANALYSIS
{
    if (m_dwBufferType == PX_BUFTYPE_INPUT || !m_bClientOk || m_bDataLocked)
        return S_OK;
    m_csData.Enter();
    m_bDataLocked = 1;
    return S_OK;
}

HRESULT CPellixControl::UnlockDataPtr() PX_NO_THREAD_SAFETY_ANALYSIS
{
    if (!m_bDataLocked)
        return S_OK;
    m_bDataLocked = 0;
    m_csData.Leave();
    return S_OK;
}

HRESULT CPellixControl::GetBufferDIBHeaderPtr(uint64_t* pVal)
{
    px::CsLock lock(m_csData);
    const bool locked = IsStreamingImage() && m_bDataLocked;
    return Give(pVal, locked ? static_cast<uint64_t>(reinterpret_cast<uintptr_t>(m_pDIBHeader)) : uint64_t{0});
}

HRESULT CPellixControl::get_FPSCorner(uint16_t* pVal) { return Give(pVal, uint16_t(m_usFPSCorner)); }
HRESULT CPellixControl::put_FPSCorner(uint16_t value)
{
    m_usFPSCorner = value > 3 ? 0 : value;
    return S_OK;
}

HRESULT CPellixControl::get_SpecialMouseInteraction(int32_t* pVal) { return Give(pVal, m_lSpecialMouseInteraction); }
HRESULT CPellixControl::put_SpecialMouseInteraction(int32_t value)
{
    m_lSpecialMouseInteraction = value;
    return S_OK;
}

HRESULT CPellixControl::get_PopupMenuInteraction(uint16_t* pVal) { return Give(pVal, m_usPopupMenuInteraction); }
HRESULT CPellixControl::put_PopupMenuInteraction(uint16_t value)
{
    m_usPopupMenuInteraction = value;
    return S_OK;
}

HRESULT CPellixControl::get_SerialCounter(uint32_t* pVal)
{
    return Give(pVal, static_cast<uint32_t>(uint64_t(m_qwSerialCounter)));
}
HRESULT CPellixControl::put_SerialCounter(uint32_t) { return S_OK; }

HRESULT CPellixControl::get_SerialCounterHigh(uint32_t* pVal)
{
    return Give(pVal, static_cast<uint32_t>(uint64_t(m_qwSerialCounter) >> 32));
}
HRESULT CPellixControl::put_SerialCounterHigh(uint32_t) { return S_OK; }

HRESULT CPellixControl::GetNumberOfClient(uint32_t* pVal)
{
    if (!IsStreaming())
        return Give(pVal, uint32_t{PX_COMM_ERROR});
    uint32_t count = 0;
    const uint32_t r = PXGetNumberOfClient(m_hClient, StreamId(), &count);
    return Give(pVal, r != PX_OK ? r : count);
}

HRESULT CPellixControl::get_DisplayOptions(uint32_t* pVal) { return Give(pVal, uint32_t(m_dwDisplayOptions)); }
HRESULT CPellixControl::put_DisplayOptions(uint32_t value)
{
    m_dwDisplayOptions = value;
    return S_OK;
}

HRESULT CPellixControl::get_LinkedAgentID(uint32_t* pVal) { return Give(pVal, m_dwLinkedAgentID); }
HRESULT CPellixControl::put_LinkedAgentID(uint32_t value)
{
    m_dwLinkedAgentID = value;
    return S_OK;
}

HRESULT CPellixControl::GetClientID(uint32_t* pVal) { return Give(pVal, uint32_t(m_hClient)); }

} // namespace pxcontrol
