#include "core/site/outreach.h"

#include "core/station/fbdb.h"
#include "core/station/myutils.h"

namespace {

int64_t SettingOrZero(fb::Query& q, const char* column) {
    const fb::Field f = q.FieldByName(column);
    return f.IsNull() ? 0 : f.AsInteger();
}

}  // namespace

std::vector<std::string> OutreachLines(fb::Database& db) {
    fb::Transaction tr(db, fb::Isolation::ReadCommitted);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("SELECT SET_USEINTERTETTIME, SET_SYNCLOCK, SET_UPLOADDATA, SET_UPLOADMODE FROM SETTINGS WHERE SET_ID=1");
    q.Open();
    std::vector<std::string> lines;
    if (q.Eof()) {
        q.Close();
        tr.Commit();
        return lines;
    }
    const bool internetTime = SettingOrZero(q, "SET_USEINTERTETTIME") == 1;
    const bool setClock = SettingOrZero(q, "SET_SYNCLOCK") == 1;
    const bool upload = SettingOrZero(q, "SET_UPLOADDATA") == 1;
    const bool automatic = SettingOrZero(q, "SET_UPLOADMODE") == 0;
    q.Close();
    if (internetTime) {
        std::string servers;
        q.SetSQL("SELECT NTP_HOST FROM NTPSERVERS ORDER BY NTP_ORDER");
        q.Open();
        for (; !q.Eof(); q.Next())
            if (!q.Fields(0).IsNull()) servers += (servers.empty() ? "" : ", ") + Trim(q.Fields(0).AsString());
        q.Close();
        lines.push_back("Internet time is on: " +
                        (servers.empty() ? std::string("no time server is listed") : "servers " + servers) +
                        (setClock ? ", which set the PC clock" : ", which correct the reading times") +
                        "; `kalosqm-cli settings` and `kalosqm-cli timeservers` change it");
    }
    if (upload && automatic)
        lines.push_back("automatic upload is on: each night reading of a site with a credentials file in crdfiles/ and "
                        "its own automatic upload on goes to the network database; `kalosqm-cli settings` changes it");
    tr.Commit();
    return lines;
}
