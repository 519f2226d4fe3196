#include "hosting/HostValue.h"

#include <cstdio>

namespace pxhost {

namespace {

bool IsSignedInteger(uint16_t vt)
{
    return vt == PX_VT_I1 || vt == PX_VT_I2 || vt == PX_VT_I4 || vt == PX_VT_I8 || vt == PX_VT_INT ||
           vt == PX_VT_BOOL;
}

bool IsUnsignedInteger(uint16_t vt)
{
    return vt == PX_VT_UI1 || vt == PX_VT_UI2 || vt == PX_VT_UI4 || vt == PX_VT_UI8 || vt == PX_VT_UINT;
}

const char* TypeName(uint16_t vt)
{
    switch (vt) {
    case PX_VT_EMPTY: return "EMPTY";
    case PX_VT_I1: return "I1";
    case PX_VT_I2: return "I2";
    case PX_VT_I4: return "I4";
    case PX_VT_I8: return "I8";
    case PX_VT_INT: return "INT";
    case PX_VT_BOOL: return "BOOL";
    case PX_VT_UI1: return "UI1";
    case PX_VT_UI2: return "UI2";
    case PX_VT_UI4: return "UI4";
    case PX_VT_UI8: return "UI8";
    case PX_VT_UINT: return "UINT";
    case PX_VT_R4: return "R4";
    case PX_VT_R8: return "R8";
    case PX_VT_BSTR: return "BSTR";
    case PX_VT_ARRAY | PX_VT_VARIANT: return "ARRAY";
    default: return "?";
    }
}

} // namespace

HostValue HostValue::Of(uint16_t vt, int64_t integer)
{
    HostValue h;
    h.vt = vt;
    h.llVal = integer;
    h.ullVal = static_cast<uint64_t>(integer);
    return h;
}

HostValue HostValue::I2(int16_t v) { return Of(PX_VT_I2, v); }
HostValue HostValue::I4(int32_t v) { return Of(PX_VT_I4, v); }
HostValue HostValue::UI4(uint32_t v) { return Of(PX_VT_UI4, v); }
HostValue HostValue::Bool(bool v) { return Of(PX_VT_BOOL, v ? -1 : 0); }

HostValue HostValue::UI8(uint64_t v)
{
    HostValue h;
    h.vt = PX_VT_UI8;
    h.ullVal = v;
    h.llVal = static_cast<int64_t>(v);
    return h;
}

HostValue HostValue::R4(float v)
{
    HostValue h;
    h.vt = PX_VT_R4;
    h.dblVal = v;
    return h;
}

HostValue HostValue::R8(double v)
{
    HostValue h;
    h.vt = PX_VT_R8;
    h.dblVal = v;
    return h;
}

HostValue HostValue::Text(std::string text)
{
    HostValue h;
    h.vt = PX_VT_BSTR;
    h.strText = std::move(text);
    return h;
}

HostValue HostValue::Array(std::vector<HostValue> items)
{
    HostValue h;
    h.vt = PX_VT_ARRAY | PX_VT_VARIANT;
    h.items = std::move(items);
    return h;
}

HostValue HostValue::From(const PXVariant& v)
{
    switch (v.vt) {
    case PX_VT_I1: return Of(v.vt, v.v.cVal);
    case PX_VT_I2: return Of(v.vt, v.v.iVal);
    case PX_VT_I4: case PX_VT_INT: return Of(v.vt, v.v.lVal);
    case PX_VT_I8: return Of(v.vt, v.v.llVal);
    case PX_VT_BOOL: return Of(v.vt, v.v.boolVal);
    case PX_VT_UI1: return Of(v.vt, v.v.bVal);
    case PX_VT_UI2: return Of(v.vt, v.v.uiVal);
    case PX_VT_UI4: case PX_VT_UINT: return Of(v.vt, v.v.ulVal);
    case PX_VT_UI8: return UI8(v.v.ullVal);
    case PX_VT_R4: return R4(v.v.fltVal);
    case PX_VT_R8: return R8(v.v.dblVal);
    case PX_VT_BSTR: {
        HostValue h = Text(v.v.str != nullptr ? v.v.str : "");
        return h;
    }
    case PX_VT_ARRAY | PX_VT_VARIANT: {
        std::vector<HostValue> items;
        items.reserve(v.v.array.count);
        for (uint32_t i = 0; v.v.array.items != nullptr && i < v.v.array.count; ++i)
            items.push_back(From(v.v.array.items[i]));
        return Array(std::move(items));
    }
    default: {
        HostValue h;
        h.vt = v.vt;   // kept so that a test sees a type the interface does not know
        return h;
    }
    }
}

int64_t HostValue::Int() const
{
    if (IsSignedInteger(vt) || IsUnsignedInteger(vt))
        return llVal;
    if (vt == PX_VT_R4 || vt == PX_VT_R8)
        return static_cast<int64_t>(dblVal);
    return 0;
}

double HostValue::Real() const
{
    if (vt == PX_VT_R4 || vt == PX_VT_R8)
        return dblVal;
    if (IsUnsignedInteger(vt))
        return static_cast<double>(ullVal);
    return static_cast<double>(Int());
}

std::string HostValue::Describe() const
{
    std::string out = TypeName(vt);
    char number[64];
    if (IsText()) {
        out += " \"" + strText + "\"";
    } else if (IsArray()) {
        out += "[";
        for (size_t i = 0; i < items.size(); ++i)
            out += (i > 0 ? ", " : "") + items[i].Describe();
        out += "]";
    } else if (vt == PX_VT_R4 || vt == PX_VT_R8) {
        snprintf(number, sizeof number, " %g", dblVal);
        out += number;
    } else if (IsUnsignedInteger(vt)) {
        snprintf(number, sizeof number, " %llu", static_cast<unsigned long long>(ullVal));
        out += number;
    } else if (!IsEmpty()) {
        snprintf(number, sizeof number, " %lld", static_cast<long long>(llVal));
        out += number;
    }
    return out;
}

bool operator==(const HostValue& a, const HostValue& b)
{
    return a.vt == b.vt && a.llVal == b.llVal && a.ullVal == b.ullVal && a.dblVal == b.dblVal &&
           a.strText == b.strText && a.items == b.items;
}

CArgList::CArgList(std::vector<HostValue> values) : m_values(std::move(values))
{
    m_variants.reserve(m_values.size());
    for (const HostValue& value : m_values)
        m_variants.push_back(Build(value));
}

PXVariant CArgList::Build(const HostValue& value)
{
    PXVariant v{};
    v.vt = value.vt;
    switch (value.vt) {
    case PX_VT_I1: v.v.cVal = static_cast<int8_t>(value.llVal); break;
    case PX_VT_I2: v.v.iVal = static_cast<int16_t>(value.llVal); break;
    case PX_VT_I4: case PX_VT_INT: v.v.lVal = static_cast<int32_t>(value.llVal); break;
    case PX_VT_I8: v.v.llVal = value.llVal; break;
    case PX_VT_BOOL: v.v.boolVal = static_cast<int16_t>(value.llVal); break;
    case PX_VT_UI1: v.v.bVal = static_cast<uint8_t>(value.ullVal); break;
    case PX_VT_UI2: v.v.uiVal = static_cast<uint16_t>(value.ullVal); break;
    case PX_VT_UI4: case PX_VT_UINT: v.v.ulVal = static_cast<uint32_t>(value.ullVal); break;
    case PX_VT_UI8: v.v.ullVal = value.ullVal; break;
    case PX_VT_R4: v.v.fltVal = static_cast<float>(value.dblVal); break;
    case PX_VT_R8: v.v.dblVal = value.dblVal; break;
    case PX_VT_BSTR: v.v.str = value.strText.c_str(); break;
    case PX_VT_ARRAY | PX_VT_VARIANT: {
        std::vector<PXVariant> items;
        items.reserve(value.items.size());
        for (const HostValue& item : value.items)
            items.push_back(Build(item));
        m_arrays.push_back(std::move(items));
        v.v.array.items = m_arrays.back().data();
        v.v.array.count = static_cast<uint32_t>(m_arrays.back().size());
        break;
    }
    default: break;
    }
    return v;
}

} // namespace pxhost
