// Tests of the frame display widget: colour mapping, colour tables, range, scale and rotation, coordinates, data
// range, selections and the rendered picture.
#include "displays/colorgauge.h"
#include "displays/gaugelabel.h"
#include "displays/waterfall.h"

#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QRgb rgb(const QImage& image, int x, int y)
{
    return image.pixel(x, y) | 0xff000000u;
}

void setBwd(Waterfall& w, int x, int y, int value)
{
    w.setValueBwd(x, y, y * w.rangeX, value);
}

void press(QWidget& w, QPoint p)
{
    QMouseEvent e(QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

void move(QWidget& w, QPoint p)
{
    QMouseEvent e(QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

Waterfall::SelectionList lastList(const QSignalSpy& spy)
{
    return spy.last().at(1).value<Waterfall::SelectionList>();
}

} // namespace

TEST(Waterfall_Colors, GreyTableMapsValuesThroughGradation)
{
    Waterfall w;
    w.setRange(8, 1);
    w.setGradation(0, 100);
    struct Case
    {
        int value;
        int grey;
    } cases[] = {{0, 0}, {-50, 0}, {100, 255}, {5000, 255}, {50, 128}, {1, 2}, {99, 253}};
    int x = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        setBwd(w, x, 0, c.value);
        EXPECT_EQ(rgb(w.image(), x, 0), qRgb(c.grey, c.grey, c.grey));
        ++x;
    }
    // Pixels that hold no value stay black.
    EXPECT_EQ(rgb(w.image(), 7, 0), qRgb(0, 0, 0));
}

TEST(Waterfall_Colors, EqualGradationLimitsSplitAtStart)
{
    Waterfall w;
    w.setRange(3, 1);
    w.setGradation(10, 10);
    setBwd(w, 0, 0, 10);
    setBwd(w, 1, 0, 11);
    setBwd(w, 2, 0, -3);
    const QImage img = w.image();
    EXPECT_EQ(rgb(img, 0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(rgb(img, 1, 0), qRgb(255, 255, 255));
    EXPECT_EQ(rgb(img, 2, 0), qRgb(0, 0, 0));
}

TEST(Waterfall_Colors, SpectrumTableRunsThroughTheAnchors)
{
    Waterfall w;
    w.setColorCoding(1);
    int n = 0;
    const QRgb* c = w.getColorList(&n);
    ASSERT_EQ(n, 1276);
    EXPECT_EQ(c[0], qRgb(255, 0, 0));
    EXPECT_EQ(c[255], qRgb(255, 255, 0));
    EXPECT_EQ(c[510], qRgb(0, 255, 0));
    EXPECT_EQ(c[765], qRgb(0, 255, 255));
    EXPECT_EQ(c[1020], qRgb(0, 0, 255));
    EXPECT_EQ(c[1275], qRgb(255, 0, 255));
    EXPECT_EQ(c[1], qRgb(255, 1, 0));
    w.setColorCoding(7);
    w.getColorList(&n);
    EXPECT_EQ(n, 256);
}

TEST(Waterfall_Colors, FixedCodingTakesTheValueAsColour)
{
    Waterfall w;
    w.setRange(1, 1);
    setBwd(w, 0, 0, int(0x7f123456));
    w.setFixedColorCoding(true);
    EXPECT_EQ(rgb(w.image(), 0, 0), qRgb(0x56, 0x34, 0x12));
    w.setFixedColorCoding(false);
    EXPECT_EQ(rgb(w.image(), 0, 0), qRgb(255, 255, 255));
}

TEST(Waterfall_Colors, DirectionSwitchShowsTheOtherFrame)
{
    Waterfall w;
    w.setRange(2, 1);
    w.setGradation(0, 256);
    w.setValueFwd(0, 0, 0, 200);
    setBwd(w, 1, 0, 100);
    EXPECT_FALSE(w.isForwardDisplayed());
    EXPECT_EQ(rgb(w.image(), 0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(rgb(w.image(), 1, 0), qRgb(100, 100, 100));
    w.setDirection(true);
    EXPECT_EQ(rgb(w.image(), 0, 0), qRgb(200, 200, 200));
    EXPECT_EQ(rgb(w.image(), 1, 0), qRgb(0, 0, 0));
}

TEST(Waterfall_ColorTables, FilesLoadOrLeaveTheTableInForce)
{
    QByteArray bin768;
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            bin768.append(char(c == 0 ? i : c == 1 ? 255 - i : i / 2));
    const QByteArray bin800 = QByteArray(32, 'h') + bin768;
    QByteArray many;
    for (int i = 0; i < 2000; ++i)
        many += "1 2 3\n";
    const QByteArray tooMany = many + "9 9 9\n"; // a table holds 2000 colours: the rest is not used
    struct Case
    {
        const char* name;
        QByteArray bytes;
        int count; // 0: the load fails
        QRgb first;
        QRgb last;
    } cases[] = {
        {"binary768.lut", bin768, 256, qRgb(0, 255, 0), qRgb(255, 0, 127)},
        {"binary800.lut", bin800, 256, qRgb(0, 255, 0), qRgb(255, 0, 127)},
        {"text.col", "0 0 0 255 255 255", 2, qRgb(0, 0, 0), qRgb(255, 255, 255)},
        {"labels.col", "Index Red Green Blue\n0 0 0 0\n1 255 255 255\n", 2, qRgb(0, 0, 0), qRgb(255, 255, 255)},
        {"crlf.col", "\r\n 10\t20 30\r\n40 50 60\r\n", 2, qRgb(10, 20, 30), qRgb(40, 50, 60)},
        {"trailing.col", "1 2 3\n4 5 6\n# end\n", 2, qRgb(1, 2, 3), qRgb(4, 5, 6)},
        {"max.col", many, 2000, qRgb(1, 2, 3), qRgb(1, 2, 3)},
        {"toomany.col", tooMany, 2000, qRgb(1, 2, 3), qRgb(1, 2, 3)},
        {"empty.col", "", 0, 0, 0},
        {"seven.col", "0 0 0 255 255 255 7", 0, 0, 0},
        {"above255.col", "0 0 0 255 256 255", 0, 0, 0},
        {"huge.col", "0 0 0 99999999999999999999 0 0", 0, 0, 0},
        {"nodigits.col", "red green blue\n", 0, 0, 0},
        {"truncated767.lut", bin768.left(767), 0, 0, 0},
        {"binary769.lut", bin768 + char(0), 0, 0, 0},
        {"oversized.col", QByteArray(2 * 1024 * 1024, ' ') + "1 2 3", 0, 0, 0},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.bytes);
        f.close();
        Waterfall w;
        w.setColorCoding(1);
        const bool ok = w.setColorCoding(path);
        int n = 0;
        const QRgb* t = w.getColorList(&n);
        if (c.count == 0) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(n, 1276); // the spectrum stays
            continue;
        }
        ASSERT_TRUE(ok);
        ASSERT_EQ(n, c.count);
        EXPECT_EQ(t[0], c.first);
        EXPECT_EQ(t[n - 1], c.last);
    }
    Waterfall w;
    EXPECT_FALSE(w.setColorCoding(dir.filePath(QStringLiteral("missing.lut"))));
}

TEST(Waterfall_ColorTables, LoadedTableRecoloursTheImage)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("two.col"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("10 20 30\n200 100 50\n");
    f.close();
    Waterfall w;
    w.setRange(2, 1);
    w.setGradation(0, 2);
    setBwd(w, 0, 0, 0);
    setBwd(w, 1, 0, 2);
    ASSERT_TRUE(w.setColorCoding(path));
    EXPECT_EQ(rgb(w.image(), 0, 0), qRgb(10, 20, 30));
    EXPECT_EQ(rgb(w.image(), 1, 0), qRgb(200, 100, 50));
}

TEST(Waterfall_Range, SizesFromOnePixelToLargeFramesAndOutOfMemory)
{
    Waterfall w;
    ASSERT_TRUE(w.setRange(1, 1));
    setBwd(w, 0, 0, 100);
    int v = 0;
    EXPECT_TRUE(w.getValue(0, 0, &v));
    EXPECT_EQ(v, 100);
    EXPECT_EQ(w.size(), QSize(1, 1));

    ASSERT_TRUE(w.setRange(4096, 4096));
    setBwd(w, 4095, 4095, 7);
    EXPECT_TRUE(w.getValue(4095, 4095, &v));
    EXPECT_EQ(v, 7);

    EXPECT_FALSE(w.setRange(1 << 20, 1 << 20));
    int* buffer = reinterpret_cast<int*>(1);
    char* valid = reinterpret_cast<char*>(1);
    w.getBuffers(false, &buffer, &valid);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(valid, nullptr);
    setBwd(w, 0, 0, 1); // ignored without buffers
    w.setLine(false, 0, 0, &v, 1, false);
    w.paint();
    EXPECT_FALSE(w.getValue(0, 0, &v));

    ASSERT_TRUE(w.setRange(3, 2));
    EXPECT_EQ(w.size(), QSize(3, 2));
    EXPECT_TRUE(w.getEmpty(false));
}

TEST(Waterfall_Range, ResetClearsValuesAndSelection)
{
    Waterfall w;
    w.setRange(2, 2);
    setBwd(w, 0, 0, 100);
    w.setSelectionMode(Waterfall::PointSelection);
    press(w, QPoint(1, 1));
    QSignalSpy spy(&w, &Waterfall::selected);
    w.reset();
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.last().at(0).value<Waterfall::SelectionMode>(), Waterfall::NoSelection);
    EXPECT_TRUE(w.selectionList.isEmpty());
    int v;
    EXPECT_FALSE(w.getValue(0, 0, &v));
    EXPECT_EQ(rgb(w.image(), 0, 0), qRgb(0, 0, 0));
}

TEST(Waterfall_Geometry, ScaleClampsAndRotationSwapsTheSides)
{
    Waterfall w;
    w.setRange(40, 30);
    struct Case
    {
        int scale;
        int stored;
        QSize size;
    } cases[] = {{2, 2, {80, 60}}, {25, 20, {800, 600}}, {-3, -3, {13, 10}}, {-30, -20, {2, 1}}, {1, 1, {40, 30}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scale);
        w.setScale(c.scale);
        EXPECT_EQ(w.scale, c.stored);
        EXPECT_EQ(w.size(), c.size);
    }
    w.setRotation(16384);
    EXPECT_EQ(w.getRotation(), 90);
    EXPECT_EQ(w.size(), QSize(30, 40));
    w.setRotation(32768);
    EXPECT_EQ(w.size(), QSize(40, 30));
    w.setRotation(65535 * 320 / 360); // 319 degrees: q = 4 shows unturned
    EXPECT_EQ(Waterfall::calcOrientation(w.getRotation()), 4);
    EXPECT_EQ(w.size(), QSize(40, 30));
}

TEST(Waterfall_Geometry, SelectionFollowsTheZoom)
{
    Waterfall w;
    w.setRange(20, 20);
    w.setSelectionMode(Waterfall::RangeSelection);
    press(w, QPoint(3, 5));
    move(w, QPoint(7, 9));
    w.setScale(2);
    EXPECT_EQ(w.selectionList.first(), QRect(QPoint(6, 10), QPoint(14, 18)));
    w.setScale(-2);                                                        // factor 1/4
    EXPECT_EQ(w.selectionList.first(), QRect(QPoint(2, 3), QPoint(4, 5))); // 1.5 and 2.5 round up
}

TEST(Waterfall_Geometry, CoordinateTransformsInvertEachOther)
{
    Waterfall w;
    w.setRange(5, 3);
    w.setScale(2); // image 10 x 6
    const QPoint probes[] = {{0, 0}, {9, 0}, {0, 5}, {9, 5}, {4, 2}};
    for (int rot : {0, 16384, 32768, 49152}) {
        w.setRotation(rot);
        for (const QPoint& p : probes) {
            SCOPED_TRACE(QString("rot %1 p %2,%3").arg(rot).arg(p.x()).arg(p.y()).toStdString());
            QPoint widget = p;
            w.transformCoord(widget, false);
            EXPECT_TRUE(w.rect().contains(widget));
            QPoint back = widget;
            w.transformCoord(back, true);
            EXPECT_EQ(back, p);
            EXPECT_EQ(w.retransformCoord(widget), p);
            EXPECT_EQ(w.pix2ScanCoord(widget), QPoint(p.x() / 2, p.y() / 2));
        }
    }
    w.setRotation(32768);
    EXPECT_EQ(w.retransformCoord(QPoint(1, 2)), QPoint(8, 3));
    EXPECT_EQ(w.retransformCoord(QRect(QPoint(0, 0), QPoint(1, 1))), QRect(QPoint(9, 5), QPoint(8, 4)));
    w.setRotation(0);
    w.setScale(-2);
    EXPECT_EQ(w.pix2ScanCoord(QPoint(1, 1)), QPoint(2, 2));
}

TEST(Waterfall_Geometry, RenderedImageIsScaledAndTurned)
{
    Waterfall w;
    w.setRange(3, 2);
    w.setGradation(0, 256);
    setBwd(w, 0, 0, 10); // top-left
    setBwd(w, 2, 0, 20); // top-right
    setBwd(w, 0, 1, 30); // bottom-left
    w.setScale(2);
    QImage shot = w.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(6, 4));
    EXPECT_EQ(rgb(shot, 1, 1), qRgb(10, 10, 10));
    EXPECT_EQ(rgb(shot, 5, 0), qRgb(20, 20, 20));
    EXPECT_EQ(rgb(shot, 0, 3), qRgb(30, 30, 30));
    w.setRotation(16384); // a quarter turn: the top-right corner goes to the top-left
    shot = w.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(4, 6));
    EXPECT_EQ(rgb(shot, 0, 0), qRgb(20, 20, 20));
    EXPECT_EQ(rgb(shot, 1, 5), qRgb(10, 10, 10));
    EXPECT_EQ(rgb(shot, 3, 5), qRgb(30, 30, 30));
    // The drawing and the coordinate transform agree.
    int x, y, v;
    ASSERT_TRUE(w.getValue(QPoint(0, 0), x, y, v));
    EXPECT_EQ(QPoint(x, y), QPoint(2, 0));
    EXPECT_EQ(v, 20);
}

TEST(Waterfall_Data, DataRangeIgnoresSpikes)
{
    Waterfall w;
    w.setRange(200, 1);
    QVector<int> values(200);
    for (int i = 0; i < 200; ++i)
        values[i] = 10 + i % 10;
    values[50] = 1000;
    values[120] = -900;
    w.setLine(false, 0, 0, values.constData(), values.size(), false);
    int min = -1, max = -1;
    w.getDataRange(min, max, false);
    EXPECT_EQ(min, 10);
    EXPECT_EQ(max, 19);
    w.setFull();
    w.getDataRange(min, max, true);
    EXPECT_EQ(min, 0);
    EXPECT_EQ(max, 0);
    setBwd(w, 3, 0, 42);
    w.getDataRange(min, max, true);
    EXPECT_EQ(min, 42);
    EXPECT_EQ(max, 42);
    EXPECT_FALSE(w.getEmpty(false));
    EXPECT_TRUE(w.getEmpty(true));
}

TEST(Waterfall_Data, MirroredLineFillsFromTheRight)
{
    Waterfall w;
    w.setRange(4, 1);
    const int values[] = {1, 2, 3};
    w.setLine(true, 0, 3, values, 3, true);
    int v = 0;
    EXPECT_FALSE(w.getValue(0, 0, true, &v));
    ASSERT_TRUE(w.getValue(3, 0, true, &v));
    EXPECT_EQ(v, 1);
    ASSERT_TRUE(w.getValue(1, 0, true, &v));
    EXPECT_EQ(v, 3);
    w.setLine(true, 0, 1, values, 3, true); // would run past column 0: refused
    ASSERT_TRUE(w.getValue(1, 0, true, &v));
    EXPECT_EQ(v, 3);
}

TEST(Waterfall_Selection, RangeDragIsReportedNormalisedAndSquaredWhenFixed)
{
    Waterfall w;
    w.setRange(100, 100);
    w.setSelectionMode(Waterfall::RangeSelection);
    QSignalSpy spy(&w, &Waterfall::selected);
    press(w, QPoint(50, 50));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_TRUE(lastList(spy).isEmpty());
    move(w, QPoint(40, 70));
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.last().at(0).value<Waterfall::SelectionMode>(), Waterfall::RangeSelection);
    EXPECT_EQ(lastList(spy).first(), QRect(QPoint(40, 50), QPoint(50, 70)));
    // The outline is cut out of the mask, the inside is not.
    EXPECT_FALSE(w.mask().contains(QPoint(40, 60)));
    EXPECT_TRUE(w.mask().contains(QPoint(45, 60)));

    w.setFixXY(true);
    struct Case
    {
        QPoint to;
        QRect expected;
    } cases[] = {
        {{40, 70}, QRect(QPoint(30, 50), QPoint(50, 70))},
        {{60, 45}, QRect(QPoint(50, 40), QPoint(60, 50))},
        {{50, 42}, QRect(QPoint(50, 42), QPoint(58, 50))}, // level in x: extends to positive x
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to.x());
        press(w, QPoint(50, 50));
        move(w, c.to);
        EXPECT_EQ(lastList(spy).first(), c.expected);
    }
}

TEST(Waterfall_Selection, PointAndPathPlaceMarkers)
{
    Waterfall w;
    w.setRange(300, 300);
    w.setSelectionMode(Waterfall::PointSelection);
    QSignalSpy spy(&w, &Waterfall::selected);
    press(w, QPoint(20, 30));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(lastList(spy), Waterfall::SelectionList{QRect(QPoint(16, 26), QPoint(25, 35))});
    move(w, QPoint(21, 31));
    EXPECT_EQ(lastList(spy).first().center(), QPoint(21, 31));

    w.setSelectionMode(Waterfall::PathSelection);
    for (int i = 0; i < 205; ++i)
        press(w, QPoint(i, i));
    EXPECT_EQ(w.selectionList.size(), Waterfall::maxPathMarkers);
    EXPECT_EQ(lastList(spy).size(), Waterfall::maxPathMarkers);
    move(w, QPoint(250, 10));
    EXPECT_EQ(w.selectionList.last().center(), QPoint(250, 10));
}

TEST(Waterfall_Selection, GridAndAngleAndDragWithoutMode)
{
    Waterfall w;
    w.setRange(100, 100);
    w.setSelectionMode(Waterfall::GridSelection);
    w.gridPointsXChanged(3);
    w.gridPointsYChanged(3);
    w.gridFixXy(true);
    QSignalSpy spy(&w, &Waterfall::selected);
    press(w, QPoint(10, 10));
    move(w, QPoint(50, 30));
    EXPECT_EQ(lastList(spy).first(), QRect(QPoint(10, 10), QPoint(50, 50)));
    // Grid points at 10, 30, 50 in both axes are cut out as circles; the centre of a cell is not.
    EXPECT_FALSE(w.mask().contains(QPoint(30, 27)));
    EXPECT_TRUE(w.mask().contains(QPoint(20, 20)));

    w.setSelectionMode(Waterfall::AngleSelection);
    press(w, QPoint(10, 10));
    move(w, QPoint(5, 40));
    EXPECT_EQ(spy.last().at(0).value<Waterfall::SelectionMode>(), Waterfall::AngleSelection);
    // The line keeps its direction: it is reported from the press to the mouse.
    EXPECT_EQ(lastList(spy).first().topLeft(), QPoint(10, 10));
    EXPECT_EQ(lastList(spy).first().bottomRight(), QPoint(5, 40));

    w.setSelectionMode(Waterfall::NoSelection);
    EXPECT_TRUE(w.mask().isEmpty());
    QSignalSpy drag(&w, &Waterfall::encodeMetadata);
    press(w, QPoint(10, 10));
    move(w, QPoint(12, 12)); // nobody hands out a container: no drag starts
    EXPECT_EQ(drag.count(), 1);
}

TEST(Waterfall_Gauges, ColorGaugeAndGaugeLabelPaint)
{
    Waterfall w;
    ColorGauge gauge(&w);
    gauge.resize(4, 11);
    QImage img = gauge.grab().toImage();
    EXPECT_EQ(rgb(img, 1, 0), qRgb(255, 255, 255));
    EXPECT_EQ(rgb(img, 1, 10), qRgb(0, 0, 0));
    EXPECT_EQ(rgb(img, 1, 5), qRgb(127, 127, 127));

    GaugeLabel label;
    label.resize(21, 7);
    QPalette pal = label.palette();
    pal.setColor(QPalette::Window, Qt::white);
    label.setPalette(pal);
    label.setAutoFillBackground(true);
    img = label.grab().toImage();
    EXPECT_NE(rgb(img, 0, 1), qRgb(255, 255, 255));
    EXPECT_NE(rgb(img, 20, 5), qRgb(255, 255, 255));
    EXPECT_NE(rgb(img, 10, 3), qRgb(255, 255, 255));
    EXPECT_EQ(rgb(img, 10, 1), qRgb(255, 255, 255));
}
