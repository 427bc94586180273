// The vectorised paths of the underground and derivative filters against a plain word-by-word reading of their
// rules, on random lines with noise, jumps and extreme words.
#include "filterchain.h"
#include "filters/derivativefilter.h"
#include "filters/ugfilter.h"
#include "utilif/algo.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

struct Random
{
    quint32 seed = 4711;
    quint32 next()
    {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8 | seed << 24;
    }
};

// Noisy slopes, isolated jumps, and now and then words at the ends of the range.
QVector<int> randomLine(Random& r, int n, int trial)
{
    QVector<int> x(n);
    const int slope = int(r.next() % 2001) - 1000, noise = 1 + int(r.next() % 5000);
    const int base = int(r.next() % 200001) - 100000;
    for (int i = 0; i < n; ++i) {
        x[i] = base + slope * i + int(r.next() % quint32(noise));
        if (r.next() % 29 == 0)
            x[i] += int(r.next() % 1000000) - 500000;
        if (trial % 7 == 0 && r.next() % 3 == 0)
            x[i] = (r.next() % 2) ? INT_MAX - int(r.next() % 3) : INT_MIN + int(r.next() % 3);
    }
    return x;
}

int saturate(qint64 v)
{
    return int(qBound<qint64>(INT_MIN, v, INT_MAX));
}

// The linear underground of one line, word by word: peak filter, least-squares line over the centred index
// trunc(i - (n-1)/2), subtraction of its truncated value.
QVector<int> referenceLinear(const QVector<int>& x)
{
    const int n = x.size();
    QVector<int> s(n);
    s[0] = x[0];
    quint64 steps = 0;
    for (int i = 1; i < n; ++i)
        steps += quint64(std::llabs(qint64(x[i]) - qint64(x[i - 1])));
    const qint64 limit = n > 1 ? qint64(5.0 * (double(steps) / (n - 1))) : 0;
    for (int i = 1; i < n; ++i) {
        const qint64 p = s[i - 1];
        s[i] = (x[i] > p - limit && x[i] < p + limit) ? x[i] : int(p);
    }
    __int128 total = 0, sumSC = 0, sumCC = 0;
    for (int i = 0; i < n; ++i) {
        const qint64 c = qint64(std::trunc(i - (n - 1) / 2.0));
        total += s[i];
        sumSC += __int128(s[i]) * c;
        sumCC += c * c;
    }
    const double b = sumCC > 0 ? double(sumSC) / double(sumCC) : 0.0;
    const double a = double(qint64(total)) / n - b * ((n - 1) / 2.0);
    QVector<int> out(n);
    for (int i = 0; i < n; ++i)
        out[i] = saturate(qint64(x[i]) - qint64(i * b + a));
    return out;
}

// An underground filter in linear mode expecting cyclic lines of `length` words.
struct LinearChain : FilterChain<UgFilter>
{
    explicit LinearChain(int length)
    {
        filter->setDataOrder(GPlugin::cyclic);
        filter->setDataRangeX(length);
        filter->changeMode(UgFilter::Linear);
        rec->clear();
    }
};

} // namespace

TEST(UgFilter_Linear, WholeAndSplitLinesMatchTheWordByWordRule)
{
    Random r;
    for (int trial = 0; trial < 120; ++trial) {
        const int n = 1 + int(r.next() % (trial % 10 == 0 ? 3 : 700));
        const int lines = 3;
        QVector<int> frame, expected;
        for (int l = 0; l < lines; ++l) {
            const QVector<int> x = randomLine(r, n, trial);
            frame += x;
            expected += referenceLinear(x);
        }
        SCOPED_TRACE(testing::Message() << "trial " << trial << " length " << n);
        LinearChain whole(n);
        whole.feed(frame, 0); // every line lies whole inside the block
        EXPECT_EQ(whole.rec->words, expected);
        LinearChain split(n);
        const int block = 1 + int(r.next() % quint32(n + 5));
        for (int at = 0; at < frame.size(); at += block)
            split.feed(frame.mid(at, block), at); // lines collected from pieces
        EXPECT_EQ(split.rec->words, expected);
    }
}

TEST(DerivativeFilter_Data, PlainAndScaledDifferencesMatchTheWordByWordRule)
{
    struct Case
    {
        int physX;
        int rangeX;
    };
    // Scales 1 (integer differences), 1/0.37, 1/3 and 1/7.
    const Case cases[] = {{100, 101}, {37, 101}, {3, 2}, {7, 2}};
    Random r;
    for (const Case& c : cases) {
        for (int trial = 0; trial < 30; ++trial) {
            const QVector<int> x = randomLine(r, 1 + int(r.next() % 300), trial);
            SCOPED_TRACE(testing::Message() << "physX " << c.physX << " trial " << trial);
            FilterChain<DerivativeFilter> chain;
            chain->setDataRangeX(c.rangeX);
            chain->setDataPhysX(c.physX);
            const double scale = chain->getScale();
            chain.feed(x, 0);
            QVector<int> expected(x.size());
            double previous = 0.0;
            for (int i = 0; i < x.size(); ++i) {
                expected[i] = algoNearest((x[i] - previous) * scale);
                previous = x[i];
            }
            EXPECT_EQ(chain.rec->words, expected);
        }
    }
}
