#pragma once
// A site's row of SQMSITES as the acquisition uses it, read from the
// database or from any named-field source (the window's bound record).
#include <functional>
#include <string>

#include "core/station/fbdb.h"
#include "core/site/siteports.h"

// Builds the row from a lookup of column values by name.
TSiteRow SiteRowFromValues(const std::function<fb::Value(const std::string&)>& value);

// "select * from SQMSITES where SIT_ID=:ID_SITO" in a short transaction of
// its own. Throws std::runtime_error when the site does not exist.
TSiteRow ReadSiteRow(fb::Database& db, int siteId);

// The site read again from the database at every use: what the headless
// service runs with, so that edits made elsewhere count at the next tick.
class TDbSiteSource : public ISiteSource {
public:
    TDbSiteSource(fb::Database& db, int siteId) : db_(db), siteId_(siteId) {}
    TSiteRow Site() override { return ReadSiteRow(db_, siteId_); }

private:
    fb::Database& db_;
    int siteId_;
};
