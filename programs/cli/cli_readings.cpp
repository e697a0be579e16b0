// kalosqm-cli readings | export: the stored readings of a site, as the
// query page of its window selects, counts and exports them.
#include <algorithm>
#include <iostream>
#include <memory>

#include "programs/cli/cli_query.h"
#include "core/station/fbdb.h"
#include "core/site/localquery.h"
#include "core/station/myutils.h"

namespace {

struct ReadingsOptions {
    std::string db;
    int site = 0;
    cli::TSelectionOptions selection;
    bool stats = false;
};

struct ExportOptions {
    std::string db;
    int site = 0;
    cli::TSelectionOptions selection;
    std::string out;
};

std::vector<std::string> RowCells(const TReadingRow& r) {
    return {FormatSqlDateTime(r.DateTime), cli::Cell(r.Corrected(), 2), cli::Cell(r.Nelm(), 2),
            cli::Cell(r.Temperature, 1), FlagText(r.Uploaded), FlagText(r.Syncro), StateText(r.State)};
}

size_t LeftOutCount(const std::vector<TReadingRow>& rows) {
    return static_cast<size_t>(std::count_if(rows.begin(), rows.end(), [](const TReadingRow& r) { return r.LeftOut; }));
}

int Readings(const ReadingsOptions& o) {
    const TQuerySelection s = cli::SelectionOf(o.selection);
    fb::Database db;
    cli::OpenLocalDatabase(db, o.db);
    cli::LoadSite(db, o.site, o.db);
    const TQueryWindow w = QueryWindowOf(s);
    TQueryResult result;
    {
        fb::Transaction tr(db);
        tr.Start();
        if (o.stats)
            result = RunQueryWithStatistics(tr, o.site, w, s.Order);
        else
            result.Rows = RunLocalQuery(tr, o.site, w, s.Order);
        tr.Commit();
    }
    db.Close();
    std::vector<std::vector<std::string>> cells;
    cells.reserve(result.Rows.size());
    for (const TReadingRow& r : result.Rows) cells.push_back(RowCells(r));
    cli::PrintTabSeparated(std::cout,
                    {Tr("UTC time"), Tr("SQM Value"), Tr("NELM"), Tr("Sensor temp."), Tr("Uploaded"),
                     Tr("Syncronized"), Tr("State")},
                    cells);
    if (o.stats) {
        const auto texts = StatisticsTexts(result.Statistics, cli::ScriptFormat());
        cli::PrintStatistics(std::cout, {kStatisticsCaptions.begin(), kStatisticsCaptions.end()},
                             {texts.begin(), texts.end()});
    }
    std::cout.flush();
    if (const size_t n = LeftOutCount(result.Rows)) std::cerr << "kalosqm-cli: readings: " << LeftOutNote(n) << "\n";
    return std::cout ? 0 : 1;
}

int Export(const ExportOptions& o) {
    const TQuerySelection s = cli::SelectionOf(o.selection);
    fb::Database db;
    cli::OpenLocalDatabase(db, o.db);
    cli::LoadSite(db, o.site, o.db);
    std::vector<TReadingRow> rows;
    {
        fb::Transaction tr(db);
        tr.Start();
        rows = RunLocalQuery(tr, o.site, QueryWindowOf(s), s.Order);
        tr.Commit();
    }
    db.Close();
    const std::string refusal = ExportRefusal(true, rows.size());
    if (!refusal.empty()) {
        std::cerr << "kalosqm-cli: export: " << cli::AsLines(refusal) << "\n";
        return 1;
    }
    // The file is the window's: in the user's locale, for a spreadsheet.
    ExportReadings(o.out, rows, UserFormatSettings());
    std::cout << rows.size() << " readings written to " << o.out << "\n";
    if (const size_t n = LeftOutCount(rows)) std::cerr << "kalosqm-cli: export: " << LeftOutNote(n) << "\n";
    return 0;
}

void Add(CLI::App& root) {
    auto r = std::make_shared<ReadingsOptions>();
    CLI::App* readings = root.add_subcommand(
        "readings", "list a site's stored readings of one night or an interval, with --stats their statistics");
    cli::AddSiteOption(readings, r->site);
    cli::AddSelectionOptions(readings, r->selection, true);
    readings->add_flag("--stats", r->stats,
                       "after the rows, their number, average, standard deviation, median, maximum and minimum");
    cli::AddDbOption(readings, r->db);
    cli::SetAction(readings, [r] { return Readings(*r); });
}

void AddExport(CLI::App& root) {
    auto e = std::make_shared<ExportOptions>();
    CLI::App* exp = root.add_subcommand(
        "export", "write a site's readings of one night or an interval to a ';'-separated text file");
    cli::AddSiteOption(exp, e->site);
    cli::AddSelectionOptions(exp, e->selection, true);
    exp->add_option("-o,--output", e->out, "the text file to write (replaced when it exists)")
        ->required()
        ->type_name("FILE");
    cli::AddDbOption(exp, e->db);
    cli::SetAction(exp, [e] { return Export(*e); });
}

}  // namespace

KALO_CLI_COMMAND("readings", &Add);
KALO_CLI_COMMAND("export", &AddExport);
