#pragma once
// "Nights": each night's quality (dark and clear readings, the sky
// brightness when clear) over chosen dates, and the chart of the clear
// nights with their trend.
#include <vector>

#include "core/site/nightquality.h"
#include "programs/desktop/sitepage.h"

class QDateEdit;
class QLabel;
class QTableWidget;
class TNightsChartView;

class TNightsPage : public TSitePage {
public:
    explicit TNightsPage(ISitePageContext& context);
    QWidget* Tab() const override { return page_; }
    void Shown() override;
    void Retranslate() override;

    // Summarises the chosen nights (kept ones are read, the others made).
    void ShowNights();
    void SetDates(double from, double to);
    const std::vector<TNightSummary>& Nights() const { return nights_; }

private:
    void Fill();

    ISitePageContext& ctx_;
    QWidget* page_ = nullptr;
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* trend_ = nullptr;
    TNightsChartView* chart_ = nullptr;
    std::vector<TNightSummary> nights_;
    bool shown_ = false;
};
