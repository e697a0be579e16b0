#pragma once
// "Database query": the site's readings of a night or an interval from the
// local database, exported, charted, deleted.
#include <QString>

class QLabel;

#include "core/site/localquery.h"
#include "programs/desktop/sitepage_querybase.h"

class TLocalQueryPage : public TQueryPage {
public:
    explicit TLocalQueryPage(ISitePageContext& context);
    void Shown() override;
    void Retranslate() override;
    void RestoreSettings(QSettings& ini) override;

    void RunQuery() override;
    // Previous / next night, then the query.
    void StepNight(int days) override;
    void ExportToFile();
    void DeleteSelected();
    void DeleteAllQueried();

private:
    void Replot();
    // The line that says a query found nothing.
    void ShowEmptyNote();

    QLabel* emptyNote_ = nullptr;
    bool open_ = false;
    QString title_;
    TQuerySelection selection_;  // of the query shown
};
