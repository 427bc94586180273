#include "filterchain.h"
#include "filters/generichistfilter.h"
#include "framework/streamformat.h"
#include "utilif/unitedit.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct GenFixture
{
    FilterChain<GenericHistFilter> chain;
    GenericHistFilter* f() { return chain.filter.get(); }
    QVector<int> output()
    {
        chain.rec->clear();
        f()->outputHistogram();
        return chain.rec->words;
    }
};

} // namespace

TEST(GenericHistFilter_Binning, StartInBinsAndTruncatingDivision)
{
    struct Case
    {
        int start;
        int value;
        int bin; // -1 too small, -2 too big
    };
    const Case cases[] = {
        {0, 124, 0},
        {0, 125, 1},
        {0, 124999, 999},
        {0, 125000, -2},
        {0, -1, 0},
        {0, -124, 0},
        {0, -125, -1},
        {2, 250, 0},
        {2, 249, -1},
        {-3, -375, 0},
        {0, INT_MIN, -1},
        {0, INT_MAX, -2},
        {-2147483647 - 1, INT_MIN, -2},
        {2147483647, INT_MAX, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start << " value " << c.value);
        GenFixture fx;
        fx.chain->setOption("binstart", QString::number(c.start));
        fx.chain.feed({c.value}, 0);
        const auto& h = fx.f()->histogram();
        EXPECT_EQ(h.tooSmall, c.bin == -1 ? 1 : 0);
        EXPECT_EQ(h.tooBig, c.bin == -2 ? 1 : 0);
        EXPECT_EQ(h.hits, c.bin >= 0 ? 1 : 0);
        if (c.bin >= 0) {
            EXPECT_EQ(h.bins[size_t(c.bin)], 1u);
        }
    }
}

TEST(GenericHistFilter_Output, PiecesOf1019AndPropertiesInOrder)
{
    for (int count : {1019, 1020}) {
        SCOPED_TRACE(count);
        GenFixture fx;
        fx.chain->setOption("bincount", QString::number(count));
        fx.chain.feed({0, 0, 250}, 0);
        const QVector<int> bins = fx.output();
        ASSERT_EQ(bins.size(), count);
        EXPECT_EQ(bins[0], 2);
        EXPECT_EQ(bins[2], 1);
        EXPECT_EQ(fx.chain.rec->indices, (count == 1019 ? QVector<int>{0} : QVector<int>{0, 1019}));
        EXPECT_EQ(fx.f()->hitsField()->text(), "3");
    }
    GenFixture fx;
    fx.f()->setDataUnitVal(0x180); // m
    fx.f()->setDataPhysVal(1000);  // 1000 values per metre
    QStringList setters;
    for (const QString& call : fx.chain.rec->calls)
        setters << call.section(QLatin1Char(' '), 0, 0);
    EXPECT_EQ(setters.mid(setters.size() - 10),
              (QStringList{"setDataOrder", "setDataRangeX", "setDataOffsetX", "setDataPhysX", "setDataUnitX",
                           "setDataOffsetVal", "setDataPhysVal", "setDataPhysValNumerator", "setDataUnitVal",
                           "setDataEncoding"}));
    // 1000 bins of 125 values of 1 mm: 125 m long, centred at 62.5 m, so in millimetres.
    EXPECT_EQ(fx.chain.rec->lastValue("setDataRangeX"), 1000);
    EXPECT_EQ(fx.chain.rec->lastValue("setDataUnitX"), 0x17F);
    EXPECT_EQ(fx.chain.rec->lastValue("setDataPhysX"), 125000);
    EXPECT_EQ(fx.chain.rec->lastValue("setDataOffsetX"), 62500);
    EXPECT_EQ(fx.chain.rec->count("setDataUnitVal"), 2) << "the input's value unit is not forwarded";
}

TEST(GenericHistFilter_Encoding48, PairsAcrossBlocksBinnedWhole)
{
    GenFixture fx;
    fx.chain->setOption("binwidth", "1000000");
    fx.chain->setOption("binstart", "1099000");
    fx.f()->setDataEncoding(GPlugin::DataEncoding(6));
    // The successor gets counts, not 48-bit values.
    EXPECT_EQ(fx.chain.rec->lastValue("setDataEncoding"), 0);
    QVector<int> w;
    for (qint64 v : {qint64(1) << 40, qint64(1099000) * 1000000 + 5, -qint64(5)}) {
        quint32 lo, hi;
        StreamFormat::encode48(v, &lo, &hi);
        w << int(lo) << int(hi);
    }
    fx.f()->setData(w.constData(), 3, 0); // the second value's low word waits for the next block
    fx.f()->setData(w.constData() + 3, 3, 3);
    const auto& h = fx.f()->histogram();
    EXPECT_EQ(h.bins[511], 1u); // 2^40 / 10^6 = 1099511
    EXPECT_EQ(h.bins[0], 1u);
    EXPECT_EQ(h.tooSmall, 1);
    // A block that does not continue the stream drops the waiting low word instead of pairing it wrongly.
    fx.f()->setData(w.constData(), 1, 0);
    fx.f()->setData(w.constData() + 2, 2, 100);
    EXPECT_EQ(h.hits + h.tooSmall + h.tooBig, 4);
}

TEST(GenericHistFilter_Encoding, OtherEncodingsPassAndInt32Locks)
{
    GenFixture fx;
    fx.f()->setDataEncoding(GPlugin::coord3d);
    EXPECT_EQ(fx.chain.rec->lastValue("setDataEncoding"), int(GPlugin::coord3d));
    fx.chain.feed({7, 8}, 4);
    EXPECT_EQ(fx.chain.rec->words, (QVector<int>{7, 8}));
    EXPECT_EQ(fx.f()->histogram().hits, 0);

    GenFixture locked;
    locked.chain->setOption("Decoding", "int32");
    locked.f()->setDataEncoding(GPlugin::DataEncoding(6));
    EXPECT_EQ(locked.f()->getEncoding(), 0);
    locked.chain.feed({1}, 0);
    EXPECT_EQ(locked.f()->histogram().hits, 1);
}

TEST(GenericHistFilter_Timing, SyncOutputsAtTheExposureElseEveryTick)
{
    GenFixture fx;
    fx.chain->setOption("exposure", "50");
    EXPECT_EQ(fx.f()->refreshTimer()->interval(), 50);
    fx.chain.feed({1}, 0);
    fx.chain.rec->clear();
    fx.f()->updateTick(); // Sync: no output on the tick
    EXPECT_TRUE(fx.chain.rec->words.isEmpty());
    fx.f()->refreshTimeout();
    ASSERT_EQ(fx.chain.rec->words.size(), 1000);
    EXPECT_EQ(fx.chain.rec->words[0], 1);
    EXPECT_EQ(fx.f()->histogram().hits, 0);

    fx.f()->syncBox()->setChecked(false);
    fx.chain.feed({1}, 0);
    fx.chain.rec->clear();
    fx.f()->updateTick();
    ASSERT_EQ(fx.chain.rec->words.size(), 1000);
    fx.chain.rec->clear();
    fx.f()->refreshTimeout(); // only clears
    EXPECT_TRUE(fx.chain.rec->words.isEmpty());
    EXPECT_EQ(fx.f()->histogram().hits, 0);

    QSignalSpy spy(fx.f(), &GPlugin::statusChanged);
    fx.chain->setOption("exposure", "soon");
    EXPECT_EQ(spy.count(), 1);
}
