#include "connection/channel.h"
#include "connection/channelhealth.h"
#include "connection/viewpage.h"
#include "framework/streamformat.h"
#include "snapshot/snapshotmgr.h"
#include "support/recordingplugin.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <vector>

TEST(ChannelHealth_Stats, ScriptedStreamGivesExactCounts)
{
    ChannelStats s;
    const qint64 frame = 100;
    // Time 0: positions 0..49, 50..99 (a frame ends), then the next frame restarts at 0: no gaps.
    s.blockAt(0, 50, 0, frame);
    s.blockAt(10, 50, 50, frame);
    s.frameEndedAt(10);
    s.blockAt(20, 50, 0, frame);
    // A block is lost: 50..59 never comes, the next starts at 60 (10 words missed).
    s.blockAt(30, 40, 60, frame);
    s.frameEndedAt(30);
    // The end of a frame is lost: 0..89 of the next frame, then a new frame at 0 (10 words missed).
    s.blockAt(40, 90, 0, frame);
    s.blockAt(50, 20, 0, frame);
    // A block that continues where the last ended (negative position) is no gap.
    s.blockAt(60, 5, -1, frame);
    ChannelHealth h = s.healthAt(60);
    EXPECT_EQ(h.words, 50 + 50 + 50 + 40 + 90 + 20 + 5);
    EXPECT_EQ(h.blocks, 7);
    EXPECT_EQ(h.indexGaps, 2);
    EXPECT_EQ(h.wordsMissed, 20);
    EXPECT_EQ(h.frames, 2);
    EXPECT_EQ(h.framePeriodMs, 20);
    EXPECT_EQ(h.msSinceLastBlock, 0);
    EXPECT_EQ(h.state(), ChannelHealth::Live);

    // Stale once the silence is longer than the frame period, but never before half a second.
    EXPECT_EQ(s.healthAt(560).state(), ChannelHealth::Live);
    h = s.healthAt(561);
    EXPECT_EQ(h.state(), ChannelHealth::Stale);
    EXPECT_EQ(h.msSinceLastBlock, 501);
    EXPECT_EQ(h.wordsPerSecond, 305); // every word came within the last second
    EXPECT_EQ(s.healthAt(5000).wordsPerSecond, 0);
}

TEST(ChannelHealth_Stats, RateAndStaleWithoutFrames)
{
    ChannelStats s;
    EXPECT_EQ(s.healthAt(0).state(), ChannelHealth::NoData);
    // 1000 words every 100 ms for two seconds: 10000 words per second.
    for (int t = 0; t <= 2000; t += 100)
        s.blockAt(t, 1000, -1, 0);
    ChannelHealth h = s.healthAt(2000);
    EXPECT_DOUBLE_EQ(h.wordsPerSecond, 10000.0);
    EXPECT_EQ(h.framesPerSecond, 0);
    // Without frames a stream is stale after two seconds of silence.
    EXPECT_EQ(s.healthAt(4000).state(), ChannelHealth::Live);
    EXPECT_EQ(s.healthAt(4001).state(), ChannelHealth::Stale);
    // Positions going backwards (a server restart) count as gaps with nothing known missed.
    s.blockAt(4100, 10, 5, 0);
    s.blockAt(4200, 10, 0, 0);
    EXPECT_EQ(s.healthAt(4200).indexGaps, 2);
    EXPECT_EQ(s.healthAt(4200).wordsMissed, 0);
}

TEST(ChannelHealth_Channel, CountsWhatPassesThroughTheChannel)
{
    QTemporaryDir dir;
    const QString snapshotDir = dir.path();
    GPlugin::PrefData prefs = GPlugin::dfltPrefs;
    prefs.snapshotDir = &snapshotDir;
    Channel::_prefs = &prefs;
    QMap<int, DataGroup> groups;
    DataGroup g;
    g.groupNumber = 0;
    groups.insert(0, g);
    {
        Channel channel(2, nullptr, groups);
        channel.setDataGroup(0);
        ViewPage page(nullptr, QStringLiteral("page"), groups, false);
        auto* rec = new RecordingPlugin;
        page.addReceiver(rec);
        channel.addPage(&page);
        auto meta = [&](StreamFormat::Property p, int v) { channel.sendMetadata(StreamFormat::info(p).metaCode, v); };
        meta(StreamFormat::Order, GPlugin::forBack);
        meta(StreamFormat::RangeX, 4);
        meta(StreamFormat::RangeY, 2);
        // Two frames of 16 words in blocks of 4 at positions within the frame; one block of the second is lost.
        std::vector<int> words(4, 7);
        for (int index : {0, 4, 8, 12, 0, 4, /* 8 lost */ 12})
            channel.sendData(words.data(), 4, index);
        ChannelHealth h = channel.health();
        EXPECT_EQ(h.words, 28);
        EXPECT_EQ(h.blocks, 7);
        EXPECT_EQ(h.frames, 2);
        EXPECT_EQ(h.indexGaps, 1);
        EXPECT_EQ(h.wordsMissed, 4);
        EXPECT_EQ(h.wordsPerSecond, 28);
        // The replay to the page joining counts once the event loop ran it.
        const qint64 replaysBefore = h.replays;
        channel.replayFrame(rec);
        QTest::qWait(10);
        EXPECT_EQ(channel.health().replays, replaysBefore + 1);
        QString message;
        ASSERT_TRUE(channel.saveSnapshot(dir.filePath("h"), SnapshotMgr::typeAsciiRaw, nullptr, &message))
            << qPrintable(message);
        EXPECT_EQ(channel.health().framesStored, 1);
        channel.removeAllPages();
    }
    Channel::_prefs = &GPlugin::dfltPrefs;
}
