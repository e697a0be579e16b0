#pragma once
// "Check for updates": downloads the update information file and says
// whether the installed version is the current one.
#include <QDialog>
#include <QString>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

// An HTTP GET of url into file. True only for a complete 2xx answer; file
// is then replaced as a whole, and left as it was on any failure.
bool DownloadFile(const QString& url, const QString& file, int timeoutMs = 10000);

class TUpdateForm : public QDialog {
    Q_OBJECT
public:
    explicit TUpdateForm(QWidget* parent = nullptr);

    // The build's address unless a test points it at its own server.
    void SetUpdateUrl(const QString& url) { url_ = url; }
    QString UpdateUrl() const { return url_; }
    void SetTimeoutMs(int ms) { timeoutMs_ = ms; }

    // Fetches UpdInfo/KALOUPD.ini beside the program and reads its version;
    // false (version empty) when the transfer failed.
    bool CheckUpdates(std::string& currentVersion);

    void btnCheckClick();

    QLineEdit* InstalledVersion() const { return edInstalled_; }
    QLineEdit* CurrentVersion() const { return edCurrent_; }
    QLabel* UpdateLabel() const { return lbUpdate_; }
    QLabel* UpToDateLabel() const { return lbUpToDate_; }
    QLabel* FailedLabel() const { return lbFailed_; }
    QPushButton* CheckButton() const { return btnCheck_; }
    QPushButton* CloseButton() const { return btnClose_; }

private:
    QString url_;
    int timeoutMs_ = 10000;
    QLineEdit* edInstalled_;
    QLineEdit* edCurrent_;
    QLabel* lbUpdate_;
    QLabel* lbUpToDate_;
    QLabel* lbFailed_;
    QPushButton* btnCheck_;
    QPushButton* btnClose_;
};
