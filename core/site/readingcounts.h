#pragma once
// The reading counts of a site's network page, read from the per-site
// counts the triggers of READINGS keep (db/schema.sql) instead of counting
// millions of readings on every refresh.
#include <cstdint>

namespace fb {
class Transaction;
}

// What "SELECT COUNT(REA_CODE) AS NUMERO FROM READINGS" returns with
//   Total:    where REA_SITE=:SIT_ID AND REA_STATE>=0
//   New:      ... AND REA_UPLOADED=0 AND REA_SQMVALUE>0
//   Modified: ... AND REA_MODIFIED=1 AND REA_SQMVALUE>0
// in the same transaction; All counts every reading of the site, daylight included.
struct TReadingCounts {
    int64_t Total = 0;
    int64_t New = 0;
    int64_t Modified = 0;
    int64_t All = 0;
};

TReadingCounts ReadReadingCounts(fb::Transaction& tr, int siteId);
