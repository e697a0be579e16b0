#include "core/site/siteedit.h"

#include "core/station/sqm.h"

namespace TSiteEdit {

TStationParams MeterParams(const TSiteRow& site, fb::Database& db) {
    TStationParams p;
    p.Host = site.Host;
    p.Port = site.Port;
    p.TimeoutSeconds = site.TimeoutSeconds;
    p.Database = &db;
    return p;
}

TStationParams TestStationParams(const TSiteRow& site, fb::Database& db) {
    TStationParams p = MeterParams(site, db);
    p.DoInfo = true;  // site 0, offsets 0: only the identity is asked
    return p;
}

TSQM* FindMeter(TSQM* station, const std::function<TSQM&()>& create) {
    bool answered = true;
    if (station)
        answered = station->UpdateInfo();
    else
        station = &create();  // it asked while being made; a failure there was thrown
    return answered && station->Serial != 0 ? station : nullptr;
}

std::map<std::string, fb::Value> MeterIdentity(const TSQM& station) {
    return {{"SIT_SQMPROT", int64_t{station.Protocol}},
            {"SIT_SQMMODEL", int64_t{station.Model}},
            {"SIT_SQMFEATURE", int64_t{station.Feature}},
            {"SIT_SQMSERIAL", int64_t{station.Serial}}};
}

}  // namespace TSiteEdit
