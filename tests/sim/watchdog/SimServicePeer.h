// A tiny client of the simulator's watchdog and message ports, on platform sockets, and a log
// collector that lets a test wait for a line instead of sleeping.
#pragma once

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "netaccess/protocol/AgentProtocol.h"
#include "platform/Clock.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Socket.h"

namespace simtest {

using px::agent::AgentMessage;

class CPeer {
public:
    ~CPeer() { Close(); }
    int Connect(uint16_t port)
    {
        if (int e = px::SocketOpen(px::SocketType::Stream, &m_s))
            return e;
        return px::SocketConnect(m_s, px::kLoopbackAddress, port);
    }
    void Close()
    {
        if (m_s != px::kInvalidSocket)
            px::SocketClose(m_s);
        m_s = px::kInvalidSocket;
    }
    bool Send(uint32_t value, uint32_t code)
    {
        const auto bytes = px::agent::AgentEncodeMessage({value, code});
        return px::SocketSendAll(m_s, bytes.data(), bytes.size()) == 0;
    }
    bool SendRaw(const void* data, size_t size) { return px::SocketSendAll(m_s, data, size) == 0; }
    // One message within timeoutMs; false on time-out, end of stream or error.
    bool Receive(AgentMessage* m, int timeoutMs)
    {
        bool readable = false;
        if (px::SocketWaitReadable(m_s, timeoutMs, &readable) != 0 || !readable)
            return false;
        uint8_t b[8];
        return px::SocketRecvAll(m_s, b, sizeof b) == 0 && px::agent::AgentDecodeMessage(b, 8, m) == 0;
    }
    // The server ended the connection (end of stream or reset) within timeoutMs.
    bool Ended(int timeoutMs)
    {
        bool readable = false;
        if (px::SocketWaitReadable(m_s, timeoutMs, &readable) != 0 || !readable)
            return false;
        uint8_t b;
        size_t got = 0;
        int e = px::SocketRecv(m_s, &b, 1, &got);
        return (e == 0 && got == 0) || e == ECONNRESET;
    }

private:
    px::SocketHandle m_s = px::kInvalidSocket;
};

class CLogWatch {
public:
    std::function<void(const std::string&)> Function()
    {
        return [this](const std::string& line) {
            {
                px::CsLock lock(m_lock);
                m_lines.push_back(line);
            }
            m_changed.Set();
        };
    }
    // Waits until `count` lines contain `text`.
    bool WaitFor(const std::string& text, size_t count = 1, uint32_t timeoutMs = 5000)
    {
        const uint64_t end = px::TickCount64() + timeoutMs;
        for (;;) {
            if (Count(text) >= count)
                return true;
            const uint64_t now = px::TickCount64();
            if (now >= end || m_changed.Wait(static_cast<uint32_t>(end - now)) == px::WaitResult::Failed)
                return Count(text) >= count;
        }
    }
    size_t Count(const std::string& text)
    {
        px::CsLock lock(m_lock);
        size_t n = 0;
        for (const auto& l : m_lines)
            n += l.find(text) != std::string::npos;
        return n;
    }

private:
    px::CriticalSection m_lock;
    std::vector<std::string> m_lines;
    px::Event m_changed{false, false};
};

} // namespace simtest
