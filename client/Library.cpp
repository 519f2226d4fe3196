// The exported PX functions of libpellix and the process-wide state behind them.
//
// Who owns what: the library owns the handle table, a list of client records in the order of
// their creation; each record owns its CClient (at most one) and its CAgentChannel (at most one),
// and the channel owns the buffer list PXGetBufferList hands out. The library lock guards the
// table only: a call finds its record under the lock (one lookup, LookUp), then works on the
// record outside it, so calls on different handles run in parallel and calls on one handle are
// serialised by the client's and the channel's own locks. The host must not terminate a handle
// while another of its threads is inside a call on it.
//
// Lock order. Every thread takes the locks of the library in this order and never the other way:
//   1. the library lock (handle table), released before any of the others is taken;
//   2. a client's buffer lock, or a channel's request lock (one request at a time);
//   3. the send lock of that request's connection;
//   4. a link's lock (NetTransferBuffer), held only while a transfer slot is taken;
//   5. the channel's status lock, read when a wait ran out (under 2, and 3 for a send);
//   6. a connection's record of its first failure, and the logger's lock (a trace line): leaves,
//      taken under any of the above and holding nothing else.
// A second thread may call PXForceTransferInProgress (3, 4) or PXCancelTransfers (no lock) while a
// read holds 2; the link's worker threads take none of these locks.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <new>
#include <vector>

#include "client/AgentChannel.h"
#include "client/Client.h"
#include "client/ClientTrace.h"
#include "client/LibraryInternal.h"
#include "log/XmlLogger.h"
#include "netaccess/protocol/AgentProtocol.h"
#include "pellix/pellix.h"
#include "platform/Config.h"
#include "platform/CriticalSection.h"

using namespace px::agent;

namespace {

// The value a traced thread handle shows: the platform's pseudo handle of the current thread.
constexpr unsigned long kCurrentThreadPseudoHandle = 0xFFFFFFFEul;
constexpr uint32_t kLibraryLogSection = 1;

struct CClientRecord {
    NetAddress m_address;   // the host name and the IPv4 address (0 when none)
    PXHANDLE m_hHandle = 0;
    char m_szClientName[256] = {};
    bool m_bValid = false;
    bool m_bErrorMessages = false;
    std::unique_ptr<CClient> m_pClient;
    std::unique_ptr<CAgentChannel> m_pAgentChannel;
    uint32_t m_dwTimeout = 0;
    uint16_t m_usPublishPort = 3072;

    ~CClientRecord()
    {
        // The client consults the channel: it goes first.
        m_pClient.reset();
        m_pAgentChannel.reset();
    }
};

struct Library {
    px::CriticalSection lock;
    bool bTableExists = false;
    std::list<CClientRecord*> table;
    PXHANDLE hNext = 1;
    char szVersion[50] = {};
    LibraryTiming timing;
};

// Never destroyed: hosts may call in while the process exits.
Library& Lib()
{
    static Library* lib = new Library;
    return *lib;
}

void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Trace(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    TraceLine(kLibraryLogSection, false, format, args);
    va_end(args);
}

// Traces skip their argument work entirely when no log exists.
#define PX_TRACE(...)                                                                             \
    do {                                                                                          \
        if (GetXmlLogger() != nullptr)                                                            \
            Trace(__VA_ARGS__);                                                                   \
    } while (0)

unsigned long P(const void* p) { return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)); }

// An identifier printed character by character; a missing one prints as four blanks.
struct IdChars {
    char c[4];
    explicit IdChars(const char* id)
    {
        for (int i = 0; i < 4; ++i)
            c[i] = id != nullptr ? id[i] : ' ';
    }
};

// The identifier the client works with: a missing one is four NUL characters.
const char* IdOrEmpty(const char* id) { return id != nullptr ? id : "\0\0\0\0"; }

// The one handle check: the record of a live handle, or null.
CClientRecord* LookUp(PXHANDLE h)
{
    if (h == 0)
        return nullptr;
    Library& lib = Lib();
    px::CsLock guard(lib.lock);
    for (CClientRecord* record : lib.table) {
        if (record->m_hHandle == h)
            return record;
    }
    return nullptr;
}

// A handle not 0 and not held by a live record; called under the library lock.
PXHANDLE NewHandle(Library& lib)
{
    for (;;) {
        PXHANDLE h = lib.hNext++;
        if (h == 0)
            continue;
        bool used = false;
        for (CClientRecord* record : lib.table)
            used = used || record->m_hHandle == h;
        if (!used)
            return h;
    }
}

// The buffer-function frame: 2010 without record, 2000 without exchange-buffer client.
template <typename Fn>
uint32_t WithClient(PXHANDLE h, Fn fn)
{
    CClientRecord* record = LookUp(h);
    if (record == nullptr)
        return PX_INVALID_HANDLE;
    if (!record->m_pClient)
        return PX_ERROR;
    return fn(*record->m_pClient);
}

} // namespace

void PellixSetTimingForTests(const LibraryTiming& timing)
{
    Library& lib = Lib();
    px::CsLock guard(lib.lock);
    lib.timing = timing;
}

extern "C" {

PX_API const char* PXClientGetVersion(void)
{
    PX_TRACE("%08lX - PXClientGetVersion()\n", kCurrentThreadPseudoHandle);
    Library& lib = Lib();
    std::snprintf(lib.szVersion, sizeof lib.szVersion, "%s", "4.0.352.1");
    return lib.szVersion;
}

PX_API uint32_t PXClientGetDWORDVersion(void)
{
    PX_TRACE("%08lX - PXClientGetDWORDVersion()\n", kCurrentThreadPseudoHandle);
    return PX_VERSION;
}

PX_API void PXInitLibrary(void)
{
    PX_TRACE("%08lX - PXInitLibrary()\n", kCurrentThreadPseudoHandle);
    Library& lib = Lib();
    px::CsLock guard(lib.lock);
    lib.bTableExists = true;
}

PX_API void PXCloseLibrary(void)
{
    PX_TRACE("%08lX - PXCloseLibrary()\n", kCurrentThreadPseudoHandle);
    Library& lib = Lib();
    {
        px::CsLock guard(lib.lock);
        if (lib.bTableExists) {
            // Clients still open are not terminated: their threads may still be in calls.
            lib.table.clear();
            lib.bTableExists = false;
        }
    }
    DestroyXmlLogger();
}

PX_API uint32_t PXClientInit(const char* host, const uint8_t* ipv4, const char* clientName, PXHANDLE* handle,
                             uint32_t timeoutMs, uint32_t agentChannel, uint32_t signalDelay, uint32_t signalTimeout,
                             uint32_t retries)
{
    const bool valid = agentChannel ? (signalDelay != 0 && signalTimeout != 0 && retries != 0)
                                    : !(signalDelay != 0 && signalTimeout != 0);
    if (!valid || signalTimeout < signalDelay || handle == nullptr)
        return PX_INVALID_PARAMETER;
    PX_TRACE("%08lX - PXClientInit(%s,%08lX,%s,%08lX,%08lX,%d)\n", kCurrentThreadPseudoHandle,
             host != nullptr ? host : "(null)", P(ipv4), clientName != nullptr ? clientName : "(null)", P(handle),
             static_cast<unsigned long>(timeoutMs), static_cast<int>(agentChannel));

    std::unique_ptr<CClientRecord> record(new (std::nothrow) CClientRecord);
    if (!record)
        return PX_INIT_FAILED;
    record->m_dwTimeout = timeoutMs;
    record->m_usPublishPort = static_cast<uint16_t>(px::ConfigGetNumber("PublishPort", 3072));
    record->m_bErrorMessages = px::ConfigGetNumber("ShowDebugMessage", 0) != 0;
    record->m_address = NetAddress::Of(host, ipv4);
    if (clientName != nullptr)
        std::snprintf(record->m_szClientName, sizeof record->m_szClientName, "%s", clientName);
    record->m_bValid = true;

    Library& lib = Lib();
    AgentChannelTiming channelTiming;
    {
        px::CsLock guard(lib.lock);
        lib.bTableExists = true;
        record->m_hHandle = NewHandle(lib);
        channelTiming = lib.timing.channel;
    }
    *handle = record->m_hHandle;

    // A channel that cannot connect still leaves a handle; its failure shows in later calls.
    if (agentChannel) {
        record->m_pAgentChannel.reset(new (std::nothrow) CAgentChannel(
            record->m_address, record->m_usPublishPort, record->m_szClientName, timeoutMs, record->m_bErrorMessages,
            signalDelay, signalTimeout, retries, channelTiming));
        if (!record->m_pAgentChannel)
            return PX_INIT_FAILED;
    }
    px::CsLock guard(lib.lock);
    lib.table.push_back(record.release());
    return PX_OK;
}

PX_API uint32_t PXClientTerminate(PXHANDLE h)
{
    PX_TRACE("%08lX - PXClientTerminate(%08lX)\n", kCurrentThreadPseudoHandle, static_cast<unsigned long>(h));
    Library& lib = Lib();
    CClientRecord* found = nullptr;
    {
        px::CsLock guard(lib.lock);
        for (auto it = lib.table.begin(); it != lib.table.end(); ++it) {
            if ((*it)->m_hHandle == h && h != 0) {
                found = *it;
                lib.table.erase(it);
                break;
            }
        }
    }
    if (found == nullptr)
        return PX_INVALID_HANDLE;
    delete found;
    return PX_OK;
}

PX_API uint32_t PXVerifyResources(PXHANDLE agent, uint32_t resource, uint32_t* answer)
{
    PX_TRACE("%08lX - PXVerifyResources(%08lX,%08lX,%08lX)\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(agent), static_cast<unsigned long>(resource), P(answer));
    // The answer says "not available" until the agent says otherwise, whatever stops the check.
    if (answer != nullptr)
        *answer = 0;
    CClientRecord* record = LookUp(agent);
    if (record == nullptr)
        return PX_INVALID_HANDLE;
    if (!record->m_pAgentChannel)
        return PX_ERROR;
    const uint32_t version = record->m_pAgentChannel->AgentVersion();
    if (version != 0 && !AgentHasResourceCheck(version))
        return PX_NOT_SUPPORTED;
    uint32_t local = 0;
    uint32_t r = record->m_pAgentChannel->VerifyResources(static_cast<uint16_t>(resource), &local);
    if (answer != nullptr)
        *answer = local;
    return r;
}

PX_API uint32_t PXSetExchangeBuffer(PXHANDLE h, uint32_t port, const char* id, uint32_t waitForUpdate, PXHANDLE agent)
{
    IdChars c(id);
    PX_TRACE("%08lX - PXSetExchangeBuffer(%08lX,%d,'%c%c%c%c',%d)\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(h), static_cast<int>(port & 0xFFFF), c.c[0], c.c[1], c.c[2], c.c[3],
             static_cast<int>(waitForUpdate));
    if (agent != 0) {
        uint32_t answer = 0;
        uint32_t r = PXVerifyResources(agent, port & 0xFFFF, &answer);
        if (r != PX_OK && r != PX_NOT_SUPPORTED)
            return r;
        if (r == PX_OK && answer == 0)
            return PX_NO_RESOURCES;
    }
    CClientRecord* agentRecord = agent != 0 ? LookUp(agent) : nullptr;
    if (agent != 0 && agentRecord == nullptr)
        return PX_INVALID_PARAMETER;
    CClientRecord* record = LookUp(h);
    if (record == nullptr)
        return PX_INVALID_HANDLE;

    ClientTiming timing;
    {
        Library& lib = Lib();
        px::CsLock guard(lib.lock);
        timing = lib.timing.client;
    }
    CAgentChannel* channel = agentRecord != nullptr ? agentRecord->m_pAgentChannel.get() : nullptr;
    record->m_pClient.reset();
    record->m_pClient.reset(new (std::nothrow) CClient(record->m_address, static_cast<uint16_t>(port & 0xFFFF),
                                                       record->m_szClientName, record->m_dwTimeout,
                                                       record->m_bErrorMessages, channel, timing));
    if (!record->m_pClient)
        return PX_ERROR;
    uint32_t result = record->m_pClient->SetTransferBuffer(IdOrEmpty(id), waitForUpdate);
    if (record->m_pClient->Timeout() == PX_INFINITE)
        return result;
    if (agent == 0)
        return PX_INVALID_PARAMETER;
    if (channel != nullptr && channel->WatchDogStatus() == PX_NO_WATCHDOG)
        return PX_NO_WATCHDOG;
    return result;
}

PX_API uint32_t PXSetExchangeBufferInfoStruct(PXHANDLE h, const char* id, const void* info)
{
    IdChars c(id);
    PX_TRACE("%08lX - PXSetExchangeBufferInfoStruct(%08lX,'%c%c%c%c',%08lX)\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(h), c.c[0], c.c[1], c.c[2], c.c[3], P(info));
    return WithClient(h, [&](CClient& client) {
        if (info == nullptr)
            return PX_ERROR;
        uint32_t words[kClientInfoRecordWords];
        std::memcpy(words, info, sizeof words);
        return client.SetTransferBufferInfo(IdOrEmpty(id), words);
    });
}

PX_API uint32_t PXSetExchangeBufferInfo(PXHANDLE h, const char* id, uint32_t param, const uint32_t* value)
{
    IdChars c(id);
    PX_TRACE("%08lX - PXSetExchangeBufferInfo(%08lX,'%c%c%c%c',%08lX,%08lX)\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(h), c.c[0], c.c[1], c.c[2], c.c[3], static_cast<unsigned long>(param),
             P(value));
    return WithClient(h, [&](CClient& client) { return client.SetTransferBufferInfo(IdOrEmpty(id), param, value); });
}

PX_API uint32_t PXGetExchangeBufferInfoStruct(PXHANDLE h, const char* id, void* info)
{
    IdChars c(id);
    PX_TRACE("%08lX - PXGetExchangeBufferInfoStruct(%08lX,'%c%c%c%c',%08lX)\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(h), c.c[0], c.c[1], c.c[2], c.c[3], P(info));
    return WithClient(h, [&](CClient& client) {
        if (info == nullptr)
            return client.GetTransferBufferInfo(IdOrEmpty(id), static_cast<uint32_t*>(nullptr));
        // Words beyond the type's record stay as the caller had them.
        uint32_t words[kClientInfoRecordWords];
        std::memcpy(words, info, sizeof words);
        uint32_t r = client.GetTransferBufferInfo(IdOrEmpty(id), words);
        std::memcpy(info, words, sizeof words);
        return r;
    });
}

PX_API uint32_t PXGetExchangeBufferInfo(PXHANDLE h, const char* id, uint32_t param, uint32_t* value)
{
    IdChars c(id);
    PX_TRACE("%08lX - PXGetExchangeBufferInfo(%08lX,'%c%c%c%c',%08lX,%08lX)\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(h), c.c[0], c.c[1], c.c[2], c.c[3], static_cast<unsigned long>(param),
             P(value));
    return WithClient(h, [&](CClient& client) { return client.GetTransferBufferInfo(IdOrEmpty(id), param, value); });
}

PX_API uint32_t PXGetExchangeBufferData(PXHANDLE h, const char* id, uint32_t force, void* dest, void* info,
                                        uint32_t* received)
{
    IdChars c(id);
    PX_TRACE("%08lX - PXGetExchangeBufferData(%08lX,'%c%c%c%c',%d,%08lX,%08lX,%08lX)\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(h), c.c[0], c.c[1], c.c[2], c.c[3], static_cast<int>(force), P(dest), P(info),
             P(received));
    return WithClient(h, [&](CClient& client) {
        if (info == nullptr)
            return client.GetTransferBufferData(IdOrEmpty(id), force, dest, nullptr, received);
        uint32_t words[kClientInfoRecordWords];
        std::memcpy(words, info, sizeof words);
        uint32_t r = client.GetTransferBufferData(IdOrEmpty(id), force, dest, words, received);
        std::memcpy(info, words, sizeof words);
        return r;
    });
}

PX_API uint32_t PXGetExchangeBufferDataDesc(PXHANDLE h, const char* id, uint32_t param, uint32_t* value)
{
    IdChars c(id);
    PX_TRACE("%08lX - PXGetExchangeBufferDataDesc(%08lX,'%c%c%c%c',%08lX,%08lX)\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(h), c.c[0], c.c[1], c.c[2], c.c[3], static_cast<unsigned long>(param),
             P(value));
    return WithClient(h, [&](CClient& client) { return client.GetTransferBufferDataDesc(IdOrEmpty(id), param, value); });
}

PX_API uint32_t PXGetBufferList(PXHANDLE h, uint32_t* count, const PXBufferListEntry** list)
{
    PX_TRACE("%08lX - PXGetBufferList(%08lX,%08lX,%08lX)\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(h), P(count), P(list));
    CClientRecord* record = LookUp(h);
    if (record == nullptr)
        return PX_INVALID_HANDLE;
    if (!record->m_pAgentChannel)
        return PX_ERROR;
    return record->m_pAgentChannel->GetBufferList(count, list);
}

PX_API uint32_t PXSendInput(PXHANDLE h, const char* id, uint32_t size, const void* data)
{
    IdChars c(id);
    PX_TRACE("%08lX - PXSendInput(%08lX,'%c%c%c%c',%d,%08lX)\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(h), c.c[0], c.c[1], c.c[2], c.c[3], static_cast<int>(size), P(data));
    return WithClient(h, [&](CClient& client) { return client.SendInput(IdOrEmpty(id), size, data); });
}

PX_API uint32_t PXGetNumberOfClient(PXHANDLE h, const char* id, uint32_t* count)
{
    IdChars c(id);
    PX_TRACE("%08lX - PXGetNumberOfClient(%08lX,'%c%c%c%c',%08lX)\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(h), c.c[0], c.c[1], c.c[2], c.c[3], P(count));
    return WithClient(h, [&](CClient& client) { return client.GetNumberOfClient(IdOrEmpty(id), count); });
}

PX_API uint32_t PXForceTransferInProgress(PXHANDLE h, const char* id)
{
    IdChars c(id);
    PX_TRACE("%08lX - PXForceTransferInProgress(%08lX,'%c%c%c%c')\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(h), c.c[0], c.c[1], c.c[2], c.c[3]);
    return WithClient(h, [&](CClient& client) { return client.ForceTransferInProgress(IdOrEmpty(id)); });
}

PX_API uint32_t PXCancelTransfers(PXHANDLE h)
{
    PX_TRACE("%08lX - PXCancelTransfers(%08lX)\n", kCurrentThreadPseudoHandle, static_cast<unsigned long>(h));
    return WithClient(h, [&](CClient& client) { return client.EndTransfers(); });
}

PX_API uint32_t PXGetTimeout(PXHANDLE h, uint32_t* timeoutMs)
{
    CClientRecord* record = LookUp(h);
    if (record == nullptr)
        return PX_INVALID_HANDLE;
    if (record->m_pClient && timeoutMs != nullptr)
        record->m_pClient->GetTimeout(timeoutMs);
    return PX_OK;
}

PX_API uint32_t PXSetTimeout(PXHANDLE h, uint32_t /*timeoutMs*/)
{
    return LookUp(h) == nullptr ? PX_INVALID_HANDLE : PX_OK;
}

PX_API uint32_t PXGetWatchDogStatus(PXHANDLE h, uint32_t* status)
{
    PX_TRACE("%08lX - PXGetWatchDogStatus(%08lX,%08lX)\n", kCurrentThreadPseudoHandle,
             static_cast<unsigned long>(h), P(status));
    CClientRecord* record = LookUp(h);
    if (record == nullptr)
        return PX_INVALID_HANDLE;
    if (!record->m_pAgentChannel)
        return PX_ERROR;
    if (status == nullptr)
        return PX_ERROR;
    *status = record->m_pAgentChannel->WatchDogStatus();
    return PX_OK;
}

PX_API int PXGetRefreshListEvent(PXHANDLE h)
{
    CClientRecord* record = LookUp(h);
    if (record == nullptr || !record->m_pAgentChannel)
        return 0;
    if (!AgentHasListChangedEvent(record->m_pAgentChannel->AgentVersion()))
        return 0;
    px::Event* event = record->m_pAgentChannel->ListChangedEvent();
    return event != nullptr ? event->Fd() : 0;
}

} // extern "C"

// The library is ready as soon as it is loaded, and lets go of its state when it is unloaded.
__attribute__((constructor)) static void PellixLoad() { PXInitLibrary(); }
__attribute__((destructor)) static void PellixUnload() { PXCloseLibrary(); }
