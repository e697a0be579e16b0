#pragma once
// "Check connection" of the site window without the window: which station
// asks the meter, when the meter counts as found, and the identity the site
// keeps of it (SIT_SQMPROT, SIT_SQMMODEL, SIT_SQMFEATURE, SIT_SQMSERIAL).
#include <functional>
#include <map>
#include <string>

#include "core/station/fbdb.h"
#include "core/site/siteports.h"

class TSQM;

namespace TSiteEdit {

// The site's meter as saved (host, port, timeout) on the given database;
// the rest is up to the caller.
TStationParams MeterParams(const TSiteRow& site, fb::Database& db);

// The station a test makes when the site has none: the site's host, port
// and timeout, site 0, offsets 0, the identity asked at creation, no reading.
TStationParams TestStationParams(const TSiteRow& site, fb::Database& db);

// An existing station asks again, with the host and port it was made with;
// without one, create() makes one that asks at creation. Returns the station
// that gave an identity, nullptr when the meter was not found (no answer or
// serial 0). Errors of the connection (refused, timed out) are thrown.
TSQM* FindMeter(TSQM* station, const std::function<TSQM&()>& create);

// The identity as the columns of SQMSITES.
std::map<std::string, fb::Value> MeterIdentity(const TSQM& station);

}  // namespace TSiteEdit
