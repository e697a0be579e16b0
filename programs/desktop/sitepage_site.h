#pragma once
// "Site informations": where the meter is, the site's position, and the
// meter's identity with "Check connection".
#include "programs/desktop/sitepage.h"

class QPushButton;
class TSiteFormPrivate;

class TSiteInfoPage : public TSitePage {
public:
    explicit TSiteInfoPage(TSiteFormPrivate& w);
    QWidget* Tab() const override { return tab_; }
    void Bind(TFieldBinder& binder) override;

    // Asks the meter who it is and stores its identity with the site.
    void CheckConnection();
    // "Find...": a meter on the network, its address put in the record as if typed.
    void FindMeter();

private:
    TSiteFormPrivate& w_;
    QWidget* page_ = nullptr;
    QWidget* tab_ = nullptr;
};
