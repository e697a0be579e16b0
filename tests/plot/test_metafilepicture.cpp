// The WMF/EMF writer of the plot layer: what a painter draws lands in the
// file as records of their own, in the file's finer units, with no widget.
#include <gtest/gtest.h>

#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>

#include "support/metafile_test_support.h"
#include "plot/metafilepicture.h"

namespace {

using namespace metafiletest;

// The one QGuiApplication of this program: texts need its fonts.
void App() {
    static int argc = 1;
    static char name[] = "metafile_tests";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
}

TEST(MetafilePicture, PlacesTextsAndShapesInFileUnits) {
    App();
    TMetafilePicture picture(QSize(200, 100), TPictureFormat::EnhancedMetafile);
    {
        QPainter p(&picture);
        p.fillRect(QRect(0, 0, 200, 100), QColor(0, 0, 255));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(20);
        p.setFont(font);
        p.setPen(QColor(0, 128, 0));
        p.drawText(QPointF(10, 50), QStringLiteral("Hello"));
        p.setPen(QPen(QColor(255, 0, 0), 2));
        p.drawLine(QPointF(10, 10), QPointF(20, 15));  // drawn as Qt Charts draws a series
        p.drawLine(QPointF(20, 15), QPointF(30, 12.5));
        p.drawLine(QPointF(30, 12.5), QPointF(40, 20));
        p.setPen(QColor(0, 128, 0));
        p.translate(150, 90);
        p.rotate(-90);
        p.drawText(QPointF(0, 0), QStringLiteral("Up"));
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("units.emf"));
    QString error;
    ASSERT_TRUE(picture.Save(file, &error)) << error.toStdString();
    const auto records = EmfRecords(ReadAll(file));
    ASSERT_FALSE(records.empty());

    // The frame is the widget's size at 96 dpi, in hundredths of a millimetre.
    const QByteArray& header = records.front().Bytes;
    EXPECT_NEAR(I32(header, 32), 200 * 2540 / 96, 2);
    EXPECT_NEAR(I32(header, 36), 100 * 2540 / 96, 2);

    const auto rectangles = OfType(records, 43);  // EMR_RECTANGLE, four units to the pixel
    ASSERT_EQ(rectangles.size(), 1u);
    EXPECT_EQ(QRect(QPoint(I32(rectangles[0], 8), I32(rectangles[0], 12)),
                    QPoint(I32(rectangles[0], 16), I32(rectangles[0], 20))),
              QRect(QPoint(0, 0), QPoint(800, 400)));
    const auto brushes = OfType(records, 39);  // EMR_CREATEBRUSHINDIRECT: style, then the colour
    EXPECT_TRUE(std::any_of(brushes.begin(), brushes.end(),
                            [](const QByteArray& b) { return U32(b, 12) == 0 && U32(b, 16) == 0x00ff0000u; }));

    const auto texts = EmfTexts(records);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].Text, QStringLiteral("Hello"));
    EXPECT_EQ(texts[0].Reference, QPoint(40, 200));  // the baseline's start
    EXPECT_EQ(texts[1].Text, QStringLiteral("Up"));
    EXPECT_EQ(texts[1].Reference, QPoint(600, 360));

    std::vector<std::pair<int, int>> fonts;  // EMR_EXTCREATEFONTINDIRECTW: height, escapement
    for (const QByteArray& b : OfType(records, 82)) fonts.emplace_back(I32(b, 12), I32(b, 20));
    EXPECT_EQ(fonts, (std::vector<std::pair<int, int>>{{-80, 0}, {-80, 900}}));
    std::vector<QPolygon> polylines;  // EMR_POLYLINE: count at 24, points after it
    for (const QByteArray& b : OfType(records, 4)) {
        QPolygon line;
        for (uint32_t i = 0; i < U32(b, 24); ++i) line << QPoint(I32(b, 28 + 8 * i), I32(b, 32 + 8 * i));
        polylines.push_back(line);
    }
    EXPECT_EQ(polylines,
              std::vector<QPolygon>{QPolygon({QPoint(40, 40), QPoint(80, 60), QPoint(120, 50), QPoint(160, 80)})});
    const auto pens = OfType(records, 95);  // EMR_EXTCREATEPEN: style at 28, width, brush style, colour
    EXPECT_TRUE(std::any_of(pens.begin(), pens.end(), [](const QByteArray& b) {
        return U32(b, 32) == 8 && U32(b, 40) == 0x000000ffu;
    })) << "two pixels are eight units";
    const auto textColours = OfType(records, 24);  // EMR_SETTEXTCOLOR
    EXPECT_TRUE(std::any_of(textColours.begin(), textColours.end(),
                            [](const QByteArray& b) { return U32(b, 8) == 0x00008000u; }));
}

// WMF coordinates are 16-bit: a very wide picture gets fewer units to the
// pixel, and its texts are stored in Windows-1252.
TEST(MetafilePicture, AWideWindowsMetafileKeepsItsCoordinatesIn16BitsAndItsTextsInWindows1252) {
    App();
    TMetafilePicture picture(QSize(10000, 100), TPictureFormat::Metafile);
    {
        QPainter p(&picture);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(20);
        p.setFont(font);
        p.setPen(QPen(QColor(255, 0, 0), 2));
        p.drawLine(QPointF(10, 10), QPointF(20, 15));
        p.drawLine(QPointF(20, 15), QPointF(9990, 90));
        p.setPen(QColor(0, 0, 0));
        p.drawText(QPointF(100, 50), QStringLiteral("21.5 mag/arcsec\u00b2 at 8\u00b0C"));
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("wide.wmf"));
    QString error;
    ASSERT_TRUE(picture.Save(file, &error)) << error.toStdString();
    const auto records = WmfRecords(ReadAll(file));
    ASSERT_FALSE(records.empty());

    const auto extents = OfType(records, 0x020c);  // META_SETWINDOWEXT: y, then x
    ASSERT_EQ(extents.size(), 1u);
    EXPECT_EQ(QPoint(static_cast<int16_t>(U16(extents[0], 8)), static_cast<int16_t>(U16(extents[0], 6))),
              QPoint(30000, 300));
    std::vector<QPolygon> polylines;  // META_POLYLINE: count at 6, x and y after it
    for (const QByteArray& b : OfType(records, 0x0325)) {
        QPolygon line;
        for (int i = 0; i < U16(b, 6); ++i)
            line << QPoint(static_cast<int16_t>(U16(b, 8 + 4 * i)), static_cast<int16_t>(U16(b, 10 + 4 * i)));
        polylines.push_back(line);
    }
    EXPECT_EQ(polylines, std::vector<QPolygon>{QPolygon({QPoint(30, 30), QPoint(60, 45), QPoint(29970, 270)})});
    EXPECT_EQ(WmfTexts(records), std::vector<QByteArray>{QByteArray("21.5 mag/arcsec\xb2 at 8\xb0" "C")});
}

TEST(MetafilePicture, AWindowsMetafileWritesWhatWindows1252LacksAsItsNearestCharacter) {
    App();
    TMetafilePicture picture(QSize(600, 100), TPictureFormat::Metafile);
    {
        QPainter p(&picture);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(20);
        p.setFont(font);
        p.setPen(QColor(0, 0, 0));
        p.drawText(QPointF(10, 30), QStringLiteral("Sun at \u221218\u00b0 \u2264 2\u2032 \u2010 Pet\u0151fi 1\u2009000"));
        p.drawText(QPointF(10, 70), QStringLiteral("\u263a"));
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("signs.wmf"));
    QString error;
    ASSERT_TRUE(picture.Save(file, &error)) << error.toStdString();
    EXPECT_EQ(WmfTexts(WmfRecords(ReadAll(file))),
              (std::vector<QByteArray>{QByteArray("Sun at -18\xb0 < 2' - Petofi 1 000"), QByteArray("?")}));
}

}  // namespace
