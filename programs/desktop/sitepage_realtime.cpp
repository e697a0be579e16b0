#include "programs/desktop/sitepage_realtime.h"

#include <QButtonGroup>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QVBoxLayout>

#include "core/station/i18n.h"
#include "core/site/localquery.h"
#include "core/site/readingwindow.h"
#include "core/site/acquisition.h"
#include "gui/dialogs.h"
#include "core/station/sqm.h"
#include "gui/flowlayout.h"
#include "gui/qtlanguage.h"
#include "gui/translatable.h"

namespace {

QString T(const char* s) { return QString::fromStdString(Tr(s)); }

}  // namespace

TRealTimePage::TRealTimePage(ISitePageContext& context) : ctx_(context) {
    QWidget* q = ctx_.Window();
    page_ = new QWidget;
    page_->setObjectName(QStringLiteral("tsGrafico"));
    auto* show = Translatable(new QGroupBox, N_("Show"));
    show->setObjectName(QStringLiteral("RadioGroup3"));
    auto* showLayout = new QVBoxLayout(show);
    show_ = new QButtonGroup(show);
    const char* choices[] = {N_("Current night"), N_("Recent recorded readings")};
    for (int i = 0; i < 2; ++i) {
        auto* r = Translatable(new QRadioButton, choices[i]);
        r->setObjectName(QStringLiteral("rbShow%1").arg(i));
        show_->addButton(r, i);
        showLayout->addWidget(r);
    }
    show_->button(1)->setChecked(true);
    QObject::connect(show_, &QButtonGroup::idClicked, q, [this](int) { ShowChosenGraph(); });

    auto* latest = Translatable(new QGroupBox, N_("Latest reading"));
    latest->setObjectName(QStringLiteral("gbGraphLatest"));
    auto* latestForm = new QFormLayout(latest);
    lblGraphTime_ = SitePageValue("lblGraphTime");
    lblGraphValue_ = SitePageValue("lblGraphValue");
    QFont bold = lblGraphValue_->font();
    bold.setBold(true);
    lblGraphTime_->setFont(bold);
    lblGraphTime_->setMinimumWidth(QFontMetrics(bold).horizontalAdvance(QStringLiteral("00/00/0000 00.00.00")) + 4);
    bold.setPointSizeF(bold.pointSizeF() * 1.4);
    lblGraphValue_->setFont(bold);
    latestForm->addRow(TrLabel(N_("UTC time")), lblGraphTime_);
    latestForm->addRow(TrLabel(N_("Reading (Mag/ArcSec squared)")), lblGraphValue_);

    auto* save = Translatable(new QPushButton, N_("Save graph"));
    save->setObjectName(QStringLiteral("btnSaveRealTimeChart"));
    QObject::connect(save, &QPushButton::clicked, q, [this] { ctx_.SaveChart(chart_); });

    // Side by side, or one under the other in a narrow (tiled) window.
    auto* top = new TFlowLayout;
    top->addWidget(show);
    top->addWidget(latest);
    top->addWidget(save);
    chart_ = MakeReadingChart("ChartRealTime", T("SQM Readings graph"));
    auto* layout = new QVBoxLayout(page_);
    layout->addLayout(top);
    layout->addWidget(chart_, 1);
    ctx_.Latest().Observe([this] {
        if (ctx_.IsCurrent(*this)) LatestReadingsChanged();
    });
}

void TRealTimePage::Hidden() {
    open_ = false;
    rows_.clear();
}

void TRealTimePage::ReopenCurrentNight() {
    double reference = 0;
    const TSQM* station = ctx_.Acquisition().Station();
    // A station that has not read yet (a connection test made it) has no time to offer.
    if (station && station->DateTime != 0) {
        reference = station->DateTime;
    } else {
        // With the time as it stands: a synchronisation asked now comes back later.
        ctx_.Acquisition().SyncInternetTime(true);
        reference = ctx_.Acquisition().NowUtc();
    }
    const double night = NightDateOf(reference);
    open_ = false;
    rows_ = ReadNightReadings(ctx_.Readings(), ctx_.SiteId(), night);
    night_ = night;
    open_ = true;
    chart_->SetTitle(QString::fromStdString(RealTimeNightTitle(night, LanguageFormats())));
}

void TRealTimePage::Plot() {
    plotted_ = true;
    if (show_->checkedId() == 0)
        PlotReadings(chart_, rows_, false, chart_->Title(), NightWindow(night_), ctx_.Position());
    else
        PlotReadings(chart_, ctx_.Latest().Rows(), false, QString::fromStdString(RecentReadingsTitle()),
                     std::nullopt, ctx_.Position());
}

void TRealTimePage::ShowChosenGraph() {
    dialogs::Guarded(ctx_.Window(), [this] {
        if (show_->checkedId() == 0) ReopenCurrentNight();
        Plot();
    });
}

void TRealTimePage::LatestReadingsChanged() {
    if (open_) ReopenCurrentNight();
    Plot();
}

void TRealTimePage::ShowReading(const TSQM* station) {
    const TLatestReadingTexts texts = LatestReadingTexts(station);
    lblGraphValue_->setText(texts.Value);
    lblGraphTime_->setText(texts.Time);
}

void TRealTimePage::Retranslate() {
    const TFormatSettings fs = LanguageFormats();
    if (show_->checkedId() == 0 && open_)
        chart_->SetTitle(QString::fromStdString(RealTimeNightTitle(night_, fs)));
    else if (show_->checkedId() != 0 && plotted_)
        chart_->SetTitle(QString::fromStdString(RecentReadingsTitle()));
    else if (!plotted_)
        chart_->SetTitle(T("SQM Readings graph"));
}

void TRealTimePage::SaveSettings(QSettings& ini) const {
    ini.setValue(QStringLiteral("Controls/RadioGroup3.ItemIndex"), show_->checkedId());
}

void TRealTimePage::RestoreSettings(QSettings& ini) {
    if (QAbstractButton* b = show_->button(ini.value(QStringLiteral("Controls/RadioGroup3.ItemIndex"), 1).toInt()))
        b->setChecked(true);
}
