// One client connection to the simulated agent, on the publish port or on a buffer's port: the
// greeting, then commands until CMD_BYE or the end of the connection. Runs on its own thread
// (CSimListener); it reads the agent's version, faults and buffers from CKelvoSim for every
// command, so changes made while it runs take effect at the next command.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "netaccess/protocol/AgentProtocol.h"
#include "sim/SimListener.h"

namespace pxsim {

class CKelvoSim;
class CSimBuffer;
struct SimFaults;
struct SimFrame;

class CSimSession : public CSimConnection {
public:
    // port: the port the connection came in on (the publish port or a buffer's).
    CSimSession(px::SocketHandle socket, CKelvoSim& sim, uint16_t port);
    ~CSimSession() override;

    void Run() override;

private:
    struct Command {
        px::agent::AgentCommand record;
        std::vector<uint8_t> input;   // CMD_SEND_INPUT
    };

    bool Greet();
    // 0, or an errno value (the connection ends).
    int ReadCommand(Command* out);
    // false: the connection ends.
    bool Handle(const Command& c, const SimFaults& faults);
    bool ServeData(const Command& c, const SimFaults& faults);
    bool SendDataReply(const CSimBuffer& buffer, const SimFrame& frame, const SimFaults& faults);
    bool SendSmallReply(px::agent::AgentReply reply, const uint8_t* partC, size_t partCSize,
                        const SimFaults& faults);
    bool SendBufferList(const SimFaults& faults);
    bool Reply(const uint8_t* head, size_t headSize, const uint8_t* data, size_t dataSize, const SimFaults& faults,
               bool isData);
    void Unsubscribe();

    CKelvoSim& m_sim;
    uint16_t m_usPort;
    uint32_t m_dwNumber;
    uint32_t m_dwVersion;
    bool m_bNewAgent;
    std::shared_ptr<CSimBuffer> m_pSubscribed;
    bool m_bHavePending = false;
    Command m_pending;               // a command that arrived while a request waited for a frame
    uint32_t m_dwRequests = 0;
    std::vector<uint8_t> m_scratch;  // region rows, hostile padding
};

} // namespace pxsim
