#pragma once
// TMeterFindDialog, "Find SQM-LE": searches the local network for meters as
// soon as it is shown and lists every device that answered; "Use" gives back
// the chosen row's address and the meter port. The search (TMeterFinder)
// runs on the program's workers in steps of a fifth of a second, each a job
// whose end shows what has answered; the window repaints and can be closed
// while it goes on.
#include <QDialog>
#include <memory>

#include "core/station/meterfinder.h"

class TGuiJobs;
class TWorkers;

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

class TMeterFindDialog : public QDialog {
    Q_OBJECT
public:
    // Where the search asks: the broadcast and the meter's ports unless replaced.
    TMeterFindDialog(TFinderOptions options, TWorkers& workers, QWidget* parent = nullptr);
    ~TMeterFindDialog() override;

    // The chosen device, once the dialog was accepted.
    QString Host() const { return host_; }
    int Port() const { return port_; }
    // Until the last device has answered or timed out.
    bool Searching() const { return searching_; }

    void btnFindClick();  // "Search again"
    void btnUseClick();

    QPushButton* btnFind;
    QPushButton* btnUse;
    QPushButton* btnClose;
    QTableWidget* gridDevices;
    QLabel* lblStatus;
    QProgressBar* pbSearch;

protected:
    void showEvent(QShowEvent* e) override;

private:
    struct TSearch;
    void StepSearch(std::shared_ptr<TSearch> search);
    void SearchStepped(const std::shared_ptr<TSearch>& search);
    void ShowDevices(const std::vector<TFoundDevice>& devices, bool identifying);
    void SearchEnded(const std::vector<TFoundDevice>& devices);

    TFinderOptions options_;
    std::unique_ptr<TGuiJobs> jobs_;
    std::shared_ptr<TSearch> search_;  // the search under way; a newer one replaces it
    bool searching_ = false;
    bool searched_ = false;
    QString host_;
    int port_ = 0;
};
