// The tagged values of the control's C interface (PXVariant): freeing what a call handed out,
// making values, and taking an argument as the type a member wants, as an automation dispatcher
// would: any number that fits, a boolean as 0 or -1, a text only where a text is wanted.
#pragma once

#include <cstdint>

#include "control/ControlTypes.h"
#include "pellix/pellix_control.h"

namespace pxcontrol {

// Frees the text or the array (and everything in it) a variant owns; leaves it empty.
void VariantClear(PXVariant* v);

PXVariant VariantOfI2(int16_t value);
PXVariant VariantOfUI2(uint16_t value);
PXVariant VariantOfI4(int32_t value);
PXVariant VariantOfUI4(uint32_t value);
PXVariant VariantOfUI8(uint64_t value);
PXVariant VariantOfR4(float value);
PXVariant VariantOfR8(double value);
// Takes the malloc'd text.
PXVariant VariantOfText(BSTR text);

// S_OK, DISP_E_TYPEMISMATCH (a text, an array, an empty or unknown variant) or DISP_E_OVERFLOW.
// A 16-bit place takes -32768 to 65535 and a 32-bit one -2^31 to 2^32 - 1, keeping the bits,
// so that either signedness arrives (a colour 0xFFFFFFFF is -1 to many hosts); reals round to
// the nearest whole number, halves to even.
HRESULT VariantToI16(const PXVariant& v, int16_t* out);
HRESULT VariantToU16(const PXVariant& v, uint16_t* out);
HRESULT VariantToI32(const PXVariant& v, int32_t* out);
HRESULT VariantToU32(const PXVariant& v, uint32_t* out);
HRESULT VariantToFloat(const PXVariant& v, float* out);
// A text (a null text reads as ""); DISP_E_TYPEMISMATCH for anything else.
HRESULT VariantToText(const PXVariant& v, const char** out);

} // namespace pxcontrol
