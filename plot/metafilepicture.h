#pragma once
// Pictures as Windows metafiles / enhanced metafiles whose lines,
// rectangles and texts are records of their own (written with libuemf), so
// drawing programs can edit them. Qt Gui only: whatever paints with a
// QPainter (a chart view, a plot) can be kept this way.
#include <QPaintDevice>
#include <QSize>
#include <QString>

#include <memory>

#include "core/site/picturefile.h"

// A paint device that keeps what a QPainter draws on it as metafile
// records. Coordinates are those of a widget of sizePixels at dpi; the
// file uses finer units so that lines keep their sub-pixel places.
class TMetafilePicture : public QPaintDevice {
public:
    // format: Metafile or EnhancedMetafile.
    TMetafilePicture(QSize sizePixels, TPictureFormat format, int dpi = 96);
    ~TMetafilePicture() override;

    QPaintEngine* paintEngine() const override;

    // After the painter has ended: writes the file whole or not at all (an
    // earlier file of that name stays as it was); false with *error set.
    bool Save(const QString& fileName, QString* error) const;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    struct TImpl;
    std::unique_ptr<TImpl> d_;
};

// "The graph could not be saved to <file>: <why>".
QString PictureSaveError(const QString& fileName, const QString& why);
