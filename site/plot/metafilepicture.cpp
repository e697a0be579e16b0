#include "metafilepicture.h"

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

#include <uemf.h>
#include <uwmf.h>

namespace {

// Metafile units per pixel of the view. Four keeps Qt's half-pixel line
// positions; WMF coordinates are 16-bit, so a very large view gets fewer.
constexpr int kUnitsPerPixel = 4;


U_COLORREF ColorRef(QRgb c) { return colorref3_set(qRed(c), qGreen(c), qBlue(c)); }

U_RECTL RectL(const QRect& r) { return U_RECTL{r.left(), r.top(), r.right(), r.bottom()}; }

int16_t Clamp16(int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }
U_POINT16 Point16(const QPoint& p) { return U_POINT16{Clamp16(p.x()), Clamp16(p.y())}; }
U_RECT16 Rect16(const QRect& r) {
    return U_RECT16{Clamp16(r.left()), Clamp16(r.top()), Clamp16(r.right()), Clamp16(r.bottom())};
}

// The GDI objects a drawing needs, by value: equal keys share one object.
struct TPenKey {
    uint32_t Style = U_PS_SOLID;
    int Width = 1;
    QRgb Color = 0;
    auto operator<=>(const TPenKey&) const = default;
};
struct TBrushKey {
    uint32_t Style = U_BS_SOLID;
    QRgb Color = 0;
    auto operator<=>(const TBrushKey&) const = default;
};
struct TFontKey {
    std::u16string Face;
    int Height = 0;      // negative: the em height, as Qt sizes fonts
    int Escapement = 0;  // tenths of a degree, anticlockwise on screen
    int Weight = 400;
    bool Italic = false, Underline = false, StrikeOut = false;
    auto operator<=>(const TFontKey&) const = default;
};

constexpr TPenKey kNullPen{U_PS_NULL, 0, 0};
constexpr TBrushKey kNullBrush{U_BS_NULL, 0};

// One line of text in file units: where its baseline and its top start,
// the advance after each UTF-16 unit, and where it is inked.
struct TTextRun {
    QPoint Baseline, Top;
    QString Text;
    std::vector<int> Dx;
    QRect Bounds;
};

// The records of one metafile, in its units. Objects are made once and
// only selected afterwards; SaveDC/RestoreDC bracket a clip rectangle, and
// what RestoreDC puts back is mirrored here so no selection is skipped.
class TRecordWriter {
public:
    virtual ~TRecordWriter() = default;

    virtual bool Start(const QString& path, QSize units, QSizeF millimetres) = 0;
    virtual bool Finish() = 0;

    void UsePen(const TPenKey& k) { Use(pens_, k, dc_.Pen, [&] { return NewPen(k); }); }
    void UseBrush(const TBrushKey& k) { Use(brushes_, k, dc_.Brush, [&] { return NewBrush(k); }); }
    void UseFont(const TFontKey& k) { Use(fonts_, k, dc_.Font, [&] { return NewFont(k); }); }
    void UseTextColor(QRgb c) {
        if (dc_.TextColor == c) return;
        EmitTextColor(c);
        dc_.TextColor = c;
    }
    void UseFillMode(Qt::FillRule rule) {
        const int mode = rule == Qt::WindingFill ? U_WINDING : U_ALTERNATE;
        if (dc_.FillMode == mode) return;
        EmitFillMode(mode);
        dc_.FillMode = mode;
    }
    void UseClip(const std::optional<QRect>& clip) {
        if (clip == clip_) return;
        if (clip_) {
            EmitRestoreDC();
            dc_ = saved_;
        }
        if (clip) {
            saved_ = dc_;
            EmitSaveDC();
            EmitClipRect(*clip);
        }
        clip_ = clip;
    }

    virtual void PolyPolyline(const std::vector<QPolygon>& lines) = 0;
    virtual void PolyPolygon(const std::vector<QPolygon>& polygons) = 0;
    // Filled and outlined with what is selected; r as Qt covers it.
    virtual void Rectangle(const QRect& r) = 0;
    virtual void Text(const TTextRun& run) = 0;
    virtual void Image(const QRect& dest, const QImage& image) = 0;

    bool Failed() const { return failed_; }

protected:
    static constexpr uint32_t kNone = 0xffffffffu;
    bool failed_ = false;

    virtual uint32_t NewPen(const TPenKey& k) = 0;
    virtual uint32_t NewBrush(const TBrushKey& k) = 0;
    virtual uint32_t NewFont(const TFontKey& k) = 0;
    virtual void Select(uint32_t handle) = 0;
    virtual void EmitTextColor(QRgb c) = 0;
    virtual void EmitFillMode(int mode) = 0;
    virtual void EmitSaveDC() = 0;
    virtual void EmitRestoreDC() = 0;
    virtual void EmitClipRect(const QRect& r) = 0;

    // A new file: no objects made, nothing selected.
    void ResetState() {
        dc_ = {};
        saved_ = {};
        clip_.reset();
        pens_.clear();
        brushes_.clear();
        fonts_.clear();
        failed_ = false;
    }

private:
    struct TDc {
        uint32_t Pen = kNone, Brush = kNone, Font = kNone;
        std::optional<QRgb> TextColor;
        int FillMode = U_ALTERNATE;
    };
    TDc dc_, saved_;
    std::optional<QRect> clip_;
    std::map<TPenKey, uint32_t> pens_;
    std::map<TBrushKey, uint32_t> brushes_;
    std::map<TFontKey, uint32_t> fonts_;

    template <class Key, class Make>
    void Use(std::map<Key, uint32_t>& cache, const Key& k, uint32_t& selected, Make make) {
        auto it = cache.find(k);
        if (it == cache.end()) it = cache.emplace(k, make()).first;
        if (selected == it->second) return;
        Select(it->second);
        selected = it->second;
    }
};

// A 24-bit bottom-up DIB of an opaque image, as both formats store pictures.
struct TDib {
    char* Px = nullptr;
    uint32_t CbPx = 0;
    PU_BITMAPINFO Bmi = nullptr;
    explicit TDib(const QImage& image) {
        const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
        PU_RGBQUAD ct = nullptr;
        int numCt = 0;
        if (RGBA_to_DIB(&Px, &CbPx, &ct, &numCt, reinterpret_cast<const char*>(rgba.constBits()), rgba.width(),
                        rgba.height(), static_cast<int>(rgba.bytesPerLine()), U_BCBM_COLOR24, 0, 1) != 0) {
            Px = nullptr;
            return;
        }
        const U_BITMAPINFOHEADER bmih =
            bitmapinfoheader_set(rgba.width(), rgba.height(), 1, U_BCBM_COLOR24, U_BI_RGB, CbPx, 0, 0, numCt, 0);
        Bmi = bitmapinfo_set(bmih, ct);
        std::free(ct);
    }
    ~TDib() {
        std::free(Px);
        std::free(Bmi);
    }
    TDib(const TDib&) = delete;
    TDib& operator=(const TDib&) = delete;
    bool Ok() const { return Px && Bmi; }
};

// "KALO - SQM\0Chart\0\0": the header's description, program then picture.
std::vector<uint16_t> Description() {
    std::vector<uint16_t> d;
    for (const char* part : {"KALO - SQM", "Chart"}) {
        for (const char* c = part; *c; ++c) d.push_back(static_cast<uint16_t>(*c));
        d.push_back(0);
    }
    d.push_back(0);
    return d;
}

QRect Bounds(const std::vector<QPolygon>& polys) {
    QRect r;
    for (const QPolygon& p : polys) r |= p.boundingRect();
    return r;
}

class TEmfWriter : public TRecordWriter {
public:
    ~TEmfWriter() override { Close(); }

    bool Start(const QString& path, QSize units, QSizeF mm) override {
        Close();
        ResetState();
        if (emf_start(QFile::encodeName(path).constData(), 1 << 16, 1 << 16, &et_) != 0 ||
            emf_htable_create(128, 128, &eht_) != 0)
            return false;
        const U_RECTL bounds{0, 0, units.width() - 1, units.height() - 1};
        const U_RECTL frame{0, 0, static_cast<int32_t>(std::lround(mm.width() * 100)) - 1,
                            static_cast<int32_t>(std::lround(mm.height() * 100)) - 1};
        std::vector<uint16_t> desc = Description();
        const U_SIZEL device = sizel_set(units.width(), units.height());
        const U_SIZEL millimetres = sizel_set(std::max(1L, std::lround(mm.width())), std::max(1L, std::lround(mm.height())));
        Append(U_EMRHEADER_set(bounds, frame, nullptr, static_cast<U_CBSTR>(desc.size()), desc.data(), device,
                               millimetres, 0));
        Append(U_EMRSETMAPMODE_set(U_MM_TEXT));
        Append(U_EMRSETBKMODE_set(U_TRANSPARENT));
        Append(U_EMRSETTEXTALIGN_set(U_TA_BASELINE | U_TA_LEFT | U_TA_NOUPDATECP));
        return !failed_;
    }

    bool Finish() override {
        if (!et_) return false;
        UseClip(std::nullopt);
        Append(U_EMREOF_set(0, nullptr, et_));
        const bool ok = !failed_ && emf_finish(et_, eht_) == 0;
        Close();
        return ok;
    }

    void PolyPolyline(const std::vector<QPolygon>& lines) override {
        if (lines.empty()) return;
        if (lines.size() == 1) {
            const std::vector<U_POINTL> pts = Points(lines);
            Append(U_EMRPOLYLINE_set(RectL(Bounds(lines)), static_cast<uint32_t>(pts.size()), pts.data()));
            return;
        }
        Poly(lines, U_EMRPOLYPOLYLINE_set);
    }

    void PolyPolygon(const std::vector<QPolygon>& polygons) override {
        if (polygons.empty()) return;
        if (polygons.size() == 1) {
            const std::vector<U_POINTL> pts = Points(polygons);
            Append(U_EMRPOLYGON_set(RectL(Bounds(polygons)), static_cast<uint32_t>(pts.size()), pts.data()));
            return;
        }
        Poly(polygons, U_EMRPOLYPOLYGON_set);
    }

    void Rectangle(const QRect& r) override {
        Append(U_EMRRECTANGLE_set(U_RECTL{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}));
    }

    // From the baseline (TA_BASELINE), with Qt's advances.
    void Text(const TTextRun& run) override {
        std::vector<uint32_t> advances(run.Dx.begin(), run.Dx.end());
        std::vector<uint16_t> chars(run.Text.utf16(), run.Text.utf16() + run.Text.size());
        char* emrtext = emrtext_set(point32_set(run.Baseline.x(), run.Baseline.y()),
                                    static_cast<U_NUM_STR>(chars.size()), 2, chars.data(), U_ETO_NONE,
                                    U_RECTL{0, 0, -1, -1}, advances.data());
        if (!emrtext) {
            failed_ = true;
            return;
        }
        Append(U_EMREXTTEXTOUTW_set(RectL(run.Bounds), U_GM_COMPATIBLE, 1.0f, 1.0f,
                                    reinterpret_cast<PU_EMRTEXT>(emrtext)));
        std::free(emrtext);
    }

    void Image(const QRect& dest, const QImage& image) override {
        TDib dib(image);
        if (!dib.Ok()) {
            failed_ = true;
            return;
        }
        Append(U_EMRSTRETCHDIBITS_set(RectL(dest), point32_set(dest.x(), dest.y()),
                                      point32_set(dest.width(), dest.height()), point32_set(0, 0),
                                      point32_set(image.width(), image.height()), U_DIB_RGB_COLORS, U_SRCCOPY, dib.Bmi,
                                      dib.CbPx, dib.Px));
    }

protected:
    // Geometric pens: their width is in file units, not device pixels.
    uint32_t NewPen(const TPenKey& k) override {
        uint32_t h = 0;
        const uint32_t style = k.Style == U_PS_NULL ? U_PS_NULL : (k.Style | U_PS_GEOMETRIC);
        PU_EXTLOGPEN elp = extlogpen_set(style, static_cast<uint32_t>(k.Width), U_BS_SOLID, ColorRef(k.Color), 0, 0, nullptr);
        if (!elp) {
            failed_ = true;
            return h;
        }
        Append(extcreatepen_set(&h, eht_, nullptr, 0, nullptr, elp));
        std::free(elp);
        return h;
    }
    uint32_t NewBrush(const TBrushKey& k) override {
        uint32_t h = 0;
        Append(createbrushindirect_set(&h, eht_, logbrush_set(k.Style, ColorRef(k.Color), 0)));
        return h;
    }
    uint32_t NewFont(const TFontKey& k) override {
        uint16_t face[U_LF_FACESIZE] = {};
        std::copy_n(k.Face.begin(), std::min<std::size_t>(k.Face.size(), U_LF_FACESIZE - 1), face);
        uint16_t style[U_LF_FACESIZE] = {};
        const std::u16string styleName = k.Weight >= 600 ? u"Bold" : u"Regular";
        std::copy(styleName.begin(), styleName.end(), style);
        const U_LOGFONT lf = logfont_set(k.Height, 0, k.Escapement, k.Escapement, k.Weight, k.Italic, k.Underline,
                                         k.StrikeOut, U_DEFAULT_CHARSET, U_OUT_TT_PRECIS, U_CLIP_DEFAULT_PRECIS,
                                         U_ANTIALIASED_QUALITY, U_DEFAULT_PITCH, face);
        const U_LOGFONT_PANOSE elfw =
            logfont_panose_set(lf, face, style, 0, panose_set(0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
        uint32_t h = 0;
        Append(extcreatefontindirectw_set(&h, eht_, nullptr, reinterpret_cast<const char*>(&elfw)));
        return h;
    }
    void Select(uint32_t handle) override { Append(selectobject_set(handle, eht_)); }
    void EmitTextColor(QRgb c) override { Append(U_EMRSETTEXTCOLOR_set(ColorRef(c))); }
    void EmitFillMode(int mode) override { Append(U_EMRSETPOLYFILLMODE_set(mode)); }
    void EmitSaveDC() override { Append(U_EMRSAVEDC_set()); }
    void EmitRestoreDC() override { Append(U_EMRRESTOREDC_set(-1)); }
    void EmitClipRect(const QRect& r) override {
        // GDI clip rectangles leave out their right and bottom edges.
        Append(U_EMRINTERSECTCLIPRECT_set(U_RECTL{r.left(), r.top(), r.right() + 1, r.bottom() + 1}));
    }

private:
    EMFTRACK* et_ = nullptr;
    EMFHANDLES* eht_ = nullptr;

    void Append(char* rec) {
        if (!rec || !et_ || emf_append(reinterpret_cast<PU_ENHMETARECORD>(rec), et_, 1) != 0) failed_ = true;
    }

    void Close() {
        if (et_) emf_free(&et_);
        if (eht_) emf_htable_free(&eht_);
        et_ = nullptr;
        eht_ = nullptr;
    }

    static std::vector<U_POINTL> Points(const std::vector<QPolygon>& polys) {
        std::vector<U_POINTL> pts;
        for (const QPolygon& p : polys)
            for (const QPoint& q : p) pts.push_back(point32_set(q.x(), q.y()));
        return pts;
    }

    template <class Make>
    void Poly(const std::vector<QPolygon>& polys, Make make) {
        std::vector<uint32_t> counts;
        for (const QPolygon& p : polys) counts.push_back(static_cast<uint32_t>(p.size()));
        const std::vector<U_POINTL> pts = Points(polys);
        Append(make(RectL(Bounds(polys)), static_cast<uint32_t>(counts.size()), counts.data(),
                    static_cast<uint32_t>(pts.size()), pts.data()));
    }
};

// Windows-1252, the code page of WMF text in an ANSI_CHARSET font; what it
// cannot show becomes '?'.
char Cp1252(char16_t c) {
    if (c < 0x80 || (c >= 0xa0 && c <= 0xff)) return static_cast<char>(c);
    static const char16_t k80[32] = {0x20ac, 0,      0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021,
                                     0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017d, 0,
                                     0,      0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014,
                                     0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0,      0x017e, 0x0178};
    for (int i = 0; i < 32; ++i)
        if (k80[i] == c) return static_cast<char>(0x80 + i);
    return '?';
}

class TWmfWriter : public TRecordWriter {
public:
    ~TWmfWriter() override { Close(); }

    bool Start(const QString& path, QSize units, QSizeF mm) override {
        Close();
        ResetState();
        if (wmf_start(QFile::encodeName(path).constData(), 1 << 16, 1 << 16, &wt_) != 0 ||
            wmf_htable_create(128, 128, &wht_) != 0)
            return false;
        // The placeable header: the picture's size in inches and its units per inch.
        const double inchesWide = mm.width() / 25.4;
        const unsigned dpi = static_cast<unsigned>(std::lround(units.width() / inchesWide));
        U_PAIRF* size = U_PAIRF_set(static_cast<float>(units.width()) / dpi, static_cast<float>(units.height()) / dpi);
        char* header = U_WMRHEADER_set(size, dpi);
        std::free(size);
        if (!header || wmf_header_append(reinterpret_cast<U_METARECORD*>(header), wt_, 1) != 0) failed_ = true;
        Append(U_WMRSETMAPMODE_set(U_MM_ANISOTROPIC));
        Append(U_WMRSETWINDOWORG_set(U_POINT16{0, 0}));
        Append(U_WMRSETWINDOWEXT_set(Point16(QPoint(units.width(), units.height()))));
        Append(U_WMRSETBKMODE_set(U_TRANSPARENT));
        Append(U_WMRSETTEXTALIGN_set(U_TA_TOP | U_TA_LEFT | U_TA_NOUPDATECP));
        return !failed_;
    }

    bool Finish() override {
        if (!wt_) return false;
        UseClip(std::nullopt);
        Append(U_WMREOF_set());
        const bool ok = !failed_ && wmf_finish(wt_) == 0;
        Close();
        return ok;
    }

    void PolyPolyline(const std::vector<QPolygon>& lines) override {
        // No POLYPOLYLINE in WMF; long lines go in pieces that share an end.
        constexpr int kMax = 16000;
        for (const QPolygon& line : lines) {
            for (int from = 0; from + 1 < line.size(); from += kMax - 1) {
                const std::vector<U_POINT16> pts = Points(line.mid(from, kMax));
                Append(U_WMRPOLYLINE_set(static_cast<uint16_t>(pts.size()), pts.data()));
            }
        }
    }

    void PolyPolygon(const std::vector<QPolygon>& polygons) override {
        if (polygons.empty()) return;
        if (polygons.size() == 1) {
            const std::vector<U_POINT16> pts = Points(polygons.front().mid(0, 32000));
            Append(U_WMRPOLYGON_set(static_cast<uint16_t>(pts.size()), pts.data()));
            return;
        }
        std::vector<uint16_t> counts;
        std::vector<U_POINT16> pts;
        for (const QPolygon& p : polygons) {
            const std::vector<U_POINT16> some = Points(p.mid(0, 32000));
            counts.push_back(static_cast<uint16_t>(some.size()));
            pts.insert(pts.end(), some.begin(), some.end());
        }
        Append(U_WMRPOLYPOLYGON_set(static_cast<uint16_t>(counts.size()), counts.data(), pts.data()));
    }

    void Rectangle(const QRect& r) override { Append(U_WMRRECTANGLE_set(Rect16(r.adjusted(0, 0, 1, 1)))); }

    // From the top of the line, GDI's default alignment, and without
    // advances: WMF readers often ignore the alignment, and some place
    // each character by its advance along the page, not along a turned line.
    void Text(const TTextRun& run) override {
        std::string bytes;
        for (qsizetype i = 0; i < run.Text.size(); ++i) {
            if (run.Text[i].isHighSurrogate() && i + 1 < run.Text.size()) ++i;
            bytes.push_back(run.Text[i].isSurrogate() ? '?' : Cp1252(run.Text[i].unicode()));
        }
        if (bytes.size() > 32000) bytes.resize(32000);
        Append(U_WMREXTTEXTOUT_set(Point16(run.Top), static_cast<int16_t>(bytes.size()), 0, bytes.c_str(), nullptr,
                                   U_RECT16{0, 0, 0, 0}));
    }

    void Image(const QRect& dest, const QImage& image) override {
        TDib dib(image);
        if (!dib.Ok()) {
            failed_ = true;
            return;
        }
        Append(U_WMRSTRETCHDIB_set(Point16(dest.topLeft()), Point16(QPoint(dest.width(), dest.height())),
                                   U_POINT16{0, 0}, Point16(QPoint(image.width(), image.height())), U_DIB_RGB_COLORS,
                                   U_SRCCOPY, dib.Bmi, dib.CbPx, dib.Px));
    }

protected:
    uint32_t NewPen(const TPenKey& k) override {
        uint32_t h = 0;
        Append(wcreatepenindirect_set(&h, wht_,
                                      U_PEN_set(static_cast<uint16_t>(k.Style), static_cast<uint16_t>(k.Width),
                                                ColorRef(k.Color))));
        return h;
    }
    uint32_t NewBrush(const TBrushKey& k) override {
        uint32_t h = 0;
        Append(wcreatebrushindirect_set(&h, wht_, U_WLOGBRUSH_set(static_cast<uint16_t>(k.Style), ColorRef(k.Color), 0)));
        return h;
    }
    uint32_t NewFont(const TFontKey& k) override {
        std::string face;
        for (char16_t c : k.Face) face.push_back(Cp1252(c));
        if (face.size() > 31) face.resize(31);
        U_FONT* font = U_FONT_set(Clamp16(k.Height), 0, Clamp16(k.Escapement), Clamp16(k.Escapement),
                                  Clamp16(k.Weight), k.Italic, k.Underline, k.StrikeOut, U_ANSI_CHARSET,
                                  U_OUT_TT_PRECIS, U_CLIP_DEFAULT_PRECIS, U_ANTIALIASED_QUALITY, U_DEFAULT_PITCH,
                                  face.data());
        uint32_t h = 0;
        if (!font) {
            failed_ = true;
            return h;
        }
        Append(wcreatefontindirect_set(&h, wht_, font));
        std::free(font);
        return h;
    }
    void Select(uint32_t handle) override { Append(wselectobject_set(handle, wht_)); }
    void EmitTextColor(QRgb c) override { Append(U_WMRSETTEXTCOLOR_set(ColorRef(c))); }
    void EmitFillMode(int mode) override { Append(U_WMRSETPOLYFILLMODE_set(static_cast<uint16_t>(mode))); }
    void EmitSaveDC() override { Append(U_WMRSAVEDC_set()); }
    void EmitRestoreDC() override { Append(U_WMRRESTOREDC_set(-1)); }
    void EmitClipRect(const QRect& r) override {
        Append(U_WMRINTERSECTCLIPRECT_set(Rect16(r.adjusted(0, 0, 1, 1))));
    }

private:
    WMFTRACK* wt_ = nullptr;
    WMFHANDLES* wht_ = nullptr;

    void Append(char* rec) {
        if (!rec || !wt_ || wmf_append(reinterpret_cast<U_METARECORD*>(rec), wt_, 1) != 0) failed_ = true;
    }

    void Close() {
        if (wt_) wmf_free(&wt_);
        if (wht_) wmf_htable_free(&wht_);
        wt_ = nullptr;
        wht_ = nullptr;
    }

    static std::vector<U_POINT16> Points(const QPolygon& p) {
        std::vector<U_POINT16> pts;
        pts.reserve(p.size());
        for (const QPoint& q : p) pts.push_back(Point16(q));
        return pts;
    }
};

// The colour GDI gets for a Qt brush: gradients by their middle stop;
// nothing for a brush that paints nothing.
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
        if (format == TPictureFormat::Metafile)
            writer_ = std::make_unique<TWmfWriter>();
        else if (format == TPictureFormat::EnhancedMetafile)
            writer_ = std::make_unique<TEmfWriter>();
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
