#include "connection/viewmanager.h"

#include "connection/channel.h"
#include "connection/telegram.h"
#include "connection/viewpage.h"
#include "framework/logging.h"
#include "snapshot/viewrecipe.h"
#include "utilif/ithread.h"
#include "utilif/iqtcp.h"

#include <QTimer>
#include <cstdint>
#include <cstring>
#include <cstdlib>

using namespace Telegram;

namespace {
constexpr int statusPeriodMs = 200;
constexpr int stopWaitMs = 20;
constexpr int stopWaitCount = 50;
// A generic telegram from a plug-in beyond this size is taken as corrupt rather than read past its end.
constexpr quint32 maxGenericTelegram = 1 << 20;

// Integer division truncating toward zero, of a sum that may not fit 32 bits.
qint32 half(qint64 a, qint64 b)
{
    return qint32((a + b) / 2);
}
} // namespace

ViewManager::ViewManager(const GPlugin::PrefData* prefs, bool lossless, QObject* parent)
    : QObject(parent), lossless(lossless)
{
    registerOrvikMetaTypes();
    if (prefs) {
        GPlugin::setPrefs(prefs);
        Channel::_prefs = prefs;
    }
    tcp = new IQTcp(receiveBufferSize, this, "DataClient");
    connect(tcp, SIGNAL(dataReceived(char*,int)), this, SLOT(receive(char*,int)));
    connect(tcp, SIGNAL(error()), this, SLOT(networkError()));
    connect(tcp, SIGNAL(connected(bool)), this, SLOT(connected(bool)));
    connect(tcp, &IQTcp::protocolError, this, &ViewManager::protocolError);
    statusTimer = new QTimer(this);
    connect(statusTimer, &QTimer::timeout, this, &ViewManager::updateStatus);
    statusTimer->start(statusPeriodMs);
}

ViewManager::~ViewManager()
{
    stop();
}

void ViewManager::connectToServer(QString host, unsigned short port)
{
    stopping = false;
    tcp->connectToHost(host, port);
}

void ViewManager::connectToServer()
{
    const int flag = lossless ? 1 : 0;
    const int start = -1;
    sendTelegram(KindControl, CtlLossless, 0, &flag);
    sendTelegram(KindControl, CtlStart, 0, &start);
    for (int n = 0; n < channelCount - unsubscribedCount; ++n) {
        sendTelegram(KindControl, CtlSubscribe, 0, &n);
        for (int code : {int(CfgGroup), int(CfgSignal), int(CfgPeriod), int(CfgExtra)})
            sendTelegram(KindRead, code, n, nullptr);
    }
}

void ViewManager::setChannelCount(int count, int unsubscribed, const QMap<int, DataGroup>& groups)
{
    bool added = false;
    while (channels.size() < count) {
        const int n = channels.size();
        auto* channel = new Channel(n, this, groups);
        connect(channel, SIGNAL(statusChanged(QString,int,int)), this, SIGNAL(statusChanged(QString,int,int)));
        channels.append(channel);
        sendTelegram(KindControl, CtlSubscribe, 0, &n);
        added = true;
    }
    if (added)
        refreshChannelLists();
    channelCount = channels.size();
    unsubscribedCount = unsubscribed;
}

void ViewManager::addPage(ViewPage* page)
{
    if (!page || pages.contains(page))
        return;
    const int n = page->getChannelNo();
    if (n >= 0 && n < channelCount)
        channels[n]->addPage(page);
    pages.append(page);
    page->setChannelList(channels);
    connect(page, SIGNAL(rangeSelected(QRect,GPlugin::DataTrigger)), this,
            SLOT(selectRange(QRect,GPlugin::DataTrigger)));
    connect(page, SIGNAL(pointSelected(Int32,Int32,Int32)), this, SLOT(selectPoint(Int32,Int32,Int32)));
    connect(page, SIGNAL(pathSelected(PathList,GPlugin::DataTrigger)), this,
            SLOT(selectPath(PathList,GPlugin::DataTrigger)));
    connect(page, SIGNAL(angleSelected(Int32)), this, SLOT(selectAngle(Int32)));
    connect(page, SIGNAL(gridSelected(PathList,Int32,Int32,GPlugin::DataTrigger)), this,
            SLOT(selectGrid(PathList,Int32,Int32,GPlugin::DataTrigger)));
    connect(page, SIGNAL(genericTel(void*)), this, SLOT(sendGenericTel(void*)));
    // A page deleted without removePage must not stay in the list (the page leaves its channel itself).
    connect(page, &QObject::destroyed, this, [this, page]() { pages.removeAll(page); });
}

void ViewManager::removePage(ViewPage* page)
{
    if (!page)
        return;
    pages.removeAll(page);
    QObject::disconnect(page, nullptr, this, nullptr);
    const int n = page->getChannelNo();
    if (n >= 0 && n < channelCount)
        channels[n]->removePage(page);
}

bool ViewManager::sendTelegram(int kind, int address, int index, const int* value)
{
    const QByteArray t = make(kind, address, index, value);
    return tcp->writeBlock(t.constData(), t.size());
}

void ViewManager::setLosslessConnection(bool on)
{
    lossless = on;
    if (tcp->state() == IQTcp::Connected) {
        const int flag = on ? 1 : 0;
        sendTelegram(KindControl, CtlLossless, 0, &flag);
    }
}

void ViewManager::receiveAckTel(void* tel)
{
    if (!tel)
        return;
    const char* t = static_cast<const char*>(tel);
    if (qFromLittleEndian<quint32>(t) < quint32(ReplyOffset))
        return; // too short to carry its reply value
    applyConfig(word(t, 2), word(t, 3), word(t, 6));
}

void ViewManager::applyConfig(int address, int channel, int value)
{
    if (channel < 0 || channel >= channels.size())
        return;
    Channel* c = channels[channel];
    bool changed = false;
    switch (address) {
    case CfgSignal:
        changed = c->getSignalNumber() != value;
        c->setSignalNumber(value);
        break;
    case CfgPeriod:
        changed = c->getPeriod() != value;
        c->setPeriod(value);
        break;
    case CfgExtra:
        c->setExtraProperty(value);
        break;
    case CfgGroup:
        changed = c->getDataGroup() != value;
        c->setDataGroup(value);
        break;
    default:
        return;
    }
    if (changed)
        refreshChannelLists();
}

void ViewManager::refreshChannelLists()
{
    const QList<ViewPage*> list = pages;
    for (ViewPage* page : list)
        page->setChannelList(channels);
}

void ViewManager::receive(char* buf, int length)
{
    if (!buf || length <= 0)
        return;
    const quint32 channelLimit = quint32(channels.size());
    int pos = 0;
    while (length - pos >= LengthBytes) {
        const char* t = buf + pos;
        const quint32 size = qFromLittleEndian<quint32>(t);
        if (size < quint32(HeaderBytes) || size > quint32(length - pos - LengthBytes))
            break; // a broken or incomplete telegram ends the buffer
        const qint32 kind = word(t, 1);
        const qint32 address = word(t, 2);
        const qint32 index = word(t, 3);
        const quint32 dataChannel = quint32(address) - quint32(DataBase);
        if (dataChannel < channelLimit) {
            const int bytes = int(size) - HeaderBytes;
            const char* data = t + ValueOffset;
            const int* words = reinterpret_cast<const int*>(data);
            const bool aligned = (reinterpret_cast<std::uintptr_t>(data) % alignof(int)) == 0;
            if (!aligned || bytes % 4 != 0 || Q_BYTE_ORDER != Q_LITTLE_ENDIAN) {
                // Plug-ins read whole aligned words: copy (and pad an odd tail with zeros).
                const int count = (bytes + 3) / 4;
                alignedScratch.resize(count);
                if (count > 0) {
                    alignedScratch[count - 1] = 0;
                    std::memcpy(alignedScratch.data(), data, size_t(bytes));
                }
                if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN) {
                    for (int& w : alignedScratch)
                        w = qFromLittleEndian<qint32>(&w);
                }
                words = alignedScratch.constData();
            }
            if (bytes % 4 == 0)
                channels[int(dataChannel)]->sendData(words, bytes / 4, index);
            else
                channels[int(dataChannel)]->sendDataOdd(words, bytes, index);
            activeFlag = true;
        } else if (quint32(address) - quint32(MetaFirst) <= quint32(MetaInit - MetaFirst)) {
            // A metadata telegram without its value word carries nothing to apply.
            if (size >= quint32(HeaderBytes + 4) && index >= 0 && index < channels.size())
                channels[index]->sendMetadata(address, word(t, 5));
        } else if (kind == KindReply) {
            if (size >= quint32(ReplyOffset))
                applyConfig(address, index, word(t, 6));
        }
        pos += int(size) + LengthBytes;
    }
}

void ViewManager::networkError()
{
}

void ViewManager::connected(bool up)
{
    activeFlag = true;
    const QString where = QStringLiteral("%1:%2").arg(tcp->host()).arg(tcp->port());
    if (up) {
        ViewRecipe::setServer(where);
        connectToServer();
        emit statusChanged(tr("Connected to data server %1").arg(where), -1, 0);
    } else if (!stopping) {
        emit statusChanged(tr("Connection to data server %1 lost, reconnecting").arg(where), -1, 2);
    }
}

void ViewManager::protocolError(const QString& what)
{
    // The connection is already closed and its reconnection scheduled; the host hears why and how often.
    ++protocolErrorCount;
    const QString where = QStringLiteral("%1:%2").arg(tcp->host()).arg(tcp->port());
    emit statusChanged(tr("Protocol error from data server %1: %2; the connection was closed, reconnecting")
                           .arg(where, what),
                       -1, 2);
    emit protocolErrors(protocolErrorCount);
}

void ViewManager::updateStatus()
{
    if (activeFlag != activeState) {
        activeState = activeFlag;
        emit receiving(activeState);
    }
    activeFlag = false;
    const bool over = tcp->getAndClearOverload();
    if (over != overloadState) {
        overloadState = over;
        emit overload(over);
    }
}

void ViewManager::dataTimeout()
{
    emit receiving(false);
    emit overload(false);
    overloadState = false;
}

void ViewManager::stop()
{
    stopping = true;
    const int value = -1;
    sendTelegram(KindControl, CtlStop, 0, &value);
    for (Channel* c : qAsConst(channels))
        c->removeAllPages();
    pages.clear();
    tcp->disconnect();
    for (int n = 0; n < stopWaitCount && tcp->state() != IQTcp::Closed; ++n)
        IThread::sleep(stopWaitMs);
}

void ViewManager::selectPoint(Int32 point, Int32 targetAddr, Int32 targetIdx)
{
    if (targetAddr >= 1 && targetIdx >= 0)
        sendTelegram(KindSelection, targetAddr, targetIdx, &point);
}

void ViewManager::selectAngle(Int32 angle)
{
    sendTelegram(KindSelection, SelAngle, 0, &angle);
}

void ViewManager::selectRange(QRect range, GPlugin::DataTrigger origin)
{
    const qint64 x1 = range.left(), y1 = range.top(), x2 = range.right(), y2 = range.bottom();
    // Sizes are divided as unsigned numbers, as the server reads them.
    const quint32 width = quint32(x2 - x1 + 1);
    const quint32 height = quint32(y2 - y1 + 1);
    auto send = [this](int address, int index, qint32 value) {
        sendTelegram(KindSelection, address, index, &value);
    };
    switch (int(origin)) {
    case GPlugin::scanner:
        if (y1 <= y2 && x1 <= x2) {
            send(SelWidth, 0, qint32(width / 10));
            send(SelHeight, 0, qint32(height / 10));
            send(SelCentreX, 0, half(x1, x2) / 10);
            send(SelCentreY, 0, half(y1, y2) / 10);
        } else if (x2 > x1) {
            send(SelWidth, 0, qint32(width / 10));
            send(SelCentreLine, 0, half(x1, x2) / 10);
        }
        break;
    case GPlugin::spec0:
    case GPlugin::spec1:
    case GPlugin::spec2:
    case GPlugin::spec3:
        if (x2 > x1) {
            send(SelSpecStart, int(origin) - GPlugin::spec0, qint32(x1));
            send(SelSpecEnd, int(origin) - GPlugin::spec0, qint32(x2));
        }
        break;
    case 9: {
        const qint64 dx = half(x1, x2) - qint64(qint32(width)) / 2;
        const qint64 dy = half(y1, y2) - qint64(qint32(height)) / 2;
        if (dx != 0)
            send(dx > 0 ? SelOffsetPos : SelOffsetNeg, 0, qint32(std::llabs(dx)));
        if (dy != 0)
            send(dy > 0 ? SelOffsetPos : SelOffsetNeg, 1, qint32(std::llabs(dy)));
        break;
    }
    default:
        break;
    }
}

void ViewManager::sendPathPoints(const PathList& path)
{
    for (int k = 0; k < path.size(); ++k) {
        const qint32 x = path[k].x() / 10;
        const qint32 y = path[k].y() / 10;
        sendTelegram(KindSelection, SelPointX, k, &x);
        sendTelegram(KindSelection, SelPointY, k, &y);
    }
}

void ViewManager::selectPath(PathList path, GPlugin::DataTrigger origin)
{
    if (origin != GPlugin::scanner)
        return;
    const qint32 one = 1;
    sendTelegram(KindSelection, SelPathStart, 0, &one);
    sendPathPoints(path);
    const qint32 count = path.size();
    sendTelegram(KindSelection, SelPathEnd, 0, &count);
}

void ViewManager::selectGrid(PathList rect, Int32 pointsX, Int32 pointsY, GPlugin::DataTrigger origin)
{
    if (origin != GPlugin::scanner || rect.size() != 3)
        return;
    const qint32 one = 1;
    const qint32 end = -1;
    sendTelegram(KindSelection, SelPathStart, 0, &one);
    sendPathPoints(rect);
    sendTelegram(KindSelection, SelGridX, 0, &pointsX);
    sendTelegram(KindSelection, SelGridY, 0, &pointsY);
    sendTelegram(KindSelection, SelPathEnd, 0, &end);
}

void ViewManager::sendGenericTel(void* tel)
{
    if (!tel)
        return;
    const char* t = static_cast<const char*>(tel);
    const quint32 length = qFromLittleEndian<quint32>(t);
    if (length > maxGenericTelegram) {
        qCWarning(lcConnection) << "generic telegram of" << length << "bytes not sent";
        return;
    }
    tcp->writeBlock(t, int(length) + LengthBytes);
}
