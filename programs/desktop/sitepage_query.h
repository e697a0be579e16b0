#pragma once
// "Database query": the site's readings of a night or an interval from the
// local database, exported, charted, deleted.
#include <QString>

class QLabel;

#include "core/site/localquery.h"
#include "gui/querycontrols.h"
#include "programs/desktop/sitepage.h"

class TSiteFormPrivate;

class TLocalQueryPage : public TSitePage {
public:
    explicit TLocalQueryPage(TSiteFormPrivate& w);
    QWidget* Tab() const override { return page_; }
    void Shown() override;
    void ShowSite(const TSiteRow&, double) override { ShowKindControls(); }
    void Retranslate() override;
    void SaveSettings(QSettings& ini) const override;
    void RestoreSettings(QSettings& ini) override;

    TReadingChart* Chart() const { return results_.Chart; }
    // The controls of the kind chosen (one night or an interval).
    void ShowKindControls();
    void RunQuery();
    // Previous / next night, then the query.
    void StepNight(int days);
    void ExportToFile();
    void DeleteSelected();
    void DeleteAllQueried();

private:
    void Replot();
    // The line that says a query found nothing.
    void ShowEmptyNote();

    TSiteFormPrivate& w_;
    QWidget* page_ = nullptr;
    QLabel* emptyNote_ = nullptr;
    TQueryControls controls_;
    TQueryResults results_;
    bool open_ = false;
    QString title_;
    TQuerySelection selection_;  // of the query shown
};
