#include "core/site/readingcounts.h"

#include "core/station/fbdb.h"

namespace {
const char* const kCountsSQL =
    "SELECT SUM(RCN_TOTAL), SUM(RCN_NEW), SUM(RCN_MODIFIED), SUM(RCN_ALL) FROM READINGCOUNTS\n"
    "WHERE RCN_SITE=:SIT_ID";

int64_t OrZero(const fb::Field& f) { return f.IsNull() ? 0 : f.AsInteger(); }
}  // namespace

TReadingCounts ReadReadingCounts(fb::Transaction& tr, int siteId) {
    fb::Query q(tr);
    q.SetSQL(kCountsSQL);
    q.SetInteger("SIT_ID", siteId);
    q.Open();
    TReadingCounts c;
    c.Total = OrZero(q.Fields(0));
    c.New = OrZero(q.Fields(1));
    c.Modified = OrZero(q.Fields(2));
    c.All = OrZero(q.Fields(3));
    q.Close();
    return c;
}
