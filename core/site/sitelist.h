#pragma once
// The site list behind the "Site list" dialog: reading it and deleting a
// site, without any window, so the rules are testable on their own.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fb {
class Database;
class Transaction;
}

struct TSiteListRow {
    int Id = 0;
    std::string Name;
    std::string Code;  // trimmed: the column is blank-padded
    std::string Host;
};

// All sites by name, read in the given transaction.
std::vector<TSiteListRow> ReadSiteList(fb::Transaction& tr);

// Done of Total readings so far; false stops the work.
using TSiteProgress = std::function<bool(int64_t done, int64_t total)>;

// What a deletion removed, for the collection after it.
struct TSiteDeletion {
    int SiteId = 0;
    bool Deleted = false;        // false: stopped by the progress, nothing deleted
    int64_t Readings = 0;        // readings the site had
    double First = 0, Last = 0;  // their dates (REA_DATETIME); both 0 when none had one
};

// Deletes the site's readings in slices of dates, telling the progress after
// each, then the site row (the triggers take any reading stored meanwhile),
// and commits at once; the transaction is started again. A stop rolls it all back.
TSiteDeletion DeleteSite(fb::Transaction& tr, int siteId, const TSiteProgress& progress = {});

// After the deletion has committed: reads, in a transaction of its own, the
// slices of dates the readings had, so the engine removes what they left on
// the pages now rather than making the next reader of those pages wait. The
// engine keeps what a transaction older than the deletion may still see.
void CollectSiteGarbage(fb::Database& db, const TSiteDeletion& deletion, const TSiteProgress& progress = {});

// The second, "Cancel the operation?" question for a site of that name;
// the name is inserted as it is, percent signs and all.
std::string SecondDeleteQuestion(const std::string& name);
