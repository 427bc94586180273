#pragma once
// IQTcp: the TCP client of the data connection.
//
// It frames the byte stream into telegrams (a little-endian length word counting the bytes that follow it) and
// hands whole telegrams only to dataReceived, several at once where they arrived together. The receive buffer is
// bounded. A length word that no telegram can have (shorter than the header, or larger than the buffer) means the
// stream is out of step: everything after it is meaningless, so the client reports a protocol error, closes the
// connection and reconnects, instead of skipping what the bad word announced. When the server goes away the client
// reconnects by itself, with a delay that grows up to a cap.

#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QTcpSocket;
class QTimer;

/// Cuts a byte stream into telegrams in a bounded buffer. Bytes are read into space(), then commit() hands every
/// run of whole telegrams to the receiver. A length word below minLength or above maxLength() is a protocol error:
/// the telegrams before it are delivered, then the assembler refuses all input until reset() (a new connection).
class TelegramAssembler
{
public:
    /// Receives `length` bytes of whole telegrams; returns false to end the commit (e.g. the connection closed).
    using Deliver = std::function<bool(char* buffer, int length)>;

    /// The smallest length word: kind, address, index and the reserved word.
    static constexpr quint32 minLength = 16;

    explicit TelegramAssembler(int bound);
    /// Where to put the next bytes and how many fit (allocated on first use).
    char* space(int* room);
    /// Takes `count` bytes written to space() and delivers the whole telegrams. False if the receiver stopped it
    /// or the stream broke (failed()).
    bool commit(int count, const Deliver& deliver);
    /// Feeds bytes from memory (committing as needed); false as commit().
    bool feed(const char* data, int length, const Deliver& deliver);
    /// Forgets a partial telegram and a protocol error (a new connection starts a fresh stream).
    void reset();
    /// True after a length word outside minLength..maxLength(); the word is badLength().
    bool failed() const { return broken; }
    quint32 badLength() const { return brokenLength; }
    /// The largest length word accepted: the telegram and its length word fill the bound.
    quint32 maxLength() const { return quint32(limit) - 4; }
    int capacity() const { return allocated; }
    int bound() const { return limit; }

private:
    std::unique_ptr<char[]> buffer;
    int allocated = 0;
    int limit;
    int filled = 0; // bytes of an incomplete telegram held at the start of the buffer
    bool broken = false;
    quint32 brokenLength = 0;
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
    /// True if the receiver fell behind the server since the last call: the socket's bounded read buffer was full,
    /// so the server is being throttled (and a lossy server drops data).
    bool getAndClearOverload();
    int state() const;
    QString host() const { return hostName; }
    quint16 port() const { return portNumber; }
    /// The delay before the next reconnection attempt, in ms.
    int reconnectDelay() const { return retryDelay; }
    /// The largest length word accepted from the server.
    quint32 maxTelegramLength() const { return assembler.maxLength(); }

    static constexpr int minRetryDelay = 100;
    static constexpr int maxRetryDelay = 3000;

signals:
    /// `length` bytes of whole telegrams at `buffer`; valid during the call only.
    void dataReceived(char* buffer, int length);
    void error();
    void connected(bool up);
    /// The server sent a length word no telegram can have; `what` says which. The connection has been closed and
    /// the reconnection is scheduled.
    void protocolError(QString what);

private slots:
    void readData();
    void onConnected();
    void onDisconnected();
    void onError(QAbstractSocket::SocketError code);
    void retry();

private:
    void lost();
    void protocolFault();

    QTcpSocket* socket;
    QTimer* retryTimer;
    TelegramAssembler assembler;
    bool wanted = false;    // the user asked for a connection
    bool up = false;        // connected(true) was emitted last
    bool reading = false;   // inside readData
    bool overload = false;  // the read buffer was found full since the last getAndClearOverload
    bool badStream = false; // the last connection ended in a protocol error and nothing good came since
    int retryDelay = minRetryDelay;
    QString hostName;
    quint16 portNumber = 0;
};
