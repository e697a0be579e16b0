#include "plot/plotfile.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdio>

std::optional<TPlotFormat> PlotFormatOf(const std::string& path) {
    const auto dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return std::nullopt;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == "png") return TPlotFormat::Png;
    if (ext == "svg") return TPlotFormat::Svg;
    return std::nullopt;
}

EPlotFormat::EPlotFormat(const std::string& path)
    : std::invalid_argument("'" + path + "': a plot is written as .png or .svg, by the file's extension") {}

namespace {

QtMessageHandler previousHandler = nullptr;

// A program without a desktop session has no runtime folder; Qt says so at
// start, which is no news on a station or in a script.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
    if (previousHandler)
        previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

}  // namespace

void EnsurePlotApplication() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    if (QCoreApplication::instance())
        throw std::runtime_error("a plot needs a QGuiApplication, and this program runs a console application");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "kalosqm";
    static char* argv[] = {name, nullptr};
    previousHandler = qInstallMessageHandler(QuietHandler);
    // Qt sets the C locale from the environment as it starts; the language
    // the program chose before (its messages under LANGUAGE) must stay.
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    // Never destroyed: Qt's own statics may go first at exit.
    new QGuiApplication(argc, argv);
    std::setlocale(LC_ALL, locale.c_str());
}

std::string PlotBytes(TPlotFormat format, QSize size, const TDrawFunction& draw, const std::string& title) {
    EnsurePlotApplication();
    QByteArray bytes;
    if (format == TPlotFormat::Png) {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.setRenderHint(QPainter::TextAntialiasing);
            draw(p, size);
        }
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!image.convertToFormat(QImage::Format_RGB32).save(&buffer, "PNG"))
            throw std::runtime_error("cannot encode the plot as PNG");
    } else {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setResolution(96);
        // The generator writes the title as it is: a site name with < or & would break the file.
        if (!title.empty()) svg.setTitle(QString::fromStdString(title).toHtmlEscaped());
        {
            QPainter p(&svg);
            p.setRenderHint(QPainter::Antialiasing);
            p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
            draw(p, size);
        }
    }
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void WritePlot(const std::string& path, QSize size, const TDrawFunction& draw, const std::string& title) {
    const auto format = PlotFormatOf(path);
    if (!format) throw EPlotFormat(path);
    const std::string bytes = PlotBytes(*format, size, draw, title);
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()) ||
        !file.commit())
        throw std::runtime_error("cannot write the plot " + path + ": " + file.errorString().toStdString());
}
