#include "siteform.h"

#include <QApplication>
#include <QButtonGroup>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateEdit>
#include <QFileDialog>
#include <QHeaderView>
#include <QProgressBar>
#include <QSpinBox>
#include <QTableView>
#include <QTimeEdit>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "acquisition.h"
#include "buttonframe.h"
#include "chartpicture.h"
#include "datamodule.h"
#include "dataset.h"
#include "dialogs.h"
#include "fieldbinding.h"
#include "guiports.h"
#include "i18n.h"
#include "credentials.h"
#include "localquery.h"
#include "meterfinddialog.h"
#include "netquery.h"
#include "netsync.h"
#include "readingcounts.h"
#include "myutils.h"
#include "picturefile.h"
#include "querycontrols.h"
#include "readingviews.h"
#include "readingwindow.h"
#include "semaforo.h"
#include "setsitecodeform.h"
#include "siteedit.h"
#include "siterow.h"
#include "siterules.h"
#include "sqm.h"
#include "translatable.h"

namespace {

QString T(const char* s) { return QString::fromStdString(Tr(s)); }

const char* const kSelectSite = "select * from SQMSITES where SIT_ID=:ID_SITO";

}  // namespace

// The site record of the window as the acquisition sees it.
class TFormSiteSource : public ISiteSource {
public:
    TFormSiteSource(TDataSet& ds, TButtonFrame*& frame) : ds_(ds), frame_(frame) {}
    TSiteRow Site() override {
        if (!ds_.Active() || ds_.Eof()) throw std::runtime_error("The site record is not available");
        return SiteRowFromValues([this](const std::string& name) {
            const auto& names = ds_.FieldNames();
            return std::find(names.begin(), names.end(), name) != names.end() ? ds_.FieldValue(name) : fb::Value{};
        });
    }
    bool HasUnsavedChanges() override {
        return ds_.GetState() == TDataSet::State::Edit || ds_.GetState() == TDataSet::State::Insert;
    }
    bool SaveChanges() override { return frame_ && frame_->Save(); }

private:
    TDataSet& ds_;
    TButtonFrame*& frame_;
};

class TSiteFormPrivate : public ISiteView {
public:
    TSiteFormPrivate(TSiteForm* form, TData& data, TSiteCommons& common, int siteId)
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

    // ISiteView
    void SetDynamicLabels(double utc) override { q->SetDynamicLabels(false, utc); }
    void ShowLatestReading(const TSQM*) override { q->ShowLatestReading(); }
    // Why the last due reading failed stays in sight until a reading is stored.
    void ReadingFailed(const std::string& why) override {
        lastFailure = why;
        lastFailureTime = QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH.mm.ss"));
        q->ShowLatestReading();
    }
    void ReadingStored(const TSQM&, bool) override {
        lastFailure.clear();
        q->ShowLatestReading();
    }
    void RefreshLatestReadings() override { q->RefreshLatestReadings(); }
    void Beep() override { QApplication::beep(); }
    void ShowRunState(bool running) override {
        SetTrText(btnStartReading, running ? N_("Stop SQM Readings") : N_("Start SQM Readings"));
        // The configuration cannot change while readings run: the fields say
        // so by refusing keys ("Edit data" explains why).
        for (const auto& [field, editor] : editors)
            if (field != "SIT_CODE" && !qobject_cast<QLabel*>(editor)) binder.SetReadOnly(editor, running);
        binder.SetReadOnly(DBRadioGroup1, running);
        lblWindowStart->setText(QStringLiteral("--:--"));
        lblWindowStop->setText(QStringLiteral("--:--"));
    }

    void Build();
    QWidget* BuildSitePage();
    QWidget* BuildReadingsPage();
    QWidget* BuildNetworkPage();
    QWidget* BuildGraphPage();
    QWidget* BuildQueryPage();
    QWidget* BuildNetQueryPage();
    // The Noctila query page exists only where the credentials allow downloading.
    void ShowNetQueryPage();
    std::string SiteCode();
    std::string SiteName();
    void PageChanged(int index);
    void ReopenCurrentNight();
    void PlotRealTime();
    void ReplotQuery();
    // The charts' titles in the current language.
    void RetitleCharts();
    // SIT_ID of the record: a new site's window reads the site once saved.
    int RecordSiteId();
    QString ChooseFile(const QString& filters, const QString& suffix);
    void Bind();
    void ShowMethodGroups();
    void ReadSettings();
    void RestorePlacement();
    bool placed = false;
    void WriteSettings();
    void WriteControls();
    template <typename F>
    void Guarded(F&& f);

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
    TAcquisition acq;
    bool closeAfterWork = false;
    bool shuttingDown = false;
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    QTabWidget* PageControl1 = nullptr;
    QWidget* tsSite = nullptr;
    QWidget* tsReadings = nullptr;
    QWidget* tsNetwork = nullptr;
    TSemaforo* Semaforo1 = nullptr;
    QPushButton* btnStartReading = nullptr;
    QPushButton* btnReadNow = nullptr;
    QPushButton* btnTestSQM = nullptr;
    TFinderOptions finderOptions;  // where "Find..." searches
    QButtonGroup* DBRadioGroup1 = nullptr;
    QGroupBox* gbTimedWindow = nullptr;
    QGroupBox* gbReadingTime = nullptr;
    QGroupBox* gbDaylight = nullptr;
    QLabel* lblWindowStart = nullptr;
    QLabel* lblWindowStop = nullptr;
    QLabel* lblUtcTime = nullptr;
    QLabel* lblReading = nullptr;
    QLabel* lblNelm = nullptr;
    QLabel* lblTemperature = nullptr;
    QLabel* lblShutter = nullptr;
    QLabel* lblLastFailure = nullptr;
    std::string lastFailure;
    QString lastFailureTime;
    std::map<std::string, QWidget*> editors;  // by field

    using Col = TReadingTableModel::Column;
    QSpinBox* edNumLatest = nullptr;  // with its arrows (UpDown1)
    TReadingTableModel* latestModel = nullptr;
    QTableView* gridLatest = nullptr;

    QWidget* tsGrafico = nullptr;
    QButtonGroup* RadioGroup3 = nullptr;
    QLabel* lblGraphTime = nullptr;
    QLabel* lblGraphValue = nullptr;
    QChartView* ChartRealTime = nullptr;
    bool realTimeOpen = false;
    bool realTimePlotted = false;
    std::vector<TReadingRow> realTimeRows;
    double realTimeNight = 0;
    int previousPage = -1;

    QWidget* tsDB = nullptr;
    TQueryControls local{{"RadioGroup1", "RadioGroup2", "DateStart", "DateEnd", "timeStart", "timeEnd", "btnPrev", "btnNext"}};
    TQueryResults localResults{"PageControl2", "gridQuery", "ChartQuery", "lblStat",
                               {Col::Date, Col::SqmValue, Col::Nelm, Col::SensorTemp, Col::State, Col::Uploaded,
                                Col::Syncro, Col::NightStarts, Col::NightEnds},
                               {kStatisticsCaptions.begin(), kStatisticsCaptions.end()},
                               q};
    bool queryOpen = false;
    QString queryTitle;

    // "Noctila settings"
    QGroupBox* gbCredentials = nullptr;
    QLabel* lblCrdStatus = nullptr;
    QLabel* lblUploading = nullptr;
    QLabel* lblDownloading = nullptr;
    QLabel* lblNumReadings = nullptr;
    QLabel* lblNewReadings = nullptr;
    QLabel* lblModReadings = nullptr;
    TSemaforo* Semaforo2 = nullptr;
    QWidget* pnlProgress = nullptr;
    QProgressBar* pbUpload = nullptr;
    QLabel* lblProgress1 = nullptr;
    QLabel* lblProgress2 = nullptr;

    // "Noctila query"
    QWidget* tsNetQuery = nullptr;
    QWidget* networkTab = nullptr;  // the scroll area around tsNetwork
    TSiteForm::TCodeDialog codeDialog;
    TQueryControls net{{"RadioGroup5", "RadioGroup4", "DateStartNet", "DateEndNet", "timeStartNet", "timeEndNet",
                        "BtnPrevNet", "BtnNextNet"}};
    TQueryResults netResults{"PageControl3", "gridNet", "ChartNet", "lblNetStat",
                             {Col::Date, Col::SqmValue, Col::Nelm, Col::SensorTemp, Col::SunHeight, Col::MoonHeight,
                              Col::MoonPhase, Col::MoonAge, Col::MoonIllum, Col::NightStartsTime, Col::NightEndsTime},
                             {kNetworkStatisticsCaptions.begin(), kNetworkStatisticsCaptions.end()},
                             q};
    std::vector<TNetReading> netTable;
    std::optional<TQuerySelection> netChartSelection;  // of the network rows shown
    TQuerySelection querySelection;  // of the query shown
    TSiteForm::TFileChooser fileChooser;
};

template <typename F>
void TSiteFormPrivate::Guarded(F&& f) {
    try {
        f();
    } catch (const TAbort&) {
    } catch (const std::exception& e) {
        dialogs::Error(QString::fromStdString(e.what()), q);
    }
}

namespace {

QLineEdit* Edit(const char* name, int width = 0) {
    auto* e = new QLineEdit;
    e->setObjectName(QString::fromLatin1(name));
    if (width) e->setMaximumWidth(width);
    return e;
}

QLabel* ValueLabel(const char* name) {
    auto* l = new QLabel;
    l->setObjectName(QString::fromLatin1(name));
    l->setMinimumWidth(90);
    return l;
}

}  // namespace

QWidget* TSiteFormPrivate::BuildSitePage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsSite"));
    auto* form = new QFormLayout;
    auto add = [&](const char* caption, const char* field, QWidget* w, const char* note = nullptr) {
        editors[field] = w;
        if (note) {
            auto* row = new QHBoxLayout;
            row->addWidget(w);
            auto* hint = TrLabel(note);
            hint->setStyleSheet(QStringLiteral("color: #555"));
            row->addWidget(hint);
            row->addStretch();
            form->addRow(TrLabel(caption), row);
        } else {
            form->addRow(TrLabel(caption), w);
        }
    };
    add(N_("Name"), "SIT_NAME", Edit("edName"));
    auto* findMeter = Translatable(new QPushButton, N_("Find..."));
    findMeter->setObjectName(QStringLiteral("btnFindMeter"));
    QObject::connect(findMeter, &QPushButton::clicked, q, [this] { q->btnFindMeterClick(); });
    auto* host = Edit("edHost");
    editors["SIT_SQMHOST"] = host;
    auto* hostRow = new QHBoxLayout;
    hostRow->addWidget(host, 1);
    hostRow->addWidget(findMeter);
    form->addRow(TrLabel(N_("Host or SQM-LE IP Address")), hostRow);
    add(N_("TCP-IP Port"), "SIT_SQMPORT", Edit("edPort", 90));
    add(N_("Latitude"), "SIT_LATIT", Edit("edLatit", 110));
    add(N_("Longitude"), "SIT_LONG", Edit("edLong", 110), N_("(Positive at EAST)"));
    add(N_("Altitude (m)"), "SIT_ALT", Edit("edAlt", 90));
    add(N_("Timezone (difference in hours from Greenwich)"), "SIT_TIMEZONE", Edit("edTimezone", 60),
        N_("Positive at EAST negative at WEST"));
    add(N_("Offset Mag/ArcSec Squared"), "SIT_OFFSET", Edit("edOffset", 90));
    add(N_("Connection timeout (seconds)"), "SIT_TIMEOUT", Edit("edTimeout", 60));
    auto* autostart = Translatable(new QCheckBox, N_("Start automatically at software startup"));
    autostart->setObjectName(QStringLiteral("cbAutostart"));
    editors["SIT_AUTOSTART"] = autostart;
    form->addRow(QString(), autostart);

    auto* info = Translatable(new QGroupBox, N_("SQM-LE Informations"));
    info->setObjectName(QStringLiteral("gbSqmInfo"));
    auto* infoForm = new QFormLayout(info);
    const std::pair<const char*, const char*> infos[] = {{N_("Protocol number"), "SIT_SQMPROT"},
                                                         {N_("SQM Model"), "SIT_SQMMODEL"},
                                                         {N_("Feaure number"), "SIT_SQMFEATURE"},
                                                         {N_("Serial number"), "SIT_SQMSERIAL"}};
    for (const auto& [caption, field] : infos) {
        auto* value = ValueLabel(field);
        value->setFrameShape(QFrame::StyledPanel);
        value->setStyleSheet(QStringLiteral("font-weight: bold"));
        editors[field] = value;
        infoForm->addRow(TrLabel(caption), value);
    }
    btnTestSQM = Translatable(new QPushButton, N_("Check connection"));
    btnTestSQM->setObjectName(QStringLiteral("btnTestSQM"));
    QObject::connect(btnTestSQM, &QPushButton::clicked, q, [this] { q->btnTestSQMClick(); });
    infoForm->addRow(btnTestSQM);

    auto* layout = new QHBoxLayout(page);
    layout->addLayout(form, 3);
    auto* right = new QVBoxLayout;
    right->addWidget(info);
    right->addStretch();
    layout->addLayout(right, 2);
    return page;
}

QWidget* TSiteFormPrivate::BuildReadingsPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsReadings"));

    auto* method = Translatable(new QGroupBox, N_("Acquisition method"));
    method->setObjectName(QStringLiteral("DBRadioGroup1"));
    auto* methodLayout = new QVBoxLayout(method);
    DBRadioGroup1 = new QButtonGroup(method);
    for (int i = 0; i < 4; ++i) {
        auto* r = Translatable(new QRadioButton, TSiteRules::MethodCaption(i));
        r->setObjectName(QStringLiteral("rbMethod%1").arg(i));
        DBRadioGroup1->addButton(r, i);
        methodLayout->addWidget(r);
    }

    auto* intervalRow = new QFormLayout;
    auto* interval = Edit("edInterval", 70);
    editors["SIT_INTERVAL"] = interval;
    intervalRow->addRow(TrLabel(N_("Interval between two readings (minutes)")), interval);

    gbTimedWindow = Translatable(new QGroupBox, N_("Reading time"));
    gbTimedWindow->setObjectName(QStringLiteral("gbTimedWindow"));
    auto* timed = new QFormLayout(gbTimedWindow);
    auto* start = Edit("timeStartEdit", 70);
    auto* stop = Edit("timeStopEdit", 70);
    editors["SIT_STARTTIME"] = start;
    editors["SIT_STOPTIME"] = stop;
    timed->addRow(TrLabel(N_("Start time (TU)")), start);
    timed->addRow(TrLabel(N_("Stop time (TU)")), stop);

    gbReadingTime = Translatable(new QGroupBox, N_("Reading time"));
    gbReadingTime->setObjectName(QStringLiteral("gbReadingTime"));
    auto* window = new QFormLayout(gbReadingTime);
    lblWindowStart = ValueLabel("lblWindowStart");
    lblWindowStop = ValueLabel("lblWindowStop");
    lblWindowStart->setText(QStringLiteral("--:--"));
    lblWindowStop->setText(QStringLiteral("--:--"));
    window->addRow(TrLabel(N_("Start (TU)")), lblWindowStart);
    window->addRow(TrLabel(N_("Stop (TU)")), lblWindowStop);

    gbDaylight = Translatable(new QGroupBox, N_("Daylight readings"));
    gbDaylight->setObjectName(QStringLiteral("gbDaylight"));
    auto* day = new QFormLayout(gbDaylight);
    auto* dayReading = Translatable(new QCheckBox, N_("Do readings during daylight"));
    dayReading->setObjectName(QStringLiteral("cbDayReading"));
    editors["SIT_DAYREADING"] = dayReading;
    auto* dayInterval = Edit("edDayInterval", 70);
    editors["SIT_DAYINTERVAL"] = dayInterval;
    day->addRow(dayReading);
    day->addRow(TrLabel(N_("Interval (minutes)")), dayInterval);

    auto* left = new QVBoxLayout;
    left->addWidget(method);
    left->addLayout(intervalRow);
    left->addWidget(gbTimedWindow);
    left->addWidget(gbReadingTime);
    left->addWidget(gbDaylight);
    left->addStretch();

    btnStartReading = Translatable(new QPushButton, N_("Start SQM Readings"));
    btnStartReading->setObjectName(QStringLiteral("btnStartReading"));
    btnStartReading->setMinimumHeight(34);
    QObject::connect(btnStartReading, &QPushButton::clicked, q, [this] { q->btnStartReadingClick(); });
    btnReadNow = Translatable(new QPushButton, N_("Read now"));
    btnReadNow->setObjectName(QStringLiteral("btnReadNow"));
    QObject::connect(btnReadNow, &QPushButton::clicked, q, [this] { q->btnReadNowClick(); });
    Semaforo1 = new TSemaforo;
    Semaforo1->setObjectName(QStringLiteral("Semaforo1"));
    light.light = Semaforo1;

    auto* latest = Translatable(new QGroupBox, N_("Latest reading"));
    latest->setObjectName(QStringLiteral("gbLatestReading"));
    auto* latestForm = new QFormLayout(latest);
    lblUtcTime = ValueLabel("lblUtcTime");
    lblReading = ValueLabel("lblReading");
    lblNelm = ValueLabel("lblNelm");
    lblTemperature = ValueLabel("lblTemperature");
    lblShutter = ValueLabel("lblShutter");
    QFont big = lblReading->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    for (QLabel* l : {lblReading, lblNelm, lblTemperature, lblShutter}) l->setFont(big);
    QFont time = lblUtcTime->font();
    time.setPointSizeF(time.pointSizeF() * 1.1);
    time.setBold(true);
    lblUtcTime->setFont(time);
    lblUtcTime->setMinimumWidth(QFontMetrics(time).horizontalAdvance(QStringLiteral("00/00/0000 00.00.00")) + 4);
    latestForm->addRow(TrLabel(N_("UTC time")), lblUtcTime);
    latestForm->addRow(TrLabel(N_("Reading (Mag/ArcSec squared)")), lblReading);
    latestForm->addRow(TrLabel(N_("Reading (NELM)")), lblNelm);
    latestForm->addRow(TrLabel(N_("Sensor temperature (°C)")), lblTemperature);
    latestForm->addRow(TrLabel(N_("Shutter Speed (seconds)")), lblShutter);

    auto* controls = new QHBoxLayout;
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(btnStartReading);
    buttons->addWidget(btnReadNow);
    controls->addLayout(buttons, 1);
    controls->addWidget(Semaforo1, 0, Qt::AlignTop);
    auto* right = new QVBoxLayout;
    right->addLayout(controls);
    right->addWidget(latest);
    lblLastFailure = new QLabel;
    lblLastFailure->setObjectName(QStringLiteral("lblLastFailure"));
    lblLastFailure->setWordWrap(true);
    lblLastFailure->setTextFormat(Qt::PlainText);
    lblLastFailure->setStyleSheet(QStringLiteral("color: #a01010"));
    lblLastFailure->hide();
    right->addWidget(lblLastFailure);
    right->addStretch();

    auto* top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addLayout(right, 1);

    auto* recent = Translatable(new QGroupBox, N_("Latest recorded readings"));
    recent->setObjectName(QStringLiteral("gbLatestReadings"));
    auto* recentLayout = new QVBoxLayout(recent);
    auto* countRow = new QHBoxLayout;
    edNumLatest = new QSpinBox;
    edNumLatest->setObjectName(QStringLiteral("edNumLatest"));
    edNumLatest->setRange(0, kLatestCountMax);
    edNumLatest->setValue(10);
    // Typed digits count once the entry is done, the arrows at once.
    edNumLatest->setKeyboardTracking(false);
    countRow->addWidget(Translatable(new QLabel, N_("Show latest readings")));
    countRow->addWidget(edNumLatest);
    countRow->addStretch();
    recentLayout->addLayout(countRow);
    latestModel = new TReadingTableModel({Col::Date, Col::SqmValue, Col::Nelm, Col::SensorTemp, Col::Uploaded, Col::State}, q);
    gridLatest = MakeReadingGrid("gridLatest", latestModel);
    gridLatest->setMinimumHeight(160);
    recentLayout->addWidget(gridLatest);
    QObject::connect(edNumLatest, &QSpinBox::valueChanged, q, [this](int) { q->UpDown1Click(); });

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addWidget(recent, 1);
    return page;
}

QWidget* TSiteFormPrivate::BuildGraphPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsGrafico"));
    auto* show = Translatable(new QGroupBox, N_("Show"));
    show->setObjectName(QStringLiteral("RadioGroup3"));
    auto* showLayout = new QVBoxLayout(show);
    RadioGroup3 = new QButtonGroup(show);
    const char* choices[] = {N_("Current night"), N_("Recent recorded readings")};
    for (int i = 0; i < 2; ++i) {
        auto* r = Translatable(new QRadioButton, choices[i]);
        r->setObjectName(QStringLiteral("rbShow%1").arg(i));
        RadioGroup3->addButton(r, i);
        showLayout->addWidget(r);
    }
    RadioGroup3->button(1)->setChecked(true);
    QObject::connect(RadioGroup3, &QButtonGroup::idClicked, q, [this](int) { q->RadioGroup3Click(); });

    auto* latest = Translatable(new QGroupBox, N_("Latest reading"));
    latest->setObjectName(QStringLiteral("gbGraphLatest"));
    auto* latestForm = new QFormLayout(latest);
    lblGraphTime = ValueLabel("lblGraphTime");
    lblGraphValue = ValueLabel("lblGraphValue");
    QFont bold = lblGraphValue->font();
    bold.setBold(true);
    lblGraphTime->setFont(bold);
    lblGraphTime->setMinimumWidth(QFontMetrics(bold).horizontalAdvance(QStringLiteral("00/00/0000 00.00.00")) + 4);
    bold.setPointSizeF(bold.pointSizeF() * 1.4);
    lblGraphValue->setFont(bold);
    latestForm->addRow(TrLabel(N_("UTC time")), lblGraphTime);
    latestForm->addRow(TrLabel(N_("Reading (Mag/ArcSec squared)")), lblGraphValue);

    auto* save = Translatable(new QPushButton, N_("Save graph"));
    save->setObjectName(QStringLiteral("btnSaveRealTimeChart"));
    QObject::connect(save, &QPushButton::clicked, q, [this] { q->btnSaveQueryChartClick(1); });

    auto* top = new QHBoxLayout;
    top->addWidget(show);
    top->addWidget(latest);
    top->addStretch();
    top->addWidget(save, 0, Qt::AlignBottom);
    ChartRealTime = MakeReadingChart("ChartRealTime", T("SQM Readings graph"));
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addWidget(ChartRealTime, 1);
    return page;
}

QWidget* TSiteFormPrivate::BuildQueryPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsDB"));
    QObject::connect(local.Kind(), &QButtonGroup::idClicked, q, [this](int) { q->SetQueryButtons(); });
    QObject::connect(local.Order(), &QButtonGroup::idClicked, q, [this](int) { q->RunLocalQuery(); });
    QObject::connect(local.Prev(), &QPushButton::clicked, q, [this] { q->btnPrevClick(); });
    QObject::connect(local.Next(), &QPushButton::clicked, q, [this] { q->btnNextClick(); });
    auto button = [this](const char* caption, const char* name, auto handler) {
        QPushButton* b = MakeButton(caption, name);
        QObject::connect(b, &QPushButton::clicked, q, handler);
        return b;
    };
    auto* buttons = new QGridLayout;
    buttons->addWidget(button(N_("Run query"), "btnRunQuery", [this] { q->RunLocalQuery(); }), 0, 0, 1, 2);
    buttons->addWidget(local.Prev(), 1, 0);
    buttons->addWidget(local.Next(), 1, 1);
    buttons->addWidget(button(N_("Export in a text file"), "BitBtn5", [this] { q->BitBtn5Click(); }), 0, 2);
    buttons->addWidget(button(N_("Save graph"), "btnSaveQueryChart", [this] { q->btnSaveQueryChartClick(0); }), 1, 2);
    buttons->addWidget(button(N_("Delete selected reading"), "btnDeleteRow", [this] { q->btnDeleteRowClick(); }), 0, 3);
    buttons->addWidget(button(N_("Delete all queried readings"), "btnDeleteAll", [this] { q->btnDeleteAllClick(); }), 1, 3);
    buttons->setRowStretch(2, 1);
    local.Row()->addLayout(buttons, 1);
    localResults.Grid->setColumnHidden(localResults.Model->ColumnOf(Col::State), true);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(local.Row());
    layout->addWidget(localResults.Tabs, 1);
    return page;
}

QWidget* TSiteFormPrivate::BuildNetworkPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsNetwork"));
    auto* form = new QFormLayout;
    auto* code = Edit("edCode", 110);
    code->setEnabled(false);
    editors["SIT_CODE"] = code;
    form->addRow(TrLabel(N_("Code")), code);
    auto* autoUpload = Translatable(new QCheckBox, N_("Enable automatic uploading for this site"));
    autoUpload->setObjectName(QStringLiteral("cbAutoUpload"));
    editors["SIT_AUTOUPLOAD"] = autoUpload;
    form->addRow(autoUpload);
    auto* note = Translatable(new QLabel, N_("(also check the global setting in the software general settings)"));
    note->setStyleSheet(QStringLiteral("color: #555"));
    form->addRow(note);

    auto button = [this](const char* caption, const char* name, auto handler) {
        QPushButton* b = MakeButton(caption, name);
        QObject::connect(b, &QPushButton::clicked, q, handler);
        return b;
    };
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(button(N_("Set credentials"), "BitBtn2", [this] { q->BitBtn2Click(); }));
    buttons->addWidget(button(N_("Check connection"), "BitBtn3", [this] { q->BitBtn3Click(); }));
    buttons->addWidget(button(N_("Send waiting records"), "BitBtn6", [this] { q->BitBtn6Click(); }));
    buttons->addStretch();

    gbCredentials = Translatable(new QGroupBox, N_("Credentials file situation"));
    gbCredentials->setObjectName(QStringLiteral("gbCredentials"));
    auto* situation = new QFormLayout;
    lblCrdStatus = ValueLabel("lblCrdStatus");
    lblCrdStatus->setStyleSheet(QStringLiteral("font-weight: bold"));
    lblUploading = ValueLabel("lblUploading");
    lblDownloading = ValueLabel("lblDownloading");
    lblNumReadings = ValueLabel("lblNumReadings");
    lblNewReadings = ValueLabel("lblNewReadings");
    lblModReadings = ValueLabel("lblModReadings");
    situation->addRow(TrLabel(N_("Status")), lblCrdStatus);
    situation->addRow(TrLabel(N_("Readings uploading")), lblUploading);
    situation->addRow(TrLabel(N_("Readings downloading")), lblDownloading);
    situation->addRow(TrLabel(N_("Site number of readings")), lblNumReadings);
    situation->addRow(TrLabel(N_("New readings to upload")), lblNewReadings);
    situation->addRow(TrLabel(N_("Modified readings to update")), lblModReadings);
    Semaforo2 = new TSemaforo;
    Semaforo2->setObjectName(QStringLiteral("Semaforo2"));
    auto* groupLayout = new QHBoxLayout(gbCredentials);
    groupLayout->addLayout(situation, 1);
    groupLayout->addWidget(Semaforo2, 0, Qt::AlignTop);

    pnlProgress = new QWidget;
    pnlProgress->setObjectName(QStringLiteral("pnlProgress"));
    auto* progress = new QVBoxLayout(pnlProgress);
    pbUpload = new QProgressBar;
    pbUpload->setObjectName(QStringLiteral("pbUpload"));
    lblProgress1 = new QLabel;
    lblProgress1->setObjectName(QStringLiteral("lblProgress1"));
    lblProgress2 = new QLabel;
    lblProgress2->setObjectName(QStringLiteral("lblProgress2"));
    progress->addWidget(pbUpload);
    progress->addWidget(lblProgress1);
    progress->addWidget(lblProgress2);
    pnlProgress->hide();

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(gbCredentials);
    layout->addWidget(pnlProgress);
    layout->addStretch();
    return page;
}

QWidget* TSiteFormPrivate::BuildNetQueryPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsNetQuery"));
    QObject::connect(net.Kind(), &QButtonGroup::idClicked, q, [this](int) { q->RadioGroup5Click(); });
    QObject::connect(net.Prev(), &QPushButton::clicked, q, [this] { q->BtnPrevNetClick(); });
    QObject::connect(net.Next(), &QPushButton::clicked, q, [this] { q->BtnNextNetClick(); });
    auto button = [this](const char* caption, const char* name, auto handler) {
        QPushButton* b = MakeButton(caption, name);
        QObject::connect(b, &QPushButton::clicked, q, handler);
        return b;
    };
    auto* buttons = new QGridLayout;
    buttons->addWidget(button(N_("Run query"), "BitBtn7", [this] { q->BitBtn7Click(); }), 0, 0, 1, 2);
    buttons->addWidget(net.Prev(), 1, 0);
    buttons->addWidget(net.Next(), 1, 1);
    buttons->addWidget(button(N_("Save in local DB"), "BitBtn9", [this] { q->BitBtn9Click(); }), 0, 2);
    buttons->addWidget(button(N_("Save graph"), "btnSaveNetChart", [this] { q->btnSaveQueryChartClick(2); }), 1, 2);
    buttons->setRowStretch(2, 1);
    net.Row()->addLayout(buttons, 1);
    for (Col c : {Col::SunHeight, Col::MoonHeight, Col::MoonPhase, Col::MoonAge})
        netResults.Grid->setColumnHidden(netResults.Model->ColumnOf(c), true);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(net.Row());
    layout->addWidget(netResults.Tabs, 1);
    return page;
}

void TSiteFormPrivate::Build() {
    PageControl1 = new QTabWidget;
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    tsSite = BuildSitePage();
    tsReadings = BuildReadingsPage();
    tsNetwork = BuildNetworkPage();
    // Tiled windows get narrow: a page then scrolls rather than clipping its labels.
    auto scrolled = [](QWidget* page) {
        auto* area = new QScrollArea;
        area->setObjectName(page->objectName() + QStringLiteral("Scroll"));
        area->setWidgetResizable(true);
        area->setFrameShape(QFrame::NoFrame);
        area->setWidget(page);
        return area;
    };
    AddTrTab(PageControl1, scrolled(tsSite), N_("Site informations"));
    AddTrTab(PageControl1, scrolled(tsReadings), N_("SQM Readings"));
    tsGrafico = BuildGraphPage();
    AddTrTab(PageControl1, tsGrafico, N_("Real time graph"));
    tsDB = BuildQueryPage();
    AddTrTab(PageControl1, tsDB, N_("Database query"));
    networkTab = scrolled(tsNetwork);
    AddTrTab(PageControl1, networkTab, N_("Noctila settings"));
    tsNetQuery = BuildNetQueryPage();
    AddTrTab(PageControl1, tsNetQuery, N_("Noctila query"));
    PageControl1->setTabVisible(PageControl1->indexOf(tsNetQuery), false);
    QObject::connect(PageControl1, &QTabWidget::currentChanged, q, [this](int index) { PageChanged(index); });
    frame = new TButtonFrame;
    frame->setObjectName(QStringLiteral("ButtonFrame1"));
    auto* layout = new QVBoxLayout(q);
    layout->addWidget(PageControl1);
    layout->addWidget(frame);
    QObject::connect(frame, &TButtonFrame::okClicked, q, [this] { q->close(); });
    QObject::connect(frame, &TButtonFrame::cancelClicked, q, [this] { q->close(); });
}

void TSiteFormPrivate::Bind() {
    using K = TFieldBinder::Kind;
    auto edit = [this](const char* field) { return static_cast<QLineEdit*>(editors.at(field)); };
    auto box = [this](const char* field) { return static_cast<QCheckBox*>(editors.at(field)); };
    auto label = [this](const char* field) { return static_cast<QLabel*>(editors.at(field)); };
    binder.BindLineEdit(edit("SIT_NAME"), "SIT_NAME", K::Text, {.MaxLength = 255});
    binder.BindLineEdit(edit("SIT_SQMHOST"), "SIT_SQMHOST", K::Text, {.MaxLength = 100});
    binder.BindLineEdit(edit("SIT_SQMPORT"), "SIT_SQMPORT", K::Integer);
    binder.BindLineEdit(edit("SIT_LATIT"), "SIT_LATIT", K::Double, {.Decimals = 6});
    binder.BindLineEdit(edit("SIT_LONG"), "SIT_LONG", K::Double, {.Decimals = 6});
    binder.BindLineEdit(edit("SIT_ALT"), "SIT_ALT", K::Integer);
    binder.BindLineEdit(edit("SIT_TIMEZONE"), "SIT_TIMEZONE", K::Integer);
    binder.BindLineEdit(edit("SIT_OFFSET"), "SIT_OFFSET", K::Double, {.Decimals = 2});
    binder.BindLineEdit(edit("SIT_TIMEOUT"), "SIT_TIMEOUT", K::Integer);
    binder.BindCheckBox(box("SIT_AUTOSTART"), "SIT_AUTOSTART");
    for (const char* f : {"SIT_SQMPROT", "SIT_SQMMODEL", "SIT_SQMFEATURE", "SIT_SQMSERIAL"})
        binder.BindLabel(label(f), f, K::Integer);
    binder.BindRadioGroup(DBRadioGroup1, "SIT_ACQUIREMODE");
    binder.BindLineEdit(edit("SIT_INTERVAL"), "SIT_INTERVAL", K::Integer);
    binder.BindLineEdit(edit("SIT_STARTTIME"), "SIT_STARTTIME", K::TimeOfDay);
    binder.BindLineEdit(edit("SIT_STOPTIME"), "SIT_STOPTIME", K::TimeOfDay);
    binder.BindCheckBox(box("SIT_DAYREADING"), "SIT_DAYREADING");
    binder.BindLineEdit(edit("SIT_DAYINTERVAL"), "SIT_DAYINTERVAL", K::Integer);
    binder.BindLineEdit(edit("SIT_CODE"), "SIT_CODE", K::Text, {.ReadOnly = true});
    binder.BindCheckBox(box("SIT_AUTOUPLOAD"), "SIT_AUTOUPLOAD");
}

void TSiteFormPrivate::ShowMethodGroups() {
    const int method = tbSite.Active() && !tbSite.Eof() ? static_cast<int>(tbSite.AsInteger("SIT_ACQUIREMODE")) : 0;
    const TSiteRules::TMethodGroups g = TSiteRules::GroupsFor(method);
    gbReadingTime->setVisible(g.ReadingTimeLabels);
    gbTimedWindow->setVisible(g.TimedWindow);
    gbDaylight->setVisible(g.Daylight);
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
    q->RefreshLatestReadings();
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
    ini.beginGroup(QStringLiteral("Controls"));
    const QSignalBlocker block(edNumLatest);
    bool ok = false;
    const int typed = ini.value(QStringLiteral("edNumLatest.Text")).toString().toInt(&ok);
    edNumLatest->setValue(ok ? typed : ini.value(QStringLiteral("UpDown1.Position"), 10).toInt());
    if (QAbstractButton* b = RadioGroup3->button(ini.value(QStringLiteral("RadioGroup3.ItemIndex"), 1).toInt()))
        b->setChecked(true);
    local.Restore(ini);
    net.Restore(ini);
    ini.endGroup();
    ini.beginGroup(QStringLiteral("Grids"));
    gridLatest->horizontalHeader()->restoreState(ini.value(QStringLiteral("gridLatest")).toByteArray());
    localResults.Grid->horizontalHeader()->restoreState(ini.value(QStringLiteral("gridQuery")).toByteArray());
    netResults.Grid->horizontalHeader()->restoreState(ini.value(QStringLiteral("gridNet")).toByteArray());
    // "State" stays out of sight whatever the file says.
    localResults.Grid->setColumnHidden(localResults.Model->ColumnOf(Col::State), true);
    for (Col c : {Col::SunHeight, Col::MoonHeight, Col::MoonPhase, Col::MoonAge})
        netResults.Grid->setColumnHidden(netResults.Model->ColumnOf(c), true);
    ini.endGroup();
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
    ini.beginGroup(QStringLiteral("Controls"));
    ini.setValue(QStringLiteral("edNumLatest.Text"), edNumLatest->text());
    ini.setValue(QStringLiteral("UpDown1.Position"), edNumLatest->value());
    local.Save(ini);
    net.Save(ini);
    ini.setValue(QStringLiteral("RadioGroup3.ItemIndex"), RadioGroup3->checkedId());
    ini.endGroup();
    ini.beginGroup(QStringLiteral("Grids"));
    ini.setValue(QStringLiteral("gridLatest"), gridLatest->horizontalHeader()->saveState());
    ini.setValue(QStringLiteral("gridQuery"), localResults.Grid->horizontalHeader()->saveState());
    ini.setValue(QStringLiteral("gridNet"), netResults.Grid->horizontalHeader()->saveState());
    ini.endGroup();
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
    ChainEvent(ds.OnStateChange, alive, [this] { d->ShowMethodGroups(); });
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
    connect(d->DBRadioGroup1, &QButtonGroup::idClicked, this, [this](int) { DBRadioGroup1Click(); });
    d->ReadSettings();

    d->trReadings.Start();
    d->Guarded([this] { RefreshLatestReadings(); });
    d->Guarded([this] { ShowReadingCounts(); });
    d->ShowNetQueryPage();
    d->light.Show(TSiteState::Stopped);
    d->ShowMethodGroups();
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

void TSiteForm::Timer1Timer() {
    d->acq.Tick();
    if (d->closeAfterWork && !Busy()) QTimer::singleShot(0, this, [this] { close(); });
}

void TSiteForm::TimerAutostartTimer() {
    d->TimerAutostart.stop();
    btnStartReadingClick();
}

void TSiteForm::btnStartReadingClick() {
    d->Guarded([this] { d->acq.StartOrStop(); });
    if (d->closeAfterWork && !Busy()) QTimer::singleShot(0, this, [this] { close(); });
}

void TSiteForm::btnReadNowClick() {
    d->Guarded([this] { d->acq.ReadNow(); });
    if (d->closeAfterWork && !Busy()) QTimer::singleShot(0, this, [this] { close(); });
}

void TSiteForm::btnTestSQMClick() {
    d->Guarded([this] {
        const TSQM* station =
            TSiteEdit::FindMeter(d->acq.Station(), [this]() -> TSQM& { return d->acq.CreateStationForTest(); });
        if (!station) {
            d->prompt.Error(Tr("SQM-LE not found"));
            return;
        }
        // Copied first: the save discards the station. The identity goes in
        // through the bound record, so that the user's pending changes and the
        // checks of a save go with it.
        const auto identity = TSiteEdit::MeterIdentity(*station);
        TDataSet& ds = d->tbSite;
        ds.Edit();  // refused while acquiring
        for (const auto& [field, value] : identity) ds.SetField(field, value);
        if (!d->frame->Save()) return;
        d->prompt.Inform(Tr("SQM-LE correctly found"));
    });
}

void TSiteForm::btnFindMeterClick() {
    d->Guarded([this] {
        if (Acquiring()) d->tbSite.Edit();  // refused, with its box, before any search
        TMeterFindDialog dialog(d->finderOptions, this);
        if (dialog.exec() != QDialog::Accepted) return;
        // Through the bound record, as if typed: saved or cancelled with the other edits.
        d->tbSite.SetField("SIT_SQMHOST", dialog.Host().toStdString());
        d->tbSite.SetField("SIT_SQMPORT", int64_t{dialog.Port()});
    });
}

void TSiteForm::SetFinderOptions(const TFinderOptions& options) { d->finderOptions = options; }

void TSiteForm::DBRadioGroup1Click() {
    d->ShowMethodGroups();
    d->Guarded([this] {
        const TSiteRow site = d->source.Site();
        const TSiteRules::TMethodGroups g = TSiteRules::GroupsFor(site.AcquireMode);
        if (g.ReadingTimeLabels && TSiteRules::CoordinatesMissing(site))
            d->prompt.Inform(Tr("Warning, latitude / longitude, were not specified: it is impossible to correctly calculate twilights"));
    });
}

void TSiteForm::ShowLatestReading() {
    const TSQM* s = d->acq.Station();
    // A station object that has not read yet holds no reading.
    const bool have = s && s->DateTime != 0;
    const QLocale locale;
    auto number = [&](double v, int decimals) { return have ? locale.toString(v, 'f', decimals) : QString(); };
    d->lblReading->setText(number(have ? s->SQMValue + s->Offset : 0, 2));
    d->lblUtcTime->setText(have ? QString::fromStdString(FormatLogTime(s->DateTime)) : QString());
    d->lblTemperature->setText(number(have ? s->Temperature : 0, 1));
    d->lblShutter->setText(number(have ? s->Period : 0, 3));
    d->lblNelm->setText(number(have ? s->NELM : 0, 2));
    d->lblGraphValue->setText(d->lblReading->text());
    d->lblGraphTime->setText(d->lblUtcTime->text());
    d->lblLastFailure->setVisible(!d->lastFailure.empty());
    if (!d->lastFailure.empty())
        d->lblLastFailure->setText(T("Last failed reading") + QStringLiteral(", ") + d->lastFailureTime +
                                   QStringLiteral(": ") + QString::fromStdString(d->lastFailure));
}

void TSiteForm::RefreshLatestReadings() {
    d->latestModel->Clear();
    const int count = d->edNumLatest->value();
    if (count > 0) d->latestModel->SetRows(ReadLatestReadings(d->trReadings, d->RecordSiteId(), count));
    if (d->PageControl1->currentWidget() == d->tsGrafico) {
        if (d->realTimeOpen) d->ReopenCurrentNight();
        d->PlotRealTime();
    }
}

void TSiteForm::UpDown1Click() {
    d->Guarded([this] { RefreshLatestReadings(); });
}

void TSiteFormPrivate::PageChanged(int index) {
    QWidget* page = PageControl1->widget(index);
    if (previousPage >= 0 && PageControl1->widget(previousPage) == tsGrafico && page != tsGrafico) q->TSGraficoHide();
    if (previousPage >= 0 && PageControl1->widget(previousPage) == tsNetQuery && page != tsNetQuery) q->TabSheet3Hide();
    previousPage = index;
    if (page == tsGrafico) q->RadioGroup3Click();
    if (page == tsDB) q->TSDBShow();
    if (page == networkTab) q->TabSheet2Show();
    if (page == tsNetQuery) q->TabSheet3Show();
}

void TSiteFormPrivate::ReopenCurrentNight() {
    double reference = 0;
    const TSQM* station = acq.Station();
    // A station that has not read yet (a connection test made it) has no time to offer.
    if (station && station->DateTime != 0) {
        reference = station->DateTime;
    } else {
        acq.SyncInternetTime(true);
        reference = acq.NowUtc();
    }
    const double night = NightDateOf(reference);
    realTimeOpen = false;
    realTimeRows = ReadNightReadings(trReadings, RecordSiteId(), night);
    realTimeNight = night;
    realTimeOpen = true;
    ChartRealTime->chart()->setTitle(QString::fromStdString(RealTimeNightTitle(night, UserFormatSettings())));
}

void TSiteFormPrivate::PlotRealTime() {
    realTimePlotted = true;
    if (RadioGroup3->checkedId() == 0)
        PlotReadings(ChartRealTime, realTimeRows, false, ChartRealTime->chart()->title(), NightWindow(realTimeNight));
    else
        PlotReadings(ChartRealTime, latestModel->Rows(), false, QString::fromStdString(RecentReadingsTitle()));
}

void TSiteForm::RadioGroup3Click() {
    d->Guarded([this] {
        if (d->RadioGroup3->checkedId() == 0) d->ReopenCurrentNight();
        d->PlotRealTime();
    });
}

void TSiteForm::TSGraficoHide() {
    d->realTimeOpen = false;
    d->realTimeRows.clear();
}

void TSiteForm::TSDBShow() {
    if (!d->queryOpen) d->localResults.ClearStatistics();
    d->local.ChooseDefaults(TSortOrder::Descending);
    SetQueryButtons();
}

void TSiteForm::SetQueryButtons() { d->local.ShowKind(); }

int TSiteFormPrivate::RecordSiteId() {
    if (tbSite.Active() && !tbSite.Eof()) {
        const fb::Value v = tbSite.FieldValue("SIT_ID");
        if (const auto* i = std::get_if<int64_t>(&v)) return static_cast<int>(*i);
    }
    return siteId;
}

void TSiteFormPrivate::ReplotQuery() {
    std::optional<TQueryWindow> span;
    if (querySelection.Kind == TSelectionKind::OneNight) span = QueryWindowOf(querySelection);
    PlotReadings(localResults.Chart, localResults.Model->Rows(), true, queryTitle, span);
}

void TSiteForm::RunLocalQuery() {
    d->Guarded([this] {
        const TQuerySelection s = d->local.Selection();
        const TFormatSettings fs = UserFormatSettings();
        const TQueryWindow w = QueryWindowOf(s);
        d->queryTitle = QString::fromStdString(QueryChartTitle(s, fs));
        d->querySelection = s;
        d->queryOpen = false;
        d->localResults.Model->Clear();
        TBusyProgress busy(this, T("Reading the selected readings..."));
        TQueryResult result =
            RunQueryWithStatistics(d->trReadings, d->RecordSiteId(), w, s.Order, [&](size_t n) { busy.Step(n); });
        d->localResults.Model->SetRows(std::move(result.Rows));
        d->queryOpen = true;
        d->ReplotQuery();
        const auto texts = StatisticsTexts(result.Statistics, fs);
        d->localResults.ShowStatistics({texts.begin(), texts.end()});
    });
}

void TSiteForm::btnPrevClick() {
    d->local.StepDay(-1);
    RunLocalQuery();
}

void TSiteForm::btnNextClick() {
    d->local.StepDay(1);
    RunLocalQuery();
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

void TSiteForm::SetFileChooser(TFileChooser chooser) { d->fileChooser = std::move(chooser); }

void TSiteForm::BitBtn5Click() {
    d->Guarded([this] {
        const std::string refusal = ExportRefusal(d->queryOpen, d->localResults.Model->Rows().size());
        if (!refusal.empty()) {
            d->prompt.Error(refusal);
            return;
        }
        const QString file = d->ChooseFile(T("File di testo") + QStringLiteral(" (*.txt);;") + T("File CSV") +
                                               QStringLiteral(" (*.csv)"),
                                           QStringLiteral("txt"));
        if (file.isEmpty()) return;
        TBusyProgress busy(this, T("Exporting..."));
        ExportReadings(file.toStdString(), d->localResults.Model->Rows(), UserFormatSettings());
    });
}

void TSiteForm::btnDeleteRowClick() {
    d->Guarded([this] {
        if (!d->queryOpen) throw std::runtime_error(Tr("Cannot perform this operation on a closed dataset"));
        const auto& rows = d->localResults.Model->Rows();
        if (rows.empty()) throw std::runtime_error(Tr("Cannot perform this operation on an empty dataset"));
        const int current = d->localResults.Grid->currentIndex().isValid() ? d->localResults.Grid->currentIndex().row() : 0;
        const std::string code = rows.at(static_cast<size_t>(current)).Code;
        if (!d->prompt.Confirm(DeleteOneQuestion())) return;
        DeleteReading(d->trReadings, code);
        d->localResults.Model->RemoveCodes({code});
        d->ReplotQuery();
        if (d->localResults.Model->rowCount() > 0)
            d->localResults.Grid->setCurrentIndex(d->localResults.Model->index(std::min(current, d->localResults.Model->rowCount() - 1), 0));
    });
}

void TSiteForm::btnDeleteAllClick() {
    d->Guarded([this] {
        if (!d->queryOpen) throw std::runtime_error(Tr("Cannot perform this operation on a closed dataset"));
        const auto& rows = d->localResults.Model->Rows();
        if (!d->prompt.Confirm(DeleteAllQuestion(rows.size()))) return;
        std::vector<std::string> codes;
        codes.reserve(rows.size());
        for (const auto& r : rows) codes.push_back(r.Code);
        {
            TBusyProgress busy(this, T("Deleting the readings..."));
            DeleteReadings(d->trReadings, codes, [&](size_t n) { busy.Step(n, codes.size()); });
        }
        d->localResults.Model->RemoveCodes({codes.begin(), codes.end()});
        d->ReplotQuery();
    });
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
    PageControl1->setTabVisible(PageControl1->indexOf(tsNetQuery), download);
}

void TSiteForm::TabSheet2Show() {
    const std::string code = d->SiteCode();
    if (code.empty()) {
        d->gbCredentials->hide();
        return;
    }
    std::string error;
    const int rights = CheckCredentialsFile(code, error);
    d->lblUploading->setText(QStringLiteral("---"));
    d->lblDownloading->setText(QStringLiteral("---"));
    if (rights == kCredentialsMissing) {
        SetTrText(d->lblCrdStatus, N_("File missing"));
        d->Semaforo2->ShowRed();
    } else if (rights == kCredentialsInvalid) {
        d->lblCrdStatus->setText(QString::fromStdString(error));
        d->Semaforo2->ShowYellow();
    } else {
        SetTrText(d->lblCrdStatus, N_("Regular"));
        SetTrText(d->lblUploading, rights & kCredentialsUpload ? N_("Enabled") : N_("Disabled"));
        SetTrText(d->lblDownloading, rights & kCredentialsDownload ? N_("Enabled") : N_("Disabled"));
        d->Semaforo2->ShowGreen();
    }
    ShowReadingCounts();
    d->gbCredentials->show();
}

void TSiteForm::ShowReadingCounts() {
    const TReadingCounts c = ReadReadingCounts(d->trReadings, d->RecordSiteId());
    d->lblNumReadings->setText(QString::number(c.Total));
    d->lblNewReadings->setText(QString::number(c.New));
    d->lblModReadings->setText(QString::number(c.Modified));
}

void TSiteForm::SetCodeDialog(TCodeDialog dialog) { d->codeDialog = std::move(dialog); }

void TSiteForm::BitBtn2Click() {
    d->Guarded([this] {
        const std::string current = d->SiteCode();
        std::optional<std::string> code;
        if (d->codeDialog) {
            code = d->codeDialog(current);
        } else {
            TSetSiteCodeForm dialog(this);
            dialog.SetSiteCode(QString::fromStdString(current));
            if (dialog.exec() == QDialog::Accepted) code = dialog.SiteCode().toStdString();
        }
        if (!code) {
            d->prompt.Inform(Tr("Credentials file activation canceled"));
            return;
        }
        d->prompt.Inform(Tr("Credentials file activated"));
        TDataSet& ds = d->tbSite;
        ds.Edit();  // refused while acquiring
        ds.SetField("SIT_CODE", Trim(*code));
        if (!d->frame->Save()) return;
        TabSheet2Show();
        d->ShowNetQueryPage();
    });
}

void TSiteForm::BitBtn3Click() {
    d->Guarded([this] {
        TabSheet2Show();
        const TConnectionCheck check = CheckNetworkConnection(d->SiteCode());
        if (check.Ok)
            d->prompt.Inform(check.Message);
        else
            d->prompt.Error(check.Message);
    });
}

// The upload's panel on the page: the bar and its two lines.
class TPanelProgress : public IUploadProgress {
public:
    explicit TPanelProgress(TSiteFormPrivate& d) : d_(d) {}
    void Begin(int total) override {
        d_.pbUpload->setRange(0, std::max(total, 1));
        d_.pbUpload->setValue(0);
        d_.lblProgress1->setText(QString::fromStdString(UploadProgressStartText(total)));
        d_.lblProgress2->clear();
        d_.pnlProgress->show();
    }
    void Step(int done, int total, int sent) override {
        d_.pbUpload->setValue(done);
        d_.lblProgress1->setText(QString::fromStdString(UploadProgressDoneText(done, total)));
        d_.lblProgress2->setText(QString::fromStdString(UploadProgressSentText(sent)));
    }
    void End() override {
        d_.pbUpload->setValue(0);
        d_.pnlProgress->hide();
    }

private:
    TSiteFormPrivate& d_;
};

void TSiteForm::BitBtn6Click() {
    d->Guarded([this] {
        TPanelProgress progress(*d);
        SendWaitingRecords(d->data.dbKALO, d->RecordSiteId(), d->SiteCode(), d->acq.Running(), d->prompt, d->wait,
                           &progress, [this](int) {
                               RefreshLatestReadings();
                               ShowReadingCounts();
                           });
    });
}

void TSiteForm::TabSheet3Show() {
    const bool noKind = d->net.Kind()->checkedId() < 0;
    d->net.ChooseDefaults(TSortOrder::Ascending);  // each only where none is chosen
    if (noKind) d->net.ShowKind();
    d->netResults.ClearStatistics();
}

void TSiteForm::TabSheet3Hide() {
    d->netResults.ClearStatistics();
    d->netTable.clear();
    d->netResults.Model->Clear();
}

void TSiteForm::RadioGroup5Click() { d->net.ShowKind(); }

void TSiteForm::BtnPrevNetClick() { d->net.StepDay(-1); }

void TSiteForm::BtnNextNetClick() { d->net.StepDay(1); }

void TSiteForm::BitBtn7Click() {
    d->Guarded([this] {
        const TQuerySelection s = d->net.Selection();
        const TQueryWindow w = QueryWindowOf(s);
        const QString title = QString::fromStdString(QueryChartTitle(s, UserFormatSettings()));
        auto show = [&] {
            d->netChartSelection = s;
            std::vector<TReadingRow> rows;
            rows.reserve(d->netTable.size());
            for (const TNetReading& n : d->netTable) rows.push_back(AsReadingRow(n));
            d->netResults.Model->SetRows(std::move(rows));
            PlotReadings(d->netResults.Chart, d->netResults.Model->Rows(), false, title,
                         s.Kind == TSelectionKind::OneNight ? std::optional<TQueryWindow>(w) : std::nullopt);
            if (d->netResults.Model->rowCount() > 0) d->netResults.Grid->selectRow(0);
        };
        TNetQueryOutcome o;
        try {
            const QCursor busy(Qt::WaitCursor);
            QApplication::setOverrideCursor(busy);
            struct Restore {
                ~Restore() { QApplication::restoreOverrideCursor(); }
            } restore;
            o = RunNetworkQuery(d->SiteCode(), w, s.Order, d->netTable);
        } catch (...) {
            show();  // the rows read before the bad value
            throw;
        }
        using K = TNetQueryOutcome::Kind;
        if (o.What != K::CredentialsProblem && o.What != K::NotEnabled) d->netResults.ClearStatistics();
        if (o.What != K::Rows) {
            if (o.IsError())
                d->prompt.Error(o.Message);
            else
                d->prompt.Inform(o.Message);
            return;
        }
        show();
        const auto texts = NetworkStatisticsTexts(d->netTable, UserFormatSettings());
        d->netResults.ShowStatistics({texts.begin(), texts.end()});
        d->prompt.Inform(o.Message);
    });
}

void TSiteForm::BitBtn9Click() {
    d->Guarded([this] {
        TImportOutcome o;
        {
            std::optional<TBusyProgress> busy;
            if (!d->netTable.empty()) busy.emplace(this, T("Saving the readings in the local database..."));
            const double logTime = d->clock.NowLocal() + d->common.time.Offset;
            o = SaveNetworkReadings(d->trReadings, d->RecordSiteId(), d->SiteName(), d->netTable, logTime,
                                    [&](size_t n) { busy->Step(n, d->netTable.size()); });
        }
        if (o.IsError())
            d->prompt.Error(o.Message);
        else
            d->prompt.Inform(o.Message);
    });
}

void TSiteForm::btnSaveQueryChartClick(int chart) {
    QChartView* views[] = {d->localResults.Chart, d->ChartRealTime, d->netResults.Chart};
    QChartView* view = chart >= 0 && chart < 3 ? views[chart] : nullptr;
    if (!view) return;
    d->Guarded([&] {
        const QString file = d->ChooseFile(QString::fromLatin1(kPictureFileFilters), QString::fromLatin1(kPictureDefaultSuffix));
        if (file.isEmpty()) return;
        const auto format = PictureFormatForFile(file.toStdString());
        if (!format) {
            d->prompt.Error(Tr(kUnsupportedFileType));
            return;
        }
        QString error;
        if (!SaveChartPicture(view, file, *format, &error)) d->prompt.Error(error.toStdString());
    });
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
    SetQueryButtons();
    RadioGroup5Click();
    if (d->PageControl1->currentWidget() == d->networkTab) TabSheet2Show();
    if (isLocalTime)
        time += d->common.time.Offset + LocalToUtcOffset(site.TimeZone, d->clock.Zone());
    if (const auto times = ReadingWindowTimes(site, time)) {
        d->lblWindowStart->setText(QString::fromStdString(times->Start));
        d->lblWindowStop->setText(QString::fromStdString(times->Stop));
    }
}

void TSiteForm::Retranslate() {
    RetranslateTree(this);
    d->RetitleCharts();
    emit CaptionChanged(windowTitle());
}

void TSiteFormPrivate::RetitleCharts() {
    const TFormatSettings fs = UserFormatSettings();
    if (queryOpen) {
        queryTitle = QString::fromStdString(QueryChartTitle(querySelection, fs));
        localResults.Chart->chart()->setTitle(queryTitle);
    }
    if (netChartSelection)
        netResults.Chart->chart()->setTitle(QString::fromStdString(QueryChartTitle(*netChartSelection, fs)));
    if (RadioGroup3->checkedId() == 0 && realTimeOpen)
        ChartRealTime->chart()->setTitle(QString::fromStdString(RealTimeNightTitle(realTimeNight, fs)));
    else if (RadioGroup3->checkedId() != 0 && realTimePlotted)
        ChartRealTime->chart()->setTitle(QString::fromStdString(RecentReadingsTitle()));
    else if (!realTimePlotted)
        ChartRealTime->chart()->setTitle(T("SQM Readings graph"));
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
