#include "programs/station/servicecore.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <set>

#include "core/site/datamodule.h"
#include "core/site/jobrunner.h"
#include "core/station/errorlog.h"
#include "core/station/fbdb.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/station/programlayout.h"
#include "plot/nightplotfile.h"
#include "programs/station/stationweb.h"
#include "core/site/languages.h"
#include "core/site/nightsummaries.h"
#include "core/site/outreach.h"
#include "core/site/readingwindow.h"
#include "core/site/siteactions.h"
#include "core/site/siterow.h"
#include "core/site/siterules.h"
#include "core/station/sqm.h"
#include "core/station/version.h"

namespace {

// The journal's words stay English, as the window's captions are written.
std::string MethodName(int method) {
    const char* caption = TSiteRules::MethodCaption(method);
    return caption ? caption : "no reading window";
}

sigset_t ServiceSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

const char* SignalName(int sig) {
    switch (sig) {
        case SIGTERM: return "SIGTERM";
        case SIGINT: return "SIGINT";
        case SIGHUP: return "SIGHUP";
        default: return "a signal";
    }
}

// How often the loop looks for finished conversations while one runs.
constexpr long long kJobPollMs = 20;
// How long a stop waits for them.
constexpr long long kStopWaitMs = 20000;

std::string Quoted(const std::string& name) { return "\"" + Printable(name) + "\""; }

// Where the line just logged went, or that it was lost (the log watcher has
// said why, once).
std::string LoggedIn(const std::string& logName) {
    const std::string path = TErrorLog::Folder() + "/" + TErrorLog::FileNameFor(logName);
    const std::string failing = TErrorLog::Failing(logName);
    return failing.empty() ? " (logged in " + path + ")" : " (not logged: " + path + " cannot be written: " + failing + ")";
}

// Each tick's outcome reaches the journal when the tick ends, which for a
// due reading is once its conversation has been applied.
class TTickLines : public ISiteView {
public:
    std::function<void()> ended;
    void TickEnded(const TTickReport&) override {
        if (ended) ended();
    }
};

// The data module's error box: one journal line per line of it.
void SayBox(const std::string& text) {
    std::string::size_type from = 0;
    for (auto at = text.find('\n');; at = text.find('\n', from)) {
        Say("kalosqm-station: " + Printable(text.substr(from, at == std::string::npos ? at : at - from)));
        if (at == std::string::npos) break;
        from = at + 1;
    }
}

}  // namespace

void Say(const std::string& line) {
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

std::string FixedText(double value, int decimals) {
    char buf[64];
    const auto [p, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(buf, p) : std::string("?");
}

void TSignals::BlockInAllThreads() {
    const sigset_t set = ServiceSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool TSignals::WaitFor(int ms) {
    const sigset_t set = ServiceSignals();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - std::chrono::steady_clock::now());
        const long long ns = std::max<long long>(left.count(), 0);
        const timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        const int sig = sigtimedwait(&set, nullptr, &ts);
        if (sig == SIGHUP) {
            reload_ = true;
            return true;
        }
        if (sig > 0) {
            if (quitSignal_ == 0) quitSignal_ = sig;
            return true;
        }
        if (errno != EINTR || ns == 0) return false;
    }
}

bool TSignals::TakeReload() {
    const bool r = reload_;
    reload_ = false;
    return r;
}

void TSignalWait::Pause(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!signals_.QuitRequested()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        signals_.WaitFor(static_cast<int>(left));
    }
}

void TStderrPrompt::Inform(const std::string& text) { Say(prefix_ + Printable(text)); }

void TStderrPrompt::Error(const std::string& text) { Say(prefix_ + "error: " + Printable(text)); }

bool TStderrPrompt::Confirm(const std::string& text) {
    Say(prefix_ + Printable(text) + " - answered No: there is nobody to ask");
    return false;
}

// The acquisition timer of one site, run by the service loop on the time
// of its turn.
class TLoopTicker : public ITicker {
public:
    explicit TLoopTicker(const TStationService::Clock::time_point& now) : now_(now) {}
    void Start(int periodMs) override {
        enabled = true;
        period = std::chrono::milliseconds(periodMs);
        next = now_ + period;
    }
    void Stop() override { enabled = false; }
    // A repeating timer: a late tick does not make the next ones late too.
    void Advance() {
        do next += period;
        while (next <= now_);
    }
    bool enabled = false;
    std::chrono::milliseconds period{TAcquisition::kTickMs};
    TStationService::Clock::time_point next;

private:
    const TStationService::Clock::time_point& now_;
};

struct TStationService::TSite {
    TSite(TStationService& svc, int id, const std::string& name, const std::string& where)
        : Id(id),
          Name(name),
          Where(where),
          ticker(svc.now_),
          prompt("site " + Quoted(name) + ": "),
          light(svc.activity_, id),
          jobs(svc.common_.workers),
          source(svc.data_.dbKALO, id),
          ports{svc.clock_, ticker, svc.wait_, prompt, view, light, svc.data_, source, svc.stations_, svc.data_.dbKALO,
                svc.common_, &jobs},
          acq(ports, svc.options_.TickMs) {
        view.ended = [&svc, this] { svc.ReportTick(*this); };
    }
    int Id;
    std::string Name;
    std::string Where;  // the meter, host:port
    bool Started = false;
    Clock::time_point StartAt;
    double PlottedNight = 0;  // the last night whose picture was looked after
    bool Plotting = false;    // its picture is being drawn elsewhere
    TLoopTicker ticker;
    TStderrPrompt prompt;
    TTickLines view;
    TActivityLight light;  // what the web page shows
    // Its meter conversations, uploads and pictures, off the loop: a
    // silent meter or a dead network database holds up no other site. The
    // loop delivers what they found.
    TThreadJobs jobs;
    bool Busy() const { return acq.Busy() || Plotting; }
    TDbSiteSource source;
    TSitePorts ports;
    TAcquisition acq;
};

TStationService::TStationService(TData& data, TSignals& signals, TServiceOptions options)
    : data_(data),
      signals_(signals),
      options_(std::move(options)),
      wait_(signals),
      logWatch_([](const TErrorLogNews& news) { Say("kalosqm-station: " + DescribeErrorLogNews(news)); }) {
    common_.nightFiles.Program = "KALO-SQM " + GetVersionText(4);
    common_.nightFiles.DataSupplier = options_.DataSupplier;
    if (!data_.OnError) data_.OnError = SayBox;
    // Each outage's begin and end reach the journal as well as the logs.
    data_.Outages().SetEcho([](const std::string& line) { Say("kalosqm-station: " + line); });
}

TStationService::~TStationService() {
    http_.reset();
    StopAll();
}

bool TStationService::StartWeb() {
    try {
        ApplySavedLanguage();  // the page speaks the program's language
        web_ = std::make_unique<TStationWeb>(activity_);
        web_->SetDatabase(data_.DatabaseFile());
        http_ = std::make_unique<THttpServer>(*options_.Http, [this](const THttpRequest& r) { return web_->Handle(r); });
    } catch (const std::exception& e) {
        Say("kalosqm-station: --http: " + Printable(e.what()));
        return false;
    }
    Say("kalosqm-station: web page at http://" + http_->Url() + "/ (read-only; /metrics, /api/v1/sites)");
    return true;
}

bool TStationService::OpenDatabase() {
    if (!data_.OnUpgradeProgress)
        data_.OnUpgradeProgress = [](const TUpgradeStep& s) {
            Say("kalosqm-station: updating the database to version " + std::string(kSchemaVersion) + ", step " +
                std::to_string(s.Done + 1) + " of " + std::to_string(s.Total) + ": " + Printable(Tr(s.What)));
        };
    if (data_.DataModuleCreate()) {
        if (web_) web_->SetDatabase(data_.DatabaseFile());
        activity_.SetDatabaseOpen(true);
        return true;
    }
    // The data module has said why, with the file; a held file gets who may hold it.
    if (data_.UpgradeFailed()) return false;
    if (data_.OpenFailure().Kind == TOpenFailure::TKind::InUse)
        Say("kalosqm-station: " + data_.DatabaseFile() +
            " is in use by another KALO-SQM program (the desktop program kalosqm, kalosqm-cli or another"
            " kalosqm-station)");
    return false;
}

void TStationService::CloseDatabase() {
    StopAll();
    if (web_) web_->SetDatabase("");
    activity_.SetDatabaseOpen(false);
    data_.DataModuleDestroy();
}

void TStationService::StopAll() {
    for (auto& s : sites_) {
        s->acq.Stop();
        activity_.SiteStopped(s->Id);
    }
    sites_.clear();
}

void TStationService::Reconcile() {
    struct TRow {
        int Id;
        std::string Name, Host;
        int Port, Method, Interval;
    };
    std::vector<TRow> rows;
    std::vector<int> autostart;
    try {
        fb::Transaction tr(data_.dbKALO, fb::Isolation::ReadCommitted);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL("SELECT SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_ACQUIREMODE, SIT_INTERVAL "
                 "FROM SQMSITES ORDER BY SIT_ID");
        q.Open();
        auto text = [&q](int i) { return q.Fields(i).IsNull() ? std::string() : Trim(q.Fields(i).AsString()); };
        auto number = [&q](int i) { return q.Fields(i).IsNull() ? 0 : static_cast<int>(q.Fields(i).AsInteger()); };
        for (; !q.Eof(); q.Next())
            rows.push_back({number(0), text(1), text(2), number(3), number(4), number(5)});
        q.Close();
        autostart = TSiteActions::AutostartSites(tr);
        tr.Commit();
    } catch (const std::exception& e) {
        Say("kalosqm-station: cannot read the site list: " + Printable(e.what()));
        return;
    }

    std::vector<TRow> wanted;
    if (options_.Sites.empty()) {
        for (const TRow& r : rows)
            if (std::find(autostart.begin(), autostart.end(), r.Id) != autostart.end()) wanted.push_back(r);
    } else {
        std::set<int> named;
        for (const int id : options_.Sites) {
            if (!named.insert(id).second) continue;
            const auto it = std::find_if(rows.begin(), rows.end(), [id](const TRow& r) { return r.Id == id; });
            if (it != rows.end())
                wanted.push_back(*it);
            else
                Say("kalosqm-station: there is no site with id " + std::to_string(id) + " in the database: not run");
        }
    }

    for (auto it = sites_.begin(); it != sites_.end();) {
        TSite& s = **it;
        const bool keep = std::any_of(wanted.begin(), wanted.end(), [&s](const TRow& r) { return r.Id == s.Id; });
        if (keep) {
            ++it;
            continue;
        }
        const bool exists = std::any_of(rows.begin(), rows.end(), [&s](const TRow& r) { return r.Id == s.Id; });
        s.acq.Stop();
        activity_.SiteStopped(s.Id);
        Say("site " + Quoted(s.Name) + ": acquisition stopped: " +
            (exists ? "no longer marked for autostart" : "the site is no longer in the database"));
        it = sites_.erase(it);
    }

    for (const TRow& r : wanted) {
        if (std::any_of(sites_.begin(), sites_.end(), [&r](const auto& s) { return s->Id == r.Id; })) continue;
        const std::string where = r.Host + ":" + std::to_string(r.Port);
        auto site = std::make_unique<TSite>(*this, r.Id, r.Name, where);
        const int delay = TSiteRules::AutostartDelayMs();
        site->StartAt = now_ + std::chrono::milliseconds(delay);
        Say("site " + Quoted(r.Name) + " (id " + std::to_string(r.Id) + ", SQM-LE at " + Printable(where) + ", " +
            MethodName(r.Method) + ", every " + std::to_string(r.Interval) + " min): acquisition starts in " +
            std::to_string(delay) + " ms");
        activity_.SiteStarted(r.Id, r.Name);
        sites_.push_back(std::move(site));
    }
}

void TStationService::ReportTick(TSite& s) {
    const TTickReport& r = s.acq.LastTick();
    activity_.Tick(s.Id, r, common_.time);
    const std::string site = "site " + Quoted(s.Name) + ": ";
    const std::string logged = LoggedIn(s.Name);
    switch (r.What) {
        case TTickReport::Outcome::NotDue:
            if (r.PendingSent > 0)
                Say(site + "sent " + std::to_string(r.PendingSent) + " waiting reading" + (r.PendingSent > 1 ? "s" : "") +
                    " to the network database");
            break;
        case TTickReport::Outcome::Skipped:
            Say(site + "due reading skipped: another reading was in progress");
            break;
        case TTickReport::Outcome::Stored: {
            const TSQM* st = s.acq.Station();
            if (!st) break;
            Say(site + "reading " + FixedText(st->SQMValue + st->Offset, 2) + " mag/arcsec\u00b2 at " +
                FormatLogTime(st->DateTime) + " UTC (" + (r.Night ? "night reading" : "daylight reading") + "), " +
                FixedText(st->Temperature, 1) + " \u00b0C" + (r.Uploaded ? ", sent to the network database" : ""));
            break;
        }
        case TTickReport::Outcome::Failed:
            Say(site + "no reading: " + Printable(r.Error) + logged);
            break;
        case TTickReport::Outcome::Exception:
            Say(site + "tick failed: " + Printable(r.Error) + logged);
            break;
    }
}

void TStationService::SayNoSite() {
    if (options_.Sites.empty())
        Say("kalosqm-station: no site to run: no site in " + data_.DatabaseFile() + " is marked for autostart.");
    else
        Say("kalosqm-station: no site to run: none of the sites named with --site is in " + data_.DatabaseFile() + ".");
    // Only the source tree has run.sh.
    const std::string demo = ThisProgramLayout().Installed() ? "kalosqm-station --demo" : "./run.sh demo";
    Say("kalosqm-station: add one with the desktop program kalosqm (\"Start automatically at software startup\" in"
        " its site window), or on a screenless station with kalosqm-cli site add; " + demo +
        " shows one reading a simulated meter.");
}

TStationService::Clock::time_point TStationService::NextDue() const {
    auto due = Clock::time_point::max();
    for (const auto& s : sites_) {
        if (!s->Started)
            due = std::min(due, s->StartAt);
        else if (s->ticker.enabled)
            due = std::min(due, s->ticker.next);
    }
    return due;
}

bool TStationService::NothingToRun() {
    SayNoSite();
    CloseDatabase();
    if (!options_.Wait) {
        Say("kalosqm-station: nothing to do: ending (with --wait it would wait for SIGHUP)");
        state_ = TState::Over;
        return true;
    }
    Say("kalosqm-station: waiting for SIGHUP (systemctl reload kalosqm-station) to look again, SIGTERM ends it;"
        " the database is free for kalosqm-cli and the desktop program meanwhile");
    state_ = TState::Waiting;
    return false;
}

// The picture of the night that ended at the last local noon, beside its
// night file: looked after once per night and site, read here and drawn
// elsewhere; a failure is logged and the readings go on.
void TStationService::PlotEndedNight(TSite& s) {
    const double nowLocal = clock_.NowLocal();
    const double night = LastEndedNight(nowLocal);
    if (night == s.PlottedNight || s.Plotting) return;
    s.PlottedNight = night;
    auto failed = [&s, nowLocal](const std::string& why) {
        WriteErrorLog(FormatLogTime(nowLocal) + " - Night plot - " + why, s.Name);
        Say("site " + Quoted(s.Name) + ": night plot failed: " + Printable(why) + LoggedIn(s.Name));
    };
    // Its summary is kept now (a night's readings summarise in a few tens
    // of milliseconds); the web page and the command line read it from here.
    try {
        SummariseNight(data_.dbKALO, s.Id, night);
    } catch (const std::exception& e) {
        WriteErrorLog(FormatLogTime(nowLocal) + " - Night summary - " + e.what(), s.Name);
        Say("site " + Quoted(s.Name) + ": night summary failed: " + Printable(e.what()) + LoggedIn(s.Name));
    }
    TNightPlotWork work;
    try {
        work = PrepareNightPlot(data_.dbKALO, s.Id, night);
    } catch (const std::exception& e) {
        failed(e.what());
        return;
    }
    if (work.Path.empty()) return;
    s.Plotting = true;
    auto error = std::make_shared<std::string>();
    s.jobs.Run(
        TJobLane::Night,
        [work, error] {
            try {
                DrawNightPlot(work);
            } catch (const std::exception& e) {
                *error = e.what();
            } catch (...) {
                *error = "unknown error";
            }
        },
        [&s, work, error, failed] {
            s.Plotting = false;
            if (error->empty())
                Say("site " + Quoted(s.Name) + ": night plot written to " + Printable(work.Path));
            else
                failed(*error);
        });
}

std::optional<int> TStationService::Begin(Clock::time_point now) {
    now_ = now;
    if (!OpenDatabase()) return 1;
    Say("kalosqm-station: database " + data_.DatabaseFile());
    if (options_.Http && !StartWeb()) return 1;
    try {
        for (const std::string& line : OutreachLines(data_.dbKALO)) Say("kalosqm-station: " + line);
    } catch (const std::exception& e) {
        Say("kalosqm-station: cannot read the settings: " + Printable(e.what()));
    }
    Reconcile();
    if (sites_.empty() && NothingToRun()) return 0;
    return std::nullopt;
}

void TStationService::Reload() {
    Say("kalosqm-station: SIGHUP: reading the site list again");
    if (state_ == TState::Waiting && OpenDatabase()) state_ = TState::Running;
    if (state_ != TState::Running) {
        Say("kalosqm-station: still waiting for SIGHUP");
        return;
    }
    Reconcile();
    if (sites_.empty()) NothingToRun();
}

void TStationService::StepSite(TSite& s) {
    s.jobs.Deliver();
    if (!s.Started && now_ >= s.StartAt) {
        s.Started = true;
        s.acq.Start();  // the first tick runs inside; a due reading ends later
        if (!s.acq.Busy() && s.acq.LastTick().What == TTickReport::Outcome::NotDue)
            Say("site " + Quoted(s.Name) + ": acquisition running; no reading due now");
    } else if (s.Started && s.ticker.enabled && now_ >= s.ticker.next) {
        s.acq.Tick();
        s.ticker.Advance();
    }
    if (s.Started && s.ticker.enabled) PlotEndedNight(s);
}

std::optional<int> TStationService::Step(Clock::time_point now) {
    now_ = now;
    if (state_ == TState::Over || signals_.QuitRequested()) return std::nullopt;
    if (signals_.TakeReload()) {
        Reload();
        if (state_ == TState::Over) return std::nullopt;
        return 0;  // the next turn at once, as before the reload
    }
    for (size_t i = 0; i < sites_.size() && !signals_.QuitRequested(); ++i) StepSite(*sites_[i]);
    if (signals_.QuitRequested()) return std::nullopt;
    const auto due = NextDue();
    long long ms = 60000;
    if (due != Clock::time_point::max())
        ms = std::clamp<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1, 0,
                                   60000);
    // A conversation's result is applied soon after it comes.
    if (std::any_of(sites_.begin(), sites_.end(), [](const auto& s) { return s->Busy(); }))
        ms = std::min<long long>(ms, kJobPollMs);
    return static_cast<int>(ms);
}

void TStationService::Finish() {
    if (state_ == TState::Over) return;  // the run ended with nothing to run: all closed and said
    state_ = TState::Over;
    const int sig = signals_.QuitSignal();
    // The conversations under way end first, so that their readings are
    // stored and said: no tick starts, a pass over the waiting readings ends
    // after its reading under way and every pause ends at once. A meter that
    // takes longer is left to itself, unheard.
    for (auto& s : sites_) {
        s->acq.Stop();
        s->acq.CancelWork();
    }
    common_.workers.Stop();
    const auto until = Clock::now() + std::chrono::milliseconds(kStopWaitMs);
    for (bool busy = true; busy && Clock::now() < until;) {
        busy = false;
        for (auto& s : sites_) {
            s->jobs.Deliver();
            if (s->Busy() && !busy) {
                busy = true;
                s->jobs.WaitForCompletion(static_cast<int>(kJobPollMs));
            }
        }
    }
    StopAll();
    http_.reset();  // no request reads while the database closes
    web_.reset();
    data_.DataModuleDestroy();  // open work rolled back
    Say(std::string("kalosqm-station: stopped by ") + SignalName(sig));
}

int TStationService::Run() {
    if (const auto code = Begin(Clock::now())) return *code;
    for (;;) {
        const auto now = Clock::now();
        const auto ms = Step(now);
        if (!ms) break;
        // The wait is counted from the turn's start: its own work is part of it.
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - now).count();
        signals_.WaitFor(static_cast<int>(std::max<long long>(*ms - spent, 0)));
    }
    Finish();
    return 0;
}

int RunStationService(TSignals& signals, const TServiceOptions& options) {
    TData data;
    int rc = 0;
    {
        TStationService service(data, signals, options);
        rc = service.Run();
    }
    data.DataModuleDestroy();
    return rc;
}
