#include "gui/chartpicture.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPixmap>
#include <QSaveFile>
#include <QWidget>

#include "gui/dialogs.h"
#include "core/station/i18n.h"
#include "plot/metafilepicture.h"

bool SaveChartPicture(QWidget* view, const QString& fileName, TPictureFormat format, QString* error) {
    const auto fail = [&](const QString& why) {
        if (error) *error = PictureSaveError(fileName, why);
        return false;
    };
    if (format == TPictureFormat::Bitmap) {
        const QImage image = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QSaveFile out(fileName);
        if (!out.open(QIODevice::WriteOnly)) return fail(out.errorString());
        QImageWriter writer(&out, "BMP");
        if (!writer.write(image)) return fail(writer.errorString());
        if (!out.commit()) return fail(out.errorString());
        return true;
    }
    TMetafilePicture picture(view->size(), format, view->logicalDpiY());
    QPainter painter;
    if (!painter.begin(&picture)) return fail(QStringLiteral("the picture could not be started"));
    view->render(&painter);
    painter.end();
    return picture.Save(fileName, error);
}

QString AskSaveFileName(QWidget* parent, const QString& filters, const QString& defaultSuffix) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters.split(QStringLiteral(";;")));
    dialog.setDefaultSuffix(defaultSuffix);
    // A name typed bare takes the chosen filter's extension, as on Windows.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        const qsizetype from = filter.indexOf(QLatin1String("(*."));
        const qsizetype to = filter.indexOf(QLatin1Char(')'), from);
        if (from >= 0 && to > from) dialog.setDefaultSuffix(filter.mid(from + 3, to - from - 3));
    });
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        const QString file = dialog.selectedFiles().constFirst();
        const QDir folder = QFileInfo(file).absoluteDir();
        if (folder.exists()) return file;
        const QString path = QDir::toNativeSeparators(folder.path());
        dialogs::Error(QString::fromStdString(Tr("The folder \"%1\" does not exist.")).arg(path), parent);
    }
}

void SaveChartAs(QWidget* parent, QWidget* chartView, const TSaveFileChooser& choose) {
    const QString filters = QString::fromStdString(PictureFileFilters());
    const QString suffix = QString::fromLatin1(kPictureDefaultSuffix);
    const QString file = choose ? choose(filters, suffix) : AskSaveFileName(parent, filters, suffix);
    if (file.isEmpty()) return;
    const auto format = PictureFormatForFile(file.toStdString());
    if (!format) {
        dialogs::Error(QString::fromStdString(Tr(kUnsupportedFileType)), parent);
        return;
    }
    QString error;
    if (!SaveChartPicture(chartView, file, *format, &error)) dialogs::Error(error, parent);
}
