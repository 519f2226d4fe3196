/* Calls the exported logger functions from C, so the header is proven to compile as C. */
#include "log/PellixLogger.h"

void PxLogCallFromC(const char* path)
{
    PXAddLoggerSection(20u, "BeforeInit");
    PXInitLogger(path);
    PXAddLoggerSection(21u, "FromC");
}
