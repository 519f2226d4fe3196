#include "control/Variant.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace pxcontrol {

void VariantClear(PXVariant* v)
{
    if (v == nullptr)
        return;
    if (v->vt == PXVT_BSTR) {
        free(const_cast<char*>(v->v.str));
    } else if (v->vt & PXVT_ARRAY) {
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

// The value of a numeric variant as a double and, exactly, as a 64-bit integer where it is one.
bool NumberOf(const PXVariant& v, double* real, bool* integral, int64_t* whole)
{
    *integral = true;
    switch (v.vt) {
    case PXVT_I1: *whole = v.v.cVal; break;
    case PXVT_UI1: *whole = v.v.bVal; break;
    case PXVT_I2: *whole = v.v.iVal; break;
    case PXVT_UI2: *whole = v.v.uiVal; break;
    case PXVT_I4:
    case PXVT_INT: *whole = v.v.lVal; break;
    case PXVT_UI4:
    case PXVT_UINT: *whole = v.v.ulVal; break;
    case PXVT_I8: *whole = v.v.llVal; break;
    case PXVT_UI8:
        if (v.v.ullVal > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            *integral = false;
            *real = static_cast<double>(v.v.ullVal);
            return true;
        }
        *whole = static_cast<int64_t>(v.v.ullVal);
        break;
    case PXVT_BOOL: *whole = v.v.boolVal != 0 ? -1 : 0; break;
    case PXVT_R4: *integral = false, *real = v.v.fltVal; return true;
    case PXVT_R8: *integral = false, *real = v.v.dblVal; return true;
    default: return false;
    }
    *real = static_cast<double>(*whole);
    return true;
}

// Whole numbers within [lo, hi]; reals are rounded to the nearest, halves to even, as automation
// converts them. The result keeps the value's low bits, so a place of either signedness takes
// the values of both (a colour 0xFFFFFFFF arrives as -1 from many hosts).
template <class T>
HRESULT ToInteger(const PXVariant& v, int64_t lo, int64_t hi, T* out)
{
    double real = 0;
    bool integral = false;
    int64_t whole = 0;
    if (!NumberOf(v, &real, &integral, &whole))
        return DISP_E_TYPEMISMATCH;
    if (!integral) {
        if (!std::isfinite(real))
            return DISP_E_OVERFLOW;
        real = std::nearbyint(real);
        if (real < static_cast<double>(lo) || real > static_cast<double>(hi))
            return DISP_E_OVERFLOW;
        whole = static_cast<int64_t>(real);
    }
    if (whole < lo || whole > hi)
        return DISP_E_OVERFLOW;
    *out = static_cast<T>(whole);
    return S_OK;
}

constexpr int64_t kMin16 = INT16_MIN, kMax16 = UINT16_MAX;
constexpr int64_t kMin32 = INT32_MIN, kMax32 = UINT32_MAX;

} // namespace

PXVariant VariantOfI2(int16_t value)
{
    PXVariant v = Make(PXVT_I2);
    v.v.iVal = value;
    return v;
}
PXVariant VariantOfUI2(uint16_t value)
{
    PXVariant v = Make(PXVT_UI2);
    v.v.uiVal = value;
    return v;
}
PXVariant VariantOfI4(int32_t value)
{
    PXVariant v = Make(PXVT_I4);
    v.v.lVal = value;
    return v;
}
PXVariant VariantOfUI4(uint32_t value)
{
    PXVariant v = Make(PXVT_UI4);
    v.v.ulVal = value;
    return v;
}
PXVariant VariantOfUI8(uint64_t value)
{
    PXVariant v = Make(PXVT_UI8);
    v.v.ullVal = value;
    return v;
}
PXVariant VariantOfR4(float value)
{
    PXVariant v = Make(PXVT_R4);
    v.v.fltVal = value;
    return v;
}
PXVariant VariantOfR8(double value)
{
    PXVariant v = Make(PXVT_R8);
    v.v.dblVal = value;
    return v;
}
PXVariant VariantOfText(BSTR text)
{
    PXVariant v = Make(PXVT_BSTR);
    v.v.str = text;
    return v;
}

HRESULT VariantToI16(const PXVariant& v, int16_t* out) { return ToInteger(v, kMin16, kMax16, out); }
HRESULT VariantToU16(const PXVariant& v, uint16_t* out) { return ToInteger(v, kMin16, kMax16, out); }
HRESULT VariantToI32(const PXVariant& v, int32_t* out) { return ToInteger(v, kMin32, kMax32, out); }
HRESULT VariantToU32(const PXVariant& v, uint32_t* out) { return ToInteger(v, kMin32, kMax32, out); }

HRESULT VariantToFloat(const PXVariant& v, float* out)
{
    double real = 0;
    bool integral = false;
    int64_t whole = 0;
    if (!NumberOf(v, &real, &integral, &whole))
        return DISP_E_TYPEMISMATCH;
    if (std::isfinite(real) && std::fabs(real) > std::numeric_limits<float>::max())
        return DISP_E_OVERFLOW;
    *out = static_cast<float>(real);
    return S_OK;
}

HRESULT VariantToText(const PXVariant& v, const char** out)
{
    if (v.vt != PXVT_BSTR)
        return DISP_E_TYPEMISMATCH;
    *out = v.v.str != nullptr ? v.v.str : "";
    return S_OK;
}

} // namespace pxcontrol
