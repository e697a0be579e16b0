#include "sitelist.h"

#include "fbdb.h"
#include "i18n.h"
#include "myutils.h"

namespace {
const char* const kListSQL = "select SIT_ID, SIT_NAME, SIT_CODE, SIT_SQMHOST  from SQMSITES order by SIT_NAME";
const char* const kDeleteSQL =
    "delete from SQMSITES\n"
    "where\n"
    "  SIT_ID = :OLD_SIT_ID";

std::string Text(const fb::Field& f) { return f.IsNull() ? std::string() : f.AsString(); }
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

void DeleteSite(fb::Transaction& tr, int siteId) {
    fb::Query q(tr);
    q.SetSQL(kDeleteSQL);
    q.SetInteger("OLD_SIT_ID", siteId);
    q.ExecSQL();
    tr.CommitRetaining();
}

std::string SecondDeleteQuestion(const std::string& name) {
    // Replaced by hand: the name must never be read as a format of its own.
    std::string first = Tr("By clicking NO Site \"%s\" and all its readings will be deleted!");
    if (const auto at = first.find("%s"); at != std::string::npos) first.replace(at, 2, name);
    return first + "\r" + Tr("Please note this can not be undone!") + "\r" + Tr("Cancel the operation?");
}
