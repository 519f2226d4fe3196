// The value of a SOAP call: empty, a 32-bit integer or a text, as the camera's store answers.
// Integer types of every width arrive as a 32-bit integer (unsigned ones keep their bits), so
// that a camera's -1 and 0xFFFFFFFF read alike.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

// The variant types the parts of an operation name, in the numbering of the component model the
// camera's WSDL was written for. VT_VARIANT accepts any value and keeps its own type.
enum : uint16_t {
    VT_EMPTY = 0,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
};

struct SoapValue {
    enum class Kind { Empty, Integer, Text };

    Kind kind = Kind::Empty;
    int32_t lInteger = 0;
    std::string strText;

    static SoapValue Integer(int32_t v)
    {
        SoapValue s;
        s.kind = Kind::Integer;
        s.lInteger = v;
        return s;
    }
    static SoapValue Text(std::string t)
    {
        SoapValue s;
        s.kind = Kind::Text;
        s.strText = std::move(t);
        return s;
    }
    bool IsEmpty() const { return kind == Kind::Empty; }
    // An integer as "%d", a text as it is, empty as "".
    std::string ToText() const;
    // An integer as it is; a text that is a whole decimal number (optionally signed, blanks
    // around it allowed) within 32 bits; false for anything else.
    bool ToInteger(int32_t* out) const;
};

// The value converted to a part's variant type; false when it cannot be (a text that is no
// number for an integer part, a number out of the part's range).
bool SoapConvert(const SoapValue& in, uint16_t vtType, SoapValue* out);
