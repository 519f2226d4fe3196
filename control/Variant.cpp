#include "control/Variant.h"

#include <cstdlib>

namespace pxcontrol {

void VariantClear(PXVariant* v)
{
    if (v == nullptr)
        return;
    if (v->vt == PX_VT_BSTR) {
        free(const_cast<char*>(v->v.str));
    } else if (v->vt & PX_VT_ARRAY) {
        for (uint32_t i = 0; v->v.array.items != nullptr && i < v->v.array.count; ++i)
            VariantClear(&v->v.array.items[i]);
        free(v->v.array.items);
    }
    *v = PXVariant{};
}

namespace {

PXVariant Make(uint16_t vt)
{
    PXVariant v{};
    v.vt = vt;
    return v;
}

// The value of an integer variant (BOOL included), as its 64 bits.
bool IntegerOf(const PXVariant& v, uint64_t* out)
{
    switch (v.vt) {
    case PX_VT_I1: *out = static_cast<uint64_t>(int64_t{v.v.cVal}); return true;
    case PX_VT_UI1: *out = v.v.bVal; return true;
    case PX_VT_I2: *out = static_cast<uint64_t>(int64_t{v.v.iVal}); return true;
    case PX_VT_BOOL: *out = static_cast<uint64_t>(int64_t{v.v.boolVal}); return true;
    case PX_VT_UI2: *out = v.v.uiVal; return true;
    case PX_VT_I4:
    case PX_VT_INT: *out = static_cast<uint64_t>(int64_t{v.v.lVal}); return true;
    case PX_VT_UI4:
    case PX_VT_UINT: *out = v.v.ulVal; return true;
    case PX_VT_I8: *out = static_cast<uint64_t>(v.v.llVal); return true;
    case PX_VT_UI8: *out = v.v.ullVal; return true;
    default: return false;
    }
}

template <class T>
HRESULT ToInteger(const PXVariant& v, T* out)
{
    uint64_t bits = 0;
    if (!IntegerOf(v, &bits))
        return DISP_E_TYPEMISMATCH;
    *out = static_cast<T>(bits);
    return S_OK;
}

} // namespace

PXVariant VariantOfI2(int16_t value)
{
    PXVariant v = Make(PX_VT_I2);
    v.v.iVal = value;
    return v;
}
PXVariant VariantOfI4(int32_t value)
{
    PXVariant v = Make(PX_VT_I4);
    v.v.lVal = value;
    return v;
}
PXVariant VariantOfUI4(uint32_t value)
{
    PXVariant v = Make(PX_VT_UI4);
    v.v.ulVal = value;
    return v;
}
PXVariant VariantOfUI8(uint64_t value)
{
    PXVariant v = Make(PX_VT_UI8);
    v.v.ullVal = value;
    return v;
}
PXVariant VariantOfR4(float value)
{
    PXVariant v = Make(PX_VT_R4);
    v.v.fltVal = value;
    return v;
}
PXVariant VariantOfText(BSTR text)
{
    PXVariant v = Make(PX_VT_BSTR);
    v.v.str = text;
    return v;
}

HRESULT VariantToI16(const PXVariant& v, int16_t* out) { return ToInteger(v, out); }
HRESULT VariantToU16(const PXVariant& v, uint16_t* out) { return ToInteger(v, out); }
HRESULT VariantToI32(const PXVariant& v, int32_t* out) { return ToInteger(v, out); }
HRESULT VariantToU32(const PXVariant& v, uint32_t* out) { return ToInteger(v, out); }

HRESULT VariantToFloat(const PXVariant& v, float* out)
{
    uint64_t bits = 0;
    if (v.vt == PX_VT_R4) {
        *out = v.v.fltVal;
    } else if (v.vt == PX_VT_R8) {
        *out = static_cast<float>(v.v.dblVal);
    } else if (IntegerOf(v, &bits)) {
        const bool isUnsigned = v.vt == PX_VT_UI1 || v.vt == PX_VT_UI2 || v.vt == PX_VT_UI4 || v.vt == PX_VT_UINT ||
                                v.vt == PX_VT_UI8;
        *out = isUnsigned ? static_cast<float>(bits) : static_cast<float>(static_cast<int64_t>(bits));
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT VariantToText(const PXVariant& v, const char** out)
{
    if (v.vt != PX_VT_BSTR)
        return DISP_E_TYPEMISMATCH;
    *out = v.v.str != nullptr ? v.v.str : "";
    return S_OK;
}

} // namespace pxcontrol
