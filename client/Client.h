// CClient: the connection of one client to one exchange buffer of the camera's agent.
//
// Who owns what: a CClient owns its NetContext and NetLink on the buffer's port, its two
// completion blocks, the buffer's info record and data description, and two staging buffers
// that every transfer on the link goes through. It does not own the agent channel it consults
// for the watchdog's verdict and the retry count; the client record of the C library owns both
// and destroys the CClient first.
//
// Threads: requests run on the caller's thread, one at a time under the buffer lock; each one
// issues asynchronous transfers on the link and waits for their completion with the time-out.
// The link's two worker threads move the bytes and run the stop hooks, which only store the
// outcome and signal the completion block's event. ForceTransferInProgress and EndTransfers may
// be called from a second thread while a request waits: the first takes only the send lock (so
// whole commands never interleave on the stream), the second takes no lock at all.
//
// The link never touches a caller's memory after a call returned. Sends and the small reply
// records go through the client's staging buffers: a transfer abandoned by a time-out or by
// EndTransfers may still complete later on the worker thread into that client-owned memory,
// which lives until the link is freed, and no new transfer of that direction is ever issued on
// the link again (the sticky error or the shutting-down state sees to that). Image data, the
// bulk, is received straight into the caller's destination (its only copy); when such a
// receive is given up, the connection is shut and the transfer waited for before the call
// returns.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "client/AgentChannel.h"
#include "client/AgentExchange.h"
#include "netaccess/AgentProtocol.h"
#include "netaccess/NetAccess.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"

// Waits of the client that tests shorten; production uses the defaults.
struct ClientTiming {
    uint32_t dwGoodbyeSleepMs = 100;   // after CMD_BYE, before the link is freed
};

// Words of the caller's info record in the struct calls (60 bytes).
constexpr uint32_t kClientInfoRecordWords = 15;

class CClient : private IAgentStream {
public:
    // Connects to port of the host (name, or address when given) and greets the agent. A failure
    // leaves the client with connected 0 and sticky error 3000. timeoutMs 0xFFFFFFFF waits
    // without limit. The agent channel, when given, must outlive the client.
    CClient(const char* hostName, const uint8_t* ipv4, uint16_t port, const char* clientName, uint32_t timeoutMs,
            bool errorMessages, CAgentChannel* agentChannel, const ClientTiming& timing = ClientTiming());
    // A client whose messages travel through transport instead of a link (tests and the fuzz
    // target feed agent replies this way): the same requests, the same checks of every reply,
    // no time-outs. The greeting runs on the transport at once; transport must outlive the client.
    CClient(IAgentStream* transport, const char* clientName, bool errorMessages, CAgentChannel* agentChannel,
            const ClientTiming& timing = ClientTiming());
    ~CClient();
    CClient(const CClient&) = delete;
    CClient& operator=(const CClient&) = delete;

    uint32_t SetTransferBuffer(const char* strBufId, uint32_t dwWaitForUpdate);
    uint32_t SetTransferBufferInfo(const char* strBufId, const uint32_t* pdwRecord);
    uint32_t SetTransferBufferInfo(const char* strBufId, uint32_t dwParam, const uint32_t* pdwValue);
    uint32_t GetTransferBufferInfo(const char* strBufId, uint32_t* pdwRecord);
    uint32_t GetTransferBufferInfo(const char* strBufId, uint32_t dwParam, uint32_t* pdwValue);
    // destination: data size bytes of the info record, or full size x × full size y × bands for
    // an image whose agent answers with regions. pdwRecord (15 words) may be null.
    uint32_t GetTransferBufferData(const char* strBufId, uint32_t bForceTransfer, void* pDestination,
                                   uint32_t* pdwRecord, uint32_t* pdwReceived);
    // pdwValue: two places for 2009.
    uint32_t GetTransferBufferDataDesc(const char* strBufId, uint32_t dwParam, uint32_t* pdwValue);
    uint32_t SendInput(const char* strBufId, uint32_t dwInputSize, const void* pInput);
    uint32_t GetNumberOfClient(const char* strBufId, uint32_t* pdwNumberOfClient);
    uint32_t ForceTransferInProgress(const char* strBufId);
    uint32_t EndTransfers();
    uint32_t GetTimeout(uint32_t* pdwTimeout);
    uint32_t SetTimeout(uint32_t dwTimeout);

    // One message out / in on the link, with the time-out, watchdog and sticky-error rules.
    uint32_t SendBuffer(const void* data, uint32_t size) override;
    uint32_t ReceiveBuffer(void* data, uint32_t size) override;

    // The info-record family. Records are px::agent::BufParams, owned by whoever allocated them.
    uint32_t AllocBufParams(uint32_t dwBufType, px::agent::BufParams** ppRecord, uint32_t* pdwSize);
    void FreeBufParams(uint32_t dwBufType, px::agent::BufParams** ppRecord);
    // Copies the type's words into the caller's 15-word record; 2000 without a record.
    uint32_t FillBufParams(uint32_t dwBufType, const px::agent::BufParams* pRecord, uint32_t* pdwOut);
    uint32_t AllocAndGetBufParams(const char* strBufId, uint32_t* pdwBufType, px::agent::BufParams** ppRecord);

    // For the C library.
    bool Connected() const { return m_bConnected.load(); }
    uint32_t StickyError() const { return m_dwStickyError.load(); }
    uint32_t BufferType();
    uint32_t Timeout() const { return m_dwTimeout; }
    uint32_t AgentVersion() const { return m_dwAgentVersion; }

private:
    // Link hooks (user: the client).
    static uint32_t SendStartEventHook(uint32_t count, uint32_t code, uint32_t detail, void* user);
    static uint32_t RcvStartEventHook(uint32_t count, uint32_t code, uint32_t detail, void* user);
    static uint32_t SendStopEventHook(uint32_t count, uint32_t code, uint32_t detail, void* user);
    static uint32_t RcvStopEventHook(uint32_t count, uint32_t code, uint32_t detail, void* user);

    void MarkBroken(uint32_t error) override;
    void Init(const char* clientName, bool errorMessages, CAgentChannel* agentChannel, const ClientTiming& timing);
    bool Connect(const char* hostName, const uint8_t* ipv4);
    // The checks that come before every transfer: 0 to go on, else the result.
    bool StopBeforeTransfer(bool send, uint32_t* result);
    // Receives size bytes into the receive staging buffer; *data points at them on success.
    uint32_t ReceiveStaged(uint32_t size, const uint8_t** data);
    // Receives size bytes into destination. For the caller's memory, a receive that is given up
    // is ended and waited for before the call returns, so the link never writes there later.
    uint32_t ReceiveInto(void* destination, uint32_t size, bool callersMemory);
    // Issues one asynchronous transfer on the link and waits for it (WaitTransfer).
    uint32_t Transfer(bool send, void* buffer, uint32_t size);
    // Waits for the block's completion, the end of transfers, or the time-out (with retries).
    uint32_t WaitTransfer(bool send, uint32_t size);
    bool GrowStage(std::unique_ptr<uint8_t[]>* stage, uint32_t* capacity, uint32_t size);
    void KeepError(uint32_t error);
    uint32_t SendCommand(const px::agent::AgentCommand& command, const void* input = nullptr,
                         uint32_t inputSize = 0);
    // Bytes the caller's destination holds for a reply with this description.
    uint64_t DestinationSize(const px::agent::DataDesc& desc, bool* region);
    uint32_t ReadData(uint32_t bForceTransfer, uint8_t* pDestination, uint32_t* pdwReceived);
    // A data reply larger than the destination: PX_BUFFER_CHANGED when the record read anew
    // allows it, else the hostile reply's PX_COMM_ERROR, kept.
    uint32_t DataOutgrewRecord(const px::agent::DataDesc& desc, uint32_t size);

    uint32_t m_dwIpAddress = 0;
    char m_strHostName[256] = {};
    uint16_t m_usRemotePort = 0;
    uint16_t m_usLocalPort = 0;
    NetContext* m_pContext = nullptr;
    NetLink* m_pLink = nullptr;
    uint32_t m_dwAgentVersion = px::agent::kAgentDefaultVersion;
    char m_strClientName[256] = {};
    CCompletionBlock m_send, m_receive;
    uint32_t m_dwTimeout = 0;
    std::atomic<uint32_t> m_dwStickyError{0};
    px::CriticalSection m_csBuffer;
    std::atomic<bool> m_bConnected{false};
    bool m_bErrorMessages = false;
    uint32_t m_dwBufType = 0;
    uint32_t m_dwBufferId = 0;
    char m_strBufId[5] = {};
    px::agent::BufParams* m_pBufParams = nullptr;
    uint32_t m_dwBufParamsSize = 0;
    px::agent::DataDesc m_DataDesc;
    uint32_t m_dwDataDescSize = 0;
    std::atomic<bool> m_bShuttingDown{false};
    px::Event m_evEndTransfers{true, false};
    std::atomic<bool> m_bReceiveWaiting{false};
    std::atomic<bool> m_bEndingTransfers{false};   // set before EndTransfers half-closes the link
    bool m_bLinkAllocated = false;
    CAgentChannel* m_pAgentChannel = nullptr;
    px::CriticalSection m_csSend;

    // Staging buffers; a pending flag stays set while the link may still use the buffer.
    std::unique_ptr<uint8_t[]> m_pSendStage;
    uint32_t m_dwSendStageSize = 0;
    bool m_bSendPending = false;
    std::unique_ptr<uint8_t[]> m_pReceiveStage;
    uint32_t m_dwReceiveStageSize = 0;
    bool m_bReceivePending = false;

    IAgentStream* m_pTransport = nullptr;
    ClientTiming m_timing;
};
