// TIFF through libtiff, with its default settings (uncompressed strips). libtiff seeks back while
// it writes, so the file is assembled in memory and written out at the end; its messages go to a
// handler of this file instead of the process's standard error.
#include <cstring>
#include <new>
#include <vector>

#include <tiffio.h>

#include "image/Encoders.h"

namespace pximage {

namespace {

struct SMemoryFile {
    std::vector<uint8_t> data;
    uint64_t position = 0;
};

SMemoryFile* Of(thandle_t h) { return static_cast<SMemoryFile*>(h); }

tmsize_t TiffRead(thandle_t h, void* buffer, tmsize_t size)
{
    SMemoryFile* f = Of(h);
    if (size < 0 || f->position >= f->data.size())
        return 0;
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(size), f->data.size() - f->position);
    std::memcpy(buffer, f->data.data() + f->position, n);
    f->position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t TiffWrite(thandle_t h, void* buffer, tmsize_t size)
{
    SMemoryFile* f = Of(h);
    if (size < 0)
        return -1;
    const uint64_t end = f->position + static_cast<uint64_t>(size);
    try {
        if (end > f->data.size())
            f->data.resize(end);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    std::memcpy(f->data.data() + f->position, buffer, static_cast<size_t>(size));
    f->position = end;
    return size;
}

toff_t TiffSeek(thandle_t h, toff_t offset, int whence)
{
    SMemoryFile* f = Of(h);
    const uint64_t base = whence == SEEK_CUR ? f->position : whence == SEEK_END ? f->data.size() : 0;
    f->position = base + offset;
    return f->position;
}

int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t h) { return Of(h)->data.size(); }
int TiffMap(thandle_t, void**, toff_t*) { return 0; }
void TiffUnmap(thandle_t, void*, toff_t) {}
int TiffQuiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The sample order TIFF wants: red, green, blue.
void ToRgb(const uint8_t* src, uint8_t* dst, uint32_t width, PixelLayout layout)
{
    const uint32_t step = layout == PixelLayout::Bgrx32 ? 4 : 3;
    for (uint32_t x = 0; x < width; ++x, src += step, dst += 3)
        dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
}

} // namespace

ImageError EncodeTiff(CFileOut* out, CRowSource* rows)
{
    const bool grey = rows->Layout() == PixelLayout::Grey8;
    SMemoryFile file;
    std::vector<uint8_t> row;
    try {
        row.resize(size_t{rows->Width()} * 3);
    } catch (const std::bad_alloc&) {
        return ImageError::NoMemory;
    }
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr)
        return ImageError::NoMemory;
    TIFFOpenOptionsSetErrorHandlerExtR(options, TiffQuiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, TiffQuiet, nullptr);
    TIFF* tif = TIFFClientOpenExt("image", "w", &file, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap,
                                  TiffUnmap, options);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr)
        return ImageError::EncoderFailed;
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, rows->Width()) && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, rows->Height()) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, grey ? 1 : 3) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    for (uint32_t y = 0; ok && y < rows->Height(); ++y) {
        const uint8_t* src = rows->Row(y);
        if (!grey) {
            ToRgb(src, row.data(), rows->Width(), rows->Layout());
            src = row.data();
        }
        ok = TIFFWriteScanline(tif, const_cast<uint8_t*>(src), y, 0) == 1;
    }
    ok = TIFFFlush(tif) == 1 && ok;
    TIFFClose(tif);
    if (!ok)
        return ImageError::EncoderFailed;
    out->Write(file.data.data(), file.data.size());
    return ImageError::Ok;
}

} // namespace pximage
