#pragma once
// The network query of a site window: a night or an interval of the site's
// readings read back from the network database, their statistics, and
// their copy into the local database (a station's history on a new PC).
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/site/localquery.h"

namespace fb {
class Transaction;
}
namespace netdb {
class Connection;
class Result;
}  // namespace netdb

// One network reading as the query holds it. Missing values take the
// stand-ins the grid and the import use: -1 for the temperature, -90 for
// the sun and moon figures, 0 for the illumination.
struct TNetReading {
    std::string KaloCode;  // the local key it is imported under
    double DateTime = 0;
    double Value = 0, Offset = 0;
    double Temperature = -1;
    double SunHeight = -90, MoonHeight = -90, MoonAge = -90, MoonPhase = -90;
    double MoonIllum = 0;
    std::optional<double> NightEnds, NightStarts;  // times of day: REA_ASTRO_DOWNING, REA_ASTRO_TWILIGHT
    int64_t State = 0;
    std::string Origin;

    double Corrected() const { return Value + Offset; }
};

// The row as the reading grids and charts show it.
TReadingRow AsReadingRow(const TNetReading& n);

// The local key of a network reading. Readings that came from another
// station ("S", any case) keep the network key; this program uploads its
// readings under the local key followed by the trimmed site code, which
// comes off again (whatever the length of the local site number). A key
// not ending with the code is kept as received.
std::string LocalKeyOf(const std::string& networkKey, const std::string& origin, const std::string& siteCode);

// Statement 1: the site's network number. Statement 2: its readings in the
// window, both ends included. Values go in through the connection's escaping.
std::string NetworkSiteSQL(const netdb::Connection& c, const std::string& siteCode);
std::string NetworkReadingsSQL(const netdb::Connection& c, const std::string& networkSiteId, const TQueryWindow& w,
                               TSortOrder order);

// Appends the rows of a result to table, in result order. A value that
// cannot be read throws std::runtime_error naming it; the rows read
// before it stay in the table.
void ReadNetworkRows(const netdb::Result& r, const std::string& siteCode, std::vector<TNetReading>& table);

// Number, average, deviation, maximum, minimum of the corrected values
// (no median here); "---" where there is none.
std::array<std::string, 5> NetworkStatisticsTexts(const std::vector<TNetReading>& rows, const TFormatSettings& fs);
// The captions of those five texts on the network query page (untranslated sources).
inline constexpr std::array<const char*, 5> kNetworkStatisticsCaptions = {
    N_("Number of readings"), N_("Average"), N_("Standard deviaton"), N_("Maximum"), N_("Minimum")};

// What a network query came to; the boxes to show follow from it.
struct TNetQueryOutcome {
    enum class Kind { CredentialsProblem, NotEnabled, ConnectFailed, SiteUnknown, QueryFailed, NoRows, Rows };
    Kind What = Kind::Rows;
    std::string Message;  // the box's text (translated)
    bool IsError() const { return What != Kind::NotEnabled && What != Kind::NoRows && What != Kind::Rows; }
};
// Runs the query for the site code over the window. table is replaced
// only when rows came back (on a conversion error it holds those read).
TNetQueryOutcome RunNetworkQuery(const std::string& siteCode, const TQueryWindow& w, TSortOrder order,
                                 std::vector<TNetReading>& table);

// What an import did with its rows.
struct TImportCounts {
    size_t Inserted = 0;
    size_t Updated = 0;
    size_t Failed = 0;  // each one a line in the site's log
};

// Copies the rows into the local database under the window's site: an
// existing reading of the same key is updated, any other inserted; all
// count as uploaded and synchronised, never modified. Each row that fails
// is one line in the site's log and the others go on. Commits at the end.
// logTime: the time written in the log lines. True when no row failed.
bool ImportNetworkReadings(fb::Transaction& tr, int siteId, const std::string& siteName,
                           const std::vector<TNetReading>& rows, double logTime, const TFetchProgress& progress = {},
                           TImportCounts* counts = nullptr);

// "Save in local DB": the rows of the last network query imported as
// above, and the box to show afterwards.
struct TImportOutcome {
    enum class Kind { NoRows, Completed, Problems };
    Kind What = Kind::Completed;
    std::string Message;  // translated
    TImportCounts Counts;
    bool IsError() const { return What == Kind::Problems; }
};
TImportOutcome SaveNetworkReadings(fb::Transaction& tr, int siteId, const std::string& siteName,
                                   const std::vector<TNetReading>& rows, double logTime,
                                   const TFetchProgress& progress = {});
