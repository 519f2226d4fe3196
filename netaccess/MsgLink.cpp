#include "netaccess/MsgLink.h"

using namespace px::agent;

namespace {

constexpr NetResult kNotReady{NET_ERROR_CODE, NET_DETAIL_SUCCESS};

// The outcome of a wait for a transfer's done event, as the layer's result pair.
NetResult WaitDone(px::Event& done, uint32_t timeoutMs, uint32_t code, const NetResult& hookResult)
{
    switch (done.Wait(timeoutMs)) {
    case px::WaitResult::Signaled:
        return hookResult;
    case px::WaitResult::Timeout:
        return NetResult{code, NET_DETAIL_WAIT_TIMEOUT};
    default:
        return NetResult{code, NET_DETAIL_WAIT_ABANDONED};
    }
}

} // namespace

CMsgLink::CMsgLink() = default;

CMsgLink::~CMsgLink() { Destroy(); }

uint32_t CMsgLink::SendStopHook(uint32_t count, uint32_t code, uint32_t detail, void* user)
{
    auto* self = static_cast<CMsgLink*>(user);
    self->m_sendResult = NetResult{code, detail};
    self->m_dwSendCount = count;
    self->m_evSendDone.Set();
    return 0;
}

uint32_t CMsgLink::ReceiveStopHook(uint32_t count, uint32_t code, uint32_t detail, void* user)
{
    auto* self = static_cast<CMsgLink*>(user);
    self->m_receiveResult = NetResult{code, detail};
    self->m_dwReceiveCount = count;
    self->m_evReceiveDone.Set();
    return 0;
}

uint32_t CMsgLink::StartHook(uint32_t, uint32_t, uint32_t, void*) { return 0; }

bool CMsgLink::Create(const NetAddress& address, uint16_t port, uint32_t timeoutMs, NetResult* result)
{
    NetOpenStep failed;
    const NetResult r = NetOpenClientLink(
        address, port, timeoutMs, NetLinkHooks{&StartHook, &StartHook, &SendStopHook, &ReceiveStopHook, this}, &m_pContext,
        &m_pLink, &failed);
    if (result != nullptr)
        *result = r;
    m_bContextAllocated = m_bLinkAllocated = m_bReady = r.code == NET_SUCCESS_CODE;
    return m_bReady;
}

NetResult CMsgLink::Send(const AgentMessage& message, uint32_t timeoutMs)
{
    if (!m_bReady || m_pLink == nullptr)
        return kNotReady;
    auto bytes = AgentEncodeMessage(message);
    std::copy(bytes.begin(), bytes.end(), m_bySend);
    NetResult r = NetTransferBuffer(m_pLink, m_bySend, kAgentMessageSize, NET_DIRECTION_SEND, m_dwAsync, 0, nullptr, 0);
    if (r.code != 0)
        return r;
    return WaitDone(m_evSendDone, timeoutMs, NET_SEND_ERROR, m_sendResult);
}

NetResult CMsgLink::Receive(AgentMessage* message, uint32_t timeoutMs)
{
    if (!m_bReady || m_pLink == nullptr)
        return kNotReady;
    // A receive that timed out earlier is still pending into m_byReceive: wait for it again.
    if (!m_bReceivePending) {
        NetResult r = NetTransferBuffer(m_pLink, m_byReceive, kAgentMessageSize, NET_DIRECTION_RECEIVE, m_dwAsync, 0,
                                        nullptr, 0);
        if (r.code != 0)
            return r;
        m_bReceivePending = true;
    }
    NetResult r = WaitDone(m_evReceiveDone, timeoutMs, NET_RECEIVE_ERROR, m_receiveResult);
    if (r.code == NET_RECEIVE_ERROR && r.detail == NET_DETAIL_WAIT_TIMEOUT)
        return r;
    m_bReceivePending = false;
    if (r.code == 0 && AgentDecodeMessage(m_byReceive, m_dwReceiveCount, message) != AGENT_OK)
        return NetResult{NET_RECEIVE_ERROR, NET_DETAIL_WAIT_ABANDONED};
    return r;
}

void CMsgLink::Interrupt()
{
    if (m_pLink != nullptr) {
        NetRecvDisconnect(m_pLink);
        NetSendDisconnect(m_pLink);
    }
}

void CMsgLink::Destroy()
{
    m_bReady = false;
    // Freeing the link ends a pending receive (its hook still signals our event).
    if (m_bLinkAllocated && m_pLink != nullptr)
        NetFreeLink(m_pLink, 0);
    m_bLinkAllocated = false;
    m_pLink = nullptr;
    if (m_bContextAllocated && m_pContext != nullptr)
        NetFreeContext(m_pContext, 0);
    m_bContextAllocated = false;
    m_pContext = nullptr;
    m_bReceivePending = false;
}

// ---- CAsyncMsgLink ---------------------------------------------------------------------------

CAsyncMsgLink::~CAsyncMsgLink() { Destroy(); }

bool CAsyncMsgLink::Create(const NetAddress& address, uint16_t port, uint32_t timeoutMs, NetResult* result)
{
    if (!CMsgLink::Create(address, port, timeoutMs, result))
        return false;
    m_bRunning = true;
    if (m_thread.Start("AsyncMsgLink", [this] { MessageThread(); }) != 0) {
        m_bRunning = false;
        if (result != nullptr)
            *result = NetResult{NET_CREATETHREAD_ERROR, 0};
        return false;
    }
    m_bThreadStarted = true;
    return true;
}

void CAsyncMsgLink::MessageThread()
{
    while (m_bRunning) {
        AgentMessage message;
        NetResult r = Receive(&message, m_dwPollMs);
        if (r.code == NET_RECEIVE_ERROR && r.detail == NET_DETAIL_WAIT_TIMEOUT)
            continue;
        if (r.code != 0)
            break;
        if (message.dwCode == MSG_BUFFER_LIST_CHANGED)
            m_evListChanged.Set();
    }
    m_bRunning = false;
    m_evThreadEnded.Set();
}

void CAsyncMsgLink::Destroy()
{
    m_bRunning = false;
    m_thread.Join();
    m_bThreadStarted = false;
    CMsgLink::Destroy();
}
