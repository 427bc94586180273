#include "connection/viewpage.h"

#include <QCloseEvent>

// Interim bodies: the page's behaviour follows once the channel and snapshot classes are in.

ViewPage::ViewPage(QWidget* parent, QString name, const QMap<int, DataGroup>& groups, bool leftAligned)
    : QFrame(parent), groups(&groups),
      channelSetting(this, QStringLiteral("ChannelNumber"), name, true, SLOT(changeSetting(QString,QString)), nullptr),
      pageName(name)
{
    Q_UNUSED(leftAligned);
    channelSetting.setValue(-1);
}

ViewPage::~ViewPage()
{
    emit closing();
    delete receiver;
}

QList<const GPlugin::PluginDescriptor*>* ViewPage::getPluginTypes() { return GPlugin::_typeList; }
GPlugin* ViewPage::addPlugin(QString, QString, QStringList, QStringList) { return nullptr; }
void ViewPage::addReceiver(GPlugin* plugin)
{
    if (!receiver) {
        receiver = plugin;
        return;
    }
    GPlugin* last = receiver;
    while (last->getSuccessor())
        last = last->getSuccessor();
    last->setSuccessor(plugin);
}
QStringList ViewPage::getPlugins() const { return {}; }
int ViewPage::getStretch() const { return 0; }
int ViewPage::getChannelNo() const
{
    bool ok = false;
    const int n = channelSetting.toInt(&ok);
    return ok ? n : -1;
}
void ViewPage::setChannelList(const QVector<Channel*>& channels) { channelList = channels; }
void ViewPage::setChannelNo(int) {}
void ViewPage::setDataGroup(int group) { pageGroup = group; }
void ViewPage::setSelectMode(ViewPage::ChannelSelectMode mode) { selectMode = mode; }
void ViewPage::showSnapshotButtons(bool show) { snapshotButtonsShown = show; }
void ViewPage::showChannelControls(bool, bool, bool) {}
void ViewPage::setChannelControlWidgets(QWidget*, QWidget*, QWidget*) {}
Channel* ViewPage::findChannelObject(int n) const { return n >= 0 && n < channelList.size() ? channelList[n] : nullptr; }
const DataGroup* ViewPage::findDataGroup(bool) const { return nullptr; }
ViewPage::ChannelSelectMode ViewPage::getEffectiveSelectMode() const { return selectMode; }
QString ViewPage::makeChannelDescr(const Channel*) const { return {}; }
QString ViewPage::buildChannelDescriptor(const DataGroup*, int, QString channelName, int, int, QString)
{
    return channelName;
}
void ViewPage::updateSnapshotMgrs() {}
void ViewPage::rebuildCombobox() {}
void ViewPage::setSignalList(QString list) { signalList = list; }
void ViewPage::updateDisplay() {}
void ViewPage::replayLastFrame() {}
void ViewPage::changeChannel(bool) {}
void ViewPage::changeSetting(QString, QString) {}
void ViewPage::channelDialog() {}
void ViewPage::closeEvent(QCloseEvent* event)
{
    emit closing();
    QObject::disconnect(this, SIGNAL(closing()), nullptr, nullptr);
    event->accept();
}
void ViewPage::moveToChannel(int) {}
void ViewPage::leaveChannel() {}
Channel* ViewPage::currentChannel() const { return findChannelObject(getChannelNo()); }
int ViewPage::channelGroupNumber(const Channel*) const { return -1; }
bool ViewPage::groupUsable(const DataGroup*) const { return false; }
