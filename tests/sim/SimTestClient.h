// An agent client for the simulator tests: the library's own agent connection (the greeting,
// commands, reply heads, transfers that give up after their time-out), plus whole replies with
// their part C. A silent or broken simulator fails a test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "client/AgentConnection.h"
#include "netaccess/protocol/AgentBytes.h"
#include "pellix/pellix.h"
#include "tests/sim/SimTestCamera.h"

namespace simtest {

using namespace px::agent;

constexpr uint32_t kWait = 10000;
inline const uint8_t kLoopback[4] = {127, 0, 0, 1};

struct Reply {
    AgentReply parts;
    std::vector<uint8_t> partC;
    uint32_t PartB(size_t word) const { return parts.dwPartB[word]; }
    uint64_t Serial() const { return PartB(DATADESC_SERIAL_LOW) | (uint64_t{PartB(DATADESC_SERIAL_HIGH)} << 32); }
};

inline const AgentConnectionStyle kTestStyle{"simtest", "send failed: %s\n", "send timed out\n", "receive timed out\n",
                                             "sent %d of %d\n", "simtest", nullptr, nullptr, false, false};

class CSimTestClient {
public:
    explicit CSimTestClient(uint32_t timeoutMs = kWait) : m_connection(kTestStyle, false, timeoutMs, nullptr) {}
    ~CSimTestClient() { m_connection.Close(0); }

    // Connects to port and greets; false when either failed.
    bool Open(uint16_t port)
    {
        m_connection.Open(NetAddress::Of(nullptr, kLoopback), port);
        return m_connection.StickyError() == PX_OK;
    }
    uint32_t Version() const { return m_connection.AgentVersion(); }
    // What ended the connection: {13, 5164} when a wait ran out, {13, ECONNRESET} when the
    // simulator closed it, ...
    NetResult Failure() const { return m_connection.FirstFailure(); }

    bool Send(const void* data, size_t size) { return m_connection.SendBuffer(data, static_cast<uint32_t>(size)) == 0; }
    bool Receive(void* data, size_t size) { return m_connection.ReceiveBuffer(data, static_cast<uint32_t>(size)) == 0; }
    bool Command(const AgentCommand& c, const void* input = nullptr, size_t inputSize = 0)
    {
        return m_connection.SendCommand(c, input, static_cast<uint32_t>(inputSize)) == PX_OK;
    }
    // The reply to command, part C included.
    bool ReadReply(uint32_t command, Reply* out)
    {
        if (m_connection.ReadReplyHead(command, &out->parts) != PX_OK || out->parts.dwPartCSize > (64u << 20))
            return false;
        out->partC.resize(out->parts.dwPartCSize);
        return Receive(out->partC.data(), out->partC.size());
    }
    bool Exchange(const AgentCommand& c, Reply* out) { return Command(c) && ReadReply(c.dwCommand, out); }
    bool Subscribe(const char* id, const char* name = "simtest", uint32_t watchdogId = 0)
    {
        return Command(AgentMakeSetTransferBuffer(BufferId::FromText(id), 1, name, Version(), watchdogId));
    }
    bool GetData(const char* id, uint32_t force, Reply* out)
    {
        return Exchange(AgentMakeGetData(BufferId::FromText(id), force), out);
    }
    bool GetParams(const char* id, Reply* out) { return Exchange(AgentMakeGetBufParams(BufferId::FromText(id)), out); }
    bool SetParams(const char* id, const std::vector<uint8_t>& info)
    {
        AgentCommand c;
        return AgentMakeSetBufParams(BufferId::FromText(id), info.data(), info.size(), &c) == AGENT_OK && Command(c);
    }
    // True when the simulator closed the connection (not when the wait ran out).
    bool PeerClosed()
    {
        uint8_t byte;
        return !Receive(&byte, 1) && Failure().detail != NET_DETAIL_WAIT_TIMEOUT;
    }

private:
    CAgentConnection m_connection;
};

// A simulator started by the test, and clients subscribed to one of its buffers.
class SimTest : public ::testing::Test {
protected:
    void StartSim(const pxsim::SimConfig& c = TestConfig()) { ASSERT_EQ(sim.Start(c), 0); }
    void StartWith(const pxsim::SimFaults& f)
    {
        pxsim::SimConfig c = TestConfig();
        c.faults = f;
        StartSim(c);
    }
    void Open(CSimTestClient& client, const char* id = "IMG0")
    {
        ASSERT_TRUE(client.Open(sim.BufferPort(id)));
        ASSERT_TRUE(client.Subscribe(id));
    }
    pxsim::CKelvoSim sim;
};

inline uint32_t Word(const std::vector<uint8_t>& bytes, size_t word) { return GetLe32(bytes.data() + 4 * word); }
inline void SetWord(std::vector<uint8_t>* bytes, size_t word, uint32_t v) { PutLe32(bytes->data() + 4 * word, v); }

} // namespace simtest
