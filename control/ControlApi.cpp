// The C interface of pellix/pellix_control.h over the host object and the dispatch table. Every
// function checks its pointers; nothing is thrown across it.
#include "control/ControlTypes.h"
#include "control/Dispatch.h"
#include "control/PellixControlObject.h"
#include "control/Variant.h"
#include "pellix/pellix_control.h"

struct PXControl {
    pxcontrol::CPellixControlObject* object;
};

extern "C" {

PX_CONTROL_API PXControl* PXControlCreate(const PXControlHost* host)
{
    if (host == nullptr || host->size < sizeof(PXControlHost))
        return nullptr;
    pxcontrol::CPellixControlObject* object = pxcontrol::CPellixControlObject::Create(*host);
    if (object == nullptr)
        return nullptr;
    PXControl* control = new (std::nothrow) PXControl{object};
    if (control == nullptr)
        delete object;
    return control;
}

PX_CONTROL_API void PXControlDestroy(PXControl* control)
{
    if (control == nullptr)
        return;
    delete control->object;
    delete control;
}

PX_CONTROL_API int32_t PXControlInvoke(PXControl* control, int32_t dispid, uint32_t kind, const PXVariant* args, uint32_t argc,
                                PXVariant* result)
{
    if (control == nullptr)
        return pxcontrol::E_POINTER;
    return pxcontrol::Invoke(control->object->Control(), dispid, kind, args, argc, result);
}

PX_CONTROL_API int32_t PXControlDispIdOfName(const char* name) { return pxcontrol::DispIdOfName(name); }

PX_CONTROL_API int PXControlWindowMessage(PXControl* control, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (control == nullptr)
        return 0;
    return control->object->OnWindowMessage(msg, wParam, lParam) ? 1 : 0;
}

PX_CONTROL_API void PXControlPaint(PXControl* control, const PXSurface* target)
{
    if (control == nullptr || target == nullptr || target->pixels == nullptr)
        return;
    control->object->Paint(*target);
}

PX_CONTROL_API int32_t PXControlSaveProperties(PXControl* control, void (*put)(void* ctx, const char* name, const PXVariant* v),
                                        void* ctx)
{
    if (control == nullptr)
        return pxcontrol::E_POINTER;
    return control->object->SaveProperties(put, ctx);
}

PX_CONTROL_API int32_t PXControlLoadProperties(PXControl* control, int (*get)(void* ctx, const char* name, PXVariant* v),
                                        void* ctx)
{
    if (control == nullptr)
        return pxcontrol::E_POINTER;
    return control->object->LoadProperties(get, ctx);
}

PX_CONTROL_API void PXVariantClear(PXVariant* v) { pxcontrol::VariantClear(v); }

} // extern "C"
