#pragma once
// The rules of a site's definition that the site window enforces: the
// defaults of a new site, the checks before a save, which groups each
// acquisition method shows, and where the window keeps its settings.
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/station/fbdb.h"
#include "core/site/siteports.h"

namespace TSiteRules {

// Field values of a new site (SIT_ID comes from the generator separately).
std::map<std::string, fb::Value> NewSiteDefaults(const TZoneInfo& zone);
// The next value of GEN_SITE_ID; a number taken is never given again.
int NextSiteId(fb::Transaction& tr);

// A save refused by the rules; what() is the text the user is shown.
class TSiteRefusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The range a numeric field of the site must keep (the ends included).
struct TFieldRange {
    const char* Column;
    const char* Label;  // "the latitude", in refusals
    double Min, Max;
    bool Whole;  // a whole number
    bool Required = false;  // an empty field is refused, not read as 0
};
// Every range, in the order of the window's pages.
const std::vector<TFieldRange>& FieldRanges();
// nullptr for a column without a range.
const TFieldRange* RangeOf(const std::string& column);
// "the latitude must be a number from -90 to 90, not <shown>".
std::string RangeRefusal(const TFieldRange& range, const std::string& shown);

// A text field of the site: it may not be blank when Required, it keeps
// MaxLength characters (the column's width) and, when NoBlanks, has none.
struct TTextField {
    const char* Column;
    const char* Label;  // "the name", in refusals
    size_t MaxLength;
    bool Required;
    bool NoBlanks;
};
// The name and the host.
const std::vector<TTextField>& TextFields();
// nullptr for a column that is not a text field with rules.
const TTextField* TextFieldOf(const std::string& column);
// The refusal of a given text, empty when it is good: invalid UTF-8, blank,
// too long, or a blank inside a host.
std::string TextRefusal(const TTextField& field, const std::string& text);

// A column's value in the row as edited; monostate when empty.
using TSiteValues = std::function<fb::Value(const std::string&)>;

// Throws TSiteRefusal with the refusal when the row may not be saved. An
// empty interval counts as 0, an empty port or name is refused; other empty
// fields are not checked.
void CheckPost(const TSiteValues& site);
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
