#pragma once
// A site window's charts saved as picture files: a bitmap of the view, or a
// Windows metafile / enhanced metafile of it (see metafilepicture.h).
#include <QString>

#include <functional>

#include "core/site/picturefile.h"

class QWidget;

// Writes the view as it shows now in that format; false with *error set
// when the file could not be written.
bool SaveChartPicture(QWidget* view, const QString& fileName, TPictureFormat format, QString* error);

// Asks where to write (filters in Qt form, "a;;b"); an empty name cancels.
using TSaveFileChooser = std::function<QString(const QString& filters, const QString& defaultSuffix)>;

// The save dialog: a name typed bare takes the chosen filter's extension,
// and a folder that does not exist is refused and asked again.
QString AskSaveFileName(QWidget* parent, const QString& filters, const QString& defaultSuffix);

// "Save graph": the file asked with choose (the save dialog when empty),
// the refusal of an unknown extension, the picture, and a box for any error.
void SaveChartAs(QWidget* parent, QWidget* chartView, const TSaveFileChooser& choose = {});
