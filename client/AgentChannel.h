// CAgentChannel: a client's connection to the camera's agent as a whole.
//
// Made by PXClientInit when the host asks for it and owned by the client record for the life of
// the handle. It owns: the asynchronous message link (created first, destroyed last), its own
// NetContext/NetLink on the publish port, the buffer-list array it hands out, and the watchdog
// with its supervision thread. Threads: requests (buffer list, resource check) run on the caller's
// thread, one at a time under the request lock; the link's worker threads run the hooks, which
// only store values and signal the completion blocks' events; the supervision thread waits for
// the watchdog's signals and writes the status under the status lock, which the exchange-buffer
// clients of the same handle read from their own threads; the message link has its own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "client/AgentExchange.h"
#include "client/CompletionBlock.h"
#include "netaccess/MsgLink.h"
#include "netaccess/NetAccess.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "pellix/pellix.h"

// The waits of the agent channel that tests shorten; production uses the defaults.
struct AgentChannelTiming {
    uint32_t dwWatchdogReplyMs = 5000;  // answer to WD_CHECK / WD_GET_ID
    uint32_t dwMessagePollMs = 200;     // the message thread's receive wait
};

class CAgentChannel : private IAgentStream {
public:
    // A failure leaves the channel with connected 0 and sticky error 3000.
    CAgentChannel(const char* hostName, const uint8_t* ipv4, uint16_t publishPort, const char* clientName,
                  uint32_t timeoutMs, bool errorMessages, uint32_t signalDelay, uint32_t signalTimeout,
                  uint32_t retries, const AgentChannelTiming& timing = AgentChannelTiming());
    // A channel whose messages travel through transport instead of a link (the fuzz target feeds
    // agent replies this way): the greeting at once, then the same requests and checks, with
    // neither message link nor watchdog. transport must outlive the channel.
    CAgentChannel(IAgentStream* transport, const char* clientName);
    ~CAgentChannel();
    CAgentChannel(const CAgentChannel&) = delete;
    CAgentChannel& operator=(const CAgentChannel&) = delete;

    // The agent's buffers, as PXGetBufferList hands them out. The array stays owned by the channel
    // and valid until the next request or the end of the channel.
    uint32_t GetBufferList(uint32_t* count, const PXBufferListEntry** records);
    // 2050 for agents above 0 and below 3.0.341; otherwise the agent's answer (0: not available).
    uint32_t VerifyResources(uint16_t resource, uint32_t* answer);
    // 0 while signals arrive, 3010 after a miss, 3020 without watchdog.
    uint32_t WatchDogStatus();
    uint32_t Retries() const { return m_dwRetries; }
    uint32_t AgentVersion() const { return m_dwAgentVersion; }
    uint32_t WatchDogIdentity() const { return m_dwWatchDogId; }
    bool HasWatchDog() const { return m_pWatchDog != nullptr; }
    // Waits until the supervision thread has seen a signal missing (the status became 3010).
    bool WaitWatchDogLost(uint32_t timeoutMs) { return m_evLost.Wait(timeoutMs) == px::WaitResult::Signaled; }
    // The message link's list-changed event, or null without message link.
    px::Event* ListChangedEvent();
    bool Connected() const { return m_bConnected; }
    uint32_t StickyError() const { return m_dwStickyError; }

    // One message out or in, with the channel's time-out, retry and sticky-error rules.
    uint32_t Send(const void* data, uint32_t size);
    uint32_t Receive(void* data, uint32_t size);

private:
    static uint32_t StartHook(uint32_t count, uint32_t code, uint32_t detail, void* user);
    static uint32_t StopHook(uint32_t count, uint32_t code, uint32_t detail, void* user);
    // IAgentStream, for the shared request code.
    uint32_t SendBuffer(const void* data, uint32_t size) override { return Send(data, size); }
    uint32_t ReceiveBuffer(void* data, uint32_t size) override { return Receive(data, size); }
    void MarkBroken(uint32_t error) override;

    uint32_t Transfer(uint32_t direction, void* data, uint32_t size);
    void Fail(const char* format, NetResult result);
    void Connect();
    void SetUpWatchDog(uint32_t signalDelay);
    void DropWatchDog();
    void SupervisionThread();

    IAgentStream* m_pTransport = nullptr;
    std::unique_ptr<CAsyncMsgLink> m_pMsgLink;
    uint32_t m_dwIpAddress = 0;
    char m_szHostName[256] = {};
    uint16_t m_usRemotePort = 0;
    uint16_t m_usLocalPort = 0;
    NetContext* m_pContext = nullptr;
    NetLink* m_pLink = nullptr;
    uint32_t m_dwAgentVersion;
    char m_szClientName[256] = {};
    CCompletionBlock m_send, m_receive;
    uint32_t m_dwTimeout;
    uint32_t m_dwStickyError = 0;
    px::CriticalSection m_csRequest;
    bool m_bConnected = false;
    bool m_bErrorMessages;
    uint32_t m_dwBufferCount = 0;
    std::unique_ptr<PXBufferListEntry[]> m_pBufferList;
    uint16_t m_usWatchDogPort = 3073;
    std::unique_ptr<CWatchDog> m_pWatchDog;
    uint32_t m_dwSignalTimeout;
    uint32_t m_dwRetries;
    uint32_t m_dwStatus PX_GUARDED_BY(m_csStatus) = 0;
    px::Thread m_supervision;
    px::Event m_evStop{true, false};
    px::Event m_evLost{true, false};
    px::CriticalSection m_csStatus;
    uint16_t m_usMsgPort = 3075;
    uint32_t m_dwWatchDogId = 0;
    AgentChannelTiming m_timing;
};
