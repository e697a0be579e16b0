#include "core/site/localquery.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <future>
#include <stdexcept>

#include "core/station/fbdb.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/station/sqm.h"
#include "core/site/siterules.h"

namespace {

constexpr size_t kProgressEvery = 2000;

// Where each reading column sits in a statement, looked up once per
// statement rather than by name for every row of a long query.
struct TColumns {
    enum { Code, Site, DateTime, Value, Temp, SunH, MoonH, MoonPh, State, Uploaded, Syncro, Modified, Offset, Origin,
           MoonAge, MoonIllum, Downing, Twilight, Count };
    std::array<int, Count> At;
    explicit TColumns(const fb::Query& q) {
        static const char* const names[Count] = {
            "REA_CODE", "REA_SITE", "REA_DATETIME", "REA_SQMVALUE", "REA_SQMTEMP", "REA_SUNH", "REA_MOONH",
            "REA_MOONPH", "REA_STATE", "REA_UPLOADED", "REA_SYNCRO", "REA_MODIFIED", "REA_SQMOFFSET", "REA_ORIGIN",
            "REA_MOONAGE", "REA_MOONILLUM", "REA_ASTRO_DOWNING", "REA_ASTRO_TWILIGHT"};
        for (int i = 0; i < Count; ++i) At[i] = q.FieldIndex(names[i]).value_or(-1);
    }
};

std::optional<double> OptDouble(const fb::Query& q, int i) {
    if (i < 0 || q.Fields(i).IsNull()) return std::nullopt;
    return q.Fields(i).AsDouble();
}

std::optional<int64_t> OptInteger(const fb::Query& q, int i) {
    if (i < 0 || q.Fields(i).IsNull()) return std::nullopt;
    return q.Fields(i).AsInteger();
}

std::string Text(const fb::Query& q, int i) {
    if (i < 0 || q.Fields(i).IsNull()) return {};
    return Trim(q.Fields(i).AsString());
}

// The offsets a site may have, which every stored reading copies.
const TSiteRules::TFieldRange& OffsetRange() { return *TSiteRules::RangeOf("SIT_OFFSET"); }

// The statistics' test of a row whose value or offset no meter and no site
// gives; a null column passes it (unknown), as the rows read it.
std::string ImpossibleValueCondition() {
    const auto& o = OffsetRange();
    return "(REA_SQMVALUE NOT BETWEEN " + std::to_string(kMinSkyBrightness) + " AND " +
           std::to_string(kMaxSkyBrightness) + " OR REA_SQMOFFSET NOT BETWEEN " + std::to_string(o.Min) + " AND " +
           std::to_string(o.Max) + ")";
}

// Empties what no meter gives, and marks the row.
void LeaveOutImpossible(TReadingRow& r) {
    const auto& o = OffsetRange();
    auto drop = [&](std::optional<double>& v, bool inside) {
        if (v && !inside) {
            v.reset();
            r.LeftOut = true;
        }
    };
    const bool valueInside = !r.Value || kSkyBrightnessRange.Contains(*r.Value);
    const bool offsetInside = !r.Offset || (*r.Offset >= o.Min && *r.Offset <= o.Max);
    if (!valueInside || !offsetInside) {
        drop(r.Value, false);
        drop(r.Offset, false);
    }
    drop(r.Temperature, !r.Temperature || kTemperatureRange.Contains(*r.Temperature));
}

TReadingRow RowFrom(const fb::Query& q, const TColumns& c) {
    TReadingRow r;
    r.Code = Text(q, c.At[TColumns::Code]);
    r.Site = OptInteger(q, c.At[TColumns::Site]);
    r.DateTime = OptDouble(q, c.At[TColumns::DateTime]).value_or(0);
    r.Value = OptDouble(q, c.At[TColumns::Value]);
    r.Temperature = OptDouble(q, c.At[TColumns::Temp]);
    r.SunHeight = OptDouble(q, c.At[TColumns::SunH]);
    r.MoonHeight = OptDouble(q, c.At[TColumns::MoonH]);
    r.MoonPhase = OptDouble(q, c.At[TColumns::MoonPh]);
    r.State = OptInteger(q, c.At[TColumns::State]);
    r.Uploaded = OptInteger(q, c.At[TColumns::Uploaded]).value_or(0);
    r.Syncro = OptInteger(q, c.At[TColumns::Syncro]).value_or(0);
    r.Modified = OptInteger(q, c.At[TColumns::Modified]).value_or(0);
    r.Offset = OptDouble(q, c.At[TColumns::Offset]);
    r.Origin = Text(q, c.At[TColumns::Origin]);
    r.MoonAge = OptDouble(q, c.At[TColumns::MoonAge]);
    r.MoonIllum = OptDouble(q, c.At[TColumns::MoonIllum]);
    r.NightEnds = OptDouble(q, c.At[TColumns::Downing]);
    r.NightStarts = OptDouble(q, c.At[TColumns::Twilight]);
    LeaveOutImpossible(r);
    return r;
}

std::vector<TReadingRow> FetchAll(fb::Query& q, const TFetchProgress& progress) {
    std::vector<TReadingRow> rows;
    q.Open();
    const TColumns columns(q);
    for (; !q.Eof(); q.Next()) {
        rows.push_back(RowFrom(q, columns));
        if (progress && rows.size() % kProgressEvery == 0) progress(rows.size());
    }
    q.Close();
    return rows;
}

// "dd.mm.yyyy hh.mm.ss": the literal the engine reads whatever the locale.
std::string ConditionTime(double dt) {
    const DateTimeParts p = DecodeDateTime(dt);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d.%02d.%02d", p.day, p.month, p.year, p.hour, p.minute,
                  p.second);
    return buf;
}

double DatePart(double dt) { return std::floor(dt); }
double TimePart(double dt) { return dt - std::floor(dt); }

}  // namespace

std::optional<double> TReadingRow::Corrected() const {
    if (!Value || !Offset) return std::nullopt;
    return *Value + *Offset;
}

std::optional<double> TReadingRow::Nelm() const {
    const auto c = Corrected();
    if (!c) return std::nullopt;
    return TSQM::ComputeNELM(*c);
}

bool IsMeterCorrectedValue(double value) {
    const auto& o = OffsetRange();
    return value >= kMinSkyBrightness + o.Min && value <= kMaxSkyBrightness + o.Max;
}

std::string LeftOutNote(size_t readings) {
    return std::to_string(readings) + " " +
           (readings == 1 ? Tr("reading with a value no meter can give left out")
                          : Tr("readings with a value no meter can give left out"));
}

std::string FlagText(int64_t flag) { return flag != 0 ? Tr("Yes") : Tr("No"); }

std::string StateText(std::optional<int64_t> state) { return state && *state == -1 ? Tr("Daytime") : std::string(); }

TReadingRow ReadingRowFrom(const fb::Query& q) { return RowFrom(q, TColumns(q)); }

std::vector<TReadingRow> ReadLatestReadings(fb::Transaction& tr, int siteId, int limit) {
    if (limit <= 0) return {};
    fb::Query q(tr);
    q.SetSQL(kLatestReadingsSQL);
    q.SetInteger("LIMIT", limit);
    q.SetInteger("SIT_ID", siteId);
    return FetchAll(q, {});
}

double NightDateOf(double reference) {
    const double date = DatePart(reference);
    const double time = TimePart(reference);
    // Exactly midnight keeps its own date; noon starts the new night.
    return time > 0 && time < 0.5 ? date - 1 : date;
}

TQueryWindow NightWindow(double nightDate) {
    const double d = DatePart(nightDate);
    return {d + 0.5, d + 1.5};
}

std::vector<TReadingRow> ReadNightReadings(fb::Transaction& tr, int siteId, double nightDate) {
    const TQueryWindow w = NightWindow(nightDate);
    fb::Query q(tr);
    q.SetSQL(kRealTimeSQL);
    q.SetInteger("SIT_ID", siteId);
    q.SetDateTime("START", w.Start);
    q.SetDateTime("STOP", w.Stop);
    return FetchAll(q, {});
}

std::string RealTimeNightTitle(double nightDate, const TFormatSettings& fs) {
    return Tr("Real time SQM graph of the night ") + FormatDateText(nightDate, fs);
}

std::string RecentReadingsTitle() { return Tr("Real time SQM graph of the recent recorde readings"); }

TQuerySelection NightSelection(double nightDate, TSortOrder order) {
    TQuerySelection s;
    s.Order = order;
    s.Kind = TSelectionKind::OneNight;
    s.DateStart = nightDate;
    return s;
}

TQuerySelection IntervalSelection(double from, double to, TSortOrder order) {
    TQuerySelection s;
    s.Order = order;
    s.Kind = TSelectionKind::DateInterval;
    s.DateStart = std::floor(from);
    s.TimeStart = from - std::floor(from);
    s.DateEnd = std::floor(to);
    s.TimeEnd = to - std::floor(to);
    return s;
}

TQueryWindow QueryWindowOf(const TQuerySelection& s) {
    if (s.Kind == TSelectionKind::OneNight) return NightWindow(s.DateStart);
    return {DatePart(s.DateStart) + TimePart(s.TimeStart), DatePart(s.DateEnd) + TimePart(s.TimeEnd)};
}

std::string QueryChartTitle(const TQuerySelection& s, const TFormatSettings& fs) {
    const TQueryWindow w = QueryWindowOf(s);
    if (s.Kind == TSelectionKind::OneNight) return Tr("SQM Graph of the night: ") + FormatDateText(w.Start, fs);
    return Tr("SQM Graph ") + FormatDateText(w.Start, fs) + "\n" + Tr("From ") + FormatDateTimeText(w.Start, fs) +
           Tr(" to ") + FormatDateTimeText(w.Stop, fs);
}

std::string QueryCondition(const TQueryWindow& w) {
    return "WHERE REA_SITE=:SIT_ID AND REA_DATETIME BETWEEN '" + ConditionTime(w.Start) + "' AND '" +
           ConditionTime(w.Stop) + "'";
}

std::string LocalQuerySQL(const TQueryWindow& w, TSortOrder order) {
    return "select * from READINGS \n" + QueryCondition(w) + "\n" +
           (order == TSortOrder::Ascending ? "ORDER BY REA_DATETIME" : "ORDER BY REA_DATETIME DESC");
}

std::vector<TReadingRow> RunLocalQuery(fb::Transaction& tr, int siteId, const TQueryWindow& w, TSortOrder order,
                                       const TFetchProgress& progress) {
    fb::Query q(tr);
    q.SetSQL(LocalQuerySQL(w, order));
    q.SetInteger("SIT_ID", siteId);
    return FetchAll(q, progress);
}

TReadingCursor CursorAtStart(const TQueryWindow& w) { return {w.Start, {}}; }

TReadingCursor CursorAfter(const TReadingRow& row) { return {row.DateTime, row.Code}; }

std::vector<TReadingRow> ReadReadingsAfter(fb::Transaction& tr, int siteId, const TQueryWindow& w,
                                           const TReadingCursor& after, size_t n) {
    std::vector<TReadingRow> out;
    TReadingCursor at = after;
    auto fetch = [&](const std::string& sql, size_t count, bool byCode) {
        fb::Query q(tr);
        q.SetSQL(sql);
        q.SetInteger("N", static_cast<int64_t>(count));
        q.SetInteger("SIT_ID", siteId);
        q.SetDateTime("T", at.Time);
        q.SetDateTime("START", w.Start);
        q.SetDateTime("STOP", w.Stop);
        if (byCode) q.SetString("C", at.Code);
        return FetchAll(q, {});
    };
    while (out.size() < n) {
        // The rest of the rows at the cursor's time, by code: the only place
        // where rows of one time are told apart. The code is compared and
        // sorted as an expression, so the engine takes the few rows of that
        // time from the (site, time) index instead of walking every key.
        auto same = fetch("SELECT FIRST :N * FROM READINGS WHERE REA_SITE=:SIT_ID AND REA_DATETIME=:T AND "
                          "REA_DATETIME BETWEEN :START AND :STOP AND REA_CODE || '' > :C ORDER BY REA_CODE || ''",
                          n - out.size(), true);
        for (auto& r : same) out.push_back(std::move(r));
        if (out.size() >= n) break;
        // Then by time alone, which the index gives in order; the rows of the
        // last time read are left to the step above, in code order.
        const size_t want = n - out.size();
        auto later = fetch("SELECT FIRST :N * FROM READINGS WHERE REA_SITE=:SIT_ID AND REA_DATETIME>:T AND "
                           "REA_DATETIME BETWEEN :START AND :STOP ORDER BY REA_DATETIME",
                           want, false);
        std::stable_sort(later.begin(), later.end(), [](const TReadingRow& a, const TReadingRow& b) {
            return a.DateTime < b.DateTime || (a.DateTime == b.DateTime && a.Code < b.Code);
        });
        if (later.size() < want) {  // the window's end
            for (auto& r : later) out.push_back(std::move(r));
            break;
        }
        const double last = later.back().DateTime;
        for (auto& r : later)
            if (r.DateTime < last) out.push_back(std::move(r));
        at = {last, {}};
    }
    return out;
}

TStatistics StatisticsOf(int64_t count, std::optional<double> average, const std::vector<double>& x) {
    TStatistics s;
    if (!average) return s;  // no average: as if nothing were there
    s.Count = count;
    if (count == 1) {
        s.Average = s.Median = average;
        return s;
    }
    if (count < 2) return s;
    // The rows may have changed between the two statements only outside a
    // snapshot; trust the list actually read.
    const size_t n = x.size();
    if (n < 2) return s;
    s.Average = average;
    s.Minimum = x.front();
    s.Maximum = x.back();
    s.Median = n % 2 ? x[n / 2] : (x[n / 2 - 1] + x[n / 2]) / 2;
    double sum = 0;
    for (double v : x) sum += (v - *average) * (v - *average);
    s.Deviation = std::sqrt(sum / static_cast<double>(n - 1));
    return s;
}

TStatistics ReadStatistics(fb::Database& db, int siteId, const TQueryWindow& w) {
    fb::Transaction snapshot(db, fb::Isolation::Concurrency);
    snapshot.Start();
    const std::string condition = QueryCondition(w);
    fb::Query q(snapshot);
    // A value no meter gives is neither counted nor summed (one 1e308 would overflow the sum).
    const std::string impossible = ImpossibleValueCondition();
    q.SetSQL("SELECT COUNT(REA_CODE) AS NUMERO, COUNT(CASE WHEN " + impossible +
             " THEN 1 END) AS FUORI, AVG(CASE WHEN " + impossible +
             " THEN NULL ELSE REA_SQMVALUE+REA_SQMOFFSET END) AS MEDIA FROM READINGS\n" + condition);
    q.SetInteger("SIT_ID", siteId);
    q.Open();
    std::optional<double> mean;
    int64_t n = 0;
    const int64_t leftOut = q.FieldByName("FUORI").AsInteger();
    if (!q.FieldByName("MEDIA").IsNull()) {
        mean = q.FieldByName("MEDIA").AsDouble();
        n = q.FieldByName("NUMERO").AsInteger() - leftOut;
    }
    q.Close();
    std::vector<double> x;
    if (n >= 2) {
        x.reserve(static_cast<size_t>(n));
        q.SetSQL("SELECT REA_SQMVALUE, REA_SQMOFFSET FROM READINGS\n" + condition + " AND NOT " + impossible +
                 "\nORDER BY REA_SQMVALUE ASC");
        q.SetInteger("SIT_ID", siteId);
        for (q.Open(); !q.Eof(); q.Next()) {
            // A null value or offset adds nothing to the average either.
            if (q.Fields(0).IsNull() || q.Fields(1).IsNull()) continue;
            x.push_back(q.Fields(0).AsDouble() + q.Fields(1).AsDouble());
        }
        q.Close();
    }
    snapshot.Commit();
    TStatistics s = StatisticsOf(n, mean, x);
    s.LeftOut = leftOut;
    return s;
}

TQueryResult RunQueryWithStatistics(fb::Transaction& tr, int siteId, const TQueryWindow& w, TSortOrder order,
                                    const TFetchProgress& progress) {
    const std::string file = tr.Db().File();
    auto statistics = std::async(std::launch::async, [file, siteId, w] {
        fb::Database own(file);
        own.Open();
        TStatistics s = ReadStatistics(own, siteId, w);
        own.Close();
        return s;
    });
    TQueryResult r;
    try {
        r.Rows = RunLocalQuery(tr, siteId, w, order, progress);
    } catch (...) {
        statistics.wait();
        throw;
    }
    r.Statistics = statistics.get();
    return r;
}

std::array<std::string, 6> StatisticsTexts(const TStatistics& s, const TFormatSettings& fs) {
    std::array<std::string, 6> t;
    t.fill("---");
    t[0] = std::to_string(s.Count);
    const std::optional<double> values[] = {s.Average, s.Deviation, s.Median, s.Maximum, s.Minimum};
    for (int i = 0; i < 5; ++i)
        if (values[i]) t[i + 1] = FormatNumber(*values[i], 2, fs);
    return t;
}

std::string ExportRefusal(bool queryOpen, size_t rows) {
    if (!queryOpen) return Tr("The query is not yet started");
    if (rows == 0) return Tr("The query is empty: nothing to export");
    return {};
}

std::string ExportText(const std::vector<TReadingRow>& rows, const TFormatSettings& fs) {
    std::string out = Tr("Reading date;SQM Value;SQM Offset;NELM;Sensor Temp") + "\r\n";
    auto number = [&](std::optional<double> v) { return v ? FormatNumber(*v, 2, fs) : std::string(); };
    for (const TReadingRow& r : rows) {
        out += FormatDateTimeText(r.DateTime, fs);
        out += ';' + number(r.Value) + ';' + number(r.Offset) + ';' + number(r.Nelm()) + ';' + number(r.Temperature);
        out += "\r\n";
    }
    return out;
}

void ExportReadings(const std::string& path, const std::vector<TReadingRow>& rows, const TFormatSettings& fs) {
    const std::string text = ToCodeset(ExportText(rows, fs), fs.Codeset);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error(Tr("Can not write the file ") + path);
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
    f.close();
    if (!f) throw std::runtime_error(Tr("Can not write the file ") + path);
}

std::string DeleteOneQuestion() { return Tr("Delete the reading?") + "\r" + Tr("ATTENTION: Deletion can not be undone!"); }

std::string DeleteAllQuestion(size_t rows) {
    return Tr("Were selected ") + std::to_string(rows) + Tr(" readings.") + "\r" + Tr("Deletion can not be undone!") +
           "\r" + Tr("Proceed?");
}

void DeleteReading(fb::Transaction& tr, const std::string& code) {
    fb::Query q(tr);
    q.SetSQL("DELETE FROM READINGS WHERE REA_CODE=:CODE");
    q.SetString("CODE", code);
    q.ExecSQL();
    tr.CommitRetaining();
}

void DeleteReadings(fb::Transaction& tr, const std::vector<std::string>& codes, const TFetchProgress& progress) {
    fb::Query q(tr);
    q.SetSQL("DELETE FROM READINGS WHERE REA_CODE=:CODE");
    size_t done = 0;
    for (const std::string& code : codes) {
        q.SetString("CODE", code);
        q.ExecSQL();
        if (progress && ++done % kProgressEvery == 0) progress(done);
    }
    tr.CommitRetaining();
}
