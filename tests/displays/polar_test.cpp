// Polar display: mapping, grid of spokes and circles, design modes, the plug-in's options and catalogue entry.
#include "displays/polarplot.h"
#include "displays/polarplotplugin.h"

#include <QLabel>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QColor kGrid(0, 255, 0);

// A shown polar view whose curves and grid have distinct colours.
struct Polar
{
    Polar(int w, int h, bool pointMode = true) : view(&frame, pointMode)
    {
        frame.resize(w, h);
        view.resize(w, h);
        frame.show();
        view.setColors(Qt::black, kGrid, Qt::white, Qt::cyan);
        view.setWindow(QRectF(0, 0, 360, 100), "+°", "+");
    }
    QImage image() { return view.getPixmap().toImage().convertToFormat(QImage::Format_RGB32); }
    // Grid pixels on the ray from the centre at `deg`, between 20 % and 90 % of the radius.
    int gridOnRay(const QImage& img, double deg)
    {
        int n = 0;
        const QPoint c = view.getCenter();
        for (int k = 20; k < 90; ++k) {
            const double r = view.getRadius() * k / 100;
            const QPoint q = c + QPoint(qRound(r * std::sin(deg * M_PI / 180)), -qRound(r * std::cos(deg * M_PI / 180)));
            n += img.pixel(q) == kGrid.rgb();
        }
        return n;
    }
    // Grid pixels in the sector 10..35 degrees (between two spokes), 20 % to 95 % of the radius: circle arcs.
    int gridInSector(const QImage& img)
    {
        int n = 0;
        const QPoint c = view.getCenter();
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const double dx = x - c.x(), dy = y - c.y(), d = std::hypot(dx, dy);
                const double a = std::atan2(dx, -dy) * 180 / M_PI;
                if (a > 10 && a < 35 && d > 0.2 * view.getRadius() && d < 0.95 * view.getRadius())
                    n += img.pixel(x, y) == kGrid.rgb();
            }
        return n;
    }
    QWidget frame;
    PolarPlot view;
};

} // namespace

TEST(PolarPlot_Geometry, CentreRadiusAndMapping)
{
    Polar p(401, 301);
    EXPECT_EQ(p.view.getCenter(), QPoint(200, 150));
    EXPECT_DOUBLE_EQ(p.view.getRadius(), 127.5);
    struct Case
    {
        QPointF unit;
        QPoint offset;
    } cases[] = {{{90, 50}, {50, 0}}, {{0, 30}, {0, -30}}, {{180, 30.9}, {0, 30}}, {{270, 10}, {-10, 0}},
                 {{45, 100}, {71, -71}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit.x());
        EXPECT_EQ(p.view.unit2Pixel(c.unit), QPoint(200, 150) + c.offset);
    }
    double a = 0, r = 0;
    p.view.pixel2Unit(QPoint(250, 150), &a, &r);
    EXPECT_DOUBLE_EQ(a, 90);
    p.view.pixel2Unit(QPoint(200, 250), &a, &r);
    EXPECT_DOUBLE_EQ(a, 180);
}

TEST(PolarPlot_Drawing, PointsLandOnThePolarPixels)
{
    Polar p(401, 301);
    LvCurve* c = p.view.addCurve(1);
    c->points.append(QPointF(0, 10));
    c->points.append(QPointF(90, 50));
    c->points.append(QPointF(180, 40));
    const QImage img = p.image();
    EXPECT_EQ(img.pixel(250, 150), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(200, 190), qRgb(255, 0, 0));
    EXPECT_NE(img.pixel(200, 140), qRgb(255, 0, 0)); // the first point is no segment end
    bool valid = false;
    EXPECT_EQ(p.view.getDataBounds(&valid), QRectF(90, 40, 90, 10));
    EXPECT_TRUE(valid);
}

TEST(PolarPlot_Grid, SpokesFollowTheDesignModeAndCirclesTheData)
{
    struct Case
    {
        int mode;
        int spokes;
        bool labels;
    } cases[] = {{0, 8, true}, {1, 8, true}, {2, 4, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Polar p(401, 301);
        p.view.setDesignMode(c.mode);
        EXPECT_EQ(p.view.getSpokes(), c.spokes);
        EXPECT_EQ(p.view.hasRadiusLabels(), c.labels);
        p.view.setChanged();
        const QImage img = p.image();
        for (double deg : {0.0, 90.0, 180.0, 270.0})
            EXPECT_GT(p.gridOnRay(img, deg), 20) << deg;
        EXPECT_EQ(p.gridOnRay(img, 45) > 20, c.spokes == 8);
        EXPECT_EQ(p.gridOnRay(img, 22.5), 0);
    }
    // No data drawn: no circles; with data up to radius 100 the circles appear between the spokes.
    Polar p(401, 301);
    p.view.setChanged();
    EXPECT_EQ(p.gridInSector(p.image()), 0);
    LvCurve* c = p.view.addCurve(1);
    for (int a = 0; a < 360; a += 10)
        c->points.append(QPointF(a, 20 + a / 4.5));
    p.view.getPixmap();   // draws the data (bounds 22..100)
    p.view.setChanged();  // a new grid from those bounds
    EXPECT_GT(p.gridInSector(p.image()), 5);
}

TEST(PolarPlotPlugin_Options, DesignModeSizeAndMarker)
{
    const GPlugin::PluginDescriptor* d = nullptr;
    for (const GPlugin::PluginDescriptor* e : *GPlugin::_typeList)
        if (e->name == "Polar Display")
            d = e;
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->flags, 0x1001);
    EXPECT_EQ(d->description, "Two dimensional r(phi) display.");
    std::unique_ptr<GPlugin> g(d->factory(nullptr, "polar"));
    auto* p = qobject_cast<PolarPlotPlugin*>(g.get());
    ASSERT_NE(p, nullptr);
    p->getWidget()->show();
    EXPECT_FALSE(p->getToolbar()->isVisible());
    EXPECT_TRUE(p->getPolarView()->isPointMode());
    p->setOption("DesignMode", "Tebran");
    EXPECT_EQ(p->getPolarView()->getSpokes(), 4);
    p->setOption("designmode", "nothing");
    EXPECT_EQ(p->getPolarView()->getSpokes(), 8);
    p->setOption("fixedwidth", "0x120");
    p->setOption("fixedheight", "wide"); // not a number: ignored
    EXPECT_EQ(p->getPolarView()->minimumWidth(), 288);
    EXPECT_EQ(p->getPolarView()->maximumWidth(), 288);
    EXPECT_EQ(p->getPolarView()->maximumHeight(), QWIDGETSIZE_MAX);
    p->setMarker(45500);
    EXPECT_DOUBLE_EQ(p->getPolarView()->getMarker(), 45.5);
    // Data: every channel plotted against the index-derived x, as points.
    p->setDataPhysX(359 * 3);
    p->setDataRangeX(360);
    const int r[4] = {10, 20, 30, 40};
    p->setData(r, 4, 0);
    ASSERT_EQ(p->getLines().size(), 1);
    EXPECT_EQ(p->getLines().at(0).at(0)->points.size(), 4);
    EXPECT_DOUBLE_EQ(p->getLines().at(0).at(0)->points.at(1).x(), 3);
}
