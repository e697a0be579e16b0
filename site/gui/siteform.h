#pragma once
// TSiteForm: the window of one site (definition, acquisition, readings).
// Its handlers are thin calls into site/core.
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
    // Asks while acquisition runs; Yes stops it. True when the window may close.
    bool FormCloseQuery();
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

    // Handlers, named after their controls and events.
    void Timer1Timer();
    void TimerAutostartTimer();
    void btnStartReadingClick();
    void btnReadNowClick();
    void btnTestSQMClick();
    void btnFindMeterClick();  // "Find..." beside the host
    void DBRadioGroup1Click();
    void ShowLatestReading();
    void RefreshLatestReadings();
    void UpDown1Click();
    void RadioGroup3Click();
    void TSGraficoHide();
    void TSDBShow();
    void SetQueryButtons();
    void RunLocalQuery();
    void btnPrevClick();
    void btnNextClick();
    void BitBtn5Click();
    void btnDeleteRowClick();
    void btnDeleteAllClick();
    // "Noctila settings"
    void TabSheet2Show();
    void ShowReadingCounts();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn6Click();
    // "Noctila query"
    void TabSheet3Show();
    void TabSheet3Hide();
    void RadioGroup5Click();
    void BtnPrevNetClick();
    void BtnNextNetClick();
    void BitBtn7Click();
    void BitBtn9Click();
    // chart 0: the local query, 1: the real-time graph, 2: the network query.
    void btnSaveQueryChartClick(int chart);

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
    friend class TSiteFormPrivate;
    std::unique_ptr<TSiteFormPrivate> d;
};
