// The tagged values of the control's C interface (PXVariant): freeing what a call handed out,
// making values, and taking an argument as the type a member wants: an integer place takes any
// integer type code (BOOL included) and keeps the value's low bits, a real place also takes R4
// and R8, a text place only a BSTR.
#pragma once

#include <cstdint>

#include "control/ControlTypes.h"
#include "pellix/pellix_control.h"

namespace pxcontrol {

// Frees the text or the array (and everything in it) a variant owns; leaves it empty.
void VariantClear(PXVariant* v);

PXVariant VariantOfI2(int16_t value);
PXVariant VariantOfI4(int32_t value);
PXVariant VariantOfUI4(uint32_t value);
PXVariant VariantOfUI8(uint64_t value);
PXVariant VariantOfR4(float value);
// Takes the malloc'd text.
PXVariant VariantOfText(BSTR text);

// S_OK, or DISP_E_TYPEMISMATCH for a variant of another kind.
HRESULT VariantToI16(const PXVariant& v, int16_t* out);
HRESULT VariantToU16(const PXVariant& v, uint16_t* out);
HRESULT VariantToI32(const PXVariant& v, int32_t* out);
HRESULT VariantToU32(const PXVariant& v, uint32_t* out);
HRESULT VariantToFloat(const PXVariant& v, float* out);
// A text (a null text reads as "").
HRESULT VariantToText(const PXVariant& v, const char** out);

} // namespace pxcontrol
