/* Pellix: the C library that connects a host program to the exchange buffers of a Kelvo camera.
 *
 * This header stands alone: a C or C++ host includes it and links libpellix. Every value here is
 * part of the library's contract; values are never changed or reused. */
#ifndef PELLIX_PELLIX_H
#define PELLIX_PELLIX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t PXHANDLE;

/* Library results. Other values are result codes of the camera's agent, passed through. */
#define PX_OK                 0u    /* success */
#define PX_END_OF_TRANSFERS   1001u /* transfers were ended by PXCancelTransfers */
#define PX_ERROR              2000u /* no exchange buffer or agent channel, a null output place, or an unknown type */
#define PX_INVALID_HANDLE     2010u /* the handle is not a live client */
#define PX_INIT_FAILED        2020u /* making the client failed */
#define PX_WRONG_BUFFER       2030u /* not the subscribed buffer, or the type does not allow the change */
#define PX_NOT_SUPPORTED      2050u /* the agent is too old for the request */
#define PX_INVALID_PARAMETER  2070u /* invalid arguments */
#define PX_NO_RESOURCES       2090u /* the agent answered that the buffer's resources are not available */
#define PX_COMM_ERROR         3000u /* communication with the agent failed (kept by the connection) */
#define PX_WATCHDOG_LOST      3010u /* a wait timed out and the watchdog no longer receives signals */
#define PX_NO_WATCHDOG        3020u /* a wait timed out, or a check was made, without a watchdog */

#ifdef __cplusplus
}
#endif

#endif
