#pragma once
// TMeterFindDialog, "Find SQM-LE": searches the local network for meters as
// soon as it is shown and lists every device that answered; "Use" gives back
// the chosen row's address and the meter port. The search (TMeterFinder)
// runs in short non-blocking steps from a timer, so the window repaints and
// can be closed while it goes on.
#include <QDialog>
#include <QTimer>
#include <memory>

#include "core/station/meterfinder.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

class TMeterFindDialog : public QDialog {
    Q_OBJECT
public:
    // Where the search asks: the broadcast and the meter's ports unless replaced.
    explicit TMeterFindDialog(TFinderOptions options = {}, QWidget* parent = nullptr);
    ~TMeterFindDialog() override;

    // The chosen device, once the dialog was accepted.
    QString Host() const { return host_; }
    int Port() const { return port_; }
    // Until the last device has answered or timed out.
    bool Searching() const { return finder_ && !finder_->Finished(); }

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
    void StepSearch();
    void ShowDevices();

    TFinderOptions options_;
    std::unique_ptr<TMeterFinder> finder_;
    QTimer stepTimer_;
    bool searched_ = false;
    QString host_;
    int port_ = 0;
};
