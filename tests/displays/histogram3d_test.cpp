#include "displays/histogram.h"
#include "displays/histogramplugin.h"
#include "support/recordingplugin.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct Display
{
    std::unique_ptr<HistogramPlugin> plugin = std::make_unique<HistogramPlugin>(nullptr, QStringLiteral("h3d"));
    RecordingPlugin* rec = new RecordingPlugin;
    Display() { plugin->setSuccessor(rec); }
    Histogram* h() { return plugin->histogram(); }
    void feed(const QVector<int>& w, int offset = 0) { plugin->setData(w.constData(), w.size(), offset); }
};

int code(int x, int y, int t)
{
    return (x & 0xFF) | (y & 0xFF) << 8 | (t & 0xFF) << 16;
}

} // namespace

TEST(Histogram3d_Hits, SignedFieldsMapAroundTheCentreAndForward)
{
    Display d;
    EXPECT_EQ(d.plugin->getBinning(), 592137);
    EXPECT_EQ(d.h()->sizeX(), 512);
    EXPECT_EQ(d.h()->sizeT(), 512);
    d.plugin->setDataEncoding(GPlugin::coord3d);
    // Word 0 is the centre; x = -256 is the left edge; y = 255 the last row; t = -1 the slice below the centre.
    const int left = -256 & 0x1FF, lastRow = 255 << 9, tMinus1 = int(0x1FFu << 18);
    d.feed({0, left, lastRow, tMinus1, -1});
    EXPECT_EQ(d.h()->cell(256, 256, 256), 1);
    EXPECT_EQ(d.h()->cell(0, 256, 256), 1);
    EXPECT_EQ(d.h()->cell(256, 511, 256), 1);
    EXPECT_EQ(d.h()->cell(256, 256, 255), 1);
    EXPECT_EQ(d.h()->cell(255, 255, 255), 1);   // -1 in every field
    EXPECT_EQ(d.h()->projection(256, 256), 2u); // all 512 slices are visible
    EXPECT_EQ(d.rec->words, (QVector<int>{0, left, lastRow, tMinus1, -1}));
}

TEST(Histogram3d_Hits, CellsSaturateAt255)
{
    Display d;
    for (int i = 0; i < 300; ++i)
        d.h()->setHit(3, 4, 5);
    EXPECT_EQ(d.h()->cell(3, 4, 5), 255);
    EXPECT_EQ(d.h()->projection(3, 4), 255u);
    d.h()->setHit(-1, 0, 0);
    d.h()->setHit(0, 512, 0);
    d.h()->setHit(0, 0, 512);
    d.h()->setValue(0, 0, 0, 255);
    d.h()->setValue(0, 0, 0, -2);
    EXPECT_EQ(d.h()->cell(0, 0, 0), 0);
}

TEST(Histogram3d_Counts, StorageOrderAndLimits)
{
    Display d;
    d.plugin->setDataBinning(code(2, 2, 2)); // 4 x 4 x 4
    d.plugin->setDataEncoding(GPlugin::Int32Enc);
    d.plugin->setSlcCnt(4);
    // Positions 5 ... 8: (1,1,0), (2,1,0), (3,1,0), (0,2,0); then position 21 = (1,1,1).
    d.feed({7, -9, 255, 254}, 5);
    d.feed({2}, 21);
    EXPECT_EQ(d.h()->cell(1, 1, 0), 7);
    EXPECT_EQ(d.h()->cell(2, 1, 0), 9); // |count|
    EXPECT_EQ(d.h()->cell(3, 1, 0), 0); // above 254: ignored
    EXPECT_EQ(d.h()->cell(0, 2, 0), 254);
    EXPECT_EQ(d.h()->cell(1, 1, 1), 2);
    EXPECT_EQ(d.h()->projection(1, 1), 9u);
    d.feed({3}, 5); // a new value replaces the old in the sum
    EXPECT_EQ(d.h()->projection(1, 1), 5u);
    // Positions past the cube wrap around it.
    d.feed({4}, 64 + 5);
    EXPECT_EQ(d.h()->cell(1, 1, 0), 4);
}

TEST(Histogram3d_Slices, VisibleRangeAndProjection)
{
    Display d;
    Histogram* h = d.h();
    h->setHit(1, 1, 10);
    h->setHit(1, 1, 20);
    h->setHit(1, 1, 20);
    d.plugin->sliceCountBox()->setValue(5);
    d.plugin->sliceBox()->setValue(18);
    EXPECT_EQ(h->visibleSliceFirst(), 18);
    EXPECT_EQ(h->projection(1, 1), 2u);
    EXPECT_EQ(d.plugin->sliceCountBox()->maximum(), 512 - 18);
    h->setHit(1, 1, 22); // visible: counted at once
    h->setHit(1, 1, 30); // not visible
    EXPECT_EQ(h->projection(1, 1), 3u);
    // Showing all 512 slices forces the first slice to 0.
    d.plugin->sliceCountBox()->setMaximum(512);
    d.plugin->setSlcCnt(512);
    EXPECT_EQ(h->visibleSliceFirst(), 0);
    EXPECT_EQ(h->projection(1, 1), 5u);
    h->setVisibleSliceFirst(512); // outside: ignored
    EXPECT_EQ(h->visibleSliceFirst(), 0);
}

TEST(Histogram3d_Binning, FewerSlicesCutTheVisibleRangeAndBadCodesAreRejected)
{
    Display d;
    d.plugin->sliceBox()->setValue(0);
    EXPECT_EQ(d.h()->visibleSliceCount(), 512);
    d.plugin->setDataBinning(code(9, 9, 4)); // T = 16: the 512 visible slices must shrink
    EXPECT_EQ(d.h()->sizeT(), 16);
    EXPECT_EQ(d.h()->visibleSliceCount(), 16);
    EXPECT_EQ(d.plugin->sliceCountBox()->maximum(), 16);
    d.h()->setHit(5, 5, 15);
    d.h()->regenerateCache();
    EXPECT_EQ(d.h()->projection(5, 5), 1u);
    EXPECT_EQ(d.rec->lastValue("setDataBinning"), code(9, 9, 4));

    struct Bad
    {
        const char* name;
        int code;
    };
    const Bad bad[] = {{"sum 28", code(10, 10, 8)},
                       {"negative field", code(-3, 10, 10)},
                       {"negative field making the sum small", code(40, -20, 0)},
                       {"field above 27", code(30, 0, 0)}};
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.name);
        QSignalSpy spy(d.plugin.get(), &GPlugin::statusChanged);
        d.plugin->setDataBinning(b.code);
        EXPECT_EQ(spy.count(), 1);
        EXPECT_EQ(d.h()->sizeT(), 16);
        EXPECT_EQ(d.plugin->getBinning(), code(9, 9, 4));
        EXPECT_EQ(d.rec->lastValue("setDataBinning"), b.code) << "always forwarded";
    }
}

TEST(Histogram3d_Gradation, GreyLevelsAndAuto)
{
    Display d;
    Histogram* h = d.h();
    EXPECT_EQ(h->gradationStart(), 0);
    EXPECT_EQ(h->gradationEnd(), 10);
    EXPECT_EQ(h->greyLevel(5), 127);
    EXPECT_EQ(h->greyLevel(10), 255);
    EXPECT_EQ(h->greyLevel(0), 0);
    for (int i = 0; i < 5; ++i)
        h->setHit(7, 8, i);
    EXPECT_EQ(h->image().pixelColor(7, 8), QColor(127, 127, 127));
    h->setHit(7, 8, 6); // a single pixel follows each hit
    EXPECT_EQ(qGray(h->image().pixel(7, 8)), 153);
    h->setGradationStart(11); // above the end: ignored
    EXPECT_EQ(h->gradationStart(), 0);
    h->setGradationEnd(0);
    EXPECT_EQ(h->greyLevel(1), 255); // equal limits: a step

    d.plugin->resetGradation();
    EXPECT_EQ(h->gradationStart(), 0);
    EXPECT_EQ(h->gradationEnd(), 6);
    EXPECT_EQ(d.plugin->gradEndBox()->value(), 6);
}

TEST(Histogram3d_Zoom, ScaleLimitsAndSize)
{
    Display d;
    d.plugin->setDataBinning(code(4, 3, 0));
    EXPECT_FALSE(d.plugin->zoomOutButton()->isEnabled());
    d.plugin->zoomIn();
    EXPECT_EQ(d.h()->scale(), 2);
    EXPECT_EQ(d.h()->size(), QSize(32, 16));
    EXPECT_TRUE(d.plugin->zoomOutButton()->isEnabled());
    for (int i = 0; i < 120; ++i)
        d.plugin->zoomIn();
    EXPECT_EQ(d.h()->scale(), 100);
    EXPECT_FALSE(d.plugin->zoomInButton()->isEnabled());
    d.h()->setHit(15, 7, 0);
    // A scaled pixel paints as a block.
    QImage shot(d.h()->size(), QImage::Format_RGB32);
    d.h()->render(&shot);
    EXPECT_EQ(qGray(shot.pixel(1500 + 99, 700 + 99)), 25);
    EXPECT_EQ(qGray(shot.pixel(1500 - 1, 700)), 0);
}

TEST(Histogram3d_Lifecycle, InitClearsAndAPanelDeletedFirstIsHarmless)
{
    Display d;
    d.h()->setHit(1, 2, 3);
    d.plugin->init();
    EXPECT_EQ(d.h()->cell(1, 2, 3), 0);
    EXPECT_TRUE(d.h()->isAllZero());
    EXPECT_EQ(d.rec->count("init"), 1);
    delete d.plugin->getWidget();
    d.plugin->setDataEncoding(GPlugin::coord3d);
    d.feed({0, 1});
    d.plugin->setDataBinning(code(1, 1, 1));
    d.plugin->zoomIn();
    d.plugin->resetGradation();
    d.plugin->init();
    EXPECT_EQ(d.rec->words.size(), 2);
}

TEST(Histogram3d_Catalogue, RegisteredWithItsRecord)
{
    const GPlugin::PluginDescriptor* found = nullptr;
    for (const GPlugin::PluginDescriptor* d : *GPlugin::_typeList)
        if (d->name == QLatin1String("3D Histogram Display"))
            found = d;
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->flags, 0x1);
    EXPECT_EQ(found->factory, &histogramFactory);
    EXPECT_EQ(found->description, "Displays 2D projections of 3D histograms h(x,y,z) with h color coded.");
    std::unique_ptr<GPlugin> p(found->factory(nullptr, QStringLiteral("x")));
    EXPECT_EQ(p->getStretch(), 10);
}
