#pragma once
// The desktop program's side of the site core's ports: the PC clock, a
// QTimer as ticker, pauses that keep the window alive, and message boxes.
#include <QObject>
#include <QString>
#include <QTimer>

#include "siteports.h"

class QWidget;

class TPcClock : public IClock {
public:
    double NowLocal() override;
    TZoneInfo Zone() override;
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
