// Replies as the agent encodes them and the client decodes them, for old and new agents, and
// the replies a hostile agent might send.
#include <gtest/gtest.h>

#include <vector>

#include "netaccess/protocol/AgentProtocol.h"

using namespace px::agent;

namespace {

constexpr uint32_t kOld = 0x02010000u;  // 2.1.0: no envelopes
constexpr uint32_t kNew = 0x0400012Cu;  // 4.0.300

// What the client learns from an encoded reply head (envelope when new, then parts A and B).
struct Decoded {
    uint32_t result = AGENT_OK;
    AgentReply reply;
};

Decoded ClientReads(uint32_t command, uint32_t version, const std::vector<uint8_t>& wire)
{
    Decoded d;
    size_t at = 0;
    AgentReplyEnvelope env;
    const AgentReplyEnvelope* penv = nullptr;
    if (AgentUsesEnvelopes(version)) {
        if ((d.result = AgentDecodeReplyEnvelope(wire.data(), wire.size(), &env)))
            return d;
        penv = &env;
        at = kAgentReplyEnvelopeSize;
    }
    uint32_t a = 0, b = 0;
    if ((d.result = AgentReplyPartSizes(command, version, penv, &a, &b)))
        return d;
    if (at + a + b > wire.size()) {
        d.result = AGENT_TRUNCATED;
        return d;
    }
    d.result = AgentDecodeReplyParts(command, version, penv, wire.data() + at, a, wire.data() + at + a, b, &d.reply);
    return d;
}

std::vector<uint8_t> AgentWrites(const AgentReply& reply, uint32_t version)
{
    std::vector<uint8_t> out(kAgentMaxReplyHeadSize);
    size_t n = 0;
    EXPECT_EQ(AgentEncodeReply(reply, version, out.data(), out.size(), &n), AGENT_OK);
    out.resize(n);
    return out;
}

void PutWord(std::vector<uint8_t>& v, size_t word, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        v[4 * word + i] = static_cast<uint8_t>(value >> (8 * i));
}

DataDesc SampleDesc()
{
    DataDesc d;
    for (uint32_t i = 0; i < kAgentDataDescWords; ++i)
        d.dwWords[i] = 100 + i;
    return d;
}

} // namespace

TEST(AgentReply, DataReplyOldAndNew)
{
    // Old agent: 8 + 32 bytes, no envelope; part C is part A word 1 minus 40.
    std::vector<uint8_t> wire = AgentWrites(AgentMakeDataReply(SampleDesc(), 1000, kOld), kOld);
    ASSERT_EQ(wire.size(), 40u);
    Decoded d = ClientReads(CMD_GET_TRANSFER_BUFFER_DATA, kOld, wire);
    ASSERT_EQ(d.result, AGENT_OK);
    EXPECT_EQ(d.reply.dwPartA[1], 1040u);
    EXPECT_EQ(d.reply.dwPartBSize, 32u);
    EXPECT_EQ(d.reply.dwPartCSize, 1000u);
    EXPECT_EQ(d.reply.dwPartB[7], 107u);
    EXPECT_EQ(d.reply.dwPartB[8], 0u);  // not sent by an old agent

    // New agent: envelope, 8 + 72 bytes; part C as announced.
    wire = AgentWrites(AgentMakeDataReply(SampleDesc(), 1000, kNew), kNew);
    ASSERT_EQ(wire.size(), 56u + 8 + 72);
    d = ClientReads(CMD_GET_TRANSFER_BUFFER_DATA, kNew, wire);
    ASSERT_EQ(d.result, AGENT_OK);
    EXPECT_EQ(d.reply.dwPartCSize, 1000u);
    EXPECT_EQ(d.reply.dwPartB[DATADESC_RESULT], 112u);
    EXPECT_EQ(d.reply.dwPartB[17], 117u);

    // An announced part C of 0 is part A word 1 minus parts A and B.
    PutWord(wire, 4, 0);
    d = ClientReads(CMD_GET_TRANSFER_BUFFER_DATA, kNew, wire);
    ASSERT_EQ(d.result, AGENT_OK);
    EXPECT_EQ(d.reply.dwPartCSize, 1000u);
    // ... and a total smaller than parts A and B is refused rather than wrapped.
    PutWord(wire, 14 + 1, 79);
    EXPECT_EQ(ClientReads(CMD_GET_TRANSFER_BUFFER_DATA, kNew, wire).result, AGENT_BAD_SIZE);
    wire = AgentWrites(AgentMakeDataReply(SampleDesc(), 0, kOld), kOld);
    PutWord(wire, 1, 39);
    EXPECT_EQ(ClientReads(CMD_GET_TRANSFER_BUFFER_DATA, kOld, wire).result, AGENT_BAD_SIZE);
}

TEST(AgentReply, BufParamsReply)
{
    for (uint32_t version : {kOld, kNew}) {
        SCOPED_TRACE(version);
        std::vector<uint8_t> wire = AgentWrites(AgentMakeBufParamsReply(1, version), version);
        Decoded d = ClientReads(CMD_GET_BUF_PARAMS, version, wire);
        ASSERT_EQ(d.result, AGENT_OK);
        EXPECT_EQ(d.reply.dwPartB[2], 1u);
        EXPECT_EQ(d.reply.dwPartCSize, 60u);
        d = ClientReads(CMD_GET_BUF_PARAMS, version, AgentWrites(AgentMakeBufParamsReply(101, version), version));
        ASSERT_EQ(d.result, AGENT_OK);
        EXPECT_EQ(d.reply.dwPartCSize, 0u);
        // An unknown type is a reply like any other, without a record.
        d = ClientReads(CMD_GET_BUF_PARAMS, version, AgentWrites(AgentMakeBufParamsReply(0, version), version));
        ASSERT_EQ(d.result, AGENT_OK);
        EXPECT_EQ(d.reply.dwPartB[2], 0u);
        EXPECT_EQ(d.reply.dwPartCSize, 0u);
    }
    // New agent announcing 0: the type's record size; announcing less than the record: refused.
    std::vector<uint8_t> wire = AgentWrites(AgentMakeBufParamsReply(3, kNew), kNew);
    PutWord(wire, 4, 0);
    EXPECT_EQ(ClientReads(CMD_GET_BUF_PARAMS, kNew, wire).reply.dwPartCSize, 16u);
    PutWord(wire, 4, 12);
    EXPECT_EQ(ClientReads(CMD_GET_BUF_PARAMS, kNew, wire).result, AGENT_BAD_SIZE);
    PutWord(wire, 3, 8);  // part B without the type word
    EXPECT_EQ(ClientReads(CMD_GET_BUF_PARAMS, kNew, wire).result, AGENT_BAD_SIZE);
}

TEST(AgentReply, BufferListReply)
{
    Decoded d = ClientReads(CMD_GET_BUFFER_LIST, kOld, AgentWrites(AgentMakeBufferListReply(3, kOld), kOld));
    ASSERT_EQ(d.result, AGENT_OK);
    EXPECT_EQ(d.reply.dwRecordCount, 3u);
    EXPECT_EQ(d.reply.dwRecordSize, 540u);
    EXPECT_EQ(d.reply.dwPartCSize, 1620u);

    // A new agent announces the record size; the count is part B word 0.
    AgentReply made = AgentMakeBufferListReply(2, kNew);
    made.dwRecordSize = 600;
    std::vector<uint8_t> wire = AgentWrites(made, kNew);
    d = ClientReads(CMD_GET_BUFFER_LIST, kNew, wire);
    ASSERT_EQ(d.result, AGENT_OK);
    EXPECT_EQ(d.reply.dwRecordSize, 600u);
    EXPECT_EQ(d.reply.dwPartCSize, 1200u);

    PutWord(wire, 5, 539);
    EXPECT_EQ(ClientReads(CMD_GET_BUFFER_LIST, kNew, wire).result, AGENT_BAD_SIZE);
    PutWord(wire, 5, 0xFFFFFFFFu);
    EXPECT_EQ(ClientReads(CMD_GET_BUFFER_LIST, kNew, wire).result, AGENT_BAD_SIZE);
    EXPECT_EQ(ClientReads(CMD_GET_BUFFER_LIST, kOld, AgentWrites(AgentMakeBufferListReply(0x80000000u, kOld), kOld))
                  .result,
              AGENT_BAD_SIZE);
}

TEST(AgentReply, ResourceAndClientCountReplies)
{
    for (uint32_t version : {kOld, kNew}) {
        Decoded d = ClientReads(CMD_VERIFY_RESOURCES, version, AgentWrites(AgentMakeVerifyResourcesReply(1), version));
        ASSERT_EQ(d.result, AGENT_OK);
        EXPECT_EQ(d.reply.dwPartB[1], 1u);
        EXPECT_EQ(d.reply.dwPartCSize, 0u);
    }
    Decoded d = ClientReads(CMD_GET_NUMBER_OF_CLIENT, kNew, AgentWrites(AgentMakeNumberOfClientReply(4, 77), kNew));
    ASSERT_EQ(d.result, AGENT_OK);
    EXPECT_EQ(d.reply.dwPartB[0], 4u);
    EXPECT_EQ(d.reply.dwPartB[1], 77u);
    uint32_t a = 0, b = 0;
    EXPECT_EQ(AgentReplyPartSizes(CMD_GET_NUMBER_OF_CLIENT, kOld, nullptr, &a, &b), AGENT_BAD_COMMAND);
    EXPECT_EQ(AgentReplyPartSizes(CMD_BYE, kNew, nullptr, &a, &b), AGENT_BAD_COMMAND);
}

TEST(AgentReply, HostileEnvelopesAndShortPartsRefused)
{
    std::vector<uint8_t> wire = AgentWrites(AgentMakeDataReply(SampleDesc(), 10, kNew), kNew);
    AgentReplyEnvelope env;
    ASSERT_EQ(AgentDecodeReplyEnvelope(wire.data(), wire.size(), &env), AGENT_OK);
    uint32_t a = 0, b = 0;
    AgentReplyEnvelope bad = env;
    bad.dwPartBSize = 76;  // the description has room for 72 bytes only
    EXPECT_EQ(AgentReplyPartSizes(CMD_GET_TRANSFER_BUFFER_DATA, kNew, &bad, &a, &b), AGENT_BAD_SIZE);
    bad = env;
    bad.dwPartASize = 0x7FFFFFFFu;
    EXPECT_EQ(AgentReplyPartSizes(CMD_GET_TRANSFER_BUFFER_DATA, kNew, &bad, &a, &b), AGENT_BAD_SIZE);
    bad.dwPartASize = 4;  // no room for the total word
    EXPECT_EQ(AgentReplyPartSizes(CMD_GET_TRANSFER_BUFFER_DATA, kNew, &bad, &a, &b), AGENT_BAD_SIZE);
    EXPECT_EQ(AgentReplyPartSizes(CMD_GET_TRANSFER_BUFFER_DATA, kNew, nullptr, &a, &b), AGENT_TRUNCATED);
    EXPECT_EQ(AgentDecodeReplyEnvelope(wire.data(), 55, &env), AGENT_TRUNCATED);

    // Parts shorter than the sizes they were announced with.
    AgentReply r;
    EXPECT_EQ(AgentDecodeReplyParts(CMD_GET_TRANSFER_BUFFER_DATA, kNew, &env, wire.data() + 56, 8, wire.data() + 64,
                                    71, &r),
              AGENT_TRUNCATED);
    EXPECT_EQ(AgentDecodeReplyParts(CMD_GET_TRANSFER_BUFFER_DATA, kOld, nullptr, wire.data(), 7, wire.data(), 32, &r),
              AGENT_TRUNCATED);
    // A new agent announcing a part C for a reply that has none gets it drained, but not an absurd one.
    wire = AgentWrites(AgentMakeVerifyResourcesReply(1), kNew);
    PutWord(wire, 4, 16);
    EXPECT_EQ(ClientReads(CMD_VERIFY_RESOURCES, kNew, wire).reply.dwPartCSize, 16u);
    PutWord(wire, 4, 0x40000000u);
    EXPECT_EQ(ClientReads(CMD_VERIFY_RESOURCES, kNew, wire).result, AGENT_BAD_SIZE);

    uint8_t small[kAgentMaxReplyHeadSize - 1];
    size_t n = 0;
    EXPECT_EQ(AgentEncodeReply(AgentMakeDataReply(SampleDesc(), 1, kNew), kNew, small, sizeof small, &n), AGENT_NO_ROOM);
}
