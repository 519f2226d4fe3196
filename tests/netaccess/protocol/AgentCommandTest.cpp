// Commands, envelopes and the greeting: exact bytes as they travel, and the agent's side reading
// them back (or refusing them).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "netaccess/protocol/AgentProtocol.h"

using namespace px::agent;

namespace {

constexpr uint32_t k400200 = 0x040000C8u;  // 4.0.200
constexpr uint32_t k400300 = 0x0400012Cu;  // 4.0.300

uint32_t Word(const uint8_t* p, size_t i)
{
    p += 4 * i;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}

std::vector<uint8_t> Encode(const AgentCommand& c)
{
    std::vector<uint8_t> out(kAgentMaxCommandRecordSize + 64, 0xEE);
    size_t n = 0;
    EXPECT_EQ(AgentEncodeCommand(c, out.data(), out.size(), &n), AGENT_OK);
    out.resize(n);
    return out;
}

const BufferId kImg1 = BufferId::FromText("IMG1");

} // namespace

TEST(AgentCommand, GreetingIsTheTwelveKnownBytes)
{
    const std::vector<uint8_t> expected{0x65, 0, 0, 0, 0x0C, 0, 0, 0, 0x60, 0x01, 0x00, 0x04};
    const auto hello = AgentEncodeHello();
    EXPECT_EQ(std::vector<uint8_t>(hello.begin(), hello.end()), expected);
    EXPECT_EQ(Encode(AgentMakeHello()), expected);

    AgentCommand back;
    ASSERT_EQ(AgentDecodeCommand(expected.data(), expected.size(), 0, &back), AGENT_OK);
    EXPECT_EQ(back.dwCommand, uint32_t{CMD_HELLO});
    EXPECT_EQ(back.dwValue, kPellixVersion);
}

TEST(AgentCommand, VersionThresholdsAreInclusive)
{
    EXPECT_EQ(kPellixVersion, AgentVersion(4, 0, 352));
    EXPECT_FALSE(AgentUsesEnvelopes(AgentVersion(2, 1, 0xFFFF)));
    EXPECT_TRUE(AgentUsesEnvelopes(AgentVersion(2, 2, 0)) && AgentUsesEnvelopes(0));
    EXPECT_FALSE(AgentHasResourceCheck(AgentVersion(3, 0, 340)));
    EXPECT_TRUE(AgentHasResourceCheck(AgentVersion(3, 0, 341)) && AgentHasResourceCheck(0));
    EXPECT_FALSE(AgentHasListChangedEvent(AgentVersion(4, 0, 196)));
    EXPECT_TRUE(AgentHasListChangedEvent(AgentVersion(4, 0, 197)));
    EXPECT_FALSE(AgentWantsWatchdogId(AgentVersion(4, 0, 253)));
    EXPECT_TRUE(AgentWantsWatchdogId(AgentVersion(4, 0, 254)) && AgentWantsWatchdogId(0));
}

// Envelope words 2, 3, 4 and the record size word of every enveloped command.
TEST(AgentCommand, EnvelopeWordsAndRecordSizes)
{
    const uint8_t info[60] = {1, 2, 3};
    AgentCommand setParams;
    ASSERT_EQ(AgentMakeSetBufParams(kImg1, info, sizeof info, &setParams), AGENT_OK);
    struct Case {
        AgentCommand command;
        uint32_t rest, data, sizeWord, encoded;
    } cases[] = {
        {AgentMakeBye(), 4, 0, 12, 12},
        {AgentMakeSetTransferBuffer(kImg1, 1, "x", k400200, 7), 264, 0, 272, 272},
        {AgentMakeSetTransferBuffer(kImg1, 1, "x", k400300, 7), 296, 0, 304, 304},
        {AgentMakeSetTransferBuffer(kImg1, 1, "x", 0, 7), 296, 0, 304, 304},
        {AgentMakeGetData(kImg1, 1), 8, 0, 16, 16},
        {AgentMakeGetBufParams(kImg1), 4, 0, 12, 12},
        {setParams, 4, 0, 72, 72},
        {AgentMakeSendInput(kImg1, 100), 8, 100, 116, 16},
        {AgentMakeGetBufferList(), 4, 0, 12, 12},
        {AgentMakeForceTransfer(kImg1), 4, 0, 12, 12},
        {AgentMakeVerifyResources(3100), 8, 0, 16, 16},
        {AgentMakeGetNumberOfClient(), 0, 0, 8, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(AgentCommandName(c.command.dwCommand));
        const auto env = AgentEncodeEnvelope(AgentMakeEnvelope(c.command));
        EXPECT_EQ(Word(env.data(), 0), c.command.dwCommand);
        EXPECT_EQ(Word(env.data(), 1), 56u);
        EXPECT_EQ(Word(env.data(), 2), 8u);
        EXPECT_EQ(Word(env.data(), 3), c.rest);
        EXPECT_EQ(Word(env.data(), 4), c.data);
        for (size_t i = 5; i < 14; ++i)
            EXPECT_EQ(Word(env.data(), i), 0u);
        const std::vector<uint8_t> rec = Encode(c.command);
        ASSERT_EQ(rec.size(), c.encoded);
        EXPECT_EQ(Word(rec.data(), 0), c.command.dwCommand);
        EXPECT_EQ(Word(rec.data(), 1), c.sizeWord);

        // The agent reads the same command back, and the envelope matches its record.
        AgentCommandHead head;
        ASSERT_EQ(AgentDecodeCommandHead(rec.data(), rec.size(), 1000, &head), AGENT_OK);
        AgentEnvelope decoded;
        ASSERT_EQ(AgentDecodeEnvelope(env.data(), env.size(), &decoded), AGENT_OK);
        EXPECT_EQ(AgentCheckEnvelope(decoded, head), AGENT_OK);
        AgentCommand back;
        ASSERT_EQ(AgentDecodeCommand(rec.data(), rec.size(), 1000, &back), AGENT_OK);
        EXPECT_EQ(back.bufferId, c.command.bufferId);
        EXPECT_EQ(back.dwValue, c.command.dwValue);
        EXPECT_EQ(back.dwWatchdogId, c.command.dwWatchdogId);
        EXPECT_EQ(back.dwInfoSize, c.command.dwInfoSize);
        EXPECT_EQ(memcmp(back.byInfo, c.command.byInfo, sizeof back.byInfo), 0);
    }
}

TEST(AgentCommand, SubscriptionLayout)
{
    std::vector<uint8_t> rec = Encode(AgentMakeSetTransferBuffer(kImg1, 1, "viewer", k400300, 0x11223344u));
    ASSERT_EQ(rec.size(), 304u);
    EXPECT_EQ(memcmp(rec.data() + 8, "IMG1", 4), 0);  // first character first
    EXPECT_EQ(Word(rec.data(), 3), 1u);
    EXPECT_EQ(memcmp(rec.data() + 16, "viewer", 6), 0);
    for (size_t i = 16 + 6; i < 272; ++i)
        ASSERT_EQ(rec[i], 0) << i;  // NUL-padded name
    EXPECT_EQ(Word(rec.data(), 68), 0x11223344u);
    for (size_t i = 276; i < 304; ++i)
        ASSERT_EQ(rec[i], 0) << i;

    // A 4.0.200 agent gets no identity even when one is known; a long name is cut to 256.
    const std::string longName(300, 'n');
    rec = Encode(AgentMakeSetTransferBuffer(kImg1, 0, longName.c_str(), k400200, 0x11223344u));
    ASSERT_EQ(rec.size(), 272u);
    AgentCommand back;
    ASSERT_EQ(AgentDecodeCommand(rec.data(), rec.size(), 0, &back), AGENT_OK);
    EXPECT_FALSE(back.bWithWatchdogId);
    EXPECT_EQ(strlen(back.szClientName), 256u);

    // A short identifier is padded with zeros on the wire and reads back as its text.
    const BufferId ab = BufferId::FromText("AB");
    EXPECT_EQ(ab.Wire(), 0x4241u);
    EXPECT_STREQ(BufferId::FromWire(ab.Wire()).ToText().c_str(), "AB");
}

TEST(AgentCommand, AgentRefusesBrokenRecords)
{
    AgentCommandHead head;
    AgentCommand c;
    auto bytes = [](std::initializer_list<uint32_t> words) {
        std::vector<uint8_t> v;
        for (uint32_t w : words)
            for (int i = 0; i < 4; ++i)
                v.push_back(static_cast<uint8_t>(w >> (8 * i)));
        return v;
    };
    std::vector<uint8_t> v = bytes({999, 12, 0});
    EXPECT_EQ(AgentDecodeCommandHead(v.data(), v.size(), 0, &head), AGENT_BAD_COMMAND);
    v = bytes({CMD_BYE, 16, kAgentByeValue, 0});
    EXPECT_EQ(AgentDecodeCommandHead(v.data(), v.size(), 0, &head), AGENT_BAD_SIZE);
    v = bytes({CMD_BYE, 12, 6788});
    EXPECT_EQ(AgentDecodeCommand(v.data(), v.size(), 0, &c), AGENT_BAD_VALUE);
    v = bytes({CMD_SET_TRANSFER_BUFFER, 288});
    EXPECT_EQ(AgentDecodeCommandHead(v.data(), v.size(), 0, &head), AGENT_BAD_SIZE);
    v = bytes({CMD_SET_BUF_PARAMS, 12 + 64});
    EXPECT_EQ(AgentDecodeCommandHead(v.data(), v.size(), 0, &head), AGENT_BAD_SIZE);
    v = bytes({CMD_SEND_INPUT, 16 + 101, kImg1.Wire(), 101});
    EXPECT_EQ(AgentDecodeCommandHead(v.data(), v.size(), 100, &head), AGENT_BAD_SIZE);  // over the limit
    v = bytes({CMD_SEND_INPUT, 8, kImg1.Wire(), 0});
    EXPECT_EQ(AgentDecodeCommandHead(v.data(), v.size(), 100, &head), AGENT_BAD_SIZE);  // would wrap
    v = bytes({CMD_SEND_INPUT, 16 + 50, kImg1.Wire(), 60});
    EXPECT_EQ(AgentDecodeCommand(v.data(), v.size(), 100, &c), AGENT_BAD_SIZE);  // words disagree
    v = bytes({CMD_VERIFY_RESOURCES, 16, 0x00010C1Cu, 0});
    EXPECT_EQ(AgentDecodeCommand(v.data(), v.size(), 0, &c), AGENT_BAD_VALUE);

    // Every proper prefix of every record is refused as truncated.
    uint8_t info[16] = {};
    AgentCommand setParams;
    ASSERT_EQ(AgentMakeSetBufParams(kImg1, info, sizeof info, &setParams), AGENT_OK);
    for (const AgentCommand& cmd : {AgentMakeSetTransferBuffer(kImg1, 1, "x", 0, 1), setParams,
                                    AgentMakeGetData(kImg1, 0), AgentMakeVerifyResources(1)}) {
        const std::vector<uint8_t> rec = Encode(cmd);
        for (size_t n = 0; n < rec.size(); ++n)
            ASSERT_EQ(AgentDecodeCommand(rec.data(), n, 0, &c), AGENT_TRUNCATED) << n;
    }
    const auto env = AgentEncodeEnvelope(AgentMakeEnvelope(AgentMakeBye()));
    AgentEnvelope e;
    EXPECT_EQ(AgentDecodeEnvelope(env.data(), 55, &e), AGENT_TRUNCATED);
    ASSERT_EQ(AgentDecodeEnvelope(env.data(), 56, &e), AGENT_OK);
    ASSERT_EQ(AgentDecodeCommandHead(Encode(AgentMakeGetBufferList()).data(), 12, 0, &head), AGENT_OK);
    EXPECT_EQ(AgentCheckEnvelope(e, head), AGENT_BAD_COMMAND);

    // The encoder refuses too little room and an unknown command rather than writing past.
    uint8_t small[271];
    size_t n = 0;
    EXPECT_EQ(AgentEncodeCommand(AgentMakeSetTransferBuffer(kImg1, 1, "x", 0, 1), small, sizeof small, &n),
              AGENT_NO_ROOM);
    AgentCommand unknown;
    unknown.dwCommand = 132;
    EXPECT_EQ(AgentEncodeCommand(unknown, small, sizeof small, &n), AGENT_BAD_COMMAND);
    EXPECT_EQ(AgentMakeSetBufParams(kImg1, info, 61, &setParams), AGENT_BAD_SIZE);
}

TEST(AgentCommand, GreetingReplyForEveryAgentGeneration)
{
    struct Case {
        uint32_t version;
        bool extended;
        uint32_t learnt;
        bool envelopes;
    } cases[] = {
        {k400300, true, k400300, true},
        {k400200, true, k400200, true},
        {AgentVersion(3, 0, 300), true, AgentVersion(3, 0, 300), true},
        {0, true, 0, true},
        {AgentVersion(2, 1, 0), true, AgentVersion(2, 1, 0), false},
        {AgentVersion(1, 1, 0), false, kAgentDefaultVersion, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        const AgentHelloReply made = AgentMakeHelloReply(c.version, c.extended);
        const auto head = AgentEncodeHelloReply(made);
        AgentHelloReply got;
        ASSERT_EQ(AgentDecodeHelloReply(head.data(), head.size(), &got), AGENT_OK);
        EXPECT_EQ(got.bExtended, c.extended);
        EXPECT_EQ(Word(head.data(), 2) == 0xFFFFFFFFu, c.extended);
        if (got.bExtended) {
            const auto ext = AgentEncodeHelloExtension(made);
            EXPECT_EQ(AgentDecodeHelloExtension(ext.data(), 47, &got), AGENT_TRUNCATED);
            ASSERT_EQ(AgentDecodeHelloExtension(ext.data(), ext.size(), &got), AGENT_OK);
            EXPECT_EQ(got.dwWord2, Word(ext.data(), 2));  // the extension's word 2 replaces the reply's
        }
        EXPECT_EQ(got.dwAgentVersion, c.learnt);
        EXPECT_EQ(AgentUsesEnvelopes(got.dwAgentVersion), c.envelopes);
        EXPECT_EQ(AgentDecodeHelloReply(head.data(), 11, &got), AGENT_TRUNCATED);
    }
}
