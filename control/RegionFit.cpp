#include "control/RegionFit.h"

#include <numeric>

namespace pxcontrol {

namespace {

uint64_t RoundUp(uint64_t value, uint64_t step) { return (value + step - 1) / step * step; }

} // namespace

SSize FitAspect(uint32_t dx, uint32_t dy, uint32_t fullX, uint32_t fullY)
{
    if (fullX == 0 || fullY == 0 || uint64_t{dx} * fullY == uint64_t{dy} * fullX)
        return SSize{dx, dy};
    const uint64_t g = std::gcd(fullX, fullY);
    const uint64_t ax = fullX / g, ay = fullY / g;
    // The ratio's terms divide the rounded side, so the other side comes out whole at once.
    if (dx <= static_cast<uint64_t>(static_cast<double>(dy) / ay * ax)) {
        const uint64_t h = RoundUp(dy, ay);
        const uint64_t w = h / ay * ax;
        return SSize{static_cast<uint32_t>(w), static_cast<uint32_t>(h)};
    }
    const uint64_t w = RoundUp(dx, ax);
    const uint64_t h = w / ax * ay;
    return SSize{static_cast<uint32_t>(w), static_cast<uint32_t>(h)};
}

} // namespace pxcontrol
