#include "utilif/iqtcp.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <cstring>

Q_LOGGING_CATEGORY(lcTcp, "orvik.util.tcp")

namespace {
// First allocation of the receive buffer; it grows up to the bound only for a telegram that needs it.
constexpr int initialCapacity = 1 << 20;
// Qt's own socket buffer: bounded so that a receiver that falls behind throttles the sender through TCP.
constexpr qint64 socketBufferSize = 1 << 20;
// How long disconnect() waits for queued telegrams (the stop telegram) to leave.
constexpr int flushTimeoutMs = 1000;
} // namespace

TelegramAssembler::TelegramAssembler(int bound) : limit(std::max(bound, 64))
{
}

char* TelegramAssembler::space(int* room)
{
    if (!buffer) {
        allocated = std::min(limit, initialCapacity);
        buffer.reset(new char[allocated]);
    }
    *room = allocated - filled;
    return buffer.get() + filled;
}

void TelegramAssembler::reset()
{
    filled = 0;
    broken = false;
    brokenLength = 0;
}

bool TelegramAssembler::commit(int count, const Deliver& deliver)
{
    if (broken) {
        filled = 0; // nothing after a bad length word can be framed
        return false;
    }
    filled += count;
    int pos = 0; // start of the telegram being looked at; everything before it is whole
    while (filled - pos >= 4) {
        const quint32 length = qFromLittleEndian<quint32>(buffer.get() + pos);
        if (length < minLength || length > maxLength()) {
            // The stream is out of step: hand over what came before, then refuse the rest.
            const bool go = pos == 0 || deliver(buffer.get(), pos);
            filled = 0;
            if (go) {
                broken = true;
                brokenLength = length;
            }
            return false;
        }
        const int total = int(length) + 4;
        if (total > filled - pos) {
            if (total > allocated) {
                // A legal telegram larger than the allocation: grow towards the bound, keeping what is pending.
                if (pos > 0 && !deliver(buffer.get(), pos)) {
                    reset();
                    return false;
                }
                int grown = allocated;
                while (grown < total)
                    grown = int(std::min<qint64>(qint64(grown) * 2, limit));
                std::unique_ptr<char[]> bigger(new char[grown]);
                std::memcpy(bigger.get(), buffer.get() + pos, size_t(filled - pos));
                filled -= pos;
                pos = 0;
                buffer = std::move(bigger);
                allocated = grown;
            }
            break;
        }
        pos += total;
    }
    if (pos > 0 && !deliver(buffer.get(), pos)) {
        reset();
        return false;
    }
    // Keep the incomplete telegram (if any) at the start of the buffer.
    if (pos > 0) {
        std::memmove(buffer.get(), buffer.get() + pos, size_t(filled - pos));
        filled -= pos;
    }
    return true;
}

bool TelegramAssembler::feed(const char* data, int length, const Deliver& deliver)
{
    while (length > 0) {
        int room = 0;
        char* to = space(&room);
        const int n = std::min(room, length);
        std::memcpy(to, data, size_t(n));
        data += n;
        length -= n;
        if (!commit(n, deliver))
            return false;
    }
    return true;
}

IQTcp::IQTcp(int bufferSize, QObject* owner, const char* name)
    : QObject(owner), socket(new QTcpSocket(this)), retryTimer(new QTimer(this)),
      assembler(bufferSize)
{
    setObjectName(QString::fromLatin1(name));
    socket->setReadBufferSize(socketBufferSize);
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, &IQTcp::retry);
    connect(socket, &QTcpSocket::readyRead, this, &IQTcp::readData);
    connect(socket, &QTcpSocket::connected, this, &IQTcp::onConnected);
    connect(socket, &QTcpSocket::disconnected, this, &IQTcp::onDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &IQTcp::onError);
}

IQTcp::~IQTcp()
{
    wanted = false;
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->abort();
}

void IQTcp::connectToHost(const QString& host, quint16 port)
{
    wanted = false; // an open connection being replaced must not schedule a retry
    retryTimer->stop();
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
    hostName = host;
    portNumber = port;
    wanted = true;
    retryDelay = minRetryDelay;
    socket->connectToHost(host, port);
}

bool IQTcp::writeBlock(const char* bytes, int length)
{
    if (socket->state() != QAbstractSocket::ConnectedState || length < 0)
        return false;
    return socket->write(bytes, length) == length;
}

void IQTcp::disconnect()
{
    wanted = false;
    retryTimer->stop();
    if (socket->state() == QAbstractSocket::ConnectedState) {
        // Let queued telegrams (the stop telegram above all) reach the server, but never hang on a stuck peer.
        const qint64 deadline = flushTimeoutMs;
        qint64 waited = 0;
        while (socket->bytesToWrite() > 0 && waited < deadline) {
            if (!socket->waitForBytesWritten(50))
                waited += 50;
        }
        socket->disconnectFromHost();
    }
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
}

bool IQTcp::getAndClearOverload()
{
    const bool was = overload;
    overload = false;
    return was;
}

int IQTcp::state() const
{
    return int(socket->state());
}

void IQTcp::onConnected()
{
    // After a protocol error the delay is kept until the server sends something sound, so that a server that
    // sends garbage at once is not reconnected to ten times a second.
    if (!badStream)
        retryDelay = minRetryDelay;
    assembler.reset();
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    up = true;
    emit connected(true);
}

void IQTcp::onDisconnected()
{
    lost();
}

void IQTcp::onError(QAbstractSocket::SocketError code)
{
    qCDebug(lcTcp) << objectName() << "socket error" << code << socket->errorString();
    emit error();
    // A failed attempt ends without disconnected(); a lost connection gets there through onDisconnected.
    if (socket->state() == QAbstractSocket::UnconnectedState)
        lost();
}

void IQTcp::lost()
{
    assembler.reset();
    if (up) {
        up = false;
        emit connected(false);
    }
    if (wanted && !retryTimer->isActive()) {
        retryTimer->start(retryDelay);
        retryDelay = std::min(retryDelay * 2, int(maxRetryDelay));
    }
}

void IQTcp::retry()
{
    if (wanted && socket->state() == QAbstractSocket::UnconnectedState)
        socket->connectToHost(hostName, portNumber);
}

void IQTcp::protocolFault()
{
    const quint32 length = assembler.badLength();
    const QString what = QStringLiteral("telegram length %1 (0x%2) is outside %3 to %4 bytes")
                             .arg(length)
                             .arg(length, 8, 16, QLatin1Char('0'))
                             .arg(TelegramAssembler::minLength)
                             .arg(assembler.maxLength());
    qCWarning(lcTcp) << objectName() << "protocol error:" << what << "- closing the connection";
    badStream = true;
    socket->abort(); // emits disconnected(), which schedules the reconnection
    if (up || !retryTimer->isActive())
        lost();
    emit protocolError(what);
}

void IQTcp::readData()
{
    // A receiver may run a nested event loop (a message box); the outer call picks up what arrives meanwhile.
    if (reading)
        return;
    reading = true;
    // A full read buffer means the server had more to send than this side took: it is being throttled.
    if (socket->bytesAvailable() >= socketBufferSize)
        overload = true;
    QPointer<IQTcp> alive(this);
    const TelegramAssembler::Deliver deliver = [this, &alive](char* data, int length) {
        if (badStream) { // sound telegrams again: the next loss reconnects quickly
            badStream = false;
            retryDelay = minRetryDelay;
        }
        emit dataReceived(data, length);
        return alive && up; // the receiver may have closed the connection or deleted us
    };
    while (socket->bytesAvailable() > 0) {
        int room = 0;
        char* to = assembler.space(&room);
        const qint64 got = socket->read(to, room);
        if (got <= 0)
            break;
        if (!assembler.commit(int(got), deliver)) {
            if (!alive)
                return;
            if (assembler.failed()) {
                reading = false;
                protocolFault();
                return;
            }
            break;
        }
    }
    reading = false;
}
