// Helpers of the exchange-buffer client and agent channel tests: a simulated camera on ephemeral
// ports that the configuration points the library at and whose commands are counted, a scripted
// agent that serves prepared reply bytes through the connection's transport seam and keeps what
// the client sent.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/AgentChannel.h"
#include "client/Client.h"
#include "netaccess/protocol/AgentProtocol.h"
#include "pellix/pellix.h"
#include "tests/platform/BoxCatcher.h"
#include "tests/sim/SimTestCamera.h"

namespace clienttest {

using namespace px::agent;

inline const uint8_t kLoopback[4] = {127, 0, 0, 1};
inline const NetAddress kCamera = NetAddress::Of(nullptr, kLoopback);
constexpr ClientTiming kFast{0};
constexpr AgentChannelTiming kFastChannel{2000, 20};   // generous for a loaded machine

using platformtest::CBoxCatcher;
using simtest::TestConfig;

// A client of buffer id on a simulator that is already running.
inline std::unique_ptr<CClient> OpenClient(pxsim::CKelvoSim& sim, const char* id, uint32_t timeoutMs = 5000,
                                           CAgentChannel* channel = nullptr, bool boxes = false)
{
    return std::make_unique<CClient>(kCamera, sim.BufferPort(id), "client-test", timeoutMs, boxes, channel, kFast);
}

// The simulated camera of a test, counting the commands it served by name.
class CTestCamera : public simtest::CSimCamera {
public:
    ~CTestCamera() { sim.Stop(); }   // before the log it writes to goes
    void Start(const pxsim::SimConfig& config = TestConfig())
    {
        sim.SetLog([this](uint32_t, const char* line) {
            std::lock_guard<std::mutex> g(m_lock);
            m_log.emplace_back(line);
        }, 2);
        CSimCamera::Start(config);
    }
    // Log lines that contain word (a command's name, say).
    size_t Count(const char* word)
    {
        std::lock_guard<std::mutex> g(m_lock);
        size_t n = 0;
        for (const auto& line : m_log)
            n += line.find(word) != std::string::npos;
        return n;
    }
    std::unique_ptr<CClient> Client(const char* id, uint32_t timeoutMs = 5000, CAgentChannel* channel = nullptr,
                                    bool boxes = false)
    {
        return OpenClient(sim, id, timeoutMs, channel, boxes);
    }
    std::unique_ptr<CAgentChannel> Channel(uint32_t delay, uint32_t signalTimeout, uint32_t timeout = 2000,
                                           uint32_t retries = 1)
    {
        return std::make_unique<CAgentChannel>(kCamera, sim.PublishPort(), "channel-test", timeout, true, delay,
                                               signalTimeout, retries, kFastChannel);
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_log;
};

// Plays an agent of the given version on a connection's transport: replies are queued as bytes in
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
        if (size > m_replies.size() - m_read)
            return PX_COMM_ERROR;
        std::memcpy(data, m_replies.data() + m_read, size);
        m_read += size;
        return 0;
    }

    template <typename Bytes>
    void Add(const Bytes& bytes)
    {
        m_replies.insert(m_replies.end(), bytes.begin(), bytes.end());
    }
    void AddReply(const AgentReply& reply, const std::vector<uint8_t>& partC = {})
    {
        uint8_t head[kAgentMaxReplyHeadSize + 64];
        size_t n = 0;
        ASSERT_EQ(AgentEncodeReply(reply, m_dwVersion, head, sizeof head, &n), AGENT_OK);
        m_replies.insert(m_replies.end(), head, head + n);
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
        for (size_t at = 0; at < all.size();) {
            if (AgentUsesEnvelopes(m_dwVersion) && !out.empty())
                at += kAgentEnvelopeSize;
            AgentCommandHead head;
            AgentCommand c;
            if (at >= all.size() || AgentDecodeCommandHead(all.data() + at, all.size() - at, 1u << 24, &head) != 0 ||
                AgentDecodeCommand(all.data() + at, all.size() - at, 1u << 24, &c) != 0)
                break;
            out.push_back(c);
            at += head.dwFixedSize + head.dwTrailingSize;
        }
        return out;
    }
    size_t Sends() const { return m_sent.size(); }
    size_t Unread() const { return m_replies.size() - m_read; }

private:
    uint32_t m_dwVersion;
    std::vector<uint8_t> m_replies;
    size_t m_read = 0;
    std::vector<std::vector<uint8_t>> m_sent;
};

inline BufParams ImageParams(uint32_t sizeX, uint32_t sizeY, uint32_t format, uint32_t bands)
{
    BufParams p;
    BufParamsInit(BUFTYPE_IMAGE, &p);
    p.dwWords[IMAGE_FULL_SIZE_X] = p.dwWords[IMAGE_SIZE_X] = sizeX;
    p.dwWords[IMAGE_FULL_SIZE_Y] = p.dwWords[IMAGE_SIZE_Y] = sizeY;
    p.dwWords[IMAGE_NUM_BANDS] = bands;
    p.dwWords[IMAGE_FORMAT] = format;
    p.dwWords[IMAGE_DATA_SIZE] = sizeX * sizeY * bands;
    return p;
}

} // namespace clienttest
