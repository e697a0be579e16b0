#include "core/site/siterow.h"

#include <cmath>
#include <stdexcept>

#include "core/station/myutils.h"

namespace {

std::optional<double> Number(const fb::Value& v) {
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
    if (auto* t = std::get_if<fb::DateTime>(&v)) return t->value;
    return std::nullopt;
}

int Integer(const fb::Value& v, int otherwise) {
    const auto n = Number(v);
    return n ? static_cast<int>(std::llround(*n)) : otherwise;
}

std::string Text(const fb::Value& v) {
    if (auto* s = std::get_if<std::string>(&v)) return Trim(*s);
    return std::string();
}

}  // namespace

TSiteRow SiteRowFromValues(const std::function<fb::Value(const std::string&)>& value) {
    TSiteRow r;
    r.Id = Integer(value("SIT_ID"), 0);
    r.Name = Text(value("SIT_NAME"));
    r.Code = Text(value("SIT_CODE"));
    r.Host = Text(value("SIT_SQMHOST"));
    r.Port = Integer(value("SIT_SQMPORT"), 0);
    r.TimeoutSeconds = Integer(value("SIT_TIMEOUT"), 0);
    r.Offset = Number(value("SIT_OFFSET")).value_or(0);
    r.Latitude = Number(value("SIT_LATIT"));
    r.Longitude = Number(value("SIT_LONG"));
    if (const auto alt = Number(value("SIT_ALT"))) r.Altitude = static_cast<int>(std::llround(*alt));
    r.TimeZone = Integer(value("SIT_TIMEZONE"), 0);
    r.AcquireMode = Integer(value("SIT_ACQUIREMODE"), 0);
    r.Interval = Integer(value("SIT_INTERVAL"), 0);
    r.StartTime = Number(value("SIT_STARTTIME")).value_or(0);
    r.StopTime = Number(value("SIT_STOPTIME")).value_or(0);
    r.DayReading = Integer(value("SIT_DAYREADING"), 0) == 1;
    r.DayInterval = Integer(value("SIT_DAYINTERVAL"), 0);
    r.AutoUpload = Integer(value("SIT_AUTOUPLOAD"), 0) == 1;
    r.AutoStart = Integer(value("SIT_AUTOSTART"), 0) == 1;
    return r;
}

TSiteRow ReadSiteRow(fb::Database& db, int siteId) {
    fb::Transaction tr(db, fb::Isolation::ReadCommitted);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("select * from SQMSITES where SIT_ID=:ID_SITO");
    q.SetInteger("ID_SITO", siteId);
    q.Open();
    if (q.Eof()) throw std::runtime_error("Site " + std::to_string(siteId) + " not found");
    const TSiteRow row = SiteRowFromValues([&q](const std::string& name) {
        const auto i = q.FieldIndex(name);
        return i ? q.Fields(*i).AsValue() : fb::Value{};
    });
    q.Close();
    tr.Commit();
    return row;
}
