// The agent's watchdog port, played by the camera simulator.
//
// How to use it:
//     CSimWatchdogServer wd;
//     wd.SetLog([](const std::string& line) { ... });   // optional, before Start()
//     wd.SetIdentity(0x4B454C56);                       // the value WD_GET_ID hands out
//     if (int e = wd.Start(3073)) ...;                  // 0: any free port, then ask Port()
//     ... wd.SetStopSignalsAfter(500); wd.SetNoCheckReply(true); ...   // faults, at any time
//     wd.Stop();                                        // also done by the destructor
//
// Each connection plays one client's watchdog link: WD_CHECK is answered with value 1,
// WD_GET_ID with the identity, WD_SET_DELAY sets the connection's signal period (ms) and WD_START
// starts WD_SIGNAL messages at that period on that connection (a period of 0 sends none). All
// messages are the 8-byte records of netaccess/AgentProtocol.h.
//
// Threads: Start() launches the accept thread; every accepted connection gets a thread of its own
// that reads the client's messages, answers them and sends the signals in time, so a slow or
// silent client holds up nobody else. Stop() sets the stop event, which every wait of every thread
// also watches, shuts every socket down (which wakes a thread blocked in a send or a receive) and
// joins all threads before it returns. The log function is called on these threads, one call at
// a time, one line per connection event and per message.
// Start() and Stop() belong to the owner's thread; the setters, Port() and ConnectionCount()
// may be called from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Thread.h"

namespace pxsim {

class CSimWatchdogServer {
public:
    using LogFunction = std::function<void(const std::string&)>;
    // Signal period of a connection that sends WD_START without WD_SET_DELAY.
    static constexpr uint32_t kDefaultSignalPeriodMs = 1000;

    CSimWatchdogServer() = default;
    ~CSimWatchdogServer();
    CSimWatchdogServer(const CSimWatchdogServer&) = delete;
    CSimWatchdogServer& operator=(const CSimWatchdogServer&) = delete;

    // Before Start(); null for no log.
    void SetLog(LogFunction log);

    // Settings and fault switches, read afresh by every connection at each step.
    void SetIdentity(uint32_t identity) { m_dwIdentity.store(identity); }
    // Signals end this many ms after a connection's WD_START (0: they never end).
    void SetStopSignalsAfter(uint32_t ms) { m_dwStopSignalsAfterMs.store(ms); }
    // WD_CHECK goes unanswered.
    void SetNoCheckReply(bool on) { m_bNoCheckReply.store(on); }
    // New connections are accepted and closed at once (with a reset).
    void SetRefuseConnections(bool on) { m_bRefuse.store(on); }
    // Every reply (WD_CHECK, WD_GET_ID) waits this long first; signals are not delayed.
    void SetReplyDelay(uint32_t ms) { m_dwReplyDelayMs.store(ms); }

    // Listens on address:port (0: any free port). Returns 0 or an errno value (EBUSY when running).
    int Start(uint16_t port, uint32_t address = px::kLoopbackAddress);
    void Stop();
    uint16_t Port() const { return m_usPort; }
    // Connections whose thread is still serving.
    size_t ConnectionCount();

private:
    struct Connection {
        px::SocketHandle socket = px::kInvalidSocket;
        uint32_t dwNumber = 0;
        std::atomic<bool> bFinished{false};
        px::Thread thread;
    };

    void AcceptLoop();
    void Serve(Connection* connection);
    // Waits the reply delay unless stopping; false when stopping.
    bool DelayReply(uint32_t number, const char* name);
    void ReapFinished();
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    px::SocketHandle m_listen = px::kInvalidSocket;
    uint16_t m_usPort = 0;
    px::Event m_stop{true, false};
    std::atomic<bool> m_bStopping{false};
    px::Thread m_acceptThread;
    px::CriticalSection m_connectionsLock;
    std::list<std::unique_ptr<Connection>> m_connections PX_GUARDED_BY(m_connectionsLock);
    uint32_t m_dwNextNumber = 1;   // accept thread only

    std::atomic<uint32_t> m_dwIdentity{0};
    std::atomic<uint32_t> m_dwStopSignalsAfterMs{0};
    std::atomic<bool> m_bNoCheckReply{false};
    std::atomic<bool> m_bRefuse{false};
    std::atomic<uint32_t> m_dwReplyDelayMs{0};

    px::CriticalSection m_logLock;
    LogFunction m_log;
};

} // namespace pxsim
