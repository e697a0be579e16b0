#include "siteedit.h"

#include <stdexcept>

#include "sqm.h"

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

void StoreMeterIdentity(fb::Transaction& tr, int siteId, const TSQM& station) {
    std::string sets;
    const auto identity = MeterIdentity(station);
    for (const auto& [field, value] : identity) sets += (sets.empty() ? "" : ", ") + field + "=:" + field;
    tr.EnsureActive();
    fb::Query q(tr);
    q.SetSQL("UPDATE SQMSITES SET " + sets + " WHERE SIT_ID=:ID_SITO");
    for (const auto& [field, value] : identity) q.SetParam(field, value);
    q.SetInteger("ID_SITO", siteId);
    q.ExecSQL();
    if (q.RowsAffected() == 0) throw std::runtime_error("Site " + std::to_string(siteId) + " not found");
}

}  // namespace TSiteEdit
