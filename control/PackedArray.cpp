#include "control/PackedArray.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "control/ControlText.h"
#include "control/Variant.h"

namespace pxcontrol {

namespace {

constexpr size_t kHeader = 8;

uint32_t ReadWord(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

void WriteWord(uint8_t* p, uint32_t w)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(w >> (8 * i));
}

} // namespace

uint32_t PackedElementSize(uint32_t vt)
{
    switch (vt & ~uint32_t{PX_VT_ARRAY}) {
    case PX_VT_I1:
    case PX_VT_UI1: return 1;
    case PX_VT_I2:
    case PX_VT_UI2: return 2;
    case PX_VT_I4:
    case PX_VT_UI4:
    case PX_VT_INT:
    case PX_VT_UINT:
    case PX_VT_R4: return 4;
    case PX_VT_R8: return 8;
    default: return 0;
    }
}

HRESULT UnpackArray(const uint8_t* data, size_t size, PXVariant* out)
{
    *out = PXVariant{};
    if (data == nullptr || size < kHeader)
        return S_OK;
    const uint32_t vt = ReadWord(data) & ~uint32_t{PX_VT_ARRAY};
    const uint32_t count = ReadWord(data + 4);
    const uint8_t* elements = data + kHeader;
    const size_t room = size - kHeader;
    if (vt & 8) {
        BSTR text = Utf16ToUtf8(elements, count < room / 2 ? count : room / 2);
        if (text == nullptr)
            return E_OUTOFMEMORY;
        *out = VariantOfText(text);
        return S_OK;
    }
    const uint32_t width = PackedElementSize(vt);
    if (width == 0)
        return S_OK;
    const uint32_t n = count < room / width ? count : static_cast<uint32_t>(room / width);
    PXVariant* items = static_cast<PXVariant*>(calloc(n ? n : 1, sizeof(PXVariant)));
    if (items == nullptr)
        return E_OUTOFMEMORY;
    for (uint32_t i = 0; i < n; ++i) {
        items[i].vt = static_cast<uint16_t>(vt);
        memcpy(&items[i].v, elements + static_cast<size_t>(i) * width, width);
    }
    out->vt = PX_VT_ARRAY | PX_VT_VARIANT;
    out->v.array.items = items;
    out->v.array.count = n;
    return S_OK;
}

bool PackArray(const PXVariant& varray, std::vector<uint8_t>* bytes)
{
    if (varray.vt != (PX_VT_ARRAY | PX_VT_VARIANT) || (varray.v.array.items == nullptr && varray.v.array.count != 0))
        return false;
    const uint32_t count = varray.v.array.count;
    const uint16_t vt = count > 0 ? varray.v.array.items[0].vt : 0;
    const uint32_t width = PackedElementSize(vt);
    if (count == 0 || width == 0)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (varray.v.array.items[i].vt != vt)
            return false;
    }
    std::vector<uint8_t> packed;
    try {
        packed.assign(kHeader + static_cast<size_t>(count) * width, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    WriteWord(packed.data(), vt);
    WriteWord(packed.data() + 4, count);
    for (uint32_t i = 0; i < count; ++i)
        memcpy(packed.data() + kHeader + static_cast<size_t>(i) * width, &varray.v.array.items[i].v, width);
    bytes->swap(packed);
    return true;
}

} // namespace pxcontrol
