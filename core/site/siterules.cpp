#include "core/site/siterules.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <random>
#include <stdexcept>

#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/site/readingwindow.h"

namespace TSiteRules {

std::map<std::string, fb::Value> NewSiteDefaults(const TZoneInfo& zone) {
    return {
        {"SIT_ACQUIREMODE", int64_t{kContinuous}}, {"SIT_SQMPORT", int64_t{10001}},
        {"SIT_TIMEZONE", int64_t{DefaultTimeZone(zone)}}, {"SIT_INTERVAL", int64_t{1}},
        {"SIT_OFFSET", 0.0},                         {"SIT_AUTOSTART", int64_t{0}},
        {"SIT_DAYREADING", int64_t{0}},              {"SIT_DAYINTERVAL", int64_t{10}},
        {"SIT_TIMEOUT", int64_t{10}},                {"SIT_AUTOUPLOAD", int64_t{1}},
    };
}

int NextSiteId(fb::Transaction& tr) {
    tr.EnsureActive();
    fb::Query q(tr);
    q.SetSQL("SELECT GEN_ID(GEN_SITE_ID, 1) AS NEWID FROM RDB$DATABASE");
    q.Open();
    const int id = static_cast<int>(q.FieldByName("NEWID").AsInteger());
    q.Close();
    return id;
}

const std::vector<TFieldRange>& FieldRanges() {
    static const std::vector<TFieldRange> ranges = {
        {"SIT_SQMPORT", N_("the port"), 1, 65535, true, true},
        {"SIT_LATIT", N_("the latitude"), -90, 90, false},
        {"SIT_LONG", N_("the longitude"), -180, 180, false},
        {"SIT_ALT", N_("the altitude"), -500, 9000, true},
        {"SIT_TIMEZONE", N_("the time zone"), -12, 14, true},
        {"SIT_OFFSET", N_("the offset"), -10, 10, false},
        {"SIT_TIMEOUT", N_("the timeout"), 1, 3600, true},
        {"SIT_ACQUIREMODE", N_("the method"), 0, 3, true},
        // Below 1 the save has a refusal of its own; 0 still parses.
        {"SIT_INTERVAL", N_("the interval"), 0, 1440, true},
        {"SIT_DAYINTERVAL", N_("the daylight interval"), 0, 1440, true},
    };
    return ranges;
}

namespace {

// The entry of a table of fields for a column; nullptr for none.
template <typename T>
const T* ByColumn(const std::vector<T>& fields, const std::string& column) {
    for (const T& f : fields)
        if (column == f.Column) return &f;
    return nullptr;
}

// A translated format filled in; fallback when the format is broken.
template <typename... A>
std::string Printed(const std::string& fallback, const std::string& format, A... args) {
    const int n = std::snprintf(nullptr, 0, format.c_str(), args...);
    if (n < 0) return fallback;
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), args...);
    text.resize(static_cast<size_t>(n));
    return text;
}

// A refusal's translated sentence with the field's label and range, and the
// value shown where the format asks for it (a format may leave it out).
std::string Sentence(const std::string& format, const TFieldRange& range, const std::string& shown) {
    const std::string label = Tr(range.Label);
    return Printed(label + ": " + shown, format, label.c_str(), range.Min, range.Max, shown.c_str());
}

}  // namespace

const TFieldRange* RangeOf(const std::string& column) { return ByColumn(FieldRanges(), column); }

std::string RangeRefusal(const TFieldRange& range, const std::string& shown) {
    // One sentence per kind, so a translation never mixes two languages.
    return Sentence(range.Whole ? Tr(N_("%s must be a whole number from %.15g to %.15g, not %s"))
                                : Tr(N_("%s must be a number from %g to %g, not %s")),
                    range, shown);
}

const std::vector<TTextField>& TextFields() {
    // The lengths are the columns' widths in SQMSITES.
    static const std::vector<TTextField> fields = {
        {"SIT_NAME", N_("the name"), 255, true, false},
        {"SIT_SQMHOST", N_("the host"), 100, false, true},
    };
    return fields;
}

const TTextField* TextFieldOf(const std::string& column) { return ByColumn(TextFields(), column); }

namespace {

bool ValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t more = 0;
        if (c >= 0x80) {
            if ((c & 0xE0) == 0xC0 && c >= 0xC2) more = 1;
            else if ((c & 0xF0) == 0xE0) more = 2;
            else if ((c & 0xF8) == 0xF0 && c <= 0xF4) more = 3;
            else return false;
        }
        if (s.size() - i <= more) return false;
        for (size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += more + 1;
    }
    return true;
}

// Characters, not bytes: the column's width counts characters.
size_t Characters(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

}  // namespace

std::string TextRefusal(const TTextField& field, const std::string& text) {
    if (!ValidUtf8(text)) return Tr("the text is not valid UTF-8");
    const std::string label = Tr(field.Label);
    if (Trim(text).empty()) return Printed(label + ": -", Tr(N_("%s must not be empty")), label.c_str());
    const size_t n = Characters(text);
    if (n > field.MaxLength)
        return Printed(std::to_string(n), Tr(N_("at most %zu characters, not %zu")), field.MaxLength, n);
    if (field.NoBlanks && text.find_first_of(" \t\r\n") != std::string::npos)
        return Printed(text, Tr(N_("a host name has no blanks: '%s'")), text.c_str());
    return {};
}

namespace {

std::string MissingRefusal(const TFieldRange& range) {
    return Sentence(range.Whole ? Tr(N_("%s is required: a whole number from %.15g to %.15g"))
                                : Tr(N_("%s is required: a number from %g to %g")),
                    range, "");
}

std::optional<double> Number(const fb::Value& v) {
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
    if (auto* t = std::get_if<fb::DateTime>(&v)) return t->value;
    return std::nullopt;
}

std::string Shown(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

}  // namespace

void CheckPost(const TSiteValues& site) {
    // An empty interval reads as 0.
    if (Number(site("SIT_INTERVAL")).value_or(0) < 1)
        throw TSiteRefusal(Tr("Please note, you cannot specify a range of time less than 1 minute"));
    for (const TFieldRange& r : FieldRanges()) {
        const auto v = Number(site(r.Column));
        if (!v && r.Required) throw TSiteRefusal(MissingRefusal(r));
        if (!v) continue;
        if (!std::isfinite(*v) || *v < r.Min || *v > r.Max || (r.Whole && *v != std::floor(*v)))
            throw TSiteRefusal(RangeRefusal(r, Shown(*v)));
    }
    for (const char* column : {"SIT_STARTTIME", "SIT_STOPTIME"}) {
        const auto v = Number(site(column));
        if (v && !(*v >= 0 && *v < 1)) throw TSiteRefusal("a time of day HH:MM (UTC), not " + Shown(*v));
    }
    // An empty field reads as null: a required one is refused as blank.
    for (const TTextField& f : TextFields()) {
        const fb::Value v = site(f.Column);
        const auto* text = std::get_if<std::string>(&v);
        if (!text && !f.Required) continue;
        if (const std::string refusal = TextRefusal(f, text ? *text : std::string()); !refusal.empty())
            throw TSiteRefusal(refusal);
    }
}

void CheckPost(const TSiteRow& site) {
    const std::map<std::string, fb::Value> values = {
        {"SIT_NAME", site.Name},
        {"SIT_SQMHOST", site.Host.empty() ? fb::Value{} : fb::Value{site.Host}},
        {"SIT_SQMPORT", int64_t{site.Port}},
        {"SIT_LATIT", site.Latitude ? fb::Value{*site.Latitude} : fb::Value{}},
        {"SIT_LONG", site.Longitude ? fb::Value{*site.Longitude} : fb::Value{}},
        {"SIT_ALT", site.Altitude ? fb::Value{int64_t{*site.Altitude}} : fb::Value{}},
        {"SIT_TIMEZONE", int64_t{site.TimeZone}},
        {"SIT_OFFSET", site.Offset},
        {"SIT_TIMEOUT", int64_t{site.TimeoutSeconds}},
        {"SIT_ACQUIREMODE", int64_t{site.AcquireMode}},
        {"SIT_INTERVAL", int64_t{site.Interval}},
        {"SIT_DAYINTERVAL", int64_t{site.DayInterval}},
        {"SIT_STARTTIME", fb::DateTime{site.StartTime}},
        {"SIT_STOPTIME", fb::DateTime{site.StopTime}},
    };
    CheckPost([&values](const std::string& column) {
        const auto it = values.find(column);
        return it == values.end() ? fb::Value{} : it->second;
    });
}

bool CoordinatesMissing(const TSiteRow& site) { return !site.Latitude || !site.Longitude; }

TMethodGroups GroupsFor(int method) {
    TMethodGroups g;
    g.ReadingTimeLabels = method == kDiscardByDay || method == kDiscardInTwilight;
    g.TimedWindow = method == kTimed;
    g.Daylight = method != kContinuous;
    return g;
}

const char* MethodCaption(int method) {
    switch (method) {
        case kContinuous: return N_("Continuous");
        case kTimed: return N_("Timed");
        case kDiscardByDay: return N_("Discard readings by day");
        case kDiscardInTwilight: return N_("Discard readings in twilight");
        default: return nullptr;
    }
}

std::string SettingsFile(int siteId) { return ProgramPath("WinSetup/SiteForm-" + std::to_string(siteId) + ".ini"); }

int AutostartDelayMs() {
    static std::mt19937 generator{std::random_device{}()};
    return 1000 + std::uniform_int_distribution<int>(0, 2999)(generator);
}

}  // namespace TSiteRules
