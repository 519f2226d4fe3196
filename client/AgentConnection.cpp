#include "client/AgentConnection.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "client/ClientTrace.h"
#include "pellix/pellix.h"
#include "platform/Clock.h"

using namespace px::agent;

namespace {

constexpr const char* kShortSendCaption = "Pellix Error";
constexpr const char* kIssueFailed = "NetTransferBuffer: %s \n";
constexpr const char* kShortReceive =
    "Receive data error. Data size received not valid.\nReceived %d bytes while waiting for %d bytes\r\n";

} // namespace

CAgentConnection::CAgentConnection(const AgentConnectionStyle& style, bool errorMessages, uint32_t timeoutMs,
                                   IAgentSupervision* supervision)
    : m_style(style), m_bErrorMessages(errorMessages), m_dwTimeout(timeoutMs), m_pSupervision(supervision)
{
}

CAgentConnection::~CAgentConnection()
{
    // Close() normally did this; a connection dropped without its good-bye still lets go.
    if (m_pContext != nullptr)
        NetFreeContext(m_pContext, 0);
}

// ---- Life ------------------------------------------------------------------------------------------

void CAgentConnection::Open(const NetAddress& address, uint16_t port)
{
    m_bConnected = true;
    NetOpenStep failed = NetOpenStep::Context;
    const NetResult r = NetOpenClientLink(
        address, port, m_dwTimeout, NetLinkHooks{&Hook<true, false>, &Hook<false, false>, &Hook<true, true>, &Hook<false, true>, this}, &m_pContext,
        &m_pLink, &failed);
    if (r.code != NET_SUCCESS_CODE) {
        KeepError(PX_COMM_ERROR, r);
        char text[256];
        NetErrorText(r, text, sizeof text);
        switch (failed) {
        case NetOpenStep::Context:
            ClientMessageBox(m_bErrorMessages, m_style.szCaption, "NetAllocContext: %s \n", text);
            break;
        case NetOpenStep::Link:
            ClientMessageBox(m_bErrorMessages, m_style.szCaption, "NetAllocLink: %s (%d)\n", text,
                             static_cast<int>(r.detail));
            break;
        case NetOpenStep::Hooks:
            ClientMessageBox(m_bErrorMessages, m_style.szCaption, "NetLinkHookFunction: %s \n", text);
            break;
        }
        return;
    }
    Greet();
}

void CAgentConnection::Open(IAgentStream* transport)
{
    m_bConnected = true;
    m_pTransport = transport;
    if (transport == nullptr)
        KeepError(PX_COMM_ERROR, NetResult{NET_INVALID_INPUT_PARAMETERS, 0});
    else
        Greet();
}

void CAgentConnection::Greet()
{
    const auto hello = AgentEncodeHello();
    if (SendBuffer(hello.data(), static_cast<uint32_t>(hello.size())) != PX_OK)
        return;
    uint8_t reply[kAgentHelloReplySize];
    if (ReceiveBuffer(reply, sizeof reply) != PX_OK)
        return;
    AgentHelloReply decoded;
    if (AgentDecodeHelloReply(reply, sizeof reply, &decoded) != AGENT_OK)
        return MarkBroken();
    if (decoded.bExtended) {
        uint8_t extension[kAgentHelloExtensionSize];
        if (ReceiveBuffer(extension, sizeof extension) != PX_OK)
            return;
        if (AgentDecodeHelloExtension(extension, sizeof extension, &decoded) != AGENT_OK)
            return MarkBroken();
    }
    m_dwAgentVersion = decoded.dwAgentVersion;
}

void CAgentConnection::Close(uint32_t goodbyePauseMs)
{
    if (m_dwStickyError == 0 && (m_pLink != nullptr || m_pTransport != nullptr))
        SendCommand(AgentMakeBye());
    px::SleepMs(goodbyePauseMs);
    if (m_dwStickyError == 0 && m_pLink != nullptr) {
        const NetResult r = NetFreeLink(m_pLink, 0);
        if (r.code != NET_SUCCESS_CODE)
            Box("NetFreeLink: %s \n", r);
        else
            m_pLink = nullptr;
    }
    // Frees the link too when it is still there, which ends whatever it was doing.
    if (m_pContext != nullptr) {
        const NetResult r = NetFreeContext(m_pContext, 0);
        if (r.code != NET_SUCCESS_CODE)
            Box("NetFreeContext: %s \n", r);
        m_pContext = nullptr;
        m_pLink = nullptr;
    }
}

void CAgentConnection::EndTransfers()
{
    m_bEndingTransfers = true;
    if (m_pLink != nullptr) {
        NetRecvDisconnect(m_pLink);
        NetSendDisconnect(m_pLink);
    }
    m_evEndTransfers.Set();
}

// ---- Hooks -------------------------------------------------------------------------------------------

// The four hooks in one. The start hooks are stored only (the link never invokes them); a stop
// hook records the end of a transfer that a worker thread carried out and wakes its waiter.
template <bool Send, bool Stop>
uint32_t CAgentConnection::Hook(uint32_t count, uint32_t code, uint32_t detail, void* user)
{
    auto* self = static_cast<CAgentConnection*>(user);
    if (self->m_style.bTraces)
        CLIENT_TRACE("%s(): NumBytes: %d\n",
                     Send ? (Stop ? "SendStopEventHook" : "SendStartEventHook")
                          : (Stop ? "RcvStopEventHook" : "RcvStartEventHook"),
                     count);
    CCompletionBlock& block = Send ? self->m_send : self->m_receive;
    if (Stop)
        block.Stopped(count, code, detail);
    else
        block.Started(code, detail);
    return 0;
}

// ---- Transfers -----------------------------------------------------------------------------------------

void CAgentConnection::KeepError(uint32_t error, NetResult cause)
{
    uint32_t none = 0;
    if (m_dwStickyError.compare_exchange_strong(none, error)) {
        px::CsLock lock(m_csFailure);
        m_firstFailure = cause;
    }
    m_bConnected = false;
}

NetResult CAgentConnection::FirstFailure() const
{
    px::CsLock lock(m_csFailure);
    return m_firstFailure;
}

void CAgentConnection::MarkBroken()
{
    KeepError(PX_COMM_ERROR, NetResult{NET_RECEIVE_ERROR, EPROTO});
    if (m_pLink != nullptr) {
        NetRecvDisconnect(m_pLink);
        NetSendDisconnect(m_pLink);
    }
}

void CAgentConnection::Box(const char* format, NetResult result)
{
    char text[256];
    NetErrorText(result, text, sizeof text);
    ClientMessageBox(m_bErrorMessages, m_style.szCaption, format, text);
}

bool CAgentConnection::StopBeforeTransfer(bool send, uint32_t* result)
{
    if (m_style.szCantSend != nullptr) {
        // The flag is set before the event: no system call on the way of every transfer.
        if (m_bEndingTransfers && m_evEndTransfers.TryConsume()) {
            *result = Ended();
            return true;
        }
        if (m_bShuttingDown) {
            ClientMessageBox(m_bErrorMessages, "Pellix Warning", "%s", send ? m_style.szCantSend : m_style.szCantReceive);
            *result = PX_OK;
            return true;
        }
    }
    if (!m_bConnected || m_dwStickyError != 0 || (m_pLink == nullptr && m_pTransport == nullptr)) {
        KeepError(PX_COMM_ERROR, NetResult{NET_ERROR_CODE, 0});
        *result = m_dwStickyError;
        return true;
    }
    return false;
}

uint32_t CAgentConnection::SendBuffer(const void* data, uint32_t size)
{
    px::CsLock lock(m_csSend);
    return SendLocked(data, size);
}

uint32_t CAgentConnection::SendLocked(const void* data, uint32_t size)
{
    if (m_style.bTraces)
        CLIENT_TRACE("SendBuffer(): iBufferSize: %d\n", size);
    return Transfer(true, const_cast<void*>(data), size);
}

uint32_t CAgentConnection::ReceiveBuffer(void* data, uint32_t size)
{
    if (m_style.bTraces)
        CLIENT_TRACE("ReceiveBuffer(): iBufferSize: %d\n", size);
    return Transfer(false, data, size);
}

uint32_t CAgentConnection::Transfer(bool send, void* buffer, uint32_t size)
{
    uint32_t result = PX_OK;
    if (StopBeforeTransfer(send, &result)) {
        if (!send)
            m_bReceiveWaiting = false;
        return result;
    }
    if (buffer == nullptr && size > 0)
        return PX_ERROR;
    if (m_pTransport != nullptr) {
        result = send ? m_pTransport->SendBuffer(buffer, size) : m_pTransport->ReceiveBuffer(buffer, size);
        if (!send)
            m_bReceiveWaiting = false;
        if (result != PX_OK)
            KeepError(PX_COMM_ERROR, NetResult{send ? NET_SEND_ERROR : NET_RECEIVE_ERROR, result});
        return result != PX_OK ? PX_COMM_ERROR : PX_OK;
    }
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    return size >= kWorkerTransferSize ? TransferOnWorker(send, bytes, size) : TransferHere(send, bytes, size);
}

uint32_t CAgentConnection::TransferHere(bool send, uint8_t* buffer, uint32_t size)
{
    const px::Event* end = m_style.szCantSend != nullptr ? &m_evEndTransfers : nullptr;
    uint32_t done = 0, timeouts = 0, result = PX_OK;
    if (!send)
        m_bReceiveWaiting = true;
    for (;;) {
        uint32_t moved = 0;
        const NetResult r = NetTransferBufferWait(m_pLink, buffer + done, size - done,
                                                  send ? NET_DIRECTION_SEND : NET_DIRECTION_RECEIVE, m_dwTimeout,
                                                  end, &moved);
        done += moved;
        if (r.code == NET_INVALID_INPUT_PARAMETERS) {
            KeepError(PX_COMM_ERROR, r);
            Box(kIssueFailed, r);
            result = PX_COMM_ERROR;
        } else if ((r.code == NET_SEND_ERROR || r.code == NET_RECEIVE_ERROR) && r.detail == NET_DETAIL_WAIT_TIMEOUT) {
            if (JudgeTimeout(send, ++timeouts, &result))
                continue;
        } else if (r.detail == NET_DETAIL_WAIT_ABANDONED && r.code != NET_SUCCESS_CODE) {
            result = Ended();
        } else {
            result = Completed(send, r, done, size);
        }
        break;
    }
    if (!send)
        m_bReceiveWaiting = false;
    return result;
}

uint32_t CAgentConnection::TransferOnWorker(bool send, uint8_t* buffer, uint32_t size)
{
    const NetResult issued = NetTransferBuffer(m_pLink, buffer, size, send ? NET_DIRECTION_SEND : NET_DIRECTION_RECEIVE,
                                               1, 0, nullptr, NET_TRANSFER_TRY_NOW);
    if (issued.code != NET_SUCCESS_CODE) {
        KeepError(PX_COMM_ERROR, issued);
        Box(kIssueFailed, issued);
        return PX_COMM_ERROR;
    }
    CCompletionBlock& block = send ? m_send : m_receive;
    px::Event* events[2] = {&block.evDone, &m_evEndTransfers};
    const size_t watched = m_style.szCantSend != nullptr ? 2 : 1;
    bool pending = true;
    uint32_t timeouts = 0, result = PX_OK;
    for (;;) {
        if (!send)
            m_bReceiveWaiting = true;
        const int which = px::Event::WaitAny(events, watched, m_dwTimeout);
        if (!send)
            m_bReceiveWaiting = false;
        if (which == 0) {
            pending = false;
            result = Completed(send, NetResult{block.dwCode, block.dwDetail}, block.dwCount, size);
        } else if (which == 1) {
            result = Ended();
        } else if (JudgeTimeout(send, ++timeouts, &result)) {
            continue;
        }
        break;
    }
    if (pending) {
        // Given up while the worker thread may still use the caller's memory: end the transfer
        // (the connection is finished either way) and wait until the link has let go of it.
        NetRecvDisconnect(m_pLink);
        NetSendDisconnect(m_pLink);
        block.evDone.Wait();
    }
    return result;
}

uint32_t CAgentConnection::Completed(bool send, NetResult result, uint32_t count, uint32_t size)
{
    if (result.code != NET_SUCCESS_CODE && m_bEndingTransfers)
        return Ended();   // EndTransfers half-closed the link under the transfer
    if (result.code != NET_SUCCESS_CODE) {
        KeepError(PX_COMM_ERROR, result);
        Box(send ? m_style.szSendFailed : kIssueFailed, result);
        return PX_COMM_ERROR;
    }
    if (count != size) {
        if (send)
            ClientMessageBox(m_bErrorMessages, kShortSendCaption, m_style.szShortSend, static_cast<int>(count),
                             static_cast<int>(size));
        else
            ClientMessageBox(true, m_style.szShortReceiveCaption, kShortReceive, static_cast<int>(count),
                             static_cast<int>(size));
    }
    return PX_OK;
}

uint32_t CAgentConnection::Ended()
{
    m_bShuttingDown = true;
    return PX_END_OF_TRANSFERS;
}

bool CAgentConnection::JudgeTimeout(bool send, uint32_t timeouts, uint32_t* result)
{
    KeepError(PX_COMM_ERROR, NetResult{send ? NET_SEND_ERROR : NET_RECEIVE_ERROR, NET_DETAIL_WAIT_TIMEOUT});
    if (m_pSupervision == nullptr) {
        *result = PX_COMM_ERROR;
        return false;
    }
    const uint32_t status = m_pSupervision->WatchDogStatus();
    *result = status != PX_OK ? status : PX_COMM_ERROR;
    if (status != PX_OK && m_style.bKeepsVerdict) {
        uint32_t kept = PX_COMM_ERROR;
        m_dwStickyError.compare_exchange_strong(kept, status);
    }
    ClientMessageBox(m_bErrorMessages, m_style.szCaption, "%s", send ? m_style.szSendTimeout : m_style.szReceiveTimeout);
    return status == PX_OK && timeouts < m_pSupervision->Retries();
}

// ---- Requests ---------------------------------------------------------------------------------------------

uint32_t CAgentConnection::SendCommand(const AgentCommand& command, const void* input, uint32_t inputSize)
{
    px::CsLock lock(m_csSend);
    return SendCommandLocked(command, input, inputSize);
}

uint32_t CAgentConnection::SendWhileReceiveWaiting(const AgentCommand& command)
{
    px::CsLock lock(m_csSend);
    return m_bReceiveWaiting ? SendCommandLocked(command, nullptr, 0) : PX_OK;
}

uint32_t CAgentConnection::SendCommandLocked(const AgentCommand& command, const void* input, uint32_t inputSize)
{
    const bool envelope = AgentUsesEnvelopes(m_dwAgentVersion);
    const bool oneSend = command.dwCommand == CMD_GET_TRANSFER_BUFFER_DATA || command.dwCommand == CMD_SEND_INPUT;
    uint8_t message[kAgentEnvelopeSize + kAgentMaxCommandRecordSize + kBufParamsMaxSize];
    size_t used = 0;
    if (envelope) {
        const auto e = AgentEncodeEnvelope(AgentMakeEnvelope(command));
        std::memcpy(message, e.data(), e.size());
        used = e.size();
        if (!oneSend) {
            if (uint32_t r = SendLocked(message, static_cast<uint32_t>(used)))
                return r;
            used = 0;
        }
    }
    size_t written = 0;
    if (AgentEncodeCommand(command, message + used, sizeof message - used, &written) != AGENT_OK)
        return PX_ERROR;
    used += written;
    if (command.dwCommand != CMD_SEND_INPUT || inputSize == 0) {
        const uint32_t r = SendLocked(message, static_cast<uint32_t>(used));
        // The reply to a data request is awaited from the moment the request is out, under the
        // send lock: a force from another thread then cannot fall between this send and the
        // receive that follows it and be lost while the camera waits for the next frame.
        if (r == PX_OK && command.dwCommand == CMD_GET_TRANSFER_BUFFER_DATA)
            m_bReceiveWaiting = true;
        return r;
    }

    // The input bytes travel in the same message as the record before them.
    const uint64_t total = uint64_t{used} + inputSize;
    if (total > 0xFFFFFFFFu || input == nullptr)
        return PX_ERROR;
    uint8_t* whole = new (std::nothrow) uint8_t[total];
    if (whole == nullptr)
        return PX_ERROR;
    std::memcpy(whole, message, used);
    std::memcpy(whole + used, input, inputSize);
    const uint32_t r = SendLocked(whole, static_cast<uint32_t>(total));
    delete[] whole;
    return r;
}

uint32_t CAgentConnection::ReadReplyHead(uint32_t command, AgentReply* reply)
{
    AgentReplyEnvelope envelope;
    const bool isNew = AgentUsesEnvelopes(m_dwAgentVersion);
    if (isNew) {
        uint8_t bytes[kAgentReplyEnvelopeSize];
        if (uint32_t r = ReceiveBuffer(bytes, sizeof bytes))
            return r;
        if (AgentDecodeReplyEnvelope(bytes, sizeof bytes, &envelope) != AGENT_OK) {
            MarkBroken();
            return PX_COMM_ERROR;
        }
    }
    uint32_t sizeA = 0, sizeB = 0;
    if (AgentReplyPartSizes(command, m_dwAgentVersion, isNew ? &envelope : nullptr, &sizeA, &sizeB) != AGENT_OK) {
        MarkBroken();
        return PX_COMM_ERROR;
    }
    // Both sizes are bounded by the records (kAgentMaxReplyPartSize).
    uint8_t partA[kAgentMaxReplyPartSize], partB[kAgentMaxReplyPartSize];
    if (uint32_t r = ReceiveBuffer(partA, sizeA))
        return r;
    if (uint32_t r = ReceiveBuffer(partB, sizeB))
        return r;
    if (AgentDecodeReplyParts(command, m_dwAgentVersion, isNew ? &envelope : nullptr, partA, sizeA, partB, sizeB,
                              reply) != AGENT_OK) {
        MarkBroken();
        return PX_COMM_ERROR;
    }
    return PX_OK;
}

uint32_t CAgentConnection::Skip(uint64_t size)
{
    uint8_t scratch[16384];
    while (size > 0) {
        const uint32_t n = size < sizeof scratch ? static_cast<uint32_t>(size) : static_cast<uint32_t>(sizeof scratch);
        if (uint32_t r = ReceiveBuffer(scratch, n))
            return r;
        size -= n;
    }
    return PX_OK;
}
