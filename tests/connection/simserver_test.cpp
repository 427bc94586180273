// A manager with pages against the simulator over real sockets: configuration, data and metadata, replay to a page
// added late, steering by selections, stop, and a server that drops and comes back.
#include "connection/channel.h"
#include "connection/datagroup.h"
#include "connection/viewmanager.h"
#include "connection/viewpage.h"
#include "connectiontest.h"
#include "simserver.h"
#include "support/recordingplugin.h"
#include "utilif/iqtcp.h"

#include <QSignalSpy>
#include <gtest/gtest.h>
#include <memory>

namespace {

class LiveTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int g = 0; g < 3; ++g) {
            DataGroup d;
            d.groupNumber = g;
            d.name = QStringLiteral("G%1").arg(g);
            groups.insert(g, d);
        }
        ASSERT_TRUE(sim.listen(0));
        manager = std::make_unique<ViewManager>(nullptr, false);
        manager->setChannelCount(sim.channelCount(), 0, groups);
    }
    RecordingPlugin* addPage(int channel)
    {
        auto page = std::make_unique<ViewPage>(
            nullptr, QStringLiteral("LivePage%1_%2").arg(pages.size()).arg(channel), groups, false);
        page->setSelectMode(ViewPage::selectAll);
        auto* plugin = new RecordingPlugin;
        page->addReceiver(plugin);
        manager->addPage(page.get());
        page->setChannelNo(channel);
        pages.push_back(std::move(page));
        return plugin;
    }
    void connectToSim()
    {
        manager->connectToServer(QStringLiteral("127.0.0.1"), sim.serverPort());
    }

    SimServer sim;
    QMap<int, DataGroup> groups;
    std::unique_ptr<ViewManager> manager;
    std::vector<std::unique_ptr<ViewPage>> pages;
};

} // namespace

TEST_F(LiveTest, StreamsConfigurationMetadataAndDataToThePages)
{
    RecordingPlugin* scan = addPage(0);
    RecordingPlugin* sine = addPage(1);
    QSignalSpy receiving(manager.get(), &ViewManager::receiving);
    connectToSim();

    ASSERT_TRUE(QTest::qWaitFor([&]() { return scan->words.size() > 1000 && sine->words.size() > 100; }, 10000));
    // Configuration replies reached the channels.
    for (int n = 0; n < sim.channelCount(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(manager->getChannels()[n]->getDataGroup(), sim.channelGroup(n));
        EXPECT_EQ(manager->getChannels()[n]->getSignalNumber(), int(sim.streamOf(n)));
    }
    // Metadata of the scan: forward/backward order, ranges, physical size.
    const SimServer::ScanState state = sim.scanState();
    EXPECT_EQ(scan->lastValue(QStringLiteral("setDataOrder")), int(GPlugin::forBack));
    EXPECT_EQ(scan->lastValue(QStringLiteral("setDataRangeX")), state.pixels);
    EXPECT_EQ(scan->lastValue(QStringLiteral("setDataPhysX")), state.width);
    EXPECT_EQ(sine->lastValue(QStringLiteral("setDataOrder")), int(GPlugin::linear));
    // The stream positions of the scan continue from block to block.
    for (int i = 1; i < scan->indices.size(); ++i)
        ASSERT_LE(scan->indices[i - 1], scan->indices[i]);
    // The status timer saw activity.
    ASSERT_TRUE(QTest::qWaitFor([&]() { return !receiving.isEmpty(); }, 2000));
    EXPECT_TRUE(receiving[0].at(0).toBool());
}

TEST_F(LiveTest, PageAddedLateGetsTheStoredStateFirst)
{
    RecordingPlugin* early = addPage(2);
    connectToSim();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return early->words.size() >= 256; }, 10000));

    RecordingPlugin* late = addPage(2);
    // The join replays at once: init, the metadata in ascending code order, then the stored frame.
    ASSERT_GE(late->calls.size(), 3);
    EXPECT_EQ(late->calls[0], QStringLiteral("init"));
    auto firstOf = [late](const char* prefix) {
        for (int i = 0; i < late->calls.size(); ++i) {
            if (late->calls[i].startsWith(QLatin1String(prefix)))
                return i;
        }
        return -1;
    };
    const int orderAt = firstOf("setDataOrder ");
    const int rangeAt = firstOf("setDataRangeX ");
    const int dataAt = firstOf("setData ");
    EXPECT_GE(orderAt, 0);
    EXPECT_LT(orderAt, rangeAt); // 0x2001 before 0x2002
    EXPECT_LT(rangeAt, dataAt);
    EXPECT_EQ(late->lastValue(QStringLiteral("setDataRangeX")), 256);
    EXPECT_GT(late->words.size(), 0);
    // Then it gets the live stream like the early page.
    const int before = late->words.size();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return late->words.size() > before + 256; }, 10000));
}

TEST_F(LiveTest, SelectionsSteerTheServer)
{
    RecordingPlugin* scan = addPage(0);
    RecordingPlugin* sine = addPage(1);
    connectToSim();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return scan->words.size() > 100; }, 10000));

    QSignalSpy changed(&sim, &SimServer::scanChanged);
    emit scan->rangeSelected(QRect(QPoint(-20000, -10000), QPoint(19999, 9999)), GPlugin::scanner);
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_EQ(sim.scanState().width, 40000);
    EXPECT_EQ(sim.scanState().height, 20000);
    // The new scan size comes back as metadata.
    ASSERT_TRUE(QTest::qWaitFor([&]() { return scan->lastValue(QStringLiteral("setDataPhysX")) == 40000; }, 5000));

    emit scan->angleSelected(8192);
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_EQ(sim.scanState().rotation, 8192);

    // A point selection moves the sine's set value: its level follows.
    emit sine->pointSelected(1000000, SimServer::SineLevelAddress, 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&]() { return sim.setValues().value(qMakePair(int(SimServer::SineLevelAddress), 0)) == 1000000; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&]() { return !sine->words.isEmpty() && sine->words.last() > 900000; }, 5000));
}

TEST_F(LiveTest, StopEndsTheStream)
{
    RecordingPlugin* sine = addPage(1);
    connectToSim();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return sine->words.size() > 10; }, 10000));
    manager->stop();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return sim.clientCount() == 0; }, 5000));
    bool stopSeen = false;
    for (const SimServer::Received& r : sim.log())
        stopSeen = stopSeen || (r.kind == 6 && r.address == 0x1201 && r.value == -1);
    EXPECT_TRUE(stopSeen);
    EXPECT_TRUE(manager->getChannels()[1]->getPages().isEmpty());
}

TEST_F(LiveTest, ReconnectsAfterTheServerDropsAndComesBack)
{
    RecordingPlugin* sine = addPage(1);
    QSignalSpy status(manager.get(), &ViewManager::statusChanged);
    connectToSim();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return sine->words.size() > 10; }, 10000));

    // The connection breaks: the client reconnects, runs the connect sequence again, and data flows again.
    sim.clearLog();
    sim.dropClients();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return sim.clientCount() == 1; }, 10000));
    sine->clear();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return sine->words.size() > 10; }, 10000));
    int starts = 0;
    for (const SimServer::Received& r : sim.log())
        starts += r.kind == 6 && r.address == 0x1200;
    EXPECT_EQ(starts, 1);

    // The server goes away altogether and comes back on the same port.
    const quint16 port = sim.serverPort();
    sim.close();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return manager->connection()->state() != IQTcp::Connected; }, 5000));
    ASSERT_TRUE(sim.listen(port));
    ASSERT_TRUE(QTest::qWaitFor([&]() { return manager->connection()->state() == IQTcp::Connected; }, 10000));
    sine->clear();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return sine->words.size() > 10; }, 10000));

    // The host heard about the losses (severity 2) and the reconnections (severity 0).
    int lost = 0, up = 0;
    for (const QList<QVariant>& s : status) {
        lost += s.at(2).toInt() == 2;
        up += s.at(2).toInt() == 0;
    }
    EXPECT_GE(lost, 2);
    EXPECT_GE(up, 3);
}

// A client whose telegrams cannot be framed is dropped for good: the connection closes and the stream stops.
TEST(SimServer, DropsAClientThatBreaksTheProtocol)
{
    SimServer sim;
    ASSERT_TRUE(sim.listen(0));
    QTcpSocket client;
    QByteArray got;
    QObject::connect(&client, &QTcpSocket::readyRead, [&]() { got += client.readAll(); });
    client.connectToHost(QHostAddress::LocalHost, sim.serverPort());
    ASSERT_TRUE(client.waitForConnected(5000));
    client.write(tel(6, 0x1202, 0, {1}) + tel(6, 0x1200, 0, {-1}));
    ASSERT_TRUE(QTest::qWaitFor([&]() { return got.size() > 1000; }, 5000));
    ASSERT_EQ(sim.clientCount(), 1);

    QSignalSpy gone(&sim, &SimServer::clientDisconnected);
    client.write(QByteArray::fromHex("ffffffff06000000"));
    ASSERT_TRUE(QTest::qWaitFor([&]() { return client.state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(sim.clientCount(), 0);
    EXPECT_EQ(gone.size(), 1);
}
