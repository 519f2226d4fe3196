// PellixView: the widget's members over the control's C interface; the window services behind
// it are CQtWindowHost's (see QtWindowHost.h for who owns what and which thread runs where).
#include "pellix/PellixView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QSettings>

#include <memory>
#include <vector>

#include "hosting/qt/QtVariant.h"
#include "hosting/qt/QtWindowHost.h"

using pxhost::CArgList;
using pxhost::HostValue;

namespace {

QString GroupOf(const PellixView& view, const QString& group)
{
    if (!group.isEmpty())
        return group;
    return view.objectName().isEmpty() ? QStringLiteral("PellixView") : view.objectName();
}

// The persisted values that are texts; the others are numbers. A settings file keeps every
// value as text, so the name, not the stored type, says which.
bool IsTextProperty(const char* name)
{
    const QLatin1StringView n(name);
    return n == QLatin1StringView("ServerAddress") || n == QLatin1StringView("ClientName") ||
           n == QLatin1StringView("BufferId");
}

// Booleans go to the control as the 16-bit 1 or 0 its flags hold.
QVariant Flag(bool on) { return QVariant::fromValue<qint16>(on ? 1 : 0); }

} // namespace

PellixView::PellixView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    // Right clicks reach the control as mouse messages; it opens its own menu.
    setContextMenuPolicy(Qt::PreventContextMenu);
    m_pHost = new pxqt::CQtWindowHost(
        this, [this](int32_t dispid, const PXVariant* args, uint32_t argc) { FireEvent(dispid, args, argc); });
}

PellixView::~PellixView()
{
    // While this is still a PellixView: stopping may fire events into its signals.
    m_pHost->DestroyControl();
}

int PellixView::Invoke(int dispid, unsigned kind, const QVariantList& args, QVariant* result)
{
    std::vector<HostValue> values;
    for (const QVariant& arg : args)
        values.push_back(pxqt::ToHostValue(arg));
    CArgList list(std::move(values));
    PXVariant out{};
    const int32_t hr = PXControlInvoke(m_pHost->Control(), dispid, kind, list.Data(), list.Count(),
                                       result != nullptr ? &out : nullptr);
    if (result != nullptr) {
        *result = pxqt::ToQVariant(HostValue::From(out));
        PXVariantClear(&out);
    }
    return hr;
}

int PellixView::DispIdOfName(const QString& name) { return PXControlDispIdOfName(name.toUtf8().constData()); }

QVariant PellixView::Get(int dispid)
{
    QVariant value;
    Invoke(dispid, PX_INVOKE_PROPERTYGET, {}, &value);
    return value;
}

void PellixView::Put(int dispid, const QVariant& value) { Invoke(dispid, PX_INVOKE_PROPERTYPUT, {value}); }

QVariant PellixView::Call(int dispid, const QVariantList& args)
{
    QVariant value;
    Invoke(dispid, PX_INVOKE_METHOD, args, &value);
    return value;
}

// ---- persistence -----------------------------------------------------------------------------

int PellixView::SaveProperties(QSettings& settings, const QString& group)
{
    settings.beginGroup(GroupOf(*this, group));
    const int32_t hr = PXControlSaveProperties(
        m_pHost->Control(),
        [](void* ctx, const char* name, const PXVariant* v) {
            const HostValue value = HostValue::From(*v);
            static_cast<QSettings*>(ctx)->setValue(QString::fromUtf8(name),
                                                   value.IsText() ? QVariant(QString::fromStdString(value.strText))
                                                                  : QVariant(qlonglong(value.Int())));
        },
        &settings);
    settings.endGroup();
    return hr;
}

int PellixView::LoadProperties(QSettings& settings, const QString& group)
{
    struct Reader {
        QSettings* pSettings;
        std::unique_ptr<CArgList> pLast;   // the value handed out last, alive until the next
    } reader{&settings, nullptr};
    settings.beginGroup(GroupOf(*this, group));
    const int32_t hr = PXControlLoadProperties(
        m_pHost->Control(),
        [](void* ctx, const char* name, PXVariant* v) -> int {
            Reader* r = static_cast<Reader*>(ctx);
            const QString key = QString::fromUtf8(name);
            if (!r->pSettings->contains(key))
                return 0;
            const QVariant stored = r->pSettings->value(key);
            HostValue value;
            if (IsTextProperty(name)) {
                value = HostValue::Text(stored.toString().toStdString());
            } else {
                bool ok = false;
                const qlonglong number = stored.toLongLong(&ok);
                if (!ok)
                    return 0;   // not a number: the present value stays
                value = HostValue::Of(PX_VT_I8, number);
            }
            r->pLast = std::make_unique<CArgList>(std::vector<HostValue>{value});
            *v = r->pLast->Data()[0];
            return 1;
        },
        &reader);
    settings.endGroup();
    return hr;
}

QSize PellixView::sizeHint() const { return QSize(320, 240); }

// ---- the window ------------------------------------------------------------------------------

void PellixView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    m_pHost->Paint(painter);
}

void PellixView::resizeEvent(QResizeEvent* event)
{
    m_pHost->Resize(width(), height());
    QWidget::resizeEvent(event);
}

void PellixView::showEvent(QShowEvent* event)
{
    m_pHost->CreateWindow();
    QWidget::showEvent(event);
}

bool PellixView::Mouse(QMouseEvent* event, uint32_t msg)
{
    uint32_t keys = 0;
    const Qt::MouseButtons buttons = event->buttons();
    if (buttons & Qt::LeftButton)
        keys |= PX_MK_LBUTTON;
    if (buttons & Qt::RightButton)
        keys |= PX_MK_RBUTTON;
    if (buttons & Qt::MiddleButton)
        keys |= PX_MK_MBUTTON;
    if (event->modifiers() & Qt::ShiftModifier)
        keys |= PX_MK_SHIFT;
    if (event->modifiers() & Qt::ControlModifier)
        keys |= PX_MK_CONTROL;
    const QPoint at = event->position().toPoint();
    return m_pHost->WindowMessage(msg, keys, PX_MOUSE_LPARAM(at.x(), at.y())) != 0;
}

void PellixView::mousePressEvent(QMouseEvent* event)
{
    const uint32_t msg = event->button() == Qt::LeftButton    ? PX_WM_LBUTTONDOWN
                         : event->button() == Qt::RightButton ? PX_WM_RBUTTONDOWN
                         : event->button() == Qt::MiddleButton ? PX_WM_MBUTTONDOWN
                                                                : 0;
    if (msg == 0 || !Mouse(event, msg))
        QWidget::mousePressEvent(event);
}

void PellixView::mouseReleaseEvent(QMouseEvent* event)
{
    const uint32_t msg = event->button() == Qt::LeftButton    ? PX_WM_LBUTTONUP
                         : event->button() == Qt::RightButton ? PX_WM_RBUTTONUP
                         : event->button() == Qt::MiddleButton ? PX_WM_MBUTTONUP
                                                                : 0;
    if (msg == 0 || !Mouse(event, msg))
        QWidget::mouseReleaseEvent(event);
}

void PellixView::mouseMoveEvent(QMouseEvent* event)
{
    if (!Mouse(event, PX_WM_MOUSEMOVE))
        QWidget::mouseMoveEvent(event);
}

// ---- events ----------------------------------------------------------------------------------

void PellixView::FireEvent(int32_t dispid, const PXVariant* args, uint32_t argc)
{
    auto arg = [&](uint32_t i) { return args != nullptr && i < argc ? HostValue::From(args[i]) : HostValue(); };
    auto text = [&](uint32_t i) { return QString::fromStdString(arg(i).strText); };
    auto integer = [&](uint32_t i) { return static_cast<int>(arg(i).Int()); };
    switch (dispid) {
    case PXEVENT_OnTextReceived: emit OnTextReceived(text(0)); break;
    case PXEVENT_OnListUpdate: emit OnListUpdate(text(0)); break;
    case PXEVENT_OnMouseDown: emit OnMouseDown(integer(0), integer(1), integer(2)); break;
    case PXEVENT_OnMouseUp: emit OnMouseUp(integer(0), integer(1), integer(2)); break;
    case PXEVENT_OnMouseMove: emit OnMouseMove(integer(0), integer(1)); break;
    case PXEVENT_OnArrayReceived: emit OnArrayReceived(pxqt::ToQVariant(arg(0))); break;
    case PXEVENT_OnHistogramReceived: emit OnHistogramReceived(pxqt::ToQVariant(arg(0))); break;
    case PXEVENT_OnImageReceived: emit OnImageReceived(arg(0).ullVal, arg(1).ullVal); break;
    case PXEVENT_OnDataReceive: emit OnDataReceive(text(0)); break;
    case PXEVENT_OnScaleChange:
        emit OnScaleChange(static_cast<float>(arg(0).Real()), static_cast<float>(arg(1).Real()));
        break;
    case PXEVENT_OnError: emit OnError(static_cast<uint>(arg(0).Int()), text(1)); break;
    default: break;
    }
}

// ---- properties ------------------------------------------------------------------------------

QString PellixView::ServerAddress() { return Get(PXDISPID_ServerAddress).toString(); }
void PellixView::SetServerAddress(const QString& address) { Put(PXDISPID_ServerAddress, address); }
bool PellixView::Agent() { return Get(PXDISPID_Agent).toInt() != 0; }
void PellixView::SetAgent(bool agent) { Put(PXDISPID_Agent, Flag(agent)); }
int PellixView::Port() { return Get(PXDISPID_Port).toInt(); }
void PellixView::SetPort(int port) { Put(PXDISPID_Port, port); }
QString PellixView::ClientName() { return Get(PXDISPID_ClientName).toString(); }
void PellixView::SetClientName(const QString& name) { Put(PXDISPID_ClientName, name); }
bool PellixView::Visible() { return Get(PXDISPID_Visible).toInt() != 0; }
void PellixView::SetVisible(bool visible) { Put(PXDISPID_Visible, Flag(visible)); }
bool PellixView::ShowFPS() { return Get(PXDISPID_ShowFPS).toInt() != 0; }
void PellixView::SetShowFPS(bool show) { Put(PXDISPID_ShowFPS, Flag(show)); }
QString PellixView::BufferId() { return Get(PXDISPID_BufferId).toString(); }
void PellixView::SetBufferId(const QString& id) { Put(PXDISPID_BufferId, id); }
int PellixView::BufferSizeX() { return Get(PXDISPID_BufferSizeX).toInt(); }
void PellixView::SetBufferSizeX(int size) { Put(PXDISPID_BufferSizeX, size); }
int PellixView::BufferSizeY() { return Get(PXDISPID_BufferSizeY).toInt(); }
void PellixView::SetBufferSizeY(int size) { Put(PXDISPID_BufferSizeY, size); }
int PellixView::BufferOffsetX() { return Get(PXDISPID_BufferOffsetX).toInt(); }
void PellixView::SetBufferOffsetX(int offset) { Put(PXDISPID_BufferOffsetX, offset); }
int PellixView::BufferOffsetY() { return Get(PXDISPID_BufferOffsetY).toInt(); }
void PellixView::SetBufferOffsetY(int offset) { Put(PXDISPID_BufferOffsetY, offset); }
int PellixView::Subsection() { return Get(PXDISPID_Subsection).toInt(); }
void PellixView::SetSubsection(int mode) { Put(PXDISPID_Subsection, mode); }
int PellixView::MaxTimeout() { return Get(PXDISPID_MaxTimeout).toInt(); }
void PellixView::SetMaxTimeout(int timeout) { Put(PXDISPID_MaxTimeout, timeout); }
bool PellixView::LOGScale() { return Get(PXDISPID_LOGScale).toInt() != 0; }
void PellixView::SetLOGScale(bool on) { Put(PXDISPID_LOGScale, Flag(on)); }
bool PellixView::ManualStart() { return Get(PXDISPID_ManualStart).toInt() != 0; }
void PellixView::SetManualStart(bool manual) { Put(PXDISPID_ManualStart, Flag(manual)); }
int PellixView::FPSRefreshDelay() { return Get(PXDISPID_FPSRefreshDelay).toInt(); }
void PellixView::SetFPSRefreshDelay(int ms) { Put(PXDISPID_FPSRefreshDelay, ms); }
int PellixView::BufferListUpdatePeriod() { return Get(PXDISPID_BufferListUpdatePeriod).toInt(); }
void PellixView::SetBufferListUpdatePeriod(int ms) { Put(PXDISPID_BufferListUpdatePeriod, ms); }
int PellixView::FPSCorner() { return Get(PXDISPID_FPSCorner).toInt(); }
void PellixView::SetFPSCorner(int corner) { Put(PXDISPID_FPSCorner, corner); }
int PellixView::SpecialMouseInteraction() { return Get(PXDISPID_SpecialMouseInteraction).toInt(); }
void PellixView::SetSpecialMouseInteraction(int mode) { Put(PXDISPID_SpecialMouseInteraction, mode); }
int PellixView::PopupMenuInteraction() { return Get(PXDISPID_PopupMenuInteraction).toInt(); }
void PellixView::SetPopupMenuInteraction(int flags) { Put(PXDISPID_PopupMenuInteraction, flags); }
uint PellixView::SerialCounter() { return Get(PXDISPID_SerialCounter).toUInt(); }
uint PellixView::SerialCounterHigh() { return Get(PXDISPID_SerialCounterHigh).toUInt(); }
int PellixView::DisplayOptions() { return Get(PXDISPID_DisplayOptions).toInt(); }
void PellixView::SetDisplayOptions(int options) { Put(PXDISPID_DisplayOptions, options); }
uint PellixView::LinkedAgentID() { return Get(PXDISPID_LinkedAgentID).toUInt(); }
void PellixView::SetLinkedAgentID(uint id) { Put(PXDISPID_LinkedAgentID, id); }

// ---- methods ---------------------------------------------------------------------------------

void PellixView::DisplayVariables() { Call(PXDISPID_DisplayVariables); }
int PellixView::GetFullSizeX() { return Call(PXDISPID_GetFullSizeX).toInt(); }
int PellixView::GetFullSizeY() { return Call(PXDISPID_GetFullSizeY).toInt(); }
int PellixView::SendInput(int input) { return Call(PXDISPID_SendInput, {input}).toInt(); }
QString PellixView::GetBufferList() { return Call(PXDISPID_GetBufferList).toString(); }
int PellixView::RegisterDataCallback(const QVariant& callback)
{
    return Invoke(PXDISPID_RegisterDataCallback, PX_INVOKE_METHOD, {callback});
}
int PellixView::SetImageParams(int offsetX, int offsetY, int sizeX, int sizeY, int subsection)
{
    return Call(PXDISPID_SetImageParams, {offsetX, offsetY, sizeX, sizeY, subsection}).toInt();
}
int PellixView::GetFullSizeBand() { return Call(PXDISPID_GetFullSizeBand).toInt(); }
int PellixView::Start() { return Call(PXDISPID_Start).toInt(); }
float PellixView::GetDisplayRate() { return Call(PXDISPID_GetDisplayRate).toFloat(); }
int PellixView::GetNewBufferSizeX() { return Call(PXDISPID_GetNewBufferSizeX).toInt(); }
int PellixView::GetNewBufferSizeY() { return Call(PXDISPID_GetNewBufferSizeY).toInt(); }
int PellixView::GetNewBufferOffsetX() { return Call(PXDISPID_GetNewBufferOffsetX).toInt(); }
int PellixView::GetNewBufferOffsetY() { return Call(PXDISPID_GetNewBufferOffsetY).toInt(); }
int PellixView::GetNewSubsection() { return Call(PXDISPID_GetNewSubsection).toInt(); }
int PellixView::RegisterListUpdateCallback(const QVariant& callback)
{
    return Invoke(PXDISPID_RegisterListUpdateCallback, PX_INVOKE_METHOD, {callback});
}
int PellixView::SendInputString(const QString& input) { return Call(PXDISPID_SendInputString, {input}).toInt(); }
int PellixView::Stop() { return Call(PXDISPID_Stop).toInt(); }
QString PellixView::GetErrorMessage() { return Call(PXDISPID_GetErrorMessage).toString(); }
int PellixView::GetBufferType() { return Call(PXDISPID_GetBufferType).toInt(); }
int PellixView::GetBufferAttribute() { return Call(PXDISPID_GetBufferAttribute).toInt(); }
int PellixView::GetBufferSize() { return Call(PXDISPID_GetBufferSize).toInt(); }
quint64 PellixView::GetBufferDataPtr() { return Call(PXDISPID_GetBufferDataPtr).toULongLong(); }
int PellixView::GetConnected() { return Call(PXDISPID_GetConnected).toInt(); }
int PellixView::AddOverlayRect(int id, int x1, int y1, int x2, int y2, int width, uint color, uint bColor,
                               int attribute)
{
    return Call(PXDISPID_AddOverlayRect, {id, x1, y1, x2, y2, width, color, bColor, attribute}).toInt();
}
void PellixView::ClearOverlay() { Call(PXDISPID_ClearOverlay); }
int PellixView::AddOverlayEllipse(int id, int x1, int y1, int x2, int y2, int width, uint color, uint bColor,
                                  int attribute)
{
    return Call(PXDISPID_AddOverlayEllipse, {id, x1, y1, x2, y2, width, color, bColor, attribute}).toInt();
}
int PellixView::AddOverlayLine(int id, int x1, int y1, int x2, int y2, int width, uint color, int attribute)
{
    return Call(PXDISPID_AddOverlayLine, {id, x1, y1, x2, y2, width, color, attribute}).toInt();
}
int PellixView::AddOverlayPixel(int id, int x, int y, uint color, int attribute)
{
    return Call(PXDISPID_AddOverlayPixel, {id, x, y, color, attribute}).toInt();
}
int PellixView::AddOverlayText(int id, int x1, int y1, int x2, int y2, uint color, uint bkColor, int size, int style,
                               const QString& font, const QString& text, int attribute)
{
    return Call(PXDISPID_AddOverlayText, {id, x1, y1, x2, y2, color, bkColor, size, style, font, text, attribute})
        .toInt();
}
void PellixView::DrawOverlay() { Call(PXDISPID_DrawOverlay); }
// The colour comes back as the call's own result, not in the result variant.
uint PellixView::GetOverlayTransparentColor()
{
    return static_cast<uint>(Invoke(PXDISPID_GetOverlayTransparentColor, PX_INVOKE_METHOD));
}
void PellixView::SetOverlayTransparentColor(uint ck) { Call(PXDISPID_SetOverlayTransparentColor, {ck}); }
void PellixView::RemoveOverlayObject(int id) { Call(PXDISPID_RemoveOverlayObject, {id}); }
QString PellixView::GetVersion() { return Call(PXDISPID_GetVersion).toString(); }
int PellixView::SendInputArray(const QVariantList& values)
{
    return Call(PXDISPID_SendInputArray, {QVariant(values)}).toInt();
}
void PellixView::LockDataPtr() { Call(PXDISPID_LockDataPtr); }
void PellixView::UnlockDataPtr() { Call(PXDISPID_UnlockDataPtr); }
quint64 PellixView::GetBufferDIBHeaderPtr() { return Call(PXDISPID_GetBufferDIBHeaderPtr).toULongLong(); }
int PellixView::GetNumberOfClient() { return Call(PXDISPID_GetNumberOfClient).toInt(); }
int PellixView::SendInputWString(const QString& input) { return Call(PXDISPID_SendInputWString, {input}).toInt(); }
int PellixView::ZoomOnPoint(int x, int y, float scale, int options)
{
    return Call(PXDISPID_ZoomOnPoint, {x, y, scale, options}).toInt();
}
uint PellixView::GetClientID() { return Call(PXDISPID_GetClientID).toUInt(); }
int PellixView::SaveImage(int type, const QString& fileName) { return Call(PXDISPID_SaveImage, {type, fileName}).toInt(); }
