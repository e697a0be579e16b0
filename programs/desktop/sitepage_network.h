#pragma once
// "Noctila settings": the site's code, its credentials file and what it
// allows, the readings waiting for the network, and sending them.
#include <memory>

#include "programs/desktop/sitepage.h"

class QGroupBox;
class QProgressBar;
class TSemaforo;
class TWaitingPass;
class TPanelProgress;

class TNetworkPage : public TSitePage {
public:
    explicit TNetworkPage(ISitePageContext& context);
    ~TNetworkPage() override;
    QWidget* Tab() const override { return tab_; }
    void Bind(TFieldBinder& binder) override;
    void Shown() override { ShowCredentials(); }
    void ShowSite(const TSiteRow&, double) override;

    // The credentials file's situation and the reading counts.
    void ShowCredentials();
    void ShowReadingCounts();
    // "Set credentials": the site code, stored with the site.
    void SetCredentials();
    // Both answer later, off the window's thread; the window goes on meanwhile.
    void CheckConnection();
    void SendWaitingRecords();
    // "Cancel" of the upload's panel: it ends after the reading under way.
    void CancelUpload();
    bool Uploading() const;
    // A check or an upload is under way.
    bool Working() const override { return checking_ || Uploading(); }

private:
    friend class TPanelProgress;
    ISitePageContext& ctx_;
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
    bool checking_ = false;
    std::shared_ptr<TWaitingPass> upload_;
    std::unique_ptr<TPanelProgress> progress_;
};
