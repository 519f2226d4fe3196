#include "update/SoapValue.h"

#include <cctype>
#include <cstdlib>

std::string SoapValue::ToText() const
{
    switch (kind) {
    case Kind::Integer:
        return std::to_string(lInteger);
    case Kind::Text:
        return strText;
    case Kind::Empty:
        break;
    }
    return {};
}

bool SoapValue::ToInteger(int32_t* out) const
{
    if (kind == Kind::Integer) {
        *out = lInteger;
        return true;
    }
    if (kind != Kind::Text)
        return false;
    const char* s = strText.c_str();
    while (std::isspace(static_cast<unsigned char>(*s)))
        ++s;
    const char* digits = (*s == '-' || *s == '+') ? s + 1 : s;
    if (!std::isdigit(static_cast<unsigned char>(*digits)) || strText.size() > 64)
        return false;
    char* end = nullptr;
    const long long v = std::strtoll(s, &end, 10);
    while (std::isspace(static_cast<unsigned char>(*end)))
        ++end;
    // Unsigned 32-bit values keep their bits, as the camera's store knows no sign.
    if (*end != '\0' || end != strText.c_str() + strText.size() || v < INT32_MIN || v > UINT32_MAX)
        return false;
    *out = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
}

bool SoapConvert(const SoapValue& in, uint16_t vtType, SoapValue* out)
{
    int32_t v = 0;
    switch (vtType) {
    case VT_VARIANT:
        *out = in;
        return true;
    case VT_BSTR:
        *out = SoapValue::Text(in.ToText());
        return true;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_BOOL:
        break;
    default:
        return false;
    }
    if (!in.ToInteger(&v))
        return false;
    const bool fits = (vtType == VT_I1 && v >= -128 && v <= 127) || (vtType == VT_I2 && v >= -32768 && v <= 32767) ||
                      (vtType == VT_UI1 && v >= 0 && v <= 255) || (vtType == VT_UI2 && v >= 0 && v <= 65535) ||
                      vtType == VT_I4 || vtType == VT_UI4 || vtType == VT_BOOL;
    if (!fits)
        return false;
    *out = SoapValue::Integer(vtType == VT_BOOL ? (v != 0 ? 1 : 0) : v);
    return true;
}
