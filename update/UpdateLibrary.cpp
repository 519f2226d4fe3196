// The camera update facility's exported functions (linked into libpellix).
//
// Who owns what: the update functions share nothing with the exchange-buffer client and its
// handle table. Each call makes the objects it needs and destroys them before it returns: a
// CWServClient (update/WServClient.h) per camera connection, which owns its libcurl handles and
// its operation table; the package's files are read whole into memory. An update (CKelvoUpdate,
// update/KelvoUpdate.h) also owns the camera's RAM share (update/RamShare.h: a local folder, or
// SMB through libsmbclient loaded on first use) and its message-server client
// (update/MessageSocket.h). Process-wide there are only the credential prompt
// (update/CredentialPrompt.h), the time-outs and waits (update/UpdateTiming.h) and the loaded
// SMB library.
//
// Threads: every function runs on the caller's thread and blocks while it talks to the camera
// (bounded by the time-outs); none starts a thread of its own. Calls on different threads are
// independent. Nothing here throws: failures come back as the functions' results.
#include <cstring>

#include "log/XmlLogger.h"
#include "pellix/pellix.h"
#include "update/CredentialPrompt.h"
#include "update/KelvoUpdate.h"
#include "update/UpdateErrors.h"
#include "update/VersionInquiry.h"

namespace {

// The value a traced thread handle shows: the platform's pseudo handle of the current thread.
constexpr unsigned long kCurrentThreadPseudoHandle = 0xFFFFFFFEul;

const char* Shown(const char* text) { return text != nullptr ? text : "(null)"; }

unsigned long P(const void* p) { return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)); }

} // namespace

extern "C" {

PX_API uint32_t PXInquireUpdate(const char* camera, const char* packageFolder, uint32_t inquiry, void* result)
{
    PX_LOG_FORMAT(LOG_SECTION_PELLIX, LOG_LEVEL_DEBUG, "%08lX - PXInquireUpdate(%s,%s,%08lX,%08lX)\n",
                  kCurrentThreadPseudoHandle, Shown(camera), Shown(packageFolder),
                  static_cast<unsigned long>(inquiry), P(result));
    try {
        return InquireUpdate(camera, packageFolder, inquiry, result);
    } catch (...) {
        return 0;   // out of memory: nothing was compared
    }
}

PX_API int PXKelvoUpdateEx(const char* camera, const char* packageFolder, int complete, PXUpdateCallback callback)
{
    PX_LOG_FORMAT(LOG_SECTION_PELLIX, LOG_LEVEL_DEBUG, "%08lX - PXKelvoUpdateEx(%s,%s,%d,%08lX)\n",
                  kCurrentThreadPseudoHandle, Shown(camera), Shown(packageFolder), complete,
                  P(reinterpret_cast<const void*>(callback)));
    try {
        CKelvoUpdate update(camera, packageFolder, complete, callback);
        return update.Run();
    } catch (...) {
        return 0x805;   // out of memory: the package could not be handled
    }
}

PX_API int PXKelvoUpdate(const char* camera, const char* packageFolder, PXUpdateCallback callback)
{
    return PXKelvoUpdateEx(camera, packageFolder, 0, callback);
}

PX_API int PXGetKelvoUpdateError(int code, char* text)
{
    PX_LOG_FORMAT(LOG_SECTION_PELLIX, LOG_LEVEL_DEBUG, "%08lX - PXGetKelvoUpdateError(%d,%08lX)\n",
                  kCurrentThreadPseudoHandle, code, P(text));
    const char* found = UpdateErrorText(code);
    if (found == nullptr || text == nullptr)
        return 0;
    std::strcpy(text, found);
    return 1;
}

PX_API void PXSetCredentialPrompt(PXCredentialPrompt prompt)
{
    PX_LOG_FORMAT(LOG_SECTION_PELLIX, LOG_LEVEL_DEBUG, "%08lX - PXSetCredentialPrompt(%08lX)\n",
                  kCurrentThreadPseudoHandle, P(reinterpret_cast<const void*>(prompt)));
    SetCredentialPrompt(prompt);
}

} // extern "C"
