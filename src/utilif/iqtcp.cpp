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
// Below this many bytes after the length word a telegram has no room for its header words.
constexpr quint32 minTelegramLength = 16;
// First allocation of the receive buffer; it grows up to the bound only for a telegram that needs it.
constexpr int initialCapacity = 1 << 20;
// Qt's own socket buffer: bounded so that a receiver that falls behind throttles the sender through TCP.
constexpr qint64 socketBufferSize = 4 << 20;
// How long disconnect() waits for queued telegrams (the stop telegram) to leave.
constexpr int flushTimeoutMs = 1000;
} // namespace

IQTcp::IQTcp(int bufferSize, QObject* owner, const char* name)
    : QObject(owner), socket(new QTcpSocket(this)), retryTimer(new QTimer(this)),
      bound(std::max(bufferSize, 64))
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
    retryDelay = minRetryDelay;
    filled = 0;
    skipBytes = 0;
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
    filled = 0;
    skipBytes = 0;
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

void IQTcp::dropBytes(qint64 count)
{
    skipBytes += count;
    overload = true;
}

void IQTcp::readData()
{
    // A receiver may run a nested event loop (a message box); the outer call picks up what arrives meanwhile.
    if (reading)
        return;
    reading = true;
    QPointer<IQTcp> alive(this);
    while (socket->bytesAvailable() > 0) {
        if (skipBytes > 0) {
            const qint64 skipped = socket->skip(skipBytes);
            if (skipped <= 0)
                break;
            skipBytes -= skipped;
            continue;
        }
        if (!buffer) {
            capacity = std::min(bound, initialCapacity);
            buffer.reset(new char[capacity]);
        }
        const qint64 got = socket->read(buffer.get() + filled, capacity - filled);
        if (got <= 0)
            break;
        filled += int(got);

        // Cut whole telegrams; deliver runs of them, dropping those that are malformed or too large.
        int start = 0;
        int pos = 0;
        auto deliver = [&](int end) {
            if (end > start)
                emit dataReceived(buffer.get() + start, end - start);
        };
        while (filled - pos >= 4) {
            const quint32 length = qFromLittleEndian<quint32>(buffer.get() + pos);
            const quint64 total = quint64(length) + 4;
            const int have = filled - pos;
            if (total > quint64(bound) || length < minTelegramLength) {
                // Too large to hold (drop it, report overload) or too short to carry a header (drop it).
                deliver(pos);
                if (!alive)
                    return;
                if (length < minTelegramLength)
                    qCDebug(lcTcp) << objectName() << "dropped a telegram of length" << length;
                else
                    qCWarning(lcTcp) << objectName() << "dropped a telegram of" << total << "bytes";
                const quint64 inBuffer = std::min<quint64>(total, quint64(have));
                if (length >= minTelegramLength)
                    overload = true;
                skipBytes += qint64(total - inBuffer);
                pos += int(inBuffer);
                start = pos;
                continue;
            }
            if (total > quint64(have)) {
                if (total > quint64(capacity)) {
                    // A legal telegram larger than the current allocation: grow towards the bound.
                    int newCapacity = capacity;
                    while (newCapacity < int(total))
                        newCapacity = int(std::min<qint64>(qint64(newCapacity) * 2, bound));
                    std::unique_ptr<char[]> bigger(new char[newCapacity]);
                    std::memcpy(bigger.get(), buffer.get() + start, size_t(filled - start));
                    filled -= start;
                    pos -= start;
                    start = 0;
                    buffer = std::move(bigger);
                    capacity = newCapacity;
                }
                break;
            }
            pos += int(total);
        }
        deliver(pos);
        if (!alive)
            return;
        if (!up) {
            // The receiver closed the connection meanwhile.
            filled = 0;
            break;
        }
        // Keep the incomplete telegram (if any) at the start of the buffer.
        if (pos > 0) {
            std::memmove(buffer.get(), buffer.get() + pos, size_t(filled - pos));
            filled -= pos;
        }
    }
    reading = false;
}
