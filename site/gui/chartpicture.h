#pragma once
// A site window's charts saved as picture files: a bitmap of the view, or a
// Windows metafile / enhanced metafile whose lines, rectangles and texts are
// records of their own (written with libuemf), so drawing programs can edit them.
#include <QPaintDevice>
#include <QSize>
#include <QString>

#include <memory>

#include "picturefile.h"

class QWidget;

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

// Writes the view as it shows now in that format; false with *error set
// when the file could not be written.
bool SaveChartPicture(QWidget* view, const QString& fileName, TPictureFormat format, QString* error);

// "Save graph": the save-picture dialog, the refusal of an unknown
// extension, the file, and a box for any error.
void SaveChartWithDialog(QWidget* parent, QWidget* chartView);
