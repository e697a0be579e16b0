#include "core/site/sitelist.h"

#include <algorithm>

#include "core/station/fbdb.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/site/readingcounts.h"

namespace {
const char* const kListSQL = "select SIT_ID, SIT_NAME, SIT_CODE, SIT_SQMHOST  from SQMSITES order by SIT_NAME";
const char* const kDeleteSQL =
    "delete from SQMSITES\n"
    "where\n"
    "  SIT_ID = :OLD_SIT_ID";
const char* const kFirstDateSQL =
    "SELECT FIRST 1 REA_DATETIME FROM READINGS WHERE REA_SITE=:SIT_ID AND REA_DATETIME IS NOT NULL\n"
    "ORDER BY REA_DATETIME";
const char* const kLastDateSQL =
    "SELECT FIRST 1 REA_DATETIME FROM READINGS WHERE REA_SITE=:SIT_ID AND REA_DATETIME IS NOT NULL\n"
    "ORDER BY REA_DATETIME DESC";
const char* const kDeleteSliceSQL = "SELECT DELETED FROM DELETE_SITE_READINGS(:SIT_ID, :T_FROM, :T_TO)";
const char* const kReadSliceSQL =
    "SELECT COUNT(*) FROM READINGS WHERE REA_SITE=:SIT_ID AND REA_DATETIME BETWEEN :T_FROM AND :T_TO";
const char* const kReadUndatedSQL = "SELECT COUNT(*) FROM READINGS WHERE REA_SITE=:SIT_ID AND REA_DATETIME IS NULL";

// About this many readings per statement: a progress step every fraction of a second.
constexpr int64_t kSliceReadings = 20000;

std::string Text(const fb::Field& f) { return f.IsNull() ? std::string() : f.AsString(); }

bool OneDate(fb::Transaction& tr, const char* sql, int siteId, double& date) {
    fb::Query q(tr);
    q.SetSQL(sql);
    q.SetInteger("SIT_ID", siteId);
    q.Open();
    const bool found = !q.Eof();
    if (found) date = q.Fields(0).AsDateTime();
    q.Close();
    return found;
}

int Slices(int64_t readings) { return static_cast<int>(std::max<int64_t>(1, (readings + kSliceReadings - 1) / kSliceReadings)); }

// Slice i of n over [first, last]; the bounds are inclusive, so neighbours
// share their boundary instant and nothing falls between them.
double SliceStart(const TSiteDeletion& d, int i, int n) { return d.First + (d.Last - d.First) * i / n; }
double SliceEnd(const TSiteDeletion& d, int i, int n) { return i + 1 == n ? d.Last : SliceStart(d, i + 1, n); }

bool Tell(const TSiteProgress& progress, int64_t done, int64_t total) { return !progress || progress(done, total); }
}  // namespace

std::vector<TSiteListRow> ReadSiteList(fb::Transaction& tr) {
    fb::Query q(tr);
    q.SetSQL(kListSQL);
    q.Open();
    std::vector<TSiteListRow> rows;
    for (; !q.Eof(); q.Next()) {
        TSiteListRow r;
        r.Id = static_cast<int>(q.Fields(0).AsInteger());
        r.Name = Text(q.Fields(1));
        r.Code = Trim(Text(q.Fields(2)));
        r.Host = Text(q.Fields(3));
        rows.push_back(std::move(r));
    }
    q.Close();
    return rows;
}

TSiteDeletion DeleteSite(fb::Transaction& tr, int siteId, const TSiteProgress& progress) {
    tr.EnsureActive();
    TSiteDeletion d;
    d.SiteId = siteId;
    d.Readings = ReadReadingCounts(tr, siteId).All;
    const bool dated = OneDate(tr, kFirstDateSQL, siteId, d.First) && OneDate(tr, kLastDateSQL, siteId, d.Last);
    if (!dated) d.First = d.Last = 0;
    try {
        int64_t done = 0;
        if (!Tell(progress, done, d.Readings)) {
            tr.RollbackRetaining();
            return d;
        }
        if (dated) {
            fb::Query q(tr);
            q.SetSQL(kDeleteSliceSQL);
            const int n = Slices(d.Readings);
            for (int i = 0; i < n; ++i) {
                q.SetInteger("SIT_ID", siteId);
                q.SetDateTime("T_FROM", SliceStart(d, i, n));
                q.SetDateTime("T_TO", SliceEnd(d, i, n));
                q.Open();
                done += q.Fields(0).AsInteger();
                q.Close();
                // Readings stored meanwhile may make it more than counted.
                if (!Tell(progress, std::min(done, d.Readings), d.Readings)) {
                    tr.RollbackRetaining();
                    return d;
                }
            }
        }
        fb::Query q(tr);
        q.SetSQL(kDeleteSQL);
        q.SetInteger("OLD_SIT_ID", siteId);
        q.ExecSQL();
        // A plain commit and a new start, not a retaining commit: the engine
        // keeps every version a retained transaction was born before, and the
        // collection could then remove nothing.
        tr.Commit();
        tr.Start();
    } catch (...) {
        if (tr.Active()) tr.RollbackRetaining();
        throw;
    }
    d.Deleted = true;
    Tell(progress, d.Readings, d.Readings);
    return d;
}

void CollectSiteGarbage(fb::Database& db, const TSiteDeletion& deletion, const TSiteProgress& progress) {
    if (!deletion.Deleted || deletion.Readings == 0) return;
    fb::Transaction tr(db, fb::Isolation::ReadCommitted);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL(kReadUndatedSQL);
    q.SetInteger("SIT_ID", deletion.SiteId);
    q.Open();
    q.Close();
    if (deletion.Last != 0 || deletion.First != 0) {
        const int n = Slices(deletion.Readings);
        q.SetSQL(kReadSliceSQL);
        for (int i = 0; i < n; ++i) {
            if (!Tell(progress, deletion.Readings * i / n, deletion.Readings)) break;
            q.SetInteger("SIT_ID", deletion.SiteId);
            q.SetDateTime("T_FROM", SliceStart(deletion, i, n));
            q.SetDateTime("T_TO", SliceEnd(deletion, i, n));
            q.Open();
            q.Close();
        }
    }
    tr.Commit();
    Tell(progress, deletion.Readings, deletion.Readings);
}

std::string SecondDeleteQuestion(const std::string& name) {
    // Replaced by hand: the name must never be read as a format of its own.
    std::string first = Tr("By clicking NO Site \"%s\" and all its readings will be deleted!");
    if (const auto at = first.find("%s"); at != std::string::npos) first.replace(at, 2, name);
    return first + "\r" + Tr("Please note this can not be undone!") + "\r" + Tr("Cancel the operation?");
}
