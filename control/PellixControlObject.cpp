#include "control/PellixControlObject.h"

#include <cstring>
#include <new>

#include "control/ControlLog.h"
#include "control/ControlText.h"
#include "control/Dispatch.h"
#include "control/Variant.h"
#include "platform/Messages.h"

namespace pxcontrol {

CPellixControlObject* CPellixControlObject::Create(const PXControlHost& host)
{
    CPellixControlObject* object = new (std::nothrow) CPellixControlObject(host);
    if (object == nullptr)
        return nullptr;
    object->m_pControl.reset(new (std::nothrow) CPellixControl(object));
    if (!object->m_pControl) {
        delete object;
        return nullptr;
    }
    return object;
}

CPellixControlObject::CPellixControlObject(const PXControlHost& host)
{
    memcpy(&m_host, &host, sizeof m_host);
}

CPellixControlObject::~CPellixControlObject()
{
    // The control stops its threads before the window services they call go away.
    m_pControl.reset();
}

bool CPellixControlObject::OnWindowMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (msg == WM_CREATE) {
        uint16_t manual = 0;
        m_pControl->get_ManualStart(&manual);
        if (!manual) {
            uint32_t result = 0;
            m_pControl->Start(&result);
            if (result != 0)
                FireOnError(result, StartErrorTextOf(result));
        }
        ControlNameThread("MainThread");
    }
    return m_pControl->OnWindowMessage(msg, wParam, lParam);
}

void CPellixControlObject::Paint(const PXSurface& target)
{
    raster::HDC dc = raster::CreateSurfaceDC(target.pixels, target.width, target.height, target.stride);
    if (dc == nullptr)
        return;
    m_pControl->OnDraw(dc);
    raster::DeleteDC(dc);
}

// ---- Persistence --------------------------------------------------------------------------------------

HRESULT CPellixControlObject::SaveProperties(void (*put)(void* ctx, const char* name, const PXVariant* v), void* ctx)
{
    if (put == nullptr)
        return E_POINTER;
    PXVariant extent = VariantOfUI4(m_cx);
    put(ctx, "_cx", &extent);
    extent = VariantOfUI4(m_cy);
    put(ctx, "_cy", &extent);
    HRESULT first = S_OK;
    for (int32_t dispid : kPersistedProperties) {
        PXVariant value{};
        const HRESULT hr = Invoke(*m_pControl, dispid, PX_INVOKE_PROPERTYGET, nullptr, 0, &value);
        if (hr >= 0)
            put(ctx, NameOfDispId(dispid), &value);
        else if (first == S_OK)
            first = hr;
        VariantClear(&value);
    }
    return first;
}

HRESULT CPellixControlObject::LoadProperties(int (*get)(void* ctx, const char* name, PXVariant* v), void* ctx)
{
    if (get == nullptr)
        return E_POINTER;
    HRESULT first = S_OK;
    auto keep = [&](HRESULT hr) {
        if (hr < 0 && first == S_OK)
            first = hr;
    };
    // The variants the host fills stay the host's.
    for (uint32_t* extent : {&m_cx, &m_cy}) {
        PXVariant value{};
        if (get(ctx, extent == &m_cx ? "_cx" : "_cy", &value))
            keep(VariantToU32(value, extent));
    }
    for (int32_t dispid : kPersistedProperties) {
        PXVariant value{};
        if (get(ctx, NameOfDispId(dispid), &value))
            keep(Invoke(*m_pControl, dispid, PX_INVOKE_PROPERTYPUT, &value, 1, nullptr));
    }
    return first;
}

// ---- Window services --------------------------------------------------------------------------------------

raster::HDC CPellixControlObject::GetWindowDC()
{
    PXSurface surface{};
    if (m_host.getWindowSurface == nullptr || !m_host.getWindowSurface(m_host.data, &surface))
        return nullptr;
    raster::HDC dc = raster::CreateSurfaceDC(surface.pixels, surface.width, surface.height, surface.stride);
    if (dc == nullptr) {
        if (m_host.releaseWindowSurface != nullptr)
            m_host.releaseWindowSurface(m_host.data, &surface);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(m_surfaceLock);
    m_surfaces.emplace_back(dc, surface);
    return dc;
}

void CPellixControlObject::ReleaseDC(raster::HDC hdc)
{
    if (hdc == nullptr)
        return;
    PXSurface surface{};
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(m_surfaceLock);
        for (auto it = m_surfaces.begin(); it != m_surfaces.end(); ++it) {
            if (it->first == hdc) {
                surface = it->second;
                m_surfaces.erase(it);
                found = true;
                break;
            }
        }
    }
    if (!found)
        return;
    raster::DeleteDC(hdc);
    if (m_host.releaseWindowSurface != nullptr)
        m_host.releaseWindowSurface(m_host.data, &surface);
}

bool CPellixControlObject::AcquirePixels(display::WindowPixels* out)
{
    PXSurface surface{};
    if (m_host.getWindowSurface == nullptr || !m_host.getWindowSurface(m_host.data, &surface))
        return false;
    *out = display::WindowPixels{surface.pixels, surface.width, surface.height, surface.stride};
    return true;
}

void CPellixControlObject::ReleasePixels(const display::WindowPixels& pixels)
{
    const PXSurface surface{pixels.pixels, pixels.width, pixels.height, pixels.stride};
    if (m_host.releaseWindowSurface != nullptr)
        m_host.releaseWindowSurface(m_host.data, &surface);
}

void CPellixControlObject::GetClientRect(raster::RECT* rect)
{
    PXRect r{0, 0, 0, 0};
    if (m_host.getClientRect != nullptr)
        m_host.getClientRect(m_host.data, &r);
    *rect = raster::RECT{r.left, r.top, r.right, r.bottom};
}

uint32_t CPellixControlObject::SetTimer(uint32_t id, uint32_t periodMs)
{
    return m_host.setTimer != nullptr ? m_host.setTimer(m_host.data, id, periodMs) : 0;
}

void CPellixControlObject::KillTimer(uint32_t id)
{
    if (m_host.killTimer != nullptr)
        m_host.killTimer(m_host.data, id);
}

void CPellixControlObject::Invalidate()
{
    if (m_host.invalidate != nullptr)
        m_host.invalidate(m_host.data);
}

display::HWND CPellixControlObject::GetWindowHandle()
{
    const bool window = m_host.hasWindow != nullptr && m_host.hasWindow(m_host.data);
    return window ? static_cast<display::DisplayWindow*>(this) : nullptr;
}

bool CPellixControlObject::DeliverMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool send,
                                          uint32_t timeoutMs)
{
    if (m_host.deliverMessage == nullptr)
        return false;
    return m_host.deliverMessage(m_host.data, msg, wParam, lParam, send ? 1 : 0, timeoutMs) != 0;
}

int32_t CPellixControlObject::MessageBox(const char* text, const char* caption, uint32_t flags)
{
    if (m_host.messageBox != nullptr)
        return m_host.messageBox(m_host.data, text, caption, flags);
    px::ShowMessageBox(text, caption);
    return 1; // OK
}

// ---- Events ---------------------------------------------------------------------------------------------------

void CPellixControlObject::Fire(int32_t dispid, const PXVariant* args, uint32_t argc)
{
    if (m_host.fireEvent != nullptr)
        m_host.fireEvent(m_host.data, dispid, args, argc);
}

namespace {

// A text argument that the host only borrows for the call.
PXVariant Borrowed(const char* text) { return VariantOfText(const_cast<char*>(text ? text : "")); }

} // namespace

void CPellixControlObject::FireOnTextReceived(const char* text)
{
    const PXVariant arg = Borrowed(text);
    Fire(PXEVENT_OnTextReceived, &arg, 1);
}

void CPellixControlObject::FireOnArrayReceived(const PXVariant& array) { Fire(PXEVENT_OnArrayReceived, &array, 1); }

void CPellixControlObject::FireOnListUpdate(const char* text)
{
    const PXVariant arg = Borrowed(text);
    Fire(PXEVENT_OnListUpdate, &arg, 1);
}

void CPellixControlObject::FireOnMouseDown(int32_t x, int32_t y, int32_t button)
{
    const PXVariant args[3] = {VariantOfI4(x), VariantOfI4(y), VariantOfI4(button)};
    Fire(PXEVENT_OnMouseDown, args, 3);
}

void CPellixControlObject::FireOnMouseUp(int32_t x, int32_t y, int32_t button)
{
    const PXVariant args[3] = {VariantOfI4(x), VariantOfI4(y), VariantOfI4(button)};
    Fire(PXEVENT_OnMouseUp, args, 3);
}

void CPellixControlObject::FireOnMouseMove(int32_t x, int32_t y)
{
    const PXVariant args[2] = {VariantOfI4(x), VariantOfI4(y)};
    Fire(PXEVENT_OnMouseMove, args, 2);
}

void CPellixControlObject::FireOnHistogramReceived(const PXVariant& histogram)
{
    Fire(PXEVENT_OnHistogramReceived, &histogram, 1);
}

void CPellixControlObject::FireOnImageReceived(uint64_t pDIBHeader, uint64_t pDIB)
{
    const PXVariant args[2] = {VariantOfUI8(pDIBHeader), VariantOfUI8(pDIB)};
    Fire(PXEVENT_OnImageReceived, args, 2);
}

void CPellixControlObject::FireOnDataReceive(const char* text)
{
    const PXVariant arg = Borrowed(text);
    Fire(PXEVENT_OnDataReceive, &arg, 1);
}

void CPellixControlObject::FireOnScaleChange(float fScaleX, float fScaleY)
{
    const PXVariant args[2] = {VariantOfR4(fScaleX), VariantOfR4(fScaleY)};
    Fire(PXEVENT_OnScaleChange, args, 2);
}

void CPellixControlObject::FireOnError(uint32_t ulError, const char* errorMessage)
{
    const PXVariant args[2] = {VariantOfI4(static_cast<int32_t>(ulError)), Borrowed(errorMessage)};
    Fire(PXEVENT_OnError, args, 2);
}

// ---- Menu, dialogs, clipboard ---------------------------------------------------------------------------------

uint32_t CPellixControlObject::TrackMenu(const PXMenuItem* items, uint32_t count, int32_t x, int32_t y)
{
    return m_host.trackMenu != nullptr ? m_host.trackMenu(m_host.data, items, count, x, y) : 0;
}

bool CPellixControlObject::SaveFileDialog(const char* const* filters, uint32_t filterCount, const char* title,
                                          const char* initialName, const char* defaultExt, char* path,
                                          uint32_t pathSize, uint32_t* chosenFilter)
{
    if (m_host.saveFileDialog == nullptr)
        return false;
    return m_host.saveFileDialog(m_host.data, filters, filterCount, title, initialName, defaultExt, path, pathSize,
                                 chosenFilter) != 0;
}

bool CPellixControlObject::TextDialog(const char* title, const char* prompt, char* text, uint32_t textSize)
{
    return m_host.textDialog != nullptr && m_host.textDialog(m_host.data, title, prompt, text, textSize) != 0;
}

bool CPellixControlObject::SetClipboardBitmap(const PXSurface& bitmap)
{
    return m_host.setClipboardBitmap != nullptr && m_host.setClipboardBitmap(m_host.data, &bitmap) != 0;
}

void CPellixControlObject::ScreenOrigin(int32_t* x, int32_t* y)
{
    *x = *y = 0;
    if (m_host.screenOrigin != nullptr)
        m_host.screenOrigin(m_host.data, x, y);
}

} // namespace pxcontrol
