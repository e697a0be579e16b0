// "Save graph": a night's chart saved as a bitmap read back by Qt, and as
// WMF and EMF pictures read record by record and converted by libwmf's
// wmf2svg and emf2svg-conv; the refusals of a name and of a folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "gui/chartpicture.h"
#include "gui/dialogs.h"
#include "core/site/picturefile.h"
#include "core/station/myutils.h"
#include "gui/readingviews.h"
#include "support/metafile_test_support.h"
#include "support/qtsupport.h"

namespace {

using namespace metafiletest;
using testsupport::App;

const QString kTitle = QStringLiteral("SQM Graph of the night: 11/03/2011");
constexpr int kPoints = 145;  // a reading every five minutes, 20.00 to 08.00

const QString kValueAxis = QStringLiteral("Sky brightness (mag/arcsec²)");

// A night's chart as a site window shows it: one red line, with the site's
// night shaded.
std::unique_ptr<TReadingChart> NightChart() {
    App();
    const double night = EncodeDate(2011, 3, 11), start = night + 20.0 / 24;
    std::vector<TReadingRow> rows;
    for (int i = 0; i < kPoints; ++i) {
        TReadingRow r;
        r.Code = std::to_string(i);
        r.DateTime = start + i * 300 / 86400.0;
        r.Value = 19.0 + 2.0 * std::sin(i / 23.0) + 0.2 * std::cos(i * 1.7);
        rows.push_back(r);
    }
    auto view = std::unique_ptr<TReadingChart>(MakeReadingChart("ChartQuery", QString()));
    PlotReadings(view.get(), rows, false, kTitle, NightWindow(night), TSitePosition{45.85, 11.57});
    view->resize(800, 500);
    view->show();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    return view;
}

// The longest run of points in a polyline or path of the SVG, and its style.
struct TSvgScan {
    bool HasTitle = false;
    int MostPoints = 0;
    QString StyleOfMost;
    int Texts = 0;
};
// wmf2svg copies the metafile's Windows-1252 bytes as they are into a file
// that claims UTF-8: such a file is read as Latin-1.
TSvgScan ScanSvg(QByteArray svg) {
    if (QString::fromUtf8(svg).contains(QChar::ReplacementCharacter)) svg = QString::fromLatin1(svg).toUtf8();
    TSvgScan scan;
    QXmlStreamReader xml(svg);
    QString styleOfMost;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) continue;
        const QString name = xml.name().toString();
        const auto attrs = xml.attributes();
        if (name == QLatin1String("text")) {
            ++scan.Texts;
            if (xml.readElementText(QXmlStreamReader::IncludeChildElements).contains(kTitle)) scan.HasTitle = true;
            continue;
        }
        QString data;
        if (name == QLatin1String("polyline") || name == QLatin1String("polygon"))
            data = attrs.value(QLatin1String("points")).toString();
        else if (name == QLatin1String("path"))
            data = attrs.value(QLatin1String("d")).toString();
        else
            continue;
        const int numbers = static_cast<int>(data.count(QRegularExpression(QStringLiteral("-?[0-9.]+"))));
        if (numbers / 2 > scan.MostPoints) {
            scan.MostPoints = numbers / 2;
            scan.StyleOfMost = attrs.value(QLatin1String("style")).toString() + QLatin1Char(' ') +
                               attrs.value(QLatin1String("stroke")).toString();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return scan;
}

bool IsRed(const QString& style) {
    const QString s = style.toLower();
    return s.contains(QLatin1String("stroke:red")) || s.contains(QLatin1String("#ff0000")) ||
           s.contains(QLatin1String("rgb(255,0,0)")) || s.contains(QLatin1String("rgb(255, 0, 0)")) ||
           s.contains(QLatin1String("#f00"));
}

// The metafile converted to SVG by the program: the chart's title and
// texts, and its series as one red line.
void ExpectConvertedChart(const QString& program, const QStringList& args, const QString& svg) {
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString() << " did not finish";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << ": " << p.readAllStandardError().toStdString();
    const TSvgScan scan = ScanSvg(ReadAll(svg));
    EXPECT_TRUE(scan.HasTitle);
    EXPECT_GE(scan.Texts, 10);
    EXPECT_GE(scan.MostPoints, kPoints - 5);
    EXPECT_TRUE(IsRed(scan.StyleOfMost)) << scan.StyleOfMost.toStdString();
}

class ChartPictureTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<TReadingChart> view = NightChart();
    QString Path(const QString& name) const { return dir.filePath(name); }
    bool Save(const char* name, TPictureFormat format) {
        QString error;
        const bool saved = SaveChartPicture(view.get(), Path(name), format, &error);
        EXPECT_TRUE(saved) << error.toStdString();
        return saved;
    }
};

TEST(PictureFormatForFile, TheExtensionDecidesWhateverItsCaseAndAnyOtherOrNoneIsRefused) {
    const std::pair<const char*, std::optional<TPictureFormat>> cases[] = {
        {"night.bmp", TPictureFormat::Bitmap},
        {"/home/sqm/Night.Bmp", TPictureFormat::Bitmap},
        {"NIGHT.BMP", TPictureFormat::Bitmap},
        {"night.wmf", TPictureFormat::Metafile},
        {"night.WMF", TPictureFormat::Metafile},
        {"night.emf", TPictureFormat::EnhancedMetafile},
        {"a.b/night.Emf", TPictureFormat::EnhancedMetafile},
        {"night.bmp.emf", TPictureFormat::EnhancedMetafile},
    };
    for (const auto& [name, format] : cases) EXPECT_EQ(PictureFormatForFile(name), format) << name;
    for (const char* refused : {"night.png", "night.svg", "night.bmpx", "night", "night.", "graphs.bmp/night", ""})
        EXPECT_EQ(PictureFormatForFile(refused), std::nullopt) << refused;
}

TEST_F(ChartPictureTest, AnEnhancedMetafileKeepsTextsAndLinesAsRecords) {
    ASSERT_TRUE(Save("night.emf", TPictureFormat::EnhancedMetafile));
    const auto records = EmfRecords(ReadAll(Path("night.emf")));
    ASSERT_GT(records.size(), 10u);
    EXPECT_EQ(records.front().Type, 1u);                     // EMR_HEADER
    EXPECT_EQ(U32(records.front().Bytes, 40), 0x464d4520u);  // " EMF"
    EXPECT_EQ(Count(records, {76, 77, 78, 79, 80, 81, 114, 116}), 0) << "no bitmap of any kind";
    EXPECT_GT(Count(records, {82}), 0) << "fonts";
    EXPECT_GT(Count(records, {95}), 0) << "pens";
    std::vector<QString> texts;
    for (const auto& t : EmfTexts(records)) texts.push_back(t.Text);
    EXPECT_NE(std::find(texts.begin(), texts.end(), kTitle), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), kValueAxis), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), QStringLiteral("Time (UTC)")), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), QStringLiteral("20:00")), texts.end());
    int longest = 0;  // EMR_POLYLINE: count at 24
    for (const QByteArray& b : OfType(records, 4)) longest = std::max(longest, static_cast<int>(U32(b, 24)));
    EXPECT_GE(longest, kPoints - 5) << "the series is one polyline";

    const QString svg = Path("night-emf.svg");
    ExpectConvertedChart(QStringLiteral(KALO_EMF2SVG),
                         {QStringLiteral("-i"), Path("night.emf"), QStringLiteral("-o"), svg}, svg);
}

TEST_F(ChartPictureTest, AWindowsMetafileKeepsTextsAndLinesAsRecords) {
    ASSERT_TRUE(Save("night.wmf", TPictureFormat::Metafile));
    const auto records = WmfRecords(ReadAll(Path("night.wmf")));
    ASSERT_GT(records.size(), 10u);
    EXPECT_EQ(Count(records, {0x0f43, 0x0b41, 0x0940, 0x0922, 0x0b23, 0x0d33}), 0) << "no bitmap of any kind";
    EXPECT_GT(Count(records, {0x02fb}), 0) << "fonts";
    const auto texts = WmfTexts(records);
    EXPECT_NE(std::find(texts.begin(), texts.end(), kTitle.toLatin1()), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), QByteArray("Sky brightness (mag/arcsec\xb2)")), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), QByteArray("Time (UTC)")), texts.end());
    int longest = 0;  // META_POLYLINE: count at 6
    for (const QByteArray& b : OfType(records, 0x0325)) longest = std::max(longest, static_cast<int>(U16(b, 6)));
    EXPECT_GE(longest, kPoints - 5);

    const QString svg = Path("night-wmf.svg");
    ExpectConvertedChart(QStringLiteral(KALO_WMF2SVG), {QStringLiteral("-o"), svg, Path("night.wmf")}, svg);
}

TEST_F(ChartPictureTest, AMissingFolderOrANameTakenByAFolderIsAnErrorLeavingNoFileAndAnOldFileIsReplacedWhole) {
    for (const auto& [name, format] : {std::pair{"night.bmp", TPictureFormat::Bitmap},
                                       std::pair{"night.wmf", TPictureFormat::Metafile},
                                       std::pair{"night.emf", TPictureFormat::EnhancedMetafile}}) {
        const QString file = Path(QStringLiteral("missing/") + QLatin1String(name));
        QString error;
        EXPECT_FALSE(SaveChartPicture(view.get(), file, format, &error)) << name;
        EXPECT_TRUE(error.contains(file)) << error.toStdString();
        EXPECT_FALSE(QFile::exists(file));
        EXPECT_FALSE(QDir(Path("missing")).exists());
    }

    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("night.emf")));  // a folder where the file would go
    QString error;
    EXPECT_FALSE(SaveChartPicture(view.get(), Path("night.emf"), TPictureFormat::EnhancedMetafile, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QFileInfo(Path("night.emf")).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 0);

    {
        QFile old(Path("night.wmf"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
    }
    ASSERT_TRUE(Save("night.wmf", TPictureFormat::Metafile));
    const QByteArray bytes = ReadAll(Path("night.wmf"));
    qsizetype size = 22 + 18;  // the headers, then every record up to the end record
    for (const TRecord& r : WmfRecords(bytes)) size += r.Bytes.size();
    EXPECT_GT(size, 40);
    EXPECT_EQ(size, bytes.size()) << "left over from the old file";
}

// The dialog answered as a user would: a name typed in, then Save.
void TypeIntoSaveDialog(const QString& name) {
    QTimer::singleShot(0, [name] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->nameFilters(), QString::fromStdString(PictureFileFilters()).split(QStringLiteral(";;")));
        EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("bmp"));
        dialog->selectFile(name);
        QMetaObject::invokeMethod(dialog, "accept");  // the Save button
    });
}

TEST_F(ChartPictureTest, TheDialogRefusesAnUnknownExtensionAndDefaultsToABitmapOfTheViewAsItShows) {
    const QString log = Path("messages.log");
    dialogs::TLoggedBoxes boxes(log);
    dialogs::SetMessageBoxes(&boxes);

    TypeIntoSaveDialog(Path("night.png"));
    SaveChartAs(view.get(), view.get());
    EXPECT_EQ(ReadAll(log), QByteArray("error: Unsupported file type\n"));
    EXPECT_FALSE(QFile::exists(Path("night.png")));

    TypeIntoSaveDialog(Path("night"));
    SaveChartAs(view.get(), view.get());
    EXPECT_EQ(ReadAll(log), QByteArray("error: Unsupported file type\n"));
    dialogs::SetMessageBoxes(nullptr);
    EXPECT_TRUE(ReadAll(Path("night.bmp")).startsWith("BM"));
    QImage image;
    ASSERT_TRUE(image.load(Path("night.bmp"), "BMP"));
    EXPECT_EQ(image.size(), view->size() * view->devicePixelRatio());
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            red += qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80;
        }
    EXPECT_GT(red, 300);
}

}  // namespace
