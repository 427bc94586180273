// The simulator's time-tag channels over real sockets: the four encodings carry the same events, and the start-stop
// times form a peak at the simulator's delay with its jitter.
#include "connection/datagroup.h"
#include "connection/viewmanager.h"
#include "connection/viewpage.h"
#include "simserver.h"
#include "support/recordingplugin.h"
#include "utilif/tdc56.h"

#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

TEST(SimServer_TimeTags, FourEncodingsCarryTheSameCorrelatedEvents)
{
    SimServer sim;
    const QList<SimServer::Stream> streams = {SimServer::TimeTags, SimServer::TimeTags60, SimServer::TimeTags52,
                                              SimServer::TimeTags60b};
    sim.setChannels(streams);
    for (int n = 0; n < streams.size(); ++n)
        sim.setRate(n, 400000);
    ASSERT_TRUE(sim.listen(0));
    QMap<int, DataGroup> groups;
    for (int g = 0; g < 3; ++g) {
        DataGroup d;
        d.groupNumber = g;
        groups.insert(g, d);
    }
    ViewManager manager(nullptr, false);
    manager.setChannelCount(sim.channelCount(), 0, groups);
    std::vector<std::unique_ptr<ViewPage>> pages;
    std::vector<RecordingPlugin*> recs;
    for (int n = 0; n < streams.size(); ++n) {
        auto page = std::make_unique<ViewPage>(nullptr, QStringLiteral("Tags%1").arg(n), groups, false);
        page->setSelectMode(ViewPage::selectAll);
        recs.push_back(new RecordingPlugin);
        page->addReceiver(recs.back());
        manager.addPage(page.get());
        page->setChannelNo(n);
        pages.push_back(std::move(page));
    }
    manager.connectToServer(QStringLiteral("127.0.0.1"), sim.serverPort());
    ASSERT_TRUE(QTest::qWaitFor(
        [&]() {
            for (RecordingPlugin* r : recs)
                if (r->words.size() < 30000)
                    return false;
            return true;
        },
        20000));
    manager.stop();

    using Decode = void (*)(Tdc56State*, const quint32*, int);
    const Decode decoders[] = {tdc56Decode, tdc56Decode60, tdc56Decode52, tdc56Decode60b};
    const int encodings[] = {5, 7, 9, 10};
    std::vector<std::vector<Tdc56Event>> events(streams.size());
    for (int n = 0; n < streams.size(); ++n) {
        EXPECT_EQ(recs[size_t(n)]->lastValue("setDataEncoding"), encodings[n]);
        EXPECT_EQ(recs[size_t(n)]->lastValue("setDataUnitVal"), 0x47C); // ps
        Tdc56State* d = tdc56Init();
        const QVector<int>& w = recs[size_t(n)]->words;
        decoders[n](d, reinterpret_cast<const quint32*>(w.constData()), w.size());
        events[size_t(n)].resize(size_t(w.size()));
        events[size_t(n)].resize(size_t(tdc56Pop(d, events[size_t(n)].data(), w.size())));
        tdc56DeInit(d);
    }
    const size_t common = std::min({events[0].size(), events[1].size(), events[2].size(), events[3].size()});
    ASSERT_GT(common, 5000u);
    for (int n = 1; n < streams.size(); ++n) {
        SCOPED_TRACE(encodings[n]);
        for (size_t i = 0; i < common; ++i) {
            ASSERT_EQ(events[size_t(n)][i].time, events[0][i].time) << "event " << i;
            ASSERT_EQ(events[size_t(n)][i].channel, events[0][i].channel) << "event " << i;
        }
    }
    // Start (1) to next stop (2): the correlated pairs lie around the delay with the jitter as their spread.
    double sum = 0, sumSq = 0;
    int peak = 0, pairs = 0;
    qint64 lastStart = -1;
    for (size_t i = 0; i < common; ++i) {
        const Tdc56Event& e = events[0][i];
        ASSERT_TRUE(i == 0 || e.time >= events[0][i - 1].time) << "times rise";
        if (e.channel == 2 && lastStart >= 0) {
            const double d = double(e.time - lastStart);
            ++pairs;
            if (std::fabs(d - SimServer::TagDelay) < 5 * SimServer::TagJitter) {
                ++peak;
                sum += d;
                sumSq += d * d;
            }
            lastStart = -1;
        }
        if (e.channel == 1)
            lastStart = e.time;
    }
    ASSERT_GT(peak, pairs / 2);
    const double mean = sum / peak, sigma = std::sqrt(sumSq / peak - mean * mean);
    EXPECT_NEAR(mean, double(SimServer::TagDelay), 30.0);
    EXPECT_NEAR(sigma, SimServer::TagJitter, 30.0);
}
