// Tests of the frame display plug-in: frame assembly for every data order, data properties and options,
// selections turned into physical selection signals, zoom, gradation, colour coding, tool tip and settings.
#include "displays/colorgauge.h"
#include "displays/waterfallgriddlg.h"
#include "displays/waterfallplugin.h"
#include "snapshot/snapshotmgr.h"
#include "support/recordingplugin.h"
#include "utilif/error.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>
#include <climits>
#include <gtest/gtest.h>
#include <memory>

namespace {

void press(QWidget* w, QPoint p)
{
    QMouseEvent e(QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void move(QWidget* w, QPoint p)
{
    QMouseEvent e(QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

QToolButton* button(WaterfallPlugin& p, const char* tipStart)
{
    for (QToolButton* b : p.getWidget()->findChildren<QToolButton*>()) {
        if (b->toolTip().startsWith(QLatin1String(tipStart)))
            return b;
    }
    return nullptr;
}

// Frame triggers seen by the plug-in's manager: each one arms a one-time store on the external trigger.
int frameTriggers(WaterfallPlugin& p)
{
    int n = 0;
    for (const SnapshotMgr::ActionDescriptor& d : p.getSnapshotManager()->getActions())
        n += d.trigger == SnapshotMgr::trgExternal;
    return n;
}

void countFrameTriggers(WaterfallPlugin& p)
{
    p.getSnapshotManager()->setTriggerReaction(SnapshotMgr::trgDisplayComplete, SnapshotMgr::actArmAlways, nullptr,
                                               QStringLiteral("t"), 1, SnapshotMgr::trgExternal);
}

// Row y of one direction as values, -1 where the pixel holds none.
QVector<int> row(WaterfallPlugin& p, bool fwd, int y)
{
    QVector<int> r;
    for (int x = 0; x < p.getMeta().rangeX; ++x) {
        int v = -1;
        if (!p.getWaterfall()->getValue(x, y, fwd, &v))
            v = -1;
        r.append(v);
    }
    return r;
}

} // namespace

TEST(WaterfallPlugin_Frames, AssemblyForEveryOrderFromBlocksOfAnySize)
{
    // A 3 x 2 frame; values are their stream positions. Rows: {fwd row 0, fwd row 1, bwd row 0, bwd row 1}
    // after the first frame and after the second, which fills from the top line down.
    typedef QVector<int> R;
    const R none{-1, -1, -1};
    struct Case
    {
        const char* name;
        GPlugin::DataOrder order;
        int frame;
        R first[4];
        R second[4];
    } cases[] = {
        {"linear", GPlugin::linear, 6, {none, none, {5, 4, 3}, {2, 1, 0}}, {none, none, {8, 7, 6}, {11, 10, 9}}},
        {"forFor", GPlugin::forFor, 6, {{3, 4, 5}, {0, 1, 2}, none, none}, {{6, 7, 8}, {9, 10, 11}, none, none}},
        {"backBack", GPlugin::backBack, 6, {none, none, {5, 4, 3}, {2, 1, 0}}, {none, none, {8, 7, 6}, {11, 10, 9}}},
        {"forBack",
         GPlugin::forBack,
         12,
         {{6, 7, 8}, {0, 1, 2}, {11, 10, 9}, {5, 4, 3}},
         {{12, 13, 14}, {18, 19, 20}, {17, 16, 15}, {23, 22, 21}}},
        {"backFor",
         GPlugin::backFor,
         12,
         {{9, 10, 11}, {3, 4, 5}, {8, 7, 6}, {2, 1, 0}},
         {{15, 16, 17}, {21, 22, 23}, {14, 13, 12}, {20, 19, 18}}},
    };
    const int blockSizes[] = {1, 2, 4, 5, 7, 24};
    for (const Case& c : cases) {
        for (int block : blockSizes) {
            SCOPED_TRACE(QString("%1 in blocks of %2").arg(c.name).arg(block).toStdString());
            auto* plugin = new WaterfallPlugin(nullptr, QStringLiteral("asm"));
            auto* rec = new RecordingPlugin;
            plugin->setSuccessor(rec);
            std::unique_ptr<WaterfallPlugin> owner(plugin);
            plugin->setDataRangeX(3);
            plugin->setDataRangeY(2);
            plugin->setDataOrder(c.order);
            countFrameTriggers(*plugin);
            QVector<int> stream(2 * c.frame);
            for (int i = 0; i < stream.size(); ++i)
                stream[i] = i;
            int pos = 0;
            auto feed = [&](int until) {
                while (pos < until) {
                    const int n = qMin(block, until - pos);
                    plugin->setData(stream.constData() + pos, n, pos);
                    pos += n;
                }
            };
            feed(c.frame);
            EXPECT_EQ(frameTriggers(*plugin), 1);
            EXPECT_EQ(row(*plugin, true, 0), c.first[0]);
            EXPECT_EQ(row(*plugin, true, 1), c.first[1]);
            EXPECT_EQ(row(*plugin, false, 0), c.first[2]);
            EXPECT_EQ(row(*plugin, false, 1), c.first[3]);
            feed(2 * c.frame);
            EXPECT_EQ(frameTriggers(*plugin), 2);
            EXPECT_EQ(row(*plugin, true, 0), c.second[0]);
            EXPECT_EQ(row(*plugin, true, 1), c.second[1]);
            EXPECT_EQ(row(*plugin, false, 0), c.second[2]);
            EXPECT_EQ(row(*plugin, false, 1), c.second[3]);
            EXPECT_EQ(rec->words, stream); // everything is forwarded unchanged
        }
    }
}

TEST(WaterfallPlugin_Frames, ForBackFourByTwoAndSpecialCalls)
{
    WaterfallPlugin p(nullptr, QStringLiteral("fb"));
    p.setDataRangeX(4);
    p.setDataRangeY(2);
    p.setDataOrder(GPlugin::forBack);
    countFrameTriggers(p);
    QVector<int> v(16);
    for (int i = 0; i < 16; ++i)
        v[i] = i;
    p.setData(v.constData(), 15, 0);
    EXPECT_EQ(frameTriggers(p), 0);
    EXPECT_EQ(row(p, true, 1), (QVector<int>{0, 1, 2, 3}));
    EXPECT_EQ(row(p, false, 1), (QVector<int>{7, 6, 5, 4}));
    EXPECT_EQ(row(p, true, 0), (QVector<int>{8, 9, 10, 11}));
    p.setData(v.constData() + 15, 1, 15);
    EXPECT_EQ(frameTriggers(p), 1);
    EXPECT_EQ(row(p, false, 0), (QVector<int>{15, 14, 13, 12}));

    // An empty block ends a partly filled frame once; negative offsets and counts only pass through.
    auto* rec = new RecordingPlugin;
    p.setSuccessor(rec);
    p.setData(v.constData(), 3, 16);
    p.setData(v.constData(), 0, 0);
    EXPECT_EQ(frameTriggers(p), 2);
    EXPECT_EQ(rec->count(QStringLiteral("setData")), 1);
    p.setData(v.constData(), 0, 0);
    EXPECT_EQ(frameTriggers(p), 2);
    EXPECT_EQ(rec->count(QStringLiteral("setData")), 2);
    p.setData(v.constData(), 2, -5);
    EXPECT_EQ(rec->count(QStringLiteral("setData")), 3);
    p.provokeFullTrigger(); // the frame is complete: the trigger fires again
    EXPECT_EQ(frameTriggers(p), 3);
}

TEST(WaterfallPlugin_Properties, RangesRotationUnitsAndOutOfMemory)
{
    auto* p = new WaterfallPlugin(nullptr, QStringLiteral("props"));
    auto* rec = new RecordingPlugin;
    p->setSuccessor(rec);
    std::unique_ptr<WaterfallPlugin> owner(p);
    p->setDataRangeX(1);
    EXPECT_EQ(p->getMeta().rangeX, 260);
    EXPECT_EQ(rec->lastValue(QStringLiteral("setDataRangeX")), 1);
    // Compared with the value that arrived, not with the 260 in use: a 260 after a 1 is news for the successor,
    // a second 260 is not.
    p->setDataRangeX(260);
    EXPECT_EQ(rec->count(QStringLiteral("setDataRangeX")), 2);
    EXPECT_EQ(rec->lastValue(QStringLiteral("setDataRangeX")), 260);
    p->setDataRangeX(260);
    EXPECT_EQ(rec->count(QStringLiteral("setDataRangeX")), 2);
    p->setDataRangeY(2);
    EXPECT_THROW(p->setDataRangeX(1 << 30), OomError);
    EXPECT_EQ(p->getMeta().rangeX, 2);
    EXPECT_EQ(p->getMeta().rangeY, 2);
    const int v[] = {1, 2, 3, 4};
    p->setData(v, 4, 0); // no buffers: nothing is drawn, nothing breaks
    p->setDataRangeX(16);
    p->setDataRangeY(8);
    EXPECT_EQ(p->getWaterfall()->size(), QSize(16, 8));

    p->setDataRotation(16384);
    EXPECT_NEAR(p->getMeta().sinRot, 1.0, 1e-9);
    EXPECT_EQ(p->getWaterfall()->size(), QSize(8, 16));
    p->setDataOrder(GPlugin::forFor);
    EXPECT_TRUE(p->getWaterfall()->isForwardDisplayed());

    p->setDataPhysVal(1000);
    EXPECT_DOUBLE_EQ(p->getMeta().valFactor, 0.001);
    p->setDataUnitVal(0x17E);
    EXPECT_EQ(p->getWaterfall()->getGradationStart(), -1000);
    EXPECT_EQ(p->getWaterfall()->getGradationEnd(), 1000);
    p->setDataScanSpeed(1500);
    EXPECT_EQ(rec->count(QStringLiteral("setDataScanSpeed")), 0);

    // A huge length over few pixels saturates the physical coordinates instead of wrapping them.
    p->setDataPhysX(2000000000);
    EXPECT_EQ(p->pixelToPhys(QPoint(100000, 0), false).x(), INT_MAX);
    EXPECT_EQ(p->pixelToPhys(QPoint(-100000, 0), false).x(), INT_MIN);
}

TEST(WaterfallPlugin_Options, OptionsChangeTheDisplay)
{
    WaterfallPlugin p(nullptr, QStringLiteral("opts"));
    p.setOption(QStringLiteral("DataRangeX"), QStringLiteral("32"));
    p.setOption(QStringLiteral("datarangey"), QStringLiteral("x12"));
    EXPECT_EQ(p.getMeta().rangeX, 32);
    EXPECT_EQ(p.getMeta().rangeY, 260);
    // A frame that does not fit is reported, not thrown out of the option (it would end the layout).
    QSignalSpy status(&p, &GPlugin::statusChanged);
    for (const char* key : {"datarangex", "DataRangeY"}) {
        SCOPED_TRACE(key);
        status.clear();
        EXPECT_NO_THROW(p.setOption(QString::fromLatin1(key), QString::number(1 << 30)));
        ASSERT_EQ(status.count(), 1);
        EXPECT_TRUE(status[0][0].toString().startsWith("Not enough memory for a frame of"));
        EXPECT_EQ(status[0][1].toInt(), -1);
        EXPECT_EQ(status[0][2].toInt(), 2);
    }
    p.setOption(QStringLiteral("size"), QStringLiteral("50"));
    EXPECT_EQ(p.getWaterfall()->size(), QSize(50, 50));
    EXPECT_GE(p.getWidget()->minimumWidth(), 75);
    p.setOption(QStringLiteral("sendcoordtopeers"), QStringLiteral("1"));
    EXPECT_TRUE(button(p, "Accept")->isHidden());
    p.setOption(QStringLiteral("displaypathbutton"), QStringLiteral("0"));
    EXPECT_TRUE(button(p, "Select a path")->isHidden());
    p.setOption(QStringLiteral("displayscanbuttons"), QStringLiteral("0"));
    EXPECT_TRUE(button(p, "Select a rectangle")->isHidden());
    EXPECT_TRUE(button(p, "Measure distance")->isHidden());
    p.setOption(QStringLiteral("defaultdirisfwd"), QStringLiteral("1"));
    EXPECT_TRUE(p.getWaterfall()->isForwardDisplayed());
    p.setOption(QStringLiteral("fixedcolorcoding"), QStringLiteral("1"));
    EXPECT_TRUE(p.getWidget()->findChild<ColorGauge*>()->isHidden());
    p.setOption(QStringLiteral("displaytoolbar"), QStringLiteral("1"));
    EXPECT_FALSE(button(p, "Select a grid")->parentWidget()->isHidden());
}

class WaterfallSelection : public ::testing::Test
{
protected:
    void SetUp() override
    {
        head = new RecordingPlugin(QStringLiteral("head"));
        plugin = new WaterfallPlugin(nullptr, QStringLiteral("sel"));
        head->setSuccessor(plugin);
        plugin->setDataRangeX(100);
        plugin->setDataRangeY(100);
        plugin->setDataPhysX(1000); // 10 units per pixel
        plugin->setDataPhysY(1000);
        plugin->showToolbar(true);
        view = plugin->getWaterfall();
    }
    void TearDown() override { delete head; }

    RecordingPlugin* head = nullptr;
    WaterfallPlugin* plugin = nullptr;
    Waterfall* view = nullptr;
};

TEST_F(WaterfallSelection, RangeBecomesAPhysicalRectangle)
{
    QSignalSpy range(plugin, &GPlugin::rangeSelected);
    QSignalSpy status(plugin, &GPlugin::statusChanged);
    plugin->setRgSelect(true);
    EXPECT_TRUE(button(*plugin, "Select a rectangle")->isChecked());
    EXPECT_EQ(view->selectionMode, Waterfall::RangeSelection);
    press(view, QPoint(10, 20));
    move(view, QPoint(30, 60));
    ASSERT_FALSE(status.isEmpty());
    EXPECT_TRUE(status.last().at(0).toString().startsWith(QLatin1String("Selection: X: ")));
    EXPECT_EQ(status.last().at(1).toInt(), 60000);
    EXPECT_TRUE(button(*plugin, "Accept")->isEnabled());
    plugin->acceptSelection();
    ASSERT_EQ(range.count(), 1);
    EXPECT_EQ(range.last().at(0).toRect(), QRect(-395, -105, 200, 400));
    EXPECT_EQ(range.last().at(1).value<GPlugin::DataTrigger>(), GPlugin::scanner);
    EXPECT_EQ(status.last().at(0).toString(), QString());
    EXPECT_FALSE(button(*plugin, "Select a rectangle")->isChecked());
    EXPECT_FALSE(button(*plugin, "Accept")->isEnabled());
    EXPECT_EQ(view->selectionMode, Waterfall::NoSelection);
}

TEST_F(WaterfallSelection, RangeAtDoubleZoomUsesDataPixels)
{
    QSignalSpy range(plugin, &GPlugin::rangeSelected);
    plugin->magnificate(2);
    plugin->setRgSelect(true);
    press(view, QPoint(20, 40));
    move(view, QPoint(60, 120));
    plugin->acceptSelection();
    ASSERT_EQ(range.count(), 1);
    EXPECT_EQ(range.last().at(0).toRect(), QRect(-395, -105, 200, 400));
}

TEST_F(WaterfallSelection, PointMovesTheScanAreaWithRotationAndTellsPeers)
{
    plugin->setOption(QStringLiteral("sendcoordtopeers"), QStringLiteral("1"));
    plugin->setDataRotation(4096); // 22.5 degrees: the image stays unturned, the coordinates turn
    QSignalSpy range(plugin, &GPlugin::rangeSelected);
    plugin->setPtSelect(true);
    press(view, QPoint(70, 50));
    EXPECT_TRUE(head->options.contains(QStringLiteral("rawcoord=70,50")));
    plugin->acceptSelection();
    ASSERT_EQ(range.count(), 1);
    EXPECT_EQ(range.last().at(0).toRect(), QRect(191 - 495, 73 - 495, 990, 990));
}

TEST_F(WaterfallSelection, AngleGivesTheNewRotation)
{
    QSignalSpy angle(plugin, &GPlugin::angleSelected);
    QSignalSpy status(plugin, &GPlugin::statusChanged);
    struct Case
    {
        int rotation;
        QPoint from, to;
        int expected;
    } cases[] = {
        {0, {10, 50}, {60, 50}, 0},       // along the x axis to the right: unchanged
        {0, {60, 50}, {10, 50}, 32767},   // to the left: half a turn
        {1000, {10, 50}, {60, 50}, 1000}, // wraps past 65534
        {0, {50, 60}, {50, 10}, 16383},   // upward on screen
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        plugin->setDataRotation(c.rotation);
        plugin->setAgSelect(true);
        press(view, c.from);
        move(view, c.to);
        EXPECT_TRUE(status.last().at(0).toString().startsWith(QLatin1String("Selected: ")));
        plugin->acceptSelection();
        ASSERT_FALSE(angle.isEmpty());
        EXPECT_EQ(angle.last().at(0).toInt(), c.expected);
    }
}

TEST_F(WaterfallSelection, PathAndGridBecomePointLists)
{
    QSignalSpy path(plugin, &GPlugin::pathSelected);
    plugin->setLsSelect(true);
    press(view, QPoint(0, 0));
    press(view, QPoint(99, 99));
    plugin->acceptSelection();
    ASSERT_EQ(path.count(), 1);
    const PathList points = path.last().at(0).value<PathList>();
    // Centres of the physical marker rectangles (whose right edge is left + width - 1).
    EXPECT_EQ(points, (PathList{QPoint(-495, 494), QPoint(494, -495)}));
    EXPECT_TRUE(button(*plugin, "Select a path")->isChecked()); // the path tool stays on

    QSignalSpy grid(plugin, &GPlugin::gridSelected);
    plugin->setGrSelect(true);
    EXPECT_FALSE(button(*plugin, "Select a path")->isChecked());
    auto* dlg = plugin->getWidget()->findChild<WaterfallGridDlg*>();
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    dlg->setPointsX(1);
    dlg->setPointsY(4);
    press(view, QPoint(0, 0));
    move(view, QPoint(99, 99));
    plugin->acceptSelection();
    ASSERT_EQ(grid.count(), 1);
    EXPECT_EQ(grid.last().at(0).value<PathList>(),
              (PathList{QPoint(-495, 495), QPoint(-495, 495), QPoint(-495, -495)}));
    EXPECT_EQ(grid.last().at(1).toInt(), 1);
    EXPECT_EQ(grid.last().at(2).toInt(), 4);
    EXPECT_TRUE(button(*plugin, "Select a grid")->isChecked()); // the grid tool stays on
    plugin->setGrSelect(false);
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(WaterfallSelection, DataTriggerEnablesTheTools)
{
    struct Case
    {
        int trigger;
        bool scanTools;
        bool pointTools;
    } cases[] = {{1, true, true}, {9, false, true}, {2, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trigger);
        plugin->setDataTrigger(GPlugin::DataTrigger(c.trigger));
        EXPECT_EQ(button(*plugin, "Select a rectangle")->isEnabled(), c.scanTools);
        EXPECT_EQ(button(*plugin, "Measure distance")->isEnabled(), c.scanTools);
        EXPECT_EQ(button(*plugin, "Move the scan")->isEnabled(), c.pointTools);
        EXPECT_EQ(button(*plugin, "Select a path")->isEnabled(), c.pointTools);
        EXPECT_EQ(button(*plugin, "Select a grid")->isEnabled(), c.pointTools);
    }
    // With trigger 9 an accepted point disables the point tool.
    plugin->setDataTrigger(GPlugin::DataTrigger(9));
    QSignalSpy range(plugin, &GPlugin::rangeSelected);
    plugin->setPtSelect(true);
    press(view, QPoint(50, 50));
    plugin->acceptSelection();
    ASSERT_EQ(range.count(), 1);
    EXPECT_EQ(range.last().at(1).toInt(), 9);
    EXPECT_FALSE(button(*plugin, "Move the scan")->isEnabled());
}

TEST(WaterfallPlugin_View, ZoomSteps)
{
    WaterfallPlugin p(nullptr, QStringLiteral("zoom"));
    struct Case
    {
        bool in;
        int from;
        int to;
    } cases[] = {{true, 1, 2},  {false, 1, -2}, {true, 20, 20}, {false, -20, -20},
                 {true, -2, 1}, {true, 7, 10},  {false, 4, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        p.magnificate(c.from);
        c.in ? p.zoomIn() : p.zoomOut();
        EXPECT_EQ(p.getMagnification(), c.to);
        EXPECT_EQ(p.getWaterfall()->scale, c.to);
    }
    p.magnificate(-2);
    p.magnificate(0);
    EXPECT_EQ(p.getMagnification(), 1);
    p.magnificate(-1);
    EXPECT_EQ(p.getMagnification(), -2);
}

TEST(WaterfallPlugin_View, GradationAndAuto)
{
    WaterfallPlugin p(nullptr, QStringLiteral("grad"));
    EXPECT_EQ(p.getWaterfall()->getGradationStart(), -10000);
    EXPECT_EQ(p.getWaterfall()->getGradationEnd(), 10000);
    p.setGradation(50, 20);
    EXPECT_EQ(p.getWaterfall()->getGradationStart(), 50);
    EXPECT_EQ(p.getWaterfall()->getGradationEnd(), 51);
    p.setDataRangeX(4);
    p.setDataRangeY(2);
    const int v[] = {10, 11, 12, 13, 14, 15, 16, 17};
    p.setData(v, 8, 0);
    p.resetGradation();
    EXPECT_EQ(p.getWaterfall()->getGradationStart(), 10);
    EXPECT_EQ(p.getWaterfall()->getGradationEnd(), 17);
}

TEST(WaterfallPlugin_View, ColorCodingByNameAndFailures)
{
    QTemporaryDir dir;
    WaterfallPlugin::setTableDirectory(dir.path());
    QFile f(dir.filePath(QStringLiteral("Warm.lut")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("255 0 0\n255 255 0\n255 255 255\n");
    f.close();
    QFile bad(dir.filePath(QStringLiteral("Broken.col")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("1 2");
    bad.close();

    WaterfallPlugin p(nullptr, QStringLiteral("colors"));
    QSignalSpy status(&p, &GPlugin::statusChanged);
    int n = 0;
    p.setColorCoding(QStringLiteral("Spectrum"));
    p.getWaterfall()->getColorList(&n);
    EXPECT_EQ(n, 1276);
    p.setColorCoding(QStringLiteral("Warm"));
    p.getWaterfall()->getColorList(&n);
    EXPECT_EQ(n, 3);
    EXPECT_TRUE(status.isEmpty());
    for (const char* name : {"Broken", "Missing", "spectrum"}) {
        SCOPED_TRACE(name);
        p.setColorCoding(QString::fromLatin1(name));
        p.getWaterfall()->getColorList(&n);
        EXPECT_EQ(n, 3);
        ASSERT_FALSE(status.isEmpty());
        EXPECT_EQ(status.last().at(0).toString(), QStringLiteral("Failed to read color lookup table\nfrom file '%1'")
                                                      .arg(dir.filePath(QString::fromLatin1(name) + ".col")));
        EXPECT_EQ(status.last().at(2).toInt(), 1);
    }
    // The colour menu lists the built-ins and the tables found, with the current one checked.
    p.updateColorMenu();
    QStringList entries;
    QString checked;
    QMenu* colorMenu = nullptr;
    for (QMenu* m : p.getWidget()->findChildren<QMenu*>()) {
        if (m->title() == QLatin1String("Color Coding"))
            colorMenu = m;
    }
    ASSERT_NE(colorMenu, nullptr);
    for (QAction* a : colorMenu->actions()) {
        if (a->isSeparator())
            continue;
        entries << a->text();
        if (a->isChecked())
            checked = a->text();
    }
    EXPECT_EQ(entries, (QStringList{"Grayscale", "Spectrum", "Broken", "Warm"}));
    EXPECT_EQ(checked, QStringLiteral("Warm"));
    WaterfallPlugin::setTableDirectory(QString());
}

TEST(WaterfallPlugin_View, ToolTipShowsPhysicalCoordinatesAndValue)
{
    WaterfallPlugin p(nullptr, QStringLiteral("tip"));
    p.setDataRangeX(11);
    p.setDataRangeY(11);
    p.setDataPhysX(110);
    p.setDataPhysY(110);
    p.setDataUnitX(384); // metres
    p.setDataOffsetVal(100);
    p.setDataUnitVal(0x280); // volts
    const QVector<int> v(121, 600);
    p.setData(v.constData(), v.size(), 0);
    const QString tip = p.getToolTip(QPoint(10, 0));
    EXPECT_TRUE(tip.startsWith(QLatin1String("tip\nX: 50 m\nY :50 m"))) << tip.toStdString();
    EXPECT_TRUE(tip.endsWith(QLatin1String("\nValue: 50 mV"))) << tip.toStdString(); // (600 - 100) * 0.0001 V
}

TEST(WaterfallPlugin_View, SettingsFollowEachOtherAndDragMetadata)
{
    WaterfallPlugin a(nullptr, QStringLiteral("shared"));
    WaterfallPlugin b(nullptr, QStringLiteral("shared"));
    a.magnificate(5);
    EXPECT_EQ(b.getMagnification(), 5);
    a.setDirection(true);
    EXPECT_TRUE(b.getWaterfall()->isForwardDisplayed());
    a.setColorCoding(QStringLiteral("Spectrum"));
    int n = 0;
    b.getWaterfall()->getColorList(&n);
    EXPECT_EQ(n, 1276);
    a.showToolbar(true);
    EXPECT_FALSE(button(b, "Select a grid")->parentWidget()->isHidden());

    QWidget* container = nullptr;
    a.encodeMetadata(&container);
    EXPECT_EQ(container, nullptr); // no length unit: no drag
    a.setDataUnitX(0x17E);         // micrometres
    a.setDataOffsetX(3);
    a.setDataRotation(16384);
    a.encodeMetadata(&container);
    ASSERT_EQ(container, a.getWidget());
    const QVariantList meta = container->property("orvikMetadata").toList();
    ASSERT_EQ(meta.size(), 5);
    EXPECT_DOUBLE_EQ(meta[0].toDouble(), 3e-6 * 1e11);
    EXPECT_NEAR(meta[4].toDouble(), 1.5708, 1e-3);
}

TEST(WaterfallPlugin_Catalogue, FrameDisplayIsRegistered)
{
    const GPlugin::PluginDescriptor* found = nullptr;
    for (const GPlugin::PluginDescriptor* d : *GPlugin::_typeList) {
        if (d->name == QLatin1String("Frame Display"))
            found = d;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->flags, 0x6001);
    EXPECT_EQ(found->description, QStringLiteral("Three dimensional z(x,y) display with color coded z."));
    std::unique_ptr<GPlugin> p(found->factory(nullptr, QStringLiteral("cat")));
    EXPECT_NE(dynamic_cast<WaterfallPlugin*>(p.get()), nullptr);
    EXPECT_EQ(p->getStretch(), 5);
    EXPECT_NE(p->getSnapshotManager(), nullptr);
}

TEST(WaterfallPlugin_GridDialog, FieldsEmitTheirCounts)
{
    WaterfallGridDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Grid Settings"));
    QSignalSpy x(&dlg, &WaterfallGridDlg::pointsXChanged);
    QSignalSpy y(&dlg, &WaterfallGridDlg::pointsYChanged);
    dlg.init();
    ASSERT_EQ(x.count(), 1);
    EXPECT_EQ(x.last().at(0).toInt(), 5);
    EXPECT_EQ(y.last().at(0).toInt(), 5);
    dlg.setPointsX(3000); // limited to 2000
    EXPECT_EQ(x.last().at(0).toInt(), 2000);
    dlg.setPointsY(0);
    EXPECT_EQ(y.last().at(0).toInt(), 1);
}
