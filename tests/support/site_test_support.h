#pragma once
// Shared by the site tests. Always: texts of instants, community standard
// files written by hand. For the tests that draw (Qt linked): the SVG
// documents parsed. For the tests that link the data module and the meter
// simulator: the world of one site's acquisition, a fake clock and waits
// that advance it, recorders for the light, the view and the boxes; the
// database file, the data module, the meter simulator and the servers stay
// real.
#include <gtest/gtest.h>

#include <atomic>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/station/myutils.h"
#include "support/testsupport.h"

namespace sitetest {

constexpr double kSecond = 1.0 / 86400.0;
constexpr double kMinute = 1.0 / 1440.0;

// "YYYY-MM-DDTHH:mm:ss.fff" made here from the decoded parts.
inline std::string IsoMs(double dt) {
    const DateTimeParts p = DecodeDateTime(dt);
    char b[40];
    std::snprintf(b, sizeof b, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour, p.minute, p.second,
                  p.msec);
    return b;
}

inline std::string WriteFile(const std::filesystem::path& p, const std::string& content) {
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
}

inline const char* const kTitle10 = "Community Standard Skyglow Data Format 1.0";
inline const char* const kTitleDefinition = "Definition of the community standard for skyglow observations 1.0";
inline const char* const kTitleMonitoring = "Light Pollution Monitoring Data Format 1.0";
inline const char* const kSixColumns = "UTC Date & Time, Local Date & Time, Temperature, Counts, Frequency, MSAS";
inline const char* const kSixUnits = "YYYY-MM-DDTHH:mm:ss.fff;YYYY-MM-DDTHH:mm:ss.fff;Celsius;number;Hz;mag/arcsec^2";

// A community header of the given length: title, URL, a line count as
// declared (which need not be true), fillers, the position on line 9, the
// cover offset on line 21, then the columns, their units and the end.
inline std::vector<std::string> CommunityHeader(const std::string& title, size_t lines, const std::string& declared,
                                                const std::string& columns = kSixColumns,
                                                const std::string& offset = "0.00",
                                                const std::string& units = kSixUnits) {
    std::vector<std::string> h = {"# " + title, "# URL: http://www.darksky.org/measurements",
                                  "# Number of header lines: " + declared};
    while (h.size() < lines - 3) h.push_back("# Comment: line " + std::to_string(h.size() + 1));
    h[20] = "# SQM cover offset value: " + offset;
    h[8] = "# Position (lat, lon, elev(m)): 45.8664, 11.5264, 1000";
    h.insert(h.end(), {"# " + columns, "# " + units, "# END OF HEADER"});
    return h;
}

inline std::string JoinLines(const std::vector<std::string>& header, const std::vector<std::string>& data,
                             const char* eol) {
    std::string out;
    for (const auto& l : header) out += l + eol;
    for (const auto& l : data) out += l + eol;
    return out;
}

// A whole file of that header style and line end.
inline std::string CommunityText(const std::vector<std::string>& data, const char* eol,
                                 const std::string& title = kTitle10, size_t lines = 35,
                                 const std::string& declared = "35") {
    return JoinLines(CommunityHeader(title, lines, declared), data, eol);
}

// A data line of the six standard fields, local time UTC+1.
inline std::string SixFields(double utc, double temperature, double msas) {
    char b[160];
    std::snprintf(b, sizeof b, "%s;%s;%.1f;1234;56;%.2f", IsoMs(utc).c_str(), IsoMs(utc + 1.0 / 24).c_str(),
                  temperature, msas);
    return b;
}

}  // namespace sitetest

#if __has_include(<QImage>) && __has_include(<QXmlStreamReader>)
#include <QFile>
#include <QImage>
#include <QXmlStreamReader>

#include <set>

namespace sitetest {

struct TSvg {
    std::vector<std::vector<QPointF>> Polylines;
    std::vector<std::string> Texts;
    std::string Title;
    int Images = 0;
    bool HasText(const std::string& part) const {
        for (const auto& t : Texts)
            if (t.find(part) != std::string::npos) return true;
        return false;
    }
    // Polylines of exactly that many points.
    int LinesOf(size_t points) const {
        int n = 0;
        for (const auto& p : Polylines) n += p.size() == points;
        return n;
    }
};

// Parses the document; a malformed one fails the test.
inline TSvg ParseSvg(const std::filesystem::path& file) {
    QFile f(QString::fromStdString(file.string()));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file;
    QXmlStreamReader xml(&f);
    TSvg svg;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const QString name = xml.name().toString();
        if (name == "polyline") {
            std::vector<QPointF> points;
            for (const QString& pair : xml.attributes().value("points").toString().split(' ', Qt::SkipEmptyParts)) {
                const auto xy = pair.split(',');
                if (xy.size() == 2) points.emplace_back(xy[0].toDouble(), xy[1].toDouble());
            }
            svg.Polylines.push_back(points);
        } else if (name == "text") {
            svg.Texts.push_back(xml.readElementText(QXmlStreamReader::IncludeChildElements).toStdString());
        } else if (name == "title") {
            svg.Title = xml.readElementText().toStdString();
        } else if (name == "image") {
            ++svg.Images;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return svg;
}

// A picture read back as PNG; a blank or nearly blank one has few colours.
inline QImage LoadPng(const std::filesystem::path& file) {
    QImage image;
    EXPECT_TRUE(image.load(QString::fromStdString(file.string()), "PNG")) << file;
    return image.convertToFormat(QImage::Format_RGB32);
}
inline size_t DistinctColours(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
    return colours.size();
}

}  // namespace sitetest
#endif

#if __has_include("core/site/datamodule.h") && __has_include("tools/sqmle-sim/sqmsim.h")
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/site/acquisition.h"
#include "core/site/datamodule.h"
#include "core/station/errorlog.h"
#include "core/station/fbdb.h"
#include "core/site/siteactions.h"
#include "core/site/siterow.h"
#include "core/station/sqm.h"
#include "tools/sqmle-sim/sqmsim.h"

namespace sitetest {

using testsupport::ClosedPort;

// Read by the conversations' threads as a meter answers: atomic.
class FakeClock : public IClock {
public:
    std::atomic<double> now = 0;
    TZoneInfo zone;
    double NowLocal() override { return now; }
    TZoneInfo Zone() override { return zone; }
    void Advance(double seconds) { now += seconds * kSecond; }
};

class FakeTicker : public ITicker {
public:
    bool enabled = false;
    int period = 0;
    void Start(int periodMs) override {
        enabled = true;
        period = periodMs;
    }
    void Stop() override { enabled = false; }
};

// A pause that lets the fake clock run; anything else a test wants to
// happen meanwhile goes in during.
class FakeWait : public IWait {
public:
    explicit FakeWait(FakeClock& c) : clock(c) {}
    FakeClock& clock;
    int pauses = 0;
    std::function<void()> during;
    void Pause(int ms) override {
        ++pauses;
        clock.Advance(ms / 1000.0);
        if (during) during();
    }
};

// Boxes: every text kept; questions answered from a script. A question the
// test did not script fails it.
class ScriptedPrompt : public IPrompt {
public:
    std::vector<std::string> texts;
    std::deque<bool> answers;
    void Inform(const std::string& t) override { texts.push_back("information: " + t); }
    void Error(const std::string& t) override { texts.push_back("error: " + t); }
    bool Confirm(const std::string& t) override {
        texts.push_back("confirm: " + t);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << t;
            return false;
        }
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
};

class RecordingLight : public IStatusLight {
public:
    std::vector<TSiteState> history;
    std::optional<TSiteState> Last() const {
        return history.empty() ? std::nullopt : std::optional<TSiteState>(history.back());
    }
    void Show(TSiteState state) override { history.push_back(state); }
};

class RecordingView : public ISiteView {
public:
    int labels = 0, latest = 0, refreshes = 0;
    std::vector<bool> runStates;
    void SetDynamicLabels(double) override { ++labels; }
    void ShowLatestReading(const TSQM*) override { ++latest; }
    void RefreshLatestReadings() override { ++refreshes; }
    void ShowRunState(bool running) override { runStates.push_back(running); }
    std::vector<std::string> failures;  // why each failed tick failed
    void ReadingFailed(const std::string& why) override { failures.push_back(why); }
    int beeps = 0;
    void Beep() override { ++beeps; }
};

// A clock setter that moves the fake clock instead of the machine's.
class FakeClockSetter : public IClockSetter {
public:
    explicit FakeClockSetter(FakeClock& c) : clock(c) {}
    FakeClock& clock;
    std::function<void(FakeClock&, double)> onSet;  // what setting does to the fake clock
    int calls = 0;
    bool SetClockUtc(double utc) override {
        ++calls;
        if (onSet) onSet(clock, utc);
        return true;
    }
};

class FakePinger : public IPinger {
public:
    int Ping(const std::string&, int) override { return 8; }
};

struct TSiteFields {
    std::string Name = "Roof";
    int Method = 0;
    int Interval = 10;
    const char* Start = nullptr;  // "hh.mm" UTC
    const char* Stop = nullptr;
    const char* Latitude = nullptr;
    const char* Longitude = nullptr;
    int DayReading = 0;
    const char* DayInterval = "10";
    int Timeout = 1;
    const char* Code = nullptr;
    int AutoUpload = 1;
    double Offset = 0;
    bool PastTheRules = false;  // a row the site rules refuse
};

// A program folder with its own database and data module, and a simulator.
class SiteFixture : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramDir(dir.Str());
        testsupport::CopyPristineDb(dir.Path());
        auto clockSetter = std::make_unique<FakeClockSetter>(clock);
        setter = clockSetter.get();
        data.SetTimeServices(std::make_unique<FakePinger>(), std::move(clockSetter));
        ASSERT_TRUE(data.DataModuleCreate());
        sim.Start();
        Settings(0, 0, 0, 0, 20);
    }

    fb::Database& Db() { return data.dbKALO; }

    void Exec(const std::string& sql) {
        fb::Transaction tr(Db());
        tr.Start();
        fb::Query q(tr);
        q.SetSQL(sql);
        q.ExecSQL();
        tr.Commit();
    }
    void Settings(int internetTime, int syncClock, int upload, int uploadMode, int syncFreq) {
        Exec("UPDATE SETTINGS SET SET_USEINTERTETTIME=" + std::to_string(internetTime) +
             ", SET_SYNCLOCK=" + std::to_string(syncClock) + ", SET_UPLOADDATA=" + std::to_string(upload) +
             ", SET_UPLOADMODE=" + std::to_string(uploadMode) + ", SET_SYNCFREQ=" + std::to_string(syncFreq) +
             " WHERE SET_ID=1");
    }
    static std::string Sql(const char* v) { return v ? v : "NULL"; }
    static std::string TimeSql(const char* hhmm) {
        if (!hhmm) return "NULL";
        return "'1899-12-30 " + std::string(hhmm).replace(2, 1, ":") + ":00'";
    }
    // Added as every shell adds a site, through the site actions; a row the
    // rules refuse (PastTheRules, as an older program may have stored it) is
    // written as it is, and the rules must indeed refuse it.
    int AddSite(const TSiteFields& s, int port = -1) {
        auto number = [](const char* v) { return v ? fb::Value{std::stod(v)} : fb::Value{}; };
        auto time = [](const char* hhmm) {
            return hhmm ? fb::Value{fb::DateTime{EncodeTime(std::stoi(hhmm), std::stoi(hhmm + 3), 0)}} : fb::Value{};
        };
        const TSiteActions::TSiteFields fields = {
            {"SIT_NAME", s.Name},
            {"SIT_SQMHOST", std::string("127.0.0.1")},
            {"SIT_SQMPORT", int64_t{port < 0 ? sim.Port() : port}},
            {"SIT_TIMEOUT", int64_t{s.Timeout}},
            {"SIT_ACQUIREMODE", int64_t{s.Method}},
            {"SIT_INTERVAL", int64_t{s.Interval}},
            {"SIT_STARTTIME", time(s.Start)},
            {"SIT_STOPTIME", time(s.Stop)},
            {"SIT_LATIT", number(s.Latitude)},
            {"SIT_LONG", number(s.Longitude)},
            {"SIT_DAYREADING", int64_t{s.DayReading}},
            {"SIT_DAYINTERVAL", s.DayInterval ? fb::Value{int64_t{std::stoi(s.DayInterval)}} : fb::Value{}},
            {"SIT_CODE", s.Code ? fb::Value{std::string(s.Code)} : fb::Value{}},
            {"SIT_AUTOUPLOAD", int64_t{s.AutoUpload}},
            {"SIT_OFFSET", s.Offset},
            {"SIT_TIMEZONE", int64_t{0}},
        };
        fb::Transaction tr(Db());
        tr.Start();
        if (!s.PastTheRules) {
            const int id = TSiteActions::AddSite(tr, fields, clock.zone);
            tr.Commit();
            return id;
        }
        EXPECT_THROW(TSiteActions::AddSite(tr, fields, clock.zone), TSiteRules::TSiteRefusal) << s.Name;
        tr.Rollback();
        tr.Start();
        std::string names = "SIT_ID", params = ":SIT_ID";
        for (const auto& [name, value] : fields) {
            names += ", " + name;
            params += ", :" + name;
        }
        const int id = TSiteRules::NextSiteId(tr);
        fb::Query q(tr);
        q.SetSQL("INSERT INTO SQMSITES (" + names + ") VALUES (" + params + ")");
        q.SetInteger("SIT_ID", id);
        for (const auto& [name, value] : fields) q.SetParam(name, value);
        q.ExecSQL();
        tr.Commit();
        return id;
    }

    struct TStored {
        std::string Code;
        double Time;
        int State;
        int Syncro;
        int Uploaded;
        double Value, Temperature, Offset;
    };
    std::vector<TStored> Stored(int site) {
        fb::Transaction tr(Db());
        tr.Start();
        fb::Query q(tr);
        q.SetSQL("SELECT REA_CODE, REA_DATETIME, REA_STATE, REA_SYNCRO, REA_UPLOADED, REA_SQMVALUE, REA_SQMTEMP, "
                 "REA_SQMOFFSET FROM READINGS WHERE REA_SITE=" + std::to_string(site) + " ORDER BY REA_DATETIME");
        q.Open();
        std::vector<TStored> out;
        for (; !q.Eof(); q.Next())
            out.push_back({Trim(q.Fields(0).AsString()), q.Fields(1).AsDateTime(),
                           static_cast<int>(q.Fields(2).AsInteger()), static_cast<int>(q.Fields(3).AsInteger()),
                           static_cast<int>(q.Fields(4).AsInteger()), q.Fields(5).AsDouble(), q.Fields(6).AsDouble(),
                           q.Fields(7).AsDouble()});
        q.Close();
        tr.Commit();
        return out;
    }

    std::vector<std::string> LogLines(const std::string& siteName) {
        std::vector<std::string> lines;
        std::istringstream in(testsupport::ReadFile(TErrorLog::Folder() + "/" + TErrorLog::FileNameFor(siteName)));
        for (std::string l; std::getline(in, l);) {
            if (!l.empty() && l.back() == '\r') l.pop_back();
            if (!l.empty()) lines.push_back(l);
        }
        return lines;
    }

    // One site's ports and acquisition.
    struct TSite {
        TSite(SiteFixture& f, int id)
            : source(f.Db(), id),
              ports{f.clock, ticker, f.wait, prompt, view, light, f.data, source, f.stations, f.Db(), f.common},
              acq(ports) {}
        FakeTicker ticker;
        ScriptedPrompt prompt;
        RecordingView view;
        RecordingLight light;
        TDbSiteSource source;
        TSitePorts ports;
        TAcquisition acq;
    };
    // Ticks every 30 s of the fake clock for the given span.
    void Run(TSite& s, double minutes) {
        const int ticks = static_cast<int>(std::llround(minutes * 2));
        for (int i = 0; i < ticks; ++i) {
            clock.Advance(30);
            if (s.ticker.enabled) s.acq.Tick();
        }
    }
    // A site started, run for the span and stopped.
    void RunSite(int site, double minutes) {
        TSite s(*this, site);
        s.acq.StartOrStop();
        Run(s, minutes);
        s.acq.Stop();
    }

    testsupport::TempDir dir;
    FakeClock clock;
    FakeWait wait{clock};
    TData data;
    FakeClockSetter* setter = nullptr;
    TStationFactory stations;
    TSiteCommons common;  // the program's: Internet time, meters, night files
    SqmSimulator sim;
};

}  // namespace sitetest
#endif
