#include "QtTestUtil.h"

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "pellix/PellixView.h"

namespace pxtest {

namespace {

QAction* ActionNamed(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

void Poll(const std::function<bool()>& step)
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, step] {
        if (step()) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

bool WaitUntil(const std::function<bool()>& condition, int seconds)
{
    return QTest::qWaitFor(condition, seconds * 1000);
}

Picture PictureOf(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    Picture p;
    p.width = rgb.width();
    p.height = rgb.height();
    p.rgb.resize(static_cast<size_t>(p.width) * p.height);
    for (int y = 0; y < p.height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < p.width; ++x)
            p.rgb[static_cast<size_t>(y) * p.width + x] = row[x] & 0xFFFFFFu;
    }
    return p;
}

Picture Shown(PellixView& view) { return PictureOf(view.grab().toImage()); }

void ChooseFromMenu(const QStringList& path)
{
    auto level = std::make_shared<int>(0);
    auto menu = std::make_shared<QMenu*>(nullptr);
    Poll([=] {
        if (*level == 0) {
            *menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (*menu == nullptr || !(*menu)->isVisible())
                return false;
        } else if (!(*menu)->isVisible()) {
            return false;   // the submenu is still opening
        }
        QAction* action = ActionNamed(*menu, path[*level]);
        if (action == nullptr) {
            ADD_FAILURE() << "no menu item " << path[*level].toStdString();
            (*menu)->close();
            return true;
        }
        (*menu)->setActiveAction(action);
        if (++*level < path.size()) {
            QTest::keyClick(*menu, Qt::Key_Right);
            *menu = action->menu();
            return false;
        }
        QTest::keyClick(*menu, Qt::Key_Return);
        return true;
    });
}

void PollModal(const std::function<bool(QWidget*)>& act)
{
    Poll([act] {
        QWidget* modal = QApplication::activeModalWidget();
        return modal != nullptr && modal->isVisible() && act(modal);
    });
}

} // namespace pxtest
