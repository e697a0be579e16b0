#include "programs/desktop/sitepage_nights.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/site/nightsummaries.h"
#include "core/station/fbdb.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "gui/dialogs.h"
#include "gui/qtlanguage.h"
#include "gui/translatable.h"
#include "plot/nightschart.h"

namespace {

QString T(const char* s) { return QString::fromStdString(Tr(s)); }

double DateOf(const QDate& d) { return EncodeDate(d.year(), d.month(), d.day()); }
QDate QDateOf(double date) {
    const DateTimeParts p = DecodeDateTime(date);
    return QDate(p.year, p.month, p.day);
}

const char* const kColumns[] = {N_("Night"),          N_("Readings"), N_("Dark"),    N_("Clear dark"),
                                N_("Clear fraction"), N_("Sky brightness"), N_("Darkest"), N_("Class")};

}  // namespace

// The chart drawn by the plot layer, as the command line and the station draw it.
class TNightsChartView : public QWidget {
public:
    TNightsChartView() { setMinimumHeight(220); }
    void Show(const std::vector<TNightSummary>& nights, const TNightTrend& trend) {
        nights_ = nights;
        trend_ = trend;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        TNightsChartTexts texts = NightsChartTexts();
        texts.DecimalSeparator = LanguageFormats().DecimalSeparator;
        RenderNightsChart(nights_, trend_, p, size(), texts);
    }

private:
    std::vector<TNightSummary> nights_;
    TNightTrend trend_;
};

TNightsPage::TNightsPage(ISitePageContext& context) : ctx_(context) {
    page_ = new QWidget;
    page_->setObjectName(QStringLiteral("tsNights"));
    from_ = new QDateEdit;
    from_->setObjectName(QStringLiteral("dtNightsFrom"));
    to_ = new QDateEdit;
    to_->setObjectName(QStringLiteral("dtNightsTo"));
    for (QDateEdit* e : {from_, to_}) e->setCalendarPopup(true);
    const QDate today = QDate::currentDate();
    from_->setDate(today.addYears(-1));
    to_->setDate(today);
    auto* show = SitePageButton(ctx_.Window(), N_("Show"), "btnShowNights", [this] { ShowNights(); });

    auto* top = new QHBoxLayout;
    top->addWidget(TrLabel(N_("From")));
    top->addWidget(from_);
    top->addWidget(TrLabel(N_("To")));
    top->addWidget(to_);
    top->addWidget(show);
    top->addStretch();

    table_ = new QTableWidget(0, static_cast<int>(std::size(kColumns)));
    table_->setObjectName(QStringLiteral("gridNights"));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->setVisible(false);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    trend_ = new QLabel;
    trend_->setObjectName(QStringLiteral("lblNightsTrend"));
    trend_->setWordWrap(true);
    chart_ = new TNightsChartView;
    chart_->setObjectName(QStringLiteral("ChartNights"));

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(table_);
    split->addWidget(chart_);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(page_);
    layout->addLayout(top);
    layout->addWidget(trend_);
    layout->addWidget(split, 1);
    Retranslate();
}

void TNightsPage::SetDates(double from, double to) {
    from_->setDate(QDateOf(from));
    to_->setDate(QDateOf(to));
}

void TNightsPage::Shown() {
    if (!shown_) ShowNights();
}

void TNightsPage::ShowNights() {
    dialogs::Guarded(ctx_.Window(), [this] {
        shown_ = true;
        const double from = DateOf(from_->date()), to = DateOf(to_->date());
        nights_ = to < from ? std::vector<TNightSummary>{}
                            : NightSummaries(ctx_.Readings().Db(), ctx_.SiteId(), from, to);
        Fill();
    });
}

void TNightsPage::Fill() {
    const TFormatSettings fs = LanguageFormats();
    table_->setRowCount(static_cast<int>(nights_.size()));
    auto number = [&](const std::optional<double>& v, int decimals) {
        return v ? QString::fromStdString(FormatNumber(*v, decimals, fs)) : QString();
    };
    // Newest first, as the reading lists.
    for (size_t k = 0; k < nights_.size(); ++k) {
        const TNightSummary& n = nights_[nights_.size() - 1 - k];
        const QString cells[] = {QString::fromStdString(FormatDateText(n.Night, fs)), QString::number(n.Readings),
                                 QString::number(n.DarkReadings), QString::number(n.ClearDarkReadings),
                                 number(n.ClearFraction(), 3), number(n.SkyBrightness, 2), number(n.Darkest, 2),
                                 QString::fromStdString(NightClassText(n.Class()))};
        for (int c = 0; c < static_cast<int>(std::size(cells)); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c > 0 && c < 7) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(static_cast<int>(k), c, item);
        }
    }
    const TNightTrend trend = FitTrend(nights_);
    trend_->setText(QString::fromStdString(TrendText(trend, fs)));
    chart_->Show(nights_, trend);
}

void TNightsPage::Retranslate() {
    QStringList headers;
    for (const char* c : kColumns) headers << T(c);
    table_->setHorizontalHeaderLabels(headers);
    if (shown_) Fill();
}
