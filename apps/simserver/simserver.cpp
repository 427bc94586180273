#include "simserver.h"

#include "connection/telegram.h"
#include "framework/streamformat.h"

#include <QLoggingCategory>
#include <QPointF>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>

Q_LOGGING_CATEGORY(lcSim, "orvik.simserver")

using namespace Telegram;

namespace {
constexpr int tickMs = 10;
// Bytes queued per client before the simulator waits (lossless) or skips data (lossy).
constexpr qint64 highWater = 4 << 20;
// Bytes handed to the socket at a time.
constexpr int writeChunk = 256 << 10;
// Telegrams from a client above this size are a protocol error (the library never sends data).
constexpr quint32 maxClientTelegram = 1 << 16;
constexpr int lineLength = 256;
constexpr int lineCount = 32;
// Points of a path or grid kept at most (more are ignored).
constexpr int maxPathPoints = 4096;
constexpr int sineFrame = 1000;
constexpr double pi = 3.14159265358979323846;

// Unit codes: kind << 8 | (128 + power of 1000 of the prefix).
constexpr int unitPm = 0;          // basic code: x in pm
constexpr int unitValPm = 0x17C;   // metres with prefix p: rescales to nm on labels
constexpr int unitMicroV = 0x27E;
constexpr int unitMicroS = 0x47E;
constexpr int unitPicoS = 0x47C;
constexpr int unitV = 0x280;
constexpr int unitHz = 0x380;

quint32 hash32(quint64 k)
{
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdULL;
    k ^= k >> 33;
    k *= 0xc4ceb9fe1a85ec53ULL;
    k ^= k >> 33;
    return quint32(k);
}

struct TagEvent
{
    quint64 time;
    int channel;
};

// Times start at 2^28 ps, so that the first high word of encoding 5 is not 0.
constexpr quint64 tagOrigin = quint64(1) << 28;

// The three events of time-tag slot k, in time order.
void tagSlot(qint64 k, TagEvent ev[3])
{
    const quint64 key = quint64(k) * 5;
    const quint64 base = tagOrigin + quint64(k) * quint64(SimServer::TagSlot);
    const quint64 start = base + hash32(key) % quint64(SimServer::TagSlot / 4);
    const double u1 = (hash32(key + 1) + 0.5) / 4294967296.0, u2 = (hash32(key + 2) + 0.5) / 4294967296.0;
    const double z = std::clamp(std::sqrt(-2.0 * std::log(u1)) * std::cos(2 * pi * u2), -5.0, 5.0);
    const quint64 stop = start + quint64(SimServer::TagDelay + std::llround(z * SimServer::TagJitter));
    const quint32 h = hash32(key + 3);
    ev[0] = {start, 1};
    ev[1] = {stop, 2};
    ev[2] = {base + h % quint64(SimServer::TagSlot), int(hash32(key + 4) % 4) + 1};
    std::sort(ev, ev + 3, [](const TagEvent& a, const TagEvent& b) { return a.time < b.time; });
}

// Encodings 5 and 9: packets of one high word and the events of eight slots. The high word carries the time of the
// packet's first event, so a low part that wraps within the packet is a roll-over for the decoder.
constexpr int tagSlotsPerPacket = 8;
constexpr int tagPacketWords = 1 + 3 * tagSlotsPerPacket;

quint32 tagWordHighLow(qint64 p, bool enc52)
{
    const qint64 packet = p / tagPacketWords;
    const int i = int(p % tagPacketWords);
    TagEvent ev[3];
    if (i == 0) {
        tagSlot(packet * tagSlotsPerPacket, ev);
        return enc52 ? 0x80000000u | quint32((ev[0].time >> 26) & 0x03FFFFFFu)
                     : 0x10000000u | quint32((ev[0].time >> 28) & 0x0FFFFFFFu);
    }
    tagSlot(packet * tagSlotsPerPacket + (i - 1) / 3, ev);
    const TagEvent& e = ev[(i - 1) % 3];
    return enc52 ? quint32(e.channel - 1) << 26 | quint32(e.time & 0x03FFFFFFu)
                 : quint32(e.channel - 1) << 29 | quint32(e.time & 0x0FFFFFFFu);
}

// Encoding 7: two words per event (60-bit time, channel field in the top four bits).
quint32 tagWord60(qint64 p)
{
    TagEvent ev[3];
    tagSlot(p / 6, ev);
    const TagEvent& e = ev[(p % 6) / 2];
    const quint64 rec = (e.time & ((quint64(1) << 60) - 1)) | quint64(e.channel - 1) << 60;
    return p % 2 == 0 ? quint32(rec) : quint32(rec >> 32);
}

// Encoding 10: 10-byte records (64-bit time, 16-bit channel), packed across the words.
quint32 tagWord60b(qint64 p)
{
    quint32 w = 0;
    for (int k = 0; k < 4; ++k) {
        const qint64 b = p * 4 + k;
        TagEvent ev[3];
        tagSlot(b / 30, ev);
        const TagEvent& e = ev[(b % 30) / 10];
        const int off = int(b % 10);
        const quint64 field = off < 8 ? e.time >> (8 * off) : quint64(e.channel) >> (8 * (off - 8));
        w |= quint32(field & 0xFF) << (8 * k);
    }
    return w;
}

// Hit k of the 3D stream: around one of three spots, each in its own range of t slices.
quint32 hitWord(qint64 k)
{
    const quint32 h = hash32(quint64(k) * 3 + 7);
    const double u1 = (hash32(quint64(k) * 3 + 8) + 0.5) / 4294967296.0;
    const double u2 = (hash32(quint64(k) * 3 + 9) + 0.5) / 4294967296.0;
    const double r = std::sqrt(-2.0 * std::log(u1));
    static const int spots[3][3] = {{-50, -40, -5}, {45, -20, 0}, {0, 50, 5}};
    const int* s = spots[h % 3];
    const int x = std::clamp(s[0] + int(std::lround(14.0 * r * std::cos(2 * pi * u2))), -128, 127);
    const int y = std::clamp(s[1] + int(std::lround(14.0 * r * std::sin(2 * pi * u2))), -128, 127);
    const int t = std::clamp(s[2] + int((h >> 8) % 5) - 2, -8, 7);
    return quint32(x & 0xFF) | quint32(y & 0xFF) << 8 | quint32(t & 0xF) << 16;
}

// A synthetic surface in pm: an atomic lattice, round islands and terraces. Over the default 100 nm scan its heights
// span about -6.6 ... 8.6 nm, so that a display's first colour range of +-10 nm shows the structure at once.
double surface(double x, double y)
{
    const double lattice = 300.0 * (std::cos(2 * pi * x / 250.0) + std::cos(2 * pi * y / 250.0));
    const double ix = std::fmod(std::fabs(x), 20000.0) - 10000.0;
    const double iy = std::fmod(std::fabs(y), 20000.0) - 10000.0;
    const double island = 4000.0 * std::exp(-(ix * ix + iy * iy) / (2.0 * 3000.0 * 3000.0));
    const double terrace = 2000.0 * std::floor((x + 0.3 * y) / 25000.0);
    return lattice + island + terrace;
}
} // namespace

SimServer::SimServer(QObject* parent) : QObject(parent), server(new QTcpServer(this)), ticker(new QTimer(this))
{
    connect(server, &QTcpServer::newConnection, this, &SimServer::onNewConnection);
    connect(ticker, &QTimer::timeout, this, &SimServer::pump);
    ticker->start(tickMs);
    setChannels({Scan, Sine, Lines, TimeTags, LissajousX, LissajousY, Hits});
}

SimServer::~SimServer()
{
    close();
}

bool SimServer::listen(quint16 port, const QHostAddress& address)
{
    return server->listen(address, port);
}

quint16 SimServer::serverPort() const
{
    return server->serverPort();
}

QString SimServer::errorString() const
{
    return server->errorString();
}

void SimServer::close()
{
    server->close();
    dropClients();
}

void SimServer::dropClients()
{
    QList<QTcpSocket*> sockets;
    for (const Client& c : clients)
        sockets.append(c.socket);
    for (QTcpSocket* s : sockets)
        drop(s);
}

void SimServer::setChannels(const QList<Stream>& streams)
{
    channels.clear();
    for (int n = 0; n < streams.size(); ++n) {
        SimChannel c;
        c.stream = streams[n];
        c.signal = int(c.stream);
        switch (c.stream) {
        case Scan: // two frames a second
            c.rate = 2.0 * 2 * scan.pixels * scan.pixels;
            c.group = 0;
            c.period = 4;
            break;
        case Sine:
            c.rate = 20000;
            c.group = 1;
            c.period = 20;
            break;
        case Lines: // a hundred lines a second
            c.rate = 100.0 * lineLength;
            c.group = 1;
            c.period = 40;
            break;
        case TimeTags: // about 20000 events a second
        case TimeTags60:
        case TimeTags52:
        case TimeTags60b:
            c.rate = 20000;
            c.group = 2;
            c.period = 1;
            break;
        case Hits:
            c.rate = 50000;
            c.group = 2;
            c.period = 1;
            break;
        case LissajousX:
        case LissajousY:
            c.rate = 20000;
            c.group = 1;
            c.period = 20;
            break;
        }
        channels.append(c);
        rebuild(n);
    }
}

int SimServer::encodingOf(Stream s)
{
    switch (s) {
    case TimeTags:
        return 5;
    case TimeTags60:
        return 7;
    case TimeTags52:
        return 9;
    case TimeTags60b:
        return 10;
    case Hits:
        return 2; // coord3d
    default:
        return 0;
    }
}

void SimServer::setRate(int channel, double wordsPerSecond)
{
    if (channel < 0 || channel >= channels.size())
        return;
    channels[channel].rate = std::max(0.0, wordsPerSecond);
    for (Client& c : clients) {
        auto it = c.subscribed.find(channel);
        if (it != c.subscribed.end()) {
            it->due = 0;
            it->clock.restart();
        }
    }
}

double SimServer::rate(int channel) const
{
    return channel >= 0 && channel < channels.size() ? channels[channel].rate : 0.0;
}

void SimServer::setBlockWords(int words)
{
    blockWords = std::clamp(words, 1, 1 << 20);
}

void SimServer::setScanPixels(int pixels)
{
    scan.pixels = std::clamp(pixels, 2, 4096);
    scanChangedNow();
}

void SimServer::setChannelGroup(int channel, int group)
{
    if (channel >= 0 && channel < channels.size())
        channels[channel].group = group;
}

qint64 SimServer::frameWords(int channel) const
{
    switch (channels[channel].stream) {
    case Scan:
        return 2LL * scan.pixels * scan.pixels;
    case Sine:
    case LissajousX:
    case LissajousY:
        return sineFrame;
    case Lines:
        return lineLength;
    case TimeTags:
    case TimeTags52:
        return tagPacketWords;
    case TimeTags60:
        return 6;
    case TimeTags60b:
        return 15; // two slots: 60 bytes
    case Hits:
        return 1;
    }
    return 1;
}

void SimServer::rebuild(int channel)
{
    SimChannel& c = channels[channel];
    c.frame.clear();
    if (c.stream == Scan) {
        const int n = scan.pixels;
        const double angle = 2 * pi * scan.rotation / 65536.0;
        const double ca = std::cos(angle), sa = std::sin(angle);
        c.frame.resize(2 * n * n);
        qint32* w = c.frame.data();
        for (int j = 0; j < n; ++j) {
            const double v = ((j + 0.5) / n - 0.5) * scan.height;
            qint32* fwd = w + 2 * j * n;
            qint32* bwd = fwd + n;
            for (int i = 0; i < n; ++i) {
                const double u = ((i + 0.5) / n - 0.5) * scan.width;
                const double z = surface(scan.centreX + u * ca - v * sa, scan.centreY + u * sa + v * ca);
                fwd[i] = qint32(std::lround(z));
                bwd[n - 1 - i] = qint32(std::lround(z + 50.0)); // the backward line lags a little
            }
        }
    } else if (c.stream == Lines) {
        // The n-th lines channel is spectrum n: its peak sweeps over the band that range selections left, and
        // outside the band there is only the noise floor.
        int spectrum = 0;
        for (int k = 0; k < channel; ++k)
            spectrum += channels[k].stream == Lines;
        const Band b = band(spectrum);
        int first = 0;
        int last = lineLength;
        if (b.end > b.start) {
            first = std::clamp(b.start / LineBinHz, 0, lineLength - 1);
            last = std::clamp((b.end + LineBinHz - 1) / LineBinHz, first + 1, lineLength);
        }
        const double width = std::max(1.0, 8.0 * (last - first) / lineLength);
        c.frame.resize(lineLength * lineCount);
        for (int l = 0; l < lineCount; ++l) {
            const double centre = first + (last - first) * (0.2 + 0.6 * l / lineCount);
            for (int i = 0; i < lineLength; ++i) {
                const double d = (i - centre) / width;
                const int jitter = int(hash32(quint64(l) * lineLength + i) % 200) - 100;
                const double peak = i >= first && i < last ? 20000.0 * std::exp(-d * d / 2) : 0.0;
                c.frame[l * lineLength + i] = qint32(std::lround(peak)) + 1000 + jitter;
            }
        }
    }
}

void SimServer::fill(int channel, qint64 position, char* out, int count, bool special)
{
    const SimChannel& c = channels[channel];
    switch (c.stream) {
    case Scan:
    case Lines: {
        const QVector<qint32>& frame = special && c.special.size() == c.frame.size() ? c.special : c.frame;
        const qint64 size = frame.size();
        qint64 at = position % size;
        while (count > 0) {
            const int n = int(std::min<qint64>(count, size - at));
            if (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
                std::memcpy(out, frame.constData() + at, size_t(n) * 4);
            } else {
                for (int i = 0; i < n; ++i)
                    qToLittleEndian<qint32>(frame[int(at) + i], out + 4 * i);
            }
            out += 4 * n;
            count -= n;
            at = 0;
        }
        break;
    }
    case Sine: {
        const int level = values.value(qMakePair(int(SineLevelAddress), 0), 0);
        for (int i = 0; i < count; ++i, out += 4) {
            noise = noise * 1664525u + 1013904223u;
            const double phase = 2 * pi * double((position + i) % sineFrame) / sineFrame;
            const int v = level + int(10000.0 * std::sin(phase)) + int(noise >> 22) - 512;
            qToLittleEndian<qint32>(v, out);
        }
        break;
    }
    case LissajousX:
    case LissajousY: {
        // Frequencies 3 and 2 per frame, a quarter turn apart: a closed figure of three and two lobes.
        const double cycles = c.stream == LissajousX ? 3.0 : 2.0;
        const double shift = c.stream == LissajousX ? 0.0 : pi / 4;
        for (int i = 0; i < count; ++i, out += 4) {
            const double phase = 2 * pi * cycles * double((position + i) % sineFrame) / sineFrame + shift;
            qToLittleEndian<qint32>(qint32(std::lround(10000.0 * std::sin(phase))), out);
        }
        break;
    }
    case TimeTags:
    case TimeTags52:
        for (int i = 0; i < count; ++i, out += 4)
            qToLittleEndian<quint32>(tagWordHighLow(position + i, c.stream == TimeTags52), out);
        break;
    case TimeTags60:
        for (int i = 0; i < count; ++i, out += 4)
            qToLittleEndian<quint32>(tagWord60(position + i), out);
        break;
    case TimeTags60b:
        for (int i = 0; i < count; ++i, out += 4)
            qToLittleEndian<quint32>(tagWord60b(position + i), out);
        break;
    case Hits:
        for (int i = 0; i < count; ++i, out += 4)
            qToLittleEndian<quint32>(hitWord(position + i), out);
        break;
    }
}

void SimServer::onNewConnection()
{
    while (QTcpSocket* s = server->nextPendingConnection()) {
        s->setParent(this);
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Client c;
        c.socket = s;
        clients.append(c);
        connect(s, &QTcpSocket::readyRead, this, [this, s]() { onReadyRead(s); });
        connect(s, &QTcpSocket::disconnected, this, [this, s]() { onClientGone(s); });
        connect(s, &QTcpSocket::bytesWritten, this, [this, s]() {
            if (Client* c = find(s))
                pumpClient(*c);
        });
        emit clientConnected();
    }
}

SimServer::Client* SimServer::find(QTcpSocket* socket)
{
    for (Client& c : clients) {
        if (c.socket == socket)
            return &c;
    }
    return nullptr;
}

void SimServer::onClientGone(QTcpSocket* socket)
{
    for (int i = 0; i < clients.size(); ++i) {
        if (clients[i].socket == socket) {
            clients.removeAt(i);
            socket->deleteLater();
            emit clientDisconnected();
            return;
        }
    }
}

void SimServer::drop(QTcpSocket* socket)
{
    // Out of the list first, so that nothing more is streamed to it; the socket goes once its signal has returned.
    QObject::disconnect(socket, nullptr, this, nullptr);
    for (int i = 0; i < clients.size(); ++i) {
        if (clients[i].socket == socket) {
            clients.removeAt(i);
            break;
        }
    }
    socket->abort();
    socket->deleteLater();
    emit clientDisconnected();
}

void SimServer::onReadyRead(QTcpSocket* socket)
{
    Client* c = find(socket);
    if (!c)
        return;
    c->input.append(socket->readAll());
    int pos = 0;
    while (c->input.size() - pos >= 4) {
        const quint32 length = qFromLittleEndian<quint32>(c->input.constData() + pos);
        if (length < quint32(HeaderBytes) || length > maxClientTelegram) {
            qCWarning(lcSim) << "protocol error: telegram length" << length << "- dropping the client";
            drop(socket);
            return;
        }
        if (c->input.size() - pos < int(length) + 4)
            break;
        const QByteArray telegram = c->input.mid(pos, int(length) + 4);
        pos += int(length) + 4;
        handle(*c, telegram.constData(), telegram.size());
        c = find(socket); // a handler may have changed the client list
        if (!c)
            return;
    }
    c->input.remove(0, pos);
}

void SimServer::handle(Client& client, const char* t, int length)
{
    Received r{word(t, 1), word(t, 2), word(t, 3), length >= ValueOffset + 4 ? word(t, 5) : 0,
               length >= ValueOffset + 4};
    received.append(r);
    emit telegramReceived(r.kind, r.address, r.index, r.value, r.hasValue);

    if (r.kind == KindControl) {
        switch (r.address) {
        case CtlLossless:
            client.lossless = r.value != 0;
            break;
        case CtlStart:
            client.started = true;
            for (auto it = client.subscribed.begin(); it != client.subscribed.end(); ++it) {
                it->due = 0;
                it->clock.restart();
            }
            break;
        case CtlStop:
            client.started = false;
            break;
        case CtlSubscribe:
            subscribe(client, r.value);
            break;
        default:
            break;
        }
        return;
    }
    if (r.kind == KindRead) {
        if (r.index < 0 || r.index >= channels.size())
            return;
        const SimChannel& c = channels[r.index];
        int value;
        switch (r.address) {
        case CfgGroup: value = c.group; break;
        case CfgSignal: value = c.signal; break;
        case CfgPeriod: value = c.period; break;
        case CfgExtra: value = c.extra; break;
        default: return;
        }
        char p[ReplyOffset + 4] = {};
        putWord(p, 0, ReplyOffset);
        putWord(p, 1, KindReply);
        putWord(p, 2, r.address);
        putWord(p, 3, r.index);
        putWord(p, 6, value);
        client.socket->write(p, sizeof p);
        return;
    }
    if (r.kind != KindSelection || !r.hasValue)
        return;
    switch (r.address) {
    case SelWidth: // sizes and centres arrive divided by 10
        scan.width = std::max(1, r.value) * 10;
        break;
    case SelHeight:
        scan.height = std::max(1, r.value) * 10;
        break;
    case SelCentreX:
        scan.centreX = r.value * 10;
        break;
    case SelCentreY: // the last of a range selection
    case SelCentreLine:
        if (r.address == SelCentreY)
            scan.centreY = r.value * 10;
        else
            scan.centreX = r.value * 10;
        scanChangedNow();
        break;
    case SelAngle:
        scan.rotation = r.value & 0xFFFF;
        scanChangedNow();
        break;
    case SelOffsetPos:
    case SelOffsetNeg: {
        const int d = r.address == SelOffsetPos ? r.value : -r.value;
        (r.index == 0 ? scan.centreX : scan.centreY) += d;
        scanChangedNow();
        break;
    }
    case SelPathStart:
        pathPoints.clear();
        gridX = gridY = 0;
        break;
    case SelPointX: // path and grid points arrive divided by 10
    case SelPointY:
        if (r.index >= 0 && r.index < maxPathPoints) {
            QPoint& p = pathPoints[r.index];
            (r.address == SelPointX ? p.rx() : p.ry()) = r.value;
        }
        break;
    case SelGridX:
        gridX = r.value;
        break;
    case SelGridY:
        gridY = r.value;
        break;
    case SelPathEnd: // the number of path points, or -1 after a grid
        if (r.value < 0)
            specialFrameNow(gridX, gridY);
        else if (r.value > 0)
            specialFrameNow(-1, 0);
        pathPoints.clear();
        break;
    case SelSpecStart:
    case SelSpecEnd:
        if (r.index >= 0 && r.index < 4) {
            if (r.address == SelSpecStart) {
                bandStart[r.index] = r.value;
            } else if (r.value > bandStart[r.index]) { // the end completes the range
                bands[r.index] = Band{bandStart[r.index], r.value};
                rebuildLines();
            }
        }
        break;
    default: // a point selection: moves the set value at (address, index)
        values[qMakePair(r.address, r.index)] = r.value;
        break;
    }
}

void SimServer::subscribe(Client& client, int channel)
{
    if (channel < 0 || channel >= channels.size())
        return;
    ChannelState& st = client.subscribed[channel];
    st.position = 0;
    st.due = 0;
    st.specialEnd = 0;
    st.clock.restart();
    sendMetadata(client, channel);
}

void SimServer::sendMetadata(Client& client, int channel)
{
    const SimChannel& c = channels[channel];
    StreamFormat f;
    f.set(StreamFormat::Encoding, 0);
    f.set(StreamFormat::PhysVal, 1);
    switch (c.stream) {
    case Scan:
        f.set(StreamFormat::Order, GPlugin::forBack);
        f.set(StreamFormat::RangeX, scan.pixels);
        f.set(StreamFormat::RangeY, scan.pixels);
        f.set(StreamFormat::PhysX, scan.width);
        f.set(StreamFormat::PhysY, scan.height);
        f.set(StreamFormat::OffsetX, scan.centreX);
        f.set(StreamFormat::OffsetY, scan.centreY);
        f.set(StreamFormat::Rotation, scan.rotation);
        f.set(StreamFormat::UnitX, unitPm);
        f.set(StreamFormat::UnitVal, unitValPm);
        break;
    case Sine:
    case LissajousX:
    case LissajousY:
        f.set(StreamFormat::Order, GPlugin::linear);
        f.set(StreamFormat::RangeX, sineFrame);
        f.set(StreamFormat::PhysX, int(sineFrame * c.period * 2.5));
        f.set(StreamFormat::UnitX, unitMicroS);
        f.set(StreamFormat::UnitVal, unitMicroV);
        break;
    case Lines:
        f.set(StreamFormat::Order, GPlugin::cyclic);
        f.set(StreamFormat::RangeX, lineLength);
        f.set(StreamFormat::PhysX, lineLength * 1000);
        f.set(StreamFormat::UnitX, unitHz);
        f.set(StreamFormat::UnitVal, unitV);
        break;
    case TimeTags:
    case TimeTags60:
    case TimeTags52:
    case TimeTags60b:
        f.set(StreamFormat::Order, GPlugin::linear);
        f.set(StreamFormat::Encoding, encodingOf(c.stream)); // raw time tags
        f.set(StreamFormat::UnitVal, unitPicoS);
        break;
    case Hits:
        f.set(StreamFormat::Order, GPlugin::linear);
        f.set(StreamFormat::Encoding, encodingOf(c.stream));
        f.set(StreamFormat::Binning, HitsBinning);
        break;
    }
    // The data group's number goes in the trigger's slot: the viewer maps it to the group's trigger.
    f.set(StreamFormat::Trigger, c.group);
    // Init first, then the properties in the order an acquisition server announces a measurement: geometry, units,
    // the value scale last, then the data group. The order matters to displays that reset their colour range on a
    // new value unit: the scale that follows sets what one raw unit is worth.
    static const StreamFormat::Property sendOrder[] = {
        StreamFormat::Order,   StreamFormat::Encoding, StreamFormat::Binning,  StreamFormat::RangeX,
        StreamFormat::RangeY,  StreamFormat::PhysX,    StreamFormat::PhysY,    StreamFormat::OffsetX,
        StreamFormat::OffsetY, StreamFormat::Rotation, StreamFormat::UnitX,    StreamFormat::UnitVal,
        StreamFormat::PhysVal, StreamFormat::Trigger};
    QVector<QPair<int, int>> meta;
    meta.append({MetaInit, 1});
    for (StreamFormat::Property p : sendOrder)
        if (f.isSet(p))
            meta.append({StreamFormat::info(p).metaCode, f.value(p)});
    QByteArray t;
    for (const auto& m : meta)
        t += make(KindData, m.first, channel, &m.second);
    client.socket->write(t);
}

void SimServer::scanChangedNow()
{
    for (int n = 0; n < channels.size(); ++n) {
        if (channels[n].stream != Scan)
            continue;
        rebuild(n);
        for (Client& c : clients) {
            auto it = c.subscribed.find(n);
            if (it == c.subscribed.end())
                continue;
            sendMetadata(c, n);
            it->position = 0; // the new scan starts a new frame
            it->specialEnd = 0;
        }
    }
    emit scanChanged();
}

void SimServer::specialFrameNow(int pointsX, int pointsY)
{
    // The points in pm, in point-number order.
    QVector<QPointF> pts;
    for (auto it = pathPoints.cbegin(); it != pathPoints.cend(); ++it)
        pts.append(QPointF(it->x() * 10.0, it->y() * 10.0));
    const bool grid = pointsX >= 0;
    if (pts.isEmpty() || (grid && pts.size() < 3))
        return;
    const int n = scan.pixels;
    // Every pixel of a line gets a position: along the path by its length, or the grid point that covers it.
    QVector<QPointF> line(n);
    QVector<QPointF> rowStep(1, QPointF());
    if (grid) {
        const int gx = std::clamp(pointsX, 1, maxPathPoints);
        const int gy = std::clamp(pointsY, 1, maxPathPoints);
        const QPointF ax = pts[1] - pts[0];
        const QPointF ay = pts[2] - pts[0];
        for (int i = 0; i < n; ++i) {
            const int gi = int(qint64(i) * gx / n);
            line[i] = pts[0] + ax * (gx > 1 ? double(gi) / (gx - 1) : 0.0);
        }
        rowStep.resize(n);
        for (int j = 0; j < n; ++j) {
            const int gj = int(qint64(j) * gy / n);
            rowStep[j] = ay * (gy > 1 ? double(gj) / (gy - 1) : 0.0);
        }
    } else {
        QVector<double> at(pts.size(), 0.0); // path length up to each point
        for (int k = 1; k < pts.size(); ++k) {
            const QPointF d = pts[k] - pts[k - 1];
            at[k] = at[k - 1] + std::hypot(d.x(), d.y());
        }
        const double total = at.last();
        int k = 0;
        for (int i = 0; i < n; ++i) {
            const double s = n > 1 ? total * i / (n - 1) : 0.0;
            while (k + 1 < pts.size() - 1 && at[k + 1] < s)
                ++k;
            if (pts.size() == 1 || total <= 0) {
                line[i] = pts[0];
                continue;
            }
            const double seg = at[k + 1] - at[k];
            const double f = seg > 0 ? std::clamp((s - at[k]) / seg, 0.0, 1.0) : 0.0;
            line[i] = pts[k] + (pts[k + 1] - pts[k]) * f;
        }
    }
    specialKind = grid ? GridFrame : PathFrame;
    for (int ch = 0; ch < channels.size(); ++ch) {
        SimChannel& c = channels[ch];
        if (c.stream != Scan)
            continue;
        c.special.resize(2 * n * n);
        for (int j = 0; j < n; ++j) {
            const QPointF shift = rowStep[std::min(j, rowStep.size() - 1)];
            qint32* fwd = c.special.data() + 2 * j * n;
            qint32* bwd = fwd + n;
            for (int i = 0; i < n; ++i) {
                const QPointF q = line[i] + shift;
                const double z = surface(q.x(), q.y());
                fwd[i] = qint32(std::lround(z));
                bwd[n - 1 - i] = qint32(std::lround(z + 50.0));
            }
        }
        for (Client& cl : clients) {
            auto it = cl.subscribed.find(ch);
            if (it == cl.subscribed.end())
                continue;
            it->position = 0; // the special frame starts now, as a new frame
            it->specialEnd = c.special.size();
        }
    }
    emit specialFrameQueued(int(specialKind));
}

void SimServer::rebuildLines()
{
    for (int ch = 0; ch < channels.size(); ++ch)
        if (channels[ch].stream == Lines)
            rebuild(ch);
}

void SimServer::setDropEvery(int channel, int n)
{
    if (channel >= 0 && channel < channels.size())
        channels[channel].dropEvery = qMax(0, n);
}

void SimServer::setPaused(int channel, bool paused)
{
    if (channel >= 0 && channel < channels.size())
        channels[channel].paused = paused;
}

void SimServer::stall(int ms)
{
    stallClock.start();
    stallMs = qMax(0, ms);
}

bool SimServer::applyFaults(SimServer* sim, const QStringList& drops, const QStringList& pauses,
                            const QString& stallText, QString* error)
{
    auto channelOf = [sim](const QString& text, int* ch) {
        bool ok = false;
        *ch = text.trimmed().toInt(&ok);
        return ok && *ch >= 0 && *ch < sim->channelCount();
    };
    for (const QString& d : drops) {
        const QStringList parts = d.split(QLatin1Char(':'));
        int ch = 0;
        bool ok = false;
        const int n = parts.size() == 2 ? parts[1].toInt(&ok) : 0;
        if (parts.size() != 2 || !channelOf(parts[0], &ch) || !ok || n < 1) {
            *error = QStringLiteral("invalid drop \"%1\" (expected CH:N, a channel and N >= 1)").arg(d);
            return false;
        }
        sim->setDropEvery(ch, n);
    }
    for (const QString& p : pauses) {
        const QStringList parts = p.split(QLatin1Char(':'));
        int ch = 0;
        bool ok = true;
        const double start = parts.size() == 2 ? parts[1].toDouble(&ok) : 0;
        if (parts.size() > 2 || !channelOf(parts[0], &ch) || !ok || start < 0 || start > 1e6) {
            *error = QStringLiteral("invalid pause \"%1\" (expected CH or CH:START, START in seconds)").arg(p);
            return false;
        }
        if (start > 0)
            QTimer::singleShot(int(start * 1000), sim, [sim, ch] { sim->setPaused(ch, true); });
        else
            sim->setPaused(ch, true);
    }
    if (!stallText.isEmpty()) {
        const QStringList parts = stallText.split(QLatin1Char(':'));
        bool ok1 = false, ok2 = false;
        const double start = parts.size() == 2 ? parts[0].toDouble(&ok1) : 0;
        const double duration = parts.size() == 2 ? parts[1].toDouble(&ok2) : 0;
        if (!ok1 || !ok2 || start < 0 || duration <= 0 || start > 1e6 || duration > 1e6) {
            *error = QStringLiteral("invalid stall \"%1\" (expected START:DURATION in seconds)").arg(stallText);
            return false;
        }
        QTimer::singleShot(int(start * 1000), sim, [sim, duration] { sim->stall(int(duration * 1000)); });
    }
    return true;
}

bool SimServer::isStalled() const
{
    return stallMs > 0 && stallClock.isValid() && stallClock.elapsed() < stallMs;
}

void SimServer::pump()
{
    if (isStalled())
        return;
    for (int i = 0; i < clients.size(); ++i)
        pumpClient(clients[i]);
}

void SimServer::pumpClient(Client& client)
{
    if (!client.started || client.subscribed.isEmpty())
        return;
    QTcpSocket* s = client.socket;
    QByteArray batch;
    for (auto it = client.subscribed.begin(); it != client.subscribed.end(); ++it) {
        const int ch = it.key();
        if (ch >= channels.size())
            continue;
        ChannelState& st = it.value();
        const SimChannel& c = channels[ch];
        qint64 want;
        const qint64 pending = s->bytesToWrite() + batch.size();
        if (c.paused) {
            // Nothing is owed for the pause: the stream resumes at its rate, not with a burst.
            if (c.rate > 0)
                st.due = qint64(double(st.clock.elapsed()) * c.rate / 1000.0);
            continue;
        }
        if (c.rate > 0) {
            const qint64 target = qint64(double(st.clock.elapsed()) * c.rate / 1000.0);
            want = target - st.due;
            if (want <= 0)
                continue;
            if (pending > highWater) {
                if (!client.lossless) { // a lossy connection skips what the client cannot take
                    st.due = target;
                    st.position += want;
                }
                continue;
            }
            want = std::min<qint64>(want, qint64(c.rate) + 1);
            st.due += want;
        } else {
            want = (highWater - pending) / 4;
            if (want <= 0)
                continue;
        }
        // Stream positions wrap at a multiple of two frames so that frame parity is kept.
        const qint64 frame = 2 * frameWords(ch);
        const qint64 wrap = (qint64(0x7fffffff) / frame) * frame;
        batch.reserve(int(std::min<qint64>(batch.size() + want * 4 + (want / blockWords + 1) * ValueOffset,
                                           writeChunk + ValueOffset + 4 * qint64(blockWords))));
        while (want > 0) {
            const qint64 index = st.position % wrap;
            int n = int(std::min<qint64>({want, qint64(blockWords), wrap - index}));
            const bool special = st.position < st.specialEnd;
            if (special)
                n = int(std::min<qint64>(n, st.specialEnd - st.position));
            if (c.dropEvery > 0 && ++st.blocks % c.dropEvery == 0) {
                st.position += n; // a lost block: its positions are skipped
                want -= n;
                continue;
            }
            const int at = batch.size();
            batch.resize(at + ValueOffset + 4 * n);
            char* p = batch.data() + at;
            putWord(p, 0, HeaderBytes + 4 * n);
            putWord(p, 1, KindData);
            putWord(p, 2, DataBase + ch);
            putWord(p, 3, qint32(index));
            putWord(p, 4, 0);
            fill(ch, st.position, p + ValueOffset, n, special);
            st.position += n;
            want -= n;
            totalWords += n;
            if (batch.size() >= writeChunk) { // moderate writes keep the allocations off the page-fault path
                s->write(batch);
                batch = QByteArray();
                batch.reserve(int(std::min<qint64>(writeChunk + ValueOffset + 4 * blockWords, want * 4 + 64)));
            }
        }
    }
    if (!batch.isEmpty())
        s->write(batch);
}
