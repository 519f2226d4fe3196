// Mouse, zoom, the region of interest and the popup menu, all on the window's thread.
//
// A window point becomes an image point through the buffer's window of the full image. Mouse
// actions become events for the host or, with special interaction, zoom; in a trace mode the left
// button draws an overlay shape, and the region of interest ends in SetImageParams, which asks
// the camera for a new window of the full image (the update thread then sees the new geometry in
// the next frame's record). The popup menu is the host's (trackMenu): the control hands it the
// items and acts on the chosen command.
#include <cstring>
#include <deque>
#include <numeric>
#include <string>
#include <vector>

#include "control/PellixControl.h"
#include "control/RegionFit.h"
#include "image/PixelFormat.h"

namespace pxcontrol {

namespace {

// A float result taken as an unsigned integer toward zero, kept inside the type.
uint32_t Truncate(double value)
{
    if (!(value > 0.0))
        return 0;
    if (value >= 4294967295.0)
        return 0xFFFFFFFFu;
    return static_cast<uint32_t>(value);
}

// Menu commands: the high byte selects, the low byte is an index.
enum : uint32_t {
    kCmdSave = 0x100,
    kCmdFpsOn = 0x200,
    kCmdFpsOff = 0x300,
    kCmdSpecialOn = 0x400,
    kCmdSpecialOff = 0x500,
    kCmdFpsCorner = 0x600,
    kCmdClearOverlays = 0x700,
    kCmdShowOverlays = 0x800,
    kCmdHideOverlays = 0x900,
    kCmdTrace = 0xA00,
    kCmdBackground = 0xB00,
    kCmdBorder = 0xC00,
    kCmdBorderSize = 0xD00,
    kCmdRoi = 0xE00,
    kCmdZoomIn = 0xF00,
    kCmdZoomOut = 0x1000,
    kCmdCenter = 0x1100,
    kCmdWeight = 0x1200,
    kCmdAttribute = 0x1300,
    kCmdFont = 0x1400,
    kCmdFontSize = 0x1500,
    kCmdString = 0x1600,
    kCmdCopy = 0x1700,
};

constexpr const char* kColourNames[] = {"None", "Transparent", "Red", "Green", "Blue", "Yellow", "White", "Black"};
constexpr raster::COLORREF kColours[] = {0xFFFFFFFF, 0xFF000000, 0x0000FF, 0x00FF00,
                                         0xFF0000,   0x00FFFF,   0xFFFFFF, 0x000000};
constexpr uint32_t kTransparentIndex = 1;
constexpr const char* kWeights[] = {"Default value", "Thin",      "Extra Light", "Light",      "Normal",
                                    "Medium",        "Semi Bold", "Bold",        "Extra Bold", "Heavy"};
constexpr const char* kFonts[] = {"Arial", "Courier", "Times New Roman", "Tahoma", "Garamond"};
constexpr uint16_t kFontSizes[] = {8, 9, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72};

// The text of the "Set String to Write" dialog, one for the process: it keeps its text between
// dialogs, of whichever control.
constexpr size_t kDialogTextSize = 80;
px::CriticalSection g_csDialogText;
char g_szDialogText[kDialogTextSize] PX_GUARDED_BY(g_csDialogText) = "";

// A menu being built: items own their texts and children until the host has answered.
struct SMenuNode {
    uint32_t id = 0;
    std::string text;
    uint32_t flags = 0;
    std::vector<SMenuNode> children;
};

SMenuNode Item(uint32_t id, const char* text, bool checked = false)
{
    return SMenuNode{id, text, checked ? PX_MENU_CHECKED : 0u, {}};
}
SMenuNode Separator() { return SMenuNode{0, "", PX_MENU_SEPARATOR, {}}; }
SMenuNode Submenu(const char* text, std::vector<SMenuNode> children)
{
    return SMenuNode{0, text, PX_MENU_SUBMENU, std::move(children)};
}

// The host's form of a list of nodes; the arrays live in storage.
const PXMenuItem* ToHostItems(const std::vector<SMenuNode>& nodes, std::deque<std::vector<PXMenuItem>>* storage)
{
    std::vector<PXMenuItem> items(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        items[i].id = nodes[i].id;
        items[i].text = nodes[i].text.c_str();
        items[i].flags = nodes[i].flags;
        items[i].children = nodes[i].children.empty() ? nullptr : ToHostItems(nodes[i].children, storage);
        items[i].count = static_cast<uint32_t>(nodes[i].children.size());
    }
    storage->push_back(std::move(items));
    return storage->back().data();
}

} // namespace

// ---- Points ---------------------------------------------------------------------------------------

raster::POINT CPellixControl::ImagePoint(intptr_t lParam)
{
    const int32_t x = static_cast<int32_t>(static_cast<uint32_t>(lParam) & 0xFFFF);
    const int32_t y = static_cast<int32_t>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
    raster::RECT rc;
    {
        px::CsLock display(m_csDisplay);
        rc = m_rcClient;
    }
    px::CsLock data(m_csData);
    if (m_dwSizeX == 0 || m_dwSizeY == 0)
        return raster::POINT{x, y};
    const float ratioX = static_cast<float>(rc.right - rc.left) / static_cast<float>(m_dwSizeX);
    const float ratioY = static_cast<float>(rc.bottom - rc.top) / static_cast<float>(m_dwSizeY);
    const int32_t xs = static_cast<int32_t>(Truncate(x / ratioX));
    const int32_t ys = static_cast<int32_t>(Truncate(y / ratioY));
    switch (m_dwSubsection) {
    case 0:
        return raster::POINT{static_cast<int32_t>(Truncate(static_cast<float>(m_dwFullSizeX) / m_dwSizeX * xs)),
                             static_cast<int32_t>(Truncate(static_cast<float>(m_dwFullSizeY) / m_dwSizeY * ys))};
    case 1:
        return raster::POINT{xs + static_cast<int32_t>(m_dwOffsetX), ys + static_cast<int32_t>(m_dwOffsetY)};
    default:
        return raster::POINT{xs, ys};
    }
}

// ---- Mouse ----------------------------------------------------------------------------------------

void CPellixControl::OnMouseMessage(uint32_t uMsg, uintptr_t wParam, intptr_t lParam)
{
    const raster::POINT pt = ImagePoint(lParam);
    const bool special = m_lSpecialMouseInteraction != 0;
    const bool shift = (wParam & PX_MK_SHIFT) != 0;
    const bool control = (wParam & PX_MK_CONTROL) != 0;
    switch (uMsg) {
    case PX_WM_MOUSEMOVE:
        if (m_bTracing)
            TraceTo(pt, false);
        else
            m_pWrapper->FireOnMouseMove(pt.x, pt.y);
        break;
    case PX_WM_LBUTTONDOWN:
        if (m_nTraceMode != 0 || m_bTracing)
            StartTrace(pt);
        else
            m_pWrapper->FireOnMouseDown(pt.x, pt.y, 1);
        break;
    case PX_WM_LBUTTONUP:
        if (m_bTracing)
            TraceTo(pt, true);
        else if (shift && special)
            Zoom(pt, 2.0f, 0);
        else if (control && special)
            Zoom(pt, 1.0f, 0);
        else
            m_pWrapper->FireOnMouseUp(pt.x, pt.y, 1);
        break;
    case PX_WM_RBUTTONDOWN:
        m_pWrapper->FireOnMouseDown(pt.x, pt.y, 2);
        break;
    case PX_WM_RBUTTONUP:
        if (shift && special) {
            Zoom(pt, 0.5f, 0);
        } else if (control && special) {
        } else if ((m_usPopupMenuInteraction & 0x7F) != 0) {
            int32_t sx = 0, sy = 0;
            m_pWrapper->ScreenOrigin(&sx, &sy);
            const int32_t x = static_cast<int32_t>(static_cast<uint32_t>(lParam) & 0xFFFF);
            const int32_t y = static_cast<int32_t>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
            PopupMenu(sx + x, sy + y, pt);
        } else {
            m_pWrapper->FireOnMouseUp(pt.x, pt.y, 2);
        }
        break;
    case PX_WM_MBUTTONDOWN:
        m_pWrapper->FireOnMouseDown(pt.x, pt.y, 4);
        break;
    case PX_WM_MBUTTONUP:
        if (!((shift || control) && special))
            m_pWrapper->FireOnMouseUp(pt.x, pt.y, 4);
        break;
    default:
        break;
    }
}

// ---- Zoom and the camera's window -----------------------------------------------------------------

HRESULT CPellixControl::ZoomOnPoint(uint32_t ulX, uint32_t ulY, float scale, uint32_t ulOptions, uint32_t* pVal)
{
    Zoom(raster::POINT{static_cast<int32_t>(ulX), static_cast<int32_t>(ulY)}, scale, ulOptions);
    if (pVal != nullptr)
        *pVal = m_dwError;
    return S_OK;
}

void CPellixControl::Zoom(raster::POINT point, float scale, uint32_t ulOptions)
{
    if (!IsStreamingImage()) {
        m_pWrapper->Invalidate();
        return;
    }
    const uint32_t ulX = static_cast<uint32_t>(point.x), ulY = static_cast<uint32_t>(point.y);
    // With bit 0 of DisplayOptions the zoom repeats until the image fits the window; a pass that
    // leaves the width unchanged ends it (a scale of 1 or more can never shrink it).
    uint32_t lastWidth = 0xFFFFFFFFu;
    for (;;) {
        uint32_t fullX, fullY, W, H, newSubsection;
        {
            px::CsLock data(m_csData);
            fullX = m_dwFullSizeX;
            fullY = m_dwFullSizeY;
            W = m_dwNewSizeX;
            H = m_dwNewSizeY;
            newSubsection = m_dwNewSubsection;
        }
        if (W == 0 || H == 0 || fullX == 0 || fullY == 0)
            break;
        if (newSubsection == 1) {
            W = Truncate(static_cast<float>(fullX) * (static_cast<float>(fullX) / static_cast<float>(W)));
            H = Truncate(static_cast<float>(fullY) * (static_cast<float>(fullY) / static_cast<float>(H)));
        }
        uint32_t W2, H2;
        if ((ulOptions & 1) == 0) {
            W2 = Truncate(static_cast<float>(W) * scale);
            H2 = Truncate(static_cast<float>(H) * scale);
            m_fZoom = m_fZoom * scale;
        } else {
            W2 = Truncate(static_cast<float>(fullX) * scale);
            H2 = Truncate(static_cast<float>(fullY) * scale);
            m_fZoom = scale;
        }
        uint32_t w, h, x = 0, y = 0, mode = 0;
        if (W2 >= fullX && W2 != 0 && H2 != 0) {
            w = Truncate(static_cast<float>(fullX) * (static_cast<float>(fullX) / static_cast<float>(W2)));
            h = Truncate(static_cast<float>(fullY) * (static_cast<float>(fullY) / static_cast<float>(H2)));
            x = ulX > w / 2 ? ulX - w / 2 : 0;
            y = ulY > h / 2 ? ulY - h / 2 : 0;
            mode = 1;
        } else {
            w = W2;
            h = H2;
        }
        uint32_t ignored;
        SetImageParams(x, y, w, h, mode, &ignored);
        raster::RECT rc;
        {
            px::CsLock display(m_csDisplay);
            rc = m_rcClient;
        }
        const int32_t windowWidth = rc.right - rc.left, windowHeight = rc.bottom - rc.top;
        if ((m_dwDisplayOptions & 1) == 0 || windowWidth <= 0 || windowHeight <= 0 ||
            w <= static_cast<uint32_t>(windowWidth) || w == lastWidth || m_dwError != PX_OK)
            break;
        lastWidth = w;
    }
}

HRESULT CPellixControl::SetImageParams(uint32_t offsetX, uint32_t offsetY, uint32_t sizeX, uint32_t sizeY,
                                       uint32_t subsection, uint32_t* pVal)
{
    {
        px::CsLock data(m_csData);
        m_dwNewOffsetX = offsetX;
        m_dwNewOffsetY = offsetY;
        m_dwNewSizeX = sizeX;
        m_dwNewSizeY = sizeY;
        m_dwNewSubsection = subsection;
    }
    const PXHANDLE h = m_hClient;
    PXForceTransferInProgress(h, StreamId());
    px::CsLock data(m_csData);
    bool done = false;
    if (IsStreamingImage()) {
        const uint32_t fullX = m_dwFullSizeX, fullY = m_dwFullSizeY;
        uint32_t mode = subsection <= 2 ? subsection : 1;
        uint32_t sx = sizeX < fullX ? sizeX : fullX, sy = sizeY < fullY ? sizeY : fullY;
        uint32_t ox = offsetX < fullX ? offsetX : fullX, oy = offsetY < fullY ? offsetY : fullY;
        if (mode == 0)
            ox = oy = 0;
        if (uint64_t{ox} + sx > fullX)
            ox = fullX - sx;
        if (uint64_t{oy} + sy > fullY)
            oy = fullY - sy;
        PXBufferInfo record;
        memset(&record, 0, sizeof record);
        m_dwError = PXGetExchangeBufferInfoStruct(h, StreamId(), &record);
        if (m_dwError == PX_OK) {
            record.image.sizeX = sx;
            record.image.sizeY = sy;
            record.image.dataSize = sx * sy * pximage::BytesPerPixel(record.image.format);
            record.image.offsetX = ox;
            record.image.offsetY = oy;
            record.image.subsection = mode;
            m_dwError = PXSetExchangeBufferInfoStruct(h, StreamId(), &record);
        }
        if (m_dwError == PX_OK)
            m_dwError = PXGetExchangeBufferInfoStruct(h, StreamId(), &record);
        if (m_dwError == PX_OK) {
            m_dwNewOffsetX = record.image.offsetX;
            m_dwNewOffsetY = record.image.offsetY;
            m_dwNewSizeX = record.image.sizeX;
            m_dwNewSizeY = record.image.sizeY;
            m_dwNewSubsection = record.image.subsection;
            done = true;
        }
    }
    if (done && m_dwNewSizeX != 0 && m_dwNewSizeY != 0 && m_dwFullSizeX != 0 && m_dwFullSizeY != 0) {
        const float fx = static_cast<float>(m_dwFullSizeX), fy = static_cast<float>(m_dwFullSizeY);
        const float nx = static_cast<float>(m_dwNewSizeX), ny = static_cast<float>(m_dwNewSizeY);
        if (m_dwNewSubsection != 0)
            m_pWrapper->FireOnScaleChange(fx / nx, fy / ny);
        else
            m_pWrapper->FireOnScaleChange(nx / fx, ny / fy);
    } else if (!done) {
        m_pWrapper->Invalidate();
    }
    if (pVal != nullptr)
        *pVal = m_dwError;
    return S_OK;
}

// ---- Tracing shapes and the region of interest ----------------------------------------------------

void CPellixControl::StartTrace(raster::POINT pt)
{
    m_ptTraceStart = pt;
    m_bTracing = 1;
    m_nTraceObjectId = -1;
    if (m_nTraceMode == 1)
        m_nRoiFrameId = -1;
    PlaceTraceShape(pt, false);
    DrawOverlay();
}

void CPellixControl::TraceTo(raster::POINT pt, bool finish)
{
    PlaceTraceShape(pt, finish);
    DrawOverlay();
    if (!finish)
        return;
    const bool region = m_nTraceMode == 1;
    m_nTraceMode = 0;
    m_bTracing = 0;
    if (region) {
        uint32_t fullX, fullY;
        {
            px::CsLock data(m_csData);
            fullX = m_dwFullSizeX;
            fullY = m_dwFullSizeY;
        }
        const SSize fit = FitAspect(Distance(m_ptTraceStart.x, pt.x), Distance(m_ptTraceStart.y, pt.y), fullX, fullY);
        int64_t x = m_ptTraceStart.x, y = m_ptTraceStart.y;
        if (m_ptTraceStart.x > pt.x)
            x -= fit.width;
        if (m_ptTraceStart.y > pt.y)
            y -= fit.height;
        const uint32_t mode = fit.height < fullY && fit.width < fullX ? 1 : 0;
        uint32_t ignored;
        SetImageParams(x > 0 ? static_cast<uint32_t>(x) : 0, y > 0 ? static_cast<uint32_t>(y) : 0, fit.width,
                       fit.height, mode, &ignored);
    }
}

void CPellixControl::PlaceTraceShape(raster::POINT pt, bool finish)
{
    const raster::POINT s = m_ptTraceStart;
    int32_t* id = &m_nTraceObjectId;
    const int32_t style = static_cast<int32_t>(m_nFontWeight * 8 | m_dwFontAttributes);
    switch (m_nTraceMode) {
    case 1: {
        constexpr raster::COLORREF kNone = 0xFFFFFFFF;
        if (finish) {
            // Both frames stay in the list, invisible, for the next region.
            AddOverlayRect(*id, s.x, s.y, pt.x, pt.y, 2, kNone, kNone, 0, id);
            AddOverlayRect(m_nRoiFrameId, s.x, s.y, pt.x, pt.y, 2, kNone, kNone, 0, &m_nRoiFrameId);
            break;
        }
        uint32_t fullX, fullY;
        {
            px::CsLock data(m_csData);
            fullX = m_dwFullSizeX;
            fullY = m_dwFullSizeY;
        }
        const SSize fit = FitAspect(Distance(s.x, pt.x), Distance(s.y, pt.y), fullX, fullY);
        const int32_t gx = pt.x >= s.x ? s.x + static_cast<int32_t>(fit.width) : s.x - static_cast<int32_t>(fit.width);
        const int32_t gy =
            pt.y >= s.y ? s.y + static_cast<int32_t>(fit.height) : s.y - static_cast<int32_t>(fit.height);
        AddOverlayRect(*id, s.x, s.y, pt.x, pt.y, 1, kNone, 255, 0, id);
        AddOverlayRect(m_nRoiFrameId, s.x, s.y, gx, gy, 1, kNone, 65280, 0, &m_nRoiFrameId);
        break;
    }
    case 2:
        AddOverlayRect(*id, s.x, s.y, pt.x, pt.y, m_usBorderSize, m_crBackground, m_crBorder, 0, id);
        break;
    case 3:
        AddOverlayEllipse(*id, s.x, s.y, pt.x, pt.y, m_usBorderSize, m_crBackground, m_crBorder, 0, id);
        break;
    case 4:
        AddOverlayPixel(*id, pt.x, pt.y, m_crBorder, 0, id);
        break;
    case 5:
        AddOverlayLine(*id, s.x, s.y, pt.x, pt.y, m_usBorderSize, m_crBorder, 0, id);
        break;
    case 6:
        AddOverlayText(*id, s.x, s.y, pt.x, pt.y, m_crBorder, m_crBackground, m_usFontSize, style, m_szFontName,
                       m_szTraceString, 0, id);
        break;
    default:
        break;
    }
}

// ---- The popup menu -------------------------------------------------------------------------------

void CPellixControl::PopupMenu(int32_t screenX, int32_t screenY, raster::POINT imagePoint)
{
    const uint16_t bits = m_usPopupMenuInteraction;
    const bool backEnd = m_nDisplayMode != 0;
    raster::COLORREF transparent = 0;
    if (backEnd) {
        px::CsLock display(m_csDisplay);
        if (m_pDisplay != nullptr)
            transparent = m_pDisplay->GetTransparentColor();
    }
    std::vector<SMenuNode> menu;
    auto group = [&](SMenuNode node) {
        if (!menu.empty())
            menu.push_back(Separator());
        menu.push_back(std::move(node));
    };
    if (bits & 0x01)
        group(Item(kCmdRoi, "Select new ROI"));
    if (bits & 0x02)
        group(Submenu("Zoom", {Item(kCmdZoomIn, "In"), Item(kCmdZoomOut, "Out")}));
    if (bits & 0x04)
        group(Item(kCmdCenter, "Center Image"));
    if (bits & 0x08) {
        group(m_lSpecialMouseInteraction == 0 ? Item(kCmdSpecialOn, "Enable Special Mouse Interaction")
                                              : Item(kCmdSpecialOff, "Disable Special Mouse Interaction"));
    }
    if (bits & 0x10) {
        menu.push_back(m_bShowFPS ? Submenu("Framerate Display",
                                            {Item(kCmdFpsOff, "Disable Framerate Display"), Separator(),
                                             Item(kCmdFpsCorner + 0, "Upper-Left Corner"),
                                             Item(kCmdFpsCorner + 1, "Upper-Right Corner"),
                                             Item(kCmdFpsCorner + 2, "Lower-Left Corner"),
                                             Item(kCmdFpsCorner + 3, "Lower-Right Corner")})
                                  : Item(kCmdFpsOn, "Enable Framerate Display"));
    }
    if ((bits & 0x20) && backEnd) {
        auto colours = [&](uint32_t base, raster::COLORREF current) {
            std::vector<SMenuNode> items;
            for (uint32_t i = 0; i < std::size(kColours); ++i) {
                const bool checked = kColours[i] == current || (i == kTransparentIndex && current == transparent);
                items.push_back(Item(base + i, kColourNames[i], checked));
            }
            return items;
        };
        std::vector<SMenuNode> sizes, weights, fonts, fontSizes;
        for (uint32_t i = 0; i <= 5; ++i)
            sizes.push_back(Item(kCmdBorderSize + i, std::to_string(i).c_str(), m_usBorderSize == i));
        for (uint32_t i = 0; i < std::size(kWeights); ++i)
            weights.push_back(Item(kCmdWeight + i, kWeights[i], m_nFontWeight == i));
        for (uint32_t i = 0; i < std::size(kFonts); ++i)
            fonts.push_back(Item(kCmdFont + i, kFonts[i], strcmp(m_szFontName, kFonts[i]) == 0));
        for (uint32_t i = 0; i < std::size(kFontSizes); ++i)
            fontSizes.push_back(Item(kCmdFontSize + i, std::to_string(kFontSizes[i]).c_str()));
        group(Submenu(
            "Overlays",
            {Submenu("Background Color", colours(kCmdBackground, m_crBackground)),
             Submenu("Border Color", colours(kCmdBorder, m_crBorder)), Submenu("Border Size", sizes),
             Submenu("String Settings",
                     {Submenu("Weight", weights),
                      Submenu("Attribute", {Item(kCmdAttribute + 2, "Italic", (m_dwFontAttributes & 2) != 0),
                                            Item(kCmdAttribute + 1, "Underline", (m_dwFontAttributes & 1) != 0),
                                            Item(kCmdAttribute + 4, "Strikeout", (m_dwFontAttributes & 4) != 0)}),
                      Submenu("Font", fonts), Submenu("Size", fontSizes), Item(kCmdString, "Set String to Write")}),
             Separator(), Item(kCmdTrace + 2, "Trace Rectangle"), Item(kCmdTrace + 3, "Trace Ellipse"),
             Item(kCmdTrace + 5, "Trace Line"), Item(kCmdTrace + 4, "Trace Pixels"),
             Item(kCmdTrace + 6, "Trace String"), Separator(), Item(kCmdClearOverlays, "Clear Overlays"),
             Item(kCmdHideOverlays, "Hide Overlays"), Item(kCmdShowOverlays, "Show Overlays")}));
    }
    if (bits & 0x40)
        group(Item(kCmdSave, "Save Image"));
    if (bits & 0x80)
        group(Item(kCmdCopy, "Copy Image"));

    std::deque<std::vector<PXMenuItem>> storage;
    const PXMenuItem* items = ToHostItems(menu, &storage);
    const uint32_t command = m_pWrapper->TrackMenu(items, static_cast<uint32_t>(menu.size()), screenX, screenY);
    OnMenuCommand(command, imagePoint, transparent);
}

void CPellixControl::OnMenuCommand(uint32_t command, raster::POINT imagePoint, raster::COLORREF transparent)
{
    const uint32_t index = command & 0xFF;
    switch (command & 0xFF00) {
    case kCmdSave: {
        uint32_t ignored;
        SaveImage(0, "", &ignored);
        break;
    }
    case kCmdFpsOn:
    case kCmdFpsOff:
        m_bShowFPS = command == kCmdFpsOn ? 1 : 0;
        break;
    case kCmdSpecialOn:
    case kCmdSpecialOff:
        m_lSpecialMouseInteraction = command == kCmdSpecialOn ? 1 : 0;
        break;
    case kCmdFpsCorner:
        m_usFPSCorner = static_cast<uint16_t>(index > 3 ? 0 : index);
        break;
    case kCmdClearOverlays:
        ClearOverlay();
        break;
    case kCmdShowOverlays:
        DrawOverlay();
        break;
    case kCmdHideOverlays:
        if (m_nDisplayMode >= 1) {
            px::CsLock display(m_csDisplay);
            if (m_pDisplay != nullptr)
                m_pDisplay->ClearOverlay();
        }
        break;
    case kCmdTrace:
        m_nTraceMode = static_cast<int32_t>(index);
        break;
    case kCmdBackground:
    case kCmdBorder:
        if (index < std::size(kColours)) {
            const raster::COLORREF colour = index == kTransparentIndex ? transparent : kColours[index];
            ((command & 0xFF00) == kCmdBackground ? m_crBackground : m_crBorder) = colour;
        }
        break;
    case kCmdBorderSize:
        m_usBorderSize = static_cast<uint16_t>(index);
        break;
    case kCmdRoi:
        m_nTraceMode = 1;
        break;
    case kCmdZoomIn:
        Zoom(imagePoint, 2.0f, 0);
        break;
    case kCmdZoomOut:
        Zoom(imagePoint, 0.5f, 0);
        break;
    case kCmdCenter:
        Zoom(imagePoint, 1.0f, 0);
        break;
    case kCmdWeight:
        if (index < std::size(kWeights))
            m_nFontWeight = index;
        break;
    case kCmdAttribute:
        m_dwFontAttributes ^= index & 7;
        break;
    case kCmdFont:
        if (index < std::size(kFonts)) {
            m_szFontName[0] = '\0';
            strncat(m_szFontName, kFonts[index], sizeof m_szFontName - 1);
        }
        break;
    case kCmdFontSize:
        if (index < std::size(kFontSizes))
            m_usFontSize = kFontSizes[index];
        break;
    case kCmdString:
        AskTraceString();
        break;
    case kCmdCopy:
        CopyImage();
        break;
    default:
        break;
    }
}

void CPellixControl::AskTraceString()
{
    char text[kDialogTextSize];
    {
        px::CsLock lock(g_csDialogText);
        memcpy(text, g_szDialogText, sizeof text);
    }
    const bool ok = m_pWrapper->TextDialog("Set Overlay String", "Enter the string to write", text, sizeof text);
    px::CsLock lock(g_csDialogText);
    if (ok) {
        text[sizeof text - 1] = '\0';
        memcpy(g_szDialogText, text, sizeof text);
    }
    m_szTraceString[0] = '\0';
    strncat(m_szTraceString, g_szDialogText, sizeof m_szTraceString - 1);
}

} // namespace pxcontrol
