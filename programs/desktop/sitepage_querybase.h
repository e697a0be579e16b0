#pragma once
// What the two query pages share: the query's controls (kind, dates,
// order, previous and next night), the results' grid, chart and
// statistics, the "Run query" button, and their keys in the settings file.
#include <QString>
#include <vector>

#include "gui/querycontrols.h"
#include "programs/desktop/sitepage.h"

class QVBoxLayout;

class TQueryPage : public TSitePage {
public:
    QWidget* Tab() const override { return page_; }
    void ShowSite(const TSiteRow&, double) override { ShowKindControls(); }
    void SaveSettings(QSettings& ini) const override;
    void RestoreSettings(QSettings& ini) override;

    TReadingChart* Chart() const { return results_.Chart; }
    // The controls of the kind chosen (one night or an interval).
    void ShowKindControls() { controls_.ShowKind(); }
    virtual void RunQuery() = 0;
    // Previous / next night.
    virtual void StepNight(int days) = 0;

protected:
    struct TLayout {
        const char* Page;       // the page's object name
        const char* RunButton;  // "Run query"'s object name
        TQueryControlNames Controls;
        std::vector<TReadingTableModel::Column> Columns;
        std::vector<TReadingTableModel::Column> Hidden;  // whatever the settings file says
        const char* Tabs;
        const char* Grid;       // also its key "Grids/..." in the settings file
        const char* ChartName;
        const char* Statistics;
        std::vector<const char*> StatisticCaptions;
    };
    TQueryPage(ISitePageContext& context, const TLayout& layout);
    // A column of buttons after the query's controls, kept together when the row wraps.
    void AddButtons(std::initializer_list<QPushButton*> buttons);
    template <class F>
    QPushButton* Button(const char* caption, const char* name, F handler) {
        return SitePageButton(ctx_.Window(), caption, name, handler);
    }
    // The results under the controls; extra widgets go between the two.
    QVBoxLayout* Layout() const { return layout_; }

    ISitePageContext& ctx_;
    TQueryControls controls_;
    TQueryResults results_;

private:
    void HideColumns();

    QWidget* page_ = nullptr;
    QVBoxLayout* layout_ = nullptr;
    QString gridKey_;
    std::vector<TReadingTableModel::Column> hidden_;
};
