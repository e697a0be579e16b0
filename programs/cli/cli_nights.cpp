// kalosqm-cli nights: each night's quality (dark and clear readings, the
// sky brightness when clear), by month or year, and the trend over years.
#include <QPainter>

#include <iostream>
#include <memory>

#include "programs/cli/cli_query.h"
#include "core/site/nightsummaries.h"
#include "core/station/fbdb.h"
#include "core/station/i18n.h"
#include "plot/nightschart.h"
#include "plot/plotfile.h"

namespace {

struct Options {
    std::string db;
    int site = 0;
    std::string from, to;
    std::string by = "night";
    bool trend = false, json = false, csv = false;
    std::string chart;
};

TNightGrouping GroupingOf(const std::string& by) {
    if (by == "month") return TNightGrouping::Month;
    if (by == "year") return TNightGrouping::Year;
    return TNightGrouping::Night;
}

void PrintTable(const std::vector<TNightSummary>& nights, TNightGrouping by) {
    std::vector<std::vector<std::string>> cells;
    if (by == TNightGrouping::Night) {
        for (const TNightSummary& n : nights)
            cells.push_back({NightName(n.Night), std::to_string(n.Readings), std::to_string(n.DarkReadings),
                             std::to_string(n.ClearDarkReadings), cli::Cell(n.ClearFraction(), 3),
                             cli::Cell(n.SkyBrightness, 2), cli::Cell(n.Darkest, 2), NightClassText(n.Class())});
        cli::PrintTabSeparated(std::cout,
                               {Tr("Night"), Tr("Readings"), Tr("Dark"), Tr("Clear dark"), Tr("Clear fraction"),
                                Tr("Sky brightness"), Tr("Darkest"), Tr("Class")},
                               cells);
        return;
    }
    for (const TPeriodSummary& p : AggregateNights(nights, by))
        cells.push_back({p.Period, std::to_string(p.Nights), std::to_string(p.ClearNights),
                         cli::Cell(p.SkyBrightness, 2), cli::Cell(p.Darkest, 2)});
    cli::PrintTabSeparated(std::cout,
                           {by == TNightGrouping::Year ? Tr("Year") : Tr("Month"), Tr("Nights with readings"),
                            Tr("Clear nights"), Tr("Sky brightness"), Tr("Darkest")},
                           cells);
}

int Nights(const Options& o) {
    if (o.json && o.csv) throw cli::UsageError("--json and --csv exclude each other");
    const double from = cli::ParseDate("--from", o.from), to = cli::ParseDate("--to", o.to);
    if (to < from) throw cli::UsageError("--to " + o.to + " comes before --from " + o.from);
    if (!o.chart.empty() && !PlotFormatOf(o.chart))
        throw cli::UsageError(std::string("--chart: ") + EPlotFormat(o.chart).what());
    fb::Database db;
    cli::OpenLocalDatabase(db, o.db);
    cli::LoadSite(db, o.site, o.db);
    const std::vector<TNightSummary> nights = NightSummaries(db, o.site, from, to);
    db.Close();
    const TNightGrouping by = GroupingOf(o.by);
    if (!o.chart.empty()) {
        const TNightTrend t = FitTrend(nights);
        const TNightsChartTexts texts = NightsChartTexts();
        WritePlot(o.chart, QSize(1000, 560),
                  [&](QPainter& p, QSize size) { RenderNightsChart(nights, t, p, size, texts); }, texts.Title);
        std::cerr << o.chart << ": the clear nights' chart\n";
    }
    if (o.trend) {
        const TNightTrend t = FitTrend(nights);
        if (!t.Fitted()) {
            std::cerr << "kalosqm-cli: nights: " << t.Refusal << "\n";
            return 1;
        }
        if (o.json)
            std::cout << TrendJson(t);
        else if (o.csv)
            std::cout << TrendCsv(t);
        else
            std::cout << TrendText(t, cli::ScriptFormat()) << "\n";
    } else if (o.json) {
        std::cout << (by == TNightGrouping::Night ? NightsJson(nights) : PeriodsJson(AggregateNights(nights, by), by));
    } else if (o.csv) {
        std::cout << (by == TNightGrouping::Night ? NightsCsv(nights) : PeriodsCsv(AggregateNights(nights, by), by));
    } else {
        PrintTable(nights, by);
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}

void Add(CLI::App& root) {
    auto o = std::make_shared<Options>();
    CLI::App* c = root.add_subcommand(
        "nights", "each night's quality: dark and clear readings, the sky brightness when clear, and its trend");
    cli::AddSiteOption(c, o->site);
    c->add_option("--from", o->from, "the first night (the date it begins)")->required()->check(cli::IsoDate());
    c->add_option("--to", o->to, "the last night, included")->required()->check(cli::IsoDate());
    c->add_option("--by", o->by, "one line per night (default), month or year")
        ->check(CLI::IsMember({"night", "month", "year"}));
    c->add_flag("--trend", o->trend,
                "the trend of the clear nights' sky brightness instead: Theil-Sen slope with its 95 % interval");
    c->add_flag("--json", o->json, "JSON instead of a table");
    c->add_flag("--csv", o->csv, "comma-separated values instead of a table");
    c->add_option("--chart", o->chart, "also draw the clear nights' sky brightness and its trend, PNG or SVG")
        ->type_name("FILE");
    cli::AddDbOption(c, o->db);
    c->footer(
        "A reading is dark when the Sun is below -18 degrees and the Moon below the horizon, and clear when the "
        "readings around it lie on a smooth curve. A night is clear when 90 % of its dark readings are clear, "
        "cloudy under 10 %, partly between; no-dark-time when it has readings but none dark, no-data without "
        "readings. The sky brightness is the median of the clear dark readings corrected by the offset. "
        "Summaries are kept in the database and made again when a reading of their night changes. A trend needs "
        "30 clear nights over at least one year; otherwise it is refused, saying why, with exit status 1.");
    cli::SetAction(c, [o] { return Nights(*o); });
}

}  // namespace

KALO_CLI_COMMAND("nights", &Add);
