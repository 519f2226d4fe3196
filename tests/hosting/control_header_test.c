/* The control's C header on its own, as C99: it compiles with nothing else included, and the
 * layout that hosts in other languages mirror (ctypes, the Qt widget) holds. */
#include <pellix/pellix_control.h>

#include <stddef.h>
#include <stdio.h>

static int failures;

static void check(int ok, const char* what)
{
    if (!ok) {
        failures++;
        printf("FAILED: %s\n", what);
    }
}

int main(void)
{
    PXControlHost host;
    PXVariant v;
    /* The functions take the arguments hosts pass (checked unevaluated: nothing is linked). */
    (void)sizeof(PXControlCreate(&host));
    (void)sizeof(PXControlInvoke((PXControl*)0, PXDISPID_Start, PX_INVOKE_METHOD, &v, 0, &v));
    (void)sizeof(PXControlWindowMessage((PXControl*)0, PX_WM_TIMER, PX_FPS_TIMER_ID, 0));

    /* The variant: a 16-bit type and three reserved words, then the value at byte 8. */
    check(offsetof(PXVariant, vt) == 0 && offsetof(PXVariant, v) == 8, "variant value at byte 8");
    check(sizeof v.v == (sizeof(void*) == 8 ? 16 : 8), "variant value holds a pointer and a count");
    check(offsetof(PXVariant, v.array.count) == 8 + sizeof(void*), "array count after its items");
    check(sizeof(PXSurface) == sizeof(void*) + 12 + (sizeof(void*) == 8 ? 4 : 0), "surface");
    check(sizeof(PXRect) == 16, "rectangle");

    /* The host table: size, data, then the slots in their order, each a pointer. */
    check(offsetof(PXControlHost, data) == sizeof(void*), "host data after the size");
    check(offsetof(PXControlHost, getClientRect) - offsetof(PXControlHost, getWindowSurface) == sizeof(void*),
          "slot 1 after slot 0");
    check(offsetof(PXControlHost, deliverMessage) - offsetof(PXControlHost, getWindowSurface) == 7 * sizeof(void*),
          "deliverMessage is slot 7");
    check(offsetof(PXControlHost, fireEvent) - offsetof(PXControlHost, getWindowSurface) == 9 * sizeof(void*),
          "fireEvent is slot 9");
    check(sizeof host == offsetof(PXControlHost, screenOrigin) + sizeof(void*), "screenOrigin ends the table");

    /* Mouse positions pack as signed 16-bit client coordinates. */
    check(PX_MOUSE_LPARAM(10, 20) == (intptr_t)0x0014000A, "mouse position");
    check(PX_MOUSE_LPARAM(-1, 2) == (intptr_t)0x0002FFFF, "negative x stays in the low word");
    check(PX_WM_REGISTERED_FIRST > PX_WM_MBUTTONUP, "registered messages above the fixed ones");

    /* Failure results are negative, successes are not. */
    check(PX_E_NOTIMPL < 0 && PX_E_POINTER < 0 && PX_E_OUTOFMEMORY < 0 && PX_DISP_E_MEMBERNOTFOUND < 0 &&
              PX_DISP_E_TYPEMISMATCH < 0 && PX_DISP_E_BADPARAMCOUNT < 0,
          "failures are negative");
    check(PX_S_OK == 0 && PX_S_FALSE == 1, "successes");
    check((PX_VT_ARRAY | PX_VT_VARIANT) == 8204u, "array of variants");

    /* Properties that are one value under two names keep both DISPIDs. */
    check(PXDISPID_width == 34 && PXDISPID_BufferSizeX == 25, "width and BufferSizeX");
    check(PXEVENT_OnError == 11 && PXEVENT_OnTextReceived == 1, "event range");
    return failures;
}
