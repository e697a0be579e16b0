#pragma once
// TData: the one owner of the local database connection for the whole run,
// with the datasets several windows share and the small settings readers.
#include <functional>
#include <memory>
#include <string>

#include "core/station/dataset.h"
#include "core/station/fbdb.h"
#include "core/station/internettime.h"
#include "core/site/outages.h"
#include "core/station/schemaupgrade.h"
#include "core/site/siteports.h"

// Why the local database could not be opened, said for a person: the file
// is missing (and where one comes from), the engine's lock folder is
// missing or closed to this user, another program holds the file (only
// then "Another software session is already active"), or the engine's own
// reason (permission denied, not a database). Every program decides the same.
struct TOpenFailure {
    enum class TKind { Missing, LockFolder, InUse, Engine };
    TKind Kind = TKind::Engine;
    std::string Text;
};
// engineWords: the engine's error text when opening failed.
TOpenFailure ExplainOpenFailure(const std::string& file, const std::string& engineWords);

class TData : public ISiteSettings {
public:
    TData();
    ~TData() override;
    TData(const TData&) = delete;
    TData& operator=(const TData&) = delete;

    // Opens Dati/KALOSQMDATA.FDB beside the program. When that fails the
    // error box says why (ExplainOpenFailure: "Another software session is
    // already active: impossible to continue" only while another program
    // holds the file) and false is returned: the program must end. A file of an
    // earlier schema is upgraded first, telling OnUpgradeProgress; an upgrade
    // that fails leaves the file as it was, says why in the error box and
    // returns false too (UpgradeFailed() tells the two apart).
    bool DataModuleCreate();
    TUpgradeProgress OnUpgradeProgress;
    // Shows the error box of DataModuleCreate (its lines on stderr when unset).
    std::function<void(const std::string&)> OnError;
    bool UpgradeFailed() const { return upgradeFailed_; }
    // Why the last DataModuleCreate could not open the file.
    const TOpenFailure& OpenFailure() const { return openFailure_; }
    // Closes every dataset and the connection; open work is rolled back.
    void DataModuleDestroy();

    // Number of sites (only those with a site code); -1 on any failure.
    int CountSites(bool OnlyWithCode);
    bool UseInternetTime() override;
    bool SyncClockEnabled() override;
    bool UploadEnabled(bool AutomaticOnly) override;
    // SET_SYNCFREQ; an empty value counts as 0.
    int SyncFrequencyMinutes() override;

    // Internet time over the servers of NTPSERVERS (the list is read again
    // on every call). Offset: Internet time minus PC local time, in days,
    // written only on success. Time: local date-time; with SetClock the PC
    // clock is set too and the result is true only when that worked.
    bool GetTimeOffset(double& Offset) override;
    bool GetInternetTime(double& Time, bool SetClock) override;
    TTimeQuery PrepareTimeQuery(bool setClock) override;
    // GetInternetTime to run elsewhere: Value is the time (local), set on the PC clock with setClock.
    TTimeQuery PrepareInternetTime(bool setClock);
    std::string TimeFailure() override { return timeFailure_; }
    TOutages& Outages() override { return outages_; }
    // The pinger and clock setter the time operations use (the real ones
    // unless replaced), and the Time protocol port (37).
    void SetTimeServices(std::unique_ptr<IPinger> pinger, std::unique_ptr<IClockSetter> clock);
    // The time-server dialog's "Check connection" pings through the same one.
    IPinger& Pinger() { return *pinger_; }
    int TimePort = 37;

    // The file DataModuleCreate opens.
    std::string DatabaseFile() const;

    fb::Database dbKALO;
    fb::Transaction trKALO;  // "read_committed", "rec_version", "nowait"; default rollback
    TDataSet tbSettings;
    TDataSet tbNTPServers;

    // The statement of waiting readings (NUMREC, IDSITO).
    static const char* const kPendingSQL;

private:
    int64_t SettingsField(const char* name);
    std::vector<TimeServerEntry> ReloadTimeServers();
    TOpenFailure openFailure_;
    std::unique_ptr<IPinger> pinger_;
    std::unique_ptr<IClockSetter> clock_;
    bool upgradeFailed_ = false;
    std::string timeFailure_;
    TOutages outages_;
};

// The error box of a failed upgrade: the versions, the file and the engine's words.
std::string UpgradeFailureText(const std::string& file, const TUpgradeError& e);
