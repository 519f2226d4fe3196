// The packed array: how an array travels in an exchange buffer, in both directions. A 32-bit
// variant type code, a 32-bit element count, then the elements back to back, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "control/ControlTypes.h"
#include "pellix/pellix_control.h"

namespace pxcontrol {

// Bytes of one element of a variant type (the array flag removed): 1, 2, 4 or 8; 0 for a type a
// packed array cannot carry.
uint32_t PackedElementSize(uint32_t vt);

// The variant of a received packed array of size bytes: a type with bit 3 set gives its elements
// as a UTF-16 text (a BSTR); a type of known size an array of variants of that type; anything
// else an empty variant. Never reads beyond size bytes: a count the data cannot hold is cut to
// what is there. E_OUTOFMEMORY when memory is short.
HRESULT UnpackArray(const uint8_t* data, size_t size, PXVariant* out);

// Packs a one-dimensional array of variants whose elements all have the type of the first, of a
// type of known size. False, with bytes untouched, when it cannot be packed: another variant, no
// element, mixed or unknown types, or no memory.
bool PackArray(const PXVariant& varray, std::vector<uint8_t>* bytes);

} // namespace pxcontrol
