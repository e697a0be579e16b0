#include "core/site/settingsactions.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/site/siterules.h"

namespace TSettingsActions {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::optional<int64_t> Whole(const fb::Value& v) {
    if (auto* i = std::get_if<int64_t>(&v)) return *i;
    if (auto* d = std::get_if<double>(&v))
        return static_cast<int64_t>(*d) == *d ? std::optional(static_cast<int64_t>(*d)) : std::nullopt;
    return std::nullopt;
}

// A translated sentence with its %s filled in order.
std::string Filled(std::string format, const std::vector<std::string>& parts) {
    size_t at = 0;
    for (const std::string& part : parts) {
        at = format.find("%s", at);
        if (at == std::string::npos) break;
        format.replace(at, 2, part);
        at += part.size();
    }
    return format;
}

bool Empty(const fb::Value& v) { return std::holds_alternative<std::monostate>(v); }

std::string Shown(const fb::Value& v) {
    if (auto* s = std::get_if<std::string>(&v)) return "'" + *s + "'";
    if (auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
    if (auto* d = std::get_if<double>(&v)) {
        char text[32];
        std::snprintf(text, sizeof text, "%.15g", *d);
        return text;
    }
    return "-";
}

// The site rules' sentence of a range, so a refusal reads alike everywhere.
std::string RangeRefusal(const char* label, int64_t min, int64_t max, const fb::Value& v) {
    if (Empty(v)) return {};
    const auto n = Whole(v);
    if (n && *n >= min && *n <= max) return {};
    const TSiteRules::TFieldRange range{"", label, double(min), double(max), true};
    return TSiteRules::RangeRefusal(range, Shown(v));
}

// A column the select does not have reads as empty.
fb::Value ValueOf(const TDataSet& row, const std::string& column) {
    const auto& names = row.FieldNames();
    return std::find(names.begin(), names.end(), column) != names.end() ? row.FieldValue(column) : fb::Value{};
}

}  // namespace

// ---------------------------------------------------------------- settings

const std::vector<TSetting>& Settings() {
    static const std::vector<TSetting> settings = {
        {"use-internet-time", "SET_USEINTERTETTIME", N_("Use Internet time"), TSettingKind::Switch},
        {"sync-clock", "SET_SYNCLOCK", N_("Sync PC clock"), TSettingKind::Switch},
        {"sync-frequency", "SET_SYNCFREQ", N_("During the readings synchronizes every (minutes)"),
         TSettingKind::Minutes},
        {"upload-data", "SET_UPLOADDATA", N_("Upload data on the Internet"), TSettingKind::Switch},
        {"upload-mode", "SET_UPLOADMODE", N_("Upload mode"), TSettingKind::UploadMode},
    };
    return settings;
}

const TSetting* FindSetting(const std::string& keyOrColumn) {
    const std::string k = Lower(keyOrColumn);
    for (const TSetting& s : Settings())
        if (k == s.Key || k == Lower(s.Column)) return &s;
    return nullptr;
}

std::string SettingRefusal(const TSetting& setting, const fb::Value& value) {
    // A switch and the mode are a box and a pair of buttons in the dialog: 0 or 1.
    return RangeRefusal(setting.Caption, 0, setting.Kind == TSettingKind::Minutes ? kMaxMinutes : 1, value);
}

void CheckSettings(const TDataSet& row) {
    for (const TSetting& s : Settings())
        if (const std::string refusal = SettingRefusal(s, ValueOf(row, s.Column)); !refusal.empty())
            throw TRefusal(refusal);
}

void WireSettings(TDataSet& row) {
    row.BeforePost = [&row] { CheckSettings(row); };
}

TDataSet SettingsRow(fb::Transaction& tr) {
    TDataSet row(tr, kSelectSettings, "SETTINGS", "SET_ID");
    row.Open();
    if (row.Eof()) throw std::runtime_error("the database has no settings row (SETTINGS, SET_ID=1)");
    return row;
}

void ChangeSettings(fb::Transaction& tr, const std::map<std::string, fb::Value>& values) {
    TDataSet row = SettingsRow(tr);
    WireSettings(row);
    for (const auto& [column, value] : values) row.SetField(column, value);
    row.Post();
}

// ---------------------------------------------------------------- time servers

std::string HostRefusal(const std::string& host) {
    static const TSiteRules::TTextField kHost{"NTP_HOST", N_("the host"), 100, true, true};
    return TSiteRules::TextRefusal(kHost, Trim(host));
}

void CheckServer(const TDataSet& row) {
    const fb::Value host = ValueOf(row, "NTP_HOST");
    const auto* text = std::get_if<std::string>(&host);
    std::string refusal = HostRefusal(text ? *text : std::string());
    if (refusal.empty())
        refusal = RangeRefusal(N_("Connection timeout ms"), kMinTimeoutMs, kMaxTimeoutMs, ValueOf(row, "NTP_TIMEOUT"));
    if (refusal.empty()) refusal = RangeRefusal(N_("Order of preference"), 0, kMaxOrder, ValueOf(row, "NTP_ORDER"));
    if (!refusal.empty()) throw TRefusal(refusal);
}

void WireServers(TDataSet& table) {
    table.BeforePost = [&table] { CheckServer(table); };
}

TDataSet ServersTable(fb::Transaction& tr) {
    TDataSet table(tr, kSelectServers, "NTPSERVERS", "NTP_HOST");
    table.Open();
    return table;
}

std::vector<TTimeServer> TimeServers(fb::Transaction& tr) {
    TDataSet table = ServersTable(tr);
    std::vector<TTimeServer> out;
    for (table.First(); !table.Eof(); table.Next())
        out.push_back(
            {Trim(table.AsString("NTP_HOST")), table.FieldValue("NTP_TIMEOUT"), table.FieldValue("NTP_ORDER")});
    return out;
}

int64_t AddTimeServer(fb::Transaction& tr, const std::string& hostText, int64_t timeoutMs,
                      std::optional<int64_t> order) {
    const std::string host = Trim(hostText);
    int64_t last = 0;
    for (const TTimeServer& s : TimeServers(tr)) {
        // The host is the table's key.
        if (s.Host == host)
            throw TRefusal(Filled(Tr(N_("%s is already in the list (order %s)")),
                                  {host, Empty(s.Order) ? std::string("-") : std::to_string(*Whole(s.Order))}));
        if (const auto o = Whole(s.Order)) last = std::max(last, *o);
    }
    const int64_t given = order.value_or(std::min(last + 1, kMaxOrder));
    TDataSet table = ServersTable(tr);
    WireServers(table);
    table.Insert();
    table.SetField("NTP_HOST", host);
    table.SetField("NTP_TIMEOUT", timeoutMs);
    table.SetField("NTP_ORDER", given);
    table.Post();
    return given;
}

bool RemoveTimeServer(fb::Transaction& tr, const std::string& hostText) {
    const std::string host = Trim(hostText);
    TDataSet table = ServersTable(tr);
    for (table.First(); !table.Eof(); table.Next()) {
        if (Trim(table.AsString("NTP_HOST")) != host) continue;
        table.Delete();
        return true;
    }
    return false;
}

}  // namespace TSettingsActions
