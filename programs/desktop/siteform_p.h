#pragma once
// The frame of the site window: the site record, the acquisition and its
// ports, the tabs, and the context its pages are given. Only the window
// includes this.
#include <QTimer>
#include <map>
#include <memory>
#include <string>

#include "core/site/acquisition.h"
#include "gui/buttonframe.h"
#include "core/station/dataset.h"
#include "gui/dialogs.h"
#include "gui/fieldbinding.h"
#include "gui/guiports.h"
#include "gui/readingviews.h"
#include "programs/desktop/meterfinddialog.h"
#include "gui/semaforo.h"
#include "programs/desktop/siteform.h"
#include "programs/desktop/sitepage.h"

class QTabWidget;
class TSitePage;
class TSiteInfoPage;
class TReadingsPage;
class TRealTimePage;
class TLocalQueryPage;
class TNetworkPage;
class TNetQueryPage;
class TNightsPage;

// The site record of the window as the acquisition sees it.
class TFormSiteSource : public ISiteSource {
public:
    TFormSiteSource(TDataSet& ds, TButtonFrame*& frame) : ds_(ds), frame_(frame) {}
    TSiteRow Site() override;
    bool HasUnsavedChanges() override;
    bool SaveChanges() override { return frame_ && frame_->Save(); }

private:
    TDataSet& ds_;
    TButtonFrame*& frame_;
};

class TSiteFormPrivate : public ISiteView, public ISitePageContext {
public:
    TSiteFormPrivate(TSiteForm* form, TData& data, TSiteCommons& common, int siteId);
    ~TSiteFormPrivate() override;

    // ISiteView
    void SetDynamicLabels(double utc) override { q->SetDynamicLabels(false, utc); }
    void ShowLatestReading(const TSQM*) override;
    void ReadingFailed(const std::string& why) override;
    void ReadingStored(const TSQM&, bool) override;
    void RefreshLatestReadings() override { latest.Refresh(); }
    void ShowRunState(bool running) override;
    void Beep() override;
    // Work that ended after its tick had returned (the program shutting down).
    void WorkDone() override { q->CloseIfWorkDone(); }

    // ISitePageContext
    QWidget* Window() override { return q; }
    TDataSet& Site() override { return tbSite; }
    void AddEditor(const char* field, QWidget* editor) override { editors[field] = editor; }
    QWidget* Editor(const char* field) override { return editors.at(field); }
    bool SaveSite() override { return frame && frame->Save(); }
    // SIT_ID of the record: a new site's window reads the site once saved.
    int SiteId() override;
    std::string SiteCode() override;
    std::string SiteName() override;
    std::optional<TSitePosition> Position() override;
    TAcquisition& Acquisition() override { return acq; }
    IPrompt& Prompt() override { return prompt; }
    IWait& Wait() override { return wait; }
    IJobRunner& Jobs() override { return jobs; }
    TSiteCommons& Common() override { return common; }
    fb::Transaction& Readings() override { return trReadings; }
    TLatestReadings& Latest() override { return latest; }
    double NowLocal() override { return clock.NowLocal(); }
    bool IsCurrent(const TSitePage& page) override;
    QString ChooseFile(const QString& filters, const QString& suffix) override;
    void SaveChart(QWidget* chart) override;
    std::optional<std::string> AskSiteCode(const std::string& current) override;
    const TFinderOptions& FinderOptions() override { return finderOptions; }
    // The Noctila query page exists only where the credentials allow downloading.
    void CredentialsChanged() override;

    void Build();
    void Bind();
    void PageChanged(int index);
    // The station's latest reading on every page that shows it.
    void ShowReadings();
    bool Working() const;
    void ReadSettings();
    void RestorePlacement();
    void WriteSettings();
    void WriteControls();
    void tbSiteNewRecord();
    void tbSiteBeforeEdit();
    void tbSiteBeforePost();
    void tbSiteAfterPost();

    TSiteForm* q;
    TData& data;
    TSiteCommons& common;
    int siteId;
    fb::Transaction trSite;
    // The reading lists and their deletions, apart from the site record's edits.
    fb::Transaction trReadings;
    TDataSet tbSite;
    TFieldBinder binder;
    TButtonFrame* frame = nullptr;
    TPcClock clock;
    TGuiWait wait;
    TGuiPrompt prompt;
    TFormSiteSource source;
    QTimer Timer1;
    QTimer TimerAutostart;
    TTimerTicker ticker;
    TStationFactory stations;
    TSemaforoLight light;  // the ports need it before the page builds the widget
    TGuiJobs jobs;         // the meter conversations and uploads, off the window's thread
    TAcquisition acq;
    TLatestReadings latest;
    bool closeAfterWork = false;
    bool shuttingDown = false;
    bool autostartHeld = false;  // the autostart was pending when a deletion held the window
    bool placed = false;
    int previousPage = -1;
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    QTabWidget* PageControl1 = nullptr;
    std::map<std::string, QWidget*> editors;  // by field, of every page
    TFinderOptions finderOptions;              // where "Find..." searches
    TSiteForm::TCodeDialog codeDialog;
    TSiteForm::TFileChooser fileChooser;

    std::unique_ptr<TSiteInfoPage> sitePage;
    std::unique_ptr<TReadingsPage> readingsPage;
    std::unique_ptr<TNetworkPage> networkPage;
    std::unique_ptr<TRealTimePage> realTimePage;
    std::unique_ptr<TLocalQueryPage> queryPage;
    std::unique_ptr<TNetQueryPage> netQueryPage;
    std::unique_ptr<TNightsPage> nightsPage;
    // In the order of the tabs.
    std::vector<TSitePage*> pages;
};
