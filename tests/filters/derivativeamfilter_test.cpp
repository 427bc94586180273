// The derivative filter and the AM filter: arithmetic on the values of a stream.
#include "filterchain.h"
#include "filters/amfilter.h"
#include "filters/derivativefilter.h"
#include "utilif/unitedit.h"

#include <QCheckBox>
#include <QSignalSpy>
#include <climits>
#include <cmath>
#include <gtest/gtest.h>

namespace {

struct DerivChain : FilterChain<DerivativeFilter>
{
    DerivChain(int unitX, int unitVal, int physX, int rangeX)
    {
        filter->setDataUnitX(unitX);
        filter->setDataUnitVal(unitVal);
        filter->setDataRangeX(rangeX);
        filter->setDataPhysX(physX);
        rec->clear();
    }
};

// A 48-bit value as the pair of 24-bit words that encoding 6 uses.
QVector<int> pair48(qint64 v)
{
    return {int(quint32(v) & 0xFFFFFFu), int((quint32(quint64(v) >> 24) & 0xFFFFFFu) | (v < 0 ? 0xFF000000u : 0u))};
}

} // namespace

TEST(DerivativeFilter_Scale, StepScaleAndOutputUnit)
{
    struct Case
    {
        const char* what;
        int unitX, unitVal, physX, rangeX;
        double scale;
        int unitOut;
        QVector<int> in, out;
    };
    const Case cases[] = {
        {"unit step", 128, 128, 100, 101, 1.0, 128, {0, 5, 15}, {0, 5, 10}},
        {"step 150/75 = 2", 128, 0x280, 150, 76, 0.5, 0x280, {0, 4, 10}, {0, 2, 3}},
        {"integer step 0: the exact step 1/1000", 128, 128, 1, 1001, 1000.0, 128, {0, 1, 3}, {0, 1000, 2000}},
        {"scale 5000 becomes 5 and metres over seconds a prefix up", 0x47E, 0x180, 200, 2, 5.0, 0xD81, {0, 2}, {0, 10}},
        {"a scale of 1000 stays", 0x47E, 0x180, 1, 2, 1000.0, 0xD81, {0, 7}, {0, 7000}},
        {"step truncated: 5/2 is 2", 128, 128, 5, 3, 0.5, 128, {0, 4}, {0, 2}},
        {"metres over a length axis stay metres", 0x180, 0x17E, 1, 2, 1.0, 0x17E, {3, 4}, {3, 1}},
        {"no extent: plain differences in the value unit", 0x47E, 0x180, 0, 2, 1.0, 0x180, {1, 4}, {1, 3}},
        {"basic unit code cannot step: the scale stays", 0x47E, 4, 1, 2, 1e6, 4, {0, 1}, {0, 1000000}},
        {"top prefix cannot step", 0x47E, 0x286, 1, 2, 1e6, 0x286, {0, 1}, {0, 1000000}},
        {"one value per line", 128, 128, 10, 1, 0.1, 128, {0, 30, 20}, {0, 3, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DerivChain chain(c.unitX, c.unitVal, c.physX, c.rangeX);
        EXPECT_DOUBLE_EQ(chain->getScale(), c.scale);
        chain->setDataUnitVal(c.unitVal); // the successor sees only the derived unit
        EXPECT_EQ(chain.rec->calls, QStringList({QStringLiteral("setDataUnitVal %1").arg(c.unitOut)}));
        chain.rec->clear();
        chain.feed(c.in, 0);
        EXPECT_EQ(chain.rec->words, c.out);
        EXPECT_TRUE(std::isfinite(chain->getScale()));
    }
}

TEST(DerivativeFilter_Properties, OwnValueGoesOnAfterTheUnit)
{
    FilterChain<DerivativeFilter> chain;
    chain->setDataPhysX(100);
    chain->setDataRangeX(101);
    chain->setDataUnitX(0x480);
    chain->setDataOffsetX(5); // not handled: passes
    EXPECT_EQ(chain.rec->calls,
              QStringList({"setDataUnitVal 128", "setDataPhysX 100", "setDataUnitVal 128", "setDataRangeX 101",
                           "setDataUnitVal 128", "setDataUnitX 1152", "setDataOffsetX 5"}));
}

TEST(DerivativeFilter_Data, DifferencesRunAcrossBlocksAndRestartAtInit)
{
    DerivChain chain(128, 128, 100, 101);
    chain.feed({10, 12}, 0);
    chain.feed({15}, 2);
    chain->init();
    chain.feed({4, 4}, 0);
    EXPECT_EQ(chain.rec->words, QVector<int>({10, 2, 3, 4, 0}));
    EXPECT_EQ(chain.rec->indices, QVector<int>({0, 2, 0}));
}

TEST(DerivativeFilter_Data, FortyEightBitPairs)
{
    DerivChain chain(128, 128, 100, 101);
    chain->setDataEncoding(GPlugin::DataEncoding(6 | 0x300)); // bits 8..15 do not count
    QVector<int> in = pair48(1000);
    in += pair48(-500);
    chain.feed(in, 8);
    QVector<int> expected = pair48(1000);
    expected += pair48(-1500);
    EXPECT_EQ(chain.rec->words, expected);
    EXPECT_EQ(chain.rec->indices, QVector<int>({8}));
    EXPECT_EQ(chain.rec->lastValue("setDataEncoding"), 6 | 0x300);
}

TEST(DerivativeFilter_Data, EverySplitOfThePairsGivesTheSameValues)
{
    QVector<int> stream;
    const qint64 values[] = {5, (qint64(1) << 40) + 3, -7, -(qint64(1) << 45), 0};
    for (qint64 v : values)
        stream += pair48(v);
    auto run = [&](int a) {
        DerivChain chain(128, 128, 100, 101);
        chain->setDataEncoding(GPlugin::DataEncoding(6));
        chain.feed(stream.mid(0, a), 0);
        chain.feed(stream.mid(a), a);
        // Every word must arrive exactly once at its own position.
        const QVector<int> positions = wordPositions(*chain.rec);
        QVector<int> byPosition(stream.size(), 0x7abcdef);
        for (int k = 0; k < positions.size(); ++k) {
            if (positions[k] < 0 || positions[k] >= stream.size() || byPosition[positions[k]] != 0x7abcdef)
                return QVector<int>(); // out of place or twice
            byPosition[positions[k]] = chain.rec->words.at(k);
        }
        return byPosition;
    };
    const QVector<int> whole = run(stream.size());
    EXPECT_FALSE(whole.contains(0x7abcdef));
    for (int a = 0; a < stream.size(); ++a) {
        SCOPED_TRACE(testing::Message() << "split at " << a);
        EXPECT_EQ(run(a), whole);
    }
}

namespace {

struct AmChain : FilterChain<AmFilter>
{
    AmChain(int fmod, int physX)
    {
        filter->frequencyField()->setValue(fmod);
        filter->setDataPhysX(physX);
        filter->bypassBox()->setChecked(false);
        rec->clear();
    }
};

} // namespace

TEST(AmFilter_Modulation, CosineRunsOnAcrossBlocks)
{
    struct Case
    {
        const char* what;
        int fmod, physX;
        QVector<int> in, out;
    };
    const Case cases[] = {
        {"four samples per period", 1000, 250000, QVector<int>(5, 100), {100, 0, -100, 0, 100}},
        {"fmod 0 passes apart from truncation", 0, 250000, {1, -2, 3}, {1, -2, 3}},
        {"sample distance 0 counts as one second", 1, 0, {7, 7}, {7, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (int split = 0; split <= c.in.size(); ++split) {
            SCOPED_TRACE(split);
            AmChain chain(c.fmod, c.physX);
            chain.feed(c.in.mid(0, split), 0);
            chain.feed(c.in.mid(split), split);
            EXPECT_EQ(chain.rec->words, c.out);
        }
    }
}

TEST(AmFilter_Modulation, BypassedAtStartAndInitKeepsThePhase)
{
    FilterChain<AmFilter> chain;
    EXPECT_TRUE(chain->bypassBox()->isChecked());
    chain->setDataPhysX(250000);
    EXPECT_EQ(chain.rec->calls, QStringList({"setDataPhysX 250000"}));
    chain.feed({100, 100}, 0);
    EXPECT_EQ(chain.rec->words, QVector<int>({100, 100}));
    chain->frequencyField()->setValue(1000);
    chain->bypassBox()->setChecked(false);
    chain.feed({100}, 0);
    chain->init();
    chain.feed({100}, 1);
    EXPECT_EQ(chain.rec->words, QVector<int>({100, 100, 100, 0}));
    EXPECT_EQ(chain->frequencyField()->maximum(), 200000);
}

TEST(AmFilter_Modulation, UnknownSampleTimePassesAndSaysSoOnce)
{
    FilterChain<AmFilter> chain;
    QSignalSpy status(chain.filter.get(), &GPlugin::statusChanged);
    chain->frequencyField()->setValue(1000);
    chain->bypassBox()->setChecked(false);
    chain.feed({100, 100}, 0);
    chain.feed({100}, 2);
    EXPECT_EQ(chain.rec->words, QVector<int>({100, 100, 100}));
    ASSERT_EQ(status.count(), 1);
    EXPECT_EQ(status.at(0).at(2).toInt(), 1);
    chain->setDataPhysX(250000);
    chain.feed({100, 100}, 3);
    EXPECT_EQ(chain.rec->words.mid(3), QVector<int>({100, 0})); // the cosine starts with the first modulated sample
}

TEST(DerivativeFilter_Data, RoundsHalvesAwayFromZeroAndSaturates)
{
    struct Case
    {
        const char* what;
        int physX;
        int unitVal;
        QVector<int> in, out;
    };
    const Case cases[] = {
        {"scale 0.5: halves round away from zero", 2, 128, {0, 1, 0, 3, 0, 2}, {0, 1, -1, 2, -2, 1}},
        {"scale 1e6 on a fixed unit: within range", 1, 4, {0, 1, 3}, {0, 1000000, 2000000}},
        {"scale 1e6 on a fixed unit: held at the ends of the range", 1, 4, {0, 5000, 0}, {0, INT_MAX, INT_MIN}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DerivChain chain(c.physX == 1 ? 0x47E : 128, c.unitVal, c.physX, 2);
        chain.feed(c.in, 0);
        EXPECT_EQ(chain.rec->words, c.out);
    }
}
