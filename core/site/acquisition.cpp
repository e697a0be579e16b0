#include "core/site/acquisition.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/station/credentials.h"
#include "core/station/errorlog.h"
#include "core/station/fbdb.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/site/nightfile.h"
#include "core/site/readingwindow.h"
#include "core/site/siteedit.h"
#include "core/site/waitingupload.h"
#include "core/station/lastresort.h"
#include "core/station/sqm.h"

const char* SiteStateName(TSiteState state) {
    switch (state) {
        case TSiteState::Stopped: return "stopped";
        case TSiteState::OutsideWindow: return "outside the reading window";
        case TSiteState::NightStored: return "night reading stored";
        case TSiteState::DaylightStored: return "daylight reading stored";
        case TSiteState::Skipped: return "due reading skipped";
        case TSiteState::Failed: return "failed";
    }
    return "?";
}

std::unique_ptr<TSQM> TStationFactory::Create(const TStationParams& p) {
    return std::make_unique<TSQM>(p);
}

namespace {

// Waiting readings a quiet tick sends at most.
constexpr int kPendingPerTick = 5;

// Counts a nesting level for as long as it lives, also on the way out of an exception.
struct TBusy {
    int& n;
    explicit TBusy(int& c) : n(c) { ++n; }
    ~TBusy() { --n; }
};

// The text of a question, after a line naming the site it is about; the
// name is put in by hand, never read as a format of its own.
std::string NamedSiteText(const std::string& siteName, const std::string& text) {
    std::string head = Tr("Site \"%s\":");
    if (const auto at = head.find("%s"); at != std::string::npos) head.replace(at, 2, siteName);
    return head + "\r" + text;
}

bool UploadPermitted(const std::string& code) {
    std::string why;
    return (CheckCredentialsFile(code, why) & kCredentialsUpload) != 0;
}

}  // namespace

// The site's one piece of work under way elsewhere: what the job needs,
// owns and finds. The job touches nothing else, so that a closed window
// or a stopped site may leave it to end on its own.
struct TAcquisition::TFlight {
    TTickReport report;         // of the tick it belongs to
    TSQM* station = nullptr;    // where the result goes, on the owner's thread
    std::unique_ptr<TSQM> kept;  // it, once the acquisition has let it go meanwhile
    std::unique_ptr<TSQM> meter;  // the job's own copy: the meter's address, the reading to send
    TMeterGates::THold hold;    // the meter, for the whole conversation
    TSiteRow site;
    double zoneOffset = 0, offset = 0;
    double latitude = 0, longitude = 0;
    bool night = false;
    // What the job found.
    TSQM::TAnswer answer;
    std::string failure;  // why the meter gave no reading
    std::optional<SqmInfoReply> identity;
    IClock* clock = nullptr;   // read by the job as the answer comes
    double answeredLocal = 0;  // the PC clock then
    bool wantReplies = false;                          // the reading begins its night file
    std::optional<TMeterReplies> replies;
    TNetworkContact contact;
    bool sent = false;
    std::optional<std::string> error;  // what the job threw
};

std::shared_ptr<TAcquisition::TFlight> TAcquisition::MeterFlight(TSQM& station, TMeterGates::THold meter,
                                                                const TSiteRow& site, double offset) {
    auto f = std::make_shared<TFlight>();
    // The database part of the reading before the meter is asked, here.
    station.ReadSitePosition(&ports_.db, f->latitude, f->longitude);
    f->station = &station;
    f->meter = station.Copy();
    f->hold = std::move(meter);
    f->site = site;
    f->offset = offset;
    f->clock = &ports_.clock;
    return f;
}

double TAcquisition::AnswerTime(const TFlight& f) {
    // As the answer came: what the job did after it (the identity's wait)
    // and what the owner's thread did before applying it are not the
    // reading's time.
    return f.answeredLocal + f.offset;
}

TAcquisition::TAcquisition(TSitePorts ports, int periodMs)
    : ports_(ports), periodMs_(periodMs) {
    TNightFileOptions options = ports.common.nightFiles;
    auto writer = std::make_unique<TNightFileWriter>(ports.db, options);
    // Its header's meter replies come with the reading, asked elsewhere.
    writer->AskMeter = false;
    nightFile_ = std::move(writer);
}

TAcquisition::~TAcquisition() {
    if (running_) ports_.ticker.Stop();
    ports_.common.acquiring.Release(claimedSite_, this);
    // What is still under way ends on its own, unheard.
    *alive_ = false;
    if (pass_) pass_->Abandon();
    if (syncing_) {
        // Its synchronisation's end will not be heard: the sites waiting for
        // it go on with the time they have.
        TInternetTimeState& shared = ports_.common.time;
        shared.Syncing = false;
        auto waiting = std::move(shared.AfterSync);
        shared.AfterSync.clear();
        for (auto& [alive, after] : waiting)
            if (auto a = alive.lock(); a && *a) after();
    }
}

double TAcquisition::UtcOffset() {
    return LocalToUtcOffset(ports_.site.Site().TimeZone, ports_.clock.Zone()) + ports_.common.time.Offset;
}

double TAcquisition::NowUtc() { return ports_.clock.NowLocal() + UtcOffset(); }

double TAcquisition::LogTime() { return ports_.clock.NowLocal() + ports_.common.time.Offset; }

void TAcquisition::SyncInternetTime(bool showErrors, std::function<void(bool ok)> then) {
    TInternetTimeState& shared = ports_.common.time;
    ISiteSettings& settings = ports_.settings;
    if (!settings.UseInternetTime()) {
        shared.Offset = 0;
        if (then) then(false);
        return;
    }
    if (shared.Syncing) {
        // One under way for another site: its end serves this one too.
        std::weak_ptr<bool> alive = alive_;
        shared.AfterSync.emplace_back(alive, [this, then] {
            if (then) then(ports_.common.time.LastSyncSucceeded);
        });
        return;
    }
    const bool setClock = settings.SyncClockEnabled();
    TTimeQuery query = settings.PrepareTimeQuery(setClock);
    shared.Syncing = true;
    syncing_ = true;
    auto answer = std::make_shared<TTimeAnswer>();
    std::weak_ptr<bool> alive = alive_;
    auto done = [this, alive, answer, setClock, showErrors, then] {
        if (alive.expired() || !*alive.lock()) return;
        syncing_ = false;
        SyncEnded(*answer, setClock, showErrors);
        if (then) then(answer->Ok);
        AfterCompletion();
    };
    auto work = [query, answer] {
        try {
            *answer = query();
        } catch (const std::exception& e) {
            answer->Ok = false;
            answer->Failure = e.what();
        }
    };
    if (ports_.jobs) {
        ports_.jobs->Run(TJobLane::Time, std::move(work), std::move(done));
    } else {
        work();
        done();
    }
}

void TAcquisition::SyncEnded(const TTimeAnswer& answer, bool setClock, bool showErrors) {
    TInternetTimeState& shared = ports_.common.time;
    shared.Syncing = false;
    try {
        if (!setClock) {
            if (answer.Ok)
                shared.Offset = answer.Value;
            else if (showErrors)
                ports_.prompt.Error(Tr("Impossible to get the Internet time"));
        } else {
            if (!answer.Ok && showErrors) ports_.prompt.Error(Tr("Unable to synchronize the clock with Internet time"));
            // The PC clock itself is right now (or as right as it gets): no correction.
            shared.Offset = 0;
        }
        shared.LastSyncSucceeded = answer.Ok;
        if (answer.Ok)
            ports_.settings.Outages().TimeAnswered(LogTime());
        else
            ports_.settings.Outages().TimeFailed(LogTime(), answer.Failure);
    } catch (...) {
        // A box or a log that fails leaves the time as it is.
        LastResortLine("Internet time: showing the answer");
    }
    // The sites that waited for this one, each if it is still there.
    auto waiting = std::move(shared.AfterSync);
    shared.AfterSync.clear();
    for (auto& [alive, after] : waiting)
        if (auto a = alive.lock(); a && *a) after();
}

TSQM& TAcquisition::EnsureStation(double timeOffset) {
    if (!station_) {
        const TSiteRow site = ports_.site.Site();
        TStationParams p = TSiteEdit::MeterParams(site, ports_.db);
        p.TimeOffset = timeOffset;
        p.Offset = site.Offset;
        p.SiteId = site.Id;
        station_ = ports_.stations.Create(p);
        station_->Beep = [this] { ports_.view.Beep(); };
    }
    return *station_;
}

TSQM& TAcquisition::CreateStationForTest() {
    auto station = ports_.stations.Create(TSiteEdit::TestStationParams(ports_.site.Site(), ports_.db));
    DiscardStation();
    station_ = std::move(station);
    station_->Beep = [this] { ports_.view.Beep(); };
    return *station_;
}

void TAcquisition::DiscardStation() {
    // The work under way still applies its result to the station it began with.
    if (flight_ && flight_->station == station_.get())
        flight_->kept = std::move(station_);
    else
        station_.reset();
}

void TAcquisition::SetNightFile(std::unique_ptr<INightFile> nightFile) { nightFile_ = std::move(nightFile); }

void TAcquisition::StartOrStop() {
    if (running_)
        Stop();
    else
        Start();
}

void TAcquisition::CancelWork() {
    if (pass_) pass_->Cancel();
}

void TAcquisition::Stop() {
    held_ = false;
    if (!running_) return;
    running_ = false;
    ports_.common.acquiring.Release(std::exchange(claimedSite_, 0), this);
    ports_.ticker.Stop();
    ports_.light.Show(TSiteState::Stopped);
    ports_.view.ShowRunState(false);
}

void TAcquisition::Start() {
    if (running_) return;
    if (ports_.site.HasUnsavedChanges()) {
        if (!ports_.prompt.Confirm(Tr("The configuration has not yet been saved: save now?"))) return;
        if (!ports_.site.SaveChanges()) return;
    }
    // Only once saved: a new site has its id from the save.
    const int siteId = ports_.site.Site().Id;
    if (siteId > 0 && !ports_.common.acquiring.Claim(siteId, this)) {
        ports_.prompt.Error(Tr("The SQM readings of this site are already running in another window: "
                               "one site has one acquisition at a time"));
        return;
    }
    claimedSite_ = siteId;
    // Zero makes the first tick take a reading at once where one is allowed.
    lastReadingTime_ = 0;
    lastDayReadingTime_ = 0;
    running_ = true;
    ports_.view.ShowRunState(true);
    ports_.ticker.Start(periodMs_);
    // The first tick reads with the time just synchronised, once it is.
    lastSyncTime_ = NowUtc();
    startPending_ = true;
    SyncInternetTime(false, [this](bool) {
        startPending_ = false;
        lastSyncTime_ = NowUtc();
        if (!running_) return;
        Tick();
        ports_.view.RefreshLatestReadings();
    });
}

bool TAcquisition::MayClose() {
    if (!running_) return true;
    if (!ports_.prompt.Confirm(Tr("SQM reading in progress, closing the window will stop the operation: CLOSE?")))
        return false;
    Stop();
    return true;
}

bool TAcquisition::MayStopForQuit() {
    if (!running_) return true;
    // One box per site comes in turn: each says which site it is about.
    return ports_.prompt.Confirm(
        NamedSiteText(ports_.site.Site().Name,
                      Tr("SQM reading in progress, closing the window will stop the operation: CLOSE?")));
}

void TAcquisition::Hold() {
    if (held_) return;
    held_ = true;
    if (running_) ports_.ticker.Stop();
}

void TAcquisition::Release() {
    if (!held_) return;
    held_ = false;
    if (running_) ports_.ticker.Start(periodMs_);
}

bool TAcquisition::AutoUploadAllowed(const TSiteRow& site) {
    return site.AutoUpload && ports_.settings.UploadEnabled(true) && UploadPermitted(site.Code);
}

void TAcquisition::Tick() {
    // A tick while its reading is under way, or while the first one waits
    // for the time at start, has nothing to do.
    if (Reading() || held_ || startPending_) return;
    TBusy busy(busy_);
    report_ = TTickReport{};
    RunTickPart([this] { return DoTick(); });  // true: the job ends it
}

void TAcquisition::RunTickPart(const std::function<bool()>& part) {
    try {
        if (part()) return;
    } catch (const std::exception& e) {
        TickError(e.what());
    } catch (...) {
        TickError("Unknown error");
    }
    TickEnded();
}

void TAcquisition::TickEnded() {
    try {
        ports_.view.TickEnded(report_);
    } catch (...) {
        // A view that cannot show it leaves the acquisition as it is.
        LastResortLine("the end of a tick");
    }
}

void TAcquisition::AfterCompletion() {
    if (Busy()) return;
    try {
        ports_.view.WorkDone();
    } catch (...) {
        LastResortLine("the end of a site's work");
    }
}

void TAcquisition::AskForReading(TFlight& j) {
    j.answer = j.meter->AskReading();
    j.answeredLocal = j.clock->NowLocal();  // the reading's stamp: when the meter answered
    j.failure = j.meter->LastFailure();
}

void TAcquisition::Launch(TJobLane lane, const std::shared_ptr<TFlight>& f, void (*work)(TFlight&),
                          void (TAcquisition::*finish)(TFlight&)) {
    flight_ = f;
    auto job = [f, work] {
        try {
            work(*f);
        } catch (const std::exception& e) {
            f->error = e.what();
        } catch (...) {
            f->error = "Unknown error";
        }
        f->hold.Release();  // the conversation is over
    };
    std::weak_ptr<bool> alive = alive_;
    auto done = [this, alive, f, finish] {
        if (alive.expired() || !*alive.lock()) return;
        if (flight_ == f) flight_.reset();
        {
            TBusy busy(busy_);
            report_ = f->report;
            try {
                (this->*finish)(*f);
            } catch (...) {
                // Each completion says its own failures; nothing may reach the runner.
                LastResortLine("a completion of the site's work");
            }
        }
        AfterCompletion();
    };
    if (ports_.jobs) {
        ports_.jobs->Run(lane, std::move(job), std::move(done));
    } else {
        job();
        done();
    }
}

void TAcquisition::TickError(const std::string& message) {
    report_.What = TTickReport::Outcome::Exception;
    report_.Error = message;
    try {
        ports_.light.Show(TSiteState::Failed);
        LogTickFailure(ports_.site.Site().Name, message);
        ports_.view.ReadingFailed(message);
    } catch (...) {
        // The light, the log or the view failed too; the next tick tries again.
        LastResortLine("a failed tick (" + message + ")");
    }
}

void TAcquisition::LogTickFailure(const std::string& siteName, const std::string& cause) {
    WriteErrorLog(FormatLogTime(LogTime()) + " - Timer Exception - " + cause, siteName);
}

bool TAcquisition::DoTick() {
    TInternetTimeState& shared = ports_.common.time;
    const TSiteRow site = ports_.site.Site();
    const double zoneOffset = LocalToUtcOffset(site.TimeZone, ports_.clock.Zone());
    const double offset = zoneOffset + shared.Offset;
    const double t = ports_.clock.NowLocal() + offset;
    report_.Utc = t;
    ports_.view.SetDynamicLabels(t);

    bool due = false;
    bool night = false;
    if (IsInReadingWindow(site, t)) {
        if (ReadingDue(t, lastReadingTime_, site.Interval)) {
            lastReadingTime_ = t;
            due = true;
            night = true;
        }
    } else {
        ports_.light.Show(TSiteState::OutsideWindow);
        if (site.DayReading && ReadingDue(t, lastDayReadingTime_, site.DayInterval)) {
            lastDayReadingTime_ = t;
            due = true;
        }
    }
    report_.Night = night;

    if (!due) return StartWaitingPass(site);
    TSQM& station = EnsureStation(offset);
    if (ports_.common.meters.Busy(station.Client->Host, station.Client->Port)) {
        ports_.light.Show(TSiteState::Skipped);  // the interval counts as used
        report_.What = TTickReport::Outcome::Skipped;
        return false;
    }

    if (ports_.settings.UseInternetTime() &&
        ReadingDue(t, lastSyncTime_, ports_.settings.SyncFrequencyMinutes())) {
        // The new offset counts from the next tick: this reading does not wait for it.
        lastSyncTime_ = t;
        SyncInternetTime(false);
    }
    TMeterGates::THold meter = ports_.common.meters.TryHold(station.Client->Host, station.Client->Port);
    if (!meter) {  // taken while the time was synchronised
        ports_.light.Show(TSiteState::Skipped);
        report_.What = TTickReport::Outcome::Skipped;
        return false;
    }
    auto f = MeterFlight(station, std::move(meter), site, offset);
    f->report = report_;
    f->zoneOffset = zoneOffset;
    f->night = night;
    f->wantReplies = nightFile_ && nightFile_->BeginsFile(site, t - zoneOffset);
    Launch(
        TJobLane::Meter, f,
        [](TFlight& j) {
            AskForReading(j);
            // The identity follows a good reading only: after a failed one it
            // would wait a second timeout on a silent meter and tell the same
            // cause twice. A garbled identity ends the tick in the error path, unstored.
            if (!j.answer.Ok) return;
            j.meter->AskInfo(j.identity);
            // A reading that begins its night file: the header's replies while the meter is held.
            if (j.wantReplies && j.meter->Client)
                j.replies = AskMeterReplies(j.meter->Client->Host, j.meter->Client->Port,
                                            j.meter->Client->ReadTimeoutMs);
        },
        &TAcquisition::FinishReading);
    return true;
}

bool TAcquisition::StartWaitingPass(const TSiteRow& site) {
    if (pass_ || !AutoUploadAllowed(site)) return false;
    // Up to five waiting readings, on the site's own network lane: its
    // next due reading, and every other site, go on meanwhile.
    TWaitingPass::TOptions o;
    o.Count = kPendingPerTick;
    o.Unloadable = &ports_.common.unloadableReadings;
    const int siteId = site.Id;
    o.OnContact = [this, siteId](const TNetworkContact& c) { ports_.settings.Outages().Contact(LogTime(), siteId, c); };
    o.Held = [this] { return held_; };
    TTickReport report = report_;
    o.OnEnd = [this, siteId, report](int sent, int, bool drained) mutable {
        pass_.reset();
        {
            TBusy busy(busy_);
            RunTickPart([&] {
                report.PendingSent = sent;
                report_ = report;
                if (!held_) {
                    ports_.settings.Outages().WaitingPass(LogTime(), siteId, sent, drained);
                    ports_.view.RefreshLatestReadings();
                }
                return false;
            });
        }
        AfterCompletion();
    };
    auto pass = TWaitingPass::Start(ports_.db, siteId, ports_.jobs, ports_.wait, std::move(o));
    if (!pass->Running()) return true;  // ended at once: nothing waited, the tick has been told
    pass_ = std::move(pass);
    // Its end, when it comes on the runner, also tells the window the work is over.
    return true;
}

void TAcquisition::FinishReading(TFlight& f) {
    RunTickPart([this, &f] { return ApplyReading(f); });
}

bool TAcquisition::ApplyReading(TFlight& f) {
    if (held_ || !f.station) return true;  // the site is being deleted: nothing changes
    TInternetTimeState& shared = ports_.common.time;
    const TSiteRow& site = f.site;
    TSQM& station = *f.station;
    const bool night = f.night;
    const bool ok = f.answer.Ok;
    if (ok) station.TakeReading(f.answer.Reading, f.latitude, f.longitude, AnswerTime(f));
    if (!ok && f.answer.Ring) ports_.view.Beep();
    if (f.error) throw std::runtime_error(*f.error);
    if (ok && f.identity) station.SetInfo(*f.identity);
    if (ok) {
        station.SetSiteID(site.Id);
        station.Syncro = shared.LastSyncSucceeded;
        station.State = night ? 0 : -1;
        station.StoreReading(&ports_.db);
        if (nightFile_) {
            nightFile_->SetMeterReplies(f.replies);
            nightFile_->Append(site, station, f.zoneOffset, ports_.clock.NowLocal() + shared.Offset);
            nightFile_->SetMeterReplies(std::nullopt);
        }
        report_.What = TTickReport::Outcome::Stored;
        ports_.view.ShowLatestReading(&station);
        ports_.view.RefreshLatestReadings();
        ports_.light.Show(night ? TSiteState::NightStored : TSiteState::DaylightStored);
    } else {
        ports_.light.Show(TSiteState::Failed);
        report_.What = TTickReport::Outcome::Failed;
        report_.Error = f.failure.empty() ? Tr("SQM-LE not found") : f.failure;
        // One line per failed due reading, whatever its cause: refused,
        // silent, garbled or impossible.
        LogTickFailure(site.Name, report_.Error);
        ports_.view.ReadingFailed(report_.Error);
        return false;
    }
    // Only a night reading stored now goes out: daylight readings never do,
    // and a failed reading leaves the station holding an older one.
    if (night && AutoUploadAllowed(site)) {
        auto up = std::make_shared<TFlight>();
        up->report = report_;
        up->station = f.station;
        up->kept = std::move(f.kept);
        up->meter = station.Copy();
        up->site = site;
        up->night = night;
        // Checked and sent on the site's network lane: a dead server
        // waits out its timeouts there.
        Launch(
            TJobLane::Network, up,
            [](TFlight& j) {
                j.contact = CheckNetworkContact(j.site.Code);
                if (j.contact.What == TNetworkContact::Result::Reached) j.sent = j.meter->SendToNetwork(j.site.Code);
            },
            &TAcquisition::FinishUpload);
        return true;
    }
    ports_.view.ReadingStored(station, night);
    return false;
}

void TAcquisition::FinishUpload(TFlight& f) {
    RunTickPart([this, &f] {
        if (held_ || !f.station) return true;
        if (f.error) throw std::runtime_error(*f.error);
        ports_.settings.Outages().Contact(LogTime(), f.site.Id, f.contact);
        TSQM& station = *f.station;
        if (f.sent) {
            station.Uploaded = true;
            MarkReadingUploaded(ports_.db, station.ReadingCode());
            report_.Uploaded = true;
        }
        ports_.view.ReadingStored(station, f.night);
        return false;
    });
}

void TAcquisition::ReadNow() {
    if (Reading() || syncing_) return;  // this site's tick or reading is under way
    // The reading is taken with the time just synchronised, once it is.
    SyncInternetTime(true, [this](bool) { ReadNowSynchronised(); });
}

void TAcquisition::ReadNowSynchronised() {
    if (Reading() || held_) return;
    TBusy busy(busy_);
    const double offset = UtcOffset();
    const TSiteRow site = ports_.site.Site();
    TSQM& station = EnsureStation(offset);
    if (ports_.common.meters.Busy(station.Client->Host, station.Client->Port)) return;
    // Asked before the meter is held: while the box is open every other site reads on.
    if (site.Id > 0 && (!site.Latitude || !site.Longitude))
        ports_.prompt.Inform(
            Tr("Warning, latitude / longitude, were not specified: it is impossible to correctly calculate twilights"));
    TMeterGates::THold meter = ports_.common.meters.TryHold(station.Client->Host, station.Client->Port);
    if (!meter) return;  // a tick of this meter ran while the box was open
    station.SetSiteID(site.Id);
    auto f = MeterFlight(station, std::move(meter), site, offset);
    f->report = report_;
    Launch(TJobLane::Meter, f, &TAcquisition::AskForReading, &TAcquisition::FinishReadNow);
}

void TAcquisition::FinishReadNow(TFlight& f) {
    try {
        ShowReadNow(f);
    } catch (const std::exception& e) {
        // As the window's own errors are shown, now that no caller is left to show it.
        ports_.prompt.Error(e.what());
    }
}

void TAcquisition::ShowReadNow(TFlight& f) {
    if (held_ || !f.station) return;
    TSQM& station = *f.station;
    bool ok = f.answer.Ok;
    std::string failure = f.failure;
    if (ok) {
        try {
            station.TakeReading(f.answer.Reading, f.latitude, f.longitude, AnswerTime(f));
        } catch (const std::exception& e) {
            ok = false;
            failure = e.what();
        }
    }
    // The bell as for any failed reading but a silent meter.
    if (!ok && (f.answer.Ring || f.answer.Ok)) ports_.view.Beep();
    if (ok)
        ports_.view.ShowLatestReading(&station);
    else
        ports_.prompt.Inform(Tr("SQM-LE not found") + "\n" + failure);
}
