#include "recording/syncwriterplugin.h"

#include "recording/errorbox.h"
#include "recording/filenumbering.h"
#include "recording/timetags.h"
#include "utilif/algo.h"
#include "utilif/wholefile.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTimer>
#include <QtEndian>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

const GPlugin::PluginDescriptor SyncWriterPlugin::_descriptor(QStringLiteral("Sync Writer"),
                                                              QStringLiteral("Saves multiple data streams to disk."),
                                                              0x18001a0, syncWriterFactory);

bool SyncWriterPlugin::_messageBoxes = true;

GPlugin* syncWriterFactory(QWidget* parent, QString name)
{
    return new SyncWriterPlugin(parent, name);
}

const char CopyThread::textMarker[8] = {'\x16', '\xf6', '\x19', '\x50', '\x7c', '\x40', '\x10', '\x33'};
const char CopyThread::zeroMarker[8] = {'\x45', '\xf6', '\x19', '\x50', '\x7c', '\x40', '\x10', '\x33'};
const char CopyThread::oneMarker[8] = {'\x73', '\xf6', '\x19', '\x50', '\x7c', '\x40', '\x10', '\x33'};

namespace {

constexpr char textEnd = 64; // '@' ends a text block of the temporary file

// Reads a device in large pieces; the converter takes bytes from it one value at a time.
class ChunkReader
{
public:
    explicit ChunkReader(QIODevice& in) : in(in), buf(1 << 20) {}
    /// Copies n bytes; false at the end of the data (a short tail is dropped).
    bool take(char* to, int n)
    {
        if (end - pos < n && !refill(n))
            return false;
        std::memcpy(to, buf.data() + pos, size_t(n));
        pos += n;
        return true;
    }
    /// Calls f(const char*, int) for the bytes up to the next text end (excluded) and consumes the end byte.
    template <class F> void copyText(F&& f)
    {
        for (;;) {
            if (pos == end && !refill(1))
                return;
            const char* start = buf.data() + pos;
            const void* hit = std::memchr(start, textEnd, size_t(end - pos));
            if (hit) {
                const int n = int(static_cast<const char*>(hit) - start);
                f(start, n);
                pos += n + 1;
                return;
            }
            f(start, end - pos);
            pos = end;
        }
    }

private:
    bool refill(int need)
    {
        const int keep = end - pos;
        std::memmove(buf.data(), buf.data() + pos, size_t(keep));
        pos = 0;
        end = keep;
        while (end < need) {
            const qint64 got = in.read(buf.data() + end, qint64(buf.size() - end));
            if (got <= 0)
                return false;
            end += int(got);
        }
        return true;
    }

    QIODevice& in;
    std::vector<char> buf;
    int pos = 0;
    int end = 0;
};

// Collects output and writes it in large pieces; remembers the first failure.
class ChunkWriter
{
public:
    explicit ChunkWriter(QIODevice& out) : out(out) { buf.reserve(1 << 20); }
    void put(const char* p, int n)
    {
        buf.append(p, n);
        if (buf.size() >= (1 << 20))
            flush();
    }
    void put(char c) { buf.append(c); }
    bool flush()
    {
        if (ok && !buf.isEmpty() && out.write(buf) != buf.size())
            ok = false;
        buf.clear();
        return ok;
    }
    bool ok = true;

private:
    QIODevice& out;
    QByteArray buf;
};

} // namespace

// ---- CopyThread ----

CopyThread::CopyThread(QString tempName, QString outputName, int columns, int precision)
    : tempName(std::move(tempName)), outName(std::move(outputName)), columns(qMax(1, columns)), precision(precision)
{
}

CopyThread::~CopyThread()
{
    wait();
}

bool CopyThread::convert(QIODevice& in, QIODevice& out, int columns, int precision, QString* error)
{
    ChunkReader reader(in);
    ChunkWriter writer(out);
    char v[16];
    if (precision < -1) {
        // Binary time tags: 16-byte events become 10-byte records (time, low 16 bits of the channel).
        while (reader.take(v, 8)) {
            if (std::memcmp(v, textMarker, 8) == 0) {
                reader.copyText([](const char*, int) {});
                continue;
            }
            if (!reader.take(v + 8, 8))
                break;
            qint64 time, channel;
            std::memcpy(&time, v, 8);
            std::memcpy(&channel, v + 8, 8);
            char rec[10];
            qToLittleEndian<qint64>(time, rec);
            qToLittleEndian<quint16>(quint16(channel), rec + 8);
            writer.put(rec, 10);
        }
    } else {
        char format[32];
        std::snprintf(format, sizeof format, "%%%d.%dE", precision + 8, precision);
        int column = 0;
        char number[64];
        while (reader.take(v, 8)) {
            int n;
            if (std::memcmp(v, textMarker, 8) == 0) {
                if (column > 0)
                    writer.put('\n');
                column = 0;
                reader.copyText([&writer](const char* p, int len) { writer.put(p, len); });
                continue;
            } else if (std::memcmp(v, zeroMarker, 8) == 0) {
                n = std::snprintf(number, sizeof number, "0");
            } else if (std::memcmp(v, oneMarker, 8) == 0) {
                n = std::snprintf(number, sizeof number, "1");
            } else if (precision == -1) {
                qint64 raw;
                std::memcpy(&raw, v, 8);
                n = std::snprintf(number, sizeof number, "%20lld", static_cast<long long>(raw));
            } else {
                double d;
                std::memcpy(&d, v, 8);
                n = std::snprintf(number, sizeof number, format, d);
            }
            writer.put(number, qBound(0, n, int(sizeof number) - 1));
            if (++column >= columns) {
                writer.put('\n');
                column = 0;
            } else {
                writer.put(" ; ", 3);
            }
        }
        if (column > 0)
            writer.put('\n');
    }
    if (!writer.flush()) {
        if (error)
            *error = out.errorString();
        return false;
    }
    return true;
}

void CopyThread::run()
{
    QFile in(tempName);
    // Every write is checked and the file gets its final name only when complete (a plain QSaveFile takes a short
    // last write for success).
    WholeFile out(outName);
    const bool binary = precision < -1;
    if (!in.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Error reading temporary file %1").arg(QDir::toNativeSeparators(tempName));
    } else if (!out.open(binary ? QIODevice::WriteOnly : QIODevice::WriteOnly | QIODevice::Text)) {
        error = QStringLiteral("Error opening output file %1").arg(QDir::toNativeSeparators(outName));
    } else {
        QString why;
        if (!convert(in, out, columns, precision, &why) || !out.commit()) {
            out.discard();
            error = QStringLiteral("Error writing output file %1\n%2")
                        .arg(QDir::toNativeSeparators(outName), why.isEmpty() ? out.errorString() : why);
        }
    }
    in.close();
    QFile::remove(tempName);
    done.store(true);
}

// ---- SyncWriterPlugin ----

SyncWriterPlugin::SyncWriterPlugin(QWidget* parent, QString name)
    : GPlugin(parent, std::move(name), &_descriptor), decoder(std::make_unique<TimeTagDecoder>())
{
    panelFrame = new QFrame(parent);
    panelFrame->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    auto* grid = new QGridLayout(panelFrame);
    grid->setContentsMargins(3, 3, 3, 3);
    grid->setSpacing(3);
    captionLabel = new QLabel(panelFrame);
    captionLabel->hide();
    outFileBtn = new QPushButton(QStringLiteral("Out..."), panelFrame);
    outFileBtn->setToolTip(QStringLiteral("Select ASCII output file."));
    singleBtn = new QPushButton(QStringLiteral("Log"), panelFrame);
    singleBtn->setToolTip(QStringLiteral("Single logging of incoming data."));
    singleBtn->setCheckable(true);
    cyclicBtn = new QPushButton(QStringLiteral("Cyclic"), panelFrame);
    cyclicBtn->setToolTip(QStringLiteral("Cyclic logging of incoming data."));
    cyclicBtn->setCheckable(true);
    stateLabel = new QLabel(QStringLiteral("Idle"), panelFrame);
    stateLabel->setToolTip(QStringLiteral("State of the Data Logger."));
    grid->addWidget(captionLabel, 0, 0, 1, 4);
    grid->addWidget(outFileBtn, 1, 0);
    grid->addWidget(singleBtn, 1, 1);
    grid->addWidget(cyclicBtn, 1, 2);
    grid->addWidget(stateLabel, 1, 3);
    grid->setColumnStretch(3, 1);
    connect(outFileBtn, &QPushButton::clicked, this, &SyncWriterPlugin::selectOutFile);
    connect(singleBtn, &QPushButton::clicked, this, &SyncWriterPlugin::onStartWrite);
    connect(cyclicBtn, &QPushButton::clicked, this, &SyncWriterPlugin::onAutoWrite);

    stateTimer = new QTimer(this);
    stateTimer->setSingleShot(true);
    stateTimer->setInterval(200);
    connect(stateTimer, &QTimer::timeout, this, &SyncWriterPlugin::updateStateDisplay);

    const QString dir = GPlugin::prefs() && GPlugin::prefs()->snapshotDir ? *GPlugin::prefs()->snapshotDir : QString();
    QString file = getName() + QStringLiteral(".txt");
    file.replace(QLatin1Char(' '), QLatin1Char('-'));
    outName = dir.isEmpty() ? file : dir + QLatin1Char('/') + file;
}

SyncWriterPlugin::~SyncWriterPlugin()
{
    // A log still open is converted like any other; quitting waits for every conversion, so no recording is lost
    // and no output is left half-written.
    startLog(false);
    for (CopyThread* t : copyThreads) {
        t->wait();
        if (!t->message().isEmpty())
            qWarning("%s", qPrintable(t->message()));
        delete t;
    }
    copyThreads.clear();
    delete errorBox.data();
    delete panelFrame.data();
}

void SyncWriterPlugin::setMessageBoxes(bool on)
{
    _messageBoxes = on;
}

QWidget* SyncWriterPlugin::getWidget()
{
    return panelFrame;
}

void SyncWriterPlugin::setOption(QString key, QString value)
{
    key = key.toLower();
    bool isInt = false;
    const int n = value.toInt(&isInt);
    if (key == QLatin1String("description")) {
        description = value;
    } else if (key == QLatin1String("columndescr")) {
        columnDescriptions = value.split(QLatin1Char(':'));
    } else if (key == QLatin1String("snapshot")) {
        snapshotLines << value;
    } else if (key == QLatin1String("caption")) {
        captionLabel->setText(value);
        captionLabel->show();
    } else if (key == QLatin1String("decoding")) {
        static const char* const names[] = {"int48fps", "int56tdc", "int52tdc", "int60Tdc", "int60btdc"};
        decodingMode = 0;
        for (int i = 0; i < 5; ++i) {
            if (value == QLatin1String(names[i]))
                decodingMode = i + 1;
        }
        headerWritten = false;
    } else if (!isInt) {
        return;
    } else if (key == QLatin1String("displayany")) {
        if (n == 0 && panelFrame)
            panelFrame->hide();
    } else if (key == QLatin1String("floataccuracy")) {
        if (n >= 0 && n <= 30)
            floatAccuracy = n;
        else
            emit statusChanged(QStringLiteral("%1: floataccuracy %2 is outside 0 to 30; kept %3")
                                   .arg(getName())
                                   .arg(n)
                                   .arg(floatAccuracy),
                               -1, 2);
    } else if (key == QLatin1String("synthindex")) {
        synthIndex = n != 0;
    } else if (key == QLatin1String("cyclic")) {
        cyclic = n != 0;
    } else if (key == QLatin1String("showcyclic")) {
        cyclicBtn->setVisible(n != 0);
    } else if (key == QLatin1String("allowbinary")) {
        allowBinary = n != 0;
    } else if (key == QLatin1String("markers")) {
        markers = n != 0;
    }
}

void SyncWriterPlugin::setOutputName(const QString& name)
{
    if (name.isEmpty())
        return;
    outName = name;
    nameChosen = true;
}

void SyncWriterPlugin::selectOutFile()
{
    const QString filter = allowBinary ? QStringLiteral("Textfiles (*.txt);;Binary Files (*.bin);;All files (*)")
                                       : QStringLiteral("Textfiles (*.txt);;All files (*)");
    const QString name =
        QFileDialog::getSaveFileName(panelFrame, QStringLiteral("Select Output File"), outName, filter);
    setOutputName(name);
}

// ---- Properties ----

void SyncWriterPlugin::setDataOrder(GPlugin::DataOrder order)
{
    props.set(StreamFormat::Order, int(order));
    packetSz = order == GPlugin::cyclic && props.rangeX() >= 1 ? props.rangeX() : -1;
    GPlugin::setDataOrder(order);
}

void SyncWriterPlugin::setDataRangeX(int value)
{
    props.set(StreamFormat::RangeX, value);
    packetSz = props.order() == GPlugin::cyclic && value >= 1 ? value : -1;
    GPlugin::setDataRangeX(value);
}

void SyncWriterPlugin::setDataEncoding(GPlugin::DataEncoding encoding)
{
    const int e = int(encoding);
    props.set(StreamFormat::Encoding, e);
    switch (e) {
    case 5:
        decodingMode = 2;
        break;
    case 9:
        decodingMode = 3;
        break;
    case 7:
        decodingMode = 4;
        break;
    case 10:
        decodingMode = 5;
        break;
    default:
        break;
    }
    const int flags = (e >> 8) & 0xff;
    if ((e & 0xff) == 1 && flags) {
        // A multiplexed 16-bit stream: one column per flag bit.
        columns = qPopulationCount(quint32(flags));
        channelMask = flags;
    } else {
        columns = 1;
        channelMask = 0xffff;
    }
    headerWritten = false;
    GPlugin::setDataEncoding(encoding);
}

void SyncWriterPlugin::setDataOffsetX(int value)
{
    props.set(StreamFormat::OffsetX, value);
    GPlugin::setDataOffsetX(value);
}

void SyncWriterPlugin::setDataOffsetVal(int value)
{
    props.set(StreamFormat::OffsetVal, value);
    GPlugin::setDataOffsetVal(value);
}

void SyncWriterPlugin::setDataPhysX(int value)
{
    props.set(StreamFormat::PhysX, value);
    GPlugin::setDataPhysX(value);
}

void SyncWriterPlugin::setDataPhysVal(int value)
{
    props.set(StreamFormat::PhysVal, value);
    GPlugin::setDataPhysVal(value);
}

void SyncWriterPlugin::setDataUnitX(int unit)
{
    props.set(StreamFormat::UnitX, unit);
    GPlugin::setDataUnitX(unit);
}

void SyncWriterPlugin::setDataUnitVal(int unit)
{
    if (props.value(StreamFormat::UnitVal) != unit)
        headerWritten = false;
    props.set(StreamFormat::UnitVal, unit);
    GPlugin::setDataUnitVal(unit);
}

void SyncWriterPlugin::updateCondition(int)
{
    // The host's conditions do not concern the writer.
}

void SyncWriterPlugin::setDataOdd(const int* data, int count, int index)
{
    if (decodingMode == 5) {
        // 10-byte time-tag records arrive as byte blocks; the decoder takes them with a negative count.
        if (logging) {
            if (!headerWritten)
                writeHeader();
            if (logging)
                writeBlock(data, -count, index);
        }
    } else {
        qDebug() << "SyncWriter::setDataOdd unexpected Decoding " << decodingMode;
    }
    GPlugin::setDataOdd(data, count, index);
}

// ---- Data ----

int SyncWriterPlugin::wordsPerSample() const
{
    if (isTimeTags())
        return 1;
    return columns * (decodingMode == 1 ? 2 : 1);
}

void SyncWriterPlugin::setData(const int* data, int count, int index)
{
    const int wps = wordsPerSample();
    const int samples = count > 0 ? count / wps : 0;
    const qint64 sampleIndex = index >= 0 ? index / wps : 0;
    const int P = packetSz;
    if (P >= 1 && !isTimeTags() && samples > 0) {
        // A packet is kept for an immediate log only up to a bound (16 MiB); larger ones are logged as they come.
        const qint64 packetWords = qint64(P) * wps;
        const int capacity = packetWords <= (1 << 22) ? int(packetWords) : 0;
        if (packet.size() != capacity) {
            packet.resize(capacity);
            packetFill = 0;
        }
        if (sampleIndex % P == 0)
            packetFill = 0;
        if (capacity > 0 && (sampleIndex % P) * wps == packetFill) {
            const int n = int(qMin<qint64>(qint64(samples) * wps, packet.size() - packetFill));
            std::memcpy(packet.data() + packetFill, data, size_t(n) * sizeof(int));
            packetFill += n;
        }
    }
    if (logging) {
        if (P >= 1 && !isTimeTags() && sampleIndex % P == 0 && headerWritten) {
            startLog(false);
            if (cyclic)
                startLog(true);
        }
        if (logging && !headerWritten)
            writeHeader();
        if (logging) {
            if (isTimeTags())
                writeBlock(data, count, index);
            else if (samples > 0)
                writeBlock(data, samples, int(qMin<qint64>(sampleIndex, INT_MAX)));
        }
    }
    GPlugin::setData(data, count, index);
}

void SyncWriterPlugin::writeBlock(const int* data, int samples, int sampleIndex)
{
    if (!isTimeTags()) {
        writeRows(data, samples, sampleIndex);
        return;
    }
    // Time tags: samples is the word count here (negative: bytes of 10-byte records).
    const int encoding = decodingMode == 2 ? 5 : decodingMode == 3 ? 9 : decodingMode == 4 ? 7 : 10;
    std::vector<qint64> out;
    decoder->decode(encoding, data, samples, [&out](const TimeTagDecoder::Event* e, int n) {
        for (int i = 0; i < n; ++i) {
            out.push_back(e[i].time);
            out.push_back(e[i].channel < 100 ? e[i].channel + 1 : e[i].channel);
        }
    });
    if (!out.empty())
        tempWrite(reinterpret_cast<const char*>(out.data()), qint64(out.size()) * 8);
}

void SyncWriterPlugin::observe56Tdc(const int* data, int count)
{
    decoder->decode(5, data, count, [](const TimeTagDecoder::Event*, int) {});
    decoder->flush();
}

void SyncWriterPlugin::writeRows(const int* data, int samples, int sampleIndex)
{
    double fx = 1, fv = 1;
    algoGetBaseUnit(props.value(StreamFormat::UnitX), nullptr, &fx);
    algoGetBaseUnit(props.value(StreamFormat::UnitVal), nullptr, &fv);
    const qint64 rangeX = props.value(StreamFormat::RangeX, 1);
    const qint64 physX = props.value(StreamFormat::PhysX, 1);
    const qint64 offsetX = props.value(StreamFormat::OffsetX, 0);
    const double offsetV = props.value(StreamFormat::OffsetVal, 0);
    int physVal = props.value(StreamFormat::PhysVal, 1);
    if (physVal == 0)
        physVal = 1;
    const double step = double(physX) * fx / (rangeX > 1 ? double(rangeX - 1) : 1.0);
    const double valueFactor = fv / physVal;
    double x0 = fx * double(offsetX);
    if (props.value(StreamFormat::Order) != 0) {
        x0 = double(offsetX - physX / 2) * fx;
        if ((physX & 1) && x0 >= 0 && double(offsetX - (physX + 1) / 2) * fx <= 0)
            x0 = 0;
    }
    if (xBase < 0) {
        xBase = 0;
        lastIndex = sampleIndex;
    }
    if (synthIndex) {
        xBase += double(lastIndex) * step;
        lastIndex = samples;
    } else {
        xBase += double(sampleIndex - lastIndex) * step;
        lastIndex = sampleIndex;
    }

    const int valuesPerColumn = decodingMode == 1 && markers ? 2 : 1;
    std::vector<double> rows;
    rows.reserve(size_t(samples) * size_t(1 + columns * valuesPerColumn));
    for (int i = 0; i < samples; ++i) {
        rows.push_back(i * step + xBase + x0);
        for (int c = 0; c < columns; ++c) {
            if (decodingMode == 1) {
                const quint32 w0 = quint32(data[2 * columns * i + c]);
                const quint32 w1 = quint32(data[2 * columns * i + columns + c]);
                double v = (double(StreamFormat::decode48(w0, w1)) - offsetV) * valueFactor;
                if (c == 0)
                    v *= firstColumnFactor;
                rows.push_back(v);
                if (markers)
                    rows.push_back(double(((w0 >> 24) & 0x7f) | (((w1 >> 24) & 0x7f) << 7)));
            } else {
                rows.push_back((double(data[i * columns + c]) - offsetV) * valueFactor);
            }
        }
    }
    tempWrite(reinterpret_cast<const char*>(rows.data()), qint64(rows.size()) * 8);
}

bool SyncWriterPlugin::tempWrite(const char* bytes, qint64 length)
{
    if (!tempFile || length <= 0)
        return tempFile != nullptr;
    if (tempFile->write(bytes, length) == length)
        return true;
    const QString why = tempFile->errorString();
    showError(QStringLiteral("Error writing temporary file %1\n%2\nThe log stopped; the rows before are kept.")
                  .arg(QDir::toNativeSeparators(tempName), why));
    startLog(false);
    return false;
}

void SyncWriterPlugin::writeHeader()
{
    QString desc = description;
    if (decodingMode == 1 && desc == QLatin1String("Orvik Data Log"))
        desc = (props.value(StreamFormat::UnitVal) & ~0xff) == 0x900 ? QStringLiteral("Position 1, Angles 1/2, 1/3")
                                                                     : QStringLiteral("Positions 1..3");
    QString h = QStringLiteral("# %1\n").arg(desc);
    h += QStringLiteral("# %1\n").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    if (!snapshotLines.isEmpty()) {
        DataList data;
        QString text;
        emit requestParamSnapshot(snapshotLines, data, text, QStringLiteral("# "));
        h += text;
    }
    const int unitVal = props.value(StreamFormat::UnitVal);
    if (isTimeTags()) {
        // The time unit of the tags: 1000^(prefix power) / PhysVal seconds, as the histogram filter reads it.
        const int physVal = props.value(StreamFormat::PhysVal, 1);
        const double tau = std::pow(1000.0, (unitVal & 0xff) - 128) / (physVal ? physVal : 1);
        h += QStringLiteral("# Unit t: %1ps\n").arg(tau * 1e12, 0, 'f', 3);
    } else {
        h += QStringLiteral("# Unit t: %1\n").arg(algoGetBaseUnit(props.value(StreamFormat::UnitX)));
    }
    if ((unitVal & ~0xff) == 0x900)
        h += QStringLiteral("# Unit X[1]: m\n# Unit X[2]: deg\n# Unit X[3]: deg\n");
    else
        h += QStringLiteral("# Unit X: %1\n").arg(algoGetBaseUnit(unitVal));
    h += QStringLiteral("# t");
    const int shown = isTimeTags() ? 1 : columns;
    for (int c = 0; c < shown; ++c) {
        if (isTimeTags())
            h += QStringLiteral(" ; channel");
        else if (c < columnDescriptions.size() && !columnDescriptions.at(c).isEmpty())
            h += QStringLiteral(" ; %1").arg(columnDescriptions.at(c));
        else
            h += QStringLiteral(" ; X[%1]").arg(c + 1);
        if (decodingMode == 1 && markers)
            h += QStringLiteral(" ; Marker[%1]").arg(c + 1);
    }
    h += QLatin1Char('\n');
    // The byte 64 ends the text block, so it cannot appear inside it.
    h.replace(QLatin1Char(textEnd), QStringLiteral("(at)"));
    QByteArray block(CopyThread::textMarker, 8);
    block += h.toUtf8();
    block += textEnd;
    headerWritten = true;
    tempWrite(block.constData(), block.size());
}

// ---- Logging ----

QString SyncWriterPlugin::nextOutputName() const
{
    auto taken = [this](const QString& name) {
        if (QFileInfo::exists(name))
            return true;
        // A conversion still running writes its output under a temporary name first.
        for (const CopyThread* t : copyThreads)
            if (QFileInfo(t->outputName()).absoluteFilePath() == QFileInfo(name).absoluteFilePath())
                return true;
        return false;
    };
    QString name = outName;
    for (int i = 0; i < 1000000 && taken(name); ++i)
        name = increaseFileNumber(QFileInfo(name));
    return name;
}

void SyncWriterPlugin::startLog(bool on)
{
    if (on) {
        if (logging)
            startLog(false);
        headerWritten = false;
        xBase = -1.0;
        decoder->flush();
        QTemporaryFile temp(QDir::tempPath() + QStringLiteral("/orvik-syncwriter-XXXXXX.tmp"));
        temp.setAutoRemove(false);
        if (!temp.open()) {
            showError(QStringLiteral("Error opening temporary file"));
            logging = false;
        } else {
            tempName = temp.fileName();
            temp.close();
            tempFile = std::make_unique<QFile>(tempName);
            if (tempFile->open(QIODevice::ReadWrite)) {
                logging = true;
            } else {
                tempFile.reset();
                QFile::remove(tempName);
                showError(QStringLiteral("Error opening temporary file"));
                logging = false;
            }
        }
    } else {
        logging = false;
        if (tempFile) {
            const bool flushed = tempFile->flush();
            tempFile.reset();
            if (!flushed)
                showError(QStringLiteral("Error writing temporary file %1").arg(QDir::toNativeSeparators(tempName)));
            if (!nameChosen)
                outName = nextOutputName();
            nameChosen = false;
            int cols, precision;
            if (isTimeTags()) {
                cols = 2;
                precision = outName.endsWith(QLatin1String("bin")) ? -2 : -1;
            } else {
                cols = (decodingMode == 1 && markers ? 2 * columns : columns) + 1;
                precision = floatAccuracy;
            }
            auto* thread = new CopyThread(tempName, outName, cols, precision);
            copyThreads << thread;
            tempName.clear();
            thread->start();
        }
    }
    updateStateDisplay();
}

void SyncWriterPlugin::writePacketNow()
{
    const int wps = wordsPerSample();
    if (packetSz < 1 || isTimeTags() || packetFill < packet.size() || packet.isEmpty())
        return;
    if (!headerWritten)
        writeHeader();
    if (logging)
        writeBlock(packet.constData(), packet.size() / wps, 0);
    startLog(false);
    if (cyclic)
        startLog(true);
}

void SyncWriterPlugin::onStartWrite(bool start)
{
    if (start) {
        startLog(true);
        if (logging)
            writePacketNow();
    } else {
        startLog(false);
    }
}

void SyncWriterPlugin::onAutoWrite(bool start)
{
    cyclic = start;
    {
        const QSignalBlocker b(singleBtn);
        singleBtn->setChecked(false);
    }
    singleBtn->setEnabled(!start);
    onStartWrite(start);
}

void SyncWriterPlugin::updateStateDisplay()
{
    for (int i = copyThreads.size() - 1; i >= 0; --i) {
        CopyThread* t = copyThreads.at(i);
        if (!t->finishedFlag())
            continue;
        t->wait();
        copyThreads.removeAt(i);
        const QString message = t->message();
        delete t;
        if (!message.isEmpty())
            showError(message);
    }
    if (!panelFrame)
        return;
    stateLabel->setText(stateText());
    if (!copyThreads.isEmpty())
        stateTimer->start();
    const QSignalBlocker b(singleBtn);
    singleBtn->setChecked(logging && !cyclic);
    {
        const QSignalBlocker c(cyclicBtn);
        cyclicBtn->setChecked(logging && cyclic);
    }
    outFileBtn->setEnabled(!logging);
}

QString SyncWriterPlugin::stateText() const
{
    if (!copyThreads.isEmpty())
        return QStringLiteral("Saving");
    return logging ? QStringLiteral("Recording") : QStringLiteral("Idle");
}

bool SyncWriterPlugin::waitForConversions(int ms)
{
    QDeadlineTimer deadline(ms);
    for (CopyThread* t : copyThreads) {
        if (!t->wait(deadline))
            break;
    }
    updateStateDisplay();
    return copyThreads.isEmpty();
}

void SyncWriterPlugin::showError(const QString& text)
{
    emit statusChanged(QStringLiteral("%1: %2").arg(getName(), text), -1, 2);
    if (_messageBoxes)
        showInErrorBox(errorBox, panelFrame, text);
}
