// channel_reply_fuzz: arbitrary agent reply bytes through the reply decoding of CAgentChannel.
//
// The input is a one-byte plan followed by the bytes the "agent" sends. A channel is made on a
// transport that serves those bytes (the greeting included) and runs up to four requests, one
// bit each: a buffer list or a resource check. Every list handed out is read whole (an address
// sanitizer sees a record outside the array); the harness aborts when a kept error lets a request
// touch the transport again, or when a result is not one the channel can give.
//
// Built with clang and -DPELLIX_FUZZ=ON this is a libFuzzer target. Otherwise PlainRunner.cpp
// gives it a main that runs deterministic pseudo-random inputs and mutated valid conversations
// (argument: the number of runs, 20 000 by default).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "client/AgentChannel.h"
#include "fuzz/FuzzAgent.h"
#include "netaccess/protocol/AgentProtocol.h"
#include "pellix/pellix.h"

using namespace px::agent;

namespace {

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "channel_reply_fuzz: %s\n", what);
        std::abort();
    }
}

uint32_t g_dwLastStickyError = 0;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t plan = data[0];
    CFuzzAgent agent(data + 1, size - 1);
    CAgentChannel channel(&agent, "fuzz");
    for (int i = 0; i < 4; ++i) {
        const bool failedBefore = channel.StickyError() != 0;
        const size_t touches = agent.Touches();
        uint32_t r;
        if (plan & (1u << i)) {
            uint32_t count = 0;
            const PXBufferListEntry* records = nullptr;
            r = channel.GetBufferList(&count, &records);
            Check(r == PX_OK || r == PX_COMM_ERROR, "unexpected list result");
            Check(r == PX_OK || (count == 0 && records == nullptr), "a failed list hands out records");
            Check(count == 0 || records != nullptr, "a list without its records");
            // Every record handed out is readable and its texts are terminated.
            volatile size_t sum = 0;
            for (uint32_t e = 0; r == PX_OK && e < count; ++e)
                sum = sum + std::strlen(records[e].processName) + std::strlen(records[e].text) + records[e].port;
        } else {
            uint32_t answer = 7;
            r = channel.VerifyResources(3100, &answer);
            Check(r == PX_OK || r == PX_COMM_ERROR || r == PX_NOT_SUPPORTED, "unexpected check result");
            Check(r == PX_OK || answer == 0, "a failed check gives an answer");
        }
        if (failedBefore)
            Check(agent.Touches() == touches && (r == PX_COMM_ERROR || r == PX_NOT_SUPPORTED),
                  "a kept error touched the agent again");
    }
    g_dwLastStickyError = channel.StickyError();
    return 0;
}

namespace {

void Append(std::vector<uint8_t>* out, const uint8_t* bytes, size_t size) { out->insert(out->end(), bytes, bytes + size); }

} // namespace

const char* const kFuzzTargetName = "channel_reply_fuzz";

uint32_t FuzzLastStickyError() { return g_dwLastStickyError; }

// A conversation a well-behaved agent could have: the greeting, then the replies to the plan.
std::vector<uint8_t> FuzzValidConversation(CFuzzRandom& rng)
{
    static const uint32_t kVersions[] = {0x0400012C, 0x040000C8, 0x0300012C, 0x02010000, 0};
    const uint32_t version = kVersions[rng.Below(5)];
    const uint8_t plan = static_cast<uint8_t>(rng.Next());
    std::vector<uint8_t> out{plan};
    AgentHelloReply hello = AgentMakeHelloReply(version, true);
    auto h = AgentEncodeHelloReply(hello);
    Append(&out, h.data(), h.size());
    auto x = AgentEncodeHelloExtension(hello);
    Append(&out, x.data(), x.size());
    uint8_t head[kAgentMaxReplyHeadSize + 64];
    for (int i = 0; i < 4; ++i) {
        size_t written = 0;
        if (plan & (1u << i)) {
            const uint32_t count = rng.Below(4);
            AgentEncodeReply(AgentMakeBufferListReply(count, version), version, head, sizeof head, &written);
            Append(&out, head, written);
            for (uint32_t r = 0; r < count; ++r) {
                BufferListEntry e;
                e.bufferId = BufferId::FromText("IMG0");
                e.dwType = 1;
                e.usPort = static_cast<uint16_t>(3100 + r);
                uint8_t record[kAgentBufferListEntrySize];
                AgentEncodeBufferListEntry(e, record, sizeof record);
                Append(&out, record, sizeof record);
            }
        } else if (AgentHasResourceCheck(version)) {
            AgentEncodeReply(AgentMakeVerifyResourcesReply(1), version, head, sizeof head, &written);
            Append(&out, head, written);
        }
    }
    return out;
}
