#include "client/Client.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "client/ClientTrace.h"
#include "pellix/pellix.h"

using namespace px::agent;

namespace {

constexpr const char* kErrorCaption = "Pellix Error";

// The boxes and rules of the exchange-buffer client's connection.
const AgentConnectionStyle kClientStyle{
    kErrorCaption,
    "NetTransferBuffer : %s \n",
    "WaitForMultipleObjects timeout in CClient::SendBuffer.\n",
    "WaitForMultipleObjects timeout in CClient::ReceiveBuffer.\n",
    "Sent data error. Data size sent not valid.\nSent %d bytes while supposed to send %d bytes\r\n",
    kErrorCaption,
    "Can't send, Client is shutingdown.\n",
    "Can't receive, Client is shutingdown.\n",
    true,
    true,
};

// A reply that outgrew the caller's destination is drained in pieces of at most this size.
constexpr uint32_t kDrainPiece = 1u << 20;

} // namespace

// ---- Life ------------------------------------------------------------------------------------------

CClient::CClient(const NetAddress& address, uint16_t port, const char* clientName, uint32_t timeoutMs,
                 bool errorMessages, CAgentChannel* agentChannel, const ClientTiming& timing)
    : m_address(address), m_usRemotePort(port), m_pAgentChannel(agentChannel),
      m_connection(kClientStyle, errorMessages, timeoutMs, agentChannel), m_bErrorMessages(errorMessages),
      m_timing(timing)
{
    if (clientName != nullptr)
        std::snprintf(m_strClientName, sizeof m_strClientName, "%s", clientName);
    CLIENT_TRACE("CClient(): strClientName: %s\n", m_strClientName);
    m_connection.Open(m_address, m_usRemotePort);
}

CClient::CClient(IAgentStream* transport, const char* clientName, bool errorMessages, CAgentChannel* agentChannel,
                 const ClientTiming& timing)
    : m_pAgentChannel(agentChannel), m_connection(kClientStyle, errorMessages, px::kInfinite, agentChannel),
      m_bErrorMessages(errorMessages), m_timing(timing)
{
    if (clientName != nullptr)
        std::snprintf(m_strClientName, sizeof m_strClientName, "%s", clientName);
    CLIENT_TRACE("CClient(): strClientName: %s\n", m_strClientName);
    m_connection.Open(transport);
}

CClient::~CClient()
{
    CLIENT_TRACE("~CClient()\n");
    m_connection.Close(m_timing.dwGoodbyeSleepMs);
    px::CsLock lock(m_csBuffer);
    FreeBufParams(m_dwBufType, &m_pBufParams);
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
    px::CsLock lock(m_csBuffer);
    return ReadBufParams(BufferId::FromText(strBufId), pdwBufType, ppRecord);
}

uint32_t CClient::ReadBufParams(BufferId id, uint32_t* pdwBufType, BufParams** ppRecord)
{
    CLIENT_TRACE("AllocAndGetBufParams(): strBufId: %s\n", id.ToText().c_str());
    if (pdwBufType == nullptr || ppRecord == nullptr)
        return PX_ERROR;
    *pdwBufType = 0;
    *ppRecord = nullptr;
    if (uint32_t error = m_connection.StickyError())
        return error;
    if (uint32_t r = m_connection.SendCommand(AgentMakeGetBufParams(id)))
        return r;
    AgentReply reply;
    if (uint32_t r = m_connection.ReadReplyHead(CMD_GET_BUF_PARAMS, &reply))
        return r;
    // The records accepted part C (at most 4096 bytes, and the whole record of a known type). A
    // type outside the table allocates nothing; its part C is read and dropped.
    const uint32_t type = reply.dwPartB[2];
    *pdwBufType = type;
    const uint32_t allocated = AllocBufParams(type, ppRecord, nullptr);
    if (reply.dwPartCSize == 0)
        return allocated;
    uint8_t partC[kAgentMaxReplyPartSize];
    if (uint32_t r = m_connection.ReceiveBuffer(partC, reply.dwPartCSize))
        return r;
    if (*ppRecord != nullptr && AgentDecodeBufParams(type, partC, reply.dwPartCSize, *ppRecord) != AGENT_OK) {
        m_connection.MarkBroken();
        return PX_COMM_ERROR;
    }
    return allocated;
}

uint32_t CClient::RereadBufParams()
{
    FreeBufParams(m_dwBufType, &m_pBufParams);
    uint32_t type = 0;
    const uint32_t r = ReadBufParams(m_bufferId, &type, &m_pBufParams);
    m_dwBufType = type;
    m_dwBufParamsSize = 0;
    BufParamsSize(type, &m_dwBufParamsSize);
    return r;
}

uint32_t CClient::BufferType()
{
    px::CsLock lock(m_csBuffer);
    return m_dwBufType;
}

// ---- Requests --------------------------------------------------------------------------------------

uint32_t CClient::SetTransferBuffer(const char* strBufId, uint32_t dwWaitForUpdate)
{
    const BufferId id = BufferId::FromText(strBufId);
    CLIENT_TRACE("SetTransferBuffer(): strBufId: %s WaitForUpdate:%d\n", id.ToText().c_str(), dwWaitForUpdate);
    px::CsLock lock(m_csBuffer);
    // The result of reading the record does not stop the subscription (a type outside the table
    // subscribes a buffer without record).
    m_bufferId = id;
    RereadBufParams();
    m_DataDesc = DataDesc{};
    m_dwDataDescSize = kAgentDataDescSize;
    if (uint32_t error = m_connection.StickyError())
        return error;
    const uint32_t watchDogId = m_pAgentChannel != nullptr ? m_pAgentChannel->WatchDogIdentity() : 0;
    return m_connection.SendCommand(
        AgentMakeSetTransferBuffer(id, dwWaitForUpdate, m_strClientName, m_connection.AgentVersion(), watchDogId));
}

uint32_t CClient::SetTransferBufferInfo(const char* strBufId, const uint32_t* pdwRecord)
{
    const BufferId id = BufferId::FromText(strBufId);
    CLIENT_TRACE("SetTransferBufferInfo(): strBufId: %s \n", id.ToText().c_str());
    px::CsLock lock(m_csBuffer);
    return ApplyRecord(id, pdwRecord);
}

uint32_t CClient::ApplyRecord(BufferId id, const uint32_t* pdwRecord)
{
    if (id != m_bufferId) {
        ClientMessageBox(m_bErrorMessages, kErrorCaption, "Trying to set buffer info for unconnected buffer.\n");
        return PX_WRONG_BUFFER;
    }
    if (pdwRecord == nullptr)
        return PX_ERROR;
    if (uint32_t error = m_connection.StickyError())
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
        AgentMakeSetBufParams(m_bufferId, bytes, size, &command) != AGENT_OK)
        return PX_ERROR;
    if (uint32_t r = m_connection.SendCommand(command))
        return r;
    return RereadBufParams();
}

uint32_t CClient::SetTransferBufferInfo(const char* strBufId, uint32_t dwParam, const uint32_t* pdwValue)
{
    const BufferId id = BufferId::FromText(strBufId);
    CLIENT_TRACE("SetTransferBufferInfo(): strBufId: %s dwParam:%d\n", id.ToText().c_str(), dwParam);
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
    return ApplyRecord(id, record);
}

uint32_t CClient::GetTransferBufferInfo(const char* strBufId, uint32_t* pdwRecord)
{
    CLIENT_TRACE("GetTransferBufferInfo(): strBufId: %s\n", BufferId::FromText(strBufId).ToText().c_str());
    px::CsLock lock(m_csBuffer);
    FillBufParams(m_dwBufType, m_pBufParams, pdwRecord);
    return PX_OK;
}

uint32_t CClient::GetTransferBufferInfo(const char* strBufId, uint32_t dwParam, uint32_t* pdwValue)
{
    CLIENT_TRACE("GetTransferBufferInfo(): strBufId: %s dwParam:%d\n", BufferId::FromText(strBufId).ToText().c_str(),
                 dwParam);
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
    if (uint32_t r = m_connection.SendCommand(AgentMakeGetData(m_bufferId, bForceTransfer)))
        return r;
    AgentReply reply;
    if (uint32_t r = m_connection.ReadReplyHead(CMD_GET_TRANSFER_BUFFER_DATA, &reply))
        return r;
    // The records keep part B within the 72 bytes of the description.
    DataDesc desc;
    std::memcpy(desc.dwWords, reply.dwPartB, sizeof desc.dwWords);
    m_DataDesc = desc;
    m_dwDataDescSize = reply.dwPartBSize;
    uint32_t result = PX_OK;
    if (AgentUsesEnvelopes(m_connection.AgentVersion()) && desc.dwWords[DATADESC_RESULT] != 0)
        result = desc.dwWords[DATADESC_RESULT];
    if (reply.dwPartCSize == 0)
        return result;

    // Nothing is read that the caller's destination cannot hold.
    bool region = false;
    const uint64_t capacity = DestinationSize(desc, &region);
    if (reply.dwPartCSize > capacity)
        return DataOutgrewRecord(desc, reply.dwPartCSize);
    const uint8_t* data = pDestination;
    if (region) {
        if (m_dwRegionStageSize < reply.dwPartCSize) {
            m_pRegionStage.reset(new (std::nothrow) uint8_t[reply.dwPartCSize]);
            m_dwRegionStageSize = m_pRegionStage ? reply.dwPartCSize : 0;
            if (!m_pRegionStage)
                return PX_ERROR;
        }
        data = m_pRegionStage.get();
    }
    if (uint32_t r = m_connection.ReceiveBuffer(const_cast<uint8_t*>(data), reply.dwPartCSize))
        return r;
    if (m_dwBufType == BUFTYPE_IMAGE && desc.dwWords[DATADESC_NEW_FORMAT] != 0)
        m_pBufParams->dwWords[IMAGE_FORMAT] = desc.dwWords[DATADESC_NEW_FORMAT];
    if (region) {
        const uint32_t* w = m_pBufParams->dwWords;
        if (AgentPlaceRegion(AgentRegionOf(desc), w[IMAGE_NUM_BANDS], w[IMAGE_SIZE_X], data, reply.dwPartCSize,
                             pDestination, static_cast<size_t>(capacity)) != AGENT_OK) {
            m_connection.MarkBroken();
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
        m_connection.MarkBroken();
        return PX_COMM_ERROR;
    }
    for (uint32_t left = size; left > 0;) {
        const uint32_t piece = left < kDrainPiece ? left : kDrainPiece;
        if (uint32_t r = m_connection.Skip(piece))
            return r;
        left -= piece;
    }
    if (uint32_t r = RereadBufParams())
        return r;
    bool region = false;
    if (size > DestinationSize(desc, &region)) {
        m_connection.MarkBroken();
        return PX_COMM_ERROR;
    }
    return PX_BUFFER_CHANGED;
}

uint32_t CClient::GetTransferBufferData(const char* strBufId, uint32_t bForceTransfer, void* pDestination,
                                        uint32_t* pdwRecord, uint32_t* pdwReceived)
{
    uint32_t received = 0;
    if (pdwReceived != nullptr)
        *pdwReceived = 0;
    CLIENT_TRACE("GetTransferBufferData(): strBufId: %s bForceTransfer:%d\n",
                 BufferId::FromText(strBufId).ToText().c_str(), bForceTransfer);
    px::CsLock lock(m_csBuffer);
    uint32_t result = m_connection.StickyError();
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
    CLIENT_TRACE("GetTransferBufferDataDesc(): strBufId: %s dwParam:%d\n",
                 BufferId::FromText(strBufId).ToText().c_str(), dwParam);
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
    CLIENT_TRACE("SendInput(): strBufId: %s dwInputSize:%d\n", BufferId::FromText(strBufId).ToText().c_str(),
                 dwInputSize);
    px::CsLock lock(m_csBuffer);
    if (uint32_t error = m_connection.StickyError())
        return error;
    if (pInput == nullptr && dwInputSize > 0)
        return PX_ERROR;
    return m_connection.SendCommand(AgentMakeSendInput(m_bufferId, dwInputSize), pInput, dwInputSize);
}

uint32_t CClient::GetNumberOfClient(const char* strBufId, uint32_t* pdwNumberOfClient)
{
    px::CsLock lock(m_csBuffer);
    uint32_t count = 0;
    uint32_t result = PX_OK;
    if (!AgentUsesEnvelopes(m_connection.AgentVersion())) {
        result = PX_NOT_SUPPORTED;
    } else if (pdwNumberOfClient == nullptr) {
        result = PX_ERROR;
    } else if (uint32_t error = m_connection.StickyError()) {
        result = error;
    } else if ((result = m_connection.SendCommand(AgentMakeGetNumberOfClient())) == PX_OK) {
        AgentReply reply;
        result = m_connection.ReadReplyHead(CMD_GET_NUMBER_OF_CLIENT, &reply);
        if (result == PX_OK)
            result = m_connection.Skip(reply.dwPartCSize);
        if (result == PX_OK) {
            count = reply.dwPartB[0];
            *pdwNumberOfClient = count;
            result = reply.dwPartB[1];
        }
    }
    CLIENT_TRACE("GetNumberOfClient(): strBufId: %s dwNumberOfClient:%d\n",
                 BufferId::FromText(strBufId).ToText().c_str(), count);
    return result;
}

uint32_t CClient::ForceTransferInProgress(const char* strBufId)
{
    const BufferId id = BufferId::FromText(strBufId);
    CLIENT_TRACE("ForceTransferInProgress(): strBufId: %s\n", id.ToText().c_str());
    if (uint32_t error = m_connection.StickyError())
        return error;
    return m_connection.SendWhileReceiveWaiting(AgentMakeForceTransfer(id));
}

uint32_t CClient::EndTransfers()
{
    CLIENT_TRACE("EndTransfers()\n");
    m_connection.EndTransfers();
    return PX_OK;
}

uint32_t CClient::GetTimeout(uint32_t* pdwTimeout)
{
    if (pdwTimeout == nullptr)
        return PX_ERROR;
    *pdwTimeout = m_connection.Timeout();
    return PX_OK;
}

uint32_t CClient::SetTimeout(uint32_t /*dwTimeout*/) { return PX_NOT_SUPPORTED; }
