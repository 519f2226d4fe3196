// The plain values the control shares with its hosts: call results, window messages, its event
// numbers. Values are those of the platform the control was designed on, so that a host that
// knows them from there finds them unchanged.
#pragma once

#include <cstdint>

namespace pxcontrol {

using HRESULT = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000A);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000E);

// Texts handed out by the dispatch members: UTF-8, allocated with malloc, freed by the receiver.
using BSTR = char*;

enum : uint32_t {
    WM_CREATE = 0x0001,
    WM_DESTROY = 0x0002,
    WM_SIZE = 0x0005,
    WM_PAINT = 0x000F,
    WM_ERASEBKGND = 0x0014,
    WM_TIMER = 0x0113,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_MBUTTONDOWN = 0x0207,
    WM_MBUTTONUP = 0x0208,
};
// Key state in wParam of the mouse messages.
enum : uint32_t { MK_SHIFT = 0x0004, MK_CONTROL = 0x0008 };

// The frame-rate timer.
constexpr uint32_t kFrameRateTimerId = 123;

// Event numbers.
enum : int32_t {
    DISPID_OnTextReceived = 1,
    DISPID_OnListUpdate = 2,
    DISPID_OnMouseDown = 3,
    DISPID_OnMouseUp = 4,
    DISPID_OnMouseMove = 5,
    DISPID_OnArrayReceived = 6,
    DISPID_OnHistogramReceived = 7,
    DISPID_OnImageReceived = 8,
    DISPID_OnDataReceive = 9,
    DISPID_OnScaleChange = 10,
    DISPID_OnError = 11,
};

// The control's two registered messages, "VISTELACTIVEXBUFFERLISTCALLBACKMSG" and
// "VISTELACTIVEXDATACALLBACKMSG": the numbers a window system hands out first to registered
// names, in the order the control registers them, the same for every control of the process.
constexpr uint32_t kBufferListMessage = 0xC000;
constexpr uint32_t kDataMessage = 0xC001;

} // namespace pxcontrol
