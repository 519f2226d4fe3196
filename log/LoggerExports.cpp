// The two exported functions of the log. They live apart from the logger itself so that a module
// which links the logger for its own records (the viewer control's library) still reaches
// libpellix's PXInitLogger, and both write to the one file the configuration names.
#include "log/PellixLogger.h"
#include "log/XmlLogger.h"

extern "C" void PXInitLogger(const char* path) { CreateProcessLogger(path); }

extern "C" void PXAddLoggerSection(uint32_t id, const char* name)
{
    if (CXmlLogger* logger = GetXmlLogger())
        logger->AddSection(id, name);
}
