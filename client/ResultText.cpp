// PXGetResultText: the one place where a result code gets its name and meaning, for the tools,
// the language bindings and any host that shows a failure to a person.
//
// The texts of the library's own results are constants; an agent's code, passed through the
// library unchanged, is written into a small buffer of the calling thread, so that the call needs
// no lock and a text stays valid until the same thread asks again.
#include <cstdio>

#include "pellix/pellix.h"

namespace {

struct ResultText {
    uint32_t dwResult;
    const char* pszText;
};

constexpr ResultText kTexts[] = {
    {PX_OK, "PX_OK: success"},
    {PX_END_OF_TRANSFERS, "PX_END_OF_TRANSFERS: transfers were ended by PXCancelTransfers"},
    {PX_ERROR, "PX_ERROR: the client has no exchange buffer or no agent channel for this call, a required output "
               "place is missing, or the buffer type is unknown"},
    {PX_INVALID_HANDLE, "PX_INVALID_HANDLE: the handle is not a live client"},
    {PX_INIT_FAILED, "PX_INIT_FAILED: making the client failed"},
    {PX_WRONG_BUFFER, "PX_WRONG_BUFFER: not the subscribed buffer, or its type does not allow the change"},
    {PX_NOT_SUPPORTED, "PX_NOT_SUPPORTED: the camera's agent is too old for the request"},
    {PX_INVALID_PARAMETER, "PX_INVALID_PARAMETER: invalid arguments"},
    {PX_NO_RESOURCES, "PX_NO_RESOURCES: the camera's agent answered that the buffer's resources are not available"},
    {PX_BUFFER_CHANGED, "PX_BUFFER_CHANGED: the data no longer fits the buffer's info record (another client "
                        "changed the window or the format); read the record anew and make room for the new size"},
    {PX_COMM_ERROR, "PX_COMM_ERROR: communication with the camera's agent failed"},
    {PX_WATCHDOG_LOST, "PX_WATCHDOG_LOST: a wait timed out and the camera's watchdog no longer receives signals: "
                       "the camera is lost"},
    {PX_NO_WATCHDOG, "PX_NO_WATCHDOG: a wait timed out, or a check was made, and the camera's watchdog is not "
                     "available"},
};

} // namespace

extern "C" PX_API const char* PXGetResultText(uint32_t result)
{
    for (const ResultText& t : kTexts)
        if (t.dwResult == result)
            return t.pszText;
    thread_local char text[32];
    std::snprintf(text, sizeof text, "agent result %u", result);
    return text;
}
