#include "programs/desktop/sitepage.h"

#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>

#include "core/station/sqm.h"
#include "gui/qtlanguage.h"

void TLatestReadings::Refresh() {
    rows_ = count_ > 0 ? read_(count_) : std::vector<TReadingRow>();
    for (const auto& changed : observers_) changed();
}

TLatestReadingTexts LatestReadingTexts(const TSQM* s) {
    // A station object that has not read yet holds no reading.
    if (!s || s->DateTime == 0) return {};
    return {DateTimeText(s->DateTime), NumberText(s->SQMValue + s->Offset, 2), NumberText(s->NELM, 2),
            NumberText(s->Temperature, 1), NumberText(s->Period, 3)};
}

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
