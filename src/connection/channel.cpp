#include "connection/channel.h"

#include "snapshot/snapshotmgr.h"
#include "utilif/framebuffer.h"

const GPlugin::PrefData* Channel::_prefs = &GPlugin::dfltPrefs;

ChannelSnBuffer::ChannelSnBuffer(const FrameBuffer& source) : buffer(new FrameBuffer(source, source.frameMode() >= 2)) {}

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
    delete snapshotManager;
    delete buffer;
}

void Channel::sendData(const int*, int, int) {}
void Channel::sendDataOdd(const int*, int, int) {}
void Channel::sendMetadata(int, int) {}
void Channel::sendSingleMetadata(GPlugin*, int, int) {}
void Channel::replayMetaData(GPlugin*) {}
void Channel::setDataGroup(int) {}
bool Channel::getEnabled() const { return false; }
void Channel::addPage(ViewPage*) {}
bool Channel::removePage(ViewPage*) { return false; }
void Channel::removeAllPages() {}
QString Channel::getName() const
{
    const QString name = snapshotManager->getName();
    return name.isEmpty() ? snapshotManager->getGroupName() : name;
}
SnapshotBuffer* Channel::snapshotData(int) { return nullptr; }
bool Channel::saveSnapshot(QString, int, const SnapshotBuffer*, QString*) { return false; }
void Channel::provokeFullTrigger() {}
bool Channel::startLogging(QString, QString*) { return false; }
void Channel::postMessage(QString text, int displayTime, int severity) { emit statusChanged(text, displayTime, severity); }
void Channel::onSnapshotChange() {}
void Channel::replayFrame(GPlugin*) {}
void Channel::replayFrameInt(GPlugin*) {}
QList<GPlugin*> Channel::receivers() const { return {}; }
void Channel::fireStoreTrigger() {}
void Channel::outOfMemory() {}
QString Channel::latin1Title() const { return {}; }
