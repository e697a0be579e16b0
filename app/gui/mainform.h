#pragma once
// The main window: the frame that holds one child window per open site.
#include <QMainWindow>
#include <QStringList>

class QLabel;
class QMdiArea;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(const QStringList& arguments, QWidget* parent = nullptr);
    ~TMainForm() override;

    bool AutoStartPending() const { return autoStartPending_; }
    QMdiArea* Area() const { return mdi_; }
    QLabel* StatusPanel(int i) const { return i == 0 ? panel0_ : panel1_; }
    QString PlacementFile() const { return placementFile_; }

    // Menu commands.
    void mnuShowInternetTimeClick();
    void mnuSyncClockClick();
    void mnuTimeZoneInfoClick();
    void mnuAboutClick();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void BuildMenus();
    void RestorePlacement();
    void SavePlacement();

    QMdiArea* mdi_;
    QLabel* panel0_;
    QLabel* panel1_;
    QString placementFile_;
    bool autoStartPending_ = true;
};
