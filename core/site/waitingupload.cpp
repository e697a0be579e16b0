#include "core/site/waitingupload.h"

#include <utility>

#include "core/station/errorlog.h"
#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "core/station/sqm.h"

namespace {

// The network database's own pace: a pause after every reading sent.
constexpr int kPauseAfterReadingMs = 1500;

}  // namespace

void MarkReadingUploaded(fb::Database& db, const std::string& readingCode) {
    fb::Transaction tr(db, fb::Isolation::ReadCommitted);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("UPDATE READINGS SET REA_UPLOADED=1, REA_MODIFIED=0 WHERE REA_CODE=:CODE");
    q.SetString("CODE", readingCode);
    q.ExecSQL();
    tr.Commit();
}

TWaitingPass::TWaitingPass(fb::Database& db, IJobRunner* jobs, IWait& wait, TOptions options)
    : db_(db), jobs_(jobs), wait_(wait), options_(std::move(options)) {}

std::shared_ptr<TWaitingPass> TWaitingPass::Start(fb::Database& db, int siteId, IJobRunner* jobs, IWait& wait,
                                                  TOptions options) {
    auto pass = std::make_shared<TWaitingPass>(db, jobs, wait, std::move(options));
    const int count = pass->options_.Count;
    pass->rows_ = PendingReadings(db, siteId, count);
    pass->drained_ = count == 0 || static_cast<int>(pass->rows_.size()) < count;
    if (pass->options_.Progress) pass->options_.Progress->Begin(pass->Total());
    if (pass->rows_.empty()) {
        pass->End();
        return pass;
    }
    // The check waits out its timeout when the server is gone: elsewhere.
    const std::string siteCode = pass->rows_.front().second;
    auto contact = std::make_shared<TNetworkContact>();
    auto work = [contact, siteCode] {
        try {
            *contact = CheckNetworkContact(siteCode);
        } catch (const std::exception& e) {
            contact->What = TNetworkContact::Result::Unreachable;
            contact->SiteCode = Trim(siteCode);
            contact->Why = e.what();
        }
    };
    auto done = [pass, contact] { pass->Contacted(*contact); };
    if (jobs) {
        jobs->Run(TJobLane::Network, std::move(work), std::move(done));
    } else {
        work();
        done();
    }
    return pass;
}

void TWaitingPass::Contacted(const TNetworkContact& contact) {
    if (abandoned_) return;
    if (options_.OnContact) options_.OnContact(contact);
    if (contact.What != TNetworkContact::Result::Reached) {
        next_ = rows_.size();  // nothing sent: the readings wait on
        End();
        return;
    }
    Next();
}

void TWaitingPass::Next() {
    // Inline, each reading in turn here; with a runner, one job a reading.
    while (!abandoned_) {
        if (cancelled_ || next_ >= rows_.size() || (options_.Held && options_.Held())) {
            End();
            return;
        }
        const std::string readingCode = rows_[next_].first, siteCode = rows_[next_].second;
        ++next_;
        auto station = std::make_shared<TSQM>(TSQMOptions{.Port = 0, .TimeoutSeconds = 1});
        bool loaded = false;
        try {
            loaded = station->LoadReading(&db_, readingCode);
        } catch (const TUnloadableReading& e) {
            // Newest first: a bad row left to end the pass would hold back
            // every older reading for ever. It stays waiting, and is told once.
            if (!options_.Unloadable || options_.Unloadable->First(readingCode))
                WriteErrorLog(FormatLogTime(NowLocal()) + " Lettura in attesa non inviabile, saltata: " + e.what(),
                              "NETWORK");
        }
        if (!loaded) {  // deleted meanwhile, or unloadable: nothing to send
            if (options_.Progress) options_.Progress->Step(static_cast<int>(next_), Total(), sent_);
            continue;
        }
        auto sent = std::make_shared<bool>(false);
        auto stopping = std::make_shared<bool>(false);
        IJobRunner* jobs = jobs_;
        IWait* wait = &wait_;
        auto work = [station, siteCode, sent, stopping, jobs, wait] {
            *sent = station->SendToNetwork(siteCode);
            if (jobs)
                *stopping = !jobs->Pause(kPauseAfterReadingMs);
            else
                wait->Pause(kPauseAfterReadingMs);
        };
        auto self = shared_from_this();
        auto done = [self, station, sent, stopping, readingCode] {
            if (self->abandoned_) return;
            if (*stopping) self->cancelled_ = true;  // the program is stopping: no more sending
            try {
                if (*sent && !(self->options_.Held && self->options_.Held())) {
                    MarkReadingUploaded(self->db_, readingCode);
                    ++self->sent_;
                }
            } catch (const std::exception& e) {
                WriteErrorLog(FormatLogTime(NowLocal()) + " - Upload - " + e.what(), "NETWORK");
            }
            if (self->options_.Progress)
                self->options_.Progress->Step(static_cast<int>(self->next_), self->Total(), self->sent_);
        };
        if (jobs_) {
            jobs_->Run(TJobLane::Network, std::move(work), [self, done] {
                done();
                self->Next();
            });
            return;
        }
        work();
        done();
    }
}

void TWaitingPass::End() {
    if (!running_) return;
    running_ = false;
    if (abandoned_) return;
    if (options_.Progress) options_.Progress->End();
    if (options_.OnEnd) options_.OnEnd(sent_, static_cast<int>(next_), drained_ && next_ >= rows_.size());
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
        TSQM station(TSQMOptions{.Port = 0, .TimeoutSeconds = 1});
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
