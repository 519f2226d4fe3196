// Values of the control's C interface held by the host: a PXVariant copied out of a call or an
// event into memory the host owns, and argument lists built for PXControlInvoke.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pellix/pellix_control.h"

namespace pxhost {

// One PXVariant, deep-copied: numbers in the field of their kind, a text in strText, an array's
// items in items. vt is the variant's type code as it came.
struct HostValue {
    uint16_t vt = PX_VT_EMPTY;
    int64_t llVal = 0;     // every signed integer type and BOOL
    uint64_t ullVal = 0;   // every unsigned integer type (also set for the signed ones, as bits)
    double dblVal = 0.0;   // R4 and R8
    std::string strText;   // BSTR
    std::vector<HostValue> items;

    static HostValue I2(int16_t v);
    static HostValue I4(int32_t v);
    static HostValue UI4(uint32_t v);
    static HostValue UI8(uint64_t v);
    static HostValue R4(float v);
    static HostValue R8(double v);
    static HostValue Bool(bool v);
    static HostValue Text(std::string text);
    static HostValue Array(std::vector<HostValue> items);   // PX_VT_ARRAY | PX_VT_VARIANT
    static HostValue Of(uint16_t vt, int64_t integer);       // any integer type code

    // Copies a variant the control handed out or passed to an event.
    static HostValue From(const PXVariant& v);

    bool IsEmpty() const { return vt == PX_VT_EMPTY; }
    bool IsText() const { return vt == PX_VT_BSTR; }
    bool IsArray() const { return vt == (PX_VT_ARRAY | PX_VT_VARIANT); }
    // The value as a number of any integer or floating type (0 for texts, arrays and EMPTY).
    int64_t Int() const;
    double Real() const;
    // "I4 7", "BSTR \"x\"", "ARRAY[I2 1, I2 2]": for test messages.
    std::string Describe() const;
};

bool operator==(const HostValue& a, const HostValue& b);

// An argument list for PXControlInvoke built from host values; the PXVariants point into the
// list's own storage, so it must outlive the call.
class CArgList {
public:
    CArgList() = default;
    explicit CArgList(std::vector<HostValue> values);
    CArgList(const CArgList&) = delete;
    CArgList& operator=(const CArgList&) = delete;

    const PXVariant* Data() const { return m_variants.empty() ? nullptr : m_variants.data(); }
    uint32_t Count() const { return static_cast<uint32_t>(m_variants.size()); }

private:
    PXVariant Build(const HostValue& value);

    std::vector<HostValue> m_values;                 // owns the texts
    std::vector<std::vector<PXVariant>> m_arrays;    // owns the items of arrays, stable addresses
    std::vector<PXVariant> m_variants;
};

} // namespace pxhost
