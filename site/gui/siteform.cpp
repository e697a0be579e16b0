#include "siteform.h"

#include <QApplication>
#include <QButtonGroup>
#include <QChartView>
#include <QCloseEvent>
#include <QFileDialog>
#include <QMdiSubWindow>
#include <QSettings>
#include <QTabWidget>
#include <QVBoxLayout>

#include "chartpicture.h"
#include "datamodule.h"
#include "i18n.h"
#include "myutils.h"
#include "credentials.h"
#include "picturefile.h"
#include "readingwindow.h"
#include "siteform_p.h"
#include "sitepage_netquery.h"
#include "sitepage_network.h"
#include "sitepage_query.h"
#include "sitepage_readings.h"
#include "sitepage_realtime.h"
#include "sitepage_site.h"
#include "siterow.h"
#include "siterules.h"
#include "translatable.h"

namespace {

const char* const kSelectSite = "select * from SQMSITES where SIT_ID=:ID_SITO";

}  // namespace

TSiteRow TFormSiteSource::Site() {
    if (!ds_.Active() || ds_.Eof()) throw std::runtime_error("The site record is not available");
    return SiteRowFromValues([this](const std::string& name) {
        const auto& names = ds_.FieldNames();
        return std::find(names.begin(), names.end(), name) != names.end() ? ds_.FieldValue(name) : fb::Value{};
    });
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
      tbSite(trSite, kSelectSite, "SQMSITES", "SIT_ID"),
      binder(tbSite),
      prompt(form),
      source(tbSite, frame),
      ticker(Timer1),
      acq(TSitePorts{clock, ticker, wait, prompt, *this, light, data, source, stations, data.dbKALO, common}) {}

TSiteFormPrivate::~TSiteFormPrivate() = default;

void TSiteFormPrivate::ShowLatestReading(const TSQM*) { readingsPage->ShowLatestReading(); }
void TSiteFormPrivate::ReadingFailed(const std::string& why) { readingsPage->ReadingFailed(why); }
void TSiteFormPrivate::ReadingStored(const TSQM&, bool) { readingsPage->ReadingStored(); }
void TSiteFormPrivate::RefreshLatestReadings() { readingsPage->RefreshLatestReadings(); }
void TSiteFormPrivate::ShowRunState(bool running) { readingsPage->ShowRunState(running); }
void TSiteFormPrivate::Beep() { QApplication::beep(); }

void TSiteFormPrivate::Build() {
    PageControl1 = new QTabWidget;
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
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
    pages = {sitePage.get(), readingsPage.get(), realTimePage.get(), queryPage.get(), networkPage.get(), netQueryPage.get()};
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

bool TSiteFormPrivate::IsCurrent(const TSitePage* page) const {
    return page && PageControl1->currentWidget() == page->Tab();
}

void TSiteFormPrivate::tbSiteNewRecord() {
    tbSite.SetField("SIT_ID", int64_t{TSiteRules::NextSiteId(trSite)});
    for (const auto& [field, value] : TSiteRules::NewSiteDefaults(clock.Zone())) tbSite.SetField(field, value);
}

void TSiteFormPrivate::tbSiteBeforeEdit() {
    if (acq.Running()) {
        prompt.Inform(Tr("Can not change the configuration of the readings during data acquisition"));
        throw TAbort();
    }
}

void TSiteFormPrivate::tbSiteBeforePost() {
    TSiteRules::CheckPost(source.Site());
    readingsPage->RefreshLatestReadings();
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
    QSettings ini(q->SettingsFile(), QSettings::IniFormat);
    const QByteArray geometry = ini.value(QStringLiteral("Placement/Geometry")).toByteArray();
    auto* sub = qobject_cast<QMdiSubWindow*>(q->parentWidget());
    QWidget* frameWidget = sub ? static_cast<QWidget*>(sub) : q;
    if (!geometry.isEmpty() && frameWidget->restoreGeometry(geometry)) return;
    // First opening: as large as the pages want, within the main window.
    QSize size = q->sizeHint().expandedTo(QSize(780, 520));
    if (sub) {
        size += sub->size() - q->size();
        if (QWidget* area = sub->parentWidget()) size = size.boundedTo(area->size());
    }
    frameWidget->resize(size);
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

int TSiteFormPrivate::RecordSiteId() {
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

void TSiteFormPrivate::ShowNetQueryPage() {
    std::string error;
    const std::string code = SiteCode();
    const bool download = !code.empty() && (CheckCredentialsFile(code, error) & kCredentialsDownload) != 0;
    PageControl1->setTabVisible(PageControl1->indexOf(netQueryPage->Tab()), download);
}

QString TSiteFormPrivate::ChooseFile(const QString& filters, const QString& suffix) {
    if (fileChooser) return fileChooser(filters, suffix);
    QFileDialog dialog(q);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters.split(QStringLiteral(";;")));
    dialog.setDefaultSuffix(suffix);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().front()
                                                                                   : QString();
}

void TSiteFormPrivate::SaveChart(QChartView* view) {
    Guarded([&] {
        const QString file = ChooseFile(QString::fromLatin1(kPictureFileFilters), QString::fromLatin1(kPictureDefaultSuffix));
        if (file.isEmpty()) return;
        const auto format = PictureFormatForFile(file.toStdString());
        if (!format) {
            prompt.Error(Tr(kUnsupportedFileType));
            return;
        }
        QString error;
        if (!SaveChartPicture(view, file, *format, &error)) prompt.Error(error.toStdString());
    });
}

TSiteForm::TSiteForm(TData& data, TSiteCommons& common, int siteId, bool autostart, QWidget* parent)
    : QWidget(parent), d(std::make_unique<TSiteFormPrivate>(this, data, common, siteId)) {
    setObjectName(QStringLiteral("SiteForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    d->Build();
    d->Timer1.setObjectName(QStringLiteral("Timer1"));
    connect(&d->Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    d->TimerAutostart.setSingleShot(true);
    connect(&d->TimerAutostart, &QTimer::timeout, this, [this] { TimerAutostartTimer(); });

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
    connect(d->readingsPage->Method(), &QButtonGroup::idClicked, this, [this](int) { DBRadioGroup1Click(); });
    d->ReadSettings();

    d->trReadings.Start();
    d->Guarded([this] { RefreshLatestReadings(); });
    d->Guarded([this] { ShowReadingCounts(); });
    d->ShowNetQueryPage();
    d->light.Show(TSiteState::Stopped);
    d->readingsPage->ShowMethodGroups();
    ShowLatestReading();
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
bool TSiteForm::Busy() const { return d->acq.Busy(); }
TAcquisition& TSiteForm::Acquisition() { return d->acq; }
TDataSet& TSiteForm::SiteData() { return d->tbSite; }
QString TSiteForm::SettingsFile() const { return QString::fromStdString(TSiteRules::SettingsFile(d->siteId)); }
void TSiteForm::SetFinderOptions(const TFinderOptions& options) { d->finderOptions = options; }
void TSiteForm::SetFileChooser(TFileChooser chooser) { d->fileChooser = std::move(chooser); }
void TSiteForm::SetCodeDialog(TCodeDialog dialog) { d->codeDialog = std::move(dialog); }

void TSiteForm::Timer1Timer() {
    d->acq.Tick();
    if (d->closeAfterWork && !Busy()) QTimer::singleShot(0, this, [this] { close(); });
}

void TSiteForm::TimerAutostartTimer() {
    d->TimerAutostart.stop();
    btnStartReadingClick();
}

void TSiteForm::btnStartReadingClick() {
    d->readingsPage->StartOrStop();
    if (d->closeAfterWork && !Busy()) QTimer::singleShot(0, this, [this] { close(); });
}

void TSiteForm::btnReadNowClick() {
    d->readingsPage->ReadNow();
    if (d->closeAfterWork && !Busy()) QTimer::singleShot(0, this, [this] { close(); });
}

void TSiteForm::btnTestSQMClick() { d->sitePage->CheckConnection(); }
void TSiteForm::btnFindMeterClick() { d->sitePage->FindMeter(); }
void TSiteForm::DBRadioGroup1Click() { d->readingsPage->MethodChosen(); }
void TSiteForm::ShowLatestReading() { d->readingsPage->ShowLatestReading(); }
void TSiteForm::RefreshLatestReadings() { d->readingsPage->RefreshLatestReadings(); }

void TSiteForm::UpDown1Click() {
    d->Guarded([this] { RefreshLatestReadings(); });
}

void TSiteForm::RadioGroup3Click() { d->realTimePage->ShowChosenGraph(); }
void TSiteForm::TSGraficoHide() { d->realTimePage->Hidden(); }
void TSiteForm::TSDBShow() { d->queryPage->Shown(); }
void TSiteForm::SetQueryButtons() { d->queryPage->ShowKindControls(); }
void TSiteForm::RunLocalQuery() { d->queryPage->RunQuery(); }
void TSiteForm::btnPrevClick() { d->queryPage->StepNight(-1); }
void TSiteForm::btnNextClick() { d->queryPage->StepNight(1); }
void TSiteForm::BitBtn5Click() { d->queryPage->ExportToFile(); }
void TSiteForm::btnDeleteRowClick() { d->queryPage->DeleteSelected(); }
void TSiteForm::btnDeleteAllClick() { d->queryPage->DeleteAllQueried(); }
void TSiteForm::TabSheet2Show() { d->networkPage->ShowCredentials(); }
void TSiteForm::ShowReadingCounts() { d->networkPage->ShowReadingCounts(); }
void TSiteForm::BitBtn2Click() { d->networkPage->SetCredentials(); }
void TSiteForm::BitBtn3Click() { d->networkPage->CheckConnection(); }
void TSiteForm::BitBtn6Click() { d->networkPage->SendWaitingRecords(); }
void TSiteForm::TabSheet3Show() { d->netQueryPage->Shown(); }
void TSiteForm::TabSheet3Hide() { d->netQueryPage->Hidden(); }
void TSiteForm::RadioGroup5Click() { d->netQueryPage->ShowKindControls(); }
void TSiteForm::BtnPrevNetClick() { d->netQueryPage->StepNight(-1); }
void TSiteForm::BtnNextNetClick() { d->netQueryPage->StepNight(1); }
void TSiteForm::BitBtn7Click() { d->netQueryPage->RunQuery(); }
void TSiteForm::BitBtn9Click() { d->netQueryPage->SaveInLocalDatabase(); }

void TSiteForm::btnSaveQueryChartClick(int chart) {
    QChartView* views[] = {d->queryPage->Chart(), d->realTimePage->Chart(), d->netQueryPage->Chart()};
    if (chart >= 0 && chart < 3) d->SaveChart(views[chart]);
}

void TSiteForm::SetDynamicLabels(bool isLocalTime, double time) {
    if (!d->tbSite.Active() || d->tbSite.Eof()) return;
    const TSiteRow site = d->source.Site();
    if (!site.Name.empty() && windowTitle() != QString::fromStdString(site.Name)) {
        SetTrWindowTitle(this, nullptr);
        setWindowTitle(QString::fromStdString(site.Name));
        emit CaptionChanged(windowTitle());
    }
    ShowLatestReading();
    if (isLocalTime)
        time += d->common.time.Offset + LocalToUtcOffset(site.TimeZone, d->clock.Zone());
    for (TSitePage* page : d->pages) page->ShowSite(site, time);
}

void TSiteForm::Retranslate() {
    RetranslateTree(this);
    for (TSitePage* page : d->pages) page->Retranslate();
    emit CaptionChanged(windowTitle());
}

bool TSiteForm::FormCloseQuery() { return d->acq.MayClose(); }

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
    }
    e->accept();
}
