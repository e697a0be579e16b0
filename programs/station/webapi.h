#pragma once
// The station's web answers that are data: the JSON of /api/v1 and the
// Prometheus text of /metrics, from rows and statistics the site core has
// read (the same as kalosqm-cli readings --stats), every text escaped.
#include <optional>
#include <string>
#include <vector>

#include "core/site/localquery.h"
#include "core/site/nightquality.h"
#include "core/site/siteports.h"
#include "programs/station/webstate.h"

// One site as the pages and the API show it.
struct TWebSite {
    TSiteRow Row;
    std::optional<TReadingRow> Last;  // the newest stored reading
    std::optional<int64_t> Waiting;   // readings waiting for upload; unknown while the database is free
    TSiteActivity Activity;           // Id 0: not run since the service started
};

struct TWebStation {
    std::vector<TWebSite> Sites;
    TActivitySnapshot Activity;
    double NowUtc = 0;
    std::optional<bool> InternetTime;  // the setting; unknown while the database is free
    bool DatabaseOpen = true;          // false: waiting with no site, the database left free
};

// A JSON string with its quotes; < > & are \u-escaped too, so the text is
// inert wherever it is pasted.
std::string JsonString(const std::string& text);
// The shortest text that reads back the same double; null when absent or not finite.
std::string JsonNumber(std::optional<double> value);
// "2024-01-15T21:30:00Z" for a UTC date-time.
std::string IsoUtc(double utc);
// "2024-01-15" of a date.
std::string IsoDate(double date);
// Strict "YYYY-MM-DD" and "YYYY-MM-DD[THH:MM[:SS]][Z]" (UTC); nothing for anything else.
std::optional<double> ParseIsoDate(const std::string& text);
std::optional<double> ParseIsoDateTime(const std::string& text);

std::string SitesJson(const TWebStation& station);
// A page of readings, written in three parts as its rows are read:
// {"site":..,"from":..,"to":..,"limit":N,"readings":[...],"next":URL or null}.
std::string ReadingsJsonHead(const TSiteRow& site, const TQueryWindow& window, size_t limit);
// first: no row written before these.
std::string ReadingsJsonRows(const std::vector<TReadingRow>& rows, bool first);
// next: the path and query of the following page; empty: the last page.
std::string ReadingsJsonTail(const std::string& next);

// The text of a page's cursor in its next link ("TICKS.CODE": the exact
// stored time in the engine's 100 us ticks and the code), and back.
std::string CursorText(const TReadingCursor& cursor);
std::optional<TReadingCursor> ParseCursor(const std::string& text);
// A query value with every byte but A-Z a-z 0-9 - . _ ~ : percent-encoded.
std::string UrlQueryValue(const std::string& text);
std::string StatsJson(const TSiteRow& site, const TQueryWindow& window, const TStatistics& stats);

// A label value of the text format: \ " and line feeds escaped.
std::string MetricLabel(const std::string& text);
std::string MetricsText(const TWebStation& station);

// /metrics' lines of each site's last complete night: its sky brightness
// and clear fraction, when it has them (lastNights by site id).
std::string NightMetricsText(const TWebStation& station, const std::vector<std::pair<int, TNightSummary>>& lastNights);
