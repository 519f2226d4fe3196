// The agent command protocol: the conversation's records (greeting, commands, envelopes, replies).
//
// netaccess/protocol/ is the one home of the wire format: this codec, the records of the buffers
// themselves (AgentRecords.h), the buffer identifier (BufferId.h) and the byte helpers
// (AgentBytes.h). It knows the records' numbers, sizes and layouts, and nothing else: no sockets,
// no threads, no state beyond the values handed in. Both ends use it. The client side (the agent
// connection of the exchange-buffer client and the agent channel, the watchdog and message links)
// builds commands with AgentMake*, encodes them with AgentEncodeCommand/AgentMakeEnvelope and
// decodes the replies (AgentDecodeHelloReply, AgentDecodeReplyEnvelope, AgentReplyPartSizes,
// AgentDecodeReplyParts). The simulator plays the agent: it decodes commands
// (AgentDecodeCommandHead, AgentDecodeCommand) and encodes replies (AgentMakeHelloReply,
// AgentMake*Reply, AgentEncodeReply).
//
// Every field travels as a 32-bit little-endian word unless said otherwise, and is written and
// read one field at a time (AgentBytes.h). Decoders never read past the bytes given and check
// every size, count and offset a peer announces before anyone uses it; they return an
// AgentResult code, never throw, and leave their outputs unspecified on failure. All functions are
// pure and may be called from any thread.
//
// Conversation: right after connecting, the client sends CMD_HELLO (never enveloped) and reads a
// 12-byte reply, plus a 48-byte extension when the reply's word 2 is 0xFFFFFFFF; the extension
// carries the agent's version. From then on the version decides everything: a new agent gets a
// 56-byte envelope before each command and answers with a 56-byte reply envelope followed by parts
// A, B and C; an old agent exchanges bare records of fixed sizes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "netaccess/protocol/AgentRecords.h"
#include "netaccess/protocol/BufferId.h"

namespace px::agent {

// ---- Versions ----------------------------------------------------------------------------------

constexpr uint32_t AgentVersion(uint32_t major, uint32_t minor, uint32_t build)
{
    return ((major & 0xFFu) << 24) | ((minor & 0xFFu) << 16) | (build & 0xFFFFu);
}

constexpr uint32_t kPellixVersion = 0x04000160u;              // 4.0.352, sent in CMD_HELLO
constexpr uint32_t kAgentDefaultVersion = 0x01010000u;        // assumed until the greeting says otherwise
constexpr uint32_t kAgentEnvelopeVersion = 0x02020000u;       // 2.2.0: envelopes from here on
constexpr uint32_t kAgentResourceCheckVersion = 0x03000155u;  // 3.0.341: CMD_VERIFY_RESOURCES known
constexpr uint32_t kAgentListChangedVersion = 0x040000C5u;    // 4.0.197: buffer-list-changed event
constexpr uint32_t kAgentWatchdogIdVersion = 0x040000FEu;     // 4.0.254: watchdog identity, 304-byte subscription

// Version 0 is an agent too new to number itself: it is treated as the newest.
inline bool AgentUsesEnvelopes(uint32_t version) { return version == 0 || version >= kAgentEnvelopeVersion; }
// A known version (not 0) below 3.0.341 cannot check resources.
inline bool AgentHasResourceCheck(uint32_t version) { return version == 0 || version >= kAgentResourceCheckVersion; }
inline bool AgentHasListChangedEvent(uint32_t version) { return version >= kAgentListChangedVersion; }
inline bool AgentWantsWatchdogId(uint32_t version) { return version == 0 || version >= kAgentWatchdogIdVersion; }

// ---- Commands ----------------------------------------------------------------------------------

enum AgentCommandNumber : uint32_t {
    CMD_HELLO = 101,
    CMD_BYE = 102,
    CMD_SET_TRANSFER_BUFFER = 103,
    CMD_GET_TRANSFER_BUFFER_DATA = 125,
    CMD_GET_BUF_PARAMS = 126,
    CMD_SET_BUF_PARAMS = 127,
    CMD_SEND_INPUT = 128,
    CMD_GET_BUFFER_LIST = 129,
    CMD_FORCE_TRANSFER = 130,
    CMD_VERIFY_RESOURCES = 131,
    CMD_GET_NUMBER_OF_CLIENT = 133,
};
// "CMD_HELLO" ... ; "CMD_UNKNOWN" for any other number.
const char* AgentCommandName(uint32_t command);
// Whether the agent answers the command (CMD_HELLO included).
bool AgentCommandHasReply(uint32_t command);

constexpr size_t kAgentCommandHeadSize = 8;           // command number, record size
constexpr size_t kAgentHelloSize = 12;
constexpr size_t kAgentByeSize = 12;
constexpr uint32_t kAgentByeValue = 6789;
constexpr size_t kAgentClientNameSize = 256;          // NUL-padded characters
constexpr size_t kAgentSubscriptionSize = 272;        // CMD_SET_TRANSFER_BUFFER
constexpr size_t kAgentSubscriptionIdSize = 304;      // ... with the watchdog identity and 28 zero bytes
constexpr size_t kAgentDataRequestSize = 16;          // CMD_GET_TRANSFER_BUFFER_DATA
constexpr size_t kAgentGetBufParamsSize = 12;
constexpr size_t kAgentSetBufParamsHeadSize = 12;     // the info record follows
constexpr size_t kAgentSendInputHeadSize = 16;        // the input bytes follow
constexpr size_t kAgentGetBufferListSize = 12;
constexpr size_t kAgentForceTransferSize = 12;
constexpr size_t kAgentVerifyResourcesSize = 16;
constexpr size_t kAgentGetNumberOfClientSize = 8;
constexpr size_t kAgentMaxCommandRecordSize = kAgentSubscriptionIdSize;  // largest fixed part

// One command record, both for building (client) and for decoding (agent). Which fields mean
// something depends on dwCommand; see AgentMake* below.
struct AgentCommand {
    uint32_t dwCommand = 0;
    // Record size word. For CMD_SET_BUF_PARAMS and CMD_SEND_INPUT it also counts what follows the
    // fixed part (the info record, the input bytes).
    uint32_t dwSize = 0;
    BufferId bufferId;           // 103, 125, 126, 127, 128, 130
    // CMD_HELLO: version; CMD_BYE: 6789; 103: wait-for-update flag; 125: force flag;
    // 128: input size; 129: 0; 131: the 16-bit resource number (the buffer's port).
    uint32_t dwValue = 0;
    bool bWithWatchdogId = false;  // 103: the 304-byte form
    uint32_t dwWatchdogId = 0;     // 103, 304-byte form
    char szClientName[kAgentClientNameSize + 1] = {};  // 103; always NUL-terminated here
    uint32_t dwInfoSize = 0;       // 127: bytes in byInfo
    uint8_t byInfo[60] = {};       // 127: the info record as it travels
};

AgentCommand AgentMakeHello(uint32_t version = kPellixVersion);
AgentCommand AgentMakeBye();
// The 304-byte form carries the watchdog identity when the agent wants it (AgentWantsWatchdogId).
// clientName is cut to 256 characters; null gives an empty name.
AgentCommand AgentMakeSetTransferBuffer(BufferId bufferId, uint32_t waitForUpdate, const char* clientName,
                                        uint32_t agentVersion, uint32_t watchdogId);
AgentCommand AgentMakeGetData(BufferId bufferId, uint32_t force);
AgentCommand AgentMakeGetBufParams(BufferId bufferId);
// info: the info record bytes as they travel (at most 60; more fails AGENT_BAD_SIZE).
uint32_t AgentMakeSetBufParams(BufferId bufferId, const uint8_t* info, size_t infoSize, AgentCommand* out);
AgentCommand AgentMakeSendInput(BufferId bufferId, uint32_t inputSize);
AgentCommand AgentMakeGetBufferList();
AgentCommand AgentMakeForceTransfer(BufferId bufferId);
AgentCommand AgentMakeVerifyResources(uint16_t resource);
AgentCommand AgentMakeGetNumberOfClient();

// Writes the command record: its fixed part and, for CMD_SET_BUF_PARAMS, the info record. The
// input bytes of CMD_SEND_INPUT are not written; they follow the 16 bytes written here.
uint32_t AgentEncodeCommand(const AgentCommand& command, uint8_t* out, size_t capacity, size_t* written);

// The greeting as it travels: 65 00 00 00 0C 00 00 00 60 01 00 04 for the component's version.
std::array<uint8_t, kAgentHelloSize> AgentEncodeHello(uint32_t version = kPellixVersion);

// ---- Agent side: reading commands ----------------------------------------------------------------

// What the first 8 bytes of a record tell the agent: how many more bytes to read.
struct AgentCommandHead {
    uint32_t dwCommand = 0;
    uint32_t dwSize = 0;          // record size word
    uint32_t dwFixedSize = 0;     // bytes of the record proper (the 8 head bytes included)
    uint32_t dwTrailingSize = 0;  // bytes after the fixed part: the info record (127), the input (128)
};
// Checks the command number and its size word: the fixed commands must carry their exact size
// (CMD_SET_TRANSFER_BUFFER 272 or 304), CMD_SET_BUF_PARAMS at most a 60-byte info record and
// CMD_SEND_INPUT at most maxInputSize input bytes.
uint32_t AgentDecodeCommandHead(const uint8_t* data, size_t size, uint32_t maxInputSize, AgentCommandHead* head);
// Decodes a whole record: the fixed part and, for CMD_SET_BUF_PARAMS, the info record (so size
// must be at least dwFixedSize + the info size; for CMD_SEND_INPUT only the 16-byte fixed part is
// read and the input bytes, dwValue of them, are the caller's to read after it).
uint32_t AgentDecodeCommand(const uint8_t* data, size_t size, uint32_t maxInputSize, AgentCommand* command);

// ---- Envelopes ---------------------------------------------------------------------------------

constexpr size_t kAgentEnvelopeSize = 56;
constexpr size_t kAgentReplyEnvelopeSize = 56;

// Sent before each command (except CMD_HELLO) to a new agent.
struct AgentEnvelope {
    uint32_t dwCommand = 0;
    uint32_t dwEnvelopeSize = kAgentEnvelopeSize;
    uint32_t dwFirstPartSize = kAgentCommandHeadSize;  // the number and size words
    uint32_t dwRestSize = 0;                            // rest of the fixed record
    uint32_t dwDataSize = 0;                            // CMD_SEND_INPUT: input size; else 0
};
AgentEnvelope AgentMakeEnvelope(const AgentCommand& command);
std::array<uint8_t, kAgentEnvelopeSize> AgentEncodeEnvelope(const AgentEnvelope& envelope);
// Word 1 must be 56; words 5 to 13 are not looked at.
uint32_t AgentDecodeEnvelope(const uint8_t* data, size_t size, AgentEnvelope* envelope);
// Whether an envelope belongs to the command record that followed it (number and sizes agree).
uint32_t AgentCheckEnvelope(const AgentEnvelope& envelope, const AgentCommandHead& head);

// Sent by a new agent before each reply (CMD_HELLO excepted).
struct AgentReplyEnvelope {
    uint32_t dwCommand = 0;         // word 0, not interpreted by the component
    uint32_t dwEnvelopeSize = kAgentReplyEnvelopeSize;  // word 1, not interpreted by the component
    uint32_t dwPartASize = 0;       // word 2
    uint32_t dwPartBSize = 0;       // word 3
    uint32_t dwPartCSize = 0;       // word 4; CMD_GET_BUFFER_LIST: the number of records
    uint32_t dwRecordSize = 0;      // word 5; CMD_GET_BUFFER_LIST only
};
std::array<uint8_t, kAgentReplyEnvelopeSize> AgentEncodeReplyEnvelope(const AgentReplyEnvelope& envelope);
uint32_t AgentDecodeReplyEnvelope(const uint8_t* data, size_t size, AgentReplyEnvelope* envelope);

// ---- Greeting reply ------------------------------------------------------------------------------

constexpr size_t kAgentHelloReplySize = 12;
constexpr size_t kAgentHelloExtensionSize = 48;
constexpr uint32_t kAgentHelloExtensionMark = 0xFFFFFFFFu;  // reply word 2: the extension follows

struct AgentHelloReply {
    uint32_t dwWord0 = 0, dwWord1 = 0;  // not interpreted by the component
    uint32_t dwWord2 = 0;               // after the extension: the extension's word 2
    bool bExtended = false;             // the reply announced the extension
    uint32_t dwAgentVersion = kAgentDefaultVersion;  // the extension's word 3, else the default
};
// The reply an agent of this version sends; with extended false (agents of 1.1.0) no extension
// follows and the component keeps its default version.
AgentHelloReply AgentMakeHelloReply(uint32_t agentVersion, bool extended);
std::array<uint8_t, kAgentHelloReplySize> AgentEncodeHelloReply(const AgentHelloReply& reply);
std::array<uint8_t, kAgentHelloExtensionSize> AgentEncodeHelloExtension(const AgentHelloReply& reply);
// The 12-byte reply; bExtended tells whether 48 more bytes are to be read.
uint32_t AgentDecodeHelloReply(const uint8_t* data, size_t size, AgentHelloReply* reply);
// The 48-byte extension: takes word 2 and the agent's version from it.
uint32_t AgentDecodeHelloExtension(const uint8_t* data, size_t size, AgentHelloReply* reply);

// ---- Replies -------------------------------------------------------------------------------------

constexpr size_t kAgentReplyPartASize = 8;
// Old agents (no reply envelope) reply with these fixed sizes.
constexpr size_t kAgentOldDataReplyBSize = 32;     // 125: the first 8 words of the description
constexpr size_t kAgentOldBufParamsReplyBSize = 12;
constexpr size_t kAgentOldBufferListReplyBSize = 4;
constexpr size_t kAgentOldVerifyReplyBSize = 8;
// Limits on what a peer may announce. Parts A and B are small records; a buffer list cannot hold
// more buffers than there are ports; a list record is at least 540 bytes (shorter ones never came
// from a served agent and are refused) and at most a generous 64 KiB.
constexpr uint32_t kAgentMaxReplyPartSize = 4096;
constexpr uint32_t kAgentMaxBufferListCount = 65535;
constexpr uint32_t kAgentMaxListRecordSize = 65536;
// Largest data reply a client reads and drops when it outgrew the place made for it (the buffer's
// window or format changed under the client): anything larger is refused unread.
constexpr uint32_t kAgentMaxDrainSize = 64u << 20;
constexpr size_t kAgentMaxReplyHeadSize = kAgentReplyEnvelopeSize + kAgentReplyPartASize + kAgentDataDescSize;

// A reply's parts A and B as words, and the size of its part C.
struct AgentReply {
    uint32_t dwCommand = 0;
    uint32_t dwPartA[2] = {};      // 125: word 1 is the total size of parts A, B and C
    uint32_t dwPartASize = kAgentReplyPartASize;
    uint32_t dwPartB[kAgentDataDescWords] = {};  // the first words of part B (at most 18 are kept)
    uint32_t dwPartBSize = 0;      // bytes of part B as it travels
    uint32_t dwPartCSize = 0;      // bytes of part C (129: count × record size)
    uint32_t dwRecordCount = 0;    // 129: part B word 0
    uint32_t dwRecordSize = 0;     // 129: bytes of each record as it travels
};

// Agent side: the replies, sized for the agent's own version (old agents use the fixed sizes).
// AgentEncodeReply then writes the reply envelope (new agents), part A and part B; part C (data,
// info record, list records) is the caller's to send after it. A simulator may change any field
// before encoding to send a broken reply on purpose.
AgentReply AgentMakeDataReply(const DataDesc& desc, uint32_t dataSize, uint32_t agentVersion);
AgentReply AgentMakeBufParamsReply(uint32_t bufferType, uint32_t agentVersion);
AgentReply AgentMakeBufferListReply(uint32_t count, uint32_t agentVersion);
AgentReply AgentMakeVerifyResourcesReply(uint32_t answer);
AgentReply AgentMakeNumberOfClientReply(uint32_t count, uint32_t status);
uint32_t AgentEncodeReply(const AgentReply& reply, uint32_t agentVersion, uint8_t* out, size_t capacity,
                          size_t* written);

// Client side, step 1: the sizes of parts A and B, from the reply envelope for a new agent (null
// for an old one). A CMD_GET_NUMBER_OF_CLIENT reply from an old agent is AGENT_BAD_COMMAND.
uint32_t AgentReplyPartSizes(uint32_t command, uint32_t agentVersion, const AgentReplyEnvelope* envelope,
                             uint32_t* partASize, uint32_t* partBSize);
// Step 2, after reading parts A and B (of the sizes of step 1): their words, and the size of
// part C: 125 from part A word 1 (old agents, and new ones announcing 0), 126 from the type's
// info record (old agents, and new ones announcing 0), 129 from part B word 0 and the record size.
// The data size of a 125 reply is only known not to wrap: the caller checks it against the place
// the data is to go before reading it.
uint32_t AgentDecodeReplyParts(uint32_t command, uint32_t agentVersion, const AgentReplyEnvelope* envelope,
                               const uint8_t* partA, size_t partASize, const uint8_t* partB, size_t partBSize,
                               AgentReply* reply);

} // namespace px::agent
