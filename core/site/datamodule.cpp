#include "core/site/datamodule.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "core/site/acquisition.h"
#include "core/site/waitingupload.h"
#include "core/site/settingsactions.h"

#include "core/station/i18n.h"
#include "core/station/lastresort.h"
#include "core/station/myutils.h"
#include "core/station/programlayout.h"

const char* const TData::kPendingSQL = kPendingReadingsSQL;

TData::TData()
    : trKALO(dbKALO, fb::Isolation::ReadCommitted),
      tbSettings(trKALO, TSettingsActions::kSelectSettings, "SETTINGS", "SET_ID"),
      tbNTPServers(trKALO, TSettingsActions::kSelectServers, "NTPSERVERS", "NTP_HOST"),
      pinger_(std::make_unique<TIcmpPinger>()),
      clock_(std::make_unique<TClockSetter>()) {
    // The Settings and NTP Servers windows save through these: the rules every shell keeps.
    TSettingsActions::WireSettings(tbSettings);
    TSettingsActions::WireServers(tbNTPServers);
}

void TData::SetTimeServices(std::unique_ptr<IPinger> pinger, std::unique_ptr<IClockSetter> clock) {
    if (pinger) pinger_ = std::move(pinger);
    if (clock) clock_ = std::move(clock);
}

std::vector<TimeServerEntry> TData::ReloadTimeServers() {
    // Reopened on every call: edits of the time-server dialog count at once.
    tbNTPServers.Close();
    tbNTPServers.Open();
    std::vector<TimeServerEntry> servers;
    for (tbNTPServers.First(); !tbNTPServers.Eof(); tbNTPServers.Next()) {
        TimeServerEntry e;
        e.Host = Trim(tbNTPServers.AsString("NTP_HOST"));
        e.Order = static_cast<int>(tbNTPServers.AsInteger("NTP_ORDER"));
        e.TimeoutMs = static_cast<int>(tbNTPServers.AsInteger("NTP_TIMEOUT"));
        servers.push_back(std::move(e));
    }
    tbNTPServers.First();
    return servers;
}

bool TData::GetTimeOffset(double& Offset) {
    const auto servers = ReloadTimeServers();
    TInternetTime time(*pinger_, *clock_);
    time.TimePort = TimePort;
    const bool ok = time.GetTimeOffset(servers, Offset);
    timeFailure_ = ok ? std::string() : time.FailureText();
    return ok;
}

bool TData::GetInternetTime(double& Time, bool SetClock) {
    const auto servers = ReloadTimeServers();
    TInternetTime time(*pinger_, *clock_);
    time.TimePort = TimePort;
    const bool ok = time.GetInternetTime(servers, Time, SetClock);
    timeFailure_ = ok ? std::string() : time.FailureText();
    return ok;
}

namespace {

TTimeQuery TimeQuery(std::vector<TimeServerEntry> servers, IPinger* pinger, IClockSetter* clock, int port,
                     bool offset, bool setClock) {
    return [servers = std::move(servers), pinger, clock, port, offset, setClock] {
        TInternetTime time(*pinger, *clock);
        time.TimePort = port;
        TTimeAnswer a;
        a.Ok = offset ? time.GetTimeOffset(servers, a.Value) : time.GetInternetTime(servers, a.Value, setClock);
        if (!a.Ok) a.Failure = time.FailureText();
        return a;
    };
}

}  // namespace

TTimeQuery TData::PrepareTimeQuery(bool setClock) {
    return TimeQuery(ReloadTimeServers(), pinger_.get(), clock_.get(), TimePort, !setClock, setClock);
}

TTimeQuery TData::PrepareInternetTime(bool setClock) {
    return TimeQuery(ReloadTimeServers(), pinger_.get(), clock_.get(), TimePort, false, setClock);
}

TData::~TData() {
    try {
        DataModuleDestroy();
    } catch (...) {
        LastResortLine("closing the database");  // a destructor has no caller to tell
    }
}

std::string TData::DatabaseFile() const { return ProgramPath("Dati/KALOSQMDATA.FDB"); }

std::string UpgradeFailureText(const std::string& file, const TUpgradeError& e) {
    std::string text = Tr("The database could not be updated from version %s to %s: it was left as it was, "
                          "with all its readings.");
    for (const std::string& v : {e.From().empty() ? std::string("?") : e.From(), e.To()})
        if (const auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, v);
    return text + "\n" + file + "\n" + e.what();
}

namespace {

// The text with its %s replaced by the value.
std::string Filled(std::string text, const std::string& value) {
    if (const auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, value);
    return text;
}

}  // namespace

TOpenFailure ExplainOpenFailure(const std::string& file, const std::string& engineWords) {
    namespace fs = std::filesystem;
    using K = TOpenFailure::TKind;
    std::error_code ec;
    if (!fs::exists(file, ec) && !ec)  // a folder the user may not enter is no proof of absence
        return {K::Missing, Filled(Tr("There is no database at %s."), file) + "\n" +
                                Filled(Tr("Copy the delivered one, %s, there, or start the desktop program kalosqm "
                                          "once: its first start makes it."),
                                       ThisProgramLayout().DeliveredDatabase())};
    // The engine names a file of its own inside that folder, not the folder.
    if (const char* lock = std::getenv("FIREBIRD_LOCK"); lock && *lock) {
        const bool folder = fs::is_directory(lock, ec);
        if (!folder || ::access(lock, W_OK | X_OK) != 0) {
            const std::string text =
                folder ? Tr("The database engine's lock folder %s (FIREBIRD_LOCK) cannot be written by this user.")
                       : Tr("The database engine's lock folder %s (FIREBIRD_LOCK) does not exist.");
            return {K::LockFolder, Filled(text, lock) + "\n" +
                                       Tr("Make it, owned by the user that runs the program, or unset FIREBIRD_LOCK.")};
        }
    }
    // The embedded engine locks the file for the process that has it open;
    // the others are refused at once: 'I/O error during "lock" operation ...
    // Database already opened with engine instance, incompatible with current'.
    // An unreadable file fails in the "open" operation instead, and is not in use.
    if (engineWords.find("\"lock\" operation") != std::string::npos ||
        engineWords.find("already opened with engine instance") != std::string::npos)
        return {K::InUse, Tr("Another software session is already active: impossible to continue")};
    return {K::Engine, Filled(Tr("The database %s cannot be opened:"), file) + "\n" + engineWords};
}

bool TData::DataModuleCreate() {
    upgradeFailed_ = false;
    openFailure_ = {};
    auto fail = [this](const std::string& message) {
        if (OnError)
            OnError(message);
        else
            std::fprintf(stderr, "%s\n", message.c_str());
        try {
            dbKALO.Close();
        } catch (...) {
            LastResortLine("closing the database after a failed start");
        }
        return false;
    };
    try {
        if (dbKALO.Connected()) DataModuleDestroy();
        dbKALO.SetFile(DatabaseFile());
        dbKALO.Open();
    } catch (const std::exception& e) {
        openFailure_ = ExplainOpenFailure(DatabaseFile(), e.what());
        return fail(openFailure_.Text);
    }
    try {
        UpgradeSchema(dbKALO, OnUpgradeProgress);
    } catch (const TUpgradeError& e) {
        upgradeFailed_ = true;
        return fail(UpgradeFailureText(DatabaseFile(), e));
    }
    try {
        tbNTPServers.Open();
        return true;
    } catch (const std::exception& e) {
        openFailure_ = ExplainOpenFailure(DatabaseFile(), e.what());
        return fail(openFailure_.Text);
    }
}

void TData::DataModuleDestroy() {
    tbSettings.Close();
    tbNTPServers.Close();
    dbKALO.Close();  // rolls back what trKALO still holds
}

int TData::CountSites(bool OnlyWithCode) {
    try {
        std::string sql = "SELECT COUNT(SIT_ID) AS NUMERO FROM SQMSITES";
        if (OnlyWithCode) sql += "\nWHERE NOT(SIT_CODE IS NULL)";
        fb::Query q(trKALO);
        q.SetSQL(sql);
        q.Open();
        const int n = static_cast<int>(q.FieldByName("NUMERO").AsInteger());
        q.Close();
        return n;
    } catch (...) {
        return -1;  // no database, or none that answers: the callers show nothing
    }
}

int64_t TData::SettingsField(const char* name) {
    // Open it just for this read when nobody has it open; otherwise read
    // the current row as it stands, edits included.
    if (tbSettings.Active()) return tbSettings.AsInteger(name);
    tbSettings.Open();
    try {
        const int64_t v = tbSettings.AsInteger(name);
        tbSettings.Close();
        return v;
    } catch (...) {
        tbSettings.Close();
        throw;
    }
}

bool TData::UseInternetTime() { return SettingsField("SET_USEINTERTETTIME") == 1; }

bool TData::SyncClockEnabled() { return SettingsField("SET_SYNCLOCK") == 1; }

bool TData::UploadEnabled(bool AutomaticOnly) {
    bool result = SettingsField("SET_UPLOADDATA") == 1;
    if (AutomaticOnly) result = result && SettingsField("SET_UPLOADMODE") == 0;
    return result;
}

int TData::SyncFrequencyMinutes() { return static_cast<int>(SettingsField("SET_SYNCFREQ")); }
