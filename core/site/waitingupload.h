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

#include "core/site/acquisition.h"
#include "core/site/outages.h"
#include "core/site/siteports.h"

namespace fb {
class Database;
}

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
