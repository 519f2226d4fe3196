#include "display/DX10Display.h"

#include "display/GraphicLog.h"

namespace display {

int32_t CDX10Display::Validate(uint32_t, uint32_t)
{
    LogGraphic(LOG_LEVEL_MSG, "DX10: Not implemented");
    return 0;
}

} // namespace display
