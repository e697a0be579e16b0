#pragma once
// TSiteForm: the window of one site (definition, acquisition, readings).
// Its pages (sitepage_*.h) do the work; the window holds the tabs, the
// button bar and the acquisition.
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TAcquisition;
class TData;
class TDataSet;
struct TSiteCommons;
class TSiteFormPrivate;
struct TFinderOptions;

class TSiteForm : public QWidget {
    Q_OBJECT
public:
    // siteId 0: a window that creates a new site. autostart: start the
    // acquisition after a random delay of 1000-3999 ms. data and common: the
    // program's, for as long as the window lives.
    TSiteForm(TData& data, TSiteCommons& common, int siteId, bool autostart, QWidget* parent = nullptr);
    ~TSiteForm() override;

    // The site the window was opened for (0 for a new site, also after saving it).
    int SiteId() const;
    bool Acquiring() const;
    // Inside an acquisition tick or "Read now": the window must not be deleted now.
    bool Busy() const;
    // The site the window shows: a new site's once saved.
    int RecordSiteId() const;
    // Asks while acquisition runs; Yes stops it. True when the window may close.
    bool FormCloseQuery();
    // Quitting: asks while acquisition runs, naming the site, and stops nothing.
    bool MayStopForQuit();
    // A deletion of the window's site: held, the window writes nothing; it
    // goes on as it was when released, and stops and closes without a
    // question once its site is gone.
    void HoldForDeletion();
    void ReleaseAfterDeletion();
    void CloseForDeletedSite();
    // Ends the acquisition without any question (program shutdown).
    void StopForShutdown();
    // The window's changing texts; after a language change with the PC local time.
    void SetDynamicLabels(bool isLocalTime, double time);
    // Re-applies every text in the current language (captions from data stay).
    void Retranslate();

    TAcquisition& Acquisition();
    TDataSet& SiteData();
    // The settings file the window reads when it opens and writes when it closes.
    QString SettingsFile() const;

    // What the window's buttons do; each button calls its page directly,
    // these are for the program and the tests.
    void StartOrStopReadings();
    void ReadNow();
    // "Check connection": asks the meter who it is and stores its identity.
    void CheckMeterConnection();
    // "Find...": a meter on the network, its address put in the record.
    void FindMeter();
    void RefreshLatestReadings();
    // "Real time graph": the current night or the latest readings, as chosen.
    void ShowChosenGraph();
    // "Database query"
    void RunLocalQuery();
    void ExportQuery();
    void DeleteSelectedReading();
    void DeleteQueriedReadings();
    // "Noctila settings"
    void ShowCredentials();
    void SetCredentials();
    void CheckNetworkConnection();
    void SendWaitingRecords();
    // "Noctila query"
    void RunNetworkQuery();
    void SaveNetworkReadings();
    // "Save graph" of a page.
    enum class TChart { Query, RealTime, Network };
    void SaveChart(TChart chart);

    // Where the window asks for a file to write (filters in Qt form); an
    // empty name cancels. A save dialog unless replaced.
    using TFileChooser = std::function<QString(const QString& filters, const QString& defaultSuffix)>;
    void SetFileChooser(TFileChooser chooser);
    // The "Set Site code" dialog: the code chosen with OK, nothing when it
    // was cancelled. The dialog itself unless replaced.
    using TCodeDialog = std::function<std::optional<std::string>(const std::string& currentCode)>;
    void SetCodeDialog(TCodeDialog dialog);
    // Where "Find..." searches: the broadcast and the meter's ports unless replaced.
    void SetFinderOptions(const TFinderOptions& options);

signals:
    void CaptionChanged(const QString& caption);
    // The site row was written (its name or code may have changed).
    void SiteSaved();

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    // Timer1: the acquisition's tick.
    void Tick();
    // A while after opening, when the site starts by itself.
    void Autostart();
    // Closes the window that was asked to close during a reading, once it is done.
    void CloseIfWorkDone();

    friend class TSiteFormPrivate;
    std::unique_ptr<TSiteFormPrivate> d;
};
