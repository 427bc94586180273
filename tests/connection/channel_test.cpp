#include "connection/channel.h"
#include "connection/viewpage.h"
#include "framework/streamformat.h"
#include "snapshot/snapshotmgr.h"
#include "support/filesizelimit.h"
#include "support/recordingplugin.h"
#include "utilif/error.h"
#include "utilif/framebuffer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace {
/// Records the chain's progress at each store the channel's manager makes.
class StoreProbe : public SnapshotProvider
{
public:
    explicit StoreProbe(const RecordingPlugin* rec) : rec(rec) {}
    bool saveSnapshot(QString, int, const SnapshotBuffer*, QString*) override
    {
        callsAtStore << rec->calls.size();
        return true;
    }
    void postMessage(QString, int, int) override {}
    const RecordingPlugin* rec;
    QList<int> callsAtStore;
};

std::vector<int> ramp(int n, int start = 0)
{
    std::vector<int> v(static_cast<size_t>(n));
    std::iota(v.begin(), v.end(), start);
    return v;
}

QByteArray readAll(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class ChannelTest : public ::testing::Test
{
protected:
    ChannelTest()
    {
        DataGroup g0;
        g0.groupNumber = 0;
        g0.trigger = GPlugin::time;
        DataGroup g5;
        g5.groupNumber = 5;
        g5.trigger = GPlugin::spec0;
        g5.storeRaw = false;
        DataGroup g7;
        g7.groupNumber = 7;
        g7.disabled = true;
        groups.insert(0, g0);
        groups.insert(5, g5);
        groups.insert(7, g7);
        snapshotDir = dir.path();
        prefs = GPlugin::dfltPrefs;
        prefs.snapshotDir = &snapshotDir;
        prefs.ascMatrix = &ascMatrix;
        Channel::_prefs = &prefs;
        SnapshotMgr::setBackgroundSwitch(&background);
        channel = std::make_unique<Channel>(3, nullptr, groups);
        page = std::make_unique<ViewPage>(nullptr, QStringLiteral("page"), groups, false);
        rec = new RecordingPlugin;
        page->addReceiver(rec);
    }
    ~ChannelTest() override
    {
        channel.reset();
        Channel::_prefs = &GPlugin::dfltPrefs;
        SnapshotMgr::setBackgroundSwitch(nullptr);
    }
    void line(int length)
    {
        channel->sendMetadata(StreamFormat::metaCode(StreamFormat::Order), GPlugin::cyclic);
        channel->sendMetadata(StreamFormat::metaCode(StreamFormat::RangeX), length);
    }
    void scan(int w, int h)
    {
        channel->sendMetadata(StreamFormat::metaCode(StreamFormat::Order), GPlugin::forBack);
        channel->sendMetadata(StreamFormat::metaCode(StreamFormat::RangeX), w);
        channel->sendMetadata(StreamFormat::metaCode(StreamFormat::RangeY), h);
    }
    /// Arms a store of every completed frame of this channel in a manager of `probe`.
    std::unique_ptr<SnapshotMgr> armProbe(StoreProbe& probe)
    {
        auto mgr = std::make_unique<SnapshotMgr>(QStringLiteral("probe"), &prefs, &probe, -1, nullptr);
        mgr->setTriggerReaction(SnapshotMgr::triggerKey(SnapshotMgr::trgChannelComplete, 3),
                                SnapshotMgr::actStoreAlways, nullptr, QStringLiteral("t"), 0);
        return mgr;
    }

    QTemporaryDir dir;
    QString snapshotDir;
    bool background = false;
    bool ascMatrix = false;
    GPlugin::PrefData prefs;
    QMap<int, DataGroup> groups;
    std::unique_ptr<Channel> channel;
    std::unique_ptr<ViewPage> page;
    RecordingPlugin* rec;
};

TEST_F(ChannelTest, SplitsBlockAtFrameEndAndFiresBetween)
{
    line(4);
    channel->addPage(page.get());
    StoreProbe probe(rec);
    auto mgr = armProbe(probe);
    rec->clear();
    const std::vector<int> words = ramp(7, 100);
    channel->sendData(words.data(), 7, 2); // positions 2..8: frame ends after position 3 and after position 7
    ASSERT_EQ(rec->calls.size(), 3);
    EXPECT_EQ(rec->calls[0], "setData 2 @2: 100 101");
    EXPECT_EQ(rec->calls[1], "setData 4 @4: 102 103 104 105");
    EXPECT_EQ(rec->calls[2], "setData 1 @8: 106");
    // The first store sees only the first piece, the second one the second piece.
    EXPECT_EQ(probe.callsAtStore, (QList<int>{1, 2}));
}

TEST_F(ChannelTest, EmptyTelegramFiresOnlyAfterNewWords)
{
    line(100);
    StoreProbe probe(rec);
    auto mgr = armProbe(probe);
    channel->sendData(nullptr, 0, 0);
    EXPECT_TRUE(probe.callsAtStore.isEmpty());
    const std::vector<int> words = ramp(10);
    channel->sendData(words.data(), 10, 0);
    channel->sendData(nullptr, 0, 10);
    channel->sendData(nullptr, 0, 10);
    EXPECT_EQ(probe.callsAtStore.size(), 1);
}

TEST_F(ChannelTest, NewPageGetsStateBeforeNewData)
{
    channel->sendMetadata(StreamFormat::metaCode(StreamFormat::UnitVal), 0x280);
    line(2500);
    channel->sendMetadata(StreamFormat::metaCode(StreamFormat::PhysX), 77);
    const std::vector<int> words = ramp(2500);
    channel->sendData(words.data(), 2500, 0);
    channel->addPage(page.get());
    const QStringList expected = {"init", "setDataOrder 2", "setDataRangeX 2500", "setDataPhysX 77",
                                  "setDataUnitVal 640"};
    ASSERT_GE(rec->calls.size(), 8);
    EXPECT_EQ(rec->calls.mid(0, 5), expected);
    EXPECT_EQ(rec->indices, (QVector<int>{0, 1019, 2038}));
    EXPECT_EQ(rec->words, QVector<int>(words.begin(), words.end()));
    // Adding the page again changes nothing.
    rec->clear();
    channel->addPage(page.get());
    EXPECT_TRUE(rec->calls.isEmpty());
}

TEST_F(ChannelTest, ReplayRequestsCoalesce)
{
    line(3);
    const int words[] = {1, 2, 3};
    channel->sendData(words, 3, 0);
    RecordingPlugin other;
    channel->replayFrame(&other);
    channel->replayFrame(&other);
    EXPECT_TRUE(other.calls.isEmpty()); // deferred to the event loop
    EXPECT_TRUE(QTest::qWaitFor([&] { return other.count("init") > 0; }, 2000));
    QCoreApplication::processEvents();
    EXPECT_EQ(other.count("init"), 1);
    EXPECT_EQ(other.count("setData"), 1);
    EXPECT_EQ(other.words, (QVector<int>{1, 2, 3}));
}

TEST_F(ChannelTest, ReplayToADeletedChainIsDropped)
{
    auto doomed = std::make_unique<RecordingPlugin>();
    channel->replayFrame(doomed.get());
    doomed.reset();
    QCoreApplication::processEvents(); // must not touch the deleted plug-in
    SUCCEED();
}

TEST_F(ChannelTest, MetadataCodesBecomeSetterCalls)
{
    struct Case
    {
        int code, value;
        const char* call; // expected last line, or null for no call
    };
    const Case cases[] = {
        {StreamFormat::metaCode(StreamFormat::Order), 4, "setDataOrder 4"},
        {StreamFormat::metaCode(StreamFormat::RangeX), 10, "setDataRangeX 10"},
        {StreamFormat::metaCode(StreamFormat::RangeY), 11, "setDataRangeY 11"},
        {StreamFormat::metaCode(StreamFormat::PhysX), 12, "setDataPhysX 12"},
        {StreamFormat::metaCode(StreamFormat::PhysY), 13, "setDataPhysY 13"},
        {StreamFormat::metaCode(StreamFormat::OffsetX), 14, "setDataOffsetX 14"},
        {StreamFormat::metaCode(StreamFormat::OffsetY), 15, "setDataOffsetY 15"},
        {StreamFormat::metaCode(StreamFormat::Rotation), 16, "setDataRotation 16"},
        {StreamFormat::metaGroup, 0, "setDataTrigger 2"}, // group 0 has trigger time
        {StreamFormat::metaGroup, 1, nullptr},            // below the group count, but no group 1
        {StreamFormat::metaGroup, 3, nullptr},            // equal to the group count
        {StreamFormat::metaGroup, 5, nullptr},            // group 5 exists but lies above the count
        {StreamFormat::metaGroup, -1, nullptr},
        {StreamFormat::metaCode(StreamFormat::PhysVal), 17, "setDataPhysVal 17"},
        {StreamFormat::metaCode(StreamFormat::PhysValNumerator), 18, "setDataPhysValNumerator 18"},
        {StreamFormat::metaCode(StreamFormat::Encoding), 1, "setDataEncoding 1"},
        {StreamFormat::metaCode(StreamFormat::Binning), 19, "setDataBinning 19"},
        {StreamFormat::metaCode(StreamFormat::UnitX), 20, "setDataUnitX 20"},
        {StreamFormat::metaCode(StreamFormat::UnitVal), 21, "setDataUnitVal 21"},
        {StreamFormat::metaCode(StreamFormat::OffsetVal), 22, "setDataOffsetVal 22"},
        {StreamFormat::metaCode(StreamFormat::FixXY), 5, "setFixXY 1"},
        {StreamFormat::metaCode(StreamFormat::FixXY), 0, "setFixXY 0"},
        {StreamFormat::metaCode(StreamFormat::ScanSpeed), 23, "setDataScanSpeed 23"},
        {StreamFormat::metaCode(StreamFormat::RangeZ), 24, "setDataRangeZ 24"},
        {StreamFormat::metaCode(StreamFormat::PhysZ), 25, "setDataPhysZ 25"},
        {StreamFormat::metaCode(StreamFormat::OffsetZ), 26, "setDataOffsetZ 26"},
        {StreamFormat::metaCode(StreamFormat::UnitZ), 27, "setDataUnitZ 27"},
        {StreamFormat::metaInit, 1, "init"},
        {StreamFormat::metaInit, 0, nullptr},
        {(StreamFormat::metaCode(StreamFormat::PhysVal) + 1), 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("code %1 value %2").arg(c.code, 0, 16).arg(c.value).toStdString());
        RecordingPlugin plugin;
        channel->sendSingleMetadata(&plugin, c.code, c.value);
        if (c.call)
            EXPECT_EQ(plugin.calls, QStringList{QString::fromLatin1(c.call)});
        else
            EXPECT_TRUE(plugin.calls.isEmpty());
    }
}

TEST_F(ChannelTest, OutOfMemoryStopsTheChannelUntilItJoinsAGroup)
{
    channel->addPage(page.get());
    QSignalSpy status(channel.get(), &Channel::statusChanged);
    channel->sendMetadata(StreamFormat::metaCode(StreamFormat::Order), GPlugin::forBack);
    channel->sendMetadata(StreamFormat::metaCode(StreamFormat::RangeX), 1 << 20);
    channel->sendMetadata(StreamFormat::metaCode(StreamFormat::RangeY), 1 << 20); // 2^41 words
    ASSERT_EQ(status.count(), 1);
    EXPECT_EQ(status[0][0].toString(), "Not enough memory available.\nStopped data channel Channel_3 (#3).");
    EXPECT_EQ(status[0][1].toInt(), -1);
    EXPECT_EQ(status[0][2].toInt(), 2);
    EXPECT_TRUE(channel->isStopped());
    rec->clear();
    const int words[] = {1, 2};
    channel->sendData(words, 2, 0);
    channel->sendMetadata(StreamFormat::metaCode(StreamFormat::RangeY), 4); // stored only
    EXPECT_TRUE(rec->calls.isEmpty());
    EXPECT_EQ(channel->getFrameBuffer()->getMetaData(StreamFormat::metaCode(StreamFormat::RangeY)), 4);
    channel->setDataGroup(0);
    EXPECT_FALSE(channel->isStopped());
    channel->sendData(words, 2, 0);
    EXPECT_EQ(rec->count("setData"), 1);
}

TEST_F(ChannelTest, DataGroupDecidesEnableStateAndStorage)
{
    EXPECT_FALSE(channel->getEnabled()); // no group yet
    channel->setDataGroup(42);           // unknown: nothing changes
    EXPECT_EQ(channel->getDataGroup(), -1);
    channel->setDataGroup(0);
    EXPECT_TRUE(channel->getEnabled());
    EXPECT_TRUE(channel->getFrameBuffer()->isActive());
    EXPECT_EQ(channel->getSnapshotManager()->getDataGroup(), 0);
    channel->setDataGroup(5); // no raw storage
    EXPECT_TRUE(channel->getEnabled());
    EXPECT_FALSE(channel->getFrameBuffer()->isActive());
    channel->setDataGroup(7); // disabled
    EXPECT_FALSE(channel->getEnabled());
    EXPECT_FALSE(channel->getFrameBuffer()->isActive());
}

TEST_F(ChannelTest, RemovedPageGetsNothingMore)
{
    line(10);
    channel->addPage(page.get());
    EXPECT_TRUE(channel->removePage(page.get()));
    EXPECT_FALSE(channel->removePage(page.get()));
    rec->clear();
    const int words[] = {1};
    channel->sendData(words, 1, 0);
    channel->sendDataOdd(words, 3, 0);
    EXPECT_TRUE(rec->calls.isEmpty());
    channel->addPage(page.get());
    channel->sendDataOdd(words, 3, 5);
    EXPECT_EQ(rec->calls.last(), "setDataOdd 3 @5");
    channel->removeAllPages();
    EXPECT_TRUE(channel->getPages().isEmpty());
}

TEST_F(ChannelTest, RawFrameSnapshotsWriteFilesAndMessages)
{
    const QString base = dir.filePath(QStringLiteral("S_001-Ch"));
    QString message;
    // A line: CSV only.
    line(3);
    const int words[] = {5, 6, 7};
    channel->sendData(words, 3, 0);
    EXPECT_TRUE(channel->saveSnapshot(base, SnapshotMgr::typeAsciiRaw, nullptr, &message));
    const QString csv = QDir::toNativeSeparators(base + QStringLiteral(".csv"));
    EXPECT_EQ(message, "Frame written to " + csv);
    EXPECT_TRUE(readAll(csv).contains("\n2 ; 7\n"));
    // Binary on a line: nothing, silently.
    EXPECT_TRUE(channel->saveSnapshot(base, SnapshotMgr::typeBinaryRaw, nullptr, &message));
    EXPECT_TRUE(message.isEmpty());
    // No type bits: the success message without a name.
    EXPECT_TRUE(channel->saveSnapshot(base, 0, nullptr, &message));
    EXPECT_EQ(message, "Frame written to ");
    // The same base again never overwrites: the numbering mark goes before the first hyphen.
    EXPECT_TRUE(channel->saveSnapshot(base, SnapshotMgr::typeAsciiRaw | SnapshotMgr::typeBinaryRaw, nullptr, &message));
    EXPECT_TRUE(message.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("S_001[1]-Ch.csv"))));

    // A scan: ASC and BCRF pairs, the message names the last file; the host's matrix flag shapes the ASC files.
    ascMatrix = true;
    scan(2, 2);
    const std::vector<int> frame = ramp(8);
    channel->sendData(frame.data(), 8, 0);
    EXPECT_TRUE(channel->saveSnapshot(base, SnapshotMgr::typeAsciiRaw | SnapshotMgr::typeBinaryRaw, nullptr, &message));
    for (const char* name : {"S_001-Ch-fwd.asc", "S_001-Ch-bwd.asc", "S_001-Ch-fwd.bcrf", "S_001-Ch-bwd.bcrf"})
        EXPECT_TRUE(QFileInfo::exists(dir.filePath(QLatin1String(name)))) << name;
    EXPECT_EQ(message, "Frame written to " + QDir::toNativeSeparators(dir.filePath("S_001-Ch-bwd.bcrf")));
    EXPECT_TRUE(readAll(dir.filePath("S_001-Ch-fwd.asc")).endsWith("# Start of Data:\n4  5\n0  1\n"));
}

TEST_F(ChannelTest, FailedStoreReportsFailure)
{
    scan(2, 2);
    const std::vector<int> frame = ramp(8);
    channel->sendData(frame.data(), 8, 0);
    QString message;
    const QString base = dir.filePath(QStringLiteral("missing/S_001-Ch"));
    EXPECT_FALSE(channel->saveSnapshot(base, SnapshotMgr::typeBinaryRaw, nullptr, &message));
    EXPECT_EQ(message, "Failed to write frame to " + QDir::toNativeSeparators(base + QStringLiteral("-fwd.bcrf")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));
    // A buffer without any frame (no geometry yet) cannot be stored either.
    Channel empty(9, nullptr, groups);
    empty.sendMetadata(StreamFormat::metaCode(StreamFormat::Order), GPlugin::forFor);
    empty.sendMetadata(StreamFormat::metaCode(StreamFormat::RangeX), 4);
    EXPECT_FALSE(empty.saveSnapshot(dir.filePath("E_001-x"), SnapshotMgr::typeAsciiRaw, nullptr, &message));
    EXPECT_EQ(message, "Failed to write frame to " + QDir::toNativeSeparators(dir.filePath("E_001-x-fwd.asc")));
}

TEST_F(ChannelTest, FullDiskFailsTheStoreAndTheLogOnce)
{
    scan(64, 64);
    const std::vector<int> frame = ramp(2 * 64 * 64);
    channel->sendData(frame.data(), int(frame.size()), 0);
    const QString base = dir.filePath(QStringLiteral("S_001-Ch"));
    QString message;
    bool ok;
    {
        FileSizeLimit full(4000);
        ok = channel->saveSnapshot(base, SnapshotMgr::typeAsciiRaw | SnapshotMgr::typeBinaryRaw, nullptr, &message);
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(message, "Failed to write frame to " + QDir::toNativeSeparators(base + QStringLiteral("-fwd.asc")));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());

    // The permanent log goes on appending until a write fails; then it says so once and stops.
    ASSERT_TRUE(channel->startLogging(dir.filePath(QStringLiteral("L_001-Ch")), &message));
    QSignalSpy status(channel.get(), &Channel::statusChanged);
    {
        FileSizeLimit full(20000);
        for (int k = 0; k < 10; ++k)
            channel->sendData(frame.data(), int(frame.size()), -1);
    }
    channel->sendData(frame.data(), 100, -1);
    ASSERT_EQ(status.size(), 1);
    EXPECT_EQ(status.at(0).at(0).toString(),
              "Failed to write continous output to " + QDir::toNativeSeparators(dir.filePath("L_001-Ch-log.csv")));
    EXPECT_EQ(status.at(0).at(2).toInt(), 2);
}

TEST_F(ChannelTest, PermanentLogFollowsStartAndStop)
{
    line(4);
    QString message;
    const QString base = dir.filePath(QStringLiteral("L_002-Ch"));
    ASSERT_TRUE(channel->startLogging(base, &message));
    const QString name = QDir::toNativeSeparators(base + QStringLiteral("-log.csv"));
    EXPECT_EQ(message, "Started continous output to " + name);
    const int words[] = {4, 5};
    channel->sendData(words, 2, 0);
    channel->sendData(nullptr, 0, 2);
    EXPECT_TRUE(channel->startLogging(QString(), &message));
    EXPECT_EQ(message, "Finished continous output");
    channel->sendData(words, 2, 2);
    const QByteArray text = readAll(name);
    EXPECT_TRUE(text.startsWith("# Channel_3\n"));
    EXPECT_TRUE(text.endsWith("0 ; 4\n1 ; 5\n"));
    EXPECT_FALSE(channel->startLogging(dir.filePath(QStringLiteral("nodir/L")), &message));
    EXPECT_TRUE(message.startsWith("Failed to start continous output to "));
}

TEST_F(ChannelTest, BackgroundStoreWritesTheFrameOfItsTrigger)
{
    background = true;
    SnapshotMgr* mgr = channel->getSnapshotManager();
    mgr->setName(QStringLiteral("Raw"));
    QSignalSpy status(channel.get(), &Channel::statusChanged);
    line(20000);
    mgr->setTriggerReaction(SnapshotMgr::triggerKey(SnapshotMgr::trgChannelComplete, 3), SnapshotMgr::actStoreOnce,
                            nullptr, QStringLiteral("bg"), 4);
    const std::vector<int> first = ramp(20000, 1);
    channel->sendData(first.data(), 20000, 0); // completes the frame: the copy is taken now
    // New data overwrite the live frame while the thread writes.
    const std::vector<int> second = ramp(20000, 500000);
    for (int i = 0; i < 20000; i += 1000)
        channel->sendData(second.data() + i, 1000, i);
    EXPECT_EQ(mgr->runningThreads(), 1);
    // All types are requested: a line writes its CSV and, as binary is not possible for it, reports nothing.
    ASSERT_TRUE(QTest::qWaitFor([&] { return mgr->runningThreads() == 0; }, 10000));
    EXPECT_EQ(status.count(), 0);
    const QByteArray text = readAll(dir.filePath(QStringLiteral("bg_004-Raw.csv")));
    EXPECT_TRUE(text.contains("\n0 ; 1\n"));
    EXPECT_TRUE(text.contains("\n19999 ; 20000\n"));
    EXPECT_FALSE(text.contains("500000"));
}

TEST_F(ChannelTest, ProvokedTriggerNeedsACompleteFrame)
{
    line(4);
    StoreProbe probe(rec);
    auto mgr = armProbe(probe);
    const int words[] = {1, 2, 3};
    channel->sendData(words, 3, 0);
    channel->provokeFullTrigger();
    EXPECT_TRUE(probe.callsAtStore.isEmpty());
    channel->sendData(words, 1, 3);
    EXPECT_EQ(probe.callsAtStore.size(), 1);
    channel->provokeFullTrigger();
    EXPECT_EQ(probe.callsAtStore.size(), 2);
}

namespace {
/// A display that cannot get memory for the frame the properties describe.
class GreedyPlugin : public RecordingPlugin
{
public:
    void setDataRangeY(int) override { throw OomError(); }
};
} // namespace

TEST_F(ChannelTest, OutOfMemoryInAChainStopsTheChannelInsteadOfCrashing)
{
    ViewPage greedyPage(nullptr, QStringLiteral("greedy"), groups, false);
    greedyPage.addReceiver(new GreedyPlugin);
    channel->addPage(&greedyPage);
    QSignalSpy status(channel.get(), &Channel::statusChanged);
    channel->sendMetadata(StreamFormat::metaCode(StreamFormat::RangeY), 10);
    EXPECT_TRUE(channel->isStopped());
    ASSERT_EQ(status.count(), 1);
    EXPECT_EQ(status[0][2].toInt(), 2);
    channel->removePage(&greedyPage);
}
