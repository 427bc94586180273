#include "connection/channel.h"

#include "connection/viewpage.h"
#include "framework/streamformat.h"
#include "snapshot/snapshotmgr.h"
#include "utilif/error.h"
#include "utilif/framebuffer.h"

#include <QDir>
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
    if (code == StreamFormat::metaInit) {
        if (value != 0)
            plugin->init();
        return;
    }
    StreamFormat::Property p;
    if (!StreamFormat::fromMetaCode(code, &p))
        return;
    if (p == StreamFormat::Trigger) {
        // The value names a data group; a number below the group count without an entry sends nothing.
        if (value >= 0 && value < groups->size() && groups->contains(value))
            plugin->setDataTrigger(GPlugin::DataTrigger(groups->value(value).trigger));
        return;
    }
    StreamFormat::deliver(plugin, p, value);
}

void Channel::replayMetaData(GPlugin* plugin)
{
    // Copied: a plug-in's reaction must not invalidate the walk. Ascending code order, the init code last.
    const StreamFormat meta = buffer->format();
    const int init = buffer->getInit();
    const bool hasInit = buffer->hasInit();
    for (StreamFormat::Property p : StreamFormat::codeOrder())
        if (meta.isSet(p))
            sendSingleMetadata(plugin, StreamFormat::info(p).metaCode, meta.value(p));
    if (hasInit)
        sendSingleMetadata(plugin, StreamFormat::metaInit, init);
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
        const QString name = buffer->permLogName();
        ok = buffer->startPermCsv(QString(), QByteArray()) < FrameBuffer::saveFailed;
        text = ok ? QStringLiteral("Finished continous output")
                  : QStringLiteral("Failed to write continous output to ") + name;
    } else {
        // Created at once, exclusively: the log appends, and must never continue somebody else's file.
        const QString full = SnapshotMgr::reserveFilename(fileName, QStringLiteral("csv"), QStringLiteral("log"));
        QFile created(full);
        ok = !full.isEmpty() && created.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        created.close();
        ok = ok && buffer->startPermCsv(full, latin1Title()) < FrameBuffer::saveFailed;
        SnapshotMgr::releaseFilename(full);
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
    // Each file name is claimed when it is chosen, so that concurrent stores never pick the same one. A writer
    // that fails leaves no file behind.
    auto write = [&](const QString& ext, const QString& suffix, auto&& save) {
        if (result >= FrameBuffer::saveFailed)
            return;
        lastName = SnapshotMgr::reserveFilename(baseName, ext, suffix);
        if (lastName.isEmpty()) {
            // Every numbered name is taken: the message names the plain one.
            result = FrameBuffer::saveFailed;
            lastName = QDir::toNativeSeparators(baseName + (suffix.isEmpty() ? QString() : QLatin1Char('-') + suffix) +
                                                QLatin1Char('.') + ext);
        } else {
            result = save(lastName);
            SnapshotMgr::releaseFilename(lastName);
        }
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
