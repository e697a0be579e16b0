#pragma once
// The night file of a site: every stored reading is also appended to a text
// file in the community standard skyglow data format 1.0, one file per night
// (local noon to local noon), beside the program in NightFiles/<site>/.
// Other programs read these files; the database stays the station's record.
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/site/siteports.h"

class TSQM;
namespace fb {
class Database;
}

inline constexpr int kNightFileHeaderLines = 35;
inline constexpr size_t kNightFileMaxLine = 150;

// One data line: times as date-times (days since 1899-12-30).
struct TNightRow {
    double Utc = 0;
    double Local = 0;
    double Temperature = 0;  // Celsius
    double Counts = 0;       // as the meter gave them
    double Frequency = 0;    // Hz
    double Msas = 0;         // mag/arcsec^2, without the cover offset
};

// The varying parts of the header.
struct TNightFileHeader {
    std::string InstrumentId;
    std::string DataSupplier;
    std::string LocationName;
    std::optional<double> Latitude, Longitude, Elevation;
    std::string TimeZoneName;
    std::string TimeSynchronization;
    std::string Serial;
    std::string Firmware;  // protocol-model-feature
    double CoverOffset = 0;
    std::string ReplyIx, ReplyRx, ReplyCx;  // raw meter replies, escaped when written
    std::string Program;  // capture program and version
};

// What a writer adds on its own to every file it begins.
struct TNightFileOptions {
    std::string DataSupplier;
    std::string Program = "KALO-SQM";
};

// A site name as it may stand in a file name: / \ : * ? " < > |, control
// characters and a leading dot become "_"; an empty name is "_"; a name
// longer than 235 bytes is cut with a hash of the whole (BoundedNamePart),
// so that the file name keeps within the system's 255 bytes.
std::string NightFileSafeName(const std::string& siteName);
// "YYYYMMDD_120000_<name>.dat" of the night a local time belongs to: the
// night begins at local noon, so a morning reading goes to the day before.
std::string NightFileName(const std::string& siteName, double local);
// ProgramPath("NightFiles/<name>/<file name>").
std::string NightFilePath(const std::string& siteName, double local);

// Control characters as \xNN and a backslash as \\: a raw reply never puts
// raw bytes in the file.
std::string EscapeControl(const std::string& text);
// Non-ASCII characters (each UTF-8 sequence) and control characters as "?".
std::string AsciiOnly(const std::string& text);

// The 35 header lines, without line ends, each ASCII and at most 150 characters.
std::vector<std::string> NightFileHeaderLines(const TNightFileHeader& h);
// "UTC;Local;Temperature;Counts;Frequency;MSAS", "." as decimal point in every
// locale, plain decimals only: temperature with 1 decimal, counts and frequency
// whole, MSAS with 2. A value that cannot be written so within the line's 150
// characters (NaN, infinite, 1e15 or more in size, a time outside the years
// 1 to 9999) throws std::out_of_range naming it: no line rather than a wrong one.
std::string FormatNightRow(const TNightRow& r);
// "YYYY-MM-DDTHH:mm:ss.fff"; std::out_of_range outside the years 1 to 9999.
std::string FormatNightTime(double dt);

// The name of the PC's time zone: TZ, else /etc/timezone, else the target of
// the /etc/localtime link; "UTC+hh" of the site's hours as a last resort.
std::string LocalTimeZoneName(int siteTimeZone);
// "PC clock", or the time servers of NTPSERVERS (comma separated, in their
// order) when SET_USEINTERTETTIME is on.
std::string TimeSynchronizationText(fb::Database& db);

// What the meter said to "ix", "rx" and "cx" on short connections of
// their own, as a new file's header quotes it ("" for no answer).
struct TMeterReplies {
    std::string Ix, Rx, Cx;
};
TMeterReplies AskMeterReplies(const std::string& host, int port, int timeoutMs);
// What the owner must hear of a night file whose failure its site's error
// log could not take (a full disk takes both): that its lines wait, and
// that they were written. One word per outage of each file, none while the
// log says it.
struct TNightFileNews {
    bool Waiting = false;  // true: its lines wait; false: written again
    std::string Path;
    std::string Reason;  // why it cannot be written; empty when written again
    size_t Lines = 0;    // the lines that waited, when written again
};
using TNightFileWatcher = std::function<void(const TNightFileNews&)>;
// Installs a watcher for as long as it lives, as TErrorLogWatch does (the
// latest alive hears the news, from the thread that appends, and must not block).
class TNightFileWatch {
public:
    explicit TNightFileWatch(TNightFileWatcher watcher);
    ~TNightFileWatch();
    TNightFileWatch(const TNightFileWatch&) = delete;
    TNightFileWatch& operator=(const TNightFileWatch&) = delete;
};
// The sentence a watcher shows.
std::string DescribeNightFileNews(const TNightFileNews& news);

// The night file of a site's acquisition. Append never throws: a failure is
// written to the site's error log and the acquisition goes on.
class INightFile {
public:
    virtual ~INightFile() = default;
    // Whether a reading at that site local time would begin its file, whose
    // header quotes the meter: the acquisition then asks it with the reading,
    // off its own thread, and hands the replies over before Append.
    virtual bool BeginsFile(const TSiteRow& /*site*/, double /*local*/) { return false; }
    virtual void SetMeterReplies(std::optional<TMeterReplies> /*replies*/) {}
    // A reading just stored; zoneOffset: days added to site local time to
    // obtain UTC (LocalToUtcOffset); logTime: the time for an error line.
    virtual void Append(const TSiteRow& site, const TSQM& station, double zoneOffset, double logTime) = 0;
};

// The real writer. A file is begun (header written) when it is new or
// empty; then the header quotes the meter's replies handed over with the
// reading (SetMeterReplies), or, for a writer that may talk to the meter
// itself (AskMeter), asks "ix", "rx" and "cx" once each; the settings are
// read from the database.
//
// No line is lost to a full disk: a line a file cannot take waits here and
// is written before the next one the file takes, in order. A write that
// fails is taken back whole, so a file never holds half a line. The first
// time a run writes to a file that has lines already (a restart, or a file
// that fell behind), the readings the database holds between the file's last
// line and the first line to write are written first, from the database: it
// keeps no counts and no frequency, so those two fields are 0 in such lines.
// A file's failure is logged once, when it begins, and once when the file
// takes lines again.
class TNightFileWriter : public INightFile {
public:
    // Lines that wait beyond this many are left to the database to fill in.
    static constexpr size_t kMaxWaiting = 100000;

    // options: given by the writer's owner (a program: its version, "KALO-SQM 1.0.0.1").
    explicit TNightFileWriter(fb::Database& db, TNightFileOptions options = {});
    void Append(const TSiteRow& site, const TSQM& station, double zoneOffset, double logTime) override;
    bool BeginsFile(const TSiteRow& site, double local) override;
    void SetMeterReplies(std::optional<TMeterReplies> replies) override { replies_ = std::move(replies); }
    // False: never a conversation with the meter here (the owner's thread
    // must not wait on it); a header without replies handed over quotes none.
    bool AskMeter = true;
    // The file the last Append wrote to or tried to.
    const std::string& LastPath() const { return lastPath_; }
    // Lines that wait for their file to take them.
    size_t Waiting() const { return waiting_.size(); }

private:
    struct TLine {
        std::string Path;
        long long UtcMs = 0;  // the UTC time in milliseconds: the line's place in its file
        double Utc = 0, Local = 0;
        std::string Text;  // without line end
    };
    TNightFileHeader BeginHeader(const TSiteRow& site, const TSQM& station);
    // Writes lines (of one file, in time order) with what the file lacks
    // before them; throws on a failure, the file as it was.
    void WriteFile(const std::string& path, std::vector<TLine> lines, const TSiteRow& site, const TSQM& station);
    // The readings of the database that the file lacks before the first line.
    std::vector<TLine> FromDatabase(const TSiteRow& site, const TLine& first, long long afterMs);

    fb::Database& db_;
    TNightFileOptions options_;
    std::string lastPath_;
    std::vector<TLine> waiting_;      // oldest first
    std::vector<std::string> known_;  // files whose end this run has written
    std::vector<std::string> failing_;  // files whose failure is logged and not yet over
    std::vector<std::string> unlogged_;  // of those, the ones whose failure the log lost: the watcher heard it
    std::string headerPath_, headerText_;  // the header of a file that could not be begun yet
    std::optional<TMeterReplies> replies_;  // for the next file begun
};

// A night file read back with the community rules: the header ends at
// "# END OF HEADER" and has as many lines as its line 3 says, every line ends
// in CR LF, no tabs, no blank lines, at most 150 characters, six fields per
// data line with "." decimals. Throws std::runtime_error naming the line
// that breaks a rule.
struct TNightFileContents {
    std::vector<std::string> Header;  // without line ends
    std::vector<TNightRow> Rows;
    std::vector<std::vector<std::string>> Fields;  // the data lines' texts, field by field
};
TNightFileContents ParseNightFile(const std::string& content);
TNightFileContents ReadNightFile(const std::string& path);
// "YYYY-MM-DDTHH:mm:ss.fff" back to a date-time; false when it is not one.
bool ParseNightTime(const std::string& text, double& dt);
