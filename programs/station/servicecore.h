#pragma once
// kalosqm-station: the site windows' acquisition without any window. The
// ports a service supplies (stderr lines, a sleep that wakes on a signal)
// and the one-thread loop that runs every autostart site.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/site/acquisition.h"
#include "core/station/errorlog.h"
#include "core/site/readingwindow.h"
#include "core/site/siteports.h"
#include "programs/station/httpserver.h"
#include "programs/station/serviceoptions.h"
#include "programs/station/webstate.h"

class TData;
class TStationWeb;

// One line on standard error (the journal reads it), written at once.
void Say(const std::string& line);
// "21.34": a dot whatever the locale.
std::string FixedText(double value, int decimals);

// SIGTERM, SIGINT and SIGHUP are blocked in every thread and collected here.
// BlockInAllThreads must run before any thread exists: the database engine
// installs handlers of its own, and its threads would take them otherwise.
class TSignals {
public:
    static void BlockInAllThreads();
    // Waits up to ms for one of them (0: only looks). True when one came.
    bool WaitFor(int ms);
    bool QuitRequested() const { return quitSignal_ != 0; }
    int QuitSignal() const { return quitSignal_; }
    // True once per SIGHUP received.
    bool TakeReload();

private:
    int quitSignal_ = 0;
    bool reload_ = false;
};

// The service's IWait: sleeps, but a stop request ends every pause at once
// (also those still to come, so an upload loop runs out quickly).
class TSignalWait : public IWait {
public:
    explicit TSignalWait(TSignals& s) : signals_(s) {}
    void Pause(int ms) override;

private:
    TSignals& signals_;
};

// Nobody to ask: texts go to stderr, questions take the safe answer.
class TStderrPrompt : public IPrompt {
public:
    explicit TStderrPrompt(std::string prefix) : prefix_(std::move(prefix)) {}
    void Inform(const std::string& text) override;
    void Error(const std::string& text) override;
    bool Confirm(const std::string& text) override;

private:
    std::string prefix_;
};

// The acquisition of the chosen sites until a stop request.
class TStationService {
public:
    using Clock = std::chrono::steady_clock;

    TStationService(TData& data, TSignals& signals, TServiceOptions options);
    ~TStationService();
    TStationService(const TStationService&) = delete;
    TStationService& operator=(const TStationService&) = delete;

    // The exit code: 0 after a stop request or with nothing to run, 1 when
    // the database cannot be had. Begin, then Step and the wait it asks for
    // (a signal ends it sooner) until the run ends, then Finish.
    int Run();

    // The parts of Run, for a test to drive on a clock of its own.
    // The start at now: the database, the web page, the settings' lines and
    // the site list. An exit code when the run ends here: 1 it cannot run,
    // 0 nothing to run without --wait.
    std::optional<int> Begin(Clock::time_point now);
    // One turn of the loop at now: a SIGHUP taken, the conversations that
    // ended delivered, the starts and ticks due by now run, an ended night's
    // picture looked after. The milliseconds from now to the next turn;
    // nullopt when the run is over (a stop request, or nothing left to run
    // without --wait).
    std::optional<int> Step(Clock::time_point now);
    // After a stop request: the conversations under way end (up to 20 s),
    // the database closes and the signal is said. Nothing after a run that
    // ended with nothing to run.
    void Finish();

private:
    struct TSite;
    // Running: the database open; Waiting: no site, the database left free
    // until a SIGHUP; Over: nothing to run, all closed.
    enum class TState { Running, Waiting, Over };
    bool OpenDatabase();
    bool StartWeb();  // --http: false when it cannot listen (said)
    void CloseDatabase();
    // Starts the sites wanted now and stops the others.
    void Reconcile();
    void ReportTick(TSite& s);
    void SayNoSite();
    // No site to run: ends the run (true), or waits for a SIGHUP with --wait.
    bool NothingToRun();
    void Reload();  // a SIGHUP
    void StepSite(TSite& s);
    void PlotEndedNight(TSite& s);
    void StopAll();
    Clock::time_point NextDue() const;

    TData& data_;
    TSignals& signals_;
    TServiceOptions options_;
    TState state_ = TState::Running;
    Clock::time_point now_;  // the time of the turn under way
    TPcClock clock_;
    TSignalWait wait_;
    TStationFactory stations_;
    TSiteCommons common_;  // Internet time, meters, night files: the same for every site
    std::vector<std::unique_ptr<TSite>> sites_;
    TErrorLogWatch logWatch_;  // a log that loses lines is said on stderr
    TStationActivity activity_;  // what the web page and /metrics tell
    std::unique_ptr<TStationWeb> web_;
    std::unique_ptr<THttpServer> http_;  // last: stopped first
};

// The service on a data module of its own; the exit code of the run.
int RunStationService(TSignals& signals, const TServiceOptions& options);
