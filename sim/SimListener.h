// A listening TCP port of the simulator and the connections accepted on it.
//
// The listener's accept thread waits on the listening socket and on its stop event; each accepted
// connection gets an object from the factory and a thread of its own that runs it. Stop() ends
// the accept thread, then wakes and shuts down every connection (a thread blocked in a send or a
// receive returns once its socket is shut down) and joins them. Finished connections are joined
// and freed by the accept thread as new ones come.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Thread.h"

namespace pxsim {

// One accepted connection. Run() is called on the connection's own thread.
class CSimConnection {
public:
    explicit CSimConnection(px::SocketHandle socket);
    virtual ~CSimConnection();
    CSimConnection(const CSimConnection&) = delete;
    CSimConnection& operator=(const CSimConnection&) = delete;

    virtual void Run() = 0;
    // Runs the connection and then ends it, so the peer sees the close at once.
    void Serve();

    // Asks the connection to end: its waits return and its socket is shut down.
    void RequestStop();
    bool Stopping() const { return m_bStop.load(); }
    bool Finished() const { return m_bFinished.load(); }
    px::Thread& ThreadObject() { return m_thread; }
    void MarkFinished() { m_bFinished.store(true); }

protected:
    // Receives exactly len bytes. 0, ECONNRESET when the peer closed, ECANCELED when stopping,
    // or another errno value.
    int RecvExact(void* data, size_t len);
    int SendAll(const void* data, size_t len);
    // Sends a then b as one stream piece (one system call where the platform offers it).
    int SendTwo(const void* a, size_t alen, const void* b, size_t blen);
    // Waits until the socket is readable or the wake event is set. Returns 0 with *readable
    // telling which, ECANCELED when stopping.
    int WaitReadableOrWake(uint32_t timeoutMs, bool* readable);
    // Waits up to ms unless the connection is being stopped; false when stopping.
    bool Pause(uint32_t ms);
    // Closes the connection now (both directions); later sends and receives fail.
    void Drop();

    px::SocketHandle m_socket;
    px::Event m_wake{false, false};     // new frame, or stop
    px::Event m_stopEvent{true, false};
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bFinished{false};
    px::Thread m_thread;

private:
    // Bytes received ahead of the reader: a whole request usually comes in one receive call.
    uint8_t m_rxBuffer[4096];
    size_t m_rxPos = 0, m_rxEnd = 0;
};

using SimConnectionFactory = std::function<std::unique_ptr<CSimConnection>(px::SocketHandle)>;

class CSimListener {
public:
    CSimListener() = default;
    ~CSimListener();
    CSimListener(const CSimListener&) = delete;
    CSimListener& operator=(const CSimListener&) = delete;

    // Binds addr:port (0: any free port) and, unless refusing, listens. Returns 0 or errno.
    // A refusing port stays bound without listening, so connection attempts are turned away.
    int Open(uint32_t addr, uint16_t port, bool refuse);
    uint16_t Port() const { return m_usPort; }
    // Starts the accept thread (nothing to do on a refusing port). Returns 0 or errno.
    int Start(const char* threadName, SimConnectionFactory factory);
    // While set, new connections are reset as soon as they are accepted.
    void SetRefuse(bool refuse) { m_bRefuse.store(refuse); }
    void Stop();
    size_t ConnectionCount();

private:
    void AcceptLoop();
    void Reap(bool all);

    px::SocketHandle m_listen = px::kInvalidSocket;
    uint16_t m_usPort = 0;
    bool m_bListening = false;
    std::atomic<bool> m_bRefuse{false};
    px::Event m_stop{true, false};
    px::Thread m_acceptThread;
    SimConnectionFactory m_factory;
    std::mutex m_lock;
    std::list<std::unique_ptr<CSimConnection>> m_connections;
    std::string m_strName;
};

} // namespace pxsim
