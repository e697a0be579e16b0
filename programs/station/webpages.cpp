#include "programs/station/webpages.h"

#include <cmath>

#include "core/site/languages.h"
#include "core/site/readingformat.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"

namespace {

std::string Subst(std::string text, const std::string& value) {
    if (const auto at = text.find("{0}"); at != std::string::npos) text.replace(at, 3, value);
    return text;
}

const char* kStyle =
    "*{box-sizing:border-box}"
    "body{margin:0;padding:.75rem;font:16px/1.4 system-ui,sans-serif;background:#eef0f5;color:#1c2430}"
    "header{display:flex;flex-wrap:wrap;align-items:baseline;gap:.25rem 1rem;margin-bottom:.75rem}"
    "h1{font-size:1.3rem;margin:0}h2{font-size:1.15rem;margin:0 0 .4rem;overflow-wrap:anywhere}"
    "a{color:#1a4fa0}.muted{color:#5b6472;font-size:.9rem}"
    ".cards{display:grid;grid-template-columns:repeat(auto-fit,minmax(min(100%,34rem),1fr));gap:.75rem}"
    ".card{background:#fff;border-radius:.6rem;padding:.8rem;min-width:0;box-shadow:0 1px 3px #0002}"
    ".state{display:inline-block;padding:.1rem .6rem;border-radius:1rem;font-weight:600;color:#fff;margin:0 0 .5rem}"
    ".s0{background:#6b7280}.s1{background:#2f5fb3}.s2{background:#17803d}.s3{background:#b7791f}"
    ".s4{background:#c05621}.s5{background:#c0262d}"
    "dl{display:grid;grid-template-columns:auto 1fr;gap:.15rem .8rem;margin:.3rem 0 .6rem}"
    "dt{color:#5b6472}dd{margin:0;overflow-wrap:anywhere}"
    ".big{font-size:1.35rem;font-weight:700}"
    "figure{margin:.4rem 0 0}svg{display:block;width:100%;height:auto}"
    ".chart-narrow{display:none}@media (max-width:40rem){.chart-wide{display:none}.chart-narrow{display:block}}"
    "nav{display:flex;flex-wrap:wrap;gap:.4rem 1rem;margin:.3rem 0 .6rem}"
    ".one{grid-template-columns:1fr;max-width:72rem}"
    "table{border-collapse:collapse}td{padding:.1rem .8rem .1rem 0}td+td{text-align:right}";

std::string Head(const std::string& title) {
    std::string lang = CurrentLanguage();
    if (lang.empty()) lang = kFallbackLanguage;
    return "<!DOCTYPE html>\n<html lang=\"" + HtmlEscape(lang) +
           "\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<meta http-equiv=\"refresh\" content=\"60\"><title>" +
           HtmlEscape(title) + "</title><style>" + kStyle + "</style></head><body>\n";
}

std::string Number(const std::optional<double>& v, int decimals) {
    return v ? FormatNumber(*v, decimals, UserFormatSettings()) : std::string("---");
}

std::string UtcText(double utc) { return FormatSqlDateTime(utc) + " UTC"; }

std::string Ago(double seconds) {
    if (seconds < 0) return "";
    const long long s = std::llround(seconds);
    if (s < 120) return Subst(Tr("{0} s ago"), std::to_string(s));
    if (s < 2 * 3600) return Subst(Tr("{0} min ago"), std::to_string(s / 60));
    if (s < 2 * 86400) return Subst(Tr("{0} h ago"), std::to_string(s / 3600));
    return Subst(Tr("{0} days ago"), std::to_string(s / 86400));
}

const char* StateWords(TSiteState s) {
    switch (s) {
        case TSiteState::Stopped: return N_("Stopped");
        case TSiteState::OutsideWindow: return N_("Acquiring: outside the reading window");
        case TSiteState::NightStored: return N_("Acquiring: night reading stored");
        case TSiteState::DaylightStored: return N_("Acquiring: daylight reading stored");
        case TSiteState::Skipped: return N_("Acquiring: due reading skipped");
        case TSiteState::Failed: return N_("Acquiring: the last reading failed");
    }
    return "";
}

std::string StateBadge(const TSiteActivity& a) {
    const TSiteState s = a.Acquiring ? a.State : TSiteState::Stopped;
    return "<p class=\"state s" + std::to_string(static_cast<int>(s)) + "\">" + HtmlEscape(Tr(StateWords(s))) + "</p>";
}

// The facts every view of a site starts with.
std::string SiteFacts(const TWebSite& s, double nowUtc) {
    std::string out = "<dl>";
    out += "<dt>" + HtmlEscape(Tr("Last reading")) + "</dt><dd>";
    if (s.Last) {
        out += "<span class=\"big\">" + HtmlEscape(Number(s.Last->Corrected(), 2)) + "</span> mag/arcsec\u00b2</dd>";
        out += "<dt>" + HtmlEscape(Tr("NELM")) + "</dt><dd>" + HtmlEscape(Number(s.Last->Nelm(), 2)) + "</dd>";
        out += "<dt>" + HtmlEscape(Tr("Sensor temp.")) + "</dt><dd>" + HtmlEscape(Number(s.Last->Temperature, 1)) +
               " \u00b0C</dd>";
        out += "<dt>" + HtmlEscape(Tr("UTC time")) + "</dt><dd>" + HtmlEscape(UtcText(s.Last->DateTime)) + " (" +
               HtmlEscape(Ago((nowUtc - s.Last->DateTime) * 86400.0)) + ")</dd>";
    } else {
        out += HtmlEscape(Tr("none stored yet")) + "</dd>";
    }
    out += "<dt>" + HtmlEscape(Tr("Waiting for upload")) + "</dt><dd>" + (s.Waiting ? std::to_string(*s.Waiting) : std::string("---")) + "</dd>";
    if (s.Activity.LastFailureUtc > 0)
        out += "<dt>" + HtmlEscape(Tr("Last failure")) + "</dt><dd>" + HtmlEscape(UtcText(s.Activity.LastFailureUtc)) +
               ": " + HtmlEscape(s.Activity.LastFailure) + "</dd>";
    return out + "</dl>";
}

std::string SiteLink(int id, double night, bool tonight) {
    return "/site/" + std::to_string(id) + (tonight ? std::string() : "?night=" + IsoDate(night));
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string InlineSvg(const std::string& svg) {
    const auto at = svg.find("<svg");
    return at == std::string::npos ? std::string() : svg.substr(at);
}

std::string ChartPair(const std::string& wide, const std::string& narrow) {
    if (wide.empty()) return {};
    return "<div class=\"chart-wide\">" + wide + "</div><div class=\"chart-narrow\">" + narrow + "</div>";
}

std::string OverviewPage(const TWebStation& st, const std::vector<std::string>& charts, double tonight) {
    const std::string title = Tr("KALO-SQM station");
    std::string out = Head(title);
    out += "<header><h1>" + HtmlEscape(title) + "</h1><span class=\"muted\">" +
           HtmlEscape(Subst(Tr("updated {0}"), UtcText(st.NowUtc))) + "</span></header>\n<main class=\"cards\">\n";
    if (st.Sites.empty()) out += "<p>" + HtmlEscape(Tr("There is no site in the database yet.")) + "</p>";
    for (size_t i = 0; i < st.Sites.size(); ++i) {
        const TWebSite& s = st.Sites[i];
        out += "<section class=\"card\"><h2><a href=\"" + SiteLink(s.Row.Id, tonight, true) + "\">" +
               HtmlEscape(s.Row.Name) + "</a></h2>" + StateBadge(s.Activity) + SiteFacts(s, st.NowUtc);
        if (i < charts.size() && !charts[i].empty())
            out += "<figure>" + charts[i] + "</figure>";
        else
            out += "<p class=\"muted\">" + HtmlEscape(Tr("No readings in this night.")) + "</p>";
        out += "</section>\n";
    }
    return out + "</main></body></html>\n";
}

namespace {

// The nights' quality, newest first, and the chart of the clear ones.
std::string NightsSection(const TSiteNightView& v) {
    std::string out = "<section class=\"card\"><h2>" + HtmlEscape(Tr("Night quality")) + "</h2><table><tr><th>" +
                      HtmlEscape(Tr("Night")) + "</th><th>" + HtmlEscape(Tr("Class")) + "</th><th>" +
                      HtmlEscape(Tr("Clear fraction")) + "</th><th>" + HtmlEscape(Tr("Sky brightness")) + "</th></tr>";
    const TFormatSettings fs;
    for (auto n = v.Nights.rbegin(); n != v.Nights.rend(); ++n) {
        const auto f = n->ClearFraction();
        out += "<tr><td>" + HtmlEscape(NightName(n->Night)) + "</td><td>" + HtmlEscape(NightClassText(n->Class())) +
               "</td><td>" + (f ? HtmlEscape(FormatNumber(*f, 2, fs)) : std::string()) + "</td><td>" +
               (n->SkyBrightness ? HtmlEscape(FormatNumber(*n->SkyBrightness, 2, fs)) : std::string()) + "</td></tr>";
    }
    out += "</table>";
    if (!v.NightsChart.empty()) out += "<figure>" + v.NightsChart + "</figure>";
    return out + "</section>\n";
}

}  // namespace

std::string SitePage(const TSiteNightView& v) {
    const TWebSite& s = *v.Site;
    const std::string date = IsoDate(v.NightDate);
    std::string out = Head(s.Row.Name + " - " + date);
    out += "<header><h1>" + HtmlEscape(s.Row.Name) + "</h1><a href=\"/\">" + HtmlEscape(Tr("All sites")) +
           "</a><span class=\"muted\">" + HtmlEscape(Subst(Tr("updated {0}"), UtcText(v.NowUtc))) +
           "</span></header>\n<main class=\"cards one\">\n<section class=\"card\">" + StateBadge(s.Activity) +
           SiteFacts(s, v.NowUtc) + "</section>\n";

    out += "<section class=\"card\"><h2>" + HtmlEscape(Subst(Tr("The night of {0}"), date)) + "</h2><nav><a href=\"" +
           SiteLink(s.Row.Id, v.NightDate - 1, false) + "\">\u2039 " + HtmlEscape(Tr("previous night")) + "</a>";
    if (v.NightDate < v.Tonight)
        out += "<a href=\"" + SiteLink(s.Row.Id, v.NightDate + 1, v.NightDate + 1 >= v.Tonight) + "\">" +
               HtmlEscape(Tr("next night")) + " \u203a</a><a href=\"" + SiteLink(s.Row.Id, v.Tonight, true) + "\">" +
               HtmlEscape(Tr("tonight")) + "</a>";
    out += "</nav>";
    if (!v.NightChart.empty())
        out += "<figure>" + v.NightChart + "</figure>";
    else
        out += "<p class=\"muted\">" + HtmlEscape(Tr("No readings in this night.")) + "</p>";
    const auto texts = StatisticsTexts(v.Night.Statistics, UserFormatSettings());
    out += "<table>";
    for (size_t i = 0; i < texts.size(); ++i)
        out += "<tr><td>" + HtmlEscape(Tr(kStatisticsCaptions[i])) + "</td><td>" + HtmlEscape(texts[i]) + "</td></tr>";
    out += "</table><nav>";
    const std::string base = "/site/" + std::to_string(s.Row.Id) + "/night/" + date;
    if (!v.NightChart.empty()) out += "<a href=\"" + base + ".png\">" + HtmlEscape(Tr("Night plot (PNG)")) + "</a>";
    if (v.NightFile) out += "<a href=\"" + base + ".dat\">" + HtmlEscape(Tr("Night file (community standard)")) + "</a>";
    out += "<a href=\"/api/v1/sites/" + std::to_string(s.Row.Id) + "/readings?night=" + date + "\">JSON</a></nav></section>\n";

    out += "<section class=\"card\"><h2>" + HtmlEscape(Tr("The last 30 nights")) + "</h2>";
    out += v.HourglassChart.empty() ? "<p class=\"muted\">" + HtmlEscape(Tr("No readings in these nights.")) + "</p>"
                                    : "<figure>" + v.HourglassChart + "</figure>";
    out += "</section>\n";
    if (!v.Nights.empty()) out += NightsSection(v);
    return out + "</main></body></html>\n";
}
