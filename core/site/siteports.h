#pragma once
// What the acquisition of one site needs from the world around it. The
// desktop window, the headless service and the tests each supply their own;
// the meter, the database file and the network stay real everywhere.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/station/sqm.h"

class TOutages;
struct TTickReport;
struct TSiteCommons;
namespace fb {
class Database;
}

// The PC's time zone now: Bias is the standard-time bias in minutes
// (UTC = local standard time + Bias); Daylight tells whether daylight
// saving time is in force.
struct TZoneInfo {
    int BiasMinutes = 0;
    bool Daylight = false;
};

class IClock {
public:
    virtual ~IClock() = default;
    // PC local time, date-time; also called by a conversation's thread as
    // its meter answers, so it must be safe to call from any thread.
    virtual double NowLocal() = 0;
    virtual TZoneInfo Zone() = 0;
};

// A pause that lets the rest of the program go on meanwhile (the window's
// events, the service's signals).
class IWait {
public:
    virtual ~IWait() = default;
    virtual void Pause(int ms) = 0;
};

// Boxes shown to the user; unattended runs answer the safe way.
class IPrompt {
public:
    virtual ~IPrompt() = default;
    virtual void Inform(const std::string& text) = 0;
    virtual void Error(const std::string& text) = 0;
    virtual bool Confirm(const std::string& text) = 0;  // Yes = true
};

// One synchronisation's talk with the time servers, made ready on the
// owner's thread (the servers are read from the database there) and run on
// any thread.
struct TTimeAnswer {
    bool Ok = false;
    double Value = 0;     // the offset in days; with the clock set, the time
    std::string Failure;  // each server and what it did, when none gave a time
};
using TTimeQuery = std::function<TTimeAnswer()>;

// The global settings and Internet-time operations of the data module.
class ISiteSettings {
public:
    virtual ~ISiteSettings() = default;
    virtual bool UseInternetTime() = 0;
    virtual bool SyncClockEnabled() = 0;
    virtual bool UploadEnabled(bool AutomaticOnly) = 0;
    virtual int SyncFrequencyMinutes() = 0;  // SET_SYNCFREQ, null = 0
    virtual bool GetTimeOffset(double& Offset) = 0;
    virtual bool GetInternetTime(double& Time, bool SetClock) = 0;
    // Why the last of the two found no time: each server and what it did.
    virtual std::string TimeFailure() = 0;
    // GetTimeOffset (setClock false) or GetInternetTime with the clock set,
    // to run elsewhere; it must not outlive the settings.
    virtual TTimeQuery PrepareTimeQuery(bool setClock) = 0;
    // The program's one record of outages (network database, time servers).
    virtual TOutages& Outages() = 0;
};

// What the acquisition of a site is doing, as its status light shows it.
enum class TSiteState {
    Stopped,         // acquisition stopped (also when the window opens)
    OutsideWindow,   // running, outside the reading window
    NightStored,     // a night reading was stored
    DaylightStored,  // a daylight reading was stored
    Skipped,         // a due reading was skipped: its meter was in a conversation
    Failed,          // the last due reading, or the tick, failed: the log says why
};
// "failed", "night reading stored"...: for lines and logs.
const char* SiteStateName(TSiteState state);

// The status light of a site: each shell shows a state its own way.
class IStatusLight {
public:
    virtual ~IStatusLight() = default;
    virtual void Show(TSiteState state) = 0;
};

// The row of SQMSITES a site runs with; empty fields as nullopt.
struct TSiteRow {
    int Id = 0;
    std::string Name;
    std::string Code;  // trimmed; empty when the site has none
    std::string Host;
    int Port = 10001;
    int TimeoutSeconds = 10;
    double Offset = 0;
    std::optional<double> Latitude;
    std::optional<double> Longitude;
    std::optional<int> Altitude;  // metres
    int TimeZone = 0;
    int AcquireMode = 0;
    int Interval = 0;      // minutes
    double StartTime = 0;  // time of day, UTC
    double StopTime = 0;
    bool DayReading = false;
    int DayInterval = 0;   // minutes
    bool AutoUpload = false;
    bool AutoStart = false;
};

// Where the acquisition finds its site: the window's bound record, or a
// fresh read of the database for the service.
class ISiteSource {
public:
    virtual ~ISiteSource() = default;
    virtual TSiteRow Site() = 0;
    // True while the record has changes that are not saved yet.
    virtual bool HasUnsavedChanges() { return false; }
    // Saves them; false when the save was refused.
    virtual bool SaveChanges() { return true; }
};

// What a site shows of its acquisition. Every call may do nothing.
class ISiteView {
public:
    virtual ~ISiteView() = default;
    virtual void SetDynamicLabels(double /*utc*/) {}
    virtual void ShowLatestReading(const TSQM* /*station*/) {}
    virtual void RefreshLatestReadings() {}
    virtual void ShowRunState(bool /*running*/) {}
    // A reading was stored (night or daylight) / a due reading failed.
    virtual void ReadingStored(const TSQM& /*station*/, bool /*night*/) {}
    virtual void ReadingFailed(const std::string& /*why*/) {}
    // The meter gave no reading: the system bell where there is one.
    virtual void Beep() {}
    // A tick has ended: at once, or when its conversation or upload was applied.
    virtual void TickEnded(const TTickReport& /*report*/) {}
    // The last work under way (a tick, "Read now") is over.
    virtual void WorkDone() {}
};

// The acquisition timer: enabled exactly while acquisition runs.
class ITicker {
public:
    virtual ~ITicker() = default;
    virtual void Start(int periodMs) = 0;
    virtual void Stop() = 0;
};

// What a station factory makes a meter client from.
using TStationParams = TSQMOptions;

class IStationFactory {
public:
    virtual ~IStationFactory() = default;
    virtual std::unique_ptr<TSQM> Create(const TStationParams& p) = 0;
};

// The real station objects.
class TStationFactory : public IStationFactory {
public:
    std::unique_ptr<TSQM> Create(const TStationParams& p) override;
};

// Where the work that may block (the conversation with a meter, the upload
// to the network database, the Internet time) runs: elsewhere, so that the
// owner's thread (the window's, the service loop's) goes on meanwhile. What
// it found is applied back on the owner's thread, where every decision and
// the database stay. A site's lanes run side by side, each its jobs in turn:
// its uploads never hold up its meter, and no site holds up another. The
// Internet time and the work a night's end brings (its picture) have one
// lane each for the whole program.
enum class TJobLane { Meter, Network, Time, Night };
class IJobRunner {
public:
    virtual ~IJobRunner() = default;
    // work runs on another thread; done runs afterwards on the owner's thread,
    // before Run returns or later. Neither may throw.
    virtual void Run(TJobLane lane, std::function<void()> work, std::function<void()> done) = 0;
    void Run(std::function<void()> work, std::function<void()> done) {
        Run(TJobLane::Meter, std::move(work), std::move(done));
    }
    // A pause inside a job, on its thread: false, and at once, when the
    // program is stopping (the job ends what it does soon).
    virtual bool Pause(int ms);
};

// One set of ports per site, by reference; common: the program's, the same
// for every site it runs.
struct TSitePorts {
    IClock& clock;
    ITicker& ticker;
    IWait& wait;
    IPrompt& prompt;
    ISiteView& view;
    IStatusLight& light;
    ISiteSettings& settings;
    ISiteSource& site;
    IStationFactory& stations;
    fb::Database& db;
    TSiteCommons& common;
    // None: the work runs at once on the owner's thread.
    IJobRunner* jobs = nullptr;
};
