#pragma once
// "Noctila query": the site's readings as the network database holds
// them, charted and saved into the local database. Shown only where the
// credentials allow downloading.
#include <optional>
#include <vector>

#include "core/site/localquery.h"
#include "core/site/netquery.h"
#include "gui/querycontrols.h"
#include "programs/desktop/sitepage.h"

class TSiteFormPrivate;

class TNetQueryPage : public TSitePage {
public:
    explicit TNetQueryPage(TSiteFormPrivate& w);
    QWidget* Tab() const override { return page_; }
    void Shown() override;
    // Leaving the page empties it.
    void Hidden() override;
    void ShowSite(const TSiteRow&, double) override { ShowKindControls(); }
    void Retranslate() override;
    void SaveSettings(QSettings& ini) const override;
    void RestoreSettings(QSettings& ini) override;

    TReadingChart* Chart() const { return results_.Chart; }
    void ShowKindControls();
    // Previous / next night, without running the query.
    void StepNight(int days);
    void RunQuery();
    void SaveInLocalDatabase();

    bool Querying() const { return querying_; }

private:
    void QueryAnswered(const TQuerySelection& s, const TQueryWindow& w, const TNetQueryOutcome& o,
                       std::vector<TNetReading> rows, bool replaced, const std::optional<std::string>& error);
    bool querying_ = false;
    TSiteFormPrivate& w_;
    QWidget* page_ = nullptr;
    TQueryControls controls_;
    TQueryResults results_;
    std::vector<TNetReading> table_;
    std::optional<TQuerySelection> chartSelection_;  // of the rows shown
};
