#include "programs/desktop/siteform.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiSubWindow>
#include <QProxyStyle>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "gui/placement.h"
#include "gui/chartpicture.h"
#include "core/site/datamodule.h"
#include "core/station/i18n.h"
#include "core/station/lastresort.h"
#include "core/station/myutils.h"
#include "core/station/credentials.h"
#include "core/site/picturefile.h"
#include "core/site/readingwindow.h"
#include "core/site/localquery.h"
#include "programs/desktop/setsitecodeform.h"
#include "programs/desktop/siteform_p.h"
#include "programs/desktop/sitepage_netquery.h"
#include "programs/desktop/sitepage_network.h"
#include "programs/desktop/sitepage_nights.h"
#include "programs/desktop/sitepage_query.h"
#include "programs/desktop/sitepage_readings.h"
#include "programs/desktop/sitepage_realtime.h"
#include "programs/desktop/sitepage_site.h"
#include "core/site/siteactions.h"
#include "core/site/siterow.h"
#include "core/site/siterules.h"
#include "gui/translatable.h"

TSiteRow TFormSiteSource::Site() {
    if (!ds_.Active() || ds_.Eof()) throw std::runtime_error("The site record is not available");
    return TSiteActions::RowOf(ds_);
}

bool TFormSiteSource::HasUnsavedChanges() {
    return ds_.GetState() == TDataSet::State::Edit || ds_.GetState() == TDataSet::State::Insert;
}

TSiteFormPrivate::TSiteFormPrivate(TSiteForm* form, TData& data, TSiteCommons& common, int siteId)
    : q(form),
      data(data),
      common(common),
      siteId(siteId),
      trSite(data.dbKALO, fb::Isolation::ReadCommitted),
      trReadings(data.dbKALO, fb::Isolation::ReadCommitted),
      tbSite(TSiteActions::SiteRecord(trSite)),
      binder(tbSite),
      prompt(form),
      source(tbSite, frame),
      ticker(Timer1),
      jobs(common.workers),
      acq(TSitePorts{clock, ticker, wait, prompt, *this, light, data, source, stations, data.dbKALO, common, &jobs}),
      latest([this](int count) { return ReadLatestReadings(trReadings, SiteId(), count); }) {}

TSiteFormPrivate::~TSiteFormPrivate() = default;

void TSiteFormPrivate::ShowLatestReading(const TSQM*) { ShowReadings(); }
void TSiteFormPrivate::ReadingFailed(const std::string& why) { readingsPage->ReadingFailed(why); }

void TSiteFormPrivate::ReadingStored(const TSQM&, bool) {
    readingsPage->ReadingStored();
    ShowReadings();
}

void TSiteFormPrivate::ShowRunState(bool running) {
    // The configuration cannot change while readings run: the fields say
    // so by refusing keys ("Edit data" explains why).
    for (const auto& [field, editor] : editors)
        if (field != "SIT_CODE" && !qobject_cast<QLabel*>(editor)) binder.SetReadOnly(editor, running);
    readingsPage->ShowRunState(running);
}

void TSiteFormPrivate::Beep() { QApplication::beep(); }

void TSiteFormPrivate::ShowReadings() {
    for (TSitePage* page : pages) page->ShowReading(acq.Station());
}

bool TSiteFormPrivate::Working() const {
    return std::any_of(pages.begin(), pages.end(), [](const TSitePage* page) { return page->Working(); });
}

namespace {
// A quarter of the usual room beside each tab's title: the six titles then
// fit a window tiled beside another on a common screen, in German too,
// without scroll arrows hiding a page.
class TCompactTabs : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        return metric == PM_TabBarTabHSpace ? value / 4 : value;
    }
};
}  // namespace

void TSiteFormPrivate::Build() {
    PageControl1 = new QTabWidget;
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    auto* compact = new TCompactTabs;
    compact->setParent(PageControl1->tabBar());
    PageControl1->tabBar()->setStyle(compact);
    sitePage = std::make_unique<TSiteInfoPage>(*this);
    readingsPage = std::make_unique<TReadingsPage>(*this);
    networkPage = std::make_unique<TNetworkPage>(*this);
    light.light = readingsPage->Light();
    AddTrTab(PageControl1, sitePage->Tab(), N_("Site informations"));
    AddTrTab(PageControl1, readingsPage->Tab(), N_("SQM Readings"));
    realTimePage = std::make_unique<TRealTimePage>(*this);
    AddTrTab(PageControl1, realTimePage->Tab(), N_("Real time graph"));
    queryPage = std::make_unique<TLocalQueryPage>(*this);
    AddTrTab(PageControl1, queryPage->Tab(), N_("Database query"));
    AddTrTab(PageControl1, networkPage->Tab(), N_("Noctila settings"));
    netQueryPage = std::make_unique<TNetQueryPage>(*this);
    AddTrTab(PageControl1, netQueryPage->Tab(), N_("Noctila query"));
    nightsPage = std::make_unique<TNightsPage>(*this);
    AddTrTab(PageControl1, nightsPage->Tab(), N_("Nights"));
    pages = {sitePage.get(),    readingsPage.get(),  realTimePage.get(), queryPage.get(),
             networkPage.get(), netQueryPage.get(), nightsPage.get()};
    PageControl1->setTabVisible(PageControl1->indexOf(netQueryPage->Tab()), false);
    QObject::connect(PageControl1, &QTabWidget::currentChanged, q, [this](int index) { PageChanged(index); });
    frame = new TButtonFrame;
    frame->setObjectName(QStringLiteral("ButtonFrame1"));
    auto* layout = new QVBoxLayout(q);
    layout->addWidget(PageControl1);
    layout->addWidget(frame);
    QObject::connect(frame, &TButtonFrame::okClicked, q, [this] { q->close(); });
    QObject::connect(frame, &TButtonFrame::cancelClicked, q, [this] { q->close(); });
}

// In the order the fields have always been bound: site, readings, network.
void TSiteFormPrivate::Bind() {
    for (TSitePage* page : {static_cast<TSitePage*>(sitePage.get()), static_cast<TSitePage*>(readingsPage.get()),
                            static_cast<TSitePage*>(networkPage.get())})
        page->Bind(binder);
}

void TSiteFormPrivate::PageChanged(int index) {
    QWidget* tab = PageControl1->widget(index);
    QWidget* previous = previousPage >= 0 ? PageControl1->widget(previousPage) : nullptr;
    previousPage = index;
    for (TSitePage* page : pages)
        if (page->Tab() == previous && previous != tab) page->Hidden();
    for (TSitePage* page : pages)
        if (page->Tab() == tab) page->Shown();
}

bool TSiteFormPrivate::IsCurrent(const TSitePage& page) { return PageControl1->currentWidget() == page.Tab(); }

void TSiteFormPrivate::tbSiteNewRecord() {
    TSiteActions::FillNewSite(tbSite, clock.Zone());
}

void TSiteFormPrivate::tbSiteBeforeEdit() {
    if (acq.Running()) {
        prompt.Inform(Tr("Can not change the configuration of the readings during data acquisition"));
        throw TAbort();
    }
}

void TSiteFormPrivate::tbSiteBeforePost() {
    TSiteActions::CheckSave(tbSite);
    latest.Refresh();
}

void TSiteFormPrivate::tbSiteAfterPost() {
    // The next reading or test connects with what was saved.
    acq.DiscardStation();
    const TSiteRow site = source.Site();
    if (TSiteRules::CoordinatesMissing(site))
        prompt.Inform(Tr("Warning, latitude / longitude, were not specified: it is impossible to correctly calculate twilights"));
    if (siteId > 0 || !site.Name.empty()) {
        SetTrWindowTitle(q, nullptr);
        q->setWindowTitle(QString::fromStdString(site.Name));
        emit q->CaptionChanged(q->windowTitle());
    }
    emit q->SiteSaved();
}

// The controls' values and the grids' columns; the placement belongs to the
// frame the window gets when it is shown (RestorePlacement).
void TSiteFormPrivate::ReadSettings() {
    QSettings ini(q->SettingsFile(), QSettings::IniFormat);
    for (TSitePage* page : pages) page->RestoreSettings(ini);
}

void TSiteFormPrivate::RestorePlacement() {
    auto* sub = qobject_cast<QMdiSubWindow*>(q->parentWidget());
    // Opened maximised (another window was): it covers the area as it is.
    if (sub && sub->isMaximized()) return;
    QSettings ini(q->SettingsFile(), QSettings::IniFormat);
    const QByteArray geometry = ini.value(QStringLiteral("Placement/Geometry")).toByteArray();
    QWidget* frameWidget = sub ? static_cast<QWidget*>(sub) : q;
    if (geometry.isEmpty() || !frameWidget->restoreGeometry(geometry)) {
        // First opening: as large as the pages want, within the main window.
        QSize size = q->sizeHint().expandedTo(QSize(780, 520));
        if (sub) size += sub->size() - q->size();
        frameWidget->resize(size);
    }
    // A placement saved in a larger main window, or the area's own cascade,
    // must not leave part of the window out of sight; nor, for a window of
    // its own, one saved on a larger screen.
    QWidget* area = sub ? sub->parentWidget() : nullptr;
    if (!area) {
        FitIntoScreen(q);
        return;
    }
    const QRect visible = area->rect();
    QRect frame = frameWidget->geometry();
    frame.setSize(frame.size().boundedTo(visible.size()));
    frame.moveLeft(std::clamp(frame.left(), visible.left(), visible.right() + 1 - frame.width()));
    frame.moveTop(std::clamp(frame.top(), visible.top(), visible.bottom() + 1 - frame.height()));
    frameWidget->setGeometry(frame);
}

void TSiteFormPrivate::WriteSettings() {
    WriteControls();
    QSettings ini(q->SettingsFile(), QSettings::IniFormat);
    QWidget* frameWidget = qobject_cast<QMdiSubWindow*>(q->parentWidget()) ? q->parentWidget() : q;
    ini.setValue(QStringLiteral("Placement/Geometry"), frameWidget->saveGeometry());
    ini.setValue(QStringLiteral("Placement/State"), frameWidget->isMinimized()   ? QStringLiteral("minimized")
                                                     : frameWidget->isMaximized() ? QStringLiteral("maximized")
                                                                                  : QStringLiteral("normal"));
}

void TSiteFormPrivate::WriteControls() {
    QSettings ini(q->SettingsFile(), QSettings::IniFormat);
    for (const TSitePage* page : pages) page->SaveSettings(ini);
}

int TSiteFormPrivate::SiteId() {
    if (tbSite.Active() && !tbSite.Eof()) {
        const fb::Value v = tbSite.FieldValue("SIT_ID");
        if (const auto* i = std::get_if<int64_t>(&v)) return static_cast<int>(*i);
    }
    return siteId;
}

std::string TSiteFormPrivate::SiteCode() {
    return tbSite.Active() && !tbSite.Eof() ? Trim(tbSite.AsString("SIT_CODE")) : std::string();
}

std::string TSiteFormPrivate::SiteName() {
    return tbSite.Active() && !tbSite.Eof() ? Trim(tbSite.AsString("SIT_NAME")) : std::string();
}

void TSiteFormPrivate::CredentialsChanged() {
    const bool download = TSiteActions::CredentialsState(SiteCode()).Download;
    PageControl1->setTabVisible(PageControl1->indexOf(netQueryPage->Tab()), download);
}

QString TSiteFormPrivate::ChooseFile(const QString& filters, const QString& suffix) {
    return fileChooser ? fileChooser(filters, suffix) : AskSaveFileName(q, filters, suffix);
}

void TSiteFormPrivate::SaveChart(QWidget* chart) {
    dialogs::Guarded(q, [&] { SaveChartAs(q, chart, fileChooser); });
}

std::optional<std::string> TSiteFormPrivate::AskSiteCode(const std::string& current) {
    if (codeDialog) return codeDialog(current);
    TSetSiteCodeForm dialog(q);
    dialog.SetSiteCode(QString::fromStdString(current));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.SiteCode().toStdString();
}

std::optional<TSitePosition> TSiteFormPrivate::Position() {
    try {
        if (!tbSite.Active() || tbSite.Eof()) return std::nullopt;
        const TSiteRow site = TSiteActions::RowOf(tbSite);
        return PositionOf(site.Latitude, site.Longitude);
    } catch (const std::exception&) {
        return std::nullopt;  // a value being edited: the chart goes without shading
    }
}

TSiteForm::TSiteForm(TData& data, TSiteCommons& common, int siteId, bool autostart, QWidget* parent)
    : QWidget(parent), d(std::make_unique<TSiteFormPrivate>(this, data, common, siteId)) {
    setObjectName(QStringLiteral("SiteForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    d->Build();
    d->Timer1.setObjectName(QStringLiteral("Timer1"));
    connect(&d->Timer1, &QTimer::timeout, this, [this] { Tick(); });
    d->TimerAutostart.setSingleShot(true);
    connect(&d->TimerAutostart, &QTimer::timeout, this, [this] { Autostart(); });

    TDataSet& ds = d->tbSite;
    std::weak_ptr<void> alive = d->alive;
    ds.OnNewRecord = [this] { d->tbSiteNewRecord(); };
    ds.BeforeEdit = [this] { d->tbSiteBeforeEdit(); };
    ds.BeforePost = [this] { d->tbSiteBeforePost(); };
    ds.AfterPost = [this] { d->tbSiteAfterPost(); };
    ChainEvent(ds.OnStateChange, alive, [this] { d->readingsPage->ShowMethodGroups(); });
    d->frame->SetDataSet(&ds);

    d->trSite.Start();
    if (siteId <= 0) {
        SetTrWindowTitle(this, N_("Inserting new SQM Site"));
        ds.SetParam("ID_SITO", int64_t{0});
        ds.Open();
        ds.Insert();
        d->PageControl1->setCurrentIndex(0);
    } else {
        ds.SetParam("ID_SITO", int64_t{siteId});
        ds.Open();
        if (!ds.Eof()) setWindowTitle(QString::fromStdString(Trim(ds.AsString("SIT_NAME"))));
        d->PageControl1->setCurrentIndex(1);
    }
    d->Bind();
    // After the binding, so that the click finds the new method in the row.
    connect(d->readingsPage->Method(), &QButtonGroup::idClicked, this, [this](int) { d->readingsPage->MethodChosen(); });
    d->ReadSettings();

    d->trReadings.Start();
    dialogs::Guarded(this, [this] { RefreshLatestReadings(); });
    dialogs::Guarded(this, [this] { d->networkPage->ShowReadingCounts(); });
    d->CredentialsChanged();
    d->light.Show(TSiteState::Stopped);
    d->readingsPage->ShowMethodGroups();
    d->ShowReadings();
    if (autostart) {
        d->TimerAutostart.setInterval(TSiteRules::AutostartDelayMs());
        d->TimerAutostart.start();
    }
}

TSiteForm::~TSiteForm() {
    d->Timer1.stop();
    d->TimerAutostart.stop();
}

int TSiteForm::SiteId() const { return d->siteId; }
bool TSiteForm::Acquiring() const { return d->acq.Running(); }
bool TSiteForm::Busy() const { return d->acq.Busy() || d->Working(); }
TAcquisition& TSiteForm::Acquisition() { return d->acq; }
TDataSet& TSiteForm::SiteData() { return d->tbSite; }
QString TSiteForm::SettingsFile() const { return QString::fromStdString(TSiteRules::SettingsFile(d->siteId)); }
void TSiteForm::SetFinderOptions(const TFinderOptions& options) { d->finderOptions = options; }
void TSiteForm::SetFileChooser(TFileChooser chooser) { d->fileChooser = std::move(chooser); }
void TSiteForm::SetCodeDialog(TCodeDialog dialog) { d->codeDialog = std::move(dialog); }

void TSiteForm::Tick() {
    d->acq.Tick();
    CloseIfWorkDone();
}

void TSiteForm::Autostart() {
    d->TimerAutostart.stop();
    StartOrStopReadings();
}

void TSiteForm::CloseIfWorkDone() {
    if (d->closeAfterWork && !Busy()) QTimer::singleShot(0, this, [this] { close(); });
}

void TSiteForm::StartOrStopReadings() {
    d->readingsPage->StartOrStop();
    CloseIfWorkDone();
}

void TSiteForm::ReadNow() {
    d->readingsPage->ReadNow();
    CloseIfWorkDone();
}

void TSiteForm::CheckMeterConnection() { d->sitePage->CheckConnection(); }
void TSiteForm::FindMeter() { d->sitePage->FindMeter(); }
void TSiteForm::RefreshLatestReadings() { d->latest.Refresh(); }
void TSiteForm::ShowChosenGraph() { d->realTimePage->ShowChosenGraph(); }
void TSiteForm::RunLocalQuery() { d->queryPage->RunQuery(); }
void TSiteForm::ExportQuery() { d->queryPage->ExportToFile(); }
void TSiteForm::DeleteSelectedReading() { d->queryPage->DeleteSelected(); }
void TSiteForm::DeleteQueriedReadings() { d->queryPage->DeleteAllQueried(); }
void TSiteForm::ShowCredentials() { d->networkPage->ShowCredentials(); }
void TSiteForm::SetCredentials() { d->networkPage->SetCredentials(); }
void TSiteForm::CheckNetworkConnection() { d->networkPage->CheckConnection(); }
void TSiteForm::SendWaitingRecords() { d->networkPage->SendWaitingRecords(); }
void TSiteForm::RunNetworkQuery() { d->netQueryPage->RunQuery(); }
void TSiteForm::SaveNetworkReadings() { d->netQueryPage->SaveInLocalDatabase(); }

void TSiteForm::SaveChart(TChart chart) {
    d->SaveChart(chart == TChart::Query      ? d->queryPage->Chart()
                 : chart == TChart::RealTime ? d->realTimePage->Chart()
                                             : d->netQueryPage->Chart());
}

void TSiteForm::SetDynamicLabels(bool isLocalTime, double time) {
    if (!d->tbSite.Active() || d->tbSite.Eof()) return;
    const TSiteRow site = d->source.Site();
    if (!site.Name.empty() && windowTitle() != QString::fromStdString(site.Name)) {
        SetTrWindowTitle(this, nullptr);
        setWindowTitle(QString::fromStdString(site.Name));
        emit CaptionChanged(windowTitle());
    }
    d->ShowReadings();
    if (isLocalTime)
        time += d->common.time.Offset + LocalToUtcOffset(site.TimeZone, d->clock.Zone());
    for (TSitePage* page : d->pages) page->ShowSite(site, time);
}

void TSiteForm::Retranslate() {
    RetranslateTree(this);
    d->binder.Refresh();  // the fields' numbers in the new language's form
    for (TSitePage* page : d->pages) page->Retranslate();
    emit CaptionChanged(windowTitle());
}

bool TSiteForm::FormCloseQuery() { return d->acq.MayClose(); }

int TSiteForm::RecordSiteId() const { return d->SiteId(); }

bool TSiteForm::MayStopForQuit() { return d->acq.MayStopForQuit(); }

void TSiteForm::HoldForDeletion() {
    d->autostartHeld = d->autostartHeld || d->TimerAutostart.isActive();
    d->TimerAutostart.stop();
    d->acq.Hold();
}

void TSiteForm::ReleaseAfterDeletion() {
    d->acq.Release();
    if (std::exchange(d->autostartHeld, false)) d->TimerAutostart.start();
}

void TSiteForm::CloseForDeletedSite() {
    d->autostartHeld = false;
    StopForShutdown();
    close();
}

void TSiteForm::StopForShutdown() {
    d->shuttingDown = true;
    d->TimerAutostart.stop();
    d->acq.Stop();
}

void TSiteForm::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (!d->placed) {
        d->placed = true;
        d->RestorePlacement();
    }
}

void TSiteForm::closeEvent(QCloseEvent* e) {
    // A tick waiting in a pause is still on the stack: close once it is done.
    if (Busy()) {
        if (d->shuttingDown || FormCloseQuery()) d->closeAfterWork = true;
        e->ignore();
        return;
    }
    if (!d->shuttingDown && !d->closeAfterWork && !FormCloseQuery()) {
        e->ignore();
        return;
    }
    d->acq.Stop();
    d->TimerAutostart.stop();
    d->WriteSettings();
    // What is still being edited is not saved by closing.
    try {
        d->tbSite.Cancel();
        if (d->trSite.Active()) d->trSite.Rollback();
        if (d->trReadings.Active()) d->trReadings.Commit();
    } catch (...) {
        LastResortLine("closing the site window");  // the window goes all the same
    }
    e->accept();
}
