// KALO-SQM: start-up in a fixed order (welcome window, data module, main
// window, at least two seconds of welcome), then the message loop.
#include <QApplication>
#include <QLabel>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string_view>
#include <pthread.h>
#include <signal.h>

#include "core/site/datamodule.h"
#include "gui/guiports.h"
#include "gui/dialogs.h"
#include "gui/qtlanguage.h"
#include "core/station/i18n.h"
#include "core/site/languages.h"
#include "programs/desktop/mainform.h"
#include "core/station/myutils.h"
#include "core/site/sitecommons.h"
#include "core/station/programlayout.h"
#include "core/site/startup.h"
#include "core/station/version.h"
#include "programs/desktop/welcomeform.h"

namespace {

// SIGTERM and SIGINT are blocked in every thread (the database engine's
// threads included, so its own handlers never see them) and collected here
// from the message loop: the run then ends the orderly way.
sigset_t QuitSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

bool QuitRequested() {
    static bool requested = false;
    const sigset_t set = QuitSignals();
    const timespec zero{0, 0};
    if (sigtimedwait(&set, nullptr, &zero) > 0) requested = true;
    return requested;
}

const char* const kUsage =
    "usage: kalosqm [noautoplay]\n"
    "\n"
    "The KALO-SQM desktop program: the sites of a Sky Quality Meter station, their\n"
    "readings on schedule, the local database, its queries and plots, and the upload\n"
    "to the network database.\n"
    "\n"
    "  noautoplay  open no site at start (autostart sites stay closed)\n"
    "  --help      this text\n"
    "\n"
    "The program folder (Dati/, LOGS/, WinSetup/, crdfiles/, NightFiles/, Locale/) is\n"
    "the executable's folder when it holds Dati/ (a build or a portable copy);\n"
    "installed under a prefix beside share/kalosqm/ it is $XDG_DATA_HOME/kalosqm\n"
    "(~/.local/share/kalosqm), made from the delivered database at the first start.\n";

// SIGTERM, SIGINT or SIGHUP, looked for every 200 ms: the program ends as a
// quit without questions once what is under way allows.
void PollForQuit(QTimer& quitPoll, TMainForm& mainForm, TSiteCommons& common) {
    QObject::connect(&quitPoll, &QTimer::timeout, [&mainForm, &common] {
        if (!QuitRequested()) return;
        // Pauses end at once, so a pass over the waiting readings ends after
        // its reading under way and a busy window's work is soon over.
        InterruptGuiWaits();
        common.workers.Stop();
        // An open box or dialog is closed first (a question takes its safe
        // answer, No) and its caller goes on; the run ends at a later poll.
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
            return;
        }
        // A window's conversation under way ends first, so that its reading
        // is stored; each ends within its timeout. Try again at the next poll.
        if (mainForm.SiteWindowBusy()) return;
        mainForm.ShutdownWithoutQuestions();
    });
    quitPoll.start(200);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const sigset_t quitSignals = QuitSignals();
    pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);
    RegisterTranslation();
    const uint32_t startTick = TickCountMs();

    // A test that starts the program names a file for its boxes: nobody is there to click
    // (made before the application, so it outlives every box).
    std::unique_ptr<dialogs::TLoggedBoxes> loggedBoxes;
    if (const QByteArray log = qgetenv("KALOSQM_MESSAGE_LOG"); !log.isEmpty()) {
        loggedBoxes = std::make_unique<dialogs::TLoggedBoxes>(QString::fromLocal8Bit(log));
        dialogs::SetMessageBoxes(loggedBoxes.get());
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KALO - SQM"));
    QApplication::setApplicationDisplayName(QStringLiteral("KALO - SQM"));
    // After QApplication, which sets the environment's locale again.
    ApplySavedLanguage();
    FollowLanguageInQt(CurrentLanguage());

    auto* welcome = new TWelcomeForm(false);
    welcome->show();
    app.processEvents();

    TData data;
    TSiteCommons common;  // every site window's Internet time, meters and night files
    common.nightFiles.Program = "KALO-SQM " + GetVersionText(4);
    data.OnError = [](const std::string& text) { dialogs::Error(QString::fromStdString(text)); };
    // A database of an earlier version is brought up to date first: the
    // welcome window says which step runs (index builds take minutes at scale).
    data.OnUpgradeProgress = [welcome, &app](const TUpgradeStep& s) {
        welcome->lblLoading->setText(QString::fromStdString(
            Tr("Updating the database") + " (" + std::to_string(s.Done + 1) + "/" + std::to_string(s.Total) +
            "): " + Tr(s.What)));
        app.processEvents();
    };
    // Installed: the first start makes the user's folder from the delivered database.
    if (const std::string why = MakeHomeDatabase(ThisProgramLayout()); !why.empty()) {
        welcome->close();
        dialogs::Error(QString::fromStdString(why));
        return 1;
    }
    if (!data.DataModuleCreate()) {
        welcome->close();
        return 1;
    }

    auto* mainForm = new TMainForm(data, common, QApplication::arguments());
    while (!WelcomeWaitOver(startTick, TickCountMs()) && !QuitRequested()) {
        app.processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    welcome->close();
    mainForm->show();

    QTimer quitPoll;
    PollForQuit(quitPoll, *mainForm, common);
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);

    int rc = 0;
    if (QuitRequested())
        mainForm->ShutdownWithoutQuestions();  // asked to end while starting
    else
        rc = app.exec();
    delete mainForm;
    data.DataModuleDestroy();
    return rc;
}
