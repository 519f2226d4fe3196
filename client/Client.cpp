#include "client/Client.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "client/ClientTrace.h"
#include "pellix/pellix.h"
#include "platform/Clock.h"

using namespace px::agent;

namespace {

constexpr const char* kErrorCaption = "Pellix Error";
// A reply that outgrew the caller's destination is drained in pieces of this size.
constexpr uint32_t kDrainPiece = 1u << 20;
constexpr const char* kWarningCaption = "Pellix Warning";

// The caller's identifier as a text of at most 4 characters (it need not be terminated).
struct BufIdText {
    char sz[5] = {};
    explicit BufIdText(const char* id)
    {
        for (int i = 0; id != nullptr && i < 4 && id[i] != '\0'; ++i)
            sz[i] = id[i];
    }
};

void ErrorText(uint32_t code, uint32_t detail, char (&text)[256]) { NetErrorText(NetResult{code, detail}, text, sizeof text); }

} // namespace

// ---- Life ------------------------------------------------------------------------------------------

void CClient::Init(const char* clientName, bool errorMessages, CAgentChannel* agentChannel, const ClientTiming& timing)
{
    if (clientName != nullptr)
        std::snprintf(m_strClientName, sizeof m_strClientName, "%s", clientName);
    m_bErrorMessages = errorMessages;
    m_pAgentChannel = agentChannel;
    m_timing = timing;
    m_bConnected = true;
}

CClient::CClient(const char* hostName, const uint8_t* ipv4, uint16_t port, const char* clientName, uint32_t timeoutMs,
                 bool errorMessages, CAgentChannel* agentChannel, const ClientTiming& timing)
{
    Init(clientName, errorMessages, agentChannel, timing);
    m_dwTimeout = timeoutMs;
    m_usRemotePort = port;
    if (ipv4 != nullptr)
        m_dwIpAddress = (uint32_t{ipv4[0]} << 24) | (uint32_t{ipv4[1]} << 16) | (uint32_t{ipv4[2]} << 8) | ipv4[3];
    if (hostName != nullptr)
        std::snprintf(m_strHostName, sizeof m_strHostName, "%s", hostName);
    CLIENT_TRACE("CClient(): strClientName: %s\n", m_strClientName);
    if (Connect(hostName, ipv4))
        AgentGreet(*this, &m_dwAgentVersion);
}

CClient::CClient(IAgentStream* transport, const char* clientName, bool errorMessages, CAgentChannel* agentChannel,
                 const ClientTiming& timing)
{
    Init(clientName, errorMessages, agentChannel, timing);
    m_dwTimeout = px::kInfinite;
    m_pTransport = transport;
    CLIENT_TRACE("CClient(): strClientName: %s\n", m_strClientName);
    if (transport == nullptr)
        KeepError(PX_COMM_ERROR);
    else
        AgentGreet(*this, &m_dwAgentVersion);
}

bool CClient::Connect(const char* hostName, const uint8_t* ipv4)
{
    char text[256];
    const char* host = hostName != nullptr && hostName[0] != '\0' ? hostName : nullptr;
    NetResult r = NetAllocContext(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, m_usLocalPort, m_usRemotePort, host, ipv4, nullptr,
                                  0, &m_pContext);
    if (r.code != NET_SUCCESS_CODE) {
        m_pContext = nullptr;
        KeepError(PX_COMM_ERROR);
        ErrorText(r.code, r.detail, text);
        ClientMessageBox(m_bErrorMessages, kErrorCaption, "NetAllocContext: %s \n", text);
        return false;
    }
    r = NetAllocLink(m_pContext, 0, &m_pLink);
    if (r.code != NET_SUCCESS_CODE) {
        m_pLink = nullptr;
        KeepError(PX_COMM_ERROR);
        ErrorText(r.code, r.detail, text);
        ClientMessageBox(m_bErrorMessages, kErrorCaption, "NetAllocLink: %s (%d)\n", text, r.detail);
        return false;
    }
    m_bLinkAllocated = true;
    const struct {
        uint32_t kind;
        NetHookFunction function;
    } hooks[] = {{NET_HOOK_SEND_START, SendStartEventHook},
                 {NET_HOOK_RCV_START, RcvStartEventHook},
                 {NET_HOOK_SEND_STOP, SendStopEventHook},
                 {NET_HOOK_RCV_STOP, RcvStopEventHook}};
    for (const auto& hook : hooks) {
        r = NetLinkHookFunction(m_pLink, hook.kind, hook.function, this, 0);
        if (r.code != NET_SUCCESS_CODE) {
            KeepError(PX_COMM_ERROR);
            ErrorText(r.code, r.detail, text);
            ClientMessageBox(m_bErrorMessages, kErrorCaption, "NetLinkHookFunction: %s \n", text);
            return false;
        }
    }
    return true;
}

CClient::~CClient()
{
    CLIENT_TRACE("~CClient()\n");
    if (m_dwStickyError == 0)
        SendCommand(AgentMakeBye());
    px::SleepMs(m_timing.dwGoodbyeSleepMs);
    char text[256];
    if (m_dwStickyError == 0 && m_pLink != nullptr) {
        NetResult r = NetFreeLink(m_pLink, 0);
        if (r.code != NET_SUCCESS_CODE) {
            ErrorText(r.code, r.detail, text);
            ClientMessageBox(m_bErrorMessages, kErrorCaption, "NetFreeLink: %s \n", text);
        } else {
            m_pLink = nullptr;
        }
    }
    // Frees the link too when it is still there, which ends a transfer left pending by a
    // time-out; only then may the staging buffers go.
    if (m_pContext != nullptr) {
        NetResult r = NetFreeContext(m_pContext, 0);
        if (r.code != NET_SUCCESS_CODE) {
            ErrorText(r.code, r.detail, text);
            ClientMessageBox(m_bErrorMessages, kErrorCaption, "NetFreeContext: %s \n", text);
        }
        m_pContext = nullptr;
        m_pLink = nullptr;
    }
    FreeBufParams(m_dwBufType, &m_pBufParams);
}

// ---- Hooks ---------------------------------------------------------------------------------------

uint32_t CClient::SendStartEventHook(uint32_t count, uint32_t code, uint32_t detail, void* user)
{
    CLIENT_TRACE("SendStartEventHook(): NumBytes: %d\n", count);
    static_cast<CClient*>(user)->m_send.Started(code, detail);
    return 0;
}

uint32_t CClient::RcvStartEventHook(uint32_t count, uint32_t code, uint32_t detail, void* user)
{
    CLIENT_TRACE("RcvStartEventHook(): NumBytes: %d\n", count);
    static_cast<CClient*>(user)->m_receive.Started(code, detail);
    return 0;
}

uint32_t CClient::SendStopEventHook(uint32_t count, uint32_t code, uint32_t detail, void* user)
{
    CLIENT_TRACE("SendStopEventHook(): NumBytes: %d\n", count);
    static_cast<CClient*>(user)->m_send.Stopped(count, code, detail);
    return 0;
}

uint32_t CClient::RcvStopEventHook(uint32_t count, uint32_t code, uint32_t detail, void* user)
{
    CLIENT_TRACE("RcvStopEventHook(): NumBytes: %d\n", count);
    static_cast<CClient*>(user)->m_receive.Stopped(count, code, detail);
    return 0;
}

// ---- Transfers -------------------------------------------------------------------------------------

void CClient::KeepError(uint32_t error)
{
    uint32_t none = 0;
    m_dwStickyError.compare_exchange_strong(none, error);
    m_bConnected = false;
}

void CClient::MarkBroken(uint32_t error)
{
    // The rest of the refused reply is never read: the connection is dropped, and the camera
    // sees its end at once rather than at the client's end.
    KeepError(error);
    if (m_pLink != nullptr) {
        NetRecvDisconnect(m_pLink);
        NetSendDisconnect(m_pLink);
    }
}

bool CClient::StopBeforeTransfer(bool send, uint32_t* result)
{
    if (m_evEndTransfers.Wait(0) == px::WaitResult::Signaled) {
        m_bShuttingDown = true;
        *result = PX_END_OF_TRANSFERS;
        return true;
    }
    if (m_bShuttingDown) {
        ClientMessageBox(m_bErrorMessages, kWarningCaption,
                         send ? "Can't send, Client is shutingdown.\n" : "Can't receive, Client is shutingdown.\n");
        *result = PX_OK;
        return true;
    }
    if (!m_bConnected || m_dwStickyError != 0) {
        m_bConnected = false;
        const uint32_t error = m_dwStickyError;
        *result = error != 0 ? error : PX_COMM_ERROR;
        return true;
    }
    return false;
}

bool CClient::GrowStage(std::unique_ptr<uint8_t[]>* stage, uint32_t* capacity, uint32_t size)
{
    if (*stage && *capacity >= size)
        return true;
    std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
    if (!bigger)
        return false;
    *stage = std::move(bigger);
    *capacity = size;
    return true;
}

uint32_t CClient::SendBuffer(const void* data, uint32_t size)
{
    CLIENT_TRACE("SendBuffer(): iBufferSize: %d\n", size);
    uint32_t result = PX_OK;
    if (StopBeforeTransfer(true, &result))
        return result;
    if (data == nullptr && size > 0)
        return PX_ERROR;
    px::CsLock lock(m_csSend);
    if (m_pTransport != nullptr) {
        if (m_pTransport->SendBuffer(data, size) != PX_OK) {
            KeepError(PX_COMM_ERROR);
            return PX_COMM_ERROR;
        }
        return PX_OK;
    }
    // A send abandoned by a time-out may still read the stage: it is never refilled then.
    if (m_bSendPending || !GrowStage(&m_pSendStage, &m_dwSendStageSize, size)) {
        KeepError(PX_COMM_ERROR);
        return PX_COMM_ERROR;
    }
    if (size > 0)
        std::memcpy(m_pSendStage.get(), data, size);
    return Transfer(true, m_pSendStage.get(), size);
}

uint32_t CClient::Transfer(bool send, void* buffer, uint32_t size)
{
    NetResult r = NetTransferBuffer(m_pLink, buffer, size, send ? NET_DIRECTION_SEND : NET_DIRECTION_RECEIVE, 1, 0,
                                    nullptr, NET_TRANSFER_TRY_NOW);
    if (r.code != NET_SUCCESS_CODE) {
        KeepError(PX_COMM_ERROR);
        char text[256];
        ErrorText(r.code, r.detail, text);
        ClientMessageBox(m_bErrorMessages, kErrorCaption, "NetTransferBuffer: %s \n", text);
        return PX_COMM_ERROR;
    }
    (send ? m_bSendPending : m_bReceivePending) = true;
    return WaitTransfer(send, size);
}

uint32_t CClient::ReceiveBuffer(void* data, uint32_t size)
{
    const uint8_t* staged = nullptr;
    uint32_t result = ReceiveStaged(size, &staged);
    if (result == PX_OK && staged != nullptr && size > 0)
        std::memcpy(data, staged, size);
    return result;
}

uint32_t CClient::ReceiveStaged(uint32_t size, const uint8_t** data)
{
    *data = nullptr;
    // A receive abandoned by a time-out or by EndTransfers may still write into the stage:
    // nothing is received on this client again.
    if (!m_bReceivePending && !GrowStage(&m_pReceiveStage, &m_dwReceiveStageSize, size)) {
        KeepError(PX_COMM_ERROR);
        return PX_COMM_ERROR;
    }
    uint32_t result = ReceiveInto(m_pReceiveStage.get(), size, false);
    if (result == PX_OK)
        *data = m_pReceiveStage.get();
    return result;
}

uint32_t CClient::ReceiveInto(void* destination, uint32_t size, bool callersMemory)
{
    CLIENT_TRACE("ReceiveBuffer(): iBufferSize: %d\n", size);
    uint32_t result = PX_OK;
    if (StopBeforeTransfer(false, &result))
        return result;
    if (m_bReceivePending) {
        KeepError(PX_COMM_ERROR);
        return PX_COMM_ERROR;
    }
    if (m_pTransport != nullptr) {
        if (m_pTransport->ReceiveBuffer(destination, size) != PX_OK) {
            KeepError(PX_COMM_ERROR);
            return PX_COMM_ERROR;
        }
        return PX_OK;
    }
    result = Transfer(false, destination, size);
    if (m_bReceivePending && callersMemory) {
        // Abandoned while the link may still write into the caller's memory: end the transfer
        // now (the connection is finished either way) and wait until the link has let go of it.
        NetRecvDisconnect(m_pLink);
        NetSendDisconnect(m_pLink);
        m_receive.evDone.Wait();
        m_bReceivePending = false;
    }
    return result == PX_OK && m_bReceivePending ? PX_COMM_ERROR : result;
}

uint32_t CClient::WaitTransfer(bool send, uint32_t size)
{
    CCompletionBlock& block = send ? m_send : m_receive;
    px::Event* events[2] = {&block.evDone, &m_evEndTransfers};
    uint32_t timeouts = 0;
    for (;;) {
        if (!send)
            m_bReceiveWaiting = true;
        const int which = px::Event::WaitAny(events, 2, m_dwTimeout);
        if (!send)
            m_bReceiveWaiting = false;

        if (which == 0) {
            (send ? m_bSendPending : m_bReceivePending) = false;
            if (block.dwCode != NET_SUCCESS_CODE && m_bEndingTransfers) {
                // The transfer failed because EndTransfers half-closed the link under it.
                m_bShuttingDown = true;
                return PX_END_OF_TRANSFERS;
            }
            if (block.dwCode != NET_SUCCESS_CODE) {
                KeepError(PX_COMM_ERROR);
                char text[256];
                ErrorText(block.dwCode, block.dwDetail, text);
                ClientMessageBox(m_bErrorMessages, kErrorCaption,
                                 send ? "NetTransferBuffer : %s \n" : "NetTransferBuffer: %s \n", text);
                return PX_COMM_ERROR;
            }
            if (block.dwCount != size) {
                if (send)
                    ClientMessageBox(m_bErrorMessages, kErrorCaption,
                                     "Sent data error. Data size sent not valid.\nSent %d bytes while supposed to "
                                     "send %d bytes\r\n",
                                     block.dwCount, size);
                else
                    ClientMessageBox(true, kErrorCaption,
                                     "Receive data error. Data size received not valid.\nReceived %d bytes while "
                                     "waiting for %d bytes\r\n",
                                     block.dwCount, size);
            }
            return PX_OK;
        }
        if (which == 1) {
            m_bShuttingDown = true;
            return PX_END_OF_TRANSFERS;
        }

        // Time-out (or a wait that failed): the connection is lost for good; the watchdog
        // says whether the camera is, and only a live watchdog earns another wait.
        ++timeouts;
        KeepError(PX_COMM_ERROR);
        if (m_pAgentChannel == nullptr)
            return PX_COMM_ERROR;
        const uint32_t status = m_pAgentChannel->WatchDogStatus();
        uint32_t result = PX_COMM_ERROR;
        if (status != 0) {
            uint32_t kept = PX_COMM_ERROR;
            m_dwStickyError.compare_exchange_strong(kept, status);
            result = status;
        }
        ClientMessageBox(m_bErrorMessages, kErrorCaption,
                         send ? "WaitForMultipleObjects timeout in CClient::SendBuffer.\n"
                              : "WaitForMultipleObjects timeout in CClient::ReceiveBuffer.\n");
        if (!(timeouts < m_pAgentChannel->Retries() && status == 0))
            return result;
    }
}

uint32_t CClient::SendCommand(const AgentCommand& command, const void* input, uint32_t inputSize)
{
    // A command of two sends (envelope, record) must not interleave with a forced transfer
    // sent from another thread.
    px::CsLock lock(m_csSend);
    return AgentSendCommand(*this, m_dwAgentVersion, command, input, inputSize);
}

// ---- Info records --------------------------------------------------------------------------------

uint32_t CClient::AllocBufParams(uint32_t dwBufType, BufParams** ppRecord, uint32_t* pdwSize)
{
    CLIENT_TRACE("AllocBufParams(): dwBufType: %d\n", dwBufType);
    if (ppRecord == nullptr)
        return PX_ERROR;
    *ppRecord = nullptr;
    uint32_t size = 0;
    const bool known = BufParamsSize(dwBufType, &size);
    if (pdwSize != nullptr)
        *pdwSize = size;
    if (!known)
        return PX_ERROR;
    if (dwBufType == BUFTYPE_INPUT)
        return PX_OK;
    auto* record = new (std::nothrow) BufParams;
    if (record == nullptr)
        return PX_ERROR;
    BufParamsInit(dwBufType, record);
    *ppRecord = record;
    return PX_OK;
}

void CClient::FreeBufParams(uint32_t dwBufType, BufParams** ppRecord)
{
    CLIENT_TRACE("FreeBufParams(): dwBufType: %d\n", dwBufType);
    if (ppRecord == nullptr)
        return;
    delete *ppRecord;
    *ppRecord = nullptr;
}

uint32_t CClient::FillBufParams(uint32_t dwBufType, const BufParams* pRecord, uint32_t* pdwOut)
{
    CLIENT_TRACE("FillBufParams(): dwBufType: %d\n", dwBufType);
    uint32_t size = 0;
    if (pRecord == nullptr || pdwOut == nullptr || !BufParamsSize(dwBufType, &size))
        return PX_ERROR;
    for (uint32_t i = 0; i < size / 4 && i < kClientInfoRecordWords; ++i)
        pdwOut[i] = pRecord->dwWords[i];
    return PX_OK;
}

uint32_t CClient::AllocAndGetBufParams(const char* strBufId, uint32_t* pdwBufType, BufParams** ppRecord)
{
    const BufIdText id(strBufId);
    CLIENT_TRACE("AllocAndGetBufParams(): strBufId: %s\n", id.sz);
    if (pdwBufType == nullptr || ppRecord == nullptr)
        return PX_ERROR;
    *pdwBufType = 0;
    *ppRecord = nullptr;
    px::CsLock lock(m_csBuffer);
    if (uint32_t error = m_dwStickyError)
        return error;
    if (uint32_t r = SendCommand(AgentMakeGetBufParams(AgentBufferId(id.sz))))
        return r;
    AgentReply reply;
    if (uint32_t r = AgentReadReplyHead(*this, m_dwAgentVersion, CMD_GET_BUF_PARAMS, &reply))
        return r;
    // The records accepted the type and a part C that holds the whole info record (at most
    // 4096 bytes), so only the record's own bytes are kept.
    const uint32_t type = reply.dwPartB[2];
    *pdwBufType = type;
    const uint32_t allocated = AllocBufParams(type, ppRecord, nullptr);
    if (reply.dwPartCSize == 0)
        return allocated;
    const uint8_t* partC = nullptr;
    if (uint32_t r = ReceiveStaged(reply.dwPartCSize, &partC))
        return r;
    if (*ppRecord != nullptr && partC != nullptr &&
        AgentDecodeBufParams(type, partC, reply.dwPartCSize, *ppRecord) != AGENT_OK) {
        MarkBroken(PX_COMM_ERROR);
        return PX_COMM_ERROR;
    }
    return allocated;
}

uint32_t CClient::BufferType()
{
    px::CsLock lock(m_csBuffer);
    return m_dwBufType;
}

// ---- Requests --------------------------------------------------------------------------------------

uint32_t CClient::SetTransferBuffer(const char* strBufId, uint32_t dwWaitForUpdate)
{
    const BufIdText id(strBufId);
    CLIENT_TRACE("SetTransferBuffer(): strBufId: %s WaitForUpdate:%d\n", id.sz, dwWaitForUpdate);
    px::CsLock lock(m_csBuffer);
    FreeBufParams(m_dwBufType, &m_pBufParams);
    uint32_t type = 0;
    AllocAndGetBufParams(id.sz, &type, &m_pBufParams);
    m_DataDesc = DataDesc{};
    m_dwDataDescSize = kAgentDataDescSize;
    std::memcpy(m_strBufId, id.sz, sizeof m_strBufId);
    m_dwBufferId = AgentBufferId(id.sz);
    m_dwBufType = type;
    m_dwBufParamsSize = 0;
    BufParamsSize(type, &m_dwBufParamsSize);
    if (uint32_t error = m_dwStickyError)
        return error;
    const uint32_t watchDogId = m_pAgentChannel != nullptr ? m_pAgentChannel->WatchDogIdentity() : 0;
    return SendCommand(
        AgentMakeSetTransferBuffer(m_dwBufferId, dwWaitForUpdate, m_strClientName, m_dwAgentVersion, watchDogId));
}

uint32_t CClient::SetTransferBufferInfo(const char* strBufId, const uint32_t* pdwRecord)
{
    const BufIdText id(strBufId);
    CLIENT_TRACE("SetTransferBufferInfo(): strBufId: %s \n", id.sz);
    px::CsLock lock(m_csBuffer);
    if (AgentBufferId(id.sz) != m_dwBufferId) {
        ClientMessageBox(m_bErrorMessages, kErrorCaption, "Trying to set buffer info for unconnected buffer.\n");
        return PX_WRONG_BUFFER;
    }
    if (pdwRecord == nullptr)
        return PX_ERROR;
    if (uint32_t error = m_dwStickyError)
        return error;
    BufParams record;
    if (BufParamsInit(m_dwBufType, &record) != AGENT_OK)
        return PX_WRONG_BUFFER;
    for (uint32_t i = 0; i < record.dwSize / 4; ++i)
        record.dwWords[i] = pdwRecord[i];
    uint8_t bytes[kBufParamsMaxSize];
    size_t size = 0;
    AgentCommand command;
    if (AgentEncodeBufParams(record, bytes, sizeof bytes, &size) != AGENT_OK ||
        AgentMakeSetBufParams(m_dwBufferId, bytes, size, &command) != AGENT_OK)
        return PX_ERROR;
    if (uint32_t r = SendCommand(command))
        return r;
    FreeBufParams(m_dwBufType, &m_pBufParams);
    uint32_t type = 0;
    const uint32_t r = AllocAndGetBufParams(m_strBufId, &type, &m_pBufParams);
    m_dwBufType = type;
    m_dwBufParamsSize = 0;
    BufParamsSize(type, &m_dwBufParamsSize);
    return r;
}

uint32_t CClient::SetTransferBufferInfo(const char* strBufId, uint32_t dwParam, const uint32_t* pdwValue)
{
    const BufIdText id(strBufId);
    CLIENT_TRACE("SetTransferBufferInfo(): strBufId: %s dwParam:%d\n", id.sz, dwParam);
    px::CsLock lock(m_csBuffer);
    if (pdwValue == nullptr)
        return PX_ERROR;
    if (m_dwBufType != BUFTYPE_IMAGE)
        return PX_WRONG_BUFFER;
    if (m_pBufParams == nullptr)
        return PX_ERROR;
    uint32_t record[kClientInfoRecordWords];
    std::memcpy(record, m_pBufParams->dwWords, sizeof record);
    switch (dwParam) {
    case ITEM_SIZE_X: record[IMAGE_SIZE_X] = *pdwValue; break;
    case ITEM_SIZE_Y: record[IMAGE_SIZE_Y] = *pdwValue; break;
    case ITEM_OFFSET_X: record[IMAGE_OFFSET_X] = *pdwValue; break;
    case ITEM_OFFSET_Y: record[IMAGE_OFFSET_Y] = *pdwValue; break;
    case ITEM_IMAGE_FORMAT: record[IMAGE_FORMAT] = *pdwValue; break;
    case ITEM_SUBSECTION: record[IMAGE_SUBSECTION] = *pdwValue; break;
    default: break;
    }
    record[IMAGE_DATA_SIZE] = record[IMAGE_SIZE_X] * record[IMAGE_SIZE_Y] * BufParamsBytesPerPixel(record[IMAGE_FORMAT]);
    return SetTransferBufferInfo(strBufId, record);
}

uint32_t CClient::GetTransferBufferInfo(const char* strBufId, uint32_t* pdwRecord)
{
    const BufIdText id(strBufId);
    CLIENT_TRACE("GetTransferBufferInfo(): strBufId: %s\n", id.sz);
    px::CsLock lock(m_csBuffer);
    FillBufParams(m_dwBufType, m_pBufParams, pdwRecord);
    return PX_OK;
}

uint32_t CClient::GetTransferBufferInfo(const char* strBufId, uint32_t dwParam, uint32_t* pdwValue)
{
    const BufIdText id(strBufId);
    CLIENT_TRACE("GetTransferBufferInfo(): strBufId: %s dwParam:%d\n", id.sz, dwParam);
    px::CsLock lock(m_csBuffer);
    if (pdwValue == nullptr || !BufParamsSize(m_dwBufType, nullptr))
        return PX_ERROR;
    if (dwParam == ITEM_BUFFER_TYPE) {
        *pdwValue = m_dwBufType;
        return PX_OK;
    }
    uint32_t value = 0;
    if (m_pBufParams != nullptr && BufParamsItem(*m_pBufParams, dwParam, &value))
        *pdwValue = value;
    return PX_OK;
}

uint64_t CClient::DestinationSize(const DataDesc& desc, bool* region)
{
    *region = false;
    if (m_pBufParams == nullptr)
        return 0;
    const uint32_t* w = m_pBufParams->dwWords;
    if (m_dwBufType == BUFTYPE_IMAGE) {
        if (desc.dwWords[DATADESC_IS_REGION] == 1) {
            *region = true;
            return uint64_t{w[IMAGE_FULL_SIZE_X]} * w[IMAGE_FULL_SIZE_Y] * w[IMAGE_NUM_BANDS];
        }
        return w[IMAGE_DATA_SIZE];
    }
    uint32_t size = 0;
    return BufParamsItem(*m_pBufParams, ITEM_DATA_SIZE, &size) ? size : 0;
}

uint32_t CClient::ReadData(uint32_t bForceTransfer, uint8_t* pDestination, uint32_t* pdwReceived)
{
    if (uint32_t r = SendCommand(AgentMakeGetData(m_dwBufferId, bForceTransfer)))
        return r;
    AgentReply reply;
    if (uint32_t r = AgentReadReplyHead(*this, m_dwAgentVersion, CMD_GET_TRANSFER_BUFFER_DATA, &reply))
        return r;
    // The records keep part B within the 72 bytes of the description.
    DataDesc desc;
    std::memcpy(desc.dwWords, reply.dwPartB, sizeof desc.dwWords);
    m_DataDesc = desc;
    m_dwDataDescSize = reply.dwPartBSize;
    uint32_t result = PX_OK;
    if (AgentUsesEnvelopes(m_dwAgentVersion) && desc.dwWords[DATADESC_RESULT] != 0)
        result = desc.dwWords[DATADESC_RESULT];
    if (reply.dwPartCSize == 0)
        return result;

    // Nothing is read that the caller's destination cannot hold.
    bool region = false;
    const uint64_t capacity = DestinationSize(desc, &region);
    if (reply.dwPartCSize > capacity)
        return DataOutgrewRecord(desc, reply.dwPartCSize);
    // Whole data goes straight into the caller's destination (its one copy); a region is staged
    // first, as its rows are spread over the image.
    const uint8_t* data = nullptr;
    if (region) {
        if (uint32_t r = ReceiveStaged(reply.dwPartCSize, &data))
            return r;
    } else if (uint32_t r = ReceiveInto(pDestination, reply.dwPartCSize, true)) {
        return r;
    }
    if (m_dwBufType == BUFTYPE_IMAGE && desc.dwWords[DATADESC_NEW_FORMAT] != 0)
        m_pBufParams->dwWords[IMAGE_FORMAT] = desc.dwWords[DATADESC_NEW_FORMAT];
    if (region) {
        const uint32_t* w = m_pBufParams->dwWords;
        if (AgentPlaceRegion(AgentRegionOf(desc), w[IMAGE_NUM_BANDS], w[IMAGE_SIZE_X], data, reply.dwPartCSize,
                             pDestination, static_cast<size_t>(capacity)) != AGENT_OK) {
            MarkBroken(PX_COMM_ERROR);
            return PX_COMM_ERROR;
        }
    }
    *pdwReceived = 1;
    return result;
}

uint32_t CClient::DataOutgrewRecord(const DataDesc& desc, uint32_t size)
{
    // Another client may have widened the window or changed the format since the record was
    // read: a healthy connection then sends more than the caller made room for. The reply is
    // read and dropped, the record read anew, and when it allows the size the host is told to
    // reallocate. A size no record can explain is a hostile reply.
    if (size > kAgentMaxDrainSize) {
        MarkBroken(PX_COMM_ERROR);
        return PX_COMM_ERROR;
    }
    for (uint32_t left = size; left > 0;) {
        const uint32_t piece = left < kDrainPiece ? left : kDrainPiece;
        const uint8_t* ignored = nullptr;
        if (uint32_t r = ReceiveStaged(piece, &ignored))
            return r;
        left -= piece;
    }
    FreeBufParams(m_dwBufType, &m_pBufParams);
    uint32_t type = 0;
    const uint32_t r = AllocAndGetBufParams(m_strBufId, &type, &m_pBufParams);
    m_dwBufType = type;
    m_dwBufParamsSize = 0;
    BufParamsSize(type, &m_dwBufParamsSize);
    if (r != PX_OK)
        return r;
    bool region = false;
    if (size > DestinationSize(desc, &region)) {
        MarkBroken(PX_COMM_ERROR);
        return PX_COMM_ERROR;
    }
    return PX_BUFFER_CHANGED;
}

uint32_t CClient::GetTransferBufferData(const char* strBufId, uint32_t bForceTransfer, void* pDestination,
                                        uint32_t* pdwRecord, uint32_t* pdwReceived)
{
    const BufIdText id(strBufId);
    uint32_t received = 0;
    if (pdwReceived != nullptr)
        *pdwReceived = 0;
    CLIENT_TRACE("GetTransferBufferData(): strBufId: %s bForceTransfer:%d\n", id.sz, bForceTransfer);
    px::CsLock lock(m_csBuffer);
    uint32_t result = m_dwStickyError;
    if (result == PX_OK) {
        if (pDestination == nullptr)
            result = PX_ERROR;
        else
            result = ReadData(bForceTransfer, static_cast<uint8_t*>(pDestination), &received);
    }
    if (pdwReceived != nullptr)
        *pdwReceived = received;
    if (pdwRecord != nullptr)
        FillBufParams(m_dwBufType, m_pBufParams, pdwRecord);
    return result;
}

uint32_t CClient::GetTransferBufferDataDesc(const char* strBufId, uint32_t dwParam, uint32_t* pdwValue)
{
    const BufIdText id(strBufId);
    CLIENT_TRACE("GetTransferBufferDataDesc(): strBufId: %s dwParam:%d\n", id.sz, dwParam);
    px::CsLock lock(m_csBuffer);
    if (pdwValue == nullptr)
        return PX_ERROR;
    uint32_t values[2] = {};
    uint32_t count = 0;
    if (DataDescItem(m_DataDesc, dwParam, values, &count)) {
        pdwValue[0] = values[0];
        if (count == 2)
            pdwValue[1] = values[1];
    }
    return PX_OK;
}

uint32_t CClient::SendInput(const char* strBufId, uint32_t dwInputSize, const void* pInput)
{
    const BufIdText id(strBufId);
    CLIENT_TRACE("SendInput(): strBufId: %s dwInputSize:%d\n", id.sz, dwInputSize);
    px::CsLock lock(m_csBuffer);
    if (uint32_t error = m_dwStickyError)
        return error;
    if (pInput == nullptr && dwInputSize > 0)
        return PX_ERROR;
    return SendCommand(AgentMakeSendInput(m_dwBufferId, dwInputSize), pInput, dwInputSize);
}

uint32_t CClient::GetNumberOfClient(const char* strBufId, uint32_t* pdwNumberOfClient)
{
    const BufIdText id(strBufId);
    px::CsLock lock(m_csBuffer);
    uint32_t count = 0;
    uint32_t result = PX_OK;
    if (!AgentUsesEnvelopes(m_dwAgentVersion)) {
        result = PX_NOT_SUPPORTED;
    } else if (pdwNumberOfClient == nullptr) {
        result = PX_ERROR;
    } else if (uint32_t error = m_dwStickyError) {
        result = error;
    } else if ((result = SendCommand(AgentMakeGetNumberOfClient())) == PX_OK) {
        AgentReply reply;
        result = AgentReadReplyHead(*this, m_dwAgentVersion, CMD_GET_NUMBER_OF_CLIENT, &reply);
        if (result == PX_OK)
            result = AgentSkipBytes(*this, reply.dwPartCSize);
        if (result == PX_OK) {
            count = reply.dwPartB[0];
            *pdwNumberOfClient = count;
            result = reply.dwPartB[1];
        }
    }
    CLIENT_TRACE("GetNumberOfClient(): strBufId: %s dwNumberOfClient:%d\n", id.sz, count);
    return result;
}

uint32_t CClient::ForceTransferInProgress(const char* strBufId)
{
    const BufIdText id(strBufId);
    CLIENT_TRACE("ForceTransferInProgress(): strBufId: %s\n", id.sz);
    if (uint32_t error = m_dwStickyError)
        return error;
    if (!m_bReceiveWaiting)
        return PX_OK;
    return SendCommand(AgentMakeForceTransfer(AgentBufferId(id.sz)));
}

uint32_t CClient::EndTransfers()
{
    CLIENT_TRACE("EndTransfers()\n");
    m_bEndingTransfers = true;
    if (m_pLink != nullptr) {
        NetRecvDisconnect(m_pLink);
        NetSendDisconnect(m_pLink);
    }
    m_evEndTransfers.Set();
    return PX_OK;
}

uint32_t CClient::GetTimeout(uint32_t* pdwTimeout)
{
    if (pdwTimeout == nullptr)
        return PX_ERROR;
    *pdwTimeout = m_dwTimeout;
    return PX_OK;
}

uint32_t CClient::SetTimeout(uint32_t /*dwTimeout*/) { return PX_NOT_SUPPORTED; }
