#include "sim/SimBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "image/PixelFormat.h"
#include "netaccess/protocol/AgentBytes.h"
#include "netaccess/protocol/AgentRecords.h"

namespace pxsim {

using namespace px::agent;

namespace {

bool KnownFormat(uint32_t f) { return pximage::BytesPerPixel(f) != 0; }

// A camera corrects a requested geometry instead of refusing it: unknown modes become 1, sizes
// are kept inside the full image (0 means all of it), mode 0 has no offset, and a window that
// would stick out is moved back in.
void Correct(SimGeometry* g)
{
    if (g->dwSubsection > 2)
        g->dwSubsection = 1;
    if (g->dwSizeX == 0 || g->dwSizeX > g->dwFullSizeX)
        g->dwSizeX = g->dwFullSizeX;
    if (g->dwSizeY == 0 || g->dwSizeY > g->dwFullSizeY)
        g->dwSizeY = g->dwFullSizeY;
    if (g->dwSubsection == 0) {
        g->dwOffsetX = g->dwOffsetY = 0;
    } else {
        if (g->dwOffsetX > g->dwFullSizeX - g->dwSizeX)
            g->dwOffsetX = g->dwFullSizeX - g->dwSizeX;
        if (g->dwOffsetY > g->dwFullSizeY - g->dwSizeY)
            g->dwOffsetY = g->dwFullSizeY - g->dwSizeY;
    }
}

} // namespace

CSimBuffer::CSimBuffer(const SimBufferConfig& config) : m_config(config) {}

int CSimBuffer::Init()
{
    const uint32_t t = m_config.dwType;
    if (!BufParamsSize(t, nullptr))
        return EINVAL;
    if (t == 1) {
        SimGeometry g;
        g.dwFullSizeX = m_config.dwFullSizeX;
        g.dwFullSizeY = m_config.dwFullSizeY;
        g.dwSizeX = m_config.dwSizeX;
        g.dwSizeY = m_config.dwSizeY;
        g.dwOffsetX = m_config.dwOffsetX;
        g.dwOffsetY = m_config.dwOffsetY;
        g.dwSubsection = m_config.dwSubsection;
        g.dwPixelFormat = m_config.dwPixelFormat;
        if (g.dwFullSizeX == 0 || g.dwFullSizeY == 0 || !KnownFormat(g.dwPixelFormat) ||
            uint64_t{g.dwFullSizeX} * g.dwFullSizeY * 4 > kSimMaxImageBytes)
            return EINVAL;
        Correct(&g);
        m_geometry = g;
    }
    if (t == 11 && SimArrayElementSize(m_config.dwArrayType) == 0)
        return EINVAL;
    if (DataBytes() > kSimMaxImageBytes)
        return EINVAL;
    std::shared_ptr<SimFrame> frame = Render(0, nullptr);
    if (!frame)
        return ENOMEM;
    std::lock_guard<std::mutex> lock(m_lock);
    m_pFrame = std::move(frame);
    return 0;
}

uint64_t CSimBuffer::DataBytes() const
{
    switch (m_config.dwType) {
    case 1: return SimImageBytes(m_geometry);
    case 5: return uint64_t{m_config.dwTextChars} * 2;
    case 6: return 256 * 4;
    case 11: return 8 + uint64_t{m_config.dwArrayCount} * SimArrayElementSize(m_config.dwArrayType);
    case 101: return 0;
    default: return uint64_t{m_config.dwElements} * 4;
    }
}

std::vector<uint8_t> CSimBuffer::InfoRecord() const
{
    BufParams record;
    if (BufParamsInit(m_config.dwType, &record) != AGENT_OK)
        return {};
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const uint32_t bytes = static_cast<uint32_t>(DataBytes());
        uint32_t* w = record.dwWords;
        switch (m_config.dwType) {
        case PX_BUFTYPE_IMAGE: {
            const SimGeometry& g = m_geometry;
            w[IMAGE_FULL_SIZE_X] = g.dwFullSizeX;
            w[IMAGE_FULL_SIZE_Y] = g.dwFullSizeY;
            w[IMAGE_DATA_SIZE] = bytes;
            w[IMAGE_NUM_BANDS] = pximage::BytesPerPixel(g.dwPixelFormat);
            w[IMAGE_OFFSET_X] = g.dwOffsetX;
            w[IMAGE_OFFSET_Y] = g.dwOffsetY;
            w[IMAGE_SIZE_X] = g.dwSizeX;
            w[IMAGE_SIZE_Y] = g.dwSizeY;
            w[IMAGE_SUBSECTION] = g.dwSubsection;
            w[IMAGE_FORMAT] = g.dwPixelFormat;
            break;
        }
        case 2: case 7: case 8: case 9: case 10:
            w[0] = bytes;
            w[1] = m_config.dwElements;
            break;
        case PX_BUFTYPE_HISTOGRAM:
            w[0] = bytes;
            w[1] = 256;
            break;
        case 3: case 4: case PX_BUFTYPE_TEXT: case PX_BUFTYPE_ARRAY:
            w[0] = bytes;
            w[1] = m_config.dwType == PX_BUFTYPE_TEXT    ? m_config.dwTextChars
                   : m_config.dwType == PX_BUFTYPE_ARRAY ? m_config.dwArrayCount
                                                         : m_config.dwElements;
            w[2] = 1;
            break;
        default:
            break;
        }
    }
    std::vector<uint8_t> bytes(record.dwSize);
    size_t written = 0;
    AgentEncodeBufParams(record, bytes.data(), bytes.size(), &written);
    return bytes;
}

bool CSimBuffer::ApplyInfoRecord(const uint8_t* bytes, size_t size)
{
    BufParams record;
    if (m_config.dwType != PX_BUFTYPE_IMAGE || AgentDecodeBufParams(PX_BUFTYPE_IMAGE, bytes, size, &record) != AGENT_OK)
        return false;
    const uint32_t* w = record.dwWords;
    std::lock_guard<std::mutex> render(m_renderLock);
    std::shared_ptr<SimFrame> frame;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        SimGeometry g = m_geometry;
        g.dwOffsetX = w[IMAGE_OFFSET_X];
        g.dwOffsetY = w[IMAGE_OFFSET_Y];
        g.dwSizeX = w[IMAGE_SIZE_X];
        g.dwSizeY = w[IMAGE_SIZE_Y];
        g.dwSubsection = w[IMAGE_SUBSECTION];
        const uint32_t format = w[IMAGE_FORMAT];
        if (KnownFormat(format) && format != g.dwPixelFormat) {
            g.dwPixelFormat = format;
            m_dwPendingFormat = format;
        }
        Correct(&g);
        m_geometry = g;
    }
    // The current frame is made again at once (same serial), so a forced request right after
    // the change already sees it.
    frame = Render(Serial(), nullptr);
    if (!frame)
        return false;
    std::lock_guard<std::mutex> lock(m_lock);
    m_pFrame = std::move(frame);
    return true;
}

void CSimBuffer::FramePool::Give(std::vector<uint8_t> data)
{
    std::lock_guard<std::mutex> guard(lock);
    if (spare.size() < 2)
        spare.push_back(std::move(data));
}

std::vector<uint8_t> CSimBuffer::FramePool::Take(size_t bytes)
{
    std::lock_guard<std::mutex> guard(lock);
    for (auto it = spare.begin(); it != spare.end(); ++it) {
        if (it->size() == bytes) {
            std::vector<uint8_t> data = std::move(*it);
            spare.erase(it);
            return data;
        }
    }
    spare.clear();   // another size: the geometry changed, the old storage is of no more use
    return std::vector<uint8_t>(bytes);
}

std::shared_ptr<SimFrame> CSimBuffer::NewFrame(size_t bytes) const
{
    // Out of memory is a missed frame, not the end of the simulator.
    try {
        std::shared_ptr<FramePool> pool = m_pPool;
        auto frame = std::make_unique<SimFrame>();
        frame->data = pool->Take(bytes);
        return std::shared_ptr<SimFrame>(frame.release(), [pool](SimFrame* f) {
            pool->Give(std::move(f->data));
            delete f;
        });
    } catch (...) {
        return nullptr;
    }
}

std::shared_ptr<SimFrame> CSimBuffer::Render(uint64_t serial, const CSimBuffer* source) const
{
    SimGeometry geometry;
    uint32_t newFormat;
    uint64_t bytes;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        geometry = m_geometry;
        newFormat = m_dwPendingFormat;
        bytes = DataBytes();
    }
    std::shared_ptr<SimFrame> frame = NewFrame(bytes);
    if (!frame)
        return nullptr;
    frame->qwSerial = serial;
    frame->geometry = geometry;
    frame->dwNewFormat = newFormat;
    uint8_t* out = frame->data.data();
    switch (m_config.dwType) {
    case 1:
        SimRenderImage(frame->geometry, serial, out);
        break;
    case 5:
        SimRenderText(m_config.id, serial, m_config.dwTextChars, out);
        break;
    case 6: {
        uint32_t bins[256] = {};
        std::shared_ptr<const SimFrame> image = source ? source->Current() : nullptr;
        if (image)
            SimHistogram(image->geometry, image->data.data(), bins);
        for (int i = 0; i < 256; ++i)
            PutLe32(out + 4 * i, bins[i]);
        break;
    }
    case 11:
        SimRenderArray(m_config.dwArrayType, m_config.dwArrayCount, serial, out);
        break;
    case 101:
        break;
    default:
        SimRenderWords(serial, bytes, out);
        break;
    }
    return frame;
}

std::shared_ptr<const SimFrame> CSimBuffer::Current() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pFrame;
}

uint64_t CSimBuffer::Serial() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pFrame ? m_pFrame->qwSerial : 0;
}

void CSimBuffer::Produce(const CSimBuffer* source)
{
    std::lock_guard<std::mutex> render(m_renderLock);
    std::shared_ptr<SimFrame> frame = Render(Serial() + 1, source);
    std::lock_guard<std::mutex> lock(m_lock);
    if (!frame)
        return;
    if (frame->dwNewFormat == m_dwPendingFormat)
        m_dwPendingFormat = 0;   // told once, in this frame
    m_pFrame = std::move(frame);
    for (px::Event* e : m_waiters)
        e->Set();
}

void CSimBuffer::AddWaiter(px::Event* event)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_waiters.push_back(event);
}

void CSimBuffer::RemoveWaiter(px::Event* event)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_waiters.erase(std::remove(m_waiters.begin(), m_waiters.end(), event), m_waiters.end());
}

void CSimBuffer::RecordInput(std::vector<uint8_t> input)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_inputs.push_back(std::move(input));
}

std::vector<std::vector<uint8_t>> CSimBuffer::Inputs() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_inputs;
}

} // namespace pxsim
