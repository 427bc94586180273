#include "filterchain.h"
#include "filters/directionfilter.h"

#include <QComboBox>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

struct DirChain : FilterChain<DirectionFilter>
{
    DirChain(int mode, GPlugin::DataOrder order, int length)
    {
        filter->changeMode(mode);
        filter->setDataOrder(order);
        filter->setDataRangeX(length);
        rec->clear();
    }
};

} // namespace

TEST(DirectionFilter_Flags, OrderSentOnAndWhatPasses)
{
    struct Case
    {
        int mode;
        GPlugin::DataOrder order;
        int length;
        int orderOut;
        const char* result; // what a block of 2 lines of 3 words (0..5 at position 0) becomes
    };
    const Case cases[] = {
        {0, GPlugin::forBack, 3, 4, "setData 6 @0: 0 1 2 3 4 5"},
        {1, GPlugin::forBack, 3, 3, "setData 3 @0: 0 1 2"},
        {1, GPlugin::backFor, 3, 3, "setData 3 @0: 3 4 5"},
        {2, GPlugin::forBack, 3, 5, "setData 3 @0: 3 4 5"},
        {2, GPlugin::backFor, 3, 5, "setData 3 @0: 0 1 2"},
        {1, GPlugin::backBack, 3, 5, nullptr},
        {2, GPlugin::forFor, 3, 3, nullptr},
        {1, GPlugin::backBack, 0, 5, nullptr}, // blocked even before the line length is known
        {1, GPlugin::cyclic, 3, 2, "setData 6 @0: 0 1 2 3 4 5"},
        {2, GPlugin::linear, 3, 0, "setData 6 @0: 0 1 2 3 4 5"},
        {1, GPlugin::forBack, 0, 3, "setData 6 @0: 0 1 2 3 4 5"}, // no line length yet
        {7, GPlugin::forBack, 3, 4, "setData 6 @0: 0 1 2 3 4 5"}, // unknown mode keeps the flags
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " order " << c.order << " length " << c.length);
        FilterChain<DirectionFilter> chain;
        chain->changeMode(c.mode);
        chain->setDataOrder(c.order);
        EXPECT_EQ(chain.rec->lastValue("setDataOrder"), c.orderOut);
        chain->setDataRangeX(c.length);
        // The length goes on, then the order again.
        EXPECT_EQ(chain.rec->calls.mid(chain.rec->calls.size() - 2),
                  QStringList({QStringLiteral("setDataRangeX %1").arg(c.length),
                               QStringLiteral("setDataOrder %1").arg(c.orderOut)}));
        chain.rec->clear();
        chain.feed(ramp(6), 0);
        if (c.result)
            EXPECT_EQ(chain.rec->calls, QStringList({QLatin1String(c.result)}));
        else
            EXPECT_TRUE(chain.rec->calls.isEmpty());
    }
}

TEST(DirectionFilter_Data, ForwardLinesArePackedIntoAFrameOfHalfTheLines)
{
    DirChain chain(1, GPlugin::forBack, 100);
    chain.feed(ramp(300), 0);
    ASSERT_EQ(chain.rec->indices, QVector<int>({0, 100}));
    QVector<int> expected = ramp(100);
    expected += ramp(100, 200);
    EXPECT_EQ(chain.rec->words, expected);
}

TEST(DirectionFilter_Data, BlockFromKeptLineIntoDroppedLineGivesOnePiece)
{
    DirChain chain(1, GPlugin::forBack, 10);
    chain.feed(ramp(8, 1000), 25); // line 2 from offset 5 into line 3
    EXPECT_EQ(chain.rec->calls, QStringList({"setData 5 @15: 1000 1001 1002 1003 1004"}));
    chain.rec->clear();
    chain.feed({1, 2}, -4); // a negative position passes as it is
    EXPECT_EQ(chain.rec->calls, QStringList({"setData 2 @-4: 1 2"}));
}

TEST(DirectionFilter_Data, EverySplitOfAFrameGivesTheSameResult)
{
    const QVector<int> frame = ramp(4 * 5, 500, 3); // 4 lines of 5 words
    for (int mode = 1; mode <= 2; ++mode) {
        DirChain whole(mode, GPlugin::backFor, 5);
        whole.feed(frame, 0);
        for (int a = 0; a <= frame.size(); ++a) {
            for (int b = a; b <= frame.size(); ++b) {
                SCOPED_TRACE(testing::Message() << "mode " << mode << " blocks end at " << a << " and " << b);
                DirChain split(mode, GPlugin::backFor, 5);
                split.feed(frame.mid(0, a), 0);
                split.feed(frame.mid(a, b - a), a);
                split.feed(frame.mid(b), b);
                EXPECT_EQ(split.rec->words, whole.rec->words);
                // Every word keeps its packed position.
                EXPECT_EQ(wordPositions(*split.rec), ramp(10));
            }
        }
    }
}

TEST(DirectionFilter_Mode, SelectorChangesModeAndAsksForTheFrameAgain)
{
    FilterChain<DirectionFilter> chain;
    QSignalSpy spy(chain.filter.get(), &GPlugin::requestLastFrame);
    chain->setDataOrder(GPlugin::forBack);
    chain->setDataRangeX(8);
    chain.rec->clear();
    QComboBox* box = chain->selector();
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(2), QStringLiteral("Backward"));
    emit box->activated(2);
    EXPECT_EQ(chain->getMode(), 2);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(chain.rec->calls, QStringList({"setDataOrder 5"}));
    chain->changeMode(2);
    EXPECT_EQ(spy.count(), 1);
    // Properties the filter does not handle pass unchanged.
    chain->setDataRangeY(64);
    chain->setDataUnitVal(0x280);
    EXPECT_EQ(chain.rec->lastValue("setDataRangeY"), 64);
    EXPECT_EQ(chain.rec->lastValue("setDataUnitVal"), 0x280);
}
