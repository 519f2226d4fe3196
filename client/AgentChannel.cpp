#include "client/AgentChannel.h"

#include <cstdio>
#include <cstring>
#include <new>

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
    std::memcpy(out.id, entry.bufferId.ch, 4);
    out.type = entry.dwType;
    out.port = entry.usPort;
    CopyText(out.processName, sizeof out.processName, entry.szProcessName);
    CopyText(out.text, sizeof out.text, entry.szText);
    return out;
}

// The boxes and rules of the agent channel's connection.
const AgentConnectionStyle kChannelStyle{
    kChannelCaption,
    "NetTransferBuffer: %s \n",
    "WaitForSingleObject error.\n",
    "WaitForSingleObject error.\n",
    "Sent data error. Data size sent not valid.\nSent %d bytes while waiting for %d bytes\r\n",
    kChannelCaption,
    nullptr,
    nullptr,
    false,
    false,
};

} // namespace

CAgentChannel::CAgentChannel(const NetAddress& address, uint16_t publishPort, const char* clientName,
                             uint32_t timeoutMs, bool errorMessages, uint32_t signalDelay, uint32_t signalTimeout,
                             uint32_t retries, const AgentChannelTiming& timing)
    : m_address(address), m_usRemotePort(publishPort), m_connection(kChannelStyle, errorMessages, timeoutMs, this),
      m_bErrorMessages(errorMessages), m_dwSignalTimeout(signalTimeout), m_dwRetries(retries), m_timing(timing)
{
    // The message link comes first and goes last; without it the channel only lacks notifications.
    m_usMsgPort = static_cast<uint16_t>(px::ConfigGetNumber("AsyncMsgPort", 3075));
    m_pMsgLink.reset(new (std::nothrow) CAsyncMsgLink(m_timing.dwMessagePollMs));
    if (m_pMsgLink && !m_pMsgLink->Create(m_address, m_usMsgPort, timeoutMs, nullptr))
        m_pMsgLink.reset();

    if (clientName != nullptr)
        std::snprintf(m_szClientName, sizeof m_szClientName, "%s", clientName);
    m_connection.Open(m_address, m_usRemotePort);

    if (signalDelay != 0 && signalTimeout != 0)
        SetUpWatchDog(signalDelay);
}

CAgentChannel::CAgentChannel(IAgentStream* transport, const char* clientName)
    : m_connection(kChannelStyle, false, px::kInfinite, this), m_bErrorMessages(false), m_dwSignalTimeout(0),
      m_dwRetries(0)
{
    if (clientName != nullptr)
        std::snprintf(m_szClientName, sizeof m_szClientName, "%s", clientName);
    m_connection.Open(transport);
}

uint32_t CAgentChannel::GetBufferList(uint32_t* count, const PXBufferListEntry** records)
{
    if (count != nullptr)
        *count = 0;
    if (records != nullptr)
        *records = nullptr;
    px::CsLock guard(m_csRequest);
    if (uint32_t error = m_connection.StickyError())
        return error;
    if (uint32_t r = m_connection.SendCommand(AgentMakeGetBufferList()))
        return r;
    AgentReply reply;
    if (uint32_t r = m_connection.ReadReplyHead(CMD_GET_BUFFER_LIST, &reply))
        return r;

    // The records decide their own count (bounded by the records' limits, 65535 × 540 bytes).
    // Each is decoded into the array handed out while the request lock is still held, so that a
    // second caller on the same handle never sees an array being filled.
    m_pBufferList.reset();
    m_dwBufferCount = 0;
    std::unique_ptr<PXBufferListEntry[]> list(new (std::nothrow) PXBufferListEntry[reply.dwRecordCount + 1]());
    std::unique_ptr<uint8_t[]> record(new (std::nothrow) uint8_t[reply.dwRecordSize > 0 ? reply.dwRecordSize : 1]);
    if (!list || !record) {
        m_connection.MarkBroken();
        return PX_COMM_ERROR;
    }
    for (uint32_t i = 0; i < reply.dwRecordCount; ++i) {
        if (uint32_t r = m_connection.ReceiveBuffer(record.get(), reply.dwRecordSize))
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
    const uint32_t version = m_connection.AgentVersion();
    if (version != 0 && !AgentHasResourceCheck(version))
        return PX_NOT_SUPPORTED;
    px::CsLock guard(m_csRequest);
    if (uint32_t error = m_connection.StickyError())
        return error;
    if (uint32_t r = m_connection.SendCommand(AgentMakeVerifyResources(resource)))
        return r;
    AgentReply reply;
    if (uint32_t r = m_connection.ReadReplyHead(CMD_VERIFY_RESOURCES, &reply))
        return r;
    if (uint32_t r = m_connection.Skip(reply.dwPartCSize))
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
    m_pWatchDog.reset(new (std::nothrow) CWatchDog(m_timing.dwWatchdogReplyMs));
    if (!m_pWatchDog) {
        ClientMessageBox(m_bErrorMessages, kWatchDogCaption, "Can't allocate WatchDog\n");
        return;
    }
    NetResult r{};
    if (!m_pWatchDog->Create(m_address, m_usWatchDogPort, m_connection.Timeout(), &r)) {
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
    if (AgentWantsWatchdogId(m_connection.AgentVersion())) {
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
    m_connection.Close(0);
    if (m_pWatchDog) {
        // The supervision thread waits for the next signal; end that wait rather than sit it out.
        m_evStop.Set();
        m_pWatchDog->Interrupt();
        m_supervision.Join();
        m_pWatchDog.reset();
    }
    m_pMsgLink.reset();
}
