#include "display/DXDisplay.h"

#include <new>

#include "display/DX10Display.h"
#include "display/DX7Display.h"
#include "display/DX9Display.h"
#include "display/GlesD3D9.h"
#include "display/SoftDDraw.h"
#include "display/GraphicLog.h"

namespace display {

namespace {

// The selection's steps in the order they are tried.
struct SStep {
    int32_t nSelector;
    const char* pszUsing;
};
constexpr SStep kSteps[] = {
    {DISPLAY_DX10, "Using DirectX 10"},
    {DISPLAY_DX9, "Using DirectX 9"},
    {DISPLAY_DX7, "Using DirectX 7"},
};

} // namespace

CDisplayRegistry::CDisplayRegistry()
{
    // One line per built-in back-end.
    SetFactory(DISPLAY_DX10, [](HWND) -> CDXDisplay* { return new (std::nothrow) CDX10Display; });
    SetFactory(DISPLAY_DX9, [](HWND) -> CDXDisplay* {
        std::unique_ptr<d3d9::IDriver> driver = CreateGlesDriver();
        return driver ? new (std::nothrow) CDX9Display(std::move(driver)) : nullptr;
    });
    SetFactory(DISPLAY_DX7, [](HWND hWnd) -> CDXDisplay* {
        std::unique_ptr<ddraw::IDriver> driver = CreateSoftDDrawDriver();
        return driver ? new (std::nothrow) CDX7Display(hWnd, std::move(driver)) : nullptr;
    });
}

int CDisplayRegistry::Slot(int32_t selector)
{
    for (int i = 0; i < 3; ++i) {
        if (kSteps[i].nSelector == selector)
            return i;
    }
    return -1;
}

bool CDisplayRegistry::SetFactory(int32_t selector, DisplayFactory factory)
{
    const int slot = Slot(selector);
    if (slot < 0)
        return false;
    px::CsLock lock(m_cs);
    m_factories[slot] = std::move(factory);
    return true;
}

DisplayFactory CDisplayRegistry::Factory(int32_t selector) const
{
    const int slot = Slot(selector);
    if (slot < 0)
        return {};
    px::CsLock lock(m_cs);
    return m_factories[slot];
}

CDisplayRegistry& CDisplayRegistry::Process()
{
    static CDisplayRegistry registry;
    return registry;
}

CDXDisplay* GetDXInstance(uint32_t fullWidth, uint32_t fullHeight, int32_t* selector, HWND hWnd,
                          const CDisplayRegistry& registry)
{
    LogGraphic(LOG_LEVEL_MSG, "GetDXInstance");
    const int32_t requested = selector ? *selector : DISPLAY_GDI;
    for (const SStep& step : kSteps) {
        if (requested != step.nSelector && requested != DISPLAY_AUTO)
            continue;
        const DisplayFactory factory = registry.Factory(step.nSelector);
        CDXDisplay* display = factory ? factory(hWnd) : nullptr;
        if (!display)
            continue;
        if (display->Validate(fullWidth, fullHeight) == 1) {
            *selector = step.nSelector;
            LogGraphic(LOG_LEVEL_MSG, step.pszUsing);
            return display;
        }
        display->ReleaseAll();
        delete display;
    }
    if (selector)
        *selector = DISPLAY_GDI;
    LogGraphic(LOG_LEVEL_MSG, "Using GDI");
    return nullptr;
}

bool IsCompositionEnabled()
{
    return true;
}

} // namespace display
