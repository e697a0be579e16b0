#include "gui/querycontrols.h"

#include <QButtonGroup>
#include <QDateEdit>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTableView>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "core/station/i18n.h"
#include "gui/flowlayout.h"
#include "gui/translatable.h"

namespace {

QString Key(const char* control, const char* what) { return QString::fromLatin1(control) + QLatin1Char('.') + QLatin1String(what); }

QGroupBox* Radio(const char* caption, const char* name, QButtonGroup*& group, std::initializer_list<const char*> items) {
    auto* box = Translatable(new QGroupBox, caption);
    box->setObjectName(QString::fromLatin1(name));
    auto* l = new QVBoxLayout(box);
    group = new QButtonGroup(box);
    int i = 0;
    for (const char* item : items) {
        auto* r = Translatable(new QRadioButton, item);
        r->setObjectName(QStringLiteral("%1_%2").arg(QString::fromLatin1(name)).arg(i));
        group->addButton(r, i++);
        l->addWidget(r);
    }
    return box;
}

QDateEdit* DateEdit(const char* name) {
    auto* e = new QDateEdit(QDate::currentDate());
    e->setObjectName(QString::fromLatin1(name));
    e->setCalendarPopup(true);
    e->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    return e;
}

QTimeEdit* TimeEdit(const char* name) {
    auto* e = new QTimeEdit(QTime(0, 0));
    e->setObjectName(QString::fromLatin1(name));
    e->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    return e;
}

}  // namespace

QPushButton* MakeButton(const char* caption, const char* name) {
    auto* b = Translatable(new QPushButton, caption);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

TQueryControls::TQueryControls(const TQueryControlNames& names) : names_(names) {
    QGroupBox* kindBox = Radio(N_("Selection kind"), names.Kind, kind_, {N_("One night"), N_("Date interval")});
    QGroupBox* orderBox = Radio(N_("Order by date"), names.Order, order_, {N_("Ascending"), N_("Descending")});
    dateStart_ = DateEdit(names.DateStart);
    dateEnd_ = DateEdit(names.DateEnd);
    timeStart_ = TimeEdit(names.TimeStart);
    timeEnd_ = TimeEdit(names.TimeEnd);
    lblDateStart_ = TrLabel(N_("Night to view"));
    lblDateEnd_ = TrLabel(N_("To date"));
    lblTimeStart_ = TrLabel(N_("Time"));
    lblTimeEnd_ = TrLabel(N_("Time"));
    lblDateStart_->setObjectName(QString::fromLatin1(names.DateStart) + QStringLiteral("Label"));
    auto* datesBox = new QWidget;
    auto* dates = new QGridLayout(datesBox);
    dates->setContentsMargins(0, 0, 0, 0);
    dates->addWidget(lblDateStart_, 0, 0);
    dates->addWidget(dateStart_, 1, 0);
    dates->addWidget(lblTimeStart_, 0, 1);
    dates->addWidget(timeStart_, 1, 1);
    dates->addWidget(lblDateEnd_, 2, 0);
    dates->addWidget(dateEnd_, 3, 0);
    dates->addWidget(lblTimeEnd_, 2, 1);
    dates->addWidget(timeEnd_, 3, 1);
    dates->setRowStretch(4, 1);
    prev_ = MakeButton(N_("Previous"), names.Prev);
    next_ = MakeButton(N_("Next"), names.Next);
    row_ = new TFlowLayout;
    row_->addWidget(kindBox);
    row_->addWidget(datesBox);
    row_->addWidget(orderBox);
}

void TQueryControls::AddButtons(QLayout* group) {
    auto* box = new QWidget;
    group->setContentsMargins(0, 0, 0, 0);
    box->setLayout(group);
    row_->addWidget(box);
}

void TQueryControls::ShowKind() {
    const bool night = kind_->checkedId() != 1;
    SetTrText(lblDateStart_, night ? N_("Night to view") : N_("From date"));
    prev_->setVisible(night);
    next_->setVisible(night);
    for (QWidget* w : std::initializer_list<QWidget*>{timeStart_, timeEnd_, dateEnd_, lblDateEnd_, lblTimeStart_, lblTimeEnd_})
        w->setVisible(!night);
}

void TQueryControls::ChooseDefaults(TSortOrder order) {
    if (kind_->checkedId() < 0) kind_->button(0)->setChecked(true);
    if (order_->checkedId() < 0) order_->button(static_cast<int>(order))->setChecked(true);
}

TQuerySelection TQueryControls::Selection() const {
    TQuerySelection s;
    s.Kind = kind_->checkedId() == 1 ? TSelectionKind::DateInterval : TSelectionKind::OneNight;
    s.Order = order_->checkedId() == 0 ? TSortOrder::Ascending : TSortOrder::Descending;
    s.DateStart = FromQDate(dateStart_->date());
    s.DateEnd = FromQDate(dateEnd_->date());
    s.TimeStart = FromQTime(timeStart_->time());
    s.TimeEnd = FromQTime(timeEnd_->time());
    return s;
}

void TQueryControls::StepDay(int days) { dateStart_->setDate(dateStart_->date().addDays(days)); }

void TQueryControls::ShowNight(double nightDate) {
    if (kind_->checkedId() != 1) dateStart_->setDate(ToQDateTime(nightDate).date());
}

void TQueryControls::Save(QSettings& ini) const {
    ini.setValue(Key(names_.DateEnd, "Date"), dateEnd_->date().toString(Qt::ISODate));
    ini.setValue(Key(names_.DateStart, "Date"), dateStart_->date().toString(Qt::ISODate));
    ini.setValue(Key(names_.Kind, "ItemIndex"), kind_->checkedId());
    ini.setValue(Key(names_.Order, "ItemIndex"), order_->checkedId());
    ini.setValue(Key(names_.TimeStart, "Time"), timeStart_->time().toString(Qt::ISODate));
    ini.setValue(Key(names_.TimeEnd, "Time"), timeEnd_->time().toString(Qt::ISODate));
}

void TQueryControls::Restore(QSettings& ini) {
    auto date = [&](const char* name, QDateEdit* e) {
        const QDate d = QDate::fromString(ini.value(Key(name, "Date")).toString(), Qt::ISODate);
        if (d.isValid()) e->setDate(d);
    };
    auto time = [&](const char* name, QTimeEdit* e) {
        const QTime t = QTime::fromString(ini.value(Key(name, "Time")).toString(), Qt::ISODate);
        if (t.isValid()) e->setTime(t);
    };
    auto choice = [&](const char* name, QButtonGroup* g) {
        if (QAbstractButton* b = g->button(ini.value(Key(name, "ItemIndex"), -1).toInt())) b->setChecked(true);
    };
    date(names_.DateEnd, dateEnd_);
    date(names_.DateStart, dateStart_);
    choice(names_.Kind, kind_);
    choice(names_.Order, order_);
    time(names_.TimeStart, timeStart_);
    time(names_.TimeEnd, timeEnd_);
}

TQueryResults::TQueryResults(const char* tabsName, const char* gridName, const char* chartName, const char* statsPrefix,
                             std::vector<TReadingTableModel::Column> columns, const std::vector<const char*>& statCaptions,
                             QObject* owner) {
    Tabs = new QTabWidget;
    Tabs->setObjectName(QString::fromLatin1(tabsName));
    Model = new TReadingTableModel(std::move(columns), owner);
    Grid = MakeReadingGrid(gridName, Model);
    AddTrTab(Tabs, Grid, N_("Data"));
    Chart = MakeReadingChart(chartName, QString());
    AddTrTab(Tabs, Chart, N_("Graph"));
    auto* stats = new QWidget;
    stats->setObjectName(QString::fromLatin1(tabsName) + QStringLiteral("Statistics"));
    auto* form = new QFormLayout(stats);
    QFont big = stats->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    for (size_t i = 0; i < statCaptions.size(); ++i) {
        auto* l = new QLabel(QStringLiteral("---"));
        l->setObjectName(QString::fromLatin1(statsPrefix) + QString::number(i));
        l->setFont(big);
        l->setMinimumWidth(90);
        form->addRow(TrLabel(statCaptions[i]), l);
        Stats.push_back(l);
    }
    AddTrTab(Tabs, stats, N_("Statistics"));
}

void TQueryResults::ShowStatistics(const std::vector<std::string>& texts) {
    for (size_t i = 0; i < Stats.size() && i < texts.size(); ++i) Stats[i]->setText(QString::fromStdString(texts[i]));
}

void TQueryResults::ClearStatistics() {
    for (QLabel* l : Stats) l->setText(QStringLiteral("---"));
}
