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
#include "programs/desktop/siteform_p.h"

namespace {

QString T(const char* s) { return QString::fromStdString(Tr(s)); }

using Col = TReadingTableModel::Column;

}  // namespace

TLocalQueryPage::TLocalQueryPage(TSiteFormPrivate& w)
    : w_(w),
      controls_({"RadioGroup1", "RadioGroup2", "DateStart", "DateEnd", "timeStart", "timeEnd", "btnPrev", "btnNext"}),
      results_("PageControl2", "gridQuery", "ChartQuery", "lblStat",
               {Col::Date, Col::SqmValue, Col::Nelm, Col::SensorTemp, Col::State, Col::Uploaded, Col::Syncro,
                Col::NightStarts, Col::NightEnds},
               {kStatisticsCaptions.begin(), kStatisticsCaptions.end()}, w.q) {
    TSiteForm* q = w_.q;
    page_ = new QWidget;
    page_->setObjectName(QStringLiteral("tsDB"));
    QObject::connect(controls_.Kind(), &QButtonGroup::idClicked, q, [this](int) { ShowKindControls(); });
    QObject::connect(controls_.Order(), &QButtonGroup::idClicked, q, [this](int) { RunQuery(); });
    QObject::connect(controls_.Prev(), &QPushButton::clicked, q, [this] { StepNight(-1); });
    QObject::connect(controls_.Next(), &QPushButton::clicked, q, [this] { StepNight(1); });
    auto button = [q](const char* caption, const char* name, auto handler) {
        return SitePageButton(q, caption, name, handler);
    };
    auto* run = new QGridLayout;
    run->addWidget(button(N_("Run query"), "btnRunQuery", [this] { RunQuery(); }), 0, 0, 1, 2);
    run->addWidget(controls_.Prev(), 1, 0);
    run->addWidget(controls_.Next(), 1, 1);
    run->setRowStretch(2, 1);
    controls_.AddButtons(run);
    auto* files = new QVBoxLayout;
    files->addWidget(button(N_("Export in a text file"), "BitBtn5", [this] { ExportToFile(); }));
    files->addWidget(button(N_("Save graph"), "btnSaveQueryChart", [this] { w_.SaveChart(results_.Chart); }));
    files->addStretch(1);
    controls_.AddButtons(files);
    auto* deletions = new QVBoxLayout;
    deletions->addWidget(button(N_("Delete selected reading"), "btnDeleteRow", [this] { DeleteSelected(); }));
    deletions->addWidget(button(N_("Delete all queried readings"), "btnDeleteAll", [this] { DeleteAllQueried(); }));
    deletions->addStretch(1);
    controls_.AddButtons(deletions);
    results_.Grid->setColumnHidden(results_.Model->ColumnOf(Col::State), true);
    emptyNote_ = new QLabel;
    emptyNote_->setObjectName(QStringLiteral("lblNoReadings"));
    emptyNote_->setWordWrap(true);
    emptyNote_->hide();
    auto* layout = new QVBoxLayout(page_);
    layout->addLayout(controls_.Row());
    layout->addWidget(emptyNote_);
    layout->addWidget(results_.Tabs, 1);
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

void TLocalQueryPage::ShowKindControls() { controls_.ShowKind(); }

void TLocalQueryPage::Replot() {
    std::optional<TQueryWindow> span;
    if (selection_.Kind == TSelectionKind::OneNight) span = QueryWindowOf(selection_);
    PlotReadings(results_.Chart, results_.Model->Rows(), true, title_, span, w_.SitePosition());
}

void TLocalQueryPage::RunQuery() {
    dialogs::Guarded(w_.q, [this] {
        const TQuerySelection s = controls_.Selection();
        const TFormatSettings fs = LanguageFormats();
        const TQueryWindow w = QueryWindowOf(s);
        title_ = QString::fromStdString(QueryChartTitle(s, fs));
        selection_ = s;
        open_ = false;
        results_.Model->Clear();
        ShowEmptyNote();
        TBusyProgress busy(w_.q, T("Reading the selected readings..."));
        TQueryResult result =
            RunQueryWithStatistics(w_.trReadings, w_.RecordSiteId(), w, s.Order, [&](size_t n) { busy.Step(n); });
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
    dialogs::Guarded(w_.q, [this] {
        const std::string refusal = ExportRefusal(open_, results_.Model->Rows().size());
        if (!refusal.empty()) {
            w_.prompt.Error(refusal);
            return;
        }
        const QString file = w_.ChooseFile(T("Text files") + QStringLiteral(" (*.txt);;") + T("CSV files") +
                                               QStringLiteral(" (*.csv)"),
                                           QStringLiteral("txt"));
        if (file.isEmpty()) return;
        TBusyProgress busy(w_.q, T("Exporting..."));
        ExportReadings(file.toStdString(), results_.Model->Rows(), UserFormatSettings());
    });
}

void TLocalQueryPage::DeleteSelected() {
    dialogs::Guarded(w_.q, [this] {
        if (!open_) throw std::runtime_error(Tr("Cannot perform this operation on a closed dataset"));
        const auto& rows = results_.Model->Rows();
        if (rows.empty()) throw std::runtime_error(Tr("Cannot perform this operation on an empty dataset"));
        const int current = results_.Grid->currentIndex().isValid() ? results_.Grid->currentIndex().row() : 0;
        const std::string code = rows.at(static_cast<size_t>(current)).Code;
        if (!w_.prompt.Confirm(DeleteOneQuestion())) return;
        DeleteReading(w_.trReadings, code);
        results_.Model->RemoveCodes({code});
        ShowEmptyNote();
        Replot();
        if (results_.Model->rowCount() > 0)
            results_.Grid->setCurrentIndex(results_.Model->index(std::min(current, results_.Model->rowCount() - 1), 0));
    });
}

void TLocalQueryPage::DeleteAllQueried() {
    dialogs::Guarded(w_.q, [this] {
        if (!open_) throw std::runtime_error(Tr("Cannot perform this operation on a closed dataset"));
        const auto& rows = results_.Model->Rows();
        if (!w_.prompt.Confirm(DeleteAllQuestion(rows.size()))) return;
        std::vector<std::string> codes;
        codes.reserve(rows.size());
        for (const auto& r : rows) codes.push_back(r.Code);
        {
            TBusyProgress busy(w_.q, T("Deleting the readings..."));
            DeleteReadings(w_.trReadings, codes, [&](size_t n) { busy.Step(n, codes.size()); });
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

void TLocalQueryPage::SaveSettings(QSettings& ini) const {
    ini.beginGroup(QStringLiteral("Controls"));
    controls_.Save(ini);
    ini.endGroup();
    ini.setValue(QStringLiteral("Grids/gridQuery"), results_.Grid->horizontalHeader()->saveState());
}

void TLocalQueryPage::RestoreSettings(QSettings& ini) {
    ini.beginGroup(QStringLiteral("Controls"));
    controls_.Restore(ini);
    ini.endGroup();
    results_.Grid->horizontalHeader()->restoreState(ini.value(QStringLiteral("Grids/gridQuery")).toByteArray());
    // "State" stays out of sight whatever the file says.
    results_.Grid->setColumnHidden(results_.Model->ColumnOf(Col::State), true);
    // The page opens on the night under way, never on one not begun (before noon UTC).
    controls_.ShowNight(NightDateOf(w_.acq.NowUtc()));
}
