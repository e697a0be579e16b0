#pragma once
// "Real time graph": the current night or the latest recorded readings,
// redrawn as readings arrive.
#include <QString>
#include <vector>

#include "gui/readingviews.h"
#include "programs/desktop/sitepage.h"

class QButtonGroup;

class TRealTimePage : public TSitePage {
public:
    explicit TRealTimePage(ISitePageContext& context);
    QWidget* Tab() const override { return page_; }
    void Shown() override { ShowChosenGraph(); }
    // Leaving the page closes the night.
    void Hidden() override;
    void Retranslate() override;
    void SaveSettings(QSettings& ini) const override;
    void RestoreSettings(QSettings& ini) override;

    TReadingChart* Chart() const { return chart_; }
    // "Show": the current night (read again) or the latest readings.
    void ShowChosenGraph();
    void ShowReading(const TSQM* station) override;

private:
    void ReopenCurrentNight();
    void Plot();
    // The latest readings were read again.
    void LatestReadingsChanged();

    ISitePageContext& ctx_;
    QWidget* page_ = nullptr;
    QButtonGroup* show_ = nullptr;
    QLabel* lblGraphTime_ = nullptr;
    QLabel* lblGraphValue_ = nullptr;
    TReadingChart* chart_ = nullptr;
    bool open_ = false;
    bool plotted_ = false;
    std::vector<TReadingRow> rows_;
    double night_ = 0;
};
