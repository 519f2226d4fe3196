#include "sim/SimListener.h"

#include <cerrno>
#include <cstring>

namespace pxsim {

namespace {
constexpr int kSendBufferBytes = 4 << 20;
}

CSimConnection::CSimConnection(px::SocketHandle socket) : m_socket(socket) {}

CSimConnection::~CSimConnection()
{
    m_thread.Join();
    if (m_socket != px::kInvalidSocket)
        px::SocketClose(m_socket);
}

void CSimConnection::RequestStop()
{
    m_bStop.store(true);
    m_stopEvent.Set();
    m_wake.Set();
    px::SocketShutdown(m_socket, px::ShutdownHow::Both);
}

void CSimConnection::Serve()
{
    // A connection that runs out of memory ends; the simulator goes on.
    try {
        Run();
    } catch (...) {
    }
    Drop();
    MarkFinished();
}

void CSimConnection::Drop() { px::SocketShutdown(m_socket, px::ShutdownHow::Both); }

int CSimConnection::WaitReadableOrWake(uint32_t timeoutMs, bool* readable)
{
    *readable = false;
    if (m_bStop.load())
        return ECANCELED;
    if (m_rxPos < m_rxEnd) {
        *readable = true;
        return 0;
    }
    bool woken = false;
    const int timeout = timeoutMs == px::kInfinite ? -1 : static_cast<int>(timeoutMs);
    if (int e = px::SocketWaitReadableOrWake(m_socket, m_wake.Fd(), timeout, readable, &woken))
        return e;
    if (woken)
        m_wake.TryConsume();
    return m_bStop.load() ? ECANCELED : 0;
}

int CSimConnection::RecvExact(void* data, size_t len)
{
    uint8_t* p = static_cast<uint8_t*>(data);
    while (len > 0) {
        if (m_rxPos < m_rxEnd) {
            const size_t n = len < m_rxEnd - m_rxPos ? len : m_rxEnd - m_rxPos;
            std::memcpy(p, m_rxBuffer + m_rxPos, n);
            m_rxPos += n;
            p += n;
            len -= n;
            continue;
        }
        bool readable = false;
        if (int e = WaitReadableOrWake(px::kInfinite, &readable))
            return e;
        if (!readable)
            continue;
        // Large pieces go straight to their place; small ones through the read-ahead buffer.
        const bool direct = len >= sizeof m_rxBuffer;
        size_t got = 0;
        if (int e = px::SocketRecv(m_socket, direct ? p : m_rxBuffer, direct ? len : sizeof m_rxBuffer, &got))
            return e;
        if (got == 0)
            return ECONNRESET;
        if (direct) {
            p += got;
            len -= got;
        } else {
            m_rxPos = 0;
            m_rxEnd = got;
        }
    }
    return 0;
}

int CSimConnection::SendAll(const void* data, size_t len)
{
    if (m_bStop.load())
        return ECANCELED;
    return px::SocketSendAll(m_socket, data, len);
}

int CSimConnection::SendTwo(const void* a, size_t alen, const void* b, size_t blen)
{
    if (m_bStop.load())
        return ECANCELED;
    return px::SocketSendAll2(m_socket, a, alen, b, blen);
}

bool CSimConnection::Pause(uint32_t ms)
{
    if (ms == 0)
        return !m_bStop.load();
    m_stopEvent.Wait(ms);
    return !m_bStop.load();
}

CSimListener::~CSimListener() { Stop(); }

int CSimListener::Open(uint32_t addr, uint16_t port, bool refuse)
{
    if (int e = px::SocketOpenServer(addr, port, !refuse, &m_listen, &m_usPort)) {
        m_listen = px::kInvalidSocket;
        return e;
    }
    m_bListening = !refuse;
    return 0;
}

int CSimListener::Start(const char* threadName, SimConnectionFactory factory)
{
    m_factory = std::move(factory);
    m_strName = threadName;
    if (!m_bListening)
        return 0;
    return m_acceptThread.Start(threadName, [this] { AcceptLoop(); });
}

void CSimListener::AcceptLoop()
{
    for (;;) {
        bool readable = false, woken = false;
        if (px::SocketWaitReadableOrWake(m_listen, m_stop.Fd(), -1, &readable, &woken) != 0 || woken)
            return;
        if (!readable)
            continue;
        px::SocketHandle s = px::kInvalidSocket;
        if (px::SocketAccept(m_listen, &s) != 0)
            continue;   // the peer may have gone already; the port itself is fine
        if (m_bRefuse.load()) {
            px::SocketSetLinger(s, true, 0);   // a reset, not an orderly end
            px::SocketClose(s);
            continue;
        }
        px::SocketSetNoDelay(s, true);
        // Room for a whole frame, so a reply leaves in one go while the client reads.
        px::SocketSetBufferSizes(s, kSendBufferBytes);
        // Out of memory turns the client away; the port goes on.
        std::unique_ptr<CSimConnection> c;
        try {
            c = m_factory(s);
        } catch (...) {
        }
        if (!c) {
            px::SocketClose(s);
            continue;
        }
        CSimConnection* raw = c.get();
        try {
            std::lock_guard<std::mutex> lock(m_lock);
            m_connections.push_back(std::move(c));
        } catch (...) {
            continue;   // c still owns the connection and closes it
        }
        if (raw->ThreadObject().Start(m_strName.c_str(), [raw] { raw->Serve(); }) != 0)
            raw->MarkFinished();
        Reap(false);
    }
}

void CSimListener::Reap(bool all)
{
    std::list<std::unique_ptr<CSimConnection>> done;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if (all || (*it)->Finished()) {
                done.push_back(std::move(*it));
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Joined before destruction, so no thread runs in a half-destroyed connection; outside the
    // lock, so that a connection that is ending can still be counted.
    for (auto& c : done)
        c->ThreadObject().Join();
}

void CSimListener::Stop()
{
    m_stop.Set();
    m_acceptThread.Join();
    // The port closes before the open connections end, as a killed camera's do: a client that
    // sees its connection end and tries again finds nothing listening.
    if (m_listen != px::kInvalidSocket) {
        px::SocketClose(m_listen);
        m_listen = px::kInvalidSocket;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (auto& c : m_connections)
            c->RequestStop();
    }
    Reap(true);
}

size_t CSimListener::ConnectionCount()
{
    std::lock_guard<std::mutex> lock(m_lock);
    size_t n = 0;
    for (auto& c : m_connections)
        n += c->Finished() ? 0 : 1;
    return n;
}

} // namespace pxsim
