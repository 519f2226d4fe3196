// Image files from camera frames; see ImageWriter.h.
#include "tools/ImageWriter.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pximage {

namespace {

// The camera's YUV tables: the products truncated toward zero. The constants are exact decimal
// fractions, so integer division (which truncates toward zero) gives the tables' values.
inline int RedFromV(int v) { return (v - 128) * 1402 / 1000; }
inline int GreenFromU(int u) { return (u - 128) * 34414 / 100000; }
inline int GreenFromV(int v) { return (v - 128) * 71414 / 100000; }
inline int BlueFromU(int u) { return (u - 128) * 1772 / 1000; }
inline uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

inline void YuvPixel(int y, int u, int v, uint8_t* dst)
{
    dst[0] = Clamp255(y + RedFromV(v));
    dst[1] = Clamp255(y - GreenFromU(u) - GreenFromV(v));
    dst[2] = Clamp255(y + BlueFromU(u));
}

inline uint8_t Widen5(uint32_t v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }

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

ImageStatus Fail(ImageError error, int detail = 0) { return ImageStatus{error, detail}; }

// Opens for writing; the caller closes with CloseFile (which reports a failed flush).
ImageStatus OpenFile(const char* path, FILE** out)
{
    if (path == nullptr || *path == '\0')
        return Fail(ImageError::BadArgument);
    *out = std::fopen(path, "wb");
    if (*out == nullptr)
        return Fail(ImageError::OpenFailed, errno);
    return {};
}

// Closes and, when the status so far or the close failed, removes the half-written file (only a
// regular file: a device or pipe named as the target is not ours to remove).
ImageStatus CloseFile(FILE* f, const char* path, ImageStatus status)
{
    if (status.Ok() && std::ferror(f))
        status = Fail(ImageError::WriteFailed, errno ? errno : EIO);
    struct stat st;
    const bool regular = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
    const int closed = std::fclose(f);
    if (status.Ok() && closed != 0)
        status = Fail(ImageError::WriteFailed, errno);
    if (!status.Ok() && regular)
        unlink(path);
    return status;
}

ImageStatus WriteAll(FILE* f, const void* data, size_t size)
{
    if (size != 0 && std::fwrite(data, 1, size, f) != size)
        return Fail(ImageError::WriteFailed, errno ? errno : EIO);
    return {};
}

// libpng reports errors through this and never returns to its caller: back to EncodePng's setjmp.
[[noreturn]] void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// Everything that touches libpng, with no C++ object alive across setjmp: a longjmp out of libpng
// only unwinds plain values here.
ImageError EncodePng(FILE* f, const uint8_t* src, size_t stride, uint32_t width, uint32_t height, PixelLayout layout)
{
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
    png_init_io(png, f);
    const int colour = layout == PixelLayout::Grey8 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB;
    png_set_IHDR(png, info, width, height, 8, colour, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // Frames are written many per second: fast compression matters more than the last byte.
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    if (layout == PixelLayout::Bgr24 || layout == PixelLayout::Bgrx32)
        png_set_bgr(png);
    if (layout == PixelLayout::Bgrx32)
        png_set_filler(png, 0, PNG_FILLER_AFTER);  // on writing: drop the fourth byte
    for (uint32_t y = 0; y < height; ++y)
        png_write_row(png, src + size_t{y} * stride);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return ImageError::Ok;
}

// One row of any colour layout as red, green, blue.
void RowToRgb(const uint8_t* src, uint8_t* dst, uint32_t width, PixelLayout layout)
{
    switch (layout) {
    case PixelLayout::Rgb24:
        std::memcpy(dst, src, size_t{width} * 3);
        break;
    case PixelLayout::Bgr24:
    case PixelLayout::Bgrx32: {
        const uint32_t bpp = LayoutBytesPerPixel(layout);
        for (uint32_t x = 0; x < width; ++x, src += bpp, dst += 3)
            dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
        break;
    }
    case PixelLayout::Grey8:
        std::memcpy(dst, src, width);
        break;
    }
}

} // namespace

uint32_t LayoutBytesPerPixel(PixelLayout layout)
{
    switch (layout) {
    case PixelLayout::Grey8: return 1;
    case PixelLayout::Rgb24:
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
    case ImageError::EncoderFailed: return "the PNG encoder failed";
    case ImageError::NoMemory: return "out of memory";
    }
    return "unknown error";
}

uint32_t CameraBytesPerPixel(uint32_t format)
{
    switch (format) {
    case CAMERA_MONO8:
    case CAMERA_SYSCOLOR8: return 1;
    case CAMERA_RGB24: return 3;
    case CAMERA_RGB32: return 4;
    case CAMERA_YUV16:
    case CAMERA_RGB16: return 2;
    default: return 0;
    }
}

const char* CameraFormatName(uint32_t format)
{
    switch (format) {
    case CAMERA_MONO8: return "mono8";
    case CAMERA_SYSCOLOR8: return "syscolor8";
    case CAMERA_RGB24: return "RGB24";
    case CAMERA_RGB32: return "RGB32";
    case CAMERA_YUV16: return "YUV16";
    case CAMERA_RGB16: return "RGB16";
    default: return nullptr;
    }
}

void YuyvRowToRgb24(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 1 < width; x += 2, src += 4, dst += 6) {
        YuvPixel(src[0], src[1], src[3], dst);
        YuvPixel(src[2], src[1], src[3], dst + 3);
    }
    if (x < width)
        YuvPixel(src[0], src[1], 128, dst);
}

void Rgb555RowToRgb24(const uint8_t* src, uint8_t* dst, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x, src += 2, dst += 3) {
        const uint32_t w = uint32_t{src[0]} | (uint32_t{src[1]} << 8);
        dst[0] = Widen5((w >> 10) & 0x1F);
        dst[1] = Widen5((w >> 5) & 0x1F);
        dst[2] = Widen5(w & 0x1F);
    }
}

ImageStatus CameraImageView(uint32_t format, const uint8_t* src, size_t sourceSize, size_t stride, uint32_t width,
                            uint32_t height, std::vector<uint8_t>* scratch, ImageView* out)
{
    const uint32_t bpp = CameraBytesPerPixel(format);
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
    case CAMERA_MONO8:
    case CAMERA_SYSCOLOR8:
    case CAMERA_RGB24:
    case CAMERA_RGB32:
        v.pData = src;
        v.stride = stride;
        v.layout = format == CAMERA_RGB24 ? PixelLayout::Bgr24
                   : format == CAMERA_RGB32 ? PixelLayout::Bgrx32
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
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = src + size_t{y} * stride;
        uint8_t* dst = scratch->data() + size_t{y} * outStride;
        if (format == CAMERA_YUV16)
            YuyvRowToRgb24(row, dst, width);
        else
            Rgb555RowToRgb24(row, dst, width);
    }
    v.pData = scratch->data();
    v.stride = outStride;
    v.layout = PixelLayout::Rgb24;
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
    FILE* f = nullptr;
    ImageStatus status = OpenFile(path, &f);
    if (!status.Ok())
        return status;
    const ImageError encoded = EncodePng(f, src, stride, width, height, layout);
    if (encoded != ImageError::Ok)
        status = Fail(encoded, encoded == ImageError::EncoderFailed && std::ferror(f) ? errno : 0);
    return CloseFile(f, path, status);
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
    FILE* f = nullptr;
    ImageStatus status = OpenFile(path, &f);
    if (!status.Ok())
        return status;
    char header[64];
    const int n = std::snprintf(header, sizeof header, "%s\n%u %u\n255\n", grey ? "P5" : "P6", width, height);
    status = WriteAll(f, header, static_cast<size_t>(n));
    for (uint32_t y = 0; y < height && status.Ok(); ++y) {
        RowToRgb(src + size_t{y} * stride, row.data(), width, layout);
        status = WriteAll(f, row.data(), row.size());
    }
    return CloseFile(f, path, status);
}

ImageStatus WriteRaw(const char* path, const uint8_t* src, size_t stride, uint32_t width, uint32_t height,
                     PixelLayout layout)
{
    size_t rowBytes = 0, total = 0;
    if (src == nullptr || !Extent(stride, width, height, LayoutBytesPerPixel(layout), &rowBytes, &total))
        return Fail(ImageError::BadArgument);
    FILE* f = nullptr;
    ImageStatus status = OpenFile(path, &f);
    if (!status.Ok())
        return status;
    for (uint32_t y = 0; y < height && status.Ok(); ++y)
        status = WriteAll(f, src + size_t{y} * stride, rowBytes);
    return CloseFile(f, path, status);
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
    FILE* f = nullptr;
    ImageStatus status = OpenFile(path, &f);
    if (!status.Ok())
        return status;
    status = WriteAll(f, data, size);
    return CloseFile(f, path, status);
}

} // namespace pximage
