// The plain values the control shares with its hosts, under the names its code uses: call results
// and window messages. The values are those of pellix/pellix_control.h.
#pragma once

#include <cstdint>

#include "pellix/pellix_control.h"

namespace pxcontrol {

using HRESULT = int32_t;

constexpr HRESULT S_OK = PX_S_OK;
constexpr HRESULT S_FALSE = PX_S_FALSE;
constexpr HRESULT E_NOTIMPL = PX_E_NOTIMPL;
constexpr HRESULT E_POINTER = PX_E_POINTER;
constexpr HRESULT E_OUTOFMEMORY = PX_E_OUTOFMEMORY;
constexpr HRESULT DISP_E_MEMBERNOTFOUND = PX_DISP_E_MEMBERNOTFOUND;
constexpr HRESULT DISP_E_TYPEMISMATCH = PX_DISP_E_TYPEMISMATCH;
constexpr HRESULT DISP_E_BADPARAMCOUNT = PX_DISP_E_BADPARAMCOUNT;

// Texts handed out by the dispatch members: UTF-8, allocated with malloc, freed by the receiver.
using BSTR = char*;

enum : uint32_t {
    WM_CREATE = PX_WM_CREATE,
    WM_DESTROY = PX_WM_DESTROY,
    WM_SIZE = PX_WM_SIZE,
    WM_PAINT = PX_WM_PAINT,
    WM_ERASEBKGND = PX_WM_ERASEBKGND,
    WM_TIMER = PX_WM_TIMER,
    WM_MOUSEMOVE = PX_WM_MOUSEMOVE,
    WM_LBUTTONDOWN = PX_WM_LBUTTONDOWN,
    WM_LBUTTONUP = PX_WM_LBUTTONUP,
    WM_RBUTTONDOWN = PX_WM_RBUTTONDOWN,
    WM_RBUTTONUP = PX_WM_RBUTTONUP,
    WM_MBUTTONDOWN = PX_WM_MBUTTONDOWN,
    WM_MBUTTONUP = PX_WM_MBUTTONUP,
};
// Key state in wParam of the mouse messages.
enum : uint32_t { MK_SHIFT = PX_MK_SHIFT, MK_CONTROL = PX_MK_CONTROL };

// The frame-rate timer.
constexpr uint32_t kFrameRateTimerId = PX_FPS_TIMER_ID;

// The control's two registered messages, "VISTELACTIVEXBUFFERLISTCALLBACKMSG" and
// "VISTELACTIVEXDATACALLBACKMSG": the numbers a window system hands out first to registered
// names, in the order the control registers them, the same for every control of the process.
constexpr uint32_t kBufferListMessage = PX_WM_REGISTERED_FIRST;
constexpr uint32_t kDataMessage = PX_WM_REGISTERED_FIRST + 1;

} // namespace pxcontrol
