#include "PellixCamera.h"

#include <cstring>

namespace pxgst {

namespace {

// The watchdog signals every 250 ms and the camera counts as lost after 1.5 s, 3 tries: ending a
// client waits for the next signal, so a short period lets a pipeline stop quickly.
constexpr uint32_t kSignalDelayMs = 250;
constexpr uint32_t kSignalTimeoutMs = 1500;
constexpr uint32_t kSignalRetries = 3;

// Claims of the camera that are not believed: GStreamer's sizes are ints, and no camera image
// comes near either bound.
constexpr uint32_t kMaxSide = 65535;
constexpr uint64_t kMaxFrameBytes = uint64_t{512} << 20;

// A dotted IPv4 address, most significant byte first; false for anything else (a host name).
bool ParseAddress(const std::string& text, uint8_t out[4])
{
    size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && (pos >= text.size() || text[pos++] != '.'))
            return false;
        uint32_t value = 0;
        size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + static_cast<uint32_t>(text[pos++] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        out[i] = static_cast<uint8_t>(value);
    }
    return pos == text.size();
}

std::string IdText(const char id[4])
{
    std::string s;
    for (int i = 0; i < 4 && id[i] != '\0'; ++i)
        s += id[i];
    return s;
}

std::string Failed(const std::string& what, uint32_t result)
{
    return what + " failed: " + PXGetResultText(result);
}

} // namespace

uint32_t PixelFormatBytes(uint32_t format)
{
    switch (format) {
    case PX_FORMAT_MONO8:
    case PX_FORMAT_SYSCOLOR8: return 1;
    case PX_FORMAT_RGB24: return 3;
    case PX_FORMAT_RGB32: return 4;
    case PX_FORMAT_YUV16:
    case PX_FORMAT_RGB16: return 2;
    default: return 0;
    }
}

bool GeometryFromInfo(const PXBufferInfo& info, ImageGeometry* out, std::string* error)
{
    ImageGeometry g;
    g.dwFormat = info.image.format;
    g.dwWidth = info.image.sizeX;
    g.dwHeight = info.image.sizeY;
    g.dwOffsetX = info.image.offsetX;
    g.dwOffsetY = info.image.offsetY;
    g.dwBytesPerPixel = PixelFormatBytes(g.dwFormat);
    if (g.dwBytesPerPixel == 0) {
        *error = "the camera's pixel format " + std::to_string(g.dwFormat) + " is not one pellixsrc knows";
        return false;
    }
    const std::string size = std::to_string(g.dwWidth) + "x" + std::to_string(g.dwHeight);
    if (g.dwWidth == 0 || g.dwHeight == 0 || g.dwWidth > kMaxSide || g.dwHeight > kMaxSide) {
        *error = "the camera announces an image of " + size + " pixels, which is not believable";
        return false;
    }
    // A camera that answers with regions writes them into the full image (the library's rule).
    const uint64_t full = uint64_t{info.image.fullSizeX} * info.image.fullSizeY * info.image.numBands;
    g.qwRoom = full > info.image.dataSize ? full : info.image.dataSize;
    if (g.FrameBytes() > info.image.dataSize || g.qwRoom > kMaxFrameBytes) {
        *error = "the camera's info record (" + size + ", " + std::to_string(g.dwBytesPerPixel) +
                 " bytes a pixel, data size " + std::to_string(info.image.dataSize) + ") does not add up";
        return false;
    }
    *out = g;
    return true;
}

std::string BufferTypeName(uint32_t type)
{
    switch (type) {
    case PX_BUFTYPE_IMAGE: return "image";
    case PX_BUFTYPE_TEXT: return "text";
    case PX_BUFTYPE_HISTOGRAM: return "histogram";
    case PX_BUFTYPE_ARRAY: return "array";
    case PX_BUFTYPE_INPUT: return "input";
    default: return "type " + std::to_string(type);
    }
}

uint32_t CPellixCamera::Open(const CameraSettings& settings, std::string* error, std::string* warning)
{
    Close();
    m_settings = settings;
    m_bRegions = false;
    m_image.clear();
    m_bTrustDescSizes = true;
    if (settings.strCamera.empty()) {
        *error = "no camera: set the camera property to the camera's host name or address";
        return PX_ERROR;
    }
    uint8_t address[4] = {};
    const bool isAddress = ParseAddress(settings.strCamera, address);
    const char* host = isAddress ? nullptr : settings.strCamera.c_str();
    const char* name = settings.strClientName.c_str();

    // The list comes through an agent channel; without one of its own the client borrows one.
    PXHANDLE lister = 0;
    uint32_t r = PXClientInit(host, isAddress ? address : nullptr, name, &lister, settings.dwTimeoutMs, 1,
                              kSignalDelayMs, kSignalTimeoutMs, kSignalRetries);
    if (r != PX_OK) {
        *error = Failed("opening a client (PXClientInit)", r);
        return r;
    }
    uint32_t count = 0;
    const PXBufferListEntry* list = nullptr;
    if ((r = PXGetBufferList(lister, &count, &list)) != PX_OK) {
        PXClientTerminate(lister);
        *error = Failed("reading the camera's buffer list (PXGetBufferList)", r);
        return r;
    }
    const PXBufferListEntry* entry = nullptr;
    std::string known;
    for (uint32_t i = 0; i < count; ++i) {
        const std::string id = IdText(list[i].id);
        known += (known.empty() ? "" : ", ") + id;
        const bool wanted = settings.strBufferId.empty() ? list[i].type == PX_BUFTYPE_IMAGE : id == settings.strBufferId;
        if (wanted && entry == nullptr)
            entry = &list[i];
    }
    if (entry == nullptr || entry->type != PX_BUFTYPE_IMAGE) {
        *error = entry != nullptr ? "buffer '" + IdText(entry->id) + "' is a " + BufferTypeName(entry->type) +
                                        " buffer; pellixsrc streams image buffers only"
                 : settings.strBufferId.empty() ? "the camera publishes no image buffer (buffers: " + known + ")"
                                                : "the camera publishes no buffer '" + settings.strBufferId +
                                                      "' (buffers: " + known + ")";
        PXClientTerminate(lister);
        return PX_ERROR;
    }
    std::memcpy(m_id, entry->id, 4);
    m_strId = IdText(entry->id);
    m_usPort = entry->port;

    PXHANDLE h = lister;
    if (!settings.bAgentChannel) {
        PXClientTerminate(lister);
        if ((r = PXClientInit(host, isAddress ? address : nullptr, name, &h, settings.dwTimeoutMs, 0, 0, 0, 0)) != PX_OK) {
            *error = Failed("opening a client (PXClientInit)", r);
            return r;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_h = h;
    }
    if ((r = Subscribe(error)) != PX_OK || (settings.bRoi && (r = SetWindow(error, warning)) != PX_OK) ||
        (r = ReadGeometry(error)) != PX_OK) {
        Close();
        return r;
    }
    return PX_OK;
}

uint32_t CPellixCamera::Subscribe(std::string* error)
{
    // A new subscription replaces the library's client of the buffer, which a cancel from another
    // thread must not meet half-way.
    std::lock_guard<std::mutex> lock(m_lock);
    const PXHANDLE agent = m_settings.bAgentChannel ? m_h : 0;
    uint32_t r = PXSetExchangeBuffer(m_h, m_usPort, m_id, 0, agent);
    // Without an agent the library subscribes but flags a finite time-out, which it then cannot
    // check with a watchdog: a read that times out gives PX_NO_WATCHDOG, which ends the stream.
    if (r == PX_INVALID_PARAMETER && agent == 0 && m_settings.dwTimeoutMs != PX_INFINITE)
        r = PX_OK;
    if (r != PX_OK)
        *error = Failed("subscribing buffer '" + m_strId + "' (PXSetExchangeBuffer)", r);
    return r;
}

uint32_t CPellixCamera::SetWindow(std::string* error, std::string* warning)
{
    // The whole window in one record, so the camera never sees a half-moved window.
    PXBufferInfo info;
    std::memset(&info, 0, sizeof info);
    uint32_t r = PXGetExchangeBufferInfoStruct(m_h, m_id, &info);
    const uint32_t* roi = m_settings.dwRoi;
    const uint64_t bytes = uint64_t{roi[2]} * roi[3] * PixelFormatBytes(info.image.format);
    if (r == PX_OK) {
        info.image.offsetX = roi[0];
        info.image.offsetY = roi[1];
        info.image.sizeX = roi[2];
        info.image.sizeY = roi[3];
        info.image.dataSize = bytes > kMaxFrameBytes ? 0 : static_cast<uint32_t>(bytes);
        r = PXSetExchangeBufferInfoStruct(m_h, m_id, &info);
    }
    if (r == PX_OK)
        r = PXGetExchangeBufferInfoStruct(m_h, m_id, &info);
    if (r != PX_OK) {
        *error = Failed("setting the window of '" + m_strId + "' (PXSetExchangeBufferInfoStruct)", r);
        return r;
    }
    if (info.image.offsetX != roi[0] || info.image.offsetY != roi[1] || info.image.sizeX != roi[2] ||
        info.image.sizeY != roi[3])
        *warning = "the camera moved the window " + std::to_string(roi[0]) + "," + std::to_string(roi[1]) + "," +
                   std::to_string(roi[2]) + "," + std::to_string(roi[3]) + " to " + std::to_string(info.image.offsetX) +
                   "," + std::to_string(info.image.offsetY) + "," + std::to_string(info.image.sizeX) + "," +
                   std::to_string(info.image.sizeY);
    return PX_OK;
}

uint32_t CPellixCamera::ReadGeometry(std::string* error)
{
    PXBufferInfo info;
    std::memset(&info, 0, sizeof info);
    if (uint32_t r = PXGetExchangeBufferInfoStruct(m_h, m_id, &info)) {
        *error = Failed("reading the info record of '" + m_strId + "' (PXGetExchangeBufferInfoStruct)", r);
        return r;
    }
    if (!GeometryFromInfo(info, &m_geometry, error))
        return PX_ERROR;
    if (m_bRegions)
        m_image.assign(m_geometry.qwRoom, 0);
    return PX_OK;
}

void CPellixCamera::Close()
{
    PXHANDLE h = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        h = m_h;
        m_h = 0;
    }
    if (h != 0)
        PXClientTerminate(h);
}

ReadOutcome CPellixCamera::Failure(uint32_t result, const std::string& what) const
{
    ReadOutcome o;
    o.dwResult = result;
    o.strError = what;
    return o;
}

ReadOutcome CPellixCamera::Read(bool force, uint8_t* dest)
{
    // m_h changes only on this thread, so it is read here without the lock.
    PXBufferInfo info;
    std::memset(&info, 0, sizeof info);
    uint32_t received = 0;
    uint8_t* target = m_bRegions ? m_image.data() : dest;
    uint32_t r = PXGetExchangeBufferData(m_h, m_id, force ? 1 : 0, target, &info, &received);
    std::string error;
    ReadOutcome o;
    if (r == PX_BUFFER_CHANGED) {
        // The data outgrew the record: the library has read the new one, nothing was written.
        if ((r = ReadGeometry(&error)) != PX_OK)
            return Failure(r, error);
        o.bGeometryChanged = true;
        return o;
    }
    if (r != PX_OK)
        return Failure(r, Failed("reading '" + m_strId + "' (PXGetExchangeBufferData)", r));
    if (received == 0)
        return o;

    // A new format announced with the data is in the record already; a frame of the old picture
    // is not handed out as one of the new.
    ImageGeometry g;
    if (!GeometryFromInfo(info, &g, &error))
        return Failure(PX_ERROR, error);
    if (!g.SamePicture(m_geometry)) {
        m_geometry = g;
        if (m_bRegions)
            m_image.assign(g.qwRoom, 0);
        o.bGeometryChanged = true;
        return o;
    }
    uint32_t serial[2] = {0, 0}, isRegion = 0, width = 0, rows = 0;
    PXGetExchangeBufferDataDesc(m_h, m_id, PX_DESC_SERIAL, serial);
    PXGetExchangeBufferDataDesc(m_h, m_id, PX_DESC_IS_REGION, &isRegion);
    PXGetExchangeBufferDataDesc(m_h, m_id, PX_DESC_REGION_WIDTH, &width);
    PXGetExchangeBufferDataDesc(m_h, m_id, PX_DESC_REGION_ROWS, &rows);
    if (isRegion != 1 && m_bTrustDescSizes && width != 0 && rows != 0 &&
        (width != g.dwWidth || rows != g.dwHeight)) {
        // Whole data of another size that still fitted: another client narrowed the window, and
        // the record the library keeps is old. A new subscription reads it anew.
        if ((r = Subscribe(&error)) != PX_OK || (r = ReadGeometry(&error)) != PX_OK)
            return Failure(r, error);
        if (m_geometry.dwWidth != width || m_geometry.dwHeight != rows)
            m_bTrustDescSizes = false;
        o.bGeometryChanged = true;
        return o;
    }
    if (isRegion == 1 && !m_bRegions && !TakeRegionReply(dest))
        return Failure(PX_COMM_ERROR, "the camera's region reply does not fit its image");
    if (m_bRegions)
        std::memcpy(dest, m_image.data(), g.FrameBytes());
    o.bFrame = true;
    o.qwSerial = (uint64_t{serial[1]} << 32) | serial[0];
    return o;
}

bool CPellixCamera::TakeRegionReply(uint8_t* dest)
{
    // The first region landed in dest, around it whatever the memory held: from now on reads go
    // to one image that starts black and keeps what earlier regions left.
    uint32_t x = 0, y = 0, width = 0, rows = 0;
    PXGetExchangeBufferDataDesc(m_h, m_id, PX_DESC_REGION_X, &x);
    PXGetExchangeBufferDataDesc(m_h, m_id, PX_DESC_REGION_Y, &y);
    PXGetExchangeBufferDataDesc(m_h, m_id, PX_DESC_REGION_WIDTH, &width);
    PXGetExchangeBufferDataDesc(m_h, m_id, PX_DESC_REGION_ROWS, &rows);
    const uint64_t bpp = m_geometry.dwBytesPerPixel;
    const uint64_t length = uint64_t{width} * bpp;
    m_image.assign(m_geometry.qwRoom, 0);
    for (uint32_t row = 0; row < rows; ++row) {
        const uint64_t at = ((uint64_t{y} + row) * m_geometry.dwWidth + x) * bpp;
        if (at + length > m_geometry.qwRoom)
            return false;
        std::memcpy(m_image.data() + at, dest + at, length);
    }
    m_bRegions = true;
    return true;
}

bool CPellixCamera::Cancel()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_h == 0)
        return false;
    PXCancelTransfers(m_h);
    return true;
}

uint32_t CPellixCamera::WatchdogStatus() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    uint32_t status = PX_NO_WATCHDOG;
    if (m_h != 0 && PXGetWatchDogStatus(m_h, &status) != PX_OK)
        status = PX_NO_WATCHDOG;
    return status;
}

} // namespace pxgst
