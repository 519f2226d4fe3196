// CWrapperInterface: everything the control asks of the object that hosts it, in the slot order
// of the component the control comes from. The host object (CPellixControlObject) implements it
// over a host's window services; tests implement it directly.
//
// Threads. Slots 0 to 7 may be called from the update and buffer-list threads as well as from
// the window's thread; the events (slots 9 to 19), the message box and the window services after
// them only ever from the window's thread.
#pragma once

#include <cstdint>

#include "display/DXDisplay.h"
#include "pellix/pellix_control.h"
#include "raster/Gdi.h"

namespace pxcontrol {

class CWrapperInterface {
public:
    virtual ~CWrapperInterface() = default;

    // 0: a DC over the control window, null when there is no window; given back with slot 2.
    virtual raster::HDC GetWindowDC() = 0;
    // 1
    virtual void GetClientRect(raster::RECT* rect) = 0;
    // 2
    virtual void ReleaseDC(raster::HDC hdc) = 0;
    // 3: a timer on the window without callback (WM_TIMER with the id); answers the timer's id.
    virtual uint32_t SetTimer(uint32_t id, uint32_t periodMs) = 0;
    // 4
    virtual void KillTimer(uint32_t id) = 0;
    // 5: the whole window, no erase.
    virtual void Invalidate() = 0;
    // 6: the control window, null before it exists.
    virtual display::HWND GetWindowHandle() = 0;
    // 7: posts the message to the control window, or with send sends it and waits up to
    // timeoutMs for it to be processed; false when it could not be posted or the send timed out.
    virtual bool DeliverMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool send, uint32_t timeoutMs) = 0;
    // 8
    virtual int32_t MessageBox(const char* text, const char* caption, uint32_t flags) = 0;

    // 9 to 19: the events, each with its arguments (texts UTF-8, valid during the call only).
    virtual void FireOnTextReceived(const char* text) = 0;
    virtual void FireOnArrayReceived(const PXVariant& array) = 0;
    virtual void FireOnListUpdate(const char* text) = 0;
    virtual void FireOnMouseDown(int32_t x, int32_t y, int32_t button) = 0;
    virtual void FireOnMouseUp(int32_t x, int32_t y, int32_t button) = 0;
    virtual void FireOnMouseMove(int32_t x, int32_t y) = 0;
    virtual void FireOnHistogramReceived(const PXVariant& histogram) = 0;
    virtual void FireOnImageReceived(uint64_t pDIBHeader, uint64_t pDIB) = 0;
    virtual void FireOnDataReceive(const char* text) = 0;
    virtual void FireOnScaleChange(float fScaleX, float fScaleY) = 0;
    virtual void FireOnError(uint32_t ulError, const char* errorMessage) = 0;

    // The window services of the popup menu, the dialogs and the clipboard.
    // The chosen command, 0 for none.
    virtual uint32_t TrackMenu(const PXMenuItem* items, uint32_t count, int32_t x, int32_t y) = 0;
    // filters: description and pattern for each entry, 2 x filterCount texts. False: cancelled.
    virtual bool SaveFileDialog(const char* const* filters, uint32_t filterCount, const char* title,
                                const char* initialName, const char* defaultExt, char* path, uint32_t pathSize,
                                uint32_t* chosenFilter) = 0;
    // False: closed without OK; text then holds what the host left there.
    virtual bool TextDialog(const char* title, const char* prompt, char* text, uint32_t textSize) = 0;
    virtual bool SetClipboardBitmap(const PXSurface& bitmap) = 0;
    // The window's upper-left corner on the screen.
    virtual void ScreenOrigin(int32_t* x, int32_t* y) = 0;
};

} // namespace pxcontrol
