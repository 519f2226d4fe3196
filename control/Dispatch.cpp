// The member table of the dispatch interface. Each entry names its member, says whether it is a
// method or a property, how many arguments it takes, and how its arguments and its answer pass
// between variants and the member's C++ signature. Answers are those of pellix_control.h: 32-bit
// values as I4 (the bits of unsigned ones), the port as I4, 16-bit flags and the other 16-bit
// values as I2, the frame rate as R4, addresses as UI8, texts as BSTR. Without a place for the
// answer a member gets a null out-pointer, as a getter called that way would.
#include "control/Dispatch.h"

#include <cstring>

#include "control/PellixControl.h"
#include "control/Variant.h"

namespace pxcontrol {

namespace {

using C = CPellixControl;

// The arguments of one call, taken as the member wants them; the first failure is kept.
class CArgs {
public:
    explicit CArgs(const PXVariant* args) : m_args(args) {}
    uint32_t U4(uint32_t i) { return Take<uint32_t>(i, VariantToU32); }
    int32_t I4(uint32_t i) { return Take<int32_t>(i, VariantToI32); }
    uint16_t U2(uint32_t i) { return Take<uint16_t>(i, VariantToU16); }
    float R4(uint32_t i) { return Take<float>(i, VariantToFloat); }
    const char* Text(uint32_t i)
    {
        const char* text = "";
        Keep(VariantToText(m_args[i], &text));
        return text;
    }
    HRESULT Result() const { return m_hr; }

private:
    template <class T>
    T Take(uint32_t i, HRESULT (*convert)(const PXVariant&, T*))
    {
        T value{};
        Keep(convert(m_args[i], &value));
        return value;
    }
    void Keep(HRESULT hr)
    {
        if (m_hr == S_OK)
            m_hr = hr;
    }

    const PXVariant* m_args;
    HRESULT m_hr = S_OK;
};

using CallFn = HRESULT (*)(C&, const PXVariant*, PXVariant*);
using PutFn = HRESULT (*)(C&, const PXVariant&);

// ---- Shapes shared by many members ---------------------------------------------------------------------

template <HRESULT (C::*Fn)()>
HRESULT Call0(C& c, const PXVariant*, PXVariant*)
{
    return (c.*Fn)();
}

// A getter of value type T whose answer becomes a variant through make.
template <class T, class Fn, class Make>
HRESULT Get(C& c, Fn fn, PXVariant* r, Make make)
{
    T v{};
    const HRESULT hr = (c.*fn)(r != nullptr ? &v : nullptr);
    if (r != nullptr)
        *r = make(v);
    return hr;
}

template <HRESULT (C::*Fn)(uint32_t*)>
HRESULT GetU4(C& c, const PXVariant*, PXVariant* r)
{
    return Get<uint32_t>(c, Fn, r, [](uint32_t v) { return VariantOfI4(static_cast<int32_t>(v)); });
}

template <HRESULT (C::*Fn)(int32_t*)>
HRESULT GetI4(C& c, const PXVariant*, PXVariant* r)
{
    return Get<int32_t>(c, Fn, r, VariantOfI4);
}

template <HRESULT (C::*Fn)(uint16_t*)>
HRESULT GetU2AsI4(C& c, const PXVariant*, PXVariant* r)
{
    return Get<uint16_t>(c, Fn, r, [](uint16_t v) { return VariantOfI4(v); });
}

template <HRESULT (C::*Fn)(uint16_t*)>
HRESULT GetU2(C& c, const PXVariant*, PXVariant* r)
{
    return Get<uint16_t>(c, Fn, r, [](uint16_t v) { return VariantOfI2(static_cast<int16_t>(v)); });
}

template <HRESULT (C::*Fn)(uint64_t*)>
HRESULT GetU8(C& c, const PXVariant*, PXVariant* r)
{
    return Get<uint64_t>(c, Fn, r, VariantOfUI8);
}

template <HRESULT (C::*Fn)(BSTR*)>
HRESULT GetText(C& c, const PXVariant*, PXVariant* r)
{
    BSTR text = nullptr;
    const HRESULT hr = (c.*Fn)(r != nullptr ? &text : nullptr);
    if (text != nullptr)
        *r = VariantOfText(text);
    return hr;
}

template <HRESULT (C::*Fn)(uint32_t)>
HRESULT PutU4(C& c, const PXVariant& v)
{
    uint32_t value = 0;
    const HRESULT hr = VariantToU32(v, &value);
    return hr != S_OK ? hr : (c.*Fn)(value);
}

template <HRESULT (C::*Fn)(int32_t)>
HRESULT PutI4(C& c, const PXVariant& v)
{
    int32_t value = 0;
    const HRESULT hr = VariantToI32(v, &value);
    return hr != S_OK ? hr : (c.*Fn)(value);
}

template <HRESULT (C::*Fn)(uint16_t)>
HRESULT PutU2(C& c, const PXVariant& v)
{
    uint16_t value = 0;
    const HRESULT hr = VariantToU16(v, &value);
    return hr != S_OK ? hr : (c.*Fn)(value);
}

template <HRESULT (C::*Fn)(const char*)>
HRESULT PutText(C& c, const PXVariant& v)
{
    const char* text = "";
    const HRESULT hr = VariantToText(v, &text);
    return hr != S_OK ? hr : (c.*Fn)(text);
}

// A member with arguments whose answer (its result code, or a graphic's id) is T.
template <class T, class F>
HRESULT WithArgs(const PXVariant* args, PXVariant* r, F call)
{
    CArgs a(args);
    T answer{};
    const HRESULT hr = call(a, r != nullptr ? &answer : nullptr);
    if (a.Result() != S_OK)
        return a.Result();
    if (r != nullptr)
        *r = VariantOfI4(static_cast<int32_t>(answer));
    return hr;
}

// ---- The table ---------------------------------------------------------------------------------------

constexpr uint8_t kAnyCount = 0xFF;

struct SMember {
    int32_t dispid;
    const char* name;
    bool property;
    uint8_t argc;  // of a method
    CallFn call;   // a method, or a property's get
    PutFn put;     // a property's put
};

#define PX_METHOD(dispid, name, argc, call) {dispid, name, false, argc, call, nullptr}
#define PX_PROPERTY(dispid, name, get, put) {dispid, name, true, 0, get, put}

const SMember kMembers[] = {
    PX_METHOD(1, "DisplayVariables", 0, &Call0<&C::DisplayVariables>),
    PX_METHOD(4, "GetFullSizeX", 0, &GetU4<&C::GetFullSizeX>),
    PX_METHOD(5, "GetFullSizeY", 0, &GetU4<&C::GetFullSizeY>),
    PX_METHOD(11, "SendInput", 1,
              [](C& c, const PXVariant* args, PXVariant* r) {
                  return WithArgs<uint32_t>(args, r, [&](CArgs& a, uint32_t* out) {
                      const uint32_t input = a.U4(0);
                      return a.Result() != S_OK ? a.Result() : c.SendInput(input, out);
                  });
              }),
    PX_METHOD(13, "GetBufferList", 0, &GetText<&C::GetBufferList>),
    PX_METHOD(14, "RegisterDataCallback", kAnyCount, &Call0<&C::RegisterDataCallback>),
    PX_METHOD(15, "SetImageParams", 5,
              [](C& c, const PXVariant* args, PXVariant* r) {
                  return WithArgs<uint32_t>(args, r, [&](CArgs& a, uint32_t* out) {
                      const uint32_t x = a.U4(0), y = a.U4(1), w = a.U4(2), h = a.U4(3), mode = a.U4(4);
                      return a.Result() != S_OK ? a.Result() : c.SetImageParams(x, y, w, h, mode, out);
                  });
              }),
    PX_PROPERTY(17, "ServerAddress", &GetText<&C::get_ServerAddress>, &PutText<&C::put_ServerAddress>),
    PX_PROPERTY(18, "Agent", &GetU2<&C::get_Agent>, &PutU2<&C::put_Agent>),
    PX_PROPERTY(19, "Port", &GetU2AsI4<&C::get_Port>, &PutU2<&C::put_Port>),
    PX_PROPERTY(20, "ClientName", &GetText<&C::get_ClientName>, &PutText<&C::put_ClientName>),
    PX_PROPERTY(21, "Visible", &GetU2<&C::get_Visible>, &PutU2<&C::put_Visible>),
    PX_PROPERTY(22, "ShowFPS", &GetU2<&C::get_ShowFPS>, &PutU2<&C::put_ShowFPS>),
    PX_PROPERTY(24, "BufferId", &GetText<&C::get_BufferId>, &PutText<&C::put_BufferId>),
    PX_PROPERTY(25, "BufferSizeX", &GetU4<&C::get_BufferSizeX>, &PutU4<&C::put_BufferSizeX>),
    PX_PROPERTY(26, "BufferSizeY", &GetU4<&C::get_BufferSizeY>, &PutU4<&C::put_BufferSizeY>),
    PX_PROPERTY(27, "BufferOffsetX", &GetU4<&C::get_BufferOffsetX>, &PutU4<&C::put_BufferOffsetX>),
    PX_PROPERTY(28, "BufferOffsetY", &GetU4<&C::get_BufferOffsetY>, &PutU4<&C::put_BufferOffsetY>),
    PX_METHOD(29, "GetFullSizeBand", 0, &GetU4<&C::GetFullSizeBand>),
    PX_PROPERTY(30, "Subsection", &GetU4<&C::get_Subsection>, &PutU4<&C::put_Subsection>),
    PX_PROPERTY(32, "MaxTimeout", &GetU4<&C::get_MaxTimeout>, &PutU4<&C::put_MaxTimeout>),
    PX_METHOD(33, "Start", 0, &GetU4<&C::Start>),
    PX_PROPERTY(34, "width", &GetU4<&C::get_BufferSizeX>, &PutU4<&C::put_BufferSizeX>),
    PX_PROPERTY(35, "height", &GetU4<&C::get_BufferSizeY>, &PutU4<&C::put_BufferSizeY>),
    PX_METHOD(36, "GetDisplayRate", 0,
              [](C& c, const PXVariant*, PXVariant* r) { return Get<float>(c, &C::GetDisplayRate, r, VariantOfR4); }),
    PX_METHOD(37, "GetNewBufferSizeX", 0, &GetU4<&C::GetNewBufferSizeX>),
    PX_METHOD(38, "GetNewBufferSizeY", 0, &GetU4<&C::GetNewBufferSizeY>),
    PX_METHOD(39, "GetNewBufferOffsetX", 0, &GetU4<&C::GetNewBufferOffsetX>),
    PX_METHOD(40, "GetNewBufferOffsetY", 0, &GetU4<&C::GetNewBufferOffsetY>),
    PX_METHOD(41, "GetNewSubsection", 0, &GetU4<&C::GetNewSubsection>),
    PX_METHOD(42, "RegisterListUpdateCallback", kAnyCount, &Call0<&C::RegisterListUpdateCallback>),
    PX_METHOD(43, "SendInputString", 1,
              [](C& c, const PXVariant* args, PXVariant* r) {
                  return WithArgs<uint32_t>(args, r, [&](CArgs& a, uint32_t* out) {
                      const char* text = a.Text(0);
                      return a.Result() != S_OK ? a.Result() : c.SendInputString(text, out);
                  });
              }),
    PX_PROPERTY(44, "LOGScale", &GetU2<&C::get_LOGScale>, &PutU2<&C::put_LOGScale>),
    PX_PROPERTY(45, "ManualStart", &GetU2<&C::get_ManualStart>, &PutU2<&C::put_ManualStart>),
    PX_METHOD(46, "Stop", 0, &GetU4<&C::Stop>),
    PX_METHOD(47, "GetErrorMessage", 0, &GetText<&C::GetErrorMessage>),
    PX_METHOD(48, "GetBufferType", 0, &GetU4<&C::GetBufferType>),
    PX_METHOD(49, "GetBufferAttribute", 0, &GetU4<&C::GetBufferAttribute>),
    PX_METHOD(50, "GetBufferSize", 0, &GetU4<&C::GetBufferSize>),
    PX_METHOD(51, "GetBufferDataPtr", 0, &GetU8<&C::GetBufferDataPtr>),
    PX_METHOD(52, "GetConnected", 0, &GetU4<&C::GetConnected>),
    PX_PROPERTY(53, "FPSRefreshDelay", &GetU4<&C::get_FPSRefreshDelay>, &PutU4<&C::put_FPSRefreshDelay>),
    PX_PROPERTY(54, "BufferListUpdatePeriod", &GetU4<&C::get_BufferListUpdatePeriod>,
                &PutU4<&C::put_BufferListUpdatePeriod>),
    PX_METHOD(55, "AddOverlayRect", 9,
              [](C& c, const PXVariant* args, PXVariant* r) {
                  return WithArgs<int32_t>(args, r, [&](CArgs& a, int32_t* id) {
                      const int32_t n = a.I4(0), x1 = a.I4(1), y1 = a.I4(2), x2 = a.I4(3), y2 = a.I4(4);
                      const uint16_t width = a.U2(5);
                      const uint32_t color = a.U4(6), border = a.U4(7), attribute = a.U4(8);
                      return a.Result() != S_OK ? a.Result()
                                                : c.AddOverlayRect(n, x1, y1, x2, y2, width, color, border, attribute, id);
                  });
              }),
    PX_METHOD(56, "ClearOverlay", 0, &Call0<&C::ClearOverlay>),
    PX_METHOD(57, "AddOverlayEllipse", 9,
              [](C& c, const PXVariant* args, PXVariant* r) {
                  return WithArgs<int32_t>(args, r, [&](CArgs& a, int32_t* id) {
                      const int32_t n = a.I4(0), x1 = a.I4(1), y1 = a.I4(2), x2 = a.I4(3), y2 = a.I4(4);
                      const uint16_t width = a.U2(5);
                      const uint32_t color = a.U4(6), border = a.U4(7), attribute = a.U4(8);
                      return a.Result() != S_OK
                                 ? a.Result()
                                 : c.AddOverlayEllipse(n, x1, y1, x2, y2, width, color, border, attribute, id);
                  });
              }),
    PX_METHOD(58, "AddOverlayLine", 8,
              [](C& c, const PXVariant* args, PXVariant* r) {
                  return WithArgs<int32_t>(args, r, [&](CArgs& a, int32_t* id) {
                      const int32_t n = a.I4(0), x1 = a.I4(1), y1 = a.I4(2), x2 = a.I4(3), y2 = a.I4(4);
                      const uint16_t width = a.U2(5);
                      const uint32_t color = a.U4(6), attribute = a.U4(7);
                      return a.Result() != S_OK ? a.Result()
                                                : c.AddOverlayLine(n, x1, y1, x2, y2, width, color, attribute, id);
                  });
              }),
    PX_METHOD(59, "AddOverlayPixel", 5,
              [](C& c, const PXVariant* args, PXVariant* r) {
                  return WithArgs<int32_t>(args, r, [&](CArgs& a, int32_t* id) {
                      const int32_t n = a.I4(0), x = a.I4(1), y = a.I4(2);
                      const uint32_t color = a.U4(3), attribute = a.U4(4);
                      return a.Result() != S_OK ? a.Result() : c.AddOverlayPixel(n, x, y, color, attribute, id);
                  });
              }),
    PX_METHOD(60, "AddOverlayText", 12,
              [](C& c, const PXVariant* args, PXVariant* r) {
                  return WithArgs<int32_t>(args, r, [&](CArgs& a, int32_t* id) {
                      const int32_t n = a.I4(0), x1 = a.I4(1), y1 = a.I4(2), x2 = a.I4(3), y2 = a.I4(4);
                      const uint32_t color = a.U4(5), background = a.U4(6);
                      const uint16_t size = a.U2(7);
                      const int32_t style = a.I4(8);
                      const char* font = a.Text(9);
                      const char* text = a.Text(10);
                      const uint32_t attribute = a.U4(11);
                      return a.Result() != S_OK ? a.Result()
                                                : c.AddOverlayText(n, x1, y1, x2, y2, color, background, size, style,
                                                                   font, text, attribute, id);
                  });
              }),
    PX_METHOD(61, "DrawOverlay", 0, &Call0<&C::DrawOverlay>),
    PX_METHOD(62, "GetOverlayTransparentColor", 0, &Call0<&C::GetOverlayTransparentColor>),
    PX_METHOD(63, "SetOverlayTransparentColor", 1,
              [](C& c, const PXVariant* args, PXVariant*) {
                  CArgs a(args);
                  const uint32_t ck = a.U4(0);
                  return a.Result() != S_OK ? a.Result() : c.SetOverlayTransparentColor(ck);
              }),
    PX_METHOD(64, "RemoveOverlayObject", 1,
              [](C& c, const PXVariant* args, PXVariant*) {
                  CArgs a(args);
                  const int32_t id = a.I4(0);
                  return a.Result() != S_OK ? a.Result() : c.RemoveOverlayObject(id);
              }),
    PX_METHOD(65, "GetVersion", 0, &GetText<&C::GetVersion>),
    PX_METHOD(66, "SendInputArray", 1,
              [](C& c, const PXVariant* args, PXVariant* r) {
                  return WithArgs<uint32_t>(args, r, [&](CArgs&, uint32_t* out) { return c.SendInputArray(args[0], out); });
              }),
    PX_METHOD(67, "LockDataPtr", 0, &Call0<&C::LockDataPtr>),
    PX_METHOD(68, "UnlockDataPtr", 0, &Call0<&C::UnlockDataPtr>),
    PX_METHOD(69, "GetBufferDIBHeaderPtr", 0, &GetU8<&C::GetBufferDIBHeaderPtr>),
    PX_PROPERTY(70, "FPSCorner", &GetU2<&C::get_FPSCorner>, &PutU2<&C::put_FPSCorner>),
    PX_PROPERTY(71, "SpecialMouseInteraction", &GetI4<&C::get_SpecialMouseInteraction>,
                &PutI4<&C::put_SpecialMouseInteraction>),
    PX_PROPERTY(72, "PopupMenuInteraction", &GetU2<&C::get_PopupMenuInteraction>,
                &PutU2<&C::put_PopupMenuInteraction>),
    PX_PROPERTY(74, "SerialCounter", &GetU4<&C::get_SerialCounter>, &PutU4<&C::put_SerialCounter>),
    PX_METHOD(75, "GetNumberOfClient", 0, &GetU4<&C::GetNumberOfClient>),
    PX_METHOD(76, "SendInputWString", 1,
              [](C& c, const PXVariant* args, PXVariant* r) {
                  return WithArgs<uint32_t>(args, r, [&](CArgs& a, uint32_t* out) {
                      const char* text = a.Text(0);
                      return a.Result() != S_OK ? a.Result() : c.SendInputWString(text, out);
                  });
              }),
    PX_METHOD(77, "ZoomOnPoint", 4,
              [](C& c, const PXVariant* args, PXVariant* r) {
                  return WithArgs<uint32_t>(args, r, [&](CArgs& a, uint32_t* out) {
                      const uint32_t x = a.U4(0), y = a.U4(1);
                      const float scale = a.R4(2);
                      const uint32_t options = a.U4(3);
                      return a.Result() != S_OK ? a.Result() : c.ZoomOnPoint(x, y, scale, options, out);
                  });
              }),
    PX_PROPERTY(78, "SerialCounterHigh", &GetU4<&C::get_SerialCounterHigh>, &PutU4<&C::put_SerialCounterHigh>),
    PX_PROPERTY(79, "DisplayOptions", &GetU4<&C::get_DisplayOptions>, &PutU4<&C::put_DisplayOptions>),
    PX_PROPERTY(80, "LinkedAgentID", &GetU4<&C::get_LinkedAgentID>, &PutU4<&C::put_LinkedAgentID>),
    PX_METHOD(81, "GetClientID", 0, &GetU4<&C::GetClientID>),
    PX_METHOD(82, "SaveImage", 2,
              [](C& c, const PXVariant* args, PXVariant* r) {
                  return WithArgs<uint32_t>(args, r, [&](CArgs& a, uint32_t* out) {
                      const uint32_t type = a.U4(0);
                      // An empty variant is no file name at all.
                      const char* name = args[1].vt == PX_VT_EMPTY ? nullptr : a.Text(1);
                      return a.Result() != S_OK ? a.Result() : c.SaveImage(type, name, out);
                  });
              }),
};

#undef PX_METHOD
#undef PX_PROPERTY

const SMember* Find(int32_t dispid)
{
    for (const SMember& m : kMembers) {
        if (m.dispid == dispid)
            return &m;
    }
    return nullptr;
}

} // namespace

int32_t DispIdOfName(const char* name)
{
    if (name == nullptr)
        return -1;
    for (const SMember& m : kMembers) {
        if (strcmp(m.name, name) == 0)
            return m.dispid;
    }
    return -1;
}

const char* NameOfDispId(int32_t dispid)
{
    const SMember* m = Find(dispid);
    return m != nullptr ? m->name : nullptr;
}

HRESULT Invoke(CPellixControl& control, int32_t dispid, uint32_t kind, const PXVariant* args, uint32_t argc,
               PXVariant* result)
{
    if (result != nullptr)
        *result = PXVariant{};
    const SMember* m = Find(dispid);
    if (m == nullptr)
        return DISP_E_MEMBERNOTFOUND;
    if (argc > 0 && args == nullptr)
        return E_POINTER;
    const bool call = (kind & (PX_INVOKE_METHOD | PX_INVOKE_PROPERTYGET)) != 0;
    HRESULT hr;
    if (m->property && (kind & PX_INVOKE_PROPERTYPUT)) {
        if (argc != 1)
            return DISP_E_BADPARAMCOUNT;
        return m->put(control, args[0]);
    }
    if (!call)
        return DISP_E_MEMBERNOTFOUND;
    if (m->property ? argc != 0 : (m->argc != kAnyCount && argc != m->argc))
        return DISP_E_BADPARAMCOUNT;
    hr = m->call(control, args, result);
    // A failed call answers nothing.
    if (hr < 0)
        VariantClear(result);
    return hr;
}

} // namespace pxcontrol
