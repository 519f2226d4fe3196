// A loopback port that never answers a connect, as a camera behind a mistyped address on a real
// network does, made without leaving the machine and without root: a listening socket whose queue
// of unaccepted connections (listen backlog 0) is already full drops every further SYN, so the
// connecting side waits for an answer that never comes.
#pragma once

#include <cerrno>
#include <cstdint>
#include <vector>

#include "platform/Socket.h"

namespace platformtest {

class CSilentPort {
public:
    CSilentPort()
    {
        if (px::SocketOpen(px::SocketType::Stream, &m_listening) != 0 ||
            px::SocketBind(m_listening, px::kLoopbackAddress, 0) != 0 ||
            px::SocketListenBacklog(m_listening, 0) != 0 || px::SocketLocalPort(m_listening, &m_port) != 0)
            return;
        // Fill the queue: connects are answered until one is not. The kernel holds one or two.
        for (int i = 0; i < 8 && !m_bSilent; ++i) {
            px::SocketHandle s = px::kInvalidSocket;
            if (px::SocketOpen(px::SocketType::Stream, &s) != 0)
                return;
            const int e = px::SocketConnect(s, px::kLoopbackAddress, m_port, 1000);
            if (e == 0)
                m_fillers.push_back(s);
            else
                px::SocketClose(s);
            m_bSilent = e == ETIMEDOUT;
        }
    }
    ~CSilentPort()
    {
        for (px::SocketHandle s : m_fillers)
            px::SocketClose(s);
        if (m_listening != px::kInvalidSocket)
            px::SocketClose(m_listening);
    }
    CSilentPort(const CSilentPort&) = delete;
    CSilentPort& operator=(const CSilentPort&) = delete;

    // False when the port could not be made silent; the test cannot run then.
    bool Silent() const { return m_bSilent; }
    uint16_t Port() const { return m_port; }

private:
    px::SocketHandle m_listening = px::kInvalidSocket;
    uint16_t m_port = 0;
    std::vector<px::SocketHandle> m_fillers;
    bool m_bSilent = false;
};

} // namespace platformtest
