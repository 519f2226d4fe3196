// CAgentConnection: one connection to the camera's agent, the part the exchange-buffer client and
// the agent channel have in common.
//
// Who owns what: the connection owns its NetContext and NetLink (opened through
// NetOpenClientLink), the completion blocks its hooks fill, the sticky error, the send lock and
// the end-transfers event. Its owner (CClient or CAgentChannel) gives it a style (the texts and
// titles of its boxes, and whether the watchdog's verdict sticks), the time-out, and the
// supervision it consults when a wait runs out (the agent channel, or nobody); the owner calls
// Close() for the good-bye.
//
// Threads: a request runs on its caller's thread. Records and small data move on that thread
// through the link's waiting synchronous transfer (NetTransferBufferWait), which watches the
// socket, the end-transfers event and the time-out together, so that a request and its reply cost
// no hand-over between threads; transfers of at least kWorkerTransferSize bytes go to the link's
// worker threads, whose stop hooks fill the completion blocks while the caller waits on their
// events. Either way nothing of a transfer goes on after the call returned: a bulk transfer that
// is given up is ended by shutting the connection and waited for. Sends take the send lock, so
// that a command of two sends (envelope, record) never interleaves with a forced transfer sent
// from a second thread while a read waits; EndTransfers may come from any thread and takes no
// lock. The sticky error and the flags are atomics for those second threads.
//
// The wait rule lives here once: a wait that runs out loses the connection for good (3000 kept);
// JudgeTimeout is the one place that asks the supervision whether the camera is lost too (3010,
// or 3020 without watchdog) and whether another wait is earned (a live watchdog and retries
// left). The exchange-buffer client keeps that verdict as its sticky error and also wakes on
// EndTransfers; the agent channel keeps only 3000 and returns the verdict.
#pragma once

#include <atomic>
#include <cstdint>

#include "netaccess/NetAccess.h"
#include "netaccess/NetClientLink.h"
#include "netaccess/protocol/AgentProtocol.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"

// The two transfer halves of a connection. CAgentConnection is one (on a link); a test or the fuzz
// target hands it another (scripted bytes) through Open(IAgentStream*), so that the same request
// code and the same checks of every reply run on a socket, on prepared replies and under the fuzzer.
class IAgentStream {
public:
    virtual ~IAgentStream() = default;
    // One message out / in, exactly size bytes; a library result.
    virtual uint32_t SendBuffer(const void* data, uint32_t size) = 0;
    virtual uint32_t ReceiveBuffer(void* data, uint32_t size) = 0;
};

// What a connection asks when a wait runs out: the watchdog's status (0, 3010, 3020) and how many
// waits a live watchdog earns. The agent channel answers for itself and for its clients.
class IAgentSupervision {
public:
    virtual ~IAgentSupervision() = default;
    virtual uint32_t WatchDogStatus() = 0;
    virtual uint32_t Retries() const = 0;
};

// What differs between the connections of the exchange-buffer client and of the agent channel.
struct AgentConnectionStyle {
    const char* szCaption;             // boxes of connecting, transfers, time-outs and freeing
    const char* szSendFailed;          // a send's completion reported a failure (%s: the text)
    const char* szSendTimeout;         // a wait for a send / a receive ran out
    const char* szReceiveTimeout;
    const char* szShortSend;           // the socket took less than the record (%d sent, %d size)
    const char* szShortReceiveCaption; // the box of a short receive, shown whatever the setting
    const char* szCantSend;            // after EndTransfers (null: the connection has no such end)
    const char* szCantReceive;
    bool bKeepsVerdict;                // the watchdog's 3010 / 3020 becomes the sticky error
    bool bTraces;                      // the exchange-buffer client's trace lines
};

// One completion block: written by a link's stop hook on the worker thread, waited for by the
// requesting thread (the event orders the two).
struct CCompletionBlock {
    px::Event evStarted{false, false};
    px::Event evDone{false, false};
    uint32_t dwCode = 0;
    uint32_t dwDetail = 0;
    uint32_t dwCount = 0;

    void Started(uint32_t code, uint32_t detail)
    {
        dwCode = code;
        dwDetail = detail;
        evStarted.Set();
    }
    void Stopped(uint32_t count, uint32_t code, uint32_t detail)
    {
        dwCode = code;
        dwDetail = detail;
        dwCount = count;
        evDone.Set();
    }
};

// Transfers of this size and above go through the link's worker threads (see the head).
constexpr uint32_t kWorkerTransferSize = 1u << 20;

class CAgentConnection : public IAgentStream {
public:
    CAgentConnection(const AgentConnectionStyle& style, bool errorMessages, uint32_t timeoutMs,
                     IAgentSupervision* supervision);
    ~CAgentConnection() override;
    CAgentConnection(const CAgentConnection&) = delete;
    CAgentConnection& operator=(const CAgentConnection&) = delete;

    // Connects to port of the camera and greets the agent; a failure leaves connected 0 and the
    // sticky error 3000, with its box.
    void Open(const NetAddress& address, uint16_t port);
    // The same over another transport, which must outlive the connection; no time-outs.
    void Open(IAgentStream* transport);
    // The good-bye: CMD_BYE when no error is kept, the pause, then the link and the context freed
    // (the link only when still no error is kept), with a box for each failure.
    void Close(uint32_t goodbyePauseMs);

    // One message out / in with the rules of the style.
    uint32_t SendBuffer(const void* data, uint32_t size) override;
    uint32_t ReceiveBuffer(void* data, uint32_t size) override;
    // A reply broke the protocol: keep 3000 and shut the connection (its rest is never read).
    void MarkBroken();

    // The requests' pieces. SendCommand sends the envelope (new agents), the record and, for
    // CMD_SEND_INPUT, the input bytes in one message; CMD_GET_TRANSFER_BUFFER_DATA and
    // CMD_SEND_INPUT go out in one send, the others as envelope and record.
    uint32_t SendCommand(const px::agent::AgentCommand& command, const void* input = nullptr, uint32_t inputSize = 0)
        PX_EXCLUDES(m_csSend);
    // Sends command only while a data request awaits its reply (sent, or being received), checked
    // under the send lock that the request went out under; 0 without sending otherwise.
    uint32_t SendWhileReceiveWaiting(const px::agent::AgentCommand& command) PX_EXCLUDES(m_csSend);
    // Reads the reply envelope (new agents) and parts A and B of the reply to command; a size the
    // records refuse marks the connection broken (3000).
    uint32_t ReadReplyHead(uint32_t command, px::agent::AgentReply* reply);
    // Reads and drops size bytes (a part nobody has a use for).
    uint32_t Skip(uint64_t size);

    // Half-closes the link and signals the end of transfers: every transfer returns 1001 from now.
    void EndTransfers();

    uint32_t StickyError() const { return m_dwStickyError.load(); }
    bool Connected() const { return m_bConnected.load(); }
    uint32_t AgentVersion() const { return m_dwAgentVersion; }
    uint32_t Timeout() const { return m_dwTimeout; }
    // What ended the first transfer that failed ({0, 0} while none did): the layer's result, with
    // detail 5164 when a wait ran out. For diagnostics and tests; the results above are the rules.
    NetResult FirstFailure() const;

private:
    template <bool Send, bool Stop>
    static uint32_t Hook(uint32_t count, uint32_t code, uint32_t detail, void* user);

    void Greet();
    void KeepError(uint32_t error, NetResult cause);
    void Box(const char* format, NetResult result);
    // The checks before every transfer: true with *result when the transfer does not happen.
    bool StopBeforeTransfer(bool send, uint32_t* result);
    uint32_t SendLocked(const void* data, uint32_t size) PX_REQUIRES(m_csSend);
    uint32_t SendCommandLocked(const px::agent::AgentCommand& command, const void* input, uint32_t inputSize)
        PX_REQUIRES(m_csSend);
    uint32_t Transfer(bool send, void* buffer, uint32_t size);
    uint32_t TransferHere(bool send, uint8_t* buffer, uint32_t size);
    uint32_t TransferOnWorker(bool send, uint8_t* buffer, uint32_t size);
    // The end of a transfer that completed (code 0) or failed on the way.
    uint32_t Completed(bool send, NetResult result, uint32_t count, uint32_t size);
    uint32_t Ended();
    // The one verdict on a wait that ran out (see the head): true when another wait is earned.
    bool JudgeTimeout(bool send, uint32_t timeouts, uint32_t* result);

    const AgentConnectionStyle& m_style;
    const bool m_bErrorMessages;
    const uint32_t m_dwTimeout;
    IAgentSupervision* const m_pSupervision;
    IAgentStream* m_pTransport = nullptr;
    NetContext* m_pContext = nullptr;
    NetLink* m_pLink = nullptr;
    uint32_t m_dwAgentVersion = px::agent::kAgentDefaultVersion;
    CCompletionBlock m_send, m_receive;
    std::atomic<uint32_t> m_dwStickyError{0};
    mutable px::CriticalSection m_csFailure;
    NetResult m_firstFailure PX_GUARDED_BY(m_csFailure){0, 0};
    std::atomic<bool> m_bConnected{false};
    std::atomic<bool> m_bShuttingDown{false};
    std::atomic<bool> m_bEndingTransfers{false};   // set before EndTransfers half-closes the link
    std::atomic<bool> m_bReceiveWaiting{false};
    px::Event m_evEndTransfers{true, false};
    px::CriticalSection m_csSend;
};
