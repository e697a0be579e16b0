#pragma once
// The welcome window shown while the program starts; the same window,
// with a Close button and the credits, is the About window.
#include <QDialog>

class QLabel;
class QPushButton;

class TWelcomeForm : public QDialog {
    Q_OBJECT
public:
    // asAbout: "Close" and the credits visible, the loading text hidden.
    explicit TWelcomeForm(bool asAbout, QWidget* parent = nullptr);

    QLabel* lblVersion;
    QLabel* lblBuild;
    QLabel* lblLoading;
    QLabel* lblCredits;
    QPushButton* btnClose;
};
