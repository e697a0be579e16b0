#include "gui/readingviews.h"

#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QTableView>
#include <QTimeZone>
#include <algorithm>
#include <cmath>

#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "gui/qtlanguage.h"
#include "gui/translatable.h"

namespace {

constexpr double kMinute = 1.0 / 1440;

QString T(const char* s) { return QString::fromStdString(Tr(s)); }

QString Number(const std::optional<double>& v, int decimals) { return v ? NumberText(*v, decimals) : QString(); }

QString DateText(const std::optional<double>& v) { return v ? DateTimeText(*v) : QString(); }

// A year of one-minute readings is half a million points for a few hundred
// pixels: keep each bucket's lowest and highest, in time order, so the
// curve looks the same and repaints stay quick.
std::vector<std::pair<double, double>> Thinned(std::vector<std::pair<double, double>> points) {
    constexpr size_t kMaxPoints = 20000, kBuckets = 4000;
    if (points.size() <= kMaxPoints) return points;
    std::vector<std::pair<double, double>> out;
    out.reserve(kBuckets * 2);
    const size_t per = (points.size() + kBuckets - 1) / kBuckets;
    for (size_t b = 0; b < points.size(); b += per) {
        const auto first = points.begin() + static_cast<std::ptrdiff_t>(b);
        const auto last = points.begin() + static_cast<std::ptrdiff_t>(std::min(points.size(), b + per));
        const auto [lo, hi] = std::minmax_element(first, last, [](const auto& a, const auto& c) { return a.second < c.second; });
        if (lo->first <= hi->first) {
            out.push_back(*lo);
            if (hi != lo) out.push_back(*hi);
        } else {
            out.push_back(*hi);
            out.push_back(*lo);
        }
    }
    return out;
}

QString TimeText(const std::optional<double>& v) {
    if (!v) return {};
    return ToQDateTime(*v).time().toString(QLocale().timeFormat(QLocale::LongFormat).remove(QLatin1Char('t')).trimmed());
}

}  // namespace

QDateTime ToQDateTime(double dt) {
    const DateTimeParts p = DecodeDateTime(dt);
    return QDateTime(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second, p.msec), QTimeZone::utc());
}

double FromQDate(const QDate& d) { return EncodeDate(d.year(), d.month(), d.day()); }

double FromQTime(const QTime& t) { return EncodeTime(t.hour(), t.minute(), t.second(), t.msec()); }

TReadingTableModel::TReadingTableModel(std::vector<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)) {}

void TReadingTableModel::SetRows(std::vector<TReadingRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void TReadingTableModel::RemoveCodes(const std::set<std::string>& codes) {
    if (codes.empty()) return;
    beginResetModel();
    rows_.erase(std::remove_if(rows_.begin(), rows_.end(), [&](const TReadingRow& r) { return codes.count(r.Code) > 0; }),
                rows_.end());
    endResetModel();
}

int TReadingTableModel::ColumnOf(Column c) const {
    const auto it = std::find(columns_.begin(), columns_.end(), c);
    return it == columns_.end() ? -1 : static_cast<int>(it - columns_.begin());
}

int TReadingTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TReadingTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TReadingTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TReadingRow& r = rows_[static_cast<size_t>(index.row())];
    const Column c = columns_[static_cast<size_t>(index.column())];
    if (role == Qt::TextAlignmentRole) {
        const bool number = c == Column::SqmValue || c == Column::Nelm || c == Column::SensorTemp ||
                            c == Column::SunHeight || c == Column::MoonHeight || c == Column::MoonPhase ||
                            c == Column::MoonAge || c == Column::MoonIllum;
        return QVariant::fromValue(Qt::Alignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    if (role != Qt::DisplayRole) return {};
    switch (c) {
        case Column::Date: return DateText(r.DateTime);
        case Column::SqmValue: return Number(r.Corrected(), 2);
        case Column::Nelm: return Number(r.Nelm(), 2);
        case Column::SensorTemp: return Number(r.Temperature, 1);
        case Column::State: return QString::fromStdString(StateText(r.State));
        case Column::Uploaded: return QString::fromStdString(FlagText(r.Uploaded));
        case Column::Syncro: return QString::fromStdString(FlagText(r.Syncro));
        // Times of day: their date part is day zero, "30/12/1899", and means nothing.
        case Column::NightStarts: return TimeText(r.NightStarts);
        case Column::NightEnds: return TimeText(r.NightEnds);
        case Column::SunHeight: return Number(r.SunHeight, 2);
        case Column::MoonHeight: return Number(r.MoonHeight, 2);
        case Column::MoonPhase: return Number(r.MoonPhase, 2);
        case Column::MoonAge: return Number(r.MoonAge, 2);
        case Column::MoonIllum: return Number(r.MoonIllum, 2);
    }
    return {};
}

QVariant TReadingTableModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount()) return {};
    switch (columns_[static_cast<size_t>(section)]) {
        case Column::Date: return T("Date");
        case Column::SqmValue: return T("SQM Value");
        case Column::Nelm: return T("NELM");
        case Column::SensorTemp: return T("Sensor temp.");
        case Column::State: return T("State");
        case Column::Uploaded: return T("Uploaded");
        case Column::Syncro: return T("Syncronized");
        case Column::NightStarts: return T("Night starts");
        case Column::NightEnds: return T("Night ends");
        case Column::SunHeight: return T("Sun height");
        case Column::MoonHeight: return T("Moon height");
        case Column::MoonPhase: return T("Moon phase");
        case Column::MoonAge: return T("Moon age");
        case Column::MoonIllum: return T("illuminated %");
    }
    return {};
}

QTableView* MakeReadingGrid(const char* name, TReadingTableModel* model) {
    auto* grid = new QTableView;
    grid->setObjectName(QString::fromLatin1(name));
    grid->setModel(model);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setAlternatingRowColors(true);
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setDefaultSectionSize(100);
    grid->horizontalHeader()->setStretchLastSection(true);
    const int date = model->ColumnOf(TReadingTableModel::Column::Date);
    if (date >= 0) grid->setColumnWidth(date, grid->fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000 00:00:00 UTC")) + 16);
    // A time and its caption fit unclipped, whatever the language's time format.
    const QString latest = TimeText(EncodeTime(23, 59, 59, 0));
    for (const auto column : {TReadingTableModel::Column::NightStarts, TReadingTableModel::Column::NightEnds}) {
        const int c = model->ColumnOf(column);
        if (c < 0) continue;
        const QString caption = model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        const int wanted = std::max(grid->fontMetrics().horizontalAdvance(latest),
                                    grid->horizontalHeader()->fontMetrics().horizontalAdvance(caption)) + 24;
        grid->setColumnWidth(c, std::max(grid->columnWidth(c), wanted));
    }
    return grid;
}

TReadingChart::TReadingChart(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumHeight(220);
    PaintsTranslatedTexts(this);
    data_.From = 0;
    data_.To = 1;
}

void TReadingChart::SetTitle(const QString& title) {
    title_ = title;
    update();
}

void TReadingChart::SetData(TNightPlotData data) {
    data_ = std::move(data);
    update();
}

TPlotTexts TReadingChart::Texts() const {
    TPlotTexts t;
    t.Title = title_.toStdString();
    t.Subtitle = std::string();
    t.TimeAxis = Tr(N_("Time (UTC)"));
    t.ValueAxis = Tr(N_("Sky brightness (mag/arcsec²)"));
    t.ReadingsOne = Tr(N_("Sky brightness (1 reading)"));
    t.ReadingsMany = Tr(N_("Sky brightness (%1 readings)"));
    t.Dark = Tr(N_("Astronomical night (Sun below −18°)"));
    t.MoonUp = Tr(N_("Moon above the horizon"));
    t.Cloudy = Tr(N_("Cloudy"));
    t.Twilight = Tr(N_("Sun at −18° (astronomical dusk, dawn)"));
    t.Dusk = Tr(N_("dusk %1"));
    t.Dawn = Tr(N_("dawn %1"));
    t.NoReadings = Tr(N_("No readings"));
    t.LeftOut = Tr(N_("%1 left out: a value no meter can give"));
    t.InfoLine = false;
    t.WholeHours = false;
    t.DecimalSeparator = LanguageFormats().DecimalSeparator;
    return t;
}

TPlotStyle TReadingChart::Style() {
    TPlotStyle s;
    s.Readings = QColor(255, 0, 0);
    return s;
}

void TReadingChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    RenderNightPlot(data_, p, size(), Style(), Texts());
}

TReadingChart* MakeReadingChart(const char* name, const QString& title) {
    auto* view = new TReadingChart;
    view->setObjectName(QString::fromLatin1(name));
    view->SetTitle(title);
    return view;
}

std::optional<TSitePosition> PositionOf(const std::optional<double>& latitude, const std::optional<double>& longitude) {
    if (!latitude || !longitude || !std::isfinite(*latitude) || !std::isfinite(*longitude)) return std::nullopt;
    return TSitePosition{*latitude, *longitude};
}

void PlotReadings(TReadingChart* view, const std::vector<TReadingRow>& rows, bool corrected, const QString& title,
                  std::optional<TQueryWindow> span, std::optional<TSitePosition> position) {
    std::vector<std::pair<double, double>> points;
    points.reserve(rows.size());
    size_t leftOut = 0;
    for (const TReadingRow& r : rows) {
        const std::optional<double> v = corrected ? r.Corrected() : r.Value;
        if (v && std::isfinite(*v))
            points.emplace_back(r.DateTime, *v);
        else if (r.LeftOut)
            ++leftOut;
    }
    std::sort(points.begin(), points.end());
    points = Thinned(std::move(points));

    TNightPlotData d;
    d.LeftOut = leftOut;
    d.Readings.reserve(points.size());
    for (const auto& [t, v] : points) d.Readings.push_back({t, v});
    d.Cloudy = CloudySpans(rows, 0);
    if (span) {
        d.From = span->Start;
        d.To = span->Stop;
    } else if (!points.empty()) {
        // The readings' own span, with room at both ends for their markers;
        // a lone reading gets half an hour around it.
        const double first = points.front().first, last = points.back().first;
        const double pad = last > first ? std::max((last - first) * 0.03, 2 * kMinute) : 15 * kMinute;
        d.From = first - pad;
        d.To = last + pad;
    } else {
        d.From = std::floor(NowUtc() * 24) / 24;
        d.To = d.From + 1.0 / 24;
    }
    if (!(d.To > d.From)) {  // an interval that ends where it starts: the hour around it
        d.From -= 1.0 / 48;
        d.To = d.From + 1.0 / 24;
    }
    d.NightDate = std::floor(d.From - 0.5);
    d.LocalToUtc = 0;  // the window's times are UTC
    constexpr double kNightChartDays = 3;
    if (position) {
        d.Latitude = position->Latitude;
        d.Longitude = position->Longitude;
        if (d.To - d.From <= kNightChartDays)
            d.Astronomy = ComputeNightAstronomy(position->Latitude, position->Longitude, d.From, d.To, 0);
    }
    view->SetTitle(title);
    view->SetData(std::move(d));
}
