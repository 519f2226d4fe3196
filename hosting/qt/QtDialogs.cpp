#include "hosting/qt/QtDialogs.h"

#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>

#include <algorithm>
#include <cstring>

namespace pxqt {

namespace {

QString Text(const char* text) { return QString::fromUtf8(text != nullptr ? text : ""); }

// Copies bytes into a NUL-terminated buffer of size bytes; false when they do not fit.
bool CopyOut(const QByteArray& bytes, char* out, uint32_t size)
{
    if (out == nullptr || size == 0 || static_cast<uint64_t>(bytes.size()) + 1 > size)
        return false;
    memcpy(out, bytes.constData(), static_cast<size_t>(bytes.size()));
    out[bytes.size()] = '\0';
    return true;
}

// The control nests its submenus a few levels deep; the bound keeps a malformed table finite.
constexpr int kMenuDepth = 8;

void Fill(QMenu* menu, const PXMenuItem* items, uint32_t count, int depth)
{
    for (uint32_t i = 0; items != nullptr && i < count; ++i) {
        const PXMenuItem& item = items[i];
        if ((item.flags & PX_MENU_SEPARATOR) != 0) {
            menu->addSeparator();
        } else if ((item.flags & PX_MENU_SUBMENU) != 0) {
            QMenu* sub = menu->addMenu(Text(item.text));
            if (depth < kMenuDepth)
                Fill(sub, item.children, item.count, depth + 1);
        } else {
            QAction* action = menu->addAction(Text(item.text));
            action->setData(item.id);
            if ((item.flags & PX_MENU_CHECKED) != 0) {
                action->setCheckable(true);
                action->setChecked(true);
            }
        }
    }
}

} // namespace

uint32_t TrackMenu(QWidget* owner, const PXMenuItem* items, uint32_t count, int32_t x, int32_t y)
{
    QMenu menu(owner);
    Fill(&menu, items, count, 0);
    QAction* chosen = menu.exec(QPoint(x, y));
    return chosen != nullptr ? chosen->data().toUInt() : 0;
}

int SaveFileDialog(const char* const* filters, uint32_t filterCount, const char* title, const char* initialName,
                   const char* defaultExt, char* path, uint32_t pathSize, uint32_t* chosenFilter)
{
    // No owner window: the dialog stands on its own, modal for the whole program.
    QFileDialog dialog(nullptr, Text(title));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QStringList names;
    for (uint32_t i = 0; filters != nullptr && i < filterCount; ++i)
        names << QStringLiteral("%1 (%2)").arg(Text(filters[2 * i]), Text(filters[2 * i + 1]));
    dialog.setNameFilters(names);
    dialog.setDefaultSuffix(Text(defaultExt));
    dialog.selectFile(Text(initialName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return 0;
    if (!CopyOut(QFile::encodeName(dialog.selectedFiles().first()), path, pathSize))
        return 0;
    if (chosenFilter != nullptr)
        *chosenFilter = static_cast<uint32_t>(std::max<qsizetype>(0, names.indexOf(dialog.selectedNameFilter())));
    return 1;
}

int TextDialog(QWidget* owner, const char* title, const char* prompt, char* text, uint32_t textSize)
{
    QInputDialog dialog(owner);
    dialog.setWindowTitle(Text(title));
    dialog.setLabelText(Text(prompt));
    dialog.setInputMode(QInputDialog::TextInput);
    if (dialog.exec() != QDialog::Accepted || text == nullptr || textSize == 0)
        return 0;
    // Longer text is cut to the buffer, never left out.
    QByteArray bytes = dialog.textValue().toUtf8();
    bytes.truncate(static_cast<qsizetype>(textSize) - 1);
    CopyOut(bytes, text, textSize);
    return 1;
}

int32_t MessageBox(QWidget* owner, const char* text, const char* caption)
{
    QMessageBox box(QMessageBox::NoIcon, Text(caption), Text(text), QMessageBox::Ok, owner);
    box.exec();
    return PX_IDOK;
}

int SetClipboardBitmap(const PXSurface& bitmap)
{
    if (bitmap.pixels == nullptr || bitmap.width <= 0 || bitmap.height <= 0 || bitmap.stride < bitmap.width * 4)
        return 0;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr)
        return 0;
    // copy(): the control's pixels are its own and go away after the call.
    const QImage view(bitmap.pixels, bitmap.width, bitmap.height, bitmap.stride, QImage::Format_RGB32);
    clipboard->setImage(view.copy());
    return 1;
}

} // namespace pxqt
