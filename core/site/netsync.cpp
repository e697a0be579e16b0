#include "core/site/netsync.h"

#include <cstdio>

#include "core/station/credentials.h"
#include "core/station/i18n.h"

namespace {

// The texts carry their numbers as printf conversions in the catalogues.
std::string Formatted(const char* text, int a, int b = 0) {
    char buf[200];
    std::snprintf(buf, sizeof buf, Tr(text).c_str(), a, b);
    return buf;
}

}  // namespace

TConnectionCheck CheckNetworkConnection(const std::string& siteCode) {
    std::string error, client;
    TestNetworkConnection(siteCode, error, &client);
    if (error.empty()) return {true, Tr("Connection successfully estabilished")};
    // The client's words say which of host, port, user or password is wrong.
    if (!client.empty()) error += "\n" + client;
    return {false, error};
}

std::string UploadProgressStartText(int total) { return Formatted(N_("Processed 0 of %d"), total); }

std::string UploadProgressDoneText(int done, int total) { return Formatted(N_("Processed %d di %d"), done, total); }

std::string UploadProgressSentText(int sent) { return Tr("Successfully uploaded: ") + std::to_string(sent); }

namespace {

// The refusals and the question; true when the pass may begin.
TSendWaitingOutcome MaySendWaiting(const std::string& siteCode, bool acquiring, IPrompt& prompt) {
    std::string error;
    if ((CheckCredentialsFile(siteCode, error) & kCredentialsUpload) == 0) {
        prompt.Error(Tr("This site is not enabled for data uploading"));
        return TSendWaitingOutcome::NotEnabled;
    }
    if (acquiring) {
        prompt.Error(Tr("Can not perform the operation during data acquisition"));
        return TSendWaitingOutcome::Acquiring;
    }
    if (!prompt.Confirm(Tr("Upload the records on hold? the operation could take several minutes")))
        return TSendWaitingOutcome::NotConfirmed;
    return TSendWaitingOutcome::Completed;
}

std::shared_ptr<TWaitingPass> StartPass(fb::Database& db, int siteId, IPrompt& prompt, IJobRunner* jobs, IWait& wait,
                                        IUploadProgress* progress, std::function<void(int sent)> afterUpload) {
    TWaitingPass::TOptions o;
    o.Count = 0;
    o.Progress = progress;
    o.OnEnd = [&prompt, afterUpload](int sent, int, bool) {
        if (afterUpload) afterUpload(sent);
        prompt.Inform(Tr("Operation completed"));
    };
    return TWaitingPass::Start(db, siteId, jobs, wait, std::move(o));
}

}  // namespace

TSendWaitingOutcome SendWaitingRecords(const TSendWaiting& s) {
    const TSendWaitingOutcome may = MaySendWaiting(s.SiteCode, s.Acquiring, s.Prompt);
    if (may != TSendWaitingOutcome::Completed) return may;
    StartPass(s.Db, s.SiteId, s.Prompt, nullptr, s.Wait, s.Progress, s.AfterUpload);
    return TSendWaitingOutcome::Completed;
}

std::shared_ptr<TWaitingPass> StartSendWaitingRecords(const TSendWaiting& send, IJobRunner* jobs) {
    if (MaySendWaiting(send.SiteCode, send.Acquiring, send.Prompt) != TSendWaitingOutcome::Completed) return nullptr;
    return StartPass(send.Db, send.SiteId, send.Prompt, jobs, send.Wait, send.Progress, send.AfterUpload);
}
