/* Pellix viewer control: the C interface of libpellixcontrol.
 *
 * The control connects to one exchange buffer of a Kelvo camera (through libpellix), reads it on
 * worker threads of its own, converts images to a displayable bitmap, paints them and tells its
 * host about data, buffer lists, mouse actions and failures through events. It has no window and
 * no toolkit of its own: the host (a Qt widget, a GTK program, Python through ctypes, a headless
 * test host) lends it a window through the PXControlHost table below and hands it the window's
 * messages. Members and events are reached by DISPID with PXVariant arguments, as an automation
 * client reaches a dispatch interface. This header stands alone as C99; link libpellixcontrol
 * (pkg-config pellixcontrol, or find_package(PellixControl) in CMake). Values here are part of the
 * interface's contract and are never changed or reused.
 *
 * Threads. The host chooses one thread as the control window's thread and makes every call of
 * this interface on it (PXControlCreate, PXControlDestroy, PXControlInvoke,
 * PXControlWindowMessage, PXControlPaint, PXControlSaveProperties, PXControlLoadProperties);
 * PXControlDispIdOfName and PXVariantClear may be called on any thread. The control calls the
 * host from two kinds of thread:
 *   - on the window's thread, inside one of the calls above: every host function;
 *   - on its worker threads (the update thread and, in agent mode, the buffer-list thread):
 *     getWindowSurface, getClientRect, releaseWindowSurface, invalidate, hasWindow and
 *     deliverMessage only. These must be safe to call concurrently with the window's thread.
 * Events (fireEvent), message boxes, menus, dialogs, the clipboard and timers are always called
 * on the window's thread: workers deliver window messages and the control fires the events when
 * the host hands those messages back through PXControlWindowMessage.
 *
 * Ownership. The host owns the PXControlHost table's data and keeps it valid until
 * PXControlDestroy returns (the control copies the table itself). Arguments the host passes in
 * (PXControlInvoke's args, surfaces, the values of PXControlLoadProperties) stay the host's: the
 * control copies what it keeps. What a call hands out in *result (texts, arrays) belongs to the
 * host, which frees it with PXVariantClear. Event arguments and the values handed to
 * PXControlSaveProperties' put belong to the control and are valid during that callback only:
 * copy them, never PXVariantClear them. Menu items, dialog filters and texts given to the host
 * are likewise valid during the callback only. */
#ifndef PELLIX_PELLIX_CONTROL_H
#define PELLIX_PELLIX_CONTROL_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define PX_CONTROL_API __attribute__((visibility("default")))
#else
#define PX_CONTROL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One control; made by PXControlCreate, ended by PXControlDestroy. */
typedef struct PXControl PXControl;

/* ---- Results of PXControlInvoke and the persistence calls (HRESULT values) ---- */
#define PX_S_OK                   ((int32_t)0x00000000)
#define PX_S_FALSE                ((int32_t)0x00000001)  /* GetBufferList: the refresh failed */
#define PX_E_NOTIMPL              ((int32_t)0x80004001u) /* RegisterDataCallback, RegisterListUpdateCallback */
#define PX_E_POINTER              ((int32_t)0x80004003u) /* a needed pointer is null */
#define PX_E_OUTOFMEMORY          ((int32_t)0x8007000Eu) /* a text or array could not be allocated */
#define PX_DISP_E_MEMBERNOTFOUND  ((int32_t)0x80020003u) /* unknown DISPID, or a kind the member does not offer */
#define PX_DISP_E_TYPEMISMATCH    ((int32_t)0x80020005u) /* an argument of a type the member cannot take */
#define PX_DISP_E_BADPARAMCOUNT   ((int32_t)0x8002000Eu) /* the wrong number of arguments */

/* ---- Automation type codes (PXVariant.vt) ---- */
#define PX_VT_EMPTY    0u
#define PX_VT_I2       2u
#define PX_VT_I4       3u
#define PX_VT_R4       4u
#define PX_VT_R8       5u
#define PX_VT_BSTR     8u   /* v.str: UTF-8, NUL-terminated */
#define PX_VT_BOOL     11u  /* v.boolVal: -1 true, 0 false */
#define PX_VT_VARIANT  12u  /* only as PX_VT_ARRAY | PX_VT_VARIANT */
#define PX_VT_I1       16u
#define PX_VT_UI1      17u
#define PX_VT_UI2      18u
#define PX_VT_UI4      19u
#define PX_VT_I8       20u
#define PX_VT_UI8      21u  /* addresses (GetBufferDataPtr, GetBufferDIBHeaderPtr, OnImageReceived) */
#define PX_VT_INT      22u
#define PX_VT_UINT     23u
#define PX_VT_ARRAY    0x2000u /* only PX_VT_ARRAY | PX_VT_VARIANT: v.array, items[0 .. count-1] */

/* A tagged value: an argument, a result or an event argument. */
typedef struct PXVariant {
    uint16_t vt;
    uint16_t reserved[3];
    union {
        int8_t cVal;
        uint8_t bVal;
        int16_t iVal;
        uint16_t uiVal;
        int32_t lVal;
        uint32_t ulVal;
        int64_t llVal;
        uint64_t ullVal;
        float fltVal;
        double dblVal;
        int16_t boolVal;
        const char* str; /* BSTR: UTF-8, NUL-terminated */
        struct {
            struct PXVariant* items;
            uint32_t count;
        } array;
    } v;
} PXVariant;

/* A 32-bit pixel surface: blue, green, red and an unused byte per pixel; rows top-down, stride
 * bytes apart (stride >= 4 * width). */
typedef struct PXSurface {
    uint8_t* pixels;
    int32_t width, height, stride;
} PXSurface;

typedef struct PXRect {
    int32_t left, top, right, bottom;
} PXRect;

/* ---- Popup menu items (trackMenu) ---- */
#define PX_MENU_CHECKED    1u /* drawn with a check mark */
#define PX_MENU_SEPARATOR  2u /* a separator line; id and text unused */
#define PX_MENU_SUBMENU    4u /* opens children[0 .. count-1]; its own id is never chosen */

typedef struct PXMenuItem {
    uint32_t id;
    const char* text;
    uint32_t flags;
    const struct PXMenuItem* children;
    uint32_t count;
} PXMenuItem;

/* ---- Message boxes (messageBox) ---- */
#define PX_MB_OK  0u /* the only flags the control passes */
#define PX_IDOK   1  /* the answer to an OK box */

/* ---- Window messages the control handles (PXControlWindowMessage) ----
 * The host hands the control these messages of its window, and every message the control gave
 * to deliverMessage. The control's own two messages (data received, buffer list refreshed) are
 * numbers from PX_WM_REGISTERED_FIRST to PX_WM_REGISTERED_LAST, fixed once per process; the host
 * needs not know them, it only queues and hands them back. */
#define PX_WM_CREATE            0x0001u /* the window exists: automatic start unless ManualStart */
#define PX_WM_DESTROY           0x0002u /* the window goes: Stop */
#define PX_WM_SIZE              0x0005u /* the client area changed size: the drawing surfaces follow */
#define PX_WM_PAINT             0x000Fu /* not handed over: the host calls PXControlPaint instead */
#define PX_WM_ERASEBKGND        0x0014u /* consumed, nothing drawn */
#define PX_WM_TIMER             0x0113u /* wParam: the timer id (setTimer) */
#define PX_WM_MOUSEMOVE         0x0200u
#define PX_WM_LBUTTONDOWN       0x0201u
#define PX_WM_LBUTTONUP         0x0202u
#define PX_WM_RBUTTONDOWN       0x0204u
#define PX_WM_RBUTTONUP         0x0205u
#define PX_WM_MBUTTONDOWN       0x0207u
#define PX_WM_MBUTTONUP         0x0208u
#define PX_WM_REGISTERED_FIRST  0xC000u
#define PX_WM_REGISTERED_LAST   0xFFFFu

/* wParam of the mouse messages: the buttons and keys held. */
#define PX_MK_LBUTTON  0x0001u
#define PX_MK_RBUTTON  0x0002u
#define PX_MK_SHIFT    0x0004u
#define PX_MK_CONTROL  0x0008u
#define PX_MK_MBUTTON  0x0010u

/* lParam of the mouse messages: client x in the low 16 bits, client y in the next 16. */
#define PX_MOUSE_LPARAM(x, y) \
    ((intptr_t)(((uint32_t)(uint16_t)(int16_t)(x)) | ((uint32_t)(uint16_t)(int16_t)(y) << 16)))

/* The frame-rate timer the control sets on its window (WM_TIMER wParam). */
#define PX_FPS_TIMER_ID  123u

/* ---- Invoke kinds ---- */
#define PX_INVOKE_METHOD       1u
#define PX_INVOKE_PROPERTYGET  2u
#define PX_INVOKE_PROPERTYPUT  4u

/* ---- Members, by DISPID ----
 * Arguments go in args[0 .. argc-1] in the order below (the first parameter first). A property is
 * read with PX_INVOKE_PROPERTYGET and no argument, and written with PX_INVOKE_PROPERTYPUT and its
 * value in args[0]; a method is invoked with PX_INVOKE_METHOD (PROPERTYGET is taken as METHOD, as
 * automation clients send it). Integer parameters take any integer type code (I1, I2, I4, I8, UI1,
 * UI2, UI4, UI8, INT, UINT, BOOL) and are converted; R4 parameters take R4 or R8 and any integer;
 * texts need BSTR; SaveImage's file name may also be EMPTY (no name at all). Anything else is
 * PX_DISP_E_TYPEMISMATCH. Results come in *result as listed (I2, I4, R4, BSTR or UI8; 32-bit
 * unsigned values as I4 bits); result may be null, which acts as the null out-pointer of a getter
 * (nothing written; ClientName then returns PX_E_POINTER). "code" is the control's result code, a
 * libpellix result (PX_OK, PX_COMM_ERROR, ...).
 *
 *  DISPID member                      kind    arguments                                   -> result
 *   1  DisplayVariables               method  ()
 *   4  GetFullSizeX                   method  ()                                          -> I4
 *   5  GetFullSizeY                   method  ()                                          -> I4
 *  11  SendInput                      method  (I4 Input)                                  -> I4 code
 *  13  GetBufferList                  method  ()  returns PX_S_FALSE when the refresh failed -> BSTR
 *  14  RegisterDataCallback           method  (any)  returns PX_E_NOTIMPL
 *  15  SetImageParams                 method  (I4 OffsetX, OffsetY, SizeX, SizeY, Subsection) -> I4 code
 *  17  ServerAddress                  prop    BSTR ("0.0.0.0" when none, or a host name was given)
 *  18  Agent                          prop    I2 (1 or 0)
 *  19  Port                           prop    I4
 *  20  ClientName                     prop    BSTR
 *  21  Visible                        prop    I2
 *  22  ShowFPS                        prop    I2
 *  24  BufferId                       prop    BSTR (4 characters)
 *  25  BufferSizeX                    prop    I4 (the same value as width)
 *  26  BufferSizeY                    prop    I4 (the same value as height)
 *  27  BufferOffsetX                  prop    I4
 *  28  BufferOffsetY                  prop    I4
 *  29  GetFullSizeBand                method  ()                                          -> I4
 *  30  Subsection                     prop    I4
 *  32  MaxTimeout                     prop    I4
 *  33  Start                          method  ()                                          -> I4 code
 *  34  width                          prop    I4
 *  35  height                         prop    I4
 *  36  GetDisplayRate                 method  ()                                          -> R4
 *  37  GetNewBufferSizeX              method  ()                                          -> I4
 *  38  GetNewBufferSizeY              method  ()                                          -> I4
 *  39  GetNewBufferOffsetX            method  ()                                          -> I4
 *  40  GetNewBufferOffsetY            method  ()                                          -> I4
 *  41  GetNewSubsection               method  ()                                          -> I4
 *  42  RegisterListUpdateCallback     method  (any)  returns PX_E_NOTIMPL
 *  43  SendInputString                method  (BSTR Input: its bytes are sent)            -> I4 code
 *  44  LOGScale                       prop    I2
 *  45  ManualStart                    prop    I2
 *  46  Stop                           method  ()                                          -> I4 code
 *  47  GetErrorMessage                method  ()                                          -> BSTR
 *  48  GetBufferType                  method  ()                                          -> I4
 *  49  GetBufferAttribute             method  ()                                          -> I4
 *  50  GetBufferSize                  method  ()                                          -> I4
 *  51  GetBufferDataPtr               method  ()                                          -> UI8 address
 *  52  GetConnected                   method  ()                                          -> I4
 *  53  FPSRefreshDelay                prop    I4 (ms)
 *  54  BufferListUpdatePeriod         prop    I4 (ms)
 *  55  AddOverlayRect                 method  (I4 id, x1, y1, x2, y2, width, color, bColor, attribute) -> I4 id
 *  56  ClearOverlay                   method  ()
 *  57  AddOverlayEllipse              method  (I4 id, x1, y1, x2, y2, width, color, bColor, attribute) -> I4 id
 *  58  AddOverlayLine                 method  (I4 id, x1, y1, x2, y2, width, color, attribute)  -> I4 id
 *  59  AddOverlayPixel                method  (I4 id, x, y, color, attribute)             -> I4 id
 *  60  AddOverlayText                 method  (I4 id, x1, y1, x2, y2, color, bkColor, size, style,
 *                                              BSTR font, BSTR text, I4 attribute)         -> I4 id
 *  61  DrawOverlay                    method  ()
 *  62  GetOverlayTransparentColor     method  ()  the colour is PXControlInvoke's own return value
 *                                              (0 without an accelerated back-end); *result stays EMPTY
 *  63  SetOverlayTransparentColor     method  (I4 ck)
 *  64  RemoveOverlayObject            method  (I4 id)
 *  65  GetVersion                     method  ()                                          -> BSTR "4.0.352.1"
 *  66  SendInputArray                 method  (ARRAY|VARIANT Varray)                      -> I4 code
 *  67  LockDataPtr                    method  ()
 *  68  UnlockDataPtr                  method  ()
 *  69  GetBufferDIBHeaderPtr          method  ()                                          -> UI8 address
 *  70  FPSCorner                      prop    I2 (0 to 3)
 *  71  SpecialMouseInteraction        prop    I4
 *  72  PopupMenuInteraction           prop    I2
 *  74  SerialCounter                  prop    I4 (low 32 bits; put has no effect)
 *  75  GetNumberOfClient              method  ()                                          -> I4
 *  76  SendInputWString               method  (BSTR Input: sent as UTF-16)                -> I4 code
 *  77  ZoomOnPoint                    method  (I4 ulX, I4 ulY, R4 scale, I4 ulOptions)    -> I4 code
 *  78  SerialCounterHigh              prop    I4 (high 32 bits; put has no effect)
 *  79  DisplayOptions                 prop    I4
 *  80  LinkedAgentID                  prop    I4
 *  81  GetClientID                    method  ()                                          -> I4
 *  82  SaveImage                      method  (I4 dwType, BSTR or EMPTY strFileName)      -> I4 (1 written)
 *
 * The addresses of GetBufferDataPtr and GetBufferDIBHeaderPtr are those of the converted image
 * and of its 40-byte bitmap header with its colour table; they are non-zero only between
 * LockDataPtr and UnlockDataPtr, and valid only until UnlockDataPtr. */
enum PXControlDispId {
    PXDISPID_DisplayVariables = 1,
    PXDISPID_GetFullSizeX = 4,
    PXDISPID_GetFullSizeY = 5,
    PXDISPID_SendInput = 11,
    PXDISPID_GetBufferList = 13,
    PXDISPID_RegisterDataCallback = 14,
    PXDISPID_SetImageParams = 15,
    PXDISPID_ServerAddress = 17,
    PXDISPID_Agent = 18,
    PXDISPID_Port = 19,
    PXDISPID_ClientName = 20,
    PXDISPID_Visible = 21,
    PXDISPID_ShowFPS = 22,
    PXDISPID_BufferId = 24,
    PXDISPID_BufferSizeX = 25,
    PXDISPID_BufferSizeY = 26,
    PXDISPID_BufferOffsetX = 27,
    PXDISPID_BufferOffsetY = 28,
    PXDISPID_GetFullSizeBand = 29,
    PXDISPID_Subsection = 30,
    PXDISPID_MaxTimeout = 32,
    PXDISPID_Start = 33,
    PXDISPID_width = 34,
    PXDISPID_height = 35,
    PXDISPID_GetDisplayRate = 36,
    PXDISPID_GetNewBufferSizeX = 37,
    PXDISPID_GetNewBufferSizeY = 38,
    PXDISPID_GetNewBufferOffsetX = 39,
    PXDISPID_GetNewBufferOffsetY = 40,
    PXDISPID_GetNewSubsection = 41,
    PXDISPID_RegisterListUpdateCallback = 42,
    PXDISPID_SendInputString = 43,
    PXDISPID_LOGScale = 44,
    PXDISPID_ManualStart = 45,
    PXDISPID_Stop = 46,
    PXDISPID_GetErrorMessage = 47,
    PXDISPID_GetBufferType = 48,
    PXDISPID_GetBufferAttribute = 49,
    PXDISPID_GetBufferSize = 50,
    PXDISPID_GetBufferDataPtr = 51,
    PXDISPID_GetConnected = 52,
    PXDISPID_FPSRefreshDelay = 53,
    PXDISPID_BufferListUpdatePeriod = 54,
    PXDISPID_AddOverlayRect = 55,
    PXDISPID_ClearOverlay = 56,
    PXDISPID_AddOverlayEllipse = 57,
    PXDISPID_AddOverlayLine = 58,
    PXDISPID_AddOverlayPixel = 59,
    PXDISPID_AddOverlayText = 60,
    PXDISPID_DrawOverlay = 61,
    PXDISPID_GetOverlayTransparentColor = 62,
    PXDISPID_SetOverlayTransparentColor = 63,
    PXDISPID_RemoveOverlayObject = 64,
    PXDISPID_GetVersion = 65,
    PXDISPID_SendInputArray = 66,
    PXDISPID_LockDataPtr = 67,
    PXDISPID_UnlockDataPtr = 68,
    PXDISPID_GetBufferDIBHeaderPtr = 69,
    PXDISPID_FPSCorner = 70,
    PXDISPID_SpecialMouseInteraction = 71,
    PXDISPID_PopupMenuInteraction = 72,
    PXDISPID_SerialCounter = 74,
    PXDISPID_GetNumberOfClient = 75,
    PXDISPID_SendInputWString = 76,
    PXDISPID_ZoomOnPoint = 77,
    PXDISPID_SerialCounterHigh = 78,
    PXDISPID_DisplayOptions = 79,
    PXDISPID_LinkedAgentID = 80,
    PXDISPID_GetClientID = 81,
    PXDISPID_SaveImage = 82
};

/* ---- Events, by DISPID (fireEvent), with their arguments in args[0 .. argc-1] ----
 *   1  OnTextReceived       (BSTR text)                       data of a text buffer
 *   2  OnListUpdate         (BSTR text)                       buffer list refreshed, agent mode
 *   3  OnMouseDown          (I4 x, I4 y, I4 button)           button 1 left, 2 right, 4 middle
 *   4  OnMouseUp            (I4 x, I4 y, I4 button)
 *   5  OnMouseMove          (I4 x, I4 y)
 *   6  OnArrayReceived      (ARRAY|VARIANT, or BSTR)          data of an array buffer
 *   7  OnHistogramReceived  (ARRAY|VARIANT)                   never fired
 *   8  OnImageReceived      (UI8 pDIBHeader, UI8 pDIB)        data of an image buffer; the data lock is
 *                                                             held during the event, the addresses die with it
 *   9  OnDataReceive        (BSTR connection name)            every data, before the type's own event
 *  10  OnScaleChange        (R4 fScaleX, R4 fScaleY)          SetImageParams
 *  11  OnError              (I4 ulError, BSTR errorMessage)   the automatic start failed */
enum PXControlEventId {
    PXEVENT_OnTextReceived = 1,
    PXEVENT_OnListUpdate = 2,
    PXEVENT_OnMouseDown = 3,
    PXEVENT_OnMouseUp = 4,
    PXEVENT_OnMouseMove = 5,
    PXEVENT_OnArrayReceived = 6,
    PXEVENT_OnHistogramReceived = 7,
    PXEVENT_OnImageReceived = 8,
    PXEVENT_OnDataReceive = 9,
    PXEVENT_OnScaleChange = 10,
    PXEVENT_OnError = 11
};

/* What the host lends the control: its window and the services around it. data goes to every
 * call. A null function is a service the host does not have: no window (getWindowSurface and
 * hasWindow answer 0, the client rectangle is empty), timers that never fire, a message box
 * answered PX_IDOK, a menu dismissed, dialogs cancelled, a clipboard that does not open, a
 * screen origin of (0, 0). */
typedef struct PXControlHost {
    uint32_t size; /* sizeof(PXControlHost) */
    void* data;

    /* Slot 0, any thread: the window's surface in *s; 0 when there is no window. The control may
     * read and write its pixels until the matching releaseWindowSurface; the host keeps the
     * surface alive and of the same size in between. */
    int (*getWindowSurface)(void* data, PXSurface* s);
    /* Slot 1, any thread: the client rectangle, (0, 0, width, height). */
    void (*getClientRect)(void* data, PXRect* r);
    /* Slot 2, any thread: ends a getWindowSurface. */
    void (*releaseWindowSurface)(void* data, const PXSurface* s);
    /* Slot 3, window thread: a timer that hands PX_WM_TIMER (wParam id) to PXControlWindowMessage
     * every periodMs on the window's thread, replacing a timer of the same id; returns id, 0 when
     * no timer could be set. */
    uint32_t (*setTimer)(void* data, uint32_t id, uint32_t periodMs);
    /* Slot 4, window thread: ends that timer; no PX_WM_TIMER of it follows. */
    void (*killTimer)(void* data, uint32_t id);
    /* Slot 5, any thread: the whole window needs painting, without erasing; the host later calls
     * PXControlPaint on the window's thread. */
    void (*invalidate)(void* data);
    /* Slot 6, any thread: 1 while the window exists (from before PX_WM_CREATE to after
     * PX_WM_DESTROY), else 0. */
    int (*hasWindow)(void* data);
    /* Slot 7, worker threads: hand msg to PXControlWindowMessage on the window's thread. send 0:
     * queue it and return at once (1 when queued). send 1: queue it and wait until
     * PXControlWindowMessage has returned for it (1), or until timeoutMs has passed (0); the
     * control repeats a failed send until it succeeds or the control stops. A send must never
     * outlive the window: when the window goes, every waiting or later send returns 0 at once. */
    int (*deliverMessage)(void* data, uint32_t msg, uintptr_t wParam, intptr_t lParam, int send,
                          uint32_t timeoutMs);
    /* Slot 8, window thread: a modal message box; returns the button pressed (PX_IDOK). */
    int32_t (*messageBox)(void* data, const char* text, const char* caption, uint32_t flags);
    /* Slots 9 to 19, window thread: the event dispid (PXEVENT_...) with its arguments, which are
     * the control's and valid during this call only. The host may invoke members from here. */
    void (*fireEvent)(void* data, int32_t dispid, const PXVariant* args, uint32_t argc);
    /* Window thread: shows the popup menu at the screen point (x, y) and returns the chosen item's
     * id, or 0 when the menu was dismissed. */
    uint32_t (*trackMenu)(void* data, const PXMenuItem* items, uint32_t count, int32_t x, int32_t y);
    /* Window thread: a save-file dialog. filters holds 2 * filterCount texts, a description and a
     * pattern per entry ("Bitmap Files", "*.BMP"). On a choice: the chosen path (NUL-terminated,
     * at most pathSize bytes with the NUL) in path, the index of the chosen entry (from 0) in
     * *chosenFilter, and 1 returned. Cancelled: 0. */
    int (*saveFileDialog)(void* data, const char* const* filters, uint32_t filterCount, const char* title,
                          const char* initialName, const char* defaultExt, char* path, uint32_t pathSize,
                          uint32_t* chosenFilter);
    /* Window thread: a dialog with one text field. Closed with OK: the text entered (NUL-
     * terminated, at most textSize bytes with the NUL) in text, and 1 returned. Closed otherwise:
     * 0, text untouched. */
    int (*textDialog)(void* data, const char* title, const char* prompt, char* text, uint32_t textSize);
    /* Window thread: puts a copy of the bitmap on the clipboard; 1 when the clipboard took it. */
    int (*setClipboardBitmap)(void* data, const PXSurface* bitmap);
    /* Window thread: the screen position of the client area's upper left corner. */
    void (*screenOrigin)(void* data, int32_t* x, int32_t* y);
} PXControlHost;

/* A new control on the host's window; null when host is null or host->size is smaller than this
 * header's PXControlHost. It reads its configuration and starts nothing: the host then hands it
 * PX_WM_CREATE once its window exists (automatic start), or invokes Start. */
PX_CONTROL_API PXControl* PXControlCreate(const PXControlHost* host);

/* Stops the control as PX_WM_DESTROY does when it is still started, waits for its threads, and
 * frees it. After it returns the control calls the host no more. Null is ignored. */
PX_CONTROL_API void PXControlDestroy(PXControl* control);

/* Invokes member dispid (PXDISPID_...) with kind PX_INVOKE_...; *result is set to EMPTY first,
 * then receives the member's result. Returns PX_S_OK or another of the PX_S_/PX_E_/PX_DISP_E_
 * values above (GetOverlayTransparentColor excepted). A null control gives PX_E_POINTER, args
 * null with argc not 0 likewise. Members may fire events on this thread before they return. */
PX_CONTROL_API int32_t PXControlInvoke(PXControl* control, int32_t dispid, uint32_t kind, const PXVariant* args,
                                       uint32_t argc, PXVariant* result);

/* The DISPID of a member by its name ("ServerAddress", "width"; exact case), or -1. */
PX_CONTROL_API int32_t PXControlDispIdOfName(const char* name);

/* Hands a message of the control's window to the control: the PX_WM_ messages above, and every
 * message the control gave to deliverMessage. Returns 1 when the control consumed it (the host
 * then does nothing more with it), 0 when the host should treat it as it would without the
 * control. Data and list messages fire their events from here. */
PX_CONTROL_API int PXControlWindowMessage(PXControl* control, uint32_t msg, uintptr_t wParam, intptr_t lParam);

/* Paints the control's current picture into target (the window's surface, or any surface of
 * the client rectangle's size) on the window's thread: a copy of what the control last composed;
 * a control that is not showing data fills it white. */
PX_CONTROL_API void PXControlPaint(PXControl* control, const PXSurface* target);

/* Persistence. Save calls put once per persisted value, in this order: "_cx" and "_cy" (UI4, the
 * extent in hundredths of a millimetre, 5080 each at first), then the properties ServerAddress,
 * Agent, Port, ClientName, Visible, ShowFPS, BufferId, BufferSizeX, BufferSizeY, BufferOffsetX,
 * BufferOffsetY, Subsection, MaxTimeout, width, height, LOGScale, ManualStart, FPSRefreshDelay,
 * BufferListUpdatePeriod, FPSCorner, SpecialMouseInteraction, PopupMenuInteraction,
 * SerialCounter, SerialCounterHigh, DisplayOptions, LinkedAgentID as their getters give them.
 * Load calls get for the same names in the same order; get returns 1 when it filled *v (the
 * control then puts the value through the setter, and never frees it) or 0 to keep the present
 * value. Both return PX_S_OK, PX_E_POINTER for a null control or callback, or the failing
 * member's result. */
PX_CONTROL_API int32_t PXControlSaveProperties(PXControl* control,
                                               void (*put)(void* ctx, const char* name, const PXVariant* v),
                                               void* ctx);
PX_CONTROL_API int32_t PXControlLoadProperties(PXControl* control,
                                               int (*get)(void* ctx, const char* name, PXVariant* v), void* ctx);

/* Frees what a call of this interface handed out in a PXVariant (a text, an array and its items)
 * and leaves it EMPTY. Only for variants the control filled; null is ignored. */
PX_CONTROL_API void PXVariantClear(PXVariant* v);

#ifdef __cplusplus
}
#endif

#endif
