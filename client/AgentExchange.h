// Requests on an agent connection, shared by the exchange-buffer client and the agent channel.
//
// The request code is written against IAgentStream, the two transfer halves of a connection, so
// that the same code serves a live link and a byte source (the fuzz target and tests feed replies
// that way). Every announced size goes through the bounds-checked records of AgentProtocol.h;
// a reply that does not fit marks the stream broken (PX_COMM_ERROR, kept for good), after which
// the connection is not used again, so nothing of the rejected reply needs to be drained.
#pragma once

#include <cstdint>

#include "netaccess/AgentProtocol.h"

class IAgentStream {
public:
    virtual ~IAgentStream() = default;
    // One message out / in, exactly size bytes; a library result.
    virtual uint32_t SendBuffer(const void* data, uint32_t size) = 0;
    virtual uint32_t ReceiveBuffer(void* data, uint32_t size) = 0;
    // A reply broke the protocol: keep error as the connection's sticky error.
    virtual void MarkBroken(uint32_t error) = 0;
};

// Sends CMD_HELLO and reads the reply and its extension; *version becomes the agent's version
// (the default 1.1.0 when the agent sends no extension).
uint32_t AgentGreet(IAgentStream& stream, uint32_t* version);

// Sends one command to an agent of the given version: the envelope (new agents), the record, and
// for CMD_SEND_INPUT the input bytes. CMD_GET_TRANSFER_BUFFER_DATA and CMD_SEND_INPUT go out in
// one send, the others as envelope and record.
uint32_t AgentSendCommand(IAgentStream& stream, uint32_t version, const px::agent::AgentCommand& command,
                          const void* input = nullptr, uint32_t inputSize = 0);

// Reads the reply envelope (new agents) and parts A and B of the reply to command; the decoded
// words and the size of part C come back in reply. A size the records refuse marks the stream
// broken and gives PX_COMM_ERROR.
uint32_t AgentReadReplyHead(IAgentStream& stream, uint32_t version, uint32_t command, px::agent::AgentReply* reply);

// Reads and discards size bytes (a part the caller has no use for), in pieces.
uint32_t AgentSkipBytes(IAgentStream& stream, uint64_t size);
