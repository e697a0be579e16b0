#pragma once
// TSemaforo: the three-light status of a site (red, yellow, green from top
// to bottom). Blinking green is driven by its own 500 ms timer.
#include <QColor>
#include <QTimer>
#include <QWidget>

class TSemaforo : public QWidget {
    Q_OBJECT
public:
    // Off: all dark, as it is until the first Show call.
    enum class State { Off, Red, Yellow, Green, Blinking };

    explicit TSemaforo(QWidget* parent = nullptr);

    void ShowRed();
    void ShowYellow();
    void ShowGreen();
    void ShowBlinking();

    bool RedOn() const { return red_; }
    bool YellowOn() const { return yellow_; }
    bool GreenOn() const { return green_; }
    bool Blinking() const { return timer_.isActive(); }
    State Current() const { return state_; }
    QTimer& Timer() { return timer_; }

    static constexpr int kLight = 20;  // diameter of one light
    static constexpr int kGap = 2;
    // Centre of light 0 (red), 1 (yellow) or 2 (green) in widget coordinates.
    static QPoint LightCentre(int light);
    static QColor OffColour(int light);
    static QColor OnColour(int light);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void Set(State state, bool red, bool yellow, bool green);
    void Timer1Timer();

    QTimer timer_;
    State state_ = State::Off;
    bool red_ = false, yellow_ = false, green_ = false;
};
