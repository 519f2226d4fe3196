// PellixView: the Pellix viewer control as a Qt 6 widget (libpellixqt; pkg-config pellixqt, or
// find_package(PellixQt) in CMake).
//
// The widget owns one viewer control, reached through the control's C interface
// (pellix/pellix_control.h), and lends it a window: a pixel surface of the widget's size that
// the control paints into, the widget's resizes and mouse events, timers, Qt's popup menu,
// dialogs, message boxes and clipboard. The control connects to one exchange buffer of a Kelvo
// camera, reads it on threads of its own and shows it; this class's properties, slots and
// signals are the control's members and events under their own names.
//
// Use it on the GUI thread only, as any widget. Set at least ServerAddress, Port and BufferId
// (or LoadProperties) before the widget is first shown: showing it creates the control's window,
// which starts the control unless ManualStart is set; otherwise call Start(). Destroying the
// widget stops the control.
//
// Signals are emitted on the GUI thread. OnImageReceived hands out the addresses of the converted
// image's bitmap header and pixels, valid only until the slot returns (the control holds its data
// lock meanwhile): connect it directly, never through a queued connection.
//
// The members "width" and "height" of the control are the same value as BufferSizeX and
// BufferSizeY; they are not declared as Qt properties here because QWidget's own width and height
// carry those names. Every member, these included, is also reachable by DISPID through Invoke.
#pragma once

#include <QString>
#include <QVariant>
#include <QWidget>

#include <cstdint>

#include "pellix/pellix_control.h"

#if defined(PELLIX_QT_BUILDING)
#define PELLIX_QT_API Q_DECL_EXPORT
#else
#define PELLIX_QT_API Q_DECL_IMPORT
#endif

class QSettings;

namespace pxqt {
class CQtWindowHost;
}

class PELLIX_QT_API PellixView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString ServerAddress READ ServerAddress WRITE SetServerAddress)
    Q_PROPERTY(bool Agent READ Agent WRITE SetAgent)
    Q_PROPERTY(int Port READ Port WRITE SetPort)
    Q_PROPERTY(QString ClientName READ ClientName WRITE SetClientName)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(bool ShowFPS READ ShowFPS WRITE SetShowFPS)
    Q_PROPERTY(QString BufferId READ BufferId WRITE SetBufferId)
    Q_PROPERTY(int BufferSizeX READ BufferSizeX WRITE SetBufferSizeX)
    Q_PROPERTY(int BufferSizeY READ BufferSizeY WRITE SetBufferSizeY)
    Q_PROPERTY(int BufferOffsetX READ BufferOffsetX WRITE SetBufferOffsetX)
    Q_PROPERTY(int BufferOffsetY READ BufferOffsetY WRITE SetBufferOffsetY)
    Q_PROPERTY(int Subsection READ Subsection WRITE SetSubsection)
    Q_PROPERTY(int MaxTimeout READ MaxTimeout WRITE SetMaxTimeout)
    Q_PROPERTY(bool LOGScale READ LOGScale WRITE SetLOGScale)
    Q_PROPERTY(bool ManualStart READ ManualStart WRITE SetManualStart)
    Q_PROPERTY(int FPSRefreshDelay READ FPSRefreshDelay WRITE SetFPSRefreshDelay)
    Q_PROPERTY(int BufferListUpdatePeriod READ BufferListUpdatePeriod WRITE SetBufferListUpdatePeriod)
    Q_PROPERTY(int FPSCorner READ FPSCorner WRITE SetFPSCorner)
    Q_PROPERTY(int SpecialMouseInteraction READ SpecialMouseInteraction WRITE SetSpecialMouseInteraction)
    Q_PROPERTY(int PopupMenuInteraction READ PopupMenuInteraction WRITE SetPopupMenuInteraction)
    Q_PROPERTY(uint SerialCounter READ SerialCounter)
    Q_PROPERTY(uint SerialCounterHigh READ SerialCounterHigh)
    Q_PROPERTY(int DisplayOptions READ DisplayOptions WRITE SetDisplayOptions)
    Q_PROPERTY(uint LinkedAgentID READ LinkedAgentID WRITE SetLinkedAgentID)

public:
    explicit PellixView(QWidget* parent = nullptr);
    ~PellixView() override;

    // Any member by DISPID (PXDISPID_...) with kind PX_INVOKE_METHOD, _PROPERTYGET or
    // _PROPERTYPUT. Arguments: integers (bool, int, uint, qlonglong, ...), float, double, QString
    // and QVariantList (an array of variants); an invalid QVariant is EMPTY. The result, when
    // asked for: int, uint, qint16, float, QString, qulonglong (addresses) or QVariantList.
    // Returns the control's HRESULT (PX_S_OK, PX_DISP_E_MEMBERNOTFOUND, ...).
    int Invoke(int dispid, unsigned kind, const QVariantList& args = {}, QVariant* result = nullptr);
    // The DISPID of a member by its name, -1 when there is none.
    static int DispIdOfName(const QString& name);

    // Persistence through QSettings, one group per widget (the group given, else the widget's
    // objectName, else "PellixView"), in the control's order. Both return PX_S_OK or the failing
    // member's HRESULT.
    int SaveProperties(QSettings& settings, const QString& group = QString());
    int LoadProperties(QSettings& settings, const QString& group = QString());

    QSize sizeHint() const override;

    // Properties.
    QString ServerAddress();
    void SetServerAddress(const QString& address);
    bool Agent();
    void SetAgent(bool agent);
    int Port();
    void SetPort(int port);
    QString ClientName();
    void SetClientName(const QString& name);
    bool Visible();
    void SetVisible(bool visible);
    bool ShowFPS();
    void SetShowFPS(bool show);
    QString BufferId();
    void SetBufferId(const QString& id);
    int BufferSizeX();
    void SetBufferSizeX(int size);
    int BufferSizeY();
    void SetBufferSizeY(int size);
    int BufferOffsetX();
    void SetBufferOffsetX(int offset);
    int BufferOffsetY();
    void SetBufferOffsetY(int offset);
    int Subsection();
    void SetSubsection(int mode);
    int MaxTimeout();
    void SetMaxTimeout(int timeout);
    bool LOGScale();
    void SetLOGScale(bool on);
    bool ManualStart();
    void SetManualStart(bool manual);
    int FPSRefreshDelay();
    void SetFPSRefreshDelay(int ms);
    int BufferListUpdatePeriod();
    void SetBufferListUpdatePeriod(int ms);
    int FPSCorner();
    void SetFPSCorner(int corner);
    int SpecialMouseInteraction();
    void SetSpecialMouseInteraction(int mode);
    int PopupMenuInteraction();
    void SetPopupMenuInteraction(int flags);
    uint SerialCounter();
    uint SerialCounterHigh();
    int DisplayOptions();
    void SetDisplayOptions(int options);
    uint LinkedAgentID();
    void SetLinkedAgentID(uint id);

public slots:
    // Methods; "code" results are the control's result codes (0 success, 2000 and up failures).
    void DisplayVariables();
    int GetFullSizeX();
    int GetFullSizeY();
    int SendInput(int input);
    QString GetBufferList();
    int RegisterDataCallback(const QVariant& callback);   // PX_E_NOTIMPL
    int SetImageParams(int offsetX, int offsetY, int sizeX, int sizeY, int subsection);
    int GetFullSizeBand();
    int Start();
    float GetDisplayRate();
    int GetNewBufferSizeX();
    int GetNewBufferSizeY();
    int GetNewBufferOffsetX();
    int GetNewBufferOffsetY();
    int GetNewSubsection();
    int RegisterListUpdateCallback(const QVariant& callback);   // PX_E_NOTIMPL
    int SendInputString(const QString& input);
    int Stop();
    QString GetErrorMessage();
    int GetBufferType();
    int GetBufferAttribute();
    int GetBufferSize();
    quint64 GetBufferDataPtr();
    int GetConnected();
    int AddOverlayRect(int id, int x1, int y1, int x2, int y2, int width, uint color, uint bColor, int attribute);
    void ClearOverlay();
    int AddOverlayEllipse(int id, int x1, int y1, int x2, int y2, int width, uint color, uint bColor, int attribute);
    int AddOverlayLine(int id, int x1, int y1, int x2, int y2, int width, uint color, int attribute);
    int AddOverlayPixel(int id, int x, int y, uint color, int attribute);
    int AddOverlayText(int id, int x1, int y1, int x2, int y2, uint color, uint bkColor, int size, int style,
                       const QString& font, const QString& text, int attribute);
    void DrawOverlay();
    uint GetOverlayTransparentColor();
    void SetOverlayTransparentColor(uint ck);
    void RemoveOverlayObject(int id);
    QString GetVersion();
    int SendInputArray(const QVariantList& values);
    void LockDataPtr();
    void UnlockDataPtr();
    quint64 GetBufferDIBHeaderPtr();
    int GetNumberOfClient();
    int SendInputWString(const QString& input);
    int ZoomOnPoint(int x, int y, float scale, int options);
    uint GetClientID();
    // 1 when a file was written; an empty name asks with the save dialog.
    int SaveImage(int type, const QString& fileName);

signals:
    void OnTextReceived(const QString& text);
    void OnListUpdate(const QString& text);
    void OnMouseDown(int x, int y, int button);
    void OnMouseUp(int x, int y, int button);
    void OnMouseMove(int x, int y);
    // A QVariantList of typed values, or a QString when the array held a text.
    void OnArrayReceived(const QVariant& array);
    void OnHistogramReceived(const QVariant& histogram);
    void OnImageReceived(quint64 pDIBHeader, quint64 pDIB);
    void OnDataReceive(const QString& text);
    void OnScaleChange(float fScaleX, float fScaleY);
    void OnError(uint ulError, const QString& errorMessage);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QVariant Get(int dispid);
    void Put(int dispid, const QVariant& value);
    QVariant Call(int dispid, const QVariantList& args = {});
    void FireEvent(int32_t dispid, const PXVariant* args, uint32_t argc);
    bool Mouse(QMouseEvent* event, uint32_t msg);

    pxqt::CQtWindowHost* m_pHost;   // a child object
};
