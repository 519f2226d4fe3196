// The viewer's conversion of a received image into its display format: the choice of that
// format, the row pitch and image size, the bitmap header with its colour table, and CopyConvert.
//
// The control owns the buffers: it sizes them with CopyLayout and DibHeaderBytes when the
// geometry changes, fills the header once with FillDibHeader, and calls CopyConvert once per
// frame on its update thread. CopyConvert allocates nothing, keeps no state and uses no floating
// point; its rows are the image module's, chosen once by the processor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pellix/pellix.h"
#include "raster/GdiTypes.h"

namespace pximage {

// The display format: the received format; YUV16 becomes RGB24; bit 1 of the display options
// makes it RGB32; a non-zero forced format overrides everything.
uint32_t ChooseCopyFormat(uint32_t pixelFormat, uint32_t displayOptions, uint32_t forceCopyFormat);

// Row pitch of the converted image (RGB32 4 X; RGB24 and YUV16 3 X, RGB16 2 X and any other
// format X, each rounded up to a multiple of 4) and the image size (pitch times Y). False, with
// nothing written, when either does not fit in 32 bits.
bool CopyLayout(uint32_t copyFormat, uint32_t sizeX, uint32_t sizeY, uint32_t* pitch, uint32_t* imageSize);

// The 40-byte header of a device-independent bitmap: the raster layer's, so that a header the
// control fills here is the one its DIB sections and the bitmap writers read.
using BitmapInfoHeader = raster::BITMAPINFOHEADER;

// Bytes of the header block of a display format: for 8 bits the header and 256 colour entries
// (1064); for 16, 24 and 32 bits the header and a zeroed fifth four-byte field (44), so that code
// copying a header and one colour entry reads only what is there.
size_t DibHeaderBytes(uint32_t copyFormat);
// Bit count of a display format: 32, 24 (RGB24 and YUV16), 16, else 8.
uint16_t DibBitCount(uint32_t copyFormat);
// Fills a header block of DibHeaderBytes(copyFormat) bytes: width X, height -Y (top-down rows),
// one plane, no compression, the image size, no resolution; for 8 bits 256 colours used and
// important and the system-colour table when the received format is PX_FORMAT_SYSCOLOR8, the grey
// table otherwise.
void FillDibHeader(uint8_t* block, uint32_t copyFormat, uint32_t pixelFormat, uint32_t sizeX, uint32_t sizeY,
                   uint32_t imageSize);

// The colour tables: entries of blue, green, red, 0 (little-endian words 0x00RRGGBB), and their
// RGB16 forms from the top 5 bits of each colour.
const uint32_t* GreyTable();
const uint32_t* SystemColourTable();
const uint16_t* GreyTable16();
const uint16_t* SystemColourTable16();

// What CopyConvert has to say: empty when it converted, or when the pair is one it ignores
// silently; else the text for the debug output and the log (ending in a newline).
struct CopyMessage {
    char text[96] = {};
    bool Empty() const { return text[0] == '\0'; }
};

// Converts sizeY rows of sizeX pixels. Source rows follow each other without gaps (sizeX times
// the source format's bytes per pixel); target rows start every targetPitch bytes. A pair that
// cannot be converted leaves the target as it was and returns its message. The caller's buffers
// must hold what the sizes say; a target pitch shorter than a converted row is refused without a
// word, as the control never makes one.
CopyMessage CopyConvert(const uint8_t* source, uint32_t sourceFormat, uint32_t sizeX, uint32_t sizeY,
                        uint8_t* target, uint32_t targetFormat, uint32_t targetPitch);

} // namespace pximage
