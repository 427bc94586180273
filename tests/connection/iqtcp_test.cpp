// The TCP client of the data connection: framing into whole telegrams, the bounded buffer, order of writes, state
// values and reconnection.
#include "connectiontest.h"
#include "framework/streamformat.h"
#include "utilif/iqtcp.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

struct Collector
{
    QByteArray bytes;
    QVector<int> chunkSizes;
    bool chunksWhole = true;

    void attach(IQTcp& tcp)
    {
        QObject::connect(&tcp, &IQTcp::dataReceived, [this](char* buf, int len) {
            int rest = 0;
            splitTelegrams(QByteArray(buf, len), &rest);
            chunksWhole = chunksWhole && rest == 0;
            bytes.append(buf, len);
            chunkSizes.append(len);
        });
    }
};

} // namespace

TEST(IQTcp, DeliversWholeTelegramsOnly)
{
    RawServer server;
    IQTcp tcp(1 << 20, nullptr, "DataClient");
    Collector got;
    got.attach(tcp);
    EXPECT_EQ(tcp.state(), IQTcp::Closed);
    tcp.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    ASSERT_TRUE(server.waitForClient());
    ASSERT_TRUE(QTest::qWaitFor([&]() { return tcp.state() == IQTcp::Connected; }, 5000));

    QByteArray stream;
    stream += tel(2, 0xF00, 0, {1, 2, 3});
    stream += tel(2, StreamFormat::metaCode(StreamFormat::RangeX), 0, {128});
    QByteArray big;
    QVector<qint32> many(5000);
    for (int i = 0; i < many.size(); ++i)
        many[i] = i;
    big = tel(2, 0xF01, 7, {});
    big.append(reinterpret_cast<const char*>(many.constData()), many.size() * 4);
    Telegram::putWord(big.data(), 0, Telegram::HeaderBytes + 4 * many.size());
    stream += big;
    stream += tel(3, 49, 1, {0, 5});

    // The first telegram byte by byte, then the rest cut in the middle of a length word and of a data block.
    int pos = 0;
    for (; pos < 10; ++pos) {
        server.send(stream.mid(pos, 1));
        QTest::qWait(0);
    }
    server.send(stream.mid(pos, 40));
    pos += 40;
    EXPECT_TRUE(QTest::qWaitFor([&]() { return got.bytes.size() >= 20; }, 2000));
    server.send(stream.mid(pos, 3001));
    pos += 3001;
    server.send(stream.mid(pos));

    ASSERT_TRUE(QTest::qWaitFor([&]() { return got.bytes.size() == stream.size(); }, 5000));
    EXPECT_EQ(got.bytes, stream);
    EXPECT_TRUE(got.chunksWhole);
    EXPECT_FALSE(tcp.getAndClearOverload());
}

TEST(IQTcp, DropsWhatExceedsTheBoundAndReportsOverload)
{
    RawServer server;
    IQTcp tcp(256, nullptr, "DataClient");
    Collector got;
    got.attach(tcp);
    tcp.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    ASSERT_TRUE(server.waitForClient());
    ASSERT_TRUE(QTest::qWaitFor([&]() { return tcp.state() == IQTcp::Connected; }, 5000));

    QByteArray huge = tel(2, 0xF00, 0, {});
    huge.append(QByteArray(1000, '\x55'));
    Telegram::putWord(huge.data(), 0, Telegram::HeaderBytes + 1000);
    QByteArray gigabytes = tel(2, 0xF00, 0, {});
    Telegram::putWord(gigabytes.data(), 0, qint32(0xC0000000)); // announced 3 GiB; the stream ends long before
    const QByteArray tooShort = QByteArray::fromHex("0800000001000000aabbccdd");
    const QByteArray good = tel(2, StreamFormat::metaCode(StreamFormat::Order), 0, {4});

    server.send(good + huge + tooShort + good);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return got.bytes.size() >= 2 * good.size(); }, 5000));
    EXPECT_EQ(got.bytes, good + good);
    EXPECT_TRUE(got.chunksWhole);
    EXPECT_TRUE(tcp.getAndClearOverload());
    EXPECT_FALSE(tcp.getAndClearOverload());
    EXPECT_EQ(tcp.state(), IQTcp::Connected);

    // An announced length beyond any buffer swallows what follows without growing anything.
    server.send(gigabytes + good);
    EXPECT_TRUE(QTest::qWaitFor([&]() { return tcp.getAndClearOverload(); }, 2000));
    EXPECT_EQ(got.bytes, good + good);
}

TEST(IQTcp, WritesInOrderAndReportsItsState)
{
    RawServer server;
    IQTcp tcp(4096, nullptr, "DataClient");
    QSignalSpy up(&tcp, &IQTcp::connected);
    EXPECT_FALSE(tcp.writeBlock("abcd", 4)); // not connected
    tcp.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    ASSERT_TRUE(up.wait(5000));
    EXPECT_TRUE(up.takeFirst().at(0).toBool());
    EXPECT_EQ(tcp.state(), IQTcp::Connected);

    QByteArray expected;
    for (int i = 0; i < 200; ++i) {
        const QByteArray t = tel(0, 0x1300, i, {i * 3});
        expected += t;
        ASSERT_TRUE(tcp.writeBlock(t.constData(), t.size()));
    }
    ASSERT_TRUE(QTest::qWaitFor([&]() { return server.received.size() >= expected.size(); }, 5000));
    EXPECT_EQ(server.received, expected);

    tcp.disconnect();
    EXPECT_EQ(tcp.state(), IQTcp::Closed);
    ASSERT_GE(up.size(), 1);
    EXPECT_FALSE(up.last().at(0).toBool());
    EXPECT_FALSE(tcp.writeBlock("abcd", 4));
}

TEST(IQTcp, ReconnectsWithGrowingCappedDelay)
{
    auto server = std::make_unique<RawServer>();
    const quint16 port = server->port();
    IQTcp tcp(4096, nullptr, "DataClient");
    QSignalSpy up(&tcp, &IQTcp::connected);
    QSignalSpy errors(&tcp, &IQTcp::error);
    tcp.connectToHost(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(up.wait(5000));

    // The server goes away: the client notices and keeps trying, each time waiting longer, up to the cap.
    server.reset();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return !up.isEmpty() && !up.last().at(0).toBool(); }, 5000));
    const int before = errors.size();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return errors.size() >= before + 3; }, 10000));
    EXPECT_GT(tcp.reconnectDelay(), IQTcp::minRetryDelay);
    EXPECT_LE(tcp.reconnectDelay(), IQTcp::maxRetryDelay);

    // It comes back on the same port: the client connects again by itself.
    RawServer again;
    again.server.close();
    ASSERT_TRUE(again.server.listen(QHostAddress::LocalHost, port));
    ASSERT_TRUE(QTest::qWaitFor([&]() { return tcp.state() == IQTcp::Connected; }, 10000));
    EXPECT_TRUE(up.last().at(0).toBool());
    EXPECT_EQ(tcp.reconnectDelay(), IQTcp::minRetryDelay);

    // After disconnect() nothing reconnects.
    tcp.disconnect();
    again.server.close();
    QTest::qWait(2 * IQTcp::minRetryDelay);
    EXPECT_EQ(tcp.state(), IQTcp::Closed);
}
