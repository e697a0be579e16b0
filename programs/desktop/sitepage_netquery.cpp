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
#include "core/site/sitecommons.h"
#include "gui/dialogs.h"
#include "gui/guiports.h"
#include "gui/qtlanguage.h"

using Col = TReadingTableModel::Column;

TNetQueryPage::TNetQueryPage(ISitePageContext& context)
    : TQueryPage(context,
                 {.Page = "tsNetQuery",
                  .RunButton = "BitBtn7",
                  .Controls = {"RadioGroup5", "RadioGroup4", "DateStartNet", "DateEndNet", "timeStartNet",
                               "timeEndNet", "BtnPrevNet", "BtnNextNet"},
                  .Columns = {Col::Date, Col::SqmValue, Col::Nelm, Col::SensorTemp, Col::SunHeight, Col::MoonHeight,
                              Col::MoonPhase, Col::MoonAge, Col::MoonIllum, Col::NightStarts, Col::NightEnds},
                  .Hidden = {Col::SunHeight, Col::MoonHeight, Col::MoonPhase, Col::MoonAge},
                  .Tabs = "PageControl3",
                  .Grid = "gridNet",
                  .ChartName = "ChartNet",
                  .Statistics = "lblNetStat",
                  .StatisticCaptions = {kNetworkStatisticsCaptions.begin(), kNetworkStatisticsCaptions.end()}}) {
    AddButtons({Button(N_("Save in local DB"), "BitBtn9", [this] { SaveInLocalDatabase(); }),
                Button(N_("Save graph"), "btnSaveNetChart", [this] { ctx_.SaveChart(results_.Chart); })});
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

void TNetQueryPage::RunQuery() {
    if (querying_) return;  // the one under way answers first
    dialogs::Guarded(ctx_.Window(), [this] {
        const TQuerySelection s = controls_.Selection();
        const TQueryWindow w = QueryWindowOf(s);
        struct TAnswer {
            TNetQueryOutcome outcome;
            std::vector<TNetReading> rows;
            bool replaced = false;  // rows came back (also those read before a bad value)
            std::optional<std::string> error;
        };
        auto answer = std::make_shared<TAnswer>();
        const std::string code = ctx_.SiteCode();
        querying_ = true;
        QApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
        // The network database answers on the site's network lane; the window goes on meanwhile.
        ctx_.Jobs().Run(
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
                dialogs::Guarded(ctx_.Window(), [&] { QueryAnswered(s, w, answer->outcome, std::move(answer->rows),
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
                     ctx_.Position());
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
            ctx_.Prompt().Error(o.Message);
        else
            ctx_.Prompt().Inform(o.Message);
        return;
    }
    show();
    const auto texts = NetworkStatisticsTexts(table_, LanguageFormats());
    results_.ShowStatistics({texts.begin(), texts.end()});
    ctx_.Prompt().Inform(o.Message);
}

void TNetQueryPage::SaveInLocalDatabase() {
    dialogs::Guarded(ctx_.Window(), [this] {
        TImportOutcome o;
        {
            std::optional<TBusyProgress> busy;
            if (!table_.empty()) busy.emplace(ctx_.Window(), QString::fromStdString(Tr("Saving the readings in the local database...")));
            const double logTime = ctx_.NowLocal() + ctx_.Common().time.Offset;
            o = SaveNetworkReadings(ctx_.Readings(), ctx_.SiteId(), ctx_.SiteName(), table_, logTime,
                                    [&](size_t n) { busy->Step(n, table_.size()); });
        }
        if (o.IsError())
            ctx_.Prompt().Error(o.Message);
        else
            ctx_.Prompt().Inform(o.Message);
    });
}

void TNetQueryPage::Retranslate() {
    if (chartSelection_)
        results_.Chart->SetTitle(QString::fromStdString(QueryChartTitle(*chartSelection_, LanguageFormats())));
}
