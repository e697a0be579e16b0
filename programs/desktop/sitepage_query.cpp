#include "programs/desktop/sitepage_query.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QVBoxLayout>

#include "core/station/i18n.h"
#include "gui/qtlanguage.h"
#include "gui/translatable.h"
#include "core/site/acquisition.h"
#include "gui/dialogs.h"
#include "gui/guiports.h"

namespace {

QString T(const char* s) { return QString::fromStdString(Tr(s)); }

using Col = TReadingTableModel::Column;

}  // namespace

TLocalQueryPage::TLocalQueryPage(ISitePageContext& context)
    : TQueryPage(context,
                 {.Page = "tsDB",
                  .RunButton = "btnRunQuery",
                  .Controls = {"RadioGroup1", "RadioGroup2", "DateStart", "DateEnd", "timeStart", "timeEnd", "btnPrev",
                               "btnNext"},
                  .Columns = {Col::Date, Col::SqmValue, Col::Nelm, Col::SensorTemp, Col::State, Col::Uploaded,
                              Col::Syncro, Col::NightStarts, Col::NightEnds},
                  .Hidden = {Col::State},
                  .Tabs = "PageControl2",
                  .Grid = "gridQuery",
                  .ChartName = "ChartQuery",
                  .Statistics = "lblStat",
                  .StatisticCaptions = {kStatisticsCaptions.begin(), kStatisticsCaptions.end()}}) {
    QObject::connect(controls_.Order(), &QButtonGroup::idClicked, ctx_.Window(), [this](int) { RunQuery(); });
    AddButtons({Button(N_("Export in a text file"), "BitBtn5", [this] { ExportToFile(); }),
                Button(N_("Save graph"), "btnSaveQueryChart", [this] { ctx_.SaveChart(results_.Chart); })});
    AddButtons({Button(N_("Delete selected reading"), "btnDeleteRow", [this] { DeleteSelected(); }),
                Button(N_("Delete all queried readings"), "btnDeleteAll", [this] { DeleteAllQueried(); })});
    emptyNote_ = new QLabel;
    emptyNote_->setObjectName(QStringLiteral("lblNoReadings"));
    emptyNote_->setWordWrap(true);
    emptyNote_->hide();
    Layout()->insertWidget(1, emptyNote_);
}

void TLocalQueryPage::ShowEmptyNote() {
    // An empty grid alone looks like a query that did not run.
    const bool empty = open_ && results_.Model->rowCount() == 0;
    if (empty)
        SetTrText(emptyNote_, selection_.Kind == TSelectionKind::OneNight ? N_("No readings in this night")
                                                                          : N_("No readings in this interval"));
    emptyNote_->setVisible(empty);
}

void TLocalQueryPage::Shown() {
    if (!open_) results_.ClearStatistics();
    controls_.ChooseDefaults(TSortOrder::Descending);
    ShowKindControls();
}

void TLocalQueryPage::Replot() {
    std::optional<TQueryWindow> span;
    if (selection_.Kind == TSelectionKind::OneNight) span = QueryWindowOf(selection_);
    PlotReadings(results_.Chart, results_.Model->Rows(), true, title_, span, ctx_.Position());
}

void TLocalQueryPage::RunQuery() {
    dialogs::Guarded(ctx_.Window(), [this] {
        const TQuerySelection s = controls_.Selection();
        const TFormatSettings fs = LanguageFormats();
        const TQueryWindow w = QueryWindowOf(s);
        title_ = QString::fromStdString(QueryChartTitle(s, fs));
        selection_ = s;
        open_ = false;
        results_.Model->Clear();
        ShowEmptyNote();
        TBusyProgress busy(ctx_.Window(), T("Reading the selected readings..."));
        TQueryResult result =
            RunQueryWithStatistics(ctx_.Readings(), ctx_.SiteId(), w, s.Order, [&](size_t n) { busy.Step(n); });
        results_.Model->SetRows(std::move(result.Rows));
        open_ = true;
        ShowEmptyNote();
        Replot();
        const auto texts = StatisticsTexts(result.Statistics, fs);
        results_.ShowStatistics({texts.begin(), texts.end()});
    });
}

void TLocalQueryPage::StepNight(int days) {
    controls_.StepDay(days);
    RunQuery();
}

void TLocalQueryPage::ExportToFile() {
    dialogs::Guarded(ctx_.Window(), [this] {
        const std::string refusal = ExportRefusal(open_, results_.Model->Rows().size());
        if (!refusal.empty()) {
            ctx_.Prompt().Error(refusal);
            return;
        }
        const QString file = ctx_.ChooseFile(T("Text files") + QStringLiteral(" (*.txt);;") + T("CSV files") +
                                               QStringLiteral(" (*.csv)"),
                                           QStringLiteral("txt"));
        if (file.isEmpty()) return;
        TBusyProgress busy(ctx_.Window(), T("Exporting..."));
        ExportReadings(file.toStdString(), results_.Model->Rows(), UserFormatSettings());
    });
}

void TLocalQueryPage::DeleteSelected() {
    dialogs::Guarded(ctx_.Window(), [this] {
        if (!open_) throw std::runtime_error(Tr("Cannot perform this operation on a closed dataset"));
        const auto& rows = results_.Model->Rows();
        if (rows.empty()) throw std::runtime_error(Tr("Cannot perform this operation on an empty dataset"));
        const int current = results_.Grid->currentIndex().isValid() ? results_.Grid->currentIndex().row() : 0;
        const std::string code = rows.at(static_cast<size_t>(current)).Code;
        if (!ctx_.Prompt().Confirm(DeleteOneQuestion())) return;
        DeleteReading(ctx_.Readings(), code);
        results_.Model->RemoveCodes({code});
        ShowEmptyNote();
        Replot();
        if (results_.Model->rowCount() > 0)
            results_.Grid->setCurrentIndex(results_.Model->index(std::min(current, results_.Model->rowCount() - 1), 0));
    });
}

void TLocalQueryPage::DeleteAllQueried() {
    dialogs::Guarded(ctx_.Window(), [this] {
        if (!open_) throw std::runtime_error(Tr("Cannot perform this operation on a closed dataset"));
        const auto& rows = results_.Model->Rows();
        if (!ctx_.Prompt().Confirm(DeleteAllQuestion(rows.size()))) return;
        std::vector<std::string> codes;
        codes.reserve(rows.size());
        for (const auto& r : rows) codes.push_back(r.Code);
        {
            TBusyProgress busy(ctx_.Window(), T("Deleting the readings..."));
            DeleteReadings(ctx_.Readings(), codes, [&](size_t n) { busy.Step(n, codes.size()); });
        }
        results_.Model->RemoveCodes({codes.begin(), codes.end()});
        ShowEmptyNote();
        Replot();
    });
}

void TLocalQueryPage::Retranslate() {
    if (!open_) return;
    title_ = QString::fromStdString(QueryChartTitle(selection_, LanguageFormats()));
    results_.Chart->SetTitle(title_);
}

void TLocalQueryPage::RestoreSettings(QSettings& ini) {
    TQueryPage::RestoreSettings(ini);
    // The page opens on the night under way, never on one not begun (before noon UTC).
    controls_.ShowNight(NightDateOf(ctx_.Acquisition().NowUtc()));
}
