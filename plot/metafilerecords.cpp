#include "plot/metafilerecords.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <uwmf.h>

namespace metafile {

namespace {

U_COLORREF ColorRef(QRgb c) { return colorref3_set(qRed(c), qGreen(c), qBlue(c)); }

U_RECTL RectL(const QRect& r) { return U_RECTL{r.left(), r.top(), r.right(), r.bottom()}; }

int16_t Clamp16(int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }
U_POINT16 Point16(const QPoint& p) { return U_POINT16{Clamp16(p.x()), Clamp16(p.y())}; }
U_RECT16 Rect16(const QRect& r) {
    return U_RECT16{Clamp16(r.left()), Clamp16(r.top()), Clamp16(r.right()), Clamp16(r.bottom())};
}

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
// cannot hold becomes its nearest character ("\u221218\u00b0" reads -18\u00b0,
// not ?18\u00b0), and '?' only when it has none.
char Cp1252(char16_t c, int depth = 0) {
    if (c < 0x80 || (c >= 0xa0 && c <= 0xff)) return static_cast<char>(c);
    static const char16_t k80[32] = {0x20ac, 0,      0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021,
                                     0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017d, 0,
                                     0,      0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014,
                                     0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0,      0x017e, 0x0178};
    for (int i = 0; i < 32; ++i)
        if (k80[i] == c) return static_cast<char>(0x80 + i);
    // Signs a chart's texts use that the code page lacks.
    static const struct {
        char16_t From;
        char To;
    } kNearest[] = {
        {0x2212, '-'},  {0x2010, '-'},  {0x2011, '-'},  {0x2012, '-'},  {0x2043, '-'},  {0x2015, '\x97'},
        {0x2032, '\''}, {0x2033, '"'},  {0x02bc, '\''}, {0x2044, '/'},  {0x2215, '/'},  {0x2236, ':'},
        {0x2219, '\xb7'}, {0x22c5, '\xb7'}, {0x2264, '<'}, {0x2265, '>'},  {0x2248, '~'},  {0x223c, '~'},
        {0x2009, ' '},  {0x200a, ' '},  {0x2007, ' '},  {0x2008, ' '},  {0x202f, '\xa0'}, {0x2002, ' '},
        {0x2003, ' '},  {0x2190, '<'},  {0x2192, '>'},  {0x2080, '0'},  {0x2081, '1'},  {0x2082, '2'},
    };
    for (const auto& n : kNearest)
        if (n.From == c) return n.To;
    // A letter with a mark the page lacks ("\u0151") as its base letter, a
    // compatibility form (full width, superscript) as its plain one.
    const QString plain = QChar(c).decomposition();
    if (!plain.isEmpty() && depth < 4 && plain[0].unicode() != c) return Cp1252(plain[0].unicode(), depth + 1);
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

}  // namespace

std::unique_ptr<TRecordWriter> MakeRecordWriter(TPictureFormat format) {
    if (format == TPictureFormat::Metafile) return std::make_unique<TWmfWriter>();
    if (format == TPictureFormat::EnhancedMetafile) return std::make_unique<TEmfWriter>();
    return nullptr;
}

}  // namespace metafile
