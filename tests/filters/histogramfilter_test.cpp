#include "connection/channel.h"
#include "connection/datagroup.h"
#include "connection/viewpage.h"
#include "filterchain.h"
#include "filters/bindivider.h"
#include "filters/histogramfilter.h"
#include "utilif/tdc56.h"
#include "utilif/unitedit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTimer>
#include <QtEndian>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace {

constexpr qint64 P28 = qint64(1) << 28;

/// Encoding-5 words: one high word (base 1 << 28), then events at base + t on channel c (1 ... 8). The times must
/// stay below 2^28 and rise.
struct Words5
{
    QVector<int> w{0x10000001};
    Words5& ev(int t, int c)
    {
        w << int(quint32(c - 1) << 29 | quint32(t));
        return *this;
    }
};

struct Fixture
{
    FilterChain<HistogramFilter> chain;
    Fixture(std::initializer_list<std::pair<QString, QString>> options = {})
    {
        for (const auto& o : options)
            chain->setOption(o.first, o.second);
        chain->setDataEncoding(GPlugin::DataEncoding(5));
        chain->create();
    }
    HistogramFilter* f() { return chain.filter.get(); }
    void select(int start, int stop)
    {
        f()->startList()->setCurrentIndex(f()->startList()->findData(start));
        f()->stopList()->setCurrentIndex(f()->stopList()->findData(stop));
        ASSERT_EQ(f()->getStartChannel(), start);
        ASSERT_EQ(f()->getStopChannel(), stop);
    }
    /// Sends the histogram and returns the bins the successor got.
    QVector<int> output()
    {
        chain.rec->clear();
        f()->outputHistogram();
        return chain.rec->words;
    }
};

} // namespace

TEST(HistogramFilter_StartStop, BinsTheTimeFromAStartToTheNextStop)
{
    struct Case
    {
        const char* name;
        std::vector<std::pair<int, int>> events; // (time, channel); start channel 1, stop channel 2
        int bin;                                 // bin with one count, -1 when none
        qint64 inside, before, after;
    };
    const Case cases[] = {
        {"start 1000, stop 1124: bin 0", {{1000, 1}, {1124, 2}}, 0, 1, 0, 0},
        {"one width later: bin 1", {{1000, 1}, {1125, 2}}, 1, 1, 0, 0},
        {"1000 widths: after", {{1000, 1}, {1000 + 125000, 2}}, -1, 0, 0, 1},
        {"last bin", {{1000, 1}, {1000 + 124999, 2}}, 999, 1, 0, 0},
        {"two stops after one start: the second only counts", {{1000, 1}, {1200, 2}, {1300, 2}}, 1, 1, 0, 0},
        {"a stop without a start is not binned", {{1000, 2}}, -1, 0, 0, 0},
        {"the latest start counts", {{1000, 1}, {5000, 1}, {5010, 2}}, 0, 1, 0, 0},
        {"other channels do nothing", {{1000, 1}, {1010, 3}, {1300, 2}}, 2, 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture fx({{"channels", "8"}});
        fx.select(1, 2);
        Words5 w;
        for (auto e : c.events)
            w.ev(e.first, e.second);
        fx.chain.feed(w.w, 0);
        const auto& h = fx.f()->startStopHistogram();
        EXPECT_EQ(h.countsInside, c.inside);
        EXPECT_EQ(h.countsBefore, c.before);
        EXPECT_EQ(h.countsAfter, c.after);
        const QVector<int> bins = fx.output();
        ASSERT_EQ(bins.size(), 1000);
        for (int i = 0; i < bins.size(); ++i)
            ASSERT_EQ(bins[i], i == c.bin ? 1 : 0) << "bin " << i;
        EXPECT_EQ(fx.f()->insideField()->text(), QString::number(c.inside));
        EXPECT_EQ(fx.f()->afterField()->text(), QString::number(c.after));
    }
}

TEST(HistogramFilter_Options, BinLayoutOfALayoutIsInForceFromTheFirstEvent)
{
    // The options arrive before the panel exists; the histograms must follow them, not a default of 1000 bins.
    Fixture fx({{"channels", "8"}, {"BinStart", "100"}, {"binwidth", "10"}, {"bincount", "50"}});
    fx.select(1, 2);
    EXPECT_EQ(fx.f()->startStopHistogram().binCount, 50);
    fx.chain.feed(Words5().ev(1000, 1).ev(1000 + 125, 2).ev(2000, 1).ev(2000 + 99 - 10, 2).ev(3000, 1).ev(3700, 2).w,
                  0);
    const QVector<int> bins = fx.output();
    ASSERT_EQ(bins.size(), 50);
    EXPECT_EQ(bins[2], 1); // (125 - 100) / 10
    EXPECT_EQ(fx.f()->startStopHistogram().countsBefore, 1);
    EXPECT_EQ(fx.f()->startStopHistogram().countsAfter, 1);
    EXPECT_EQ(fx.chain.rec->lastValue("setDataRangeX"), 50);
}

TEST(HistogramFilter_Output, PropertiesInOrderThenPiecesOf1019)
{
    Fixture fx({{"bincount", "2500"}, {"binwidth", "1000"}});
    fx.f()->setDataUnitVal(124); // picoseconds
    fx.f()->setDataPhysVal(1);
    fx.output();
    QStringList setters;
    for (const QString& call : fx.chain.rec->calls)
        setters << call.section(QLatin1Char(' '), 0, 0);
    EXPECT_EQ(setters, (QStringList{"setDataEncoding", "setDataUnitX", "setDataOrder", "setDataRangeX",
                                    "setDataOffsetX", "setDataPhysX", "setDataOffsetVal", "setDataPhysVal",
                                    "setDataPhysValNumerator", "setDataUnitVal", "setData", "setData", "setData"}));
    EXPECT_EQ(fx.chain.rec->indices, (QVector<int>{0, 1019, 2038}));
    EXPECT_EQ(fx.chain.rec->words.size(), 2500);
    EXPECT_EQ(fx.chain.rec->lastValue("setDataRangeX"), 2500);
    EXPECT_EQ(fx.chain.rec->lastValue("setDataOrder"), 2);
    EXPECT_EQ(fx.chain.rec->lastValue("setDataEncoding"), 0);
    // 2500 bins of 1 ns: 2.5 µs long, centred at 1.25 µs, exactly (not rounded to 3 µs and 1 µs).
    EXPECT_EQ(fx.chain.rec->lastValue("setDataUnitX"), 0x47D); // ns
    EXPECT_EQ(fx.chain.rec->lastValue("setDataPhysX"), 2500);
    EXPECT_EQ(fx.chain.rec->lastValue("setDataOffsetX"), 1250);

    // 1000 bins of 125 ps: 125 ns long, centred at 62.5 ns, so in picoseconds.
    fx.chain->setOption("bincount", "1000");
    fx.chain->setOption("binwidth", "125");
    fx.output();
    EXPECT_EQ(fx.chain.rec->lastValue("setDataUnitX"), 0x47C);
    EXPECT_EQ(fx.chain.rec->lastValue("setDataPhysX"), 125000);
    EXPECT_EQ(fx.chain.rec->lastValue("setDataOffsetX"), 62500);
}

TEST(HistogramFilter_Channels, GlobalStartSendsTheDifferencesOfSuccessiveEvents)
{
    Fixture fx({{"channels", "8"}, {"binwidth", "100"}});
    fx.select(-1, 2);
    EXPECT_FALSE(fx.f()->stopList()->isEnabled());
    // Gaps 150 (bin 1), 50 (bin 0), 320 (bin 3); channel 8 counts like any other.
    fx.chain.feed(Words5().ev(1000, 1).ev(1150, 2).ev(1200, 8).ev(1520, 5).w, 0);
    const QVector<int> bins = fx.output();
    EXPECT_EQ(bins.mid(0, 5), (QVector<int>{1, 1, 0, 1, 0}));
    EXPECT_EQ(fx.f()->channelHistogram().countsInside, 3);
    // The stream goes on across blocks: the next gap is measured from the last event of the block before.
    fx.chain.feed(QVector<int>{int(quint32(1) << 29 | 1920)}, 0);
    EXPECT_EQ(fx.f()->channelHistogram().bins[4], 1u);

    fx.select(3, 2);
    EXPECT_TRUE(fx.f()->stopList()->isEnabled());
}

TEST(HistogramFilter_Modes, RawTimeStampsInStartStopMode)
{
    Fixture fx({{"channels", "8"}, {"startstop", "1"}, {"binwidth", "1"}, {"binstart", "0"}, {"bincount", "10000"}});
    fx.select(1, 2);
    EXPECT_FALSE(fx.f()->diffsButton()->isChecked());
    // Encoding 9 (base 0 allowed): stops at raw times 7 and 42 are binned as they stand.
    fx.f()->setDataEncoding(GPlugin::DataEncoding(9));
    const QVector<int> w = {int(0x80000000u), int(1u << 26 | 7), int(1u << 26 | 42), int(3u)};
    fx.chain.feed(w, 0);
    const QVector<int> bins = fx.output();
    EXPECT_EQ(bins[7], 1);
    EXPECT_EQ(bins[42], 1);
    EXPECT_EQ(fx.f()->startStopHistogram().countsInside, 2);

    // A click on "Diffs" ends start-stop mode.
    fx.f()->diffsButton()->click();
    EXPECT_TRUE(fx.f()->diffsButton()->isChecked());
    EXPECT_FALSE(fx.f()->isStartStop());
}

TEST(HistogramFilter_Encoding, Int32LocksTheEncodingAndPassesTheStreamOn)
{
    Fixture fx({{"decoding", "int32"}});
    fx.f()->setDataEncoding(GPlugin::DataEncoding(7));
    EXPECT_EQ(fx.f()->getEncoding(), 0);
    fx.chain.rec->clear();
    fx.chain.feed({1, 2, 3}, 5);
    EXPECT_EQ(fx.chain.rec->words, (QVector<int>{1, 2, 3}));
    EXPECT_EQ(fx.chain.rec->indices, (QVector<int>{5}));
    fx.f()->outputHistogram(); // no histogram of an undecoded stream
    EXPECT_EQ(fx.chain.rec->words.size(), 3);
    EXPECT_EQ(fx.chain.rec->count("setDataEncoding"), 0) << "the encoding is consumed";
}

TEST(HistogramFilter_Encoding, Int56TdcOnlyReplacesEncoding0)
{
    FilterChain<HistogramFilter> c;
    c->setOption("decoding", "int56tdc");
    c->create();
    EXPECT_EQ(c->getEncoding(), 5);
    FilterChain<HistogramFilter> d;
    d->setDataEncoding(GPlugin::DataEncoding(9));
    d->setOption("decoding", "int56tdc");
    d->create();
    EXPECT_EQ(d->getEncoding(), 9);
}

TEST(HistogramFilter_Encoding, OddBlocksOfEncoding10)
{
    Fixture fx({{"channels", "8"}, {"binwidth", "10"}});
    fx.select(1, 2);
    fx.f()->setDataEncoding(GPlugin::DataEncoding(10));
    // Two records (start at 1000 on 1, stop at 1055 on 2) in 20 bytes, split into blocks of 7 and 13 bytes.
    QByteArray bytes(20, 0);
    qToLittleEndian<qint64>(1000, bytes.data());
    qToLittleEndian<quint16>(1, bytes.data() + 8);
    qToLittleEndian<qint64>(1055, bytes.data() + 10);
    qToLittleEndian<quint16>(2, bytes.data() + 18);
    QByteArray a = bytes.left(7), b = bytes.mid(7);
    a.append(QByteArray(4, 0));
    b.append(QByteArray(4, 0));
    fx.f()->setDataOdd(reinterpret_cast<const int*>(a.constData()), 7, 0);
    fx.f()->setDataOdd(reinterpret_cast<const int*>(b.constData()), 13, 0);
    EXPECT_EQ(fx.f()->startStopHistogram().bins[5], 1u);
}

TEST(HistogramFilter_FastPath, MatchesAWordByWordReferenceOnSplitBlocks)
{
    // Random encoding-5 streams with roll-overs, checked against the queued decoder and a plain division.
    std::mt19937 rng(7);
    struct Layout
    {
        int start, width, count;
    };
    const Layout layouts[] = {{0, 1, 5000}, {-300, 7, 1000}, {200, 125, 37}, {0, 1000000, 10000}};
    for (const Layout& L : layouts) {
        for (int global = 0; global < 2; ++global) {
            SCOPED_TRACE(testing::Message() << "start " << L.start << " width " << L.width << " global " << global);
            std::vector<quint32> words;
            quint32 low = 0;
            for (int i = 0; i < 20000; ++i) {
                if (i % 997 == 0)
                    words.push_back(0x10000000u | (rng() & 0xFF) | 1u);
                low = (low + rng() % 4000) & 0x0FFFFFFFu; // rolls over now and then
                words.push_back((rng() % 8) << 29 | low);
            }
            // Reference: queued decoder, plain arithmetic.
            Tdc56State* d = tdc56Init();
            tdc56Decode(d, words.data(), int(words.size()));
            std::vector<Tdc56Event> ev(words.size());
            ev.resize(size_t(tdc56Pop(d, ev.data(), int(ev.size()))));
            tdc56DeInit(d);
            std::vector<quint32> ref(size_t(L.count), 0);
            qint64 inside = 0, before = 0, after = 0;
            bool hasStart = false, hasEvent = false;
            qint64 lastStart = 0, last = 0;
            auto bin = [&](qint64 v) {
                const qint64 b = (v - L.start) / L.width;
                if (b < 0)
                    ++before;
                else if (b < L.count)
                    ++ref[size_t(b)], ++inside;
                else
                    ++after;
            };
            for (const Tdc56Event& e : ev) {
                if (global) {
                    if (hasEvent)
                        bin(e.time - last);
                    last = e.time;
                    hasEvent = true;
                    continue;
                }
                if (e.channel == 2) {
                    if (hasStart)
                        bin(e.time - lastStart);
                    hasStart = false;
                }
                if (e.channel == 1) {
                    lastStart = e.time;
                    hasStart = true;
                }
            }

            Fixture fx({{"channels", "8"},
                        {"binstart", QString::number(L.start)},
                        {"binwidth", QString::number(L.width)},
                        {"bincount", QString::number(L.count)}});
            fx.select(global ? -1 : 1, 2);
            size_t pos = 0;
            while (pos < words.size()) {
                const size_t n = qMin<size_t>(words.size() - pos, 1 + rng() % 3000);
                fx.f()->setData(reinterpret_cast<const int*>(words.data() + pos), int(n), 0);
                pos += n;
            }
            const auto& h = global ? fx.f()->channelHistogram() : fx.f()->startStopHistogram();
            EXPECT_EQ(h.bins, ref);
            EXPECT_EQ(h.countsInside, inside);
            EXPECT_EQ(h.countsBefore, before);
            EXPECT_EQ(h.countsAfter, after);
            EXPECT_GT(inside, 0);
        }
    }
}

TEST(HistogramFilter_Statistics, MeanAndJitterOfTheSentHistogram)
{
    Fixture fx({{"channels", "8"}, {"binwidth", "10"}, {"showstatistics", "1"}});
    fx.select(1, 2);
    fx.f()->setDataUnitVal(125); // ns
    EXPECT_FALSE(fx.f()->statisticsGroup()->isHidden());
    // Start-stop times 100 and 300 ns: mean 200 ns, RMS 100 ns. Channel 3 events between do not count.
    fx.chain.feed(Words5().ev(1000, 1).ev(1050, 3).ev(1100, 2).ev(2000, 1).ev(2300, 2).w, 0);
    EXPECT_EQ(fx.f()->statisticsCount(), 2);
    fx.output();
    EXPECT_TRUE(fx.f()->statisticsField(0)->text().startsWith("2"));
    EXPECT_TRUE(fx.f()->statisticsField(1)->text().startsWith("200")) << qPrintable(fx.f()->statisticsField(1)->text());
    EXPECT_TRUE(fx.f()->statisticsField(1)->text().contains("ns"));
    EXPECT_TRUE(fx.f()->statisticsField(2)->text().startsWith("100")) << qPrintable(fx.f()->statisticsField(2)->text());
    EXPECT_TRUE(fx.f()->statisticsField(3)->text().startsWith("70.7"))
        << qPrintable(fx.f()->statisticsField(3)->text());
    fx.f()->resetStatistics();
    EXPECT_EQ(fx.f()->statisticsCount(), 0);
    EXPECT_TRUE(fx.f()->statisticsField(1)->text().isEmpty());
}

TEST(HistogramFilter_Channels, NamesAddressAndCountFromTheServer)
{
    Fixture fx({{"channelnames", "1=Laser:2=Detector"}, {"channelsaddr", "0x10"}});
    EXPECT_EQ(fx.f()->startList()->itemText(0), "Global");
    EXPECT_EQ(fx.f()->startList()->itemText(2), "Laser");
    EXPECT_EQ(fx.f()->stopList()->itemText(2), "Detector");
    EXPECT_EQ(fx.f()->stopList()->itemData(2).toInt(), 2);
    EXPECT_EQ(fx.f()->stopList()->itemText(3), "4");

    QStringList asked;
    QObject::connect(fx.f(), &GPlugin::requestParamSnapshot, [&](QStringList lines, DataList& data, QString&, QString) {
        asked << lines;
        data << 100; // logb 6: 8 * 7 channels
    });
    fx.f()->updateChCount();
    EXPECT_EQ(asked, QStringList{"x:16"});
    EXPECT_EQ(fx.f()->getChannelCount(), 56);
    EXPECT_EQ(fx.f()->startList()->count(), 57);
    EXPECT_EQ(fx.f()->startList()->itemData(1).toInt(), 0);

    // Bad values are reported and change nothing.
    QSignalSpy spy(fx.f(), &GPlugin::statusChanged);
    fx.chain->setOption("channels", "100000");
    fx.chain->setOption("bincount", "many");
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(fx.f()->getChannelCount(), 56);
}

TEST(HistogramFilter_Timing, IntegrationSendsAndClearsUnlessLive)
{
    Fixture fx({{"channels", "8"}});
    fx.select(1, 2);
    fx.chain.feed(Words5().ev(1000, 1).ev(1010, 2).w, 0);
    fx.chain.rec->clear();
    fx.f()->refreshTimeout();
    ASSERT_EQ(fx.chain.rec->words.size(), 1000);
    EXPECT_EQ(fx.chain.rec->words[0], 1);
    EXPECT_EQ(fx.f()->startStopHistogram().countsInside, 0) << "cleared after the output";

    fx.f()->liveButton()->setChecked(true);
    fx.chain.feed(Words5().ev(1000, 1).ev(1010, 2).w, 0);
    fx.chain.rec->clear();
    fx.f()->updateTick();
    ASSERT_EQ(fx.chain.rec->words.size(), 1000);
    EXPECT_EQ(fx.chain.rec->words[0], 1);
    fx.chain.rec->clear();
    fx.f()->refreshTimeout(); // live: only clears
    EXPECT_TRUE(fx.chain.rec->words.isEmpty());
    EXPECT_EQ(fx.f()->startStopHistogram().countsInside, 0);

    fx.f()->integrationField()->setValue(50);
    fx.f()->refreshChanged();
    EXPECT_EQ(fx.f()->integrationTimer()->interval(), 50);
}

TEST(BinDivider_Division, ExactForEveryWidthAndValue)
{
    std::mt19937_64 rng(3);
    const quint64 widths[] = {1, 2, 3, 7, 125, 1000, 999999, 1000000, 0xFFFFFFFFull, (1ull << 63) + 5};
    for (quint64 w : widths) {
        BinDivider d(w);
        const quint64 edges[] = {0, 1, w - 1, w, w + 1, 2 * w - 1, ~0ull, ~0ull - 1, ~0ull / 2};
        for (quint64 x : edges)
            ASSERT_EQ(d.div(x), x / w) << x << " / " << w;
        for (int i = 0; i < 10000; ++i) {
            const quint64 x = rng() >> (rng() % 64);
            ASSERT_EQ(d.div(x), x / w) << x << " / " << w;
        }
    }
}

TEST(HistogramFilter_Page, RunsInAPageFedByAChannel)
{
    QMap<int, DataGroup> groups{{0, DataGroup()}};
    QObject owner;
    auto* channel = new Channel(0, &owner, groups);
    channel->setDataGroup(0);
    ViewPage page(nullptr, QStringLiteral("HistPage"), groups, false);
    page.setChannelList({channel});
    auto* f =
        qobject_cast<HistogramFilter*>(page.addPlugin(QStringLiteral("Histogram Filter"), QStringLiteral("hist"),
                                                      {"decoding", "channels", "bincount"}, {"int56tdc", "8", "100"}));
    ASSERT_NE(f, nullptr);
    auto* recorder = new RecordingPlugin;
    page.addReceiver(recorder);
    page.setChannelNo(0);
    QCoreApplication::processEvents(); // the panel is built on the first turn of the event loop
    ASSERT_TRUE(f->isCreated());
    f->startList()->setCurrentIndex(f->startList()->findData(1));
    f->stopList()->setCurrentIndex(f->stopList()->findData(2));
    channel->sendMetadata(StreamFormat::info(StreamFormat::UnitVal).metaCode, 124); // value unit: ps
    const QVector<int> w = Words5().ev(1000, 1).ev(1300, 2).w;
    channel->sendData(w.constData(), w.size(), 0);
    recorder->clear();
    f->refreshHistogram();
    ASSERT_EQ(recorder->words.size(), 100);
    EXPECT_EQ(recorder->words[2], 1);
}

TEST(HistogramFilter_Panel, TimersAndEventsAfterThePageDeletedThePanel)
{
    Fixture fx({{"channels", "8"}});
    fx.select(1, 2);
    delete fx.f()->getWidget();
    EXPECT_EQ(fx.f()->getWidget(), nullptr);
    fx.chain.feed(Words5().ev(1000, 1).ev(1010, 2).w, 0);
    fx.f()->refreshTimeout();
    fx.f()->updateTick();
    fx.f()->updateChCount();
    fx.f()->outputHistogram();
    fx.chain->setOption("bincount", "20");
    SUCCEED();
}
