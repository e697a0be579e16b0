#pragma once
// The station's HTML pages: the station at a glance and one site's nights.
// No JavaScript: they refresh themselves every minute; every text is escaped.
#include <string>

#include "core/site/localquery.h"
#include "programs/station/webapi.h"

// & < > " ' as entities.
std::string HtmlEscape(const std::string& text);
// An SVG document as an element to put inside HTML (the XML prologue dropped).
std::string InlineSvg(const std::string& svgDocument);
// One chart drawn twice, each inline SVG shown where it fits: the wide one
// on a computer, the narrow one (drawn at a phone's width, its words as
// large as the page's small text) on a phone.
std::string ChartPair(const std::string& wideSvg, const std::string& narrowSvg);

// charts: per site of station.Sites, its inline SVG of tonight, or empty.
std::string OverviewPage(const TWebStation& station, const std::vector<std::string>& charts, double tonight);

struct TSiteNightView {
    const TWebSite* Site = nullptr;
    double NightDate = 0;
    double Tonight = 0;
    TQueryResult Night;           // the night's rows and statistics
    std::string NightChart;       // inline SVG, or empty without readings
    std::string HourglassChart;   // the last 30 nights up to NightDate, or empty
    bool NightFile = false;       // the night's community-standard file exists
    double NowUtc = 0;
    std::vector<TNightSummary> Nights;  // the 30 nights up to NightDate, oldest first
    std::string NightsChart;            // inline SVG of their clear nights, or empty
};
std::string SitePage(const TSiteNightView& view);
