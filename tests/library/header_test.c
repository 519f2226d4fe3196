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
    {
        /* The update functions: an error text, and an inquiry with nothing to compare. */
        char text[256];
        uint32_t code = 7;
        PXSetCredentialPrompt(NULL);
        if (PXGetKelvoUpdateError((int)PX_UPDATE_ERR_CONNECT, text) != 1 || strcmp(text, "Error: connecting to Kelvo") != 0)
            failures++, puts("update error text");
        if (PXInquireUpdate(NULL, NULL, PX_INQUIRE_COMPARE, &code) != 0 || code != 7)
            failures++, puts("inquiry without camera and package");
    }
    return failures;
}
