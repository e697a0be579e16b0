#pragma once
// The grids and charts of stored readings in a site window.
#include <QAbstractTableModel>
#include <QDateTime>
#include <QWidget>
#include <optional>
#include <set>
#include <vector>

#include "core/site/localquery.h"
#include "plot/plotrender.h"

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

// A chart of readings, drawn as the published night plot is (plotrender.h)
// so the window, its saved pictures and the plots read alike: one red line,
// times in UTC, broken at long gaps, markers when the readings are few, and
// on a night with the site's position the astronomical night and the Moon
// above the horizon shaded. Its words follow the window's language.
class TReadingChart : public QWidget {
    Q_OBJECT
public:
    explicit TReadingChart(QWidget* parent = nullptr);
    void SetTitle(const QString& title);
    QString Title() const { return title_; }
    void SetData(TNightPlotData data);
    const TNightPlotData& Data() const { return data_; }
    // The words as drawn now, in the window's language.
    TPlotTexts Texts() const;
    TNightPlotLayout Layout() const { return NightPlotLayout(data_, size(), Texts()); }
    static TPlotStyle Style();

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString title_;
    TNightPlotData data_;
};

// The chart of a site window, with an object name and the first title.
TReadingChart* MakeReadingChart(const char* name, const QString& title);

// Where a site is, to shade its nights; longitude east positive.
struct TSitePosition {
    double Latitude = 0, Longitude = 0;
};
std::optional<TSitePosition> PositionOf(const std::optional<double>& latitude, const std::optional<double>& longitude);

// Plots the rows in time order: the corrected value, or the stored one;
// over the given span (a night) or over the rows' own. A span of up to a
// few days with a position gets the Sun's and the Moon's hours.
void PlotReadings(TReadingChart* view, const std::vector<TReadingRow>& rows, bool corrected, const QString& title,
                  std::optional<TQueryWindow> span = std::nullopt, std::optional<TSitePosition> position = std::nullopt);
