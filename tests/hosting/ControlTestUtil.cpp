#include "ControlTestUtil.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "sim/SimPattern.h"

namespace pxtest {

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

// The fixed colours of the system-colour table, red, green, blue.
struct Fixed {
    int index;
    uint8_t r, g, b;
};
constexpr Fixed kSystemColours[] = {
    {1, 128, 0, 0},     {2, 0, 128, 0},     {3, 128, 128, 0},   {4, 0, 0, 128},     {5, 128, 0, 128},
    {6, 0, 128, 128},   {7, 192, 192, 192}, {8, 192, 220, 192}, {9, 166, 202, 240}, {247, 164, 160, 160},
    {248, 128, 128, 128}, {249, 255, 0, 0}, {250, 0, 255, 0},   {251, 255, 255, 0}, {252, 0, 0, 255},
    {253, 255, 0, 255}, {254, 0, 255, 255},
};

// 0x00RRGGBB of an 8-bit index through the grey or the system-colour table.
uint32_t TableColour(uint8_t i, bool system)
{
    if (system) {
        for (const Fixed& f : kSystemColours) {
            if (f.index == i)
                return (uint32_t{f.r} << 16) | (uint32_t{f.g} << 8) | f.b;
        }
    }
    return (uint32_t{i} << 16) | (uint32_t{i} << 8) | i;
}

int Clamp(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// One table entry: the product with the factor, truncated toward zero.
int Entry(double factor, int c) { return static_cast<int>(factor * (c - 128)); }

// Red, green, blue of a luma with its pair's chroma.
void Yuv(int y, int u, int v, uint8_t rgb[3])
{
    rgb[0] = static_cast<uint8_t>(Clamp(y + Entry(1.402, v)));
    rgb[1] = static_cast<uint8_t>(Clamp(y - Entry(0.34414, u) - Entry(0.71414, v)));
    rgb[2] = static_cast<uint8_t>(Clamp(y + Entry(1.772, u)));
}

uint32_t BytesPerPixel(uint32_t format)
{
    switch (format) {
    case PX_FORMAT_RGB32: return 4;
    case PX_FORMAT_RGB24: return 3;
    case PX_FORMAT_YUV16:
    case PX_FORMAT_RGB16: return 2;
    default: return 1;
    }
}

// Red, green, blue of source pixel x of a row (for the formats that have a colour of their own).
void SourceRgb(const uint8_t* row, uint32_t format, uint32_t x, uint8_t rgb[3])
{
    switch (format) {
    case PX_FORMAT_RGB32:
    case PX_FORMAT_RGB24: {
        const uint8_t* p = row + x * BytesPerPixel(format);
        rgb[0] = p[2];
        rgb[1] = p[1];
        rgb[2] = p[0];
        break;
    }
    case PX_FORMAT_YUV16: {
        const uint8_t* g = row + (x / 2) * 4;
        Yuv(x % 2 == 0 ? g[0] : g[2], g[1], g[3], rgb);
        break;
    }
    default: {
        uint32_t c = TableColour(row[x], format == PX_FORMAT_SYSCOLOR8);
        rgb[0] = static_cast<uint8_t>(c >> 16);
        rgb[1] = static_cast<uint8_t>(c >> 8);
        rgb[2] = static_cast<uint8_t>(c);
        break;
    }
    }
}

uint16_t Pack16(const uint8_t rgb[3]) { return static_cast<uint16_t>(((rgb[0] >> 3) << 10) | ((rgb[1] >> 3) << 5) | (rgb[2] >> 3)); }

uint32_t Expand5(uint32_t v) { return (v << 3) | (v >> 2); }

bool IsMono(uint32_t format) { return format == PX_FORMAT_MONO8 || format == PX_FORMAT_SYSCOLOR8; }

} // namespace

// ---- the camera ------------------------------------------------------------------------------

CSimCamera::CSimCamera(const pxsim::SimConfig& config, const std::string& extraConfig)
    : m_strConfig("/tmp/pellix-hosting-" + std::to_string(getpid()) + ".conf")
{
    if (sim.Start(config) != 0)
        return;
    std::ofstream(m_strConfig) << sim.ClientConfigText() << extraConfig;
    setenv("VISTEL_CONFIG", m_strConfig.c_str(), 1);
    m_bStarted = true;
}

CSimCamera::~CSimCamera()
{
    sim.Stop();
    unlink(m_strConfig.c_str());
}

bool CSimCamera::FrameForWaitingReader()
{
    if (!sim.WaitForWaitingRequests(1, kWait))
        return false;
    sim.ProduceFrame();
    return true;
}

pxsim::SimConfig ImageCamera(uint32_t width, uint32_t height, uint32_t format)
{
    return pxsim::SingleImageSimConfig("IMG0", width, height, format);
}

pxsim::SimBufferConfig BufferOf(const char* id, uint32_t type)
{
    pxsim::SimBufferConfig b;
    b.id = px::agent::BufferId::FromText(id);
    b.dwType = type;
    return b;
}

void AimAt(CHeadlessHost& host, const CSimCamera& camera, const char* id)
{
    host.Put("ServerAddress", HostValue::Text("127.0.0.1"));
    host.Put("Port", HostValue::I4(camera.Port(id)));
    host.Put("BufferId", HostValue::Text(id));
}

bool StartStreaming(CHeadlessHost& host, const CSimCamera& camera, const char* id)
{
    AimAt(host, camera, id);
    host.CreateWindow();
    return host.WaitForEvents(PXEVENT_OnDataReceive, 1, kWait);
}

int64_t CallInt(CHeadlessHost& host, const char* member, const std::vector<HostValue>& args)
{
    HostValue v;
    host.Call(member, args, &v);
    return v.Int();
}

bool StreamFirstImage(CHeadlessHost& host, CSimCamera& camera, CImageRecorder& recorder)
{
    return StartStreaming(host, camera, "IMG0") && recorder.WaitForImages(1) &&
           camera.sim.WaitForWaitingRequests(1, kWait);
}

pxhost::HeadlessHostOptions Window(int32_t width, int32_t height)
{
    pxhost::HeadlessHostOptions o;
    o.width = width;
    o.height = height;
    o.bManualTimers = true;
    return o;
}

CImageRecorder::CImageRecorder(CHeadlessHost& host) : m_host(host)
{
    host.SetEventHandler([shared = m_shared, &host](int32_t dispid, const PXVariant* args, uint32_t argc) {
        if (dispid != PXEVENT_OnImageReceived || argc != 2 || args[0].vt != PX_VT_UI8 || args[1].vt != PX_VT_UI8)
            return;
        CapturedImage image;
        const uint8_t* header = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(args[0].v.ullVal));
        const uint8_t* data = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(args[1].v.ullVal));
        if (header == nullptr)
            return;
        image.dwHeaderSize = Le32(header);
        image.width = static_cast<int32_t>(Le32(header + 4));
        image.height = static_cast<int32_t>(Le32(header + 8));
        image.bitCount = static_cast<uint16_t>(header[14] | (header[15] << 8));
        image.dwSizeImage = Le32(header + 20);
        image.dwClrUsed = Le32(header + 32);
        image.header.assign(header, header + 40 + (image.bitCount == 8 ? 1024 : 4));
        if (data != nullptr)
            image.data.assign(data, data + image.dwSizeImage);
        image.qwSerial = static_cast<uint64_t>(host.Get("SerialCounter").Int() & 0xFFFFFFFF) |
                         (static_cast<uint64_t>(host.Get("SerialCounterHigh").Int() & 0xFFFFFFFF) << 32);
        std::lock_guard<std::mutex> lock(shared->lock);
        shared->images.push_back(std::move(image));
    });
}

CImageRecorder::~CImageRecorder() { m_host.SetEventHandler(nullptr); }

std::vector<CapturedImage> CImageRecorder::Images() const
{
    std::lock_guard<std::mutex> lock(m_shared->lock);
    return m_shared->images;
}

bool CImageRecorder::WaitForImages(size_t count)
{
    return m_host.WaitFor([&] { return Images().size() >= count; }, kWait);
}

// ---- expected pictures -------------------------------------------------------------------------

std::vector<uint8_t> CameraBytes(const pxsim::SimGeometry& g, uint64_t serial)
{
    std::vector<uint8_t> out(pxsim::SimImageBytes(g));
    pxsim::SimRenderImage(g, serial, out.data());
    return out;
}

pxsim::SimGeometry WholeImage(uint32_t width, uint32_t height, uint32_t format)
{
    pxsim::SimGeometry g;
    g.dwFullSizeX = g.dwSizeX = width;
    g.dwFullSizeY = g.dwSizeY = height;
    g.dwPixelFormat = format;
    return g;
}

Picture CameraPicture(uint32_t width, uint32_t height, uint32_t format, uint64_t serial)
{
    const uint32_t display = DisplayFormat(format, 0, 0);
    const std::vector<uint8_t> bytes = CameraBytes(WholeImage(width, height, format), serial);
    return Look(Convert(bytes.data(), format, width, height, display), display, format, width, height);
}

uint32_t DisplayFormat(uint32_t cameraFormat, uint32_t displayOptions, uint32_t forceCopyFormat)
{
    uint32_t f = cameraFormat == PX_FORMAT_YUV16 ? PX_FORMAT_RGB24 : cameraFormat;
    if ((displayOptions & 2) != 0)
        f = PX_FORMAT_RGB32;
    return forceCopyFormat != 0 ? forceCopyFormat : f;
}

uint32_t DisplayStride(uint32_t displayFormat, uint32_t width)
{
    switch (displayFormat) {
    case PX_FORMAT_RGB32: return 4 * width;
    case PX_FORMAT_RGB24:
    case PX_FORMAT_YUV16: return (3 * width + 3) / 4 * 4;
    case PX_FORMAT_RGB16: return (2 * width + 3) / 4 * 4;
    default: return (width + 3) / 4 * 4;
    }
}

std::vector<uint8_t> Convert(const uint8_t* source, uint32_t sourceFormat, uint32_t width, uint32_t height,
                             uint32_t targetFormat)
{
    const uint32_t stride = DisplayStride(targetFormat, width);
    std::vector<uint8_t> out(static_cast<size_t>(stride) * height, 0);
    const uint32_t sourceRow = width * BytesPerPixel(sourceFormat);
    const bool sourceKnown = IsMono(sourceFormat) || sourceFormat == PX_FORMAT_RGB24 ||
                             sourceFormat == PX_FORMAT_RGB32 || sourceFormat == PX_FORMAT_YUV16 ||
                             sourceFormat == PX_FORMAT_RGB16;
    bool converts = false;
    switch (targetFormat) {
    case PX_FORMAT_RGB32:
    case PX_FORMAT_RGB24:
        converts = sourceKnown && sourceFormat != PX_FORMAT_RGB16;
        break;
    case PX_FORMAT_MONO8:
    case PX_FORMAT_SYSCOLOR8:
        converts = IsMono(sourceFormat);
        break;
    case PX_FORMAT_RGB16:
        converts = sourceKnown;
        break;
    default:
        break;
    }
    if (!converts)
        return out;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = source + static_cast<size_t>(y) * sourceRow;
        uint8_t* target = out.data() + static_cast<size_t>(y) * stride;
        if (sourceFormat == targetFormat || (IsMono(sourceFormat) && IsMono(targetFormat))) {
            memcpy(target, row, sourceRow);
            continue;
        }
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t rgb[3];
            SourceRgb(row, sourceFormat, x, rgb);
            if (targetFormat == PX_FORMAT_RGB16) {
                uint16_t w = Pack16(rgb);
                target[2 * x] = static_cast<uint8_t>(w);
                target[2 * x + 1] = static_cast<uint8_t>(w >> 8);
                continue;
            }
            uint8_t* p = target + x * BytesPerPixel(targetFormat);
            p[0] = rgb[2];
            p[1] = rgb[1];
            p[2] = rgb[0];
            if (targetFormat == PX_FORMAT_RGB32)
                p[3] = 0;
        }
    }
    return out;
}

Picture Look(const std::vector<uint8_t>& converted, uint32_t displayFormat, uint32_t sourceFormat, uint32_t width,
             uint32_t height)
{
    Picture p;
    p.width = static_cast<int32_t>(width);
    p.height = static_cast<int32_t>(height);
    p.rgb.resize(static_cast<size_t>(width) * height);
    const uint32_t stride = DisplayStride(displayFormat, width);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = converted.data() + static_cast<size_t>(y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t c;
            switch (displayFormat) {
            case PX_FORMAT_RGB32:
                c = (uint32_t{row[4 * x + 2]} << 16) | (uint32_t{row[4 * x + 1]} << 8) | row[4 * x];
                break;
            case PX_FORMAT_RGB24:
            case PX_FORMAT_YUV16:
                c = (uint32_t{row[3 * x + 2]} << 16) | (uint32_t{row[3 * x + 1]} << 8) | row[3 * x];
                break;
            case PX_FORMAT_RGB16: {
                uint32_t w = row[2 * x] | (row[2 * x + 1] << 8);
                c = (Expand5((w >> 10) & 31) << 16) | (Expand5((w >> 5) & 31) << 8) | Expand5(w & 31);
                break;
            }
            default:
                c = TableColour(row[x], sourceFormat == PX_FORMAT_SYSCOLOR8);
                break;
            }
            p.rgb[static_cast<size_t>(y) * width + x] = c;
        }
    }
    return p;
}

Picture Stretch(const Picture& p, int32_t width, int32_t height)
{
    Picture out;
    out.width = width;
    out.height = height;
    out.rgb.resize(static_cast<size_t>(width) * height);
    for (int32_t y = 0; y < height; ++y) {
        int64_t sy = height == p.height ? y : (2 * int64_t{y} + 1) * p.height / (2 * int64_t{height});
        for (int32_t x = 0; x < width; ++x) {
            int64_t sx = width == p.width ? x : (2 * int64_t{x} + 1) * p.width / (2 * int64_t{width});
            out.rgb[static_cast<size_t>(y) * width + x] = p.At(static_cast<int32_t>(sx), static_cast<int32_t>(sy));
        }
    }
    return out;
}

Picture FromWindow(const pxhost::HostBitmap& window)
{
    Picture p;
    p.width = window.width;
    p.height = window.height;
    p.rgb.resize(static_cast<size_t>(window.width) * window.height);
    for (int32_t y = 0; y < window.height; ++y) {
        for (int32_t x = 0; x < window.width; ++x)
            p.rgb[static_cast<size_t>(y) * window.width + x] = window.Pixel(x, y);
    }
    return p;
}

std::string FirstDifference(const Picture& got, const Picture& want, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    if (got.width != want.width || got.height != want.height)
        return "size " + std::to_string(got.width) + "x" + std::to_string(got.height) + " != " +
               std::to_string(want.width) + "x" + std::to_string(want.height);
    if (x1 == 0) {
        x1 = got.width;
        y1 = got.height;
    }
    for (int32_t y = y0; y < y1; ++y) {
        for (int32_t x = x0; x < x1; ++x) {
            if (got.At(x, y) != want.At(x, y)) {
                char text[96];
                snprintf(text, sizeof text, "(%d, %d) 0x%06X != 0x%06X", x, y, got.At(x, y), want.At(x, y));
                return text;
            }
        }
    }
    return "";
}

size_t CountColour(const Picture& p, uint32_t rgb, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    size_t n = 0;
    for (int32_t y = std::max(0, y0); y < std::min(p.height, y1); ++y) {
        for (int32_t x = std::max(0, x0); x < std::min(p.width, x1); ++x)
            n += p.At(x, y) == rgb ? 1 : 0;
    }
    return n;
}

} // namespace pxtest
