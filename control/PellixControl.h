// CPellixControl: the viewer control itself. It connects to a camera's agent through the PX
// functions of libpellix, subscribes one exchange buffer, reads it on an update thread, converts
// images into a displayable bitmap, paints them, and tells its host about data through events.
//
// Who owns what. The control owns its client handle, its receive and data buffers with the
// bitmap header, the memory DC and bitmap of GDI painting, the display back-end, the overlay
// list and the buffer-list text. It reaches its host only through CWrapperInterface, which it
// does not own. Nothing here depends on how the host is built: the host object of
// PellixControlObject.h embeds the control for every host of the C interface, and tests drive it
// with a wrapper of their own.
//
// Threads. The window's thread (the host's) runs every dispatch member, the window messages, the
// painting and every event. The update thread ("UpdateThread") reads data, converts it and
// composes the picture; in agent mode the buffer-list thread ("UpdateBufferList") follows the
// agent's list. Workers never fire events: they deliver window messages, and the window's thread
// turns those into events. Start and Stop make and end the workers.
//
// Locks, always taken in this order: m_csRedraw (the composition of one picture), m_csData (the
// buffers, the geometry and the conversion), m_csDisplay (the back-end, the memory bitmap and
// the overlay), then the back-end's and the overlay list's own locks; m_csBufferList (the list
// text) stands alone. The host may hold m_csData between LockDataPtr and UnlockDataPtr and during
// OnImageReceived. Flags and counters that cross threads without a lock are CRelaxed values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "control/ControlTiming.h"
#include "control/ControlTypes.h"
#include "control/Relaxed.h"
#include "control/WrapperInterface.h"
#include "display/DXDisplay.h"
#include "display/SimpleGList.h"
#include "pellix/pellix.h"
#include "pellix/pellix_control.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "raster/Gdi.h"

namespace pxcontrol {

class CPellixControl {
public:
    static constexpr size_t kClientNameSize = 256;
    static constexpr size_t kServerNameSize = 256;
    static constexpr size_t kConnectionNameSize = 1024;
    static constexpr size_t kErrorTextSize = 200;
    static constexpr size_t kListTextStep = 512;
    static constexpr size_t kTraceStringSize = 1024;

    explicit CPellixControl(CWrapperInterface* wrapper);
    ~CPellixControl();
    CPellixControl(const CPellixControl&) = delete;
    CPellixControl& operator=(const CPellixControl&) = delete;

    // ---- Members of the dispatch interface, by DISPID --------------------------------------------
    // Getters write their value to pVal and do nothing for a null pVal; texts are handed out as
    // malloc'd UTF-8 (BSTR) that the caller frees. Operations write the control's result code.
    HRESULT DisplayVariables();                                                     // 1
    HRESULT GetFullSizeX(uint32_t* pVal);                                           // 4
    HRESULT GetFullSizeY(uint32_t* pVal);                                           // 5
    HRESULT SendInput(uint32_t input, uint32_t* pVal);                              // 11
    HRESULT GetBufferList(BSTR* pVal);                                              // 13
    HRESULT RegisterDataCallback();                                                 // 14
    HRESULT SetImageParams(uint32_t offsetX, uint32_t offsetY, uint32_t sizeX, uint32_t sizeY, uint32_t subsection,
                           uint32_t* pVal);                                         // 15
    HRESULT get_ServerAddress(BSTR* pVal);                                          // 17
    HRESULT put_ServerAddress(const char* text);
    HRESULT get_Agent(uint16_t* pVal);                                              // 18
    HRESULT put_Agent(uint16_t value);
    HRESULT get_Port(uint16_t* pVal);                                               // 19
    HRESULT put_Port(uint16_t value);
    HRESULT get_ClientName(BSTR* pVal);                                             // 20
    HRESULT put_ClientName(const char* text);
    HRESULT get_Visible(uint16_t* pVal);                                            // 21
    HRESULT put_Visible(uint16_t value);
    HRESULT get_ShowFPS(uint16_t* pVal);                                            // 22
    HRESULT put_ShowFPS(uint16_t value);
    HRESULT get_BufferId(BSTR* pVal);                                               // 24
    HRESULT put_BufferId(const char* text);
    HRESULT get_BufferSizeX(uint32_t* pVal);                                        // 25, 34 (width)
    HRESULT put_BufferSizeX(uint32_t value);
    HRESULT get_BufferSizeY(uint32_t* pVal);                                        // 26, 35 (height)
    HRESULT put_BufferSizeY(uint32_t value);
    HRESULT get_BufferOffsetX(uint32_t* pVal);                                      // 27
    HRESULT put_BufferOffsetX(uint32_t value);
    HRESULT get_BufferOffsetY(uint32_t* pVal);                                      // 28
    HRESULT put_BufferOffsetY(uint32_t value);
    HRESULT GetFullSizeBand(uint32_t* pVal);                                        // 29
    HRESULT get_Subsection(uint32_t* pVal);                                         // 30
    HRESULT put_Subsection(uint32_t value);
    HRESULT get_MaxTimeout(uint32_t* pVal);                                         // 32
    HRESULT put_MaxTimeout(uint32_t value);
    HRESULT Start(uint32_t* pVal);                                                  // 33
    HRESULT GetDisplayRate(float* pVal);                                            // 36
    HRESULT GetNewBufferSizeX(uint32_t* pVal);                                      // 37
    HRESULT GetNewBufferSizeY(uint32_t* pVal);                                      // 38
    HRESULT GetNewBufferOffsetX(uint32_t* pVal);                                    // 39
    HRESULT GetNewBufferOffsetY(uint32_t* pVal);                                    // 40
    HRESULT GetNewSubsection(uint32_t* pVal);                                       // 41
    HRESULT RegisterListUpdateCallback();                                           // 42
    HRESULT SendInputString(const char* input, uint32_t* pVal);                     // 43
    HRESULT get_LOGScale(uint16_t* pVal);                                           // 44
    HRESULT put_LOGScale(uint16_t value);
    HRESULT get_ManualStart(uint16_t* pVal);                                        // 45
    HRESULT put_ManualStart(uint16_t value);
    HRESULT Stop(uint32_t* pVal);                                                   // 46
    HRESULT GetErrorMessage(BSTR* pVal);                                            // 47
    HRESULT GetBufferType(uint32_t* pVal);                                          // 48
    HRESULT GetBufferAttribute(uint32_t* pVal);                                     // 49
    HRESULT GetBufferSize(uint32_t* pVal);                                          // 50
    HRESULT GetBufferDataPtr(uint64_t* pVal);                                       // 51
    HRESULT GetConnected(uint32_t* pVal);                                           // 52
    HRESULT get_FPSRefreshDelay(uint32_t* pVal);                                    // 53
    HRESULT put_FPSRefreshDelay(uint32_t value);
    HRESULT get_BufferListUpdatePeriod(uint32_t* pVal);                             // 54
    HRESULT put_BufferListUpdatePeriod(uint32_t value);
    HRESULT AddOverlayRect(int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t width,
                           uint32_t color, uint32_t bColor, uint32_t attribute, int32_t* retId);       // 55
    HRESULT ClearOverlay();                                                         // 56
    HRESULT AddOverlayEllipse(int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t width,
                              uint32_t color, uint32_t bColor, uint32_t attribute, int32_t* retId);    // 57
    HRESULT AddOverlayLine(int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t width,
                           uint32_t color, uint32_t attribute, int32_t* retId);                        // 58
    HRESULT AddOverlayPixel(int32_t id, int32_t x, int32_t y, uint32_t color, uint32_t attribute,
                            int32_t* retId);                                                           // 59
    HRESULT AddOverlayText(int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color,
                           uint32_t bkColor, uint16_t size, int32_t style, const char* font, const char* text,
                           uint32_t attribute, int32_t* retId);                                        // 60
    HRESULT DrawOverlay();                                                          // 61
    // The transparent colour is the call's own result (0 without an accelerated back-end).
    HRESULT GetOverlayTransparentColor();                                           // 62
    HRESULT SetOverlayTransparentColor(uint32_t ck);                                // 63
    HRESULT RemoveOverlayObject(int32_t id);                                        // 64
    HRESULT GetVersion(BSTR* pVal);                                                 // 65
    HRESULT SendInputArray(const PXVariant& varray, uint32_t* pVal);                // 66
    HRESULT LockDataPtr();                                                          // 67
    HRESULT UnlockDataPtr();                                                        // 68
    HRESULT GetBufferDIBHeaderPtr(uint64_t* pVal);                                  // 69
    HRESULT get_FPSCorner(uint16_t* pVal);                                          // 70
    HRESULT put_FPSCorner(uint16_t value);
    HRESULT get_SpecialMouseInteraction(int32_t* pVal);                             // 71
    HRESULT put_SpecialMouseInteraction(int32_t value);
    HRESULT get_PopupMenuInteraction(uint16_t* pVal);                               // 72
    HRESULT put_PopupMenuInteraction(uint16_t value);
    HRESULT get_SerialCounter(uint32_t* pVal);                                      // 74
    HRESULT put_SerialCounter(uint32_t value);
    HRESULT GetNumberOfClient(uint32_t* pVal);                                      // 75
    HRESULT SendInputWString(const char* input, uint32_t* pVal);                    // 76
    HRESULT ZoomOnPoint(uint32_t ulX, uint32_t ulY, float scale, uint32_t ulOptions, uint32_t* pVal); // 77
    HRESULT get_SerialCounterHigh(uint32_t* pVal);                                  // 78
    HRESULT put_SerialCounterHigh(uint32_t value);
    HRESULT get_DisplayOptions(uint32_t* pVal);                                     // 79
    HRESULT put_DisplayOptions(uint32_t value);
    HRESULT get_LinkedAgentID(uint32_t* pVal);                                      // 80
    HRESULT put_LinkedAgentID(uint32_t value);
    HRESULT GetClientID(uint32_t* pVal);                                            // 81
    HRESULT SaveImage(uint32_t dwType, const char* fileName, uint32_t* pVal);       // 82

    // ---- Window and painting, on the window's thread --------------------------------------------
    // Whether the message was consumed.
    bool OnWindowMessage(uint32_t uMsg, uintptr_t wParam, intptr_t lParam);
    // Paint handler: copies the memory bitmap to hdc, or has the back-end present.
    void OnDraw(raster::HDC hdc);

    // The result code of the last operation (a value of libpellix).
    uint32_t LastError() const { return m_dwError; }
    bool Stopping() const { return m_bStopping != 0; }

private:
    // ---- Lifecycle (ControlLifecycle.cpp) ---------------------------------------------------------
    uint32_t StartConnection();
    uint32_t StopConnection();
    void NegotiateGeometry();
    bool AllocateReceiveBuffer();
    bool AllocateDataBuffers() PX_REQUIRES(m_csData);
    bool CreateUpdateThread();
    void EndUpdateThread();
    bool CreateBufferListThread();
    void DestroyUpdateBufferListThread();
    void UpdateThreadBody();
    void BufferListThreadBody();
    void UpdateStep();
    // Takes the geometry of an information record: the six fields, the full size and the buffer
    // size; reallocates the buffers. Answers whether a back-end exists that must hear WM_SIZE.
    bool ApplyImageRecord(const PXBufferInfo& record) PX_REQUIRES(m_csData);
    // After PX_BUFFER_CHANGED: the record anew and the buffers for it.
    void ReadRecordAfterChange();
    void DeliverMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void UpdateFrameRate();
    // Streaming: client ok, connected, not in agent mode, no error.
    bool IsStreaming() const;
    bool IsStreamingImage() const { return IsStreaming() && m_dwBufferType == PX_BUFTYPE_IMAGE; }
    bool IsStreamingInput() const { return IsStreaming() && m_dwBufferType == PX_BUFTYPE_INPUT; }
    // The identifier as the PX functions take it: four characters and a NUL.
    const char* StreamId() const { return m_szStreamId; }
    void FreeBuffers() PX_REQUIRES(m_csData);

    // ---- Events and input (ControlEvents.cpp) --------------------------------------------------------
    void OnDataMessage();
    void OnListMessage();
    // m_dwError = PXGetBufferList, then the list text anew.
    uint32_t RefreshBufferListText();
    bool AppendListText(const char* text, size_t length) PX_REQUIRES(m_csBufferList);
    uint32_t SendInputBytes(const void* bytes, uint32_t size);

    // ---- Painting (ControlPaint.cpp) -------------------------------------------------------------------
    void Redraw();
    void RenderImage(const raster::RECT& rc) PX_REQUIRES(m_csRedraw);
    // The frame's surfaces for the image's header and a picture of width x height: those of the
    // last frame when nothing changed, else made anew. False when they cannot be made.
    bool FrameSurfaces(const uint8_t* header, size_t headerBytes, int32_t width, int32_t height)
        PX_REQUIRES(m_csRedraw, m_csData);
    void ReleaseFrameSurfaces() PX_REQUIRES(m_csRedraw);
    void RenderHistogram(const raster::RECT& rc);
    void RecreateBackBuffer();
    // What the overlay is drawn against: the buffer's window of the full image.
    struct SViewGeometry {
        uint32_t offsetX = 0, offsetY = 0, sizeX = 0, sizeY = 0, subsection = 1;
    };
    SViewGeometry ViewGeometry() PX_REQUIRES(m_csData);
    void RedrawOverlay(const SViewGeometry& view) PX_REQUIRES(m_csDisplay);
    // Draws a status text on white into the memory bitmap.
    void DrawMessage(const raster::RECT& rc, const char* text);
    // Copies a picture of the client's size into the memory bitmap, then frees its DC and bitmap.
    void CopyToMemoryBitmap(raster::HDC dc, raster::HGDIOBJ old, raster::HBITMAP bitmap);
    void ReleaseBackBuffer();

    // ---- Mouse, zoom, region and menu (ControlInteraction.cpp) ----------------------------------------
    void OnMouseMessage(uint32_t uMsg, uintptr_t wParam, intptr_t lParam);
    // The image point of a mouse message's window point (lParam).
    raster::POINT ImagePoint(intptr_t lParam);
    // ZoomOnPoint's steps; on a control that does not stream an image, only a repaint.
    void Zoom(raster::POINT point, float scale, uint32_t ulOptions);
    void StartTrace(raster::POINT pt);
    // The traced shape to pt; finish ends the trace, a region of interest with SetImageParams.
    void TraceTo(raster::POINT pt, bool finish);
    void PlaceTraceShape(raster::POINT pt, bool finish);
    void PopupMenu(int32_t screenX, int32_t screenY, raster::POINT imagePoint);
    void OnMenuCommand(uint32_t command, raster::POINT imagePoint, raster::COLORREF transparent);
    // The "Set String to Write" dialog and its process-wide text.
    void AskTraceString();

    // ---- Saving and copying (ControlSave.cpp) --------------------------------------------------------
    // 1 when a file was written.
    uint32_t SaveImageFile(uint32_t dwType, const char* fileName);
    void CopyImage();

    // ---- Helpers ---------------------------------------------------------------------------------------
    // The message of m_dwError into a buffer of size bytes (the last forced to 0).
    void ErrorMessageText(char* out, size_t size) const;
    void AddOverlayObject(display::CSimpleGraphic* graphic, int32_t* retId);

    CWrapperInterface* m_pWrapper; // the host object, not owned
    const ControlTiming m_timing;

    // Threads and their stop events (auto-reset, initially clear; kept for the control's life so
    // that a thread that outlives its teardown waits still finds them).
    px::Event m_hUpdateStopEvent{false, false};
    px::Thread m_hUpdateThread;
    px::Event m_hListStopEvent{false, false};
    px::Thread m_hListThread;
    // Set by each thread as it ends, so that the teardown can wait for it with a time-out.
    px::Event m_updateEnded{true, false};
    px::Event m_listEnded{true, false};
    CRelaxed<uint32_t> m_dwBufferListUpdatePeriod{10000};

    CRelaxed<int32_t> m_nDisplayMode{1};
    CRelaxed<uint32_t> m_dwForceErrorMsg{0};
    // Set and cleared under m_csData and m_csDisplay both, so either lock reads it: the update
    // thread renders under m_csData, the window's thread paints under m_csDisplay.
    display::CDXDisplay* m_pDisplay = nullptr;
    display::CSimpleGList m_OverlayList;

    // RenderImage's two DIB sections, each selected into its DC: the window-sized picture and the
    // image. They are kept from frame to frame while the image's header (size, format, colour
    // table) and the window's size hold, so that a frame allocates nothing.
    struct SFrameSurfaces {
        raster::HDC hPicture = nullptr, hImage = nullptr;
        raster::HBITMAP hPictureBitmap = nullptr, hImageBitmap = nullptr;
        raster::HGDIOBJ hOldPicture = nullptr, hOldImage = nullptr;
        void* pImageBits = nullptr;
        int32_t nWidth = 0, nHeight = 0;          // of the picture
        uint8_t header[1064] = {};                // the image's header with its colour table
        size_t headerBytes = 0;
    };
    SFrameSurfaces m_frame PX_GUARDED_BY(m_csRedraw);

    raster::HDC m_hMemDC PX_GUARDED_BY(m_csDisplay) = nullptr;
    raster::HBITMAP m_hBitmap PX_GUARDED_BY(m_csDisplay) = nullptr;
    raster::HGDIOBJ m_hOldBitmap PX_GUARDED_BY(m_csDisplay) = nullptr;
    raster::RECT m_rcClient PX_GUARDED_BY(m_csDisplay) = {0, 0, 0, 0};

    px::CriticalSection m_csRedraw PX_ACQUIRED_BEFORE(m_csData);
    px::CriticalSection m_csData PX_ACQUIRED_BEFORE(m_csDisplay);
    px::CriticalSection m_csDisplay;
    px::CriticalSection m_csBufferList;

    CRelaxed<uint32_t> m_dwFrameCount{0};
    uint32_t m_dwLastTick = 0;
    CRelaxed<float> m_fDisplayRate{0.0f};
    uint32_t m_uTimerId = 0;
    CRelaxed<uint16_t> m_bShowFPS{1};
    CRelaxed<uint16_t> m_usFPSCorner{0};
    CRelaxed<uint16_t> m_bLOGScale{0};
    uint16_t m_bManualStart = 0;

    char* m_pszServerName = nullptr;  // 256-byte block
    uint8_t* m_byServerIP = nullptr;  // 4 bytes
    char m_strClientName[kClientNameSize] = "Unknown";
    char m_strBufferId[5] = {};
    // The identifier Start subscribed, which the workers and Stop use while the host may already
    // set the next one.
    char m_szStreamId[5] = {};
    CRelaxed<uint32_t> m_bClientOk{1};
    uint16_t m_usPort = 0;
    uint16_t m_bVisible = 0;
    char m_strConnectionName[kConnectionNameSize] = {};
    CRelaxed<uint32_t> m_dwBufferType{0};

    // Geometry and buffers: written by Start and Stop while no worker runs, and by the update
    // thread under m_csData; read under m_csData.
    uint32_t m_dwFullSizeX = 0, m_dwFullSizeY = 0;
    uint32_t m_dwSizeX = 0, m_dwSizeY = 0;
    uint32_t m_dwOffsetX = 0, m_dwOffsetY = 0;
    uint32_t m_dwNumBands = 0;
    uint32_t m_dwPixelFormat = 0;
    uint32_t m_dwCopyFormat = 0;
    CRelaxed<uint32_t> m_dwForceCopyFormat{0};
    uint32_t m_dwSubsection = 1;
    uint32_t m_dwNewSizeX = 0, m_dwNewSizeY = 0, m_dwNewOffsetX = 0, m_dwNewOffsetY = 0, m_dwNewSubsection = 1;
    float m_fZoom = 1.0f;
    CRelaxed<PXHANDLE> m_hClient{0};
    uint32_t m_dwBufferSize = 0;
    uint32_t m_dwImageSize = 0, m_dwStride = 0;
    uint8_t* m_pData PX_GUARDED_BY(m_csData) = nullptr;
    uint8_t* m_pReceive PX_GUARDED_BY(m_csData) = nullptr;
    size_t m_nReceiveSize PX_GUARDED_BY(m_csData) = 0;
    uint8_t* m_pDIBHeader PX_GUARDED_BY(m_csData) = nullptr;
    CRelaxed<uint32_t> m_dwFPSRefreshDelay{2000};
    CRelaxed<uint64_t> m_qwSerialCounter{0};
    CRelaxed<uint32_t> m_dwError{0};
    CRelaxed<uint32_t> m_bFirstRead{1};
    CRelaxed<uint32_t> m_bConnected{0};
    CRelaxed<uint16_t> m_bAgent{0};
    const int32_t m_lClientTimeout = -1;
    char* m_pBufferListText PX_GUARDED_BY(m_csBufferList) = nullptr;
    uint32_t m_dwBufferListTextSize PX_GUARDED_BY(m_csBufferList) = 0; // capacity
    size_t m_nBufferListTextLength PX_GUARDED_BY(m_csBufferList) = 0;
    CRelaxed<uint8_t> m_bStarted{0};
    CRelaxed<uint32_t> m_bDataLocked{0};
    int32_t m_lSpecialMouseInteraction = 0;
    uint16_t m_usPopupMenuInteraction = 0;
    CRelaxed<uint32_t> m_bSyncDataMessage{0};
    CRelaxed<uint32_t> m_bStopping{0};
    CRelaxed<uint32_t> m_dwDisplayOptions{0};
    uint32_t m_dwLinkedAgentID = 0;

    // Overlay drawing settings of the mouse tools and the popup menu.
    int32_t m_nTraceMode = 0;
    uint16_t m_bTracing = 0;
    raster::POINT m_ptTraceStart = {-1, -1};
    raster::COLORREF m_crBorder = 255;
    raster::COLORREF m_crBackground = 0xFFFFFFFF;
    uint16_t m_usBorderSize = 2;
    int32_t m_nTraceObjectId = -1;
    int32_t m_nRoiFrameId = -1;
    uint32_t m_nFontWeight = 4;
    uint32_t m_dwFontAttributes = 0;
    char m_szFontName[32] = "Arial";
    uint16_t m_usFontSize = 16;
    char m_szTraceString[kTraceStringSize] = "Dravik KELVO";
};

} // namespace pxcontrol
