// The agent command protocol: every record that the component and the camera's agent exchange.
//
// This is the one place that knows the records' numbers, sizes and layouts, and it knows nothing
// else: no sockets, no threads, no state beyond the values handed in. Both ends use it. The client
// side (exchange-buffer client, agent channel, watchdog and message links) builds commands with
// AgentMake*, encodes them with AgentEncodeCommand/AgentMakeEnvelope and decodes the replies
// (AgentDecodeHelloReply, AgentDecodeReplyEnvelope, AgentReplyPartSizes, AgentDecodeReplyParts).
// The simulator plays the agent: it decodes commands (AgentDecodeCommandHead, AgentDecodeCommand)
// and encodes replies (AgentMakeHelloReply, AgentMake*Reply, AgentEncodeReply).
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

namespace px::agent {

// ---- Results of the codec ------------------------------------------------------------------------

enum AgentResult : uint32_t {
    AGENT_OK = 0,
    AGENT_TRUNCATED = 1,       // fewer bytes given than the record needs
    AGENT_NO_ROOM = 2,         // the output buffer is too small
    AGENT_BAD_SIZE = 3,        // a size word or announced size is impossible or too large
    AGENT_BAD_COMMAND = 4,     // unknown command number, or a command without that form
    AGENT_BAD_VALUE = 5,       // a field holds a value the record does not allow
    AGENT_BAD_TYPE = 6,        // a buffer type outside the known types
    AGENT_OUT_OF_BOUNDS = 7,   // a region does not lie inside the image or the data
};
const char* AgentResultText(uint32_t result);

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
    uint32_t dwBufferId = 0;     // 103, 125, 126, 127, 128, 130
    // CMD_HELLO: version; CMD_BYE: 6789; 103: wait-for-update flag; 125: force flag;
    // 128: input size; 129: 0; 131: the 16-bit resource number (the buffer's port).
    uint32_t dwValue = 0;
    bool bWithWatchdogId = false;  // 103: the 304-byte form
    uint32_t dwWatchdogId = 0;     // 103, 304-byte form
    char szClientName[kAgentClientNameSize + 1] = {};  // 103; always NUL-terminated here
    uint32_t dwInfoSize = 0;       // 127: bytes in byInfo
    uint8_t byInfo[60] = {};       // 127: the info record as it travels
};

// Buffer identifiers: 4 characters in one word, the first character in the lowest byte, so that
// written little-endian they go out first character first. A shorter text is padded with 0.
uint32_t AgentBufferId(const char* text);
// The 4 characters, NUL-terminated in out.
void AgentBufferIdText(uint32_t id, char out[5]);

AgentCommand AgentMakeHello(uint32_t version = kPellixVersion);
AgentCommand AgentMakeBye();
// The 304-byte form carries the watchdog identity when the agent wants it (AgentWantsWatchdogId).
// clientName is cut to 256 characters; null gives an empty name.
AgentCommand AgentMakeSetTransferBuffer(uint32_t bufferId, uint32_t waitForUpdate, const char* clientName,
                                        uint32_t agentVersion, uint32_t watchdogId);
AgentCommand AgentMakeGetData(uint32_t bufferId, uint32_t force);
AgentCommand AgentMakeGetBufParams(uint32_t bufferId);
// info: the info record bytes as they travel (at most 60; more fails AGENT_BAD_SIZE).
uint32_t AgentMakeSetBufParams(uint32_t bufferId, const uint8_t* info, size_t infoSize, AgentCommand* out);
AgentCommand AgentMakeSendInput(uint32_t bufferId, uint32_t inputSize);
AgentCommand AgentMakeGetBufferList();
AgentCommand AgentMakeForceTransfer(uint32_t bufferId);
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
constexpr size_t kAgentDataDescSize = 72;          // DataDesc, 18 words
constexpr size_t kAgentDataDescWords = 18;
constexpr size_t kAgentBufferListEntrySize = 540;  // BufferListEntry
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
struct DataDesc;
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

// ---- Data description ------------------------------------------------------------------------------

// Words of the data description (part B of a CMD_GET_TRANSFER_BUFFER_DATA reply).
enum DataDescWord : uint32_t {
    DATADESC_REGION_WIDTH = 3,   // width of the delivered region in pixels
    DATADESC_REGION_ROWS = 4,
    DATADESC_REGION_X = 5,
    DATADESC_REGION_Y = 6,
    DATADESC_IS_REGION = 7,      // 1: the data is only that region of the image
    DATADESC_SERIAL_LOW = 8,     // words 8 and 9: one 64-bit serial counter
    DATADESC_SERIAL_HIGH = 9,
    DATADESC_NEW_FORMAT = 10,    // not 0: the buffer's new image format code
    DATADESC_SYNC_DELIVERY = 11, // asks the receiver to process each data before the next
    DATADESC_RESULT = 12,        // new agents: the agent's result code
};

struct DataDesc {
    uint32_t dwWords[kAgentDataDescWords] = {};
};
// Up to 72 bytes; missing words are 0, so an old agent's 32 bytes decode too. More than 72 bytes
// is AGENT_BAD_SIZE (the description has no room for them).
uint32_t AgentDecodeDataDesc(const uint8_t* data, size_t size, DataDesc* desc);
// Writes the first size bytes (a multiple of 4, at most 72) of the description.
uint32_t AgentEncodeDataDesc(const DataDesc& desc, size_t size, uint8_t* out, size_t capacity);
// Parameter 2001 to 2012: parameter 2000 + n reads word n - 1, and 2009 the two words 8 and 9
// (values[1] is written only then, *count tells how many). False for other parameters.
bool DataDescItem(const DataDesc& desc, uint32_t parameter, uint32_t values[2], uint32_t* count);

// Region placement: a region reply (image buffer, word 7 equal to 1) carries rows × width pixels
// of bands bytes each; row r goes to byte ((y + r) × imageWidth + x) × bands of the full image
// and nothing else of the image is written. Refused (AGENT_OUT_OF_BOUNDS, nothing written) when
// the region does not lie inside the image width and the destination, or the data is shorter
// than the region.
struct AgentRegion {
    uint32_t dwX = 0, dwY = 0, dwWidth = 0, dwRows = 0;
};
AgentRegion AgentRegionOf(const DataDesc& desc);
uint32_t AgentPlaceRegion(const AgentRegion& region, uint32_t bands, uint32_t imageWidth, const uint8_t* data,
                          size_t dataSize, uint8_t* image, size_t imageSize);

// ---- Buffer list -----------------------------------------------------------------------------------

struct BufferListEntry {
    uint32_t dwBufferId = 0;   // word 0, 4 characters
    uint32_t dwType = 0;       // word 1
    uint16_t usPort = 0;       // bytes 8 and 9
    char szProcessName[257] = {};  // bytes 10 to 265, NUL-terminated here
    char szText[269] = {};         // from byte 272, zero-terminated text (cut at the record's end)
};
uint32_t AgentDecodeBufferListEntry(const uint8_t* data, size_t size, BufferListEntry* entry);
// Writes 540 bytes (names cut to their fields, the rest zero).
uint32_t AgentEncodeBufferListEntry(const BufferListEntry& entry, uint8_t* out, size_t capacity);

// ---- Info records (BufParams) ------------------------------------------------------------------------

enum BufferType : uint32_t {
    BUFTYPE_IMAGE = 1,
    BUFTYPE_HISTOGRAM = 6,
    BUFTYPE_TEXT = 5,
    BUFTYPE_ARRAY = 11,
    BUFTYPE_INPUT = 101,
};

// Information items (parameters of the info record).
enum BufParamsItem : uint32_t {
    ITEM_DATA_SIZE = 1001,
    ITEM_SIZE_X = 1002,
    ITEM_SIZE_Y = 1003,
    ITEM_FULL_SIZE_X = 1004,
    ITEM_FULL_SIZE_Y = 1005,
    ITEM_OFFSET_X = 1006,
    ITEM_OFFSET_Y = 1007,
    ITEM_1008 = 1008,          // word 1 of types 2, 6, 7, 8, 9, 10
    ITEM_NUM_BANDS = 1009,
    ITEM_BUFFER_TYPE = 1010,
    ITEM_IMAGE_FORMAT = 1011,
    ITEM_SUBSECTION = 1012,    // subsection mode, passed through
};

// Words of the image record (type 1); words 0, 1, 4, 5 and 13 have no item.
enum ImageParamsWord : uint32_t {
    IMAGE_FULL_SIZE_X = 2,
    IMAGE_FULL_SIZE_Y = 3,
    IMAGE_DATA_SIZE = 6,
    IMAGE_NUM_BANDS = 7,
    IMAGE_OFFSET_X = 8,
    IMAGE_OFFSET_Y = 9,
    IMAGE_SIZE_X = 10,
    IMAGE_SIZE_Y = 11,
    IMAGE_SUBSECTION = 12,
    IMAGE_FORMAT = 14,
};

constexpr size_t kBufParamsMaxSize = 60;
constexpr size_t kBufParamsMaxWords = 15;

// Size of a type's info record: 60 (1), 12 (2, 7, 8, 9), 16 (3, 4, 5, 11), 8 (6, 10), 0 (101).
// False for any other type.
bool BufParamsSize(uint32_t type, uint32_t* size);
// Bytes per pixel of an image format for the data size: 4096 gives 2, 16 gives 3, 256 gives 4,
// any other code 1.
uint32_t BufParamsBytesPerPixel(uint32_t format);

struct BufParams {
    uint32_t dwType = 0;
    uint32_t dwSize = 0;                       // bytes of the record for dwType
    uint32_t dwWords[kBufParamsMaxWords] = {}; // only the first dwSize / 4 mean something
};
// A zeroed record of the type; AGENT_BAD_TYPE for an unknown type.
uint32_t BufParamsInit(uint32_t type, BufParams* params);
// Reads the type's record (size must hold it; extra bytes are ignored).
uint32_t AgentDecodeBufParams(uint32_t type, const uint8_t* data, size_t size, BufParams* params);
uint32_t AgentEncodeBufParams(const BufParams& params, uint8_t* out, size_t capacity, size_t* written);
// The word an item is kept in for a type (1010, the type itself, has none): false when the type
// does not have the item.
bool BufParamsItemWord(uint32_t type, uint32_t item, uint32_t* word);
// The value of an item (1010 gives the type); false when the type does not have it.
bool BufParamsItem(const BufParams& params, uint32_t item, uint32_t* value);

// ---- Watchdog and message-link messages ------------------------------------------------------------

constexpr size_t kAgentMessageSize = 8;

enum AgentMessageCode : uint32_t {
    WD_START = 0,
    WD_CHECK = 1,
    WD_SIGNAL = 2,
    WD_SET_DELAY = 3,
    MSG_BUFFER_LIST_CHANGED = 5,
    WD_GET_ID = 6,
};
// "WD_START" ... ; "MSG_UNKNOWN" for any other code.
const char* AgentMessageName(uint32_t code);

// Word 0 a value, word 1 the code.
struct AgentMessage {
    uint32_t dwValue = 0;
    uint32_t dwCode = 0;
};
std::array<uint8_t, kAgentMessageSize> AgentEncodeMessage(const AgentMessage& message);
// Any code decodes (the reader decides what it expects); only the size is checked.
uint32_t AgentDecodeMessage(const uint8_t* data, size_t size, AgentMessage* message);

} // namespace px::agent
