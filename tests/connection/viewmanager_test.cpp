// ViewManager: the connect sequence, the selection telegrams, dispatching of received telegrams, status and stop.
#include "connection/channel.h"
#include "connection/datagroup.h"
#include "connection/viewmanager.h"
#include "connection/viewpage.h"
#include "connectiontest.h"
#include "framework/streamformat.h"
#include "support/recordingplugin.h"
#include "utilif/iqtcp.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <memory>

using namespace Telegram;

namespace {

QMap<int, DataGroup> makeGroups()
{
    QMap<int, DataGroup> groups;
    for (int g = 0; g < 3; ++g) {
        DataGroup d;
        d.groupNumber = g;
        d.name = QStringLiteral("G%1").arg(g);
        d.trigger = g == 1 ? GPlugin::scanner : GPlugin::noTrigger;
        groups.insert(g, d);
    }
    return groups;
}

// A manager connected to a raw server that records what the manager sends, with one page on channel 0.
class ManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        groups = makeGroups();
        manager = std::make_unique<ViewManager>(nullptr, false);
        manager->setChannelCount(8, 2, groups);
        for (Channel* c : manager->getChannels())
            c->setDataGroup(0);
        page = std::make_unique<ViewPage>(nullptr, QStringLiteral("ManagerTestPage"), groups, false);
        page->setSelectMode(ViewPage::selectAll);
        plugin = new RecordingPlugin;
        page->addReceiver(plugin);
        manager->addPage(page.get());
        page->setChannelNo(0);
    }
    void connectToServer()
    {
        manager->connectToServer(QStringLiteral("127.0.0.1"), server.port());
        ASSERT_TRUE(server.waitForClient());
        ASSERT_TRUE(QTest::qWaitFor([&]() { return manager->connection()->state() == IQTcp::Connected; }, 5000));
    }
    // The telegrams sent after the connect sequence (3 + 5 per subscribed channel).
    QVector<QVector<qint32>> sentAfterConnect(int count)
    {
        const int sequence = 2 + 5 * 6;
        return server.telegrams(sequence + count).mid(sequence);
    }

    RawServer server;
    QMap<int, DataGroup> groups;
    std::unique_ptr<ViewManager> manager;
    std::unique_ptr<ViewPage> page;
    RecordingPlugin* plugin = nullptr;
};

QVector<qint32> sel(qint32 address, qint32 index, qint32 value)
{
    return {20, 0, address, index, 0, value};
}

} // namespace

TEST_F(ManagerTest, ConnectSequenceSubscribesAllButTheUnsubscribedChannels)
{
    connectToServer();
    const auto sent = server.telegrams(32);
    ASSERT_EQ(sent.size(), 32);
    EXPECT_EQ(sent[0], (QVector<qint32>{20, 6, 0x1204, 0, 0, 0}));
    EXPECT_EQ(sent[1], (QVector<qint32>{20, 6, 0x1200, 0, 0, -1}));
    for (int n = 0; n < 6; ++n) {
        SCOPED_TRACE(n);
        const int at = 2 + 5 * n;
        EXPECT_EQ(sent[at], (QVector<qint32>{20, 6, 0x1202, 0, 0, n}));
        EXPECT_EQ(sent[at + 1], (QVector<qint32>{16, 1, 59, n, 0}));
        EXPECT_EQ(sent[at + 2], (QVector<qint32>{16, 1, 49, n, 0}));
        EXPECT_EQ(sent[at + 3], (QVector<qint32>{16, 1, 50, n, 0}));
        EXPECT_EQ(sent[at + 4], (QVector<qint32>{16, 1, 51, n, 0}));
    }

    // The lossless setting goes out at once while connected.
    manager->setLosslessConnection(true);
    EXPECT_EQ(server.telegrams(33).value(32), (QVector<qint32>{20, 6, 0x1204, 0, 0, 1}));
}

TEST_F(ManagerTest, SelectionsFromAPageArriveAsTelegrams)
{
    connectToServer();
    const auto scanner = GPlugin::scanner;
    struct Case
    {
        const char* name;
        std::function<void()> emitIt;
        QVector<QVector<qint32>> expected;
    };
    const Case cases[] = {
        {"scanner range", [&] { emit plugin->rangeSelected(QRect(QPoint(100, 200), QPoint(349, 599)), scanner); },
         {sel(0x1000, 0, 25), sel(0x1001, 0, 40), sel(0x2CD, 0, 22), sel(0x2CE, 0, 39)}},
        {"scanner line", [&] { emit plugin->rangeSelected(QRect(QPoint(-105, 50), QPoint(94, 10)), scanner); },
         {sel(0x1000, 0, 20), sel(0x10, 0, 0)}},
        {"scanner nothing", [&] { emit plugin->rangeSelected(QRect(QPoint(5, 50), QPoint(5, 10)), scanner); }, {}},
        {"spectrum 2", [&] { emit plugin->rangeSelected(QRect(QPoint(10, 0), QPoint(90, 0)), GPlugin::spec2); },
         {sel(0x250, 2, 10), sel(0x251, 2, 90)}},
        {"spectrum empty", [&] { emit plugin->rangeSelected(QRect(QPoint(10, 0), QPoint(10, 0)), GPlugin::spec0); },
         {}},
        {"origin 9", [&] { emit plugin->rangeSelected(QRect(QPoint(10, -40), QPoint(29, -21)), GPlugin::DataTrigger(9)); },
         {sel(0x285, 0, 9), sel(0x286, 1, 40)}},
        {"other origin", [&] { emit plugin->rangeSelected(QRect(0, 0, 50, 50), GPlugin::time); }, {}},
        {"point", [&] { emit plugin->pointSelected(1234, 0x300, 2); }, {sel(0x300, 2, 1234)}},
        {"point without target", [&] { emit plugin->pointSelected(1, 0, 0); }, {}},
        {"angle", [&] { emit plugin->angleSelected(16384); }, {sel(0x18, 0, 16384)}},
        {"empty path", [&] { emit plugin->pathSelected(PathList(), scanner); },
         {sel(0x264, 0, 1), sel(0x1304, 0, 0)}},
        {"path", [&] { emit plugin->pathSelected(PathList{{15, -25}, {100, 7}}, scanner); },
         {sel(0x264, 0, 1), sel(0x1300, 0, 1), sel(0x1301, 0, -2), sel(0x1300, 1, 10), sel(0x1301, 1, 0),
          sel(0x1304, 0, 2)}},
        {"path of other origin", [&] { emit plugin->pathSelected(PathList{{1, 1}}, GPlugin::spec0); }, {}},
        {"grid", [&] { emit plugin->gridSelected(PathList{{0, 0}, {100, 0}, {0, 200}}, 4, 5, scanner); },
         {sel(0x264, 0, 1), sel(0x1300, 0, 0), sel(0x1301, 0, 0), sel(0x1300, 1, 10), sel(0x1301, 1, 0),
          sel(0x1300, 2, 0), sel(0x1301, 2, 20), sel(0x26D, 0, 4), sel(0x26E, 0, 5), sel(0x1304, 0, -1)}},
        {"grid of two points", [&] { emit plugin->gridSelected(PathList{{0, 0}, {1, 1}}, 4, 5, scanner); }, {}},
    };
    int seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.emitIt();
        // A marker telegram after each case shows that everything of the case has arrived.
        QByteArray marker = tel(0, 0x7777, seen, {});
        emit plugin->sendGenericTelegram(marker.data());
        const auto got = sentAfterConnect(seen + c.expected.size() + 1);
        ASSERT_EQ(got.size(), seen + c.expected.size() + 1);
        EXPECT_EQ(got.mid(seen, c.expected.size()), c.expected);
        EXPECT_EQ(got.last(), (QVector<qint32>{16, 0, 0x7777, seen, 0}));
        seen = got.size();
    }
}

TEST_F(ManagerTest, ReceiveDispatchesDataMetadataAndReplies)
{
    plugin->clear(); // forget the replay of joining the channel
    QByteArray buf;
    buf += tel(2, 0xF00, 3, {10, 11, 12});        // data for channel 0
    buf += tel(2, 0xF00, 6, {});                  // empty data telegram
    QByteArray odd = tel(2, 0xF00, 0, {0x01020304, 0});
    odd.chop(1);
    Telegram::putWord(odd.data(), 0, 16 + 7);     // 7 data bytes
    buf += odd;
    buf += tel(2, StreamFormat::metaCode(StreamFormat::RangeX), 0, {640}); // metadata rangeX for channel 0
    buf += tel(2, StreamFormat::metaInit, 0, {1});                         // the last metadata code: init
    buf += tel(2, (StreamFormat::metaInit + 1), 0, {5});                   // not metadata: ignored
    buf += tel(2, StreamFormat::metaCode(StreamFormat::RangeY), 9, {7});   // metadata for a channel out of range
    buf += tel(2, 0xF00 + 8, 0, {1});             // data for a channel that does not exist
    buf += tel(3, 49, 2, {0, 17});                // signal number of channel 2
    buf += tel(3, 50, 2, {0, 40});                // period
    buf += tel(3, 51, 2, {0, 99});                // further value
    buf += tel(3, 59, 2, {0, 1});                 // group
    buf += tel(3, 50, 2, {0});                    // reply without its value: ignored
    buf += tel(3, 59, 12, {0, 1});                // reply for a channel out of range
    buf += tel(2, 0xF00, 9, {13});                // after all that, data still flows
    manager->receive(buf.data(), buf.size());

    EXPECT_EQ(plugin->calls.filter(QRegularExpression(QStringLiteral("^setData(Odd)? "))),
              (QStringList{"setData 3 @3: 10 11 12", "setDataOdd 7 @0", "setData 1 @9: 13"}));
    EXPECT_EQ(plugin->lastValue(QStringLiteral("setDataRangeX")), 640);
    EXPECT_EQ(plugin->count(QStringLiteral("init")), 1);
    Channel* c2 = manager->getChannels()[2];
    EXPECT_EQ(c2->getSignalNumber(), 17);
    EXPECT_EQ(c2->getPeriod(), 40);
    EXPECT_EQ(c2->getExtraProperty(), 99);
    EXPECT_EQ(c2->getDataGroup(), 1);

    // A truncated telegram ends the buffer; a length below 16 as well.
    plugin->clear();
    QByteArray bad = tel(2, 0xF00, 0, {1}) + tel(2, 0xF00, 1, {2, 3});
    manager->receive(bad.data(), bad.size() - 1);
    QByteArray shortOne = tel(2, 0xF00, 0, {4});
    Telegram::putWord(shortOne.data(), 0, 12);
    shortOne += tel(2, 0xF00, 0, {5});
    manager->receive(shortOne.data(), shortOne.size());
    EXPECT_EQ(plugin->words, (QVector<int>{1}));

    // A data block that is not aligned in the buffer still arrives whole.
    plugin->clear();
    QByteArray shifted = QByteArray(1, 'x') + tel(2, 0xF00, 0, {21, 22});
    manager->receive(shifted.data() + 1, shifted.size() - 1);
    EXPECT_EQ(plugin->words, (QVector<int>{21, 22}));
}

TEST_F(ManagerTest, StatusReportsActivityOnChange)
{
    QSignalSpy receiving(manager.get(), &ViewManager::receiving);
    QSignalSpy overload(manager.get(), &ViewManager::overload);
    manager->updateStatus(); // clears the flag set by construction-time activity, if any
    receiving.clear();
    QByteArray data = tel(2, 0xF01, 0, {1});
    manager->receive(data.data(), data.size());
    manager->updateStatus();
    manager->updateStatus();
    manager->updateStatus();
    ASSERT_EQ(receiving.size(), 2);
    EXPECT_TRUE(receiving[0].at(0).toBool());
    EXPECT_FALSE(receiving[1].at(0).toBool());
    EXPECT_TRUE(overload.isEmpty());
    EXPECT_FALSE(manager->getOverload());

    manager->dataTimeout();
    EXPECT_FALSE(receiving.last().at(0).toBool());
    ASSERT_EQ(overload.size(), 1);
    EXPECT_FALSE(overload[0].at(0).toBool());
}

// A length word that no telegram can have: the manager says so, the client reconnects, and the data sent after the
// reconnection arrive; what followed the bad word on the broken connection is not taken for telegrams.
TEST_F(ManagerTest, BadLengthWordIsReportedAndTheStreamComesBack)
{
    QByteArray minusOne = tel(2, 0xF00, 0, {7, 7});
    Telegram::putWord(minusOne.data(), 0, -1);
    QByteArray maxInt = tel(2, 0xF00, 0, {7, 7});
    Telegram::putWord(maxInt.data(), 0, 0x7FFFFFFF);
    QByteArray noise(256, '\0');
    QRandomGenerator random(18);
    random.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    const quint32 noiseLength = qFromLittleEndian<quint32>(noise.constData());
    ASSERT_TRUE(noiseLength < 16 || noiseLength > manager->connection()->maxTelegramLength());
    struct Case
    {
        const char* name;
        QByteArray bytes;
        const char* shown; // how the message shows the length
    };
    const Case cases[] = {
        {"-1", minusOne, "4294967295"},
        {"2^31 - 1", maxInt, "2147483647"},
        {"random bytes", noise, ""},
    };

    connectToServer();
    QSignalSpy status(manager.get(), &ViewManager::statusChanged);
    QSignalSpy counted(manager.get(), &ViewManager::protocolErrors);
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++round;
        plugin->clear();
        status.clear();
        const int sentBefore = server.received.size();
        server.send(tel(2, 0xF00, 0, {1, 2, 3}) + c.bytes + tel(2, 0xF00, 3, {4, 5, 6}));
        ASSERT_TRUE(QTest::qWaitFor([&]() { return counted.size() == round; }, 5000));
        EXPECT_EQ(counted.last().at(0).toInt(), round);
        EXPECT_EQ(manager->getProtocolErrors(), round);
        ASSERT_FALSE(status.isEmpty());
        const QString text = status.last().at(0).toString();
        EXPECT_TRUE(text.startsWith(QLatin1String("Protocol error from data server"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QLatin1String(c.shown))) << text.toStdString();
        EXPECT_EQ(status.last().at(2).toInt(), 2);
        EXPECT_EQ(plugin->words, (QVector<int>{1, 2, 3}));

        // Back within the reconnection delay, with the full connect sequence, and data flow again.
        ASSERT_TRUE(server.waitForClient(round + 1));
        ASSERT_TRUE(QTest::qWaitFor([&]() { return manager->connection()->state() == IQTcp::Connected; }, 5000));
        ASSERT_TRUE(QTest::qWaitFor(
            [&]() { return splitTelegrams(server.received.mid(sentBefore)).size() >= 2 + 5 * 6; }, 5000));
        server.send(tel(2, 0xF00, 0, {8, 9}));
        ASSERT_TRUE(QTest::qWaitFor([&]() { return plugin->words.size() >= 5; }, 5000));
        EXPECT_EQ(plugin->words, (QVector<int>{1, 2, 3, 8, 9}));
    }
}

TEST_F(ManagerTest, StopSendsStopDetachesPagesAndCloses)
{
    connectToServer();
    Channel* c0 = manager->getChannels()[0];
    ASSERT_TRUE(c0->getPages().contains(page.get()));
    manager->stop();
    EXPECT_TRUE(c0->getPages().isEmpty());
    EXPECT_TRUE(manager->getPages().isEmpty());
    EXPECT_EQ(manager->connection()->state(), IQTcp::Closed);
    const auto sent = server.telegrams(33);
    ASSERT_EQ(sent.size(), 33);
    EXPECT_EQ(sent.last(), (QVector<qint32>{20, 6, 0x1201, 0, 0, -1}));
}

TEST_F(ManagerTest, PagesComeAndGo)
{
    Channel* c0 = manager->getChannels()[0];
    manager->removePage(page.get());
    EXPECT_FALSE(c0->getPages().contains(page.get()));
    EXPECT_FALSE(manager->getPages().contains(page.get()));

    // A page that already shows channel 3 joins it when added; deleting it removes it everywhere.
    auto late = std::make_unique<ViewPage>(nullptr, QStringLiteral("ManagerTestLate"), groups, false);
    late->setChannelList(manager->getChannels());
    late->setSelectMode(ViewPage::selectAll);
    late->setChannelNo(3);
    manager->addPage(late.get());
    Channel* c3 = manager->getChannels()[3];
    EXPECT_TRUE(c3->getPages().contains(late.get()));
    EXPECT_EQ(c3->getPages().count(late.get()), 1);
    late.reset();
    EXPECT_TRUE(c3->getPages().isEmpty());
    EXPECT_TRUE(manager->getPages().isEmpty());
}

// Found by fuzz_receive (fuzz/corpus/receive/crash-framebuffer-size-check-overflow.bin): a forward/backward frame
// of 1.1e9 x 1.1e9 pixels overflowed the frame buffer's size check, and the allocation then threw
// std::length_error out of receive.
TEST(ViewManager, ReceiveSurvivesAFrameGeometryBeyondAnyMemory)
{
    const QMap<int, DataGroup> groups = makeGroups();
    ViewManager manager(nullptr, false);
    manager.setChannelCount(1, 0, groups); // the channel has no group yet: its frame buffer is idle
    // Lines per frame first (nothing to allocate yet), then the line length that makes the frame huge.
    QByteArray buf = tel(2, StreamFormat::metaCode(StreamFormat::Order), 0, {4}) +
                     tel(2, StreamFormat::metaCode(StreamFormat::RangeY), 0, {1100000000}) +
                     tel(2, StreamFormat::metaCode(StreamFormat::RangeX), 0, {1100000000}) + tel(3, 59, 0, {0, 0}) +
                     tel(2, 0xF00, 0, {1, 2, 3});
    manager.receive(buf.data(), buf.size());
    EXPECT_EQ(manager.getChannels()[0]->getDataGroup(), 0);
}
