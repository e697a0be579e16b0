#include "siterules.h"

#include <random>
#include <stdexcept>

#include "i18n.h"
#include "myutils.h"
#include "readingwindow.h"

namespace TSiteRules {

std::map<std::string, fb::Value> NewSiteDefaults(const TZoneInfo& zone) {
    return {
        {"SIT_ACQUIREMODE", int64_t{kContinuous}}, {"SIT_SQMPORT", int64_t{10001}},
        {"SIT_TIMEZONE", int64_t{DefaultTimeZone(zone)}}, {"SIT_INTERVAL", int64_t{1}},
        {"SIT_OFFSET", 0.0},                         {"SIT_AUTOSTART", int64_t{0}},
        {"SIT_DAYREADING", int64_t{0}},              {"SIT_DAYINTERVAL", int64_t{10}},
        {"SIT_TIMEOUT", int64_t{10}},                {"SIT_AUTOUPLOAD", int64_t{1}},
    };
}

int NextSiteId(fb::Transaction& tr) {
    tr.EnsureActive();
    fb::Query q(tr);
    q.SetSQL("SELECT GEN_ID(GEN_SITE_ID, 1) AS NEWID FROM RDB$DATABASE");
    q.Open();
    const int id = static_cast<int>(q.FieldByName("NEWID").AsInteger());
    q.Close();
    return id;
}

void CheckPost(const TSiteRow& site) {
    // An empty interval reads as 0.
    if (site.Interval < 1) throw std::runtime_error(Tr("Please note, you cannot specify a range of time less than 1 minute"));
}

bool CoordinatesMissing(const TSiteRow& site) { return !site.Latitude || !site.Longitude; }

TMethodGroups GroupsFor(int method) {
    TMethodGroups g;
    g.ReadingTimeLabels = method == kDiscardByDay || method == kDiscardInTwilight;
    g.TimedWindow = method == kTimed;
    g.Daylight = method != kContinuous;
    return g;
}

const char* MethodCaption(int method) {
    switch (method) {
        case kContinuous: return N_("Continuous");
        case kTimed: return N_("Timed");
        case kDiscardByDay: return N_("Discard readings by day");
        case kDiscardInTwilight: return N_("Discard readings in twilight");
        default: return nullptr;
    }
}

std::string SettingsFile(int siteId) { return ProgramPath("WinSetup/SiteForm-" + std::to_string(siteId) + ".ini"); }

int AutostartDelayMs() {
    static std::mt19937 generator{std::random_device{}()};
    return 1000 + std::uniform_int_distribution<int>(0, 2999)(generator);
}

}  // namespace TSiteRules
