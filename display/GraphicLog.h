// Section 4 of the diagnostic log, where the display back-ends and their selection write.
#pragma once

#include <cstddef>
#include <cstring>

#include "log/XmlLogger.h"

namespace display {

inline void LogGraphic(uint32_t level, const char* text)
{
    PX_LOG_TEXT(text, strlen(text), LOG_SECTION_GRAPHIC, level);
}

// One line of a back-end's table of graphics result codes.
struct SErrorText {
    uint32_t dwCode;
    const char* pszText;
};

// The text for code, "Invalid error code" when the table has none.
inline const char* ErrorText(const SErrorText* table, size_t count, uint32_t code)
{
    for (size_t i = 0; i < count; ++i) {
        if (table[i].dwCode == code)
            return table[i].pszText;
    }
    return "Invalid error code";
}

} // namespace display
