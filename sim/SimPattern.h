// The simulated camera's pictures and payloads. Every image is a pure function of the frame
// number and of the pixel's place in the full image, so that a client that gets the offset, the
// row pitch or the colour order wrong shows a visible break:
//   - blue (and U) ramps along x, green (and V) along y, red is a 32-pixel checkerboard, so a
//     swapped channel turns the ramps into blocks;
//   - grey is a diagonal ramp with the checkerboard folded in, so a lost row bends the diagonal;
//   - a vertical bar moves 8 pixels per frame and the frame number is written top left in white
//     digits on black, in full-image coordinates (a window shows it only where it lies).
// Subsection mode 0 samples the whole image down (or up) to the size; any other mode cuts the
// window at the offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "netaccess/protocol/BufferId.h"

namespace pxsim {

struct SimGeometry {
    uint32_t dwFullSizeX = 0, dwFullSizeY = 0;
    uint32_t dwSizeX = 0, dwSizeY = 0;
    uint32_t dwOffsetX = 0, dwOffsetY = 0;
    uint32_t dwSubsection = 1;
    uint32_t dwPixelFormat = 1;
};

// Bytes of one delivered image of g (size x times size y times bytes per pixel of its PX_FORMAT_
// code, pximage::BytesPerPixel), 64-bit.
uint64_t SimImageBytes(const SimGeometry& g);

// The pattern's colour at a point of the full image (for tests and the renderer alike).
struct SimRgb {
    uint8_t r, g, b;
};
SimRgb SimPatternRgb(uint32_t x, uint32_t y, uint64_t frame);
uint8_t SimPatternGrey(uint32_t x, uint32_t y, uint64_t frame);

// Writes SimImageBytes(g) bytes of frame `frame` to out. The geometry must lie in the full image
// (CSimBuffer clamps what clients ask for before it gets here).
void SimRenderImage(const SimGeometry& g, uint64_t frame, uint8_t* out);

// 256-bin histogram of the brightness of an image in the layout of g (bins as 32-bit counts).
void SimHistogram(const SimGeometry& g, const uint8_t* image, uint32_t bins[256]);

// A zero-terminated UTF-16LE text of `chars` characters (terminator included, rest zero) that
// names the buffer and the frame.
void SimRenderText(px::agent::BufferId id, uint64_t frame, uint32_t chars, uint8_t* out);

// Element size of a packed-array type (0: not supported).
uint32_t SimArrayElementSize(uint32_t type);
// A packed array: type code, count, then count elements of the type, values frame + index.
void SimRenderArray(uint32_t type, uint32_t count, uint64_t frame, uint8_t* out);

// Data of the other record types: 32-bit words, word i = (frame << 16) + i.
void SimRenderWords(uint64_t frame, size_t bytes, uint8_t* out);

} // namespace pxsim
