#pragma once
// SimServer: an acquisition-server simulator that speaks the telegram protocol over TCP.
//
// It answers the connect sequence and the configuration reads, streams data and metadata of the subscribed
// channels at set rates, and obeys selections so that steering can be seen: a range or centre selection changes
// the scan, an angle turns it, a point selection moves a set value (the sine's level), a path makes the next scan
// frame a line scan along the path, a grid makes it sample the grid's points, a spectrum range narrows the band of
// the lines (a spectrum in Hz), stop ends the stream.
// Built-in streams: a forward/backward scan of a synthetic surface (x in pm, values in pm), a noisy sine, cyclic
// lines, time tags in picoseconds (encodings 5, 7, 9 and 10, laid out as utilif/tdc56.h documents), two sines of
// related frequency, and 3D hits.
// The time tags show a start-stop peak of known position and width: in every slot of TagSlot ps there is a start
// on channel 1, a stop on channel 2 TagDelay ps later with a Gaussian jitter of TagJitter ps (sigma), and one
// uncorrelated background event on channel 1 ... 4. The hits (encoding coord3d, binning HitsBinning) fall around
// three spots, each in its own range of t slices.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPoint>
#include <QStringList>
#include <QVector>

class QTcpServer;
class QTcpSocket;
class QTimer;

class SimServer : public QObject
{
    Q_OBJECT
public:
    // LissajousX and LissajousY: clean sines of frequencies 3 and 2 per 1000 words, so that one plotted against the
    // other by stream index draws a closed Lissajous figure.
    /// TimeTags: encoding 5; TimeTags60: encoding 7; TimeTags52: encoding 9; TimeTags60b: encoding 10.
    enum Stream { Scan, Sine, Lines, TimeTags, LissajousX, LissajousY, TimeTags60, TimeTags52, TimeTags60b, Hits };

    /// One telegram the server received, for observers (tests, the console).
    struct Received
    {
        int kind;
        int address;
        int index;
        int value;
        bool hasValue;
    };

    /// The scan as the selections left it (x units: pm; rotation: 1/65536 turn).
    struct ScanState
    {
        int pixels = 128;
        int width = 100000;
        int height = 100000;
        int centreX = 0;
        int centreY = 0;
        int rotation = 0;
    };

    explicit SimServer(QObject* parent = nullptr);
    ~SimServer() override;

    /// Starts listening; port 0 picks a free port (see serverPort()). False with a message in errorString().
    bool listen(quint16 port = 0, const QHostAddress& address = QHostAddress::LocalHost);
    quint16 serverPort() const;
    QString errorString() const;
    /// Stops listening and drops every client.
    void close();
    /// Drops every client connection but keeps listening.
    void dropClients();
    int clientCount() const { return clients.size(); }

    /// Replaces the channel list (channel n streams streams[n]). Clients keep their subscriptions by number.
    void setChannels(const QList<Stream>& streams);
    int channelCount() const { return channels.size(); }
    Stream streamOf(int channel) const { return channels.at(channel).stream; }
    /// Words per second of a channel; 0 sends as fast as the connection takes them.
    void setRate(int channel, double wordsPerSecond);
    double rate(int channel) const;
    /// Data words per telegram (1 to 1 << 20).
    void setBlockWords(int words);
    /// Pixels per scan line and lines per scan frame.
    void setScanPixels(int pixels);
    /// Faults to show stream health: every n-th data block of a channel is left out (its positions skipped; 0: none).
    void setDropEvery(int channel, int n);
    /// A paused channel sends nothing; its stream goes on where it stopped when it resumes.
    void setPaused(int channel, bool paused);
    bool isPaused(int channel) const { return channels.at(channel).paused; }
    /// Sends no data at all for `ms` milliseconds, as a server that hangs (connections stay open).
    void stall(int ms);
    bool isStalled() const;
    /// Applies the fault options of the programs: drops as "CH:N", pauses as "CH" (from the start) or "CH:START", a
    /// stall as "START:DURATION" (empty: none). Times in seconds from now. False with a message for a bad value.
    static bool applyFaults(SimServer* sim, const QStringList& drops, const QStringList& pauses, const QString& stall,
                            QString* error);
    /// The data group (configuration code 59) a channel reports.
    void setChannelGroup(int channel, int group);
    int channelGroup(int channel) const { return channels.at(channel).group; }

    ScanState scanState() const { return scan; }
    /// A set value moved by point selections: (address, index) -> value.
    QMap<QPair<int, int>, int> setValues() const { return values; }
    /// Every telegram received since the last clearLog(), in order.
    QList<Received> log() const { return received; }
    void clearLog() { received.clear(); }
    /// Data words sent to all clients since construction.
    qint64 wordsSent() const { return totalWords; }

    /// Address and index of the set value that moves the sine's level.
    static constexpr int SineLevelAddress = 0x300;
    /// The time-tag streams (picoseconds): slot length, start-stop delay and its jitter (sigma).
    static constexpr qint64 TagSlot = 100000;
    static constexpr qint64 TagDelay = 20000;
    static constexpr double TagJitter = 250.0;
    /// Binning code of the hit stream: 8, 8 and 4 bits, 256 x 256 x 16.
    static constexpr int HitsBinning = 0x040808;
    /// Encoding of a stream's data words.
    static int encodingOf(Stream s);

    /// The band of a spectrum (in Hz, the unit of the lines' X axis) as range selections left it. The n-th lines
    /// channel is spectrum n (0 to 3).
    struct Band
    {
        int start = 0;
        int end = 0; // exclusive; start == end: the whole spectrum
    };
    Band band(int spectrum) const { return spectrum >= 0 && spectrum < 4 ? bands[spectrum] : Band(); }
    /// The width of one bin of the lines (Hz).
    static constexpr int LineBinHz = 1000;
    /// What the next scan frame shows: the surface, a line scan along a path, or the points of a grid.
    enum FrameKind { SurfaceFrame, PathFrame, GridFrame };
    /// The kind of the last special frame that selections made (SurfaceFrame when none).
    FrameKind lastSpecialFrame() const { return specialKind; }

signals:
    void telegramReceived(int kind, int address, int index, int value, bool hasValue);
    void clientConnected();
    void clientDisconnected();
    void scanChanged();
    /// A path or grid selection made the next scan frame special.
    void specialFrameQueued(int kind);

private:
    struct SimChannel
    {
        Stream stream = Sine;
        double rate = 0;
        int group = 0;
        int signal = 0;
        int period = 1;
        int extra = 0;
        int dropEvery = 0;
        bool paused = false;
        QVector<qint32> frame; // precomputed words of one frame (scan, lines)
        QVector<qint32> special; // one frame that a path or grid selection asked for (scan)
    };
    struct ChannelState
    {
        qint64 position = 0; // next stream position (words)
        qint64 due = 0;      // words sent since the clock started (throttled channels)
        qint64 blocks = 0;   // data blocks made, sent or dropped
        qint64 specialEnd = 0; // positions below this come from the channel's special frame
        QElapsedTimer clock;
    };
    struct Client
    {
        QTcpSocket* socket = nullptr;
        QByteArray input;
        bool started = false;
        bool lossless = false;
        QMap<int, ChannelState> subscribed;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void onClientGone(QTcpSocket* socket);
    /// Closes a client's connection at once and forgets the client.
    void drop(QTcpSocket* socket);
    void handle(Client& client, const char* telegram, int length);
    void subscribe(Client& client, int channel);
    void sendMetadata(Client& client, int channel);
    void pump();
    void pumpClient(Client& client);
    void fill(int channel, qint64 position, char* out, int count, bool special = false);
    void rebuild(int channel);
    void scanChangedNow();
    /// A path (pointsX < 0) or grid selection ended: the next frame of every scan samples it.
    void specialFrameNow(int pointsX, int pointsY);
    /// Recomputes the frames of the lines channels after a band changed.
    void rebuildLines();
    qint64 frameWords(int channel) const;
    Client* find(QTcpSocket* socket);

    QTcpServer* server;
    QTimer* ticker;
    QList<Client> clients;
    QVector<SimChannel> channels;
    ScanState scan;
    QMap<QPair<int, int>, int> values;
    QMap<int, QPoint> pathPoints; // of the path or grid being received, by point number (pm / 10)
    int gridX = 0;
    int gridY = 0;
    FrameKind specialKind = SurfaceFrame;
    Band bands[4];
    int bandStart[4] = {0, 0, 0, 0}; // the start of a range whose end has not arrived yet
    QElapsedTimer stallClock;
    qint64 stallMs = 0;
    QList<Received> received;
    int blockWords = 1019;
    quint32 noise = 12345;
    qint64 tagTime = 0;
    qint64 totalWords = 0;
};
