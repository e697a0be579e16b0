#include "core/site/acquisition.h"

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
    return std::make_unique<TSQM>(p.Host, p.Port, p.TimeoutSeconds, p.Database, p.DoReading, p.DoInfo, p.TimeOffset,
                                  p.Offset, p.SiteId);
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
    bool abandoned = false;     // the acquisition is gone (owner's thread only)
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
    TNetworkContact contact;
    bool sent = false;
    TPendingReadings pending;  // the waiting readings of a quiet tick
    std::optional<std::string> error;  // what the job threw
    // Whole seconds the job went on after the reading's answer (the identity's wait).
    int lateSeconds = 0;
};

namespace {

int WholeSecondsSince(std::chrono::steady_clock::time_point t) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - t).count());
}

}  // namespace

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
    return f;
}

double TAcquisition::AnswerTime(const TFlight& f) {
    // Taken as the answer came: an identity that kept the job waiting is not the reading's time.
    return ports_.clock.NowLocal() + f.offset - f.lateSeconds / 86400.0;
}

TAcquisition::TAcquisition(TSitePorts ports, int periodMs)
    : ports_(ports),
      periodMs_(periodMs),
      nightFile_(std::make_unique<TNightFileWriter>(ports.db, ports.common.nightFiles)) {}

TAcquisition::~TAcquisition() {
    if (running_) ports_.ticker.Stop();
    // A conversation still under way ends on its own, unheard.
    if (flight_) flight_->abandoned = true;
}

double TAcquisition::UtcOffset() {
    return LocalToUtcOffset(ports_.site.Site().TimeZone, ports_.clock.Zone()) + ports_.common.time.Offset;
}

double TAcquisition::NowUtc() { return ports_.clock.NowLocal() + UtcOffset(); }

double TAcquisition::LogTime() { return ports_.clock.NowLocal() + ports_.common.time.Offset; }

bool TAcquisition::SyncInternetTime(bool showErrors) {
    TInternetTimeState& shared = ports_.common.time;
    ISiteSettings& settings = ports_.settings;
    if (!settings.UseInternetTime()) {
        shared.Offset = 0;
        return false;
    }
    bool ok = false;
    if (!settings.SyncClockEnabled()) {
        double offset = 0;
        ok = settings.GetTimeOffset(offset);
        if (ok)
            shared.Offset = offset;
        else if (showErrors)
            ports_.prompt.Error(Tr("Impossible to get the Internet time"));
    } else {
        double time = 0;
        ok = settings.GetInternetTime(time, true);
        if (!ok && showErrors) ports_.prompt.Error(Tr("Unable to synchronize the clock with Internet time"));
        // The PC clock itself is right now (or as right as it gets): no correction.
        shared.Offset = 0;
    }
    if (ok)
        settings.Outages().TimeAnswered(LogTime());
    else
        settings.Outages().TimeFailed(LogTime(), settings.TimeFailure());
    return ok;
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

void TAcquisition::Stop() {
    held_ = false;
    if (!running_) return;
    running_ = false;
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
    ports_.common.time.LastSyncSucceeded = SyncInternetTime(false);
    lastSyncTime_ = NowUtc();
    // Zero makes the first tick take a reading at once where one is allowed.
    lastReadingTime_ = 0;
    lastDayReadingTime_ = 0;
    running_ = true;
    ports_.view.ShowRunState(true);
    Tick();
    if (running_) ports_.ticker.Start(periodMs_);
    ports_.view.RefreshLatestReadings();
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
    // A pause inside a tick, or its conversation under way, lets the timer
    // fire again: that tick has nothing to do.
    if (Busy() || held_) return;
    TBusy busy(busy_);
    report_ = TTickReport{};
    try {
        if (DoTick()) return;  // the job ends it
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
    }
}

void TAcquisition::Launch(const std::shared_ptr<TFlight>& f, void (*work)(TFlight&),
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
    auto done = [this, f, finish] {
        if (f->abandoned) return;
        if (flight_ == f) flight_.reset();
        {
            TBusy busy(busy_);
            try {
                (this->*finish)(*f);
            } catch (...) {
                // Each completion says its own failures; nothing may reach the runner.
            }
        }
        if (!Busy()) {
            try {
                ports_.view.WorkDone();
            } catch (...) {
            }
        }
    };
    if (ports_.jobs) {
        ports_.jobs->Run(std::move(job), std::move(done));
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
        // Nothing more can be said about it; the next tick tries again.
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

    if (!due) {
        if (!AutoUploadAllowed(site)) return false;
        // Up to five waiting readings: the network database is checked
        // elsewhere (a dead server waits out its timeout), the rest here.
        auto f = std::make_shared<TFlight>();
        f->site = site;
        f->pending = PendingReadings(ports_.db, site.Id, kPendingPerTick);
        if (f->pending.empty()) {
            FinishPending(*f);
            return true;
        }
        Launch(f, [](TFlight& j) { j.contact = CheckNetworkContact(j.pending.front().second); },
               &TAcquisition::FinishPending);
        return true;
    }
    TSQM& station = EnsureStation(offset);
    if (ports_.common.meters.Busy(station.Client->Host, station.Client->Port)) {
        ports_.light.Show(TSiteState::Skipped);  // the interval counts as used
        report_.What = TTickReport::Outcome::Skipped;
        return false;
    }

    if (ports_.settings.UseInternetTime() &&
        ReadingDue(t, lastSyncTime_, ports_.settings.SyncFrequencyMinutes())) {
        shared.LastSyncSucceeded = SyncInternetTime(false);
        lastSyncTime_ = t;  // the new offset counts from the next tick
    }
    TMeterGates::THold meter = ports_.common.meters.TryHold(station.Client->Host, station.Client->Port);
    if (!meter) {  // taken while the time was synchronised
        ports_.light.Show(TSiteState::Skipped);
        report_.What = TTickReport::Outcome::Skipped;
        return false;
    }
    auto f = MeterFlight(station, std::move(meter), site, offset);
    f->zoneOffset = zoneOffset;
    f->night = night;
    Launch(
        f,
        [](TFlight& j) {
            j.answer = j.meter->AskReading();
            j.failure = j.meter->LastFailure();
            // The identity follows a good reading only: after a failed one it
            // would wait a second timeout on a silent meter and tell the same
            // cause twice. A garbled identity ends the tick in the error path, unstored.
            if (!j.answer.Ok) return;
            const auto answered = std::chrono::steady_clock::now();
            try {
                j.meter->AskInfo(j.identity);
            } catch (...) {
                j.lateSeconds = WholeSecondsSince(answered);
                throw;
            }
            j.lateSeconds = WholeSecondsSince(answered);
        },
        &TAcquisition::FinishReading);
    return true;
}

void TAcquisition::FinishReading(TFlight& f) {
    try {
        if (held_) return;  // the site is being deleted: nothing changes
        TInternetTimeState& shared = ports_.common.time;
        const TSiteRow& site = f.site;
        TSQM& station = *f.station;
        const bool night = f.night;
        const bool ok = f.answer.Ok;
        // Taken now, as the answer has come.
        if (ok) station.TakeReading(f.answer.Reading, f.latitude, f.longitude, AnswerTime(f));
        if (!ok && f.answer.Ring) ports_.view.Beep();
        if (f.error) throw std::runtime_error(*f.error);
        if (ok && f.identity) station.SetInfo(*f.identity);
        if (ok) {
            station.SetSiteID(site.Id);
            station.Syncro = shared.LastSyncSucceeded;
            station.State = night ? 0 : -1;
            station.StoreReading(&ports_.db);
            if (nightFile_) nightFile_->Append(site, station, f.zoneOffset, ports_.clock.NowLocal() + shared.Offset);
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
            TickEnded();
            return;
        }
        // Only a night reading stored now goes out: daylight readings never do,
        // and a failed reading leaves the station holding an older one.
        if (night && AutoUploadAllowed(site)) {
            auto up = std::make_shared<TFlight>();
            up->station = f.station;
            up->kept = std::move(f.kept);
            up->site = site;
            up->night = night;
            Launch(up, [](TFlight& j) { j.contact = CheckNetworkContact(j.site.Code); }, &TAcquisition::FinishContact);
            return;
        }
        ports_.view.ReadingStored(station, night);
    } catch (const std::exception& e) {
        TickError(e.what());
    } catch (...) {
        TickError("Unknown error");
    }
    TickEnded();
}

void TAcquisition::FinishPending(TFlight& f) {
    try {
        if (held_) return;
        if (f.error) throw std::runtime_error(*f.error);
        TOutages& outages = ports_.settings.Outages();
        const TSiteRow& site = f.site;
        int sent = 0;
        if (!f.pending.empty()) {
            outages.Contact(LogTime(), site.Id, f.contact);
            if (f.contact.What == TNetworkContact::Result::Reached) {
                TUploadPass pass;
                pass.Unloadable = &ports_.common.unloadableReadings;
                sent = SendPendingReadings(ports_.db, f.pending, ports_.wait, nullptr, &pass);
            }
        }
        report_.PendingSent = sent;
        outages.WaitingPass(LogTime(), site.Id, sent, static_cast<int>(f.pending.size()) < kPendingPerTick);
        ports_.view.RefreshLatestReadings();
    } catch (const std::exception& e) {
        TickError(e.what());
    } catch (...) {
        TickError("Unknown error");
    }
    TickEnded();
}

void TAcquisition::FinishContact(TFlight& f) {
    try {
        if (held_) return;
        if (f.error) throw std::runtime_error(*f.error);
        ports_.settings.Outages().Contact(LogTime(), f.site.Id, f.contact);
        if (f.contact.What == TNetworkContact::Result::Reached) {
            auto up = std::make_shared<TFlight>();
            up->station = f.station;
            up->kept = std::move(f.kept);
            up->meter = f.station->Copy();
            up->site = f.site;
            up->night = f.night;
            Launch(up, [](TFlight& j) { j.sent = j.meter->SendToNetwork(j.site.Code); }, &TAcquisition::FinishUpload);
            return;
        }
        ports_.view.ReadingStored(*f.station, f.night);
    } catch (const std::exception& e) {
        TickError(e.what());
    } catch (...) {
        TickError("Unknown error");
    }
    TickEnded();
}

void TAcquisition::FinishUpload(TFlight& f) {
    try {
        if (held_) return;
        if (f.error) throw std::runtime_error(*f.error);
        TSQM& station = *f.station;
        if (f.sent) {
            station.Uploaded = true;
            station.StoreReading(&ports_.db);
            report_.Uploaded = true;
        }
        ports_.view.ReadingStored(station, f.night);
    } catch (const std::exception& e) {
        TickError(e.what());
    } catch (...) {
        TickError("Unknown error");
    }
    TickEnded();
}

void TAcquisition::ReadNow() {
    if (Busy()) return;  // this site's tick or reading is under way
    TBusy busy(busy_);
    SyncInternetTime(true);
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
    Launch(
        f,
        [](TFlight& j) {
            j.answer = j.meter->AskReading();
            j.failure = j.meter->LastFailure();
        },
        &TAcquisition::FinishReadNow);
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
    if (held_) return;
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


std::string PendingReadingsSQL(int count) {
    std::string sql = kPendingReadingsSQL;
    const std::string rest = sql.substr(sql.find('\n'));
    return (count != 0 ? "SELECT FIRST " + std::to_string(count) + " " : std::string("SELECT")) + rest;
}

TPendingReadings PendingReadings(fb::Database& db, int siteId, int count) {
    TPendingReadings rows;
    fb::Transaction tr(db, fb::Isolation::ReadCommitted);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL(PendingReadingsSQL(count));
    q.SetInteger("IDSITO", siteId);
    q.Open();
    for (; !q.Eof(); q.Next()) {
        const fb::Field code = q.FieldByName("SIT_CODE");
        rows.emplace_back(q.FieldByName("REA_CODE").AsString(), code.IsNull() ? std::string() : code.AsString());
    }
    q.Close();
    tr.Commit();
    return rows;
}

int UploadPendingReadings(fb::Database& db, int siteId, int count, IWait& wait, IUploadProgress* progress,
                          TUploadPass* pass) {
    const TPendingReadings rows = PendingReadings(db, siteId, count);
    struct TEnd {  // the panel goes away in every case, errors included
        IUploadProgress* p;
        ~TEnd() {
            if (p) p->End();
        }
    } end{progress};
    const int total = static_cast<int>(rows.size());
    if (progress) progress->Begin(total);
    if (pass) pass->Drained = count == 0 || total < count;
    if (rows.empty()) return 0;
    const TNetworkContact contact = CheckNetworkContact(rows.front().second);
    if (pass && pass->OnContact) pass->OnContact(contact);
    if (contact.What != TNetworkContact::Result::Reached) return 0;
    return SendPendingReadings(db, rows, wait, progress, pass);
}

int SendPendingReadings(fb::Database& db, const TPendingReadings& rows, IWait& wait, IUploadProgress* progress,
                        TUploadPass* pass) {
    const int total = static_cast<int>(rows.size());
    int sent = 0, done = 0;
    for (const auto& [readingCode, siteCode] : rows) {
        TSQM station("", 0, 1, nullptr, false, false, 0, 0, 0);
        bool loaded = false;
        try {
            loaded = station.LoadReading(&db, readingCode);
        } catch (const TUnloadableReading& e) {
            // Newest first: a bad row left to end the loop would hold back
            // every older reading for ever. It stays waiting, and is told once.
            if (!pass || !pass->Unloadable || pass->Unloadable->First(readingCode))
                WriteErrorLog(FormatLogTime(NowLocal()) + " Lettura in attesa non inviabile, saltata: " + e.what(),
                              "NETWORK");
        }
        if (loaded && station.SendToNetwork(siteCode)) {
            station.Modified = false;
            station.Uploaded = true;
            station.StoreReading(&db);
            ++sent;
        }
        wait.Pause(1500);
        ++done;
        if (progress) progress->Step(done, total, sent);
    }
    return sent;
}
