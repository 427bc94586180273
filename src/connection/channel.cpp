#include "connection/channel.h"

#include "connection/viewpage.h"
#include "snapshot/snapshotmgr.h"
#include "utilif/error.h"
#include "utilif/framebuffer.h"

#include <QFile>
#include <QTimer>

const GPlugin::PrefData* Channel::_prefs = &GPlugin::dfltPrefs;

ChannelSnBuffer::ChannelSnBuffer(const FrameBuffer& source, const QByteArray& title, bool ascMatrix)
    : buffer(new FrameBuffer(source, source.frameMode() >= 2)), fileTitle(title), matrix(ascMatrix)
{
}

ChannelSnBuffer::~ChannelSnBuffer()
{
    delete buffer;
}

Channel::Channel(int number, QObject* parent, const QMap<int, DataGroup>& groups)
    : QObject(parent), groups(&groups), number(number), buffer(new FrameBuffer)
{
    snapshotManager = new SnapshotMgr(QStringLiteral("Channel_%1").arg(number), _prefs, this, number, this);
}

Channel::~Channel()
{
    // The manager calls back into this provider while its background stores end: take it down first.
    delete snapshotManager;
    delete buffer;
}

QList<GPlugin*> Channel::receivers() const
{
    QList<GPlugin*> list;
    for (ViewPage* page : pages)
        if (GPlugin* head = page->getReceiver())
            list.append(head);
    return list;
}

void Channel::fireStoreTrigger()
{
    samplesSinceTrigger = 0;
    SnapshotMgr::executeTriggerGlobally(SnapshotMgr::trgChannelComplete, number);
}

void Channel::sendData(const int* data, int count, int index)
{
    try {
        distributeData(data, count, index);
    } catch (const OomError&) {
        outOfMemory();
    }
}

void Channel::distributeData(const int* data, int count, int index)
{
    if (stopped)
        return;
    if (!data)
        count = 0;
    if (count <= 0) {
        if (samplesSinceTrigger != 0)
            fireStoreTrigger();
        if (buffer->savePermCsv(data, 0, index) >= FrameBuffer::saveFailed)
            permLogFailed();
        return;
    }
    if (buffer->savePermCsv(data, count, index) >= FrameBuffer::saveFailed)
        permLogFailed();
    stats.block(count, index, buffer->frameLength());
    // A copy (no allocation): a plug-in may make its page leave the channel while it handles the data.
    const QList<ViewPage*> targets = pages;
    int remaining = count;
    while (remaining > 0) {
        const int rest = qMax(buffer->addData(data, remaining, index), 0);
        const int taken = remaining - rest;
        for (ViewPage* page : targets)
            if (GPlugin* head = page->getReceiver())
                head->setData(data, taken, index);
        samplesSinceTrigger += taken;
        index += taken;
        data += taken;
        remaining = rest;
        if (buffer->atFrameEnd())
            stats.frameEnded();
        // A frame that ends exactly with the block fires here too, so that a store of the next complete frame
        // does not wait for the next block.
        if ((rest != 0 || buffer->atFrameEnd()) && buffer->frameTrigger != 0 && samplesSinceTrigger != 0)
            fireStoreTrigger();
        if (stopped)
            return;
    }
}

void Channel::permLogFailed()
{
    const QString name = buffer->permLogName();
    buffer->startPermCsv(QString(), QByteArray());
    emit statusChanged(QStringLiteral("Failed to write continous output to ") + name, -1, 2);
}

void Channel::sendDataOdd(const int* data, int byteCount, int index)
{
    if (stopped)
        return;
    for (GPlugin* head : receivers())
        head->setDataOdd(data, byteCount, index);
}

void Channel::sendMetadata(int code, int value)
{
    try {
        if (!stopped)
            for (GPlugin* head : receivers())
                sendSingleMetadata(head, code, value);
        buffer->setMetaData(code, value);
    } catch (const OomError&) {
        outOfMemory();
    }
}

void Channel::sendSingleMetadata(GPlugin* plugin, int code, int value)
{
    if (!plugin)
        return;
    switch (code) {
    case 0x2001:
        plugin->setDataOrder(GPlugin::DataOrder(value));
        break;
    case 0x2002:
        plugin->setDataRangeX(value);
        break;
    case 0x2003:
        plugin->setDataRangeY(value);
        break;
    case 0x2004:
        plugin->setDataPhysX(value);
        break;
    case 0x2005:
        plugin->setDataPhysY(value);
        break;
    case 0x2006:
        plugin->setDataOffsetX(value);
        break;
    case 0x2007:
        plugin->setDataOffsetY(value);
        break;
    case 0x2008:
        plugin->setDataRotation(value);
        break;
    case 0x2009:
        // The value names a data group; a number below the group count without an entry sends nothing.
        if (value >= 0 && value < groups->size() && groups->contains(value))
            plugin->setDataTrigger(GPlugin::DataTrigger(groups->value(value).trigger));
        break;
    case 0x200A:
        plugin->setDataPhysVal(value);
        break;
    case 0x200C:
        plugin->setDataPhysValNumerator(value);
        break;
    case 0x2010:
        plugin->setDataEncoding(GPlugin::DataEncoding(value));
        break;
    case 0x2011:
        plugin->setDataBinning(value);
        break;
    case 0x2012:
        plugin->setDataUnitX(value);
        break;
    case 0x2013:
        plugin->setDataUnitVal(value);
        break;
    case 0x2014:
        plugin->setDataOffsetVal(value);
        break;
    case 0x2015:
        plugin->setFixXY(value != 0);
        break;
    case 0x2016:
        plugin->setDataScanSpeed(value);
        break;
    case 0x2017:
        plugin->setDataRangeZ(value);
        break;
    case 0x2018:
        plugin->setDataPhysZ(value);
        break;
    case 0x2019:
        plugin->setDataOffsetZ(value);
        break;
    case 0x2020:
        plugin->setDataUnitZ(value);
        break;
    case 0x2100:
        if (value != 0)
            plugin->init();
        break;
    default:
        break;
    }
}

void Channel::replayMetaData(GPlugin* plugin)
{
    // Copied: a plug-in's reaction must not invalidate the walk.
    const QMap<int, int> meta = buffer->metaData();
    for (auto it = meta.cbegin(); it != meta.cend(); ++it)
        sendSingleMetadata(plugin, it.key(), it.value());
}

void Channel::setDataGroup(int group)
{
    const auto it = groups->constFind(group);
    if (it == groups->constEnd())
        return;
    dataGroup = group;
    snapshotManager->setDataGroup(group);
    stopped = false;
    try {
        buffer->setActive(it->storeRaw && !it->disabled && !it->inactive);
    } catch (const OomError&) {
        outOfMemory();
    }
}

bool Channel::getEnabled() const
{
    const auto it = groups->constFind(dataGroup);
    return it != groups->constEnd() && !it->disabled && !it->inactive;
}

void Channel::addPage(ViewPage* page)
{
    if (!page || pages.contains(page))
        return;
    pages.append(page);
    if (stopped || !page->getReceiver())
        return;
    try {
        replayFrameInt(page->getReceiver());
    } catch (const OomError&) {
        outOfMemory();
    }
}

bool Channel::removePage(ViewPage* page)
{
    if (page)
        pendingReplay.removeAll(page->getReceiver());
    return pages.removeOne(page);
}

void Channel::removeAllPages()
{
    pages.clear();
    pendingReplay.clear();
}

void Channel::replayFrame(GPlugin* receiver)
{
    if (!receiver)
        return;
    if (!pendingReplay.contains(receiver))
        pendingReplay.append(receiver);
    QTimer::singleShot(0, this, [this] {
        try {
            replayFrameInt();
        } catch (const OomError&) {
            outOfMemory();
        }
    });
}

void Channel::replayFrameInt(GPlugin* receiver)
{
    if (receiver && !pendingReplay.contains(receiver))
        pendingReplay.append(receiver);
    // Taken first: a receiver may ask for another replay while this one runs.
    const QList<QPointer<GPlugin>> list = std::exchange(pendingReplay, {});
    for (const QPointer<GPlugin>& target : list) {
        if (!target)
            continue;
        stats.replayed();
        target->init();
        replayMetaData(target);
        int count = 0;
        qint64 position = 0;
        const int* words = buffer->getData(&count, &position);
        for (int done = 0; words && done < count && target; done += replayBlock)
            target->setData(words + done, qMin(replayBlock, count - done), int(position + done));
    }
}

QString Channel::getName() const
{
    const QString name = snapshotManager->getName();
    return name.isEmpty() ? snapshotManager->getGroupName() : name;
}

QByteArray Channel::latin1Title() const
{
    return getName().toLatin1();
}

bool Channel::ascMatrix() const
{
    return _prefs && _prefs->ascMatrix && *_prefs->ascMatrix;
}

void Channel::outOfMemory()
{
    stopped = true;
    try {
        buffer->setActive(false);
    } catch (const OomError&) {
    }
    emit statusChanged(
        QStringLiteral("Not enough memory available.\nStopped data channel %1 (#%2).").arg(getName()).arg(number), -1,
        2);
}

bool Channel::startLogging(QString fileName, QString* message)
{
    QString text;
    bool ok;
    if (fileName.isEmpty()) {
        ok = buffer->startPermCsv(QString(), QByteArray()) < FrameBuffer::saveFailed;
        text = QStringLiteral("Finished continous output");
    } else {
        // Claimed at once: the log appends, and must never continue somebody else's file.
        const QString full = SnapshotMgr::reserveFilename(fileName, QStringLiteral("csv"), QStringLiteral("log"));
        ok = !full.isEmpty() && buffer->startPermCsv(full, latin1Title()) < FrameBuffer::saveFailed;
        text = (ok ? QStringLiteral("Started continous output to ")
                   : QStringLiteral("Failed to start continous output to ")) +
               (full.isEmpty() ? fileName : full);
    }
    if (message)
        *message = text;
    return ok;
}

SnapshotBuffer* Channel::snapshotData(int)
{
    return new ChannelSnBuffer(*buffer, latin1Title(), ascMatrix());
}

void Channel::provokeFullTrigger()
{
    if (buffer->getFilled())
        fireStoreTrigger();
}

bool Channel::saveSnapshot(QString baseName, int formats, const SnapshotBuffer* copy, QString* message)
{
    const auto* snCopy = dynamic_cast<const ChannelSnBuffer*>(copy);
    const FrameBuffer& frame = snCopy ? snCopy->frame() : *buffer;
    const QByteArray title = snCopy ? snCopy->title() : latin1Title();
    const bool matrix = snCopy ? snCopy->ascMatrix() : ascMatrix();
    const int mode = frame.frameMode();
    int result = FrameBuffer::saveOk;
    QString lastName;
    bool wrote = false;
    // Each file name is claimed when it is chosen, so that concurrent stores never pick the same one.
    auto write = [&](const QString& ext, const QString& suffix, auto&& save) {
        if (result >= FrameBuffer::saveFailed)
            return;
        lastName = SnapshotMgr::reserveFilename(baseName, ext, suffix);
        result = lastName.isEmpty() ? int(FrameBuffer::saveFailed) : save(lastName);
        if (result >= FrameBuffer::saveFailed && !lastName.isEmpty())
            QFile::remove(lastName); // only our empty claim or nothing is there: the writer never replaces on failure
        wrote = true;
    };
    if (formats & SnapshotMgr::typeAsciiRaw) {
        if (mode == 1)
            write(QStringLiteral("csv"), QString(), [&](const QString& n) { return frame.saveLineCsv(n, title); });
        else if (mode == 2) {
            write(QStringLiteral("asc"), QStringLiteral("fwd"),
                  [&](const QString& n) { return frame.saveFrameAsc(n, title, true, matrix); });
            write(QStringLiteral("asc"), QStringLiteral("bwd"),
                  [&](const QString& n) { return frame.saveFrameAsc(n, title, false, matrix); });
        }
    }
    if ((formats & SnapshotMgr::typeBinaryRaw) && mode == 2) {
        write(QStringLiteral("bcrf"), QStringLiteral("fwd"),
              [&](const QString& n) { return frame.saveFrameBcr(n, title, true); });
        write(QStringLiteral("bcrf"), QStringLiteral("bwd"),
              [&](const QString& n) { return frame.saveFrameBcr(n, title, false); });
    }
    const bool ok = result < FrameBuffer::saveFailed;
    if (ok && wrote)
        stats.stored();
    // A line written as CSV together with a binary request that a line cannot satisfy reports nothing (on
    // success), and so does a request of types this frame has none of.
    const bool silent = (wrote && mode == 1 && (formats & SnapshotMgr::typeBinaryRaw)) ||
                        (!wrote && (formats & (SnapshotMgr::typeAsciiRaw | SnapshotMgr::typeBinaryRaw)));
    if (message) {
        message->clear();
        if (!silent || !ok) {
            if (ok)
                *message = QStringLiteral("Frame written to ") + lastName;
            else
                *message = QStringLiteral("Failed to write frame to ") + lastName +
                           (result == FrameBuffer::saveOom ? QStringLiteral(" - out of memory") : QString());
        }
    }
    return ok;
}

void Channel::postMessage(QString text, int displayTime, int severity)
{
    emit statusChanged(text, displayTime, severity);
}

void Channel::onSnapshotChange()
{
    for (ViewPage* page : pages)
        page->updateDisplay();
}
