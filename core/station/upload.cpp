// Upload of a station's current reading to the network database.
//
// Numbers and times are written by locale-independent formatters, so the
// statements never depend on the user's regional settings and nothing
// process-wide is changed while they are built.
#include "core/station/sqm.h"

#include "core/station/credentials.h"
#include "core/station/errorlog.h"
#include "core/station/myutils.h"
#include "core/station/netdatabase.h"

#include <cctype>
#include <string>

namespace {

constexpr int kUploadConnectTimeout = 10;
constexpr int kUploadStatementTimeout = 10;
constexpr const char* kNetworkLog = "NETWORK";

// The log escapes what the server sent: an entry stays one line.
void LogNetwork(const std::string& what, const std::string& detail) {
    WriteErrorLog(FormatLogTime(NowLocal()) + what + detail, kNetworkLog);
}

// The network keeps the reading's own mark (an imported reading is no
// meter reading of ours); a reading without one is a meter reading.
char OriginMark(char origin) {
    return std::isalpha(static_cast<unsigned char>(origin)) ? origin : 'K';
}

}  // namespace

bool TSQM::SendToNetwork(const std::string& SiteCode) {
    // A missing or unreadable file is the caller's business (it checks first).
    const TCredentialsRecord record = ReadSiteCredentials(SiteCode);
    netdb::ConnectParams params = CredentialsConnectParams(record, kUploadConnectTimeout);
    params.ReadWriteTimeoutSeconds = kUploadStatementTimeout;

    netdb::Connection conn;
    if (!conn.Connect(params)) return false;

    try {
        using netdb::FormatFloat;
        const std::string code = Trim(SiteCode);

        const netdb::Result site = conn.Query("SELECT SIT_ID FROM SQMSITES WHERE SIT_CODE=" + conn.Quote(code));
        // Without a row there is nothing to convert: say what is wrong, not that "" is no number.
        if (site.RowCount() == 0)
            throw netdb::Error("site code " + Printable(code) + " is not known to the network database");
        const int networkSite = netdb::ParseInteger(site.FirstText());

        const std::string key = ReadingCode() + code;
        const netdb::Result count =
            conn.Query("SELECT COUNT(REA_KALOCODE) AS NUM FROM READINGS WHERE REA_KALOCODE=" + conn.Quote(key));
        const int existing = netdb::ParseInteger(count.FirstText());

        std::string sql;
        if (existing == 0) {
            sql = "INSERT INTO READINGS SET REA_KALOCODE=" + conn.Quote(key) +
                  ", REA_SITE=" + std::to_string(networkSite) +
                  ", REA_DATETIME=" + conn.Quote(FormatSqlDateTime(DateTime)) +
                  ", REA_SQMVALUE=" + FormatFloat(SQMValue) +
                  ", REA_SQMOFFSET=" + FormatFloat(Offset) +
                  ", REA_SQMTEMP=" + FormatFloat(Temperature) +
                  ", REA_SUNH=" + FormatFloat(SunH) +
                  ", REA_MOONH=" + FormatFloat(MoonH) +
                  ", REA_MOONAGE=" + FormatFloat(MoonAgeDays) +
                  ", REA_MOONPH=" + FormatFloat(MoonPh) +
                  ", REA_ASTRO_DOWNING=" + conn.Quote(FormatTimeOfDay(AstroDowning)) +
                  ", REA_ASTRO_TWILIGHT=" + conn.Quote(FormatTimeOfDay(AstroTwilight)) +
                  ", REA_ORIGIN='" + OriginMark(Origin) + "'"
                  ", REA_STATE=" + std::to_string(State) +
                  ", REA_MOONILLUM=" + FormatFloat(MoonIllum);
        } else {
            // A re-upload refreshes the astronomy and the state only.
            sql = "UPDATE READINGS SET REA_SUNH=" + FormatFloat(SunH) +
                  ", REA_MOONH=" + FormatFloat(MoonH) +
                  ", REA_MOONAGE=" + FormatFloat(MoonAgeDays) +
                  ", REA_MOONPH=" + FormatFloat(MoonPh) +
                  ", REA_ASTRO_DOWNING=" + conn.Quote(FormatTimeOfDay(AstroDowning)) +
                  ", REA_ASTRO_TWILIGHT=" + conn.Quote(FormatTimeOfDay(AstroTwilight)) +
                  ", REA_MOONILLUM=" + FormatFloat(MoonIllum) +
                  ", REA_STATE=" + std::to_string(State) +
                  " WHERE REA_KALOCODE=" + conn.Quote(key);
        }

        if (conn.Execute(sql)) {
            Uploaded = true;
            return true;
        }
        LogNetwork(" Query non eseguita: ", sql);
        return false;
    } catch (const std::exception& e) {
        LogNetwork(" Eccezione in TSQM.SendToNetwork: ", e.what());
        return false;
    }
}
