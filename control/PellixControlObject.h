// CPellixControlObject: the object a host embeds, written once for every host of the C interface
// (the role the component object plays around the control on Windows). It owns one
// CPellixControl, implements CWrapperInterface over the host's window services (PXControlHost),
// keeps the control's extent, starts the control when its window is created, hands painting to
// the control, and persists the extent and the properties.
//
// Threads: the host calls everything here on its window's thread; the control's workers call
// the window services of slots 0 to 7 from their own threads, which the host must allow.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "control/PellixControl.h"
#include "control/WrapperInterface.h"
#include "display/DisplayWindow.h"
#include "pellix/pellix_control.h"

namespace pxcontrol {

class CPellixControlObject : public CWrapperInterface, private display::DisplayWindow {
public:
    // The initial extent, in hundredths of a millimetre.
    static constexpr uint32_t kInitialExtent = 5080;

    // host is copied (host.size must be at least sizeof(PXControlHost)). Null when memory is short.
    static CPellixControlObject* Create(const PXControlHost& host);
    ~CPellixControlObject() override;

    CPellixControl& Control() { return *m_pControl; }

    // A message of the control window: WM_CREATE starts the control unless ManualStart is set
    // (a failure fires OnError) and names the thread "MainThread"; everything goes on to the
    // control. Whether the message was consumed.
    bool OnWindowMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    // The paint handler: the control draws into target.
    void Paint(const PXSurface& target);

    // _cx and _cy, then the persisted properties in their order, through their getters.
    HRESULT SaveProperties(void (*put)(void* ctx, const char* name, const PXVariant* v), void* ctx);
    // The same names through the setters; a name the host does not have keeps its value.
    HRESULT LoadProperties(int (*get)(void* ctx, const char* name, PXVariant* v), void* ctx);

    // CWrapperInterface
    raster::HDC GetWindowDC() override;
    void GetClientRect(raster::RECT* rect) override;
    void ReleaseDC(raster::HDC hdc) override;
    uint32_t SetTimer(uint32_t id, uint32_t periodMs) override;
    void KillTimer(uint32_t id) override;
    void Invalidate() override;
    display::HWND GetWindowHandle() override;
    bool DeliverMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool send, uint32_t timeoutMs) override;
    int32_t MessageBox(const char* text, const char* caption, uint32_t flags) override;
    void FireOnTextReceived(const char* text) override;
    void FireOnArrayReceived(const PXVariant& array) override;
    void FireOnListUpdate(const char* text) override;
    void FireOnMouseDown(int32_t x, int32_t y, int32_t button) override;
    void FireOnMouseUp(int32_t x, int32_t y, int32_t button) override;
    void FireOnMouseMove(int32_t x, int32_t y) override;
    void FireOnHistogramReceived(const PXVariant& histogram) override;
    void FireOnImageReceived(uint64_t pDIBHeader, uint64_t pDIB) override;
    void FireOnDataReceive(const char* text) override;
    void FireOnScaleChange(float fScaleX, float fScaleY) override;
    void FireOnError(uint32_t ulError, const char* errorMessage) override;
    uint32_t TrackMenu(const PXMenuItem* items, uint32_t count, int32_t x, int32_t y) override;
    bool SaveFileDialog(const char* const* filters, uint32_t filterCount, const char* title, const char* initialName,
                        const char* defaultExt, char* path, uint32_t pathSize, uint32_t* chosenFilter) override;
    bool TextDialog(const char* title, const char* prompt, char* text, uint32_t textSize) override;
    bool SetClipboardBitmap(const PXSurface& bitmap) override;
    void ScreenOrigin(int32_t* x, int32_t* y) override;

private:
    explicit CPellixControlObject(const PXControlHost& host);

    // display::DisplayWindow (GetClientRect above serves both): what a back-end borrows.
    bool AcquirePixels(display::WindowPixels* out) override;
    void ReleasePixels(const display::WindowPixels& pixels) override;

    void Fire(int32_t dispid, const PXVariant* args, uint32_t argc);

    PXControlHost m_host = {};
    uint32_t m_cx = kInitialExtent, m_cy = kInitialExtent;
    // The window surfaces behind the DCs handed out, to give each back with its DC.
    std::mutex m_surfaceLock;
    std::vector<std::pair<raster::HDC, PXSurface>> m_surfaces;
    std::unique_ptr<CPellixControl> m_pControl;
};

} // namespace pxcontrol
