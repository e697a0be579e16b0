#include "gui/semaforo.h"

#include <QPainter>

namespace {
constexpr int kMargin = 3;  // the housing around the lights
}

TSemaforo::TSemaforo(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Semaforo"));
    timer_.setInterval(500);
    connect(&timer_, &QTimer::timeout, this, &TSemaforo::Timer1Timer);
    setFixedSize(sizeHint());
}

QSize TSemaforo::sizeHint() const { return QSize(kLight + 2 * kMargin, 3 * kLight + 2 * kGap + 2 * kMargin); }

QPoint TSemaforo::LightCentre(int light) {
    return QPoint(kMargin + kLight / 2, kMargin + light * (kLight + kGap) + kLight / 2);
}

QColor TSemaforo::OffColour(int light) {
    switch (light) {
        case 0: return QColor(100, 0, 0);
        case 1: return QColor(117, 117, 0);
        default: return QColor(0, 100, 0);
    }
}

QColor TSemaforo::OnColour(int light) {
    switch (light) {
        case 0: return QColor(255, 0, 0);
        case 1: return QColor(255, 255, 0);
        default: return QColor(0, 255, 0);
    }
}

void TSemaforo::Set(State state, bool red, bool yellow, bool green) {
    state_ = state;
    red_ = red;
    yellow_ = yellow;
    green_ = green;
    update();
}

void TSemaforo::ShowRed() {
    timer_.stop();
    Set(State::Red, true, false, false);
}

void TSemaforo::ShowYellow() {
    timer_.stop();
    Set(State::Yellow, false, true, false);
}

void TSemaforo::ShowGreen() {
    timer_.stop();
    Set(State::Green, false, false, true);
}

void TSemaforo::ShowBlinking() {
    // Restarting would make repeated calls (one per tick) hold the phase.
    if (state_ == State::Blinking && timer_.isActive()) return;
    Set(State::Blinking, false, false, true);
    timer_.start();
}

void TSemaforo::Timer1Timer() {
    if (state_ != State::Blinking) {
        timer_.stop();
        return;
    }
    green_ = !green_;
    update();
}

void TSemaforo::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 40));
    p.drawRoundedRect(rect(), 4, 4);
    const bool on[3] = {red_, yellow_, green_};
    for (int i = 0; i < 3; ++i) {
        const QPoint c = LightCentre(i);
        const QRectF r(c.x() - kLight / 2.0, c.y() - kLight / 2.0, kLight, kLight);
        p.setPen(QPen(QColor(15, 15, 15), 1));
        p.setBrush(on[i] ? OnColour(i) : OffColour(i));
        p.drawEllipse(r.adjusted(0.5, 0.5, -0.5, -0.5));
    }
}
