// A small agent client for the simulator tests, on the network access layer: it connects a TCP
// link, moves bytes with asynchronous transfers whose stop hooks set events, and waits on those
// events with a time-out, so a silent or broken simulator fails a test instead of hanging it.
// Commands and replies go through the shared agent records.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "netaccess/protocol/AgentProtocol.h"
#include "netaccess/NetAccess.h"
#include "platform/Event.h"
#include "sim/KelvoSim.h"

namespace simtest {

using namespace px::agent;

enum class Rx { Ok, Failed, Timeout };

constexpr uint32_t kWait = 10000;

inline const uint8_t kLoopback[4] = {127, 0, 0, 1};

struct Completion {
    px::Event done{false, false};
    uint32_t count = 0, code = 0, detail = 0;
    static uint32_t Hook(uint32_t count, uint32_t code, uint32_t detail, void* user)
    {
        auto* c = static_cast<Completion*>(user);
        c->count = count;
        c->code = code;
        c->detail = detail;
        c->done.Set();
        return 0;
    }
};

struct Reply {
    AgentReplyEnvelope envelope;
    AgentReply parts;
    std::vector<uint8_t> partC;
    uint32_t PartB(size_t word) const { return parts.dwPartB[word]; }
};

class CSimTestClient {
public:
    CSimTestClient() = default;
    ~CSimTestClient() { Close(); }
    CSimTestClient(const CSimTestClient&) = delete;
    CSimTestClient& operator=(const CSimTestClient&) = delete;

    NetResult Connect(uint16_t port)
    {
        NetResult r = NetAllocContext(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, 0, port, nullptr, kLoopback, nullptr, 0,
                                      &m_context);
        if (r.code != 0)
            return r;
        r = NetAllocLink(m_context, 0, &m_link);
        if (r.code != 0) {
            m_link = nullptr;
            return r;
        }
        NetLinkHookFunction(m_link, NET_HOOK_SEND_STOP, &Completion::Hook, &m_sent, 0);
        NetLinkHookFunction(m_link, NET_HOOK_RCV_STOP, &Completion::Hook, &m_received, 0);
        return r;
    }

    void Close()
    {
        if (m_link)
            NetFreeLink(m_link, 0);
        if (m_context)
            NetFreeContext(m_context, 0);
        m_link = nullptr;
        m_context = nullptr;
    }

    // A transfer that times out closes the client: the link must not write into memory that the
    // caller frees after giving up.
    bool Send(const void* data, size_t len, uint32_t timeoutMs = kWait)
    {
        if (!m_link)
            return false;
        const uint8_t* p = static_cast<const uint8_t*>(data);
        while (len > 0) {
            if (NetTransferBuffer(m_link, const_cast<uint8_t*>(p), static_cast<uint32_t>(len), NET_DIRECTION_SEND, 1,
                                  0, nullptr, 0).code != 0)
                return false;
            if (m_sent.done.Wait(timeoutMs) != px::WaitResult::Signaled) {
                Close();
                return false;
            }
            if (m_sent.code != 0 || m_sent.count == 0)
                return false;
            p += m_sent.count;
            len -= m_sent.count;
        }
        return true;
    }

    // keepPending: on a time-out the receive stays issued (into data, which must stay alive) and
    // WaitMore() waits for it again.
    Rx Recv(void* data, size_t len, uint32_t timeoutMs = kWait, bool keepPending = false)
    {
        if (len == 0)
            return Rx::Ok;
        if (!m_link)
            return Rx::Failed;
        if (NetTransferBuffer(m_link, data, static_cast<uint32_t>(len), NET_DIRECTION_RECEIVE, 1, 0, nullptr, 0).code !=
            0)
            return Rx::Failed;
        m_dwPendingLength = static_cast<uint32_t>(len);
        return WaitMore(timeoutMs, keepPending);
    }

    Rx WaitMore(uint32_t timeoutMs, bool keepPending = false)
    {
        if (m_received.done.Wait(timeoutMs) != px::WaitResult::Signaled) {
            if (!keepPending)
                Close();   // ends the pending receive before the caller's buffer goes away
            return Rx::Timeout;
        }
        return m_received.code == 0 && m_received.count == m_dwPendingLength ? Rx::Ok : Rx::Failed;
    }

    // Greets the agent; returns false when the reply does not come.
    bool Greet()
    {
        const auto hello = AgentEncodeHello();
        if (!Send(hello.data(), hello.size()))
            return false;
        uint8_t reply[kAgentHelloReplySize];
        if (Recv(reply, sizeof reply) != Rx::Ok || AgentDecodeHelloReply(reply, sizeof reply, &m_hello) != AGENT_OK)
            return false;
        if (m_hello.bExtended) {
            uint8_t ext[kAgentHelloExtensionSize];
            if (Recv(ext, sizeof ext) != Rx::Ok || AgentDecodeHelloExtension(ext, sizeof ext, &m_hello) != AGENT_OK)
                return false;
        }
        m_dwVersion = m_hello.dwAgentVersion;
        return true;
    }

    bool ConnectAndGreet(uint16_t port) { return Connect(port).code == 0 && Greet(); }

    uint32_t Version() const { return m_dwVersion; }
    const AgentHelloReply& Hello() const { return m_hello; }

    bool SendCommand(const AgentCommand& c, const void* trailing = nullptr, size_t trailingSize = 0)
    {
        uint8_t record[kAgentMaxCommandRecordSize + kBufParamsMaxSize];
        size_t n = 0;
        if (AgentEncodeCommand(c, record, sizeof record, &n) != AGENT_OK)
            return false;
        const bool envelope = AgentUsesEnvelopes(m_dwVersion);
        const size_t envSize = envelope ? kAgentEnvelopeSize : 0;
        std::vector<uint8_t> bytes(envSize + n + (trailing ? trailingSize : 0));
        if (envelope) {
            const auto env = AgentEncodeEnvelope(AgentMakeEnvelope(c));
            std::memcpy(bytes.data(), env.data(), envSize);
        }
        std::memcpy(bytes.data() + envSize, record, n);
        if (trailing && trailingSize)
            std::memcpy(bytes.data() + envSize + n, trailing, trailingSize);
        return Send(bytes.data(), bytes.size());
    }

    // Reads a whole reply to `command`; part C is read when its size is at most maxPartC.
    Rx ReadReply(uint32_t command, Reply* out, uint32_t timeoutMs = kWait, uint32_t maxPartC = 64u << 20)
    {
        const bool envelopes = AgentUsesEnvelopes(m_dwVersion);
        if (envelopes) {
            uint8_t env[kAgentReplyEnvelopeSize];
            if (Rx r = Recv(env, sizeof env, timeoutMs); r != Rx::Ok)
                return r;
            if (AgentDecodeReplyEnvelope(env, sizeof env, &out->envelope) != AGENT_OK)
                return Rx::Failed;
        }
        uint32_t a = 0, b = 0;
        if (AgentReplyPartSizes(command, m_dwVersion, envelopes ? &out->envelope : nullptr, &a, &b) != AGENT_OK)
            return Rx::Failed;
        std::vector<uint8_t> partA(a), partB(b);
        if (Rx r = Recv(partA.data(), a, timeoutMs); r != Rx::Ok)
            return r;
        if (Rx r = Recv(partB.data(), b, timeoutMs); r != Rx::Ok)
            return r;
        if (AgentDecodeReplyParts(command, m_dwVersion, envelopes ? &out->envelope : nullptr, partA.data(), a,
                                  partB.data(), b, &out->parts) != AGENT_OK)
            return Rx::Failed;
        if (out->parts.dwPartCSize > maxPartC)
            return Rx::Failed;
        out->partC.resize(out->parts.dwPartCSize);
        return Recv(out->partC.data(), out->partC.size(), timeoutMs);
    }

    // --- one exchange each --------------------------------------------------------------------
    bool GetData(const char* id, uint32_t force, Reply* out, uint32_t timeoutMs = kWait)
    {
        return SendCommand(AgentMakeGetData(BufferId::FromText(id), force)) &&
               ReadReply(CMD_GET_TRANSFER_BUFFER_DATA, out, timeoutMs) == Rx::Ok;
    }
    bool GetParams(const char* id, Reply* out)
    {
        return SendCommand(AgentMakeGetBufParams(BufferId::FromText(id))) && ReadReply(CMD_GET_BUF_PARAMS, out) == Rx::Ok;
    }
    bool SetParams(const char* id, const std::vector<uint8_t>& info)
    {
        AgentCommand c;
        return AgentMakeSetBufParams(BufferId::FromText(id), info.data(), info.size(), &c) == AGENT_OK && SendCommand(c);
    }
    bool Subscribe(const char* id, const char* name = "simtest", uint32_t watchdogId = 0)
    {
        return SendCommand(AgentMakeSetTransferBuffer(BufferId::FromText(id), 1, name, m_dwVersion, watchdogId));
    }
    bool List(Reply* out)
    {
        return SendCommand(AgentMakeGetBufferList()) && ReadReply(CMD_GET_BUFFER_LIST, out) == Rx::Ok;
    }
    bool NumberOfClients(uint32_t* count)
    {
        Reply r;
        if (!SendCommand(AgentMakeGetNumberOfClient()) || ReadReply(CMD_GET_NUMBER_OF_CLIENT, &r) != Rx::Ok)
            return false;
        *count = r.PartB(0);
        return true;
    }
    bool VerifyResources(uint16_t port, uint32_t* answer)
    {
        Reply r;
        if (!SendCommand(AgentMakeVerifyResources(port)) || ReadReply(CMD_VERIFY_RESOURCES, &r) != Rx::Ok)
            return false;
        *answer = r.PartB(1);
        return true;
    }
    // True when the peer has closed the connection (a receive ends without data).
    bool PeerClosed(uint32_t timeoutMs = kWait)
    {
        uint8_t byte;
        return Recv(&byte, 1, timeoutMs) == Rx::Failed;
    }

private:
    NetContext* m_context = nullptr;
    NetLink* m_link = nullptr;
    Completion m_sent, m_received;
    AgentHelloReply m_hello;
    uint32_t m_dwVersion = kAgentDefaultVersion;
    uint32_t m_dwPendingLength = 0;
};

// A simulator on ephemeral ports, no frames unless a test makes them.
inline pxsim::SimConfig TestConfig(uint32_t version = 0x0400012C)
{
    pxsim::SimConfig c = pxsim::DefaultSimConfig();
    c.dwAgentVersion = version;
    c.usPublishPort = c.usWatchdogPort = c.usMessagePort = c.usFirstBufferPort = 0;
    c.dwFrameIntervalMs = 0;
    return c;
}

inline uint32_t Word(const std::vector<uint8_t>& bytes, size_t word)
{
    const uint8_t* p = bytes.data() + 4 * word;
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline void SetWord(std::vector<uint8_t>* bytes, size_t word, uint32_t v)
{
    uint8_t* p = bytes->data() + 4 * word;
    p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8), p[2] = static_cast<uint8_t>(v >> 16),
    p[3] = static_cast<uint8_t>(v >> 24);
}

} // namespace simtest
