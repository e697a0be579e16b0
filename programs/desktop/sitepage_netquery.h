#pragma once
// "Noctila query": the site's readings as the network database holds
// them, charted and saved into the local database. Shown only where the
// credentials allow downloading.
#include <optional>
#include <vector>

#include "core/site/localquery.h"
#include "core/site/netquery.h"
#include "programs/desktop/sitepage_querybase.h"

class TNetQueryPage : public TQueryPage {
public:
    explicit TNetQueryPage(ISitePageContext& context);
    void Shown() override;
    // Leaving the page empties it.
    void Hidden() override;
    void Retranslate() override;
    bool Working() const override { return querying_; }

    // Previous / next night, without running the query.
    void StepNight(int days) override { controls_.StepDay(days); }
    void RunQuery() override;
    void SaveInLocalDatabase();

private:
    void QueryAnswered(const TQuerySelection& s, const TQueryWindow& w, const TNetQueryOutcome& o,
                       std::vector<TNetReading> rows, bool replaced, const std::optional<std::string>& error);
    bool querying_ = false;
    std::vector<TNetReading> table_;
    std::optional<TQuerySelection> chartSelection_;  // of the rows shown
};
