// kalosqm-cli net check|send|query|import: the network pages of a site
// window ("Check connection", "Send waiting records", the network query
// and "Save in local DB") on a terminal.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

#include "programs/cli/cli_query.h"
#include "core/station/errorlog.h"
#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "core/site/netquery.h"
#include "core/site/netsync.h"

namespace {

struct NetOptions {
    std::string db;
    int site = 0;
    cli::TSelectionOptions selection;
    bool stats = false;
    bool yes = false;
};

// A site without a code has no credentials file and so no network.
void RequireCode(const TSiteRow& site) {
    if (site.Code.empty())
        throw std::runtime_error("site " + std::to_string(site.Id) + " \"" + Printable(site.Name) +
                                 "\" has no site code, so it takes no part in the network database");
}

TSiteRow ReadSite(fb::Database& db, const NetOptions& o) {
    cli::OpenLocalDatabase(db, o.db);
    TSiteRow site = cli::LoadSite(db, o.site, o.db);
    RequireCode(site);
    return site;
}

class TSleepWait : public IWait {
public:
    void Pause(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

// The upload's panel on standard error: one line rewritten in place on a
// terminal; in a log (a pipe, a file) a line every tenth of the way, so
// the log stays short however many readings wait.
class TStderrProgress : public IUploadProgress {
public:
    void Begin(int total) override {
        total_ = total;
        Show(UploadProgressStartText(total), true);
    }
    void Step(int done, int total, int sent) override {
        sent_ = sent;
        const int tenth = total > 0 ? done * 10 / total : 10;
        Show(UploadProgressDoneText(done, total) + ", " + UploadProgressSentText(sent), tenth > tenth_);
        tenth_ = std::max(tenth_, tenth);
    }
    void End() override {
        if (tty_ && width_ > 0) std::cerr << '\n' << std::flush;
        width_ = 0;
    }
    int Total() const { return total_; }
    int Sent() const { return sent_; }

private:
    void Show(const std::string& line, bool due) {
        if (tty_) {
            std::cerr << '\r' << line << std::string(width_ > line.size() ? width_ - line.size() : 0, ' ')
                      << std::flush;
            width_ = line.size();
        } else if (due) {
            std::cerr << line << '\n' << std::flush;
        }
    }
    const bool tty_ = ::isatty(STDERR_FILENO) != 0;
    size_t width_ = 0;
    int tenth_ = 0;
    int total_ = 0;
    int sent_ = 0;
};

int NeedsYes(const std::string& command, const std::string& what) {
    std::cerr << "kalosqm-cli: " << command << ": standard input is not a terminal to ask on: give --yes to " << what
              << " without being asked\n";
    return 2;
}

int Check(const NetOptions& o) {
    fb::Database db;
    const TSiteRow site = ReadSite(db, o);
    db.Close();
    const TConnectionCheck c = CheckNetworkConnection(site.Code);
    if (!c.Ok) {
        std::cerr << "kalosqm-cli: net check: " << cli::AsLines(c.Message) << "\n";
        return 1;
    }
    std::cout << cli::AsLines(c.Message) << "\n";
    return 0;
}

int Send(const NetOptions& o) {
    fb::Database db;
    const TSiteRow site = ReadSite(db, o);
    cli::TTerminalPrompt prompt("net send", o.yes);
    TSleepWait wait;
    TStderrProgress progress;
    // This process holds the database, so no acquisition can run on it.
    const TSendWaitingOutcome outcome = SendWaitingRecords({
        .Db = db,
        .SiteId = site.Id,
        .SiteCode = site.Code,
        .Acquiring = false,
        .Prompt = prompt,
        .Wait = wait,
        .Progress = &progress,
        .AfterUpload = [&](int sent) {
            std::cout << "Sent " << sent << " of " << progress.Total() << " waiting readings\n";
        },
    });
    db.Close();
    switch (outcome) {
        case TSendWaitingOutcome::Completed:
            if (progress.Sent() < progress.Total()) {
                std::cerr << "kalosqm-cli: net send: " << progress.Total() - progress.Sent()
                          << " readings were not sent and still wait (kalosqm-cli net check --site " << site.Id
                          << " tells whether the network database answers)\n";
                return 1;
            }
            return 0;
        case TSendWaitingOutcome::NotConfirmed:
            if (prompt.NeedsYes()) return NeedsYes("net send", "upload");
            std::cerr << "kalosqm-cli: net send: nothing was sent\n";
            return 1;
        default:
            return 1;  // refused: the prompt said why
    }
}

// The network query of the options; false with the exit code when it
// brought no rows.
bool QueryNetwork(const char* command, const TSiteRow& site, const TQuerySelection& s, std::vector<TNetReading>& table,
                  std::string& message, int& exitCode) {
    const TNetQueryOutcome q = RunNetworkQuery(site.Code, QueryWindowOf(s), s.Order, table);
    message = q.Message;
    if (q.What == TNetQueryOutcome::Kind::Rows) return true;
    if (q.What == TNetQueryOutcome::Kind::NoRows) {
        std::cout << cli::AsLines(q.Message) << "\n";
        exitCode = 0;
    } else {
        std::cerr << "kalosqm-cli: " << command << ": " << cli::AsLines(q.Message) << "\n";
        exitCode = 1;
    }
    return false;
}

int Query(const NetOptions& o) {
    const TQuerySelection s = cli::SelectionOf(o.selection);
    fb::Database db;
    const TSiteRow site = ReadSite(db, o);
    db.Close();
    std::vector<TNetReading> table;
    std::string message;
    int rc = 0;
    if (!QueryNetwork("net query", site, s, table, message, rc)) return rc;
    std::vector<std::vector<std::string>> cells;
    auto time = [](const std::optional<double>& t) { return t ? FormatTimeOfDay(*t) : std::string(); };
    for (const TNetReading& n : table) {
        const TReadingRow r = AsReadingRow(n);
        cells.push_back({FormatSqlDateTime(r.DateTime), cli::Cell(r.Corrected(), 2), cli::Cell(r.Nelm(), 2),
                         cli::Cell(r.Temperature, 1), cli::Cell(r.MoonIllum, 2), time(r.NightStarts),
                         time(r.NightEnds)});
    }
    cli::PrintTabSeparated(std::cout,
                    {Tr("UTC time"), Tr("SQM Value"), Tr("NELM"), Tr("Sensor temp."), Tr("illuminated %"),
                     Tr("Night starts"), Tr("Night ends")},
                    cells);
    if (o.stats) {
        const auto texts = NetworkStatisticsTexts(table, cli::ScriptFormat());
        cli::PrintStatistics(std::cout, {kNetworkStatisticsCaptions.begin(), kNetworkStatisticsCaptions.end()},
                             {texts.begin(), texts.end()});
    }
    std::cout.flush();
    std::cerr << cli::AsLines(message) << "\n";
    return std::cout ? 0 : 1;
}

int Import(const NetOptions& o) {
    const TQuerySelection s = cli::SelectionOf(o.selection);
    fb::Database db;
    const TSiteRow site = ReadSite(db, o);
    std::vector<TNetReading> table;
    std::string message;
    int rc = 0;
    if (!QueryNetwork("net import", site, s, table, message, rc)) return rc;
    cli::TTerminalPrompt prompt("net import", o.yes);
    if (!prompt.Confirm("Save the " + std::to_string(table.size()) + " readings of the network database in the "
                        "local database, under site " + std::to_string(site.Id) + " \"" + Printable(site.Name) +
                        "\"? A local reading with the same key is replaced.")) {
        if (prompt.NeedsYes()) return NeedsYes("net import", "save");
        std::cerr << "kalosqm-cli: net import: nothing was saved\n";
        return 1;
    }
    TImportOutcome r;
    {
        fb::Transaction tr(db);
        tr.Start();
        r = SaveNetworkReadings(tr, site.Id, site.Name, table, NowLocal());
        tr.Commit();
    }
    db.Close();
    std::cout << "Imported " << r.Counts.Inserted + r.Counts.Updated << " of " << table.size() << " readings ("
              << r.Counts.Inserted << " new, " << r.Counts.Updated << " updated)\n";
    if (r.IsError()) {
        prompt.Error(r.Message);
        std::cerr << "kalosqm-cli: net import: " << r.Counts.Failed << " readings failed, see "
                  << TErrorLog::Folder() + "/" + TErrorLog::FileNameFor(site.Name) << "\n";
        return 1;
    }
    prompt.Inform(r.Message);
    return 0;
}

void Add(CLI::App& root) {
    CLI::App* net = root.add_subcommand("net", "a site and the network database (the Noctila)");
    net->require_subcommand(1);
    auto add = [net](const char* name, const char* what, int (*run)(const NetOptions&)) {
        auto o = std::make_shared<NetOptions>();
        CLI::App* c = net->add_subcommand(name, what);
        cli::AddSiteOption(c, o->site);
        cli::AddDbOption(c, o->db);
        cli::SetAction(c, [o, run] { return run(*o); });
        return std::make_pair(c, o);
    };
    add("check", "test the connection with the site's credentials file (\"Check connection\")", &Check);

    auto [send, so] = add("send", "send the site's waiting readings (\"Send waiting records\")", &Send);
    send->add_flag("--yes", so->yes, "send without asking (needed when standard input is not a terminal)");

    auto [query, qo] = add("query", "the site's readings of a night or an interval in the network database", &Query);
    cli::AddSelectionOptions(query, qo->selection, true);
    query->add_flag("--stats", qo->stats, "after the rows, their number, average, deviation, maximum and minimum");

    auto [imp, io] =
        add("import", "save the site's network readings of a night or an interval in the local database", &Import);
    cli::AddSelectionOptions(imp, io->selection, false);
    imp->add_flag("--yes", io->yes, "save without asking (needed when standard input is not a terminal)");
}

}  // namespace

KALO_CLI_COMMAND("net", &Add);
