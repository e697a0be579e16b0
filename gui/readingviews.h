#pragma once
// The grids and charts of stored readings in a site window.
#include <QAbstractTableModel>
#include <QDateTime>
#include <set>
#include <vector>

#include "core/site/localquery.h"

class QChartView;
class QTableView;

// Reading times are UTC date-times; shown as they are, never shifted to
// the PC's zone.
QDateTime ToQDateTime(double dt);
double FromQDate(const QDate& d);
double FromQTime(const QTime& t);

class TReadingTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class Column {
        Date, SqmValue, Nelm, SensorTemp, State, Uploaded, Syncro, NightStarts, NightEnds,
        SunHeight, MoonHeight, MoonPhase, MoonAge, MoonIllum
    };
    explicit TReadingTableModel(std::vector<Column> columns, QObject* parent = nullptr);

    void SetRows(std::vector<TReadingRow> rows);
    void Clear() { SetRows({}); }
    const std::vector<TReadingRow>& Rows() const { return rows_; }
    // Drops the rows with these keys (after a deletion).
    void RemoveCodes(const std::set<std::string>& codes);
    int ColumnOf(Column c) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

private:
    std::vector<Column> columns_;
    std::vector<TReadingRow> rows_;
};

// A read-only grid that selects whole rows.
QTableView* MakeReadingGrid(const char* name, TReadingTableModel* model);

// A chart with one red line, no legend, flat, on white.
QChartView* MakeReadingChart(const char* name, const QString& title);
// Plots the rows in time order: the corrected value, or the stored one;
// over the given span (a night) or over the rows' own.
void PlotReadings(QChartView* view, const std::vector<TReadingRow>& rows, bool corrected, const QString& title,
                  std::optional<TQueryWindow> span = std::nullopt);
