// The Qt widget end to end: kelvo-sim in this process, the widget on the off-screen platform,
// the pictures checked against the camera's bytes converted and stretched by the tests' own
// tables, the menu and dialogs driven as a user drives them.
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "QtTestUtil.h"
#include "hosting/qt/QtWindowHost.h"
#include "pellix/PellixView.h"
#include "sim/SimPattern.h"

namespace pxtest {
namespace {

constexpr uint32_t kWidth = 64, kHeight = 48;

// A camera with one RGB image buffer "IMG0" of 64 x 48; frames on demand unless an interval is
// given.
pxsim::SimConfig Camera(uint32_t intervalMs = 0, bool sync = false)
{
    pxsim::SimConfig c = ImageCamera(kWidth, kHeight, PX_FORMAT_RGB24);
    c.dwFrameIntervalMs = intervalMs;
    c.buffers[0].bSyncDelivery = sync;
    return c;
}

std::unique_ptr<PellixView> AimedView(const CSimCamera& camera, int width = 160, int height = 120)
{
    auto view = std::make_unique<PellixView>();
    view->SetServerAddress(QStringLiteral("127.0.0.1"));
    view->SetPort(camera.Port("IMG0"));
    view->SetBufferId(QStringLiteral("IMG0"));
    view->resize(width, height);
    return view;
}

// Shows the view (its automatic start) and waits for its first image.
bool ShowAndWaitForImage(PellixView& view)
{
    int images = 0;
    QObject::connect(&view, &PellixView::OnImageReceived, &view, [&images](quint64, quint64) { ++images; });
    view.show();
    const bool arrived = WaitUntil([&] { return images > 0; });
    QObject::disconnect(&view, &PellixView::OnImageReceived, &view, nullptr);
    return arrived;
}

Picture Expected(uint64_t serial, int width = 160, int height = 120)
{
    return Stretch(CameraPicture(kWidth, kHeight, PX_FORMAT_RGB24, serial), width, height);
}

TEST(QtView, ShowsTheCamerasPictureConvertedAndStretchedAndFollowsItsFrames)
{
    CSimCamera camera(Camera());
    ASSERT_TRUE(camera.Started());
    auto view = AimedView(camera);
    view->SetShowFPS(false);
    ASSERT_TRUE(ShowAndWaitForImage(*view));
    ASSERT_EQ(view->GetConnected(), 1);
    EXPECT_EQ(view->GetFullSizeX(), int(kWidth));
    EXPECT_EQ(view->GetFullSizeY(), int(kHeight));

    const uint64_t first = view->SerialCounter();
    std::string difference;
    EXPECT_TRUE(WaitUntil([&] { return (difference = FirstDifference(Shown(*view), Expected(first))).empty(); }))
        << difference;

    // The next frame replaces it (the moving bar and the frame number change).
    ASSERT_TRUE(camera.FrameForWaitingReader());
    ASSERT_TRUE(WaitUntil([&] { return view->SerialCounter() == first + 1; }));
    ASSERT_NE(FirstDifference(Expected(first), Expected(first + 1)), "");
    EXPECT_TRUE(WaitUntil([&] { return (difference = FirstDifference(Shown(*view), Expected(first + 1))).empty(); }))
        << difference;

    // A new size: the control gets the resize and stretches to it.
    view->resize(100, 150);
    EXPECT_TRUE(WaitUntil([&] {
        if (!camera.FrameForWaitingReader())
            return false;
        return (difference = FirstDifference(Shown(*view), Expected(view->SerialCounter(), 100, 150))).empty();
    }))
        << difference;
}

TEST(QtView, FrameRateTextAppearsOnceTheTimerHasFiredTwice)
{
    CSimCamera camera(Camera(40));
    ASSERT_TRUE(camera.Started());
    auto view = AimedView(camera);
    view->SetFPSRefreshDelay(100);
    view->SetFPSCorner(2);   // lower left, where the camera's pattern has neither pure white nor black
    ASSERT_TRUE(ShowAndWaitForImage(*view));
    ASSERT_TRUE(WaitUntil([&] { return view->GetDisplayRate() > 0.0f; }));

    // Black text on its white ground in the box of the lower left corner.
    auto inBox = [&](uint32_t rgb) { return CountColour(Shown(*view), rgb, 5, 120 - 25, 70, 120 - 5); };
    EXPECT_TRUE(WaitUntil([&] { return inBox(0x000000) >= 10 && inBox(0xFFFFFF) >= 10; }));
    view->SetShowFPS(false);
    EXPECT_TRUE(WaitUntil([&] { return inBox(0x000000) == 0; }));
}

TEST(QtView, RightClickOpensTheControlsMenuAndItsCommandsAct)
{
    // Frames keep coming: a new window is asked for on the buffer's connection, which a read
    // waiting for a frame on demand would hold.
    CSimCamera camera(Camera(40));
    ASSERT_TRUE(camera.Started());
    auto view = AimedView(camera);
    view->SetPopupMenuInteraction(0xFF);
    view->SetShowFPS(true);
    ASSERT_TRUE(ShowAndWaitForImage(*view));

    // The frame-rate corner, two submenu levels down.
    ChooseFromMenu({"Framerate Display", "Lower-Right Corner"});
    QTest::mouseClick(view.get(), Qt::RightButton, {}, QPoint(80, 60));
    EXPECT_TRUE(WaitUntil([&] { return view->FPSCorner() == 3; }));

    // Zoom In around the clicked point: the control asks the camera for a window of half the size
    // there (the click at (80, 60) of 160 x 120 is image point (32, 24)), and the camera serves it.
    float scaleX = 0, scaleY = 0;
    QObject::connect(view.get(), &PellixView::OnScaleChange, [&](float x, float y) { scaleX = x, scaleY = y; });
    ChooseFromMenu({"Zoom", "In"});
    QTest::mouseClick(view.get(), Qt::RightButton, {}, QPoint(80, 60));
    ASSERT_TRUE(WaitUntil([&] { return scaleX != 0; }));
    EXPECT_EQ(scaleX, 2.0f);
    EXPECT_EQ(scaleY, 2.0f);
    EXPECT_EQ(view->GetNewBufferSizeX(), 32);
    EXPECT_EQ(view->GetNewBufferSizeY(), 24);
    EXPECT_EQ(view->GetNewBufferOffsetX(), 16);
    EXPECT_EQ(view->GetNewBufferOffsetY(), 12);
    const auto served = camera.sim.FindBuffer(px::agent::BufferId::FromText("IMG0"))->Current()->geometry;
    EXPECT_EQ(served.dwSizeX, 32u);
    EXPECT_EQ(served.dwSizeY, 24u);
    EXPECT_EQ(served.dwOffsetX, 16u);
    EXPECT_EQ(served.dwOffsetY, 12u);
}

TEST(QtView, EventsArriveAsSignalsInOrderWithTheirArguments)
{
    CSimCamera camera(Camera(40));   // frames keep coming, as the zoom below needs
    ASSERT_TRUE(camera.Started());
    auto view = AimedView(camera);
    QStringList order;
    QString connection;
    int32_t headerWidth = 0;
    QObject::connect(view.get(), &PellixView::OnDataReceive, [&](const QString& text) {
        order << "data";
        connection = text;
    });
    QObject::connect(view.get(), &PellixView::OnImageReceived, [&](quint64 header, quint64 pixels) {
        order << "image";
        // The bitmap header and the pixels are readable during the signal.
        ASSERT_NE(header, 0u);
        ASSERT_NE(pixels, 0u);
        memcpy(&headerWidth, reinterpret_cast<const uint8_t*>(header) + 4, sizeof headerWidth);
    });
    view->show();
    ASSERT_TRUE(WaitUntil([&] { return order.size() >= 4; }));
    EXPECT_EQ(order.mid(0, 4), (QStringList{"data", "image", "data", "image"}));
    EXPECT_EQ(headerWidth, int32_t(kWidth));
    EXPECT_TRUE(connection.endsWith(QStringLiteral(":Unknown:%1:IMG0:1").arg(camera.Port("IMG0"))))
        << connection.toStdString();

    // Mouse: window points become image points (160 x 120 shows 64 x 48, so / 2.5); shift with
    // the left button reports the click while special interaction is off and zooms once it is on.
    QList<QList<int>> downs, ups;
    QObject::connect(view.get(), &PellixView::OnMouseDown, [&](int x, int y, int b) { downs.push_back({x, y, b}); });
    QObject::connect(view.get(), &PellixView::OnMouseUp, [&](int x, int y, int b) { ups.push_back({x, y, b}); });
    int scaleChanges = 0;
    QObject::connect(view.get(), &PellixView::OnScaleChange, [&](float, float) { ++scaleChanges; });
    QTest::mouseClick(view.get(), Qt::LeftButton, Qt::ShiftModifier, QPoint(80, 60));
    QTest::mouseClick(view.get(), Qt::MiddleButton, {}, QPoint(25, 10));
    EXPECT_EQ(downs, (QList<QList<int>>{{32, 24, 1}, {10, 4, 4}}));
    EXPECT_EQ(ups, (QList<QList<int>>{{32, 24, 1}, {10, 4, 4}}));
    view->SetSpecialMouseInteraction(1);
    QTest::mouseClick(view.get(), Qt::LeftButton, Qt::ShiftModifier, QPoint(80, 60));
    EXPECT_EQ(ups.size(), 2);
    EXPECT_EQ(scaleChanges, 1);
    EXPECT_EQ(view->GetNewBufferSizeX(), 32);
}


TEST(QtView, DestroyedWhileASynchronousDeliveryWaitsEndsCleanly)
{
    CSimCamera camera(Camera(40, true));
    ASSERT_TRUE(camera.Started());
    auto view = AimedView(camera);
    ASSERT_TRUE(ShowAndWaitForImage(*view));
    auto* host = view->findChild<pxqt::CQtWindowHost*>();
    ASSERT_NE(host, nullptr);
    // The camera asks for synchronous delivery: the data messages are sent, and wait for the GUI
    // thread while it processes its events.
    ASSERT_TRUE(WaitUntil([&] { return host->SendsDelivered() >= 2; }));

    // A GUI thread that stops processing: the next send waits for it, and the widget goes then.
    ASSERT_TRUE(host->WaitForWaitingSend(30000));
    view.reset();
    EXPECT_TRUE(WaitUntil([&] { return camera.sim.Subscribers("IMG0") == 0; }));
}

TEST(QtView, PropertiesPersistThroughQSettingsInTheirOwnGroup)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings settings(dir.filePath(QStringLiteral("view.ini")), QSettings::IniFormat);
    {
        PellixView view;
        view.setObjectName(QStringLiteral("left"));
        view.SetServerAddress(QStringLiteral("10.1.2.3"));
        view.SetPort(3105);
        view.SetClientName(QStringLiteral("line 4"));
        view.SetBufferId(QStringLiteral("IMG1"));
        view.SetShowFPS(false);
        view.SetFPSCorner(2);
        view.SetLinkedAgentID(0xFFFFFFF0u);
        view.SetManualStart(true);
        EXPECT_EQ(view.SaveProperties(settings), PX_S_OK);
        PellixView other;
        EXPECT_EQ(other.SaveProperties(settings, QStringLiteral("right")), PX_S_OK);
    }
    settings.sync();
    EXPECT_EQ(settings.value("left/ClientName").toString(), "line 4");
    EXPECT_EQ(settings.value("right/ClientName").toString(), "Unknown");
    EXPECT_EQ(settings.value("left/_cx").toInt(), 5080);

    QSettings reread(dir.filePath(QStringLiteral("view.ini")), QSettings::IniFormat);
    PellixView view;
    view.setObjectName(QStringLiteral("left"));
    EXPECT_EQ(view.LoadProperties(reread), PX_S_OK);
    EXPECT_EQ(view.ServerAddress(), "10.1.2.3");
    EXPECT_EQ(view.Port(), 3105);
    EXPECT_EQ(view.ClientName(), "line 4");
    EXPECT_EQ(view.BufferId(), "IMG1");
    EXPECT_FALSE(view.ShowFPS());
    EXPECT_EQ(view.FPSCorner(), 2);
    EXPECT_EQ(view.LinkedAgentID(), 0xFFFFFFF0u);
    EXPECT_TRUE(view.ManualStart());
    // The Qt property system reaches the same members by their names.
    EXPECT_EQ(view.property("Port").toInt(), 3105);
    EXPECT_TRUE(view.setProperty("BufferId", QStringLiteral("TXT0")));
    EXPECT_EQ(view.BufferId(), "TXT0");
    QVariant version;
    EXPECT_EQ(view.Invoke(PellixView::DispIdOfName("GetVersion"), PX_INVOKE_METHOD, {}, &version), PX_S_OK);
    EXPECT_EQ(version.toString(), "4.0.352.1");
    EXPECT_EQ(view.Invoke(PXDISPID_width, PX_INVOKE_PROPERTYPUT, {QVariant("x")}), PX_DISP_E_TYPEMISMATCH);
}

} // namespace
} // namespace pxtest
