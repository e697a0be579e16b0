#include "core/site/netquery.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "core/station/credentials.h"
#include "core/station/errorlog.h"
#include "core/station/fbdb.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/station/netdatabase.h"

namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Numbers come with "." as decimal point whatever the user's locale.
double Number(const std::optional<std::string>& v, const char* column) {
    const std::string text = v ? Trim(*v) : std::string();
    double out = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, out);
    if (text.empty() || ec != std::errc() || p != end || !std::isfinite(out))
        throw std::runtime_error("'" + text + "' " + Tr("is not a valid floating point value") + " (" + column + ")");
    return out;
}

double NumberOr(const std::optional<std::string>& v, const char* column, double missing) {
    return v ? Number(v, column) : missing;
}

int Digits(const std::string& s, size_t from, size_t count, const std::string& whole, const char* what) {
    int n = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i])))
            throw std::runtime_error("'" + whole + "' " + Tr(what));
        n = n * 10 + (s[i] - '0');
    }
    return n;
}

// "yyyy-mm-dd hh:mm:ss", read by the places of its figures.
double DateTimeOf(const std::optional<std::string>& v) {
    const std::string s = v.value_or(std::string());
    const char* what = "is not a valid date and time";
    const int y = Digits(s, 0, 4, s, what), mo = Digits(s, 5, 2, s, what), d = Digits(s, 8, 2, s, what);
    const int h = Digits(s, 11, 2, s, what), mi = Digits(s, 14, 2, s, what), se = Digits(s, 17, 2, s, what);
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59)
        throw std::runtime_error("'" + s + "' " + Tr(what));
    return EncodeDateTime(y, mo, d, h, mi, se);
}

// "hh:mm:ss" as a time of day.
std::optional<double> TimeOf(const std::optional<std::string>& v) {
    if (!v) return std::nullopt;
    const std::string s = Trim(*v);
    const char* what = "is not a valid time";
    const int h = Digits(s, 0, 2, s, what), m = Digits(s, 3, 2, s, what), sec = Digits(s, 6, 2, s, what);
    if (s.size() < 8 || s[2] != ':' || s[5] != ':' || h > 23 || m > 59 || sec > 59)
        throw std::runtime_error("'" + s + "' " + Tr(what));
    return EncodeTime(h, m, sec);
}

constexpr const char* kImportLog = " - Copia dati da network - ";

}  // namespace

TReadingRow AsReadingRow(const TNetReading& n) {
    TReadingRow r;
    r.Code = n.KaloCode;
    r.DateTime = n.DateTime;
    r.Value = n.Value;
    r.Offset = n.Offset;
    r.Temperature = n.Temperature;
    r.SunHeight = n.SunHeight;
    r.MoonHeight = n.MoonHeight;
    r.MoonPhase = n.MoonPhase;
    r.MoonAge = n.MoonAge;
    r.MoonIllum = n.MoonIllum;
    r.NightStarts = n.NightStarts;
    r.NightEnds = n.NightEnds;
    r.State = n.State;
    r.Origin = n.Origin;
    return r;
}

std::string LocalKeyOf(const std::string& networkKey, const std::string& origin, const std::string& siteCode) {
    if (Upper(Trim(origin)) == "S") return networkKey;
    const std::string key = Trim(networkKey);
    const std::string code = Trim(siteCode);
    if (!code.empty() && key.size() > code.size() && key.compare(key.size() - code.size(), code.size(), code) == 0)
        return key.substr(0, key.size() - code.size());
    return networkKey;
}

std::string NetworkSiteSQL(const netdb::Connection& c, const std::string& siteCode) {
    return "SELECT SIT_ID FROM SQMSITES WHERE SIT_CODE=" + c.Quote(Trim(siteCode));
}

std::string NetworkReadingsSQL(const netdb::Connection& c, const std::string& networkSiteId, const TQueryWindow& w,
                               TSortOrder order) {
    return "SELECT * FROM READINGS WHERE REA_SITE=" + c.Quote(networkSiteId) + " AND REA_DATETIME BETWEEN " +
           c.Quote(FormatSqlDateTime(w.Start)) + " AND " + c.Quote(FormatSqlDateTime(w.Stop)) +
           (order == TSortOrder::Ascending ? " ORDER BY REA_DATETIME" : " ORDER BY REA_DATETIME DESC");
}

void ReadNetworkRows(const netdb::Result& r, const std::string& siteCode, std::vector<TNetReading>& table) {
    for (size_t i = 0; i < r.RowCount(); ++i) {
        auto v = [&](const char* column) -> const std::optional<std::string>& { return r.Value(i, column); };
        TNetReading n;
        n.Origin = v("REA_ORIGIN").value_or(std::string());
        n.KaloCode = LocalKeyOf(v("REA_KALOCODE").value_or(std::string()), n.Origin, siteCode);
        n.DateTime = DateTimeOf(v("REA_DATETIME"));
        n.Value = Number(v("REA_SQMVALUE"), "REA_SQMVALUE");
        n.Offset = Number(v("REA_SQMOFFSET"), "REA_SQMOFFSET");
        n.Temperature = NumberOr(v("REA_SQMTEMP"), "REA_SQMTEMP", -1);
        n.SunHeight = NumberOr(v("REA_SUNH"), "REA_SUNH", -90);
        n.MoonHeight = NumberOr(v("REA_MOONH"), "REA_MOONH", -90);
        n.MoonAge = NumberOr(v("REA_MOONAGE"), "REA_MOONAGE", -90);
        n.MoonPhase = NumberOr(v("REA_MOONPH"), "REA_MOONPH", -90);
        n.MoonIllum = NumberOr(v("REA_MOONILLUM"), "REA_MOONILLUM", 0);
        n.NightEnds = TimeOf(v("REA_ASTRO_DOWNING"));
        n.NightStarts = TimeOf(v("REA_ASTRO_TWILIGHT"));
        const auto& state = v("REA_STATE");
        n.State = state ? netdb::ParseInteger(Trim(*state)) : 0;
        table.push_back(std::move(n));
    }
}

std::array<std::string, 5> NetworkStatisticsTexts(const std::vector<TNetReading>& rows, const TFormatSettings& fs) {
    std::array<std::string, 5> t;
    t.fill("---");
    const size_t n = rows.size();
    t[0] = std::to_string(n);
    if (n == 0) return t;
    double sum = 0, hi = 0, lo = 1000;
    for (const auto& r : rows) {
        const double x = r.Corrected();
        sum += x;
        hi = std::max(hi, x);
        lo = std::min(lo, x);
    }
    const double mean = sum / static_cast<double>(n);
    t[1] = FormatNumber(mean, 2, fs);
    if (n > 1) {
        double sq = 0;
        for (const auto& r : rows) sq += (r.Corrected() - mean) * (r.Corrected() - mean);
        t[2] = FormatNumber(std::sqrt(sq / static_cast<double>(n - 1)), 2, fs);
    }
    t[3] = FormatNumber(hi, 2, fs);
    t[4] = FormatNumber(lo, 2, fs);
    return t;
}

TNetQueryOutcome RunNetworkQuery(const std::string& siteCode, const TQueryWindow& w, TSortOrder order,
                                 std::vector<TNetReading>& table) {
    using K = TNetQueryOutcome::Kind;
    std::string error;
    const int rights = CheckCredentialsFile(siteCode, error);
    if (rights <= kCredentialsInvalid)
        return {K::CredentialsProblem,
                Tr("Problem with the credentials file:") + "\r" + (error.empty() ? Tr("File missing") : error)};
    if ((rights & kCredentialsDownload) == 0) return {K::NotEnabled, Tr("Site not enabled for download")};

    netdb::Connection c;
    if (!c.Connect(CredentialsConnectParams(ReadSiteCredentials(siteCode), 10)))
        return {K::ConnectFailed, Tr("Unable to connect to the Noctila")};
    netdb::Result site;
    if (!c.Execute(NetworkSiteSQL(c, siteCode), &site)) return {K::QueryFailed, Tr("Query failed")};
    if (site.RowCount() == 0) return {K::SiteUnknown, Tr("Site not configured on the remote server")};
    netdb::Result rows;
    if (!c.Execute(NetworkReadingsSQL(c, site.FirstText(), w, order), &rows)) return {K::QueryFailed, Tr("Query failed")};
    c.Close();
    if (rows.RowCount() == 0) return {K::NoRows, Tr("No records found with the specified criteria")};
    table.clear();
    ReadNetworkRows(rows, siteCode, table);
    char text[160];
    std::snprintf(text, sizeof text, Tr("%d readings where selected ").c_str(), static_cast<int>(table.size()));
    return {K::Rows, text};
}

bool ImportNetworkReadings(fb::Transaction& tr, int siteId, const std::string& siteName,
                           const std::vector<TNetReading>& rows, double logTime, const TFetchProgress& progress,
                           TImportCounts* counts) {
    static const char* const kColumns =
        "REA_SITE=:SITE, REA_DATETIME=:DT, REA_SQMVALUE=:V, REA_SQMOFFSET=:O, REA_SQMTEMP=:T, REA_SUNH=:SUNH, "
        "REA_MOONH=:MOONH, REA_MOONAGE=:AGE, REA_MOONPH=:PH, REA_MOONILLUM=:ILL, REA_ASTRO_DOWNING=:DOWN, "
        "REA_ASTRO_TWILIGHT=:TWI, REA_STATE=:ST, REA_ORIGIN=:ORIG, REA_MODIFIED=0, REA_SYNCRO=1, REA_UPLOADED=1";
    fb::Query find(tr), update(tr), insert(tr);
    find.SetSQL("select * from READINGS \nwhere REA_CODE=:CODE");
    update.SetSQL(std::string("UPDATE READINGS SET ") + kColumns + " WHERE REA_CODE=:CODE");
    insert.SetSQL(
        "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SQMTEMP, REA_SUNH, "
        "REA_MOONH, REA_MOONAGE, REA_MOONPH, REA_MOONILLUM, REA_ASTRO_DOWNING, REA_ASTRO_TWILIGHT, REA_STATE, "
        "REA_ORIGIN, REA_MODIFIED, REA_SYNCRO, REA_UPLOADED) VALUES (:CODE, :SITE, :DT, :V, :O, :T, :SUNH, :MOONH, "
        ":AGE, :PH, :ILL, :DOWN, :TWI, :ST, :ORIG, 0, 1, 1)");
    const std::string stamp = FormatLogTime(logTime) + kImportLog;
    TImportCounts c;
    size_t done = 0;
    for (const TNetReading& r : rows) {
        try {
            find.SetString("CODE", r.KaloCode);
            int found = 0;
            for (find.Open(); !find.Eof() && found < 2; find.Next()) ++found;
            find.Close();
            if (found > 1) {
                char text[200];
                std::snprintf(text, sizeof text, "Esiste più di un record col codice %s", r.KaloCode.c_str());
                WriteErrorLog(stamp + text, siteName);
                ++c.Failed;
                continue;
            }
            fb::Query& q = found == 0 ? insert : update;
            auto time = [](const std::optional<double>& t) -> fb::Value {
                if (!t) return std::monostate{};
                return fb::DateTime{*t - std::floor(*t)};
            };
            q.SetString("CODE", r.KaloCode);
            q.SetInteger("SITE", siteId);
            q.SetDateTime("DT", r.DateTime);
            q.SetDouble("V", r.Value);
            q.SetDouble("O", r.Offset);
            q.SetDouble("T", r.Temperature);
            q.SetDouble("SUNH", r.SunHeight);
            q.SetDouble("MOONH", r.MoonHeight);
            q.SetDouble("AGE", r.MoonAge);
            q.SetDouble("PH", r.MoonPhase);
            q.SetDouble("ILL", r.MoonIllum);
            q.SetParam("DOWN", time(r.NightEnds));
            q.SetParam("TWI", time(r.NightStarts));
            q.SetInteger("ST", r.State);
            q.SetString("ORIG", r.Origin);
            q.ExecSQL();
            ++(found == 0 ? c.Inserted : c.Updated);
        } catch (const std::exception& e) {
            WriteErrorLog(stamp + "Errore durante l'aggiornamento: " + e.what(), siteName);
            ++c.Failed;
        }
        if (progress && ++done % 200 == 0) progress(done);
    }
    // At once: imported history must not wait for the window to close.
    tr.CommitRetaining();
    if (counts) *counts = c;
    return c.Failed == 0;
}

TImportOutcome SaveNetworkReadings(fb::Transaction& tr, int siteId, const std::string& siteName,
                                   const std::vector<TNetReading>& rows, double logTime,
                                   const TFetchProgress& progress) {
    using K = TImportOutcome::Kind;
    if (rows.empty()) return {K::NoRows, Tr("There are no rows to save"), {}};
    TImportOutcome o;
    if (ImportNetworkReadings(tr, siteId, siteName, rows, logTime, progress, &o.Counts)) {
        o.What = K::Completed;
        o.Message = Tr("Import completed successfully");
    } else {
        o.What = K::Problems;
        o.Message = Tr("There were problems during the import:") + "\r" + Tr("Check the Site log for details");
    }
    return o;
}
