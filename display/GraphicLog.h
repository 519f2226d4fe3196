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

// One creation step of a surface set: whether it succeeded, its error code and its message.
struct SCreation {
    int32_t ok;
    uint32_t code;
    const char* text;
};

// Reports the first failed step, in the order given: its code goes into *lastError and its text,
// followed by suffix, into the log. The first failure names the cause; what failed after it
// followed from it. True when every step succeeded.
template <size_t N>
bool ReportFirstFailure(const SCreation (&steps)[N], const char* suffix, uint32_t* lastError)
{
    for (const SCreation& step : steps) {
        if (!step.ok) {
            *lastError = step.code;
            PX_LOG_FORMAT(LOG_SECTION_GRAPHIC, LOG_LEVEL_ERROR, "%s%s", step.text, suffix);
            return false;
        }
    }
    return true;
}

} // namespace display
