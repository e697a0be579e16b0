// kalosqm-cli sites | site add|set|show|remove|test: the sites of the local
// database from a shell, for a station without a screen. The site row is
// edited as the site window edits it: the same defaults of a new site, the
// same checks before a save and the same warning after it.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
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
#include "core/site/outreach.h"
#include "core/site/readingwindow.h"
#include "core/site/siteactions.h"
#include "core/site/siteedit.h"
#include "core/site/sitelist.h"
#include "core/site/siterow.h"
#include "core/site/siterules.h"
#include "core/station/sqm.h"

namespace {

// ---------------------------------------------------------------- fields

enum class Kind { Text, Integer, Number, Time, Switch, Method };

struct TFieldSpec {
    const char* option;  // without the dashes
    const char* column;  // its rules and their words are the site rules' own
    Kind kind;
    const char* what;
};

const TFieldSpec kFields[] = {
    {"name", "SIT_NAME", Kind::Text, "site name (\"Name\")"},
    {"host", "SIT_SQMHOST", Kind::Text, "host name or IP address of the SQM-LE"},
    {"port", "SIT_SQMPORT", Kind::Integer, "TCP port of the SQM-LE (new site: 10001)"},
    {"lat", "SIT_LATIT", Kind::Number, "latitude in degrees, north positive"},
    {"lon", "SIT_LONG", Kind::Number, "longitude in degrees, east positive"},
    {"alt", "SIT_ALT", Kind::Integer, "altitude in metres"},
    {"timezone", "SIT_TIMEZONE", Kind::Integer,
     "time zone, whole hours from Greenwich, east positive (new site: the PC's, daylight saving ignored)"},
    {"offset", "SIT_OFFSET", Kind::Number, "calibration offset in mag/arcsec^2, 2 decimals (new site: 0)"},
    {"timeout", "SIT_TIMEOUT", Kind::Integer, "connection timeout towards the meter in seconds (new site: 10)"},
    {"method", "SIT_ACQUIREMODE", Kind::Method,
     "acquisition method: 0 Continuous, 1 Timed, 2 \"Discard readings by day\", 3 \"Discard readings in twilight\" "
     "(new site: 0)"},
    {"interval", "SIT_INTERVAL", Kind::Integer, "minutes between two readings, at least 1 (new site: 1)"},
    {"start", "SIT_STARTTIME", Kind::Time, "start of the reading time of the Timed method, HH:MM UTC"},
    {"stop", "SIT_STOPTIME", Kind::Time, "stop of the reading time of the Timed method, HH:MM UTC"},
    {"day-readings", "SIT_DAYREADING", Kind::Switch, "also read in daylight: on|off (new site: off)"},
    {"day-interval", "SIT_DAYINTERVAL", Kind::Integer,
     "minutes between two daylight readings, 0 at every tick (new site: 10)"},
    {"autostart", "SIT_AUTOSTART", Kind::Switch,
     "start the readings at the program's start and with kalosqm-station: on|off (new site: off)"},
    {"auto-upload", "SIT_AUTOUPLOAD", Kind::Switch,
     "upload each reading to the network database when the settings allow it: on|off (new site: on)"},
};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::optional<double> ParseNumber(const std::string& text, bool whole) {
    std::string t = text;
    if (!t.empty() && t[0] == '+') t.erase(0, 1);
    if (t.empty()) return std::nullopt;
    const char* end = t.data() + t.size();
    if (whole) {
        long long v = 0;
        const auto [p, ec] = std::from_chars(t.data(), end, v);
        if (ec != std::errc() || p != end) return std::nullopt;
        return static_cast<double>(v);
    }
    double v = 0;
    const auto [p, ec] = std::from_chars(t.data(), end, v, std::chars_format::fixed);
    if (ec != std::errc() || p != end || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<int> ParseMethod(const std::string& text) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '3') return text[0] - '0';
    std::string t = cli::Lower(text);
    for (char& c : t)
        if (c == '-' || c == '_') c = ' ';
    for (int m = 0; m <= 3; ++m)
        if (t == cli::Lower(TSiteRules::MethodCaption(m))) return m;
    return std::nullopt;
}

// "HH:MM" (or "H:MM", "HH.MM" as the window takes it) as a time of day.
std::optional<double> ParseTimeOfDay(const std::string& text) {
    const size_t sep = text.find_first_of(":.");
    if (sep == std::string::npos || sep == 0 || sep > 2 || text.size() != sep + 3) return std::nullopt;
    const std::string h = text.substr(0, sep), m = text.substr(sep + 1);
    if (h.find_first_not_of("0123456789") != std::string::npos || m.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int hour = std::stoi(h), minute = std::stoi(m);
    if (hour > 23 || minute > 59) return std::nullopt;
    return EncodeTime(hour, minute, 0);
}

// The refusal of a value, or empty when it is good.
std::string CheckField(const TFieldSpec& f, const std::string& text) {
    switch (f.kind) {
        case Kind::Text:  // the window's save refuses with the same words
            return TSiteRules::TextRefusal(*TSiteRules::TextFieldOf(f.column), text);
        case Kind::Integer:
        case Kind::Number: {
            // The range is the site rules' own: a save checks it again.
            const TSiteRules::TFieldRange& range = *TSiteRules::RangeOf(f.column);
            const auto v = ParseNumber(text, f.kind == Kind::Integer);
            if (!v || *v < range.Min || *v > range.Max)
                return TSiteRules::RangeRefusal(range, Quote(text)) +
                       (v || f.kind == Kind::Integer ? "" : " (the decimal point is '.')");
            return {};
        }
        case Kind::Time:
            return ParseTimeOfDay(text) ? std::string() : "a time of day HH:MM (UTC), not " + Quote(text);
        case Kind::Switch:
            return cli::ParseSwitch(text) ? std::string() : "on or off, not " + Quote(text);
        case Kind::Method:
            return ParseMethod(text) ? std::string()
                                     : "0-3 or one of \"Continuous\", \"Timed\", \"Discard readings by day\", "
                                       "\"Discard readings in twilight\", not " +
                                           Quote(text);
    }
    return {};
}

fb::Value FieldValue(const TFieldSpec& f, const std::string& text) {
    switch (f.kind) {
        case Kind::Text: return text;
        case Kind::Integer: return static_cast<int64_t>(*ParseNumber(text, true));
        case Kind::Number: return *ParseNumber(text, false);
        case Kind::Time: return fb::DateTime{*ParseTimeOfDay(text)};
        case Kind::Switch: return int64_t{*cli::ParseSwitch(text)};
        case Kind::Method: return int64_t{*ParseMethod(text)};
    }
    return {};
}

struct TFieldOptions {
    std::vector<std::string> texts = std::vector<std::string>(std::size(kFields));
    std::vector<CLI::Option*> options = std::vector<CLI::Option*>(std::size(kFields), nullptr);
    std::string code;

    bool Any() const {
        for (const CLI::Option* o : options)
            if (o->count() > 0) return true;
        return false;
    }
};

void AddFieldOptions(CLI::App* c, TFieldOptions& o, bool adding) {
    for (size_t i = 0; i < std::size(kFields); ++i) {
        const TFieldSpec& f = kFields[i];
        const TFieldSpec* field = &f;
        CLI::Option* opt = c->add_option(std::string("--") + f.option, o.texts[i], f.what);
        opt->check(CLI::Validator([field](std::string& text) { return CheckField(*field, text); }, ""));
        switch (f.kind) {
            case Kind::Text: opt->type_name("TEXT"); break;
            case Kind::Integer: opt->type_name("N"); break;
            case Kind::Number: opt->type_name("X"); break;
            case Kind::Time: opt->type_name("HH:MM"); break;
            case Kind::Switch: opt->type_name("on|off"); break;
            case Kind::Method: opt->type_name("METHOD"); break;
        }
        if (adding && (std::string(f.option) == "name" || std::string(f.option) == "host")) opt->required();
        o.options[i] = opt;
    }
    c->add_option("--code", o.code,
                  "not here: a site code comes with the network operator's credentials file (desktop program, "
                  "site window, \"Noctila settings\", \"Set credentials\")")
        ->type_name("CODE")
        ->check(CLI::Validator(
            [](std::string&) -> std::string {
                return "the site code is not set here: it comes with the site's credentials file, activated in the "
                       "desktop program (site window, page \"Noctila settings\", \"Set credentials\")";
            },
            ""));
}

// ---------------------------------------------------------------- the record

TSiteActions::TSiteFields FieldsOf(const TFieldOptions& o) {
    TSiteActions::TSiteFields fields;
    for (size_t i = 0; i < std::size(kFields); ++i)
        if (o.options[i]->count() > 0) fields[kFields[i].column] = FieldValue(kFields[i], o.texts[i]);
    return fields;
}

void WarnAfterSave(const TSiteRow& site) {
    if (TSiteRules::CoordinatesMissing(site))
        std::cerr << Tr("Warning, latitude / longitude, were not specified: it is impossible to correctly calculate twilights")
                  << "\n";
}

// Runs a save; a refusal of the site rules leaves everything unwritten.
bool SavedOrRefused(const char* command, const std::function<void()>& save) {
    try {
        save();
        return true;
    } catch (const TSiteRules::TSiteRefusal& e) {
        std::cerr << "site " << command << ": not saved: " << e.what() << "\n";
        return false;
    }
}

std::string NoSite(int id, const std::string& db) {
    return "there is no site with id " + std::to_string(id) + " in " + db + " (kalosqm-cli sites lists them)";
}

// A missing row says how to find the ids.
TSiteRow ExistingSite(fb::Database& db, int id, const std::string& file) {
    return cli::ReadExistingSite(db, id, NoSite(id, file));
}

std::string MeterAddress(const TSiteRow& s) {
    const std::string host = s.Host.find(':') != std::string::npos ? "[" + s.Host + "]" : s.Host;
    return host + ":" + std::to_string(s.Port);
}

std::string MethodText(int method) {
    const char* caption = TSiteRules::MethodCaption(method);
    return caption ? Tr(caption) : "none (" + std::to_string(method) + ")";
}

// ---------------------------------------------------------------- commands

int List(const std::string& file) {
    std::vector<TSiteRow> sites;
    {
        cli::TLocalWork work(file);
        for (const TSiteListRow& r : ReadSiteList(work.tr)) sites.push_back(ReadSiteRow(work.db, r.Id));
        work.tr.Commit();
    }
    if (sites.empty()) {
        std::cout << "There is no site in " << file << " yet. Add one with\n"
                  << "  kalosqm-cli site add --name NAME --host HOST [--port PORT] [--lat DEG --lon DEG] ...\n"
                  << "(kalosqm-cli site add --help lists every field).\n";
        return 0;
    }
    std::vector<std::vector<std::string>> rows{{"ID", "NAME", "CODE", "SQM-LE", "METHOD", "AUTOSTART"}};
    for (const TSiteRow& s : sites)
        rows.push_back({std::to_string(s.Id), s.Name, s.Code.empty() ? "-" : s.Code, MeterAddress(s),
                        MethodText(s.AcquireMode), cli::SwitchText(s.AutoStart)});
    cli::PrintTable(std::cout, rows);
    return 0;
}

int AddSite(const std::string& file, const TFieldOptions& o) {
    cli::TLocalWork work(file);
    int id = 0;
    if (!SavedOrRefused("add", [&] { id = TSiteActions::AddSite(work.tr, FieldsOf(o), PcZoneInfo()); })) return 1;
    work.tr.Commit();
    const TSiteRow site = ReadSiteRow(work.db, id);
    std::cout << site.Id << "\n";
    WarnAfterSave(site);
    // A new station reaches out at its first start: say so before it does.
    for (const std::string& line : OutreachLines(work.db)) std::cerr << line << "\n";
    return 0;
}

int SetSite(const std::string& file, int id, const TFieldOptions& o) {
    if (!o.Any()) throw cli::UsageError("site set: nothing to change: give at least one field option (site set --help)");
    cli::TLocalWork work(file);
    ExistingSite(work.db, id, file);
    if (!SavedOrRefused("set", [&] { TSiteActions::UpdateSite(work.tr, id, FieldsOf(o)); })) return 1;
    work.tr.Commit();
    const TSiteRow site = ReadSiteRow(work.db, id);
    std::cout << "site " << id << " \"" << site.Name << "\" saved\n";
    WarnAfterSave(site);
    return 0;
}

std::string ValueText(const fb::Value& v, Kind kind) {
    if (std::holds_alternative<std::monostate>(v)) return "-";
    switch (kind) {
        case Kind::Time: {
            const double t = std::get<fb::DateTime>(v).value;
            const DateTimeParts p = DecodeDateTime(t - std::floor(t));
            char text[8];
            std::snprintf(text, sizeof text, "%02d:%02d", p.hour, p.minute);
            return text;
        }
        case Kind::Switch: return cli::SwitchText(std::get<int64_t>(v) == 1);
        case Kind::Method: {
            const int m = static_cast<int>(std::get<int64_t>(v));
            return std::to_string(m) + " " + MethodText(m);
        }
        case Kind::Number: {
            char text[32];
            std::snprintf(text, sizeof text, "%.15g", std::get_if<double>(&v) ? std::get<double>(v)
                                                                               : static_cast<double>(std::get<int64_t>(v)));
            return text;
        }
        default:
            if (auto* s = std::get_if<std::string>(&v)) return Trim(*s);
            if (auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
            return "?";
    }
}

int ShowSite(const std::string& file, int id) {
    cli::TLocalWork work(file);
    TDataSet ds = TSiteActions::SiteRecord(work.tr);
    ds.SetParam("ID_SITO", int64_t{id});
    ds.Open();
    if (ds.Eof()) throw std::runtime_error(NoSite(id, file));
    std::vector<std::vector<std::string>> rows{{"FIELD", "VALUE", "COLUMN"}, {"id", std::to_string(id), "SIT_ID"}};
    for (const TFieldSpec& f : kFields) {
        rows.push_back({f.option, ValueText(ds.FieldValue(f.column), f.kind), f.column});
        if (std::string(f.option) == "name") rows.push_back({"code", ValueText(ds.FieldValue("SIT_CODE"), Kind::Text), "SIT_CODE"});
    }
    for (const auto& [label, column] : {std::pair{"protocol", "SIT_SQMPROT"}, {"model", "SIT_SQMMODEL"},
                                        {"feature", "SIT_SQMFEATURE"}, {"serial", "SIT_SQMSERIAL"}})
        rows.push_back({label, ValueText(ds.FieldValue(column), Kind::Integer), column});
    work.tr.Commit();
    cli::PrintTable(std::cout, rows);
    return 0;
}

// Asks on the terminal; an empty answer or the end of input is the safe one.
bool Ask(const std::string& question, bool safeAnswer) {
    std::string text = question;
    for (char& c : text)
        if (c == '\r') c = '\n';
    std::cerr << text << (safeAnswer ? " [Y/n] " : " [y/N] ") << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::cerr << "\n";
        return safeAnswer;
    }
    answer = cli::Lower(Trim(answer));
    if (answer == "y" || answer == "yes") return true;
    if (answer == "n" || answer == "no") return false;
    return safeAnswer;
}

// Progress on standard error: one line rewritten on a terminal, a line per
// tenth otherwise.
TSiteProgress ProgressLine(const std::string& what) {
    const bool tty = ::isatty(STDERR_FILENO) == 1;
    auto shown = std::make_shared<int>(-1);
    return [what, shown, tty](int64_t done, int64_t total) {
        const int percent = total > 0 ? static_cast<int>(std::min(done, total) * 100 / total) : 100;
        if (percent == *shown || (!tty && *shown >= 0 && percent / 10 == *shown / 10 && percent != 100)) return true;
        *shown = percent;
        if (tty)
            std::cerr << "\r" << what << " " << percent << "%" << (percent == 100 ? "\n" : "") << std::flush;
        else
            std::cerr << what << " " << percent << "%\n";
        return true;
    };
}

// The two questions of a deletion on the terminal: each question's safe
// answer is the one that keeps the site; --yes gives the answers that delete.
class TRemovalTerminal : public IPrompt {
public:
    TRemovalTerminal(const std::string& name, bool yes) : questions_(TSiteActions::RemovalQuestions(name)), yes_(yes) {}
    void Inform(const std::string& text) override { std::cerr << text << "\n"; }
    void Error(const std::string& text) override { std::cerr << "error: " << text << "\n"; }
    bool Confirm(const std::string& text) override {
        const auto q = std::find_if(questions_.begin(), questions_.end(),
                                    [&text](const TSiteActions::TRemovalQuestion& q) { return q.Text == text; });
        const bool deletes = q == questions_.end() || q->Deletes;
        return yes_ ? deletes : Ask(text, !deletes);
    }

private:
    std::vector<TSiteActions::TRemovalQuestion> questions_;
    bool yes_;
};

int RemoveSite(const std::string& file, int id, bool yes) {
    cli::TLocalWork work(file);
    const TSiteRow site = ExistingSite(work.db, id, file);
    if (!yes) {
        if (::isatty(STDIN_FILENO) != 1) {
            std::cerr << "site remove: not deleted: the two questions of the deletion need a terminal; add --yes to "
                         "delete site "
                      << id << " \"" << site.Name << "\" and all its readings\n";
            return 1;
        }
        std::cerr << "Site " << id << " \"" << site.Name << "\" (" << MeterAddress(site) << ")\n";
    }
    TRemovalTerminal prompt(site.Name, yes);
    TSiteActions::TRemovalSteps steps;
    steps.Deleting = ProgressLine(Tr("Deleting the site and its readings..."));
    steps.Collecting = ProgressLine(Tr("Clearing the deleted readings from the database file..."));
    const TSiteDeletion deletion = TSiteActions::RemoveSite(work.tr, id, prompt, steps);
    if (!deletion.Deleted) {
        std::cerr << "site remove: site " << id << " kept\n";
        return 1;
    }
    std::cout << "site " << id << " \"" << site.Name << "\" deleted with its " << deletion.Readings << " readings\n";
    return 0;
}

int TestSite(const std::string& file, int id) {
    cli::TLocalWork work(file);
    const TSiteRow site = ExistingSite(work.db, id, file);
    TStationFactory factory;
    std::unique_ptr<TSQM> made;
    TDataSet record = TSiteActions::SiteRecord(work.tr);
    TSiteActions::WireRecord(record, PcZoneInfo());
    record.SetParam("ID_SITO", int64_t{id});
    record.Open();
    TSiteActions::TMeterCheck check;
    try {
        // Stored as the window's save would: its checks first.
        check = TSiteActions::CheckConnection(record, nullptr, [&]() -> TSQM& {
            made = factory.Create(TSiteEdit::TestStationParams(site, work.db));
            return *made;
        });
    } catch (const fb::Error&) {
        throw;
    } catch (const TSiteRules::TSiteRefusal& e) {
        std::cerr << "site test: the identity was not stored: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "site test: SQM-LE at " << MeterAddress(site) << ": " << e.what() << "\n";
        return 1;
    }
    if (!check.Found) {
        std::cerr << Tr("SQM-LE not found") << " (no identity from " << MeterAddress(site) << " within "
                  << site.TimeoutSeconds << " s)\n";
        return 1;
    }
    work.tr.Commit();
    auto identity = [&check](const char* column) { return std::get<int64_t>(check.Identity.at(column)); };
    std::cout << Tr("SQM-LE correctly found") << "\n"
              << "Protocol: " << identity("SIT_SQMPROT") << "\nModel: " << identity("SIT_SQMMODEL")
              << "\nFeature: " << identity("SIT_SQMFEATURE") << "\nSerial: " << identity("SIT_SQMSERIAL") << "\n";
    WarnAfterSave(site);
    return 0;
}

// ---------------------------------------------------------------- wiring

void AddSites(CLI::App& root) {
    auto db = std::make_shared<std::string>();
    CLI::App* c = root.add_subcommand("sites", "list the sites of the local database");
    cli::AddDbOption(c, *db);
    cli::SetAction(c, [db] { return List(*db); });
}

void AddSiteCommands(CLI::App& root) {
    CLI::App* site = root.add_subcommand("site", "add, change, show, remove or test one site of the local database");
    site->require_subcommand(1);

    struct Options {
        std::string db;
        int id = 0;
        bool yes = false;
        TFieldOptions fields;
    };
    auto addId = [](CLI::App* c, int& id) {
        const CLI::Validator siteId(
            [](std::string& text) -> std::string {
                const auto v = ParseNumber(text, true);
                return v && *v >= 1 && *v <= 2147483647 ? std::string()
                                                        : "a site id is a whole number from 1, not " + Quote(text) +
                                                              " (kalosqm-cli sites lists them)";
            },
            "");
        c->add_option("id", id, "the site's id (kalosqm-cli sites lists them)")->required()->check(siteId);
    };

    auto a = std::make_shared<Options>();
    CLI::App* add = site->add_subcommand(
        "add", "a new site with the site window's defaults, then the given fields; prints its id");
    AddFieldOptions(add, a->fields, true);
    cli::AddDbOption(add, a->db);
    cli::SetAction(add, [a] { return AddSite(a->db, a->fields); });

    auto s = std::make_shared<Options>();
    CLI::App* set = site->add_subcommand("set", "change fields of a site");
    addId(set, s->id);
    AddFieldOptions(set, s->fields, false);
    cli::AddDbOption(set, s->db);
    cli::SetAction(set, [s] { return SetSite(s->db, s->id, s->fields); });

    auto sh = std::make_shared<Options>();
    CLI::App* show = site->add_subcommand("show", "every field of a site");
    addId(show, sh->id);
    cli::AddDbOption(show, sh->db);
    cli::SetAction(show, [sh] { return ShowSite(sh->db, sh->id); });

    auto r = std::make_shared<Options>();
    CLI::App* remove = site->add_subcommand(
        "remove", "delete a site and all its readings, after the site list's two questions (asked on the terminal)");
    addId(remove, r->id);
    remove->add_flag("--yes", r->yes, "delete without asking (the answers that delete)");
    cli::AddDbOption(remove, r->db);
    cli::SetAction(remove, [r] { return RemoveSite(r->db, r->id, r->yes); });

    auto t = std::make_shared<Options>();
    CLI::App* test = site->add_subcommand(
        "test", "\"Check connection\": ask the site's SQM-LE for its identity and store it with the site");
    addId(test, t->id);
    cli::AddDbOption(test, t->db);
    cli::SetAction(test, [t] { return TestSite(t->db, t->id); });
}

}  // namespace

KALO_CLI_COMMAND("sites", &AddSites);
KALO_CLI_COMMAND("site", &AddSiteCommands);
