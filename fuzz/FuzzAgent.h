// The camera's side of a fuzzed conversation: serves the input's bytes as the agent's replies,
// accepts every command, and counts how often a connection touched it (a connection that keeps
// an error must not touch it again).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "client/AgentConnection.h"
#include "pellix/pellix.h"

class CFuzzAgent : public IAgentStream {
public:
    CFuzzAgent(const uint8_t* data, size_t size) : m_pData(data), m_size(size) {}
    uint32_t SendBuffer(const void*, uint32_t) override
    {
        ++m_sends;
        return PX_OK;
    }
    uint32_t ReceiveBuffer(void* out, uint32_t size) override
    {
        ++m_receives;
        if (size > m_size - m_at)
            return PX_COMM_ERROR;
        if (size > 0)
            std::memcpy(out, m_pData + m_at, size);
        m_at += size;
        return PX_OK;
    }
    size_t Touches() const { return m_sends + m_receives; }

private:
    const uint8_t* m_pData;
    size_t m_size;
    size_t m_at = 0;
    size_t m_sends = 0, m_receives = 0;
};

// Deterministic pseudo-random numbers for the plain (non-libFuzzer) runs.
struct CFuzzRandom {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(Next() % n); }
};

// What each fuzz target gives the plain runner (PlainRunner.cpp), which stands in for libFuzzer
// in the gcc builds: its name, a conversation a well-behaved agent would have with it, and the
// sticky error its last input left (a valid conversation must leave none).
extern const char* const kFuzzTargetName;
std::vector<uint8_t> FuzzValidConversation(CFuzzRandom& rng);
uint32_t FuzzLastStickyError();
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
