#include "programs/station/stationweb.h"

#include <QPainter>

#include <cmath>
#include <filesystem>
#include <memory>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "core/site/localquery.h"
#include "core/site/nightfile.h"
#include "core/site/nightsummaries.h"
#include "core/site/readingcounts.h"
#include "core/site/siteactions.h"
#include "core/site/siterow.h"
#include "core/station/myutils.h"
#include "plot/nightschart.h"
#include "plot/plotdata.h"
#include "plot/plotfile.h"
#include "plot/plotrender.h"
#include "programs/station/webapi.h"
#include "programs/station/webpages.h"

namespace {

constexpr int kHourglassNights = 30;
// Readings read and written at a time while a page goes out.
constexpr size_t kStreamRows = 2000;
// A computer's chart; a phone's is drawn at about the width it is shown at
// (a 390 px phone's card is 340 px), with words of the page's small text
// (14.4 px) or larger.
const QSize kChartSize(760, 460);
const QSize kPhoneChartSize(330, 560);
constexpr int kPhoneTextPx = 16;

class TBadRequest : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class TNotFound : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

THttpResponse Typed(const std::string& type, std::string body) {
    THttpResponse r;
    r.ContentType = type;
    r.Body = std::move(body);
    return r;
}

// Only the parameters a route knows; anything else is a mistake worth saying.
void AllowOnly(const THttpRequest& r, const std::set<std::string>& names) {
    for (const auto& [k, v] : r.Query)
        if (!names.count(k)) throw TBadRequest("unknown parameter '" + Printable(k) + "'");
}

int SiteIdOf(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos || text[0] == '0')
        throw TBadRequest("a site id is a whole number from 1, not '" + Printable(text) + "'");
    return std::stoi(text);
}

double NightParam(const THttpRequest& r, double tonight) {
    const auto it = r.Query.find("night");
    if (it == r.Query.end()) return tonight;
    const auto d = ParseIsoDate(it->second);
    if (!d) throw TBadRequest("night wants a date YYYY-MM-DD, not '" + Printable(it->second) + "'");
    return *d;
}

// night=DATE, or from=T&to=T (UTC, YYYY-MM-DD[THH:MM[:SS]][Z]).
TQuerySelection SelectionParam(const THttpRequest& r, double tonight, std::set<std::string> allowed = {}) {
    allowed.insert({"night", "from", "to"});
    AllowOnly(r, allowed);
    const bool night = r.Query.count("night"), from = r.Query.count("from"), to = r.Query.count("to");
    if (night && (from || to)) throw TBadRequest("give night, or from and to, not both");
    if (from != to) throw TBadRequest("from and to go together");
    if (!from) return NightSelection(NightParam(r, tonight), TSortOrder::Ascending);
    const auto a = ParseIsoDateTime(r.Query.at("from")), b = ParseIsoDateTime(r.Query.at("to"));
    if (!a || !b) throw TBadRequest("from and to want a UTC time YYYY-MM-DD[THH:MM[:SS]][Z]");
    if (*b < *a) throw TBadRequest("to comes before from");
    return IntervalSelection(*a, *b, TSortOrder::Ascending);
}

std::vector<int> SiteIds(fb::Database& db) {
    fb::Transaction tr(db);
    tr.Start();
    std::vector<int> ids = TSiteActions::SiteIds(tr);
    tr.Commit();
    return ids;
}

TWebSite LoadSite(fb::Database& db, int id, const TActivitySnapshot& activity) {
    TWebSite s;
    s.Row = ReadSiteRow(db, id);
    fb::Transaction tr(db);
    tr.Start();
    const auto last = ReadLatestReadings(tr, id, 1);
    if (!last.empty()) s.Last = last.front();
    s.Waiting = ReadReadingCounts(tr, id).New;
    tr.Commit();
    for (const TSiteActivity& a : activity.Sites)
        if (a.Id == id) s.Activity = a;
    return s;
}

bool InternetTimeOn(fb::Database& db) {
    fb::Transaction tr(db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("SELECT SET_USEINTERTETTIME FROM SETTINGS WHERE SET_ID=1");
    q.Open();
    const bool on = !q.Eof() && !q.Fields(0).IsNull() && q.Fields(0).AsInteger() == 1;
    q.Close();
    tr.Commit();
    return on;
}

TWebStation LoadStation(fb::Database& db, const TActivitySnapshot& activity) {
    TWebStation st;
    st.Activity = activity;
    st.NowUtc = NowUtc();
    for (const int id : SiteIds(db)) st.Sites.push_back(LoadSite(db, id, activity));
    st.InternetTime = InternetTimeOn(db);
    return st;
}

TWebSite LoadOneSite(fb::Database& db, int id, const TActivitySnapshot& activity) {
    try {
        return LoadSite(db, id, activity);
    } catch (const fb::Error&) {
        throw;
    } catch (const std::runtime_error&) {
        throw TNotFound("there is no site " + std::to_string(id));
    }
}

std::string NightSvg(const TNightPlotData& data) {
    if (data.Readings.empty()) return {};
    auto svg = [&](QSize at, const TPlotStyle& style) {
        return InlineSvg(PlotBytes(TPlotFormat::Svg, at,
                                   [&](QPainter& p, QSize size) { RenderNightPlot(data, p, size, style); },
                                   NightPlotTitle(data)));
    };
    TPlotStyle phone;
    phone.TextPx = kPhoneTextPx;
    return ChartPair(svg(kChartSize, {}), svg(kPhoneChartSize, phone));
}

std::string HourglassSvg(const THourglassData& hg) {
    if (hg.ReadingCount() == 0) return {};
    auto svg = [&](QSize at, const TPlotStyle& style) {
        return InlineSvg(PlotBytes(TPlotFormat::Svg, at,
                                   [&](QPainter& p, QSize size) { RenderHourglass(hg, p, size, style); },
                                   HourglassTitle(hg)));
    };
    TPlotStyle phone;
    phone.TextPx = kPhoneTextPx;
    return ChartPair(svg(kChartSize, {}), svg(kPhoneChartSize, phone));
}

}  // namespace

TStationWeb::TStationWeb(TStationActivity& activity) : activity_(activity) { EnsurePlotApplication(); }

TStationWeb::~TStationWeb() {
    std::lock_guard lock(mutex_);
    file_.clear();  // the end: nothing more to remember for /metrics
    if (db_.Connected()) {
        try {
            db_.Close();
        } catch (const std::exception&) {
        }
    }
}

TWebStation TStationWeb::Station() {
    TWebStation st = LoadStation(Db(), activity_.Snapshot());
    known_ = st;
    return st;
}

TWebStation TStationWeb::KnownStation() const {
    TWebStation st;
    st.Activity = activity_.Snapshot();
    st.NowUtc = NowUtc();
    st.InternetTime = known_.InternetTime;
    st.DatabaseOpen = false;
    for (TWebSite s : known_.Sites) {
        s.Last.reset();
        s.Waiting.reset();
        s.Activity = {};
        for (const TSiteActivity& a : st.Activity.Sites)
            if (a.Id == s.Row.Id) s.Activity = a;
        st.Sites.push_back(std::move(s));
    }
    return st;
}

void TStationWeb::SetDatabase(const std::string& file) {
    std::lock_guard lock(mutex_);
    if (file.empty() && !file_.empty()) {
        try {
            Station();  // the sites as they are when the database is left free, for /metrics meanwhile
        } catch (const std::exception&) {
        }
    }
    if (db_.Connected()) {
        try {
            db_.Close();
        } catch (const std::exception&) {
        }
    }
    file_ = file;
}

fb::Database& TStationWeb::Db() {
    if (!db_.Connected()) {
        db_.SetFile(file_);
        db_.Open();
    }
    return db_;
}

THttpResponse TStationWeb::Handle(const THttpRequest& request) {
    // No file name from a request is ever opened, but a path that climbs is refused as such.
    if (request.Path.find("..") != std::string::npos || request.Path.find('\\') != std::string::npos ||
        request.Path.find('\0') != std::string::npos)
        return TextResponse(400, "a path with .. or \\ is refused");
    try {
        std::lock_guard lock(mutex_);
        if (file_.empty()) {
            // A scraper keeps seeing the station up, with the sites it knew.
            if (request.Path == "/metrics" && request.Query.empty())
                return Typed("text/plain; version=0.0.4; charset=utf-8", MetricsText(KnownStation()));
            return TextResponse(503, "the station has no site running and leaves its database free meanwhile");
        }
        try {
            return Route(request);
        } catch (const fb::Error&) {
            try {
                db_.Close();  // a broken attachment is made anew by the next request
            } catch (const std::exception&) {
            }
            throw;
        }
    } catch (const TBadRequest& e) {
        return TextResponse(400, e.what());
    } catch (const TNotFound& e) {
        return TextResponse(404, e.what());
    }
}

std::vector<TReadingRow> TStationWeb::PageRows(int siteId, const TQueryWindow& w, const TReadingCursor& after,
                                               size_t n) {
    std::lock_guard lock(mutex_);
    if (file_.empty()) throw std::runtime_error("the station left its database free meanwhile");
    try {
        fb::Transaction tr(Db());
        tr.Start();
        auto rows = ReadReadingsAfter(tr, siteId, w, after, n);
        tr.Commit();
        return rows;
    } catch (const fb::Error&) {
        try {
            db_.Close();
        } catch (const std::exception&) {
        }
        throw;
    }
}

// At most `limit` rows (kPageRows) from the cursor `after`, written as they
// are read; "next" links the following page with the same selection.
THttpResponse TStationWeb::Readings(const THttpRequest& r, const TSiteRow& site, double tonight) {
    const TQueryWindow w = QueryWindowOf(SelectionParam(r, tonight, {"limit", "after"}));
    size_t limit = kPageRows;
    if (const auto it = r.Query.find("limit"); it != r.Query.end()) {
        const std::string& t = it->second;
        if (t.empty() || t.size() > 5 || t.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(t) < 1 || std::stoul(t) > kPageRows)
            throw TBadRequest("limit wants a number of readings from 1 to " + std::to_string(kPageRows) + ", not '" +
                              Printable(t) + "'");
        limit = std::stoul(t);
    }
    TReadingCursor start = CursorAtStart(w);
    if (const auto it = r.Query.find("after"); it != r.Query.end()) {
        const auto c = ParseCursor(it->second);
        if (!c) throw TBadRequest("after wants the cursor of a page's next link, not '" + Printable(it->second) + "'");
        start = *c;
    }
    std::string next = "/api/v1/sites/" + std::to_string(site.Id) + "/readings?";
    for (const char* name : {"night", "from", "to", "limit"})
        if (const auto it = r.Query.find(name); it != r.Query.end())
            next += std::string(name) + "=" + UrlQueryValue(it->second) + "&";
    next += "after=";

    struct TPage {
        std::string Head, Next;
        int Site = 0;
        TQueryWindow Window;
        TReadingCursor At;
        size_t Left = 0;
        bool Begun = false, Written = false, Done = false;
    };
    auto page = std::make_shared<TPage>(
        TPage{ReadingsJsonHead(site, w, limit), std::move(next), site.Id, w, start, limit});
    THttpResponse out;
    out.ContentType = "application/json";
    out.Stream = [this, page]() -> std::string {
        TPage& p = *page;
        if (p.Done) return {};
        if (!p.Begun) {
            p.Begun = true;
            return p.Head;
        }
        if (p.Left > 0) {
            const size_t asked = std::min(kStreamRows, p.Left);
            const auto rows = PageRows(p.Site, p.Window, p.At, asked);
            if (!rows.empty()) {
                p.At = CursorAfter(rows.back());
                p.Left = rows.size() < asked ? 0 : p.Left - rows.size();
                std::string piece = ReadingsJsonRows(rows, !p.Written);
                p.Written = true;
                if (rows.size() == asked) return piece;
                p.Done = true;  // the window's end: no next page
                return piece + ReadingsJsonTail("");
            }
            p.Done = true;
            return ReadingsJsonTail("");
        }
        p.Done = true;
        const bool more = !PageRows(p.Site, p.Window, p.At, 1).empty();
        return ReadingsJsonTail(more ? p.Next + UrlQueryValue(CursorText(p.At)) : "");
    };
    return out;
}

std::string TStationWeb::TonightChart(const TWebSite& site, double tonight) {
    // Drawn again when a reading comes, the night changes, or a minute has
    // passed (a deletion): clients fetching the page at once draw it once.
    const std::string key = IsoDate(tonight) + (site.Last ? CursorText(CursorAfter(*site.Last)) : std::string());
    const auto now = std::chrono::steady_clock::now();
    TChartCache& c = charts_[site.Row.Id];
    if (c.Key != key || now - c.Drawn > std::chrono::minutes(1)) {
        c.Svg = NightSvg(LoadNightPlotData(Db(), site.Row.Id, tonight));
        c.Key = key;
        c.Drawn = now;
    }
    return c.Svg;
}

THttpResponse TStationWeb::Route(const THttpRequest& r) {
    static const std::regex site(R"(/site/([^/]+))");
    static const std::regex nightFile(R"(/site/([^/]+)/night/(\d{4}-\d\d-\d\d)\.(png|dat))");
    static const std::regex apiSite(R"(/api/v1/sites/([^/]+)/(readings|stats))");
    static const std::regex apiNights(R"(/api/v1/sites/([^/]+)/nights)");
    const double tonight = NightDateOf(NowLocal());
    std::smatch m;
    const std::string& path = r.Path;

    if (path == "/" || path == "/index.html") {
        AllowOnly(r, {});
        return Overview(tonight);
    }
    if (path == "/metrics") {
        AllowOnly(r, {});
        return Metrics();
    }
    if (std::regex_match(path, m, apiNights)) return NightsOf(r, SiteIdOf(m[1]), tonight);
    if (path == "/api/v1/sites") {
        AllowOnly(r, {});
        return Typed("application/json", SitesJson(Station()));
    }
    if (std::regex_match(path, m, apiSite)) {
        const int id = SiteIdOf(m[1]);
        if (m[2] != "readings") return Statistics(r, id, tonight);
        SelectionParam(r, tonight, {"limit", "after"});  // refused before anything is read
        return Readings(r, LoadOneSite(Db(), id, activity_.Snapshot()).Row, tonight);
    }
    if (std::regex_match(path, m, nightFile)) {
        const int id = SiteIdOf(m[1]);
        AllowOnly(r, {});
        return NightOf(id, m[2], m[3]);
    }
    if (std::regex_match(path, m, site)) return SitePageOf(r, SiteIdOf(m[1]), tonight);
    return TextResponse(404, "no such page: " + Printable(path));
}

THttpResponse TStationWeb::Overview(double tonight) {
    const TWebStation st = Station();
    std::vector<std::string> charts;
    for (const TWebSite& s : st.Sites) charts.push_back(TonightChart(s, tonight));
    return Typed("text/html; charset=utf-8", OverviewPage(st, charts, tonight));
}

THttpResponse TStationWeb::Metrics() {
    const TWebStation st = Station();
    // The last complete night of each site, kept once made.
    std::vector<std::pair<int, TNightSummary>> lastNights;
    for (const TWebSite& s : st.Sites)
        if (const double night = LastEndedNight(Db(), s.Row.Id, st.NowUtc); night > 0)
            lastNights.push_back({s.Row.Id, SummariseNight(Db(), s.Row.Id, night)});
    return Typed("text/plain; version=0.0.4; charset=utf-8", MetricsText(st) + NightMetricsText(st, lastNights));
}

THttpResponse TStationWeb::NightsOf(const THttpRequest& r, int id, double tonight) {
    AllowOnly(r, {"from", "to"});
    LoadOneSite(Db(), id, activity_.Snapshot());
    // Without dates: the last 30 nights.
    double from = tonight - 29, to = tonight;
    if (r.Query.count("from") != r.Query.count("to")) throw TBadRequest("from and to go together");
    if (r.Query.count("from")) {
        const auto a = ParseIsoDate(r.Query.at("from")), b = ParseIsoDate(r.Query.at("to"));
        if (!a || !b) throw TBadRequest("from and to want a date YYYY-MM-DD");
        if (*b < *a) throw TBadRequest("to comes before from");
        if (*b - *a > 366 * 100) throw TBadRequest("at most a hundred years of nights at once");
        from = *a;
        to = *b;
    }
    return Typed("application/json", NightsJson(NightSummaries(Db(), id, from, to)));
}

THttpResponse TStationWeb::Statistics(const THttpRequest& r, int id, double tonight) {
    const TQueryWindow w = QueryWindowOf(SelectionParam(r, tonight));
    if (w.Stop - w.Start > kStatisticsDays)
        throw TBadRequest("the statistics cover at most " + std::to_string(static_cast<int>(kStatisticsDays)) +
                          " days: ask for a shorter interval");
    const TWebSite s = LoadOneSite(Db(), id, activity_.Snapshot());
    return Typed("application/json", StatsJson(s.Row, w, ReadStatistics(Db(), id, w)));
}

THttpResponse TStationWeb::NightOf(int id, const std::string& date, const std::string& kind) {
    const auto night = ParseIsoDate(date);
    if (!night) throw TBadRequest("not a date: " + date);
    const TWebSite s = LoadOneSite(Db(), id, activity_.Snapshot());
    if (kind == "dat") {
        // The path is made from the site's row and the date, never from the request's text.
        const std::string file = NightFilePath(s.Row.Name, *night + 0.75);
        auto in = std::make_shared<std::ifstream>(file, std::ios::binary);
        if (!std::filesystem::is_regular_file(file) || !*in) throw TNotFound("no night file of that night");
        THttpResponse out;
        out.Stream = [in]() {  // read as it is sent
            std::string piece(64 * 1024, '\0');
            in->read(piece.data(), static_cast<std::streamsize>(piece.size()));
            piece.resize(static_cast<size_t>(in->gcount()));
            return piece;
        };
        return out;
    }
    const TNightPlotData data = LoadNightPlotData(Db(), id, *night);
    if (data.Readings.empty()) throw TNotFound("no readings in that night");
    return Typed("image/png", PlotBytes(TPlotFormat::Png, QSize(1200, 700),
                                        [&](QPainter& p, QSize size) { RenderNightPlot(data, p, size); }));
}

THttpResponse TStationWeb::SitePageOf(const THttpRequest& r, int id, double tonight) {
    AllowOnly(r, {"night"});
    const double night = NightParam(r, tonight);
    TSiteNightView v;
    const TWebSite s = LoadOneSite(Db(), id, activity_.Snapshot());
    v.Site = &s;
    v.NightDate = night;
    v.Tonight = tonight;
    v.NowUtc = NowUtc();
    {
        fb::Transaction tr(Db());
        tr.Start();
        v.Night = RunQueryWithStatistics(tr, id, QueryWindowOf(NightSelection(night, TSortOrder::Ascending)),
                                         TSortOrder::Ascending);
        tr.Commit();
    }
    v.NightChart = NightSvg(LoadNightPlotData(Db(), id, night));
    v.HourglassChart = HourglassSvg(LoadHourglassData(Db(), id, night - (kHourglassNights - 1), night));
    v.NightFile = std::filesystem::is_regular_file(NightFilePath(s.Row.Name, night + 0.75));
    // Every clear night the site has (kept once made), the last 30 in the table.
    const std::vector<TNightSummary> all = NightSummaries(Db(), id, night - 366 * 50, night);
    v.Nights.assign(all.end() - std::min<size_t>(all.size(), 30), all.end());
    v.NightsChart = InlineSvg(PlotBytes(TPlotFormat::Svg, kChartSize, [&](QPainter& p, QSize size) {
        RenderNightsChart(all, FitTrend(all), p, size, NightsChartTexts());
    }));
    return Typed("text/html; charset=utf-8", SitePage(v));
}
