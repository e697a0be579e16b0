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
    int64_t Waiting = 0;              // readings waiting for upload
    TSiteActivity Activity;           // Id 0: not run since the service started
};

struct TWebStation {
    std::vector<TWebSite> Sites;
    TActivitySnapshot Activity;
    double NowUtc = 0;
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
std::string ReadingsJson(const TSiteRow& site, const TQueryWindow& window, const std::vector<TReadingRow>& rows);
std::string StatsJson(const TSiteRow& site, const TQueryWindow& window, const TStatistics& stats);

// A label value of the text format: \ " and line feeds escaped.
std::string MetricLabel(const std::string& text);
std::string MetricsText(const TWebStation& station);

// /metrics' lines of each site's last complete night: its sky brightness
// and clear fraction, when it has them (lastNights by site id).
std::string NightMetricsText(const TWebStation& station, const std::vector<std::pair<int, TNightSummary>>& lastNights);
