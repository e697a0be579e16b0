#pragma once
// The unattended acquisition of one site: the 30-second tick, starting and
// stopping, "Read now" and the time synchronisation around readings. The
// desktop window and the headless service drive the same object; it talks
// to the world through TSitePorts only.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/site/outages.h"
#include "core/site/sitecommons.h"
#include "core/site/siteports.h"

class TSQM;
class INightFile;
class TWaitingPass;

// What the last tick did, for the views, the service's output and the tests.
struct TTickReport {
    enum class Outcome {
        NotDue,      // nothing fell due
        Skipped,     // due, but its meter was in another conversation
        Stored,      // a reading was stored
        Failed,      // due, the meter gave no reading fit to store: logged, and why in Error
        Exception,   // the tick failed: logged as a " - Timer Exception - " line
    };
    Outcome What = Outcome::NotDue;
    bool Night = false;        // the due reading was a night reading
    bool Uploaded = false;     // the stored reading reached the network database
    int PendingSent = 0;       // waiting readings sent in this tick
    double Utc = 0;            // the tick's UTC time
    std::string Error;         // why: the station's failure, or the exception's message
};

class TAcquisition {
public:
    static constexpr int kTickMs = 30000;

    TAcquisition(TSitePorts ports, int periodMs = kTickMs);
    ~TAcquisition();
    TAcquisition(const TAcquisition&) = delete;
    TAcquisition& operator=(const TAcquisition&) = delete;

    bool Running() const { return running_; }
    // Inside Tick or ReadNow, or while their conversation with the meter,
    // an upload, a pass over the waiting readings or a synchronisation this
    // site began runs elsewhere.
    bool Busy() const { return busy_ > 0 || flight_ != nullptr || pass_ != nullptr || syncing_; }
    // A tick's or "Read now"'s reading is under way: a due reading waits for
    // no pass over the waiting readings, only for this.
    bool Reading() const { return busy_ > 0 || flight_ != nullptr; }

    // A pass over the waiting readings ends after the reading under way
    // (the program is stopping).
    void CancelWork();

    // The button "Start SQM readings": starts, or stops when running.
    void StartOrStop();
    // No-op when running; no start when the user keeps unsaved changes, nor
    // when another acquisition of this program runs the same site (an error box says so).
    void Start();
    void Stop();   // no-op when stopped
    // One acquisition tick. Never throws. A due reading's conversation with
    // the meter (and the upload of the reading) runs on the job runner of the
    // ports: the tick ends when it is applied (the view's TickEnded), and
    // no tick starts while one has not ended.
    void Tick();
    // "Read now": shows a reading without storing it. The coordinates
    // warning and "SQM-LE not found" are shown with no meter held, so the
    // other sites read on while a box is open.
    void ReadNow();
    // Closing: asks while acquisition runs; Yes stops it. True = may close.
    bool MayClose();
    // Quitting the program: asks the same, naming the site, while acquisition
    // runs, and stops nothing; the program stops its sites only once every
    // answer allowed it. True = may stop.
    bool MayStopForQuit();
    // While the site is being deleted: no tick runs and nothing else changes.
    // Release goes on as before (a reading due meanwhile comes at the next tick).
    void Hold();
    void Release();

    // The Internet-time synchronisation: asked of the servers on the job
    // runner's time lane (one for the program: a site that wants one while
    // another runs waits for that one), applied here; then runs afterwards
    // with its success. With showErrors a failure is told in a box.
    void SyncInternetTime(bool showErrors, std::function<void(bool ok)> then = {});
    // The UTC offset of a tick: LocalToUtcOffset + the Internet-time offset.
    double UtcOffset();
    double NowUtc();

    // The station object: created at first use, discarded when the site is saved.
    TSQM* Station() const { return station_.get(); }
    TSQM& EnsureStation(double timeOffset);
    void DiscardStation();
    // Creates it for a connection test (site 0, offset 0, "ix" at creation).
    TSQM& CreateStationForTest();

    // Where every stored reading is also appended: a TNightFileWriter on the
    // site's database unless replaced; nullptr writes none.
    INightFile* NightFile() const { return nightFile_.get(); }
    void SetNightFile(std::unique_ptr<INightFile> nightFile);

    const TTickReport& LastTick() const { return report_; }
    double LastReadingTime() const { return lastReadingTime_; }
    double LastDayReadingTime() const { return lastDayReadingTime_; }
    double LastSyncTime() const { return lastSyncTime_; }

private:
    struct TFlight;
    // True when the tick goes on in a job (which ends it).
    bool DoTick();
    // On the meter's lane: a reading asked, its answer and when it came.
    static void AskForReading(TFlight& j);
    // Runs work on the job runner and then finish here; the flight is the
    // site's one piece of work under way until finish begins.
    void Launch(TJobLane lane, const std::shared_ptr<TFlight>& f, void (*work)(TFlight&),
                void (TAcquisition::*finish)(TFlight&));
    void AfterCompletion();
    // The completions: a due reading, the check and the upload of a stored
    // night reading, the reading shown by "Read now".
    void FinishReading(TFlight& f);
    bool ApplyReading(TFlight& f);  // FinishReading's part: true when the upload's job ends the tick
    void FinishUpload(TFlight& f);
    void FinishReadNow(TFlight& f);
    void ShowReadNow(TFlight& f);
    // The UTC time the reading's answer came, on the site's clock.
    double AnswerTime(const TFlight& f);
    // A conversation with the held meter: the job's copy of the station and the site's position.
    std::shared_ptr<TFlight> MeterFlight(TSQM& station, TMeterGates::THold meter, const TSiteRow& site, double offset);
    // Up to five waiting readings on a tick with nothing due: true when a pass began (it ends the tick).
    bool StartWaitingPass(const TSiteRow& site);
    void SyncEnded(const TTimeAnswer& answer, bool setClock, bool showErrors);
    void ReadNowSynchronised();
    void TickEnded();
    void TickError(const std::string& message);
    // A part of a tick: what it throws is the tick's error, and the tick
    // ends after it unless it returns true (a job under way ends it later).
    void RunTickPart(const std::function<bool()>& part);
    // The " - Timer Exception - " line of the site's log.
    void LogTickFailure(const std::string& siteName, const std::string& cause);
    double LogTime();  // the PC clock with the Internet-time offset, as log lines take it
    bool AutoUploadAllowed(const TSiteRow& site);

    TSitePorts ports_;
    int periodMs_;
    bool running_ = false;
    int claimedSite_ = 0;  // the site this one holds in the program's registry while running
    bool held_ = false;
    int busy_ = 0;
    std::shared_ptr<TFlight> flight_;
    std::shared_ptr<TWaitingPass> pass_;
    bool syncing_ = false;       // a synchronisation this site began is under way
    bool startPending_ = false;  // the first tick waits for the start's synchronisation
    // Completions look at it: one that comes after the acquisition has gone does nothing.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<TSQM> station_;
    std::unique_ptr<INightFile> nightFile_;
    double lastReadingTime_ = 0;
    double lastDayReadingTime_ = 0;
    double lastSyncTime_ = 0;
    TTickReport report_;
};
