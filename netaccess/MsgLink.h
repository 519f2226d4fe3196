// The two 8-byte-message links of an agent channel share their base CMsgLink; the asynchronous
// message link (CAsyncMsgLink) is here, the watchdog link (CWatchDog) in WatchDog.h.
//
// Each object owns one NetContext and one NetLink in the TCP client role. Sends and receives are
// asynchronous transfers of the link whose stop hooks (on the link's worker threads) store the
// outcome and signal an event; the caller's thread waits for that event with a time-out. A receive
// that timed out stays pending on the link, into the object's own message buffer, and the next
// receive waits for it instead of issuing another. CAsyncMsgLink adds its message thread, which
// signals the list-changed event when the agent announces a new buffer list. The owner (the agent
// channel) creates and destroys these objects on its own thread; the watchdog's messages are
// exchanged by the owner's set-up and by its supervision thread, never by two threads at once.
#pragma once

#include <atomic>
#include <cstdint>

#include "netaccess/NetAccess.h"
#include "netaccess/NetClientLink.h"
#include "netaccess/protocol/AgentRecords.h"
#include "platform/Event.h"
#include "platform/Thread.h"

class CMsgLink {
public:
    CMsgLink();
    virtual ~CMsgLink();
    CMsgLink(const CMsgLink&) = delete;
    CMsgLink& operator=(const CMsgLink&) = delete;

    // Connects to port of the camera, the connect bounded as for requests of timeoutMs (see
    // NetClientLink.h), and makes the object ready; *result (may be null) is the first failure of
    // the network access layer.
    bool Create(const NetAddress& address, uint16_t port, uint32_t timeoutMs, NetResult* result);
    // {15, 5164} on time-out, {15, 5165} when the wait failed, {1, 2} when not ready.
    NetResult Send(const px::agent::AgentMessage& message, uint32_t timeoutMs);
    // {13, 5164} on time-out (the receive stays pending), {13, 5165}, {1, 2} as for Send.
    NetResult Receive(px::agent::AgentMessage* message, uint32_t timeoutMs);
    void Destroy();
    bool Ready() const { return m_bReady; }
    // From another thread: ends a wait for a message now (its receive fails) by shutting the
    // connection; the link is of no further use afterwards.
    void Interrupt();

protected:
    static uint32_t SendStopHook(uint32_t count, uint32_t code, uint32_t detail, void* user);
    static uint32_t ReceiveStopHook(uint32_t count, uint32_t code, uint32_t detail, void* user);
    static uint32_t StartHook(uint32_t count, uint32_t code, uint32_t detail, void* user);

    NetContext* m_pContext = nullptr;
    NetLink* m_pLink = nullptr;
    uint32_t m_dwAsync = 1;
    bool m_bReady = false;
    bool m_bContextAllocated = false;
    bool m_bLinkAllocated = false;
    NetResult m_sendResult{0, 0}, m_receiveResult{0, 0};
    uint32_t m_dwSendCount = 0, m_dwReceiveCount = 0;
    px::Event m_evReceiveDone{false, false};
    px::Event m_evSendDone{false, false};
    bool m_bReceivePending = false;
    uint8_t m_bySend[px::agent::kAgentMessageSize] = {};
    uint8_t m_byReceive[px::agent::kAgentMessageSize] = {};
};

class CAsyncMsgLink : public CMsgLink {
public:
    // The message thread looks at its running flag after each wait of pollMs (200 ms).
    explicit CAsyncMsgLink(uint32_t pollMs = 200) : m_dwPollMs(pollMs) {}
    ~CAsyncMsgLink() override;

    bool Create(const NetAddress& address, uint16_t port, uint32_t timeoutMs, NetResult* result);
    // Auto-reset; signalled for each MSG_BUFFER_LIST_CHANGED. Owned by this object.
    px::Event* ListChangedEvent() { return &m_evListChanged; }
    void Destroy();
    bool ThreadRunning() const { return m_bThreadStarted && m_bRunning; }
    // Waits until the message thread has ended on its own (the agent closed the link).
    bool WaitThreadEnded(uint32_t timeoutMs) { return m_evThreadEnded.Wait(timeoutMs) == px::WaitResult::Signaled; }

private:
    void MessageThread();

    bool m_bThreadStarted = false;
    px::Thread m_thread;
    px::Event m_evListChanged{false, false};
    px::Event m_evThreadEnded{true, false};
    std::atomic<bool> m_bRunning{false};
    uint32_t m_dwPollMs;
};
