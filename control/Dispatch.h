// The control's dispatch interface: every member by DISPID and name, reached with variant
// arguments, as the C interface and the persistence of the host object reach them.
#pragma once

#include <cstdint>

#include "control/ControlTypes.h"
#include "pellix/pellix_control.h"

namespace pxcontrol {

class CPellixControl;

// The DISPID of a member's name (exact case), -1 when there is none.
int32_t DispIdOfName(const char* name);
// The name of a member, null for an unknown DISPID.
const char* NameOfDispId(int32_t dispid);

// Calls member dispid as PXControlInvoke does (pellix_control.h): args are the member's arguments
// in their order, without the value it answers, which goes to result (set empty first; null is
// the getter's null out-pointer). A method is called with PX_INVOKE_METHOD or _PROPERTYGET; a
// property is read with _PROPERTYGET (or _METHOD) and no argument, and written with
// _PROPERTYPUT and one. Answers the member's own result, or DISP_E_MEMBERNOTFOUND (unknown
// DISPID, or a kind the member does not have), DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH, or
// E_POINTER (arguments counted but missing).
HRESULT Invoke(CPellixControl& control, int32_t dispid, uint32_t kind, const PXVariant* args, uint32_t argc,
               PXVariant* result);

// The persisted properties, in the order they are saved and loaded (after _cx and _cy).
constexpr int32_t kPersistedProperties[] = {17, 18, 19, 20, 21, 22, 24, 25, 26, 27, 28, 30, 32,
                                            34, 35, 44, 45, 53, 54, 70, 71, 72, 74, 78, 79, 80};

} // namespace pxcontrol
