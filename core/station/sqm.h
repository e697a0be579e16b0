#pragma once
// TSQM: one SQM-LE meter of one site, and the reading most recently taken
// from it or loaded into it. The meter speaks a short text protocol over
// TCP: "rx" asks for a reading, "ix" for the meter's identity.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/station/i18n.h"
#include "core/station/tcpclient.h"

namespace fb {
class Database;
}

// A stored reading whose row cannot make a reading (a null or unusable
// column): the row, not the database, is at fault.
class TUnloadableReading : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parsed "rx" reply fields, before they are copied into a station object.
struct SqmReadingReply {
    double SQMValue = 0;
    int32_t Frequency = 0;
    int32_t Counts = 0;
    double Period = 0;
    double Temperature = 0;
};
struct SqmInfoReply {
    int32_t Protocol = 0, Model = 0, Feature = 0, Serial = 0;
};
// How a meter client is made: where the meter is, and what it asks at once.
struct TSQMOptions {
    std::string Host;
    int Port = 10001;
    int TimeoutSeconds = 10;  // 0 or less: 10
    fb::Database* Database = nullptr;  // the site's position, for DoReading
    bool DoReading = false;  // take a reading before returning
    bool DoInfo = false;     // ask the identity before returning
    double TimeOffset = 0;   // days added to the PC's local time to obtain UTC
    double Offset = 0;       // the site's calibration offset
    int SiteId = 0;
};

class TSQM {
public:
    // Creates the client and, when asked, connects and takes a reading and/or
    // the identity before returning. Connection failures, a database error
    // while reading the site position and any failure of the identity
    // request are thrown: then no object exists.
    explicit TSQM(const TSQMOptions& options);
    ~TSQM();
    TSQM(const TSQM&) = delete;
    TSQM& operator=(const TSQM&) = delete;

    // Takes one reading and completes it with time and astronomy. True only
    // for a complete, well-formed reading reply; any other outcome leaves
    // every reading field as it was. TimeOffset: days added to the PC's
    // local time to obtain UTC. A site without coordinates is computed at
    // 0, 0; telling the user so is the caller's business. A failure rings Beep.
    bool UpdateReading(fb::Database* Database, double TimeOffset);
    // The same with the reading's UTC time given by the caller's clock,
    // asked once the meter has answered.
    bool UpdateReadingAt(fb::Database* Database, const std::function<double()>& UtcNow);
    // Asks the meter for its identity; true when a non-empty line came back.
    // Connection and conversion errors are thrown.
    bool UpdateInfo();

    // The same conversations in halves, for a caller that talks to the meter
    // on another thread: the Ask halves touch the connection and the failure
    // only (no database, no bell, no reading field), the rest completes on
    // the caller's own thread.
    struct TAnswer {
        bool Ok = false;    // a well-formed reading reply in Reading
        bool Ring = false;  // a failure the bell tells: anything but a silent or empty reply
        SqmReadingReply Reading;
    };
    TAnswer AskReading();
    // The site position a reading is completed with: 0, 0 without a site;
    // throws on a database error.
    void ReadSitePosition(fb::Database* Database, double& latitude, double& longitude) const;
    // Completes a reply taken at utc with time and astronomy into the fields.
    void TakeReading(const SqmReadingReply& reply, double latitude, double longitude, double utc);
    // "ix": true when a line came back, identity set when it was one; throws as UpdateInfo.
    bool AskInfo(std::optional<SqmInfoReply>& identity);
    void SetInfo(const SqmInfoReply& identity);
    // A station of the same meter (address and waits) holding a copy of
    // this one's reading, with no connection and no bell.
    std::unique_ptr<TSQM> Copy() const;
    // Why the last UpdateReading, UpdateReadingAt or UpdateInfo failed, for
    // a log or a message: no answer within the timeout, the connection error
    // in the system's words, or the malformed reply itself (escaped). Empty
    // after a success.
    std::string LastFailure() const { return lastFailure_; }
    // Naked-eye limiting magnitude from a sky brightness.
    static double ComputeNELM(double SkyBrightness);

    void SetSiteID(int id) { SiteID = id; }
    // The local key REA_CODE: "yyyymmddhhmmss" of DateTime and SiteID.
    std::string ReadingCode() const;

    // Local store (READINGS).
    bool StoreReading(fb::Database* Database);
    // False when no row has the key; TUnloadableReading when its row has a
    // column that cannot be read, and then the object is left as it was.
    bool LoadReading(fb::Database* Database, const std::string& Code);

    // Network upload of the current reading for the given site code.
    bool SendToNetwork(const std::string& SiteCode);

    int32_t SiteID = 0;
    int32_t Protocol = 0;
    int32_t Model = 0;
    int32_t Feature = 0;
    int32_t Serial = 0;
    double SQMValue = 0;
    int32_t Frequency = 0;
    int32_t Counts = 0;
    double Period = 0;
    double Temperature = 0;
    double DateTime = 0;
    std::unique_ptr<TcpClient> Client;
    double NELM = 0;
    double Offset = 0;
    bool Syncro = false;
    int32_t State = 0;
    bool Modified = false;
    char Origin = '\0';
    double MoonH = 0, SunH = 0, MoonPh = 0, MoonAgeDays = 0, MoonIllum = 0;
    double AstroTwilight = 0, AstroDowning = 0;
    bool Uploaded = false;
    // The owner's bell, rung when a reading fails; none when empty.
    std::function<void()> Beep;

private:
    // Sends a command and reads its reply line (empty on read timeout). When
    // not connected, connects for this exchange only. A connection error is
    // recorded as the failure and thrown.
    std::string Exchange(const char* command);
    std::string FailurePrefix() const;
    std::string NoReplyFailure() const;
    std::string MalformedReplyFailure(const std::string& line, const std::string& why) const;

    std::string lastFailure_;
    int connectTimeoutMs_ = 0;
};

// The time and astronomy of a reading taken at dateTime (UTC) at a site
// (longitude positive east). Without a site: altitudes -90, the rest 0.
// A twilight that does not occur that UT day keeps the previous value.
struct ReadingCompletion {
    double DateTime = 0;
    double MoonH = 0, SunH = 0, MoonAgeDays = 0, MoonPh = 0, MoonIllum = 0;
    double AstroTwilight = 0, AstroDowning = 0;
};
ReadingCompletion CompleteReading(bool haveSite, double latitude, double longitude, double dateTime,
                                  double previousTwilight, double previousDowning);

// What an SQM-LE can report. A reply outside these ranges measures nothing (a
// garbled line, a failing meter) and is refused like a malformed one; the
// bounds are generous, so that no real meter's reading is ever refused.
// mag/arcsec²: about 22 under the darkest skies and a few units more with the
// meter covered; 0.00 or a little below it in daylight, and no sky is
// brighter than the Sun's own disc (about -11).
constexpr double kMinSkyBrightness = -15;
constexpr double kMaxSkyBrightness = 35;
// °C of the meter's own sensor: the coldest air ever measured is -89 °C, and
// electronics rated to +85 °C are dead long before +100.
constexpr double kMinTemperature = -100;
constexpr double kMaxTemperature = 100;
// Hz of its light-to-frequency sensor: about a MHz in full daylight.
constexpr int32_t kMaxFrequencyHz = 100000000;
// Its period in s and in counts of its period clock: in total darkness the
// period is a few minutes (a meter's dark calibration is about 150 s), so an
// hour is far beyond any sky; the counts of such a period fit a 32-bit
// counter at any clock a meter runs.
constexpr double kMaxPeriodSeconds = 3600;
constexpr int32_t kMaxCounts = 2000000000;

// One of those ranges, for a reply, an imported line or a stored reading alike.
struct TMeterRange {
    const char* What;  // "Sky brightness", translated where it is said
    double Min, Max;
    const char* Unit;  // " mag/arcsec²"
    // False for NaN too.
    constexpr bool Contains(double v) const { return v >= Min && v <= Max; }
    // "-15 to 35 mag/arcsec²"
    std::string Text() const;
};
inline constexpr TMeterRange kSkyBrightnessRange{N_("Sky brightness"), kMinSkyBrightness, kMaxSkyBrightness,
                                                 " mag/arcsec\u00b2"};
inline constexpr TMeterRange kFrequencyRange{N_("Frequency"), 0, kMaxFrequencyHz, " Hz"};
inline constexpr TMeterRange kCountsRange{N_("Period counts"), 0, kMaxCounts, ""};
inline constexpr TMeterRange kPeriodRange{N_("Period"), 0, kMaxPeriodSeconds, " s"};
inline constexpr TMeterRange kTemperatureRange{N_("Temperature"), kMinTemperature, kMaxTemperature, " \u00b0C"};

// Parse a meter line; false (and an error text) when it is not a complete
// reply of that kind or a value lies outside what a meter can report.
// Independent of the user's locale.
bool ParseReadingReply(const std::string& line, SqmReadingReply& out, std::string* error = nullptr);
// Throws std::invalid_argument when an item is not an integer.
bool ParseInfoReply(const std::string& line, SqmInfoReply& out);
