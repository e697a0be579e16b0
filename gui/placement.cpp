#include "gui/placement.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <algorithm>

void FitIntoScreen(QWidget* window) {
    if (!window || !window->isWindow() || window->isMaximized() || window->isFullScreen()) return;
    const QRect inner = window->geometry();
    QMargins frame(inner.left() - window->frameGeometry().left(), inner.top() - window->frameGeometry().top(),
                   window->frameGeometry().right() - inner.right(), window->frameGeometry().bottom() - inner.bottom());
    if (!window->testAttribute(Qt::WA_WState_Created) || frame.isNull())
        frame.setTop(std::max(frame.top(), window->style()->pixelMetric(QStyle::PM_TitleBarHeight)));
    // The screen holding most of the window (its centre), else the one it belongs to.
    QScreen* screen = QGuiApplication::screenAt(inner.center());
    if (!screen) screen = window->screen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QSize room(area.width() - frame.left() - frame.right(), area.height() - frame.top() - frame.bottom());
    const QSize size = inner.size().boundedTo(room).expandedTo(window->minimumSize().boundedTo(room));
    const int x = std::clamp(inner.left(), area.left() + frame.left(), area.right() + 1 - frame.right() - size.width());
    const int y = std::clamp(inner.top(), area.top() + frame.top(), area.bottom() + 1 - frame.bottom() - size.height());
    if (QRect(x, y, size.width(), size.height()) != inner) window->setGeometry(x, y, size.width(), size.height());
}
