// Section 4 of the diagnostic log, where the display back-ends and their selection write.
#pragma once

#include <cstring>

#include "log/XmlLogger.h"

namespace display {

inline void LogGraphic(uint32_t level, const char* text)
{
    PX_LOG_TEXT(text, strlen(text), LOG_SECTION_GRAPHIC, level);
}

} // namespace display
