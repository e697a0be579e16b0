#pragma once
// The selection controls and the result pages that the local and the
// network query pages share: one night or an interval, an order, and the
// "Data" / "Graph" / "Statistics" pages under them.
#include <QString>
#include <vector>

#include "core/site/localquery.h"
#include "gui/readingviews.h"

class QButtonGroup;
class QDateEdit;
class QGridLayout;
class QHBoxLayout;
class QLayout;
class QLabel;
class QPushButton;
class QSettings;
class QTabWidget;
class QTableView;
class QTimeEdit;
class QWidget;

struct TQueryControlNames {
    const char* Kind;       // "RadioGroup1"
    const char* Order;      // "RadioGroup2"
    const char* DateStart;  // "DateStart"
    const char* DateEnd;
    const char* TimeStart;
    const char* TimeEnd;
    const char* Prev;  // "btnPrev"
    const char* Next;
};

class TQueryControls {
public:
    explicit TQueryControls(const TQueryControlNames& names);

    // Kind, dates and order, then the caller's groups of buttons, side by
    // side while the width allows (a tiled window wraps them).
    QLayout* Row() const { return row_; }
    // A group of buttons after the controls, kept together when the row wraps.
    void AddButtons(QLayout* group);
    QButtonGroup* Kind() const { return kind_; }
    QButtonGroup* Order() const { return order_; }
    QDateEdit* DateStart() const { return dateStart_; }
    QPushButton* Prev() const { return prev_; }
    QPushButton* Next() const { return next_; }

    // "One night": its label, Previous and Next; "Date interval": the end
    // date and both times.
    void ShowKind();
    // Chooses a kind and an order when none is chosen yet.
    void ChooseDefaults(TSortOrder order);
    TQuerySelection Selection() const;
    void StepDay(int days);
    // "One night" shows that night; an interval keeps its dates.
    void ShowNight(double nightDate);

    // The values under keys named after the controls ("DateStart.Date").
    void Save(QSettings& ini) const;
    void Restore(QSettings& ini);

private:
    TQueryControlNames names_;
    QLayout* row_;
    QButtonGroup* kind_;
    QButtonGroup* order_;
    QDateEdit *dateStart_, *dateEnd_;
    QTimeEdit *timeStart_, *timeEnd_;
    QLabel *lblDateStart_, *lblDateEnd_, *lblTimeStart_, *lblTimeEnd_;
    QPushButton *prev_, *next_;
};

// "Data", "Graph" and "Statistics" under a query.
struct TQueryResults {
    TQueryResults(const char* tabsName, const char* gridName, const char* chartName, const char* statsPrefix,
                  std::vector<TReadingTableModel::Column> columns, const std::vector<const char*>& statCaptions,
                  QObject* owner);
    void ShowStatistics(const std::vector<std::string>& texts);
    void ClearStatistics();

    QTabWidget* Tabs;
    TReadingTableModel* Model;
    QTableView* Grid;
    TReadingChart* Chart;
    std::vector<QLabel*> Stats;
};

// A button whose caption follows the language (a source marked with N_), with an object name.
QPushButton* MakeButton(const char* caption, const char* name);
