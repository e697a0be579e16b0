#pragma once
// The settings row and the time servers, written once for every shell (the
// Settings and NTP Servers windows through the data module's datasets,
// kalosqm-cli, the demo): what each setting is, the rules of a save, and
// the changes a shell makes. The shells only read the user's words.
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/station/dataset.h"
#include "core/station/fbdb.h"

namespace TSettingsActions {

// A save refused by the rules; what() is the text the user is shown.
class TRefusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------- settings

enum class TSettingKind { Switch, Minutes, UploadMode };
struct TSetting {
    const char* Key;      // "sync-frequency", the command line's
    const char* Column;   // SET_SYNCFREQ
    const char* Caption;  // the dialog's, untranslated
    TSettingKind Kind;
};
// In the dialog's order.
const std::vector<TSetting>& Settings();
// By its key or its column, in any case; nullptr for none.
const TSetting* FindSetting(const std::string& keyOrColumn);
// The dialog's field takes 9 digits.
inline constexpr int64_t kMaxMinutes = 999999999;
// The refusal of a value of the setting, empty when it is good; an empty
// value is good (the row's readers take it as off).
std::string SettingRefusal(const TSetting& setting, const fb::Value& value);

inline constexpr const char* kSelectSettings = "select * from SETTINGS where SET_ID=1";
// The checks before a save of the settings row. Throws TRefusal.
void CheckSettings(const TDataSet& row);
void WireSettings(TDataSet& row);
// The settings row of tr, open; throws when the file has none.
TDataSet SettingsRow(fb::Transaction& tr);
// Sets the given columns, checked and posted in tr, uncommitted; a refusal
// writes nothing.
void ChangeSettings(fb::Transaction& tr, const std::map<std::string, fb::Value>& values);

// ---------------------------------------------------------------- time servers

inline constexpr const char* kSelectServers = "select * from NTPSERVERS order by NTP_ORDER";
inline constexpr int64_t kDefaultTimeoutMs = 3000;  // the delivered servers'
inline constexpr int64_t kMinTimeoutMs = 1, kMaxTimeoutMs = 60000;
inline constexpr int64_t kMaxOrder = 999999999;

// The refusal of a server's host as typed (blanks around it are dropped on
// save), empty when it is good: the same words as a site's host.
std::string HostRefusal(const std::string& host);
// The checks before a save of a server's row: the host, the timeout from
// kMinTimeoutMs to kMaxTimeoutMs, the order from 0 to kMaxOrder (both may
// be empty). Throws TRefusal.
void CheckServer(const TDataSet& row);
void WireServers(TDataSet& table);
// The servers' table of tr, open.
TDataSet ServersTable(fb::Transaction& tr);

struct TTimeServer {
    std::string Host;  // trimmed
    fb::Value Timeout, Order;
};
// In their order of preference.
std::vector<TTimeServer> TimeServers(fb::Transaction& tr);
// Adds a server in tr, uncommitted, after the last one when no order is
// given; returns its order. A host already in the list is refused (TRefusal).
int64_t AddTimeServer(fb::Transaction& tr, const std::string& host, int64_t timeoutMs,
                      std::optional<int64_t> order = std::nullopt);
// Removes the server in tr, uncommitted; false when there is none.
bool RemoveTimeServer(fb::Transaction& tr, const std::string& host);

}  // namespace TSettingsActions
