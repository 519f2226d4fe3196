#include "ScriptedControl.h"

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

std::vector<Message> Messages()
{
    std::lock_guard<std::mutex> lock(Last().lock);
    return Last().messages;
}

std::vector<Message> MessagesOf(uint32_t msg)
{
    std::vector<Message> out;
    for (const Message& m : Messages()) {
        if (m.msg == msg)
            out.push_back(m);
    }
    return out;
}

PXControlHost Host()
{
    std::lock_guard<std::mutex> lock(Last().lock);
    return Last().host;
}

} // namespace scripted

extern "C" {

PXControl* PXControlCreate(const PXControlHost* host)
{
    scripted::State& s = scripted::Last();
    std::lock_guard<std::mutex> lock(s.lock);
    s.host = *host;
    s.messages.clear();
    s.onMessage = nullptr;
    s.dwPaintColour = 0x00336699;
    s.dwPaints = 0;
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

int32_t PXControlDispIdOfName(const char*) { return -1; }

int32_t PXControlInvoke(PXControl*, int32_t, uint32_t, const PXVariant*, uint32_t, PXVariant* result)
{
    if (result != nullptr)
        memset(result, 0, sizeof *result);
    return PX_DISP_E_MEMBERNOTFOUND;
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

int32_t PXControlSaveProperties(PXControl*, void (*)(void*, const char*, const PXVariant*), void*) { return PX_S_OK; }

int32_t PXControlLoadProperties(PXControl*, int (*)(void*, const char*, PXVariant*), void*) { return PX_S_OK; }

void PXVariantClear(PXVariant* v)
{
    if (v != nullptr)
        memset(v, 0, sizeof *v);
}

} // extern "C"
