// kalosqm-cli plot night|hourglass: the plots researchers publish, written
// as PNG or SVG by the output file's extension, without a display.
#include <QPainter>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "programs/cli/cli.h"
#include "core/site/localquery.h"
#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "plot/plotdata.h"
#include "plot/plotfile.h"
#include "plot/plotrender.h"

namespace {

struct Options {
    std::string db;
    int site = 0;
    std::string night, from, to;
    std::string output;
    int width = 1200, height = 700;
    bool noTwilight = false;
};

std::string IsoDateText(double date) {
    const DateTimeParts p = DecodeDateTime(date);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
    return buf;
}

// Before the database is touched: the format comes from the name alone.
void CheckOutput(const std::string& output) {
    if (!PlotFormatOf(output)) throw cli::UsageError(std::string("-o: ") + EPlotFormat(output).what());
}

int Night(const Options& o) {
    CheckOutput(o.output);
    const double night = cli::ParseDate("--night", o.night);
    fb::Database db;
    cli::OpenLocalDatabase(db, o.db);
    const TNightPlotData data = LoadNightPlotData(db, o.site, night);
    db.Close();
    if (data.LeftOut > 0) std::cerr << "plot: " << LeftOutNote(data.LeftOut) << "\n";
    if (data.Readings.empty()) {
        std::cerr << "plot: no readings of site " << o.site << " in the night of " << IsoDateText(night) << "\n";
        return 1;
    }
    WritePlot(o.output, QSize(o.width, o.height), [&](QPainter& p, QSize size) { RenderNightPlot(data, p, size); },
              NightPlotTitle(data));
    std::printf("%s: the night of %s at site %d (%zu readings)%s\n", o.output.c_str(), IsoDateText(night).c_str(),
                o.site, data.Readings.size(),
                data.Astronomy ? "" : "; the site has no coordinates: no twilight and Moon");
    return 0;
}

int Hourglass(const Options& o) {
    CheckOutput(o.output);
    const double from = cli::ParseDate("--from", o.from), to = cli::ParseDate("--to", o.to);
    if (to < from) throw cli::UsageError("--to " + o.to + " comes before --from " + o.from);
    fb::Database db;
    cli::OpenLocalDatabase(db, o.db);
    const THourglassData data = LoadHourglassData(db, o.site, from, to, !o.noTwilight);
    db.Close();
    if (data.LeftOut > 0) std::cerr << "plot: " << LeftOutNote(data.LeftOut) << "\n";
    if (data.ReadingCount() == 0) {
        std::cerr << "plot: no readings of site " << o.site << " in the nights from " << o.from << " to " << o.to
                  << "\n";
        return 1;
    }
    WritePlot(o.output, QSize(o.width, o.height), [&](QPainter& p, QSize size) { RenderHourglass(data, p, size); },
              HourglassTitle(data));
    std::printf("%s: %zu nights from %s to %s at site %d (%zu readings)\n", o.output.c_str(), data.Nights.size(),
                o.from.c_str(), o.to.c_str(), o.site, data.ReadingCount());
    return 0;
}

void AddCommon(CLI::App* c, Options& o) {
    cli::AddDbOption(c, o.db);
    c->add_option("--site", o.site, "the site's id (SIT_ID)")->required()->check(CLI::Range(1, 2147483647));
    c->add_option("-o,--output", o.output, "the picture: FILE.png or FILE.svg")->required()->type_name("FILE");
    c->add_option("--width", o.width, "picture width in pixels")->check(CLI::Range(400, 8000))->capture_default_str();
    c->add_option("--height", o.height, "picture height in pixels")
        ->check(CLI::Range(300, 8000))
        ->capture_default_str();
}

void Add(CLI::App& root) {
    CLI::App* plot = root.add_subcommand("plot", "plots of a site's readings as PNG or SVG pictures");
    plot->require_subcommand(1);

    auto n = std::make_shared<Options>();
    CLI::App* night = plot->add_subcommand(
        "night", "one night from local noon to the next noon: sky brightness, astronomical night, Moon");
    AddCommon(night, *n);
    night->add_option("--night", n->night, "the date the night begins (local noon of that day)")
        ->required()
        ->check(cli::IsoDate());
    cli::SetAction(night, [n] { return Night(*n); });

    auto h = std::make_shared<Options>();
    CLI::App* hourglass = plot->add_subcommand(
        "hourglass", "many nights: one column per night, the time of night downward, colour by sky brightness");
    AddCommon(hourglass, *h);
    hourglass->add_option("--from", h->from, "the first night (the date it begins)")->required()->check(cli::IsoDate());
    hourglass->add_option("--to", h->to, "the last night, included")->required()->check(cli::IsoDate());
    hourglass->add_flag("--no-twilight", h->noTwilight, "leave out the curves of astronomical dusk and dawn");
    cli::SetAction(hourglass, [h] { return Hourglass(*h); });
}

}  // namespace

KALO_CLI_COMMAND("plot", &Add);
