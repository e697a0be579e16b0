#pragma once
// The station's picture of each finished night, beside its night file:
// NightFiles/<site>/YYYYMMDD_120000_<site>.png, written once the night has
// ended at local noon.
// No Qt here: the station service includes it.
#include <memory>
#include <string>

#include "plot/plotdata.h"

namespace fb {
class Database;
}

inline constexpr int kNightPlotWidth = 1200, kNightPlotHeight = 700;

// The picture's path for the night that begins at local noon of nightDate.
std::string NightPlotPath(const std::string& siteName, double nightDate);
// The last night that has ended at a local time: the one that began the day
// before the last local noon.
double LastEndedNight(double nowLocal);

// Writes the night's plot when the night had readings and its picture does
// not exist yet. Returns the path written, or empty when there was nothing
// to do. Throws on a database or file failure.
std::string WriteNightPlotOnce(fb::Database& db, int siteId, double nightDate);

// The same in two steps, so that the drawing can run away from the owner's
// thread: the database is read by PrepareNightPlot (Path empty: nothing to
// do), the picture drawn and written by DrawNightPlot on any thread.
struct TNightPlotWork {
    std::string Path;
    std::shared_ptr<const TNightPlotData> Data;
};
TNightPlotWork PrepareNightPlot(fb::Database& db, int siteId, double nightDate);
void DrawNightPlot(const TNightPlotWork& work);
