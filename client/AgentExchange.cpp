#include "client/AgentExchange.h"

#include <cstring>
#include <new>

#include "pellix/pellix.h"

using namespace px::agent;

uint32_t AgentGreet(IAgentStream& stream, uint32_t* version)
{
    auto hello = AgentEncodeHello();
    if (uint32_t r = stream.SendBuffer(hello.data(), static_cast<uint32_t>(hello.size())))
        return r;
    uint8_t reply[kAgentHelloReplySize];
    if (uint32_t r = stream.ReceiveBuffer(reply, sizeof reply))
        return r;
    AgentHelloReply decoded;
    if (AgentDecodeHelloReply(reply, sizeof reply, &decoded) != AGENT_OK) {
        stream.MarkBroken(PX_COMM_ERROR);
        return PX_COMM_ERROR;
    }
    if (decoded.bExtended) {
        uint8_t extension[kAgentHelloExtensionSize];
        if (uint32_t r = stream.ReceiveBuffer(extension, sizeof extension))
            return r;
        if (AgentDecodeHelloExtension(extension, sizeof extension, &decoded) != AGENT_OK) {
            stream.MarkBroken(PX_COMM_ERROR);
            return PX_COMM_ERROR;
        }
    }
    *version = decoded.dwAgentVersion;
    return PX_OK;
}

uint32_t AgentSendCommand(IAgentStream& stream, uint32_t version, const AgentCommand& command, const void* input,
                          uint32_t inputSize)
{
    const bool envelope = AgentUsesEnvelopes(version);
    const bool oneSend = command.dwCommand == CMD_GET_TRANSFER_BUFFER_DATA || command.dwCommand == CMD_SEND_INPUT;
    uint8_t message[kAgentEnvelopeSize + kAgentMaxCommandRecordSize + kBufParamsMaxSize];
    size_t used = 0;
    if (envelope) {
        auto e = AgentEncodeEnvelope(AgentMakeEnvelope(command));
        std::memcpy(message, e.data(), e.size());
        used = e.size();
        if (!oneSend) {
            if (uint32_t r = stream.SendBuffer(message, static_cast<uint32_t>(used)))
                return r;
            used = 0;
        }
    }
    size_t written = 0;
    if (AgentEncodeCommand(command, message + used, sizeof message - used, &written) != AGENT_OK)
        return PX_ERROR;
    used += written;
    if (command.dwCommand != CMD_SEND_INPUT || inputSize == 0)
        return stream.SendBuffer(message, static_cast<uint32_t>(used));

    // The input bytes travel in the same message as the record before them.
    const uint64_t total = uint64_t{used} + inputSize;
    if (total > 0xFFFFFFFFu || input == nullptr)
        return PX_ERROR;
    uint8_t* whole = new (std::nothrow) uint8_t[total];
    if (whole == nullptr)
        return PX_ERROR;
    std::memcpy(whole, message, used);
    std::memcpy(whole + used, input, inputSize);
    uint32_t r = stream.SendBuffer(whole, static_cast<uint32_t>(total));
    delete[] whole;
    return r;
}

uint32_t AgentReadReplyHead(IAgentStream& stream, uint32_t version, uint32_t command, AgentReply* reply)
{
    AgentReplyEnvelope envelope;
    const bool isNew = AgentUsesEnvelopes(version);
    if (isNew) {
        uint8_t bytes[kAgentReplyEnvelopeSize];
        if (uint32_t r = stream.ReceiveBuffer(bytes, sizeof bytes))
            return r;
        if (AgentDecodeReplyEnvelope(bytes, sizeof bytes, &envelope) != AGENT_OK) {
            stream.MarkBroken(PX_COMM_ERROR);
            return PX_COMM_ERROR;
        }
    }
    uint32_t sizeA = 0, sizeB = 0;
    if (AgentReplyPartSizes(command, version, isNew ? &envelope : nullptr, &sizeA, &sizeB) != AGENT_OK) {
        stream.MarkBroken(PX_COMM_ERROR);
        return PX_COMM_ERROR;
    }
    // Both sizes are bounded by the records (kAgentMaxReplyPartSize).
    uint8_t partA[kAgentMaxReplyPartSize], partB[kAgentMaxReplyPartSize];
    if (uint32_t r = stream.ReceiveBuffer(partA, sizeA))
        return r;
    if (uint32_t r = stream.ReceiveBuffer(partB, sizeB))
        return r;
    if (AgentDecodeReplyParts(command, version, isNew ? &envelope : nullptr, partA, sizeA, partB, sizeB, reply) !=
        AGENT_OK) {
        stream.MarkBroken(PX_COMM_ERROR);
        return PX_COMM_ERROR;
    }
    return PX_OK;
}

uint32_t AgentSkipBytes(IAgentStream& stream, uint64_t size)
{
    uint8_t scratch[4096];
    while (size > 0) {
        uint32_t n = size < sizeof scratch ? static_cast<uint32_t>(size) : static_cast<uint32_t>(sizeof scratch);
        if (uint32_t r = stream.ReceiveBuffer(scratch, n))
            return r;
        size -= n;
    }
    return PX_OK;
}
