#pragma once
// The desktop program's side of the site core's ports: the PC clock, a
// QTimer as ticker, pauses that keep the window alive, and message boxes.
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "gui/semaforo.h"
#include "core/site/jobrunner.h"
#include "core/site/readingwindow.h"
#include "core/site/siteports.h"

class QWidget;

// A site's state on its three-light widget: red stopped, blinking green
// outside the reading window and after a daylight reading, green after a
// night reading, yellow when a due reading failed or was skipped.
TSemaforo::State LightFor(TSiteState state);
class TSemaforoLight : public IStatusLight {
public:
    TSemaforo* light = nullptr;  // set once the window has built it
    void Show(TSiteState state) override;
};

// A pause in a local event loop: repaints, clicks and other sites' ticks go
// on meanwhile. InterruptGuiWaits ends every pause at once (the program is
// shutting down) and makes later ones return straight away.
class TGuiWait : public IWait {
public:
    void Pause(int ms) override;
};
void InterruptGuiWaits();
bool GuiWaitsInterrupted();

// The window's job runner: its jobs on the program's workers, each
// completion a queued call on the window's thread. Run returns at once;
// nothing here waits in a nested event loop. A window that goes drops what
// has not come back yet, so a result never reaches a closed window.
class TGuiJobs : public IJobRunner {
public:
    explicit TGuiJobs(TWorkers& workers);
    ~TGuiJobs() override;
    TGuiJobs(const TGuiJobs&) = delete;
    TGuiJobs& operator=(const TGuiJobs&) = delete;
    void Run(TJobLane lane, std::function<void()> work, std::function<void()> done) override;
    using IJobRunner::Run;
    bool Pause(int ms) override;
    int Pending() const;

private:
    QObject receiver_;  // where the queued calls go; gone with the runner
    std::unique_ptr<class TThreadJobs> jobs_;
};

class TGuiPrompt : public IPrompt {
public:
    explicit TGuiPrompt(QWidget* parent) : parent_(parent) {}
    void Inform(const std::string& text) override;
    void Error(const std::string& text) override;
    bool Confirm(const std::string& text) override;

private:
    QWidget* parent_;
};

// Timer1 of a site window: single-threaded, on the window's thread.
class TTimerTicker : public ITicker {
public:
    explicit TTimerTicker(QTimer& timer) : timer_(timer) {}
    void Start(int periodMs) override {
        timer_.setInterval(periodMs);
        timer_.start();
    }
    void Stop() override { timer_.stop(); }

private:
    QTimer& timer_;
};

// Work the window waits for: a busy cursor at once and, once it lasts, a
// modal progress box that keeps the window painted without taking clicks.
class TBusyProgress {
public:
    TBusyProgress(QWidget* parent, QString label);
    ~TBusyProgress();
    TBusyProgress(const TBusyProgress&) = delete;
    TBusyProgress& operator=(const TBusyProgress&) = delete;
    // done of total (0: unknown).
    void Step(size_t done, size_t total = 0);

private:
    QWidget* parent_;
    QString label_;
    class QProgressDialog* dialog_ = nullptr;
    qint64 started_;
};
