#pragma once
// What a user does with a site, written once for every shell (the desktop
// windows, kalosqm-cli, kalosqm-station, the demo): add and change a site
// under the site rules, check its meter and keep the meter's identity,
// remove it after the two questions, which sites start by themselves, and
// what the credentials of a site code allow. The shells only show the
// questions, the progress and the outcomes their own way.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/station/dataset.h"
#include "core/station/fbdb.h"
#include "core/station/sqm.h"
#include "core/site/sitelist.h"
#include "core/site/siteports.h"
#include "core/site/siterules.h"
#include "core/site/sitecommons.h"

class TSQM;

namespace TSiteActions {

using TSiteFields = std::map<std::string, fb::Value>;

// ---------------------------------------------------------------- the record

// The one row of SQMSITES a site window binds; ID_SITO 0 opens it empty.
inline constexpr const char* kSelectSite = "select * from SQMSITES where SIT_ID=:ID_SITO";
TDataSet SiteRecord(fb::Transaction& tr);

// The row as edited so far.
TSiteRow RowOf(const TDataSet& record);
// A new row: SIT_ID from the generator, then the defaults of a new site.
void FillNewSite(TDataSet& record, const TZoneInfo& zone);
// The checks before a save. Throws TSiteRules::TSiteRefusal.
void CheckSave(const TDataSet& record);
// Both on the record's events, for a shell without events of its own.
void WireRecord(TDataSet& record, const TZoneInfo& zone);

// ---------------------------------------------------------------- add, update

// A new site: the defaults, the given fields over them, checked and written
// in tr, uncommitted. Returns its id. A refusal (TSiteRefusal) writes nothing.
int AddSite(fb::Transaction& tr, const TSiteFields& fields, const TZoneInfo& zone);
// Changes the given fields of a site, checked and written in tr,
// uncommitted. A refusal, or no such site, throws TSiteRefusal.
void UpdateSite(fb::Transaction& tr, int siteId, const TSiteFields& fields);

// ---------------------------------------------------------------- check connection

struct TMeterCheck {
    bool Found = false;   // the meter gave an identity
    bool Stored = false;  // and it was saved with the record
    TSiteFields Identity;  // SIT_SQMPROT, SIT_SQMMODEL, SIT_SQMFEATURE, SIT_SQMSERIAL
};

// "Check connection": the station asks again (with the host and port it
// was made with), or create() makes one that asks. When the meter answers,
// its identity goes into the record, which is then saved by save (the
// record's Post when none is given): pending edits and the checks of a save
// go with it. Errors of the connection are thrown; so is a refusal of Post.
TMeterCheck CheckConnection(TDataSet& record, TSQM* station, const std::function<TSQM&()>& create,
                            const std::function<bool()>& save = {});

// The same for a shell that must not wait on the meter: AskMeterIdentity
// asks on the meter lane of jobs (here, without jobs) with the meter held,
// so that no reading of it is under way meanwhile, and hands the answer to
// done on the owner's thread; KeepMeterIdentity then keeps it as
// CheckConnection does. Failure says why no identity came.
struct TMeterAnswer {
    std::optional<SqmInfoReply> Identity;
    std::string Failure;
};
void AskMeterIdentity(IJobRunner* jobs, TMeterGates& gates, const std::string& host, int port, int timeoutSeconds,
                      std::function<void(const TMeterAnswer&)> done);
TMeterCheck KeepMeterIdentity(TDataSet& record, const SqmInfoReply& identity, const std::function<bool()>& save = {});

// ---------------------------------------------------------------- remove

// The two questions of a deletion, in order, with the answer that deletes:
// Yes to "Delete the selected site?", No to "... Cancel the operation?".
// When the site has a window open, the first says that it will be stopped
// and closed.
struct TRemovalQuestion {
    std::string Text;
    bool Deletes;
};
std::vector<TRemovalQuestion> RemovalQuestions(const std::string& siteName, bool windowOpen = false);
// Asks them through the prompt; true only when both answers delete.
bool AskRemoval(IPrompt& prompt, const std::string& siteName, bool windowOpen = false);

// Why the site cannot be removed, empty when it can: the only refusal is a
// site that is not there. An open window of the site, even one that is
// reading, does not refuse: the removal stops and closes it (TRemovalSteps).
std::string RemovalRefusal(fb::Transaction& tr, int siteId);

struct TRemovalSteps {
    // The site has a window open in this program: the first question says so.
    // Holding: both answers deleted, nothing is deleted yet (the window stops
    // writing); Kept: the deletion was stopped or failed after that (it goes
    // on as it was); Deleted is where it is stopped and closed.
    bool WindowOpen = false;
    std::function<void()> Holding;
    std::function<void()> Kept;
    TSiteProgress Deleting;          // readings deleted so far; false stops, nothing deleted
    std::function<void()> Deleted;   // the deletion is committed
    TSiteProgress Collecting;        // the deleted readings' pages cleared so far
};

// The whole removal: the refusal (thrown as TSiteRefusal), the questions,
// the deletion in tr (committed at once), then the collection of what it
// left in the file. Deleted is false when an answer or the progress kept the site.
TSiteDeletion RemoveSite(fb::Transaction& tr, int siteId, IPrompt& prompt, const TRemovalSteps& steps = {});

// ---------------------------------------------------------------- autostart, credentials

// The sites that start their readings by themselves, at the desktop
// program's start and in kalosqm-station without --site, in the order the
// database returns them.
std::vector<int> AutostartSites(fb::Transaction& tr);
// Every site there is, by id.
std::vector<int> SiteIds(fb::Transaction& tr);

enum class TCredentialsStatus { NoCode, Missing, Invalid, Regular };
struct TCredentialsState {
    TCredentialsStatus Status = TCredentialsStatus::NoCode;
    std::string Error;  // why the file is invalid
    bool Upload = false;
    bool Download = false;
};
// What the credentials file of the (trimmed) site code allows.
TCredentialsState CredentialsState(const std::string& siteCode);

}  // namespace TSiteActions
