#include "programs/desktop/sitepage_querybase.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QVBoxLayout>

#include "core/station/i18n.h"

TQueryPage::TQueryPage(ISitePageContext& context, const TLayout& layout)
    : ctx_(context),
      controls_(layout.Controls),
      results_(layout.Tabs, layout.Grid, layout.ChartName, layout.Statistics, layout.Columns,
               layout.StatisticCaptions, context.Window()),
      gridKey_(QStringLiteral("Grids/") + QString::fromLatin1(layout.Grid)),
      hidden_(layout.Hidden) {
    QWidget* q = ctx_.Window();
    page_ = new QWidget;
    page_->setObjectName(QString::fromLatin1(layout.Page));
    QObject::connect(controls_.Kind(), &QButtonGroup::idClicked, q, [this](int) { ShowKindControls(); });
    QObject::connect(controls_.Prev(), &QPushButton::clicked, q, [this] { StepNight(-1); });
    QObject::connect(controls_.Next(), &QPushButton::clicked, q, [this] { StepNight(1); });
    auto* run = new QGridLayout;
    run->addWidget(Button(N_("Run query"), layout.RunButton, [this] { RunQuery(); }), 0, 0, 1, 2);
    run->addWidget(controls_.Prev(), 1, 0);
    run->addWidget(controls_.Next(), 1, 1);
    run->setRowStretch(2, 1);
    controls_.AddButtons(run);
    HideColumns();
    layout_ = new QVBoxLayout(page_);
    layout_->addLayout(controls_.Row());
    layout_->addWidget(results_.Tabs, 1);
}

void TQueryPage::AddButtons(std::initializer_list<QPushButton*> buttons) {
    auto* column = new QVBoxLayout;
    for (QPushButton* b : buttons) column->addWidget(b);
    column->addStretch(1);
    controls_.AddButtons(column);
}

void TQueryPage::HideColumns() {
    for (TReadingTableModel::Column c : hidden_) results_.Grid->setColumnHidden(results_.Model->ColumnOf(c), true);
}

void TQueryPage::SaveSettings(QSettings& ini) const {
    ini.beginGroup(QStringLiteral("Controls"));
    controls_.Save(ini);
    ini.endGroup();
    ini.setValue(gridKey_, results_.Grid->horizontalHeader()->saveState());
}

void TQueryPage::RestoreSettings(QSettings& ini) {
    ini.beginGroup(QStringLiteral("Controls"));
    controls_.Restore(ini);
    ini.endGroup();
    results_.Grid->horizontalHeader()->restoreState(ini.value(gridKey_).toByteArray());
    HideColumns();
}
