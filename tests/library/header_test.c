/* Compiled as C against the installed header and library: the header stands alone. */
#include <pellix/pellix.h>

#include <stdio.h>
#include <string.h>

int main(void)
{
    PXHANDLE h = 0;
    PXBufferInfo info;
    int failures = 0;
    memset(&info, 0, sizeof info);
    if (strcmp(PXClientGetVersion(), "4.0.352.1") != 0 || PXClientGetDWORDVersion() != PX_VERSION)
        failures++, puts("version");
    if (PXClientInit(NULL, NULL, "c", &h, 1000, 0, 100, 50, 0) != PX_INVALID_PARAMETER || h != 0)
        failures++, puts("init check");
    if (PXGetExchangeBufferInfoStruct(0, "IMG0", &info) != PX_INVALID_HANDLE)
        failures++, puts("handle 0");
    if (sizeof(PXBufferListEntry) != 540 || sizeof(PXBufferInfo) != 60)
        failures++, puts("record sizes");
    return failures;
}
