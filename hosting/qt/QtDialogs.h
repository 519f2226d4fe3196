// The control's window-thread services that show something to the user, with Qt's own widgets:
// the popup menu (QMenu), the save dialog (QFileDialog), the text dialog (QInputDialog), message
// boxes (QMessageBox) and the clipboard (QClipboard). Each is modal and runs on the GUI thread;
// the control's menu items and texts are valid only during the call, so nothing keeps them.
#pragma once

#include <cstdint>

#include "pellix/pellix_control.h"

class QWidget;

namespace pxqt {

// The menu at the screen point; the chosen item's id, 0 when dismissed.
uint32_t TrackMenu(QWidget* owner, const PXMenuItem* items, uint32_t count, int32_t x, int32_t y);

// A save dialog with the control's filters (description and pattern per entry): 1 with the path
// and the chosen entry's index, 0 when cancelled or when the path does not fit pathSize.
int SaveFileDialog(const char* const* filters, uint32_t filterCount, const char* title, const char* initialName,
                   const char* defaultExt, char* path, uint32_t pathSize, uint32_t* chosenFilter);

// A one-line text dialog: 1 with the text when closed with OK, else 0 and text untouched.
int TextDialog(QWidget* owner, const char* title, const char* prompt, char* text, uint32_t textSize);

// A message box with an OK button; PX_IDOK.
int32_t MessageBox(QWidget* owner, const char* text, const char* caption);

// A copy of the bitmap on the clipboard; 1 when the clipboard took it.
int SetClipboardBitmap(const PXSurface& bitmap);

} // namespace pxqt
