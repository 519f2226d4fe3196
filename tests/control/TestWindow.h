// A window of the tests' own for CPellixControl: the test's thread is the window's thread, the
// messages the control delivers wait in a queue that the test pumps into the control, and every
// event, timer and message box is recorded. Sends wait until the test's pump has handed them over
// (or, when the test refuses them, until their time-out).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "control/PellixControl.h"
#include "control/WrapperInterface.h"
#include "display/DisplayWindow.h"

namespace controltest {

// One fired event, its arguments flattened: numbers as doubles (array elements too), texts.
struct SEvent {
    int32_t dispid = 0;
    std::vector<double> numbers;
    std::string text;
    uint16_t elementType = 0; // of an array
};

class CTestWindow : public pxcontrol::CWrapperInterface, private display::DisplayWindow {
public:
    CTestWindow(int32_t width, int32_t height);
    ~CTestWindow() override;

    void Attach(pxcontrol::CPellixControl* control) { m_pControl = control; }
    // Hands queued messages to the control until pred holds; woken by every delivery, send
    // attempt, event and invalidation. False when it still does not hold after timeoutMs.
    bool PumpUntil(const std::function<bool()>& pred, uint32_t timeoutMs = 10000);
    // Sends are answered (handed over by the pump) or left to time out.
    void RefuseSends(bool refuse);
    // The window goes: every waiting and later send returns at once.
    void Close();

    std::vector<SEvent> Events() const;
    size_t CountEvents(int32_t dispid) const;
    std::vector<std::string> Boxes() const;
    uint32_t SendAttempts() const;
    uint32_t Invalidations() const;
    std::vector<std::pair<uint32_t, uint32_t>> Timers() const; // (id, period) of every SetTimer
    std::vector<uint32_t> KilledTimers() const;
    // While an image event runs, what the control answers for the data pointers.
    std::vector<uint64_t> PointersDuringImageEvents() const;

    // Paints the control into a fresh white surface of the window's size; BGRX pixels.
    std::vector<uint8_t> Paint();

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
    uint32_t TrackMenu(const PXMenuItem*, uint32_t, int32_t, int32_t) override { return 0; }
    bool SaveFileDialog(const char* const*, uint32_t, const char*, const char*, const char*, char*, uint32_t,
                        uint32_t*) override
    {
        return false;
    }
    bool TextDialog(const char*, const char*, char*, uint32_t) override { return false; }
    bool SetClipboardBitmap(const PXSurface&) override { return false; }
    void ScreenOrigin(int32_t* x, int32_t* y) override { *x = *y = 0; }

private:
    struct SMessage {
        uint32_t msg;
        uintptr_t wParam;
        intptr_t lParam;
        uint64_t ticket; // 0 for a posted message
    };
    bool AcquirePixels(display::WindowPixels* out) override;
    void ReleasePixels(const display::WindowPixels&) override {}
    void Record(SEvent event);
    // Under m_lock: something a pump may wait for happened.
    void Changed();

    const int32_t m_width, m_height;
    std::vector<uint8_t> m_windowPixels;
    pxcontrol::CPellixControl* m_pControl = nullptr;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<SMessage> m_queue;
    uint64_t m_nextTicket = 1, m_doneTicket = 0, m_changes = 0;
    bool m_bRefuseSends = false, m_bClosed = false;
    uint32_t m_dwSendAttempts = 0, m_dwInvalidations = 0;
    std::vector<SEvent> m_events;
    std::vector<std::string> m_boxes;
    std::vector<std::pair<uint32_t, uint32_t>> m_timers;
    std::vector<uint32_t> m_killed;
    std::vector<uint64_t> m_pointersInEvents;
};

} // namespace controltest
