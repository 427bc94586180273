#include "connection/viewmanager.h"

#include "connection/viewpage.h"
#include "utilif/iqtcp.h"

#include <QTimer>

// Interim bodies: dispatching follows once the channel class is in.

ViewManager::ViewManager(const GPlugin::PrefData* prefs, bool lossless, QObject* parent)
    : QObject(parent), lossless(lossless)
{
    if (prefs)
        GPlugin::setPrefs(prefs);
    tcp = new IQTcp(receiveBufferSize, this, "DataClient");
    statusTimer = new QTimer(this);
}

ViewManager::~ViewManager() = default;
void ViewManager::connectToServer(QString host, unsigned short port) { tcp->connectToHost(host, port); }
void ViewManager::connectToServer() {}
void ViewManager::setChannelCount(int, int, const QMap<int, DataGroup>&) {}
void ViewManager::addPage(ViewPage* page) { pages.append(page); }
void ViewManager::removePage(ViewPage* page) { pages.removeAll(page); }
bool ViewManager::sendTelegram(int, int, int, const int*) { return false; }
void ViewManager::setLosslessConnection(bool on) { lossless = on; }
void ViewManager::receiveAckTel(void*) {}
void ViewManager::stop() {}
void ViewManager::receive(char*, int) {}
void ViewManager::networkError() {}
void ViewManager::connected(bool) { activeFlag = true; }
void ViewManager::updateStatus() {}
void ViewManager::dataTimeout() {}
void ViewManager::selectPoint(Int32, Int32, Int32) {}
void ViewManager::selectRange(QRect, GPlugin::DataTrigger) {}
void ViewManager::selectAngle(Int32) {}
void ViewManager::selectPath(PathList, GPlugin::DataTrigger) {}
void ViewManager::selectGrid(PathList, Int32, Int32, GPlugin::DataTrigger) {}
void ViewManager::sendGenericTel(void*) {}
void ViewManager::applyConfig(int, int, int) {}
void ViewManager::sendPathPoints(const PathList&) {}
void ViewManager::refreshChannelLists() {}
