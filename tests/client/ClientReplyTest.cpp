// The exchange-buffer client against a scripted agent: exact records sent, the edge cases of the
// requests, and replies no simulator sends (descriptions too long, regions outside the image,
// records too short), each refused without writing outside the caller's memory.
#include <gtest/gtest.h>

#include <algorithm>

#include "netaccess/protocol/AgentBytes.h"
#include "tests/client/ClientTestUtil.h"

using namespace clienttest;

namespace {

constexpr uint32_t kNewAgent = 0x0400012C;

// A client subscribed to an image of the given info record on a scripted agent.
struct Subscribed {
    CScriptedAgent agent;
    std::unique_ptr<CClient> client;
    explicit Subscribed(const BufParams& params, uint32_t version = kNewAgent, bool boxes = false) : agent(version)
    {
        agent.AddBufParams(params);
        client = std::make_unique<CClient>(&agent, "scripted", boxes, nullptr, kFast);
        EXPECT_EQ(client->SetTransferBuffer("IMG0", 1), PX_OK);
    }
    AgentCommand Last() const { return agent.Commands().back(); }
};

DataDesc ImageDesc(uint32_t width, uint32_t rows)
{
    DataDesc d;
    d.dwWords[DATADESC_REGION_WIDTH] = width;
    d.dwWords[DATADESC_REGION_ROWS] = rows;
    return d;
}

} // namespace

TEST(ClientReplies, EmptyDataStillFillsTheRecord)
{
    Subscribed s(ImageParams(640, 240, 256, 4));
    s.agent.AddData(ImageDesc(640, 240), {});
    std::vector<uint8_t> image(640 * 240 * 4, 0x5A);
    uint32_t record[15] = {}, received = 9;
    EXPECT_EQ(s.client->GetTransferBufferData("IMG0", 0, image.data(), record, &received), PX_OK);
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(record[6], 640u * 240u * 4u);
    EXPECT_EQ(record[14], 256u);
    EXPECT_EQ(std::count(image.begin(), image.end(), 0x5A), 640 * 240 * 4);
    EXPECT_EQ(s.Last().dwValue, 0u);   // the force flag as given
}

TEST(ClientReplies, ParameterChangeRecomputesTheDataSize)
{
    Subscribed s(ImageParams(640, 240, 256, 4));
    s.agent.AddBufParams(ImageParams(640, 240, 256, 4));   // read anew after the change
    const uint32_t width = 320;
    EXPECT_EQ(s.client->SetTransferBufferInfo("IMG0", 1002, &width), PX_OK);
    const std::vector<AgentCommand> sent = s.agent.Commands();
    ASSERT_GE(sent.size(), 2u);
    const AgentCommand& set = sent[sent.size() - 2];
    ASSERT_EQ(set.dwCommand, uint32_t{CMD_SET_BUF_PARAMS});
    ASSERT_EQ(set.dwInfoSize, 60u);
    EXPECT_EQ(GetLe32(set.byInfo + 4 * IMAGE_SIZE_X), 320u);
    EXPECT_EQ(GetLe32(set.byInfo + 4 * IMAGE_DATA_SIZE), 307200u);
    EXPECT_EQ(sent.back().dwCommand, uint32_t{CMD_GET_BUF_PARAMS});
    EXPECT_EQ(s.agent.Unread(), 0u);
    // The good-bye closes the conversation.
    s.client.reset();
    EXPECT_EQ(s.agent.Commands().back().dwCommand, uint32_t{CMD_BYE});
}

TEST(ClientReplies, WrongIdentifierSendsNothing)
{
    Subscribed s(ImageParams(64, 48, 1, 1), kNewAgent, true);
    CBoxCatcher boxes;
    const size_t sends = s.agent.Sends();
    uint32_t record[15] = {};
    const uint32_t value = 32;
    EXPECT_EQ(s.client->SetTransferBufferInfo("IMG1", record), PX_WRONG_BUFFER);
    EXPECT_EQ(s.client->SetTransferBufferInfo("IMG1", 1002, &value), PX_WRONG_BUFFER);
    EXPECT_EQ(s.agent.Sends(), sends);
    EXPECT_EQ(boxes.Count("Pellix Error", "Trying to set buffer info for unconnected buffer.\n"), 2u);
    EXPECT_EQ(s.client->SetTransferBufferInfo("IMG0", 1002, nullptr), PX_ERROR);
    EXPECT_EQ(s.client->StickyError(), PX_OK);
}

TEST(ClientReplies, NumberOfClientsNeedsANewAgent)
{
    Subscribed old(ImageParams(64, 48, 1, 1), 0x02010000);
    const size_t sends = old.agent.Sends();
    uint32_t count = 77;
    EXPECT_EQ(old.client->GetNumberOfClient("IMG0", &count), PX_NOT_SUPPORTED);
    EXPECT_EQ(old.agent.Sends(), sends);
    EXPECT_EQ(count, 77u);

    Subscribed s(ImageParams(64, 48, 1, 1));
    s.agent.AddReply(AgentMakeNumberOfClientReply(3, 0));
    s.agent.AddReply(AgentMakeNumberOfClientReply(4, 2777));
    EXPECT_EQ(s.client->GetNumberOfClient("IMG0", &count), PX_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(s.client->GetNumberOfClient("IMG0", &count), 2777u);   // the agent's result
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(s.client->StickyError(), PX_OK);
}

TEST(ClientReplies, DescriptionResultFormatAndRegion)
{
    Subscribed s(ImageParams(640, 480, 1, 1));
    // Word 12 fails the request; word 10 changes the format.
    DataDesc failed = ImageDesc(640, 480);
    failed.dwWords[DATADESC_RESULT] = 4242;
    failed.dwWords[DATADESC_NEW_FORMAT] = 4096;
    failed.dwWords[DATADESC_SERIAL_LOW] = 5;
    failed.dwWords[DATADESC_SERIAL_HIGH] = 6;
    s.agent.AddData(failed, {});
    std::vector<uint8_t> image(640 * 480, 0);
    uint32_t received = 0, value[2] = {};
    EXPECT_EQ(s.client->GetTransferBufferData("IMG0", 1, image.data(), nullptr, &received), 4242u);
    EXPECT_EQ(s.client->GetTransferBufferDataDesc("IMG0", 2009, value), PX_OK);
    EXPECT_EQ(value[0], 5u);
    EXPECT_EQ(value[1], 6u);
    EXPECT_EQ(s.client->GetTransferBufferDataDesc("IMG0", 2013, nullptr), PX_ERROR);

    // x 10, y 20, 100 pixels, 2 rows, 1 band, 640 wide: bytes 12810..12909 and 13450..13549.
    DataDesc region = ImageDesc(100, 2);
    region.dwWords[DATADESC_REGION_X] = 10;
    region.dwWords[DATADESC_REGION_Y] = 20;
    region.dwWords[DATADESC_IS_REGION] = 1;
    region.dwWords[DATADESC_NEW_FORMAT] = 16;
    s.agent.AddData(region, std::vector<uint8_t>(200, 0xC3));
    EXPECT_EQ(s.client->GetTransferBufferData("IMG0", 1, image.data(), nullptr, &received), PX_OK);
    EXPECT_EQ(received, 1u);
    for (size_t i = 0; i < image.size(); ++i) {
        const bool written = (i >= 12810 && i <= 12909) || (i >= 13450 && i <= 13549);
        ASSERT_EQ(image[i], written ? 0xC3 : 0) << i;
    }
    EXPECT_EQ(s.client->GetTransferBufferInfo("IMG0", 1011, value), PX_OK);
    EXPECT_EQ(value[0], 16u);
}

TEST(ClientReplies, InfoItemsAndTimeouts)
{
    Subscribed s(ImageParams(64, 48, 1, 1));
    uint32_t value = 123;
    EXPECT_EQ(s.client->GetTransferBufferInfo("IMG0", 1008, &value), PX_OK);   // not an image item
    EXPECT_EQ(value, 123u);
    EXPECT_EQ(s.client->GetTransferBufferInfo("IMG0", 1004, &value), PX_OK);
    EXPECT_EQ(value, 64u);
    EXPECT_EQ(s.client->GetTransferBufferInfo("IMG0", 1004, nullptr), PX_ERROR);
    EXPECT_EQ(s.client->GetTimeout(&value), PX_OK);
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_EQ(s.client->SetTimeout(10), PX_NOT_SUPPORTED);

    // An input buffer has no record: only its type can be read.
    CScriptedAgent agent(kNewAgent);
    agent.AddReply(AgentMakeBufParamsReply(BUFTYPE_INPUT, kNewAgent));
    CClient input(&agent, "scripted", false, nullptr, kFast);
    EXPECT_EQ(input.SetTransferBuffer("INP0", 0), PX_OK);
    EXPECT_EQ(input.GetTransferBufferInfo("INP0", 1010, &value), PX_OK);
    EXPECT_EQ(value, 101u);
    uint32_t record[15] = {7};
    EXPECT_EQ(input.GetTransferBufferInfo("INP0", record), PX_OK);
    EXPECT_EQ(record[0], 7u);
    const char text[] = "hello";
    EXPECT_EQ(input.SendInput("INP0", 5, text), PX_OK);
    const AgentCommand sent = agent.Commands().back();
    EXPECT_EQ(sent.dwCommand, uint32_t{CMD_SEND_INPUT});
    EXPECT_EQ(sent.dwValue, 5u);
}

// Each reply below breaks a promise the client relies on: it is refused with 3000, kept, nothing
// more is read or sent, and the destination is not written.
TEST(ClientReplies, HostileRepliesAreRefusedAndKept)
{
    struct Case {
        const char* name;
        void (*script)(CScriptedAgent&);
    } cases[] = {
        {"description longer than 72 bytes",
         [](CScriptedAgent& a) {
             AgentReplyEnvelope e;
             e.dwCommand = CMD_GET_TRANSFER_BUFFER_DATA;
             e.dwPartASize = 8;
             e.dwPartBSize = 76;
             e.dwPartCSize = 64 * 48;
             a.Add(AgentEncodeReplyEnvelope(e));
             a.Add(std::vector<uint8_t>(8 + 76 + 64 * 48, 0));
         }},
        {"more data than the image holds",
         [](CScriptedAgent& a) { a.AddData(ImageDesc(64, 48), std::vector<uint8_t>(64 * 48 + 1)); }},
        {"region rows below the full image",
         [](CScriptedAgent& a) {
             DataDesc d = ImageDesc(64, 2);
             d.dwWords[DATADESC_REGION_Y] = 47;
             d.dwWords[DATADESC_IS_REGION] = 1;
             a.AddData(d, std::vector<uint8_t>(128));
         }},
        {"region wider than the image",
         [](CScriptedAgent& a) {
             DataDesc d = ImageDesc(60, 1);
             d.dwWords[DATADESC_REGION_X] = 8;
             d.dwWords[DATADESC_IS_REGION] = 1;
             a.AddData(d, std::vector<uint8_t>(60));
         }},
        {"region data shorter than the region",
         [](CScriptedAgent& a) {
             DataDesc d = ImageDesc(64, 2);
             d.dwWords[DATADESC_IS_REGION] = 1;
             a.AddData(d, std::vector<uint8_t>(100));
         }},
        {"total size smaller than the head",
         [](CScriptedAgent& a) {
             AgentReply r = AgentMakeDataReply(ImageDesc(64, 48), 0, kNewAgent);
             r.dwPartA[1] = 10;
             a.AddReply(r);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Subscribed s(ImageParams(64, 48, 1, 1));
        c.script(s.agent);
        const size_t unread = s.agent.Unread();
        std::vector<uint8_t> image(64 * 48, 0x22);
        uint32_t received = 3;
        EXPECT_EQ(s.client->GetTransferBufferData("IMG0", 1, image.data(), nullptr, &received), PX_COMM_ERROR);
        EXPECT_EQ(received, 0u);
        EXPECT_EQ(std::count(image.begin(), image.end(), 0x22), 64 * 48);
        EXPECT_EQ(s.client->StickyError(), PX_COMM_ERROR);
        EXPECT_LT(s.agent.Unread(), unread);
        const size_t sends = s.agent.Sends(), left = s.agent.Unread();
        uint32_t count = 0;
        EXPECT_EQ(s.client->GetTransferBufferData("IMG0", 1, image.data(), nullptr, &received), PX_COMM_ERROR);
        EXPECT_EQ(s.client->GetNumberOfClient("IMG0", &count), PX_COMM_ERROR);
        EXPECT_EQ(s.client->SetTransferBuffer("IMG0", 0), PX_COMM_ERROR);
        EXPECT_EQ(s.client->SendInput("IMG0", 1, "x"), PX_COMM_ERROR);
        s.client.reset();   // no good-bye either
        EXPECT_EQ(s.agent.Sends(), sends);
        EXPECT_EQ(s.agent.Unread(), left);
    }
}

TEST(ClientReplies, HostileInfoRecordsAreRefused)
{
    struct Case {
        const char* name;
        uint32_t type, partC;
    } cases[] = {{"record shorter than its type", BUFTYPE_IMAGE, 56},
                 {"record beyond any type", BUFTYPE_HISTOGRAM, 1u << 20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedAgent agent(kNewAgent);
        AgentReply r = AgentMakeBufParamsReply(c.type, kNewAgent);
        r.dwPartB[2] = c.type;
        r.dwPartCSize = c.partC;
        agent.AddReply(r, std::vector<uint8_t>(std::min<uint32_t>(c.partC, 4096)));
        CClient client(&agent, "scripted", false, nullptr, kFast);
        EXPECT_EQ(client.SetTransferBuffer("IMG0", 0), PX_COMM_ERROR);
        uint32_t record[15] = {}, value = 0;
        EXPECT_EQ(client.GetTransferBufferInfo("IMG0", record), PX_OK);
        EXPECT_EQ(client.GetTransferBufferInfo("IMG0", 1001, &value), PX_ERROR);
        std::vector<uint8_t> data(16);
        EXPECT_EQ(client.GetTransferBufferData("IMG0", 1, data.data(), record, &value), PX_COMM_ERROR);
    }
}

// A type outside the table is what an agent answers for an identifier it does not know: no
// record, the announced part C is read and dropped, the subscription goes through.
TEST(ClientReplies, UnknownTypeSubscribesWithoutARecord)
{
    CScriptedAgent agent(kNewAgent);
    AgentReply r = AgentMakeBufParamsReply(12, kNewAgent);
    r.dwPartCSize = 16;
    agent.AddReply(r, std::vector<uint8_t>(16, 0xEE));
    agent.AddReply(AgentMakeNumberOfClientReply(1, 0));
    CClient client(&agent, "scripted", false, nullptr, kFast);
    EXPECT_EQ(client.SetTransferBuffer("NOPE", 0), PX_OK);
    EXPECT_EQ(agent.Commands().back().dwCommand, uint32_t{CMD_SET_TRANSFER_BUFFER});
    uint32_t record[15] = {5}, value = 6;
    EXPECT_EQ(client.GetTransferBufferInfo("NOPE", record), PX_OK);
    EXPECT_EQ(record[0], 5u);
    EXPECT_EQ(client.GetTransferBufferInfo("NOPE", 1010, &value), PX_ERROR);
    EXPECT_EQ(value, 6u);
    EXPECT_EQ(client.GetNumberOfClient("NOPE", &value), PX_OK);
    EXPECT_EQ(agent.Unread(), 0u);
}
