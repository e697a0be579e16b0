#pragma once
// "SQM Readings": the acquisition method and its times, Start / Read now
// with the light, the latest reading and the latest recorded readings.
#include <QString>
#include <string>
#include <vector>

#include "gui/readingviews.h"
#include "programs/desktop/sitepage.h"

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QSpinBox;
class QTableView;
class TSemaforo;

class TReadingsPage : public TSitePage {
public:
    explicit TReadingsPage(ISitePageContext& context);
    QWidget* Tab() const override { return tab_; }
    void Bind(TFieldBinder& binder) override;
    void ShowSite(const TSiteRow& site, double utc) override;
    void SaveSettings(QSettings& ini) const override;
    void RestoreSettings(QSettings& ini) override;
    void ShowReading(const TSQM* station) override;

    QButtonGroup* Method() const { return method_; }
    TSemaforo* Light() const { return light_; }

    void StartOrStop();
    void ReadNow();
    // A method was chosen: its groups, and the warning when it needs coordinates.
    void MethodChosen();
    // Only the groups the record's method uses.
    void ShowMethodGroups();
    // Why the last due reading failed stays in sight until a reading is stored.
    void ReadingFailed(const std::string& why);
    void ReadingStored();
    // The button's caption and the method's choice; the window sets its editors.
    void ShowRunState(bool running);

private:
    QWidget* BuildSettings();
    QWidget* BuildAcquisition();
    QWidget* BuildLatestList();
    void ShowFailure();

    ISitePageContext& ctx_;
    TFieldBinder* binder_ = nullptr;
    QWidget* page_ = nullptr;
    QWidget* tab_ = nullptr;
    QButtonGroup* method_ = nullptr;
    QGroupBox* gbTimedWindow_ = nullptr;
    QGroupBox* gbReadingTime_ = nullptr;
    QGroupBox* gbDaylight_ = nullptr;
    QLabel* lblWindowStart_ = nullptr;
    QLabel* lblWindowStop_ = nullptr;
    QPushButton* btnStartReading_ = nullptr;
    TSemaforo* light_ = nullptr;
    QLabel* lblUtcTime_ = nullptr;
    QLabel* lblReading_ = nullptr;
    QLabel* lblNelm_ = nullptr;
    QLabel* lblTemperature_ = nullptr;
    QLabel* lblShutter_ = nullptr;
    QLabel* lblLastFailure_ = nullptr;
    std::string lastFailure_;
    double lastFailureAt_ = 0;  // local time, shown in the language of the moment
    QSpinBox* edNumLatest_ = nullptr;  // with its arrows (UpDown1)
    TReadingTableModel* latestModel_ = nullptr;
    QTableView* gridLatest_ = nullptr;
};
