// What the Qt widget's tests share: waiting with the event loop running, pictures of the widget,
// and driving the modal menus and dialogs that the control opens from inside a mouse click.
#pragma once

#include <QImage>
#include <QStringList>
#include <QWidget>

#include <functional>

#include "ControlTestUtil.h"

class PellixView;
class QMenu;

namespace pxtest {

// Runs the event loop until condition() holds; false after the seconds given (reached only when
// something is broken).
bool WaitUntil(const std::function<bool()>& condition, int seconds = 30);

// 0x00RRGGBB pixels of a Qt image.
Picture PictureOf(const QImage& image);
// What the widget shows now (it paints for the grab).
Picture Shown(PellixView& view);

// Calls step() from the event loop (the nested loops of menus and dialogs included) every 10 ms
// until it says it is done (true).
void Poll(const std::function<bool()>& step);
// From the next turn of the event loop on, until it is done: waits for a popup menu, walks the
// path of item texts through its submenus and chooses the last one with the keyboard.
void ChooseFromMenu(const QStringList& path);
// Likewise for modal widgets: hands each shown one to act until act says it is done (true).
void PollModal(const std::function<bool(QWidget*)>& act);
// Hands the next shown modal widget of type T to act, once.
template <typename T, typename F>
void OnModal(F act)
{
    PollModal([act](QWidget* modal) {
        T* widget = qobject_cast<T*>(modal);
        if (widget != nullptr)
            act(widget);
        return widget != nullptr;
    });
}

} // namespace pxtest
