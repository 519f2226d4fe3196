// Image files from camera frames: PNG (libpng), PGM/PPM and raw bytes, for the tools.
//
// Writers in (path, source, stride, width, height, layout) form, free of any camera connection.
// A frame in a camera format the writers do not take is converted first through the image
// module's rows (CameraImageView). Every function returns an ImageStatus, never throws, and is
// safe to call from any thread (no state is shared). libpng's longjmp error handling stays inside
// ImageWriter.cpp. Files go through the platform's file calls; a writer that fails removes the
// half-written file when it is a regular file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/PixelFormat.h"

namespace pximage {

// Pixel layouts the writers take: the camera's (and a bitmap's) byte orders. The fourth byte of
// Bgrx32 carries no meaning and is not written.
enum class PixelLayout : uint32_t {
    Grey8,   // 1 byte
    Bgr24,   // blue, green, red
    Bgrx32,  // blue, green, red, unused
};
uint32_t LayoutBytesPerPixel(PixelLayout layout);

enum class ImageError : uint32_t {
    Ok = 0,
    BadArgument,       // null source, zero size, a stride shorter than a row, or sizes that overflow
    UnknownFormat,     // a camera pixel format without a conversion
    ShortSource,       // fewer source bytes than the image needs
    OpenFailed,        // the file could not be created (detail: errno)
    WriteFailed,       // writing or closing failed (detail: errno)
    EncoderFailed,     // libpng reported an error
    NoMemory,
};

struct ImageStatus {
    ImageError error = ImageError::Ok;
    int detail = 0;  // errno for OpenFailed and WriteFailed
    bool Ok() const { return error == ImageError::Ok; }
};
// "OK", "bad argument", ... (constant texts).
const char* ImageErrorText(ImageError error);

// ---- Camera frames ----------------------------------------------------------------------------

// A camera frame (a PX_FORMAT_ code) made writable: for formats the writers take as they are
// (mono8, syscolor8 saved as grey, RGB24, RGB32) a view of the source itself; YUV16 and RGB16 are
// converted into scratch as Bgr24 (RGB16's 5-bit components widened by repeating their top bits).
struct ImageView {
    const uint8_t* pData = nullptr;
    size_t stride = 0;
    uint32_t width = 0, height = 0;
    PixelLayout layout = PixelLayout::Grey8;
};
// sourceSize bounds what is read: the source must hold (height - 1) * stride + one row.
ImageStatus CameraImageView(uint32_t format, const uint8_t* src, size_t sourceSize, size_t stride, uint32_t width,
                            uint32_t height, std::vector<uint8_t>* scratch, ImageView* out);

// ---- Writers ---------------------------------------------------------------------------------

enum class ImageFileFormat { Png, Pnm, Raw };
// "png", "pgm"/"ppm" (by layout), "raw".
const char* ImageFileExtension(ImageFileFormat format, PixelLayout layout);

// 8-bit grey or 8-bit RGB PNG.
ImageStatus WritePng(const char* path, const uint8_t* src, size_t stride, uint32_t width, uint32_t height,
                     PixelLayout layout);
// Binary PGM (P5) for Grey8, binary PPM (P6) for the colour layouts.
ImageStatus WritePnm(const char* path, const uint8_t* src, size_t stride, uint32_t width, uint32_t height,
                     PixelLayout layout);
// The rows as they are, without their padding.
ImageStatus WriteRaw(const char* path, const uint8_t* src, size_t stride, uint32_t width, uint32_t height,
                     PixelLayout layout);
ImageStatus WriteImage(ImageFileFormat format, const char* path, const ImageView& image);
// Any bytes (a record that is not an image).
ImageStatus WriteBytes(const char* path, const uint8_t* data, size_t size);

} // namespace pximage
