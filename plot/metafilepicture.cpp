#include "plot/metafilepicture.h"

#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSaveFile>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "plot/metafilerecords.h"

namespace {

using namespace metafile;

// Metafile units per pixel of the view. Four keeps Qt's half-pixel line
// positions; WMF coordinates are 16-bit, so a very large view gets fewer.
constexpr int kUnitsPerPixel = 4;

std::optional<QRgb> BrushColor(const QBrush& b) {
    if (b.style() == Qt::NoBrush) return std::nullopt;
    QColor c = b.color();
    if (const QGradient* g = b.gradient(); g && !g->stops().isEmpty()) c = g->stops().at(g->stops().size() / 2).second;
    if (!c.isValid() || c.alpha() == 0) return std::nullopt;
    return c.rgb();
}

// Qt's drawing calls turned into records: coordinates through the
// painter's transform into file units, Qt pens and brushes into GDI ones.
class TMetafileEngine : public QPaintEngine {
public:
    TMetafileEngine(TPictureFormat format, int unitsPerPixel)
        : QPaintEngine(AllFeatures), k_(unitsPerPixel) {
        writer_ = MakeRecordWriter(format);
    }

    // Where libuemf writes, and what the file spans.
    void SetTarget(const QString& path, QSize units, QSizeF millimetres) {
        path_ = path;
        units_ = units;
        mm_ = millimetres;
    }
    bool Finished() const { return finished_; }

    bool begin(QPaintDevice* device) override {
        finished_ = false;
        device_ = device;
        pen_ = QPen();
        brush_ = QBrush();
        matrix_ = QTransform();
        userClip_.reset();
        clipEnabled_ = false;
        return writer_ && !path_.isEmpty() && writer_->Start(path_, units_, mm_);
    }

    bool end() override {
        Flush();
        finished_ = writer_ && writer_->Finish();
        return finished_;
    }

    Type type() const override { return static_cast<Type>(User + 17); }

    void updateState(const QPaintEngineState& s) override {
        const DirtyFlags f = s.state();
        if (f & DirtyTransform) matrix_ = s.transform();
        if (f & DirtyPen) pen_ = s.pen();
        if (f & DirtyBrush) brush_ = s.brush();
        if (f & DirtyClipPath) Clip(s.clipOperation(), s.clipPath().boundingRect());
        if (f & DirtyClipRegion) Clip(s.clipOperation(), QRectF(s.clipRegion().boundingRect()));
        if (f & DirtyClipEnabled) clipEnabled_ = s.isClipEnabled();
    }

    using QPaintEngine::drawLines;
    using QPaintEngine::drawPolygon;
    using QPaintEngine::drawRects;

    void drawPath(const QPainterPath& path) override {
        std::vector<QPolygon> polys;
        for (const QPolygonF& p : path.toSubpathPolygons(ToUnits())) AddPolygon(polys, p);
        Shape(polys, path.fillRule(), false);
    }

    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override {
        std::vector<QPolygon> polys;
        AddPolygon(polys, ToUnits().map(QPolygonF(QList<QPointF>(points, points + count))));
        if (mode == PolylineMode) {
            Stroke(polys);
            return;
        }
        Shape(polys, mode == WindingMode ? Qt::WindingFill : Qt::OddEvenFill, true);
    }

    // Qt Charts draws a solid series one segment at a time: segments that
    // go on from the last one's end are gathered into one polyline.
    void drawLines(const QLineF* lines, int count) override {
        const auto pen = PenKey();
        const auto clip = ClipUnits();
        if (!pen || !clip) return;
        if (pending_ && (pending_->Pen != *pen || pending_->Clip != *clip)) Flush();
        if (!pending_) pending_ = TPendingLines{*pen, *clip, {}};
        const QTransform t = ToUnits();
        for (int i = 0; i < count; ++i) {
            const QPoint a = t.map(lines[i].p1()).toPoint(), b = t.map(lines[i].p2()).toPoint();
            if (a == b) continue;
            std::vector<QPolygon>& runs = pending_->Runs;
            if (!runs.empty() && runs.back().last() == a)
                runs.back().append(b);
            else
                runs.push_back(QPolygon({a, b}));
        }
    }

    void drawRects(const QRectF* rects, int count) override {
        if (matrix_.type() > QTransform::TxScale) {  // turned: as polygons
            for (int i = 0; i < count; ++i) {
                const QPolygonF corners(rects[i]);
                drawPolygon(corners.constData(), static_cast<int>(corners.size()), OddEvenMode);
            }
            return;
        }
        const auto pen = PenKey();
        const auto brush = BrushColor(brush_);
        if (!pen && !brush) return;
        std::vector<QRect> boxes;
        QRect extent;
        for (int i = 0; i < count; ++i) {
            boxes.push_back(ToUnits().mapRect(rects[i].normalized()).toRect());
            extent |= boxes.back();
        }
        if (!PrepareDraw(extent, pen ? pen->Width : 0)) return;
        writer_->UsePen(pen.value_or(kNullPen));
        writer_->UseBrush(brush ? TBrushKey{U_BS_SOLID, *brush} : kNullBrush);
        for (const QRect& box : boxes) writer_->Rectangle(box);
    }

    void drawTextItem(const QPointF& p, const QTextItem& ti) override {
        const QString text = ti.text();
        if (text.isEmpty()) {  // glyphs with no characters behind them: their outlines
            QPaintEngine::drawTextItem(p, ti);
            return;
        }
        const auto color = BrushColor(pen_.brush());
        if (!color) return;

        const QFont font = ti.font();
        const qreal dpi = device_ ? device_->logicalDpiY() : 96;
        const qreal px = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * dpi / 72.0;
        const QTransform& m = matrix_;
        const qreal sx = std::hypot(m.m11(), m.m12()), sy = std::hypot(m.m21(), m.m22());
        // Qt turns clockwise on screen, GDI's escapement anticlockwise.
        int escapement = static_cast<int>(std::lround(-std::atan2(m.m12(), m.m11()) * 1800.0 / std::numbers::pi));
        escapement = ((escapement % 3600) + 3600) % 3600;

        TFontKey key;
        const QString family = QFontInfo(font).family();
        key.Face.assign(reinterpret_cast<const char16_t*>(family.utf16()), family.size());
        key.Height = -std::max(1, static_cast<int>(std::lround(px * sy * k_)));
        key.Escapement = escapement;
        key.Weight = std::clamp(static_cast<int>(font.weight()), 1, 1000);
        key.Italic = font.italic();
        key.Underline = font.underline() || (ti.renderFlags() & QTextItem::Underline);
        key.StrikeOut = font.strikeOut() || (ti.renderFlags() & QTextItem::StrikeOut);

        // Each character's advance as Qt laid the line out, so the text keeps
        // its width with whatever font the reader has.
        const QFontMetricsF fm(font, device_);
        const qreal natural = fm.horizontalAdvance(text);
        const qreal fit = natural > 0 ? ti.width() / natural : 1.0;
        std::vector<int> dx(text.size(), 0);
        long placed = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const qsizetype upTo = (text[i].isHighSurrogate() && i + 1 < text.size()) ? i + 2 : i + 1;
            const long edge = std::lround(fm.horizontalAdvance(text.left(upTo)) * fit * sx * k_);
            dx[i] = static_cast<int>(edge - placed);
            placed = edge;
            i = upTo - 1;
        }

        TTextRun run;
        run.Baseline = ToUnits().map(p).toPoint();
        run.Top = ToUnits().map(QPointF(p.x(), p.y() - ti.ascent())).toPoint();
        run.Text = text;
        run.Dx = std::move(dx);
        run.Bounds =
            ToUnits().mapRect(QRectF(p.x(), p.y() - ti.ascent(), ti.width(), ti.ascent() + ti.descent())).toAlignedRect();
        if (!PrepareDraw(run.Bounds)) return;
        writer_->UseFont(key);
        writer_->UseTextColor(*color);
        writer_->Text(run);
    }

    void drawPixmap(const QRectF& r, const QPixmap& pm, const QRectF& sr) override {
        drawImage(r, pm.toImage(), sr, Qt::AutoColor);
    }

    void drawImage(const QRectF& r, const QImage& image, const QRectF& sr, Qt::ImageConversionFlags) override {
        const QRect dest = ToUnits().mapRect(r).toAlignedRect();
        if (image.isNull() || dest.isEmpty() || !PrepareDraw(dest)) return;
        const QImage part = sr == QRectF(image.rect()) ? image : image.copy(sr.toAlignedRect());
        // GDI has no alpha here: the picture is laid on white, as charts are.
        QImage flat(part.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        {
            QPainter onWhite(&flat);
            onWhite.drawImage(0, 0, part);
        }
        writer_->Image(dest, flat);
    }

private:
    int k_;
    std::unique_ptr<TRecordWriter> writer_;
    QString path_;
    QSize units_;
    QSizeF mm_;
    bool finished_ = false;
    QPaintDevice* device_ = nullptr;

    QPen pen_;
    QBrush brush_;
    QTransform matrix_;
    std::optional<QRectF> userClip_;  // in device pixels
    bool clipEnabled_ = false;

    struct TPendingLines {
        TPenKey Pen;
        std::optional<QRect> Clip;
        std::vector<QPolygon> Runs;
    };
    std::optional<TPendingLines> pending_;

    QTransform ToUnits() const { return matrix_ * QTransform::fromScale(k_, k_); }

    void Flush() {
        if (!pending_) return;
        TPendingLines lines = std::move(*pending_);
        pending_.reset();
        if (lines.Runs.empty()) return;
        writer_->UseClip(Needed(lines.Clip, Bounds(lines.Runs), lines.Pen.Width));
        writer_->UsePen(lines.Pen);
        writer_->PolyPolyline(lines.Runs);
    }

    void Clip(Qt::ClipOperation op, const QRectF& logical) {
        const QRectF r = matrix_.mapRect(logical);
        if (op == Qt::NoClip)
            userClip_.reset();
        else if (op == Qt::IntersectClip && userClip_)
            userClip_ = userClip_->intersected(r);
        else
            userClip_ = r;
    }

    // The clip rectangle in units: an empty optional inside for no clip,
    // none at all when nothing can show.
    std::optional<std::optional<QRect>> ClipUnits() const {
        std::optional<QRectF> clip;
        if (clipEnabled_ && userClip_) clip = *userClip_;
        if (const QRegion system = systemClip(); !system.isEmpty())
            clip = clip ? clip->intersected(QRectF(system.boundingRect())) : QRectF(system.boundingRect());
        if (!clip) return std::optional<QRect>();
        const QRect units = QTransform::fromScale(k_, k_).mapRect(*clip).toAlignedRect();
        if (units.isEmpty()) return std::nullopt;
        return std::optional<QRect>(units);
    }

    // The clip a drawing over extent needs: none when it lies inside. Fewer
    // clip records, and readers that turn a clip with turned text (emf2svg)
    // have none to turn.
    static std::optional<QRect> Needed(const std::optional<QRect>& clip, const QRect& extent, int penWidth = 0) {
        const int m = (penWidth + 1) / 2;
        if (clip && !clip->contains(extent.adjusted(-m, -m, m, m))) return clip;
        return std::nullopt;
    }

    // Writes what waits and brings the file's clip up to date for a drawing
    // over extent (units); false when nothing can show.
    bool PrepareDraw(const QRect& extent, int penWidth = 0) {
        Flush();
        const auto clip = ClipUnits();
        if (!clip) return false;
        writer_->UseClip(Needed(*clip, extent, penWidth));
        return true;
    }

    std::optional<TPenKey> PenKey() const {
        if (pen_.style() == Qt::NoPen) return std::nullopt;
        const auto color = BrushColor(pen_.brush());
        if (!color) return std::nullopt;
        const qreal w = pen_.widthF();
        const bool cosmetic = pen_.isCosmetic() || w == 0;
        const qreal scale = std::sqrt(std::abs(matrix_.determinant()));
        const qreal pixels = cosmetic ? std::max<qreal>(w, 1) : w * scale;
        TPenKey key;
        key.Width = std::max(1, static_cast<int>(std::lround(pixels * k_)));
        key.Color = *color;
        switch (pen_.style()) {
        case Qt::DashLine: key.Style = U_PS_DASH; break;
        case Qt::DotLine: key.Style = U_PS_DOT; break;
        case Qt::DashDotLine: key.Style = U_PS_DASHDOT; break;
        case Qt::DashDotDotLine: key.Style = U_PS_DASHDOTDOT; break;
        default: {  // solid, and custom dashes drawn solid
            uint32_t cap = U_PS_ENDCAP_SQUARE, join = U_PS_JOIN_BEVEL;
            if (pen_.capStyle() == Qt::FlatCap) cap = U_PS_ENDCAP_FLAT;
            if (pen_.capStyle() == Qt::RoundCap) cap = U_PS_ENDCAP_ROUND;
            if (pen_.joinStyle() == Qt::MiterJoin || pen_.joinStyle() == Qt::SvgMiterJoin) join = U_PS_JOIN_MITER;
            if (pen_.joinStyle() == Qt::RoundJoin) join = U_PS_JOIN_ROUND;
            key.Style = U_PS_SOLID | cap | join;
        }
        }
        return key;
    }

    // Rounded to units, repeated points dropped; a polygon of one point is none.
    static void AddPolygon(std::vector<QPolygon>& polys, const QPolygonF& p) {
        QPolygon q;
        q.reserve(p.size());
        for (const QPointF& pt : p) {
            const QPoint r = pt.toPoint();
            if (q.isEmpty() || q.last() != r) q.append(r);
        }
        if (q.size() >= 2) polys.push_back(std::move(q));
    }

    void Stroke(const std::vector<QPolygon>& lines) {
        const auto pen = PenKey();
        if (!pen || lines.empty() || !PrepareDraw(Bounds(lines), pen->Width)) return;
        writer_->UsePen(*pen);
        writer_->PolyPolyline(lines);
    }

    // A filled and outlined shape. Open figures are filled as if closed but
    // outlined open, as Qt does.
    void Shape(const std::vector<QPolygon>& polys, Qt::FillRule rule, bool closed) {
        const auto pen = PenKey();
        const auto brush = BrushColor(brush_);
        if (polys.empty() || (!pen && !brush) || !PrepareDraw(Bounds(polys), pen ? pen->Width : 0)) return;
        bool allClosed = closed;
        if (!allClosed) {
            allClosed = true;
            for (const QPolygon& p : polys) allClosed = allClosed && p.size() > 2 && p.first() == p.last();
        }
        if (brush) {
            std::vector<QPolygon> areas;
            for (const QPolygon& p : polys)
                if (p.size() > 2) areas.push_back(p);
            if (!areas.empty()) {
                writer_->UseFillMode(rule);
                writer_->UseBrush(TBrushKey{U_BS_SOLID, *brush});
                writer_->UsePen(pen && allClosed ? *pen : kNullPen);
                writer_->PolyPolygon(areas);
                if (pen && allClosed) return;
            }
        }
        if (!pen) return;
        if (closed) {  // outline of a polygon: back to its first point
            std::vector<QPolygon> rings = polys;
            for (QPolygon& r : rings)
                if (r.first() != r.last()) r.append(r.first());
            Stroke(rings);
            return;
        }
        Stroke(polys);
    }
};

}  // namespace

QString PictureSaveError(const QString& fileName, const QString& why) {
    return QStringLiteral("The graph could not be saved to \"%1\": %2").arg(QDir::toNativeSeparators(fileName), why);
}

struct TMetafilePicture::TImpl {
    QSize Pixels;
    int Dpi = 96;
    QTemporaryFile Scratch{QDir::tempPath() + QStringLiteral("/kalosqm-chart-XXXXXX")};
    std::unique_ptr<TMetafileEngine> Engine;
    bool Ready = false;
};

TMetafilePicture::TMetafilePicture(QSize sizePixels, TPictureFormat format, int dpi) : d_(std::make_unique<TImpl>()) {
    d_->Pixels = sizePixels.expandedTo(QSize(1, 1));
    d_->Dpi = dpi > 0 ? dpi : 96;
    const int longest = std::max(d_->Pixels.width(), d_->Pixels.height());
    const int k = format == TPictureFormat::Metafile ? std::clamp(32000 / longest, 1, kUnitsPerPixel) : kUnitsPerPixel;
    d_->Engine = std::make_unique<TMetafileEngine>(format, k);
    // libuemf writes to a file of ours; Save copies it whole to the user's name.
    if (d_->Scratch.open()) {
        d_->Scratch.close();
        d_->Ready = true;
        const QSizeF mm(d_->Pixels.width() * 25.4 / d_->Dpi, d_->Pixels.height() * 25.4 / d_->Dpi);
        d_->Engine->SetTarget(d_->Scratch.fileName(), d_->Pixels * k, mm);
    }
}

TMetafilePicture::~TMetafilePicture() = default;

QPaintEngine* TMetafilePicture::paintEngine() const { return d_->Engine.get(); }

int TMetafilePicture::metric(PaintDeviceMetric metric) const {
    switch (metric) {
    case PdmWidth: return d_->Pixels.width();
    case PdmHeight: return d_->Pixels.height();
    case PdmWidthMM: return static_cast<int>(std::lround(d_->Pixels.width() * 25.4 / d_->Dpi));
    case PdmHeightMM: return static_cast<int>(std::lround(d_->Pixels.height() * 25.4 / d_->Dpi));
    case PdmNumColors: return std::numeric_limits<int>::max();
    case PdmDepth: return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY: return d_->Dpi;
    case PdmDevicePixelRatio: return 1;
    case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
    default: return QPaintDevice::metric(metric);
    }
}

bool TMetafilePicture::Save(const QString& fileName, QString* error) const {
    const auto fail = [&](const QString& why) {
        if (error) *error = PictureSaveError(fileName, why);
        return false;
    };
    if (!d_->Ready) return fail(QStringLiteral("no temporary file could be made for the picture"));
    if (!d_->Engine->Finished()) return fail(QStringLiteral("the picture could not be drawn"));
    QFile scratch(d_->Scratch.fileName());
    if (!scratch.open(QIODevice::ReadOnly)) return fail(scratch.errorString());
    const QByteArray bytes = scratch.readAll();
    QSaveFile out(fileName);
    if (!out.open(QIODevice::WriteOnly)) return fail(out.errorString());
    if (out.write(bytes) != bytes.size()) return fail(out.errorString());
    if (!out.commit()) return fail(out.errorString());
    return true;
}
