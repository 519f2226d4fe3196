// Files of the viewer's converted image: the device-independent bitmap that the control keeps as
// a header block (the 40-byte header and its colour table, see Conversion.h) and the pixel rows.
//
// The bitmap file is written byte for byte as the Windows bitmap format lays it out; JPEG, PNG and
// TIFF go through libjpeg-turbo, libpng and libtiff with their default settings. A file that was
// created but not completely written is left on disk. Nothing is kept between calls; any thread.
#pragma once

#include <cstdint>

#include "image/ImageWriter.h"

namespace pximage {

enum class BitmapFileType { Bitmap, Jpeg, Png, Tiff, Raw };

// Writes the bitmap of header (a header block) and pixels (its image-size bytes of rows) to path.
//  - Bitmap: the 14-byte file header ("BM", file size, two zero words, pixel offset), the header
//    with a positive height (and, when a row is not a multiple of 4 bytes, the image size of
//    padded rows), the colour table, then the rows bottom-up, each padded with zeros to 4 bytes.
//  - Raw: the image-size field's number of bytes of pixels, nothing else.
//  - Jpeg, Png, Tiff: the picture, 8-bit grey when the colour table is the grey ramp, else colour.
// BadArgument for a header the module cannot have made (a size of 0, a height of 0, more than 256
// colours, a bit count other than 8, 16, 24 and 32, rows shorter than the width).
ImageStatus WriteBitmapFile(BitmapFileType type, const char* path, const uint8_t* header, const uint8_t* pixels);

} // namespace pximage
