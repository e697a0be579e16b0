#pragma once
// The reading lists of a site window and the local query with its
// statistics, export and deletion, without any window: the desktop and a
// command line share them.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/station/i18n.h"
#include "core/site/readingformat.h"

namespace fb {
class Database;
class Transaction;
class Query;
}  // namespace fb

// One stored reading as the lists read it; a null column stays empty.
struct TReadingRow {
    std::string Code;
    std::optional<int64_t> Site;
    double DateTime = 0;
    std::optional<double> Value, Temperature, SunHeight, MoonHeight, MoonPhase, Offset, MoonAge, MoonIllum;
    std::optional<double> NightEnds, NightStarts;  // REA_ASTRO_DOWNING, REA_ASTRO_TWILIGHT
    std::optional<int64_t> State;
    int64_t Uploaded = 0, Syncro = 0, Modified = 0;
    std::string Origin;
    // Its stored value, offset or temperature is one no meter gives (an older
    // version's import, a network import, a hand edit): read as empty, so no
    // list, chart or sum takes it, and the readers say so.
    bool LeftOut = false;

    // C_SQMVALUECORR: the value corrected by the offset in force then.
    std::optional<double> Corrected() const;
    // C_NELM: the limiting magnitude of the corrected value.
    std::optional<double> Nelm() const;
};

// A corrected sky brightness as a meter's value and a site's offset can
// make it: a picture or a sum leaves out any other.
bool IsMeterCorrectedValue(double value);
// "1 reading with a value no meter can give left out": the note every
// reader shows where it left out such readings.
std::string LeftOutNote(size_t readings);

// The texts of the flags: "Yes"/"No", and "Daytime" for a daylight state.
std::string FlagText(int64_t flag);
std::string StateText(std::optional<int64_t> state);

// Reads the current row of an open statement by column name; columns the
// statement lacks stay empty.
TReadingRow ReadingRowFrom(const fb::Query& q);

// --- The latest readings and the real-time night ---

inline constexpr const char* kLatestReadingsSQL =
    "select FIRST :LIMIT REA_CODE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_SQMOFFSET,REA_UPLOADED, REA_STATE "
    "from READINGS WHERE REA_SITE=:SIT_ID\n"
    "order by REA_DATETIME DESC";
inline constexpr const char* kRealTimeSQL =
    "select REA_CODE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_SQMOFFSET from READINGS WHERE REA_SITE=:SIT_ID "
    "and REA_DATETIME BETWEEN :START and :STOP\n"
    "order by REA_DATETIME ";
inline constexpr int kLatestCountMax = 1000;

// The newest `limit` readings of a site, newest first; none for 0.
std::vector<TReadingRow> ReadLatestReadings(fb::Transaction& tr, int siteId, int limit);

// The date that names the night a time belongs to: before noon (and after
// midnight) a time belongs to the night that began the day before.
double NightDateOf(double reference);
struct TQueryWindow {
    double Start = 0;  // both ends included
    double Stop = 0;
};
// Noon of the night's date to the next noon.
TQueryWindow NightWindow(double nightDate);
// The night's readings, oldest first.
std::vector<TReadingRow> ReadNightReadings(fb::Transaction& tr, int siteId, double nightDate);
std::string RealTimeNightTitle(double nightDate, const TFormatSettings& fs);
std::string RecentReadingsTitle();

// --- The local query ---

enum class TSelectionKind { OneNight = 0, DateInterval = 1 };
enum class TSortOrder { Ascending = 0, Descending = 1 };

struct TQuerySelection {
    TSelectionKind Kind = TSelectionKind::OneNight;
    double DateStart = 0, DateEnd = 0;  // dates (a time part is ignored)
    double TimeStart = 0, TimeEnd = 0;  // times of day (a date part is ignored)
    TSortOrder Order = TSortOrder::Descending;
};

// The page's two selections: one night (noon to noon), and an interval
// whose ends are each a date picker and a time picker.
TQuerySelection NightSelection(double nightDate, TSortOrder order);
TQuerySelection IntervalSelection(double from, double to, TSortOrder order);
TQueryWindow QueryWindowOf(const TQuerySelection& s);
// One line for a night, two for an interval.
std::string QueryChartTitle(const TQuerySelection& s, const TFormatSettings& fs);
// "WHERE REA_SITE=:SIT_ID AND REA_DATETIME BETWEEN '...' AND '...'"
std::string QueryCondition(const TQueryWindow& w);
std::string LocalQuerySQL(const TQueryWindow& w, TSortOrder order);

// Called now and then while rows arrive, with the number read so far.
using TFetchProgress = std::function<void(size_t fetched)>;
std::vector<TReadingRow> RunLocalQuery(fb::Transaction& tr, int siteId, const TQueryWindow& w, TSortOrder order,
                                       const TFetchProgress& progress = {});

// Keyset paging of a window's readings in (time, code) order, for answers
// written as they are read: each step walks the (site, time) index from
// where the last one stopped, so a page costs the same anywhere in ten years.
struct TReadingCursor {
    double Time = 0;   // the last row given (its exact stored time)
    std::string Code;  // and its code; empty: no row at Time given yet
};
// The first cursor of a window: nothing given yet.
TReadingCursor CursorAtStart(const TQueryWindow& w);
TReadingCursor CursorAfter(const TReadingRow& row);
// The next rows of the window after the cursor, at most n.
std::vector<TReadingRow> ReadReadingsAfter(fb::Transaction& tr, int siteId, const TQueryWindow& w,
                                           const TReadingCursor& after, size_t n);

struct TStatistics {
    int64_t Count = 0;
    int64_t LeftOut = 0;  // readings with a value no meter gives, not counted
    std::optional<double> Average, Deviation, Median, Maximum, Minimum;
};
// Count and average from the database, the rest from the corrected values
// in the order of the stored value: extremes and median follow that order,
// the deviation (divisor n - 1) uses the database's average.
TStatistics StatisticsOf(int64_t count, std::optional<double> average, const std::vector<double>& byStoredValue);
// Both statements in one fresh snapshot, so they see the same rows.
TStatistics ReadStatistics(fb::Database& db, int siteId, const TQueryWindow& w);
// The query's rows and their statistics, as the query page shows them.
// The statistics run meanwhile on an attachment of their own, so a long
// interval costs the longer of the two, not their sum.
struct TQueryResult {
    std::vector<TReadingRow> Rows;
    TStatistics Statistics;
};
TQueryResult RunQueryWithStatistics(fb::Transaction& tr, int siteId, const TQueryWindow& w, TSortOrder order,
                                    const TFetchProgress& progress = {});

// Number, average, deviation, median, maximum, minimum; "---" when absent.
std::array<std::string, 6> StatisticsTexts(const TStatistics& s, const TFormatSettings& fs);
// The captions of those six texts on the query page (untranslated sources).
inline constexpr std::array<const char*, 6> kStatisticsCaptions = {
    N_("Number of readings"), N_("Average"), N_("Standard deviation"), N_("Median"), N_("Maximim"), N_("Minimum")};

// --- Export and deletion ---

// Empty when the rows may be exported, else the message to show.
std::string ExportRefusal(bool queryOpen, size_t rows);
// The export file's text in UTF-8: the header and one line per row in
// the rows' order, every line ending in CR LF.
std::string ExportText(const std::vector<TReadingRow>& rows, const TFormatSettings& fs);
// Writes ExportText in the locale's character set; throws std::runtime_error
// naming the file when it cannot be written completely.
void ExportReadings(const std::string& path, const std::vector<TReadingRow>& rows, const TFormatSettings& fs);

std::string DeleteOneQuestion();
std::string DeleteAllQuestion(size_t rows);
// Deletes by key and commits, keeping the transaction open.
void DeleteReading(fb::Transaction& tr, const std::string& code);
// Deletes every key in order, then commits; progress gets the number done.
void DeleteReadings(fb::Transaction& tr, const std::vector<std::string>& codes, const TFetchProgress& progress = {});
