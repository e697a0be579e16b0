#include "core/site/communityfile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <thread>

#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "core/station/readingastronomy.h"
#include "core/station/readingstore.h"
#include "core/site/readingwindow.h"
#include "core/station/sqm.h"
#include "core/astronomy/vsop.h"

namespace {

// The titles line 1 carries, one per version of the definition in use.
constexpr const char* kTitles[] = {
    "Community Standard Skyglow Data Format 1.0",
    "Definition of the community standard for skyglow observations 1.0",
    "Light Pollution Monitoring Data Format 1.0",
};
constexpr const char* kHeaderEnd = "# END OF HEADER";
// The format allows 5 to 9 fields per data line.
constexpr size_t kMinFields = 5, kMaxFields = 9;
// Rows whose astronomy is computed together, while the previous batch is written.
constexpr size_t kBatch = 2048;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool SameText(std::string_view a, std::string_view b) { return Lower(Trim(a)) == Lower(Trim(b)); }

// A short, printable quote of a text from the file.
std::string Quote(std::string_view s) {
    std::string t(s.substr(0, 80));
    if (s.size() > 80) t += "...";
    return "\"" + Printable(t) + "\"";
}

bool ParseNumber(std::string_view text, double& out) {
    return ParseDotDecimal(text, out);
}

std::optional<double> OptionalNumber(const std::vector<std::string_view>& fields, int index) {
    double v = 0;
    if (index < 0 || !ParseNumber(fields[static_cast<size_t>(index)], v)) return std::nullopt;
    return v;
}

// The text of a comment line without its "#" and the blanks after it.
std::string_view CommentText(std::string_view line) {
    line.remove_prefix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    return line;
}

std::vector<std::string_view> Split(std::string_view s, char delimiter) {
    std::vector<std::string_view> out;
    for (;;) {
        const size_t at = s.find(delimiter);
        out.push_back(s.substr(0, at));
        if (at == std::string_view::npos) return out;
        s.remove_prefix(at + 1);
    }
}

// Writers name the columns a little differently ("UTC Date & Time",
// "UTC Date/Time", "Temperature (C)"...): each role is found by its word.
TCommunityColumns ColumnsOf(std::string_view text) {
    TCommunityColumns c;
    for (const std::string_view name : Split(text, ',')) c.Names.push_back(Trim(name));
    for (size_t i = 0; i < c.Names.size(); ++i) {
        const std::string n = Lower(c.Names[i]);
        const int k = static_cast<int>(i);
        auto take = [k](int& role) {
            if (role < 0) role = k;
        };
        if (n.find("local") != std::string::npos)
            take(c.Local);
        else if (n.find("utc") != std::string::npos)
            take(c.Utc);
        else if (n.find("temp") != std::string::npos)
            take(c.Temperature);
        else if (n.find("count") != std::string::npos)
            take(c.Counts);
        else if (n.find("freq") != std::string::npos)
            take(c.Frequency);
        if (n == "msas") c.Msas = k;  // the plain name beats any other "MSAS ..."
    }
    if (c.Msas < 0)
        for (size_t i = 0; i < c.Names.size() && c.Msas < 0; ++i)
            if (Lower(c.Names[i]).find("msas") != std::string::npos) c.Msas = static_cast<int>(i);
    return c;
}

void ParseHeader(const std::vector<std::string_view>& lines, size_t end, TCommunityHeader& h) {
    for (size_t i = 0; i <= end; ++i) h.Lines.emplace_back(lines[i]);
    h.Title = Trim(CommentText(lines[0]));
    if (const auto v = h.Value("Number of header lines")) {
        double n = 0;
        if (ParseNumber(*v, n) && n == std::trunc(n) && std::fabs(n) < 1e6) h.DeclaredLines = static_cast<int>(n);
    }
    if (const auto v = h.Value("SQM cover offset value")) {
        double x = 0;
        if (ParseNumber(*v, x)) h.CoverOffset = x;
    }
    // The list is the last comment line before the end that names the
    // columns: the line of units and the end line come after it.
    for (size_t i = end; i-- > 1;) {
        TCommunityColumns c = ColumnsOf(CommentText(lines[i]));
        if (c.Utc >= 0 && c.Msas >= 0) {
            if (c.Names.size() < kMinFields || c.Names.size() > kMaxFields)
                throw ECommunityFile("the column list on line " + std::to_string(i + 1) + " names " +
                                     std::to_string(c.Names.size()) + " columns, not 5 to 9");
            h.Columns = std::move(c);
            return;
        }
    }
    throw ECommunityFile("no header line lists the columns with the UTC date & time and MSAS");
}

// One data line; false and a reason when it is malformed.
bool ParseRow(std::string_view line, const TCommunityColumns& c, TCommunityRow& r, std::string& why) {
    std::vector<std::string_view> f = Split(line, ';');
    if (f.size() == c.Names.size() + 1 && Trim(f.back()).empty()) f.pop_back();  // a trailing ";"
    if (f.size() != c.Names.size()) {
        why = std::to_string(f.size()) + " fields, the header names " + std::to_string(c.Names.size());
        return false;
    }
    const std::string utc = Trim(f[static_cast<size_t>(c.Utc)]);
    if (!ParseCommunityTime(utc, r.Utc)) {
        why = "the UTC date & time " + Quote(utc) + " is not YYYY-MM-DDTHH:mm:ss.fff";
        return false;
    }
    if (!ParseNumber(f[static_cast<size_t>(c.Msas)], r.Msas)) {
        why = "MSAS " + Quote(Trim(f[static_cast<size_t>(c.Msas)])) + " is not a number";
        return false;
    }
    if (c.Temperature >= 0) {
        r.Temperature = OptionalNumber(f, c.Temperature);
        if (!r.Temperature) {
            why = "the temperature " + Quote(Trim(f[static_cast<size_t>(c.Temperature)])) + " is not a number";
            return false;
        }
    }
    // Held to what a meter can report, as its reply is: no meter gave a value beyond it.
    const struct {
        const TMeterRange& range;
        const char* name;
        int column;
        std::optional<double> value;
    } bounded[] = {
        {kSkyBrightnessRange, "MSAS", c.Msas, r.Msas},
        {kTemperatureRange, "the temperature", c.Temperature, r.Temperature},
        {kCountsRange, "the counts", c.Counts, OptionalNumber(f, c.Counts)},
        {kFrequencyRange, "the frequency", c.Frequency, OptionalNumber(f, c.Frequency)},
    };
    for (const auto& b : bounded)
        if (b.value && !b.range.Contains(*b.value)) {
            why = std::string(b.name) + " " + Quote(Trim(f[static_cast<size_t>(b.column)])) +
                  " is outside what a meter can report (" + b.range.Text() + ")";
            return false;
        }
    if (c.Local >= 0) {
        double local = 0;
        if (ParseCommunityTime(Trim(f[static_cast<size_t>(c.Local)]), local)) r.Local = local;
    }
    r.Counts = OptionalNumber(f, c.Counts);
    r.Frequency = OptionalNumber(f, c.Frequency);
    return true;
}

// The altitudes of sunset and of astronomical dusk, which bound the
// windows of methods 2 and 3.
double WindowAltitude(int method) { return method == kDiscardInTwilight ? -18.0 : -0.8333; }

// The astronomy of a batch of rows, shared out over the workers.
std::vector<ReadingBodies> ComputeBodies(const std::vector<TCommunityRow>& rows, size_t begin, size_t end,
                                         double latitude, double longitude, unsigned workers) {
    std::vector<ReadingBodies> out(end - begin);
    auto part = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            out[i - begin] = ComputeReadingBodies(latitude, longitude, rows[i].Utc);
    };
    const size_t n = end - begin;
    const size_t slice = (n + workers - 1) / workers;
    std::vector<std::future<void>> others;
    for (unsigned w = 1; w < workers && w * slice < n; ++w)
        others.push_back(std::async(std::launch::async, part, begin + w * slice, begin + std::min(n, (w + 1) * slice)));
    part(begin, begin + std::min(n, slice));
    for (auto& f : others) f.get();
    return out;
}

}  // namespace

std::optional<std::string> TCommunityHeader::Value(std::string_view key) const {
    for (const std::string& line : Lines) {
        if (line.empty() || line[0] != '#') continue;
        const std::string_view text = CommentText(line);
        const size_t colon = text.find(':');
        if (colon != std::string_view::npos && SameText(text.substr(0, colon), key))
            return Trim(text.substr(colon + 1));
    }
    return std::nullopt;
}

bool ParseCommunityTime(std::string_view text, double& dt) {
    static constexpr const char* kShape = "dddd-dd-ddTdd:dd:dd";
    const size_t n = std::strlen(kShape);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
    }
    int ms = 0;
    if (text.size() > n) {
        const std::string_view fraction = text.substr(n + 1);
        if (text[n] != '.' || fraction.empty() || fraction.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        for (size_t i = 0; i < 3; ++i) ms = ms * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    }
    auto num = [&](size_t at, size_t len) {
        int v = 0;
        for (size_t i = at; i < at + len; ++i) v = v * 10 + (text[i] - '0');
        return v;
    };
    const int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2), s = num(17, 2);
    if (y < 1900 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return false;
    const double v = EncodeDateTime(y, mo, d, h, mi, s, ms);
    if (DecodeDateTime(v).day != d) return false;  // no 31 April
    dt = v;
    return true;
}

TCommunityFile ParseCommunityFile(std::string_view content) {
    std::vector<std::string_view> lines;
    for (size_t at = 0; at < content.size();) {
        size_t lf = content.find('\n', at);
        if (lf == std::string_view::npos) lf = content.size();
        if (lf - at > kCommunityMaxLineBytes + 1)  // + 1: a CR before the LF
            throw ECommunityFile("line " + std::to_string(lines.size() + 1) + " is longer than " +
                                 std::to_string(kCommunityMaxLineBytes) +
                                 " characters: no community standard file has such lines");
        std::string_view line = content.substr(at, lf - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        at = lf + 1;
    }
    if (!lines.empty() && lines[0].substr(0, 3) == "\xEF\xBB\xBF") lines[0].remove_prefix(3);

    const bool titled = !lines.empty() && lines[0].substr(0, 1) == "#" &&
                        std::any_of(std::begin(kTitles), std::end(kTitles),
                                    [&](const char* t) { return SameText(CommentText(lines[0]), t); });
    if (!titled)
        throw ECommunityFile("not a community standard skyglow data file: line 1 is " +
                             (lines.empty() ? std::string("missing") : Quote(lines[0])));
    size_t end = 1;
    while (end < lines.size() && !SameText(lines[end], kHeaderEnd)) {
        if (lines[end].substr(0, 1) != "#")
            throw ECommunityFile("the header has no end: line " + std::to_string(end + 1) +
                                 " is no comment and no \"# END OF HEADER\" came before it");
        ++end;
    }
    if (end == lines.size()) throw ECommunityFile("the header has no end: no line \"# END OF HEADER\"");

    TCommunityFile file;
    ParseHeader(lines, end, file.Header);
    std::string why;
    for (size_t i = end + 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (Trim(line).empty() || line[0] == '#') continue;
        TCommunityRow r;
        r.Line = i + 1;
        if (ParseRow(line, file.Header.Columns, r, why))
            file.Rows.push_back(r);
        else
            file.Errors.push_back({i + 1, why});
    }
    return file;
}

TCommunityFile ReadCommunityFile(const std::string& path) {
    // O_NONBLOCK: a FIFO without a writer must not hold the caller, nor the
    // database it has open. What was opened is checked, not the name.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw ECommunityFile(std::string("cannot open the file: ") + std::strerror(errno));
    struct TClose {
        int fd;
        ~TClose() { ::close(fd); }
    } closing{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw ECommunityFile(std::string("cannot read the file: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw ECommunityFile(S_ISDIR(st.st_mode) ? "it is a folder, not a file"
                                                 : "it is not a regular file (a pipe, a device or a socket)");
    auto tooBig = [] {
        return ECommunityFile("it is larger than " + std::to_string(kCommunityMaxFileBytes >> 20) +
                              " MB, more than three years of one-minute readings: split it");
    };
    if (static_cast<uint64_t>(st.st_size) > kCommunityMaxFileBytes) throw tooBig();
    std::string content(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    for (;;) {
        if (got == content.size()) {
            // It may have grown since: read on, within the bound.
            if (content.size() > kCommunityMaxFileBytes) throw tooBig();
            content.resize(std::min(content.size() + 65536, kCommunityMaxFileBytes + 1));
        }
        const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw ECommunityFile(std::string("cannot read the file: ") + std::strerror(errno));
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    content.resize(got);
    if (content.size() > kCommunityMaxFileBytes) throw tooBig();
    return ParseCommunityFile(content);
}

TCommunityImport ImportCommunityRows(fb::Transaction& tr, const TSiteRow& site, const TCommunityFile& file,
                                     const TImportProgress& progress, unsigned workers) {
    if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
    TCommunityImport result;
    result.Read = file.DataLines();
    result.Errors = file.Errors;

    // The position as the station reads it: both coordinates, or none.
    const bool haveSite = site.Id > 0;
    const bool located = site.Latitude && site.Longitude;
    const double latitude = located ? *site.Latitude : 0, longitude = located ? *site.Longitude : 0;

    TSQM reading(TSQMOptions{.Port = 0, .TimeoutSeconds = 0, .Offset = file.Header.CoverOffset.value_or(0),
        .SiteId = site.Id});
    reading.Uploaded = false;
    reading.Syncro = false;
    reading.Modified = false;
    reading.Origin = kImportedOrigin;
    TReadingStore store(tr);

    // The twilights and the reading window of a UT day serve all its readings.
    std::map<double, ReadingTwilights> twilights;
    std::map<double, std::optional<TDayReadingWindow>> windows;
    auto twilightsOf = [&](double utc) -> const ReadingTwilights& {
        const double day = std::trunc(utc);
        auto it = twilights.find(day);
        if (it == twilights.end()) it = twilights.emplace(day, ComputeReadingTwilights(latitude, longitude, utc)).first;
        return it->second;
    };
    auto isNight = [&](double utc, double sunH) {
        const double day = std::floor(utc);
        auto it = windows.find(day);
        if (it == windows.end()) {
            std::optional<TDayReadingWindow> w;
            try {
                w.emplace(site, utc);
            } catch (const E_NoRiseSet&) {
            }
            it = windows.emplace(day, std::move(w)).first;
        }
        return it->second ? it->second->Contains(utc) : sunH < WindowAltitude(site.AcquireMode);
    };

    const std::vector<TCommunityRow>& rows = file.Rows;
    auto batchOf = [&](size_t begin) {
        const size_t end = std::min(rows.size(), begin + kBatch);
        if (!haveSite) return std::async(std::launch::deferred, [] { return std::vector<ReadingBodies>(); });
        return std::async(std::launch::async, ComputeBodies, std::cref(rows), begin, end, latitude, longitude,
                          workers);
    };
    std::future<std::vector<ReadingBodies>> next;
    if (!rows.empty()) next = batchOf(0);
    for (size_t begin = 0; begin < rows.size(); begin += kBatch) {
        const std::vector<ReadingBodies> bodies = next.get();
        const size_t end = std::min(rows.size(), begin + kBatch);
        if (end < rows.size()) next = batchOf(end);
        for (size_t i = begin; i < end; ++i) {
            const TCommunityRow& row = rows[i];
            ReadingCompletion done;
            if (haveSite) {
                const ReadingBodies& b = bodies[i - begin];
                const ReadingTwilights& t = twilightsOf(row.Utc);
                done.DateTime = row.Utc;
                done.MoonH = b.MoonH;
                done.SunH = b.SunH;
                done.MoonAgeDays = b.MoonAgeDays;
                done.MoonPh = b.MoonPh;
                done.MoonIllum = b.MoonIllum;
                // As at the meter: a day without astronomical night keeps the last one.
                done.AstroTwilight = t.AstroTwilight.value_or(reading.AstroTwilight);
                done.AstroDowning = t.AstroDowning.value_or(reading.AstroDowning);
            } else {
                done = CompleteReading(false, 0, 0, row.Utc, reading.AstroTwilight, reading.AstroDowning);
            }
            reading.DateTime = done.DateTime;
            reading.SQMValue = row.Msas;
            // Where the file has no temperature: the stand-in of the network import.
            reading.Temperature = row.Temperature.value_or(-1);
            reading.MoonH = done.MoonH;
            reading.SunH = done.SunH;
            reading.MoonAgeDays = done.MoonAgeDays;
            reading.MoonPh = done.MoonPh;
            reading.MoonIllum = done.MoonIllum;
            reading.AstroTwilight = done.AstroTwilight;
            reading.AstroDowning = done.AstroDowning;
            reading.State = isNight(row.Utc, done.SunH) ? 0 : -1;
            switch (store.StoreOverOwnOrigin(reading)) {
                case TReadingStore::Outcome::Inserted: ++result.Inserted; break;
                case TReadingStore::Outcome::Updated: ++result.Updated; break;
                case TReadingStore::Outcome::Kept: ++result.AlreadyStored; break;
            }
        }
        if (progress) progress(end, rows.size());
    }
    return result;
}

TCommunityImport ImportCommunityFile(fb::Database& db, const TSiteRow& site, const std::string& path,
                                     const TImportProgress& progress, unsigned workers) {
    const TCommunityFile file = ReadCommunityFile(path);
    fb::Transaction tr(db, fb::Isolation::ReadCommitted);
    tr.Start();
    TCommunityImport result;
    try {
        result = ImportCommunityRows(tr, site, file, progress, workers);
        tr.Commit();
    } catch (...) {
        if (tr.Active()) tr.Rollback();
        throw;
    }
    return result;
}
