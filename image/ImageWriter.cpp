// Image files from camera frames; see ImageWriter.h.
#include "image/ImageWriter.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <png.h>

#include "image/Encoders.h"
#include "image/Planes.h"

namespace pximage {

namespace {

// Row bytes and the whole extent of an image (last row without its padding), false on overflow
// or when the stride is shorter than a row.
bool Extent(size_t stride, uint32_t width, uint32_t height, uint32_t bpp, size_t* rowBytes, size_t* total)
{
    if (width == 0 || height == 0 || bpp == 0)
        return false;
    const size_t row = size_t{width} * bpp;
    if (row / bpp != width || stride < row)
        return false;
    const size_t rows = size_t{height} - 1;
    if (rows != 0 && stride > (SIZE_MAX - row) / rows)
        return false;
    *rowBytes = row;
    *total = rows * stride + row;
    return true;
}

// libpng reports errors through this and never returns to its caller: back to EncodePng's setjmp.
[[noreturn]] void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

void PngWrite(png_structp png, png_bytep data, size_t size)
{
    auto* out = static_cast<CFileOut*>(png_get_io_ptr(png));
    out->Write(data, size);
    if (out->Failed())
        png_error(png, "write failed");
}
void PngFlush(png_structp) {}

// Everything that touches libpng, with no C++ object alive across setjmp: a longjmp out of libpng
// only unwinds plain values here.
ImageError EncodePngRows(CFileOut* out, CRowSource* rows)
{
    const uint32_t width = rows->Width(), height = rows->Height();
    const PixelLayout layout = rows->Layout();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (png == nullptr)
        return ImageError::NoMemory;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return ImageError::NoMemory;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return ImageError::EncoderFailed;
    }
    png_set_write_fn(png, out, PngWrite, PngFlush);
    const int colour = layout == PixelLayout::Grey8 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB;
    png_set_IHDR(png, info, width, height, 8, colour, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // Frames are written many per second: fast compression matters more than the last byte.
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    if (layout != PixelLayout::Grey8)
        png_set_bgr(png);
    if (layout == PixelLayout::Bgrx32)
        png_set_filler(png, 0, PNG_FILLER_AFTER);  // on writing: drop the fourth byte
    for (uint32_t y = 0; y < height; ++y)
        png_write_row(png, const_cast<uint8_t*>(rows->Row(y)));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return ImageError::Ok;
}

} // namespace

CFileOut::~CFileOut()
{
    if (m_hFile != px::kInvalidFile)
        px::FileClose(m_hFile);
}

ImageStatus CFileOut::Create(const char* path)
{
    if (path == nullptr || *path == '\0')
        return Fail(ImageError::BadArgument);
    const int r = px::FileCreate(path, &m_hFile);
    if (r != 0)
        return Fail(ImageError::OpenFailed, r);
    m_pPath = path;
    return {};
}

void CFileOut::Write(const void* data, size_t size)
{
    if (m_status.Ok() && size != 0) {
        const int r = px::FileWrite(m_hFile, data, size);
        if (r != 0)
            m_status = Fail(ImageError::WriteFailed, r);
    }
}

void CFileOut::SetFailed(ImageStatus status)
{
    if (m_status.Ok())
        m_status = status;
}

ImageStatus CFileOut::Finish()
{
    const int closed = px::FileClose(m_hFile);
    m_hFile = px::kInvalidFile;
    if (closed != 0)
        SetFailed(Fail(ImageError::WriteFailed, closed));
    px::FolderEntry entry;
    if (!m_status.Ok() && m_bRemoveWhenFailed && px::FileAttributes(m_pPath, &entry) == 0 && entry.bRegular)
        px::FileDelete(m_pPath);
    return m_status;
}

ImageError EncodePng(CFileOut* out, CRowSource* rows) { return EncodePngRows(out, rows); }

uint32_t LayoutBytesPerPixel(PixelLayout layout)
{
    switch (layout) {
    case PixelLayout::Grey8: return 1;
    case PixelLayout::Bgr24: return 3;
    case PixelLayout::Bgrx32: return 4;
    }
    return 0;
}

const char* ImageErrorText(ImageError error)
{
    switch (error) {
    case ImageError::Ok: return "OK";
    case ImageError::BadArgument: return "bad argument";
    case ImageError::UnknownFormat: return "unknown pixel format";
    case ImageError::ShortSource: return "fewer source bytes than the image needs";
    case ImageError::OpenFailed: return "cannot create the file";
    case ImageError::WriteFailed: return "cannot write the file";
    case ImageError::EncoderFailed: return "the encoder failed";
    case ImageError::NoMemory: return "out of memory";
    }
    return "unknown error";
}

ImageStatus CameraImageView(uint32_t format, const uint8_t* src, size_t sourceSize, size_t stride, uint32_t width,
                            uint32_t height, std::vector<uint8_t>* scratch, ImageView* out)
{
    const uint32_t bpp = BytesPerPixel(format);
    if (bpp == 0)
        return Fail(ImageError::UnknownFormat);
    size_t rowBytes = 0, total = 0;
    if (src == nullptr || out == nullptr || !Extent(stride, width, height, bpp, &rowBytes, &total))
        return Fail(ImageError::BadArgument);
    if (sourceSize < total)
        return Fail(ImageError::ShortSource);

    ImageView v;
    v.width = width;
    v.height = height;
    switch (format) {
    case PX_FORMAT_MONO8:
    case PX_FORMAT_SYSCOLOR8:
    case PX_FORMAT_RGB24:
    case PX_FORMAT_RGB32:
        v.pData = src;
        v.stride = stride;
        v.layout = format == PX_FORMAT_RGB24 ? PixelLayout::Bgr24
                   : format == PX_FORMAT_RGB32 ? PixelLayout::Bgrx32
                                               : PixelLayout::Grey8;
        *out = v;
        return {};
    default:
        break;
    }
    if (scratch == nullptr)
        return Fail(ImageError::BadArgument);
    const size_t outStride = size_t{width} * 3;
    if (outStride / 3 != width || outStride > SIZE_MAX / height)
        return Fail(ImageError::BadArgument);
    try {
        scratch->resize(outStride * height);
    } catch (const std::bad_alloc&) {
        return Fail(ImageError::NoMemory);
    }
    if (format == PX_FORMAT_YUV16)
        Yuv16ToRgb24(src, stride, scratch->data(), outStride, width, height);
    else
        Rgb16ToRgb24(src, stride, scratch->data(), outStride, width, height);
    v.pData = scratch->data();
    v.stride = outStride;
    v.layout = PixelLayout::Bgr24;
    *out = v;
    return {};
}

const char* ImageFileExtension(ImageFileFormat format, PixelLayout layout)
{
    switch (format) {
    case ImageFileFormat::Png: return "png";
    case ImageFileFormat::Pnm: return layout == PixelLayout::Grey8 ? "pgm" : "ppm";
    case ImageFileFormat::Raw: return "raw";
    }
    return "bin";
}

ImageStatus WritePng(const char* path, const uint8_t* src, size_t stride, uint32_t width, uint32_t height,
                     PixelLayout layout)
{
    size_t rowBytes = 0, total = 0;
    if (src == nullptr || !Extent(stride, width, height, LayoutBytesPerPixel(layout), &rowBytes, &total) ||
        width > PNG_USER_WIDTH_MAX || height > PNG_USER_HEIGHT_MAX)
        return Fail(ImageError::BadArgument);
    CFileOut out(true);
    ImageStatus status = out.Create(path);
    if (!status.Ok())
        return status;
    CStridedRows rows(src, stride, width, height, layout);
    const ImageError encoded = EncodePng(&out, &rows);
    if (encoded != ImageError::Ok)
        out.SetFailed(Fail(encoded));
    return out.Finish();
}

ImageStatus WritePnm(const char* path, const uint8_t* src, size_t stride, uint32_t width, uint32_t height,
                     PixelLayout layout)
{
    size_t rowBytes = 0, total = 0;
    if (src == nullptr || !Extent(stride, width, height, LayoutBytesPerPixel(layout), &rowBytes, &total))
        return Fail(ImageError::BadArgument);
    const bool grey = layout == PixelLayout::Grey8;
    std::vector<uint8_t> row;
    try {
        row.resize(size_t{width} * (grey ? 1 : 3));
    } catch (const std::bad_alloc&) {
        return Fail(ImageError::NoMemory);
    }
    CFileOut out(true);
    ImageStatus status = out.Create(path);
    if (!status.Ok())
        return status;
    char header[64];
    const int n = std::snprintf(header, sizeof header, "%s\n%u %u\n255\n", grey ? "P5" : "P6", width, height);
    out.Write(header, static_cast<size_t>(n));
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* line = src + size_t{y} * stride;
        if (layout == PixelLayout::Bgr24)
            Rgb24ToRgbOrderRow_C(line, row.data(), width);
        else if (layout == PixelLayout::Bgrx32)
            Rgb32ToRgbOrderRow_C(line, row.data(), width);
        else
            std::memcpy(row.data(), line, width);
        out.Write(row.data(), row.size());
    }
    return out.Finish();
}

ImageStatus WriteRaw(const char* path, const uint8_t* src, size_t stride, uint32_t width, uint32_t height,
                     PixelLayout layout)
{
    size_t rowBytes = 0, total = 0;
    if (src == nullptr || !Extent(stride, width, height, LayoutBytesPerPixel(layout), &rowBytes, &total))
        return Fail(ImageError::BadArgument);
    CFileOut out(true);
    ImageStatus status = out.Create(path);
    if (!status.Ok())
        return status;
    for (uint32_t y = 0; y < height; ++y)
        out.Write(src + size_t{y} * stride, rowBytes);
    return out.Finish();
}

ImageStatus WriteImage(ImageFileFormat format, const char* path, const ImageView& image)
{
    switch (format) {
    case ImageFileFormat::Png: return WritePng(path, image.pData, image.stride, image.width, image.height, image.layout);
    case ImageFileFormat::Pnm: return WritePnm(path, image.pData, image.stride, image.width, image.height, image.layout);
    case ImageFileFormat::Raw: return WriteRaw(path, image.pData, image.stride, image.width, image.height, image.layout);
    }
    return Fail(ImageError::BadArgument);
}

ImageStatus WriteBytes(const char* path, const uint8_t* data, size_t size)
{
    if (data == nullptr && size != 0)
        return Fail(ImageError::BadArgument);
    CFileOut out(true);
    ImageStatus status = out.Create(path);
    if (!status.Ok())
        return status;
    out.Write(data, size);
    return out.Finish();
}

} // namespace pximage
