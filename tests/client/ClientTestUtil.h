// Helpers of the exchange-buffer client tests: a simulator on ephemeral ports, a client on one of
// its buffers, a scripted agent that serves prepared reply bytes through the client's transport
// seam and keeps what the client sent, and a message-box catcher.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/Client.h"
#include "netaccess/protocol/AgentProtocol.h"
#include "pellix/pellix.h"
#include "platform/Messages.h"
#include "sim/KelvoSim.h"

namespace clienttest {

using namespace px::agent;

inline const uint8_t kLoopback[4] = {127, 0, 0, 1};
constexpr ClientTiming kFast{0};

// A simulator on ephemeral ports that makes frames only when asked.
inline pxsim::SimConfig SimConfigFor(uint32_t version = 0x0400012C)
{
    pxsim::SimConfig c = pxsim::DefaultSimConfig();
    c.dwAgentVersion = version;
    c.usPublishPort = c.usWatchdogPort = c.usMessagePort = c.usFirstBufferPort = 0;
    c.dwFrameIntervalMs = 0;
    return c;
}

inline std::unique_ptr<CClient> OpenClient(pxsim::CKelvoSim& sim, const char* id, uint32_t timeoutMs = 5000,
                                           CAgentChannel* channel = nullptr, bool errorMessages = false)
{
    return std::make_unique<CClient>(NetAddress::Of(nullptr, kLoopback), sim.BufferPort(id), "client-test", timeoutMs, errorMessages,
                                     channel, kFast);
}

inline uint32_t LeWord(const uint8_t* p)
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Plays an agent of the given version on the client's transport: replies are queued as bytes in
// the order the client will read them; every message the client sends is kept.
class CScriptedAgent : public IAgentStream {
public:
    explicit CScriptedAgent(uint32_t version) : m_dwVersion(version)
    {
        const bool extended = version != kAgentDefaultVersion;
        const AgentHelloReply hello = AgentMakeHelloReply(version, extended);
        Add(AgentEncodeHelloReply(hello));
        if (extended)
            Add(AgentEncodeHelloExtension(hello));
    }
    uint32_t SendBuffer(const void* data, uint32_t size) override
    {
        const auto* p = static_cast<const uint8_t*>(data);
        m_sent.emplace_back(p, p + size);
        return 0;
    }
    uint32_t ReceiveBuffer(void* data, uint32_t size) override
    {
        if (size > m_replies.size() - m_dwRead)
            return PX_COMM_ERROR;
        std::memcpy(data, m_replies.data() + m_dwRead, size);
        m_dwRead += size;
        return 0;
    }

    template <typename Bytes>
    void Add(const Bytes& bytes)
    {
        m_replies.insert(m_replies.end(), bytes.begin(), bytes.end());
    }
    void AddRaw(const uint8_t* p, size_t n) { m_replies.insert(m_replies.end(), p, p + n); }
    void AddReply(const AgentReply& reply, const std::vector<uint8_t>& partC = {})
    {
        uint8_t head[kAgentMaxReplyHeadSize + 64];
        size_t n = 0;
        ASSERT_EQ(AgentEncodeReply(reply, m_dwVersion, head, sizeof head, &n), AGENT_OK);
        AddRaw(head, n);
        Add(partC);
    }
    void AddBufParams(const BufParams& params)
    {
        uint8_t bytes[kBufParamsMaxSize];
        size_t n = 0;
        ASSERT_EQ(AgentEncodeBufParams(params, bytes, sizeof bytes, &n), AGENT_OK);
        AgentReply reply = AgentMakeBufParamsReply(params.dwType, m_dwVersion);
        reply.dwPartCSize = static_cast<uint32_t>(n);
        AddReply(reply, std::vector<uint8_t>(bytes, bytes + n));
    }
    void AddData(const DataDesc& desc, const std::vector<uint8_t>& data)
    {
        AddReply(AgentMakeDataReply(desc, static_cast<uint32_t>(data.size()), m_dwVersion), data);
    }

    // Commands the client sent (envelopes skipped), decoded.
    std::vector<AgentCommand> Commands() const
    {
        std::vector<uint8_t> all;
        for (const auto& m : m_sent)
            all.insert(all.end(), m.begin(), m.end());
        std::vector<AgentCommand> out;
        size_t at = 0;
        while (at < all.size()) {
            if (AgentUsesEnvelopes(m_dwVersion) && !out.empty())
                at += kAgentEnvelopeSize;
            AgentCommandHead head;
            if (at >= all.size() || AgentDecodeCommandHead(all.data() + at, all.size() - at, 1u << 24, &head) != 0)
                break;
            AgentCommand c;
            if (AgentDecodeCommand(all.data() + at, all.size() - at, 1u << 24, &c) != 0)
                break;
            out.push_back(c);
            at += head.dwFixedSize + head.dwTrailingSize;
        }
        return out;
    }
    size_t Sends() const { return m_sent.size(); }
    size_t Unread() const { return m_replies.size() - m_dwRead; }

private:
    uint32_t m_dwVersion;
    std::vector<uint8_t> m_replies;
    size_t m_dwRead = 0;
    std::vector<std::vector<uint8_t>> m_sent;
};

inline BufParams ImageParams(uint32_t sizeX, uint32_t sizeY, uint32_t format, uint32_t bands)
{
    BufParams p;
    BufParamsInit(BUFTYPE_IMAGE, &p);
    p.dwWords[IMAGE_FULL_SIZE_X] = sizeX;
    p.dwWords[IMAGE_FULL_SIZE_Y] = sizeY;
    p.dwWords[IMAGE_SIZE_X] = sizeX;
    p.dwWords[IMAGE_SIZE_Y] = sizeY;
    p.dwWords[IMAGE_NUM_BANDS] = bands;
    p.dwWords[IMAGE_FORMAT] = format;
    p.dwWords[IMAGE_DATA_SIZE] = sizeX * sizeY * bands;
    return p;
}

// Catches message boxes for the life of the object.
class CBoxCatcher {
public:
    CBoxCatcher() { px::SetMessageBoxHandler(&CBoxCatcher::Handler, this); }
    ~CBoxCatcher() { px::SetMessageBoxHandler(nullptr, nullptr); }
    std::vector<std::pair<std::string, std::string>> Boxes()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_boxes;
    }
    bool Saw(const std::string& text, const std::string& caption)
    {
        for (const auto& b : Boxes())
            if (b.first == text && b.second == caption)
                return true;
        return false;
    }

private:
    static void Handler(const char* text, const char* caption, void* user)
    {
        auto* self = static_cast<CBoxCatcher*>(user);
        std::lock_guard<std::mutex> lock(self->m_lock);
        self->m_boxes.emplace_back(text, caption);
    }
    std::mutex m_lock;
    std::vector<std::pair<std::string, std::string>> m_boxes;
};

} // namespace clienttest
