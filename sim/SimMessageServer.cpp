// The agent's asynchronous message port (see the header for use and threads).
//
// Ownership: the server owns its listening socket, its accept thread and the sockets of the
// connected clients, kept under m_clientsLock. Lines for the log are gathered while that lock is
// held and written after it is released, so a log function may call back into the server.
#include "sim/SimMessageServer.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "netaccess/protocol/AgentProtocol.h"

namespace pxsim {

using namespace px::agent;

namespace {

std::string Format(const char* format, va_list args)
{
    char line[256];
    vsnprintf(line, sizeof line, format, args);
    return line;
}

std::string Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Line(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string s = Format(format, args);
    va_end(args);
    return s;
}

} // namespace

CSimMessageServer::~CSimMessageServer() { Stop(); }

void CSimMessageServer::SetLog(LogFunction log)
{
    px::CsLock lock(m_logLock);
    m_log = std::move(log);
}

void CSimMessageServer::Log(const char* format, ...)
{
    px::CsLock lock(m_logLock);
    if (!m_log)
        return;
    va_list args;
    va_start(args, format);
    std::string line = Format(format, args);
    va_end(args);
    m_log(line);
}

int CSimMessageServer::Start(uint16_t port, uint32_t address)
{
    if (m_acceptThread.Running())
        return EBUSY;
    if (!m_stop.Valid())
        return EMFILE;
    m_stop.Reset();
    px::SocketHandle s = px::kInvalidSocket;
    if (int e = px::SocketOpenServer(address, port, true, &s, &m_usPort))
        return e;
    m_listen = s;
    if (int e = m_acceptThread.Start("SimMsgAccept", [this] { AcceptLoop(); })) {
        px::SocketClose(m_listen);
        m_listen = px::kInvalidSocket;
        return e;
    }
    Log("messages: listening on port %u", m_usPort);
    return 0;
}

void CSimMessageServer::Stop()
{
    if (m_listen == px::kInvalidSocket)
        return;
    m_stop.Set();
    m_acceptThread.Join();
    std::vector<Client> clients;
    {
        px::CsLock lock(m_clientsLock);
        clients.swap(m_clients);
    }
    for (const Client& c : clients) {
        px::SocketShutdown(c.socket, px::ShutdownHow::Both);
        px::SocketClose(c.socket);
    }
    px::SocketClose(m_listen);
    m_listen = px::kInvalidSocket;
    Log("messages: stopped");
}

void CSimMessageServer::AcceptLoop()
{
    for (;;) {
        bool readable = false, woken = false;
        int e = px::SocketWaitReadableOrWake(m_listen, m_stop.Fd(), -1, &readable, &woken);
        if (e != 0 || woken)
            return;
        if (!readable)
            continue;
        px::SocketHandle s = px::kInvalidSocket;
        if ((e = px::SocketAccept(m_listen, &s)) != 0) {
            Log("messages: accept failed (errno %d)", e);
            if (m_stop.Wait(50) == px::WaitResult::Signaled)
                return;
            continue;
        }
        const uint32_t number = m_dwNextNumber++;
        if (m_bRefuse.load()) {
            px::SocketSetLinger(s, true, 0);  // a reset, not an orderly end
            px::SocketClose(s);
            Log("messages %u: connection refused", number);
            continue;
        }
        px::SocketSetNoDelay(s, true);
        {
            px::CsLock lock(m_clientsLock);
            m_clients.push_back({s, number});
        }
        // Logged once the client is in the list: a notification from now on reaches it.
        Log("messages %u: connected", number);
    }
}

namespace {

// A client that closed its end (or broke) reads as end of stream or an error; bytes it sent
// are not part of the protocol and are dropped.
bool ClientGone(px::SocketHandle s)
{
    for (;;) {
        bool readable = false;
        if (px::SocketWaitReadable(s, 0, &readable) != 0)
            return true;
        if (!readable)
            return false;
        uint8_t sink[256];
        size_t got = 0;
        if (px::SocketRecv(s, sink, sizeof sink, &got) != 0 || got == 0)
            return true;
    }
}

} // namespace

size_t CSimMessageServer::NotifyBufferListChanged()
{
    const auto bytes = AgentEncodeMessage({0, MSG_BUFFER_LIST_CHANGED});
    std::vector<std::string> lines;
    size_t sent = 0;
    {
        px::CsLock lock(m_clientsLock);
        for (auto it = m_clients.begin(); it != m_clients.end();) {
            if (ClientGone(it->socket) || px::SocketSendAll(it->socket, bytes.data(), bytes.size()) != 0) {
                lines.push_back(Line("messages %u: connection closed", it->dwNumber));
                px::SocketClose(it->socket);
                it = m_clients.erase(it);
                continue;
            }
            lines.push_back(Line("messages %u: MSG_BUFFER_LIST_CHANGED sent", it->dwNumber));
            ++sent;
            ++it;
        }
    }
    for (const std::string& line : lines)
        Log("%s", line.c_str());
    return sent;
}

size_t CSimMessageServer::ConnectionCount()
{
    std::vector<uint32_t> gone;
    size_t n = 0;
    {
        px::CsLock lock(m_clientsLock);
        for (auto it = m_clients.begin(); it != m_clients.end();) {
            if (ClientGone(it->socket)) {
                gone.push_back(it->dwNumber);
                px::SocketClose(it->socket);
                it = m_clients.erase(it);
            } else {
                ++it;
            }
        }
        n = m_clients.size();
    }
    for (uint32_t number : gone)
        Log("messages %u: connection closed", number);
    return n;
}

} // namespace pxsim
