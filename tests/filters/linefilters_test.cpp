#include "filterchain.h"
#include "filters/avgfilter.h"
#include "filters/ugfilter.h"

#include <QComboBox>
#include <QSignalSpy>
#include <climits>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// An underground filter in `mode` that expects cyclic lines of `length` words.
struct UgChain : FilterChain<UgFilter>
{
    UgChain(int mode, int length)
    {
        filter->setDataOrder(GPlugin::cyclic);
        filter->setDataRangeX(length);
        filter->changeMode(mode);
        rec->clear();
    }
};

QVector<int> peakLine(int length, int peakAt)
{
    QVector<int> v(length, 10);
    v[peakAt] = 1000;
    return v;
}

} // namespace

TEST(LineFilter_Activity, OnlyLineOrdersWithALengthAreCollected)
{
    struct Case
    {
        GPlugin::DataOrder order;
        int length;
        bool transparent;
        bool active;
    };
    const Case cases[] = {
        {GPlugin::linear, 4, false, false},
        {GPlugin::triggered, 4, false, false},
        {GPlugin::cyclic, 4, false, true},
        {GPlugin::forBack, 4, false, true},
        {GPlugin::backFor, 1, false, true},
        {GPlugin::cyclic, 0, false, false},
        {GPlugin::cyclic, -5, false, false},
        {GPlugin::cyclic, 4, true, false},
        {GPlugin::cyclic, LineFilter::_maxLineLength + 1, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "order " << c.order << " length " << c.length);
        FilterChain<UgFilter> chain; // the average filter swallows an unchanged length, this one forwards it
        chain->changeMode(UgFilter::Linear);
        chain->setDataOrder(c.order);
        chain->setDataRangeX(c.length);
        chain->setTransparent(c.transparent);
        EXPECT_EQ(chain->isActive(), c.active);
        EXPECT_EQ(chain.rec->lastValue("setDataRangeX"), c.length); // forwarded in every case
        EXPECT_EQ(chain.rec->lastValue("setDataOrder"), int(c.order));
        if (!c.active) {
            chain.feed({7, 8, 9}, 2);
            EXPECT_EQ(chain.rec->calls.last(), QStringLiteral("setData 3 @2: 7 8 9"));
        }
    }
}

TEST(LineFilter_Collect, TwoAndAHalfLinesGiveTwoLinesAndTheRestWaits)
{
    FilterChain<AvgFilter> chain;
    chain->setDataOrder(GPlugin::cyclic);
    chain->setDataRangeX(4);
    chain.feed(ramp(10, 100), 8);
    EXPECT_EQ(chain.rec->calls, QStringList({"setDataOrder 2", "setDataRangeX 4", "setData 4 @8: 100 101 102 103",
                                             "setData 4 @12: 104 105 106 107"}));
    EXPECT_EQ(chain->currentLineNumber(), 4);
    chain.feed({110, 111}, 18);
    EXPECT_EQ(chain.rec->calls.last(), QStringLiteral("setData 4 @16: 108 109 110 111"));
}

TEST(LineFilter_Collect, EverySplitOfAFrameGivesTheSameLines)
{
    // A noisy frame of 4 lines of 7 words in linear mode; the result must not depend on where blocks end.
    QVector<int> frame;
    for (int i = 0; i < 28; ++i)
        frame << (i * 37 % 11) * 3 + i * 2 - (i % 7 == 3 ? 500 : 0);
    UgChain whole(UgFilter::Linear, 7);
    whole.feed(frame, 0);
    ASSERT_EQ(whole.rec->words.size(), 28);
    for (int a = 0; a <= 28; ++a) {
        for (int b = a; b <= 28; ++b) {
            SCOPED_TRACE(testing::Message() << "blocks end at " << a << " and " << b);
            UgChain split(UgFilter::Linear, 7);
            split.feed(frame.mid(0, a), 0);
            split.feed(frame.mid(a, b - a), a);
            split.feed(frame.mid(b), b);
            EXPECT_EQ(split.rec->words, whole.rec->words);
            EXPECT_EQ(split.rec->indices, QVector<int>({0, 7, 14, 21}));
        }
    }
}

TEST(LineFilter_Collect, NegativePositionPassesUnchanged)
{
    UgChain chain(UgFilter::Constant, 4);
    chain.feed({1, 2, 3}, -3);
    EXPECT_EQ(chain.rec->calls, QStringList({"setData 3 @-3: 1 2 3"}));
}

TEST(LineFilter_Collect, InitRestartsTheLineCounter)
{
    UgChain chain(UgFilter::Constant, 4);
    chain.feed(ramp(8), 8);
    EXPECT_EQ(chain->currentLineNumber(), 4);
    chain->init();
    EXPECT_EQ(chain->currentLineNumber(), 0);
    EXPECT_EQ(chain.rec->calls.last(), QStringLiteral("init"));
}

TEST(UgFilter_Constant, PeakFilteredMeanBecomesTheValueOffset)
{
    struct Case
    {
        const char* what;
        int length;
        int offset;
        int flat; // expected value of the flat words
        int peak; // expected value at the peak
    };
    const Case cases[] = {
        {"long line: the jump is filtered out of the mean", 21, 0, 0, 990},
        {"long line with a value offset", 21, 5, 5, 995},
        {"short line: the jump stays and raises the mean", 5, 0, 10 - 208, 1000 - 208},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UgChain chain(UgFilter::Constant, c.length);
        chain->setDataOffsetVal(c.offset);
        EXPECT_EQ(chain.rec->lastValue("setDataOffsetVal"), c.offset);
        chain.feed(peakLine(c.length, c.length / 2), 0);
        QVector<int> expected(c.length, c.flat);
        expected[c.length / 2] = c.peak;
        EXPECT_EQ(chain.rec->words, expected);
    }
}

TEST(UgFilter_Linear, StraightLinesAndShortLines)
{
    struct Case
    {
        const char* what;
        QVector<int> line;
        QVector<int> expected;
    };
    const Case cases[] = {
        {"odd length rising by a constant step", ramp(5, 7, 3), QVector<int>(5, 0)},
        {"odd length falling", ramp(101, 5000, -7), QVector<int>(101, 0)},
        {"long line with large values", ramp(65535, INT_MIN + 5, 32768), QVector<int>(65535, 0)},
        {"line longer than 2^16 words", ramp(70001, -35000, 3), QVector<int>(70001, 0)},
        {"even length: the two middle words share the centred index 0", ramp(4), {0, 1, 0, 0}},
        {"one word: its own mean", {42}, {0}},
        {"two words: no slope, the mean is removed", {10, 20}, {-5, 5}},
        {"constant line", QVector<int>(6, -9), QVector<int>(6, 0)},
        {"a difference beyond the word range saturates",
         {INT_MAX, INT_MIN, INT_MAX},
         {INT_MAX - 715827882, INT_MIN, INT_MAX - 715827882}},
        {"an underground beyond the word range", {INT_MIN, 0, INT_MAX}, {-1, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UgChain chain(UgFilter::Linear, c.line.size());
        chain.feed(c.line, 0);
        EXPECT_EQ(chain.rec->words, c.expected);
    }
}

TEST(UgFilter_Constant, ExtremeWordsSaturateInsteadOfWrapping)
{
    UgChain chain(UgFilter::Constant, 3);
    chain.feed({INT_MAX, INT_MIN, INT_MIN}, 0);
    // mean -715827883: INT_MAX + 715827883 does not fit and stays at the top of the range.
    EXPECT_EQ(chain.rec->words, QVector<int>({INT_MAX, INT_MIN + 715827883, INT_MIN + 715827883}));
}

TEST(UgFilter_Mode, ChangesRequestTheFrameAgainAndOffMakesItTransparent)
{
    FilterChain<UgFilter> chain;
    QSignalSpy spy(chain.filter.get(), &GPlugin::requestLastFrame);
    chain->setDataOrder(GPlugin::forBack);
    chain->setDataRangeX(3);
    EXPECT_FALSE(chain->isActive()); // starts Off
    chain.feed({1, 50, 3}, 0);
    EXPECT_EQ(chain.rec->words, QVector<int>({1, 50, 3}));

    // The selector drives the mode as a user would.
    QComboBox* box = chain->selector();
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(1), QStringLiteral("Constant"));
    EXPECT_EQ(box->toolTip(), QStringLiteral("Operation Mode of the filter."));
    emit box->activated(1);
    EXPECT_EQ(chain->getMode(), int(UgFilter::Constant));
    EXPECT_TRUE(chain->isActive());
    EXPECT_EQ(spy.count(), 1);
    chain->changeMode(UgFilter::Constant);
    EXPECT_EQ(spy.count(), 1); // unchanged: no request
    chain->changeMode(UgFilter::Off);
    EXPECT_FALSE(chain->isActive());
    EXPECT_EQ(spy.count(), 2);
}

TEST(AvgFilter_Depth, CumulativeMeanThenExponentialAverage)
{
    FilterChain<AvgFilter> chain;
    chain->setOption(QStringLiteral("DEPTH"), QStringLiteral("4"));
    chain->setDataOrder(GPlugin::cyclic);
    chain->setDataRangeX(2);
    const int lines[] = {4, 8, 12, 16, 100, 100};
    const int expected[] = {4, 6, 8, 10, 33, 49}; // 0.25*100 + 0.75*10 = 32.5 rounds away from zero
    for (int k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        chain.rec->clear();
        chain.feed({lines[k], -lines[k]}, 2 * k);
        EXPECT_EQ(chain.rec->words, QVector<int>({expected[k], -expected[k]}));
    }
}

TEST(AvgFilter_Depth, ValuesBelowOneMeanNoAveragingAndTextIsIgnored)
{
    struct Case
    {
        const char* value;
        int depth;
    };
    const Case cases[] = {{"0", 1}, {"-3", 1}, {"abc", 3}, {"", 3}, {"2", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        FilterChain<AvgFilter> chain;
        chain->setOption(QStringLiteral("depth"), QStringLiteral("3"));
        chain->setOption(QStringLiteral("depth"), QLatin1String(c.value));
        EXPECT_EQ(chain->getDepth(), c.depth);
    }
    FilterChain<AvgFilter> chain;
    chain->setOption(QStringLiteral("depth"), QStringLiteral("0"));
    chain->setDataOrder(GPlugin::cyclic);
    chain->setDataRangeX(1);
    chain.feed({10, 20, 30}, 0);
    EXPECT_EQ(chain.rec->words, QVector<int>({10, 20, 30}));
}

TEST(AvgFilter_Restart, NewLineLengthRestartsInitAndSameLengthDoNot)
{
    FilterChain<AvgFilter> chain;
    chain->setOption(QStringLiteral("depth"), QStringLiteral("2"));
    chain->setDataOrder(GPlugin::cyclic);
    chain->setDataRangeX(1);
    chain.feed({10}, 0);
    chain->init();
    chain->setDataRangeX(1); // unchanged: the average goes on, but the successor hears it again
    EXPECT_EQ(chain.rec->count("setDataRangeX"), 2);
    chain.feed({20}, 0);
    EXPECT_EQ(chain.rec->words.last(), 15);
    chain->setDataRangeX(2);
    chain->setDataRangeX(1);
    chain.feed({40}, 0);
    EXPECT_EQ(chain.rec->words.last(), 40);
}

namespace {

// Passes on the peak-filtered copy instead of the line, to compare it with a plain reading of the rule.
class SmoothProbe : public LineFilter
{
public:
    SmoothProbe(QWidget* parent, QString name) : LineFilter(parent, std::move(name), nullptr) {}
    bool filterLine() override
    {
        line = smooth;
        return true;
    }
};

QVector<int> referenceSmooth(const QVector<int>& x)
{
    const int n = x.size();
    QVector<int> s(n);
    s[0] = x[0];
    double sum = 0.0;
    for (int i = 1; i < n; ++i)
        sum += std::fabs(double(x[i]) - double(x[i - 1]));
    const qint64 limit = n > 1 ? qint64(5.0 * (sum / (n - 1))) : 0;
    for (int i = 1; i < n; ++i) {
        const qint64 p = s[i - 1];
        s[i] = (x[i] > p - limit && x[i] < p + limit) ? x[i] : int(p);
    }
    return s;
}

} // namespace

TEST(LineFilter_Peaks, SmoothedCopyFollowsTheRuleForNoisyLinesWithJumps)
{
    quint32 seed = 99;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed;
    };
    // A jump of exactly five mean steps is replaced (the bounds are exclusive), one step less is kept.
    QVector<QVector<int>> lines = {{0, 0, 0, 0, 0, 5}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 4}, {7}};
    for (int trial = 0; trial < 200; ++trial) {
        const int n = 1 + int(next() % 150);
        QVector<int> x(n);
        for (int i = 0; i < n; ++i) {
            x[i] = int(next() % 100) + i;
            if (next() % 13 == 0)
                x[i] += (next() % 2 ? 1 : -1) * int(next() % 5000); // isolated jumps and steps
            if (trial % 50 == 0)
                x[i] = (next() % 2) ? INT_MAX : INT_MIN; // extremes
        }
        lines << x;
    }
    EXPECT_EQ(referenceSmooth(lines[0]), QVector<int>(6, 0));
    for (int k = 0; k < lines.size(); ++k) {
        SCOPED_TRACE(testing::Message() << "line " << k << " length " << lines[k].size());
        FilterChain<SmoothProbe> chain;
        chain->setDataOrder(GPlugin::cyclic);
        chain->setDataRangeX(lines[k].size());
        chain.rec->clear();
        chain.feed(lines[k], 0);
        EXPECT_EQ(chain.rec->words, referenceSmooth(lines[k]));
    }
}
