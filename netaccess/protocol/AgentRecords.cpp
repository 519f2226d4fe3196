// The records that describe buffers and their data (see AgentRecords.h).
#include <cstring>

#include "netaccess/protocol/AgentBytes.h"
#include "netaccess/protocol/AgentRecords.h"

namespace px::agent {

const char* AgentResultText(uint32_t result)
{
    switch (result) {
    case AGENT_OK: return "no error";
    case AGENT_TRUNCATED: return "record truncated";
    case AGENT_NO_ROOM: return "no room for the record";
    case AGENT_BAD_SIZE: return "impossible size";
    case AGENT_BAD_COMMAND: return "unknown command";
    case AGENT_BAD_VALUE: return "value not allowed";
    case AGENT_BAD_TYPE: return "unknown buffer type";
    case AGENT_OUT_OF_BOUNDS: return "region outside the image";
    default: return "unknown result";
    }
}

// ---- Data description -------------------------------------------------------------------------------

uint32_t AgentDecodeDataDesc(const uint8_t* data, size_t size, DataDesc* desc)
{
    if (!desc)
        return AGENT_NO_ROOM;
    if (size > kAgentDataDescSize)
        return AGENT_BAD_SIZE;
    DataDesc d;
    CByteReader r(data, size);
    for (size_t i = 0; i < kAgentDataDescWords && r.Remaining() >= 4; ++i)
        d.dwWords[i] = r.U32();
    if (!r.Ok())
        return AGENT_TRUNCATED;
    *desc = d;
    return AGENT_OK;
}

uint32_t AgentEncodeDataDesc(const DataDesc& desc, size_t size, uint8_t* out, size_t capacity)
{
    if (size > kAgentDataDescSize || size % 4 != 0)
        return AGENT_BAD_SIZE;
    CByteWriter w(out, capacity);
    for (size_t i = 0; i < size / 4; ++i)
        w.U32(desc.dwWords[i]);
    return w.Ok() ? AGENT_OK : AGENT_NO_ROOM;
}

bool DataDescItem(const DataDesc& desc, uint32_t parameter, uint32_t values[2], uint32_t* count)
{
    if (parameter < 2001 || parameter > 2012 || !values)
        return false;
    const uint32_t word = parameter - 2001;
    values[0] = desc.dwWords[word];
    uint32_t n = 1;
    if (parameter == 2009) {
        values[1] = desc.dwWords[DATADESC_SERIAL_HIGH];
        n = 2;
    }
    if (count)
        *count = n;
    return true;
}

// ---- Region placement -------------------------------------------------------------------------------

AgentRegion AgentRegionOf(const DataDesc& desc)
{
    AgentRegion r;
    r.dwX = desc.dwWords[DATADESC_REGION_X];
    r.dwY = desc.dwWords[DATADESC_REGION_Y];
    r.dwWidth = desc.dwWords[DATADESC_REGION_WIDTH];
    r.dwRows = desc.dwWords[DATADESC_REGION_ROWS];
    return r;
}

uint32_t AgentPlaceRegion(const AgentRegion& region, uint32_t bands, uint32_t imageWidth, const uint8_t* data,
                          size_t dataSize, uint8_t* image, size_t imageSize)
{
    // 64-bit arithmetic: every factor is a 32-bit claim of the peer, no product can wrap.
    const uint64_t rowBytes = uint64_t{region.dwWidth} * bands;
    const uint64_t regionBytes = rowBytes * region.dwRows;
    if (uint64_t{region.dwX} + region.dwWidth > imageWidth)
        return AGENT_OUT_OF_BOUNDS;
    if (regionBytes > dataSize)
        return AGENT_OUT_OF_BOUNDS;
    if (regionBytes == 0)
        return AGENT_OK;
    if (!data || !image)
        return AGENT_OUT_OF_BOUNDS;
    // The last row ends at ((y + rows - 1) × width + x + regionWidth) × bands.
    const uint64_t lastRow = uint64_t{region.dwY} + region.dwRows - 1;
    const uint64_t end = ((lastRow * imageWidth + region.dwX) + region.dwWidth) * bands;
    if (end > imageSize)
        return AGENT_OUT_OF_BOUNDS;
    for (uint32_t r = 0; r < region.dwRows; ++r) {
        const uint64_t at = ((uint64_t{region.dwY} + r) * imageWidth + region.dwX) * bands;
        memcpy(image + at, data + r * rowBytes, static_cast<size_t>(rowBytes));
    }
    return AGENT_OK;
}

// ---- Buffer list --------------------------------------------------------------------------------------

namespace {

constexpr size_t kProcessNameOffset = 10;
constexpr size_t kProcessNameSize = 256;
constexpr size_t kTextOffset = 272;
constexpr size_t kTextSize = kAgentBufferListEntrySize - kTextOffset;

} // namespace

uint32_t AgentDecodeBufferListEntry(const uint8_t* data, size_t size, BufferListEntry* entry)
{
    if (!entry)
        return AGENT_NO_ROOM;
    if (size < kAgentBufferListEntrySize || !data)
        return AGENT_TRUNCATED;
    CByteReader r(data, kAgentBufferListEntrySize);
    BufferListEntry e;
    e.bufferId = BufferId::FromWire(r.U32());
    e.dwType = r.U32();
    e.usPort = r.U16();
    r.Bytes(e.szProcessName, kProcessNameSize);
    e.szProcessName[kProcessNameSize] = '\0';
    r.Seek(kTextOffset);
    r.Bytes(e.szText, kTextSize);
    e.szText[kTextSize] = '\0';
    if (!r.Ok())
        return AGENT_TRUNCATED;
    *entry = e;
    return AGENT_OK;
}

uint32_t AgentEncodeBufferListEntry(const BufferListEntry& entry, uint8_t* out, size_t capacity)
{
    CByteWriter w(out, capacity);
    w.U32(entry.bufferId.Wire());
    w.U32(entry.dwType);
    w.U16(entry.usPort);
    const size_t nameLength = strnlen(entry.szProcessName, kProcessNameSize);
    w.Bytes(entry.szProcessName, nameLength);
    w.Zeros(kTextOffset - kProcessNameOffset - nameLength);
    // Keep one byte for the terminating zero of the second text.
    const size_t textLength = strnlen(entry.szText, kTextSize - 1);
    w.Bytes(entry.szText, textLength);
    w.Zeros(kTextSize - textLength);
    return w.Ok() ? AGENT_OK : AGENT_NO_ROOM;
}

// ---- Info records ---------------------------------------------------------------------------------------

bool BufParamsSize(uint32_t type, uint32_t* size)
{
    uint32_t s = 0;
    switch (type) {
    case 1: s = 60; break;
    case 2: case 7: case 8: case 9: s = 12; break;
    case 3: case 4: case 5: case 11: s = 16; break;
    case 6: case 10: s = 8; break;
    case 101: s = 0; break;
    default: return false;
    }
    if (size)
        *size = s;
    return true;
}

uint32_t BufParamsBytesPerPixel(uint32_t format)
{
    switch (format) {
    case 4096: return 2;
    case 16: return 3;
    case 256: return 4;
    default: return 1;
    }
}

uint32_t BufParamsInit(uint32_t type, BufParams* params)
{
    if (!params)
        return AGENT_NO_ROOM;
    uint32_t size = 0;
    if (!BufParamsSize(type, &size))
        return AGENT_BAD_TYPE;
    *params = BufParams{};
    params->dwType = type;
    params->dwSize = size;
    return AGENT_OK;
}

uint32_t AgentDecodeBufParams(uint32_t type, const uint8_t* data, size_t size, BufParams* params)
{
    BufParams p;
    if (uint32_t e = BufParamsInit(type, &p))
        return e;
    if (!params)
        return AGENT_NO_ROOM;
    if (size < p.dwSize)
        return AGENT_TRUNCATED;
    CByteReader r(data, size);
    for (size_t i = 0; i < p.dwSize / 4; ++i)
        p.dwWords[i] = r.U32();
    if (!r.Ok())
        return AGENT_TRUNCATED;
    *params = p;
    return AGENT_OK;
}

uint32_t AgentEncodeBufParams(const BufParams& params, uint8_t* out, size_t capacity, size_t* written)
{
    uint32_t size = 0;
    if (!BufParamsSize(params.dwType, &size))
        return AGENT_BAD_TYPE;
    if (params.dwSize != size)
        return AGENT_BAD_SIZE;
    CByteWriter w(out, capacity);
    for (size_t i = 0; i < size / 4; ++i)
        w.U32(params.dwWords[i]);
    if (!w.Ok())
        return AGENT_NO_ROOM;
    if (written)
        *written = w.Position();
    return AGENT_OK;
}

bool BufParamsItemWord(uint32_t type, uint32_t item, uint32_t* word)
{
    int w = -1;
    switch (type) {
    case 1:
        switch (item) {
        case ITEM_FULL_SIZE_X: w = IMAGE_FULL_SIZE_X; break;
        case ITEM_FULL_SIZE_Y: w = IMAGE_FULL_SIZE_Y; break;
        case ITEM_DATA_SIZE: w = IMAGE_DATA_SIZE; break;
        case ITEM_NUM_BANDS: w = IMAGE_NUM_BANDS; break;
        case ITEM_OFFSET_X: w = IMAGE_OFFSET_X; break;
        case ITEM_OFFSET_Y: w = IMAGE_OFFSET_Y; break;
        case ITEM_SIZE_X: w = IMAGE_SIZE_X; break;
        case ITEM_SIZE_Y: w = IMAGE_SIZE_Y; break;
        case ITEM_SUBSECTION: w = IMAGE_SUBSECTION; break;
        case ITEM_IMAGE_FORMAT: w = IMAGE_FORMAT; break;
        }
        break;
    case 2: case 7: case 8: case 9: case 6: case 10:
        if (item == ITEM_DATA_SIZE)
            w = 0;
        else if (item == ITEM_1008)
            w = 1;
        break;
    case 3: case 4: case 5: case 11:
        if (item == ITEM_DATA_SIZE)
            w = 0;
        else if (item == ITEM_SIZE_X)
            w = 1;
        else if (item == ITEM_SIZE_Y)
            w = 2;
        break;
    }
    if (w < 0)
        return false;
    if (word)
        *word = static_cast<uint32_t>(w);
    return true;
}

bool BufParamsItem(const BufParams& params, uint32_t item, uint32_t* value)
{
    if (!value || !BufParamsSize(params.dwType, nullptr))
        return false;
    if (item == ITEM_BUFFER_TYPE) {
        *value = params.dwType;
        return true;
    }
    uint32_t word = 0;
    if (!BufParamsItemWord(params.dwType, item, &word) || word >= params.dwSize / 4)
        return false;
    *value = params.dwWords[word];
    return true;
}

// ---- Messages ----------------------------------------------------------------------------------------------

const char* AgentMessageName(uint32_t code)
{
    switch (code) {
    case WD_START: return "WD_START";
    case WD_CHECK: return "WD_CHECK";
    case WD_SIGNAL: return "WD_SIGNAL";
    case WD_SET_DELAY: return "WD_SET_DELAY";
    case MSG_BUFFER_LIST_CHANGED: return "MSG_BUFFER_LIST_CHANGED";
    case WD_GET_ID: return "WD_GET_ID";
    default: return "MSG_UNKNOWN";
    }
}

std::array<uint8_t, kAgentMessageSize> AgentEncodeMessage(const AgentMessage& message)
{
    std::array<uint8_t, kAgentMessageSize> out{};
    CByteWriter w(out.data(), out.size());
    w.U32(message.dwValue);
    w.U32(message.dwCode);
    return out;
}

uint32_t AgentDecodeMessage(const uint8_t* data, size_t size, AgentMessage* message)
{
    if (!message)
        return AGENT_NO_ROOM;
    CByteReader r(data, size);
    AgentMessage m;
    m.dwValue = r.U32();
    m.dwCode = r.U32();
    if (!r.Ok())
        return AGENT_TRUNCATED;
    *message = m;
    return AGENT_OK;
}

} // namespace px::agent
