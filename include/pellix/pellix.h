/* Pellix: the C library that connects a host program to the exchange buffers of a Kelvo camera.
 *
 * This header stands alone: a C or C++ host includes it and links libpellix (pkg-config pellix,
 * or find_package(Pellix) in CMake). Every value here is part of the library's contract; values
 * are never changed or reused. All 32-bit values stay 32-bit on 64-bit hosts.
 *
 * A host opens a client with PXClientInit (optionally with an agent channel, which lists the
 * camera's buffers and supervises the camera with a watchdog), subscribes one exchange buffer
 * with PXSetExchangeBuffer, then reads it with PXGetExchangeBufferData as often as it likes, and
 * ends with PXClientTerminate. Calls on different handles run in parallel; calls on one handle
 * are serialised by the library, except PXForceTransferInProgress and PXCancelTransfers, which
 * may be called from another thread while a read waits. */
#ifndef PELLIX_PELLIX_H
#define PELLIX_PELLIX_H

#include <stdint.h>

#if defined(__GNUC__)
#define PX_API __attribute__((visibility("default")))
#else
#define PX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t PXHANDLE;

/* Library results. Any other value is a result code of the camera's agent, passed through
 * unchanged: the agent's result in a data reply (PXGetExchangeBufferData) or in a client-count
 * reply (PXGetNumberOfClient) when it is not 0. PXGetResultText names them "agent result N". */
#define PX_OK                 0u    /* success */
#define PX_END_OF_TRANSFERS   1001u /* transfers were ended by PXCancelTransfers */
#define PX_ERROR              2000u /* no exchange buffer or agent channel, a null output place, or an unknown type */
#define PX_INVALID_HANDLE     2010u /* the handle is not a live client */
#define PX_INIT_FAILED        2020u /* making the client failed */
#define PX_WRONG_BUFFER       2030u /* not the subscribed buffer, or the type does not allow the change */
#define PX_NOT_SUPPORTED      2050u /* the agent is too old for the request */
#define PX_INVALID_PARAMETER  2070u /* invalid arguments */
#define PX_NO_RESOURCES       2090u /* the agent answered that the buffer's resources are not available */
#define PX_BUFFER_CHANGED     2100u /* the data no longer fits the buffer's info record (another client changed the
                                     * window or the format): nothing was written; read the record anew, reallocate */
#define PX_COMM_ERROR         3000u /* communication with the agent failed (kept by the connection) */
#define PX_WATCHDOG_LOST      3010u /* a wait timed out and the watchdog no longer receives signals */
#define PX_NO_WATCHDOG        3020u /* a wait timed out, or a check was made, without a watchdog */

/* The library's own version, 4.0.352. */
#define PX_VERSION            0x04000160u

/* Time-out that waits without limit. */
#define PX_INFINITE           0xFFFFFFFFu

/* Buffer types. */
#define PX_BUFTYPE_IMAGE      1u
#define PX_BUFTYPE_TEXT       5u
#define PX_BUFTYPE_HISTOGRAM  6u
#define PX_BUFTYPE_ARRAY      11u
#define PX_BUFTYPE_INPUT      101u

/* Image format codes (PX_INFO_IMAGE_FORMAT). */
#define PX_FORMAT_MONO8       1u
#define PX_FORMAT_SYSCOLOR8   2u
#define PX_FORMAT_RGB24       16u
#define PX_FORMAT_RGB32       256u
#define PX_FORMAT_YUV16       4096u
#define PX_FORMAT_RGB16       8192u

/* Information items (PXGetExchangeBufferInfo / PXSetExchangeBufferInfo). */
#define PX_INFO_DATA_SIZE     1001u
#define PX_INFO_SIZE_X        1002u
#define PX_INFO_SIZE_Y        1003u
#define PX_INFO_FULL_SIZE_X   1004u
#define PX_INFO_FULL_SIZE_Y   1005u
#define PX_INFO_OFFSET_X      1006u
#define PX_INFO_OFFSET_Y      1007u
#define PX_INFO_1008          1008u /* buffers other than images (types 2 and 6 to 10): the element count of a
                                     * one-dimensional buffer, word 1 of their record */
#define PX_INFO_NUM_BANDS     1009u
#define PX_INFO_BUFFER_TYPE   1010u
#define PX_INFO_IMAGE_FORMAT  1011u
#define PX_INFO_SUBSECTION    1012u

/* Data-description items (PXGetExchangeBufferDataDesc): item 2000 + n reads word n - 1 of the
 * description of the last data received; PX_DESC_SERIAL writes two words (low, high). */
#define PX_DESC_REGION_WIDTH  2004u
#define PX_DESC_REGION_ROWS   2005u
#define PX_DESC_REGION_X      2006u
#define PX_DESC_REGION_Y      2007u
#define PX_DESC_IS_REGION     2008u
#define PX_DESC_SERIAL        2009u
#define PX_DESC_NEW_FORMAT    2011u
#define PX_DESC_SYNC_DELIVERY 2012u

/* One published buffer, as PXGetBufferList hands it out (540 bytes). */
typedef struct PXBufferListEntry {
    char     id[4];            /* four characters, not NUL-terminated */
    uint32_t type;             /* PX_BUFTYPE_... */
    uint16_t port;             /* the buffer's TCP port */
    char     processName[256]; /* owning process, NUL-terminated */
    uint8_t  reserved[6];
    char     text[268];        /* second text, NUL-terminated */
} PXBufferListEntry;

/* The info record of the struct calls: 15 words (60 bytes). Only as many words as the buffer
 * type's record has are read or written (15 for images, 2 to 4 for the others). */
typedef union PXBufferInfo {
    uint32_t words[15];
    struct {
        uint32_t reserved0, reserved1;
        uint32_t fullSizeX, fullSizeY;  /* PX_INFO_FULL_SIZE_X / _Y */
        uint32_t reserved4, reserved5;
        uint32_t dataSize;              /* PX_INFO_DATA_SIZE, bytes */
        uint32_t numBands;              /* PX_INFO_NUM_BANDS, bytes per pixel */
        uint32_t offsetX, offsetY;      /* PX_INFO_OFFSET_X / _Y */
        uint32_t sizeX, sizeY;          /* PX_INFO_SIZE_X / _Y */
        uint32_t subsection;            /* PX_INFO_SUBSECTION */
        uint32_t reserved13;
        uint32_t format;                /* PX_INFO_IMAGE_FORMAT */
    } image;
} PXBufferInfo;

#if defined(__cplusplus)
static_assert(sizeof(PXBufferListEntry) == 540, "PXBufferListEntry is 540 bytes");
static_assert(sizeof(PXBufferInfo) == 60, "PXBufferInfo is 60 bytes");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(PXBufferListEntry) == 540, "PXBufferListEntry is 540 bytes");
_Static_assert(sizeof(PXBufferInfo) == 60, "PXBufferInfo is 60 bytes");
#endif

/* "4.0.352.1" (the text stays owned by the library) and 0x04000160. */
PX_API const char* PXClientGetVersion(void);
PX_API uint32_t PXClientGetDWORDVersion(void);

/* Run when the library is loaded and unloaded; both may also be called by the host. Closing the
 * library does not terminate clients that are still open. */
PX_API void PXInitLibrary(void);
PX_API void PXCloseLibrary(void);

/* Opens a client. host (a name) or ipv4 (4 bytes, most significant first) names the camera.
 * Every connect waits at most timeoutMs, or "ConnectTimeout" of the configuration (5000 ms) when
 * timeoutMs is PX_INFINITE or 0; a camera that does not answer then fails like a refused one. A client
 * whose connects failed is still made: its later requests return PX_COMM_ERROR.
 * With agentChannel 1 the client also connects to the agent's publish port; signalDelay,
 * signalTimeout (ms) and retries set up the watchdog, and must then all be non-zero; with
 * agentChannel 0, signalDelay and signalTimeout must not both be non-zero. signalTimeout must not
 * be less than signalDelay. timeoutMs is the wait of every request (PX_INFINITE: no limit). */
PX_API uint32_t PXClientInit(const char* host, const uint8_t* ipv4, const char* clientName, PXHANDLE* handle,
                             uint32_t timeoutMs, uint32_t agentChannel, uint32_t signalDelay, uint32_t signalTimeout,
                             uint32_t retries);
PX_API uint32_t PXClientTerminate(PXHANDLE h);

/* Subscribes the buffer id served on port. agent: a handle with an agent channel (it may be h
 * itself), which checks the buffer's resources first and supervises the subscription; 0 for none
 * (then only an infinite time-out is accepted: the result is PX_INVALID_PARAMETER otherwise,
 * although the subscription is made and the buffer can be read). waitForUpdate is handed to the
 * camera's agent with the subscription as it is (the viewer control gives 1); the library does not
 * interpret it.
 *
 * Every id argument of the buffer functions points to exactly 4 characters, compared as 4 bytes;
 * no NUL is needed after them. PXBufferListEntry.id carries none: copy its 4 bytes. */
PX_API uint32_t PXSetExchangeBuffer(PXHANDLE h, uint32_t port, const char* id, uint32_t waitForUpdate, PXHANDLE agent);
PX_API uint32_t PXSetExchangeBufferInfoStruct(PXHANDLE h, const char* id, const void* info);
PX_API uint32_t PXSetExchangeBufferInfo(PXHANDLE h, const char* id, uint32_t param, const uint32_t* value);
PX_API uint32_t PXGetExchangeBufferInfoStruct(PXHANDLE h, const char* id, void* info);
PX_API uint32_t PXGetExchangeBufferInfo(PXHANDLE h, const char* id, uint32_t param, uint32_t* value);

/* Reads the buffer's data into dest: PX_INFO_DATA_SIZE bytes, or fullSizeX x fullSizeY x
 * numBands for an image whose camera answers with regions. force 1 asks for data at once, 0 for
 * the next update. info (optional) receives the info record; *received is 1 when data came. */
PX_API uint32_t PXGetExchangeBufferData(PXHANDLE h, const char* id, uint32_t force, void* dest, void* info,
                                        uint32_t* received);
/* PX_DESC_SERIAL writes two words: value must point to two. */
PX_API uint32_t PXGetExchangeBufferDataDesc(PXHANDLE h, const char* id, uint32_t param, uint32_t* value);

/* The camera's buffers (needs an agent channel). The list stays owned by the library, valid until
 * the next call on the handle or its end. */
PX_API uint32_t PXGetBufferList(PXHANDLE h, uint32_t* count, const PXBufferListEntry** list);
PX_API uint32_t PXSendInput(PXHANDLE h, const char* id, uint32_t size, const void* data);
PX_API uint32_t PXGetNumberOfClient(PXHANDLE h, const char* id, uint32_t* count);
/* From another thread: makes a waiting read return at once. */
PX_API uint32_t PXForceTransferInProgress(PXHANDLE h, const char* id);
/* From another thread: ends the transfers of h; they return PX_END_OF_TRANSFERS from then on. */
PX_API uint32_t PXCancelTransfers(PXHANDLE h);
PX_API uint32_t PXGetTimeout(PXHANDLE h, uint32_t* timeoutMs);
/* Kept for compatibility: returns PX_OK and changes nothing. */
PX_API uint32_t PXSetTimeout(PXHANDLE h, uint32_t timeoutMs);
/* PX_OK while the watchdog receives signals, PX_WATCHDOG_LOST after a miss, PX_NO_WATCHDOG. */
PX_API uint32_t PXGetWatchDogStatus(PXHANDLE h, uint32_t* status);
/* *answer 0: the resource (a buffer's port) is not available. agent: a handle with agent channel. */
PX_API uint32_t PXVerifyResources(PXHANDLE agent, uint32_t resource, uint32_t* answer);
/* A descriptor that becomes readable when the camera's buffer list changed (poll it, then read
 * 8 bytes to reset it), or 0. Owned by the library. */
PX_API int PXGetRefreshListEvent(PXHANDLE h);

/* The name and meaning of a result, for a person: "PX_COMM_ERROR: communication with the
 * camera's agent failed". A code that is not one of the library's results above is an agent's
 * result passed through: "agent result N". The text stays owned by the library; an agent's is
 * valid until the same thread calls again. Never null. */
PX_API const char* PXGetResultText(uint32_t result);

/* The diagnostic log: an XML-like line file. The first path wins until the library is closed. */
PX_API void PXInitLogger(const char* path);
PX_API void PXAddLoggerSection(uint32_t id, const char* name);


/* Camera update. The camera's versions come from its web service (HTTP, port 80 or the
 * configuration value WebServicePort); a package is a folder with "version.ini" and
 * "FpgaRomInfo.txt". These calls block the calling thread while they talk to the camera. */

/* PXInquireUpdate with inquiry 0 compares the package with the camera; *result (uint32_t) then
 * receives one of these, or an error code below. */
#define PX_UPDATE_ALREADY_INSTALLED  0u  /* the package's versions are installed */
#define PX_UPDATE_PARTIAL_DOWNGRADE  1u  /* same operating system, some component older */
#define PX_UPDATE_PARTIAL_UPGRADE    2u  /* same operating system, some component newer */
#define PX_UPDATE_COMPLETE_DOWNGRADE 4u  /* the package's operating system is older */
#define PX_UPDATE_COMPLETE_UPGRADE   8u  /* the package's operating system is newer */
#define PX_UPDATE_NOT_COMPARABLE     32u /* only one of package and camera has a Flowsmith agent */

/* Update error codes (PXGetKelvoUpdateError gives their texts). */
#define PX_UPDATE_ERR_CONNECT        0x801u /* the camera cannot be reached */
#define PX_UPDATE_ERR_NO_FILES       0x809u /* the package folder has no "version.ini" */

/* Values PXInquireUpdate reads (text of at most 255 characters into a 256-byte result). */
#define PX_INQUIRE_COMPARE          0u
#define PX_INQUIRE_OS               0x14000Eu /* operating system version, "4.0" */
#define PX_INQUIRE_OS_BUILD         0x140010u
#define PX_INQUIRE_OS_QFE           0x140011u
#define PX_INQUIRE_QVL_BUILD        0x140014u /* imaging library build, "9.1.0" */
#define PX_INQUIRE_QVL_SP           0x1400B7u
#define PX_INQUIRE_QVL_SP_REVISION  0x1400B8u
#define PX_INQUIRE_QVL_HOTFIX       0x1400BBu
#define PX_INQUIRE_FS               0x1400C2u /* Flowsmith agent version */
#define PX_INQUIRE_FS_BUILD         0x1400C3u
#define PX_INQUIRE_FS_REVISION      0x1400C4u
#define PX_INQUIRE_BOOTROM          0x10000Du
#define PX_INQUIRE_BOOTROM_BUILD    0x10000Eu
#define PX_INQUIRE_SENSOR           0x80007u  /* the camera's sensor configuration byte, as quoted bits */
#define PX_INQUIRE_FPGA             0x240039u

/* camera: a host name or address, or a full WSDL URL ("http://..."); packageFolder: a folder with
 * or without a trailing "/". inquiry 0: compare (both needed), result points to a uint32_t;
 * otherwise one PX_INQUIRE_ value, from the package when one is given, else from the camera, and
 * result points to at least 256 bytes. Returns 1 on success, 0 on failure (then an error code or
 * the text "Missing File" or "Unreachable Camera" may have been written). */
PX_API uint32_t PXInquireUpdate(const char* camera, const char* packageFolder, uint32_t inquiry, void* result);

/* The text of an update error code into text (256 bytes); 1, or 0 for a code that has none. */
PX_API int PXGetKelvoUpdateError(int code, char* text);

/* More update error codes: the update procedure's own (0x802 to 0x80B); smaller ones are the
 * final status of the camera's update tool. */
#define PX_UPDATE_ERR_TIMEOUT        0x802u /* the camera did not come back in time */
#define PX_UPDATE_ERR_CLEAN          0x803u /* the camera's RAM files could not be cleaned */
#define PX_UPDATE_ERR_RESIZE         0x804u /* the camera's RAM file system could not be resized */
#define PX_UPDATE_ERR_COPY           0x805u /* the package could not be copied */
#define PX_UPDATE_ERR_START          0x806u /* the camera's update tool did not start */
#define PX_UPDATE_ERR_TOOL_TIMEOUT   0x807u /* the update tool fell silent or its connection broke */
#define PX_UPDATE_ERR_VERSION        0x808u /* the versions could not be compared */
#define PX_UPDATE_ERR_QVL_RUNNING    0x80Au /* an imaging library application kept running */
#define PX_UPDATE_ERR_HARDWARE       0x80Bu /* the package cannot be installed on this camera */

/* Kinds of the update callback: a step or error heading (data: text), the current stage's
 * percentage (data: pointer to a 32-bit int), a detail (data: text). */
#define PX_UPDATE_HEADING 0
#define PX_UPDATE_PERCENT 1
#define PX_UPDATE_DETAIL  2
typedef void (*PXUpdateCallback)(int kind, const void* data);

/* Installs the package in packageFolder on the camera (a host name or address), a complete update
 * when complete is not 0 or when the versions need one; reports progress to callback (may be
 * NULL: then the checks of the camera's processes are left out). Blocks for minutes. Returns 0 or
 * an update error code. The camera's RAM files are reached as the configuration's RamFilesPath
 * (default "smb://%s/RAMFILES"), its message server on MessageServerPort (default 3074). */
PX_API int PXKelvoUpdateEx(const char* camera, const char* packageFolder, int complete, PXUpdateCallback callback);
/* The same with complete 0. */
PX_API int PXKelvoUpdate(const char* camera, const char* packageFolder, PXUpdateCallback callback);

/* Asks the user for the camera's web-service credentials: caption and message say which camera;
 * user and password receive NUL-terminated texts of at most 20 characters. Returns 1 when the user
 * confirms, 0 when not. Called on the thread that talks to the camera. */
typedef int (*PXCredentialPrompt)(const char* caption, const char* message, char* user, uint32_t userSize,
                                  char* password, uint32_t passwordSize);
/* Replaces the process-wide prompt; NULL restores the default, which answers "cancelled". */
PX_API void PXSetCredentialPrompt(PXCredentialPrompt prompt);

#ifdef __cplusplus
}
#endif

#endif
