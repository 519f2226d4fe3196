// CClient: the connection of one client to one exchange buffer of the camera's agent.
//
// Who owns what: a CClient owns its agent connection on the buffer's port (the link, the waits and
// the sticky error, see AgentConnection.h), the buffer's info record and data description, and the
// staging buffer of region replies. It does not own the agent channel it consults for the
// watchdog's verdict and the retry count; the client record of the C library owns both and
// destroys the CClient first.
//
// Threads: requests run on the caller's thread, one at a time under the buffer lock; each one
// sends its command and reads the reply through the connection, which waits with the time-out.
// ForceTransferInProgress and EndTransfers may be called from a second thread while a request
// waits: the first takes only the connection's send lock (so whole commands never interleave on
// the stream), the second takes no lock at all. Image data is received straight into the caller's
// destination (its only copy), and never after the call returned; a region reply goes through the
// staging buffer first, as its rows are spread over the image.
#pragma once

#include <cstdint>
#include <memory>

#include "client/AgentChannel.h"
#include "client/AgentConnection.h"
#include "netaccess/protocol/AgentProtocol.h"
#include "platform/CriticalSection.h"

// Waits of the client that tests shorten; production uses the defaults.
struct ClientTiming {
    uint32_t dwGoodbyeSleepMs = 100;   // after CMD_BYE, before the link is freed
};

// Words of the caller's info record in the struct calls (60 bytes).
constexpr uint32_t kClientInfoRecordWords = 15;

class CClient {
public:
    // Connects to port of the camera and greets the agent. A failure leaves the client with
    // connected 0 and sticky error 3000. timeoutMs 0xFFFFFFFF waits without limit. The agent
    // channel, when given, must outlive the client.
    CClient(const NetAddress& address, uint16_t port, const char* clientName, uint32_t timeoutMs, bool errorMessages,
            CAgentChannel* agentChannel, const ClientTiming& timing = ClientTiming());
    // A client whose messages travel through transport instead of a link (tests and the fuzz
    // target feed agent replies this way): the same requests, the same checks of every reply,
    // no time-outs. The greeting runs on the transport at once; transport must outlive the client.
    CClient(IAgentStream* transport, const char* clientName, bool errorMessages, CAgentChannel* agentChannel,
            const ClientTiming& timing = ClientTiming());
    ~CClient();
    CClient(const CClient&) = delete;
    CClient& operator=(const CClient&) = delete;

    uint32_t SetTransferBuffer(const char* strBufId, uint32_t dwWaitForUpdate) PX_EXCLUDES(m_csBuffer);
    uint32_t SetTransferBufferInfo(const char* strBufId, const uint32_t* pdwRecord) PX_EXCLUDES(m_csBuffer);
    uint32_t SetTransferBufferInfo(const char* strBufId, uint32_t dwParam, const uint32_t* pdwValue)
        PX_EXCLUDES(m_csBuffer);
    uint32_t GetTransferBufferInfo(const char* strBufId, uint32_t* pdwRecord) PX_EXCLUDES(m_csBuffer);
    uint32_t GetTransferBufferInfo(const char* strBufId, uint32_t dwParam, uint32_t* pdwValue) PX_EXCLUDES(m_csBuffer);
    // destination: data size bytes of the info record, or full size x × full size y × bands for
    // an image whose agent answers with regions. pdwRecord (15 words) may be null.
    uint32_t GetTransferBufferData(const char* strBufId, uint32_t bForceTransfer, void* pDestination,
                                   uint32_t* pdwRecord, uint32_t* pdwReceived) PX_EXCLUDES(m_csBuffer);
    // pdwValue: two places for 2009.
    uint32_t GetTransferBufferDataDesc(const char* strBufId, uint32_t dwParam, uint32_t* pdwValue)
        PX_EXCLUDES(m_csBuffer);
    uint32_t SendInput(const char* strBufId, uint32_t dwInputSize, const void* pInput) PX_EXCLUDES(m_csBuffer);
    uint32_t GetNumberOfClient(const char* strBufId, uint32_t* pdwNumberOfClient) PX_EXCLUDES(m_csBuffer);
    uint32_t ForceTransferInProgress(const char* strBufId);
    uint32_t EndTransfers();
    uint32_t GetTimeout(uint32_t* pdwTimeout);
    uint32_t SetTimeout(uint32_t dwTimeout);

    // One message out / in on the link, with the time-out, watchdog and sticky-error rules.
    uint32_t SendBuffer(const void* data, uint32_t size) { return m_connection.SendBuffer(data, size); }
    uint32_t ReceiveBuffer(void* data, uint32_t size) { return m_connection.ReceiveBuffer(data, size); }

    // The info-record family. Records are px::agent::BufParams, owned by whoever allocated them.
    uint32_t AllocBufParams(uint32_t dwBufType, px::agent::BufParams** ppRecord, uint32_t* pdwSize);
    void FreeBufParams(uint32_t dwBufType, px::agent::BufParams** ppRecord);
    // Copies the type's words into the caller's 15-word record; 2000 without a record.
    uint32_t FillBufParams(uint32_t dwBufType, const px::agent::BufParams* pRecord, uint32_t* pdwOut);
    uint32_t AllocAndGetBufParams(const char* strBufId, uint32_t* pdwBufType, px::agent::BufParams** ppRecord)
        PX_EXCLUDES(m_csBuffer);

    // For the C library.
    bool Connected() const { return m_connection.Connected(); }
    uint32_t StickyError() const { return m_connection.StickyError(); }
    uint32_t BufferType() PX_EXCLUDES(m_csBuffer);
    uint32_t Timeout() const { return m_connection.Timeout(); }
    uint32_t AgentVersion() const { return m_connection.AgentVersion(); }

private:
    uint32_t ReadBufParams(px::agent::BufferId id, uint32_t* pdwBufType, px::agent::BufParams** ppRecord)
        PX_REQUIRES(m_csBuffer);
    // Frees the info record and reads it anew for the subscribed buffer.
    uint32_t RereadBufParams() PX_REQUIRES(m_csBuffer);
    // The record form of SetTransferBufferInfo: only for the subscribed identifier.
    uint32_t ApplyRecord(px::agent::BufferId id, const uint32_t* pdwRecord) PX_REQUIRES(m_csBuffer);
    // Bytes the caller's destination holds for a reply with this description.
    uint64_t DestinationSize(const px::agent::DataDesc& desc, bool* region) PX_REQUIRES(m_csBuffer);
    uint32_t ReadData(uint32_t bForceTransfer, uint8_t* pDestination, uint32_t* pdwReceived) PX_REQUIRES(m_csBuffer);
    // A data reply larger than the destination: PX_BUFFER_CHANGED when the record read anew
    // allows it, else the hostile reply's PX_COMM_ERROR, kept.
    uint32_t DataOutgrewRecord(const px::agent::DataDesc& desc, uint32_t size) PX_REQUIRES(m_csBuffer);

    const NetAddress m_address;
    const uint16_t m_usRemotePort = 0;
    CAgentChannel* const m_pAgentChannel;
    CAgentConnection m_connection;
    char m_strClientName[256] = {};
    const bool m_bErrorMessages;
    px::CriticalSection m_csBuffer;
    uint32_t m_dwBufType PX_GUARDED_BY(m_csBuffer) = 0;
    px::agent::BufferId m_bufferId PX_GUARDED_BY(m_csBuffer);
    px::agent::BufParams* m_pBufParams PX_GUARDED_BY(m_csBuffer) = nullptr;
    uint32_t m_dwBufParamsSize PX_GUARDED_BY(m_csBuffer) = 0;
    px::agent::DataDesc m_DataDesc PX_GUARDED_BY(m_csBuffer);
    uint32_t m_dwDataDescSize PX_GUARDED_BY(m_csBuffer) = 0;
    // Region replies are received here before their rows are placed into the caller's image.
    std::unique_ptr<uint8_t[]> m_pRegionStage PX_GUARDED_BY(m_csBuffer);
    uint32_t m_dwRegionStageSize PX_GUARDED_BY(m_csBuffer) = 0;
    ClientTiming m_timing;
};
