#include "gui/flowlayout.h"

#include <QWidget>
#include <algorithm>

TFlowLayout::TFlowLayout(QWidget* parent) : QLayout(parent) {}

TFlowLayout::~TFlowLayout() {
    while (QLayoutItem* item = takeAt(0)) delete item;
}

void TFlowLayout::addItem(QLayoutItem* item) { items_.append(item); }
int TFlowLayout::count() const { return static_cast<int>(items_.size()); }
QLayoutItem* TFlowLayout::itemAt(int index) const { return items_.value(index); }

QLayoutItem* TFlowLayout::takeAt(int index) {
    return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

Qt::Orientations TFlowLayout::expandingDirections() const {
    Qt::Orientations o;
    for (const QLayoutItem* item : items_) o |= item->expandingDirections() & Qt::Horizontal;
    return o;
}

int TFlowLayout::heightForWidth(int width) const { return Arrange(QRect(0, 0, width, 0), false); }

QSize TFlowLayout::sizeHint() const {
    int width = 0, height = 0, shown = 0;
    for (const QLayoutItem* item : items_) {
        if (item->isEmpty()) continue;
        const QSize hint = item->sizeHint();
        width += hint.width() + (shown++ ? spacing() : 0);
        height = std::max(height, hint.height());
    }
    const QMargins m = contentsMargins();
    return QSize(width + m.left() + m.right(), height + m.top() + m.bottom());
}

QSize TFlowLayout::minimumSize() const {
    QSize size;
    // An item that reflows in less width (a form that wraps its rows, a
    // wrapping label) asks for its minimum only; the others for their whole width.
    for (const QLayoutItem* item : items_)
        if (!item->isEmpty())
            size = size.expandedTo(item->hasHeightForWidth() ? item->minimumSize()
                                                             : item->sizeHint().expandedTo(item->minimumSize()));
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

void TFlowLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    Arrange(rect, true);
}

int TFlowLayout::Arrange(const QRect& rect, bool apply) const {
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int gap = spacing() < 0 ? 6 : spacing();
    int y = area.y();
    QList<QLayoutItem*> line;
    int lineWidth = 0, lineHeight = 0;
    auto place = [&] {
        if (line.isEmpty()) return;
        int growing = 0;
        for (const QLayoutItem* item : line) growing += (item->expandingDirections() & Qt::Horizontal) ? 1 : 0;
        const int spare = std::max(0, area.width() - lineWidth);
        int x = area.x();
        for (QLayoutItem* item : line) {
            int width = item->sizeHint().width();
            if (growing && (item->expandingDirections() & Qt::Horizontal)) width += spare / growing;
            width = std::min(width, area.width());
            // Each as high as it needs, top-aligned: a short group is not stretched empty.
            const int height = item->hasHeightForWidth() ? item->heightForWidth(width) : item->sizeHint().height();
            if (apply) item->setGeometry(QRect(x, y, width, std::min(height, lineHeight)));
            x += width + gap;
        }
        y += lineHeight + gap;
        line.clear();
        lineWidth = lineHeight = 0;
    };
    for (QLayoutItem* item : items_) {
        if (item->isEmpty()) continue;
        const QSize hint = item->sizeHint();
        const int needed = line.isEmpty() ? hint.width() : lineWidth + gap + hint.width();
        if (!line.isEmpty() && needed > area.width()) place();
        lineWidth = line.isEmpty() ? hint.width() : lineWidth + gap + hint.width();
        // At the width it will get at least: a line's spare width only makes it lower.
        const int width = std::min(hint.width(), area.width());
        lineHeight = std::max(lineHeight, item->hasHeightForWidth() ? item->heightForWidth(width) : hint.height());
        line.append(item);
    }
    place();
    const QMargins m = contentsMargins();
    return std::max(0, y - gap - area.y()) + m.top() + m.bottom();
}
