#include "programs/desktop/sitepage_netquery.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QVBoxLayout>

#include "core/station/i18n.h"
#include "gui/qtlanguage.h"
#include "programs/desktop/siteform_p.h"

namespace {

QString T(const char* s) { return QString::fromStdString(Tr(s)); }

using Col = TReadingTableModel::Column;

const Col kHiddenColumns[] = {Col::SunHeight, Col::MoonHeight, Col::MoonPhase, Col::MoonAge};

}  // namespace

TNetQueryPage::TNetQueryPage(TSiteFormPrivate& w)
    : w_(w),
      controls_({"RadioGroup5", "RadioGroup4", "DateStartNet", "DateEndNet", "timeStartNet", "timeEndNet", "BtnPrevNet",
                 "BtnNextNet"}),
      results_("PageControl3", "gridNet", "ChartNet", "lblNetStat",
               {Col::Date, Col::SqmValue, Col::Nelm, Col::SensorTemp, Col::SunHeight, Col::MoonHeight, Col::MoonPhase,
                Col::MoonAge, Col::MoonIllum, Col::NightStarts, Col::NightEnds},
               {kNetworkStatisticsCaptions.begin(), kNetworkStatisticsCaptions.end()}, w.q) {
    TSiteForm* q = w_.q;
    page_ = new QWidget;
    page_->setObjectName(QStringLiteral("tsNetQuery"));
    QObject::connect(controls_.Kind(), &QButtonGroup::idClicked, q, [this](int) { ShowKindControls(); });
    QObject::connect(controls_.Prev(), &QPushButton::clicked, q, [this] { StepNight(-1); });
    QObject::connect(controls_.Next(), &QPushButton::clicked, q, [this] { StepNight(1); });
    auto button = [q](const char* caption, const char* name, auto handler) {
        return SitePageButton(q, caption, name, handler);
    };
    auto* run = new QGridLayout;
    run->addWidget(button(N_("Run query"), "BitBtn7", [this] { RunQuery(); }), 0, 0, 1, 2);
    run->addWidget(controls_.Prev(), 1, 0);
    run->addWidget(controls_.Next(), 1, 1);
    run->setRowStretch(2, 1);
    controls_.AddButtons(run);
    auto* saves = new QVBoxLayout;
    saves->addWidget(button(N_("Save in local DB"), "BitBtn9", [this] { SaveInLocalDatabase(); }));
    saves->addWidget(button(N_("Save graph"), "btnSaveNetChart", [this] { w_.SaveChart(results_.Chart); }));
    saves->addStretch(1);
    controls_.AddButtons(saves);
    for (Col c : kHiddenColumns) results_.Grid->setColumnHidden(results_.Model->ColumnOf(c), true);
    auto* layout = new QVBoxLayout(page_);
    layout->addLayout(controls_.Row());
    layout->addWidget(results_.Tabs, 1);
}

void TNetQueryPage::Shown() {
    const bool noKind = controls_.Kind()->checkedId() < 0;
    controls_.ChooseDefaults(TSortOrder::Ascending);  // each only where none is chosen
    if (noKind) controls_.ShowKind();
    results_.ClearStatistics();
}

void TNetQueryPage::Hidden() {
    results_.ClearStatistics();
    table_.clear();
    results_.Model->Clear();
}

void TNetQueryPage::ShowKindControls() { controls_.ShowKind(); }

void TNetQueryPage::StepNight(int days) { controls_.StepDay(days); }

void TNetQueryPage::RunQuery() {
    if (querying_) return;  // the one under way answers first
    dialogs::Guarded(w_.q, [this] {
        const TQuerySelection s = controls_.Selection();
        const TQueryWindow w = QueryWindowOf(s);
        struct TAnswer {
            TNetQueryOutcome outcome;
            std::vector<TNetReading> rows;
            bool replaced = false;  // rows came back (also those read before a bad value)
            std::optional<std::string> error;
        };
        auto answer = std::make_shared<TAnswer>();
        const std::string code = w_.SiteCode();
        querying_ = true;
        QApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
        // The network database answers on the site's network lane; the window goes on meanwhile.
        w_.jobs.Run(
            TJobLane::Network,
            [answer, code, w, order = s.Order] {
                try {
                    answer->outcome = RunNetworkQuery(code, w, order, answer->rows);
                } catch (const std::exception& e) {
                    answer->error = e.what();
                }
                answer->replaced = !answer->rows.empty();
            },
            [this, answer, s, w] {
                querying_ = false;
                QApplication::restoreOverrideCursor();
                dialogs::Guarded(w_.q, [&] { QueryAnswered(s, w, answer->outcome, std::move(answer->rows),
                                                           answer->replaced, answer->error); });
            });
    });
}

void TNetQueryPage::QueryAnswered(const TQuerySelection& s, const TQueryWindow& w, const TNetQueryOutcome& o,
                                  std::vector<TNetReading> rows, bool replaced, const std::optional<std::string>& error) {
    if (replaced) table_ = std::move(rows);
    const QString title = QString::fromStdString(QueryChartTitle(s, LanguageFormats()));
    auto show = [&] {
        chartSelection_ = s;
        std::vector<TReadingRow> readings;
        readings.reserve(table_.size());
        for (const TNetReading& n : table_) readings.push_back(AsReadingRow(n));
        results_.Model->SetRows(std::move(readings));
        PlotReadings(results_.Chart, results_.Model->Rows(), false, title,
                     s.Kind == TSelectionKind::OneNight ? std::optional<TQueryWindow>(w) : std::nullopt,
                     w_.SitePosition());
        if (results_.Model->rowCount() > 0) results_.Grid->selectRow(0);
    };
    if (error) {
        show();  // the rows read before the bad value
        throw std::runtime_error(*error);
    }
    using K = TNetQueryOutcome::Kind;
    if (o.What != K::CredentialsProblem && o.What != K::NotEnabled) results_.ClearStatistics();
    if (o.What != K::Rows) {
        if (o.IsError())
            w_.prompt.Error(o.Message);
        else
            w_.prompt.Inform(o.Message);
        return;
    }
    show();
    const auto texts = NetworkStatisticsTexts(table_, LanguageFormats());
    results_.ShowStatistics({texts.begin(), texts.end()});
    w_.prompt.Inform(o.Message);
}

void TNetQueryPage::SaveInLocalDatabase() {
    dialogs::Guarded(w_.q, [this] {
        TImportOutcome o;
        {
            std::optional<TBusyProgress> busy;
            if (!table_.empty()) busy.emplace(w_.q, T("Saving the readings in the local database..."));
            const double logTime = w_.clock.NowLocal() + w_.common.time.Offset;
            o = SaveNetworkReadings(w_.trReadings, w_.RecordSiteId(), w_.SiteName(), table_, logTime,
                                    [&](size_t n) { busy->Step(n, table_.size()); });
        }
        if (o.IsError())
            w_.prompt.Error(o.Message);
        else
            w_.prompt.Inform(o.Message);
    });
}

void TNetQueryPage::Retranslate() {
    if (chartSelection_)
        results_.Chart->SetTitle(QString::fromStdString(QueryChartTitle(*chartSelection_, LanguageFormats())));
}

void TNetQueryPage::SaveSettings(QSettings& ini) const {
    ini.beginGroup(QStringLiteral("Controls"));
    controls_.Save(ini);
    ini.endGroup();
    ini.setValue(QStringLiteral("Grids/gridNet"), results_.Grid->horizontalHeader()->saveState());
}

void TNetQueryPage::RestoreSettings(QSettings& ini) {
    ini.beginGroup(QStringLiteral("Controls"));
    controls_.Restore(ini);
    ini.endGroup();
    results_.Grid->horizontalHeader()->restoreState(ini.value(QStringLiteral("Grids/gridNet")).toByteArray());
    for (Col c : kHiddenColumns) results_.Grid->setColumnHidden(results_.Model->ColumnOf(c), true);
}
