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
    const TNightPlotWork work = PrepareNightPlot(db, siteId, nightDate);
    if (work.Path.empty()) return {};
    DrawNightPlot(work);
    return work.Path;
}

TNightPlotWork PrepareNightPlot(fb::Database& db, int siteId, double nightDate) {
    TNightPlotWork work;
    const std::string path = NightPlotPath(ReadSiteRow(db, siteId).Name, nightDate);
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return work;
    auto data = std::make_shared<TNightPlotData>(LoadNightPlotData(db, siteId, nightDate));
    if (data->Readings.empty()) return work;
    work.Path = path;
    work.Data = std::move(data);
    return work;
}

void DrawNightPlot(const TNightPlotWork& work) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(work.Path).parent_path(), ec);
    const TNightPlotData& data = *work.Data;
    const auto draw = [&](QPainter& p, QSize size) { RenderNightPlot(data, p, size); };
    WritePlot(work.Path, QSize(kNightPlotWidth, kNightPlotHeight), draw, NightPlotTitle(data));
}
