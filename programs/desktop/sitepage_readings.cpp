#include "programs/desktop/sitepage_readings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDateTime>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/site/readingwindow.h"
#include "core/site/siteactions.h"
#include "core/site/acquisition.h"
#include "core/station/dataset.h"
#include "gui/dialogs.h"
#include "gui/fieldbinding.h"
#include "gui/semaforo.h"
#include "core/site/siterules.h"
#include "core/station/sqm.h"
#include "gui/flowlayout.h"
#include "gui/qtlanguage.h"
#include "gui/translatable.h"

namespace {

QString T(const char* s) { return QString::fromStdString(Tr(s)); }

using Col = TReadingTableModel::Column;

}  // namespace

TReadingsPage::TReadingsPage(ISitePageContext& context) : ctx_(context) {
    page_ = new QWidget;
    page_->setObjectName(QStringLiteral("tsReadings"));
    // The settings beside the controls, or above them in a narrow (tiled) window.
    auto* top = new TFlowLayout;
    top->addWidget(BuildSettings());
    top->addWidget(BuildAcquisition());
    auto* layout = new QVBoxLayout(page_);
    layout->addLayout(top);
    layout->addWidget(BuildLatestList(), 1);
    tab_ = SitePageScrolled(page_);
}

// The method, its interval and times, and the daylight readings.
QWidget* TReadingsPage::BuildSettings() {
    auto* method = Translatable(new QGroupBox, N_("Acquisition method"));
    method->setObjectName(QStringLiteral("DBRadioGroup1"));
    auto* methodLayout = new QVBoxLayout(method);
    method_ = new QButtonGroup(method);
    for (int i = 0; i < 4; ++i) {
        auto* r = Translatable(new QRadioButton, TSiteRules::MethodCaption(i));
        r->setObjectName(QStringLiteral("rbMethod%1").arg(i));
        method_->addButton(r, i);
        methodLayout->addWidget(r);
    }

    auto* intervalRow = new QFormLayout;
    auto* interval = SitePageEdit("edInterval", 70);
    ctx_.AddEditor("SIT_INTERVAL", interval);
    intervalRow->addRow(TrLabel(N_("Interval between two readings (minutes)")), interval);

    gbTimedWindow_ = Translatable(new QGroupBox, N_("Reading time"));
    gbTimedWindow_->setObjectName(QStringLiteral("gbTimedWindow"));
    auto* timed = new QFormLayout(gbTimedWindow_);
    auto* start = SitePageEdit("timeStartEdit", 70);
    auto* stop = SitePageEdit("timeStopEdit", 70);
    ctx_.AddEditor("SIT_STARTTIME", start);
    ctx_.AddEditor("SIT_STOPTIME", stop);
    timed->addRow(TrLabel(N_("Start time (TU)")), start);
    timed->addRow(TrLabel(N_("Stop time (TU)")), stop);

    gbReadingTime_ = Translatable(new QGroupBox, N_("Reading time"));
    gbReadingTime_->setObjectName(QStringLiteral("gbReadingTime"));
    auto* window = new QFormLayout(gbReadingTime_);
    lblWindowStart_ = SitePageValue("lblWindowStart");
    lblWindowStop_ = SitePageValue("lblWindowStop");
    lblWindowStart_->setText(QStringLiteral("--:--"));
    lblWindowStop_->setText(QStringLiteral("--:--"));
    window->addRow(TrLabel(N_("Start (TU)")), lblWindowStart_);
    window->addRow(TrLabel(N_("Stop (TU)")), lblWindowStop_);

    gbDaylight_ = Translatable(new QGroupBox, N_("Daylight readings"));
    gbDaylight_->setObjectName(QStringLiteral("gbDaylight"));
    auto* day = new QFormLayout(gbDaylight_);
    auto* dayReading = Translatable(new QCheckBox, N_("Do readings during daylight"));
    dayReading->setObjectName(QStringLiteral("cbDayReading"));
    ctx_.AddEditor("SIT_DAYREADING", dayReading);
    auto* dayInterval = SitePageEdit("edDayInterval", 70);
    ctx_.AddEditor("SIT_DAYINTERVAL", dayInterval);
    day->addRow(dayReading);
    day->addRow(TrLabel(N_("Interval (minutes)")), dayInterval);

    auto* left = new QVBoxLayout;
    left->addWidget(method);
    left->addLayout(intervalRow);
    left->addWidget(gbTimedWindow_);
    left->addWidget(gbReadingTime_);
    left->addWidget(gbDaylight_);
    left->addStretch();
    auto* settings = new QWidget;
    left->setContentsMargins(0, 0, 0, 0);
    settings->setLayout(left);
    return settings;
}

// Start / Read now with the light, the latest reading and the last failure.
QWidget* TReadingsPage::BuildAcquisition() {
    QWidget* q = ctx_.Window();
    btnStartReading_ = Translatable(new QPushButton, N_("Start SQM Readings"));
    btnStartReading_->setObjectName(QStringLiteral("btnStartReading"));
    btnStartReading_->setMinimumHeight(34);
    QObject::connect(btnStartReading_, &QPushButton::clicked, q, [this] { StartOrStop(); });
    auto* readNow = Translatable(new QPushButton, N_("Read now"));
    readNow->setObjectName(QStringLiteral("btnReadNow"));
    QObject::connect(readNow, &QPushButton::clicked, q, [this] { ReadNow(); });
    light_ = new TSemaforo;
    light_->setObjectName(QStringLiteral("Semaforo1"));

    auto* latest = Translatable(new QGroupBox, N_("Latest reading"));
    latest->setObjectName(QStringLiteral("gbLatestReading"));
    auto* latestForm = new QFormLayout(latest);
    lblUtcTime_ = SitePageValue("lblUtcTime");
    lblReading_ = SitePageValue("lblReading");
    lblNelm_ = SitePageValue("lblNelm");
    lblTemperature_ = SitePageValue("lblTemperature");
    lblShutter_ = SitePageValue("lblShutter");
    QFont big = lblReading_->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    for (QLabel* l : {lblReading_, lblNelm_, lblTemperature_, lblShutter_}) l->setFont(big);
    QFont time = lblUtcTime_->font();
    time.setPointSizeF(time.pointSizeF() * 1.1);
    time.setBold(true);
    lblUtcTime_->setFont(time);
    lblUtcTime_->setMinimumWidth(QFontMetrics(time).horizontalAdvance(QStringLiteral("00/00/0000 00.00.00")) + 4);
    latestForm->addRow(TrLabel(N_("UTC time")), lblUtcTime_);
    latestForm->addRow(TrLabel(N_("Reading (Mag/ArcSec squared)")), lblReading_);
    latestForm->addRow(TrLabel(N_("Reading (NELM)")), lblNelm_);
    latestForm->addRow(TrLabel(N_("Sensor temperature (°C)")), lblTemperature_);
    latestForm->addRow(TrLabel(N_("Shutter Speed (seconds)")), lblShutter_);

    auto* controls = new QHBoxLayout;
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(btnStartReading_);
    buttons->addWidget(readNow);
    controls->addLayout(buttons, 1);
    controls->addWidget(light_, 0, Qt::AlignTop);
    auto* right = new QVBoxLayout;
    right->addLayout(controls);
    right->addWidget(latest);
    lblLastFailure_ = new QLabel;
    lblLastFailure_->setObjectName(QStringLiteral("lblLastFailure"));
    lblLastFailure_->setWordWrap(true);
    lblLastFailure_->setTextFormat(Qt::PlainText);
    lblLastFailure_->setStyleSheet(QStringLiteral("color: #a01010"));
    lblLastFailure_->hide();
    right->addWidget(lblLastFailure_);
    right->addStretch();
    auto* acquisition = new QWidget;
    acquisition->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    right->setContentsMargins(0, 0, 0, 0);
    acquisition->setLayout(right);
    return acquisition;
}

QWidget* TReadingsPage::BuildLatestList() {
    QWidget* q = ctx_.Window();
    auto* recent = Translatable(new QGroupBox, N_("Latest recorded readings"));
    recent->setObjectName(QStringLiteral("gbLatestReadings"));
    auto* recentLayout = new QVBoxLayout(recent);
    auto* countRow = new QHBoxLayout;
    edNumLatest_ = new QSpinBox;
    edNumLatest_->setObjectName(QStringLiteral("edNumLatest"));
    edNumLatest_->setRange(0, kLatestCountMax);
    edNumLatest_->setValue(10);
    // Typed digits count once the entry is done, the arrows at once.
    edNumLatest_->setKeyboardTracking(false);
    countRow->addWidget(Translatable(new QLabel, N_("Show latest readings")));
    countRow->addWidget(edNumLatest_);
    countRow->addStretch();
    recentLayout->addLayout(countRow);
    latestModel_ = new TReadingTableModel({Col::Date, Col::SqmValue, Col::Nelm, Col::SensorTemp, Col::Uploaded, Col::State}, q);
    gridLatest_ = MakeReadingGrid("gridLatest", latestModel_);
    gridLatest_->setMinimumHeight(160);
    recentLayout->addWidget(gridLatest_);
    QObject::connect(edNumLatest_, &QSpinBox::valueChanged, q, [this](int count) {
        ctx_.Latest().SetCount(count);
        dialogs::Guarded(ctx_.Window(), [this] { ctx_.Latest().Refresh(); });
    });
    ctx_.Latest().Observe([this] { latestModel_->SetRows(ctx_.Latest().Rows()); });
    return recent;
}

void TReadingsPage::Bind(TFieldBinder& binder) {
    using K = TFieldBinder::Kind;
    binder_ = &binder;
    auto edit = [this](const char* field) { return static_cast<QLineEdit*>(ctx_.Editor(field)); };
    binder.BindRadioGroup(method_, "SIT_ACQUIREMODE");
    binder.BindLineEdit(edit("SIT_INTERVAL"), "SIT_INTERVAL", K::Integer);
    binder.BindLineEdit(edit("SIT_STARTTIME"), "SIT_STARTTIME", K::TimeOfDay);
    binder.BindLineEdit(edit("SIT_STOPTIME"), "SIT_STOPTIME", K::TimeOfDay);
    binder.BindCheckBox(static_cast<QCheckBox*>(ctx_.Editor("SIT_DAYREADING")), "SIT_DAYREADING");
    binder.BindLineEdit(edit("SIT_DAYINTERVAL"), "SIT_DAYINTERVAL", K::Integer);
}

void TReadingsPage::StartOrStop() {
    dialogs::Guarded(ctx_.Window(), [this] { ctx_.Acquisition().StartOrStop(); });
}

void TReadingsPage::ReadNow() {
    dialogs::Guarded(ctx_.Window(), [this] { ctx_.Acquisition().ReadNow(); });
}

void TReadingsPage::MethodChosen() {
    ShowMethodGroups();
    dialogs::Guarded(ctx_.Window(), [this] {
        const TSiteRow site = TSiteActions::RowOf(ctx_.Site());
        const TSiteRules::TMethodGroups g = TSiteRules::GroupsFor(site.AcquireMode);
        if (g.ReadingTimeLabels && TSiteRules::CoordinatesMissing(site))
            ctx_.Prompt().Inform(Tr("Warning, latitude / longitude, were not specified: it is impossible to correctly calculate twilights"));
    });
}

void TReadingsPage::ShowMethodGroups() {
    TDataSet& ds = ctx_.Site();
    const int method = ds.Active() && !ds.Eof() ? static_cast<int>(ds.AsInteger("SIT_ACQUIREMODE")) : 0;
    const TSiteRules::TMethodGroups g = TSiteRules::GroupsFor(method);
    gbReadingTime_->setVisible(g.ReadingTimeLabels);
    gbTimedWindow_->setVisible(g.TimedWindow);
    gbDaylight_->setVisible(g.Daylight);
}

void TReadingsPage::ShowReading(const TSQM* station) {
    const TLatestReadingTexts texts = LatestReadingTexts(station);
    lblReading_->setText(texts.Value);
    lblUtcTime_->setText(texts.Time);
    lblTemperature_->setText(texts.Temperature);
    lblShutter_->setText(texts.Shutter);
    lblNelm_->setText(texts.Nelm);
    ShowFailure();  // its time too follows the language of the moment
}

void TReadingsPage::ShowFailure() {
    lblLastFailure_->setVisible(!lastFailure_.empty());
    if (!lastFailure_.empty())
        lblLastFailure_->setText(T("Last failed reading") + QStringLiteral(", ") + DateTimeText(lastFailureAt_) + QStringLiteral(": ") +
                                 QString::fromStdString(lastFailure_));
}

void TReadingsPage::ReadingFailed(const std::string& why) {
    lastFailure_ = why;
    lastFailureAt_ = NowLocal();
    ShowFailure();
}

void TReadingsPage::ReadingStored() {
    lastFailure_.clear();
    ShowFailure();
}

void TReadingsPage::ShowRunState(bool running) {
    SetTrText(btnStartReading_, running ? N_("Stop SQM Readings") : N_("Start SQM Readings"));
    if (binder_) binder_->SetReadOnly(method_, running);
    lblWindowStart_->setText(QStringLiteral("--:--"));
    lblWindowStop_->setText(QStringLiteral("--:--"));
}

void TReadingsPage::ShowSite(const TSiteRow& site, double utc) {
    if (const auto times = ReadingWindowTimes(site, utc)) {
        lblWindowStart_->setText(QString::fromStdString(times->Start));
        lblWindowStop_->setText(QString::fromStdString(times->Stop));
    }
}

void TReadingsPage::SaveSettings(QSettings& ini) const {
    ini.setValue(QStringLiteral("Controls/edNumLatest.Text"), edNumLatest_->text());
    ini.setValue(QStringLiteral("Controls/UpDown1.Position"), edNumLatest_->value());
    ini.setValue(QStringLiteral("Grids/gridLatest"), gridLatest_->horizontalHeader()->saveState());
}

void TReadingsPage::RestoreSettings(QSettings& ini) {
    const QSignalBlocker block(edNumLatest_);
    bool ok = false;
    const int typed = ini.value(QStringLiteral("Controls/edNumLatest.Text")).toString().toInt(&ok);
    edNumLatest_->setValue(ok ? typed : ini.value(QStringLiteral("Controls/UpDown1.Position"), 10).toInt());
    ctx_.Latest().SetCount(edNumLatest_->value());  // read once the window has opened
    gridLatest_->horizontalHeader()->restoreState(ini.value(QStringLiteral("Grids/gridLatest")).toByteArray());
}
