#include "plot/nightplotfile.h"

#include <QPainter>

#include <filesystem>

#include "core/site/localquery.h"
#include "core/site/nightfile.h"
#include "plot/plotdata.h"
#include "plot/plotfile.h"
#include "plot/plotrender.h"
#include "core/site/siterow.h"

std::string NightPlotPath(const std::string& siteName, double nightDate) {
    // The night file is named by any local time of its night; its noon will do.
    std::filesystem::path p(NightFilePath(siteName, NightWindow(nightDate).Start));
    return p.replace_extension(".png").string();
}

double LastEndedNight(double nowLocal) { return NightDateOf(nowLocal) - 1; }

std::string WriteNightPlotOnce(fb::Database& db, int siteId, double nightDate) {
    const std::string path = NightPlotPath(ReadSiteRow(db, siteId).Name, nightDate);
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return {};
    const TNightPlotData data = LoadNightPlotData(db, siteId, nightDate);
    if (data.Readings.empty()) return {};
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const auto draw = [&](QPainter& p, QSize size) { RenderNightPlot(data, p, size); };
    WritePlot(path, QSize(kNightPlotWidth, kNightPlotHeight), draw, NightPlotTitle(data));
    return path;
}
