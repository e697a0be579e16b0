#pragma once
// "Site informations": where the meter is, the site's position, and the
// meter's identity with "Check connection".
#include "core/site/siteactions.h"
#include "programs/desktop/sitepage.h"

class QPushButton;

class TSiteInfoPage : public TSitePage {
public:
    explicit TSiteInfoPage(ISitePageContext& context);
    QWidget* Tab() const override { return tab_; }
    void Bind(TFieldBinder& binder) override;

    // Asks the meter who it is, off the window's thread, and stores its
    // identity with the site once it answers.
    void CheckConnection();
    bool Working() const override { return checking_; }
    // "Find...": a meter on the network, its address put in the record as if typed.
    void FindMeter();

private:
    void MeterAnswered(const TSiteActions::TMeterAnswer& answer);
    ISitePageContext& ctx_;
    bool checking_ = false;
    QWidget* page_ = nullptr;
    QWidget* tab_ = nullptr;
};
