#pragma once
// "Noctila settings": the site's code, its credentials file and what it
// allows, the readings waiting for the network, and sending them.
#include "programs/desktop/sitepage.h"

class QGroupBox;
class QProgressBar;
class TSemaforo;
class TSiteFormPrivate;

class TNetworkPage : public TSitePage {
public:
    explicit TNetworkPage(TSiteFormPrivate& w);
    QWidget* Tab() const override { return tab_; }
    void Bind(TFieldBinder& binder) override;
    void Shown() override { ShowCredentials(); }
    void ShowSite(const TSiteRow&, double) override;

    // The credentials file's situation and the reading counts.
    void ShowCredentials();
    void ShowReadingCounts();
    // "Set credentials": the site code, stored with the site.
    void SetCredentials();
    void CheckConnection();
    void SendWaitingRecords();

private:
    friend class TPanelProgress;
    TSiteFormPrivate& w_;
    QWidget* page_ = nullptr;
    QWidget* tab_ = nullptr;
    QGroupBox* gbCredentials_ = nullptr;
    QLabel* lblCrdStatus_ = nullptr;
    QLabel* lblUploading_ = nullptr;
    QLabel* lblDownloading_ = nullptr;
    QLabel* lblNumReadings_ = nullptr;
    QLabel* lblNewReadings_ = nullptr;
    QLabel* lblModReadings_ = nullptr;
    TSemaforo* light_ = nullptr;
    QWidget* pnlProgress_ = nullptr;
    QProgressBar* pbUpload_ = nullptr;
    QLabel* lblProgress1_ = nullptr;
    QLabel* lblProgress2_ = nullptr;
};
