#include "image/Conversion.h"

#include <cstdio>
#include <cstring>

#include "image/PixelFormat.h"
#include "image/Rows.h"

namespace pximage {

namespace {

constexpr uint32_t Colour(uint32_t red, uint32_t green, uint32_t blue) { return (red << 16) | (green << 8) | blue; }

constexpr uint16_t Colour16(uint32_t c)
{
    return static_cast<uint16_t>((((c >> 19) & 0x1F) << 10) | (((c >> 11) & 0x1F) << 5) | ((c >> 3) & 0x1F));
}

struct Tables {
    uint32_t grey[256], system[256];
    uint16_t grey16[256], system16[256];
};

constexpr Tables MakeTables()
{
    // The fixed system colours (red, green, blue) over the grey ramp.
    struct Fixed {
        uint32_t index, red, green, blue;
    };
    constexpr Fixed kFixed[] = {
        {1, 128, 0, 0},      {2, 0, 128, 0},     {3, 128, 128, 0},   {4, 0, 0, 128},     {5, 128, 0, 128},
        {6, 0, 128, 128},    {7, 192, 192, 192}, {8, 192, 220, 192}, {9, 166, 202, 240}, {247, 164, 160, 160},
        {248, 128, 128, 128}, {249, 255, 0, 0},  {250, 0, 255, 0},   {251, 255, 255, 0}, {252, 0, 0, 255},
        {253, 255, 0, 255},  {254, 0, 255, 255},
    };
    Tables t{};
    for (uint32_t i = 0; i < 256; ++i)
        t.grey[i] = t.system[i] = Colour(i, i, i);
    for (const Fixed& f : kFixed)
        t.system[f.index] = Colour(f.red, f.green, f.blue);
    for (uint32_t i = 0; i < 256; ++i) {
        t.grey16[i] = Colour16(t.grey[i]);
        t.system16[i] = Colour16(t.system[i]);
    }
    return t;
}

constexpr Tables kTables = MakeTables();

// Bytes per pixel of a converted row.
uint32_t TargetBytesPerPixel(uint32_t format)
{
    switch (format) {
    case PX_FORMAT_RGB32: return 4;
    case PX_FORMAT_RGB24: return 3;
    case PX_FORMAT_RGB16: return 2;
    default: return 1;
    }
}

CopyMessage Say(const char* format, uint32_t value)
{
    CopyMessage m;
    std::snprintf(m.text, sizeof m.text, format, static_cast<int>(value));
    return m;
}

CopyMessage Say(const char* text)
{
    CopyMessage m;
    std::snprintf(m.text, sizeof m.text, "%s", text);
    return m;
}

// One image, row by row: the source without gaps, the target at its pitch.
class CImageRows {
public:
    CImageRows(const uint8_t* src, uint32_t sourceFormat, uint32_t sizeX, uint32_t sizeY, uint8_t* dst, size_t pitch)
        : m_pSrc(src), m_srcStride(size_t{sizeX} * BytesPerPixel(sourceFormat)), m_sizeX(sizeX), m_sizeY(sizeY),
          m_pDst(dst), m_pitch(pitch)
    {
    }
    void Run(RowFn row) const
    {
        for (uint32_t y = 0; y < m_sizeY; ++y)
            row(m_pSrc + y * m_srcStride, m_pDst + y * m_pitch, m_sizeX);
    }
    template <typename Table>
    void Run(void (*row)(const uint8_t*, uint8_t*, uint32_t, const Table*), const Table* table) const
    {
        for (uint32_t y = 0; y < m_sizeY; ++y)
            row(m_pSrc + y * m_srcStride, m_pDst + y * m_pitch, m_sizeX, table);
    }
    void Copy() const
    {
        for (uint32_t y = 0; y < m_sizeY; ++y)
            std::memcpy(m_pDst + y * m_pitch, m_pSrc + y * m_srcStride, m_srcStride);
    }

private:
    const uint8_t* m_pSrc;
    size_t m_srcStride;
    uint32_t m_sizeX, m_sizeY;
    uint8_t* m_pDst;
    size_t m_pitch;
};

} // namespace

const uint32_t* GreyTable() { return kTables.grey; }
const uint32_t* SystemColourTable() { return kTables.system; }
const uint16_t* GreyTable16() { return kTables.grey16; }
const uint16_t* SystemColourTable16() { return kTables.system16; }

uint32_t ChooseCopyFormat(uint32_t pixelFormat, uint32_t displayOptions, uint32_t forceCopyFormat)
{
    uint32_t format = pixelFormat == PX_FORMAT_YUV16 ? PX_FORMAT_RGB24 : pixelFormat;
    if ((displayOptions & 0x2) != 0)
        format = PX_FORMAT_RGB32;
    if (forceCopyFormat != 0)
        format = forceCopyFormat;
    return format;
}

bool CopyLayout(uint32_t copyFormat, uint32_t sizeX, uint32_t sizeY, uint32_t* pitch, uint32_t* imageSize)
{
    uint64_t row;
    switch (copyFormat) {
    case PX_FORMAT_RGB32: row = uint64_t{sizeX} * 4; break;
    case PX_FORMAT_RGB24:
    case PX_FORMAT_YUV16: row = (uint64_t{sizeX} * 3 + 3) & ~uint64_t{3}; break;
    case PX_FORMAT_RGB16: row = (uint64_t{sizeX} * 2 + 3) & ~uint64_t{3}; break;
    default: row = (uint64_t{sizeX} + 3) & ~uint64_t{3}; break;
    }
    const uint64_t size = row * sizeY;
    if (row > UINT32_MAX || size > UINT32_MAX)
        return false;
    *pitch = static_cast<uint32_t>(row);
    *imageSize = static_cast<uint32_t>(size);
    return true;
}

uint16_t DibBitCount(uint32_t copyFormat)
{
    switch (copyFormat) {
    case PX_FORMAT_RGB32: return 32;
    case PX_FORMAT_RGB24:
    case PX_FORMAT_YUV16: return 24;
    case PX_FORMAT_RGB16: return 16;
    default: return 8;
    }
}

size_t DibHeaderBytes(uint32_t copyFormat)
{
    return DibBitCount(copyFormat) == 8 ? sizeof(BitmapInfoHeader) + 256 * 4 : sizeof(BitmapInfoHeader) + 4;
}

void FillDibHeader(uint8_t* block, uint32_t copyFormat, uint32_t pixelFormat, uint32_t sizeX, uint32_t sizeY,
                   uint32_t imageSize)
{
    BitmapInfoHeader h{};
    h.biSize = sizeof h;
    h.biWidth = static_cast<int32_t>(sizeX);
    h.biHeight = -static_cast<int32_t>(sizeY);
    h.biPlanes = 1;
    h.biBitCount = DibBitCount(copyFormat);
    h.biSizeImage = imageSize;
    uint8_t* table = block + sizeof h;
    if (h.biBitCount == 8) {
        h.biClrUsed = h.biClrImportant = 256;
        std::memcpy(table, pixelFormat == PX_FORMAT_SYSCOLOR8 ? kTables.system : kTables.grey, 256 * 4);
    } else {
        std::memset(table, 0, 4);
    }
    std::memcpy(block, &h, sizeof h);
}

CopyMessage CopyConvert(const uint8_t* source, uint32_t sourceFormat, uint32_t sizeX, uint32_t sizeY,
                        uint8_t* target, uint32_t targetFormat, uint32_t targetPitch)
{
    const bool eightBitSource = IsEightBit(sourceFormat);
    const bool systemColours = sourceFormat == PX_FORMAT_SYSCOLOR8;
    const bool knownSource = BytesPerPixel(sourceFormat) != 0;
    const RowSet& rows = Rows();
    const CImageRows image(source, sourceFormat, sizeX, sizeY, target, targetPitch);
    const bool fits =
        source != nullptr && target != nullptr && targetPitch >= uint64_t{sizeX} * TargetBytesPerPixel(targetFormat);

    switch (targetFormat) {
    case PX_FORMAT_RGB32:
        if (sourceFormat == PX_FORMAT_RGB16)
            return Say("CopyConvert: cannot copy EB_IMG_RGB16 source into EB_IMG_RGB32\n");
        if (!fits)
            break;
        if (sourceFormat == PX_FORMAT_RGB32)
            image.Copy();
        else if (systemColours)
            image.Run(Index8ToRgb32Row_C, kTables.system);
        else if (eightBitSource)
            image.Run(rows.grey8ToRgb32);
        else if (sourceFormat == PX_FORMAT_RGB24)
            image.Run(rows.rgb24ToRgb32);
        else if (sourceFormat == PX_FORMAT_YUV16)
            image.Run(rows.yuv16ToRgb32);
        break;
    case PX_FORMAT_MONO8:
    case PX_FORMAT_SYSCOLOR8:
        if (knownSource && !eightBitSource)
            return Say("CopyConvert: cannot copy '%d' source type into EB_IMG_MONO8\n", sourceFormat);
        if (fits && eightBitSource)
            image.Copy();
        break;
    case PX_FORMAT_RGB24:
        if (sourceFormat == PX_FORMAT_RGB16)
            return Say("CopyConvert: cannot copy EB_IMG_RGB16 source into EB_IMG_RGB24\n");
        if (!fits)
            break;
        if (sourceFormat == PX_FORMAT_RGB24)
            image.Copy();
        else if (systemColours)
            image.Run(Index8ToRgb24Row_C, kTables.system);
        else if (eightBitSource)
            image.Run(rows.grey8ToRgb24);
        else if (sourceFormat == PX_FORMAT_RGB32)
            image.Run(rows.rgb32ToRgb24);
        else if (sourceFormat == PX_FORMAT_YUV16)
            image.Run(rows.yuv16ToRgb24);
        break;
    case PX_FORMAT_YUV16:
        return Say("CopyConvert: cannot copy '%d' source type into EB_IMG_YUV16\n", sourceFormat);
    case PX_FORMAT_RGB16:
        if (!fits)
            break;
        if (sourceFormat == PX_FORMAT_RGB16)
            image.Copy();
        else if (systemColours)
            image.Run(Index8ToRgb16Row_C, kTables.system16);
        else if (eightBitSource)
            image.Run(rows.grey8ToRgb16);
        else if (sourceFormat == PX_FORMAT_RGB32)
            image.Run(rows.rgb32ToRgb16);
        else if (sourceFormat == PX_FORMAT_RGB24)
            image.Run(rows.rgb24ToRgb16);
        else if (sourceFormat == PX_FORMAT_YUV16)
            image.Run(rows.yuv16ToRgb16);
        break;
    default:
        return Say("CopyConvert: cannot copy into unknown destination '%d' type\n", targetFormat);
    }
    return {};
}

} // namespace pximage
