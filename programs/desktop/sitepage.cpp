#include "programs/desktop/sitepage.h"

#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>

QLineEdit* SitePageEdit(const char* name, int width) {
    auto* e = new QLineEdit;
    e->setObjectName(QString::fromLatin1(name));
    if (width) e->setMaximumWidth(width);
    return e;
}

QLabel* SitePageValue(const char* name) {
    auto* l = new QLabel;
    l->setObjectName(QString::fromLatin1(name));
    l->setMinimumWidth(90);
    return l;
}

QWidget* SitePageScrolled(QWidget* page) {
    auto* area = new QScrollArea;
    area->setObjectName(page->objectName() + QStringLiteral("Scroll"));
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidget(page);
    return area;
}
