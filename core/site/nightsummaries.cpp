#include "core/site/nightsummaries.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "core/site/localquery.h"
#include "core/station/fbdb.h"

namespace {

const char* const kReadingsSQL =
    "SELECT REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, REA_MOONH FROM READINGS "
    "WHERE REA_SITE=:SIT_ID AND REA_DATETIME BETWEEN :START AND :STOP ORDER BY REA_DATETIME";
const char* const kKeptSQL =
    "SELECT NSU_NIGHT, NSU_READINGS, NSU_DARK, NSU_CLEARDARK, NSU_SKY, NSU_DARKEST FROM NIGHTSUMMARIES "
    "WHERE NSU_SITE=:SIT_ID AND NSU_NIGHT BETWEEN :FROM AND :TO AND NSU_METHOD=:METHOD";
const char* const kMarkedSQL =
    "SELECT DISTINCT NMK_NIGHT FROM NIGHTMARKS WHERE NMK_SITE=:SIT_ID AND NMK_NIGHT BETWEEN :FROM AND :TO";
const char* const kKeepSQL =
    "UPDATE OR INSERT INTO NIGHTSUMMARIES (NSU_SITE, NSU_NIGHT, NSU_METHOD, NSU_READINGS, NSU_DARK, NSU_CLEARDARK, "
    "NSU_SKY, NSU_DARKEST) VALUES (:SIT_ID, :NIGHT, :METHOD, :READINGS, :DARK, :CLEARDARK, :SKY, :DARKEST) "
    "MATCHING (NSU_SITE, NSU_NIGHT)";
// Only the marks this snapshot sees go: one written meanwhile stays for next time.
const char* const kUnmarkSQL =
    "DELETE FROM NIGHTMARKS WHERE NMK_SITE=:SIT_ID AND NMK_NIGHT BETWEEN :FROM AND :TO";

std::optional<double> OptDouble(const fb::Query& q, int i) {
    if (q.Fields(i).IsNull()) return std::nullopt;
    return q.Fields(i).AsDouble();
}

// A row of time, value, offset, Sun and Moon heights; none without a time or a value.
std::optional<TNightReading> RowReading(const fb::Query& q) {
    if (q.Fields(0).IsNull() || q.Fields(1).IsNull()) return std::nullopt;
    TNightReading r;
    r.Time = q.Fields(0).AsDateTime();
    r.Value = q.Fields(1).AsDouble() + OptDouble(q, 2).value_or(0);
    r.SunHeight = OptDouble(q, 3);
    r.MoonHeight = OptDouble(q, 4);
    return r;
}

void SetOptional(fb::Query& q, const char* name, const std::optional<double>& v) {
    if (v)
        q.SetDouble(name, *v);
    else
        q.SetNull(name);
}

// The nights whose noon-to-noon window holds a time: one, or two at noon.
double FirstNightOf(double t) { return std::ceil(t - 1.5); }
double LastNightOf(double t) { return std::floor(t - 0.5); }

struct TExtent {
    double First = 0, Last = -1;  // nights; none when Last < First
};

// The first and the last reading by the site's time indexes (MIN and MAX
// would read every entry of the site).
TExtent ExtentOf(fb::Transaction& tr, int siteId) {
    auto end = [&](const char* order) -> std::optional<double> {
        fb::Query q(tr);
        q.SetSQL(std::string("SELECT FIRST 1 REA_DATETIME FROM READINGS WHERE REA_SITE=:SIT_ID AND REA_DATETIME IS NOT "
                             "NULL ORDER BY REA_SITE ") + order + ", REA_DATETIME " + order);
        q.SetInteger("SIT_ID", siteId);
        q.Open();
        std::optional<double> t;
        if (!q.Eof() && !q.Fields(0).IsNull()) t = q.Fields(0).AsDateTime();
        q.Close();
        return t;
    };
    TExtent e;
    const auto first = end("ASC"), last = end("DESC");
    if (first && last) {
        e.First = FirstNightOf(*first);
        e.Last = LastNightOf(*last);
    }
    return e;
}

// A value a meter gives, as IsMeterValue has it, without an arithmetic
// error on a huge stored value: beyond 1e300 the sum is never in 0..30.
// The trigger that counts each night's readings tests the same.
const char* const kMeterValueSQL =
    "REA_SQMVALUE IS NOT NULL AND CASE WHEN REA_SQMVALUE BETWEEN -1e300 AND 1e300 AND "
    "COALESCE(REA_SQMOFFSET, 0) BETWEEN -1e300 AND 1e300 THEN IIF(REA_SQMVALUE + COALESCE(REA_SQMOFFSET, 0) > 0 "
    "AND REA_SQMVALUE + COALESCE(REA_SQMOFFSET, 0) <= 30, 1, 0) ELSE 0 END = 1";
// The dark readings by the expression of IDX_READINGS_DARK (the engine uses
// it only for the very same expression): only they are read, not every row
// of the nights. No ORDER BY: the time index's walk costs more than sorting
// in memory.
const char* const kDarkSQL =
    "SELECT REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, REA_MOONH FROM READINGS "
    "WHERE IIF(REA_SUNH < -18 AND REA_MOONH < 0, REA_DATETIME, NULL) BETWEEN :START AND :STOP "
    "AND REA_SITE=:SIT_ID AND REA_DATETIME BETWEEN :START AND :STOP";
// The kept count of each night's readings with a value a meter gives, and
// the first of them unless one was taken away since.
const char* const kCountsSQL =
    "SELECT NCN_NIGHT, SUM(NCN_READINGS), IIF(MAX(NCN_REMOVED) = 0, MIN(NCN_FIRST), NULL) FROM NIGHTCOUNTS "
    "WHERE NCN_SITE=:SIT_ID AND NCN_NIGHT BETWEEN :FROM AND :TO GROUP BY NCN_NIGHT";
// A night's first reading when the counts cannot tell it. No upper bound:
// with one, the engine reads the night's index entries first.
const std::string kFirstSQL = std::string("SELECT FIRST 1 REA_DATETIME FROM READINGS WHERE REA_SITE=:SIT_ID AND "
                                          "REA_DATETIME >= :START AND ") +
                              kMeterValueSQL + " ORDER BY REA_SITE, REA_DATETIME";

// Summaries of the nights first..last. Only the dark readings are judged,
// so only they are read and fetched; the others are counted as they are
// written (NIGHTCOUNTS). Reading every row of the nights, to count them or
// to find the dark ones, was most of the time of a first summary.
std::vector<TNightSummary> Summarise(fb::Transaction& tr, int siteId, int first, int last) {
    std::vector<TNightReading> dark;
    {
        fb::Query q(tr);
        q.SetSQL(kDarkSQL);
        q.SetInteger("SIT_ID", siteId);
        q.SetDateTime("START", NightWindow(first).Start);
        q.SetDateTime("STOP", NightWindow(last).Stop);
        for (q.Open(); !q.Eof(); q.Next()) {
            const std::optional<TNightReading> r = RowReading(q);
            if (r && IsMeterValue(r->Value) && IsDark(*r)) dark.push_back(*r);
        }
        q.Close();
    }
    // Rows come in storage order; readings of the same time keep it, as the
    // time index keeps them.
    std::stable_sort(dark.begin(), dark.end(),
                     [](const TNightReading& a, const TNightReading& b) { return a.Time < b.Time; });
    struct TCount {
        int Readings = 0;
        std::optional<double> First;
    };
    std::map<int, TCount> counts;
    {
        fb::Query q(tr);
        q.SetSQL(kCountsSQL);
        q.SetInteger("SIT_ID", siteId);
        q.SetInteger("FROM", first);
        q.SetInteger("TO", last);
        for (q.Open(); !q.Eof(); q.Next()) {
            TCount& c = counts[static_cast<int>(q.Fields(0).AsInteger())];
            c.Readings = static_cast<int>(q.Fields(1).AsInteger());
            if (!q.Fields(2).IsNull()) c.First = q.Fields(2).AsDateTime();
        }
        q.Close();
    }
    fb::Query firstOf(tr);
    firstOf.SetSQL(kFirstSQL);
    firstOf.SetInteger("SIT_ID", siteId);
    std::vector<TNightSummary> out;
    out.reserve(last - first + 1);
    std::vector<TNightReading> night;
    for (int n = first; n <= last; ++n) {
        const TQueryWindow w = NightWindow(n);
        const auto c = counts.find(n);
        const int readings = c == counts.end() ? 0 : c->second.Readings;
        const auto a = std::lower_bound(dark.begin(), dark.end(), w.Start,
                                        [](const TNightReading& r, double v) { return r.Time < v; });
        const auto b = std::upper_bound(a, dark.end(), w.Stop,
                                        [](double v, const TNightReading& r) { return v < r.Time; });
        night.assign(a, b);
        // Without dark readings the first reading's time is never read.
        double firstTime = 0;
        if (readings > 0 && !night.empty() && c->second.First) {
            firstTime = *c->second.First;
        } else if (readings > 0 && !night.empty()) {
            firstOf.SetDateTime("START", w.Start);
            firstOf.Open();
            if (!firstOf.Eof() && !firstOf.Fields(0).IsNull() && firstOf.Fields(0).AsDateTime() <= w.Stop)
                firstTime = firstOf.Fields(0).AsDateTime();
            firstOf.Close();
        }
        out.push_back(SummariseDarkReadings(n, readings, firstTime, night));
    }
    return out;
}

void Keep(fb::Transaction& tr, int siteId, const std::vector<TNightSummary>& made,
          const std::vector<std::pair<int, int>>& runs) {
    fb::Query keep(tr);
    keep.SetSQL(kKeepSQL);
    keep.SetInteger("SIT_ID", siteId);
    keep.SetInteger("METHOD", kNightMethod);
    for (const TNightSummary& s : made) {
        keep.SetInteger("NIGHT", static_cast<int64_t>(s.Night));
        keep.SetInteger("READINGS", s.Readings);
        keep.SetInteger("DARK", s.DarkReadings);
        keep.SetInteger("CLEARDARK", s.ClearDarkReadings);
        SetOptional(keep, "SKY", s.SkyBrightness);
        SetOptional(keep, "DARKEST", s.Darkest);
        keep.ExecSQL();
    }
    fb::Query unmark(tr);
    unmark.SetSQL(kUnmarkSQL);
    unmark.SetInteger("SIT_ID", siteId);
    for (const auto& [first, last] : runs) {
        unmark.SetInteger("FROM", first);
        unmark.SetInteger("TO", last);
        unmark.ExecSQL();
    }
}

}  // namespace

std::string DarkReadingsPlan(fb::Transaction& tr) {
    fb::Query q(tr);
    q.SetSQL(kDarkSQL);
    return q.Plan();
}

std::vector<TNightReading> ReadQualityReadings(fb::Transaction& tr, int siteId, double fromNight, double toNight) {
    const TQueryWindow w{NightWindow(fromNight).Start, NightWindow(toNight).Stop};
    fb::Query q(tr);
    q.SetSQL(kReadingsSQL);
    q.SetInteger("SIT_ID", siteId);
    q.SetDateTime("START", w.Start);
    q.SetDateTime("STOP", w.Stop);
    std::vector<TNightReading> rows;
    for (q.Open(); !q.Eof(); q.Next()) {
        if (const std::optional<TNightReading> r = RowReading(q)) rows.push_back(*r);
    }
    q.Close();
    return rows;
}

std::vector<TNightSummary> NightSummaries(fb::Database& db, int siteId, double fromNight, double toNight) {
    const int from = static_cast<int>(std::floor(fromNight)), to = static_cast<int>(std::floor(toNight));
    std::vector<TNightSummary> out;
    if (to < from) return out;
    // One snapshot: the readings, the kept summaries and the marks agree.
    fb::Transaction tr(db, fb::Isolation::Concurrency);
    tr.Start();
    const TExtent extent = ExtentOf(tr, siteId);
    const int lo = std::max(from, static_cast<int>(extent.First));
    const int hi = std::min(to, static_cast<int>(extent.Last));
    std::map<int, TNightSummary> kept;
    std::set<int> marked;
    if (lo <= hi) {
        fb::Query q(tr);
        q.SetSQL(kKeptSQL);
        q.SetInteger("SIT_ID", siteId);
        q.SetInteger("FROM", lo);
        q.SetInteger("TO", hi);
        q.SetInteger("METHOD", kNightMethod);
        for (q.Open(); !q.Eof(); q.Next()) {
            TNightSummary s;
            s.Night = static_cast<double>(q.Fields(0).AsInteger());
            s.Readings = static_cast<int>(q.Fields(1).AsInteger());
            s.DarkReadings = static_cast<int>(q.Fields(2).AsInteger());
            s.ClearDarkReadings = static_cast<int>(q.Fields(3).AsInteger());
            s.SkyBrightness = OptDouble(q, 4);
            s.Darkest = OptDouble(q, 5);
            kept[static_cast<int>(s.Night)] = s;
        }
        q.Close();
        fb::Query m(tr);
        m.SetSQL(kMarkedSQL);
        m.SetInteger("SIT_ID", siteId);
        m.SetInteger("FROM", lo);
        m.SetInteger("TO", hi);
        for (m.Open(); !m.Eof(); m.Next()) marked.insert(static_cast<int>(m.Fields(0).AsInteger()));
        m.Close();
    }
    // Runs of nights to make, each read in one statement.
    std::vector<std::pair<int, int>> runs;
    for (int n = lo; n <= hi; ++n) {
        if (kept.count(n) && !marked.count(n)) continue;
        if (!runs.empty() && runs.back().second == n - 1)
            runs.back().second = n;
        else
            runs.push_back({n, n});
    }
    std::vector<TNightSummary> made;
    for (const auto& [first, last] : runs)
        for (TNightSummary& s : Summarise(tr, siteId, first, last)) {
            kept[static_cast<int>(s.Night)] = s;
            made.push_back(s);
        }
    try {
        if (!made.empty()) Keep(tr, siteId, made, runs);
        tr.Commit();
    } catch (const fb::Error&) {
        // Another program keeps them at this moment (a conflict, at once:
        // no wait): these results stand, the next request finds them kept.
        if (tr.Active()) tr.Rollback();
    }
    out.reserve(to - from + 1);
    for (int n = from; n <= to; ++n) {
        const auto k = kept.find(n);
        if (k != kept.end()) {
            out.push_back(k->second);
        } else {
            TNightSummary none;
            none.Night = n;
            out.push_back(none);
        }
    }
    return out;
}

TNightSummary SummariseNight(fb::Database& db, int siteId, double night) {
    return NightSummaries(db, siteId, night, night).front();
}

double LastEndedNight(fb::Database& db, int siteId, double now) {
    fb::Transaction tr(db);
    tr.Start();
    fb::Query q(tr);
    // The newest reading before the noon that ended the last night.
    const double lastEnded = std::floor(now - 0.5) - 1;
    q.SetSQL("SELECT FIRST 1 REA_DATETIME FROM READINGS WHERE REA_SITE=:SIT_ID AND REA_DATETIME <= :STOP "
             "ORDER BY REA_SITE DESC, REA_DATETIME DESC");
    q.SetInteger("SIT_ID", siteId);
    q.SetDateTime("STOP", NightWindow(lastEnded).Stop);
    q.Open();
    double night = 0;
    if (!q.Eof() && !q.Fields(0).IsNull()) night = LastNightOf(q.Fields(0).AsDateTime());
    q.Close();
    tr.Commit();
    return night;
}
