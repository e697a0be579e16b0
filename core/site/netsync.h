#pragma once
// "Check connection" and "Send waiting records" of a site's network page,
// without any window: the desktop and the command line run the same steps
// and show the same texts.
#include <functional>
#include <string>

#include "core/site/acquisition.h"
#include "core/site/siteports.h"

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
// ends with "Operation completed". afterUpload runs before that box, with
// the number sent (the window refreshes its lists there). Errors of the
// upload reach the caller.
TSendWaitingOutcome SendWaitingRecords(fb::Database& db, int siteId, const std::string& siteCode, bool acquiring,
                                       IPrompt& prompt, IWait& wait, IUploadProgress* progress,
                                       const std::function<void(int sent)>& afterUpload = {});
