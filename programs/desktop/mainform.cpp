#include "programs/desktop/mainform.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QActionGroup>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <utility>

#include "core/site/datamodule.h"
#include "gui/dialogs.h"
#include "gui/guiports.h"
#include "gui/placement.h"
#include "gui/readingviews.h"
#include "core/station/i18n.h"
#include "core/site/languages.h"
#include "core/station/myutils.h"
#include "core/site/readingwindow.h"
#include "programs/desktop/ntpserversform.h"
#include "programs/desktop/settingsform.h"
#include "core/site/siteactions.h"
#include "programs/desktop/siteform.h"
#include "programs/desktop/sitelistform.h"
#include "gui/translatable.h"
#include "programs/desktop/updateform.h"
#include "core/station/version.h"
#include "programs/desktop/welcomeform.h"

namespace {
QString T(const char* s) { return QString::fromStdString(Tr(s)); }

QMenu* AddMenu(QMenuBar* bar, const char* source) {
    QMenu* menu = bar->addMenu(QString());
    SetTrText(menu->menuAction(), source);
    return menu;
}

template <typename F>
QAction* AddItem(QMenu* menu, const char* source, QObject* context, F&& f) {
    return Translatable(menu->addAction(QString(), context, std::forward<F>(f)), source);
}

const char* const kNetworkAddress = "https://www.kalo-sqm.org/network";

// A main-window command's error box says that it is one.
template <typename F>
void Guarded(QWidget* parent, F&& f) {
    dialogs::Guarded(parent, std::forward<F>(f), T("An error occurred: "));
}

TSiteForm* FormOf(QMdiSubWindow* sub) { return sub ? qobject_cast<TSiteForm*>(sub->widget()) : nullptr; }
QMdiSubWindow* FrameOf(TSiteForm* form) { return qobject_cast<QMdiSubWindow*>(form->parentWidget()); }

void RestoreIfMinimized(QMdiSubWindow* sub) {
    if (sub && sub->isMinimized()) sub->showNormal();
}
}  // namespace

TMainForm::TMainForm(TData& data, TSiteCommons& common, const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent), data_(data), common_(common), jobs_(std::make_unique<TGuiJobs>(common.workers)) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("KALO-SQM"));
    // The first start: most of the screen, centred (a saved placement replaces it).
    resize(977, 621);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        resize(area.size() * 0.85);
        move(area.center() - rect().center());
    }
    mdi_ = new QMdiArea(this);
    mdi_->setBackground(QColor(0xd4, 0xd4, 0xd4));
    setCentralWidget(mdi_);
    mdi_->viewport()->installEventFilter(this);
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this] { RefreshWindowMenu(); });

    const QString setupDir = QString::fromStdString(ProgramPath("WinSetup"));
    QDir().mkpath(setupDir);
    placementFile_ = setupDir + QStringLiteral("/MainForm.ini");

    BuildInvitation();
    RefreshInvitation();

    panel0_ = new QLabel(this);
    panel1_ = new QLabel(this);
    panel0_->setFixedWidth(400);
    panel1_->setFixedWidth(50);
    statusBar()->addWidget(panel0_);
    statusBar()->addWidget(panel1_);
    logPanel_ = new QLabel(this);
    logPanel_->setObjectName(QStringLiteral("lblLogTrouble"));
    statusBar()->addWidget(logPanel_, 1);
    ShowVersion();
    // A log that loses lines is said here and on stderr, once per outage. A
    // log may be written outside this thread: the news comes over queued.
    logWatch_ = std::make_unique<TErrorLogWatch>([this](const TErrorLogNews& news) {
        QMetaObject::invokeMethod(this, [this, news] { ShowLogNews(news); }, Qt::QueuedConnection);
    });
    nightFileWatch_ = std::make_unique<TNightFileWatch>([this](const TNightFileNews& news) {
        QMetaObject::invokeMethod(this, [this, news] { ShowNightFileNews(news); }, Qt::QueuedConnection);
    });

    // The first argument "noautoplay" (exactly so) keeps autostart sites closed.
    autoStartPending_ = !(arguments.size() > 1 && arguments.at(1) == QStringLiteral("noautoplay"));
    BuildMenus();
    BuildLanguageMenu(QString::fromStdString(ReadSavedLanguage()));
    RestorePlacement();
}

TMainForm::~TMainForm() {
    logWatch_.reset();  // no news for a window going away
    nightFileWatch_.reset();
    // The area outlives this part of the object: it must not call back in
    // while the base classes take the site windows down.
    disconnect(mdi_, nullptr, this, nullptr);
    mdi_->viewport()->removeEventFilter(this);
    for (QMdiSubWindow* sub : mdi_->subWindowList()) {
        if (TSiteForm* form = FormOf(sub)) {
            form->removeEventFilter(this);
            disconnect(form, nullptr, this, nullptr);
        }
        disconnect(sub, nullptr, this, nullptr);
        delete sub;
    }
}

void TMainForm::BuildMenus() {
    // The language menu goes after "Site manager", the update check before "?".
    siteMenu_ = AddMenu(menuBar(), N_("Site manager"));
    AddItem(siteMenu_, N_("Open"), this, [this] { mnuOpenClick(); });
    AddItem(siteMenu_, N_("Create new"), this, [this] { mnuCreateNewClick(); });
    AddItem(siteMenu_, N_("Open all"), this, [this] { mnuOpenAllClick(); });
    AddItem(siteMenu_, N_("Delete"), this, [this] { mnuDeleteClick(); });

    languageMenu_ = AddMenu(menuBar(), N_("Languages"));
    languageMenu_->setObjectName(QStringLiteral("mnuLanguages"));

    utilitiesMenu_ = AddMenu(menuBar(), N_("Utilities"));
    AddItem(utilitiesMenu_, N_("Show Internet time"), this, [this] { mnuShowInternetTimeClick(); });
    AddItem(utilitiesMenu_, N_("Syncronize PC clock"), this, [this] { mnuSyncClockClick(); });
    QAction* tz = AddItem(utilitiesMenu_, N_("Time zone information"), this, [this] { mnuTimeZoneInfoClick(); });
    tz->setVisible(false);

    configurationMenu_ = AddMenu(menuBar(), N_("Configuration"));
    AddItem(configurationMenu_, N_("NTP Servers"), this, [this] { mnuNTPServersClick(); });
    AddItem(configurationMenu_, N_("Settings..."), this, [this] { mnuSettingsClick(); });

    windowMenu_ = AddMenu(menuBar(), N_("Window"));
    actCloseWindow_ = AddItem(windowMenu_, N_("Close"), this, [this] { mnuCloseWindowClick(); });
    actTile_ = AddItem(windowMenu_, N_("Tile vertically"), this, [this] { mnuTileVerticallyClick(); });
    windowMenu_->addSeparator();
    RefreshWindowMenu();

    QAction* update = Translatable(menuBar()->addAction(QString()), N_("Check for updates"));
    update->setObjectName(QStringLiteral("mnuCheckForUpdates"));
    connect(update, &QAction::triggered, this, [this] { CheckForUpdatesClick(); });

    helpMenu_ = menuBar()->addMenu(QStringLiteral("?"));
    AddItem(helpMenu_, N_("About..."), this, [this] { mnuAboutClick(); });
}

// --- Languages ----------------------------------------------------------------

void TMainForm::BuildLanguageMenu(const QString& savedCode) {
    languageMenu_->clear();
    delete languageGroup_;
    languageGroup_ = new QActionGroup(languageMenu_);
    languageGroup_->setExclusive(true);
    auto add = [this](const QString& caption, const QString& code, const QString& name) {
        QAction* a = languageMenu_->addAction(caption);
        a->setObjectName(name);
        a->setData(code);
        a->setCheckable(true);
        languageGroup_->addAction(a);
        connect(a, &QAction::triggered, this, [this, a] { ChangeLanguage(a); });
        return a;
    };
    QAction* byDefault = add(QString(), QString(), QStringLiteral("miDefault"));
    SetTrText(byDefault, N_("Default"));
    byDefault->setChecked(true);
    for (const std::string& folder : ListSubfolders(CataloguesDir())) {
        const QString code = QString::fromStdString(folder);
        QAction* a = add(QString::fromStdString(LanguageDisplayName(folder)), code, QStringLiteral("mi_") + code);
        if (code == savedCode) a->setChecked(true);
    }
}

QList<QAction*> TMainForm::LanguageEntries() const { return languageGroup_->actions(); }

void TMainForm::ChangeLanguage(QAction* entry) {
    const std::string chosen = entry->data().toString().toStdString();
    entry->setChecked(true);
    // A folder removed since the menu was built: English, but the choice is kept.
    SwitchLanguage(LanguageFolderExists(chosen) ? chosen : kFallbackLanguage);
    Retranslate();
    TranslateMDI();
    Guarded(this, [&] { SaveLanguage(chosen); });
}

void TMainForm::Retranslate() {
    RetranslateTree(menuBar());
    RetranslateTree(invitation_);
    ShowVersion();
}

void TMainForm::TranslateMDI() {
    TPcClock clock;
    for (TSiteForm* form : SiteWindows()) {
        form->Retranslate();
        form->SetDynamicLabels(true, clock.NowLocal());
    }
}

void TMainForm::ShowVersion() {
    panel0_->setText(QString::fromStdString(Tr("Ver. ") + GetVersionText(2) + "        "));
}

void TMainForm::ShowLogNews(const TErrorLogNews& news) {
    const std::string text = DescribeErrorLogNews(news);
    std::fprintf(stderr, "kalosqm: %s\n", text.c_str());
    QString shown = QString::fromStdString(text);
    shown[0] = shown[0].toUpper();
    logPanel_->setStyleSheet(news.Failing ? QStringLiteral("color: red") : QString());
    logPanel_->setText(shown);
}

void TMainForm::ShowNightFileNews(const TNightFileNews& news) {
    const std::string text = DescribeNightFileNews(news);
    std::fprintf(stderr, "kalosqm: %s\n", text.c_str());
    QString shown = QString::fromStdString(text);
    shown[0] = shown[0].toUpper();
    logPanel_->setStyleSheet(news.Waiting ? QStringLiteral("color: red") : QString());
    logPanel_->setText(shown);
}

void TMainForm::BuildInvitation() {
    // Lies on the area's background: site windows always cover it.
    invitation_ = new QWidget(mdi_->viewport());
    invitation_->setObjectName(QStringLiteral("Invitation"));
    auto* layout = new QVBoxLayout(invitation_);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(2);
    QFont big = font();
    big.setPointSize(16);
    big.setBold(true);
    for (const char* line : {N_("KALO-SQM is a free software born within KALO project."),
                             N_("If you enjoy KALO-SQM, consider to join, for free, our "),
                             N_("light pollution monitoring network.")}) {
        auto* label = Translatable(new QLabel(invitation_), line);
        label->setFont(big);
        label->setStyleSheet(QStringLiteral("color: #808080;"));
        layout->addWidget(label);
    }
    auto* link = new QLabel(invitation_);
    link->setObjectName(QStringLiteral("InvitationLink"));
    QFont linkFont = font();
    linkFont.setPointSize(12);
    link->setFont(linkFont);
    link->setText(QStringLiteral("<a href=\"%1\" style=\"color:#0000ff; text-decoration:underline;\">%1</a>")
                      .arg(QLatin1String(kNetworkAddress)));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    link->setOpenExternalLinks(true);
    layout->addSpacing(12);
    layout->addWidget(link);
    invitation_->adjustSize();
    invitation_->move(0, 0);
    invitation_->lower();
}

void TMainForm::RefreshInvitation() {
    // -1 (no database) hides it as well as a site with a code does.
    invitation_->setVisible(data_.CountSites(true) == 0);
    invitation_->lower();
}

// --- Site windows -----------------------------------------------------------

TSiteForm* TMainForm::OpenSiteWindow(int siteId, bool autostart) {
    auto* form = new TSiteForm(data_, common_, siteId, autostart);
    QMdiSubWindow* sub = mdi_->addSubWindow(form);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    if (!form->windowTitle().isEmpty()) sub->setWindowTitle(form->windowTitle());
    connect(form, &TSiteForm::CaptionChanged, this, [this, sub](const QString& caption) {
        sub->setWindowTitle(caption);
        RefreshWindowMenu();
    });
    connect(form, &TSiteForm::SiteSaved, this, [this] { RefreshInvitation(); });  // it may have got a code
    form->installEventFilter(this);
    connect(sub, &QObject::destroyed, this, [this] {
        QMetaObject::invokeMethod(this, [this] { RefreshWindowMenu(); }, Qt::QueuedConnection);
    });
    sub->show();
    RefreshWindowMenu();
    return form;
}

QList<QMdiSubWindow*> TMainForm::SiteSubWindows() const {
    QList<QMdiSubWindow*> subs;
    for (QMdiSubWindow* sub : mdi_->subWindowList(QMdiArea::CreationOrder))
        if (FormOf(sub) && !sub->isHidden()) subs.append(sub);
    return subs;
}

QList<TSiteForm*> TMainForm::SiteWindows() const {
    QList<TSiteForm*> forms;
    for (QMdiSubWindow* sub : SiteSubWindows()) forms.append(FormOf(sub));
    return forms;
}

QMdiSubWindow* TMainForm::FindSiteWindow(int siteId) const {
    for (QMdiSubWindow* sub : SiteSubWindows())
        if (FormOf(sub)->RecordSiteId() == siteId) return sub;
    return nullptr;
}

void TMainForm::BringUpSiteWindow(int siteId) {
    if (QMdiSubWindow* open = FindSiteWindow(siteId))
        ShowSiteWindow(open);
    else
        RestoreIfMinimized(FrameOf(OpenSiteWindow(siteId, false)));
}

bool TMainForm::SiteWindowBusy() const {
    for (TSiteForm* form : SiteWindows())
        if (form->Busy()) return true;
    return false;
}

void TMainForm::ShowSiteWindow(QMdiSubWindow* sub) {
    mdi_->setActiveSubWindow(sub);
    sub->raise();
    RestoreIfMinimized(sub);
}

void TMainForm::RefreshWindowMenu() {
    if (!windowMenu_) return;
    for (QAction* a : windowListActions_) {
        windowMenu_->removeAction(a);
        a->deleteLater();
    }
    windowListActions_.clear();
    const QList<QMdiSubWindow*> subs = SiteSubWindows();
    actCloseWindow_->setEnabled(!subs.isEmpty());
    actTile_->setEnabled(!subs.isEmpty());
    QMdiSubWindow* current = mdi_->currentSubWindow();
    int n = 0;
    for (QMdiSubWindow* sub : subs) {
        QString text = sub->windowTitle();
        text.replace(QLatin1Char('&'), QStringLiteral("&&"));
        if (++n < 10) text = QStringLiteral("&%1 %2").arg(n).arg(text);
        QAction* a = windowMenu_->addAction(text);
        a->setCheckable(true);
        a->setChecked(sub == current);
        QPointer<QMdiSubWindow> target(sub);
        connect(a, &QAction::triggered, this, [this, target] {
            if (target) ShowSiteWindow(target);
        });
        windowListActions_.append(a);
    }
}

void TMainForm::DestroySiteWindows() {
    for (QMdiSubWindow* sub : SiteSubWindows()) {
        sub->close();  // lets the window end its own work; the questions were asked
        delete sub;
    }
}

// --- Commands -------------------------------------------------------------

void TMainForm::mnuOpenClick() {
    Guarded(this, [this] {
        const int n = data_.CountSites(false);  // -1 (a database error) shows the list too
        if (n == 0) {
            dialogs::Error(T("No Sites existing: please create a new one"), this);
            return;
        }
        if (n == 1) {
            for (int id : TSiteActions::SiteIds(data_.trKALO)) BringUpSiteWindow(id);
            return;
        }
        int id = 0;
        {
            TZSiteForm list(data_.dbKALO, this, &data_.trKALO);
            list.SetMode(TZSiteForm::Mode::Choose);
            if (list.exec() != QDialog::Accepted) return;
            id = list.SelectedSiteId();
        }
        if (id != 0) BringUpSiteWindow(id);
    });
}

void TMainForm::mnuCreateNewClick() {
    Guarded(this, [this] { OpenSiteWindow(0, false); });
}

void TMainForm::mnuOpenAllClick() {
    Guarded(this, [this] {
        // Read to the end first: opening a window reads the database too.
        for (int id : TSiteActions::SiteIds(data_.trKALO)) BringUpSiteWindow(id);
    });
}

void TMainForm::mnuDeleteClick() {
    Guarded(this, [this] {
        TZSiteForm list(data_.dbKALO, this, &data_.trKALO);
        list.SetMode(TZSiteForm::Mode::Delete);
        // The window of the site, a new site's once saved too.
        list.SetSiteWindows([this](int siteId) {
            QList<TSiteForm*> of;
            for (TSiteForm* form : SiteWindows())
                if (form->RecordSiteId() == siteId) of.append(form);
            return of;
        });
        list.exec();
    });
    RefreshInvitation();
}

void TMainForm::AskInternetTime(bool setClock, std::function<void(const TTimeAnswer&)> then) {
    if (timeAsked_) return;  // the one under way answers first
    Guarded(this, [&] {
        auto answer = std::make_shared<TTimeAnswer>();
        TTimeQuery query = data_.PrepareInternetTime(setClock);
        timeAsked_ = true;
        jobs_->Run(
            TJobLane::Time,
            [answer, query] {
                try {
                    *answer = query();
                } catch (const std::exception& e) {
                    answer->Failure = e.what();
                }
            },
            [this, answer, then] {
                timeAsked_ = false;
                Guarded(this, [&] { then(*answer); });
            });
    });
}

void TMainForm::mnuShowInternetTimeClick() {
    AskInternetTime(false, [this](const TTimeAnswer& a) {
        if (!a.Ok) {
            // What each server did, so the user can tell a typo from a blocked port.
            dialogs::Error(T("Impossible to get the Internet time") + QLatin1Char('\n') + QString::fromStdString(a.Failure),
                           this);
            return;
        }
        const QDateTime when = ToQDateTime(a.Value);
        const QLocale locale;  // the chosen language's
        dialogs::Information(locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                                 locale.toString(when.time(), QLocale::LongFormat),
                             this);
    });
}

void TMainForm::mnuSyncClockClick() {
    if (!dialogs::Confirm(T("Syncronize the PC clock with the Internet time?") + QLatin1Char('\n') +
                              T("On Linux it is necessary to start the software as administrator (root) or "
                                "with the CAP_SYS_TIME capability"),
                          this))
        return;
    AskInternetTime(true, [this](const TTimeAnswer& a) {
        if (a.Ok)
            dialogs::Information(T("Done"), this);
        else
            dialogs::Error(T("Impossible to perform the action"), this);
    });
}

void TMainForm::mnuTimeZoneInfoClick() {
    // The standard-time difference from UTC, whole hours, positive east.
    dialogs::Information(QString::number(DefaultTimeZone(PcZoneInfo())), this);
}

void TMainForm::mnuNTPServersClick() {
    Guarded(this, [this] { TNTPServersForm::ShowNTPServers(data_, this); });
}

void TMainForm::mnuSettingsClick() {
    Guarded(this, [this] { TSettingsForm::ShowSettings(data_, this); });
}

void TMainForm::mnuCloseWindowClick() {
    if (QMdiSubWindow* sub = mdi_->currentSubWindow()) sub->close();
}

void TMainForm::mnuTileVerticallyClick() {
    // Side by side, each as high as the area; minimised windows stay so.
    QList<QMdiSubWindow*> subs;
    for (QMdiSubWindow* sub : SiteSubWindows())
        if (!sub->isMinimized()) subs.append(sub);
    if (subs.isEmpty()) return;
    const QRect area = mdi_->viewport()->rect();
    const int width = area.width() / static_cast<int>(subs.size());
    int x = 0;
    for (QMdiSubWindow* sub : subs) {
        if (sub->isMaximized()) sub->showNormal();
        sub->setGeometry(x, 0, width, area.height());
        x += width;
    }
}

void TMainForm::CheckForUpdatesClick() {
    Guarded(this, [this] {
        TUpdateForm form(this);
        form.exec();
    });
}

void TMainForm::mnuAboutClick() {
    auto* about = new TWelcomeForm(true, this);
    about->exec();
}

// --- Autostart, closing ----------------------------------------------------

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Hide) {
        if (auto* form = qobject_cast<TSiteForm*>(watched)) {
            // A site window that closed itself takes its frame along; a
            // minimised frame hides its window too, and keeps it.
            QPointer<TSiteForm> f(form);
            QTimer::singleShot(0, this, [f] {
                QMdiSubWindow* sub = f ? FrameOf(f) : nullptr;
                if (sub && f->isHidden() && !sub->isHidden() && !sub->isMinimized()) sub->close();
            });
        }
    }
    if (watched == mdi_->viewport() && event->type() == QEvent::Paint && !painted_) {
        painted_ = true;
        // Not inside the paint itself: opening windows there would paint again.
        QTimer::singleShot(0, this, [this] { FormPaint(); });
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::FormPaint() {
    if (!autoStartPending_) return;
    autoStartPending_ = false;  // whatever happens below: once only
    Guarded(this, [this] {
        std::vector<int> ids;
        {
            fb::Transaction tr(data_.dbKALO, fb::Isolation::ReadCommitted);
            tr.Start();
            ids = TSiteActions::AutostartSites(tr);
            tr.Commit();
        }
        for (int id : ids) OpenSiteWindow(id, true);
    });
}

void TMainForm::ShutdownWithoutQuestions() {
    closeAgreed_ = true;
    for (TSiteForm* form : SiteWindows()) form->StopForShutdown();
    close();
}

void TMainForm::closeEvent(QCloseEvent* e) {
    if (!closeAgreed_) {
        // Each running site is asked first, by its name, then the program's
        // question; none stops before every answer allowed it, so a No
        // anywhere leaves every site as it was.
        QList<QPointer<TSiteForm>> forms;
        for (TSiteForm* form : SiteWindows()) forms.append(form);
        for (const QPointer<TSiteForm>& form : forms) {
            if (form && !form->MayStopForQuit()) {
                e->ignore();
                return;
            }
        }
        if (!SiteWindows().isEmpty() &&
            !dialogs::Confirm(T("There are open SQM windows: Stop all the sites an close the application?"), this)) {
            e->ignore();
            return;
        }
        closeAgreed_ = true;
        for (TSiteForm* form : SiteWindows()) form->StopForShutdown();
    }
    if (SiteWindowBusy()) {
        // A conversation under way ends first, so that its reading is
        // stored; each ends within its timeout. Close once it has.
        e->ignore();
        QTimer::singleShot(100, this, [this] { close(); });
        return;
    }
    DestroySiteWindows();
    SavePlacement();
    e->accept();
}

void TMainForm::RestorePlacement() {
    QSettings ini(placementFile_, QSettings::IniFormat);
    const QByteArray geometry = ini.value(QStringLiteral("Placement/Geometry")).toByteArray();
    if (geometry.isEmpty() || !restoreGeometry(geometry)) return;
    // Saved on another screen, perhaps a larger one: fitted now, and again
    // once shown, when the window manager's frame is known.
    FitIntoScreen(this);
    fitWhenShown_ = true;
}

void TMainForm::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (std::exchange(fitWhenShown_, false)) FitIntoScreen(this);
}

void TMainForm::SavePlacement() {
    QSettings ini(placementFile_, QSettings::IniFormat);
    ini.setValue(QStringLiteral("Placement/Geometry"), saveGeometry());
    ini.setValue(QStringLiteral("Placement/Maximized"), isMaximized());
}
