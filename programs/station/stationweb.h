#pragma once
// The station's web page and API on the service's database: a read-only
// attachment of its own (the embedded engine lets the service process have
// several), used by one request at a time. The routes and their parameters.
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "core/station/fbdb.h"
#include "programs/station/httpserver.h"
#include "programs/station/webapi.h"
#include "programs/station/webstate.h"

class TStationWeb {
public:
    // On the program's main thread: makes the painting application there.
    explicit TStationWeb(TStationActivity& activity);
    ~TStationWeb();

    // The database to read; empty while the service leaves it free (the
    // attachment is closed then, so other programs can have the file).
    void SetDatabase(const std::string& file);

    // Every route; safe to call from the server's threads.
    THttpResponse Handle(const THttpRequest& request);

    // The most readings one answer of /api/v1/sites/ID/readings holds (its
    // limit's default and largest value), and the longest interval of /stats.
    static constexpr size_t kPageRows = 10000;
    static constexpr double kStatisticsDays = 366;

private:
    fb::Database& Db();
    // Every site as the database has it now, kept for the time it is left free.
    TWebStation Station();
    // What is known while the database is free: the sites last read, the activity now.
    TWebStation KnownStation() const;
    THttpResponse Route(const THttpRequest& request);
    // The answers Route picks; id is the site's, tonight the night under way.
    THttpResponse Overview(double tonight);
    THttpResponse Metrics();
    THttpResponse NightsOf(const THttpRequest& request, int id, double tonight);
    THttpResponse Statistics(const THttpRequest& request, int id, double tonight);
    THttpResponse NightOf(int id, const std::string& date, const std::string& kind);
    THttpResponse SitePageOf(const THttpRequest& request, int id, double tonight);
    THttpResponse Readings(const THttpRequest& request, const TSiteRow& site, double tonight);
    // Rows of a page as it is written: each piece on its own short
    // transaction, so a slow client holds up no other request.
    std::vector<TReadingRow> PageRows(int siteId, const TQueryWindow& w, const TReadingCursor& after, size_t n);

    TStationActivity& activity_;
    std::mutex mutex_;
    std::string file_;
    fb::Database db_;
    TWebStation known_;
    // Tonight's chart of each site on the overview, by what it shows.
    struct TChartCache {
        std::string Key, Svg;
        std::chrono::steady_clock::time_point Drawn;
    };
    std::map<int, TChartCache> charts_;
    std::string TonightChart(const TWebSite& site, double tonight);
};
