// pellix-view: a window that shows one exchange buffer of a camera through the viewer control's
// Qt widget (PellixView), with a status line and the control's own popup menu.
//
//   pellix-view [camera] [-b ID] [--agent] [--roi X,Y,W,H] [--backend MODE] [--overlay FILE]
//               [--screenshot FILE --frames N]
//
// The camera is a dotted IPv4 address or a host name; without one kelvo-sim runs in this process
// and serves the default camera. -b names the buffer (default: the first image buffer of the
// camera's list), --agent follows the camera's buffer list instead of showing a buffer, --roi asks
// for a window of the full image. --backend chooses the control's display (UseDDraw in a
// configuration layer of this process over the user's: gdi, soft, gl or auto), --overlay puts
// the graphics of an overlay script up (OverlayScript.h) as a host program would: when the first
// picture gives the full image size, and again whenever that size changes. With --screenshot the program grabs the widget into FILE (PNG)
// once N frames have arrived and ends, so that it also runs on the off-screen platform
// (QT_QPA_PLATFORM=offscreen). Exit status: 0, 1 on a failure (with a message), 2 for usage.
//
// Threads: the GUI thread runs the window and the control's calls; the control's and the
// library's worker threads and (without a camera) the simulator's threads run beside it.
#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QMainWindow>
#include <QPixmap>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

#include "pellix/PellixView.h"
#include "pellix/pellix.h"
#include "tools/OverlayScript.h"
#include "tools/ToolSupport.h"

namespace {

// A screenshot waits this long for its frames before it gives up.
constexpr int kScreenshotPatienceMs = 120000;

struct ViewOptions {
    pxtool::CameraAddress camera;
    QString strBufferId;
    bool bAgent = false;
    bool bRoi = false;
    int roi[4] = {0, 0, 0, 0};
    QString strScreenshot;
    int frames = 0;
    int displayMode = -1;   // UseDDraw, -1: as the configuration says
    QString strOverlay;
};

// --backend's names for the configuration's UseDDraw values.
struct DisplayName {
    const char* name;
    int useDDraw;
};
constexpr DisplayName kDisplays[] = {{"auto", 1}, {"gdi", 0}, {"soft", 7}, {"gl", 9}};

const char kUsage[] = "usage: pellix-view [camera] [-b ID] [--agent] [--roi X,Y,W,H] [--backend auto|gdi|soft|gl]\n"
                      "                   [--overlay FILE] [--screenshot FILE --frames N]\n";

const char kDescription[] =
    "Shows one exchange buffer of a Kelvo camera (without a camera: the simulated camera, in this\n"
    "process) with a status line and the control's popup menu (right click).\n"
    "\n"
    "--backend: auto picks the Direct3D 9 back-end on OpenGL ES where a GPU driver is present, else the\n"
    "software compositor; gl and soft force one, gdi draws without a back-end and so without overlays.\n"
    "It sets UseDDraw over the configuration file in force (VISTEL_CONFIG, else\n"
    "/etc/dravik/vistel.conf), whose other values still hold: gl on a software OpenGL renderer needs\n"
    "AllowSoftwareGL=1 there.\n"
    "\n"
    "--overlay FILE: graphics over the picture, in full-image pixels. One member of the control a line\n"
    "with all its arguments, in this order:\n"
    "%1"
    "A number is decimal or 0x hex; a colour #RRGGBB, none, or a number (COLORREF 0x00BBGGRR); a text\n"
    "one word or \"quoted\" (\\\" and \\\\ inside). id -1 takes the next free one. Lines starting with #\n"
    "are comments. For example:\n"
    "  AddOverlayRect    -1  20  20 120  80 1 #FFFF00 none 0\n"
    "  AddOverlayText    -1  20 140   0   0 #FF0000 none 16 0 \"DejaVu Sans\" \"Overlay 123\" 0\n"
    "The script is applied once the first picture arrives and again whenever the image's full size\n"
    "changes; an error names the file's line and nothing is drawn.\n"
    "\n"
    "--screenshot FILE: once N frames (--frames) have arrived, grabs the window's picture into FILE\n"
    "(PNG) and ends; it also runs without a display (QT_QPA_PLATFORM=offscreen).\n"
    "\n"
    "Exit status: 0; 1 on a failure, with a message; 2 for wrong use.";

int Usage(const QString& message)
{
    fprintf(stderr, "pellix-view: %s\n%s", qPrintable(message), kUsage);
    return 2;
}

bool ParseRoi(const QString& text, int out[4])
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        out[i] = parts[i].toInt(&ok);
        if (!ok || out[i] < 0)
            return false;
    }
    return out[2] > 0 && out[3] > 0;
}

bool ParseDisplay(const QString& text, int* useDDraw)
{
    for (const DisplayName& d : kDisplays) {
        if (text == QLatin1String(d.name)) {
            *useDDraw = d.useDDraw;
            return true;
        }
    }
    return false;
}

// Calls the script's members through the control's dispatch interface, between an emptied list
// and the redraw of the overlay. False with a message when the control refuses a call.
bool ApplyOverlay(PellixView* view, const std::vector<pxtool::OverlayCall>& calls, const QString& path)
{
    view->ClearOverlay();
    bool ok = true;
    for (const pxtool::OverlayCall& call : calls) {
        QVariantList args;
        for (const pxtool::OverlayArgument& a : call.arguments)
            args.append(a.bText ? QVariant(QString::fromStdString(a.text)) : QVariant(a.value));
        const int hr =
            view->Invoke(PellixView::DispIdOfName(QString::fromStdString(call.member)), PX_INVOKE_METHOD, args);
        if (hr != PX_S_OK) {
            fprintf(stderr, "pellix-view: %s:%d: the control refused %s (0x%08X)\n", qPrintable(path), call.line,
                    call.member.c_str(), static_cast<unsigned>(hr));
            ok = false;
        }
    }
    view->DrawOverlay();
    return ok;
}

// Finds the buffer's port in the camera's list (the first image buffer when no identifier is
// given); the identifier found goes back in *id. 0 with a message on failure.
uint16_t FindBuffer(const pxtool::CameraAddress& camera, QString* id)
{
    PXHANDLE h = 0;
    uint32_t result = pxtool::OpenCameraClient(camera, "pellix-view", pxtool::kDefaultTimeoutMs, &h);
    if (result != PX_OK) {
        fprintf(stderr, "pellix-view: cannot reach the camera: %s\n", pxtool::PxResultText(result).c_str());
        return 0;
    }
    uint32_t count = 0;
    const PXBufferListEntry* list = nullptr;
    result = PXGetBufferList(h, &count, &list);
    uint16_t port = 0;
    for (uint32_t i = 0; result == PX_OK && list != nullptr && i < count && port == 0; ++i) {
        const QString name = QString::fromStdString(pxtool::BufferIdText(list[i].id));
        if (id->isEmpty() ? list[i].type == PX_BUFTYPE_IMAGE : name == *id) {
            port = list[i].port;
            *id = name;
        }
    }
    PXClientTerminate(h);
    if (result != PX_OK)
        fprintf(stderr, "pellix-view: cannot read the buffer list: %s\n", pxtool::PxResultText(result).c_str());
    else if (port == 0)
        fprintf(stderr, "pellix-view: the camera publishes no %s\n",
                id->isEmpty() ? "image buffer" : qPrintable("buffer " + *id));
    return port;
}

} // namespace

int main(int argc, char** argv)
{
    // --help answers without a display; the options proper are read once QApplication has taken
    // out its own (-platform, ...).
    QCoreApplication::setApplicationName(QStringLiteral("pellix-view"));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription)
                                         .arg(QString::fromStdString(pxtool::OverlayScriptMembers())));
    const QCommandLineOption helpOption(QStringList{"h", "help"}, "this text");
    parser.addPositionalArgument(QStringLiteral("camera"), QStringLiteral("IPv4 address or host name"));
    const QCommandLineOption bufferOption(QStringList{"b", "buffer"}, "buffer identifier", "ID");
    const QCommandLineOption agentOption("agent", "follow the camera's buffer list");
    const QCommandLineOption roiOption("roi", "window of the full image", "X,Y,W,H");
    const QCommandLineOption screenshotOption("screenshot", "grab the widget into FILE and end", "FILE");
    const QCommandLineOption framesOption("frames", "frames to wait for before the screenshot", "N");
    const QCommandLineOption backendOption("backend", "the display back-end: auto, gdi, soft or gl", "MODE");
    const QCommandLineOption overlayOption("overlay", "put up the graphics of an overlay script", "FILE");
    parser.addOptions({helpOption, bufferOption, agentOption, roiOption, backendOption, overlayOption, screenshotOption,
                       framesOption});
    if (parser.parse(arguments) && parser.isSet(helpOption)) {
        // Qt's text without its first line, which names no program before QApplication exists.
        const QString text = parser.helpText();
        printf("%s%s", kUsage, qPrintable(text.mid(text.indexOf(QLatin1Char('\n')) + 1)));
        return 0;
    }
    QApplication app(argc, argv);
    if (!parser.parse(app.arguments()))
        return Usage(parser.errorText());

    ViewOptions o;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return Usage(QStringLiteral("one camera at most"));
    std::string error;
    if (!pxtool::ParseCameraArgument(positional.isEmpty() ? std::string() : positional[0].toStdString(), &o.camera,
                                     &error))
        return Usage(QString::fromStdString(error));
    o.strBufferId = parser.value(bufferOption);
    if (o.strBufferId.size() > 4)
        return Usage(QStringLiteral("a buffer identifier has four characters"));
    o.bAgent = parser.isSet(agentOption);
    if (parser.isSet(roiOption) && !(o.bRoi = ParseRoi(parser.value(roiOption), o.roi)))
        return Usage(QStringLiteral("--roi takes X,Y,W,H with a width and a height above 0"));
    o.strScreenshot = parser.value(screenshotOption);
    bool framesOk = !parser.isSet(framesOption);
    if (parser.isSet(framesOption))
        o.frames = parser.value(framesOption).toInt(&framesOk);
    if (!framesOk || o.frames < 0)
        return Usage(QStringLiteral("--frames takes a count"));
    if (!o.strScreenshot.isEmpty() && o.bAgent)
        return Usage(QStringLiteral("--screenshot shows a buffer, not the agent's list"));
    if (parser.isSet(backendOption) && !ParseDisplay(parser.value(backendOption), &o.displayMode))
        return Usage(QStringLiteral("--backend takes auto, gdi, soft or gl"));
    o.strOverlay = parser.value(overlayOption);
    if (!o.strOverlay.isEmpty() && o.bAgent)
        return Usage(QStringLiteral("--overlay draws over a buffer's picture, not the agent's list"));
    std::vector<pxtool::OverlayCall> overlay;
    if (!o.strOverlay.isEmpty() && !pxtool::ReadOverlayScript(o.strOverlay.toStdString(), &overlay, &error)) {
        fprintf(stderr, "pellix-view: %s\n", error.c_str());
        return 1;
    }

    // The simulator outlives the window, whose control talks to it until it is destroyed.
    pxtool::CToolCamera simulator;
    if (o.camera.bSimulator) {
        if (!simulator.Start(&error)) {
            fprintf(stderr, "pellix-view: %s\n", error.c_str());
            return 1;
        }
        o.camera = simulator.Address();
    }
    // The control reads UseDDraw when it is made, so this layer (over the simulator's, over the
    // user's file) comes before the window.
    pxtool::CConfigLayer displayConfig;
    if (o.displayMode >= 0 && !displayConfig.Put("UseDDraw=" + std::to_string(o.displayMode) + "\n", &error)) {
        fprintf(stderr, "pellix-view: %s\n", error.c_str());
        return 1;
    }
    uint16_t port = 0;
    if (!o.bAgent && (port = FindBuffer(o.camera, &o.strBufferId)) == 0)
        return 1;

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("pellix-view"));
    auto* view = new PellixView;
    window.setCentralWidget(view);
    auto* status = new QLabel;
    window.statusBar()->addWidget(status, 1);

    const QString cameraText = QString::fromStdString(pxtool::CameraText(o.camera));
    view->SetServerAddress(cameraText);
    view->SetClientName(QStringLiteral("pellix-view"));
    view->SetAgent(o.bAgent);
    view->SetPopupMenuInteraction(0xFF);
    if (!o.bAgent) {
        view->SetPort(port);
        view->SetBufferId(o.strBufferId);
    }
    if (o.bRoi) {
        view->SetBufferOffsetX(o.roi[0]);
        view->SetBufferOffsetY(o.roi[1]);
        view->SetBufferSizeX(o.roi[2]);
        view->SetBufferSizeY(o.roi[3]);
        view->SetSubsection(1);
    }

    QString listText;
    QObject::connect(view, &PellixView::OnListUpdate, [&](const QString& text) { listText = text; });
    auto showStatus = [&] {
        QString what;
        if (o.bAgent) {
            what = QStringLiteral("agent: %1 buffers").arg(listText.count(QLatin1Char(';')));
        } else {
            what = QStringLiteral("%1 (port %2) · %3×%4 at %5,%6 · %7 fps")
                       .arg(o.strBufferId)
                       .arg(port)
                       .arg(view->GetNewBufferSizeX())
                       .arg(view->GetNewBufferSizeY())
                       .arg(view->GetNewBufferOffsetX())
                       .arg(view->GetNewBufferOffsetY())
                       .arg(double(view->GetDisplayRate()), 0, 'f', 1);
        }
        status->setText(QStringLiteral("%1 · %2 · %3").arg(cameraText, what, view->GetErrorMessage()));
    };
    QTimer statusTimer;
    QObject::connect(&statusTimer, &QTimer::timeout, showStatus);
    statusTimer.start(250);

    int exitCode = 0;
    QObject::connect(view, &PellixView::OnError, [&](uint code, const QString& message) {
        fprintf(stderr, "pellix-view: the control did not start: %u %s\n", code, qPrintable(message));
        if (!o.strScreenshot.isEmpty()) {
            exitCode = 1;
            QTimer::singleShot(0, &app, [&] { app.exit(1); });
        }
    });

    // After each frame, once its event is over and the control's data lock is free again: the
    // overlay when the full image size is new, then the screenshot when its frames are in.
    int frames = 0;
    bool grabbing = false;
    QSize overlaySize;   // the full image size the script was last applied at
    bool displayChecked = false;
    auto afterFrame = [&] {
        // Only a back-end shows overlays, and one that cannot start leaves the control on GDI with
        // nothing but its log to say so. A back-end's key is never 0 before a script sets it
        // (magenta), so 0 at the first picture means none.
        if (!displayChecked && (o.displayMode > 0 || !overlay.empty())) {
            displayChecked = true;
            if (view->GetOverlayTransparentColor() == 0)
                fprintf(stderr, "pellix-view: warning: the control draws without a display back-end%s (%s)\n",
                        overlay.empty() ? "" : ", so the overlay is not shown",
                        o.displayMode > 0 ? "the one asked for cannot run here: gl on a software OpenGL renderer "
                                            "needs AllowSoftwareGL=1 in the configuration"
                                          : "--backend gdi, or UseDDraw=0 in the configuration");
        }
        const QSize full(view->GetFullSizeX(), view->GetFullSizeY());
        if (!overlay.empty() && !full.isEmpty() && full != overlaySize) {
            overlaySize = full;
            if (!ApplyOverlay(view, overlay, o.strOverlay) && !o.strScreenshot.isEmpty()) {
                app.exit(1);
                return;
            }
        }
        if (o.strScreenshot.isEmpty() || frames < o.frames || grabbing)
            return;
        grabbing = true;
        const QPixmap shot = view->grab();
        if (!shot.save(o.strScreenshot, "PNG")) {
            fprintf(stderr, "pellix-view: cannot write %s\n", qPrintable(o.strScreenshot));
            app.exit(1);
            return;
        }
        app.exit(0);
    };
    QObject::connect(view, &PellixView::OnImageReceived, [&](quint64, quint64) {
        ++frames;
        QTimer::singleShot(0, &app, afterFrame);
    });
    QTimer patience;
    if (!o.strScreenshot.isEmpty()) {
        patience.setSingleShot(true);
        QObject::connect(&patience, &QTimer::timeout, [&] {
            fprintf(stderr, "pellix-view: %d of %d frames arrived: %s\n", frames, o.frames,
                    qPrintable(view->GetErrorMessage()));
            app.exit(1);
        });
        patience.start(kScreenshotPatienceMs);
    }

    view->setMinimumSize(160, 120);
    window.resize(640, 480 + window.statusBar()->sizeHint().height());
    window.show();
    const int code = app.exec();
    return exitCode != 0 ? exitCode : code;
}
