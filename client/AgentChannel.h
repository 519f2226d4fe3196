// CAgentChannel: a client's connection to the camera's agent as a whole.
//
// Made by PXClientInit when the host asks for it and owned by the client record for the life of
// the handle. It owns: the asynchronous message link (created first, destroyed last), its agent
// connection on the publish port (AgentConnection.h), the buffer-list array it hands out, and the
// watchdog with its supervision thread. It is also the supervision that its own connection and
// the exchange-buffer clients of its handle consult when a wait runs out.
//
// Threads: requests (buffer list, resource check) run on the caller's thread, one at a time under
// the request lock; the supervision thread waits for the watchdog's signals and writes the status
// under the status lock, which the exchange-buffer clients of the same handle read from their own
// threads; the message link has its own thread. The status lock is taken last and held briefly.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "client/AgentConnection.h"
#include "netaccess/MsgLink.h"
#include "netaccess/NetClientLink.h"
#include "netaccess/WatchDog.h"
#include "pellix/pellix.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Thread.h"

// The waits of the agent channel that tests shorten; production uses the defaults.
struct AgentChannelTiming {
    uint32_t dwWatchdogReplyMs = 5000;  // answer to WD_CHECK / WD_GET_ID
    uint32_t dwMessagePollMs = 200;     // the message thread's receive wait
};

class CAgentChannel : public IAgentSupervision {
public:
    // A failure leaves the channel with connected 0 and sticky error 3000.
    CAgentChannel(const NetAddress& address, uint16_t publishPort, const char* clientName, uint32_t timeoutMs,
                  bool errorMessages, uint32_t signalDelay, uint32_t signalTimeout, uint32_t retries,
                  const AgentChannelTiming& timing = AgentChannelTiming());
    // A channel whose messages travel through transport instead of a link (the fuzz target feeds
    // agent replies this way): the greeting at once, then the same requests and checks, with
    // neither message link nor watchdog. transport must outlive the channel.
    CAgentChannel(IAgentStream* transport, const char* clientName);
    ~CAgentChannel() override;
    CAgentChannel(const CAgentChannel&) = delete;
    CAgentChannel& operator=(const CAgentChannel&) = delete;

    // The agent's buffers, as PXGetBufferList hands them out. The array stays owned by the channel
    // and valid until the next request or the end of the channel.
    uint32_t GetBufferList(uint32_t* count, const PXBufferListEntry** records) PX_EXCLUDES(m_csRequest);
    // 2050 for agents above 0 and below 3.0.341; otherwise the agent's answer (0: not available).
    uint32_t VerifyResources(uint16_t resource, uint32_t* answer) PX_EXCLUDES(m_csRequest);
    // 0 while signals arrive, 3010 after a miss, 3020 without watchdog.
    uint32_t WatchDogStatus() override PX_EXCLUDES(m_csStatus);
    uint32_t Retries() const override { return m_dwRetries; }
    uint32_t AgentVersion() const { return m_connection.AgentVersion(); }
    uint32_t WatchDogIdentity() const { return m_dwWatchDogId; }
    bool HasWatchDog() const { return m_pWatchDog != nullptr; }
    // Waits until the supervision thread has seen a signal missing (the status became 3010).
    bool WaitWatchDogLost(uint32_t timeoutMs) { return m_evLost.Wait(timeoutMs) == px::WaitResult::Signaled; }
    // The message link's list-changed event, or null without message link.
    px::Event* ListChangedEvent();
    bool Connected() const { return m_connection.Connected(); }
    uint32_t StickyError() const { return m_connection.StickyError(); }

    // One message out or in, with the channel's time-out, retry and sticky-error rules.
    uint32_t Send(const void* data, uint32_t size) { return m_connection.SendBuffer(data, size); }
    uint32_t Receive(void* data, uint32_t size) { return m_connection.ReceiveBuffer(data, size); }

private:
    void SetUpWatchDog(uint32_t signalDelay);
    void DropWatchDog();
    void SupervisionThread();

    std::unique_ptr<CAsyncMsgLink> m_pMsgLink;
    const NetAddress m_address;
    const uint16_t m_usRemotePort = 0;
    CAgentConnection m_connection;
    char m_szClientName[256] = {};
    px::CriticalSection m_csRequest PX_ACQUIRED_BEFORE(m_csStatus);
    const bool m_bErrorMessages;
    uint32_t m_dwBufferCount PX_GUARDED_BY(m_csRequest) = 0;
    std::unique_ptr<PXBufferListEntry[]> m_pBufferList PX_GUARDED_BY(m_csRequest);
    uint16_t m_usWatchDogPort = 3073;
    std::unique_ptr<CWatchDog> m_pWatchDog;
    const uint32_t m_dwSignalTimeout;
    const uint32_t m_dwRetries;
    uint32_t m_dwStatus PX_GUARDED_BY(m_csStatus) = 0;
    px::Thread m_supervision;
    px::Event m_evStop{true, false};
    px::Event m_evLost{true, false};
    px::CriticalSection m_csStatus;
    uint16_t m_usMsgPort = 3075;
    uint32_t m_dwWatchDogId = 0;
    AgentChannelTiming m_timing;
};
