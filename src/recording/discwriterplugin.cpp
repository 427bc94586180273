#include "recording/discwriterplugin.h"

#include "recording/errorbox.h"
#include "recording/filenumbering.h"
#include "recording/recordfile.h"
#include "recording/timetags.h"
#include "utilif/algo.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtEndian>

#include <climits>
#include <vector>

const GPlugin::PluginDescriptor
    DiscWriterPlugin::_descriptor(QStringLiteral("Disc Writer"),
                                  QStringLiteral("Saves data stream to disk or replays saved file."), 0x1010,
                                  discWriterFactory);

bool DiscWriterPlugin::_messageBoxes = true;

GPlugin* discWriterFactory(QWidget* parent, QString name)
{
    return new DiscWriterPlugin(parent, name);
}

namespace {

constexpr int recordsPerTick = 50;

// Little-endian words of a record head.
QByteArray words(std::initializer_list<qint32> list)
{
    QByteArray b(int(list.size()) * 4, Qt::Uninitialized);
    char* p = b.data();
    for (qint32 w : list) {
        qToLittleEndian(w, p);
        p += 4;
    }
    return b;
}

QByteArray hex(qint64 v)
{
    return QByteArray::number(quint32(v), 16);
}

bool sameFile(const QString& a, const QString& b)
{
    return !a.isEmpty() && !b.isEmpty() && QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

QString conflictText(const QString& file)
{
    return QStringLiteral("Can't use file '%1'\nfor reading and writing at the same time.").arg(file);
}

} // namespace

DiscWriterPlugin::DiscWriterPlugin(QWidget* parent, QString name)
    : GPlugin(parent, std::move(name), &_descriptor), sink(std::make_unique<RecordSink>()),
      tdc(std::make_unique<TimeTagDecoder>())
{
    panelFrame = new QFrame(parent);
    panelFrame->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    auto* grid = new QGridLayout(panelFrame);
    grid->setContentsMargins(3, 3, 3, 3);
    grid->setSpacing(3);

    auto button = [this](const QString& text, const QString& tip, bool checkable) {
        auto* b = new QPushButton(text, panelFrame);
        b->setToolTip(tip);
        b->setCheckable(checkable);
        return b;
    };
    readBtn = button(QStringLiteral("Read"), QStringLiteral("Start reading data from file."), true);
    inFileBtn = button(QStringLiteral("In..."), QStringLiteral("Select file for reading."), false);
    writeBtn = button(QStringLiteral("Write"), QStringLiteral("Write all data to output file."), true);
    outFileBtn = button(QStringLiteral("Out..."), QStringLiteral("Select file for writing."), false);
    fragmentBtn = button(QStringLiteral("Frames"), QStringLiteral("Fragment data stream into multiple files."), true);
    blockBtn = button(QStringLiteral("Block"), QStringLiteral("Cut off further data processing."), true);
    formatCombo = new QComboBox(panelFrame);
    formatCombo->addItems(
        {QStringLiteral("decimal"), QStringLiteral("hex"), QStringLiteral("binary"), QStringLiteral("debug")});
    formatCombo->setToolTip(QStringLiteral("File format of output file.\ndecimal: human readable, in physical units\n"
                                           "hex:     human readable, hexadecimal, raw data\n"
                                           "binary:  fast recording, can be read back,\n"
                                           "debug:   like hex with additional debug data."));
    readBtn->setEnabled(false);
    writeBtn->setEnabled(false);
    grid->addWidget(readBtn, 0, 0);
    grid->addWidget(inFileBtn, 0, 1);
    grid->addWidget(writeBtn, 1, 0);
    grid->addWidget(outFileBtn, 1, 1);
    grid->addWidget(fragmentBtn, 1, 2);
    grid->addWidget(blockBtn, 1, 3);
    grid->addWidget(formatCombo, 1, 4);
    grid->setColumnStretch(3, 1);
    for (QPushButton* b : {inFileBtn, readBtn, blockBtn, fragmentBtn})
        b->hide();

    connect(readBtn, &QPushButton::clicked, this, &DiscWriterPlugin::startRead);
    connect(inFileBtn, &QPushButton::clicked, this, &DiscWriterPlugin::selectInFile);
    connect(writeBtn, &QPushButton::clicked, this, &DiscWriterPlugin::startWrite);
    connect(outFileBtn, &QPushButton::clicked, this, &DiscWriterPlugin::selectOutFile);
    connect(fragmentBtn, &QPushButton::clicked, this, &DiscWriterPlugin::fragment);
    connect(blockBtn, &QPushButton::clicked, this, &DiscWriterPlugin::block);

    replayTimer = new QTimer(this);
    replayTimer->setInterval(0);
    connect(replayTimer, &QTimer::timeout, this, &DiscWriterPlugin::doRead);

    menu = new QMenu(getName());
    auto* group = new QActionGroup(menu);
    group->setExclusive(true);
    offAction = menu->addAction(QStringLiteral("Off"));
    permanentAction = menu->addAction(QStringLiteral("Permanent"));
    perFrameAction = menu->addAction(QStringLiteral("Per Frame"));
    for (QAction* a : {offAction, permanentAction, perFrameAction}) {
        a->setCheckable(true);
        group->addAction(a);
        connect(a, &QAction::triggered, this, &DiscWriterPlugin::teleMenuAction);
    }
    offAction->setChecked(true);

    const QString dir = GPlugin::prefs() && GPlugin::prefs()->snapshotDir ? *GPlugin::prefs()->snapshotDir : QString();
    outName = dir + QLatin1Char('/') + getName() + QStringLiteral(".txt");
    outName.replace(QLatin1Char(' '), QLatin1Char('-'));
    if (dir.isEmpty())
        outName = outName.mid(1);
}

DiscWriterPlugin::~DiscWriterPlugin()
{
    replayTimer->stop();
    writing = false;
    closeOutput();
    inFile.reset();
    delete menu;
    delete errorBox.data();
    delete panelFrame.data();
}

void DiscWriterPlugin::setMessageBoxes(bool on)
{
    _messageBoxes = on;
}

QWidget* DiscWriterPlugin::getWidget()
{
    return panelFrame;
}

DiscWriterPlugin::Format DiscWriterPlugin::format() const
{
    return Format(formatCombo->currentIndex());
}

void DiscWriterPlugin::setFormat(Format f)
{
    formatCombo->setCurrentIndex(qBound(0, int(f), 3));
}

void DiscWriterPlugin::setOption(QString key, QString value)
{
    key = key.toLower();
    bool isInt = false;
    const int n = value.toInt(&isInt);
    if (key == QLatin1String("description")) {
        description = value;
    } else if (key == QLatin1String("decoding")) {
        if (value == QLatin1String("int32"))
            forcedEncoding = 0;
        else if (value == QLatin1String("int56tdc"))
            forcedEncoding = 5;
        else
            forcedEncoding = -1;
    } else if (!isInt) {
        return;
    } else if (key == QLatin1String("displayread")) {
        if (n) {
            inFileBtn->show();
            readBtn->show();
        }
    } else if (key == QLatin1String("displayblock")) {
        if (n)
            blockBtn->show();
    } else if (key == QLatin1String("displayfragment")) {
        if (n)
            fragmentBtn->show();
    } else if (key == QLatin1String("displaymode")) {
        if (n == 0)
            formatCombo->hide();
    } else if (key == QLatin1String("displayany")) {
        if (n == 0 && panelFrame)
            panelFrame->hide();
    } else if (key == QLatin1String("fragment")) {
        if (n)
            fragment(true);
    } else if (key == QLatin1String("twocolumn")) {
        twoColumn = n != 0;
    } else if (key == QLatin1String("textheader")) {
        textHeader = n != 0;
    } else if (key == QLatin1String("floataccuracy")) {
        if (n >= 1 && n <= 17)
            floatAccuracy = n;
        else
            emit statusChanged(QStringLiteral("%1: floataccuracy %2 is outside 1 to 17; kept %3")
                                   .arg(getName())
                                   .arg(n)
                                   .arg(floatAccuracy),
                               -1, 2);
    }
}

QString DiscWriterPlugin::getToolTip(const QPoint&) const
{
    QString text = sink->isOpen() ? QStringLiteral("Writer: %1\n  %2 records written\n").arg(outName).arg(written)
                                  : QStringLiteral("Writer: -\n");
    if (inFile && inFile->isOpen())
        text += QStringLiteral("Reader: %1\n  recorded %2\n  %3 records read")
                    .arg(inFileNamePart, QLocale().toString(recorded, QLocale::ShortFormat))
                    .arg(readCount);
    else
        text += QStringLiteral("Reader: -");
    return text;
}

void DiscWriterPlugin::checkForPartner(QString partner, GPlugin* ptr)
{
    if (!ptr)
        emit searchPartner(getName(), this);
    Q_UNUSED(partner);
}

// ---- The stream from upstream ----

void DiscWriterPlugin::init()
{
    upstreamInit = true;
    if (replaying)
        return;
    if (refreshPending)
        refresh(); // sends init among the stored values
    else
        initInt();
}

void DiscWriterPlugin::fromUpstream(StreamFormat::Property p, int value)
{
    upstream.set(p, value);
    if (replaying)
        return;
    if (refreshPending)
        refresh(); // sends every stored value, this one included
    else
        propertyInt(p, value);
}

void DiscWriterPlugin::setData(const int* data, int count, int index)
{
    if (replaying)
        return;
    if (refreshPending)
        refresh();
    writeData(data, count, index);
}

void DiscWriterPlugin::initInt()
{
    if (writing && fragmenting && written > 0)
        openOutFile(getNextFrameFilename());
    if (writing)
        writeProperty(StreamFormat::RecInit, 0);
    if (successor)
        successor->init();
}

void DiscWriterPlugin::propertyInt(StreamFormat::Property p, int value)
{
    if (output.set(p, value)) {
        const int type = StreamFormat::info(p).recordType;
        if (writing)
            writeProperty(type, value);
        if (p == StreamFormat::Order || p == StreamFormat::RangeX || p == StreamFormat::RangeY)
            computeFrameSize();
        if (p == StreamFormat::UnitX || p == StreamFormat::UnitVal || p == StreamFormat::PhysX)
            headerWritten = false; // the decimal format repeats its header before the next data line
    }
    StreamFormat::deliver(successor, p, value);
}

void DiscWriterPlugin::refresh()
{
    refreshPending = false;
    if (upstreamInit)
        initInt();
    for (int type = 0; type < StreamFormat::RecordTypeCount; ++type) {
        StreamFormat::Property p;
        if (StreamFormat::fromRecordType(type, &p) && upstream.isSet(p))
            propertyInt(p, upstream.value(p));
    }
}

void DiscWriterPlugin::computeFrameSize()
{
    frameSz = -1;
    const StreamFormat& t = active();
    if (!fragmenting || !t.isSet(StreamFormat::Order) || !t.isSet(StreamFormat::RangeX))
        return;
    const qint64 x = t.rangeX();
    const qint64 y = t.rangeY();
    qint64 size = -1;
    switch (t.value(StreamFormat::Order)) {
    case 2:
        size = x;
        break;
    case 3:
    case 5:
        size = t.isSet(StreamFormat::RangeY) ? x * y : -1;
        break;
    case 4:
    case 6:
        size = t.isSet(StreamFormat::RangeY) ? 2 * x * y : -1;
        break;
    default:
        break;
    }
    // A size the stream cannot have (zero, negative, beyond an int) splits nothing.
    frameSz = size > 0 && size <= INT_MAX ? int(size) : -1;
}

bool DiscWriterPlugin::timeTags() const
{
    const int encoding = forcedEncoding >= 0 ? forcedEncoding : active().value(StreamFormat::Encoding);
    return encoding == 5;
}

void DiscWriterPlugin::writeData(const int* data, int count, int index)
{
    if (writing && count > 0) {
        if (frameSz <= 0 || index < 0) {
            if (writeDataRecord(data, count, index))
                written += count;
        } else {
            int pos = 0;
            while (pos < count && writing) {
                const qint64 i = qint64(index) + pos;
                const int inFrame = int(i % frameSz);
                const int end = int(qMin<qint64>(count, pos + qint64(frameSz - inFrame)));
                if (inFrame == 0 && written > 0) {
                    openOutFile(getNextFrameFilename());
                    writing = sink->isOpen();
                    if (!writing) {
                        updateControls();
                        emit writingChanged(false);
                        break;
                    }
                }
                if (writeDataRecord(data + pos, end - pos, int(i)))
                    written += end - pos;
                pos = end;
            }
        }
    }
    if (!(writing && blocked) && successor)
        successor->setData(data, count, index);
}

// ---- Writing records ----

bool DiscWriterPlugin::sinkWrite(const QByteArray& bytes)
{
    if (!sink->isOpen())
        return false;
    if (sink->write(bytes))
        return true;
    writeFailed();
    return false;
}

void DiscWriterPlugin::writeFailed()
{
    const QString file = QFileInfo(sink->fileName()).absoluteFilePath();
    const QString why = sink->errorString();
    sink->abandon();
    const bool was = writing;
    writing = false;
    updateControls();
    showError(QStringLiteral("Error writing output file %1\n%2\nThe recording stopped; the file holds the data up to "
                             "the last complete record.")
                  .arg(QDir::toNativeSeparators(file), why));
    if (was)
        emit writingChanged(false);
}

bool DiscWriterPlugin::writeFileStart()
{
    const StreamFormat& t = active();
    if (outFormat == Binary && timeTags())
        return true;
    const QDateTime now = QDateTime::currentDateTime();
    const int stamp[6] = {now.date().year(), now.date().month(),  now.date().day(),
                          now.time().hour(), now.time().minute(), now.time().second()};
    if (outFormat == Binary) {
        QByteArray b = words({StreamFormat::RecTimestamp, 6});
        for (int v : stamp)
            b += words({v});
        if (upstreamInit && !replaying)
            b += words({StreamFormat::RecInit, 0});
        for (int type = 0; type < StreamFormat::RecordTypeCount; ++type) {
            StreamFormat::Property p;
            if (StreamFormat::fromRecordType(type, &p) && t.isSet(p))
                b += words({type, t.value(p)});
        }
        return sinkWrite(b);
    }
    if (outFormat == Debug) {
        QByteArray b = "Timestamp Count=6\n";
        for (int v : stamp)
            b += hex(v) + '\n';
        for (int type = 0; type < StreamFormat::RecordTypeCount; ++type) {
            StreamFormat::Property p;
            if (StreamFormat::fromRecordType(type, &p) && t.isSet(p))
                b += QByteArray(StreamFormat::recordTypeName(type)) + '=' + hex(t.value(p)) + '\n';
        }
        return sinkWrite(b);
    }
    return true;
}

bool DiscWriterPlugin::writeProperty(int type, int value)
{
    if (outFormat == Binary && !timeTags())
        return sinkWrite(words({type, value}));
    if (outFormat == Debug)
        return sinkWrite(QByteArray(StreamFormat::recordTypeName(type)) + '=' + hex(value) + '\n');
    return true;
}

QByteArray DiscWriterPlugin::decodeTimeTags(const int* data, int count, bool binary)
{
    QByteArray out;
    tdc->decode(5, data, count, [&out, binary](const TimeTagDecoder::Event* e, int n) {
        for (int i = 0; i < n; ++i) {
            if (binary) {
                char rec[10];
                qToLittleEndian<qint64>(e[i].time, rec);
                qToLittleEndian<quint16>(quint16(e[i].channel), rec + 8);
                out.append(rec, 10);
            } else {
                out += QByteArray::number(e[i].time) + " , " + QByteArray::number(e[i].channel) + '\n';
            }
        }
    });
    return out;
}

bool DiscWriterPlugin::writeDataRecord(const int* data, int count, int index)
{
    if (!sink->isOpen())
        return false;
    const bool tags = timeTags();
    if (outFormat == Binary) {
        if (tags)
            return sinkWrite(decodeTimeTags(data, count, true));
        const QByteArray head = words({StreamFormat::RecIndex, index, StreamFormat::RecData, count});
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        if (sink->write(head.constData(), head.size(), reinterpret_cast<const char*>(data), qint64(count) * 4))
            return true;
#else
        std::vector<qint32> le(data, data + count);
        for (qint32& w : le)
            w = qToLittleEndian(w);
        if (sink->write(head.constData(), head.size(), reinterpret_cast<const char*>(le.data()), qint64(count) * 4))
            return true;
#endif
        writeFailed();
        return false;
    }

    QByteArray text;
    if (outFormat == Debug) {
        const qint64 diff = hasLastData ? lastData.restart() : 0;
        if (!hasLastData) {
            lastData.start();
            hasLastData = true;
        }
        text += "Index=" + hex(index) + '\n';
        text += "TimeDiff=" + QByteArray::number(qAbs(diff)) + '\n';
        text += "Data Count=" + hex(count) + '\n';
    }
    if (tags) {
        text += decodeTimeTags(data, count, false);
        return sinkWrite(text);
    }
    if (outFormat == Hex || outFormat == Debug) {
        text.reserve(text.size() + count * 9);
        for (int i = 0; i < count; ++i)
            text += hex(data[i]) + '\n';
        return sinkWrite(text);
    }

    // Decimal: physical units, with the header before the first line and after a change of the units or PhysX.
    if (textHeader && !headerWritten && !writeTextHeader())
        return false;
    const StreamFormat& t = active();
    double fx = 1, fv = 1;
    const QString unitXName = algoGetBaseUnit(t.value(StreamFormat::UnitX), nullptr, &fx);
    const QString unitValName = algoGetBaseUnit(t.value(StreamFormat::UnitVal), nullptr, &fv);
    const QByteArray ux = textHeader ? QByteArray() : unitXName.toLatin1();
    const QByteArray uv = textHeader ? QByteArray() : unitValName.toLatin1();
    const qint64 rangeX = t.value(StreamFormat::RangeX, 1);
    const qint64 physX = t.value(StreamFormat::PhysX, 1);
    const qint64 offsetX = t.value(StreamFormat::OffsetX, 0);
    const qint64 offsetV = t.value(StreamFormat::OffsetVal, 0);
    int physVal = t.value(StreamFormat::PhysVal, 1);
    if (physVal == 0)
        physVal = 1; // a value scale of 0 would turn every value into infinity
    const double d = rangeX > 1 ? double(rangeX - 1) : 1.0;
    double x0 = fx * double(offsetX);
    if (t.value(StreamFormat::Order) != 0) {
        x0 = double(offsetX - physX / 2) * fx;
        if ((physX & 1) && x0 >= 0 && double(offsetX - (physX + 1) / 2) * fx <= 0)
            x0 = 0;
    }
    const double vf = fv / physVal;
    text.reserve(count * (twoColumn ? 2 * (floatAccuracy + 10) : floatAccuracy + 10));
    for (int k = 0; k < count; ++k) {
        if (twoColumn) {
            const double x = double(qint64(index) + k) * double(physX) * fx / d + x0;
            text += QByteArray::number(x, 'e', floatAccuracy) + ' ' + ux + " ; ";
        }
        const double v = double(qint64(data[k]) - offsetV) * vf;
        text += QByteArray::number(v, 'e', floatAccuracy) + ' ' + uv + '\n';
    }
    return sinkWrite(text);
}

bool DiscWriterPlugin::writeTextHeader()
{
    const StreamFormat& t = active();
    double fx = 1;
    const QString ux = algoGetBaseUnit(t.value(StreamFormat::UnitX), nullptr, &fx);
    const QString uv = algoGetBaseUnit(t.value(StreamFormat::UnitVal));
    QString h =
        description.isEmpty() ? QStringLiteral("# Orvik data log\n") : QStringLiteral("# %1\n").arg(description);
    h += QStringLiteral("# %1\n").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")));
    if (twoColumn) {
        h += QStringLiteral("# Unit X: %1\n# Unit Y: %2\n# X ; Y\n").arg(ux, uv);
    } else {
        const qint64 rangeX = t.value(StreamFormat::RangeX, 1);
        const double d = rangeX > 1 ? double(rangeX - 1) : 1.0;
        const double step = fx * t.value(StreamFormat::PhysX, 1) / d;
        h += QStringLiteral("# Step X: %1 %2\n# Unit Y: %3\n").arg(QString::number(step, 'e', floatAccuracy), ux, uv);
    }
    headerWritten = true;
    return sinkWrite(h.toLatin1());
}

// ---- Files ----

QString DiscWriterPlugin::getNextFrameFilename() const
{
    QString name = outName;
    // A bound keeps a folder full of numbered names from stalling the chain; the numbers only grow.
    for (int i = 0; i < 1000000 && QFileInfo::exists(name); ++i)
        name = increaseFileNumber(QFileInfo(name));
    return name;
}

void DiscWriterPlugin::closeOutput()
{
    if (!sink->isOpen())
        return;
    const QString file = sink->fileName();
    const bool empty = written == 0;
    if (!sink->close()) {
        const QString why = sink->errorString();
        showError(QStringLiteral("Error writing output file %1\n%2\nThe file may be incomplete.")
                      .arg(QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()), why));
        return;
    }
    // A file that received no data is removed rather than left as a header without a recording.
    if (empty)
        QFile::remove(file);
}

void DiscWriterPlugin::openOutFile(QString name)
{
    closeOutput();
    headerWritten = false;
    outName = name;
    if (name.isEmpty()) {
        updateControls();
        return;
    }
    if (inFile && sameFile(name, inName)) {
        outName.clear();
        showError(conflictText(name));
        updateControls();
        return;
    }
    outFormat = formatCombo->currentIndex();
    hexIntegers = outFormat != Decimal;
    written = 0;
    hasLastData = false;
    if (!sink->open(name)) {
        outName.clear();
        showError(QStringLiteral("Error opening output file"));
        updateControls();
        return;
    }
    if (writeFileStart() && !sink->flush())
        writeFailed();
    updateControls();
}

void DiscWriterPlugin::closeOutFile()
{
    const bool was = writing;
    writing = false;
    closeOutput();
    updateControls();
    if (was)
        emit writingChanged(false);
}

void DiscWriterPlugin::startWrite(bool on)
{
    if (on) {
        if (writing)
            closeOutFile();
        tdc->flush();
        closeOutput(); // a file opened only to check the name goes before the next free name is looked for
        openOutFile(fragmenting ? getNextFrameFilename() : outName);
        writing = sink->isOpen();
        updateControls();
        if (writing)
            emit writingChanged(true);
    } else {
        closeOutFile();
    }
}

void DiscWriterPlugin::block(bool on)
{
    blocked = on;
    updateControls();
}

void DiscWriterPlugin::fragment(bool on)
{
    fragmenting = on;
    computeFrameSize();
    updateControls();
}

void DiscWriterPlugin::selectOutFile()
{
    const QString dir = GPlugin::prefs() && GPlugin::prefs()->snapshotDir ? *GPlugin::prefs()->snapshotDir : QString();
    const QString name = QFileDialog::getSaveFileName(panelFrame, QStringLiteral("Select Output File"),
                                                      outName.isEmpty() ? dir : outName,
                                                      QStringLiteral("Textfiles (*.txt);;All files (*)"));
    if (name.isEmpty() || !resolveConflict(name, true))
        return;
    openOutFile(name);
    closeOutput(); // the file was created to check that it can be; it fills when writing starts
    updateControls();
}

void DiscWriterPlugin::selectInFile()
{
    const QString dir = GPlugin::prefs() && GPlugin::prefs()->snapshotDir ? *GPlugin::prefs()->snapshotDir : QString();
    const QString name =
        QFileDialog::getOpenFileName(panelFrame, QStringLiteral("Select Input File"), inName.isEmpty() ? dir : inName,
                                     QStringLiteral("Textfiles (*.txt);;All files (*)"));
    if (name.isEmpty() || !resolveConflict(name, false))
        return;
    openInFile(name);
}

bool DiscWriterPlugin::resolveConflict(const QString& file, bool forWriting)
{
    const bool conflict = forWriting ? (inFile && sameFile(file, inName)) : (sink->isOpen() && sameFile(file, outName));
    if (!conflict)
        return true;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("File conflict"), conflictText(file), QMessageBox::NoButton,
                    panelFrame);
    QPushButton* close =
        box.addButton(forWriting ? QStringLiteral("Close for reading") : QStringLiteral("Close for writing"),
                      QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() != close)
        return false;
    if (forWriting) {
        stopRead(QString());
        inFile.reset();
        reader.reset();
        inName.clear();
    } else {
        closeOutFile();
    }
    updateControls();
    return true;
}

// ---- Replay ----

void DiscWriterPlugin::openInFile(QString name)
{
    if (replaying)
        stopRead(QString());
    reader.reset();
    inFile.reset();
    recorded = QDateTime();
    inName = name;
    inFileNamePart = QFileInfo(name).fileName();
    if (name.isEmpty()) {
        updateControls();
        return;
    }
    if (sink->isOpen() && sameFile(name, outName)) {
        inName.clear();
        showError(conflictText(name));
        updateControls();
        return;
    }
    inFile = std::make_unique<QFile>(name);
    if (!inFile->open(QIODevice::ReadOnly)) {
        inFile.reset();
        inName.clear();
        showError(QStringLiteral("Error opening input file"));
        updateControls();
        return;
    }
    reader = std::make_unique<RecordReader>(inFile.get());
    if (reader->next() == RecordReader::Ok && reader->type() == StreamFormat::RecTimestamp && reader->count() == 6) {
        const qint32* w = reader->words();
        recorded = QDateTime(QDate(w[0], w[1], w[2]), QTime(w[3], w[4], w[5]));
    }
    updateControls();
}

void DiscWriterPlugin::startRead(bool on)
{
    if (!on) {
        stopRead(QString());
        return;
    }
    if (replaying)
        stopRead(QString());
    reader.reset();
    inFile.reset();
    replayIndex = 0;
    readCount = 0;
    if (!inName.isEmpty()) {
        inFile = std::make_unique<QFile>(inName);
        if (!inFile->open(QIODevice::ReadOnly))
            inFile.reset();
    }
    if (!inFile) {
        stopRead(QStringLiteral("Error opening input file"));
        return;
    }
    reader = std::make_unique<RecordReader>(inFile.get());
    output.clear();
    replaying = true;
    computeFrameSize();
    replayTimer->start();
    updateControls();
    emit readingChanged(true);
}

void DiscWriterPlugin::stopRead(const QString& error)
{
    replayTimer->stop();
    const bool was = replaying;
    replaying = false;
    if (was)
        refreshPending = true;
    computeFrameSize();
    updateControls();
    if (!error.isEmpty())
        showError(error);
    if (was)
        emit readingChanged(false);
}

void DiscWriterPlugin::doRead()
{
    for (int k = 0; k < recordsPerTick && replaying && reader; ++k) {
        const RecordReader::Status status = reader->next();
        if (status == RecordReader::End) {
            stopRead(QString());
            emit statusChanged(QStringLiteral("%1: replay of %2 finished, %3 words read")
                                   .arg(getName(), inFileNamePart)
                                   .arg(readCount),
                               -1, 0);
            return;
        }
        if (status != RecordReader::Ok) {
            stopRead(QStringLiteral("%1\n%2 (at byte %3)")
                         .arg(RecordReader::message(status), inFileNamePart)
                         .arg(reader->recordStart()));
            return;
        }
        const int type = reader->type();
        const qint32* w = reader->words();
        StreamFormat::Property p;
        if (type == StreamFormat::RecData) {
            readCount += reader->count();
            writeData(w, reader->count(), int(qBound<qint64>(INT_MIN, replayIndex, INT_MAX)));
            replayIndex += reader->count();
        } else if (type == StreamFormat::RecIndex) {
            replayIndex = w[0];
        } else if (type == StreamFormat::RecInit) {
            initInt();
        } else if (type == StreamFormat::RecTimestamp) {
            // The start time of a (possibly appended) file: nothing to pass on.
        } else if (StreamFormat::fromRecordType(type, &p)) {
            propertyInt(p, w[0]);
        } else {
            stopRead(QStringLiteral("Unexpected format of input file\n(Unknown record type)"));
            return;
        }
    }
}

// ---- Controls and messages ----

void DiscWriterPlugin::updateControls()
{
    if (!panelFrame)
        return;
    const bool outOpen = sink->isOpen();
    const QSignalBlocker b1(readBtn), b2(writeBtn), b3(fragmentBtn), b4(blockBtn);
    readBtn->setEnabled(inFile != nullptr);
    readBtn->setChecked(replaying);
    inFileBtn->setEnabled(!replaying);
    writeBtn->setEnabled(!outName.isEmpty());
    writeBtn->setChecked(writing);
    formatCombo->setEnabled(!outOpen);
    outFileBtn->setEnabled(!outOpen);
    fragmentBtn->setChecked(fragmenting);
    blockBtn->setChecked(blocked);
    QAction* checked = !writing ? offAction : (fragmenting ? perFrameAction : permanentAction);
    checked->setChecked(true);
}

void DiscWriterPlugin::showError(const QString& text)
{
    emit statusChanged(QStringLiteral("%1: %2").arg(getName(), text), -1, 2);
    if (_messageBoxes)
        showInErrorBox(errorBox, panelFrame, text);
}

void DiscWriterPlugin::teleMenuAction()
{
    auto* action = qobject_cast<QAction*>(sender());
    if (outName.isEmpty()) {
        selectOutFile();
        if (outName.isEmpty()) {
            updateControls();
            return;
        }
    }
    if (action == offAction) {
        startWrite(false);
    } else if (action == permanentAction) {
        fragment(false);
        startWrite(true);
    } else if (action == perFrameAction) {
        fragment(true);
        startWrite(true);
    }
    updateControls();
}
