// client_reply_fuzz: arbitrary agent reply bytes through the reply decoding of CClient.
//
// The input is a two-byte plan followed by the bytes the "agent" sends. A client is made on a
// transport that serves those bytes (the greeting included), subscribes, and then runs the eight
// requests the plan names, two bits each: a data request, a client count, a window change (which
// reads the info record anew) or a data request followed by reads of the items. The destination
// of each data request is what a caller that follows the client's contract allocates, taken from
// the info record as the client holds it, guarded on both sides; the harness aborts when the
// client writes outside the bytes it may write, when a kept error lets a request touch the
// transport again, or when a result is not one the client can give.
//
// Built with clang and -DPELLIX_FUZZ=ON this is a libFuzzer target. Otherwise PlainRunner.cpp
// gives it a main that runs deterministic pseudo-random inputs and mutated valid conversations
// (argument: the number of runs, 20 000 by default).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "client/Client.h"
#include "fuzz/FuzzAgent.h"
#include "netaccess/protocol/AgentProtocol.h"
#include "pellix/pellix.h"

using namespace px::agent;

namespace {

// Destinations beyond this are not allocated: no caller could, and the client would then need
// as much again for its staging buffer.
constexpr uint64_t kMaxDestination = 16u << 20;
constexpr size_t kGuard = 64;
constexpr uint8_t kCanary = 0xA7;

// What the last input left: the plain program checks that valid conversations get through.
uint32_t g_dwLastStickyError = 0;

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "client_reply_fuzz: %s\n", what);
        std::abort();
    }
}

bool KnownResult(uint32_t r, bool agentResults)
{
    switch (r) {
    case PX_OK: case PX_ERROR: case PX_WRONG_BUFFER: case PX_NOT_SUPPORTED: case PX_BUFFER_CHANGED: case PX_COMM_ERROR:
        return true;
    default:
        return agentResults;   // a data description word 12 or a count word 1 passes through
    }
}

void ReadData(CClient& client, CFuzzAgent& agent)
{
    uint32_t record[kClientInfoRecordWords] = {};
    client.GetTransferBufferInfo("IMG0", record);
    const uint32_t type = client.BufferType();
    uint64_t dataSize = 0, fullSize = 0;
    if (type == BUFTYPE_IMAGE) {
        dataSize = record[IMAGE_DATA_SIZE];
        fullSize = uint64_t{record[IMAGE_FULL_SIZE_X]} * record[IMAGE_FULL_SIZE_Y] * record[IMAGE_NUM_BANDS];
    } else if (BufParamsSize(type, nullptr)) {
        dataSize = type == BUFTYPE_INPUT ? 0 : record[0];
    }
    const uint64_t size = dataSize > fullSize ? dataSize : fullSize;
    if (size > kMaxDestination)
        return;
    std::vector<uint8_t> bytes(size + 2 * kGuard, kCanary);
    uint8_t* destination = bytes.data() + kGuard;
    const uint32_t sticky = client.StickyError();
    const size_t touches = agent.Touches();
    uint32_t received = 7;
    const uint32_t r = client.GetTransferBufferData("IMG0", 1, destination, record, &received);
    Check(received <= 1, "received is neither 0 nor 1");
    Check(KnownResult(r, true), "unknown result");
    if (sticky != 0) {
        Check(r == sticky, "a kept error was not returned");
        Check(agent.Touches() == touches, "a kept error let the request reach the agent");
    }
    // A whole reply may fill the data size, a region the full image, nothing else.
    uint32_t isRegion = 0;
    client.GetTransferBufferDataDesc("IMG0", 2008, &isRegion);
    const uint64_t allowed = type == BUFTYPE_IMAGE && isRegion == 1 ? fullSize : dataSize;
    for (size_t i = 0; i < kGuard; ++i)
        Check(bytes[i] == kCanary, "written before the destination");
    for (uint64_t i = kGuard + allowed; i < bytes.size(); ++i)
        Check(bytes[i] == kCanary, "written beyond what the info record allows");
    uint32_t serial[2];
    client.GetTransferBufferDataDesc("IMG0", 2009, serial);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint32_t plan = data[0] | (uint32_t{data[1]} << 8);
    CFuzzAgent agent(data + 2, size - 2);
    CClient client(&agent, "fuzz", false, nullptr, ClientTiming{0});
    client.SetTransferBuffer("IMG0", plan & 1);
    for (int step = 0; step < 8; ++step) {
        const uint32_t sticky = client.StickyError();
        const size_t touches = agent.Touches();
        uint32_t value = 0;
        switch ((plan >> (2 * step)) & 3) {
        case 0:
        case 3:
            ReadData(client, agent);
            for (uint32_t item = 1001; item <= 1012; ++item)
                client.GetTransferBufferInfo("IMG0", item, &value);
            continue;
        case 1: {
            const uint32_t r = client.GetNumberOfClient("IMG0", &value);
            Check(KnownResult(r, true), "unknown client-count result");
            break;
        }
        case 2: {
            const uint32_t width = 1 + (plan >> 8);
            const uint32_t r = client.SetTransferBufferInfo("IMG0", 1002, &width);
            Check(KnownResult(r, false), "unknown window-change result");
            break;
        }
        }
        if (sticky != 0)
            Check(agent.Touches() == touches, "a kept error let the request reach the agent");
    }
    g_dwLastStickyError = client.StickyError();
    return 0;
}

namespace {

void Append(std::vector<uint8_t>* out, const uint8_t* p, size_t n) { out->insert(out->end(), p, p + n); }

void AppendReply(std::vector<uint8_t>* out, const AgentReply& reply, uint32_t version, size_t partC, CFuzzRandom& rng)
{
    uint8_t head[kAgentMaxReplyHeadSize];
    size_t n = 0;
    if (AgentEncodeReply(reply, version, head, sizeof head, &n) != AGENT_OK)
        return;
    Append(out, head, n);
    for (size_t i = 0; i < partC; ++i)
        out->push_back(static_cast<uint8_t>(rng.Next()));
}

} // namespace

const char* const kFuzzTargetName = "client_reply_fuzz";

uint32_t FuzzLastStickyError() { return g_dwLastStickyError; }

// A conversation a well-behaved agent of a random version would have with the harness.
std::vector<uint8_t> FuzzValidConversation(CFuzzRandom& rng)
{
    static const uint32_t kVersions[] = {kAgentDefaultVersion, 0x02010000, 0x02020000, 0x040000C8, 0x0400012C, 0};
    static const uint32_t kTypes[] = {1, 1, 1, 2, 3, 5, 6, 10, 11, 101};
    const uint32_t version = kVersions[rng.Below(6)];
    const uint32_t type = kTypes[rng.Below(10)];
    const uint32_t plan = static_cast<uint32_t>(rng.Next()) & 0xFFFF;
    std::vector<uint8_t> out = {static_cast<uint8_t>(plan), static_cast<uint8_t>(plan >> 8)};

    const AgentHelloReply hello = AgentMakeHelloReply(version, version != kAgentDefaultVersion);
    const auto head = AgentEncodeHelloReply(hello);
    Append(&out, head.data(), head.size());
    if (hello.bExtended) {
        const auto ext = AgentEncodeHelloExtension(hello);
        Append(&out, ext.data(), ext.size());
    }
    BufParams params;
    BufParamsInit(type, &params);
    const uint32_t w = 1 + rng.Below(24), h = 1 + rng.Below(16), bands = 1 + rng.Below(4);
    if (type == 1) {
        params.dwWords[IMAGE_FULL_SIZE_X] = params.dwWords[IMAGE_SIZE_X] = w;
        params.dwWords[IMAGE_FULL_SIZE_Y] = params.dwWords[IMAGE_SIZE_Y] = h;
        params.dwWords[IMAGE_NUM_BANDS] = bands;
        params.dwWords[IMAGE_DATA_SIZE] = w * h * bands;
    } else if (type != 101) {
        params.dwWords[0] = 4 * rng.Below(16);
    }
    auto appendParams = [&] {
        uint8_t bytes[kBufParamsMaxSize];
        size_t n = 0;
        AgentEncodeBufParams(params, bytes, sizeof bytes, &n);
        AgentReply r = AgentMakeBufParamsReply(type, version);
        r.dwPartCSize = static_cast<uint32_t>(n);
        uint8_t headBytes[kAgentMaxReplyHeadSize];
        size_t used = 0;
        AgentEncodeReply(r, version, headBytes, sizeof headBytes, &used);
        Append(&out, headBytes, used);
        Append(&out, bytes, n);
    };
    appendParams();
    for (int step = 0; step < 8; ++step) {
        switch ((plan >> (2 * step)) & 3) {
        case 0:
        case 3: {
            DataDesc desc;
            uint32_t size = params.dwWords[type == 1 ? uint32_t{IMAGE_DATA_SIZE} : 0u];
            if (type == 101)
                size = 0;
            if (type == 1 && rng.Below(2)) {
                const uint32_t rw = 1 + rng.Below(w), rh = 1 + rng.Below(h);
                desc.dwWords[DATADESC_REGION_X] = rng.Below(w - rw + 1);
                desc.dwWords[DATADESC_REGION_Y] = rng.Below(h - rh + 1);
                desc.dwWords[DATADESC_REGION_WIDTH] = rw;
                desc.dwWords[DATADESC_REGION_ROWS] = rh;
                desc.dwWords[DATADESC_IS_REGION] = 1;
                size = rw * rh * bands;
            }
            desc.dwWords[DATADESC_NEW_FORMAT] = rng.Below(3) == 0 ? 256 : 0;
            AppendReply(&out, AgentMakeDataReply(desc, size, version), version, size, rng);
            break;
        }
        case 1:
            if (AgentUsesEnvelopes(version))
                AppendReply(&out, AgentMakeNumberOfClientReply(rng.Below(4), rng.Below(4) == 0 ? 7 : 0), version, 0,
                            rng);
            break;
        case 2:
            if (type == 1)
                appendParams();
            break;
        }
    }
    return out;
}
