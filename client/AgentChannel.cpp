#include "client/AgentChannel.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "client/ClientTrace.h"
#include "pellix/pellix.h"
#include "platform/Config.h"

using namespace px::agent;

namespace {

constexpr const char* kChannelCaption = "PellixAgent Error";
constexpr const char* kWatchDogCaption = "WatchDog Error";

// Copies a NUL-terminated text, cut to fit with its NUL.
void CopyText(char* to, size_t size, const char* from)
{
    size_t n = strnlen(from, size - 1);
    std::memcpy(to, from, n);
    to[n] = '\0';
}

// One record of the list as the library hands it out.
PXBufferListEntry ToPublicEntry(const uint8_t* bytes)
{
    PXBufferListEntry out;
    std::memset(&out, 0, sizeof out);
    BufferListEntry entry;
    if (AgentDecodeBufferListEntry(bytes, kAgentBufferListEntrySize, &entry) != AGENT_OK)
        return out;
    char id[5];
    AgentBufferIdText(entry.dwBufferId, id);
    std::memcpy(out.id, id, 4);
    out.type = entry.dwType;
    out.port = entry.usPort;
    CopyText(out.processName, sizeof out.processName, entry.szProcessName);
    CopyText(out.text, sizeof out.text, entry.szText);
    return out;
}

std::string ErrorText(NetResult r)
{
    char text[256];
    NetErrorText(r, text, sizeof text);
    return text;
}

} // namespace

CAgentChannel::CAgentChannel(const char* hostName, const uint8_t* ipv4, uint16_t publishPort, const char* clientName,
                             uint32_t timeoutMs, bool errorMessages, uint32_t signalDelay, uint32_t signalTimeout,
                             uint32_t retries, const AgentChannelTiming& timing)
    : m_dwAgentVersion(kAgentDefaultVersion), m_dwTimeout(timeoutMs), m_bErrorMessages(errorMessages),
      m_dwSignalTimeout(signalTimeout), m_dwRetries(retries), m_timing(timing)
{
    if (hostName != nullptr)
        std::snprintf(m_szHostName, sizeof m_szHostName, "%s", hostName);
    if (ipv4 != nullptr)
        m_dwIpAddress = px::Ipv4FromBytes(ipv4);

    // The message link comes first and goes last; without it the channel only lacks notifications.
    m_usMsgPort = static_cast<uint16_t>(px::ConfigGetNumber("AsyncMsgPort", 3075));
    m_pMsgLink.reset(new (std::nothrow) CAsyncMsgLink(m_timing.dwMessagePollMs));
    if (m_pMsgLink && !m_pMsgLink->Create(hostName, ipv4, m_usMsgPort, nullptr))
        m_pMsgLink.reset();

    m_usRemotePort = publishPort;
    if (clientName != nullptr)
        std::snprintf(m_szClientName, sizeof m_szClientName, "%s", clientName);
    m_bConnected = true;
    Connect();
    if (m_dwStickyError == 0 && AgentGreet(*this, &m_dwAgentVersion) != PX_OK)
        m_bConnected = false;

    if (signalDelay != 0 && signalTimeout != 0)
        SetUpWatchDog(signalDelay);
}

CAgentChannel::CAgentChannel(IAgentStream* transport, const char* clientName)
    : m_pTransport(transport), m_dwAgentVersion(kAgentDefaultVersion), m_dwTimeout(px::kInfinite),
      m_bErrorMessages(false), m_dwSignalTimeout(0), m_dwRetries(0)
{
    if (clientName != nullptr)
        std::snprintf(m_szClientName, sizeof m_szClientName, "%s", clientName);
    m_bConnected = true;
    if (AgentGreet(*this, &m_dwAgentVersion) != PX_OK)
        m_bConnected = false;
}

void CAgentChannel::Connect()
{
    const char* host = m_szHostName[0] != '\0' ? m_szHostName : nullptr;
    uint8_t address[4] = {static_cast<uint8_t>(m_dwIpAddress >> 24), static_cast<uint8_t>(m_dwIpAddress >> 16),
                          static_cast<uint8_t>(m_dwIpAddress >> 8), static_cast<uint8_t>(m_dwIpAddress)};
    NetResult r = NetAllocContext(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, m_usLocalPort, m_usRemotePort, host,
                                  m_dwIpAddress != 0 ? address : nullptr, nullptr, 0, &m_pContext);
    if (r.code != 0) {
        m_pContext = nullptr;
        Fail("NetAllocContext: %s \n", r);
        return;
    }
    r = NetAllocLink(m_pContext, 0, &m_pLink);
    if (r.code != 0) {
        m_pLink = nullptr;
        m_bConnected = false;
        m_dwStickyError = PX_COMM_ERROR;
        ClientMessageBox(m_bErrorMessages, kChannelCaption, "NetAllocLink: %s (%d)\n", ErrorText(r).c_str(),
                         static_cast<int>(r.detail));
        return;
    }
    const struct {
        uint32_t kind;
        NetHookFunction function;
        CCompletionBlock* block;
    } hooks[] = {{NET_HOOK_SEND_START, &StartHook, &m_send},
                 {NET_HOOK_RCV_START, &StartHook, &m_receive},
                 {NET_HOOK_SEND_STOP, &StopHook, &m_send},
                 {NET_HOOK_RCV_STOP, &StopHook, &m_receive}};
    for (const auto& h : hooks) {
        r = NetLinkHookFunction(m_pLink, h.kind, h.function, h.block, 0);
        if (r.code != 0) {
            Fail("NetLinkHookFunction: %s \n", r);
            return;
        }
    }
}

void CAgentChannel::Fail(const char* format, NetResult result)
{
    m_bConnected = false;
    m_dwStickyError = PX_COMM_ERROR;
    ClientMessageBox(m_bErrorMessages, kChannelCaption, format, ErrorText(result).c_str());
}

void CAgentChannel::MarkBroken(uint32_t error)
{
    m_bConnected = false;
    m_dwStickyError = error;
}

uint32_t CAgentChannel::StartHook(uint32_t, uint32_t code, uint32_t detail, void* user)
{
    static_cast<CCompletionBlock*>(user)->Started(code, detail);
    return 0;
}

uint32_t CAgentChannel::StopHook(uint32_t count, uint32_t code, uint32_t detail, void* user)
{
    static_cast<CCompletionBlock*>(user)->Stopped(count, code, detail);
    return 0;
}

uint32_t CAgentChannel::Send(const void* data, uint32_t size)
{
    return Transfer(NET_DIRECTION_SEND, const_cast<void*>(data), size);
}

uint32_t CAgentChannel::Receive(void* data, uint32_t size) { return Transfer(NET_DIRECTION_RECEIVE, data, size); }

uint32_t CAgentChannel::Transfer(uint32_t direction, void* data, uint32_t size)
{
    if (!m_bConnected || m_dwStickyError != 0 || (m_pLink == nullptr && m_pTransport == nullptr)) {
        MarkBroken(PX_COMM_ERROR);
        return PX_COMM_ERROR;
    }
    const bool send = direction == NET_DIRECTION_SEND;
    if (m_pTransport != nullptr) {
        uint32_t r = send ? m_pTransport->SendBuffer(data, size) : m_pTransport->ReceiveBuffer(data, size);
        if (r != PX_OK)
            MarkBroken(PX_COMM_ERROR);
        return r != PX_OK ? PX_COMM_ERROR : PX_OK;
    }
    CCompletionBlock& block = send ? m_send : m_receive;
    NetResult r = NetTransferBuffer(m_pLink, data, size, direction, 1, 0, nullptr, NET_TRANSFER_TRY_NOW);
    if (r.code != 0) {
        Fail("NetTransferBuffer: %s \n", r);
        return PX_COMM_ERROR;
    }
    uint32_t result = PX_COMM_ERROR;
    uint32_t timeouts = 0;
    for (;;) {
        if (block.evDone.Wait(m_dwTimeout) == px::WaitResult::Signaled) {
            if (block.dwCode != 0) {
                Fail("NetTransferBuffer: %s \n", NetResult{block.dwCode, block.dwDetail});
                return PX_COMM_ERROR;
            }
            if (block.dwCount != size) {
                if (send)
                    ClientMessageBox(m_bErrorMessages, "Pellix Error",
                                     "Sent data error. Data size sent not valid.\nSent %d bytes while waiting for "
                                     "%d bytes\r\n",
                                     static_cast<int>(block.dwCount), static_cast<int>(size));
                else
                    ClientMessageBox(true, kChannelCaption,
                                     "Receive data error. Data size received not valid.\nReceived %d bytes while "
                                     "waiting for %d bytes\r\n",
                                     static_cast<int>(block.dwCount), static_cast<int>(size));
            }
            // The last wait decides, even after a time-out (whose sticky error stays).
            return PX_OK;
        }
        ++timeouts;
        MarkBroken(PX_COMM_ERROR);
        const uint32_t status = WatchDogStatus();
        result = status != 0 ? status : PX_COMM_ERROR;
        ClientMessageBox(m_bErrorMessages, kChannelCaption, "WaitForSingleObject error.\n");
        if (timeouts >= m_dwRetries || status != 0)
            break;
    }
    // Giving up on a transfer that is still pending: shut the connection so that the transfer
    // ends now, and wait for that, so that it never writes into the caller's memory afterwards.
    // The connection carries its sticky error and is not used again.
    NetRecvDisconnect(m_pLink);
    NetSendDisconnect(m_pLink);
    block.evDone.Wait();
    return result;
}

uint32_t CAgentChannel::GetBufferList(uint32_t* count, const PXBufferListEntry** records)
{
    if (count != nullptr)
        *count = 0;
    if (records != nullptr)
        *records = nullptr;
    px::CsLock guard(m_csRequest);
    if (m_dwStickyError != 0)
        return m_dwStickyError;
    if (uint32_t r = AgentSendCommand(*this, m_dwAgentVersion, AgentMakeGetBufferList()))
        return r;
    AgentReply reply;
    if (uint32_t r = AgentReadReplyHead(*this, m_dwAgentVersion, CMD_GET_BUFFER_LIST, &reply))
        return r;

    // The records decide their own count (bounded by the records' limits, 65535 × 540 bytes).
    // Each is decoded into the array handed out while the request lock is still held, so that a
    // second caller on the same handle never sees an array being filled.
    m_pBufferList.reset();
    m_dwBufferCount = 0;
    std::unique_ptr<PXBufferListEntry[]> list(new (std::nothrow) PXBufferListEntry[reply.dwRecordCount + 1]());
    std::unique_ptr<uint8_t[]> record(new (std::nothrow) uint8_t[reply.dwRecordSize > 0 ? reply.dwRecordSize : 1]);
    if (!list || !record) {
        MarkBroken(PX_COMM_ERROR);
        return PX_COMM_ERROR;
    }
    for (uint32_t i = 0; i < reply.dwRecordCount; ++i) {
        if (uint32_t r = Receive(record.get(), reply.dwRecordSize))
            return r;
        list[i] = ToPublicEntry(record.get());
    }
    m_pBufferList = std::move(list);
    m_dwBufferCount = reply.dwRecordCount;
    if (count != nullptr)
        *count = m_dwBufferCount;
    if (records != nullptr)
        *records = m_dwBufferCount > 0 ? m_pBufferList.get() : nullptr;
    return PX_OK;
}

uint32_t CAgentChannel::VerifyResources(uint16_t resource, uint32_t* answer)
{
    if (answer != nullptr)
        *answer = 0;
    if (m_dwAgentVersion != 0 && !AgentHasResourceCheck(m_dwAgentVersion))
        return PX_NOT_SUPPORTED;
    px::CsLock guard(m_csRequest);
    if (m_dwStickyError != 0)
        return m_dwStickyError;
    if (uint32_t r = AgentSendCommand(*this, m_dwAgentVersion, AgentMakeVerifyResources(resource)))
        return r;
    AgentReply reply;
    if (uint32_t r = AgentReadReplyHead(*this, m_dwAgentVersion, CMD_VERIFY_RESOURCES, &reply))
        return r;
    if (uint32_t r = AgentSkipBytes(*this, reply.dwPartCSize))
        return r;
    if (answer != nullptr)
        *answer = reply.dwPartB[1];
    return PX_OK;
}

// ---- Watchdog ----------------------------------------------------------------------------------

void CAgentChannel::SetUpWatchDog(uint32_t signalDelay)
{
    {
        px::CsLock guard(m_csStatus);
        m_dwStatus = 1;
    }
    m_usWatchDogPort = static_cast<uint16_t>(px::ConfigGetNumber("WatchDogPort", 3073));
    const char* host = m_szHostName[0] != '\0' ? m_szHostName : nullptr;
    uint8_t address[4] = {static_cast<uint8_t>(m_dwIpAddress >> 24), static_cast<uint8_t>(m_dwIpAddress >> 16),
                          static_cast<uint8_t>(m_dwIpAddress >> 8), static_cast<uint8_t>(m_dwIpAddress)};
    m_pWatchDog.reset(new (std::nothrow) CWatchDog(m_timing.dwWatchdogReplyMs));
    if (!m_pWatchDog) {
        ClientMessageBox(m_bErrorMessages, kWatchDogCaption, "Can't allocate WatchDog\n");
        return;
    }
    NetResult r{};
    if (!m_pWatchDog->Create(host, m_dwIpAddress != 0 ? address : nullptr, m_usWatchDogPort, &r)) {
        ClientMessageBox(m_bErrorMessages, kWatchDogCaption, "Can't allocate WatchDog. Error %d.%d\n",
                         static_cast<int>(r.code), static_cast<int>(r.detail));
        DropWatchDog();
        return;
    }
    if (!m_pWatchDog->Check()) {
        DropWatchDog();
        return;
    }
    // These boxes are shown whatever the error-message setting: a camera that accepts the
    // watchdog but cannot run it is worth telling.
    if (AgentWantsWatchdogId(m_dwAgentVersion)) {
        if (!m_pWatchDog->GetIdentity()) {
            ClientMessageBox(true, kWatchDogCaption, "Can't Get ID\n");
            DropWatchDog();
            return;
        }
        m_dwWatchDogId = m_pWatchDog->Identity();
    }
    if (!m_pWatchDog->SetDelay(signalDelay)) {
        ClientMessageBox(true, kWatchDogCaption, "Can't Set Delay\n");
        DropWatchDog();
        return;
    }
    if (!m_pWatchDog->Start()) {
        ClientMessageBox(true, kWatchDogCaption, "Can't start watchdog signaling\n");
        DropWatchDog();
        return;
    }
    if (m_supervision.Start("WatchDog", [this] { SupervisionThread(); }) != 0)
        DropWatchDog();
}

void CAgentChannel::DropWatchDog() { m_pWatchDog.reset(); }

void CAgentChannel::SupervisionThread()
{
    for (;;) {
        const bool signalled = m_pWatchDog->WaitForSignal(m_dwSignalTimeout);
        if (m_evStop.Wait(0) == px::WaitResult::Signaled)
            return;
        px::CsLock guard(m_csStatus);
        m_dwStatus = signalled ? 1 : 0;
        // A missed signal leaves the status at 0 for good.
        if (!signalled) {
            m_evLost.Set();
            return;
        }
    }
}

uint32_t CAgentChannel::WatchDogStatus()
{
    if (!m_pWatchDog)
        return PX_NO_WATCHDOG;
    px::CsLock guard(m_csStatus);
    return m_dwStatus == 1 ? PX_OK : PX_WATCHDOG_LOST;
}

px::Event* CAgentChannel::ListChangedEvent() { return m_pMsgLink ? m_pMsgLink->ListChangedEvent() : nullptr; }

CAgentChannel::~CAgentChannel()
{
    if (m_dwStickyError == 0 && (m_pLink != nullptr || m_pTransport != nullptr))
        AgentSendCommand(*this, m_dwAgentVersion, AgentMakeBye());
    if (m_dwStickyError == 0 && m_pLink != nullptr) {
        NetResult r = NetFreeLink(m_pLink, 0);
        if (r.code != 0)
            ClientMessageBox(m_bErrorMessages, kChannelCaption, "NetFreeLink: %s \n", ErrorText(r).c_str());
    }
    if (m_pContext != nullptr) {
        NetResult r = NetFreeContext(m_pContext, 0);
        if (r.code != 0)
            ClientMessageBox(m_bErrorMessages, kChannelCaption, "NetFreeContext: %s \n", ErrorText(r).c_str());
    }
    if (m_pWatchDog) {
        // The supervision thread waits for the next signal; end that wait rather than sit it out.
        m_evStop.Set();
        m_pWatchDog->Interrupt();
        m_supervision.Join();
        m_pWatchDog.reset();
    }
    m_pMsgLink.reset();
}
