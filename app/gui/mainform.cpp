#include "mainform.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMdiArea>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <cmath>
#include <ctime>

#include "datamodule.h"
#include "dialogs.h"
#include "i18n.h"
#include "myutils.h"
#include "version.h"
#include "welcomeform.h"

TMainForm::TMainForm(const QStringList& arguments, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("KALO-SQM"));
    resize(977, 621);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(977 / 2, 621 / 2));
    }
    mdi_ = new QMdiArea(this);
    setCentralWidget(mdi_);

    const QString setupDir = QString::fromStdString(ProgramPath("WinSetup"));
    QDir().mkpath(setupDir);
    placementFile_ = setupDir + QStringLiteral("/MainForm.ini");

    panel0_ = new QLabel(this);
    panel1_ = new QLabel(this);
    panel0_->setFixedWidth(400);
    panel1_->setFixedWidth(50);
    statusBar()->addWidget(panel0_);
    statusBar()->addWidget(panel1_);
    panel0_->setText(QString::fromStdString(Tr("Ver. ") + GetVersionText(2) + "        "));

    // The first argument "noautoplay" (exactly so) keeps autostart sites closed.
    autoStartPending_ = !(arguments.size() > 1 && arguments.at(1) == QStringLiteral("noautoplay"));
    BuildMenus();
    RestorePlacement();
}

namespace {
QString T(const char* s) { return QString::fromStdString(Tr(s)); }

// Runs a main-window command; its errors are shown, never left to escape.
template <typename F>
void Guarded(QWidget* parent, F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        dialogs::Error(T("An error occurred: ") + QString::fromStdString(e.what()), parent);
    }
}

QDateTime ToQDateTime(double dt) {
    const DateTimeParts p = DecodeDateTime(dt);
    return QDateTime(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second, p.msec));
}
}  // namespace

void TMainForm::BuildMenus() {
    QMenu* utilities = menuBar()->addMenu(T("Utilities"));
    utilities->addAction(T("Show Internet time"), this, [this] { mnuShowInternetTimeClick(); });
    utilities->addAction(T("Syncronize PC clock"), this, [this] { mnuSyncClockClick(); });
    QAction* tz = utilities->addAction(T("Time zone information"), this, [this] { mnuTimeZoneInfoClick(); });
    tz->setVisible(false);
    QMenu* help = menuBar()->addMenu(QStringLiteral("?"));
    help->addAction(T("About..."), this, [this] { mnuAboutClick(); });
}

void TMainForm::mnuShowInternetTimeClick() {
    Guarded(this, [this] {
        double t = 0;
        if (!Data || !Data->GetInternetTime(t, false)) return;  // nothing at all when no server answers
        const QDateTime when = ToQDateTime(t);
        const QLocale locale = QLocale::system();
        dialogs::Information(locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                                 locale.toString(when.time(), QLocale::LongFormat),
                             this);
    });
}

void TMainForm::mnuSyncClockClick() {
    Guarded(this, [this] {
        if (!dialogs::Confirm(T("Syncronize the PC clock with the Internet time?") + QLatin1Char('\n') +
                                  T("On Linux it is necessary to start the software as administrator (root) or "
                                    "with the CAP_SYS_TIME capability"),
                              this))
            return;
        double t = 0;
        if (Data && Data->GetInternetTime(t, true))
            dialogs::Information(T("Done"), this);
        else
            dialogs::Error(T("Impossible to perform the action"), this);
    });
}

void TMainForm::mnuTimeZoneInfoClick() {
    // The standard-time difference from UTC, whole hours, positive east.
    const time_t now = time(nullptr);
    struct tm jan {};
    localtime_r(&now, &jan);
    jan.tm_mon = 0;
    jan.tm_mday = 1;
    jan.tm_isdst = -1;
    struct tm jul = jan;
    jul.tm_mon = 6;
    const time_t tj = mktime(&jan), tl = mktime(&jul);
    struct tm a {}, b {};
    localtime_r(&tj, &a);
    localtime_r(&tl, &b);
    const long standard = a.tm_isdst ? b.tm_gmtoff : (b.tm_isdst ? a.tm_gmtoff : std::min(a.tm_gmtoff, b.tm_gmtoff));
    dialogs::Information(QString::number(static_cast<int>(std::trunc(standard / 3600.0))), this);
}

void TMainForm::mnuAboutClick() {
    auto* about = new TWelcomeForm(true, this);
    about->exec();
}

TMainForm::~TMainForm() = default;

void TMainForm::RestorePlacement() {
    QSettings ini(placementFile_, QSettings::IniFormat);
    const QByteArray geometry = ini.value(QStringLiteral("Placement/Geometry")).toByteArray();
    if (!geometry.isEmpty()) restoreGeometry(geometry);
}

void TMainForm::SavePlacement() {
    QSettings ini(placementFile_, QSettings::IniFormat);
    ini.setValue(QStringLiteral("Placement/Geometry"), saveGeometry());
    ini.setValue(QStringLiteral("Placement/Maximized"), isMaximized());
}

void TMainForm::closeEvent(QCloseEvent* e) {
    SavePlacement();
    e->accept();
}
