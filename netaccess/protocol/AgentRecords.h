// The records of the agent protocol that describe buffers and their data: the data description,
// region placement, buffer-list entries, the info records of each buffer type, and the 8-byte
// watchdog and message-link messages; and the codec's result codes. Pure functions over
// caller-owned bytes, callable from any thread (see AgentProtocol.h for the conversation).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "netaccess/protocol/BufferId.h"

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

// ---- Sizes -----------------------------------------------------------------------------------------

constexpr size_t kAgentDataDescSize = 72;          // DataDesc, 18 words
constexpr size_t kAgentDataDescWords = 18;
constexpr size_t kAgentBufferListEntrySize = 540;  // BufferListEntry

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
    BufferId bufferId;         // word 0, 4 characters
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
