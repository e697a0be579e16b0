// kalosqm-cli settings [show] | settings set KEY VALUE: the settings row, as
// the Settings dialog shows and edits it.
// kalosqm-cli timeservers [list] | add HOST | remove HOST: the time servers,
// as the NTP Servers dialog edits them.
#include <functional>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "programs/cli/cli.h"
#include "programs/cli/cli_table.h"
#include "core/station/dataset.h"
#include "core/station/fbdb.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/site/settingsactions.h"

namespace {

using TSettingsActions::TSetting;
using TSettingsActions::TSettingKind;

// ---------------------------------------------------------------- settings

std::string KeyList() {
    std::string list;
    for (const TSetting& s : TSettingsActions::Settings()) list += (list.empty() ? "" : ", ") + std::string(s.Key);
    return list;
}

std::optional<int64_t> ParseWhole(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoll(text);
}

// The value to store, or a usage error saying what the setting takes.
fb::Value SettingValue(const TSetting& s, const std::string& text) {
    switch (s.Kind) {
        case TSettingKind::Switch:
            if (const auto v = cli::ParseSwitch(text)) return int64_t{*v};
            throw cli::UsageError(std::string(s.Key) + " is on or off (1 or 0), not '" + text + "'");
        case TSettingKind::Minutes:
            if (const auto v = ParseWhole(text)) return *v;
            throw cli::UsageError(std::string(s.Key) + " is a whole number of minutes from 0 to " +
                                  std::to_string(TSettingsActions::kMaxMinutes) + " (0: before every reading), not '" +
                                  text + "'");
        case TSettingKind::UploadMode: {
            const std::string t = cli::Lower(text);
            if (t == "automatic" || t == "0") return int64_t{0};
            if (t == "manual" || t == "1") return int64_t{1};
            throw cli::UsageError(std::string(s.Key) + " is automatic or manual (0 or 1), not '" + text + "'");
        }
    }
    return {};
}

bool IsNull(const fb::Value& v) { return std::holds_alternative<std::monostate>(v); }

int64_t Whole(const fb::Value& v) {
    if (auto* i = std::get_if<int64_t>(&v)) return *i;
    if (auto* d = std::get_if<double>(&v)) return static_cast<int64_t>(*d);
    return 0;
}

std::string SettingText(const TSetting& s, const fb::Value& v) {
    if (IsNull(v)) return "-";
    switch (s.Kind) {
        case TSettingKind::Switch: return cli::SwitchText(Whole(v) == 1);
        case TSettingKind::Minutes: return std::to_string(Whole(v));
        case TSettingKind::UploadMode:
            return Whole(v) == 0 ? Tr("Automatic") : Whole(v) == 1 ? Tr("Manual") : std::to_string(Whole(v));
    }
    return {};
}

// The dialog greys these out while the setting they depend on is off. Only
// what concerns the changed setting, when one was changed.
void NoteUnused(const TDataSet& ds, const TSetting* changed = nullptr) {
    auto about = [changed](std::initializer_list<const char*> columns) {
        if (!changed) return true;
        for (const char* c : columns)
            if (std::string(c) == changed->Column) return true;
        return false;
    };
    if (Whole(ds.FieldValue("SET_USEINTERTETTIME")) != 1 && about({"SET_USEINTERTETTIME", "SET_SYNCLOCK", "SET_SYNCFREQ"}))
        std::cout << "Sync PC clock and the synchronisation frequency count only while Use Internet time is on.\n";
    if (Whole(ds.FieldValue("SET_UPLOADDATA")) != 1 && about({"SET_UPLOADDATA", "SET_UPLOADMODE"}))
        std::cout << "Upload mode counts only while Upload data on the Internet is on.\n";
}

int ShowSettings(const std::string& file) {
    cli::TLocalWork work(file);
    const TDataSet ds = TSettingsActions::SettingsRow(work.tr);
    const fb::Value& version = ds.FieldValue("SET_DBVERSION");
    std::vector<std::vector<std::string>> rows{
        {"SETTING", "VALUE", "KEY", "COLUMN"},
        {Tr("Database version"), IsNull(version) ? "-" : Trim(ds.AsString("SET_DBVERSION")), "(read-only)",
         "SET_DBVERSION"}};
    for (const TSetting& s : TSettingsActions::Settings())
        rows.push_back({Tr(s.Caption), SettingText(s, ds.FieldValue(s.Column)), s.Key, s.Column});
    cli::PrintTable(std::cout, rows);
    NoteUnused(ds);
    work.tr.Commit();
    return 0;
}

int SetSetting(const std::string& file, const std::string& key, const std::string& text) {
    const std::string k = cli::Lower(key);
    if (k == "database-version" || k == "set_dbversion")
        throw cli::UsageError("the database version is read-only: the program's upgrade of the file sets it");
    const TSetting* s = TSettingsActions::FindSetting(key);
    if (!s) throw cli::UsageError("no setting '" + key + "': the keys are " + KeyList() + " (or their SET_ columns)");
    const fb::Value value = SettingValue(*s, text);
    if (const std::string refusal = TSettingsActions::SettingRefusal(*s, value); !refusal.empty())
        throw cli::UsageError(refusal);
    cli::TLocalWork work(file);
    TSettingsActions::ChangeSettings(work.tr, {{s->Column, value}});
    const TDataSet ds = TSettingsActions::SettingsRow(work.tr);
    work.tr.Commit();
    std::cout << Tr(s->Caption) << " (" << s->Column << "): " << SettingText(*s, value) << "\n";
    NoteUnused(ds, s);
    return 0;
}

// ---------------------------------------------------------------- time servers

std::string Number(const fb::Value& v) { return IsNull(v) ? "-" : std::to_string(Whole(v)); }

int ListServers(const std::string& file) {
    cli::TLocalWork work(file);
    const std::vector<TSettingsActions::TTimeServer> servers = TSettingsActions::TimeServers(work.tr);
    work.tr.Commit();
    if (servers.empty()) {
        std::cout << "There is no time server in " << file << ". Add one with\n"
                  << "  kalosqm-cli timeservers add HOST [--timeout MS] [--order N]\n";
        return 0;
    }
    std::vector<std::vector<std::string>> rows{{Tr("Host"), Tr("Connection timeout ms"), Tr("Order of preference")}};
    for (const auto& s : servers) rows.push_back({s.Host, Number(s.Timeout), Number(s.Order)});
    cli::PrintTable(std::cout, rows);
    return 0;
}

struct TAddOptions {
    std::string host;
    int64_t timeout = TSettingsActions::kDefaultTimeoutMs;
    int64_t order = 0;
    CLI::Option* orderOption = nullptr;
};

int AddServer(const std::string& file, const TAddOptions& o) {
    cli::TLocalWork work(file);
    int64_t order = 0;
    try {
        order = TSettingsActions::AddTimeServer(work.tr, o.host, o.timeout,
                                                o.orderOption->count() > 0 ? std::optional(o.order) : std::nullopt);
    } catch (const TSettingsActions::TRefusal& e) {
        std::cerr << "timeservers add: " << e.what() << ": nothing added\n";
        return 1;
    }
    work.tr.Commit();
    std::cout << "time server " << Trim(o.host) << " added: timeout " << o.timeout << " ms, order " << order << "\n";
    return 0;
}

int RemoveServer(const std::string& file, const std::string& hostText) {
    const std::string host = Trim(hostText);
    cli::TLocalWork work(file);
    if (!TSettingsActions::RemoveTimeServer(work.tr, host)) {
        std::cerr << "timeservers remove: there is no time server " << host
                  << " (kalosqm-cli timeservers list shows them): nothing removed\n";
        return 1;
    }
    work.tr.Commit();
    std::cout << "time server " << host << " removed\n";
    return 0;
}

const CLI::Validator& ServerHost() {
    static const CLI::Validator v([](std::string& text) { return TSettingsActions::HostRefusal(text); }, "HOST");
    return v;
}

// ---------------------------------------------------------------- wiring

// A command whose plain form shows what it edits. --db names one file
// whether it comes before or after the subcommand, and the command's own
// action (it runs after its subcommand's) keeps that one's exit code.
class TShowingCommand {
public:
    using TWork = std::function<int(const std::string& db)>;
    TShowingCommand(CLI::App& root, const std::string& name, const std::string& help, TWork show)
        : app_(root.add_subcommand(name, help)) {
        app_->require_subcommand(0, 1);
        cli::AddDbOption(app_, *db_);
        cli::SetAction(app_, [app = app_, db = db_, last = last_, show] {
            return app->get_subcommands().empty() ? show(*db) : *last;
        });
    }
    CLI::App* Add(const std::string& name, const std::string& help, TWork work) {
        CLI::App* sub = app_->add_subcommand(name, help);
        cli::AddDbOption(sub, *db_);
        cli::SetAction(sub, [db = db_, last = last_, work] { return *last = work(*db); });
        return sub;
    }

private:
    CLI::App* app_;
    std::shared_ptr<std::string> db_ = std::make_shared<std::string>();
    std::shared_ptr<int> last_ = std::make_shared<int>(0);
};

void AddSettings(CLI::App& root) {
    TShowingCommand settings(root, "settings", "the settings row of the local database (show, set)", ShowSettings);
    settings.Add("show", "the settings with their keys (the same as plain 'settings')", ShowSettings);

    struct SetOptions {
        std::string key, value;
    };
    auto o = std::make_shared<SetOptions>();
    CLI::App* set = settings.Add(
        "set",
        "change one setting: KEY is " + KeyList() + " (or its SET_ column); VALUE is on/off (1/0), a whole "
        "number of minutes for sync-frequency, automatic/manual (0/1) for upload-mode",
        [o](const std::string& db) { return SetSetting(db, o->key, o->value); });
    set->add_option("key", o->key, "the setting")->required();
    set->add_option("value", o->value, "its new value")->required();
}

void AddTimeServers(CLI::App& root) {
    TShowingCommand servers(root, "timeservers", "the time servers of the local database (list, add, remove)",
                            ListServers);
    servers.Add("list", "the servers in their order of preference (the same as plain 'timeservers')", ListServers);

    auto a = std::make_shared<TAddOptions>();
    CLI::App* add = servers.Add("add", "add a time server (RFC 868 Time protocol)",
                                [a](const std::string& db) { return AddServer(db, *a); });
    add->add_option("host", a->host, "host name or address")->required()->check(ServerHost());
    add->add_option("--timeout", a->timeout, "connection timeout in milliseconds")
        ->check(CLI::Range(TSettingsActions::kMinTimeoutMs, TSettingsActions::kMaxTimeoutMs))
        ->capture_default_str();
    a->orderOption = add->add_option("--order", a->order, "order of preference (default: after the last)")
                         ->check(CLI::Range(int64_t{0}, TSettingsActions::kMaxOrder));

    auto host = std::make_shared<std::string>();
    CLI::App* remove = servers.Add("remove", "remove a time server",
                                   [host](const std::string& db) { return RemoveServer(db, *host); });
    remove->add_option("host", *host, "its host, as listed")->required();
}

}  // namespace

KALO_CLI_COMMAND("settings", &AddSettings);
KALO_CLI_COMMAND("timeservers", &AddTimeServers);
