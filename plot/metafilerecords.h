#pragma once
// The records of a WMF or EMF file as the metafile paint engine writes
// them (libuemf). Only the plot layer's metafile picture uses this.
#include <QImage>
#include <QPolygon>
#include <QRect>
#include <QSize>
#include <QString>

#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <uemf.h>

#include "core/site/picturefile.h"

namespace metafile {

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

// The writer of a format: Metafile (WMF) or EnhancedMetafile (EMF); none for a bitmap.
std::unique_ptr<TRecordWriter> MakeRecordWriter(TPictureFormat format);

inline QRect Bounds(const std::vector<QPolygon>& polys) {
    QRect r;
    for (const QPolygon& p : polys) r |= p.boundingRect();
    return r;
}

}  // namespace metafile
