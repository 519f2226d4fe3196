// The control's menu and dialogs as Qt shows them: a QMenu built from the control's items, the
// save dialog with its filters, the text dialog, the message box and the clipboard, each driven
// as a user drives it.
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <gtest/gtest.h>

#include "QtTestUtil.h"
#include "hosting/qt/QtDialogs.h"

namespace pxtest {
namespace {

// A menu in the control's manner: an item, a separator, a submenu with a checked item and a
// separator inside, and a nested submenu.
const PXMenuItem kCorners[] = {
    {0x300, "Disable Framerate Display", 0, nullptr, 0},
    {0, nullptr, PX_MENU_SEPARATOR, nullptr, 0},
    {0x600, "Upper-Left Corner", PX_MENU_CHECKED, nullptr, 0},
    {0x603, "Lower-Right Corner", 0, nullptr, 0},
};
const PXMenuItem kSizes[] = {{0xD00, "0", 0, nullptr, 0}, {0xD02, "2", PX_MENU_CHECKED, nullptr, 0}};
const PXMenuItem kOverlays[] = {{0, "Border Size", PX_MENU_SUBMENU, kSizes, 2}};
const PXMenuItem kMenu[] = {
    {0xE00, "Select new ROI", 0, nullptr, 0},
    {0, nullptr, PX_MENU_SEPARATOR, nullptr, 0},
    {0, "Framerate Display", PX_MENU_SUBMENU, kCorners, 4},
    {0, "Overlays", PX_MENU_SUBMENU, kOverlays, 1},
};

// "text", "-" for a separator, "text>" for a submenu, "text*" for a checked item.
QStringList Describe(QMenu* menu)
{
    QStringList out;
    for (QAction* a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("-") : a->text() + (a->menu() ? ">" : a->isChecked() ? "*" : ""));
    return out;
}

TEST(QtDialogs, TheMenuShowsTheControlsItemsAndAnswersTheChosenId)
{
    QWidget owner;
    owner.show();
    QStringList top, corners, sizes;
    Poll([&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr)
            return false;
        top = Describe(menu);
        for (QAction* a : menu->actions()) {
            if (a->text() == "Framerate Display")
                corners = Describe(a->menu());
            if (a->text() == "Overlays")
                sizes = Describe(a->menu()->actions().at(0)->menu());
        }
        return true;
    });
    ChooseFromMenu({"Framerate Display", "Lower-Right Corner"});
    EXPECT_EQ(pxqt::TrackMenu(&owner, kMenu, 4, 100, 100), 0x603u);
    EXPECT_EQ(top, (QStringList{"Select new ROI", "-", "Framerate Display>", "Overlays>"}));
    EXPECT_EQ(corners, (QStringList{"Disable Framerate Display", "-", "Upper-Left Corner*", "Lower-Right Corner"}));
    EXPECT_EQ(sizes, (QStringList{"0", "2*"}));

    ChooseFromMenu({"Select new ROI"});
    EXPECT_EQ(pxqt::TrackMenu(&owner, kMenu, 4, 100, 100), 0xE00u);
    // Dismissed: 0.
    Poll([] {
        QWidget* menu = QApplication::activePopupWidget();
        if (menu != nullptr)
            QTest::keyClick(menu, Qt::Key_Escape);
        return menu != nullptr;
    });
    EXPECT_EQ(pxqt::TrackMenu(&owner, kMenu, 4, 100, 100), 0u);
}

TEST(QtDialogs, TheSaveDialogOffersTheFiltersAndAnswersThePathAndTheChosenOne)
{
    const char* const filters[] = {"Bitmap Files", "*.BMP", "PNG Files", "*.PNG"};
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString chosenPath = dir.filePath("picture.png");
    QString title, initial, suffix;
    QStringList names;
    OnModal<QFileDialog>([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        names = dialog->nameFilters();
        suffix = dialog->defaultSuffix();
        initial = dialog->selectedFiles().value(0);
        dialog->selectNameFilter("PNG Files (*.PNG)");
        dialog->selectFile(chosenPath);
        static_cast<QDialog*>(dialog)->accept();
    });
    char path[260] = "";
    uint32_t chosen = 99;
    EXPECT_EQ(pxqt::SaveFileDialog(filters, 2, "Save Dravik KELVO Image", "IMAGE000", "BMP", path, sizeof path, &chosen),
              1);
    EXPECT_EQ(QString::fromUtf8(path), chosenPath);
    EXPECT_EQ(chosen, 1u);
    EXPECT_EQ(title, "Save Dravik KELVO Image");
    EXPECT_EQ(names, (QStringList{"Bitmap Files (*.BMP)", "PNG Files (*.PNG)"}));
    EXPECT_EQ(suffix, "BMP");
    EXPECT_TRUE(QFileInfo(initial).fileName().startsWith("IMAGE000")) << initial.toStdString();

    // A path longer than the control's buffer is not cut: the dialog counts as cancelled.
    OnModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(chosenPath);
        static_cast<QDialog*>(dialog)->accept();
    });
    char shortPath[16] = "";
    EXPECT_EQ(pxqt::SaveFileDialog(filters, 2, "t", "IMAGE000", "BMP", shortPath, sizeof shortPath, &chosen), 0)
        << shortPath;
    OnModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(pxqt::SaveFileDialog(filters, 2, "t", "IMAGE000", "BMP", path, sizeof path, &chosen), 0);
}

TEST(QtDialogs, TextDialogMessageBoxAndClipboard)
{
    QWidget owner;
    QString title, prompt;
    OnModal<QInputDialog>([&](QInputDialog* dialog) {
        title = dialog->windowTitle();
        prompt = dialog->labelText();
        dialog->setTextValue("Kelvo line 3");
        dialog->accept();
    });
    char text[8] = "old";
    EXPECT_EQ(pxqt::TextDialog(&owner, "Set Overlay String", "Enter the string to write", text, sizeof text), 1);
    EXPECT_STREQ(text, "Kelvo l");   // cut to the buffer
    EXPECT_EQ(title, "Set Overlay String");
    EXPECT_EQ(prompt, "Enter the string to write");
    OnModal<QInputDialog>([](QInputDialog* dialog) { dialog->reject(); });
    strcpy(text, "old");
    EXPECT_EQ(pxqt::TextDialog(&owner, "t", "p", text, sizeof text), 0);
    EXPECT_STREQ(text, "old");

    QString boxText, boxCaption;
    OnModal<QMessageBox>([&](QMessageBox* box) {
        boxText = box->text();
        boxCaption = box->windowTitle();
        box->accept();
    });
    EXPECT_EQ(pxqt::MessageBox(&owner, "There are 2 buffers available", "Vistel ActiveX"), PX_IDOK);
    EXPECT_EQ(boxText, "There are 2 buffers available");
    EXPECT_EQ(boxCaption, "Vistel ActiveX");

    // BGRX rows with padding at their ends.
    uint8_t pixels[2 * 12] = {};
    const uint32_t colours[4] = {0x00112233, 0x00445566, 0x00778899, 0x00AABBCC};
    for (int i = 0; i < 4; ++i)
        memcpy(pixels + (i / 2) * 12 + (i % 2) * 4, &colours[i], 4);
    const PXSurface bitmap{pixels, 2, 2, 12};
    ASSERT_EQ(pxqt::SetClipboardBitmap(bitmap), 1);
    const Picture copied = PictureOf(QGuiApplication::clipboard()->image());
    ASSERT_EQ(copied.width, 2);
    ASSERT_EQ(copied.height, 2);
    EXPECT_EQ(copied.rgb, (std::vector<uint32_t>{0x112233, 0x445566, 0x778899, 0xAABBCC}));
}

} // namespace
} // namespace pxtest
