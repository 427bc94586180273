#pragma once
// IQTcp: the TCP client of the data connection.
//
// It frames the byte stream into telegrams (a little-endian length word counting the bytes that follow it) and
// hands whole telegrams only to dataReceived, several at once where they arrived together. The receive buffer is
// bounded: a telegram that cannot fit is dropped and reported as overload instead of growing the buffer. When the
// server goes away the client reconnects by itself, with a delay that grows up to a cap.

#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QTcpSocket;
class QTimer;

/// Cuts a byte stream into telegrams in a bounded buffer. Bytes are read into space(), then commit() hands every
/// run of whole telegrams to the receiver. A telegram too short to carry its header is dropped; one too large for
/// the bound is skipped as it arrives and counted as overload.
class TelegramAssembler
{
public:
    /// Receives `length` bytes of whole telegrams; returns false to end the commit (e.g. the connection closed).
    using Deliver = std::function<bool(char* buffer, int length)>;

    explicit TelegramAssembler(int bound);
    /// Where to put the next bytes and how many fit (allocated on first use).
    char* space(int* room);
    /// Takes `count` bytes written to space() and delivers the whole telegrams. False if the receiver stopped it.
    bool commit(int count, const Deliver& deliver);
    /// Bytes of a dropped telegram still to be discarded before anything else is read.
    qint64 toSkip() const { return skipBytes; }
    void skipped(qint64 count) { skipBytes -= count; }
    /// Feeds bytes from memory (skipping and committing as needed).
    bool feed(const char* data, int length, const Deliver& deliver);
    /// Forgets a partial telegram (a new connection starts a fresh stream).
    void reset();
    bool takeOverload();
    int capacity() const { return allocated; }
    int bound() const { return limit; }

private:
    std::unique_ptr<char[]> buffer;
    int allocated = 0;
    int limit;
    int filled = 0;        // bytes of an incomplete telegram held at the start of the buffer
    qint64 skipBytes = 0;  // bytes still to drop of a telegram that could not be kept
    bool overload = false;
};

class IQTcp : public QObject
{
    Q_OBJECT
public:
    /// State values: 0 closed, 1 looking up the host, 2 connecting, 3 connected, 6 closing (QAbstractSocket's).
    enum State { Closed = 0, HostLookup = 1, Connecting = 2, Connected = 3, Closing = 6 };

    /// `bufferSize` bounds the receive buffer in bytes (and so the largest telegram that can be received).
    IQTcp(int bufferSize, QObject* owner, const char* name);
    ~IQTcp() override;

    /// Connects to the server; keeps reconnecting after failures and losses until disconnect().
    void connectToHost(const QString& host, quint16 port);
    /// Queues `length` bytes for sending, in order. False when not connected or the socket refused them.
    bool writeBlock(const char* bytes, int length);
    /// Closes the connection after sending what is queued (bounded wait) and stops reconnecting.
    void disconnect();
    /// True if data had to be dropped on the receive side since the last call.
    bool getAndClearOverload();
    int state() const;
    QString host() const { return hostName; }
    quint16 port() const { return portNumber; }
    /// The delay before the next reconnection attempt, in ms.
    int reconnectDelay() const { return retryDelay; }

    static constexpr int minRetryDelay = 100;
    static constexpr int maxRetryDelay = 3000;

signals:
    /// `length` bytes of whole telegrams at `buffer`; valid during the call only.
    void dataReceived(char* buffer, int length);
    void error();
    void connected(bool up);

private slots:
    void readData();
    void onConnected();
    void onDisconnected();
    void onError(QAbstractSocket::SocketError code);
    void retry();

private:
    void lost();

    QTcpSocket* socket;
    QTimer* retryTimer;
    TelegramAssembler assembler;
    bool wanted = false;   // the user asked for a connection
    bool up = false;       // connected(true) was emitted last
    bool reading = false;  // inside readData
    int retryDelay = minRetryDelay;
    QString hostName;
    quint16 portNumber = 0;
};
