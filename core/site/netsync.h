#pragma once
// "Check connection" and "Send waiting records" of a site's network page,
// without any window: the desktop and the command line run the same steps
// and show the same texts.
#include <functional>
#include <memory>
#include <string>

#include "core/site/acquisition.h"
#include "core/site/siteports.h"
#include "core/site/waitingupload.h"

namespace fb {
class Database;
}

// What "Check connection" shows: the connection test's error text (with the
// client library's reason on a new line when the connection failed), or the
// success text when the network database accepted the site.
struct TConnectionCheck {
    bool Ok = false;
    std::string Message;  // translated
};
// Throws what TestNetworkConnection throws (a failing count statement, a
// credentials file that vanished after its check).
TConnectionCheck CheckNetworkConnection(const std::string& siteCode);

// The lines of the upload's progress: before the first reading, and after
// each one (the number done, and the number that reached the server).
std::string UploadProgressStartText(int total);
std::string UploadProgressDoneText(int done, int total);
std::string UploadProgressSentText(int sent);

enum class TSendWaitingOutcome { NotEnabled, Acquiring, NotConfirmed, Completed };

// "Send waiting records" of a site: refused with an error box when its
// credentials do not allow uploading or while its acquisition runs; asks,
// then sends every waiting reading (UploadPendingReadings, count 0) and
// ends with "Operation completed". AfterUpload runs before that box, with
// the number sent (the window refreshes its lists there). Errors of the
// upload reach the caller.
struct TSendWaiting {
    fb::Database& Db;
    int SiteId = 0;
    std::string SiteCode;
    bool Acquiring = false;
    IPrompt& Prompt;
    IWait& Wait;
    IUploadProgress* Progress = nullptr;
    std::function<void(int sent)> AfterUpload;
};
TSendWaitingOutcome SendWaitingRecords(const TSendWaiting& send);

// The same for a shell that must not wait: after the refusals and the
// question, the pass runs on the network lane of jobs and this returns at
// once with it (null when refused or not confirmed); its end calls
// afterUpload and says "Operation completed". Cancel the pass to stop it
// after the reading under way. Without jobs it runs here to its end.
std::shared_ptr<TWaitingPass> StartSendWaitingRecords(const TSendWaiting& send, IJobRunner* jobs);
