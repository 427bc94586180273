// Line view widget: curves, mapping, the merged-column drawing, grid labels, selection mask, throttling.
#include "displays/lineview.h"
#include "displays/lvcurve.h"
#include "displays/raster.h"
#include "displays/scalegraph.h"

#include <QApplication>
#include <QBitmap>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QColor kBg(Qt::black);

// A shown view of the given size whose grid and labels are invisible (grid colour = background), so that only the
// curves differ from the background.
struct PlainView
{
    explicit PlainView(int w = 300, int h = 200, bool pointMode = false) : view(nullptr, pointMode)
    {
        view.resize(w, h);
        view.show();
        view.setColors(kBg, kBg, Qt::white, Qt::cyan);
    }
    QImage image() { return view.getPixmap().toImage().convertToFormat(QImage::Format_RGB32); }
    LineView view;
};

// Draws every segment the way the view's rule says (skip when neither end is inside), one QPainter call each.
QImage referencePicture(const LineView& v, const LvCurve& c, bool stepMode)
{
    const int W = v.width(), H = v.height();
    QImage ref(W, H, QImage::Format_RGB32);
    ref.fill(kBg);
    QPainter p(&ref);
    p.setPen(QPen(c.color, 0));
    auto inside = [&](QPoint q) { return q.x() >= 0 && q.x() < W && q.y() >= 0 && q.y() < H; };
    for (int i = 1; i < c.points.size(); ++i) {
        const QPoint a = v.unit2Pixel(c.points.at(i - 1)), b = v.unit2Pixel(c.points.at(i));
        if (!inside(a) && !inside(b))
            continue;
        if (stepMode) {
            const int m = (a.x() + b.x()) / 2;
            p.drawLine(a, QPoint(m, a.y()));
            p.drawLine(QPoint(m, a.y()), QPoint(m, b.y()));
            p.drawLine(QPoint(m, b.y()), b);
        } else {
            p.drawLine(a, b);
        }
    }
    return ref;
}

int countDiff(const QImage& a, const QImage& b, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

// A view inside a parent widget (masks are for child widgets).
struct FramedView
{
    FramedView(int w, int h) : view(&frame, false)
    {
        frame.resize(w, h);
        view.resize(w, h);
        frame.show();
    }
    QWidget frame;
    LineView view;
};

void sendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent ev(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

} // namespace

TEST(LvCurve_Truncate, CutsOnlyBeyondOnePercent)
{
    struct Case
    {
        int size;
        int drawn;
        int removed;
        int drawnAfter;
    } cases[] = {{1010, 1010, 0, 1010}, {1011, 1011, 11, 1000}, {1011, 5, 11, 0}, {500, 0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        LvCurve curve;
        for (int i = 0; i < c.size; ++i)
            curve.points.append(QPointF(i, -i));
        curve.drawn = c.drawn;
        EXPECT_EQ(curve.truncate(1000), c.removed);
        EXPECT_EQ(curve.drawn, c.drawnAfter);
        EXPECT_EQ(curve.points.size(), c.size - c.removed);
        // The newest points stay, in order.
        EXPECT_EQ(curve.points.last(), QPointF(c.size - 1, -(c.size - 1)));
        EXPECT_EQ(curve.points.first(), QPointF(c.removed, -c.removed));
    }
}

TEST(LvCurve_Points, RollingAppendAndCutKeepsOrder)
{
    LvCurve curve;
    int next = 0;
    for (int round = 0; round < 300; ++round) {
        for (int k = 0; k < 37; ++k, ++next)
            curve.points.append(QPointF(next, 0));
        curve.truncate(500);
        ASSERT_LE(curve.points.size(), 505);
        for (int i = 0; i < curve.points.size(); ++i)
            ASSERT_EQ(curve.points.at(i).x(), next - curve.points.size() + i);
    }
    const LvCurve copy = curve; // the snapshot copies curves by value
    EXPECT_EQ(copy.points, curve.points);
}

TEST(LvCurve_Ranges, RangeAverageAndDirection)
{
    LvCurve c;
    EXPECT_EQ(c.getRangeY(QRectF(0, 0, 10, 1)), QRectF(0, 0, 10, -1));
    for (int i = 0; i < 5; ++i)
        c.points.append(QPointF(i, 3));
    EXPECT_EQ(c.getRangeY(QRectF(0, 0, 10, 1)), QRectF(0, 3, 10, 1.0)); // flat
    c.points[2].setY(-1);
    c.points[0].setY(100); // the first point does not count
    EXPECT_EQ(c.getRangeY(QRectF(0, 0, 10, 1)), QRectF(0, -1, 10, 4));
    EXPECT_EQ(c.getAverage(1, 3), QPointF(2, 5.0 / 3));
    EXPECT_EQ(c.getAverage(5, 5), QPointF(2, 108.0 / 5)); // x0 >= x1: all points
    EXPECT_EQ(c.getAverage(20, 30), QPointF(0, 0));
    EXPECT_FALSE(c.isReverse());
    c.points[0].setX(9);
    EXPECT_TRUE(c.isReverse());
}

TEST(LineView_Mapping, CurveLandsOnMappedPixels)
{
    PlainView pv(200, 100);
    pv.view.setWindow(QRectF(0, -1, 10, 2), "+s", "+V");
    LvCurve* c = pv.view.addCurve(1); // red
    c->points.append(QPointF(1, 0.5));
    c->points.append(QPointF(9, 0.5));
    const QImage img = pv.image();
    const QPoint a = pv.view.unit2Pixel(QPointF(1, 0.5)), b = pv.view.unit2Pixel(QPointF(9, 0.5));
    // px = trunc(200 * 1 / 10) = 20; py = 99 - trunc(1.5 * 100 / 2) = 24
    EXPECT_EQ(a, QPoint(20, 24));
    EXPECT_EQ(b, QPoint(180, 24));
    for (int x = a.x(); x <= b.x(); ++x)
        ASSERT_EQ(img.pixel(x, 24), qRgb(255, 0, 0)) << x;
    EXPECT_EQ(img.pixel(100, 23), kBg.rgb());
    EXPECT_EQ(img.pixel(100, 25), kBg.rgb());
    // pixel2Unit is the centre of the pixel.
    EXPECT_DOUBLE_EQ(pv.view.pixel2Unit(QPoint(20, 24)).x(), 20.5 * 10 / 200);
    EXPECT_DOUBLE_EQ(pv.view.pixel2Unit(QPoint(20, 24)).y(), (100 - 24 - 0.5) * 2 / 100 - 1);
}

TEST(LineView_Drawing, MergedColumnsGiveTheSamePictureAsEverySegment)
{
    struct Case
    {
        const char* name;
        int points;
        double xSpan;
        bool stepMode;
        bool incremental;
    } cases[] = {{"dense", 50000, 10, false, false},
                 {"sparse", 60, 10, false, false},
                 {"dense steps", 30000, 10, true, false},
                 {"sparse steps", 80, 10, true, false},
                 {"dense, drawn in pieces", 40000, 10, false, true},
                 {"wider than the window", 40000, 30, false, false}};
    for (const Case& cs : cases) {
        SCOPED_TRACE(cs.name);
        PlainView pv(300, 200);
        pv.view.setStepMode(cs.stepMode);
        pv.view.setWindow(QRectF(0, -1.2, 10, 2.4), "+s", "+V");
        LvCurve* c = pv.view.addCurve(2);
        unsigned seed = 12345;
        for (int i = 0; i < cs.points; ++i) {
            seed = seed * 1103515245u + 12345u;
            const double noise = ((seed >> 8) % 1000) / 1000.0 - 0.5;
            const double x = cs.xSpan * i / cs.points;
            // Leaves the window at the top and bottom now and then.
            c->points.append(QPointF(x, 1.3 * std::sin(x * 2.1) + noise * 0.6));
            if (cs.incremental && i % 7001 == 0)
                pv.view.getPixmap();
        }
        const QImage img = pv.image();
        const QImage ref = referencePicture(pv.view, *c, cs.stepMode);
        // Labels (opaque boxes) sit along the left and bottom edges.
        EXPECT_EQ(countDiff(img, ref, QRect(40, 0, 260, 170)), 0);
        EXPECT_GT(countDiff(ref, QImage(ref.size(), ref.format()), QRect(40, 0, 260, 170)), 100);
    }
}

TEST(LineView_Drawing, PointModeDrawsOnlyPoints)
{
    PlainView pv(100, 100, true);
    pv.view.setWindow(QRectF(0, 0, 100, 100), "+", "+");
    LvCurve* c = pv.view.addCurve(0);
    c->points.append(QPointF(50.5, 50.5));
    c->points.append(QPointF(70.5, 50.5));
    const QImage img = pv.image();
    const QPoint q = pv.view.unit2Pixel(QPointF(70.5, 50.5));
    EXPECT_EQ(img.pixel(q), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(60, q.y()), kBg.rgb()); // no line between the points
}

TEST(LineView_Drawing, AverageModeNeedsCurvesOfEqualLength)
{
    PlainView pv(100, 100);
    pv.view.setWindow(QRectF(0, 0, 10, 10), "+", "+");
    pv.view.setAvgMode(true);
    LvCurve* a = pv.view.addCurve(1);
    LvCurve* b = pv.view.addCurve(2);
    for (int i = 0; i < 10; ++i) {
        a->points.append(QPointF(i, 2));
        b->points.append(QPointF(i, 6));
    }
    b->points.append(QPointF(10, 6));
    pv.view.setChanged();
    QImage img = pv.image();
    const int row4 = pv.view.unit2Pixel(QPointF(0, 4)).y();
    EXPECT_EQ(img.pixel(50, row4), kBg.rgb());
    b->points.removeFirst(1);
    pv.view.setChanged();
    img = pv.image();
    // The mean 4 is drawn in the first curve's colour; neither curve itself is drawn.
    EXPECT_EQ(img.pixel(50, row4), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(50, pv.view.unit2Pixel(QPointF(0, 6)).y()), kBg.rgb());
}

TEST(LineView_Bounds, YCountsOnlyInsideTheColumns)
{
    PlainView pv(100, 100);
    pv.view.setWindow(QRectF(0, 0, 10, 10), "+", "+");
    LvCurve* c = pv.view.addCurve(1);
    c->points.append(QPointF(0, 500)); // the first point is never a segment end
    c->points.append(QPointF(2, 3));
    c->points.append(QPointF(5, 7));
    c->points.append(QPointF(20, -50)); // right of the widget: x counts, y not
    pv.view.getPixmap();
    bool valid = false;
    const QRectF b = pv.view.getDataBounds(&valid);
    EXPECT_TRUE(valid);
    EXPECT_EQ(b, QRectF(2, 3, 18, 4));
    // The data average looks only at points inside the shown window.
    EXPECT_EQ(pv.view.getDataAverage(), QPointF((0 + 2 + 5) / 3.0, (500 + 3 + 7) / 3.0));
}

TEST(LineView_Window, SetWindowAndMoveWindowRules)
{
    PlainView pv(100, 100);
    pv.view.setWindow(QRectF(0, 0, 10, 1), "+s", "+V");
    pv.view.getPixmap();
    ASSERT_TRUE(pv.view.isGridValid());
    pv.view.setWindow(QRectF(0, 0, 10, 1 + 1e-14), "+s", "+V"); // equal within the fuzz
    EXPECT_TRUE(pv.view.isGridValid());
    pv.view.setWindow(QRectF(5, 0, 0, 1), "+m", "+A"); // no width: units only
    EXPECT_FALSE(pv.view.isGridValid());
    EXPECT_EQ(pv.view.getWindow(false), QRectF(0, 0, 10, 1));
    EXPECT_EQ(pv.view.getUnitX(), "+m");
    EXPECT_EQ(pv.view.getUnitY(), "+A");

    EXPECT_FALSE(pv.view.moveWindow(5, 0.99));
    EXPECT_TRUE(pv.view.moveWindow(20, 0.99));
    EXPECT_DOUBLE_EQ(pv.view.getWindow(false).x(), 20 - 9.9);
    pv.view.getPixmap();
    pv.view.freezeWindow(true);
    EXPECT_TRUE(pv.view.moveWindow(100, 0.5));
    EXPECT_DOUBLE_EQ(pv.view.getWindow(false).x(), 20 - 9.9);
}

TEST(LineView_Grid, TickLabelsUnderTheUnitLabelAreLeftOut)
{
    LineView view(nullptr, false);
    view.resize(400, 300);
    view.show();
    const QColor grid(0, 255, 0);
    view.setColors(Qt::black, grid, Qt::white, Qt::cyan);
    const QString unit = "+WWWWWWWWWWWW"; // a wide X unit label at the right edge
    view.setWindow(QRectF(0, 0, 10, 1), unit, "+V");
    const QImage img = view.getPixmap().toImage().convertToFormat(QImage::Format_RGB32);
    const Raster r(QRectF(0, 0, 10, 1), view.size());
    const QRect unitRect = view.calcTagPosition(unit.mid(1), 10000, false);
    int kept = 0, dropped = 0;
    for (double x = r.xStart; x < 10; x += r.xStep) {
        const int px = int(400 * x / 10);
        const QRect label = view.calcTagPosition(QString::number(x, 'g', 6), px, false);
        const bool expectLine = !label.intersects(unitRect);
        // Horizontal grid lines cross every column: compare with the column beside it.
        int here = 0, beside = 0;
        for (int y = 40; y < 200; ++y) { // above the labels, below the Y unit label
            here += img.pixel(px, y) == grid.rgb();
            beside += img.pixel(px + 2, y) == grid.rgb();
        }
        const bool hasGrid = here > beside + 10;
        EXPECT_EQ(hasGrid, expectLine) << "tick " << x;
        (expectLine ? kept : dropped)++;
    }
    EXPECT_GT(kept, 3);
    EXPECT_GE(dropped, 1);
}

TEST(LineView_Grid, MarkerLinesAndStatusText)
{
    LineView view(nullptr, false);
    QLabel status;
    view.setStatusWidget(&status);
    view.resize(200, 100);
    view.show();
    view.setWindow(QRectF(0, 0, 10, 1000), "+s", "+V");
    view.setColors(Qt::black, Qt::black, Qt::white, Qt::cyan);
    view.setVerticalLines({5.0, 50.0});
    view.setHorizontalLines({0.5}); // in label units: 0.5 kV
    const QImage img = view.getPixmap().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(img.pixel(100, 10), QColor(Qt::cyan).rgb());           // x = 5 at column 100
    EXPECT_EQ(img.pixel(150, 100 - 1 - 50), QColor(Qt::cyan).rgb()); // 500 V at row 49
    EXPECT_TRUE(status.text().startsWith("X: 0 s   + 1 s/div    Y: 0 kV   + 0.2 kV/div"))
        << status.text().toStdString();
}

TEST(LineView_Selection, RangeOutlineIsCutIntoTheMask)
{
    FramedView fv(200, 100);
    LineView& view = fv.view;
    view.setWindow(QRectF(0, 0, 20, 10), "+s", "+V");
    view.setSelectionMode(LineView::SelRangeX);
    QSignalSpy sel(&view, &LineView::selected);
    sendMouse(&view, QEvent::MouseButtonPress, QPoint(50, 40), Qt::LeftButton, Qt::LeftButton);
    sendMouse(&view, QEvent::MouseMove, QPoint(120, 60), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(sel.count(), 2);
    const QRegion mask = view.mask();
    EXPECT_TRUE(mask.contains(QPoint(80, 40)));
    for (int edge : {50, 120}) {
        for (int y : {0, 50, 99}) {
            SCOPED_TRACE(edge);
            EXPECT_FALSE(mask.contains(QPoint(edge, y)) && mask.contains(QPoint(edge - 1, y)));
        }
    }
    const QRectF s = view.getSelection();
    EXPECT_DOUBLE_EQ(s.x(), view.pixel2Unit(QPoint(50, 40)).x());
    EXPECT_DOUBLE_EQ(s.right(), view.pixel2Unit(QPoint(120, 60)).x());
    // The right button does nothing; mode 0 clears the mask.
    sendMouse(&view, QEvent::MouseButtonPress, QPoint(10, 10), Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(sel.count(), 2);
    view.setSelectionMode(LineView::SelNone);
    EXPECT_TRUE(view.mask().isEmpty());
}

TEST(LineView_Selection, PointModesMoveTheMarkerWithThePointer)
{
    FramedView fv(200, 100);
    LineView& view = fv.view;
    view.setSelectionMode(LineView::SelPointY);
    sendMouse(&view, QEvent::MouseButtonPress, QPoint(30, 30), Qt::LeftButton, Qt::LeftButton);
    sendMouse(&view, QEvent::MouseMove, QPoint(80, 70), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(view.getSelRect(), QRect(80, 70, 1, 1));
    const QRegion mask = view.mask();
    EXPECT_TRUE(mask.contains(QPoint(10, 70)));
    EXPECT_FALSE(mask.contains(QPoint(10, 69)) && mask.contains(QPoint(10, 68)));
    EXPECT_FALSE(mask.contains(QPoint(190, 72)) && mask.contains(QPoint(190, 71)));
}

TEST(LineView_Selection, ZoomIconsAcceptOnlyOnLargeRectangles)
{
    struct Case
    {
        QPoint end;
        QPoint click;
        int accepted; // 0: the click starts a new rectangle
    } cases[] = {{{150, 90}, {148, 22}, 1},
                 {{150, 90}, {52, 22}, 2},
                 {{150, 90}, {100, 60}, 0},
                 {{60, 30}, {58, 21}, 0}}; // 11x11: too small for icons
    for (const Case& c : cases) {
        SCOPED_TRACE(c.accepted);
        FramedView fv(200, 100);
        LineView& view = fv.view;
        view.setSelectionMode(LineView::SelZoom);
        QSignalSpy acc(&view, &LineView::selAccepted);
        sendMouse(&view, QEvent::MouseButtonPress, QPoint(50, 20), Qt::LeftButton, Qt::LeftButton);
        EXPECT_TRUE(view.mask().isEmpty()); // an empty zoom rectangle shows nothing
        sendMouse(&view, QEvent::MouseMove, c.end, Qt::NoButton, Qt::LeftButton);
        EXPECT_EQ(view.getSelRect(), QRect(QPoint(50, 20), c.end));
        if (c.end.x() - 50 > 35) {
            // The icons are holes in the mask: some icon pixels are cut, the area between them is not.
            const QRegion mask = view.mask();
            int holes = 0;
            for (int y = 22; y < 38; ++y)
                for (int x = 52; x < 68; ++x)
                    holes += !mask.contains(QPoint(x, y));
            EXPECT_GT(holes, 10);
            EXPECT_TRUE(mask.contains(QPoint(100, 30)));
        }
        sendMouse(&view, QEvent::MouseButtonPress, c.click, Qt::LeftButton, Qt::LeftButton);
        if (c.accepted) {
            ASSERT_EQ(acc.count(), 1);
            EXPECT_EQ(acc.first().first().toInt(), c.accepted);
        } else {
            EXPECT_EQ(acc.count(), 0);
        }
        EXPECT_FALSE(view.getSelRect().isValid());
    }
}

TEST(LineView_Selection, ZoomFromLeftStartsAtTheLeftEdge)
{
    FramedView fv(200, 100);
    LineView& view = fv.view;
    view.setSelectionMode(LineView::SelZoomFromLeft);
    sendMouse(&view, QEvent::MouseButtonPress, QPoint(50, 20), Qt::LeftButton, Qt::LeftButton);
    sendMouse(&view, QEvent::MouseMove, QPoint(120, 80), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(view.getSelRect(), QRect(QPoint(0, 20), QPoint(120, 80)));
}

TEST(LineView_Throttle, CurveEndBlocksPaintsThenReleases)
{
    LineView view(nullptr, false);
    view.resize(100, 100);
    view.show();
    view.updateCurves();
    EXPECT_TRUE(view.isPaintBlocked());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !view.isPaintBlocked(); }, 2000));
    view.finishCurve(false);
    EXPECT_TRUE(view.isPaintBlocked());
    EXPECT_TRUE(view.isResetBlocked());
    view.updateCurves(); // coalesced into the running block
    EXPECT_TRUE(QTest::qWaitFor([&] { return !view.isResetBlocked(); }, 2000));
    EXPECT_TRUE(view.isPaintBlocked()); // 50 ms < 200 ms
    EXPECT_TRUE(QTest::qWaitFor([&] { return !view.isPaintBlocked(); }, 2000));

    LineView hidden(nullptr, false);
    hidden.updateCurves();
    hidden.finishCurve(false);
    EXPECT_FALSE(hidden.isPaintBlocked());
    EXPECT_FALSE(hidden.isResetBlocked());
}

TEST(LineView_Curves, ColourTableAndRemoval)
{
    LineView view(nullptr, false);
    LvCurve* a = view.addCurve(17);
    EXPECT_EQ(a->color.rgb(), QColor(255, 0, 0).rgb());
    view.addCurve(0);
    LvCurve* b = view.addCurve(-1); // index = number of curves
    EXPECT_EQ(b->color.rgb(), QColor(0, 255, 0).rgb());
    LvCurve stranger;
    view.removeCurve(&stranger);
    EXPECT_EQ(view.getCurves().size(), 3);
    view.removeCurves(b);
    ASSERT_EQ(view.getCurves().size(), 1);
    EXPECT_EQ(view.getCurves().first(), b);
}

TEST(ScaleGraph_Paint, BarShowsTheWindowWithinTheRange)
{
    ScaleGraph g;
    g.resize(30, 102);
    g.setAbsMin(0);
    g.setAbsMax(100);
    g.setWindow(QRectF(0, 50, 1, 50)); // the upper half
    const QImage img = g.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb blue = qRgb(173, 216, 230);
    EXPECT_EQ(img.pixel(15, 20), blue);
    EXPECT_NE(img.pixel(15, 80), blue);
    EXPECT_EQ(img.pixel(2, 20), qRgb(255, 255, 224)); // left of the bar
}

TEST(LineView_Grid, YTickLabelsTellNeighbouringTicksApart)
{
    struct Case
    {
        const char* name;
        QRectF window;
        const char* unitY;
    } cases[] = {{"narrow window far from zero", QRectF(0, 10.0, 10, 0.01), "-V"},
                 {"narrow negative window", QRectF(0, -20.01, 10, 0.01), "-V"},
                 {"large offset", QRectF(0, 123456.0, 10, 1.0), "-V"},
                 {"around zero", QRectF(0, -1.0, 10, 2.0), "+V"},
                 {"with a prefix", QRectF(0, 0.0, 10, 5000.0), "+V"}};
    for (const Case& cs : cases) {
        SCOPED_TRACE(cs.name);
        LineView view(nullptr, false);
        view.resize(300, 400);
        view.show();
        view.setWindow(cs.window, "+s", cs.unitY);
        view.getPixmap();
        const QStringList labels = view.getTickLabelsY();
        ASSERT_GE(labels.size(), 3) << labels.join(' ').toStdString();
        // Ticks are equidistant: neighbouring labels differ, and by the same amount.
        const double step = labels.at(1).toDouble() - labels.at(0).toDouble();
        EXPECT_GT(step, 0) << labels.join(' ').toStdString();
        for (int i = 1; i < labels.size(); ++i)
            EXPECT_NEAR(labels.at(i).toDouble() - labels.at(i - 1).toDouble(), step, step * 1e-6)
                << labels.join(' ').toStdString();
    }
}

TEST(LineView_Drawing, RedrawsFromKeptColumnsMatchTheCurve)
{
    // Each step changes the curve or the view and redraws from the grid; the picture and the data bounds must be
    // those of the curve as it is now, whatever the view kept from earlier draws.
    auto fill = [](LvCurve* c, int from, int count, double phase) {
        for (int i = from; i < from + count; ++i) {
            const double x = 10.0 * i / 40000;
            c->points.append(QPointF(x, 1.3 * std::sin(x * 2.1 + phase) + 0.3 * std::sin(i * 0.7)));
        }
    };
    struct Step
    {
        const char* name;
        std::function<void(PlainView&, LvCurve*)> change;
    };
    const Step steps[] = {
        {"nothing new (overlay change)", [](PlainView& pv, LvCurve*) { pv.view.setHorizontalLines({}); }},
        {"new points", [&](PlainView&, LvCurve* c) { fill(c, c->points.size(), 5000, 0); }},
        {"points cleared and refilled",
         [&](PlainView&, LvCurve* c) {
             c->points.clear();
             fill(c, 0, 30000, 1.0);
         }},
        {"oldest points cut", [](PlainView&, LvCurve* c) { c->truncate(20000); }},
        {"a point overwritten", [](PlainView&, LvCurve* c) { c->points[100] = QPointF(0.03, 1.0); }},
        {"curve assigned",
         [&](PlainView&, LvCurve* c) {
             LvCurve other;
             fill(&other, 0, 25000, 2.0);
             c->points = other.points;
         }},
        {"resized", [](PlainView& pv, LvCurve*) { pv.view.resize(280, 190); }},
        {"window moved", [](PlainView& pv, LvCurve*) { pv.view.setWindow(QRectF(1, -1.5, 8, 3), "+s", "+V"); }},
        {"step mode", [](PlainView& pv, LvCurve*) { pv.view.setStepMode(true); }},
    };
    PlainView pv(300, 200);
    pv.view.setWindow(QRectF(0, -1.2, 10, 2.4), "+s", "+V");
    LvCurve* c = pv.view.addCurve(2);
    fill(c, 0, 40000, 0);
    pv.image();
    for (const Step& st : steps) {
        SCOPED_TRACE(st.name);
        st.change(pv, c);
        pv.view.setChanged();
        const QImage img = pv.image();
        const QImage ref = referencePicture(pv.view, *c, pv.view.isStepMode());
        const QRect area(40, 0, pv.view.width() - 40, pv.view.height() - 30);
        EXPECT_EQ(countDiff(img, ref, area), 0);
        EXPECT_GT(countDiff(ref, QImage(ref.size(), ref.format()), area), 100);
        // dataBounds: x over the points from the second on, y over those in the visible columns.
        double x0 = 1e300, x1 = -1e300, y0 = 1e300, y1 = -1e300;
        for (int i = 1; i < c->points.size(); ++i) {
            const QPointF p = c->points.at(i);
            x0 = std::min(x0, p.x());
            x1 = std::max(x1, p.x());
            const int px = pv.view.unit2Pixel(p).x();
            if (px >= 0 && px < pv.view.width()) {
                y0 = std::min(y0, p.y());
                y1 = std::max(y1, p.y());
            }
        }
        bool valid = false;
        const QRectF b = pv.view.getDataBounds(&valid);
        EXPECT_TRUE(valid);
        EXPECT_DOUBLE_EQ(b.left(), x0);
        EXPECT_DOUBLE_EQ(b.right(), x1);
        EXPECT_DOUBLE_EQ(b.top(), y0);
        EXPECT_DOUBLE_EQ(b.bottom(), y1);
    }
}
