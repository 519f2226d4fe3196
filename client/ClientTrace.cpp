#include "client/ClientTrace.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/Messages.h"

void ClientTraceWrite(const char* format, ...)
{
    CXmlLogger* logger = GetXmlLogger();
    if (logger == nullptr)
        return;
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    px::DebugOutput(line);
    logger->LogText(line, std::char_traits<char>::length(line), kClientLogSection, kClientLogLevel);
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
