// The agent's watchdog port (see the header for use and threads).
//
// Ownership: the server owns its listening socket, its accept thread and one Connection record
// (socket and thread) per accepted client. The accept thread adds connections and frees those
// whose thread has finished; Stop() takes the rest over, shuts their sockets down and joins them.
// A connection's thread is the only one that sends on its socket, so replies and signals never
// interleave inside a message.
#include "sim/SimWatchdogServer.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "netaccess/protocol/AgentProtocol.h"
#include "platform/Clock.h"

namespace pxsim {

using namespace px::agent;

CSimWatchdogServer::~CSimWatchdogServer() { Stop(); }

void CSimWatchdogServer::SetLog(LogFunction log)
{
    px::CsLock lock(m_logLock);
    m_log = std::move(log);
}

void CSimWatchdogServer::Log(const char* format, ...)
{
    px::CsLock lock(m_logLock);
    if (!m_log)
        return;
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    m_log(line);
}

int CSimWatchdogServer::Start(uint16_t port, uint32_t address)
{
    if (m_acceptThread.Running())
        return EBUSY;
    if (!m_stop.Valid())
        return EMFILE;
    m_stop.Reset();
    m_bStopping.store(false);
    px::SocketHandle s = px::kInvalidSocket;
    if (int e = px::SocketOpenServer(address, port, true, &s, &m_usPort))
        return e;
    m_listen = s;
    if (int e = m_acceptThread.Start("SimWdAccept", [this] { AcceptLoop(); })) {
        px::SocketClose(m_listen);
        m_listen = px::kInvalidSocket;
        return e;
    }
    Log("watchdog: listening on port %u", m_usPort);
    return 0;
}

void CSimWatchdogServer::Stop()
{
    if (m_listen == px::kInvalidSocket)
        return;
    m_bStopping.store(true);
    m_stop.Set();
    m_acceptThread.Join();
    std::list<std::unique_ptr<Connection>> connections;
    {
        px::CsLock lock(m_connectionsLock);
        connections.swap(m_connections);
    }
    // A thread blocked in a receive or a send returns once its socket is shut down.
    for (auto& c : connections)
        px::SocketShutdown(c->socket, px::ShutdownHow::Both);
    for (auto& c : connections) {
        c->thread.Join();
        px::SocketClose(c->socket);
    }
    px::SocketClose(m_listen);
    m_listen = px::kInvalidSocket;
    Log("watchdog: stopped");
}

size_t CSimWatchdogServer::ConnectionCount()
{
    px::CsLock lock(m_connectionsLock);
    size_t n = 0;
    for (auto& c : m_connections)
        n += c->bFinished.load() ? 0 : 1;
    return n;
}

void CSimWatchdogServer::ReapFinished()
{
    std::list<std::unique_ptr<Connection>> done;
    {
        px::CsLock lock(m_connectionsLock);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if ((*it)->bFinished.load()) {
                done.push_back(std::move(*it));
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : done) {
        c->thread.Join();
        px::SocketClose(c->socket);
    }
}

void CSimWatchdogServer::AcceptLoop()
{
    for (;;) {
        bool readable = false, woken = false;
        int e = px::SocketWaitReadableOrWake(m_listen, m_stop.Fd(), -1, &readable, &woken);
        if (e != 0 || woken || m_bStopping.load())
            return;
        if (!readable)
            continue;
        px::SocketHandle s = px::kInvalidSocket;
        if ((e = px::SocketAccept(m_listen, &s)) != 0) {
            Log("watchdog: accept failed (errno %d)", e);
            // Out of descriptors and the like: do not spin, but stay responsive to Stop().
            if (m_stop.Wait(50) == px::WaitResult::Signaled)
                return;
            continue;
        }
        ReapFinished();
        const uint32_t number = m_dwNextNumber++;
        if (m_bRefuse.load()) {
            px::SocketSetLinger(s, true, 0);  // a reset, not an orderly end
            px::SocketClose(s);
            Log("watchdog %u: connection refused", number);
            continue;
        }
        px::SocketSetNoDelay(s, true);
        auto c = std::make_unique<Connection>();
        c->socket = s;
        c->dwNumber = number;
        Connection* raw = c.get();
        {
            px::CsLock lock(m_connectionsLock);
            m_connections.push_back(std::move(c));
        }
        // Logged outside the lock (the log function may ask for ConnectionCount()), once the
        // connection counts and before its thread can log its first message.
        Log("watchdog %u: connected", number);
        if ((e = raw->thread.Start("SimWdConn", [this, raw] { Serve(raw); })) != 0) {
            Log("watchdog %u: no thread (errno %d), closed", number, e);
            raw->bFinished.store(true);  // the next reaping closes its socket
        }
    }
}

bool CSimWatchdogServer::DelayReply(uint32_t number, const char* name)
{
    const uint32_t ms = m_dwReplyDelayMs.load();
    if (ms == 0)
        return true;
    Log("watchdog %u: %s, answering in %u ms", number, name, ms);
    return m_stop.Wait(ms) != px::WaitResult::Signaled;
}

void CSimWatchdogServer::Serve(Connection* c)
{
    const uint32_t n = c->dwNumber;
    uint32_t periodMs = kDefaultSignalPeriodMs;
    bool signalling = false;
    uint64_t startTick = 0, nextTick = 0;
    auto send = [&](uint32_t value, uint32_t code) {
        const auto bytes = AgentEncodeMessage({value, code});
        return px::SocketSendAll(c->socket, bytes.data(), bytes.size()) == 0;
    };

    for (;;) {
        // Signals due first; then wait for the client until the next one is due.
        int timeoutMs = -1;
        if (signalling) {
            const uint64_t now = px::TickCount64();
            const uint32_t stopAfter = m_dwStopSignalsAfterMs.load();
            if (stopAfter != 0 && now - startTick >= stopAfter) {
                signalling = false;
                Log("watchdog %u: signals stopped %u ms after WD_START", n, stopAfter);
                continue;
            }
            if (now >= nextTick) {
                if (!send(0, WD_SIGNAL))
                    break;
                // A late thread keeps the period rather than sending a burst to catch up.
                nextTick = nextTick + periodMs > now ? nextTick + periodMs : now + periodMs;
                continue;
            }
            uint64_t wait = nextTick - now;
            if (stopAfter != 0 && startTick + stopAfter - now < wait)
                wait = startTick + stopAfter - now;
            timeoutMs = static_cast<int>(wait);
        }
        bool readable = false, woken = false;
        if (px::SocketWaitReadableOrWake(c->socket, m_stop.Fd(), timeoutMs, &readable, &woken) != 0 || woken)
            break;
        if (!readable)
            continue;
        uint8_t bytes[kAgentMessageSize];
        if (int e = px::SocketRecvAll(c->socket, bytes, sizeof bytes)) {
            Log("watchdog %u: connection closed (%s)", n, e == ECONNRESET ? "by the client" : "error");
            break;
        }
        AgentMessage m;
        AgentDecodeMessage(bytes, sizeof bytes, &m);  // 8 bytes always decode
        const char* name = AgentMessageName(m.dwCode);
        bool ok = true;
        switch (m.dwCode) {
        case WD_CHECK:
            if (m_bNoCheckReply.load()) {
                Log("watchdog %u: %s left unanswered", n, name);
                break;
            }
            ok = DelayReply(n, name);
            if (ok) {
                Log("watchdog %u: %s, answered 1", n, name);
                ok = send(1, WD_CHECK);
            }
            break;
        case WD_GET_ID: {
            ok = DelayReply(n, name);
            if (ok) {
                const uint32_t id = m_dwIdentity.load();
                Log("watchdog %u: %s, answered 0x%08X", n, name, id);
                ok = send(id, WD_GET_ID);
            }
            break;
        }
        case WD_SET_DELAY:
            periodMs = m.dwValue;
            Log("watchdog %u: %s %u ms", n, name, periodMs);
            break;
        case WD_START:
            startTick = px::TickCount64();
            nextTick = startTick + periodMs;
            signalling = periodMs != 0;
            Log("watchdog %u: %s, %s", n, name, signalling ? "signalling" : "period 0, no signals");
            break;
        default:
            Log("watchdog %u: %s (code %u, value %u) ignored", n, name, m.dwCode, m.dwValue);
            break;
        }
        if (!ok)
            break;
    }
    c->bFinished.store(true);
}

} // namespace pxsim
