#include "core/site/nightfile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "core/station/errorlog.h"
#include "core/station/fbdb.h"
#include "core/station/i18n.h"
#include "core/station/lastresort.h"
#include "core/station/myutils.h"
#include "core/station/sqm.h"
#include "core/station/tcpclient.h"

namespace fs = std::filesystem;

namespace {

// The largest size a number of the file may have: every digit exact in a
// double, and six fields of the widest form still make a line well within its
// 150 characters (51 for the times and separators, at most 20 for a number).
constexpr double kMaxWritable = 1e15;

// Plain decimals, "." under every locale (to_chars never looks at it); false
// for what cannot be written so: NaN, infinities and numbers from kMaxWritable.
bool PlainDecimal(double v, int decimals, std::string& out) {
    if (!std::isfinite(v) || std::fabs(v) >= kMaxWritable) return false;
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    if (res.ec != std::errc()) return false;
    std::string s(buf, res.ptr);
    // A value that rounds to zero (negative zero too) is written without its sign.
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    out = std::move(s);
    return true;
}

// A field of a data line, or std::out_of_range naming it.
std::string Field(double v, int decimals, const char* name) {
    std::string s;
    if (!PlainDecimal(v, decimals, s)) {
        char shown[32];
        const auto res = std::to_chars(shown, shown + sizeof shown, v, std::chars_format::general, 6);
        const std::string text = res.ec == std::errc() ? std::string(shown, res.ptr) : std::string("?");
        throw std::out_of_range(std::string(name) + " " + text + " cannot be written in a night file");
    }
    return s;
}

std::string Fixed(double v, int decimals) {
    std::string s;
    return PlainDecimal(v, decimals, s) ? s : std::string();
}

// Up to six decimals, without trailing zeros: "45.46", "1045".
std::string Trimmed(double v) {
    std::string s = Fixed(v, 6);
    if (s.find('.') != std::string::npos) {
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == '.') s.pop_back();
    }
    return s;
}

std::string OrEmpty(const std::optional<double>& v) { return v ? Trimmed(*v) : std::string(); }

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

bool ForbiddenInName(unsigned char c) {
    return c < 32 || c == 127 || std::strchr("/\\:*?\"<>|", c) != nullptr;
}

// One exchange on a connection of its own; "" when the meter does not answer.
std::string AskMeter(const std::string& host, int port, int timeoutMs, const char* command) {
    try {
        TcpClient client;
        client.Host = host;
        client.Port = port;
        client.ReadTimeoutMs = timeoutMs;
        client.Connect(timeoutMs);
        client.Write(std::string(command) + "\r\n");
        std::string line = client.ReadLn();
        client.Disconnect();
        return line;
    } catch (const std::exception&) {
        return std::string();
    }
}

std::optional<double> SiteElevation(fb::Database& db, int siteId) {
    const bool wasOpen = db.Connected();
    if (!wasOpen) db.Open();
    std::optional<double> out;
    {
        fb::Transaction tr(db, fb::Isolation::ReadCommitted);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL("SELECT SIT_ALT FROM SQMSITES WHERE SIT_ID=" + std::to_string(siteId));
        q.Open();
        if (!q.Eof() && !q.Fields(0).IsNull()) out = q.Fields(0).AsDouble();
        q.Close();
        tr.Commit();
    }
    if (!wasOpen) db.Close();
    return out;
}

void WriteAll(int fd, const std::string& data) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "write");
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

// True when the log took the line.
bool LogFailure(const TSiteRow& site, double logTime, const std::string& path, const std::string& why) {
    try {
        return TErrorLog().WriteError(
            FormatLogTime(logTime) + " - Night File Exception - " + path + ": " + OneLine(why), site.Name);
    } catch (...) {
        // Not even the log: the reading is stored all the same.
        LastResortLine("the site log (" + why + ")");
        return false;
    }
}

// The watchers, the latest alive hears the news.
struct TNightWatchState {
    std::mutex lock;
    std::vector<std::pair<const TNightFileWatch*, TNightFileWatcher>> watchers;
};

TNightWatchState& WatchState() {
    static TNightWatchState state;
    return state;
}

void Tell(const TNightFileNews& news) {
    TNightFileWatcher watcher;
    {
        std::lock_guard<std::mutex> hold(WatchState().lock);
        if (!WatchState().watchers.empty()) watcher = WatchState().watchers.back().second;
    }
    if (watcher) watcher(news);  // outside the lock: it may write a log of its own
}

std::string Replaced(std::string text, const std::string& mark, const std::string& by) {
    const size_t at = text.find(mark);
    return at == std::string::npos ? text : text.replace(at, mark.size(), by);
}

bool ParseNumber(const std::string& s, double& out) {
    if (s.empty() || s.find_first_not_of("-+0123456789.") != std::string::npos) return false;
    const char* b = s.data() + (s[0] == '+' ? 1 : 0);
    const auto res = std::from_chars(b, s.data() + s.size(), out, std::chars_format::fixed);
    return res.ec == std::errc() && res.ptr == s.data() + s.size() && std::isfinite(out);
}

}  // namespace

TNightFileWatch::TNightFileWatch(TNightFileWatcher watcher) {
    std::lock_guard<std::mutex> hold(WatchState().lock);
    WatchState().watchers.emplace_back(this, std::move(watcher));
}

TNightFileWatch::~TNightFileWatch() {
    std::lock_guard<std::mutex> hold(WatchState().lock);
    std::erase_if(WatchState().watchers, [this](const auto& w) { return w.first == this; });
}

std::string DescribeNightFileNews(const TNightFileNews& news) {
    if (news.Waiting)
        return Replaced(Replaced(Tr("the night file %1 cannot be written (%2): its lines wait until it can"), "%1",
                                 Printable(news.Path)),
                        "%2", Printable(OneLine(news.Reason)));
    return Replaced(Replaced(Tr("the night file %1 is written again, with the %2 lines that waited"), "%1",
                             Printable(news.Path)),
                    "%2", std::to_string(news.Lines));
}

std::string NightFileSafeName(const std::string& siteName) {
    std::string out = siteName;
    for (char& c : out)
        if (ForbiddenInName(static_cast<unsigned char>(c))) c = '_';
    if (out.empty())
        out = "_";
    else if (out[0] == '.')  // a hidden file, or "." and ".." themselves
        out[0] = '_';
    // The folder is named so too, and the file adds "YYYYMMDD_120000_" and ".dat".
    return BoundedNamePart(out, 255 - 16 - 4);
}

std::string NightFileName(const std::string& siteName, double local) {
    // The night of a local time starts at the last local noon.
    const DateTimeParts p = DecodeDateTime(local - 0.5);
    char date[16];
    std::snprintf(date, sizeof date, "%04d%02d%02d", p.year, p.month, p.day);
    return std::string(date) + "_120000_" + NightFileSafeName(siteName) + ".dat";
}

std::string NightFilePath(const std::string& siteName, double local) {
    return ProgramPath("NightFiles/" + NightFileSafeName(siteName) + "/" + NightFileName(siteName, local));
}

std::string EscapeControl(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 32 || c >= 127) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out;
}

std::string AsciiOnly(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 32 && c < 127) {
            out += text[i];
        } else {
            out += '?';
            // The continuation bytes of a UTF-8 sequence make no second mark.
            if (c >= 0xC0)
                while (i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) ++i;
        }
    }
    return out;
}

std::string FormatNightTime(double dt) {
    // Years 1 to 9999 only: four digits, and the calendar of the date-time scale.
    if (!std::isfinite(dt) || dt < -693593.0 || dt >= 2958466.0 - 1.0 / 86400000.0)
        throw std::out_of_range("a time outside the years 1 to 9999 cannot be written in a night file");
    const DateTimeParts p = DecodeDateTime(dt);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second, p.msec);
    return buf;
}

std::string FormatNightRow(const TNightRow& r) {
    return FormatNightTime(r.Utc) + ";" + FormatNightTime(r.Local) + ";" + Field(r.Temperature, 1, "temperature") +
           ";" + Field(r.Counts, 0, "counts") + ";" + Field(r.Frequency, 0, "frequency") + ";" +
           Field(r.Msas, 2, "sky brightness");
}

std::vector<std::string> NightFileHeaderLines(const TNightFileHeader& h) {
    const std::string position = OrEmpty(h.Latitude) + ", " + OrEmpty(h.Longitude) + ", " + OrEmpty(h.Elevation);
    std::vector<std::string> lines = {
        "# Community Standard Skyglow Data Format 1.0",
        "# URL: https://www.darksky.org/wp-content/uploads/bsk-pdf-manager/47_SKYGLOW_DEFINITIONS.PDF",
        "# Number of header lines: " + std::to_string(kNightFileHeaderLines),
        "# This data is released under the following license: ODbL 1.0 "
        "http://opendatacommons.org/licenses/odbl/summary/",
        "# Device type: SQM-LE",
        "# Instrument ID: " + AsciiOnly(h.InstrumentId),
        "# Data supplier: " + AsciiOnly(h.DataSupplier),
        "# Location name: " + AsciiOnly(h.LocationName),
        "# Position (lat, lon, elev(m)): " + position,
        "# Local timezone: " + AsciiOnly(h.TimeZoneName),
        "# Time Synchronization: " + AsciiOnly(h.TimeSynchronization),
        "# Moving / Stationary position: STATIONARY",
        "# Moving / Fixed look direction: FIXED",
        "# Number of channels: 1",
        "# Filters per channel: HOYA CM-500",
        "# Measurement direction per channel: 0., 0.",
        "# Field of view (degrees): 20",
        "# Number of fields per line: 6",
        "# SQM serial number: " + AsciiOnly(h.Serial),
        "# SQM firmware version: " + AsciiOnly(h.Firmware),
        "# SQM cover offset value: " + Fixed(h.CoverOffset, 2),
        "# SQM readout test ix: " + EscapeControl(h.ReplyIx),
        "# SQM readout test rx: " + EscapeControl(h.ReplyRx),
        "# SQM readout test cx: " + EscapeControl(h.ReplyCx),
        "# Comment: MSAS is the meter's value, without the cover offset",
        "# Comment: ",
        "# Comment: ",
        "# Comment: ",
        "# Comment: Captured with " + AsciiOnly(h.Program),
        "# blank line 30",
        "# blank line 31",
        "# blank line 32",
        "# UTC Date & Time, Local Date & Time, Temperature, Counts, Frequency, MSAS",
        "# YYYY-MM-DDTHH:mm:ss.fff;YYYY-MM-DDTHH:mm:ss.fff;Celsius;number;Hz;mag/arcsec^2",
        "# END OF HEADER",
    };
    for (std::string& l : lines)
        if (l.size() > kNightFileMaxLine) l.resize(kNightFileMaxLine);
    return lines;
}

std::string LocalTimeZoneName(int siteTimeZone) {
    auto zoneOfPath = [](std::string s) {
        const size_t at = s.find("zoneinfo/");
        return at == std::string::npos ? s : s.substr(at + 9);
    };
    if (const char* tz = std::getenv("TZ"); tz && *tz) {
        std::string s = tz;
        if (s[0] == ':') s.erase(0, 1);
        s = Trim(zoneOfPath(s));
        if (!s.empty()) return s;
    }
    {
        std::ifstream in("/etc/timezone");
        std::string line;
        if (in && std::getline(in, line) && !Trim(line).empty()) return Trim(line);
    }
    std::error_code ec;
    const fs::path target = fs::read_symlink("/etc/localtime", ec);
    if (!ec) {
        const std::string s = target.string();
        if (s.find("zoneinfo/") != std::string::npos && !zoneOfPath(s).empty()) return zoneOfPath(s);
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "UTC%+03d", siteTimeZone);
    return buf;
}

std::string TimeSynchronizationText(fb::Database& db) {
    const bool wasOpen = db.Connected();
    if (!wasOpen) db.Open();
    bool internetTime = false;
    std::string servers;
    {
        fb::Transaction tr(db, fb::Isolation::ReadCommitted);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL("SELECT SET_USEINTERTETTIME FROM SETTINGS WHERE SET_ID=1");
        q.Open();
        internetTime = !q.Eof() && !q.Fields(0).IsNull() && q.Fields(0).AsInteger() == 1;
        q.Close();
        if (internetTime) {
            q.SetSQL("SELECT NTP_HOST FROM NTPSERVERS ORDER BY NTP_ORDER");
            q.Open();
            for (; !q.Eof(); q.Next()) {
                const std::string host = Trim(q.Fields(0).AsString());
                if (host.empty()) continue;
                if (!servers.empty()) servers += ", ";
                servers += host;
            }
            q.Close();
        }
        tr.Commit();
    }
    if (!wasOpen) db.Close();
    return servers.empty() ? "PC clock" : servers;
}

TMeterReplies AskMeterReplies(const std::string& host, int port, int timeoutMs) {
    return {AskMeter(host, port, timeoutMs, "ix"), AskMeter(host, port, timeoutMs, "rx"),
            AskMeter(host, port, timeoutMs, "cx")};
}

bool TNightFileWriter::BeginsFile(const TSiteRow& site, double local) {
    std::string path;
    try {
        path = NightFilePath(site.Name, local);
    } catch (const std::exception&) {
        return false;  // no file either way
    }
    if (path == headerPath_) return true;  // begun, but not written yet
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec || size == 0;
}

TNightFileWriter::TNightFileWriter(fb::Database& db, TNightFileOptions options)
    : db_(db), options_(std::move(options)) {}

TNightFileHeader TNightFileWriter::BeginHeader(const TSiteRow& site, const TSQM& station) {
    const TNightFileOptions& options = options_;
    TNightFileHeader h;
    h.InstrumentId = site.Code.empty() ? site.Name : site.Code;
    h.DataSupplier = options.DataSupplier;
    h.Program = options.Program;
    h.LocationName = site.Name;
    h.Latitude = site.Latitude;
    h.Longitude = site.Longitude;
    // A part the database cannot give stays empty: the readings matter more.
    try {
        h.Elevation = SiteElevation(db_, site.Id);
    } catch (const std::exception&) {
    }
    try {
        h.TimeSynchronization = TimeSynchronizationText(db_);
    } catch (const std::exception&) {
    }
    h.TimeZoneName = LocalTimeZoneName(site.TimeZone);
    h.CoverOffset = station.Offset;

    // The meter the reading came from, with the site's timeout.
    std::string host = site.Host;
    int port = site.Port;
    int timeoutMs = (site.TimeoutSeconds > 0 ? site.TimeoutSeconds : 10) * 1000;
    if (station.Client) {
        host = station.Client->Host;
        port = station.Client->Port;
        timeoutMs = station.Client->ReadTimeoutMs;
    }
    TMeterReplies replies;
    if (replies_)
        replies = *replies_;
    else if (AskMeter)
        replies = AskMeterReplies(host, port, timeoutMs);
    h.ReplyIx = replies.Ix;
    h.ReplyRx = replies.Rx;
    h.ReplyCx = replies.Cx;

    SqmInfoReply info{station.Protocol, station.Model, station.Feature, station.Serial};
    try {
        ParseInfoReply(h.ReplyIx, info);
    } catch (const std::exception&) {
    }
    if (info.Serial != 0 || info.Protocol != 0) {
        h.Serial = std::to_string(info.Serial);
        h.Firmware = std::to_string(info.Protocol) + "-" + std::to_string(info.Model) + "-" + std::to_string(info.Feature);
    }
    return h;
}

namespace {

long long Ms(double dt) { return std::llround(dt * 86400000.0); }

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

void Remove(std::vector<std::string>& v, const std::string& s) { v.erase(std::remove(v.begin(), v.end(), s), v.end()); }

// What a file already holds: where its last whole line ends and the UTC
// times of its data lines.
struct TFileEnd {
    off_t Complete = 0;
    std::set<long long> Times;
    std::optional<long long> LastMs;
    // A reading at ms is one of the file's lines. The file writes its time to
    // the millisecond from the meter's clock, the database keeps it to 0.1 ms
    // and gives it back as a date-time: rounded apart, one reading can read
    // 1 ms off. Two readings of a site are never that close (one conversation
    // with the meter at a time, a key per second).
    bool Holds(long long ms) const { return Times.count(ms - 1) + Times.count(ms) + Times.count(ms + 1) > 0; }
};

// A night is a few hundred kilobytes; a file far larger is none of ours to read.
constexpr off_t kMaxInspected = 64 << 20;

TFileEnd InspectFile(int fd, off_t size) {
    TFileEnd end;
    end.Complete = size;
    if (size > kMaxInspected) return end;
    std::string content(static_cast<size_t>(size), '\0');
    size_t got = 0;
    while (got < content.size()) {
        const ssize_t n = ::pread(fd, content.data() + got, content.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::system_error(errno, std::generic_category(), "read");
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    content.resize(got);
    // Only whole lines count: a line torn by a crash goes.
    const size_t lastEnd = content.rfind("\r\n");
    end.Complete = lastEnd == std::string::npos ? 0 : static_cast<off_t>(lastEnd + 2);
    bool headerEnded = false;
    for (size_t at = 0; at < static_cast<size_t>(end.Complete);) {
        const size_t eol = content.find("\r\n", at);
        const std::string line = content.substr(at, eol - at);
        at = eol + 2;
        if (line == "# END OF HEADER") headerEnded = true;
        if (line.empty() || line[0] == '#') continue;
        double utc = 0;
        if (ParseNightTime(line.substr(0, line.find(';')), utc)) {
            end.Times.insert(Ms(utc));
            end.LastMs = Ms(utc);
        }
    }
    // A header that never got its end (and no line after it) is begun again.
    if (!headerEnded && !end.LastMs && end.Complete > 0 && content[0] == '#') end.Complete = 0;
    return end;
}

void LogLine(const TSiteRow& site, const std::string& line) {
    try {
        WriteErrorLog(line, site.Name);
    } catch (...) {
        LastResortLine("the site log (" + line + ")");
    }
}

}  // namespace

std::vector<TNightFileWriter::TLine> TNightFileWriter::FromDatabase(const TSiteRow& site, const TLine& first,
                                                                    long long afterMs) {
    // The night of the first line, from its local noon, in UTC.
    const double zone = first.Utc - first.Local;
    const double nightStart = std::floor(first.Local - 0.5) + 0.5 + zone;
    const double from = std::max(nightStart, static_cast<double>(afterMs) / 86400000.0 - 1.0 / 86400.0);
    std::vector<TLine> out;
    const bool wasOpen = db_.Connected();
    if (!wasOpen) db_.Open();
    {
        fb::Transaction tr(db_, fb::Isolation::ReadCommitted);
        tr.Start();
        fb::Query q(tr);
        // Only the meter's own readings: imported ones never came through here.
        q.SetSQL("SELECT REA_DATETIME, REA_SQMTEMP, REA_SQMVALUE FROM READINGS WHERE REA_SITE=:SITE AND "
                 "REA_DATETIME>=:FROM AND REA_DATETIME<:UNTIL AND REA_ORIGIN='K' ORDER BY REA_DATETIME");
        q.SetInteger("SITE", site.Id);
        q.SetDateTime("FROM", from);
        q.SetDateTime("UNTIL", first.Utc);
        q.Open();
        for (; !q.Eof(); q.Next()) {
            TNightRow r;
            r.Utc = q.Fields(0).AsDateTime();
            r.Local = r.Utc - zone;
            r.Temperature = q.Fields(1).IsNull() ? 0 : q.Fields(1).AsDouble();
            r.Msas = q.Fields(2).IsNull() ? 0 : q.Fields(2).AsDouble();
            const long long ms = Ms(r.Utc);
            // The file's last line itself may read 1 ms later from here (see TFileEnd::Holds).
            if (ms <= afterMs + 1 || ms >= first.UtcMs - 1) continue;
            try {
                out.push_back({first.Path, ms, r.Utc, r.Local, FormatNightRow(r)});
            } catch (const std::out_of_range&) {
                // As at the time: a value no line can hold stays out of the file.
            }
        }
        q.Close();
        tr.Commit();
    }
    if (!wasOpen) db_.Close();
    return out;
}

void TNightFileWriter::WriteFile(const std::string& path, std::vector<TLine> lines, const TSiteRow& site,
                                 const TSQM& station) {
    const fs::path file(path);
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (ec) Fail("cannot make the folder " + file.parent_path().string() + ": " + ec.message());
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0664);
    if (fd < 0) Fail(std::string("cannot open the file: ") + std::strerror(errno));
    struct TClose {
        int fd;
        ~TClose() {
            if (fd >= 0) ::close(fd);
        }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) Fail(std::string("cannot examine the file: ") + std::strerror(errno));
    off_t size = st.st_size;
    if (size > 0 && !Contains(known_, path)) {
        // A file this run has not written yet, or one that fell behind: what
        // it holds already is not written twice, and what it lacks of the
        // night (a failure before a restart) comes from the database.
        const TFileEnd end = InspectFile(fd, size);
        if (end.Complete != size) {
            if (::ftruncate(fd, end.Complete) != 0) Fail(std::string("cannot cut a torn line: ") + std::strerror(errno));
            size = end.Complete;
        }
        lines.erase(std::remove_if(lines.begin(), lines.end(), [&end](const TLine& l) { return end.Holds(l.UtcMs); }),
                    lines.end());
        if (end.LastMs && !lines.empty()) {
            std::vector<TLine> missing;
            try {
                missing = FromDatabase(site, lines.front(), *end.LastMs);
            } catch (const std::exception&) {
                // The database cannot tell: the lines at hand still go in.
            }
            std::erase_if(missing, [&end](const TLine& l) { return end.Holds(l.UtcMs); });
            lines.insert(lines.begin(), missing.begin(), missing.end());
        }
    }
    if (lines.empty()) {
        known_.push_back(path);
        return;
    }
    std::string data;
    // A night already begun (a restart) only gets the new lines.
    if (size == 0) {
        // Asked of the meter once for a file that keeps failing, not at every reading.
        if (headerPath_ != path) {
            headerText_.clear();
            for (const std::string& l : NightFileHeaderLines(BeginHeader(site, station))) headerText_ += l + "\r\n";
            headerPath_ = path;
        }
        data = headerText_;
    }
    for (const TLine& l : lines) data += l.Text + "\r\n";
    // One write: the header never stands without the line that began it; a
    // write cut short is taken back, so no half line stays.
    try {
        WriteAll(fd, data);
    } catch (...) {
        (void)::ftruncate(fd, size);
        throw;
    }
    closer.fd = -1;
    if (::close(fd) != 0) Fail(std::string("cannot close the file: ") + std::strerror(errno));
    known_.push_back(path);
    headerPath_.clear();
}

void TNightFileWriter::Append(const TSiteRow& site, const TSQM& station, double zoneOffset, double logTime) {
    lastPath_.clear();
    TLine line;
    try {
        TNightRow row;
        row.Utc = station.DateTime;
        row.Local = station.DateTime - zoneOffset;
        row.Temperature = station.Temperature;
        row.Counts = station.Counts;
        row.Frequency = station.Frequency;
        row.Msas = station.SQMValue;
        lastPath_ = NightFilePath(site.Name, row.Local);
        line = {lastPath_, Ms(row.Utc), row.Utc, row.Local, FormatNightRow(row)};
    } catch (const std::exception& e) {
        LogFailure(site, logTime, lastPath_, std::string("the reading is not written: ") + e.what());
        return;
    }
    waiting_.push_back(std::move(line));
    if (waiting_.size() > kMaxWaiting) waiting_.erase(waiting_.begin());

    // Each file with its waiting lines in time order; the files in the order they fell behind.
    std::vector<std::string> paths;
    for (const TLine& l : waiting_)
        if (!Contains(paths, l.Path)) paths.push_back(l.Path);
    for (const std::string& path : paths) {
        std::vector<TLine> lines;
        for (const TLine& l : waiting_)
            if (l.Path == path) lines.push_back(l);
        std::stable_sort(lines.begin(), lines.end(), [](const TLine& a, const TLine& b) { return a.UtcMs < b.UtcMs; });
        const size_t waited = lines.size() - (path == lastPath_ ? 1 : 0);
        try {
            WriteFile(path, std::move(lines), site, station);
            std::erase_if(waiting_, [&path](const TLine& l) { return l.Path == path; });
            if (Contains(failing_, path)) {
                Remove(failing_, path);
                LogLine(site, FormatLogTime(logTime) + " - Night File - " + path + ": written again, with the " +
                                  std::to_string(waited) + " line" + (waited == 1 ? "" : "s") + " that waited");
                if (Contains(unlogged_, path)) {
                    Remove(unlogged_, path);
                    Tell({false, path, {}, waited});
                }
            }
        } catch (const std::exception& e) {
            Remove(known_, path);
            if (!Contains(failing_, path)) {
                failing_.push_back(path);
                if (!LogFailure(site, logTime, path, std::string(e.what()) + " (its lines wait until it can be written)")) {
                    // Said nowhere else: the owner says it, once.
                    unlogged_.push_back(path);
                    Tell({true, path, e.what(), 0});
                }
            }
        } catch (...) {
            Remove(known_, path);
            if (!Contains(failing_, path)) {
                failing_.push_back(path);
                LogFailure(site, logTime, path, "Unknown error");
            }
        }
    }
}

bool ParseNightTime(const std::string& text, double& dt) {
    // Exactly YYYY-MM-DDTHH:mm:ss.fff
    static constexpr const char* kShape = "dddd-dd-ddTdd:dd:dd.ddd";
    if (text.size() != std::strlen(kShape)) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
    }
    auto num = [&](size_t at, size_t n) { return std::stoi(text.substr(at, n)); };
    const int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2), s = num(17, 2),
              ms = num(20, 3);
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return false;
    dt = EncodeDateTime(y, mo, d, h, mi, s, ms);
    return DecodeDateTime(dt).day == d;  // no 31 February
}

TNightFileContents ParseNightFile(const std::string& content) {
    TNightFileContents out;
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < content.size()) {
        const size_t lf = content.find('\n', at);
        const std::string where = "line " + std::to_string(lines.size() + 1);
        if (lf == std::string::npos) Fail(where + " has no line end");
        if (lf == at || content[lf - 1] != '\r') Fail(where + " does not end in CR LF");
        std::string line = content.substr(at, lf - 1 - at);
        if (line.empty()) Fail(where + " is blank");
        if (line.find('\r') != std::string::npos) Fail(where + " holds a CR");
        if (line.find('\t') != std::string::npos) Fail(where + " holds a tab");
        if (line.size() > kNightFileMaxLine) Fail(where + " is longer than 150 characters");
        for (const char c : line)
            if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
                Fail(where + " is not plain ASCII");
        lines.push_back(std::move(line));
        at = lf + 1;
    }
    size_t end = 0;
    while (end < lines.size() && lines[end] != "# END OF HEADER") {
        if (lines[end][0] != '#') Fail("line " + std::to_string(end + 1) + " is in the header but no comment");
        ++end;
    }
    if (end == lines.size()) Fail("no \"# END OF HEADER\"");
    out.Header.assign(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(end) + 1);
    const std::string countKey = "# Number of header lines: ";
    if (out.Header.size() < 3 || out.Header[2].rfind(countKey, 0) != 0 ||
        out.Header[2].substr(countKey.size()) != std::to_string(out.Header.size()))
        Fail("the header has " + std::to_string(out.Header.size()) + " lines, not as many as line 3 says");
    for (size_t i = end + 1; i < lines.size(); ++i) {
        const std::string where = "line " + std::to_string(i + 1);
        std::vector<std::string> f;
        size_t from = 0;
        for (;;) {
            const size_t semi = lines[i].find(';', from);
            f.push_back(lines[i].substr(from, semi == std::string::npos ? std::string::npos : semi - from));
            if (semi == std::string::npos) break;
            from = semi + 1;
        }
        if (f.size() != 6) Fail(where + " has " + std::to_string(f.size()) + " fields, not 6");
        TNightRow r;
        if (!ParseNightTime(f[0], r.Utc)) Fail(where + ": no UTC time '" + f[0] + "'");
        if (!ParseNightTime(f[1], r.Local)) Fail(where + ": no local time '" + f[1] + "'");
        double* numbers[] = {&r.Temperature, &r.Counts, &r.Frequency, &r.Msas};
        for (int k = 0; k < 4; ++k)
            if (!ParseNumber(f[k + 2], *numbers[k])) Fail(where + ": field " + std::to_string(k + 3) + " '" + f[k + 2] + "' is no number");
        out.Rows.push_back(r);
        out.Fields.push_back(std::move(f));
    }
    return out;
}

TNightFileContents ReadNightFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail("cannot open " + path);
    return ParseNightFile(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}
