// The agent's asynchronous message port, played by the camera simulator.
//
// How to use it:
//     CSimMessageServer msg;
//     msg.SetLog([](const std::string& line) { ... });  // optional, before Start()
//     if (int e = msg.Start(3075)) ...;                // 0: any free port, then ask Port()
//     msg.NotifyBufferListChanged();                   // whenever the set of buffers changes
//     msg.SetRefuseConnections(true);                  // fault, at any time
//     msg.Stop();                                      // also done by the destructor
//
// Clients connect and stay connected; the agent only ever speaks on this port. Each
// NotifyBufferListChanged() sends one 8-byte MSG_BUFFER_LIST_CHANGED message (netaccess/
// AgentProtocol.h) to every client still connected. Anything a client sends is read and dropped.
//
// Threads: Start() launches one accept thread, which waits on the listening socket and the stop
// event. Connections have no thread: NotifyBufferListChanged() sends on the caller's thread and,
// like ConnectionCount(), first drops the clients that have gone away. Stop() sets the stop event,
// joins the accept thread and closes every connection. The log function is called one call at a
// time, one line per connection event and per message sent.
// Start() and Stop() belong to the owner's thread; the setters, Port(), ConnectionCount()
// and NotifyBufferListChanged() may be called from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Thread.h"

namespace pxsim {

class CSimMessageServer {
public:
    using LogFunction = std::function<void(const std::string&)>;

    CSimMessageServer() = default;
    ~CSimMessageServer();
    CSimMessageServer(const CSimMessageServer&) = delete;
    CSimMessageServer& operator=(const CSimMessageServer&) = delete;

    // Before Start(); null for no log.
    void SetLog(LogFunction log);
    // New connections are accepted and closed at once (with a reset).
    void SetRefuseConnections(bool on) { m_bRefuse.store(on); }

    // Listens on address:port (0: any free port). Returns 0 or an errno value (EBUSY when running).
    int Start(uint16_t port, uint32_t address = px::kLoopbackAddress);
    void Stop();
    uint16_t Port() const { return m_usPort; }

    // Sends MSG_BUFFER_LIST_CHANGED to every connected client; returns how many got it.
    size_t NotifyBufferListChanged();
    size_t ConnectionCount();

private:
    struct Client {
        px::SocketHandle socket;
        uint32_t dwNumber;
    };

    void AcceptLoop();
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    px::SocketHandle m_listen = px::kInvalidSocket;
    uint16_t m_usPort = 0;
    px::Event m_stop{true, false};
    std::atomic<bool> m_bRefuse{false};
    px::Thread m_acceptThread;
    px::CriticalSection m_clientsLock;
    std::vector<Client> m_clients PX_GUARDED_BY(m_clientsLock);
    uint32_t m_dwNextNumber = 1;  // accept thread only

    px::CriticalSection m_logLock;
    LogFunction m_log;
};

} // namespace pxsim
