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

// Every length word at and around the edges of what a telegram can be: the ones outside break the stream after the
// telegrams before them, and nothing more is framed until the next connection.
TEST(TelegramAssembler, LengthWordOutsideTheTelegramSizesBreaksTheStream)
{
    const int bound = 256;
    struct Case
    {
        const char* name;
        quint32 length;
        bool accepted;
    };
    const Case cases[] = {
        {"zero", 0, false},
        {"one below the header", 15, false},
        {"header only", 16, true},
        {"fills the bound", bound - 4, true},
        {"one past the bound", bound - 3, false},
        {"2^31 - 1", 0x7FFFFFFFu, false},
        {"-1", 0xFFFFFFFFu, false},
    };
    const QByteArray good = tel(2, StreamFormat::metaCode(StreamFormat::Order), 0, {4});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TelegramAssembler assembler(bound);
        ASSERT_EQ(assembler.maxLength(), quint32(bound - 4));
        QByteArray got;
        const TelegramAssembler::Deliver deliver = [&got](char* buf, int len) {
            got.append(buf, len);
            return true;
        };
        QByteArray odd(4 + int(std::min<quint32>(c.length, bound)), '\x5a');
        Telegram::putWord(odd.data(), 0, qint32(c.length));
        // Two reads, the first ending inside the first telegram.
        const QByteArray stream = good + odd + good;
        const bool first = assembler.feed(stream.constData(), 7, deliver);
        const bool rest = assembler.feed(stream.constData() + 7, stream.size() - 7, deliver);
        EXPECT_TRUE(first);
        EXPECT_EQ(rest, c.accepted);
        EXPECT_EQ(assembler.failed(), !c.accepted);
        if (c.accepted) {
            EXPECT_EQ(got, stream);
            continue;
        }
        EXPECT_EQ(assembler.badLength(), c.length);
        EXPECT_EQ(got, good);
        // Broken: later bytes are refused, until a new connection resets the framing.
        EXPECT_FALSE(assembler.feed(good.constData(), good.size(), deliver));
        EXPECT_EQ(got, good);
        assembler.reset();
        EXPECT_FALSE(assembler.failed());
        EXPECT_TRUE(assembler.feed(good.constData(), good.size(), deliver));
        EXPECT_EQ(got, good + good);
    }
}

TEST(IQTcp, BadLengthWordClosesTheConnectionAndReconnects)
{
    RawServer server;
    IQTcp tcp(256, nullptr, "DataClient");
    Collector got;
    got.attach(tcp);
    QSignalSpy errors(&tcp, &IQTcp::protocolError);
    QSignalSpy up(&tcp, &IQTcp::connected);
    tcp.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    ASSERT_TRUE(server.waitForClient());
    ASSERT_TRUE(QTest::qWaitFor([&]() { return tcp.state() == IQTcp::Connected; }, 5000));

    // A telegram larger than the buffer: before, it was skipped with everything it announced; now the stream is
    // known to be out of step.
    QByteArray huge = tel(2, 0xF00, 0, {});
    Telegram::putWord(huge.data(), 0, Telegram::HeaderBytes + 1000);
    huge.append(QByteArray(1000, '\x55'));
    const QByteArray good = tel(2, StreamFormat::metaCode(StreamFormat::Order), 0, {4});
    server.send(good + huge + good);
    ASSERT_TRUE(errors.wait(5000));
    EXPECT_TRUE(errors.at(0).at(0).toString().contains(QLatin1String("1016")));
    EXPECT_EQ(got.bytes, good);
    ASSERT_GE(up.size(), 2);
    EXPECT_FALSE(up.at(1).at(0).toBool()); // the host heard the connection go before the error

    // The client comes back by itself; the new stream is framed afresh.
    ASSERT_TRUE(server.waitForClient(2));
    ASSERT_TRUE(QTest::qWaitFor([&]() { return tcp.state() == IQTcp::Connected; }, 5000));
    server.send(good);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return got.bytes.size() == 2 * good.size(); }, 5000));
    EXPECT_EQ(got.bytes, good + good);
    EXPECT_TRUE(got.chunksWhole);
    EXPECT_EQ(tcp.reconnectDelay(), IQTcp::minRetryDelay);

    // A server that breaks the stream at once, every time, is retried with growing delays.
    server.send(QByteArray::fromHex("ffffffff00000000"));
    ASSERT_TRUE(QTest::qWaitFor([&]() { return server.accepted == 3; }, 5000));
    server.send(QByteArray::fromHex("ffffffff00000000"));
    ASSERT_TRUE(QTest::qWaitFor([&]() { return errors.size() == 3; }, 5000));
    EXPECT_GT(tcp.reconnectDelay(), 2 * IQTcp::minRetryDelay);
    tcp.disconnect();
}

TEST(IQTcp, ReportsOverloadWhenItFallsBehindTheServer)
{
    RawServer server;
    IQTcp tcp(1 << 20, nullptr, "DataClient");
    qint64 received = 0;
    QObject::connect(&tcp, &IQTcp::dataReceived, [&](char*, int len) { received += len; });
    tcp.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    ASSERT_TRUE(server.waitForClient());
    ASSERT_TRUE(QTest::qWaitFor([&]() { return tcp.state() == IQTcp::Connected; }, 5000));
    EXPECT_FALSE(tcp.getAndClearOverload());

    // Far more than the client's read buffer arrives while it is busy elsewhere: nothing is lost, but the
    // server was held back, and the client says so once.
    QByteArray block = tel(2, 0xF00, 0, {});
    Telegram::putWord(block.data(), 0, Telegram::HeaderBytes + 4 * 1019);
    block.append(QByteArray(4 * 1019, '\x01'));
    QByteArray burst;
    while (burst.size() < (8 << 20))
        burst += block;
    server.send(burst);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return received == burst.size(); }, 10000));
    EXPECT_TRUE(tcp.getAndClearOverload());
    EXPECT_FALSE(tcp.getAndClearOverload());
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
