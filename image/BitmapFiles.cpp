#include "image/BitmapFiles.h"

#include <cstring>
#include <new>
#include <vector>

#include "image/Conversion.h"
#include "image/Encoders.h"
#include "image/Rows.h"

namespace pximage {

namespace {

struct LE {
    static void Put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }
    static void Put32(uint8_t* p, uint32_t v) { Put16(p, v), Put16(p + 2, v >> 16); }
};

// The header block read and checked, with the geometry the writers need.
struct Dib {
    BitmapInfoHeader header;
    const uint8_t* table; // colour entries, header.biClrUsed of them
    const uint8_t* pixels;
    uint32_t width, height, rowBytes;
    bool topDown;
};

bool ReadDib(const uint8_t* block, const uint8_t* pixels, Dib* d)
{
    if (block == nullptr || pixels == nullptr)
        return false;
    std::memcpy(&d->header, block, sizeof d->header);
    const BitmapInfoHeader& h = d->header;
    const uint32_t bits = h.biBitCount;
    if (h.biHeight == 0 || h.biHeight == INT32_MIN || h.biWidth <= 0 || h.biClrUsed > 256 || h.biSizeImage == 0 ||
        (bits != 8 && bits != 16 && bits != 24 && bits != 32))
        return false;
    d->topDown = h.biHeight < 0;
    d->height = static_cast<uint32_t>(d->topDown ? -h.biHeight : h.biHeight);
    d->width = static_cast<uint32_t>(h.biWidth);
    d->rowBytes = h.biSizeImage / d->height;
    if (uint64_t{d->width} * (bits / 8) > d->rowBytes)
        return false;
    d->table = block + sizeof h;
    d->pixels = pixels;
    return true;
}

ImageStatus WriteBmp(const char* path, const Dib& d)
{
    BitmapInfoHeader h = d.header;
    h.biHeight = static_cast<int32_t>(d.height);
    const uint32_t padded = (d.rowBytes + 3) & ~3u;
    if (padded != d.rowBytes)
        h.biSizeImage = padded * d.height;
    const uint32_t tableBytes = 4 * h.biClrUsed;
    const uint32_t offset = 14 + sizeof h + tableBytes;
    uint8_t fileHeader[14] = {'B', 'M'};
    LE::Put32(fileHeader + 2, offset + h.biSizeImage);
    LE::Put32(fileHeader + 10, offset);

    CFileOut out(false);
    ImageStatus status = out.Create(path);
    if (!status.Ok())
        return status;
    out.Write(fileHeader, sizeof fileHeader);
    out.Write(&h, sizeof h);
    out.Write(d.table, tableBytes);
    static const uint8_t zeros[4] = {};
    for (uint32_t i = 0; i < d.height; ++i) {
        // The file holds the bottom row first.
        const uint32_t row = d.topDown ? d.height - 1 - i : i;
        out.Write(d.pixels + size_t{row} * d.rowBytes, d.rowBytes);
        out.Write(zeros, padded - d.rowBytes);
    }
    return out.Finish();
}

bool IsGreyRamp(const uint8_t* table, uint32_t count)
{
    return count == 256 && std::memcmp(table, GreyTable(), 256 * 4) == 0;
}

// The bitmap's rows from the top in a layout the encoders take: 8-bit grey or 32-bit rows as
// they are, anything else converted row by row into blue, green, red.
class CDibRows : public CRowSource {
public:
    static PixelLayout LayoutOf(const Dib& d)
    {
        if (d.header.biBitCount == 8)
            return IsGreyRamp(d.table, d.header.biClrUsed) ? PixelLayout::Grey8 : PixelLayout::Bgr24;
        return d.header.biBitCount == 32 ? PixelLayout::Bgrx32 : PixelLayout::Bgr24;
    }
    explicit CDibRows(const Dib& d) : CRowSource(d.width, d.height, LayoutOf(d)), m_dib(d) {}
    bool Prepare()
    {
        try {
            m_row.resize(size_t{m_dib.width} * 3);
            if (m_dib.header.biBitCount == 8) {
                // A short table leaves the missing entries black.
                m_table.assign(256, 0);
                std::memcpy(m_table.data(), m_dib.table, 4 * m_dib.header.biClrUsed);
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    const uint8_t* Row(uint32_t y) override
    {
        const uint8_t* src = m_dib.pixels + size_t{m_dib.topDown ? y : m_dib.height - 1 - y} * m_dib.rowBytes;
        if (Layout() != PixelLayout::Bgr24 || m_dib.header.biBitCount == 24)
            return src;
        if (m_dib.header.biBitCount == 16)
            Rgb16ToRgb24Row_C(src, m_row.data(), m_dib.width);
        else
            Index8ToRgb24Row_C(src, m_row.data(), m_dib.width, m_table.data());
        return m_row.data();
    }

private:
    const Dib& m_dib;
    std::vector<uint8_t> m_row;
    std::vector<uint32_t> m_table;
};

} // namespace

ImageStatus WriteBitmapFile(BitmapFileType type, const char* path, const uint8_t* header, const uint8_t* pixels)
{
    Dib d;
    if (!ReadDib(header, pixels, &d))
        return Fail(ImageError::BadArgument);
    if (type == BitmapFileType::Bitmap)
        return WriteBmp(path, d);

    CDibRows rows(d);
    if (!rows.Prepare())
        return Fail(ImageError::NoMemory);
    CFileOut out(false);
    ImageStatus status = out.Create(path);
    if (!status.Ok())
        return status;
    ImageError encoded = ImageError::Ok;
    switch (type) {
    case BitmapFileType::Raw: out.Write(pixels, d.header.biSizeImage); break;
    case BitmapFileType::Png: encoded = EncodePng(&out, &rows); break;
    case BitmapFileType::Jpeg: encoded = EncodeJpeg(&out, &rows); break;
    case BitmapFileType::Tiff: encoded = EncodeTiff(&out, &rows); break;
    case BitmapFileType::Bitmap: break;
    }
    if (encoded != ImageError::Ok)
        out.SetFailed(Fail(encoded));
    return out.Finish();
}

} // namespace pximage
