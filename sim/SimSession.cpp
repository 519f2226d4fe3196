#include "sim/SimSession.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "sim/KelvoSim.h"
#include "sim/SimBuffer.h"
#include "image/PixelFormat.h"
#include "netaccess/protocol/AgentBytes.h"

namespace pxsim {

using namespace px::agent;

namespace {

// Largest input a client may send in one CMD_SEND_INPUT.
constexpr uint32_t kMaxInputSize = 16u << 20;
// Padding sent after the real data when a reply claims more than the buffer holds.
constexpr uint32_t kHostileExtra = 64u << 10;

// Greeting with an extension for every agent but the oldest (1.1.0 and the like, below 2.0.0).
bool GreetsWithExtension(uint32_t version) { return version == 0 || version >= 0x02000000u; }

} // namespace

CSimSession::CSimSession(px::SocketHandle socket, CKelvoSim& sim, uint16_t port)
    : CSimConnection(socket), m_sim(sim), m_usPort(port), m_dwNumber(sim.NextConnectionNumber()),
      m_dwVersion(sim.AgentVersion()), m_bNewAgent(AgentUsesEnvelopes(m_dwVersion))
{
}

CSimSession::~CSimSession()
{
    m_thread.Join();   // the thread runs this object's Run(): it must be over first
    Unsubscribe();
}

void CSimSession::Unsubscribe()
{
    if (m_pSubscribed) {
        m_pSubscribed->Unsubscribe();
        m_pSubscribed.reset();
    }
}

void CSimSession::Run()
{
    m_sim.Log(1, "port %u: connection %u opened", m_usPort, m_dwNumber);
    if (Greet()) {
        for (;;) {
            Command c;
            if (m_bHavePending) {
                c = std::move(m_pending);
                m_bHavePending = false;
            } else if (int e = ReadCommand(&c)) {
                if (e != ECONNRESET && e != ECANCELED)
                    m_sim.Log(1, "port %u: connection %u: %s", m_usPort, m_dwNumber, strerror(e));
                break;
            }
            const SimFaults faults = m_sim.Faults();
            if (!Handle(c, faults))
                break;
            ++m_dwRequests;
            if (faults.dwDropAfterRequests != 0 && m_dwRequests >= faults.dwDropAfterRequests) {
                m_sim.Log(1, "port %u: connection %u dropped after %u requests", m_usPort, m_dwNumber, m_dwRequests);
                Drop();
                break;
            }
        }
    }
    Unsubscribe();
    m_sim.Log(1, "port %u: connection %u closed", m_usPort, m_dwNumber);
}

bool CSimSession::Greet()
{
    uint8_t hello[kAgentHelloSize];
    if (RecvExact(hello, sizeof hello) != 0)
        return false;
    AgentCommand cmd;
    if (AgentDecodeCommand(hello, sizeof hello, kMaxInputSize, &cmd) != AGENT_OK || cmd.dwCommand != CMD_HELLO) {
        m_sim.Log(1, "port %u: connection %u: no greeting, closing", m_usPort, m_dwNumber);
        return false;
    }
    m_sim.Log(2, "port %u: connection %u: CMD_HELLO version %08X", m_usPort, m_dwNumber, cmd.dwValue);
    const bool extended = GreetsWithExtension(m_dwVersion);
    const AgentHelloReply reply = AgentMakeHelloReply(m_dwVersion, extended);
    const auto head = AgentEncodeHelloReply(reply);
    if (!extended)
        return SendAll(head.data(), head.size()) == 0;
    const auto ext = AgentEncodeHelloExtension(reply);
    return SendTwo(head.data(), head.size(), ext.data(), ext.size()) == 0;
}

int CSimSession::ReadCommand(Command* out)
{
    AgentEnvelope envelope;
    if (m_bNewAgent) {
        uint8_t env[kAgentEnvelopeSize];
        if (int e = RecvExact(env, sizeof env))
            return e;
        if (AgentDecodeEnvelope(env, sizeof env, &envelope) != AGENT_OK) {
            m_sim.Log(1, "port %u: connection %u: bad envelope (command %u, size %u)", m_usPort, m_dwNumber,
                      GetLe32(env), GetLe32(env + 4));
            return EPROTO;
        }
    }
    std::array<uint8_t, kAgentMaxCommandRecordSize + kBufParamsMaxSize> record{};
    if (int e = RecvExact(record.data(), kAgentCommandHeadSize))
        return e;
    AgentCommandHead head;
    if (AgentDecodeCommandHead(record.data(), kAgentCommandHeadSize, kMaxInputSize, &head) != AGENT_OK) {
        m_sim.Log(1, "port %u: connection %u: bad command record (command %u, size %u)", m_usPort, m_dwNumber,
                  GetLe32(record.data()), GetLe32(record.data() + 4));
        return EPROTO;
    }
    if (m_bNewAgent && AgentCheckEnvelope(envelope, head) != AGENT_OK) {
        m_sim.Log(1, "port %u: connection %u: envelope does not match %s", m_usPort, m_dwNumber,
                  AgentCommandName(head.dwCommand));
        return EPROTO;
    }
    // The fixed part, and the info record of CMD_SET_BUF_PARAMS; input bytes are read below.
    size_t size = head.dwFixedSize + (head.dwCommand == CMD_SET_BUF_PARAMS ? head.dwTrailingSize : 0);
    if (size < kAgentCommandHeadSize || size > record.size())
        return EPROTO;
    if (int e = RecvExact(record.data() + kAgentCommandHeadSize, size - kAgentCommandHeadSize))
        return e;
    if (AgentDecodeCommand(record.data(), size, kMaxInputSize, &out->record) != AGENT_OK) {
        m_sim.Log(1, "port %u: connection %u: undecodable %s", m_usPort, m_dwNumber, AgentCommandName(head.dwCommand));
        return EPROTO;
    }
    if (out->record.dwCommand == CMD_SEND_INPUT) {
        if (out->record.dwValue > kMaxInputSize)
            return EPROTO;
        out->input.resize(out->record.dwValue);
        if (int e = RecvExact(out->input.data(), out->input.size()))
            return e;
    }
    return 0;
}

bool CSimSession::Handle(const Command& c, const SimFaults& faults)
{
    const AgentCommand& r = c.record;
    const BufferId::Text idText = r.bufferId.ToText();
    const char* id = idText.c_str();
    switch (r.dwCommand) {
    case CMD_HELLO: {
        // A second greeting gets the same answer as the first.
        m_sim.Log(2, "port %u: connection %u: CMD_HELLO again", m_usPort, m_dwNumber);
        const bool extended = GreetsWithExtension(m_dwVersion);
        const AgentHelloReply reply = AgentMakeHelloReply(m_dwVersion, extended);
        const auto head = AgentEncodeHelloReply(reply);
        const auto ext = AgentEncodeHelloExtension(reply);
        return SendTwo(head.data(), head.size(), ext.data(), extended ? ext.size() : 0) == 0;
    }
    case CMD_BYE:
        m_sim.Log(2, "port %u: connection %u: CMD_BYE %u", m_usPort, m_dwNumber, r.dwValue);
        return false;
    case CMD_SET_TRANSFER_BUFFER: {
        m_sim.Log(2, "port %u: connection %u: CMD_SET_TRANSFER_BUFFER %s wait %u client \"%s\" watchdog %08X",
                  m_usPort, m_dwNumber, id, r.dwValue, r.szClientName, r.dwWatchdogId);
        std::shared_ptr<CSimBuffer> buffer = m_sim.FindBuffer(r.bufferId);
        if (!buffer) {
            m_sim.Log(1, "port %u: connection %u: no buffer %s to subscribe to", m_usPort, m_dwNumber, id);
            return true;
        }
        Unsubscribe();
        buffer->Subscribe();
        m_pSubscribed = buffer;
        SimSubscription s;
        s.strClientName = r.szClientName;
        s.dwWaitForUpdate = r.dwValue;
        s.bWithWatchdogId = r.bWithWatchdogId;
        s.dwWatchdogId = r.dwWatchdogId;
        m_sim.NoteSubscription(*buffer, s);
        return true;
    }
    case CMD_GET_TRANSFER_BUFFER_DATA:
        m_sim.Log(2, "port %u: connection %u: CMD_GET_TRANSFER_BUFFER_DATA %s force %u", m_usPort, m_dwNumber, id,
                  r.dwValue);
        return ServeData(c, faults);
    case CMD_GET_BUF_PARAMS: {
        m_sim.Log(2, "port %u: connection %u: CMD_GET_BUF_PARAMS %s", m_usPort, m_dwNumber, id);
        std::shared_ptr<CSimBuffer> buffer = m_sim.FindBuffer(r.bufferId);
        const uint32_t type = buffer ? buffer->Type() : 0;
        const std::vector<uint8_t> info = buffer ? buffer->InfoRecord() : std::vector<uint8_t>();
        AgentReply reply = AgentMakeBufParamsReply(type, m_dwVersion);
        reply.dwPartB[0] = r.bufferId.Wire();
        reply.dwPartCSize = static_cast<uint32_t>(info.size());
        return SendSmallReply(reply, info.data(), info.size(), faults);
    }
    case CMD_SET_BUF_PARAMS: {
        m_sim.Log(2, "port %u: connection %u: CMD_SET_BUF_PARAMS %s (%u bytes)", m_usPort, m_dwNumber, id,
                  r.dwInfoSize);
        std::shared_ptr<CSimBuffer> buffer = m_sim.FindBuffer(r.bufferId);
        if (!buffer || !buffer->ApplyInfoRecord(r.byInfo, r.dwInfoSize))
            m_sim.Log(1, "port %u: connection %u: info record for %s ignored", m_usPort, m_dwNumber, id);
        return true;
    }
    case CMD_SEND_INPUT: {
        m_sim.Log(2, "port %u: connection %u: CMD_SEND_INPUT %s %zu bytes", m_usPort, m_dwNumber, id,
                  c.input.size());
        std::shared_ptr<CSimBuffer> buffer = m_sim.FindBuffer(r.bufferId);
        if (buffer)
            buffer->RecordInput(c.input);
        return true;
    }
    case CMD_GET_BUFFER_LIST:
        m_sim.Log(2, "port %u: connection %u: CMD_GET_BUFFER_LIST", m_usPort, m_dwNumber);
        return SendBufferList(faults);
    case CMD_FORCE_TRANSFER:
        // Nothing waits (a waiting request takes the command itself, see ServeData).
        m_sim.Log(2, "port %u: connection %u: CMD_FORCE_TRANSFER %s (nothing waiting)", m_usPort, m_dwNumber, id);
        return true;
    case CMD_VERIFY_RESOURCES: {
        const uint16_t port = static_cast<uint16_t>(r.dwValue & 0xFFFF);
        uint32_t answer = m_sim.FindBufferByPort(port) ? 1 : 0;
        if (faults.bResourceCheckZero)
            answer = 0;
        m_sim.Log(2, "port %u: connection %u: CMD_VERIFY_RESOURCES %u -> %u", m_usPort, m_dwNumber, port, answer);
        return SendSmallReply(AgentMakeVerifyResourcesReply(answer), nullptr, 0, faults);
    }
    case CMD_GET_NUMBER_OF_CLIENT: {
        std::shared_ptr<CSimBuffer> buffer = m_sim.FindBufferByPort(m_usPort);
        if (!buffer)
            buffer = m_pSubscribed;
        const uint32_t count = buffer ? buffer->Subscribers() : m_sim.TotalSubscribers();
        m_sim.Log(2, "port %u: connection %u: CMD_GET_NUMBER_OF_CLIENT -> %u", m_usPort, m_dwNumber, count);
        return SendSmallReply(AgentMakeNumberOfClientReply(count, 0), nullptr, 0, faults);
    }
    default:
        m_sim.Log(1, "port %u: connection %u: command %u not served", m_usPort, m_dwNumber, r.dwCommand);
        return false;
    }
}

bool CSimSession::ServeData(const Command& c, const SimFaults& faults)
{
    std::shared_ptr<CSimBuffer> buffer = m_sim.FindBuffer(c.record.bufferId);
    if (!buffer)
        buffer = m_pSubscribed;
    if (!buffer) {
        // No such buffer: an empty reply that carries the agent's result (new agents).
        DataDesc desc;
        desc.dwWords[0] = c.record.bufferId.Wire();
        desc.dwWords[DATADESC_RESULT] = 2030;
        AgentReply reply = AgentMakeDataReply(desc, 0, m_dwVersion);
        uint8_t head[kAgentMaxReplyHeadSize];
        size_t n = 0;
        if (AgentEncodeReply(reply, m_dwVersion, head, sizeof head, &n) != AGENT_OK)
            return false;
        return Reply(head, n, nullptr, 0, faults, true);
    }

    if (c.record.dwValue == 0) {
        // Wait for the next frame, watching the connection: CMD_FORCE_TRANSFER ends the wait at
        // once; any other command also ends it and is handled after this reply.
        const uint64_t start = buffer->Serial();
        buffer->AddWaiter(&m_wake);
        m_sim.NoteWaiting(+1);
        bool ok = true;
        while (buffer->Serial() == start) {
            bool readable = false;
            if (WaitReadableOrWake(px::kInfinite, &readable) != 0) {
                ok = false;
                break;
            }
            if (!readable)
                continue;
            Command next;
            if (ReadCommand(&next) != 0) {
                ok = false;
                break;
            }
            if (next.record.dwCommand == CMD_FORCE_TRANSFER) {
                m_sim.Log(2, "port %u: connection %u: CMD_FORCE_TRANSFER answers the waiting request", m_usPort,
                          m_dwNumber);
                break;
            }
            m_pending = std::move(next);
            m_bHavePending = true;
            break;
        }
        buffer->RemoveWaiter(&m_wake);
        m_sim.NoteWaiting(-1);
        if (!ok)
            return false;
    }
    std::shared_ptr<const SimFrame> frame = buffer->Current();
    return frame && SendDataReply(*buffer, *frame, faults);
}

bool CSimSession::SendDataReply(const CSimBuffer& buffer, const SimFrame& frame, const SimFaults& faults)
{
    const SimBufferConfig& cfg = buffer.Config();
    const SimGeometry& g = frame.geometry;
    const bool image = buffer.Type() == 1;
    const uint8_t* data = frame.data.data();
    size_t size = frame.data.size();

    DataDesc desc;
    desc.dwWords[0] = buffer.Id().Wire();
    desc.dwWords[1] = buffer.Type();
    if (image) {
        desc.dwWords[DATADESC_REGION_WIDTH] = g.dwSizeX;
        desc.dwWords[DATADESC_REGION_ROWS] = g.dwSizeY;
    }
    desc.dwWords[DATADESC_SERIAL_LOW] = static_cast<uint32_t>(frame.qwSerial);
    desc.dwWords[DATADESC_SERIAL_HIGH] = static_cast<uint32_t>(frame.qwSerial >> 32);
    desc.dwWords[DATADESC_NEW_FORMAT] = frame.dwNewFormat;
    desc.dwWords[DATADESC_SYNC_DELIVERY] = cfg.bSyncDelivery ? 1 : 0;

    if (image && (cfg.bRegionReplies || faults.bHostileRegion)) {
        const uint32_t bpp = pximage::BytesPerPixel(g.dwPixelFormat);
        uint32_t x, y, w, h;
        if (faults.bHostileRegion) {
            // Starts inside, ends well outside the image.
            x = g.dwSizeX > 4 ? g.dwSizeX - 4 : 0;
            y = g.dwSizeY > 1 ? g.dwSizeY - 1 : 0;
            w = 64;
            h = 4;
            m_scratch.assign(size_t{w} * h * bpp, 0xA5);
        } else {
            w = cfg.dwRegionW ? cfg.dwRegionW : std::max(1u, g.dwSizeX / 2);
            h = cfg.dwRegionH ? cfg.dwRegionH : std::max(1u, g.dwSizeY / 2);
            x = cfg.dwRegionW ? cfg.dwRegionX : g.dwSizeX / 4;
            y = cfg.dwRegionH ? cfg.dwRegionY : g.dwSizeY / 4;
            x = std::min(x, g.dwSizeX - 1);
            y = std::min(y, g.dwSizeY - 1);
            w = std::min(w, g.dwSizeX - x);
            h = std::min(h, g.dwSizeY - y);
            m_scratch.resize(size_t{w} * h * bpp);
            for (uint32_t r = 0; r < h; ++r)
                std::memcpy(m_scratch.data() + size_t{r} * w * bpp, data + (size_t{y + r} * g.dwSizeX + x) * bpp,
                            size_t{w} * bpp);
        }
        desc.dwWords[DATADESC_REGION_WIDTH] = w;
        desc.dwWords[DATADESC_REGION_ROWS] = h;
        desc.dwWords[DATADESC_REGION_X] = x;
        desc.dwWords[DATADESC_REGION_Y] = y;
        desc.dwWords[DATADESC_IS_REGION] = 1;
        data = m_scratch.data();
        size = m_scratch.size();
    }
    if (faults.bHostilePartC) {
        // Claims more than the buffer holds, and sends it, so the stream stays in step.
        if (data != m_scratch.data())
            m_scratch.assign(data, data + size);
        m_scratch.resize(size + kHostileExtra, 0);
        data = m_scratch.data();
        size = m_scratch.size();
    }
    desc.dwWords[2] = static_cast<uint32_t>(size);

    AgentReply reply = AgentMakeDataReply(desc, static_cast<uint32_t>(size), m_dwVersion);
    uint8_t head[kAgentMaxReplyHeadSize];
    size_t n = 0;
    if (AgentEncodeReply(reply, m_dwVersion, head, sizeof head, &n) != AGENT_OK)
        return false;
    m_sim.Log(3, "port %u: connection %u: data %s serial %llu, %zu bytes", m_usPort, m_dwNumber, buffer.Id().ToText().c_str(),
              static_cast<unsigned long long>(frame.qwSerial), size);
    return Reply(head, n, data, size, faults, true);
}

bool CSimSession::SendSmallReply(AgentReply reply, const uint8_t* partC, size_t partCSize, const SimFaults& faults)
{
    uint8_t head[kAgentMaxReplyHeadSize];
    size_t n = 0;
    if (AgentEncodeReply(reply, m_dwVersion, head, sizeof head, &n) != AGENT_OK)
        return false;
    return Reply(head, n, partC, partCSize, faults, false);
}

bool CSimSession::SendBufferList(const SimFaults& faults)
{
    const std::vector<std::shared_ptr<CSimBuffer>> buffers = m_sim.Buffers();
    const uint32_t recordSize =
        m_bNewAgent ? std::max<uint32_t>(m_sim.ListRecordSize(), kAgentBufferListEntrySize) : kAgentBufferListEntrySize;
    std::vector<uint8_t> records(buffers.size() * recordSize, 0);
    for (size_t i = 0; i < buffers.size(); ++i) {
        const SimBufferConfig& cfg = buffers[i]->Config();
        BufferListEntry e;
        e.bufferId = cfg.id;
        e.dwType = cfg.dwType;
        e.usPort = buffers[i]->Port();
        snprintf(e.szProcessName, sizeof e.szProcessName, "%s", cfg.strOwner.c_str());
        snprintf(e.szText, sizeof e.szText, "%s", cfg.strComment.c_str());
        if (AgentEncodeBufferListEntry(e, records.data() + i * recordSize, recordSize) != AGENT_OK)
            return false;
    }
    AgentReply reply = AgentMakeBufferListReply(static_cast<uint32_t>(buffers.size()), m_dwVersion);
    reply.dwRecordSize = recordSize;
    reply.dwPartCSize = static_cast<uint32_t>(records.size());
    if (faults.bHostileListCount) {
        reply.dwRecordCount = 0x80000000u;
        reply.dwPartB[0] = 0x80000000u;
    }
    uint8_t head[kAgentMaxReplyHeadSize];
    size_t n = 0;
    if (AgentEncodeReply(reply, m_dwVersion, head, sizeof head, &n) != AGENT_OK)
        return false;
    return Reply(head, n, records.data(), records.size(), faults, false);
}

bool CSimSession::Reply(const uint8_t* head, size_t headSize, const uint8_t* data, size_t dataSize,
                        const SimFaults& faults, bool isData)
{
    if (faults.dwReplyDelayMs != 0 && !Pause(faults.dwReplyDelayMs))
        return false;
    if (isData && faults.bDropMidReply) {
        m_sim.Log(1, "port %u: connection %u: dropped in the middle of a reply", m_usPort, m_dwNumber);
        if (dataSize > 1)
            SendTwo(head, headSize, data, dataSize / 2);
        else
            SendAll(head, headSize / 2);
        Drop();
        return false;
    }
    if (faults.bShortReply) {
        // Four bytes fewer than announced; the connection stays open and silent.
        m_sim.Log(1, "port %u: connection %u: reply cut short", m_usPort, m_dwNumber);
        if (dataSize >= 4)
            return SendTwo(head, headSize, data, dataSize - 4) == 0;
        return SendAll(head, headSize > 4 ? headSize - 4 : 0) == 0;
    }
    return SendTwo(head, headSize, data, dataSize) == 0;
}

} // namespace pxsim
