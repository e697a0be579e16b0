#include "core/site/siteactions.h"

#include <algorithm>
#include <optional>

#include "core/station/credentials.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/site/siteedit.h"
#include "core/site/siterow.h"

namespace TSiteActions {

namespace {

std::optional<std::string> SiteName(fb::Transaction& tr, int siteId) {
    tr.EnsureActive();
    fb::Query q(tr);
    q.SetSQL("select SIT_NAME from SQMSITES where SIT_ID=:ID_SITO");
    q.SetInteger("ID_SITO", siteId);
    q.Open();
    std::optional<std::string> name;
    if (!q.Eof()) name = q.Fields(0).IsNull() ? std::string() : q.Fields(0).AsString();
    q.Close();
    return name;
}

std::string NoSite(int siteId) { return "there is no site with id " + std::to_string(siteId); }

// A column the select does not have reads as empty.
TSiteRules::TSiteValues ValuesOf(const TDataSet& record) {
    return [&record](const std::string& name) {
        const auto& names = record.FieldNames();
        return std::find(names.begin(), names.end(), name) != names.end() ? record.FieldValue(name) : fb::Value{};
    };
}

void Apply(TDataSet& record, const TSiteFields& fields) {
    for (const auto& [column, value] : fields) record.SetField(column, value);
}

}  // namespace

TDataSet SiteRecord(fb::Transaction& tr) { return TDataSet(tr, kSelectSite, "SQMSITES", "SIT_ID"); }

TSiteRow RowOf(const TDataSet& record) { return SiteRowFromValues(ValuesOf(record)); }

void FillNewSite(TDataSet& record, const TZoneInfo& zone) {
    record.SetField("SIT_ID", int64_t{TSiteRules::NextSiteId(record.Tr())});
    for (const auto& [field, value] : TSiteRules::NewSiteDefaults(zone)) record.SetField(field, value);
}

void CheckSave(const TDataSet& record) { TSiteRules::CheckPost(ValuesOf(record)); }

void WireRecord(TDataSet& record, const TZoneInfo& zone) {
    record.OnNewRecord = [&record, zone] { FillNewSite(record, zone); };
    record.BeforePost = [&record] { CheckSave(record); };
}

int AddSite(fb::Transaction& tr, const TSiteFields& fields, const TZoneInfo& zone) {
    TDataSet record = SiteRecord(tr);
    WireRecord(record, zone);
    record.SetParam("ID_SITO", int64_t{0});
    record.Open();
    record.Insert();
    Apply(record, fields);
    record.Post();
    return static_cast<int>(record.AsInteger("SIT_ID"));
}

void UpdateSite(fb::Transaction& tr, int siteId, const TSiteFields& fields) {
    TDataSet record = SiteRecord(tr);
    WireRecord(record, TZoneInfo{});
    record.SetParam("ID_SITO", int64_t{siteId});
    record.Open();
    if (record.Eof()) throw TSiteRules::TSiteRefusal(NoSite(siteId));
    record.Edit();
    Apply(record, fields);
    record.Post();
}

TMeterCheck CheckConnection(TDataSet& record, TSQM* station, const std::function<TSQM&()>& create,
                            const std::function<bool()>& save) {
    TMeterCheck check;
    const TSQM* found = TSiteEdit::FindMeter(station, create);
    if (!found) return check;
    return KeepMeterIdentity(record, {found->Protocol, found->Model, found->Feature, found->Serial}, save);
}

TMeterCheck KeepMeterIdentity(TDataSet& record, const SqmInfoReply& identity, const std::function<bool()>& save) {
    TMeterCheck check;
    if (identity.Serial == 0) return check;
    check.Found = true;
    check.Identity = {{"SIT_SQMPROT", int64_t{identity.Protocol}},
                      {"SIT_SQMMODEL", int64_t{identity.Model}},
                      {"SIT_SQMFEATURE", int64_t{identity.Feature}},
                      {"SIT_SQMSERIAL", int64_t{identity.Serial}}};
    record.Edit();  // a window that is reading refuses here
    Apply(record, check.Identity);
    if (save) {
        check.Stored = save();
    } else {
        record.Post();
        check.Stored = true;
    }
    return check;
}

void AskMeterIdentity(IJobRunner* jobs, TMeterGates& gates, const std::string& host, int port, int timeoutSeconds,
                      std::function<void(const TMeterAnswer&)> done) {
    auto answer = std::make_shared<TMeterAnswer>();
    auto hold = std::make_shared<TMeterGates::THold>(gates.TryHold(host, port));
    if (!*hold) {
        answer->Failure = "SQM-LE at " + host + ":" + std::to_string(port) + ": " + Tr("a reading is in progress");
        done(*answer);
        return;
    }
    auto work = [answer, hold, host, port, timeoutSeconds] {
        TSQM meter(TSQMOptions{.Host = host, .Port = port, .TimeoutSeconds = timeoutSeconds});
        try {
            std::optional<SqmInfoReply> identity;
            if (meter.AskInfo(identity) && identity && identity->Serial != 0)
                answer->Identity = identity;
            else
                answer->Failure = meter.LastFailure();
        } catch (const std::exception& e) {
            // The meter's own account (refused, lost, garbled) before the bare error.
            answer->Failure = meter.LastFailure().empty() ? e.what() : meter.LastFailure();
        }
        hold->Release();  // the conversation is over
    };
    auto finish = [answer, done] { done(*answer); };
    if (jobs) {
        jobs->Run(TJobLane::Meter, std::move(work), std::move(finish));
    } else {
        work();
        finish();
    }
}

std::vector<TRemovalQuestion> RemovalQuestions(const std::string& siteName, bool windowOpen) {
    std::string first = Tr("Delete the selected site?");
    if (windowOpen) first += "\r" + Tr("The window of this site is open: its readings will stop and it will close.");
    // Yes answers "Cancel the operation?": only No deletes.
    return {{first, true}, {SecondDeleteQuestion(siteName), false}};
}

bool AskRemoval(IPrompt& prompt, const std::string& siteName, bool windowOpen) {
    for (const TRemovalQuestion& q : RemovalQuestions(siteName, windowOpen))
        if (prompt.Confirm(q.Text) != q.Deletes) return false;
    return true;
}

std::string RemovalRefusal(fb::Transaction& tr, int siteId) {
    return SiteName(tr, siteId) ? std::string() : NoSite(siteId);
}

TSiteDeletion RemoveSite(fb::Transaction& tr, int siteId, IPrompt& prompt, const TRemovalSteps& steps) {
    const auto name = SiteName(tr, siteId);
    if (!name) throw TSiteRules::TSiteRefusal(NoSite(siteId));
    TSiteDeletion deletion;
    deletion.SiteId = siteId;
    if (!AskRemoval(prompt, *name, steps.WindowOpen)) return deletion;
    // The window writes nothing into a site on its way out; a deletion that
    // does not happen leaves it as it was.
    if (steps.Holding) steps.Holding();
    try {
        deletion = DeleteSite(tr, siteId, steps.Deleting);
    } catch (...) {
        if (steps.Kept) steps.Kept();
        throw;
    }
    if (!deletion.Deleted) {
        if (steps.Kept) steps.Kept();
        return deletion;
    }
    if (steps.Deleted) steps.Deleted();
    CollectSiteGarbage(tr.Db(), deletion, steps.Collecting);
    return deletion;
}

namespace {
std::vector<int> Ids(fb::Transaction& tr, const char* sql) {
    tr.EnsureActive();
    fb::Query q(tr);
    q.SetSQL(sql);
    q.Open();
    std::vector<int> ids;
    for (; !q.Eof(); q.Next()) ids.push_back(static_cast<int>(q.Fields(0).AsInteger()));
    q.Close();
    return ids;
}
}  // namespace

std::vector<int> AutostartSites(fb::Transaction& tr) {
    return Ids(tr, "SELECT SIT_ID FROM SQMSITES WHERE SIT_AUTOSTART=1");
}

std::vector<int> SiteIds(fb::Transaction& tr) { return Ids(tr, "SELECT SIT_ID FROM SQMSITES ORDER BY SIT_ID"); }

TCredentialsState CredentialsState(const std::string& siteCode) {
    TCredentialsState state;
    const std::string code = Trim(siteCode);
    if (code.empty()) return state;
    const int rights = CheckCredentialsFile(code, state.Error);
    if (rights == kCredentialsMissing) {
        state.Status = TCredentialsStatus::Missing;
    } else if (rights == kCredentialsInvalid) {
        state.Status = TCredentialsStatus::Invalid;
    } else {
        state.Status = TCredentialsStatus::Regular;
        state.Upload = (rights & kCredentialsUpload) != 0;
        state.Download = (rights & kCredentialsDownload) != 0;
    }
    return state;
}

}  // namespace TSiteActions
