#include "client/ClientTrace.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/Messages.h"

void TraceLine(uint32_t section, bool debugOutput, const char* format, va_list args)
{
    CXmlLogger* logger = GetXmlLogger();
    if (logger == nullptr)
        return;
    char line[256];
    std::vsnprintf(line, sizeof line, format, args);
    if (debugOutput)
        px::DebugOutput(line);
    logger->LogText(line, std::char_traits<char>::length(line), section, kTraceLogLevel);
}

void ClientTraceWrite(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    TraceLine(kClientLogSection, true, format, args);
    va_end(args);
}

void ClientMessageBox(bool enabled, const char* caption, const char* format, ...)
{
    if (!enabled)
        return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    px::ShowMessageBox(text, caption);
}
