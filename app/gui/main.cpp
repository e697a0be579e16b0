// KALO-SQM: start-up in a fixed order (welcome window, data module, main
// window, at least two seconds of welcome), then the message loop.
#include <QApplication>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <clocale>
#include <libintl.h>

#include "datamodule.h"
#include "dialogs.h"
#include "i18n.h"
#include "mainform.h"
#include "myutils.h"
#include "startup.h"
#include "welcomeform.h"

namespace {

volatile std::sig_atomic_t g_quit = 0;
void OnQuitSignal(int) { g_quit = 1; }

// Catalogues live in Locale/<code>/LC_MESSAGES beside the program.
void RegisterTranslation() {
    std::setlocale(LC_ALL, "");
    bindtextdomain(kTextDomain, ProgramPath("Locale").c_str());
    bind_textdomain_codeset(kTextDomain, "UTF-8");
}

}  // namespace

int main(int argc, char** argv) {
    RegisterTranslation();
    const uint32_t startTick = TickCountMs();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KALO - SQM"));
    QApplication::setApplicationDisplayName(QStringLiteral("KALO - SQM"));
    dialogs::InstallEngineHooks();

    auto* welcome = new TWelcomeForm(false);
    welcome->show();
    app.processEvents();

    TData data;
    Data = &data;
    if (!data.DataModuleCreate()) {
        welcome->close();
        Data = nullptr;
        return 1;
    }

    auto* mainForm = new TMainForm(QApplication::arguments());
    while (!WelcomeWaitOver(startTick, TickCountMs())) {
        app.processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    welcome->close();
    mainForm->show();

    // A terminating signal ends the run the orderly way: open work is rolled back.
    std::signal(SIGTERM, OnQuitSignal);
    std::signal(SIGINT, OnQuitSignal);
    QTimer quitPoll;
    QObject::connect(&quitPoll, &QTimer::timeout, [mainForm] {
        if (g_quit) mainForm->close();
    });
    quitPoll.start(200);
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);

    const int rc = app.exec();
    delete mainForm;
    data.DataModuleDestroy();
    Data = nullptr;
    return rc;
}
