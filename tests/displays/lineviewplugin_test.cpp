// Line display plug-in: metadata record, data paths, ranges, options, selections, partners and snapshots.
#include "displays/lineviewplugin.h"
#include "displays/metahelpers.h"
#include "displays/scalegraph.h"
#include "filters/derivativefilter.h"
#include "framework/streamformat.h"
#include "snapshot/snapshotmgr.h"
#include "support/recordingplugin.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextStream>
#include <QToolButton>
#include <QWheelEvent>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct Plugin
{
    explicit Plugin(bool parametric = false)
        : p(std::make_unique<LineViewPlugin>(nullptr, QStringLiteral("lv"), parametric, nullptr))
    {
        p->getWidget()->resize(500, 400);
        p->getWidget()->show();
    }
    LineViewPlugin* operator->() const { return p.get(); }
    LvCurve* curve(int slot, int channel = 0) const { return p->getLines().at(slot).at(channel); }
    void feed(const QVector<int>& words, int index) { p->setData(words.constData(), words.size(), index); }
    std::unique_ptr<LineViewPlugin> p;
};

QVector<int> ramp(int n, int start = 0)
{
    QVector<int> v(n);
    for (int i = 0; i < n; ++i)
        v[i] = start + i;
    return v;
}

QVector<double> xs(const LvCurve* c)
{
    QVector<double> r;
    for (const QPointF& p : c->points)
        r << p.x();
    return r;
}

QVector<double> ys(const LvCurve* c)
{
    QVector<double> r;
    for (const QPointF& p : c->points)
        r << p.y();
    return r;
}

void mouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent ev(type, pos, w->mapToGlobal(pos), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                   Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

void dragSelection(LineView* v, QPoint from, QPoint to)
{
    mouse(v, QEvent::MouseButtonPress, from, Qt::LeftButton);
    mouse(v, QEvent::MouseMove, to, Qt::LeftButton);
}

} // namespace

TEST(LvMetaHelpers_Update, DerivesPlacementFromProperties)
{
    struct Case
    {
        GPlugin::DataOrder order;
        bool hasOrder, reverseOdd, reverseEven;
        int pointsPerCurve;
    } cases[] = {{GPlugin::linear, false, false, false, 100}, {GPlugin::triggered, true, false, false, 100},
                 {GPlugin::forBack, true, true, false, 200},  {GPlugin::backBack, true, true, true, 100},
                 {GPlugin::backFor, true, false, true, 200},  {GPlugin::forFor, true, false, false, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.order));
        LvMetaHelpers m;
        m.order = c.order;
        m.rangeX = 100;
        m.physX = 2000;
        m.offsetX = 100;
        m.unitX = 0x17E; // µm
        m.update();
        EXPECT_EQ(m.hasOrder, c.hasOrder);
        EXPECT_EQ(m.reverseOdd, c.reverseOdd);
        EXPECT_EQ(m.reverseEven, c.reverseEven);
        EXPECT_EQ(m.pointsPerCurve, c.pointsPerCurve);
        EXPECT_DOUBLE_EQ(m.dx, 2000e-6 / 99);
        EXPECT_DOUBLE_EQ(m.x0, c.hasOrder ? (100 - 1000) * 1e-6 : 0.0);
        EXPECT_EQ(m.unitXText, "+m");
    }
    LvMetaHelpers m;
    m.unitVal = 1; // µV: a basic code, applied by its factor and never rescaled
    m.physVal = 4;
    m.physValNumerator = 2;
    m.offsetVal = 10;
    m.encoding = 1 | (0x0b << 8);
    m.update();
    EXPECT_EQ(m.unitValText, "-V");
    EXPECT_DOUBLE_EQ(m.yScale, 1e-6 / 4 * 2);
    EXPECT_EQ(m.channels, 3);
    EXPECT_EQ(m.channelMask, 0x0b);
    const int w[2] = {30, 0};
    EXPECT_DOUBLE_EQ(m.int2Y(w), 20 * 0.5e-6);
    m.encoding = 1; // a mask without channels is one channel
    m.update();
    EXPECT_EQ(m.channels, 1);
}

TEST(LvMetaHelpers_Int2Y, FortyEightBitValues)
{
    LvMetaHelpers m;
    m.encoding = 6;
    m.update();
    ASSERT_EQ(m.wordsPerValue, 2);
    // Encoding 6: 24 bits in each word, low word first, sign at bit 47; the top bytes are not part of the value.
    struct Case
    {
        int lo, hi;
        double value;
    } cases[] = {{5, 0, 5},
                 {0xFFFFFF, 0, 16777215.0},
                 {0, 1, 16777216.0},
                 {0x000001, 0x000001, 16777217.0},
                 {0xFFFFFF, 0xFFFFFF, -1},
                 {-1, -1, -1},
                 {0, 0x800000, -140737488355328.0},
                 {0x12FFFFFF, 0x7F7FFFFF, 140737488355327.0},
                 {7, 0x12000000, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const int words[2] = {c.lo, c.hi};
        EXPECT_DOUBLE_EQ(m.int2Y(words), c.value);
    }
}

TEST(LvMetaHelpers_Idx2X, OrdersAndSweepLimits)
{
    LvMetaHelpers m;
    m.order = GPlugin::forBack;
    m.rangeX = 4;
    m.physX = 3;
    m.update(); // dx 1, x0 -1.5
    QVector<double> x;
    QVector<int> firsts, lasts;
    for (int i = 0; i < 10; ++i) {
        bool f, l;
        x << m.idx2X(i, false, 0, &f, &l);
        if (f)
            firsts << i;
        if (l)
            lasts << i;
    }
    EXPECT_EQ(x, (QVector<double>{-1.5, -0.5, 0.5, 1.5, 1.5, 0.5, -0.5, -1.5, -1.5, -0.5}));
    EXPECT_EQ(firsts, (QVector<int>{0, 8}));
    EXPECT_EQ(lasts, (QVector<int>{7}));

    m.order = GPlugin::linear;
    m.update();
    bool f, l;
    EXPECT_DOUBLE_EQ(m.idx2X(5, false, 0, &f, &l), 5 * m.dx);
    EXPECT_FALSE(f);
    EXPECT_FALSE(l);
    m.idx2X(3, false, 3.5 * m.dx, &f, &l); // the last point before the limit
    EXPECT_TRUE(l);
    m.idx2X(4, false, 3.5 * m.dx, &f, &l); // beyond it: a new sweep
    EXPECT_TRUE(f);
}

TEST(LineViewPlugin_Catalogue, ThreeLineEntriesCreateTheVariants)
{
    struct Case
    {
        const char* name;
        int flags;
        bool parametric;
    } cases[] = {{"Line Display 2", 0x1001, false},
                 {"Double Line Display 2", 0x10c1, false},
                 {"Parametric Display", 0x1041, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const GPlugin::PluginDescriptor* d = nullptr;
        for (const GPlugin::PluginDescriptor* e : *GPlugin::_typeList)
            if (e->name == c.name)
                d = e;
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->flags, c.flags);
        std::unique_ptr<GPlugin> g(d->factory(nullptr, "x"));
        auto* lv = qobject_cast<LineViewPlugin*>(g.get());
        ASSERT_NE(lv, nullptr);
        EXPECT_EQ(lv->getView()->isPointMode(), c.parametric);
        EXPECT_EQ(lv->getStretch(), 10);
        EXPECT_NE(lv->getSnapshotManager(), nullptr);
    }
}

TEST(LineViewPlugin_Data, SweepRestartsBeyondTheWindow)
{
    Plugin p; // no order: one slot, window width 10, dx 1
    p.feed(ramp(25, 100), 0);
    // Sweeps start at x 0, 11 and 22; each counts x from its own start.
    EXPECT_EQ(xs(p.curve(0)), (QVector<double>{0, 1, 2}));
    EXPECT_EQ(ys(p.curve(0)), (QVector<double>{122, 123, 124}));
}

TEST(LineViewPlugin_Data, RollingScrollsAndCutsTheCurve)
{
    Plugin p;
    p->setRolling(true);
    p->setOption("maxdatapoints", "1000");
    p.feed(ramp(100), 0);
    EXPECT_EQ(p.curve(0)->points.size(), 100);
    EXPECT_EQ(xs(p.curve(0)).mid(0, 3), (QVector<double>{0, 1, 2})); // the first point is x 0, the second 1
    EXPECT_DOUBLE_EQ(p->getView()->getWindow(false).x(), 99 - 10 * 0.99);
    p->setOption("movexstep", "0.5");
    p.feed(ramp(1000), 100);
    EXPECT_DOUBLE_EQ(p->getView()->getWindow(false).x(), 1099 - 10 * 0.5);
    // 1100 points: cut back to 1000 once more than 1 % over.
    EXPECT_EQ(p.curve(0)->points.size(), 1000);
    EXPECT_EQ(p.curve(0)->points.last().x(), 1099);
    // A frozen (stopped) view does not scroll, and a stopped display takes no data but forwards it.
    auto* rec = new RecordingPlugin();
    p->setSuccessor(rec);
    p->onStop(true);
    p.feed(ramp(10), 1100);
    EXPECT_EQ(p.curve(0)->points.last().x(), 1099);
    EXPECT_EQ(rec->words.size(), 10);
}

TEST(LineViewPlugin_Data, SynthIndexCountsTheWords)
{
    Plugin p;
    p->setRolling(true);
    p->setOption("synthindex", "1");
    p.feed({1, 2, 3}, 500); // the given index is replaced
    p.feed({4, 5}, 0);
    EXPECT_EQ(xs(p.curve(0)), (QVector<double>{0, 1, 2, 3, 4}));
}

TEST(LineViewPlugin_Data, ForBackLinesShareACurveInReverse)
{
    Plugin p;
    p->setDataOrder(GPlugin::forBack);
    p->setDataRangeX(4);
    p->setDataPhysX(3);
    p.feed(ramp(8, 10), 0);
    ASSERT_EQ(p->getLines().size(), 1);
    EXPECT_EQ(xs(p.curve(0)), (QVector<double>{-1.5, -0.5, 0.5, 1.5, 1.5, 0.5, -0.5, -1.5}));
    EXPECT_EQ(ys(p.curve(0)), (QVector<double>{10, 11, 12, 13, 14, 15, 16, 17}));
    // The X range comes from the data: x0 .. x0 + physX.
    EXPECT_EQ(p->getView()->getWindow(false).x(), -1.5);
    EXPECT_EQ(p->getView()->getWindow(false).width(), 3);
}

TEST(LineViewPlugin_Data, LinesRotateThroughTheRing)
{
    Plugin p;
    p->setDataOrder(GPlugin::forFor);
    p->setDataRangeX(3);
    p.feed({}, 0); // runs the pending work with the order
    p->setLineCount(3);
    ASSERT_EQ(p->getLines().size(), 3);
    p.feed(ramp(9), 0); // three lines
    // The first line went to slot 1 (each line start advances the ring), the third to slot 0.
    EXPECT_EQ(ys(p.curve(1)), (QVector<double>{0, 1, 2}));
    EXPECT_EQ(ys(p.curve(2)), (QVector<double>{3, 4, 5}));
    EXPECT_EQ(ys(p.curve(0)), (QVector<double>{6, 7, 8}));
    EXPECT_EQ(p->getSlot(), 0);
    // The oldest line (slot 1) is cleared when the next block arrives.
    p.feed(ramp(1, 50), 9);
    EXPECT_EQ(ys(p.curve(1)), (QVector<double>{50}));
}

TEST(LineViewPlugin_Data, SeveralChannelsAndTwoWordValues)
{
    Plugin p;
    p->setDataOrder(GPlugin::forFor);
    p->setDataRangeX(4);
    p->setDataEncoding(GPlugin::DataEncoding(1 | (0x05 << 8))); // channels on bits 0 and 2
    p.feed({1, 101, 2, 102, 3, 103}, 0);
    ASSERT_EQ(p->getLines().at(0).size(), 2);
    EXPECT_EQ(p.curve(p->getSlot(), 0)->color.rgb(), QColor(LineView::colorTable[0]).rgb());
    EXPECT_EQ(p.curve(p->getSlot(), 1)->color.rgb(), QColor(LineView::colorTable[2]).rgb());
    EXPECT_EQ(ys(p.curve(p->getSlot(), 0)), (QVector<double>{1, 2, 3}));
    EXPECT_EQ(ys(p.curve(p->getSlot(), 1)), (QVector<double>{101, 102, 103}));
    // The next block continues at x position 3 (index counts words of both channels).
    p.feed({4, 104}, 6);
    EXPECT_EQ(p.curve(p->getSlot(), 1)->points.size(), 4);

    Plugin q;
    q->setDataEncoding(GPlugin::DataEncoding(6));
    q.feed({7, 1, -2, -1, 5}, 0); // 24 + 24 bits; the odd word at the end is no value
    EXPECT_EQ(ys(q.curve(0)), (QVector<double>{16777223.0, -2}));
}

TEST(LineViewPlugin_Data, TriggeredLinesGrowAndShrink)
{
    Plugin p;
    p->setDataOrder(GPlugin::triggered);
    p->setDataRangeX(10);
    p->setDataPhysX(9); // dx 1
    p.feed(ramp(15), 0);
    EXPECT_EQ(p->getMeta().pointsPerLine, 15);
    EXPECT_DOUBLE_EQ(p->getView()->getWindow(false).width(), 14);
    p.feed(ramp(12), 0); // a shorter line
    p.feed(ramp(5), 0);  // the next line begins: the range follows the shorter one
    EXPECT_EQ(p->getMeta().pointsPerLine, 12);
    EXPECT_DOUBLE_EQ(p->getView()->getWindow(false).width(), 11);
}

TEST(LineViewPlugin_Data, PropertyBurstRunsOnceAtTheNextBlock)
{
    Plugin p;
    p.feed({}, 0);
    p->setDataRangeX(1); // taken as 2: unchanged
    EXPECT_EQ(p->getPending(), 0);
    p->setDataPhysX(1); // ignored
    p->setDataUnitX(0x80);
    p->setDataPhysValNumerator(0);
    p->setDataPhysVal(0);
    EXPECT_EQ(p->getPending(), 0);
    p->setDataOffsetVal(5);
    EXPECT_EQ(p->getPending(), LineViewPlugin::pendUpdate);
    p->setDataRangeX(50);
    p->setDataOrder(GPlugin::forFor);
    EXPECT_EQ(p->getPending(), 1 | 2 | 8 | 16);
    p.feed({15}, 0);
    EXPECT_EQ(p->getPending(), 0);
    EXPECT_EQ(p->getMeta().rangeX, 50);
    EXPECT_EQ(ys(p.curve(p->getSlot())), (QVector<double>{10}));
    // The fixed physical value replaces what the chain sends.
    p->setOption("fixedphysval", "4");
    p->setDataPhysVal(2);
    p.feed({}, 0);
    EXPECT_EQ(p->getMeta().physVal, 4);
}

TEST(LineViewPlugin_Ranges, AutoScaleFollowsTheDataWithMargins)
{
    Plugin p;
    p->setDataOrder(GPlugin::forFor);
    p->setDataRangeX(4);
    p.feed({100, 200, 120, 150}, 0);
    p->getView()->getPixmap(); // bounds come from what was drawn
    p->autoscaleRgY(true);
    QRectF w = p->getView()->getWindow(false);
    // y bounds of the drawn points 120..200: the first point of a curve is no segment end, and the last lies on
    // the right edge, one column outside the widget
    EXPECT_DOUBLE_EQ(w.y(), 120 - 20);
    EXPECT_DOUBLE_EQ(w.height(), 80 + 40);
    // Manual mode keeps it; "fixedyscale" with one value centres the range on zero.
    p->setOption("fixedyscale", "2");
    EXPECT_EQ(p->getYMode(), LineViewPlugin::yManual);
    p->autoscaleRgY(true);
    w = p->getView()->getWindow(false);
    EXPECT_DOUBLE_EQ(w.y(), -1);
    EXPECT_DOUBLE_EQ(w.height(), 2);
    // A Y width below one count is raised to it.
    p->setRangeEditsY(0, 0.01);
    p->onRgYEdit();
    EXPECT_DOUBLE_EQ(p->getView()->getWindow(false).height(), 1);
}

TEST(LineViewPlugin_Ranges, MaximumModeShowsTheZoomLimits)
{
    Plugin p;
    EXPECT_EQ(p->getYModes(), (QStringList{"Auto", "Fixed Div", "Manual"}));
    p->setOption("zoomymin", "-5");
    p->setOption("zoomymax", "20");
    EXPECT_EQ(p->getYModes(), (QStringList{"Auto", "Fixed Div", "Manual", "Maximum"}));
    p->onRgYModeChg(LineViewPlugin::yMaximum);
    const QRectF w = p->getView()->getWindow(false);
    EXPECT_DOUBLE_EQ(w.y(), -5);
    EXPECT_DOUBLE_EQ(w.height(), 20);
    EXPECT_DOUBLE_EQ(p->getScaleGraph()->getAbsMin(), -5);
    EXPECT_DOUBLE_EQ(p->getScaleGraph()->getWinMax(), 15);
    // "Fixed Div" keeps the Y tick step.
    p->onRgYModeChg(LineViewPlugin::yFixedDiv);
    EXPECT_TRUE(p->getView()->isFixedYStep());
}

TEST(LineViewPlugin_Ranges, XWidthIsClampedAndZoomKeepsTheStart)
{
    Plugin p; // no order: dx 1, maxPoints 65536
    p->setRangeEditsX(0, 0.25);
    p->onRgXEdit();
    EXPECT_DOUBLE_EQ(p->getView()->getWindow(false).width(), 1);
    p->setOption("initialxrange", "50");
    EXPECT_DOUBLE_EQ(p->getView()->getWindow(false).width(), 50);
    p->onRgXInc();
    EXPECT_DOUBLE_EQ(p->getView()->getWindow(false).width(), 100);
    p->setDialEvent(1, -1);
    EXPECT_DOUBLE_EQ(p->getView()->getWindow(false).width(), 100 * 0.8408964152537146);
    EXPECT_DOUBLE_EQ(p->getView()->getWindow(false).x(), 0);
    // Ordered data takes its X range from the data unless X is manual.
    Plugin q;
    q->setDataOrder(GPlugin::forFor);
    q->setDataRangeX(11);
    q->setDataPhysX(10);
    q.feed({}, 0);
    q->onRgXInc();
    EXPECT_DOUBLE_EQ(q->getView()->getWindow(false).width(), 10);
    q->setXManual(true);
    q->zoomX(2.0, QPoint());
    EXPECT_DOUBLE_EQ(q->getView()->getWindow(false).width(), 20);
    EXPECT_DOUBLE_EQ(q->getView()->getWindow(false).x(), -10);
}

TEST(LineViewPlugin_Selection, DefaultModeFollowsManualAndOrder)
{
    struct Case
    {
        bool ordered, xManual, yManual;
        LineView::SelectionMode mode;
        QColor frame;
    } cases[] = {{false, false, false, LineView::SelNone, Qt::black},
                 {false, true, false, LineView::SelZoomFromLeft, Qt::green},
                 {false, false, true, LineView::SelZoomFromLeft, Qt::green},
                 {true, true, false, LineView::SelZoom, Qt::green},
                 {true, false, false, LineView::SelNone, Qt::black}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.mode));
        Plugin p;
        if (c.ordered) {
            p->setDataOrder(GPlugin::forFor);
            p.feed({}, 0);
        }
        p->setXManual(c.xManual);
        if (c.yManual)
            p->onRgYManuChg(true);
        p->setSelectMode(false, LineView::SelNone);
        EXPECT_EQ(p->getView()->getSelectionMode(), c.mode);
        EXPECT_EQ(p->getFrame()->palette().color(QPalette::Window), c.frame);
    }
    Plugin p;
    p->getButton("Select X range.")->setChecked(true);
    EXPECT_EQ(p->getView()->getSelectionMode(), LineView::SelRangeX);
    EXPECT_EQ(p->getFrame()->palette().color(QPalette::Window), QColor(255, 128, 128));
}

TEST(LineViewPlugin_Selection, PointAndRangeSelectionsLeaveAsSignals)
{
    Plugin p;
    p->setDataUnitX(0x280); // V
    p.feed({}, 0);
    p->setOption("SelectPointXAddress", "0x10");
    p->setOption("selectpointxindex", "3");
    p->setOption("selectxscale", "1000");
    p->setOption("selectpointyaddress", "17");
    p->setOption("selectyscale", "10");
    EXPECT_TRUE(p->getButton("Select X Value.")->isEnabled());
    EXPECT_TRUE(p->getButton("Select Y Value.")->isEnabled());
    p->setOption("selectrangestartaddress", "20");
    p->setOption("selectrangestartindex", "1");
    p->setOption("selectrangeendaddress", "21");
    p->setOption("selectrangexscale", "100");
    p->setDataTrigger(GPlugin::scanner);
    LineView* v = p->getView();
    QSignalSpy points(p.p.get(), &GPlugin::pointSelected);
    QSignalSpy ranges(p.p.get(), &GPlugin::rangeSelected);
    QSignalSpy status(p.p.get(), &GPlugin::statusChanged);

    p->setSelectMode(true, LineView::SelPointX);
    dragSelection(v, QPoint(100, 50), QPoint(120, 60));
    EXPECT_TRUE(p->getButton("Accept selected X range.")->isEnabled());
    ASSERT_FALSE(status.isEmpty());
    EXPECT_TRUE(status.last().at(0).toString().startsWith("Selection X: "));
    EXPECT_EQ(status.last().at(1).toInt(), 60000);
    const double x = v->pixel2Unit(QPoint(120, 60)).x();
    p->onSelAccept(0);
    ASSERT_EQ(points.count(), 1);
    EXPECT_EQ(points.at(0).at(0).toInt(), qRound(1000 * x));
    EXPECT_EQ(points.at(0).at(1).toInt(), 16);
    EXPECT_EQ(points.at(0).at(2).toInt(), 3);
    EXPECT_EQ(v->getSelectionMode(), LineView::SelNone);

    p->setSelectMode(true, LineView::SelPointY);
    dragSelection(v, QPoint(100, 50), QPoint(100, 50));
    const double y = v->pixel2Unit(QPoint(100, 50)).y();
    p->onSelAccept(0);
    ASSERT_EQ(points.count(), 2);
    EXPECT_EQ(points.at(1).at(0).toInt(), qRound(10 * y));
    EXPECT_EQ(points.at(1).at(1).toInt(), 17);

    // A range: the predecessors hear RangeXStart/RangeXEnd.
    auto* head = new RecordingPlugin();
    head->setSuccessor(p.p.release());
    std::unique_ptr<RecordingPlugin> chain(head);
    auto* lv = static_cast<LineViewPlugin*>(head->getSuccessor());
    lv->setSelectMode(true, LineView::SelRangeX);
    dragSelection(v, QPoint(50, 10), QPoint(150, 30));
    const QRectF r = v->getSelection();
    lv->onSelAccept(0);
    ASSERT_EQ(ranges.count(), 1);
    const int x1 = int(r.x() * 3276.75);
    EXPECT_EQ(ranges.at(0).at(0).toRect(), QRect(QPoint(x1, 0), QPoint(int(r.width() * 3276.75) - 1 + x1, -1)));
    EXPECT_EQ(ranges.at(0).at(1).value<GPlugin::DataTrigger>(), GPlugin::scanner);
    ASSERT_EQ(points.count(), 4);
    EXPECT_EQ(points.at(2).at(0).toInt(), qRound(100 * r.x()));
    EXPECT_EQ(points.at(2).at(1).toInt(), 20);
    EXPECT_EQ(points.at(2).at(2).toInt(), 1);
    EXPECT_EQ(points.at(3).at(0).toInt(), qRound(100 * (r.x() + r.width())));
    EXPECT_TRUE(head->options.contains("RangeXStart=" + QString::number(100 * r.x(), 'g', 6)));
    EXPECT_TRUE(head->options.contains("RangeXEnd=" + QString::number(100 * (r.x() + r.width()), 'g', 6)));
}

TEST(LineViewPlugin_Selection, ZoomRectangleZoomsInByIconAndOutByAccept)
{
    Plugin p;
    p->setDataOrder(GPlugin::forFor);
    p->setDataRangeX(101);
    p->setDataPhysX(100); // dx 1, width 100
    p.feed({}, 0);
    p->setXManual(true);
    p->setOption("fixedyscale", "1000");
    LineView* v = p->getView();
    ASSERT_EQ(v->getSelectionMode(), LineView::SelZoom);
    v->getPixmap(); // selections map through the window last drawn
    const QRectF before = v->getWindow(false);
    dragSelection(v, QPoint(100, 50), QPoint(300, 250));
    const QRectF r = v->getSelection();
    p->onSelAccept(0); // the accept button zooms out
    const QRectF out = v->getWindow(false);
    EXPECT_NEAR(out.width(), before.width() * before.width() / r.width(), 1e-9);
    EXPECT_NEAR(out.height(), before.height() * before.height() / r.height(), 1e-9);

    v->getPixmap();
    dragSelection(v, QPoint(100, 50), QPoint(300, 250));
    const QRectF r2 = v->getSelection();
    mouse(v, QEvent::MouseButtonPress, QPoint(295, 55), Qt::LeftButton); // the zoom-in icon
    const QRectF in = v->getWindow(false);
    EXPECT_DOUBLE_EQ(in.x(), r2.x());
    EXPECT_DOUBLE_EQ(in.width(), r2.width());
    EXPECT_DOUBLE_EQ(in.y(), r2.y());
    EXPECT_DOUBLE_EQ(in.height(), r2.height());
}

TEST(LineViewPlugin_Ranges, WheelZoomsTheManualAxesAroundThePointer)
{
    Plugin p;
    LineView* v = p->getView();
    auto wheel = [&](int delta) {
        const QPoint at(100, 60);
        QWheelEvent ev(at, v->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
        QApplication::sendEvent(v, &ev);
        return ev.isAccepted();
    };
    p->setOption("fixedyscale", "0 100");
    p->setXManual(false);
    v->getPixmap();
    const double yAt = v->pixel2Unit(QPoint(100, 60)).y();
    EXPECT_TRUE(wheel(120));
    QRectF w = v->getWindow(false);
    EXPECT_NEAR(w.height(), 100 * 1.189207115002721, 1e-9);
    // The value under the pointer stays where it was (relative to the window).
    EXPECT_NEAR((yAt - w.y()) / w.height(), (yAt - 0) / 100, 1e-12);
    p->onRgYModeChg(LineViewPlugin::yAuto);
    EXPECT_FALSE(wheel(-120)); // neither axis manual: the event is not used
}

TEST(LineViewPlugin_Partners, StopAllAndClearAllReachTheFollowers)
{
    Plugin master, follower;
    master->setOption("displaymultibuttons", "1");
    follower->setOption("stopmaster", "lv");
    QSignalSpy search(follower.p.get(), &GPlugin::searchPartner);
    follower->checkForPartner(QString(), nullptr);
    ASSERT_EQ(search.count(), 1);
    follower->checkForPartner("lv", follower.p.get()); // not itself
    follower->checkForPartner("lv", master.p.get());
    master->getButton("Stop all displays.")->setChecked(true);
    EXPECT_TRUE(follower->isStopped());
    EXPECT_TRUE(follower->getView()->isFrozen());
    follower.feed({1, 2, 3}, 0);
    follower->getButton("Stop all displays.")->setChecked(false); // the follower's own button: itself only
    master->getButton("Stop all displays.")->setChecked(false);
    EXPECT_FALSE(follower->isStopped());
    follower.feed({1, 2, 3}, 0);
    EXPECT_EQ(follower.curve(0)->points.size(), 3);
    master->getButton("Clear all displays.")->click();
    EXPECT_EQ(follower.curve(0)->points.size(), 0);
}

TEST(LineViewPlugin_Lifetime, DataPassesThroughOnceTheWidgetIsGone)
{
    auto* rec = new RecordingPlugin();
    LineViewPlugin p(nullptr, "gone", false, nullptr);
    p.setSuccessor(rec);
    delete p.getWidget(); // a page may delete the widget first
    const int words[3] = {1, 2, 3};
    p.setData(words, 3, 0);
    p.autoscaleRgY(true);
    EXPECT_EQ(rec->words.size(), 3);
}

TEST(LineViewPlugin_Commands, FreezeKeepsAReferenceThroughClear)
{
    Plugin p;
    p.feed({1, 2, 3}, 0);
    p->onFreeze();
    LvCurve* ref = p->getReference();
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(ref->color.rgb(), QColor(LineView::colorTable[6]).rgb());
    EXPECT_EQ(ys(ref), (QVector<double>{1, 2, 3}));
    p->clearDisplay(true);
    EXPECT_TRUE(p->getView()->getCurves().contains(ref));
    p->clearDisplay(false);
    EXPECT_EQ(p->getReference(), nullptr);
    EXPECT_EQ(p->getView()->getCurves().size(), 1);
}

TEST(LineViewPlugin_Commands, LineEndAsksForTheVerticalMarker)
{
    Plugin p;
    p->setDataOrder(GPlugin::forFor);
    p->setDataRangeX(2);
    p->setOption("verticaladdr", "12");
    QStringList asked;
    QObject::connect(p.p.get(), &GPlugin::requestParamSnapshot,
                     [&](QStringList lines, DataList& data, QString&, QString) {
                         asked = lines;
                         data.append(1 << 20);
                     });
    p.feed({1, 2}, 0); // one complete line
    EXPECT_EQ(asked, QStringList{"x:12"});
    ASSERT_EQ(p->getView()->getVerticalLines().size(), 1);
    EXPECT_DOUBLE_EQ(p->getView()->getVerticalLines().first(), (1 << 20) * 12500000.0 * 4.656612873077393e-10);
    p->setOption("horizontallines", "1 2.5 x 3");
    EXPECT_EQ(p->getView()->getHorizontalLines(), (QVector<double>{1, 2.5, 3}));
}

TEST(LineViewPlugin_Commands, StatusBarAndToolbarOptions)
{
    Plugin p;
    EXPECT_FALSE(p->getStatusLabel()->isVisible());
    p->setOption("displaystatusline", "2");
    EXPECT_TRUE(p->getStatusLabel()->isVisible());
    const int b = p->getWidget()->font().pointSize();
    EXPECT_EQ(p->getStatusLabel()->font().pointSize(), b + b / 3);
    p->shrinkStatusbar();
    p->shrinkStatusbar();
    EXPECT_FALSE(p->getStatusLabel()->isVisible());
    p->setOption("displaytoolbar", "0");
    EXPECT_FALSE(p->getToolbar()->isVisible());
    p->setOption("displayrangebuttons", "1");
    EXPECT_FALSE(p->getButton("Zoom in.")->isHidden());
    p->setOption("displayselectbuttons", "0");
    EXPECT_TRUE(p->getButton("Select X range.")->isHidden());
    p->setOption("displayselectbuttons", "yes"); // not an integer: no effect
    EXPECT_TRUE(p->getButton("Select X range.")->isHidden());
    p->setOption("storelocal", "1");
    EXPECT_EQ(p->getSnapshotManager()->getFlag(SnapshotMgr::flagStoreLocal), 1);
    p->setOption("displayyscale", "1");
    EXPECT_FALSE(p->getScaleGraph()->isHidden());
}

TEST(LineViewPlugin_ToolTip, ShowsNameAndBothValues)
{
    Plugin p;
    p->setDataUnitX(0x480); // s
    p.feed({}, 0);
    const QString tip = p->getToolTip(QPoint(10, 10));
    const QStringList parts = tip.split('\n');
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(parts.at(0), "lv");
    EXPECT_TRUE(parts.at(1).startsWith("X: ")) << tip.toStdString();
    EXPECT_TRUE(parts.at(1).endsWith("s")) << tip.toStdString();
    EXPECT_TRUE(parts.at(2).startsWith("Y: ")) << tip.toStdString();
}

namespace {

// Preferences with a chosen CSV layout; restores the previous record on destruction.
struct CsvPrefs
{
    explicit CsvPrefs(bool columns) : csv(columns), old(GPlugin::prefs())
    {
        prefs = GPlugin::dfltPrefs;
        prefs.csvFlag = &csv;
        GPlugin::setPrefs(&prefs);
    }
    ~CsvPrefs() { GPlugin::setPrefs(old); }
    bool csv;
    GPlugin::PrefData prefs;
    const GPlugin::PrefData* old;
};

QStringList readLines(const QString& fn)
{
    QFile f(fn);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    EXPECT_TRUE(all.endsWith('\n'));
    QStringList l = QString::fromLatin1(all).split('\n');
    l.removeLast();
    return l;
}

} // namespace

TEST(LineViewPlugin_Snapshot, CsvFileInBlocksAndColumns)
{
    struct Case
    {
        bool columns;
        QStringList data;
    } cases[] = {{false,
                  {"0 ; 1", "0.333333333 ; 2", "0.666666667 ; 3", "1 ; 4", "# curve 2", "1 ; -1", "0.666666667 ; -2",
                   "0.333333333 ; -3", "# curve 3", "0 ; 7.5", "0.333333333 ; 7.5"}},
                 {true, {"0 ; 1 ;  ; 7.5", "0.333333333 ; 2 ; -3 ; 7.5", "0.666666667 ; 3 ; -2 ; ", "1 ; 4 ; -1 ; "}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.columns);
        CsvPrefs prefs(c.columns);
        QTemporaryDir dir;
        LineViewPlugin p(nullptr, "snap", false, nullptr);
        p.setDataUnitX(0x180);
        p.setDataUnitVal(0x280);
        p.setDataRangeX(4);
        p.setDataPhysX(1);
        p.setDataOrder(GPlugin::forFor);
        p.setData(nullptr, 0, 0);
        // Three curves by hand: a forward line, a reversed shorter one (its rows count from the end), a short one.
        LineView* v = p.getView();
        v->removeCurves(nullptr);
        LvCurve* a = v->addCurve(0);
        LvCurve* b = v->addCurve(1);
        LvCurve* d = v->addCurve(2);
        for (int i = 0; i < 4; ++i)
            a->points.append(QPointF(i / 3.0, i + 1));
        for (int i = 3; i >= 1; --i)
            b->points.append(QPointF(i / 3.0, -(4 - i)));
        d->points.append(QPointF(0, 7.5));
        d->points.append(QPointF(1 / 3.0, 7.5));
        QString msg;
        const QString base = dir.filePath("shot");
        ASSERT_TRUE(p.saveSnapshot(base, SnapshotMgr::typeCsvDisplayed, nullptr, &msg));
        const QString fn = dir.filePath("shot.csv");
        EXPECT_EQ(msg, "Snapshot written to " + QDir::toNativeSeparators(fn));
        const QStringList lines = readLines(fn);
        ASSERT_GE(lines.size(), 7);
        EXPECT_EQ(lines.at(0), "# Orvik line view snapshot");
        EXPECT_TRUE(QRegularExpression("^# \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$").match(lines.at(1)).hasMatch())
            << lines.at(1).toStdString();
        EXPECT_EQ(lines.at(2), "# display:  snap");
        EXPECT_EQ(lines.at(3), "# x-pixels: 4");
        EXPECT_EQ(lines.at(4), "# x-unit:   m");
        EXPECT_EQ(lines.at(5), "# y-unit:   V");
        EXPECT_EQ(lines.at(6), "X ; Y ; Y[2] ; Y[3]");
        EXPECT_EQ(lines.mid(7), c.data);
    }
}

TEST(LineViewPlugin_Snapshot, ImageFromACopyAndFailures)
{
    QTemporaryDir dir;
    Plugin p;
    p.feed({1, 5, 2}, 0);
    std::unique_ptr<SnapshotBuffer> copy(p->snapshotData(SnapshotMgr::typeGraphics | SnapshotMgr::typeCsvDisplayed));
    auto* sb = dynamic_cast<LvSnBuffer*>(copy.get());
    ASSERT_NE(sb, nullptr);
    EXPECT_EQ(sb->curves.size(), 1);
    EXPECT_EQ(sb->image.size(), p->getView()->size());
    p.feed({9, 9, 9, 9}, 3); // live data changes; the copy does not
    QString msg;
    ASSERT_TRUE(p->saveSnapshot(dir.filePath("img"), SnapshotMgr::typeGraphics | SnapshotMgr::typeCsvDisplayed,
                                copy.get(), &msg));
    QImage img(dir.filePath("img.png"));
    EXPECT_EQ(img.size(), p->getView()->size());
    EXPECT_EQ(readLines(dir.filePath("img.csv")).size(), 7 + 3);
    // The copy keeps the host's file type and CSV layout of the moment it was made.
    {
        CsvPrefs prefs(true);
        const QString bmp = QStringLiteral("BMP");
        prefs.prefs.graphicType = &bmp;
        std::unique_ptr<SnapshotBuffer> kept(
            p->snapshotData(SnapshotMgr::typeGraphics | SnapshotMgr::typeCsvDisplayed));
        auto* k = dynamic_cast<LvSnBuffer*>(kept.get());
        ASSERT_NE(k, nullptr);
        k->curves.append(k->curves.first()); // two curves, so that the column layout shows
        prefs.csv = false;
        const QString png = QStringLiteral("PNG");
        prefs.prefs.graphicType = &png;
        ASSERT_TRUE(p->saveSnapshot(dir.filePath("kept"), SnapshotMgr::typeGraphics | SnapshotMgr::typeCsvDisplayed,
                                    kept.get(), &msg));
        EXPECT_FALSE(QImage(dir.filePath("kept.bmp")).isNull());
        EXPECT_FALSE(QFile::exists(dir.filePath("kept.png")));
        EXPECT_EQ(readLines(dir.filePath("kept.csv")).mid(7, 3), QStringList({"0 ; 1 ; 1", "1 ; 5 ; 5", "2 ; 2 ; 2"}));
    }
    // A file that cannot be written is a failure with its message.
    EXPECT_FALSE(p->saveSnapshot(dir.filePath("missing/dir/x"), SnapshotMgr::typeCsvDisplayed, nullptr, &msg));
    EXPECT_TRUE(msg.startsWith("Failed to write snapshot to ")) << msg.toStdString();
}

TEST(LineViewPlugin_Data, DerivativeOfFortyEightBitValuesShowsTheDifferences)
{
    // A derivative filter writes encoding 6 (24 + 24 bits); the line display must read it the same way, also for
    // differences above 2^24 and below 0.
    auto filter = std::make_unique<DerivativeFilter>(nullptr, QStringLiteral("d"));
    auto* lv = new LineViewPlugin(nullptr, QStringLiteral("lv"), false, nullptr);
    filter->setSuccessor(lv); // owned by the filter
    lv->getWidget()->resize(500, 400);
    filter->setDataEncoding(GPlugin::DataEncoding(6));
    const qint64 values[] = {3, 16777224, 16777224 - 1073741824, 16777224 - 1073741824 + 1099511627776};
    QVector<int> words;
    for (qint64 v : values) {
        quint32 lo = 0, hi = 0;
        StreamFormat::encode48(v, &lo, &hi);
        words << int(lo) << int(hi);
    }
    filter->setData(words.constData(), words.size(), 0);
    ASSERT_EQ(lv->getLines().size(), 1);
    EXPECT_EQ(ys(lv->getLines().at(0).at(0)), (QVector<double>{3, 16777221, -1073741824, 1099511627776}));
}
