// The region of interest's aspect fit: a dragged size widened to the aspect ratio of the full
// image, in whole steps of the ratio's reduced terms.
#pragma once

#include <cstdint>

namespace pxcontrol {

struct SSize {
    uint32_t width = 0, height = 0;
};

// (dx, dy) fitted to fullX : fullY. With g the greatest common divisor of the full sizes, the
// result is a multiple of (fullX / g, fullY / g) that holds the dragged size; a size already of
// that ratio is kept. Full sizes of 0 leave the size as it is.
SSize FitAspect(uint32_t dx, uint32_t dy, uint32_t fullX, uint32_t fullY);

// |a - b| of two image coordinates.
inline uint32_t Distance(int32_t a, int32_t b)
{
    return a > b ? static_cast<uint32_t>(int64_t{a} - b) : static_cast<uint32_t>(int64_t{b} - a);
}

} // namespace pxcontrol
