// Commands, envelopes, the greeting and the reply layouts of the agent command protocol.
//
// Pure functions over caller-owned bytes; no state, no threads. The records of the buffers
// themselves (data description, buffer list entries, info records, region placement, watchdog
// messages) are in AgentRecords.cpp.
#include "netaccess/protocol/AgentProtocol.h"

#include <cstring>

#include "netaccess/protocol/AgentBytes.h"

namespace px::agent {

const char* AgentCommandName(uint32_t command)
{
    switch (command) {
    case CMD_HELLO: return "CMD_HELLO";
    case CMD_BYE: return "CMD_BYE";
    case CMD_SET_TRANSFER_BUFFER: return "CMD_SET_TRANSFER_BUFFER";
    case CMD_GET_TRANSFER_BUFFER_DATA: return "CMD_GET_TRANSFER_BUFFER_DATA";
    case CMD_GET_BUF_PARAMS: return "CMD_GET_BUF_PARAMS";
    case CMD_SET_BUF_PARAMS: return "CMD_SET_BUF_PARAMS";
    case CMD_SEND_INPUT: return "CMD_SEND_INPUT";
    case CMD_GET_BUFFER_LIST: return "CMD_GET_BUFFER_LIST";
    case CMD_FORCE_TRANSFER: return "CMD_FORCE_TRANSFER";
    case CMD_VERIFY_RESOURCES: return "CMD_VERIFY_RESOURCES";
    case CMD_GET_NUMBER_OF_CLIENT: return "CMD_GET_NUMBER_OF_CLIENT";
    default: return "CMD_UNKNOWN";
    }
}

bool AgentCommandHasReply(uint32_t command)
{
    switch (command) {
    case CMD_HELLO:
    case CMD_GET_TRANSFER_BUFFER_DATA:
    case CMD_GET_BUF_PARAMS:
    case CMD_GET_BUFFER_LIST:
    case CMD_VERIFY_RESOURCES:
    case CMD_GET_NUMBER_OF_CLIENT:
        return true;
    default:
        return false;
    }
}

namespace {

// Size of the fixed record of a command (0: unknown command). The subscription has two forms.
uint32_t FixedSize(uint32_t command, bool withWatchdogId)
{
    switch (command) {
    case CMD_HELLO: return kAgentHelloSize;
    case CMD_BYE: return kAgentByeSize;
    case CMD_SET_TRANSFER_BUFFER: return withWatchdogId ? kAgentSubscriptionIdSize : kAgentSubscriptionSize;
    case CMD_GET_TRANSFER_BUFFER_DATA: return kAgentDataRequestSize;
    case CMD_GET_BUF_PARAMS: return kAgentGetBufParamsSize;
    case CMD_SET_BUF_PARAMS: return kAgentSetBufParamsHeadSize;
    case CMD_SEND_INPUT: return kAgentSendInputHeadSize;
    case CMD_GET_BUFFER_LIST: return kAgentGetBufferListSize;
    case CMD_FORCE_TRANSFER: return kAgentForceTransferSize;
    case CMD_VERIFY_RESOURCES: return kAgentVerifyResourcesSize;
    case CMD_GET_NUMBER_OF_CLIENT: return kAgentGetNumberOfClientSize;
    default: return 0;
    }
}

AgentCommand Simple(uint32_t command, BufferId bufferId, uint32_t value)
{
    AgentCommand c;
    c.dwCommand = command;
    c.dwSize = FixedSize(command, false);
    c.bufferId = bufferId;
    c.dwValue = value;
    return c;
}

} // namespace

AgentCommand AgentMakeHello(uint32_t version) { return Simple(CMD_HELLO, BufferId(), version); }
AgentCommand AgentMakeBye() { return Simple(CMD_BYE, BufferId(), kAgentByeValue); }

AgentCommand AgentMakeSetTransferBuffer(BufferId bufferId, uint32_t waitForUpdate, const char* clientName,
                                        uint32_t agentVersion, uint32_t watchdogId)
{
    AgentCommand c = Simple(CMD_SET_TRANSFER_BUFFER, bufferId, waitForUpdate);
    c.bWithWatchdogId = AgentWantsWatchdogId(agentVersion);
    c.dwSize = FixedSize(CMD_SET_TRANSFER_BUFFER, c.bWithWatchdogId);
    c.dwWatchdogId = c.bWithWatchdogId ? watchdogId : 0;
    if (clientName)
        strncpy(c.szClientName, clientName, kAgentClientNameSize);
    return c;
}

AgentCommand AgentMakeGetData(BufferId bufferId, uint32_t force)
{
    return Simple(CMD_GET_TRANSFER_BUFFER_DATA, bufferId, force);
}

AgentCommand AgentMakeGetBufParams(BufferId bufferId) { return Simple(CMD_GET_BUF_PARAMS, bufferId, 0); }

uint32_t AgentMakeSetBufParams(BufferId bufferId, const uint8_t* info, size_t infoSize, AgentCommand* out)
{
    if (!out)
        return AGENT_NO_ROOM;
    if (infoSize > sizeof out->byInfo || (infoSize && !info))
        return AGENT_BAD_SIZE;
    *out = Simple(CMD_SET_BUF_PARAMS, bufferId, 0);
    out->dwInfoSize = static_cast<uint32_t>(infoSize);
    out->dwSize = static_cast<uint32_t>(kAgentSetBufParamsHeadSize + infoSize);
    if (infoSize)
        memcpy(out->byInfo, info, infoSize);
    return AGENT_OK;
}

AgentCommand AgentMakeSendInput(BufferId bufferId, uint32_t inputSize)
{
    AgentCommand c = Simple(CMD_SEND_INPUT, bufferId, inputSize);
    c.dwSize = static_cast<uint32_t>(kAgentSendInputHeadSize) + inputSize;
    return c;
}

AgentCommand AgentMakeGetBufferList() { return Simple(CMD_GET_BUFFER_LIST, BufferId(), 0); }
AgentCommand AgentMakeForceTransfer(BufferId bufferId) { return Simple(CMD_FORCE_TRANSFER, bufferId, 0); }
AgentCommand AgentMakeVerifyResources(uint16_t resource) { return Simple(CMD_VERIFY_RESOURCES, BufferId(), resource); }
AgentCommand AgentMakeGetNumberOfClient() { return Simple(CMD_GET_NUMBER_OF_CLIENT, BufferId(), 0); }

uint32_t AgentEncodeCommand(const AgentCommand& c, uint8_t* out, size_t capacity, size_t* written)
{
    const uint32_t fixed = FixedSize(c.dwCommand, c.bWithWatchdogId);
    if (fixed == 0)
        return AGENT_BAD_COMMAND;
    if (c.dwCommand == CMD_SET_BUF_PARAMS && c.dwInfoSize > sizeof c.byInfo)
        return AGENT_BAD_SIZE;
    CByteWriter w(out, capacity);
    w.U32(c.dwCommand);
    w.U32(c.dwSize);
    switch (c.dwCommand) {
    case CMD_HELLO:
    case CMD_BYE:
    case CMD_GET_BUFFER_LIST:
        w.U32(c.dwValue);
        break;
    case CMD_SET_TRANSFER_BUFFER: {
        w.U32(c.bufferId.Wire());
        w.U32(c.dwValue);
        // NUL-padded: the characters up to the first NUL, then zeros.
        const size_t n = strnlen(c.szClientName, kAgentClientNameSize);
        w.Bytes(c.szClientName, n);
        w.Zeros(kAgentClientNameSize - n);
        if (c.bWithWatchdogId) {
            w.U32(c.dwWatchdogId);
            w.Zeros(28);
        }
        break;
    }
    case CMD_GET_TRANSFER_BUFFER_DATA:
    case CMD_SEND_INPUT:
        w.U32(c.bufferId.Wire());
        w.U32(c.dwValue);
        break;
    case CMD_GET_BUF_PARAMS:
    case CMD_FORCE_TRANSFER:
        w.U32(c.bufferId.Wire());
        break;
    case CMD_SET_BUF_PARAMS:
        w.U32(c.bufferId.Wire());
        w.Bytes(c.byInfo, c.dwInfoSize);
        break;
    case CMD_VERIFY_RESOURCES:
        w.U16(static_cast<uint16_t>(c.dwValue));
        w.U16(0);
        w.U32(0);
        break;
    case CMD_GET_NUMBER_OF_CLIENT:
        break;
    }
    if (!w.Ok())
        return AGENT_NO_ROOM;
    if (written)
        *written = w.Position();
    return AGENT_OK;
}

std::array<uint8_t, kAgentHelloSize> AgentEncodeHello(uint32_t version)
{
    std::array<uint8_t, kAgentHelloSize> out{};
    CByteWriter w(out.data(), out.size());
    w.U32(CMD_HELLO);
    w.U32(kAgentHelloSize);
    w.U32(version);
    return out;
}

uint32_t AgentDecodeCommandHead(const uint8_t* data, size_t size, uint32_t maxInputSize, AgentCommandHead* head)
{
    if (!head)
        return AGENT_NO_ROOM;
    CByteReader r(data, size);
    AgentCommandHead h;
    h.dwCommand = r.U32();
    h.dwSize = r.U32();
    if (!r.Ok())
        return AGENT_TRUNCATED;
    switch (h.dwCommand) {
    case CMD_SET_TRANSFER_BUFFER:
        if (h.dwSize != kAgentSubscriptionSize && h.dwSize != kAgentSubscriptionIdSize)
            return AGENT_BAD_SIZE;
        h.dwFixedSize = h.dwSize;
        break;
    case CMD_SET_BUF_PARAMS:
        if (h.dwSize < kAgentSetBufParamsHeadSize || h.dwSize > kAgentSetBufParamsHeadSize + kBufParamsMaxSize)
            return AGENT_BAD_SIZE;
        h.dwFixedSize = kAgentSetBufParamsHeadSize;
        break;
    case CMD_SEND_INPUT:
        if (h.dwSize < kAgentSendInputHeadSize || h.dwSize - kAgentSendInputHeadSize > maxInputSize)
            return AGENT_BAD_SIZE;
        h.dwFixedSize = kAgentSendInputHeadSize;
        break;
    default: {
        const uint32_t fixed = FixedSize(h.dwCommand, false);
        if (fixed == 0)
            return AGENT_BAD_COMMAND;
        if (h.dwSize != fixed)
            return AGENT_BAD_SIZE;
        h.dwFixedSize = fixed;
        break;
    }
    }
    h.dwTrailingSize = h.dwSize - h.dwFixedSize;
    *head = h;
    return AGENT_OK;
}

uint32_t AgentDecodeCommand(const uint8_t* data, size_t size, uint32_t maxInputSize, AgentCommand* command)
{
    if (!command)
        return AGENT_NO_ROOM;
    AgentCommandHead head;
    if (uint32_t e = AgentDecodeCommandHead(data, size, maxInputSize, &head))
        return e;
    // The input bytes of CMD_SEND_INPUT are not part of what is decoded here.
    const size_t need = head.dwCommand == CMD_SEND_INPUT ? head.dwFixedSize : head.dwSize;
    if (size < need)
        return AGENT_TRUNCATED;
    CByteReader r(data, need);
    r.Skip(kAgentCommandHeadSize);
    AgentCommand c;
    c.dwCommand = head.dwCommand;
    c.dwSize = head.dwSize;
    switch (c.dwCommand) {
    case CMD_HELLO:
        c.dwValue = r.U32();
        break;
    case CMD_BYE:
        c.dwValue = r.U32();
        if (c.dwValue != kAgentByeValue)
            return AGENT_BAD_VALUE;
        break;
    case CMD_GET_BUFFER_LIST:
        c.dwValue = r.U32();
        if (c.dwValue != 0)
            return AGENT_BAD_VALUE;
        break;
    case CMD_SET_TRANSFER_BUFFER:
        c.bufferId = BufferId::FromWire(r.U32());
        c.dwValue = r.U32();
        r.Bytes(c.szClientName, kAgentClientNameSize);
        c.szClientName[kAgentClientNameSize] = '\0';
        c.bWithWatchdogId = head.dwSize == kAgentSubscriptionIdSize;
        if (c.bWithWatchdogId)
            c.dwWatchdogId = r.U32();
        break;
    case CMD_GET_TRANSFER_BUFFER_DATA:
        c.bufferId = BufferId::FromWire(r.U32());
        c.dwValue = r.U32();
        break;
    case CMD_SEND_INPUT:
        c.bufferId = BufferId::FromWire(r.U32());
        c.dwValue = r.U32();
        if (c.dwValue != head.dwTrailingSize)
            return AGENT_BAD_SIZE;
        break;
    case CMD_GET_BUF_PARAMS:
    case CMD_FORCE_TRANSFER:
        c.bufferId = BufferId::FromWire(r.U32());
        break;
    case CMD_SET_BUF_PARAMS:
        c.bufferId = BufferId::FromWire(r.U32());
        c.dwInfoSize = head.dwTrailingSize;
        r.Bytes(c.byInfo, c.dwInfoSize);
        break;
    case CMD_VERIFY_RESOURCES: {
        c.dwValue = r.U16();
        const uint16_t high = r.U16();
        const uint32_t zero = r.U32();
        if (high != 0 || zero != 0)
            return AGENT_BAD_VALUE;
        break;
    }
    case CMD_GET_NUMBER_OF_CLIENT:
        break;
    }
    if (!r.Ok())
        return AGENT_TRUNCATED;
    *command = c;
    return AGENT_OK;
}

AgentEnvelope AgentMakeEnvelope(const AgentCommand& command)
{
    AgentEnvelope e;
    e.dwCommand = command.dwCommand;
    const uint32_t fixed = FixedSize(command.dwCommand, command.bWithWatchdogId);
    e.dwRestSize = fixed > kAgentCommandHeadSize ? fixed - static_cast<uint32_t>(kAgentCommandHeadSize) : 0;
    e.dwDataSize = command.dwCommand == CMD_SEND_INPUT ? command.dwValue : 0;
    return e;
}

std::array<uint8_t, kAgentEnvelopeSize> AgentEncodeEnvelope(const AgentEnvelope& envelope)
{
    std::array<uint8_t, kAgentEnvelopeSize> out{};
    CByteWriter w(out.data(), out.size());
    w.U32(envelope.dwCommand);
    w.U32(envelope.dwEnvelopeSize);
    w.U32(envelope.dwFirstPartSize);
    w.U32(envelope.dwRestSize);
    w.U32(envelope.dwDataSize);
    return out;  // words 5 to 13 stay 0
}

uint32_t AgentDecodeEnvelope(const uint8_t* data, size_t size, AgentEnvelope* envelope)
{
    if (!envelope)
        return AGENT_NO_ROOM;
    if (size < kAgentEnvelopeSize || !data)
        return AGENT_TRUNCATED;
    CByteReader r(data, size);
    AgentEnvelope e;
    e.dwCommand = r.U32();
    e.dwEnvelopeSize = r.U32();
    e.dwFirstPartSize = r.U32();
    e.dwRestSize = r.U32();
    e.dwDataSize = r.U32();
    if (e.dwEnvelopeSize != kAgentEnvelopeSize)
        return AGENT_BAD_SIZE;
    *envelope = e;
    return AGENT_OK;
}

uint32_t AgentCheckEnvelope(const AgentEnvelope& envelope, const AgentCommandHead& head)
{
    if (envelope.dwCommand != head.dwCommand)
        return AGENT_BAD_COMMAND;
    const uint32_t data = head.dwCommand == CMD_SEND_INPUT ? head.dwTrailingSize : 0;
    if (envelope.dwFirstPartSize != kAgentCommandHeadSize ||
        envelope.dwRestSize != head.dwFixedSize - kAgentCommandHeadSize || envelope.dwDataSize != data)
        return AGENT_BAD_SIZE;
    return AGENT_OK;
}

std::array<uint8_t, kAgentReplyEnvelopeSize> AgentEncodeReplyEnvelope(const AgentReplyEnvelope& envelope)
{
    std::array<uint8_t, kAgentReplyEnvelopeSize> out{};
    CByteWriter w(out.data(), out.size());
    w.U32(envelope.dwCommand);
    w.U32(envelope.dwEnvelopeSize);
    w.U32(envelope.dwPartASize);
    w.U32(envelope.dwPartBSize);
    w.U32(envelope.dwPartCSize);
    w.U32(envelope.dwRecordSize);
    return out;
}

uint32_t AgentDecodeReplyEnvelope(const uint8_t* data, size_t size, AgentReplyEnvelope* envelope)
{
    if (!envelope)
        return AGENT_NO_ROOM;
    if (size < kAgentReplyEnvelopeSize || !data)
        return AGENT_TRUNCATED;
    CByteReader r(data, size);
    AgentReplyEnvelope e;
    e.dwCommand = r.U32();
    e.dwEnvelopeSize = r.U32();
    e.dwPartASize = r.U32();
    e.dwPartBSize = r.U32();
    e.dwPartCSize = r.U32();
    e.dwRecordSize = r.U32();
    *envelope = e;  // the sizes are judged with the command they answer (AgentReplyPartSizes)
    return AGENT_OK;
}

AgentHelloReply AgentMakeHelloReply(uint32_t agentVersion, bool extended)
{
    AgentHelloReply h;
    h.dwWord0 = CMD_HELLO;
    h.dwWord1 = kAgentHelloReplySize;
    h.bExtended = extended;
    h.dwWord2 = extended ? kAgentHelloExtensionMark : 0;
    h.dwAgentVersion = extended ? agentVersion : kAgentDefaultVersion;
    return h;
}

std::array<uint8_t, kAgentHelloReplySize> AgentEncodeHelloReply(const AgentHelloReply& reply)
{
    std::array<uint8_t, kAgentHelloReplySize> out{};
    CByteWriter w(out.data(), out.size());
    w.U32(reply.dwWord0);
    w.U32(reply.dwWord1);
    w.U32(reply.bExtended ? kAgentHelloExtensionMark : reply.dwWord2);
    return out;
}

std::array<uint8_t, kAgentHelloExtensionSize> AgentEncodeHelloExtension(const AgentHelloReply& reply)
{
    std::array<uint8_t, kAgentHelloExtensionSize> out{};
    CByteWriter w(out.data(), out.size());
    w.U32(CMD_HELLO);
    w.U32(kAgentHelloExtensionSize);
    w.U32(0);  // replaces the reply's word 2
    w.U32(reply.dwAgentVersion);
    return out;
}

uint32_t AgentDecodeHelloReply(const uint8_t* data, size_t size, AgentHelloReply* reply)
{
    if (!reply)
        return AGENT_NO_ROOM;
    CByteReader r(data, size);
    AgentHelloReply h;
    h.dwWord0 = r.U32();
    h.dwWord1 = r.U32();
    h.dwWord2 = r.U32();
    if (!r.Ok())
        return AGENT_TRUNCATED;
    h.bExtended = h.dwWord2 == kAgentHelloExtensionMark;
    *reply = h;
    return AGENT_OK;
}

uint32_t AgentDecodeHelloExtension(const uint8_t* data, size_t size, AgentHelloReply* reply)
{
    if (!reply)
        return AGENT_NO_ROOM;
    if (size < kAgentHelloExtensionSize || !data)
        return AGENT_TRUNCATED;
    CByteReader r(data, size);
    r.Skip(8);
    reply->dwWord2 = r.U32();
    reply->dwAgentVersion = r.U32();
    return AGENT_OK;
}

// ---- Replies --------------------------------------------------------------------------------------

namespace {

// Smallest part B a reply must have for the words the component reads from it.
uint32_t MinPartB(uint32_t command)
{
    switch (command) {
    case CMD_GET_BUF_PARAMS: return 12;      // word 2: the type
    case CMD_GET_BUFFER_LIST: return 4;      // word 0: the count
    case CMD_VERIFY_RESOURCES: return 8;     // word 1: the answer
    case CMD_GET_NUMBER_OF_CLIENT: return 8; // words 0 and 1
    default: return 0;
    }
}

bool IsReplyCommand(uint32_t command) { return command != CMD_HELLO && AgentCommandHasReply(command); }

} // namespace

AgentReply AgentMakeDataReply(const DataDesc& desc, uint32_t dataSize, uint32_t agentVersion)
{
    AgentReply r;
    r.dwCommand = CMD_GET_TRANSFER_BUFFER_DATA;
    r.dwPartBSize = AgentUsesEnvelopes(agentVersion) ? kAgentDataDescSize : kAgentOldDataReplyBSize;
    for (size_t i = 0; i < r.dwPartBSize / 4; ++i)
        r.dwPartB[i] = desc.dwWords[i];
    r.dwPartCSize = dataSize;
    r.dwPartA[0] = CMD_GET_TRANSFER_BUFFER_DATA;
    r.dwPartA[1] = r.dwPartASize + r.dwPartBSize + dataSize;
    return r;
}

AgentReply AgentMakeBufParamsReply(uint32_t bufferType, uint32_t)
{
    AgentReply r;
    r.dwCommand = CMD_GET_BUF_PARAMS;
    r.dwPartA[0] = CMD_GET_BUF_PARAMS;
    r.dwPartBSize = kAgentOldBufParamsReplyBSize;
    r.dwPartB[2] = bufferType;
    uint32_t size = 0;
    BufParamsSize(bufferType, &size);
    r.dwPartCSize = size;
    r.dwPartA[1] = r.dwPartASize + r.dwPartBSize + size;
    return r;
}

AgentReply AgentMakeBufferListReply(uint32_t count, uint32_t)
{
    AgentReply r;
    r.dwCommand = CMD_GET_BUFFER_LIST;
    r.dwPartA[0] = CMD_GET_BUFFER_LIST;
    r.dwPartBSize = kAgentOldBufferListReplyBSize;
    r.dwPartB[0] = count;
    r.dwRecordCount = count;
    r.dwRecordSize = kAgentBufferListEntrySize;
    const uint64_t total = uint64_t{count} * kAgentBufferListEntrySize;
    r.dwPartCSize = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
    r.dwPartA[1] = r.dwPartASize + r.dwPartBSize;
    return r;
}

AgentReply AgentMakeVerifyResourcesReply(uint32_t answer)
{
    AgentReply r;
    r.dwCommand = CMD_VERIFY_RESOURCES;
    r.dwPartA[0] = CMD_VERIFY_RESOURCES;
    r.dwPartBSize = kAgentOldVerifyReplyBSize;
    r.dwPartB[1] = answer;
    r.dwPartA[1] = r.dwPartASize + r.dwPartBSize;
    return r;
}

AgentReply AgentMakeNumberOfClientReply(uint32_t count, uint32_t status)
{
    AgentReply r;
    r.dwCommand = CMD_GET_NUMBER_OF_CLIENT;
    r.dwPartA[0] = CMD_GET_NUMBER_OF_CLIENT;
    r.dwPartBSize = 8;
    r.dwPartB[0] = count;
    r.dwPartB[1] = status;
    r.dwPartA[1] = r.dwPartASize + r.dwPartBSize;
    return r;
}

uint32_t AgentEncodeReply(const AgentReply& reply, uint32_t agentVersion, uint8_t* out, size_t capacity,
                          size_t* written)
{
    if (reply.dwPartASize != kAgentReplyPartASize ||
        reply.dwPartBSize > kAgentDataDescSize || reply.dwPartBSize % 4 != 0)
        return AGENT_BAD_SIZE;
    CByteWriter w(out, capacity);
    if (AgentUsesEnvelopes(agentVersion)) {
        AgentReplyEnvelope e;
        e.dwCommand = reply.dwCommand;
        e.dwPartASize = reply.dwPartASize;
        e.dwPartBSize = reply.dwPartBSize;
        e.dwPartCSize = reply.dwCommand == CMD_GET_BUFFER_LIST ? reply.dwRecordCount : reply.dwPartCSize;
        e.dwRecordSize = reply.dwCommand == CMD_GET_BUFFER_LIST ? reply.dwRecordSize : 0;
        const auto bytes = AgentEncodeReplyEnvelope(e);
        w.Bytes(bytes.data(), bytes.size());
    }
    w.U32(reply.dwPartA[0]);
    w.U32(reply.dwPartA[1]);
    for (size_t i = 0; i < reply.dwPartBSize / 4; ++i)
        w.U32(reply.dwPartB[i]);
    if (!w.Ok())
        return AGENT_NO_ROOM;
    if (written)
        *written = w.Position();
    return AGENT_OK;
}

uint32_t AgentReplyPartSizes(uint32_t command, uint32_t agentVersion, const AgentReplyEnvelope* envelope,
                             uint32_t* partASize, uint32_t* partBSize)
{
    if (!partASize || !partBSize)
        return AGENT_NO_ROOM;
    if (!IsReplyCommand(command))
        return AGENT_BAD_COMMAND;
    if (!AgentUsesEnvelopes(agentVersion)) {
        *partASize = kAgentReplyPartASize;
        switch (command) {
        case CMD_GET_TRANSFER_BUFFER_DATA: *partBSize = kAgentOldDataReplyBSize; break;
        case CMD_GET_BUF_PARAMS: *partBSize = kAgentOldBufParamsReplyBSize; break;
        case CMD_GET_BUFFER_LIST: *partBSize = kAgentOldBufferListReplyBSize; break;
        case CMD_VERIFY_RESOURCES: *partBSize = kAgentOldVerifyReplyBSize; break;
        default: return AGENT_BAD_COMMAND;  // CMD_GET_NUMBER_OF_CLIENT: new agents only
        }
        return AGENT_OK;
    }
    if (!envelope)
        return AGENT_TRUNCATED;
    const uint32_t a = envelope->dwPartASize;
    const uint32_t b = envelope->dwPartBSize;
    // Part A of a data reply carries the total in word 1; every part B must hold the words read.
    const uint32_t minA = command == CMD_GET_TRANSFER_BUFFER_DATA ? kAgentReplyPartASize : 0;
    const uint32_t maxB = command == CMD_GET_TRANSFER_BUFFER_DATA ? kAgentDataDescSize : kAgentMaxReplyPartSize;
    if (a < minA || a > kAgentMaxReplyPartSize || b < MinPartB(command) || b > maxB)
        return AGENT_BAD_SIZE;
    *partASize = a;
    *partBSize = b;
    return AGENT_OK;
}

uint32_t AgentDecodeReplyParts(uint32_t command, uint32_t agentVersion, const AgentReplyEnvelope* envelope,
                               const uint8_t* partA, size_t partASize, const uint8_t* partB, size_t partBSize,
                               AgentReply* reply)
{
    if (!reply)
        return AGENT_NO_ROOM;
    uint32_t needA = 0, needB = 0;
    if (uint32_t e = AgentReplyPartSizes(command, agentVersion, envelope, &needA, &needB))
        return e;
    if (partASize < needA || partBSize < needB || (needA && !partA) || (needB && !partB))
        return AGENT_TRUNCATED;
    const bool isNew = AgentUsesEnvelopes(agentVersion);
    AgentReply r;
    r.dwCommand = command;
    r.dwPartASize = needA;
    r.dwPartBSize = needB;
    CByteReader ra(partA, needA);
    for (size_t i = 0; i < 2 && ra.Remaining() >= 4; ++i)
        r.dwPartA[i] = ra.U32();
    CByteReader rb(partB, needB);
    for (size_t i = 0; i < kAgentDataDescWords && rb.Remaining() >= 4; ++i)
        r.dwPartB[i] = rb.U32();

    const uint32_t announced = isNew ? envelope->dwPartCSize : 0;
    switch (command) {
    case CMD_GET_TRANSFER_BUFFER_DATA: {
        // Part A word 1 counts parts A, B and C together.
        const uint32_t total = r.dwPartA[1];
        if (isNew && announced != 0) {
            r.dwPartCSize = announced;
        } else {
            const uint64_t head = uint64_t{needA} + needB;
            if (total < head)
                return AGENT_BAD_SIZE;
            r.dwPartCSize = static_cast<uint32_t>(total - head);
        }
        break;
    }
    case CMD_GET_BUF_PARAMS: {
        // A type outside the table (an agent answers 0 for an identifier it does not know) has
        // no record: not a broken reply, only nothing to keep of whatever part C is announced.
        uint32_t infoSize = 0;
        BufParamsSize(r.dwPartB[2], &infoSize);
        const uint32_t c = announced != 0 ? announced : infoSize;
        // The whole record must come, and nothing absurd beside it.
        if (c < infoSize || c > kAgentMaxReplyPartSize)
            return AGENT_BAD_SIZE;
        r.dwPartCSize = c;
        break;
    }
    case CMD_GET_BUFFER_LIST: {
        const uint32_t count = r.dwPartB[0];
        const uint32_t recordSize = isNew ? envelope->dwRecordSize : kAgentBufferListEntrySize;
        if (count > kAgentMaxBufferListCount || recordSize < kAgentBufferListEntrySize ||
            recordSize > kAgentMaxListRecordSize)
            return AGENT_BAD_SIZE;
        r.dwRecordCount = count;
        r.dwRecordSize = recordSize;
        r.dwPartCSize = count * recordSize;  // at most 65535 × 65536: fits
        break;
    }
    default:
        // 131 and 133 have no part C; a new agent that announces one gets it drained, within reason.
        if (announced > kAgentMaxReplyPartSize)
            return AGENT_BAD_SIZE;
        r.dwPartCSize = announced;
        break;
    }
    *reply = r;
    return AGENT_OK;
}

} // namespace px::agent
