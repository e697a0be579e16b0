#include "gui/translatable.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractItemModel>
#include <QAction>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QTabWidget>
#include <QVariant>

#include "core/station/i18n.h"

namespace {

const char* const kTextSource = "kaloTextSource";
const char* const kTitleSource = "kaloTitleSource";
const char* const kTabSource = "kaloTabSource";
const char* const kPaintsTexts = "kaloPaintsTexts";

QString Translated(const QVariant& source) { return QString::fromStdString(Tr(source.toByteArray().toStdString())); }

void Apply(QObject* o) {
    if (const QVariant source = o->property(kTextSource); source.isValid()) {
        const QString text = Translated(source);
        if (auto* l = qobject_cast<QLabel*>(o))
            l->setText(text);
        else if (auto* b = qobject_cast<QAbstractButton*>(o))
            b->setText(text);
        else if (auto* g = qobject_cast<QGroupBox*>(o))
            g->setTitle(text);
        else if (auto* a = qobject_cast<QAction*>(o))
            a->setText(text);
    }
    auto* w = qobject_cast<QWidget*>(o);
    if (!w) return;
    if (const QVariant source = w->property(kTitleSource); source.isValid()) w->setWindowTitle(Translated(source));
    if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
        for (int i = 0; i < tabs->count(); ++i)
            if (const QVariant source = tabs->widget(i)->property(kTabSource); source.isValid())
                tabs->setTabText(i, Translated(source));
    }
    if (auto* view = qobject_cast<QAbstractItemView*>(w)) view->viewport()->update();  // cells with texts
    if (w->property(kPaintsTexts).toBool()) w->update();
    if (auto* header = qobject_cast<QHeaderView*>(w)) {
        QAbstractItemModel* model = header->model();
        // Column titles only: a row header per reading would cost a pass over every row.
        const int n = model && header->orientation() == Qt::Horizontal ? model->columnCount() : 0;
        if (n > 0) emit model->headerDataChanged(Qt::Horizontal, 0, n - 1);
    }
}

}  // namespace

void SetTrText(QObject* o, const char* source) {
    o->setProperty(kTextSource, QByteArray(source));
    Apply(o);
}

void PaintsTranslatedTexts(QWidget* w) { w->setProperty(kPaintsTexts, true); }

QLabel* TrLabel(const char* source) { return Translatable(new QLabel, source); }

void SetTrWindowTitle(QWidget* w, const char* source) {
    w->setProperty(kTitleSource, source ? QVariant(QByteArray(source)) : QVariant());
    if (source) w->setWindowTitle(Translated(QByteArray(source)));
}

int AddTrTab(QTabWidget* tabs, QWidget* page, const char* source) {
    page->setProperty(kTabSource, QByteArray(source));
    return tabs->addTab(page, Translated(QByteArray(source)));
}

void RetranslateTree(QObject* root) {
    Apply(root);
    for (QObject* o : root->findChildren<QObject*>()) Apply(o);
}
