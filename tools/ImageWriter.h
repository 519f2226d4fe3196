// Image files from camera frames: PNG (libpng), PGM/PPM and raw bytes.
//
// Two layers, both free of any camera connection so that the tools and the viewer control's
// saving share them:
//   - row conversions from the camera's pixel formats to a layout the writers take, each a plain
//     reference loop over one row, in (source, target, width) form;
//   - writers in (path, source, stride, width, height, layout) form.
// Every function returns an ImageStatus, never throws, and is safe to call from any thread (no
// state is shared). libpng's longjmp error handling stays inside ImageWriter.cpp. A writer that
// fails removes the half-written file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pximage {

// Pixel layouts the writers take. Bgr24 and Bgrx32 are the camera's (and a DIB's) byte orders;
// the fourth byte of Bgrx32 carries no meaning and is not written.
enum class PixelLayout : uint32_t {
    Grey8,   // 1 byte
    Rgb24,   // red, green, blue
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

// ---- Camera pixel formats ---------------------------------------------------------------------

// The camera's format codes (the PX_FORMAT_ values of the public header).
enum : uint32_t {
    CAMERA_MONO8 = 1,
    CAMERA_SYSCOLOR8 = 2,      // an 8-bit index: saved as grey
    CAMERA_RGB24 = 16,         // blue, green, red
    CAMERA_RGB32 = 256,        // blue, green, red, unused
    CAMERA_YUV16 = 4096,       // pairs of pixels as Y0, U, Y1, V
    CAMERA_RGB16 = 8192,       // little-endian word: bit 15 zero, red 14-10, green 9-5, blue 4-0
};
// Bytes per pixel of a camera format, 0 for an unknown code.
uint32_t CameraBytesPerPixel(uint32_t format);
// "mono8", "syscolor8", "RGB24", "RGB32", "YUV16", "RGB16"; null for an unknown code.
const char* CameraFormatName(uint32_t format);

// Row conversions (reference loops) into red, green, blue bytes; width counts pixels. YUV uses
// the camera's tables (products truncated toward zero, results clamped); an odd last pixel of a
// YUV row has no V byte and is converted with V = 128. 5-bit components are widened by repeating
// their top bits (31 becomes 255).
void YuyvRowToRgb24(const uint8_t* src, uint8_t* dst, uint32_t width);
void Rgb555RowToRgb24(const uint8_t* src, uint8_t* dst, uint32_t width);

// A camera frame made writable: for formats the writers take as they are (mono8, syscolor8,
// RGB24, RGB32) a view of the source itself; YUV16 and RGB16 are converted into scratch as Rgb24.
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

// 8-bit grey or 8-bit RGB PNG (Bgr24 and Bgrx32 are reordered by libpng while writing).
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
