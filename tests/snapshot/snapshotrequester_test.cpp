#include "connection/channel.h"
#include "connection/viewpage.h"
#include "framework/streamformat.h"
#include "snapshot/fakeprovider.h"
#include "snapshot/snapshotrequester.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {
QString uniqueName()
{
    static int n = 0;
    return QStringLiteral("reqmgr_%1").arg(++n);
}

QStringList describe(const SnapshotMgr& mgr)
{
    QStringList list;
    for (const SnapshotMgr::ActionDescriptor& d : mgr.getActions())
        list << QStringLiteral("%1/%2/%3/%4").arg(d.trigger).arg(d.action).arg(d.secondaryTrigger).arg(d.sequence);
    return list;
}
} // namespace

class SnapshotRequesterTest : public ::testing::Test
{
protected:
    SnapshotRequesterTest()
    {
        directory = dir.path();
        prefs = GPlugin::dfltPrefs;
        prefs.snapshotDir = &directory;
        SnapshotMgr::setBackgroundSwitch(&background);
        DataGroup raw;
        raw.groupNumber = 1;
        raw.name = QStringLiteral("Raw");
        DataGroup scan;
        scan.groupNumber = 2;
        scan.name = QStringLiteral("Scan");
        scan.logContinuous = true;
        DataGroup plain;
        plain.groupNumber = 3;
        plain.storeRaw = false;
        plain.logContinuous = true;
        groups = {{1, raw}, {2, scan}, {3, plain}};
    }
    ~SnapshotRequesterTest() override { SnapshotMgr::setBackgroundSwitch(nullptr); }

    /// A channel's manager (channel >= 0, no display page) in `group`.
    SnapshotMgr* channelMgr(int channel, int group)
    {
        providers.push_back(std::make_unique<FakeProvider>());
        managers.push_back(
            std::make_unique<SnapshotMgr>(uniqueName(), &prefs, providers.back().get(), channel, nullptr));
        SnapshotMgr* mgr = managers.back().get();
        mgr->setName(QStringLiteral("Ch%1").arg(channel));
        mgr->setDataGroup(group);
        providers.back()->mgr = mgr;
        return mgr;
    }
    FakeProvider& providerOf(SnapshotMgr* mgr) { return *static_cast<FakeProvider*>(mgr->getProvider()); }

    QTemporaryDir dir;
    QString directory;
    bool background = false;
    GPlugin::PrefData prefs;
    QMap<int, DataGroup> groups;
    std::vector<std::unique_ptr<FakeProvider>> providers;
    std::vector<std::unique_ptr<SnapshotMgr>> managers;
};

TEST_F(SnapshotRequesterTest, GlobalNumberOnlyGrows)
{
    SnapshotRequester global(QStringLiteral("g"), groups, nullptr, nullptr);
    QSignalSpy spy(&global, &SnapshotRequester::seqNumberChanged);
    global.setSequenceNumber(5);
    global.setSequenceNumber(5);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(global.updateSequenceNumber(2), 5);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(global.updateSequenceNumber(7), 8);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy[1][0].toInt(), 8);
}

TEST_F(SnapshotRequesterTest, ScanFlagNeedsTheExactGroupName)
{
    struct Case
    {
        const char* name;
        bool scan;
    };
    const Case cases[] = {{"Scan", true}, {"scan", false}, {"Scans", false}, {"", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataGroup g;
        g.name = QString::fromLatin1(c.name);
        const QMap<int, DataGroup> map{{0, g}};
        SnapshotRequester r(QStringLiteral("t"), map, nullptr, nullptr);
        EXPECT_EQ(r.isScan(), c.scan);
        EXPECT_TRUE(r.isGlobal());
    }
}

TEST_F(SnapshotRequesterTest, PageRequesterAsksTheHostForNumbers)
{
    ViewPage page(nullptr, QStringLiteral("reqpage"), groups, false);
    SnapshotRequester r(QStringLiteral("p"), groups, &page, nullptr);
    EXPECT_FALSE(r.isGlobal());
    r.setDataGroup(1);
    QList<QPair<int, int>> asked;
    QObject::connect(&r, &SnapshotRequester::reqSeqNumberUpdate, [&](int group, int* number) {
        asked << qMakePair(group, *number);
        *number = *number < 0 ? 12 : *number + 10;
    });
    EXPECT_EQ(r.updateSequenceNumber(3), 13);
    EXPECT_EQ(r.getSequenceNumber(), 13);
    EXPECT_EQ(asked, (QList<QPair<int, int>>{{1, 3}}));

    // Arming resets the number first: the host is asked with -1 and its answer goes into the file names.
    SnapshotMgr* mgr = channelMgr(-1, -1); // unassigned: selected for any group
    r.requestDelayed();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[1], qMakePair(1, -1));
    ASSERT_EQ(mgr->getActions().size(), 1);
    EXPECT_EQ(mgr->getActions()[0].sequence, 12);
}

TEST_F(SnapshotRequesterTest, FragmentSelectsOnlyItsChannel)
{
    SnapshotMgr* ch3 = channelMgr(3, 1);
    SnapshotMgr* ch4 = channelMgr(4, 1);
    SnapshotMgr* other = channelMgr(5, 2);
    SnapshotRequester r(QStringLiteral("f"), groups, nullptr, nullptr);
    r.setDataGroups({{1, 3}, {9, -1}}); // group 9 does not exist: skipped
    r.requestDelayed();
    EXPECT_EQ(describe(*ch3), QStringList{QStringLiteral("49/0/4/0")});
    EXPECT_TRUE(ch4->getActions().isEmpty());
    EXPECT_TRUE(other->getActions().isEmpty());
    EXPECT_EQ(providerOf(ch3).provoked, 1);
    EXPECT_EQ(providerOf(ch4).provoked, 0);
}

TEST_F(SnapshotRequesterTest, ImmediateStoresEveryServedManagerNow)
{
    SnapshotMgr* ch3 = channelMgr(3, 1);
    SnapshotMgr* ch4 = channelMgr(4, 1);
    SnapshotMgr* plain = channelMgr(6, 3); // group without raw storage: not armed
    SnapshotRequester r(QStringLiteral("i"), groups, nullptr, nullptr);
    r.setDataGroups({{1, -1}, {3, -1}});
    r.setSequenceNumber(2);
    r.requestImmediate();
    EXPECT_EQ(providerOf(ch3).saves, QStringList{SnapshotMgr::makeBasename(directory, "Ch3", "i", 2) + " 255 -1"});
    EXPECT_EQ(providerOf(ch4).saves.size(), 1);
    EXPECT_TRUE(providerOf(plain).saves.isEmpty());
    EXPECT_TRUE(ch3->getActions().isEmpty());
    EXPECT_EQ(r.getSequenceNumber(), 3); // the global requester counts on after a store
}

TEST_F(SnapshotRequesterTest, PermanentScanStoreRearmsAndStopRemovesEverything)
{
    SnapshotMgr* ch2 = channelMgr(2, 2);
    SnapshotRequester r(QStringLiteral("s"), groups, nullptr, nullptr);
    ASSERT_TRUE(r.isScan());
    r.setDataGroup(2);
    r.setSequenceNumber(4);
    r.requestPerm(true);
    // One store of the next frame of channel 2, plus an external trigger that arms the next one each time.
    EXPECT_EQ(describe(*ch2), (QStringList{QStringLiteral("33/0/4/4"), QStringLiteral("3/3/33/5")}));
    EXPECT_EQ(providerOf(ch2).logging, QStringList{SnapshotMgr::makeBasename(directory, "Ch2", "s", 4)});
    ch2->executeTrigger(SnapshotMgr::trgChannelComplete, 2);
    EXPECT_EQ(providerOf(ch2).saves.size(), 1);
    ch2->executeTrigger(SnapshotMgr::trgExternal);
    EXPECT_EQ(describe(*ch2).size(), 2);

    r.requestPerm(false);
    EXPECT_TRUE(ch2->getActions().isEmpty());
    EXPECT_EQ(providerOf(ch2).logging.last(), QString());
}

TEST_F(SnapshotRequesterTest, GroupWithoutRawStorageOnlyLogs)
{
    SnapshotMgr* ch6 = channelMgr(6, 3);
    SnapshotRequester r(QStringLiteral("n"), groups, nullptr, nullptr);
    r.setDataGroup(3);
    r.requestDelayed();
    EXPECT_TRUE(ch6->getActions().isEmpty());
    EXPECT_TRUE(providerOf(ch6).logging.isEmpty());
    r.request(SnapshotRequester::reqPermanentPlain);
    EXPECT_TRUE(ch6->getActions().isEmpty());
    EXPECT_EQ(providerOf(ch6).logging.size(), 1);
    r.requestPerm(false);
    EXPECT_EQ(providerOf(ch6).logging.last(), QString());
}

TEST_F(SnapshotRequesterTest, DelayedRequestStoresCompleteDataAtOnce)
{
    Channel::_prefs = &prefs;
    Channel channel(7, nullptr, groups);
    Channel::_prefs = &GPlugin::dfltPrefs;
    channel.setDataGroup(1);
    channel.getSnapshotManager()->setName(QStringLiteral("Seven"));
    channel.sendMetadata(StreamFormat::metaCode(StreamFormat::Order), GPlugin::cyclic);
    channel.sendMetadata(StreamFormat::metaCode(StreamFormat::RangeX), 3);
    const int words[] = {1, 2, 3};
    channel.sendData(words, 3, 0);
    SnapshotRequester r(QStringLiteral("d"), groups, nullptr, nullptr);
    r.setDataGroups({{1, 7}});
    r.requestDelayed();
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("d_000-Seven.csv"))));
    EXPECT_TRUE(channel.getSnapshotManager()->getActions().isEmpty());
    channel.sendData(words, 3, 3); // the one-time store is gone: no second file (beside the set's recipe)
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              QStringList({QStringLiteral("d_000-Seven.csv"), QStringLiteral("d_000-Seven.json")}));
}

TEST_F(SnapshotRequesterTest, PageServesItsChannelAndItsOwnDisplays)
{
    QObject owner;
    QVector<Channel*> channels;
    for (int n = 0; n < 4; ++n) {
        channels.append(new Channel(n, &owner, groups));
        channels[n]->setDataGroup(1);
    }
    ViewPage pageA(nullptr, QStringLiteral("reqPageA"), groups, false);
    ViewPage pageB(nullptr, QStringLiteral("reqPageB"), groups, false);
    pageA.setChannelList(channels);
    pageB.setChannelList(channels);
    pageA.setChannelNo(2);
    pageB.setChannelNo(3);
    ASSERT_EQ(pageA.getChannelNo(), 2);
    // Display managers: one on each page, fed by the page's channel.
    SnapshotMgr* displayA = channelMgr(-1, -1);
    SnapshotMgr* displayB = channelMgr(-1, -1);
    displayA->setDisplay(&pageA);
    displayA->setInput(channels[2]->getSnapshotManager());
    displayB->setDisplay(&pageB);
    displayB->setInput(channels[3]->getSnapshotManager());

    SnapshotRequester* r = pageA.getRequester();
    ASSERT_NE(r, nullptr);
    r->setDataGroup(1);
    r->requestDelayed();
    // Page A arms its channel's manager and its own display, both on the completion of channel 2.
    EXPECT_EQ(describe(*channels[2]->getSnapshotManager()), QStringList{QStringLiteral("33/0/4/0")});
    EXPECT_EQ(describe(*displayA), QStringList{QStringLiteral("33/0/4/0")});
    EXPECT_TRUE(channels[3]->getSnapshotManager()->getActions().isEmpty());
    EXPECT_TRUE(displayB->getActions().isEmpty());

    // A display that stores locally waits for its own picture instead, and a permanent request stores one
    // picture and re-arms on each external trigger.
    displayA->setFlag(SnapshotMgr::flagStoreLocal, true);
    r->requestPerm(true);
    EXPECT_EQ(describe(*displayA),
              (QStringList{QStringLiteral("33/0/4/0"), QStringLiteral("2/0/4/0"), QStringLiteral("3/3/2/1")}));
    r->requestPerm(false);
    EXPECT_TRUE(displayA->getActions().isEmpty());
    EXPECT_TRUE(channels[2]->getSnapshotManager()->getActions().isEmpty());
}
