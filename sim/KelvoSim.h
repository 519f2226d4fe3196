// kelvo-sim: a simulated Kelvo camera agent on real TCP sockets.
//
// CKelvoSim plays the camera's agent for the component, for tests (in-process, on ephemeral
// ports) and for the kelvo-sim program: the publish port (buffer list, resource check), one port
// per published exchange buffer (subscription, info records, data, input), the watchdog port and
// the asynchronous message port, every one bound to the configured address.
//
// Who owns what, and which thread runs where:
//   - CKelvoSim owns the buffers (shared with the connections that serve them), one CSimListener
//     for the publish port and one per buffer, the watchdog and message services, and the
//     producer thread. Start() builds all of it and returns only when every port is listening;
//     Stop() (also run by the destructor) takes it down in reverse and returns when every thread
//     has ended.
//   - Each listener has an accept thread; each accepted connection has a thread of its own
//     (CSimSession) that reads commands and writes replies, and blocks only in its socket or in
//     a wait that Stop() interrupts.
//   - The producer thread ("SimFrames") makes a frame of every buffer per interval and wakes the
//     connections that wait for one. With an interval of 0 frames come only from ProduceFrame().
//   - The faults, the log sink and the buffer table are guarded by m_lock; frames by each
//     buffer's own lock. No lock is held while sending or rendering.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/Thread.h"
#include "sim/SimBuffer.h"
#include "sim/SimConfig.h"
#include "sim/SimListener.h"

namespace pxsim {

class CSimWebService;

// Log levels: 1 start, stop and connections; 2 every command; 3 every reply.
using SimLogSink = std::function<void(uint32_t level, const char* line)>;

// What the last subscription (CMD_SET_TRANSFER_BUFFER) of a buffer carried.
struct SimSubscription {
    std::string strClientName;
    uint32_t dwWaitForUpdate = 0;
    bool bWithWatchdogId = false;
    uint32_t dwWatchdogId = 0;
};

class CKelvoSim {
public:
    CKelvoSim();
    ~CKelvoSim();
    CKelvoSim(const CKelvoSim&) = delete;
    CKelvoSim& operator=(const CKelvoSim&) = delete;

    // Set before Start(); lines of a level above verbosity are not made.
    void SetLog(SimLogSink sink, uint32_t verbosity);

    // Opens every port and starts serving. 0, or the errno value of the first failure (EINVAL for
    // a bad buffer setting, EALREADY when running); on failure nothing is left running.
    int Start(const SimConfig& config);
    // After a failed Start: the port that failed, for a person ("publish port 3072"); empty when
    // no port was to blame.
    std::string StartFailure() const { return m_strStartFailure; }
    void Stop();
    bool Running() const { return m_bRunning.load(); }

    // Ports as bound (the actual ones when 0 was asked for).
    uint16_t PublishPort() const { return m_usPublishPort; }
    uint16_t WatchdogPort() const { return m_usWatchdogPort; }
    uint16_t MessagePort() const { return m_usMessagePort; }
    // The camera's web service; 0 and null when it does not run.
    uint16_t WebPort() const;
    CSimWebService* WebService() { return m_pWeb.get(); }
    // The configuration-file lines that point the library at this simulator's ports.
    std::string ClientConfigText() const;
    // 0 when no such buffer.
    uint16_t BufferPort(const char* id) const;

    // Publishes one more buffer / withdraws one, while running; both announce the change on the
    // message port. 0 or errno (EEXIST, ENOENT, EINVAL, or a socket error).
    int AddBuffer(const SimBufferConfig& buffer, uint16_t* port);
    int RemoveBuffer(const char* id);

    // Makes one frame of every buffer now.
    void ProduceFrame();
    void SetFaults(const SimFaults& faults);
    SimFaults Faults() const;

    // Observation, for tests and the program's status line.
    uint32_t Subscribers(const char* id) const;
    uint64_t Serial(const char* id) const;
    std::vector<std::vector<uint8_t>> Inputs(const char* id) const;
    SimSubscription LastSubscription(const char* id) const;
    // Waits until exactly `count` data requests wait for their next frame; false on time-out.
    bool WaitForWaitingRequests(uint32_t count, uint32_t timeoutMs);
    uint32_t ConnectionsAccepted() const { return m_dwAccepted.load(); }

    // --- for the connection threads -------------------------------------------------------------
    uint32_t AgentVersion() const { return m_config.dwAgentVersion; }
    uint32_t ListRecordSize() const { return m_config.dwListRecordSize; }
    std::shared_ptr<CSimBuffer> FindBuffer(px::agent::BufferId id) const;
    std::shared_ptr<CSimBuffer> FindBufferByPort(uint16_t port) const;
    std::vector<std::shared_ptr<CSimBuffer>> Buffers() const;
    uint32_t TotalSubscribers() const;
    void NoteSubscription(const CSimBuffer& buffer, const SimSubscription& s);
    void NoteWaiting(int delta);
    bool LogWanted(uint32_t level) const { return level <= m_dwVerbosity.load(); }
    void Log(uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    uint32_t NextConnectionNumber() { return ++m_dwAccepted; }

private:
    struct PublishedBuffer {
        std::shared_ptr<CSimBuffer> pBuffer;
        std::unique_ptr<CSimListener> pListener;
        SimSubscription lastSubscription;
    };

    // *tried (may be null): the port asked for, also when opening it failed.
    int OpenBuffer(const SimBufferConfig& config, PublishedBuffer* out, uint16_t* tried = nullptr);
    void ProducerLoop();
    void ProduceAll();
    void NotifyListChanged();
    int StartWebService(const SimWebConfig& web);
    // The lines that point the library at the update side, when it runs.
    std::string UpdateConfigText() const;
    void StopWebService();
    void ApplyServiceFaults(const SimFaults& faults);
    const PublishedBuffer* FindPublished(px::agent::BufferId id) const;

    SimConfig m_config;
    std::string m_strStartFailure;
    std::atomic<bool> m_bRunning{false};
    uint16_t m_usPublishPort = 0, m_usWatchdogPort = 0, m_usMessagePort = 0;
    uint16_t m_usNextBufferPort = 0;

    mutable std::mutex m_lock;
    std::vector<PublishedBuffer> m_buffers;
    SimFaults m_faults;
    SimLogSink m_logSink;
    std::atomic<uint32_t> m_dwVerbosity{0};

    std::unique_ptr<CSimListener> m_pPublish;
    struct Services;   // the watchdog and message ports
    std::unique_ptr<Services> m_pServices;
    std::unique_ptr<CSimWebService> m_pWeb;

    px::Event m_stopProducer{true, false};
    px::Thread m_producer;
    std::mutex m_produceLock;   // one round of frames at a time

    std::mutex m_waitLock;
    std::condition_variable m_waitChanged;
    uint32_t m_dwWaiting = 0;
    std::atomic<uint32_t> m_dwAccepted{0};
};

} // namespace pxsim
