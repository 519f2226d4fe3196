// Traces and message boxes of the exchange-buffer client and the agent channel.
//
// A trace line goes, formatted into 256 characters, to the debug output and to log section 2 at
// level 4, and only when the log exists: CLIENT_TRACE tests the logger pointer before it formats
// anything, so tracing costs one load when no log is open.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "log/XmlLogger.h"

constexpr uint32_t kClientLogSection = 2;
constexpr uint32_t kTraceLogLevel = 4;

void ClientTraceWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One trace line of at most 255 characters into a log section at level 4, also to the debug
// output when asked; nothing when no log exists.
void TraceLine(uint32_t section, bool debugOutput, const char* format, va_list args);

#define CLIENT_TRACE(...)                                                                         \
    do {                                                                                          \
        if (GetXmlLogger() != nullptr)                                                            \
            ClientTraceWrite(__VA_ARGS__);                                                        \
    } while (0)

// A message box with the formatted text (at most 511 characters), shown only when enabled.
void ClientMessageBox(bool enabled, const char* caption, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
