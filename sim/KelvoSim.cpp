#include "sim/KelvoSim.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "sim/SimMessageServer.h"
#include "sim/SimSession.h"
#include "sim/SimWatchdogServer.h"
#include "sim/SimWebService.h"

namespace pxsim {

using px::agent::BufferId;

// The watchdog and message ports are served by classes of their own.
struct CKelvoSim::Services {
    CSimWatchdogServer watchdog;
    CSimMessageServer messages;
};

namespace {

std::mutex g_logLock;   // whole lines, even from many connection threads

} // namespace

SimConfig DefaultSimConfig()
{
    SimConfig c;
    SimBufferConfig image;
    image.id = BufferId::FromText("IMG0");
    image.strComment = "VGA test pattern";
    c.buffers.push_back(image);

    SimBufferConfig hist;
    hist.id = BufferId::FromText("HIST");
    hist.dwType = PX_BUFTYPE_HISTOGRAM;
    hist.strSource = "IMG0";
    hist.strComment = "Histogram of IMG0";
    c.buffers.push_back(hist);

    SimBufferConfig text;
    text.id = BufferId::FromText("TEXT");
    text.dwType = PX_BUFTYPE_TEXT;
    text.strComment = "Status text";
    c.buffers.push_back(text);

    SimBufferConfig array;
    array.id = BufferId::FromText("ARR0");
    array.dwType = PX_BUFTYPE_ARRAY;
    array.strComment = "Measurements";
    c.buffers.push_back(array);

    SimBufferConfig input;
    input.id = BufferId::FromText("INP0");
    input.dwType = PX_BUFTYPE_INPUT;
    input.strComment = "Host input";
    c.buffers.push_back(input);
    return c;
}

SimConfig SingleImageSimConfig(const char* id, uint32_t width, uint32_t height, uint32_t format)
{
    SimConfig c;
    c.usPublishPort = c.usWatchdogPort = c.usMessagePort = c.usFirstBufferPort = 0;
    c.dwFrameIntervalMs = 0;
    SimBufferConfig image;
    image.id = BufferId::FromText(id);
    image.dwFullSizeX = width;
    image.dwFullSizeY = height;
    image.dwPixelFormat = format;
    c.buffers.push_back(image);
    return c;
}

CKelvoSim::CKelvoSim() = default;

std::string CKelvoSim::ClientConfigText() const
{
    return "PublishPort=" + std::to_string(m_usPublishPort) + "\nWatchDogPort=" + std::to_string(m_usWatchdogPort) +
           "\nAsyncMsgPort=" + std::to_string(m_usMessagePort) + "\n" +
           (WebPort() != 0 ? "WebServicePort=" + std::to_string(WebPort()) + "\n" : std::string()) +
           UpdateConfigText();
}

CKelvoSim::~CKelvoSim() { Stop(); }

void CKelvoSim::SetLog(SimLogSink sink, uint32_t verbosity)
{
    std::lock_guard<std::mutex> lock(g_logLock);
    m_logSink = std::move(sink);
    m_dwVerbosity.store(verbosity);
}

void CKelvoSim::Log(uint32_t level, const char* format, ...)
{
    if (!LogWanted(level))
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_logLock);
    if (m_logSink)
        m_logSink(level, line);
}

int CKelvoSim::Start(const SimConfig& config)
{
    if (m_bRunning.load())
        return EALREADY;
    m_config = config;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_faults = config.faults;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_usNextBufferPort = config.usFirstBufferPort;
    }
    m_stopProducer.Reset();

    m_pPublish = std::make_unique<CSimListener>();
    m_strStartFailure.clear();
    auto blame = [this](int e, const std::string& port) {
        if (e != 0 && m_strStartFailure.empty())
            m_strStartFailure = port;
        return e;
    };
    int e = blame(m_pPublish->Open(config.dwBindAddress, config.usPublishPort, config.faults.bRefusePublish),
                  "publish port " + std::to_string(config.usPublishPort));
    if (e == 0) {
        m_usPublishPort = m_pPublish->Port();
        const uint16_t port = m_usPublishPort;
        e = m_pPublish->Start("SimPublish", [this, port](px::SocketHandle s) {
            return std::make_unique<CSimSession>(s, *this, port);
        });
    }
    for (size_t i = 0; e == 0 && i < config.buffers.size(); ++i) {
        PublishedBuffer pb;
        uint16_t port = 0;
        e = OpenBuffer(config.buffers[i], &pb, &port);
        const std::string id = config.buffers[i].id.ToText().c_str();
        blame(e, port != 0 ? "port " + std::to_string(port) + " of buffer " + id : "buffer " + id);
        if (e == 0) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_buffers.push_back(std::move(pb));
        }
    }
    if (e == 0) {
        m_pServices = std::make_unique<Services>();
        auto log = [this](const std::string& line) { Log(2, "%s", line.c_str()); };
        m_pServices->watchdog.SetLog(log);
        m_pServices->watchdog.SetIdentity(config.dwWatchdogId);
        e = blame(m_pServices->watchdog.Start(config.usWatchdogPort, config.dwBindAddress),
                  "watchdog port " + std::to_string(config.usWatchdogPort));
        m_usWatchdogPort = m_pServices->watchdog.Port();
        if (e == 0) {
            m_pServices->messages.SetLog(log);
            e = blame(m_pServices->messages.Start(config.usMessagePort, config.dwBindAddress),
                      "message port " + std::to_string(config.usMessagePort));
            m_usMessagePort = m_pServices->messages.Port();
        }
        ApplyServiceFaults(config.faults);
    }
    if (e == 0)
        e = blame(StartWebService(config.web), "web-service port " + std::to_string(config.web.usPort));
    if (e == 0 && config.dwFrameIntervalMs != 0)
        e = m_producer.Start("SimFrames", [this] { ProducerLoop(); });
    m_bRunning.store(true);
    if (e != 0) {
        Log(1, "start failed: %s", strerror(e));
        Stop();
        return e;
    }
    Log(1, "agent %u.%u.%u on publish port %u, watchdog port %u, message port %u, %zu buffers",
        config.dwAgentVersion >> 24, (config.dwAgentVersion >> 16) & 0xFF, config.dwAgentVersion & 0xFFFF,
        m_usPublishPort, m_usWatchdogPort, m_usMessagePort, config.buffers.size());
    return 0;
}

int CKelvoSim::OpenBuffer(const SimBufferConfig& config, PublishedBuffer* out, uint16_t* tried)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (FindPublished(config.id) != nullptr)
            return EEXIST;
    }
    auto buffer = std::make_shared<CSimBuffer>(config);
    if (int e = buffer->Init())
        return e;
    uint16_t port = config.usPort;
    {
        std::lock_guard<std::mutex> lock(m_lock);   // AddBuffer may come from any thread
        if (port == 0 && m_usNextBufferPort != 0)
            port = m_usNextBufferPort++;
    }
    if (tried != nullptr)
        *tried = port;
    auto listener = std::make_unique<CSimListener>();
    SimFaults faults = Faults();
    if (int e = listener->Open(m_config.dwBindAddress, port, faults.bRefuseBuffers))
        return e;
    buffer->SetPort(listener->Port());
    const uint16_t bound = listener->Port();
    if (int e = listener->Start("SimBuffer", [this, bound](px::SocketHandle s) {
            return std::make_unique<CSimSession>(s, *this, bound);
        }))
        return e;
    Log(1, "buffer %s type %u on port %u", config.id.ToText().c_str(), config.dwType, bound);
    out->pBuffer = std::move(buffer);
    out->pListener = std::move(listener);
    return 0;
}

void CKelvoSim::Stop()
{
    if (!m_bRunning.exchange(false) && !m_pPublish)
        return;
    m_stopProducer.Set();
    m_producer.Join();
    StopWebService();
    if (m_pServices)
        m_pServices->messages.Stop();
    if (m_pServices)
        m_pServices->watchdog.Stop();
    if (m_pPublish)
        m_pPublish->Stop();
    std::vector<PublishedBuffer> buffers;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        buffers.swap(m_buffers);
    }
    for (PublishedBuffer& pb : buffers)
        pb.pListener->Stop();
    buffers.clear();
    m_pPublish.reset();
    m_pServices.reset();
    Log(1, "stopped");
}

uint16_t CKelvoSim::BufferPort(const char* id) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    const PublishedBuffer* pb = FindPublished(BufferId::FromText(id));
    return pb ? pb->pBuffer->Port() : 0;
}

const CKelvoSim::PublishedBuffer* CKelvoSim::FindPublished(BufferId id) const
{
    for (const PublishedBuffer& pb : m_buffers)
        if (pb.pBuffer->Id() == id)
            return &pb;
    return nullptr;
}

int CKelvoSim::AddBuffer(const SimBufferConfig& buffer, uint16_t* port)
{
    if (!m_bRunning.load())
        return EINVAL;
    PublishedBuffer pb;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (FindPublished(buffer.id))
            return EEXIST;
    }
    if (int e = OpenBuffer(buffer, &pb))
        return e;
    if (port)
        *port = pb.pBuffer->Port();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_buffers.push_back(std::move(pb));
    }
    NotifyListChanged();
    return 0;
}

int CKelvoSim::RemoveBuffer(const char* id)
{
    PublishedBuffer removed;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_buffers.begin();
        while (it != m_buffers.end() && it->pBuffer->Id() != BufferId::FromText(id))
            ++it;
        if (it == m_buffers.end())
            return ENOENT;
        removed = std::move(*it);
        m_buffers.erase(it);
    }
    removed.pListener->Stop();
    Log(1, "buffer %s withdrawn", removed.pBuffer->Id().ToText().c_str());
    NotifyListChanged();
    return 0;
}

void CKelvoSim::NotifyListChanged()
{
    Log(2, "buffer list changed");
    if (m_pServices)
        m_pServices->messages.NotifyBufferListChanged();
}

void CKelvoSim::ProducerLoop()
{
    while (m_stopProducer.Wait(m_config.dwFrameIntervalMs) == px::WaitResult::Timeout) {
        try {
            ProduceAll();
        } catch (...) {
            // Out of memory: this round's frames are missed; the next round tries again.
        }
    }
}

void CKelvoSim::ProduceFrame() { ProduceAll(); }

void CKelvoSim::ProduceAll()
{
    std::lock_guard<std::mutex> round(m_produceLock);
    const std::vector<std::shared_ptr<CSimBuffer>> buffers = Buffers();
    // Images first, so that a histogram counts the frame made in this same round.
    for (const auto& b : buffers)
        if (b->Type() == PX_BUFTYPE_IMAGE)
            b->Produce(nullptr);
    for (const auto& b : buffers) {
        if (b->Type() == PX_BUFTYPE_IMAGE)
            continue;
        const CSimBuffer* source = nullptr;
        if (b->Type() == PX_BUFTYPE_HISTOGRAM) {
            for (const auto& s : buffers) {
                if (s->Type() == PX_BUFTYPE_IMAGE &&
                    (b->Config().strSource.empty() || s->Id() == BufferId::FromText(b->Config().strSource.c_str()))) {
                    source = s.get();
                    break;
                }
            }
        }
        b->Produce(source);
    }
}

void CKelvoSim::SetFaults(const SimFaults& faults)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_faults = faults;
        if (m_pPublish)
            m_pPublish->SetRefuse(faults.bRefusePublish);
        for (PublishedBuffer& pb : m_buffers)
            pb.pListener->SetRefuse(faults.bRefuseBuffers);
    }
    ApplyServiceFaults(faults);
}

void CKelvoSim::ApplyServiceFaults(const SimFaults& faults)
{
    if (!m_pServices)
        return;
    m_pServices->watchdog.SetStopSignalsAfter(faults.dwWatchdogStopAfterMs);
    m_pServices->watchdog.SetNoCheckReply(faults.bWatchdogNoCheckReply);
    m_pServices->watchdog.SetRefuseConnections(faults.bRefuseWatchdog);
    m_pServices->watchdog.SetReplyDelay(faults.dwReplyDelayMs);
    m_pServices->messages.SetRefuseConnections(faults.bRefuseMessage);
}

SimFaults CKelvoSim::Faults() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_faults;
}

std::shared_ptr<CSimBuffer> CKelvoSim::FindBuffer(BufferId id) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    const PublishedBuffer* pb = FindPublished(id);
    return pb ? pb->pBuffer : nullptr;
}

std::shared_ptr<CSimBuffer> CKelvoSim::FindBufferByPort(uint16_t port) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (const PublishedBuffer& pb : m_buffers)
        if (pb.pBuffer->Port() == port)
            return pb.pBuffer;
    return nullptr;
}

std::vector<std::shared_ptr<CSimBuffer>> CKelvoSim::Buffers() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<std::shared_ptr<CSimBuffer>> out;
    for (const PublishedBuffer& pb : m_buffers)
        out.push_back(pb.pBuffer);
    return out;
}

uint32_t CKelvoSim::TotalSubscribers() const
{
    uint32_t n = 0;
    for (const auto& b : Buffers())
        n += b->Subscribers();
    return n;
}

uint32_t CKelvoSim::Subscribers(const char* id) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    const PublishedBuffer* pb = FindPublished(BufferId::FromText(id));
    return pb ? pb->pBuffer->Subscribers() : 0;
}

uint64_t CKelvoSim::Serial(const char* id) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    const PublishedBuffer* pb = FindPublished(BufferId::FromText(id));
    return pb ? pb->pBuffer->Serial() : 0;
}

std::vector<std::vector<uint8_t>> CKelvoSim::Inputs(const char* id) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    const PublishedBuffer* pb = FindPublished(BufferId::FromText(id));
    return pb ? pb->pBuffer->Inputs() : std::vector<std::vector<uint8_t>>();
}

SimSubscription CKelvoSim::LastSubscription(const char* id) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    const PublishedBuffer* pb = FindPublished(BufferId::FromText(id));
    return pb ? pb->lastSubscription : SimSubscription();
}

void CKelvoSim::NoteSubscription(const CSimBuffer& buffer, const SimSubscription& s)
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (PublishedBuffer& pb : m_buffers)
        if (pb.pBuffer.get() == &buffer)
            pb.lastSubscription = s;
}

void CKelvoSim::NoteWaiting(int delta)
{
    {
        std::lock_guard<std::mutex> lock(m_waitLock);
        m_dwWaiting = static_cast<uint32_t>(static_cast<int>(m_dwWaiting) + delta);
    }
    m_waitChanged.notify_all();
}

bool CKelvoSim::WaitForWaitingRequests(uint32_t count, uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_waitLock);
    return m_waitChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_dwWaiting == count; });
}

} // namespace pxsim
