#include "control/ControlLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "log/LogLocation.h"
#include "log/PellixLogger.h"
#include "log/XmlLogger.h"
#include "platform/Messages.h"
#include "platform/Thread.h"

namespace pxcontrol {

void InitControlLogger()
{
    std::string path;
    const bool configured = LogFilePathFromConfig(&path);
    PXInitLogger(configured ? path.c_str() : nullptr);
    if (configured)
        CreateProcessLogger(path.c_str());
}

bool ControlLogActive() { return GetXmlLogger() != nullptr; }

void ControlTrace(const char* text)
{
    CXmlLogger* logger = GetXmlLogger();
    if (logger == nullptr)
        return;
    px::DebugOutput(text);
    logger->LogText(text, strlen(text), LOG_SECTION_CONTROL, LOG_LEVEL_DEBUG);
}

void ControlTraceFormat(const char* format, ...)
{
    if (!ControlLogActive())
        return;
    char text[CXmlLogger::kFormatSize];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    ControlTrace(text);
}

void ControlNameThread(const char* name)
{
    if (CXmlLogger* logger = GetXmlLogger())
        logger->SetThreadName(px::CurrentThreadId(), name);
}

} // namespace pxcontrol
