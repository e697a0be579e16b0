#include "gui/guiports.h"

#include <QApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QProgressDialog>
#include <QPointer>
#include <vector>

#include "gui/dialogs.h"
#include "core/station/myutils.h"
#include "core/site/jobrunner.h"
#include "core/site/readingwindow.h"

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

TGuiJobs::TGuiJobs(TWorkers& workers)
    : jobs_(std::make_unique<TThreadJobs>(workers, [this] {
          // On the job's thread: a queued call, run by the window thread's loop.
          QMetaObject::invokeMethod(&receiver_, [this] { jobs_->Deliver(); }, Qt::QueuedConnection);
      })) {}

// The thread runner first: no queued call is posted after it has gone.
TGuiJobs::~TGuiJobs() { jobs_.reset(); }

void TGuiJobs::Run(TJobLane lane, std::function<void()> work, std::function<void()> done) {
    jobs_->Run(lane, std::move(work), std::move(done));
}

bool TGuiJobs::Pause(int ms) { return jobs_->Pause(ms); }

int TGuiJobs::Pending() const { return jobs_->Pending(); }

TSemaforo::State LightFor(TSiteState state) {
    switch (state) {
        case TSiteState::Stopped: return TSemaforo::State::Red;
        case TSiteState::OutsideWindow:
        case TSiteState::DaylightStored: return TSemaforo::State::Blinking;
        case TSiteState::NightStored: return TSemaforo::State::Green;
        case TSiteState::Skipped:
        case TSiteState::Failed: return TSemaforo::State::Yellow;
    }
    return TSemaforo::State::Yellow;
}

void TSemaforoLight::Show(TSiteState state) {
    if (!light) return;
    switch (LightFor(state)) {
        case TSemaforo::State::Red: light->ShowRed(); break;
        case TSemaforo::State::Yellow: light->ShowYellow(); break;
        case TSemaforo::State::Green: light->ShowGreen(); break;
        case TSemaforo::State::Blinking: light->ShowBlinking(); break;
        case TSemaforo::State::Off: break;
    }
}

void TGuiPrompt::Inform(const std::string& text) { dialogs::Information(QString::fromStdString(text), parent_); }

void TGuiPrompt::Error(const std::string& text) { dialogs::Error(QString::fromStdString(text), parent_); }

bool TGuiPrompt::Confirm(const std::string& text) { return dialogs::Confirm(QString::fromStdString(text), parent_); }

TBusyProgress::TBusyProgress(QWidget* parent, QString label)
    : parent_(parent), label_(std::move(label)), started_(QDateTime::currentMSecsSinceEpoch()) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TBusyProgress::~TBusyProgress() {
    delete dialog_;
    QApplication::restoreOverrideCursor();
}

void TBusyProgress::Step(size_t done, size_t total) {
    constexpr qint64 kShortWorkMs = 400;
    if (!dialog_) {
        if (QDateTime::currentMSecsSinceEpoch() - started_ < kShortWorkMs) return;
        dialog_ = new QProgressDialog(label_, QString(), 0, 0, parent_);
        dialog_->setWindowModality(Qt::WindowModal);
        dialog_->setMinimumDuration(0);
        dialog_->setAutoClose(false);
        dialog_->setAutoReset(false);
    }
    if (total > 0) {
        dialog_->setMaximum(static_cast<int>(std::min<size_t>(total, INT32_MAX)));
        dialog_->setValue(static_cast<int>(std::min(done, total)));
        dialog_->setLabelText(label_ + QStringLiteral("\n") + QStringLiteral("%1 / %2").arg(done).arg(total));
    } else {
        dialog_->setLabelText(label_ + QStringLiteral("\n") + QString::number(done));
    }
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
