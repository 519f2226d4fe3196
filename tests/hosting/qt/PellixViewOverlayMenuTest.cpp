// The popup menu's Overlays submenu in the Qt widget, with each display back-end: a rectangle
// traced with the mouse in the colour chosen from the submenu lands over the picture, and Clear
// Overlays takes it away; with GDI drawing the submenu is missing.
#include <QApplication>
#include <QMenu>
#include <QTest>

#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "QtTestUtil.h"
#include "pellix/PellixView.h"

namespace pxtest {
namespace {

// llvmpipe renders on the calling thread, where the sanitizers see its accesses to our memory.
const bool kSingleThreadedGl = setenv("LP_NUM_THREADS", "0", 0) == 0;

// The window has the image's size: the Direct3D 9 back-end stretches with linear filtering where
// the device can, so only a picture shown one to one is the same through every display.
constexpr uint32_t kWidth = 320, kHeight = 240;
constexpr int kViewX = 320, kViewY = 240;

struct Display {
    const char* name;
    const char* config;
    bool bBackEnd;
};

void PrintTo(const Display& d, std::ostream* os) { *os << d.name; }

// The texts of the next popup menu's first level, which is then closed.
void ReadMenu(std::shared_ptr<QStringList> texts)
{
    Poll([texts] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr || !menu->isVisible())
            return false;
        for (QAction* action : menu->actions())
            texts->append(action->text());
        menu->close();
        return true;
    });
}

class QtViewOverlayMenu : public ::testing::TestWithParam<Display> {};

TEST_P(QtViewOverlayMenu, TracedRectangleInTheChosenColourLandsOverThePicture)
{
    ASSERT_TRUE(kSingleThreadedGl);
    const Display& d = GetParam();
    CSimCamera camera(ImageCamera(kWidth, kHeight, PX_FORMAT_RGB24), d.config);
    ASSERT_TRUE(camera.Started());
    PellixView view;
    view.SetServerAddress(QStringLiteral("127.0.0.1"));
    view.SetPort(camera.Port("IMG0"));
    view.SetBufferId(QStringLiteral("IMG0"));
    view.SetPopupMenuInteraction(0xFF);
    view.SetShowFPS(false);
    view.resize(kViewX, kViewY);
    int images = 0;
    QObject::connect(&view, &PellixView::OnImageReceived, &view, [&images](quint64, quint64) { ++images; });
    view.show();
    ASSERT_TRUE(WaitUntil([&] { return images > 0; }));
    // Frames on demand: the picture stays this one frame.
    const Picture frame = Stretch(CameraPicture(kWidth, kHeight, PX_FORMAT_RGB24, view.SerialCounter()), kViewX, kViewY);
    std::string difference;
    ASSERT_TRUE(WaitUntil([&] { return (difference = FirstDifference(Shown(view), frame)).empty(); })) << difference;

    // The menu opens and closes inside the click.
    auto texts = std::make_shared<QStringList>();
    ReadMenu(texts);
    QTest::mouseClick(&view, Qt::RightButton, {}, QPoint(160, 120));
    ASSERT_TRUE(texts->contains(QStringLiteral("Zoom"))) << texts->join(',').toStdString();
    EXPECT_EQ(texts->contains(QStringLiteral("Overlays")), d.bBackEnd) << texts->join(',').toStdString();
    if (!d.bBackEnd)
        return;

    ChooseFromMenu({"Overlays", "Border Color", "Green"});
    QTest::mouseClick(&view, Qt::RightButton, {}, QPoint(160, 120));
    ChooseFromMenu({"Overlays", "Trace Rectangle"});
    QTest::mouseClick(&view, Qt::RightButton, {}, QPoint(160, 120));
    // From (50, 50) to (250, 180); no fill, the border 2 pixels wide.
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(50, 50));
    QTest::mouseMove(&view, QPoint(150, 100));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(250, 180));

    auto traced = [&] {
        const Picture p = Shown(view);
        return CountColour(p, 0x00FF00, 60, 46, 240, 55) >= 2 * 180u && CountColour(p, 0x00FF00, 245, 60, 255, 170) >= 2 * 110u;
    };
    EXPECT_TRUE(WaitUntil(traced)) << "the green border, top and right edges";
    const Picture p = Shown(view);
    EXPECT_EQ(FirstDifference(p, frame, 60, 60, 240, 170), "") << "the picture inside the border";
    EXPECT_EQ(FirstDifference(p, frame, 0, 190, kViewX, kViewY), "") << "the picture below it";

    ChooseFromMenu({"Overlays", "Clear Overlays"});
    QTest::mouseClick(&view, Qt::RightButton, {}, QPoint(160, 120));
    EXPECT_TRUE(WaitUntil([&] { return (difference = FirstDifference(Shown(view), frame)).empty(); })) << difference;
}

const Display kDisplays[] = {
    {"SoftwareCompositor", "UseDDraw=7\n", true},
    {"OpenGlOnMesa", "UseDDraw=9\nAllowSoftwareGL=1\n", true},
    {"Gdi", "UseDDraw=0\n", false},
};
INSTANTIATE_TEST_SUITE_P(EachDisplay, QtViewOverlayMenu, ::testing::ValuesIn(kDisplays),
                         [](const ::testing::TestParamInfo<Display>& info) { return info.param.name; });

} // namespace
} // namespace pxtest
