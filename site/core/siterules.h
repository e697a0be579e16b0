#pragma once
// The rules of a site's definition that the site window enforces: the
// defaults of a new site, the checks before a save, which groups each
// acquisition method shows, and where the window keeps its settings.
#include <map>
#include <string>

#include "fbdb.h"
#include "siteports.h"

namespace TSiteRules {

// Field values of a new site (SIT_ID comes from the generator separately).
std::map<std::string, fb::Value> NewSiteDefaults(const TZoneInfo& zone);
// The next value of GEN_SITE_ID; a number taken is never given again.
int NextSiteId(fb::Transaction& tr);

// Throws std::runtime_error with the refusal when the row may not be saved.
void CheckPost(const TSiteRow& site);
// The warning after a save, and on choosing a method that needs the Sun.
bool CoordinatesMissing(const TSiteRow& site);

struct TMethodGroups {
    bool ReadingTimeLabels = false;  // "Start (TU)" / "Stop (TU)": methods 2 and 3
    bool TimedWindow = false;        // editable start and stop times: method 1
    bool Daylight = false;           // "Daylight readings": every method but 0
};
TMethodGroups GroupsFor(int method);

// The caption of an acquisition method (SIT_ACQUIREMODE) as the radio group
// shows it, untranslated; nullptr for a value outside 0 to 3.
const char* MethodCaption(int method);

// "WinSetup/SiteForm-<n>.ini" beside the program.
std::string SettingsFile(int siteId);

// A random start delay of 1000 to 3999 ms for a window opened with autostart.
int AutostartDelayMs();

}  // namespace TSiteRules
