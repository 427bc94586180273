// The filters that work word by word or block by block: missing data, index correction, frequency swap, Para16 and
// the 64-bit filter.
#include "filterchain.h"
#include "filters/fswapfilter.h"
#include "filters/indexcorrfilter.h"
#include "filters/missingfilter.h"
#include "filters/para16filter.h"
#include "filters/sixtyfourfilter.h"

#include <QCheckBox>
#include <QComboBox>
#include <climits>
#include <gtest/gtest.h>

TEST(MissingFilter_Gaps, FillsSmallGapsWithTheSubstitute)
{
    struct Block
    {
        int index;
        QVector<int> words;
    };
    struct Case
    {
        const char* what;
        QVector<Block> blocks;
        QStringList calls;
    };
    const Case cases[] = {
        {"gap of 5 after 10 words",
         {{0, QVector<int>(2, 500)}, {7, {501}}},
         {"setData 2 @0: 500 500", "setData 5 @2: -1000 -1000 -1000 -1000 -1000", "setData 1 @7: 501"}},
        {"a low word lowers the substitute",
         {{0, {-3000}}, {3, {1}}},
         {"setData 1 @0: -3000", "setData 2 @1: -4000 -4000", "setData 1 @3: 1"}},
        {"gap of 9999 is filled",
         {{0, {1}}, {10000, {2}}},
         {"setData 1 @0: 1",
          "setData 9999 @1: -1000 -1000 -1000 -1000 -1000 -1000 -1000 -1000 -1000 -1000 -1000 -1000 -1000 -1000 -1000 "
          "-1000",
          "setData 1 @10000: 2"}},
        {"gap of 10000 is not", {{0, {1}}, {10001, {2}}}, {"setData 1 @0: 1", "setData 1 @10001: 2"}},
        {"a block before the expected position passes, and the expectation follows it",
         {{0, ramp(5)}, {2, {9}}, {4, {8}}},
         {"setData 5 @0: 0 1 2 3 4", "setData 1 @2: 9", "setData 1 @3: -1000", "setData 1 @4: 8"}},
        {"the lowest word keeps the substitute in range",
         {{0, {INT_MIN}}, {2, {0}}},
         {QStringLiteral("setData 1 @0: %1").arg(INT_MIN), QStringLiteral("setData 1 @1: %1").arg(INT_MIN),
          "setData 1 @2: 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FilterChain<MissingFilter> chain;
        for (const Block& b : c.blocks)
            chain.feed(b.words, b.index);
        EXPECT_EQ(chain.rec->calls, c.calls);
    }
}

TEST(MissingFilter_Gaps, InitForgetsSubstituteAndPosition)
{
    FilterChain<MissingFilter> chain;
    chain.feed({-5000}, 0);
    chain->init();
    EXPECT_EQ(chain->getSubstitute(), -1000);
    chain.rec->clear();
    chain.feed({7}, 2);
    EXPECT_EQ(chain.rec->calls, QStringList({"setData 2 @0: -1000 -1000", "setData 1 @2: 7"}));
}

TEST(IndexCorrFilter_Patch, MovesBlocksThatAreOffByOne)
{
    struct Case
    {
        const char* what;
        QVector<int> indices; // blocks of 10 words each
        QVector<int> expected;
    };
    const Case cases[] = {
        {"one late, then two late", {0, 11, 12}, {0, 10, 12}},
        {"one early", {0, 9}, {0, 10}},
        {"the first block is never moved to 0", {1, 10}, {1, 11}},
        {"in place", {0, 10, 20}, {0, 10, 20}},
        {"far off", {0, 30}, {0, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FilterChain<IndexCorrFilter> chain;
        for (int index : c.indices)
            chain.feed(ramp(10), index);
        EXPECT_EQ(chain.rec->indices, c.expected);
    }
    FilterChain<IndexCorrFilter> chain;
    chain.feed(ramp(10), 0);
    chain->init();
    chain.feed(ramp(10), 11);
    EXPECT_EQ(chain.rec->indices, QVector<int>({0, 11}));
}

TEST(FswapFilter_Reverse, BypassedUnchangedOtherwiseReversed)
{
    FilterChain<FswapFilter> chain;
    EXPECT_TRUE(chain->bypassBox()->isChecked());
    EXPECT_EQ(chain->bypassBox()->text(), QStringLiteral("Bypass"));
    chain.feed({1, 2, 3, 4, 5}, 100);
    chain->bypassBox()->setChecked(false);
    chain.feed({1, 2, 3, 4, 5}, 100);
    chain.feed({7}, 3);
    chain.feed({}, 4);
    EXPECT_EQ(chain.rec->calls, QStringList({"setData 5 @100: 1 2 3 4 5", "setData 5 @100: 5 4 3 2 1",
                                             "setData 1 @3: 7", "setData 0 @4:"}));
}

TEST(Para16Filter_Points, EachWordBecomesOneValueAtItsPosition)
{
    FilterChain<Para16Filter> chain;
    chain.feed({int(0xFFFF0001u), int(0x7FFF8000u), 0x00000005}, 12345);
    EXPECT_EQ(chain.rec->calls,
              QStringList({"setDataOrder 1", "setDataEncoding 0", "setDataRangeX 65536", "setDataPhysX 65536",
                           "setDataOffsetX -32768", "setDataPhysVal 1", "setDataUnitX 128", "setDataUnitVal 128",
                           "setData 1 @32767: 1", "setData 1 @65535: -32768", "setData 1 @32768: 5"}));
    chain.rec->clear();
    chain->init();
    // An upstream description (e.g. a channel's replay after init) must not undo the filter's own: the eight
    // properties it describes stay out, the others pass.
    chain->setDataRangeX(10);
    chain->setDataOrder(GPlugin::forBack);
    chain->setDataUnitVal(0x280);
    chain->setDataRangeY(7);
    chain.feed({0}, 0);
    EXPECT_EQ(chain.rec->calls, QStringList({"init", "setDataRangeY 7", "setData 1 @32768: 0"}));
}

namespace {

constexpr int kHigh = int(0x80000000u);

} // namespace

TEST(SixtyFourFilter_Pairs, MswAndLswOfWordPairs)
{
    struct Case
    {
        const char* what;
        int function;
        QVector<int> words;
        QVector<int> expected;
    };
    const Case cases[] = {
        {"LSW: bit 0 of the high word is bit 31", SixtyFourFilter::Lsw, {5, kHigh | 1}, {int(0x80000005u)}},
        {"MSW: bits 1..30 of the high word", SixtyFourFilter::Msw, {5, kHigh | (3 << 1) | 1}, {3}},
        {"two first words: only the second pairs", SixtyFourFilter::Lsw, {5, 6, kHigh}, {6}},
        {"no complete pair", SixtyFourFilter::Msw, {5, 6}, {}},
        {"two high words in a row", SixtyFourFilter::Lsw, {1, kHigh, kHigh | 1, 2, kHigh}, {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FilterChain<SixtyFourFilter> chain;
        chain->filterFunctionChanged(c.function);
        chain.feed(c.words, 40);
        EXPECT_EQ(chain.rec->words, c.expected);
        EXPECT_EQ(chain.rec->indices, QVector<int>({40})); // one call with the incoming index, even when empty
    }
}

TEST(SixtyFourFilter_Pairs, EverySplitDecodesTheSamePairs)
{
    QVector<int> stream;
    for (int k = 0; k < 6; ++k)
        stream << (k * 1000 + 7) << (kHigh | (k << 1) | (k & 1));
    for (int function : {int(SixtyFourFilter::Msw), int(SixtyFourFilter::Lsw)}) {
        FilterChain<SixtyFourFilter> whole;
        whole->filterFunctionChanged(function);
        whole.feed(stream, 0);
        ASSERT_EQ(whole.rec->words.size(), 6);
        for (int a = 0; a <= stream.size(); ++a) {
            SCOPED_TRACE(testing::Message() << "function " << function << " split at " << a);
            FilterChain<SixtyFourFilter> split;
            split->filterFunctionChanged(function);
            split.feed(stream.mid(0, a), 0);
            split.feed(stream.mid(a), a);
            EXPECT_EQ(split.rec->words, whole.rec->words);
        }
    }
}

TEST(SixtyFourFilter_Function, TransparentAndUnknownFunctionsPassUnchanged)
{
    FilterChain<SixtyFourFilter> chain;
    QComboBox* box = chain->selector();
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(1), QStringLiteral("MSW"));
    chain.feed({5, kHigh}, 0);
    emit box->activated(2);
    EXPECT_EQ(chain->getFunction(), 2);
    box->setCurrentIndex(2);
    chain->filterFunctionChanged(9);
    chain.feed({5, kHigh}, 2);
    EXPECT_EQ(chain->getFunction(), 0);
    EXPECT_EQ(box->currentIndex(), 0);
    EXPECT_EQ(chain.rec->calls, QStringList({QStringLiteral("setData 2 @0: 5 %1").arg(kHigh),
                                             QStringLiteral("setData 2 @2: 5 %1").arg(kHigh)}));
}
