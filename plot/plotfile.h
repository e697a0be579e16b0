#pragma once
// A plot written to a file: PNG (a raster image) or SVG (vector, for
// journals), chosen by the file's extension. Qt paints without a display.
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include <QSize>

class QPainter;

enum class TPlotFormat { Png, Svg };

// ".png" or ".svg" in any case; nothing for another extension or none.
std::optional<TPlotFormat> PlotFormatOf(const std::string& path);

// A name whose extension is neither.
class EPlotFormat : public std::invalid_argument {
public:
    explicit EPlotFormat(const std::string& path);
};

// Painting needs a QGuiApplication (fonts); this makes one, on the
// "offscreen" platform unless QT_QPA_PLATFORM says otherwise, when the
// process has none. Kept to the end of the process.
void EnsurePlotApplication();

using TDrawFunction = std::function<void(QPainter&, QSize)>;
// Draws into a picture of the given size and writes it whole or not at all
// (an existing file is replaced only by a complete one); an SVG carries the
// title as its own. Throws EPlotFormat, or std::runtime_error naming the
// file when it cannot be written.
void WritePlot(const std::string& path, QSize size, const TDrawFunction& draw, const std::string& title = {});
// The same picture's bytes, for a caller that sends it rather than saving
// it (the station's web page). Throws std::runtime_error when it cannot be encoded.
std::string PlotBytes(TPlotFormat format, QSize size, const TDrawFunction& draw, const std::string& title = {});
