#include "sim/SimPattern.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "sim/SimConfig.h"
#include "image/PixelFormat.h"
#include "netaccess/protocol/AgentBytes.h"

namespace pxsim {

using px::agent::GetLe16;
using px::agent::PutLe16;
using px::agent::PutLe32;
using px::agent::PutLe64;

namespace {

// 5x7 digits, one byte per row, bit 4 the leftmost column.
constexpr uint8_t kDigits[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

constexpr uint32_t kLabelX = 8, kLabelY = 8, kLabelMargin = 4, kBarWidth = 8;

// The frame-number label of one frame: where it lies in the full image and its digits.
struct Label {
    char szDigits[24];
    uint32_t dwCount;
    uint32_t dwScale;
    uint32_t dwX0, dwY0, dwX1, dwY1;  // black box, end exclusive

    Label(uint32_t fullX, uint32_t fullY, uint64_t frame)
    {
        dwCount = static_cast<uint32_t>(snprintf(szDigits, sizeof szDigits, "%llu",
                                                 static_cast<unsigned long long>(frame)));
        uint32_t smaller = fullX < fullY ? fullX : fullY;
        dwScale = smaller / 120 > 0 ? smaller / 120 : 1;
        dwX0 = kLabelX - kLabelMargin;
        dwY0 = kLabelY - kLabelMargin;
        dwX1 = kLabelX + dwCount * 6 * dwScale + kLabelMargin;
        dwY1 = kLabelY + 7 * dwScale + kLabelMargin;
    }

    bool InBox(uint32_t x, uint32_t y) const { return x >= dwX0 && x < dwX1 && y >= dwY0 && y < dwY1; }

    bool Lit(uint32_t x, uint32_t y) const
    {
        if (x < kLabelX || y < kLabelY)
            return false;
        uint32_t cell = (x - kLabelX) / (6 * dwScale);
        uint32_t col = (x - kLabelX) % (6 * dwScale) / dwScale;
        uint32_t row = (y - kLabelY) / dwScale;
        if (cell >= dwCount || col >= 5 || row >= 7)
            return false;
        return (kDigits[szDigits[cell] - '0'][row] >> (4 - col)) & 1;
    }
};

uint32_t BarX(uint32_t fullX, uint64_t frame)
{
    return fullX == 0 ? 0 : static_cast<uint32_t>((frame * kBarWidth) % fullX);
}

// Full-image coordinate of every delivered column (mode 0 samples, other modes shift).
std::vector<uint32_t> ColumnMap(const SimGeometry& g)
{
    std::vector<uint32_t> xs(g.dwSizeX);
    for (uint32_t x = 0; x < g.dwSizeX; ++x)
        xs[x] = g.dwSubsection == 0 ? static_cast<uint32_t>(uint64_t{x} * g.dwFullSizeX / g.dwSizeX)
                                    : g.dwOffsetX + x;
    return xs;
}

uint32_t RowOf(const SimGeometry& g, uint32_t y)
{
    return g.dwSubsection == 0 ? static_cast<uint32_t>(uint64_t{y} * g.dwFullSizeY / g.dwSizeY) : g.dwOffsetY + y;
}

uint8_t Luma(SimRgb c) { return static_cast<uint8_t>((c.r * 77 + c.g * 150 + c.b * 29) >> 8); }

} // namespace

uint64_t SimImageBytes(const SimGeometry& g)
{
    return uint64_t{g.dwSizeX} * g.dwSizeY * pximage::BytesPerPixel(g.dwPixelFormat);
}

SimRgb SimPatternRgb(uint32_t x, uint32_t y, uint64_t frame)
{
    SimRgb c;
    c.b = static_cast<uint8_t>(x + 2 * frame);
    c.g = static_cast<uint8_t>(y + frame);
    c.r = (((x >> 5) + (y >> 5)) & 1) ? 0xE0 : 0x20;
    return c;
}

uint8_t SimPatternGrey(uint32_t x, uint32_t y, uint64_t frame)
{
    uint8_t v = static_cast<uint8_t>(x + 2 * y + 3 * frame);
    return (((x >> 5) + (y >> 5)) & 1) ? static_cast<uint8_t>(v ^ 0x80) : v;
}

namespace {

// One pixel in the layout of Format; x is the delivered column (YUV alternates U and V by it).
template <uint32_t Format>
inline void Store(uint8_t* p, uint32_t x, SimRgb c, uint8_t grey)
{
    if constexpr (Format == PX_FORMAT_RGB32) {
        p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 0;
    } else if constexpr (Format == PX_FORMAT_RGB24) {
        p[0] = c.b, p[1] = c.g, p[2] = c.r;
    } else if constexpr (Format == PX_FORMAT_YUV16) {
        // Y0 U Y1 V: each pixel carries its brightness and, in turn, U (even) or V (odd).
        p[0] = Luma(c);
        p[1] = (x & 1) == 0 ? c.b : c.r;
    } else if constexpr (Format == PX_FORMAT_RGB16) {
        PutLe16(p, static_cast<uint16_t>(((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3)));
    } else {
        p[0] = grey;
    }
}

// The format is a template argument so that the pixel loop has no format test in it.
template <uint32_t Format>
void RenderRows(const SimGeometry& g, uint64_t frame, uint8_t* out)
{
    constexpr bool kGrey = Format != 256 && Format != 16 && Format != 4096 && Format != 8192;
    const uint32_t bpp = pximage::BytesPerPixel(Format);
    const Label label(g.dwFullSizeX, g.dwFullSizeY, frame);
    const uint32_t barX = BarX(g.dwFullSizeX, frame);
    const std::vector<uint32_t> xs = ColumnMap(g);

    for (uint32_t y = 0; y < g.dwSizeY; ++y) {
        const uint32_t fy = RowOf(g, y);
        uint8_t* row = out + uint64_t{y} * g.dwSizeX * bpp;
        uint8_t* p = row;
        for (uint32_t x = 0; x < g.dwSizeX; ++x, p += bpp) {
            const uint32_t fx = xs[x];
            if constexpr (kGrey)
                Store<Format>(p, x, SimRgb{0, 0, 0}, SimPatternGrey(fx, fy, frame));
            else
                Store<Format>(p, x, SimPatternRgb(fx, fy, frame), 0);
        }
        // The moving bar and the frame-number label over the pattern.
        p = row;
        for (uint32_t x = 0; x < g.dwSizeX; ++x, p += bpp)
            if (xs[x] - barX < kBarWidth)
                Store<Format>(p, x, SimRgb{0xFF, 0xFF, 0x00}, 0xFF);
        if (fy >= label.dwY0 && fy < label.dwY1) {
            p = row;
            for (uint32_t x = 0; x < g.dwSizeX; ++x, p += bpp) {
                if (!label.InBox(xs[x], fy))
                    continue;
                const uint8_t v = label.Lit(xs[x], fy) ? 0xFF : 0x00;
                Store<Format>(p, x, SimRgb{v, v, v}, v);
            }
        }
    }
}

} // namespace

void SimRenderImage(const SimGeometry& g, uint64_t frame, uint8_t* out)
{
    if (g.dwSizeX == 0 || g.dwSizeY == 0)
        return;
    switch (g.dwPixelFormat) {
    case PX_FORMAT_RGB32: RenderRows<PX_FORMAT_RGB32>(g, frame, out); break;
    case PX_FORMAT_RGB24: RenderRows<PX_FORMAT_RGB24>(g, frame, out); break;
    case PX_FORMAT_YUV16: RenderRows<PX_FORMAT_YUV16>(g, frame, out); break;
    case PX_FORMAT_RGB16: RenderRows<PX_FORMAT_RGB16>(g, frame, out); break;
    default: RenderRows<PX_FORMAT_MONO8>(g, frame, out); break;
    }
}

void SimHistogram(const SimGeometry& g, const uint8_t* image, uint32_t bins[256])
{
    std::memset(bins, 0, 256 * sizeof(uint32_t));
    const uint64_t pixels = uint64_t{g.dwSizeX} * g.dwSizeY;
    const uint32_t bpp = pximage::BytesPerPixel(g.dwPixelFormat);
    for (uint64_t i = 0; i < pixels; ++i) {
        const uint8_t* p = image + i * bpp;
        uint8_t v;
        switch (g.dwPixelFormat) {
        case PX_FORMAT_RGB32:
        case PX_FORMAT_RGB24: v = Luma(SimRgb{p[2], p[1], p[0]}); break;
        case PX_FORMAT_YUV16: v = p[0]; break;
        case PX_FORMAT_RGB16: {
            uint16_t w = GetLe16(p);
            v = Luma(SimRgb{static_cast<uint8_t>(((w >> 10) & 31) << 3), static_cast<uint8_t>(((w >> 5) & 31) << 3),
                            static_cast<uint8_t>((w & 31) << 3)});
            break;
        }
        default: v = p[0]; break;
        }
        ++bins[v];
    }
}

void SimRenderText(px::agent::BufferId id, uint64_t frame, uint32_t chars, uint8_t* out)
{
    std::memset(out, 0, uint64_t{chars} * 2);
    if (chars == 0)
        return;
    char text[64];
    int n = snprintf(text, sizeof text, "Kelvo %s frame %llu", id.ToText().c_str(), static_cast<unsigned long long>(frame));
    uint32_t len = n < 0 ? 0 : static_cast<uint32_t>(n);
    if (len > chars - 1)
        len = chars - 1;
    for (uint32_t i = 0; i < len; ++i)
        PutLe16(out + 2 * i, static_cast<uint8_t>(text[i]));
}

uint32_t SimArrayElementSize(uint32_t type)
{
    switch (type & ~0x2000u) {
    case SIM_VT_I1:
    case SIM_VT_UI1: return 1;
    case SIM_VT_I2:
    case SIM_VT_UI2: return 2;
    case SIM_VT_I4:
    case SIM_VT_UI4:
    case SIM_VT_INT:
    case SIM_VT_UINT:
    case SIM_VT_R4: return 4;
    case SIM_VT_R8: return 8;
    default: return 0;
    }
}

void SimRenderArray(uint32_t type, uint32_t count, uint64_t frame, uint8_t* out)
{
    PutLe32(out, type);
    PutLe32(out + 4, count);
    const uint32_t size = SimArrayElementSize(type);
    uint8_t* p = out + 8;
    for (uint32_t i = 0; i < count; ++i, p += size) {
        const uint64_t value = frame + i;
        switch (type & ~0x2000u) {
        case SIM_VT_R4: {
            float f = static_cast<float>(value) + 0.5f;
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            PutLe32(p, bits);
            break;
        }
        case SIM_VT_R8: {
            double d = static_cast<double>(value) + 0.5;
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            PutLe64(p, bits);
            break;
        }
        default:
            for (uint32_t b = 0; b < size; ++b)
                p[b] = static_cast<uint8_t>(value >> (8 * b));
            break;
        }
    }
}

void SimRenderWords(uint64_t frame, size_t bytes, uint8_t* out)
{
    size_t i = 0;
    for (; i + 4 <= bytes; i += 4)
        PutLe32(out + i, static_cast<uint32_t>((frame << 16) + i / 4));
    for (; i < bytes; ++i)
        out[i] = 0;
}

} // namespace pxsim
