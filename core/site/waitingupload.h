#pragma once
// One pass over a site's waiting readings, on the network lane of the site's
// job runner: the network database is checked first, then each reading is
// sent, newest first, with the 1500 ms pause after each that the network
// database has always had between them. The readings are loaded and flagged
// on the owner's thread; only the talking runs elsewhere, one reading a job,
// so a pass can be stopped between two readings and another site's pass, or
// this site's meter, never waits for it.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/site/outages.h"
#include "core/site/sitecommons.h"
#include "core/site/siteports.h"

namespace fb {
class Database;
}

// Sends the site's waiting readings (count 0: all), newest first, pausing
// 1500 ms after each. Progress, when given, is told (done, total, sent)
// before the first and after each reading. Returns the number sent.
// Errors of the loop reach the caller.
class IUploadProgress {
public:
    virtual ~IUploadProgress() = default;
    virtual void Begin(int total) = 0;
    virtual void Step(int done, int total, int sent) = 0;
    virtual void End() = 0;
};
// The data module's statement of waiting readings, and its text for a count.
// The site is named in each branch of the OR and the site row first, so the
// flag-first indexes find the few waiting readings among millions; the state
// range in the first branches skips daylight readings inside the index, and
// "<>-1" is ">=0 or <=-2" for an INTEGER. The plan is spelled out because the
// delivered file's indexes were made empty and carry no selectivity to go by.
inline constexpr const char* kPendingReadingsSQL =
    "SELECT FIRST :NUMREC \n"
    "REA_CODE, SIT_CODE  FROM READINGS JOIN SQMSITES ON REA_SITE=SIT_ID\n"
    "WHERE SIT_ID=:IDSITO AND ((REA_SITE=:IDSITO AND REA_UPLOADED=0 AND REA_STATE>=0) OR "
    "(REA_SITE=:IDSITO AND REA_UPLOADED=0 AND REA_STATE<=-2) OR (REA_SITE=:IDSITO AND REA_MODIFIED=1)) "
    "AND REA_STATE<>-1 AND REA_SQMVALUE>0\n"
    "PLAN SORT (JOIN (SQMSITES INDEX (PK_SQMSITES), "
    "READINGS INDEX (IDX_READINGS_UPLOADED, IDX_READINGS_UPLOADED, IDX_READINGS_MODIFIED)))\n"
    "ORDER BY REA_DATETIME DESC";
std::string PendingReadingsSQL(int count);
// For the outage record: told the check of the network database as it is
// made (none when nothing waits); Drained: every waiting reading was among
// those selected.
struct TUploadPass {
    std::function<void(const TNetworkContact&)> OnContact;
    bool Drained = false;
    // A waiting reading that cannot be sent is logged once per key given
    // here; without it, once per pass.
    TToldOnce* Unloadable = nullptr;
};
int UploadPendingReadings(fb::Database& db, int siteId, int count, IWait& wait, IUploadProgress* progress = nullptr,
                          TUploadPass* pass = nullptr);
// The same in its parts, for a caller that checks the network database
// elsewhere: the waiting readings (REA_CODE, SIT_CODE), newest first, and
// their sending once the check reached it (no check, no OnContact, no Drained).
using TPendingReadings = std::vector<std::pair<std::string, std::string>>;
TPendingReadings PendingReadings(fb::Database& db, int siteId, int count);
int SendPendingReadings(fb::Database& db, const TPendingReadings& rows, IWait& wait, IUploadProgress* progress = nullptr,
                        TUploadPass* pass = nullptr);

class TWaitingPass : public std::enable_shared_from_this<TWaitingPass> {
public:
    struct TOptions {
        int Count = 0;  // at most this many readings; 0: every one
        IUploadProgress* Progress = nullptr;
        TToldOnce* Unloadable = nullptr;  // a reading that cannot be sent is told once per program
        std::function<void(const TNetworkContact&)> OnContact;
        // The pass is over: sent went up, done were tried; drained when every
        // waiting reading was among those selected. Not called once abandoned.
        std::function<void(int sent, int done, bool drained)> OnEnd;
        // True while nothing may be written (the site is being deleted): the pass ends.
        std::function<bool()> Held;
    };

    // Starts the pass: with jobs the talking runs on their network lane and
    // this returns at once; without, everything runs here, pausing on wait.
    static std::shared_ptr<TWaitingPass> Start(fb::Database& db, int siteId, IJobRunner* jobs, IWait& wait,
                                               TOptions options);

    // Ends the pass after the reading under way (its result is still kept).
    void Cancel() { cancelled_ = true; }
    // Its owner is gone: nothing more is done or called.
    void Abandon() { abandoned_ = true; }
    bool Running() const { return running_; }
    int Total() const { return static_cast<int>(rows_.size()); }

    // Use Start.
    TWaitingPass(fb::Database& db, IJobRunner* jobs, IWait& wait, TOptions options);

private:
    void Contacted(const TNetworkContact& contact);
    void Next();
    void End();

    fb::Database& db_;
    IJobRunner* jobs_;
    IWait& wait_;
    TOptions options_;
    TPendingReadings rows_;
    size_t next_ = 0;
    int sent_ = 0;
    bool drained_ = false;
    bool cancelled_ = false;
    bool abandoned_ = false;
    bool running_ = true;
};

// The reading's flags once the network database has it; a reading deleted
// meanwhile stays deleted.
void MarkReadingUploaded(fb::Database& db, const std::string& readingCode);
