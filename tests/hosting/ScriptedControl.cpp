// The C interface played by a script (see ScriptedControl.h). Two properties: ClientName (20,
// text) and Port (19, number); one method, Start (33), which answers I4 0.
#include "ScriptedControl.h"

#include <cstdlib>
#include <cstring>

struct PXControl {
    scripted::State* state;
};

namespace scripted {

State& Last()
{
    static State state;
    return state;
}

} // namespace scripted

namespace {

const struct {
    const char* name;
    int32_t dispid;
} kNames[] = {{"Port", 19}, {"ClientName", 20}, {"Start", 33}};

char* Duplicate(const std::string& text)
{
    char* copy = static_cast<char*>(malloc(text.size() + 1));
    memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace

extern "C" {

PXControl* PXControlCreate(const PXControlHost* host)
{
    if (host == nullptr || host->size < sizeof(PXControlHost))
        return nullptr;
    scripted::State& s = scripted::Last();
    std::lock_guard<std::mutex> lock(s.lock);
    s.host = *host;
    s.messages.clear();
    s.texts.clear();
    s.numbers.clear();
    s.bDestroyed = false;
    return new PXControl{&s};
}

void PXControlDestroy(PXControl* control)
{
    if (control == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(control->state->lock);
        control->state->bDestroyed = true;
    }
    delete control;
}

int32_t PXControlDispIdOfName(const char* name)
{
    for (const auto& n : kNames) {
        if (name != nullptr && strcmp(name, n.name) == 0)
            return n.dispid;
    }
    return -1;
}

int32_t PXControlInvoke(PXControl* control, int32_t dispid, uint32_t kind, const PXVariant* args, uint32_t argc,
                        PXVariant* result)
{
    if (control == nullptr)
        return PX_E_POINTER;
    scripted::State& s = *control->state;
    std::lock_guard<std::mutex> lock(s.lock);
    if (result != nullptr)
        memset(result, 0, sizeof *result);
    if (dispid == 33 && kind == PX_INVOKE_METHOD) {
        if (result != nullptr)
            result->vt = PX_VT_I4;
        return PX_S_OK;
    }
    if (dispid != 19 && dispid != 20)
        return PX_DISP_E_MEMBERNOTFOUND;
    if (kind == PX_INVOKE_PROPERTYPUT) {
        if (argc != 1)
            return PX_DISP_E_BADPARAMCOUNT;
        if (dispid == 20 && args[0].vt != PX_VT_BSTR)
            return PX_DISP_E_TYPEMISMATCH;
        if (dispid == 20)
            s.texts[dispid] = args[0].v.str;
        else
            s.numbers[dispid] = args[0].v.lVal;
        return PX_S_OK;
    }
    if (result == nullptr)
        return dispid == 20 ? PX_E_POINTER : PX_S_OK;
    if (dispid == 20) {
        result->vt = PX_VT_BSTR;
        result->v.str = Duplicate(s.texts[dispid]);
    } else {
        result->vt = PX_VT_I4;
        result->v.lVal = s.numbers[dispid];
    }
    return PX_S_OK;
}

int PXControlWindowMessage(PXControl* control, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    scripted::State& s = *control->state;
    std::function<int(uint32_t)> answer;
    {
        std::lock_guard<std::mutex> lock(s.lock);
        s.messages.push_back(scripted::Message{msg, wParam, lParam, std::this_thread::get_id()});
        answer = s.onMessage;
    }
    return answer ? answer(msg) : 0;
}

void PXControlPaint(PXControl* control, const PXSurface* target)
{
    scripted::State& s = *control->state;
    std::lock_guard<std::mutex> lock(s.lock);
    for (int32_t y = 0; y < target->height; ++y) {
        for (int32_t x = 0; x < target->width; ++x)
            memcpy(target->pixels + static_cast<size_t>(y) * target->stride + x * 4, &s.dwPaintColour, 4);
    }
    ++s.dwPaints;
}

int32_t PXControlSaveProperties(PXControl* control, void (*put)(void* ctx, const char* name, const PXVariant* v),
                                void* ctx)
{
    if (control == nullptr || put == nullptr)
        return PX_E_POINTER;
    scripted::State& s = *control->state;
    std::lock_guard<std::mutex> lock(s.lock);
    PXVariant port{};
    port.vt = PX_VT_I4;
    port.v.lVal = s.numbers[19];
    put(ctx, "Port", &port);
    PXVariant name{};
    name.vt = PX_VT_BSTR;
    name.v.str = s.texts[20].c_str();
    put(ctx, "ClientName", &name);
    return PX_S_OK;
}

int32_t PXControlLoadProperties(PXControl* control, int (*get)(void* ctx, const char* name, PXVariant* v), void* ctx)
{
    if (control == nullptr || get == nullptr)
        return PX_E_POINTER;
    scripted::State& s = *control->state;
    std::lock_guard<std::mutex> lock(s.lock);
    PXVariant v{};
    if (get(ctx, "Port", &v) != 0)
        s.numbers[19] = v.v.lVal;
    if (get(ctx, "ClientName", &v) != 0 && v.vt == PX_VT_BSTR)
        s.texts[20] = v.v.str;
    return PX_S_OK;
}

void PXVariantClear(PXVariant* v)
{
    if (v == nullptr)
        return;
    if (v->vt == PX_VT_BSTR)
        free(const_cast<char*>(v->v.str));
    memset(v, 0, sizeof *v);
}

} // extern "C"
