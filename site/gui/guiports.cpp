#include "guiports.h"

#include <QEventLoop>
#include <QPointer>
#include <vector>

#include "dialogs.h"
#include "myutils.h"
#include "readingwindow.h"

double TPcClock::NowLocal() { return ::NowLocal(); }

TZoneInfo TPcClock::Zone() { return PcZoneInfo(); }

namespace {
bool interrupted = false;
std::vector<QPointer<QEventLoop>>& RunningPauses() {
    static std::vector<QPointer<QEventLoop>> loops;
    return loops;
}
}  // namespace

void TGuiWait::Pause(int ms) {
    if (interrupted) return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    RunningPauses().push_back(&loop);
    loop.exec();
    auto& loops = RunningPauses();
    std::erase_if(loops, [&loop](const QPointer<QEventLoop>& p) { return p.isNull() || p == &loop; });
}

void InterruptGuiWaits() {
    interrupted = true;
    for (const auto& loop : RunningPauses())
        if (loop) loop->quit();
}

bool GuiWaitsInterrupted() { return interrupted; }

void TGuiPrompt::Inform(const std::string& text) { dialogs::Information(QString::fromStdString(text), parent_); }

void TGuiPrompt::Error(const std::string& text) { dialogs::Error(QString::fromStdString(text), parent_); }

bool TGuiPrompt::Confirm(const std::string& text) { return dialogs::Confirm(QString::fromStdString(text), parent_); }
