#pragma once
// Helpers for the connection tests: telegram building and a raw server on 127.0.0.1 that records what it receives.

#include "connection/telegram.h"

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QVector>
#include <initializer_list>
#include <ostream>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

/// A telegram of the given header words and values (length word computed).
inline QByteArray tel(qint32 kind, qint32 address, qint32 index, std::initializer_list<qint32> values = {})
{
    QByteArray t(Telegram::ValueOffset + 4 * int(values.size()), '\0');
    Telegram::putWord(t.data(), 0, Telegram::HeaderBytes + 4 * int(values.size()));
    Telegram::putWord(t.data(), 1, kind);
    Telegram::putWord(t.data(), 2, address);
    Telegram::putWord(t.data(), 3, index);
    int i = 5;
    for (qint32 v : values)
        Telegram::putWord(t.data(), i++, v);
    return t;
}

/// Splits a byte stream into telegrams, each as its words (the length word first).
inline QVector<QVector<qint32>> splitTelegrams(const QByteArray& bytes, int* rest = nullptr)
{
    QVector<QVector<qint32>> out;
    int pos = 0;
    while (bytes.size() - pos >= 4) {
        const quint32 len = qFromLittleEndian<quint32>(bytes.constData() + pos);
        if (quint64(len) + 4 > quint64(bytes.size() - pos))
            break;
        QVector<qint32> words;
        for (quint32 k = 0; k * 4 < len + 4; ++k)
            words.append(Telegram::word(bytes.constData() + pos, int(k)));
        out.append(words);
        pos += int(len) + 4;
    }
    if (rest)
        *rest = bytes.size() - pos;
    return out;
}

/// A listening socket that accepts clients and records the bytes of the latest one.
class RawServer : public QObject
{
public:
    RawServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                client = s;
                ++accepted;
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s]() { received += s->readAll(); });
            }
        });
    }
    quint16 port() const { return server.serverPort(); }
    bool waitForClient(int count = 1) { return QTest::qWaitFor([&]() { return accepted >= count; }, 5000); }
    void send(const QByteArray& bytes)
    {
        client->write(bytes);
        client->flush();
    }
    /// Waits until `count` telegrams have arrived, then returns all received so far.
    QVector<QVector<qint32>> telegrams(int count)
    {
        (void)QTest::qWaitFor([&]() { return splitTelegrams(received).size() >= count; }, 5000);
        return splitTelegrams(received);
    }

    QTcpServer server;
    QTcpSocket* client = nullptr;
    QByteArray received;
    int accepted = 0;
};
