#include "programs/station/webapi.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/station/myutils.h"

namespace {

bool Digits(const std::string& s, size_t from, size_t n) {
    for (size_t i = from; i < from + n; ++i)
        if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    return true;
}

int Number(const std::string& s, size_t from, size_t n) { return std::stoi(s.substr(from, n)); }

bool ValidDay(int y, int m, int d) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1900 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

std::string SiteLabels(const TWebSite& s) {
    return "site_id=\"" + std::to_string(s.Row.Id) + "\",site=\"" + MetricLabel(s.Row.Name) + "\"";
}

std::string InfoLabels(const TWebSite& s) {
    return SiteLabels(s) + ",code=\"" + MetricLabel(s.Row.Code) + "\",meter=\"" +
           MetricLabel(s.Row.Host + ":" + std::to_string(s.Row.Port)) + "\"";
}

std::string SiteJson(const TSiteRow& site) {
    return "{\"id\":" + std::to_string(site.Id) + ",\"name\":" + JsonString(site.Name) + "}";
}

std::string WindowJson(const TQueryWindow& w) {
    return "\"from\":" + JsonString(IsoUtc(w.Start)) + ",\"to\":" + JsonString(IsoUtc(w.Stop));
}

std::string OptionalInt(const std::optional<int64_t>& v) { return v ? std::to_string(*v) : "null"; }

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == '<' || c == '>' || c == '&' || c == 0x7f) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string JsonNumber(std::optional<double> value) {
    if (!value || !std::isfinite(*value)) return "null";
    char buf[64];
    const auto [p, ec] = std::to_chars(buf, buf + sizeof buf, *value);
    return ec == std::errc() ? std::string(buf, p) : "null";
}

std::string IsoUtc(double utc) {
    std::string t = FormatSqlDateTime(utc);  // "yyyy-mm-dd hh:mm:ss"
    if (t.size() > 10) t[10] = 'T';
    return t + "Z";
}

std::string IsoDate(double date) { return FormatSqlDateTime(std::floor(date)).substr(0, 10); }

std::optional<double> ParseIsoDate(const std::string& t) {
    if (t.size() != 10 || !Digits(t, 0, 4) || t[4] != '-' || !Digits(t, 5, 2) || t[7] != '-' || !Digits(t, 8, 2))
        return std::nullopt;
    const int y = Number(t, 0, 4), m = Number(t, 5, 2), d = Number(t, 8, 2);
    if (!ValidDay(y, m, d)) return std::nullopt;
    return EncodeDate(y, m, d);
}

std::optional<double> ParseIsoDateTime(const std::string& text) {
    std::string t = text;
    if (!t.empty() && t.back() == 'Z') t.pop_back();
    const auto date = ParseIsoDate(t.substr(0, 10));
    if (!date) return std::nullopt;
    if (t.size() == 10) return date;
    if (t[10] != 'T' && t[10] != ' ') return std::nullopt;
    if (!(t.size() == 16 || t.size() == 19) || !Digits(t, 11, 2) || t[13] != ':' || !Digits(t, 14, 2))
        return std::nullopt;
    int s = 0;
    if (t.size() == 19) {
        if (t[16] != ':' || !Digits(t, 17, 2)) return std::nullopt;
        s = Number(t, 17, 2);
    }
    const int h = Number(t, 11, 2), mi = Number(t, 14, 2);
    if (h > 23 || mi > 59 || s > 59) return std::nullopt;
    const DateTimeParts p = DecodeDateTime(*date);
    return EncodeDateTime(p.year, p.month, p.day, h, mi, s);
}

std::string SitesJson(const TWebStation& station) {
    std::string out = "{\"sites\":[";
    for (size_t i = 0; i < station.Sites.size(); ++i) {
        const TWebSite& s = station.Sites[i];
        const TSiteActivity& a = s.Activity;
        out += i ? "," : "";
        out += "{\"id\":" + std::to_string(s.Row.Id) + ",\"name\":" + JsonString(s.Row.Name) +
               ",\"acquiring\":" + (a.Acquiring ? "true" : "false") + ",\"state\":" +
               JsonString(SiteStateName(a.State)) + ",\"latitude\":" + JsonNumber(s.Row.Latitude) +
               ",\"longitude\":" + JsonNumber(s.Row.Longitude) + ",\"waiting_upload\":" + OptionalInt(s.Waiting) +
               ",\"last_reading\":";
        if (s.Last)
            out += "{\"time\":" + JsonString(IsoUtc(s.Last->DateTime)) + ",\"sqm\":" + JsonNumber(s.Last->Corrected()) +
                   ",\"nelm\":" + JsonNumber(s.Last->Nelm()) + ",\"temperature\":" + JsonNumber(s.Last->Temperature) + "}";
        else
            out += "null";
        out += ",\"readings_stored\":" + std::to_string(a.Stored) + ",\"last_failure\":";
        if (a.LastFailureUtc > 0)
            out += "{\"time\":" + JsonString(IsoUtc(a.LastFailureUtc)) + ",\"cause\":" + JsonString(a.LastFailure) + "}";
        else
            out += "null";
        out += "}";
    }
    return out + "]}\n";
}

std::string ReadingsJsonHead(const TSiteRow& site, const TQueryWindow& window, size_t limit) {
    return "{\"site\":" + SiteJson(site) + "," + WindowJson(window) + ",\"limit\":" + std::to_string(limit) +
           ",\"readings\":[";
}

std::string ReadingsJsonRows(const std::vector<TReadingRow>& rows, bool first) {
    std::string out;
    out.reserve(rows.size() * 160);
    for (const TReadingRow& r : rows) {
        out += first ? "\n" : ",\n";
        first = false;
        out += "{\"time\":" + JsonString(IsoUtc(r.DateTime)) + ",\"sqm\":" + JsonNumber(r.Corrected()) +
               ",\"nelm\":" + JsonNumber(r.Nelm()) + ",\"temperature\":" + JsonNumber(r.Temperature) +
               ",\"uploaded\":" + (r.Uploaded ? "true" : "false") + ",\"synchronized\":" +
               (r.Syncro ? "true" : "false") + ",\"state\":" + OptionalInt(r.State) + "}";
    }
    return out;
}

std::string ReadingsJsonTail(const std::string& next) {
    return "],\"next\":" + (next.empty() ? std::string("null") : JsonString(next)) + "}\n";
}

std::string CursorText(const TReadingCursor& c) {
    return std::to_string(std::llround(c.Time * 864000000.0)) + "." + c.Code;
}

std::optional<TReadingCursor> ParseCursor(const std::string& text) {
    const auto dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot > 15 || !Digits(text, 0, dot) || text.size() - dot - 1 > 25)
        return std::nullopt;
    return TReadingCursor{static_cast<double>(std::stoll(text.substr(0, dot))) / 864000000.0, text.substr(dot + 1)};
}

std::string UrlQueryValue(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' || c == ':') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string StatsJson(const TSiteRow& site, const TQueryWindow& window, const TStatistics& s) {
    return "{\"site\":" + SiteJson(site) + "," + WindowJson(window) + ",\"count\":" + std::to_string(s.Count) +
           ",\"average\":" + JsonNumber(s.Average) + ",\"deviation\":" + JsonNumber(s.Deviation) +
           ",\"median\":" + JsonNumber(s.Median) + ",\"maximum\":" + JsonNumber(s.Maximum) +
           ",\"minimum\":" + JsonNumber(s.Minimum) + ",\"left_out\":" + std::to_string(s.LeftOut) + "}\n";
}

std::string MetricLabel(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string MetricsText(const TWebStation& st) {
    std::string out;
    auto family = [&out](const char* name, const char* type, const char* help) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    };
    auto perSite = [&](const char* name, const char* type, const char* help, auto value) {
        family(name, type, help);
        for (const TWebSite& s : st.Sites)
            if (const std::string v = value(s); !v.empty()) out += std::string(name) + "{" + SiteLabels(s) + "} " + v + "\n";
    };
    auto number = [](std::optional<double> v) { return v && std::isfinite(*v) ? JsonNumber(v) : std::string(); };
    // Every site from the start, readings or not, so a query can join on it.
    family("kalosqm_site_info", "gauge", "Always 1: one series per site of the database, with its code and meter.");
    for (const TWebSite& s : st.Sites) out += "kalosqm_site_info{" + InfoLabels(s) + "} 1\n";
    perSite("kalosqm_sky_brightness_mag_per_arcsec2", "gauge",
            "Corrected sky brightness of the newest stored reading.",
            [&](const TWebSite& s) { return s.Last ? number(s.Last->Corrected()) : std::string(); });
    perSite("kalosqm_sensor_temperature_celsius", "gauge", "Meter temperature of the newest stored reading.",
            [&](const TWebSite& s) { return s.Last ? number(s.Last->Temperature) : std::string(); });
    perSite("kalosqm_last_reading_timestamp_seconds", "gauge", "Unix time of the newest stored reading.",
            [&](const TWebSite& s) { return s.Last ? number(DateTimeToUnix(s.Last->DateTime)) : std::string(); });
    perSite("kalosqm_acquiring", "gauge", "1 while the service reads the site.",
            [](const TWebSite& s) { return std::string(s.Activity.Acquiring ? "1" : "0"); });
    perSite("kalosqm_readings_waiting_upload", "gauge", "Stored readings waiting for the network database.",
            [](const TWebSite& s) { return s.Waiting ? std::to_string(*s.Waiting) : std::string(); });
    perSite("kalosqm_readings_stored_total", "counter", "Readings stored since the service started.",
            [](const TWebSite& s) { return std::to_string(s.Activity.Stored); });
    family("kalosqm_readings_failed_total", "counter",
           "Due readings not stored since the service started, by cause (meter, tick, skipped).");
    for (const TWebSite& s : st.Sites)
        for (const TFailureCause c : kFailureCauses) {
            const auto it = s.Activity.Failed.find(c);
            out += "kalosqm_readings_failed_total{" + SiteLabels(s) + ",cause=\"" + FailureCauseLabel(c) + "\"} " +
                   std::to_string(it == s.Activity.Failed.end() ? 0 : it->second) + "\n";
        }
    family("kalosqm_database_open", "gauge",
           "1 while the service holds its database; 0 while it waits for a site and leaves the database free.");
    out += std::string("kalosqm_database_open ") + (st.DatabaseOpen ? "1" : "0") + "\n";
    if (st.InternetTime) {
        family("kalosqm_internet_time_enabled", "gauge", "1 when the settings have Internet time on.");
        out += std::string("kalosqm_internet_time_enabled ") + (*st.InternetTime ? "1" : "0") + "\n";
    }
    // Off, there is no synchronisation to fail: no series, so no alert fires.
    if (st.InternetTime.value_or(false)) {
        family("kalosqm_internet_time_offset_seconds", "gauge", "Internet time minus PC time.");
        out += "kalosqm_internet_time_offset_seconds " + JsonNumber(st.Activity.Time.Offset * 86400.0) + "\n";
        family("kalosqm_internet_time_sync_success", "gauge",
               "1 when the last synchronisation with a time server succeeded.");
        out += std::string("kalosqm_internet_time_sync_success ") + (st.Activity.Time.LastSyncSucceeded ? "1" : "0") + "\n";
    }
    family("kalosqm_uptime_seconds", "gauge", "Seconds since the service started.");
    out += "kalosqm_uptime_seconds " + JsonNumber(std::floor(st.Activity.UptimeSeconds)) + "\n";
    return out;
}

std::string NightMetricsText(const TWebStation& st, const std::vector<std::pair<int, TNightSummary>>& lastNights) {
    std::string out;
    auto family = [&](const char* name, const char* help, auto value) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
        for (const TWebSite& s : st.Sites)
            for (const auto& [id, night] : lastNights)
                if (id == s.Row.Id)
                    if (const std::optional<double> v = value(night); v && std::isfinite(*v))
                        out += std::string(name) + "{" + SiteLabels(s) + "} " + JsonNumber(v) + "\n";
    };
    family("kalosqm_night_sky_brightness_mag_per_arcsec2",
           "Sky brightness of the last complete night: median of its clear dark readings.",
           [](const TNightSummary& n) { return n.SkyBrightness; });
    family("kalosqm_night_clear_fraction", "Clear share of the dark readings of the last complete night.",
           [](const TNightSummary& n) { return n.ClearFraction(); });
    return out;
}
